#include "framework/WriteFault.h"

#include <atomic>
#include <mutex>

namespace {
std::mutex g_mutex;
std::optional<WriteFault> g_fault;
}  // namespace

std::atomic<bool> WriteFaultDetail::armed{false};

void SetWriteFault(std::optional<WriteFault> fault)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_fault = std::move(fault);
    WriteFaultDetail::armed = g_fault.has_value();
}

int TakeWriteFault(const CString& path, ULONGLONG pos, UINT count, UINT& allowed)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_fault || path.str().find(g_fault->pathPart) == std::string::npos) return 0;
    const ULONGLONG at = g_fault->offset;
    if (pos + count <= at || (g_fault->once && pos > at)) return 0;
    allowed = pos < at ? static_cast<UINT>(at - pos) : 0;
    const int error = g_fault->error;
    if (g_fault->once) {
        g_fault.reset();
        WriteFaultDetail::armed = false;
    }
    return error;
}

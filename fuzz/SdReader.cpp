// Reads arbitrary bytes as an SD-card dump: the header reader, the packet index, the
// single conversion over the index and the batch's sequential reading, each as the
// library runs them. No input may crash, hang or change the dump; every indexed packet
// has a valid header and lies inside the dump, the offsets increase, and a conversion's
// log holds no more records than the dump has indexed (or sequential) packets.
#include <cstdlib>
#include <filesystem>
#include <list>

#include "convert/DiagLogHeaderReader.h"
#include "convert/LogFileConverter.h"
#include "convert/SdLog.h"
#include "framework/Archive.h"
#include "framework/File.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzInstallServices();
    return 0;
}

namespace {

void CheckIndex(const uint8_t* data, size_t size)
{
    std::vector<uint32_t> offsets;
    SdLog::BuildPacketIndex(data, size, SdLog::IndexLimits{}, offsets);
    uint64_t end = SdLog::kFirstPacket;
    for (const uint32_t offset : offsets) {
        if (offset < end || uint64_t{offset} + SdLog::kMinPacketLength > size) std::abort();
        if (!SdLog::IsValidPacketHeader(data, offset, SdLog::IndexLimits{})) std::abort();
        end = offset + uint64_t{LoadLittleEndian<uint16_t>(data + offset)};
        if (end > size) std::abort();
    }
    const auto stretches = SdLog::SkippedStretches(data, size, offsets);
    for (const auto& s : stretches)
        if (s.offset + s.length > size) std::abort();
}

void CheckHeader(const std::string& path)
{
    CFile file(path.c_str(), CFile::modeRead | CFile::shareDenyNone);
    CDiagLogHeaderReader header;
    try {
        CArchive ar(&file, CArchive::load);
        header.Serialize(ar);
        ar.Close();
        if (file.GetPosition() != 28) std::abort();
    } catch (const CException&) {
        if (file.GetLength() >= 28) std::abort();
    }
}

void Convert(const std::string& path, size_t size)
{
    const std::string out = FuzzScratchDir() + "/out.vkl";
    std::filesystem::remove(out);
    {
        CLogFileConverter conv(nullptr);
        if (conv.ConvertSDLogToVkl(path.c_str(), out.c_str()))
            while (conv.IsConverting()) conv.m_evDone.Wait(1000);
        if (conv.GetState().m_sdSummary.packets > conv.m_packetOffsets.size()) std::abort();
    }
    std::filesystem::remove(out);
    std::filesystem::remove_all(FuzzScratchDir() + "/Temp");
    std::list<CString> inputs{CString(path.c_str())}, outputs;
    CLogFileConverter conv(nullptr);
    conv.ConvertSDLogsToVkl(inputs, outputs, nullptr);
    if (conv.GetState().m_sdSummary.packets > size / SdLog::kPacketHeaderSize) std::abort();
    std::filesystem::remove_all(FuzzScratchDir() + "/Temp");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = FuzzWriteFile(data, size);
    CheckIndex(data, size);
    CheckHeader(path);
    Convert(path, size);
    if (FuzzReadFile(path) != std::vector<uint8_t>(data, data + size)) std::abort();
    return 0;
}

#include "framework/Module.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace {
std::mutex g_mutex;
std::vector<HINSTANCE>& Chain()
{
    static std::vector<HINSTANCE> chain;
    return chain;
}
thread_local HINSTANCE t_resourceHandle = nullptr;
}  // namespace

bool AfxInitExtensionModule(AFX_EXTENSION_MODULE& state, HINSTANCE hModule)
{
    if (!hModule) return false;
    state.hModule = hModule;
    state.bInitialized = true;
    return true;
}

void AfxTermExtensionModule(AFX_EXTENSION_MODULE& state)
{
    state.bInitialized = false;
}

CDynLinkLibrary::CDynLinkLibrary(const AFX_EXTENSION_MODULE& state) : m_hModule(state.hModule)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    Chain().push_back(m_hModule);
}

CDynLinkLibrary::~CDynLinkLibrary()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    auto& chain = Chain();
    chain.erase(std::remove(chain.begin(), chain.end(), m_hModule), chain.end());
}

CModuleOutOfChain::CModuleOutOfChain(HINSTANCE module) : m_module(module)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    auto& chain = Chain();
    const auto it = std::find(chain.begin(), chain.end(), module);
    if (it == chain.end()) return;
    m_bWasIn = true;
    m_nPlace = static_cast<size_t>(it - chain.begin());
    chain.erase(it);
}

CModuleOutOfChain::~CModuleOutOfChain()
{
    if (!m_bWasIn) return;
    std::lock_guard<std::mutex> lock(g_mutex);
    auto& chain = Chain();
    chain.insert(chain.begin() + static_cast<std::ptrdiff_t>(std::min(m_nPlace, chain.size())), m_module);
}

HINSTANCE GetModuleHandle(const char* name)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    for (HINSTANCE m : Chain())
        if (m && m->name.CompareNoCase(name) == 0) return m;
    return nullptr;
}

bool IsInResourceChain(HINSTANCE module)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    const auto& chain = Chain();
    return std::find(chain.begin(), chain.end(), module) != chain.end();
}

std::vector<HINSTANCE> GetResourceChain()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return Chain();
}

HINSTANCE AfxGetResourceHandle()
{
    return t_resourceHandle;
}

void AfxSetResourceHandle(HINSTANCE module)
{
    t_resourceHandle = module;
}

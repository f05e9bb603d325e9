#pragma once
// Modules and the resource chain: the current resource handle, set and restored around
// a module's dialogs, and the lookup of a loaded module by its file name.
#include <vector>

#include "framework/String.h"

class CResourceTable;
struct ModuleInfo;
using HINSTANCE = const ModuleInfo*;

struct ModuleInfo {
    CString name;                                // file name, as "Logger.dll"
    const CResourceTable* pResources = nullptr;  // its resources (framework/Resources.h), if any
};

// An extension module's set-up, as a module does it when it is loaded.
struct AFX_EXTENSION_MODULE {
    bool bInitialized = false;
    HINSTANCE hModule = nullptr;
};
bool AfxInitExtensionModule(AFX_EXTENSION_MODULE& state, HINSTANCE hModule);
void AfxTermExtensionModule(AFX_EXTENSION_MODULE& state);

// Puts a module into the resource chain for as long as the object lives.
class CDynLinkLibrary {
public:
    explicit CDynLinkLibrary(const AFX_EXTENSION_MODULE& state);
    ~CDynLinkLibrary();
    CDynLinkLibrary(const CDynLinkLibrary&) = delete;
    CDynLinkLibrary& operator=(const CDynLinkLibrary&) = delete;
    HINSTANCE GetModule() const { return m_hModule; }

private:
    HINSTANCE m_hModule;
};

// Takes a module out of the resource chain while the object lives, and puts it back at
// its place afterwards: a host that withdraws a module's resources for a while, and the
// tests of a module that cannot be found.
class CModuleOutOfChain {
public:
    explicit CModuleOutOfChain(HINSTANCE module);
    ~CModuleOutOfChain();
    CModuleOutOfChain(const CModuleOutOfChain&) = delete;
    CModuleOutOfChain& operator=(const CModuleOutOfChain&) = delete;

private:
    HINSTANCE m_module;
    size_t m_nPlace = 0;
    bool m_bWasIn = false;
};

// The module in the chain with this file name (case-insensitive), or null.
HINSTANCE GetModuleHandle(const char* name);
bool IsInResourceChain(HINSTANCE module);
// The modules in the chain, in the order they joined it.
std::vector<HINSTANCE> GetResourceChain();
HINSTANCE AfxGetResourceHandle();
void AfxSetResourceHandle(HINSTANCE module);

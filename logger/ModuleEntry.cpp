// The module's load and unload: its place in the framework's resource chain.
#include <memory>

#include "framework/Module.h"

namespace {
const ModuleInfo g_module{"Logger.dll"};

struct ModuleEntry {
    AFX_EXTENSION_MODULE state;
    std::unique_ptr<CDynLinkLibrary> library;
    ModuleEntry()
    {
        if (AfxInitExtensionModule(state, &g_module)) library = std::make_unique<CDynLinkLibrary>(state);
    }
    ~ModuleEntry()
    {
        library.reset();
        AfxTermExtensionModule(state);
    }
};
ModuleEntry g_entry;
}  // namespace

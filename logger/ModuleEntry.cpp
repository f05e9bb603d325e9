// The module's load and unload: its place in the framework's resource chain, with the
// module's own resources (dialog and menu templates) registered under its name.
#include <memory>

#include "framework/Exceptions.h"
#include "framework/Module.h"
#include "resources/ModuleResources.h"

namespace {
ModuleInfo g_module{"Logger.dll"};

struct ModuleEntry {
    AFX_EXTENSION_MODULE state;
    std::unique_ptr<CDynLinkLibrary> library;
    ModuleEntry()
    {
        try {
            g_module.pResources = &ModuleResources();
        } catch (const CException&) {
            // Compiled resources that cannot be read: the module joins the chain without
            // them, and a dialog that needs one reports the missing template.
        }
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

#pragma once
// UseModuleResources: this module's resources are the framework's current resources
// while the object lives. Made before the module creates any of its dialogs, so their
// templates come from this module whatever the host's current resources are:
//
//   {
//       UseModuleResources resources;   // the caller's file and line come by themselves
//       dlg.DoModal();
//   }                                    // the previous resource handle is back
//
// The module is found in the resource chain by its file name, "Logger.dll". When it is
// not there, the user is told once (naming the caller's source file and line) and the
// caller goes on with whatever resources are current; nothing is put back then.
#include "framework/Module.h"

class UseModuleResources {
public:
    // The defaults are the caller's source file and line.
    explicit UseModuleResources(const char* file = __builtin_FILE(), int line = __builtin_LINE());
    ~UseModuleResources();
    UseModuleResources(const UseModuleResources&) = delete;
    UseModuleResources& operator=(const UseModuleResources&) = delete;

    bool Found() const { return m_bRemembered; }

private:
    HINSTANCE m_previous = nullptr;
    bool m_bRemembered = false;
};

#pragma once
// The module's own resources: resources/Logger.rc, compiled to the binary resource format
// at build time and carried in the library as bytes. The module entry registers the
// table with the resource chain under the module's name, so that dialogs and the host
// find the templates as they find those of any module.
#include <cstddef>

#include "framework/Resources.h"

// The compiled resources, as the resource compiler wrote them.
const BYTE* CompiledResources(size_t& size);
// The table read from them (read once); throws CResourceException if they are malformed.
const CResourceTable& ModuleResources();

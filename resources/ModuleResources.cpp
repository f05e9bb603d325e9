#include "resources/ModuleResources.h"

// Written at build time from Logger.res (resources/Resources.cmake).
extern const unsigned char g_abLoggerRes[];
extern const size_t g_nLoggerRes;

const BYTE* CompiledResources(size_t& size)
{
    size = g_nLoggerRes;
    return g_abLoggerRes;
}

const CResourceTable& ModuleResources()
{
    static const CResourceTable table = CResourceTable::FromResFile(g_abLoggerRes, g_nLoggerRes);
    return table;
}

#include "convert/UseModuleResources.h"

#include <cerrno>
#include <cstring>

#include "convert/ConvertTexts.h"
#include "framework/MessageBox.h"

UseModuleResources::UseModuleResources(const char* file, int line)
{
    if (const HINSTANCE module = GetModuleHandle(ConvertTexts::kModuleName)) {
        m_previous = AfxGetResourceHandle();
        m_bRemembered = true;
        AfxSetResourceHandle(module);
        return;
    }
    // The system's text for a module that is not loaded.
    CString text;
    text.Format(ConvertTexts::kResourceSwitchFailed, std::strerror(ENOENT), ConvertTexts::kModuleName, file, line);
    AfxMessageBox(text, ConvertTexts::kResourceSwitchTitle, MB_OK | MB_ICONSTOP);
}

UseModuleResources::~UseModuleResources()
{
    if (m_bRemembered) AfxSetResourceHandle(m_previous);
}

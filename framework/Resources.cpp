#include "framework/Resources.h"

#include "framework/ResourceBytes.h"

CString CResourceName::ToString() const
{
    if (!m_bOrdinal) return m_strName;
    CString s;
    s.Format("#%u", static_cast<unsigned>(m_nOrdinal));
    return s;
}

bool operator==(const CResourceName& a, const CResourceName& b)
{
    if (a.m_bOrdinal != b.m_bOrdinal) return false;
    return a.m_bOrdinal ? a.m_nOrdinal == b.m_nOrdinal : a.m_strName.CompareNoCase(b.m_strName) == 0;
}

void CResourceTable::Add(ResourceEntry entry)
{
    if (Find(entry.type, entry.name, entry.wLanguage)) {
        CString text;
        text.Format("resource %s of type %s, language 0x%04X, is there twice", entry.name.ToString().c_str(),
                    entry.type.ToString().c_str(), static_cast<unsigned>(entry.wLanguage));
        throw CResourceException(text);
    }
    m_entries.push_back(std::move(entry));
}

const ResourceEntry* CResourceTable::Find(const CResourceName& type, const CResourceName& name,
                                          std::optional<WORD> language) const
{
    const ResourceEntry* first = nullptr;
    const ResourceEntry* english = nullptr;
    for (const ResourceEntry& e : m_entries) {
        if (!(e.type == type) || !(e.name == name)) continue;
        if (language) {
            if (e.wLanguage == *language) return &e;
            continue;
        }
        if (e.wLanguage == MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL)) return &e;
        if (!english && e.wLanguage == MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)) english = &e;
        if (!first) first = &e;
    }
    return english ? english : first;
}

// Each entry: data size and header size (DWORDs), type and name, DWORD alignment, data
// version (DWORD), memory flags and language (WORDs), version and characteristics
// (DWORDs); then the data at the header's end, then padding to a DWORD boundary. The
// file starts with an empty entry of type 0, which carries nothing.
CResourceTable CResourceTable::FromResFile(const BYTE* data, size_t size)
{
    constexpr size_t kSizeWords = 8;
    CResourceTable table;
    CResourceBytes in(data, size, "resource file");
    while (!in.AtEnd()) {
        const DWORD dataSize = in.Dword();
        const DWORD headerSize = in.Dword();
        if (headerSize < kSizeWords) in.Fail("header size too small");
        CResourceBytes header = in.Range(headerSize - kSizeWords);
        ResourceEntry entry;
        entry.type = header.NameOrOrdinal();
        entry.name = header.NameOrOrdinal();
        header.Align(4);
        header.Dword();  // data version
        entry.wMemoryFlags = header.Word();
        entry.wLanguage = header.Word();
        entry.data = in.Bytes(dataSize);
        in.Align(4);
        if (entry.type.IsOrdinal() && entry.type.GetOrdinal() == 0 && dataSize == 0) continue;
        table.Add(std::move(entry));
    }
    return table;
}

HRSRC FindResourceEx(HINSTANCE hModule, const CResourceName& type, const CResourceName& name, WORD wLanguage)
{
    if (!hModule || !hModule->pResources) return nullptr;
    return hModule->pResources->Find(type, name, wLanguage);
}

HRSRC FindResource(HINSTANCE hModule, const CResourceName& name, const CResourceName& type)
{
    if (!hModule || !hModule->pResources) return nullptr;
    return hModule->pResources->Find(type, name);
}

HGLOBAL LoadResource(HINSTANCE /*hModule*/, HRSRC hResInfo)
{
    return hResInfo;
}

const BYTE* LockResource(HGLOBAL hResData)
{
    return hResData ? hResData->data.data() : nullptr;
}

DWORD SizeofResource(HINSTANCE /*hModule*/, HRSRC hResInfo)
{
    return hResInfo ? static_cast<DWORD>(hResInfo->data.size()) : 0;
}

HINSTANCE AfxFindResourceHandle(const CResourceName& name, const CResourceName& type)
{
    const HINSTANCE current = AfxGetResourceHandle();
    if (FindResource(current, name, type)) return current;
    for (HINSTANCE module : GetResourceChain())
        if (FindResource(module, name, type)) return module;
    return nullptr;
}

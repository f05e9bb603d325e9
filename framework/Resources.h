#pragma once
// Module resources. Each module carries a table of resources, each found by its type,
// name and language and holding bytes; the table is filled from the binary resource
// format (.res) that the resource compiler writes (layout in docs/FORMAT.md). The
// platform's resource calls are stood in for here: FindResource, LoadResource,
// LockResource and SizeofResource take a module handle from the resource chain
// (framework/Module.h); AfxFindResourceHandle finds the module that holds a resource.
#include <cstddef>
#include <optional>
#include <vector>

#include "framework/Module.h"
#include "framework/String.h"
#include "framework/Types.h"

// Resource types by ordinal.
constexpr WORD RT_BITMAP = 2;
constexpr WORD RT_ICON = 3;
constexpr WORD RT_MENU = 4;
constexpr WORD RT_DIALOG = 5;
constexpr WORD RT_STRING = 6;
constexpr WORD RT_GROUP_ICON = 14;
constexpr WORD RT_VERSION = 16;
constexpr WORD RT_DLGINIT = 240;

// Languages: the primary language in the low 10 bits, the sub-language above.
constexpr WORD LANG_NEUTRAL = 0x00;
constexpr WORD LANG_ENGLISH = 0x09;
constexpr WORD SUBLANG_NEUTRAL = 0x00;
constexpr WORD SUBLANG_ENGLISH_US = 0x01;
constexpr WORD MAKELANGID(WORD primary, WORD sub)
{
    return static_cast<WORD>((sub << 10) | primary);
}

// A resource's type or name, and in templates a menu, a window class or a control title:
// either a 16-bit ordinal or a text. The default is the empty text ("none").
class CResourceName {
public:
    CResourceName() = default;
    CResourceName(int ordinal) : m_nOrdinal(static_cast<WORD>(ordinal)), m_bOrdinal(true) {}
    CResourceName(const char* name) : m_strName(name) {}
    CResourceName(CString name) : m_strName(std::move(name)) {}

    bool IsOrdinal() const { return m_bOrdinal; }
    WORD GetOrdinal() const { return m_bOrdinal ? m_nOrdinal : 0; }
    const CString& GetName() const { return m_strName; }
    bool IsEmpty() const { return !m_bOrdinal && m_strName.IsEmpty(); }
    // "#5022" for an ordinal, else the text.
    CString ToString() const;
    // Texts compare without regard to case, as resource names and window classes do.
    friend bool operator==(const CResourceName& a, const CResourceName& b);

private:
    WORD m_nOrdinal = 0;
    bool m_bOrdinal = false;
    CString m_strName;
};
inline CResourceName MAKEINTRESOURCE(int id)
{
    return CResourceName(id);
}

struct ResourceEntry {
    CResourceName type;
    CResourceName name;
    WORD wLanguage = 0;
    WORD wMemoryFlags = 0;
    std::vector<BYTE> data;
};

class CResourceTable {
public:
    // Adds a resource; a second one with the same type, name and language is refused
    // with CResourceException.
    void Add(ResourceEntry entry);
    // With a language: that language only. Without: the neutral language, then US English,
    // then the first of any language. Null when there is none.
    const ResourceEntry* Find(const CResourceName& type, const CResourceName& name,
                              std::optional<WORD> language = std::nullopt) const;
    const std::vector<ResourceEntry>& Entries() const { return m_entries; }

    // Reads the binary resource format; throws CResourceException on malformed bytes.
    static CResourceTable FromResFile(const BYTE* data, size_t size);

private:
    std::vector<ResourceEntry> m_entries;
};

// Stand-ins for the platform's resource calls. A handle is the entry in the module's table;
// it stays valid while the module is loaded.
using HRSRC = const ResourceEntry*;
using HGLOBAL = const ResourceEntry*;
HRSRC FindResource(HINSTANCE hModule, const CResourceName& name, const CResourceName& type);
HRSRC FindResourceEx(HINSTANCE hModule, const CResourceName& type, const CResourceName& name, WORD wLanguage);
HGLOBAL LoadResource(HINSTANCE hModule, HRSRC hResInfo);
const BYTE* LockResource(HGLOBAL hResData);
DWORD SizeofResource(HINSTANCE hModule, HRSRC hResInfo);

// The module whose resources hold this one: the current resource handle when it does,
// else the first module in the chain that does; null when none.
HINSTANCE AfxFindResourceHandle(const CResourceName& name, const CResourceName& type);

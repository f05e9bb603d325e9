// Reads arbitrary bytes as every kind of resource the framework reads: a resource file
// (and each entry in it by its type), dialog and menu templates, dialog-init data, version
// information, bitmap and icon-group headers, and a dialog made from them. None may
// crash, hang or read past the bytes; malformed input only raises CResourceException.
#include <cstdint>

#include "framework/Dialog.h"
#include "framework/Exceptions.h"
#include "framework/ResourceTemplates.h"

namespace {

template <typename Read>
void Try(Read read)
{
    try {
        read();
    } catch (const CResourceException&) {
    }
}

void ReadAs(WORD type, const BYTE* data, size_t size)
{
    switch (type) {
        case RT_DIALOG:
            Try([&] { ReadDialogTemplate(data, size); });
            break;
        case RT_MENU:
            Try([&] { ReadMenuTemplate(data, size); });
            break;
        case RT_DLGINIT:
            Try([&] { ReadDialogInit(data, size); });
            break;
        case RT_VERSION:
            Try([&] { ReadVersionInfo(data, size); });
            break;
        case RT_BITMAP:
            Try([&] { ReadBitmapHeader(data, size); });
            break;
        case RT_GROUP_ICON:
            Try([&] { ReadIconGroup(data, size); });
            break;
        default:
            break;
    }
}

// The bytes as dialog 1 and its dialog-init data, in a module of their own.
void MakeDialog(const BYTE* data, size_t size)
{
    CResourceTable table;
    table.Add({RT_DIALOG, 1, 0, 0, std::vector<BYTE>(data, data + size)});
    table.Add({RT_DLGINIT, 1, 0, 0, std::vector<BYTE>(data, data + size)});
    const ModuleInfo module{"Fuzz.dll", &table};
    const HINSTANCE previous = AfxGetResourceHandle();
    AfxSetResourceHandle(&module);
    {
        CDialog dlg(1);
        dlg.Create(1);
    }
    AfxSetResourceHandle(previous);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    for (WORD type : {RT_DIALOG, RT_MENU, RT_DLGINIT, RT_VERSION, RT_BITMAP, RT_GROUP_ICON}) ReadAs(type, data, size);
    MakeDialog(data, size);
    Try([&] {
        const CResourceTable table = CResourceTable::FromResFile(data, size);
        for (const ResourceEntry& e : table.Entries())
            if (e.type.IsOrdinal()) ReadAs(e.type.GetOrdinal(), e.data.data(), e.data.size());
    });
    return 0;
}

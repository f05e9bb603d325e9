// Fills every kind of GKI record from arbitrary native signal data under an arbitrary
// layout, then stores the records that succeed and reads them back through the GKI
// reader. The first input byte chooses the layout (S, I, alignment mode, L) and whether
// the length passed is cut to below 0; the rest is the native signal header and body, in
// a buffer of exactly its size so that a read past it is caught.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "convert/GKIRec.h"
#include "convert/GKISignalRecReader.h"
#include "framework/Archive.h"
#include "framework/File.h"
#include "fuzz/FuzzSupport.h"
#include "platform/Recoder.h"
#include "platform/SignalDb.h"

namespace {
std::shared_ptr<CSvmDb> g_db;
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzInstallServices();
    g_db = CSvmDb::LoadFromFile(Services::DataDirectory() + "/signals.json");
    HostServices s = Services::Current();
    s.signalDb = g_db;
    s.recoder = std::make_shared<CConverter>(g_db);
    Services::Install(s);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    const uint8_t choice = data[0];
    static const int kS[] = {1, 2, 4, 2};
    g_db->m_nHeaderFieldSize = kS[choice & 3];
    g_db->m_nSignalIdSize = (choice & 4) ? 4 : 2;
    g_db->m_nAlignmentMode = (choice >> 3) & 1;
    g_db->m_nLayoutShift = (choice >> 4) & 3;
    const size_t n = size - 1;
    auto native = std::make_unique<unsigned char[]>(n);
    if (n) std::memcpy(native.get(), data + 1, n);
    const int length = (choice & 0x40) ? -static_cast<int>(n % 9) : static_cast<int>(n);

    CEnumSizeConverter converter;
    std::unique_ptr<CGKIRec> records[] = {std::make_unique<CGKISignalRec>(), std::make_unique<CGKILoggedSignalRec>(0),
                                          std::make_unique<CGKILoggedSignalRec>(1), std::make_unique<CGKICommandRec>()};
    const std::string path = FuzzScratchDir() + "/records.gki";
    int stored = 0;
    {
        CFile file(path.c_str(), CFile::modeCreate | CFile::modeWrite);
        CArchive ar(&file, CArchive::store);
        static const unsigned kHeaderImage[] = {20, 28, 28, 10};
        for (size_t i = 0; i < 4; ++i) {
            CGKIRec* r = records[i].get();
            const int ok = r->FromMessage(length < 0 ? nullptr : native.get(), length, converter);
            if (!ok) continue;
            if (!r->GetImage() || r->GetImageSize() != kHeaderImage[i]) std::abort();
            r->Serialize(ar);
            ++stored;
        }
        ar.Close();
    }
    CFile file(path.c_str(), CFile::modeRead);
    CGKISignalRecReader reader;
    int read = 0;
    while (file.GetPosition() < file.GetLength()) {
        CArchive ar(&file, CArchive::load);
        reader.Serialize(ar);  // what was stored must read back: an exception here is a finding
        ar.Close();
        if (!reader.GetMessage()) std::abort();
        ++read;
    }
    if (read != stored) std::abort();
    return 0;
}

#pragma once
// Helpers shared by the platform tests: the bundled signal database installed with a
// decoder over it, and messages made from data blocks.

#include "platform/Recoder.h"
#include "platform/SignalDb.h"
#include "sim/SimDevice.h"
#include "tests/support/TestEnv.h"

inline std::shared_ptr<CSvmDb> BundledDb()
{
    return CSvmDb::LoadFromFile(CString(VKL_SOURCE_DIR) + "/data/signals.json");
}

// A message of device 2 carrying a data block.
inline CVESKMessage FromBlock(const std::vector<BYTE>& block, int kind = 1)
{
    return CVESKMessage(kind, 2, block.data(), static_cast<int>(block.size()), 0);
}

// The host fixture with the bundled database and a decoder over it in the registry.
class SignalsFixture : public HostFixture {
protected:
    SignalsFixture()
    {
        HostServices s = Services::Current();
        s.signalDb = db;
        s.recoder = recoder;
        m_scoped = std::make_unique<CScopedServices>(s);
    }
    // Every column of a message (or the selected ones); the decoder (the fixture's unless
    // given) must accept it.
    ColumnValues Decode(const CVESKMessage& m, const ColumnSelection& selection = {}, CConverter* with = nullptr)
    {
        ColumnValues values;
        DecodeRequest request;
        request.message = &m;
        EXPECT_TRUE((with ? with : recoder.get())->DecodeToColumns(request, values, selection));
        return values;
    }

    std::shared_ptr<CSvmDb> db = BundledDb();
    std::shared_ptr<CConverter> recoder = std::make_shared<CConverter>(db);

private:
    std::unique_ptr<CScopedServices> m_scoped;
};

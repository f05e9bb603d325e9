#include <gtest/gtest.h>

#include "platform/Filters.h"
#include "platform/Recoder.h"
#include "platform/SignalDb.h"
#include "platform/SimDevice.h"
#include "tests/support/TestEnv.h"

namespace {
class FiltersTest : public HostFixture {
protected:
    FiltersTest()
    {
        HostServices s = Services::Current();
        s.signalDb = db;
        s.recoder = std::make_shared<CConverter>(db);
        m_scoped = std::make_unique<CScopedServices>(s);
    }
    CVESKMessage Signal(int type, const char* name, int kind = 1)
    {
        const std::vector<BYTE> b = sim.SignalBlock(type, *db->FindSignalByName(name));
        return CVESKMessage(kind, 0, b.data(), static_cast<int>(b.size()), 0);
    }
    // Which of the messages pass, as a string of 0 and 1.
    std::string Passing(const CAllFilters& f, const std::vector<CVESKMessage>& messages)
    {
        std::string out;
        for (const CVESKMessage& m : messages) out += f.PassesFilters(m) ? '1' : '0';
        return out;
    }

    std::shared_ptr<CSvmDb> db = CSvmDb::LoadFromFile(CString(VKL_SOURCE_DIR) + "/data/signals.json");
    CSimDevice sim{{.seed = 3}, db};

private:
    std::unique_ptr<CScopedServices> m_scoped;
};
}  // namespace

TEST_F(FiltersTest, IncludeAndExcludeTypesAndSignals)
{
    const std::vector<BYTE> traceBlock = CSimDevice::TraceBlock(0, 1, 10, 0);
    const std::vector<CVESKMessage> messages = {
        Signal(6, "RRC_STATE_IND"),                                                          // 0x1001, type 6
        Signal(5, "SIM_STATUS_IND"),                                                         // 0x1005, type 5
        Signal(7, "RRC_STATE_IND"),                                                          // 0x1001, type 7
        CVESKMessage(1, 0, traceBlock.data(), static_cast<int>(traceBlock.size()), 0),       // a trace
        Signal(6, "RRC_STATE_IND", 2),                                                       // not a device signal
    };
    CAllFilters f;
    EXPECT_EQ(Passing(f, messages), "11111");  // nothing set: everything passes

    f.ExcludeMessageType(5);
    EXPECT_EQ(Passing(f, messages), "10111");
    f.IncludeMessageType(6);
    EXPECT_EQ(Passing(f, messages), "10001");
    f.IncludeMessageType(5);  // exclusion wins over inclusion
    EXPECT_EQ(Passing(f, messages), "10001");

    f.Clear();
    EXPECT_EQ(Passing(f, messages), "11111");
    f.IncludeSignal(0x1001);  // only that signal, in any of its layouts
    EXPECT_EQ(Passing(f, messages), "10100");
    f.IncludeSignal(0x1005);
    EXPECT_EQ(Passing(f, messages), "11100");

    f.Clear();
    f.ExcludeSignal(0x1001);
    EXPECT_EQ(Passing(f, messages), "01011");
    f.IncludeMessageType(6);
    f.IncludeMessageType(CConverter::kTraceMessageType);
    EXPECT_EQ(Passing(f, messages), "00011");
}

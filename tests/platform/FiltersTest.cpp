#include "platform/Filters.h"
#include "tests/platform/PlatformTest.h"

namespace {
class FiltersTest : public SignalsFixture {
protected:
    CVESKMessage Signal(int type, const char* name, int kind = 1)
    {
        return FromBlock(sim.SignalBlock(type, *db->FindSignalByName(name)), kind);
    }
    // Which of the messages pass, as a string of 0 and 1.
    static std::string Passing(const CAllFilters& f, const std::vector<CVESKMessage>& messages)
    {
        std::string out;
        for (const CVESKMessage& m : messages) out += f.PassesFilters(m) ? '1' : '0';
        return out;
    }

    CSimDevice sim{{.seed = 3}, db};
};
}  // namespace

TEST_F(FiltersTest, IncludeAndExcludeTypesAndSignals)
{
    const std::vector<CVESKMessage> messages = {
        Signal(6, "RRC_STATE_IND"),                      // 0x1001, type 6
        Signal(5, "SIM_STATUS_IND"),                     // 0x1005, type 5
        Signal(7, "RRC_STATE_IND"),                      // 0x1001, type 7
        FromBlock(CSimDevice::TraceBlock(0, 1, 10, 0)),  // a trace
        Signal(6, "RRC_STATE_IND", 2),                   // not a device signal
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

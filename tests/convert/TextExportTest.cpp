// The text and CSV table of ConvertLogToText against bytes written out by hand, and
// every way it can end.
#include <filesystem>

#include "tests/convert/ConvertTest.h"
#include "tests/platform/PlatformTest.h"

namespace {

namespace fs = std::filesystem;

class TextExportTest : public ConvertFixture {
protected:
    // Converts (with a converter of its own unless given one) and gives back (result, outcome text).
    using Result = std::pair<int, std::string>;
    Result Convert(const std::string& log, const std::vector<CString>& columns, CLogFileConverter* given = nullptr,
                   int csv = 0, int raw = 0)
    {
        std::remove(Path("out.txt").c_str());
        CLogFileConverter own(&recoder);
        CLogFileConverter& conv = given ? *given : own;
        conv.m_bCsv = csv;
        conv.m_bRawData = raw;
        CString text;
        const int result = conv.ConvertLogToText(columns, log.c_str(), Path("out.txt").c_str(), text);
        return {result, text.str()};
    }
};

}  // namespace

// The log is read-only: it is converted, and left writable with its bytes.
TEST_F(TextExportTest, TablesByHandFromAReadOnlyLog)
{
    // Index 7 with data AA BB CC at 09:05:03.007, the largest index with data 01 at 23:59:59.999.
    const std::string log =
        Log("two.vkl", {RecordBytes(7, {0xAA, 0xBB, 0xCC}), RecordBytes(UINT64_MAX, {0x01}, 1, {23, 59, 59, 999})});
    const Bytes before = ReadAll(log);
    fs::permissions(log, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const auto table = [&](std::vector<CString> columns, int csv, int raw, const std::string& expected) {
        SCOPED_TRACE(expected);
        EXPECT_EQ(Convert(log, columns, nullptr, csv, raw), Result(1, ConvertTexts::kFinished));
        EXPECT_EQ(Output("out.txt"), expected);
    };
    // Tab, decoded: the map wins over the callback, a line break in a value written as CR LF.
    table({"Index", "Signal", "Extra", "Decoded", "Data"}, /*csv=*/0, /*raw=*/0,
          "Index\tSignal\tExtra\tDecoded\tData\t\r\n\r\n7\ta,b\tcb\tx\r\ny\tAA BB CC\t\r\n"
          "18446744073709551615\ta,b\tcb\tx\r\ny\t01\t\r\n");
    // CSV 1: commas inside values become semicolons; CSV 2 keeps them.
    table({"Index", "Signal", "Data"}, /*csv=*/1, /*raw=*/0,
          "Index,Signal,Data,\r\n\r\n7,a;b,AA BB CC,\r\n18446744073709551615,a;b,01,\r\n");
    table({"Signal"}, /*csv=*/2, /*raw=*/0, "Signal,\r\n\r\na,b,\r\na,b,\r\n");
    // Raw: time and data only.
    table({"Index", "PC Time Stamp", "Data", "Signal"}, /*csv=*/0, /*raw=*/1,
          "Index\tPC Time Stamp\tData\tSignal\t\r\n\r\n7\t09:05:03.007\tAA BB CC\t\t\r\n"
          "18446744073709551615\t23:59:59.999\t01\t\t\r\n");
    // "Index" later is an empty field; an empty name gives no header field, still a row field.
    table({"Data", "Index"}, /*csv=*/0, /*raw=*/0, "Data\tIndex\t\r\n\r\nAA BB CC\t\t\r\n01\t\t\r\n");
    table({"Index", "", "Data"}, /*csv=*/1, /*raw=*/1,
          "Index,Data,\r\n\r\n7,,AA BB CC,\r\n18446744073709551615,,01,\r\n");
    EXPECT_EQ(boxes.Count(), 0u);  // this path answers through its outcome text only
    EXPECT_NE(fs::status(log).permissions() & fs::perms::owner_write, fs::perms::none);
    EXPECT_EQ(ReadAll(log), before);

    // A log with no record: the header and one empty line.
    EXPECT_EQ(Convert(Log("empty.vkl", {}), {"Index", "Data"}).first, 1);
    EXPECT_EQ(Output("out.txt"), "Index\tData\t\r\n\r\n");
}

TEST_F(TextExportTest, EveryEnd)
{
    const Bytes good = RecordBytes(7, {0xAA});
    const std::string rowsOf7 = "Index\tData\t\r\n\r\n7\tAA\t\r\n";
    const Result done(1, ConvertTexts::kFinished), readError(1, ConvertTexts::kReadError),
        fault(0, ConvertTexts::kFailedCorrupt);
    struct Case {
        const char* what;
        std::vector<Bytes> records;
        uint64_t failAt, faultAt;
        Result result;
        std::string output;
    };
    const Case cases[] = {
        {"a read error inside the records ends the table", {good, ClaimingRecord(8), good}, 0, 0, readError, rowsOf7},
        {"a record running into the header ends the records", {good, ClaimingRecord(9, 40)}, 0, 0, done, rowsOf7},
        {"one running past the end of the file too", {good, ClaimingRecord(9, 0x1000)}, 0, 0, done, rowsOf7},
        {"a message that does not decode is written", {good, good}, 7, 0, done, rowsOf7 + "7\tAA\t\r\n"},
        {"a processor fault in the Recoder", {good, RecordBytes(8, {})}, 0, 8, fault, rowsOf7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        recoder.failAt = c.failAt, recoder.faultAt = c.faultAt;
        EXPECT_EQ(Convert(Log("log.vkl", c.records), {"Index", "Data"}), c.result);
        EXPECT_EQ(Output("out.txt"), c.output);
    }
    EXPECT_EQ(GetSeTranslator(), nullptr);  // put back

    // Nothing to start: no log, an output that exists (left as it was), no column.
    EXPECT_EQ(Convert(Path("missing.vkl"), {"Index"}), Result(0, ConvertTexts::kOpenLogForReading));
    WriteAll(Path("keep.txt"), {'k'});
    CString text;
    CLogFileConverter conv(&recoder);
    EXPECT_EQ(conv.ConvertLogToText({"Index"}, Log("log.vkl", {good}).c_str(), Path("keep.txt").c_str(), text), 0);
    EXPECT_EQ(text, ConvertTexts::kOpenForWriting);
    EXPECT_EQ(Output("keep.txt"), "k");
    EXPECT_EQ(Convert(Path("log.vkl"), {}), Result(0, ""));
    EXPECT_FALSE(FileExists(Path("out.txt")));
}

// The default Recoder's texts go straight into the row values; a Recoder of its own class
// gives them through its callback and its map. Converter after converter, with the columns
// changing between conversions, both write the same bytes.
TEST_F(TextExportTest, RowsFollowTheNamesTheRecoderGivesAndTheDefaultRecodersAreThoseOfItsMap)
{
    const std::shared_ptr<CSvmDb> db = BundledDb();
    {
        CSimDevice sim({.seed = 5, .assertEvery = 9}, db);
        CLogFile log;
        ASSERT_TRUE(log.Open(Path("sim.vkl").c_str(), 1, 1, 0));
        CArchive ar(&log, CArchive::store);
        for (int i = 0; i < 400; ++i) {
            CVESKMessage m = sim.Next();
            if (i == 200) m.SetDataLength(-1);  // a message no Recoder decodes
            m.Serialize(ar);
        }
        ar.Close();
        log.Close();
    }
    struct OwnClass : CConverter {
        using CConverter::CConverter;
    };
    CConverter fast(db);
    OwnClass byMap(db);
    CLogFileConverter fastConv(&fast), byMapConv(&byMap);
    using Columns = std::vector<CString>;
    const Columns every = {"Index",  "PC Time Stamp", "Device",  "Kind",   "Message Type", "Symbol",
                           "Signal", "Signal ID",     "Decoded", "Length", "Data"};
    for (const Columns& columns :
         {every, Columns{"Data", "Symbol", "Index", "Signal"}, Columns{"Signal", "Kind", "", "Decoded"}}) {
        ASSERT_EQ(Convert(Path("sim.vkl"), columns, &byMapConv).first, 1);
        const std::string expected = Output("out.txt");
        ASSERT_EQ(Convert(Path("sim.vkl"), columns, &fastConv).first, 1);
        EXPECT_EQ(Output("out.txt"), expected) << columns.size() << " columns";
        EXPECT_GT(expected.size(), 400u * columns.size());
    }

    // The row values follow the names a Recoder gives, message by message: a name that comes
    // in later, one that goes, and more names than the row keeps.
    struct ChangingNames : CConverter {
        ChangingNames() : CConverter(nullptr) {}
        bool DecodeToColumns(const DecodeRequest& request, ColumnValues& values, const ColumnSelection&) override
        {
            const uint64_t index = request.message->GetMessageIndex();
            const CString n = CString(std::to_string(index));
            if (index != 4) values["Signal"] = "s" + n;
            if (index == 2 || index == 4) request.callback(request.context, "Late", "L" + n);
            for (int i = 0; index == 3 && i < 70; ++i) values[CString("n" + std::to_string(i))] = "v" + n;
            return true;
        }
    } names;
    CLogFileConverter conv(&names);
    const std::string log = Log("names.vkl", Messages(1, 5, {}));
    ASSERT_EQ(Convert(log, {"Index", "Signal", "Late", "n5"}, &conv).first, 1);
    EXPECT_EQ(Output("out.txt"),
              "Index\tSignal\tLate\tn5\t\r\n\r\n1\ts1\t\t\t\r\n2\ts2\tL2\t\t\r\n3\ts3\t\tv3\t\r\n"
              "4\t\tL4\t\t\r\n5\ts5\t\t\t\r\n");
    // The same converter again, the columns in another order.
    ASSERT_EQ(Convert(log, {"Late", "Signal"}, &conv).first, 1);
    EXPECT_EQ(Output("out.txt"), "Late\tSignal\t\r\n\r\n\ts1\t\r\nL2\ts2\t\r\n\ts3\t\r\nL4\t\t\r\n\ts5\t\r\n");
}

// The GKI export and import through the converter: the records and messages they write,
// their outcome boxes and error file, their read-error, failure and stop paths.
#include <filesystem>

#include "convert/ConversionOutcome.h"
#include "framework/Launcher.h"
#include "tests/convert/ConvertTest.h"
#include "tests/support/SdDumpBytes.h"

namespace {

constexpr uint32_t kThree = 4101;  // THREE_IND: three chars, the same bytes either way
constexpr uint32_t kUnknown = 0x3000;
constexpr const char* kTypeProblem = "There is a problem with this signal type";
const Bytes kBody = {1, 2, 3};

// Native data blocks under the test layout (S 2, I 4, E 2, L 2), field values fixed.
Bytes Native6(uint32_t id, const Bytes& body = kBody)
{
    return Cat({LE(6, 8), LE(0x11, 2), LE(0x22, 2), LE(body.size(), 2), LE(0, 2), LE(id, 4), body});
}
Bytes Native5(uint32_t id, const Bytes& body = kBody)
{
    return Cat(
        {LE(5, 8), LE(0x11, 2), LE(0x22, 2), LE(0x33, 4), LE(0x44, 4), LE(body.size(), 2), LE(0, 2), LE(id, 4), body});
}
Bytes Native7(uint32_t id, const Bytes& body = kBody)
{
    return Cat(
        {LE(7, 8), LE(0x33, 4), LE(0x44, 4), LE(0, 4), LE(0x11, 2), LE(0x22, 2), LE(0, 2), LE(0, 2), LE(id, 4), body});
}
// GKI records of the same signals.
Bytes GkiS(uint32_t id, const Bytes& body = kBody)
{
    return Cat({LE('S', 4), LE(14 + body.size(), 2), LE(0x11, 4), LE(0x22, 4), LE(body.size(), 2), LE(id, 4), body});
}
Bytes Gki2(uint32_t id, const Bytes& body = kBody)
{
    return Cat({LE('2', 4), LE(22 + body.size(), 2), LE(0x11, 4), LE(0x22, 4), LE(0x33, 4), LE(0x44, 4),
                LE(body.size(), 2), LE(id, 4), body});
}

// Holds at one identifier until the gate opens, or meets a processor fault there.
class GatedRecoder : public CConverter {
public:
    using CConverter::CConverter;
    bool GetSignalName(uint32_t id, CString& name) override
    {
        if (id == faultAt) RaiseProcessorFault(EXCEPTION_ACCESS_VIOLATION);
        if (id == holdAt) {
            reached.SetEvent();
            gate.Wait();
        }
        return CConverter::GetSignalName(id, name);
    }
    uint32_t faultAt = 0, holdAt = 0;
    CEvent reached{false, true}, gate{false, true};
};

class GkiConversionTest : public ConvertFixtureOn<GkiFixture> {
protected:
    GkiConversionTest()
    {
        m_previousLauncher = SetProgramLauncher([this](const std::vector<std::string>& argv) {
            launched.push_back(argv);
            return true;
        });
        Install(gated);
    }
    ~GkiConversionTest() override { SetProgramLauncher(std::move(m_previousLauncher)); }

    std::string Gki(const Bytes& bytes) { return File("in.gki", bytes); }
    void Export(const std::string& log)
    {
        CLogFileConverter conv(nullptr);
        conv.ConvertLogToGKI(log.c_str(), Path("out.gki").c_str());
        RunToEnd(conv);
        EXPECT_TRUE(conv.m_errors.empty());
    }
    // m_bImportOk.
    int Import(const std::string& gki)
    {
        CLogFileConverter conv(nullptr);
        EXPECT_TRUE(conv.ConvertGKILogToVkl(gki.c_str(), Path("out.vkl").c_str()));
        RunToEnd(conv);
        return conv.m_bImportOk;
    }
    std::vector<CVESKMessage> Imported() const { return LogRecords(Path("out.vkl")); }

    std::shared_ptr<GatedRecoder> gated = std::make_shared<GatedRecoder>(db);
    std::vector<std::vector<std::string>> launched;

private:
    ProgramLauncher m_previousLauncher;
};

}  // namespace

// Signal records in message order; other kinds, commands and other types left out.
TEST_F(GkiConversionTest, ExportWritesSignalRecordsErrorsAndTheErrorFile)
{
    const std::string log = Log("in.vkl", {RecordBytes(1, Native7(kThree, {})), RecordBytes(2, Native6(kThree)),
                                           RecordBytes(3, Native6(kThree), /*kind=*/2), RecordBytes(4, TypedData(67)),
                                           RecordBytes(5, Native6(kUnknown)), RecordBytes(6, Native5(kThree)),
                                           RecordBytes(7, TypedData(9)), RecordBytes(8, Native7(kThree))});
    const std::string errorFile = LogDir() + "GKIConversion.err";
    const std::string lines = "No such ID : 0x00003000\r\nNo Signal Body for Signal ID - 0x00001005\r\n";
    const Texts question{ConvertTexts::kCompletedWithErrors}, noFile{question[0], ConvertTexts::kNoErrorsFile};
    const auto dirThere = [&] { std::filesystem::create_directories(errorFile); };
    struct Case {
        const char* what;
        int answer;
        std::function<void()> prepare;
        Texts texts;
        std::string file;  // "-": none
    };
    const Case cases[] = {
        {"No: nothing written, nothing opened", IDNO, [] {}, question, "-"},
        // The folder is made when missing.
        {"Yes: the later message's text first", IDYES, [&] { std::filesystem::remove_all(LogDir()); }, question, lines},
        {"Yes, and the file cannot be made", IDYES, dirThere, noFile, "-"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(errorFile);
        std::remove(Path("out.gki").c_str());
        c.prepare();
        launched.clear();
        const size_t before = boxes.Count();
        boxes.Answer(c.answer);
        Export(log);  // the list is emptied whatever the answer
        EXPECT_EQ(BoxesSince(before), c.texts);
        EXPECT_EQ(ReadAll(Path("out.gki")), Cat({GkiS(kThree), Gki2(kThree), Gki2(kThree)}));
        EXPECT_EQ(std::filesystem::is_regular_file(errorFile) ? Output("Bin Logs/GKIConversion.err") : "-", c.file);
        using Launches = std::vector<std::vector<std::string>>;
        const Launches notepad{{"Notepad.exe", tmp.path() + "\\Bin Logs\\GKIConversion.err"}};
        EXPECT_EQ(launched, c.file == "-" ? Launches{} : notepad);
    }
    // A records area that is empty: an empty GKI file.
    std::remove(Path("out.gki").c_str());
    Export(Log("empty.vkl", {}));
    EXPECT_TRUE(FileExists(Path("out.gki")) && ReadAll(Path("out.gki")).empty());
    EXPECT_EQ(boxes.Texts().back(), ConvertTexts::kSucceeded);
}

TEST_F(GkiConversionTest, ExportReadErrorDropsWhatCameBeforeAndGoesOn)
{
    Bytes absurd = ClaimingRecord(2);
    absurd.resize(28);  // kind, device, time stamp and a data length, no data bytes
    Export(Log("in.vkl", {RecordBytes(1, Native6(kThree)), absurd, RecordBytes(3, Native5(kThree))}));
    EXPECT_EQ(boxes.Texts(), (Texts{ConvertTexts::kReadError, ConvertTexts::kSucceeded}));
    EXPECT_EQ(ReadAll(Path("out.gki")), Gki2(kThree));
}

TEST_F(GkiConversionTest, OpenFailuresStartNothing)
{
    WriteAll(Path("out.gki"), {9});
    WriteAll(Path("out.vkl"), {9});
    const auto reading = ConvertTexts::kOpenLogForReading, writing = ConvertTexts::kOpenLogForWriting;
    // The input's extension says the way: a log is exported, a GKI file or an SD dump imported.
    const std::pair<std::string, const char*> cases[] = {
        {Path("missing.vkl"), reading}, {Log("in.vkl", {}), writing},
        {Path("missing.gki"), reading}, {Gki({}), writing},
        {Path("missing.bin"), reading}, {File("in.bin", SdHeader(0)), writing},
    };
    for (const auto& [in, text] : cases) {
        const size_t before = boxes.Count();
        CLogFileConverter conv(nullptr);
        if (in.ends_with(".vkl"))
            conv.ConvertLogToGKI(in.c_str(), Path("out.gki").c_str());
        else if (in.ends_with(".gki"))
            EXPECT_FALSE(conv.ConvertGKILogToVkl(in.c_str(), Path("out.vkl").c_str()));
        else
            EXPECT_FALSE(conv.ConvertSDLogToVkl(in.c_str(), Path("out.vkl").c_str()));
        EXPECT_FALSE(conv.IsConverting());
        EXPECT_EQ(BoxesSince(before), Texts{text}) << in;
        EXPECT_FALSE(conv.m_logFile.IsOpen() || conv.m_gkiInFile.IsOpen() || conv.m_sdInFile.IsOpen());
    }
    // The files that were there are as they were.
    EXPECT_EQ(ReadAll(Path("out.gki")), Bytes{9});
    EXPECT_EQ(ReadAll(Path("out.vkl")), Bytes{9});
}

TEST_F(GkiConversionTest, ImportNumbersMessagesInFileOrder)
{
    const Bytes command = Cat({LE('C', 4), LE(2, 2), LE(0x12345, 4)});
    EXPECT_EQ(Import(Gki(Cat({GkiS(kThree), Gki2(kThree), command, GkiS(kUnknown)}))), 1);
    EXPECT_EQ(boxes.Texts(), Texts{ConvertTexts::kSucceeded});
    const std::vector<CVESKMessage> m = Imported();
    ASSERT_EQ(m.size(), 4u);
    EXPECT_EQ(DataOf(m[0]), Native6(kThree));
    EXPECT_EQ(DataOf(m[1]), Native5(kThree));
    EXPECT_EQ(DataOf(m[2]), Cat({LE(67, 8), LE(0x2345, 2)}));  // the command identifier's low 16 bits
    // An unknown identifier: the header (its body length kept), no body.
    EXPECT_EQ(DataOf(m[3]), Cat({LE(6, 8), LE(0x11, 2), LE(0x22, 2), LE(3, 2), LE(0, 2), LE(kUnknown, 4)}));
    for (size_t i = 0; i < m.size(); ++i)
        EXPECT_EQ(std::tuple(m[i].GetKind(), m[i].GetFurther(), m[i].GetMessageIndex()), std::tuple(1, 1, i + 1));
}

TEST_F(GkiConversionTest, ImportEnds)
{
    Bytes cut = GkiS(kThree);
    cut.pop_back();
    const Bytes three = Cat({GkiS(kThree), GkiS(kThree), GkiS(kThree)});
    const Texts done{ConvertTexts::kSucceeded}, errors{ConvertTexts::kCompletedWithErrors},
        failed{kTypeProblem, ConvertTexts::kConversionFailed};
    Bytes badType;  // behind more records than the output archive's buffer holds
    while (badType.size() < 2 * Gki::kWriteBufferSize) Append(badType, GkiS(kThree));
    badType = Cat({badType, LE(0x44, 4), LE(0, 16), GkiS(kThree)});
    constexpr uint64_t kNone = kImportRecordsLimit;
    struct Case {
        const char* what;
        Bytes gki;
        uint64_t limit;
        int ok;
        Texts texts;
        size_t messages;
    };
    const Case cases[] = {
        {"an empty file leaves no log", {}, kNone, 1, done, 0},
        {"a cut last record is dropped", Cat({GkiS(kThree), cut}), kNone, 1, done, 1},
        {"an unknown type code fails and leaves no log", badType, kNone, 0, failed, 0},
        // Two records of 40 + 23 bytes behind the 4-byte word fit, the third does not.
        {"the size limit keeps a valid log and says so", three, 4 + 2 * 63 + 62, 1, errors, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::remove(Path("out.vkl").c_str());
        const size_t before = boxes.Count();
        CLogFileConverter conv(nullptr);
        conv.GetState().m_nImportRecordsLimit = c.limit;
        boxes.Answer(IDNO);
        ASSERT_TRUE(conv.ConvertGKILogToVkl(Gki(c.gki).c_str(), Path("out.vkl").c_str()));
        RunToEnd(conv);
        EXPECT_EQ(conv.m_bImportOk, c.ok);
        EXPECT_EQ(conv.m_bImporting, 0);
        EXPECT_EQ(BoxesSince(before), c.texts);
        EXPECT_EQ(FileExists(Path("out.vkl")), c.messages > 0);
        EXPECT_EQ(Imported().size(), c.messages);
        EXPECT_EQ(conv.m_errors.size(), c.texts == errors ? 1u : 0u);  // on No the list keeps its texts
    }
}

TEST_F(GkiConversionTest, AProcessorFaultFailsBothWays)
{
    gated->faultAt = kUnknown;
    Export(Log("in.vkl", {RecordBytes(1, Native6(kThree)), RecordBytes(2, Native6(kUnknown))}));
    EXPECT_TRUE(FileExists(Path("out.gki")) && ReadAll(Path("out.gki")).empty());  // the one before is gone too
    EXPECT_EQ(Import(Gki(Cat({GkiS(kThree), GkiS(kUnknown)}))), 0);
    EXPECT_EQ(boxes.Texts(), Texts(2, ConvertTexts::kConversionFailed));
    EXPECT_FALSE(FileExists(Path("out.vkl")));
}

TEST_F(GkiConversionTest, DestroyingTheConverterWritesWhatWasConvertedAndSaysNothing)
{
    gated->holdAt = kUnknown;
    const std::string log = Log("in.vkl", {RecordBytes(1, Native6(kThree)), RecordBytes(2, Native6(kUnknown)),
                                           RecordBytes(3, Native6(kThree))});
    const std::string gki = Gki(Cat({GkiS(kThree), GkiS(kUnknown), GkiS(kThree)}));
    for (bool exportToGki : {true, false}) {
        SCOPED_TRACE(exportToGki ? "export" : "import");
        gated->reached.ResetEvent();
        gated->gate.ResetEvent();
        {
            CLogFileConverter conv(nullptr);
            if (exportToGki)
                conv.ConvertLogToGKI(log.c_str(), Path("out.gki").c_str());
            else
                conv.ConvertGKILogToVkl(gki.c_str(), Path("out.vkl").c_str());
            ASSERT_TRUE(gated->reached.Wait(kGenerous));
            conv.m_evRun.ResetEvent();  // as the destructor starts: the worker ends at the next record
            gated->gate.SetEvent();
        }  // the destructor waits for the worker's end: the files are complete here
    }
    EXPECT_EQ(ReadAll(Path("out.gki")), GkiS(kThree));  // the unknown one failed, the third is not read
    EXPECT_EQ(Imported().size(), 2u);
    EXPECT_EQ(boxes.Count(), 0u);
}

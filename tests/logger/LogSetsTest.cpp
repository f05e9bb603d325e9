#include "sim/SimDevice.h"
#include "tests/logger/LoggerTestSupport.h"

using LogSetsTest = LoggerFixture;

TEST_F(LogSetsTest, ContinuationNames)
{
    clock->Set(CSystemTime(2026, 12, 4, 19, 7, 2));
    auto logger = MakeLogger("USOR1_IDLE1_0412_1857_R40817");
    EXPECT_EQ(logger->GetContLogFileName(), "USOR1_IDLE1_0412_1857_R40817_04_Dec_26_19;07;02.vkl");
    const std::pair<const char*, const char*> cases[] = {
        {"USOR1_IDLE1_0412_1857_R40817_04_Dec_26_19;00;31.vkl", "USOR1_IDLE1_0412_1857_R40817_04_Dec_26_19;07;02.vkl"},
        {"plain", "plain_04_Dec_26_19;07;02.vkl"},
        {"two.dots.vkl", "two_04_Dec_26_19;07;02.vkl"},
        {"Log 04-Dec-26 18;57;03.vkl", "Log 04-Dec-26 18;57;03_04_Dec_26_19;07;02.vkl"},
        {".hidden", "_04_Dec_26_19;07;02.vkl"},
    };
    for (const auto& [name, continued] : cases) {
        logger->SetLogFileName(name, (tmp.path() + "\\").c_str());
        EXPECT_EQ(logger->GetContLogFileName(), continued) << name;
    }
}

TEST_F(LogSetsTest, SizeLimitRollsOverAndContinuationsWithinOneSecondGetTheirOwnNames)
{
    // 1 MiB limit; records of 10,000 data bytes (10,040 bytes each), about 4.1 MiB at one
    // fixed clock second.
    auto logger = MakeLogger("fast", -1, 1);
    Feed(*logger, 1, 430, 10000);
    // The open continuation file knows its predecessor; the walk through the set follows
    // that link (on disk the current header layout keeps no link names, so it ends there)
    // and ends reading the file it started from.
    const CString last = logger->GetFileName();
    EXPECT_EQ(logger->GetLogFile()->GetPrevLogFileName(), "fast_03_Mar_11_14;05;09~3.vkl");
    logger->OpenNextFile();  // no next name: nothing changes
    EXPECT_EQ(std::tuple(logger->GetTotalNumOfPages(), logger->GetNumOfFiles()), std::tuple(1, 1));
    EXPECT_EQ(logger->GetFileName(), last);
    EXPECT_TRUE(logger->GetLogFile()->IsOpen() && !logger->GetLogFile()->IsWriteMode());
    logger->Close();
    const auto files = FilesIn(tmp.path());
    EXPECT_EQ(files,
              (std::vector<std::string>{"fast.vkl", "fast_03_Mar_11_14;05;09.vkl", "fast_03_Mar_11_14;05;09~2.vkl",
                                        "fast_03_Mar_11_14;05;09~3.vkl", "fast_03_Mar_11_14;05;09~4.vkl"}));
    uint64_t next = 1;
    for (const auto& name : files) {
        const FileContent c = Inspect(tmp / name);
        ASSERT_FALSE(c.records.empty());
        for (const auto& r : c.records) EXPECT_EQ(r.GetMessageIndex(), next++);
        EXPECT_EQ(c.pages, 1);
        if (name != files.back()) {  // the crossing record is the last one of the old file
            EXPECT_GE(c.headerPosition, 1u << 20);
            EXPECT_LT(c.headerPosition - 10040u, 1u << 20);
        }
    }
    EXPECT_EQ(next, 431u);
}

TEST_F(LogSetsTest, PagesStepAfter2999MessagesThenEvery3000)
{
    auto logger = MakeLogger("pages");
    std::vector<int> pages = {logger->GetNumOfPagesInFile()};  // pages[i]: after message i
    Feed(*logger, 1, 5999, 8, [&](uint64_t) { pages.push_back(logger->GetNumOfPagesInFile()); });
    EXPECT_EQ(std::vector<int>({pages[0], pages[2998], pages[2999], pages[5998], pages[5999]}),
              (std::vector<int>{1, 1, 2, 2, 3}));
    logger->Close();
    EXPECT_EQ(Inspect(Path("pages.vkl")).pages, 3);
}

TEST_F(LogSetsTest, BookmarksAndDescriptionsAndAClearKeepsOnlyTheDescription)
{
    auto logger = MakeLogger("bm");
    Feed(*logger, 1, 1);
    logger->AddBookmark("gone");
    CString result;
    logger->AddFileDescription("my session", result, "");
    EXPECT_EQ(result, "Succeeded to add description");
    logger->Clear();  // the records and the header's marks go, its description stays
    EXPECT_EQ(logger->GetFileSize(), 4u);
    EXPECT_EQ(ReadAll(Path("bm.vkl")).size(), 4u);
    Feed(*logger, 2, 3);
    logger->AddBookmark("here");
    logger->Close();
    const FileContent c = Inspect(Path("bm.vkl"));
    ASSERT_EQ(c.offsets, (std::vector<DWORD>{4, 104}));  // recorded again from offset 4
    EXPECT_EQ(c.records[0].GetMessageIndex(), 2u);
    ASSERT_EQ(c.bookmarks.size(), 1u);
    const CLogBookmark& b = c.bookmarks[0];  // at the last record when it was set
    EXPECT_EQ(std::tuple(b.m_dwFilePos, b.m_strDescription, b.m_strFileName),
              std::tuple(DWORD(104), CString("here"), CString()));
    EXPECT_EQ(c.description, "my session");

    // Another file's description, while not recording.
    auto other = MakeLogger("other");
    Feed(*other, 3, 3);
    other->Close();
    logger->AddFileDescription("set later", result, (tmp.path() + "/other.vkl").c_str());
    EXPECT_EQ(result, "Succeeded to add description");
    EXPECT_EQ(Inspect(Path("other.vkl")).description, "set later");
}

TEST_F(LogSetsTest, LongSessionLosesAndDuplicatesNothingAcrossTheSeams)
{
    // 1 MB files, asserts bookmarked and cut, a description for the set.
    CLogger* logger = Init()->AddNewLogger((tmp.path() + "\\session").c_str(), true, false, -1, 1, 1, 1);
    ASSERT_NE(logger->GetClient(), nullptr);
    // A queue of a few dozen messages: the source outruns the disk and waits for room
    // while the worker rolls over into the next file, which must never deadlock.
    logger->GetClient()->SetQueueBound(8 * 1024);
    CString result;
    logger->AddFileDescription("long run", result, "");
    logger->Resume();
    CSimDevice sim({.seed = 11, .devices = 5, .assertEvery = 20000});
    sim.Connect(*devices);
    CSimDeviceRunner runner(sim, Services::Bus());
    constexpr uint64_t kMessages = 60000;
    runner.Run(kMessages);
    logger->EmptyFIFO();
    EXPECT_GT(logger->GetClient()->GetNumWaits(), 0u);
    EXPECT_EQ(logger->GetClient()->GetNumDropped(), 0u);
    Term();

    std::vector<uint64_t> seen;  // every file's indexes, in file order
    size_t files = 0, assertsSeen = 0, bookmarks = 0;
    for (const std::string& name : FilesIn(tmp.path())) {
        ++files;
        const FileContent c = Inspect(tmp / name);
        ASSERT_FALSE(c.records.empty()) << name;
        EXPECT_EQ(c.description, "long run") << name;  // carried into every file of the set
        bookmarks += c.bookmarks.size();
        // The first page step of a file comes after 2,999 messages, each later one after 3,000.
        const int n = static_cast<int>(c.records.size());
        EXPECT_EQ(c.pages, n < 2999 ? 1 : 2 + (n - 2999) / 3000) << name;
        const size_t first = seen.size();
        for (size_t i = 0; i < c.records.size(); ++i) {
            seen.push_back(c.records[i].GetMessageIndex());
            CString text;
            if (CLogger::IsAssertMessage(const_cast<CVESKMessage*>(&c.records[i]), text)) {
                ++assertsSeen;
                EXPECT_EQ(i, c.records.size() - 1) << "an assert ends its file: " << name;
                EXPECT_EQ(Bookmarks(tmp / name), (Marks{{c.offsets[i], text.str()}})) << name;
            }
        }
        EXPECT_TRUE(std::is_sorted(seen.begin() + static_cast<long>(first), seen.end())) << name;
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, Range(1, kMessages));  // none lost, none twice
    EXPECT_EQ(assertsSeen, kMessages / 20000);
    EXPECT_EQ(bookmarks, assertsSeen);  // none but the asserts'; so the other files have none
    EXPECT_GE(files, assertsSeen + 2);  // the cuts, plus at least one roll-over at 1 MB
}

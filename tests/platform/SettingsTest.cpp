#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <toml++/toml.h>

#include "platform/TomlSettings.h"
#include "tests/support/TestEnv.h"

namespace {
std::string Text(const std::string& path)
{
    const std::vector<uint8_t> bytes = ReadAll(path);
    return std::string(bytes.begin(), bytes.end());
}

// What `f` writes to the standard error.
template <typename F>
std::string Stderr(F f)
{
    testing::internal::CaptureStderr();
    f();
    return testing::internal::GetCapturedStderr();
}
size_t Lines(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

constexpr const char* kViewer = "Viewer Settings";
constexpr const char* kIndex = "Log Name Index";
}  // namespace

TEST(TomlSettings, DefaultsRoundTripAndTheFileLayout)
{
    TempDir tmp;
    const std::string path = tmp / "settings.toml";
    CTomlSettingsStore store(path.c_str());
    EXPECT_EQ(store.GetInt(kViewer, kIndex, 1), 1);  // no file yet
    EXPECT_EQ(store.GetString(kViewer, "Log Name USIM", "OR"), "OR");
    EXPECT_FALSE(FileExists(path));  // reading never creates the file

    store.WriteInt(kViewer, kIndex, 42);
    store.WriteString("Version Directory", "Directory", "D:\\work \"main\"");
    store.WriteInt(kViewer, kIndex, 43);
    EXPECT_EQ(store.GetString("Version Directory", "Directory", ""), "D:\\work \"main\"");
    EXPECT_EQ(Text(path),
              "[\"Version Directory\"]\n"
              "\"Directory\" = \"D:\\\\work \\\"main\\\"\"\n"
              "\n"
              "[\"Viewer Settings\"]\n"
              "\"Log Name Index\" = 43\n");
    EXPECT_FALSE(FileExists(path + ".tmp"));

    // Another store over the same file sees every write at once, in both directions.
    CTomlSettingsStore other(path.c_str());
    EXPECT_EQ(other.GetInt(kViewer, kIndex, 0), 43);
    other.WriteInt(kViewer, kIndex, 44);
    EXPECT_EQ(store.GetInt(kViewer, kIndex, 0), 44);

    // Ints and texts cross over only where the text is a decimal number.
    const std::pair<const char*, int> asInt[] = {{"-17", -17}, {"+5", 5}, {"17x", 3}, {"99999999999", 3}};
    for (const auto& [text, value] : asInt) {
        store.WriteString("S", "n", text);
        EXPECT_EQ(store.GetInt("S", "n", 3), value) << text;
    }
    EXPECT_EQ(store.GetString(kViewer, kIndex, ""), "44");
}

TEST(TomlSettings, HandWrittenContentSurvivesAWrite)
{
    TempDir tmp;
    const std::string path = tmp / "settings.toml";
    const std::string hand = "# edited by hand\ntop = 'level'\n[Logger]\nlist = [1, 'two', { k = true }]\n"
                             "[Logger.Nested]\nwhen = 2011-03-03T14:05:09\n[\"Viewer Settings\"]\n\"Log Name Index\" = 0x10\n";
    WriteAll(path, std::vector<uint8_t>(hand.begin(), hand.end()));
    CTomlSettingsStore store(path.c_str());
    EXPECT_EQ(store.GetInt(kViewer, kIndex, 0), 16);
    store.WriteInt(kViewer, kIndex, 17);
    // Texts that are not UTF-8 (single-byte ANSI) and control characters keep the file valid.
    store.WriteString(kViewer, "Log Name Location", "M\xFCnchen\t\x01");
    store.WriteString(kViewer, "Log Name USIM", "\xC3\xA9t\xC3\xA9");  // UTF-8 stays as it is

    toml::table t;
    ASSERT_NO_THROW(t = toml::parse(Text(path))) << Text(path);
    EXPECT_EQ(t["top"].value<std::string>(), "level");
    EXPECT_EQ(t["Logger"]["list"][2]["k"].value<bool>(), true);
    EXPECT_TRUE(t["Logger"]["Nested"]["when"].is_date_time());
    EXPECT_EQ(store.GetInt(kViewer, kIndex, 0), 17);
    EXPECT_EQ(store.GetString(kViewer, "Log Name Location", ""), "M\xC3\xBCnchen\t\x01");
    EXPECT_EQ(store.GetString(kViewer, "Log Name USIM", ""), "\xC3\xA9t\xC3\xA9");
}

TEST(TomlSettings, MalformedFileGivesDefaultsOneWarningAndIsNeverOverwritten)
{
    TempDir tmp;
    const std::string path = tmp / "bad.toml";
    const std::string text = "[\"Viewer Settings\"]\n\"Log Name Index\" = = 3\n";
    WriteAll(path, std::vector<uint8_t>(text.begin(), text.end()));

    CTomlSettingsStore store(path.c_str());
    const std::string reads = Stderr([&] {
        EXPECT_EQ(store.GetInt(kViewer, kIndex, 1), 1);
        EXPECT_EQ(store.GetString(kViewer, "Log Name USIM", "OR"), "OR");
        EXPECT_EQ(store.GetInt(kViewer, kIndex, 1), 1);
    });
    EXPECT_EQ(Lines(reads), 1u) << reads;  // one warning for the store, however many reads
    EXPECT_NE(reads.find(path), std::string::npos) << reads;
    EXPECT_NE(reads.find("line 2"), std::string::npos) << reads;  // where the parser stopped

    const std::string write = Stderr([&] { store.WriteInt(kViewer, kIndex, 9); });
    EXPECT_EQ(Lines(write), 1u) << write;  // the refusal
    EXPECT_NE(write.find("\"Log Name Index\""), std::string::npos) << write;
    EXPECT_EQ(Text(path), text);
    EXPECT_FALSE(FileExists(path + ".tmp"));

    // A store made later warns once of its own.
    EXPECT_EQ(Lines(Stderr([&] { EXPECT_EQ(CTomlSettingsStore(path.c_str()).GetInt(kViewer, kIndex, 2), 2); })), 1u);
}

TEST(TomlSettings, TwoProcessesNeverLoseAnIncrement)
{
    TempDir tmp;
    const std::string path = tmp / "shared.toml";
    CTomlSettingsStore(path.c_str()).WriteInt(kViewer, kIndex, 5);
    auto advance = [&] {
        CTomlSettingsStore store(path.c_str());
        for (int i = 0; i < 1000; ++i) {
            CSettingsExclusive session(&store);
            store.WriteInt(kViewer, kIndex, store.GetInt(kViewer, kIndex, 0) + 1);
        }
    };
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        advance();
        _exit(0);
    }
    advance();
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(CTomlSettingsStore(path.c_str()).GetInt(kViewer, kIndex, 0), 2005);
}

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <toml++/toml.h>

#include "platform/TomlSettings.h"
#include "tests/support/TestEnv.h"

namespace {
constexpr const char* kViewer = "Viewer Settings";
constexpr const char* kIndex = "Log Name Index";

// What `f` writes to the standard error, and the number of its lines.
template <typename F>
std::pair<std::string, size_t> Stderr(F f)
{
    testing::internal::CaptureStderr();
    f();
    const std::string text = testing::internal::GetCapturedStderr();
    return {text, static_cast<size_t>(std::count(text.begin(), text.end(), '\n'))};
}

// A store over a file in a fresh directory (reading never creates the file).
class TomlSettings : public ::testing::Test {
protected:
    std::string Text() const { return ReadText(path); }
    void Write(const std::string& text) { WriteAll(path, std::vector<uint8_t>(text.begin(), text.end())); }

    TempDir tmp;
    const std::string path = tmp / "settings.toml";
    CTomlSettingsStore store{path.c_str()};
};
}  // namespace

TEST_F(TomlSettings, DefaultsRoundTripAndTheFileLayout)
{
    EXPECT_EQ(store.GetInt(kViewer, kIndex, 1), 1);  // no file yet
    EXPECT_EQ(store.GetString(kViewer, "Log Name USIM", "OR"), "OR");
    EXPECT_FALSE(FileExists(path));

    store.WriteInt(kViewer, kIndex, 42);
    store.WriteString("Version Directory", "Directory", "D:\\work \"main\"");
    store.WriteInt(kViewer, kIndex, 43);
    EXPECT_EQ(store.GetString("Version Directory", "Directory", ""), "D:\\work \"main\"");
    EXPECT_EQ(Text(), "[\"Version Directory\"]\n\"Directory\" = \"D:\\\\work \\\"main\\\"\"\n\n"
                      "[\"Viewer Settings\"]\n\"Log Name Index\" = 43\n");
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

TEST_F(TomlSettings, HandWrittenContentSurvivesAWrite)
{
    Write("# edited by hand\ntop = 'level'\n[Logger]\nlist = [1, 'two', { k = true }]\n"
          "[Logger.Nested]\nwhen = 2011-03-03T14:05:09\n[\"Viewer Settings\"]\n\"Log Name Index\" = 0x10\n");
    EXPECT_EQ(store.GetInt(kViewer, kIndex, 0), 16);
    store.WriteInt(kViewer, kIndex, 17);
    // Texts that are not UTF-8 (single-byte ANSI) and control characters keep the file valid.
    store.WriteString(kViewer, "Log Name Location", "M\xFCnchen\t\x01");
    store.WriteString(kViewer, "Log Name USIM", "\xC3\xA9t\xC3\xA9");  // UTF-8 stays as it is

    toml::table t;
    ASSERT_NO_THROW(t = toml::parse(Text())) << Text();
    EXPECT_EQ(t["top"].value<std::string>(), "level");
    EXPECT_EQ(t["Logger"]["list"][2]["k"].value<bool>(), true);
    EXPECT_TRUE(t["Logger"]["Nested"]["when"].is_date_time());
    EXPECT_EQ(store.GetInt(kViewer, kIndex, 0), 17);
    EXPECT_EQ(store.GetString(kViewer, "Log Name Location", ""), "M\xC3\xBCnchen\t\x01");
    EXPECT_EQ(store.GetString(kViewer, "Log Name USIM", ""), "\xC3\xA9t\xC3\xA9");
}

TEST_F(TomlSettings, MalformedFileGivesDefaultsOneWarningAndIsNeverOverwritten)
{
    const std::string text = "[\"Viewer Settings\"]\n\"Log Name Index\" = = 3\n";
    Write(text);
    const auto [reads, readLines] = Stderr([&] {
        EXPECT_EQ(store.GetInt(kViewer, kIndex, 1), 1);
        EXPECT_EQ(store.GetString(kViewer, "Log Name USIM", "OR"), "OR");
        EXPECT_EQ(store.GetInt(kViewer, kIndex, 1), 1);
    });
    EXPECT_EQ(readLines, 1u) << reads;  // one warning for the store, however many reads
    EXPECT_NE(reads.find(path), std::string::npos) << reads;
    EXPECT_NE(reads.find("line 2"), std::string::npos) << reads;  // where the parser stopped

    const auto [write, writeLines] = Stderr([&] { store.WriteInt(kViewer, kIndex, 9); });
    EXPECT_EQ(writeLines, 1u) << write;  // the refusal
    EXPECT_NE(write.find("\"Log Name Index\""), std::string::npos) << write;
    EXPECT_EQ(Text(), text);
    EXPECT_FALSE(FileExists(path + ".tmp"));
    // A store made later warns once of its own.
    EXPECT_EQ(Stderr([&] { EXPECT_EQ(CTomlSettingsStore(path.c_str()).GetInt(kViewer, kIndex, 2), 2); }).second, 1u);
}

TEST_F(TomlSettings, TwoProcessesNeverLoseAnIncrement)
{
    store.WriteInt(kViewer, kIndex, 5);
    auto advance = [&] {
        CTomlSettingsStore mine(path.c_str());
        for (int i = 0; i < 1000; ++i) {
            CSettingsExclusive session(&mine);
            mine.WriteInt(kViewer, kIndex, mine.GetInt(kViewer, kIndex, 0) + 1);
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
    EXPECT_EQ(store.GetInt(kViewer, kIndex, 0), 2005);
}

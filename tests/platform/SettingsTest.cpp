#include <sys/wait.h>
#include <unistd.h>

#include "platform/TomlSettings.h"
#include "tests/support/TestEnv.h"

TEST(TomlSettings, DefaultsRoundTripAndQuotedNames)
{
    TempDir tmp;
    CTomlSettingsStore store((tmp / "settings.toml").c_str());
    EXPECT_EQ(store.GetInt("Viewer Settings", "Log Name Index", 1), 1);  // no file yet
    EXPECT_EQ(store.GetString("Viewer Settings", "Log Name USIM", "OR"), "OR");
    store.WriteInt("Viewer Settings", "Log Name Index", 42);
    store.WriteString("Version Directory", "Directory", "D:\\work");
    store.WriteInt("Viewer Settings", "Log Name Index", 43);
    EXPECT_EQ(store.GetInt("Viewer Settings", "Log Name Index", 1), 43);
    EXPECT_EQ(store.GetString("Version Directory", "Directory", ""), "D:\\work");

    const std::vector<uint8_t> bytes = ReadAll(tmp / "settings.toml");
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_NE(text.find("['Viewer Settings']"), std::string::npos) << text;
    EXPECT_NE(text.find("'Log Name Index' = 43"), std::string::npos) << text;

    // A second store over the same file sees the values.
    CTomlSettingsStore again((tmp / "settings.toml").c_str());
    EXPECT_EQ(again.GetInt("Viewer Settings", "Log Name Index", 0), 43);
    // A number written as a string still reads as an int; other strings do not.
    again.WriteString("S", "n", "17");
    again.WriteString("S", "t", "x17");
    EXPECT_EQ(again.GetInt("S", "n", 0), 17);
    EXPECT_EQ(again.GetInt("S", "t", 5), 5);
}

TEST(TomlSettings, MalformedFileGivesDefaultsAndIsNeverOverwritten)
{
    TempDir tmp;
    const std::string path = tmp / "bad.toml";
    const std::string text = "[\"Viewer Settings\"\n\"Log Name Index\" = = 3\n";
    WriteAll(path, std::vector<uint8_t>(text.begin(), text.end()));
    CTomlSettingsStore store(path.c_str());
    testing::internal::CaptureStderr();
    EXPECT_EQ(store.GetInt("Viewer Settings", "Log Name Index", 1), 1);
    EXPECT_EQ(store.GetString("Viewer Settings", "Log Name USIM", "OR"), "OR");
    store.WriteInt("Viewer Settings", "Log Name Index", 9);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(path + ":1:"), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << err;  // one warning, one refusal
    EXPECT_EQ(ReadAll(path), std::vector<uint8_t>(text.begin(), text.end()));
}

TEST(TomlSettings, TwoProcessesNeverLoseAnIncrement)
{
    TempDir tmp;
    const std::string path = tmp / "shared.toml";
    CTomlSettingsStore(path.c_str()).WriteInt("Viewer Settings", "Log Name Index", 5);
    auto advance = [&] {
        CTomlSettingsStore store(path.c_str());
        for (int i = 0; i < 1000; ++i) {
            CSettingsExclusive session(&store);
            store.WriteInt("Viewer Settings", "Log Name Index", store.GetInt("Viewer Settings", "Log Name Index", 0) + 1);
        }
    };
    const pid_t pid = fork();
    if (pid == 0) {
        advance();
        _exit(0);
    }
    advance();
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(CTomlSettingsStore(path.c_str()).GetInt("Viewer Settings", "Log Name Index", 0), 2005);
}

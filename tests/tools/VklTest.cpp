// Runs the built vkl program as a process, as a user does.
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/TestEnv.h"

extern char** environ;

namespace {

struct Result {
    int status = -1;
    std::string out, err;
};

std::string Slurp(const std::string& path)
{
    const auto bytes = ReadAll(path);
    return std::string(bytes.begin(), bytes.end());
}
int Lines(const std::string& s) { return static_cast<int>(std::count(s.begin(), s.end(), '\n')); }

class VklTest : public ::testing::Test {
protected:
    // Starts vkl on the test's home directory, its output going to files.
    pid_t Start(std::vector<std::string> args)
    {
        args.insert(args.begin(), {std::string(VKL_BINARY_DIR) + "/tools/vkl/vkl", "--home", tmp / "home"});
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, (tmp / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, (tmp / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = -1;
        EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }
    Result Run(std::vector<std::string> args)
    {
        int status = 0;
        waitpid(Start(std::move(args)), &status, 0);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), Slurp(tmp / "stdout"), Slurp(tmp / "stderr")};
    }

    TempDir tmp;
};

}  // namespace

TEST_F(VklTest, DemoRunsToTheEnd)
{
    const Result r = Run({"demo", "--dir", tmp / "demo"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("records byte-identical to the original"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("3 assert bookmarks"), std::string::npos) << r.out;
    EXPECT_TRUE(r.err.empty()) << r.err;
}

TEST_F(VklTest, RecordWithALimitThenInfoOnEveryFileAndMessagesInARange)
{
    const Result rec = Run({"record", "-o", "run", "--dir", tmp / "logs", "--max-size", "1", "--messages", "40000",
                            "--assert-every", "25000", "--bookmark-asserts", "--description", "bench run"});
    ASSERT_EQ(rec.status, 0) << rec.err;
    EXPECT_NE(rec.out.find("recorded 40000 messages"), std::string::npos) << rec.out;
    size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(tmp / "logs")) {
        ++files;
        const std::string path = e.path().string();
        const std::vector<uint8_t> before = ReadAll(path);
        const Result info = Run({"info", path});
        EXPECT_EQ(info.status, 0) << path << info.err;
        EXPECT_NE(info.out.find("bench run"), std::string::npos) << info.out;
        EXPECT_EQ(ReadAll(path), before) << "info changed " << path;
        const Result json = Run({"info", "--json", path});
        EXPECT_EQ(json.status, 0);
        EXPECT_NE(json.out.find("\"header_position\""), std::string::npos);
    }
    EXPECT_GE(files, 2u);
    const Result msgs = Run({"messages", tmp / "logs/run.vkl", "--from", "100", "--to", "149"});
    ASSERT_EQ(msgs.status, 0) << msgs.err;
    EXPECT_EQ(Lines(msgs.out), 1 + 50);
}

TEST_F(VklTest, KilledRecordingIsFoundAndRepaired)
{
    // A recording killed while it writes: the file keeps every whole record.
    const pid_t pid = Start({"record", "-o", "killed", "--dir", tmp / "k", "--seconds", "60"});
    const std::string path = tmp / "k/killed.vkl";
    // Wait until records have reached the file (bounded; the condition decides, not time).
    for (int i = 0; i < 6000 && !(FileExists(path) && std::filesystem::file_size(path) > 100000); ++i) usleep(10000);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    ASSERT_TRUE(FileExists(path));
    const std::vector<uint8_t> damaged = ReadAll(path);

    const Result info = Run({"info", path});
    EXPECT_EQ(info.status, 1);
    EXPECT_NE(info.err.find("needs repair"), std::string::npos) << info.err;
    EXPECT_EQ(Lines(info.err), 1) << info.err;
    EXPECT_EQ(ReadAll(path), damaged);
    const Result repair = Run({"repair", path});
    ASSERT_EQ(repair.status, 0) << repair.err;
    EXPECT_NE(repair.out.find("repaired"), std::string::npos);
    const Result after = Run({"info", "--json", path});
    EXPECT_EQ(after.status, 0) << after.err;
    EXPECT_NE(after.out.find("\"needs_repair\": false"), std::string::npos);
    const Result again = Run({"repair", path});
    EXPECT_EQ(again.status, 0);
    EXPECT_NE(again.out.find("nothing to repair"), std::string::npos);
}

TEST_F(VklTest, ReplayIntoAnotherLogGivesIdenticalRecordsAndDescribeChangesOnlyTheDescription)
{
    ASSERT_EQ(Run({"record", "-o", "src", "--dir", tmp.path(), "--messages", "3000"}).status, 0);
    const Result replay = Run({"replay", tmp / "src.vkl", "--into", tmp / "copy.vkl"});
    ASSERT_EQ(replay.status, 0) << replay.err;
    const auto a = ReadAll(tmp / "src.vkl"), b = ReadAll(tmp / "copy.vkl");
    ASSERT_GT(a.size(), 4u);
    const uint32_t h = a[0] | (a[1] << 8) | (a[2] << 16) | (a[3] << 24);
    // The same header position and the same records.
    ASSERT_TRUE(b.size() >= h && std::equal(a.begin(), a.begin() + h, b.begin()));

    ASSERT_EQ(Run({"describe", tmp / "src.vkl", "field test in Berlin"}).status, 0);
    const Result info = Run({"info", tmp / "src.vkl"});
    EXPECT_NE(info.out.find("field test in Berlin"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("records          3000"), std::string::npos) << info.out;
}

TEST_F(VklTest, BadInputGivesOneClearLineAndAnExitStatus)
{
    Result r = Run({"info", tmp / "missing.vkl"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vkl: " + (tmp / "missing.vkl") + ": cannot open: No such file or directory\n");

    const std::string text = "just some text, not a log\n";
    WriteAll(tmp / "notes.txt", std::vector<uint8_t>(text.begin(), text.end()));
    r = Run({"info", tmp / "notes.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find("not a log file"), std::string::npos);
    EXPECT_EQ(Run({"repair", tmp / "notes.txt"}).status, 1);
    EXPECT_EQ(ReadAll(tmp / "notes.txt"), std::vector<uint8_t>(text.begin(), text.end()));

    r = Run({"info", "--no-such-flag", tmp / "notes.txt"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    EXPECT_EQ(Run({"record", "--messages", "-5"}).status, 2);
    EXPECT_EQ(Run({}).status, 2);
    EXPECT_EQ(Run({"describe", tmp / "missing.vkl", "x"}).status, 1);
}

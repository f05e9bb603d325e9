#pragma once
// The process tests' set-up: vkl run as a user runs it, its home in a scratch directory
// of the test's own.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/Process.h"
#include "tests/support/TestEnv.h"

using Env = std::vector<std::pair<std::string, std::string>>;

inline bool Has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}
inline size_t Lines(const std::string& s)
{
    return static_cast<size_t>(std::count(s.begin(), s.end(), '\n'));
}

class VklRunTest : public ::testing::Test {
protected:
    // vkl's command line: the program, its home, the options every run of the test takes.
    std::vector<std::string> Args(std::vector<std::string> args) const
    {
        args.insert(args.begin(), global.begin(), global.end());
        args.insert(args.begin(), {VklProgram(), "--home", tmp / "home"});
        return args;
    }
    ProcessResult Vkl(const std::vector<std::string>& args, const Env& env = {}) const
    {
        return RunProcess(Args(args), tmp.path(), env);
    }
    // Runs vkl and expects it to end with `status`, saying `says` on its error output.
    void ExpectFails(const std::vector<std::string>& args, int status, const std::string& says,
                     const Env& env = {}) const
    {
        const ProcessResult r = Vkl(args, env);
        EXPECT_EQ(r.status, status) << r.err;
        EXPECT_TRUE(Has(r.err, says)) << r.err;
    }
    std::string Read(const std::string& name) const
    {
        const std::vector<uint8_t> b = ReadAll(tmp / name);
        return std::string(b.begin(), b.end());
    }

    TempDir tmp;
    std::vector<std::string> global;
};

// vkl convert and vkl columns as a process: formats, outputs, the dialog's answers from
// the flags and on a terminal, Ctrl-C, and each bad input with its exit status.
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/convert/ConvertTest.h"
#include "tests/tools/VklRun.h"

namespace {

class VklConvertTest : public VklRunTest {
protected:
    VklConvertTest() { EXPECT_EQ(Vkl({"-q", "record", "-o", "s", "--dir", tmp.path(), "--messages", "30"}).status, 0); }

    const std::string log = tmp / "s.vkl";
};

// Runs vkl on a terminal of its own, typing `input`; returns the status and what it showed.
std::pair<int, std::string> OnTerminal(const std::vector<std::string>& args, const std::string& input)
{
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (write(master, input.data(), input.size()) != static_cast<ssize_t>(input.size())) return {-1, ""};
    std::string shown;
    char buf[4096];
    for (ssize_t n; (n = read(master, buf, sizeof buf)) > 0;) shown.append(buf, static_cast<size_t>(n));
    int status = 0;
    waitpid(pid, &status, 0);
    close(master);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, shown};
}

}  // namespace

// The tables' and the page's bytes are the converter's own tests'; here the command's wiring.
TEST_F(VklConvertTest, FormatsOutputsAndTheDialogsAnswers)
{
    const std::string columns = "Index,Kind,Message Type";
    ProcessResult r = Vkl({"convert", log, "--columns", columns});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "vkl: Conversion Finished.\n");
    EXPECT_TRUE(Read("s.txt").starts_with("Index\tKind\tMessage Type\t\r\n\r\n1\t")) << Read("s.txt");
    EXPECT_EQ(Lines(Read("s.txt")), 2u + 30u);

    // CSV by --format or by OUT's extension, HTML by --format; standard output gives the same bytes.
    ASSERT_EQ(Vkl({"convert", log, "--format", "csv", "--columns", columns}).status, 0);
    const std::string csv = Read("s.csv");
    EXPECT_TRUE(csv.starts_with("Index,Kind,Message Type,\r\n\r\n1,")) << csv;
    ASSERT_EQ(Vkl({"convert", log, "-o", tmp / "x.csv", "--columns", columns}).status, 0);
    EXPECT_EQ(Read("x.csv"), csv);
    EXPECT_EQ(Vkl({"convert", log, "-o", "-", "--format", "csv", "--columns", columns}).out, csv);
    ASSERT_EQ(Vkl({"convert", log, "--format", "html", "--columns", "Index"}).status, 0);
    const std::string page = Read("s.html");
    EXPECT_TRUE(page.starts_with("<html>\r\n") && page.ends_with("</table>\r\n</body>\r\n</html>\r\n")) << page;

    // The range as typed, the filter, and the dialog's tree with and without --sort.
    r = Vkl({"convert", log, "-o", "-", "--columns", "Index", "--from", " 5", "--to", "+6x"});
    EXPECT_EQ(r.out, "Index\t\r\n\r\n5\t\r\n6\t\r\n");
    r = Vkl({"convert", log, "-o", "-", "--columns", "Kind,Message Type", "--exclude-types", "6,0x10"});
    EXPECT_FALSE(Has(r.out, "\n1\t6\t") || Has(r.out, "\n1\t16\t")) << r.out;
    EXPECT_EQ(Vkl({"columns"}).out,
              "Index\nPC Time Stamp\nDevice\nKind\nMessage Type\nSignal\nSignal ID\nLength\nDecoded\nData\n");
    EXPECT_TRUE(Vkl({"columns", "--sort", "alpha"}).out.starts_with("Index\nData\nDecoded\n"));

    // --sync: the columns in the order given, empty names too; --raw and --keep-commas.
    r = Vkl({"convert", log, "--sync", "--raw", "-o", tmp / "raw.csv", "--keep-commas", "--columns", "Data,,Index"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "vkl: Conversion Finished.\n");
    EXPECT_TRUE(Read("raw.csv").starts_with("Data,Index,\r\n\r\n")) << Read("raw.csv");
    EXPECT_EQ(Lines(Read("raw.csv")), 2u + 30u);
}

TEST_F(VklConvertTest, BadInputsAndTheirExitStatus)
{
    WriteAll(tmp / "exists.html", {'k'});
    WriteAll(tmp / "text.vkl", {'h', 'e', 'l', 'l', 'o', ',', ' ', 'w', 'o', 'r', 'l', 'd', '\n'});
    const char* reading = "Error opening log file for reading.";
    const Env full = {{"VKL_SHIM_MATCH", ".txt"}, {"VKL_SHIM_ENOSPC_AT", "1"}};
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* says;
        bool diskFull = false;
    };
    // OUT is checked and cleaned up the same way for every format: one of each refusal.
    const Case cases[] = {
        {{"convert", tmp / "missing.vkl", "--format", "html"}, 1, reading},
        {{"--no", "convert", tmp / "text.vkl"}, 1, reading},
        {{"convert", log, "-o", tmp / "exists.html"}, 1, "exists; not replaced"},
        {{"convert", log, "-o", tmp / "no/such/dir.txt"}, 1, "Error opening file for writing."},
        {{"convert", log, "-o", tmp / "r.txt", "--from", "7", "--to", "3"}, 1, "Index's end is greater"},
        {{"convert", log, "-o", tmp / "d.txt"}, 1, "Error writing log file. No space left on device", true},
        {{"convert", log, "-o", log, "--force"}, 2, "is the file being converted"},
        {{"convert", log, "-o", tmp / "u.txt", "--columns", "Index,Symbol"}, 2, "column 'Symbol' is not offered"},
        {{"convert", log, "-o", tmp / "n.txt", "--columns", ""}, 2, "--columns names no column"},
        {{"convert", log, "--sync", "--from", "1"}, 2, "--sync converts every message"},
        {{"convert", log, "-o", tmp / "y.html", "--sync"}, 2, "--sync writes text or CSV"},
        {{"convert", log, "-o", tmp / "k.html", "--keep-commas"}, 2, "--keep-commas is for CSV"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[1] + " " + c.args.back());
        ExpectFails(c.args, c.status, c.says, c.diskFull ? WithShim(full) : Env{});
    }
    // Nothing left behind by a conversion that never started; nothing replaced.
    for (const char* name : {"r.txt", "u.txt", "n.txt", "missing.html", "text.txt", "s.txt", "y.html", "k.html"})
        EXPECT_FALSE(FileExists(tmp / name)) << name;
    EXPECT_EQ(Read("exists.html"), "k");
    EXPECT_EQ(Vkl({"info", log}).status, 0);
}

TEST_F(VklConvertTest, OnATerminalTheDialogIsDrawnFromItsTemplate)
{
    const auto [status, shown] = OnTerminal(Args({"convert", log, "-o", tmp / "t.txt"}), "2 4\n\n");
    EXPECT_EQ(status, 0) << shown;
    for (const char* part : {"Select Columns", "Sort : <According to Viewer>", "  1 [ ] Index", "  2 [x] PC Time Stamp",
                             "[Check All] [Uncheck All]", "Index: [0] ~ [0]", "[Save] [Cancel]"})
        EXPECT_TRUE(Has(shown, part)) << part << "\n" << shown;
    EXPECT_TRUE(Read("t.txt").starts_with("PC Time Stamp\tKind\t\r\n\r\n")) << Read("t.txt");

    const auto [cancelled, said] = OnTerminal(Args({"convert", log, "-o", tmp / "c.txt"}), "c\n");
    EXPECT_EQ(cancelled, 1);
    EXPECT_TRUE(Has(said, "not converted (cancelled)")) << said;
    EXPECT_FALSE(FileExists(tmp / "c.txt"));
}

TEST_F(VklConvertTest, CtrlCStopsAfterWholeLines)
{
    std::vector<Bytes> records;
    for (uint64_t i = 1; i <= 300000; ++i) records.push_back(RecordBytes(i, TypedData(6, Bytes(40, 0x11))));
    WriteAll(tmp / "big.vkl", LogBytes(records));
    // Ctrl-C at the output's second write: status 130 after the worker's normal end.
    for (const char* out : {"big.txt", "big.html"}) {
        const ProcessResult r = Vkl({"convert", tmp / "big.vkl", "-o", tmp / out, "--columns", "Index,Data"},
                                    WithShim({{"VKL_SHIM_MATCH", out}, {"VKL_SHIM_SIGINT_AT", "2"}}));
        EXPECT_EQ(r.status, 130) << r.err;
        EXPECT_EQ(r.err, "vkl: Conversion Finished.\n");
    }
    // Whole lines, and a page with its closing tags, short of the last message.
    const std::string text = Read("big.txt"), page = Read("big.html");
    EXPECT_LT(Lines(text), 2u + 300000u);
    EXPECT_TRUE(text.ends_with("\t\r\n"));
    EXPECT_FALSE(Has(page, ">300000</font>"));
    EXPECT_TRUE(page.ends_with("</tr>\r\n</table>\r\n</body>\r\n</html>\r\n"));
}

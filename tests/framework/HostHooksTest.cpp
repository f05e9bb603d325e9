// Message boxes, the processor-fault translator, the module chain and program launch.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "framework/Exceptions.h"
#include "framework/Launcher.h"
#include "framework/Module.h"
#include "framework/SeTranslator.h"
#include "tests/support/TestEnv.h"

namespace {

TEST(MessageBoxTest, GoesToTheInstalledHandlerAndBackToTheDefault)
{
    std::vector<std::string> seen;  // text|caption|type
    MessageBoxHandler previous = SetMessageBoxHandler([&](const MessageBoxRequest& r) {
        seen.push_back(r.text.str() + "|" + r.caption.str() + "|" + std::to_string(r.type));
        return IDNO;
    });
    EXPECT_EQ(AfxMessageBox("File might be corrupt - Do you want to repair it?", MB_YESNO), IDNO);
    EXPECT_EQ(AfxMessageBox("Failed", "Error in - Use Custom Resource", MB_OK | MB_ICONSTOP), IDNO);
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "File might be corrupt - Do you want to repair it?||" + std::to_string(MB_YESNO),
                        "Failed|Error in - Use Custom Resource|" + std::to_string(MB_OK | MB_ICONSTOP)}));
    // An empty handler restores the default, which answers with the default button.
    SetMessageBoxHandler(nullptr);
    EXPECT_EQ(AfxMessageBox("question\non two lines", MB_YESNO | MB_DEFBUTTON2), IDNO);
    EXPECT_EQ(AfxMessageBox("question", MB_YESNOCANCEL | MB_ICONQUESTION), IDYES);
    EXPECT_EQ(seen.size(), 2u);
    SetMessageBoxHandler(std::move(previous));
}

void OtherTranslator(unsigned int) {}

TEST(SeTranslatorTest, ScopeTranslatesNestsAndRestoresOnItsThreadOnly)
{
    SetSeTranslator(&OtherTranslator);
    {
        CSeTranslatorScope scope;
        EXPECT_NE(GetSeTranslator(), &OtherTranslator);
        try {
            RaiseProcessorFault(EXCEPTION_ACCESS_VIOLATION);
        } catch (const SE_Exception& e) {
            EXPECT_EQ(e.GetSeNumber(), EXCEPTION_ACCESS_VIOLATION);
            EXPECT_EQ(e.GetErrorMessage(), "processor exception 0xC0000005");
        }
        {
            CSeTranslatorScope inner;
            EXPECT_THROW(RaiseProcessorFault(EXCEPTION_INT_DIVIDE_BY_ZERO), SE_Exception);
        }
        EXPECT_THROW(RaiseProcessorFault(EXCEPTION_INT_DIVIDE_BY_ZERO), SE_Exception);
        SeTranslatorFunction there = &OtherTranslator;
        std::thread([&] { there = GetSeTranslator(); }).join();
        EXPECT_EQ(there, nullptr);
    }
    EXPECT_EQ(GetSeTranslator(), &OtherTranslator);
    SetSeTranslator(nullptr);
}

TEST(ModuleTest, ChainJoinedAndLeftByExtensionModules)
{
    // The library put itself into the chain when it was loaded.
    const HINSTANCE self = GetModuleHandle("logger.DLL");
    ASSERT_NE(self, nullptr);
    EXPECT_EQ(self->name, "Logger.dll");

    static const ModuleInfo probe{"Probe.dll"};
    AFX_EXTENSION_MODULE state;
    EXPECT_FALSE(AfxInitExtensionModule(state, nullptr));
    ASSERT_TRUE(AfxInitExtensionModule(state, &probe));
    {
        CDynLinkLibrary lib(state);
        EXPECT_EQ(GetModuleHandle("PROBE.DLL"), &probe);
        EXPECT_EQ(GetModuleHandle("Probe"), nullptr);
        EXPECT_EQ(GetModuleHandle("Logger.dll"), self);
    }
    EXPECT_EQ(GetModuleHandle("Probe.dll"), nullptr);
    EXPECT_FALSE(IsInResourceChain(&probe));
    EXPECT_TRUE(IsInResourceChain(self));
    AfxTermExtensionModule(state);
}

// An installed launcher and the arguments it gets: GkiConversionTest (the error file opened
// in Notepad). The default spawns without a shell: a name with a space, a "$" and a ";"
// arrives intact. cp copies that file into a pipe read here (the time-out only keeps a
// broken spawn from hanging the run).
TEST(LauncherTest, TheDefaultSpawnsWithoutAShell)
{
    ProgramLauncher previous = SetProgramLauncher(nullptr);
    TempDir tmp;
    const std::string name = tmp / "with space $HOME;x.txt", fifo = tmp / "fifo";
    WriteAll(name, {'i', 'n', 't', 'a', 'c', 't'});
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int in = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(in, 0);
    ASSERT_TRUE(LaunchProgram({"cp", name, fifo}));
    pollfd p{in, POLLIN, 0};
    char text[16] = {};
    EXPECT_EQ(::poll(&p, 1, 60000), 1);
    EXPECT_EQ(::read(in, text, sizeof(text) - 1), 6);
    EXPECT_STREQ(text, "intact");
    ::close(in);
    EXPECT_FALSE(LaunchProgram({"no-such-program-for-vkl-tests"}));
    EXPECT_FALSE(LaunchProgram({}));
    SetProgramLauncher(std::move(previous));
}

}  // namespace

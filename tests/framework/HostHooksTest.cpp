// Message boxes, the processor-fault translator, the module chain, program launch, and
// the CString operations the library leans on.
#include <gtest/gtest.h>

#include <cerrno>
#include <poll.h>
#include <string>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "framework/Exceptions.h"
#include "framework/Launcher.h"
#include "framework/MessageBox.h"
#include "framework/Module.h"
#include "framework/SeTranslator.h"
#include "framework/String.h"
#include "tests/support/TestEnv.h"

namespace {

TEST(MessageBoxTest, GoesToTheInstalledHandlerAndBackToTheDefault)
{
    std::vector<MessageBoxRequest> seen;
    MessageBoxHandler previous = SetMessageBoxHandler([&](const MessageBoxRequest& r) {
        seen.push_back(r);
        return IDNO;
    });
    EXPECT_EQ(AfxMessageBox("File might be corrupt - Do you want to repair it?", MB_YESNO), IDNO);
    EXPECT_EQ(AfxMessageBox("Failed", "Error in - Use Custom Resource", MB_OK | MB_ICONSTOP), IDNO);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].text, "File might be corrupt - Do you want to repair it?");
    EXPECT_EQ(seen[0].caption, "");
    EXPECT_EQ(seen[0].type, MB_YESNO);
    EXPECT_EQ(seen[1].caption, "Error in - Use Custom Resource");
    EXPECT_EQ(seen[1].type, MB_OK | MB_ICONSTOP);

    // An empty handler restores the default, which answers with the default button.
    SetMessageBoxHandler(nullptr);
    EXPECT_EQ(AfxMessageBox("question\non two lines", MB_YESNO | MB_DEFBUTTON2), IDNO);
    EXPECT_EQ(AfxMessageBox("question", MB_YESNOCANCEL | MB_ICONQUESTION), IDYES);
    EXPECT_EQ(seen.size(), 2u);
    SetMessageBoxHandler(std::move(previous));
}

void OtherTranslator(unsigned int) {}

TEST(SeTranslatorTest, ScopeTranslatesAndRestoresOnEveryWayOut)
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
    }
    EXPECT_EQ(GetSeTranslator(), &OtherTranslator);

    // Left by an exception.
    try {
        CSeTranslatorScope scope;
        RaiseProcessorFault(EXCEPTION_ACCESS_VIOLATION);
    } catch (const CException&) {
    }
    EXPECT_EQ(GetSeTranslator(), &OtherTranslator);

    // Per thread: a scope on this thread is not seen by another.
    {
        CSeTranslatorScope scope;
        SeTranslatorFunction there = &OtherTranslator;
        std::thread([&] { there = GetSeTranslator(); }).join();
        EXPECT_EQ(there, nullptr);
    }
    SetSeTranslator(nullptr);
}

TEST(ModuleTest, ChainLookupAndResourceHandle)
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

        const HINSTANCE previous = AfxGetResourceHandle();
        AfxSetResourceHandle(GetModuleHandle("Probe.dll"));
        EXPECT_EQ(AfxGetResourceHandle(), &probe);
        AfxSetResourceHandle(previous);
        EXPECT_EQ(AfxGetResourceHandle(), previous);
    }
    EXPECT_EQ(GetModuleHandle("Probe.dll"), nullptr);
    EXPECT_FALSE(IsInResourceChain(&probe));
    EXPECT_TRUE(IsInResourceChain(self));
    AfxTermExtensionModule(state);
}

TEST(LauncherTest, InstalledLauncherGetsTheArgumentsAndTheDefaultSpawns)
{
    std::vector<std::string> got;
    ProgramLauncher previous = SetProgramLauncher([&](const std::vector<std::string>& argv) {
        got = argv;
        return false;
    });
    EXPECT_FALSE(LaunchProgram({"notepad", "C:\\Bin Logs\\GKIConversion.err"}));
    EXPECT_EQ(got, (std::vector<std::string>{"notepad", "C:\\Bin Logs\\GKIConversion.err"}));
    SetProgramLauncher(nullptr);

    // The default spawns without a shell: a name with a space and a "$" arrives intact.
    TempDir tmp;
    const std::string name = "with space $HOME;x.txt";
    const int in = ::inotify_init1(IN_CLOEXEC);
    ASSERT_GE(in, 0);
    ASSERT_GE(::inotify_add_watch(in, tmp.path().c_str(), IN_CLOSE_WRITE), 0);
    ASSERT_TRUE(LaunchProgram({"touch", tmp / name}));
    bool seen = false;
    while (!seen) {
        // The time-out only keeps a broken spawn from hanging the run.
        pollfd p{in, POLLIN, 0};
        if (::poll(&p, 1, 60000) <= 0) break;
        alignas(inotify_event) char buf[4096];
        const ssize_t n = ::read(in, buf, sizeof(buf));
        for (ssize_t off = 0; off < n;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(buf + off);
            if (ev->len && name == ev->name) seen = true;
            off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
        }
    }
    ::close(in);
    EXPECT_TRUE(seen);
    EXPECT_TRUE(FileExists(tmp / name));

    EXPECT_FALSE(LaunchProgram({"no-such-program-for-vkl-tests"}));
    EXPECT_FALSE(LaunchProgram({}));
    SetProgramLauncher(std::move(previous));
}

}  // namespace

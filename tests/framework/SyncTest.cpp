#include <atomic>
#include <thread>

#include "framework/Launcher.h"
#include "framework/MessageBox.h"
#include "framework/Module.h"
#include "framework/SeTranslator.h"
#include "framework/String.h"
#include "framework/Sync.h"
#include "framework/Window.h"
#include "tests/support/TestEnv.h"

TEST(Sync, EventsManualAndAutoReset)
{
    CEvent manual(true, true);
    EXPECT_TRUE(manual.Lock(0));
    EXPECT_TRUE(manual.Lock(0));  // stays signalled
    manual.ResetEvent();
    EXPECT_FALSE(manual.Lock(0));
    EXPECT_FALSE(manual.Lock(20));  // a time-out on an unsignalled event

    CEvent autoReset(false, false);
    EXPECT_FALSE(autoReset.Lock(0));
    autoReset.SetEvent();
    EXPECT_TRUE(autoReset.Lock(0));
    EXPECT_FALSE(autoReset.Lock(0));  // reset by the successful wait

    // A set from another thread wakes a waiter.
    CEvent go(false, true), done(false, true);
    std::thread t([&] {
        go.Lock();
        done.SetEvent();
    });
    go.SetEvent();
    EXPECT_TRUE(done.Lock(INFINITE));
    t.join();
}

TEST(Sync, CriticalSectionIsRecursiveAndThreadsReportTheirEnd)
{
    CCriticalSection cs;
    cs.Lock();
    EXPECT_TRUE(cs.TryLock());
    cs.Unlock();
    std::atomic<bool> other{true};
    std::thread([&] { other = cs.TryLock(); }).join();
    EXPECT_FALSE(other);
    cs.Unlock();

    CEvent release(false, true);
    std::atomic<DWORD> tid{0};
    auto thread = CWinThread::Start([&]() -> UINT {
        tid = GetCurrentThreadId();
        release.Lock();
        return 42;
    }, THREAD_PRIORITY_LOWEST);
    EXPECT_FALSE(thread->WaitForEnd(0));
    release.SetEvent();
    EXPECT_TRUE(thread->WaitForEnd(INFINITE));
    EXPECT_EQ(thread->GetExitCode(), 42u);
    EXPECT_EQ(thread->GetThreadId(), tid.load());
    EXPECT_NE(tid.load(), GetCurrentThreadId());
}

TEST(Sync, QueueWindowTakesPostedAndSentMessages)
{
    int handled = 0;
    CQueueWnd wnd([&](const WindowMessage& m) {
        ++handled;
        return static_cast<LRESULT>(m.wParam * 2);
    });
    std::thread poster([&] { wnd.PostMessage(WM_USER + 45, 1, 2); });
    EXPECT_TRUE(wnd.WaitFor(WM_USER + 45, INFINITE));
    poster.join();
    EXPECT_EQ(wnd.SendMessage(WM_USER + 46, 21, 0), 42);
    EXPECT_EQ(handled, 1);
    EXPECT_EQ(wnd.Count(WM_USER + 46), 1u);
    WindowMessage m;
    ASSERT_TRUE(wnd.GetMessage(m, 0));
    EXPECT_EQ(m.message, WM_USER + 46u);
    EXPECT_FALSE(wnd.GetMessage(m, 0));
}

TEST(Framework, MessageBoxesGoThroughTheInstalledHandler)
{
    EXPECT_EQ(DefaultMessageBoxAnswer(MB_YESNO), IDYES);
    EXPECT_EQ(DefaultMessageBoxAnswer(MB_YESNO | MB_DEFBUTTON2), IDNO);
    EXPECT_EQ(DefaultMessageBoxAnswer(MB_OK | MB_ICONERROR), IDOK);
    {
        RecordingMessageBoxes boxes;
        boxes.Answer(IDNO);
        EXPECT_EQ(AfxMessageBox("Question?", MB_YESNO | MB_ICONQUESTION), IDNO);
        EXPECT_EQ(AfxMessageBox("Told.", "Title", MB_OK), IDOK);
        const auto shown = boxes.Shown();
        ASSERT_EQ(shown.size(), 2u);
        EXPECT_EQ(shown[0].type, MB_YESNO | MB_ICONQUESTION);
        EXPECT_EQ(shown[1].caption, "Title");
    }
    // Back to the default handler: stderr and the default answer.
    testing::internal::CaptureStderr();
    EXPECT_EQ(AfxMessageBox("Two\nlines", MB_OK), IDOK);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Two lines\n");
}

TEST(Framework, TranslatorScopeTurnsFaultsIntoExceptionsAndRestores)
{
    EXPECT_EQ(GetSeTranslator(), nullptr);
    try {
        CSeTranslatorScope scope;
        EXPECT_NE(GetSeTranslator(), nullptr);
        RaiseProcessorFault(EXCEPTION_ACCESS_VIOLATION);
    } catch (const SE_Exception& e) {
        EXPECT_EQ(e.GetSeNumber(), EXCEPTION_ACCESS_VIOLATION);
    }
    EXPECT_EQ(GetSeTranslator(), nullptr);
    std::thread([] { EXPECT_EQ(GetSeTranslator(), nullptr); }).join();  // per thread
}

TEST(Framework, ModuleChainAndResourceHandle)
{
    // The library registers itself at load.
    HINSTANCE logger = GetModuleHandle("logger.DLL");
    ASSERT_NE(logger, nullptr);
    EXPECT_EQ(logger->name, "Logger.dll");
    EXPECT_EQ(GetModuleHandle("Other.dll"), nullptr);
    const HINSTANCE previous = AfxGetResourceHandle();
    AfxSetResourceHandle(logger);
    EXPECT_EQ(AfxGetResourceHandle(), logger);
    AfxSetResourceHandle(previous);
    EXPECT_EQ(AfxGetResourceHandle(), previous);
}

TEST(Framework, ProgramLaunchWithoutAShell)
{
    std::vector<std::string> seen;
    ProgramLauncher previous = SetProgramLauncher([&](const std::vector<std::string>& argv) {
        seen = argv;
        return true;
    });
    EXPECT_TRUE(LaunchProgram({"notepad", "C:\\Bin Logs\\GKIConversion.err"}));
    EXPECT_EQ(seen, (std::vector<std::string>{"notepad", "C:\\Bin Logs\\GKIConversion.err"}));
    SetProgramLauncher(std::move(previous));

    TempDir tmp;
    const std::string target = tmp / "a file; with spaces";
    ASSERT_TRUE(LaunchProgram({"touch", target}));
    for (int i = 0; i < 500 && !FileExists(target); ++i) usleep(10000);  // the program runs on its own
    EXPECT_TRUE(FileExists(target));
    EXPECT_FALSE(LaunchProgram({"/no/such/program"}));
}

TEST(Framework, StringOperations)
{
    CString s;
    s.Format("%s-%03d", "Log", 7);
    EXPECT_EQ(s, "Log-007");
    EXPECT_EQ(s.Left(3), "Log");
    EXPECT_EQ(s.Left(99), "Log-007");
    EXPECT_EQ(s.Right(3), "007");
    EXPECT_EQ(s.Mid(4), "007");
    EXPECT_EQ(s.Mid(4, 1), "0");
    EXPECT_EQ(s.Mid(40), "");
    EXPECT_EQ(s.Find('-'), 3);
    EXPECT_EQ(s.Find("07"), 5);
    EXPECT_EQ(s.Find('x'), -1);
    EXPECT_EQ(CString("a\\b\\c").ReverseFind('\\'), 3);
    CString r = "a,b,,c";
    EXPECT_EQ(r.Replace(",", ";"), 3);
    EXPECT_EQ(r, "a;b;;c");
    EXPECT_EQ(CString("ABC").CompareNoCase("abc"), 0);
    EXPECT_NE(CString("ABC").Compare("abc"), 0);
    EXPECT_TRUE(CString().IsEmpty());
    EXPECT_EQ(CString("x", 0).GetLength(), 0);
}

// The program itself: it runs the main dialog and ends with it.
#include "TestEnv.h"
#include "resource.h"

#include <gtest/gtest.h>

namespace {
struct WindowSearch
{
    DWORD pid;
    HWND found;
};

BOOL CALLBACK OnTopWindow(HWND h, LPARAM lp)
{
    WindowSearch* s = reinterpret_cast<WindowSearch*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    char cls[32] = {};
    GetClassNameA(h, cls, sizeof cls);
    if (pid != s->pid || lstrcmpA(cls, "#32770") != 0 || !GetDlgItem(h, IDC_DEVICE_TREE))
        return TRUE;
    s->found = h;
    return FALSE;
}
}

TEST(BrevantonProgram, RunsTheMainDialogAndEndsWithIt)
{
    std::string exe = TestBinDir() + "\\Brevanton.exe";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::string cmd = "\"" + exe + "\"";
    ASSERT_TRUE(CreateProcessA(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        << GetLastError();
    WindowSearch s = {pi.dwProcessId, nullptr};
    bool up = WaitFor(
        [&] {
            EnumWindows(OnTopWindow, reinterpret_cast<LPARAM>(&s));
            return s.found != nullptr;
        },
        60000);
    EXPECT_TRUE(up) << "the main dialog of the program";
    if (up)
        PostMessageA(s.found, WM_COMMAND, MAKEWPARAM(IDC_EXIT, BN_CLICKED), 0);
    else
        TerminateProcess(pi.hProcess, 99);
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 60000), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeProcess(pi.hProcess, &code);
    EXPECT_EQ(code, 0u);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
}

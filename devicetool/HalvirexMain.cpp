// Halvirex: the device enable tool (x64 console program).
#include "Fx.h"
#include "Halvirex.h"

#include <cstdio>

namespace {
// The framework's initialisation needs an application object; the tool uses nothing else of it.
CWinApp theApp;

CShowMessage g_showMessage;
// The device state and machine connection live for the whole (single) run.
CPortDeviceControl g_control(Win32DeviceStateApi(), g_showMessage, DEVCTL_TOOL);

// "심각한 오류: MFC를 초기화하지 못했습니다." in code page 949, as the tool has always written it.
const char kInitFailed[] = "\xbd\xc9\xb0\xa2\xc7\xd1 \xbf\xc0\xb7\xf9: MFC\xb8\xa6 \xc3\xca\xb1\xe2\xc8\xad"
                           "\xc7\xcf\xc1\xf6 \xb8\xf8\xc7\xdf\xbd\xc0\xb4\xcf\xb4\xd9.";
} // namespace

int main(int argc, char** argv)
{
    if (!AfxWinInit(GetModuleHandleA(nullptr), nullptr, GetCommandLineA(), 0)) {
        std::fputs(kInitFailed, stdout);
        std::fputs("\n", stdout);
        return 1;
    }
    return HalvirexRun(argc, argv, g_control, g_showMessage);
}

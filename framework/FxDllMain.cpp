// Compiled into each DLL (not into programs): runs the module's application object.
#include "FxApp.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE hinst, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(hinst);
        if (!AfxWinInit(hinst, nullptr, nullptr, 0))
            return FALSE;
        CWinApp* app = AfxGetApp();
        return app ? app->InitInstance() : TRUE;
    }
    if (reason == DLL_PROCESS_DETACH) {
        if (CWinApp* app = AfxGetApp())
            app->ExitInstance();
    }
    return TRUE;
}

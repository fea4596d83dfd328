// The application object: one per module, constructed statically. In a DLL the framework's
// DllMain calls InitInstance on load and ExitInstance on unload; a program calls AfxWinInit
// and then its own InitInstance.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include "FxObject.h"

class CWinApp : public CObject
{
public:
    explicit CWinApp(LPCSTR appName = nullptr);
    ~CWinApp() override;

    virtual BOOL InitInstance() { return TRUE; }
    virtual int ExitInstance() { return 0; }

    LPCSTR m_pszAppName;
    HINSTANCE m_hInstance = nullptr;
};

CWinApp* AfxGetApp();
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();
// Framework start-up for a program: FALSE when the framework cannot start.
BOOL AfxWinInit(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR cmdLine, int nCmdShow);
#endif

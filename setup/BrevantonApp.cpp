// Brevanton: the setup utility program. Its application object runs the main dialog modally and
// the program ends when it closes.
#include "BrevantonDlg.h"
#include "FxApp.h"

#include <commctrl.h>
#include <ole2.h>

class CBrevantonApp : public CWinApp
{
public:
    CBrevantonApp() : CWinApp("Brevanton") {}
    BOOL InitInstance() override;
};

CBrevantonApp theApp;

BOOL CBrevantonApp::InitInstance()
{
    // The Control Objects are hosted as ActiveX controls: OLE on this thread first.
    HRESULT ole = OleInitialize(nullptr);
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    {
        CBrevantonDlg dlg;
        dlg.DoModal();
    }
    if (SUCCEEDED(ole))
        OleUninitialize();
    return FALSE;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR cmdLine, int show)
{
    if (!AfxWinInit(instance, previous, cmdLine, show))
        return 1;
    CWinApp* app = AfxGetApp();
    if (app && app->InitInstance())
        return 0;
    return app ? app->ExitInstance() : 0;
}

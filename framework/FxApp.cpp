#include "FxApp.h"

namespace {
CWinApp* g_app = nullptr;
HINSTANCE g_instance = nullptr;
}

CWinApp::CWinApp(LPCSTR appName) : m_pszAppName(appName) { g_app = this; }

CWinApp::~CWinApp()
{
    if (g_app == this)
        g_app = nullptr;
}

CWinApp* AfxGetApp() { return g_app; }

HINSTANCE AfxGetInstanceHandle() { return g_instance ? g_instance : GetModuleHandleA(nullptr); }

HINSTANCE AfxGetResourceHandle() { return AfxGetInstanceHandle(); }

BOOL AfxWinInit(HINSTANCE hInstance, HINSTANCE, LPSTR, int)
{
    g_instance = hInstance ? hInstance : GetModuleHandleA(nullptr);
    if (g_app)
        g_app->m_hInstance = g_instance;
    return g_instance != nullptr;
}

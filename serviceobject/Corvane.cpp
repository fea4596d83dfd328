// Corvane: the in-process COM server of the label printer Service Object.
#include "FxApp.h"
#include "FxOle.h"
#include "LABELPrinter.h"

class CCorvanePrinterApp : public CWinApp
{
public:
    CCorvanePrinterApp() : CWinApp("Corvane") {}
    ~CCorvanePrinterApp() override {}
    BOOL InitInstance() override
    {
        COleObjectFactory::RegisterAll();
        return TRUE;
    }
};

CCorvanePrinterApp theApp;

namespace {
COleObjectFactory g_factory(CLSID_LABELPrinter, RUNTIME_CLASS(CLABELPrinter), &CLABELPrinter::CreateObject, FALSE,
                            LABELPRINTER_PROGID);
}

extern "C" {

HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* ppv)
{
    return COleObjectFactory::GetClassObject(clsid, iid, ppv);
}

HRESULT WINAPI DllCanUnloadNow() { return AfxOleCanExitApp() ? S_OK : S_FALSE; }

// A failed registry write is reported, so an installer sees it.
HRESULT WINAPI DllRegisterServer() { return COleObjectFactory::UpdateRegistryAll(TRUE, "Apartment"); }

HRESULT WINAPI DllUnregisterServer() { return COleObjectFactory::UpdateRegistryAll(FALSE); }

} // extern "C"

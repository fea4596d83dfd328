// The test Control Object. It knows the POSPrinter Service Object's methods by name, with the
// argument kinds standard Control Objects pass and the version from which each must exist.
#include "TestControlObject.h"

#include "FxApp.h"
#include "FxOle.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kClassKey[] = "Software\\OLEforRetail\\ServiceOPOS\\POSPrinter";

// Argument kinds: i long, s text, b boolean (VT_BOOL), d this Control Object's IDispatch,
// p long by reference, q BSTR by reference.
struct SoMethod
{
    const char* name;
    const char* lookupFirst;  // asked before the name itself, when not NULL
    const char* kinds;
    int sinceMinor;           // required from this minor version of 1.x on
};

const SoMethod kMethods[] = {
    {"PageModePrint", nullptr, "i", 9},
    {"Close", "CloseService", "", 0},
    {"GetPropertyNumber", nullptr, "i", 0},
    {"SetPropertyNumber", nullptr, "ii", 0},
    {"GetPropertyString", nullptr, "i", 0},
    {"SetPropertyString", nullptr, "is", 0},
    {"OpenService", nullptr, "ssd", 0},
    {"ClaimDevice", nullptr, "i", 0},
    {"Claim", nullptr, "i", 0},
    {"ReleaseDevice", nullptr, "", 0},
    {"Release", nullptr, "", 0},
    {"CheckHealth", nullptr, "i", 0},
    {"DirectIO", nullptr, "ipq", 0},
    {"COFreezeEvents", nullptr, "b", 0},
    {"ClearOutput", nullptr, "", 0},
    {"BeginInsertion", nullptr, "i", 0},
    {"BeginRemoval", nullptr, "i", 0},
    {"EndInsertion", nullptr, "", 0},
    {"EndRemoval", nullptr, "", 0},
    {"CutPaper", nullptr, "i", 0},
    {"PrintBarCode", nullptr, "isiiiii", 0},
    {"PrintBitmap", nullptr, "isii", 0},
    {"PrintImmediate", nullptr, "is", 0},
    {"PrintNormal", nullptr, "is", 0},
    {"PrintTwoNormal", nullptr, "iss", 0},
    {"RotatePrint", nullptr, "ii", 0},
    {"SetBitmap", nullptr, "iisii", 0},
    {"SetLogo", nullptr, "is", 0},
    {"TransactionPrint", nullptr, "ii", 0},
    {"ValidateData", nullptr, "is", 0},
    {"ChangePrintSide", nullptr, "i", 5},
    {"MarkFeed", nullptr, "i", 5},
    {"ResetStatistics", nullptr, "s", 8},
    {"RetrieveStatistics", nullptr, "q", 8},
    {"UpdateStatistics", nullptr, "s", 8},
    {"CompareFirmwareVersion", nullptr, "sp", 9},
    {"UpdateFirmware", nullptr, "s", 9},
    {"ClearPrintArea", nullptr, "", 9},
    {"PrintMemoryBitmap", nullptr, "isiii", 10},
    {"DrawRuledLine", nullptr, "isiiii", 13},
};
const int kMethodCount = int(sizeof kMethods / sizeof kMethods[0]);

int MethodIndex(const char* name)
{
    for (int i = 0; i < kMethodCount; ++i)
        if (_stricmp(kMethods[i].name, name) == 0)
            return i;
    return -1;
}

bool ReadString(HKEY root, const char* key, const char* name, std::string& out)
{
    HKEY k = nullptr;
    if (RegOpenKeyExA(root, key, 0, KEY_READ, &k) != ERROR_SUCCESS)
        return false;
    char buf[1024];
    DWORD type = 0, size = sizeof buf - 1;
    LONG r = RegQueryValueExA(k, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(k);
    if (r != ERROR_SUCCESS || type != REG_SZ)
        return false;
    buf[size] = 0;
    out = buf;
    return true;
}

} // namespace

class CTestControlObject : public CCmdTarget, public ITestControlObject
{
public:
    CTestControlObject()
    {
        InitializeCriticalSection(&m_lock);
        m_window = CreateCallWindow();
        AfxOleLockApp();
    }
    ~CTestControlObject() override
    {
        ReleaseService();
        if (m_window)
            DestroyWindow(m_window);
        DeleteCriticalSection(&m_lock);
        AfxOleUnlockApp();
    }
    static CCmdTarget* Create() { return new CTestControlObject; }

    const FX_DISPMAP* GetDispatchMap() const override;
    void* GetInterfaceHook(REFIID iid) override
    {
        return IsEqualIID(iid, IID_ITestControlObject) ? static_cast<ITestControlObject*>(this) : nullptr;
    }
    const FX_DISPMAP_ENTRY* FindDispEntry(const wchar_t* name) const override
    {
        char narrow[64] = "";
        WideCharToMultiByte(CP_ACP, 0, name, -1, narrow, sizeof narrow, nullptr, nullptr);
        if (!m_hidden.empty() && _stricmp(narrow, m_hidden.c_str()) == 0)
            return nullptr;
        return CCmdTarget::FindDispEntry(name);
    }

    // IUnknown of the test interface: the object's own.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override { return ExternalQueryInterface(iid, ppv); }
    ULONG STDMETHODCALLTYPE AddRef() override { return ExternalAddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return ExternalRelease(); }

    long STDMETHODCALLTYPE Open(const char* deviceName) override;
    long STDMETHODCALLTYPE Close() override;
    void STDMETHODCALLTYPE ReleaseService() override
    {
        if (m_so)
            m_so->Release();
        m_so = nullptr;
    }
    long STDMETHODCALLTYPE Call(const char* method, int argc, VARIANT* args, VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE LastInvokeResult() override { return m_lastHr; }
    IDispatch* STDMETHODCALLTYPE Service() override { return m_so; }
    int STDMETHODCALLTYPE LookupCount() override { return int(m_lookups.size()); }
    BOOL STDMETHODCALLTYPE GetLookup(int index, char* text, int size) override
    {
        if (index < 0 || index >= int(m_lookups.size()) || !text || size <= 0)
            return FALSE;
        std::snprintf(text, size_t(size), "%s", m_lookups[size_t(index)].c_str());
        return TRUE;
    }
    void STDMETHODCALLTYPE HideCallback(const char* name) override { m_hidden = name ? name : ""; }
    void STDMETHODCALLTYPE SetErrorResponse(long response) override { m_errorResponse = response; }
    void STDMETHODCALLTYPE CloseInCallback(const char* name) override { m_closeIn = name ? name : ""; }
    long STDMETHODCALLTYPE CloseResult() override { return m_closeResult; }
    void STDMETHODCALLTYPE SetListener(ITestCoListener* listener) override { m_listener = listener; }
    int STDMETHODCALLTYPE EventCount() override
    {
        EnterCriticalSection(&m_lock);
        int n = int(m_events.size());
        LeaveCriticalSection(&m_lock);
        return n;
    }
    BOOL STDMETHODCALLTYPE GetEvent(int index, TestCoEvent* event) override
    {
        EnterCriticalSection(&m_lock);
        BOOL ok = index >= 0 && index < int(m_events.size()) && event;
        if (ok)
            *event = m_events[size_t(index)];
        LeaveCriticalSection(&m_lock);
        return ok;
    }
    BOOL STDMETHODCALLTYPE WaitForEvents(int count, DWORD timeoutMs) override
    {
        DWORD start = GetTickCount();
        for (;;) {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            if (EventCount() >= count)
                return TRUE;
            DWORD spent = GetTickCount() - start;
            if (spent >= timeoutMs)
                return EventCount() >= count;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs - spent < 50 ? timeoutMs - spent : 50, QS_ALLINPUT);
        }
    }

    // The application's side, by dispatch id as hosting dialogs call it.
    long AppOpen(const char* deviceName) { return Open(deviceName); }
    long AppClose() { return Close(); }
    long AppClaimDevice(long timeout) { return CallI4("ClaimDevice", timeout); }
    long AppReleaseDevice() { return Call("ReleaseDevice", 0, nullptr, nullptr); }
    long AppCheckHealth(long level) { return CallI4("CheckHealth", level); }

    // The callbacks the Service Object makes.
    void SODirectIO(long eventNumber, long* data, BSTR* string)
    {
        Fire("SODirectIO", eventNumber, data ? *data : 0, 0, 0, nullptr, data, string);
    }
    void SOError(long resultCode, long resultCodeExtended, long errorLocus, long* response)
    {
        Fire("SOError", resultCode, resultCodeExtended, errorLocus, response ? *response : 0, response);
    }
    void SOOutputComplete(long outputId) { Fire("SOOutputComplete", outputId, 0, 0, 0, nullptr); }
    void SOStatusUpdate(long data) { Fire("SOStatusUpdate", data, 0, 0, 0, nullptr); }

private:
    long CallI4(const char* method, long value)
    {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = value;
        return Call(method, 1, &v, nullptr);
    }
    struct PendingCall
    {
        CTestControlObject* self;
        TestCoEvent event;
        long* response;
        long* data;
        BSTR* text;
    };

    // On this object's thread at once; from any other thread through the call window, which
    // holds the caller until this thread pumps messages.
    void Fire(const char* name, long a, long b, long c, long d, long* response, long* data = nullptr,
              BSTR* text = nullptr)
    {
        PendingCall call = {this, {}, response, data, text};
        std::snprintf(call.event.name, sizeof call.event.name, "%s", name);
        call.event.args[0] = a;
        call.event.args[1] = b;
        call.event.args[2] = c;
        call.event.args[3] = d;
        call.event.threadId = GetCurrentThreadId();
        if (GetCurrentThreadId() == m_threadId || !m_window)
            Deliver(call);
        else
            SendMessageA(m_window, WM_APP, 0, reinterpret_cast<LPARAM>(&call));
    }
    void Deliver(PendingCall& call)
    {
        call.event.firedOn = GetCurrentThreadId();
        if (call.response && m_errorResponse != -1)
            *call.response = m_errorResponse;
        EnterCriticalSection(&m_lock);
        m_events.push_back(call.event);
        LeaveCriticalSection(&m_lock);
        if (m_listener)
            m_listener->OnServiceEvent(call.event, call.response, call.data, call.text);
        if (!m_closeIn.empty() && m_closeIn == call.event.name && m_so) {
            m_closeIn.clear();
            m_closeResult = Close();
        }
    }
    static LRESULT CALLBACK CallWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
    {
        if (msg == WM_APP && lp) {
            PendingCall* call = reinterpret_cast<PendingCall*>(lp);
            call->self->Deliver(*call);
            return 0;
        }
        return DefWindowProcA(hwnd, msg, wp, lp);
    }
    static HWND CreateCallWindow()
    {
        static ATOM atom = 0;
        if (!atom) {
            WNDCLASSA wc = {};
            wc.lpfnWndProc = CallWindowProc;
            wc.hInstance = AfxGetInstanceHandle();
            wc.lpszClassName = "VeskTestCOCalls";
            atom = RegisterClassA(&wc);
        }
        return CreateWindowExA(0, "VeskTestCOCalls", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, AfxGetInstanceHandle(),
                               nullptr);
    }
    DISPID Lookup(const char* name)
    {
        DISPID id = DISPID_UNKNOWN;
        FxGetDispID(m_so, name, CP_ACP, LOCALE_SYSTEM_DEFAULT, &id);
        char text[96];
        if (id == DISPID_UNKNOWN)
            std::snprintf(text, sizeof text, "%s=?", name);
        else
            std::snprintf(text, sizeof text, "%s=%ld", name, long(id));
        m_lookups.push_back(text);
        return id;
    }
    bool AllFound(int upToMinor) const
    {
        for (int i = 0; i < kMethodCount; ++i)
            if (kMethods[i].sinceMinor <= upToMinor && m_ids[i] == DISPID_UNKNOWN)
                return false;
        return true;
    }
    long Fail(long result, bool callClose)
    {
        if (callClose && m_so)
            Call("Close", 0, nullptr, nullptr);
        ReleaseService();
        return result;
    }

    IDispatch* m_so = nullptr;
    DISPID m_ids[kMethodCount] = {};
    std::vector<std::string> m_lookups;
    HRESULT m_lastHr = S_OK;
    std::string m_hidden;
    long m_errorResponse = -1;
    std::string m_closeIn;
    long m_closeResult = -1;
    CRITICAL_SECTION m_lock;
    std::vector<TestCoEvent> m_events;
    DWORD m_threadId = GetCurrentThreadId();
    HWND m_window = nullptr;
    ITestCoListener* m_listener = nullptr;
};

namespace {
const FX_DISPMAP_ENTRY kCoDispatch[] = {
    FX_DISP_FUNCTION(CTestControlObject, "CheckHealth", 31, AppCheckHealth),
    FX_DISP_FUNCTION(CTestControlObject, "ClaimDevice", 32, AppClaimDevice),
    FX_DISP_FUNCTION(CTestControlObject, "Close", 35, AppClose),
    FX_DISP_FUNCTION(CTestControlObject, "Open", 37, AppOpen),
    FX_DISP_FUNCTION(CTestControlObject, "ReleaseDevice", 38, AppReleaseDevice),
    FX_DISP_FUNCTION(CTestControlObject, "SODirectIO", 201, SODirectIO),
    FX_DISP_FUNCTION(CTestControlObject, "SOError", 202, SOError),
    FX_DISP_FUNCTION(CTestControlObject, "SOOutputComplete", 203, SOOutputComplete),
    FX_DISP_FUNCTION(CTestControlObject, "SOStatusUpdate", 204, SOStatusUpdate),
};
const FX_DISPMAP kCoDispatchMap = {kCoDispatch, int(sizeof kCoDispatch / sizeof kCoDispatch[0])};
}

const FX_DISPMAP* CTestControlObject::GetDispatchMap() const { return &kCoDispatchMap; }

long CTestControlObject::Open(const char* deviceName)
{
    if (m_so)
        return 106;
    std::string keyName = deviceName ? deviceName : "";
    std::string alias;
    if (ReadString(HKEY_LOCAL_MACHINE, kClassKey, keyName.c_str(), alias))
        keyName = alias;  // a logical name
    std::string progId;
    if (!ReadString(HKEY_LOCAL_MACHINE, (std::string(kClassKey) + "\\" + keyName).c_str(), nullptr, progId))
        return 109;
    wchar_t wide[256];
    MultiByteToWideChar(CP_ACP, 0, progId.c_str(), -1, wide, 256);
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(wide, &clsid)))
        return 104;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&m_so)))) {
        m_so = nullptr;
        return 104;
    }
    m_lookups.clear();
    for (int i = 0; i < kMethodCount; ++i) {
        m_ids[i] = DISPID_UNKNOWN;
        if (kMethods[i].lookupFirst)
            m_ids[i] = Lookup(kMethods[i].lookupFirst);
        if (m_ids[i] == DISPID_UNKNOWN)
            m_ids[i] = Lookup(kMethods[i].name);
    }
    if (!AllFound(0))
        return Fail(104, false);

    VARIANT args[3];
    for (VARIANT& v : args)
        VariantInit(&v);
    args[0].vt = VT_BSTR;
    args[0].bstrVal = SysAllocString(L"POSPrinter");
    args[1].vt = VT_BSTR;
    // A logical name is resolved here: the Service Object opens the device key's own name.
    args[1].bstrVal = FxStringToBstr(keyName.c_str());
    long r = Call("OpenService", 3, args, nullptr);
    VariantClear(&args[0]);
    VariantClear(&args[1]);
    if (r != 0)
        return Fail(r, false);  // released, never closed

    VARIANT idx;
    VariantInit(&idx);
    idx.vt = VT_I4;
    idx.lVal = 8;  // ServiceObjectVersion
    long version = Call("GetPropertyNumber", 1, &idx, nullptr);
    if (m_lastHr != S_OK || version / 1000000 != 1)
        return Fail(104, true);
    if (!AllFound(int(version / 1000 % 1000)))
        return Fail(104, true);
    return 0;
}

long CTestControlObject::Close()
{
    if (!m_so)
        return 101;
    long r = Call("Close", 0, nullptr, nullptr);
    ReleaseService();
    return r;
}

long CTestControlObject::Call(const char* method, int argc, VARIANT* args, VARIANT* result)
{
    if (result)
        VariantInit(result);
    int m = method ? MethodIndex(method) : -1;
    if (!m_so || m < 0 || m_ids[m] == DISPID_UNKNOWN) {
        m_lastHr = DISP_E_UNKNOWNNAME;
        return 104;
    }
    const char* kinds = kMethods[m].kinds;
    int n = int(strlen(kinds));
    if (argc != n || (n > 0 && !args)) {
        m_lastHr = DISP_E_BADPARAMCOUNT;
        return 104;
    }
    std::vector<VARIANT> rg(size_t(n > 0 ? n : 1));
    std::vector<bool> owned(rg.size(), false);
    for (VARIANT& v : rg)
        VariantInit(&v);
    HRESULT hr = S_OK;
    for (int i = 0; i < n && SUCCEEDED(hr); ++i) {
        VARIANT& dst = rg[size_t(n - 1 - i)];  // reversed, as every Control Object passes them
        VARIANT& src = args[i];
        switch (kinds[i]) {
        case 'i':
        case 's':
            hr = VariantChangeType(&dst, &src, 0, kinds[i] == 'i' ? VT_I4 : VT_BSTR);
            owned[size_t(n - 1 - i)] = true;
            break;
        case 'b': {
            VARIANT t;
            VariantInit(&t);
            hr = VariantChangeType(&t, &src, 0, VT_I4);
            dst.vt = VT_BOOL;
            dst.boolVal = SUCCEEDED(hr) && t.lVal ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        }
        case 'd':
            dst.vt = VT_DISPATCH;
            dst.pdispVal = GetIDispatch(TRUE);
            owned[size_t(n - 1 - i)] = true;
            break;
        case 'p':
        case 'q':
            dst = src;  // by reference, exactly as the application gave it
            break;
        }
    }
    VARIANT res;
    VariantInit(&res);
    if (SUCCEEDED(hr)) {
        DISPPARAMS dp = {n > 0 ? rg.data() : nullptr, nullptr, UINT(n), 0};
        EXCEPINFO ex = {};
        UINT argErr = 0;
        hr = m_so->Invoke(m_ids[m], IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &dp, &res, &ex, &argErr);
    }
    for (size_t i = 0; i < rg.size(); ++i)
        if (owned[i])
            VariantClear(&rg[i]);
    m_lastHr = hr;
    if (hr != S_OK) {  // S_FALSE too: only S_OK counts
        VariantClear(&res);
        return 104;
    }
    long rc = 0;
    if (res.vt == VT_I4)
        rc = res.lVal;
    if (result)
        *result = res;
    else
        VariantClear(&res);
    return rc;
}

class CTestCoApp : public CWinApp
{
public:
    CTestCoApp() : CWinApp("VeskTestCO") {}
    BOOL InitInstance() override { return COleObjectFactory::RegisterAll(); }
};

CTestCoApp theApp;

namespace {
COleObjectFactory g_factory(CLSID_TestControlObject, nullptr, &CTestControlObject::Create, FALSE, TESTCO_PROGID);
}

// The hostable controls (TestCoControls.cpp) drive a Service Object through one of these.
ITestControlObject* TestCoNewDriver()
{
    ITestControlObject* co = nullptr;
    CTestControlObject* o = new CTestControlObject;
    if (FAILED(o->ExternalQueryInterface(IID_ITestControlObject, reinterpret_cast<void**>(&co)))) {
        delete o;
        return nullptr;
    }
    return co;
}

HRESULT TestCoControlsGetClassObject(REFCLSID clsid, REFIID iid, void** ppv);
bool TestCoControlsAlive();
HRESULT TestCoControlsRegister(BOOL reg);

extern "C" {
HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* ppv)
{
    HRESULT hr = TestCoControlsGetClassObject(clsid, iid, ppv);
    if (hr != CLASS_E_CLASSNOTAVAILABLE)
        return hr;
    return COleObjectFactory::GetClassObject(clsid, iid, ppv);
}
HRESULT WINAPI DllCanUnloadNow() { return AfxOleCanExitApp() && !TestCoControlsAlive() ? S_OK : S_FALSE; }
HRESULT WINAPI DllRegisterServer()
{
    HRESULT hr = COleObjectFactory::UpdateRegistryAll(TRUE, "Apartment");
    HRESULT controls = TestCoControlsRegister(TRUE);
    return FAILED(hr) ? hr : controls;
}
HRESULT WINAPI DllUnregisterServer()
{
    HRESULT hr = COleObjectFactory::UpdateRegistryAll(FALSE);
    HRESULT controls = TestCoControlsRegister(FALSE);
    return FAILED(hr) ? hr : controls;
}
}

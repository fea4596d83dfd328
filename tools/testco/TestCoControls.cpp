// The hostable controls of the test Control Object. A host (atl.dll) creates one by class id,
// asks for IOleObject, initialises it through IPersistStreamInit, gives it a client site and
// calls it through IDispatch by dispatch id. Calls are checked strictly against the members a
// setup utility uses, so a wrong kind, a put without its named argument or a wrong argument type
// is refused as a standard automation object refuses it.
#include "TestCoControls.h"
#include "TestControlObject.h"

#include "FxOle.h"

#include <olectl.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

ITestControlObject* TestCoNewDriver();  // the plain test Control Object of this library

namespace {

const CLSID kClassIds[kTestCoClassCount] = {
    {0xCCB90152, 0xB81E, 0x11D2, {0xAB, 0x74, 0x00, 0x40, 0x05, 0x4C, 0x37, 0x19}},  // POSPrinter
    {0xCCB90042, 0xB81E, 0x11D2, {0xAB, 0x74, 0x00, 0x40, 0x05, 0x4C, 0x37, 0x19}},  // CashDrawer
    {0xCCB90102, 0xB81E, 0x11D2, {0xAB, 0x74, 0x00, 0x40, 0x05, 0x4C, 0x37, 0x19}},  // LineDisplay
    {0xCCB90122, 0xB81E, 0x11D2, {0xAB, 0x74, 0x00, 0x40, 0x05, 0x4C, 0x37, 0x19}},  // MSR
};
const char* const kClassNames[kTestCoClassCount] = {"POSPrinter", "CashDrawer", "LineDisplay", "MSR"};

const WORD kMethod = DISPATCH_METHOD, kGet = DISPATCH_PROPERTYGET, kPut = DISPATCH_PROPERTYPUT;

// Argument kinds, in the caller's order: i VT_I4, s VT_BSTR, b VT_BOOL, p VT_BYREF|VT_I4,
// q VT_BYREF|VT_BSTR. Result: the same letters, 0 for none.
struct Member
{
    DISPID id;
    WORD kind;
    const char* args;
    char result;
    bool printerOnly;
    const wchar_t* name;
    const char* method;  // the Service Object method a POSPrinter call goes on to (NULL: its own)
    long pidx;           // a property kept by the Service Object: its property index (0: none)
};

const Member kMembers[] = {
    // What a setup utility uses, under the published dispatch ids.
    {37, kMethod, "s", 'i', false, L"Open", nullptr, 0},
    {35, kMethod, "", 'i', false, L"Close", nullptr, 0},
    {32, kMethod, "i", 'i', false, L"ClaimDevice", nullptr, 0},
    {38, kMethod, "", 'i', false, L"ReleaseDevice", nullptr, 0},
    {31, kMethod, "i", 'i', false, L"CheckHealth", nullptr, 0},
    {17, kPut, "b", 0, false, L"DeviceEnabled", nullptr, 0},
    {17, kGet, "", 'b', false, L"DeviceEnabled", nullptr, 0},
    {20, kPut, "i", 0, true, nullptr, nullptr, 0},
    {105, kGet, "", 's', true, nullptr, nullptr, 0},
    {106, kPut, "b", 0, true, nullptr, nullptr, 0},
    // What an application printing labels uses, by name (this Control Object's own ids).
    {301, kMethod, "is", 'i', true, L"PrintNormal", "PrintNormal", 0},
    {302, kMethod, "is", 'i', true, L"PrintImmediate", "PrintImmediate", 0},
    {303, kMethod, "isiiiii", 'i', true, L"PrintBarCode", "PrintBarCode", 0},
    {304, kMethod, "isii", 'i', true, L"PrintBitmap", "PrintBitmap", 0},
    {305, kMethod, "i", 'i', true, L"MarkFeed", "MarkFeed", 0},
    {306, kMethod, "i", 'i', true, L"CutPaper", "CutPaper", 0},
    {307, kMethod, "ii", 'i', true, L"TransactionPrint", "TransactionPrint", 0},
    {308, kMethod, "", 'i', true, L"ClearOutput", "ClearOutput", 0},
    {309, kMethod, "ipq", 'i', true, L"DirectIO", "DirectIO", 0},
    {401, kGet, "", 'b', true, L"AsyncMode", nullptr, 8001},
    {401, kPut, "b", 0, true, L"AsyncMode", nullptr, 8001},
    {402, kGet, "", 'i', true, L"ResultCode", nullptr, 6},
    {403, kGet, "", 'i', true, L"ResultCodeExtended", nullptr, 7},
    {404, kGet, "", 'i', true, L"OutputID", nullptr, 5},
    {405, kGet, "", 'i', true, L"State", nullptr, 9},
    {406, kGet, "", 'i', true, L"PowerState", nullptr, 14},
    {407, kGet, "", 'b', true, L"Claimed", nullptr, 1},
    {408, kGet, "", 'i', true, L"ServiceObjectVersion", nullptr, 8},
    {409, kGet, "", 's', true, L"CheckHealthText", nullptr, 1000001},
    {410, kGet, "", 's', true, L"DeviceDescription", nullptr, 1000002},
    {411, kGet, "", 's', true, L"DeviceName", nullptr, 1000003},
    {412, kGet, "", 's', true, L"ServiceObjectDescription", nullptr, 1000004},
};

VARTYPE KindType(char kind)
{
    switch (kind) {
    case 'i': return VT_I4;
    case 's': return VT_BSTR;
    case 'b': return VT_BOOL;
    case 'p': return VT_BYREF | VT_I4;
    case 'q': return VT_BYREF | VT_BSTR;
    }
    return VT_EMPTY;
}

// The script and the record are the library's, shared by every control of the process.
struct Scripted
{
    HRESULT hr;
    VARTYPE vt;
    long number;
    std::wstring text;
    std::wstring exception;
};

struct Shared
{
    CRITICAL_SECTION lock;
    std::map<std::pair<int, std::pair<DISPID, WORD>>, Scripted> script;
    std::vector<TestCoCall> record;
    int serial = 0;
    LONG objects = 0;
    Shared() { InitializeCriticalSection(&lock); }
};

Shared& State()
{
    static Shared s;
    return s;
}

class CLock
{
public:
    CLock() { EnterCriticalSection(&State().lock); }
    ~CLock() { LeaveCriticalSection(&State().lock); }
};

void Record(const TestCoCall& call)
{
    CLock l;
    State().record.push_back(call);
}

bool FindScript(int cls, DISPID id, WORD kind, Scripted& out)
{
    CLock l;
    auto it = State().script.find({cls, {id, kind}});
    if (it == State().script.end())
        return false;
    out = it->second;
    return true;
}

void CopyText(wchar_t* dst, size_t size, const wchar_t* src, size_t len)
{
    size_t n = len < size - 1 ? len : size - 1;
    if (src)
        memcpy(dst, src, n * sizeof(wchar_t));
    dst[src ? n : 0] = 0;
}

class CTestCoControl;

// The POSPrinter control's one connection point: the events interface, one sink per Advise.
class CTestCoEvents final : public IConnectionPoint
{
public:
    explicit CTestCoEvents(IConnectionPointContainer* owner) : m_owner(owner) {}
    ~CTestCoEvents()
    {
        for (auto& s : m_sinks)
            s.second->Release();
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IConnectionPoint)) {
            *ppv = static_cast<IConnectionPoint*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return m_owner->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return m_owner->Release(); }
    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override
    {
        if (!iid)
            return E_POINTER;
        *iid = DIID_TestCoPOSPrinterEvents;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** c) override
    {
        if (!c)
            return E_POINTER;
        *c = m_owner;
        m_owner->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override
    {
        if (!sink || !cookie)
            return E_POINTER;
        IDispatch* d = nullptr;
        if (FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d))) || !d)
            return CONNECT_E_CANNOTCONNECT;
        *cookie = ++m_lastCookie;
        m_sinks.push_back({*cookie, d});
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override
    {
        for (size_t i = 0; i < m_sinks.size(); ++i)
            if (m_sinks[i].first == cookie) {
                IDispatch* d = m_sinks[i].second;
                m_sinks.erase(m_sinks.begin() + long(i));
                d->Release();
                return S_OK;
            }
        return CONNECT_E_NOCONNECTION;
    }
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** e) override
    {
        if (e)
            *e = nullptr;
        return E_NOTIMPL;
    }
    // Invokes every sink; a sink that goes away during the call is not called again.
    void Fire(DISPID id, UINT argc, VARIANT* argsLastFirst)
    {
        std::vector<IDispatch*> now;
        for (auto& s : m_sinks) {
            s.second->AddRef();
            now.push_back(s.second);
        }
        for (IDispatch* d : now) {
            DISPPARAMS dp = {argc ? argsLastFirst : nullptr, nullptr, argc, 0};
            d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &dp, nullptr, nullptr, nullptr);
            d->Release();
        }
    }

private:
    IConnectionPointContainer* m_owner;
    std::vector<std::pair<DWORD, IDispatch*>> m_sinks;
    DWORD m_lastCookie = 0;
};

class CTestCoControl final : public IOleObject, public IPersistStreamInit, public IDispatch,
                             public IConnectionPointContainer, public ITestCoListener
{
public:
    explicit CTestCoControl(int cls) : m_cls(cls)
    {
        CLock l;
        m_serial = ++State().serial;
        InterlockedIncrement(&State().objects);
    }
    virtual ~CTestCoControl()
    {
        if (m_site)
            m_site->Release();
        if (m_driver) {
            m_driver->SetListener(nullptr);
            if (m_driver->Service())
                m_driver->Close();
            m_driver->Release();
        }
        InterlockedDecrement(&State().objects);
    }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOleObject))
            *ppv = static_cast<IOleObject*>(this);
        else if (IsEqualIID(iid, IID_IPersistStreamInit) || IsEqualIID(iid, IID_IPersist))
            *ppv = static_cast<IPersistStreamInit*>(this);
        else if (IsEqualIID(iid, IID_IDispatch))
            *ppv = static_cast<IDispatch*>(this);
        else if (IsEqualIID(iid, IID_IConnectionPointContainer) && m_cls == kTestCoPOSPrinter)
            *ppv = static_cast<IConnectionPointContainer*>(this);
        else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(InterlockedIncrement(&m_refs)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        LONG n = InterlockedDecrement(&m_refs);
        if (n == 0)
            delete this;
        return ULONG(n);
    }

    // IOleObject: what a container uses; the rest is answered as a simple control answers it.
    HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) override
    {
        if (site)
            site->AddRef();
        if (m_site)
            m_site->Release();
        m_site = site;
        TestCoCall c = Base("SetClientSite");
        c.hasSite = site != nullptr;
        Record(c);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** site) override
    {
        if (!site)
            return E_POINTER;
        *site = m_site;
        if (m_site)
            m_site->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR, LPCOLESTR) override { return Note("SetHostNames", S_OK); }
    HRESULT STDMETHODCALLTYPE Close(DWORD) override { return Note("Close", S_OK); }
    HRESULT STDMETHODCALLTYPE SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** m) override
    {
        if (m)
            *m = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD, IDataObject** d) override
    {
        if (d)
            *d = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DoVerb(LONG, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) override
    {
        return Note("DoVerb", S_OK);  // nothing to show: the control has no window of its own
    }
    HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB** e) override
    {
        if (e)
            *e = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Update() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE IsUpToDate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID* clsid) override { return GetClassID(clsid); }
    HRESULT STDMETHODCALLTYPE GetUserType(DWORD, LPOLESTR* type) override
    {
        if (type)
            *type = nullptr;
        return OLE_S_USEREG;
    }
    HRESULT STDMETHODCALLTYPE SetExtent(DWORD, SIZEL* size) override
    {
        if (!size)
            return E_POINTER;
        m_extent = *size;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD, SIZEL* size) override
    {
        if (!size)
            return E_POINTER;
        *size = m_extent;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Advise(IAdviseSink*, DWORD* c) override
    {
        if (c)
            *c = 0;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA** e) override
    {
        if (e)
            *e = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD, DWORD* status) override
    {
        if (!status)
            return E_POINTER;
        *status = OLEMISC_INVISIBLEATRUNTIME | OLEMISC_SETCLIENTSITEFIRST;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

    // IPersistStreamInit: the control keeps no persistent state.
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override
    {
        if (!clsid)
            return E_POINTER;
        *clsid = kClassIds[m_cls];
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsDirty() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE Load(LPSTREAM) override { return Note("Load", S_OK); }
    HRESULT STDMETHODCALLTYPE Save(LPSTREAM, BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* size) override
    {
        if (!size)
            return E_POINTER;
        size->QuadPart = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE InitNew() override { return Note("InitNew", S_OK); }

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override
    {
        if (!n)
            return E_POINTER;
        *n = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override
    {
        if (info)
            *info = nullptr;
        return DISP_E_BADINDEX;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        if (!names || !ids)
            return E_POINTER;
        HRESULT hr = S_OK;
        for (UINT i = 0; i < count; ++i) {
            ids[i] = DISPID_UNKNOWN;
            for (const Member& m : kMembers)
                if (m.name && names[i] && _wcsicmp(m.name, names[i]) == 0)
                    ids[i] = m.id;
            if (ids[i] == DISPID_UNKNOWN)
                hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* ex, UINT* argErr) override;

    // IConnectionPointContainer: the events interface only.
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** e) override
    {
        if (e)
            *e = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** cp) override
    {
        if (!cp)
            return E_POINTER;
        *cp = nullptr;
        if (!IsEqualIID(iid, DIID_TestCoPOSPrinterEvents))
            return CONNECT_E_NOCONNECTION;
        *cp = &m_events;
        m_events.AddRef();
        return S_OK;
    }

private:
    TestCoCall Base(const char* member) const
    {
        TestCoCall c = {};
        c.cls = m_cls;
        c.object = m_serial;
        std::snprintf(c.member, sizeof c.member, "%s", member);
        c.id = DISPID_UNKNOWN;
        return c;
    }
    HRESULT Note(const char* member, HRESULT hr)
    {
        TestCoCall c = Base(member);
        c.hr = hr;
        Record(c);
        return hr;
    }
    HRESULT Check(const Member* m, WORD flags, DISPPARAMS* params, UINT* argErr) const;
    HRESULT Answer(const Scripted& s, VARIANT* result, EXCEPINFO* ex, VARTYPE& given) const;
    HRESULT Drive(const Member& m, DISPPARAMS* params, VARIANT* result, VARTYPE& given);
    long Forward(const char* method, long value, bool withValue);
    long ForwardCall(const Member& m, DISPPARAMS* params);
    HRESULT Property(const Member& m, const VARIANT* arg, VARIANT* result, VARTYPE& given);
    void OnServiceEvent(const TestCoEvent& event, long* response, long* data, BSTR* text) override;
    void FireEvent(DISPID id, UINT argc, VARIANT* argsLastFirst);
    void SetLast(const char* call, long rc)
    {
        char text[96];
        std::snprintf(text, sizeof text, "%s returned %ld (%s)", call, rc, OposResultName(rc));
        m_last = text;
    }

    LONG m_refs = 1;
    int m_cls;
    int m_serial = 0;
    IOleClientSite* m_site = nullptr;
    SIZEL m_extent = {0, 0};
    ITestControlObject* m_driver = nullptr;
    std::string m_last = "no call yet";
    CTestCoEvents m_events{this};
};

const Member* FindMember(DISPID id, WORD flags)
{
    const Member* any = nullptr;
    for (const Member& m : kMembers) {
        if (m.id != id)
            continue;
        any = &m;
        if ((m.kind == kPut && flags == kPut) || (m.kind != kPut && (flags & m.kind)))
            return &m;
    }
    return any;
}

HRESULT CTestCoControl::Check(const Member* m, WORD flags, DISPPARAMS* params, UINT* argErr) const
{
    if (!m || (m->printerOnly && m_cls != kTestCoPOSPrinter))
        return DISP_E_MEMBERNOTFOUND;
    bool kindOk = m->kind == kPut ? flags == kPut : (flags & m->kind) != 0;
    if (!kindOk)
        return DISP_E_MEMBERNOTFOUND;
    if (m->kind == kPut) {
        if (params->cNamedArgs != 1 || !params->rgdispidNamedArgs ||
            params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
            return DISP_E_PARAMNOTFOUND;
    } else if (params->cNamedArgs != 0) {
        return DISP_E_NONAMEDARGS;
    }
    UINT want = UINT(strlen(m->args));
    if (params->cArgs != want)
        return DISP_E_BADPARAMCOUNT;
    for (UINT i = 0; i < want; ++i) {
        UINT at = want - 1 - i;  // rgvarg holds the caller's arguments last to first
        if (params->rgvarg[at].vt != KindType(m->args[i])) {
            if (argErr)
                *argErr = at;
            return DISP_E_TYPEMISMATCH;
        }
    }
    return S_OK;
}

HRESULT CTestCoControl::Answer(const Scripted& s, VARIANT* result, EXCEPINFO* ex, VARTYPE& given) const
{
    if (!s.exception.empty()) {
        if (ex) {
            memset(ex, 0, sizeof *ex);
            ex->bstrSource = SysAllocString(L"VeskTestCO");
            ex->bstrDescription = SysAllocString(s.exception.c_str());
        }
        return DISP_E_EXCEPTION;
    }
    if (FAILED(s.hr))
        return s.hr;
    if (result && s.vt != VT_EMPTY) {
        result->vt = s.vt;
        if (s.vt == VT_BSTR)
            result->bstrVal = SysAllocStringLen(s.text.data(), UINT(s.text.size()));
        else if (s.vt == VT_BOOL)
            result->boolVal = s.number ? VARIANT_TRUE : VARIANT_FALSE;
        else
            result->lVal = s.number;
        given = s.vt;
    }
    return s.hr;
}

long CTestCoControl::Forward(const char* method, long value, bool withValue)
{
    if (!m_driver || !m_driver->Service())
        return 101;  // OPOS_E_CLOSED
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return m_driver->Call(method, withValue ? 1 : 0, withValue ? &v : nullptr, nullptr);
}

// A method the Service Object has under the same name: the caller's arguments as they came.
long CTestCoControl::ForwardCall(const Member& m, DISPPARAMS* params)
{
    long rc = 101;  // OPOS_E_CLOSED
    if (m_driver && m_driver->Service()) {
        UINT n = params->cArgs;
        std::vector<VARIANT> args(n ? n : 1);
        for (UINT i = 0; i < n; ++i)
            args[i] = params->rgvarg[n - 1 - i];  // a shallow copy: the driver converts or passes on
        rc = m_driver->Call(m.method, int(n), args.data(), nullptr);
    }
    SetLast(m.method, rc);
    return rc;
}

// A property the Service Object keeps, by its property index. Closed, ResultCode reads
// OPOS_E_CLOSED and the others 0 or empty, and a put changes nothing.
HRESULT CTestCoControl::Property(const Member& m, const VARIANT* arg, VARIANT* result, VARTYPE& given)
{
    bool open = m_driver && m_driver->Service();
    if (m.kind == kPut) {
        if (open) {
            VARIANT v[2];
            VariantInit(&v[0]);
            VariantInit(&v[1]);
            v[0].vt = VT_I4;
            v[0].lVal = m.pidx;
            v[1].vt = VT_I4;
            v[1].lVal = arg->vt == VT_BOOL ? (arg->boolVal ? 1 : 0) : arg->lVal;
            m_driver->Call("SetPropertyNumber", 2, v, nullptr);
        }
        return S_OK;
    }
    if (!result)
        return S_OK;
    if (m.result == 's') {
        BSTR text = nullptr;
        if (open) {
            VARIANT idx, res;
            VariantInit(&idx);
            idx.vt = VT_I4;
            idx.lVal = m.pidx;
            m_driver->Call("GetPropertyString", 1, &idx, &res);
            if (res.vt == VT_BSTR)
                text = res.bstrVal;  // taken over
            else
                VariantClear(&res);
        }
        result->vt = VT_BSTR;
        result->bstrVal = text ? text : SysAllocString(L"");
        given = VT_BSTR;
        return S_OK;
    }
    long value = open ? Forward("GetPropertyNumber", m.pidx, true) : (m.pidx == 6 ? 101 : 0);
    if (m.result == 'b') {
        result->vt = VT_BOOL;
        result->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    } else {
        result->vt = VT_I4;
        result->lVal = value;
    }
    given = result->vt;
    return S_OK;
}

// The Service Object's callbacks become the application's events, with the same arguments.
void CTestCoControl::OnServiceEvent(const TestCoEvent& event, long* response, long* data, BSTR* text)
{
    VARIANT a[4];
    for (VARIANT& v : a)
        VariantInit(&v);
    auto number = [](VARIANT& v, long n) {
        v.vt = VT_I4;
        v.lVal = n;
    };
    long local = 0;
    BSTR localText = nullptr;
    if (strcmp(event.name, "SOStatusUpdate") == 0) {
        number(a[0], event.args[0]);
        m_events.Fire(kEventStatusUpdate, 1, a);
    } else if (strcmp(event.name, "SOOutputComplete") == 0) {
        number(a[0], event.args[0]);
        m_events.Fire(kEventOutputComplete, 1, a);
    } else if (strcmp(event.name, "SOError") == 0) {
        // ResultCode, ResultCodeExtended, ErrorLocus, pErrorResponse, last to first.
        number(a[3], event.args[0]);
        number(a[2], event.args[1]);
        number(a[1], event.args[2]);
        a[0].vt = VT_BYREF | VT_I4;
        a[0].plVal = response ? response : &local;
        m_events.Fire(kEventError, 4, a);
    } else if (strcmp(event.name, "SODirectIO") == 0) {
        number(a[2], event.args[0]);
        a[1].vt = VT_BYREF | VT_I4;
        a[1].plVal = data ? data : &local;
        a[0].vt = VT_BYREF | VT_BSTR;
        a[0].pbstrVal = text ? text : &localText;
        m_events.Fire(kEventDirectIO, 3, a);
        SysFreeString(localText);
    }
}

// The POSPrinter control's own answers, from the Service Object its device key names.
HRESULT CTestCoControl::Drive(const Member& m, DISPPARAMS* params, VARIANT* result, VARTYPE& given)
{
    const VARIANT* arg = params->cArgs ? &params->rgvarg[0] : nullptr;
    long rc = 0;
    switch (m.id) {
    case 37: {
        if (!m_driver)
            m_driver = TestCoNewDriver();
        if (!m_driver)
            return E_OUTOFMEMORY;
        m_driver->SetListener(this);
        char name[256] = "";
        WideCharToMultiByte(CP_ACP, 0, arg->bstrVal ? arg->bstrVal : L"", -1, name, sizeof name, nullptr, nullptr);
        rc = m_driver->Open(name);
        SetLast("Open", rc);
        break;
    }
    case 35:
        rc = m_driver && m_driver->Service() ? m_driver->Close() : 101;
        SetLast("Close", rc);
        break;
    case 32:
    case 38:
    case 31: {
        const char* method = m.id == 32 ? "ClaimDevice" : m.id == 38 ? "ReleaseDevice" : "CheckHealth";
        rc = Forward(method, arg ? arg->lVal : 0, arg != nullptr);
        SetLast(method, rc);
        break;
    }
    case 17:
        if (m.kind == kPut) {
            // As a Control Object sets a property: by index, then the result code read back.
            if (m_driver && m_driver->Service()) {
                VARIANT v[2];
                VariantInit(&v[0]);
                VariantInit(&v[1]);
                v[0].vt = VT_I4;
                v[0].lVal = 3;  // PIDX_DeviceEnabled
                v[1].vt = VT_I4;
                v[1].lVal = arg->boolVal ? 1 : 0;
                m_driver->Call("SetPropertyNumber", 2, v, nullptr);
                rc = Forward("GetPropertyNumber", 6, true);  // PIDX_ResultCode
            } else {
                rc = 101;
            }
            SetLast("DeviceEnabled", rc);
        } else {
            long on = m_driver && m_driver->Service() ? Forward("GetPropertyNumber", 3, true) : 0;
            if (result) {
                result->vt = VT_BOOL;
                result->boolVal = on ? VARIANT_TRUE : VARIANT_FALSE;
                given = VT_BOOL;
            }
        }
        return S_OK;
    case 105:
        if (result) {
            result->vt = VT_BSTR;
            result->bstrVal = FxStringToBstr(m_last.c_str());
            given = VT_BSTR;
        }
        return S_OK;
    default:
        if (m.method) {
            rc = ForwardCall(m, params);
            break;
        }
        if (m.pidx)
            return Property(m, arg, result, given);
        return S_OK;  // 20 and 106: recorded, nothing more
    }
    if (result) {
        result->vt = VT_I4;
        result->lVal = rc;
        given = VT_I4;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CTestCoControl::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                                 VARIANT* result, EXCEPINFO* ex, UINT* argErr)
{
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    if (!params)
        params = &none;
    if (params->cArgs && !params->rgvarg)
        return E_POINTER;
    TestCoCall c = Base("Invoke");
    c.id = id;
    c.kind = flags;
    c.argc = params->cArgs;
    c.named = params->cNamedArgs;
    c.namedId = params->cNamedArgs && params->rgdispidNamedArgs ? params->rgdispidNamedArgs[0] : 0;
    c.wantsResult = result != nullptr;
    bool haveNumber = false, haveText = false;
    for (UINT i = 0; i < params->cArgs; ++i) {
        const VARIANT& v = params->rgvarg[params->cArgs - 1 - i];  // the caller's order
        if (i < 4)
            c.types[i] = v.vt;
        if (v.vt == VT_BSTR && !haveText) {
            CopyText(c.text, sizeof c.text / sizeof c.text[0], v.bstrVal, v.bstrVal ? SysStringLen(v.bstrVal) : 0);
            haveText = true;
        } else if ((v.vt == VT_I4 || v.vt == VT_BOOL) && !haveNumber) {
            c.number = v.vt == VT_BOOL ? long(v.boolVal) : v.lVal;
            haveNumber = true;
        }
    }
    if (result)
        VariantInit(result);

    const Member* m = FindMember(id, flags);
    Scripted s;
    bool scripted = FindScript(m_cls, id, flags, s);
    VARTYPE given = VT_EMPTY;
    HRESULT hr;
    if (m || !scripted)
        hr = Check(m, flags, params, argErr);
    else
        hr = S_OK;  // a member of the script's own: answered as the script says
    if (SUCCEEDED(hr)) {
        if (scripted)
            hr = Answer(s, result, ex, given);
        else if (m_cls == kTestCoPOSPrinter)
            hr = Drive(*m, params, result, given);
        else
            hr = E_NOTIMPL;  // the other classes answer only what a script tells them
    }
    if (FAILED(hr) && result)
        VariantClear(result);
    c.hr = hr;
    c.resultType = FAILED(hr) ? VARTYPE(VT_EMPTY) : given;
    Record(c);
    return hr;
}

class CTestCoFactory : public IClassFactory
{
public:
    explicit CTestCoFactory(int cls) : m_cls(cls) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // Static objects of the library: they live as long as it does.
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        AfxOleLockApp();
        return 2;
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        AfxOleUnlockApp();
        return 1;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        CTestCoControl* c = new CTestCoControl(m_cls);
        HRESULT hr = c->QueryInterface(iid, ppv);
        c->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        if (lock)
            AfxOleLockApp();
        else
            AfxOleUnlockApp();
        return S_OK;
    }

private:
    int m_cls;
};

CTestCoFactory g_factories[kTestCoClassCount] = {CTestCoFactory(0), CTestCoFactory(1), CTestCoFactory(2),
                                                  CTestCoFactory(3)};

int ClassOf(REFCLSID clsid)
{
    for (int i = 0; i < kTestCoClassCount; ++i)
        if (IsEqualCLSID(clsid, kClassIds[i]))
            return i;
    return -1;
}

} // namespace

HRESULT TestCoControlsGetClassObject(REFCLSID clsid, REFIID iid, void** ppv)
{
    int cls = ClassOf(clsid);
    if (cls < 0)
        return CLASS_E_CLASSNOTAVAILABLE;
    return g_factories[cls].QueryInterface(iid, ppv);
}

bool TestCoControlsAlive() { return State().objects > 0; }

HRESULT TestCoControlsRegister(BOOL reg)
{
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&TestCoControlsRegister), &self);
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return SELFREG_E_CLASS;
    BOOL ok = TRUE;
    for (int i = 0; i < kTestCoClassCount; ++i) {
        CString key = "CLSID\\" + FxGuidText(kClassIds[i]);
        if (!reg) {
            ok = FxRegDeleteTree(HKEY_CLASSES_ROOT, key) && ok;
            continue;
        }
        CString name = CString("VESK test Control Object for ") + kClassNames[i];
        ok = FxRegSetString(HKEY_CLASSES_ROOT, key, nullptr, name) && ok;
        ok = FxRegSetString(HKEY_CLASSES_ROOT, key + "\\InprocServer32", nullptr, path) && ok;
        ok = FxRegSetString(HKEY_CLASSES_ROOT, key + "\\InprocServer32", "ThreadingModel", "Apartment") && ok;
        ok = FxRegSetString(HKEY_CLASSES_ROOT, key + "\\Control", nullptr, "") && ok;
    }
    return ok ? S_OK : SELFREG_E_CLASS;
}

extern "C" {
void WINAPI TestCoScript(int cls, DISPID id, WORD kind, const TestCoAnswer* answer)
{
    CLock l;
    auto key = std::make_pair(cls, std::make_pair(id, kind));
    if (!answer) {
        State().script.erase(key);
        return;
    }
    Scripted s = {answer->hr, answer->vt, answer->number, answer->text ? answer->text : L"",
                  answer->exception ? answer->exception : L""};
    State().script[key] = s;
}

void WINAPI TestCoReset()
{
    CLock l;
    State().script.clear();
    State().record.clear();
}

int WINAPI TestCoCallCount()
{
    CLock l;
    return int(State().record.size());
}

BOOL WINAPI TestCoGetCall(int index, TestCoCall* call)
{
    CLock l;
    if (!call || index < 0 || index >= int(State().record.size()))
        return FALSE;
    *call = State().record[size_t(index)];
    return TRUE;
}

int WINAPI TestCoClassOf(REFCLSID clsid) { return ClassOf(clsid); }
}

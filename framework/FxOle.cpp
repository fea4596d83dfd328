#include "FxOle.h"
#include "FxApp.h"

#include <new>
#include <vector>

// ---- Library lock

namespace {
volatile LONG g_lockCount = 0;
COleObjectFactory* g_factories = nullptr;
}

void AfxOleLockApp() { InterlockedIncrement(&g_lockCount); }
void AfxOleUnlockApp() { InterlockedDecrement(&g_lockCount); }
LONG AfxOleGetLockCount() { return InterlockedCompareExchange(&g_lockCount, 0, 0); }
BOOL AfxOleCanExitApp() { return AfxOleGetLockCount() == 0; }

// ---- BSTR and GUID helpers

CString FxBstrToString(BSTR b)
{
    int wlen = b ? int(SysStringLen(b)) : 0;
    if (wlen == 0)
        return CString();
    int n = WideCharToMultiByte(CP_ACP, 0, b, wlen, nullptr, 0, nullptr, nullptr);
    CString s;
    if (n <= 0)
        return s;
    char* p = s.GetBufferSetLength(n);
    WideCharToMultiByte(CP_ACP, 0, b, wlen, p, n, nullptr, nullptr);
    s.ReleaseBuffer(n);
    return s;
}

BSTR FxStringToBstr(const char* s)
{
    int len = s ? int(strlen(s)) : 0;
    if (len == 0)
        return SysAllocStringLen(L"", 0);
    int n = MultiByteToWideChar(CP_ACP, 0, s, len, nullptr, 0);
    BSTR b = SysAllocStringLen(nullptr, UINT(n > 0 ? n : 0));
    if (b && n > 0)
        MultiByteToWideChar(CP_ACP, 0, s, len, b, n);
    return b;
}

CString FxGuidText(REFGUID g)
{
    CString s;
    s.Format("{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", (unsigned long)g.Data1, g.Data2, g.Data3,
             g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return s;
}

HRESULT FxGetDispID(IDispatch* disp, const char* name, UINT codePage, LCID lcid, DISPID* id)
{
    *id = DISPID_UNKNOWN;
    if (!disp || !name)
        return E_POINTER;
    wchar_t wide[128];
    if (!MultiByteToWideChar(codePage, 0, name, -1, wide, 128))
        return E_INVALIDARG;
    LPOLESTR p = wide;
    HRESULT hr = disp->GetIDsOfNames(IID_NULL, &p, 1, lcid, id);
    if (FAILED(hr))
        *id = DISPID_UNKNOWN;
    return hr;
}

// ---- Command target

IMPLEMENT_DYNAMIC(CCmdTarget, CObject)

CCmdTarget::CCmdTarget() { m_xDispatch.owner = this; }

CCmdTarget::~CCmdTarget() {}

IDispatch* CCmdTarget::GetIDispatch(BOOL addRef)
{
    if (addRef)
        ExternalAddRef();
    return &m_xDispatch;
}

ULONG CCmdTarget::ExternalAddRef() { return ULONG(InterlockedIncrement(&m_dwRef)); }

ULONG CCmdTarget::ExternalRelease()
{
    LONG n = InterlockedDecrement(&m_dwRef);
    if (n == 0)
        OnFinalRelease();
    return ULONG(n < 0 ? 0 : n);
}

HRESULT CCmdTarget::ExternalQueryInterface(REFIID iid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    IID own;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        (GetDispatchIID(&own) && IsEqualIID(iid, own)))
        *ppv = static_cast<IDispatch*>(&m_xDispatch);
    else
        *ppv = GetInterfaceHook(iid);
    if (!*ppv)
        return E_NOINTERFACE;
    ExternalAddRef();
    return S_OK;
}

namespace {
bool SameNameNoCase(const char* a, const wchar_t* w)
{
    for (;; ++a, ++w) {
        wchar_t ca = wchar_t((unsigned char)*a), cw = *w;
        if (ca >= L'A' && ca <= L'Z')
            ca = wchar_t(ca - L'A' + L'a');
        if (cw >= L'A' && cw <= L'Z')
            cw = wchar_t(cw - L'A' + L'a');
        if (ca != cw)
            return false;
        if (ca == 0)
            return true;
    }
}
}

const FX_DISPMAP_ENTRY* CCmdTarget::FindDispEntry(const wchar_t* name) const
{
    const FX_DISPMAP* map = GetDispatchMap();
    if (!map || !name)
        return nullptr;
    for (int i = 0; i < map->count; ++i)
        if (SameNameNoCase(map->entries[i].name, name))
            return &map->entries[i];
    return nullptr;
}

const FX_DISPMAP_ENTRY* CCmdTarget::FindDispEntry(DISPID id) const
{
    const FX_DISPMAP* map = GetDispatchMap();
    if (!map)
        return nullptr;
    for (int i = 0; i < map->count; ++i)
        if (map->entries[i].dispid == id)
            return &map->entries[i];
    return nullptr;
}

namespace {
// Holds the by-value conversions until the call has returned.
struct ConvertedArgs
{
    std::vector<FxDispArg> args;
    std::vector<VARIANT> values;
    explicit ConvertedArgs(int n) : args(size_t(n)), values(size_t(n))
    {
        for (VARIANT& v : values)
            VariantInit(&v);
    }
    ~ConvertedArgs()
    {
        for (VARIANT& v : values)
            VariantClear(&v);
    }
};

// A by-reference argument, also when a script client wraps it in a VARIANT by reference.
VARIANT* ByRefTarget(VARIANTARG& src, VARTYPE want)
{
    if (src.vt == (VT_BYREF | VT_VARIANT) && src.pvarVal && src.pvarVal->vt == want)
        return src.pvarVal;
    return nullptr;
}
}

HRESULT CCmdTarget::InvokeHelper(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result, UINT* argErr)
{
    const FX_DISPMAP_ENTRY* e = FindDispEntry(id);
    if (!e)
        return DISP_E_MEMBERNOTFOUND;
    if (!(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)))
        return DISP_E_MEMBERNOTFOUND;
    UINT given = params ? params->cArgs : 0;
    if (params && params->cNamedArgs != 0)
        return DISP_E_NONAMEDARGS;
    if (given != UINT(e->paramCount))
        return DISP_E_BADPARAMCOUNT;

    try {
        ConvertedArgs conv(e->paramCount);
        for (int i = 0; i < e->paramCount; ++i) {
            UINT at = given - 1 - UINT(i);  // arguments arrive in reversed order
            VARIANTARG& src = params->rgvarg[at];
            FxDispArg& a = conv.args[size_t(i)];
            VARIANT& tmp = conv.values[size_t(i)];
            HRESULT hr = S_OK;
            switch (e->params[i]) {
            case FXD_I4:
                hr = VariantChangeType(&tmp, &src, 0, VT_I4);
                if (SUCCEEDED(hr))
                    a.i4 = tmp.lVal;
                break;
            case FXD_STR:
                hr = VariantChangeType(&tmp, &src, 0, VT_BSTR);
                if (SUCCEEDED(hr))
                    a.str = FxBstrToString(tmp.bstrVal);
                break;
            case FXD_DISPATCH:
                if (src.vt == VT_EMPTY || src.vt == VT_NULL)
                    break;  // no dispatch given: the method sees NULL
                hr = VariantChangeType(&tmp, &src, 0, VT_DISPATCH);
                if (SUCCEEDED(hr))
                    a.disp = tmp.pdispVal;
                break;
            case FXD_PI4:
                if (src.vt == (VT_BYREF | VT_I4) && src.plVal)
                    a.pi4 = src.plVal;
                else if (VARIANT* v = ByRefTarget(src, VT_I4))
                    a.pi4 = &v->lVal;
                else
                    hr = DISP_E_TYPEMISMATCH;
                break;
            case FXD_PBSTR:
                if (src.vt == (VT_BYREF | VT_BSTR) && src.pbstrVal)
                    a.pbstr = src.pbstrVal;
                else if (VARIANT* v = ByRefTarget(src, VT_BSTR))
                    a.pbstr = &v->bstrVal;
                else
                    hr = DISP_E_TYPEMISMATCH;
                break;
            default:
                hr = DISP_E_TYPEMISMATCH;
            }
            if (FAILED(hr)) {
                if (argErr)
                    *argErr = at;
                return DISP_E_TYPEMISMATCH;
            }
        }
        if (result)
            VariantInit(result);
        e->call(this, conv.args.data(), result);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return DISP_E_EXCEPTION;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CCmdTarget::XDispatch::QueryInterface(REFIID iid, void** ppv)
{
    return owner->ExternalQueryInterface(iid, ppv);
}

ULONG STDMETHODCALLTYPE CCmdTarget::XDispatch::AddRef() { return owner->ExternalAddRef(); }

ULONG STDMETHODCALLTYPE CCmdTarget::XDispatch::Release() { return owner->ExternalRelease(); }

HRESULT STDMETHODCALLTYPE CCmdTarget::XDispatch::GetTypeInfoCount(UINT* count)
{
    if (!count)
        return E_POINTER;
    *count = owner->GetTypeInfoCount();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CCmdTarget::XDispatch::GetTypeInfo(UINT, LCID, ITypeInfo** info)
{
    if (info)
        *info = nullptr;
    return DISP_E_BADINDEX;
}

HRESULT STDMETHODCALLTYPE CCmdTarget::XDispatch::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID,
                                                               DISPID* ids)
{
    if (!IsEqualIID(iid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    if (!names || !ids || count == 0)
        return E_INVALIDARG;
    HRESULT hr = S_OK;
    const FX_DISPMAP_ENTRY* e = owner->FindDispEntry(names[0]);
    ids[0] = e ? e->dispid : DISPID_UNKNOWN;
    if (!e)
        hr = DISP_E_UNKNOWNNAME;
    // Further names would be parameter names, which the table does not carry.
    for (UINT i = 1; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE CCmdTarget::XDispatch::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                                                        VARIANT* result, EXCEPINFO*, UINT* argErr)
{
    if (!IsEqualIID(iid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    return owner->InvokeHelper(id, flags, params, result, argErr);
}

// ---- Class factory

COleObjectFactory::COleObjectFactory(REFCLSID clsid, const CRuntimeClass* runtimeClass, CreateFn create,
                                     BOOL multiInstance, LPCSTR progId)
    : m_clsid(clsid), m_runtimeClass(runtimeClass), m_create(create), m_multiInstance(multiInstance),
      m_progId(progId), m_next(g_factories)
{
    g_factories = this;
}

COleObjectFactory::~COleObjectFactory()
{
    for (COleObjectFactory** p = &g_factories; *p; p = &(*p)->m_next)
        if (*p == this) {
            *p = m_next;
            break;
        }
}

BOOL COleObjectFactory::RegisterAll()
{
    for (COleObjectFactory* f = g_factories; f; f = f->m_next)
        f->m_registered = TRUE;
    return TRUE;
}

HRESULT COleObjectFactory::UpdateRegistryAll(BOOL bRegister, LPCSTR threadingModel)
{
    HRESULT result = S_OK;
    for (COleObjectFactory* f = g_factories; f; f = f->m_next)
        if (FAILED(f->UpdateRegistry(bRegister, threadingModel)))
            result = SELFREG_E_CLASS;
    return result;
}

HRESULT COleObjectFactory::UpdateRegistry(BOOL bRegister, LPCSTR threadingModel)
{
    CString clsidText = FxGuidText(m_clsid);
    CString clsidKey = "CLSID\\" + clsidText;
    if (!bRegister) {
        BOOL ok = TRUE;
        if (m_progId && *m_progId)
            ok = FxRegDeleteTree(HKEY_CLASSES_ROOT, m_progId) && ok;
        ok = FxRegDeleteTree(HKEY_CLASSES_ROOT, clsidKey) && ok;
        return ok ? S_OK : SELFREG_E_CLASS;
    }
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(AfxGetInstanceHandle(), path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return SELFREG_E_CLASS;
    BOOL ok = TRUE;
    if (m_progId && *m_progId) {
        ok = FxRegSetString(HKEY_CLASSES_ROOT, m_progId, nullptr, m_progId) && ok;
        ok = FxRegSetString(HKEY_CLASSES_ROOT, CString(m_progId) + "\\CLSID", nullptr, clsidText) && ok;
        ok = FxRegSetString(HKEY_CLASSES_ROOT, clsidKey, nullptr, m_progId) && ok;
        ok = FxRegSetString(HKEY_CLASSES_ROOT, clsidKey + "\\ProgID", nullptr, m_progId) && ok;
    }
    ok = FxRegSetString(HKEY_CLASSES_ROOT, clsidKey + "\\InprocServer32", nullptr, path) && ok;
    if (threadingModel)
        ok = FxRegSetString(HKEY_CLASSES_ROOT, clsidKey + "\\InprocServer32", "ThreadingModel", threadingModel) && ok;
    return ok ? S_OK : SELFREG_E_CLASS;
}

HRESULT COleObjectFactory::GetClassObject(REFCLSID clsid, REFIID iid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    for (COleObjectFactory* f = g_factories; f; f = f->m_next)
        if (f->m_registered && IsEqualCLSID(f->m_clsid, clsid))
            return f->QueryInterface(iid, ppv);
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT STDMETHODCALLTYPE COleObjectFactory::QueryInterface(REFIID iid, void** ppv)
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

// The factory lives as long as the module; a reference held by a client keeps the module loaded.
ULONG STDMETHODCALLTYPE COleObjectFactory::AddRef()
{
    LONG n = InterlockedIncrement(&m_refs);
    if (n == 1)
        AfxOleLockApp();
    return ULONG(n);
}

ULONG STDMETHODCALLTYPE COleObjectFactory::Release()
{
    LONG n = InterlockedDecrement(&m_refs);
    if (n == 0)
        AfxOleUnlockApp();
    if (n < 0) {
        InterlockedIncrement(&m_refs);  // an extra Release must not unbalance the lock
        return 0;
    }
    return ULONG(n);
}

HRESULT STDMETHODCALLTYPE COleObjectFactory::CreateInstance(IUnknown* outer, REFIID iid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    CCmdTarget* obj = nullptr;
    try {
        obj = m_create();
    } catch (...) {
        obj = nullptr;
    }
    if (!obj)
        return E_OUTOFMEMORY;
    // The object starts with no reference: the query gives the first one.
    obj->ExternalAddRef();
    HRESULT hr = obj->ExternalQueryInterface(iid, ppv);
    obj->ExternalRelease();
    return hr;
}

HRESULT STDMETHODCALLTYPE COleObjectFactory::LockServer(BOOL lock)
{
    if (lock)
        AfxOleLockApp();
    else
        AfxOleUnlockApp();
    return S_OK;
}

// ---- Registry helpers

BOOL FxRegSetString(HKEY root, LPCSTR key, LPCSTR name, LPCSTR value)
{
    HKEY k = nullptr;
    if (RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) != ERROR_SUCCESS)
        return FALSE;
    LONG r = RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), DWORD(strlen(value) + 1));
    RegCloseKey(k);
    return r == ERROR_SUCCESS;
}

BOOL FxRegDeleteTree(HKEY root, LPCSTR key)
{
    LONG r = RegDeleteTreeA(root, key);
    if (r == ERROR_FILE_NOT_FOUND)
        return TRUE;
    if (r != ERROR_SUCCESS)
        return FALSE;
    r = RegDeleteKeyA(root, key);
    return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND;
}

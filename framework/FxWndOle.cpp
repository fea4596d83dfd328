// ActiveX hosting of CWnd: the control lives in a child window that the system's atl.dll hosts,
// and is called through IDispatch::Invoke by dispatch id. atl.dll is loaded at run time: mingw-w64
// has no import library for it.
#include "FxWnd.h"

#include "FxApp.h"

#include <cstdarg>
#include <cstdio>

namespace {
typedef BOOL(WINAPI* AtlAxWinInitFn)();
typedef HRESULT(WINAPI* AtlAxCreateControlFn)(LPCOLESTR, HWND, IStream*, IUnknown**);
typedef HRESULT(WINAPI* AtlAxGetControlFn)(HWND, IUnknown**);

struct AtlBinding
{
    HMODULE dll = nullptr;
    AtlAxWinInitFn init = nullptr;
    AtlAxCreateControlFn create = nullptr;
    AtlAxGetControlFn get = nullptr;
    bool tried = false;
    bool initialised = false;
    DWORD loadError = 0;
};

AtlBinding& Atl()
{
    static AtlBinding b;
    if (!b.tried) {
        b.tried = true;
        b.dll = LoadLibraryA("atl.dll");
        if (!b.dll) {
            b.loadError = GetLastError();
        } else {
            b.init = reinterpret_cast<AtlAxWinInitFn>(reinterpret_cast<void*>(GetProcAddress(b.dll, "AtlAxWinInit")));
            b.create = reinterpret_cast<AtlAxCreateControlFn>(
                reinterpret_cast<void*>(GetProcAddress(b.dll, "AtlAxCreateControl")));
            b.get = reinterpret_cast<AtlAxGetControlFn>(reinterpret_cast<void*>(GetProcAddress(b.dll, "AtlAxGetControl")));
        }
    }
    return b;
}

const char kHostClass[] = "VeskAxHost";

bool RegisterHostClass()
{
    WNDCLASSA wc = {};
    if (GetClassInfoA(AfxGetInstanceHandle(), kHostClass, &wc))
        return true;
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = AfxGetInstanceHandle();
    wc.lpszClassName = kHostClass;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    return RegisterClassA(&wc) != 0;
}

CString ClsidText(REFCLSID clsid)
{
    WCHAR w[64] = {};
    StringFromGUID2(clsid, w, 64);
    CString s;
    for (int i = 0; w[i]; ++i)
        s += char(w[i]);
    return s;
}

CString HresultText(HRESULT hr)
{
    CString s;
    s.Format("0x%08lX", static_cast<unsigned long>(hr));
    char* msg = nullptr;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, DWORD(hr), 0, reinterpret_cast<char*>(&msg), 0, nullptr);
    if (n && msg) {
        CString t(msg);
        t.TrimRight();
        if (!t.IsEmpty())
            s += " (" + t + ")";
    }
    if (msg)
        LocalFree(msg);
    return s;
}
}

void CWnd::ReleaseControl()
{
    if (m_pDispatch) {
        m_pDispatch->Release();
        m_pDispatch = nullptr;
    }
    if (m_pControl) {
        m_pControl->Release();
        m_pControl = nullptr;
    }
}

void CWnd::AttachControlDispatch(IDispatch* disp)
{
    ReleaseControl();
    m_strControlError.Empty();
    m_hrLastInvoke = S_OK;
    m_pDispatch = disp;
    if (disp)
        disp->AddRef();
}

BOOL CWnd::CreateControl(REFCLSID clsid, LPCSTR windowName, DWORD style, const RECT& r, CWnd* parent, UINT id)
{
    ReleaseControl();
    m_strControlError.Empty();
    CString cls = ClsidText(clsid);
    AtlBinding& atl = Atl();
    if (!atl.dll) {
        m_strControlError.Format("The control %s cannot be hosted: atl.dll did not load (error %lu).",
                                 cls.GetString(), static_cast<unsigned long>(atl.loadError));
        return FALSE;
    }
    if (!atl.init || !atl.create || !atl.get) {
        m_strControlError.Format("The control %s cannot be hosted: atl.dll lacks AtlAxWinInit, "
                                 "AtlAxCreateControl or AtlAxGetControl.",
                                 cls.GetString());
        return FALSE;
    }
    if (!atl.initialised)
        atl.initialised = atl.init() != FALSE;
    if (!atl.initialised || !RegisterHostClass()) {
        m_strControlError.Format("The control %s cannot be hosted: the control container did not start.",
                                 cls.GetString());
        return FALSE;
    }
    HWND h = CreateWindowExA(0, kHostClass, windowName, style | WS_CHILD, r.left, r.top, r.right - r.left,
                             r.bottom - r.top, parent ? parent->m_hWnd : nullptr,
                             reinterpret_cast<HMENU>(UINT_PTR(id)), AfxGetInstanceHandle(), nullptr);
    if (!h) {
        m_strControlError.Format("The control %s cannot be hosted: no host window (error %lu).", cls.GetString(),
                                 static_cast<unsigned long>(GetLastError()));
        return FALSE;
    }
    WCHAR name[64] = {};
    StringFromGUID2(clsid, name, 64);
    IUnknown* container = nullptr;
    HRESULT hr = atl.create(name, h, nullptr, &container);
    if (container)
        container->Release();
    IUnknown* unk = nullptr;
    if (SUCCEEDED(hr))
        hr = atl.get(h, &unk);
    IDispatch* disp = nullptr;
    if (SUCCEEDED(hr) && unk)
        hr = unk->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&disp));
    else if (SUCCEEDED(hr))
        hr = E_NOINTERFACE;
    if (FAILED(hr) || !disp) {
        if (unk)
            unk->Release();
        ::DestroyWindow(h);
        if (hr == REGDB_E_CLASSNOTREG)
            m_strControlError.Format("The control %s is not registered on this computer.", cls.GetString());
        else
            m_strControlError.Format("The control %s could not be created: %s.", cls.GetString(),
                                     HresultText(hr).GetString());
        return FALSE;
    }
    if (!SubclassWindow(h)) {
        disp->Release();
        unk->Release();
        ::DestroyWindow(h);
        m_strControlError.Format("The control %s could not be bound to its window.", cls.GetString());
        return FALSE;
    }
    m_pControl = unk;
    m_pDispatch = disp;
    return TRUE;
}

HRESULT CWnd::InvokeHelper(DISPID id, WORD flags, VARTYPE vtRet, void* pvRet, const char* params, ...)
{
    if (!m_pDispatch) {
        if (m_strControlError.IsEmpty())
            m_strControlError = "No control is hosted.";
        m_hrLastInvoke = OLE_E_BLANK;
        return OLE_E_BLANK;
    }
    // Arguments go to Invoke in reverse order.
    VARIANTARG args[8];
    int n = params ? int(strlen(params)) : 0;
    if (n > 8) {
        m_hrLastInvoke = E_INVALIDARG;
        return E_INVALIDARG;
    }
    va_list ap;
    va_start(ap, params);
    for (int i = 0; i < n; ++i) {
        VARIANTARG& v = args[n - 1 - i];
        VariantInit(&v);
        switch (BYTE(params[i])) {
        case VT_I4:
            v.vt = VT_I4;
            v.lVal = va_arg(ap, long);
            break;
        case VT_BOOL:
            v.vt = VT_BOOL;
            v.boolVal = va_arg(ap, BOOL) ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        case VT_BSTR:
            v.vt = VT_BSTR;
            v.bstrVal = FxAllocBstr(va_arg(ap, const char*));
            break;
        default:
            v.vt = VT_EMPTY;
            break;
        }
    }
    va_end(ap);

    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS dp = {n ? args : nullptr, nullptr, UINT(n), 0};
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        dp.rgdispidNamedArgs = &named;
        dp.cNamedArgs = 1;
    }
    VARIANT ret;
    VariantInit(&ret);
    EXCEPINFO ex = {};
    UINT argErr = 0;
    HRESULT hr = m_pDispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &dp,
                                     vtRet == VT_EMPTY ? nullptr : &ret, &ex, &argErr);
    for (int i = 0; i < n; ++i)
        VariantClear(&args[i]);

    if (SUCCEEDED(hr) && vtRet != VT_EMPTY) {
        HRESULT ch = VariantChangeType(&ret, &ret, 0, vtRet);
        if (FAILED(ch))
            hr = ch;
    }
    if (FAILED(hr)) {
        CString what;
        if (hr == DISP_E_EXCEPTION && ex.bstrDescription && SysStringLen(ex.bstrDescription))
            what = FxBstrToText(ex.bstrDescription);
        else
            what = HresultText(hr);
        m_strControlError.Format("The call %ld of the control failed: %s", static_cast<long>(id), what.GetString());
    } else if (pvRet) {
        switch (vtRet) {
        case VT_I4:
            *static_cast<long*>(pvRet) = ret.lVal;
            break;
        case VT_BOOL:
            *static_cast<BOOL*>(pvRet) = ret.boolVal != VARIANT_FALSE;
            break;
        case VT_BSTR:
            *static_cast<CString*>(pvRet) = FxBstrToText(ret.bstrVal);
            break;
        default:
            break;
        }
    }
    if (ex.bstrSource)
        SysFreeString(ex.bstrSource);
    if (ex.bstrDescription)
        SysFreeString(ex.bstrDescription);
    if (ex.bstrHelpFile)
        SysFreeString(ex.bstrHelpFile);
    VariantClear(&ret);
    m_hrLastInvoke = hr;
    return hr;
}

#include "OposControls.h"

#include <cstdarg>

// {CCB90152-B81E-11D2-AB74-0040054C3719} and its neighbours: the published OPOS Control Objects.
const CLSID COPOSPOSPrinter::clsid = {0xCCB90152, 0xB81E, 0x11D2, {0xAB, 0x74, 0x00, 0x40, 0x05, 0x4C, 0x37, 0x19}};
const CLSID COPOSCashDrawer::clsid = {0xCCB90042, 0xB81E, 0x11D2, {0xAB, 0x74, 0x00, 0x40, 0x05, 0x4C, 0x37, 0x19}};
const CLSID COPOSLineDisplay::clsid = {0xCCB90102, 0xB81E, 0x11D2, {0xAB, 0x74, 0x00, 0x40, 0x05, 0x4C, 0x37, 0x19}};
const CLSID COPOSMSR::clsid = {0xCCB90122, 0xB81E, 0x11D2, {0xAB, 0x74, 0x00, 0x40, 0x05, 0x4C, 0x37, 0x19}};

IMPLEMENT_DYNAMIC(COPOSPOSPrinter, CWnd)
IMPLEMENT_DYNAMIC(COPOSCashDrawer, CWnd)
IMPLEMENT_DYNAMIC(COPOSLineDisplay, CWnd)
IMPLEMENT_DYNAMIC(COPOSMSR, CWnd)

namespace {
// InvokeHelper takes its arguments as a variable list; these forward at most two of them.
struct Args
{
    long l[2] = {0, 0};
    const char* s[2] = {nullptr, nullptr};
};

Args Collect(const char* params, va_list ap)
{
    Args a;
    for (int i = 0; params && params[i] && i < 2; ++i) {
        if (BYTE(params[i]) == VT_BSTR)
            a.s[i] = va_arg(ap, const char*);
        else
            a.l[i] = va_arg(ap, long);
    }
    return a;
}
}

long COPOSControl::CallLong(DISPID id, const char* params, ...)
{
    va_list ap;
    va_start(ap, params);
    Args a = Collect(params, ap);
    va_end(ap);
    long result = kOposNoService;
    HRESULT hr;
    if (params && BYTE(params[0]) == VT_BSTR)
        hr = InvokeHelper(id, DISPATCH_METHOD, VT_I4, &result, params, a.s[0]);
    else if (params && params[0])
        hr = InvokeHelper(id, DISPATCH_METHOD, VT_I4, &result, params, a.l[0]);
    else
        hr = InvokeHelper(id, DISPATCH_METHOD, VT_I4, &result, VTS_NONE);
    return SUCCEEDED(hr) ? result : kOposNoService;
}

void COPOSControl::Put(DISPID id, const char* params, ...)
{
    va_list ap;
    va_start(ap, params);
    Args a = Collect(params, ap);
    va_end(ap);
    if (params && BYTE(params[0]) == VT_BOOL)
        InvokeHelper(id, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, params, BOOL(a.l[0] != 0));
    else
        InvokeHelper(id, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, params, a.l[0]);
}

CString COPOSControl::FailureText() const
{
    if (!GetControlDispatch() || FAILED(GetLastInvokeResult()))
        return GetControlError();
    return CString();
}

#define VESK_WRAPPER_CREATE(cls)                                                                            \
    BOOL cls::Create(LPCSTR, LPCSTR windowName, DWORD style, const RECT& rect, CWnd* parent, UINT id)       \
    {                                                                                                       \
        return CreateControl(clsid, windowName, style, rect, parent, id);                                  \
    }

VESK_WRAPPER_CREATE(COPOSPOSPrinter)
VESK_WRAPPER_CREATE(COPOSCashDrawer)
VESK_WRAPPER_CREATE(COPOSLineDisplay)
VESK_WRAPPER_CREATE(COPOSMSR)

long COPOSDeviceControl::Open(const char* deviceName) { return CallLong(kDispOpen, VTS_BSTR, deviceName); }
long COPOSDeviceControl::Close() { return CallLong(kDispClose, VTS_NONE); }
long COPOSDeviceControl::ClaimDevice(long timeout) { return CallLong(kDispClaimDevice, VTS_I4, timeout); }
long COPOSDeviceControl::ReleaseDevice() { return CallLong(kDispReleaseDevice, VTS_NONE); }
long COPOSDeviceControl::CheckHealth(long level) { return CallLong(kDispCheckHealth, VTS_I4, level); }
void COPOSDeviceControl::SetDeviceEnabled(BOOL enabled) { Put(kDispDeviceEnabled, VTS_BOOL, long(enabled)); }

BOOL COPOSPOSPrinter::GetDeviceEnabled()
{
    BOOL enabled = FALSE;
    if (FAILED(InvokeHelper(kDispDeviceEnabled, DISPATCH_PROPERTYGET, VT_BOOL, &enabled, VTS_NONE)))
        return FALSE;
    return enabled;
}

void COPOSPOSPrinter::SetDispatchProperty20(long value) { Put(kDispProperty20, VTS_I4, value); }

CString COPOSPOSPrinter::GetErrorText()
{
    // A failed call or a missing control is the reason; otherwise the control's own text.
    CString failure = FailureText();
    if (!failure.IsEmpty())
        return failure;
    CString text;
    if (FAILED(InvokeHelper(kDispErrorText, DISPATCH_PROPERTYGET, VT_BSTR, &text, VTS_NONE)))
        return GetControlError();
    return text;
}

void COPOSPOSPrinter::SetDispatchProperty106(BOOL value) { Put(kDispProperty106, VTS_BOOL, long(value)); }


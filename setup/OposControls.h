// The OPOS Control Objects the setup utility hosts as ActiveX controls, one wrapper per device
// class. Each call goes through IDispatch::Invoke by dispatch id. A wrapper whose control could
// not be created, or whose call fails, answers 104 (OPOS_E_NOSERVICE), and GetErrorText says why.
#pragma once

#include "Fx.h"
#include "FxWnd.h"

const long kOposNoService = 104;  // OPOS_E_NOSERVICE

// Dispatch ids of the Control Objects' methods and properties.
enum OposDispId : DISPID {
    kDispDeviceEnabled = 17,
    kDispProperty20 = 20,
    kDispCheckHealth = 31,
    kDispClaimDevice = 32,
    kDispClose = 35,
    kDispOpen = 37,
    kDispReleaseDevice = 38,
    kDispErrorText = 105,
    kDispProperty106 = 106,
};

// How every wrapper calls its control.
class COPOSControl : public CWnd
{
protected:
    long CallLong(DISPID id, const char* params, ...);
    void Put(DISPID id, const char* params, ...);
    // Why the last call failed, or the control is missing; empty when neither.
    CString FailureText() const;
};

// The calls both the printer and the cash drawer wrappers make.
class COPOSDeviceControl : public COPOSControl
{
public:
    long Open(const char* deviceName);
    long Close();
    long ClaimDevice(long timeout);
    long ReleaseDevice();
    long CheckHealth(long level);
    void SetDeviceEnabled(BOOL enabled);
};

class COPOSPOSPrinter : public COPOSDeviceControl
{
    DECLARE_DYNAMIC(COPOSPOSPrinter)
public:
    static const CLSID clsid;
    BOOL Create(LPCSTR className, LPCSTR windowName, DWORD style, const RECT& rect, CWnd* parent, UINT id) override;

    BOOL GetDeviceEnabled();
    void SetDispatchProperty20(long value);
    CString GetErrorText();
    void SetDispatchProperty106(BOOL value);
};

class COPOSCashDrawer : public COPOSDeviceControl
{
    DECLARE_DYNAMIC(COPOSCashDrawer)
public:
    static const CLSID clsid;
    BOOL Create(LPCSTR className, LPCSTR windowName, DWORD style, const RECT& rect, CWnd* parent, UINT id) override;

    CString GetErrorText() const { return FailureText(); }
};

class COPOSLineDisplay : public COPOSControl
{
    DECLARE_DYNAMIC(COPOSLineDisplay)
public:
    static const CLSID clsid;
    BOOL Create(LPCSTR className, LPCSTR windowName, DWORD style, const RECT& rect, CWnd* parent, UINT id) override;
};

class COPOSMSR : public COPOSControl
{
    DECLARE_DYNAMIC(COPOSMSR)
public:
    static const CLSID clsid;
    BOOL Create(LPCSTR className, LPCSTR windowName, DWORD style, const RECT& rect, CWnd* parent, UINT id) override;
};

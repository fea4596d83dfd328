// The test Control Object's ActiveX form: one hostable control per OPOS device class, under the
// class ids of the published Control Objects (registered by DllRegisterServer, in test prefixes
// and by the main job's demonstration only). Each control has IOleObject with a client site,
// IPersistStreamInit and IDispatch; the POSPrinter control also fires the OPOS events through
// a connection point and takes the print methods and properties an application uses by name.
// The POSPrinter control drives the Service Object that its device key names; any control can
// answer from a script instead, and every call is recorded. Tests reach the script and the
// record through the library's exports below (GetProcAddress on the loaded library).
#pragma once

#include <windows.h>
#include <ole2.h>

// The POSPrinter control's events interface (a connection point found by this id) and the
// dispatch ids of its events: DataEvent(Status), DirectIOEvent(EventNumber, pData, pString),
// ErrorEvent(ResultCode, ResultCodeExtended, ErrorLocus, pErrorResponse),
// OutputCompleteEvent(OutputID), StatusUpdateEvent(Data).
// {6F0C1E52-3A8B-4C1D-9E07-5B2D8C41A9F3}
static const IID DIID_TestCoPOSPrinterEvents = {0x6f0c1e52, 0x3a8b, 0x4c1d, {0x9e, 0x07, 0x5b, 0x2d, 0x8c, 0x41, 0xa9, 0xf3}};
enum : DISPID
{
    kEventData = 1,
    kEventDirectIO = 2,
    kEventError = 3,
    kEventOutputComplete = 4,
    kEventStatusUpdate = 5,
};

// The name of an OPOS result code, as the controls' texts and the example application show it.
inline const char* OposResultName(long rc)
{
    static const char* const names[] = {"OPOS_E_CLOSED", "OPOS_E_CLAIMED", "OPOS_E_NOTCLAIMED", "OPOS_E_NOSERVICE",
                                        "OPOS_E_DISABLED", "OPOS_E_ILLEGAL", "OPOS_E_NOHARDWARE", "OPOS_E_OFFLINE",
                                        "OPOS_E_NOEXIST", "OPOS_E_EXISTS", "OPOS_E_FAILURE", "OPOS_E_TIMEOUT",
                                        "OPOS_E_BUSY", "OPOS_E_EXTENDED"};
    if (rc == 0)
        return "OPOS_SUCCESS";
    if (rc >= 101 && rc <= 114)
        return names[rc - 101];
    return "unknown result";
}

enum TestCoClass { kTestCoPOSPrinter, kTestCoCashDrawer, kTestCoLineDisplay, kTestCoMSR, kTestCoClassCount };

// One call a control received: a dispatch call ("Invoke") or one of its interface methods
// ("SetClientSite", "InitNew", "Load", "DoVerb", "Close", ...), in order of arrival.
struct TestCoCall
{
    int cls;            // TestCoClass
    int object;         // serial number of the control instance, from 1
    char member[20];
    DISPID id;          // dispatch calls only (DISPID_UNKNOWN otherwise)
    WORD kind;          // DISPATCH_METHOD, DISPATCH_PROPERTYGET, DISPATCH_PROPERTYPUT
    UINT argc;
    VARTYPE types[4];   // in the caller's order
    UINT named;
    DISPID namedId;
    BOOL wantsResult;
    long number;        // the first numeric or boolean argument as it came (VARIANT_BOOL for VT_BOOL)
    wchar_t text[128];  // the first text argument
    HRESULT hr;         // what the call answered
    VARTYPE resultType; // the type of the result given back (VT_EMPTY when none)
    BOOL hasSite;       // SetClientSite: a site was given
};

// A scripted answer: a failing hr (with exception text: DISP_E_EXCEPTION), or S_OK with a
// result of type vt (VT_I4, VT_BOOL, VT_BSTR or VT_EMPTY).
struct TestCoAnswer
{
    HRESULT hr;
    VARTYPE vt;
    long number;
    const wchar_t* text;       // VT_BSTR result
    const wchar_t* exception;  // when set: DISP_E_EXCEPTION with this description
};

extern "C" {
// Sets (answer) or removes (NULL) the answer of one class to one dispatch id and kind.
typedef void(WINAPI* TestCoScriptFn)(int cls, DISPID id, WORD kind, const TestCoAnswer* answer);
// Forgets every script and the record.
typedef void(WINAPI* TestCoResetFn)();
typedef int(WINAPI* TestCoCallCountFn)();
typedef BOOL(WINAPI* TestCoGetCallFn)(int index, TestCoCall* call);
// The class of a published class id; -1 when none.
typedef int(WINAPI* TestCoClassOfFn)(REFCLSID clsid);
}

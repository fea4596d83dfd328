// The test Control Object: an apartment-threaded in-process automation object that drives a
// Service Object the way standard OPOS Control Objects do. Tests reach it through
// ITestControlObject (QueryInterface on the object); the Service Object reaches it through
// IDispatch, by the callback names SODirectIO, SOError, SOOutputComplete and SOStatusUpdate.
#pragma once

#include <windows.h>
#include <ole2.h>

// {DB77BCCE-11D1-48AC-B2B3-0748A43C7D4E}
static const CLSID CLSID_TestControlObject = {0xdb77bcce, 0x11d1, 0x48ac, {0xb2, 0xb3, 0x07, 0x48, 0xa4, 0x3c, 0x7d, 0x4e}};
// {55A2609C-D380-4A99-A0EA-2B5FE8ADA5E0}
static const IID IID_ITestControlObject = {0x55a2609c, 0xd380, 0x4a99, {0xa0, 0xea, 0x2b, 0x5f, 0xe8, 0xad, 0xa5, 0xe0}};
#define TESTCO_PROGID "VESK.Test.POSPrinterControl.1"

// One callback the Service Object made.
struct TestCoEvent
{
    char name[24];     // "SOStatusUpdate", "SOError", "SOOutputComplete", "SODirectIO"
    long args[4];      // the callback's numbers in order (by-reference ones as they came in)
    DWORD threadId;    // the thread the call came on
    DWORD firedOn;     // the thread it was fired on: always this object's own
};

// Told of each callback as it is delivered, on the Control Object's thread. response: SOError's
// by-reference answer; data and text: SODirectIO's by-reference arguments (NULL for the others).
struct ITestCoListener
{
    virtual void OnServiceEvent(const TestCoEvent& event, long* response, long* data, BSTR* text) = 0;
};

struct ITestControlObject : public IUnknown
{
    // Open as an application calls it: the device's ProgID from the registry, the Service
    // Object's names, OpenService, the version check. Returns the OPOS result.
    virtual long STDMETHODCALLTYPE Open(const char* deviceName) = 0;
    // Close of an open device: the Service Object's Close, then its release.
    virtual long STDMETHODCALLTYPE Close() = 0;
    // Drops the Service Object without calling Close (an application that forgot Close).
    virtual void STDMETHODCALLTYPE ReleaseService() = 0;
    // Calls a Service Object method by name: args in the application's order (VT_I4, VT_BSTR,
    // VT_BYREF|VT_I4, VT_BYREF|VT_BSTR), each passed in the kind this Control Object uses for it.
    // Returns the method's I4 result, or 104 when Invoke fails; result (may be NULL) gets the raw
    // result variant.
    virtual long STDMETHODCALLTYPE Call(const char* method, int argc, VARIANT* args, VARIANT* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE LastInvokeResult() = 0;
    // The Service Object's dispatch (no reference added); NULL when none.
    virtual IDispatch* STDMETHODCALLTYPE Service() = 0;
    // The names asked of the Service Object at the last Open, in order, "=id" or "=?" appended.
    virtual int STDMETHODCALLTYPE LookupCount() = 0;
    virtual BOOL STDMETHODCALLTYPE GetLookup(int index, char* text, int size) = 0;

    // Scripts: a callback name this object denies knowing; the answer SOError gives back
    // through its by-reference response (-1: leave it as it came).
    virtual void STDMETHODCALLTYPE HideCallback(const char* name) = 0;
    virtual void STDMETHODCALLTYPE SetErrorResponse(long response) = 0;

    // Callbacks received; waiting pumps messages. A callback from another thread waits until
    // this object's thread pumps, as a standard Control Object's does.
    virtual int STDMETHODCALLTYPE EventCount() = 0;
    virtual BOOL STDMETHODCALLTYPE GetEvent(int index, TestCoEvent* event) = 0;
    virtual BOOL STDMETHODCALLTYPE WaitForEvents(int count, DWORD timeoutMs) = 0;

    // Script: inside the next callback of this name (NULL: none), close the device as an
    // application's event handler would (Close of the Service Object, then its release);
    // CloseResult gives what that Close returned (-1 before).
    virtual void STDMETHODCALLTYPE CloseInCallback(const char* name) = 0;
    virtual long STDMETHODCALLTYPE CloseResult() = 0;

    // The one listener told of every callback after it is recorded (NULL: none; not owned).
    virtual void STDMETHODCALLTYPE SetListener(ITestCoListener* listener) = 0;
};

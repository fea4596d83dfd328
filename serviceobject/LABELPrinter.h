// CLABELPrinter: the POSPrinter Service Object for label printers, an automation object that
// the OPOS Control Object drives through its dispatch table.
#pragma once

#include "FxOle.h"
#include "FxThread.h"
#include "OPOSData.h"

#include <windows.h>

// The product's class and dispatch interface ids.
extern const CLSID CLSID_LABELPrinter;
extern const IID IID_DLABELPrinter;
#define LABELPRINTER_PROGID "VESK.LabelPrinter.ServiceObject.1.13"

// The Control Object as the service object calls it: its IDispatch (no reference of our own:
// the Control Object owns us) and the dispatch ids of its four callbacks.
class CControlObject
{
public:
    enum { SODirectIO, SOError, SOOutputComplete, SOStatusUpdate, kCallbacks };

    void AttachDispatch(IDispatch* disp) { m_disp = disp; }
    void DetachDispatch() { m_disp = nullptr; }
    void ReleaseDispatch() { m_disp = nullptr; }
    IDispatch* GetDispatch() const { return m_disp; }
    // Looks the callback names up one at a time; FALSE at the first the Control Object lacks.
    BOOL BindCallbacks();
    DISPID GetCallbackID(int which) const { return m_ids[which]; }

private:
    IDispatch* m_disp = nullptr;
    DISPID m_ids[kCallbacks] = {DISPID_UNKNOWN, DISPID_UNKNOWN, DISPID_UNKNOWN, DISPID_UNKNOWN};
};

class CLABELPrinter : public CCmdTarget
{
    DECLARE_DYNAMIC(CLABELPrinter)
public:
    CLABELPrinter();
    ~CLABELPrinter() override;
    static CCmdTarget* CreateObject();

    void OnFinalRelease() override;
    const FX_DISPMAP* GetDispatchMap() const override;
    BOOL GetDispatchIID(IID* iid) override;

    // The dispatch table's methods, in dispatch id order.
    long GetPropertyNumber(long propIndex);
    void SetPropertyNumber(long propIndex, long number);
    BSTR GetPropertyString(long propIndex);
    void SetPropertyString(long propIndex, const char* value);
    long OpenService(const char* deviceClass, const char* deviceName, IDispatch* dispatch);
    long Close();
    long ClaimDevice(long timeout);
    long Claim(long timeout) { return ClaimDevice(timeout); }
    long ReleaseDevice();
    long Release() { return ReleaseDevice(); }
    long CheckHealth(long level);
    long DirectIO(long command, long* data, BSTR* string);
    long COFreezeEvents(long freeze);
    long ClearOutput();
    long BeginInsertion(long timeout);
    long BeginRemoval(long timeout);
    long EndInsertion();
    long EndRemoval();
    long CutPaper(long percentage);
    long PrintBarCode(long station, const char* data, long symbology, long height, long width, long alignment,
                      long textPosition);
    long PrintBitmap(long station, const char* fileName, long width, long alignment);
    long PrintImmediate(long station, const char* data);
    long PrintNormal(long station, const char* data);
    long PrintTwoNormal(long stations, const char* data1, const char* data2);
    long RotatePrint(long station, long rotation);
    long SetBitmap(long bitmapNumber, long station, const char* fileName, long width, long alignment);
    long SetLogo(long location, const char* data);
    long TransactionPrint(long station, long control);
    long ValidateData(long station, const char* data);
    long ChangePrintSide(long side);
    long MarkFeed(long type);
    long ResetStatistics(const char* statisticsBuffer);
    long RetrieveStatistics(BSTR* statisticsBuffer);
    long UpdateStatistics(const char* statisticsBuffer);
    long CompareFirmwareVersion(const char* firmwareFileName, long* result);
    long UpdateFirmware(const char* firmwareFileName);
    long ClearPrintArea();
    long pageModePrint(long control);
    long PrintMemoryBitmap(long station, const char* data, long type, long width, long alignment);
    long DrawRuledLine(long station, const char* positionList, long lineDirection, long lineWidth, long lineStyle,
                       long lineColor);

    BOOL APS_CheckPreconditions(long flags);

    // The object-wide state behind the methods.
    long ResultCode = 0;
    long ResultCodeExtended = 0;
    long State = 1;
    BOOL m_Claimed = FALSE;
    BOOL DeviceEnabled = FALSE;
    BOOL FreezeEvents = FALSE;
    BOOL m_bCOFreezeEvents = FALSE;
    long ServiceObjectVersion = 1013000;
    long PowerState = 2000;
    DWORD m_dwID = 0;
    CString m_strDeviceName;
    CString m_strInfPath;
    CString m_strInfDir;
    BOOL m_bLog = FALSE;
    int m_nEncLog = 0;
    BOOL m_bStatusKnown = FALSE;
    CControlObject m_ControlObject;

    // Handles OpenService creates and Close (or the final release) gives back.
    HANDLE m_hEventListMutex = nullptr;
    HANDLE m_hErrorResponseEvent = nullptr;
    HANDLE m_hEventsPendingEvent = nullptr;
    HANDLE m_hEventThreadEndedEvent = nullptr;
    HANDLE m_hEventsNotFrozenEvent = nullptr;
    HANDLE m_hCONotFrozenEvent = nullptr;
    HANDLE m_hPrintStopEvent = nullptr;
    HANDLE m_hWakeEvent = nullptr;
    COPOSData* m_pTopLogo = nullptr;
    COPOSData* m_pBottomLogo = nullptr;
    volatile LONG m_bStop = 0;
    CWinThread* m_pEventThread = nullptr;
    CWinThread* m_pAsyncPrintThread = nullptr;
    // Set by each worker thread as its last step, so Close need not wait for an ended thread.
    volatile LONG m_bEventThreadFinished = 0;
    volatile LONG m_bPrintThreadFinished = 0;

private:
    void Log(int level, const char* format, ...);
    // Unsupported: 106 whatever the state, after the line (if any) it writes.
    long NotSupported(const char* line);
    // Gives back everything an OpenService acquired, also when it stopped half-way.
    void ReleaseOpenResources();
    void StopThread(CWinThread*& thread, volatile LONG& finished, const char* name);

    static UINT __cdecl EventThread(LPVOID self);
    static UINT __cdecl AsyncPrintThread(LPVOID self);

    // This object counts as one user of the trace log (registered at most once).
    BOOL m_bLogUser = FALSE;
};

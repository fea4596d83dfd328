// CLABELPrinter: the POSPrinter Service Object for label printers, an automation object that
// the OPOS Control Object drives through its dispatch table.
#pragma once

#include "FxOle.h"
#include "FxThread.h"
#include "EscapeParser.h"
#include "LabelCommand.h"
#include "LabelConfig.h"
#include "OPOSData.h"
#include "State.h"
#include "SyncEx.h"

#include <windows.h>

#include <deque>
#include <string>

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
    IDispatch* GetDispatch() const { return m_disp; }
    // Looks the callback names up one at a time; FALSE at the first the Control Object lacks.
    BOOL BindCallbacks();
    DISPID GetCallbackID(int which) const { return m_ids[which]; }
    // One callback with I4 arguments in the application's order; a non-NULL byRef is passed by
    // reference as the last one.
    HRESULT Call(int which, const long* args, int count, long* byRef);

private:
    IDispatch* m_disp = nullptr;
    DISPID m_ids[kCallbacks] = {DISPID_UNKNOWN, DISPID_UNKNOWN, DISPID_UNKNOWN, DISPID_UNKNOWN};
};

// Events waiting for delivery to the Control Object; the event list owns them.
class COPOSEvent
{
public:
    enum { Error = 3, OutputComplete = 4, StatusUpdate = 5 };
    explicit COPOSEvent(int type) : m_nType(type) {}
    virtual ~COPOSEvent() {}
    int m_nType;
};

class CErrorEvent : public COPOSEvent
{
public:
    CErrorEvent(long rc, long rce, long locus = 1, long response = 11)
        : COPOSEvent(Error), ResultCode(rc), ResultCodeExtended(rce), ErrorLocus(locus), ErrorResponse(response)
    {
    }
    long ResultCode, ResultCodeExtended, ErrorLocus, ErrorResponse;
    LONG Sequence = 0;  // the print thread's wait this event answers
};

class COutputCompleteEvent : public COPOSEvent
{
public:
    explicit COutputCompleteEvent(long id) : COPOSEvent(OutputComplete), OutputID(id) {}
    long OutputID;
};

class CStatusUpdateEvent : public COPOSEvent
{
public:
    explicit CStatusUpdateEvent(long data) : COPOSEvent(StatusUpdate), Data(data) {}
    long Data;
};

class CLABELPrinter;

// The hidden window on the thread that opened the service: the event thread posts each event
// to it, and its window procedure makes the Control Object's callback there. A message-only
// window, so no desktop or graphics driver is needed.
class CEventInterface
{
public:
    CEventInterface();
    ~CEventInterface();
    CEventInterface(const CEventInterface&) = delete;
    CEventInterface& operator=(const CEventInterface&) = delete;

    BOOL Create(CLABELPrinter* printer);
    void DestroyWindow();
    HWND GetSafeHwnd() const { return m_hWnd; }
    // Hands an event to the window's thread; FALSE when it could not be posted (the caller keeps it).
    BOOL Post(COPOSEvent* event);
    // Takes back an event the window has not taken yet (NULL when it has).
    COPOSEvent* TakeBack();
    BOOL OnCommand(WPARAM wParam, LPARAM lParam);

    HANDLE m_hDelivered = nullptr;  // set when the window is done with the posted event
    CLABELPrinter* m_pPrinter = nullptr;

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    HWND m_hWnd = nullptr;
    WNDPROC m_baseProc = nullptr;
    COPOSEvent* volatile m_pPosted = nullptr;  // whoever takes it deletes it
};

class CLABELPrinter : public CCmdTarget, public IStatusReceiver
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
    long PrintBarCode(long station, const CString& data, long symbology, long height, long width, long alignment,
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

    // ---- health checks (ResultCode and CheckHealthText hold the outcome)
    long CheckHealthInternal();
    long CheckHealthExternal();
    long CheckHealthInteractive();

    // ---- status (the status thread calls the first two)
    void ProcessStatusBytes(const BYTE* frame) override;
    // The port's entry point: the port's own power (also counted for the jobs in writing),
    // kept apart from what the printer's status says.
    void OnPortPowerState(int powerState) override;
    // A power state into PowerState and its StatusUpdateEvent (0: nothing known, ignored).
    void SetPowerState(int powerState);
    // The power the device reports: the port's when it is off line, else the printer's status.
    long EffectivePower() const;
    // What the printer reported is not known after a release: the next claim asks again.
    void ForgetPrinterStatus();
    // The status side's end of an error (m_statusLock held): not while jobs are queued, in
    // writing or awaiting the answer to their ErrorEvent.
    void ClearErrorState();
    void SetErrorState(long level, long station, const CString& text);
    CString GetErrorString();
    const DeviceOption& GetStatusDeviceOption() const override { return m_config.m_dop; }
    // answered (may be NULL): whether the printer answered within the time-out.
    BOOL CHK_LabelStatus(DWORD timeoutMs, BOOL* answered = nullptr);
    // One status request and its answer byte under the port lock, what the print path's status
    // check and DirectIO's status commands share.
    enum { ExchangeAnswered, ExchangeNotSent, ExchangeNoAnswer };
    int StatusExchange(DWORD timeoutMs, BYTE* answer);
    // lockTimedOut (may be NULL): the byte was not written because the port lock was not had.
    BOOL CHK_InitializePrinter(DWORD timeoutMs, BOOL* lockTimedOut = nullptr);
    BOOL P_PrintStateToRC(long* rc, long* rce);
    // A USB device path printing synchronously: not refused for its error bits or power.
    bool UsbSynchronous() const;
    // The codes of a write that ran out of attempts or met an off-line printer go to rc and rce
    // when given, else to ResultCode and ResultCodeExtended.
    int P_WriteBuf(const BYTE* bytes, int length, long* rc = nullptr, long* rce = nullptr);
    // P_WriteBuf for a caller that holds the port lock already.
    int P_WriteBufLocked(const BYTE* bytes, int length, long* rc, long* rce);
    CString GetLastResultText() const;
    enum { StatusAnswerTimeoutMs = 5000 };

    // ---- output
    // Takes the chunks over (the list is left empty); ResultCode holds the outcome.
    void P_PrintOrEnqueue(BOOL asynchronous, CPrintDataList& chunks);
    BOOL P_DoPrintData(BOOL withStatusCheck, CPrintData* job);
    // taken (may be NULL): the bytes the port took.
    BOOL P_WriteWithStateCheck(const BYTE* bytes, int length, long* rc, long* rce, int* taken = nullptr);
    void UpdateQueueState();
    // After a label printed on the caller's thread: idle, unless queued jobs make it busy.
    void SetIdleUnlessQueued();
    static void ClearQueue(CObList& jobs);
    static void DeleteJob(CPrintData* job);
    // The queue part of ClearOutput: the jobs of both lists deleted under AsyncQueueMutex; FALSE
    // when the lock was not had (the object closing, or a print pass past every bound).
    BOOL DropAllJobs();
    // Whether the port is off line now; whether it reported off line since the count was
    // offlineBefore, or is off line now.
    BOOL PortOffline() const;
    BOOL PortWentOffline(LONG offlineBefore) const;
    // PortOffline, or the port itself says so now.
    BOOL PortOfflineNow() const;
    // The status exchange before a label: FALSE with the codes when nothing may be written (no
    // answer: the time-out, or off line).
    BOOL FirstStatusCheck(long* rc, long* rce);
    // The status exchange after a label's last byte: FALSE with the codes when the port went off
    // line since offlineBefore or the printer did not answer.
    BOOL LabelDelivered(LONG offlineBefore, long* rc, long* rce);
    void AsyncPrintHandlerWorker();
    // Waits up to ms; TRUE when the object is closing.
    BOOL WaitOrStop(DWORD ms);
    // Takes AsyncQueueMutex, giving up only when the object closes.
    BOOL LockQueue(const char* place);
    void UnlockQueue(const char* place);
    int QueuedJobs() const { return int(m_nQueued); }
    int JobsInProgress() const { return int(m_nInProgress); }
    static int ConvertCodePage(UINT codePage, const char* text, int length, char* output);

    // ---- events
    void QueueEvent(COPOSEvent* event);
    void SetErrorResponse(const CErrorEvent& event);
    // Answers the print thread's wait for the ErrorEvent of that sequence (0: whichever it
    // waits for), once: a later answer to the same event is ignored. why: logged, when given.
    void AnswerErrorWait(LONG sequence, long response, const char* why);
    // The print thread's wait for the answer to its ErrorEvent: the response, or -1 when the
    // object closes. Bounded in slices; a claim that ends answers it CLEAR.
    long WaitErrorAnswer(LONG sequence);
    // ---- the end of a print pass (Close, ReleaseDevice, a disable)
    enum PassEnd { PassEndDisable = 1, PassEndRelease, PassEndClose };
    // The one road that ends a print pass: the queue is held from the next pass; the job being
    // written may finish for about 1.5 s; then its writes end between two pieces, and a write
    // that has not returned is cancelled through the port. A disable leaves a written job to
    // its answer; a release or Close ends that wait too. FALSE when the print thread has not
    // left its port call within the bound (it settles its job when it does).
    BOOL EndPrintPass(int why);
    // The rule for the job of a pass that was ended (print thread, AsyncQueueMutex held): bytes
    // still to send put it back at the head of the queue, and the next label begins with a line
    // feed when some of it may have reached the printer; a job written whole is never sent again
    // by the end of a pass. A release or Close clears the lists.
    void SettleEndedJob(CPrintData* job);
    // Whether the pass of the print thread (only there) has been ended; whether its status
    // reads end too.
    BOOL PassCut() const;
    BOOL ReadsCut() const;
    // The port closed by a pass's cancel is opened again by the next enable; FALSE when it
    // does not open.
    BOOL ReopenAfterCancel();
    // The status lock as its users take it: a lock not had within its bound is logged and the
    // caller skips its work rather than doing it unlocked.
    BOOL LockStatus(const char* where);
    // The port's Write and Read; on the print thread they are marked as its port call.
    int PortWrite(const BYTE* bytes, DWORD length);
    int PortRead(BYTE* bytes, DWORD length, DWORD timeoutMs);
    // Runs on the window's thread for one posted event; TRUE when it was passed on.
    BOOL DeliverEvent(COPOSEvent* event);

    // ---- property effects, callable by the configuration without the state checks
    long DoDeviceEnabled(long value);
    void DoFreezeEvents(BOOL freeze);
    long DoPowerNotify(long value);
    long ApplyCharacterSet(long value);
    long ApplyPageModeArea(const CString& text);
    long ApplyPageModePrintArea(const CString& text);
    long ApplyConfiguredPage();
    CString PageInMapMode(const char* format, int width, int length) const;
    // Dots as the application reads them in the current MapMode.
    long DotsInMapMode(long dots) const;
    CString PageModePrintAreaText() const;
    // The usable line width: the model's line width, or less when the page less its margin is
    // narrower. RecLineWidth follows it.
    void UpdateLineWidth();
    long ApplyPageModePrintDirection(long value);
    long ApplyPageModeVerticalPosition(long value);
    long ApplyPageModeHorizontalPosition(long value);
    void ConvertPageModeUnits(BOOL toMapMode);
    long ApplyRecLineChars(long value);
    long ApplyRecLineSpacing(long value);
    long ApplyRecLineHeight();
    long ApplyMapMode(long value);
    long DoFlagWhenIdle(long value);
    BOOL IsInCharacterSetList(long value) const;
    // A map-mode value in dots; FALSE when negative or outside 32 bits after conversion.
    static BOOL ToDots(long long value, const MapModeRow& row, long* dots);
    static int CodePageNumber(long characterSet, int* residentFont);

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
    CLabelConfig m_config;      // the device's configuration, read by OpenService
    CLabelCommand m_builder;    // the label command builder of this object
    CState* m_pPort = nullptr;  // the port connection of m_dwID (the connection list owns it)

    // Printer status.
    BOOL CoverOpen = FALSE;
    BOOL RecEmpty = FALSE;
    BOOL RecNearEnd = FALSE;
    volatile long m_nPrinterError = 0;  // 0, 401, 402, 403
    volatile long m_nLastPaper = -1;
    volatile long m_nLastCover = -1;
    volatile long m_nLastPower = -1;
    volatile long m_nPrinterPower = -1;  // from the last status: 2001, or 2003 for cover or paper; -1 none
    // One interpretation of the status at a time (status thread, status answers, enabling),
    // and the error state and State changes of the status side and the queue. A kernel mutex:
    // a status thread ended by force leaves it abandoned, not held.
    CMutexEx m_statusLock;
    BOOL PowerNotify = FALSE;
    BOOL AsyncMode = FALSE;
    BOOL FlagWhenIdle = FALSE;
    BOOL m_bIdlePending = FALSE;  // one idle notice per setting of FlagWhenIdle
    long ErrorLevel = 1;
    long ErrorStation = 0;
    CString ErrorString;

    // Property values the setters keep.
    long CharacterSet = 0;
    long MapMode = 1;
    long RotateSpecial = 1;
    long RecLineChars = 0, RecLineHeight = 0, RecLineSpacing = 0, RecLineWidth = 0, RecLinesToPaperCut = 0;
    long m_nLineHeightDots = 0, m_nLineSpacingDots = 0, m_nLineWidthDots = 0;
    // The label's geometry is kept in dots only: the setters convert from the MapMode of their
    // call, the getters format in the MapMode of theirs.
    long m_nPageModeX = 0, m_nPageModeY = 0;
    long m_areaDots[4] = {0, 0, 0, 0};  // the print area: x, y, width, height
    bool m_areaSet = false;             // no area reads as an empty text until one is set
    // The most bytes one label may have: the print buffer's own limit (a test sets it lower).
    DWORD m_labelLimit = COPOSData::kMaxSize;
    CString PageModeArea;
    long BinaryConversion = 0;
    long RecLetterQuality = 0;
    long CartridgeNotify = 0;
    long RecCartridgeState = 0x10000000, JrnCartridgeState = 0x10000000, SlpCartridgeState = 0x10000000;
    long RecCurrentCartridge = 1;
    long PageModeStation = 0;
    long CapCharacterSet = 998, CapTransaction = 1, CapRecPresent = 1;

    // Output: the jobs waiting and those written whose completion is not yet reported, both
    // under AsyncQueueMutex.
    CObList m_AsyncPrintDataQueue;
    CObList m_AsyncPDQInProgress;
    CMutexEx AsyncQueueMutex;
    volatile LONG m_nQueued = 0, m_nInProgress = 0;  // their counts, for readers without the lock
    long OutputID = 0;
    BOOL m_bImmediate = FALSE;
    volatile LONG m_bCleared = 0;
    BOOL m_bTransaction = FALSE;
    BOOL m_bPageMode = FALSE;
    long m_nRotation = 0;      // the last RotatePrint value
    BOOL m_bLineFeedAdded = FALSE;
    // The print thread's wait for an answer: the sequence of its ErrorEvent (0: none).
    volatile LONG m_nErrorWait = 0;
    volatile LONG m_nErrorSequence = 0;
    // The print passes: their number, the phase of the one under way (1 its job is written,
    // 2 its answer awaited, 0 none), the pass that was ended and why; the queue held from the
    // next pass until the device is enabled again; a label left cut at the printer, so the next
    // one begins with a line feed; the pass whose write was cancelled through the port.
    enum { PhaseNone, PhaseWriting, PhaseAnswer };
    volatile LONG m_nPassNo = 0;
    volatile LONG m_nPassPhase = PhaseNone;
    volatile LONG m_nCutPass = 0;
    volatile LONG m_nPassEnd = 0;
    volatile LONG m_bQueueHeld = 0;
    volatile LONG m_bFeedFirst = 0;
    volatile LONG m_nCancelledPass = 0;
    BOOL m_bPortCancelled = FALSE;  // this class's port was closed by a cancel
    // The print thread's port call (1 a write, 2 a read); it is never ended by force inside one.
    enum { PortCallNone, PortCallWrite, PortCallRead };
    DWORD m_dwPrintThreadId = 0;
    volatile LONG m_bPrintThreadInPortCall = 0;
    // The print thread at Close: 0 running, 2 ended; left in its port call, 1 while Close runs,
    // 3 after it: a thread left behind keeps the object, its connection and the library until
    // it leaves.
    volatile LONG m_nPrintThreadLeft = 0;
    CWinThread* m_pLeftThread = nullptr;
    HMODULE m_hLeftModule = nullptr;
    // Counts the port's off-line reports: a job counts as delivered only when none came from
    // its first write to the status answer after its last.
    volatile LONG m_nPortOfflineCount = 0;
    volatile LONG m_nPortPower = 0;

    // The event list (oldest first) under m_hEventListMutex.
    std::deque<COPOSEvent*> m_EventList;
    long ErrorResponse = 11;
    CEventInterface m_EventInterface;

    // Handles OpenService creates and Close (or the final release) gives back.
    HANDLE m_hEventListMutex = nullptr;
    HANDLE m_hErrorResponseEvent = nullptr;
    HANDLE m_hEventsPendingEvent = nullptr;
    HANDLE m_hEventsNotFrozenEvent = nullptr;
    HANDLE m_hCONotFrozenEvent = nullptr;
    HANDLE m_hPrintStopEvent = nullptr;
    HANDLE m_hWakeEvent = nullptr;
    COPOSData* m_pTopLogo = nullptr;
    COPOSData* m_pBottomLogo = nullptr;
    BOOL m_bTopLogoSet = FALSE, m_bBottomLogoSet = FALSE;
    volatile LONG m_bStop = 0;
    CWinThread* m_pEventThread = nullptr;
    CWinThread* m_pAsyncPrintThread = nullptr;

private:
    void Log(int level, const char* format, ...);
    // Unsupported: 106 whatever the state, after the line (if any) it writes.
    long NotSupported(const char* line);
    // Gives back everything an OpenService acquired, also when it stopped half-way.
    void ReleaseOpenResources();
    // ---- print methods
    // The application's text after BinaryConversion, by length: a converted 0x00 stays a byte.
    std::string FromBinaryConversion(const char* data, size_t length);
    long CheckImageParameters(long station, const char* fileName, long width, long alignment);
    EscapeParseContext ParseContext();
    // The state and station checks of PrintNormal and PrintImmediate; FALSE with ResultCode set.
    BOOL TextMethodReady(long mask, long station, const char* method, const char* stop);
    // The data after conversion, ending with a line end, into the label body; the parser's result.
    long ParseLines(const char* data);
    // The bitmap width in dots for PrintBitmap and SetBitmap, after the INF override and the
    // line-width check; FALSE (ResultCode set) when refused.
    BOOL BitmapWidthDots(long width, const char* method, long* dots);
    // A picture file as an uncompressed raster; 0 or 106.
    long PictureRaster(const CString& fileName, long widthDots, COPOSData& raster, int* w, int* h);
    // Runs one print method as a unit: unless it returns 0 the label builder is put back as it
    // was before the call, so a refused call leaves nothing of itself. ResultCode holds the result.
    template <class Call>
    long PrintUnit(Call call)
    {
        ResultCode = m_builder.Unit([&] { return int(call()); });
        return ResultCode;
    }
    // Builds the label and hands it to the output path; ResultCode holds the outcome.
    void SendLabel(BOOL asynchronous, BOOL leadingEmptyChunk, const CLabelCommand::Mark* since = nullptr);

    void StopThread(CWinThread*& thread, const char* name);
    void StopPrintThread();
    // Sets the stop flag, wakes every wait of the event and print threads and waits for both.
    void StopThreads();
    long OpenFailed(long rc);
    void ApplyConfigSetters();
    void ClearEventList();
    BOOL OpenConnection();
    // TRUE when the port itself closed (no other class keeps it open).
    BOOL CloseConnection();
    // What Close gives back once the threads have ended: by Close, or by a print thread left
    // behind when it leaves its port call.
    void GiveBackOpenResources();
    // The end of a print thread left behind at Close: gives the object back and the library.
    void LeaveBehind();

    static UINT __cdecl EventThread(LPVOID self);
    static UINT __cdecl AsyncPrintThread(LPVOID self);

    // This object counts as one user of the trace log (registered at most once).
    BOOL m_bLogUser = FALSE;
};

// Scope guard over the status lock of a label printer (LockStatus logs a lock not had).
class CStatusLock
{
public:
    CStatusLock(CLABELPrinter& p, const char* where) : m_p(p), m_held(p.LockStatus(where)) {}
    ~CStatusLock()
    {
        if (m_held)
            m_p.m_statusLock.Unlock();
    }
    bool Held() const { return m_held != FALSE; }
    CStatusLock(const CStatusLock&) = delete;
    CStatusLock& operator=(const CStatusLock&) = delete;

private:
    CLABELPrinter& m_p;
    BOOL m_held;
};

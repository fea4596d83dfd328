#include "LABELPrinter.h"
#include "KVTLoger.h"
#include "OposConst.h"
#include "Registry.h"

#include <cstdarg>

// {234F0FBE-04B3-44A5-BD34-7518AFF7B6C8}
const CLSID CLSID_LABELPrinter = {0x234f0fbe, 0x04b3, 0x44a5, {0xbd, 0x34, 0x75, 0x18, 0xaf, 0xf7, 0xb6, 0xc8}};
// {321E7BF5-26A8-4B6B-A60D-802E3240AC12}
const IID IID_DLABELPrinter = {0x321e7bf5, 0x26a8, 0x4b6b, {0xa6, 0x0d, 0x80, 0x2e, 0x32, 0x40, 0xac, 0x12}};

IMPLEMENT_DYNAMIC(CLABELPrinter, CCmdTarget)

namespace {
const char kDeviceKey[] = "Software\\OLEforRetail\\ServiceOPOS\\POSPrinter\\";

const FX_DISPMAP_ENTRY kDispatch[] = {
    FX_DISP_FUNCTION(CLABELPrinter, "GetPropertyNumber", 1, GetPropertyNumber),
    FX_DISP_FUNCTION(CLABELPrinter, "SetPropertyNumber", 2, SetPropertyNumber),
    FX_DISP_FUNCTION(CLABELPrinter, "GetPropertyString", 3, GetPropertyString),
    FX_DISP_FUNCTION(CLABELPrinter, "SetPropertyString", 4, SetPropertyString),
    FX_DISP_FUNCTION(CLABELPrinter, "OpenService", 5, OpenService),
    FX_DISP_FUNCTION(CLABELPrinter, "Close", 6, Close),
    FX_DISP_FUNCTION(CLABELPrinter, "ClaimDevice", 7, ClaimDevice),
    FX_DISP_FUNCTION(CLABELPrinter, "Claim", 8, Claim),
    FX_DISP_FUNCTION(CLABELPrinter, "ReleaseDevice", 9, ReleaseDevice),
    FX_DISP_FUNCTION(CLABELPrinter, "Release", 10, Release),
    FX_DISP_FUNCTION(CLABELPrinter, "CheckHealth", 11, CheckHealth),
    FX_DISP_FUNCTION(CLABELPrinter, "DirectIO", 12, DirectIO),
    FX_DISP_FUNCTION(CLABELPrinter, "COFreezeEvents", 13, COFreezeEvents),
    FX_DISP_FUNCTION(CLABELPrinter, "ClearOutput", 14, ClearOutput),
    FX_DISP_FUNCTION(CLABELPrinter, "BeginInsertion", 15, BeginInsertion),
    FX_DISP_FUNCTION(CLABELPrinter, "BeginRemoval", 16, BeginRemoval),
    FX_DISP_FUNCTION(CLABELPrinter, "EndInsertion", 17, EndInsertion),
    FX_DISP_FUNCTION(CLABELPrinter, "EndRemoval", 18, EndRemoval),
    FX_DISP_FUNCTION(CLABELPrinter, "CutPaper", 19, CutPaper),
    FX_DISP_FUNCTION(CLABELPrinter, "PrintBarCode", 20, PrintBarCode),
    FX_DISP_FUNCTION(CLABELPrinter, "PrintBitmap", 21, PrintBitmap),
    FX_DISP_FUNCTION(CLABELPrinter, "PrintImmediate", 22, PrintImmediate),
    FX_DISP_FUNCTION(CLABELPrinter, "PrintNormal", 23, PrintNormal),
    FX_DISP_FUNCTION(CLABELPrinter, "PrintTwoNormal", 24, PrintTwoNormal),
    FX_DISP_FUNCTION(CLABELPrinter, "RotatePrint", 25, RotatePrint),
    FX_DISP_FUNCTION(CLABELPrinter, "SetBitmap", 26, SetBitmap),
    FX_DISP_FUNCTION(CLABELPrinter, "SetLogo", 27, SetLogo),
    FX_DISP_FUNCTION(CLABELPrinter, "TransactionPrint", 28, TransactionPrint),
    FX_DISP_FUNCTION(CLABELPrinter, "ValidateData", 29, ValidateData),
    FX_DISP_FUNCTION(CLABELPrinter, "ChangePrintSide", 30, ChangePrintSide),
    FX_DISP_FUNCTION(CLABELPrinter, "MarkFeed", 31, MarkFeed),
    FX_DISP_FUNCTION(CLABELPrinter, "ResetStatistics", 32, ResetStatistics),
    FX_DISP_FUNCTION(CLABELPrinter, "RetrieveStatistics", 33, RetrieveStatistics),
    FX_DISP_FUNCTION(CLABELPrinter, "UpdateStatistics", 34, UpdateStatistics),
    FX_DISP_FUNCTION(CLABELPrinter, "CompareFirmwareVersion", 35, CompareFirmwareVersion),
    FX_DISP_FUNCTION(CLABELPrinter, "UpdateFirmware", 36, UpdateFirmware),
    FX_DISP_FUNCTION(CLABELPrinter, "ClearPrintArea", 37, ClearPrintArea),
    FX_DISP_FUNCTION(CLABELPrinter, "pageModePrint", 38, pageModePrint),
    FX_DISP_FUNCTION(CLABELPrinter, "PrintMemoryBitmap", 39, PrintMemoryBitmap),
    FX_DISP_FUNCTION(CLABELPrinter, "DrawRuledLine", 40, DrawRuledLine),
};
const FX_DISPMAP kDispatchMap = {kDispatch, int(sizeof kDispatch / sizeof kDispatch[0])};

HANDLE NewEvent(BOOL initiallySet) { return CreateEventA(nullptr, TRUE, initiallySet, nullptr); }

void CloseAndClear(HANDLE& h)
{
    if (h)
        CloseHandle(h);
    h = nullptr;
}

void SetIf(HANDLE h)
{
    if (h)
        SetEvent(h);
}
}

// ---- Control Object

BOOL CControlObject::BindCallbacks()
{
    static const char* const kNames[kCallbacks] = {"SODirectIO", "SOError", "SOOutputComplete", "SOStatusUpdate"};
    if (!m_disp)
        return FALSE;
    for (int i = 0; i < kCallbacks; ++i)
        if (FAILED(FxGetDispID(m_disp, kNames[i], CP_THREAD_ACP, LOCALE_SYSTEM_DEFAULT, &m_ids[i])))
            return FALSE;
    return TRUE;
}

// ---- Object

CLABELPrinter::CLABELPrinter()
{
    // Last: the library stays loaded while the object lives.
    AfxOleLockApp();
}

CCmdTarget* CLABELPrinter::CreateObject() { return new CLABELPrinter; }

CLABELPrinter::~CLABELPrinter()
{
    // An application that forgot Close, or a Control Object dropping us after a failed
    // OpenService, must not leave threads running on freed memory.
    if (State != OPOS_S_CLOSED)
        Close();
    ReleaseOpenResources();
    if (m_bLog)
        Log(0, "- ~CLABELPrinter");
    if (m_bLogUser) {
        GetLoger()->Stop(m_strDeviceName);
        m_bLogUser = FALSE;
    }
    m_bLog = FALSE;
    AfxOleUnlockApp();
}

void CLABELPrinter::OnFinalRelease() { delete this; }

const FX_DISPMAP* CLABELPrinter::GetDispatchMap() const { return &kDispatchMap; }

BOOL CLABELPrinter::GetDispatchIID(IID* iid)
{
    *iid = IID_DLABELPrinter;
    return TRUE;
}

void CLABELPrinter::Log(int level, const char* format, ...)
{
    if (!m_bLog)
        return;
    va_list ap;
    va_start(ap, format);
    GetLoger()->WriteLogV(level, m_strDeviceName, format, ap);
    va_end(ap);
}

BOOL CLABELPrinter::APS_CheckPreconditions(long flags)
{
    ResultCode = OPOS_SUCCESS;
    ResultCodeExtended = 0;
    if ((flags & 1) && !m_Claimed)
        ResultCode = OPOS_E_NOTCLAIMED;
    else if ((flags & 2) && !DeviceEnabled)
        ResultCode = OPOS_E_DISABLED;
    else
        return TRUE;
    Log(10, "APS_CheckPreconditions Error!");
    return FALSE;
}

long CLABELPrinter::NotSupported(const char* line)
{
    if (line)
        Log(0, "%s", line);
    ResultCode = OPOS_E_ILLEGAL;
    return ResultCode;
}

// ---- Open and close

long CLABELPrinter::OpenFailed(long rc)
{
    // A Control Object releases an object whose OpenService failed without calling Close, and
    // the next OpenService on the same port must find it free: give back all this call took.
    ReleaseOpenResources();
    // The log user it registered goes too, so the log's last user can end the log while this
    // object waits for its release.
    if (m_bLogUser) {
        GetLoger()->Stop(m_strDeviceName);
        m_bLogUser = FALSE;
    }
    m_bLog = FALSE;
    ResultCode = rc;
    return ResultCode;
}

void CLABELPrinter::ApplyConfigSetters()
{
    // The configuration's setters take effect whatever the object's state; a refusal of one
    // value is logged by the setter and does not fail the configuration.
    long rc = ResultCode, rce = ResultCodeExtended;
    for (const ConfigSetterCall& c : m_config.m_setters) {
        switch (c.kind) {
        case ConfigSetterCall::CharacterSet: ApplyCharacterSet(c.number); break;
        case ConfigSetterCall::PageModeArea: ApplyPageModeArea(c.text); break;
        case ConfigSetterCall::PageModePrintArea: ApplyPageModePrintArea(c.text); break;
        case ConfigSetterCall::PageModePrintDirection: ApplyPageModePrintDirection(c.number); break;
        case ConfigSetterCall::PageModeVerticalPosition: ApplyPageModeVerticalPosition(c.number); break;
        case ConfigSetterCall::PageModeHorizontalPosition: ApplyPageModeHorizontalPosition(c.number); break;
        case ConfigSetterCall::ConvertPageModeUnits: ConvertPageModeUnits(FALSE); break;
        case ConfigSetterCall::RecLineChars: ApplyRecLineChars(c.number); break;
        }
    }
    // The page-mode positions set above would make the first label's position explicit, and its
    // content would ignore its alignment; it starts like every later label (BuildLabel resets it).
    m_builder.ResetPosition();
    ResultCode = rc;
    ResultCodeExtended = rce;
}

long CLABELPrinter::OpenService(const char* deviceClass, const char* deviceName, IDispatch* dispatch)
{
    // A second open would start a second pair of threads over the first one's handles; a print
    // thread left in its port call at the last Close still uses this object's.
    if (State != OPOS_S_CLOSED || m_nPrintThreadLeft == 1 || m_nPrintThreadLeft == 3) {
        Log(10, "-OpenService : already open");
        ResultCode = OPOS_E_ILLEGAL;
        return ResultCode;
    }
    if (!dispatch) {
        Log(10, "-OpenService : Dispatch Error!");
        ResultCode = OPOS_E_NOSERVICE;
        return ResultCode;
    }
    CString key = CString(kDeviceKey) + deviceName;
    CRegistry reg(HKEY_LOCAL_MACHINE);
    ResultCode = OPOS_SUCCESS;

    m_strInfPath.Empty();
    reg.GetString(key, "inf", m_strInfPath);
    int slash = m_strInfPath.ReverseFind('\\');
    m_strInfDir = slash >= 0 ? m_strInfPath.Left(slash) : CString();

    DWORD logValue = 0;
    reg.GetDWORD(key, "Log", logValue);
    m_nEncLog = 0;
    if (logValue == 1) {
        m_bLog = TRUE;
        CString setupInf = m_strInfDir + "\\setup_label.inf";
        m_nEncLog = int(GetPrivateProfileIntA("SPECIAL", "EncLog", 0, setupInf));
        if (!m_bLogUser) {
            GetLoger()->Start(1, m_strInfDir, deviceName);
            m_bLogUser = TRUE;
        }
        char version[512] = "";
        GetPrivateProfileStringA("DESCRIPTION", "VersionDescription", "", version, sizeof version, setupInf);
        m_strDeviceName = deviceName;  // the log names its file after the device
        Log(0, "m_ctlLabelPrinter1.OpenService(\"%s\");", deviceName);
        Log(0, "OPOS Version=%s", version);
        Log(0, "OpenService <DeviceClass=%s, DeviceName=%s>", deviceClass, deviceName);
    }
    m_bStatusKnown = FALSE;
    m_strDeviceName = deviceName;

    // The configuration: device key, model file, custom and preform commands.
    m_config.SetLog([this](int level, const CString& line) { Log(level, "%s", line.GetString()); });
    m_config.SetInfPath(m_strInfPath);
    long rc = m_config.APS_RegistryLoad(deviceName, m_builder);
    if (rc != OPOS_SUCCESS) {
        Log(10, "-OpenService : Registry load error!");
        return OpenFailed(rc);
    }
    Log(0, "APS_RegistryLoad ok!!");
    rc = m_config.APS_INFLoad(m_strInfPath, m_builder);
    if (rc != OPOS_SUCCESS) {
        Log(10, "-OpenService : inf load error!");
        return OpenFailed(rc);
    }
    Log(0, "APS_INFLoad ok!!");
    RecLineChars = m_config.RecLineChars;
    RecLineHeight = m_config.RecLineHeight;
    RecLineSpacing = m_config.RecLineSpacing;
    RecLineWidth = m_config.RecLineWidth;
    RecLinesToPaperCut = m_config.RecLinesToPaperCut;
    m_nLineHeightDots = m_config.RecLineHeight;
    m_nLineSpacingDots = m_config.RecLineSpacingDots;
    m_nLineWidthDots = m_config.RecLineWidthDots;
    CharacterSet = m_config.CharacterSet;
    PageModeStation = m_config.PageModeStation;
    ServiceObjectVersion = m_config.ServiceObjectVersion;
    ApplyConfigSetters();
    m_config.LoadPreformAndCustom(m_builder);

    // The port connection, shared with every object of the process on this port name.
    m_dwID = DWORD(CreateState(deviceName, m_config.PortName(), DEVTYPE_LABEL));
    ConnectionEntry* entry = m_dwID ? FindConnection(int(m_dwID)) : nullptr;
    if (!entry) {
        Log(10, "-OpenService : Port Create Error!");
        m_dwID = 0;
        return OpenFailed(OPOS_E_ILLEGAL);
    }
    m_pPort = entry->pState;

    // The Control Object's callbacks, by name.
    m_ControlObject.AttachDispatch(dispatch);
    if (!m_ControlObject.BindCallbacks()) {
        Log(10, "-OpenService : Dispatch Error!");
        return OpenFailed(OPOS_E_NOSERVICE);
    }

    m_hEventListMutex = CreateMutexA(nullptr, FALSE, nullptr);
    m_hErrorResponseEvent = NewEvent(FALSE);
    m_hEventsPendingEvent = NewEvent(FALSE);
    m_hEventsNotFrozenEvent = NewEvent(TRUE);
    m_hCONotFrozenEvent = NewEvent(TRUE);
    m_hPrintStopEvent = NewEvent(FALSE);
    m_hWakeEvent = NewEvent(FALSE);
    m_pTopLogo = new COPOSData;
    m_pBottomLogo = new COPOSData;
    m_bStop = 0;
    // A label left cut at the printer by the last Close is still there: m_bFeedFirst stays.
    m_bQueueHeld = 0;
    m_nCutPass = m_nPassEnd = m_nCancelledPass = 0;
    m_nPassPhase = PhaseNone;
    m_bPortCancelled = FALSE;
    m_nPrintThreadLeft = 0;
    FreezeEvents = FALSE;
    m_bCOFreezeEvents = FALSE;
    if (!m_hEventListMutex || !m_hErrorResponseEvent || !m_hEventsPendingEvent ||
        !m_hEventsNotFrozenEvent || !m_hCONotFrozenEvent || !m_hPrintStopEvent || !m_hWakeEvent) {
        Log(10, "-OpenService : event creation failed");
        return OpenFailed(OPOS_E_ILLEGAL);
    }

    if (!m_EventInterface.Create(this)) {
        Log(0, "EventInterface.Create failed.");
        return OpenFailed(OPOS_E_ILLEGAL);
    }

    m_pEventThread = AfxBeginThread(EventThread, this);
    m_pAsyncPrintThread = AfxBeginThread(AsyncPrintThread, this);
    if (!m_pEventThread || !m_pAsyncPrintThread) {
        Log(10, "-OpenService : thread creation failed");
        return OpenFailed(OPOS_E_ILLEGAL);
    }

    State = OPOS_S_IDLE;
    Log(0, "-OpenService = %d ", int(ResultCode));
    return ResultCode;
}

void CLABELPrinter::StopThread(CWinThread*& thread, const char* name)
{
    if (!thread)
        return;
    Log(0, "Waiting Destory Thread : %s", name);
    // Even a thread that has said it is finished is waited for: the library must not unload
    // while it is still on its way out.
    // Every wait of the two threads watches the stop flag; ending one by force could leave a
    // lock of the heap or the loader held, so it is the last resort after a generous wait.
    if (!thread->Join(5000)) {
        Log(0, "call TerminateThread : %s", name);
        thread->Stop(0);
        Log(0, "call TerminateThread Completed: %s", name);
    }
    delete thread;
    thread = nullptr;
}

void CLABELPrinter::StopThreads()
{
    // Every wait of the two threads wakes, a delivery the event thread waits for is released.
    InterlockedExchange(&m_bStop, 1);
    SetIf(m_hPrintStopEvent);
    SetIf(m_hEventsPendingEvent);
    SetIf(m_hEventsNotFrozenEvent);
    SetIf(m_hCONotFrozenEvent);
    SetIf(m_hErrorResponseEvent);
    SetIf(m_EventInterface.m_hDelivered);
    StopThread(m_pEventThread, "EventThread");
    StopPrintThread();
}

void CLABELPrinter::StopPrintThread()
{
    if (!m_pAsyncPrintThread)
        return;
    Log(0, "Waiting Destory Thread : AsyncPrintThread");
    // The end of the pass has cancelled a write stalled at the printer; ending the thread inside
    // a port call would leave the port manager's locks held for ever.
    BOOL ended = m_pAsyncPrintThread->Join(2000);
    if (!ended && m_bPrintThreadInPortCall &&
        InterlockedCompareExchange(&m_nPrintThreadLeft, 1, 0) == 0) {
        // The thread, this object, its connection and the library stay until it leaves.
        Log(10, "Close: the print thread did not leave its port call");
        ExternalAddRef();
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                           reinterpret_cast<LPCSTR>(&CLABELPrinter::AsyncPrintThread), &m_hLeftModule);
        m_pLeftThread = m_pAsyncPrintThread;
        m_pAsyncPrintThread = nullptr;
        return;
    }
    if (!ended && !m_pAsyncPrintThread->Join(3500)) {
        Log(0, "call TerminateThread : AsyncPrintThread");
        m_pAsyncPrintThread->Stop(0);
        Log(0, "call TerminateThread Completed: AsyncPrintThread");
    }
    delete m_pAsyncPrintThread;
    m_pAsyncPrintThread = nullptr;
}

void CLABELPrinter::LeaveBehind()
{
    // Left at Close: nobody else touches the object's resources now.
    Log(0, "the print thread left its port call: the object is given back");
    GiveBackOpenResources();
    CWinThread* self = m_pLeftThread;
    HMODULE module = m_hLeftModule;
    m_pLeftThread = nullptr;
    m_hLeftModule = nullptr;
    InterlockedExchange(&m_nPrintThreadLeft, 0);
    delete self;  // its handle only: the thread runs on
    ExternalRelease();
    if (module)
        FreeLibraryAndExitThread(module, 0);
}

void CLABELPrinter::ReleaseOpenResources()
{
    // The handles go only once the threads have ended.
    State = OPOS_S_CLOSED;
    m_Claimed = FALSE;
    DeviceEnabled = FALSE;
    StopThreads();
    if (m_nPrintThreadLeft == 1) {
        // The print thread may still come back: what it uses stays with the object it holds,
        // and it gives that back once this Close is done.
        m_EventInterface.DestroyWindow();
        m_ControlObject.DetachDispatch();
        InterlockedExchange(&m_nPrintThreadLeft, 3);
        return;
    }
    GiveBackOpenResources();
}

void CLABELPrinter::GiveBackOpenResources()
{
    delete m_pTopLogo;
    m_pTopLogo = nullptr;
    delete m_pBottomLogo;
    m_pBottomLogo = nullptr;
    m_bTopLogoSet = m_bBottomLogoSet = FALSE;
    if (COPOSEvent* e = m_EventInterface.TakeBack())
        delete e;
    ClearEventList();
    ClearQueue(m_AsyncPrintDataQueue);
    ClearQueue(m_AsyncPDQInProgress);
    m_nQueued = m_nInProgress = 0;

    CloseAndClear(m_hPrintStopEvent);
    CloseAndClear(m_hWakeEvent);
    CloseAndClear(m_hErrorResponseEvent);
    CloseAndClear(m_hEventListMutex);
    CloseAndClear(m_hEventsPendingEvent);
    CloseAndClear(m_hEventsNotFrozenEvent);
    CloseAndClear(m_hCONotFrozenEvent);

    if (m_pPort) {
        Log(0, "Close: Call DeleteState");
        m_pPort->SetStatusReceiver(nullptr);
        DeleteState(DEVTYPE_LABEL, int(m_dwID));
        Log(0, "Close: End DeleteState");
    }
    m_pPort = nullptr;
    m_dwID = 0;

    if (m_EventInterface.GetSafeHwnd()) {
        Log(0, "Close: Call EventInterface.DestroyWindow");
        m_EventInterface.DestroyWindow();
        Log(0, "Close: end EventInterface.DestroyWindow");
    }
    if (m_ControlObject.GetDispatch()) {
        m_ControlObject.DetachDispatch();
        Log(0, "Close: ControlObject.DetachDispatch");
        // The driver holds no reference of its own: the detach was its release.
        Log(0, "Close: ControlObject.ReleaseDispatch");
    }
}

long CLABELPrinter::Close()
{
    Log(0, "+Close");
    // The pass under way ends first, then the threads: a stalled write or a status answer
    // awaited would otherwise hold the release's clear of the queue for the whole pass.
    if (State != OPOS_S_CLOSED) {
        EndPrintPass(PassEndClose);
        StopThreads();
    }
    if (m_Claimed)
        ReleaseDevice();
    if (State != OPOS_S_CLOSED)
        ReleaseOpenResources();
    Log(0, "-Close");
    // A print thread left in its port call still holds the object and its port.
    ResultCode = m_nPrintThreadLeft == 3 ? OPOS_E_TIMEOUT : OPOS_SUCCESS;
    return ResultCode;
}

BOOL CLABELPrinter::OpenConnection()
{
    if (!m_pPort->Open(DEVTYPE_LABEL, m_config.m_dop))
        return FALSE;
    return TRUE;
}

BOOL CLABELPrinter::CloseConnection()
{
    return m_pPort && m_pPort->Close(DEVTYPE_LABEL);
}

long CLABELPrinter::ClaimDevice(long timeout)
{
    Log(0, "m_ctlLabelPrinter1.ClaimDevice(%d);", int(timeout));
    if (timeout == 0)
        timeout = 15000;
    ResultCodeExtended = 0;
    ResultCode = OPOS_SUCCESS;
    if (m_Claimed) {
        Log(0, "-ClaimDevice: Already claimdevice is true");
        return ResultCode;
    }
    if (!m_pPort || !FindConnection(int(m_dwID))) {
        Log(10, "-ClaimDevice: pPort is NULL, m_dwID is %d", int(m_dwID));
        ResultCode = OPOS_E_ILLEGAL;
        return ResultCode;
    }
    m_pPort->SetStatusReceiver(this);
    if (!OpenConnection()) {
        m_pPort->SetStatusReceiver(nullptr);
        Log(10, "-ClaimDevice: Failed OpenPort");
        ResultCode = OPOS_E_ILLEGAL;
        return ResultCode;
    }
    CString port = m_config.PortName();
    if (port.Left(3) == "COM" && m_config.m_dop.dwUsingBT == 0) {
        // A wired serial line is opened twice: the first open can find the line in a state
        // the printer does not answer.
        CloseConnection();
        if (!OpenConnection()) {
            m_pPort->SetStatusReceiver(nullptr);
            Log(10, "-ClaimDevice: Failed OpenPort");
            ResultCode = OPOS_E_ILLEGAL;
            return ResultCode;
        }
    }
    m_Claimed = TRUE;
    ResultCode = OPOS_SUCCESS;
    if (!CHK_InitializePrinter(DWORD(timeout))) {
        Log(10, "-ClaimDevice: Failed Check_InitializePrinter");
        CloseConnection();
        m_pPort->SetStatusReceiver(nullptr);
        m_Claimed = FALSE;
        ResultCode = OPOS_E_ILLEGAL;
        return ResultCode;
    }
    Sleep(10);
    m_nLastCover = m_nLastPaper = m_nLastPower = -1;
    // The claim is judged on what the printer says now, not on a status from before the last
    // release (a cover closed meanwhile); a printer that does not answer is not refused.
    DWORD ask = DWORD(timeout) < DWORD(StatusAnswerTimeoutMs) ? DWORD(timeout) : DWORD(StatusAnswerTimeoutMs);
    CHK_LabelStatus(ask);
    m_bStatusKnown = TRUE;

    long rc = 0, rce = 0;
    BOOL ok = P_PrintStateToRC(&rc, &rce);
    if (!ok && port.Left(1) == "\\") {
        Log(0, "ClaimDevice: P_PrintStateToRC Error, but USB port. retry read state.");
        ok = P_PrintStateToRC(&rc, &rce);
        for (int i = 0; !ok && i < 11; ++i) {
            Sleep(100);
            ok = P_PrintStateToRC(&rc, &rce);
        }
    }
    if (!ok) {
        Log(10, "-ClaimDevice: P_PrintStateToRC Error");
        CloseConnection();
        m_pPort->SetStatusReceiver(nullptr);
        m_Claimed = FALSE;
        ResultCodeExtended = rce;
        ResultCode = OPOS_E_ILLEGAL;
        return ResultCode;
    }
    Log(0, "-ClaimDevice");
    return ResultCode;
}

long CLABELPrinter::ReleaseDevice()
{
    Log(0, "m_ctlLabelPrinter1.ReleaseDevice();");
    ResultCodeExtended = 0;
    if (!m_Claimed) {
        Log(0, "-ReleaseDevice: Already Claim is FALSE");
        ResultCode = OPOS_E_ILLEGAL;
        return ResultCode;
    }
    // The end of the claim answers an ErrorEvent the print thread waits for: its jobs go.
    AnswerErrorWait(0, 12, "ReleaseDevice");
    // The pass under way ends first, so the disable finds none; a print thread that has not
    // left its port call clears the lists itself when it does.
    BOOL ended = EndPrintPass(PassEndRelease);
    if (DeviceEnabled)
        DoDeviceEnabled(FALSE);
    InterlockedExchange(&m_bCleared, 1);
    BOOL cleared = FALSE;
    if (ended)
        cleared = ClearOutput() == OPOS_SUCCESS;
    else
        Log(10, "ReleaseDevice: the print pass did not end: the queue is not cleared");
    if (m_hEventListMutex) {
        WaitForSingleObject(m_hEventListMutex, INFINITE);
        m_Claimed = FALSE;
        if (m_hEventsPendingEvent)
            ResetEvent(m_hEventsPendingEvent);
        ReleaseMutex(m_hEventListMutex);
    }
    m_Claimed = FALSE;
    ClearEventList();
    Log(0, "ReleaseDevice: Call ClosePort in Quillan");
    CloseConnection();
    if (m_pPort)
        m_pPort->SetStatusReceiver(nullptr);
    m_bPortCancelled = FALSE;
    ForgetPrinterStatus();
    Log(0, "-ReleaseDevice");
    ResultCode = cleared ? OPOS_SUCCESS : OPOS_E_TIMEOUT;
    return ResultCode;
}

long CLABELPrinter::COFreezeEvents(long freeze)
{
    m_bCOFreezeEvents = freeze != 0;
    if (m_hCONotFrozenEvent) {
        if (freeze)
            ResetEvent(m_hCONotFrozenEvent);
        else
            SetEvent(m_hCONotFrozenEvent);
    }
    ResultCode = OPOS_SUCCESS;
    return ResultCode;
}

// The print methods are in LabelPrint.cpp.

// ---- Unsupported methods

long CLABELPrinter::BeginInsertion(long) { return NotSupported("not supported in BeginInsertion"); }
long CLABELPrinter::BeginRemoval(long) { return NotSupported("not supported in BeginRemoval"); }
long CLABELPrinter::EndInsertion() { return NotSupported("not supported in EndInsertion"); }
long CLABELPrinter::EndRemoval() { return NotSupported("not supported in EndRemoval"); }
long CLABELPrinter::PrintTwoNormal(long, const char*, const char*)
{
    return NotSupported("not supported in PrintTwoNormal");
}
long CLABELPrinter::ChangePrintSide(long) { return NotSupported("not supported in ChangePrintSide."); }
long CLABELPrinter::ResetStatistics(const char*) { return NotSupported(nullptr); }
long CLABELPrinter::RetrieveStatistics(BSTR*) { return NotSupported(nullptr); }
long CLABELPrinter::UpdateStatistics(const char*) { return NotSupported(nullptr); }
long CLABELPrinter::CompareFirmwareVersion(const char*, long*) { return NotSupported(nullptr); }
long CLABELPrinter::UpdateFirmware(const char*) { return NotSupported(nullptr); }
long CLABELPrinter::DrawRuledLine(long, const char*, long, long, long, long) { return NotSupported(nullptr); }

long CLABELPrinter::PrintMemoryBitmap(long station, const char*, long type, long width, long alignment)
{
    Log(0, "+PrintMemoryBitmap < Station : %d, Type : %d, Width : %d, Alignment : %d >", int(station), int(type),
        int(width), int(alignment));
    ResultCode = OPOS_E_ILLEGAL;
    return ResultCode;
}

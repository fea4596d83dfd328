#include "PortCom.h"

#include "PortLog.h"
#include "PortName.h"

#include <shellapi.h>

#include <cstdarg>

namespace {

const DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
// A close whose drain found the output queue empty purges only this: a line that reports no
// queue (a pty) may still hold bytes the printer has not read, and clearing the send side
// would throw them away.
const DWORD kPurgeReceive = PURGE_RXABORT | PURGE_RXCLEAR;
// How long CloseDevice keeps cancelling for writes still in flight before it closes anyway.
const DWORD kWriterDrainMs = 3000;
// How long one run of the device enable tool may take before the state is read again anyway.
const DWORD kHalvirexWaitMs = 30000;

// ClosePort's wait for an OpenPort or a re-open of the read thread in progress (each of those
// ends its own waits early on the terminate event).
const DWORD kOpenLockWaitMs = 5000;
// What ClosePort's drain allows beyond the line time of the queued bytes (an adapter's own
// latency).
const DWORD kDrainMarginMs = 1000;

// Milliseconds the line takes for n bytes at the port's speed and framing (start bit, data
// bits, parity, stop bits); 0 when the speed is unknown.
ULONGLONG LineTimeMs(const DeviceOption& dop, DWORD n)
{
    if (dop.dwBaudRate == 0)
        return 0;
    // In half bits, for one and a half stop bits.
    ULONGLONG halfBits = 2 * (1 + (dop.dwByteSize ? dop.dwByteSize : 8) + (dop.dwParity ? 1 : 0));
    halfBits += dop.dwStopBits == ONE5STOPBITS ? 3 : dop.dwStopBits == TWOSTOPBITS ? 4 : 2;
    return (ULONGLONG(n) * halfBits * 1000 + 2ULL * dop.dwBaudRate - 1) / (2ULL * dop.dwBaudRate);
}

BOOL ProcessIsWow64()
{
    typedef BOOL(WINAPI * IsWow64ProcessFn)(HANDLE, PBOOL);
    HMODULE k = GetModuleHandleA("kernel32");
    if (!k)
        return FALSE;
    IsWow64ProcessFn fn = reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void*>(GetProcAddress(k, "IsWow64Process")));
    BOOL wow = FALSE;
    return fn && fn(GetCurrentProcess(), &wow) && wow;
}

}  // namespace

CPortCom::CPortCom() : m_dop(), m_pLine(&Win32ComLine()), m_pDeviceApi(&Win32DeviceStateApi())
{
    m_Config = ComReadConfig();
}

CPortCom::~CPortCom()
{
    CloseIfOpen();
    m_Receiver.Close();
    CloseLogOfPort("~CPortCom");
    m_nPortIndex = 0;
    CString::ReleaseHandle(m_dop.strPortName);
    m_dop.strPortName = nullptr;
}

// ---- Settings ----

int CPortCom::SetDeviceOption(const DeviceOption& dop, DWORD)
{
    DeviceOptionCopyFields(m_dop, dop, &DeviceOption::dwBaudRate, &DeviceOption::dwBtStackType);
    CString name = DeviceOptionPortName(dop);
    if (name.IsEmpty())
        return 0;
    CMutexExLock lock(m_OptionLock);
    CString::ReleaseHandle(m_dop.strPortName);
    m_dop.strPortName = name.AddRefHandle();
    return 1;
}

CString CPortCom::PortName()
{
    CMutexExLock lock(m_OptionLock);
    return CString::FromHandle(m_dop.strPortName);
}

void CPortCom::SetLog(DWORD dwUseBinary, DWORD dwUsePortLog, const CString& installPath)
{
    SetLogFlags(dwUseBinary, dwUsePortLog, installPath, "Com", m_nPortIndex);
    m_Receiver.SetLogGates(LogOn(), TraceOn());
}

// ---- Open ----

HANDLE CPortCom::OpenDevice(const CString& portName, DWORD& err)
{
    CString device;
    device.Format("\\\\.\\%s", portName.GetString());
    HANDLE h = CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    err = GetLastError();
    // The driver settles after an open before it takes a control block.
    Sleep(100);
    return h;
}

BOOL CPortCom::ConfigureDevice(HANDLE h, const char* op, bool plain, DWORD devType, ComDcbBuilder build)
{
    auto fail = [&](const char* what) {
        if (plain)
            LogPlainError("%s : fail to %s", op, what);
        else
            LogError(devType, "%s : fail to %s", op, what);
        return FALSE;
    };
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h, &dcb))
        return fail("GetCommState");
    if (!build(dcb, m_dop, m_Config) || !m_pLine->SetState(h, &dcb))
        return fail("SetCommState");
    COMMTIMEOUTS t = {m_dop.dwReadIntervalTimeout, m_dop.dwReadTotalTimeoutMultiplier, m_dop.dwReadTotalTimeoutConstant,
                      m_dop.dwWriteTotalTimeoutMultiplier, m_dop.dwWriteTotalTimeoutConstant};
    if (!SetCommTimeouts(h, &t))
        return fail("SetCommTimeouts");
    if (!SetupComm(h, m_dop.dwInBufSize, m_dop.dwOutBufSize))
        return fail("SetupComm");
    return TRUE;
}

int CPortCom::OpenPort(DWORD devType)
{
    CMutexExLock lock(m_OpenLock);
    // A ClosePort in progress wins: this open would clear its stop signal. An open that cannot
    // get the lock (another one hangs) fails rather than run beside it.
    if (!lock.Held() || m_nClosing > 0)
        return 0;
    OpenPortDump("ComPRN");
    m_b64Bit = ProcessIsWow64();
    if (m_b64Bit)
        Log(devType, "This OS is 64bits version");
    Log(devType, "+OpenPort : Serial dll");
    // A running read thread re-opens a port it closed itself: never a second thread.
    if (m_hPort || m_pReadThread)
        return m_bOpen ? 1 : 0;

    CString portName = PortName();
    Log(devType, "strPortName : %s", portName.GetString());
    DWORD err = 0;
    HANDLE h = OpenDevice(portName, err);
    if (h == INVALID_HANDLE_VALUE) {
        LogPlainError("-OpenPort : port is INVALID_HANDLE_VALUE");
        LogPlainError("GetLastError() : %d", int(err));
        if (err != ERROR_FILE_NOT_FOUND)
            return 0;
        LogPlain("Call OpenPortBluetooth in OpenPort");
        // The Bluetooth path waits on the terminate event: a ClosePort from now on cuts it short.
        if (m_nClosing > 0)
            return 0;
        m_TerminateEvent.ResetEvent();
        if (!OpenPortBluetooth())
            return 0;
    } else {
        // A failure after the device opened closes it again, so a later OpenPort can succeed.
        if (!ConfigureDevice(h, "-OpenPort", false, devType)) {
            CloseHandle(h);
            return 0;
        }
        AdoptHandle(h);
    }

    m_pLine->Purge(m_hPort, kPurgeAll);
    m_bOpen = TRUE;
    m_Receiver.Open(m_dop.dwInBufSize);
    LogError(devType, "m_dop.dwInBufSize : %d", int(m_dop.dwInBufSize));
    if (m_nClosing > 0) {
        CloseDevice();
        m_Receiver.Close();
        return 0;
    }
    m_bTerminateThread = FALSE;
    m_TerminateEvent.ResetEvent();
    m_pReadThread = StartPortThread(ReadThreadProc, this, THREAD_PRIORITY_TIME_CRITICAL, m_bThreadEnded);
    if (!m_pReadThread) {
        // Without its read thread the port would report nothing: leave it closed.
        LogError(devType, "-OpenPort : fail to start ReadThread");
        CloseDevice();
        m_Receiver.Close();
        return 0;
    }
    Log(devType, "-OpenPort success");
    return 1;
}

int CPortCom::OpenPortSerial()
{
    LogPlain("+OpenPortSerial : Serial dll");
    if (m_hPort)
        return m_bOpen ? 1 : 0;
    DWORD err = 0;
    HANDLE h = OpenDevice(PortName(), err);
    if (h == INVALID_HANDLE_VALUE) {
        LogPlainError("-OpenPortSerial : port is INVALID_HANDLE_VALUE");
        LogPlainError("GetLastError() : %d", int(err));
        return 0;
    }
    if (!ConfigureDevice(h, "-OpenPortSerial", true, 0)) {
        CloseHandle(h);
        return 0;
    }
    AdoptHandle(h);
    m_pLine->Purge(h, kPurgeAll);
    LogPlain("-OpenPortSerial success");
    m_bOpen = TRUE;
    return 1;
}

BOOL CPortCom::WaitOrTerminate(DWORD ms) { return WaitForSingleObject(m_TerminateEvent, ms) == WAIT_OBJECT_0; }

void CPortCom::CDeviceLog::DeviceMessage(DeviceMessageKind kind, const char* text)
{
    switch (kind) {
    case DEVMSG_CALL:
        m_port.LogPlain("%s", text);
        break;
    case DEVMSG_ERROR:
        m_port.LogPlainError("%s", text);
        break;
    case DEVMSG_TRACE:
        m_port.TracePlain("%s", text);
        break;
    case DEVMSG_TOOL:
        break;
    }
}

int CPortCom::GetDeviceState(const CString& portName)
{
    CDeviceLog sink(*this);
    CPortDeviceControl control(*m_pDeviceApi, sink, DEVCTL_TRANSPORT);
    m_nDeviceState = control.GetDeviceState(portName);
    return m_nDeviceState;
}

int CPortCom::ControlComPortDevice(const CString& portName, int state)
{
    CDeviceLog sink(*this);
    CPortDeviceControl control(*m_pDeviceApi, sink, DEVCTL_TRANSPORT);
    return control.ControlComPortDevice(portName, state);
}

void CPortCom::RunHalvirex(int state)
{
    CString portName = PortName();
    // The name goes unquoted into a command line.
    if (!IsComPortName(portName)) {
        LogPlainError("RunHalvirex : refused port name %s", portName.GetString());
        return;
    }
    // Without the folder Quillan gave this port there is no tool to run (never one of the
    // current drive's root).
    CString exe;
    if (!m_strLogFolder.IsEmpty())
        exe.Format("%s\\Halvirex.exe", m_strLogFolder.GetString());
    HANDLE probe = exe.IsEmpty() || exe.Find('"') >= 0
                       ? INVALID_HANDLE_VALUE
                       : CreateFileA(exe, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        LogPlainError("EXE file not found");
        return;
    }
    CloseHandle(probe);

    char wow64Dir[MAX_PATH];
    UINT n = GetSystemWow64DirectoryA(wow64Dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        LogPlainError("RunHalvirex : no WOW64 system folder. GetLastError() : %d", int(GetLastError()));
        return;
    }
    CString cmd;
    cmd.Format("%s\\cmd.exe", wow64Dir);
    // The whole command is quoted once more: cmd /c strips the outer pair, so a tool path with
    // blanks and parentheses ("Program Files (x86)") keeps its own quotes.
    CString params;
    params.Format("/c \"\"%s\" %s %d\"", exe.GetString(), portName.GetString(), state);

    SHELLEXECUTEINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = "open";
    info.lpFile = cmd;
    info.lpParameters = params;
    info.nShow = SW_HIDE;
    if (!ShellExecuteExA(&info) || !info.hProcess) {
        LogPlainError("RunHalvirex : fail to start %s. GetLastError() : %d", cmd.GetString(), int(GetLastError()));
        return;
    }
    HANDLE waits[2] = {info.hProcess, m_TerminateEvent};
    DWORD r = WaitForMultipleObjects(2, waits, FALSE, kHalvirexWaitMs);
    if (r == WAIT_TIMEOUT)
        LogPlainError("RunHalvirex : no end within %d ms", int(kHalvirexWaitMs));
    CloseHandle(info.hProcess);
}

int CPortCom::OpenPortBluetooth()
{
    if (m_hPort) {
        if (m_bOpen) {
            LogPlain("-OpenPortBluetooth : Already Open");
            return 1;
        }
        LogPlainError("-OpenPortBluetooth : current port close");
        return 0;
    }
    CString portName = PortName();

    if (m_Config.CONTROLDEVICE != 0) {
        int state = GetDeviceState(portName);
        if (state == DEVSTATE_UNKNOWN) {
            LogPlainError("-OpenPortBluetooth:Comport state is unknown.");
            WaitOrTerminate(500);
            return 0;
        }
        if (state == DEVSTATE_ENABLED) {
            LogPlain("OpenPortBluetooth:Comport state is enable. switch State Disable/Enable");
            if (m_b64Bit)
                RunHalvirex(0);
            else
                ControlComPortDevice(portName, 0);
            if (WaitOrTerminate(1500))
                return 0;
        } else {
            LogPlain("OpenPortBluetooth:Comport state is disable. switch State Enable");
        }
        if (m_b64Bit)
            RunHalvirex(1);
        else
            ControlComPortDevice(portName, 1);
        if (WaitOrTerminate(1000))
            return 0;
        state = GetDeviceState(portName);
        if (state != DEVSTATE_ENABLED) {
            LogPlainError("-OpenPortBluetooth:Comport state is not enable(current state:%d)", state);
            WaitOrTerminate(500);
            return 0;
        }
    }

    DWORD err = 0;
    HANDLE h = OpenDevice(portName, err);
    if (h == INVALID_HANDLE_VALUE) {
        LogPlainError("-OpenPortBluetooth : port is INVALID_HANDLE_VALUE. GetLastError() : %d", int(err));
        WaitOrTerminate(500);
        return 0;
    }
    // A device that takes no settings is given back at once: a port left half open would
    // report on-line while every write fails.
    if (!ConfigureDevice(h, "-OpenPortBluetooth", true, 0, ComBuildBluetoothDcb)) {
        CloseHandle(h);
        return 0;
    }
    AdoptHandle(h);
    m_pLine->Purge(h, kPurgeAll);
    LogPlain("-OpenPortBluetooth success");
    m_bOpen = TRUE;
    return 1;
}

// ---- Close ----

void CPortCom::CancelDeviceIo(DWORD purge)
{
    CMutexExLock hl(m_HandleLock);
    if (m_hPort) {
        m_pLine->Purge(m_hPort, purge);
        CancelIoEx(m_hPort, nullptr);
    }
}

void CPortCom::AdoptHandle(HANDLE h)
{
    CMutexExLock hl(m_HandleLock);
    m_hPort = h;
    m_pWriters = new WriterCount{1};
}

void CPortCom::ReleaseWriters(WriterCount* w)
{
    if (w && InterlockedDecrement(&w->refs) == 0)
        delete w;
}

void CPortCom::CloseDevice(DWORD purge)
{
    m_bOpen = FALSE;
    HANDLE h = nullptr;
    WriterCount* writers = nullptr;
    {
        CMutexExLock hl(m_HandleLock);
        h = m_hPort;
        writers = m_pWriters;
        m_hClosing = h;
        // No write takes the handle from here on.
        m_hPort = nullptr;
        m_pWriters = nullptr;
    }
    if (!h)
        return;
    // Writes that took the handle before it went: each cancel ends the one that is pending. No
    // lock is held meanwhile, so a thread ended by force here blocks no later write.
    DWORD start = GetTickCount();
    for (;;) {
        m_pLine->Purge(h, purge);
        CancelIoEx(h, nullptr);
        LONG inFlight = writers ? InterlockedCompareExchange(&writers->refs, 0, 0) - 1 : 0;
        if (inFlight <= 0)
            break;
        if (GetTickCount() - start > kWriterDrainMs) {
            LogPlainError("CloseDevice : %d writes still in flight after %d ms", int(inFlight), int(kWriterDrainMs));
            break;
        }
        Sleep(5);
    }
    m_pLine->Close(h);
    // Only once the handle is closed: a close ended by force inside leaves it to ClosePort.
    {
        CMutexExLock hl(m_HandleLock);
        if (m_hClosing == h)
            m_hClosing = nullptr;
    }
    ReleaseWriters(writers);
}

BOOL CPortCom::WaitOutputDrained(DWORD devType)
{
    // Some adapters report a write done before its bytes left: the purge would cut the end of
    // the last label. Wait until the driver's output queue is empty, bounded by the time the
    // line takes for what was queued when the wait began, plus a margin, and never beyond the
    // write time-out of those bytes when the port has one. The bound is set once: one made
    // again from what is left shrinks as the queue drains and ends the wait early.
    DWORD start = 0;
    ULONGLONG bound = 0;
    for (bool first = true;; first = false) {
        HANDLE h = m_hPort;
        DWORD errors = 0;
        COMSTAT stat = {};
        if (!h || !m_pLine->ClearError(h, &errors, &stat) || stat.cbOutQue == 0)
            return TRUE;
        if (first) {
            start = GetTickCount();
            bound = LineTimeMs(m_dop, stat.cbOutQue) + kDrainMarginMs;
            ULONGLONG writeTimeout =
                ULONGLONG(m_dop.dwWriteTotalTimeoutMultiplier) * stat.cbOutQue + m_dop.dwWriteTotalTimeoutConstant;
            if (writeTimeout != 0 && writeTimeout < bound)
                bound = writeTimeout;
        } else if (GetTickCount() - start >= bound || InterlockedCompareExchange(&m_nClosing, 0, 0) > 1) {
            // A second close (Quillan's remove, or a close of another thread) does not wait for a
            // slow line: at 300 baud a full queue takes minutes.
            LogError(devType, "ClosePort : %d bytes still in the output queue at the purge", int(stat.cbOutQue));
            return FALSE;
        }
        Sleep(10);
    }
}

void CPortCom::ClosePort(DWORD devType)
{
    InterlockedIncrement(&m_nClosing);
    Trace(devType, "+ClosePort : Port dll");
    Trace(devType, "ClosePort : m_TerminateEvent.SetEvent");
    m_TerminateEvent.SetEvent();
    Trace(devType, "ClosePort : set to m_bTerminateThread flag");
    m_bTerminateThread = TRUE;

    {
        // Bounded: an open or re-open in progress ends its own waits on the signal above.
        CMutexExLock lock(m_OpenLock, kOpenLockWaitMs);
        // Again under the lock, in case an open in progress cleared them before it saw this close.
        m_TerminateEvent.SetEvent();
        m_bTerminateThread = TRUE;
        // The send side is cleared only when bytes are still queued after the drain's bound.
        const DWORD purge = WaitOutputDrained(devType) ? kPurgeReceive : kPurgeAll;
        m_bOpen = FALSE;
        // Break pending reads and writes first, so the read thread can end by itself.
        Trace(devType, "ClosePort : call CancelIo");
        CancelDeviceIo(purge);
        StopPortThread(
            m_pReadThread, m_bThreadEnded, PortThreadStop{0, 0, 1000}, [] {},
            [&] { Log(devType, "ClosePort : TerminateThread Port ReadThread."); });
        // A close of the device that the read thread began and did not end (it was ended by
        // force) left its handle here.
        HANDLE left = nullptr;
        {
            CMutexExLock hl(m_HandleLock);
            left = m_hClosing;
            m_hClosing = nullptr;
        }
        if (left)
            m_pLine->Close(left);
        CloseDevice(purge);
        m_Receiver.Close();
        m_Receiver.SetStatusEvent(nullptr);
        m_bOpen = FALSE;
        Log(devType, "-ClosePort : Success");
        ClosePortDump();
    }
    InterlockedDecrement(&m_nClosing);
}

void CPortCom::CloseIfOpen()
{
    if (m_hPort || m_pReadThread || m_bOpen)
        ClosePort(0);
}

// ---- Data ----

int CPortCom::writePort(const BYTE* buf, int len, DWORD devType)
{
    Trace(devType, "+Port Write(dwWritten : %d)", len);
    const LONG cancelMark = m_WriteCancel.Mark(devType);
    // Counted in with the handle: a close that took the handle away waits for this write.
    HANDLE h = nullptr;
    WriterCount* writers = nullptr;
    {
        CMutexExLock hl(m_HandleLock);
        if (hl.Held() && m_hPort && m_pWriters) {
            h = m_hPort;
            writers = m_pWriters;
            InterlockedIncrement(&writers->refs);
        }
    }
    if (!m_bOpen || !h || !buf || len <= 0) {
        ReleaseWriters(writers);
        LogError(devType, "-Port Write : fail to invalid parameters");
        return 0;
    }
    CEventEx OlapOutEvent(FALSE, FALSE);
    OVERLAPPED ov = {};
    ov.hEvent = OlapOutEvent;
    TracePlain("Port Write lock");
    // The event is made unsignalled: no reset, which would be one more kernel call (the line stays).
    Trace(devType, "OlapOutEvent.ResetEvent");
    Trace(devType, "WriteFile");
    DWORD written = 0;
    BOOL done = WriteFile(h, buf, DWORD(len), nullptr, &ov);
    DWORD err = GetLastError();
    Trace(devType, "GetLastError() : %d", int(err));
    if (done) {
        if (!GetOverlappedResult(h, &ov, &written, FALSE))
            written = 0;
    } else if (err == ERROR_IO_PENDING) {
        Trace(devType, "Port Write ERROR_IO_PENDING");
        // Looks for a cancel of this class between waits; the other classes' writes go on.
        while (WaitForSingleObject(ov.hEvent, kWriteCancelStepMs) == WAIT_TIMEOUT) {
            if (m_WriteCancel.Cancelled(devType, cancelMark)) {
                CancelIoEx(h, &ov);
                LogError(devType, "Port Write : cancelled by CancelWrites");
                break;
            }
        }
        // A cancelled write (close, CancelWrites, or a purge when the line went off) reports
        // what went out.
        GetOverlappedResult(h, &ov, &written, TRUE);
    }
    ReleaseWriters(writers);
    if (written > DWORD(len))
        written = 0;
    if (m_dwUseBinary == 1 && written > 0)
        PortDumpWrite(buf, int(written));
    Trace(devType, "-Port Write(dwWrittenResult : %d)", int(written));
    return int(written);
}

void CPortCom::CancelWrites(DWORD devType)
{
    Log(devType, "+Port CancelWrites");
    if (!m_WriteCancel.Cancel(devType))
        LogError(devType, "-Port CancelWrites : fail to invalid DevType");
}

int CPortCom::readPort(BYTE* buf, int len, DWORD timeout, DWORD devType)
{
    if (!m_bOpen || !buf || len <= 0) {
        LogError(devType, "-Port Read : fail to invalid parameters");
        return 0;
    }
    int got = m_Receiver.ReadWithTimeout(buf, len, timeout, m_TerminateEvent, [&] { return m_bOpen != FALSE; });
    Trace(devType, "-Port Read(nRead : %d)", got);
    return got;
}

int CPortCom::ReadAvailable(DWORD) { return m_Receiver.Available(); }

void CPortCom::Clear(DWORD) { m_Receiver.Clear(); }

int CPortCom::GetASBState(int* asb, DWORD devType)
{
    if (!asb)
        return 0;
    if (m_Receiver.PopStatusFrame(asb) == CPortReceiver::ASB_DELIVERED) {
        Trace(devType, "-GetASBState");
        return 1;
    }
    if (m_nPowerState != PS_ONLINE)
        TraceError(devType, "-GetASBState : ASBInput lengh is less than 4");
    return 0;
}

int CPortCom::SetWrite(int isWrite, DWORD devType)
{
    Trace(devType, "+Port SetWrite(isWrite : %d)", isWrite);
    if (!m_bOpen) {
        LogError(devType, "-Port SetWrite : m_bOpen is FALSE");
        return 0;
    }
    m_nWrite = isWrite;
    return 1;
}

// ---- Line state ----

BOOL CPortCom::CheckModemLines(int cts, int dsr) { return ComCheckModemLines(*m_pLine, m_hPort, cts, dsr); }

BOOL CPortCom::CheckXoffHold() { return ComCheckXoffHold(*m_pLine, m_hPort); }

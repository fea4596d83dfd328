#include "PortUsb.h"

#include "PortLog.h"

#include <cstdarg>
#include <cstring>
#include <utility>
#include <vector>

namespace {

CUsbDeviceIo g_deviceIo;

// The buffer and overlapped block of the read thread's reads.
struct ReadIo
{
    BYTE bytes[512];
    OVERLAPPED ov;
};

// One overlapped write with its own copy of the bytes: when a cancelled write does not come
// back, the block is left to the system instead of freed under it.
struct WriteOp
{
    OVERLAPPED ov;
    BYTE bytes[1];
};

const DWORD kCancelledIoWait = 5000;
const DWORD kHandleDrainWait = 10000;
// A write goes to the device in pieces of this size: a write ended by a close or its bound
// reports the pieces that went out (a cancelled operation reports none of its own bytes).
const DWORD kWritePiece = 16 * 1024;

// The devices the open ports of this process hold, by path: a port follows a moved printer only
// to a device no other port holds, so two printers of one model never swap or share a port.
// Each hold is changed in one short step under a kernel mutex (a thread ended by force leaves
// it abandoned, never held).
struct HeldDevice
{
    CPortUsb* port;
    CString path;
    bool moved;  // not the port's own stored device: it gives way to that device's own port
};

struct HeldDevices
{
    CMutexEx lock;
    std::vector<HeldDevice> byPort;
};

HeldDevices& Held()
{
    static HeldDevices* h = new HeldDevices;  // outlives every static destructor of the library
    return *h;
}

}  // namespace

CPortUsb::CPortUsb() : m_io(&g_deviceIo)
{
}

CPortUsb::~CPortUsb()
{
    m_rx.Close();
    ReleaseDevice();
    CloseLogOfPort("~CPortUsb");
    m_nPortIndex = 0;
    if (m_hDevice)
        CloseHandle(m_hDevice);
}

void CPortUsb::SetDeviceIo(CUsbDeviceIo* io) { m_io = io ? io : &g_deviceIo; }

// --- settings ------------------------------------------------------------------------------

int CPortUsb::SetDeviceOption(const DeviceOption& dop, DWORD devType)
{
    DeviceOptionCopyFields(m_dop, dop, &DeviceOption::dwReadIntervalTimeout, &DeviceOption::dwOutBufSize);
    CString name = DeviceOptionPortName(dop);
    if (name.IsEmpty())
        return 0;
    CMutexExLock lock(m_HandleLock);
    // The path in use changes with the next open: an open port keeps the device it holds.
    if (!ThreadsRunning())
        m_strPortName = name;
    m_strHome = CString(name.GetString());  // its own copy: the caller's string is referenced once
    return 1;
}

void CPortUsb::SetLog(DWORD useBinary, DWORD usePortLog, const CString& installPath)
{
    SetLogFlags(useBinary, usePortLog, installPath, "Usb", m_nPortIndex);
    m_rx.SetLogGates(LogOn(), TraceOn());
}

CString CPortUsb::PortName()
{
    CMutexExLock lock(m_HandleLock);
    return m_strPortName;
}

CString CPortUsb::HomePath()
{
    CMutexExLock lock(m_HandleLock);
    return m_strHome;
}

DWORD CPortUsb::WriteBound(int len)
{
    // A paused printer that resumes within this time must not fail the job, so the device
    // key's serial write time-outs play no part; the bound stops only where it would overflow.
    ULONGLONG n = len > 0 ? ULONGLONG(len) : 0;
    ULONGLONG t = 50 * (n + 100);
    return t > 0x7FFFFFFF ? 0x7FFFFFFF : DWORD(t);
}

BOOL CPortUsb::HoldDevice(const CString& path, bool moving)
{
    HeldDevices& h = Held();
    CMutexExLock lock(h.lock);
    if (!lock.Held())
        return FALSE;
    // A port's own stored path is its own, shared or not (a second device of the same class on
    // one port string has a port of its own); only a move needs the device to be free.
    for (auto& e : h.byPort)
        if (moving && e.port != this && e.path.CompareNoCase(path) == 0)
            return FALSE;
    // A port that moved onto this port's own device leaves it before this port opens it.
    if (!moving)
        for (auto& e : h.byPort)
            if (e.port != this && e.moved && e.path.CompareNoCase(path) == 0)
                e.port->GiveWay();
    for (auto& e : h.byPort)
        if (e.port == this) {
            e.path = path;
            e.moved = moving;
            return TRUE;
        }
    h.byPort.push_back(HeldDevice{this, path, moving});
    return TRUE;
}

void CPortUsb::GiveWay()
{
    HeldDevices& h = Held();
    CString home = HomePath();
    for (auto& e : h.byPort)
        if (e.port == this) {
            e.path = home;
            e.moved = false;
        }
    {
        // Its reconnects go to its own printer, never to the one it gave way on.
        CMutexExLock lock(m_HandleLock);
        m_strPortName = home;
    }
    LogPlain("********************************** usb disconnect");
    m_nConnState = -1;
    DropHandle();
}

bool CPortUsb::HoldsPathLocked(const CString& path)
{
    for (auto& e : Held().byPort)
        if (e.port == this && e.path.CompareNoCase(path) == 0)
            return true;
    return false;
}

bool CPortUsb::HoldsPath(const CString& path)
{
    CMutexExLock lock(Held().lock);
    return lock.Held() && HoldsPathLocked(path);
}

void CPortUsb::ReleaseDevice()
{
    HeldDevices& h = Held();
    CMutexExLock lock(h.lock);
    for (auto it = h.byPort.begin(); it != h.byPort.end(); ++it)
        if (it->port == this) {
            h.byPort.erase(it);
            break;
        }
}

CString CPortUsb::ResolvePath(const CString& stored, bool* storedListed)
{
    UsbDeviceEntry key;
    key.strDevicePath = stored;
    key.strPid = CRegistUsb::PidOfPath(stored);
    key.strVid = CRegistUsb::VidOfPath(stored);
    CRegistUsb list(m_source);
    list.EnumerateUsbDevices();
    CString only = list.PathForStoredDevice(key, storedListed);
    if (*storedListed || only.IsEmpty())
        return only;
    // The only other printer of the model is not taken while another port of this process
    // has it bound.
    HeldDevices& h = Held();
    CMutexExLock lock(h.lock);
    if (!lock.Held())
        return CString();
    for (auto& e : h.byPort)
        if (e.port != this && e.path.CompareNoCase(only) == 0)
            return CString();
    return only;
}

// --- the device handle ---------------------------------------------------------------------

HANDLE CPortUsb::AcquireHandle()
{
    CMutexExLock lock(m_HandleLock);
    HANDLE h = m_hDevice;
    if (h)
        InterlockedIncrement(&m_nHandleUsers);
    return h;
}

void CPortUsb::ReleaseHandle()
{
    if (InterlockedDecrement(&m_nHandleUsers) < 0)
        InterlockedExchange(&m_nHandleUsers, 0);
}

bool CPortUsb::HasHandle()
{
    CMutexExLock lock(m_HandleLock);
    return m_hDevice != nullptr;
}

int CPortUsb::OpenPortUSB(const CString& path)
{
    LogPlain("+OpenPortUSB : USB dll");
    CMutexExLock openClose(m_OpenCloseLock);
    if (HasHandle()) {
        LogPlain("+OpenPortUSB : port handle is not NULL. close and reopen.");
        ClosePortUSB();
    }
    // Another port's device is not even opened: a device that limits its opens would refuse its
    // own port.
    if (!path.IsEmpty() && !HoldsPath(path)) {
        LogPlainError("-OpenPortUSB : %s is held by another port", path.GetString());
        return 0;
    }
    HANDLE h = path.IsEmpty() ? INVALID_HANDLE_VALUE
                              : CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        LogPlainError("-OpenPortUSB : port is INVALID_HANDLE_VALUE");
        return 0;
    }
    {
        // Only the device this port holds: one it gave way on meanwhile is another port's now.
        // Under the table's lock, so a port taking its own device back finds this handle.
        HeldDevices& held = Held();
        CMutexExLock heldLock(held.lock);
        if (!heldLock.Held() || !HoldsPathLocked(path)) {
            CloseHandle(h);
            LogPlainError("-OpenPortUSB : %s given to another port meanwhile", path.GetString());
            return 0;
        }
        CMutexExLock lock(m_HandleLock);
        m_hDevice = h;
        m_strPortName = path;
    }
    LogPlain("-OpenPortUSB success");
    return 1;
}

void CPortUsb::ClosePortUSB()
{
    LogPlain("+ClosePortUSB");
    DropHandle();
    LogPlain("-ClosePortUSB");
}

void CPortUsb::DropHandle()
{
    HANDLE h = nullptr;
    bool kept = false;
    {
        CMutexExLock lock(m_HandleLock);
        h = m_hDevice;
        m_hDevice = nullptr;  // no new user from here on
        for (auto& d : m_dropping)
            if (h && !kept && !d.handle) {
                d = Dropping{h, GetCurrentThreadId()};
                kept = true;
            }
    }
    if (!h)
        return;
    // Cancel what the users have pending (any thread's) and wait, bounded, until each has seen
    // its I/O end; a user that issued its I/O just after a cancel is cancelled on the next
    // round. No lock is held meanwhile.
    DWORD start = GetTickCount();
    while (m_nHandleUsers > 0 && GetTickCount() - start < kHandleDrainWait) {
        m_io->Cancel(h, nullptr);
        Sleep(20);
    }
    if (m_nHandleUsers > 0)
        LogPlainError("DropHandle : I/O still in flight after %d ms; the handle is closed under it",
                      int(kHandleDrainWait));
    bool mine = !kept;
    {
        CMutexExLock lock(m_HandleLock);
        for (auto& d : m_dropping)
            if (kept && d.handle == h) {
                d = Dropping{};
                mine = true;
            }
    }
    if (mine)
        CloseHandle(h);
}

void CPortUsb::CloseDroppedHandles(DWORD devType)
{
    // A drop still running on a live thread closes its handle itself (bounded); one whose thread
    // was ended by force is closed here.
    DWORD start = GetTickCount();
    for (;;) {
        bool waiting = false;
        {
            CMutexExLock lock(m_HandleLock);
            for (auto& d : m_dropping) {
                if (!d.handle)
                    continue;
                HANDLE t = OpenThread(SYNCHRONIZE, FALSE, d.thread);
                bool alive = t && WaitForSingleObject(t, 0) == WAIT_TIMEOUT;
                if (t)
                    CloseHandle(t);
                if (alive && GetTickCount() - start < kHandleDrainWait) {
                    waiting = true;
                    continue;
                }
                LogError(devType, "ClosePort : device handle left by an ended drop closed");
                CloseHandle(d.handle);
                d = Dropping{};
            }
        }
        if (!waiting)
            return;
        Sleep(20);
    }
}

// --- open and close ------------------------------------------------------------------------

int CPortUsb::OpenPort(DWORD devType)
{
    OpenPortDump("UsbPRN");
    Log(devType, "+OpenPort : USB dll");
    // Open already (its threads run even while the printer is unplugged and the handle closed).
    if (HasHandle() || ThreadsRunning())
        return m_bOpen;

    bool listed = false;
    CString found = ResolvePath(HomePath(), &listed);
    // Nothing that may be taken: the port stays closed and keeps its stored path.
    if (found.IsEmpty() || !HoldDevice(found, !listed))
        return 0;
    if (!OpenPortUSB(found)) {
        ReleaseDevice();
        return 0;
    }

    m_rx.Open(m_dop.dwInBufSize);
    LogError(devType, "m_dop.dwInBufSize : %d", int(m_dop.dwInBufSize));

    m_bTerminateThread = FALSE;
    m_bReadThreadLost = FALSE;
    m_TerminateEvent.ResetEvent();
    m_bTerminateCheckThread = FALSE;
    m_CheckThreadTerminateEvent.ResetEvent();
    // The threads look at these from their first pass.
    m_bOpen = TRUE;
    m_nConnState = 1;
    m_pCheckThread = StartPortThread(CheckThreadProc, this, THREAD_PRIORITY_NORMAL, m_bCheckThreadEnded);
    m_pReadThread = StartPortThread(ReadThreadProc, this, THREAD_PRIORITY_NORMAL, m_bReadThreadEnded);
    Log(devType, "-OpenPort Success");
    return 1;
}

void CPortUsb::StopThread(CWinThread*& thread, volatile LONG& ended, DWORD devType, const char* waitLine,
                          const char* terminateLine)
{
    StopPortThread(
        thread, ended, PortThreadStop{20, 100, 2000}, [&] { Log(devType, "%s", waitLine); },
        [&] { Log(devType, "%s", terminateLine); });
}

void CPortUsb::ClosePort(DWORD devType)
{
    Log(devType, "+ClosePort : Port dll");
    m_bOpen = FALSE;

    m_CheckThreadTerminateEvent.SetEvent();
    Trace(devType, "ClosePort : m_CheckThreadTerminateEvent.SetEvent");
    m_bTerminateCheckThread = TRUE;
    Trace(devType, "ClosePort : set to m_bTerminateCheckThread flag");
    StopThread(m_pCheckThread, m_bCheckThreadEnded, devType, "ClosePort : wait Terminate USB ConnCheckThread.",
               "ClosePort : TerminateThread USB ConnCheckThread.");

    m_TerminateEvent.SetEvent();
    Trace(devType, "ClosePort : m_TerminateEvent.SetEvent");
    m_bTerminateThread = TRUE;
    Trace(devType, "ClosePort : set to m_bTerminateThread flag");
    StopThread(m_pReadThread, m_bReadThreadEnded, devType, "ClosePort : wait Terminate Port ReadThread.",
               "ClosePort : TerminateThread Port ReadThread.");

    Trace(devType, "ClosePort : call CancelIo");
    Trace(devType, "ClosePort : ClosePortUSB");
    ClosePortUSB();  // cancels and waits for whatever is still pending
    CloseDroppedHandles(devType);

    m_rx.Close();
    ReleaseDevice();
    Log(devType, "-ClosePort : Success");
    ClosePortDump();
}

void CPortUsb::CloseIfOpen()
{
    if (ThreadsRunning() || HasHandle())
        ClosePort(0);
}

// --- the threads ---------------------------------------------------------------------------

UINT CPortUsb::ReadThreadProc(LPVOID self)
{
    static_cast<CPortUsb*>(self)->ReadThread();
    return 0;
}

UINT CPortUsb::CheckThreadProc(LPVOID self)
{
    static_cast<CPortUsb*>(self)->ConnCheckThread();
    return 0;
}

void CPortUsb::ReadThread()
{
    LogPlain("***************** Port Read Thread Start ***********");
    // Heap-held: a read whose cancel never completes keeps them, the thread does not.
    ReadIo* io = new ReadIo();
    BYTE* block = io->bytes;
    OVERLAPPED& ov = io->ov;
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_bReadThreadEnded = FALSE;
    bool stuck = false;

    for (;;) {
        bool tried = false;
        if (m_bOpen && m_nConnState == 1) {
            if (m_bTerminateThread) {
                LogPlain("Read Thread : 1st flag.");
                break;
            }
            tried = true;
            bool stop = false;
            DWORD n = 0;
            HANDLE h = AcquireHandle();
            if (h) {
                std::memset(block, 0, 512);
                ResetEvent(ov.hEvent);
                TracePlain("****************ReadFile************************");
                BOOL ok = m_io->Read(h, block, 512, &ov);
                if (ok) {
                    GetOverlappedResult(h, &ov, &n, TRUE);
                } else if (GetLastError() == ERROR_IO_PENDING) {
                    TracePlain("Read ERROR_IO_PENDING wait");
                    HANDLE waits[2] = {ov.hEvent, m_TerminateEvent};
                    DWORD w = WaitForMultipleObjects(2, waits, FALSE, 2000);
                    if (w == WAIT_OBJECT_0) {
                        ok = GetOverlappedResult(h, &ov, &n, FALSE);
                        TracePlain("ReadThread: wait complete, read result : %d", int(ok));
                        if (!ok)
                            n = 0;
                        if (m_bTerminateThread) {
                            LogPlain("ReadThread: wait complete, but m_bTerminateThread is true");
                            stop = true;
                        }
                    } else {
                        TracePlain("ReadThread: Read wait cancelled");
                        m_io->Cancel(h, &ov);
                        // The buffer and the overlapped block are the system's until it is done;
                        // a cancel that never completes ends the thread (bounded, not a hang).
                        if (WaitForSingleObject(ov.hEvent, kCancelledIoWait) != WAIT_OBJECT_0) {
                            LogPlainError("ReadThread: cancelled read did not end");
                            stuck = stop = true;
                        } else if (!GetOverlappedResult(h, &ov, &n, FALSE)) {
                            n = 0;
                        }
                        if (m_bTerminateThread) {
                            LogPlain("ReadThread: wait cancelled, but m_bTerminateThread is true");
                            stop = true;
                        }
                    }
                }
                ReleaseHandle();
            }
            if (stop)
                break;
            if (n == 0) {
                TracePlain("********** Read Result :%d", 0);
                m_rx.FlushCandidate();
            } else {
                TracePlain("********** Read Result :%d", int(n));
                TracePlain("Process to Read data.");
                m_rx.Feed(block, int(n));
            }
        }
        if (m_bTerminateThread)
            break;
        if (WaitForSingleObject(m_TerminateEvent, tried ? 100 : 500) == WAIT_OBJECT_0)
            break;
    }

    if (!stuck) {
        CloseHandle(ov.hEvent);
        delete io;
    }
    // Ended without a close: nothing is read any more, so the port must not look on-line.
    if (!m_bTerminateThread) {
        m_bReadThreadLost = TRUE;
        LogPlainError("ReadThread : ended before ClosePort, PowerState : %d", PS_OFFLINE);
    }
    LogPlain("***************** Port Read Thread End ***********");
    m_bReadThreadEnded = TRUE;
}

void CPortUsb::ConnCheckThread()
{
    LogPlain("***************** USB Check Thread Start ***********");
    m_bCheckThreadEnded = FALSE;

    for (;;) {
        if (m_bTerminateCheckThread) {
            LogPlain("m_bTerminateCheckThread is true in checkthread1");
            break;
        }
        CString home = HomePath();
        bool listed = false;
        CString found = ResolvePath(home, &listed);
        // Connected where the port may be now (its own printer, or the one printer of the model
        // it moved to while nobody else holds it): nothing to do. Anywhere else (its own printer
        // gone, or back while the port stands in on another one): off-line, and the device it
        // held is free again.
        bool here = m_nConnState == 1 && !found.IsEmpty() && found.CompareNoCase(PortName()) == 0;
        if (!here && m_nConnState != -1) {
            LogPlain("********************************** usb disconnect");
            ClosePortUSB();
            m_nConnState = -1;
            HoldDevice(home, false);
        }
        // The stored path again, or the one printer it moved to. A port whose printer is
        // listed is never moved to another one.
        if (!found.IsEmpty() && m_nConnState != 1) {
            LogPlain("**********************************  usb connect");
            // On-line only with the device really open again, on the path where it now is.
            if (HoldDevice(found, !listed)) {
                if (OpenPortUSB(found))
                    m_nConnState = 1;
                else
                    HoldDevice(home, false);
            }
        }
        if (m_bTerminateCheckThread) {
            LogPlain("m_bTerminateCheckThread is true in checkthread2");
            break;
        }
        if (WaitForSingleObject(m_CheckThreadTerminateEvent, 100) == WAIT_OBJECT_0 || m_bTerminateCheckThread)
            break;
    }

    LogPlain("****************** USB Check Thread End *****************");
    m_bCheckThreadEnded = TRUE;
}

// --- I/O -----------------------------------------------------------------------------------

int CPortUsb::writePort(const BYTE* buf, int len, DWORD devType)
{
    Trace(devType, "+Port Write(dwWritten : %d)", len);
    const LONG cancelMark = m_WriteCancel.Mark(devType);
    if (!m_bOpen || !buf || len <= 0) {
        LogError(devType, "-Port Write : fail to invalid parameters");
        return 0;
    }
    const DWORD bound = WriteBound(len);
    auto* op = static_cast<WriteOp*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(WriteOp) + size_t(len)));
    if (!op) {
        LogError(devType, "-Port Write : fail to invalid parameters");
        return 0;
    }
    std::memcpy(op->bytes, buf, size_t(len));
    op->ov.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);  // OlapOutEvent
    Trace(devType, "OlapOutEvent.ResetEvent");
    ResetEvent(op->ov.hEvent);
    Trace(devType, "WriteFile");

    DWORD written = 0;
    DWORD err = 0;
    bool done = true;  // false: the system still holds op
    BOOL ok = FALSE;
    HANDLE h = AcquireHandle();
    if (!h) {
        err = ERROR_INVALID_HANDLE;  // closed by the connection check: the printer went away
        Trace(devType, "GetLastError() : %d", int(err));
    }
    const DWORD start = GetTickCount();
    for (DWORD offset = 0; h && done && offset < DWORD(len);) {
        const DWORD piece = DWORD(len) - offset < kWritePiece ? DWORD(len) - offset : kWritePiece;
        HANDLE event = op->ov.hEvent;
        std::memset(&op->ov, 0, sizeof op->ov);
        op->ov.hEvent = event;
        DWORD n = 0;
        ok = m_io->Write(h, op->bytes + offset, piece, &op->ov);
        err = ok ? 0 : GetLastError();
        Trace(devType, "GetLastError() : %d", int(err));
        if (ok) {
            GetOverlappedResult(h, &op->ov, &n, TRUE);
        } else if (err == ERROR_IO_PENDING) {
            Trace(devType, "Port Write ERROR_IO_PENDING");
            for (;;) {
                if (GetOverlappedResult(h, &op->ov, &n, FALSE)) {
                    Trace(devType, "Recover ErrorIO");
                    ok = TRUE;
                    break;
                }
                err = GetLastError();
                if (err != ERROR_IO_INCOMPLETE) {
                    Trace(devType, "Recover ErrorIO");
                    break;
                }
                // The bound, or a cancel of this class (its close while another class keeps
                // the port open), ends the write.
                const bool cancelled = m_WriteCancel.Cancelled(devType, cancelMark);
                if (cancelled || GetTickCount() - start > bound) {
                    m_io->Cancel(h, &op->ov);
                    LogError(devType, cancelled ? "Port Write : cancelled by CancelWrites" : "timeout error");
                    // Wait for the cancelled write to end before its block is freed.
                    DWORD cancelStart = GetTickCount();
                    while (!HasOverlappedIoCompleted(&op->ov) && GetTickCount() - cancelStart < kCancelledIoWait)
                        Sleep(5);
                    if (HasOverlappedIoCompleted(&op->ov))
                        GetOverlappedResult(h, &op->ov, &n, FALSE);
                    else
                        done = false;
                    err = cancelled ? ERROR_OPERATION_ABORTED : ERROR_TIMEOUT;
                    break;
                }
                Sleep(5);
            }
        }
        if (n > piece)
            n = 0;
        written += n;
        offset += n;
        if (!ok || n < piece) {
            // A piece that ended short (a cancel, the bound) ends the write.
            if (ok)
                ok = offset == DWORD(len);
            break;
        }
    }
    if (h)
        ReleaseHandle();

    // Not while the port closes: a device opened again now would stay open after the close.
    if (!ok && m_bOpen && (err == ERROR_ACCESS_DENIED || err == ERROR_INVALID_HANDLE)) {
        LogError(devType, "Write: Failed GetLastError %d trying close/open", int(err));
        ClosePortUSB();
        if (OpenPortUSB(PortName())) {
            m_nConnState = 1;
        } else {
            m_nConnState = -1;
            Log(devType, "disconnect in write");
        }
    }

    if (m_dwUseBinary == 1 && written > 0)
        PortDumpWrite(op->bytes, int(written));
    Trace(devType, "-USB Write(dwWrittenResult : %d)", int(written));
    if (done) {
        CloseHandle(op->ov.hEvent);
        HeapFree(GetProcessHeap(), 0, op);
    } else {
        LogError(devType, "cancelled write did not end: its buffer is left to the system");
    }
    return int(written);
}

void CPortUsb::CancelWrites(DWORD devType)
{
    Log(devType, "+Port CancelWrites");
    if (!m_WriteCancel.Cancel(devType))
        LogError(devType, "-Port CancelWrites : fail to invalid DevType");
}

int CPortUsb::readPort(BYTE* buf, int len, DWORD timeout, DWORD devType)
{
    Trace(devType, "+Port Read(dwRead : %d, timeout: %d)", len, int(timeout));
    if (!m_bOpen || !buf || len <= 0) {
        LogError(devType, "-Port Read : fail to invalid parameters");
        return 0;
    }
    int got = m_rx.ReadWithTimeout(buf, len, timeout, m_TerminateEvent, [&] { return m_bOpen != FALSE; });
    Trace(devType, "-Port Read(nRead : %d)", got);
    return got;
}

int CPortUsb::IsPowerState(DWORD devType)
{
    if (m_nConnState == 1 && !m_bReadThreadLost) {
        Trace(devType, "IsPowerState : 2001");
        return PS_ONLINE;
    }
    Trace(devType, "IsPowerState : 2003");
    return PS_OFFLINE;
}

int CPortUsb::GetASBState(int* asb, DWORD devType)
{
    if (m_rx.PopStatusFrame(asb) == CPortReceiver::ASB_DELIVERED) {
        Trace(devType, "-GetASBState");
        return 1;
    }
    TraceError(devType, "-GetASBState : ASBInput lengh is less than 4");
    return 0;
}

int CPortUsb::SetWrite(int isWrite, DWORD devType)
{
    Trace(devType, "+Port SetWrite(isWrite : %d)", isWrite);
    if (!m_bOpen) {
        LogError(devType, "-Port SetWrite : m_bOpen is FALSE");
        return 0;
    }
    m_bWrite = isWrite;
    return 1;
}

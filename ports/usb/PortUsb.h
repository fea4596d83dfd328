// CPortUsb: one printer on a USB device interface. The device may vanish and come back: a
// connection-check thread polls the USB device list, closes the handle when the printer is gone
// and opens it again when it returns; the read thread feeds the receive filter.
#pragma once

#include "DeviceOption.h"
#include "FxThread.h"
#include "PortLines.h"
#include "PortReceiver.h"
#include "PortThread.h"
#include "RegistUsb.h"
#include "SyncEx.h"
#include "WriteCancel.h"

#include <windows.h>

// The device calls whose failures a real device gives but a stand-in cannot: a USB printer
// pulled mid-write fails with ERROR_INVALID_HANDLE or ERROR_ACCESS_DENIED, and a driver may
// never complete a cancelled read. These are the production forms (overlapped WriteFile and
// ReadFile, CancelIoEx); a test overrides the one it scripts.
class CUsbDeviceIo
{
public:
    virtual ~CUsbDeviceIo() {}
    virtual BOOL Write(HANDLE device, const void* bytes, DWORD count, OVERLAPPED* ov)
    {
        return ::WriteFile(device, bytes, count, nullptr, ov);
    }
    virtual BOOL Read(HANDLE device, void* bytes, DWORD count, OVERLAPPED* ov)
    {
        return ::ReadFile(device, bytes, count, nullptr, ov);
    }
    virtual BOOL Cancel(HANDLE device, OVERLAPPED* ov) { return ::CancelIoEx(device, ov); }
};

class CPortUsb : private CPortLogLines
{
public:
    CPortUsb();
    virtual ~CPortUsb();
    CPortUsb(const CPortUsb&) = delete;
    CPortUsb& operator=(const CPortUsb&) = delete;

    // Seams; NULL restores SetupAPI and the device calls. Set before OpenPort; not owned.
    void SetInterfaceSource(IUsbInterfaceSource* source) { m_source = source; }
    void SetDeviceIo(CUsbDeviceIo* io);

    // The port API (see PortTable.h).
    int SetDeviceOption(const DeviceOption& dop, DWORD devType);
    void SetLog(DWORD useBinary, DWORD usePortLog, const CString& installPath);
    void SetPortIndex(int id) { m_nPortIndex = id; }
    int OpenPort(DWORD devType);
    void ClosePort(DWORD devType);
    void CloseIfOpen();
    int writePort(const BYTE* buf, int len, DWORD devType);
    int readPort(BYTE* buf, int len, DWORD timeout, DWORD devType);
    int ReadAvailable(DWORD devType = 0) { return (void)devType, m_rx.Available(); }
    void Clear(DWORD devType = 0) { (void)devType, m_rx.Clear(); }
    int IsPowerState(DWORD devType = 0);
    int GetASBState(int* asb, DWORD devType);
    int SetWrite(int isWrite, DWORD devType);
    // Ends the writes of devType's class in flight on this port; the port stays open.
    void CancelWrites(DWORD devType);
    // The USB port's power follows several members of its connection: the caller keeps
    // polling it.
    int SetStatusEvent(HANDLE event, DWORD devType) { return (void)event, (void)devType, 0; }

    int OpenPortUSB(const CString& path);
    void ClosePortUSB();

    // The device path the port opens (follows the printer to another socket).
    CString PortName();
    bool ThreadsRunning() const { return m_pReadThread || m_pCheckThread; }
    int ConnectionState() const { return m_nConnState; }
    // How long a write of len bytes may take, in ms: 50 ms per byte plus 5 s.
    static DWORD WriteBound(int len);

private:
    static UINT ReadThreadProc(LPVOID self);
    static UINT CheckThreadProc(LPVOID self);
    void ReadThread();
    void ConnCheckThread();
    void StopThread(CWinThread*& thread, volatile LONG& ended, DWORD devType, const char* waitLine,
                    const char* terminateLine);
    // The path this port may open now: its stored path when that device is listed; otherwise the
    // one listed device of the same vendor and product id when no other open port holds it (a
    // printer moved to another socket); otherwise empty, and the stored path is kept.
    CString ResolvePath(const CString& stored, bool* storedListed);
    // Makes path the one this port holds in the process's table of open USB devices. For a
    // move (moving), FALSE when another open port holds it. A port's own stored device is always
    // its own: a port that moved onto it gives way (GiveWay) before this returns.
    BOOL HoldDevice(const CString& path, bool moving);
    void ReleaseDevice();
    // Whether path is the device this port holds in the table (Locked: the caller holds its lock).
    bool HoldsPath(const CString& path);
    bool HoldsPathLocked(const CString& path);
    // Called under the table's lock by the port whose own device this port moved onto: the
    // handle goes (its I/O ended), the port is off-line and holds its stored path again, so its
    // check goes back to its own printer when that one returns.
    void GiveWay();
    // The stored path (the device this port was set up for).
    CString HomePath();
    // Takes the handle out of use and closes it once the I/O of its users has ended (bounded).
    // Until it is closed it stays in m_dropping, so a drop cut short (its thread ended by force)
    // leaves it to ClosePort rather than open for the rest of the process.
    void DropHandle();
    void CloseDroppedHandles(DWORD devType);

    // The device handle is lent to one I/O at a time per user and closed only when no user
    // holds it, so no thread ever uses a handle another thread has closed.
    HANDLE AcquireHandle();
    void ReleaseHandle();
    bool HasHandle();

    int m_nPortIndex = 0;
    DeviceOption m_dop = {};
    CString m_strPortName;  // the path in use, guarded by m_HandleLock
    CString m_strHome;      // m_dop's port name as set, guarded by m_HandleLock
    // Handles being dropped, with the thread dropping each; guarded by m_HandleLock.
    struct Dropping
    {
        HANDLE handle;
        DWORD thread;
    };
    Dropping m_dropping[4] = {};
    HANDLE m_hDevice = nullptr;
    volatile LONG m_nHandleUsers = 0;
    // Kernel mutexes with bounded waits: a thread ended by force leaves them abandoned, never
    // held, and no waiter hangs on them.
    CMutexEx m_HandleLock;
    CMutexEx m_OpenCloseLock;  // one open of the device at a time (a close drains without it)
    volatile LONG m_bOpen = FALSE;
    CWriteCancel m_WriteCancel;
    volatile LONG m_nConnState = 0;  // 0 before the first open, 1 connected, -1 disconnected
    volatile LONG m_bWrite = 0;

    volatile LONG m_bTerminateCheckThread = FALSE;
    CWinThread* m_pCheckThread = nullptr;
    CEventEx m_CheckThreadTerminateEvent{FALSE, TRUE};
    volatile LONG m_bCheckThreadEnded = TRUE;

    volatile LONG m_bTerminateThread = FALSE;
    CWinThread* m_pReadThread = nullptr;
    CEventEx m_TerminateEvent{FALSE, TRUE};
    volatile LONG m_bReadThreadEnded = TRUE;
    volatile LONG m_bReadThreadLost = FALSE;  // the read thread ended before ClosePort

    CPortReceiver m_rx{true};

    IUsbInterfaceSource* m_source = nullptr;
    CUsbDeviceIo* m_io;
};

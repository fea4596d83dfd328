// CPortCom: one serial port (including Bluetooth virtual serial ports) of the com library.
//
// The caller's threads open, write, read the receive queue and close; one read thread per open
// port reads the device, separates status frames from data and decides the power state.
#pragma once

#include "ComLine.h"
#include "ComRules.h"
#include "DeviceStateApi.h"
#include "PortDeviceControl.h"
#include "DeviceOption.h"
#include "FxString.h"
#include "FxThread.h"
#include "PortLines.h"
#include "PortReceiver.h"
#include "PortThread.h"
#include "SyncEx.h"
#include "WriteCancel.h"

#include <windows.h>

class CPortCom : private CPortLogLines
{
public:
    CPortCom();
    virtual ~CPortCom();
    CPortCom(const CPortCom&) = delete;
    CPortCom& operator=(const CPortCom&) = delete;

    int SetDeviceOption(const DeviceOption& dop, DWORD devType);
    void SetLog(DWORD dwUseBinary, DWORD dwUsePortLog, const CString& installPath);
    void SetPortIndex(int id) { m_nPortIndex = id; }

    int OpenPort(DWORD devType);
    // The re-open of the read thread: the device only, no queue, buffer or thread.
    int OpenPortSerial();
    // The second open path for Bluetooth virtual serial ports (OpenPort after ERROR_FILE_NOT_FOUND,
    // and the read thread's re-open of a port with dwUsingBT). With CONTROLDEVICE set it first
    // resets the port's device (disable, enable, check). On success the handle and m_bOpen; on
    // failure no handle. Its waits end early when the port is being closed.
    int OpenPortBluetooth();
    // Starts the device enable tool of the log folder through the WOW64 command interpreter with
    // the port name and state (0 disable, 1 enable) and waits for it (bounded).
    void RunHalvirex(int state);
    // The port device control in this process; the state is also kept in the port.
    int GetDeviceState(const CString& portName);
    int ControlComPortDevice(const CString& portName, int state);
    void ClosePort(DWORD devType);
    void CloseIfOpen();

    int writePort(const BYTE* buf, int len, DWORD devType);
    int readPort(BYTE* buf, int len, DWORD timeout, DWORD devType);
    int ReadAvailable(DWORD devType = 0);
    void Clear(DWORD devType = 0);
    int GetASBState(int* asb, DWORD devType);
    int IsPowerState(DWORD devType = 0) const { return (void)devType, m_nPowerState; }
    int SetWrite(int isWrite, DWORD devType);
    // Ends the writes of devType's class in flight on this port; the port stays open.
    void CancelWrites(DWORD devType);
    int SetStatusEvent(HANDLE event, DWORD devType)
    {
        (void)devType;
        m_Receiver.SetStatusEvent(event);
        return 1;
    }

    // The line calls (modem status, error status, control block, purge); NULL restores Win32.
    // Set while the port is closed.
    void SetLine(IComLine* line) { m_pLine = line ? line : &Win32ComLine(); }
    // The device-state query and change calls; NULL restores the system's. Set while closed.
    void SetDeviceStateApi(IDeviceStateApi* api) { m_pDeviceApi = api ? api : &Win32DeviceStateApi(); }

    BOOL CheckModemLines(int cts, int dsr);
    BOOL CheckXoffHold();

    void ReadThread();

    const ComConfig& Config() const { return m_Config; }
    BOOL IsOpen() const { return m_bOpen; }
    BOOL Is64Bit() const { return m_b64Bit; }

private:
    // Opens "\\.\<port name>" exclusively for overlapped I/O; INVALID_HANDLE_VALUE on failure.
    HANDLE OpenDevice(const CString& portName, DWORD& err);
    // Control block (from build), time-outs and driver queues of a freshly opened device; on
    // failure the error line "<op> : fail to <call>" (plain or tagged) and FALSE.
    typedef BOOL (*ComDcbBuilder)(DCB&, const DeviceOption&, const ComConfig&);
    BOOL ConfigureDevice(HANDLE h, const char* op, bool plain, DWORD devType, ComDcbBuilder build = ComBuildSerialDcb);
    // Closes the device: breaks pending I/O (purging purge), lets writers in flight return,
    // closes the handle.
    void CloseDevice(DWORD purge = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    void CancelDeviceIo(DWORD purge);
    CString PortName();
    // Waits ms unless the port is being closed; TRUE when it is.
    BOOL WaitOrTerminate(DWORD ms);

    // The device control's messages go to this port's log.
    class CDeviceLog : public IDeviceMessageSink
    {
    public:
        explicit CDeviceLog(CPortCom& port) : m_port(port) {}
        void DeviceMessage(DeviceMessageKind kind, const char* text) override;

    private:
        CPortCom& m_port;
    };

    int m_nPortIndex = 0;
    BOOL m_b64Bit = FALSE;
    ComConfig m_Config;            // CONTROLDEVICE and the CHECK values
    int m_nDeviceState = 0;        // last device-state query of the Bluetooth open path
    DeviceOption m_dop;            // strPortName is a handle this port holds a reference to
    CMutexEx m_OptionLock;         // guards the port name against a concurrent SetDeviceOption
    HANDLE m_hPort = nullptr;
    volatile BOOL m_bOpen = FALSE;
    volatile int m_nPowerState = 0;
    // The power state; a change is status news for the caller.
    void SetPower(int state)
    {
        if (InterlockedExchange(reinterpret_cast<volatile LONG*>(&m_nPowerState), state) != state)
            m_Receiver.NotifyStatus();
    }
    int m_nWrite = 0;
    CWriteCancel m_WriteCancel;
    // How often a pending write looks for a cancel of its class.
    static const DWORD kWriteCancelStepMs = 100;
    volatile BOOL m_bTerminateThread = FALSE;
    CWinThread* m_pReadThread = nullptr;
    CEventEx m_TerminateEvent{FALSE, TRUE};
    volatile LONG m_bThreadEnded = TRUE;
    CPortReceiver m_Receiver{false};  // m_pInputQ, the status-frame buffer and their locks
    IComLine* m_pLine;
    IDeviceStateApi* m_pDeviceApi;

    // OpenPort and ClosePort run one at a time; the read thread's re-open only tries it, so a
    // ClosePort waiting for the thread never waits for the lock the thread would need. A kernel
    // mutex: a read thread ended by force during a re-open leaves it abandoned, not held.
    CMutexEx m_OpenLock;
    // ClosePorts in progress: an OpenPort meanwhile neither opens nor clears their stop signal.
    volatile LONG m_nClosing = 0;
    // The writes using one open handle, made with the handle and taken away with it: a writer
    // ended by force inside Write holds up only the close of its own handle, never one of a later
    // open. refs: one for the port while the handle is in use, one per write in flight; the last
    // release frees it. CloseDevice takes handle and record away together, then cancels until only
    // its own reference is left (bounded) before it closes the handle, so a write never reaches a
    // closed or reused handle; no lock is held meanwhile.
    struct WriterCount
    {
        volatile LONG refs;
    };
    WriterCount* m_pWriters = nullptr;  // guarded by m_HandleLock, set and cleared with m_hPort
    // Makes h the port's handle with a fresh writer count (under m_HandleLock).
    void AdoptHandle(HANDLE h);
    static void ReleaseWriters(WriterCount* w);
    // The handle a close took away and has not closed yet; ClosePort closes it when the read
    // thread's close of a dropped Bluetooth link was ended by force. Guarded by m_HandleLock.
    HANDLE m_hClosing = nullptr;
    // Guards the handle value for the cancel and the close (a kernel mutex for the same reason).
    CMutexEx m_HandleLock;
    // ClosePort's wait for the driver's output queue to drain; FALSE when bytes were still
    // queued at its bound.
    BOOL WaitOutputDrained(DWORD devType);
};

UINT __cdecl ReadThreadProc(LPVOID param);

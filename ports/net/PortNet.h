// CPortNet: one TCP connection to a network printer. The port name is the printer's dotted IPv4
// address and dwBaudRate its TCP port. The read thread receives, probes the printer with ICMP
// echo, sends a single 0x00 byte when the link has been idle, and reconnects on its own.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include "DeviceOption.h"
#include "FxString.h"
#include "FxThread.h"
#include "IcmpEcho.h"
#include "PortLines.h"
#include "PortReceiver.h"
#include "PortThread.h"
#include "SyncEx.h"
#include "WriteCancel.h"

#include <atomic>

class CPortNet : private CPortLogLines
{
public:
    CPortNet();
    virtual ~CPortNet();
    CPortNet(const CPortNet&) = delete;
    CPortNet& operator=(const CPortNet&) = delete;

    // The port API (see PortTable.h).
    int SetDeviceOption(const DeviceOption& dop, DWORD devType);
    void SetLog(DWORD useBinary, DWORD usePortLog, const CString& installPath);
    void SetPortIndex(int id) { m_nPortIndex = id; }
    int OpenPort(DWORD devType);
    void ClosePort(DWORD devType);
    void CloseIfOpen();
    int writePort(const BYTE* buf, int len, DWORD devType);
    int readPort(BYTE* buf, int len, DWORD timeout, DWORD devType);
    int ReadAvailable(DWORD devType = 0);
    void Clear(DWORD devType = 0);
    int IsPowerState(DWORD devType = 0);
    int GetASBState(int* asb, DWORD devType);
    int SetWrite(int isWrite, DWORD devType);
    // Ends the writes of devType's class in flight on this port; the port stays open.
    void CancelWrites(DWORD devType);
    int SetStatusEvent(HANDLE event, DWORD devType);

    // The echo used by the liveness probe; the platform's unless replaced before OpenPort.
    void SetIcmpEcho(IIcmpEcho* echo) { m_echo = echo ? echo : &PlatformIcmpEcho(); }

    // Internal steps, public for the port's own tests.
    BOOL ConnectSocket();
    BOOL CheckFinPacket();
    BOOL GetIcmpResponses(const char* address);
    void ParseReadData(const BYTE* block, int length);

    // Timing of the read thread (ms).
    enum
    {
        kProbeIntervalMs = 500,
        kPassWaitMs = 100,
        kKeepAliveIdleMs = 2999,   // a keep-alive byte after more than this without sending
        kCloseBeforeReconnectMs = 2500,
        kAfterConnectMs = 300,
        kAfterFailedConnectMs = 1000,
        kWriteBudgetMs = 2000,
        kWriteWaitStepMs = 100,
    };

private:
    static UINT __cdecl ReadThreadProc(LPVOID self);
    void ReadThread();
    bool Reconnect();           // false when the port is being closed
    void SendKeepAlive();
    int WaitReadable();         // 1 readable, 0 nothing within the receive wait, -1 error
    bool WaitTerminate(DWORD ms);
    void CloseSocket();
    void GoOffline();           // the connection is no good: off-line, reconnect
    void SetPower(int state);   // the power state; a change is status news for the caller
    bool PeerHasClosed();
    void LetThePrinterTakeWhatWasSent(DWORD devType);

    // Unset (zero) settings take their usual defaults.
    DWORD TcpTimeout() const { return m_run.dwTcpTimeout ? m_run.dwTcpTimeout : 500; }
    DWORD ConnTimeout() const { return m_run.dwConnTimeout ? m_run.dwConnTimeout : 1000; }
    int ConnRetryCount() const { return m_run.dwConnRetryCount ? int(m_run.dwConnRetryCount) : 3; }

    int m_nPortIndex = 0;
    DeviceOption m_dop;
    CString m_strPortName;      // owns the name m_dop.strPortName points at
    DeviceOption m_run;         // the settings of the open connection (taken at OpenPort)
    CString m_runAddress;
    SOCKET m_socket = INVALID_SOCKET;  // replaced only under m_SendLock
    std::atomic<BOOL> m_bOpen{FALSE};
    std::atomic<int> m_nPowerState{PS_UNKNOWN};
    std::atomic<int> m_nWriteFlag{0};
    std::atomic<BOOL> m_bReachable{FALSE};
    std::atomic<int> m_nMissedProbes{0};   // consecutive unanswered probes
    std::atomic<BOOL> m_bTerminateThread{FALSE};
    CWinThread* m_pReadThread = nullptr;
    CEventEx m_TerminateEvent{FALSE, TRUE};
    volatile LONG m_bThreadEnded = TRUE;
    CPortReceiver m_receiver{true};
    std::atomic<BOOL> m_bReconnect{FALSE};
    CEventEx m_NetworkEvent{FALSE, TRUE};  // FD_CLOSE of the current socket
    // A datagram socket on 127.0.0.1 that ClosePort sends one byte to: the read thread's wait
    // for data watches it, so the wait needs no short steps to notice the close.
    SOCKET m_wakeSocket = INVALID_SOCKET;
    void OpenWakeSocket();
    void WakeReadThread();
    void CloseWakeSocket();
    // Serialises writePort and the keep-alive byte (a keep-alive never lands inside a write)
    // and guards replacing the socket under a running write.
    CMutexEx m_SendLock;
    CWriteCancel m_WriteCancel;
    std::atomic<DWORD> m_lastSendTick{0};  // last keep-alive byte or written bytes
    BOOL m_bWsaStarted = FALSE;

    IIcmpEcho* m_echo;

};

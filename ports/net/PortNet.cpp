#include "PortNet.h"
#include "PortLog.h"

#include <ws2tcpip.h>
#include <mstcpip.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {

const int kReceiveBlock = 1024;

// An 8-byte ICMP error message and room for a reply that carries data despite the empty
// request come on top of the reply record.
const DWORD kEchoReplySize = sizeof(ICMP_ECHO_REPLY) + 8 + 64;

bool ParseAddress(const char* text, IN_ADDR* out)
{
    // Dotted IPv4 text only: host names are not resolved, and a short form such as "1" must
    // not turn into some other address.
    return text && *text && inet_pton(AF_INET, text, out) == 1;
}

DWORD Elapsed(DWORD since) { return GetTickCount() - since; }

} // namespace

CPortNet::CPortNet() : m_echo(&PlatformIcmpEcho())
{
    std::memset(&m_dop, 0, sizeof m_dop);
    std::memset(&m_run, 0, sizeof m_run);
}

CPortNet::~CPortNet()
{
    m_receiver.Close();
    CloseLogOfPort("~CPortNet");
    m_nPortIndex = 0;
}

// ---------------------------------------------------------------------------------------------

int CPortNet::SetDeviceOption(const DeviceOption& dop, DWORD)
{
    CString name = DeviceOptionPortName(dop);
    if (name.IsEmpty())
        return 0;
    m_strPortName = name;
    m_dop.strPortName = const_cast<char*>(m_strPortName.GetString());
    m_dop.dwBaudRate = dop.dwBaudRate;
    DeviceOptionCopyFields(m_dop, dop, &DeviceOption::dwInBufSize, &DeviceOption::dwOutBufSize);
    DeviceOptionCopyFields(m_dop, dop, &DeviceOption::dwWireless, &DeviceOption::dwConnRetryCount);
    return 1;
}

void CPortNet::SetLog(DWORD useBinary, DWORD usePortLog, const CString& installPath)
{
    SetLogFlags(useBinary, usePortLog, installPath, "Eth", m_nPortIndex);
    m_receiver.SetLogGates(LogOn(), TraceOn());
}

// ---------------------------------------------------------------------------------------------
// Connection

void CPortNet::CloseSocket()
{
    CMutexExLock lock(m_SendLock);
    if (m_socket != INVALID_SOCKET)
        closesocket(m_socket);
    m_socket = INVALID_SOCKET;
}

BOOL CPortNet::ConnectSocket()
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        LogPlainError("-ConnectSocket : SOCKET_ERROR=%d", WSAGetLastError());
        return FALSE;
    }
    auto fail = [&]() {
        closesocket(s);
        return FALSE;
    };

    // Closing resets the connection at once instead of lingering.
    LINGER linger = {1, 0};
    setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&linger), sizeof linger);

    u_long nonBlocking = 1;
    if (ioctlsocket(s, FIONBIO, &nonBlocking) == SOCKET_ERROR) {
        LogPlainError("ioctlsocket FIONBIO mode 1 error=%d  in ConnectSocket", WSAGetLastError());
        return fail();
    }

    tcp_keepalive keepAlive = {1, 1000, 500};
    DWORD returned = 0;
    if (WSAIoctl(s, SIO_KEEPALIVE_VALS, &keepAlive, sizeof keepAlive, nullptr, 0, &returned, nullptr, nullptr) ==
        SOCKET_ERROR)
        LogPlain("WSAIotcl(SIO_KEEPALIVE_VALS) failed with error code %d", WSAGetLastError());

    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(u_short(m_run.dwBaudRate));
    if (!ParseAddress(m_runAddress, &to.sin_addr) || m_run.dwBaudRate == 0 || m_run.dwBaudRate > 65535) {
        LogPlainError("-ConnectSocket(Non-blocking) : SOCKET_ERROR");
        return fail();
    }
    if (connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) == SOCKET_ERROR &&
        WSAGetLastError() != WSAEWOULDBLOCK) {
        LogPlainError("-ConnectSocket(Non-blocking) : SOCKET_ERROR");
        return fail();
    }

    Sleep(100);
    // A recorded close of an earlier socket must not be taken for this one's.
    m_NetworkEvent.ResetEvent();
    if (WSAEventSelect(s, m_NetworkEvent, FD_CLOSE) == SOCKET_ERROR) {
        LogPlainError("WSAEventSelect error=%d  in ConnectSocket", WSAGetLastError());
        return fail();
    }

    // Wait for the outcome in short steps so that a close of the port is not held up.
    DWORD wait = TcpTimeout();
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = Elapsed(start);
        DWORD left = elapsed < wait ? wait - elapsed : 0;
        DWORD step = left < 50 ? left : 50;
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s, &writable);
        FD_SET(s, &failed);
        timeval tv = {0, long(step * 1000)};
        int r = select(0, nullptr, &writable, &failed, &tv);
        if (r == SOCKET_ERROR) {
            LogPlainError("select error:GLE[%d] in ConnectSocket", WSAGetLastError());
            return fail();
        }
        if (r > 0 && FD_ISSET(s, &writable) && !FD_ISSET(s, &failed)) {
            // Writable alone is not proof of a connection on every stack: ask for the outcome.
            int err = 0;
            int errLen = sizeof err;
            if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &errLen) == 0 && err == 0)
                break;
        }
        if (r > 0 || left == 0 || m_bTerminateThread) {
            LogPlainError("FD_ISSET return fail in ConnectSocket");
            return fail();
        }
    }

    CMutexExLock lock(m_SendLock);
    if (m_socket != INVALID_SOCKET)
        closesocket(m_socket);
    m_socket = s;
    return TRUE;
}

BOOL CPortNet::CheckFinPacket()
{
    WSANETWORKEVENTS events = {};
    if (WSAEnumNetworkEvents(m_socket, m_NetworkEvent, &events) == SOCKET_ERROR) {
        LogPlainError("WSAEnumNetworkEvents error=%d", WSAGetLastError());
        return FALSE;
    }
    if (events.lNetworkEvents & FD_CLOSE) {
        int code = WSAGetLastError();
        if (code == 0)
            code = events.iErrorCode[FD_CLOSE_BIT];
        LogPlain("Check to receive FIN packet=%d", code);
        return FALSE;
    }
    return TRUE;
}

bool CPortNet::PeerHasClosed()
{
    // The close is recorded on the event until the read thread takes it; looking does not
    // consume it.
    return WaitForSingleObject(m_NetworkEvent, 0) == WAIT_OBJECT_0;
}

BOOL CPortNet::GetIcmpResponses(const char* address)
{
    IN_ADDR to;
    if (!ParseAddress(address, &to))
        return FALSE;
    HANDLE icmp = m_echo->Create();
    if (icmp == INVALID_HANDLE_VALUE) {
        LogPlainError("CPortNet:GetIcmpResponses : IcmpCreateFile failed with error (%d)",
                 int(GetLastError()));
        return FALSE;
    }
    void* reply = std::calloc(1, kEchoReplySize);
    if (!reply) {
        LogPlainError("CPortNet:GetIcmpResponses : Unable to allocate memory");
        m_echo->Close(icmp);
        return FALSE;
    }
    BOOL answered = FALSE;
    DWORD timeout = ConnTimeout();
    DWORD replies = m_echo->SendEcho(icmp, to.s_addr, reply, kEchoReplySize, timeout);
    if (replies == 0) {
        LogPlainError("CPortNet:GetIcmpResponses : IcmpSendEcho failed with error (%d)",
                 int(GetLastError()));
    } else {
        const ICMP_ECHO_REPLY* r = static_cast<const ICMP_ECHO_REPLY*>(reply);
        // Only an echo reply from the printer itself counts: an "unreachable" from a router
        // is a reply too.
        answered = r->Status == IP_SUCCESS && r->Address == to.s_addr;
        if (answered && r->RoundTripTime > timeout)
            LogPlain("CPortNet:GetIcmpResponses : Status = %d, RoundTripTime=%d ms", int(r->Status),
                     int(r->RoundTripTime));
    }
    std::free(reply);
    m_echo->Close(icmp);
    return answered;
}

// ---------------------------------------------------------------------------------------------
// Open and close

int CPortNet::OpenPort(DWORD devType)
{
    // Open already: the running connection and thread stay the only ones.
    if (m_pReadThread)
        return 1;

    OpenPortDump("EthPRN");

    // The settings of this connection; SetDeviceOption meanwhile affects the next open.
    m_run = m_dop;
    m_runAddress = m_strPortName;
    m_run.strPortName = nullptr;

    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        LogError(devType, "-OpenPort : fail to WSAStartup");
        return 0;
    }
    m_bWsaStarted = TRUE;
    m_bTerminateThread = FALSE;

    Log(devType, "ConnectSocket in OpenPort");
    BOOL connected = ConnectSocket();
    if (connected) {
        Sleep(200);
        if (!CheckFinPacket()) {
            // Some printers take the first connection and drop it at once; the second holds.
            CloseSocket();
            Sleep(1000);
            Log(devType, "second ConnectSocket in OpenPort");
            connected = ConnectSocket();
        }
    }
    if (!connected) {
        LogError(devType, "-OpenPort : fail to connected.");
        WSACleanup();
        m_bWsaStarted = FALSE;
        return 0;
    }

    m_bOpen = TRUE;
    m_bReachable = TRUE;
    m_nMissedProbes = 0;
    m_bReconnect = FALSE;
    m_receiver.Open(m_dop.dwInBufSize);
    LogError(devType, "m_dop.dwInBufSize : %d", int(m_dop.dwInBufSize));
    m_TerminateEvent.ResetEvent();
    m_nWriteFlag = 0;
    m_lastSendTick = GetTickCount();
    SetPower(PS_ONLINE);
    OpenWakeSocket();
    m_pReadThread = StartPortThread(ReadThreadProc, this, THREAD_PRIORITY_HIGHEST, m_bThreadEnded);
    if (!m_pReadThread) {
        CloseWakeSocket();
        m_bOpen = FALSE;
        CloseSocket();
        m_receiver.Close();
        WSACleanup();
        m_bWsaStarted = FALSE;
        SetPower(PS_OFFLINE);
        LogError(devType, "-OpenPort : fail to connected.");
        return 0;
    }
    Log(devType, "read thread Started");
    Log(devType, "-OpenPort(%d) : PowerState : %d", 345, PS_ONLINE);
    return 1;
}

void CPortNet::LetThePrinterTakeWhatWasSent(DWORD devType)
{
    // The socket may still hold bytes that Write reported sent and the printer has not taken
    // yet; the reset of the close would throw them away. The sending side is ended and the close
    // made graceful instead: the system delivers what it holds, then the end of the stream,
    // whether the printer closes its own side or keeps it open, and the close does not wait.
    if (shutdown(m_socket, SD_SEND) == SOCKET_ERROR) {
        LogError(devType, "ClosePort : shutdown WSAGetLastError=%d; the reset may drop bytes the printer has not read",
                 WSAGetLastError());
        return;
    }
    LINGER graceful = {0, 0};
    if (setsockopt(m_socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&graceful), sizeof graceful) ==
        SOCKET_ERROR)
        LogError(devType, "ClosePort : SO_LINGER WSAGetLastError=%d; the reset may drop bytes the printer has not read",
                 WSAGetLastError());
}

void CPortNet::ClosePort(DWORD devType)
{
    Log(devType, "+ClosePort");
    // A connection the printer has closed already holds nothing for it.
    const bool peerGone = m_bReconnect || PeerHasClosed();
    m_bOpen = FALSE;
    m_bReachable = FALSE;
    m_bReconnect = FALSE;
    Trace(devType, "ClosePort : set to m_bTerminateThread flag");
    m_bTerminateThread = TRUE;
    Trace(devType, "ClosePort : m_TerminateEvent.SetEvent");
    m_TerminateEvent.SetEvent();
    WakeReadThread();

    if (m_pReadThread) {
        if (!StopPortThread(
                m_pReadThread, m_bThreadEnded, PortThreadStop{30, 30, 1000}, [] {},
                [&] { Log(devType, "ClosePort : TerminateThread Port ReadThread."); }))
            Log(devType, "ClosePort : complete TerminateThread Port ReadThread.");
        m_bThreadEnded = TRUE;
    }
    CloseWakeSocket();

    Log(devType, "ClosePort : call closesocket.");
    {
        CMutexExLock lock(m_SendLock);
        if (m_socket != INVALID_SOCKET) {
            if (!peerGone)
                LetThePrinterTakeWhatWasSent(devType);
            if (closesocket(m_socket) == SOCKET_ERROR)
                LogError(devType, "ClosePort : error closesocket WSAGetLastError=%d", WSAGetLastError());
        }
        m_socket = INVALID_SOCKET;
    }
    m_NetworkEvent.ResetEvent();

    m_receiver.Close();
    m_receiver.SetStatusEvent(nullptr);
    if (m_bWsaStarted) {
        WSACleanup();
        m_bWsaStarted = FALSE;
    }

    Log(devType, "-ClosePort : Success");
    ClosePortDump();
}

void CPortNet::CloseIfOpen()
{
    if (m_pReadThread || m_bWsaStarted)
        ClosePort(0);
}

// ---------------------------------------------------------------------------------------------
// Caller's side

int CPortNet::writePort(const BYTE* buf, int len, DWORD devType)
{
    Trace(devType, "+Port Write(dwWritten : %d)", len);
    const LONG cancelMark = m_WriteCancel.Mark(devType);
    if (!m_bOpen || m_bReconnect || !buf || len <= 0) {
        LogError(devType, "-Port Write : fail to invalid parameters");
        return 0;
    }

    CMutexExLock lock(m_SendLock);
    SOCKET s = m_socket;
    int sent = 0;
    // A close the read thread has not handled yet: the peer would drop whatever is sent now,
    // and the port is off-line from here on, not after the thread's next pass.
    if (s != INVALID_SOCKET && PeerHasClosed()) {
        GoOffline();
    } else if (s != INVALID_SOCKET) {
        DWORD start = GetTickCount();
        bool firstSend = true;
        while (sent < len) {
            // A cancel of this class ends its write between steps; other classes' writes go on.
            if (m_WriteCancel.Cancelled(devType, cancelMark)) {
                PortLogWritePlain(PORTLOG_ERROR, "Port Write : cancelled by CancelWrites");
                break;
            }
            int n = send(s, reinterpret_cast<const char*>(buf) + sent, len - sent, 0);
            if (n > 0) {
                sent += n;
                firstSend = false;
                continue;
            }
            int err = n == SOCKET_ERROR ? WSAGetLastError() : WSAEWOULDBLOCK;
            if (err != WSAEWOULDBLOCK) {
                if (firstSend)
                    PortLogWritePlain(PORTLOG_ERROR,
                                      "-CPortNet::writePort Write Fail(%d/%d), WSAGLE=%d and connect status off-line",
                                      -1, len, err);
                else
                    PortLogWritePlain(PORTLOG_ERROR, "second send error : %d", err);
                GoOffline();
                break;
            }
            firstSend = false;
            if (!m_bOpen) {
                PortLogWritePlain(PORTLOG_ERROR, "m_bOpen is false in Write()");
                break;
            }
            DWORD elapsed = Elapsed(start);
            if (elapsed > DWORD(kWriteBudgetMs)) {
                PortLogWritePlain(PORTLOG_ERROR, "Wait for timeout");
                break;
            }
            // Wait for room with select: registering another event for the socket would cancel
            // the close notification the read thread watches.
            DWORD step = DWORD(kWriteBudgetMs) + 1 - elapsed;
            if (step > DWORD(kWriteWaitStepMs))
                step = kWriteWaitStepMs;
            fd_set writable;
            FD_ZERO(&writable);
            FD_SET(s, &writable);
            timeval tv = {0, long(step * 1000)};
            if (select(0, nullptr, &writable, nullptr, &tv) == SOCKET_ERROR) {
                PortLogWritePlain(PORTLOG_ERROR, "raise %d in select()", WSAGetLastError());
                break;
            }
        }
    }

    if (sent > 0) {
        if (m_dwUseBinary == 1)
            PortDumpWrite(buf, sent);
        Sleep(50);
        m_lastSendTick = GetTickCount();
    }
    if (sent < len)
        LogError(devType, "-Ethernet Write (%d/%d)", sent, len);
    return sent;
}

void CPortNet::CancelWrites(DWORD devType)
{
    Log(devType, "+Port CancelWrites");
    if (!m_WriteCancel.Cancel(devType))
        LogError(devType, "-Port CancelWrites : fail to invalid DevType");
}

int CPortNet::readPort(BYTE* buf, int len, DWORD timeout, DWORD devType)
{
    if (!m_bOpen || !buf || len <= 0) {
        LogError(devType, "-Port Read : fail to invalid parameters");
        return 0;
    }
    int got = m_receiver.ReadWithTimeout(buf, len, timeout, m_TerminateEvent, [&] { return m_bOpen != FALSE; });
    if (got < len)
        LogError(devType, "-Ethernet Read fail (%d/%d)", got, len);
    return got;
}

int CPortNet::ReadAvailable(DWORD) { return m_receiver.Available(); }

void CPortNet::Clear(DWORD) { m_receiver.Clear(); }

int CPortNet::IsPowerState(DWORD)
{
    int state = m_nPowerState;
    TracePlain("IsPowerState : %d", state);
    return state;
}

int CPortNet::GetASBState(int* asb, DWORD devType)
{
    Trace(devType, "+GetASBState");
    switch (m_receiver.PopStatusFrame(asb)) {
    case CPortReceiver::ASB_DELIVERED:
        Trace(devType, "-GetASBState");
        return 1;
    case CPortReceiver::ASB_NO_BUFFER:
        LogError(devType, "-GetASBState : ASBInput pointer is NULL");
        return 0;
    default:
        TraceError(devType, "-GetASBState : ASBInput lengh is less than 4");
        return 0;
    }
}

int CPortNet::SetStatusEvent(HANDLE event, DWORD)
{
    m_receiver.SetStatusEvent(event);
    return 1;
}

int CPortNet::SetWrite(int isWrite, DWORD devType)
{
    Trace(devType, "+Port SetWrite(isWrite : %d)", isWrite);
    // Kept while the port is open even during a reconnect, so that the end of a job is not lost
    // and the keep-alive resumes afterwards.
    if (m_pReadThread)
        m_nWriteFlag = isWrite;
    if (m_bOpen)
        return 1;
    LogError(devType, "-Port SetWrite : m_bOpen is FALSE");
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Read thread

void CPortNet::ParseReadData(const BYTE* block, int length)
{
    TracePlain("ParseReadData(%d)", length);
    m_receiver.Feed(block, length);
}

UINT __cdecl CPortNet::ReadThreadProc(LPVOID self)
{
    static_cast<CPortNet*>(self)->ReadThread();
    return 0;
}

bool CPortNet::WaitTerminate(DWORD ms)
{
    return m_bTerminateThread || WaitForSingleObject(m_TerminateEvent, ms) == WAIT_OBJECT_0;
}

void CPortNet::GoOffline()
{
    // The reconnect flag first: whoever sees 2003 also sees writes refused.
    m_bReconnect = TRUE;
    SetPower(PS_OFFLINE);
}

void CPortNet::SetPower(int state)
{
    if (m_nPowerState.exchange(state) != state)
        m_receiver.NotifyStatus();
}

void CPortNet::OpenWakeSocket()
{
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET)
        return;
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    u_long nonBlocking = 1;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
        closesocket(s);
        return;
    }
    m_wakeSocket = s;
}

void CPortNet::WakeReadThread()
{
    if (m_wakeSocket == INVALID_SOCKET)
        return;
    sockaddr_in a = {};
    int len = sizeof a;
    if (getsockname(m_wakeSocket, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        sendto(m_wakeSocket, "", 1, 0, reinterpret_cast<sockaddr*>(&a), len);
}

void CPortNet::CloseWakeSocket()
{
    if (m_wakeSocket != INVALID_SOCKET)
        closesocket(m_wakeSocket);
    m_wakeSocket = INVALID_SOCKET;
}

int CPortNet::WaitReadable()
{
    DWORD wait = TcpTimeout();
    DWORD start = GetTickCount();
    // Without the wake socket the wait goes in short steps, each looking at the close flag.
    const bool woken = m_wakeSocket != INVALID_SOCKET;
    for (;;) {
        DWORD elapsed = Elapsed(start);
        DWORD left = elapsed < wait ? wait - elapsed : 0;
        DWORD step = woken || left < DWORD(kPassWaitMs) ? left : DWORD(kPassWaitMs);
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(m_socket, &readable);
        if (woken)
            FD_SET(m_wakeSocket, &readable);
        timeval tv = {long(step / 1000), long(step % 1000 * 1000)};
        int r = select(0, &readable, nullptr, nullptr, &tv);
        if (r == SOCKET_ERROR)
            return -1;
        if (r > 0 && FD_ISSET(m_socket, &readable))
            return 1;
        if (r > 0) {
            // Not the close (a stray datagram): take it, so it does not end the next wait too.
            char drop[16];
            if (!m_bTerminateThread)
                recv(m_wakeSocket, drop, sizeof drop, 0);
        }
        if (left == 0 || m_bTerminateThread)
            return 0;
    }
}

bool CPortNet::Reconnect()
{
    if (m_socket != INVALID_SOCKET) {
        CloseSocket();
        m_bOpen = FALSE;
        LogPlain("Socket is close and sleep");
        if (WaitTerminate(kCloseBeforeReconnectMs))
            return false;
    }
    // The bytes of a frame cut off with the old connection are data, not the start of a frame
    // on the new one.
    m_receiver.FlushCandidate();
    LogPlain("ConnectSocket in ReadThread");
    if (!ConnectSocket())
        return !WaitTerminate(kAfterFailedConnectMs);
    if (WaitTerminate(kAfterConnectMs))
        return false;
    m_bOpen = TRUE;
    if (!CheckFinPacket())
        return true;  // closed again at once: the flag stays, the next pass closes and retries
    m_nMissedProbes = 0;
    m_bReconnect = FALSE;
    SetPower(PS_ONLINE);
    LogPlain("Socket reopen success, PowerState : %d", PS_ONLINE);
    return true;
}

void CPortNet::SendKeepAlive()
{
    // A write in progress holds the lock: the link is not idle then.
    if (!m_SendLock.Lock(0))
        return;
    int n = 0;
    int err = 0;
    bool due = m_nWriteFlag == 0 && m_bOpen && !m_bReconnect && m_socket != INVALID_SOCKET &&
               Elapsed(m_lastSendTick) > DWORD(kKeepAliveIdleMs);
    if (due) {
        m_lastSendTick = GetTickCount();
        LogPlain("write NULL Packet");
        const char nul = 0;
        n = send(m_socket, &nul, 1, 0);
        err = n == SOCKET_ERROR ? WSAGetLastError() : 0;
    }
    m_SendLock.Unlock();
    if (!due)
        return;
    if (n == SOCKET_ERROR && err != WSAEWOULDBLOCK) {
        LogPlainError("-Ethernet NULL Write Fail. close socket");
        GoOffline();  // first: a Write refused from here on finds the port off-line
        m_bOpen = FALSE;
        WaitTerminate(50);
        LogPlainError("-ReadThread(%d) : PowerState : %d", 592, PS_OFFLINE);
        LogPlainError("NULL byte writing is fail");
    } else if (n != 1) {
        // A full send buffer: the printer is slow, not gone.
        LogPlainError("NULL byte writing is fail");
    }
}

void CPortNet::ReadThread()
{
    LogPlain("***************** Port Read Thread Start ***********");
    m_bThreadEnded = FALSE;
    BYTE buf[kReceiveBlock];
    DWORD lastProbe = 0;
    bool probed = false;
    CString address = m_runAddress;

    for (;;) {
        // Liveness probe, connected or not, at most once per interval.
        if (!m_bTerminateThread && (!probed || Elapsed(lastProbe) >= DWORD(kProbeIntervalMs))) {
            probed = true;
            lastProbe = GetTickCount();
            BOOL answered = GetIcmpResponses(address);
            m_bReachable = answered;
            m_nMissedProbes = answered ? 0 : m_nMissedProbes + 1;
        }

        bool connected = m_bOpen && !m_bReconnect;
        if (!m_bReachable) {
            if (!connected) {
                // Reconnect only to a printer that answers.
                GoOffline();
                goto endOfPass;
            }
            // One lost echo is no lost printer.
            if (m_nMissedProbes >= ConnRetryCount()) {
                if (m_nPowerState == PS_ONLINE)
                    LogPlainError("ReadThread(%d) : PowerState : 2003", 472);
                GoOffline();
                goto endOfPass;
            }
        }

        if (m_bReconnect) {
            if (!Reconnect())
                break;
            goto endOfPass;
        }

        // Under the send lock, so that a write either sees the close or is refused; a write
        // in progress meets the close itself.
        if (m_SendLock.Lock(0)) {
            BOOL finOk = CheckFinPacket();
            if (!finOk) {
                GoOffline();
                m_bOpen = TRUE;  // the reconnect closes this socket first
            }
            m_SendLock.Unlock();
            if (!finOk)
                goto endOfPass;
        }
        if (!m_bOpen)
            goto endOfPass;
        if (m_bTerminateThread)
            break;

        SleepEx(0, TRUE);
        {
            int w = WaitReadable();
            if (w > 0) {
                int n = recv(m_socket, reinterpret_cast<char*>(buf), kReceiveBlock, 0);
                if (n > 0) {
                    // Straight back to the socket: a status answer right behind these bytes
                    // must not wait for the pass's pause.
                    ParseReadData(buf, n);
                    continue;
                }
                if (n == SOCKET_ERROR) {
                    int err = WSAGetLastError();
                    if (err != WSAEWOULDBLOCK) {
                        LogPlain("Ethernet Readthread WSAGLE[%d]", err);
                        if (err == WSAENOTSOCK) {
                            LogPlainError("failed to recv(errCode=%d) in read thread", WSAENOTSOCK);
                        } else {
                            m_bReachable = FALSE;
                            LogPlainError("ReadThread(%d) : PowerState : %d", 548, PS_OFFLINE);
                        }
                        GoOffline();
                        goto endOfPass;
                    }
                }
            } else if (w < 0) {
                GoOffline();
                m_bOpen = FALSE;
            }
        }

        // Nothing received.
        m_receiver.FlushCandidate();
        if (m_bTerminateThread)
            break;
        if (m_nWriteFlag == 0)
            SendKeepAlive();

    endOfPass:
        if (m_bTerminateThread) {
            LogPlain("Read Thread : last flag.");
            break;
        }
        if (WaitForSingleObject(m_TerminateEvent, kPassWaitMs) == WAIT_OBJECT_0)
            break;
    }

    std::memset(buf, 0, sizeof buf);
    LogPlain("***************** Port Read Thread End ***********");
    m_bThreadEnded = TRUE;
}

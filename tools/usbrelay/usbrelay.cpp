// usbrelay: a USB label printer for tests under Wine. It serves the named pipe the usb transport
// opens as the printer's device path and relays every pipe client to the printer simulator's
// TCP endpoint on 127.0.0.1, both ways, byte for byte.
//
//   usbrelay.exe <pipe path> <tcp port> [quit=<event name>] [instances=<n>]
//
// It prints "ready" once the pipe instances exist and ends at the end of stdin, on a "quit"
// line, or when the named event is set. Exit code 0 after a normal end, 2 on a bad command line,
// 3 when the pipe or Winsock cannot be set up.
//
// One TCP connection per pipe client, opened on the client's first byte. The device list opens
// and closes the device every 100 ms to see whether it is there; such a probe never writes. The
// simulator sends to its newest connection and ends the label in progress when a connection
// arrives, so a connection per probe would take the printer's answers away from the port and cut
// its labels. The cost: the simulator can send nothing before the port has written something
// (it refuses injections without a connection anyway).
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const DWORD kBlock = 65536;
const DWORD kSettleWait = 5000;   // a cancelled or orphaned I/O must come back within this
const DWORD kPoll = 1000;         // every wait also looks at the stop event at least this often
const DWORD kShutdownWait = 15000;

HANDLE g_stop = nullptr;  // manual reset: the relay is ending
std::string g_pipeName;
u_short g_port = 0;
int g_instances = 16;

// One overlapped operation with its buffer. When its I/O does not come back after a cancel it is
// left to the system rather than freed under it.
struct Io
{
    OVERLAPPED ov;
    char buf[kBlock];
};

Io* NewIo()
{
    Io* io = new Io;
    std::memset(&io->ov, 0, sizeof io->ov);
    io->ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return io;
}

void FreeIo(Io* io)
{
    CloseHandle(io->ov.hEvent);
    delete io;
}

// Cancels io on h and waits for it to end; false when it did not.
bool Settle(HANDLE h, Io* io)
{
    CancelIoEx(h, &io->ov);
    return WaitForSingleObject(io->ov.hEvent, kSettleWait) == WAIT_OBJECT_0;
}

bool Stopping() { return WaitForSingleObject(g_stop, 0) == WAIT_OBJECT_0; }

HANDLE MakeInstance()
{
    return CreateNamedPipeA(g_pipeName.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES, kBlock, kBlock, 0,
                            nullptr);
}

// --- one pipe client -------------------------------------------------------------------------

struct Session
{
    HANDLE pipe = INVALID_HANDLE_VALUE;
    HANDLE thread = nullptr;
};

class Relay
{
public:
    explicit Relay(HANDLE pipe) : m_pipe(pipe) {}

    void Run()
    {
        m_rd = NewIo();
        m_wr = NewIo();
        m_net = WSACreateEvent();
        bool rdPending = false;
        while (!Stopping()) {
            if (!rdPending) {
                ResetEvent(m_rd->ov.hEvent);
                if (!ReadFile(m_pipe, m_rd->buf, kBlock, nullptr, &m_rd->ov) && GetLastError() != ERROR_IO_PENDING)
                    break;  // the client has gone
                rdPending = true;
            }
            HANDLE waits[3] = {g_stop, m_rd->ov.hEvent, m_net};
            DWORD w = WaitForMultipleObjects(m_sock != INVALID_SOCKET ? 3 : 2, waits, FALSE, kPoll);
            if (w == WAIT_TIMEOUT)
                continue;
            if (w == WAIT_OBJECT_0 + 1) {
                rdPending = false;
                DWORD got = 0;
                if (!GetOverlappedResult(m_pipe, &m_rd->ov, &got, FALSE))
                    break;  // broken pipe: the client closed its handle
                if (got > 0 && !Upstream(m_rd->buf, got))
                    break;
            } else if (w == WAIT_OBJECT_0 + 2) {
                if (!Downstream())
                    break;
            } else {
                break;  // stopping, or the wait failed
            }
        }
        bool rdSettled = !rdPending || Settle(m_pipe, m_rd);
        DropTcp();
        WSACloseEvent(m_net);
        DisconnectNamedPipe(m_pipe);
        CloseHandle(m_pipe);  // also ends an I/O the cancel did not
        if (!rdSettled)
            rdSettled = WaitForSingleObject(m_rd->ov.hEvent, kSettleWait) == WAIT_OBJECT_0;
        if (rdSettled)
            FreeIo(m_rd);
        if (m_wrSettled)
            FreeIo(m_wr);
    }

private:
    // Pipe to TCP. A simulator that is not there, or that dropped the connection, loses these
    // bytes as a printer that resets would; the next bytes open a new connection.
    bool Upstream(const char* bytes, DWORD n)
    {
        if (m_sock == INVALID_SOCKET && !ConnectTcp()) {
            std::fprintf(stderr, "usbrelay: no connection to 127.0.0.1:%u (%d)\n", unsigned(g_port), WSAGetLastError());
            return false;  // ends the client: the port sees the device fail
        }
        DWORD sent = 0;
        while (sent < n) {
            int r = send(m_sock, bytes + sent, int(n - sent), 0);
            if (r > 0) {
                sent += DWORD(r);
                continue;
            }
            if (r == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
                if (Stopping())
                    return false;
                fd_set wr;
                FD_ZERO(&wr);
                FD_SET(m_sock, &wr);
                timeval tv = {0, 200000};
                select(0, nullptr, &wr, nullptr, &tv);
                continue;
            }
            DropTcp();
            return true;
        }
        return true;
    }

    // TCP to pipe: everything the socket holds now. False when the client can no longer take it.
    bool Downstream()
    {
        WSANETWORKEVENTS ne = {};
        WSAEnumNetworkEvents(m_sock, m_net, &ne);
        for (;;) {
            int r = recv(m_sock, m_wr->buf, int(kBlock), 0);
            if (r > 0) {
                if (!ToPipe(DWORD(r)))
                    return false;
                continue;
            }
            if (r == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK)
                return true;
            DropTcp();  // the simulator closed or reset the connection
            return true;
        }
    }

    bool ToPipe(DWORD n)
    {
        ResetEvent(m_wr->ov.hEvent);
        // After an immediate failure the block was never the system's: nothing to wait for.
        if (!WriteFile(m_pipe, m_wr->buf, n, nullptr, &m_wr->ov) && GetLastError() != ERROR_IO_PENDING)
            return false;
        HANDLE waits[2] = {m_wr->ov.hEvent, g_stop};
        for (;;) {
            DWORD w = WaitForMultipleObjects(2, waits, FALSE, kPoll);
            if (w == WAIT_OBJECT_0)
                break;
            if (w != WAIT_TIMEOUT) {
                m_wrSettled = Settle(m_pipe, m_wr);
                return false;
            }
        }
        DWORD done = 0;
        return GetOverlappedResult(m_pipe, &m_wr->ov, &done, FALSE) && done == n;
    }

    bool ConnectTcp()
    {
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (s == INVALID_SOCKET)
            return false;
        sockaddr_in sa = {};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(g_port);
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
            int e = WSAGetLastError();
            closesocket(s);
            WSASetLastError(e);
            return false;
        }
        BOOL on = TRUE;  // a status request is 5 bytes: it goes out at once
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
        WSAResetEvent(m_net);
        WSAEventSelect(s, m_net, FD_READ | FD_CLOSE);  // also makes it non-blocking
        m_sock = s;
        return true;
    }

    void DropTcp()
    {
        if (m_sock == INVALID_SOCKET)
            return;
        WSAEventSelect(m_sock, nullptr, 0);
        closesocket(m_sock);
        m_sock = INVALID_SOCKET;
        WSAResetEvent(m_net);
    }

    HANDLE m_pipe;
    Io* m_rd = nullptr;
    Io* m_wr = nullptr;
    bool m_wrSettled = true;
    WSAEVENT m_net = nullptr;
    SOCKET m_sock = INVALID_SOCKET;
};

DWORD WINAPI ServeProc(LPVOID arg)
{
    Relay relay(static_cast<Session*>(arg)->pipe);
    relay.Run();
    return 0;
}

// --- the listener ----------------------------------------------------------------------------

// Several instances wait at once and each connected one is replaced at once, so a client
// arriving right after another (a probe, then the port's own open) never finds the pipe busy.
class Listener
{
public:
    bool Create()
    {
        for (int i = 0; i < g_instances; ++i) {
            HANDLE h = MakeInstance();
            if (h == INVALID_HANDLE_VALUE) {
                std::fprintf(stderr, "usbrelay: CreateNamedPipe %s failed (%lu)\n", g_pipeName.c_str(),
                             GetLastError());
                for (HANDLE p : m_pipes)
                    CloseHandle(p);
                m_pipes.clear();
                return false;
            }
            m_pipes.push_back(h);
        }
        return true;
    }

    void Run()
    {
        const int n = int(m_pipes.size());
        // On the heap: a connect that outlives its instance may still complete into its block.
        OVERLAPPED* ovs = new OVERLAPPED[n]();
        std::vector<bool> connectedNow(size_t(n), false);
        std::vector<HANDLE> waits(size_t(n) + 1);
        auto arm = [&](int i, HANDLE h) {
            m_pipes[size_t(i)] = h;
            ResetEvent(ovs[i].hEvent);
            connectedNow[size_t(i)] = false;
            if (h == INVALID_HANDLE_VALUE)
                return;
            BOOL ok = ConnectNamedPipe(h, &ovs[i]);
            DWORD e = GetLastError();
            if (!ok && e == ERROR_NO_DATA) {
                // A client came and went before the connect began (a probe): listen again.
                DisconnectNamedPipe(h);
                ok = ConnectNamedPipe(h, &ovs[i]);
                e = GetLastError();
            }
            connectedNow[size_t(i)] = ok || e == ERROR_PIPE_CONNECTED;
            if (connectedNow[size_t(i)] || e != ERROR_IO_PENDING)
                SetEvent(ovs[i].hEvent);
        };
        for (int i = 0; i < n; ++i) {
            ovs[i].hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
            waits[size_t(i)] = ovs[i].hEvent;
            arm(i, m_pipes[size_t(i)]);
        }
        waits[size_t(n)] = g_stop;
        for (;;) {
            Reap(false);
            DWORD w = WaitForMultipleObjects(DWORD(n + 1), waits.data(), FALSE, kPoll);
            if (w == WAIT_TIMEOUT) {
                // A slot whose instance could not be made is tried again.
                for (int i = 0; i < n; ++i)
                    if (m_pipes[size_t(i)] == INVALID_HANDLE_VALUE)
                        arm(i, MakeInstance());
                continue;
            }
            if (w == WAIT_OBJECT_0 + DWORD(n) || w == WAIT_FAILED)
                break;
            int i = int(w - WAIT_OBJECT_0);
            HANDLE h = m_pipes[size_t(i)];
            if (h == INVALID_HANDLE_VALUE) {
                ResetEvent(ovs[i].hEvent);
                continue;
            }
            DWORD ignored = 0;
            if (!connectedNow[size_t(i)] && !GetOverlappedResult(h, &ovs[i], &ignored, FALSE)) {
                if (GetLastError() == ERROR_IO_INCOMPLETE) {
                    ResetEvent(ovs[i].hEvent);
                    continue;
                }
                CloseHandle(h);  // this instance failed: a fresh one listens in its place
                arm(i, MakeInstance());
                continue;
            }
            // A probe that has already left is served too: its first read fails and it ends.
            auto* s = new Session;
            s->pipe = h;
            s->thread = CreateThread(nullptr, 0, ServeProc, s, 0, nullptr);
            if (s->thread) {
                m_sessions.push_back(s);
            } else {
                DisconnectNamedPipe(h);
                CloseHandle(h);
                delete s;
            }
            arm(i, MakeInstance());
        }
        bool leftPending = false;
        for (int i = 0; i < n; ++i) {
            HANDLE h = m_pipes[size_t(i)];
            if (h != INVALID_HANDLE_VALUE) {
                CancelIoEx(h, &ovs[i]);
                CloseHandle(h);  // ends its pending connect
                if (WaitForSingleObject(ovs[i].hEvent, kSettleWait) != WAIT_OBJECT_0) {
                    leftPending = true;
                    continue;
                }
            }
            CloseHandle(ovs[i].hEvent);
        }
        if (!leftPending)
            delete[] ovs;
        Reap(true);
    }

private:
    // Lets ended sessions go; at the end waits for all (bounded: each ends on the stop event).
    void Reap(bool all)
    {
        DWORD start = GetTickCount();
        for (auto it = m_sessions.begin(); it != m_sessions.end();) {
            DWORD wait = all ? kShutdownWait - std::min<DWORD>(kShutdownWait, GetTickCount() - start) : 0;
            if (WaitForSingleObject((*it)->thread, wait) == WAIT_OBJECT_0) {
                CloseHandle((*it)->thread);
                delete *it;
                it = m_sessions.erase(it);
            } else {
                ++it;
            }
        }
    }

    std::vector<HANDLE> m_pipes;
    std::vector<Session*> m_sessions;
};

DWORD WINAPI ListenProc(LPVOID arg)
{
    static_cast<Listener*>(arg)->Run();
    return 0;
}

// End of stdin, or a line "quit", ends the relay.
DWORD WINAPI StdinProc(LPVOID)
{
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    std::string line;
    char buf[256];
    for (;;) {
        DWORD n = 0;
        if (!in || in == INVALID_HANDLE_VALUE || !ReadFile(in, buf, sizeof buf, &n, nullptr) || n == 0)
            break;
        line.append(buf, n);
        size_t nl;
        bool quit = false;
        while ((nl = line.find('\n')) != std::string::npos) {
            std::string l = line.substr(0, nl);
            line.erase(0, nl + 1);
            while (!l.empty() && (l.back() == '\r' || l.back() == ' '))
                l.pop_back();
            quit = quit || l == "quit";
        }
        if (quit)
            break;
    }
    SetEvent(g_stop);
    return 0;
}

int Usage()
{
    std::fprintf(stderr, "usage: usbrelay <\\\\.\\pipe\\name> <tcp port> [quit=<event name>] [instances=<1..63>]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return Usage();
    g_pipeName = argv[1];
    if (g_pipeName.size() <= 9 || _strnicmp(g_pipeName.c_str(), "\\\\.\\pipe\\", 9) != 0)
        return Usage();
    char* end = nullptr;
    long port = std::strtol(argv[2], &end, 10);
    if (!end || *end || port < 1 || port > 65535)
        return Usage();
    g_port = u_short(port);
    std::string quitName;
    for (int i = 3; i < argc; ++i) {
        std::string a = argv[i];
        if (a.compare(0, 5, "quit=") == 0 && a.size() > 5) {
            quitName = a.substr(5);
        } else if (a.compare(0, 10, "instances=") == 0) {
            g_instances = std::atoi(a.c_str() + 10);
            if (g_instances < 1 || g_instances > MAXIMUM_WAIT_OBJECTS - 1)
                return Usage();
        } else {
            return Usage();
        }
    }

    WSADATA wd;
    if (WSAStartup(MAKEWORD(2, 2), &wd) != 0) {
        std::fprintf(stderr, "usbrelay: WSAStartup failed\n");
        return 3;
    }
    g_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE quit = quitName.empty() ? nullptr : CreateEventA(nullptr, TRUE, FALSE, quitName.c_str());
    if (!quitName.empty() && !quit) {
        std::fprintf(stderr, "usbrelay: event %s: error %lu\n", quitName.c_str(), GetLastError());
        return 3;
    }

    auto* listener = new Listener;  // never freed: sessions may outlive a bounded shutdown
    if (!listener->Create())
        return 3;
    HANDLE listenThread = CreateThread(nullptr, 0, ListenProc, listener, 0, nullptr);
    if (!listenThread)
        return 3;
    std::printf("ready\n");
    std::fflush(stdout);

    HANDLE stdinThread = CreateThread(nullptr, 0, StdinProc, nullptr, 0, nullptr);
    HANDLE waits[3] = {g_stop, listenThread, quit};
    WaitForMultipleObjects(quit ? 3 : 2, waits, FALSE, INFINITE);
    SetEvent(g_stop);
    // The listener cancels its connects and waits for the sessions, each within a bound; what is
    // still blocked after that (the stdin read) ends with the process.
    WaitForSingleObject(listenThread, kShutdownWait + 2 * kSettleWait);
    (void)stdinThread;
    std::fflush(stderr);
    ExitProcess(0);
}

// A printer stand-in on 127.0.0.1 for the net port's tests: accepts connections, records what
// each one receives (with arrival ticks), sends to the newest one, and breaks connections on
// request (FIN, reset, accept-and-close).
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CLoopbackPrinter
{
public:
    CLoopbackPrinter();
    ~CLoopbackPrinter();
    CLoopbackPrinter(const CLoopbackPrinter&) = delete;
    CLoopbackPrinter& operator=(const CLoopbackPrinter&) = delete;

    int Port() const { return m_port; }

    void AcceptAndClose(int count);     // the next count connections are closed at once
    bool Send(const std::string& bytes);  // to the newest open connection
    void Fin();                         // close every open connection normally
    void Reset();                       // reset every open connection

    int Connections();                  // accepted so far
    int Closes();                       // connections ended (either side)
    int OpenConnections();
    std::string Received(int connection);  // bytes of connection i (0-based)

private:
    struct Conn
    {
        SOCKET s = INVALID_SOCKET;
        bool open = false;
        std::string bytes;
    };
    void Run();
    void CloseConn(Conn& c, bool reset);

    SOCKET m_listener = INVALID_SOCKET;
    int m_port = 0;
    std::mutex m_lock;
    std::vector<Conn> m_conns;
    int m_closes = 0;
    int m_acceptClose = 0;
    volatile bool m_quit = false;
    std::thread m_thread;
};

// A TCP port on 127.0.0.1 that refuses connections: bound, never listening, held for the
// object's life so no one else gets it.
class CRefusingPort
{
public:
    CRefusingPort();
    ~CRefusingPort();
    int Port() const { return m_port; }

private:
    SOCKET m_s = INVALID_SOCKET;
    int m_port = 0;
};

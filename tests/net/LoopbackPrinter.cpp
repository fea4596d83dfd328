#include "LoopbackPrinter.h"

namespace {

int BoundPort(SOCKET s)
{
    sockaddr_in a = {};
    int len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

SOCKET BindLoopback()
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a);
    return s;
}

} // namespace

CLoopbackPrinter::CLoopbackPrinter()
{
    m_listener = BindLoopback();
    listen(m_listener, 8);
    m_port = BoundPort(m_listener);
    m_thread = std::thread([this] { Run(); });
}

CLoopbackPrinter::~CLoopbackPrinter()
{
    m_quit = true;
    m_thread.join();
    for (Conn& c : m_conns)
        CloseConn(c, false);
    closesocket(m_listener);
}

void CLoopbackPrinter::CloseConn(Conn& c, bool reset)
{
    if (!c.open)
        return;
    if (reset) {
        LINGER l = {1, 0};
        setsockopt(c.s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
    } else {
        shutdown(c.s, SD_SEND);
    }
    closesocket(c.s);
    c.s = INVALID_SOCKET;
    c.open = false;
    ++m_closes;
}

void CLoopbackPrinter::Run()
{
    char buf[65536];
    while (!m_quit) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(m_listener, &readable);
        {
            std::lock_guard<std::mutex> g(m_lock);
            for (Conn& c : m_conns)
                if (c.open)
                    FD_SET(c.s, &readable);
        }
        timeval tv = {0, 20000};
        if (select(0, &readable, nullptr, nullptr, &tv) <= 0)
            continue;
        std::lock_guard<std::mutex> g(m_lock);
        if (FD_ISSET(m_listener, &readable)) {
            SOCKET s = accept(m_listener, nullptr, nullptr);
            if (s != INVALID_SOCKET) {
                Conn c;
                c.s = s;
                c.open = true;
                m_conns.push_back(c);
                if (m_acceptClose > 0) {
                    --m_acceptClose;
                    CloseConn(m_conns.back(), false);
                }
            }
        }
        for (Conn& c : m_conns) {
            if (!c.open || !FD_ISSET(c.s, &readable))
                continue;
            int n = recv(c.s, buf, sizeof buf, 0);
            if (n > 0) {
                c.bytes.append(buf, size_t(n));
            } else {
                CloseConn(c, false);
            }
        }
    }
}

void CLoopbackPrinter::AcceptAndClose(int count)
{
    std::lock_guard<std::mutex> g(m_lock);
    m_acceptClose = count;
}

bool CLoopbackPrinter::Send(const std::string& bytes)
{
    std::lock_guard<std::mutex> g(m_lock);
    for (auto it = m_conns.rbegin(); it != m_conns.rend(); ++it)
        if (it->open)
            return send(it->s, bytes.data(), int(bytes.size()), 0) == int(bytes.size());
    return false;
}

void CLoopbackPrinter::Fin()
{
    std::lock_guard<std::mutex> g(m_lock);
    for (Conn& c : m_conns)
        CloseConn(c, false);
}

void CLoopbackPrinter::Reset()
{
    std::lock_guard<std::mutex> g(m_lock);
    for (Conn& c : m_conns)
        CloseConn(c, true);
}

int CLoopbackPrinter::Connections()
{
    std::lock_guard<std::mutex> g(m_lock);
    return int(m_conns.size());
}

int CLoopbackPrinter::Closes()
{
    std::lock_guard<std::mutex> g(m_lock);
    return m_closes;
}

int CLoopbackPrinter::OpenConnections()
{
    std::lock_guard<std::mutex> g(m_lock);
    int n = 0;
    for (Conn& c : m_conns)
        n += c.open;
    return n;
}

std::string CLoopbackPrinter::Received(int connection)
{
    std::lock_guard<std::mutex> g(m_lock);
    return connection >= 0 && connection < int(m_conns.size()) ? m_conns[size_t(connection)].bytes : std::string();
}

CRefusingPort::CRefusingPort()
{
    m_s = BindLoopback();
    m_port = BoundPort(m_s);
}

CRefusingPort::~CRefusingPort() { closesocket(m_s); }

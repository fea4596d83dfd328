// The net port driven directly, against a printer stand-in on 127.0.0.1 and a scripted ICMP
// echo (nothing is ever sent to any other address).
#include <gtest/gtest.h>

#include "LoopbackPrinter.h"
#include "PortNet.h"
#include "TestEnv.h"

#include <tlhelp32.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace {

const DWORD kLabel = DEVTYPE_LABEL;

// The probe's echo, scripted: each probe takes the next scripted reply, or the default.
class CScriptedEcho : public IIcmpEcho
{
public:
    enum Reply { ANSWER, SILENT, FROM_ELSEWHERE, UNREACHABLE, NO_HANDLE };

    void SetDefault(Reply r)
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_default = r;
    }
    void Script(std::initializer_list<Reply> replies)
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_script.insert(m_script.end(), replies);
    }
    int Probes()
    {
        std::lock_guard<std::mutex> g(m_lock);
        return m_probes;
    }
    bool AllToLoopback()
    {
        std::lock_guard<std::mutex> g(m_lock);
        for (IPAddr a : m_destinations)
            if (a != htonl(INADDR_LOOPBACK))
                return false;
        return true;
    }

    HANDLE Create() override
    {
        std::lock_guard<std::mutex> g(m_lock);
        if (Next(false) == NO_HANDLE) {
            m_script.pop_front();
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        return reinterpret_cast<HANDLE>(0x1234);
    }

    DWORD SendEcho(HANDLE, IPAddr destination, void* reply, DWORD replySize, DWORD) override
    {
        std::lock_guard<std::mutex> g(m_lock);
        ++m_probes;
        m_destinations.push_back(destination);
        Reply r = Next(true);
        if (r == SILENT || replySize < sizeof(ICMP_ECHO_REPLY)) {
            SetLastError(IP_REQ_TIMED_OUT);
            return 0;
        }
        ICMP_ECHO_REPLY* e = static_cast<ICMP_ECHO_REPLY*>(reply);
        e->Address = r == ANSWER ? destination : htonl(0x0A000001);
        e->Status = r == UNREACHABLE ? IP_DEST_HOST_UNREACHABLE : IP_SUCCESS;
        e->RoundTripTime = 1;
        return 1;
    }

    void Close(HANDLE) override {}

private:
    Reply Next(bool take)
    {
        if (m_script.empty())
            return m_default;
        Reply r = m_script.front();
        if (take)
            m_script.pop_front();
        return r;
    }

    std::mutex m_lock;
    std::deque<Reply> m_script;
    Reply m_default = ANSWER;
    int m_probes = 0;
    std::vector<IPAddr> m_destinations;
};

int ThreadCount()
{
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE)
        return -1;
    THREADENTRY32 te = {};
    te.dwSize = sizeof te;
    int n = 0;
    for (BOOL ok = Thread32First(snap, &te); ok; ok = Thread32Next(snap, &te))
        if (te.th32OwnerProcessID == GetCurrentProcessId())
            ++n;
    CloseHandle(snap);
    return n;
}

class NetPort : public ::testing::Test
{
protected:
    void SetUp() override
    {
        WSADATA wsa;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wsa), 0);
        m_port.reset(new CPortNet);
        m_port->SetIcmpEcho(&m_echo);
        m_port->SetLog(0, 3, m_folder.Path().c_str());
    }
    void TearDown() override
    {
        if (m_port) {
            m_port->CloseIfOpen();
            EXPECT_TRUE(m_echo.AllToLoopback());
        }
        m_port.reset();
        WSACleanup();
    }

    // Settings of a printer at 127.0.0.1:tcpPort.
    void Configure(int tcpPort, const char* address = "127.0.0.1", DWORD retry = 3, DWORD tcpTimeout = 500)
    {
        CString name(address);
        DeviceOption dop = {};
        dop.strPortName = const_cast<char*>(name.GetString());
        dop.dwBaudRate = DWORD(tcpPort);
        dop.dwInBufSize = 512;
        dop.dwOutBufSize = 512;
        dop.dwTcpTimeout = tcpTimeout;
        dop.dwConnTimeout = 1000;
        dop.dwConnRetryCount = retry;
        ASSERT_EQ(m_port->SetDeviceOption(dop, kLabel), 1);
    }

    std::string LogText()
    {
        std::string all;
        for (const std::string& f : m_folder.List("Log"))
            all += m_folder.Read("Log\\" + f);
        return all;
    }
    bool Logged(const std::string& text) { return LogText().find(text) != std::string::npos; }
    size_t CountLogged(const std::string& text)
    {
        std::string log = LogText();
        size_t n = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
            ++n;
        return n;
    }

    int Write(const std::string& s)
    {
        return m_port->writePort(reinterpret_cast<const BYTE*>(s.data()), int(s.size()), kLabel);
    }
    std::string Read(int n, DWORD timeout)
    {
        std::string s(size_t(n), '\0');
        int got = m_port->readPort(reinterpret_cast<BYTE*>(&s[0]), n, timeout, kLabel);
        s.resize(size_t(got > 0 ? got : 0));
        return s;
    }

    CTempFolder m_folder;
    CScriptedEcho m_echo;
    std::unique_ptr<CPortNet> m_port;
};

TEST_F(NetPort, SettingsAndCallsBeforeOpen)
{
    DeviceOption empty = {};
    EXPECT_EQ(m_port->SetDeviceOption(empty, kLabel), 0);
    EXPECT_EQ(m_port->IsPowerState(), PS_UNKNOWN);
    BYTE b[4] = {1, 2, 3, 4};
    EXPECT_EQ(m_port->writePort(b, 4, kLabel), 0);
    EXPECT_EQ(m_port->readPort(b, 4, 0, kLabel), 0);
    EXPECT_EQ(m_port->ReadAvailable(), 0);
    int asb = 77;
    EXPECT_EQ(m_port->GetASBState(&asb, kLabel), 0);
    EXPECT_EQ(asb, 77);
    EXPECT_EQ(m_port->SetWrite(1, kLabel), 0);
    EXPECT_TRUE(Logged("<LABEL> !ERROR: -Port Write : fail to invalid parameters"));

    // Host names are not resolved and nothing is sent for them.
    Configure(9100, "printer.example");
    EXPECT_EQ(m_port->OpenPort(kLabel), 0);
    EXPECT_TRUE(Logged("!ERROR: -ConnectSocket(Non-blocking) : SOCKET_ERROR"));
    EXPECT_TRUE(Logged("<LABEL> !ERROR: -OpenPort : fail to connected."));
    EXPECT_EQ(m_echo.Probes(), 0);
}

TEST_F(NetPort, OpenWriteReadAndStatusFramesAcrossSegments)
{
    CLoopbackPrinter printer;
    Configure(printer.Port());
    EXPECT_EQ(m_port->IsPowerState(), PS_UNKNOWN);
    ASSERT_EQ(m_port->OpenPort(kLabel), 1);
    EXPECT_EQ(m_port->IsPowerState(), PS_ONLINE);
    EXPECT_TRUE(Logged("<LABEL> -OpenPort(345) : PowerState : 2001"));

    // Opening an open port changes nothing.
    EXPECT_EQ(m_port->OpenPort(kLabel), 1);
    ASSERT_EQ(m_port->SetWrite(1, kLabel), 1);
    EXPECT_EQ(Write("^cu\r\n"), 5);
    ASSERT_TRUE(WaitFor([&] { return printer.Received(0) == "^cu\r\n"; }));
    EXPECT_EQ(printer.Connections(), 1);

    ASSERT_TRUE(printer.Send("ABC"));
    EXPECT_EQ(Read(3, 5000), "ABC");

    // A frame split over two segments is still one frame; data around it stays data.
    ASSERT_TRUE(printer.Send(std::string("x\x10\x00", 3)));
    Sleep(150);
    ASSERT_TRUE(printer.Send(std::string("\x00\x00y", 3)));
    int asb = 0;
    ASSERT_TRUE(WaitFor([&] { return m_port->GetASBState(&asb, kLabel) == 1; }));
    EXPECT_EQ(asb, 0x10);
    EXPECT_EQ(Read(2, 5000), "xy");

    ASSERT_TRUE(printer.Send(std::string("\x35\x40", 2)));
    Sleep(150);
    ASSERT_TRUE(printer.Send(std::string("\x40\x00", 2)));
    ASSERT_TRUE(WaitFor([&] { return m_port->GetASBState(&asb, kLabel) == 1; }));
    EXPECT_EQ(asb, 0x00404035);

    // A lone byte that could open a frame is an answer once nothing follows.
    ASSERT_TRUE(printer.Send("\x10"));
    EXPECT_EQ(Read(1, 5000), "\x10");
    EXPECT_EQ(m_port->GetASBState(&asb, kLabel), 0);

    m_port->ClosePort(kLabel);
    EXPECT_EQ(Write("z"), 0);
    EXPECT_TRUE(WaitFor([&] { return printer.Closes() == 1; }));
    EXPECT_TRUE(Logged("<LABEL> -ClosePort : Success"));
}

// The caller's status thread waits for these signals instead of polling: every status frame
// and every change of the power state must give one, and a cleared event none.
TEST_F(NetPort, StatusFramesAndPowerChangesSignalTheCallersEvent)
{
    CLoopbackPrinter printer;
    Configure(printer.Port());
    ASSERT_EQ(m_port->OpenPort(kLabel), 1);
    m_port->SetWrite(1, kLabel);  // no keep-alive bytes
    HANDLE news = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_EQ(m_port->SetStatusEvent(news, kLabel), 1);
    int asb = 0;
    struct Step
    {
        const char* what;
        std::function<void()> act;
        std::function<bool()> seen;
    } steps[] = {
        {"frame", [&] { printer.Send(std::string("\x14\x00\x00\x0F", 4)); },
         [&] { return m_port->GetASBState(&asb, kLabel) == 1 && asb == 0x0F000014; }},
        {"peer close", [&] { printer.Fin(); }, [&] { return m_port->IsPowerState() == PS_OFFLINE; }},
        {"reconnected", [] {}, [&] { return m_port->IsPowerState() == PS_ONLINE; }},
    };
    for (const Step& step : steps) {
        step.act();
        EXPECT_EQ(WaitForSingleObject(news, 20000), WAIT_OBJECT_0) << step.what;
        EXPECT_TRUE(WaitFor([&] { return step.seen(); }, 20000)) << step.what;
    }

    ASSERT_EQ(m_port->SetStatusEvent(nullptr, kLabel), 1);
    ResetEvent(news);
    ASSERT_TRUE(printer.Send(std::string("\x14\x00\x00\x0F", 4)));
    ASSERT_TRUE(WaitFor([&] { return m_port->GetASBState(&asb, kLabel) == 1; }));
    EXPECT_EQ(WaitForSingleObject(news, 0), DWORD(WAIT_TIMEOUT)) << "a cleared event is not touched";
    m_port->ClosePort(kLabel);
    CloseHandle(news);
}

// The read thread waits for data the whole receive time-out; the close wakes it, so even a
// time-out longer than the close waits for the thread ends it without force.
TEST_F(NetPort, CloseEndsAReadThreadWaitingALongReceiveTimeOut)
{
    CLoopbackPrinter printer;
    Configure(printer.Port(), "127.0.0.1", 3, 8000);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(m_port->OpenPort(kLabel), 1);
        ASSERT_TRUE(printer.Send("A"));
        EXPECT_EQ(Read(1, 5000), "A") << "data still ends the wait";
        m_port->ClosePort(kLabel);
    }
    EXPECT_EQ(CountLogged("-ClosePort : Success"), 3u);
    EXPECT_FALSE(Logged("ClosePort : TerminateThread Port ReadThread."));
}

TEST_F(NetPort, RefusedConnectFailsAndAcceptThenCloseConnectsAgain)
{
    {
        CRefusingPort refusing;
        Configure(refusing.Port());
        EXPECT_EQ(m_port->OpenPort(kLabel), 0);
        EXPECT_TRUE(Logged("<LABEL> !ERROR: -OpenPort : fail to connected."));
        EXPECT_EQ(m_port->IsPowerState(), PS_UNKNOWN);
    }

    CLoopbackPrinter printer;
    printer.AcceptAndClose(1);
    Configure(printer.Port());
    ASSERT_EQ(m_port->OpenPort(kLabel), 1);
    EXPECT_TRUE(Logged("<LABEL> second ConnectSocket in OpenPort"));
    EXPECT_EQ(printer.Connections(), 2);
    EXPECT_EQ(Write("hello"), 5);
    ASSERT_TRUE(WaitFor([&] { return printer.Received(1) == "hello"; }));
    EXPECT_EQ(printer.Received(0), "");
}

class NetPortDrop : public NetPort, public ::testing::WithParamInterface<bool>
{
};

TEST_P(NetPortDrop, PeerDropMidSessionReconnectsAndLaterWritesReachTheNewConnection)
{
    const bool reset = GetParam();
    CLoopbackPrinter printer;
    Configure(printer.Port());
    ASSERT_EQ(m_port->OpenPort(kLabel), 1);
    m_port->SetWrite(1, kLabel);  // no keep-alive bytes in the transcripts
    EXPECT_EQ(Write("first"), 5);
    ASSERT_TRUE(WaitFor([&] { return printer.Received(0) == "first"; }));

    if (reset)
        printer.Reset();
    else
        printer.Fin();
    ASSERT_TRUE(WaitFor([&] { return m_port->IsPowerState() == PS_OFFLINE; }));
    // Written while the connection is down: refused, not dropped in silence.
    EXPECT_EQ(Write("lost?"), 0);

    ASSERT_TRUE(WaitFor([&] { return m_port->IsPowerState() == PS_ONLINE; }, 20000));
    EXPECT_TRUE(Logged("Socket reopen success, PowerState : 2001"));
    EXPECT_EQ(printer.Connections(), 2);
    EXPECT_EQ(Write("second"), 6);
    ASSERT_TRUE(WaitFor([&] { return printer.Received(1) == "second"; }));
    EXPECT_EQ(printer.Received(0), "first");
}

INSTANTIATE_TEST_SUITE_P(FinOrReset, NetPortDrop, ::testing::Values(false, true));

// A caller that retries while the port looks on-line must not spin: the Write refused for the
// printer's recorded close already finds the port off-line.
TEST_F(NetPort, AWriteRefusedForThePrintersCloseReportsOffLineAtOnce)
{
    CLoopbackPrinter printer;
    Configure(printer.Port());
    ASSERT_EQ(m_port->OpenPort(kLabel), 1);
    m_port->SetWrite(1, kLabel);
    ASSERT_EQ(Write("job"), 3);
    printer.Fin();
    int refusedState = 0;
    ASSERT_TRUE(WaitFor([&] {
        if (Write("x") != 0)
            return false;
        refusedState = m_port->IsPowerState();
        return true;
    }));
    EXPECT_EQ(refusedState, PS_OFFLINE);
}

TEST_F(NetPort, ProbesTakeThePortOfflineOnlyAfterTheRetryCount)
{
    CLoopbackPrinter printer;
    Configure(printer.Port());
    ASSERT_EQ(m_port->OpenPort(kLabel), 1);
    m_port->SetWrite(1, kLabel);

    // One, then two lost echoes in a row: still on-line, still the first connection.
    m_echo.Script({CScriptedEcho::SILENT});
    int probes = m_echo.Probes();
    ASSERT_TRUE(WaitFor([&] { return m_echo.Probes() >= probes + 4; }));
    m_echo.Script({CScriptedEcho::SILENT, CScriptedEcho::SILENT});
    probes = m_echo.Probes();
    ASSERT_TRUE(WaitFor([&] { return m_echo.Probes() >= probes + 4; }));
    EXPECT_EQ(m_port->IsPowerState(), PS_ONLINE);
    EXPECT_EQ(printer.Connections(), 1);
    EXPECT_EQ(printer.Closes(), 0);
    EXPECT_FALSE(Logged("ReadThread(472)"));

    // Three in a row: off-line and the connection is closed; no reconnect while it is silent.
    m_echo.SetDefault(CScriptedEcho::SILENT);
    ASSERT_TRUE(WaitFor([&] { return m_port->IsPowerState() == PS_OFFLINE; }));
    EXPECT_TRUE(Logged("!ERROR: ReadThread(472) : PowerState : 2003"));
    probes = m_echo.Probes();
    ASSERT_TRUE(WaitFor([&] { return m_echo.Probes() >= probes + 8; }, 20000));
    EXPECT_EQ(printer.Connections(), 1);
    EXPECT_EQ(Write("x"), 0);

    // It answers again: the old connection is closed and a new one made.
    m_echo.SetDefault(CScriptedEcho::ANSWER);
    ASSERT_TRUE(WaitFor([&] { return m_port->IsPowerState() == PS_ONLINE; }, 20000));
    EXPECT_EQ(printer.Connections(), 2);
    EXPECT_TRUE(WaitFor([&] { return printer.Closes() == 1; }));
    EXPECT_EQ(Write("back"), 4);
    ASSERT_TRUE(WaitFor([&] { return printer.Received(1) == "back"; }));
}

TEST_F(NetPort, EchoCountsOnlyAsuccessfulReplyFromThePrinter)
{
    Configure(9100);  // nothing is connected: the probe alone
    EXPECT_TRUE(m_port->GetIcmpResponses("127.0.0.1"));
    m_echo.Script({CScriptedEcho::FROM_ELSEWHERE, CScriptedEcho::UNREACHABLE, CScriptedEcho::SILENT,
                   CScriptedEcho::NO_HANDLE});
    EXPECT_FALSE(m_port->GetIcmpResponses("127.0.0.1"));
    EXPECT_FALSE(m_port->GetIcmpResponses("127.0.0.1"));
    EXPECT_FALSE(m_port->GetIcmpResponses("127.0.0.1"));
    EXPECT_TRUE(Logged("!ERROR: CPortNet:GetIcmpResponses : IcmpSendEcho failed with error (11010)"));
    EXPECT_FALSE(m_port->GetIcmpResponses("127.0.0.1"));
    EXPECT_TRUE(Logged("!ERROR: CPortNet:GetIcmpResponses : IcmpCreateFile failed with error (5)"));
    EXPECT_FALSE(m_port->GetIcmpResponses("localhost"));
    EXPECT_EQ(m_echo.Probes(), 4);
}

TEST_F(NetPort, OpenCloseCyclesLeakNothingAndCloseIsPrompt)
{
    {
        CRefusingPort refusing;
        Configure(refusing.Port());
        EXPECT_EQ(m_port->OpenPort(kLabel), 0);

        CLoopbackPrinter printer;
        Configure(printer.Port());
        int threads = ThreadCount();
        ASSERT_GT(threads, 0) << "the thread snapshot failed";
        for (int i = 0; i < 20; ++i) {
            ASSERT_EQ(m_port->OpenPort(kLabel), 1) << "cycle " << i;
            EXPECT_EQ(Write("c"), 1);
            m_port->ClosePort(kLabel);
        }
        EXPECT_TRUE(WaitFor([&] { return printer.Closes() == 20; }));
        EXPECT_EQ(printer.Connections(), 20);
        EXPECT_EQ(printer.OpenConnections(), 0);
        EXPECT_TRUE(WaitFor([&] { return ThreadCount() <= threads; })) << ThreadCount() << " threads, " << threads << " before";

        // Closed in the middle of a reconnect (the pause after the drop): still no forced end.
        ASSERT_EQ(m_port->OpenPort(kLabel), 1);
        printer.Fin();
        ASSERT_TRUE(WaitFor([&] { return Logged("Socket is close and sleep"); }));
        m_port->ClosePort(kLabel);
        EXPECT_EQ(CountLogged("-ClosePort : Success"), 21u);
        EXPECT_FALSE(Logged("ClosePort : TerminateThread Port ReadThread."));
    }

    // Every WSAStartup of the port had its WSACleanup: after the test's own cleanup Winsock
    // is down.
    WSACleanup();
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    EXPECT_EQ(s, INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    if (s != INVALID_SOCKET)
        closesocket(s);
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
}

} // namespace

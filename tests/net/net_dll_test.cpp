// net.dll loaded and bound by name as the port manager does, against the printer simulator's
// TCP endpoint on 127.0.0.1. The liveness probe is the platform's ICMP echo to 127.0.0.1.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>

#include "DeviceOption.h"
#include "TestEnv.h"
#include "simclient.h"

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

using qlks::Bytes;
using vesksim::SimClient;

namespace {

const DWORD kLabelDev = DEVTYPE_LABEL;

const char kLabelText[] = "SW832\r\nST1\r\nSM0,0\r\nSS4\r\nSD10\r\nSO0\r\nSA0\r\nTA0\r\nCS0,0\r\nCUTn\r\n"
                          "T10,10,0,3,1,1,0,N,N,'HELLO'\r\nP1\r\n";
const std::string kLabel(kLabelText, sizeof kLabelText - 1);

struct NetDll
{
    HMODULE dll = nullptr;
    int(WINAPI* CreatePort)();
    int(WINAPI* CreatePort4Log)(DWORD, DWORD, char*);
    int(WINAPI* SetDeviceOption)(int, DeviceOption, DWORD);
    int(WINAPI* OpenPort)(int, DWORD);
    void(WINAPI* ClosePort)(int, DWORD);
    int(WINAPI* DeletePort)(int);
    int(WINAPI* Write)(const BYTE*, int, int, DWORD);
    int(WINAPI* Read)(BYTE*, int, DWORD, int, DWORD);
    int(WINAPI* ReadAvailable)(int, DWORD);
    void(WINAPI* Clear)(int, DWORD);
    int(WINAPI* IsPowerState)(int, DWORD);
    int(WINAPI* GetASBState)(int*, int, DWORD);
    int(WINAPI* SetWrite)(int, int, DWORD);
    void*(WINAPI* SetObject)(int);
    int firstId = 0;

    template <class F>
    bool Bind(F& f, const char* name)
    {
        f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
        return f != nullptr;
    }
    bool Load()
    {
        dll = LoadLibraryA((TestBinDir() + "\\net.dll").c_str());
        return dll && Bind(CreatePort, "CreatePort") && Bind(CreatePort4Log, "CreatePort4Log") &&
               Bind(SetDeviceOption, "SetDeviceOption") && Bind(OpenPort, "OpenPort") &&
               Bind(ClosePort, "ClosePort") && Bind(DeletePort, "DeletePort") && Bind(Write, "Write") &&
               Bind(Read, "Read") && Bind(ReadAvailable, "ReadAvailable") && Bind(Clear, "Clear") &&
               Bind(IsPowerState, "IsPowerState") && Bind(GetASBState, "GetASBState") &&
               Bind(SetWrite, "SetWrite") && Bind(SetObject, "SetObject") && TakeFirstId();
    }
    bool TakeFirstId()
    {
        firstId = CreatePort();
        return DeletePort(firstId) == 1;
    }
};

NetDll& Dll()
{
    static NetDll d;
    static bool loaded = d.Load();
    (void)loaded;
    return d;
}

// The port's liveness probe needs ICMP echo, as every TCP suite does: the tests run as root.
const char kNoEcho[] = "this account cannot send ICMP echo: run the tests as root";

// Whether this account may send ICMP echo at all (to 127.0.0.1 only).
bool EchoWorks()
{
    HANDLE h = IcmpCreateFile();
    if (h == INVALID_HANDLE_VALUE)
        return false;
    char reply[sizeof(ICMP_ECHO_REPLY) + 64];
    char none[1];
    DWORD n = IcmpSendEcho(h, htonl(INADDR_LOOPBACK), none, 0, nullptr, reply, sizeof reply, 1000);
    IcmpCloseHandle(h);
    return n > 0 && reinterpret_cast<ICMP_ECHO_REPLY*>(reply)->Status == IP_SUCCESS;
}

class NetDllSim : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Dll().dll) << "net.dll not loaded";
        ASSERT_TRUE(sim.connected()) << sim.error();
        ep = sim.tcp(&tcpPort);
        ASSERT_GE(ep, 0) << sim.error();
        CString folder(m_folder.Path().c_str());
        id = Dll().CreatePort4Log(0, 1, folder.AddRefHandle());
        ASSERT_GE(id, 40000);
    }
    void TearDown() override
    {
        Dll().ClosePort(id, kLabelDev);
        EXPECT_EQ(Dll().DeletePort(id), 1);
    }

    void Configure(int port) { Configure(port, id); }
    void Configure(int port, int portId)
    {
        CString name("127.0.0.1");
        DeviceOption dop = {};
        dop.strPortName = name.AddRefHandle();  // the export releases its copy
        dop.dwBaudRate = DWORD(port);
        dop.dwInBufSize = 1024;
        dop.dwOutBufSize = 1024;
        dop.dwTcpTimeout = 500;
        dop.dwConnTimeout = 1000;
        dop.dwConnRetryCount = 3;
        ASSERT_EQ(Dll().SetDeviceOption(portId, dop, kLabelDev), 1);
    }
    int Write(const std::string& s)
    {
        return Dll().Write(reinterpret_cast<const BYTE*>(s.data()), int(s.size()), id, kLabelDev);
    }
    // Writes like the service object: in chunks, the write flag on around them.
    int WriteJob(const std::string& s, size_t chunk)
    {
        Dll().SetWrite(1, id, kLabelDev);
        int total = 0;
        for (size_t at = 0; at < s.size(); at += chunk)
            total += Write(s.substr(at, chunk));
        Dll().SetWrite(0, id, kLabelDev);
        return total;
    }
    std::string LogText()
    {
        std::string all;
        for (const std::string& f : m_folder.List("Log"))
            all += m_folder.Read("Log\\" + f);
        return all;
    }
    vesksim::Counts Counts()
    {
        vesksim::Counts c;
        EXPECT_TRUE(sim.counts(ep, c)) << sim.error();
        return c;
    }

    CTempFolder m_folder;
    SimClient sim;
    int ep = -1;
    int tcpPort = 0;
    int id = 0;
};

TEST_F(NetDllSim, LabelsAnswersAndStatusFramesThroughTheExports)
{
    ASSERT_TRUE(EchoWorks()) << kNoEcho;
    EXPECT_EQ(Dll().firstId, 40000);
    int other = Dll().CreatePort();
    EXPECT_EQ(other, id + 1);
    EXPECT_EQ(Dll().DeletePort(other), 1);
    EXPECT_EQ(Dll().DeletePort(other), 0);
    EXPECT_EQ(Dll().IsPowerState(id, kLabelDev), PS_UNKNOWN);
    DeviceOption empty = {};
    EXPECT_EQ(Dll().SetDeviceOption(id, empty, kLabelDev), 0);
    Configure(tcpPort);
    ASSERT_EQ(Dll().OpenPort(id, kLabelDev), 1);
    EXPECT_EQ(Dll().IsPowerState(id, kLabelDev), PS_ONLINE);
    EXPECT_EQ(Dll().IsPowerState(id + 7, kLabelDev), 0) << "an unknown id reaches no port";

    ASSERT_EQ(WriteJob(kLabel, 16), int(kLabel.size()));
    ASSERT_TRUE(sim.waitLabels(ep, 1, 10000)) << sim.error();
    std::vector<qlks::Label> labels = sim.labels(ep);
    ASSERT_EQ(labels.size(), 1u);
    EXPECT_TRUE(labels[0].complete);
    EXPECT_EQ(std::string(labels[0].raw.begin(), labels[0].raw.end()), kLabel);

    // The status answer and a frame split over segments.
    ASSERT_TRUE(sim.setStatus(ep, 0x10));
    ASSERT_EQ(Write("^cu\r\n"), 5);
    BYTE answer = 0;
    EXPECT_EQ(Dll().Read(&answer, 1, 5000, id, kLabelDev), 1);
    EXPECT_EQ(answer, 0x10);
    vesksim::SendOptions split;
    split.chunk = 2;
    split.gapMs = 150;
    ASSERT_TRUE(sim.frame(ep, "asb", {0x14, 0x20, 0x80, 0x0F}, split)) << sim.error();
    int asb = 0;
    ASSERT_TRUE(WaitFor([&] { return Dll().GetASBState(&asb, id, kLabelDev) == 1; }));
    EXPECT_EQ(asb, 0x0F802014);
    EXPECT_EQ(Dll().ReadAvailable(id, kLabelDev), 0);
    EXPECT_NE(LogText().find("<LABEL> -OpenPort(345) : PowerState : 2001"), std::string::npos);
}

class NetDllSimDrop : public NetDllSim, public ::testing::WithParamInterface<const char*>
{
};

TEST_P(NetDllSimDrop, DropInsideALabelReconnectsAndTheRepeatedLabelArrivesWhole)
{
    ASSERT_TRUE(EchoWorks()) << kNoEcho;
    Configure(tcpPort);
    ASSERT_EQ(Dll().OpenPort(id, kLabelDev), 1);
    ASSERT_TRUE(sim.fault(ep, GetParam(), 40)) << sim.error();

    // The job meets the drop: it reports that not all of it went out.
    Dll().SetWrite(1, id, kLabelDev);
    int total = 0;
    for (size_t at = 0; at < kLabel.size(); at += 16) {
        total += Write(kLabel.substr(at, 16));
        Sleep(100);
    }
    Dll().SetWrite(0, id, kLabelDev);
    EXPECT_LT(total, int(kLabel.size()));

    ASSERT_TRUE(WaitFor([&] { return Dll().IsPowerState(id, kLabelDev) == PS_ONLINE; }, 20000));
    ASSERT_TRUE(sim.waitFor(ep, "connections", 2, 10000)) << sim.error();
    ASSERT_EQ(WriteJob(kLabel, 16), int(kLabel.size()));
    ASSERT_TRUE(sim.waitLabels(ep, 1, 10000)) << sim.error();
    vesksim::Counts c = Counts();
    EXPECT_EQ(c.labels, 1);
    EXPECT_EQ(c.partial, 1);
    EXPECT_NE(LogText().find("Socket reopen success, PowerState : 2001"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(FinOrReset, NetDllSimDrop, ::testing::Values("fin-in-label", "rst-in-label"));

TEST_F(NetDllSim, KeepAliveWhileIdleNeverInsideALabel)
{
    ASSERT_TRUE(EchoWorks()) << kNoEcho;
    Configure(tcpPort);
    ASSERT_EQ(Dll().OpenPort(id, kLabelDev), 1);
    ASSERT_TRUE(sim.waitFor(ep, "keepalive", 3, 20000)) << sim.error();
    for (long long gap : sim.keepAliveGapsUs(ep)) {
        EXPECT_GE(gap, 2500000);
        EXPECT_LE(gap, 10000000);
    }

    // A label in pieces with pauses, write flag 0 throughout: no 0x00 inside it.
    for (size_t at = 0; at < kLabel.size(); at += 20) {
        ASSERT_GT(Write(kLabel.substr(at, 20)), 0);
        Sleep(1000);
    }
    ASSERT_TRUE(sim.waitLabels(ep, 1, 10000)) << sim.error();
    std::vector<qlks::Label> labels = sim.labels(ep);
    ASSERT_EQ(labels.size(), 1u);
    EXPECT_EQ(std::string(labels[0].raw.begin(), labels[0].raw.end()), kLabel) << qlks::describe(labels[0]);

    // Write flag 1: none at all, however long it stays idle; back to 0: they resume. A second
    // port with flag 0 on an endpoint of its own keeps the time: after its second keep-alive
    // this one would have sent one.
    int clockTcp = 0;
    int clockEp = sim.tcp(&clockTcp);
    ASSERT_GE(clockEp, 0) << sim.error();
    CTempFolder clockFolder;
    CString clockPath(clockFolder.Path().c_str());
    int clock = Dll().CreatePort4Log(0, 1, clockPath.AddRefHandle());
    Configure(clockTcp, clock);
    ASSERT_EQ(Dll().OpenPort(clock, kLabelDev), 1);
    ASSERT_EQ(Dll().SetWrite(1, id, kLabelDev), 1);
    long before = Counts().keepalive;
    EXPECT_TRUE(sim.waitFor(clockEp, "keepalive", 2, 30000)) << sim.error();
    EXPECT_EQ(Counts().keepalive, before);
    Dll().ClosePort(clock, kLabelDev);
    EXPECT_EQ(Dll().DeletePort(clock), 1);
    ASSERT_EQ(Dll().SetWrite(0, id, kLabelDev), 1);
    EXPECT_TRUE(sim.waitFor(ep, "keepalive", before + 1, 15000)) << sim.error();
    EXPECT_NE(LogText().find("write NULL Packet"), std::string::npos);
}

TEST_F(NetDllSim, PrinterThatStopsReadingGetsTheCountActuallySent)
{
    ASSERT_TRUE(EchoWorks()) << kNoEcho;
    Configure(tcpPort);
    ASSERT_EQ(Dll().OpenPort(id, kLabelDev), 1);
    Dll().SetWrite(1, id, kLabelDev);
    ASSERT_TRUE(sim.fault(ep, "stopread")) << sim.error();
    const int len = 32 * 1024 * 1024;
    std::string job(size_t(len), '\0');
    for (int i = 0; i < len; ++i)
        job[size_t(i)] = char('a' + i % 26);
    int sent = Write(job);
    EXPECT_GT(sent, 0);
    EXPECT_LT(sent, len);
    std::string log = LogText();
    EXPECT_NE(log.find("!ERROR: Wait for timeout"), std::string::npos);
    EXPECT_NE(log.find("<LABEL> !ERROR: -Ethernet Write (" + std::to_string(sent) + "/" + std::to_string(len) + ")"),
              std::string::npos);

    // What was reported sent is exactly what arrives, in order.
    ASSERT_TRUE(sim.fault(ep, "read")) << sim.error();
    // Nothing of the job follows what was reported: a marker written now comes next.
    ASSERT_TRUE(sim.waitFor(ep, "bytes", sent, 30000)) << sim.error();
    ASSERT_EQ(Write("Z"), 1);
    ASSERT_TRUE(sim.waitFor(ep, "bytes", sent + 1, 30000)) << sim.error();
    EXPECT_EQ(Counts().bytes, sent + 1);
    EXPECT_EQ(sim.transcript(ep, sent, 1), Bytes({'Z'}));
    Bytes head = sim.transcript(ep, 0, 4096);
    EXPECT_TRUE(std::equal(head.begin(), head.end(), job.begin()));
    Bytes tail = sim.transcript(ep, sent - 4096, 4096);
    ASSERT_EQ(tail.size(), 4096u);
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), job.begin() + (sent - 4096)));
    EXPECT_EQ(Dll().IsPowerState(id, kLabelDev), PS_ONLINE);
}

TEST_F(NetDllSim, TwentyOpenCloseCyclesLeaveNoConnection)
{
    Configure(tcpPort);
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(Dll().OpenPort(id, kLabelDev), 1) << "cycle " << i;
        EXPECT_EQ(Dll().OpenPort(id, kLabelDev), 1);
        Dll().ClosePort(id, kLabelDev);
    }
    ASSERT_TRUE(sim.waitFor(ep, "closes", 20, 10000)) << sim.error();
    vesksim::Counts c = Counts();
    EXPECT_EQ(c.connections, 20);
    EXPECT_EQ(c.open, 0);
    EXPECT_EQ(LogText().find("ClosePort : TerminateThread Port ReadThread."), std::string::npos);
}

TEST_F(NetDllSim, RefusedAndAcceptThenClose)
{
    Configure(tcpPort);
    ASSERT_TRUE(sim.fault(ep, "refuse")) << sim.error();
    EXPECT_EQ(Dll().OpenPort(id, kLabelDev), 0);
    EXPECT_NE(LogText().find("<LABEL> !ERROR: -OpenPort : fail to connected."), std::string::npos);

    // The first connection is taken and dropped at once; the second holds.
    ASSERT_TRUE(sim.fault(ep, "accept")) << sim.error();
    ASSERT_TRUE(sim.fault(ep, "acceptclose")) << sim.error();
    int opened = -1;
    std::thread open([&] { opened = Dll().OpenPort(id, kLabelDev); });
    EXPECT_TRUE(sim.waitFor(ep, "connections", 1, 10000)) << sim.error();
    EXPECT_TRUE(sim.fault(ep, "accept")) << sim.error();
    open.join();
    EXPECT_EQ(opened, 1);
    EXPECT_NE(LogText().find("<LABEL> second ConnectSocket in OpenPort"), std::string::npos);
    EXPECT_EQ(Counts().connections, 2);
    EXPECT_EQ(Write("hi"), 2);
    EXPECT_TRUE(sim.waitFor(ep, "bytes", 2, 10000)) << sim.error();
}

// A ReleaseDevice right after a job to a printer that paused reading: what Write reported sent
// reaches the printer when it reads on, during the close or only after it returned; the close
// waits for neither and writes no line about dropped bytes.
TEST_F(NetDllSim, CloseRightAfterAJobLetsASlowPrinterTakeEverything)
{
    ASSERT_TRUE(EchoWorks()) << kNoEcho;
    const struct
    {
        const char* what;
        bool readsOn;
    } cases[] = {{"reads on right after the close", true}, {"reads on only after the close returned", false}};
    for (const auto& c : cases) {
        ep = sim.tcp(&tcpPort);
        ASSERT_GE(ep, 0) << sim.error();
        Configure(tcpPort);
        ASSERT_EQ(Dll().OpenPort(id, kLabelDev), 1) << c.what;
        ASSERT_TRUE(sim.fault(ep, "stopread")) << sim.error();
        Dll().SetWrite(1, id, kLabelDev);
        std::string job;
        for (int i = 0; i < 32; ++i) {
            std::string label = "SL406,24,G,0\r\nCUTn\r\nT26,20,3,1,1,0,0,N,N,F,'" + std::to_string(i) + "'\r\n";
            label += "GW0,0,100,80," + std::string(64000, char('a' + i % 26)) + "\r\nP1\r\n";
            int n = Write(label);
            job += label.substr(0, size_t(n > 0 ? n : 0));
            if (n != int(label.size()))
                break;  // the socket is full: the rest is the printer's to take
        }
        Dll().SetWrite(0, id, kLabelDev);
        ASSERT_GT(job.size(), 0u) << c.what;

        std::atomic<bool> closed{false};
        std::thread closer([&] {
            Dll().ClosePort(id, kLabelDev);
            closed = true;
        });
        if (c.readsOn) {
            // The printer's pause ends once the close is at the socket.
            EXPECT_TRUE(WaitFor([&] { return LogText().find("ClosePort : call closesocket.") != std::string::npos; }, 20000))
                << c.what;
            EXPECT_TRUE(sim.fault(ep, "read")) << sim.error();
        }
        bool returned = WaitFor([&] { return closed.load(); }, 10000);
        closer.join();
        EXPECT_TRUE(returned) << c.what;
        if (!c.readsOn) {
            EXPECT_TRUE(sim.fault(ep, "read")) << sim.error();
        }
        ASSERT_TRUE(sim.waitFor(ep, "bytes", long(job.size()), 20000)) << sim.error() << " " << c.what;
        Bytes got = sim.transcript(ep);
        EXPECT_TRUE(got.size() == job.size() && std::equal(got.begin(), got.end(), job.begin())) << c.what;
        EXPECT_EQ(LogText().find("may drop bytes"), std::string::npos) << c.what;
        EXPECT_TRUE(sim.closeEndpoint(ep)) << sim.error();
    }
}

} // namespace

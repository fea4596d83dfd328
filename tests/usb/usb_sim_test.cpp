// The usb transport against the printer simulator: usbrelay.exe serves the device path as a named
// pipe and relays it to a simulator TCP endpoint; the device list is scripted (Wine has no USB
// device interfaces), everything else is the real port.
#include "PipeDevice.h"
#include "PortLog.h"
#include "PortUsb.h"
#include "RelayProcess.h"
#include "TestEnv.h"
#include "simclient.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using qlks::Bytes;
using vesksim::SimClient;

namespace {

const char kLabelA[] = "SL406,24,G,0\r\nSW812\r\nSTd\r\nSM10,0\r\nSS4\r\nSD8\r\nSOT\r\nSA0\r\nTA0\r\nCS0,0\r\nCUTn\r\n"
                       "T26,20,3,1,1,0,0,N,N,F,'over usb'\r\nB126,110,1,2,5,80,0,0,'VESK-0001'\r\nP1\r\n";
const char kLabelB[] = "SL406,24,G,0\r\nSW812\r\nSTd\r\nSM10,0\r\nSS4\r\nSD8\r\nSOT\r\nSA0\r\nTA0\r\nCS0,0\r\nCUTn\r\n"
                       "T26,20,3,1,1,0,0,N,N,F,'after the replug'\r\nP1\r\n";

Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

}  // namespace

std::string UsbRelayPath() { return WinPath(USBRELAY_PATH); }

namespace {

// A plain client of the relay's pipe, with bounded overlapped I/O.
class PipeClient
{
public:
    ~PipeClient() { Close(); }
    DWORD Open(const std::string& name)
    {
        m_h = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                          nullptr);
        return m_h == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    }
    void Close()
    {
        if (m_h != INVALID_HANDLE_VALUE)
            CloseHandle(m_h);
        m_h = INVALID_HANDLE_VALUE;
    }
    bool Write(const std::string& bytes)
    {
        DWORD n = 0;
        return Io(false, const_cast<char*>(bytes.data()), DWORD(bytes.size()), &n) && n == bytes.size();
    }
    std::string ReadExactly(size_t want, DWORD timeoutMs = 20000)
    {
        std::string got;
        DWORD start = GetTickCount();
        std::vector<char> buf(65536);
        while (got.size() < want && GetTickCount() - start < timeoutMs) {
            DWORD n = 0;
            if (!Io(true, buf.data(), DWORD(std::min(buf.size(), want - got.size())), &n, 1000))
                continue;
            got.append(buf.data(), n);
        }
        return got;
    }

private:
    // One overlapped read or write, waited for up to waitMs, cancelled and collected otherwise.
    bool Io(bool read, char* buf, DWORD len, DWORD* done, DWORD waitMs = 20000)
    {
        OVERLAPPED ov = {};
        ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        BOOL ok = read ? ReadFile(m_h, buf, len, nullptr, &ov) : WriteFile(m_h, buf, len, nullptr, &ov);
        if (ok || GetLastError() == ERROR_IO_PENDING) {
            if (!ok && WaitForSingleObject(ov.hEvent, waitMs) != WAIT_OBJECT_0)
                CancelIoEx(m_h, &ov);
            ok = GetOverlappedResult(m_h, &ov, done, TRUE);
        }
        CloseHandle(ov.hEvent);
        return ok != FALSE;
    }
    HANDLE m_h = INVALID_HANDLE_VALUE;
};

class UsbSimTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sim.connected()) << sim.error();
        ep = sim.tcp(&tcpPort);
        ASSERT_GE(ep, 0) << sim.error();
        path = UsbPipeName("1234", "5678", "SIM");
    }
    void TearDown() override
    {
        port.CloseIfOpen();
        PortLogClose();
    }

    void Configure() { Configure(port, path); }
    void Configure(CPortUsb& p, const std::string& devicePath)
    {
        p.SetInterfaceSource(&sockets);
        p.SetLog(0, 1, folder.Path().c_str());
        CString name = devicePath.c_str();
        DeviceOption dop = {};
        dop.strPortName = name.AddRefHandle();
        dop.dwInBufSize = 4096;
        ASSERT_EQ(1, p.SetDeviceOption(dop, DEVTYPE_LABEL));
        DeviceOptionRelease(dop);
    }
    int Write(const std::string& bytes)
    {
        return port.writePort(reinterpret_cast<const BYTE*>(bytes.data()), int(bytes.size()), DEVTYPE_LABEL);
    }
    std::string ReadPort(size_t n, DWORD timeoutMs = 20000)
    {
        std::string got;
        WaitFor([&] {
            BYTE buf[256];
            int r = port.readPort(buf, int(sizeof buf), 0, DEVTYPE_LABEL);
            got.append(reinterpret_cast<char*>(buf), size_t(r));
            return got.size() >= n;
        }, timeoutMs);
        return got;
    }
    long Counter(const char* name)
    {
        vesksim::Counts c;
        if (!sim.counts(ep, c))
            return -1;
        return std::string(name) == "connections" ? c.connections : std::string(name) == "closes" ? c.closes : c.open;
    }

    SimClient sim;
    int ep = -1;
    int tcpPort = 0;
    std::string path;
    RelayProcess relay;
    CTempFolder folder;
    CScriptedUsbSource sockets;
    CPortUsb port;
};

// The relay alone: probes open nothing on the simulator, a client's bytes go both ways unchanged.
TEST_F(UsbSimTest, RelayCarriesEveryByteAndProbesStayOffTheSimulator)
{
    ASSERT_TRUE(relay.Start(path, tcpPort)) << relay.Error();

    // Probes as the device list makes them, paced as its polls are (faster): never busy.
    for (int i = 0; i < 20; ++i) {
        PipeClient probe;
        ASSERT_EQ(DWORD(ERROR_SUCCESS), probe.Open(path)) << "probe " << i;
        probe.Close();
        Sleep(50);
    }

    std::string out;
    for (int r = 0; r < 300; ++r)
        for (int b = 0; b < 256; ++b)
            out.push_back(char(b));  // 76800 bytes: more than one block of the relay
    PipeClient client;
    ASSERT_EQ(DWORD(ERROR_SUCCESS), client.Open(path));
    // More probes while the client is connected.
    for (int i = 0; i < 5; ++i) {
        PipeClient probe;
        ASSERT_EQ(DWORD(ERROR_SUCCESS), probe.Open(path)) << "probe " << i << " beside the client";
    }
    ASSERT_TRUE(client.Write(out));
    ASSERT_TRUE(sim.waitFor(ep, "bytes", long(out.size()))) << sim.error();
    EXPECT_EQ(ToBytes(out), sim.transcript(ep));

    Bytes back;
    for (int b = 255; b >= 0; --b)
        back.push_back(std::uint8_t(b));
    ASSERT_TRUE(sim.send(ep, back, {7, 5, 3, 0})) << sim.error();  // in small pieces, three times
    Bytes expected;
    for (int r = 0; r < 3; ++r)
        expected.insert(expected.end(), back.begin(), back.end());
    EXPECT_EQ(ToBytes(client.ReadExactly(expected.size())), expected);
    EXPECT_EQ(1, Counter("connections"));  // the client's, none for the 25 probes

    // The client leaves: its connection is closed. The next client gets a connection of its own.
    client.Close();
    ASSERT_TRUE(sim.waitFor(ep, "closes", 1)) << sim.error();
    PipeClient second;
    ASSERT_EQ(DWORD(ERROR_SUCCESS), second.Open(path));
    ASSERT_TRUE(second.Write("^cu\r\n"));
    ASSERT_TRUE(sim.waitFor(ep, "connections", 2)) << sim.error();
    ASSERT_TRUE(sim.waitFor(ep, "status", 1)) << sim.error();
    EXPECT_EQ(2, Counter("connections"));

    // End of stdin ends the relay: its pipe is gone.
    second.Close();
    DWORD code = 99;
    ASSERT_TRUE(relay.Stop(&code));
    EXPECT_EQ(0u, code);
    PipeClient late;
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), late.Open(path));
    ASSERT_TRUE(sim.waitFor(ep, "closes", 2)) << sim.error();
}

TEST_F(UsbSimTest, RelayEndsOnItsQuitEventAndRefusesABadCommandLine)
{
    std::string event = "vesk_usbrelay_quit_" + std::to_string(GetCurrentProcessId());
    HANDLE quit = CreateEventA(nullptr, TRUE, FALSE, event.c_str());
    ASSERT_TRUE(quit);
    ASSERT_TRUE(relay.Start(path, tcpPort, "quit=" + event)) << relay.Error();
    PipeClient client;
    ASSERT_EQ(DWORD(ERROR_SUCCESS), client.Open(path));
    ASSERT_TRUE(client.Write("x"));
    ASSERT_TRUE(sim.waitFor(ep, "bytes", 1)) << sim.error();
    SetEvent(quit);
    // Ended by the event, with a client still connected: stdin is still open.
    EXPECT_TRUE(WaitFor([&] { return !relay.Running(); }, 30000));
    DWORD code = 99;
    ASSERT_TRUE(relay.Stop(&code));
    EXPECT_EQ(0u, code);
    EXPECT_FALSE(client.Write("y"));
    CloseHandle(quit);

    RelayProcess bad;
    EXPECT_FALSE(bad.Start("\\\\.\\notapipe\\x", tcpPort));
    EXPECT_NE(std::string::npos, bad.Error().find("ended before it was ready")) << bad.Error();
}

// The port prints a label, asks for the status, gets a status frame: all through the relay.
TEST_F(UsbSimTest, LabelStatusAndFrameThroughThePort)
{
    ASSERT_TRUE(relay.Start(path, tcpPort)) << relay.Error();
    sockets.Plug(path);
    Configure();
    ASSERT_EQ(1, port.OpenPort(DEVTYPE_LABEL));
    EXPECT_EQ(PS_ONLINE, port.IsPowerState());
    int walks = sockets.Walks();

    ASSERT_TRUE(sim.setStatus(ep, 0x08)) << sim.error();
    const std::string label = kLabelA;
    const std::string request = "^cu\r\n";
    ASSERT_EQ(1, Write(std::string(1, '\x40')));
    ASSERT_EQ(int(request.size()), Write(request));
    EXPECT_EQ(std::string(1, '\x08'), ReadPort(1));
    ASSERT_EQ(int(label.size()), Write(label));
    ASSERT_TRUE(sim.waitLabels(ep, 1)) << sim.error();
    EXPECT_EQ(ToBytes("\x40" + request + label), sim.transcript(ep));
    auto labels = sim.labels(ep);
    ASSERT_EQ(1u, labels.size());
    EXPECT_TRUE(labels[0].complete);
    EXPECT_EQ(0u, labels[0].flags) << qlks::describe(labels[0]);
    EXPECT_EQ(ToBytes(label), labels[0].raw);
    ASSERT_TRUE(labels[0].find(qlks::Op::Text));
    EXPECT_EQ("over usb", labels[0].find(qlks::Op::Text)->str("text"));
    ASSERT_TRUE(labels[0].find(qlks::Op::Barcode));
    EXPECT_EQ("VESK-0001", labels[0].find(qlks::Op::Barcode)->str("data"));

    // A status frame, split over two sends, comes out of GetASBState and not as data.
    ASSERT_TRUE(sim.frame(ep, "asb", {0x30, 0x20, 0x80, 0x4F}, {2, 30, 1, 0})) << sim.error();
    int asb = 0;
    ASSERT_TRUE(WaitFor([&] { return port.GetASBState(&asb, DEVTYPE_LABEL) == 1; }, 20000));
    EXPECT_EQ(0x4F802030, asb);
    EXPECT_EQ(0, port.GetASBState(&asb, DEVTYPE_LABEL));
    EXPECT_EQ(0, port.ReadAvailable());

    // The connection check kept probing the device all along without opening a connection.
    ASSERT_TRUE(WaitFor([&] { return sockets.Walks() >= walks + 10; }, 30000));
    EXPECT_EQ(PS_ONLINE, port.IsPowerState());
    EXPECT_EQ(1, Counter("connections"));
    EXPECT_EQ(1, Counter("open"));
}

// A killed relay is a pulled printer: the port goes off-line, writes fail, and a relay on the
// same path brings it back on-line; the next label arrives whole.
TEST_F(UsbSimTest, PulledRelayGoesOfflineAndARestartedOneBringsThePortBack)
{
    ASSERT_TRUE(relay.Start(path, tcpPort)) << relay.Error();
    sockets.Plug(path);
    Configure();
    ASSERT_EQ(1, port.OpenPort(DEVTYPE_LABEL));
    const std::string a = kLabelA, b = kLabelB;
    ASSERT_EQ(int(a.size()), Write(a));
    ASSERT_TRUE(sim.waitLabels(ep, 1)) << sim.error();

    // Pulled while the port holds the device open. The relay is ended, not killed: under the
    // emulator a killed process's socket can stay open for minutes after the process is gone,
    // and its late close would cut the next label short on the simulator's side.
    ASSERT_TRUE(relay.Stop());
    EXPECT_EQ(0, Write(b));
    ASSERT_TRUE(WaitFor([&] { return port.IsPowerState() == PS_OFFLINE; }, 30000));
    EXPECT_EQ(0, Write(b));
    ASSERT_TRUE(sim.waitFor(ep, "closes", 1)) << sim.error();
    EXPECT_EQ(1, Counter("connections"));

    ASSERT_TRUE(relay.Start(path, tcpPort)) << relay.Error();
    ASSERT_TRUE(WaitFor([&] { return port.IsPowerState() == PS_ONLINE; }, 30000));
    ASSERT_EQ(int(b.size()), Write(b));
    ASSERT_TRUE(sim.waitLabels(ep, 2)) << sim.error();
    auto labels = sim.labels(ep);
    ASSERT_EQ(2u, labels.size());
    EXPECT_EQ(ToBytes(a), labels[0].raw);
    EXPECT_EQ(ToBytes(b), labels[1].raw);
    EXPECT_TRUE(labels[1].complete);
    ASSERT_TRUE(labels[1].find(qlks::Op::Text));
    EXPECT_EQ("after the replug", labels[1].find(qlks::Op::Text)->str("text"));
    EXPECT_EQ(ToBytes(a + b), sim.transcript(ep));  // nothing of the failed writes
    EXPECT_EQ(2, Counter("connections"));

    port.ClosePort(DEVTYPE_LABEL);
    ASSERT_TRUE(sim.waitFor(ep, "closes", 2)) << sim.error();  // the port's client left the relay
}

// Two printers of one model (same vendor and product id, other instance paths), each relayed to
// its own simulator endpoint and driven by its own port.
class UsbTwinPrinters : public UsbSimTest
{
protected:
    void SetUp() override
    {
        UsbSimTest::SetUp();
        epB = sim.tcp(&tcpPortB);
        ASSERT_GE(epB, 0) << sim.error();
        pathB = UsbPipeName("1234", "5678", "SIMB");
    }
    void TearDown() override
    {
        portB.CloseIfOpen();
        UsbSimTest::TearDown();
    }
    int WriteB(const std::string& bytes)
    {
        return portB.writePort(reinterpret_cast<const BYTE*>(bytes.data()), int(bytes.size()), DEVTYPE_LABEL);
    }
    static std::string Label(const std::string& text)
    {
        return "SL406,24,G,0\r\nCUTn\r\nT26,20,3,1,1,0,0,N,N,F,'" + text + "'\r\nP1\r\n";
    }

    int epB = -1;
    int tcpPortB = 0;
    std::string pathB;
    RelayProcess relayB;
    CPortUsb portB;
};

TEST_F(UsbTwinPrinters, PullingOneTakesOnlyItsPortOffLineAndItsLabelsNeverReachTheOther)
{
    ASSERT_TRUE(relay.Start(path, tcpPort)) << relay.Error();
    ASSERT_TRUE(relayB.Start(pathB, tcpPortB)) << relayB.Error();
    sockets.Set({path, pathB});
    Configure();
    Configure(portB, pathB);
    ASSERT_EQ(1, port.OpenPort(DEVTYPE_LABEL));
    ASSERT_EQ(1, portB.OpenPort(DEVTYPE_LABEL));
    ASSERT_EQ(int(Label("A1").size()), Write(Label("A1")));
    ASSERT_EQ(int(Label("B1").size()), WriteB(Label("B1")));
    ASSERT_TRUE(sim.waitLabels(ep, 1)) << sim.error();
    ASSERT_TRUE(sim.waitLabels(epB, 1)) << sim.error();

    // A pulled: its port goes off-line and stays on its own path; B is the only printer of
    // that model now, but it is B's.
    ASSERT_TRUE(relay.Stop());
    sockets.Unplug(path);
    ASSERT_TRUE(WaitFor([&] { return port.IsPowerState() == PS_OFFLINE; }, 30000));
    int walks = sockets.Walks();
    ASSERT_TRUE(WaitFor([&] { return sockets.Walks() >= walks + 10; }, 30000));  // several checks later
    EXPECT_EQ(PS_OFFLINE, port.IsPowerState());
    EXPECT_STRCASEEQ(path.c_str(), port.PortName().GetString());
    EXPECT_EQ(0, Write(Label("A2")));
    EXPECT_EQ(PS_ONLINE, portB.IsPowerState());
    ASSERT_EQ(int(Label("B2").size()), WriteB(Label("B2")));
    ASSERT_TRUE(sim.waitLabels(epB, 2)) << sim.error();

    // A back: port A prints on A again.
    ASSERT_TRUE(relay.Start(path, tcpPort)) << relay.Error();
    sockets.Set({path, pathB});
    ASSERT_TRUE(WaitFor([&] { return port.IsPowerState() == PS_ONLINE; }, 30000));
    ASSERT_EQ(int(Label("A3").size()), Write(Label("A3")));
    ASSERT_TRUE(sim.waitLabels(ep, 2)) << sim.error();
    ASSERT_EQ(int(Label("B3").size()), WriteB(Label("B3")));
    ASSERT_TRUE(sim.waitLabels(epB, 3)) << sim.error();

    EXPECT_EQ(ToBytes(Label("A1") + Label("A3")), sim.transcript(ep));
    EXPECT_EQ(ToBytes(Label("B1") + Label("B2") + Label("B3")), sim.transcript(epB));
    port.ClosePort(DEVTYPE_LABEL);
    portB.ClosePort(DEVTYPE_LABEL);
}

// A off: port A stands in on B, the only printer of the model, while B's own port is closed.
// B's port opens: port A gives way at once and never prints on B again; A back: A on A.
TEST_F(UsbTwinPrinters, APortStandingInOnAnotherPortsPrinterGivesWayAndGoesHome)
{
    ASSERT_TRUE(relayB.Start(pathB, tcpPortB)) << relayB.Error();
    sockets.Set({pathB});
    Configure();
    Configure(portB, pathB);
    ASSERT_EQ(1, port.OpenPort(DEVTYPE_LABEL));
    EXPECT_STRCASEEQ(pathB.c_str(), port.PortName().GetString());
    ASSERT_EQ(int(Label("A1").size()), Write(Label("A1")));
    ASSERT_TRUE(sim.waitLabels(epB, 1)) << sim.error();

    ASSERT_EQ(1, portB.OpenPort(DEVTYPE_LABEL));
    EXPECT_EQ(PS_OFFLINE, port.IsPowerState());
    EXPECT_EQ(0, Write(Label("A2")));
    ASSERT_EQ(int(Label("B1").size()), WriteB(Label("B1")));
    ASSERT_TRUE(sim.waitLabels(epB, 2)) << sim.error();
    int walks = sockets.Walks();
    ASSERT_TRUE(WaitFor([&] { return sockets.Walks() >= walks + 10; }, 30000));  // several checks later
    EXPECT_EQ(PS_OFFLINE, port.IsPowerState());
    EXPECT_EQ(0, Write(Label("A3")));

    ASSERT_TRUE(relay.Start(path, tcpPort)) << relay.Error();
    sockets.Set({path, pathB});
    ASSERT_TRUE(WaitFor([&] { return port.IsPowerState() == PS_ONLINE; }, 30000));
    EXPECT_STRCASEEQ(path.c_str(), port.PortName().GetString());
    ASSERT_EQ(int(Label("A4").size()), Write(Label("A4")));
    ASSERT_TRUE(sim.waitLabels(ep, 1)) << sim.error();
    ASSERT_EQ(int(Label("B2").size()), WriteB(Label("B2")));
    ASSERT_TRUE(sim.waitLabels(epB, 3)) << sim.error();

    EXPECT_EQ(ToBytes(Label("A4")), sim.transcript(ep));
    EXPECT_EQ(ToBytes(Label("A1") + Label("B1") + Label("B2")), sim.transcript(epB));
    port.ClosePort(DEVTYPE_LABEL);
    portB.ClosePort(DEVTYPE_LABEL);
}

}  // namespace

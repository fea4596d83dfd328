// A CPortCom on a pty COM port with a scripted line: the read thread's reaction to line
// changes, frames split over reads, open failures and their recovery.
#include "ComSimTest.h"
#include "PortCom.h"

#include <atomic>
#include <memory>
#include <thread>

namespace {

class ComLineSim : public ComSimTest
{
protected:
    void TearDown() override
    {
        SetEvent(line.gate);
        line.holdModem = false;
        if (port) {
            port->ClosePort(DEVTYPE_LABEL);
            delete port;
            port = nullptr;
        }
        ComSimTest::TearDown();
    }

    // A port made after the test wrote its setup.inf, with a log at log+trace.
    CPortCom& MakePort(DeviceOption dop, DWORD usePortLog = 3)
    {
        port = new CPortCom;
        port->SetPortIndex(10000 + com);
        port->SetLog(0, usePortLog, CString(logs.Path().c_str()));
        port->SetLine(&line);
        EXPECT_EQ(port->SetDeviceOption(dop, DEVTYPE_LABEL), 1);
        DeviceOptionRelease(dop);
        return *port;
    }
    std::vector<BYTE> Read(size_t n)
    {
        return ReadAll([&](BYTE* b, int len) { return port->readPort(b, len, 200, DEVTYPE_LABEL); }, n);
    }
    int Lines(const std::string& text) { return CountLines(logs, text); }
    bool PowerIs(int state)
    {
        return WaitFor([&] { return port->IsPowerState() == state; });
    }

    // A Bluetooth port (Microsoft stack) with hardware handshake, open and on-line.
    CPortCom& OpenBluetoothOnLine()
    {
        DeviceOption dop = ComOption(portName, 0);
        dop.dwUsingBT = 1;
        dop.dwBtStackType = 1;
        line.modem = COM_MODEM_CTS | COM_MODEM_DSR;
        CPortCom& p = MakePort(dop, 1);
        EXPECT_EQ(p.OpenPort(DEVTYPE_LABEL), 1);
        EXPECT_TRUE(PowerIs(PS_ONLINE));
        return p;
    }

    CScriptedLine line;
    CPortCom* port = nullptr;
};

TEST_F(ComLineSim, PowerStateStaysZeroUntilTheFirstDecision)
{
    line.holdModem = true;
    CPortCom& p = MakePort(ComOption(portName));
    EXPECT_EQ(p.IsPowerState(), 0);
    ASSERT_EQ(p.OpenPort(DEVTYPE_LABEL), 1);
    ASSERT_TRUE(WaitFor([&] { return line.modemCalls.load() >= 1; }));
    EXPECT_EQ(p.IsPowerState(), 0);
    SetEvent(line.gate);
    EXPECT_TRUE(PowerIs(PS_ONLINE));
}

TEST_F(ComLineSim, HardwareLineDropPurgesTransmitAndComesBack)
{
    line.modem = COM_MODEM_CTS | COM_MODEM_DSR;
    CPortCom& p = MakePort(ComOption(portName, 0));
    ASSERT_EQ(p.OpenPort(DEVTYPE_LABEL), 1);
    ASSERT_TRUE(PowerIs(PS_ONLINE));
    EXPECT_EQ(line.txPurges, 0);
    // The hardware handshake reached the device's control block.
    EXPECT_TRUE(line.lastDcb.fOutxCtsFlow);
    EXPECT_TRUE(line.lastDcb.fOutxDsrFlow);

    line.modem = COM_MODEM_CTS;  // DSR falls
    ASSERT_TRUE(PowerIs(PS_OFFLINE));
    // The transmit side is purged in every off-line pass.
    EXPECT_TRUE(WaitFor([&] { return line.txPurges.load() >= 3; }));
    // A serial port stays open and keeps reading while off-line.
    EXPECT_TRUE(p.IsOpen());
    ASSERT_TRUE(sim.send(ep, Bytes({0x41, 0x42}))) << sim.error();
    EXPECT_EQ(Read(2), std::vector<BYTE>({0x41, 0x42}));

    line.modem = COM_MODEM_CTS | COM_MODEM_DSR;
    ASSERT_TRUE(PowerIs(PS_ONLINE));
    int purges = line.txPurges;
    // Let a few on-line passes run: no more purges.
    int calls = line.modemCalls;
    ASSERT_TRUE(WaitFor([&] { return line.modemCalls.load() >= calls + 6; }));
    EXPECT_EQ(line.txPurges, purges);
    p.ClosePort(DEVTYPE_LABEL);

    // Each change once.
    EXPECT_EQ(Lines("Serial On-line signal"), 2);
    EXPECT_EQ(Lines("Serial Off-line signal"), 1);
    EXPECT_EQ(Lines("GetCommModemStatus : dwMask=48"), 2);
    EXPECT_EQ(Lines("GetCommModemStatus : dwMask=16"), 1);
}

TEST_F(ComLineSim, XoffHoldDecidesWithXonXoff)
{
    line.xoffHold = 1;
    CPortCom& p = MakePort(ComOption(portName, 1));
    ASSERT_EQ(p.OpenPort(DEVTYPE_LABEL), 1);
    EXPECT_TRUE(line.lastDcb.fOutX);
    EXPECT_TRUE(line.lastDcb.fInX);
    ASSERT_TRUE(PowerIs(PS_OFFLINE));
    line.xoffHold = 0;
    ASSERT_TRUE(PowerIs(PS_ONLINE));
    line.xoffHold = 1;
    ASSERT_TRUE(PowerIs(PS_OFFLINE));
    p.ClosePort(DEVTYPE_LABEL);
    EXPECT_EQ(Lines("Serial Off-line signal"), 2);
    EXPECT_EQ(Lines("Serial On-line signal"), 1);
}

TEST_F(ComLineSim, NoneWithASoftwareCheckWatchesThatLine)
{
    ASSERT_TRUE(install.Write("setup.inf", "[SPECIAL]\r\nCHECK_CTS_SW=1\r\n"));
    line.modem = COM_MODEM_DSR;
    CPortCom& p = MakePort(ComOption(portName, 2));
    ASSERT_EQ(p.Config().CHECK_CTS_SW, 1);
    ASSERT_EQ(p.OpenPort(DEVTYPE_LABEL), 1);
    // CTS output flow control with RTS enabled reached the device.
    EXPECT_TRUE(line.lastDcb.fOutxCtsFlow);
    EXPECT_FALSE(line.lastDcb.fOutxDsrFlow);
    EXPECT_EQ(DWORD(line.lastDcb.fRtsControl), DWORD(RTS_CONTROL_ENABLE));
    EXPECT_EQ(DWORD(line.lastDcb.fDtrControl), DWORD(DTR_CONTROL_DISABLE));
    ASSERT_TRUE(PowerIs(PS_OFFLINE));
    line.modem = COM_MODEM_CTS;
    EXPECT_TRUE(PowerIs(PS_ONLINE));
}

TEST_F(ComLineSim, FramesSplitOverSeveralReads)
{
    // One byte per read: every frame spans four passes.
    line.inQueCap = 1;
    CPortCom& p = MakePort(ComOption(portName), 1);
    ASSERT_EQ(p.OpenPort(DEVTYPE_LABEL), 1);
    ASSERT_TRUE(sim.send(ep, Bytes({'a', 0x30, 0x01, 0x03, 0x0F, 'b', 0x35, 0x60, 0x42, 0x00, 'c'}))) << sim.error();
    EXPECT_EQ(Read(3), std::vector<BYTE>({'a', 'b', 'c'}));
    int asb = 0;
    ASSERT_TRUE(WaitFor([&] { return p.GetASBState(&asb, DEVTYPE_LABEL) == 1; }));
    EXPECT_EQ(unsigned(asb), 0x0F030130u);
    ASSERT_TRUE(WaitFor([&] { return p.GetASBState(&asb, DEVTYPE_LABEL) == 1; }));
    EXPECT_EQ(unsigned(asb), 0x00426035u);
    EXPECT_EQ(p.GetASBState(&asb, DEVTYPE_LABEL), 0);
    // Data bytes went to the queue one read at a time.
    EXPECT_EQ(Lines("Input 1bytes : 61"), 1);
    EXPECT_EQ(Lines("Input 1bytes : 62"), 1);
}

TEST_F(ComLineSim, FloodIsReadInPassesOfAtMost512)
{
    CPortCom& p = MakePort(ComOption(portName), 1);
    ASSERT_EQ(p.OpenPort(DEVTYPE_LABEL), 1);
    ASSERT_TRUE(sim.flood(ep, 3000)) << sim.error();
    std::vector<BYTE> got = Read(3000);
    ASSERT_EQ(got.size(), 3000u);
    for (size_t i = 0; i < got.size(); ++i)
        ASSERT_EQ(got[i], BYTE('a' + i % 26)) << "at " << i;
    p.ClosePort(DEVTYPE_LABEL);
    int reads = 0;
    for (const std::string& l : LogLines(logs)) {
        const std::string t = LineText(l);
        if (t.rfind("Input ", 0) == 0) {
            ++reads;
            EXPECT_LE(std::atoi(t.c_str() + 6), 512) << t;
        }
    }
    EXPECT_GE(reads, 6);
}

TEST_F(ComLineSim, FailedOpenClosesTheDeviceAndALaterOpenSucceeds)
{
    line.setStateFailures = 1;
    CPortCom& p = MakePort(ComOption(portName), 1);
    EXPECT_EQ(p.OpenPort(DEVTYPE_LABEL), 0);
    EXPECT_FALSE(p.IsOpen());
    EXPECT_EQ(Lines("<LABEL> !ERROR: -OpenPort : fail to SetCommState"), 1);
    // The device was given back at once.
    EXPECT_TRUE(DeviceIsFree());

    // A setting that does not fit the control block fails the same way, without the device.
    DeviceOption bad = ComOption(portName);
    bad.dwByteSize = 0x108;
    EXPECT_EQ(p.SetDeviceOption(bad, DEVTYPE_LABEL), 1);
    DeviceOptionRelease(bad);
    EXPECT_EQ(p.OpenPort(DEVTYPE_LABEL), 0);
    EXPECT_EQ(Lines("<LABEL> !ERROR: -OpenPort : fail to SetCommState"), 2);
    EXPECT_TRUE(DeviceIsFree());

    DeviceOption good = ComOption(portName);
    p.SetDeviceOption(good, DEVTYPE_LABEL);
    DeviceOptionRelease(good);
    ASSERT_EQ(p.OpenPort(DEVTYPE_LABEL), 1);
    BYTE b[2] = {'o', 'k'};
    EXPECT_EQ(p.writePort(b, 2, DEVTYPE_LABEL), 2);
    EXPECT_EQ(Received(2), Bytes({'o', 'k'}));
}

// A ReleaseDevice right after a synchronous print: the adapter reported the write done while
// the label still drains from its output queue. The purge waits for the queue to empty, and a
// printer that takes nothing still lets ClosePort return.
TEST_F(ComLineSim, CloseWaitsForTheOutputQueueBeforeThePurge)
{
    const std::string label = "SL406,24,G,0\r\nCUTn\r\nT26,20,3,1,1,0,0,N,N,F,'drain'\r\nP1\r\n";
    const struct
    {
        const char* what;
        DWORD drainMs;  // MAXDWORD: never drains
        bool evenly;    // the queue shrinks as it drains (else it empties at once at the end)
        DWORD writeMultiplier;
        bool drained;
        DWORD baud = 115200;
        DWORD queued = 0;  // the driver's queue at the close; 0: the label
        bool secondClose = false;  // another ClosePort comes while the first drains
    } cases[] = {
        {"drains in 800 ms", 800, false, 0, true},
        {"reads nothing", MAXDWORD, false, 0, false},
        // 5 ms a byte against a write time-out of 10 ms a byte: the time-out of what was queued
        // covers the drain twice over, while the time-out of what is left falls behind it.
        {"drains evenly at half the write time-out", DWORD(5 * label.size()), true, 10, true},
        // A full 4 KB driver queue at 9600 baud drains at the line's speed in about 4.3 s.
        {"4 KB at 9600 baud", 4096 * 10 * 1000 / 9600, true, 0, true, 9600, 4096},
        // 4 KB at 300 baud take over two minutes; a second close does not wait for them.
        {"a second close meanwhile at 300 baud", 4096 * 10 * 1000 / 300, false, 0, false, 300, 4096, true},
    };
    for (const auto& c : cases) {
        line.outQueEmptyAt = 0;
        line.outQueDrainFrom = 0;
        DeviceOption dop = ComOption(portName, 2);
        dop.dwWriteTotalTimeoutMultiplier = c.writeMultiplier;
        dop.dwBaudRate = c.baud;
        CPortCom& p = MakePort(dop, 1);
        ASSERT_EQ(p.OpenPort(DEVTYPE_LABEL), 1) << c.what;
        ASSERT_EQ(p.writePort(reinterpret_cast<const BYTE*>(label.data()), int(label.size()), DEVTYPE_LABEL),
                  int(label.size()));
        const DWORD queued = c.queued ? c.queued : DWORD(label.size());
        line.outQueBytes = queued;
        const DWORD now = GetTickCount();
        line.outQueDrainFrom = c.evenly ? now : 0;
        line.outQueEmptyAt = c.drainMs == MAXDWORD ? MAXDWORD : now + c.drainMs;
        line.outQueAtPurge = -1;
        std::atomic<bool> returned{false};
        const int polls = line.errorCalls;
        std::thread closer([&] {
            p.ClosePort(DEVTYPE_LABEL);
            returned = true;
        });
        std::thread second;
        if (c.secondClose) {
            WaitFor([&] { return line.errorCalls > polls + 2; });
            second = std::thread([&] { p.ClosePort(DEVTYPE_LABEL); });
        }
        bool closed = WaitFor([&] { return returned.load(); }, 10000);
        closer.join();
        if (second.joinable())
            second.join();
        EXPECT_TRUE(closed) << c.what;
        // The send side is cleared only when bytes are still queued at the bound.
        EXPECT_EQ(line.sendPurged.load(), !c.drained) << c.what;
        if (c.drained) {
            EXPECT_EQ(line.outQueAtPurge.load(), 0) << c.what;
        } else {
            EXPECT_EQ(line.outQueAtPurge.load(), long(queued)) << c.what;
            EXPECT_GE(Lines("<LABEL> !ERROR: ClosePort : " + std::to_string(queued) +
                            " bytes still in the output queue at the purge"),
                      1);
        }
        delete port;
        port = nullptr;
    }
}

// The read thread closes a Bluetooth link that dropped and is ended by force inside the device's
// close: no later write waits for it, and ClosePort still returns and lets the device go.
TEST_F(ComLineSim, AReadThreadEndedByForceInItsBluetoothCloseHoldsUpNoWrite)
{
    CPortCom& p = OpenBluetoothOnLine();
    ASSERT_FALSE(HasFailure());
    line.holdClose = true;
    line.modem = 0;  // the link drops: the read thread closes the device
    ASSERT_TRUE(WaitFor([&] { return line.heldCloseThread.load() != 0; }));
    HANDLE t = OpenThread(THREAD_TERMINATE | SYNCHRONIZE, FALSE, line.heldCloseThread);
    ASSERT_TRUE(t);
    ASSERT_TRUE(TerminateThread(t, 1));
    WaitForSingleObject(t, 30000);
    CloseHandle(t);

    auto written = std::make_shared<std::atomic<int>>(-1);
    std::thread writer([&p, written] {
        BYTE b = 'x';
        *written = p.writePort(&b, 1, DEVTYPE_LABEL);
    });
    // A write waiting for the ended thread's lock would never return; the bound ends the test.
    bool returned = WaitFor([&] { return written->load() != -1; }, 20000);
    EXPECT_TRUE(returned);
    if (!returned) {
        writer.detach();
        port = nullptr;  // left to the hung write
        return;
    }
    writer.join();
    EXPECT_EQ(written->load(), 0);
    p.ClosePort(DEVTYPE_LABEL);
    EXPECT_TRUE(DeviceIsFree());
}

// A ClosePort that arrives while an OpenPort is still configuring the device: the open gives way
// (no port left open, no read thread started) and the close ends without a forced termination.
TEST_F(ComLineSim, ClosePortDuringAnOpenWinsAndStopsNothingByForce)
{
    CPortCom& p = MakePort(ComOption(portName, 2), 3);
    line.holdSetState = true;
    std::atomic<int> opened{-1};
    std::thread opener([&] { opened = p.OpenPort(DEVTYPE_LABEL); });
    ASSERT_TRUE(WaitFor([&] { return line.setStateCalls.load() >= 1; }));
    std::atomic<bool> closed{false};
    std::thread closer([&] {
        p.ClosePort(DEVTYPE_LABEL);
        closed = true;
    });
    ASSERT_TRUE(WaitFor([&] { return Lines("<LABEL> +ClosePort : Port dll") == 1; }));
    SetEvent(line.setStateGate);
    bool bothReturned = WaitFor([&] { return closed.load() && opened.load() != -1; }, 20000);
    opener.join();
    closer.join();
    ASSERT_TRUE(bothReturned);
    EXPECT_EQ(opened.load(), 0);
    EXPECT_FALSE(p.IsOpen());
    EXPECT_EQ(Lines("***************** Port Read Thread Start ***********"), 0);
    EXPECT_EQ(Lines("<LABEL> ClosePort : TerminateThread Port ReadThread."), 0);
    EXPECT_TRUE(DeviceIsFree());
    // The port opens normally afterwards.
    line.holdSetState = false;
    EXPECT_EQ(p.OpenPort(DEVTYPE_LABEL), 1);
}

TEST_F(ComLineSim, IvtBluetoothPortRoundTrip)
{
    DeviceOption dop = ComOption(portName, 2);
    dop.dwUsingBT = 1;
    dop.dwBtStackType = 3;
    CPortCom& p = MakePort(dop, 1);
    ASSERT_EQ(p.OpenPort(DEVTYPE_LABEL), 1);
    ASSERT_TRUE(PowerIs(PS_ONLINE));
    ASSERT_TRUE(sim.send(ep, Bytes({0x41, 0x11, 0x13, 0x42}))) << sim.error();
    EXPECT_EQ(Read(4), std::vector<BYTE>({0x41, 0x11, 0x13, 0x42}));
    BYTE out[3] = {0x00, 0x11, 0x13};
    EXPECT_EQ(p.writePort(out, 3, DEVTYPE_LABEL), 3);
    EXPECT_EQ(Received(3), Bytes({0x00, 0x11, 0x13}));
    p.ClosePort(DEVTYPE_LABEL);
    EXPECT_EQ(Lines("<LABEL> ClosePort : TerminateThread Port ReadThread."), 0);
    EXPECT_TRUE(DeviceIsFree());
}

}  // namespace

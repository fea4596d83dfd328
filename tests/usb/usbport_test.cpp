// The usb port over pipe devices that are plugged, pulled and moved while the port runs.
#include "PipeDevice.h"
#include "PortLog.h"
#include "PortUsb.h"
#include "TestEnv.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <cstring>
#include <thread>

namespace {

std::string Upper(std::string s)
{
    for (auto& c : s)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return s;
}

int ProcessThreads()
{
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 te = {};
    te.dwSize = sizeof(te);
    int n = 0;
    for (BOOL ok = Thread32First(snap, &te); ok; ok = Thread32Next(snap, &te))
        if (te.th32OwnerProcessID == GetCurrentProcessId())
            ++n;
    CloseHandle(snap);
    return n;
}

int Count(const std::string& text, const std::string& what)
{
    int n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1))
        ++n;
    return n;
}

// A port on the scripted sockets with its log in a temporary folder.
struct UsbPortFixture : ::testing::Test
{
    CTempFolder folder;
    CScriptedUsbSource sockets;
    CPortUsb port;

    void Configure(const std::string& path, DWORD inBufSize = 512, DWORD writeMul = 0, DWORD writeConst = 0,
                   DWORD logBits = 1)
    {
        port.SetInterfaceSource(&sockets);
        port.SetLog(0, logBits, folder.Path().c_str());
        CString name = path.c_str();
        DeviceOption dop = {};
        dop.strPortName = name.AddRefHandle();
        dop.dwInBufSize = inBufSize;
        dop.dwWriteTotalTimeoutMultiplier = writeMul;
        dop.dwWriteTotalTimeoutConstant = writeConst;
        ASSERT_EQ(1, port.SetDeviceOption(dop, DEVTYPE_LABEL));
        DeviceOptionRelease(dop);
    }
    ~UsbPortFixture() override
    {
        port.CloseIfOpen();
        PortLogClose();
    }
    std::string LogText()
    {
        std::string all;
        for (auto& f : folder.List("Log"))
            all += folder.Read("Log\\" + f);
        return all;
    }
    std::string ReadAll(int n, DWORD timeout = 10000)
    {
        std::string got;
        WaitFor([&] {
            BYTE buf[256];
            int r = port.readPort(buf, sizeof(buf), 0, DEVTYPE_LABEL);
            got.append(reinterpret_cast<char*>(buf), size_t(r));
            return int(got.size()) >= n;
        }, timeout);
        return got;
    }
};

TEST_F(UsbPortFixture, RoundTripThroughTheDevice)
{
    CPipeDevice printer(UsbPipeName("1234", "5678", "rt"));
    sockets.Plug(printer.Name());
    Configure(printer.Name());
    ASSERT_EQ(1, port.OpenPort(DEVTYPE_LABEL));
    EXPECT_EQ(PS_ONLINE, port.IsPowerState());
    EXPECT_EQ(Upper(printer.Name()), port.PortName().GetString());

    const std::string label("^L\r\n\x00\x11\x13\xff" "E\r\n", 11);
    ASSERT_EQ(int(label.size()), port.writePort(reinterpret_cast<const BYTE*>(label.data()), int(label.size()), DEVTYPE_LABEL));
    ASSERT_TRUE(WaitFor([&] { return printer.Received().size() >= label.size(); }));
    EXPECT_EQ(label, printer.Received());

    // An answer, then a status frame split over three reads with data around it.
    ASSERT_TRUE(printer.Send("OK"));
    EXPECT_EQ("OK", ReadAll(2));
    ASSERT_TRUE(printer.Send(std::string("\x41\x10", 2)));
    ASSERT_TRUE(WaitFor([&] { return port.ReadAvailable() >= 1; }));
    ASSERT_TRUE(printer.Send(std::string("\x00", 1)));
    Sleep(50);
    ASSERT_TRUE(printer.Send(std::string("\x00\x00\x42", 3)));
    EXPECT_EQ("AB", ReadAll(2));
    int asb = 0;
    ASSERT_TRUE(WaitFor([&] { return port.GetASBState(&asb, DEVTYPE_LABEL) == 1; }));
    EXPECT_EQ(0x10, asb);
    EXPECT_EQ(0, port.GetASBState(&asb, DEVTYPE_LABEL));

    port.ClosePort(DEVTYPE_LABEL);
    EXPECT_FALSE(port.ThreadsRunning());
    EXPECT_EQ(0, port.writePort(reinterpret_cast<const BYTE*>("x"), 1, DEVTYPE_LABEL));
    std::string log = LogText();
    EXPECT_NE(std::string::npos, log.find("<LABEL> +OpenPort : USB dll"));
    EXPECT_NE(std::string::npos, log.find("<LABEL> -OpenPort Success"));
    EXPECT_NE(std::string::npos, log.find("<LABEL> -ClosePort : Success"));
    EXPECT_NE(std::string::npos, log.find("-Port Write : fail to invalid parameters"));
}

TEST_F(UsbPortFixture, UnplugAndReplugIntoAnotherSocket)
{
    auto printer = std::make_unique<CPipeDevice>(UsbPipeName("1234", "5678", "sockA"));
    sockets.Plug(printer->Name());
    Configure(printer->Name(), 512, 0, 0, 3);
    ASSERT_EQ(1, port.OpenPort(DEVTYPE_LABEL));

    // Pulled: off-line, handle closed, reading stops.
    sockets.Unplug(printer->Name());
    printer.reset();
    ASSERT_TRUE(WaitFor([&] { return port.IsPowerState() == PS_OFFLINE; }));
    ASSERT_TRUE(WaitFor([&] { return LogText().find("********************************** usb disconnect") != std::string::npos; }));
    int reads = Count(LogText(), "****************ReadFile****");
    int walks = sockets.Walks();
    ASSERT_TRUE(WaitFor([&] { return sockets.Walks() >= walks + 5; }));  // the check kept polling
    EXPECT_EQ(reads, Count(LogText(), "****************ReadFile****"));
    EXPECT_EQ(0, port.writePort(reinterpret_cast<const BYTE*>("x"), 1, DEVTYPE_LABEL));
    EXPECT_EQ(PS_OFFLINE, port.IsPowerState());

    // Back in another socket: same product, new path.
    CPipeDevice moved(UsbPipeName("1234", "5678", "sockB"));
    sockets.Plug(moved.Name());
    ASSERT_TRUE(WaitFor([&] { return port.IsPowerState() == PS_ONLINE; }));
    EXPECT_NE(std::string::npos, LogText().find("**********************************  usb connect"));
    EXPECT_EQ(Upper(moved.Name()), port.PortName().GetString());
    ASSERT_EQ(3, port.writePort(reinterpret_cast<const BYTE*>("P1\n"), 3, DEVTYPE_LABEL));
    ASSERT_TRUE(WaitFor([&] { return moved.Received() == "P1\n"; }));
    ASSERT_TRUE(moved.Send("ok"));
    EXPECT_EQ("ok", ReadAll(2));

    // Pulled and put back between two polls of the check: found at its new place.
    CPipeDevice third(UsbPipeName("1234", "5678", "sockC"));
    sockets.Set({third.Name()});
    moved.Unplug();
    ASSERT_TRUE(WaitFor([&] { return port.PortName().Compare(Upper(third.Name()).c_str()) == 0; }));
    ASSERT_TRUE(WaitFor([&] { return port.IsPowerState() == PS_ONLINE; }));
    ASSERT_EQ(2, port.writePort(reinterpret_cast<const BYTE*>("P2"), 2, DEVTYPE_LABEL));
    ASSERT_TRUE(WaitFor([&] { return third.Received() == "P2"; }));
}

TEST_F(UsbPortFixture, OpenFindsAPrinterMovedBeforeTheOpenAndFailsWithoutOne)
{
    CPipeDevice printer(UsbPipeName("1234", "5678", "new"));
    Configure(UsbPipeName("1234", "5678", "old"));
    EXPECT_EQ(0, port.OpenPort(DEVTYPE_LABEL));  // nothing plugged in
    EXPECT_FALSE(port.ThreadsRunning());
    sockets.Plug(printer.Name());
    Configure(UsbPipeName("1234", "5678", "old"));
    ASSERT_EQ(1, port.OpenPort(DEVTYPE_LABEL));
    EXPECT_EQ(Upper(printer.Name()), port.PortName().GetString());

    // An empty name keeps the path in use.
    DeviceOption dop = {};
    EXPECT_EQ(0, port.SetDeviceOption(dop, DEVTYPE_LABEL));
    EXPECT_EQ(Upper(printer.Name()), port.PortName().GetString());
}

TEST_F(UsbPortFixture, ADeviceOfAnotherVendorWithTheSameProductIdIsNeverOpened)
{
    CPipeDevice other(UsbPipeName("9999", "5678", "maker2"));
    sockets.Plug(other.Name());
    const std::string stored = UsbPipeName("1234", "5678", "gone");
    Configure(stored);
    EXPECT_EQ(0, port.OpenPort(DEVTYPE_LABEL));
    EXPECT_FALSE(port.ThreadsRunning());
    EXPECT_EQ(stored, port.PortName().GetString());  // the stored path is kept

    // The port's own printer comes and goes; the other maker's device stays the only one left.
    auto mine = std::make_unique<CPipeDevice>(UsbPipeName("1234", "5678", "mine"));
    sockets.Plug(mine->Name());
    Configure(mine->Name());
    ASSERT_EQ(1, port.OpenPort(DEVTYPE_LABEL));
    sockets.Unplug(mine->Name());
    mine.reset();
    ASSERT_TRUE(WaitFor([&] { return port.IsPowerState() == PS_OFFLINE; }));
    int walks = sockets.Walks();
    ASSERT_TRUE(WaitFor([&] { return sockets.Walks() >= walks + 10; }));
    EXPECT_EQ(PS_OFFLINE, port.IsPowerState());
    EXPECT_EQ(0, port.writePort(reinterpret_cast<const BYTE*>("P1\n"), 3, DEVTYPE_LABEL));
    EXPECT_STRCASEEQ(UsbPipeName("1234", "5678", "mine").c_str(), port.PortName().GetString());
    EXPECT_EQ("", other.Received());
}

// Two ports on one stored path (two devices of one class on one port string) both open it; a
// second printer of the model is never taken by either while the first is listed.
TEST_F(UsbPortFixture, TwoPortsOnOnePathBothOpenIt)
{
    CPipeDevice printer(UsbPipeName("1234", "5678", "shared"));
    CPipeDevice twin(UsbPipeName("1234", "5678", "twin"));
    sockets.Set({printer.Name(), twin.Name()});
    Configure(printer.Name());
    ASSERT_EQ(1, port.OpenPort(DEVTYPE_LABEL));
    CPortUsb second;
    second.SetInterfaceSource(&sockets);
    CString name = printer.Name().c_str();
    DeviceOption dop = {};
    dop.strPortName = name.AddRefHandle();
    dop.dwInBufSize = 512;
    ASSERT_EQ(1, second.SetDeviceOption(dop, DEVTYPE_CASHDRAWER));
    DeviceOptionRelease(dop);
    ASSERT_EQ(1, second.OpenPort(DEVTYPE_CASHDRAWER));
    ASSERT_EQ(2, second.writePort(reinterpret_cast<const BYTE*>("CD"), 2, DEVTYPE_CASHDRAWER));
    ASSERT_TRUE(WaitFor([&] { return printer.Received() == "CD"; }));
    EXPECT_EQ("", twin.Received());
    second.ClosePort(DEVTYPE_CASHDRAWER);
}

// B's printer is away and port B stands in on A's, the only printer of the model. A opened while
// B prints: B gives way and holds its own path again; its failed writes and reconnects never
// open A's printer, which stays A's.
TEST_F(UsbPortFixture, AOpenedWhileBPrints)
{
    CPipeDevice printerA(UsbPipeName("1234", "5678", "ownA"));
    const std::string pathB = UsbPipeName("1234", "5678", "awayB");
    sockets.Set({printerA.Name()});
    CPortUsb b;
    b.SetInterfaceSource(&sockets);
    b.SetLog(0, 1, folder.Path().c_str());
    CString nameB = pathB.c_str();
    DeviceOption dop = {};
    dop.strPortName = nameB.AddRefHandle();
    dop.dwInBufSize = 512;
    ASSERT_EQ(1, b.SetDeviceOption(dop, DEVTYPE_LABEL));
    DeviceOptionRelease(dop);
    ASSERT_EQ(1, b.OpenPort(DEVTYPE_LABEL));
    EXPECT_STRCASEEQ(printerA.Name().c_str(), b.PortName().GetString());
    ASSERT_EQ(2, b.writePort(reinterpret_cast<const BYTE*>("B1"), 2, DEVTYPE_LABEL));
    ASSERT_TRUE(WaitFor([&] { return printerA.Received() == "B1"; }));

    Configure(printerA.Name());
    ASSERT_EQ(1, port.OpenPort(DEVTYPE_LABEL));
    EXPECT_EQ(PS_OFFLINE, b.IsPowerState());
    EXPECT_STRCASEEQ(pathB.c_str(), b.PortName().GetString());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(0, b.writePort(reinterpret_cast<const BYTE*>("B2"), 2, DEVTYPE_CASHDRAWER));
    EXPECT_EQ(0, b.OpenPortUSB(CString(printerA.Name().c_str())));
    EXPECT_EQ(1, Count(LogText(), "!ERROR: -OpenPortUSB : " + printerA.Name() + " is held by another port"));
    ASSERT_EQ(2, port.writePort(reinterpret_cast<const BYTE*>("A1"), 2, DEVTYPE_LABEL));
    ASSERT_TRUE(WaitFor([&] { return printerA.Received() == "B1A1"; }));
    EXPECT_EQ(PS_ONLINE, port.IsPowerState());
    b.ClosePort(DEVTYPE_LABEL);
}

// Fails the next write with a given error, as a USB printer pulled mid-write does.
class CFailingWriter : public CUsbDeviceIo
{
public:
    std::atomic<DWORD> failNext{0};
    BOOL Write(HANDLE device, const void* bytes, DWORD count, OVERLAPPED* ov) override
    {
        DWORD e = failNext.exchange(0);
        if (e) {
            SetLastError(e);
            return FALSE;
        }
        return CUsbDeviceIo::Write(device, bytes, count, ov);
    }
};

TEST_F(UsbPortFixture, AWriteOnADeadHandleReopensOnce)
{
    CPipeDevice printer(UsbPipeName("1234", "5678", "dead"));
    sockets.Plug(printer.Name());
    CFailingWriter writer;
    port.SetDeviceIo(&writer);
    Configure(printer.Name());
    ASSERT_EQ(1, port.OpenPort(DEVTYPE_LABEL));
    int opens = Count(LogText(), "-OpenPortUSB success");

    writer.failNext = ERROR_INVALID_HANDLE;
    EXPECT_EQ(0, port.writePort(reinterpret_cast<const BYTE*>("A"), 1, DEVTYPE_LABEL));
    std::string log = LogText();
    EXPECT_NE(std::string::npos, log.find("!ERROR: Write: Failed GetLastError 6 trying close/open"));
    EXPECT_EQ(opens + 1, Count(log, "-OpenPortUSB success"));  // opened again, once
    EXPECT_EQ(PS_ONLINE, port.IsPowerState());
    EXPECT_EQ(1, port.writePort(reinterpret_cast<const BYTE*>("B"), 1, DEVTYPE_LABEL));
    ASSERT_TRUE(WaitFor([&] { return printer.Received() == "B"; }));

    writer.failNext = ERROR_ACCESS_DENIED;
    EXPECT_EQ(0, port.writePort(reinterpret_cast<const BYTE*>("C"), 1, DEVTYPE_LABEL));
    EXPECT_NE(std::string::npos, LogText().find("Write: Failed GetLastError 5 trying close/open"));
    EXPECT_EQ(PS_ONLINE, port.IsPowerState());

    // The printer gone for good: the re-open fails and the port is off-line.
    sockets.Unplug(printer.Name());
    printer.Unplug();
    ASSERT_TRUE(WaitFor([&] { return port.IsPowerState() == PS_OFFLINE; }));
    EXPECT_EQ(0, port.writePort(reinterpret_cast<const BYTE*>("D"), 1, DEVTYPE_LABEL));
    std::string lines = LogText();
    EXPECT_NE(std::string::npos, lines.find("<LABEL> disconnect in write"));
    EXPECT_EQ(std::string::npos, lines.find("!ERROR: disconnect in write"));
    EXPECT_EQ(PS_OFFLINE, port.IsPowerState());
}

TEST_F(UsbPortFixture, AWriteThatNeverCompletesEndsAtItsBound)
{
    // 50 ms per byte plus 5 s, whatever the device key's serial write time-outs say; capped
    // only where the product would overflow.
    EXPECT_EQ(5000u + 50u * 10u, port.WriteBound(10));
    EXPECT_EQ(50u * 100100u, port.WriteBound(100000));
    EXPECT_EQ(0x7FFFFFFFu, port.WriteBound(0x7FFFFFFF));

    CPipeDevice printer(UsbPipeName("1234", "5678", "stall"), false, 512);
    sockets.Plug(printer.Name());
    Configure(printer.Name(), 512, 1, 300);  // the device key's write time-outs: not used
    ASSERT_EQ(1, port.OpenPort(DEVTYPE_LABEL));
    // The pipe takes the first bytes into its buffer; the next write waits for a reader that
    // never comes and ends at its bound of 5 s plus 50 ms per byte.
    std::vector<BYTE> fill(400, 0x44);
    ASSERT_EQ(400, port.writePort(fill.data(), 400, DEVTYPE_LABEL));

    std::vector<BYTE> data(200, 0x55);
    std::atomic<int> result{-1};
    std::thread writer([&] { result = port.writePort(data.data(), int(data.size()), DEVTYPE_LABEL); });
    bool ended = WaitFor([&] { return result != -1; }, 90000);
    writer.join();
    ASSERT_TRUE(ended);
    EXPECT_LT(result.load(), int(data.size()));
    EXPECT_NE(std::string::npos, LogText().find("!ERROR: timeout error"));
    // The caller's buffer is the caller's again: whatever the device takes later is not it.
    std::fill(data.begin(), data.end(), BYTE(0xEE));
    printer.StartReading();
    ASSERT_EQ(3, port.writePort(reinterpret_cast<const BYTE*>("END"), 3, DEVTYPE_LABEL));
    ASSERT_TRUE(WaitFor([&] {
        std::string r = printer.Received();
        return r.size() >= 3 && r.compare(r.size() - 3, 3, "END") == 0;
    }));
    EXPECT_EQ(std::string::npos, printer.Received().find('\xEE'));
}

// A driver that ignores a cancel of all of a handle's I/O (a cancel of one operation works).
class CIgnoresCancelAll : public CUsbDeviceIo
{
public:
    BOOL Cancel(HANDLE device, OVERLAPPED* ov) override { return ov ? CUsbDeviceIo::Cancel(device, ov) : TRUE; }
};

// The printer is pulled while a write waits at it: the connection check drops the handle and
// waits for that write, and ClosePort ends the check thread by force in that wait. The device
// handle is still closed: the printer sees its client go.
TEST_F(UsbPortFixture, AHandleDroppedByACheckThreadEndedByForceIsClosed)
{
    CPipeDevice printer(UsbPipeName("1234", "5678", "drop"), false, 512);
    sockets.Plug(printer.Name());
    CIgnoresCancelAll io;
    port.SetDeviceIo(&io);
    Configure(printer.Name(), 512, 0, 0, 3);
    ASSERT_EQ(1, port.OpenPort(DEVTYPE_LABEL));
    std::vector<BYTE> fill(400, 0x44);
    ASSERT_EQ(400, port.writePort(fill.data(), 400, DEVTYPE_LABEL));
    std::vector<BYTE> data(200, 0x55);
    std::atomic<int> result{-1};
    std::thread writer([&] { result = port.writePort(data.data(), int(data.size()), DEVTYPE_LABEL); });
    ASSERT_TRUE(WaitFor([&] { return Count(LogText(), "Port Write ERROR_IO_PENDING") == 1; }, 30000));
    sockets.Unplug(printer.Name());
    ASSERT_TRUE(WaitFor([&] { return Count(LogText(), "+ClosePortUSB") >= 1; }, 30000));
    port.ClosePort(DEVTYPE_LABEL);
    EXPECT_EQ(1, Count(LogText(), "ClosePort : TerminateThread USB ConnCheckThread."));
    printer.StartReading();
    EXPECT_TRUE(WaitFor([&] { return printer.Clients() == 0; }, 30000)) << printer.Clients();
    EXPECT_TRUE(WaitFor([&] { return result != -1; }, 60000));
    writer.join();
}

TEST_F(UsbPortFixture, ManyFramesWithAZeroInBufferSize)
{
    CPipeDevice printer(UsbPipeName("1234", "5678", "frames"));
    sockets.Plug(printer.Name());
    Configure(printer.Name(), 0);
    ASSERT_EQ(1, port.OpenPort(DEVTYPE_LABEL));
    std::string frames;
    for (int i = 0; i < 6; ++i) {
        const char f[4] = {char(0x10 + 4 * (i % 4)), char(1 << (i % 4)), 0, 0};
        frames.append(f, 4);
    }
    frames += "Z";  // a data byte after the frames shows all of them were read
    ASSERT_TRUE(printer.Send(frames));
    EXPECT_EQ("Z", ReadAll(1));
    // Four unread frames are kept and the fifth replaces them: frames 5 and 6 remain.
    int asb = 0;
    ASSERT_EQ(1, port.GetASBState(&asb, DEVTYPE_LABEL));
    EXPECT_EQ(0x0110, asb);
    ASSERT_EQ(1, port.GetASBState(&asb, DEVTYPE_LABEL));
    EXPECT_EQ(0x0214, asb);
    EXPECT_EQ(0, port.GetASBState(&asb, DEVTYPE_LABEL));
}

// A driver whose reads never complete, not even when cancelled: each read stays pending. The
// first cancel waits for the test's gate, so the read thread cannot end before the test let it.
class CStuckReader : public CUsbDeviceIo
{
public:
    HANDLE gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<int> reads{0}, cancels{0};
    ~CStuckReader() override { CloseHandle(gate); }
    BOOL Read(HANDLE, void*, DWORD, OVERLAPPED*) override
    {
        ++reads;
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }
    BOOL Cancel(HANDLE device, OVERLAPPED* ov) override
    {
        if (ov == nullptr)  // the close's cancel of everything: the handle's own I/O
            return CUsbDeviceIo::Cancel(device, ov);
        if (++cancels == 1)
            WaitForSingleObject(gate, 60000);
        return TRUE;
    }
};

// The read thread gives up on a read whose cancel never ends: the port reports off-line with its
// error line instead of looking on-line while nothing is read any more.
TEST_F(UsbPortFixture, AReadThreadThatEndsOnItsOwnLeavesThePortOffLine)
{
    CPipeDevice printer(UsbPipeName("1234", "5678", "stuckread"));
    sockets.Plug(printer.Name());
    CStuckReader reader;
    struct Closer  // before the reader goes, even when an assertion ends the test early
    {
        CStuckReader& r;
        CPortUsb& p;
        ~Closer()
        {
            SetEvent(r.gate);
            p.CloseIfOpen();
        }
    } closer{reader, port};
    port.SetDeviceIo(&reader);
    Configure(printer.Name());
    ASSERT_EQ(1, port.OpenPort(DEVTYPE_LABEL));
    // The thread is held in its first cancel at the latest: still on-line.
    EXPECT_EQ(PS_ONLINE, port.IsPowerState());
    SetEvent(reader.gate);
    ASSERT_TRUE(WaitFor([&] { return LogText().find("***************** Port Read Thread End ***********") !=
                                     std::string::npos; }, 60000));
    EXPECT_EQ(PS_OFFLINE, port.IsPowerState());
    std::string log = LogText();
    EXPECT_EQ(1, Count(log, "!ERROR: ReadThread: cancelled read did not end"));
    EXPECT_EQ(1, Count(log, "!ERROR: ReadThread : ended before ClosePort, PowerState : 2003"));
    EXPECT_EQ(1, reader.reads.load());
    port.ClosePort(DEVTYPE_LABEL);
    EXPECT_FALSE(port.ThreadsRunning());
    EXPECT_EQ(std::string::npos, LogText().find("ClosePort : TerminateThread"));
}

// A printer that serves no threads of its own, so the process's threads are the port's: a pipe
// with enough waiting instances for the device list's probes.
struct CQuietPipeDevice
{
    explicit CQuietPipeDevice(const std::string& name) : name(name)
    {
        for (int i = 0; i < 300; ++i)
            pipes.push_back(CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED, PIPE_TYPE_BYTE,
                                             PIPE_UNLIMITED_INSTANCES, 512, 512, 0, nullptr));
    }
    ~CQuietPipeDevice() { Unplug(); }
    void Unplug()
    {
        for (HANDLE h : pipes)
            if (h != INVALID_HANDLE_VALUE)
                CloseHandle(h);
        pipes.clear();
    }
    std::string name;
    std::vector<HANDLE> pipes;
};

TEST_F(UsbPortFixture, ThreadsStartOnceAndStopAtClose)
{
    CQuietPipeDevice printer(UsbPipeName("1234", "5678", "threads"));
    sockets.Plug(printer.name);
    Configure(printer.name, 512, 0, 0, 3);
    int before = ProcessThreads();
    ASSERT_EQ(1, port.OpenPort(DEVTYPE_LABEL));
    int open = ProcessThreads();
    EXPECT_EQ(before + 2, open);
    EXPECT_EQ(1, port.OpenPort(DEVTYPE_LABEL));
    EXPECT_EQ(open, ProcessThreads());

    // Also while unplugged (handle closed, threads running).
    sockets.Unplug(printer.name);
    printer.Unplug();
    ASSERT_TRUE(WaitFor([&] { return port.IsPowerState() == PS_OFFLINE; }));
    EXPECT_EQ(PS_OFFLINE, port.IsPowerState(DEVTYPE_CASHDRAWER));
    EXPECT_EQ(1, port.OpenPort(DEVTYPE_LABEL));
    EXPECT_EQ(open, ProcessThreads());

    port.ClosePort(DEVTYPE_LABEL);
    EXPECT_FALSE(port.ThreadsRunning());
    EXPECT_TRUE(WaitFor([&] { return ProcessThreads() == before; }));
    std::string log = LogText();
    EXPECT_EQ(std::string::npos, log.find("ClosePort : TerminateThread"));  // both ended by themselves
    EXPECT_NE(std::string::npos, log.find("***************** Port Read Thread End ***********"));
    EXPECT_NE(std::string::npos, log.find("****************** USB Check Thread End *****************"));
    // The caller's lines carry its class tag: no wait line in the untagged form.
    EXPECT_EQ(std::string::npos, log.find(") ClosePort : wait Terminate"));
    EXPECT_NE(std::string::npos, log.find(") <LABEL> ClosePort : m_TerminateEvent.SetEvent"));
    EXPECT_NE(std::string::npos, log.find(") <CASHDRAWER> IsPowerState : 2003"));
}

}  // namespace

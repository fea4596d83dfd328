// com.dll on a pty COM port against the printer simulator, through its exports.
#include "ComSimTest.h"

#include <cstdio>
#include <cstring>
#include <thread>

namespace {

class ComDllSim : public ComSimTest
{
protected:
    void SetUp() override
    {
        ComSimTest::SetUp();
        ASSERT_TRUE(com.Load()) << GetLastError();
    }
    void TearDown() override
    {
        if (id) {
            com.ClosePort(id, DEVTYPE_LABEL);
            com.DeletePort(id);
        }
        ComSimTest::TearDown();
    }

    int OpenLogged(DWORD useBinary, DWORD usePortLog)
    {
        id = com.CreateLogged(useBinary, usePortLog, logs.Path());
        EXPECT_EQ(com.SetDeviceOption(id, ComOption(portName), DEVTYPE_LABEL), 1);
        return com.OpenPort(id, DEVTYPE_LABEL);
    }
    std::vector<BYTE> Read(size_t n)
    {
        return ReadAll([&](BYTE* b, int len) { return com.Read(b, len, 200, id, DEVTYPE_LABEL); }, n);
    }
    int WriteAll(const std::vector<BYTE>& b) { return com.Write(b.data(), int(b.size()), id, DEVTYPE_LABEL); }

    ComDll com;
    int id = 0;
};

TEST_F(ComDllSim, RoundTripExactBytesCountAndDump)
{
    ASSERT_EQ(OpenLogged(1, 1), 1);
    // Every byte value, and the XON/XOFF and NUL bytes in a row.
    std::vector<BYTE> label;
    for (int i = 0; i < 256; ++i)
        label.push_back(BYTE(i));
    for (BYTE b : {0x00, 0x11, 0x13, 0x00, 0x13, 0x11, 0x0D, 0x0A})
        label.push_back(b);
    std::vector<BYTE> second = {'P', '1', '\r', '\n', 0x00};
    EXPECT_EQ(WriteAll(label), int(label.size()));
    EXPECT_EQ(WriteAll(second), int(second.size()));
    std::vector<BYTE> all = label;
    all.insert(all.end(), second.begin(), second.end());
    qlks::Bytes got = Received(all.size());
    EXPECT_EQ(std::vector<BYTE>(got.begin(), got.end()), all);
    EXPECT_TRUE(WaitFor([&] { return com.IsPowerState(id, DEVTYPE_LABEL) == PS_ONLINE; }));

    com.ClosePort(id, DEVTYPE_LABEL);
    std::string dump;
    for (const std::string& f : logs.List("Log"))
        if (f.rfind("ComPRN_" + std::to_string(id) + "_", 0) == 0)
            dump += ReadWholeFile(logs.File("Log\\" + f));
    EXPECT_EQ(dump, std::string(all.begin(), all.end()));
}

TEST_F(ComDllSim, ReceivedBytesReachReadExactly)
{
    ASSERT_EQ(OpenLogged(0, 1), 1);
    qlks::Bytes sent = Bytes({0x41, 0x00, 0x11, 0x13, 0x42, 0x0D, 0x0A, 0x00});
    ASSERT_TRUE(sim.send(ep, sent)) << sim.error();
    std::vector<BYTE> got = Read(sent.size());
    EXPECT_EQ(got, std::vector<BYTE>(sent.begin(), sent.end()));
    // Nothing more came.
    BYTE extra[4];
    EXPECT_EQ(com.Read(extra, 4, 0, id, DEVTYPE_LABEL), 0);
    // Each read's line carries what it queued. The line is written just after the bytes are
    // queued (Read can get there first), and the device may hand them over in more than one read.
    std::string logged;
    EXPECT_TRUE(WaitFor([&] {
        logged.clear();
        for (const std::string& l : LogLines(logs)) {
            const std::string t = LineText(l);
            size_t colon = t.find(" : ");
            if (t.rfind("Input ", 0) == 0 && colon != std::string::npos)
                logged += (logged.empty() ? "" : " ") + t.substr(colon + 3);
        }
        return logged.size() >= 23;
    }));
    EXPECT_EQ(logged, "41 00 11 13 42 0d 0a 00");
}

TEST_F(ComDllSim, StatusFramesAndALoneAnswerByte)
{
    ASSERT_EQ(OpenLogged(0, 1), 1);
    int asb = 0;
    ASSERT_TRUE(sim.frame(ep, "asb", Bytes({0x10, 0x00, 0x00, 0x00}))) << sim.error();
    ASSERT_TRUE(WaitFor([&] { return com.GetASBState(&asb, id, DEVTYPE_LABEL) == 1; }));
    EXPECT_EQ(asb, 0x10);
    ASSERT_TRUE(sim.frame(ep, "iasb", Bytes({0x35, 0x40, 0x41, 0x00}))) << sim.error();
    ASSERT_TRUE(WaitFor([&] { return com.GetASBState(&asb, id, DEVTYPE_LABEL) == 1; }));
    EXPECT_EQ(asb, 0x00414035);
    EXPECT_EQ(com.ReadAvailable(id, DEVTYPE_LABEL), 0);

    // The printer's one-byte status answer is also a valid first frame byte: it is data once
    // nothing follows it.
    ASSERT_TRUE(sim.send(ep, Bytes({0x10}))) << sim.error();
    std::vector<BYTE> answer = Read(1);
    EXPECT_EQ(answer, std::vector<BYTE>({0x10}));
    EXPECT_EQ(com.GetASBState(&asb, id, DEVTYPE_LABEL), 0);

    // Data, a frame and more data: the data keeps its order, the frame goes to the status.
    ASSERT_TRUE(sim.send(ep, Bytes({'a', 'b'}))) << sim.error();
    ASSERT_TRUE(sim.frame(ep, "asb", Bytes({0x14, 0x08, 0x0C, 0x4F}))) << sim.error();
    ASSERT_TRUE(sim.send(ep, Bytes({'c'}))) << sim.error();
    EXPECT_EQ(Read(3), std::vector<BYTE>({'a', 'b', 'c'}));
    ASSERT_TRUE(WaitFor([&] { return com.GetASBState(&asb, id, DEVTYPE_LABEL) == 1; }));
    EXPECT_EQ(unsigned(asb), 0x4F0C0814u);
}

TEST_F(ComDllSim, ReadTimeOuts)
{
    ASSERT_EQ(OpenLogged(0, 0), 1);
    BYTE buf[10];
    // Timeout 0: one pass over what is there.
    EXPECT_EQ(com.Read(buf, 10, 0, id, DEVTYPE_LABEL), 0);
    ASSERT_TRUE(sim.send(ep, Bytes({1, 2, 3, 4}))) << sim.error();
    ASSERT_TRUE(WaitFor([&] { return com.ReadAvailable(id, DEVTYPE_LABEL) == 4; }));
    EXPECT_EQ(com.Read(buf, 2, 0, id, DEVTYPE_LABEL), 2);
    EXPECT_EQ(buf[0], 1);
    EXPECT_EQ(buf[1], 2);
    // Fewer bytes than asked: what came within the time-out.
    DWORD start = GetTickCount();
    EXPECT_EQ(com.Read(buf, 10, 300, id, DEVTYPE_LABEL), 2);
    EXPECT_GE(GetTickCount() - start, 300u);
    EXPECT_EQ(buf[0], 3);
    EXPECT_EQ(buf[1], 4);
    // Clear empties the queue.
    ASSERT_TRUE(sim.send(ep, Bytes({5, 6}))) << sim.error();
    ASSERT_TRUE(WaitFor([&] { return com.ReadAvailable(id, DEVTYPE_LABEL) == 2; }));
    com.Clear(id, DEVTYPE_LABEL);
    EXPECT_EQ(com.ReadAvailable(id, DEVTYPE_LABEL), 0);
}

TEST_F(ComDllSim, DoubleOpenStartsOneThread)
{
    ASSERT_EQ(OpenLogged(0, 1), 1);
    EXPECT_EQ(com.OpenPort(id, DEVTYPE_LABEL), 1);
    EXPECT_EQ(com.SetWrite(1, id, DEVTYPE_LABEL), 1);
    com.ClosePort(id, DEVTYPE_LABEL);
    std::vector<std::string> lines = LogLines(logs);
    EXPECT_EQ(CountLines(lines, "<LABEL> +OpenPort : Serial dll"), 2);
    EXPECT_EQ(CountLines(lines, "<LABEL> -OpenPort success"), 1);
    EXPECT_EQ(CountLines(lines, "***************** Port Read Thread Start ***********"), 1);
    EXPECT_EQ(CountLines(lines, "***************** Port Read Thread End ***********"), 1);
}

TEST_F(ComDllSim, OpenAndCloseLinesByTheirGates)
{
    ASSERT_EQ(OpenLogged(0, 1), 1);
    ASSERT_TRUE(WaitFor([&] { return com.IsPowerState(id, DEVTYPE_LABEL) == PS_ONLINE; }));
    std::vector<BYTE> five = {'^', 'c', 'u', '\r', '\n'};
    EXPECT_EQ(WriteAll(five), 5);
    com.ClosePort(id, DEVTYPE_LABEL);
    std::vector<std::string> lines = LogLines(logs);
    // The test prefix is 64-bit and this process 32-bit.
    EXPECT_EQ(CountLines(lines, "<LABEL> This OS is 64bits version"), 1);
    EXPECT_EQ(CountLines(lines, "<LABEL> strPortName : " + portName), 1);
    EXPECT_EQ(CountLines(lines, "<LABEL> !ERROR: m_dop.dwInBufSize : 4096"), 1);
    EXPECT_EQ(CountLines(lines, "Serial On-line signal"), 1);
    EXPECT_EQ(CountLines(lines, "<LABEL> -ClosePort : Success"), 1);
    EXPECT_EQ(CountLines(lines, "<LABEL> +Port Write(dwWritten : 5)"), 0);
    EXPECT_EQ(CountLines(lines, "<LABEL> ClosePort : call CancelIo"), 0);
    // The order of the open's lines.
    std::vector<std::string> open;
    for (const std::string& l : lines)
        if (LineText(l).find("OpenPort") != std::string::npos || LineText(l).find("strPortName") != std::string::npos)
            open.push_back(LineText(l));
    EXPECT_EQ(open, std::vector<std::string>({"<LABEL> +OpenPort : Serial dll", "<LABEL> strPortName : " + portName,
                                              "<LABEL> -OpenPort success"}));
}

TEST_F(ComDllSim, TraceLinesOfWriteAndRead)
{
    ASSERT_EQ(OpenLogged(0, 3), 1);
    std::vector<BYTE> five = {'S', 'T', '1', '\r', '\n'};
    EXPECT_EQ(WriteAll(five), 5);
    ASSERT_TRUE(sim.send(ep, Bytes({0x41, 0x42}))) << sim.error();
    EXPECT_EQ(Read(2), std::vector<BYTE>({0x41, 0x42}));
    com.ClosePort(id, DEVTYPE_LABEL);
    std::vector<std::string> lines = LogLines(logs);
    EXPECT_EQ(CountLines(lines, "<LABEL> +Port Write(dwWritten : 5)"), 1);
    EXPECT_EQ(CountLines(lines, "Port Write lock"), 1);
    EXPECT_EQ(CountLines(lines, "<LABEL> OlapOutEvent.ResetEvent"), 1);
    EXPECT_EQ(CountLines(lines, "<LABEL> WriteFile"), 1);
    EXPECT_EQ(CountLines(lines, "<LABEL> -Port Write(dwWrittenResult : 5)"), 1);
    EXPECT_GE(CountLines(lines, "<LABEL> -Port Read(nRead : 2)") + CountLines(lines, "<LABEL> -Port Read(nRead : 1)"), 1);
    EXPECT_GE(CountLines(lines, "2filter Input byte : 41"), 1);
    EXPECT_EQ(CountLines(lines, "<LABEL> ClosePort : call CancelIo"), 1);
}

TEST_F(ComDllSim, AfterCloseTheDeviceIsFreeAndOpensAgain)
{
    ASSERT_EQ(OpenLogged(0, 1), 1);
    EXPECT_FALSE(DeviceIsFree());
    com.ClosePort(id, DEVTYPE_LABEL);
    // At once, no retry: the handle is gone when ClosePort returns.
    EXPECT_TRUE(DeviceIsFree());
    BYTE b[3] = {'x', 'y', 'z'};
    EXPECT_EQ(com.Write(b, 3, id, DEVTYPE_LABEL), 0);
    EXPECT_EQ(com.Read(b, 3, 0, id, DEVTYPE_LABEL), 0);
    EXPECT_EQ(com.SetWrite(1, id, DEVTYPE_LABEL), 0);
    EXPECT_EQ(com.ReadAvailable(id, DEVTYPE_LABEL), 0);
    std::vector<std::string> lines = LogLines(logs);
    EXPECT_EQ(CountLines(lines, "<LABEL> !ERROR: -Port Write : fail to invalid parameters"), 1);
    EXPECT_EQ(CountLines(lines, "<LABEL> !ERROR: -Port Read : fail to invalid parameters"), 1);

    ASSERT_EQ(com.OpenPort(id, DEVTYPE_LABEL), 1);
    EXPECT_EQ(com.Write(b, 3, id, DEVTYPE_LABEL), 3);
    qlks::Bytes got = Received(3);
    EXPECT_EQ(got, Bytes({'x', 'y', 'z'}));
    ASSERT_TRUE(sim.send(ep, Bytes({0x42}))) << sim.error();
    EXPECT_EQ(Read(1), std::vector<BYTE>({0x42}));
}

TEST_F(ComDllSim, DeleteOfAnOpenPortClosesIt)
{
    ASSERT_EQ(OpenLogged(0, 1), 1);
    EXPECT_EQ(com.DeletePort(id), 1);
    id = 0;
    EXPECT_TRUE(DeviceIsFree());
    std::vector<std::string> lines = LogLines(logs);
    EXPECT_EQ(CountLines(lines, "***************** Port Read Thread End ***********"), 1);
    EXPECT_EQ(CountLines(lines, "~CPortCom"), 1);
}

TEST_F(ComDllSim, ClosePortOrACancelOfItsClassEndsAWriteBlockedAtThePrinter)
{
    struct Row
    {
        const char* what;
        bool close;  // false: CancelWrites of another class, then of the write's own; the port stays open
    } rows[] = {{"ClosePort", true}, {"CancelWrites", false}};
    for (const Row& r : rows) {
        ASSERT_EQ(OpenLogged(0, 3), 1) << r.what;
        ASSERT_TRUE(sim.fault(ep, "stopread")) << sim.error();
        std::vector<BYTE> big(1 << 20, 'L');
        const int pendings = CountLines(logs, "<LABEL> Port Write ERROR_IO_PENDING");
        std::atomic<int> written{-1};
        std::thread writer([&] { written = WriteAll(big); });
        // The write is pending at the driver once its line is in the log.
        bool pending = WaitFor([&] { return CountLines(logs, "<LABEL> Port Write ERROR_IO_PENDING") > pendings; }, 20000);
        bool otherClassEnded = false;
        std::atomic<bool> closed{false};
        std::thread closer([&] {
            if (r.close) {
                com.ClosePort(id, DEVTYPE_LABEL);
            } else {
                // Another class's cancel leaves the label's write waiting (it looks ten times a second).
                com.CancelWrites(id, 2);
                otherClassEnded = WaitFor([&] { return written.load() >= 0; }, 1500);
                com.CancelWrites(id, DEVTYPE_LABEL);
            }
            closed = true;
        });
        // Without the cancel both would wait for ever; the bound only catches that hang.
        bool closeReturned = WaitFor([&] { return closed.load(); }, 20000);
        bool writeReturned = WaitFor([&] { return written.load() >= 0; }, 20000);
        EXPECT_TRUE(pending) << r.what;
        EXPECT_TRUE(closeReturned) << r.what;
        EXPECT_TRUE(writeReturned) << r.what;
        EXPECT_FALSE(otherClassEnded) << r.what;
        if (!closeReturned || !writeReturned) {
            // Let the printer read, so the threads can end and the test can finish.
            sim.fault(ep, "read");
        }
        closer.join();
        writer.join();
        EXPECT_LT(written.load(), int(big.size())) << r.what;
        ASSERT_TRUE(sim.fault(ep, "read")) << sim.error();
        if (r.close) {
            EXPECT_TRUE(DeviceIsFree());
            EXPECT_EQ(com.DeletePort(id), 1);
            id = 0;
            continue;
        }
        EXPECT_EQ(CountLines(logs, "<LABEL> !ERROR: Port Write : cancelled by CancelWrites"), 1);
        // The port stays open for the other class: the next write goes out whole.
        const std::string label = "SL406,24,G,0\r\nP1\r\n";
        EXPECT_EQ(com.Write(reinterpret_cast<const BYTE*>(label.data()), int(label.size()), id, DEVTYPE_LABEL),
                  int(label.size()));
        com.ClosePort(id, DEVTYPE_LABEL);
    }
}

// One Write on a thread of its own (one that may be ended by force).
struct WriteJob
{
    ComDll* com;
    int id;
    std::vector<BYTE> bytes;
    static DWORD WINAPI Run(LPVOID p)
    {
        WriteJob* j = static_cast<WriteJob*>(p);
        return DWORD(j->com->Write(j->bytes.data(), int(j->bytes.size()), j->id, DEVTYPE_LABEL));
    }
};

// A writer ended by force while its write waits at the printer holds up the close of its own
// open only: the next open counts its writers from zero, and its close does not wait again.
TEST_F(ComDllSim, AWriterEndedByForceHoldsUpOnlyTheCloseOfItsOwnOpen)
{
    ASSERT_EQ(OpenLogged(0, 3), 1);
    ASSERT_TRUE(sim.fault(ep, "stopread")) << sim.error();
    WriteJob job{&com, id, std::vector<BYTE>(1 << 20, 'L')};
    HANDLE writer = CreateThread(nullptr, 0, WriteJob::Run, &job, 0, nullptr);
    ASSERT_TRUE(writer);
    bool pending = WaitFor([&] { return CountLines(logs, "<LABEL> Port Write ERROR_IO_PENDING") == 1; }, 20000);
    TerminateThread(writer, 1);
    WaitForSingleObject(writer, 30000);
    CloseHandle(writer);
    ASSERT_TRUE(pending);
    const std::string waited = "!ERROR: CloseDevice : 1 writes still in flight after 3000 ms";
    com.ClosePort(id, DEVTYPE_LABEL);
    EXPECT_EQ(CountLines(logs, waited), 1);
    ASSERT_TRUE(sim.fault(ep, "read")) << sim.error();

    ASSERT_EQ(com.OpenPort(id, DEVTYPE_LABEL), 1);
    const std::string label = "SL406,24,G,0\r\nP1\r\n";
    EXPECT_EQ(com.Write(reinterpret_cast<const BYTE*>(label.data()), int(label.size()), id, DEVTYPE_LABEL),
              int(label.size()));
    com.ClosePort(id, DEVTYPE_LABEL);
    EXPECT_EQ(CountLines(logs, waited), 1);
    EXPECT_TRUE(DeviceIsFree());
}

// A ClosePort right after each Write, as a Service Object's release after a synchronous label:
// a pty reports no output queue, so the close must not clear what the printer has not read yet.
TEST_F(ComDllSim, OpenWriteCloseCyclesDeliverEveryLabelWhole)
{
    id = com.CreateLogged(0, 1, logs.Path());
    ASSERT_EQ(com.SetDeviceOption(id, ComOption(portName), DEVTYPE_LABEL), 1);
    const int cycles = 100;
    std::vector<std::string> sent;
    std::string all;
    for (int i = 0; i < cycles; ++i) {
        char label[160];
        std::snprintf(label, sizeof label, "SL406,24,G,0\r\nCUTn\r\nT26,20,3,1,1,0,0,N,N,F,'cycle %03d %s'\r\nP1\r\n",
                      i, std::string(40, char('A' + i % 26)).c_str());
        ASSERT_EQ(com.OpenPort(id, DEVTYPE_LABEL), 1) << i;
        ASSERT_EQ(com.Write(reinterpret_cast<const BYTE*>(label), int(std::strlen(label)), id, DEVTYPE_LABEL),
                  int(std::strlen(label)))
            << i;
        com.ClosePort(id, DEVTYPE_LABEL);
        sent.push_back(label);
        all += label;
    }
    // A lost label never comes: the bound only ends the wait.
    sim.waitFor(ep, "bytes", long(all.size()), 20000);
    qlks::Bytes got = sim.transcript(ep);
    EXPECT_EQ(std::string(got.begin(), got.end()), all);
    std::vector<qlks::Label> labels = sim.labels(ep);
    int whole = 0;
    for (size_t i = 0; i < labels.size() && i < sent.size(); ++i)
        whole += labels[i].complete && std::string(labels[i].raw.begin(), labels[i].raw.end()) == sent[i] ? 1 : 0;
    EXPECT_EQ(whole, cycles);
}

}  // namespace

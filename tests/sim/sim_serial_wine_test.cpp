// A Windows program on the simulator's COM port under Wine: what it writes arrives exactly,
// and the status answer and injected frames reach it.
#include "simclient.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

using qlks::Bytes;
using vesksim::SimClient;

namespace {

Bytes bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

const std::string kSetup = "SW832\r\nST1\r\nSM0,0\r\nSS4\r\nSD10\r\nSO0\r\nSA0\r\nTA0\r\nCS0,0\r\nCUTn\r\n";

class ComPort : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sim.connected()) << sim.error();
        ep = sim.serial(&com);
        ASSERT_GE(ep, 0) << sim.error();
        const std::string name = "\\\\.\\COM" + std::to_string(com);
        h = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << name << " error " << GetLastError();
        // Flow control none: XON/XOFF bytes are data both ways.
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        ASSERT_TRUE(GetCommState(h, &dcb));
        dcb.BaudRate = CBR_115200;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = TRUE;
        dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = FALSE;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        dcb.fOutX = dcb.fInX = FALSE;
        dcb.fDsrSensitivity = FALSE;
        dcb.fNull = FALSE;
        ASSERT_TRUE(SetCommState(h, &dcb)) << GetLastError();
        // A read returns what is there, or waits up to 200 ms for a first byte.
        COMMTIMEOUTS to{MAXDWORD, MAXDWORD, 200, 0, 10000};
        ASSERT_TRUE(SetCommTimeouts(h, &to)) << GetLastError();
    }
    void TearDown() override
    {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        if (ep >= 0) {
            EXPECT_TRUE(sim.closeEndpoint(ep)) << sim.error();
        }
    }

    void write(const Bytes& b)
    {
        DWORD n = 0;
        ASSERT_TRUE(WriteFile(h, b.data(), static_cast<DWORD>(b.size()), &n, nullptr)) << GetLastError();
        ASSERT_EQ(n, b.size());
    }

    // n bytes, or what came within a generous bound.
    Bytes read(std::size_t n)
    {
        Bytes out;
        const DWORD start = GetTickCount();
        while (out.size() < n && GetTickCount() - start < 20000) {
            std::uint8_t buf[65536];
            DWORD got = 0;
            DWORD want = static_cast<DWORD>(std::min(sizeof buf, n - out.size()));
            if (!ReadFile(h, buf, want, &got, nullptr) && GetLastError() != ERROR_TIMEOUT) break;
            out.insert(out.end(), buf, buf + got);
        }
        return out;
    }

    SimClient sim;
    int ep = -1, com = 0;
    HANDLE h = INVALID_HANDLE_VALUE;
};

} // namespace

TEST_F(ComPort, WrittenBytesArriveExactly)
{
    // Every byte value a transport must pass untouched, inside a raster payload.
    Bytes raster = {'L', 'D', 0, 0, 0, 0, 8, 0, 1, 0, 0x00, 0x11, 0x13, '\r', '\n', 0xFF, 0x7F, 0x80, '\r', '\n'};
    Bytes label = bytes(kSetup);
    label.insert(label.end(), raster.begin(), raster.end());
    const Bytes end = bytes("P1\r\n");
    label.insert(label.end(), end.begin(), end.end());
    Bytes all = {0x00};
    all.insert(all.end(), label.begin(), label.end());
    write(all);
    ASSERT_TRUE(sim.waitLabels(ep, 1)) << sim.error();
    EXPECT_EQ(sim.transcript(ep), all);
    auto labels = sim.labels(ep);
    ASSERT_EQ(labels.size(), 1u);
    EXPECT_EQ(labels[0].flags, 0u) << qlks::describe(labels[0]);
    ASSERT_TRUE(labels[0].find(qlks::Op::Raster));
    EXPECT_EQ(labels[0].find(qlks::Op::Raster)->pixels, (Bytes{0x00, 0x11, 0x13, '\r', '\n', 0xFF, 0x7F, 0x80}));
    vesksim::Counts c;
    ASSERT_TRUE(sim.counts(ep, c));
    EXPECT_EQ(c.keepalive, 1);

    // All 256 byte values in one write.
    Bytes every(256);
    for (int i = 0; i < 256; ++i) every[i] = static_cast<std::uint8_t>(i);
    ASSERT_TRUE(sim.clear(ep));
    write(every);
    ASSERT_TRUE(sim.waitFor(ep, "bytes", 256)) << sim.error();
    EXPECT_EQ(sim.transcript(ep), every);
}

TEST_F(ComPort, StatusAnswerArrivesAndInitGetsNone)
{
    ASSERT_TRUE(sim.setStatus(ep, 0x20));
    write({0x40});
    ASSERT_TRUE(sim.waitFor(ep, "init", 1)) << sim.error();
    write(bytes("^cu\r\n"));
    EXPECT_EQ(read(1), Bytes{0x20}) << "the first byte back is the answer to the request";
    ASSERT_TRUE(sim.setStatus(ep, 0x00, 200));
    write(bytes("^cu\r\n"));
    EXPECT_EQ(read(1), Bytes{0x00});
}

TEST_F(ComPort, InjectedFramesArriveWholeSplitAndInBursts)
{
    vesksim::SendOptions byteByByte{1, 30, 1, 0}, halves{2, 50, 1, 0}, burst{0, 0, 4, 0};
    ASSERT_TRUE(sim.frame(ep, "asb", {0x10, 0x00, 0x00, 0x00}));
    ASSERT_TRUE(sim.frame(ep, "iasb", {0x35, 0x40, 0x40, 0x00}, byteByByte));
    ASSERT_TRUE(sim.frame(ep, "asb", {0x14, 0x08, 0x03, 0x0F}, halves));
    ASSERT_TRUE(sim.frame(ep, "asb", {0x34, 0x00, 0x0C, 0x00}, burst));
    ASSERT_TRUE(sim.send(ep, {'x', 0x10, 0x00, 0x00, 0x00, 'y'}));
    ASSERT_TRUE(sim.fault(ep, "xoff"));
    ASSERT_TRUE(sim.fault(ep, "xon"));
    Bytes want = {0x10, 0, 0, 0, 0x35, 0x40, 0x40, 0x00, 0x14, 0x08, 0x03, 0x0F};
    for (int i = 0; i < 4; ++i) want.insert(want.end(), {0x34, 0x00, 0x0C, 0x00});
    want.insert(want.end(), {'x', 0x10, 0x00, 0x00, 0x00, 'y', 0x13, 0x11});
    EXPECT_EQ(read(want.size()), want);

    ASSERT_TRUE(sim.flood(ep, 50000));
    Bytes flood = read(50000);
    ASSERT_EQ(flood.size(), 50000u);
    EXPECT_EQ(flood[49999], 'a' + 49999 % 26);
}

// A fresh pty COM port of the printer simulator per test.
#pragma once

#include "ComTest.h"
#include "simclient.h"

#include <cstdint>

class ComSimTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sim.connected()) << sim.error();
        ep = sim.serial(&com);
        ASSERT_GE(ep, 0) << sim.error();
        portName = "COM" + std::to_string(com);
        reg.WriteServiceInfo(install.Path());
    }
    void TearDown() override
    {
        if (ep >= 0) {
            EXPECT_TRUE(sim.closeEndpoint(ep)) << sim.error();
        }
    }

    // The bytes the printer received, once there are n of them.
    qlks::Bytes Received(size_t n)
    {
        EXPECT_TRUE(sim.waitFor(ep, "bytes", long(n))) << sim.error();
        return sim.transcript(ep);
    }

    // Serial device handles open in this process. Wine does not enforce the exclusive share
    // mode of a COM port, so the handles are counted: a handle value that takes GetCommState.
    static int OpenComHandles()
    {
        int n = 0;
        for (UINT_PTR v = 4; v < 0x4000; v += 4) {
            DCB dcb = {};
            dcb.DCBlength = sizeof dcb;
            if (GetCommState(reinterpret_cast<HANDLE>(v), &dcb))
                ++n;
        }
        return n;
    }

    // No port holds the device: no serial handle in this process, and an exclusive open of our
    // own succeeds.
    bool DeviceIsFree()
    {
        if (OpenComHandles() != 0)
            return false;
        HANDLE h = CreateFileA(("\\\\.\\" + portName).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return false;
        CloseHandle(h);
        return true;
    }

    static qlks::Bytes Bytes(std::initializer_list<std::uint8_t> b) { return qlks::Bytes(b); }

    vesksim::SimClient sim;
    int ep = -1;
    int com = 0;
    std::string portName;
    CTestRegistry reg;
    CTempFolder install;
    CTempFolder logs;
};

// Reads until n bytes came or a generous bound passed.
template <class ReadFn>
std::vector<BYTE> ReadAll(ReadFn read, size_t n, DWORD boundMs = 20000)
{
    std::vector<BYTE> out;
    DWORD start = GetTickCount();
    while (out.size() < n && GetTickCount() - start < boundMs) {
        BYTE buf[1024];
        int want = int(std::min(sizeof buf, n - out.size()));
        int got = read(buf, want);
        out.insert(out.end(), buf, buf + (got > 0 ? got : 0));
    }
    return out;
}

// Quillan with the real serial transport, loaded through the registry values as installed, on a
// pty COM port of the printer simulator.
#include "QuillanClient.h"
#include "TestEnv.h"
#include "simclient.h"

#include <gtest/gtest.h>

#define SERVICEINFO "Software\\OLEforRetail\\ServiceInfo\\VESK OPOS"
#define POSPRINTER_KEY "Software\\OLEforRetail\\ServiceOPOS\\POSPrinter\\"

namespace {

const char kLabel[] = "SL406,24,G,0\r\nSW812\r\nSTd\r\nSM10,0\r\nSS4\r\nSD8\r\nSOT\r\nSA0\r\nTA0\r\nCS0,0\r\nCUTn\r\n"
                      "T26,20,3,1,1,0,0,N,N,F,'through Quillan'\r\nP1\r\n";

} // namespace

class QuillanComTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sim.connected()) << sim.error();
        ep = sim.serial(&com);
        ASSERT_GE(ep, 0) << sim.error();
        port = "COM" + std::to_string(com);
        reg.WriteServiceInfo(install.Path());
        reg.SetString(SERVICEINFO, "comdir", WinPath(COM_DLL_PATH).c_str());
        std::string key = std::string(POSPRINTER_KEY) + "LBLCOM";
        reg.SetString(key.c_str(), "inf", install.File("lbprn.inf").c_str());
        reg.SetDWORD(key.c_str(), "Log", 1);
        ASSERT_TRUE(q.Load(WinPath(QUILLAN_PATH)));
        ASSERT_EQ(q.LoadChildDll(), 0);
    }

    void TearDown() override
    {
        EXPECT_EQ(q.FreeChildDll(), 0);
        q.Unload();
        if (ep >= 0) {
            EXPECT_TRUE(sim.closeEndpoint(ep)) << sim.error();
        }
    }

    DeviceOption Option(const CString& name)
    {
        DeviceOption dop;
        memset(&dop, 0, sizeof dop);
        dop.strPortName = const_cast<char*>(name.GetString());
        dop.dwBaudRate = 115200;
        dop.dwByteSize = 8;
        dop.dwFlowControl = 2;  // a pty has no modem lines
        dop.dwReadIntervalTimeout = 2;
        dop.dwReadTotalTimeoutConstant = 50;
        dop.dwWriteTotalTimeoutMultiplier = 10;
        dop.dwWriteTotalTimeoutConstant = 5000;
        dop.dwInBufSize = 4096;
        dop.dwOutBufSize = 4096;
        dop.dwBtStackType = 2;  // forced to 0 for a wired COM port
        return dop;
    }

    bool DeviceIsFree()
    {
        HANDLE h = CreateFileA(("\\\\.\\" + port).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return false;
        CloseHandle(h);
        return true;
    }

    vesksim::SimClient sim;
    int ep = -1;
    int com = 0;
    std::string port;
    CTestRegistry reg;
    CTempFolder install;
    QuillanClient q;
};

TEST_F(QuillanComTest, LabelStatusAnswerFramesAndPowerStateTravelThroughQuillan)
{
    int id = q.CreatePort("LBLCOM", port.c_str(), 32);
    ASSERT_EQ(id, 10000);
    CString name(port.c_str());
    ASSERT_EQ(q.SetDeviceOption(Option(name), id, 32), 1);
    ASSERT_EQ(q.OpenPort(id, 32), 1);
    EXPECT_TRUE(WaitFor([&] { return q.IsPowerState(id, 32) == 2001; }, 20000));

    ASSERT_EQ(q.Write(kLabel, id, 32), int(sizeof kLabel - 1));
    ASSERT_TRUE(sim.waitLabels(ep, 1)) << sim.error();
    std::vector<qlks::Label> labels = sim.labels(ep);
    ASSERT_EQ(labels.size(), 1u);
    EXPECT_TRUE(labels[0].complete);
    EXPECT_EQ(labels[0].flags, 0u) << qlks::describe(labels[0]);
    EXPECT_EQ(std::string(labels[0].raw.begin(), labels[0].raw.end()), kLabel);

    ASSERT_TRUE(sim.setStatus(ep, 0x21));
    ASSERT_EQ(q.Write("^cu\r\n", id, 32), 5);
    EXPECT_TRUE(WaitFor([&] { return q.ReadAvailable(id, 32) > 0; }, 20000));
    BYTE answer = 0;
    EXPECT_EQ(q.Read(&answer, 1, 5000, id, 32), 1);
    EXPECT_EQ(answer, 0x21);

    ASSERT_TRUE(sim.frame(ep, "asb", qlks::Bytes{0x14, 0x00, 0x00, 0x0F})) << sim.error();
    int asb = 0;
    EXPECT_TRUE(WaitFor([&] { return q.GetASBState(&asb, id, 32) == 1; }, 20000));
    EXPECT_EQ(asb, 0x0F000014);
    EXPECT_EQ(q.ReadAvailable(id, 32), 0) << "the frame is no data";

    q.ClosePort(id, 32);
    EXPECT_EQ(q.Write("x", id, 32), 0) << "closed";
    EXPECT_TRUE(DeviceIsFree());
    EXPECT_EQ(q.RemovePort(32, id), 0);
    EXPECT_EQ(q.Write("x", id, 32), 0);

    // The device key's Log 1 logged Quillan and the transport port (CreatePort4Log with flags 1).
    std::vector<std::string> logs = install.List("Log");
    bool qln = false, comLog = false;
    for (const std::string& n : logs) {
        qln |= n.compare(0, 6, "d_Qln_") == 0;
        comLog |= n.compare(0, 12, "d_Com_10000_") == 0;
    }
    EXPECT_TRUE(qln);
    EXPECT_TRUE(comLog);
}

TEST_F(QuillanComTest, TwoClassesShareTheOpenSerialPort)
{
    int a = q.CreatePort("POSCOM", port.c_str(), 1);
    int b = q.CreatePort("LBLCOM", port.c_str(), 32);
    ASSERT_NE(a, 0);
    ASSERT_EQ(a, b);
    CString name(port.c_str());
    ASSERT_EQ(q.SetDeviceOption(Option(name), a, 1), 1);
    ASSERT_EQ(q.OpenPort(a, 1), 1);
    ASSERT_EQ(q.OpenPort(a, 32), 1);
    q.ClosePort(a, 1);
    // Under Wine a serial device is not held exclusively, so the open port shows by writing.
    ASSERT_EQ(q.Write(kLabel, a, 32), int(sizeof kLabel - 1)) << "the label printer keeps it open";
    EXPECT_TRUE(sim.waitLabels(ep, 1)) << sim.error();
    q.ClosePort(a, 32);
    EXPECT_EQ(q.Write("x", a, 32), 0) << "closed";
    EXPECT_EQ(q.RemovePort(1, a), 32);
    EXPECT_EQ(q.RemovePort(32, a), 0);
}

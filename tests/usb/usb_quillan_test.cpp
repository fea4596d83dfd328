// Quillan and usb.dll as installed, with nothing scripted: the system's USB device list (SetupAPI)
// lists a printer interface registered for this test process, the interface path leads to
// usbrelay.exe's pipe, and the relay leads to the printer simulator.
#include "QuillanClient.h"
#include "RegistUsb.h"
#include "RelayProcess.h"
#include "TestEnv.h"
#include "UsbInterface.h"
#include "simclient.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#define SERVICEINFO "Software\\OLEforRetail\\ServiceInfo\\VESK OPOS"
#define USB_CLASS VESK_USB_DEVICE_CLASS

std::string UsbRelayPath() { return WinPath(USBRELAY_PATH); }

namespace {

const char kLabel[] = "SL406,24,G,0\r\nSW812\r\nSTd\r\nSM10,0\r\nSS4\r\nSD8\r\nSOT\r\nSA0\r\nTA0\r\nCS0,0\r\nCUTn\r\n"
                      "T26,20,3,1,1,0,0,N,N,F,'usb through Quillan'\r\nP1\r\n";

class UsbQuillanTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sim.connected()) << sim.error();
        ep = sim.tcp(&tcpPort);
        ASSERT_GE(ep, 0) << sim.error();
        std::string pid = std::to_string(GetCurrentProcessId());
        pipe = "vesk_usbq_" + pid;
        instance = "USB\\VID_1A2B&PID_0420\\Q" + pid;
        // The system builds the path from the instance id, in lower case.
        path = "\\\\?\\usb#vid_1a2b&pid_0420#q" + pid + "#" USB_CLASS;
        ASSERT_TRUE(link.Create(path.substr(4), pipe));
        ASSERT_TRUE(relay.Start("\\\\.\\pipe\\" + pipe, tcpPort)) << relay.Error();
        RegisterInterface();

        reg.WriteServiceInfo(install.Path());
        reg.SetString(SERVICEINFO, "usbdir", WinPath(USB_DLL_PATH).c_str());
        ASSERT_TRUE(q.Load(WinPath(QUILLAN_PATH)));
        ASSERT_EQ(q.LoadChildDll(), 0);
    }

    void TearDown() override
    {
        EXPECT_EQ(q.FreeChildDll(), 0);
        q.Unload();
        EXPECT_TRUE(relay.Stop());
        if (ep >= 0) {
            EXPECT_TRUE(sim.closeEndpoint(ep)) << sim.error();
        }
    }

    void RegisterInterface() { ASSERT_TRUE(RegisterUsbInterface(reg, path, instance)); }

    // How often what occurs in usb.dll's port logs.
    int UsbLogCount(const std::string& what)
    {
        int n = 0;
        for (const std::string& f : install.List("Log")) {
            if (f.compare(0, 6, "d_Usb_") != 0)
                continue;
            std::string text = install.Read("Log\\" + f);
            for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1))
                ++n;
        }
        return n;
    }

    DeviceOption Option(const CString& name)
    {
        DeviceOption dop;
        memset(&dop, 0, sizeof dop);
        dop.strPortName = const_cast<char*>(name.GetString());
        dop.dwInBufSize = 4096;
        dop.dwOutBufSize = 4096;
        return dop;
    }

    vesksim::SimClient sim;
    int ep = -1;
    int tcpPort = 0;
    std::string pipe, instance, path;
    CInterfaceLink link;
    RelayProcess relay;
    CTestRegistry reg;
    CTempFolder install;
    QuillanClient q;
};

TEST_F(UsbQuillanTest, ALabelAndItsStatusTravelFromTheDeviceListToThePrinter)
{
    // As the setup utility stores it: the path upper-cased by the device list.
    std::string stored = path;
    for (char& c : stored)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    {
        CRegistUsb list;  // the SetupAPI walk, as usb.dll makes it
        ASSERT_EQ(list.EnumerateUsbDevices(), 1);
        EXPECT_STREQ(list.GetDeviceAt(0)->strDevicePath, stored.c_str());
        EXPECT_STREQ(list.GetDeviceAt(0)->strPid, "0420");
    }
    int id = q.CreatePort("LBLUSB", stored.c_str(), 32);
    ASSERT_EQ(id, 30000) << "a path with a leading backslash belongs to usb";
    CString name(stored.c_str());
    ASSERT_EQ(q.SetDeviceOption(Option(name), id, 32), 1);
    ASSERT_EQ(q.OpenPort(id, 32), 1);
    EXPECT_EQ(q.IsPowerState(id, 32), 2001);

    ASSERT_EQ(q.Write(kLabel, id, 32), int(sizeof kLabel - 1));
    ASSERT_TRUE(sim.waitLabels(ep, 1)) << sim.error();
    std::vector<qlks::Label> labels = sim.labels(ep);
    ASSERT_EQ(labels.size(), 1u);
    EXPECT_TRUE(labels[0].complete);
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

    // Pulled: the interface no longer opens, so the device list leaves it out; off-line. (Ended,
    // not killed: a killed relay's socket can close late under the emulator and cut a label.)
    ASSERT_TRUE(relay.Stop());
    ASSERT_TRUE(sim.waitFor(ep, "closes", 1)) << sim.error();
    EXPECT_TRUE(WaitFor([&] { return q.IsPowerState(id, 32) == 2003; }, 20000));
    EXPECT_EQ(q.Write("x", id, 32), 0);
    // Back: on-line again and printing.
    ASSERT_TRUE(relay.Start("\\\\.\\pipe\\" + pipe, tcpPort)) << relay.Error();
    EXPECT_TRUE(WaitFor([&] { return q.IsPowerState(id, 32) == 2001; }, 20000));
    EXPECT_TRUE(WaitFor([&] { return q.Write(kLabel, id, 32) == int(sizeof kLabel - 1); }, 20000));
    EXPECT_TRUE(sim.waitLabels(ep, 2)) << sim.error();

    q.ClosePort(id, 32);
    EXPECT_EQ(q.Write("x", id, 32), 0) << "closed";
    EXPECT_EQ(q.RemovePort(32, id), 0);
}

// A Write stalled at a printer that reads nothing, ended by a ClosePort from another thread: the
// close's cancel ends it (not the close's bound for I/O in flight), and it reports the bytes that
// went out, which the printer gets once it reads again.
TEST_F(UsbQuillanTest, AClosePortEndsAStalledWriteThatReportsWhatWentOut)
{
    const std::string key = "Software\\OLEforRetail\\ServiceOPOS\\POSPrinter\\LBLUSB";
    ASSERT_TRUE(reg.SetString(key.c_str(), "inf", install.File("lbprn.inf").c_str()));
    ASSERT_TRUE(reg.SetDWORD(key.c_str(), "Log", 1));
    ASSERT_TRUE(reg.SetDWORD(key.c_str(), "Binary", 1));  // a port log of usb.dll with its trace
    ASSERT_TRUE(install.Write("setup_label.inf", "[SPECIAL]\r\nPortLog=1\r\n"));
    int id = q.CreatePort("LBLUSB", path.c_str(), 32);
    ASSERT_EQ(id, 30000);
    CString name(path.c_str());
    ASSERT_EQ(q.SetDeviceOption(Option(name), id, 32), 1);
    ASSERT_EQ(q.OpenPort(id, 32), 1);
    ASSERT_TRUE(sim.fault(ep, "stopread")) << sim.error();

    const std::string big(32 << 20, 'a');  // more than the relay and the sockets between hold
    std::atomic<int> written(-1);
    std::atomic<bool> closed(false);
    std::thread writer([&] { written = q.Write(big, id, 32); });
    // Part of the write went out: a second piece of it was started.
    bool started = WaitFor([&] { return UsbLogCount("GetLastError() : ") >= 2; }, 30000);
    std::thread closer([&] {
        q.ClosePort(id, 32);
        closed = true;
    });
    bool ended = WaitFor([&] { return closed.load() && written.load() != -1; }, 60000);
    ASSERT_TRUE(sim.fault(ep, "read")) << sim.error();
    writer.join();
    closer.join();
    EXPECT_TRUE(started);
    EXPECT_TRUE(ended);
    EXPECT_EQ(UsbLogCount("I/O still in flight"), 0) << "the write ended at the close's bound, not on its cancel";
    EXPECT_GT(written.load(), 0);
    EXPECT_LT(written.load(), int(big.size()));
    EXPECT_TRUE(sim.waitFor(ep, "bytes", written.load())) << sim.error();
    EXPECT_EQ(q.RemovePort(32, id), 0);
}

TEST_F(UsbQuillanTest, APrinterOfAnotherProductIsNotTaken)
{
    // Stored for a product that is not plugged in: the present printer has another product id.
    std::string stored = "\\\\?\\USB#VID_1A2B&PID_0820#OTHER#" USB_CLASS;
    int id = q.CreatePort("LBLUSB", stored.c_str(), 32);
    ASSERT_EQ(id, 30000);
    CString name(stored.c_str());
    ASSERT_EQ(q.SetDeviceOption(Option(name), id, 32), 1);
    EXPECT_EQ(q.OpenPort(id, 32), 0);
    EXPECT_EQ(q.Write(kLabel, id, 32), 0);
    EXPECT_EQ(q.RemovePort(32, id), 0);
    vesksim::Counts c;
    ASSERT_TRUE(sim.counts(ep, c)) << sim.error();
    EXPECT_EQ(c.bytes, 0);
}

}  // namespace

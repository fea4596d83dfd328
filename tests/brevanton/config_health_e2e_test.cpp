// Check Health of the printer configuration dialog end to end: the dialog saves the interface
// it is given, the hosted test Control Object opens the real Service Object on that device key,
// and the interactive check's Print sends the test label through Quillan and the transport to the
// printer simulator: over TCP, over a serial pty without flow control, and over USB through
// usbrelay.exe.
#include "BrevantonTestKit.h"
#include "ConfigPrinterDlg.h"
#include "DeviceKey.h"
#include "DialogDriver.h"
#include "RelayProcess.h"
#include "TestCoRecord.h"
#include "UsbInterface.h"
#include "resource.h"
#include "simclient.h"

#include <gtest/gtest.h>

#include <ole2.h>

#include <functional>

std::string UsbRelayPath() { return WinPath(USBRELAY_PATH); }

namespace {
const char kHealthCaption[] = "Printer Check Health : - Interactive -";

// Answers the Service Object's interactive check: Print once, then, when its result shows,
// closes the check's dialog. Runs from a thread timer while the modal loops pump.
class CHealthDialogAnswer
{
public:
    CHealthDialogAnswer() : m_timer(SetTimer(nullptr, 0, 50, &OnTimer)) { s_current = this; }
    ~CHealthDialogAnswer()
    {
        KillTimer(nullptr, m_timer);
        s_current = nullptr;
    }
    std::string title, result;
    int seen = 0;

private:
    static BOOL CALLBACK Find(HWND h, LPARAM lp)
    {
        char t[256] = {};
        GetWindowTextA(h, t, sizeof t);
        if (IsWindowVisible(h) && std::string(t).compare(0, sizeof kHealthCaption - 1, kHealthCaption) == 0) {
            *reinterpret_cast<HWND*>(lp) = h;
            return FALSE;
        }
        return TRUE;
    }
    static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD)
    {
        CHealthDialogAnswer* self = s_current;
        if (!self)
            return;
        HWND d = nullptr;
        EnumThreadWindows(GetCurrentThreadId(), Find, LPARAM(&d));
        if (!d)
            return;
        if (d != self->m_dialog) {
            self->m_dialog = d;
            ++self->seen;
            char t[256] = {};
            GetWindowTextA(d, t, sizeof t);
            self->title = t;
            self->m_first = ControlText(d, 1001);
            PostMessageA(d, WM_COMMAND, MAKEWPARAM(1000, BN_CLICKED), LPARAM(GetDlgItem(d, 1000)));
            return;
        }
        std::string now = ControlText(d, 1001);
        if (now != self->m_first && !self->m_closing) {
            self->result = now;
            self->m_closing = true;
            PostMessageA(d, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), LPARAM(GetDlgItem(d, IDOK)));
        }
    }
    static CHealthDialogAnswer* s_current;
    UINT_PTR m_timer;
    HWND m_dialog = nullptr;
    std::string m_first;
    bool m_closing = false;
};
CHealthDialogAnswer* CHealthDialogAnswer::s_current = nullptr;

class ConfigHealthEndToEnd : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Co().Ready()) << "the test Control Object's exports are missing";
        Co().reset();
        ASSERT_TRUE(sim.connected()) << sim.error();
        folder.reset(new CInstallFolder(reg));
        for (const char* inf : {"VL420.inf", "VL820.inf", "qlksfont.inf", "setup_label.inf", "preform.inf",
                                "custom.inf"})
            ASSERT_TRUE(CopyShippedInf(folder->Folder(), inf)) << inf;
        const char* info = "Software\\OLEforRetail\\ServiceInfo\\VESK OPOS";
        reg.SetString(info, "qlnadir", WinPath(QUILLAN_DLL).c_str());
        reg.SetString(info, "netdir", WinPath(NET_DLL).c_str());
        reg.SetString(info, "comdir", WinPath(COM_DLL).c_str());
        reg.SetString(info, "usbdir", WinPath(USB_DLL).c_str());
        // The device key as Add Device makes it.
        CString name;
        ASSERT_TRUE(CreateDeviceKey(32, "VL420", folder->Path().c_str(), name));
        keyName = name.GetString();
    }
    void TearDown() override
    {
        folder.reset();
    }

    // Runs the dialog with steps that choose the interface, then Check Health and OK.
    void CheckHealthThrough(std::function<void(CDialogDriver&)> chooseInterface, int ep)
    {
        CConfigPrinterDlg dlg;
        dlg.m_strKeyName = keyName.c_str();
        dlg.m_nClassCode = 32;
        dlg.m_bAddMode = TRUE;
        CHealthDialogAnswer answer;
        CDialogDriver drv(120000);
        chooseInterface(drv);
        drv.Click(IDC_CFG_HEALTH)
            .WaitUntil([&](HWND) { return answer.seen == 1; }, "the interactive check")
            .Click(IDOK)
            .AnswerMessageBox(IDOK);
        EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
        EXPECT_TRUE(drv.Failures().empty()) << drv.Report();
        EXPECT_EQ(answer.title, std::string(kHealthCaption) + keyName);
        EXPECT_EQ(answer.result, "Success (0/0)");
        ASSERT_TRUE(sim.waitLabels(ep, 1, 30000)) << sim.error();
        std::vector<qlks::Label> labels = sim.labels(ep);
        ASSERT_FALSE(labels.empty());
        EXPECT_TRUE(labels.back().complete);
        EXPECT_NE(std::string(labels.back().raw.begin(), labels.back().raw.end()).find("VESK OPOS Driver"),
                  std::string::npos);
        std::vector<std::string> expected = {"Open(" + keyName + ")", "ClaimDevice(100)", "DeviceEnabled=(-1)",
                                             "Property20=(1)", "CheckHealth(3)", "Close"};
        EXPECT_EQ(Co().Calls(), expected) << "no ReleaseDevice before the Close";
    }

    CUiThread ui;
    CTestRegistry reg;
    std::unique_ptr<CInstallFolder> folder;
    std::string keyName;
    vesksim::SimClient sim;
};
}

TEST_F(ConfigHealthEndToEnd, OverTcp)
{
    int port = 0;
    int ep = sim.tcp(&port);
    ASSERT_GE(ep, 0) << sim.error();
    CheckHealthThrough(
        [&](CDialogDriver& d) {
            d.Click(IDC_CFG_ETHERNET)
                .Do([&](HWND h) {
                    SendDlgItemMessageA(h, IDC_CFG_IPADDRESS, IPM_SETADDRESS, 0, MAKEIPADDRESS(127, 0, 0, 1));
                })
                .SetText(IDC_CFG_TCPPORT, std::to_string(port));
        },
        ep);
    std::string key = std::string(kPrinterClassKey) + "\\" + keyName;
    EXPECT_EQ(RegString(key, "Port"), "Ethernet");
    EXPECT_EQ(RegString(key, "TcpIp"), "127.0.0.1");
}

TEST_F(ConfigHealthEndToEnd, OverASerialPtyWithoutFlowControl)
{
    int com = 0;
    int ep = sim.serial(&com, 7);
    ASSERT_GE(ep, 0) << sim.error();
    ASSERT_EQ(com, 7);
    CheckHealthThrough([&](CDialogDriver& d) { d.Select(IDC_CFG_PORT, com - 1).Select(IDC_CFG_FLOW, 2); }, ep);
    std::string key = std::string(kPrinterClassKey) + "\\" + keyName;
    EXPECT_EQ(RegString(key, "Port"), "COM7");
    EXPECT_EQ(RegString(key, "HandShake"), "None");
}

TEST_F(ConfigHealthEndToEnd, OverUsbThroughTheRelay)
{
    int port = 0;
    int ep = sim.tcp(&port);
    ASSERT_GE(ep, 0) << sim.error();
    std::string id = std::to_string(GetCurrentProcessId());
    std::string pipe = "vesk_cfghealth_" + id;
    std::string path = UsbInterfacePath("1a2b", "0420", "h" + id);
    CInterfaceLink link;
    ASSERT_TRUE(link.Create(path.substr(4), pipe));
    RelayProcess relay;
    ASSERT_TRUE(relay.Start("\\\\.\\pipe\\" + pipe, port)) << relay.Error();
    ASSERT_TRUE(RegisterUsbInterface(reg, path, "USB\\VID_1A2B&PID_0420\\H" + id));
    CheckHealthThrough([&](CDialogDriver& d) { d.Click(IDC_CFG_USB).Select(IDC_CFG_PORT, 0); }, ep);
    std::string key = std::string(kPrinterClassKey) + "\\" + keyName;
    std::string upper = path;
    CRegistUsb::MakeUpper(&upper[0]);
    EXPECT_EQ(RegString(key, "UsbDeviceName"), upper);
    EXPECT_TRUE(relay.Stop());
}

// The printer configuration dialog driven through its own modal loop: what a device key opens
// as, the port lists from the machine's "Ports" devices and setup.inf, the port and logical
// device name rules, what a save writes (read back from the registry), Cancel, and the main
// dialog's Add and Modify roads.
#include "BrevantonDlg.h"
#include "BrevantonTestKit.h"
#include "ConfigPrinterAdvDlg.h"
#include "ConfigPrinterDlg.h"
#include "ConfigPrinterParts.h"
#include "DialogDriver.h"
#include "LabelAdvancedDlg.h"
#include "PipeDevice.h"
#include "Registry.h"
#include "SelectDevice.h"
#include "UsbInterface.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <ole2.h>
#include <sddl.h>

#include <algorithm>
#include <functional>
#include <map>

namespace {
const std::string kClass = kPrinterClassKey;
// {5E0C1D8A-6F1B-4C57-9B8E-2A61D0C4F3B8}: registered nowhere.
const CLSID kNowhere = {0x5e0c1d8a, 0x6f1b, 0x4c57, {0x9b, 0x8e, 0x2a, 0x61, 0xd0, 0xc4, 0xf3, 0xb8}};

// One registry value: a text (REG_SZ) or a number (REG_DWORD).
struct Val
{
    std::string name;
    bool isText;
    std::string text;
    DWORD number;
};
Val S(const std::string& name, const std::string& text) { return {name, true, text, 0}; }
Val D(const std::string& name, DWORD number) { return {name, false, "", number}; }

void WriteValues(CTestRegistry& reg, const std::string& key, const std::vector<Val>& values)
{
    for (const Val& v : values) {
        if (v.isText)
            reg.SetString(key.c_str(), v.name.c_str(), v.text.c_str());
        else
            reg.SetDWORD(key.c_str(), v.name.c_str(), v.number);
    }
}

// "sz:text", "dword:n", or "missing".
std::string ReadValue(const std::string& key, const std::string& name)
{
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS)
        return "missing";
    BYTE buf[1024] = {};
    DWORD size = sizeof buf - 1, type = 0;
    LONG rc = RegQueryValueExA(k, name.c_str(), nullptr, &type, buf, &size);
    RegCloseKey(k);
    if (rc != ERROR_SUCCESS)
        return "missing";
    if (type == REG_DWORD)
        return "dword:" + std::to_string(*reinterpret_cast<DWORD*>(buf));
    if (type == REG_SZ)
        return "sz:" + std::string(reinterpret_cast<char*>(buf));
    return "type " + std::to_string(type);
}
std::string Expect(const Val& v) { return v.isText ? "sz:" + v.text : "dword:" + std::to_string(v.number); }
bool KeyExists(const std::string& key)
{
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS)
        return false;
    RegCloseKey(k);
    return true;
}

// The dialog as the tests drive it: without a Control Object (unless asked), the advanced
// dialogs replaced by what the test does with them.
class CTestConfigDlg : public CConfigPrinterDlg
{
public:
    CTestConfigDlg(const std::string& key, int classCode, BOOL add, int findAvailablePort = 0)
        : CConfigPrinterDlg(nullptr, findAvailablePort)
    {
        m_strKeyName = key.c_str();
        m_nClassCode = classCode;
        m_bAddMode = add;
    }
    std::function<INT_PTR(CLabelAdvancedDlg&)> onLabel;
    std::function<INT_PTR(CConfigPrinterAdvDlg&)> onReceipt;
    bool hostControl = false;

protected:
    BOOL CreatePrinterControl(const RECT& rect) override
    {
        if (hostControl)
            return CConfigPrinterDlg::CreatePrinterControl(rect);
        return m_ctlPOSPrinter.CreateControl(kNowhere, "", WS_CHILD, rect, this, IDC_POSPRINTER_CONTROL);
    }
    INT_PTR RunLabelAdvanced(CLabelAdvancedDlg& dlg) override { return onLabel ? onLabel(dlg) : IDCANCEL; }
    INT_PTR RunReceiptAdvanced(CConfigPrinterAdvDlg& dlg) override { return onReceipt ? onReceipt(dlg) : IDCANCEL; }
};

bool Enabled(HWND dlg, int id) { return IsWindowEnabled(GetDlgItem(dlg, id)) != FALSE; }
bool Checked(HWND dlg, int id) { return SendDlgItemMessageA(dlg, id, BM_GETCHECK, 0, 0) == BST_CHECKED; }
int Sel(HWND dlg, int id) { return ComboSel(dlg, id); }
std::string SelText(HWND dlg, int id) { return ComboSelText(dlg, id); }
std::vector<std::string> Items(HWND dlg, int id) { return ComboItems(dlg, id); }

// Interface radios and checks as letters, "-" for a disabled one: Serial, Bluetooth, Parallel,
// USB, Ethernet, WirelessLAN.
std::string EnabledInterfaces(HWND dlg)
{
    const std::pair<int, char> ids[] = {{IDC_CFG_SERIAL, 'S'}, {IDC_CFG_BLUETOOTH, 'B'}, {IDC_CFG_PARALLEL, 'P'},
                                        {IDC_CFG_USB, 'U'},    {IDC_CFG_ETHERNET, 'E'},  {IDC_CFG_WIRELESS, 'W'}};
    std::string s;
    for (const auto& p : ids)
        s += Enabled(dlg, p.first) ? p.second : '-';
    return s;
}
std::string CheckedInterface(HWND dlg)
{
    const std::pair<int, const char*> ids[] = {
        {IDC_CFG_SERIAL, "serial"}, {IDC_CFG_PARALLEL, "parallel"}, {IDC_CFG_USB, "usb"}, {IDC_CFG_ETHERNET, "ethernet"}};
    std::string s;
    for (const auto& p : ids)
        if (Checked(dlg, p.first))
            s += p.second;
    return s;
}
std::string IpText(HWND dlg)
{
    DWORD a = 0;
    SendDlgItemMessageA(dlg, IDC_CFG_IPADDRESS, IPM_GETADDRESS, 0, LPARAM(&a));
    char t[32];
    snprintf(t, sizeof t, "%d.%d.%d.%d", int(FIRST_IPADDRESS(a)), int(SECOND_IPADDRESS(a)), int(THIRD_IPADDRESS(a)),
             int(FOURTH_IPADDRESS(a)));
    return t;
}

class ConfigPrinter : public testing::Test
{
protected:
    void SetUp() override
    {
        folder.reset(new CInstallFolder(reg));
        for (const char* inf : {"VL420.inf", "VL820.inf"})
            ASSERT_TRUE(CopyShippedInf(folder->Folder(), inf)) << inf;
    }
    void TearDown() override
    {
        folder.reset();
    }
    // A label printer key of the model with the values given.
    std::string Key(const std::string& name, const std::vector<Val>& values, const char* model = "VL420")
    {
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, (kClass + "\\" + name).c_str());
        WriteDeviceKey(reg, name, kLabelProgId, "", "COM1", model);
        WriteValues(reg, kClass + "\\" + name, values);
        return kClass + "\\" + name;
    }

    CUiThread ui;
    CTestRegistry reg;
    std::unique_ptr<CInstallFolder> folder;
};
}

// ---- Opening: from the device key's values to the dialog's state --------------------------------

TEST_F(ConfigPrinter, OpensWhatTheDeviceKeyHolds)
{
    struct Row
    {
        const char* what;
        std::vector<Val> values;
        std::string checked, enabled, port, baud, bits, flow;
        int parity;
        bool bluetooth, wireless;
        std::string tcpPort, ip, inBuf, outBuf;
    };
    const Row rows[] = {
        {"serial, unknown baud rate, a damaged parity opens as NONE, mask 0x1B",
         {S("Port", "COM3"), S("BaudRate", "4800"), S("Parity", "5"), S("BitLength", "7"), S("HandShake", "Xon/Xoff"),
          D("Porttype_N", 0x1B)},
         "serial", "SB-UE-", "COM3", "19200", "7", "Xon/Xoff", 0, false, false, "", "", "1024", "2048"},
        {"serial, listed values",
         {S("Port", "COM2"), S("BaudRate", "115200"), S("Parity", "2"), S("HandShake", "None"), D("Porttype_N", 0x1B)},
         "serial", "SB-UE-", "COM2", "115200", "8", "None", 2, false, false, "", "", "1024", "2048"},
        {"a port beyond the offered range opens on the first item",
         {S("Port", "COM99"), D("Porttype_N", 0x1B)},
         "serial", "SB-UE-", "COM1", "19200", "8", "DTR/DSR", 0, false, false, "", "", "1024", "2048"},
        {"Bluetooth-only model",
         {S("Port", "COM2"), D("UsingBT", 1), D("Porttype_N", 0x02)},
         "serial", "SB----", "COM2", "19200", "8", "DTR/DSR", 0, true, false, "", "", "512", "1024"},
        {"Ethernet with TCP port 0, wireless on, mask 0",
         {S("Port", "Ethernet"), S("TcpIp", "192.168.1.20"), D("TcpPort", 0), D("Wireless", 1)},
         "ethernet", "S-PUEW", "", "", "8", "DTR/DSR", 0, false, true, "9100", "192.168.1.20", "4096", "8192"},
        {"an address with an empty field keeps its place",
         {S("Port", "Ethernet"), S("TcpIp", "192..1.2"), D("TcpPort", 9100), D("Porttype_N", 0x10)},
         "ethernet", "----E-", "", "", "8", "DTR/DSR", 0, false, false, "9100", "192.0.1.2", "4096", "8192"},
        {"an empty Port opens on Ethernet; a wireless-only model keeps WirelessLAN",
         {S("Port", ""), S("TcpIp", "10.0.0.7"), D("TcpPort", 9101), D("Porttype_N", 0x20)},
         "ethernet", "----EW", "", "", "8", "DTR/DSR", 0, false, true, "9101", "10.0.0.7", "4096", "8192"},
        {"parallel with PortType 7",
         {S("Port", "LPT2"), D("Porttype", 7)},
         "parallel", "--P---", "LPT2", "19200", "8", "DTR/DSR", 0, false, false, "", "", "1024", "4096"},
        {"serial with PortType 4: USB beside it, no WirelessLAN",
         {S("Port", "COM1"), D("Porttype", 4)},
         "serial", "SB-U--", "COM1", "19200", "8", "DTR/DSR", 0, false, false, "", "", "1024", "2048"},
        {"serial with PortType 1: Bluetooth off",
         {S("Port", "COM4"), D("Porttype", 1)},
         "serial", "S-----", "COM4", "19200", "8", "DTR/DSR", 0, false, false, "", "", "1024", "2048"},
        {"PortType 2: serial and parallel, Bluetooth off",
         {S("Port", "COM1"), D("Porttype", 2)},
         "serial", "S-P---", "COM1", "19200", "8", "DTR/DSR", 0, false, false, "", "", "1024", "2048"},
        {"PortType 5: no USB; serial offers Bluetooth",
         {S("Port", "COM1"), D("Porttype", 5)},
         "serial", "SBP-E-", "COM1", "19200", "8", "DTR/DSR", 0, false, false, "", "", "1024", "2048"},
        {"PortType 6: serial and USB, Bluetooth off",
         {S("Port", "COM1"), D("Porttype", 6)},
         "serial", "S--U--", "COM1", "19200", "8", "DTR/DSR", 0, false, false, "", "", "1024", "2048"},
        {"PortType 8: no parallel; Ethernet offers WirelessLAN",
         {S("Port", "Ethernet"), D("Porttype", 8)},
         "ethernet", "S--UEW", "", "", "8", "DTR/DSR", 0, false, false, "9100", "0.0.0.0", "4096", "8192"},
        {"PortType 9: no Ethernet, both checks off",
         {S("Port", "LPT1"), D("Porttype", 9)},
         "parallel", "S-PU--", "LPT1", "19200", "8", "DTR/DSR", 0, false, false, "", "", "1024", "4096"},
        {"PortType 10: USB alone", {S("Port", "LPT1"), D("Porttype", 10)},
         "parallel", "---U--", "LPT1", "19200", "8", "DTR/DSR", 0, false, false, "", "", "1024", "4096"},
        {"PortType 11: USB alone", {S("Port", "LPT2"), D("Porttype", 11)},
         "parallel", "---U--", "LPT2", "19200", "8", "DTR/DSR", 0, false, false, "", "", "1024", "4096"},
        {"another PortType disables nothing", {S("Port", "COM1"), D("Porttype", 3)},
         "serial", "SBPUE-", "COM1", "19200", "8", "DTR/DSR", 0, false, false, "", "", "1024", "2048"},
        {"mask 0x04: parallel alone", {S("Port", "LPT1"), D("Porttype_N", 0x04), D("Porttype", 3)},
         "parallel", "--P---", "LPT1", "19200", "8", "DTR/DSR", 0, false, false, "", "", "1024", "4096"},
        // A port the mask does not offer still opens on its own interface.
        {"mask 0x08: USB alone", {S("Port", "COM1"), D("Porttype_N", 0x08)},
         "serial", "---U--", "COM1", "19200", "8", "DTR/DSR", 0, false, false, "", "", "1024", "2048"},
        {"mask 0x10: Ethernet without WirelessLAN", {S("Port", "Ethernet"), D("Porttype_N", 0x10)},
         "ethernet", "----E-", "", "", "8", "DTR/DSR", 0, false, false, "9100", "0.0.0.0", "4096", "8192"},
        {"the key's own buffers win over the model's", {S("Port", "COM1"), S("InputBuf", "4096"),
         S("OutputBuf", "4096"), D("Porttype_N", 0x1B)},
         "serial", "SB-UE-", "COM1", "19200", "8", "DTR/DSR", 0, false, false, "", "", "4096", "4096"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        Key("VL420", r.values);
        CTestConfigDlg dlg("VL420", 32, FALSE);
        CDialogDriver drv(30000);
        drv.Do([&](HWND h) {
               EXPECT_EQ(CheckedInterface(h), r.checked);
               EXPECT_EQ(EnabledInterfaces(h), r.enabled);
               if (r.checked != "ethernet") {
                   EXPECT_EQ(SelText(h, IDC_CFG_PORT), r.port);
                   EXPECT_EQ(SelText(h, IDC_CFG_BAUD), r.baud);
               } else {
                   EXPECT_FALSE(IsWindowVisible(GetDlgItem(h, IDC_CFG_PORT)));
                   EXPECT_EQ(ControlText(h, IDC_CFG_TCPPORT), r.tcpPort);
                   EXPECT_EQ(IpText(h), r.ip);
               }
               EXPECT_EQ(SelText(h, IDC_CFG_BITLEN), r.bits);
               EXPECT_EQ(SelText(h, IDC_CFG_FLOW), r.flow);
               EXPECT_EQ(Sel(h, IDC_CFG_PARITY), r.parity);
               EXPECT_EQ(Checked(h, IDC_CFG_BLUETOOTH), r.bluetooth);
               EXPECT_EQ(Checked(h, IDC_CFG_WIRELESS), r.wireless);
               EXPECT_EQ(ControlText(h, IDC_CFG_INBUF), r.inBuf);
               EXPECT_EQ(ControlText(h, IDC_CFG_OUTBUF), r.outBuf);
               EXPECT_EQ(ControlText(h, IDC_CFG_KEYNAME), "VL420");
               EXPECT_FALSE(IsWindowVisible(GetDlgItem(h, IDC_CFG_THROUGH_PRINTER)));
           })
            .Click(IDCANCEL);
        EXPECT_EQ(drv.Run(dlg), IDCANCEL) << drv.Report();
        EXPECT_TRUE(drv.Failures().empty()) << drv.Report();
        // Whatever the key held for the unused values, the save writes what was shown.
        EXPECT_TRUE(KeyExists(kClass + "\\VL420")) << "Cancel of a modify removes nothing";
    }
}

// ---- Port lists ----------------------------------------------------------------------------------

TEST_F(ConfigPrinter, OffersTheMachinesPortsAndTheLargerRange)
{
    struct Row
    {
        const char* what;
        std::vector<std::string> machine;
        int findAvailable;
        const char* comRange;  // setup.inf before
        std::vector<std::string> firstAndLast;  // offered: first, last (or all with FindAvailablePort)
        size_t count;
        std::string comRangeAfter, lptRangeAfter;
    };
    const Row rows[] = {
        {"COM9 gives 10", {"COM9"}, 0, "10", {"COM1", "COM10"}, 10, "10", "3"},
        {"COM10 gives 20, setup.inf raised; LPT5 raises its range", {"COM10", "LPT5"}, 0, "10", {"COM1", "COM20"}, 20,
         "20", "5"},
        {"a larger setup.inf range is used", {"COM10"}, 0, "30", {"COM1", "COM30"}, 30, "30", "3"},
        {"FindAvailablePort: exactly the machine's, ascending", {"COM10", "COM3", "LPT1"}, 1, "10", {"COM3", "COM10"},
         2, "20", "3"},
        {"FindAvailablePort with COM9", {"COM9"}, 1, "10", {"COM9", "COM9"}, 1, "10", "3"},
        {"FindAvailablePort without ports: an empty list", {}, 1, "10", {}, 0, "10", "3"},
        {"no ports found: the machine counts 10", {}, 0, "5", {"COM1", "COM10"}, 10, "10", "3"},
        {"no Ports class at all: setup.inf's range alone", {"-"}, 0, "5", {"COM1", "COM5"}, 5, "5", "3"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        CTestRegistry local;
        CInstallFolder install(local, InstallOptions());
        CopyShippedInf(install.Folder(), "VL420.inf");
        WritePrivateProfileStringA("Description", "COMRange", r.comRange, install.Folder().File("setup.inf").c_str());
        if (r.machine != std::vector<std::string>{"-"})
            AddMachinePorts(local, r.machine);
        WriteDeviceKey(local, "VL420", kLabelProgId, "", "COM1", "VL420");
        CTestConfigDlg dlg("VL420", 32, FALSE, r.findAvailable);
        CDialogDriver drv(30000);
        drv.Do([&](HWND h) {
               std::vector<std::string> items = Items(h, IDC_CFG_PORT);
               ASSERT_EQ(items.size(), r.count);
               if (r.count == 0)
                   return;
               EXPECT_EQ(items.front(), r.firstAndLast[0]);
               EXPECT_EQ(items.back(), r.firstAndLast[1]);
           })
            .Click(IDCANCEL);
        drv.Run(dlg);
        EXPECT_TRUE(drv.Failures().empty()) << drv.Report();
        char buf[16] = {};
        std::string setup = install.Folder().File("setup.inf");
        GetPrivateProfileStringA("Description", "COMRange", "", buf, sizeof buf, setup.c_str());
        EXPECT_EQ(std::string(buf), r.comRangeAfter);
        GetPrivateProfileStringA("Description", "LPTRange", "", buf, sizeof buf, setup.c_str());
        EXPECT_EQ(std::string(buf), r.lptRangeAfter);
    }
}

TEST_F(ConfigPrinter, UsbWithoutTheModelsDeviceSaysSoAndFallsBackByMask)
{
    struct Row
    {
        DWORD mask;
        std::string lands;
        std::vector<Val> more;  // further values of the key
        std::string outInterval, inputSleep, tcpPort;  // as saved
        std::string port, usbDeviceName;                // as saved
    };
    const Row rows[] = {
        // A key without Out_Interval and InputSleep saves the dialog's "0".
        {0x1D, "serial", {}, "0", "0", "missing", "sz:COM1", "missing"},
        {0x02, "serial", {}, "0", "0", "missing", "sz:COM1", "missing"},
        {0x0C, "parallel", {}, "0", "0", "missing", "sz:LPT1", "missing"},
        {0x18, "ethernet", {D("TcpPort", 9107), S("TcpIp", "127.0.0.1")}, "0", "0", "dword:9107", "sz:Ethernet",
         "missing"},
        {0, "ethernet", {S("TcpIp", "127.0.0.1")}, "0", "0", "dword:9100", "sz:Ethernet", "missing"},
        {0x1D, "serial", {S("Out_Interval", "5"), S("InputSleep", "7")}, "5", "7", "missing", "sz:COM1", "missing"},
        // A USB-only model stays on USB with nothing selected and keeps its device.
        {0x08, "usb", {S("UsbDeviceName", "\\\\?\\USB#VID_1A2B&PID_0420#GONE")}, "0", "0", "missing", "sz:USB001:",
         "sz:\\\\?\\USB#VID_1A2B&PID_0420#GONE"},
        {0x28, "ethernet", {S("TcpIp", "127.0.0.1")}, "0", "0", "dword:9100", "sz:Ethernet", "missing"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE("mask " + std::to_string(r.mask) + ", " + std::to_string(r.more.size()) + " more values");
        std::vector<Val> values = {S("Port", "USB001:"), S("Vid", "1a2b"), S("Pid", "0420"), D("Porttype_N", r.mask)};
        values.insert(values.end(), r.more.begin(), r.more.end());
        Key("VL420", values);
        CTestConfigDlg dlg("VL420", 32, FALSE);
        CDialogDriver drv(30000);
        // The radio handler runs while the dialog opens: no number message may come of it.
        drv.AnswerMessageBox(IDOK)
            .Do([&](HWND h) {
                EXPECT_EQ(CheckedInterface(h), r.lands);
                EXPECT_EQ(dlg.m_strVid, "1A2B") << "upper-cased for the list";
                EXPECT_EQ(ControlText(h, IDC_CFG_KEYNAME), "VL420") << "the fallback keeps the key name shown";
                EXPECT_EQ(ControlText(h, IDC_CFG_OUT_INTERVAL), r.outInterval);
                EXPECT_EQ(ControlText(h, IDC_CFG_INPUT_SLEEP), r.inputSleep);
            })
            .Click(IDOK)
            .AnswerMessageBox(IDOK);
        EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
        EXPECT_TRUE(drv.Failures().empty()) << drv.Report();
        EXPECT_EQ(drv.MessageBoxTexts(),
                  (std::vector<std::string>{"Not Connect USB Device and Power off!", "Installed Success!"}))
            << drv.Report();
        std::string key = kClass + "\\VL420";
        EXPECT_EQ(ReadValue(key, "Out_Interval"), "sz:" + r.outInterval);
        EXPECT_EQ(ReadValue(key, "InputSleep"), "sz:" + r.inputSleep);
        EXPECT_EQ(ReadValue(key, "TcpPort"), r.tcpPort);
        EXPECT_EQ(ReadValue(key, "Port"), r.port);
        EXPECT_EQ(ReadValue(key, "UsbDeviceName"), r.usbDeviceName);
    }
}

// ---- Rules: ports held by other keys, logical device names --------------------------------------

namespace {
// A binding as one line: what a save writes, that it keeps the stored binding, or why not.
std::string BindingText(const cfgprn::PortBinding& b)
{
    if (b.Refused())
        return "refused: " + std::string(b.refusal.GetString());
    if (b.keepStored)
        return "keep " + std::string(b.port.GetString());
    std::string t = std::string(b.port.GetString());
    if (b.interfaceType == cfgprn::kUsb)
        t += " " + std::string(b.usbPath.GetString()) + " " + std::to_string(b.usbCount);
    if (b.interfaceType == cfgprn::kEthernet)
        t += " " + std::string(b.tcpIp.GetString()) + ":" + std::to_string(b.tcpPort);
    return t;
}
}

// The one rule of what a save binds a key to: {add, modify} x interface x where the stored port
// is (listed and free, listed and held by another key, not listed, of another interface).
TEST_F(ConfigPrinter, TheBindingToSaveFollowsWhatTheDialogShows)
{
    using namespace cfgprn;
    const std::string held = "refused: Other device used port. : ";
    const std::string noPort = std::string("refused: ") + kMsgNoPort;
    const std::string noUsb = std::string("refused: ") + kMsgNoUsbPrinter;
    const char* path = "\\\\?\\USB#VID_1A2B&PID_0420#A";
    struct Row
    {
        bool add;
        int iface;
        const char* where;
        const char* selected;  // what the list shows selected ("": nothing)
        bool selectedHeld;
        const char* storedPort;
        bool storedHeld;
        std::string expected;
    };
    const Row rows[] = {
        // Serial.
        {true, kSerial, "listed, free", "COM3", false, "COM3", false, "COM3"},
        {false, kSerial, "listed, free", "COM3", false, "COM3", false, "COM3"},
        {true, kSerial, "listed, held", "COM3", true, "COM3", true, held + "COM3"},
        {false, kSerial, "listed, held", "COM3", true, "COM3", true, held + "COM3"},
        {true, kSerial, "not listed", "", false, "COM3", false, noPort},
        {false, kSerial, "not listed", "", false, "COM3", false, "keep COM3"},
        {false, kSerial, "not listed, held", "", false, "COM3", true, held + "COM3"},
        {true, kSerial, "of another interface", "", false, "Ethernet", false, noPort},
        {false, kSerial, "of another interface", "", false, "", false, noPort},
        // Parallel.
        {true, kParallel, "listed, free", "LPT2", false, "LPT2", false, "LPT2"},
        {false, kParallel, "listed, free", "LPT2", false, "LPT2", false, "LPT2"},
        {true, kParallel, "listed, held", "LPT2", true, "LPT2", true, held + "LPT2"},
        {false, kParallel, "listed, held", "LPT2", true, "LPT2", true, held + "LPT2"},
        {true, kParallel, "not listed", "", false, "LPT2", false, noPort},
        {false, kParallel, "not listed", "", false, "LPT2", false, "keep LPT2"},
        {true, kParallel, "of another interface", "", false, "COM1", false, noPort},
        {false, kParallel, "of another interface", "", false, "COM1", false, noPort},
        // USB: the selection carries its printer's path and rank.
        {true, kUsb, "listed, free", "USB001:", false, "USB001:", false, std::string("USB001: ") + path + " 1"},
        {false, kUsb, "listed, free", "USB001:", false, "USB001:", false, std::string("USB001: ") + path + " 1"},
        {true, kUsb, "listed, held", "USB001:", true, "USB001:", true, held + "USB001:"},
        {false, kUsb, "listed, held", "USB001:", true, "USB001:", true, held + "USB001:"},
        {true, kUsb, "unplugged", "", false, "USB001:", false, noUsb},
        {false, kUsb, "unplugged", "", false, "USB001:", false, "keep USB001:"},
        {false, kUsb, "unplugged, held", "", false, "USB001:", true, held + "USB001:"},
        {true, kUsb, "of another interface", "", false, "COM1", false, noUsb},
        {false, kUsb, "of another interface", "", false, "COM1", false, noUsb},
        // Ethernet: the address shown, whatever was stored.
        {true, kEthernet, "stored Ethernet", "", false, "Ethernet", false, "Ethernet 127.0.0.1:9100"},
        {false, kEthernet, "stored Ethernet", "", false, "Ethernet", false, "Ethernet 127.0.0.1:9100"},
        {true, kEthernet, "of another interface", "", false, "COM1", true, "Ethernet 127.0.0.1:9100"},
        {false, kEthernet, "of another interface", "", false, "USB001:", true, "Ethernet 127.0.0.1:9100"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.add ? "add" : "modify") + ", interface " + std::to_string(r.iface) + ", " + r.where);
        BindingState st;
        st.addMode = r.add;
        st.interfaceType = r.iface;
        st.selected = r.selected;
        st.selectedHeld = r.selectedHeld;
        if (r.iface == kUsb && *r.selected) {
            st.selectedUsbPath = path;
            st.selectedUsbCount = 1;
        }
        st.storedPort = r.storedPort;
        st.storedUsbPath = std::string(r.storedPort).compare(0, 3, "USB") == 0 ? path : "";
        st.storedHeld = r.storedHeld;
        st.tcpIp = "127.0.0.1";
        st.tcpIpWhole = true;
        st.tcpPort = 9100;
        EXPECT_EQ(BindingText(ComputeBinding(st)), r.expected);
    }
}

TEST_F(ConfigPrinter, APortAnotherKeyHoldsIsRefusedBeforeAndAfterASave)
{
    Key("VL420", {S("Port", "COM2"), D("Porttype_N", 0x1B)});
    Key("VL420_1", {S("Port", "COM3")});
    CTestConfigDlg dlg("VL420", 32, FALSE);
    CDialogDriver drv(30000);
    drv.Select(IDC_CFG_PORT, 2)  // COM3: held by VL420_1
        .Do([&](HWND h) { EXPECT_EQ(SelText(h, IDC_CFG_PORT), "COM2") << "reverted without a message"; })
        .Select(IDC_CFG_PORT, 3)  // COM4: free
        .Do([&](HWND h) { EXPECT_EQ(SelText(h, IDC_CFG_PORT), "COM4"); })
        .Click(IDC_CFG_HEALTH)  // saves (no Control Object: its message)
        .AnswerMessageBox(IDOK)
        .Select(IDC_CFG_PORT, 2)
        .Do([&](HWND h) { EXPECT_EQ(SelText(h, IDC_CFG_PORT), "COM4") << "still refused after the save"; })
        .Do([&](HWND h) {
            // Chosen without the list's notification, as a stale selection: OK says so.
            SendDlgItemMessageA(h, IDC_CFG_PORT, CB_SETCURSEL, 2, 0);
        })
        .Click(IDOK)
        .AnswerMessageBox(IDOK)
        .Do([&](HWND h) {
            EXPECT_EQ(SelText(h, IDC_CFG_PORT), "COM4") << "OK stopped and went back to the accepted port";
            EXPECT_EQ(ReadValue(kClass + "\\VL420", "Port"), "sz:COM4");
        })
        .Click(IDOK)
        .AnswerMessageBox(IDOK);
    EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
    ASSERT_EQ(drv.MessageBoxTexts().size(), 3u) << drv.Report();
    EXPECT_EQ(drv.MessageBoxTexts()[0].substr(0, 22), "OPOSPrinter Open Error");
    EXPECT_EQ(drv.MessageBoxTexts()[1], "Other device used port. : COM3");
    EXPECT_EQ(drv.MessageBoxTexts()[2], "Installed Success!");
    EXPECT_EQ(ReadValue(kClass + "\\VL420", "Port"), "sz:COM4");
}

TEST_F(ConfigPrinter, TheSelectionNeverRestsOnAPortAnotherKeyHolds)
{
    const std::string success = "Installed Success!", used = "Other device used port. : ";
    const std::string noPort = cfgprn::kMsgNoPort, noUsb = cfgprn::kMsgNoUsbPrinter;
    struct Row
    {
        const char* what;
        BOOL add;
        int findAvailable;
        std::vector<std::string> machine;  // the machine's ports (FindAvailablePort)
        std::vector<Val> values;           // of the edited key VL420_1; VL420 holds COM1
        std::function<void(CDialogDriver&)> steps;
        size_t boxesAtOpen;
        std::string shown;
        std::vector<std::string> boxes;  // every message, in order; without success the dialog stays
        std::string saved;               // Port once OK is through (or refused)
        std::string afterRefusal;        // the selection once OK refused
    };
    const Row rows[] = {
        {"Add Device's COM1, held by the first printer", TRUE, 0, {}, {S("Port", "COM1"), D("Porttype_N", 0x1B)},
         [](CDialogDriver&) {}, 0, "COM2", {success}, "sz:COM2", ""},
        {"back from Ethernet the list begins with the held COM1", TRUE, 0, {},
         {S("Port", "Ethernet"), S("TcpIp", "127.0.0.1"), D("Porttype_N", 0x1B)},
         [](CDialogDriver& d) { d.Click(IDC_CFG_SERIAL); }, 0, "COM2", {success}, "sz:COM2", ""},
        {"a stored port that only this key holds stays", TRUE, 0, {}, {S("Port", "COM3"), D("Porttype_N", 0x1B)},
         [](CDialogDriver&) {}, 0, "COM3", {success}, "sz:COM3", ""},
        {"the only port of the machine is held: nothing to select, OK refuses", TRUE, 1, {"COM1"},
         {S("Port", "COM1"), D("Porttype_N", 0x1B)}, [](CDialogDriver&) {}, 0, "<none>", {noPort}, "sz:COM1", "<none>"},
        {"an added key's port is gone from the machine: OK refuses", TRUE, 1, {},
         {S("Port", "COM3"), D("Porttype_N", 0x1B)}, [](CDialogDriver&) {}, 0, "<none>", {noPort}, "sz:COM3", "<none>"},
        {"a modified key's port is gone from the machine: it keeps it", FALSE, 1, {},
         {S("Port", "COM3"), D("Porttype_N", 0x1B)}, [](CDialogDriver&) {}, 0, "<none>", {success}, "sz:COM3", ""},
        {"a refused pick with no free port to go back to does not stay selected", FALSE, 1, {"COM1"},
         {S("Port", "COM3"), D("Porttype_N", 0x1B)},
         [](CDialogDriver& d) {
             d.Select(IDC_CFG_PORT, 0).Do([](HWND h) { EXPECT_EQ(SelText(h, IDC_CFG_PORT), "<none>"); });
         },
         0, "<none>", {success}, "sz:COM3", ""},
        {"a modified key on a shared port opens on it, is told, and OK refuses it", FALSE, 0, {},
         {S("Port", "COM1"), D("Porttype_N", 0x1B)}, [](CDialogDriver&) {}, 1, "COM1", {used + "COM1", used + "COM1"},
         "sz:COM1", "COM2"},
        {"a USB-only model added unplugged opens on USB and OK refuses", TRUE, 0, {},
         {S("Port", ""), S("TcpIp", "192.168.1.1"), S("Vid", "1a2b"), S("Pid", "0420"), D("Porttype_N", 0x08)},
         [](CDialogDriver& d) {
             d.Do([](HWND h) { EXPECT_EQ(CheckedInterface(h), "usb"); });
         },
         1, "<none>", {"Not Connect USB Device and Power off!", noUsb}, "sz:", "<none>"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        CTestRegistry local;
        CInstallFolder install(local, InstallOptions());
        ASSERT_TRUE(CopyShippedInf(install.Folder(), "VL420.inf"));
        if (r.findAvailable)
            AddMachinePorts(local, r.machine);
        WriteDeviceKey(local, "VL420", kLabelProgId, "", "COM1", "VL420");
        WriteDeviceKey(local, "VL420_1", kLabelProgId, "", "COM1", "VL420");
        WriteValues(local, kClass + "\\VL420_1", r.values);
        CTestConfigDlg dlg("VL420_1", 32, r.add, r.findAvailable);
        CDialogDriver drv(30000);
        for (size_t i = 0; i < r.boxesAtOpen; ++i)
            drv.AnswerMessageBox(IDOK);
        r.steps(drv);
        drv.Do([&](HWND h) { EXPECT_EQ(SelText(h, IDC_CFG_PORT), r.shown); }).Click(IDOK);
        for (size_t i = r.boxesAtOpen; i < r.boxes.size(); ++i)
            drv.AnswerMessageBox(IDOK);
        const bool saves = !r.boxes.empty() && r.boxes.back() == success;
        if (!saves)
            drv.Do([&](HWND h) {
                   EXPECT_EQ(ReadValue(kClass + "\\VL420_1", "Port"), r.saved) << "nothing saved";
                   EXPECT_EQ(SelText(h, IDC_CFG_PORT), r.afterRefusal) << "a refused pick does not stay selected";
               })
                .Click(IDCANCEL);
        EXPECT_EQ(drv.Run(dlg), saves ? IDOK : IDCANCEL) << drv.Report();
        EXPECT_EQ(drv.MessageBoxTexts(), r.boxes) << drv.Report();
        if (saves) {
            EXPECT_EQ(ReadValue(kClass + "\\VL420_1", "Port"), r.saved);
        }
    }
}

TEST_F(ConfigPrinter, LogicalDeviceNamesAndTheirAliases)
{
    struct Row
    {
        const char* what;
        std::string storedLdn;
        std::vector<Val> classValues;  // aliases before
        std::string newLdn;
        BOOL add;
        int button;  // IDOK or IDCANCEL
        bool refused;
        std::map<std::string, std::string> aliasesAfter;  // value of the class key: "sz:..." or "missing"
    };
    const Row rows[] = {
        {"another key's name is refused", "", {}, "VL820", FALSE, IDOK, true, {{"VL820", "missing"}}},
        {"another key's name in other case is refused", "", {}, "vl820", FALSE, IDOK, true, {{"vl820", "missing"}}},
        {"an alias that leads to another device in other case is refused", "", {S("Front", "vl820")}, "Front", FALSE,
         IDOK, true, {{"Front", "sz:vl820"}}},
        {"another key's name whose alias leads here passes", "", {S("VL820", "VL420")}, "VL820", FALSE, IDOK, false,
         {{"VL820", "sz:VL420"}}},
        {"another device's alias is refused", "", {S("Front", "VL820")}, "Front", FALSE, IDOK, true,
         {{"Front", "sz:VL820"}}},
        {"an empty name passes and writes no alias", "", {}, "", FALSE, IDOK, false, {{"", "missing"}}},
        {"a change deletes our old alias", "Old", {S("Old", "VL420")}, "New", FALSE, IDOK, false,
         {{"Old", "missing"}, {"New", "sz:VL420"}}},
        {"a clear deletes our old alias", "Old", {S("Old", "VL420")}, "", FALSE, IDOK, false, {{"Old", "missing"}}},
        {"an old name whose alias is another device's stays", "Old", {S("Old", "VL820")}, "New", FALSE, IDOK, false,
         {{"Old", "sz:VL820"}, {"New", "sz:VL420"}}},
        {"a change in add mode deletes the first alias too", "First", {S("First", "VL420")}, "Second", TRUE, IDOK,
         false, {{"First", "missing"}, {"Second", "sz:VL420"}}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        CTestRegistry local;
        CInstallFolder install(local, InstallOptions());
        CopyShippedInf(install.Folder(), "VL420.inf");
        WriteDeviceKey(local, "VL420", kLabelProgId, r.storedLdn.c_str(), "COM1", "VL420");
        WriteDeviceKey(local, "VL820", kLabelProgId, "", "COM2", "VL820");
        WriteValues(local, kClass, r.classValues);
        CTestConfigDlg dlg("VL420", 32, r.add);
        CDialogDriver drv(30000);
        drv.SetText(IDC_CFG_LDN, r.newLdn).Click(IDOK).AnswerMessageBox(IDOK);
        if (r.refused)
            drv.Click(IDCANCEL);
        INT_PTR end = drv.Run(dlg);
        EXPECT_EQ(end, r.refused ? IDCANCEL : IDOK) << drv.Report();
        ASSERT_FALSE(drv.MessageBoxTexts().empty()) << drv.Report();
        EXPECT_EQ(drv.MessageBoxTexts()[0], r.refused ? "Device will not be set to " + r.newLdn : "Installed Success!");
        for (const auto& a : r.aliasesAfter) {
            if (!a.first.empty()) {
                EXPECT_EQ(ReadValue(kClass, a.first), a.second) << a.first;
            }
        }
        if (!r.refused) {
            EXPECT_EQ(ReadValue(kClass + "\\VL420", "LDN"), "sz:" + r.newLdn);
        }
    }
}

TEST_F(ConfigPrinter, CancelOfAnAddRemovesTheKeyAndItsOwnAliasOnly)
{
    struct Row
    {
        BOOL add;
        std::string aliasTarget;
        bool keyAfter;
        std::string aliasAfter;
    };
    const Row rows[] = {{TRUE, "VL420", false, "missing"}, {TRUE, "VL820", false, "sz:VL820"},
                        {FALSE, "VL420", true, "sz:VL420"}};
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.add ? "add" : "modify") + ", alias to " + r.aliasTarget);
        Key("VL420", {S("LDN", "Front"), S("Port", "COM1")});
        reg.SetString(kClass.c_str(), "Front", r.aliasTarget.c_str());
        CTestConfigDlg dlg("VL420", 32, r.add);
        CDialogDriver drv(30000);
        drv.Click(IDCANCEL);
        EXPECT_EQ(drv.Run(dlg), IDCANCEL) << drv.Report();
        EXPECT_EQ(KeyExists(kClass + "\\VL420"), r.keyAfter);
        EXPECT_EQ(ReadValue(kClass, "Front"), r.aliasAfter);
    }
}

TEST_F(ConfigPrinter, CancelAfterCheckHealthSavedAnAddLeavesNothing)
{
    Key("VL420", {S("Port", "COM1")});
    CTestConfigDlg dlg("VL420", 32, TRUE);
    CDialogDriver drv(30000);
    drv.SetText(IDC_CFG_LDN, "Front")
        .Click(IDC_CFG_HEALTH)
        .AnswerMessageBox(IDOK)
        .Do([&](HWND) { EXPECT_EQ(ReadValue(kClass, "Front"), "sz:VL420") << "saved before the Open"; })
        .Click(IDCANCEL);
    EXPECT_EQ(drv.Run(dlg), IDCANCEL) << drv.Report();
    EXPECT_FALSE(KeyExists(kClass + "\\VL420"));
    EXPECT_EQ(ReadValue(kClass, "Front"), "missing");
}

// ---- Save, read back from the registry -----------------------------------------------------------

TEST_F(ConfigPrinter, ASaveWritesEveryValueWithItsTypePerInterface)
{
    struct Row
    {
        const char* what;
        std::vector<Val> before;
        std::function<void(CDialogDriver&)> steps;
        std::vector<Val> after;
        std::vector<std::string> absent;
    };
    const Row rows[] = {
        {"serial, a damaged parity saved as NONE, Timeout kept",
         {S("Port", "COM2"), S("Parity", "5"), S("BaudRate", "4800"), S("Timeout", "2500"), D("Porttype_N", 0x1B)},
         [](CDialogDriver& d) { d.Select(IDC_CFG_FLOW, 2).SetText(IDC_CFG_INBUF, "777"); },
         {S("Port", "COM2"), S("BaudRate", "19200"), S("BitLength", "8"), S("HandShake", "None"), S("Parity", "0"),
          S("Stop", "0"), S("InputBuf", "777"), S("OutputBuf", "2048"), S("Timeout", "2500"), S("InputSleep", "0"),
          S("Out_Interval", "0"), S("LDN", ""), D("UsingBT", 0), D("Log", 0), D("LogSavingDays", 14), D("Binary", 0)},
         {}},
        {"Ethernet: address, port and wireless",
         {S("Port", "Ethernet"), S("TcpIp", "127.0.0.1"), D("TcpPort", 0), D("Wireless", 1)},
         [](CDialogDriver& d) { d.SetText(IDC_CFG_TCPPORT, "9105"); },
         {S("Port", "Ethernet"), S("TcpIp", "127.0.0.1"), D("TcpPort", 9105), D("Wireless", 1), S("OutputBuf", "8192"),
          S("Timeout", "1000")},
         {"UsingBT"}},
        {"a change of interface takes that interface's buffers",
         {S("Port", "COM1"), D("Porttype_N", 0x1D)},
         [](CDialogDriver& d) {
             d.Click(IDC_CFG_PARALLEL)
                 .Select(IDC_CFG_PORT, 1)
                 .Do([](HWND h) { SendDlgItemMessageA(h, IDC_CFG_LOG, BM_SETCHECK, BST_CHECKED, 0); })
                 .Click(IDC_CFG_LOG);
         },
         {S("Port", "LPT2"), S("InputBuf", "1024"), S("OutputBuf", "4096"), D("Log", 1)},
         {"UsingBT"}},
        {"a new key's buffers are kept on the interface it opens on",
         {S("Port", "COM1"), S("InputBuf", "4096"), S("OutputBuf", "4096"), D("Porttype_N", 0x1B)},
         [](CDialogDriver&) {},
         {S("Port", "COM1"), S("InputBuf", "4096"), S("OutputBuf", "4096")},
         {}},
        {"another interface and back offers the model's serial sizes",
         {S("Port", "COM1"), S("InputBuf", "4096"), S("OutputBuf", "4096"), D("Porttype_N", 0x1B)},
         [](CDialogDriver& d) { d.Click(IDC_CFG_ETHERNET).Click(IDC_CFG_SERIAL); },
         {S("Port", "COM1"), S("InputBuf", "1024"), S("OutputBuf", "2048"), D("UsingBT", 0)},
         {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        CTestRegistry local;
        CInstallFolder install(local, InstallOptions());
        CopyShippedInf(install.Folder(), "VL420.inf");
        WriteDeviceKey(local, "VL420", kLabelProgId, "", "COM1", "VL420");
        WriteValues(local, kClass + "\\VL420", r.before);
        CTestConfigDlg dlg("VL420", 32, FALSE);
        CDialogDriver drv(30000);
        r.steps(drv);
        drv.Click(IDOK).AnswerMessageBox(IDOK);
        EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
        EXPECT_TRUE(drv.Failures().empty()) << drv.Report();
        for (const Val& v : r.after)
            EXPECT_EQ(ReadValue(kClass + "\\VL420", v.name), Expect(v)) << v.name;
        for (const std::string& name : r.absent)
            EXPECT_EQ(ReadValue(kClass + "\\VL420", name), "missing") << name;
    }
}

TEST_F(ConfigPrinter, AnOutputBufferOfZeroWritesNothing)
{
    const std::string out = "Output Buffer Value Error!", in = cfgprn::kMsgInputBuffer;
    struct Row
    {
        int edit;
        const char* text;
        std::string refusal;  // empty: saved
    } rows[] = {
        {IDC_CFG_OUTBUF, "0", out},          {IDC_CFG_OUTBUF, "00", out},   {IDC_CFG_OUTBUF, "", out},
        {IDC_CFG_OUTBUF, "-1", out},         {IDC_CFG_OUTBUF, "abc", out},  {IDC_CFG_OUTBUF, "4000000000", out},
        {IDC_CFG_OUTBUF, "1048576", ""},     {IDC_CFG_INBUF, "0", in},      {IDC_CFG_INBUF, "4000000000", in},
        {IDC_CFG_INBUF, "abc", in},          {IDC_CFG_INBUF, "512", ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.edit == IDC_CFG_OUTBUF ? "output" : "input") + " buffer \"" + r.text + "\"");
        const bool refused = !r.refusal.empty();
        const char* value = r.edit == IDC_CFG_OUTBUF ? "OutputBuf" : "InputBuf";
        Key("VL420", {S("Port", "COM1"), S("OutputBuf", "2048"), S("InputBuf", "2048")});
        CRegistry().Delete(kClass.c_str(), "Front");
        CTestConfigDlg dlg("VL420", 32, FALSE);
        CDialogDriver drv(30000);
        drv.SetText(r.edit, r.text).SetText(IDC_CFG_LDN, "Front").Click(IDOK).AnswerMessageBox(IDOK);
        if (refused)
            drv.Click(IDCANCEL);
        drv.Run(dlg);
        ASSERT_FALSE(drv.MessageBoxTexts().empty()) << drv.Report();
        EXPECT_EQ(drv.MessageBoxTexts()[0], refused ? r.refusal : "Installed Success!");
        EXPECT_EQ(ReadValue(kClass + "\\VL420", value), refused ? "sz:2048" : std::string("sz:") + r.text);
        EXPECT_EQ(ReadValue(kClass, "Front"), refused ? "missing" : "sz:VL420");
    }
}

TEST_F(ConfigPrinter, AnUnusableTcpPortOrAddressSaysSoOnceAndSavesNothing)
{
    const std::string kPort = "TCP Port: enter a number from 1 to 65535.",
                      kAddress = "IP address: enter all four numbers of the printer's address (not 0.0.0.0).";
    // The address control's four field edits, as a person types into them.
    auto typeAddress = [](std::vector<std::string> fields) {
        return [fields](HWND h) {
            HWND ip = GetDlgItem(h, IDC_CFG_IPADDRESS);
            SendMessageA(ip, IPM_CLEARADDRESS, 0, 0);
            HWND field = GetWindow(ip, GW_CHILD);
            for (const std::string& f : fields) {
                SetWindowTextA(field, f.c_str());
                field = GetWindow(field, GW_HWNDNEXT);
            }
        };
    };
    struct Row
    {
        const char* what;
        const char* storedAddress;
        std::string port;                    // typed into the TCP port edit
        std::function<void(HWND)> address;  // what is done to the address control (nullptr: nothing)
        std::string box;                    // empty: saved
    };
    const Row rows[] = {
        {"not a number", "127.0.0.1", "91x", nullptr, "Please enter a whole number."},
        {"above 65535", "127.0.0.1", "70000", nullptr, kPort},
        {"port 0", "127.0.0.1", "0", nullptr, kPort},
        {"an emptied port edit", "127.0.0.1", "", nullptr, kPort},
        {"a blank address", "127.0.0.1", "9101", typeAddress({}), kAddress},
        {"a partly filled address", "127.0.0.1", "9101", typeAddress({"192", "168"}), kAddress},
        {"the stored 0.0.0.0", "0.0.0.0", "9101", nullptr, kAddress},
        {"a whole address and port 65535", "0.0.0.0", "65535", typeAddress({"127", "0", "0", "2"}), ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        Key("VL420", {S("Port", "Ethernet"), S("TcpIp", r.storedAddress), D("TcpPort", 9100)});
        CTestConfigDlg dlg("VL420", 32, FALSE);
        CDialogDriver drv(30000);
        drv.SetText(IDC_CFG_TCPPORT, r.port);
        if (r.address)
            drv.Do(r.address);
        drv.Click(IDOK).AnswerMessageBox(IDOK);
        if (!r.box.empty())
            drv.Click(IDCANCEL);
        EXPECT_EQ(drv.Run(dlg), r.box.empty() ? IDOK : IDCANCEL) << drv.Report();
        EXPECT_EQ(drv.MessageBoxTexts(), std::vector<std::string>{r.box.empty() ? "Installed Success!" : r.box})
            << drv.Report();
        if (r.box.empty()) {
            EXPECT_EQ(ReadValue(kClass + "\\VL420", "TcpPort"), "dword:65535");
            EXPECT_EQ(ReadValue(kClass + "\\VL420", "TcpIp"), "sz:127.0.0.2");
        } else {
            EXPECT_EQ(ReadValue(kClass + "\\VL420", "TcpPort"), "dword:9100");
            EXPECT_EQ(ReadValue(kClass + "\\VL420", "Timeout"), "missing") << "nothing written";
        }
    }
}

namespace {
// A device key whose values the registry no longer lets anyone set.
bool RefuseValueWrites(const std::string& key)
{
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, WRITE_DAC, &k) != ERROR_SUCCESS)
        return false;
    PSECURITY_DESCRIPTOR sd = nullptr;
    bool ok = ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(D;;0x0002;;;WD)(A;;GA;;;WD)", SDDL_REVISION_1,
                                                                   &sd, nullptr) &&
              RegSetKeySecurity(k, DACL_SECURITY_INFORMATION, sd) == ERROR_SUCCESS;
    LocalFree(sd);
    RegCloseKey(k);
    return ok;
}
}

TEST_F(ConfigPrinter, AKeyTheRegistryRefusesIsSaidAndNoSaveSucceeds)
{
    const std::string failed = "Failed to write registry! : " + kClass + "\\VL420";
    for (int button : {IDOK, IDC_CFG_HEALTH, IDC_CFG_ADVANCED}) {
        SCOPED_TRACE("button " + std::to_string(button));
        // The device opens by its logical name Old; a refused save must not move that alias.
        Key("VL420", {S("Port", "COM2"), D("Porttype_N", 0x1B), S("LDN", "Old")});
        reg.SetString(kClass.c_str(), "Old", "VL420");
        CRegistry().Delete(kClass.c_str(), "Front");
        CTestConfigDlg dlg("VL420", 32, FALSE);
        int advancedRuns = 0;
        dlg.onLabel = [&](CLabelAdvancedDlg&) {
            ++advancedRuns;
            return IDCANCEL;
        };
        CDialogDriver drv(30000);
        drv.Do([&](HWND) { ASSERT_TRUE(RefuseValueWrites(kClass + "\\VL420")); })
            .SetText(IDC_CFG_LDN, "Front")
            .Click(button)
            .AnswerMessageBox(IDOK)
            .Do([](HWND h) { EXPECT_TRUE(IsWindowVisible(h)) << "the dialog stays"; })
            .Click(IDCANCEL);
        EXPECT_EQ(drv.Run(dlg), IDCANCEL) << drv.Report();
        EXPECT_EQ(drv.MessageBoxTexts(), std::vector<std::string>{failed})
            << "no success, no Open of the device" << drv.Report();
        EXPECT_EQ(advancedRuns, 0);
        EXPECT_EQ(ReadValue(kClass + "\\VL420", "LDN"), "sz:Old") << "the device key is as it was";
        EXPECT_EQ(ReadValue(kClass, "Old"), "sz:VL420") << "the device still opens by its old name";
        EXPECT_EQ(ReadValue(kClass, "Front"), "missing") << "no alias leads to values the key does not hold";
    }
}

TEST_F(ConfigPrinter, LabelSettingsFromTheKeyOrTheModelInfWithTheOffsetEncoding)
{
    struct Row
    {
        const char* what;
        const char* model;
        std::vector<Val> before;
        std::vector<Val> after;
    };
    const Row rows[] = {
        {"a new key takes the model's settings, OperationMode included", "VL820", {},
         {S("PrintType", "T"), S("PaperType", "A"), S("OperationMode", "R"), D("PaperWidth", 1218), D("Density", 14),
          D("HRISize", 2), D("CutterPeriod", 1), S("Orientation", "B"), D("OffsetPosition", 0)}},
        {"a model INF that is missing gives the defaults", "VL999", {},
         {D("LanguageType", 0), S("PrintType", "D"), S("PaperType", "G"), S("OperationMode", "T"), D("CutterPeriod", 1),
          S("Orientation", "B"), D("PrintSpeed", 3), D("Density", 10), D("HRISize", 1), D("PaperWidth", 0),
          D("PaperLength", 0), D("LeftMargin", 0), D("TopMargin", 0), D("OffsetLength", 0), D("GapLength", 0),
          D("BackFeed", 0), D("BackFeedStep", 0), D("RightToLeft", 0)}},
        {"stored offsets keep their stored form", "VL420",
         {D("OffsetPosition", 105), D("TearOffPosition", 100), S("OperationMode", "T"), D("Density", 7)},
         {D("OffsetPosition", 105), D("TearOffPosition", 100), S("OperationMode", "T"), D("Density", 7)}},
        {"media sensing without a PaperType: smart calibration; the model's lengths and margins", "VL150", {},
         {S("PaperType", "A"), S("OperationMode", "T"), D("PaperLength", 700), D("LeftMargin", 11), D("TopMargin", 12),
          D("OffsetLength", 13), D("GapLength", 14), D("BackFeed", 15), D("BackFeedStep", 16)}},
        {"only the older operation mode name", "VL160", {}, {S("OperationMode", "R"), S("PaperType", "G")}},
        {"damaged numbers are saved as their defaults, not back unchanged", "VL420",
         {D("PrintSpeed", 99), D("Density", 0), D("HRISize", 9), D("CutterPeriod", 0), D("PaperWidth", 20000)},
         {D("PrintSpeed", 3), D("Density", 14), D("HRISize", 1), D("CutterPeriod", 1), D("PaperWidth", 0)}},
        {"the key's lengths and margins win over the model's", "VL150",
         {D("PaperLength", 501), D("LeftMargin", 3), D("TopMargin", 4), D("OffsetLength", 5), D("GapLength", 6),
          D("BackFeed", 1), D("BackFeedStep", 2), S("PaperType", "C")},
         {D("PaperLength", 501), D("LeftMargin", 3), D("TopMargin", 4), D("OffsetLength", 5), D("GapLength", 6),
          D("BackFeed", 1), D("BackFeedStep", 2), S("PaperType", "C")}},
    };
    folder->Folder().Write("VL150.inf", "[LABEL]\r\nCapMediaSensing=1\r\nPaperLength=700\r\nLeftMargin=11\r\n"
                                        "TopMargin=12\r\nOffsetLength=13\r\nGapLength=14\r\nBackFeed=15\r\n"
                                        "BackFeedStep=16\r\n");
    folder->Folder().Write("VL160.inf", "[LABEL]\r\nm_strOperationMode=R\r\n");
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        Key("VL420", r.before, r.model);
        CTestConfigDlg dlg("VL420", 32, FALSE);
        CDialogDriver drv(30000);
        drv.Click(IDOK).AnswerMessageBox(IDOK);
        EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
        for (const Val& v : r.after)
            EXPECT_EQ(ReadValue(kClass + "\\VL420", v.name), Expect(v)) << v.name;
    }
}

TEST_F(ConfigPrinter, LabelAdvancedSavesFirstAndItsValuesReachTheKeyAtTheNextSave)
{
    Key("VL420", {S("Port", "COM1"), D("OffsetPosition", 101)});
    CTestConfigDlg dlg("VL420", 32, FALSE);
    int seenOffset = 0;
    std::string ldnAtAdvanced;
    int runs = 0;
    dlg.onLabel = [&](CLabelAdvancedDlg& adv) {
        if (++runs == 2) {
            // Changed, then cancelled: nothing of it comes back.
            adv.m_strPaperType = "C";
            adv.m_nOffsetPosition = 50;
            return IDCANCEL;
        }
        ldnAtAdvanced = ReadValue(kClass + "\\VL420", "LDN");
        seenOffset = adv.m_nOffsetPosition;
        EXPECT_STREQ(adv.m_strModelName, "VL420");
        adv.m_nOffsetPosition = -5;
        adv.m_nTearOffPosition = -20;
        adv.m_strPaperType = "B";
        return IDOK;
    };
    CDialogDriver drv(30000);
    drv.Do([&](HWND) { EXPECT_EQ(dlg.m_nOffsetPosition, -1) << "a stored 101 opens as -1"; })
        .SetText(IDC_CFG_LDN, "Front")
        .Click(IDC_CFG_ADVANCED)
        .Do([&](HWND) {
            EXPECT_EQ(ReadValue(kClass + "\\VL420", "OffsetPosition"), "dword:101") << "not yet written";
            EXPECT_EQ(ReadValue(kClass + "\\VL420", "PaperType"), "sz:G");
        })
        .Click(IDC_CFG_HEALTH)  // saves once more (no Control Object: its message)
        .AnswerMessageBox(IDOK)
        .Click(IDC_CFG_ADVANCED)
        .Click(IDOK)
        .AnswerMessageBox(IDOK);
    EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(ldnAtAdvanced, "sz:Front") << "the Advanced button saved first";
    EXPECT_EQ(seenOffset, 101) << "handed over in stored form after the save";
    // Saved twice after the change: the stored form both times.
    EXPECT_EQ(ReadValue(kClass + "\\VL420", "OffsetPosition"), "dword:105");
    EXPECT_EQ(ReadValue(kClass + "\\VL420", "TearOffPosition"), "dword:120");
    EXPECT_EQ(ReadValue(kClass + "\\VL420", "PaperType"), "sz:B");
}

TEST_F(ConfigPrinter, ReceiptSettingsDerivedAndTheirAdvancedDialogSavesNothing)
{
    // A receipt model of the tests' own.
    folder->Folder().Write("TR80.inf", "[POSPRINTER]\r\nRecLineChars=42\r\nRecLineCharsList=48,42,56\r\n"
                                       "CharacterSetList=437,874(Thai),1252\r\nCharacterSet=1252\r\n"
                                       "[IMAGEFUNC]\r\nCapGrayscale=1\r\nThreshold=120\r\n");
    folder->Folder().Write("TR60.inf", "[POSPRINTER]\r\nRecLineChars=40\r\nRecLineCharsList=48,42,56\r\n");
    folder->Folder().Write("TR70.inf", "[POSPRINTER]\r\nRecLineChars=42\r\nRecLineCharsList=48,,42\r\n");
    folder->Folder().Write("TR90.inf", "[POSPRINTER]\r\nInternationalCharSet=3\r\n"
                                       "[SPECIALFUNC]\r\nTHAI3PASS=1\r\nLEFTMARGINE=8\r\nCHARSPACE=2\r\n"
                                       "SWAPFONTC=1\r\nFEEDCUT=5\r\n"
                                       "[IMAGEFUNC]\r\nBrightness=4\r\nDithering=1\r\nTwoColor=1\r\n");
    struct Row
    {
        const char* what;
        const char* model;
        std::vector<Val> before;
        std::vector<Val> after;
    };
    const Row rows[] = {
        {"DefaultFont from RecLineChars, grayscale forces RLE", "TR80", {D("ImageGrayscale", 1), D("ImageRLE", 0)},
         {S("DefaultFont", "B"), D("CharacterSet", 1252), D("ImageGrayscale", 1), D("ImageRLE", 1),
          D("ImageThresholdValue", 120), D("ImageSplitCount", 246)}},
        {"an empty field of the list keeps its place", "TR70", {}, {S("DefaultFont", "C")}},
        {"no letter matches: the number; the other settings 0", "TR60", {},
         {S("DefaultFont", "40"), D("CharacterSet", 437), D("ImageGrayscale", 0), D("ImageThresholdValue", 127),
          D("InternationalCharSet", 0), D("UsingFontC", 0), D("Thai3Pass", 0), D("LeftMargine", 0), D("CharSpace", 0),
          D("ImageBrightness", 0), D("ImageDithering", 0), D("ImageTwoColor", 0), D("FeedCut", 0)}},
        {"the model's special and image functions", "TR90", {},
         {D("InternationalCharSet", 3), D("UsingFontC", 1), D("Thai3Pass", 1), D("LeftMargine", 8), D("CharSpace", 2),
          D("ImageBrightness", 4), D("ImageDithering", 1), D("ImageTwoColor", 1), D("FeedCut", 5)}},
        {"the key's own values win over the model's", "TR90",
         {D("InternationalCharSet", 7), D("UsingFontC", 0), D("Thai3Pass", 0), D("LeftMargine", 9), D("CharSpace", 6),
          D("ImageBrightness", 2), D("ImageDithering", 0), D("ImageTwoColor", 0), D("FeedCut", 12)},
         {D("InternationalCharSet", 7), D("UsingFontC", 0), D("Thai3Pass", 0), D("LeftMargine", 9), D("CharSpace", 6),
          D("ImageBrightness", 2), D("ImageDithering", 0), D("ImageTwoColor", 0), D("FeedCut", 12)}},
        {"a model without grayscale opens with it off whatever the key holds", "TR60",
         {D("ImageGrayscale", 1), D("ImageRLE", 0)}, {D("ImageGrayscale", 0), D("ImageRLE", 0)}},
        {"a grayscale model code without the capability", "TR60",
         {D("ImageGrayscale", 1), D("Model", 1030)}, {D("ImageGrayscale", 1), D("ImageRLE", 1)}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        WriteDeviceKey(reg, "TR80", nullptr, "", "COM1", r.model);
        WriteValues(reg, kClass + "\\TR80", r.before);
        CTestConfigDlg dlg("TR80", 1, FALSE);
        dlg.onReceipt = [&](CConfigPrinterAdvDlg& adv) {
            adv.m_nThreshold = 99;
            return IDOK;
        };
        CDialogDriver drv(30000);
        drv.Click(IDC_CFG_ADVANCED)
            .Do([&](HWND) { EXPECT_EQ(ReadValue(kClass + "\\TR80", "ImageThresholdValue"), "missing"); })
            .Click(IDCANCEL);
        drv.Run(dlg);
        EXPECT_EQ(ReadValue(kClass + "\\TR80", "ImageThresholdValue"), "missing") << "lost with Cancel";
        CTestConfigDlg again("TR80", 1, FALSE);
        CDialogDriver ok(30000);
        ok.Click(IDOK).AnswerMessageBox(IDOK);
        EXPECT_EQ(ok.Run(again), IDOK) << ok.Report();
        for (const Val& v : r.after)
            EXPECT_EQ(ReadValue(kClass + "\\TR80", v.name), Expect(v)) << v.name;
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, (kClass + "\\TR80").c_str());
    }
    // A threshold changed in the advanced dialog and saved with OK opens next time.
    WriteDeviceKey(reg, "TR80", nullptr, "", "COM1", "TR80");
    CTestConfigDlg dlg("TR80", 1, FALSE);
    dlg.onReceipt = [&](CConfigPrinterAdvDlg& adv) {
        EXPECT_EQ(adv.m_nThreshold, 120);
        EXPECT_STREQ(adv.m_strDefaultFont, "B");
        adv.m_nThreshold = 99;
        return IDOK;
    };
    CDialogDriver drv(30000);
    drv.Click(IDC_CFG_ADVANCED).Click(IDOK).AnswerMessageBox(IDOK);
    EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
    EXPECT_EQ(ReadValue(kClass + "\\TR80", "ImageThresholdValue"), "dword:99");
    CTestConfigDlg next("TR80", 1, FALSE);
    CDialogDriver drv2(30000);
    drv2.Click(IDCANCEL);
    drv2.Run(next);
    EXPECT_EQ(next.m_nImageThresholdValue, 99u);
}

// ---- The main dialog's roads ---------------------------------------------------------------------

namespace {
class CRoadsDlg : public CBrevantonDlg
{
public:
    struct Call
    {
        std::string key;
        int classCode;
        BOOL add;
        int findAvailablePort;
    };
    std::vector<Call> calls;

protected:
    BOOL CreatePrinterControl(const RECT& rect) override
    {
        return m_ctlPOSPrinter.CreateControl(kNowhere, "", WS_CHILD, rect, this, IDC_POSPRINTER_CONTROL);
    }
    INT_PTR RunPrinterConfiguration(const CString& keyName, int classCode, BOOL addMode) override
    {
        calls.push_back({keyName.GetString(), classCode, addMode, m_nFindAvailablePort});
        return IDOK;
    }
};
}

TEST_F(ConfigPrinter, MainDialogAddAndModifyOpenTheConfigurationInTheirModes)
{
    CTestRegistry local;
    InstallOptions o;
    o.findAvailablePort = 1;
    CInstallFolder install(local, o);
    WriteDeviceKey(local, "VL820");
    CRoadsDlg dlg;
    CNestedDialogWatch addDevice(nullptr, IDC_MODEL_LIST, [](HWND d) { ChooseModelAndGoOn(d, 0); });
    CDialogDriver drv(30000);
    drv.Click(IDC_ADD_DEVICE)
        .WaitUntil([&](HWND) { return dlg.calls.size() == 1; }, "the configuration of the new key")
        .Do([&](HWND h) { TreeView_SelectItem(GetDlgItem(h, IDC_DEVICE_TREE), FindTreeItem(GetDlgItem(h, IDC_DEVICE_TREE), "VL820")); })
        .Click(IDC_MODIFY_DEVICE)
        .Click(IDC_EXIT);
    EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
    ASSERT_EQ(dlg.calls.size(), 2u) << drv.Report();
    EXPECT_EQ(dlg.calls[0].key, "VL420");
    EXPECT_EQ(dlg.calls[0].classCode, 32);
    EXPECT_TRUE(dlg.calls[0].add);
    EXPECT_EQ(dlg.calls[0].findAvailablePort, 1);
    EXPECT_EQ(dlg.calls[1].key, "VL820");
    EXPECT_FALSE(dlg.calls[1].add);
}

// ---- USB: the system's device list ---------------------------------------------------------------

namespace {
// A plugged-in USB printer as the system lists it: its interface, linked to a pipe that answers.
struct CPluggedPrinter
{
    CPluggedPrinter(CTestRegistry& reg, const std::string& pid, const std::string& serial)
        : pipe("vesk_cfgusb_" + pid + serial + "_" + std::to_string(GetCurrentProcessId())),
          device("\\\\.\\pipe\\" + pipe, false),
          path(UsbInterfacePath("1a2b", pid, serial + std::to_string(GetCurrentProcessId())))
    {
        linked = link.Create(path.substr(4), pipe) &&
                 RegisterUsbInterface(reg, path, "USB\\VID_1A2B&PID_" + pid + "\\" + serial +
                                                     std::to_string(GetCurrentProcessId()));
    }
    std::string pipe;
    CPipeDevice device;
    std::string path;
    CInterfaceLink link;
    bool linked = false;
};

std::string Upper(std::string s)
{
    CRegistUsb::MakeUpper(&s[0]);
    return s;
}
}

TEST_F(ConfigPrinter, UsbOffersTheModelsDevicesAndRefusesOneAnotherKeyHolds)
{
    CPluggedPrinter a(reg, "0420", "A"), b(reg, "0420", "B"), other(reg, "0820", "C");
    ASSERT_TRUE(a.linked && b.linked && other.linked);
    // The names the list gives them, as the system lists them.
    CRegistUsb list;
    ASSERT_EQ(list.EnumerateUsbDevices(), 3);
    std::map<std::string, std::string> nameOf;  // upper-case path -> "USB00n:"
    for (int i = 0; i < 3; ++i)
        nameOf[list.GetDeviceAt(i)->strDevicePath.GetString()] = list.GetDeviceAt(i)->strUsbName.GetString();
    std::string nameA = nameOf[Upper(a.path)], nameB = nameOf[Upper(b.path)];
    ASSERT_FALSE(nameA.empty());
    ASSERT_FALSE(nameB.empty());

    Key("VL420", {S("Port", nameA), S("UsbDeviceName", Upper(a.path)), S("Vid", "1a2b"), S("Pid", "0420"),
                  D("Porttype_N", 0x1B)});
    Key("VL420_1", {S("Port", "USB009:"), S("UsbDeviceName", Upper(b.path))});
    CTestConfigDlg dlg("VL420", 32, FALSE);
    CDialogDriver drv(30000);
    drv.Do([&](HWND h) {
           EXPECT_EQ(CheckedInterface(h), "usb");
           std::vector<std::string> items = Items(h, IDC_CFG_PORT);
           std::vector<std::string> expected = {nameA, nameB};
           std::sort(expected.begin(), expected.end());
           EXPECT_EQ(items, expected) << "the two of the model, not the VL820";
           EXPECT_EQ(SelText(h, IDC_CFG_PORT), nameA);
           EXPECT_EQ(ControlText(h, IDC_CFG_OUTBUF), "8192");
       })
        .Select(IDC_CFG_PORT, nameB < nameA ? 0 : 1)  // names follow the list's order
        .Do([&](HWND h) { EXPECT_EQ(SelText(h, IDC_CFG_PORT), nameA) << "held by VL420_1 through its path"; })
        .Click(IDC_CFG_ADVANCED)  // saves, without a message (the label dialog is cancelled)
        .Do([&](HWND) {
            EXPECT_EQ(ReadValue(kClass + "\\VL420", "UsbDeviceName"), "sz:" + Upper(a.path)) << "saved";
        })
        .Select(IDC_CFG_PORT, nameB < nameA ? 0 : 1)
        .Do([&](HWND h) {
            EXPECT_EQ(SelText(h, IDC_CFG_PORT), nameA) << "still refused after the save";
            // Chosen without the list's notification, as a stale selection: OK says so and stops.
            SendDlgItemMessageA(h, IDC_CFG_PORT, CB_SETCURSEL, nameB < nameA ? 0 : 1, 0);
        })
        .Click(IDOK)
        .AnswerMessageBox(IDOK)
        .Do([&](HWND h) { EXPECT_EQ(SelText(h, IDC_CFG_PORT), nameA) << "back on the accepted device"; })
        .Click(IDOK)
        .AnswerMessageBox(IDOK);
    EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
    EXPECT_EQ(drv.MessageBoxTexts(),
              (std::vector<std::string>{"Other device used port. : " + nameB, "Installed Success!"}))
        << "refused without a message on selection, and OK checks the USB device";
    std::string key = kClass + "\\VL420";
    EXPECT_EQ(ReadValue(key, "Port"), "sz:" + nameA);
    EXPECT_EQ(ReadValue(key, "Vid"), "sz:1A2B");
    EXPECT_EQ(ReadValue(key, "Pid"), "sz:0420");
    EXPECT_EQ(ReadValue(key, "UsbDeviceName"), "sz:" + Upper(a.path));
    EXPECT_EQ(ReadValue(key, "UsbCount"), "dword:" + std::to_string(nameA < nameB ? 1 : 2));
}

TEST_F(ConfigPrinter, AUsbKeyStaysBoundToItsOwnPrinter)
{
    // Two printers of one model: A is the one VL420 was set up with; only B is plugged in.
    CPluggedPrinter b(reg, "0420", "B");
    ASSERT_TRUE(b.linked);
    const std::string pathA = Upper(UsbInterfacePath("1a2b", "0420", "A" + std::to_string(GetCurrentProcessId())));
    CRegistUsb list;
    ASSERT_EQ(list.EnumerateUsbDevices(), 1);
    const std::string nameB = list.GetDeviceAt(0)->strUsbName.GetString();
    struct Row
    {
        const char* what;
        std::vector<Val> other;  // VL420_1; empty: no such key
        bool chooseB;
        std::string shown;
        std::vector<std::string> boxes;
        std::string port, path;  // as saved
    };
    const Row rows[] = {
        {"A unplugged: B takes its list place, nothing is selected and OK keeps A", {}, false, "<none>",
         {"Installed Success!"}, "sz:" + nameB, "sz:" + pathA},
        {"B held by a key on USB is refused, and OK keeps A",
         {S("Port", "USB002:"), S("UsbDeviceName", Upper(b.path))}, true, "<none>", {"Installed Success!"},
         "sz:" + nameB, "sz:" + pathA},
        {"B named by a key that went to a serial port is free", {S("Port", "COM3"), S("UsbDeviceName", Upper(b.path))},
         true, nameB, {"Installed Success!"}, "sz:" + nameB, "sz:" + Upper(b.path)},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        // The stored Port names B's place in today's list: it must not bind VL420 to B.
        Key("VL420", {S("Port", nameB), S("UsbDeviceName", pathA), S("Vid", "1a2b"), S("Pid", "0420"),
                      D("Porttype_N", 0x08)});
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, (kClass + "\\VL420_1").c_str());
        if (!r.other.empty())
            Key("VL420_1", r.other);
        CTestConfigDlg dlg("VL420", 32, FALSE);
        CDialogDriver drv(30000);
        drv.Do([&](HWND h) {
            EXPECT_EQ(CheckedInterface(h), "usb");
            EXPECT_EQ(Items(h, IDC_CFG_PORT), std::vector<std::string>{nameB});
            EXPECT_EQ(SelText(h, IDC_CFG_PORT), "<none>") << "A is absent";
        });
        if (r.chooseB)
            drv.Select(IDC_CFG_PORT, 0);
        drv.Do([&](HWND h) { EXPECT_EQ(SelText(h, IDC_CFG_PORT), r.shown); })
            .SetText(IDC_CFG_LDN, "Front")
            .Click(IDOK);
        for (size_t i = 0; i < r.boxes.size(); ++i)
            drv.AnswerMessageBox(IDOK);
        EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
        EXPECT_EQ(drv.MessageBoxTexts(), r.boxes) << drv.Report();
        EXPECT_EQ(ReadValue(kClass + "\\VL420", "LDN"), "sz:Front");
        EXPECT_EQ(ReadValue(kClass + "\\VL420", "Port"), r.port);
        EXPECT_EQ(ReadValue(kClass + "\\VL420", "UsbDeviceName"), r.path);
    }
}

TEST_F(ConfigPrinter, AddDeviceBindsASecondIdenticalPrinterToItsOwnDevice)
{
    CPluggedPrinter a(reg, "0420", "A"), b(reg, "0420", "B");
    ASSERT_TRUE(a.linked && b.linked);
    // A model that has USB alone.
    folder->Folder().Write("lbprn.inf", "[U420]\r\nDeviceDesc=d\r\nSOName=VESK.LabelPrinter.ServiceObject.1.13\r\n"
                                        "Description=x\r\nVid=1a2b\r\nPid=0420\r\nMODELCODE=3\r\nPORT_N=8\r\n");
    std::vector<std::string> keys;
    for (int i = 0; i < 2; ++i) {
        CSelectDevice add;
        add.m_bLabelSupport = TRUE;
        CDialogDriver drv(30000);
        drv.Select(IDC_MODEL_LIST, 0).Click(IDC_NEXT);
        EXPECT_EQ(drv.Run(add), IDOK) << drv.Report();
        keys.push_back(add.m_strDeviceKeyName.GetString());
    }
    ASSERT_EQ(keys, (std::vector<std::string>{"U420", "U420_1"}));
    std::string first = ReadValue(kClass + "\\U420", "UsbDeviceName"),
                second = ReadValue(kClass + "\\U420_1", "UsbDeviceName");
    EXPECT_NE(first, second) << "one printer per key";
    std::vector<std::string> both = {first, second}, expected = {"sz:" + Upper(a.path), "sz:" + Upper(b.path)};
    std::sort(both.begin(), both.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(both, expected);
    // The second key's dialog opens on its own printer.
    CTestConfigDlg dlg("U420_1", 32, TRUE);
    CDialogDriver drv(30000);
    std::string shown;
    drv.Do([&](HWND h) { shown = SelText(h, IDC_CFG_PORT); }).Click(IDOK).AnswerMessageBox(IDOK);
    EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
    EXPECT_EQ(drv.MessageBoxTexts(), std::vector<std::string>{"Installed Success!"}) << drv.Report();
    EXPECT_EQ(ReadValue(kClass + "\\U420_1", "UsbDeviceName"), second);
    EXPECT_EQ(ReadValue(kClass + "\\U420_1", "Port"), "sz:" + shown);
}

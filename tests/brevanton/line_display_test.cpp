// The configuration dialog on a line display: its virtual COM port found among the machine's
// "Ports" devices, the offer of its driver's installer (our stub, really started and waited for),
// and for the display that can hang on a receipt printer, the host printers and CompactPrinter.
#include "BrevantonTestKit.h"
#include "ConfigPrinterDlg.h"
#include "DialogDriver.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <thread>

namespace {
const char kQuestion[] = "If you use USB cable, you have to install VCom Driver for LineDisplay.\r\n"
                         "Do you want to install VCom Driver?\r\n";
const CLSID kNowhere = {0x5e0c1d8a, 0x6f1b, 0x4c57, {0x9b, 0x8e, 0x2a, 0x61, 0xd0, 0xc4, 0xf3, 0xb8}};
const int kSerialControls[] = {IDC_CFG_SERIAL, IDC_CFG_PORT, IDC_CFG_BAUD, IDC_CFG_FLOW};

class CDisplayDlg : public CConfigPrinterDlg
{
public:
    explicit CDisplayDlg(int classCode)
    {
        m_strKeyName = "LD1";
        m_nClassCode = classCode;
    }

protected:
    BOOL CreatePrinterControl(const RECT& r) override
    {
        return m_ctlPOSPrinter.CreateControl(kNowhere, "", WS_CHILD, r, this, IDC_POSPRINTER_CONTROL);
    }
};

bool On(HWND dlg, int id) { return IsWindowEnabled(GetDlgItem(dlg, id)) && IsWindowVisible(GetDlgItem(dlg, id)); }
void ClickCheck(CDialogDriver& d, int id, bool checked)
{
    d.Do([=](HWND h) { SendDlgItemMessageA(h, id, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0); }).Click(id);
}

// The key LD1 of the class (stored port COM3, the model given) and the machine's COM1..COM10,
// the displays' own devices among them under their friendly names.
std::string Display(CTestRegistry& reg, DWORD model, const std::map<std::string, std::string>& displays,
                    int classCode = 4)
{
    const char* classKey = classCode == 4 ? "LineDisplay" : classCode == 8 ? "MSR" : classCode == 16 ? "SmartCardRW" : "POSPrinter";
    std::string key = std::string("Software\\OLEforRetail\\ServiceOPOS\\") + classKey + "\\LD1";
    reg.SetString(key.c_str(), "Port", "COM3");
    reg.SetDWORD(key.c_str(), "Model", model);
    std::vector<std::string> ports;
    for (int i = 1; i <= 10; ++i)
        ports.push_back("COM" + std::to_string(i));
    AddMachinePorts(reg, ports, displays);
    return key;
}
void Host(CTestRegistry& reg, const std::string& name, const char* deviceName)
{
    reg.SetString((std::string(kPrinterClassKey) + "\\" + name).c_str(), "DeviceName", deviceName);
}

class LineDisplay : public testing::Test
{
protected:
    CUiThread ui;
};
}

TEST_F(LineDisplay, FindsItsPortOrOffersItsDriversInstaller)
{
    struct Row
    {
        DWORD model;
        std::string port, friendlyName;  // the display's device ("": none)
        int answer;                      // to the question; 0: none asked
        std::string selected, installerArgs;
        bool stub;
    };
    const Row rows[] = {
        {5001, "COM1", "VDX-A1 USB Serial (COM1)", 0, "COM3", "", true},
        {5001, "", "", 0, "COM3", "", true},
        {5002, "COM1", "VDX-A1 USB Serial (COM1)", 0, "COM1", "", true},
        {5002, "COM10", "VDX-A1 USB Serial (COM10)", 0, "COM10", "", true},
        {5002, "", "", IDYES, "COM3", "/mn VDX-A1", true},
        {5002, "", "", IDNO, "COM3", "", true},
        {5002, "COM1", "VDX-A2 USB Serial (COM1)", IDYES, "COM3", "/mn VDX-A1", true},
        {5002, "", "", IDYES, "COM3", "", false},  // no installer: silent
        {5003, "COM1", "VDX-A2 (COM1)", 0, "COM1", "", true},
        {5003, "", "", IDYES, "COM3", "/mn VDX-A2", true},
        {5005, "COM1", "VDX-A2 (COM1)", 0, "COM1", "", true},
        {5005, "", "", IDYES, "COM3", "/mn VDX-A2", true},
        {5004, "COM1", "VDX-A3 (COM1)", 0, "COM1", "", true},
        {5004, "", "", IDYES, "COM3", "/mn VDX-A3", true},
        {5004, "", "", IDNO, "COM3", "", true},
        {6000, "COM1", "VDX-A1 (COM1)", IDYES, "COM3", "", true},
        {6000, "", "", IDNO, "COM3", "", true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.model) + " " + r.friendlyName + " answer " + std::to_string(r.answer));
        CTestRegistry reg;
        CInstallFolder install(reg);
        std::string key = Display(reg, r.model, {{r.port, r.friendlyName}});
        CTempFolder cwd;
        std::string stubDir = cwd.File("VDXVComInstaller");
        CreateDirectoryA(stubDir.c_str(), nullptr);
        if (r.stub) {
            ASSERT_TRUE(CopyFileA((TestBinDir() + "\\vcomstub.exe").c_str(), (stubDir + "\\VDXVComInstaller.exe").c_str(),
                                  FALSE));
        }
        char before[MAX_PATH] = {};
        GetCurrentDirectoryA(MAX_PATH, before);
        SetCurrentDirectoryA(cwd.Path().c_str());
        CDisplayDlg dlg(4);
        // While the installer runs, the dialog must still be opening; then the stub is let go.
        int openedWhileRunning = -1;
        std::thread watcher([&] {
            if (r.installerArgs.empty() ||
                !WaitFor([&] { return ReadWholeFile(stubDir + "\\calls.txt").find("start") != std::string::npos; },
                         60000))
                return;
            openedWhileRunning = reinterpret_cast<volatile BOOL&>(dlg.m_bInitialised);
            CloseHandle(CreateFileA((stubDir + "\\release").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        });
        CDialogDriver drv(60000);
        if (r.answer)
            drv.AnswerMessageBox(r.answer);
        drv.Do([&](HWND h) { EXPECT_EQ(ComboSelText(h, IDC_CFG_PORT), r.selected); }).Click(IDOK).AnswerMessageBox();
        EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
        watcher.join();
        SetCurrentDirectoryA(before);
        std::vector<std::string> boxes = {"Installed Success!"};
        if (r.answer)
            boxes.insert(boxes.begin(), kQuestion);
        EXPECT_EQ(drv.MessageBoxTexts(), boxes);
        EXPECT_EQ(RegString(key, "Port"), r.selected);
        EXPECT_EQ(ReadWholeFile(stubDir + "\\calls.txt"),
                  r.installerArgs.empty() ? "" : "start VDXVComInstaller\\VDXVComInstaller.exe " + r.installerArgs + "\r\nend\r\n");
        if (!r.installerArgs.empty()) {
            EXPECT_EQ(openedWhileRunning, FALSE) << "the dialog waits for the installer";
        }
    }
}

TEST_F(LineDisplay, ThroughAHostPrinter)
{
    struct Row
    {
        const char* what;
        std::vector<std::pair<std::string, const char*>> printers;
        std::vector<std::string> listed;
    };
    const Row rows[] = {
        {"exact DeviceName only",
         {{"KPT2", "KPT-A12"}, {"KPT1", "KPT-A10"}, {"KPT3", "KPT-A100"}, {"KPT4", "kpt-a10"}, {"VL420", "VL420"}},
         {"KPT1", "KPT2"}},
        // "1H" enumerates before "[" and "~H" after it whether names compare in upper or lower case.
        {"a [ name ends the list", {{"1H", "KPT-A10"}, {"[Defaults]", "KPT-A10"}, {"~H", "KPT-A12"}}, {"1H"}},
        {"no host printer", {{"VL420", "VL420"}}, {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        CTestRegistry reg;
        CInstallFolder install(reg);
        std::string key = Display(reg, 5004, {{"COM1", "VDX-A3 (COM1)"}});
        for (const auto& p : r.printers)
            Host(reg, p.first, p.second);
        CDisplayDlg dlg(4);
        CDialogDriver drv(30000);
        auto serialOn = [&](HWND h, bool on) {
            for (int id : kSerialControls)
                EXPECT_EQ(On(h, id), on) << id;
            EXPECT_EQ(On(h, IDC_CFG_HOST_PRINTERS), !on);
        };
        drv.Do([&](HWND h) { serialOn(h, true); });
        ClickCheck(drv, IDC_CFG_THROUGH_PRINTER, true);
        if (r.listed.empty()) {
            drv.AnswerMessageBox().Do([&](HWND h) {
                EXPECT_EQ(SendDlgItemMessageA(h, IDC_CFG_THROUGH_PRINTER, BM_GETCHECK, 0, 0), BST_UNCHECKED);
                EXPECT_EQ(ComboSelText(h, IDC_CFG_PORT), "COM1");
                serialOn(h, true);
            });
        } else {
            drv.Do([&](HWND h) { serialOn(h, false); });
            ClickCheck(drv, IDC_CFG_THROUGH_PRINTER, false);
            drv.Do([&](HWND h) {
                serialOn(h, true);
                EXPECT_EQ(ComboSelText(h, IDC_CFG_PORT), "COM1") << "the display's port again";
            });
            ClickCheck(drv, IDC_CFG_THROUGH_PRINTER, true);
            drv.Do([&](HWND h) {
                EXPECT_EQ(ComboItems(h, IDC_CFG_HOST_PRINTERS), r.listed) << "each once after a second check";
                EXPECT_EQ(ComboSel(h, IDC_CFG_HOST_PRINTERS), 0);
            });
        }
        drv.Click(IDOK).AnswerMessageBox();
        EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
        EXPECT_EQ(drv.MessageBoxTexts().front(), r.listed.empty() ? "No printer available to connect." : "Installed Success!");
        EXPECT_EQ(RegString(key, "CompactPrinter"), r.listed.empty() ? "" : r.listed[0]);
    }
}

TEST_F(LineDisplay, CompactPrinterIsTakenBackOnlyWhileItNamesAHost)
{
    struct Row
    {
        const char* stored;
        bool checked;
        std::string saved;
    };
    const Row rows[] = {{"KPT2", true, "KPT2"}, {"KPT9", false, ""}, {"KPT3", false, ""}, {"kpt2", false, ""}, {"", false, ""}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.stored);
        CTestRegistry reg;
        CInstallFolder install(reg);
        std::string key = Display(reg, 5004, {{"COM1", "VDX-A3 (COM1)"}});
        reg.SetString(key.c_str(), "CompactPrinter", r.stored);
        Host(reg, "KPT1", "KPT-A10");
        Host(reg, "KPT2", "KPT-A12");
        Host(reg, "KPT3", "KPT-A100");
        CDisplayDlg dlg(4);
        CDialogDriver drv(30000);
        drv.Do([&](HWND h) {
               EXPECT_EQ(SendDlgItemMessageA(h, IDC_CFG_THROUGH_PRINTER, BM_GETCHECK, 0, 0), r.checked ? BST_CHECKED : BST_UNCHECKED);
               EXPECT_EQ(On(h, IDC_CFG_HOST_PRINTERS), r.checked);
               EXPECT_EQ(On(h, IDC_CFG_PORT), !r.checked);
               if (r.checked) {
                   EXPECT_EQ(ComboSelText(h, IDC_CFG_HOST_PRINTERS), r.stored);
               }
           })
            .Click(IDOK)
            .AnswerMessageBox();
        EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
        EXPECT_EQ(RegString(key, "CompactPrinter"), r.saved);
    }
}

TEST_F(LineDisplay, TheThroughControlsAreOnlyForTheDisplayThatCanUseThem)
{
    const std::pair<int, DWORD> rows[] = {{4, 5004}, {4, 5001}, {4, 5002}, {4, 5003}, {4, 5005}, {4, 6000},
                                          {1, 5004}, {32, 5004}, {8, 5004}, {16, 5004}};
    for (const auto& r : rows) {
        SCOPED_TRACE("class " + std::to_string(r.first) + " model " + std::to_string(r.second));
        CTestRegistry reg;
        CInstallFolder install(reg);
        std::string key = Display(reg, r.second, {{"COM1", "VDX-A1"}, {"COM2", "VDX-A2"}, {"COM4", "VDX-A3"}}, r.first);
        Host(reg, "KPT1", "KPT-A10");
        bool through = r.first == 4 && r.second == 5004;
        CDisplayDlg dlg(r.first);
        CDialogDriver drv(30000);
        if (r.second == 6000)
            drv.AnswerMessageBox(IDNO);
        drv.Do([&](HWND h) {
               EXPECT_EQ(On(h, IDC_CFG_THROUGH_PRINTER), through);
               EXPECT_EQ(IsWindowVisible(GetDlgItem(h, IDC_CFG_HOST_PRINTERS)) != FALSE, through);
               EXPECT_FALSE(IsWindowEnabled(GetDlgItem(h, IDC_CFG_HOST_PRINTERS)));
           })
            .Click(IDOK)
            .AnswerMessageBox();
        EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
        EXPECT_EQ(RegString(key, "CompactPrinter"), through ? "" : "<no value>");
    }
}

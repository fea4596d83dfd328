// The cash drawer road: the choice of the receipt printer, the drawer's dialog in add and modify
// mode (naming, values, Cancel, the LDN and its alias, Apply's state), its Check Health through
// the test Control Object's CashDrawer class, and the main dialog's C key.
#include "BrevantonDlg.h"
#include "CashTestKit.h"
#include "ConfigCashDlg.h"
#include "DialogDriver.h"
#include "SelectConnectPrinterDlg.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <ole2.h>
#include <sddl.h>

#include <algorithm>
#include <map>

namespace {
const char kSaved[] = "CashDrawer Install Success.", kSaveFailed[] = "CashDrawer Install Failed";
const WORD M = DISPATCH_METHOD, P = DISPATCH_PROPERTYPUT;
typedef std::vector<std::pair<std::string, std::string>> Aliases;

std::string DrawerValue(const std::string& name, const char* value)
{
    return RegString(std::string(kDrawerClassKey) + "\\" + name, value);
}

bool Enabled(HWND dlg, int id) { return IsWindowEnabled(GetDlgItem(dlg, id)) != FALSE; }

class CashDrawer : public DialogTest
{
};

// An install folder with poscash.inf, as the tests' fixture (the product ships none).
struct DrawerInstall
{
    explicit DrawerInstall(CTestRegistry& reg, const char* posCash = kPosCashInf) : folder(reg)
    {
        if (posCash)
            folder.Folder().Write("poscash.inf", posCash);
    }
    CInstallFolder folder;
};

void AddMode(CConfigCashDlg& dlg, const char* printer = "KPT300")
{
    dlg.m_bAddMode = 1;
    dlg.m_strDeviceName = "KPTCDW";
    dlg.m_strConnectedPrinter = printer;
}

void ModifyMode(CConfigCashDlg& dlg, const char* name = "KPTCDW")
{
    dlg.m_bAddMode = 0;
    dlg.m_strDeviceName = name;
}
}

// ---- The connected-printer choice

TEST_F(CashDrawer, TheChoiceListsTheReceiptPrintersADrawerCanHangOn)
{
    struct Case
    {
        const char* name;
        std::vector<const char*> keys;
        std::vector<std::string> listed;
    } cases[] = {
        {"both series, sorted", {"LQT200", "KPT300", "KPT100_1"}, {"KPT100_1", "KPT300", "LQT200"}},
        {"the E80 models of KPT are left out, wherever E80 stands", {"KPTE80", "KPT300E80", "KPT3_E80", "KPT300"},
         {"KPT300"}},
        {"LQT keeps E80", {"LQTE80"}, {"LQTE80"}},
        {"the series are told apart by case", {"kpt300", "Lqt200", "KPT301"}, {"KPT301"}},
        {"other series and label printers are left out", {"VL420", "KP300", "XKPT300", "LQ200"}, {}},
        // The names enumerated after "[" are not listed (this registry enumerates "[" before
        // letters; the listing is worked out from the enumeration below).
        {"a [ name ends the list", {"KPT300", "[Defaults]", "LQT200"}, {"?"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CTestRegistry reg;
        DrawerInstall install(reg);
        for (const char* k : c.keys)
            WriteReceiptPrinterKey(reg, k);
        std::vector<std::string> want = c.listed;
        if (want == std::vector<std::string>{"?"}) {
            want.clear();
            bool after = false, hidden = false;
            for (const std::string& k : SubkeyNames(kPrinterClassKey)) {
                after = after || k[0] == '[';
                hidden = hidden || (after && k[0] != '[');
                if (!after)
                    want.push_back(k);
            }
            std::sort(want.begin(), want.end());
            EXPECT_TRUE(hidden) << "a printer enumerates after the [ name";
        }
        CSelectConnectPrinterDlg dlg;
        CDialogDriver drv(20000);
        std::vector<std::string> listed;
        if (want.empty()) {
            drv.AnswerMessageBox(IDOK);
        } else {
            drv.Do([&](HWND h) {
                   HWND list = GetDlgItem(h, IDC_PRINTER_LIST);
                   int n = int(SendMessageA(list, LB_GETCOUNT, 0, 0));
                   for (int i = 0; i < n; ++i) {
                       char text[260] = {};
                       SendMessageA(list, LB_GETTEXT, WPARAM(i), LPARAM(text));
                       listed.push_back(text);
                   }
                   EXPECT_EQ(ControlText(h, IDC_PRINTER_LIST_LABEL), "Select Connected Printer Model");
               })
                .Click(IDCANCEL);
        }
        INT_PTR end = drv.Run(dlg);
        EXPECT_EQ(end, IDCANCEL) << drv.Report();
        EXPECT_TRUE(drv.Failures().empty()) << drv.Report();
        EXPECT_EQ(listed, want);
        EXPECT_EQ(drv.MessageBoxTexts(),
                  want.empty() ? std::vector<std::string>{"Not Installed Printer can connect with the CashDrawer!!"}
                                   : std::vector<std::string>{});
        EXPECT_TRUE(dlg.m_strSelectedPrinter.IsEmpty());
    }
}

TEST_F(CashDrawer, ASingleClickChoosesThePrinter)
{
    CTestRegistry reg;
    DrawerInstall install(reg);
    for (const char* k : {"LQT200", "KPT300", "KPT100"})
        WriteReceiptPrinterKey(reg, k);
    for (int index : {0, 2}) {
        CSelectConnectPrinterDlg dlg;
        CDialogDriver drv(20000);
        drv.Select(IDC_PRINTER_LIST, index);
        EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
        EXPECT_TRUE(drv.Failures().empty()) << drv.Report();
        EXPECT_STREQ(dlg.m_strSelectedPrinter, index == 0 ? "KPT100" : "LQT200");
    }
}

// ---- The drawer's dialog

TEST_F(CashDrawer, AddModeChoosesTheFreeNameOnceAndShowsIt)
{
    struct Case
    {
        const char* name;
        std::vector<const char*> existing;
        const char* chosen;
    } cases[] = {
        {"the first drawer", {}, "KPTCDW"},
        {"KPTCDW taken", {"KPTCDW"}, "KPTCDW_1"},
        {"KPTCDW and KPTCDW_1 taken", {"KPTCDW", "KPTCDW_1"}, "KPTCDW_2"},
        {"a gap is filled", {"KPTCDW", "KPTCDW_2"}, "KPTCDW_1"},
        {"the registry does not tell kptcdw from KPTCDW", {"kptcdw"}, "KPTCDW_1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CTestRegistry reg;
        DrawerInstall install(reg);
        for (const char* k : c.existing)
            WriteDrawerKey(reg, k);
        CConfigCashDlg dlg;
        AddMode(dlg);
        CDialogDriver drv(20000);
        drv.Do([&](HWND h) {
               EXPECT_EQ(ControlText(h, IDC_DRAWER_NAME), c.chosen);
               EXPECT_EQ(DrawerValue(c.chosen, "POSPrinter"), "KPT300") << "the start-up save made the key";
           })
            .SetText(IDC_PULSE_ON, "120")
            .Click(IDC_APPLY)
            .AnswerMessageBox(IDOK)
            .Do([&](HWND h) { EXPECT_EQ(ControlText(h, IDC_DRAWER_NAME), c.chosen) << "chosen once"; })
            .Click(IDOK);
        EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
        EXPECT_TRUE(drv.Failures().empty()) << drv.Report();
        EXPECT_EQ(drv.MessageBoxTexts(), std::vector<std::string>{kSaved}) << "OK after Apply saves nothing more";
        EXPECT_EQ(DrawerValue(c.chosen, "PulseOnTime"), "120");
        std::vector<std::string> keys = SubkeyNames(kDrawerClassKey);
        EXPECT_EQ(keys.size(), c.existing.size() + 1);
        for (const char* k : c.existing)
            EXPECT_EQ(DrawerValue(k, "PulseOnTime"), "150") << k << " is left as it was";
    }
}

TEST_F(CashDrawer, OkWritesTheThirteenStringValues)
{
    CTestRegistry reg;
    DrawerInstall install(reg);
    CConfigCashDlg dlg;
    AddMode(dlg, "LQT200");
    CDialogDriver drv(20000);
    drv.SetText(IDC_DRAWER_LDN, "Till")
        .SetText(IDC_PULSE_ON, "100")
        .SetText(IDC_PULSE_OFF, "300")
        .Do([](HWND h) {
            CheckRadioButton(h, IDC_PIN_2, IDC_PIN_5, IDC_PIN_5);
            CheckRadioButton(h, IDC_LEVEL_LOW, IDC_LEVEL_HIGH, IDC_LEVEL_HIGH);
        })
        .Click(IDOK)
        .AnswerMessageBox(IDOK);
    EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
    EXPECT_TRUE(drv.Failures().empty()) << drv.Report();
    EXPECT_EQ(drv.MessageBoxTexts(), std::vector<std::string>{kSaved});
    const std::map<std::string, std::string> expected = {
        {"", "VESK.CashDrawer.1"},
        {"Description", "Cash drawer on a receipt printer"},
        {"DeviceName", "KPTCDW"},
        {"DeviceDesc", "VESK Cash Drawer"},
        {"Version", "1.13.005"},
        {"DeviceClass", "CashDrawer"},
        {"LDN", "Till"},
        {"POSPrinter", "LQT200"},
        {"OpenLevel", "1"},
        {"ConnectorPinNo", "1"},
        {"PulseOffTime", "300"},
        {"PulseOnTime", "100"},
        {"comp", "VESK"},
    };
    std::map<std::string, std::string> got;
    for (const RegValueRow& v : RegValues(std::string(kDrawerClassKey) + "\\KPTCDW")) {
        EXPECT_EQ(v.type, DWORD(REG_SZ)) << v.name;
        got[v.name] = v.data;
    }
    EXPECT_EQ(got, expected);
    EXPECT_EQ(DrawerAliases(), (Aliases{{"Till", "KPTCDW"}}));
}

TEST_F(CashDrawer, AMissingInfTextWritesNothingAndCancelKeepsAnotherDrawer)
{
    struct Case
    {
        const char* name;
        const char* posCash;  // nullptr: no poscash.inf
        bool version;         // setup.inf keeps its Version
    } cases[] = {
        {"no poscash.inf", nullptr, true},
        {"no SOName", "[KPTCDW]\r\nDeviceDesc=d\r\nDescription=d\r\n", true},
        {"no DeviceDesc", "[KPTCDW]\r\nSOName=s\r\nDescription=d\r\n", true},
        {"no Description", "[KPTCDW]\r\nDeviceDesc=d\r\nSOName=s\r\n", true},
        {"no Version in setup.inf", kPosCashInf, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CTestRegistry reg;
        DrawerInstall install(reg, c.posCash);
        if (!c.version) {
            std::string setup = install.folder.Folder().Read("setup.inf");
            size_t at = setup.find("\nVersion=");
            ASSERT_NE(at, std::string::npos);
            setup.replace(at, 9, "\nXVersion=");
            install.folder.Folder().Write("setup.inf", setup);
        }
        WriteDrawerKey(reg, "KPTCDW", "Till");
        CConfigCashDlg dlg;
        AddMode(dlg);
        CDialogDriver drv(20000);
        drv.Do([](HWND h) { EXPECT_EQ(ControlText(h, IDC_DRAWER_NAME), "KPTCDW"); })
            .SetText(IDC_DRAWER_LDN, "Front")
            .Click(IDC_APPLY)
            .AnswerMessageBox(IDOK)
            .Click(IDCANCEL);
        EXPECT_EQ(drv.Run(dlg), IDCANCEL) << drv.Report();
        EXPECT_TRUE(drv.Failures().empty()) << drv.Report();
        EXPECT_EQ(drv.MessageBoxTexts(), std::vector<std::string>{kSaveFailed});
        EXPECT_EQ(SubkeyNames(kDrawerClassKey), std::vector<std::string>{"KPTCDW"});
        EXPECT_EQ(DrawerValue("KPTCDW", "PulseOnTime"), "150") << "the other drawer's key stays as it was";
        EXPECT_EQ(DrawerValue("KPTCDW", "POSPrinter"), "KPT300");
        EXPECT_EQ(DrawerAliases(), (Aliases{{"Till", "KPTCDW"}}));
    }
}

// The start-up save fails without poscash.inf; once the file is there, the first save that
// writes the key (an Apply or an OK) chooses the free name, so KPTCDW is never overwritten.
TEST_F(CashDrawer, TheFirstSaveThatWritesTheKeyChoosesTheFreeName)
{
    for (int okButton : {IDC_APPLY, IDOK}) {
        SCOPED_TRACE(okButton == IDOK ? "OK" : "Apply");
        CTestRegistry reg;
        DrawerInstall install(reg, nullptr);
        WriteDrawerKey(reg, "KPTCDW", "Till");
        CConfigCashDlg dlg;
        AddMode(dlg);
        CDialogDriver drv(20000);
        drv.Do([&](HWND) { install.folder.Folder().Write("poscash.inf", kPosCashInf); })
            .SetText(IDC_PULSE_ON, "120")
            .Click(okButton)
            .AnswerMessageBox(IDOK);
        if (okButton == IDC_APPLY)
            drv.Do([](HWND h) { EXPECT_EQ(ControlText(h, IDC_DRAWER_NAME), "KPTCDW_1"); }).Click(IDOK);
        EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
        EXPECT_TRUE(drv.Failures().empty()) << drv.Report();
        EXPECT_EQ(drv.MessageBoxTexts(), std::vector<std::string>{kSaved});
        EXPECT_EQ(SubkeyNames(kDrawerClassKey), (std::vector<std::string>{"KPTCDW", "KPTCDW_1"}));
        EXPECT_EQ(DrawerValue("KPTCDW_1", "PulseOnTime"), "120");
        EXPECT_EQ(DrawerValue("KPTCDW", "PulseOnTime"), "150") << "the other drawer's key stays as it was";
        EXPECT_EQ(DrawerAliases(), (Aliases{{"Till", "KPTCDW"}}));
    }
}

TEST_F(CashDrawer, CancelDeletesOnlyAKeyThisAddMade)
{
    struct Case
    {
        const char* name;
        bool add;
        bool applyFirst;
        std::vector<std::string> keysAfter;
    } cases[] = {
        {"Cancel of an add leaves no key", true, false, {"KPTCDW"}},
        {"Apply, then Cancel keeps the new key", true, true, {"KPTCDW", "KPTCDW_1"}},
        {"Cancel in modify mode removes nothing", false, false, {"KPTCDW"}},
        {"Apply, then Cancel in modify mode keeps the change", false, true, {"KPTCDW"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CTestRegistry reg;
        DrawerInstall install(reg);
        WriteDrawerKey(reg, "KPTCDW");
        CConfigCashDlg dlg;
        if (c.add)
            AddMode(dlg);
        else
            ModifyMode(dlg);
        CDialogDriver drv(20000);
        const std::string mine = c.add ? "KPTCDW_1" : "KPTCDW";
        drv.Do([&](HWND) { EXPECT_NE(DrawerValue(mine, "comp"), "<no key>"); });
        if (c.applyFirst)
            drv.SetText(IDC_PULSE_OFF, "90").Click(IDC_APPLY).AnswerMessageBox(IDOK);
        drv.Click(IDCANCEL);
        EXPECT_EQ(drv.Run(dlg), IDCANCEL) << drv.Report();
        EXPECT_TRUE(drv.Failures().empty()) << drv.Report();
        EXPECT_EQ(SubkeyNames(kDrawerClassKey), c.keysAfter);
        if (c.applyFirst) {
            EXPECT_EQ(DrawerValue(mine, "PulseOffTime"), "90");
        }
    }
}

TEST_F(CashDrawer, ModifyModeShowsTheStoredValues)
{
    CTestRegistry reg;
    DrawerInstall install(reg);
    WriteDrawerKey(reg, "KPTCDW_1", "Till", "LQT200");
    CConfigCashDlg dlg;
    ModifyMode(dlg, "KPTCDW_1");
    CDialogDriver drv(20000);
    drv.Do([](HWND h) {
           EXPECT_EQ(ControlText(h, IDC_DRAWER_NAME), "KPTCDW_1");
           EXPECT_EQ(ControlText(h, IDC_CONNECTED_PRINTER), "LQT200");
           EXPECT_EQ(ControlText(h, IDC_DRAWER_LDN), "Till");
           EXPECT_EQ(ControlText(h, IDC_PULSE_ON), "150");
           EXPECT_EQ(ControlText(h, IDC_PULSE_OFF), "250");
           EXPECT_EQ(IsDlgButtonChecked(h, IDC_PIN_5), UINT(BST_CHECKED));
           EXPECT_EQ(IsDlgButtonChecked(h, IDC_LEVEL_HIGH), UINT(BST_CHECKED));
           EXPECT_EQ(ControlText(h, IDC_PIN_2), "Number 2");
           EXPECT_EQ(ControlText(h, IDC_LEVEL_HIGH), "High(1)");
       })
        .Click(IDCANCEL);
    EXPECT_EQ(drv.Run(dlg), IDCANCEL) << drv.Report();
    EXPECT_EQ(DrawerValue("KPTCDW_1", "comp"), "VESK") << "the start-up save rewrote the key";
    EXPECT_EQ(DrawerValue("KPTCDW_1", "PulseOnTime"), "150");

    // A damaged pin or open level opens as the first choice and is saved as it.
    for (const char* damaged : {"7", "-1"}) {
        SCOPED_TRACE(damaged);
        reg.SetString((std::string(kDrawerClassKey) + "\\KPTCDW_1").c_str(), "OpenLevel", damaged);
        reg.SetString((std::string(kDrawerClassKey) + "\\KPTCDW_1").c_str(), "ConnectorPinNo", damaged);
        CConfigCashDlg again;
        ModifyMode(again, "KPTCDW_1");
        CDialogDriver drv2(20000);
        drv2.Do([](HWND h) {
                EXPECT_EQ(IsDlgButtonChecked(h, IDC_PIN_2), UINT(BST_CHECKED));
                EXPECT_EQ(IsDlgButtonChecked(h, IDC_LEVEL_LOW), UINT(BST_CHECKED));
            })
            .Click(IDCANCEL);
        EXPECT_EQ(drv2.Run(again), IDCANCEL) << drv2.Report();
        EXPECT_EQ(DrawerValue("KPTCDW_1", "OpenLevel"), "0");
        EXPECT_EQ(DrawerValue("KPTCDW_1", "ConnectorPinNo"), "0");
    }
}

// A drawer KPTCDW is modified; KPTCDW_1 is another drawer.
TEST_F(CashDrawer, TheLdnAndItsAlias)
{
    struct Case
    {
        const char* name;
        const char* storedLdn;
        Aliases extra;        // aliases written besides the stored LDN's
        const char* newLdn;
        bool refused;
        Aliases after;
        Aliases meanwhile;  // aliases written while the dialog is up
        bool classRefuses = false;  // the class key refuses changes while the dialog is up
    } cases[] = {
        {"another drawer key's name is refused", "", {}, "KPTCDW_1", true, {}, {}},
        {"another drawer key's name in other case is refused", "", {}, "kptcdw_1", true, {}, {}},
        {"a key's name whose alias already names this drawer passes", "", {{"KPTCDW_1", "KPTCDW"}}, "KPTCDW_1", false,
         {{"KPTCDW_1", "KPTCDW"}}, {}},
        {"an alias of another drawer that exists is refused", "", {{"Till", "KPTCDW_1"}}, "Till", true,
         {{"Till", "KPTCDW_1"}}, {}},
        {"an alias of a drawer that is gone is taken over", "", {{"Till", "KPTCDW_7"}}, "Till", false,
         {{"Till", "KPTCDW"}}, {}},
        {"a change from A to B moves the alias", "A", {}, "B", false, {{"B", "KPTCDW"}}, {}},
        {"clearing removes the alias and writes none", "A", {}, "", false, {}, {}},
        {"a first LDN deletes nothing", "", {{"A", "KPTCDW_1"}}, "B", false, {{"A", "KPTCDW_1"}, {"B", "KPTCDW"}}, {}},
        {"an old alias that another drawer holds stays", "A", {{"Z", "KPTCDW_1"}}, "Z2", false,
         {{"Z", "KPTCDW_1"}, {"Z2", "KPTCDW"}}, {}},
        {"the stored LDN's alias taken by another drawer meanwhile stays", "A", {}, "B", false,
         {{"A", "KPTCDW_1"}, {"B", "KPTCDW"}}, {{"A", "KPTCDW_1"}}},
        {"clearing while the old alias cannot be deleted fails the save", "A", {}, "", false, {{"A", "KPTCDW"}}, {},
         true},
    };
    // The class key's changes refused (on) or allowed again (off).
    auto refuseClassKey = [](bool on) {
        HKEY k = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDrawerClassKey, 0, WRITE_DAC, &k) != ERROR_SUCCESS)
            return false;
        PSECURITY_DESCRIPTOR sd = nullptr;
        bool ok = ConvertStringSecurityDescriptorToSecurityDescriptorA(
                      on ? "D:(D;;0x0002;;;WD)(A;;GA;;;WD)" : "D:(A;;GA;;;WD)", SDDL_REVISION_1, &sd, nullptr) &&
                  RegSetKeySecurity(k, DACL_SECURITY_INFORMATION, sd) == ERROR_SUCCESS;
        LocalFree(sd);
        RegCloseKey(k);
        return ok;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CTestRegistry reg;
        DrawerInstall install(reg);
        WriteDrawerKey(reg, "KPTCDW", c.storedLdn);
        WriteDrawerKey(reg, "KPTCDW_1");
        for (const auto& a : c.extra)
            reg.SetString(kDrawerClassKey, a.first.c_str(), a.second.c_str());
        CConfigCashDlg dlg;
        ModifyMode(dlg);
        CDialogDriver drv(20000);
        drv.Do([&](HWND) {
               for (const auto& a : c.meanwhile)
                   reg.SetString(kDrawerClassKey, a.first.c_str(), a.second.c_str());
               if (c.classRefuses) {
                   ASSERT_TRUE(refuseClassKey(true));
               }
           })
            .SetText(IDC_DRAWER_LDN, c.newLdn)
            .Click(IDC_APPLY)
            .AnswerMessageBox(IDOK)
            .Click(IDCANCEL);
        EXPECT_EQ(drv.Run(dlg), IDCANCEL) << drv.Report();
        EXPECT_TRUE(drv.Failures().empty()) << drv.Report();
        const std::string refusal = std::string("Device will not be set to ") + c.newLdn;
        if (c.classRefuses) {
            EXPECT_TRUE(refuseClassKey(false));
        }
        EXPECT_EQ(drv.MessageBoxTexts(),
                  std::vector<std::string>{c.refused ? refusal : c.classRefuses ? kSaveFailed : kSaved});
        EXPECT_EQ(DrawerValue("KPTCDW", "LDN"), c.refused ? c.storedLdn : c.newLdn);
        EXPECT_EQ(DrawerAliases(), c.after);
    }
}

TEST_F(CashDrawer, ApplyIsEnabledByEditsAndDisabledByApply)
{
    for (bool add : {true, false}) {
        SCOPED_TRACE(add ? "add mode" : "modify mode");
        CTestRegistry reg;
        DrawerInstall install(reg);
        WriteDrawerKey(reg, "KPTCDW");
        CConfigCashDlg dlg;
        if (add)
            AddMode(dlg);
        else
            ModifyMode(dlg);
        // Apply's state after the opening, then after each change and each Apply.
        std::vector<bool> states, expected = {add};
        auto note = [&](HWND h) { states.push_back(Enabled(h, IDC_APPLY)); };
        CDialogDriver drv(30000);
        drv.Do(note);
        if (add) {
            drv.Click(IDC_APPLY).AnswerMessageBox(IDOK).Do(note);
            expected.push_back(false);
        }
        for (int id : {IDC_PULSE_ON, IDC_PULSE_OFF, IDC_DRAWER_LDN, IDC_PIN_2, IDC_PIN_5, IDC_LEVEL_LOW, IDC_LEVEL_HIGH}) {
            if (id == IDC_PULSE_ON || id == IDC_PULSE_OFF || id == IDC_DRAWER_LDN)
                drv.SetText(id, "7");
            else
                drv.Click(id);
            drv.Do(note).Click(IDC_APPLY).AnswerMessageBox(IDOK).Do(note);
            expected.push_back(true);
            expected.push_back(false);
        }
        drv.Click(IDCANCEL);
        EXPECT_EQ(drv.Run(dlg), IDCANCEL) << drv.Report();
        EXPECT_TRUE(drv.Failures().empty()) << drv.Report();
        EXPECT_EQ(states, expected);
    }
}

TEST_F(CashDrawer, OkWithoutChangesSavesNothingMore)
{
    CTestRegistry reg;
    DrawerInstall install(reg);
    WriteDrawerKey(reg, "KPTCDW");
    CConfigCashDlg dlg;
    ModifyMode(dlg);
    CDialogDriver drv(20000);
    // Changed behind the dialog after its start-up save: an OK that saved would write it back.
    drv.Do([&](HWND) { reg.SetString((std::string(kDrawerClassKey) + "\\KPTCDW").c_str(), "PulseOnTime", "999"); })
        .Click(IDOK);
    EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
    EXPECT_TRUE(drv.Failures().empty()) << drv.Report();
    EXPECT_TRUE(drv.MessageBoxTexts().empty());
    EXPECT_EQ(DrawerValue("KPTCDW", "PulseOnTime"), "999");
}

// ---- Check Health through the CashDrawer Control Object

TEST_F(CashDrawer, CheckHealthCallsTheControlObjectInOrder)
{
    const DrawerCall open = {37, M, 0, L"KPTCDW_1"}, claim = {32, M, 100, L""}, enable = {17, P, VARIANT_TRUE, L""},
                     health = {31, M, 3, L""}, disable = {17, P, VARIANT_FALSE, L""}, release = {38, M, 0, L""},
                     close = {35, M, 0, L""};
    struct Case
    {
        const char* name;
        DISPID failing;  // 0: none
        std::vector<DrawerCall> calls;
        std::vector<std::string> boxes;
    } cases[] = {
        {"success shows nothing", 0, {open, claim, enable, health, disable, release, close}, {}},
        {"Open fails", 37, {open, close}, {"OPOS CashDrawer Open Error !"}},
        {"ClaimDevice fails", 32, {open, claim, close}, {"CashDrawer Claim Error !"}},
    };
    CDrawerScript co;
    ASSERT_TRUE(co.Ready()) << "the test Control Object's exports";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CTestRegistry reg;
        DrawerInstall install(reg);
        WriteDrawerKey(reg, "KPTCDW");
        CDrawerScript script;
        script.AnswerAll(0);
        if (c.failing)
            script.Answer(c.failing, c.failing == 37 ? 109 : 111);
        CConfigCashDlg dlg;
        AddMode(dlg);
        CDialogDriver drv(20000);
        drv.Do([&](HWND) { ASSERT_NE(dlg.m_ctlCashDrawer.GetControlDispatch(), nullptr); })
            .Click(IDC_CHECK_HEALTH_BUTTON);
        for (size_t i = 0; i < c.boxes.size(); ++i)
            drv.AnswerMessageBox(IDOK);
        drv.Click(IDCANCEL);
        EXPECT_EQ(drv.Run(dlg), IDCANCEL) << drv.Report();
        EXPECT_TRUE(drv.Failures().empty()) << drv.Report();
        EXPECT_EQ(drv.MessageBoxTexts(), c.boxes);
        std::vector<DrawerCall> calls = script.Calls();
        ASSERT_EQ(calls.size(), c.calls.size());
        for (size_t i = 0; i < calls.size(); ++i) {
            EXPECT_EQ(calls[i].id, c.calls[i].id) << i;
            EXPECT_EQ(calls[i].kind, c.calls[i].kind) << i;
            if (c.calls[i].id != 37) {
                EXPECT_EQ(calls[i].number, c.calls[i].number) << i;
            } else {
                EXPECT_TRUE(calls[i].text == c.calls[i].text) << "the chosen name is opened";
            }
        }
    }
}

// ---- The main dialog's C key

TEST_F(CashDrawer, TheCKeyAddsADrawerOnTheChosenPrinter)
{
    struct Case
    {
        const char* name;
        std::vector<const char*> drawers;  // existing drawer keys
        bool choose;                       // false: the choice is cancelled
        const char* added;                 // nullptr: nothing
    } cases[] = {
        {"the first drawer", {}, true, "KPTCDW"},
        {"a second drawer", {"KPTCDW"}, true, "KPTCDW_1"},
        {"the choice cancelled", {}, false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CTestRegistry reg;
        DrawerInstall install(reg);
        WriteDeviceKey(reg, "VL420");
        WriteReceiptPrinterKey(reg, "KPT300");
        WriteReceiptPrinterKey(reg, "LQT200");
        for (const char* d : c.drawers)
            WriteDrawerKey(reg, d);
        CBrevantonDlg dlg;
        std::string drawerName, drawerPrinter;
        int drawerMode = -1;
        CNestedDialogWatch chooser(nullptr, IDC_PRINTER_LIST, [&](HWND d) {
            if (!c.choose) {
                PostMessageA(d, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), LPARAM(GetDlgItem(d, IDCANCEL)));
                return;
            }
            HWND list = GetDlgItem(d, IDC_PRINTER_LIST);
            SendMessageA(list, LB_SETCURSEL, 1, 0);  // LQT200, after KPT300
            PostMessageA(d, WM_COMMAND, MAKEWPARAM(IDC_PRINTER_LIST, LBN_SELCHANGE), LPARAM(list));
        });
        CNestedDialogWatch drawer(nullptr, IDC_PULSE_ON, [&](HWND d) {
            drawerName = ControlText(d, IDC_DRAWER_NAME);
            drawerPrinter = ControlText(d, IDC_CONNECTED_PRINTER);
            drawerMode = Enabled(d, IDC_APPLY);
            PostMessageA(d, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), LPARAM(GetDlgItem(d, IDOK)));
        });
        CDialogDriver drv(30000);
        drv.Key(IDC_DEVICE_TREE, 'C');
        if (c.choose)
            drv.AnswerMessageBox(IDOK);
        drv.WaitUntil([&](HWND) { return chooser.Seen() == 1; }, "the printer choice").Click(IDC_EXIT);
        EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
        EXPECT_TRUE(drv.Failures().empty()) << drv.Report();
        EXPECT_EQ(drawer.Seen(), c.added ? 1 : 0);
        std::vector<std::string> keys = SubkeyNames(kDrawerClassKey);
        EXPECT_EQ(keys.size(), c.drawers.size() + (c.added ? 1 : 0));
        if (c.added) {
            EXPECT_EQ(drv.MessageBoxTexts(), std::vector<std::string>{kSaved});
            EXPECT_EQ(drawerName, c.added);
            EXPECT_EQ(drawerPrinter, "LQT200");
            EXPECT_EQ(drawerMode, 1) << "add mode: Apply enabled";
            EXPECT_EQ(DrawerValue(c.added, "POSPrinter"), "LQT200");
            EXPECT_EQ(DrawerValue(c.added, "DeviceClass"), "CashDrawer");
        }
    }
}

// The main dialog driven through its own modal loop: start-up with and without the label
// support, the device tree made from the device keys, the keys and buttons, Remove, and
// CheckHealth without a POSPrinter Control Object.
#include "BrevantonDlg.h"
#include "BrevantonTestKit.h"
#include "DialogDriver.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <ole2.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {
const char kTitle[] = "VESK OPOS Driver Set 1.13.005";
const char kNoControl[] =
    "OPOSPrinter Open Error : The control {5E0C1D8A-6F1B-4C57-9B8E-2A61D0C4F3B8} is not registered on this computer.";

HWND Tree(HWND dlg) { return GetDlgItem(dlg, IDC_DEVICE_TREE); }
bool Enabled(HWND dlg, int id) { return IsWindowEnabled(GetDlgItem(dlg, id)) != FALSE; }
bool Visible(HWND dlg, int id) { return IsWindowVisible(GetDlgItem(dlg, id)) != FALSE; }
std::string Title(HWND dlg)
{
    char t[256] = {};
    GetWindowTextA(dlg, t, sizeof t);
    return t;
}

void Select(HWND dlg, const std::string& text)
{
    HTREEITEM item = FindTreeItem(Tree(dlg), text);
    ASSERT_NE(item, nullptr) << text << " in\n" << TreeText(ReadTree(Tree(dlg)));
    TreeView_SelectItem(Tree(dlg), item);
}

// The states of Remove, Modify and CheckHealth, as "RMH" with "-" for a disabled one.
std::string DeviceButtons(HWND dlg)
{
    std::string s;
    s += Enabled(dlg, IDC_REMOVE_DEVICE) ? 'R' : '-';
    s += Enabled(dlg, IDC_MODIFY_DEVICE) ? 'M' : '-';
    s += Enabled(dlg, IDC_CHECKHEALTH) ? 'H' : '-';
    return s;
}

std::vector<TreeItem> Labels(std::initializer_list<const char*> devices)
{
    std::vector<TreeItem> t = {{"Device", 0, false}, {"Label Printer", 1, false}};
    for (const char* d : devices)
        t.push_back({d, 2, true});
    return t;
}
}

// {5E0C1D8A-6F1B-4C57-9B8E-2A61D0C4F3B8}: registered nowhere.
const CLSID kUnregistered = {0x5e0c1d8a, 0x6f1b, 0x4c57, {0x9b, 0x8e, 0x2a, 0x61, 0xd0, 0xc4, 0xf3, 0xb8}};

// The test prefix registers the published Control Object class ids for the hosted-control tests;
// the main dialog is tested as on a machine without a POSPrinter Control Object.
class CDlgWithoutControl : public CBrevantonDlg
{
protected:
    BOOL CreatePrinterControl(const RECT& rect) override
    {
        return m_ctlPOSPrinter.CreateControl(kUnregistered, "", WS_CHILD, rect, this, IDC_POSPRINTER_CONTROL);
    }
    // The configuration dialog has tests of its own: here it is only recorded, as
    // "key|class|add" or "key|class|modify", and the new key stays as Add Device made it.
    INT_PTR RunPrinterConfiguration(const CString& keyName, int classCode, BOOL addMode) override
    {
        configCalls.push_back(std::string(keyName.GetString()) + "|" + std::to_string(classCode) + "|" +
                              (addMode ? "add" : "modify"));
        return IDOK;
    }

public:
    std::vector<std::string> configCalls;
};

class MainDialog : public DialogTest
{
protected:
    CTestRegistry reg;
};

TEST_F(MainDialog, StartsUpWithTitleTreeAndButtons)
{
    struct Case
    {
        const char* name;
        InstallOptions install;
        const char* title;
        std::vector<TreeItem> tree;
        std::string deviceButtons;  // before anything is selected
        bool portRange;             // Port Range visible
    } cases[] = {
        {"with label support", {}, kTitle, Labels({"VL420"}), "---", true},
        {"without lbprn.inf", {false, true, true, 0, nullptr}, kTitle, {{"Device", 0, false}}, "---", true},
        {"without Corvane.dll", {true, false, true, 0, nullptr}, kTitle, {{"Device", 0, false}}, "---", true},
        // Without a title nothing of the list is set up: no tree, the buttons as the template has them.
        {"without VersionDescription", {true, true, false, 0, nullptr}, "", {}, "RMH", true},
        {"FindAvailablePort hides Port Range", {true, true, true, 1, nullptr}, kTitle, Labels({"VL420"}), "---", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CTestRegistry local;
        CInstallFolder folder(local, c.install);
        WriteDeviceKey(local, "VL420");
        CDlgWithoutControl dlg;
        CDialogDriver drv;
        drv.Do([&](HWND h) {
               EXPECT_EQ(Title(h), c.title);
               std::vector<TreeItem> tree = ReadTree(Tree(h));
               EXPECT_EQ(tree, c.tree) << TreeText(tree);
               EXPECT_EQ(DeviceButtons(h), c.deviceButtons);
               EXPECT_EQ(Visible(h, IDC_PORT_RANGE), c.portRange);
               EXPECT_TRUE(Visible(h, IDC_ADD_DEVICE) && Enabled(h, IDC_ADD_DEVICE));
               EXPECT_FALSE(Visible(h, IDC_ADD_CASHDRAWER) || Enabled(h, IDC_ADD_CASHDRAWER));
               EXPECT_FALSE(Visible(h, IDC_UTILITY) || Enabled(h, IDC_UTILITY));
               RECT r;
               GetWindowRect(h, &r);
               EXPECT_EQ(r.right - r.left, 600);
               EXPECT_EQ(r.bottom - r.top, 368);
               EXPECT_EQ(ControlText(h, IDC_DEVICE_LIST_LABEL), "Registered Device List");
               EXPECT_EQ(ControlText(h, IDC_EXIT), "Exit(X)");
           })
            .Click(IDC_EXIT);
        EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
        EXPECT_TRUE(drv.Failures().empty()) << drv.Report();
    }
}

TEST_F(MainDialog, ComesUpWithoutAControlObjectAndCheckHealthSaysWhy)
{
    CInstallFolder folder(reg);
    WriteDeviceKey(reg, "VL420");
    for (bool byKey : {false, true}) {
        SCOPED_TRACE(byKey ? "H key" : "CheckHealth button");
        CDlgWithoutControl dlg;
        CDialogDriver drv;
        drv.Do([&](HWND h) {
               EXPECT_TRUE(IsWindowVisible(h));
               EXPECT_EQ(dlg.m_ctlPOSPrinter.GetControlDispatch(), nullptr);
               EXPECT_EQ(GetDlgItem(h, IDC_POSPRINTER_CONTROL), nullptr);
               Select(h, "VL420");
           });
        if (byKey)
            drv.Key(IDC_DEVICE_TREE, 'H');
        else
            drv.Click(IDC_CHECKHEALTH);
        drv.AnswerMessageBox(IDOK).Click(IDC_EXIT);
        EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
        EXPECT_TRUE(drv.Failures().empty()) << drv.Report();
        EXPECT_EQ(drv.MessageBoxTexts(), std::vector<std::string>{kNoControl});
    }
}

// Keys written (name, ProgID or nullptr for none), and what the tree lists under its category.
TEST_F(MainDialog, ListsTheLabelPrinterKeysOfThisDriverSet)
{
    // "1M" sorts before "[" and "~M5" after it whether names are compared in upper or lower case.
    const char* kOwnInf = "[1M]\r\nDeviceDesc=d\r\n[~M5]\r\nDeviceDesc=d\r\n";
    // ZLAST's section begins past the first 1024 characters of the section list.
    std::string longInf;
    for (int i = 0; i < 120; ++i)
        longInf += "[Model" + std::to_string(1000 + i) + "]\r\n";
    longInf += "[ZLAST]\r\nDeviceDesc=d\r\n";
    struct Key
    {
        const char* name;
        const char* progId;
    };
    struct Case
    {
        const char* name;
        const char* lbprn;  // nullptr: the shipped one
        std::vector<Key> keys;
        std::vector<TreeItem> tree;
    } cases[] = {
        {"reverse order of the enumeration, bold items", nullptr,
         {{"VL420", kLabelProgId}, {"VL420_1", kLabelProgId}, {"VL820", kLabelProgId}},
         Labels({"VL820", "VL420_1", "VL420"})},
        {"a name beginning with [ ends the listing", kOwnInf,
         {{"1M", kLabelProgId}, {"[Defaults]", kLabelProgId}, {"~M5", kLabelProgId}}, Labels({"1M"})},
        {"without the [ key the key after it is listed", kOwnInf, {{"1M", kLabelProgId}, {"~M5", kLabelProgId}},
         Labels({"~M5", "1M"})},
        {"a receipt printer's ProgID is left out, with the keys named after it", nullptr,
         {{"VL420", "VESK.POSPrinter.ServiceObject.1.13"}, {"VL420_1", kLabelProgId}, {"VL820", kLabelProgId}},
         Labels({"VL820"})},
        {"another maker's ProgID is left out", nullptr, {{"VL420", "Other.LabelPrinter.1"}}, Labels({})},
        {"a missing base key: listed when its model is a section, in any case", nullptr,
         {{"VL420_1", kLabelProgId}, {"vl820_1", kLabelProgId}, {"VL4_2", kLabelProgId}},
         Labels({"vl820_1", "VL420_1"})},
        {"a model that begins no section is left out", nullptr, {{"XY_1", kLabelProgId}, {"VL9", kLabelProgId}},
         Labels({})},
        {"an empty ProgID passes", nullptr, {{"VL820", ""}}, Labels({"VL820"})},
        {"a key without a model before its _ is left out", nullptr, {{"_1", kLabelProgId}}, Labels({})},
        {"a model far down a long section list", longInf.c_str(), {{"ZLAST", kLabelProgId}, {"ZLAST_1", kLabelProgId}},
         Labels({"ZLAST_1", "ZLAST"})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CTestRegistry local;
        InstallOptions o;
        o.lbprnText = c.lbprn;
        CInstallFolder folder(local, o);
        for (const Key& k : c.keys)
            WriteDeviceKey(local, k.name, k.progId);
        CDlgWithoutControl dlg;
        CDialogDriver drv;
        drv.Do([&](HWND h) {
               std::vector<TreeItem> tree = ReadTree(Tree(h));
               EXPECT_EQ(tree, c.tree) << TreeText(tree);
           })
            .Click(IDC_EXIT);
        EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
    }
}

TEST_F(MainDialog, ShowsTheSelectedDevicesSummary)
{
    struct Case
    {
        const char* name;
        const char* ldn;
        const char* port;
        const char* summary;
    } cases[] = {
        {"an empty LDN is not used", "", "COM3",
         "\r\n- Label Printer Description - \r\n\r\n Device Name : \r\n    VL420\r\n LDN : \r\n    [Not Used]\r\n"
         " Using Port : \r\n    COM3\r\n"},
        {"an LDN and a network port", "Front", "Ethernet",
         "\r\n- Label Printer Description - \r\n\r\n Device Name : \r\n    VL420\r\n LDN : \r\n    Front\r\n"
         " Using Port : \r\n    Ethernet\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CTestRegistry local;
        CInstallFolder folder(local);
        WriteDeviceKey(local, "VL420_1", kLabelProgId, c.ldn, c.port, "VL420");
        CDlgWithoutControl dlg;
        CDialogDriver drv;
        drv.Do([&](HWND h) {
               EXPECT_EQ(ControlText(h, IDC_DEVICE_SUMMARY), "") << "nothing is current yet";
               Select(h, "VL420_1");
               EXPECT_EQ(ControlText(h, IDC_DEVICE_SUMMARY), c.summary);
               Select(h, "Label Printer");
               EXPECT_EQ(ControlText(h, IDC_DEVICE_SUMMARY), c.summary) << "the current device stays";
           })
            .Click(IDC_EXIT);
        EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
    }
}

TEST_F(MainDialog, DepthDecidesTheDeviceButtons)
{
    CInstallFolder folder(reg);
    WriteDeviceKey(reg, "VL420");
    CDlgWithoutControl dlg;
    CDialogDriver drv;
    drv.Do([&](HWND h) {
           struct
           {
               const char* item;
               const char* buttons;
           } rows[] = {{"VL420", "RMH"}, {"Device", "---"}, {"VL420", "RMH"}, {"Label Printer", "---"}};
           for (auto& r : rows) {
               Select(h, r.item);
               EXPECT_EQ(DeviceButtons(h), r.buttons) << r.item;
           }
       })
        .Click(IDC_EXIT);
    EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
}

TEST_F(MainDialog, RemoveModifyAndCheckHealthKeysOnTheRootOrACategoryDoNothing)
{
    for (const char* item : {"Device", "Label Printer"}) {
        for (UINT vk : {UINT('R'), UINT('M'), UINT('H')}) {
            SCOPED_TRACE(std::string(item) + " key " + char(vk));
            CTestRegistry local;
            CInstallFolder folder(local);
            WriteDeviceKey(local, "VL420");
            // Keys named like the items: a key that would be acted on if the item's text were taken.
            WriteDeviceKey(local, "Device");
            CDlgWithoutControl dlg;
            CDialogDriver drv(20000);
            drv.Do([&](HWND h) { Select(h, item); }).Key(IDC_DEVICE_TREE, vk).Do([&](HWND h) {
                   EXPECT_EQ(ReadTree(Tree(h)), Labels({"VL420"}));
               });
            drv.Click(IDC_EXIT);
            EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
            EXPECT_TRUE(drv.Failures().empty()) << drv.Report();
            EXPECT_EQ(dlg.configCalls, std::vector<std::string>{}) << "no configuration opens";
            EXPECT_TRUE(local.Exists((std::string(kPrinterClassKey) + "\\VL420").c_str()));
            EXPECT_TRUE(local.Exists((std::string(kPrinterClassKey) + "\\Device").c_str()));
            EXPECT_FALSE(local.Exists("Software\\OLEforRetail\\ServiceOPOS\\CashDrawer"));
        }
    }
}

// Each key runs its handler wherever the focus is; every key but N is consumed.
TEST_F(MainDialog, KeysRunTheirHandlersWhateverHasTheFocus)
{
    struct Case
    {
        const char* name;
        UINT vk;
        int focus;
        int findAvailablePort;
        int addDeviceSeen, portRangeSeen;
        std::vector<std::string> boxes;
        std::vector<std::string> shellCalls;
        INT_PTR end;
        std::vector<std::string> configCalls = {};
    };
    const std::string removeQuestion = "Are you sure you want to delete all setting information about VL420?";
    Case cases[] = {
        {"D opens Add Device", 'D', IDC_DEVICE_TREE, 0, 1, 0, {}, {}, IDOK},
        {"D from the summary", 'D', IDC_DEVICE_SUMMARY, 0, 1, 0, {}, {}, IDOK},
        {"P opens Port Range", 'P', IDC_DEVICE_TREE, 0, 0, 1, {}, {}, IDOK},
        {"P while Port Range is hidden", 'P', IDC_DEVICE_SUMMARY, 1, 0, 1, {}, {}, IDOK},
        {"R asks to remove the device", 'R', IDC_DEVICE_TREE, 0, 0, 0, {removeQuestion}, {}, IDOK},
        {"H runs CheckHealth", 'H', IDC_EXIT, 0, 0, 0, {kNoControl}, {}, IDOK},
        {"N opens the Utility folder", 'N', IDC_DEVICE_TREE, 0, 0, 0, {}, {"explore|@\\Utility"}, IDOK},
        {"C opens the printer choice: no receipt printer", 'C', IDC_DEVICE_TREE, 0, 0, 0,
         {"Not Installed Printer can connect with the CashDrawer!!"}, {}, IDOK},
        {"M opens the selected device's configuration", 'M', IDC_DEVICE_TREE, 0, 0, 0, {}, {}, IDOK,
         {"VL420|32|modify"}},
        {"M from the Exit button", 'M', IDC_EXIT, 0, 0, 0, {}, {}, IDOK, {"VL420|32|modify"}},
        {"X ends the dialog", 'X', IDC_DEVICE_SUMMARY, 0, 0, 0, {}, {}, IDOK},
        {"Enter on the tree does nothing", VK_RETURN, IDC_DEVICE_TREE, 0, 0, 0, {}, {}, IDOK},
        {"Enter on Modify does what Modify does", VK_RETURN, IDC_MODIFY_DEVICE, 0, 0, 0, {}, {}, IDOK,
         {"VL420|32|modify"}},
        {"Enter on Add Device opens Add Device", VK_RETURN, IDC_ADD_DEVICE, 0, 1, 0, {}, {}, IDOK},
        {"Escape on the tree does not end the program", VK_ESCAPE, IDC_DEVICE_TREE, 0, 0, 0, {}, {}, IDOK},
        {"Escape on Modify does not end the program", VK_ESCAPE, IDC_MODIFY_DEVICE, 0, 0, 0, {}, {}, IDOK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CTestRegistry local;
        InstallOptions o;
        o.findAvailablePort = c.findAvailablePort;
        CInstallFolder folder(local, o);
        WriteDeviceKey(local, "VL420");
        CDlgWithoutControl dlg;
        std::vector<std::string> shellCalls;
        dlg.m_shellOpen = [&](const char* verb, const char* path) {
            std::string p = path;
            if (p.compare(0, folder.Path().size(), folder.Path()) == 0)
                p = "@" + p.substr(folder.Path().size());
            shellCalls.push_back(std::string(verb) + "|" + p);
        };
        CNestedDialogWatch addDevice(nullptr, IDC_MODEL_LIST,
                                     [](HWND d) { PostMessageA(d, WM_COMMAND, IDCANCEL, 0); });
        CNestedDialogWatch portRange(nullptr, IDC_COM_RANGE, [](HWND d) { PostMessageA(d, WM_COMMAND, IDCANCEL, 0); });
        CDialogDriver drv(20000);
        drv.Do([&](HWND h) {
               Select(h, "VL420");
               SetFocus(GetDlgItem(h, c.focus));
           })
            .Key(c.focus, c.vk);
        for (size_t i = 0; i < c.boxes.size(); ++i)
            drv.AnswerMessageBox(c.vk == 'R' ? IDCANCEL : IDOK);
        if (c.vk != 'X')
            drv.WaitUntil([&](HWND) { return addDevice.Seen() >= c.addDeviceSeen && portRange.Seen() >= c.portRangeSeen; },
                          "the nested dialogs")
                .Click(IDC_EXIT);
        EXPECT_EQ(drv.Run(dlg), c.end) << drv.Report();
        EXPECT_TRUE(drv.Failures().empty()) << drv.Report();
        EXPECT_EQ(addDevice.Seen(), c.addDeviceSeen);
        EXPECT_EQ(portRange.Seen(), c.portRangeSeen);
        EXPECT_EQ(drv.MessageBoxTexts(), c.boxes);
        EXPECT_EQ(shellCalls, c.shellCalls);
        EXPECT_EQ(dlg.configCalls, c.configCalls);
        EXPECT_TRUE(local.Exists((std::string(kPrinterClassKey) + "\\VL420").c_str()));
    }
}

// What reaches the tree of the keys posted to it.
std::vector<WPARAM> g_treeKeys;
WNDPROC g_treeProc = nullptr;
LRESULT CALLBACK CountingTreeProc(HWND h, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_KEYDOWN)
        g_treeKeys.push_back(wp);
    return CallWindowProcA(g_treeProc, h, msg, wp, lp);
}

TEST_F(MainDialog, EveryKeyButNIsConsumed)
{
    CInstallFolder folder(reg);
    WriteDeviceKey(reg, "VL420");
    CDlgWithoutControl dlg;
    int shellCalls = 0;
    dlg.m_shellOpen = [&](const char*, const char*) { ++shellCalls; };
    CNestedDialogWatch addDevice(nullptr, IDC_MODEL_LIST, [](HWND d) { PostMessageA(d, WM_COMMAND, IDCANCEL, 0); });
    CNestedDialogWatch portRange(nullptr, IDC_COM_RANGE, [](HWND d) { PostMessageA(d, WM_COMMAND, IDCANCEL, 0); });
    g_treeKeys.clear();
    CDialogDriver drv(20000);
    drv.Do([&](HWND h) {
        // The root is selected, so R, M and H have nothing to act on.
        Select(h, "Device");
        g_treeProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(Tree(h), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CountingTreeProc)));
    });
    // F is no key of the dialog: it reaches the tree like N.
    for (UINT vk : {'C', 'D', 'H', 'M', 'N', 'P', 'R', 'F'}) {
        drv.Key(IDC_DEVICE_TREE, vk);
        if (vk == 'C')
            drv.AnswerMessageBox(IDOK);  // no receipt printer for a drawer
    }
    drv.WaitUntil([&](HWND) { return addDevice.Seen() == 1 && portRange.Seen() == 1; }, "the nested dialogs")
        .Key(IDC_DEVICE_TREE, 'X');
    EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
    EXPECT_TRUE(drv.Failures().empty()) << drv.Report();
    EXPECT_EQ(g_treeKeys, (std::vector<WPARAM>{'N', 'F'}));
    EXPECT_EQ(shellCalls, 1);
    EXPECT_EQ(addDevice.Seen(), 1);
    EXPECT_EQ(portRange.Seen(), 1);
    EXPECT_EQ(dlg.configCalls, std::vector<std::string>{}) << "M on the root opens nothing";
}

TEST_F(MainDialog, RemoveAsksWithTheNameAndDeletesTheKeyAndItsOwnAlias)
{
    const std::string classKey = kPrinterClassKey;
    struct Case
    {
        const char* name;
        bool byKey;
        int answer;
        const char* aliasData;  // the class key's value "Front"; nullptr: none
        bool keyAfter, aliasAfter;
        std::vector<TreeItem> tree;
        const char* summary;
    } cases[] = {
        {"Cancel keeps the key", false, IDCANCEL, "VL420", true, true, Labels({"VL820", "VL420"}), nullptr},
        {"OK deletes the key and its alias", false, IDOK, "VL420", false, false, Labels({"VL820"}), ""},
        {"another device's alias of the same name stays", true, IDOK, "VL820", false, true, Labels({"VL820"}), ""},
        {"no alias", true, IDOK, nullptr, false, false, Labels({"VL820"}), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CTestRegistry local;
        CInstallFolder folder(local);
        WriteDeviceKey(local, "VL420", kLabelProgId, "Front");
        WriteDeviceKey(local, "VL820", kLabelProgId, "");
        if (c.aliasData)
            local.SetString(kPrinterClassKey, "Front", c.aliasData);
        CDlgWithoutControl dlg;
        CDialogDriver drv(20000);
        std::string summaryBefore;
        drv.Do([&](HWND h) {
            Select(h, "VL420");
            summaryBefore = ControlText(h, IDC_DEVICE_SUMMARY);
        });
        if (c.byKey)
            drv.Key(IDC_DEVICE_SUMMARY, 'R');
        else
            drv.Click(IDC_REMOVE_DEVICE);
        drv.AnswerMessageBox(c.answer).Do([&](HWND h) {
               std::vector<TreeItem> tree = ReadTree(Tree(h));
               EXPECT_EQ(tree, c.tree) << TreeText(tree);
               EXPECT_EQ(ControlText(h, IDC_DEVICE_SUMMARY), c.summary ? c.summary : summaryBefore);
               if (c.answer == IDOK) {
                   EXPECT_EQ(DeviceButtons(h), "---");
               }
           })
            .Click(IDC_EXIT);
        EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
        EXPECT_TRUE(drv.Failures().empty()) << drv.Report();
        EXPECT_EQ(drv.MessageBoxTexts(),
                  std::vector<std::string>{"Are you sure you want to delete all setting information about VL420?"});
        EXPECT_EQ(local.Exists((classKey + "\\VL420").c_str()), c.keyAfter);
        EXPECT_EQ(RegString(classKey, "Front") != "<no value>", c.aliasAfter);
        EXPECT_TRUE(local.Exists((classKey + "\\VL820").c_str()));
        EXPECT_EQ(dlg.m_strDeviceKeyName.IsEmpty(), c.answer == IDOK);
    }
}

TEST_F(MainDialog, AddDeviceEndsWithTheNewKeyListed)
{
    CInstallFolder folder(reg);
    WriteDeviceKey(reg, "VL820");
    CDlgWithoutControl dlg;
    // The models sort as VL420, VL820: take the first and go on.
    CNestedDialogWatch addDevice(nullptr, IDC_MODEL_LIST, [](HWND d) { ChooseModelAndGoOn(d, 0); });
    CDialogDriver drv(20000);
    drv.Click(IDC_ADD_DEVICE)
        .WaitUntil([&](HWND) { return addDevice.Seen() == 1; }, "Add Device")
        .Do([&](HWND h) {
            std::vector<TreeItem> tree = ReadTree(Tree(h));
            EXPECT_EQ(tree, Labels({"VL820", "VL420"})) << TreeText(tree);
        })
        .Click(IDC_EXIT);
    EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
    EXPECT_TRUE(drv.Failures().empty()) << drv.Report();
    EXPECT_EQ(dlg.m_nAddedClassCode, 32);
    EXPECT_STREQ(dlg.m_strAddedKeyName, "VL420");
    EXPECT_EQ(dlg.configCalls, std::vector<std::string>{"VL420|32|add"});
    EXPECT_EQ(RegString(std::string(kPrinterClassKey) + "\\VL420", "DeviceName"), "VL420");
}

TEST_F(MainDialog, AfterModifyOrAddTheDeviceWorkedOnStaysSelectedAndSummarised)
{
    auto selectedText = [](HWND h) {
        HTREEITEM item = TreeView_GetSelection(Tree(h));
        char text[64] = {};
        TVITEMA tv = {};
        tv.mask = TVIF_TEXT;
        tv.hItem = item;
        tv.pszText = text;
        tv.cchTextMax = sizeof text;
        if (item)
            TreeView_GetItem(Tree(h), &tv);
        return std::string(text);
    };
    auto usingPort = [](HWND h) {
        const std::string summary = ControlText(h, IDC_DEVICE_SUMMARY), label = "Using Port : \r\n    ";
        size_t at = summary.find(label);
        if (at == std::string::npos)
            return std::string();
        at += label.size();
        return summary.substr(at, summary.find("\r\n", at) - at);
    };
    struct Row
    {
        const char* what;
        const char* from;  // selected before the button
        int button;
        std::string selected, port;
    };
    // Listed as VL820, VL420_2, VL420_1 (each key goes to the head of its category): refilling
    // deletes VL420_2 while VL420_1 still follows it, and the tree's selection moves there.
    const Row rows[] = {
        {"Modify of the last key", "VL420_1", IDC_MODIFY_DEVICE, "VL420_1", "COM2"},
        {"Modify of a key between two others", "VL420_2", IDC_MODIFY_DEVICE, "VL420_2", "COM5"},
        {"Add Device: the new key", "VL420_1", IDC_ADD_DEVICE, "VL420", "COM1"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        CTestRegistry local;
        CInstallFolder folder(local);
        WriteDeviceKey(local, "VL420_1", kLabelProgId, "", "COM2", "VL420");
        WriteDeviceKey(local, "VL420_2", kLabelProgId, "", "COM5", "VL420");
        WriteDeviceKey(local, "VL820", kLabelProgId, "", "COM3");
        CDlgWithoutControl dlg;
        CNestedDialogWatch addDevice(nullptr, IDC_MODEL_LIST, [](HWND d) { ChooseModelAndGoOn(d, 0); });
        CDialogDriver drv(20000);
        drv.Do([&](HWND h) { Select(h, r.from); })
            .Click(r.button)
            .WaitUntil([&](HWND) { return dlg.configCalls.size() == 1; }, "the configuration dialog")
            .Do([&](HWND h) {
                EXPECT_EQ(selectedText(h), r.selected);
                EXPECT_EQ(usingPort(h), r.port) << ControlText(h, IDC_DEVICE_SUMMARY);
                EXPECT_EQ(DeviceButtons(h), "RMH");
            })
            .Click(IDC_EXIT);
        EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
    }
}

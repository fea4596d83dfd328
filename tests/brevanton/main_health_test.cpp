// CheckHealth from the main dialog, end to end: the hosted test Control Object drives the real
// Service Object, which reaches a simulator TCP endpoint through Quillan and net; the test
// presses Print in the Service Object's interactive check dialog and closes it. Then the
// Control Object's scripted failures, each with its message and ending with Close.
#include "BrevantonDlg.h"
#include "BrevantonTestKit.h"
#include "DialogDriver.h"
#include "TestCoControls.h"
#include "resource.h"

#include "qlks.h"
#include "simclient.h"

#include <gtest/gtest.h>

#include <ole2.h>


namespace {
const WORD M = DISPATCH_METHOD, G = DISPATCH_PROPERTYGET, P = DISPATCH_PROPERTYPUT;
const char kCheckCaption[] = "Printer Check Health";
const int kCheckPrint = 1000, kCheckResult = 1001;  // the Service Object's check dialog

struct PrinterCall
{
    DISPID id;
    WORD kind;
    long number;  // the first numeric argument (VARIANT_BOOL for a BOOL); 0 when none
};

struct TestCo
{
    HMODULE module = LoadLibraryA(WinPath(TESTCO_DLL).c_str());
    TestCoScriptFn script = Proc<TestCoScriptFn>(module, "TestCoScript");
    TestCoResetFn reset = Proc<TestCoResetFn>(module, "TestCoReset");
    TestCoGetCallFn get = Proc<TestCoGetCallFn>(module, "TestCoGetCall");

    std::vector<PrinterCall> Calls(std::wstring* openName = nullptr) const
    {
        std::vector<PrinterCall> out;
        TestCoCall c;
        for (int i = 0; get(i, &c); ++i) {
            if (c.cls != kTestCoPOSPrinter || std::string(c.member) != "Invoke")
                continue;
            out.push_back({c.id, c.kind, c.types[0] == VT_BSTR ? 0 : c.number});
            if (c.id == 37 && openName)
                *openName = c.text;
        }
        return out;
    }
    void Answer(DISPID id, WORD kind, VARTYPE vt, long number, const wchar_t* text = nullptr, HRESULT hr = S_OK)
    {
        TestCoAnswer a = {hr, vt, number, text, nullptr};
        script(kTestCoPOSPrinter, id, kind, &a);
    }
};

std::string Describe(const std::vector<PrinterCall>& calls)
{
    std::string s;
    for (const PrinterCall& c : calls)
        s += std::to_string(c.id) + (c.kind == M ? "()" : c.kind == G ? " get" : " put") + " " +
             std::to_string(c.number) + "; ";
    return s;
}

// Presses Print in the Service Object's check dialog, waits for its result, then closes it.
class CCheckDialogHand
{
public:
    CCheckDialogHand()
    {
        s_hand = this;
        m_timer = SetTimer(nullptr, 0, 20, &CCheckDialogHand::OnTimer);
    }
    ~CCheckDialogHand()
    {
        KillTimer(nullptr, m_timer);
        s_hand = nullptr;
    }
    bool Done() const { return m_state == 2; }
    std::string m_result, m_title;

private:
    static BOOL CALLBACK Find(HWND h, LPARAM lp)
    {
        char cls[32] = {}, title[256] = {};
        GetClassNameA(h, cls, sizeof cls);
        GetWindowTextA(h, title, sizeof title);
        if (lstrcmpA(cls, "#32770") == 0 && IsWindowVisible(h) &&
            std::string(title).compare(0, sizeof kCheckCaption - 1, kCheckCaption) == 0) {
            *reinterpret_cast<HWND*>(lp) = h;
            return FALSE;
        }
        return TRUE;
    }
    static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD)
    {
        if (!s_hand || s_hand->m_state == 2)
            return;
        HWND dlg = nullptr;
        EnumThreadWindows(GetCurrentThreadId(), Find, reinterpret_cast<LPARAM>(&dlg));
        if (!dlg)
            return;
        if (s_hand->m_state == 0) {
            s_hand->m_state = 1;
            char title[256] = {};
            GetWindowTextA(dlg, title, sizeof title);
            s_hand->m_title = title;
            PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(kCheckPrint, BN_CLICKED), LPARAM(GetDlgItem(dlg, kCheckPrint)));
            return;
        }
        std::string result = ControlText(dlg, kCheckResult);
        if (result.empty() || result.find("Print Result") != std::string::npos ||
            result.find("in progress") != std::string::npos)
            return;
        s_hand->m_result = result;
        s_hand->m_state = 2;
        PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), LPARAM(GetDlgItem(dlg, IDOK)));
    }
    static CCheckDialogHand* s_hand;
    UINT_PTR m_timer = 0;
    int m_state = 0;
};
CCheckDialogHand* CCheckDialogHand::s_hand = nullptr;

class MainCheckHealth : public DialogTest
{
protected:
    void SetUp() override
    {
        DialogTest::SetUp();
        ASSERT_TRUE(co.script && co.reset && co.get) << "the test Control Object's exports";
        co.reset();
    }
    void TearDown() override
    {
        co.reset();
        DialogTest::TearDown();
    }
    TestCo co;
};
}

TEST_F(MainCheckHealth, PrintsTheTestLabelThroughTheServiceObjectOnTheSimulator)
{
    vesksim::SimClient sim;
    ASSERT_TRUE(sim.connected()) << sim.error();
    int port = 0;
    int ep = sim.tcp(&port);
    ASSERT_GE(ep, 0) << sim.error();

    CTestRegistry reg;
    InstallOptions everyInf;
    everyInf.allInf = true;  // the model and font files the Service Object reads
    CInstallFolder folder(reg, everyInf);
    const char* info = "Software\\OLEforRetail\\ServiceInfo\\VESK OPOS";
    reg.SetString(info, "qlnadir", WinPath(QUILLAN_DLL).c_str());
    reg.SetString(info, "netdir", WinPath(NET_DLL).c_str());
    WriteDeviceKey(reg, "VL420", kLabelProgId, "", "Ethernet");
    const std::string key = std::string(kPrinterClassKey) + "\\VL420";
    reg.SetString(key.c_str(), "TcpIp", "127.0.0.1");
    reg.SetDWORD(key.c_str(), "TcpPort", DWORD(port));
    reg.SetString(key.c_str(), "inf", folder.Folder().File("VL420.inf").c_str());
    // The label settings the printer configuration writes: gap media, top first.
    reg.SetDWORD(key.c_str(), "GapLength", 24);
    reg.SetString(key.c_str(), "PaperType", "G");
    reg.SetString(key.c_str(), "Orientation", "T");

    CBrevantonDlg dlg;
    CCheckDialogHand hand;
    CDialogDriver drv(120000);
    drv.Do([&](HWND h) {
           HWND tree = GetDlgItem(h, IDC_DEVICE_TREE);
           HTREEITEM item = FindTreeItem(tree, "VL420");
           ASSERT_NE(item, nullptr) << TreeText(ReadTree(tree));
           TreeView_SelectItem(tree, item);
       })
        .Click(IDC_CHECKHEALTH)
        .WaitUntil([&](HWND) { return hand.Done(); }, "the check dialog printed and closed")
        .Click(IDC_EXIT);
    EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
    EXPECT_TRUE(drv.Failures().empty()) << drv.Report();
    EXPECT_TRUE(drv.MessageBoxTexts().empty()) << "the utility shows nothing of a check that ran";
    EXPECT_EQ(hand.m_title, "Printer Check Health : - Interactive -VL420");
    EXPECT_EQ(hand.m_result.compare(0, 7, "Success"), 0) << hand.m_result;

    // The calls in their order, with their arguments.
    std::wstring openName;
    std::vector<PrinterCall> calls = co.Calls(&openName);
    const std::vector<std::pair<DISPID, WORD>> order = {{37, M}, {32, M}, {17, P}, {106, P}, {17, G},
                                                        {31, M}, {17, P}, {38, M},  {35, M}};
    const std::vector<long> numbers = {0, 500, VARIANT_TRUE, VARIANT_TRUE, 0, 3, VARIANT_FALSE, 0, 0};
    ASSERT_EQ(calls.size(), order.size()) << Describe(calls);
    for (size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].id, order[i].first) << i << ": " << Describe(calls);
        EXPECT_EQ(calls[i].kind, order[i].second) << i;
        EXPECT_EQ(calls[i].number, numbers[i]) << i;
    }
    EXPECT_TRUE(openName == L"VL420");

    // The test label on the printer: its frame, its texts and its QR code.
    ASSERT_TRUE(sim.waitLabels(ep, 1)) << sim.error();
    std::vector<qlks::Label> labels = sim.labels(ep);
    ASSERT_EQ(labels.size(), 1u);
    const qlks::Label& l = labels[0];
    EXPECT_TRUE(l.complete && l.testLabel) << qlks::describe(l);
    EXPECT_EQ(l.flags, 0u) << qlks::describe(l);
    EXPECT_EQ(l.count(qlks::Op::Box), 4u) << qlks::describe(l);
    std::vector<std::string> texts;
    for (size_t i = 0; const qlks::Command* c = l.find(qlks::Op::VectorText, i); ++i)
        texts.push_back(c->str("text"));
    EXPECT_EQ(texts, (std::vector<std::string>{"VESK OPOS Driver", "Label Printer", "VL420"})) << qlks::describe(l);
    const qlks::Command* qr = l.find(qlks::Op::QrCode);
    ASSERT_NE(qr, nullptr) << qlks::describe(l);
    EXPECT_EQ(qr->str("data"), "https://example.com/vesk-opos") << qlks::describe(l);
}

TEST_F(MainCheckHealth, AFailedStepShowsItsMessageWithTheErrorTextAndEndsWithClose)
{
    struct Case
    {
        const char* name;
        DISPID failing;  // 37 Open, 32 ClaimDevice, 17 DeviceEnabled read back FALSE
        WORD kind;       // of the failing call
        HRESULT hr;      // what its Invoke answers
        std::string box;
        bool boxGoesOn;  // the box only begins with box: the system's text for hr follows
        std::vector<DISPID> calls;
    } cases[] = {
        {"Open", 37, M, S_OK, "OPOSPrinter Open Error : scripted reason", false, {37, 105, 35}},
        {"ClaimDevice", 32, M, S_OK, "OPOSPrinter Claim Error : scripted reason", false, {37, 32, 105, 35}},
        {"DeviceEnabled", 17, G, S_OK, "OPOSPrinter DeviceEnabled Error  : scripted reason", false,
         {37, 32, 17, 106, 17, 105, 35}},
        // The wrapper's reason stands for a failed call: the control's text is not asked for.
        {"ClaimDevice's Invoke fails", 32, M, E_FAIL, "OPOSPrinter Claim Error : The call 32 of the control failed: 0x80004005",
         true, {37, 32, 35}},
        {"the DeviceEnabled put's Invoke fails, the read-back says FALSE", 17, P, E_FAIL,
         "OPOSPrinter DeviceEnabled Error  : The call 17 of the control failed: 0x80004005", true,
         {37, 32, 17, 106, 17, 35}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        co.reset();
        for (DISPID id : {31, 32, 35, 37, 38})
            co.Answer(id, M, VT_I4, id == c.failing && c.hr == S_OK ? 111 : 0, nullptr,
                      id == c.failing && c.kind == M ? c.hr : S_OK);
        co.Answer(17, P, VT_EMPTY, 0, nullptr, c.failing == 17 && c.kind == P ? c.hr : S_OK);
        co.Answer(106, P, VT_EMPTY, 0);
        co.Answer(17, G, VT_BOOL, c.failing == 17 ? 0 : 1);
        co.Answer(105, G, VT_BSTR, 0, L"scripted reason");
        CTestRegistry reg;
        CInstallFolder folder(reg);
        WriteDeviceKey(reg, "VL420");
        CBrevantonDlg dlg;
        CDialogDriver drv(30000);
        drv.Do([&](HWND h) {
               HWND tree = GetDlgItem(h, IDC_DEVICE_TREE);
               TreeView_SelectItem(tree, FindTreeItem(tree, "VL420"));
           })
            .Key(IDC_DEVICE_TREE, 'H')
            .AnswerMessageBox(IDOK)
            .Click(IDC_EXIT);
        EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
        EXPECT_TRUE(drv.Failures().empty()) << drv.Report();
        ASSERT_EQ(drv.MessageBoxTexts().size(), 1u) << drv.Report();
        const std::string& box = drv.MessageBoxTexts()[0];
        if (c.boxGoesOn)
            EXPECT_EQ(box.substr(0, c.box.size()), c.box) << box;
        else
            EXPECT_EQ(box, c.box);
        std::vector<DISPID> ids;
        for (const PrinterCall& call : co.Calls())
            ids.push_back(call.id);
        EXPECT_EQ(ids, c.calls) << Describe(co.Calls());
    }
}

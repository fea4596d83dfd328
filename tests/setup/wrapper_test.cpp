// The OPOS control wrappers without a Control Object: a class id that is not registered leaves
// the wrapper without a control, every call answers 104 with a readable reason, nothing
// crashes, and the dialog hosting it still comes up. The test prefix has the published class
// ids registered (the test Control Object), so each wrapper here hosts a class id of its own
// that nothing registers, through the same CreateControl call.
#include "DialogDriver.h"
#include "OposControls.h"
#include "Skin.h"
#include "TestDialogs.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {
const UINT kHostedId = 1039;

// {5E0C1D8A-6F1B-4C57-9B8E-2A61D0C4F3B7}: registered nowhere.
const CLSID kUnregistered = {0x5e0c1d8a, 0x6f1b, 0x4c57, {0x9b, 0x8e, 0x2a, 0x61, 0xd0, 0xc4, 0xf3, 0xb7}};

template <class W> class Unregistered : public W
{
public:
    BOOL Create(LPCSTR, LPCSTR windowName, DWORD style, const RECT& rect, CWnd* parent, UINT id) override
    {
        return this->CreateControl(kUnregistered, windowName, style, rect, parent, id);
    }
};

// A dialog that hosts a wrapper at start, by code, as the setup utility's dialogs do.
class CHostDlg : public CSkinDialog
{
public:
    explicit CHostDlg(CWnd& wrapper) : CSkinDialog(IDD_FRAMEWORK_TEST, nullptr, 134, false), m_wrapper(wrapper) {}
    BOOL OnInitDialog() override
    {
        CSkinDialog::OnInitDialog();
        RECT r = {10, 120, 40, 150};
        created = m_wrapper.Create(nullptr, "", WS_CHILD | WS_VISIBLE, r, this, kHostedId);
        return TRUE;
    }
    CWnd& m_wrapper;
    BOOL created = TRUE;
};

std::string ClsidText(REFCLSID c)
{
    WCHAR w[64] = {};
    StringFromGUID2(c, w, 64);
    std::string s;
    for (int i = 0; w[i]; ++i)
        s += char(w[i]);
    return s;
}
}

TEST(ControlWrappers, AnUnregisteredControlLeavesTheDialogUpWithoutAControl)
{
    struct Row
    {
        const char* name;
        std::function<CWnd*()> make;
        CLSID clsid;
    } rows[] = {
        {"POSPrinter", [] { return new Unregistered<COPOSPOSPrinter>; }, kUnregistered},
        {"CashDrawer", [] { return new Unregistered<COPOSCashDrawer>; }, kUnregistered},
        {"LineDisplay", [] { return new Unregistered<COPOSLineDisplay>; }, kUnregistered},
        {"MSR", [] { return new Unregistered<COPOSMSR>; }, kUnregistered},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        std::unique_ptr<CWnd> wrapper(r.make());
        CHostDlg dlg(*wrapper);
        CDialogDriver drv;
        bool up = false;
        HWND hosted = reinterpret_cast<HWND>(1);
        drv.Do([&](HWND h) {
               up = IsWindowVisible(h) != FALSE;
               hosted = GetDlgItem(h, kHostedId);
           })
            .Click(IDOK);
        EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
        EXPECT_TRUE(up);
        EXPECT_FALSE(dlg.created);
        EXPECT_EQ(hosted, nullptr) << "no host window is left behind";
        EXPECT_EQ(wrapper->m_hWnd, nullptr);
        EXPECT_EQ(wrapper->GetControlDispatch(), nullptr);
        std::string why = wrapper->GetControlError().GetString();
        EXPECT_NE(why.find(ClsidText(r.clsid)), std::string::npos) << why;
        EXPECT_NE(why.find("not registered"), std::string::npos) << why;
    }
}

TEST(ControlWrappers, EveryCallWithoutAControlAnswersNoService)
{
    Unregistered<COPOSPOSPrinter> printer;
    Unregistered<COPOSCashDrawer> drawer;
    CHostDlg dlg(printer);
    CDialogDriver drv;
    struct Row
    {
        const char* call;
        std::function<long()> run;
    } rows[] = {
        {"Open", [&] { return printer.Open("LP1"); }},
        {"ClaimDevice", [&] { return printer.ClaimDevice(500); }},
        {"CheckHealth", [&] { return printer.CheckHealth(3); }},
        {"ReleaseDevice", [&] { return printer.ReleaseDevice(); }},
        {"Close", [&] { return printer.Close(); }},
        {"drawer Open", [&] { return drawer.Open("CD1"); }},
        {"drawer ClaimDevice", [&] { return drawer.ClaimDevice(100); }},
        {"drawer CheckHealth", [&] { return drawer.CheckHealth(3); }},
        {"drawer ReleaseDevice", [&] { return drawer.ReleaseDevice(); }},
        {"drawer Close", [&] { return drawer.Close(); }},
    };
    std::vector<long> results;
    BOOL enabled = TRUE;
    std::string printerText, drawerText;
    drv.Do([&](HWND h) {
           RECT r = {0, 0, 10, 10};
           drawer.Create(nullptr, "", WS_CHILD, r, CWnd::FromHandle(h), 1038);
           printer.SetDeviceEnabled(TRUE);
           printer.SetDispatchProperty106(TRUE);
           printer.SetDispatchProperty20(1);
           drawer.SetDeviceEnabled(TRUE);
           enabled = printer.GetDeviceEnabled();
           for (const Row& row : rows)
               results.push_back(row.run());
           printerText = printer.GetErrorText().GetString();
           drawerText = drawer.GetErrorText().GetString();
       })
        .Click(IDCANCEL);
    EXPECT_EQ(drv.Run(dlg), IDCANCEL) << drv.Report();
    ASSERT_EQ(results.size(), sizeof rows / sizeof rows[0]);
    for (size_t i = 0; i < results.size(); ++i)
        EXPECT_EQ(results[i], kOposNoService) << rows[i].call;
    EXPECT_FALSE(enabled);
    EXPECT_NE(printerText.find("not registered"), std::string::npos) << printerText;
    EXPECT_NE(drawerText.find("not registered"), std::string::npos) << drawerText;
    EXPECT_NE(printerText.find(ClsidText(kUnregistered)), std::string::npos) << printerText;
}

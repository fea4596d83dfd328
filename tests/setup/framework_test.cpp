// The window layer on a dialog of the tests' own template, driven through the real modal loop:
// data exchange and its checks, the no-EN_CHANGE rule, combo selection, PreTranslateMessage,
// WM_DRAWITEM reflection, the skinned hit test and exceptions in handlers; a dialog that cannot
// be bound, and the dialog driver's watchdog over nested dialogs.
#include "DialogDriver.h"
#include "FxCtrl.h"
#include "FxDdx.h"
#include "Skin.h"
#include "TestDialogs.h"

#include <gtest/gtest.h>
#include <gtest/gtest-spi.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <vector>

namespace {
class CCountingButton : public CButton
{
public:
    void DrawItem(LPDRAWITEMSTRUCT dis) override
    {
        ++draws;
        lastItemId = dis->CtlID;
    }
    int draws = 0;
    UINT lastItemId = 0;
};

// Rectangular (not cut) so that the caption bar and its buttons stay for the hit test.
class CTestDlg : public CSkinDialog
{
public:
    CTestDlg() : CSkinDialog(IDD_FRAMEWORK_TEST, nullptr, 134, false) {}

    void DoDataExchange(CDataExchange* dx) override
    {
        DDX_Control(dx, IDC_T_COMBO, combo);
        DDX_Control(dx, IDC_T_OWNERDRAW, drawn);
        DDX_Text(dx, IDC_T_TEXT, text);
        DDX_Text(dx, IDC_T_NUMBER, number);
        DDV_MinMaxInt(dx, number, 1, 50);
        DDX_Check(dx, IDC_T_CHECK, check);
        DDX_Radio(dx, IDC_T_RADIO1, radio);
    }
    BOOL OnInitDialog() override
    {
        CSkinDialog::OnInitDialog();
        for (const char* s : {"zero", "one", "two"})
            combo.AddString(s);
        return TRUE;
    }
    BOOL PreTranslateMessage(MSG* msg) override
    {
        if (msg->message == WM_KEYDOWN)
            keys.push_back({msg->hwnd, UINT(msg->wParam)});
        return CSkinDialog::PreTranslateMessage(msg);
    }
    void OnTextChanged() { ++textChanges; }
    void OnThrow() { throw std::runtime_error("handler failed"); }

    CString text = "first";
    int number = 7;
    int check = 1;
    int radio = 1;
    int textChanges = 0;
    CComboBox combo;
    CCountingButton drawn;
    std::vector<std::pair<HWND, UINT>> keys;

protected:
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CTestDlg, CSkinDialog)
    ON_EN_CHANGE(IDC_T_TEXT, OnTextChanged)
    ON_BN_CLICKED(IDC_T_THROW, OnThrow)
END_MESSAGE_MAP()

int CheckOf(HWND dlg, int id) { return int(SendDlgItemMessageA(dlg, id, BM_GETCHECK, 0, 0)); }
}

TEST(DataExchange, LoadsEveryKindIntoTheControls)
{
    CTestDlg dlg;
    CDialogDriver drv;
    drv.Do([&](HWND h) {
           EXPECT_EQ(ControlText(h, IDC_T_TEXT), "first");
           EXPECT_EQ(ControlText(h, IDC_T_NUMBER), "7");
           EXPECT_EQ(CheckOf(h, IDC_T_CHECK), BST_CHECKED);
           EXPECT_EQ(CheckOf(h, IDC_T_RADIO1), BST_UNCHECKED);
           EXPECT_EQ(CheckOf(h, IDC_T_RADIO2), BST_CHECKED);
           EXPECT_EQ(CheckOf(h, IDC_T_RADIO3), BST_UNCHECKED);
       })
        .Click(IDCANCEL);
    EXPECT_EQ(drv.Run(dlg), IDCANCEL) << drv.Report();
    EXPECT_TRUE(drv.Failures().empty()) << drv.Report();
}

TEST(DataExchange, SavesTextNumberCheckAndRadioOnOk)
{
    struct Row
    {
        const char* text;
        const char* number;
        bool check;
        int radioId;
        int wantNumber, wantCheck, wantRadio;
    } rows[] = {
        {"second", "1", false, IDC_T_RADIO1, 1, 0, 0},
        {"", "50", true, IDC_T_RADIO3, 50, 1, 2},
        {"with blanks", " 12 ", false, IDC_T_RADIO2, 12, 0, 1},
        {"neg", "+9", true, IDC_T_RADIO1, 9, 1, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.number);
        CTestDlg dlg;
        CDialogDriver drv;
        drv.SetText(IDC_T_TEXT, r.text).SetText(IDC_T_NUMBER, r.number).Do([&](HWND h) {
            SendDlgItemMessageA(h, IDC_T_CHECK, BM_SETCHECK, r.check ? BST_CHECKED : BST_UNCHECKED, 0);
            CheckRadioButton(h, IDC_T_RADIO1, IDC_T_RADIO3, r.radioId);
        });
        drv.Click(IDOK);
        ASSERT_EQ(drv.Run(dlg), IDOK) << drv.Report();
        EXPECT_TRUE(drv.Failures().empty()) << drv.Report();
        EXPECT_EQ(dlg.text, r.text);
        EXPECT_EQ(dlg.number, r.wantNumber);
        EXPECT_EQ(dlg.check, r.wantCheck);
        EXPECT_EQ(dlg.radio, r.wantRadio);
    }
}

// The windows given the focus on this thread. GetFocus alone says nothing while another
// process's window is active, as happens when test programs run side by side: the dialog then
// gets its activation, and the focus it restores, back later.
std::vector<HWND> g_focusGiven;
LRESULT CALLBACK RecordFocus(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_SETFOCUS && wParam)
        g_focusGiven.push_back(reinterpret_cast<HWND>(wParam));
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST(DataExchange, ABadNumberShowsItsMessageFocusesTheEditAndStopsTheExchange)
{
    struct Hook
    {
        HHOOK h = SetWindowsHookExA(WH_CBT, RecordFocus, nullptr, GetCurrentThreadId());
        ~Hook() { UnhookWindowsHookEx(h); }
    } hook;
    ASSERT_NE(hook.h, nullptr);
    struct Row
    {
        const char* number;
        const char* message;
    } rows[] = {
        {"60", "Enter an integer between 1 and 50."},
        {"0", "Enter an integer between 1 and 50."},
        {"-3", "Enter an integer between 1 and 50."},
        {"abc", kFxNotNumberMessage},
        {"", kFxNotNumberMessage},
        {"99999999999", kFxNotNumberMessage},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.number);
        CTestDlg dlg;
        CDialogDriver drv;
        bool editFocused = false;
        HWND numberEdit = nullptr;
        int checkAfterFailure = -1;
        drv.SetText(IDC_T_NUMBER, r.number)
            .Do([&](HWND h) {
                SendDlgItemMessageA(h, IDC_T_CHECK, BM_SETCHECK, BST_UNCHECKED, 0);
                g_focusGiven.clear();
            })
            .Click(IDOK)
            .AnswerMessageBox(IDOK)
            .Do([&](HWND h) {
                // Once OK was clicked only the failed exchange gives the edit the focus.
                numberEdit = GetDlgItem(h, IDC_T_NUMBER);
                editFocused = std::count(g_focusGiven.begin(), g_focusGiven.end(), numberEdit) > 0;

                checkAfterFailure = dlg.check;
            })
            .SetText(IDC_T_NUMBER, "20")
            .Click(IDOK);
        ASSERT_EQ(drv.Run(dlg), IDOK) << drv.Report();
        ASSERT_EQ(drv.MessageBoxTexts().size(), 1u) << drv.Report();
        EXPECT_EQ(drv.MessageBoxTexts()[0], r.message);
        EXPECT_TRUE(editFocused) << "the number edit was not given the focus";
        // The check box comes after the number: the failed exchange did not reach it.
        EXPECT_EQ(checkAfterFailure, 1);
        EXPECT_EQ(dlg.number, 20);
        EXPECT_EQ(dlg.check, 0);
    }
}

TEST(DataExchange, AnUnchangedTextSendsNoChangeNotification)
{
    CTestDlg dlg;
    CDialogDriver drv;
    int before = -1, afterSame = -1, afterNew = -1;
    drv.Do([&](HWND) {
           before = dlg.textChanges;
           dlg.UpdateData(FALSE);
           afterSame = dlg.textChanges;
           dlg.text = "changed";
           dlg.UpdateData(FALSE);
           afterNew = dlg.textChanges;
       })
        .Click(IDCANCEL);
    EXPECT_EQ(drv.Run(dlg), IDCANCEL) << drv.Report();
    EXPECT_EQ(afterSame, before);
    EXPECT_EQ(afterNew, before + 1);
}

TEST(Controls, AComboIndexThatDoesNotExistClearsTheSelection)
{
    struct Row
    {
        int index;
        int result, selection;
    } rows[] = {{1, 1, 1}, {2, 2, 2}, {3, CB_ERR, -1}, {50, CB_ERR, -1}, {-1, CB_ERR, -1}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.index);
        CTestDlg dlg;
        CDialogDriver drv;
        int result = 99, selection = 99;
        drv.Do([&](HWND) {
               dlg.combo.SetCurSel(0);
               result = dlg.combo.SetCurSel(r.index);
               selection = dlg.combo.GetCurSel();
           })
            .Click(IDCANCEL);
        EXPECT_EQ(drv.Run(dlg), IDCANCEL) << drv.Report();
        EXPECT_EQ(result, r.result);
        EXPECT_EQ(selection, r.selection);
    }
}

TEST(ModalLoop, AKeyPostedToAnyControlReachesPreTranslateMessage)
{
    for (int id : {IDC_T_TEXT, IDC_T_NUMBER, IDC_T_CHECK, IDC_T_COMBO, IDC_T_OWNERDRAW, IDC_T_LIST, IDOK}) {
        SCOPED_TRACE(id);
        CTestDlg dlg;
        CDialogDriver drv;
        HWND target = nullptr;
        drv.Do([&](HWND h) { target = GetDlgItem(h, id); })
            .Key(id, 'Q')
            .WaitUntil([&](HWND) { return !dlg.keys.empty(); }, "the key arrives")
            .Click(IDCANCEL);
        EXPECT_EQ(drv.Run(dlg), IDCANCEL) << drv.Report();
        ASSERT_EQ(dlg.keys.size(), 1u);
        EXPECT_EQ(dlg.keys[0].first, target);
        EXPECT_EQ(dlg.keys[0].second, UINT('Q'));
    }
}

TEST(Reflection, DrawItemOfTheParentReachesTheControlObject)
{
    CTestDlg dlg;
    CDialogDriver drv;
    LRESULT answer = 0;
    int draws = -1;
    drv.Do([&](HWND h) {
           dlg.drawn.draws = 0;
           DRAWITEMSTRUCT dis = {};
           dis.CtlType = ODT_BUTTON;
           dis.CtlID = IDC_T_OWNERDRAW;
           dis.hwndItem = GetDlgItem(h, IDC_T_OWNERDRAW);
           dis.hDC = GetDC(dis.hwndItem);
           answer = SendMessageA(h, WM_DRAWITEM, IDC_T_OWNERDRAW, LPARAM(&dis));
           ReleaseDC(dis.hwndItem, dis.hDC);
           draws = dlg.drawn.draws;
       })
        .Click(IDCANCEL);
    EXPECT_EQ(drv.Run(dlg), IDCANCEL) << drv.Report();
    EXPECT_EQ(draws, 1);
    EXPECT_EQ(dlg.drawn.lastItemId, UINT(IDC_T_OWNERDRAW));
    EXPECT_EQ(answer, TRUE);
}

TEST(HitTest, AClientPointDragsAndCaptionButtonsKeepTheirOwnResult)
{
    CTestDlg dlg;
    CDialogDriver drv;
    struct Probe
    {
        LRESULT system, dialog;
    };
    std::vector<Probe> found;
    bool sawClose = false, sawClient = false;
    drv.Do([&](HWND h) {
           RECT w;
           GetWindowRect(h, &w);
           // Ask the system what each point of the window is, then the dialog.
           for (int y = w.top + 1; y < w.bottom; y += 3)
               for (int x = w.left + 1; x < w.right; x += 3) {
                   LPARAM p = MAKELPARAM(x, y);
                   LRESULT sys = DefWindowProcA(h, WM_NCHITTEST, 0, p);
                   if (sys != HTCLIENT && sys != HTCLOSE && sys != HTCAPTION)
                       continue;
                   if ((sys == HTCLIENT && sawClient) || (sys == HTCLOSE && sawClose))
                       continue;
                   sawClient |= sys == HTCLIENT;
                   sawClose |= sys == HTCLOSE;
                   found.push_back({sys, SendMessageA(h, WM_NCHITTEST, 0, p)});
               }
       })
        .Click(IDCANCEL);
    EXPECT_EQ(drv.Run(dlg), IDCANCEL) << drv.Report();
    ASSERT_TRUE(sawClient);
    ASSERT_TRUE(sawClose);
    for (const Probe& p : found)
        EXPECT_EQ(p.dialog, p.system == HTCLIENT ? LRESULT(HTCAPTION) : p.system) << "system hit " << p.system;
}

TEST(Handlers, AnExceptionInAHandlerDoesNotLeaveTheDialogProcedure)
{
    CTestDlg dlg;
    CDialogDriver drv;
    bool upAfterThrow = false;
    drv.Click(IDC_T_THROW)
        .Click(IDC_T_THROW)
        .Do([&](HWND h) { upAfterThrow = IsWindowVisible(h) != FALSE; })
        .Click(IDOK);
    EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
    EXPECT_TRUE(upAfterThrow);
    EXPECT_TRUE(drv.Failures().empty()) << drv.Report();
}

// ---- the modal loop's own failures, and the driver's watchdog over nested dialogs --------------

namespace {
BOOL CALLBACK CountDialog(HWND h, LPARAM lp)
{
    char cls[32] = {};
    GetClassNameA(h, cls, sizeof cls);
    if (lstrcmpA(cls, "#32770") == 0)
        ++*reinterpret_cast<int*>(lp);
    return TRUE;
}

int ThreadDialogCount()
{
    int n = 0;
    EnumThreadWindows(GetCurrentThreadId(), CountDialog, reinterpret_cast<LPARAM>(&n));
    return n;
}

// Binds every new dialog window to an object of its own before the dialog's object can.
CWnd g_squatter;
LRESULT CALLBACK BindFirst(int code, WPARAM wp, LPARAM lp)
{
    if (code == HCBT_CREATEWND) {
        char cls[32] = {};
        GetClassNameA(HWND(wp), cls, sizeof cls);
        if (lstrcmpA(cls, "#32770") == 0 && !g_squatter.m_hWnd)
            g_squatter.Attach(HWND(wp));
    }
    return CallNextHookEx(nullptr, code, wp, lp);
}
}

TEST(ModalLoop, ADialogThatCannotBeBoundReturnsMinusOneAndLeavesNoWindow)
{
    int before = ThreadDialogCount();
    HHOOK hook = SetWindowsHookExA(WH_CBT, BindFirst, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    CDialog dlg(IDD_FRAMEWORK_TEST);
    INT_PTR r = dlg.DoModal();
    UnhookWindowsHookEx(hook);
    bool bound = g_squatter.m_hWnd != nullptr;
    g_squatter.Detach();
    ASSERT_TRUE(bound) << "the window was not made or not taken first";
    EXPECT_EQ(r, -1);
    EXPECT_EQ(dlg.m_hWnd, nullptr);
    EXPECT_EQ(ThreadDialogCount(), before);
}

namespace {
// A dialog that no button ends; with box set it shows a message box before it is even shown.
class CStuckDlg : public CDialog
{
public:
    CStuckDlg(CWnd* parent, bool box) : CDialog(IDD_FRAMEWORK_TEST, parent), m_box(box) {}
    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        if (m_box)
            ::MessageBoxA(m_hWnd, "Still busy", "Stuck", MB_OK);
        return TRUE;
    }
    void OnOK() override {}
    void OnCancel() override {}

private:
    bool m_box;
};

INT_PTR CALLBACK IgnoreEverything(HWND, UINT msg, WPARAM, LPARAM) { return msg == WM_INITDIALOG || msg == WM_COMMAND; }

enum class Nested { Ours, OursWithABox, SystemDialogBox };

// Throw opens the nested dialog, which nothing the driver scripts can end.
class COuterDlg : public CDialog
{
public:
    explicit COuterDlg(Nested kind) : CDialog(IDD_FRAMEWORK_TEST), m_kind(kind) {}
    void OnOpenNested()
    {
        if (m_kind == Nested::SystemDialogBox) {
            nestedResult = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_FRAMEWORK_TEST), m_hWnd,
                                           IgnoreEverything, 0);
        } else {
            CStuckDlg nested(this, m_kind == Nested::OursWithABox);
            nestedResult = nested.DoModal();
        }
        nestedReturned = true;
    }
    INT_PTR nestedResult = 0;
    bool nestedReturned = false;

protected:
    DECLARE_MESSAGE_MAP()

private:
    Nested m_kind;
};

BEGIN_MESSAGE_MAP(COuterDlg, CDialog)
    ON_BN_CLICKED(IDC_T_THROW, OnOpenNested)
END_MESSAGE_MAP()
}

TEST(DriverWatchdog, EndsEveryDialogOfTheThreadInnermostFirst)
{
    struct Case
    {
        const char* name;
        Nested kind;
        std::vector<std::string> failuresAfterTheWatchdog;
    } cases[] = {
        {"a nested dialog of ours that ignores OK and Cancel", Nested::Ours, {}},
        {"a message box over it", Nested::OursWithABox, {"a message box was open: \"Still busy\""}},
        {"a dialog run by the system's DialogBox", Nested::SystemDialogBox, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int before = ThreadDialogCount();
        COuterDlg dlg(c.kind);
        // The second click never comes: the nested dialog (and its box) are up from the first on,
        // and only the watchdog ends them. Its bound only decides when.
        CDialogDriver drv(5000);
        drv.Click(IDC_T_THROW).Click(IDOK).ExpectFailure("watchdog: step 2 (click 1)");
        for (const std::string& f : c.failuresAfterTheWatchdog)
            drv.ExpectFailure(f);
        EXPECT_EQ(drv.Run(dlg), CDialogDriver::kWatchdogEnd) << drv.Report();
        EXPECT_TRUE(dlg.nestedReturned);
        EXPECT_EQ(dlg.nestedResult, CDialogDriver::kWatchdogEnd);
        ASSERT_FALSE(drv.Failures().empty());
        EXPECT_EQ(drv.Failures()[0].rfind("watchdog: step 2 (click 1)", 0), 0u) << drv.Report();
        EXPECT_EQ(std::vector<std::string>(drv.Failures().begin() + 1, drv.Failures().end()),
                  c.failuresAfterTheWatchdog)
            << drv.Report();
        EXPECT_EQ(ThreadDialogCount(), before);
    }
}

// What the driver cannot do fails the test that ran it, naming the step; a failure the case
// declared is its own, and a declared one that does not happen fails the test too.
TEST(DriverFailure, FailsTheTestThatRanIt)
{
    struct Case
    {
        const char* name;
        std::function<void(HWND)> before;  // done to the dialog before the steps
        std::function<void(CDialogDriver&)> steps;
        const char* message;
    } cases[] = {
        {"a click on a disabled button", [](HWND h) { EnableWindow(GetDlgItem(h, IDC_T_THROW), FALSE); },
         [](CDialogDriver& d) { d.Click(IDC_T_THROW).Click(IDCANCEL); }, "button 910 is disabled"},
        {"a click on a hidden button", [](HWND h) { ShowWindow(GetDlgItem(h, IDC_T_THROW), SW_HIDE); },
         [](CDialogDriver& d) { d.Click(IDC_T_THROW).Click(IDCANCEL); }, "button 910 is hidden"},
        {"a text typed into a disabled edit", [](HWND h) { EnableWindow(GetDlgItem(h, IDC_T_TEXT), FALSE); },
         [](CDialogDriver& d) { d.SetText(IDC_T_TEXT, "x").Click(IDCANCEL); }, "control 901 is disabled"},
        {"a text typed into a hidden edit", [](HWND h) { ShowWindow(GetDlgItem(h, IDC_T_TEXT), SW_HIDE); },
         [](CDialogDriver& d) { d.SetText(IDC_T_TEXT, "x").Click(IDCANCEL); }, "control 901 is hidden"},
        {"a key pressed on a disabled edit", [](HWND h) { EnableWindow(GetDlgItem(h, IDC_T_TEXT), FALSE); },
         [](CDialogDriver& d) { d.Key(IDC_T_TEXT, 'Q').Click(IDCANCEL); }, "control 901 is disabled"},
        {"a selection in a disabled combo", [](HWND h) { EnableWindow(GetDlgItem(h, IDC_T_COMBO), FALSE); },
         [](CDialogDriver& d) { d.Select(IDC_T_COMBO, 0).Click(IDCANCEL); }, "combo 907 is disabled"},
        {"a selection in a hidden list box",
         [](HWND h) {
             SendDlgItemMessageA(h, IDC_T_LIST, LB_ADDSTRING, 0, LPARAM("a"));
             ShowWindow(GetDlgItem(h, IDC_T_LIST), SW_HIDE);
         },
         [](CDialogDriver& d) { d.Select(IDC_T_LIST, 0).Click(IDCANCEL); }, "list box 909 is hidden"},
        {"a selection past the end of a combo", nullptr,
         [](CDialogDriver& d) { d.Select(IDC_T_COMBO, 3).Click(IDCANCEL); }, "item 3 is past the end of 907 (3 items)"},
        {"a text for a missing control", nullptr, [](CDialogDriver& d) { d.SetText(4321, "x").Click(IDCANCEL); },
         "no control 4321"},
        {"a selection in what is no list", nullptr, [](CDialogDriver& d) { d.Select(IDC_T_TEXT, 0).Click(IDCANCEL); },
         "no combo or list box 901"},
        {"steps left when the dialog ends", nullptr,
         [](CDialogDriver& d) { d.Click(IDCANCEL).SetText(IDC_T_TEXT, "late"); },
         "the dialog ended before step 2 (set text of 901 to \"late\")"},
        {"a declared failure that does not happen", nullptr,
         [](CDialogDriver& d) { d.Click(IDCANCEL).ExpectFailure("button 910 is disabled"); },
         "did not fail as the case expects: \"button 910 is disabled...\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CTestDlg dlg;
        CDialogDriver drv;
        if (c.before)
            drv.Do(c.before);
        c.steps(drv);
        EXPECT_NONFATAL_FAILURE(drv.Run(dlg), c.message);
    }
    // Declared, the same refusal passes.
    CTestDlg dlg;
    CDialogDriver drv;
    drv.Do([](HWND h) { EnableWindow(GetDlgItem(h, IDC_T_THROW), FALSE); })
        .Click(IDC_T_THROW)
        .ExpectFailure("button 910 is disabled")
        .Click(IDCANCEL);
    EXPECT_EQ(drv.Run(dlg), IDCANCEL) << drv.Report();
}

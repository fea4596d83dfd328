// Screenshot cases of the connected-printer choice and of the cash drawer dialog, as a person
// sees them on the test display; each kept as <dialog>.png under the build tree.
#include "ConfigCashDlg.h"
#include "CashTestKit.h"
#include "DialogDriver.h"
#include "ScreenCapture.h"
#include "SelectConnectPrinterDlg.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <ole2.h>

namespace {
RECT WindowRect(HWND h)
{
    RECT r = {};
    GetWindowRect(h, &r);
    return r;
}

// Dark pixels: text drawn in a rectangle of the screen.
int Ink(const CScreenImage& shot, const RECT& r)
{
    int n = 0;
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x) {
            COLORREF c = shot.At(x, y);
            n += GetRValue(c) + GetGValue(c) + GetBValue(c) < 200;
        }
    return n;
}

// Captures the dialog into shot (when the driver runs) once control id shows at least minInk
// dark pixels of text.
void ShotOnceDrawn(CDialogDriver& drv, int id, int minInk, CScreenImage& shot, RECT& win, RECT& control)
{
    drv.WaitUntil(
        [&shot, &win, &control, id, minInk](HWND h) {
            RedrawWindow(h, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
            win = WindowRect(h);
            control = WindowRect(GetDlgItem(h, id));
            shot = CScreenImage::Capture();
            return Ink(shot, control) >= minInk;
        },
        "the dialog is drawn");
}
}

TEST(CashScreenshot, ConnectedPrinterChoice)
{
    CTestRegistry reg;
    CInstallFolder folder(reg);
    for (const char* k : {"KPT300", "LQT200", "KPT100_1"})
        WriteReceiptPrinterKey(reg, k);
    CSelectConnectPrinterDlg dlg;
    CDialogDriver drv;
    CScreenImage shot;
    RECT win = {}, list = {};
    ShotOnceDrawn(drv, IDC_PRINTER_LIST, 3 * 40, shot, win, list);  // three names
    drv.Click(IDCANCEL);
    ASSERT_EQ(drv.Run(dlg), IDCANCEL) << drv.Report();
    ASSERT_TRUE(drv.Failures().empty()) << drv.Report();
    CScreenImage d = shot.Crop(win);
    ASSERT_TRUE(d.SavePng(ScreenshotFolder() + "\\CSelectConnectPrinterDlg.png"));
    EXPECT_EQ(d.width, 595);
    EXPECT_EQ(d.height, 337);
    // Three rows of names: the ink spreads over more than two row heights.
    int rows = 0;
    for (int y = list.top; y < list.bottom; ++y) {
        RECT line = {list.left + 2, y, list.right - 20, y + 1};
        rows += Ink(shot, line) > 0;
    }
    EXPECT_GT(rows, 12);
}

TEST(CashScreenshot, CashDrawerDialog)
{
    OleInitialize(nullptr);
    CTestRegistry reg;
    CInstallFolder folder(reg);
    folder.Folder().Write("poscash.inf", kPosCashInf);
    WriteReceiptPrinterKey(reg, "KPT300");
    CConfigCashDlg dlg;
    dlg.m_bAddMode = 1;
    dlg.m_strDeviceName = "KPTCDW";
    dlg.m_strConnectedPrinter = "KPT300";
    CDialogDriver drv;
    RECT win = {}, name = {};
    drv.SetText(IDC_DRAWER_LDN, "Till");
    CScreenImage shot;
    ShotOnceDrawn(drv, IDC_DRAWER_NAME, 20, shot, win, name);
    RECT printer = {}, ok = {};
    drv.Do([&](HWND h) {
           printer = WindowRect(GetDlgItem(h, IDC_CONNECTED_PRINTER));
           ok = WindowRect(GetDlgItem(h, IDOK));
       })
        .Click(IDCANCEL);
    INT_PTR end = drv.Run(dlg);
    OleUninitialize();
    CScreenImage d = shot.Crop(win);
    ASSERT_TRUE(d.SavePng(ScreenshotFolder() + "\\CConfigCashDlg.png"));
    ASSERT_EQ(end, IDCANCEL) << drv.Report();
    ASSERT_TRUE(drv.Failures().empty()) << drv.Report();
    EXPECT_EQ(d.width, 595);
    EXPECT_EQ(d.height, 341);
    EXPECT_GT(Ink(shot, printer), 20) << "the connected printer's name";
    // The buttons lie inside the window, above the footer lines.
    EXPECT_LE(ok.right, win.right);
    EXPECT_LE(ok.bottom, win.bottom - 40);
}

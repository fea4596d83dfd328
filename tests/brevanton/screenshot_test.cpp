// Screenshot cases of the main dialog with a device selected and of Add Device, as a person
// sees them on the test display; each kept as <dialog>.png under the build tree.
#include "BrevantonDlg.h"
#include "BrevantonTestKit.h"
#include "DialogDriver.h"
#include "ScreenCapture.h"
#include "SelectDevice.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <ole2.h>

namespace {
const COLORREF kTitleBand = RGB(38, 54, 110), kButtonFill = RGB(208, 222, 244), kButtonOff = RGB(226, 226, 228);

POINT ClientOrigin(HWND h)
{
    POINT p = {0, 0};
    ClientToScreen(h, &p);
    return p;
}

RECT ChildRect(HWND dlg, int id)
{
    RECT r = {};
    GetWindowRect(GetDlgItem(dlg, id), &r);
    return r;
}

int Count(const CScreenImage& shot, const RECT& r, COLORREF colour)
{
    int n = 0;
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x)
            n += shot.At(x, y) == colour;
    return n;
}
}

TEST(BrevantonScreenshot, MainDialogWithADeviceSelected)
{
    OleInitialize(nullptr);
    CTestRegistry reg;
    CInstallFolder folder(reg);
    WriteDeviceKey(reg, "VL420", kLabelProgId, "Front", "COM3");
    WriteDeviceKey(reg, "VL820", kLabelProgId, "", "Ethernet");

    CBrevantonDlg dlg;
    CDialogDriver drv;
    CScreenImage shot;
    RECT win = {}, remove = {}, modify = {}, tree = {}, summary = {}, exitButton = {};
    POINT origin = {};
    drv.Do([&](HWND h) {
           TreeView_SelectItem(GetDlgItem(h, IDC_DEVICE_TREE), FindTreeItem(GetDlgItem(h, IDC_DEVICE_TREE), "VL420"));
           SetFocus(GetDlgItem(h, IDC_DEVICE_TREE));
       })
        .WaitUntil(
            [&](HWND h) {
                RedrawWindow(h, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
                origin = ClientOrigin(h);
                shot = CScreenImage::Capture();
                // The display may lag behind the drawing: wait until the selection's enabled
                // Remove button is on the screen too.
                RECT r = ChildRect(h, IDC_REMOVE_DEVICE);
                return shot.At(origin.x + 100, origin.y + 10) == kTitleBand &&
                       shot.At(r.left + 4, r.bottom - 6) == kButtonFill;
            },
            "the dialog shows its skin and the selected device")
        .Do([&](HWND h) {
            GetWindowRect(h, &win);
            remove = ChildRect(h, IDC_REMOVE_DEVICE);
            modify = ChildRect(h, IDC_MODIFY_DEVICE);
            tree = ChildRect(h, IDC_DEVICE_TREE);
            summary = ChildRect(h, IDC_DEVICE_SUMMARY);
            exitButton = ChildRect(h, IDC_EXIT);
        })
        .Click(IDC_EXIT);
    ASSERT_EQ(drv.Run(dlg), IDOK) << drv.Report();
    ASSERT_TRUE(drv.Failures().empty()) << drv.Report();
    OleUninitialize();

    CScreenImage d = shot.Crop(win);
    ASSERT_TRUE(d.SavePng(ScreenshotFolder() + "\\CBrevantonDlg.png"));
    EXPECT_EQ(d.width, 600);
    EXPECT_EQ(d.height, 368);

    // The buttons' column fits in the panel, above the footer band.
    EXPECT_LE(exitButton.right, win.right - 10);
    EXPECT_LE(exitButton.bottom, origin.y + 344 - 44);
    EXPECT_GE(remove.left, summary.right);
    // With a device selected Remove and Modify show their normal state, not the disabled one.
    for (RECT b : {remove, modify}) {
        EXPECT_EQ(shot.At(b.left + 4, b.bottom - 6), kButtonFill);
        EXPECT_EQ(Count(shot, b, kButtonOff), 0);
    }
    // The selected item is marked in the tree, and the summary's text is drawn over the skin.
    const COLORREF selection = GetSysColor(COLOR_HIGHLIGHT), unfocused = GetSysColor(COLOR_BTNFACE);
    EXPECT_GT(Count(shot, tree, selection) + Count(shot, tree, unfocused), 30);
    int ink = 0;
    for (int y = summary.top; y < summary.bottom; ++y)
        for (int x = summary.left; x < summary.right; ++x) {
            COLORREF c = shot.At(x, y);
            ink += GetRValue(c) + GetGValue(c) + GetBValue(c) < 300;
        }
    EXPECT_GT(ink, 50) << "the summary text";
    // The footer lines, right-aligned in the bottom band of the client area.
    RECT band = {origin.x + 300, origin.y + 344 - 40, origin.x + 590, origin.y + 344 - 5};
    int footer = 0;
    for (int y = band.top; y < band.bottom; ++y)
        for (int x = band.left; x < band.right; ++x) {
            COLORREF c = shot.At(x, y);
            footer += GetRValue(c) + GetGValue(c) + GetBValue(c) < 450;
        }
    EXPECT_GT(footer, 40);
}

TEST(BrevantonScreenshot, AddDevice)
{
    CTestRegistry reg;
    CInstallFolder folder(reg);
    CSelectDevice dlg;
    dlg.m_bLabelSupport = TRUE;
    CDialogDriver drv;
    CScreenImage shot;
    RECT win = {}, list = {};
    int rowHeight = 0;
    drv.Select(IDC_MODEL_LIST, 1)
        .Do([&](HWND h) { SetFocus(GetDlgItem(h, IDC_MODEL_LIST)); })
        .WaitUntil(
            [&](HWND h) {
                RedrawWindow(h, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
                GetWindowRect(h, &win);
                list = ChildRect(h, IDC_MODEL_LIST);
                rowHeight = int(SendDlgItemMessageA(h, IDC_MODEL_LIST, LB_GETITEMHEIGHT, 0, 0));
                shot = CScreenImage::Capture();
                return Count(shot, list, GetSysColor(COLOR_HIGHLIGHT)) > 30;
            },
            "the selected model is shown")
        .Click(IDCANCEL);
    ASSERT_EQ(drv.Run(dlg), IDCANCEL) << drv.Report();
    ASSERT_TRUE(drv.Failures().empty()) << drv.Report();

    CScreenImage d = shot.Crop(win);
    ASSERT_TRUE(d.SavePng(ScreenshotFolder() + "\\CSelectDevice.png"));
    EXPECT_EQ(d.width, win.right - win.left);
    EXPECT_GT(d.width, 200);
    // The selection is on the second row (VL820), not the first.
    RECT first = {list.left + 2, list.top + 2, list.right - 20, list.top + rowHeight - 1};
    EXPECT_EQ(Count(shot, first, GetSysColor(COLOR_HIGHLIGHT)), 0);
}

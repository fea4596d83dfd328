// Screenshot cases: each dialog as a person sees it on the test display (Xvfb, Wine's x11
// driver), kept as <dialog>.png under the build tree, with the first things a person notices
// checked: the dialog is on screen at its size, the key-colour areas are cut away, and the
// footer lines are in their band.
#include "DialogDriver.h"
#include "PortRangeDlg.h"
#include "ScreenCapture.h"
#include "TestEnv.h"
#include "resource.h"

#include <gtest/gtest.h>

namespace {
const COLORREF kTitleBand = RGB(38, 54, 110), kFrame = RGB(27, 20, 100), kFooterBand = RGB(246, 246, 250);

// The screen as shown once the dialog has painted: its title band shows the skin's colour.
bool Painted(HWND dlg, CScreenImage& shot)
{
    RedrawWindow(dlg, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    RECT r;
    GetWindowRect(dlg, &r);
    shot = CScreenImage::Capture();
    return shot.At(r.left + 100, r.top + 10) == kTitleBand;
}
}

TEST(Screenshot, PortRangeDialog)
{
    CTestRegistry reg;
    CTempFolder folder;
    reg.WriteServiceInfo(folder.Path());
    folder.Write("setup.inf", "[Description]\r\nCOMRange=12\r\nLPTRange=3\r\n");

    CPortRangeDlg dlg;
    CDialogDriver drv;
    CScreenImage shot;
    RECT win = {};
    drv.WaitUntil([&](HWND h) { return Painted(h, shot); }, "the dialog shows its skin")
        .Do([&](HWND h) { GetWindowRect(h, &win); })
        .Click(IDCANCEL);
    ASSERT_EQ(drv.Run(dlg), IDCANCEL) << drv.Report();
    ASSERT_TRUE(drv.Failures().empty()) << drv.Report();

    CScreenImage d = shot.Crop(win);
    ASSERT_TRUE(d.SavePng(ScreenshotFolder() + "\\CPortRangeDlg.png"));
    ASSERT_EQ(d.width, 595);
    ASSERT_EQ(d.height, 341);
    const int w = d.width, h = d.height;
    const COLORREF root = shot.At(0, 0);  // the bare screen behind every window

    // On screen at its size: its skin up to its right and bottom edges.
    EXPECT_EQ(d.At(100, 10), kTitleBand);
    EXPECT_EQ(d.At(w - 1, h / 2), kFrame);
    EXPECT_EQ(d.At(w / 2, h - 1), kFrame);

    // Cut away: the corners show the screen behind, and no key colour is left anywhere.
    for (POINT p : {POINT{0, 0}, POINT{w - 1, 0}, POINT{0, h - 1}, POINT{w - 1, h - 1}})
        EXPECT_EQ(d.At(p.x, p.y), root) << "corner " << p.x << "," << p.y;
    int green = 0;
    for (uint32_t v : d.pixels)
        green += v == 0x00FF00;
    EXPECT_EQ(green, 0);

    // The footer lines: ink in their band (the last 40 rows, from 10 pixels in), none just above it.
    auto ink = [&](int y0, int y1) {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = 12; x < w / 2; ++x) {
                COLORREF c = d.At(x, y);
                n += GetRValue(c) + GetGValue(c) + GetBValue(c) < 450 && c != kFrame;
            }
        return n;
    };
    EXPECT_GT(ink(h - 40, h - 20), 20) << "first footer line";
    EXPECT_GT(ink(h - 20, h - 1), 20) << "second footer line";
    EXPECT_EQ(ink(h - 44, h - 40), 0) << "nothing above the band";
}

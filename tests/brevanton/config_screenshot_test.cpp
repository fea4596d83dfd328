// Screenshot cases of the printer configuration dialog and of its receipt and label advanced
// dialogs, as a person sees them on the test display; each kept as <dialog>.png.
#include "BrevantonTestKit.h"
#include "ConfigPrinterAdvDlg.h"
#include "ConfigPrinterDlg.h"
#include "DialogDriver.h"
#include "LabelAdvancedDlg.h"
#include "ScreenCapture.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <ole2.h>

#include <functional>

namespace {
const COLORREF kSkinTitleBand = RGB(38, 54, 110);
// {5E0C1D8A-6F1B-4C57-9B8E-2A61D0C4F3B8}: registered nowhere.
const CLSID kNoControl = {0x5e0c1d8a, 0x6f1b, 0x4c57, {0x9b, 0x8e, 0x2a, 0x61, 0xd0, 0xc4, 0xf3, 0xb8}};

class CShotConfigDlg : public CConfigPrinterDlg
{
protected:
    BOOL CreatePrinterControl(const RECT& rect) override
    {
        return m_ctlPOSPrinter.CreateControl(kNoControl, "", WS_CHILD, rect, this, IDC_POSPRINTER_CONTROL);
    }
};

// Runs dlg until its skin is on screen, keeps the picture as name.png and checks what every
// skinned dialog shows: its size, the key colour cut away, the corners showing the screen behind,
// and the controls inside the window. Returns the cropped picture.
CScreenImage Shoot(CDialog& dlg, const char* name, int width, int height, const std::vector<int>& controls)
{
    CDialogDriver drv;
    CScreenImage shot;
    RECT win = {};
    std::vector<RECT> rects;
    drv.WaitUntil(
           [&](HWND h) {
               RedrawWindow(h, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
               GetWindowRect(h, &win);
               shot = CScreenImage::Capture();
               return shot.At(win.left + 100, win.top + 10) == kSkinTitleBand;
           },
           "the dialog shows its skin")
        .Do([&](HWND h) {
            for (int id : controls) {
                RECT r = {};
                GetWindowRect(GetDlgItem(h, id), &r);
                rects.push_back(r);
            }
        })
        .Click(IDCANCEL);
    EXPECT_EQ(drv.Run(dlg), IDCANCEL) << drv.Report();
    EXPECT_TRUE(drv.Failures().empty()) << drv.Report();
    CScreenImage d = shot.Crop(win);
    EXPECT_TRUE(d.SavePng(ScreenshotFolder() + "\\" + name + ".png"));
    EXPECT_EQ(d.width, width);
    EXPECT_EQ(d.height, height);
    const COLORREF root = shot.At(0, 0);
    for (POINT p : {POINT{0, 0}, POINT{d.width - 1, 0}})
        EXPECT_EQ(d.At(p.x, p.y), root) << name << " corner " << p.x << "," << p.y;
    int green = 0;
    for (uint32_t v : d.pixels)
        green += v == 0x00FF00;
    EXPECT_EQ(green, 0) << name;
    for (size_t i = 0; i < rects.size(); ++i) {
        EXPECT_GE(rects[i].left, win.left + 4) << name << " control " << controls[i];
        EXPECT_LE(rects[i].right, win.right - 4) << name << " control " << controls[i];
        EXPECT_LE(rects[i].bottom, win.top + 341 - 40) << name << " control " << controls[i] << " above the footer";
    }
    return d;
}

int Ink(const CScreenImage& d, int y0, int y1)
{
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = 12; x < d.width / 2; ++x) {
            COLORREF c = d.At(x, y);
            n += GetRValue(c) + GetGValue(c) + GetBValue(c) < 450 && c != RGB(27, 20, 100);
        }
    return n;
}
}

TEST(BrevantonScreenshot, PrinterConfigurationOnASerialPort)
{
    CUiThread ui;
    CTestRegistry reg;
    CInstallFolder folder(reg);
    CopyShippedInf(folder.Folder(), "VL420.inf");
    WriteDeviceKey(reg, "VL420", kLabelProgId, "Front", "COM3", "VL420");
    reg.SetDWORD((std::string(kPrinterClassKey) + "\\VL420").c_str(), "Porttype_N", 0x1B);
    CShotConfigDlg dlg;
    dlg.m_strKeyName = "VL420";
    dlg.m_nClassCode = 32;
    CScreenImage d = Shoot(dlg, "CConfigPrinterDlg", 595, 341,
                           {IDC_CFG_PORT, IDC_CFG_OUTBUF, IDOK, IDCANCEL, IDC_CFG_HEALTH, IDC_CFG_ADVANCED});
    EXPECT_GT(Ink(d, d.height - 40, d.height - 20), 20) << "first footer line";
    EXPECT_GT(Ink(d, d.height - 20, d.height - 1), 20) << "second footer line";
}

TEST(BrevantonScreenshot, ReceiptAdvancedSettings)
{
    CConfigPrinterAdvDlg dlg;
    dlg.m_strDeviceName = "TR80";
    dlg.m_strCharacterSetList = "437,874(Thai),1252";
    dlg.m_strCharacterSet = "874";
    dlg.m_strRecLineCharsList = "48,42,56";
    dlg.m_strDefaultFont = "B";
    dlg.m_nCapGrayscale = 1;
    dlg.m_nThreshold = 127;
    CScreenImage d = Shoot(dlg, "CConfigPrinterAdvDlg", 595, 341,
                           {IDC_RADV_CHARSET, IDC_RADV_SPACE, IDC_RADV_FEEDCUT, IDOK, IDCANCEL});
    EXPECT_GT(Ink(d, d.height - 40, d.height - 20), 20) << "first footer line";
}

TEST(BrevantonScreenshot, LabelAdvancedSettings)
{
    CTempFolder folder;
    ASSERT_TRUE(CopyShippedInf(folder, "VL820.inf"));
    CLabelAdvancedDlg dlg;
    dlg.m_strModelName = "VL820";
    dlg.m_strInfFolder = folder.Path().c_str();
    dlg.m_strPrintType = "T";
    dlg.m_strPaperType = "A";
    dlg.m_strOperationMode = "R";
    dlg.m_strOrientation = "B";
    dlg.m_nPrintSpeed = 5;
    dlg.m_nDensity = 14;
    dlg.m_nHRISize = 1;
    dlg.m_nCutterPeriod = 1;
    dlg.m_nOffsetPosition = 105;
    Shoot(dlg, "CLabelAdvancedDlg", 595, 360,
          {IDC_LADV_PRINTTYPE, IDC_LADV_TOP, IDC_LADV_OFFSET, IDC_LADV_RTL, IDOK, IDCANCEL, IDC_LADV_DEFAULT});
}

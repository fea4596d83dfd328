// The receipt and label advanced dialogs driven on their own: what a model offers, the codes and
// offsets they show and give back, Default, enabling, and Save and Cancel.
#include "BrevantonTestKit.h"
#include "ConfigPrinterAdvDlg.h"
#include "DialogDriver.h"
#include "LabelAdvancedDlg.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

namespace {
std::string SelText(HWND dlg, int id) { return ComboSelText(dlg, id); }
// The items joined by "|".
std::string Items(HWND dlg, int id)
{
    std::string out;
    for (const std::string& item : ComboItems(dlg, id))
        out += (out.empty() ? "" : "|") + item;
    return out;
}
bool Enabled(HWND dlg, int id) { return IsWindowEnabled(GetDlgItem(dlg, id)) != FALSE; }

class AdvancedDialogs : public testing::Test
{
protected:
    void SetUp() override
    {
        INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES};
        InitCommonControlsEx(&icc);
        for (const char* inf : {"VL420.inf", "VL820.inf"})
            ASSERT_TRUE(CopyShippedInf(folder, inf)) << inf;
        // A model with no [LABEL] section.
        folder.Write("VL100.inf", "[POSPRINTER]\r\nCapRecPapercut=0\r\n");
    }
    // A label dialog on a model with the settings of a stored device.
    void Label(CLabelAdvancedDlg& dlg, const char* model)
    {
        dlg.m_strModelName = model;
        dlg.m_strInfFolder = folder.Path().c_str();
        dlg.m_strPrintType = "D";
        dlg.m_strPaperType = "G";
        dlg.m_strOperationMode = "T";
        dlg.m_strOrientation = "B";
        dlg.m_nPrintSpeed = 3;
        dlg.m_nDensity = 10;
        dlg.m_nHRISize = 1;
        dlg.m_nCutterPeriod = 1;
    }
    CTempFolder folder;
};
}

// ---- Label advanced settings --------------------------------------------------------------------

TEST_F(AdvancedDialogs, LabelOffersWhatTheModelCanDo)
{
    struct Row
    {
        const char* model;
        std::string printModes, media, operation, speedRange, densityRange;
    };
    const Row rows[] = {
        {"VL420", "Direct thermal", "Gap|Black mark|Continuous", "Tear Off|Cutter", "(1 - 6)", "(1 - 20)"},
        {"VL820", "Direct thermal|Thermal transfer", "Gap|Black mark|Continuous|Smart Calibration",
         "Tear Off|Rewinder", "(2 - 8)", "(1 - 30)"},
        {"VL100", "Direct thermal", "Gap|Black mark|Continuous", "Tear Off", "(0 - 6)", "(1 - 20)"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.model);
        CLabelAdvancedDlg dlg;
        Label(dlg, r.model);
        CDialogDriver drv(30000);
        drv.Do([&](HWND h) {
               EXPECT_EQ(Items(h, IDC_LADV_PRINTTYPE), r.printModes);
               EXPECT_EQ(Items(h, IDC_LADV_PAPERTYPE), r.media);
               EXPECT_EQ(Items(h, IDC_LADV_OPMODE), r.operation);
               EXPECT_EQ(Items(h, IDC_LADV_ORIENTATION), "Top to Bottom|Bottom to Top");
               EXPECT_EQ(ControlText(h, IDC_LADV_SPEED_RANGE), r.speedRange);
               EXPECT_EQ(ControlText(h, IDC_LADV_DENSITY_RANGE), r.densityRange);
           })
            .Click(IDCANCEL);
        EXPECT_EQ(drv.Run(dlg), IDCANCEL) << drv.Report();
    }
}

TEST_F(AdvancedDialogs, LabelShowsStoredCodesAndOffsetsAndGivesThemBack)
{
    struct Row
    {
        const char* what;
        const char* model;
        std::string printType, paperType, operationMode;
        int offset, tearOff;
        std::string shownPrint, shownPaper, shownMode, shownOffset, shownTearOff;
        bool lengthEnabled, cutterEnabled;
        // After Save.
        std::string savedPrint, savedPaper, savedMode;
        int savedOffset, savedTearOff;
    };
    const Row rows[] = {
        {"\"A\" is smart calibration where the model senses media", "VL820", "T", "A", "R", 105, 100,
         "Thermal transfer", "Smart Calibration", "Rewinder", "-5", "100", false, false, "T", "A", "R", -5, 100},
        {"codes the model lacks show nothing and keep what came in", "VL420", "T", "A", "R", 0, 150, "<none>",
         "<none>", "<none>", "0", "-50", true, false, "T", "A", "R", 0, -50},
        {"cutter enables the cutting period", "VL420", "D", "B", "C", 101, 0, "Direct thermal", "Black mark",
         "Cutter", "-1", "0", true, true, "D", "B", "C", -1, 0},
        {"a code is matched whole", "VL820", "Tx", "Gx", "Rx", 0, 0, "<none>", "<none>", "<none>", "0", "0", true,
         false, "Tx", "Gx", "Rx", 0, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        CLabelAdvancedDlg dlg;
        Label(dlg, r.model);
        dlg.m_strPrintType = r.printType.c_str();
        dlg.m_strPaperType = r.paperType.c_str();
        dlg.m_strOperationMode = r.operationMode.c_str();
        dlg.m_nOffsetPosition = r.offset;
        dlg.m_nTearOffPosition = r.tearOff;
        CDialogDriver drv(30000);
        drv.Do([&](HWND h) {
               EXPECT_EQ(SelText(h, IDC_LADV_PRINTTYPE), r.shownPrint);
               EXPECT_EQ(SelText(h, IDC_LADV_PAPERTYPE), r.shownPaper);
               EXPECT_EQ(SelText(h, IDC_LADV_OPMODE), r.shownMode);
               EXPECT_EQ(SelText(h, IDC_LADV_ORIENTATION), "Bottom to Top");
               EXPECT_EQ(ControlText(h, IDC_LADV_OFFSET), r.shownOffset);
               EXPECT_EQ(ControlText(h, IDC_LADV_TEAROFF), r.shownTearOff);
               EXPECT_EQ(Enabled(h, IDC_LADV_LENGTH), r.lengthEnabled);
               EXPECT_EQ(Enabled(h, IDC_LADV_CUTTER), r.cutterEnabled);
               EXPECT_TRUE(Enabled(h, IDC_LADV_TEAROFF));
           })
            .Click(IDOK);
        EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
        EXPECT_STREQ(dlg.m_strPrintType, r.savedPrint.c_str());
        EXPECT_STREQ(dlg.m_strPaperType, r.savedPaper.c_str());
        EXPECT_STREQ(dlg.m_strOperationMode, r.savedMode.c_str());
        EXPECT_STREQ(dlg.m_strOrientation, "B");
        EXPECT_EQ(dlg.m_nOffsetPosition, r.savedOffset);
        EXPECT_EQ(dlg.m_nTearOffPosition, r.savedTearOff);
    }
}

TEST_F(AdvancedDialogs, LabelEnablingFollowsMediaTypeAndOperationMode)
{
    CLabelAdvancedDlg dlg;
    Label(dlg, "VL820");
    CDialogDriver drv(30000);
    drv.Select(IDC_LADV_PAPERTYPE, 3)  // Smart Calibration
        .Do([&](HWND h) { EXPECT_FALSE(Enabled(h, IDC_LADV_LENGTH)); })
        .Select(IDC_LADV_PAPERTYPE, 2)  // Continuous
        .Do([&](HWND h) { EXPECT_TRUE(Enabled(h, IDC_LADV_LENGTH)); })
        .Select(IDC_LADV_OPMODE, 1)  // Rewinder
        .Do([&](HWND h) { EXPECT_FALSE(Enabled(h, IDC_LADV_CUTTER)); })
        .Select(IDC_LADV_PRINTTYPE, 1)
        .Select(IDC_LADV_PAPERTYPE, 3)
        .Click(IDOK);
    EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
    EXPECT_STREQ(dlg.m_strPaperType, "A");
    EXPECT_STREQ(dlg.m_strOperationMode, "R");
    EXPECT_STREQ(dlg.m_strPrintType, "T");
}

TEST_F(AdvancedDialogs, LabelDefaultReadsTheModelsLabelSection)
{
    struct Row
    {
        const char* model;
        std::string print, paper, mode, orientation;
        int speed, density, hri, cutter, width;
        const char* paperCode;
    };
    const Row rows[] = {
        {"VL820", "Thermal transfer", "Smart Calibration", "Rewinder", "Bottom to Top", 5, 14, 2, 1, 1218, "A"},
        {"VL420", "Direct thermal", "Gap", "Cutter", "Bottom to Top", 4, 10, 1, 1, 812, "G"},
        // No [LABEL]: the defaults, and gap media for a model that senses none.
        {"VL100", "Direct thermal", "Gap", "Tear Off", "Bottom to Top", 3, 14, 1, 1, 0, "G"},
        // Media sensing without a PaperType: smart calibration.
        {"VL150", "Direct thermal", "Smart Calibration", "Tear Off", "Bottom to Top", 3, 14, 1, 1, 0, "A"},
    };
    folder.Write("VL150.inf", "[LABEL]\r\nCapMediaSensing=1\r\n");
    for (const Row& r : rows) {
        SCOPED_TRACE(r.model);
        CLabelAdvancedDlg dlg;
        Label(dlg, r.model);
        dlg.m_strOrientation = "T";
        dlg.m_nPaperWidth = 77;
        CDialogDriver drv(30000);
        drv.Click(IDC_LADV_DEFAULT)
            .Do([&](HWND h) {
                EXPECT_EQ(SelText(h, IDC_LADV_PRINTTYPE), r.print);
                EXPECT_EQ(SelText(h, IDC_LADV_PAPERTYPE), r.paper);
                EXPECT_EQ(SelText(h, IDC_LADV_OPMODE), r.mode);
                EXPECT_EQ(SelText(h, IDC_LADV_ORIENTATION), r.orientation);
                EXPECT_EQ(ControlText(h, IDC_LADV_SPEED), std::to_string(r.speed));
                EXPECT_EQ(ControlText(h, IDC_LADV_DENSITY), std::to_string(r.density));
                EXPECT_EQ(ControlText(h, IDC_LADV_HRI), std::to_string(r.hri));
                EXPECT_EQ(ControlText(h, IDC_LADV_CUTTER), std::to_string(r.cutter));
                EXPECT_EQ(ControlText(h, IDC_LADV_WIDTH), std::to_string(r.width));
            })
            .Click(IDOK);
        EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
        EXPECT_EQ(dlg.m_nPaperWidth, r.width);
        EXPECT_STREQ(dlg.m_strPaperType, r.paperCode);
    }
}

TEST_F(AdvancedDialogs, LabelNumbersOutOfRangeKeepTheDialogOpenAndCancelEndsIt)
{
    struct Row
    {
        int id;
        const char* text;
        std::string box;
    };
    // VL420: speed 1 to 6, density up to 20, a cutter.
    const Row rows[] = {
        {IDC_LADV_OFFSET, "-101", "Enter an integer between -100 and 100."},
        {IDC_LADV_SPEED, "7", "Print Speed: enter a number from 1 to 6."},
        {IDC_LADV_SPEED, "-3", "Print Speed: enter a number from 1 to 6."},
        {IDC_LADV_DENSITY, "21", "Density: enter a number from 1 to 20."},
        {IDC_LADV_HRI, "0", "HRI Size: enter a number from 1 to 4."},
        {IDC_LADV_CUTTER, "11", "Cutting Period: enter a number from 1 to 10."},
        {IDC_LADV_WIDTH, "-8", "Paper Width: enter a number from 0 to 9999."},
        {IDC_LADV_LENGTH, "10000", "Paper Length: enter a number from 0 to 9999."},
        {IDC_LADV_LEFT, "-1", "Left Margin: enter a number from 0 to 9999."},
        {IDC_LADV_TOP, "-1", "Top Margin: enter a number from 0 to 9999."},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.id) + " " + r.text);
        CLabelAdvancedDlg dlg;
        Label(dlg, "VL420");
        dlg.m_strOperationMode = "C";  // the cutting period is enabled
        CDialogDriver drv(30000);
        drv.SetText(r.id, r.text).Click(IDOK).AnswerMessageBox(IDOK).Click(IDCANCEL);
        EXPECT_EQ(drv.Run(dlg), IDCANCEL) << drv.Report();
        EXPECT_EQ(drv.MessageBoxTexts(), std::vector<std::string>{r.box}) << drv.Report();
    }
}

TEST_F(AdvancedDialogs, LabelDamagedStoredNumbersOpenAsTheirDefaults)
{
    CLabelAdvancedDlg dlg;
    Label(dlg, "VL420");
    dlg.m_nPrintSpeed = 9;
    dlg.m_nDensity = -4;
    dlg.m_nHRISize = 7;
    dlg.m_nCutterPeriod = 0;
    dlg.m_nPaperWidth = -1;
    dlg.m_nTopMargin = 12;
    CDialogDriver drv(30000);
    drv.Do([](HWND h) {
           EXPECT_EQ(ControlText(h, IDC_LADV_SPEED), "3");
           EXPECT_EQ(ControlText(h, IDC_LADV_DENSITY), "14");
           EXPECT_EQ(ControlText(h, IDC_LADV_HRI), "1");
           EXPECT_EQ(ControlText(h, IDC_LADV_CUTTER), "1");
           EXPECT_EQ(ControlText(h, IDC_LADV_WIDTH), "0");
           EXPECT_EQ(ControlText(h, IDC_LADV_TOP), "12");
       })
        .Click(IDOK);
    EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
    EXPECT_EQ(dlg.m_nPrintSpeed, 3);
    EXPECT_EQ(dlg.m_nDensity, 14);
}

// ---- Receipt advanced settings ------------------------------------------------------------------

namespace {
void Receipt(CConfigPrinterAdvDlg& dlg)
{
    dlg.m_strDeviceName = "TR80";
    dlg.m_strCharacterSetList = "437,874(Thai),Thai11,1252";
    dlg.m_strCharacterSet = "1252";
    dlg.m_strRecLineCharsList = "42,56";
    dlg.m_strDefaultFont = "A";
    dlg.m_nThreshold = 127;
    dlg.m_nSplitCount = 0;
}
}

TEST_F(AdvancedDialogs, ReceiptCharacterSetsFontsAndThaiCombination)
{
    struct Row
    {
        const char* what;
        std::string storedSet, storedFont;
        int fontC;
        int selectSet, selectFont;  // -1: leave
        std::string shownSet, shownFont, fonts;
        bool thai;
        std::string savedSet, savedFont;
        int savedFontC;
    };
    const Row rows[] = {
        {"a Thai item enables the combination; its code is the text before \"(\"", "874", "B", 1, -1, -1, "874(Thai)",
         "C", "A|B|C", true, "874", "B", 1},
        {"an item that starts with Thai does not", "Thai11", "A", 0, -1, 1, "Thai11", "A", "A|B|C", false, "Thai11",
         "B", 0},
        {"an unknown set selects the first item and saves its code", "999", "B", 0, -1, 2, "437", "B", "A|B|C", false,
         "437", "B", 1},
        {"choosing A clears the font C flag", "1252", "B", 1, 1, 0, "1252", "C", "A|B|C", false, "874", "A", 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        CConfigPrinterAdvDlg dlg;
        Receipt(dlg);
        dlg.m_strCharacterSet = r.storedSet.c_str();
        dlg.m_strDefaultFont = r.storedFont.c_str();
        dlg.m_nUsingFontC = r.fontC;
        CDialogDriver drv(30000);
        drv.Do([&](HWND h) {
            EXPECT_EQ(SelText(h, IDC_RADV_CHARSET), r.shownSet);
            EXPECT_EQ(SelText(h, IDC_RADV_FONT), r.shownFont);
            EXPECT_EQ(Items(h, IDC_RADV_FONT), r.fonts);
            EXPECT_EQ(Enabled(h, IDC_RADV_THAI), r.thai);
            EXPECT_EQ(Items(h, IDC_RADV_THAI), "Disable|Enable");
            EXPECT_EQ(ControlText(h, IDC_CFG_KEYNAME), "TR80");
        });
        if (r.selectSet >= 0)
            drv.Select(IDC_RADV_CHARSET, r.selectSet).Do([&](HWND h) {
                EXPECT_TRUE(Enabled(h, IDC_RADV_THAI)) << "874(Thai) chosen";
            });
        if (r.selectFont >= 0)
            drv.Select(IDC_RADV_FONT, r.selectFont);
        drv.Click(IDOK);
        EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
        EXPECT_STREQ(dlg.m_strCharacterSet, r.savedSet.c_str());
        EXPECT_STREQ(dlg.m_strDefaultFont, r.savedFont.c_str());
        EXPECT_EQ(dlg.m_nUsingFontC, r.savedFontC);
    }
}

TEST_F(AdvancedDialogs, ReceiptGrayscaleOnlyForGrayscaleModels)
{
    struct Row
    {
        const char* what;
        int model, cap, grayscale, dithering, rle, split;
        int select;  // -1: leave
        std::string items, shown;
        int savedGray, savedDither, savedRle, savedSplit;
    };
    const Row rows[] = {
        {"grayscale chosen: RLE and split count where they were 0", 1030, 0, 0, 0, 0, 0, 2,
         "None|Mono Dithering|Grayscale", "None", 1, 0, 1, 246},
        {"grayscale chosen: RLE and split count kept", 0, 1, 0, 1, 2, 100, 2, "None|Mono Dithering|Grayscale",
         "Mono Dithering", 1, 0, 2, 100},
        {"mono dithering", 0, 1, 1, 0, 1, 246, 1, "None|Mono Dithering|Grayscale", "Grayscale", 0, 1, 1, 246},
        {"no grayscale offered: a stored one shows nothing and is kept", 0, 0, 1, 1, 0, 0, -1, "None|Mono Dithering",
         "<none>", 1, 1, 0, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        CConfigPrinterAdvDlg dlg;
        Receipt(dlg);
        dlg.m_nModel = r.model;
        dlg.m_nCapGrayscale = r.cap;
        dlg.m_nGrayscale = r.grayscale;
        dlg.m_nDithering = r.dithering;
        dlg.m_nRLE = r.rle;
        dlg.m_nSplitCount = r.split;
        CDialogDriver drv(30000);
        drv.Do([&](HWND h) {
            EXPECT_EQ(Items(h, IDC_RADV_IMAGE), r.items);
            EXPECT_EQ(SelText(h, IDC_RADV_IMAGE), r.shown);
        });
        if (r.select >= 0)
            drv.Select(IDC_RADV_IMAGE, r.select);
        drv.Click(IDOK);
        EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
        EXPECT_EQ(dlg.m_nGrayscale, r.savedGray);
        EXPECT_EQ(dlg.m_nDithering, r.savedDither);
        EXPECT_EQ(dlg.m_nRLE, r.savedRle);
        EXPECT_EQ(dlg.m_nSplitCount, r.savedSplit);
    }
}

TEST_F(AdvancedDialogs, ReceiptNumbersOutOfRangeAndCancel)
{
    struct Row
    {
        int id;
        const char* text;
        std::string box;  // empty: accepted
    };
    const Row rows[] = {{IDC_RADV_FEEDCUT, "9", ""},
                        {IDC_RADV_FEEDCUT, "0", ""},
                        {IDC_RADV_FEEDCUT, "10", "Enter an integer between 0 and 9."},
                        {IDC_RADV_FEEDCUT, "x", "Please enter a whole number."},
                        {IDC_RADV_BRIGHTNESS, "100", ""},
                        {IDC_RADV_BRIGHTNESS, "101", "Brightness: enter a number from 0 to 100."},
                        {IDC_RADV_BRIGHTNESS, "-5", "Brightness: enter a number from 0 to 100."},
                        {IDC_RADV_THRESHOLD, "255", ""},
                        {IDC_RADV_THRESHOLD, "256", "Threshold: enter a number from 0 to 255."},
                        {IDC_RADV_THRESHOLD, "-1", "Threshold: enter a number from 0 to 255."}};
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.id) + " " + r.text);
        CConfigPrinterAdvDlg dlg;
        Receipt(dlg);
        dlg.m_nFeedCut = 3;
        CDialogDriver drv(30000);
        drv.SetText(r.id, r.text).Click(IDOK);
        if (!r.box.empty())
            drv.AnswerMessageBox(IDOK).Click(IDCANCEL);
        EXPECT_EQ(drv.Run(dlg), r.box.empty() ? IDOK : IDCANCEL) << drv.Report();
        EXPECT_EQ(drv.MessageBoxTexts(), r.box.empty() ? std::vector<std::string>{} : std::vector<std::string>{r.box});
        if (r.box.empty()) {
            int saved = r.id == IDC_RADV_FEEDCUT ? dlg.m_nFeedCut : r.id == IDC_RADV_BRIGHTNESS ? dlg.m_nBrightness
                                                                                                  : dlg.m_nThreshold;
            EXPECT_EQ(saved, atoi(r.text));
        }
    }
    // Damaged stored numbers open as their defaults.
    CConfigPrinterAdvDlg dlg;
    Receipt(dlg);
    dlg.m_nBrightness = 300;
    dlg.m_nThreshold = -2;
    CDialogDriver drv(30000);
    drv.Do([](HWND h) {
           EXPECT_EQ(ControlText(h, IDC_RADV_BRIGHTNESS), "0");
           EXPECT_EQ(ControlText(h, IDC_RADV_THRESHOLD), "127");
       })
        .Click(IDCANCEL);
    EXPECT_EQ(drv.Run(dlg), IDCANCEL) << drv.Report();
}

// Runs only under a Chinese (Simplified) system language (a test of its own sets it).
TEST_F(AdvancedDialogs, ReceiptOnAChineseSystemHidesTheCharacterSetControlsAndKeepsTheirValues)
{
    if (!getenv("VESK_EXPECT_CHINESE"))
        GTEST_SKIP() << "runs under the Chinese locale";
    ASSERT_EQ(GetDefaultLangId(), 2052);
    CConfigPrinterAdvDlg dlg;
    Receipt(dlg);
    dlg.m_strCharacterSet = "874";
    dlg.m_nThai3Pass = 1;
    dlg.m_nInternationalCharSet = 8;
    dlg.m_nLeftMargine = 12;
    dlg.m_nCharSpace = 2;
    CDialogDriver drv(30000);
    drv.Do([&](HWND h) {
           for (int id : {1081, 1069, 1083, 1084, 1085, 1086, 1087, 1088, 1089, 1090})
               EXPECT_FALSE(IsWindowVisible(GetDlgItem(h, id))) << id;
           EXPECT_TRUE(IsWindowVisible(GetDlgItem(h, IDC_RADV_FONT)));
       })
        .Click(IDOK);
    EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
    EXPECT_STREQ(dlg.m_strCharacterSet, "874");
    EXPECT_EQ(dlg.m_nThai3Pass, 1);
    EXPECT_EQ(dlg.m_nInternationalCharSet, 8);
    EXPECT_EQ(dlg.m_nLeftMargine, 12);
    EXPECT_EQ(dlg.m_nCharSpace, 2);
}

// The port range dialog, driven through its own modal loop against the overridden registry and
// a setup.inf in a temporary install folder, read and written through the profile API.
#include "DialogDriver.h"
#include "PortRangeDlg.h"
#include "TestEnv.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <functional>

namespace {
const char kRangeSerial[] = "Enter an integer between 1 and 50.";
const char kRangeParallel[] = "Enter an integer between 1 and 10.";

struct Case
{
    const char* name;
    const char* file;  // setup.inf before the dialog; nullptr: no file
    std::function<void(CDialogDriver&)> steps;
    INT_PTR end;
    std::vector<std::string> boxes;  // message box texts, in order
    const char* after;               // setup.inf after; nullptr: as before, byte for byte
};

std::string Shown(HWND dlg, int id) { return ControlText(dlg, id); }
}

class PortRangeDialog : public testing::Test
{
protected:
    void SetUp() override { reg.WriteServiceInfo(folder.Path()); }
    CTestRegistry reg;
    CTempFolder folder;
};

TEST_F(PortRangeDialog, ShowsReadsAndWritesTheRanges)
{
    const char* kUpper = "[DESCRIPTION]\r\nVersion=1.13\r\nCOMRange=7\r\nLPTRange=3\r\n";
    Case cases[] = {
        {"an upper-case section is shown and written back into itself", kUpper,
         [](CDialogDriver& d) {
             d.Do([](HWND h) {
                  EXPECT_EQ(Shown(h, IDC_COM_RANGE), "7");
                  EXPECT_EQ(Shown(h, IDC_LPT_RANGE), "3");
              })
                 .SetText(IDC_COM_RANGE, "12")
                 .Click(IDOK);
         },
         IDOK, {}, "[DESCRIPTION]\r\nVersion=1.13\r\nCOMRange=12\r\nLPTRange=3\r\n"},
        {"without the file 10 and 2 are shown", nullptr,
         [](CDialogDriver& d) {
             d.Do([](HWND h) {
                  EXPECT_EQ(Shown(h, IDC_COM_RANGE), "10");
                  EXPECT_EQ(Shown(h, IDC_LPT_RANGE), "2");
              }).Click(IDCANCEL);
         },
         IDCANCEL, {}, nullptr},
        {"without the keys 10 and 2 are shown", "[SPECIAL]\r\nFindAvailablePort=0\r\n",
         [](CDialogDriver& d) {
             d.Do([](HWND h) {
                  EXPECT_EQ(Shown(h, IDC_COM_RANGE), "10");
                  EXPECT_EQ(Shown(h, IDC_LPT_RANGE), "2");
              }).Click(IDCANCEL);
         },
         IDCANCEL, {}, nullptr},
        {"COMRange 60 is shown, refused on OK, and written once corrected",
         "[Description]\r\nCOMRange=60\r\nLPTRange=4\r\n",
         [](CDialogDriver& d) {
             d.Do([](HWND h) { EXPECT_EQ(Shown(h, IDC_COM_RANGE), "60"); })
                 .Click(IDOK)
                 .AnswerMessageBox(IDOK)
                 .Do([](HWND h) {
                     EXPECT_EQ(GetFocus(), GetDlgItem(h, IDC_COM_RANGE));
                     EXPECT_TRUE(IsWindowVisible(h));
                 })
                 .SetText(IDC_COM_RANGE, "50")
                 .Click(IDOK);
         },
         IDOK, {kRangeSerial}, "[Description]\r\nCOMRange=50\r\nLPTRange=4\r\n"},
        {"a parallel range out of its limits is refused too", "[Description]\r\nCOMRange=5\r\nLPTRange=4\r\n",
         [](CDialogDriver& d) {
             d.SetText(IDC_LPT_RANGE, "11").Click(IDOK).AnswerMessageBox(IDOK).Click(IDCANCEL);
         },
         IDCANCEL, {kRangeParallel}, nullptr},
        {"Default then OK writes 10 and 2", "[Description]\r\nCOMRange=33\r\nLPTRange=9\r\n",
         [](CDialogDriver& d) {
             d.Click(IDC_DEFAULT)
                 .Do([](HWND h) {
                     EXPECT_EQ(Shown(h, IDC_COM_RANGE), "10");
                     EXPECT_EQ(Shown(h, IDC_LPT_RANGE), "2");
                 })
                 .Click(IDOK);
         },
         IDOK, {}, "[Description]\r\nCOMRange=10\r\nLPTRange=2\r\n"},
        {"OK without the file creates it with both keys", nullptr, [](CDialogDriver& d) { d.Click(IDOK); }, IDOK, {},
         "[Description]\r\nCOMRange=10\r\nLPTRange=2\r\n"},
        {"a setup.inf that cannot be written says so and the dialog stays", nullptr,
         [&](CDialogDriver& d) {
             // A folder in the file's place: the profile writes fail.
             d.Do([&](HWND) { CreateDirectoryA(folder.File("setup.inf").c_str(), nullptr); })
                 .Click(IDOK)
                 .AnswerMessageBox(IDOK)
                 .Do([&](HWND h) {
                     EXPECT_TRUE(IsWindowVisible(h));
                     RemoveDirectoryA(folder.File("setup.inf").c_str());
                 })
                 .Click(IDCANCEL);
         },
         IDCANCEL, {"Failed to write file! : " + folder.File("setup.inf")}, nullptr},
        {"Cancel after editing leaves the file byte for byte", "; hand-made\r\n[description]\r\ncomrange = 8 \r\n\r\n",
         [](CDialogDriver& d) {
             d.SetText(IDC_COM_RANGE, "20").SetText(IDC_LPT_RANGE, "5").Click(IDC_DEFAULT).Click(IDCANCEL);
         },
         IDCANCEL, {}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder.File("setup.inf");
        DeleteFileA(path.c_str());
        if (c.file) {
            ASSERT_TRUE(folder.Write("setup.inf", c.file));
        }
        const std::string before = c.file ? folder.Read("setup.inf") : std::string();

        CPortRangeDlg dlg;
        CDialogDriver drv;
        c.steps(drv);
        EXPECT_EQ(drv.Run(dlg), c.end) << drv.Report();
        EXPECT_TRUE(drv.Failures().empty()) << drv.Report();
        EXPECT_EQ(drv.MessageBoxTexts(), c.boxes);
        const bool exists = GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
        if (c.after) {
            EXPECT_EQ(folder.Read("setup.inf"), c.after);
        } else {
            EXPECT_EQ(exists, c.file != nullptr);
            if (c.file) {
                EXPECT_EQ(folder.Read("setup.inf"), before);
            }
        }
    }
}

TEST_F(PortRangeDialog, TakesItsCaptionsFromTheStringTable)
{
    CPortRangeDlg dlg;
    CDialogDriver drv;
    drv.Do([&](HWND h) {
           EXPECT_EQ(Shown(h, IDC_COM_RANGE_LABEL), "Serial Ports Range");
           EXPECT_EQ(Shown(h, IDC_LPT_RANGE_LABEL), "Parallel ports Range");
           EXPECT_STREQ(dlg.m_btnOk.m_strCaption, "Save");
           EXPECT_STREQ(dlg.m_btnCancel.m_strCaption, "Cancel");
           EXPECT_STREQ(dlg.m_btnDefault.m_strCaption, "Default");
           RECT r;
           GetWindowRect(h, &r);
           EXPECT_EQ(r.right - r.left, 595);
           EXPECT_EQ(r.bottom - r.top, 341);
           // The window is cut to the skin: its corner is outside the window region.
           EXPECT_EQ(PtInRegion(dlg.m_hRegion, 0, 0), FALSE);
           EXPECT_NE(GetWindowRgn(h, CreateRectRgn(0, 0, 0, 0)), ERROR);
       })
        .Click(IDCANCEL);
    EXPECT_EQ(drv.Run(dlg), IDCANCEL) << drv.Report();
}

// Without the install folder the file would be "\setup.inf" at the root of the drive.
TEST(PortRangeDialogWithoutInstallFolder, SaysSoEndsWithCancelAndWritesNothing)
{
    CTestRegistry reg;  // no ServiceInfo values
    const bool rootFileBefore = GetFileAttributesA("\\setup.inf") != INVALID_FILE_ATTRIBUTES;
    CPortRangeDlg dlg;
    CDialogDriver drv;
    drv.AnswerMessageBox(IDOK);
    EXPECT_EQ(drv.Run(dlg), IDCANCEL) << drv.Report();
    EXPECT_TRUE(drv.Failures().empty()) << drv.Report();
    ASSERT_EQ(drv.MessageBoxTexts().size(), 1u);
    EXPECT_EQ(drv.MessageBoxTexts()[0], "Failed to road registry!");
    EXPECT_TRUE(dlg.m_strSetupInf.IsEmpty());
    if (!rootFileBefore) {
        EXPECT_EQ(GetFileAttributesA("\\setup.inf"), INVALID_FILE_ATTRIBUTES);
    }
}

// The window owns the region it is given: a second run of the same dialog object must still
// get a region of its own.
TEST_F(PortRangeDialog, RunsTwiceWithItsWindowRegion)
{
    CPortRangeDlg dlg;
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        CDialogDriver drv;
        int regionType = ERROR;
        BOOL cornerIn = TRUE, middleIn = FALSE;
        drv.Do([&](HWND h) {
               HRGN r = CreateRectRgn(0, 0, 0, 0);
               regionType = GetWindowRgn(h, r);
               cornerIn = PtInRegion(r, 0, 0);
               middleIn = PtInRegion(r, 300, 170);
               DeleteObject(r);
           })
            .Click(IDCANCEL);
        EXPECT_EQ(drv.Run(dlg), IDCANCEL) << drv.Report();
        EXPECT_EQ(regionType, COMPLEXREGION);
        EXPECT_FALSE(cornerIn);
        EXPECT_TRUE(middleIn);
    }
}

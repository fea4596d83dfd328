// Check Health of the printer configuration dialog through the hosted POSPrinter control, here
// the test Control Object registered under the published class id: the calls it receives, in
// order, for each outcome; and that a refused save opens nothing.
#include "BrevantonTestKit.h"
#include "ConfigPrinterDlg.h"
#include "DialogDriver.h"
#include "TestCoRecord.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <ole2.h>

namespace {
const WORD M = DISPATCH_METHOD, G = DISPATCH_PROPERTYGET, P = DISPATCH_PROPERTYPUT;

class CHostingConfigDlg : public CConfigPrinterDlg
{
public:
    CHostingConfigDlg(const char* key, int classCode)
    {
        m_strKeyName = key;
        m_nClassCode = classCode;
    }
};

class ConfigCheckHealth : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Co().Ready()) << "the test Control Object's exports are missing";
        Co().reset();
        folder.reset(new CInstallFolder(reg));
        ASSERT_TRUE(CopyShippedInf(folder->Folder(), "VL420.inf"));
        WriteDeviceKey(reg, "VL420", kLabelProgId, "", "COM1", "VL420");
        WriteDeviceKey(reg, "VL820", kLabelProgId, "", "COM2", "VL820");
    }
    void TearDown() override
    {
        Co().reset();
        folder.reset();
    }
    CUiThread ui;
    CTestRegistry reg;
    std::unique_ptr<CInstallFolder> folder;
};
}

TEST_F(ConfigCheckHealth, CallSequenceByOutcome)
{
    struct Row
    {
        const char* what;
        long open, claim;
        std::vector<std::string> calls;
        std::string message;  // "" for none
    };
    const Row rows[] = {
        {"all succeed: no ReleaseDevice before Close", 0, 0,
         {"Open(VL420)", "ClaimDevice(100)", "DeviceEnabled=(-1)", "Property20=(1)", "CheckHealth(3)", "Close"}, ""},
        {"a failed Open ends after its message and Close", 104, 0, {"Open(VL420)", "ErrorText?", "Close"},
         "OPOSPrinter Open Error : scripted reason"},
        {"a failed claim ends after its message and Close", 0, 106,
         {"Open(VL420)", "ClaimDevice(100)", "ErrorText?", "Close"}, "OPOSPrinter Claim Error : scripted reason"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        Co().reset();
        Co().Answer(37, M, VT_I4, r.open);
        Co().Answer(32, M, VT_I4, r.claim);
        Co().Answer(31, M, VT_I4, 0);
        Co().Answer(35, M, VT_I4, 0);
        Co().Answer(17, P, VT_EMPTY, 0);
        Co().Answer(20, P, VT_EMPTY, 0);
        Co().Answer(105, G, VT_BSTR, 0, L"scripted reason");
        CHostingConfigDlg dlg("VL420", 32);
        CDialogDriver drv(30000);
        drv.SetText(IDC_CFG_LDN, "Front").Click(IDC_CFG_HEALTH);
        if (!r.message.empty())
            drv.AnswerMessageBox(IDOK);
        drv.Do([&](HWND) { EXPECT_EQ(RegString(std::string(kPrinterClassKey), "Front"), "VL420") << "saved first"; })
            .Click(IDCANCEL);
        EXPECT_EQ(drv.Run(dlg), IDCANCEL) << drv.Report();
        EXPECT_TRUE(drv.Failures().empty()) << drv.Report();
        EXPECT_EQ(Co().Calls(), r.calls);
        if (!r.message.empty()) {
            ASSERT_EQ(drv.MessageBoxTexts().size(), 1u);
            EXPECT_EQ(drv.MessageBoxTexts()[0], r.message);
        }
    }
}

TEST_F(ConfigCheckHealth, ARefusedSaveOrAnotherClassOpensNothing)
{
    struct Row
    {
        const char* what;
        const char* key;
        int classCode;
        std::string ldn, outputBuffer;
        std::string message;
    };
    const Row rows[] = {
        {"an LDN that names another device", "VL420", 32, "VL820", "2048", "Device will not be set to VL820"},
        {"an output buffer of 0", "VL420", 32, "", "0", "Output Buffer Value Error!"},
        {"a line display only saves", "LD1", 4, "Pole", "512", ""},
        {"an MSR only saves", "MS1", 8, "Swipe", "512", ""},
        {"a smart-card reader only saves", "SC1", 16, "Card", "512", ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        Co().reset();
        Co().Answer(37, M, VT_I4, 0);
        Co().Answer(35, M, VT_I4, 0);
        const char* classKey = r.classCode == 4 ? "Software\\OLEforRetail\\ServiceOPOS\\LineDisplay"
                               : r.classCode == 8 ? "Software\\OLEforRetail\\ServiceOPOS\\MSR"
                               : r.classCode == 16 ? "Software\\OLEforRetail\\ServiceOPOS\\SmartCardRW"
                                                   : kPrinterClassKey;
        std::string key = std::string(classKey) + "\\" + r.key;
        reg.SetString(key.c_str(), "Port", "COM5");
        if (r.classCode == 4)  // a display model without a virtual COM port: no driver question
            reg.SetDWORD(key.c_str(), "Model", 5001);
        CHostingConfigDlg dlg(r.key, r.classCode);
        CDialogDriver drv(30000);
        drv.Do([&](HWND h) {
               EXPECT_EQ(IsWindowVisible(GetDlgItem(h, IDC_CFG_ADVANCED)) != FALSE, r.classCode == 32);
           })
            .SetText(IDC_CFG_LDN, r.ldn)
            .SetText(IDC_CFG_OUTBUF, r.outputBuffer)
            .Click(IDC_CFG_HEALTH);
        if (!r.message.empty())
            drv.AnswerMessageBox(IDOK);
        drv.Click(IDCANCEL);
        EXPECT_EQ(drv.Run(dlg), IDCANCEL) << drv.Report();
        EXPECT_TRUE(Co().Calls().empty()) << Co().Calls().size() << " calls";
        if (!r.message.empty()) {
            ASSERT_EQ(drv.MessageBoxTexts().size(), 1u) << drv.Report();
            EXPECT_EQ(drv.MessageBoxTexts()[0], r.message);
        } else {
            EXPECT_TRUE(drv.MessageBoxTexts().empty()) << drv.Report();
            EXPECT_EQ(RegString(key, "OutputBuf"), r.outputBuffer) << "saved";
            EXPECT_EQ(RegString(classKey, r.ldn.c_str()), r.key);
        }
    }
}

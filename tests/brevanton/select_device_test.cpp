// The Add Device dialog driven through its own modal loop: the models it offers from the class
// INF of the install folder, Next without a model, a key that cannot be made, the keys made and
// their names, and Cancel.
#include "BrevantonTestKit.h"
#include "DialogDriver.h"
#include "SelectDevice.h"
#include "resource.h"

#include <gtest/gtest.h>

namespace {
std::vector<std::string> Items(HWND dlg, int id, bool combo)
{
    std::vector<std::string> items;
    HWND c = GetDlgItem(dlg, id);
    int n = int(SendMessageA(c, combo ? CB_GETCOUNT : LB_GETCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
        char buf[300] = {};
        SendMessageA(c, combo ? CB_GETLBTEXT : LB_GETTEXT, WPARAM(i), LPARAM(buf));
        items.push_back(buf);
    }
    return items;
}

std::string Sections(std::initializer_list<const char*> names)
{
    std::string s;
    for (const char* n : names)
        s += std::string("[") + n + "]\r\nDeviceDesc=d\r\n";
    return s;
}

const char kNoModel[] = "Select Device Model!";
}

class AddDevice : public testing::Test
{
protected:
    CTestRegistry reg;
};

TEST_F(AddDevice, OffersTheModelsOfTheLabelPrinterClass)
{
    const std::string sixteen = "ABCDEFGHIJKLMNOP", fifteen = "ABCDEFGHIJKLMNO";
    std::string longList;
    for (int i = 0; i < 120; ++i)
        longList += "[Model" + std::to_string(1000 + i) + "]\r\n";
    struct Case
    {
        const char* name;
        bool labelSupport;
        std::string lbprn;  // empty: the shipped one
        std::vector<std::string> classes, models;
        int classCode;
    } cases[] = {
        {"the shipped models", true, "", {"LabelPrinter"}, {"VL420", "VL820"}, 32},
        {"sorted", true, Sections({"ZETA", "ALPHA", "MU"}), {"LabelPrinter"}, {"ALPHA", "MU", "ZETA"}, 32},
        {"M1 then M10: both", true, Sections({"M1", "M10"}), {"LabelPrinter"}, {"M1", "M10"}, 32},
        {"M10 then M1: both", true, Sections({"M10", "M1"}), {"LabelPrinter"}, {"M1", "M10"}, 32},
        {"a second name in other case is left out", true, Sections({"Vl420", "VL420"}), {"LabelPrinter"}, {"Vl420"}, 32},
        {"names over 15 characters are left out", true, Sections({sixteen.c_str(), fifteen.c_str(), "M1"}),
         {"LabelPrinter"}, {fifteen, "M1"}, 32},
        {"no class without label support", false, "", {}, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CTestRegistry local;
        InstallOptions o;
        o.lbprnText = c.lbprn.empty() ? nullptr : c.lbprn.c_str();
        CInstallFolder folder(local, o);
        CSelectDevice dlg;
        dlg.m_bLabelSupport = c.labelSupport;
        CDialogDriver drv;
        drv.Do([&](HWND h) {
               EXPECT_EQ(Items(h, IDC_DEVICE_CLASS, true), c.classes);
               EXPECT_EQ(Items(h, IDC_MODEL_LIST, false), c.models);
               EXPECT_EQ(dlg.m_nClassCode, c.classCode);
               char title[64] = {};
               GetWindowTextA(h, title, sizeof title);
               EXPECT_STREQ(title, "Select Device Model");
               EXPECT_EQ(ControlText(h, IDC_NEXT), "Next");
               EXPECT_EQ(ControlText(h, IDC_DEVICE_CLASS_LABEL), "Device category");
           })
            .Click(IDCANCEL);
        EXPECT_EQ(drv.Run(dlg), IDCANCEL) << drv.Report();
    }

    // A section list past 1024 characters: every name is offered, the last one whole.
    CInstallFolder folder(reg, [&] {
        InstallOptions o;
        o.lbprnText = longList.c_str();
        return o;
    }());
    CSelectDevice dlg;
    dlg.m_bLabelSupport = TRUE;
    CDialogDriver drv;
    std::vector<std::string> offered;
    drv.Do([&](HWND h) { offered = Items(h, IDC_MODEL_LIST, false); }).Click(IDCANCEL);
    EXPECT_EQ(drv.Run(dlg), IDCANCEL) << drv.Report();
    EXPECT_EQ(offered.size(), 120u);
    ASSERT_FALSE(offered.empty());
    EXPECT_EQ(offered.back(), "Model1119");
}

TEST_F(AddDevice, NextMakesTheKeyOrSaysWhyNot)
{
    const std::string classKey = kPrinterClassKey;
    const char* kNoSoName = "[M1]\r\nDeviceDesc=d\r\nDescription=x\r\nVid=1A2B\r\nPid=0001\r\nMODELCODE=3\r\n";
    struct Case
    {
        const char* name;
        bool labelSupport;
        const char* lbprn;
        bool select;
        std::vector<std::string> boxes;
        INT_PTR end;
        std::vector<std::string> keysAfter;
        bool refusingClassKey = false;  // a volatile class key: the registry refuses lasting subkeys in it
    } cases[] = {
        {"Next without a model", true, nullptr, false, {kNoModel}, IDCANCEL, {}},
        {"a class key that refuses the new key: said, and nothing left", true, nullptr, true,
         {"Failed to write registry! : " + classKey + "\\VL420"}, IDCANCEL, {}, true},
        {"Next without label support", false, nullptr, false, {kNoModel}, IDCANCEL, {}},
        {"a model without SOName: nothing written", true, kNoSoName, true, {"Failed to load Inf file."}, IDCANCEL, {}},
        {"a model of the shipped INF", true, nullptr, true, {}, IDOK, {"VL420"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CTestRegistry local;
        InstallOptions o;
        o.lbprnText = c.lbprn;
        CInstallFolder folder(local, o);
        HKEY volatileKey = nullptr;
        if (c.refusingClassKey) {
            ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, classKey.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                                      KEY_ALL_ACCESS, nullptr, &volatileKey, nullptr),
                      ERROR_SUCCESS);
        }
        if (volatileKey)
            RegCloseKey(volatileKey);
        CSelectDevice dlg;
        dlg.m_bLabelSupport = c.labelSupport;
        CDialogDriver drv(20000);
        if (c.select)
            drv.Select(IDC_MODEL_LIST, 0);
        drv.Click(IDC_NEXT);
        for (size_t i = 0; i < c.boxes.size(); ++i)
            drv.AnswerMessageBox(IDOK);
        if (c.end == IDCANCEL)
            drv.Do([](HWND h) { EXPECT_TRUE(IsWindowVisible(h)) << "the dialog stays"; }).Click(IDCANCEL);
        EXPECT_EQ(drv.Run(dlg), c.end) << drv.Report();
        EXPECT_TRUE(drv.Failures().empty()) << drv.Report();
        EXPECT_EQ(drv.MessageBoxTexts(), c.boxes);
        EXPECT_EQ(SubkeyNames(classKey), c.keysAfter);
        if (c.end == IDOK) {
            EXPECT_EQ(dlg.m_nClassCode, 32);
            EXPECT_STREQ(dlg.m_strDeviceKeyName, "VL420");
        }
    }
}

TEST_F(AddDevice, ASecondAddOfTheModelIsNumberedAndCancelWritesNothing)
{
    const std::string classKey = kPrinterClassKey;
    CInstallFolder folder(reg);
    struct Step
    {
        int model;  // index in the sorted list: 0 VL420, 1 VL820
        bool next;
        const char* keyName;  // after IDOK
        std::vector<std::string> keysAfter;
    } steps[] = {
        {0, true, "VL420", {"VL420"}},
        {0, true, "VL420_1", {"VL420", "VL420_1"}},
        {1, false, nullptr, {"VL420", "VL420_1"}},
        {1, true, "VL820", {"VL420", "VL420_1", "VL820"}},
        {0, true, "VL420_2", {"VL420", "VL420_1", "VL420_2", "VL820"}},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.keyName ? s.keyName : "Cancel");
        CSelectDevice dlg;
        dlg.m_bLabelSupport = TRUE;
        CDialogDriver drv;
        drv.Select(IDC_MODEL_LIST, s.model).Click(s.next ? IDC_NEXT : IDCANCEL);
        EXPECT_EQ(drv.Run(dlg), s.next ? IDOK : IDCANCEL) << drv.Report();
        EXPECT_TRUE(drv.Failures().empty()) << drv.Report();
        if (s.next) {
            EXPECT_EQ(dlg.m_nClassCode, 32);
            EXPECT_STREQ(dlg.m_strDeviceKeyName, s.keyName);
            EXPECT_EQ(RegString(classKey + "\\" + s.keyName, "DeviceName"), s.keyName[2] == '4' ? "VL420" : "VL820");
        }
        EXPECT_EQ(SubkeyNames(classKey), s.keysAfter);
    }
}

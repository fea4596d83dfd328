// Device keys made from a model section: names, every value, the port blocks and the failures.
#include "DeviceKey.h"
#include "PipeDevice.h"
#include "Registry.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

const char* kLabelKey = "Software\\OLEforRetail\\ServiceOPOS\\POSPrinter";

std::string Model(const std::string& name, int modelCode, int portN, int port = 0, const std::string& vid = "1a2b",
                  const std::string& pid = "0420")
{
    return "[" + name + "]\r\nDeviceDesc=Desc " + name + "\r\nSOName=VESK.LabelPrinter.ServiceObject.1.13\r\n" +
           "Description=SO of " + name + "\r\nVid=" + vid + "\r\nPid=" + pid + "\r\nTYPE=3\r\nPORT=" +
           std::to_string(port) + "\r\nMODELCODE=" + std::to_string(modelCode) +
           "\r\nPORT_N=" + std::to_string(portN) + "\r\nMODELCODE_N=7\r\n";
}

class DeviceKeyTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        folder.Write("setup.inf", "[Description]\r\nVersion=1.13.005\r\n");
        folder.Write("lbprn.inf", Model("M1", 10, 0x01) + Model("M2", 11, 0x10) + Model("LPT7", 12, 0, 7) +
                                      Model("PARUSB", 13, 0x0C) + Model("PARNET", 14, 0x14) +
                                      Model("ONLYPAR", 15, 0x04) + Model("NOVID", 16, 1, 0, "") +
                                      Model("ZERO", 0, 0x01));
    }
    CString Make(const char* section, int cls = DEVCLASS_LABELPRINTER, IUsbInterfaceSource* usb = nullptr)
    {
        CString name;
        EXPECT_TRUE(CreateDeviceKey(cls, section, folder.Path().c_str(), name, usb ? usb : &noUsb)) << section;
        return name;
    }
    std::string Str(const CString& key, const char* value)
    {
        CString out("<missing>");
        reg.GetString(CString(kLabelKey) + "\\" + key, value, out);
        return out.GetString();
    }
    DWORD Dword(const CString& key, const char* value)
    {
        DWORD out = 0xDEADBEEF;
        reg.GetDWORD(CString(kLabelKey) + "\\" + key, value, out);
        return out;
    }

    CTestRegistry hklm;
    CTempFolder folder;
    CRegistry reg;
    CScriptedUsbSource noUsb;
};

TEST_F(DeviceKeyTest, EveryValueOfANewSerialKey)
{
    CString name = Make("M1");
    ASSERT_STREQ("M1", name);
    const std::map<std::string, std::string> strings = {
        {"", "VESK.LabelPrinter.ServiceObject.1.13"}, {"Description", "SO of M1"}, {"DeviceName", "M1"},
        {"DeviceDesc", "Desc M1"}, {"Version", "1.13.005"}, {"DeviceClass", "POSPrinter"}, {"UsbDeviceName", ""},
        {"TcpIp", "0.0.0.0"}, {"LDN", ""}, {"Port", "COM1"}, {"BaudRate", "9600"}, {"BitLength", "8"},
        {"HandShake", "CTS/RTS"}, {"Parity", "0"}, {"Stop", "0"}, {"InputBuf", "4096"}, {"OutputBuf", "4096"},
        {"InputSleep", "0"}, {"Out_Interval", "0"}, {"Timeout", "1000"}, {"comp", "VESK"}, {"Vid", "1a2b"},
        {"Pid", "0420"}, {"inf", folder.Path() + "\\M1.inf"}};
    for (const auto& s : strings)
        EXPECT_EQ(s.second, Str(name, s.first.c_str())) << s.first;
    const std::map<std::string, DWORD> dwords = {{"UsbCount", 0},  {"TcpPort", 9100}, {"UsingBT", 0},
                                                 {"type", 3},      {"Porttype", 0},   {"Model", 10},
                                                 {"Porttype_N", 1}, {"Model_N", 7}};
    for (const auto& d : dwords)
        EXPECT_EQ(d.second, Dword(name, d.first.c_str())) << d.first;
    // Values only the dialogs write are absent.
    EXPECT_EQ("<missing>", Str(name, "Log"));
    EXPECT_EQ(0xDEADBEEFu, Dword(name, "Log"));
}

TEST_F(DeviceKeyTest, SameModelKeysAreNumberedAndAFreedNameIsReused)
{
    EXPECT_STREQ("M1", Make("M1"));
    EXPECT_STREQ("M1_1", Make("M1"));
    EXPECT_STREQ("M1_2", Make("M1"));
    EXPECT_EQ("M1", Str("M1_2", "DeviceName"));  // the model name, not the key name
    ASSERT_TRUE(reg.Delete(CString(kLabelKey) + "\\M1"));
    EXPECT_STREQ("M1", Make("M1"));
    // Another model is not counted with M1.
    EXPECT_STREQ("M2", Make("M2"));
}

TEST_F(DeviceKeyTest, AHandWrittenKeyOfAnotherModelCodeIsOverwritten)
{
    hklm.SetString("Software\\OLEforRetail\\ServiceOPOS\\POSPrinter\\M1", "DeviceName", "M1");
    hklm.SetDWORD("Software\\OLEforRetail\\ServiceOPOS\\POSPrinter\\M1", "Model", 99);
    hklm.SetString("Software\\OLEforRetail\\ServiceOPOS\\POSPrinter\\M1", "Port", "COM9");
    EXPECT_STREQ("M1", Make("M1"));
    EXPECT_EQ("COM1", Str("M1", "Port"));
    EXPECT_EQ(10u, Dword("M1", "Model"));
}

TEST_F(DeviceKeyTest, AKeyWithoutModelCountsForModelCodeZero)
{
    hklm.SetString("Software\\OLEforRetail\\ServiceOPOS\\POSPrinter\\ZERO", "DeviceName", "ZERO");
    EXPECT_STREQ("ZERO_1", Make("ZERO"));
}

TEST_F(DeviceKeyTest, PortBlockByInterfaces)
{
    struct Row {
        const char* model;
        const char* port;
        const char* baud;   // "<missing>" when no serial or network block is written
        const char* tcpIp;
    } rows[] = {
        {"M2", "", "9600", "192.168.1.1"},            // Ethernet only
        {"LPT7", "LPT1", "<missing>", "0.0.0.0"},     // legacy code 7: parallel
        {"ONLYPAR", "LPT1", "<missing>", "0.0.0.0"},  // parallel only
        {"PARNET", "", "9600", "192.168.1.1"},        // parallel and Ethernet
        {"PARUSB", "", "9600", "192.168.1.1"},        // parallel and USB, no printer attached
    };
    for (const Row& r : rows) {
        CString name = Make(r.model);
        EXPECT_EQ(r.port, Str(name, "Port")) << r.model;
        EXPECT_EQ(r.baud, Str(name, "BaudRate")) << r.model;
        EXPECT_EQ(r.tcpIp, Str(name, "TcpIp")) << r.model;
        EXPECT_EQ("<missing>", Str(name, "BitLength")) << r.model;
        EXPECT_EQ("", Str(name, "UsbDeviceName")) << r.model;
    }
}

TEST_F(DeviceKeyTest, UsbModelTakesTheLastAttachedPrinterAndUpperCasesItsIds)
{
    CPipeDevice first(UsbPipeName("1a2b", "0420", "a"));
    CPipeDevice other(UsbPipeName("1a2c", "0420", "b"));  // same product id, other maker
    CPipeDevice last(UsbPipeName("1A2B", "0420", "c"));
    CScriptedUsbSource usb;
    usb.Set({first.Name(), last.Name(), other.Name()});
    CString name = Make("PARUSB", DEVCLASS_LABELPRINTER, &usb);
    EXPECT_EQ("USB002:", Str(name, "Port"));
    CString expected(last.Name().c_str());
    expected.MakeUpper();
    EXPECT_EQ(expected.GetString(), Str(name, "UsbDeviceName"));
    EXPECT_EQ("0.0.0.0", Str(name, "TcpIp"));
    EXPECT_EQ("<missing>", Str(name, "BaudRate"));
    EXPECT_EQ("1A2B", Str(name, "Vid"));
    EXPECT_EQ("0420", Str(name, "Pid"));
    // A second printer of the model is bound to the other device, not to the first key's.
    CString second = Make("PARUSB", DEVCLASS_LABELPRINTER, &usb);
    EXPECT_EQ("USB001:", Str(second, "Port"));
    CString firstPath(first.Name().c_str());
    firstPath.MakeUpper();
    EXPECT_EQ(firstPath.GetString(), Str(second, "UsbDeviceName"));
    // With no printer attached the ids stay as the INF spells them.
    EXPECT_EQ("1a2b", Str(Make("PARUSB"), "Vid"));
}

namespace {
// A USB walk that, once the key is made, has the registry refuse its values from then on.
class CRefusingUsbSource : public CScriptedUsbSource
{
public:
    explicit CRefusingUsbSource(const std::string& key) : m_key(key) {}
    bool Begin(const GUID& cls) override
    {
        HKEY k = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, m_key.c_str(), 0, WRITE_DAC, &k) == ERROR_SUCCESS) {
            PSECURITY_DESCRIPTOR sd = nullptr;
            refused = ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(D;;0x0002;;;WD)(A;;GA;;;WD)",
                                                                           SDDL_REVISION_1, &sd, nullptr) &&
                      RegSetKeySecurity(k, DACL_SECURITY_INFORMATION, sd) == ERROR_SUCCESS;
            LocalFree(sd);
            RegCloseKey(k);
        }
        return CScriptedUsbSource::Begin(cls);
    }
    bool refused = false;

private:
    std::string m_key;
};
}

TEST_F(DeviceKeyTest, FailuresWriteNothing)
{
    // A refusal that starts after the key exists: the half-made key is removed again, not left to
    // be listed as a device.
    const std::string half = std::string(kLabelKey) + "\\PARUSB";
    CRefusingUsbSource refusing(half);
    CString halfName;
    EXPECT_FALSE(CreateDeviceKey(DEVCLASS_LABELPRINTER, "PARUSB", folder.Path().c_str(), halfName, &refusing));
    EXPECT_TRUE(refusing.refused) << "the refusal came after the key was made";
    EXPECT_STREQ("PARUSB", halfName);
    EXPECT_FALSE(hklm.Exists(half.c_str()));

    CString name("untouched");
    EXPECT_FALSE(CreateDeviceKey(DEVCLASS_LABELPRINTER, "NOVID", folder.Path().c_str(), name, &noUsb));
    EXPECT_FALSE(CreateDeviceKey(DEVCLASS_LABELPRINTER, "NOSUCH", folder.Path().c_str(), name, &noUsb));
    EXPECT_FALSE(CreateDeviceKey(DEVCLASS_CASHDRAWER, "M1", folder.Path().c_str(), name, &noUsb));
    EXPECT_FALSE(CreateDeviceKey(DEVCLASS_SMARTCARD, "M1", folder.Path().c_str(), name, &noUsb));
    EXPECT_FALSE(CreateDeviceKey(64, "M1", folder.Path().c_str(), name, &noUsb));
    EXPECT_FALSE(hklm.Exists("Software\\OLEforRetail\\ServiceOPOS\\POSPrinter\\NOVID"));
    EXPECT_FALSE(hklm.Exists("Software\\OLEforRetail\\ServiceOPOS\\POSPrinter\\NOSUCH"));
    // Without setup.inf's Version.
    folder.Write("setup.inf", "[Description]\r\nVersionDescription=x\r\n");
    EXPECT_FALSE(CreateDeviceKey(DEVCLASS_LABELPRINTER, "M1", folder.Path().c_str(), name, &noUsb));
    EXPECT_FALSE(hklm.Exists("Software\\OLEforRetail\\ServiceOPOS\\POSPrinter\\M1"));
    EXPECT_STREQ("untouched", name);
}


namespace {
// count names of length len ("S" and the number, zero-padded), then the extra names.
std::vector<std::string> SectionNames(int count, size_t len, std::vector<std::string> extra = {})
{
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        std::string n = std::to_string(i);
        names.push_back("S" + std::string(len - 1 - n.size(), '0') + n);
    }
    names.insert(names.end(), extra.begin(), extra.end());
    return names;
}
}

// The whole list is read however long it is; around the first buffer's 1024 characters too.
TEST_F(DeviceKeyTest, ListInfSectionsGivesEveryNameWhole)
{
    struct Row
    {
        const char* name;
        std::vector<std::string> sections;
    } rows[] = {
        {"a few", {"M1", "VL420", "A_B"}},
        {"exactly 1022 characters", SectionNames(101, 9, {std::string(11, 'L')})},
        {"exactly 1023 characters", SectionNames(101, 9, {std::string(12, 'L')})},
        {"many times the first buffer", SectionNames(400, 15)},
        {"a long last name across the first buffer's end", SectionNames(100, 9, {std::string(300, 'L')})},
    };
    int file = 0;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        std::string text;
        size_t listLength = 0;
        for (const std::string& s : r.sections) {
            text += "[" + s + "]\r\nKey=1\r\n";
            listLength += s.size() + 1;
        }
        // Each row its own file: the profile API keeps files it has read.
        std::string infName = "list" + std::to_string(++file) + ".inf";
        ASSERT_TRUE(folder.Write(infName, text));
        std::vector<CString> got = ListInfSections((folder.Path() + "\\" + infName).c_str());
        std::vector<std::string> names;
        for (const CString& g : got)
            names.push_back(g.GetString());
        EXPECT_EQ(names, r.sections) << "list of " << listLength << " characters";
    }
    EXPECT_TRUE(ListInfSections((folder.Path() + "\\nosuch.inf").c_str()).empty());
}

TEST_F(DeviceKeyTest, ClassTable)
{
    struct Row { int code; const char* path; const char* inf; } rows[] = {
        {1, "Software\\OLEforRetail\\ServiceOPOS\\POSPrinter", "posprn.inf"},
        {2, "Software\\OLEforRetail\\ServiceOPOS\\CashDrawer", "poscash.inf"},
        {4, "Software\\OLEforRetail\\ServiceOPOS\\LineDisplay", "posdisp.inf"},
        {8, "Software\\OLEforRetail\\ServiceOPOS\\MSR", "posmsr.inf"},
        {16, "Software\\OLEforRetail\\ServiceOPOS\\SmartCardRW", "posscr.inf"},
        {32, "Software\\OLEforRetail\\ServiceOPOS\\POSPrinter", "lbprn.inf"},
    };
    for (const Row& r : rows) {
        EXPECT_STREQ(r.path, ClassKeyPath(r.code)) << r.code;
        ASSERT_NE(nullptr, FindDeviceClass(r.code));
        EXPECT_STREQ(r.inf, FindDeviceClass(r.code)->classInf);
    }
    EXPECT_EQ(nullptr, FindDeviceClass(3));
    EXPECT_STREQ("", ClassKeyPath(3));
}

}  // namespace

namespace {

TEST(DeviceKeyShipped, EveryShippedLabelModelMakesAKeyThatNamesItsModelFile)
{
    CTestRegistry hklm;
    const char* src = std::getenv("VESK_SOURCE");
    ASSERT_NE(nullptr, src);
    CString inf(WinPath(std::string(src) + "/inf").c_str());
    char sections[4096] = {};
    ASSERT_GT(GetPrivateProfileSectionNamesA(sections, sizeof sections, inf + "\\lbprn.inf"), 0u);
    int models = 0;
    CScriptedUsbSource noUsb;
    CRegistry reg;
    for (const char* s = sections; *s; s += strlen(s) + 1, ++models) {
        CString name;
        ASSERT_TRUE(CreateDeviceKey(DEVCLASS_LABELPRINTER, s, inf, name, &noUsb)) << s;
        CString key = CString(kLabelKey) + "\\" + name, modelFile, progId;
        ASSERT_TRUE(reg.GetString(key, "inf", modelFile));
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(modelFile)) << modelFile.GetString();
        ASSERT_TRUE(reg.GetString(key, "", progId));
        EXPECT_STREQ("VESK.LabelPrinter.ServiceObject.1.13", progId);
    }
    EXPECT_GE(models, 2);
}

}  // namespace

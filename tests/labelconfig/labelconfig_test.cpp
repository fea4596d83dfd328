// Configuration of a label printer: every value read, its default, the port settings record,
// the label settings handed to the builder and the setters the configuration calls.
#include "LabelConfig.h"
#include "PipeDevice.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>

namespace {

const char* kKey = "Software\\OLEforRetail\\ServiceOPOS\\POSPrinter\\DEV";

const char* kModelInf =
    "[POSPRINTER]\n"
    "RecBarCodeRotationList=0,R90\nRecBitmapRotationList=0,L90\nCharacterSetList=437,1252\n"
    "FontTypefaceList=Face\nRecLineCharsList=42,56\nCapCoverSensor=1\nCapRecCartridgeSensor=-1\n"
    "CapRecPapercut=1\nCapRecNearEndSensor=1\nCharacterSet=1252\nRecLineChars=42\nRecLineHeight=24\n"
    "RecLineSpacing=30\nRecLineWidth=832\nRecSidewaysMaxLines=27\nRecSidewaysMaxChars=63\n"
    "CapRecPageMode=1\nPageModeArea=832,1200\nPageModePrintArea=0,0,832,1200\nPageModePrintDirection=2\n"
    "PageModeVerticalPosition=5\nPageModeHorizontalPosition=6\nPageModeStation=2\nInternationalCharSet=4660\n"
    "[COMMON]\nCapStatisticsRporting=1\n"
    "[DETAIL]\nLinecharsNormal=42\nLinecharsCompressed=56\nDotsPerNormalChar=19\nDotsPerCompressedChar=14\n"
    "DotsPerNormalCharHeight=24\nDotsPerCompressedCharHeight=16\nDPIHIGH=300\nDPIWIDTH=300\n"
    "[DIRECTIO]\nPREDEFINE=0\nCHECKSTATUS=7\n"
    "[SPECIALFUNC]\nBMASIS=5\nBARHIGH=9\n"
    "[IMAGEFUNC]\nMagnification=150\n"
    "[DOWNLOADFONT]\nA=3\nB=0\n";

class LabelConfigTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        folder.Write("DEV.inf", kModelInf);
        hklm.SetString(kKey, "inf", folder.File("DEV.inf").c_str());
        hklm.SetString(kKey, "DeviceName", "DEV");
        hklm.SetString(kKey, "DeviceDesc", "A label printer");
        hklm.SetString(kKey, "Description", "Its service object");
        hklm.SetString(kKey, "Version", "1.13.012");
        cfg.SetLog([this](int level, const CString& line) { lines[level].push_back(line.GetString()); });
    }
    int Load() { return cfg.APS_RegistryLoad("DEV", builder, &usb); }
    // Takes a value out of the device key, so the configuration meets it missing.
    bool Remove(const char* name)
    {
        HKEY k = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_SET_VALUE, &k) != ERROR_SUCCESS)
            return false;
        LONG r = RegDeleteValueA(k, name);
        RegCloseKey(k);
        return r == ERROR_SUCCESS;
    }
    bool Logged(int level, const std::string& line)
    {
        for (const auto& l : lines[level])
            if (l == line)
                return true;
        return false;
    }

    CTestRegistry hklm;
    CTempFolder folder;
    CLabelConfig cfg;
    CLabelCommand builder;
    CScriptedUsbSource usb;
    std::map<int, std::vector<std::string>> lines;
};

TEST_F(LabelConfigTest, SerialPortSettings)
{
    hklm.SetString(kKey, "Port", "COM3");
    hklm.SetString(kKey, "BaudRate", "19200");
    hklm.SetString(kKey, "BitLength", "7");
    hklm.SetString(kKey, "Parity", "2");
    hklm.SetString(kKey, "Stop", "1");
    hklm.SetDWORD(kKey, "UsingBT", 1);
    hklm.SetString(kKey, "OutputBuf", "2048");
    hklm.SetString(kKey, "InputBuf", "1024");
    struct Row { const char* handshake; DWORD flow; } rows[] = {
        {"Xon/Xoff", 1}, {"None", 2}, {"xon/xoff", 0}, {"CTS/RTS", 0}, {"", 0}};
    for (const Row& r : rows) {
        hklm.SetString(kKey, "HandShake", r.handshake);
        ASSERT_EQ(0, Load()) << r.handshake;
        EXPECT_EQ(r.flow, cfg.m_dop.dwFlowControl) << r.handshake;
    }
    const DeviceOption& d = cfg.m_dop;
    EXPECT_STREQ("COM3", cfg.PortName());
    const DWORD expect[] = {19200, 7, 1, 2, 2, 0, 50, 10, 5000, 1024, 2048, 1};
    const DWORD got[] = {d.dwBaudRate, d.dwByteSize, d.dwStopBits, d.dwParity, d.dwReadIntervalTimeout,
                         d.dwReadTotalTimeoutMultiplier, d.dwReadTotalTimeoutConstant, d.dwWriteTotalTimeoutMultiplier,
                         d.dwWriteTotalTimeoutConstant, d.dwInBufSize, d.dwOutBufSize, d.dwUsingBT};
    for (size_t i = 0; i < sizeof expect / sizeof expect[0]; ++i)
        EXPECT_EQ(expect[i], got[i]) << "field " << i;
    EXPECT_TRUE(Logged(0, "COM3, BaudRate=19200, DataBits=7, Parity=2, StopBits=1, HandShake=, UsingBT=1"));
    EXPECT_TRUE(Logged(0, "Port Configuration <OutputBuf=2048, InputBuf=1024>"));

    // Buffer sizes that would make a write loop of empty pieces fall back to 4096, and so do
    // missing ones (NULL: the values are taken out of the key).
    for (const char* bad : {"0", "abc", "-5", static_cast<const char*>(nullptr)}) {
        hklm.SetString(kKey, "OutputBuf", "2048");
        hklm.SetString(kKey, "InputBuf", "1024");
        ASSERT_EQ(0, Load());  // the sizes of the earlier load are not what the next one keeps
        if (bad) {
            hklm.SetString(kKey, "OutputBuf", bad);
            hklm.SetString(kKey, "InputBuf", bad);
        } else {
            ASSERT_TRUE(Remove("OutputBuf"));
            ASSERT_TRUE(Remove("InputBuf"));
        }
        Load();
        const char* what = bad ? bad : "missing";
        EXPECT_EQ(4096u, cfg.m_dop.dwOutBufSize) << what;
        EXPECT_EQ(4096u, cfg.m_dop.dwInBufSize) << what;
    }

    // A key without the Bluetooth flag is a plain serial link.
    ASSERT_TRUE(Remove("UsingBT"));
    ASSERT_EQ(0, Load());
    EXPECT_EQ(0u, cfg.m_dop.dwUsingBT);
    EXPECT_TRUE(Logged(0, "COM3, BaudRate=19200, DataBits=7, Parity=2, StopBits=1, HandShake=, UsingBT=0"));
}

TEST_F(LabelConfigTest, ParallelNetworkAndEmptyPorts)
{
    hklm.SetString(kKey, "Port", "LPT1");
    ASSERT_EQ(0, Load());
    EXPECT_EQ(1u, cfg.m_dop.dwReadIntervalTimeout);
    EXPECT_EQ(0u, cfg.m_dop.dwReadTotalTimeoutConstant);
    EXPECT_EQ(1u, cfg.m_dop.dwWriteTotalTimeoutMultiplier);
    EXPECT_EQ(3000u, cfg.m_dop.dwWriteTotalTimeoutConstant);
    EXPECT_TRUE(Logged(0, "Port : LPT"));

    hklm.SetString(kKey, "TcpIp", "127.0.0.1");
    hklm.SetDWORD(kKey, "TcpPort", 9101);
    hklm.SetDWORD(kKey, "Wireless", 1);
    for (const char* port : {"Ethernet", ""}) {  // an empty Port value is a network printer too
        hklm.SetString(kKey, "Port", port);
        CLabelConfig c;
        ASSERT_EQ(0, c.APS_RegistryLoad("DEV", builder, &usb)) << port;
        EXPECT_STREQ("127.0.0.1", c.PortName());
        EXPECT_EQ(9101u, c.m_dop.dwBaudRate);
        EXPECT_EQ(1u, c.m_dop.dwWireless);
    }

    // Without a port name, or without DeviceName, the device cannot be opened.
    hklm.SetString(kKey, "TcpIp", "");
    CLabelConfig none;
    EXPECT_EQ(106, none.APS_RegistryLoad("DEV", builder, &usb));
    hklm.SetString(kKey, "TcpIp", "127.0.0.1");
    hklm.SetString(kKey, "DeviceName", "");
    CLabelConfig noName;
    EXPECT_EQ(106, noName.APS_RegistryLoad("DEV", builder, &usb));
    CLabelConfig noKey;
    EXPECT_EQ(106, noKey.APS_RegistryLoad("NOSUCH", builder, &usb));
}

TEST_F(LabelConfigTest, UsbPrinterFoundByItsPathOrItsIds)
{
    CPipeDevice a(UsbPipeName("1a2b", "0420", "a"));
    CPipeDevice other(UsbPipeName("1a2b", "0820", "b"));
    CString pathA(a.Name().c_str());
    pathA.MakeUpper();
    hklm.SetString(kKey, "Port", "USB001:");
    hklm.SetString(kKey, "Vid", "1A2B");
    hklm.SetString(kKey, "Pid", "0420");
    hklm.SetString(kKey, "UsbDeviceName", pathA);
    // With the stored printer gone, another one of the same vendor and product id stands in
    // only when it is the only one present: two identical printers never both bind to one.
    CPipeDevice twinC(UsbPipeName("1a2b", "0420", "c"));
    CPipeDevice twinD(UsbPipeName("1a2b", "0420", "d"));
    CPipeDevice otherMaker(UsbPipeName("1a2c", "0420", "e"));
    auto upper = [](const std::string& s) {
        CString u(s.c_str());
        u.MakeUpper();
        return std::string(u.GetString());
    };
    struct Row
    {
        const char* what;
        std::vector<std::string> present;
        std::string bound;  // the port name; empty: no path, the load fails
    } rows[] = {
        {"stored present", {other.Name(), a.Name(), twinC.Name()}, upper(a.Name())},
        {"no printer of this model", {other.Name()}, ""},
        // The stored path goes to the port, which decides whether the twin may stand in.
        {"one of the same ids", {other.Name(), twinC.Name()}, upper(a.Name())},
        {"two identical", {twinC.Name(), other.Name(), twinD.Name()}, ""},
        {"same product id of another maker", {otherMaker.Name()}, ""},
    };
    for (const Row& r : rows) {
        usb.Set(r.present);
        lines.clear();
        EXPECT_EQ(r.bound.empty() ? 106 : 0, Load()) << r.what;
        EXPECT_EQ(r.bound, std::string(cfg.PortName().GetString())) << r.what;
        EXPECT_EQ(r.bound.empty(), Logged(10, "not search USB Port <UsbDeviceName=" + std::string(pathA.GetString()) +
                                                  ", Vid=1A2B, Pid=0420>"))
            << r.what;
    }
}

TEST_F(LabelConfigTest, LabelSettingsVersionAndSetters)
{
    hklm.SetString(kKey, "Port", "COM1");
    const std::map<std::string, DWORD> dwords = {
        {"PaperWidth", 832}, {"PaperLength", 1200}, {"GapLength", 24}, {"LeftMargin", 8}, {"TopMargin", 4},
        {"BackFeed", 3}, {"BackFeedStep", 2}, {"OffsetPosition", 101}, {"TearOffPosition", 100},
        {"CutterPeriod", 5}, {"PrintSpeed", 4}, {"Density", 10}, {"HRISize", 1}, {"RightToLeft", 0},
        {"Model", 10}, {"Type", 3}, {"LanguageType", 2}};
    for (const auto& d : dwords)
        hklm.SetDWORD(kKey, d.first.c_str(), d.second);
    hklm.SetString(kKey, "PrintType", "D");
    hklm.SetString(kKey, "PaperType", "G");
    hklm.SetString(kKey, "OperationMode", "C");
    hklm.SetString(kKey, "Orientation", "T");
    folder.Write("zplfont.inf", "[COMMON]\nBitmapFont=1\n[Font1]\nFontName=Z\nFontW=9\nFontH=9\n");
    ASSERT_EQ(0, Load());
    EXPECT_EQ(-1, cfg.OffsetPosition);   // 101 is an offset of -1
    EXPECT_EQ(100, cfg.TearOffPosition);
    EXPECT_EQ(1013012, cfg.ServiceObjectVersion);
    EXPECT_STREQ("A label printer", cfg.DeviceDescription);
    EXPECT_STREQ("Its service object", cfg.ServiceObjectDescription);
    EXPECT_EQ(10u, cfg.Model);
    EXPECT_EQ(3u, cfg.Type);
    // The emulation's fonts and the downloaded ones behind them.
    ASSERT_EQ(3, builder.Fonts().GetCount());
    EXPECT_STREQ("Z", builder.Fonts().GetAt(0)->FontName);
    EXPECT_STREQ("A", builder.Fonts().GetAt(1)->FontName);
    EXPECT_EQ(3, builder.Fonts().GetAt(1)->extra);

    COPOSData label;
    builder.BuildLabel(label);
    EXPECT_EQ("SL1200,24,G,0\r\nSW832\r\nSTD\r\nSM8,4\r\nSF3,2\r\nSS4\r\nSD10\r\nSOT\r\nSA-1\r\nTA100\r\nCS0,0\r\n"
              "CUTn\r\nP1\r\n",
              std::string(reinterpret_cast<const char*>(label.GetData()), label.GetLength()));
    EXPECT_EQ(5, builder.CutterPeriod());
    ASSERT_EQ(2u, cfg.m_setters.size());
    EXPECT_EQ(ConfigSetterCall::PageModeArea, cfg.m_setters[0].kind);
    EXPECT_STREQ("832,1200", cfg.m_setters[0].text);
    EXPECT_STREQ("0,0,832,1200", cfg.m_setters[1].text);

    struct Row { const char* version; long so; } rows[] = {{"1.13.005", 1013005}, {"7", 1013000}, {"", 1013000}};
    for (const Row& r : rows) {
        hklm.SetString(kKey, "Version", r.version);
        Load();
        EXPECT_EQ(r.so, cfg.ServiceObjectVersion) << r.version;
    }
}

TEST_F(LabelConfigTest, ModelFileValuesDefaultsAndResolution)
{
    hklm.SetString(kKey, "Port", "COM1");
    ASSERT_EQ(0, Load());
    ASSERT_EQ(0, cfg.APS_INFLoad(folder.File("DEV.inf").c_str(), builder));
    EXPECT_STREQ("437,1252,3", cfg.CharacterSetList);  // the downloaded font numbers above 0
    EXPECT_STREQ("0,R90", cfg.RecBarCodeRotationList);
    EXPECT_STREQ("Face", cfg.FontTypefaceList);
    EXPECT_EQ(0, cfg.CapRecCartridgeSensor);  // -1 reads as 0
    EXPECT_EQ(1, cfg.CapStatisticsReporting);
    EXPECT_EQ(1, cfg.CapRecNearEndSensor);
    EXPECT_EQ(832, cfg.RecLineWidthDots);
    EXPECT_EQ(30, cfg.RecLineSpacingDots);
    EXPECT_EQ(0x34, cfg.InternationalCharSet);  // low 8 bits
    EXPECT_EQ(0x34, builder.InternationalCharSet());
    EXPECT_TRUE(Logged(0, "special InternationalCharSet:52"));
    EXPECT_TRUE(Logged(0, "set to m_nImageMagnification=150 in inf"));
    EXPECT_EQ(0, cfg.DirectIOPredefine);
    EXPECT_EQ(7, cfg.DirectIOCheckStatus);
    EXPECT_EQ(5, cfg.BmAsis);
    EXPECT_EQ(9, cfg.BarHigh);
    // Defaults of the connection values.
    EXPECT_EQ(500u, cfg.m_dop.dwTcpTimeout);
    EXPECT_EQ(1000u, cfg.m_dop.dwConnTimeout);
    EXPECT_EQ(3u, cfg.m_dop.dwConnRetryCount);
    EXPECT_STREQ("Not Executed", cfg.CheckHealthText);
    // 300 dots per inch: the twips rows.
    EXPECT_EQ(4, cfg.m_mapMode.lineOut[2].mul);
    EXPECT_EQ(300, cfg.m_mapMode.positionIn[2].mul);
    EXPECT_EQ(720, cfg.m_mapMode.positionIn[2].add);
    EXPECT_EQ(1440, cfg.m_mapMode.positionIn[2].div);
    EXPECT_EQ(600, cfg.m_mapMode.doubleIn[3].mul);
    EXPECT_EQ(4, cfg.m_twipsPerDot);

    // The setters in the order the object applies them.
    std::vector<ConfigSetterCall::Kind> kinds;
    for (const auto& s : cfg.m_setters)
        kinds.push_back(s.kind);
    const std::vector<ConfigSetterCall::Kind> order = {
        ConfigSetterCall::PageModeArea, ConfigSetterCall::PageModePrintArea, ConfigSetterCall::CharacterSet,
        ConfigSetterCall::PageModeArea, ConfigSetterCall::PageModePrintArea,
        ConfigSetterCall::PageModePrintDirection, ConfigSetterCall::PageModeVerticalPosition,
        ConfigSetterCall::PageModeHorizontalPosition, ConfigSetterCall::ConvertPageModeUnits,
        ConfigSetterCall::RecLineChars};
    EXPECT_EQ(order, kinds);
    EXPECT_EQ(1252, cfg.m_setters[2].number);
    EXPECT_EQ(2, cfg.m_setters[5].number);
    EXPECT_EQ(42, cfg.m_setters[9].number);

    // Model file values that are missing take their defaults over what the earlier file set.
    std::string bare = kModelInf;
    for (const char* line : {"PREDEFINE=0\n", "Magnification=150\n"})
        bare.erase(bare.find(line), std::strlen(line));
    folder.Write("BARE.inf", bare);
    lines.clear();
    ASSERT_EQ(0, cfg.APS_INFLoad(folder.File("BARE.inf").c_str(), builder));
    struct InfRow { const char* name; long got, missing; } infRows[] = {
        {"[DIRECTIO] PREDEFINE", cfg.DirectIOPredefine, 1},
        {"[IMAGEFUNC] Magnification", cfg.ImageMagnification, 100},
        {"[DIRECTIO] CHECKSTATUS (still there)", cfg.DirectIOCheckStatus, 7},
    };
    for (const InfRow& r : infRows)
        EXPECT_EQ(r.missing, r.got) << r.name;
    EXPECT_TRUE(lines[0].end() ==
                std::find_if(lines[0].begin(), lines[0].end(),
                             [](const std::string& l) { return l.find("m_nImageMagnification") != std::string::npos; }));

    // Device key values that are missing: the emulation without LanguageType is the first
    // one's fonts, and a missing label value keeps what the object had.
    folder.Write("qlksfont.inf", "[COMMON]\nBitmapFont=1\n[Font1]\nFontName=Q\nFontW=8\nFontH=8\n");
    folder.Write("zplfont.inf", "[COMMON]\nBitmapFont=1\n[Font1]\nFontName=Z\nFontW=9\nFontH=9\n");
    hklm.SetDWORD(kKey, "LanguageType", 2);
    hklm.SetDWORD(kKey, "GapLength", 24);
    ASSERT_EQ(0, Load());
    ASSERT_GT(builder.Fonts().GetCount(), 0);
    EXPECT_STREQ("Z", builder.Fonts().GetAt(0)->FontName);
    EXPECT_EQ(24, cfg.GapLength);
    ASSERT_TRUE(Remove("LanguageType"));
    ASSERT_TRUE(Remove("GapLength"));
    ASSERT_EQ(0, Load());
    struct KeyRow { const char* name; std::string got, missing; } keyRows[] = {
        {"LanguageType", builder.Fonts().GetCount() > 0 ? builder.Fonts().GetAt(0)->FontName.GetString() : "", "Q"},
        {"LanguageType value", std::to_string(cfg.LanguageType), "0"},
        {"GapLength", std::to_string(cfg.GapLength), "24"},
        {"GapLength in the label", std::to_string(builder.GapLength()), "24"},
    };
    for (const KeyRow& r : keyRows)
        EXPECT_EQ(r.missing, r.got) << r.name;
}

TEST_F(LabelConfigTest, UnusableModelFiles)
{
    struct Row { const char* detail; } rows[] = {
        {"DPIHIGH=0\nDPIWIDTH=203\n"}, {"DPIHIGH=2000\nDPIWIDTH=203\n"}, {"DPIWIDTH=203\n"}};
    for (const Row& r : rows) {
        folder.Write("BAD.inf", std::string("[POSPRINTER]\nRecLineChars=42\nRecLineWidth=832\n[DETAIL]\n") + r.detail +
                                    "[SPECIALFUNC]\nBMASIS=5\n");
        CLabelConfig c;
        EXPECT_EQ(106, c.APS_INFLoad(folder.File("BAD.inf").c_str(), builder)) << r.detail;
        EXPECT_EQ(0, c.BmAsis) << "read past a missing resolution";
    }
    folder.Write("NOCHARS.inf", "[POSPRINTER]\nRecLineWidth=832\n[DETAIL]\nDPIHIGH=203\nDPIWIDTH=203\n");
    CLabelConfig c;
    EXPECT_EQ(106, c.APS_INFLoad(folder.File("NOCHARS.inf").c_str(), builder));
    EXPECT_EQ(106, c.APS_INFLoad(folder.File("MISSING.inf").c_str(), builder));
}

TEST_F(LabelConfigTest, PreformAndCustomCommands)
{
    std::string manyKeys = "[CUSTOM]\nC1=first\nUsePre=1\nC2=second\n";
    for (int i = 0; i < 120; ++i)
        manyKeys += "LONGKEYNAME" + std::to_string(i) + "=v" + std::to_string(i) + "\n";  // a list over 1024 bytes
    folder.Write("custom.inf", manyKeys);
    struct Row { std::string preform; const char* header; } rows[] = {
        {"SD12", "SD12\r\n"}, {"SD12\r\n", "SD12\r\n"}, {std::string("SD12\r\n\0junk", 11), "SD12\r\n"}};
    for (const Row& r : rows) {
        folder.Write("preform.inf", r.preform);
        CLabelConfig c;
        c.SetInfPath(folder.File("DEV.inf").c_str());
        CLabelCommand b;
        c.LoadPreformAndCustom(b);
        EXPECT_STREQ(r.header, b.HeaderCommands()) << r.preform.size();
        ASSERT_EQ(122, b.CustomCommandCount());
        EXPECT_STREQ("first", c.CustomCommands[0]);
        EXPECT_STREQ("second", c.CustomCommands[1]);
        EXPECT_STREQ("v119", c.CustomCommands[121]);
    }
    DeleteFileA(folder.File("preform.inf").c_str());
    cfg.SetInfPath(folder.File("DEV.inf").c_str());
    CLabelCommand b;
    cfg.LoadPreformAndCustom(b);
    EXPECT_STREQ("", b.HeaderCommands());
    EXPECT_FALSE(lines[10].empty());  // the unreadable file is logged
}

}  // namespace

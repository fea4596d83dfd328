// CRegistry against an isolated HKEY_LOCAL_MACHINE.
#include "Registry.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

namespace {
const char* const kDev = "Software\\OLEforRetail\\ServiceOPOS\\POSPrinter\\M1";

DWORD StoredSize(const char* key, const char* name, DWORD* type)
{
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &k) != ERROR_SUCCESS)
        return 0xFFFFFFFFu;
    DWORD size = 0;
    LONG r = RegQueryValueExA(k, name, nullptr, type, nullptr, &size);
    RegCloseKey(k);
    return r == ERROR_SUCCESS ? size : 0xFFFFFFFFu;
}
}

TEST(CRegistry, WritesCreateMissingKeysAndReadBack)
{
    CTestRegistry fixture;
    CRegistry reg;
    EXPECT_FALSE(fixture.Exists("Software\\OLEforRetail"));
    EXPECT_TRUE(reg.SetString(kDev, "Port", "COM3"));
    EXPECT_TRUE(reg.SetDWORD(kDev, "TcpPort", 9100));
    EXPECT_TRUE(reg.SetString(kDev, nullptr, "VESK.LabelPrinter.ServiceObject.1.13"));
    CString s;
    DWORD d = 0;
    EXPECT_TRUE(reg.GetString(kDev, "Port", s));
    EXPECT_EQ(s, "COM3");
    EXPECT_TRUE(reg.GetString(kDev, "port", s));  // names match without regard to case
    EXPECT_TRUE(reg.GetDWORD(kDev, "TcpPort", d));
    EXPECT_EQ(d, 9100u);
    EXPECT_TRUE(reg.GetString(kDev, nullptr, s));
    EXPECT_EQ(s, "VESK.LabelPrinter.ServiceObject.1.13");
    // Overwrite, and the types as stored.
    EXPECT_TRUE(reg.SetDWORD(kDev, "TcpPort", 0xFFFFFFFFu));
    EXPECT_TRUE(reg.GetDWORD(kDev, "TcpPort", d));
    EXPECT_EQ(d, 0xFFFFFFFFu);
    DWORD type = 0;
    EXPECT_EQ(StoredSize(kDev, "TcpPort", &type), 4u);
    EXPECT_EQ(type, DWORD(REG_DWORD));
    EXPECT_EQ(StoredSize(kDev, "Port", &type), 5u);  // with its NUL
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_TRUE(reg.SetString(kDev, "LDN", ""));
    EXPECT_EQ(StoredSize(kDev, "LDN", &type), 1u);
    s = "x";
    EXPECT_TRUE(reg.GetString(kDev, "LDN", s));
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_TRUE(reg.SetString(kDev, "Null", nullptr));
    EXPECT_EQ(StoredSize(kDev, "Null", &type), 1u);
}

TEST(CRegistry, FailedReadsLeaveTheValueUnchanged)
{
    CTestRegistry fixture;
    CRegistry reg;
    const BYTE bin[3] = {1, 2, 3};
    ASSERT_TRUE(fixture.SetRaw(kDev, "Bin", REG_BINARY, bin, 3));
    ASSERT_TRUE(fixture.SetRaw(kDev, "Multi", REG_MULTI_SZ, "a\0b\0", 5));
    ASSERT_TRUE(fixture.SetString(kDev, "Text", "9600"));
    ASSERT_TRUE(fixture.SetDWORD(kDev, "Num", 5));
    ASSERT_TRUE(fixture.SetRaw(kDev, "Short", REG_DWORD, bin, 2));
    CString s("default");
    DWORD d = 42;
    for (const char* name : {"Bin", "Multi", "Num", "Missing"}) {
        EXPECT_FALSE(reg.GetString(kDev, name, s)) << name;
        EXPECT_EQ(s, "default") << name;
    }
    for (const char* name : {"Bin", "Multi", "Text", "Missing", "Short"}) {
        EXPECT_FALSE(reg.GetDWORD(kDev, name, d)) << name;
        EXPECT_EQ(d, 42u) << name;
    }
    EXPECT_FALSE(reg.GetString("Software\\NoSuchKey", "Port", s));
    EXPECT_FALSE(reg.GetDWORD("Software\\NoSuchKey", "Port", d));
    EXPECT_EQ(s, "default");
    EXPECT_EQ(d, 42u);
}

TEST(CRegistry, ValuesReadAsStored)
{
    CTestRegistry fixture;
    CRegistry reg;
    const BYTE be[4] = {0x00, 0x00, 0x23, 0x8C};
    ASSERT_TRUE(fixture.SetRaw(kDev, "Big", REG_DWORD_BIG_ENDIAN, be, 4));
    ASSERT_TRUE(fixture.SetRaw(kDev, "Expand", REG_EXPAND_SZ, "%SystemRoot%\\x", 15));
    ASSERT_TRUE(fixture.SetRaw(kDev, "Zero", REG_SZ, "", 0));
    ASSERT_TRUE(fixture.SetRaw(kDev, "Open", REG_SZ, "abc", 3));
    ASSERT_TRUE(fixture.SetRaw(kDev, "Inner", REG_SZ, "ab\0cd", 6));
    DWORD d = 0;
    EXPECT_TRUE(reg.GetDWORD(kDev, "Big", d));
    EXPECT_EQ(d, 0x8C230000u);  // the four bytes in stored order, no swap
    CString s("default");
    EXPECT_TRUE(reg.GetString(kDev, "Expand", s));
    EXPECT_EQ(s, "%SystemRoot%\\x");
    s = "default";
    EXPECT_TRUE(reg.GetString(kDev, "Zero", s));
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_TRUE(reg.GetString(kDev, "Open", s));
    EXPECT_EQ(s, "abc");
    EXPECT_TRUE(reg.GetString(kDev, "Inner", s));
    EXPECT_EQ(s, "ab");

    RegistryValue v;
    EXPECT_TRUE(reg.QueryValue(kDev, "Big", v));
    EXPECT_EQ(v.type, DWORD(REG_DWORD_BIG_ENDIAN));
    EXPECT_EQ(v.size, 4u);
    RegistryValue missing;
    EXPECT_FALSE(reg.QueryValue(kDev, "Missing", missing));
    EXPECT_EQ(missing.data, nullptr);
    EXPECT_EQ(missing.size, 0u);
}

TEST(CRegistry, DeletesValuesAndWholeTrees)
{
    CTestRegistry fixture;
    CRegistry reg;
    const char* root = "Software\\OLEforRetail\\ServiceOPOS\\POSPrinter";
    ASSERT_TRUE(reg.SetString(kDev, "Port", "COM1"));
    ASSERT_TRUE(reg.SetString(kDev, "Keep", "x"));
    ASSERT_TRUE(reg.SetString("Software\\OLEforRetail\\ServiceOPOS\\POSPrinter\\M1\\a\\b\\c", "v", "1"));
    ASSERT_TRUE(reg.SetString("Software\\OLEforRetail\\ServiceOPOS\\POSPrinter\\M1\\a\\b2", "v", "1"));
    ASSERT_TRUE(reg.SetString("Software\\OLEforRetail\\ServiceOPOS\\POSPrinter\\M1_1", "v", "1"));
    EXPECT_TRUE(reg.Delete(kDev, "Port"));
    EXPECT_FALSE(fixture.Exists(kDev, "Port"));
    EXPECT_TRUE(fixture.Exists(kDev, "Keep"));
    EXPECT_FALSE(reg.Delete(kDev, "Port"));  // a missing value
    EXPECT_TRUE(reg.Delete(kDev));
    EXPECT_FALSE(fixture.Exists(kDev));
    EXPECT_TRUE(fixture.Exists("Software\\OLEforRetail\\ServiceOPOS\\POSPrinter\\M1_1"));
    EXPECT_TRUE(fixture.Exists(root));
    EXPECT_FALSE(reg.Delete(kDev));  // a missing key
    EXPECT_FALSE(reg.Delete("Software\\NoSuchKey", "v"));
}

TEST(CRegistry, AnEmptyKeyPathNeverDeletesTheRoot)
{
    CTestRegistry fixture;
    CRegistry reg;
    ASSERT_TRUE(reg.SetString("Software\\Kept", "v", "1"));
    EXPECT_FALSE(reg.Delete(nullptr));
    EXPECT_FALSE(reg.Delete(""));
    EXPECT_TRUE(fixture.Exists("Software\\Kept", "v"));
}

TEST(CRegistry, ReservedOperationsDoNothing)
{
    CRegistry reg;
    EXPECT_EQ(reg.Reserved1(1, 2, 3, 4), 0);
    EXPECT_EQ(reg.Reserved2(1, 2), 0);
    EXPECT_EQ(reg.Root(), HKEY_LOCAL_MACHINE);
}

#include <gtest/gtest.h>
#ifdef _WIN32
#include "TestEnv.h"

// The fixtures isolate the registry and the file system of a test.
TEST(TestEnv, RegistryOverrideIsIsolatedAndRemoved)
{
    {
        CTestRegistry reg;
        ASSERT_TRUE(reg.SetString("Software\\VeskSmoke", "v", "x"));
        EXPECT_TRUE(reg.Exists("Software\\VeskSmoke", "v"));
    }
    HKEY k = nullptr;
    EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\VeskSmoke", 0, KEY_READ, &k), ERROR_SUCCESS);
}

TEST(TestEnv, TempFolderRoundTripAndCleanup)
{
    std::string path;
    {
        CTempFolder f;
        path = f.Path();
        ASSERT_TRUE(f.Write("a.txt", std::string("a\0b", 3)));
        EXPECT_EQ(f.Read("a.txt"), std::string("a\0b", 3));
    }
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
}
#endif

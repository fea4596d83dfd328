// The stand-in of the device enable tool, started from a 32-bit process the way the serial
// transport starts the tool: through the WOW64 command interpreter, "/c", the quoted path,
// the port name and the state.
#include <gtest/gtest.h>

#include "RunProgram.h"
#include "TestEnv.h"

namespace {

TEST(HalvirexStandinWow64, RecordsTheWow64CommandInterpreterAsParent)
{
    // Built by the x86_64 tree next to this one.
    std::string standin = TestBinDir() + "\\..\\..\\..\\x86_64\\tests\\devicetool\\HalvirexStandin.exe";
    ASSERT_NE(GetFileAttributesA(standin.c_str()), INVALID_FILE_ATTRIBUTES) << standin;
    CTempFolder folder;
    std::string exe = folder.File("Halvirex.exe");
    ASSERT_TRUE(CopyFileA(standin.c_str(), exe.c_str(), FALSE));

    char wow64Dir[MAX_PATH];
    UINT n = GetSystemWow64DirectoryA(wow64Dir, MAX_PATH);
    ASSERT_GT(n, 0u);
    std::string cmd = std::string(wow64Dir, n) + "\\cmd.exe";
    ProgramRun run = RunProgram("\"" + cmd + "\" /c \"\"" + exe + "\" COM5 0\"");
    ASSERT_TRUE(run.ended);

    std::string calls = folder.Read("Halvirex-calls.txt");
    EXPECT_NE(calls.find("\twow64=1\targs=COM5 0\r\n"), std::string::npos) << calls;
    std::string lower = calls;
    for (char& c : lower)
        c = char(tolower(c));
    EXPECT_NE(lower.find("parent=c:\\windows\\syswow64\\cmd.exe"), std::string::npos) << calls;
}

} // namespace

// The device enable tool: its run on a scripted device tree with the real "Ports" lookup, and the
// real Halvirex.exe for its command line, exit codes and silence.
#include <gtest/gtest.h>

#include "DeviceTestKit.h"
#include "Halvirex.h"
#include "RunProgram.h"
#include "TestEnv.h"

#include <initializer_list>
#include <vector>

namespace {

struct HalvirexTest : ::testing::Test
{
    CFakePortDevices devices;
    CScriptedDeviceApi api;
    CMessageRecorder sink;
    CPortDeviceControl control{api, sink, DEVCTL_TOOL};

    int Run(std::initializer_list<const char*> args)
    {
        std::vector<char*> argv{const_cast<char*>("Halvirex.exe")};
        for (const char* a : args)
            argv.push_back(const_cast<char*>(a));
        argv.push_back(nullptr);
        return HalvirexRun(int(argv.size() - 1), argv.data(), control, sink);
    }
};

const char kDone[] = "Complated device control. please input enter key.";

TEST_F(HalvirexTest, WrongArgumentCountDoesNothing)
{
    devices.Add(devices.Name());
    EXPECT_EQ(Run({}), 1);
    EXPECT_EQ(Run({devices.Name().c_str(), "1", "more"}), 1);
    EXPECT_TRUE(api.changes.empty());
    EXPECT_EQ(api.connects, 0);
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(HalvirexTest, PortAndStateSetTheDevice)
{
    std::string id = devices.Add(devices.Name());
    const char* port = devices.Name().c_str();
    struct
    {
        const char* arg;
        DWORD change;
    } cases[] = {{"0", DICS_DISABLE}, {"1", DICS_ENABLE},  {"7", DICS_ENABLE},
                 {"-1", DICS_ENABLE}, {"x", DICS_DISABLE}, {"0x1", DICS_DISABLE}};
    for (const auto& c : cases) {
        api.changes.clear();
        sink.messages.clear();
        EXPECT_EQ(Run({port, c.arg}), 0) << c.arg;
        ASSERT_EQ(api.changes.size(), 1u) << c.arg;
        EXPECT_EQ(api.changes[0].instanceId, id);
        EXPECT_EQ(api.changes[0].stateChange, c.change) << c.arg;
        EXPECT_EQ(sink.Texts(DEVMSG_TOOL), std::vector<std::string>{kDone}) << c.arg;
    }
    EXPECT_EQ(api.connects, 0) << "setting a state does not read it";
}

TEST_F(HalvirexTest, StateArgumentReadsLikeADecimalNumber)
{
    EXPECT_EQ(HalvirexStateArgument("  +12abc"), 12);
    EXPECT_EQ(HalvirexStateArgument("\t-3"), -3);
    EXPECT_EQ(HalvirexStateArgument(""), 0);
    EXPECT_EQ(HalvirexStateArgument("- 1"), 0);
    EXPECT_NE(HalvirexStateArgument("99999999999999999999"), 0);
    EXPECT_NE(HalvirexStateArgument("-99999999999999999999"), 0);
    EXPECT_EQ(HalvirexStateArgument(nullptr), 0);
}

TEST_F(HalvirexTest, PortAloneTogglesAnEnabledDevice)
{
    std::string id = devices.Add(devices.Name());
    api.AddNode(CScriptedDeviceApi::kRoot, devices.Name());
    EXPECT_EQ(Run({devices.Name().c_str()}), 0);
    ASSERT_EQ(api.changes.size(), 1u);
    EXPECT_EQ(api.changes[0].instanceId, id);
    EXPECT_EQ(api.changes[0].stateChange, DWORD(DICS_DISABLE));
    EXPECT_EQ(sink.Texts(DEVMSG_TOOL),
              (std::vector<std::string>{"Init", "device current state is enable.\nchange the device state is disable.",
                                        kDone}));
}

TEST_F(HalvirexTest, PortAloneTogglesADisabledDevice)
{
    devices.Add(devices.Name());
    api.AddNode(CScriptedDeviceApi::kRoot, devices.Name()).configFlags = kConfigFlagDisabled;
    EXPECT_EQ(Run({devices.Name().c_str()}), 0);
    ASSERT_EQ(api.changes.size(), 1u);
    EXPECT_EQ(api.changes[0].stateChange, DWORD(DICS_ENABLE));
    EXPECT_EQ(sink.Texts(DEVMSG_TOOL),
              (std::vector<std::string>{"Init", "device current state is disable.\nchange the device state is enable.",
                                        kDone}));
}

TEST_F(HalvirexTest, PortAloneWithUnknownStateChangesNothing)
{
    devices.Add(devices.Name());
    api.AddNode(CScriptedDeviceApi::kRoot, devices.Name() + "0"); // no node of this port
    EXPECT_EQ(Run({devices.Name().c_str()}), 0);
    api.connectResult = CR_ACCESS_DENIED; // no device tree at all
    EXPECT_EQ(Run({devices.Name().c_str()}), 0);
    EXPECT_TRUE(api.changes.empty());
    EXPECT_EQ(sink.Texts(DEVMSG_TOOL), (std::vector<std::string>{"Init", "Unkonwon state. exit.", "Init",
                                                                 "Unkonwon state. exit."}));
}

TEST_F(HalvirexTest, UnknownPortEndsWithZeroAndNoChange)
{
    devices.Add(devices.Name() + "0");
    EXPECT_EQ(Run({devices.Name().c_str(), "0"}), 0);
    EXPECT_TRUE(api.changes.empty());
    EXPECT_TRUE(sink.Has(DEVMSG_ERROR, "not exist current port number"));
    EXPECT_EQ(sink.Texts(DEVMSG_TOOL), std::vector<std::string>{kDone});
}

// ---- the real program ----

std::string Program() { return "\"" + TestBinDir() + "\\Halvirex.exe\""; }

TEST(HalvirexProgram, ExitCodesAndSilence)
{
    CFakePortDevices devices;
    devices.Add(devices.Name());
    const std::string port = devices.Name();
    struct
    {
        std::string args;
        DWORD exitCode;
    } cases[] = {
        {"", 1},
        {" " + port + " 1 more", 1},
        {" " + port + " 0", 0},
        {" " + port + " 1", 0},
        {" " + port, 0},                // state unknown here: nothing changed
        {" " + port + "0 0", 0},        // no such port
        {" \"COM5&echo hi\" 1", 0},     // never a crash, whatever the name
    };
    for (const auto& c : cases) {
        ProgramRun run = RunProgram(Program() + c.args);
        ASSERT_TRUE(run.started) << c.args;
        ASSERT_TRUE(run.ended) << c.args;
        EXPECT_EQ(run.exitCode, c.exitCode) << c.args;
        EXPECT_EQ(run.output, "") << c.args;
    }
}

TEST(HalvirexProgram, IsAConsoleProgramRunningAsInvoker)
{
    std::string path = TestBinDir() + "\\Halvirex.exe";
    HMODULE image = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(image, nullptr);
    HRSRC res = FindResourceA(image, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(res, nullptr);
    const char* manifest = static_cast<const char*>(LockResource(LoadResource(image, res)));
    std::string text(manifest, SizeofResource(image, res));
    EXPECT_NE(text.find("level=\"asInvoker\""), std::string::npos);
    FreeLibrary(image);

    std::string bytes = ReadWholeFile(path);
    ASSERT_GT(bytes.size(), 0x200u);
    DWORD pe = *reinterpret_cast<const DWORD*>(bytes.data() + 0x3c);
    const IMAGE_NT_HEADERS64* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(bytes.data() + pe);
    EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
    EXPECT_EQ(nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_CUI);
}

// ---- the stand-in used by the serial transport's tests ----

TEST(HalvirexStandin, RecordsEachRunsArgumentsAndTime)
{
    CTempFolder folder;
    std::string exe = folder.File("Halvirex.exe");
    ASSERT_TRUE(CopyFileA((TestBinDir() + "\\HalvirexStandin.exe").c_str(), exe.c_str(), FALSE));
    ULONGLONG before = GetTickCount64();
    ProgramRun first = RunProgram("\"" + exe + "\" COM5 0");
    ProgramRun second = RunProgram("\"" + exe + "\" COM5 1");
    ASSERT_TRUE(first.ended && second.ended);
    EXPECT_EQ(first.exitCode, 0u);
    EXPECT_EQ(second.exitCode, 0u);

    std::string calls = folder.Read("Halvirex-calls.txt");
    size_t eol = calls.find("\r\n");
    ASSERT_NE(eol, std::string::npos) << calls;
    std::string line1 = calls.substr(0, eol);
    std::string line2 = calls.substr(eol + 2);
    ASSERT_GE(line2.size(), 2u);
    EXPECT_EQ(line2.substr(line2.size() - 2), "\r\n");
    EXPECT_EQ(line1.substr(line1.find("\targs=")), "\targs=COM5 0");
    EXPECT_NE(line2.find("\targs=COM5 1\r\n"), std::string::npos);
    ULONGLONG t1 = std::stoull(line1.substr(5));
    ULONGLONG t2 = std::stoull(line2.substr(5));
    EXPECT_LE(before, t1);
    EXPECT_LE(t1, t2);
    EXPECT_LE(t2, GetTickCount64());
    // Started directly by this 64-bit test: the parent is this program, not a 32-bit process.
    EXPECT_NE(line1.find("\twow64=0\t"), std::string::npos) << line1;
}

} // namespace

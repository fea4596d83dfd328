// The port log and the binary dump: file names, line forms, rotation through the clock seam,
// appending, and folders that cannot be made.
#include "PortLog.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

// The scripted clock: tick count and local time the logger sees.
DWORD g_tick = 1000;
SYSTEMTIME g_now = {2026, 12, 2, 8, 14, 5, 9, 7};
DWORD WINAPI FakeTick() { return g_tick; }
void WINAPI FakeLocalTime(SYSTEMTIME* st) { *st = g_now; }

class PortLogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_tick = 1000;
        g_now = {2026, 12, 2, 8, 14, 5, 9, 7};
        PortLogSetClock(FakeTick, FakeLocalTime);
    }
    void TearDown() override
    {
        PortLogClose();
        PortDumpClose();
        PortLogSetClock(nullptr, nullptr);
    }
    std::string LogFile(const std::string& name) { return dir.Read("Log\\" + name); }

    CTempFolder dir;
};

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> out;
    size_t at = 0;
    for (size_t e; (e = text.find("\r\n", at)) != std::string::npos; at = e + 2)
        out.push_back(text.substr(at, e - at));
    EXPECT_EQ(at, text.size()) << "every line ends with CR LF";
    return out;
}

} // namespace

TEST_F(PortLogTest, FileNamesCarryIndexAndLocalTime)
{
    PortLogOpen(TRUE, dir.Path().c_str(), "Com", 10000);
    PortLogWritePlain(0, "x");
    PortDumpOpen(TRUE, dir.Path().c_str(), "ComPRN");
    PortDumpWrite(reinterpret_cast<const BYTE*>("ab"), 2);
    EXPECT_EQ(dir.List("Log"), (std::vector<std::string>{"ComPRN_10000_1208.1405.bin", "d_Com_10000_120814.log"}));
    PortLogClose();
    PortDumpClose();

    // Without a port index (and another library's names).
    CTempFolder other;
    PortLogOpen(TRUE, other.Path().c_str(), "Eth", 0);
    PortDumpOpen(TRUE, other.Path().c_str(), "EthPRN");
    EXPECT_EQ(other.List("Log"), (std::vector<std::string>{"EthPRN_1208.1405.bin", "d_Eth_120814.log"}));
    PortLogClose();
    PortDumpClose();
}

TEST_F(PortLogTest, EveryLineForm)
{
    PortLogOpen(TRUE, dir.Path().c_str(), "Com", 10000);
    PortLogWrite(0, 32, "OpenPort <%s>", "COM3");
    PortLogWrite(PORTLOG_ERROR, 1, "failed (%d)", 5);
    PortLogWritePlain(0, "m_pInputQ->Size() : %d", 12);
    PortLogWritePlain(PORTLOG_ERROR, "-GetASBState : ASBInput pointer is NULL");
    PortLogWrite(0, 64, "no class");
    PortLogWrite(PORTLOG_ERROR, 64, "no class");
    PortLogWrite(0, 2, "width %02d", 3);
    PortLogWrite(0, 4, "%x", 255);
    PortLogWrite(0, 8, "");
    PortLogWrite(0, 16, "%f", 0.25);
    const std::vector<std::string> want = {
        "- (14:05:09.007) <LABEL> OpenPort <COM3>",
        "- (14:05:09.007) <PRINTER> !ERROR: failed (5)",
        "- (14:05:09.007) m_pInputQ->Size() : 12",
        "- (14:05:09.007) !ERROR: -GetASBState : ASBInput pointer is NULL",
        "- (14:05:09.007)  no class",
        "- (14:05:09.007)  !ERROR: no class",
        "- (14:05:09.007) <CASHDRAWER> width 2d",
        "- (14:05:09.007) <LINEDISPLAY> ff",
        "- (14:05:09.007) <MSR> ",
        "- (14:05:09.007) <SCR> 0.25",
    };
    EXPECT_EQ(Lines(LogFile("d_Com_10000_120814.log")), want);
}

TEST_F(PortLogTest, NothingIsWrittenWhileOff)
{
    PortLogWritePlain(0, "before any open");
    PortDumpWrite(reinterpret_cast<const BYTE*>("x"), 1);
    EXPECT_TRUE(dir.List("Log").empty());
    PortLogOpen(FALSE, dir.Path().c_str(), "Com", 10000);
    PortLogWritePlain(0, "disabled");
    EXPECT_FALSE(PortLogIsEnabled());
    EXPECT_TRUE(dir.List("Log").empty());
    PortLogOpen(TRUE, dir.Path().c_str(), "Com", 10000);
    PortLogWritePlain(0, "one");
    PortLogClose();
    PortLogWritePlain(0, "after close");
    EXPECT_EQ(Lines(LogFile("d_Com_10000_120814.log")).size(), 1u);
}

TEST_F(PortLogTest, RotatesAfterAnHourOfUse)
{
    PortLogOpen(TRUE, dir.Path().c_str(), "Usb", 30000);
    PortLogWritePlain(0, "first");
    g_tick += 3600000;  // exactly an hour: not yet
    g_now.wHour = 15;
    PortLogWritePlain(0, "still first");
    EXPECT_EQ(dir.List("Log"), (std::vector<std::string>{"d_Usb_30000_120814.log"}));
    g_tick += 1;
    PortLogWritePlain(0, "second");
    EXPECT_EQ(dir.List("Log"), (std::vector<std::string>{"d_Usb_30000_120814.log", "d_Usb_30000_120815.log"}));
    EXPECT_EQ(Lines(LogFile("d_Usb_30000_120814.log")).size(), 2u);
    std::vector<std::string> second = Lines(LogFile("d_Usb_30000_120815.log"));
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0], "- (15:05:09.007) second");

    // The tick count wraps after 49.7 days: the difference still counts.
    g_tick = 0xFFFFFF00u;
    g_now.wHour = 16;
    PortLogReopen();
    g_tick = 0x100;
    PortLogWritePlain(0, "across the wrap");
    EXPECT_EQ(Lines(LogFile("d_Usb_30000_120816.log")).size(), 1u);

    // The dump rotates the same way.
    PortDumpOpen(TRUE, dir.Path().c_str(), "UsbPRN");
    PortDumpWrite(reinterpret_cast<const BYTE*>("12"), 2);
    g_tick += 3600001;
    g_now.wMinute = 6;
    PortDumpWrite(reinterpret_cast<const BYTE*>("34"), 2);
    EXPECT_EQ(LogFile("UsbPRN_30000_1208.1605.bin"), "12");
    EXPECT_EQ(LogFile("UsbPRN_30000_1208.1606.bin"), "34");
}

TEST_F(PortLogTest, DumpAndLogAppendAndNeverOverwrite)
{
    CTempFolder f;
    {
        // Earlier bytes of a file of the same name.
        CreateDirectoryA((f.Path() + "\\Log").c_str(), nullptr);
        ASSERT_TRUE(f.Write("Log\\ComPRN_1208.1405.bin", "old"));
        ASSERT_TRUE(f.Write("Log\\d_Com_120814.log", "old\r\n"));
    }
    PortLogOpen(TRUE, f.Path().c_str(), "Com", 0);
    PortDumpOpen(TRUE, f.Path().c_str(), "ComPRN");
    const BYTE label[] = {'^', 'c', 'u', '\r', '\n', 0x00, 0xFF};
    PortDumpWrite(label, sizeof label);
    PortDumpClose();
    PortDumpOpen(TRUE, f.Path().c_str(), "ComPRN");  // reopened under the same name
    PortDumpWrite(reinterpret_cast<const BYTE*>("P1"), 2);
    PortLogWritePlain(0, "new");
    PortLogReopen();
    PortLogWritePlain(0, "newer");
    EXPECT_EQ(f.Read("Log\\ComPRN_1208.1405.bin"), std::string("old^cu\r\n\0\xFFP1", 12));
    std::vector<std::string> lines = Lines(f.Read("Log\\d_Com_120814.log"));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "old");
    EXPECT_EQ(lines[2], "- (14:05:09.007) newer");
    // Bad arguments write nothing.
    PortDumpWrite(nullptr, 4);
    PortDumpWrite(label, 0);
    PortDumpWrite(label, -1);
    EXPECT_EQ(f.Read("Log\\ComPRN_1208.1405.bin").size(), 12u);
}

TEST_F(PortLogTest, AFolderThatCannotBeMadeCostsOnlyTheLines)
{
    std::string missing = dir.Path() + "\\no\\such\\folder";
    PortLogOpen(TRUE, missing.c_str(), "Com", 10000);
    PortDumpOpen(TRUE, missing.c_str(), "ComPRN");
    EXPECT_TRUE(PortLogIsEnabled());
    for (int i = 0; i < 20; ++i) {
        PortLogWrite(0, 32, "line %d", i);
        PortDumpWrite(reinterpret_cast<const BYTE*>("x"), 1);
    }
    EXPECT_EQ(GetFileAttributesA(missing.c_str()), INVALID_FILE_ATTRIBUTES);
    // A file where the folder should be.
    ASSERT_TRUE(dir.Write("blocked", "x"));
    PortLogOpen(TRUE, dir.File("blocked").c_str(), "Com", 10000);
    PortLogWritePlain(0, "dropped");
    // Logging goes on as soon as a usable folder is given.
    PortLogOpen(TRUE, dir.Path().c_str(), "Com", 10001);
    PortLogWritePlain(0, "kept");
    EXPECT_EQ(Lines(LogFile("d_Com_10001_120814.log")).size(), 1u);
}

TEST_F(PortLogTest, LinesFromManyThreadsStayWhole)
{
    PortLogOpen(TRUE, dir.Path().c_str(), "Eth", 40000);
    const int kThreads = 4, kLines = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) {
                PortLogWrite(0, 32, "thread %d line %d", t, i);
                if (i % 50 == 0)
                    PortLogReopen();  // a rotation while others write
            }
        });
    for (std::thread& th : threads)
        th.join();
    std::vector<std::string> lines = Lines(LogFile("d_Eth_40000_120814.log"));
    EXPECT_EQ(lines.size(), size_t(kThreads * kLines));
    for (const std::string& l : lines)
        EXPECT_EQ(l.rfind("- (14:05:09.007) <LABEL> thread ", 0), 0u) << l;
}

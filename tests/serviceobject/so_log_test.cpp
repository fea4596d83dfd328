// The trace log on disk: line bytes, one file per device and hour, the fatal marker, the sweep of
// old files at the last user's stop, and lines from several threads.
#include "KVTLoger.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

SYSTEMTIME g_fixed;
void FixedClock(SYSTEMTIME* t) { *t = g_fixed; }
void SetClock(int month, int day, int hour, int minute, int second, int milli)
{
    g_fixed = SYSTEMTIME{};
    g_fixed.wYear = 2026;
    g_fixed.wMonth = WORD(month);
    g_fixed.wDay = WORD(day);
    g_fixed.wHour = WORD(hour);
    g_fixed.wMinute = WORD(minute);
    g_fixed.wSecond = WORD(second);
    g_fixed.wMilliseconds = WORD(milli);
}

// Sets a file's last access (and write) time to days ago.
bool BackDate(const std::string& path, int days)
{
    HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER u;
    u.LowPart = now.dwLowDateTime;
    u.HighPart = now.dwHighDateTime;
    u.QuadPart -= ULONGLONG(days) * 86400ULL * 10000000ULL;
    FILETIME t;
    t.dwLowDateTime = u.LowPart;
    t.dwHighDateTime = u.HighPart;
    BOOL ok = SetFileTime(h, nullptr, &t, &t);
    CloseHandle(h);
    return ok != FALSE;
}

TEST(TraceLog, LinesAndFilesPerDeviceAndHour)
{
    CTempFolder dir;
    CKVTLoger log;
    log.SetClock(FixedClock);
    log.Start(1, dir.Path().c_str(), "LP1");
    log.Start(1, "C:\\elsewhere", "LP2");  // the first user's folder stays
    ASSERT_TRUE(log.IsEnabled());
    EXPECT_EQ(dir.Path(), std::string(log.GetFolder()));

    SetClock(12, 9, 13, 59, 59, 999);
    log.WriteLog(0, "LP1", "m_ctlLabelPrinter1.ClaimDevice(%d);", 500);
    log.WriteLog(10, "LP1", "value %x", 255);
    log.WriteLog(0, "LP2", "%02d", 5);
    SetClock(12, 9, 14, 0, 0, 0);
    log.WriteLog(0, "LP1", "next hour");

    EXPECT_EQ("- (13:59:59.999) m_ctlLabelPrinter1.ClaimDevice(500);\r\n- (13:59:59.999) !ERROR: value ff\r\n",
              dir.Read("Log\\LP1_Mon_120913.log"));
    EXPECT_EQ("- (14:00:00.000) next hour\r\n", dir.Read("Log\\LP1_Mon_120914.log"));
    EXPECT_EQ("- (13:59:59.999) 2d\r\n", dir.Read("Log\\LP2_Mon_120913.log"));
    EXPECT_EQ((std::vector<std::string>{"LP1_Mon_120913.log", "LP1_Mon_120914.log", "LP2_Mon_120913.log"}),
              dir.List("Log"));
    log.Stop("LP2");
    log.Stop("LP1");
    EXPECT_FALSE(log.IsEnabled());
}

TEST(TraceLog, NothingWithoutAUsableFolderOrDeviceName)
{
    CTempFolder dir;
    struct
    {
        int logOn;
        std::string folder;
        const char* device;
    } rows[] = {
        {0, dir.Path(), "LP1"},           // log off for the device
        {1, "relative\\dir", "LP1"},      // not a full path
        {1, "", "LP1"},
        {1, dir.Path(), "..\\..\\evil"},  // would name a file outside the Log folder
        {1, dir.Path(), "a:b"},
    };
    for (const auto& r : rows) {
        CKVTLoger log;
        log.Start(r.logOn, r.folder.c_str(), r.device);
        log.WriteLog(0, r.device, "line");
        log.Stop(r.device);
        EXPECT_TRUE(dir.List("Log").empty()) << r.folder << " " << r.device;
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(dir.File("Log").c_str())) << r.device;
    }
}

TEST(TraceLog, UnopenableFileLeavesTheFatalMarker)
{
    CTempFolder dir;
    CKVTLoger log;
    log.SetClock(FixedClock);
    SetClock(3, 4, 5, 6, 7, 8);
    log.Start(1, dir.Path().c_str(), "LP1");
    // A folder where the hour's file should be: the open fails.
    ASSERT_TRUE(CreateDirectoryA(dir.File("Log").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(dir.File("Log\\LP1_Mon_030405.log").c_str(), nullptr));
    log.WriteLog(0, "LP1", "lost");
    log.WriteLog(0, "LP1", "lost too");
    EXPECT_EQ("Log file creation error.\r\nLog file creation error.\r\n", dir.Read("Log\\LP1_Fatal_030405.log"));
    RemoveDirectoryA(dir.File("Log\\LP1_Mon_030405.log").c_str());
    log.Stop("LP1");
}

TEST(TraceLog, LastStopSweepsOldFilesOfThisSystemOnly)
{
    CTempFolder dir;
    ASSERT_TRUE(CreateDirectoryA(dir.File("Log").c_str(), nullptr));
    struct
    {
        const char* name;
        int ageDays;
        bool survives;
    } files[] = {
        {"LP9_Mon_010203.log", 15, false},      {"LP9_Fatal_010203.log", 15, false},
        {"d_Com_10000_010203.log", 15, false},  {"d_Qln_010203.log", 15, false},
        {"Com_10000_0102.0304.bin", 15, false}, {"LP9_Mon_010204.log", 13, true},
        {"d_Net_010203.log", 13, true},         {"readme.txt", 15, true},
        {"settings.ini", 30, true},             {"LP9_Mon_0102.log", 15, true},
    };
    for (const auto& f : files) {
        ASSERT_TRUE(dir.Write(std::string("Log\\") + f.name, "x"));
        ASSERT_TRUE(BackDate(dir.File(std::string("Log\\") + f.name), f.ageDays));
    }
    CKVTLoger log;
    log.SetClock(FixedClock);
    SetClock(11, 12, 13, 14, 15, 16);
    log.Start(1, dir.Path().c_str(), "LP1");
    log.Start(1, dir.Path().c_str(), "LP2");
    log.Stop("LP2");  // not the last user: nothing swept
    for (const auto& f : files)
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(dir.File(std::string("Log\\") + f.name).c_str()));
    log.Stop("LP1");
    for (const auto& f : files)
        EXPECT_EQ(f.survives,
                  GetFileAttributesA(dir.File(std::string("Log\\") + f.name).c_str()) != INVALID_FILE_ATTRIBUTES)
            << f.name;
    // The last user leaves the current hour's file.
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(dir.File("Log\\LP1_Mon_111213.log").c_str()));
}

TEST(TraceLog, LinesFromSeveralThreadsStayWhole)
{
    CTempFolder dir;
    CKVTLoger log;
    log.SetClock(FixedClock);
    SetClock(6, 7, 8, 9, 10, 11);
    log.Start(1, dir.Path().c_str(), "LP1");
    const int kThreads = 4, kLines = 150;
    std::string filler(200, 'z');
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&log, &filler, t] {
            for (int i = 0; i < kLines; ++i)
                log.WriteLog(0, "LP1", "thread %d line %d %s", t, i, filler.c_str());
        });
    for (auto& th : threads)
        th.join();
    std::vector<std::string> lines = SplitLines(dir.Read("Log\\LP1_Mon_060708.log"));
    ASSERT_EQ(size_t(kThreads * kLines), lines.size());
    std::vector<int> next(kThreads, 0);
    for (const std::string& l : lines) {
        int t = -1, i = -1;
        char tail[256] = "";
        ASSERT_EQ(3, sscanf(l.c_str(), "- (08:09:10.011) thread %d line %d %255s", &t, &i, tail)) << l;
        ASSERT_TRUE(t >= 0 && t < kThreads);
        EXPECT_EQ(next[size_t(t)]++, i);  // each thread's lines in its own order
        EXPECT_EQ(filler, tail);
    }
    log.Stop("LP1");
}

// A clock that holds the writer of one thread inside the log's lock until it is ended by force.
HANDLE g_inside = nullptr;
HANDLE g_never = nullptr;
volatile DWORD g_heldThread = 0;
void HoldingClock(SYSTEMTIME* t)
{
    *t = g_fixed;
    if (GetCurrentThreadId() == g_heldThread) {
        SetEvent(g_inside);
        WaitForSingleObject(g_never, INFINITE);
    }
}

struct WriteJob
{
    CKVTLoger* log;
    const char* text;
};

DWORD WINAPI WriteOneLine(LPVOID p)
{
    auto* job = static_cast<WriteJob*>(p);
    job->log->WriteLog(0, "LP1", "%s", job->text);
    return 0;
}

TEST(TraceLog, AWriterEndedByForceBlocksNoLaterLine)
{
    CTempFolder dir;
    CKVTLoger log;
    log.SetClock(HoldingClock);
    SetClock(3, 4, 5, 6, 7, 8);
    log.Start(1, dir.Path().c_str(), "LP1");
    g_inside = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g_never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(g_inside && g_never);

    WriteJob lost{&log, "ended while writing"};
    DWORD id = 0;
    HANDLE held = CreateThread(nullptr, 0, WriteOneLine, &lost, CREATE_SUSPENDED, &id);
    ASSERT_TRUE(held != nullptr);
    g_heldThread = id;
    ResumeThread(held);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(g_inside, 30000));
    TerminateThread(held, 1);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(held, 30000));
    CloseHandle(held);

    // The next line of any thread still gets written (a lock left held would block it for ever;
    // one the writer merely waited out would drop it).
    WriteJob next{&log, "after"};
    HANDLE writer = CreateThread(nullptr, 0, WriteOneLine, &next, 0, nullptr);
    ASSERT_TRUE(writer != nullptr);
    bool ended = WaitForSingleObject(writer, 60000) == WAIT_OBJECT_0;
    if (!ended)
        TerminateThread(writer, 1);
    CloseHandle(writer);
    EXPECT_TRUE(ended);
    EXPECT_EQ("- (05:06:07.008) after\r\n", dir.Read("Log\\LP1_Mon_030405.log"));
    log.Stop("LP1");
    SetEvent(g_never);
    CloseHandle(g_inside);
    CloseHandle(g_never);
}

TEST(TraceLog, ProcessWideWriterIsMadeOnceWhenManyThreadsAskAtOnce)
{
    delete GetLoger();  // the next call makes it anew
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const int kThreads = 16;
    CKVTLoger* got[kThreads] = {};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] {
            WaitForSingleObject(go, INFINITE);
            got[i] = GetLoger();
        });
    SetEvent(go);
    for (std::thread& t : threads)
        t.join();
    CloseHandle(go);
    CKVTLoger* made = GetLoger();
    for (int i = 0; i < kThreads; ++i)
        EXPECT_EQ(made, got[i]) << "thread " << i;
}

} // namespace

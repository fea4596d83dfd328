// The printer status inside the object: frames and answers into the cover and paper properties,
// the extended error, the StatusUpdate values queued and the power state; the result code a
// status stands for; which queued values are still current at delivery; the effects of the
// setters the configuration calls.
#include "LABELPrinter.h"
#include "LabelStatus.h"
#include "OposConst.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

// An object as OpenService leaves it for the status side: an event list, enabled, with the
// sensors and power reporting a row asks for.
struct Printer
{
    Printer(bool empty = true, bool nearEnd = true, bool cover = true)
    {
        so = new CLABELPrinter;
        so->ExternalAddRef();
        so->m_hEventListMutex = CreateMutexA(nullptr, FALSE, nullptr);
        so->m_hEventsPendingEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        so->State = OPOS_S_IDLE;
        so->DeviceEnabled = TRUE;
        so->PowerNotify = TRUE;
        so->m_config.CapPowerReporting = 1;
        so->m_config.CapRecEmptySensor = empty;
        so->m_config.CapRecNearEndSensor = nearEnd;
        so->m_config.CapCoverSensor = cover;
    }
    ~Printer()
    {
        so->State = OPOS_S_CLOSED;  // nothing was opened: the release gives back the handles
        so->ExternalRelease();
    }
    std::vector<long> Events()
    {
        std::vector<long> out;
        for (COPOSEvent* e : so->m_EventList) {
            EXPECT_EQ(COPOSEvent::StatusUpdate, e->m_nType);
            out.push_back(static_cast<CStatusUpdateEvent*>(e)->Data);
            delete e;
        }
        so->m_EventList.clear();
        return out;
    }
    void Frame(BYTE b0, BYTE b1, BYTE b2)
    {
        BYTE f[4] = {b0, b1, b2, 0x0F};
        so->ProcessStatusBytes(f);
    }
    void SetPort(const char* name)
    {
        DeviceOptionRelease(so->m_config.m_dop);
        so->m_config.m_dop.strPortName = CString(name).AddRefHandle();
    }
    CLABELPrinter* so;
};

TEST(StatusFrames, PropertiesEventsAndPowerByFrameAndSensors)
{
    struct Row
    {
        const char* what;
        BYTE b0, b1, b2;
        bool empty, nearEnd, cover;  // sensors
        BOOL coverOpen, recEmpty, recNearEnd;
        long error;
        std::vector<long> events;
        long power;
    } rows[] = {
        {"all well", 0x14, 0, 0, true, true, true, 0, 0, 0, 0, {26, 12, 2001}, 2001},
        {"cover open", 0x34, 0, 0, true, true, true, 1, 0, 0, 0, {11, 2003}, 2003},
        {"cover open and near end", 0x34, 0, 0x03, true, true, true, 1, 0, 1, 0, {11, 2003}, 2003},
        {"paper empty", 0x14, 0, 0x0C, true, true, true, 0, 1, 0, 0, {24, 12, 2003}, 2003},
        {"paper empty, one bit", 0x14, 0, 0x04, true, true, true, 0, 1, 0, 0, {24, 12, 2003}, 2003},
        {"near end", 0x14, 0, 0x02, true, true, true, 0, 0, 1, 0, {25, 12, 2001}, 2001},
        {"empty and near end bits", 0x14, 0, 0x0F, true, true, true, 0, 1, 0, 0, {24, 12, 2003}, 2003},
        {"near end sensor only", 0x14, 0, 0x01, false, true, false, 0, 0, 1, 0, {25, 2001}, 2001},
        {"empty needs its own sensor", 0x14, 0, 0x0C, false, true, true, 0, 1, 0, 0, {12, 2003}, 2003},
        {"no sensors", 0x34, 0, 0x0C, false, false, false, 1, 1, 0, 0, {2003}, 2003},
        {"unrecoverable", 0x14, 0x20, 0, true, true, true, 0, 0, 0, 401, {26, 12, 2001}, 2001},
        {"cutter", 0x14, 0x08, 0, true, true, true, 0, 0, 0, 402, {26, 12, 2001}, 2001},
        {"mechanical", 0x14, 0x04, 0, true, true, true, 0, 0, 0, 403, {26, 12, 2001}, 2001},
        {"unrecoverable first", 0x14, 0x2C, 0, true, true, true, 0, 0, 0, 401, {26, 12, 2001}, 2001},
        {"cutter before mechanical", 0x14, 0x0C, 0, true, true, true, 0, 0, 0, 402, {26, 12, 2001}, 2001},
    };
    for (const Row& r : rows) {
        Printer p(r.empty, r.nearEnd, r.cover);
        p.Frame(r.b0, r.b1, r.b2);
        EXPECT_EQ(r.coverOpen, p.so->CoverOpen) << r.what;
        EXPECT_EQ(r.recEmpty, p.so->RecEmpty) << r.what;
        EXPECT_EQ(r.recNearEnd, p.so->RecNearEnd) << r.what;
        EXPECT_EQ(r.error, p.so->m_nPrinterError) << r.what;
        EXPECT_TRUE(p.so->m_bStatusKnown) << r.what;
        EXPECT_EQ(r.events, p.Events()) << r.what;
        EXPECT_EQ(r.power, p.so->PowerState) << r.what;
        // The same status again is nothing new.
        p.Frame(r.b0, r.b1, r.b2);
        EXPECT_EQ(std::vector<long>{}, p.Events()) << r.what;
    }
}

TEST(StatusFrames, ChangesErrorClearingAndWhatIsNotInterpreted)
{
    Printer p;
    p.Frame(0x34, 0x08, 0x0C);
    EXPECT_EQ((std::vector<long>{24, 11, 2003}), p.Events());
    p.so->State = OPOS_S_ERROR;
    p.so->ErrorLevel = 3;
    p.so->ErrorString = "Cover Open";
    p.so->ResultCode = 114;  // the caller's last result is not the status side's to change
    p.Frame(0x14, 0, 0);
    EXPECT_EQ((std::vector<long>{26, 12, 2001}), p.Events());
    EXPECT_EQ(OPOS_S_IDLE, p.so->State);
    EXPECT_EQ(1, p.so->ErrorLevel);
    EXPECT_TRUE(p.so->ErrorString.IsEmpty());
    EXPECT_EQ(114, p.so->ResultCode);
    EXPECT_EQ(0, p.so->m_nPrinterError);

    // The other frame kind is logged and left alone: read as this one it would say "cover open".
    p.Frame(0x35, 0, 0x0C);
    EXPECT_FALSE(p.so->CoverOpen);
    EXPECT_FALSE(p.so->RecEmpty);
    EXPECT_EQ(std::vector<long>{}, p.Events());

    // Disabled: the properties follow, nothing is reported.
    p.so->DeviceEnabled = FALSE;
    p.so->PowerState = OPOS_PS_UNKNOWN;
    p.Frame(0x34, 0, 0);
    EXPECT_TRUE(p.so->CoverOpen);
    EXPECT_EQ(std::vector<long>{}, p.Events());
    EXPECT_EQ(OPOS_PS_UNKNOWN, p.so->PowerState);
}

TEST(PowerState, ReportedOnlyWithPowerReportingAndNotify)
{
    struct Row
    {
        bool enabled, reporting, notify;
        long state;
        std::vector<long> events;
    } rows[] = {
        {true, true, true, 2003, {2003}},
        {true, true, false, 2003, {}},
        {true, false, true, 2000, {}},
        {false, true, true, 2000, {}},
    };
    for (const Row& r : rows) {
        Printer p;
        p.so->DeviceEnabled = r.enabled;
        p.so->m_config.CapPowerReporting = r.reporting;
        p.so->PowerNotify = r.notify;
        p.so->SetPowerState(2003);
        EXPECT_EQ(r.state, p.so->PowerState);
        EXPECT_EQ(r.events, p.Events());
        p.so->SetPowerState(2003);  // no change: no event
        EXPECT_EQ(std::vector<long>{}, p.Events());
    }
    Printer p;
    p.so->SetPowerState(2003);
    p.so->State = OPOS_S_ERROR;
    p.so->SetPowerState(2001);  // back on line clears the error state
    EXPECT_EQ((std::vector<long>{2003, 2001}), p.Events());
    EXPECT_EQ(OPOS_S_IDLE, p.so->State);
}

TEST(StatusFrames, AGoodStatusLeavesTheStateOfQueuedJobsAlone)
{
    struct Row
    {
        const char* what;
        LONG queued, inProgress;
        long state, level;        // before
        long stateAfter, levelAfter;
    } rows[] = {
        {"a failed synchronous label", 0, 0, 4, 2, 2, 1},
        {"jobs waiting", 2, 0, 3, 1, 3, 1},
        {"a label being written", 0, 1, 3, 1, 3, 1},
        {"an ErrorEvent awaiting its answer", 0, 1, 4, 2, 4, 2},
        {"the last job between its pass and its completion", 0, 0, 3, 1, 3, 1},
    };
    for (const Row& r : rows) {
        Printer p;
        p.so->m_nQueued = r.queued;
        p.so->m_nInProgress = r.inProgress;
        p.so->State = r.state;
        p.so->ErrorLevel = r.level;
        p.so->ErrorString = "Cover Open (114/201)";
        p.Frame(0x14, 0, 0);
        EXPECT_EQ(r.stateAfter, p.so->State) << r.what;
        EXPECT_EQ(r.levelAfter, p.so->ErrorLevel) << r.what;
        EXPECT_EQ(r.stateAfter == OPOS_S_IDLE, p.so->ErrorString.IsEmpty()) << r.what;
        p.Events();
    }
}

TEST(PowerState, ThePortsPowerAndThePrintersStatusAreKeptApart)
{
    Printer p;
    p.Frame(0x34, 0, 0);  // cover open
    EXPECT_EQ((std::vector<long>{11, 2003}), p.Events());
    // A reconnect: the port back on line does not make a printer with its cover open on line.
    p.so->OnPortPowerState(2003);
    p.so->OnPortPowerState(2001);
    EXPECT_EQ(std::vector<long>{}, p.Events());
    EXPECT_EQ(2003, p.so->PowerState);
    p.Frame(0x14, 0, 0);
    EXPECT_EQ((std::vector<long>{26, 12, 2001}), p.Events());
    // A port off line is not put on line by a good status; its return is.
    p.so->OnPortPowerState(2003);
    p.Frame(0x14, 0, 0);
    EXPECT_EQ(std::vector<long>{2003}, p.Events());
    p.so->OnPortPowerState(2001);
    EXPECT_EQ(std::vector<long>{2001}, p.Events());
}

// The print thread sets the error, the status side clears it on two threads (the status thread
// and a status answer), the application reads it: a shared string written by one while another
// copies it would be freed twice, and two interpretations at once would report a change twice.
TEST(ErrorState, StatusOnTwoThreadsWhileTheErrorIsWrittenAndRead)
{
    Printer p;
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; !stop; ++i)
            p.so->SetErrorState(2, 2, GetResultCodeText(114, 201 + (i & 1)));
    });
    auto status = [&] {
        for (int i = 0; !stop; ++i)
            p.Frame(i & 1 ? 0x34 : 0x14, 0, 0);
    };
    std::thread a(status), b(status);
    DWORD start = GetTickCount();
    for (int n = 0; n < 200000 && GetTickCount() - start < 3000; ++n)
        SysFreeString(p.so->GetPropertyString(1008005));
    stop = true;
    writer.join();
    a.join();
    b.join();
    // Each change reported once: the cover values and the power values alternate.
    long lastCover = 0, lastPower = 0;
    int repeats = 0;
    for (long v : p.Events()) {
        long& last = v < 2000 ? lastCover : lastPower;
        repeats += v == last;
        last = v;
    }
    EXPECT_EQ(0, repeats);

    // A holder that keeps the lock past its bound: the error and the status are not written
    // unlocked, they are left as they were.
    long level = p.so->ErrorLevel;
    BOOL cover = p.so->CoverOpen;
    std::atomic<bool> held{false}, done{false};
    std::thread holder([&] {
        p.so->m_statusLock.Lock();
        held = true;
        while (!done)
            Sleep(10);
        p.so->m_statusLock.Unlock();
    });
    ASSERT_TRUE(WaitFor([&] { return held.load(); }, 10000));
    p.so->SetErrorState(level == 2 ? 1 : 2, 2, "held");
    p.Frame(cover ? 0x14 : 0x34, 0, 0);
    done = true;
    holder.join();
    EXPECT_EQ(level, p.so->ErrorLevel);
    EXPECT_EQ(cover, p.so->CoverOpen);
}

TEST(ResultCodes, PrecedenceOfWhatTheStatusSays)
{
    struct Row
    {
        const char* what;
        long error;
        BOOL cover, empty;
        long power;
        BOOL known;
        const char* port;
        BOOL async;
        long rc, rce;
    } rows[] = {
        {"all well", 0, 0, 0, 2001, 1, "COM3", 0, 0, 0},
        {"error first", 402, 1, 1, 2003, 1, "COM3", 0, 111, 402},
        {"cover before paper", 0, 1, 1, 2003, 1, "COM3", 0, 114, 201},
        {"paper", 0, 0, 1, 2003, 1, "COM3", 0, 114, 203},
        {"off line", 0, 0, 0, 2003, 1, "COM3", 0, 107, 0},
        {"off off line", 0, 0, 0, 2004, 1, "COM3", 0, 107, 0},
        {"no status yet", 0, 0, 0, 2000, 0, "127.0.0.1", 0, 113, 0},
        {"off line before busy", 0, 0, 0, 2003, 0, "127.0.0.1", 0, 107, 0},
        {"usb printing synchronously: error", 401, 0, 0, 2001, 1, "\\\\?\\usb#vid", 0, 0, 0},
        {"usb printing synchronously: off line", 0, 0, 0, 2003, 1, "\\\\?\\usb#vid", 0, 0, 0},
        {"usb printing synchronously: no status", 0, 0, 0, 2000, 0, "\\\\?\\usb#vid", 0, 0, 0},
        {"usb printing synchronously: cover", 0, 1, 0, 2001, 1, "\\\\?\\usb#vid", 0, 114, 201},
        {"usb printing asynchronously", 403, 0, 0, 2001, 1, "\\\\?\\usb#vid", 1, 111, 403},
    };
    for (const Row& r : rows) {
        Printer p;
        p.SetPort(r.port);
        p.so->m_nPrinterError = r.error;
        p.so->CoverOpen = r.cover;
        p.so->RecEmpty = r.empty;
        p.so->m_nPortPower = r.power;  // PowerState stays 2000, as without CapPowerReporting
        p.so->m_bStatusKnown = r.known;
        p.so->AsyncMode = r.async;
        long rc = -1, rce = -1;
        BOOL ok = p.so->P_PrintStateToRC(&rc, &rce);
        EXPECT_EQ(r.rc, rc) << r.what;
        EXPECT_EQ(r.rce, rce) << r.what;
        EXPECT_EQ(r.rc == 0, ok != 0) << r.what;  // the result and the BOOL agree
        // Without a place of its own the object's result pair takes the codes.
        p.so->ResultCode = p.so->ResultCodeExtended = -1;
        p.so->P_PrintStateToRC(nullptr, nullptr);
        EXPECT_EQ(r.rc, p.so->ResultCode) << r.what;
        EXPECT_EQ(r.rce, p.so->ResultCodeExtended) << r.what;
    }
}

TEST(Delivery, ValuesThatAreNoLongerCurrentAreDropped)
{
    struct Row
    {
        long data;
        long lastCover, lastPaper, power;
        BOOL flagWhenIdle;
        BOOL delivered;
    } rows[] = {
        {11, 11, -1, 2000, 0, 1}, {11, 12, -1, 2000, 0, 0}, {12, 12, -1, 2000, 0, 1}, {12, 11, -1, 2000, 0, 0},
        {24, -1, 24, 2000, 0, 1}, {24, -1, 26, 2000, 0, 0}, {25, -1, 25, 2000, 0, 1}, {26, -1, 25, 2000, 0, 0},
        {2001, -1, -1, 2001, 0, 1}, {2003, -1, -1, 2001, 0, 0}, {2004, -1, -1, 2004, 0, 1},
        {2002, -1, -1, 2001, 0, 1}, {1001, -1, -1, 2000, 1, 1}, {1001, -1, -1, 2000, 0, 0},
        {45, -1, -1, 2000, 0, 0}, {48, -1, -1, 2000, 0, 0}, {77, -1, -1, 2000, 0, 1},
    };
    for (const Row& r : rows) {
        Printer p;
        p.so->m_nLastCover = r.lastCover;
        p.so->m_nLastPaper = r.lastPaper;
        p.so->PowerState = r.power;
        p.so->FlagWhenIdle = r.flagWhenIdle;
        CStatusUpdateEvent e(r.data);
        EXPECT_EQ(r.delivered, p.so->DeliverEvent(&e)) << r.data;
        if (r.data == 1001) {
            EXPECT_FALSE(p.so->FlagWhenIdle);
        }
    }
}

// ---- The setters the configuration calls

TEST(ConfigSetters, CharacterSetChecksItsListAndSetsTheCodePage)
{
    Printer p;
    p.so->m_config.CharacterSetList = "437,850(Latin),1252,932,949,3,4,998,999";
    p.so->m_config.DownloadFonts = {{'A', 3}, {'B', 0}, {'C', 4}};
    struct Row
    {
        long value;
        long rc;
        int page;
        long stored;
    } rows[] = {
        {437, 0, 0, 437}, {850, 0, 1, 850}, {1252, 0, 6, 1252}, {998, 0, 0, 998}, {932, 0, 0, 932},
        {3, 0, 0, 3},     {4, 0, 0, 4},     {85, 106, -1, -1}, {43, 106, -1, -1}, {865, 106, -1, -1},
    };
    for (const Row& r : rows) {
        p.so->CharacterSet = -1;
        p.so->m_builder.SetCodePage(-1);
        EXPECT_EQ(r.rc, p.so->ApplyCharacterSet(r.value)) << r.value;
        EXPECT_EQ(r.stored, p.so->CharacterSet) << r.value;
        EXPECT_EQ(r.page, p.so->m_builder.CodePage()) << r.value;
    }
    int font = 0;
    EXPECT_EQ(-1, CLABELPrinter::CodePageNumber(3, &font));  // only through the downloaded fonts
    EXPECT_EQ(0, CLABELPrinter::CodePageNumber(949, &font));
    EXPECT_EQ(11, font);
    EXPECT_EQ(22, CLABELPrinter::CodePageNumber(858, &font));
    EXPECT_EQ(-1, font);

    // Listed, but neither a code page nor a downloaded font's set.
    p.so->m_config.CharacterSetList = "437,12";
    EXPECT_EQ(106, p.so->ApplyCharacterSet(12));
    EXPECT_FALSE(p.so->IsInCharacterSetList(43));
    EXPECT_TRUE(p.so->IsInCharacterSetList(12));
    EXPECT_FALSE(p.so->IsInCharacterSetList(1));
}

TEST(ConfigSetters, PageModeAreaDirectionAndPositions)
{
    Printer p;
    p.so->m_config.PaperWidth = 800;
    p.so->m_config.PaperLength = 600;
    p.so->m_config.GapLength = 24;
    p.so->m_config.LeftMargin = 5;
    p.so->m_config.TopMargin = 7;
    EXPECT_EQ(0, p.so->ApplyPageModeArea("800,600"));  // the configured page
    p.so->m_config.RecLineWidthDots = 832;             // the model's line

    // The usable line width is the page less its margin where that is narrower than the line.
    struct Line { const char* area; long dots; } lines[] = {
        {"0,0,800,600", 800 - 5}, {"10,20,400,300", 400 - 15}, {"0,0,900,600", 832}, {"10,20", 800 - 5},
    };
    for (const Line& l : lines) {
        p.so->ApplyPageModePrintArea(l.area);
        EXPECT_EQ(l.dots, p.so->m_nLineWidthDots) << l.area;
        EXPECT_EQ(l.dots, p.so->GetPropertyNumber(8020)) << l.area;
    }

    EXPECT_EQ(0, p.so->ApplyPageModePrintArea("10,20,400,300"));
    EXPECT_EQ(400, p.so->m_builder.PaperWidth());
    EXPECT_EQ(300, p.so->m_builder.PaperLength());
    EXPECT_EQ(24, p.so->m_builder.GapLength());
    EXPECT_EQ(15, p.so->m_builder.LeftMargin());
    EXPECT_EQ(27, p.so->m_builder.TopMargin());
    // Fewer than four numbers: the whole paper, and a refusal.
    EXPECT_EQ(106, p.so->ApplyPageModePrintArea("10,20"));
    EXPECT_STREQ("0,0,800,600", p.so->PageModePrintAreaText());
    EXPECT_EQ(800, p.so->m_builder.PaperWidth());
    EXPECT_EQ(5, p.so->m_builder.LeftMargin());
    // In the other map modes the configured page is still 800 x 600 dots, and reads in the
    // mode's units.
    for (long mode : {2L, 3L, 4L}) {
        ASSERT_EQ(0, p.so->ApplyMapMode(mode));
        EXPECT_EQ(106, p.so->ApplyPageModePrintArea("10,20")) << mode;
        EXPECT_EQ(800, p.so->m_builder.PaperWidth()) << mode;
        EXPECT_EQ(600, p.so->m_builder.PaperLength()) << mode;
    }
    ASSERT_EQ(0, p.so->ApplyMapMode(3));
    p.so->ApplyPageModePrintArea("10,20");
    const MapModeRow& out = p.so->m_config.m_mapMode.widthOut[3];
    EXPECT_EQ("0,0," + std::to_string(MapModeTables::Convert(800, out)) + "," + std::to_string(MapModeTables::Convert(600, out)),
              std::string(p.so->PageModePrintAreaText().GetString()));
    EXPECT_NE(std::string("0,0,800,600"), p.so->PageModePrintAreaText().GetString());
    // What an application reads in one map mode and writes back is the same area in dots, and
    // the page-mode positions read back in the mode of the reading.
    ASSERT_EQ(0, p.so->ApplyMapMode(1));
    ASSERT_EQ(0, p.so->ApplyPageModePrintArea("10,20,400,300"));
    ASSERT_EQ(0, p.so->ApplyPageModeHorizontalPosition(40));
    ASSERT_EQ(0, p.so->ApplyPageModeVerticalPosition(50));
    for (long mode : {2L, 3L, 4L}) {
        ASSERT_EQ(0, p.so->ApplyMapMode(mode));
        EXPECT_EQ(0, p.so->ApplyPageModePrintArea(p.so->PageModePrintAreaText())) << mode;
        EXPECT_EQ(400, p.so->m_builder.PaperWidth()) << mode;
        EXPECT_EQ(300, p.so->m_builder.PaperLength()) << mode;
        EXPECT_EQ(15, p.so->m_builder.LeftMargin()) << mode;
        EXPECT_EQ(27, p.so->m_builder.TopMargin()) << mode;
        EXPECT_EQ(0, p.so->ApplyPageModeHorizontalPosition(p.so->GetPropertyNumber(8047))) << mode;
        EXPECT_EQ(0, p.so->ApplyPageModeVerticalPosition(p.so->GetPropertyNumber(8050))) << mode;
        EXPECT_EQ(40, p.so->m_nPageModeX) << mode;
        EXPECT_EQ(50, p.so->m_nPageModeY) << mode;
    }
    ASSERT_EQ(0, p.so->ApplyMapMode(4));
    EXPECT_EQ(MapModeTables::Convert(40, p.so->m_config.m_mapMode.widthOut[4]), p.so->GetPropertyNumber(8047));
    ASSERT_EQ(0, p.so->ApplyMapMode(1));
    p.so->ApplyPageModePrintArea("10,20");

    struct Dir
    {
        long value, rc, rotateSpecial;
        int rotation;
    } dirs[] = {{1, 0, 1, 0}, {2, 0, 258, 3}, {3, 0, 259, 2}, {4, 0, 257, 1}, {0, 106, 257, 1}, {5, 106, 257, 1}};
    for (const Dir& d : dirs) {
        EXPECT_EQ(d.rc, p.so->ApplyPageModePrintDirection(d.value)) << d.value;
        EXPECT_EQ(d.rotateSpecial, p.so->RotateSpecial) << d.value;
        EXPECT_EQ(d.rotation, p.so->m_builder.Rotation()) << d.value;
    }

    EXPECT_EQ(0, p.so->ApplyPageModeHorizontalPosition(40));
    EXPECT_EQ(0, p.so->ApplyPageModeVerticalPosition(50));
    EXPECT_EQ(40, p.so->m_builder.X());
    EXPECT_EQ(50, p.so->m_builder.Y());
    EXPECT_EQ(106, p.so->ApplyPageModeHorizontalPosition(-1));
    EXPECT_EQ(106, p.so->ApplyPageModeVerticalPosition(-1));
    EXPECT_EQ(40, p.so->GetPropertyNumber(8047));
    EXPECT_EQ(50, p.so->GetPropertyNumber(8050));
}

TEST(ConfigSetters, RecLineCharsPicksTheLineWidthAndKeepsTheSpacingInRange)
{
    Printer p;
    p.so->m_config.LinecharsNormal = 42;
    p.so->m_config.LinecharsCompressed = 56;
    struct Row
    {
        long value, rc, chars;
    } rows[] = {{5, 0, 42}, {42, 0, 42}, {43, 0, 56}, {56, 0, 56}, {57, 106, 56}};
    for (const Row& r : rows) {
        p.so->RecLineHeight = 24;  // dots in map mode 1
        p.so->RecLineSpacing = 5;  // below the printer's range
        EXPECT_EQ(r.rc, p.so->ApplyRecLineChars(r.value)) << r.value;
        EXPECT_EQ(r.chars, p.so->RecLineChars) << r.value;
        EXPECT_EQ(12, p.so->RecLineSpacing) << r.value;
        EXPECT_EQ((24 + 12 + 143) / 12, p.so->RecLinesToPaperCut) << r.value;
    }
    p.so->ApplyRecLineSpacing(100);
    EXPECT_EQ(50, p.so->RecLineSpacing);
}

// This program carries no dialog resource: an interactive check that cannot show its dialog
// has tested nothing and says so.
TEST(Health, InteractiveCheckWithoutItsDialogFails)
{
    Printer p;
    p.so->m_Claimed = TRUE;
    EXPECT_EQ(111, p.so->CheckHealth(3));
    EXPECT_STREQ("CheckHealth: Failed", p.so->m_config.CheckHealthText);
    p.so->m_Claimed = FALSE;
}

} // namespace

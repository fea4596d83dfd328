// The failure roads end to end: the object in this process, the real port manager and
// transports, the printer simulator on a pty serial port and a loopback TCP port. For each fault
// and each way of printing, what the application is told and what the printer received.
#include "SoDevice.h"
#include "SoSim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {


enum class Fault { Silent, CutInLabel, CoverOpen, PaperEmpty, PowerOff };
enum class Mode { Sync, AsyncRetry, AsyncClear };

struct Case
{
    const char* what;
    bool serial;
    Fault fault;
    Mode mode;
    long rc, rce;  // of the failing method, or of the first ErrorEvent
};

std::string Name(const ::testing::TestParamInfo<Case>& i) { return i.param.what; }

class FaultMatrix : public ::testing::TestWithParam<Case>, protected SimPrinter
{
protected:
    void SetUp() override { ASSERT_TRUE(Start(GetParam().serial)) << sim.error(); }

    void Inject()
    {
        switch (GetParam().fault) {
        case Fault::Silent: ASSERT_TRUE(sim.silenceStatus(ep)); break;
        case Fault::CutInLabel: ASSERT_TRUE(sim.fault(ep, "rst-in-label", 60)); break;
        case Fault::CoverOpen: ASSERT_TRUE(sim.setStatus(ep, 0x40)); break;
        case Fault::PaperEmpty: ASSERT_TRUE(sim.setStatus(ep, 0x80)); break;
        case Fault::PowerOff:
            // A serial printer switched off answers nothing; a network one is gone.
            if (GetParam().serial) {
                ASSERT_TRUE(sim.silenceStatus(ep));
            } else {
                ASSERT_TRUE(sim.fault(ep, "refuse"));
                ASSERT_TRUE(sim.fault(ep, "rst"));
            }
            break;
        }
    }
    void Recover()
    {
        if (GetParam().fault == Fault::PowerOff && !GetParam().serial)
            sim.fault(ep, "accept");
        sim.setStatus(ep, 0x00);
    }

    // The label numbers that arrived whole, in the order of their first whole arrival; every
    // whole arrival of each is counted in `arrivals`.
    std::vector<int> Arrived()
    {
        std::vector<int> first;
        flagged = 0;
        arrivals.clear();
        for (const qlks::Label& l : sim.labels(ep)) {
            if (!l.complete)
                continue;
            flagged += l.flags != 0;
            std::string raw(l.raw.begin(), l.raw.end());
            size_t at = raw.find("LABEL-");
            int n = at == std::string::npos ? -1 : std::atoi(raw.c_str() + at + 6);
            if (arrivals[n]++ == 0)
                first.push_back(n);
        }
        return first;
    }
    // The labels that arrived whole more than once, leaving out those a retry may send again
    // (the ones with no completion when the fault came).
    std::vector<int> Duplicated(const std::set<int>& retried) const
    {
        std::vector<int> twice;
        for (const auto& a : arrivals)
            if (a.second > 1 && !retried.count(a.first))
                twice.push_back(a.first);
        return twice;
    }

    std::map<int, int> arrivals;
    int flagged = 0;
};

// One label of the device's builder naming its number, handed to the output path.
long PrintLabel(Device& dev, int n, BOOL async)
{
    char t[32];
    snprintf(t, sizeof t, "LABEL-%03d", n);
    return dev.PrintText(t, async);
}

// Answers the first ErrorEvent as told, once the fault has cleared; every later one (a
// transport still reconnecting) RETRY.
struct Answerer : ITestCoListener
{
    void OnServiceEvent(const TestCoEvent& e, long* response, long*, BSTR*) override
    {
        if (std::string(e.name) != "SOError" || !response)
            return;
        if (errors++ == 0) {
            recover();
            *response = answer;
        } else {
            *response = 11;
        }
    }
    std::function<void()> recover;
    long answer = 11;
    int errors = 0;
};

TEST_P(FaultMatrix, NoLabelIsReportedPrintedThatDidNotArriveWholeAndNoneIsLostUnreported)
{
    const Case& c = GetParam();
    bool async = c.mode != Mode::Sync;
    Device dev(w, async, "512");  // each label in one write: a socket takes a cut one whole
    ASSERT_EQ(0, dev.open);
    Answerer answerer;
    answerer.recover = [&] { Recover(); };
    answerer.answer = c.mode == Mode::AsyncClear ? 12 : 11;
    dev.co->SetListener(&answerer);

    if (!async) {
        ASSERT_EQ(0, PrintLabel(dev, 1, FALSE));
        Inject();
        EXPECT_EQ(c.rc, PrintLabel(dev, 2, FALSE));
        EXPECT_EQ(c.rce, dev.so->ResultCodeExtended);
        Recover();
        // Prints again once the fault has cleared (a transport reconnects first).
        long rc = -1;
        for (DWORD start = GetTickCount(); rc != 0 && GetTickCount() - start < 60000;)
            rc = PrintLabel(dev, 3, FALSE);
        EXPECT_EQ(0, rc);
        ASSERT_TRUE(sim.waitLabels(ep, 2, 30000)) << sim.error();
        std::vector<int> arrived = Arrived();
        EXPECT_EQ((std::vector<int>{1, 3}), arrived);  // label 2 failed: never whole
        EXPECT_EQ(std::vector<int>{}, Duplicated({}));
    } else {
        PrintLabel(dev, 1, TRUE);
        ASSERT_TRUE(dev.WaitForValue("SOOutputComplete", 1));
        Inject();
        dev.so->AsyncQueueMutex.Lock();
        PrintLabel(dev, 2, TRUE);
        PrintLabel(dev, 3, TRUE);
        dev.so->AsyncQueueMutex.Unlock();
        ASSERT_TRUE(dev.WaitFor("SOError", 1, 120000));
        if (c.mode == Mode::AsyncRetry) {
            ASSERT_TRUE(dev.WaitForValue("SOOutputComplete", 3, 120000));
        } else {
            ASSERT_TRUE(dev.WaitIdle(120000));
            PrintLabel(dev, 4, TRUE);
            ASSERT_TRUE(dev.WaitForValue("SOOutputComplete", 4, 120000));
        }
        TestCoEvent first = dev.Events("SOError")[0];
        EXPECT_EQ(c.rc, first.args[0]);
        EXPECT_EQ(c.rce, first.args[1]);
        std::vector<long> done;
        for (long id : dev.Completed())
            if (id != 0)  // the retry's line feed
                done.push_back(id);
        std::vector<int> arrived = Arrived();
        if (c.mode == Mode::AsyncRetry) {
            // Every label whole at least once, in order, each completed once.
            EXPECT_EQ((std::vector<long>{1, 2, 3}), done);
            EXPECT_EQ((std::vector<int>{1, 2, 3}), arrived);
        } else {
            // The cleared labels were reported by the ErrorEvent and get no completion.
            EXPECT_EQ((std::vector<long>{1, 4}), done);
            for (long id : done)
                EXPECT_NE(arrived.end(), std::find(arrived.begin(), arrived.end(), int(id))) << id;
            EXPECT_EQ(1, arrived.front());
            EXPECT_EQ(4, arrived.back());
        }
        // Labels 2 and 3 were under way when the fault came; label 1 had completed.
        EXPECT_EQ(std::vector<int>{}, Duplicated({2, 3}));
    }
    EXPECT_EQ(0, flagged);
    dev.co->SetListener(nullptr);
}

const Case kCases[] = {
    {"serial_silent_sync", true, Fault::Silent, Mode::Sync, 112, 0},
    {"serial_silent_retry", true, Fault::Silent, Mode::AsyncRetry, 112, 0},
    {"serial_silent_clear", true, Fault::Silent, Mode::AsyncClear, 112, 0},
    {"serial_cover_sync", true, Fault::CoverOpen, Mode::Sync, 114, 201},
    {"serial_cover_retry", true, Fault::CoverOpen, Mode::AsyncRetry, 114, 201},
    {"serial_cover_clear", true, Fault::CoverOpen, Mode::AsyncClear, 114, 201},
    {"serial_paper_sync", true, Fault::PaperEmpty, Mode::Sync, 114, 203},
    {"serial_paper_retry", true, Fault::PaperEmpty, Mode::AsyncRetry, 114, 203},
    {"serial_paper_clear", true, Fault::PaperEmpty, Mode::AsyncClear, 114, 203},
    {"serial_power_sync", true, Fault::PowerOff, Mode::Sync, 112, 0},
    {"serial_power_retry", true, Fault::PowerOff, Mode::AsyncRetry, 112, 0},
    {"serial_power_clear", true, Fault::PowerOff, Mode::AsyncClear, 112, 0},
    {"tcp_silent_sync", false, Fault::Silent, Mode::Sync, 112, 0},
    {"tcp_silent_retry", false, Fault::Silent, Mode::AsyncRetry, 112, 0},
    {"tcp_silent_clear", false, Fault::Silent, Mode::AsyncClear, 112, 0},
    {"tcp_cut_sync", false, Fault::CutInLabel, Mode::Sync, 107, 0},
    {"tcp_cut_retry", false, Fault::CutInLabel, Mode::AsyncRetry, 107, 0},
    {"tcp_cut_clear", false, Fault::CutInLabel, Mode::AsyncClear, 107, 0},
    {"tcp_cover_sync", false, Fault::CoverOpen, Mode::Sync, 114, 201},
    {"tcp_cover_retry", false, Fault::CoverOpen, Mode::AsyncRetry, 114, 201},
    {"tcp_cover_clear", false, Fault::CoverOpen, Mode::AsyncClear, 114, 201},
    {"tcp_paper_sync", false, Fault::PaperEmpty, Mode::Sync, 114, 203},
    {"tcp_paper_retry", false, Fault::PaperEmpty, Mode::AsyncRetry, 114, 203},
    {"tcp_paper_clear", false, Fault::PaperEmpty, Mode::AsyncClear, 114, 203},
    {"tcp_power_sync", false, Fault::PowerOff, Mode::Sync, 107, 0},
    {"tcp_power_retry", false, Fault::PowerOff, Mode::AsyncRetry, 107, 0},
    {"tcp_power_clear", false, Fault::PowerOff, Mode::AsyncClear, 107, 0},
};

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, ::testing::ValuesIn(kCases), Name);

} // namespace

// The Service Object end to end: the test Control Object, Corvane, the real port manager and
// transports, and the printer simulator on a loopback TCP port and on a pty serial port.
#include "SoDevice.h"
#include "SoSim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

class RegisteredCorvane : public ::testing::Environment
{
public:
    void SetUp() override { ASSERT_EQ(0, RunRegsvr32(CorvanePath(), false)); }
};
::testing::Environment* const g_registered = ::testing::AddGlobalTestEnvironment(new RegisteredCorvane);


std::vector<long> StatusValues(ITestControlObject* co, int from)
{
    std::vector<long> out;
    TestCoEvent e;
    for (int i = from; co->GetEvent(i, &e); ++i)
        out.push_back(e.args[0]);
    return out;
}

struct Transport
{
    const char* what;
    bool serial;
};

class SoSimTest : public ::testing::TestWithParam<Transport>, protected SimPrinter
{
protected:
    void SetUp() override { ASSERT_TRUE(Start(GetParam().serial)) << sim.error(); }
};

TEST_P(SoSimTest, ClaimInitialisesEnableAsksTheStatusFramesBecomeEvents)
{
    for (int round = 0; round < 2; ++round) {
        ITestControlObject* co = w.NewControlObject();
        ASSERT_EQ(0, co->Open("LP1")) << round;
        ASSERT_EQ(0, CallI4(co, "ClaimDevice", 5000)) << round;
        EXPECT_TRUE(sim.waitFor(ep, "init", round + 1, 20000)) << sim.error();
        EXPECT_EQ(0, SetNumber(co, 13, 1));
        ASSERT_TRUE(sim.setStatus(ep, 0x00));
        EXPECT_EQ(0, SetNumber(co, 3, 1));
        EXPECT_TRUE(sim.waitFor(ep, "status", round + 1, 20000)) << sim.error();
        ASSERT_TRUE(co->WaitForEvents(3, 20000));
        std::vector<long> first = StatusValues(co, 0);
        std::sort(first.begin(), first.end());
        EXPECT_EQ((std::vector<long>{12, 26, 2001}), first);
        EXPECT_EQ(2001, GetNumber(co, 14));

        // The printer's own status frame: cover open, then closed again.
        ASSERT_TRUE(sim.frame(ep, "asb", {0x34, 0x00, 0x00, 0x0F})) << sim.error();
        ASSERT_TRUE(co->WaitForEvents(5, 20000));
        EXPECT_EQ(1, GetNumber(co, 8003));
        ASSERT_TRUE(sim.frame(ep, "asb", {0x14, 0x00, 0x00, 0x0F})) << sim.error();
        ASSERT_TRUE(co->WaitForEvents(7, 20000));
        EXPECT_EQ((std::vector<long>{11, 2003, 12, 2001}), StatusValues(co, 3));
        EXPECT_EQ(0, GetNumber(co, 8003));

        EXPECT_EQ(0, SetNumber(co, 3, 0));
        EXPECT_EQ(0, co->Call("ReleaseDevice", 0, nullptr, nullptr));
        EXPECT_EQ(0, co->Close());
    }
    std::vector<std::string> lines = w.LogLines();
    EXPECT_FALSE(Contains(lines, "call TerminateThread : EventThread"));
    EXPECT_FALSE(Contains(lines, "!ERROR: CHK_LabelStatus - timeout"));
}

TEST_P(SoSimTest, AnAnswerThatComesLateIsWaitedForASilentPrinterTimesOut)
{
    ITestControlObject* co = w.NewControlObject();
    ASSERT_EQ(0, co->Open("LP1"));
    ASSERT_EQ(0, CallI4(co, "ClaimDevice", 5000));
    ASSERT_TRUE(sim.setStatus(ep, 0x80, 1500));  // paper out, answered after 1.5 s
    EXPECT_EQ(0, SetNumber(co, 3, 1));
    EXPECT_EQ(1, GetNumber(co, 8014));
    EXPECT_EQ(0, SetNumber(co, 3, 0));

    ASSERT_TRUE(sim.silenceStatus(ep));
    DWORD start = GetTickCount();
    EXPECT_EQ(0, SetNumber(co, 3, 1));
    EXPECT_GE(GetTickCount() - start, 4900u);  // the whole answer time-out
    EXPECT_TRUE(Contains(w.LogLines(), "!ERROR: CHK_LabelStatus - timeout"));
    EXPECT_EQ(0, co->Close());
}

// ---- Queued labels through the real transports (the object in this process)

// A label of the device's builder with one text line naming it.
std::string LabelText(int n)
{
    char t[32];
    snprintf(t, sizeof t, "LABEL-%03d", n);
    return t;
}

void QueueLabel(Device& dev, int n) { dev.PrintText(LabelText(n), TRUE); }

// The label numbers the printer received whole, in arrival order; counts the others.
std::vector<int> CompleteLabels(vesksim::SimClient& sim, int ep, int* partial, int* flagged, std::string* why)
{
    std::vector<int> out;
    *partial = *flagged = 0;
    for (const qlks::Label& l : sim.labels(ep)) {
        if (!l.complete) {
            ++*partial;
            continue;
        }
        if (l.flags && ++*flagged == 1)
            for (const std::string& p : l.problems)
                *why += p + "; ";
        std::string raw(l.raw.begin(), l.raw.end());
        size_t at = raw.find("LABEL-");
        out.push_back(at == std::string::npos ? -1 : std::atoi(raw.c_str() + at + 6));
    }
    return out;
}

TEST_P(SoSimTest, AHundredQueuedLabelsArriveCompleteAndInOrder)
{
    Device dev(w, true, "512");
    ASSERT_EQ(0, dev.open);
    for (int i = 1; i <= 100; ++i)
        QueueLabel(dev, i);
    ASSERT_TRUE(dev.WaitFor("SOOutputComplete", 100, 120000));
    std::vector<long> ids = dev.Completed();
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(i + 1, ids[size_t(i)]);
    EXPECT_TRUE(dev.Events("SOError").empty());
    ASSERT_TRUE(sim.waitLabels(ep, 100, 30000)) << sim.error();
    int partial = 0, flagged = 0;
    std::string why;
    std::vector<int> got = CompleteLabels(sim, ep, &partial, &flagged, &why);
    std::vector<int> want;
    for (int i = 1; i <= 100; ++i)
        want.push_back(i);
    EXPECT_EQ(want, got);
    EXPECT_EQ(0, partial);
    EXPECT_EQ(0, flagged) << why;
}

// A serial line is not cut: the TCP endpoint only.
class SoSimCutTest : public SoSimTest
{
};

TEST_P(SoSimCutTest, AConnectionCutInALabelEndsInAnErrorAndACompleteReprint)
{
    // Each label in one write: the socket takes all of it, and only the power state tells
    // that the printer did not get it.
    Device dev(w, true, "512");
    ASSERT_EQ(0, dev.open);
    dev.co->SetErrorResponse(11);  // retry
    ASSERT_TRUE(sim.fault(ep, "rst-in-label", 60)) << sim.error();
    for (int i = 1; i <= 10; ++i)
        QueueLabel(dev, i);
    bool done = dev.WaitFor("SOOutputComplete", 10, 120000);  // the ten: the line feed reports none
    if (!done) {
        for (const TestCoEvent& e : dev.Events("SOError"))
            ADD_FAILURE() << "error " << e.args[0] << "/" << e.args[1];
        for (long id : dev.Completed())
            ADD_FAILURE() << "completed " << id;
    }
    ASSERT_TRUE(done);
    ASSERT_TRUE(dev.WaitIdle(60000));
    std::vector<TestCoEvent> errors = dev.Events("SOError");
    ASSERT_FALSE(errors.empty());
    // The off-line codes, the retries while the transport reconnects included: the socket took
    // the cut label whole, only the port's power said it was lost.
    for (const TestCoEvent& e : errors) {
        EXPECT_EQ(107, e.args[0]);
        EXPECT_EQ(0, e.args[1]);
        EXPECT_EQ(1, e.args[2]);  // locus output
    }
    std::vector<long> ids = dev.Completed();
    for (long id = 1; id <= 10; ++id)
        EXPECT_EQ(1, std::count(ids.begin(), ids.end(), id)) << id;
    EXPECT_EQ(10u, ids.size());

    // Every label reached the printer whole, the first time in order; the cut one was printed
    // again after the error.
    int partial = 0, flagged = 0;
    std::string why;
    std::vector<int> got = CompleteLabels(sim, ep, &partial, &flagged, &why);
    EXPECT_GE(partial, 1);
    EXPECT_EQ(0, flagged) << why;
    std::vector<int> first;
    for (int n : got)
        if (std::find(first.begin(), first.end(), n) == first.end())
            first.push_back(n);
    std::vector<int> want;
    for (int i = 1; i <= 10; ++i)
        want.push_back(i);
    EXPECT_EQ(want, first);
}

TEST_P(SoSimCutTest, ASynchronousLabelCutByTheConnectionFailsItAndTheNextArrivesWhole)
{
    Device dev(w, false, "512");  // the label in one write: the socket takes all of it
    ASSERT_EQ(0, dev.open);
    ASSERT_TRUE(sim.fault(ep, "rst-in-label", 60)) << sim.error();
    auto print = [&](int n) { return dev.PrintText(LabelText(n), FALSE); };
    EXPECT_EQ(107, print(1));  // off line: the connection broke after the label's first bytes
    // Once the transport has reconnected, the label is printed again and arrives whole.
    long rc = -1;
    for (DWORD start = GetTickCount(); rc != 0 && GetTickCount() - start < 60000;)
        rc = print(1);
    EXPECT_EQ(0, rc);
    ASSERT_TRUE(sim.waitLabels(ep, 1, 30000)) << sim.error();
    int partial = 0, flagged = 0;
    std::string why;
    EXPECT_EQ(std::vector<int>{1}, CompleteLabels(sim, ep, &partial, &flagged, &why));
    EXPECT_EQ(1, partial);
    EXPECT_EQ(0, flagged) << why;
}

INSTANTIATE_TEST_SUITE_P(Transports, SoSimTest, ::testing::Values(Transport{"tcp", false}, Transport{"serial", true}),
                         [](const ::testing::TestParamInfo<Transport>& i) { return std::string(i.param.what); });
INSTANTIATE_TEST_SUITE_P(Transports, SoSimCutTest, ::testing::Values(Transport{"tcp", false}),
                         [](const ::testing::TestParamInfo<Transport>& i) { return std::string(i.param.what); });

} // namespace

// Output and properties of the Service Object, the object itself in this process on the
// scripted port manager, its callbacks reaching the test Control Object: synchronous printing
// with its status check and chunked writes, the queue with its batched completions, error
// answers that clear or retry, ClearOutput, every property index and the setters' rules; the
// state check of a claim; the status thread of a port another device class keeps open and the
// status request of two threads.
#include "LABELPrinter.h"
#include "OposConst.h"
#include "SoDevice.h"

#include "ScriptQln.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string Label(int n) { return "LABEL-" + std::to_string(n) + "-0123456789\r\n"; }  // 20 bytes for n < 10

int Length(const std::string& call)  // "Write(16, 40000, 32) = 16"
{
    return std::atoi(call.c_str() + 6);
}

// ---- Synchronous printing

TEST(SyncPrint, StatusCheckChunkedWritesAndTheCodesOfWhatStopsIt)
{
    const char* usbPath = "\\\\?\\usb#vid_0dd4&pid_0186#5&1a2b3c&0&1#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
    struct Row
    {
        const char* what;
        int answer;                // status answer to the request before the label (-1: none)
        int after;                 // and to the one after it
        std::vector<int> writes;   // one-shot Write results, then
        int writeDefault;          // the default (-1: all taken)
        long power;                // the port's power state before printing
        bool usb;
        long rc, rce, state;
        std::vector<int> lengths;  // every Write asked after the device was ready
    } rows[] = {
        {"all well", 0, 0, {}, -1, 2001, false, 0, 0, 2, {5, 16, 4, 5}},
        {"cover open", 0x40, 0, {}, -1, 2001, false, 114, 201, 4, {5}},
        {"paper empty", 0x80, 0, {}, -1, 2001, false, 114, 203, 4, {5}},
        {"cutter error", 0x20, 0, {}, -1, 2001, false, 111, 402, 4, {5}},
        {"off line: the request goes nowhere", 0, 0, {0}, -1, 2003, false, 107, 0, 4, {5}},
        {"time-out: the printer takes no byte", 0, 0, {5}, 0, 2001, false, 111, 112, 4, {5, 16, 16, 16, 16, 16}},
        // A printer that does not answer gets nothing; one that stops answering after the label
        // has not confirmed it.
        {"a silent printer", -1, 0, {}, -1, 2001, false, 112, 0, 4, {5}},
        {"no answer after the label", 0, -1, {}, -1, 2001, false, 112, 0, 4, {5, 16, 4, 5}},
        // A USB printer prints whatever its error bits and power say; the answer after decides.
        {"usb printer in error", 0x20, 0, {}, -1, 2001, true, 0, 0, 2, {5, 16, 4, 5}},
        {"usb printer in error that stops answering", 0x20, -1, {}, -1, 2001, true, 112, 0, 4, {5, 16, 4, 5}},
        {"usb printer off line", 0, 0, {}, -1, 2003, true, 107, 0, 4, {5, 16, 4, 5}},
    };
    for (const Row& r : rows) {
        CSoWorld w;
        Device dev(w);
        ASSERT_EQ(0, dev.open) << r.what;
        if (r.usb) {
            DeviceOptionRelease(dev.so->m_config.m_dop);
            dev.so->m_config.m_dop.strPortName = CString(usbPath).AddRefHandle();
        }
        if (r.power != 2001) {
            w.port.Default("IsPowerState", int(r.power));
            DWORD start = GetTickCount();
            while (dev.so->GetPropertyNumber(14) != r.power && GetTickCount() - start < 20000)
                Sleep(20);
            ASSERT_EQ(r.power, dev.so->GetPropertyNumber(14)) << r.what;
        }
        w.port.Result("StatusAnswer", r.answer);
        w.port.Result("StatusAnswer", r.after);
        for (int v : r.writes)
            w.port.Result("Write", v);
        if (r.writeDefault >= 0)
            w.port.Default("Write", r.writeDefault);
        dev.written0 = w.port.Written().size();
        std::string label = Label(1);
        ASSERT_EQ(20u, label.size());
        EXPECT_EQ(r.rc, dev.Print(label, FALSE)) << r.what;
        EXPECT_EQ(r.rce, dev.so->ResultCodeExtended) << r.what;
        EXPECT_EQ(r.state, dev.so->GetPropertyNumber(9)) << r.what;
        std::vector<int> lengths;
        for (const std::string& c : dev.Calls("Write("))
            lengths.push_back(Length(c));
        EXPECT_EQ(r.lengths, lengths) << r.what;
        bool whole = r.lengths.size() == 4;
        if (whole) {
            EXPECT_EQ("^cu\r\n" + label + "^cu\r\n", dev.Written()) << r.what;
        } else {
            EXPECT_EQ(std::string::npos, dev.Written().find(label)) << r.what;  // nothing of it whole
        }
        if (r.rc == 0) {
            EXPECT_EQ(1, dev.so->GetPropertyNumber(8035)) << r.what;
        } else {
            EXPECT_EQ(2, dev.so->GetPropertyNumber(8035)) << r.what;               // ErrorLevel
            EXPECT_EQ(2, dev.so->GetPropertyNumber(8004)) << r.what;               // ErrorStation
        }
    }
}

TEST(SyncPrint, ImmediatePrintingSkipsTheStatusCheckAndEmptyChunksAreNotWritten)
{
    CSoWorld w;
    Device dev(w);
    ASSERT_EQ(0, dev.open);
    dev.written0 = w.port.Written().size();
    dev.so->m_bImmediate = TRUE;
    CPrintDataList list;
    list.AddTail(new COPOSData);
    COPOSData* d = new COPOSData;
    d->AppendString("P1\r\n");
    list.AddTail(d);
    dev.so->P_PrintOrEnqueue(FALSE, list);
    dev.so->m_bImmediate = FALSE;
    EXPECT_EQ(0, dev.so->ResultCode);
    EXPECT_EQ("P1\r\n", dev.Written());
    EXPECT_EQ(1u, dev.Calls("Write(").size());
}

TEST(SyncPrint, APortThatGoesOffLineWhileTheLabelIsWrittenFailsIt)
{
    struct Row
    {
        const char* what;
        int power;  // the port's power state from the label's write on (0: unchanged)
        long rc, rce, state;
    } rows[] = {
        // Over TCP a label cut in the middle is taken whole by the socket: only the power says
        // so, and the status thread finds it on its own next poll, after the write has returned.
        {"off line during the write", 2003, 107, 0, 4},
        {"on line throughout", 2001, 0, 0, 2},
    };
    for (const Row& r : rows) {
        CSoWorld w;
        Device dev(w, false, "512");  // the label in one write
        ASSERT_EQ(0, dev.open) << r.what;
        w.port.Result("PowerCut", r.power);
        dev.written0 = w.port.Written().size();
        EXPECT_EQ(r.rc, dev.Print(Label(1), FALSE)) << r.what;
        EXPECT_EQ(r.rce, dev.so->ResultCodeExtended) << r.what;
        EXPECT_EQ(r.state, dev.so->GetPropertyNumber(9)) << r.what;
        // Written whole either way, and the printer asked after it.
        EXPECT_EQ("^cu\r\n" + Label(1) + "^cu\r\n", dev.Written()) << r.what;
    }
}

// ---- Asynchronous printing

// At each write to the port, how many completions the object had queued by then (events held
// by FreezeEvents stay in its list).
struct CompletionsAtWrites
{
    static void WINAPI Run(void* c, int, const char*)
    {
        CompletionsAtWrites* self = static_cast<CompletionsAtWrites*>(c);
        self->seen.push_back(self->Queued());  // only the print thread writes here
    }
    size_t Queued() const
    {
        WaitForSingleObject(so->m_hEventListMutex, INFINITE);
        size_t n = size_t(std::count_if(so->m_EventList.begin(), so->m_EventList.end(), [](const COPOSEvent* e) {
            return e->m_nType == COPOSEvent::OutputComplete;
        }));
        ReleaseMutex(so->m_hEventListMutex);
        return n;
    }
    CLABELPrinter* so = nullptr;
    std::vector<size_t> seen;
};

TEST(AsyncPrint, OutputIdsInOrderAndCompletionsInBatches)
{
    CSoWorld w(1);
    Device dev(w, true);
    ASSERT_EQ(0, dev.open);
    dev.written0 = w.port.Written().size();
    CompletionsAtWrites batches;
    batches.so = dev.so;
    dev.so->DoFreezeEvents(TRUE);
    w.port.Hook("Write", &CompletionsAtWrites::Run, &batches);
    // Queued at once: the print thread cannot take a job before all five are in.
    dev.so->AsyncQueueMutex.Lock();
    for (int i = 1; i <= 5; ++i) {
        EXPECT_EQ(0, dev.Print(Label(i), TRUE));
        EXPECT_EQ(i, dev.so->GetPropertyNumber(5));  // OutputID
    }
    EXPECT_EQ(3, dev.so->GetPropertyNumber(9));      // busy
    dev.so->AsyncQueueMutex.Unlock();
    ASSERT_TRUE(WaitFor([&] { return batches.Queued() == 5; }, 60000));
    ASSERT_TRUE(WaitFor([&] { return dev.so->QueuedJobs() == 0 && dev.so->JobsInProgress() == 0; }, 60000));
    w.port.Hook("Write", nullptr, nullptr);
    // Two completing passes: the third job completes the first three, the fifth the rest.
    std::vector<size_t> passes;
    for (size_t n : batches.seen)
        if (passes.empty() || passes.back() != n)
            passes.push_back(n);
    passes.push_back(batches.Queued());
    EXPECT_EQ((std::vector<size_t>{0, 3, 5}), passes);
    dev.so->DoFreezeEvents(FALSE);
    ASSERT_TRUE(dev.WaitFor("SOOutputComplete", 5));
    ASSERT_TRUE(dev.WaitIdle());
    EXPECT_EQ((std::vector<long>{1, 2, 3, 4, 5}), dev.Completed());
    std::string expect;
    for (int i = 1; i <= 5; ++i)
        expect += "^cu\r\n" + Label(i) + "^cu\r\n";
    EXPECT_EQ(expect, dev.Written());
}

// A status that arrives while the application answers an ErrorEvent, as the status thread may
// deliver it.
struct StatusDuringError : ITestCoListener
{
    void OnServiceEvent(const TestCoEvent& e, long*, long*, BSTR*) override
    {
        if (std::string(e.name) != "SOError")
            return;
        const BYTE good[4] = {0x14, 0, 0, 0x0F};
        so->ProcessStatusBytes(good);
        state = so->GetPropertyNumber(9);
        level = so->GetPropertyNumber(8035);
    }
    CLABELPrinter* so = nullptr;
    long state = -1, level = -1;
};

TEST(AsyncPrint, StateIsBusyUntilTheLabelIsWrittenAndErrorWhileItsErrorEventIsAnswered)
{
    CSoWorld w;
    Device dev(w, true, "512");  // the label in one write
    ASSERT_EQ(0, dev.open);
    // A label printed at once while a queued one waits: still busy.
    dev.so->AsyncQueueMutex.Lock();
    dev.Print(Label(0), TRUE);
    dev.so->m_bImmediate = TRUE;
    EXPECT_EQ(0, dev.Print(Label(9), FALSE));
    dev.so->m_bImmediate = FALSE;
    EXPECT_EQ(OPOS_S_BUSY, dev.so->GetPropertyNumber(9));
    dev.so->AsyncQueueMutex.Unlock();
    ASSERT_TRUE(dev.WaitFor("SOOutputComplete", 1));
    ASSERT_TRUE(dev.WaitIdle());
    size_t before = dev.Calls("Write(").size();
    // The label's write stalls: an application waiting for idle must not see it then.
    w.port.Result("WriteStall", 0);
    w.port.Result("WriteStall", 3000);
    dev.Print(Label(1), TRUE);
    DWORD start = GetTickCount();
    while (dev.so->GetPropertyNumber(9) != OPOS_S_IDLE && GetTickCount() - start < 60000)
        Sleep(1);
    // Idle once the status was asked after the label: request, label, request.
    EXPECT_EQ(before + 3, dev.Calls("Write(").size());
    ASSERT_TRUE(dev.WaitFor("SOOutputComplete", 2));

    StatusDuringError listener;
    listener.so = dev.so;
    dev.co->SetListener(&listener);
    dev.co->SetErrorResponse(12);
    w.port.Result("StatusAnswer", 0x40);  // cover open at the check
    dev.Print(Label(2), TRUE);
    ASSERT_TRUE(dev.WaitFor("SOError", 1));
    EXPECT_EQ(OPOS_S_ERROR, listener.state);
    EXPECT_EQ(2, listener.level);
    ASSERT_TRUE(dev.WaitIdle());
    dev.co->SetListener(nullptr);
}

TEST(AsyncPrint, AFailedJobGivesTheCodesOfItsFailureAndClearEmptiesTheQueue)
{
    struct Row
    {
        const char* what;
        std::vector<int> answers;  // status answers: the first job's two, then the second's first
        std::vector<int> writes;   // one-shot Write results, then
        int writeDefault;
        long rc, rce;              // of the ErrorEvent; 0: no error
    } rows[] = {
        {"cover open at the check", {0, 0, 0x40}, {}, -1, 114, 201},
        {"paper empty at the check", {0, 0, 0x80}, {}, -1, 114, 203},
        {"unrecoverable at the check", {0, 0, 0x10}, {}, -1, 111, 403},
        {"no answer to the check", {0, 0, -1}, {}, -1, 112, 0},
        {"a printer that accepts no bytes", {0, 0, 0}, {5, 16, 4, 5, 5}, 0, 111, 112},
        {"an answer of bit 0 alone", {0, 0, 0x01}, {}, -1, 0, 0},
        {"an answer of bit 1 alone", {0, 0, 0x02}, {}, -1, 0, 0},
        {"cover open at the final check of a job written whole", {0, 0x40, 0}, {}, -1, 0, 0},
    };
    for (const Row& r : rows) {
        CSoWorld w;
        Device dev(w, true);
        ASSERT_EQ(0, dev.open) << r.what;
        dev.co->SetErrorResponse(12);  // clear
        for (int a : r.answers)
            w.port.Result("StatusAnswer", a);
        for (int v : r.writes)
            w.port.Result("Write", v);
        if (r.writeDefault >= 0)
            w.port.Default("Write", r.writeDefault);
        dev.written0 = w.port.Written().size();
        dev.so->AsyncQueueMutex.Lock();
        dev.Print(Label(1), TRUE);
        dev.Print(Label(2), TRUE);
        dev.so->AsyncQueueMutex.Unlock();
        if (r.rc == 0) {
            ASSERT_TRUE(dev.WaitFor("SOOutputComplete", 2)) << r.what;
            EXPECT_EQ((std::vector<long>{1, 2}), dev.Completed()) << r.what;
            EXPECT_TRUE(dev.Events("SOError").empty()) << r.what;
            continue;
        }
        ASSERT_TRUE(dev.WaitFor("SOError", 1)) << r.what;
        ASSERT_TRUE(dev.WaitIdle()) << r.what;
        TestCoEvent e = dev.Events("SOError")[0];
        EXPECT_EQ(r.rc, e.args[0]) << r.what;
        EXPECT_EQ(r.rce, e.args[1]) << r.what;
        EXPECT_EQ(1, e.args[2]) << r.what;   // locus output
        EXPECT_EQ(11, e.args[3]) << r.what;  // preset response retry
        // The first job was written but not completed (the queue had not run empty): the
        // clear took it with the failed one.
        EXPECT_TRUE(dev.Completed().empty()) << r.what;
        EXPECT_EQ(0, dev.so->QueuedJobs()) << r.what;
        EXPECT_EQ(0, dev.so->JobsInProgress()) << r.what;
        EXPECT_EQ(1, dev.so->GetPropertyNumber(8035)) << r.what;
        EXPECT_EQ(std::string::npos, dev.Written().find("LABEL-2-0123456789")) << r.what;
    }
}

TEST(AsyncPrint, RetryPutsTheUncompletedJobsBackAfterALineFeedAndASecond)
{
    struct Row
    {
        const char* what;
        int failures;        // times the second job's check finds the cover open
        size_t lineFeeds;    // line feeds written
        std::string printed; // labels in the order they reach the printer
    } rows[] = {
        // Label 1 was written but not completed when label 2 failed: it is printed again.
        {"one failure", 1, 1, "1,1,2,3"},
        // The second retry in a row adds no line-feed job; the one added goes back itself.
        {"two failures in a row", 2, 2, "1,1,1,2,3"},
    };
    for (const Row& r : rows) {
        CSoWorld w;
        Device dev(w, true);
        ASSERT_EQ(0, dev.open) << r.what;
        dev.co->SetErrorResponse(11);
        std::vector<int> answers = {0, 0, 0x40};
        if (r.failures == 2)
            // the failed job's own second check, then the line feed, label 1, label 2
            answers.insert(answers.end(), {0, 0, 0, 0, 0, 0x40});
        for (int a : answers)
            w.port.Result("StatusAnswer", a);
        dev.written0 = w.port.Written().size();
        dev.so->AsyncQueueMutex.Lock();
        for (int i = 1; i <= 3; ++i)
            dev.Print(Label(i), TRUE);
        dev.so->AsyncQueueMutex.Unlock();
        ASSERT_TRUE(dev.WaitFor("SOOutputComplete", 3)) << r.what;
        ASSERT_TRUE(dev.WaitIdle()) << r.what;
        EXPECT_EQ(size_t(r.failures), dev.Events("SOError").size()) << r.what;
        // Only the application's jobs complete: the line feed has no OutputID of its own.
        EXPECT_EQ((std::vector<long>{1, 2, 3}), dev.Completed()) << r.what;

        std::string written = dev.Written(), printed;
        for (size_t at = written.find("LABEL-"); at != std::string::npos; at = written.find("LABEL-", at + 1))
            printed += (printed.empty() ? "" : ",") + written.substr(at + 6, 1);
        EXPECT_EQ(r.printed, printed) << r.what;
        std::vector<std::string> calls = dev.Calls("Write(");
        size_t feeds = 0;
        for (const std::string& c : calls)
            feeds += Length(c) == 1;
        EXPECT_EQ(r.lineFeeds, feeds) << r.what;

        // The line feed leaves at least a second after the failed check's request.
        std::vector<std::string> all = w.port.Calls();
        auto tick = Proc<ScriptCallTickFn>(w.port.module, "ScriptCallTick");
        int request = -1, feed = -1, requests = 0;
        for (int i = dev.from; i < int(all.size()) && feed < 0; ++i) {
            if (all[size_t(i)].compare(0, 8, "Write(5,") == 0 && ++requests == 3)
                request = i;
            if (request >= 0 && all[size_t(i)].compare(0, 8, "Write(1,") == 0)
                feed = i;
        }
        ASSERT_GE(request, 0) << r.what;
        ASSERT_GT(feed, request) << r.what;
        EXPECT_GE(tick(feed) - tick(request), 1000u) << r.what;
    }
}

// Answers each ErrorEvent from a list (the last one repeats).
struct ScriptedAnswers : ITestCoListener
{
    explicit ScriptedAnswers(std::vector<long> a) : answers(std::move(a)) {}
    void OnServiceEvent(const TestCoEvent& e, long* response, long*, BSTR*) override
    {
        if (std::string(e.name) != "SOError" || !response)
            return;
        *response = answers[next < answers.size() ? next : answers.size() - 1];
        ++next;
    }
    std::vector<long> answers;
    size_t next = 0;
};

size_t LineFeeds(const Device& dev)
{
    size_t feeds = 0;
    for (const std::string& c : dev.Calls("Write("))
        feeds += Length(c) == 1;
    return feeds;
}

TEST(AsyncPrint, AClearForgetsTheLineFeedAlreadySentSoTheNextRetrySendsItAgain)
{
    CSoWorld w;
    Device dev(w, true);
    ASSERT_EQ(0, dev.open);
    ScriptedAnswers answers({11, 12, 11});
    dev.co->SetListener(&answers);
    // Label 1 fails, is retried after a line feed and fails again: cleared. Label 2 fails once.
    for (int a : {0x40, 0, 0, 0, 0x40, 0, 0x40})
        w.port.Result("StatusAnswer", a);
    dev.Print(Label(1), TRUE);
    ASSERT_TRUE(dev.WaitFor("SOError", 2));
    ASSERT_TRUE(dev.WaitIdle());
    EXPECT_EQ(1u, LineFeeds(dev));
    dev.Print(Label(2), TRUE);
    ASSERT_TRUE(dev.WaitFor("SOOutputComplete", 1));  // label 2, after the second line feed
    ASSERT_TRUE(dev.WaitIdle());
    EXPECT_EQ(3u, dev.Events("SOError").size());
    EXPECT_EQ(2u, LineFeeds(dev));
    EXPECT_EQ((std::vector<long>{2}), dev.Completed());
    dev.co->SetListener(nullptr);
}

TEST(AsyncPrint, AJobTakenWhileTheDeviceIsNotClaimedIsDroppedWithoutACompletion)
{
    CSoWorld w;
    Device dev(w, true);
    ASSERT_EQ(0, dev.open);
    dev.written0 = w.port.Written().size();
    dev.so->AsyncQueueMutex.Lock();
    dev.Print(Label(1), TRUE);
    dev.so->m_Claimed = FALSE;
    dev.so->AsyncQueueMutex.Unlock();
    ASSERT_TRUE(WaitFor([&] { return dev.so->QueuedJobs() == 0 && dev.so->JobsInProgress() == 0; }, 60000));
    dev.so->AsyncQueueMutex.Lock();  // the pass that took it has ended
    dev.so->m_Claimed = TRUE;
    dev.so->AsyncQueueMutex.Unlock();
    dev.Print(Label(2), TRUE);
    ASSERT_TRUE(dev.WaitFor("SOOutputComplete", 1));
    ASSERT_TRUE(dev.WaitIdle());
    EXPECT_EQ((std::vector<long>{2}), dev.Completed());
    EXPECT_TRUE(dev.Events("SOError").empty());
    EXPECT_EQ("^cu\r\n" + Label(2) + "^cu\r\n", dev.Written());
}

// ---- The end of a claim or of the object while output is under way

TEST(AsyncPrint, ReleaseOrCloseWithAnErrorEventPendingLeaveOutputThatPrintsAfterANewClaim)
{
    struct Row
    {
        const char* what;
        bool frozen;  // FreezeEvents: the ErrorEvent waits in the list; else it waits at the window
        bool close;   // Close and open again, else release and claim again
        bool disabled;  // the job fails after a disable has returned: its answer does not cover it
    } rows[] = {
        {"release, events frozen", true, false, false},
        {"release, the event not yet delivered", false, false, false},
        {"close, events frozen", true, true, false},
        {"close, the event not yet delivered", false, true, false},
        {"release of a disabled device, the job failed while disabled", false, false, true},
    };
    for (const Row& r : rows) {
        CSoWorld w;
        Device dev(w, true);
        ASSERT_EQ(0, dev.open) << r.what;
        dev.co->SetErrorResponse(11);
        if (r.frozen)
            dev.so->SetPropertyNumber(PIDX_FreezeEvents, 1);
        size_t requests = dev.Calls("Write(5, ").size();
        if (r.disabled) {
            // Label 1 is written whole; its answer never comes, after the disable has returned.
            w.port.Result("StatusAnswer", 0);
            w.port.Result("StatusAnswer", -1);
        } else {
            w.port.Result("StatusAnswer", 0x40);
        }
        dev.Print(Label(1), TRUE);
        if (r.disabled) {
            ASSERT_TRUE(WaitFor([&] { return dev.Calls("Write(5, ").size() >= requests + 2; }, 60000)) << r.what;
            dev.so->SetPropertyNumber(PIDX_DeviceEnabled, 0);
            ASSERT_EQ(0, dev.so->ResultCode) << r.what;
            EXPECT_EQ(0, dev.so->m_nErrorWait) << r.what;
        }
        // The print thread waits for its answer; this thread pumps nothing meanwhile.
        ASSERT_TRUE(WaitFor([&] { return dev.so->m_nErrorWait != 0; }, 60000)) << r.what;
        if (r.close) {
            EXPECT_EQ(0, dev.so->Close()) << r.what;
            IDispatch* d = nullptr;
            dev.co->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d));
            EXPECT_EQ(0, dev.so->OpenService("POSPrinter", "LP1", d)) << r.what;
            d->Release();
        } else {
            EXPECT_EQ(0, dev.so->ReleaseDevice()) << r.what;
        }
        ASSERT_EQ(0, dev.so->ClaimDevice(1000)) << r.what;
        dev.so->SetPropertyNumber(PIDX_DeviceEnabled, 1);
        ASSERT_EQ(0, dev.so->ResultCode) << r.what;
        dev.so->SetPropertyNumber(8001, 1);
        dev.written0 = w.port.Written().size();
        dev.Print(Label(2), TRUE);
        ASSERT_TRUE(dev.WaitForValue("SOOutputComplete", dev.so->GetPropertyNumber(PIDX_OutputID))) << r.what;
        EXPECT_EQ("^cu\r\n" + Label(2) + "^cu\r\n", dev.Written()) << r.what;
    }
}

size_t Occurrences(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

TEST(AsyncPrint, CloseReleaseOrDisableEndAPassByWhatItsJobHasDelivered)
{
    enum Ender { Close, Release, Disable };
    enum Cut { Queued, Before, Middle, After, Answer, Never };
    const char* enders[] = {"Close", "ReleaseDevice", "disable"};
    // Label 1 is written and waits for its batched completion while label 2 is written. Status
    // requests from here: label 1's (1, 2), label 2's (3, 4); writes: label 1's four, then 2's.
    struct
    {
        const char* what;
        int late;  // the request answered lateMs late
        DWORD lateMs;
        int atOnce;  // writes before the stalls
        DWORD stallMs;  // of every later write, or of the next one only (ended by a close)
        bool every;
        size_t requests, pieces;  // written when the method comes
    } cuts[] = {
        {"only queued", 0, 0, 0, 0, false, 0, 0},
        {"before its first byte", 3, 10000, 0, 0, false, 3, 0},
        {"in its middle", 0, 0, 5, 500, true, 0, 3},
        {"after its last byte", 4, 700, 0, 0, false, 4, 0},
        {"in the answer after it", 4, 3500, 0, 0, false, 4, 0},
        {"in a write that never returns", 0, 0, 6, 600000, false, 0, 3},
    };
    std::string label(200, 'x');
    label = "LABEL-2-" + label.substr(8);
    for (int serial = 0; serial < 2; ++serial) {
        for (int e = Close; e <= Disable; ++e) {
            for (int c = Queued; c <= Never; ++c) {
                std::string what = std::string(serial ? "serial, " : "tcp, ") + enders[e] + ", label 2 " + cuts[c].what;
                CSoWorld w;
                if (serial) {
                    const char* key = "Software\\OLEforRetail\\ServiceOPOS\\POSPrinter\\LP1";
                    w.reg.SetString(key, "Port", "COM5");
                    w.reg.SetString(key, "HandShake", "None");
                }
                Device dev(w, true);
                EXPECT_EQ(0, dev.open) << what;
                if (dev.open != 0)
                    continue;
                if (cuts[c].late)
                    w.port.LateAnswer(cuts[c].late, 0, cuts[c].lateMs);
                for (int i = 0; i < cuts[c].atOnce; ++i)
                    w.port.Result("WriteStall", 0);
                if (cuts[c].stallMs && cuts[c].every)
                    w.port.Default("WriteStall", int(cuts[c].stallMs));
                else if (cuts[c].stallMs)
                    w.port.Result("WriteStall", int(cuts[c].stallMs));
                size_t requests = dev.Calls("Write(5, ").size(), pieces = dev.Calls("Write(16, ").size();
                dev.written0 = w.port.Written().size();
                dev.so->AsyncQueueMutex.Lock();
                dev.Print(Label(1), TRUE);
                dev.Print(label, TRUE);
                if (c != Queued)
                    dev.so->AsyncQueueMutex.Unlock();
                EXPECT_TRUE(WaitFor(
                    [&] {
                        return dev.Calls("Write(5, ").size() >= requests + cuts[c].requests &&
                               dev.Calls("Write(16, ").size() >= pieces + cuts[c].pieces;
                    },
                    60000))
                    << what;
                DWORD start = GetTickCount();
                long rc = e == Close     ? dev.so->Close()
                          : e == Release ? dev.so->ReleaseDevice()
                                         : (dev.so->SetPropertyNumber(PIDX_DeviceEnabled, 0), dev.so->ResultCode);
                DWORD took = GetTickCount() - start;
                if (c == Queued)
                    dev.so->AsyncQueueMutex.Unlock();
                w.port.Default("WriteStall", 0);
                EXPECT_EQ(0, rc) << what;
                EXPECT_LT(took, 15000u) << what;  // about two seconds and the cancel
                long id = 2;
                if (e == Disable) {
                    if (c == Queued) {
                        // Held while disabled: nothing is written in a few status polls.
                        size_t polls = w.port.Calls("IsPowerState").size();
                        EXPECT_TRUE(WaitFor([&] { return w.port.Calls("IsPowerState").size() >= polls + 5; }, 60000));
                        EXPECT_EQ(0u, Occurrences(dev.Written(), "LABEL-")) << what;
                    }
                    dev.so->SetPropertyNumber(PIDX_DeviceEnabled, 1);
                    EXPECT_EQ(0, dev.so->ResultCode) << what;
                    EXPECT_TRUE(dev.WaitFor("SOOutputComplete", 2)) << what;
                    EXPECT_EQ((std::vector<long>{1, 2}), dev.Completed()) << what;
                } else {
                    if (e == Close) {
                        IDispatch* d = nullptr;
                        dev.co->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d));
                        EXPECT_EQ(0, dev.so->OpenService("POSPrinter", "LP1", d)) << what;
                        d->Release();
                    }
                    EXPECT_EQ(0, dev.so->ClaimDevice(1000)) << what;
                    if (!dev.so->m_Claimed)
                        continue;
                    dev.so->SetPropertyNumber(PIDX_DeviceEnabled, 1);
                    dev.so->SetPropertyNumber(8001, 1);
                    dev.Print(Label(3), TRUE);
                    id = dev.so->GetPropertyNumber(PIDX_OutputID);
                    EXPECT_TRUE(dev.WaitForValue("SOOutputComplete", id)) << what;
                    // The released or closed jobs are cleared: no completion, not sent again.
                    EXPECT_EQ((std::vector<long>{id}), dev.Completed()) << what;
                }
                EXPECT_TRUE(dev.WaitIdle()) << what;
                EXPECT_EQ(OPOS_S_IDLE, dev.so->GetPropertyNumber(PIDX_State)) << what;
                EXPECT_TRUE(dev.Events("SOError").empty()) << what;
                // Label 2 whole once, or never when it was cleared before its last byte; a
                // fragment left at the printer is dropped by a line feed before the next label.
                std::string written = dev.Written();
                bool whole = e == Disable || c == After || c == Answer;
                EXPECT_EQ(whole ? 1u : 0u, Occurrences(written, label)) << what;
                EXPECT_EQ(c == Queued && e != Disable ? 0u : 1u, Occurrences(written, Label(1))) << what;
                bool fragment = c == Middle || c == Never;
                std::string next = e == Disable ? label : Label(3);
                EXPECT_EQ(fragment ? 1u : 0u, Occurrences(written, "\r\n\n" + next)) << what;
                EXPECT_EQ(fragment ? 1u : 0u, Occurrences(written, "\n\n")) << what;
            }
        }
    }
}

TEST(AsyncPrint, DisablingAnswersAPendingErrorEventClearAndTheLaterAnswerIsIgnored)
{
    CSoWorld w(1);
    Device dev(w, true);
    ASSERT_EQ(0, dev.open);
    dev.co->SetErrorResponse(11);  // the application would retry
    dev.so->SetPropertyNumber(PIDX_FreezeEvents, 1);
    w.port.Result("StatusAnswer", 0x40);
    dev.written0 = w.port.Written().size();
    dev.Print(Label(1), TRUE);
    ASSERT_TRUE(WaitFor([&] { return dev.so->m_nErrorWait != 0; }, 60000));
    dev.so->SetPropertyNumber(PIDX_DeviceEnabled, 0);
    EXPECT_EQ(0, dev.so->ResultCode);
    ASSERT_TRUE(WaitFor([&] { return dev.so->QueuedJobs() == 0 && dev.so->JobsInProgress() == 0; }, 60000));
    EXPECT_TRUE(Contains(w.LogLines(), "*AsyncPrint: DeviceEnabled: the ErrorEvent is not answered while disabling: answered CLEAR"));
    // Enabled again: the ErrorEvent comes while label 2 is written; the application's CLEAR
    // comes too late to clear anything, and leaves the State of label 2 alone.
    dev.co->SetErrorResponse(12);
    dev.so->SetPropertyNumber(PIDX_DeviceEnabled, 1);
    w.port.Result("WriteStall", 0);     // label 2's status request
    w.port.Result("WriteStall", 5000);  // its first piece
    size_t pieces = dev.Calls("Write(16, ").size();
    dev.Print(Label(2), TRUE);
    ASSERT_TRUE(WaitFor([&] { return dev.Calls("Write(16, ").size() > pieces; }, 60000));
    ASSERT_TRUE(dev.WaitFor("SOError", 1));
    EXPECT_EQ(1u, dev.Calls("Write(16, ").size() - pieces);  // still in its first piece
    EXPECT_EQ(OPOS_S_BUSY, dev.so->GetPropertyNumber(PIDX_State));
    ASSERT_TRUE(dev.WaitFor("SOOutputComplete", 1));
    EXPECT_EQ((std::vector<long>{2}), dev.Completed());
    EXPECT_EQ(std::string::npos, dev.Written().find(Label(1)));
}

TEST(AsyncPrint, CloseEndsAStalledWriteThroughThePortAndNeverTerminatesTheThreadInIt)
{
    struct Row
    {
        const char* what;
        bool drawer;  // another class keeps the port open: the close ends only this class's write
        bool stuck;   // a write that no close ends: the thread is left behind
    } rows[] = {
        {"the port closes", false, false},
        {"another class keeps the port open", true, false},
        {"a write a close does not end", true, true},
    };
    for (const Row& r : rows) {
        CSoWorld w(1);
        Device dev(w, true);
        ASSERT_EQ(0, dev.open) << r.what;
        if (r.drawer) {
            w.port.Result("CreatePort", 40000, SCRIPT_MANAGER);
            ASSERT_EQ(40000, CreateState("DRAWER", "127.0.0.1", 1)) << r.what;
            ASSERT_TRUE(dev.so->m_pPort->Open(1, dev.so->m_config.m_dop)) << r.what;
        }
        w.port.Result("WriteStall", 0);  // the status request
        // The label: a printer that takes nothing, for longer than Close waits.
        if (r.stuck) {
            w.port.Result("WriteStuck", 0);
            w.port.Result("WriteStuck", 30000);
        } else
            w.port.Result("WriteStall", r.drawer ? 30000 : 600000);
        dev.Print(Label(1), TRUE);
        ASSERT_TRUE(WaitFor([&] { return dev.Calls("Write(16, ").size() == 1; }, 60000)) << r.what;
        long rc = -1;
        DWORD took = 0;
        std::thread closer([&] {
            DWORD start = GetTickCount();
            rc = dev.so->Close();
            took = GetTickCount() - start;
        });
        closer.join();
        EXPECT_LT(took, 15000u) << r.what;  // not the minute of a wait for the write
        std::vector<std::string> lines = w.LogLines();
        EXPECT_FALSE(Contains(lines, "call TerminateThread : AsyncPrintThread")) << r.what;
        if (!r.drawer) {
            EXPECT_EQ(0, rc) << r.what;
            EXPECT_TRUE(Contains(lines, "the print thread is inside a port call: the port is closed")) << r.what;
            EXPECT_EQ(1u, w.port.Calls("Write(16, 40000, 32) ended by ClosePort").size()) << r.what;
            continue;
        }
        EXPECT_FALSE(Contains(lines, "the print thread is inside a port call: the port is closed")) << r.what;
        EXPECT_TRUE(Contains(lines, "the print thread is inside a port call: another class keeps the port open"))
            << r.what;
        // The drawer's hold on the port stays.
        EXPECT_EQ(0u, w.port.Calls("ClosePort(40000, 1)").size()) << r.what;
        IDispatch* d = nullptr;
        dev.co->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d));
        if (r.stuck) {
            // The thread stays in its write: Close says so, and the object keeps its connection.
            EXPECT_EQ(OPOS_E_TIMEOUT, rc) << r.what;
            EXPECT_EQ(3, dev.so->m_nPrintThreadLeft) << r.what;
            // A reopen while it is left is refused; once the write returns, the object gives its
            // connection back and the device opens and prints again.
            EXPECT_EQ(OPOS_E_ILLEGAL, dev.so->OpenService("POSPrinter", "LP1", d)) << r.what;
            ASSERT_TRUE(WaitFor([&] { return dev.so->m_nPrintThreadLeft == 0; }, 120000)) << r.what;
            ASSERT_TRUE(WaitFor([&] { return !w.port.Calls("RemovePort(32, 40000)").empty(); }, 60000)) << r.what;
        } else {
            // The label printer's own close ended its write: Close keeps its bound and gives the
            // connection back at once.
            EXPECT_EQ(0, rc) << r.what;
            EXPECT_LT(took, 5000u) << r.what;
            EXPECT_EQ(1u, w.port.Calls("Write(16, 40000, 32) ended by ClosePort").size()) << r.what;
            EXPECT_EQ(2, dev.so->m_nPrintThreadLeft) << r.what;  // it ended, not left behind
            EXPECT_EQ(1u, w.port.Calls("RemovePort(32, 40000)").size()) << r.what;
        }
        w.port.Result("CreatePort", 40000, SCRIPT_MANAGER);  // the port manager shares the drawer's port
        EXPECT_EQ(0, dev.so->OpenService("POSPrinter", "LP1", d)) << r.what;
        d->Release();
        ASSERT_EQ(0, dev.so->ClaimDevice(1000)) << r.what;
        dev.so->SetPropertyNumber(PIDX_DeviceEnabled, 1);
        dev.so->SetPropertyNumber(8001, 1);
        dev.written0 = w.port.Written().size();
        dev.Print(Label(2), TRUE);
        ASSERT_TRUE(dev.WaitForValue("SOOutputComplete", dev.so->GetPropertyNumber(PIDX_OutputID))) << r.what;
        // The label the Close cut is not sent again; the next one drops its fragment first.
        EXPECT_EQ("^cu\r\n\n" + Label(2) + "^cu\r\n", dev.Written()) << r.what;
        EXPECT_EQ(0, dev.so->Close()) << r.what;
        ConnectionEntry* e = FindConnection(40000);
        ASSERT_NE(nullptr, e) << r.what;
        EXPECT_TRUE(e->pState->Close(1)) << r.what;
        EXPECT_EQ(1, DeleteState(1, 40000)) << r.what;
    }
}

TEST(AsyncPrint, ClearOutputEmptiesTheQueueWhateverAsyncModeAndClearsTheLabelBody)
{
    CSoWorld w;
    Device dev(w, true);
    ASSERT_EQ(0, dev.open);
    dev.written0 = w.port.Written().size();
    dev.so->m_builder.AddText("pending");
    dev.so->m_builder.SetRotation(2);
    dev.so->AsyncQueueMutex.Lock();
    for (int i = 1; i <= 3; ++i)
        dev.Print(Label(i), TRUE);
    dev.so->SetPropertyNumber(8001, 0);  // AsyncMode off before the clear
    EXPECT_EQ(0, dev.so->ClearOutput());
    EXPECT_EQ(0, dev.so->QueuedJobs());
    EXPECT_EQ(2, dev.so->GetPropertyNumber(9));
    dev.so->AsyncQueueMutex.Unlock();
    EXPECT_EQ(0u, dev.so->m_builder.Body().GetLength());
    EXPECT_EQ(0, dev.so->m_builder.Rotation());
    // The idle notice comes through the queue's own state: when it arrives nothing was printed.
    dev.so->SetPropertyNumber(8005, 1);
    ASSERT_TRUE(dev.WaitForValue("SOStatusUpdate", 1001));
    EXPECT_EQ(std::string::npos, dev.Written().find("LABEL"));
    EXPECT_TRUE(dev.Completed().empty());
}

// ---- Properties

TEST(Properties, EveryIndexReadsItsValue)
{
    CSoWorld w;
    Device dev(w);
    ASSERT_EQ(0, dev.open);
    struct Row
    {
        long pidx, value;
    } rows[] = {
        {1, 1}, {3, 1}, {4, 0}, {5, 0}, {8, 1013000}, {9, 2}, {11, 0}, {13, 0}, {14, 2001},
        {501, 1}, {502, 0}, {503, 0}, {504, 0}, {505, 0},
        {8001, 0}, {8002, 1252}, {8003, 0}, {8004, 0}, {8005, 0}, {8013, 1}, {8014, 0}, {8015, 0},
        {8016, 42}, {8017, 24}, {8018, 30}, {8019, (24 + 30 + 143) / 30}, {8020, 800}, {8021, 0},
        {8022, 63}, {8023, 27}, {8035, 1}, {8036, 1}, {8040, 0x10000000}, {8041, 1}, {8045, 1}, {8046, 1},
        {8047, 0}, {8048, 1}, {8049, 2}, {8050, 0},
        {8501, 0}, {8502, 0}, {8503, 0}, {8504, 1}, {8515, 0}, {8516, 1}, {8517, 1}, {8518, 1}, {8519, 1},
        {8520, 1}, {8521, 1}, {8522, 1}, {8523, 1}, {8524, 1}, {8525, 1}, {8526, 1}, {8527, 1}, {8528, 1},
        {8529, 1}, {8530, 0}, {8531, 0}, {8548, 998}, {8549, 1}, {8552, 0}, {8553, 1}, {8554, 1}, {8558, 1},
        {8559, 0}, {8560, 1}, {8561, 0}, {8562, 0}, {8563, 0},
        // not in the table: journal, DataCount, AutoDisable, CartridgeNotify
        {2, 0}, {10, 0}, {12, 0}, {8006, 0}, {8037, 0}, {8505, 0},
    };
    for (const Row& r : rows)
        EXPECT_EQ(r.value, dev.so->GetPropertyNumber(r.pidx)) << r.pidx;
    // The slip station reads its receipt twin.
    const long twins[][2] = {{8014, 8024}, {8015, 8025}, {8016, 8026}, {8017, 8027}, {8018, 8029}, {8020, 8030},
                             {8021, 8032}, {8022, 8033}, {8023, 8034}, {8040, 8043}, {8041, 8044}, {8515, 8532},
                             {8516, 8533}, {8517, 8534}, {8518, 8535}, {8519, 8536}, {8520, 8537}, {8521, 8538},
                             {8522, 8539}, {8523, 8541}, {8524, 8542}, {8525, 8543}, {8527, 8544}, {8528, 8545},
                             {8529, 8546}, {8531, 8547}, {8552, 8556}, {8553, 8557}};
    for (const auto& t : twins) {
        const Row* receipt = std::find_if(std::begin(rows), std::end(rows), [&](const Row& r) { return r.pidx == t[0]; });
        ASSERT_NE(std::end(rows), receipt) << t[0];
        EXPECT_EQ(receipt->value, dev.so->GetPropertyNumber(t[1])) << t[1];
    }

    struct Text
    {
        long pidx;
        const char* value;
    } texts[] = {
        {1000003, "LP1"}, {1008001, "437,850,852,858,860,863,865,866,1250,1251,1252,998,999"}, {1008002, ""},
        {1008003, "42,56"}, {1008004, "42,56"}, {1008005, ""}, {1008006, ""}, {1008007, "0,R90,L90,180"},
        {1008008, "0,R90,L90,180"}, {1008009, "0,R90,L90,180"}, {1008010, "0,R90,L90,180"},
        // The key's paper, not the model file's page.
        {1008011, "800,600"}, {1008012, "0,0,800,600"}, {1008013, ""}, {1000005, ""},
    };
    for (const Text& t : texts) {
        BSTR b = dev.so->GetPropertyString(t.pidx);
        EXPECT_EQ(std::wstring(std::wstring(t.value, t.value + strlen(t.value))), std::wstring(b ? b : L"")) << t.pidx;
        SysFreeString(b);
    }
}

TEST(Properties, SettersTheirChecksAndEffects)
{
    CSoWorld w;
    Device dev(w);
    ASSERT_EQ(0, dev.open);
    struct Row
    {
        const char* what;
        long pidx, value, rc;
        long readPidx, readValue;  // readPidx 0: nothing to read
    } rows[] = {
        {"async mode", 8001, 1, 0, 8001, 1},
        {"unknown index", 8099, 1, 106, 0, 0},
        {"async mode off", 8001, 0, 0, 8001, 0},
        {"read-only index", 8003, 1, 106, 8003, 0},
        {"binary conversion", 11, 2, 0, 11, 2},
        {"binary conversion out of range", 11, 3, 106, 11, 2},
        {"power notify while enabled", 13, 1, 106, 13, 0},
        {"map mode 5", 8013, 5, 106, 8013, 1},
        {"map mode english", 8013, 3, 0, 8017, (24 * 1000 + 101) / 203},
        {"line width in english", 8013, 3, 0, 8020, (800 * 1000 + 101) / 203},  // the key's 800-dot page
        {"map mode dots", 8013, 1, 0, 8017, 24},
        {"letter quality", 8015, 1, 0, 8025, 1},
        {"line spacing below the range", 8018, 5, 0, 8018, 12},
        {"lines to the cut follow it", 8018, 5, 0, 8019, (24 + 12 + 143) / 12},
        {"line spacing above the range", 8029, 100, 0, 8018, 50},
        {"line height takes the font's", 8017, 99, 0, 8017, 24},
        {"line chars compressed", 8016, 50, 0, 8016, 56},
        {"compressed line height", 8017, 1, 0, 8017, 16},
        {"line chars beyond", 8016, 57, 106, 8016, 56},
        {"rotate special", 8036, 258, 0, 8036, 258},
        {"cartridge notify without a sensor", 8037, 1, 106, 0, 0},
        {"cartridge of no colour", 8041, 2, 106, 8041, 1},
        {"cartridge", 8044, 1, 0, 8040, 0x10000000},
        {"page mode station 3", 8049, 3, 106, 8049, 2},
        {"page mode station 4", 8049, 4, 0, 8049, 4},
        {"negative position", 8047, -1, 106, 8047, 0},
        {"position", 8050, 40, 0, 8050, 40},
        {"print direction", 8048, 2, 0, 8036, 258},
        {"print direction out of range", 8048, 5, 106, 0, 0},
        {"character set listed", 8002, 437, 0, 8002, 437},
        {"character set listed twice over", 8002, 43, 106, 8002, 437},
    };
    for (const Row& r : rows) {
        dev.so->SetPropertyNumber(r.pidx, r.value);
        EXPECT_EQ(r.rc, dev.so->ResultCode) << r.what;
        if (r.readPidx) {
            EXPECT_EQ(r.readValue, dev.so->GetPropertyNumber(r.readPidx)) << r.what;
        }
    }
    EXPECT_EQ(40, dev.so->m_nPageModeY);  // dots mode: the builder's y in dots
    EXPECT_EQ(40, dev.so->m_builder.Y());

    struct Area
    {
        const char* text;
        long rc;
        const char* reads;
        int width;  // the builder's paper width in dots after it
    } areas[] = {
        {"0,0,400,300", 0, "0,0,400,300", 400},
        {"-1,0,400,300", 106, "0,0,400,300", 400},
        {"0,0,99999999999,10", 106, "0,0,400,300", 400},
        {"0,0,500,-2", 106, "0,0,400,300", 400},
        {"10,20", 106, "0,0,800,600", 800},
    };
    for (const Area& a : areas) {
        dev.so->SetPropertyString(1008012, a.text);
        EXPECT_EQ(a.rc, dev.so->ResultCode) << a.text;
        BSTR b = dev.so->GetPropertyString(1008012);
        EXPECT_EQ(std::wstring(a.reads, a.reads + strlen(a.reads)), std::wstring(b)) << a.text;
        SysFreeString(b);
        EXPECT_EQ(a.width, dev.so->m_builder.PaperWidth()) << a.text;
    }
    dev.so->SetPropertyString(1008011, "1,2");
    EXPECT_EQ(106, dev.so->ResultCode);
    // ClearPrintArea returns to the configured page in any map mode; the page reads in its units.
    dev.so->SetPropertyString(1008012, "0,0,400,300");
    dev.so->SetPropertyNumber(8013, 3);
    dev.so->ClearPrintArea();
    EXPECT_EQ(800, dev.so->m_builder.PaperWidth());
    EXPECT_EQ(600, dev.so->m_builder.PaperLength());
    const std::pair<long, std::wstring> pages[] = {{1008011, L"3941,2956"}, {1008012, L"0,0,3941,2956"}};
    for (const auto& t : pages) {
        BSTR b = dev.so->GetPropertyString(t.first);
        EXPECT_EQ(t.second, std::wstring(b ? b : L"")) << t.first;
        SysFreeString(b);
    }
    dev.so->SetPropertyNumber(8013, 1);

    // Disabled, the setters that need an enabled device refuse.
    dev.so->SetPropertyNumber(3, 0);
    dev.so->SetPropertyNumber(8018, 30);
    EXPECT_EQ(105, dev.so->ResultCode);
    dev.so->SetPropertyNumber(13, 1);  // power notify only while disabled
    EXPECT_EQ(0, dev.so->ResultCode);
    EXPECT_EQ(1, dev.so->GetPropertyNumber(13));
}

TEST(Properties, AClosedObjectSetsNothing)
{
    CSoWorld w;
    CLABELPrinter* so = new CLABELPrinter;
    so->ExternalAddRef();
    struct Row
    {
        long pidx, value, readPidx, before;
    } rows[] = {{8001, 1, 8001, 0}, {8013, 2, 8013, 1}, {8036, 258, 8036, 1}, {8099, 1, 0, 0}, {11, 1, 11, 0}};
    for (const Row& r : rows) {
        so->SetPropertyNumber(r.pidx, r.value);
        EXPECT_EQ(101, so->ResultCode) << r.pidx;
        if (r.readPidx) {
            EXPECT_EQ(r.before, so->GetPropertyNumber(r.readPidx)) << r.pidx;
        }
    }
    so->SetPropertyString(1008012, "0,0,10,10");
    EXPECT_EQ(101, so->ResultCode);
    BSTR b = so->GetPropertyString(1008012);
    EXPECT_EQ(std::wstring(), std::wstring(b ? b : L""));
    SysFreeString(b);
    so->ExternalRelease();
}

TEST(MapMode, ConversionsOfTheDefaultAndOfAModelsResolution)
{
    CLABELPrinter* so = new CLABELPrinter;
    so->ExternalAddRef();
    // The default rows: 96 dots per inch for line units, 208 for widths and positions.
    struct Row
    {
        long mode;
        long heightDots, height, widthDots, width;
    } rows[] = {
        {1, 24, 24, 832, 832},
        {2, 24, 360, 832, (832 * 1440 + 104) / 208},
        {3, 24, 250, 832, 4000},
        {4, 24, (24 * 2540 + 48) / 96, 832, (832 * 2540 + 104) / 208},
    };
    for (const Row& r : rows) {
        so->m_nLineHeightDots = r.heightDots;
        so->m_nLineWidthDots = r.widthDots;
        EXPECT_EQ(0, so->ApplyMapMode(r.mode)) << r.mode;
        EXPECT_EQ(r.height, so->RecLineHeight) << r.mode;
        EXPECT_EQ(r.width, so->RecLineWidth) << r.mode;
    }
    EXPECT_EQ(106, so->ApplyMapMode(0));
    EXPECT_EQ(4, so->MapMode);

    // Positions: 64-bit arithmetic, negative and overflowing values refused.
    struct Dots
    {
        long long value;
        int mode;
        BOOL ok;
        long dots;
    } dots[] = {
        {1440, 2, 1, 208}, {1000, 3, 1, 208}, {2540, 4, 1, 208}, {12, 1, 1, 12},
        {0x7FFFFFFFLL, 3, 1, long((0x7FFFFFFFLL * 208 + 500) / 1000)}, {-1, 1, 0, 0}, {0x80000000LL, 1, 0, 0},
    };
    MapModeTables t;
    for (const Dots& d : dots) {
        long out = -7;
        EXPECT_EQ(d.ok, CLABELPrinter::ToDots(d.value, t.positionIn[d.mode], &out)) << d.value;
        if (d.ok) {
            EXPECT_EQ(d.dots, out) << d.value;
        }
    }
    long out = 0;
    EXPECT_FALSE(CLABELPrinter::ToDots(0x7FFFFFFFLL, MapModeRow{3, 0, 1}, &out));  // the result too

    // A 203 dpi model: the double rows convert at twice its resolution, 2H.
    t.SetResolution(203, 203);
    const int want[5][3] = {{0, 0, 0}, {2, 0, 1}, {2, 3, 7}, {406, 500, 1000}, {406, 1270, 2540}};
    for (int m = 1; m <= 4; ++m) {
        EXPECT_EQ(want[m][0], t.doubleIn[m].mul) << m;
        EXPECT_EQ(want[m][1], t.doubleIn[m].add) << m;
        EXPECT_EQ(want[m][2], t.doubleIn[m].div) << m;
    }
    EXPECT_EQ(406, MapModeTables::Convert(1000, t.doubleIn[3]));
    so->ExternalRelease();
}

TEST(CharacterSet, ResolutionOf999TheListAndTheCodePageOfTheText)
{
    CSoWorld w;
    Device dev(w);
    ASSERT_EQ(0, dev.open);
    const long known[] = {437, 737, 775, 850, 852, 855, 857, 858, 860, 862, 863,
                          864, 865, 866, 928, 1250, 1251, 1252, 1253, 1254, 1255, 1257};
    long acp = long(GetACP()), resolved = 999;
    for (long k : known)
        if (k == acp)
            resolved = acp;
    struct Row
    {
        long value, rc, reads;
        int page;
    } rows[] = {
        {850, 0, 850, 1},
        {999, resolved == 999 ? 106 : 0, resolved == 999 ? 850 : resolved, resolved == 999 ? 1 : -2},
        {998, 0, 998, 0},
        {1253, 106, 998, 0},  // a code page, but not in the model's list
        {85, 106, 998, 0},    // a part of a listed number
    };
    for (const Row& r : rows) {
        dev.so->SetPropertyNumber(8002, r.value);
        EXPECT_EQ(r.rc, dev.so->ResultCode) << r.value;
        EXPECT_EQ(r.reads, dev.so->GetPropertyNumber(8002)) << r.value;
        int font = 0;
        int page = r.page == -2 ? CLABELPrinter::CodePageNumber(resolved, &font) : r.page;
        EXPECT_EQ(page, dev.so->m_builder.CodePage()) << r.value;
    }
    if (acp == 1252) {
        char out[4] = {};
        EXPECT_EQ(1, CLABELPrinter::ConvertCodePage(850, "\xE9", 1, nullptr));
        EXPECT_EQ(1, CLABELPrinter::ConvertCodePage(850, "\xE9", 1, out));
        EXPECT_EQ('\x82', out[0]);
    }
    EXPECT_EQ(0, CLABELPrinter::ConvertCodePage(850, "", 0, nullptr));
}

// ---- The state check of a claim

TEST(Claim, JudgedOnWhatThePrinterSaysNowAndAUsbPrinterIsAskedAgain)
{
    struct Row
    {
        const char* what;
        bool usb;
        int answer;      // to the claim's status request (-1: none)
        int openFrames;  // cover-open frames the status thread reads before the cover closes
        long rc, rce;
    } rows[] = {
        {"USB, the cover closes while it is asked again", true, 0x40, 6, 0, 0},
        {"USB, the cover stays open", true, 0x40, 1000, 106, 201},
        {"network: asked once", false, 0x40, 1000, 106, 201},
        {"the cover closed while released", false, 0, 0, 0, 0},
        {"no answer: not refused on what was seen before the release", false, -1, 0, 0, 0},
    };
    for (const Row& r : rows) {
        CSoWorld w(1);
        Device dev(w);
        ASSERT_EQ(0, dev.open) << r.what;
        CLABELPrinter* so = dev.so;
        // The printer's cover was open when it was released.
        w.port.Frame(0x0F000034);
        ASSERT_TRUE(WaitFor([&] { return so->CoverOpen != FALSE; }, 20000)) << r.what;
        ASSERT_EQ(0, so->ReleaseDevice()) << r.what;
        if (r.usb) {
            // The configuration finds a USB printer only when one is plugged in: the device's
            // port is named as a USB printer's path would be.
            DeviceOptionRelease(so->m_config.m_dop);
            so->m_config.m_dop.strPortName =
                CString("\\\\?\\usb#vid_0dd4&pid_0186#5&1a2b3c&0&1#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}").AddRefHandle();
        }
        w.port.Result("StatusAnswer", r.answer);
        for (int i = 0; i < r.openFrames; ++i)
            w.port.Frame(0x0F000034);
        if (r.openFrames)
            w.port.Frame(0x0F000014);  // closed
        size_t closes = w.port.Calls("ClosePort").size();
        DWORD start = GetTickCount();
        EXPECT_EQ(r.rc, so->ClaimDevice(1000)) << r.what;
        DWORD elapsed = GetTickCount() - start;
        EXPECT_EQ(r.rce, so->ResultCodeExtended) << r.what;
        EXPECT_EQ(r.rc == 0, so->m_Claimed != FALSE) << r.what;
        std::vector<std::string> lines = w.LogLines();
        if (r.rc == 0) {
            EXPECT_FALSE(so->CoverOpen) << r.what;
            continue;
        }
        EXPECT_EQ(r.usb, Contains(lines, "ClaimDevice: P_PrintStateToRC Error, but USB port. retry read state.")) << r.what;
        EXPECT_TRUE(Contains(lines, "!ERROR: -ClaimDevice: P_PrintStateToRC Error")) << r.what;
        EXPECT_EQ(closes + 1, w.port.Calls("ClosePort").size()) << r.what;
        if (r.usb) {
            EXPECT_GE(elapsed, 1000u) << r.what;  // twelve checks 100 ms apart
        }
    }
}

// ---- The status thread on a shared port

TEST(SharedPort, DetachingTheStatusReceiverWaitsForACallUnderWay)
{
    CSoWorld w;
    CState* port = nullptr;
    {
        Device dev(w);
        ASSERT_EQ(0, dev.open);
        port = dev.so->m_pPort;
        // A second device class on the same port keeps it, and its status thread, after this
        // device has gone.
        w.port.Result("CreatePort", 40000, SCRIPT_MANAGER);
        ASSERT_EQ(40000, CreateState("DRAWER", "127.0.0.1", 1));
        ASSERT_TRUE(port->Open(1, dev.so->m_config.m_dop));

        // The status thread's call into the device stops in its event list, whose lock this
        // thread holds.
        WaitForSingleObject(dev.so->m_hEventListMutex, INFINITE);
        w.port.Frame(0x0F000034);  // cover open
        EXPECT_TRUE(WaitFor([&] { return dev.so->CoverOpen != FALSE; }, 20000));
        // The detach notes whether it returned while the call was still held up here.
        std::atomic<bool> entered{false}, released{false}, detached{false}, beforeTheCallEnded{false};
        std::thread detach([&] {
            entered = true;
            port->SetStatusReceiver(nullptr);
            beforeTheCallEnded = !released;
            detached = true;
        });
        EXPECT_TRUE(WaitFor([&] { return entered.load(); }, 20000));
        // While the call is held the detach has time to return, and must not.
        bool returnedWhileHeld = WaitFor([&] { return detached.load(); }, 1000);
        released = true;
        ReleaseMutex(dev.so->m_hEventListMutex);
        detach.join();
        EXPECT_FALSE(returnedWhileHeld);
        EXPECT_TRUE(detached);
        EXPECT_FALSE(beforeTheCallEnded);

        // Nothing reaches the device after the detach: the next frame is read and dropped.
        size_t frames = w.port.Calls("GetASBState(40000, 32) = 1").size();
        w.port.Frame(0x0F000014);  // cover closed
        EXPECT_TRUE(WaitFor([&] { return w.port.Calls("GetASBState(40000, 32) = 1").size() > frames; }, 20000));
        size_t polls = w.port.Calls("IsPowerState").size();
        EXPECT_TRUE(WaitFor([&] { return w.port.Calls("IsPowerState").size() > polls + 1; }, 20000));
        EXPECT_NE(FALSE, dev.so->CoverOpen);
    }
    // The other class goes last: the port closes and the connection goes with it.
    EXPECT_TRUE(port->StatusThreadRunning());
    EXPECT_TRUE(port->Close(1));
    EXPECT_EQ(1, DeleteState(1, 40000));
    EXPECT_EQ(1u, w.port.Calls("ClosePort(40000, 1)").size());
}

TEST(SharedPort, TwoThreadsAskingForTheStatusEachGetTheirOwnAnswer)
{
    CSoWorld w;
    Device dev(w);
    ASSERT_EQ(0, dev.open);
    // Each request gets its own answer byte; the first request's write takes long enough for the
    // second thread to ask meanwhile.
    w.port.Result("StatusAnswer", 0x51);
    w.port.Result("StatusAnswer", 0x52);
    w.port.Result("WriteStall", 1000);
    size_t requests = w.port.Calls("Write(5, ").size();
    BYTE answers[2] = {};
    int results[2] = {-1, -1};
    std::thread first([&] { results[0] = dev.so->StatusExchange(5000, &answers[0]); });
    EXPECT_TRUE(WaitFor([&] { return w.port.Calls("Write(5, ").size() > requests; }, 20000));
    std::thread second([&] { results[1] = dev.so->StatusExchange(5000, &answers[1]); });
    first.join();
    second.join();
    EXPECT_EQ(int(CLABELPrinter::ExchangeAnswered), results[0]);
    EXPECT_EQ(0x51, answers[0]);
    EXPECT_EQ(int(CLABELPrinter::ExchangeAnswered), results[1]);
    EXPECT_EQ(0x52, answers[1]);
    EXPECT_EQ(requests + 2, w.port.Calls("Write(5, ").size());
}

} // namespace

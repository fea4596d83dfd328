// CPortReceiver: the receive side every transport port shares (queue, status buffer, locks,
// filter state and its log lines).
#include "PortLog.h"
#include "PortReceiver.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {
void Feed(CPortReceiver& r, std::vector<BYTE> b) { r.Feed(b.data(), int(b.size())); }

std::string ReadAll(CPortReceiver& r)
{
    BYTE buf[256];
    int n = r.Read(buf, sizeof buf);
    return std::string(reinterpret_cast<char*>(buf), size_t(n));
}

std::string LogText(const CTempFolder& f)
{
    std::vector<std::string> files = f.List("Log");
    return files.empty() ? std::string() : f.Read("Log\\" + files[0]);
}
}

TEST(PortReceiver, DataToTheQueueFramesToTheStatusBuffer)
{
    CPortReceiver r(false);
    int asb = -1;
    EXPECT_EQ(r.PopStatusFrame(&asb), CPortReceiver::ASB_NO_BUFFER);  // not open yet
    Feed(r, {'x'});
    EXPECT_EQ(r.Available(), 0);
    r.Open(0);
    EXPECT_TRUE(r.IsOpen());
    EXPECT_EQ(r.PopStatusFrame(&asb), CPortReceiver::ASB_EMPTY);
    EXPECT_EQ(asb, -1);
    Feed(r, {'O', 'K', 0x10, 0x00});
    Feed(r, {0x00, 0x00, '\r'});
    EXPECT_EQ(r.Available(), 3);
    EXPECT_EQ(ReadAll(r), "OK\r");
    EXPECT_EQ(r.PopStatusFrame(&asb), CPortReceiver::ASB_DELIVERED);
    EXPECT_EQ(asb, 0x10);
    EXPECT_EQ(r.PopStatusFrame(&asb), CPortReceiver::ASB_EMPTY);
    EXPECT_EQ(r.PopStatusFrame(nullptr), CPortReceiver::ASB_EMPTY);

    // A lone status answer waits as a candidate until a read pass brings nothing new.
    Feed(r, {0x10});
    EXPECT_EQ(r.Available(), 0);
    r.FlushCandidate();
    EXPECT_EQ(r.Available(), 1);
    EXPECT_EQ(ReadAll(r), "\x10");
    r.FlushCandidate();
    EXPECT_EQ(r.Available(), 0);

    Feed(r, {'a', 'b'});
    r.Clear();
    EXPECT_EQ(r.Available(), 0);
    BYTE out[4];
    EXPECT_EQ(r.Read(nullptr, 4), 0);
    EXPECT_EQ(r.Read(out, -1), 0);

    // Five frames before a read: only the fifth is kept.
    for (BYTE second : {0x01, 0x02, 0x04, 0x08, 0x20})
        Feed(r, {0x10, second, 0x00, 0x00});
    EXPECT_EQ(r.PopStatusFrame(&asb), CPortReceiver::ASB_DELIVERED);
    EXPECT_EQ(asb, 0x2010);
    EXPECT_EQ(r.PopStatusFrame(&asb), CPortReceiver::ASB_EMPTY);

    r.Close();
    EXPECT_FALSE(r.IsOpen());
    EXPECT_EQ(r.Read(out, 4), 0);
    EXPECT_EQ(r.PopStatusFrame(&asb), CPortReceiver::ASB_NO_BUFFER);
    Feed(r, {'l', 'o', 's', 't'});  // the read thread may still run: nothing breaks
    r.Close();
}

TEST(PortReceiver, ReopeningForgetsAHalfFrame)
{
    CPortReceiver r(false);
    r.Open(16);
    Feed(r, {0x10, 0x00});
    r.Close();
    r.Open(16);
    Feed(r, {0x00, 0x00});
    int asb = 0;
    EXPECT_EQ(r.PopStatusFrame(&asb), CPortReceiver::ASB_EMPTY);
    EXPECT_EQ(ReadAll(r), std::string("\0\0", 2));
}

TEST(PortReceiver, LogLinesFollowTheGates)
{
    CTempFolder f;
    PortLogOpen(TRUE, f.Path().c_str(), "Com", 10000);
    {
        CPortReceiver serial(false);  // the bytes line needs only the log bit
        serial.Open(0);
        Feed(serial, {'A', 'B'});  // gates off: no lines
        serial.SetLogGates(true, false);
        Feed(serial, {'C', 0x10, 0x00, 0x00, 0x00});
        serial.SetLogGates(true, true);
        Feed(serial, {0x41, 0x35, 0x40, 0x40, 0x00});
    }
    {
        CPortReceiver net(true);  // the bytes line needs the trace bit
        net.Open(0);
        net.SetLogGates(true, false);
        Feed(net, {'n'});
    }
    PortLogClose();
    std::string text = LogText(f);
    std::vector<std::string> lines;
    for (size_t at = 0, e; (e = text.find("\r\n", at)) != std::string::npos; at = e + 2)
        lines.push_back(text.substr(at + 17, e - at - 17));  // without "- (hh:mm:ss.mmm) "
    const std::vector<std::string> want = {
        "m_pInputQ->Size() : 3",
        "Input 1bytes : 43",
        "2filter Input byte : 41",
        "Input IASB : 35 40 40 00",
        "m_pInputQ->Size() : 4",
        "Input 1bytes : 41",
        "m_pInputQ->Size() : 1",
    };
    EXPECT_EQ(lines, want);
}

TEST(PortReceiver, ProducerAndConsumerKeepEveryByteInOrder)
{
    CPortReceiver r(false);
    r.Open(8);
    const int kBlocks = 3000;
    std::atomic<bool> done(false);
    std::thread producer([&] {
        for (int i = 0; i < kBlocks; ++i) {
            // Data bytes that never start a frame, with a frame in between now and then.
            std::vector<BYTE> b = {BYTE('a' + i % 26), BYTE('A' + i % 26)};
            if (i % 7 == 0)
                b.insert(b.begin() + 1, {0x10, 0x00, 0x00, 0x00});
            r.Feed(b.data(), int(b.size()));
        }
        done = true;
    });
    std::string got;
    int frames = 0, asb = 0;
    bool ok = WaitFor(
        [&] {
            got += ReadAll(r);
            while (r.PopStatusFrame(&asb) == CPortReceiver::ASB_DELIVERED)
                ++frames;
            return done && r.Available() == 0 && got.size() == size_t(2 * kBlocks);
        },
        60000);
    producer.join();
    EXPECT_TRUE(ok);
    std::string want;
    for (int i = 0; i < kBlocks; ++i) {
        want += char('a' + i % 26);
        want += char('A' + i % 26);
    }
    EXPECT_EQ(got, want);
    EXPECT_GE(frames, 1);  // frames may be dropped (the fifth replaces four) but never leak as data
}

// Status-frame byte sets, the receive filter and the status-frame buffer.
#include "StatusFrame.h"
#include "PortLog.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

typedef std::vector<BYTE> Bytes;

// The accepted bytes per frame position, as the printer documents them.
const std::set<int> kAsb[4] = {
    {0x10, 0x14, 0x18, 0x1C, 0x30, 0x34, 0x38, 0x3C, 0x54, 0x58, 0x5C},
    {0x00, 0x01, 0x02, 0x04, 0x08, 0x20, 0x40, 0x60},
    {0x00, 0x03, 0x0C, 0x0F, 0x80},
    {0x00, 0x0F, 0x4F},
};
const std::set<int> kIasb[4] = {
    {0x35},
    {0x40, 0x41, 0x42, 0x44, 0x48, 0x4C, 0x60},
    {0x40, 0x41, 0x42},
    {0x00},
};

// Records what the filter hands on.
struct Sink : IReceiveSink
{
    Bytes data;
    int dataCalls = 0;
    std::vector<Bytes> frames;
    std::vector<bool> iasb;
    std::vector<std::string> trace;
    bool tracing = false;

    void OnFilterData(const BYTE* b, int n) override
    {
        ++dataCalls;
        data.insert(data.end(), b, b + n);
    }
    void OnFilterFrame(const BYTE f[4], bool isIasb) override
    {
        frames.push_back(Bytes(f, f + 4));
        iasb.push_back(isIasb);
    }
    void OnFilterTrace(const char* line) override { trace.push_back(line); }
    bool FilterTracing() const override { return tracing; }
};

void Feed(CReceiveFilter& f, Sink& s, const Bytes& block) { f.Process(block.data(), int(block.size()), s); }

Sink OneBlock(const Bytes& in)
{
    CReceiveFilter f;
    Sink s;
    Feed(f, s, in);
    return s;
}

} // namespace

TEST(StatusFrameBytes, EveryValueAtEveryPosition)
{
    for (int k = 0; k < 4; ++k)
        for (int b = 0; b < 256; ++b) {
            EXPECT_EQ(IsAsbByte(BYTE(b), k), kAsb[k].count(b) == 1) << "ASB byte " << b << " at " << k;
            EXPECT_EQ(IsIasbByte(BYTE(b), k), kIasb[k].count(b) == 1) << "IASB byte " << b << " at " << k;
        }
    for (int k : {-1, 4, 5, 1000})
        for (int b = 0; b < 256; ++b) {
            EXPECT_FALSE(IsAsbByte(BYTE(b), k));
            EXPECT_FALSE(IsIasbByte(BYTE(b), k));
        }
}

TEST(ReceiveFilter, WholeFramesAndPlainData)
{
    Sink s = OneBlock({0x10, 0x00, 0x00, 0x00});
    ASSERT_EQ(s.frames.size(), 1u);
    EXPECT_EQ(s.frames[0], (Bytes{0x10, 0, 0, 0}));
    EXPECT_FALSE(s.iasb[0]);
    EXPECT_TRUE(s.data.empty());
    EXPECT_EQ(s.dataCalls, 0);

    s = OneBlock({0x35, 0x40, 0x40, 0x00});
    ASSERT_EQ(s.frames.size(), 1u);
    EXPECT_EQ(s.frames[0], (Bytes{0x35, 0x40, 0x40, 0x00}));
    EXPECT_TRUE(s.iasb[0]);

    s = OneBlock({0x41, 0x42});
    EXPECT_EQ(s.data, (Bytes{0x41, 0x42}));
    EXPECT_EQ(s.dataCalls, 1);  // one queue put per block
    EXPECT_TRUE(s.frames.empty());
}

TEST(ReceiveFilter, BrokenCandidatesBecomeDataInOrder)
{
    // 0x41 fits neither candidate: 0x10 becomes data, 0x41 is tested again.
    EXPECT_EQ(OneBlock({0x10, 0x41}).data, (Bytes{0x10, 0x41}));
    // 0x35 is an IASB first byte while the ASB candidate is open: the candidates disagree.
    EXPECT_EQ(OneBlock({0x10, 0x35}).data, (Bytes{0x10, 0x35}));
    // After a broken candidate the failing byte may open the next frame.
    Sink s = OneBlock({0x10, 0x20, 0x10, 0x00, 0x00, 0x00});
    EXPECT_EQ(s.data, (Bytes{0x10, 0x20}));
    ASSERT_EQ(s.frames.size(), 1u);
    EXPECT_EQ(s.frames[0], (Bytes{0x10, 0, 0, 0}));
    // Data on both sides of a frame keeps its order.
    s = OneBlock({'A', 0x54, 0x60, 0x80, 0x4F, 'B', 'C'});
    EXPECT_EQ(s.data, (Bytes{'A', 'B', 'C'}));
    ASSERT_EQ(s.frames.size(), 1u);
    EXPECT_EQ(s.frames[0], (Bytes{0x54, 0x60, 0x80, 0x4F}));
}

TEST(ReceiveFilter, StateIsKeptAcrossBlocks)
{
    CReceiveFilter f;
    Sink s;
    Feed(f, s, {0x10, 0x00});
    EXPECT_TRUE(s.data.empty());
    EXPECT_TRUE(f.HasCandidate());
    Feed(f, s, {0x00, 0x00});
    ASSERT_EQ(s.frames.size(), 1u);
    EXPECT_TRUE(s.data.empty());
    EXPECT_FALSE(f.HasCandidate());

    CReceiveFilter g;
    Sink t;
    for (BYTE b : {0x10, 0x00, 0x00, 0x00})
        Feed(g, t, {b});
    EXPECT_EQ(t.frames.size(), 1u);
    EXPECT_TRUE(t.data.empty());

    CReceiveFilter h;
    Sink u;
    Feed(h, u, {0x10, 0x00});
    Feed(h, u, {0x41});
    EXPECT_EQ(u.data, (Bytes{0x10, 0x00, 0x41}));
    EXPECT_TRUE(u.frames.empty());
}

TEST(ReceiveFilter, SplitAnywhereGivesTheSameAsOneBlock)
{
    const std::vector<Bytes> streams = {
        {'x', 0x10, 0x00, 0x00, 0x00, 'y', 0x35, 0x41, 0x42, 0x00, 0x10, 0x41, 'z'},
        {0x10, 0x35, 0x40, 0x40, 0x00, 0x1C, 0x08, 0x0C, 0x0F, 0x10, 0x10, 0x00},
        {0x35, 0x35, 0x40, 0x41, 0x00, 0x10, 0x00, 0x00, 0x4F, 0x00, 0x00},
        {0x10, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x35, 0x60, 0x42},
    };
    for (const Bytes& in : streams) {
        Sink whole = OneBlock(in);
        // Every way of cutting the stream into three blocks (empty blocks are skipped).
        for (size_t a = 0; a <= in.size(); ++a)
            for (size_t b = a; b <= in.size(); ++b) {
                CReceiveFilter f;
                Sink s;
                Bytes p1(in.begin(), in.begin() + long(a)), p2(in.begin() + long(a), in.begin() + long(b)),
                    p3(in.begin() + long(b), in.end());
                Feed(f, s, p1);
                Feed(f, s, p2);
                Feed(f, s, p3);
                EXPECT_EQ(s.data, whole.data) << "cut at " << a << "," << b;
                EXPECT_EQ(s.frames, whole.frames) << "cut at " << a << "," << b;
            }
        // Byte by byte.
        CReceiveFilter f;
        Sink s;
        for (BYTE x : in)
            Feed(f, s, {x});
        EXPECT_EQ(s.data, whole.data);
        EXPECT_EQ(s.frames, whole.frames);
    }
}

TEST(ReceiveFilter, FlushTurnsAnOpenCandidateIntoData)
{
    // A one-byte status answer 0x10 is also a valid first byte of a frame.
    CReceiveFilter f;
    Sink s;
    Feed(f, s, {0x10});
    EXPECT_TRUE(s.data.empty());
    f.Flush(s);
    EXPECT_EQ(s.data, (Bytes{0x10}));
    EXPECT_FALSE(f.HasCandidate());
    f.Flush(s);  // nothing open: nothing happens
    EXPECT_EQ(s.data, (Bytes{0x10}));
    EXPECT_EQ(s.dataCalls, 1);

    // Three bytes of a frame, then a pause: all three are data, in order; the next frame is
    // recognised from scratch.
    Feed(f, s, {'o', 'k', 0x35, 0x40, 0x41});
    f.Flush(s);
    Feed(f, s, {0x10, 0x00, 0x00, 0x00});
    EXPECT_EQ(s.data, (Bytes{0x10, 'o', 'k', 0x35, 0x40, 0x41}));
    EXPECT_EQ(s.frames.size(), 1u);
}

TEST(ReceiveFilter, BadBlocksAreIgnored)
{
    CReceiveFilter f;
    Sink s;
    BYTE b = 0x10;
    f.Process(nullptr, 4, s);
    f.Process(&b, 0, s);
    f.Process(&b, -3, s);
    EXPECT_FALSE(f.HasCandidate());
    EXPECT_TRUE(s.data.empty());
    f.Reset();
    Feed(f, s, {0x10, 0x00});
    f.Reset();
    Feed(f, s, {0x00, 0x00});
    EXPECT_TRUE(s.frames.empty());  // Reset forgot the candidate
}

TEST(ReceiveFilter, TraceLinesNameTheCase)
{
    CReceiveFilter f;
    Sink s;
    s.tracing = true;
    Feed(f, s, {0x41, 0x10, 0x41, 0x10, 0x35, 0x10, 0x00, 0x00, 0x00, 0x35, 0x42, 0x40, 0x00});
    const std::vector<std::string> want = {
        "2filter Input byte : 41",
        "1filter Input byte : 10",
        "2filter Input byte : 41",
        "3filter Input byte : 10 35",
        "Input ASB : 10 00 00 00",
        "Input IASB : 35 42 40 00",
    };
    EXPECT_EQ(s.trace, want);
    CReceiveFilter g;
    Sink quiet;
    Feed(g, quiet, {0x41, 0x10, 0x41});
    EXPECT_TRUE(quiet.trace.empty());
}

TEST(StatusFrameBuffer, KeepsFourFramesTheFifthReplacesThem)
{
    CStatusFrameBuffer buf(0);
    EXPECT_GE(buf.Size(), 16);
    int v = 12345;
    EXPECT_FALSE(buf.Pop(&v));
    EXPECT_EQ(v, 12345);  // untouched when empty
    for (BYTE i = 1; i <= 5; ++i) {
        BYTE frame[4] = {0x10, i, 0x00, 0x00};
        buf.Store(frame);
    }
    EXPECT_EQ(buf.Length(), 4);
    ASSERT_TRUE(buf.Pop(&v));
    EXPECT_EQ(v, 0x0510);
    EXPECT_FALSE(buf.Pop(&v));
    EXPECT_EQ(v, 0x0510);

    for (BYTE i = 1; i <= 4; ++i) {
        BYTE frame[4] = {0x35, 0x40, BYTE(0x40 + i), 0x00};
        buf.Store(frame);
    }
    for (BYTE i = 1; i <= 4; ++i) {
        ASSERT_TRUE(buf.Pop(&v));
        EXPECT_EQ(v, int(0x35 | 0x40 << 8 | (0x40 + i) << 16));  // oldest first, first byte lowest
    }
    EXPECT_FALSE(buf.Pop(nullptr));
    EXPECT_EQ(CStatusFrameBuffer(4096).Size(), 4097);
    EXPECT_EQ(CStatusFrameBuffer(0xFFFFFFFFu).Size() >= 16, true);
}

TEST(StatusFrameBuffer, HighByteSurvivesAsSigned)
{
    CStatusFrameBuffer buf(16);
    BYTE frame[4] = {0x3C, 0x60, 0x80, 0x4F};
    buf.Store(frame);
    int v = 0;
    ASSERT_TRUE(buf.Pop(&v));
    EXPECT_EQ(unsigned(v), 0x4F80603Cu);
}

TEST(StatusFrameBuffer, FiveFramesThroughTheFilter)
{
    CReceiveFilter f;
    CStatusFrameBuffer buf(64);
    struct : Sink
    {
        CStatusFrameBuffer* b;
        void OnFilterFrame(const BYTE fr[4], bool) override { b->Store(fr); }
    } s;
    s.b = &buf;
    Bytes in;
    for (BYTE second : {0x01, 0x02, 0x04, 0x08, 0x20})
        in.insert(in.end(), {0x10, second, 0x00, 0x00});
    Feed(f, s, in);
    int v = 0;
    ASSERT_TRUE(buf.Pop(&v));
    EXPECT_EQ(v, 0x2010);
    EXPECT_FALSE(buf.Pop(&v));
}

TEST(PortLogFormat, OnlyItsOwnConversions)
{
    EXPECT_EQ(PortLogFormat("%d|%x|%s|%f", -42, 0xBEEF, "COM3", 1.5), "-42|beef|COM3|1.5");
    EXPECT_EQ(PortLogFormat("v=%02d", 5), "v=2d");
    EXPECT_EQ(PortLogFormat("100%%"), "100");
    EXPECT_EQ(PortLogFormat("%-5s.", "x"), "5s.");
    EXPECT_EQ(PortLogFormat("end%"), "end");
    EXPECT_EQ(PortLogFormat("%s", static_cast<const char*>(nullptr)), "(null)");
    EXPECT_EQ(PortLogFormat("%f", 3.14159265358979), "3.141592654");
    EXPECT_EQ(PortLogFormat(nullptr), "");
    EXPECT_EQ(FormatByteLine("Input 3bytes :", reinterpret_cast<const BYTE*>("\x0a\xff\x00"), 3),
              "Input 3bytes : 0a ff 00");
}

TEST(PortLogFormat, TagsByDeviceClass)
{
    EXPECT_STREQ(PortLogTag(1), "<PRINTER>");
    EXPECT_STREQ(PortLogTag(2), "<CASHDRAWER>");
    EXPECT_STREQ(PortLogTag(4), "<LINEDISPLAY>");
    EXPECT_STREQ(PortLogTag(8), "<MSR>");
    EXPECT_STREQ(PortLogTag(16), "<SCR>");
    EXPECT_STREQ(PortLogTag(32), "<LABEL>");
    EXPECT_STREQ(PortLogTag(64), "");
    EXPECT_STREQ(PortLogTag(0), "");
    EXPECT_STREQ(PortLogTag(33), "");
}

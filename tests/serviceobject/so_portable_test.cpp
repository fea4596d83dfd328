// The Service Object's portable pieces: the trace log's formatter, line layout and file names,
// and the print buffers.
#include "KVTLogFormat.h"
#include "OPOSData.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string S(const CString& s) { return std::string(s.GetString(), size_t(s.GetLength())); }

// ---- Formatter

TEST(LogFormat, ConversionsAndQuirks)
{
    struct Row
    {
        std::string got, want;
    } rows[] = {
        {S(KvtFormatTextF("value %d", -42)), "value -42"},
        {S(KvtFormatTextF("%x", 255)), "ff"},
        {S(KvtFormatTextF("%x", -1)), "ffffffff"},
        {S(KvtFormatTextF("%02d", 7)), "2d"},  // "%0" dropped, the argument not used
        {S(KvtFormatTextF("%02d %d", 7)), "2d 7"},
        {S(KvtFormatTextF("a%qb")), "ab"},
        {S(KvtFormatTextF("<%s>", "text")), "<text>"},
        {S(KvtFormatTextF("<%s>", static_cast<const char*>(nullptr))), "<(null)>"},
        {S(KvtFormatTextF("%f", 1.5)), "1.5"},
        {S(KvtFormatTextF("%f", 1234567890123.0)), "1.23456789e+12"},
        {S(KvtFormatTextF("%f", 0.1)), "0.1"},
        {S(KvtFormatTextF("100%")), "100"},  // a lone "%" ends the text
        {S(KvtFormatTextF("%%d")), "d"},
        {S(KvtFormatTextF("%d|%s|%x", 1, "two", 3)), "1|two|3"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(r.want, r.got);
}

TEST(LogFormat, LineBytes)
{
    EXPECT_EQ("- (09:05:03.007) hello\r\n", S(KvtFormatLine(0, 9, 5, 3, 7, "hello")));
    EXPECT_EQ("- (23:59:59.999) !ERROR: bad\r\n", S(KvtFormatLine(10, 23, 59, 59, 999, "bad")));
    EXPECT_EQ("- (00:00:00.000) !ERROR: x\r\n", S(KvtFormatLine(1, 0, 0, 0, 0, "x")));
}

TEST(LogFormat, FileNames)
{
    EXPECT_EQ("C:\\inst\\Log\\LP1_Mon_120913.log", S(KvtHourFileName("C:\\inst", "LP1", 12, 9, 13)));
    EXPECT_EQ("C:\\inst\\Log\\LP1_Fatal_010200.log", S(KvtFatalFileName("C:\\inst", "LP1", 1, 2, 0)));
}

TEST(LogFormat, WhichNamesAndFoldersAreUsed)
{
    struct
    {
        const char* device;
        bool usable;
    } devices[] = {{"LabelPrinter", true}, {"LP 1.x", true}, {"", true},        {"..\\up", false},
                   {"a/b", false},         {"c:d", false},   {"x*y", false},    {"q?", false},
                   {"p|q", false},         {"\"q\"", false}, {"tab\there", false}};
    for (const auto& d : devices)
        EXPECT_EQ(d.usable, KvtIsUsableFileName(d.device)) << d.device;

    struct
    {
        const char* folder;
        bool absolute;
    } folders[] = {{"C:\\Program Files\\VESK", true}, {"z:\\x", true}, {"\\\\server\\share", true},
                   {"", false},  {"Log", false}, {".\\here", false}, {"C:relative", false}, {"\\rooted", false}};
    for (const auto& f : folders)
        EXPECT_EQ(f.absolute, KvtIsAbsolutePath(f.folder)) << f.folder;
}

TEST(LogFormat, SystemLogNames)
{
    struct
    {
        const char* name;
        bool ours;
    } names[] = {
        {"LP1_Mon_120913.log", true},       {"LP1_Fatal_120913.log", true},   {"_Mon_120913.log", true},
        {"d_Com_10000_120814.log", true},   {"d_Qln_120814.log", true},       {"Com_10000_1208.1430.bin", true},
        {"Net_1208.1430.bin", true},        {"notes.txt", false},             {"LP1_Mon_1209.log", false},
        {"LP1_Mon_12091x.log", false},      {"report.log", false},            {"d_120814.log", false},
        {"data.bin", false},                {"x_1208-1430.bin", false},       {"LP1_Mon_120913.log.bak", false},
    };
    for (const auto& n : names)
        EXPECT_EQ(n.ours, KvtIsLogFileName(n.name)) << n.name;
}

// ---- Print buffers

bool AllZero(const BYTE* p, DWORD from, DWORD to)
{
    for (DWORD i = from; i < to; ++i)
        if (p[i])
            return false;
    return true;
}

TEST(PrintBuffer, ConstructionFreeAndReset)
{
    COPOSData d;
    EXPECT_EQ(64u, d.GetCapacity());
    EXPECT_EQ(0u, d.GetLength());
    EXPECT_TRUE(AllZero(d.GetData(), 0, 64));

    COPOSData sized(1024);
    EXPECT_EQ(1024u, sized.GetCapacity());
    ASSERT_EQ(0, sized.Append(reinterpret_cast<const BYTE*>("abc"), 3));
    EXPECT_EQ(0, sized.Reset(1024));
    EXPECT_EQ(0u, sized.GetLength());
    EXPECT_EQ(1024u, sized.GetCapacity());
    EXPECT_TRUE(AllZero(sized.GetData(), 0, 1024));

    EXPECT_EQ(0, sized.Free());
    EXPECT_EQ(0u, sized.GetLength());
    EXPECT_EQ(1u, sized.GetCapacity());
    EXPECT_EQ(0, sized.GetData()[0]);
}

TEST(PrintBuffer, AppendsKeepContentAndZeroTail)
{
    COPOSData d;
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(0, d.AppendByte(BYTE(i + 1)));
    EXPECT_EQ(64u, d.GetLength());
    EXPECT_EQ(64u, d.GetCapacity());  // 64 appends fit without growing
    ASSERT_EQ(0, d.AppendByte(0x41));
    EXPECT_EQ(65u, d.GetLength());
    EXPECT_GE(d.GetCapacity(), 65u);
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(BYTE(i + 1), d.GetData()[i]);
    EXPECT_EQ(0x41, d.GetData()[64]);
    EXPECT_TRUE(AllZero(d.GetData(), d.GetLength(), d.GetCapacity()));

    DWORD len = d.GetLength();
    EXPECT_EQ(0, d.Append(reinterpret_cast<const BYTE*>("x"), 0));  // nothing appended
    EXPECT_EQ(len, d.GetLength());

    COPOSData text(4);
    EXPECT_EQ(0, text.AppendString(CString("PRINT\0ed", 8)));  // binary content, no terminator
    EXPECT_EQ(8u, text.GetLength());
    EXPECT_EQ(0, std::memcmp(text.GetData(), "PRINT\0ed", 8));
}

TEST(PrintBuffer, WholeAndPartialAppendsOfOtherBuffers)
{
    COPOSData src(16);
    ASSERT_EQ(0, src.Append(reinterpret_cast<const BYTE*>("ABCDEF"), 6));

    struct
    {
        DWORD part;
        const char* want;
    } parts[] = {{0, ""}, {3, "ABC"}, {6, "ABCDEF"}, {7, "ABCDEF"}, {0xFFFFFFFFu, "ABCDEF"}};
    for (const auto& p : parts) {
        COPOSData dst(2);
        ASSERT_EQ(0, dst.AppendDataPart(src, p.part));
        EXPECT_EQ(std::string(p.want), std::string(reinterpret_cast<const char*>(dst.GetData()), dst.GetLength()))
            << p.part;
    }

    COPOSData self(64);
    ASSERT_EQ(0, self.Append(reinterpret_cast<const BYTE*>("xyz"), 3));
    ASSERT_EQ(0, self.AppendData(self));  // capacity suffices: copied behind itself
    EXPECT_EQ("xyzxyz", std::string(reinterpret_cast<const char*>(self.GetData()), self.GetLength()));

    COPOSData tight(3);
    ASSERT_EQ(0, tight.Append(reinterpret_cast<const BYTE*>("pqr"), 3));
    ASSERT_EQ(0, tight.AppendData(tight));  // grows while reading from its own storage
    EXPECT_EQ("pqrpqr", std::string(reinterpret_cast<const char*>(tight.GetData()), tight.GetLength()));
}

TEST(PrintBuffer, LargeSizesAreRefusedAndChangeNothing)
{
    COPOSData d(8);
    ASSERT_EQ(0, d.Append(reinterpret_cast<const BYTE*>("keep"), 4));
    BYTE one = 1;
    struct
    {
        DWORD n;
    } sizes[] = {{0xFFFFFFFFu}, {0xFFFFFFFCu}, {0x80000000u}, {COPOSData::kMaxSize}};
    for (const auto& s : sizes) {
        EXPECT_EQ(COPOSData::TOO_LARGE, d.Append(&one, s.n)) << s.n;
        EXPECT_EQ(4u, d.GetLength());
        EXPECT_EQ(0, std::memcmp(d.GetData(), "keep", 4));
    }
    EXPECT_EQ(COPOSData::TOO_LARGE, d.Reset(0xFFFFFFFFu));
    EXPECT_EQ(4u, d.GetLength());
    EXPECT_EQ(COPOSData::TOO_LARGE, d.Append(nullptr, 3));
}

TEST(PrintBuffer, JobListDoesNotOwnItsBuffers)
{
    COPOSData* a = new COPOSData;
    COPOSData* b = new COPOSData;
    ASSERT_EQ(0, a->AppendByte('a'));
    {
        CPrintData job;
        EXPECT_EQ(0, job.OutputID);
        job.chunks.AddTail(a);
        job.chunks.AddTail(b);
        EXPECT_EQ(2, job.chunks.GetCount());
        EXPECT_EQ(a, job.chunks.GetHead());
    }
    // Still alive and intact after the list went.
    EXPECT_EQ(1u, a->GetLength());
    EXPECT_EQ('a', a->GetData()[0]);
    delete a;
    delete b;
}

} // namespace

// The label parser on every command form the driver writes, on binary payloads and on bad input.
#include "qlks.h"

#include <gtest/gtest.h>

using namespace qlks;

namespace {

Bytes bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

const std::string kSetup = "SW832\r\nST1\r\nSM8,16\r\nSS4\r\nSD10\r\nSO0\r\nSA2\r\nTA-3\r\nCS0,1252\r\nCUTn\r\n";

Label one(const Bytes& raw)
{
    StreamParser sp;
    sp.feed(raw);
    EXPECT_EQ(sp.labels().size(), 1u);
    return sp.labels().empty() ? Label{} : sp.labels()[0];
}

std::string fieldsOf(const Command& c)
{
    std::string s;
    for (const Field& f : c.fields) s += f.name + "=" + (f.isNumber ? std::to_string(f.number) : f.text) + ";";
    return s;
}

} // namespace

TEST(QlksParser, SetupLinesOfAFullLabel)
{
    Label l = one(bytes("SL400,24,C\r\nSW832\r\nSTD\r\nSM8,16\r\nSF1,20\r\nSS4\r\nSD10\r\nSOB\r\nSA2\r\nTA-3\r\n"
                        "CS3,1252\r\nCUTn\r\nRWDy\r\nP1\r\n"));
    ASSERT_TRUE(l.complete);
    EXPECT_EQ(l.flags, 0u) << describe(l);
    ASSERT_EQ(l.commands.size(), 14u);
    EXPECT_EQ(fieldsOf(l.commands[0]), "length=400;gap=24;type=C;");
    EXPECT_EQ(fieldsOf(*l.find(Op::PaperWidth)), "width=832;");
    EXPECT_EQ(fieldsOf(*l.find(Op::PrintType)), "type=D;");
    EXPECT_EQ(fieldsOf(*l.find(Op::Margins)), "left=8;top=16;");
    EXPECT_EQ(fieldsOf(*l.find(Op::BackFeed)), "feed=1;step=20;");
    EXPECT_EQ(fieldsOf(*l.find(Op::PrintSpeed)), "speed=4;");
    EXPECT_EQ(fieldsOf(*l.find(Op::Density)), "density=10;");
    EXPECT_EQ(fieldsOf(*l.find(Op::Orientation)), "orientation=B;");
    EXPECT_EQ(fieldsOf(*l.find(Op::OffsetPosition)), "position=2;");
    EXPECT_EQ(fieldsOf(*l.find(Op::TearOffPosition)), "position=-3;");
    EXPECT_EQ(fieldsOf(*l.find(Op::CharSet)), "charset=3;codepage=1252;");
    EXPECT_TRUE(l.find(Op::CutSetup));
    EXPECT_TRUE(l.find(Op::Rewind));
    EXPECT_EQ(l.commands.back().op, Op::Print);

    // The other paper types carry the offset as a fourth value.
    Command sl = parseLine("SL600,16,G,12");
    EXPECT_EQ(sl.op, Op::PaperLength);
    EXPECT_EQ(fieldsOf(sl), "length=600;gap=16;type=G;offset=12;");
}

TEST(QlksParser, TextBarcodeBoxCircleCutForms)
{
    Command t = parseLine("T10,20,K1,2,3,1,0,R,B,L,'it\\'s C:\\\\temp'");
    EXPECT_EQ(t.op, Op::Text);
    EXPECT_EQ(fieldsOf(t), "x=10;y=20;font=K1;wmul=2;hmul=3;gap=1;rotation=0;reverse=R;bold=B;justify=L;text=it's C:\\temp;");

    Command v = parseLine("V0,5,U,24,32,2,N,N,I,1,C,1,'abc'");
    EXPECT_EQ(v.op, Op::VectorText);
    EXPECT_EQ(fieldsOf(v), "x=0;y=5;font=U;width=24;height=32;gap=2;bold=N;reverse=N;italic=I;rotation=1;justify=C;rtl=1;text=abc;");

    // Barcode data is not escaped: a backslash stays as it is, and a quote inside is flagged.
    Command b = parseLine("B1100,40,1,2,5,80,0,14,'ABC\\'");
    EXPECT_EQ(b.op, Op::Barcode);
    EXPECT_EQ(b.flags, 0u) << b.problem;
    EXPECT_EQ(fieldsOf(b), "x=100;y=40;type=1;narrow=2;wide=5;height=80;rotation=0;hri=14;data=ABC\\;");
    EXPECT_EQ(parseLine("B1100,40,1,2,5,80,0,14,'AB'C'").flags, kMalformed);

    Command p = parseLine("B2300,10,P,30,5,0,0,1,1,4,10,0,'PDF DATA'");
    EXPECT_EQ(p.op, Op::Pdf417);
    EXPECT_EQ(fieldsOf(p), "x=300;y=10;p=5;hri=1;columns=4;rotation=0;data=PDF DATA;");
    Command m = parseLine("B2304,0,M,0,'maxi'");
    EXPECT_EQ(m.op, Op::MaxiCode);
    EXPECT_EQ(fieldsOf(m), "x=304;y=0;data=maxi;");
    Command q = parseLine("B2305,7,Q,3,L,6,2,'https://x'");
    EXPECT_EQ(q.op, Op::QrCode);
    EXPECT_EQ(fieldsOf(q), "x=305;y=7;size=6;rotation=2;data=https://x;");

    EXPECT_EQ(fieldsOf(parseLine("BD1,2,300,400,O")), "x=1;y=2;endx=300;endy=400;type=O;");
    Command box = parseLine("BD1,2,300,400,S,3");
    EXPECT_EQ(box.op, Op::Box);
    EXPECT_EQ(fieldsOf(box), "x=1;y=2;endx=300;endy=400;type=S;width=3;");
    Command cd = parseLine("CD50,60,20,4");
    EXPECT_EQ(cd.op, Op::Circle);
    EXPECT_EQ(fieldsOf(cd), "x=50;y=60;radius=20;value=4;");
    EXPECT_EQ(parseLine("CUTy").op, Op::Cut);
    Command cut = parseLine("CUTy,3");
    EXPECT_EQ(cut.op, Op::Cut);
    EXPECT_EQ(cut.num("period"), 3);
    EXPECT_EQ(cut.num("absent"), kNoValue);
    Command ir = parseLine("IR16,32,'print1'");
    EXPECT_EQ(ir.op, Op::ImageRecall);
    EXPECT_EQ(fieldsOf(ir), "x=16;y=32;name=print1;");
}

TEST(QlksParser, BinaryPayloadsMayHoldLineEndsAndZeros)
{
    // LD: x 0x0102, y 3; raster of 2 row bytes x 2 rows, itself holding "\r\n" and 0x00.
    const Bytes ld = {'L', 'D', 0x02, 0x01, 0x03, 0x00, 0x02, 0x00, 0x02, 0x00, '\r', '\n', 0x00, 'P', '\r', '\n'};
    // LCR: 0x00 run of 2, 0x0D, 0xFF run of 2, 0x0A, 0x00 run of 1, 'P' = 8 bytes of 2 x 4.
    const Bytes lcr = {'L', 'C', 'R', 0x00, 0x10, 0x00, 0x20, 0x00, 0x02, 0x00, 0x04, 0x00,
                       0x00, 0x02, 0x0D, 0xFF, 0x02, 0x0A, 0x00, 0x01, 'P', '\r', '\n'};
    const Bytes store = {'I', 'S', '6', ',', '\'', 'p', 'r', 'i', 'n', 't', '1', '\'', 'P', '1', '\r', '\n', 0x00, 0x0A, '\r', '\n'};
    const Bytes raw = cat({bytes(kSetup), ld, lcr, store, bytes("IR0,0,'print1'\r\nP1\r\n")});

    // Any split of the stream gives the same label: here one byte at a time.
    StreamParser sp;
    for (std::uint8_t b : raw) sp.feed(&b, 1);
    ASSERT_EQ(sp.labels().size(), 1u);
    const Label& l = sp.labels()[0];
    EXPECT_EQ(l.flags, 0u) << describe(l);
    EXPECT_EQ(l.raw, raw);
    EXPECT_EQ(l.commands.size(), 15u);

    const Command* r = l.find(Op::Raster);
    ASSERT_TRUE(r);
    EXPECT_EQ(fieldsOf(*r), "x=258;y=3;rowbytes=2;height=2;");
    EXPECT_EQ(r->pixels, (Bytes{'\r', '\n', 0x00, 'P'}));
    EXPECT_EQ(r->payload, (Bytes{0x02, 0x00, 0x02, 0x00, '\r', '\n', 0x00, 'P'}));

    const Command* c = l.find(Op::RasterRle);
    ASSERT_TRUE(c);
    EXPECT_EQ(fieldsOf(*c), "x=16;y=32;rowbytes=2;height=4;");
    EXPECT_EQ(c->pixels, (Bytes{0, 0, 0x0D, 0xFF, 0xFF, 0x0A, 0, 'P'}));

    const Command* s = l.find(Op::ImageStore);
    ASSERT_TRUE(s);
    EXPECT_EQ(fieldsOf(*s), "size=6;name=print1;");
    EXPECT_EQ(s->payload, (Bytes{'P', '1', '\r', '\n', 0x00, 0x0A}));
    EXPECT_EQ(l.find(Op::ImageRecall)->str("name"), "print1");
}

TEST(QlksParser, FlagsUnknownMalformedAndOutOfOrderLines)
{
    Label l = one(bytes(kSetup + "HELLO\r\nSWwide\r\nT1,2,K1,1,1,0,0,N,N,L,'a'b'\r\nT1,2,K1,1,1,0,0,N,N,L,'c\\d'\r\n"
                        "B11,2,3\r\nIS5\r\nSW100\r\nCUTy\r\nRWDy\r\nT0,0,1,1,1,0,0,N,N,L,'late'\r\nP1\r\n"));
    ASSERT_TRUE(l.complete);
    auto at = [&](std::size_t i) { return l.commands.at(10 + i); }; // after the ten setup lines
    EXPECT_EQ(at(0).flags, kUnknown);
    EXPECT_EQ(at(0).op, Op::Unknown);
    EXPECT_EQ(at(1).flags, kMalformed);
    EXPECT_EQ(at(1).mnemonic, "SW");
    EXPECT_EQ(at(2).flags, kMalformed) << "an unescaped quote in a text";
    EXPECT_EQ(at(3).flags, kMalformed) << "a backslash escaping nothing";
    EXPECT_EQ(at(4).flags, kMalformed) << "a barcode with too few values";
    EXPECT_EQ(at(5).flags, kUnknown) << "without its name, IS5 is no image store but an ordinary line";
    EXPECT_EQ(at(6).flags, kOutOfOrder) << "setup after the body";
    EXPECT_EQ(at(7).flags, 0u);
    EXPECT_EQ(at(8).flags, 0u);
    EXPECT_EQ(at(9).flags, kOutOfOrder) << "body after RWDy";
    EXPECT_EQ(l.flags, kUnknown | kMalformed | kOutOfOrder);

    // Setup lines in the wrong order or twice, and missing ones.
    Label m = one(bytes("SW832\r\nSM0,0\r\nST1\r\nSW832\r\nP1\r\n"));
    EXPECT_EQ(m.commands[2].flags, kOutOfOrder);
    EXPECT_EQ(m.commands[3].flags, kOutOfOrder);
    EXPECT_TRUE(m.flags & kMissing);
    EXPECT_NE(describe(m).find("missing CUTn"), std::string::npos) << describe(m);
}

TEST(QlksParser, RasterFaultsAreFlaggedAndParsingGoesOn)
{
    // A raster without its line end, then a compressed one whose run overshoots the image.
    const Bytes bad = {'L', 'D', 0, 0, 0, 0, 1, 0, 1, 0, 0xAA, 'X', 'Y', '\r', '\n',
                       'L', 'C', 'R', 0, 0, 0, 0, 0, 1, 0, 2, 0, 0x00, 0x05, '\r', '\n'};
    Label l = one(cat({bytes(kSetup), bad, bytes("P1\r\n")}));
    ASSERT_TRUE(l.find(Op::Raster));
    EXPECT_EQ(l.find(Op::Raster)->flags, kMalformed);
    EXPECT_EQ(l.find(Op::Raster)->pixels, (Bytes{0xAA}));
    EXPECT_EQ(l.commands.at(11).flags, kUnknown) << "the bytes after the raster read as a line";
    ASSERT_TRUE(l.find(Op::RasterRle));
    EXPECT_EQ(l.find(Op::RasterRle)->flags, kMalformed);
    EXPECT_TRUE(l.complete);

    // The position fields are signed at the printer: 0x7FFF is the field's last dot (beyond this
    // label's page), 0x8000 lies left of the label.
    struct Row { std::uint8_t xl, xh, yl, yh; unsigned flags; } rows[] = {
        {0x40, 0x03, 0x00, 0x01, 0}, {0xFF, 0x7F, 0xFF, 0x7F, kValue}, {0x00, 0x80, 0, 0, kMalformed}, {0, 0, 0xFF, 0xFF, kMalformed}};
    for (const Row& r : rows) {
        const Bytes ld = {'L', 'D', r.xl, r.xh, r.yl, r.yh, 1, 0, 1, 0, 0xAA, '\r', '\n'};
        const Bytes lcr = {'L', 'C', 'R', 0, r.xl, r.xh, r.yl, r.yh, 1, 0, 1, 0, 0xAA, '\r', '\n'};
        Label img = one(cat({bytes(kSetup), ld, lcr, bytes("P1\r\n")}));
        EXPECT_EQ(img.flags, r.flags) << describe(img);
        EXPECT_TRUE(img.find(Op::Raster) && img.find(Op::RasterRle)) << describe(img);
        if (!img.find(Op::Raster) || !img.find(Op::RasterRle)) continue;
        EXPECT_EQ(img.find(Op::RasterRle)->flags, r.flags);
    }
}

TEST(QlksParser, StreamItemsBetweenLabels)
{
    StreamParser sp;
    const Bytes label = bytes(kSetup + "P1\r\n");
    sp.feed(Bytes{0x00}, 100);
    sp.feed(Bytes{0x40, 0x00}, 200);
    sp.feed(bytes("^c"), 300);
    sp.feed(bytes("u\r\n"), 310);
    // A status request between the lines of a label is taken, is no line of the label, and flags it.
    sp.feed(Bytes(label.begin(), label.begin() + 7), 400);
    sp.feed(bytes("^cu\r\n"), 450);
    sp.feed(Bytes(label.begin() + 7, label.end()), 500);
    sp.feed(Bytes{0x00, 0x00}, 600);
    EXPECT_FALSE(sp.inLabel());
    EXPECT_EQ(sp.count(Event::KeepAlive), 4u);
    EXPECT_EQ(sp.count(Event::Init), 1u);
    EXPECT_EQ(sp.count(Event::StatusRequest), 2u);
    ASSERT_EQ(sp.labels().size(), 1u);
    // The label's bytes keep the request where it stood, so that the label read again is judged the same.
    Bytes withRequest = label;
    withRequest.insert(withRequest.begin() + 7, {'^', 'c', 'u', '\r', '\n'});
    EXPECT_EQ(sp.labels()[0].raw, withRequest);
    EXPECT_EQ(sp.labels()[0].flags, kInterleaved) << describe(sp.labels()[0]);
    EXPECT_EQ(parseLabel(sp.labels()[0].raw).flags, kInterleaved);
    EXPECT_EQ(sp.labels()[0].startTime, 400);
    EXPECT_EQ(sp.labels()[0].endTime, 500);

    std::string order;
    for (const Event& e : sp.events()) order += "kisl"[e.kind] + std::to_string(e.time) + " ";
    EXPECT_EQ(order, "k100 i200 k200 s310 s450 l500 k600 k600 ");

    // A 0x00 inside a label is no keep-alive: it starts a line the parser does not know.
    sp.feed(bytes("SW832\r\n"));
    sp.feed(Bytes{0x00, '\r', '\n'});
    sp.feed(bytes("P1\r\n"));
    EXPECT_EQ(sp.count(Event::KeepAlive), 4u);
    EXPECT_TRUE(sp.labels().at(1).flags & kUnknown);
}

TEST(QlksParser, UnfinishedLabelIsKeptAsPartial)
{
    StreamParser sp;
    sp.feed(bytes(kSetup + "T0,0,1,1,1,0,0,N,N,L,'cut he"));
    EXPECT_TRUE(sp.inLabel());
    EXPECT_GT(sp.labelBytes(), kSetup.size());
    EXPECT_TRUE(sp.labels().empty());
    sp.finish();
    ASSERT_EQ(sp.labels().size(), 1u);
    EXPECT_FALSE(sp.labels()[0].complete);
    EXPECT_EQ(sp.labels()[0].commands.back().flags, kMalformed);
    EXPECT_EQ(parseLabel(sp.labels()[0].raw).raw, sp.labels()[0].raw);
}

TEST(QlksParser, StatusFrameByteSets)
{
    const std::uint8_t asb[] = {0x10, 0x00, 0x00, 0x00}, asb2[] = {0x5C, 0x60, 0x80, 0x4F};
    const std::uint8_t iasb[] = {0x35, 0x40, 0x40, 0x00}, iasb2[] = {0x35, 0x4C, 0x42, 0x00};
    const std::uint8_t mixed[] = {0x10, 0x35, 0x00, 0x00}, offByOne[] = {0x11, 0x00, 0x00, 0x00};
    EXPECT_TRUE(isAsbFrame(asb));
    EXPECT_TRUE(isAsbFrame(asb2));
    EXPECT_FALSE(isAsbFrame(iasb));
    EXPECT_TRUE(isIasbFrame(iasb));
    EXPECT_TRUE(isIasbFrame(iasb2));
    EXPECT_FALSE(isIasbFrame(asb));
    EXPECT_FALSE(isAsbFrame(mixed));
    EXPECT_FALSE(isAsbFrame(offByOne));
}

TEST(QlksParser, ArbitraryBytesInAnySplitLoseNothing)
{
    // Every byte ends up in a label or in one of the items between labels, whatever arrives.
    std::uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7FFF; };
    const char* pieces[] = {"SW832\r\n", "LD", "LCR", "IS", "^cu\r\n", "P1\r\n", "'", "\\", "\r", "\n", "B2", "T1,"};
    Bytes all;
    for (int i = 0; i < 4000; ++i) {
        if (next() % 3 == 0) {
            const char* p = pieces[next() % 12];
            all.insert(all.end(), p, p + std::char_traits<char>::length(p));
        } else {
            all.push_back(static_cast<std::uint8_t>(next()));
        }
    }
    StreamParser sp;
    for (std::size_t i = 0; i < all.size();) {
        std::size_t n = std::min<std::size_t>(all.size() - i, 1 + next() % 40);
        sp.feed(all.data() + i, n);
        i += n;
    }
    sp.finish();
    std::size_t accounted = sp.count(Event::KeepAlive) + sp.count(Event::Init) + sp.count(Event::LineFeed) +
                            5 * sp.count(Event::StatusRequest);
    for (const Label& l : sp.labels()) {
        // A status request that a label went on after stays in the label's bytes: count it once.
        StreamParser again;
        again.feed(l.raw);
        accounted += l.raw.size() - 5 * again.count(Event::StatusRequest);
    }
    EXPECT_EQ(accounted, all.size());
}

// ---- What a right label is, rule by rule: each table holds right and wrong labels.

namespace {

const std::string kBody = "T0,0,1,1,1,0,0,N,N,L,'hi'\r\n";

// A label as the builder writes it: an optional SL line, SF behind SM, the body behind CUTn.
std::string built(const std::string& sl, const std::string& sf, const std::string& body)
{
    return sl + "SW832\r\nST1\r\nSM8,16\r\n" + sf + "SS4\r\nSD10\r\nSO0\r\nSA2\r\nTA-3\r\nCS0,1252\r\nCUTn\r\n" + body + "P1\r\n";
}

std::string eventOrder(const StreamParser& sp)
{
    std::string s;
    for (const Event& e : sp.events()) s += "kislf"[e.kind];
    return s;
}

} // namespace

TEST(QlksRules, RetryLineFeedIsAnItemBetweenLabels)
{
    const std::string label = built("", "", kBody);
    struct Row {
        const char* name;
        Bytes raw;
        std::string events;             // k keep-alive, i init, s status, l label, f line feed
        std::vector<bool> complete;     // per label
        std::vector<unsigned> flags;    // per label
    } rows[] = {
        {"a retried label after a complete one", bytes(label + "\n" + label), "lfl", {true, true}, {0, 0}},
        {"the line feed first, then the label", bytes("\n" + label), "fl", {true}, {0}},
        // A write that fell short, the final status check, the retry's line feed, the label again.
        {"a label cut short, its status check, the retry", bytes("SW832\r\nST1\r\n^cu\r\n\n" + label), "slfl",
         {false, true}, {kMissing, 0}},
        // Cut inside a line, the line feed is a byte of that line: the label runs into the retried one.
        {"a label cut inside a line", bytes("SW832\r\nST\n" + label), "l", {true}, {kOutOfOrder}},
        {"a line feed inside a label cuts it", bytes(label.substr(0, 12) + "\n" + label.substr(12)), "lfl",
         {false, true}, {kMissing, kMissing}},
        {"CR LF between labels is no line feed item", bytes(label + "\r\n" + label), "ll", {true, true}, {0, kUnknown | kOutOfOrder}},
    };
    for (const Row& r : rows) {
        StreamParser sp;
        sp.feed(r.raw);
        sp.finish();
        // In one piece or byte by byte: the same items.
        StreamParser bytewise;
        for (std::uint8_t b : r.raw) bytewise.feed(&b, 1);
        bytewise.finish();
        EXPECT_EQ(eventOrder(sp), r.events) << r.name;
        EXPECT_EQ(eventOrder(bytewise), r.events) << r.name;
        EXPECT_EQ(sp.labels().size(), r.complete.size()) << r.name;
        if (sp.labels().size() != r.complete.size()) continue;
        for (std::size_t i = 0; i < r.complete.size(); ++i) {
            EXPECT_EQ(sp.labels()[i].complete, r.complete[i]) << r.name << " label " << i;
            EXPECT_EQ(sp.labels()[i].flags, r.flags[i]) << r.name << " label " << i << ": " << describe(sp.labels()[i]);
        }
    }
}

TEST(QlksRules, StatusRequestInsideALabelIsFlaggedWhereTheLabelGoesOn)
{
    const std::string label = built("", "", kBody);
    const std::size_t afterSw = 7, beforeP1 = label.size() - 4;
    struct Row {
        const char* name;
        std::string raw;
        unsigned flags; // of the first label
        bool complete;
    } rows[] = {
        {"between labels", "^cu\r\n" + label + "^cu\r\n", 0, true},
        {"between two lines", label.substr(0, afterSw) + "^cu\r\n" + label.substr(afterSw), kInterleaved, true},
        {"twice before P1", label.substr(0, beforeP1) + "^cu\r\n^cu\r\n" + label.substr(beforeP1), kInterleaved, true},
        {"after a label cut short, before the retry", label.substr(0, afterSw) + "^cu\r\n\n", kMissing, false},
        {"after a label cut short, at the stream's end", label.substr(0, afterSw) + "^cu\r\n", kMissing, false},
        {"an init byte inside a label", label.substr(0, afterSw) + "@" + label.substr(afterSw), kUnknown | kOutOfOrder | kMissing, true},
    };
    for (const Row& r : rows) {
        StreamParser sp;
        sp.feed(bytes(r.raw));
        sp.finish();
        EXPECT_FALSE(sp.labels().empty()) << r.name;
        if (sp.labels().empty()) continue;
        const Label& l = sp.labels()[0];
        EXPECT_EQ(l.flags, r.flags) << r.name << ": " << describe(l);
        EXPECT_EQ(l.complete, r.complete) << r.name;
        EXPECT_EQ(sp.count(Event::StatusRequest), static_cast<std::size_t>(std::count(r.raw.begin(), r.raw.end(), '^')))
            << r.name << ": every request is answered";
        // Read again from its own bytes, as tests read the simulator's labels, it is judged the same.
        EXPECT_EQ(parseLabel(l.raw).flags, l.flags) << r.name;
    }
}

TEST(QlksRules, BinaryOnlyWithTheBinaryHeader)
{
    auto raster = [](const char* head, std::int16_t x, std::int16_t y, unsigned rowBytes, unsigned rows, Bytes data) {
        Bytes b(head, head + std::char_traits<char>::length(head) + (head[1] == 'C' ? 1 : 0)); // LCR keeps its zero
        for (unsigned v : {unsigned(std::uint16_t(x)), unsigned(std::uint16_t(y)), rowBytes, rows}) {
            b.push_back(static_cast<std::uint8_t>(v & 0xFF));
            b.push_back(static_cast<std::uint8_t>(v >> 8));
        }
        b.insert(b.end(), data.begin(), data.end());
        b.push_back('\r');
        b.push_back('\n');
        return b;
    };
    const char store[] = "IS3,'print1'\r\n\0\r\nIR0,0,'print1'\r\n";
    const Bytes kStore(store, store + sizeof store - 1);
    struct Row {
        const char* name;
        Bytes body;
        Op op;           // of the body's first command
        unsigned flags;  // of the label
        long x, y;       // of an image
    } rows[] = {
        {"LD left of and above the label, read signed", raster("LD", -10, -300, 1, 2, {0xF0, 0x0F}), Op::Raster, kMalformed, -10, -300},
        {"LCR with a signed position, left of the label", raster("LCR", -1, 5, 2, 1, {0x00, 0x02}), Op::RasterRle, kMalformed, -1, 5},
        {"IS with its size and name", kStore, Op::ImageStore, 0, kNoValue, kNoValue},
        {"an LD line of text", bytes("LDAP,1,2\r\n"), Op::Unknown, kUnknown, kNoValue, kNoValue},
        {"LD with no rows", raster("LD", 0, 0, 2, 0, {}), Op::Unknown, kUnknown, kNoValue, kNoValue},
        {"LD wider than any label", raster("LD", 0, 0, 2000, 1, Bytes(2000, 0)), Op::Unknown, kUnknown, kNoValue, kNoValue},
        {"a short LD line", bytes("LD\r\n"), Op::Unknown, kUnknown, kNoValue, kNoValue},
        {"an IS line without the name", bytes("IS5\r\n"), Op::Unknown, kUnknown, kNoValue, kNoValue},
        {"an IS line of text", bytes("ISO8859-1,'x'\r\n"), Op::Unknown, kUnknown, kNoValue, kNoValue},
        {"IS with a sign", bytes("IS-3,'print1'\r\n"), Op::Unknown, kUnknown, kNoValue, kNoValue},
        {"IS with an empty name", bytes("IS3,''abc\r\n"), Op::Unknown, kUnknown, kNoValue, kNoValue},
        {"IS whose name runs over a line end", bytes("IS3,'pri\r\nnt1'\r\n"), Op::Unknown, kUnknown, kNoValue, kNoValue},
    };
    for (const Row& r : rows) {
        const std::string head = built("", "", "");
        Bytes raw = bytes(head.substr(0, head.size() - 4));
        raw.insert(raw.end(), r.body.begin(), r.body.end());
        raw.insert(raw.end(), {'P', '1', '\r', '\n'});
        StreamParser sp;
        for (std::uint8_t b : raw) sp.feed(&b, 1);
        sp.finish();
        EXPECT_EQ(sp.labels().size(), 1u) << r.name;
        if (sp.labels().size() != 1u) continue;
        const Label& l = sp.labels()[0];
        EXPECT_TRUE(l.complete) << r.name << ": the lines after it still read as lines";
        EXPECT_EQ(l.flags, r.flags) << r.name << ": " << describe(l);
        EXPECT_GT(l.commands.size(), 11u) << r.name;
        if (l.commands.size() <= 11u) continue;
        const Command& c = l.commands[10];
        EXPECT_EQ(c.op, r.op) << r.name;
        EXPECT_EQ(c.num("x"), r.x) << r.name;
        EXPECT_EQ(c.num("y"), r.y) << r.name;
    }
}

TEST(QlksRules, ShapesThatDependOnAValue)
{
    struct Row {
        const char* name;
        std::string label;
        unsigned flags;
    } rows[] = {
        {"CUTy for a period of 0 or 1", built("", "", "CUTy\r\n"), 0},
        {"CUTy with a period of 2", built("", "", "CUTy,2\r\n"), 0},
        {"CUTy,1", built("", "", "CUTy,1\r\n"), kMalformed},
        {"CUTy,0", built("", "", "CUTy,0\r\n"), kMalformed},
        {"CUTy with a negative period", built("", "", "CUTy,-2\r\n"), kMalformed},
        {"boxes O, E, D without a width", built("", "", "BD1,2,3,4,O\r\nBD1,2,3,4,E\r\nBD1,2,3,4,D\r\n"), 0},
        {"boxes S and B with a width", built("", "", "BD1,2,3,4,S,3\r\nBD1,2,3,4,B,1\r\n"), 0},
        {"box O with a width", built("", "", "BD1,2,3,4,O,3\r\n"), kMalformed},
        {"box S without a width", built("", "", "BD1,2,3,4,S\r\n"), kMalformed},
        {"box without its type", built("", "", "BD1,2,3,4,\r\n"), kMalformed},
        {"SL of paper type C: length and gap", built("SL400,24,C\r\n", "", ""), 0},
        {"SL of another type: and the offset", built("SL400,24,G,12\r\n", "", ""), 0},
        {"SL of paper type C with an offset", built("SL400,24,C,0\r\n", "", ""), kMalformed},
        {"SL of another type without the offset", built("SL400,24,G\r\n", "", ""), kMalformed},
        {"SL of paper type A", built("SL400,24,A,0\r\n", "", ""), kMalformed},
        {"SL without its paper type", built("SL400,24,,0\r\n", "", ""), kMalformed},
        {"SF with a back feed", built("", "SF1,20\r\n", ""), 0},
        {"SF with a back feed of 0", built("", "SF0,20\r\n", ""), kMalformed},
        {"T letters: reverse, bold, justification", built("", "", "T0,0,1,1,1,0,0,R,B,R,'a'\r\nT0,0,1,1,1,0,0,N,N,F,'b'\r\n"), 0},
        {"T with bold's letter in the reverse field", built("", "", "T0,0,1,1,1,0,0,B,N,L,'a'\r\n"), kMalformed},
        {"T justified C", built("", "", "T0,0,1,1,1,0,0,N,N,C,'a'\r\n"), kMalformed},
        {"T with an empty bold field", built("", "", "T0,0,1,1,1,0,0,N,,L,'a'\r\n"), kMalformed},
        {"T with an empty font", built("", "", "T0,0,,1,1,0,0,N,N,L,'a'\r\n"), kMalformed},
        {"V letters: bold, reverse, italic, justification",
         built("", "", "V0,0,U0,24,24,0,B,R,I,0,C,0,'a'\r\nV0,0,U0,24,24,0,N,N,N,0,L,1,'b'\r\n"), 0},
        {"V with reverse's letter in the bold field", built("", "", "V0,0,U0,24,24,0,R,N,N,0,L,0,'a'\r\n"), kMalformed},
        {"V with bold's letter in the italic field", built("", "", "V0,0,U0,24,24,0,N,N,B,0,L,0,'a'\r\n"), kMalformed},
        {"V with an empty justification", built("", "", "V0,0,U0,24,24,0,N,N,N,0,,0,'a'\r\n"), kMalformed},
        {"V justified F, which only bitmap fonts are", built("", "", "V0,0,U0,24,24,0,N,N,N,0,F,0,'a'\r\n"), kMalformed},
        // positions, rotations and multipliers in their ranges
        {"T at a negative x", built("", "", "T-1,0,1,1,1,0,0,N,N,L,'a'\r\n"), kMalformed},
        {"V at a negative y", built("", "", "V0,-5,U0,24,24,0,N,N,N,0,L,0,'a'\r\n"), kMalformed},
        {"box ends negative", built("", "", "BD1,2,-3,4,O\r\n"), kMalformed},
        {"circle at a negative x", built("", "", "CD-50,60,20,4\r\n"), kMalformed},
        {"QR code at a negative x", built("", "", "B2-1,0,Q,3,L,4,0,'q'\r\n"), kMalformed},
        {"T rotations 0 to 3", built("", "", "T0,0,1,1,1,0,3,N,N,L,'a'\r\n"), 0},
        {"T rotation 4", built("", "", "T0,0,1,1,1,0,4,N,N,L,'a'\r\n"), kMalformed},
        {"B1 rotation -1", built("", "", "B10,0,1,2,5,80,-1,0,'AB'\r\n"), kMalformed},
        {"T multipliers 9 and 9", built("", "", "T0,0,1,9,9,0,0,N,N,L,'a'\r\n"), 0},
        {"T width multiplier 10", built("", "", "T0,0,1,10,1,0,0,N,N,L,'a'\r\n"), kMalformed},
        {"T height multiplier 0", built("", "", "T0,0,1,1,0,0,0,N,N,L,'a'\r\n"), kMalformed},
        // barcodes: type, modules of its table, data
        {"B1 types 0 and 9", built("", "", "B10,0,0,3,7,80,0,0,'AB'\r\nB10,0,9,6,13,80,0,0,'AB'\r\n"), 0},
        {"B1 type 10", built("", "", "B10,0,10,2,5,80,0,0,'AB'\r\n"), kMalformed},
        {"B1 type -1", built("", "", "B10,0,-1,2,5,80,0,0,'AB'\r\n"), kMalformed},
        {"B1 modules 2 and 2 when no module reached the width", built("", "", "B10,0,1,2,2,80,0,0,'AB'\r\n"), 0},
        {"UPC modules m and m, EAN m and m + 2",
         built("", "", "B10,0,5,3,3,80,0,0,'12345678901'\r\nB10,0,6,11,11,80,0,0,'01234567890'\r\n"
                       "B10,0,7,7,9,80,0,0,'123456789012'\r\nB10,0,8,10,12,80,0,0,'1234567'\r\n"), 0},
        {"Code 128 wide module not 2m + 1", built("", "", "B10,0,1,3,6,80,0,0,'AB'\r\n"), kMalformed},
        {"UPC-A wide module not m", built("", "", "B10,0,5,3,7,80,0,0,'12345678901'\r\n"), kMalformed},
        {"Code 39 narrow module past its table", built("", "", "B10,0,0,7,15,80,0,0,'AB'\r\n"), kMalformed},
        {"EAN-8 narrow module past its table", built("", "", "B10,0,8,11,13,80,0,0,'1234567'\r\n"), kMalformed},
        {"B1 text field -1 (below, font 0)", built("", "", "B10,0,1,2,5,80,0,-1,'AB'\r\n"), 0},
        {"B1 text field -2", built("", "", "B10,0,1,2,5,80,0,-2,'AB'\r\n"), kMalformed},
        {"a quote inside barcode data", built("", "", "B10,0,1,2,5,80,0,0,'A'B'\r\n"), kMalformed},
        {"a quote inside QR data", built("", "", "B20,0,Q,3,L,4,0,'a'b'\r\n"), kMalformed},
        {"empty QR data", built("", "", "B20,0,Q,3,L,4,0,''\r\n"), kMalformed},
        {"empty PDF417 data", built("", "", "B20,0,P,30,5,0,0,1,1,4,10,0,''\r\n"), kMalformed},
        {"empty MaxiCode data", built("", "", "B20,0,M,0,''\r\n"), kMalformed},
        {"empty barcode data", built("", "", "B10,0,1,2,5,80,0,0,''\r\n"), kMalformed},
        {"QR sizes 3 and 8", built("", "", "B20,0,Q,3,L,3,0,'a'\r\nB20,0,Q,3,L,8,0,'a'\r\n"), 0},
        {"QR size 9", built("", "", "B20,0,Q,3,L,9,0,'a'\r\n"), kMalformed},
        {"PDF417 of 9 columns", built("", "", "B20,0,P,30,5,0,0,1,1,9,10,0,'a'\r\n"), kMalformed},
        // stored images
        {"IR of a name an IS stored", built("", "", "IS2,'print1'ab\r\nIR0,0,'print1'\r\n"), 0},
        {"IR without an IS", built("", "", "IR0,0,'print1'\r\n"), kMalformed},
        {"IR of another name", built("", "", "IS2,'print1'ab\r\nIR0,0,'print2'\r\n"), kMalformed},
        {"IR before its IS", built("", "", "IR0,0,'print1'\r\nIS2,'print1'ab\r\n"), kMalformed},
        // lines that fit no form
        {"a box of too few values", built("", "", "BD1,2,3\r\n"), kFreeText},
        {"a circle of too many values", built("", "", "CD1,2,3,4,5\r\n"), kFreeText},
        {"a box of a type the builder does not draw", built("", "", "BD1,2,3,4,Q\r\n"), kFreeText},
        {"a box of a two-letter type", built("", "", "BD1,2,3,4,OE\r\n"), kFreeText},
        // values against the label's own page (SW832; SL400 where given) and the command tables
        {"positions on the page", built("SL400,24,C\r\n", "", "T832,400,1,1,1,0,0,N,N,L,'a'\r\nBD0,0,832,400,O\r\n"), 0},
        {"x beyond SW", built("", "", "T833,0,1,1,1,0,0,N,N,L,'a'\r\n"), kValue},
        {"y beyond SL", built("SL400,24,C\r\n", "", "B10,401,1,2,5,80,0,0,'AB'\r\n"), kValue},
        {"a box end beyond SW", built("", "", "BD0,0,900,10,O\r\n"), kValue},
        {"a picture beyond SL", built("SL400,24,C\r\n", "", "IS2,'print1'ab\r\nIR0,500,'print1'\r\n"), kValue},
        {"fonts the printer has", built("", "", "T0,0,9,1,1,0,0,N,N,L,'a'\r\nT0,0,i,1,1,0,0,N,N,L,'a'\r\n"
                                               "T0,0,A,1,1,0,0,N,N,L,'a'\r\nV0,0,Z6,24,24,0,N,N,N,0,L,0,'a'\r\n"), 0},
        {"a bitmap font it has not", built("", "", "T0,0,j,1,1,0,0,N,N,L,'a'\r\n"), kValue},
        {"a vector font it has not", built("", "", "V0,0,U7,24,24,0,N,N,N,0,L,0,'a'\r\n"), kValue},
        {"a vector font named as a bitmap one", built("", "", "V0,0,1,24,24,0,N,N,N,0,L,0,'a'\r\n"), kValue},
        {"vector sizes 1 and 32767", built("", "", "V0,0,U0,1,32767,0,N,N,N,0,L,0,'a'\r\n"), 0},
        {"a vector width of 0", built("", "", "V0,0,U0,0,24,0,N,N,N,0,L,0,'a'\r\n"), kValue},
        {"a vector height past 32767", built("", "", "V0,0,U0,24,32768,0,N,N,N,0,L,0,'a'\r\n"), kValue},
        {"barcode heights 1 and 255", built("", "", "B10,0,1,2,5,1,0,0,'AB'\r\nB10,0,1,2,5,255,0,0,'AB'\r\n"), 0},
        {"a barcode height of 0", built("", "", "B10,0,1,2,5,0,0,0,'AB'\r\n"), kValue},
        {"a barcode height of 256", built("", "", "B10,0,1,2,5,256,0,0,'AB'\r\n"), kValue},
        {"data each symbology takes",
         built("", "", "B10,0,0,3,7,80,0,0,'AB12'\r\nB10,0,2,2,5,80,0,0,'1234'\r\nB10,0,3,2,5,80,0,0,'A12$B'\r\n"
                       "B10,0,5,3,3,80,0,0,'123456789012'\r\nB10,0,6,3,3,80,0,0,'01234567890'\r\n"
                       "B10,0,7,3,5,80,0,0,'1234567890123'\r\nB10,0,8,3,5,80,0,0,'12345670'\r\n"), 0},
        {"UPC-A of 10 digits", built("", "", "B10,0,5,3,3,80,0,0,'1234567890'\r\n"), kValue},
        {"EAN-13 of letters", built("", "", "B10,0,7,3,5,80,0,0,'ABCDEFGHIJKL'\r\n"), kValue},
        {"lower-case Code 39", built("", "", "B10,0,0,3,7,80,0,0,'ab12'\r\n"), kValue},
        {"UPC-E not starting with 0", built("", "", "B10,0,6,3,3,80,0,0,'11234567890'\r\n"), kValue},
        {"interleaved 2 of 5 of odd length", built("", "", "B10,0,2,2,5,80,0,0,'123'\r\n"), kValue},
        {"Codabar without its start letter", built("", "", "B10,0,3,2,5,80,0,0,'123B'\r\n"), kValue},
        {"Code 128 of one character", built("", "", "B10,0,1,2,5,80,0,0,'A'\r\n"), kValue},
        {"HRI fields of fonts 0 and 9", built("", "", "B10,0,1,2,5,80,0,-1,'AB'\r\nB10,0,1,2,5,80,0,18,'AB'\r\n"), 0},
        {"an HRI field that names no font", built("", "", "B10,0,1,2,5,80,0,19,'AB'\r\n"), kValue},
        {"a box of one dot", built("", "", "BD5,5,5,5,O\r\n"), 0},
        {"a box whose end lies before its start", built("", "", "BD799,30,400,300,O\r\n"), kValue},
        {"a box whose end lies above its start", built("", "", "BD10,300,400,30,O\r\n"), kValue},
        {"box line widths 1 and 32767", built("", "", "BD0,0,9,9,S,1\r\nBD0,0,9,9,B,32767\r\n"), 0},
        {"a box line width of 0", built("", "", "BD0,0,9,9,S,0\r\n"), kValue},
        {"circle radii 1 and 32767", built("", "", "CD0,0,1,0\r\nCD0,0,32767,2\r\n"), 0},
        {"a circle of radius 0", built("", "", "CD0,0,0,2\r\n"), kValue},
        {"a circle value past 32767", built("", "", "CD0,0,5,40000\r\n"), kValue},
        {"SW and SL of 1, SM of 0", "SL1,24,C\r\nSW1\r\nST1\r\nSM0,0\r\nSS4\r\nSD10\r\nSO0\r\nSA2\r\nTA-3\r\nCS0,1252\r\nCUTn\r\nP1\r\n", 0},
        {"SW of 0", "SW0\r\nST1\r\nSM8,16\r\nSS4\r\nSD10\r\nSO0\r\nSA2\r\nTA-3\r\nCS0,1252\r\nCUTn\r\nP1\r\n", kValue},
        {"SL of 0", built("SL0,24,C\r\n", "", ""), kValue},
        {"SL below 0", built("SL-5,24,G,0\r\n", "", ""), kValue},
        {"SM below 0", "SW832\r\nST1\r\nSM-1,16\r\nSS4\r\nSD10\r\nSO0\r\nSA2\r\nTA-3\r\nCS0,1252\r\nCUTn\r\nP1\r\n", kValue},
    };
    for (const Row& r : rows) {
        Label l = one(bytes(r.label));
        EXPECT_TRUE(l.complete) << r.name;
        EXPECT_EQ(r.flags, l.flags) << r.name << ": " << describe(l);
    }
}

TEST(QlksRules, DirectIOBoxAndCircleTextIsTakenAsWritten)
{
    struct Row {
        const char* name;
        std::string body;
        Op op;
        std::string text; // the free text, empty for a builder line
        unsigned flags;
    } rows[] = {
        {"a box of four values", "BD10,10,200,200\r\n", Op::Box, "10,10,200,200", kFreeText},
        {"a box with spaces", "BD 5, 5, 50, 50, S, 2\r\n", Op::Box, " 5, 5, 50, 50, S, 2", kFreeText},
        {"a box type of the printer's own", "BD200,100,202,620,0\r\n", Op::Box, "200,100,202,620,0", kFreeText},
        {"a circle of three values", "CD100,100,50\r\n", Op::Circle, "100,100,50", kFreeText},
        {"an empty box text", "BD\r\n", Op::Box, "", kFreeText},
        {"a builder box", "BD1,2,300,400,O\r\n", Op::Box, "", 0},
        {"a builder box with a wrong width stays wrong", "BD1,2,300,400,O,3\r\n", Op::Box, "", kMalformed},
    };
    for (const Row& r : rows) {
        Label l = one(bytes(built("", "", r.body)));
        EXPECT_EQ(l.flags, r.flags) << r.name << ": " << describe(l);
        EXPECT_GT(l.commands.size(), 10u) << r.name;
        if (l.commands.size() <= 10u) continue;
        EXPECT_EQ(l.commands[10].op, r.op) << r.name;
        EXPECT_EQ(l.commands[10].str("text"), r.text) << r.name;
    }
    // Free text is a body line like any other: not among the setup lines.
    Label early = one(bytes("SW832\r\nBD10,10,200,200,O\r\nST1\r\nSM8,16\r\nSS4\r\nSD10\r\nSO0\r\nSA2\r\nTA-3\r\nCS0,1252\r\nCUTn\r\nP1\r\n"));
    EXPECT_TRUE(early.flags & kOutOfOrder) << describe(early);
}

namespace {

struct TestLabelParts {
    std::string media = "G", name = "LP-4", end = "CUTy", length = "400";
    std::string setup, frame, qr = "B2240,240,Q,1,H,4,3,'https://vesk.example/'\r\n";
};

// CheckHealth's external test label, line for line as it is written.
std::string testLabel(const TestLabelParts& p)
{
    std::string s = p.media == "A" ? "" : "SL" + p.length + ",24," + p.media + "\r\n";
    s += p.setup.empty() ? "SW832\r\nSO0\r\nSS4\r\nSA0\r\nTA0\r\n" : p.setup;
    s += p.frame.empty() ? "BD100,100,400,620,B,4\r\nBD200,100,202,620,0\r\nBD300,260,302,620,0\r\nBD200,260,400,262,0\r\n" : p.frame;
    s += "V130,580,U,40,45,1,N,N,N,3,L,0,'VESK OPOS Driver'\r\nV230,570,U,40,40,1,N,N,I,3,L,0,'Label Printer'\r\n";
    s += "V330,540,U,40,40,1,B,N,N,3,L,0,'" + p.name + "'\r\n";
    return s + p.qr + p.end + "\r\nP1\r\n";
}

} // namespace

TEST(QlksRules, CheckHealthTestLabelByItsOwnRules)
{
    auto with = [](auto change) { TestLabelParts p; change(p); return testLabel(p); };
    struct Row {
        const char* name;
        std::string label;
        bool testLabel;
        unsigned flags;
    } rows[] = {
        {"media G: SL of three values", testLabel({}), true, 0},
        {"media A: no SL line", with([](TestLabelParts& p) { p.media = "A"; }), true, 0},
        {"rewind mode", with([](TestLabelParts& p) { p.end = "RWDy"; }), true, 0},
        {"neither cutter nor rewind", with([](TestLabelParts& p) { p.end = "CUTn"; }), true, 0},
        {"a device name with a quote and a backslash, unescaped", with([](TestLabelParts& p) { p.name = "Bo's \\ LP"; }), true, 0},
        {"the builder's QR form", with([](TestLabelParts& p) { p.qr = "B2240,240,Q,3,L,4,3,'x'\r\n"; }), true, kMalformed},
        {"SS before SO", with([](TestLabelParts& p) { p.setup = "SW832\r\nSS4\r\nSO0\r\nSA0\r\nTA0\r\n"; }), true, kOutOfOrder},
        {"without SW", with([](TestLabelParts& p) { p.setup = "SO0\r\nSS4\r\nSA0\r\nTA0\r\n"; }), true, kMissing},
        {"with a line it leaves out", with([](TestLabelParts& p) { p.setup = "SW832\r\nSO0\r\nSS4\r\nSD10\r\nSA0\r\nTA0\r\n"; }), true, kUnknown},
        {"SL with the builder's offset", with([](TestLabelParts& p) { p.media = "G,0"; }), true, kMalformed},
        {"continuous media of its own length", with([](TestLabelParts& p) { p.media = "C"; p.length = "720"; }), true, 0},
        {"continuous media of length 0", with([](TestLabelParts& p) { p.media = "C"; p.length = "0"; }), true, kValue},
        {"a page of width 0", with([](TestLabelParts& p) { p.setup = "SW0\r\nSO0\r\nSS4\r\nSA0\r\nTA0\r\n"; }), true, kValue},
        {"without its end line", with([](TestLabelParts& p) { p.end = "RWDn"; }), true, kUnknown | kMissing},
        {"a frame line changed: read by the builder's rules", with([](TestLabelParts& p) {
             p.frame = "BD100,100,400,620,B,4\r\nBD200,100,202,620,1\r\nBD300,260,302,620,0\r\nBD200,260,400,262,0\r\n"; }),
         false, kMalformed | kOutOfOrder | kMissing | kFreeText | kValue},
    };
    for (const Row& r : rows) {
        Label l = one(bytes(r.label));
        EXPECT_TRUE(l.complete) << r.name;
        EXPECT_EQ(l.testLabel, r.testLabel) << r.name;
        EXPECT_EQ(l.flags, r.flags) << r.name << ": " << describe(l);
    }
    // Its texts and its QR data are read as they were written.
    Label l = one(bytes(with([](TestLabelParts& p) { p.name = "Bo's \\ LP"; })));
    ASSERT_EQ(l.count(Op::VectorText), 3u);
    EXPECT_EQ(l.find(Op::VectorText, 2)->str("text"), "Bo's \\ LP");
    EXPECT_EQ(l.find(Op::VectorText, 0)->num("height"), 45);
    ASSERT_TRUE(l.find(Op::QrCode));
    EXPECT_EQ(l.find(Op::QrCode)->str("data"), "https://vesk.example/");
    EXPECT_EQ(l.count(Op::Box), 4u);
}

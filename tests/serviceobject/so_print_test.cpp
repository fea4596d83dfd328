// The print methods end to end: the object in this process on the real port manager and TCP
// transport, the printer simulator receiving the labels, each label read back by the QLKS
// parser. What the methods accumulate, which of them send, in which mode, and what they refuse.
#include "SoDevice.h"
#include "SoSim.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

const char kKey[] = "Software\\OLEforRetail\\ServiceOPOS\\POSPrinter\\LP1";

std::vector<std::string> Texts(const qlks::Label& l)
{
    std::vector<std::string> out;
    for (const qlks::Command& c : l.commands)
        if (c.op == qlks::Op::Text || c.op == qlks::Op::VectorText)
            out.push_back(c.str("text"));
    return out;
}

std::vector<qlks::Op> Body(const qlks::Label& l)
{
    std::vector<qlks::Op> out;
    for (const qlks::Command& c : l.commands)
        if (c.op > qlks::Op::CutSetup && c.op != qlks::Op::Print)
            out.push_back(c.op);
    return out;
}

// A text of the system's ANSI code page in UTF-8, as the printer gets it under character set 997.
std::string AnsiToUtf8(const std::string& ansi)
{
    std::wstring wide(ansi.size(), L'\0');
    wide.resize(size_t(MultiByteToWideChar(CP_ACP, 0, ansi.data(), int(ansi.size()), &wide[0], int(wide.size()))));
    std::string out(wide.size() * 4, '\0');
    out.resize(size_t(WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), &out[0], int(out.size()), nullptr, nullptr)));
    return out;
}

// An escape-sequence barcode block with its count.
std::string EscBarcode(const std::string& block) { return "\x1b|" + std::to_string(block.size()) + "R" + block; }

// Rows of a raster: row bytes each, as the simulator decodes them.
qlks::Bytes Rows(std::vector<std::uint8_t> row, int rows)
{
    qlks::Bytes out;
    for (int i = 0; i < rows; ++i)
        out.insert(out.end(), row.begin(), row.end());
    return out;
}

class PrintSim : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sim.connected()) << sim.error();
        UseInstalledPorts(w);
        ep = UseSimulatorTcp(w, sim, kKey);
        ASSERT_GE(ep, 0) << sim.error();
    }
    void TearDown() override
    {
        if (ep >= 0)
            sim.closeEndpoint(ep);
    }
    // The labels that arrived after the first `from`, once there are `n` of them; each one read
    // without a problem by the parser.
    std::vector<qlks::Label> NewLabels(size_t from, size_t n)
    {
        EXPECT_TRUE(sim.waitLabels(ep, long(from + n), 30000)) << sim.error();
        std::vector<qlks::Label> all = sim.labels(ep);
        std::vector<qlks::Label> out(all.begin() + long(std::min(from, all.size())), all.end());
        for (const qlks::Label& l : out) {
            EXPECT_TRUE(l.complete) << qlks::describe(l);
            EXPECT_EQ(0u, l.flags) << qlks::describe(l);
        }
        return out;
    }

    CSoWorld w{1};
    vesksim::SimClient sim;
    int ep = -1;
};

// ---- Which methods send, and what the label holds

TEST_F(PrintSim, TheSendingMethodsPrintWhatWasAccumulatedAsOneLabel)
{
    const std::string cafe = AnsiToUtf8("caf\xE9");
    ASSERT_NE(std::string("caf\xE9"), cafe);
    typedef std::function<std::vector<long>(CLABELPrinter&)> Steps;
    struct Row
    {
        const char* what;
        bool async;
        size_t completions;  // OutputCompleteEvents of queued labels
        Steps steps;
        std::vector<long> rcs;
        std::vector<std::vector<std::string>> labels;
    } rows[] = {
        {"PrintNormal twice, then MarkFeed", false, 0,
         [](CLABELPrinter& p) { return std::vector<long>{p.PrintNormal(2, "one"), p.PrintNormal(4, "two\n"), p.MarkFeed(1)}; },
         {0, 0, 0}, {{"one", "two"}}},
        {"MarkFeed queued", true, 1,
         [](CLABELPrinter& p) { return std::vector<long>{p.PrintNormal(2, "queued"), p.MarkFeed(1)}; },
         {0, 0}, {{"queued"}}},
        {"PrintImmediate sends the body with its own text, at once also in AsyncMode", true, 0,
         [](CLABELPrinter& p) { return std::vector<long>{p.PrintNormal(2, "kept"), p.PrintImmediate(2, "now")}; },
         {0, 0}, {{"kept", "now"}}},
        {"PrintImmediate with a refused sequence sends nothing and takes back what it added", false, 0,
         [](CLABELPrinter& p) {
             return std::vector<long>{p.PrintNormal(2, "kept"), p.PrintImmediate(2, "\x1b|5Bshown"), p.MarkFeed(1)};
         },
         {0, 106, 0}, {{"kept"}}},
        {"PrintImmediate with a refused barcode, then bold, sends nothing", false, 0,
         [](CLABELPrinter& p) {
             return std::vector<long>{p.PrintNormal(2, "kept"),
                                      p.PrintImmediate(2, (EscBarcode("s101h50w200d12345e") + "\x1b|bCbold").c_str()),
                                      p.MarkFeed(1)};
         },
         {0, 106, 0}, {{"kept"}}},
        {"a PrintNormal refused after its first line, then corrected, prints that line once", false, 0,
         [](CLABELPrinter& p) {
             return std::vector<long>{p.PrintNormal(2, ("line one\n" + EscBarcode("s101h50w200d12345e")).c_str()),
                                      p.PrintNormal(2, ("line one\n" + EscBarcode("s101h50w200d12345678901e")).c_str()),
                                      p.MarkFeed(1)};
         },
         {106, 0, 0}, {{"line one"}}},
        {"character set 997: the text in UTF-8", false, 0,
         [](CLABELPrinter& p) {
             p.CharacterSet = 997;
             return std::vector<long>{p.PrintNormal(2, "caf\xE9"), p.MarkFeed(1)};
         },
         {0, 0}, {{cafe}}},
        {"nibble conversion", false, 0,
         [](CLABELPrinter& p) {
             p.SetPropertyNumber(11, 1);
             return std::vector<long>{p.ResultCode, p.PrintNormal(2, "4142"), p.MarkFeed(1)};
         },
         {0, 0, 0}, {{"AB"}}},
        {"a transaction keeps what came before it, and a second start keeps the body", false, 0,
         [](CLABELPrinter& p) {
             return std::vector<long>{p.PrintNormal(2, "before"), p.TransactionPrint(2, 11), p.PrintNormal(2, "a"),
                                      p.TransactionPrint(2, 11), p.PrintNormal(2, "b"), p.TransactionPrint(2, 12),
                                      p.TransactionPrint(2, 12)};
         },
         {0, 0, 0, 0, 0, 0, 0}, {{"before", "a", "b"}}},
        {"PrintImmediate inside a transaction sends its own data only", false, 0,
         [](CLABELPrinter& p) {
             return std::vector<long>{p.TransactionPrint(2, 11), p.PrintNormal(2, "t1"), p.PrintImmediate(2, "now"),
                                      p.PrintNormal(2, "t2"), p.TransactionPrint(2, 12)};
         },
         {0, 0, 0, 0, 0}, {{"now"}, {"t1", "t2"}}},
        {"a queued transaction", true, 1,
         [](CLABELPrinter& p) {
             return std::vector<long>{p.TransactionPrint(2, 11), p.PrintNormal(2, "t"), p.TransactionPrint(2, 12)};
         },
         {0, 0, 0}, {{"t"}}},
        {"page mode: print and stay, print and leave", false, 0,
         [](CLABELPrinter& p) {
             p.SetPropertyNumber(8049, 2);
             return std::vector<long>{p.ResultCode,         p.pageModePrint(1),     p.PrintNormal(2, "p1"),
                                      p.MarkFeed(1),        p.pageModePrint(2),     p.PrintNormal(2, "p2"),
                                      p.pageModePrint(3),   p.PrintNormal(2, "x"),  p.MarkFeed(1)};
         },
         {0, 0, 0, 106, 0, 0, 0, 0, 0}, {{"p1"}, {"p2"}, {"x"}}},
        {"page mode cancelled, and by ClearPrintArea", false, 0,
         [](CLABELPrinter& p) {
             p.SetPropertyNumber(8049, 2);
             return std::vector<long>{p.pageModePrint(1), p.PrintNormal(2, "gone"), p.pageModePrint(4),
                                      p.pageModePrint(1), p.PrintNormal(2, "gone too"), p.ClearPrintArea(),
                                      p.PrintNormal(2, "y"), p.MarkFeed(1)};
         },
         {0, 0, 0, 0, 0, 0, 0, 0}, {{"y"}}},
    };
    for (const Row& r : rows) {
        size_t before = sim.labels(ep).size();
        Device dev(w, r.async);
        EXPECT_EQ(0, dev.open) << r.what;
        if (dev.open != 0)
            continue;
        EXPECT_EQ(r.rcs, r.steps(*dev.so)) << r.what;
        if (r.completions) {
            EXPECT_TRUE(dev.WaitFor("SOOutputComplete", r.completions)) << r.what;
        }
        std::vector<qlks::Label> got = NewLabels(before, r.labels.size());
        EXPECT_EQ(r.labels.size(), got.size()) << r.what;
        if (got.size() != r.labels.size())
            continue;
        for (size_t i = 0; i < got.size(); ++i)
            EXPECT_EQ(r.labels[i], Texts(got[i])) << r.what << " label " << i;
        EXPECT_TRUE(dev.Events("SOError").empty()) << r.what;
    }
}

// ---- Pictures, logos, barcodes, cuts and rotation in one label

TEST_F(PrintSim, BitmapsSetThenPrintedLogosBarcodesAndCutsReachTheLabel)
{
    const std::string jpg = WinPath(IMAGE_DIR "/blocks.jpg");  // 32 x 16, the left half black
    const std::string gif = WinPath(IMAGE_DIR "/clear.gif");   // 16 x 8, the right half transparent
    // A PCX file of 16 x 8 pixels: its window runs from 2,3 to 17,10.
    std::string pcx(128, '\0');
    pcx[0] = '\x0a', pcx[1] = 5, pcx[2] = 1, pcx[3] = 1;
    pcx[4] = 2, pcx[6] = 3, pcx[8] = 17, pcx[10] = 10;
    pcx += std::string("PCX\r\n\x00rest", 10);
    ASSERT_TRUE(w.folder.Write("logo.pcx", pcx));
    w.reg.SetString(kKey, "OperationMode", "C");  // a cutter: CutPaper cuts
    Device dev(w);
    ASSERT_EQ(0, dev.open);
    CLABELPrinter& p = *dev.so;
    // The first label after the open: its content is aligned, not held at the configuration's
    // page-mode position.
    const size_t before = 0;

    std::vector<long> rcs = {
        p.SetBitmap(1, 2, jpg.c_str(), -11, -1),
        p.SetBitmap(2, 2, gif.c_str(), -11, -3),
        p.SetLogo(1, "BD10,20,110,70,O\r\n"),
        p.SetLogo(2, "CD50,60,20,1\r\n"),
        // The character after a stored bitmap is text, not eaten.
        p.PrintNormal(2, "\x1b|tL\x1b|1BX\x1b|2B"),
        p.PrintBitmap(2, jpg.c_str(), 16, -2),
        p.PrintBitmap(2, w.folder.File("logo.pcx").c_str(), -11, -3),
        p.PrintBarCode(2, "ABC123", 108, 60, 200, -1, -13),
        p.RotatePrint(2, 258),
        p.PrintNormal(2, "turned"),
        p.CutPaper(50),
        p.PrintNormal(2, "\x1b|bL"),
        p.MarkFeed(1),
    };
    EXPECT_EQ(std::vector<long>(13, 0), rcs);
    std::vector<qlks::Label> got = NewLabels(before, 1);
    ASSERT_EQ(1u, got.size());
    const qlks::Label& l = got[0];
    using qlks::Op;
    EXPECT_EQ((std::vector<Op>{Op::Box, Op::Raster, Op::Text, Op::Raster, Op::Raster, Op::ImageStore, Op::ImageRecall,
                               Op::Barcode, Op::Text, Op::Cut, Op::Circle}),
              Body(l))
        << qlks::describe(l);
    int usable = p.m_builder.PaperWidth() - p.m_builder.LeftMargin();
    struct Image
    {
        const char* what;
        long x, rowBytes, height;
        qlks::Bytes pixels;
    } images[] = {
        {"slot 1, as it is, left", 0, 4, 16, Rows({0xFF, 0xFF, 0x00, 0x00}, 16)},
        {"slot 2, transparent as paper, right", usable - 16, 2, 8, Rows({0xFF, 0x00}, 8)},
        {"picture at 16 dots, centred", (usable - 16) / 2, 2, 8, Rows({0xFF, 0x00}, 8)},
    };
    for (size_t i = 0; i < 3; ++i) {
        const qlks::Command* c = l.find(Op::Raster, i);
        if (!c) {
            ADD_FAILURE() << "no raster: " << images[i].what;
            continue;
        }
        EXPECT_EQ(images[i].x, c->num("x")) << images[i].what;
        EXPECT_EQ(images[i].rowBytes, c->num("rowbytes")) << images[i].what;
        EXPECT_EQ(images[i].height, c->num("height")) << images[i].what;
        EXPECT_EQ(images[i].pixels, c->pixels) << images[i].what;
    }
    EXPECT_EQ((std::vector<std::string>{"X", "turned"}), Texts(l));
    EXPECT_EQ(qlks::Bytes(pcx.begin(), pcx.end()), l.find(Op::ImageStore)->payload);
    EXPECT_EQ("print1", l.find(Op::ImageRecall)->str("name"));
    // Placed by the size its header gives, and what follows goes below it.
    const qlks::Command* recall = l.find(Op::ImageRecall);
    EXPECT_EQ(usable - 16, recall->num("x"));
    const qlks::Command* bar = l.find(Op::Barcode);
    EXPECT_EQ(recall->num("y") + 8, bar->num("y"));
    EXPECT_EQ("ABC123", bar->str("data"));
    EXPECT_EQ(60, bar->num("height"));
    // Code 39 of 6 characters for 200 dots: W(2) = 8 x 9 x 3 reaches it, so module 1, wide 3, left.
    EXPECT_EQ(1, bar->num("narrow"));
    EXPECT_EQ(3, bar->num("wide"));
    EXPECT_EQ(0, bar->num("x"));
    EXPECT_EQ(0, bar->num("rotation"));
    EXPECT_EQ(3, l.find(Op::Text, 1)->num("rotation"));
}

// ---- The paper the user saved

TEST_F(PrintSim, TheLabelCarriesThePaperOfTheDeviceKey)
{
    // The fixture's key has no paper yet: the first row reads it so.
    struct Row { const char* media; bool keyPaper; long length, width; } rows[] = {
        {"G", false, 1200, 832},  // no paper in the key: the model file's page
        {"G", true, 600, 800},    // gap media: the key's 800 x 600 dots
        {"C", true, 600, 800},    // continuous media likewise
    };
    for (const Row& r : rows) {
        size_t before = sim.labels(ep).size();
        Device dev(w, false, "16", r.media, r.keyPaper);
        EXPECT_EQ(0, dev.open) << r.media;
        if (dev.open != 0)
            continue;
        EXPECT_EQ(0, dev.so->PrintNormal(2, "paper")) << r.media;
        EXPECT_EQ(0, dev.so->MarkFeed(1)) << r.media;
        std::vector<qlks::Label> got = NewLabels(before, 1);
        EXPECT_EQ(1u, got.size()) << r.media;
        const qlks::Command* sl = got.size() == 1 ? got[0].find(qlks::Op::PaperLength) : nullptr;
        if (!sl) {
            ADD_FAILURE() << "no SL line: " << r.media << r.keyPaper;
            continue;
        }
        EXPECT_EQ(r.length, sl->num("length")) << r.media << r.keyPaper;
        EXPECT_EQ(24, sl->num("gap")) << r.media;
        EXPECT_EQ(r.media, sl->str("type"));
        EXPECT_EQ(r.width, got[0].find(qlks::Op::PaperWidth)->num("width")) << r.media << r.keyPaper;
    }
}

// ---- Barcodes of every symbology, as the application gave them

TEST_F(PrintSim, BarcodesOfEverySymbologyAsTheApplicationGaveThem)
{
    Device dev(w);
    ASSERT_EQ(0, dev.open);
    CLABELPrinter& p = *dev.so;
    // Modules for a requested width of 400 dots, and the symbol width W that centres the code.
    struct Row { const char* data; long symbology, textPosition; long type, narrow, wide, width; } rows[] = {
        {"ABC123", 108, -13, 0, 3, 7, 8 * 9 * 5},        // (n + 2) x 9 x floor((3m + 1) / 2)
        {"AB12", 110, -12, 1, 5, 11, (11 * 3 + 46) * 5}, // s: 2 letters and 2 digits counted as 1
        {"12345678", 106, -11, 2, 5, 11, 46 * 8},
        {"A123B", 107, -13, 3, 6, 13, 44 * 9},
        {"AB12", 109, -13, 4, 5, 11, (9 * 4 + 37) * 5},
        {"12345678901", 101, -13, 5, 4, 4, 95 * 4},
        {"01234567890", 102, -13, 6, 7, 7, 51 * 7},
        {"123456789012", 104, -13, 7, 4, 6, 95 * 4},
        {"1234567", 103, -13, 8, 5, 7, 67 * 5},
        {"AB12", 120, -13, 9, 4, 9, (11 * 3 + 57) * 4},
    };
    ASSERT_EQ(0, p.ApplyPageModePrintArea("0,0,800,2000"));  // long enough for every code in one label
    p.RotatePrint(2, 258);  // rotation 3 in every barcode line
    for (const Row& r : rows)
        EXPECT_EQ(0, p.PrintBarCode(2, r.data, r.symbology, 50, 400, -2, r.textPosition)) << r.symbology;
    for (long s : {201L, 202L, 204L, 501L})
        EXPECT_EQ(0, p.PrintBarCode(2, "2D", s, 50, 200, -1, -11)) << s;
    // Data given as three digits a byte.
    p.SetPropertyNumber(11, 2);
    EXPECT_EQ(0, p.PrintBarCode(2, "065066067", 110, 50, 400, -1, -11));
    p.SetPropertyNumber(11, 0);
    // Height and width in 0.01 mm: 5 mm and 50 mm are 40 and 400 dots at 203 dots per inch.
    p.SetPropertyNumber(8013, 4);
    EXPECT_EQ(0, p.PrintBarCode(2, "ABC123", 108, 500, 5000, -1, -11));
    p.SetPropertyNumber(8013, 1);
    // A zero byte inside the data is refused, not cut off.
    EXPECT_EQ(106, p.PrintBarCode(2, CString("AB\0CD", 5), 110, 50, 400, -1, -11));
    size_t before = sim.labels(ep).size();
    ASSERT_EQ(0, p.MarkFeed(1));
    std::vector<qlks::Label> got = NewLabels(before, 1);
    ASSERT_EQ(1u, got.size());
    const qlks::Label& l = got[0];
    ASSERT_EQ(12u, l.count(qlks::Op::Barcode)) << qlks::describe(l);
    ASSERT_EQ(10u, sizeof rows / sizeof rows[0]);
    long y = 0;
    for (size_t i = 0; i < 10; ++i) {
        const qlks::Command* b = l.find(qlks::Op::Barcode, i);
        EXPECT_EQ(rows[i].type, b->num("type")) << rows[i].symbology;
        EXPECT_EQ(rows[i].data, b->str("data")) << rows[i].symbology;
        EXPECT_EQ(3, b->num("rotation")) << rows[i].symbology;
        EXPECT_EQ(rows[i].narrow, b->num("narrow")) << rows[i].symbology;
        EXPECT_EQ(rows[i].wide, b->num("wide")) << rows[i].symbology;
        const long usable = p.m_builder.PaperWidth() - p.m_builder.LeftMargin();
        EXPECT_EQ((usable - rows[i].width) / 2, b->num("x")) << rows[i].symbology;
        // The text above moves the code down by the text's height; below moves what follows.
        EXPECT_EQ(rows[i].textPosition == -11 ? 0 : rows[i].textPosition + 2 * p.m_config.HRISize + 12, b->num("hri"));
        EXPECT_TRUE(i == 0 || b->num("y") > y) << rows[i].symbology;
        EXPECT_TRUE(rows[i].textPosition != -12 || b->num("y") > y + 4) << rows[i].symbology;
        y = b->num("y");
    }
    EXPECT_EQ("ABC", l.find(qlks::Op::Barcode, 10)->str("data"));
    const qlks::Command* metric = l.find(qlks::Op::Barcode, 11);
    EXPECT_EQ(40, metric->num("height"));
    EXPECT_EQ(3, metric->num("narrow"));  // the module that reaches 400 dots, as in dots mode
    EXPECT_EQ(7, metric->num("wide"));
    EXPECT_EQ(1u, l.count(qlks::Op::Pdf417));
    EXPECT_EQ(1u, l.count(qlks::Op::MaxiCode));
    EXPECT_EQ(2u, l.count(qlks::Op::QrCode));
}

// ---- Refusals: their codes, and nothing of them in the next label

TEST_F(PrintSim, RefusedCallsReturnTheirCodesAndAddNothing)
{
    const std::string jpg = WinPath(IMAGE_DIR "/blocks.jpg");
    const std::string icon = WinPath(IMAGE_DIR "/icon.ico");
    const std::string widePicture = WinPath(IMAGE_DIR "/wide.gif");  // 1000 x 8
    ASSERT_TRUE(w.folder.Write("logo.pcx", "pcx"));
    const std::string pcx = w.folder.File("logo.pcx");
    std::string widePcxHeader(128, '\0');  // a window of 1000 x 8 pixels
    widePcxHeader[0] = '\x0a', widePcxHeader[8] = char(999 & 0xFF), widePcxHeader[9] = char(999 >> 8), widePcxHeader[10] = 7;
    ASSERT_TRUE(w.folder.Write("wide.pcx", widePcxHeader));
    const std::string widePcx = w.folder.File("wide.pcx");
    const std::string missing = w.folder.File("missing.bmp");
    Device dev(w);
    ASSERT_EQ(0, dev.open);
    CLABELPrinter& p = *dev.so;
    long wide = p.GetPropertyNumber(8020) + 1;  // past RecLineWidth
    struct Row
    {
        const char* what;
        std::function<long()> call;
        long rc, rce;
    } rows[] = {
        {"PrintNormal on the journal", [&] { return p.PrintNormal(1, "no"); }, 106, 0},
        {"barcode refused inside PrintNormal", [&] { return p.PrintNormal(2, EscBarcode("s108h50w200a-1t-11dA'Be").c_str()); }, 106, 0},
        {"stored bitmap never set", [&] { return p.PrintNormal(2, "\x1b|5B"); }, 106, 0},
        {"a refused barcode, then bold", [&] { return p.PrintNormal(2, (EscBarcode("s101h50w200d12345e") + "\x1b|bC").c_str()); }, 106, 0},
        {"a font and a position, then a refusal", [&] { return p.PrintNormal(2, "\x1b|0bxT\x1b|100xPtext\n\x1b|120yP\x1b|5B"); }, 106, 0},
        {"a right-aligned picture the print buffer refuses", [&] {
             p.m_builder.SetBodyLimit(10);
             long rc = p.PrintBitmap(2, jpg.c_str(), 16, -3);
             p.m_builder.SetBodyLimit(COPOSData::kMaxSize);
             return rc;
         }, 106, 0},
        {"a label the print buffer refuses", [&] {
             p.m_labelLimit = 100;
             long rc = p.PrintNormal(2, "a label longer than the buffer") == 0 ? p.MarkFeed(1) : -1;
             p.m_labelLimit = COPOSData::kMaxSize;
             return rc;
         }, 111, 0},
        {"a picture wider than the print area", [&] {
             p.ApplyPageModePrintArea("0,0,400,600");
             long rc = p.PrintBitmap(2, jpg.c_str(), 800, -1);
             p.ApplyConfiguredPage();
             return rc;
         }, 106, 206},
        {"a text the print buffer refuses", [&] {
             p.m_builder.SetBodyLimit(10);
             long rc = p.PrintNormal(2, "too long for it");
             p.m_builder.SetBodyLimit(COPOSData::kMaxSize);
             return rc;
         }, 111, 0},
        {"a raw count into the line end PrintNormal appends", [&] { return p.PrintNormal(2, "\x1b|3EAB"); }, 106, 0},
        {"barcode 300 dots high", [&] { return p.PrintBarCode(2, "ABC", 108, 300, 200, -1, -11); }, 106, 206},
        {"barcode alignment", [&] { return p.PrintBarCode(2, "ABC", 108, 50, 200, 5, -11); }, 106, 0},
        {"barcode text position", [&] { return p.PrintBarCode(2, "ABC", 108, 50, 200, -1, -14); }, 106, 0},
        {"barcode with a line end", [&] { return p.PrintBarCode(2, "AB\nC", 108, 50, 200, -1, -11); }, 106, 0},
        {"bitmap slot 21", [&] { return p.SetBitmap(21, 2, jpg.c_str(), -11, -1); }, 106, 0},
        {"pcx into a slot", [&] { return p.SetBitmap(1, 2, pcx.c_str(), -11, -1); }, 106, 0},
        {"a pcx file without its header", [&] { return p.PrintBitmap(2, pcx.c_str(), -11, -1); }, 106, 0},
        {"a pcx picture wider than the line", [&] { return p.PrintBitmap(2, widePcx.c_str(), -11, -1); }, 106, 206},
        {"an icon", [&] { return p.SetBitmap(1, 2, icon.c_str(), -11, -1); }, 106, 0},
        {"a missing picture", [&] { return p.PrintBitmap(2, missing.c_str(), -11, -1); }, 106, 0},
        {"bitmap wider than the line", [&] { return p.PrintBitmap(2, jpg.c_str(), wide, -1); }, 106, 206},
        {"bitmap width -5", [&] { return p.PrintBitmap(2, jpg.c_str(), -5, -1); }, 106, 0},
        {"a picture as it is, wider than the line", [&] { return p.PrintBitmap(2, widePicture.c_str(), -11, -1); }, 106, 206},
        {"a picture as it is into a slot, wider than the line", [&] { return p.SetBitmap(1, 2, widePicture.c_str(), -11, -1); }, 106, 206},
        {"logo location 3", [&] { return p.SetLogo(3, "BD1,1,2,2,O\r\n"); }, 106, 0},
        {"cut past 100 %", [&] { return p.CutPaper(101); }, 106, 0},
        {"cut below 0 %", [&] { return p.CutPaper(-1); }, 106, 0},
        {"MarkFeed to the cutter", [&] { return p.MarkFeed(2); }, 106, 0},
        {"page-mode print outside page mode", [&] { return p.pageModePrint(3); }, 106, 0},
        {"unknown page-mode control", [&] { return p.pageModePrint(9); }, 106, 0},
        {"MarkFeed in page mode", [&] { p.pageModePrint(1); long rc = p.MarkFeed(1); p.pageModePrint(4); return rc; }, 106, 0},
        {"MarkFeed in a transaction", [&] { p.TransactionPrint(2, 11); long rc = p.MarkFeed(1); p.ClearOutput(); return rc; }, 106, 0},
    };
    const int font = p.m_builder.Fonts().CurrentNumber();
    for (const Row& r : rows) {
        EXPECT_EQ(r.rc, r.call()) << r.what;
        EXPECT_EQ(r.rce, p.ResultCodeExtended) << r.what;
        // Nothing of the refused call stays: not its position, nor its font.
        EXPECT_EQ(0, p.m_builder.X()) << r.what;
        EXPECT_EQ(0, p.m_builder.Y()) << r.what;
        EXPECT_FALSE(p.m_builder.ExplicitPosition()) << r.what;
        EXPECT_EQ(font, p.m_builder.Fonts().CurrentNumber()) << r.what;
    }
    size_t before = sim.labels(ep).size();
    ASSERT_EQ(0, p.PrintNormal(2, "after"));
    ASSERT_EQ(0, p.MarkFeed(1));
    std::vector<qlks::Label> got = NewLabels(before, 1);
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ((std::vector<qlks::Op>{qlks::Op::Text}), Body(got[0])) << qlks::describe(got[0]);
    EXPECT_EQ((std::vector<std::string>{"after"}), Texts(got[0]));

    // A disabled, then a released device sends nothing.
    std::function<long()> calls[] = {
        [&] { return p.PrintNormal(2, "no"); },
        [&] { return p.PrintBitmap(2, jpg.c_str(), -11, -1); },
        [&] { return p.MarkFeed(1); },
        [&] { return p.pageModePrint(1); },
    };
    p.SetPropertyNumber(3, 0);
    for (size_t i = 0; i < sizeof calls / sizeof calls[0]; ++i)
        EXPECT_EQ(105, calls[i]()) << "disabled, call " << i;
    ASSERT_EQ(0, p.ReleaseDevice());
    for (size_t i = 0; i < sizeof calls / sizeof calls[0]; ++i)
        EXPECT_EQ(103, calls[i]()) << "released, call " << i;
    EXPECT_EQ(before + 1, sim.labels(ep).size());
}

}  // namespace

// The label builder: exact command lines, positions, refusals, and whole labels as the printer
// reads them.
#include "LabelTestKit.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

const char* kSetup = "SL1200,24,G,0\r\nSW832\r\nSTD\r\nSM0,0\r\nSS4\r\nSD10\r\nSOT\r\nSA0\r\nTA0\r\nCS0,0\r\nCUTn\r\n";

TEST(LabelBuilder, EmptyBodyGivesACompleteLabelAndPaperTypesChooseTheLengthLine)
{
    CLabelCommand b;
    Configure(b);
    COPOSData label;
    b.BuildLabel(label);
    EXPECT_EQ(std::string(kSetup) + "P1\r\n", DataText(label));
    qlks::Label parsed = Parse(label);
    EXPECT_TRUE(parsed.complete);
    EXPECT_EQ(0u, parsed.flags) << qlks::describe(parsed);

    struct Row { const char* type; int length; const char* first; } rows[] = {
        {"A", 1200, "SW832\r\n"},
        {"C", 1200, "SL1200,24,C\r\n"},
        {"C", 0, "SL40,24,C\r\n"},  // no length: the label is as long as its body
    };
    for (const Row& r : rows) {
        CLabelCommand c;
        Configure(c);
        c.SetPaper(832, r.length, 24, r.type, 7);
        c.AdvanceY(40);
        COPOSData l;
        c.BuildLabel(l);
        EXPECT_EQ(0u, DataText(l).find(r.first)) << r.type << r.length << "\n" << DataText(l);
    }
}

TEST(LabelBuilder, SettingsRewindAndHeaderCommands)
{
    CLabelCommand b;
    Configure(b);
    b.SetBackFeed(3, 2);
    b.SetInternationalCharSet(5);
    b.SetCodePage(1252);
    b.SetHeaderCommands("SD12\r\n");
    b.SetOperationMode("R", 9);
    EXPECT_EQ(0, b.CutterPeriod());  // kept only in cutter mode
    b.AddCut();                      // no cut in rewind mode
    COPOSData label;
    b.BuildLabel(label);
    std::string t = DataText(label);
    EXPECT_NE(std::string::npos, t.find("SM0,0\r\nSF3,2\r\nSS4\r\n"));
    EXPECT_NE(std::string::npos, t.find("CS5,1252\r\nCUTn\r\nSD12\r\nRWDy\r\nP1\r\n"));
    EXPECT_EQ(std::string::npos, t.find("CUTy"));
}

TEST(LabelBuilder, TextEscapingFontsAndPlaces)
{
    CLabelCommand b;
    Configure(b);
    b.SetPositionY(0);
    b.ResetPosition();
    b.AddText(CString("it's a\\b"));
    EXPECT_EQ("T0,0,0,1,1,1,0,N,N,F,'it\\'s a\\\\b'\r\n", BodyText(b));
    EXPECT_EQ(20, b.Y());

    const std::string wide(100, 'W');  // 100 x 6 x 2 dots: wider than the 832-dot paper
    struct Row { int alignment; int font; std::string text; std::string line; } rows[] = {
        // centre: 832/2 - (4 ASCII x 6) x 2 / 2 with width multiplier 2
        {-2, 0, "ABCD", "T392,0,0,2,1,1,0,N,B,F,'ABCD'\r\n"},
        {-3, 0, "AB", "T831,0,0,2,1,1,0,N,B,L,'AB'\r\n"},
        {-1, 2, "AB", "V0,0,U0,16,16,0,B,N,N,0,L,0,'AB'\r\n"},
        {-3, 2, "AB", "V831,0,U0,16,16,0,B,N,N,0,R,0,'AB'\r\n"},
        {-2, 2, "AB", "V400,0,U0,16,16,0,B,N,N,0,C,0,'AB'\r\n"},
        {-4, 0, "AB", "T0,0,0,2,1,1,0,N,B,F,'AB'\r\n"},  // an unknown alignment prints left
        {-4, 2, "AB", "V0,0,U0,16,16,0,B,N,N,0,L,0,'AB'\r\n"},  // ... with the left letter
        {7, 2, "AB", "V0,0,U0,16,16,0,B,N,N,0,L,0,'AB'\r\n"},
        {-2, 0, wide, "T0,0,0,2,1,1,0,N,B,F,'" + wide + "'\r\n"},  // centred but wider: x stays 0
    };
    for (const Row& r : rows) {
        CLabelCommand c;
        Configure(c);
        c.SelectFont(r.font);
        c.SetAlignment(r.alignment);
        c.SetWidthMultiplier(2);
        c.SetBold(1);
        c.AddText(r.text.data(), r.text.size());
        EXPECT_EQ(r.line, BodyText(c)) << r.alignment << " " << r.font;
    }

    // A zero byte is text like any other, not the end of it.
    CLabelCommand z;
    Configure(z);
    z.AddText("A\0B", 3);
    EXPECT_EQ(std::string("T0,0,0,1,1,1,0,N,N,F,'A\0B'\r\n", 28), BodyText(z));
}

TEST(LabelBuilder, TextAdvancesByLinesItNeedsOrTheLineSpacing)
{
    struct Row { int paperWidth; int chars; int hmul; int spacing; int advance; } rows[] = {
        {832, 10, 1, 0, 20},    // 10 x (1 + 6) = 70 dots fit one line
        {832, 200, 1, 0, 40},   // 1400 dots over 830: two lines
        {832, 10, 3, 0, 60},
        {832, 10, 1, 50, 50},   // the line spacing is the least advance
        {0, 200, 1, 0, 20},     // no paper width: one line, no division
    };
    for (const Row& r : rows) {
        CLabelCommand b;
        Configure(b);
        b.SetPaper(r.paperWidth, 1200, 24, "G", 0);
        b.SetHeightMultiplier(r.hmul);
        b.SetLineSpacing(r.spacing);
        b.AddText(CString('x', r.chars));
        EXPECT_EQ(r.advance, b.Y()) << r.paperWidth << " " << r.chars;
    }
}

TEST(LabelBuilder, BarcodeChecksModulesAndTextField)
{
    struct Row { const char* data; int symbology; int width; int rc; const char* line; } rows[] = {
        {"0123456789", 101, 200, 106, ""},         // UPC-A of 10 digits
        {"12345670", 103, 100, 0, "B1382,0,8,1,3,50,0,0,'12345670'\r\n"},  // EAN-8: m 1, wide m + 2
        {"ABC123", 108, 400, 0, "B1236,0,0,3,7,50,0,0,'ABC123'\r\n"},     // Code 39: W(4) = 72 x 6 reaches 400
        {"abc", 108, 400, 106, ""},                // Code 39 takes upper case and digits only
        {"A'B", 110, 400, 106, ""},                // a quote would end the field
        {"A\rB", 110, 400, 106, ""},
        {"12345", 106, 100, 106, ""},              // interleaved 2 of 5 needs an even length
        {"X123", 107, 100, 106, ""},               // Codabar starts with A to D
        {"123", 205, 100, 106, ""},                // not supported
    };
    for (const Row& r : rows) {
        CLabelCommand b;
        Configure(b);
        EXPECT_EQ(r.rc, b.AddBarcode(r.data, strlen(r.data), r.symbology, 50, r.width, -2, -11, 0)) << r.data;
        EXPECT_EQ(r.line, BodyText(b)) << r.data;
    }

    // Text below: the field is text position + 2 x font + 12, and y moves by the font's height + 4.
    CLabelCommand b;
    Configure(b);
    ASSERT_EQ(0, b.AddBarcode("12345670", 8, 103, 50, 100, -1, -13, 1));
    EXPECT_EQ("B10,0,8,1,3,50,0,1,'12345670'\r\n", BodyText(b));
    EXPECT_EQ(24 + 4 + 50, b.Y());
    EXPECT_EQ(106, b.AddBarcode("12345670", 8, 103, 50, 100, -1, -13, 7));  // no font 7
}

TEST(LabelBuilder, ABarcodesOrPicturesAlignmentPlacesThatItemOnly)
{
    COPOSData raster;
    const BYTE img[] = {1, 0, 1, 0, 0xFF};
    raster.Append(img, sizeof img);
    struct Row { const char* what; std::function<int(CLabelCommand&)> item; int rc; } rows[] = {
        {"a right-aligned barcode", [](CLabelCommand& b) { return b.AddBarcode("12345670", 8, 103, 50, 100, -3, -11, 0); }, 0},
        {"a refused right-aligned barcode", [](CLabelCommand& b) { return b.AddBarcode("1234", 4, 103, 50, 100, -3, -11, 0); }, 106},
        {"a right-aligned QR code", [](CLabelCommand& b) { return b.AddBarcode("Q", 1, 204, 0, 100, -3, -11, 0); }, 0},
        {"a right-aligned picture", [&](CLabelCommand& b) { return b.AddImage(raster, false, true, 8, 1, -3); }, 0},
        {"a centred stored bitmap", [&](CLabelCommand& b) {
             b.StoreBitmap(2, raster, true, 8, 1, -2);
             return b.PrintStoredBitmap(2);
         }, 0},
    };
    for (const Row& r : rows) {
        CLabelCommand b;
        Configure(b);
        EXPECT_EQ(r.rc, r.item(b)) << r.what;
        EXPECT_EQ(-1, b.GetAlignment()) << r.what;
        const size_t before = b.Body().GetLength();
        b.AddText("Price");
        EXPECT_EQ(0, BodyText(b).compare(before, 3, "T0,")) << r.what << ": " << BodyText(b).substr(before);
    }
}

TEST(LabelBuilder, BarcodesAdvanceAfterAFrameAndStayWhereTheApplicationPlacedThem)
{
    auto frame = [](CLabelCommand& b) {
        b.SetPositionX(8);
        b.SetPositionY(8);
        b.SetBoxEndX(400);
        b.SetBoxEndY(300);
        b.AddBox("O");
    };
    // An explicit position places the next item only: codes after it advance like any other.
    struct Row { const char* what; std::function<void(CLabelCommand&)> place; const char* data; int symbology;
                 qlks::Op op; int x1, y1, x2, y2; } rows[] = {
        {"after box ends", [](CLabelCommand& b) { b.SetBoxEndX(300); b.SetBoxEndY(200); b.AddBox("O"); }, "12345670",
         103, qlks::Op::Barcode, 0, 0, 0, 50},
        {"after an explicit y", [](CLabelCommand& b) { b.SetPositionY(10); }, "12345670", 103, qlks::Op::Barcode, 0, 10, 0, 60},
        {"after an explicit x", [](CLabelCommand& b) { b.SetPositionX(30); }, "12345670", 103, qlks::Op::Barcode, 30, 0, 0, 50},
        {"UPC codes after a frame at an origin", frame, "01234567890", 101, qlks::Op::Barcode, 0, 8, 0, 58},
        {"QR codes after a frame at an origin", frame, "QR", 204, qlks::Op::QrCode, 0, 8, 0, 8 + 111},
        {"after right-aligned text", [](CLabelCommand& b) { b.SetAlignment(-3); b.AddText("right"); }, "12345670", 103,
         qlks::Op::Barcode, 0, 20, 0, 70},
    };
    for (const Row& r : rows) {
        CLabelCommand b;
        Configure(b);
        r.place(b);
        EXPECT_EQ(0, b.AddBarcode(r.data, strlen(r.data), r.symbology, 50, 100, -1, -11, 0)) << r.what;
        EXPECT_EQ(0, b.AddBarcode(r.data, strlen(r.data), r.symbology, 50, 100, -1, -11, 0)) << r.what;
        // A box after the items starts at the left margin too, not where the last one ended.
        b.SetBoxEndX(800);
        b.SetBoxEndY(1000);
        b.AddBox("O");
        COPOSData label;
        b.BuildLabel(label);
        qlks::Label l = Parse(label);
        EXPECT_EQ(0u, l.flags) << qlks::describe(l);
        if (l.count(r.op) != 2u) {
            ADD_FAILURE() << r.what << ": " << qlks::describe(l);
            continue;
        }
        EXPECT_EQ(r.x1, l.find(r.op, 0)->num("x")) << r.what;
        EXPECT_EQ(r.y1, l.find(r.op, 0)->num("y")) << r.what;
        EXPECT_EQ(r.x2, l.find(r.op, 1)->num("x")) << r.what;
        EXPECT_EQ(r.y2, l.find(r.op, 1)->num("y")) << r.what;
        EXPECT_EQ(0, l.find(qlks::Op::Box, l.count(qlks::Op::Box) - 1)->num("x")) << r.what;
    }
}

TEST(LabelBuilder, AnAppendTheBodyRefusesFailsTheCallAndLeavesNothingOfIt)
{
    COPOSData raster;
    const BYTE img[] = {2, 0, 4, 0, 1, 2, 3, 4, 5, 6, 7, 8};
    raster.Append(img, sizeof img);
    const std::string text = "T0,0,0,1,1,1,0,N,N,F,'kept'\r\n";
    struct Row { const char* what; std::function<int(CLabelCommand&)> call; int rc; } rows[] = {
        {"a picture", [&](CLabelCommand& b) { return b.AddImage(raster, false, true, 16, 4, -1); }, 106},
        {"a stored picture", [&](CLabelCommand& b) { b.StoreBitmap(1, raster, true, 16, 4, -1); return b.PrintStoredBitmap(1); }, 106},
        {"a text", [](CLabelCommand& b) { return b.AddText("a longer text than the buffer takes"); }, 111},
        {"a barcode", [](CLabelCommand& b) { return b.AddBarcode("12345670", 8, 103, 50, 100, -1, -11, 0); }, 111},
        {"a QR code", [](CLabelCommand& b) { return b.AddBarcode("QR", 2, 204, 0, 100, -1, -11, 0); }, 111},
        {"a box", [](CLabelCommand& b) { b.SetBoxLineWidth(123456); return b.AddBox("S"); }, 111},
        {"raw bytes", [](CLabelCommand& b) { return b.AppendBytes("0123456789", 10); }, 106},
    };
    for (const Row& r : rows) {
        CLabelCommand b;
        Configure(b);
        EXPECT_EQ(0, b.AddText("kept")) << r.what;
        b.SetBodyLimit(DWORD(text.size() + 9));
        const int y = b.Y();
        b.SetPositionX(40);
        b.SelectFont(1);
        // One call as a unit: what the refused item put in, its position and font go back.
        EXPECT_EQ(r.rc, b.Unit([&] {
            b.SelectFont(2);
            b.SetBold(1);
            return r.call(b);
        })) << r.what;
        EXPECT_EQ(40, b.X()) << r.what;
        EXPECT_TRUE(b.ExplicitPosition()) << r.what;
        EXPECT_EQ(1, b.Fonts().CurrentNumber()) << r.what;
        EXPECT_EQ("1", std::string(b.Fonts().Current().FontName.GetString())) << r.what;
        EXPECT_EQ(text, BodyText(b)) << r.what;
        EXPECT_EQ(y, b.Y()) << r.what;
        COPOSData label;
        EXPECT_EQ(0, b.BuildLabel(label)) << r.what;
        qlks::Label l = Parse(label);
        EXPECT_EQ(0u, l.flags) << qlks::describe(l);
        EXPECT_EQ(13u, l.commands.size()) << qlks::describe(l);  // eleven setup lines, the text, P1
    }
    // A label the target buffer does not take is not built, and the body stays.
    CLabelCommand b;
    Configure(b);
    b.AddText("kept");
    COPOSData small;
    small.SetLimit(20);
    EXPECT_EQ(111, b.BuildLabel(small));
    EXPECT_EQ(0u, small.GetLength());
    EXPECT_EQ(text, BodyText(b));
}

TEST(LabelBuilder, YStopsAtTheLargestPositionInsteadOfWrapping)
{
    const int kMax = 0x7FFFFFFF;
    struct Row { const char* what; std::function<void(CLabelCommand&)> run; } rows[] = {
        {"two barcodes of the largest height", [&](CLabelCommand& b) {
             b.AddBarcode("12345670", 8, 103, kMax, 100, -1, -11, 0);
             b.AddBarcode("12345670", 8, 103, kMax, 100, -1, -11, 0);
         }},
        {"text above a barcode at the bottom", [&](CLabelCommand& b) {
             b.SetPositionY(kMax - 2);
             b.AddBarcode("12345670", 8, 103, 50, 100, -1, -12, 1);
         }},
        {"text below a barcode at the bottom", [&](CLabelCommand& b) {
             b.SetPositionY(kMax - 2);
             b.AddBarcode("12345670", 8, 103, 50, 100, -1, -13, 1);
         }},
        {"a line feed at the bottom", [&](CLabelCommand& b) {
             b.AdvanceY(kMax);
             b.AdvanceY(kMax);
         }},
        {"a stored bitmap at the bottom", [&](CLabelCommand& b) {
             COPOSData raster;
             const BYTE img[] = {1, 0, 1, 0, 0xFF};
             raster.Append(img, sizeof img);
             b.StoreBitmap(1, raster, false, 8, kMax, -1);
             b.PrintStoredBitmap(1);
             b.PrintStoredBitmap(1);
         }},
        {"a QR code at the bottom", [&](CLabelCommand& b) {
             b.AdvanceY(kMax - 10);
             b.AddBarcode("HELLO", 5, 204, 0, 200, -1, -11, 0);
         }},
    };
    for (const Row& r : rows) {
        CLabelCommand b;
        Configure(b);
        r.run(b);
        EXPECT_EQ(kMax, b.Y()) << r.what;
    }
}

TEST(LabelBuilder, TwoDimensionalCodes)
{
    CLabelCommand b;
    Configure(b);
    b.SetAlignment(-2);
    ASSERT_EQ(0, b.AddBarcode("HELLO", 5, 204, 0, 200, -2, -11, 0));
    // Width 200 reaches 111, 148 and 185: size 6, placed as 222 dots wide.
    EXPECT_EQ("B2305,0,Q,3,L,6,0,'HELLO'\r\n", BodyText(b));
    EXPECT_EQ(222, b.Y());
    EXPECT_EQ(106, b.AddBarcode("HELLO", 5, 203, 0, 200, -2, -11, 0));

    CLabelCommand p;
    Configure(p);
    ASSERT_EQ(0, p.AddBarcode("0123456789", 10, 201, 0, 400, -1, -13, 0));
    EXPECT_EQ("B20,0,P,30,5,0,0,1,1,4,10,0,'0123456789'\r\n", BodyText(p));
    EXPECT_EQ(2 * 10 + 70, p.Y());

    struct Row { const char* data; int symbology; int width; int alignment; int textPosition; const char* line; int y; } rows[] = {
        {"MAXI", 202, 0, -2, -11, "B2304,0,M,0,'MAXI'\r\n", 224},  // (832 - 224) / 2
        {"MAXI", 202, 0, -3, -11, "B2608,0,M,0,'MAXI'\r\n", 224},
        // PDF417 without its text field: field 0 and 40 dots less; 880 reaches every step.
        {"0123456789", 201, 880, -1, -11, "B20,0,P,30,5,0,0,0,1,8,10,0,'0123456789'\r\n", 2 * 10 + 30},
        {"0123456789", 201, 380, -2, -11,  // (832 - 505) / 2
         "B2163,0,P,30,5,0,0,0,1,4,10,0,'0123456789'\r\n", 2 * 10 + 30},
    };
    for (const Row& r : rows) {
        CLabelCommand c;
        Configure(c);
        EXPECT_EQ(0, c.AddBarcode(r.data, strlen(r.data), r.symbology, 0, r.width, r.alignment, r.textPosition, 0))
            << r.line;
        EXPECT_EQ(r.line, BodyText(c));
        EXPECT_EQ(r.y, c.Y()) << r.line;
        COPOSData label;
        c.BuildLabel(label);
        qlks::Label parsed = Parse(label);
        EXPECT_EQ(0u, parsed.flags) << qlks::describe(parsed);
    }
    qlks::Command q = qlks::parseLine("B2305,0,Q,3,L,6,0,'HELLO'");
    EXPECT_EQ(qlks::Op::QrCode, q.op);
    EXPECT_EQ(0u, q.flags) << q.problem;
}

TEST(LabelBuilder, AttributesRotationBoxesCirclesCutsAndCustomCommands)
{
    CLabelCommand b;
    Configure(b);
    EXPECT_EQ(106, b.SetWidthMultiplier(10));
    EXPECT_EQ(106, b.SetWidthMultiplier(10));
    EXPECT_EQ(1, b.WidthMultiplier());
    EXPECT_EQ(106, b.SetHeightMultiplier(0));
    EXPECT_EQ(106, b.SetCharWidth(30));  // bitmap font
    b.SelectFont(2);
    EXPECT_EQ(0, b.SetCharWidth(30));
    EXPECT_EQ(16, b.Fonts().GetAt(2)->FontW);  // the table keeps its metrics

    const int rotations[][2] = {{2, 3}, {258, 3}, {3, 2}, {259, 2}, {4, 1}, {257, 1}, {1, 0}, {0, 0}, {99, 0}};
    for (const auto& r : rotations) {
        b.SetRotation(r[0]);
        EXPECT_EQ(r[1], b.Rotation()) << r[0];
    }

    CLabelCommand c;
    Configure(c);
    c.SetPositionX(10);
    c.SetPositionY(20);
    c.SetBoxEndX(110);
    c.SetBoxEndY(220);
    c.SetBoxLineWidth(3);
    c.SetCircleValue(2);
    for (const char* type : {"O", "S", "E", "D", "B"})
        EXPECT_EQ(0, c.AddBox(type)) << type;
    EXPECT_EQ(106, c.AddBox("X"));
    c.AddCircle(50);
    c.AddCut();
    c.SetOperationMode("C", 5);
    c.AddCut();
    c.AllocCustomCommands(2);
    c.SetCustomCommand(0, "FX");
    EXPECT_EQ(0, c.AddCustomCommand(0, "arg"));
    EXPECT_EQ(0, c.AddCustomCommand(0, ""));
    EXPECT_EQ(106, c.AddCustomCommand(2, "arg"));
    EXPECT_EQ(106, c.AddCustomCommand(0, "a'b"));
    EXPECT_EQ(106, c.AddCustomCommand(0, "a\nP1"));
    c.SetOperationMode("C", -3);
    c.AddCut();
    // The explicit position places the first box only; the rest start at the left margin.
    EXPECT_EQ("BD10,20,110,220,O\r\nBD0,20,110,220,S,3\r\nBD0,20,110,220,E\r\nBD0,20,110,220,D\r\n"
              "BD0,20,110,220,B,3\r\nCD0,20,50,2\r\nCUTy\r\nCUTy,5\r\nFX,'arg'\r\nFX\r\nCUTy\r\n",
              BodyText(c));
}

TEST(LabelBuilder, ImagesAndStoredBitmaps)
{
    COPOSData raster;
    const BYTE img[] = {1, 0, 2, 0, 0xFF, 0x00};  // 1 row byte, 2 rows
    raster.Append(img, sizeof img);
    CLabelCommand b;
    Configure(b);
    b.SetPositionY(0x123);
    b.ResetPosition();
    b.AdvanceY(0x123);
    ASSERT_EQ(0, b.AddImage(raster, false, true, 8, 2, -1));
    ASSERT_EQ(0, b.AddImage(raster, true, true, 8, 2, -3));
    ASSERT_EQ(0, b.AddImage(raster, false, false, 8, 2, -1));
    std::string expect = std::string("LD\x00\x00\x23\x01", 6) + std::string(reinterpret_cast<const char*>(img), 6) +
                         "\r\n" + std::string("LCR\x00\x38\x03\x25\x01", 8) +
                         std::string(reinterpret_cast<const char*>(img), 6) + "\r\nIS6,'print1'" +
                         std::string(reinterpret_cast<const char*>(img), 6) + "\r\nIR0,295,'print1'\r\n";
    EXPECT_EQ(expect, BodyText(b));
    EXPECT_EQ(0x123 + 6, b.Y());

    // The position fields are 16-bit signed numbers at the printer: 0x7FFF is the last place.
    struct Place { int x, y, rc; } places[] = {{0x7FFF, 0x7FFF, 0}, {0, 0x8000, 106}, {0x8000, 0, 106}, {0, 70000, 106}, {65535, 0, 106}};
    for (const Place& p : places) {
        CLabelCommand low;
        Configure(low);
        low.SetPaper(0x7FFF, 0x7FFF, 24, "G", 0);  // a page that reaches the last place
        low.StoreBitmap(1, raster, true, 8, 0, -1);  // no advance: both at the same place
        low.SetPositionX(p.x);
        low.SetPositionY(p.y);
        EXPECT_EQ(p.rc, low.AddImage(raster, false, true, 8, 0, -1)) << p.x << "," << p.y;
        EXPECT_EQ(p.rc, low.PrintStoredBitmap(1)) << p.x << "," << p.y;
        COPOSData label;
        low.BuildLabel(label);
        qlks::Label l = Parse(label);
        EXPECT_EQ(0u, l.flags) << qlks::describe(l);
        EXPECT_EQ(p.rc ? 0u : 2u, l.count(qlks::Op::Raster)) << p.x << "," << p.y;
    }

    CLabelCommand s;
    Configure(s);
    EXPECT_EQ(106, s.PrintStoredBitmap(3));
    EXPECT_EQ(106, s.StoreBitmap(21, raster, true, 8, 2, -1));
    ASSERT_EQ(0, s.StoreBitmap(3, raster, true, 8, 2, -2));
    ASSERT_EQ(0, s.PrintStoredBitmap(3));
    EXPECT_EQ(std::string("LD\x9c\x01\x00\x00", 6) + std::string(reinterpret_cast<const char*>(img), 6) + "\r\n",
              BodyText(s));
    EXPECT_EQ(2, s.Y());

    COPOSData label;
    s.BuildLabel(label);
    qlks::Label parsed = Parse(label);
    EXPECT_TRUE(parsed.complete);
    EXPECT_EQ(0u, parsed.flags) << qlks::describe(parsed);
    ASSERT_NE(nullptr, parsed.find(qlks::Op::Raster));
    EXPECT_EQ(qlks::Bytes({0xFF, 0x00}), parsed.find(qlks::Op::Raster)->pixels);
    EXPECT_EQ(0u, s.Body().GetLength());  // the body starts again empty
    EXPECT_EQ(0, s.Y());
}

}  // namespace

namespace {

TEST(LabelBuilder, HealthCheckTestLabel)
{
    CLabelCommand b;
    Configure(b);
    b.SetOffsetPosition(-1);
    const std::string body =
        "BD100,100,400,620,B,4\r\nBD200,100,202,620,0\r\nBD300,260,302,620,0\r\nBD200,260,400,262,0\r\n"
        "V130,580,U,40,45,1,N,N,N,3,L,0,'VESK OPOS Driver'\r\nV230,570,U,40,40,1,N,N,I,3,L,0,'Label Printer'\r\n"
        "V330,540,U,40,40,1,B,N,N,3,L,0,'VL420'\r\nB2240,240,Q,1,H,4,3,'https://example.com/vesk-opos'\r\n";
    EXPECT_EQ("SL1200,24,G\r\nSW832\r\nSOT\r\nSS4\r\nSA-1\r\nTA0\r\n" + body + "CUTy\r\nP1\r\n", b.BuildTestLabel("VL420", 832, 1200));
    // The page given, not a print area the builder holds now.
    b.SetPaper(400, 300, 24, "G", 0);
    EXPECT_EQ(0u, b.BuildTestLabel("VL420", 832, 1200).find("SL1200,24,G\r\nSW832\r\n"));
    struct Row { const char* type; const char* mode; int length; const char* head; const char* tail; } rows[] = {
        {"A", "R", 1200, "SW832\r\n", "RWDy\r\nP1\r\n"},  // no length line for continuous media
        {"C", "T", 1200, "SL1200,24,C\r\n", "CUTn\r\nP1\r\n"},
        // No length configured: the label is as long as its own drawing, never 0.
        {"C", "T", 0, "SL720,24,C\r\n", "CUTn\r\nP1\r\n"},
        {"G", "C", 0, "SL720,24,G\r\n", "CUTy\r\nP1\r\n"},
    };
    for (const Row& r : rows) {
        b.SetPaper(832, r.length, 24, r.type, 0);
        b.SetOperationMode(r.mode, 0);
        std::string label = b.BuildTestLabel("VL420", 832, r.length);
        EXPECT_EQ(0u, label.find(r.head)) << r.type << " " << r.length;
        EXPECT_EQ(label.size() - strlen(r.tail), label.rfind(r.tail)) << r.mode;
        qlks::Bytes raw(label.begin(), label.end());
        EXPECT_EQ(0u, qlks::parseLabel(raw).flags) << label;
    }

    // A device name is a quoted text: its quote and backslash are escaped, and the bytes that
    // would end the line are dropped, so the name cannot add commands to the label.
    struct Name { const char* name; const char* line; } names[] = {
        {"it's", "'it\\'s'\r\n"},
        {"a\\b", "'a\\\\b'\r\n"},
        {"x'\r\nP1\r\nT0,0,0,1,1,1,0,N,N,F,'y", "'x\\'P1T0,0,0,1,1,1,0,N,N,F,\\'y'\r\n"},
    };
    for (const Name& n : names) {
        std::string label = b.BuildTestLabel(n.name, 832, 1200);
        EXPECT_NE(std::string::npos, label.find(std::string("V330,540,U,40,40,1,B,N,N,3,L,0,") + n.line)) << label;
        qlks::Bytes raw(label.begin(), label.end());
        qlks::Label parsed = qlks::parseLabel(raw);
        EXPECT_TRUE(parsed.complete && parsed.testLabel) << label;
        EXPECT_EQ(0u, parsed.flags) << qlks::describe(parsed);
        EXPECT_EQ(1u, parsed.count(qlks::Op::Print));
    }
}

}  // namespace

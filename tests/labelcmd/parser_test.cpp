// The escape-sequence parser: print data in, builder calls (seen as the body) and result out.
#include "EscapeParser.h"
#include "LabelTestKit.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Case
{
    const char* name;
    std::string data;
    std::string body;
    int rc;
    int y;
};

std::string T(int x, int y, const char* font, int wm, int hm, const char* bold, const char* just, const std::string& text)
{
    char head[96];
    snprintf(head, sizeof head, "T%d,%d,%s,%d,%d,%d,0,N,%s,%s,'", x, y, font, wm, hm, font[0] == '0' ? 1 : 2, bold, just);
    return head + text + "'\r\n";
}

const std::string E = "\x1b|";

TEST(EscapeParser, SequencesOnSmallInputs)
{
    const std::string upcBlock = "s101h100w400a-2t-13d12345678901e";
    ASSERT_EQ(32u, upcBlock.size());
    const std::string upc60 = "s101h60w400a-2t-11d12345678901e";
    ASSERT_EQ(31u, upc60.size());
    const std::string frame = E + "8xP" + E + "8yP" + E + "400xeP" + E + "300yeP" + E + "1bD";
    const Case cases[] = {
        {"text and line end", "ABC\n", T(0, 0, "0", 1, 1, "N", "F", "ABC"), 0, 20},
        {"a lone line end feeds a line", "\n", "", 0, 30},
        {"CR LF after text", "AB\r\n", T(0, 0, "0", 1, 1, "N", "F", "AB"), 0, 20},
        {"CR LF alone", "\r\n", "", 0, 30},
        {"bold for one line", E + "bCbold\nplain\n",
         T(0, 0, "0", 1, 1, "B", "F", "bold") + T(0, 20, "0", 1, 1, "N", "F", "plain"), 0, 40},
        {"bold off", E + "bC" + E + "!bCX\n", T(0, 0, "0", 1, 1, "N", "F", "X"), 0, 20},
        {"centred title, left after", E + "cAAB\nCD\n",
         T(410, 0, "0", 1, 1, "N", "F", "AB") + T(0, 20, "0", 1, 1, "N", "F", "CD"), 0, 40},
        {"double width and height", E + "4CX\n", T(0, 0, "0", 2, 2, "N", "F", "X"), 0, 40},
        {"width multiplier out of range", E + "12hCX\n", T(0, 0, "0", 1, 1, "N", "F", "X"), 106, 20},
        {"two letters without a final letter print as text", E + "xyz\n",
         T(0, 0, "0", 1, 1, "N", "F", "\x1b|xyz"), 106, 20},
        {"an ESC without the bar is text", "\x1b" "A\n", T(0, 0, "0", 1, 1, "N", "F", "\x1b" "A"), 0, 20},
        {"raw bytes pass unchanged", E + "3E" + std::string("\x1b\n\0", 3) + "\n", std::string("\x1b\n\0", 3), 0, 30},
        {"a raw count past the end sends nothing", E + "5E\x01\x02", "", 106, 0},
        {"an endless number", E + "99999999999999CX\n", T(0, 0, "0", 1, 1, "N", "F", "\x1b|99999999999999CX"), 106, 20},
        {"cut", E + "P", "CUTy\r\n", 0, 0},
        {"cut past 100 percent", E + "150P", "", 106, 0},
        {"UPC-A barcode, centred, text below", E + "32R" + upcBlock,
         "B1226,0,5,4,4,100,0,-1,'12345678901'\r\n", 0, 124},
        {"a refused barcode is reported", E + "11Rs101d12345e", "", 106, 0},
        // The first refusal is the call's result: what succeeds after it does not clear it.
        {"a refused barcode, then bold", E + "11Rs101d12345e" + E + "bCX\n", T(0, 0, "0", 1, 1, "B", "F", "X"), 106, 20},
        {"a refused size, then a good one", E + "12hC" + E + "2CX\n", T(0, 0, "0", 2, 1, "N", "F", "X"), 106, 20},
        {"a refused feed, then italic", E + "2zF" + E + "iCX\n", T(0, 0, "0", 1, 1, "N", "F", "X"), 111, 20},
        {"a frame at an origin, then codes and a centred title", frame + E + "31R" + upc60 + E + "31R" + upc60 + E + "cATitle\n",
         "BD8,8,400,300,O\r\nB1226,8,5,4,4,60,0,0,'12345678901'\r\nB1226,68,5,4,4,60,0,0,'12345678901'\r\n" +
             T(401, 128, "0", 1, 1, "N", "F", "Title"), 0, 148},
        {"a text position no barcode has", E + "16Rs110w400t-99dABe", "", 106, 0},
        {"an empty QR code", E + "6Rs204de", "", 106, 0},
        {"an empty PDF417", E + "6Rs201de", "", 106, 0},
        {"a QR code of one byte", E + "7Rs204dQe", "B2360,0,Q,3,L,3,0,'Q'\r\n", 0, 111},
        {"a barcode block that does not end", E + "5Rs101h", "", 106, 0},
        {"feed lines", E + "2lF", "", 0, 60},
        {"feed lines, at most a label", E + "100lF", "", 0, 1200},
        {"feed units", E + "8uF", "", 0, 8},
        {"feed 100 units", E + "100uF", "", 0, 100},
        {"feed units, at most 1216 dots", E + "5000uF", "", 0, 1216},
        {"feed with an unknown unit", E + "2zF", "", 111, 0},
        {"custom command with its argument", E + "1pFarg\n", "FX,'arg'\r\n", 0, 30},
        {"custom command out of range", E + "3pFarg\n", "", 106, 30},
        {"an empty bitmap slot; the next character stays", E + "1BX\n", T(0, 0, "0", 1, 1, "N", "F", "X"), 106, 20},
        {"a letter pair that names no font takes the number", E + "2fxT" + "X\n", "V0,0,U0,16,16,0,N,N,N,0,L,0,'X'\r\n", 0, 16},
        {"font outside the table", E + "11vTX\n", T(0, 0, "0", 1, 1, "N", "F", "X"), 106, 20},
        {"unknown final letter", E + "qZX\n", T(0, 0, "0", 1, 1, "N", "F", "X"), 106, 20},
        {"explicit position", E + "100xPX\n", T(100, 0, "0", 1, 1, "N", "F", "X"), 0, 20},
        {"box and circle", E + "10xeP" + E + "20yeP" + E + "1bD" + E + "7cD", "BD0,0,10,20,O\r\nCD0,0,7,0\r\n", 0, 0},
        {"box type out of range", E + "6bD", "", 106, 0},
        {"text after the last line end is not printed", "AB", "", 0, 0},
        // alignment
        {"left again after right", E + "rA" + E + "lAAB\n", T(0, 0, "0", 1, 1, "N", "F", "AB"), 0, 20},
        {"right", E + "rAAB\n", T(831, 0, "0", 1, 1, "N", "L", "AB"), 0, 20},
        {"another alignment letter", E + "xAAB\n", T(0, 0, "0", 1, 1, "N", "F", "AB"), 106, 20},
        // character size and style
        {"size 1 undoes size 4", E + "4C" + E + "1CX\n", T(0, 0, "0", 1, 1, "N", "F", "X"), 0, 20},
        {"size 2 is double width", E + "2CX\n", T(0, 0, "0", 2, 1, "N", "F", "X"), 0, 20},
        {"size 3 is double height", E + "3CX\n", T(0, 0, "0", 1, 2, "N", "F", "X"), 0, 40},
        {"size 5 does nothing", E + "5CX\n", T(0, 0, "0", 1, 1, "N", "F", "X"), 0, 20},
        {"width multiplier", E + "3hCX\n", T(0, 0, "0", 3, 1, "N", "F", "X"), 0, 20},
        {"height multiplier", E + "3vCX\n", T(0, 0, "0", 1, 3, "N", "F", "X"), 0, 60},
        {"height multiplier 0", E + "0vCX\n", T(0, 0, "0", 1, 1, "N", "F", "X"), 106, 20},
        {"bold with a number does nothing", E + "1bCX\n", T(0, 0, "0", 1, 1, "N", "F", "X"), 0, 20},
        {"italic", E + "2fxT" + E + "iCX\n", "V0,0,U0,16,16,0,N,N,I,0,L,0,'X'\r\n", 0, 16},
        {"italic off", E + "2fxT" + E + "iC" + E + "!iCX\n", "V0,0,U0,16,16,0,N,N,N,0,L,0,'X'\r\n", 0, 16},
        {"reverse", E + "rvCX\n", "T0,0,0,1,1,1,0,R,N,F,'X'\r\n", 0, 20},
        {"reverse off", E + "rvC" + E + "!rvCX\n", T(0, 0, "0", 1, 1, "N", "F", "X"), 0, 20},
        {"r alone", E + "rCX\n", T(0, 0, "0", 1, 1, "N", "F", "X"), 106, 20},
        {"r with another letter does nothing", E + "rxCX\n", T(0, 0, "0", 1, 1, "N", "F", "X"), 0, 20},
        {"another style letter", E + "zCX\n", T(0, 0, "0", 1, 1, "N", "F", "X"), 106, 20},
        {"attributes back to normal", E + "bC" + E + "2C" + E + "rvC" + E + "NX\n", T(0, 0, "0", 1, 1, "N", "F", "X"), 0, 20},
        // boxes and circles
        {"box line width", E + "3btD" + E + "4bD" + E + "5bD", "BD0,0,0,0,S,3\r\nBD0,0,0,0,B,3\r\n", 0, 0},
        {"box types E and D", E + "2bD" + E + "3bD", "BD0,0,0,0,E\r\nBD0,0,0,0,D\r\n", 0, 0},
        {"circle value", E + "5ceD" + E + "7cD", "CD0,0,7,5\r\n", 0, 0},
        {"c with another letter", E + "7cxD", "", 106, 0},
        {"b with another letter does nothing", E + "7bxD", "", 0, 0},
        {"another letter does nothing", E + "7xD" + E + "7D", "", 0, 0},
        // raw bytes and barcodes
        {"no raw bytes", E + "0EAB\n", T(0, 0, "0", 1, 1, "N", "F", "AB"), 0, 20},
        {"no barcode block", E + "0RAB\n", T(0, 0, "0", 1, 1, "N", "F", "AB"), 0, 20},
        {"a barcode count past the end", E + "40Rs101h100d1e", "", 106, 0},
        // position and cut
        {"cut by f", E + "fP", "CUTy\r\n", 0, 0},
        {"cut of 100 percent", E + "100P", "CUTy\r\n", 0, 0},
        {"y position", E + "40yPX\n", T(0, 40, "0", 1, 1, "N", "F", "X"), 0, 60},
        {"x with another letter does nothing", E + "40xzPX\n", T(0, 0, "0", 1, 1, "N", "F", "X"), 0, 20},
        {"another cut letter", E + "zP", "", 106, 0},
        // logos (none set here)
        {"top logo without a number", E + "tL", "", 0, 0},
        {"top logo with a number", E + "1tL", "", 106, 0},
        {"bottom logo with a number", E + "2bL", "", 106, 0},
        {"another logo letter", E + "zL", "", 106, 0},
        // character metrics: vector fonts only, their result not kept
        {"vector font metrics", E + "2fxT" + E + "30fwS" + E + "40fhS" + E + "5fgSX\n",
         "V0,0,U0,30,40,5,N,N,N,0,L,0,'X'\r\n", 0, 40},
        {"metrics of a bitmap font", E + "30fwS" + E + "30fhSX\n", T(0, 0, "0", 1, 1, "N", "F", "X"), 0, 20},
        {"vector font sizes beyond any label, and a long text", E + "2fxT" + E + "2147483647fhS" + E + "2147483647fwS" +
         E + "32768fgS" + std::string(3000, 'W') + "\n", "V0,0,U0,16,16,0,N,N,N,0,L,0," + std::string("'") + std::string(3000, 'W') + "'\r\n",
         106, 16 * (3000 * 8 / 830 + 1)},
        {"vector font sizes at the limit", E + "2fxT" + E + "32767fhS" + E + "32767fwS" + "X\n",
         "V0,0,U0,32767,32767,0,N,N,N,0,L,0,'X'\r\n", 0, 32767 * (32767 / 830 + 1)},
        {"another metric letter", E + "2fxT" + E + "30fxSX\n", "V0,0,U0,16,16,0,N,N,N,0,L,0,'X'\r\n", 0, 16},
        // fonts
        {"b with a second letter takes the number", E + "1bxTX\n", T(0, 0, "1", 1, 1, "N", "F", "X"), 0, 24},
        {"b alone", E + "1bTX\n", T(0, 0, "0", 1, 1, "N", "F", "X"), 106, 20},
        {"fa", E + "faTX\n", T(0, 0, "F10", 1, 1, "N", "F", "X"), 0, 20},
        {"fb", E + "fbTX\n", T(0, 0, "F11", 1, 1, "N", "F", "X"), 0, 20},
        {"fc", E + "fcTX\n", T(0, 0, "F12", 1, 1, "N", "F", "X"), 0, 20},
        {"fd", E + "fdTX\n", T(0, 0, "F13", 1, 1, "N", "F", "X"), 0, 20},
        {"fe", E + "feTX\n", T(0, 0, "F14", 1, 1, "N", "F", "X"), 0, 20},
        {"ff", E + "ffTX\n", T(0, 0, "F15", 1, 1, "N", "F", "X"), 0, 20},
        {"fm", E + "fmTX\n", T(0, 0, "F16", 1, 1, "N", "F", "X"), 0, 20},
        {"fn", E + "fnTX\n", T(0, 0, "F17", 1, 1, "N", "F", "X"), 0, 20},
        {"fj", E + "3fjTX\n", T(0, 0, "F18", 1, 1, "N", "F", "X"), 0, 20},
        {"fg takes the number", E + "3fgTX\n", T(0, 0, "F3", 1, 1, "N", "F", "X"), 0, 20},
        {"v", E + "10vTX\n", T(0, 0, "F29", 1, 1, "N", "F", "X"), 0, 20},
        {"d", E + "1dTX\n", T(0, 0, "F27", 1, 1, "N", "F", "X"), 0, 20},
        {"d outside the table", E + "4dTX\n", T(0, 0, "0", 1, 1, "N", "F", "X"), 106, 20},
        {"another font letter", E + "1zTX\n", T(0, 0, "0", 1, 1, "N", "F", "X"), 106, 20},
        // truncated at the end of the data
        {"ESC bar at the end", "AB\n" + E, T(0, 0, "0", 1, 1, "N", "F", "AB"), 106, 20},
        {"ESC bar and a letter at the end", "AB\n" + E + "c", T(0, 0, "0", 1, 1, "N", "F", "AB"), 106, 20},
        {"ESC bar, number and letters at the end", "AB\n" + E + "12fw", T(0, 0, "0", 1, 1, "N", "F", "AB"), 106, 20},
        {"ESC at the end", "AB\n\x1b", T(0, 0, "0", 1, 1, "N", "F", "AB"), 0, 20},
    };
    // The test kit's three fonts, then bitmap fonts 3..29 named by their number.
    std::vector<LabelFontSpec> fonts(30);
    fonts[0].FontName = "0"; fonts[0].FontW = 10; fonts[0].FontH = 20; fonts[0].FontGap = 1; fonts[0].ASCIIW = 6;
    fonts[1].FontName = "1"; fonts[1].FontW = 12; fonts[1].FontH = 24; fonts[1].FontGap = 2;
    fonts[2].FontType = LABELFONT_VECTOR; fonts[2].FontName = "U0"; fonts[2].FontW = 16; fonts[2].FontH = 16;
    fonts[2].ASCIIW = 8;
    for (int i = 3; i < 30; ++i) {
        fonts[size_t(i)].FontName = ("F" + std::to_string(i)).c_str();
        fonts[size_t(i)].FontW = 10; fonts[size_t(i)].FontH = 20; fonts[size_t(i)].FontGap = 2; fonts[size_t(i)].ASCIIW = 6;
    }
    for (const Case& c : cases) {
        CLabelCommand b;
        Configure(b);
        b.FontTable().Build(fonts, {}, 0);
        b.AllocCustomCommands(2);
        b.SetCustomCommand(0, "FX");
        EscapeParseContext ctx;
        ctx.lineSpacingDots = 30;
        ctx.capRecPapercut = true;
        int rc = BuildPrintData(b, c.data.data(), c.data.size(), ctx);
        EXPECT_EQ(c.rc, rc) << c.name;
        EXPECT_EQ(c.body, BodyText(b)) << c.name;
        EXPECT_EQ(c.y, b.Y()) << c.name;
    }
}

TEST(EscapeParser, DeviceValuesItReads)
{
    CLabelCommand b;
    Configure(b);
    EscapeParseContext ctx;
    ctx.lineSpacingDots = 0;
    ctx.capRecPapercut = false;
    COPOSData top;
    top.Append(reinterpret_cast<const BYTE*>("LOGO\r\n"), 6);
    ctx.topLogo = &top;
    ctx.characterSet = 997;
    ctx.toUtf8 = [](const std::string& s) { return "<" + s + ">"; };
    std::vector<std::string> log;
    ctx.log = [&log](const char* line) { log.push_back(line); };
    std::string data = E + "P" + E + "tL" + E + "bL" + E + "5lF" + "AB\n";
    EXPECT_EQ(106, BuildPrintData(b, data.data(), data.size(), ctx));  // no cutter
    EXPECT_EQ("LOGO\r\n" + T(0, 0, "0", 1, 1, "N", "F", "<AB>"), BodyText(b));
    EXPECT_TRUE(log.empty());

    ctx.capRecPapercut = true;
    std::string cut = E + "P";
    EXPECT_EQ(0, BuildPrintData(b, cut.data(), cut.size(), ctx));
    ASSERT_EQ(1u, log.size());
    EXPECT_EQ("Cutting ", log[0]);

    // A text or command the body refuses fails the call, and the call as a unit leaves nothing.
    CLabelCommand full;
    Configure(full);
    full.SetBodyLimit(40);
    std::string lines = "kept\n" + std::string(50, 'x') + "\n" + E + "1bD" + E + "5cD";
    EXPECT_EQ(111, full.Unit([&] { return BuildPrintData(full, lines.data(), lines.size(), EscapeParseContext()); }));
    EXPECT_EQ("", BodyText(full));
    EXPECT_EQ(0, full.Y());

    // A raw or barcode count may not take the line end the print method appended.
    struct Own { std::string data; int rc; std::string body; } owns[] = {
        {E + "3EAB", 106, ""},
        {E + "2EAB", 0, "AB"},
        {E + "7Rs204dQ", 106, ""},
        {E + "7Rs204dQe", 0, "B2360,0,Q,3,L,3,0,'Q'\r\n"},
    };
    for (const Own& o : owns) {
        CLabelCommand c;
        Configure(c);
        EscapeParseContext own;
        own.ownLength = o.data.size();
        std::string data = o.data + "\n";
        EXPECT_EQ(o.rc, BuildPrintData(c, data.data(), data.size(), own)) << o.data;
        EXPECT_EQ(o.body, BodyText(c)) << o.data;
    }
}

TEST(EscapeParser, AParsedLabelReadsCleanAtThePrinter)
{
    CLabelCommand b;
    Configure(b);
    EscapeParseContext ctx;
    ctx.lineSpacingDots = 30;
    ctx.capRecPapercut = true;
    std::string data = E + "cA" + E + "bCTitle 'quoted' \\ back\n" + E + "2fxTvector\n" + E + "32R" +
                       "s101h100w400a-2t-13d12345678901e" + E + "100xeP" + E + "300yeP" + E + "1bD" + E + "P\n";
    EXPECT_EQ(0, BuildPrintData(b, data.data(), data.size(), ctx));
    COPOSData label;
    b.BuildLabel(label);
    qlks::Label parsed = Parse(label);
    EXPECT_TRUE(parsed.complete);
    EXPECT_EQ(0u, parsed.flags) << qlks::describe(parsed);
    ASSERT_NE(nullptr, parsed.find(qlks::Op::Text));
    EXPECT_EQ("Title 'quoted' \\ back", parsed.find(qlks::Op::Text)->str("text"));
    EXPECT_EQ(1u, parsed.count(qlks::Op::Barcode));
    EXPECT_EQ(1u, parsed.count(qlks::Op::Box));
}

}  // namespace

// The escape-sequence parser: print data in, builder calls (seen as the body) and result out.
#include "EscapeParser.h"
#include "LabelTestKit.h"

#include <gtest/gtest.h>

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
        {"a barcode block that does not end", E + "5Rs101h", "", 106, 0},
        {"feed lines", E + "2lF", "", 0, 60},
        {"feed lines, at most a label", E + "100lF", "", 0, 1200},
        {"feed units", E + "8uF", "", 0, 4},
        {"feed with an unknown unit", E + "2zF", "", 111, 0},
        {"custom command with its argument", E + "1pFarg\n", "FX,'arg'\r\n", 0, 30},
        {"custom command out of range", E + "3pFarg\n", "", 106, 30},
        {"an empty bitmap slot; the next character stays", E + "1BX\n", T(0, 0, "0", 1, 1, "N", "F", "X"), 106, 20},
        {"a letter pair that names no font takes the number", E + "2fxT" + "X\n", "V0,0,U0,16,16,0,N,N,N,0,L,0,'X'\r\n", 0, 16},
        {"font outside the table", E + "2vTX\n", T(0, 0, "0", 1, 1, "N", "F", "X"), 106, 20},
        {"unknown final letter", E + "qZX\n", T(0, 0, "0", 1, 1, "N", "F", "X"), 106, 20},
        {"explicit position", E + "100xPX\n", T(100, 0, "0", 1, 1, "N", "F", "X"), 0, 20},
        {"box and circle", E + "10xeP" + E + "20yeP" + E + "1bD" + E + "7cD", "BD0,0,10,20,O\r\nCD0,0,7,0\r\n", 0, 0},
        {"box type out of range", E + "6bD", "", 106, 0},
        {"text after the last line end is not printed", "AB", "", 0, 0},
    };
    for (const Case& c : cases) {
        CLabelCommand b;
        Configure(b);
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
}

TEST(EscapeParser, AParsedLabelReadsCleanAtThePrinter)
{
    CLabelCommand b;
    Configure(b);
    EscapeParseContext ctx;
    ctx.lineSpacingDots = 30;
    ctx.capRecPapercut = true;
    std::string data = E + "cA" + E + "bCTitle 'quoted' \\ back\n" + E + "2fxTvector\n" + E + "32R" +
                       "s101h100w400a-2t-13d12345678901e" + E + "100xeP" + E + "50yeP" + E + "1bD" + E + "P\n";
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

// Fuzz target of the print data path: bytes in as PrintNormal data (text, line ends, escape
// sequences) through the escape parser and the label builder, the label out read by the
// printer's own parser. Every input must give exactly one complete label; unless the input could
// hold a raw pass-through sequence (ESC "|" ... "E", whose bytes go to the printer unchanged), no
// line of it may be flagged. The first two bytes choose the device settings. To let the fuzzer
// reach whole barcode blocks, ESC "|*R" in the input is given the count of the bytes up to and
// including the next "e" before the data is parsed.
//
// The data is one print call, or several where it holds ESC ESC. Each call runs as a unit: one
// that returns non-zero must leave the builder as it found it (body, position, font and text
// attributes), and a call that holds a refused sequence (the second byte's bit 0x10 puts one
// at the start of every call) must not return 0.
#include "EscapeParser.h"
#include "qlks.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

namespace {

// What a refused call must leave as it was, read through the builder's own getters.
std::tuple<std::string, int, int, bool, int, std::string, int, int, int, bool, bool, bool> State(const CLabelCommand& b)
{
    const COPOSData& body = b.Body();
    return std::make_tuple(std::string(reinterpret_cast<const char*>(body.GetData()), body.GetLength()), b.X(), b.Y(),
                           b.ExplicitPosition(), b.Fonts().CurrentNumber(),
                           std::string(b.Fonts().Current().FontName.GetString()), b.GetAlignment(),
                           b.WidthMultiplier(), b.HeightMultiplier(), b.Reverse(), b.Bold(), b.Italic());
}

// The calls of one input: split at ESC ESC.
std::vector<std::string> Calls(const std::string& input)
{
    std::vector<std::string> out;
    size_t from = 0;
    for (size_t at = input.find("\x1b\x1b"); at != std::string::npos; at = input.find("\x1b\x1b", from)) {
        out.push_back(input.substr(from, at - from));
        from = at + 2;
    }
    out.push_back(input.substr(from));
    return out;
}

void Check(bool ok)
{
    if (!ok)
        abort();
}

// The configured custom command; sent without an argument it is the printer's business, not a
// fault of the builder.
const char kCustom[] = "IR0,0";

bool IsLower(uint8_t c) { return c >= 'a' && c <= 'z'; }

// True when data holds anything the parser could read as ESC "|" [!] digits [a-z]{0,2} "E".
bool MayPassRawBytes(const uint8_t* d, size_t n)
{
    for (size_t i = 0; i + 2 < n; ++i) {
        if (d[i] != 0x1B || d[i + 1] != '|')
            continue;
        size_t p = i + 2;
        if (p < n && d[p] == '!')
            ++p;
        while (p < n && d[p] >= '0' && d[p] <= '9')
            ++p;
        for (int k = 0; k < 2 && p < n && IsLower(d[p]); ++k)
            ++p;
        if (p < n && d[p] == 'E')
            return true;
    }
    return false;
}

std::string CountBarcodeBlocks(const uint8_t* d, size_t n)
{
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        if (i + 3 < n && d[i] == 0x1B && d[i + 1] == '|' && d[i + 2] == '*' && d[i + 3] == 'R') {
            size_t end = i + 4;
            while (end < n && d[end] != 'e')
                ++end;
            if (end < n)
                ++end;
            out += "\x1b|" + std::to_string(end - (i + 4)) + "R";
            i += 3;
            continue;
        }
        out += char(d[i]);
    }
    return out;
}

void Setup(CLabelCommand& b, uint8_t o)
{
    static const char* const papers[] = {"G", "C", "A", "C"};
    b.SetPrintType("D");
    b.SetPaper(832, (o & 6) == 6 ? 0 : 1200, 24, papers[(o >> 1) & 3], 0);
    b.SetMargins(0, 0);
    b.SetPrintSpeed(4);
    b.SetDensity(10);
    b.SetOrientation("T");
    static const char* const modes[] = {"C", "C", "R", "T"};
    b.SetOperationMode(modes[(o >> 3) & 3], ((o >> 3) & 3) == 1 ? 3 : 1);
    LabelFontSpec f0, f1, f2;
    f0.FontName = "0"; f0.FontW = 10; f0.FontH = 20; f0.FontGap = 1; f0.ASCIIW = 6;
    f1.FontName = "1"; f1.FontW = 12; f1.FontH = 24; f1.FontGap = 2;
    f2.FontType = LABELFONT_VECTOR; f2.FontName = "U0"; f2.FontW = 16; f2.FontH = 16; f2.ASCIIW = 8;
    b.FontTable().Build({f0, f1, f2}, {}, (o & 0x80) ? 2 : 0);
    b.AllocCustomCommands(1);
    b.SetCustomCommand(0, kCustom);
    // A stored 8 x 1 raster in slot 1 that prints, one in slot 2 that does not.
    COPOSData raster;
    const BYTE img[] = {1, 0, 1, 0, 0x81};
    raster.Append(img, sizeof img);
    b.StoreBitmap(1, raster, true, 8, 1, -2);
    b.StoreBitmap(2, raster, false, 8, 1, -1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const uint8_t o = data[0], s = data[1];
    const std::string input = CountBarcodeBlocks(data + 2, size - 2);
    const uint8_t* text = reinterpret_cast<const uint8_t*>(input.data());
    const size_t n = input.size();

    CLabelCommand b;
    Setup(b, o);
    COPOSData top, bottom;
    top.Append(reinterpret_cast<const BYTE*>("BD0,0,10,10,O\r\n"), 15);
    bottom.Append(reinterpret_cast<const BYTE*>("CD0,0,5,0\r\n"), 11);
    EscapeParseContext ctx;
    static const int spacings[] = {0, 24, 1216, INT_MAX};
    ctx.lineSpacingDots = spacings[s & 3];
    ctx.hriFont = (s >> 2) & 3;  // 3 is no font
    ctx.capRecPapercut = (o & 1) != 0;
    if (o & 0x40) {
        ctx.topLogo = &top;
        ctx.bottomLogo = &bottom;
    }
    if (o & 0x20) {
        // Character set 997: bytes from 0x80 up become two UTF-8 bytes, as Latin-1 would.
        ctx.characterSet = 997;
        ctx.toUtf8 = [](const std::string& in) {
            std::string out;
            for (unsigned char c : in) {
                if (c < 0x80) {
                    out += char(c);
                } else {
                    out += char(0xC0 | (c >> 6));
                    out += char(0x80 | (c & 0x3F));
                }
            }
            return out;
        };
    }
    ctx.unitsToDots = [](int units) { return units; };
    ctx.log = [](const char* line) { Check(line && *line); };

    for (std::string call : Calls(input)) {
        const bool refused = (s & 0x10) != 0;
        if (refused)
            call = "\x1b|zQ" + call;  // no sequence ends in Q
        // As the print methods give it: the application's bytes, then a line end.
        EscapeParseContext own = ctx;
        own.ownLength = call.size();
        if (call.empty() || call.back() != '\n')
            call += '\n';
        const auto before = State(b);
        const int rc = b.Unit([&] { return BuildPrintData(b, call.data(), call.size(), own); });
        Check(rc == 0 || rc == 106 || rc == 111);
        Check(rc == 0 || State(b) == before);
        Check(!refused || rc != 0);
    }
    COPOSData label;
    Check(b.BuildLabel(label) == 0);
    Check(b.Body().GetLength() == 0 && b.Y() == 0);

    qlks::StreamParser sp;
    sp.feed(label.GetData(), label.GetLength());
    sp.finish();
    if (MayPassRawBytes(text, n))
        return 0;
    // One label, complete, and nothing else in the stream.
    Check(sp.labels().size() == 1 && sp.events().size() == 1);
    const qlks::Label& l = sp.labels().front();
    Check(l.complete && !l.testLabel);
    Check((l.flags & (qlks::kMissing | qlks::kInterleaved)) == 0);
    for (const qlks::Command& c : l.commands) {
        // Positions come from digits and sizes only: none is negative.
        Check(!c.has("x") || c.num("x") >= 0);
        Check(!c.has("y") || c.num("y") >= 0);
        // The printer's parser lets a quoted field run to the line's last quote; the printer
        // itself ends it at the first, so barcode data and custom arguments hold none.
        if (c.has("data"))
            Check(c.str("data").find('\'') == std::string::npos);
        if (c.has("name"))
            Check(c.str("name").find('\'') == std::string::npos);
        // Values beyond the page or a table's range are the data's own (a position, a size or
        // barcode text the application gave); the forms must still hold.
        if (!(c.flags & ~unsigned(qlks::kValue)))
            continue;
        // Only the custom command, with or without its argument, is the printer's business.
        std::string raw(c.raw.begin(), c.raw.end());
        Check(raw.compare(0, sizeof kCustom - 1, kCustom) == 0);
    }
    Check(l.commands.back().op == qlks::Op::Print && l.count(qlks::Op::Print) == 1);
    return 0;
}

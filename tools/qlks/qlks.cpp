#include "qlks.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace qlks {
namespace {

// Command forms as the driver writes them. In a pattern, {name} is a signed decimal number,
// {name$} a word up to the next comma, {name'} the quoted text with "\\" and "\'" escapes,
// {name"} a quoted text taken as it is; everything else must match byte for byte. A quoted field
// runs to the last quote of the line; a quote inside an unescaped one is flagged (the builder
// refuses such data, which would end the field early at the printer).
struct Form {
    Op op;
    const char* mnemonic;
    const char* pattern;
};

const Form kForms[] = {
    {Op::PaperLength, "SL", "SL{length},{gap},{type$}"},
    {Op::PaperLength, "SL", "SL{length},{gap},{type$},{offset}"},
    {Op::PaperWidth, "SW", "SW{width}"},
    {Op::PrintType, "ST", "ST{type$}"},
    {Op::Margins, "SM", "SM{left},{top}"},
    {Op::BackFeed, "SF", "SF{feed},{step}"},
    {Op::PrintSpeed, "SS", "SS{speed}"},
    {Op::Density, "SD", "SD{density}"},
    {Op::Orientation, "SO", "SO{orientation$}"},
    {Op::OffsetPosition, "SA", "SA{position}"},
    {Op::TearOffPosition, "TA", "TA{position}"},
    {Op::CharSet, "CS", "CS{charset},{codepage}"},
    {Op::CutSetup, "CUTn", "CUTn"},
    {Op::Text, "T", "T{x},{y},{font$},{wmul},{hmul},{gap},{rotation},{reverse$},{bold$},{justify$},'{text'}'"},
    {Op::VectorText, "V",
     "V{x},{y},{font$},{width},{height},{gap},{bold$},{reverse$},{italic$},{rotation},{justify$},{rtl},'{text'}'"},
    {Op::Barcode, "B1", "B1{x},{y},{type},{narrow},{wide},{height},{rotation},{hri},'{data\"}'"},
    {Op::Pdf417, "B2", "B2{x},{y},P,30,{p},0,0,{hri},1,{columns},10,{rotation},'{data\"}'"},
    {Op::MaxiCode, "B2", "B2{x},{y},M,0,'{data\"}'"},
    {Op::QrCode, "B2", "B2{x},{y},Q,3,L,{size},{rotation},'{data\"}'"},
    {Op::ImageRecall, "IR", "IR{x},{y},'{name\"}'"},
    {Op::Box, "BD", "BD{x},{y},{endx},{endy},{type$}"},
    {Op::Box, "BD", "BD{x},{y},{endx},{endy},{type$},{width}"},
    {Op::Circle, "CD", "CD{x},{y},{radius},{value}"},
    {Op::Cut, "CUTy", "CUTy"},
    {Op::Cut, "CUTy", "CUTy,{period}"},
    {Op::Rewind, "RWDy", "RWDy"},
    {Op::Print, "P1", "P1"},
};

// CheckHealth's external test label is written by hand, not by the builder: its own setup lines in
// its own order (no ST, SM, SD, CS), a fixed frame and fixed vector texts whose quoted parts go
// in unescaped, its own QR form, then one of CUTy, RWDy or CUTn and P1. Lines of one slot are
// alternatives; `fixed` is the whole line, or (ending in a quote) the part before the text.
struct TestLine {
    Op op;
    const char* mnemonic;
    const char* pattern;
    const char* fixed;
    int slot;
    bool optional;
};

const char kTestText[] =
    "V{x},{y},{font$},{width},{height},{gap},{bold$},{reverse$},{italic$},{rotation},{justify$},{rtl},'{text\"}'";

const TestLine kTestLabel[] = {
    {Op::PaperLength, "SL", "SL{length},{gap},{type$}", "", 0, true},
    {Op::PaperWidth, "SW", "SW{width}", "", 1, false},
    {Op::Orientation, "SO", "SO{orientation$}", "", 2, false},
    {Op::PrintSpeed, "SS", "SS{speed}", "", 3, false},
    {Op::OffsetPosition, "SA", "SA{position}", "", 4, false},
    {Op::TearOffPosition, "TA", "TA{position}", "", 5, false},
    {Op::Box, "BD", "BD{x},{y},{endx},{endy},{type$},{width}", "BD100,100,400,620,B,4", 6, false},
    {Op::Box, "BD", "BD{x},{y},{endx},{endy},{type$}", "BD200,100,202,620,0", 7, false},
    {Op::Box, "BD", "BD{x},{y},{endx},{endy},{type$}", "BD300,260,302,620,0", 8, false},
    {Op::Box, "BD", "BD{x},{y},{endx},{endy},{type$}", "BD200,260,400,262,0", 9, false},
    {Op::VectorText, "V", kTestText, "V130,580,U,40,45,1,N,N,N,3,L,0,'", 10, false},
    {Op::VectorText, "V", kTestText, "V230,570,U,40,40,1,N,N,I,3,L,0,'", 11, false},
    {Op::VectorText, "V", kTestText, "V330,540,U,40,40,1,B,N,N,3,L,0,'", 12, false},
    {Op::QrCode, "B2", "B2{x},{y},Q,{model},{level$},{size},{rotation},'{data\"}'", "B2240,240,Q,1,H,4,3,'", 13, false},
    {Op::Cut, "CUTy", "CUTy", "CUTy", 14, false},
    {Op::Rewind, "RWDy", "RWDy", "RWDy", 14, false},
    {Op::CutSetup, "CUTn", "CUTn", "CUTn", 14, false},
    {Op::Print, "P1", "P1", "P1", 15, false},
};
constexpr int kTestPrintSlot = 15;

// The frame that marks a label as the test label (together with the absence of an ST line).
const char* const kTestFrame[] = {"BD100,100,400,620,B,4", "BD200,100,202,620,0", "BD300,260,302,620,0",
                                  "BD200,260,400,262,0"};

// The letters each letter field of the text commands may hold, in each command's own field order.
struct Letters {
    Op op;
    const char* field;
    const char* allowed;
};
const Letters kLetters[] = {
    {Op::Text, "reverse", "RN"},      {Op::Text, "bold", "BN"},          {Op::Text, "justify", "FLR"},
    {Op::VectorText, "bold", "BN"},   {Op::VectorText, "reverse", "RN"}, {Op::VectorText, "italic", "IN"},
    {Op::VectorText, "justify", "LRC"},
};

// The box types the builder draws; an empty type is its form with a field missing.
bool builderBoxType(const std::string& t) { return t.empty() || (t.size() == 1 && std::string_view("OEDSB").find(t[0]) != std::string_view::npos); }

bool inRange(long v, long lo, long hi) { return v != kNoValue && v >= lo && v <= hi; }

// The narrow modules a one-dimensional type may have, by type number.
struct Modules {
    int limit; // the largest narrow module
    int wideAdd, wideMul; // wide = narrow x wideMul + wideAdd
};
const Modules kModules[10] = {{6, 1, 2}, {6, 1, 2}, {6, 1, 2}, {6, 1, 2}, {6, 1, 2},
                              {6, 0, 1}, {11, 0, 1}, {7, 2, 1}, {10, 2, 1}, {6, 1, 2}};
long moduleWide(int type, long narrow) { return narrow * kModules[type].wideMul + kModules[type].wideAdd; }

// A raster header is binary only with a size the builder can write: at least one row of at least one
// byte, and no wider than any label (1024 bytes are 8192 dots). Text after "LD" never fits: the
// high byte of its row-bytes field would be a printable character or a line end.
constexpr unsigned kMaxRasterRowBytes = 1024;

bool parseNumber(std::string_view s, std::size_t& i, long& out)
{
    std::size_t j = i;
    bool neg = false;
    if (j < s.size() && s[j] == '-') { neg = true; ++j; }
    std::size_t digits = j;
    long v = 0;
    while (j < s.size() && s[j] >= '0' && s[j] <= '9') {
        int d = s[j] - '0';
        if (v > (std::numeric_limits<long>::max() - d) / 10) return false;
        v = v * 10 + d;
        ++j;
    }
    if (j == digits) return false;
    out = neg ? -v : v;
    i = j;
    return true;
}

bool unescape(std::string_view in, std::string& out, std::string& problem)
{
    out.clear();
    for (std::size_t i = 0; i < in.size(); ++i) {
        char c = in[i];
        if (c == '\\') {
            if (i + 1 < in.size() && (in[i + 1] == '\\' || in[i + 1] == '\'')) {
                out += in[++i];
                continue;
            }
            problem = "lone backslash in text";
            return false;
        }
        if (c == '\'') {
            problem = "unescaped quote in text";
            return false;
        }
        out += c;
    }
    return true;
}

// Matches a line against one pattern; fills fields, or a problem when a quoted text is bad.
bool match(std::string_view pat, std::string_view line, std::vector<Field>& fields, std::string& problem)
{
    fields.clear();
    std::size_t p = 0, i = 0;
    while (p < pat.size()) {
        if (pat[p] != '{') {
            if (i >= line.size() || line[i] != pat[p]) return false;
            ++p, ++i;
            continue;
        }
        std::size_t close = pat.find('}', p);
        std::string_view spec = pat.substr(p + 1, close - p - 1);
        p = close + 1;
        char kind = spec.back();
        Field f;
        if (kind == '$') {
            f.name = std::string(spec.substr(0, spec.size() - 1));
            std::size_t end = line.find_first_of(",'", i);
            if (end == std::string_view::npos) end = line.size();
            f.text = std::string(line.substr(i, end - i));
            i = end;
        } else if (kind == '\'' || kind == '"') {
            f.name = std::string(spec.substr(0, spec.size() - 1));
            std::size_t last = line.rfind('\'');
            if (last == std::string_view::npos || last < i) return false;
            std::string_view body = line.substr(i, last - i);
            if (kind == '\'') {
                if (!unescape(body, f.text, problem)) return false;
            } else {
                f.text = std::string(body);
            }
            i = last;
        } else {
            f.name = std::string(spec);
            f.isNumber = true;
            if (!parseNumber(line, i, f.number)) return false;
        }
        fields.push_back(std::move(f));
    }
    return i == line.size();
}

// Where a command may stand: setup lines in their fixed order, then the body, then RWDy and P1.
int rank(Op op)
{
    switch (op) {
    case Op::PaperLength: return 1;
    case Op::PaperWidth: return 2;
    case Op::PrintType: return 3;
    case Op::Margins: return 4;
    case Op::BackFeed: return 5;
    case Op::PrintSpeed: return 6;
    case Op::Density: return 7;
    case Op::Orientation: return 8;
    case Op::OffsetPosition: return 9;
    case Op::TearOffPosition: return 10;
    case Op::CharSet: return 11;
    case Op::CutSetup: return 12;
    case Op::Rewind: return 30;
    case Op::Print: return 40;
    default: return 20; // body, and unknown lines (the header commands stand there too)
    }
}

const Op kRequiredSetup[] = {Op::PaperWidth, Op::PrintType, Op::Margins, Op::PrintSpeed, Op::Density,
                             Op::Orientation, Op::OffsetPosition, Op::TearOffPosition, Op::CharSet,
                             Op::CutSetup};

const char* mnemonicOf(Op op)
{
    for (const Form& f : kForms)
        if (f.op == op) return f.mnemonic;
    return op == Op::Raster ? "LD" : op == Op::RasterRle ? "LCR" : op == Op::ImageStore ? "IS" : "?";
}

bool startsWith(std::string_view s, std::string_view prefix)
{
    return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

unsigned le16(const std::uint8_t* p) { return p[0] | (p[1] << 8); }

const std::uint8_t kStatusRequest[] = {'^', 'c', 'u', '\r', '\n'};

const char kStreamEnds[] = "stream ends inside a command";

std::string lineText(const Command& c)
{
    std::string_view r(reinterpret_cast<const char*>(c.raw.data()), c.raw.size());
    if (r.size() >= 2 && r.substr(r.size() - 2) == "\r\n") r.remove_suffix(2);
    return std::string(r);
}

const Field* fieldOf(const std::vector<Field>& fields, std::string_view name)
{
    for (const Field& f : fields)
        if (f.name == name) return &f;
    return nullptr;
}

// Quoted fields may be empty; a word (letter) field never is.
std::string emptyWordProblem(const char* mnemonic, const std::vector<Field>& fields)
{
    for (const Field& f : fields)
        if (!f.isNumber && f.text.empty() && f.name != "text" && f.name != "data" && f.name != "name")
            return std::string(mnemonic) + " with an empty " + f.name + " field";
    return {};
}

// Shapes that depend on a value, as the builder writes them; empty when the command fits.
std::string shapeProblem(Op op, const char* mnemonic, const std::vector<Field>& fields)
{
    std::string problem = emptyWordProblem(mnemonic, fields);
    if (!problem.empty()) return problem;
    auto text = [&](const char* name) { const Field* f = fieldOf(fields, name); return f ? f->text : std::string(); };
    auto num = [&](const char* name) { const Field* f = fieldOf(fields, name); return f ? f->number : kNoValue; };
    switch (op) {
    case Op::PaperLength: {
        // Paper type A has no length line; C gives the length and gap only, every other type the offset too.
        const std::string type = text("type");
        const bool offset = fieldOf(fields, "offset") != nullptr;
        if (type == "A") return "SL line for paper type A, which has none";
        if (type == "C" && offset) return "SL of paper type C with an offset value";
        if (type != "C" && !offset) return "SL of paper type " + type + " without its offset value";
        break;
    }
    case Op::BackFeed:
        if (num("feed") == 0) return "SF with a back feed of 0, which is not sent";
        break;
    case Op::Cut: {
        const long period = num("period");
        if (period != kNoValue && period <= 1)
            return "CUTy," + std::to_string(period) + ": only a cut period above 1 is sent, 0 and 1 give CUTy";
        break;
    }
    case Op::Box: {
        // O, E and D are drawn without a line width, S and B with one.
        const std::string type = text("type");
        const bool width = fieldOf(fields, "width") != nullptr;
        if ((type == "O" || type == "E" || type == "D") && width) return "BD type " + type + " with a line width";
        if ((type == "S" || type == "B") && !width) return "BD type " + type + " without its line width";
        break;
    }
    case Op::Text:
    case Op::VectorText:
        if (op == Op::Text && !inRange(num("wmul"), 1, 9)) return "T width multiplier " + std::to_string(num("wmul")) + " outside 1..9";
        if (op == Op::Text && !inRange(num("hmul"), 1, 9)) return "T height multiplier " + std::to_string(num("hmul")) + " outside 1..9";
        for (const Letters& l : kLetters) {
            if (l.op != op) continue;
            const std::string v = text(l.field);
            if (v.size() != 1 || std::string_view(l.allowed).find(v[0]) == std::string_view::npos)
                return std::string(mnemonic) + " " + l.field + " field \"" + v + "\" is not one of " + l.allowed;
        }
        break;
    case Op::Barcode: {
        const long type = num("type");
        if (!inRange(type, 0, 9)) return "B1 barcode type " + std::to_string(type) + " outside 0..9";
        const long narrow = num("narrow"), wide = num("wide");
        // The builder's module pair: the table's narrow module and its wide one, or 2 and 2 when
        // no module reaches the requested width.
        if (!(narrow == 2 && wide == 2) &&
            !(inRange(narrow, 1, kModules[type].limit) && wide == moduleWide(int(type), narrow)))
            return "B1 modules " + std::to_string(narrow) + "," + std::to_string(wide) + " do not fit barcode type " +
                   std::to_string(type);
        if (num("hri") < -1) return "B1 human-readable field " + std::to_string(num("hri")) + " below -1";
        break;
    }
    case Op::QrCode:
        if (!inRange(num("size"), 3, 8)) return "QR code size " + std::to_string(num("size")) + " outside 3..8";
        break;
    case Op::Pdf417:
        if (num("p") != 5 || !inRange(num("hri"), 0, 1) || !inRange(num("columns"), 3, 8))
            return "PDF417 values outside their forms";
        break;
    default:
        break;
    }
    // Every position the builder writes is a dot on the label, and every rotation one of four.
    for (const char* name : {"x", "y", "endx", "endy"})
        if (num(name) != kNoValue && num(name) < 0) return std::string(mnemonic) + " " + name + " " + std::to_string(num(name)) + " is negative";
    if (num("rotation") != kNoValue && !inRange(num("rotation"), 0, 3))
        return std::string(mnemonic) + " rotation " + std::to_string(num("rotation")) + " outside 0..3";
    // Barcode data and stored names go into their quotes unescaped: a quote inside would end them.
    for (const char* name : {"data", "name"}) {
        const Field* f = fieldOf(fields, name);
        if (f && f->text.find('\'') != std::string::npos) return std::string(mnemonic) + " " + name + " holds a quote";
    }
    if ((op == Op::Barcode || op == Op::Pdf417 || op == Op::MaxiCode || op == Op::QrCode) && text("data").empty())
        return std::string(mnemonic) + " without data";
    return {};
}

bool fitsTestLine(const TestLine& t, std::string_view line, std::vector<Field>& fields)
{
    std::string problem;
    if (!match(t.pattern, line, fields, problem)) return false;
    std::string_view fixed(t.fixed);
    if (fixed.empty()) return true;
    return fixed.back() == '\'' ? startsWith(line, fixed) : line == fixed;
}

std::string slotName(int slot)
{
    std::string name;
    for (const TestLine& t : kTestLabel) {
        if (t.slot != slot) continue;
        if (!name.empty()) name += " or ";
        name += *t.fixed ? t.fixed : t.mnemonic;
    }
    return name;
}

bool isBinary(Op op) { return op == Op::Raster || op == Op::RasterRle || op == Op::ImageStore; }

bool looksLikeTestLabel(const Label& l)
{
    for (const Command& c : l.commands)
        if (c.mnemonic == "ST") return false;
    const std::size_t n = std::size(kTestFrame);
    for (std::size_t i = 0; i + n <= l.commands.size(); ++i) {
        std::size_t k = 0;
        while (k < n && lineText(l.commands[i + k]) == kTestFrame[k]) ++k;
        if (k == n) return true;
    }
    return false;
}

void addProblem(Label& l, std::size_t index, const std::string& problem)
{
    l.problems.push_back("line " + std::to_string(index + 1) + ": " + problem);
}

// What a one-dimensional type takes as data, by type number; empty when the data fits.
std::string symbologyProblem(long type, const std::string& d)
{
    auto all = [&](auto ok) { return std::all_of(d.begin(), d.end(), ok); };
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    auto ascii = [](char c) { return static_cast<unsigned char>(c) < 0x80; };
    const std::size_t n = d.size();
    bool ok = true;
    switch (type) {
    case 0: ok = n < 256 && all([&](char c) { return digit(c) || (c >= 'A' && c <= 'Z'); }); break;
    case 1: case 9: ok = n >= 2 && n <= 255 && all(ascii); break;
    case 2: ok = n < 256 && n % 2 == 0 && all(digit); break;
    case 3:
        ok = n < 256 && n > 0 && d[0] >= 'A' && d[0] <= 'D' &&
             all([&](char c) { return digit(c) || (c >= 'A' && c <= 'D') || std::string_view("$+-./:").find(c) != std::string_view::npos; });
        break;
    case 4: ok = n < 256 && all(ascii); break;
    case 5: ok = (n == 11 || n == 12) && all(digit); break;
    case 6: ok = (n == 11 || n == 12) && all(digit) && d[0] == '0'; break;
    case 7: ok = (n == 12 || n == 13) && all(digit); break;
    case 8: ok = (n == 7 || n == 8) && all(digit); break;
    default: break;
    }
    return ok ? std::string() : "B1 data \"" + d + "\" is no barcode of type " + std::to_string(type);
}

// The fonts the printer has: bitmap fonts 0..9 and a..i, downloaded fonts by an upper-case
// letter; vector fonts U, D, E and Z 0..6 (one letter per emulation).
bool bitmapFont(const std::string& f)
{
    return f.size() == 1 && ((f[0] >= '0' && f[0] <= '9') || (f[0] >= 'a' && f[0] <= 'i') || (f[0] >= 'A' && f[0] <= 'Z'));
}
bool vectorFont(const std::string& f)
{
    return f.size() == 2 && std::string_view("UDEZ").find(f[0]) != std::string_view::npos && f[1] >= '0' && f[1] <= '6';
}

constexpr long kMaxDots = 0x7FFF; // the printer's 16-bit signed sizes

// A value of a builder's line that the label cannot print, against the label's own page
// (width; length when the label gives one); empty when every value fits.
std::string valueProblem(const Command& c, long width, long length)
{
    const std::string m = c.mnemonic;
    auto range = [&](const char* name, long lo, long hi) -> std::string {
        const long v = c.num(name);
        if (v == kNoValue || (v >= lo && v <= hi)) return {};
        return m + " " + name + " " + std::to_string(v) + " outside " + std::to_string(lo) + ".." + std::to_string(hi);
    };
    std::string p;
    switch (c.op) {
    case Op::PaperWidth: return range("width", 1, kMaxDots);
    case Op::PaperLength: return range("length", 1, kMaxDots);
    case Op::Margins:
        if (!(p = range("left", 0, kMaxDots)).empty()) return p;
        return range("top", 0, kMaxDots);
    case Op::Text:
        if (!bitmapFont(c.str("font"))) return "T font \"" + c.str("font") + "\" the printer has not";
        break;
    case Op::VectorText:
        if (!vectorFont(c.str("font"))) return "V font \"" + c.str("font") + "\" the printer has not";
        if (!(p = range("width", 1, kMaxDots)).empty() || !(p = range("height", 1, kMaxDots)).empty() ||
            !(p = range("gap", 0, kMaxDots)).empty())
            return p;
        break;
    case Op::Barcode:
        if (!(p = range("height", 1, 255)).empty()) return p;
        // The field is the text position + 2 x font + 12: the numbered fonts 0..9 only.
        if (!(p = range("hri", -1, 18)).empty()) return p + " (names no font)";
        if (!(p = symbologyProblem(c.num("type"), c.str("data"))).empty()) return p;
        break;
    case Op::Box:
        if (c.num("endx") < c.num("x") || c.num("endy") < c.num("y"))
            return "BD ends at " + c.str("endx") + "," + c.str("endy") + ", before its start " + c.str("x") + "," + c.str("y");
        if (!(p = range("width", 1, kMaxDots)).empty()) return p;
        break;
    case Op::Circle:
        if (!(p = range("radius", 1, kMaxDots)).empty() || !(p = range("value", 0, kMaxDots)).empty()) return p;
        break;
    default:
        break;
    }
    // Every position, and a box's end, lies on the label's own page.
    for (const char* name : {"x", "endx"})
        if (width != kNoValue && c.num(name) != kNoValue && c.num(name) > width)
            return m + " " + name + " " + std::to_string(c.num(name)) + " beyond the page width " + std::to_string(width);
    for (const char* name : {"y", "endy"})
        if (length != kNoValue && c.num(name) != kNoValue && c.num(name) > length)
            return m + " " + name + " " + std::to_string(c.num(name)) + " beyond the page length " + std::to_string(length);
    return {};
}

// The builder's label: every line as parseLine read it, setup lines in their order, each once,
// nothing but P1 after RWDy, and every required setup line present.
void judgeBuilt(Label& l)
{
    int lastRank = 0;
    std::vector<std::string> stored; // names of the images stored so far
    for (std::size_t i = 0; i < l.commands.size(); ++i) {
        Command& c = l.commands[i];
        if (c.op == Op::ImageStore) stored.push_back(c.str("name"));
        if (c.op == Op::ImageRecall && !c.flags && std::find(stored.begin(), stored.end(), c.str("name")) == stored.end()) {
            c.flags = kMalformed;
            c.problem = "IR of \"" + c.str("name") + "\" without an IS of that name before it";
        }
        const int r = rank(c.op);
        const bool setup = r < 20;
        if (!c.flags && ((setup && r <= lastRank) || (!setup && r < 40 && lastRank >= 30))) {
            c.flags |= kOutOfOrder;
            c.problem = c.mnemonic + " out of label order";
        }
        if (!(c.flags & kOutOfOrder)) lastRank = std::max(lastRank, r);
        if (c.flags) addProblem(l, i, c.problem);
        l.flags |= c.flags;
    }
    // Values against the label's own page: its width, and its length where it gives one.
    const Command* sw = l.find(Op::PaperWidth);
    const Command* sl = l.find(Op::PaperLength);
    const long width = sw && sw->num("width") > 0 ? sw->num("width") : kNoValue;
    const long length = sl && sl->num("length") > 0 ? sl->num("length") : kNoValue;
    for (std::size_t i = 0; i < l.commands.size(); ++i) {
        Command& c = l.commands[i];
        if (c.flags) continue;
        c.problem = valueProblem(c, width, length);
        if (c.problem.empty()) continue;
        c.flags = kValue;
        addProblem(l, i, c.problem);
        l.flags |= c.flags;
    }
    for (Op op : kRequiredSetup) {
        if (!l.find(op)) {
            l.flags |= kMissing;
            l.problems.push_back(std::string("missing ") + mnemonicOf(op));
        }
    }
}

// The test label: each line read again by the test label's own forms, in their order.
void judgeTestLabel(Label& l)
{
    l.testLabel = true;
    bool filled[kTestPrintSlot + 1] = {};
    int next = 0; // the first slot a line in order may fill
    for (std::size_t i = 0; i < l.commands.size(); ++i) {
        Command& c = l.commands[i];
        if (c.problem != kStreamEnds) {
            const std::string line = lineText(c);
            const TestLine* hit = nullptr;
            const TestLine* earlier = nullptr;
            const TestLine* known = nullptr; // a line of the same command still to come
            std::vector<Field> fields, hitFields;
            for (const TestLine& t : kTestLabel) {
                if (!isBinary(c.op) && fitsTestLine(t, line, fields)) {
                    if (t.slot >= next && !hit) {
                        hit = &t;
                        hitFields = fields;
                    } else if (t.slot < next && !earlier) {
                        earlier = &t;
                    }
                }
                if (!isBinary(c.op) && startsWith(line, t.mnemonic) && (!known || (known->slot < next && t.slot >= next)))
                    known = &t;
            }
            if (hit) {
                filled[hit->slot] = true;
                next = hit->slot + 1;
                c.op = hit->op;
                c.mnemonic = hit->mnemonic;
                c.fields = std::move(hitFields);
                c.flags = 0;
                c.problem = emptyWordProblem(hit->mnemonic, c.fields);
                if (c.problem.empty() && c.op == Op::PaperLength && c.str("type") == "A")
                    c.problem = "SL line for paper type A, which has none";
                if (!c.problem.empty()) {
                    c.flags = kMalformed;
                } else if ((c.op == Op::PaperLength && c.num("length") <= 0) || (c.op == Op::PaperWidth && c.num("width") <= 0)) {
                    c.flags = kValue; // a page of no size prints nothing
                    c.problem = c.mnemonic + " " + lineText(c).substr(2) + ": a page of no size";
                }
            } else if (earlier) {
                filled[earlier->slot] = true;
                c.flags = kOutOfOrder;
                c.problem = std::string(earlier->mnemonic) + " out of the test label's order";
            } else if (known) {
                filled[known->slot] = true; // there, but wrong: flagged once
                c.flags = kMalformed;
                c.problem = std::string(known->mnemonic) + " line does not fit the test label's form";
            } else {
                c.flags = kUnknown;
                c.problem = (c.mnemonic.empty() ? std::string("line") : c.mnemonic) + " is no line of the test label";
            }
        }
        if (c.flags) addProblem(l, i, c.problem);
        l.flags |= c.flags;
    }
    for (int slot = 0; slot < kTestPrintSlot; ++slot) { // a missing P1 shows as an incomplete label
        const bool optional = std::any_of(std::begin(kTestLabel), std::end(kTestLabel),
                                          [&](const TestLine& t) { return t.slot == slot && t.optional; });
        if (!filled[slot] && !optional) {
            l.flags |= kMissing;
            l.problems.push_back("missing " + slotName(slot));
        }
    }
}

} // namespace

const char* opName(Op op)
{
    return op == Op::Unknown ? "unknown" : mnemonicOf(op);
}

long Command::num(std::string_view name) const
{
    for (const Field& f : fields)
        if (f.name == name && f.isNumber) return f.number;
    return kNoValue;
}

std::string Command::str(std::string_view name) const
{
    for (const Field& f : fields)
        if (f.name == name) return f.isNumber ? std::to_string(f.number) : f.text;
    return {};
}

bool Command::has(std::string_view name) const
{
    return std::any_of(fields.begin(), fields.end(), [&](const Field& f) { return f.name == name; });
}

const Command* Label::find(Op op, std::size_t nth) const
{
    for (const Command& c : commands)
        if (c.op == op && nth-- == 0) return &c;
    return nullptr;
}

std::size_t Label::count(Op op) const
{
    return std::count_if(commands.begin(), commands.end(), [&](const Command& c) { return c.op == op; });
}

Command parseLine(std::string_view line)
{
    Command c;
    c.raw.assign(line.begin(), line.end());
    c.raw.push_back('\r');
    c.raw.push_back('\n');
    std::string problem;
    const Form* known = nullptr; // the longest mnemonic the line starts with
    for (const Form& f : kForms) {
        std::vector<Field> fields;
        // A box type the builder does not draw is the application's own text (below).
        if (match(f.pattern, line, fields, problem) &&
            !(f.op == Op::Box && !builderBoxType(fieldOf(fields, "type")->text))) {
            c.op = f.op;
            c.mnemonic = f.mnemonic;
            c.fields = std::move(fields);
            c.problem = shapeProblem(c.op, f.mnemonic, c.fields);
            if (!c.problem.empty()) c.flags = kMalformed;
            return c;
        }
        if (startsWith(line, f.mnemonic) && (!known || std::string_view(f.mnemonic).size() > std::string_view(known->mnemonic).size()))
            known = &f;
    }
    // DirectIO sends the application's text behind "BD" and "CD" as it is; the builder never
    // writes such a line, so it is told apart by a flag of its own.
    if (startsWith(line, "BD") || startsWith(line, "CD")) {
        c.op = line[0] == 'B' ? Op::Box : Op::Circle;
        c.mnemonic = line[0] == 'B' ? "BD" : "CD";
        c.fields = {{"text", false, 0, std::string(line.substr(2))}};
        c.flags = kFreeText;
        c.problem = c.mnemonic + " line that fits no form (DirectIO's free text)";
        return c;
    }
    if (known) {
        c.mnemonic = known->mnemonic;
        c.flags = kMalformed;
        c.problem = problem.empty() ? std::string(known->mnemonic) + " line does not fit its form" : problem;
    } else {
        c.flags = kUnknown;
        c.problem = "unknown line";
    }
    return c;
}

void StreamParser::feed(const std::uint8_t* data, std::size_t n, long long time)
{
    if (pos_ > 0 && pos_ == buf_.size()) {
        buf_.clear();
        scanFrom_ -= std::min(scanFrom_, pos_);
        pos_ = 0;
    }
    buf_.insert(buf_.end(), data, data + n);
    while (pos_ < buf_.size() && step(time) == Step::Done) {
    }
    if (pos_ > 65536 && pos_ * 2 > buf_.size()) { // keep the buffer from growing with the stream
        buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(pos_));
        scanFrom_ -= std::min(scanFrom_, pos_);
        pos_ = 0;
    }
}

StreamParser::Step StreamParser::step(long long time)
{
    const std::size_t avail = buf_.size() - pos_;
    const std::uint8_t* p = buf_.data() + pos_;
    // The status request may stand wherever a line starts; it is answered wherever it stands.
    std::size_t cmp = std::min(avail, sizeof kStatusRequest);
    if (std::equal(p, p + cmp, kStatusRequest)) {
        if (cmp < sizeof kStatusRequest) return Step::NeedMore;
        pos_ += sizeof kStatusRequest;
        scanFrom_ = pos_;
        events_.push_back({Event::StatusRequest, time, 0});
        if (open_) ++statusInLabel_; // judged by what follows it
        return Step::Done;
    }
    if (!open_) {
        if (p[0] == 0x00 || p[0] == 0x40 || p[0] == 0x0A) {
            events_.push_back({p[0] == 0x00 ? Event::KeepAlive : p[0] == 0x40 ? Event::Init : Event::LineFeed, time, 0});
            ++pos_;
            scanFrom_ = pos_;
            return Step::Done;
        }
        open_ = true;
        statusInLabel_ = 0;
        cur_ = Label{};
        cur_.startTime = time;
    } else if (p[0] == 0x0A) {
        // No line of a label starts with a line feed: this is the retry's, after a label cut short.
        ++pos_;
        scanFrom_ = pos_;
        closePartial(time);
        events_.push_back({Event::LineFeed, time, 0});
        return Step::Done;
    }
    return labelItem(time);
}

StreamParser::Step StreamParser::labelItem(long long time)
{
    const std::size_t avail = buf_.size() - pos_;
    const std::uint8_t* p = buf_.data() + pos_;
    // Binary commands are told apart by their headers: "LCR" and a zero byte, "LD", or
    // "IS<size>,'<name>'", each followed by its header's values.
    const bool lcr = avail >= 4 && std::equal(p, p + 4, "LCR\0");
    const bool ld = !lcr && avail >= 2 && p[0] == 'L' && p[1] == 'D';
    if ((avail < 4 && startsWith(std::string_view("LCR\0", 4), std::string_view(reinterpret_cast<const char*>(p), avail))) ||
        (avail < 2 && (p[0] == 'L' || p[0] == 'I')))
        return Step::NeedMore;

    Command c;
    std::size_t used = 0; // bytes of the command; 0: read it as a text line
    if (ld || lcr) {
        const std::size_t head = lcr ? 4 : 2;
        // Decide as soon as the header's bytes show it: a short text line must not wait for more.
        const std::uint8_t* h = p + head;
        const bool wideOk = avail < head + 6 || (le16(h + 4) >= 1 && le16(h + 4) <= kMaxRasterRowBytes);
        if (wideOk && avail < head + 8) return Step::NeedMore;
        const unsigned rowBytes = wideOk ? le16(h + 4) : 0, rows = wideOk ? le16(h + 6) : 0;
        if (wideOk && rows >= 1) {
            c.op = lcr ? Op::RasterRle : Op::Raster;
            c.mnemonic = lcr ? "LCR" : "LD";
            // The position is two signed 16-bit values: an image may start left of or above the label.
            c.fields = {{"x", true, static_cast<long>(static_cast<std::int16_t>(le16(h))), {}},
                        {"y", true, static_cast<long>(static_cast<std::int16_t>(le16(h + 2))), {}},
                        {"rowbytes", true, static_cast<long>(rowBytes), {}},
                        {"height", true, static_cast<long>(rows), {}}};
            if (c.fields[0].number < 0 || c.fields[1].number < 0) {
                c.flags = kMalformed;
                c.problem = std::string(c.mnemonic) + " at a negative position (a 16-bit field above 0x7FFF)";
            }
            const std::size_t want = static_cast<std::size_t>(rowBytes) * rows;
            std::size_t i = head + 8;
            if (!lcr) {
                if (avail < i + want) return Step::NeedMore;
                c.pixels.assign(p + i, p + i + want);
                i += want;
            } else {
                // Runs of 0x00 and 0xFF are written as the byte and a count; the rest stand for themselves.
                while (c.pixels.size() < want) {
                    if (i >= avail) return Step::NeedMore;
                    std::uint8_t b = p[i];
                    if (b == 0x00 || b == 0xFF) {
                        if (i + 1 >= avail) return Step::NeedMore;
                        std::uint8_t run = p[i + 1];
                        i += 2;
                        if (run == 0 || c.pixels.size() + run > want) {
                            c.flags = kMalformed;
                            c.problem = run == 0 ? "LCR run of length 0" : "LCR run past the image end";
                            break;
                        }
                        c.pixels.insert(c.pixels.end(), run, b);
                    } else {
                        c.pixels.push_back(b);
                        ++i;
                    }
                }
            }
            c.payload.assign(p + head + 4, p + i);
            if (avail < i + 2) return Step::NeedMore;
            if (p[i] == '\r' && p[i + 1] == '\n') {
                i += 2;
            } else if (!c.flags) {
                c.flags = kMalformed;
                c.problem = std::string(c.mnemonic) + " image without line end";
            }
            used = i;
        }
    } else if (avail >= 2 && p[0] == 'I' && p[1] == 'S') {
        // "IS", the size in digits, ",'", a name on one line and "'"; then exactly size bytes and a line end.
        std::size_t i = 2;
        unsigned long long size = 0;
        bool ok = true;
        while (ok && i < avail && p[i] >= '0' && p[i] <= '9') {
            size = size * 10 + static_cast<unsigned>(p[i] - '0');
            ok = size <= 0x7FFFFFFF;
            ++i;
        }
        ok = ok && i > 2;
        if (ok && i == avail) return Step::NeedMore;
        ok = ok && p[i] == ',';
        if (ok && i + 1 >= avail) return Step::NeedMore;
        ok = ok && p[i + 1] == '\'';
        std::size_t nameEnd = i + 2;
        while (ok && nameEnd < avail && p[nameEnd] != '\'') {
            ok = p[nameEnd] != '\r' && p[nameEnd] != '\n';
            ++nameEnd;
        }
        if (ok && nameEnd >= avail) return Step::NeedMore;
        ok = ok && nameEnd > i + 2;
        if (ok) {
            const std::size_t start = nameEnd + 1;
            if (avail < start + size + 2) return Step::NeedMore;
            c.op = Op::ImageStore;
            c.mnemonic = "IS";
            c.fields = {{"size", true, static_cast<long>(size), {}},
                        {"name", false, 0, std::string(reinterpret_cast<const char*>(p) + i + 2, nameEnd - i - 2)}};
            c.payload.assign(p + start, p + start + size);
            used = start + size;
            if (p[used] == '\r' && p[used + 1] == '\n') {
                used += 2;
            } else {
                c.flags = kMalformed;
                c.problem = "IS image without line end";
            }
        }
    }
    if (used == 0) { // a text line
        std::size_t from = std::max(scanFrom_, pos_);
        static const char kLineEnd[] = "\r\n";
        auto it = std::search(buf_.begin() + static_cast<std::ptrdiff_t>(from), buf_.end(), kLineEnd, kLineEnd + 2);
        if (it == buf_.end()) {
            scanFrom_ = buf_.size() - 1; // the '\r' may be the last byte so far
            return Step::NeedMore;
        }
        std::size_t end = static_cast<std::size_t>(it - buf_.begin());
        c = parseLine(std::string_view(reinterpret_cast<const char*>(p), end - pos_));
        used = end + 2 - pos_;
    }
    c.raw.assign(p, p + used);
    pos_ += used;
    scanFrom_ = pos_;
    const bool last = c.op == Op::Print;
    addCommand(std::move(c));
    if (last) closeLabel(time);
    return Step::Done;
}

void StreamParser::addCommand(Command c)
{
    if (statusInLabel_ > 0) {
        // The label went on after the status request: it stood between two lines of one buffer.
        // Its bytes stay in the label's bytes, so that the label read again is judged the same.
        cur_.flags |= kInterleaved;
        cur_.problems.push_back("status request before line " + std::to_string(cur_.commands.size() + 1));
        for (; statusInLabel_ > 0; --statusInLabel_)
            cur_.raw.insert(cur_.raw.end(), std::begin(kStatusRequest), std::end(kStatusRequest));
    }
    cur_.raw.insert(cur_.raw.end(), c.raw.begin(), c.raw.end());
    cur_.commands.push_back(std::move(c));
}

void StreamParser::closeLabel(long long time)
{
    cur_.complete = cur_.find(Op::Print) != nullptr;
    if (looksLikeTestLabel(cur_))
        judgeTestLabel(cur_);
    else
        judgeBuilt(cur_);
    cur_.endTime = time;
    labels_.push_back(std::move(cur_));
    cur_ = Label{};
    open_ = false;
    statusInLabel_ = 0;
    events_.push_back({Event::LabelDone, time, labels_.size() - 1});
}

void StreamParser::closePartial(long long time)
{
    closeLabel(time);
    labels_.back().problems.push_back("label without P1");
}

void StreamParser::finish()
{
    if (!open_ && pos_ == buf_.size()) return;
    if (!open_) {
        open_ = true;
        cur_ = Label{};
    }
    if (pos_ < buf_.size()) {
        Command c;
        c.raw.assign(buf_.begin() + static_cast<std::ptrdiff_t>(pos_), buf_.end());
        c.flags = kMalformed;
        c.problem = kStreamEnds;
        addCommand(std::move(c));
        pos_ = buf_.size();
    }
    closePartial(cur_.startTime);
}

std::size_t StreamParser::count(Event::Kind kind) const
{
    return std::count_if(events_.begin(), events_.end(), [&](const Event& e) { return e.kind == kind; });
}

Label parseLabel(const Bytes& raw)
{
    StreamParser sp;
    sp.feed(raw);
    sp.finish();
    if (sp.labels().empty()) return Label{};
    return sp.labels().front();
}

bool isAsbFrame(const std::uint8_t f[4])
{
    static const Bytes sets[4] = {{0x10, 0x14, 0x18, 0x1C, 0x30, 0x34, 0x38, 0x3C, 0x54, 0x58, 0x5C},
                                  {0x00, 0x01, 0x02, 0x04, 0x08, 0x20, 0x40, 0x60},
                                  {0x00, 0x03, 0x0C, 0x0F, 0x80},
                                  {0x00, 0x0F, 0x4F}};
    for (int k = 0; k < 4; ++k)
        if (std::find(sets[k].begin(), sets[k].end(), f[k]) == sets[k].end()) return false;
    return true;
}

bool isIasbFrame(const std::uint8_t f[4])
{
    static const Bytes sets[4] = {{0x35}, {0x40, 0x41, 0x42, 0x44, 0x48, 0x4C, 0x60}, {0x40, 0x41, 0x42}, {0x00}};
    for (int k = 0; k < 4; ++k)
        if (std::find(sets[k].begin(), sets[k].end(), f[k]) == sets[k].end()) return false;
    return true;
}

std::string describe(const Label& label)
{
    std::string out;
    for (const Command& c : label.commands) {
        if (!out.empty()) out += " | ";
        out += c.op == Op::Unknown ? "?" : c.mnemonic;
        for (const Field& f : c.fields) {
            out += ' ';
            out += f.name;
            out += '=';
            out += f.isNumber ? std::to_string(f.number) : f.text;
        }
        if (!c.payload.empty()) out += " [" + std::to_string(c.payload.size()) + " bytes]";
        if (c.flags) out += " <" + c.problem + ">";
    }
    for (const std::string& p : label.problems)
        if (p.rfind("line ", 0) != 0) out += " <" + p + ">";
    return out;
}

} // namespace qlks

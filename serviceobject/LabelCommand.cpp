#include "LabelCommand.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

const int kIllegal = 106;  // OPOS_E_ILLEGAL
const int kFailure = 111;  // OPOS_E_FAILURE

std::string Fmt(const char* fmt, ...)
{
    va_list a;
    va_start(a, fmt);
    char small[256];
    va_list b;
    va_copy(b, a);
    int n = std::vsnprintf(small, sizeof small, fmt, a);
    va_end(a);
    std::string out;
    if (n < 0) {
        va_end(b);
        return out;
    }
    if (size_t(n) < sizeof small) {
        out.assign(small, size_t(n));
    } else {
        out.resize(size_t(n) + 1);
        std::vsnprintf(&out[0], out.size(), fmt, b);
        out.resize(size_t(n));
    }
    va_end(b);
    return out;
}

// Inside the single quotes of a text command a backslash and an apostrophe are escaped.
std::string EscapeText(const char* text, size_t length)
{
    std::string out;
    out.reserve(length + 8);
    for (size_t i = 0; i < length; ++i) {
        char c = text[i];
        if (c == '\\')
            out += "\\\\";
        else if (c == '\'')
            out += "\\'";
        else
            out += c;
    }
    return out;
}

// Barcode data and custom arguments go into their quotes unescaped: a byte that would end the
// field or the line would let the data inject printer commands, so it is refused.
bool IsSafeField(const std::string& s)
{
    for (char c : s)
        if (c == '\r' || c == '\n' || c == '\0' || c == '\'')
            return false;
    return true;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool AllDigits(const std::string& s)
{
    for (char c : s)
        if (!IsDigit(c))
            return false;
    return true;
}
bool AllBelow80(const std::string& s)
{
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

int Halved3(int m) { return (3 * m + 1) / 2; }

// An image's position travels as two 16-bit fields that the printer reads as signed numbers:
// 0x8000 and above would land left of or above the label.
bool FitsImageField(int v) { return v >= 0 && v <= 0x7FFF; }

}  // namespace

CLabelCommand::CLabelCommand() = default;
CLabelCommand::~CLabelCommand() = default;

void CLabelCommand::Append(const std::string& s) { Put(reinterpret_cast<const BYTE*>(s.data()), DWORD(s.size())); }

void CLabelCommand::Put(const BYTE* bytes, DWORD n)
{
    if (!m_refused && m_body.Append(bytes, n) != COPOSData::OK)
        m_refused = true;
}

int CLabelCommand::Finish(int refused)
{
    if (!m_refused)
        return 0;
    m_refused = false;
    return refused;
}

// ---- settings

int CLabelCommand::SetMargins(int left, int top) { m_leftMargin = left; m_topMargin = top; return 0; }
int CLabelCommand::SetOffsetPosition(int v) { m_offsetPosition = v; return 0; }
int CLabelCommand::SetTearOffPosition(int v) { m_tearOffPosition = v; return 0; }
int CLabelCommand::SetBackFeed(int feed, int step) { m_backFeed = feed; m_backFeedStep = step; return 0; }
int CLabelCommand::SetPrintSpeed(int v) { m_printSpeed = v; return 0; }
int CLabelCommand::SetDensity(int v) { m_density = v; return 0; }
int CLabelCommand::SetLineSpacing(int dots) { m_lineSpacing = dots; return 0; }
int CLabelCommand::SetInternationalCharSet(int v) { m_intlCharSet = v; return 0; }
int CLabelCommand::SetCodePage(int v) { m_codePage = v; return 0; }
int CLabelCommand::SetPrintType(const CString& type) { m_printType = type; return 0; }

int CLabelCommand::SetPaper(int width, int length, int gap, const CString& type, int offset)
{
    m_paperWidth = width;
    m_paperLength = length;
    m_gapLength = gap;
    m_paperType = type;
    m_offsetLength = offset;
    return 0;
}

int CLabelCommand::SetOrientation(const CString& orientation) { m_orientation = orientation; return 0; }

int CLabelCommand::SetOperationMode(const CString& mode, int period)
{
    m_operationMode = mode;
    m_cutterPeriod = mode == "C" ? period : 0;
    return 0;
}

int CLabelCommand::SetHeaderCommands(const CString& text) { m_header = text; return 0; }

int CLabelCommand::AllocCustomCommands(int count)
{
    m_custom.assign(count > 0 ? size_t(count) : 0, CString());
    return 0;
}

int CLabelCommand::SetCustomCommand(int n, const CString& command)
{
    if (n < 0 || size_t(n) >= m_custom.size())
        return kIllegal;
    m_custom[size_t(n)] = command;
    return 0;
}

// ---- text attributes

int CLabelCommand::SetReverse(int on) { m_reverse = on != 0; return 0; }
int CLabelCommand::SetBold(int on) { m_bold = on != 0; return 0; }
int CLabelCommand::SetItalic(int on) { m_italic = on != 0; return 0; }
int CLabelCommand::SetAlignment(int alignment) { m_alignment = alignment; return 0; }
int CLabelCommand::SetRightToLeft(int v) { m_rightToLeft = v; return 0; }
int CLabelCommand::SetCircleValue(int v) { m_circleValue = v; return 0; }
int CLabelCommand::SetBoxLineWidth(int v) { m_boxLineWidth = v; return 0; }

int CLabelCommand::ResetTextAttributes()
{
    m_wmul = m_hmul = 1;
    m_reverse = m_bold = m_italic = false;
    m_alignment = AlignLeft;
    return 0;
}

int CLabelCommand::SetWidthMultiplier(int m)
{
    if (m < 1 || m > 9)
        return kIllegal;
    m_wmul = m;
    return 0;
}

int CLabelCommand::SetHeightMultiplier(int m)
{
    if (m < 1 || m > 9)
        return kIllegal;
    m_hmul = m;
    return 0;
}

int CLabelCommand::SetCharWidth(int dots)
{
    if (m_fonts.Current().FontType != LABELFONT_VECTOR || dots < 0 || dots > MaxDots)
        return kIllegal;
    m_fonts.Current().FontW = dots;
    m_fonts.Current().ASCIIW = dots;
    return 0;
}

int CLabelCommand::SetCharHeight(int dots)
{
    if (m_fonts.Current().FontType != LABELFONT_VECTOR || dots < 0 || dots > MaxDots)
        return kIllegal;
    m_fonts.Current().FontH = dots;
    m_fonts.Current().ASCIIH = dots;
    return 0;
}

int CLabelCommand::SetCharGap(int dots)
{
    if (m_fonts.Current().FontType != LABELFONT_VECTOR || dots < 0 || dots > MaxDots)
        return kIllegal;
    m_fonts.Current().FontGap = dots;
    return 0;
}

int CLabelCommand::SetRotation(int oposRotation)
{
    switch (oposRotation) {
    case 2: case 258: m_rotation = 3; break;
    case 3: case 259: m_rotation = 2; break;
    case 4: case 257: m_rotation = 1; break;
    default: m_rotation = 0; break;
    }
    return 0;
}

int CLabelCommand::MapSymbology(int s)
{
    switch (s) {
    case 108: return 0;
    case 110: return 1;
    case 106: return 2;
    case 107: return 3;
    case 109: return 4;
    case 101: return 5;
    case 102: return 6;
    case 104: return 7;
    case 103: return 8;
    case 120: return 9;
    case 201: case 202: case 203: case 204: case 206: case 207: case 501: return 100;
    default: return -1;
    }
}

// ---- position

int CLabelCommand::ResetPosition() { m_x = m_y = 0; m_explicit = false; return 0; }
int CLabelCommand::SetPositionX(int x) { SetX(x); m_explicit = true; return 0; }
int CLabelCommand::SetPositionY(int y) { m_y = y; m_explicit = true; return 0; }
// Box ends are a box's operands, not a print position: barcodes after a frame still advance.
int CLabelCommand::SetBoxEndX(int x) { m_boxEndX = x; return 0; }
int CLabelCommand::SetBoxEndY(int y) { m_boxEndY = y; return 0; }
int CLabelCommand::AdvanceY(int n) { MoveY(n); return 0; }

int CLabelCommand::AlignX(int width) { return AlignXFor(width, m_alignment); }

// Barcodes and pictures bring their own alignment: it places that item only, the text lines
// keep theirs.
int CLabelCommand::AlignXFor(int width, int alignment)
{
    if (m_explicit)
        return 0;
    long long usable = (long long)m_paperWidth - m_leftMargin - width;
    if (alignment == AlignCentre)
        SetX(usable / 2);
    else if (alignment == AlignRight)
        SetX(usable);
    else
        m_x = 0;  // left, and every value that is not a known alignment
    return 0;
}

// ---- text

int CLabelCommand::AddText(const char* text, size_t length)
{
    if (!text)
        length = 0;
    const LabelCurrentFont& f = m_fonts.Current();
    std::string esc = EscapeText(text ? text : "", length);
    const char* rev = m_reverse ? "R" : "N";
    const char* bold = m_bold ? "B" : "N";
    bool vector = f.FontType != LABELFONT_BITMAP && f.FontType != LABELFONT_DOWNLOADED;

    // Every alignment but centre and right prints left, so it takes the left letter too.
    const char* just = vector ? "L" : "F";
    if (m_alignment == AlignRight)
        just = vector ? "R" : "L";
    else if (m_alignment == AlignCentre && vector)
        just = "C";

    long long n = (long long)esc.size();
    long long ascii = 0;
    for (char c : esc)
        if (static_cast<unsigned char>(c) < 0x80)
            ++ascii;
    if (!m_explicit) {
        if (m_alignment == AlignRight)
            SetX((long long)m_paperWidth - m_leftMargin - 1);
        else if (m_alignment == AlignCentre)
            SetX((long long)m_paperWidth / 2 - (ascii * f.ASCIIW + (n - ascii) * f.FontW) * m_wmul / 2);
        else
            m_x = 0;
    }

    std::string cmd;
    if (!vector) {
        if (m_rightToLeft)
            just = "R";
        cmd = Fmt("T%d,%d,%s,%d,%d,%d,%d,%s,%s,%s,'", m_x, m_y, f.FontName.GetString(), m_wmul, m_hmul, f.FontGap,
                  m_rotation, rev, bold, just);
    } else {
        cmd = Fmt("V%d,%d,%s,%d,%d,%d,%s,%s,%s,%d,%s,%d,'", m_x, m_y, f.FontName.GetString(), f.FontW, f.FontH,
                  f.FontGap, bold, rev, m_italic ? "I" : "N", m_rotation, just, m_rightToLeft);
    }
    cmd += esc;
    cmd += "'\r\n";
    Begin();
    Append(cmd);
    if (m_refused)
        return Finish(kFailure);

    int wmul = vector ? 1 : m_wmul;
    int hmul = vector ? 1 : m_hmul;
    long long usableWidth = (long long)(m_paperWidth - m_leftMargin) / 10 * 10;
    long long need = n * ((long long)f.FontGap + (long long)wmul * f.ASCIIW);
    long long lines = 1;
    // A label without a usable width (no paper width configured) counts its text as one line.
    if (usableWidth > 0 && need > usableWidth)
        lines = need / usableWidth + 1;
    // Saturates rather than overflows: a text taller than any label stops y at its largest value.
    long long perLine = (long long)hmul * f.FontH;
    long long height = perLine > 0 && lines > 0x7FFFFFFFLL / perLine ? 0x7FFFFFFFLL : perLine * lines;
    MoveY(height > m_lineSpacing ? height : m_lineSpacing);
    EndItem();
    return 0;
}

// ---- barcodes

bool CLabelCommand::ChooseModules(int type, const std::string& d, int width)
{
    const long long n = (long long)d.size();
    bool ok = false;
    int limit = 6;
    switch (type) {
    case 0: {
        ok = n < 256;
        for (char c : d)
            ok = ok && ((c >= 'A' && c <= 'Z') || IsDigit(c));
        break;
    }
    case 1: case 9: ok = n >= 2 && n <= 255 && AllBelow80(d); break;
    case 2: ok = n < 256 && n % 2 == 0 && AllDigits(d); break;
    case 3: {
        ok = n < 256 && n > 0 && d[0] >= 'A' && d[0] <= 'D';
        for (char c : d)
            ok = ok && (IsDigit(c) || (c >= 'A' && c <= 'D') || std::strchr("$+-./:", c) != nullptr);
        break;
    }
    case 4: ok = n < 256 && AllBelow80(d); break;
    case 5: ok = (n == 11 || n == 12) && AllDigits(d); break;
    case 6: ok = (n == 11 || n == 12) && AllDigits(d) && d[0] == '0'; limit = 11; break;
    case 7: ok = (n == 12 || n == 13) && AllDigits(d); limit = 7; break;
    case 8: ok = (n == 7 || n == 8) && AllDigits(d); limit = 10; break;
    default: ok = false; break;
    }
    if (!ok || n == 0)
        return false;

    long long digits = 0;
    for (char c : d)
        if (IsDigit(c))
            ++digits;
    long long s = (n - digits) + (digits + 1) / 2;
    auto W = [&](int m) -> long long {
        switch (type) {
        case 0: return (n + 2) * 9 * Halved3(m);
        case 1: return (11 * s + 46) * m;
        case 2: return (5 * n + 6) * Halved3(m);
        case 3: return (6 * n + 14) * Halved3(m);
        case 4: return (9 * n + 37) * m;
        case 5: return 95LL * m;
        case 6: return 51LL * m;
        case 7: return 95LL * m;
        case 8: return 67LL * m;
        default: return (11 * s + 57) * m;  // 9
        }
    };
    auto Wide = [&](int m) {
        switch (type) {
        case 5: case 6: return m;
        case 7: case 8: return m + 2;
        default: return 2 * m + 1;
        }
    };
    m_narrow = m_wide = 2;
    m_barcodeWidth = int(W(limit));  // no module reaches the width: placed as the widest trial
    for (int m = 1; m <= limit; ++m) {
        if (W(m + 1) >= width) {
            m_narrow = m;
            m_wide = Wide(m);
            m_barcodeWidth = int(W(m));
            break;
        }
    }
    return true;
}

int CLabelCommand::AddBarcode(const char* data, size_t length, int symbology, int height, int width, int alignment,
                              int textPosition, int fontNumber)
{
    std::string d(data ? data : "", data ? length : 0);
    int type = MapSymbology(symbology);
    // Empty data makes no symbol, whichever road it came by.
    if (type == -1 || d.empty() || !IsSafeField(d))
        return kIllegal;
    if (type == 100)
        return AddTwoDimensional(d, symbology, width, alignment, textPosition);

    const CLabelFont* hriFont = nullptr;
    int hri = 0;
    if (textPosition != HriNone && textPosition != HriAbove && textPosition != HriBelow)
        return kIllegal;
    if (textPosition != HriNone) {
        hriFont = m_fonts.GetAt(fontNumber);
        if (!hriFont)
            return kIllegal;
        hri = textPosition + 2 * fontNumber + 12;
    }
    if (!ChooseModules(type, d, width))
        return kIllegal;
    if (!m_explicit)
        AlignXFor(m_barcodeWidth, alignment);
    if (hri > 0 && textPosition == HriAbove)
        MoveY((long long)hriFont->FontH + 4);
    Begin();
    Append(Fmt("B1%d,%d,%d,%d,%d,%d,%d,%d,'", m_x, m_y, type, m_narrow, m_wide, height, m_rotation, hri) + d + "'\r\n");
    if (m_refused)
        return Finish(kFailure);
    if (textPosition == HriBelow && hriFont)
        MoveY((long long)hriFont->FontH + 4);
    // Placed where the application said or by its alignment, the next item goes below it.
    MoveY(height);
    EndItem();
    return 0;
}

int CLabelCommand::AddTwoDimensional(const std::string& d, int symbology, int width, int alignment, int textPosition)
{
    int size = 0;
    long long advance = 0;
    std::string cmd;
    auto steps = [width](const int* limits) {
        int k = 3;
        for (int i = 0; i < 5 && width >= limits[i]; ++i)
            ++k;
        return k;
    };
    auto place = [this, alignment](int sz) {
        if (m_explicit)
            return;
        if (alignment == AlignCentre)
            SetX(((long long)m_paperWidth - sz) / 2);
        else if (alignment == AlignRight)
            SetX((long long)m_paperWidth - sz);
        else
            m_x = 0;
    };
    switch (symbology) {
    case 201: {
        static const int limits[] = {380, 505, 630, 755, 880};
        int c = steps(limits);
        size = 125 * c + 5;
        advance = (long long)(d.size() / 5) * 10 + 70 - (textPosition == HriNone ? 40 : 0);
        place(size);
        cmd = Fmt("B2%d,%d,P,30,%d,0,0,%d,1,%d,10,%d,'", m_x, m_y, 5, textPosition == HriNone ? 0 : 1, c, m_rotation);
        break;
    }
    case 202:
        size = advance = 224;
        place(size);
        cmd = Fmt("B2%d,%d,M,0,'", m_x, m_y);
        break;
    case 204: case 501: {
        static const int limits[] = {111, 148, 185, 222, 259};
        int i = steps(limits);
        size = advance = 37 * i;
        place(size);
        cmd = Fmt("B2%d,%d,Q,3,L,%d,%d,'", m_x, m_y, i, m_rotation);
        break;
    }
    default:
        return kIllegal;
    }
    Begin();
    Append(cmd + d + "'\r\n");
    if (m_refused)
        return Finish(kFailure);
    MoveY(advance);
    EndItem();
    return 0;
}

// ---- images

int CLabelCommand::AddImage(const COPOSData& data, bool compressed, bool binary, int width, int height, int alignment)
{
    Begin();
    AlignXFor(width, alignment);
    if (binary) {
        if (!FitsImageField(m_x) || !FitsImageField(m_y))
            return kIllegal;
        BYTE head[8];
        DWORD n = 0;
        if (compressed) {
            head[n++] = 0x4C; head[n++] = 0x43; head[n++] = 0x52; head[n++] = 0x00;
        } else {
            head[n++] = 0x4C; head[n++] = 0x44;
        }
        head[n++] = BYTE(m_x & 0xFF); head[n++] = BYTE(m_x >> 8);
        head[n++] = BYTE(m_y & 0xFF); head[n++] = BYTE(m_y >> 8);
        Put(head, n);
        Put(data);
        Append("\r\n");
    } else {
        Append(Fmt("IS%u,'print1'", unsigned(data.GetLength())));
        Put(data);
        Append("\r\n");
        Append(Fmt("IR%d,%d,'print1'\r\n", m_x, m_y));
    }
    if (m_refused)
        return Finish(kIllegal);  // the picture's size is the application's
    MoveY(height);
    EndItem();
    return 0;
}

int CLabelCommand::StoreBitmap(int n, const COPOSData& data, bool emit, int width, int height, int alignment)
{
    if (n < 1 || n > BitmapSlots)
        return kIllegal;
    BitmapSlot& s = m_slots[n - 1];
    if (s.stored)
        s.data.Free();
    if (s.data.AppendData(data) != COPOSData::OK) {
        s.stored = false;
        return kIllegal;
    }
    s.emit = emit;
    s.width = width;
    s.height = height;
    s.alignment = alignment;
    s.stored = true;
    return 0;
}

bool CLabelCommand::IsBitmapStored(int n) const { return n >= 1 && n <= BitmapSlots && m_slots[n - 1].stored; }

int CLabelCommand::PrintStoredBitmap(int n)
{
    if (!IsBitmapStored(n))
        return kIllegal;
    BitmapSlot& s = m_slots[n - 1];
    Begin();
    AlignXFor(s.width, s.alignment);
    if (s.emit) {
        if (!FitsImageField(m_x) || !FitsImageField(m_y))
            return kIllegal;
        BYTE head[6] = {0x4C, 0x44, BYTE(m_x & 0xFF), BYTE(m_x >> 8), BYTE(m_y & 0xFF), BYTE(m_y >> 8)};
        Put(head, 6);
        Put(s.data);
        Append("\r\n");
        if (m_refused)
            return Finish(kIllegal);
    }
    MoveY(s.height);
    EndItem();
    return 0;
}

// ---- boxes, circles, cuts, custom commands

int CLabelCommand::AddBox(const CString& type)
{
    Begin();
    if (type == "O" || type == "E" || type == "D")
        Append(Fmt("BD%d,%d,%d,%d,%s\r\n", m_x, m_y, m_boxEndX, m_boxEndY, type.GetString()));
    else if (type == "S" || type == "B")
        Append(Fmt("BD%d,%d,%d,%d,%s,%d\r\n", m_x, m_y, m_boxEndX, m_boxEndY, type.GetString(), m_boxLineWidth));
    else
        return kIllegal;
    if (m_refused)
        return Finish(kFailure);
    EndItem();
    return 0;
}

int CLabelCommand::AddCircle(int value)
{
    Begin();
    Append(Fmt("CD%d,%d,%d,%d\r\n", m_x, m_y, value, m_circleValue));
    if (m_refused)
        return Finish(kFailure);
    EndItem();
    return 0;
}

int CLabelCommand::AddCut()
{
    if (m_operationMode != "C")
        return 0;
    // A period of 1 or less (none, or a value that makes no sense) cuts every label.
    Begin();
    if (m_cutterPeriod <= 1)
        Append("CUTy\r\n");
    else
        Append(Fmt("CUTy,%d\r\n", m_cutterPeriod));
    return Finish(kFailure);
}

int CLabelCommand::AddCustomCommand(int n, const CString& argument)
{
    if (n < 0 || size_t(n) >= m_custom.size())
        return kIllegal;
    std::string arg(argument.GetString(), size_t(argument.GetLength()));
    if (!IsSafeField(arg))
        return kIllegal;
    const CString& c = m_custom[size_t(n)];
    Begin();
    if (arg.empty())
        Append(Fmt("%s\r\n", c.GetString()));
    else
        Append(Fmt("%s,'", c.GetString()) + arg + "'\r\n");
    return Finish(kFailure);
}

int CLabelCommand::AppendData(const COPOSData& data) { return m_body.AppendData(data) == COPOSData::OK ? 0 : kIllegal; }

int CLabelCommand::AppendBytes(const void* bytes, size_t n)
{
    if (n > 0x7FFFFFFF)
        return kIllegal;
    return m_body.Append(static_cast<const BYTE*>(bytes), DWORD(n)) == 0 ? 0 : kIllegal;
}

int CLabelCommand::AppendString(const CString& s, int n)
{
    if (n < 0 || n > s.GetLength())
        n = s.GetLength();
    return AppendBytes(s.GetString(), size_t(n));
}

int CLabelCommand::ClearBody()
{
    m_body.Free();
    ResetPosition();
    ++m_label;
    return 0;
}

int CLabelCommand::BuildLabel(COPOSData& target)
{
    // A label the buffer does not take is not built: the body stays for the caller to decide.
    if (!WriteLabel(target, m_body.GetData(), m_body.GetLength()))
        return kFailure;
    ResetPosition();
    m_body.Reset(1024);
    ++m_label;
    return 0;
}

CLabelCommand::Mark CLabelCommand::GetMark() const
{
    return Mark{m_body.GetLength(), m_label,  m_x,      m_y,      m_explicit,    m_fonts.Current(),
                m_fonts.CurrentNumber(),      m_alignment, m_wmul, m_hmul,      m_reverse,
                m_bold,                       m_italic,  m_boxEndX, m_boxEndY, m_boxLineWidth, m_circleValue};
}

int CLabelCommand::RollBack(const Mark& m)
{
    // A label the call built or discarded is gone either way: its body and position stay as
    // they are now, only the font and the attributes go back.
    if (m.label == m_label) {
        m_body.Truncate(m.length);
        m_x = m.x;
        m_y = m.y;
        m_explicit = m.explicitPosition;
    }
    m_fonts.RestoreCurrent(m.font, m.fontNumber);
    m_alignment = m.alignment;
    m_wmul = m.wmul;
    m_hmul = m.hmul;
    m_reverse = m.reverse;
    m_bold = m.bold;
    m_italic = m.italic;
    m_boxEndX = m.boxEndX;
    m_boxEndY = m.boxEndY;
    m_boxLineWidth = m.boxLineWidth;
    m_circleValue = m.circleValue;
    m_refused = false;
    return 0;
}

int CLabelCommand::BuildLabelSince(const Mark& m, COPOSData& target)
{
    DWORD from = m.length < m_body.GetLength() ? m.length : m_body.GetLength();
    if (!WriteLabel(target, m_body.GetData() + from, m_body.GetLength() - from))
        return kFailure;
    m_body.Truncate(m.length);
    m_x = m.x;
    m_y = m.y;
    m_explicit = m.explicitPosition;
    return 0;
}

bool CLabelCommand::WriteLabel(COPOSData& target, const BYTE* body, DWORD length)
{
    std::string head;
    if (m_paperType != "A") {
        if (m_paperType == "C")
            head += Fmt("SL%d,%d,%s\r\n", m_paperLength ? m_paperLength : m_y, m_gapLength, m_paperType.GetString());
        else
            head += Fmt("SL%d,%d,%s,%d\r\n", m_paperLength, m_gapLength, m_paperType.GetString(), m_offsetLength);
    }
    head += Fmt("SW%d\r\nST%s\r\nSM%d,%d\r\n", m_paperWidth, m_printType.GetString(), m_leftMargin, m_topMargin);
    if (m_backFeed != 0)
        head += Fmt("SF%d,%d\r\n", m_backFeed, m_backFeedStep);
    head += Fmt("SS%d\r\nSD%d\r\nSO%s\r\nSA%d\r\nTA%d\r\nCS%d,%d\r\nCUTn\r\n", m_printSpeed, m_density,
                m_orientation.GetString(), m_offsetPosition, m_tearOffPosition, m_intlCharSet, m_codePage);
    head += std::string(m_header.GetString(), size_t(m_header.GetLength()));
    const std::string tail = m_operationMode == "R" ? "RWDy\r\nP1\r\n" : "P1\r\n";
    const DWORD start = target.GetLength();
    if (target.Append(reinterpret_cast<const BYTE*>(head.data()), DWORD(head.size())) != COPOSData::OK ||
        target.Append(body, length) != COPOSData::OK ||
        target.Append(reinterpret_cast<const BYTE*>(tail.data()), DWORD(tail.size())) != COPOSData::OK) {
        target.Truncate(start);
        return false;
    }
    return true;
}

std::string CLabelCommand::BuildTestLabel(const CString& deviceName, int pageWidth, int pageLength) const
{
    std::string t;
    // Without a configured length (continuous media) the label is as long as its own drawing:
    // the frame's lower edge and the margin it keeps above.
    const int kOwnLength = 620 + 100;
    if (m_paperType != "A")
        t += Fmt("SL%d,%d,%s\r\n", pageLength > 0 ? pageLength : kOwnLength, m_gapLength, m_paperType.GetString());
    t += Fmt("SW%d\r\nSO%s\r\nSS%d\r\nSA%d\r\nTA%d\r\n", pageWidth, m_orientation.GetString(), m_printSpeed,
             m_offsetPosition, m_tearOffPosition);
    t += "BD100,100,400,620,B,4\r\nBD200,100,202,620,0\r\nBD300,260,302,620,0\r\nBD200,260,400,262,0\r\n";
    t += Fmt("V130,580,U,40,45,1,N,N,N,3,L,0,'%s OPOS Driver'\r\n", "VESK");
    t += "V230,570,U,40,40,1,N,N,I,3,L,0,'Label Printer'\r\n";
    // The device name is a quoted text like any other: escaped, and without the bytes that would
    // end its line.
    std::string name;
    for (char c : EscapeText(deviceName.GetString(), size_t(deviceName.GetLength())))
        if (c != '\r' && c != '\n' && c != '\0')
            name += c;
    t += "V330,540,U,40,40,1,B,N,N,3,L,0,'" + name + "'\r\n";
    t += Fmt("B2240,240,Q,1,H,4,3,'%s'\r\n", TestLabelAddress());
    if (m_operationMode == "C")
        t += "CUTy\r\n";
    else if (m_operationMode == "R")
        t += "RWDy\r\n";
    else
        t += "CUTn\r\n";
    t += "P1\r\n";
    return t;
}

#include "EscapeParser.h"

#include <climits>

namespace {

const int kIllegal = 106;  // OPOS_E_ILLEGAL
const int kFailure = 111;  // OPOS_E_FAILURE
const char ESC = 0x1B;

bool IsLower(char c) { return c >= 'a' && c <= 'z'; }
bool IsUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads decimal digits at pos; false when the number does not fit an int (an endless digit
// string is refused, not wrapped).
bool ReadNumber(const char* d, size_t len, size_t& pos, int& out)
{
    long long v = 0;
    bool ok = true;
    while (pos < len && IsDigit(d[pos])) {
        if (ok) {
            v = v * 10 + (d[pos] - '0');
            if (v > INT_MAX)
                ok = false;
        }
        ++pos;
    }
    out = ok ? int(v) : 0;
    return ok;
}

class CParser
{
public:
    CParser(CLabelCommand& b, const char* d, size_t len, const EscapeParseContext& ctx)
        : m_b(b), m_d(d), m_len(len), m_ctx(ctx)
    {
    }
    int Run();

private:
    void Flush();
    bool HasPending() const { return !m_pending.empty(); }
    size_t OwnBytesLeft() const
    {
        size_t end = m_ctx.ownLength < m_len ? m_ctx.ownLength : m_len;
        return end > m_pos ? end - m_pos : 0;
    }
    // Parses the sequence whose ESC is at m_pos (the "|" follows it).
    void Sequence();
    void Dispatch(bool bang, bool hasNumber, int n, char l1, char l2, char fin);
    void Barcode(const std::string& block);
    void Advance(long long dots);
    // Every refusal of the call goes through here: the first one is the call's result.
    void Keep(int rc) { m_rc.Keep(rc); }

    CLabelCommand& m_b;
    const char* m_d;
    size_t m_len;
    const EscapeParseContext& m_ctx;
    size_t m_pos = 0;
    std::string m_pending;
    CCallResult m_rc;
};

void CParser::Flush()
{
    if (m_pending.empty())
        return;
    std::string text = m_pending;
    if (m_ctx.characterSet == 997 && m_ctx.toUtf8)
        text = m_ctx.toUtf8(text);
    // A text the body refused fails the call; the rest of the data is still read.
    Keep(m_b.AddText(text.data(), text.size()));
    m_pending.clear();
}

void CParser::Advance(long long dots)
{
    if (dots > 0)
        m_b.AdvanceY(int(dots > INT_MAX ? INT_MAX : dots));
}

int CParser::Run()
{
    while (m_pos < m_len) {
        char c = m_d[m_pos];
        if (c == '\n') {
            if (HasPending())
                Flush();
            else
                Advance(m_ctx.lineSpacingDots);
            m_b.ResetTextAttributes();
            ++m_pos;
        } else if (c == '\r') {
            bool flushed = HasPending();
            Flush();
            if (m_pos + 1 >= m_len || m_d[m_pos + 1] != '\n') {
                m_b.ResetTextAttributes();
                ++m_pos;
            } else {
                if (!flushed)
                    Advance(m_ctx.lineSpacingDots);
                m_pos += 2;
                m_b.ResetTextAttributes();
            }
        } else if (c == ESC) {
            Flush();
            if (m_pos + 1 < m_len && m_d[m_pos + 1] == '|') {
                Sequence();
            } else {
                m_pending += c;
                ++m_pos;
            }
        } else {
            m_pending += c;
            ++m_pos;
        }
    }
    // Text after the last line end is not printed (the print methods end their data with LF).
    m_pending.clear();
    return m_rc.Get();
}

void CParser::Sequence()
{
    size_t escAt = m_pos;
    size_t p = m_pos + 2;
    bool bang = false;
    if (p < m_len && m_d[p] == '!') {
        bang = true;
        ++p;
    }
    bool hasNumber = p < m_len && IsDigit(m_d[p]);
    int n = 0;
    if (!ReadNumber(m_d, m_len, p, n)) {
        // A number too large for any field: the sequence is refused and printed as text.
        Keep(kIllegal);
        m_pending += ESC;
        m_pos = escAt + 1;
        return;
    }
    char l1 = '-', l2 = '-', fin = 0;
    if (p < m_len && IsLower(m_d[p])) {
        l1 = m_d[p++];
        if (p < m_len && IsLower(m_d[p])) {
            l2 = m_d[p++];
            if (p >= m_len || !IsUpper(m_d[p])) {
                Keep(kIllegal);
                m_pending += ESC;
                m_pos = escAt + 1;
                return;
            }
            fin = m_d[p++];
        } else {
            if (p >= m_len) {
                Keep(kIllegal);
                m_pos = p;
                return;
            }
            fin = m_d[p++];
        }
    } else if (p < m_len && IsUpper(m_d[p])) {
        fin = m_d[p++];
    } else {
        // No final letter: the character is read again as ordinary input.
        Keep(kIllegal);
        m_pos = p;
        return;
    }
    m_pos = p;
    Dispatch(bang, hasNumber, n, l1, l2, fin);
}

void CParser::Dispatch(bool bang, bool hasNumber, int n, char l1, char l2, char fin)
{
    switch (fin) {
    case 'A':
        if (l1 == 'c')
            m_b.SetAlignment(CLabelCommand::AlignCentre);
        else if (l1 == 'l')
            m_b.SetAlignment(CLabelCommand::AlignLeft);
        else if (l1 == 'r')
            m_b.SetAlignment(CLabelCommand::AlignRight);
        else
            Keep(kIllegal);
        return;
    case 'B':
        if (l1 != '-') {
            Keep(kIllegal);
            return;
        }
        m_b.ResetTextAttributes();
        Keep(m_b.PrintStoredBitmap(n));
        return;
    case 'C':
        switch (l1) {
        case '-':
            switch (n) {
            case 1: m_b.SetWidthMultiplier(1); Keep(m_b.SetHeightMultiplier(1)); break;
            case 2: Keep(m_b.SetWidthMultiplier(2)); break;
            case 3: Keep(m_b.SetHeightMultiplier(2)); break;
            case 4: m_b.SetWidthMultiplier(2); Keep(m_b.SetHeightMultiplier(2)); break;
            default: break;
            }
            return;
        case 'b':
            if (!hasNumber)
                Keep(m_b.SetBold(!bang));
            return;
        case 'h': Keep(m_b.SetWidthMultiplier(n)); return;
        case 'v': Keep(m_b.SetHeightMultiplier(n)); return;
        case 'i': Keep(m_b.SetItalic(!bang)); return;
        case 'r':
            if (l2 == 'v')
                Keep(m_b.SetReverse(!bang));
            else if (l2 == '-')
                Keep(kIllegal);
            return;
        default: Keep(kIllegal); return;
        }
    case 'D':
        if (l1 == 'b') {
            if (l2 == '-') {
                static const char* types[] = {"O", "E", "D", "S", "B"};
                if (n >= 1 && n <= 5)
                    Keep(m_b.AddBox(types[n - 1]));
                else
                    Keep(kIllegal);
            } else if (l2 == 't') {
                m_b.SetBoxLineWidth(n);
            }
        } else if (l1 == 'c') {
            if (l2 == '-')
                Keep(m_b.AddCircle(n));
            else if (l2 == 'e')
                m_b.SetCircleValue(n);
            else
                Keep(kIllegal);
        }
        return;
    case 'E':
        if (n > 0) {
            if (size_t(n) > OwnBytesLeft()) {
                // The count runs past the data: where the raw bytes end is unknown, so none of
                // the rest is sent.
                Keep(kIllegal);
                m_pos = m_len;
                return;
            }
            Keep(m_b.AppendBytes(m_d + m_pos, size_t(n)));
            m_pos += size_t(n);
        }
        return;
    case 'F': {
        int spacing = m_ctx.lineSpacingDots;
        if (l1 == 'l') {
            long long lines = n == 0 ? 1 : n;
            if (spacing > 0) {
                long long fit = 1216 / spacing;
                if (lines > fit)
                    lines = fit;
                Advance(lines * spacing);
            }
        } else if (l1 == 'u') {
            // At most the 1216 dots a line feed may go.
            long long dots = m_ctx.unitsToDots ? m_ctx.unitsToDots(n) : n;
            Advance(dots > 1216 ? 1216 : dots);
        } else if (l1 == 'p') {
            int number = n == 0 ? 1 : n;
            size_t end = m_pos;
            while (end < m_len && m_d[end] != '\r' && m_d[end] != '\n')
                ++end;
            std::string arg(m_d + m_pos, end - m_pos);
            m_pos = end;
            if (m_b.AddCustomCommand(number - 1, CString(arg.data(), int(arg.size()))) != 0)
                Keep(kIllegal);
        } else {
            Keep(kFailure);
        }
        return;
    }
    case 'L': {
        if (hasNumber || (l1 != 't' && l1 != 'b') || l2 != '-') {
            Keep(kIllegal);
            return;
        }
        const COPOSData* logo = l1 == 't' ? m_ctx.topLogo : m_ctx.bottomLogo;
        if (logo)
            Keep(m_b.AppendData(*logo));
        return;
    }
    case 'N':
        m_b.ResetTextAttributes();
        return;
    case 'P':
        if (l1 == 'x' || l1 == 'y') {
            if (l2 == '-')
                l1 == 'x' ? m_b.SetPositionX(n) : m_b.SetPositionY(n);
            else if (l2 == 'e')
                l1 == 'x' ? m_b.SetBoxEndX(n) : m_b.SetBoxEndY(n);
            return;
        }
        if ((l1 == '-' || l1 == 'f') && l2 == '-') {
            if (n > 100 || !m_ctx.capRecPapercut) {
                Keep(kIllegal);
                return;
            }
            Keep(m_b.AddCut());
            if (m_ctx.log)
                m_ctx.log("Cutting ");
            return;
        }
        Keep(kIllegal);
        return;
    case 'R':
        if (n > 0) {
            if (size_t(n) > OwnBytesLeft()) {
                Keep(kIllegal);
                m_pos = m_len;
                return;
            }
            std::string block(m_d + m_pos, size_t(n));
            m_pos += size_t(n);
            Barcode(block);
        }
        return;
    case 'S':
        // A metric beyond any label is refused; the others' results are not kept (a bitmap font
        // keeps its metrics).
        if (l1 == 'f' && (l2 == 'w' || l2 == 'h' || l2 == 'g') && n > CLabelCommand::MaxDots) {
            Keep(kIllegal);
            return;
        }
        if (l1 == 'f') {
            if (l2 == 'w')
                m_b.SetCharWidth(n);
            else if (l2 == 'h')
                m_b.SetCharHeight(n);
            else if (l2 == 'g')
                m_b.SetCharGap(n);
        }
        return;
    case 'T': {
        long long font = -1;
        if (l1 == 'v')
            font = (long long)n + 19;
        else if (l1 == 'd')
            font = (long long)n + 26;
        else if (l1 == 'b' && l2 != '-')
            font = n;
        else if (l1 == 'f') {
            if (l2 >= 'a' && l2 <= 'f')
                font = 10 + (l2 - 'a');
            else if (l2 == 'm')
                font = 16;
            else if (l2 == 'n')
                font = 17;
            else if (l2 == 'j')
                font = 18;
            else
                font = n;
        }
        if (font < 0 || font > INT_MAX || m_b.SelectFont(int(font)) != 0)
            Keep(kIllegal);
        return;
    }
    default:
        Keep(kIllegal);
        return;
    }
}

void CParser::Barcode(const std::string& block)
{
    int symbology = 0, height = 0, width = 0, alignment = -2, textPosition = -13;
    std::string data;
    size_t i = 0, n = block.size();
    bool ended = false;
    auto digits = [&](int& out) {
        ++i;
        if (!ReadNumber(block.data(), n, i, out))
            return false;
        return true;
    };
    while (i < n && !ended) {
        char c = block[i];
        bool ok = true;
        switch (c) {
        case 's': ok = digits(symbology); break;
        case 'h': ok = digits(height); break;
        case 'w': ok = digits(width); break;
        case 'a':
        case 't':
            if (i + 1 < n && block[i + 1] == '-') {
                ++i;
                int v = 0;
                ok = digits(v);
                (c == 'a' ? alignment : textPosition) = -v;
            } else {
                i += 2;  // the letter and the character after it are skipped
            }
            break;
        case 'd':
            // The data runs to the block's last byte, which ends the block.
            if (block[n - 1] != 'e' || i + 1 > n - 1) {
                Keep(kIllegal);
                return;
            }
            data = block.substr(i + 1, n - 1 - (i + 1));
            ended = true;
            break;
        case 'e': ended = true; break;
        default: ok = false; break;
        }
        if (!ok) {
            Keep(kIllegal);
            return;
        }
    }
    if (!ended) {
        Keep(kIllegal);
        return;
    }
    int r = m_b.AddBarcode(data.data(), data.size(), symbology, height, width, alignment, textPosition, m_ctx.hriFont);
    Keep(r);  // a refused barcode is reported, not printed silently without it
}

}  // namespace

int BuildPrintData(CLabelCommand& builder, const char* data, size_t length, const EscapeParseContext& ctx)
{
    if (!data)
        return 0;
    CParser p(builder, data, length, ctx);
    return p.Run();
}

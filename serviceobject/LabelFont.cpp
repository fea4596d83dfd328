#include "LabelFont.h"

const char* CLabelFontTable::FontFileName(int languageType)
{
    switch (languageType) {
    case 2: return "zplfont.inf";
    case 3: return "eplfont.inf";
    case 4: return "dplfont.inf";
    default: return "qlksfont.inf";
    }
}

void CLabelFontTable::Free()
{
    delete[] m_fonts;
    m_fonts = nullptr;
    m_count = 0;
}

int CLabelFontTable::Build(const std::vector<LabelFontSpec>& fonts, const std::vector<DownloadedFont>& downloaded,
                           int defaultFont)
{
    Free();
    m_currentNumber = -1;
    m_count = int(fonts.size() + downloaded.size());
    if (m_count > 0)
        m_fonts = new CLabelFont[m_count];
    int i = 0;
    for (const LabelFontSpec& s : fonts) {
        CLabelFont& f = m_fonts[i++];
        f.FontType = s.FontType;
        f.FontName = s.FontName;
        f.FontW = s.FontW;
        f.FontH = s.FontH;
        f.FontGap = s.FontGap;
        f.ASCIIW = s.ASCIIW ? s.ASCIIW : s.FontW;
        f.ASCIIH = s.ASCIIH ? s.ASCIIH : s.FontH;
        f.extra = 0;
    }
    for (const DownloadedFont& d : downloaded) {
        CLabelFont& f = m_fonts[i++];
        f.FontType = LABELFONT_DOWNLOADED;
        f.FontName = CString(d.first, 1);
        f.extra = d.second;
    }
    if (defaultFont < 0 || defaultFont >= m_count)
        defaultFont = 0;
    SelectFont(defaultFont);
    return 0;
}

int CLabelFontTable::SelectFont(int n)
{
    const CLabelFont* f = GetAt(n);
    if (!f)
        return 106;  // OPOS_E_ILLEGAL
    m_current.FontType = f->FontType;
    m_current.FontName = f->FontName;
    m_current.FontW = f->FontW;
    m_current.FontH = f->FontH;
    m_current.FontGap = f->FontGap;
    m_current.ASCIIW = f->ASCIIW;
    m_current.ASCIIH = f->ASCIIH;
    m_currentNumber = n;
    return 0;
}

#include "LabelFont.h"

#include <windows.h>

#include <cstring>

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

int CLabelFontTable::LoadFontTable(const CString& folder, int languageType, const std::vector<DownloadedFont>& downloaded)
{
    CString file = folder + "\\" + FontFileName(languageType);
    auto readInt = [&file](const char* section, const char* key) {
        return int(GetPrivateProfileIntA(section, key, 0, file));
    };
    auto clampCount = [](int n) { return n < 0 ? 0 : (n > MaxInfFonts ? int(MaxInfFonts) : n); };
    int bitmapFonts = clampCount(readInt("COMMON", "BitmapFont"));
    int vectorFonts = clampCount(readInt("COMMON", "VectorFont"));
    int defaultFont = readInt("COMMON", "DefaultFontNum");
    int infFonts = bitmapFonts + vectorFonts;
    if (infFonts > MaxInfFonts)
        infFonts = MaxInfFonts;

    Free();
    m_currentNumber = -1;
    m_count = infFonts + int(downloaded.size());
    if (m_count > 0)
        m_fonts = new CLabelFont[m_count];

    for (int i = 1; i <= infFonts; ++i) {
        char section[32];
        wsprintfA(section, "Font%d", i);
        CLabelFont& f = m_fonts[i - 1];
        f.FontType = readInt(section, "FontType");
        char name[512];
        std::memset(name, 0, sizeof name);
        GetPrivateProfileStringA(section, "FontName", "", name, sizeof name, file);
        f.FontName = name;
        f.FontW = readInt(section, "FontW");
        f.FontH = readInt(section, "FontH");
        f.FontGap = readInt(section, "FontGap");
        f.ASCIIW = readInt(section, "ASCIIW");
        f.ASCIIH = readInt(section, "ASCIIH");
        if (f.ASCIIW == 0)
            f.ASCIIW = f.FontW;
        if (f.ASCIIH == 0)
            f.ASCIIH = f.FontH;
        f.extra = 0;
    }
    for (size_t d = 0; d < downloaded.size(); ++d) {
        CLabelFont& f = m_fonts[infFonts + int(d)];
        f.FontType = LABELFONT_DOWNLOADED;
        f.FontName = CString(downloaded[d].first, 1);
        f.extra = downloaded[d].second;
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

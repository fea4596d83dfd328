// The label fonts of one device: the fonts of the emulation's font INF file, followed by the
// fonts downloaded into the printer, and the current font the label builder writes with.
#pragma once

#include "FxObject.h"
#include "FxString.h"

#include <utility>
#include <vector>

enum LabelFontType
{
    LABELFONT_BITMAP = 0,
    LABELFONT_VECTOR = 1,
    LABELFONT_DOWNLOADED = 2,
};

class CLabelFont : public CObject
{
public:
    ~CLabelFont() override {}

    int FontType = LABELFONT_BITMAP;
    CString FontName;
    int FontW = 0;
    int FontH = 0;
    int FontGap = 0;
    int ASCIIW = 0;
    int ASCIIH = 0;
    int extra = 0;  // a downloaded font's number from the device configuration
};

// A downloaded font as the device configuration lists it: (font letter, number).
typedef std::pair<char, int> DownloadedFont;

// One font as a font INF file describes it; also the builder's current font, a copy of a table
// font that may have its sizes changed without touching the table.
struct LabelFontSpec
{
    int FontType = LABELFONT_BITMAP;
    CString FontName;
    int FontW = 0, FontH = 0, FontGap = 0, ASCIIW = 0, ASCIIH = 0;
};
typedef LabelFontSpec LabelCurrentFont;

class CLabelFontTable
{
public:
    // More fonts than this in one INF file are not read (a count is clamped to it).
    enum { MaxInfFonts = 256 };

    CLabelFontTable() = default;
    ~CLabelFontTable() { Free(); }
    CLabelFontTable(const CLabelFontTable&) = delete;
    CLabelFontTable& operator=(const CLabelFontTable&) = delete;

    // Builds the table from the font file of languageType in folder and the downloaded fonts,
    // then selects the file's default font (0 when it is out of range). Returns 0.
    int LoadFontTable(const CString& folder, int languageType, const std::vector<DownloadedFont>& downloaded);
    // The table from fonts already read: the given fonts (missing ASCII metrics take the
    // full-width ones), then the downloaded fonts; selects defaultFont (0 when out of range).
    int Build(const std::vector<LabelFontSpec>& fonts, const std::vector<DownloadedFont>& downloaded, int defaultFont);
    // Copies font n into the current font: 0, or 106 (the current font stays) for a number
    // the table does not hold.
    int SelectFont(int n);

    int GetCount() const { return m_count; }
    const CLabelFont* GetAt(int n) const { return (n >= 0 && n < m_count) ? &m_fonts[n] : nullptr; }
    LabelCurrentFont& Current() { return m_current; }
    const LabelCurrentFont& Current() const { return m_current; }
    int CurrentNumber() const { return m_currentNumber; }
    // Puts back a current font taken before (a refused call's font change is undone).
    void RestoreCurrent(const LabelCurrentFont& f, int number)
    {
        m_current = f;
        m_currentNumber = number;
    }

    // The font file name of an emulation.
    static const char* FontFileName(int languageType);

private:
    void Free();

    CLabelFont* m_fonts = nullptr;
    int m_count = 0;
    LabelCurrentFont m_current;
    int m_currentNumber = -1;  // none selected yet
};

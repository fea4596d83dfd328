#include "LabelFont.h"

#include <windows.h>

#include <cstring>

// The fonts of the emulation's font file in folder: [COMMON] counts and default, [FontN] each.
int CLabelFontTable::LoadFontTable(const CString& folder, int languageType, const std::vector<DownloadedFont>& downloaded)
{
    CString file = folder + "\\" + FontFileName(languageType);
    auto readInt = [&file](const char* section, const char* key) {
        return int(GetPrivateProfileIntA(section, key, 0, file));
    };
    auto clampCount = [](int n) { return n < 0 ? 0 : (n > MaxInfFonts ? int(MaxInfFonts) : n); };
    int infFonts = clampCount(readInt("COMMON", "BitmapFont")) + clampCount(readInt("COMMON", "VectorFont"));
    if (infFonts > MaxInfFonts)
        infFonts = MaxInfFonts;
    int defaultFont = readInt("COMMON", "DefaultFontNum");

    std::vector<LabelFontSpec> fonts(static_cast<size_t>(infFonts));
    for (int i = 1; i <= infFonts; ++i) {
        char section[32];
        wsprintfA(section, "Font%d", i);
        LabelFontSpec& f = fonts[size_t(i - 1)];
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
    }
    return Build(fonts, downloaded, defaultFont);
}

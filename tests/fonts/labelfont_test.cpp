// The font table: fonts of the emulation's file, downloaded fonts behind them, the default font.
#include "LabelFont.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

std::string Font(int i, int type, const char* name, int w, int h, int gap, int aw, int ah)
{
    std::string s = "[Font" + std::to_string(i) + "]\nFontType=" + std::to_string(type) + "\nFontName=" + name +
                    "\nFontW=" + std::to_string(w) + "\nFontH=" + std::to_string(h) + "\nFontGap=" +
                    std::to_string(gap) + "\n";
    if (aw)
        s += "ASCIIW=" + std::to_string(aw) + "\n";
    if (ah)
        s += "ASCIIH=" + std::to_string(ah) + "\n";
    return s;
}

TEST(LabelFontTable, InfFontsThenDownloadedFonts)
{
    CTempFolder folder;
    folder.Write("qlksfont.inf", "[COMMON]\nBitmapFont=2\nVectorFont=1\nDefaultFontNum=2\n" +
                                     Font(1, 0, "A", 10, 20, 1, 6, 18) + Font(2, 0, "B", 12, 24, 2, 0, 0) +
                                     Font(3, 1, "VEC", 30, 30, 0, 15, 30));
    CLabelFontTable t;
    EXPECT_EQ(0, t.LoadFontTable(folder.Path().c_str(), 0, {{'X', 3}, {'Y', 0}}));
    ASSERT_EQ(5, t.GetCount());
    struct Row { int type; const char* name; int w, h, gap, aw, ah, extra; } rows[] = {
        {0, "A", 10, 20, 1, 6, 18, 0},
        {0, "B", 12, 24, 2, 12, 24, 0},  // missing ASCII metrics take the full-width ones
        {1, "VEC", 30, 30, 0, 15, 30, 0},
        {2, "X", 0, 0, 0, 0, 0, 3},
        {2, "Y", 0, 0, 0, 0, 0, 0},
    };
    for (int i = 0; i < 5; ++i) {
        const CLabelFont* f = t.GetAt(i);
        ASSERT_NE(nullptr, f);
        const Row& r = rows[i];
        EXPECT_EQ(r.type, f->FontType) << i;
        EXPECT_STREQ(r.name, f->FontName) << i;
        EXPECT_EQ(r.w, f->FontW) << i;
        EXPECT_EQ(r.h, f->FontH) << i;
        EXPECT_EQ(r.gap, f->FontGap) << i;
        EXPECT_EQ(r.aw, f->ASCIIW) << i;
        EXPECT_EQ(r.ah, f->ASCIIH) << i;
        EXPECT_EQ(r.extra, f->extra) << i;
    }
    EXPECT_EQ(2, t.CurrentNumber());
    EXPECT_STREQ("VEC", t.Current().FontName);

    // Changing the current font's sizes leaves the table alone; an unknown number keeps it.
    t.Current().FontW = 99;
    EXPECT_EQ(30, t.GetAt(2)->FontW);
    EXPECT_EQ(106, t.SelectFont(5));
    EXPECT_EQ(106, t.SelectFont(-1));
    EXPECT_EQ(2, t.CurrentNumber());
    EXPECT_EQ(99, t.Current().FontW);
    EXPECT_EQ(0, t.SelectFont(1));
    EXPECT_STREQ("B", t.Current().FontName);
    EXPECT_EQ(12, t.Current().ASCIIW);
}

TEST(LabelFontTable, DefaultFontAndFileChoice)
{
    CTempFolder folder;
    const std::string two = Font(1, 0, "A", 1, 1, 0, 0, 0) + Font(2, 0, "B", 2, 2, 0, 0, 0);
    folder.Write("zplfont.inf", "[COMMON]\nBitmapFont=2\nDefaultFontNum=7\n" + two);
    folder.Write("eplfont.inf", "[COMMON]\nBitmapFont=2\nDefaultFontNum=-1\n" + two);
    folder.Write("dplfont.inf", "[COMMON]\nBitmapFont=2\nDefaultFontNum=1\n" + two);
    struct Row { int language; int count; int current; } rows[] = {
        {2, 5, 0},   // 7 with five fonts: font 0
        {3, 2, 0},   // below 0: font 0
        {4, 2, 1},
        {0, 1, 0},   // no qlksfont.inf here: only the downloaded font
        {7, 0, -1},  // no file, nothing downloaded: nothing selected
    };
    for (const Row& r : rows) {
        CLabelFontTable t;
        std::vector<DownloadedFont> dl;
        if (r.language == 2)
            dl = {{'P', 1}, {'Q', 2}, {'R', 3}};
        if (r.language == 0)
            dl = {{'P', 1}};
        t.LoadFontTable(folder.Path().c_str(), r.language, dl);
        EXPECT_EQ(r.count, t.GetCount()) << r.language;
        EXPECT_EQ(r.current, t.CurrentNumber()) << r.language;
    }
}

TEST(LabelFontTable, CountsOutsideTheTableAreClamped)
{
    CTempFolder folder;
    folder.Write("qlksfont.inf", "[COMMON]\nBitmapFont=-5\nVectorFont=100000\n" + Font(1, 1, "V", 8, 8, 0, 0, 0));
    CLabelFontTable t;
    t.LoadFontTable(folder.Path().c_str(), 0, {});
    ASSERT_EQ(int(CLabelFontTable::MaxInfFonts), t.GetCount());
    EXPECT_STREQ("V", t.GetAt(0)->FontName);
    EXPECT_STREQ("", t.GetAt(1)->FontName);
}

TEST(LabelFontTable, ShippedFontFilesHoldTheNumberedFonts)
{
    const char* src = std::getenv("VESK_SOURCE");
    ASSERT_NE(nullptr, src);
    CString inf(WinPath(std::string(src) + "/inf").c_str());
    for (int language : {0, 2, 3, 4}) {
        CLabelFontTable t;
        t.LoadFontTable(inf, language, {{'A', 1252}, {'B', 0}});
        ASSERT_EQ(28, t.GetCount()) << language;
        // Fonts 10-18 and 19-25 are selected by the escape sequences; downloaded fonts from 26.
        for (int n = 0; n < 19; ++n)
            EXPECT_EQ(LABELFONT_BITMAP, t.GetAt(n)->FontType) << language << " " << n;
        for (int n = 19; n < 26; ++n)
            EXPECT_EQ(LABELFONT_VECTOR, t.GetAt(n)->FontType) << language << " " << n;
        EXPECT_STREQ("A", t.GetAt(26)->FontName);
        EXPECT_EQ(1252, t.GetAt(26)->extra);
        for (int n = 0; n < 26; ++n) {
            EXPECT_FALSE(t.GetAt(n)->FontName.IsEmpty()) << language << " " << n;
            EXPECT_GT(t.GetAt(n)->FontH, 0) << language << " " << n;
        }
        EXPECT_EQ(1, t.CurrentNumber());
    }
}

}  // namespace

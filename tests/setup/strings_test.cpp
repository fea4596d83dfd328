// The string tables: which table serves each system language, the texts as the resource holds
// them (UTF-16), and the Chinese texts in code page 936 when the process runs under a Chinese
// locale (the second run of this program, with LANG=zh_CN.UTF-8).
#include "FxRes.h"
#include "Skin.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>

namespace {
const LANGID kEnglish = 1033, kKorean = 1042, kChinese = 2052;
const UINT kLastId = 112;

std::wstring Exact(UINT id, LANGID lang)
{
    std::wstring w;
    FxLoadStringExact(id, lang, w);
    return w;
}

// The printf specifiers of a text, in order.
std::string Specifiers(const std::wstring& w)
{
    std::string out;
    for (size_t i = 0; i + 1 < w.size(); ++i)
        if (w[i] == L'%') {
            out += char(w[i + 1]);
            ++i;
        }
    return out;
}

struct LanguageGuard
{
    LANGID saved = FxGetStringLanguage();
    ~LanguageGuard() { FxSetStringLanguage(saved); }
};
}

TEST(StringTables, EachSystemLanguageGetsItsTableAndCaptionFont)
{
    struct Row
    {
        LANGID system;
        LANGID table;
        const char* font;
    } rows[] = {
        {kEnglish, kEnglish, "Arial"},
        {kKorean, kKorean, "Arial"},
        {kChinese, kChinese, "SimSun"},
        {1041, kEnglish, "Arial"},  // Japanese: no table of its own
        {0x0404, kEnglish, "Arial"},  // Chinese (Taiwan): no table of its own
    };
    LanguageGuard guard;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.system);
        FxSetStringLanguage(r.system);
        EXPECT_EQ(FxStringTableLanguage(1), r.table);
        EXPECT_EQ(FxStringTableLanguage(68), r.table);
        EXPECT_STREQ(FxLoadString(1), r.font);
    }
}

TEST(StringTables, EveryIdIsInAllThreeTablesWithTheSameSpecifiers)
{
    for (UINT id = 1; id <= kLastId; ++id) {
        if (id >= 76 && id <= 79)
            continue;  // no text of the program uses these ids
        SCOPED_TRACE(id);
        std::wstring en = Exact(id, kEnglish), ko = Exact(id, kKorean), zh = Exact(id, kChinese);
        EXPECT_FALSE(en.empty());
        EXPECT_EQ(ko, en) << "the Korean table holds the English texts";
        EXPECT_FALSE(zh.empty());
        EXPECT_EQ(Specifiers(zh), Specifiers(en));
    }
}

TEST(StringTables, TheTextsTheDialogsNameAreStoredAsWritten)
{
    struct Row
    {
        UINT id;
        LANGID lang;
        std::wstring text;
    } rows[] = {
        {1, kChinese, L"SimSun"},
        {13, kChinese, L"\x53d6\x6d88"},                      // Cancel
        {53, kChinese, L"\x4fdd\x5b58"},                      // Save
        {68, kChinese, L"\x8bfb\x53d6\x6ce8\x518c\x8868\x5931\x8d25\xff01"},
        {56, kChinese, L"\x786e\x5b9a\x8981\x5220\x9664 %s \x7684\x5168\x90e8\x8bbe\x7f6e\x4fe1\x606f\x5417\xff1f"},
        {1, kEnglish, L"Arial"},
        {37, kEnglish, L"Serial Ports Range"},
        {38, kEnglish, L"Parallel ports Range"},
        {39, kEnglish, L"Default"},
        {53, kEnglish, L"Save"},
        {68, kEnglish, L"Failed to road registry!"},
        {74, kEnglish, L"OPOSPrinter DeviceEnabled Error "},
        {112, kEnglish, L"Label Printer"},
    };
    for (const Row& r : rows)
        EXPECT_TRUE(Exact(r.id, r.lang) == r.text) << "string " << r.id << " of " << r.lang;
}

TEST(StringTables, TheFooterLinesAreNeutral)
{
    std::wregex maker(L"(http|www\\.|\\.com|\\u00a9|\\(c\\)|copyright|all rights)", std::regex::icase);
    for (LANGID lang : {kEnglish, kKorean, kChinese})
        for (UINT id : {105u, 106u}) {
            std::wstring t = Exact(id, lang);
            EXPECT_FALSE(t.empty());
            EXPECT_FALSE(std::regex_search(t, maker)) << "string " << id << " of " << lang;
        }
}

// Meaningful only in the run under a Chinese locale, which sets VESK_EXPECT_CHINESE.
TEST(ChineseLocale, TextsComeFromTheChineseTableInCodePage936)
{
    if (!std::getenv("VESK_EXPECT_CHINESE"))
        GTEST_SKIP() << "runs under LANG=zh_CN.UTF-8 only";
    EXPECT_EQ(GetACP(), 936u);
    EXPECT_EQ(GetDefaultLangId(), kChinese);
    LanguageGuard guard;
    EXPECT_EQ(ChooseUILanguage(), kChinese);
    EXPECT_EQ(FxStringTableLanguage(13), kChinese);
    EXPECT_STREQ(FxLoadString(1), "SimSun");
    EXPECT_STREQ(FxLoadString(13), "\xC8\xA1\xCF\xFB");  // Cancel
    EXPECT_STREQ(FxLoadString(53), "\xB1\xA3\xB4\xE6");  // Save
    CString msg;
    msg.Format(FxLoadString(56), "LP1");
    EXPECT_STREQ(msg, "\xC8\xB7\xB6\xA8\xD2\xAA\xC9\xBE\xB3\xFD LP1 \xB5\xC4\xC8\xAB\xB2\xBF\xC9\xE8\xD6\xC3"
                      "\xD0\xC5\xCF\xA2\xC2\xF0\xA3\xBF");
}

TEST(ChineseLocale, OutsideAChineseLocaleTheEnglishTableServes)
{
    if (std::getenv("VESK_EXPECT_CHINESE"))
        GTEST_SKIP() << "the other run";
    LanguageGuard guard;
    LANGID id = ChooseUILanguage();
    if (id == kChinese || id == kKorean)
        GTEST_SKIP() << "the machine's own language has a table";
    EXPECT_STREQ(FxLoadString(13), "Cancel");
}

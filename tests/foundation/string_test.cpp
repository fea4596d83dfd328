// CString: reference counting, the header layout of a string handle, and the operations the
// libraries use. Runs natively (sanitizers) and under Wine.
#include "FxString.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(CString, HandleIsTheCharacterPointerAfterAFourWordHeader)
{
    CString s("COM7");
    const char* h = s.GetString();
    CStringData* d = CString::DataOf(h);
    EXPECT_EQ(reinterpret_cast<const char*>(d + 1), h);
    EXPECT_EQ(d->nDataLength, 4);
    EXPECT_GE(d->nAllocLength, 4);
    EXPECT_EQ(d->nRefs, 1);
    EXPECT_STREQ(h, "COM7");
#if defined(_WIN32) && !defined(_WIN64)
    // The record other libraries exchange: four 32-bit words before the characters.
    static_assert(sizeof(CStringData) == 16, "string header is four 32-bit words");
    static_assert(sizeof(CString) == 4, "a CString is its character pointer");
#endif
}

TEST(CString, CopiesShareOneBlockAndCountReferences)
{
    CString a("label");
    EXPECT_EQ(a.GetRefCount(), 1);
    {
        CString b(a);
        CString c;
        c = b;
        EXPECT_EQ(a.GetString(), b.GetString());
        EXPECT_EQ(a.GetString(), c.GetString());
        EXPECT_EQ(a.GetRefCount(), 3);
        // Writing into a copy unshares it; the others keep their text.
        c.SetAt(0, 'L');
        EXPECT_EQ(c, "Label");
        EXPECT_EQ(a, "label");
        EXPECT_EQ(a.GetRefCount(), 2);
        b += "s";
        EXPECT_EQ(b, "labels");
        EXPECT_EQ(a.GetRefCount(), 1);
    }
    EXPECT_EQ(a.GetRefCount(), 1);
    CString moved(std::move(a));
    EXPECT_EQ(moved.GetRefCount(), 1);
    EXPECT_TRUE(a.IsEmpty());  // NOLINT: a moved-from string is empty by contract
}

TEST(CString, HandlesTakeAndDropReferences)
{
    CString s("192.168.0.10");
    char* h = s.AddRefHandle();
    EXPECT_EQ(h, s.GetString());
    EXPECT_EQ(s.GetRefCount(), 2);
    {
        CString other = CString::FromHandle(h);
        EXPECT_EQ(other.GetString(), h);
        EXPECT_EQ(s.GetRefCount(), 3);
    }
    CString::ReleaseHandle(h);
    EXPECT_EQ(s.GetRefCount(), 1);
    CString::ReleaseHandle(nullptr);
    EXPECT_TRUE(CString::FromHandle(nullptr).IsEmpty());

    // The last reference may be the handle: dropping it frees the block (ASan checks this).
    char* lone;
    {
        CString t("COM3");
        lone = t.AddRefHandle();
    }
    EXPECT_STREQ(lone, "COM3");
    CString::ReleaseHandle(lone);
}

TEST(CString, EmptyHandlesOfAnotherLibraryAreNeverFreed)
{
    // Another library's shared empty block: same header, negative count.
    struct
    {
        CStringData header;
        char nul;
    } foreign = {{nullptr, 0, 0, -1}, 0};
    char* h = foreign.header.data();
    CString s = CString::FromHandle(h);
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_NE(s.GetString(), h);  // our own empty block, not theirs
    CString::ReleaseHandle(h);
    EXPECT_EQ(foreign.header.nRefs, -1);
    CString e;
    char* eh = e.AddRefHandle();
    CString::ReleaseHandle(eh);
    EXPECT_TRUE(e.IsEmpty());
}

TEST(CString, ConstructionAndAssignment)
{
    EXPECT_EQ(CString("abc", 2), "ab");
    EXPECT_EQ(CString(static_cast<const char*>(nullptr)), "");
    EXPECT_EQ(CString(nullptr, 5), "");
    EXPECT_EQ(CString("abc", -1), "");
    EXPECT_EQ(CString('x', 3), "xxx");
    EXPECT_EQ(CString('x', 0), "");
    CString s("self");
    s = s.GetString() + 1;  // assigning from its own characters
    EXPECT_EQ(s, "elf");
    s = 'q';
    EXPECT_EQ(s, "q");
    s.Empty();
    EXPECT_EQ(s.GetLength(), 0);
    EXPECT_EQ(s.GetAt(5), '\0');
    EXPECT_EQ(s.GetAt(-1), '\0');
}

TEST(CString, AppendingIncludingItself)
{
    CString s("ab");
    s += s;
    EXPECT_EQ(s, "abab");
    s.Append(s.GetString() + 1, 2);
    EXPECT_EQ(s, "ababba");
    s += 'c';
    s += static_cast<const char*>(nullptr);
    EXPECT_EQ(s, "ababbac");
    for (int i = 0; i < 1000; ++i)
        s += "0123456789";
    EXPECT_EQ(s.GetLength(), 7 + 10000);
    EXPECT_EQ(s.Right(3), "789");
    EXPECT_EQ(CString("a") + CString("b") + "c" + 'd', "abcd");
    EXPECT_EQ('x' + CString("y"), "xy");
    EXPECT_EQ("x" + CString("y"), "xy");
}

TEST(CString, Comparisons)
{
    CString a("COM1");
    EXPECT_TRUE(a == "COM1");
    EXPECT_TRUE("COM1" == a);
    EXPECT_TRUE(a != "com1");
    EXPECT_EQ(a.CompareNoCase("com1"), 0);
    EXPECT_LT(a.Compare("COM2"), 0);
    EXPECT_GT(a.Compare(nullptr), 0);
    EXPECT_TRUE(CString("a") < CString("b"));
    EXPECT_TRUE(CString("b") > CString("a"));
    EXPECT_TRUE(CString() == static_cast<const char*>(nullptr));
    EXPECT_LT(CString("A").CompareNoCase("b"), 0);
}

TEST(CString, MidLeftRightClampTheirArguments)
{
    CString s("Ethernet");
    EXPECT_EQ(s.Mid(3), "ernet");
    EXPECT_EQ(s.Mid(3, 2), "er");
    EXPECT_EQ(s.Mid(-4, 3), "Eth");
    EXPECT_EQ(s.Mid(100), "");
    EXPECT_EQ(s.Mid(2, -1), "");
    EXPECT_EQ(s.Mid(6, 100), "et");
    EXPECT_EQ(s.Left(3), "Eth");
    EXPECT_EQ(s.Left(-1), "");
    EXPECT_EQ(s.Left(99), "Ethernet");
    EXPECT_EQ(s.Right(3), "net");
    EXPECT_EQ(s.Right(99), "Ethernet");
    EXPECT_EQ(s.Right(-2), "");
}

TEST(CString, Finding)
{
    CString s("C:\\Program Files\\VESK\\Log");
    EXPECT_EQ(s.Find('\\'), 2);
    EXPECT_EQ(s.Find('\\', 3), 16);
    EXPECT_EQ(s.Find('#'), -1);
    EXPECT_EQ(s.Find('C', 100), -1);
    EXPECT_EQ(s.Find('C', -1), -1);
    EXPECT_EQ(s.Find("VESK"), 17);
    EXPECT_EQ(s.Find("VESK", 18), -1);
    EXPECT_EQ(s.Find(static_cast<const char*>(nullptr)), -1);
    EXPECT_EQ(s.Find("", 0), 0);
    EXPECT_EQ(s.ReverseFind('\\'), 21);
    EXPECT_EQ(s.Left(s.ReverseFind('\\')), "C:\\Program Files\\VESK");
    EXPECT_EQ(s.FindOneOf("FV"), 11);
    EXPECT_EQ(s.FindOneOf(""), -1);
    EXPECT_EQ(s.FindOneOf(nullptr), -1);
    EXPECT_EQ(CString("abc").ReverseFind('z'), -1);
}

TEST(CString, CaseReverseReplaceRemove)
{
    CString s("usb%03d:");
    CString copy(s);
    s.MakeUpper();
    EXPECT_EQ(s, "USB%03D:");
    EXPECT_EQ(copy, "usb%03d:");
    EXPECT_EQ(CString("AbC").MakeLower(), "abc");
    EXPECT_EQ(CString("abc").MakeReverse(), "cba");
    CString r("a.b.c");
    EXPECT_EQ(r.Replace('.', '\\'), 2);
    EXPECT_EQ(r, "a\\b\\c");
    CString t("1.13.005.13");
    EXPECT_EQ(t.Replace(".13", "#"), 2);
    EXPECT_EQ(t, "1#.005#");
    EXPECT_EQ(t.Replace("", "x"), 0);
    EXPECT_EQ(t.Replace("#", nullptr), 2);
    EXPECT_EQ(t, "1.005");
    EXPECT_EQ(t.Remove('0'), 2);
    EXPECT_EQ(t, "1.5");
    EXPECT_EQ(t.Remove('z'), 0);
}

TEST(CString, InsertDeleteTrim)
{
    CString s("COM");
    EXPECT_EQ(s.Insert(3, "12"), 5);
    EXPECT_EQ(s.Insert(-5, '<'), 6);
    EXPECT_EQ(s.Insert(99, '>'), 7);
    EXPECT_EQ(s, "<COM12>");
    s.Insert(1, s.GetString() + 4);  // inserting its own characters
    EXPECT_EQ(s, "<12>COM12>");
    EXPECT_EQ(s.Delete(0, 4), 6);
    EXPECT_EQ(s.Delete(3, 100), 3);
    EXPECT_EQ(s.Delete(10, 1), 3);
    EXPECT_EQ(s.Delete(0, -1), 3);
    EXPECT_EQ(s, "COM");
    CString t("  \t value \r\n");
    EXPECT_EQ(CString(t).Trim(), "value");
    EXPECT_EQ(CString(t).TrimLeft(), "value \r\n");
    EXPECT_EQ(CString(t).TrimRight(), "  \t value");
    EXPECT_EQ(CString("xxaxx").Trim("x"), "a");
    EXPECT_EQ(CString("   ").Trim(), "");
    EXPECT_EQ(CString("ab").TrimRight(nullptr), "ab");
}

TEST(CString, Tokenize)
{
    CString s(",COM1,,COM2");
    int pos = 0;
    EXPECT_EQ(s.Tokenize(",", pos), "COM1");
    EXPECT_EQ(s.Tokenize(",", pos), "COM2");
    EXPECT_EQ(s.Tokenize(",", pos), "");
    EXPECT_EQ(pos, -1);
    pos = 100;
    EXPECT_EQ(s.Tokenize(",", pos), "");
    EXPECT_EQ(pos, -1);
    pos = 0;
    EXPECT_EQ(CString(",,,").Tokenize(",", pos), "");
    EXPECT_EQ(pos, -1);
}

TEST(CString, FormatWithWidths)
{
    CString s;
    s.Format("d_%s_%d_%02d%02d%02d.log", "Com", 10000, 12, 8, 14);
    EXPECT_EQ(s, "d_Com_10000_120814.log");
    s.Format("%s", s.GetString());  // its own characters as an argument
    EXPECT_EQ(s, "d_Com_10000_120814.log");
    s.AppendFormat(" %02x", 0xA);
    EXPECT_EQ(s, "d_Com_10000_120814.log 0a");
    s.Format("%s", "");
    EXPECT_TRUE(s.IsEmpty());
    CString big;
    big.Format("%0500d", 7);
    EXPECT_EQ(big.GetLength(), 500);
    EXPECT_EQ(big.Right(2), "07");
}

TEST(CString, BufferAccess)
{
    CString s;
    char* p = s.GetBuffer(64);
    std::strcpy(p, "from the platform");
    s.ReleaseBuffer();
    EXPECT_EQ(s, "from the platform");
    EXPECT_EQ(s.GetLength(), 17);

    CString shared(s);
    p = s.GetBuffer(0);  // unshares first
    p[0] = 'F';
    s.ReleaseBuffer(4);
    EXPECT_EQ(s, "From");
    EXPECT_EQ(shared, "from the platform");

    p = s.GetBufferSetLength(2);
    EXPECT_EQ(s.GetLength(), 2);
    p[1] = 'x';
    s.ReleaseBuffer(2);
    EXPECT_EQ(s, "Fx");
    s.GetBuffer(8);
    s.ReleaseBuffer(1000);  // clamped to what the block holds
    EXPECT_LE(s.GetLength(), CString::DataOf(s.GetString())->nAllocLength);
    s.GetBuffer(1);
    s.ReleaseBuffer(0);
    EXPECT_TRUE(s.IsEmpty());
    CString e;
    EXPECT_NE(e.GetBuffer(0), nullptr);
    e.ReleaseBuffer();
    EXPECT_TRUE(e.IsEmpty());
}

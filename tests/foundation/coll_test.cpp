// The framework's lists and arrays, and the run-time class query of CObject.
#include "FxColl.h"

#include <gtest/gtest.h>

#include <string>

namespace {
std::string Join(const CStringList& l)
{
    std::string s;
    for (POSITION p = l.GetHeadPosition(); p;)
        s += std::string(l.GetNext(p)) + "|";
    return s;
}

class CEntry : public CObject
{
    DECLARE_DYNAMIC(CEntry)
public:
    explicit CEntry(int v) : value(v) {}
    int value;
};
IMPLEMENT_DYNAMIC(CEntry, CObject)

class CSubEntry : public CEntry
{
    DECLARE_DYNAMIC(CSubEntry)
public:
    CSubEntry() : CEntry(0) {}
};
IMPLEMENT_DYNAMIC(CSubEntry, CEntry)
}

TEST(FxList, HeadTailAndPositions)
{
    CStringList l;
    EXPECT_TRUE(l.IsEmpty());
    EXPECT_EQ(l.GetHeadPosition(), nullptr);
    l.AddTail("b");
    l.AddHead("a");
    POSITION c = l.AddTail("c");
    EXPECT_EQ(Join(l), "a|b|c|");
    EXPECT_EQ(l.GetCount(), 3);
    l.InsertBefore(c, "b2");
    l.InsertAfter(c, "d");
    l.InsertBefore(nullptr, "0");
    l.InsertAfter(nullptr, "e");
    EXPECT_EQ(Join(l), "0|a|b|b2|c|d|e|");
    EXPECT_EQ(l.GetAt(c), "c");
    l.SetAt(c, "C");
    // Walking backwards from the tail.
    std::string back;
    for (POSITION p = l.GetTailPosition(); p;)
        back += std::string(l.GetPrev(p));
    EXPECT_EQ(back, "edCb2ba0");
    // A position stays valid while other elements go.
    l.RemoveAt(l.FindIndex(0));
    l.RemoveAt(l.Find("b2"));
    EXPECT_EQ(l.GetAt(c), "C");
    EXPECT_EQ(l.RemoveHead(), "a");
    EXPECT_EQ(l.RemoveTail(), "e");
    EXPECT_EQ(Join(l), "b|C|d|");
    EXPECT_EQ(l.GetHead(), "b");
    EXPECT_EQ(l.GetTail(), "d");
    EXPECT_EQ(l.FindIndex(3), nullptr);
    EXPECT_EQ(l.FindIndex(-1), nullptr);
    EXPECT_EQ(l.Find("zz"), nullptr);
    l.RemoveAll();
    EXPECT_EQ(l.GetCount(), 0);
    EXPECT_EQ(l.GetTailPosition(), nullptr);
}

TEST(FxList, FindStartsAfterAPosition)
{
    CPtrList l;
    int x = 0, y = 0;
    POSITION first = l.AddTail(&x);
    l.AddTail(&y);
    POSITION second = l.AddTail(&x);
    EXPECT_EQ(l.Find(&x), first);
    EXPECT_EQ(l.Find(&x, first), second);
    EXPECT_EQ(l.Find(&x, second), nullptr);
}

TEST(FxList, ObjectListsHoldPointersAndKnowClasses)
{
    CObList l;
    CEntry a(1);
    CSubEntry b;
    l.AddTail(&a);
    l.AddTail(&b);
    POSITION p = l.GetHeadPosition();
    CObject* o = l.GetNext(p);
    EXPECT_TRUE(o->IsKindOf(RUNTIME_CLASS(CEntry)));
    EXPECT_FALSE(o->IsKindOf(RUNTIME_CLASS(CSubEntry)));
    o = l.GetNext(p);
    EXPECT_TRUE(o->IsKindOf(RUNTIME_CLASS(CEntry)));
    EXPECT_TRUE(o->IsKindOf(RUNTIME_CLASS(CObject)));
    EXPECT_STREQ(o->GetRuntimeClass()->m_lpszClassName, "CSubEntry");
    EXPECT_EQ(p, nullptr);
}

TEST(FxArray, GrowInsertRemove)
{
    CStringArray a;
    EXPECT_EQ(a.GetUpperBound(), -1);
    EXPECT_EQ(a.Add("x"), 0);
    a.SetAtGrow(3, "d");
    EXPECT_EQ(a.GetSize(), 4);
    EXPECT_EQ(a[1], "");
    a.InsertAt(1, "i", 2);
    EXPECT_EQ(a.GetSize(), 6);
    EXPECT_EQ(a[1], "i");
    EXPECT_EQ(a[2], "i");
    EXPECT_EQ(a[5], "d");
    a.RemoveAt(1, 100);
    EXPECT_EQ(a.GetSize(), 1);
    a.RemoveAt(5);
    a.RemoveAt(-1);
    a.SetAtGrow(-1, "ignored");
    a.InsertAt(-2, "ignored");
    EXPECT_EQ(a.GetSize(), 1);
    a.InsertAt(3, "t");  // past the end grows the array
    EXPECT_EQ(a.GetSize(), 4);
    EXPECT_EQ(a[3], "t");

    CStringArray b;
    b.Add("y");
    EXPECT_EQ(b.Append(a), 1);
    EXPECT_EQ(b.GetSize(), 5);
    EXPECT_EQ(b[1], "x");
    CStringArray c;
    c.Copy(b);
    EXPECT_EQ(c.GetSize(), 5);
    c.RemoveAll();
    EXPECT_TRUE(c.IsEmpty());
    EXPECT_EQ(c.GetData(), nullptr);

    CByteArray bytes;
    bytes.SetSize(3);
    bytes[2] = 0x35;
    EXPECT_EQ(bytes.GetData()[2], 0x35);
    bytes.SetSize(-4);
    EXPECT_EQ(bytes.GetSize(), 0);
    CDWordArray dw;
    dw.Add(0xFFFFFFFFu);
    EXPECT_EQ(dw.GetAt(0), 0xFFFFFFFFu);
}

TEST(FxMap, LookupSetRemoveAndWalk)
{
    CMapStringToString m;
    CString v("unchanged");
    EXPECT_FALSE(m.Lookup("COM1", v));
    EXPECT_EQ(v, "unchanged");
    m.SetAt("COM3", "label");
    m.SetAt("COM1", "receipt");
    m["USB001:"] = "usb";
    m.SetAt("COM3", "label2");  // replaces
    EXPECT_EQ(m.GetCount(), 3);
    EXPECT_TRUE(m.Lookup("COM3", v));
    EXPECT_EQ(v, "label2");
    std::string walk;
    CString key, value;
    for (POSITION p = m.GetStartPosition(); p;) {
        m.GetNextAssoc(p, key, value);
        walk += std::string(key) + "=" + std::string(value) + ";";
    }
    EXPECT_EQ(walk, "COM1=receipt;COM3=label2;USB001:=usb;");
    EXPECT_TRUE(m.RemoveKey("COM1"));
    EXPECT_FALSE(m.RemoveKey("COM1"));
    EXPECT_EQ(m.GetCount(), 2);
    m.RemoveAll();
    EXPECT_TRUE(m.IsEmpty());
    EXPECT_EQ(m.GetStartPosition(), nullptr);

    CMapPtrToPtr pp;
    int a = 0;
    pp.SetAt(&a, &a);
    void* out = nullptr;
    EXPECT_TRUE(pp.Lookup(&a, out));
    EXPECT_EQ(out, &a);
    CMapWordToPtr wp;
    wp[7] = &a;
    EXPECT_TRUE(wp.Lookup(7, out));
    EXPECT_FALSE(wp.Lookup(8, out));
}

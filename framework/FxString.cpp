#include "FxString.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// Tag in the manager word of every block this framework made.
char g_stringManagerTag;

struct EmptyBlock
{
    CStringData header;
    char nul;
};
EmptyBlock g_empty = {{&g_stringManagerTag, 0, 0, -1}, 0};

char* EmptyChars() { return g_empty.header.data(); }

void* AllocBlock(size_t bytes)
{
#ifdef _WIN32
    void* p = HeapAlloc(GetProcessHeap(), 0, bytes);
#else
    void* p = std::malloc(bytes);
#endif
    if (!p)
        throw std::bad_alloc();
    return p;
}

void FreeBlock(void* p)
{
#ifdef _WIN32
    HeapFree(GetProcessHeap(), 0, p);
#else
    std::free(p);
#endif
}

long Increment(long* p) { return __atomic_add_fetch(p, 1, __ATOMIC_ACQ_REL); }
long Decrement(long* p) { return __atomic_sub_fetch(p, 1, __ATOMIC_ACQ_REL); }

CStringData* NewData(int alloc)
{
    if (alloc <= 0)
        return &g_empty.header;
    CStringData* d = static_cast<CStringData*>(AllocBlock(sizeof(CStringData) + size_t(alloc) + 1));
    d->pStringMgr = &g_stringManagerTag;
    d->nDataLength = 0;
    d->nAllocLength = alloc;
    d->nRefs = 1;
    d->data()[0] = 0;
    return d;
}

void Release(CStringData* d)
{
    if (d->nRefs < 0)
        return;
    if (Decrement(&d->nRefs) == 0)
        FreeBlock(d);
}

int SafeLen(const char* psz) { return psz ? int(std::strlen(psz)) : 0; }


} // namespace

CString::CString() : m_pszData(EmptyChars()) {}

CString::CString(const CString& s) : m_pszData(s.m_pszData)
{
    CStringData* d = GetData();
    if (d->nRefs >= 0)
        Increment(&d->nRefs);
}

CString::CString(CString&& s) noexcept : m_pszData(s.m_pszData) { s.m_pszData = EmptyChars(); }

CString::CString(const char* psz) : m_pszData(EmptyChars()) { Assign(psz, SafeLen(psz)); }

CString::CString(const char* pch, int nLength) : m_pszData(EmptyChars())
{
    Assign(pch, (pch && nLength > 0) ? nLength : 0);
}

CString::CString(char ch, int nRepeat) : m_pszData(EmptyChars())
{
    if (nRepeat > 0) {
        PrepareWrite(nRepeat);
        std::memset(m_pszData, ch, size_t(nRepeat));
        SetLength(nRepeat);
    }
}

CString::~CString() { Release(GetData()); }

CString& CString::operator=(const CString& s)
{
    if (s.m_pszData != m_pszData) {
        CStringData* d = s.GetData();
        if (d->nRefs >= 0)
            Increment(&d->nRefs);
        Release(GetData());
        m_pszData = s.m_pszData;
    }
    return *this;
}

CString& CString::operator=(CString&& s) noexcept
{
    if (this != &s) {
        Release(GetData());
        m_pszData = s.m_pszData;
        s.m_pszData = EmptyChars();
    }
    return *this;
}

CString& CString::operator=(const char* psz)
{
    Assign(psz, SafeLen(psz));
    return *this;
}

CString& CString::operator=(char ch)
{
    Assign(&ch, 1);
    return *this;
}

void CString::Assign(const char* pch, int n)
{
    if (n <= 0) {
        Empty();
        return;
    }
    // pch may point into our own block: build the new block before dropping the old one.
    CStringData* nd = NewData(n);
    std::memcpy(nd->data(), pch, size_t(n));
    nd->data()[n] = 0;
    nd->nDataLength = n;
    Release(GetData());
    m_pszData = nd->data();
}

void CString::Empty()
{
    Release(GetData());
    m_pszData = EmptyChars();
}

void CString::PrepareWrite(int minAlloc)
{
    CStringData* d = GetData();
    if (d->nRefs == 1 && d->nAllocLength >= minAlloc)
        return;
    int len = d->nDataLength;
    int alloc = minAlloc > len ? minAlloc : len;
    if (alloc <= 0) {
        Empty();
        return;
    }
    if (d->nRefs == 1 && alloc < d->nAllocLength * 2)
        alloc = d->nAllocLength * 2 > alloc ? d->nAllocLength * 2 : alloc;
    CStringData* nd = NewData(alloc);
    std::memcpy(nd->data(), d->data(), size_t(len) + 1);
    nd->nDataLength = len;
    Release(d);
    m_pszData = nd->data();
}

void CString::SetLength(int n)
{
    CStringData* d = GetData();
    if (d->nRefs < 0)
        return;
    d->nDataLength = n;
    m_pszData[n] = 0;
}

char CString::GetAt(int i) const
{
    return (i >= 0 && i < GetLength()) ? m_pszData[i] : '\0';
}

void CString::SetAt(int i, char ch)
{
    if (i < 0 || i >= GetLength())
        return;
    PrepareWrite(GetLength());
    m_pszData[i] = ch;
}

void CString::Append(const char* pch, int n)
{
    if (!pch || n <= 0)
        return;
    int len = GetLength();
    // The source may be our own characters; keep the old block alive until copied.
    if (pch >= m_pszData && pch <= m_pszData + len) {
        CString keep(*this);
        PrepareWrite(len + n);
        std::memcpy(m_pszData + len, keep.m_pszData + (pch - keep.m_pszData), size_t(n));
    } else {
        PrepareWrite(len + n);
        std::memcpy(m_pszData + len, pch, size_t(n));
    }
    SetLength(len + n);
}

CString& CString::operator+=(const CString& s)
{
    if (IsEmpty()) {
        *this = s;
        return *this;
    }
    CString keep(s);
    Append(keep.m_pszData, keep.GetLength());
    return *this;
}

CString& CString::operator+=(const char* psz)
{
    Append(psz, SafeLen(psz));
    return *this;
}

CString& CString::operator+=(char ch)
{
    Append(&ch, 1);
    return *this;
}

int CString::Compare(const char* psz) const { return std::strcmp(m_pszData, psz ? psz : ""); }

int CString::CompareNoCase(const char* psz) const
{
    const unsigned char* a = reinterpret_cast<const unsigned char*>(m_pszData);
    const unsigned char* b = reinterpret_cast<const unsigned char*>(psz ? psz : "");
    for (;; ++a, ++b) {
        int ca = std::tolower(*a), cb = std::tolower(*b);
        if (ca != cb)
            return ca < cb ? -1 : 1;
        if (!ca)
            return 0;
    }
}

CString CString::Mid(int first) const { return Mid(first, GetLength() - (first < 0 ? 0 : first)); }

CString CString::Mid(int first, int count) const
{
    int len = GetLength();
    if (first < 0)
        first = 0;
    if (first > len)
        first = len;
    if (count < 0)
        count = 0;
    if (count > len - first)
        count = len - first;
    if (first == 0 && count == len)
        return *this;
    return CString(m_pszData + first, count);
}

CString CString::Left(int count) const { return Mid(0, count); }

CString CString::Right(int count) const
{
    int len = GetLength();
    if (count < 0)
        count = 0;
    if (count > len)
        count = len;
    return Mid(len - count, count);
}

CString CString::SpanIncluding(const char* set) const
{
    return Left(int(std::strspn(m_pszData, set ? set : "")));
}

CString CString::SpanExcluding(const char* set) const
{
    return Left(int(std::strcspn(m_pszData, set ? set : "")));
}

CString CString::Tokenize(const char* delims, int& start) const
{
    int len = GetLength();
    if (start < 0 || start >= len) {
        start = -1;
        return CString();
    }
    const char* d = delims ? delims : "";
    int b = start + int(std::strspn(m_pszData + start, d));
    if (b >= len) {
        start = -1;
        return CString();
    }
    int e = b + int(std::strcspn(m_pszData + b, d));
    start = e < len ? e + 1 : e;
    return Mid(b, e - b);
}

int CString::Find(char ch, int start) const
{
    if (start < 0 || start >= GetLength())
        return -1;
    const char* p = static_cast<const char*>(std::memchr(m_pszData + start, ch, size_t(GetLength() - start)));
    return p ? int(p - m_pszData) : -1;
}

int CString::Find(const char* sub, int start) const
{
    if (!sub || start < 0 || start > GetLength())
        return -1;
    const char* p = std::strstr(m_pszData + start, sub);
    return p ? int(p - m_pszData) : -1;
}

int CString::ReverseFind(char ch) const
{
    for (int i = GetLength() - 1; i >= 0; --i)
        if (m_pszData[i] == ch)
            return i;
    return -1;
}

int CString::FindOneOf(const char* set) const
{
    if (!set || !*set)
        return -1;
    size_t n = std::strcspn(m_pszData, set);
    return int(n) < GetLength() ? int(n) : -1;
}

CString& CString::MakeUpper()
{
    if (!IsEmpty()) {
        PrepareWrite(GetLength());
#ifdef _WIN32
        CharUpperBuffA(m_pszData, DWORD(GetLength()));
#else
        for (char* p = m_pszData; *p; ++p)
            *p = char(std::toupper(static_cast<unsigned char>(*p)));
#endif
    }
    return *this;
}

CString& CString::MakeLower()
{
    if (!IsEmpty()) {
        PrepareWrite(GetLength());
#ifdef _WIN32
        CharLowerBuffA(m_pszData, DWORD(GetLength()));
#else
        for (char* p = m_pszData; *p; ++p)
            *p = char(std::tolower(static_cast<unsigned char>(*p)));
#endif
    }
    return *this;
}

CString& CString::MakeReverse()
{
    if (GetLength() > 1) {
        PrepareWrite(GetLength());
        for (int i = 0, j = GetLength() - 1; i < j; ++i, --j) {
            char t = m_pszData[i];
            m_pszData[i] = m_pszData[j];
            m_pszData[j] = t;
        }
    }
    return *this;
}

int CString::Replace(char oldCh, char newCh)
{
    int n = 0;
    for (int i = 0; i < GetLength(); ++i)
        if (m_pszData[i] == oldCh)
            ++n;
    if (n && oldCh != newCh) {
        PrepareWrite(GetLength());
        for (int i = 0; i < GetLength(); ++i)
            if (m_pszData[i] == oldCh)
                m_pszData[i] = newCh;
    }
    return n;
}

int CString::Replace(const char* oldText, const char* newText)
{
    int oldLen = SafeLen(oldText);
    if (oldLen == 0)
        return 0;
    CString out;
    int n = 0, pos = 0;
    for (int hit; (hit = Find(oldText, pos)) >= 0; pos = hit + oldLen, ++n) {
        out.Append(m_pszData + pos, hit - pos);
        out += newText;
    }
    if (n) {
        out.Append(m_pszData + pos, GetLength() - pos);
        *this = out;
    }
    return n;
}

int CString::Remove(char ch)
{
    int len = GetLength();
    if (Find(ch) < 0)
        return 0;
    PrepareWrite(len);
    int w = 0;
    for (int r = 0; r < len; ++r)
        if (m_pszData[r] != ch)
            m_pszData[w++] = m_pszData[r];
    SetLength(w);
    return len - w;
}

int CString::Insert(int index, char ch)
{
    char s[2] = {ch, 0};
    return Insert(index, s);
}

int CString::Insert(int index, const char* psz)
{
    int len = GetLength();
    int n = SafeLen(psz);
    if (index < 0)
        index = 0;
    if (index > len)
        index = len;
    if (n) {
        CString keep(psz);  // psz may point into our own block
        PrepareWrite(len + n);
        std::memmove(m_pszData + index + n, m_pszData + index, size_t(len - index));
        std::memcpy(m_pszData + index, keep.m_pszData, size_t(n));
        SetLength(len + n);
    }
    return GetLength();
}

int CString::Delete(int index, int count)
{
    int len = GetLength();
    if (index < 0)
        index = 0;
    if (count > 0 && index < len) {
        if (count > len - index)
            count = len - index;
        PrepareWrite(len);
        std::memmove(m_pszData + index, m_pszData + index + count, size_t(len - index - count));
        SetLength(len - count);
    }
    return GetLength();
}

CString& CString::Trim() { return TrimRight().TrimLeft(); }
CString& CString::Trim(const char* set) { return TrimRight(set).TrimLeft(set); }

CString& CString::TrimLeft() { return TrimLeft(" \t\r\n\v\f"); }

CString& CString::TrimLeft(const char* set)
{
    int n = int(std::strspn(m_pszData, set ? set : ""));
    if (n)
        Delete(0, n);
    return *this;
}

CString& CString::TrimRight() { return TrimRight(" \t\r\n\v\f"); }

CString& CString::TrimRight(const char* set)
{
    int len = GetLength();
    int e = len;
    while (e > 0 && set && std::strchr(set, m_pszData[e - 1]) && m_pszData[e - 1])
        --e;
    if (e != len) {
        PrepareWrite(len);
        SetLength(e);
    }
    return *this;
}

void CString::FormatV(const char* fmt, va_list args)
{
    if (!fmt) {
        Empty();
        return;
    }
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    if (n <= 0) {
        Empty();
        return;
    }
    CStringData* nd = NewData(n);
    std::vsnprintf(nd->data(), size_t(n) + 1, fmt, args);
    nd->nDataLength = n;
    Release(GetData());
    m_pszData = nd->data();
}

void CString::Format(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    FormatV(fmt, ap);
    va_end(ap);
}

void CString::AppendFormat(const char* fmt, ...)
{
    CString piece;
    va_list ap;
    va_start(ap, fmt);
    piece.FormatV(fmt, ap);
    va_end(ap);
    *this += piece;
}

char* CString::GetBuffer(int minLength)
{
    PrepareWrite(minLength > GetLength() ? minLength : GetLength());
    if (GetData()->nRefs < 0) {
        // Nothing to write into yet: give a private block so the caller always has one.
        CStringData* nd = NewData(1);
        m_pszData = nd->data();
    }
    return m_pszData;
}

char* CString::GetBufferSetLength(int length)
{
    if (length < 0)
        length = 0;
    char* p = GetBuffer(length);
    if (GetData()->nRefs >= 0)
        SetLength(length);
    return p;
}

void CString::ReleaseBuffer(int newLength)
{
    CStringData* d = GetData();
    if (d->nRefs < 0)
        return;
    if (newLength < 0)
        newLength = int(strnlen(m_pszData, size_t(d->nAllocLength)));
    if (newLength > d->nAllocLength)
        newLength = d->nAllocLength;
    SetLength(newLength);
    if (newLength == 0)
        Empty();
}

char* CString::AddRefHandle() const
{
    CStringData* d = GetData();
    if (d->nRefs >= 0)
        Increment(&d->nRefs);
    return m_pszData;
}

CStringData* CString::DataOf(const char* handle)
{
    return handle ? reinterpret_cast<CStringData*>(const_cast<char*>(handle)) - 1 : nullptr;
}

void CString::ReleaseHandle(const char* handle)
{
    if (handle)
        Release(DataOf(handle));
}

CString CString::FromHandle(const char* handle)
{
    CString s;
    if (handle) {
        CStringData* d = DataOf(handle);
        if (d->nRefs >= 0)
            Increment(&d->nRefs);
        else
            return CString(handle);  // another library's empty block: keep our own
        s.m_pszData = const_cast<char*>(handle);
    }
    return s;
}

CString operator+(const CString& a, const CString& b)
{
    CString r(a);
    r += b;
    return r;
}
CString operator+(const CString& a, const char* b)
{
    CString r(a);
    r += b;
    return r;
}
CString operator+(const char* a, const CString& b)
{
    CString r(a);
    r += b;
    return r;
}
CString operator+(const CString& a, char b)
{
    CString r(a);
    r += b;
    return r;
}
CString operator+(char a, const CString& b)
{
    CString r(a);
    r += b;
    return r;
}

bool operator==(const CString& a, const CString& b)
{
    return a.GetLength() == b.GetLength() && a.Compare(b) == 0;
}
bool operator==(const CString& a, const char* b) { return a.Compare(b) == 0; }
bool operator==(const char* a, const CString& b) { return b.Compare(a) == 0; }
bool operator!=(const CString& a, const CString& b) { return !(a == b); }
bool operator!=(const CString& a, const char* b) { return !(a == b); }
bool operator!=(const char* a, const CString& b) { return !(a == b); }
bool operator<(const CString& a, const CString& b) { return a.Compare(b) < 0; }
bool operator>(const CString& a, const CString& b) { return a.Compare(b) > 0; }

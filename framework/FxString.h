// CString: the framework's reference-counted 8-bit string.
//
// The object is one pointer to the characters, which are preceded by a header of four words
// {manager, length, allocated length, reference count}. That pointer is the "string handle" that
// crosses DLL boundaries as plain data: the blocks come from the process heap, so whichever
// library drops the last reference can free the block.
#pragma once

#include "FxTypes.h"
#include <cstdarg>
#include <cstddef>

struct CStringData
{
    void* pStringMgr;   // marks blocks of this framework (and the shared empty block)
    int nDataLength;    // characters, without the terminating NUL
    int nAllocLength;   // characters the block can hold, without the NUL
    long nRefs;         // < 0: the shared empty block, never freed

    char* data() { return reinterpret_cast<char*>(this + 1); }
};

class CString
{
public:
    CString();
    CString(const CString& s);
    CString(CString&& s) noexcept;
    CString(const char* psz);
    CString(const char* pch, int nLength);
    CString(char ch, int nRepeat = 1);
    ~CString();

    CString& operator=(const CString& s);
    CString& operator=(CString&& s) noexcept;
    CString& operator=(const char* psz);
    CString& operator=(char ch);

    int GetLength() const { return GetData()->nDataLength; }
    bool IsEmpty() const { return GetLength() == 0; }
    void Empty();
    char GetAt(int i) const;
    void SetAt(int i, char ch);
    char operator[](int i) const { return GetAt(i); }
    operator const char*() const { return m_pszData; }
    const char* GetString() const { return m_pszData; }

    CString& operator+=(const CString& s);
    CString& operator+=(const char* psz);
    CString& operator+=(char ch);
    void Append(const char* pch, int n);

    int Compare(const char* psz) const;
    int CompareNoCase(const char* psz) const;

    CString Mid(int first) const;
    CString Mid(int first, int count) const;
    CString Left(int count) const;
    CString Right(int count) const;
    CString SpanIncluding(const char* set) const;
    CString SpanExcluding(const char* set) const;
    CString Tokenize(const char* delims, int& start) const;

    int Find(char ch, int start = 0) const;
    int Find(const char* sub, int start = 0) const;
    int ReverseFind(char ch) const;
    int FindOneOf(const char* set) const;

    CString& MakeUpper();
    CString& MakeLower();
    CString& MakeReverse();
    int Replace(char oldCh, char newCh);
    int Replace(const char* oldText, const char* newText);
    int Remove(char ch);
    int Insert(int index, char ch);
    int Insert(int index, const char* psz);
    int Delete(int index, int count = 1);
    CString& Trim();
    CString& Trim(const char* set);
    CString& TrimLeft();
    CString& TrimLeft(const char* set);
    CString& TrimRight();
    CString& TrimRight(const char* set);

    void Format(const char* fmt, ...)
#ifdef __GNUC__
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    void FormatV(const char* fmt, va_list args);
    void AppendFormat(const char* fmt, ...)
#ifdef __GNUC__
        __attribute__((format(printf, 2, 3)))
#endif
        ;

    // Direct access for the platform's "fill this buffer" calls; ReleaseBuffer(-1) takes the
    // length up to the first NUL.
    char* GetBuffer(int minLength = 0);
    char* GetBufferSetLength(int length);
    void ReleaseBuffer(int newLength = -1);

    // String handles at DLL boundaries. AddRefHandle gives the characters with one more
    // reference (a "copy by value" for a plain-data record); ReleaseHandle drops such a reference.
    // FromHandle makes a CString that shares the handle's block.
    char* AddRefHandle() const;
    static void ReleaseHandle(const char* handle);
    static CString FromHandle(const char* handle);
    static CStringData* DataOf(const char* handle);
    long GetRefCount() const { return GetData()->nRefs; }

private:
    CStringData* GetData() const { return reinterpret_cast<CStringData*>(m_pszData) - 1; }
    void Assign(const char* pch, int n);
    void PrepareWrite(int minAlloc);   // unshare and make room, keeping the content
    void SetLength(int n);

    char* m_pszData;
};

CString operator+(const CString& a, const CString& b);
CString operator+(const CString& a, const char* b);
CString operator+(const char* a, const CString& b);
CString operator+(const CString& a, char b);
CString operator+(char a, const CString& b);

bool operator==(const CString& a, const CString& b);
bool operator==(const CString& a, const char* b);
bool operator==(const char* a, const CString& b);
bool operator!=(const CString& a, const CString& b);
bool operator!=(const CString& a, const char* b);
bool operator!=(const char* a, const CString& b);
bool operator<(const CString& a, const CString& b);
bool operator>(const CString& a, const CString& b);

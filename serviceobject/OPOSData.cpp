#include "OPOSData.h"

#include <cstring>
#include <new>

namespace {
// A fill the compiler may not drop: released memory must hold no print data.
void ZeroFill(BYTE* p, DWORD n)
{
    volatile BYTE* v = p;
    while (n--)
        *v++ = 0;
}
}

BYTE* COPOSData::Allocate(DWORD n)
{
    if (n == 0)
        n = 1;
    BYTE* p = new (std::nothrow) BYTE[n];
    if (p)
        std::memset(p, 0, n);
    return p;
}

void COPOSData::Release(BYTE* p, DWORD n)
{
    if (!p)
        return;
    ZeroFill(p, n ? n : 1);
    delete[] p;
}

COPOSData::COPOSData() : COPOSData(64) {}

COPOSData::COPOSData(DWORD capacity)
{
    m_data = Allocate(capacity);
    if (!m_data)
        throw std::bad_alloc();
    m_capacity = capacity ? capacity : 1;
}

COPOSData::~COPOSData() { Release(m_data, m_capacity); }

int COPOSData::Free() { return Reset(1); }

int COPOSData::Reset(DWORD capacity)
{
    if (capacity > kMaxSize)
        return TOO_LARGE;
    BYTE* fresh = Allocate(capacity);
    if (!fresh)
        return TOO_LARGE;
    Release(m_data, m_capacity);
    m_data = fresh;
    m_capacity = capacity ? capacity : 1;
    m_length = 0;
    return OK;
}

int COPOSData::Append(const BYTE* bytes, DWORD n)
{
    if (n == 0)
        return OK;
    if (!bytes || m_length > m_limit || n > m_limit - m_length)
        return TOO_LARGE;
    DWORD need = m_length + n;
    if (need <= m_capacity) {
        // The source may be this buffer's own content; it lies before the target.
        std::memmove(m_data + m_length, bytes, n);
        m_length = need;
        return OK;
    }
    // Grow by half again at least, so that many small appends do not copy the content each time.
    DWORD grown = m_capacity + m_capacity / 2;
    if (grown < m_capacity || grown > kMaxSize)
        grown = kMaxSize;
    DWORD cap = need > grown ? need : grown;
    BYTE* fresh = Allocate(cap);
    if (!fresh && cap > need) {
        cap = need;
        fresh = Allocate(cap);
    }
    if (!fresh)
        return TOO_LARGE;
    std::memcpy(fresh, m_data, m_length);
    std::memcpy(fresh + m_length, bytes, n);  // still valid: the old storage goes only now
    Release(m_data, m_capacity);
    m_data = fresh;
    m_capacity = cap;
    m_length = need;
    return OK;
}

int COPOSData::AppendByte(BYTE b) { return Append(&b, 1); }

int COPOSData::AppendData(const COPOSData& other) { return Append(other.m_data, other.m_length); }

int COPOSData::AppendDataPart(const COPOSData& other, DWORD n)
{
    return Append(other.m_data, n < other.m_length ? n : other.m_length);
}

int COPOSData::AppendString(CString s)
{
    return Append(reinterpret_cast<const BYTE*>(s.GetString()), DWORD(s.GetLength()));
}

int COPOSData::Truncate(DWORD n)
{
    if (n < m_length) {
        ZeroFill(m_data + n, m_length - n);
        m_length = n;
    }
    return OK;
}

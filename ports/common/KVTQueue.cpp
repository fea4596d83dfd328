#include "KVTQueue.h"

#include <climits>
#include <cstring>

namespace {
// Received bytes may be printer replies: wipe storage before it is given back.
void Wipe(BYTE* p, int n)
{
    volatile BYTE* v = p;
    for (int i = 0; i < n; ++i)
        v[i] = 0;
}
}

CKVTQueue::CKVTQueue(int capacity) : m_count(0), m_capacity(capacity > 0 ? capacity : 0)
{
    m_buffer = new BYTE[size_t(m_capacity) + 1]();
}

CKVTQueue::~CKVTQueue()
{
    Wipe(m_buffer, m_capacity);
    delete[] m_buffer;
}

int CKVTQueue::Put(const BYTE* bytes, int n)
{
    if (!bytes || n <= 0 || n > INT_MAX - m_count)
        return 0;
    if (n > m_capacity - m_count) {
        int grown = m_count + n;
        BYTE* nb = new BYTE[size_t(grown) + 1]();
        std::memcpy(nb, m_buffer, size_t(m_count));
        Wipe(m_buffer, m_capacity);
        delete[] m_buffer;
        m_buffer = nb;
        m_capacity = grown;
    }
    std::memcpy(m_buffer + m_count, bytes, size_t(n));
    m_count += n;
    return n;
}

int CKVTQueue::Get(BYTE* out, int n)
{
    if (!out || n <= 0 || m_count == 0)
        return 0;
    if (m_count < n) {
        int taken = m_count;
        std::memcpy(out, m_buffer, size_t(taken));
        m_count = 0;
        return taken;
    }
    std::memcpy(out, m_buffer, size_t(n));
    std::memmove(m_buffer, m_buffer + n, size_t(m_count - n));
    m_count -= n;
    return n;
}

// CKVTQueue: a port's receive queue of data bytes, oldest first, with no upper limit.
#pragma once

#include "FxObject.h"

class CKVTQueue : public CObject
{
public:
    explicit CKVTQueue(int capacity);
    ~CKVTQueue() override;

    // Appends n bytes; grows the buffer to exactly what is needed. Returns n.
    int Put(const BYTE* bytes, int n);
    // Takes up to n bytes from the front; returns how many were taken.
    int Get(BYTE* out, int n);
    int Size() const { return m_count; }
    int Capacity() const { return m_capacity; }
    void Clear() { m_count = 0; }

private:
    CKVTQueue(const CKVTQueue&) = delete;
    CKVTQueue& operator=(const CKVTQueue&) = delete;

    BYTE* m_buffer;
    int m_count;
    int m_capacity;
};

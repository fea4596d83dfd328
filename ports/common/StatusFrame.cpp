#include "StatusFrame.h"

#include <cstdio>
#include <cstring>

namespace {
bool InSet(BYTE b, const BYTE* set, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (set[i] == b)
            return true;
    return false;
}
}

bool IsAsbByte(BYTE b, int k)
{
    static const BYTE p0[] = {0x10, 0x14, 0x18, 0x1C, 0x30, 0x34, 0x38, 0x3C, 0x54, 0x58, 0x5C};
    static const BYTE p1[] = {0x00, 0x01, 0x02, 0x04, 0x08, 0x20, 0x40, 0x60};
    static const BYTE p2[] = {0x00, 0x03, 0x0C, 0x0F, 0x80};
    static const BYTE p3[] = {0x00, 0x0F, 0x4F};
    switch (k) {
    case 0: return InSet(b, p0, sizeof p0);
    case 1: return InSet(b, p1, sizeof p1);
    case 2: return InSet(b, p2, sizeof p2);
    case 3: return InSet(b, p3, sizeof p3);
    default: return false;
    }
}

bool IsIasbByte(BYTE b, int k)
{
    static const BYTE p1[] = {0x40, 0x41, 0x42, 0x44, 0x48, 0x4C, 0x60};
    static const BYTE p2[] = {0x40, 0x41, 0x42};
    switch (k) {
    case 0: return b == 0x35;
    case 1: return InSet(b, p1, sizeof p1);
    case 2: return InSet(b, p2, sizeof p2);
    case 3: return b == 0x00;
    default: return false;
    }
}

CStatusFrameBuffer::CStatusFrameBuffer(DWORD inBufSize) : m_length(0)
{
    // Never fewer than 16 bytes: four frames must always fit, whatever the configured size.
    DWORD size = inBufSize + 1;
    if (inBufSize > 0x100000 || size < 16)
        size = inBufSize > 0x100000 ? 0x100001 : 16;
    m_size = int(size);
    m_bytes = new BYTE[size]();
}

CStatusFrameBuffer::~CStatusFrameBuffer()
{
    std::memset(m_bytes, 0, size_t(m_size));
    delete[] m_bytes;
}

void CStatusFrameBuffer::Store(const BYTE frame[4])
{
    if (m_length > 12) {
        std::memset(m_bytes, 0, size_t(m_length));
        m_length = 0;
    }
    std::memcpy(m_bytes + m_length, frame, 4);
    m_length += 4;
}

bool CStatusFrameBuffer::Pop(int* asb)
{
    if (!asb || m_length < 4)
        return false;
    *asb = int(DWORD(m_bytes[0]) | (DWORD(m_bytes[1]) << 8) | (DWORD(m_bytes[2]) << 16) | (DWORD(m_bytes[3]) << 24));
    std::memmove(m_bytes, m_bytes + 4, size_t(m_length - 4));
    m_length -= 4;
    std::memset(m_bytes + m_length, 0, 4);
    return true;
}

std::string FormatByteLine(const char* prefix, const BYTE* bytes, int n)
{
    std::string s(prefix ? prefix : "");
    char buf[4];
    for (int i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, " %02x", bytes[i]);
        s += buf;
    }
    return s;
}

void CReceiveFilter::Reset()
{
    m_asbCount = m_iasbCount = 0;
    m_pendingCount = 0;
    std::memset(m_asbBytes, 0, 4);
    std::memset(m_iasbBytes, 0, 4);
    std::memset(m_pending, 0, 4);
}

void CReceiveFilter::PendingToData(const char* tag, IReceiveSink& sink)
{
    m_data.append(m_pending, size_t(m_pendingCount));
    if (sink.FilterTracing())
        sink.OnFilterTrace(FormatByteLine(tag, m_pending, m_pendingCount).c_str());
    Reset();
}

void CReceiveFilter::EmitData(IReceiveSink& sink)
{
    if (!m_data.empty()) {
        sink.OnFilterData(m_data.data(), int(m_data.size()));
        m_data.clear();
    }
}

void CReceiveFilter::Process(const BYTE* block, int length, IReceiveSink& sink)
{
    if (!block || length <= 0)
        return;
    int i = 0;
    while (i < length) {
        BYTE b = block[i];
        if (IsAsbByte(b, m_asbCount)) {
            m_asbBytes[m_asbCount++] = b;
        } else if (IsIasbByte(b, m_iasbCount)) {
            m_iasbBytes[m_iasbCount++] = b;
        } else {
            if (m_asbCount == 0 && m_iasbCount == 0) {
                m_data.push_back(b);
                ++i;
                if (sink.FilterTracing()) {
                    char line[32];
                    std::snprintf(line, sizeof line, "2filter Input byte : %02x", b);
                    sink.OnFilterTrace(line);
                }
            } else {
                // The candidate bytes were data after all; b may still open a new frame.
                PendingToData("1filter Input byte :", sink);
            }
            continue;
        }
        m_pending[m_pendingCount++] = b;
        ++i;
        if ((m_asbCount && m_asbCount != m_pendingCount) || (m_iasbCount && m_iasbCount != m_pendingCount)) {
            PendingToData("3filter Input byte :", sink);
        } else if (m_asbCount == 4) {
            if (sink.FilterTracing()) {
                char line[48];
                std::snprintf(line, sizeof line, "Input ASB : %02x %02x %02x %02x", m_asbBytes[0], m_asbBytes[1],
                              m_asbBytes[2], m_asbBytes[3]);
                sink.OnFilterTrace(line);
            }
            sink.OnFilterFrame(m_asbBytes, false);
            Reset();
        } else if (m_iasbCount == 4) {
            if (sink.FilterTracing()) {
                char line[48];
                std::snprintf(line, sizeof line, "Input IASB : %02x %02x %02x %02x", m_iasbBytes[0], m_iasbBytes[1],
                              m_iasbBytes[2], m_iasbBytes[3]);
                sink.OnFilterTrace(line);
            }
            sink.OnFilterFrame(m_iasbBytes, true);
            Reset();
        }
    }
    EmitData(sink);
}

void CReceiveFilter::Flush(IReceiveSink& sink)
{
    if (m_pendingCount == 0)
        return;
    PendingToData("1filter Input byte :", sink);
    EmitData(sink);
}

// Automatic status frames (ASB and its 0x35 form IASB) and the receive filter that separates
// them from data bytes. Portable: the port classes add the locks, the queue and the log.
#pragma once

#include "FxTypes.h"

#include <string>

// Membership of byte b in the accepted set of frame position k (0..3); false for any other k.
bool IsAsbByte(BYTE b, int k);
bool IsIasbByte(BYTE b, int k);

// The status-frame buffer of a port: at most four whole frames, the fifth replaces all four.
class CStatusFrameBuffer
{
public:
    explicit CStatusFrameBuffer(DWORD inBufSize);
    ~CStatusFrameBuffer();
    CStatusFrameBuffer(const CStatusFrameBuffer&) = delete;
    CStatusFrameBuffer& operator=(const CStatusFrameBuffer&) = delete;

    void Store(const BYTE frame[4]);
    // Pops the oldest frame as a little-endian int (first byte received least significant).
    bool Pop(int* asb);
    int Length() const { return m_length; }
    int Size() const { return m_size; }

private:
    BYTE* m_bytes;
    int m_size;
    int m_length;
};

// What the filter produces. Lines are finished texts (the port log's own formatter has no
// field widths, so the byte lists are formatted here).
class IReceiveSink
{
public:
    virtual void OnFilterData(const BYTE* bytes, int n) = 0;   // one call per block at most
    virtual void OnFilterFrame(const BYTE frame[4], bool iasb) = 0;
    virtual void OnFilterTrace(const char* line) = 0;           // only called when tracing
    virtual bool FilterTracing() const = 0;

protected:
    ~IReceiveSink() {}
};

// Byte-by-byte recogniser; its state is kept from block to block, so a frame may be split over
// any number of reads.
class CReceiveFilter
{
public:
    CReceiveFilter() { Reset(); }

    void Process(const BYTE* block, int length, IReceiveSink& sink);
    // A read pass brought nothing new: the bytes of an open candidate are data after all
    // (a one-byte status answer such as 0x10 is also a valid first frame byte).
    void Flush(IReceiveSink& sink);
    bool HasCandidate() const { return m_pendingCount != 0; }
    void Reset();

private:
    void PendingToData(const char* tag, IReceiveSink& sink);
    void EmitData(IReceiveSink& sink);

    int m_asbCount, m_iasbCount;
    BYTE m_asbBytes[4], m_iasbBytes[4];
    BYTE m_pending[4];
    int m_pendingCount;
    // Data bytes gathered during one Process call.
    std::basic_string<BYTE> m_data;
};

// " %02x" per byte after a prefix, as the port log's byte lines are written.
std::string FormatByteLine(const char* prefix, const BYTE* bytes, int n);

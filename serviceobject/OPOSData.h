// Print data buffers: COPOSData gathers the bytes for the printer, CPrintData is one print job
// and CPrintDataList the list of its buffers (which it never deletes).
#pragma once

#include "FxColl.h"
#include "FxObject.h"
#include "FxString.h"

class COPOSData : public CObject
{
public:
    // Results of the operations: OK, or TOO_LARGE when the size would overflow or the
    // memory is not there; the content is unchanged then.
    enum { OK = 0, TOO_LARGE = -1 };
    // The largest buffer: lengths travel as signed 32-bit counts to the port.
    static const DWORD kMaxSize = 0x7FFFFFFF;

    COPOSData();
    explicit COPOSData(DWORD capacity);
    ~COPOSData() override;

    int Free();
    int Reset(DWORD capacity);
    int Append(const BYTE* bytes, DWORD n);
    int AppendByte(BYTE b);
    int AppendData(const COPOSData& other);
    // Appends the first n bytes of other, never more than it holds.
    int AppendDataPart(const COPOSData& other, DWORD n);
    int AppendString(CString s);
    // The most bytes this buffer takes (kMaxSize unless set lower); an append past it is refused.
    void SetLimit(DWORD n) { m_limit = n < kMaxSize ? n : kMaxSize; }
    // Drops the bytes from n on (zero-filled, the storage kept); nothing when n is not below the length.
    int Truncate(DWORD n);

    const BYTE* GetData() const { return m_data; }
    DWORD GetLength() const { return m_length; }
    DWORD GetCapacity() const { return m_capacity; }

private:
    static BYTE* Allocate(DWORD n);
    static void Release(BYTE* p, DWORD n);

    BYTE* m_data;
    DWORD m_length = 0;
    DWORD m_capacity = 0;
    DWORD m_limit = kMaxSize;
};

class CPrintDataList : public CObList
{
public:
    CPrintDataList() : CObList(10) {}
};

class CPrintData : public CObject
{
public:
    CPrintData() {}
    ~CPrintData() override {}

    // How far the job got: what decides its fate when a print pass is ended.
    enum Delivery { Queued, Writing, Written, Answered, Failed };

    int OutputID = 0;
    int ResultCode = 0;
    int ResultCodeExtended = 0;
    CPrintDataList chunks;
    int delivery = Queued;
    long long bytesTaken = 0;  // of its chunks, by the port, in its last attempt
    BOOL internal = FALSE;     // the retry's line feed: the application never hears of it
};

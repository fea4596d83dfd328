// DeviceOption: the port settings of one device, passed by value between the libraries.
#pragma once

#include "FxString.h"

#include <cstddef>
#include <cstring>

struct DeviceOption
{
    char* strPortName;  // string handle (see CString); the receiver of a by-value record releases it
    DWORD dwReserved;
    DWORD dwBaudRate;   // serial baud rate; TCP port number for net
    DWORD dwByteSize;
    DWORD dwStopBits;   // 0 one, 1 one and a half, 2 two
    DWORD dwParity;     // 0 none, 1 odd, 2 even, 3 mark, 4 space
    DWORD dwFlowControl;  // 0 hardware (CTS/DSR), 1 XON/XOFF, 2 none
    DWORD dwReadIntervalTimeout;
    DWORD dwReadTotalTimeoutMultiplier;
    DWORD dwReadTotalTimeoutConstant;
    DWORD dwWriteTotalTimeoutMultiplier;
    DWORD dwWriteTotalTimeoutConstant;
    DWORD dwInBufSize;
    DWORD dwOutBufSize;
    DWORD dwUsingBT;
    DWORD dwBtStackType;  // 0 other or none, 1 Microsoft, 2 TOSHIBA, 3 IVT
    DWORD dwWireless;
    DWORD dwTcpTimeout;
    DWORD dwConnTimeout;
    DWORD dwConnRetryCount;
};

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(DeviceOption) == 80, "DeviceOption is an 80-byte record");
static_assert(offsetof(DeviceOption, dwBaudRate) == 8, "layout");
static_assert(offsetof(DeviceOption, dwFlowControl) == 24, "layout");
static_assert(offsetof(DeviceOption, dwReadIntervalTimeout) == 28, "layout");
static_assert(offsetof(DeviceOption, dwWriteTotalTimeoutConstant) == 44, "layout");
static_assert(offsetof(DeviceOption, dwInBufSize) == 48, "layout");
static_assert(offsetof(DeviceOption, dwUsingBT) == 56, "layout");
static_assert(offsetof(DeviceOption, dwBtStackType) == 60, "layout");
static_assert(offsetof(DeviceOption, dwTcpTimeout) == 68, "layout");
static_assert(offsetof(DeviceOption, dwConnRetryCount) == 76, "layout");
#endif

// A copy to pass by value: takes a new reference to the port name.
inline DeviceOption DeviceOptionCopy(const DeviceOption& dop)
{
    DeviceOption c = dop;
    c.strPortName = dop.strPortName ? CString::FromHandle(dop.strPortName).AddRefHandle() : nullptr;
    return c;
}

// Copies the DWORD fields from first to last (both included, in record order) of from into to:
// each transport takes only the fields it reads. The port name is never among them.
inline void DeviceOptionCopyFields(DeviceOption& to, const DeviceOption& from, DWORD DeviceOption::*first,
                                   DWORD DeviceOption::*last)
{
    const char* base = reinterpret_cast<const char*>(&from);
    const char* begin = reinterpret_cast<const char*>(&(from.*first));
    const char* end = reinterpret_cast<const char*>(&(from.*last)) + sizeof(DWORD);
    if (end > begin)
        std::memcpy(reinterpret_cast<char*>(&to) + (begin - base), begin, size_t(end - begin));
}

// Drops the reference a by-value record carries.
inline void DeviceOptionRelease(DeviceOption& dop)
{
    CString::ReleaseHandle(dop.strPortName);
    dop.strPortName = nullptr;
}

inline CString DeviceOptionPortName(const DeviceOption& dop) { return CString::FromHandle(dop.strPortName); }

// DevType: the caller's device-class bit, which only selects the port log's tag.
enum : DWORD
{
    DEVTYPE_POSPRINTER = 1,
    DEVTYPE_CASHDRAWER = 2,
    DEVTYPE_LINEDISPLAY = 4,
    DEVTYPE_MSR = 8,
    DEVTYPE_SCR = 16,
    DEVTYPE_LABEL = 32,
};

// PowerState values as the transports report them.
enum : int
{
    PS_UNKNOWN = 2000,
    PS_ONLINE = 2001,
    PS_OFFLINE = 2003,
};

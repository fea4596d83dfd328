// What the benchmark programs share: a wall clock, CPU times, best and median of a set of runs.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace benchkit {

inline double Now()
{
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return double(c.QuadPart) / double(f.QuadPart);
}

inline double Seconds(const FILETIME& kernel, const FILETIME& user)
{
    ULARGE_INTEGER k, u;
    k.LowPart = kernel.dwLowDateTime;
    k.HighPart = kernel.dwHighDateTime;
    u.LowPart = user.dwLowDateTime;
    u.HighPart = user.dwHighDateTime;
    return double(k.QuadPart + u.QuadPart) / 1e7;
}

// CPU seconds of one thread (-1 when unknown) and of the whole process.
inline double CpuSeconds(HANDLE thread)
{
    FILETIME c, e, k, u;
    return GetThreadTimes(thread, &c, &e, &k, &u) ? Seconds(k, u) : -1;
}

inline double ProcessCpuSeconds()
{
    FILETIME c, e, k, u;
    GetProcessTimes(GetCurrentProcess(), &c, &e, &k, &u);
    return Seconds(k, u);
}

struct Timing
{
    double best = 0;
    double median = 0;
};

inline Timing Figures(std::vector<double> times)
{
    if (times.empty())
        return {};
    std::sort(times.begin(), times.end());
    return {times.front(), times[times.size() / 2]};
}

// A serial port opened plainly for a benchmark's own writer: 115200 8N1, no flow control, the
// serial transport's time-outs. INVALID_HANDLE_VALUE when it does not open.
inline HANDLE OpenPlainCom(const std::string& name)
{
    HANDLE h = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return h;
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    GetCommState(h, &dcb);
    dcb.BaudRate = 115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fOutX = dcb.fInX = FALSE;
    SetCommState(h, &dcb);
    COMMTIMEOUTS to = {2, 0, 50, 10, 5000};
    SetCommTimeouts(h, &to);
    return h;
}

}  // namespace benchkit

// What the benchmark programs share: a wall clock, CPU times, best and median of a set of runs.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdlib>
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

namespace detail {

inline std::string ReadHostFile(const std::string& dosPath)
{
    HANDLE h = CreateFileA(dosPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return std::string();
    std::string text;
    char buf[512];
    DWORD n = 0;
    while (ReadFile(h, buf, sizeof buf, &n, nullptr) && n > 0)
        text.append(buf, n);
    CloseHandle(h);
    return text;
}

// The host's process directory of this program ("Z:\proc\<pid>\"), found by the program's
// own host path at the head of the command line: Wine opens files in its server, so
// /proc/self would be the server's. Empty when not found.
inline std::string HostProcessDir()
{
    typedef char*(CDECL * UnixName)(LPCWSTR);
    UnixName toUnix = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    wchar_t self[MAX_PATH];
    if (!toUnix || !GetModuleFileNameW(nullptr, self, MAX_PATH))
        return std::string();
    char* unixSelf = toUnix(self);
    if (!unixSelf)
        return std::string();
    std::string want(unixSelf);
    HeapFree(GetProcessHeap(), 0, unixSelf);
    std::string found;
    int matches = 0;
    WIN32_FIND_DATAA fd;
    HANDLE find = FindFirstFileA("Z:\\proc\\*", &fd);
    if (find == INVALID_HANDLE_VALUE)
        return std::string();
    do {
        if (fd.cFileName[0] < '0' || fd.cFileName[0] > '9')
            continue;
        std::string dir = std::string("Z:\\proc\\") + fd.cFileName + "\\";
        std::string cmd = ReadHostFile(dir + "cmdline");
        if (cmd.compare(0, want.size() + 1, want.c_str(), want.size() + 1) == 0) {
            found = dir;
            ++matches;
        }
    } while (FindNextFileA(find, &fd));
    FindClose(find);
    return matches == 1 ? found : std::string();
}

}  // namespace detail

// CPU seconds of this process as the host system counts them, to the nanosecond: the sum of
// the run times of its threads (schedstat of each task). Under the emulator that is the
// emulated code and the emulator's own work; the Wine server's work for the process is not
// in it. A thread that ends in between takes its time with it. -1 when not found (not under
// Wine, or the program runs twice).
inline double HostCpuSeconds()
{
    static const std::string dir = detail::HostProcessDir();
    if (dir.empty())
        return -1;
    WIN32_FIND_DATAA fd;
    HANDLE find = FindFirstFileA((dir + "task\\*").c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE)
        return -1;
    double total = 0;
    bool any = false;
    do {
        if (fd.cFileName[0] < '0' || fd.cFileName[0] > '9')
            continue;
        std::string text = detail::ReadHostFile(dir + "task\\" + fd.cFileName + "\\schedstat");
        if (!text.empty()) {
            total += std::strtod(text.c_str(), nullptr) / 1e9;
            any = true;
        }
    } while (FindNextFileA(find, &fd));
    FindClose(find);
    return any ? total : -1;
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

#include "KVTLogFormat.h"
#include "PortLog.h"

#include <cstdio>
#include <cstring>

// The port libraries' log understands the same formats.
CString KvtFormatText(const char* format, va_list args)
{
    if (!format)
        return CString();
    std::string text = PortLogFormatV(format, args);
    return CString(text.data(), int(text.size()));
}

CString KvtFormatTextF(const char* format, ...)
{
    va_list ap;
    va_start(ap, format);
    CString s = KvtFormatText(format, ap);
    va_end(ap);
    return s;
}

CString KvtFormatLine(int level, int hour, int minute, int second, int milli, const char* text)
{
    CString line;
    line.Format(level == 0 ? "- (%02d:%02d:%02d.%03d) %s\r\n" : "- (%02d:%02d:%02d.%03d) !ERROR: %s\r\n", hour, minute,
                second, milli, text ? text : "");
    return line;
}

CString KvtHourFileName(const char* folder, const char* device, int month, int day, int hour)
{
    CString s;
    s.Format("%s\\Log\\%s_Mon_%02d%02d%02d.log", folder, device, month, day, hour);
    return s;
}

CString KvtFatalFileName(const char* folder, const char* device, int month, int day, int hour)
{
    CString s;
    s.Format("%s\\Log\\%s_Fatal_%02d%02d%02d.log", folder, device, month, day, hour);
    return s;
}

bool KvtIsUsableFileName(const char* device)
{
    if (!device)
        return false;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(device); *p; ++p)
        if (*p < 0x20 || std::strchr("<>:\"/\\|?*", *p))
            return false;
    return true;
}

bool KvtIsAbsolutePath(const char* folder)
{
    if (!folder)
        return false;
    char c = folder[0];
    bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    if (letter && folder[1] == ':' && folder[2] == '\\')
        return true;
    return folder[0] == '\\' && folder[1] == '\\' && folder[2] != 0 && folder[2] != '\\';
}

namespace {
bool Digits(const char* p, int n)
{
    for (int i = 0; i < n; ++i)
        if (p[i] < '0' || p[i] > '9')
            return false;
    return true;
}

bool EndsWith(const char* s, size_t len, const char* tail, size_t& at)
{
    size_t t = std::strlen(tail);
    if (len < t)
        return false;
    at = len - t;
    return std::strncmp(s + at, tail, t) == 0;
}
}

bool KvtIsLogFileName(const char* name)
{
    if (!name)
        return false;
    size_t len = std::strlen(name), at = 0;
    // "<device>_Mon_MMDDHH.log", "<device>_Fatal_MMDDHH.log"
    if (len >= 10 && EndsWith(name, len, ".log", at) && Digits(name + at - 6, 6)) {
        size_t stem = at - 6;
        size_t m = 0;
        if (EndsWith(name, stem, "_Mon_", m) || EndsWith(name, stem, "_Fatal_", m))
            return true;
        // Port libraries: "d_<name>_MMDDHH.log" and "d_<name>_<index>_MMDDHH.log"
        if (std::strncmp(name, "d_", 2) == 0 && stem >= 4 && name[stem - 1] == '_')
            return true;
        return false;
    }
    // Port dumps: "<name>_MMDD.HHMM.bin" and "<name>_<index>_MMDD.HHMM.bin"
    if (len >= 15 && EndsWith(name, len, ".bin", at) && at >= 10) {
        const char* d = name + at - 9;  // "MMDD.HHMM"
        return Digits(d, 4) && d[4] == '.' && Digits(d + 5, 4) && d[-1] == '_' && at >= 11;
    }
    return false;
}

#include "PortLog.h"

#include <cstdio>

const char* PortLogTag(DWORD devType)
{
    switch (devType) {
    case 1: return "<PRINTER>";
    case 2: return "<CASHDRAWER>";
    case 4: return "<LINEDISPLAY>";
    case 8: return "<MSR>";
    case 16: return "<SCR>";
    case 32: return "<LABEL>";
    default: return "";
    }
}

std::string PortLogFormatV(const char* fmt, va_list args)
{
    std::string out;
    if (!fmt)
        return out;
    char buf[64];
    for (const char* p = fmt; *p; ++p) {
        if (*p != '%') {
            out += *p;
            continue;
        }
        char c = *++p;
        if (!c)
            break;
        switch (c) {
        case 'd':
            std::snprintf(buf, sizeof buf, "%d", va_arg(args, int));
            out += buf;
            break;
        case 'x':
            std::snprintf(buf, sizeof buf, "%x", va_arg(args, unsigned));
            out += buf;
            break;
        case 's': {
            const char* s = va_arg(args, const char*);
            out += s ? s : "(null)";
            break;
        }
        case 'f':
            std::snprintf(buf, sizeof buf, "%.10g", va_arg(args, double));
            out += buf;
            break;
        default:
            break;
        }
    }
    return out;
}

std::string PortLogFormat(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    std::string s = PortLogFormatV(fmt, ap);
    va_end(ap);
    return s;
}

#ifdef _WIN32
namespace {

const DWORD kRotateMs = 3600000;

struct LoggerState
{
    BOOL logEnabled = FALSE;
    HANDLE log = INVALID_HANDLE_VALUE;
    DWORD logOpenedAt = 0;
    BOOL dumpEnabled = FALSE;
    HANDLE dump = INVALID_HANDLE_VALUE;
    DWORD dumpOpenedAt = 0;
    CString folder;
    CString logName;
    CString dumpName;
    int portIndex = 0;
};

// Reopening and writing happen under this lock, so a line never goes to a closed handle. A
// kernel mutex: a port thread ended by force while it wrote a line leaves it abandoned, not
// held, and no writer waits for it without bound (a line that cannot get it is dropped).
const DWORD kLogLockWaitMs = 5000;

HANDLE LogMutex()
{
    static HANDLE m = CreateMutexA(nullptr, FALSE, nullptr);  // lives as long as the library
    return m;
}

LoggerState& State()
{
    static LoggerState* s = new LoggerState;  // outlives every static destructor of the DLL
    return *s;
}

DWORD WINAPI DefaultTick() { return GetTickCount(); }
void WINAPI DefaultLocalTime(SYSTEMTIME* st) { GetLocalTime(st); }
PortLogTickFn g_tick = DefaultTick;
PortLogLocalTimeFn g_localTime = DefaultLocalTime;

struct Exclusive
{
    Exclusive()
    {
        DWORD r = WaitForSingleObject(LogMutex(), kLogLockWaitMs);
        held = r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
    }
    ~Exclusive()
    {
        if (held)
            ReleaseMutex(LogMutex());
    }
    Exclusive(const Exclusive&) = delete;
    Exclusive& operator=(const Exclusive&) = delete;
    bool held = false;
};

HANDLE OpenInLogFolder(const CString& folder, const CString& fileName)
{
    CString dir = folder + "\\Log";
    CreateDirectoryA(dir, nullptr);
    CString path = dir + "\\" + fileName;
    // Append-only: earlier lines and bytes are never overwritten.
    return CreateFileA(path, FILE_APPEND_DATA | GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void CloseHandleOf(HANDLE& h)
{
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    h = INVALID_HANDLE_VALUE;
}

// Closes what h holds and opens the file of this hour (and minute, for the dump) in the folder;
// the name carries the port index when there is one.
void ReopenLocked(HANDLE& h, DWORD& openedAt, const char* withIndex, const char* withoutIndex, const CString& base)
{
    LoggerState& s = State();
    CloseHandleOf(h);
    openedAt = g_tick();
    SYSTEMTIME t;
    g_localTime(&t);
    CString name;
    if (s.portIndex != 0)
        name.Format(withIndex, base.GetString(), s.portIndex, t.wMonth, t.wDay, t.wHour, t.wMinute);
    else
        name.Format(withoutIndex, base.GetString(), t.wMonth, t.wDay, t.wHour, t.wMinute);
    h = OpenInLogFolder(s.folder, name);
}

void OpenLogLocked()
{
    LoggerState& s = State();
    ReopenLocked(s.log, s.logOpenedAt, "d_%s_%d_%02d%02d%02d.log", "d_%s_%02d%02d%02d.log", s.logName);
}

void OpenDumpLocked()
{
    LoggerState& s = State();
    ReopenLocked(s.dump, s.dumpOpenedAt, "%s_%d_%02d%02d.%02d%02d.bin", "%s_%02d%02d.%02d%02d.bin", s.dumpName);
}

void WriteLine(int level, const char* tag, const std::string& text)
{
    LoggerState& s = State();
    if (!s.logEnabled)
        return;
    if (s.log == INVALID_HANDLE_VALUE || g_tick() - s.logOpenedAt > kRotateMs)
        OpenLogLocked();
    if (s.log == INVALID_HANDLE_VALUE)
        return;
    SYSTEMTIME t;
    g_localTime(&t);
    char head[64];
    std::snprintf(head, sizeof head, "- (%02d:%02d:%02d.%03d) ", t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    std::string line(head);
    if (tag) {
        line += tag;
        line += ' ';
    }
    if (level != 0)
        line += "!ERROR: ";
    line += text;
    line += "\r\n";
    DWORD written = 0;
    WriteFile(s.log, line.data(), DWORD(line.size()), &written, nullptr);
}

} // namespace

void PortLogSetClock(PortLogTickFn tick, PortLogLocalTimeFn localTime)
{
    Exclusive lock;
    g_tick = tick ? tick : DefaultTick;
    g_localTime = localTime ? localTime : DefaultLocalTime;
}

void PortLogOpen(BOOL enable, const CString& dir, const CString& name, int index)
{
    Exclusive lock;
    LoggerState& s = State();
    s.logEnabled = enable;
    s.folder = dir;
    s.logName = name;
    s.portIndex = index;
    if (enable == 1)
        OpenLogLocked();
}

void PortLogReopen()
{
    Exclusive lock;
    OpenLogLocked();
}

void PortLogClose()
{
    Exclusive lock;
    LoggerState& s = State();
    if (s.logEnabled) {
        CloseHandleOf(s.log);
        s.logEnabled = FALSE;
    }
}

bool PortLogIsEnabled()
{
    Exclusive lock;
    return State().logEnabled != FALSE;
}

void PortLogWriteV(int level, const char* tag, const char* fmt, va_list args)
{
    std::string text = PortLogFormatV(fmt, args);
    Exclusive lock;
    if (lock.held)
        WriteLine(level, tag, text);
}

void PortLogWrite(int level, DWORD devType, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    PortLogWriteV(level, PortLogTag(devType), fmt, ap);
    va_end(ap);
}

void PortLogWritePlain(int level, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    PortLogWriteV(level, nullptr, fmt, ap);
    va_end(ap);
}

void PortDumpOpen(BOOL enable, const CString& dir, const CString& name)
{
    Exclusive lock;
    LoggerState& s = State();
    s.dumpEnabled = enable;
    s.folder = dir;
    s.dumpName = name;
    if (enable == 1)
        OpenDumpLocked();
}

void PortDumpWrite(const BYTE* bytes, int count)
{
    if (!bytes || count <= 0)
        return;
    Exclusive lock;
    LoggerState& s = State();
    if (!lock.held || !s.dumpEnabled)
        return;
    if (s.dump == INVALID_HANDLE_VALUE || g_tick() - s.dumpOpenedAt > kRotateMs)
        OpenDumpLocked();
    if (s.dump == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(s.dump, bytes, DWORD(count), &written, nullptr);
}

void PortDumpClose()
{
    Exclusive lock;
    LoggerState& s = State();
    if (s.dumpEnabled) {
        CloseHandleOf(s.dump);
        s.dumpEnabled = FALSE;
    }
}

bool PortDumpIsEnabled()
{
    Exclusive lock;
    return State().dumpEnabled != FALSE;
}
#endif

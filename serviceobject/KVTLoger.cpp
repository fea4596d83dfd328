#include "KVTLoger.h"
#include "KVTLogFormat.h"

namespace {
CKVTLoger* g_loger = nullptr;
CRITICAL_SECTION g_logerLock;
struct LogerLockInit
{
    LogerLockInit() { InitializeCriticalSection(&g_logerLock); }
    ~LogerLockInit() { DeleteCriticalSection(&g_logerLock); }
} g_logerLockInit;

// Seconds since 1970 of a file time.
LONGLONG UnixSeconds(const FILETIME& ft)
{
    ULARGE_INTEGER u;
    u.LowPart = ft.dwLowDateTime;
    u.HighPart = ft.dwHighDateTime;
    return LONGLONG(u.QuadPart / 10000000ULL) - 11644473600LL;
}
}

CKVTLoger* GetLoger()
{
    EnterCriticalSection(&g_logerLock);
    if (!g_loger)
        g_loger = new CKVTLoger;
    CKVTLoger* l = g_loger;
    LeaveCriticalSection(&g_logerLock);
    return l;
}

CKVTLoger::CKVTLoger() = default;

CKVTLoger::~CKVTLoger()
{
    EnterCriticalSection(&g_logerLock);
    if (g_loger == this)
        g_loger = nullptr;
    LeaveCriticalSection(&g_logerLock);
}

SYSTEMTIME CKVTLoger::Now() const
{
    SYSTEMTIME t;
    if (m_clock)
        m_clock(&t);
    else
        GetLocalTime(&t);
    return t;
}

void CKVTLoger::Start(int logOn, const char* folder, const char* device)
{
    if (logOn != 1)
        return;
    InterlockedIncrement(&m_users);
    // The first user's folder serves all; a folder that is no full path never turns the log on.
    if (m_enabled == 0 && KvtIsAbsolutePath(folder)) {
        m_folder = folder;
        InterlockedExchange(&m_enabled, 1);
    }
}

void CKVTLoger::Stop(const char* device)
{
    LONG before = InterlockedDecrement(&m_users) + 1;
    if (before != 1 || m_enabled != 1)
        return;
    if (KvtIsUsableFileName(device)) {
        HANDLE h = OpenHourFile(device, Now());
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
    InterlockedExchange(&m_enabled, 0);
    DeleteOldLogs();
}

HANDLE CKVTLoger::OpenAppend(const CString& path)
{
    return CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE CKVTLoger::OpenHourFile(const char* device, const SYSTEMTIME& now)
{
    CreateDirectoryA(m_folder + "\\Log", nullptr);
    return OpenAppend(KvtHourFileName(m_folder, device, now.wMonth, now.wDay, now.wHour));
}

void CKVTLoger::WriteFatalLog(const char* device, const SYSTEMTIME& now)
{
    CreateDirectoryA(m_folder + "\\Log", nullptr);
    HANDLE h = OpenAppend(KvtFatalFileName(m_folder, device, now.wMonth, now.wDay, now.wHour));
    if (h == INVALID_HANDLE_VALUE)
        return;
    static const char kText[] = "Log file creation error.\r\n";
    DWORD w = 0;
    WriteFile(h, kText, DWORD(sizeof kText - 1), &w, nullptr);
    CloseHandle(h);
}

void CKVTLoger::WriteLog(int level, const char* device, const char* format, ...)
{
    va_list ap;
    va_start(ap, format);
    WriteLogV(level, device, format, ap);
    va_end(ap);
}

void CKVTLoger::WriteLogV(int level, const char* device, const char* format, va_list args)
{
    if (m_enabled != 1 || !KvtIsUsableFileName(device))
        return;
    // Appends of several threads of this process go one at a time: Wine's append-only handles
    // let simultaneous appends overwrite each other.
    CMutexExLock lock(m_writeLock, kWriteLockWaitMs);
    if (!lock.Held())
        return;
    // One reading of the clock names the file and stamps the line, so both agree at an hour's
    // turn; read under the lock, the stamps of a file keep their order.
    SYSTEMTIME now = Now();
    HANDLE h = OpenHourFile(device, now);
    if (h == INVALID_HANDLE_VALUE) {
        WriteFatalLog(device, now);
    } else {
        CString text = KvtFormatText(format, args);
        CString line = KvtFormatLine(level, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, text);
        DWORD w = 0;
        WriteFile(h, line.GetString(), DWORD(line.GetLength()), &w, nullptr);
        CloseHandle(h);
    }
}

BOOL CKVTLoger::IsDotEntry(const char* name)
{
    return name && name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

void CKVTLoger::DeleteOldLogs()
{
    if (!KvtIsAbsolutePath(m_folder))
        return;
    FILETIME nowFt;
    GetSystemTimeAsFileTime(&nowFt);
    LONGLONG cutoff = UnixSeconds(nowFt) - LONGLONG(m_retentionDays) * 86400;
    CString dir = m_folder + "\\Log";
    WIN32_FIND_DATAA fd;
    HANDLE f = FindFirstFileA(dir + "\\*.*", &fd);
    if (f == INVALID_HANDLE_VALUE)
        return;
    do {
        if (IsDotEntry(fd.cFileName) || (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        if (!KvtIsLogFileName(fd.cFileName))
            continue;  // only the files this system writes
        if (UnixSeconds(fd.ftLastAccessTime) < cutoff)
            DeleteFileA(dir + "\\" + fd.cFileName);
    } while (FindNextFileA(f, &fd));
    FindClose(f);
}

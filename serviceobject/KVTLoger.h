// CKVTLoger: the service object's trace writer, one per process, shared by every CLABELPrinter.
// Lines go to "<folder>\Log\<device>_Mon_MMDDHH.log", one file per device and local hour.
#pragma once

#include "FxString.h"
#include "SyncEx.h"

#include <windows.h>

#include <cstdarg>

class CKVTLoger
{
public:
    CKVTLoger();
    virtual ~CKVTLoger();
    CKVTLoger(const CKVTLoger&) = delete;
    CKVTLoger& operator=(const CKVTLoger&) = delete;

    // Registers one user when logOn is 1; the first user's folder is kept for all later users.
    // A folder that is not a full path leaves the log off.
    void Start(int logOn, const char* folder, const char* device);
    // Unregisters one user; the last one leaves the current hour's file and sweeps old files.
    void Stop(const char* device);
    void WriteLog(int level, const char* device, const char* format, ...);
    void WriteLogV(int level, const char* device, const char* format, va_list args);

    HANDLE OpenHourFile(const char* device, const SYSTEMTIME& now);
    void WriteFatalLog(const char* device, const SYSTEMTIME& now);
    void DeleteOldLogs();
    static BOOL IsDotEntry(const char* name);

    BOOL IsEnabled() const { return m_enabled == 1; }
    LONG GetUserCount() const { return m_users; }
    const CString& GetFolder() const { return m_folder; }

    // The clock of the log; tests set a fixed local time. NULL: the system's.
    typedef void (*ClockFn)(SYSTEMTIME* local);
    void SetClock(ClockFn clock) { m_clock = clock; }

private:
    SYSTEMTIME Now() const;
    HANDLE OpenAppend(const CString& path);

    CString m_folder;
    volatile LONG m_enabled = 0;
    volatile LONG m_users = 0;
    int m_retentionDays = 14;
    ClockFn m_clock = nullptr;
    // Appends go one at a time under this kernel mutex. A thread of the object ended by force
    // while it wrote leaves it abandoned, not held; a line that cannot get it within
    // kWriteLockWaitMs (a live writer stalled) is dropped rather than blocking its thread.
    CMutexEx m_writeLock;
    static const DWORD kWriteLockWaitMs = 5000;
};

// The process-wide trace writer, made on first use.
CKVTLoger* GetLoger();

// The log side every transport port shares: the dump flag, the log and trace bits and the log
// folder that SetLog stores, and the port's lines with their gates. Normal and error lines need
// the log bit, trace lines the trace bit; a tagged line carries the caller's device-class tag.
#pragma once

#include "FxString.h"
#include "PortLog.h"

#include <windows.h>

class CPortLogLines
{
public:
    // Stores the flags and the folder; with the log bit, (re)opens the library's text log named
    // after logName and the port index.
    void SetLogFlags(DWORD useBinary, DWORD usePortLog, const CString& installPath, const char* logName, int portIndex);

    // The dump of an open port: opened by OpenPort when the dump flag is set, closed by
    // ClosePort, which also clears the flag (a later open dumps only after a new SetLog).
    void OpenPortDump(const char* dumpName);
    void ClosePortDump();
    // The destructor's line (plain) and the close of the library's log, when the log bit is set;
    // then every flag is cleared.
    void CloseLogOfPort(const char* destructorLine);

    void Log(DWORD devType, const char* fmt, ...);
    void LogError(DWORD devType, const char* fmt, ...);
    void Trace(DWORD devType, const char* fmt, ...);
    void TraceError(DWORD devType, const char* fmt, ...);
    void LogPlain(const char* fmt, ...);
    void LogPlainError(const char* fmt, ...);
    void TracePlain(const char* fmt, ...);

    bool LogOn() const { return m_nLogBit != 0; }
    bool TraceOn() const { return m_nTraceBit != 0; }

protected:
    int m_dwUseBinary = 0;  // 1: the bytes written are dumped
    int m_nLogBit = 0;
    int m_nTraceBit = 0;
    CString m_strLogFolder;
};

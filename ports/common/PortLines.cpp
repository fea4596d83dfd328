#include "PortLines.h"

#include <cstdarg>

void CPortLogLines::SetLogFlags(DWORD useBinary, DWORD usePortLog, const CString& installPath, const char* logName,
                                int portIndex)
{
    m_dwUseBinary = useBinary == 1 ? 1 : 0;
    m_nLogBit = (usePortLog & 1) ? 1 : 0;
    m_nTraceBit = (usePortLog & 2) ? 1 : 0;
    m_strLogFolder = installPath;
    if (m_nLogBit)
        PortLogOpen(TRUE, installPath, logName, portIndex);
}

void CPortLogLines::OpenPortDump(const char* dumpName)
{
    if (m_dwUseBinary == 1)
        PortDumpOpen(TRUE, m_strLogFolder, dumpName);
}

void CPortLogLines::ClosePortDump()
{
    if (m_dwUseBinary == 1)
        PortDumpClose();
    m_dwUseBinary = 0;
}

void CPortLogLines::CloseLogOfPort(const char* destructorLine)
{
    if (m_nLogBit) {
        PortLogWritePlain(0, "%s", destructorLine);
        PortLogClose();
    }
    m_dwUseBinary = m_nLogBit = m_nTraceBit = 0;
}

#define VESK_PORT_LINE(gate, level, tag)        \
    do {                                        \
        if (!(gate))                            \
            return;                             \
        va_list ap;                             \
        va_start(ap, fmt);                      \
        PortLogWriteV((level), (tag), fmt, ap); \
        va_end(ap);                             \
    } while (0)

void CPortLogLines::Log(DWORD devType, const char* fmt, ...) { VESK_PORT_LINE(m_nLogBit, 0, PortLogTag(devType)); }
void CPortLogLines::LogError(DWORD devType, const char* fmt, ...)
{
    VESK_PORT_LINE(m_nLogBit, PORTLOG_ERROR, PortLogTag(devType));
}
void CPortLogLines::Trace(DWORD devType, const char* fmt, ...) { VESK_PORT_LINE(m_nTraceBit, 0, PortLogTag(devType)); }
void CPortLogLines::TraceError(DWORD devType, const char* fmt, ...)
{
    VESK_PORT_LINE(m_nTraceBit, PORTLOG_ERROR, PortLogTag(devType));
}
void CPortLogLines::LogPlain(const char* fmt, ...) { VESK_PORT_LINE(m_nLogBit, 0, nullptr); }
void CPortLogLines::LogPlainError(const char* fmt, ...) { VESK_PORT_LINE(m_nLogBit, PORTLOG_ERROR, nullptr); }
void CPortLogLines::TracePlain(const char* fmt, ...) { VESK_PORT_LINE(m_nTraceBit, 0, nullptr); }

#undef VESK_PORT_LINE

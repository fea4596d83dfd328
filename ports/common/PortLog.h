// The port log (text) and the binary dump of one port library. Library-wide state: each DLL
// that links this has its own.
#pragma once

#include "FxString.h"

#include <cstdarg>
#include <string>

// Level for error lines; 0 for normal ones.
enum { PORTLOG_ERROR = 100 };

// The device-class tag of a log line: "<LABEL>" for 32 and so on; empty for unknown classes.
const char* PortLogTag(DWORD devType);

// The logger's own formatter: %d, %x (lower case, no padding), %s and %f (10 significant
// digits); "%" with any other character writes nothing and takes no argument.
std::string PortLogFormatV(const char* fmt, va_list args);
std::string PortLogFormat(const char* fmt, ...);

#ifdef _WIN32
void PortLogOpen(BOOL enable, const CString& dir, const CString& name, int index);
void PortLogReopen();
void PortLogClose();
void PortLogWrite(int level, DWORD devType, const char* fmt, ...);
void PortLogWritePlain(int level, const char* fmt, ...);
void PortLogWriteV(int level, const char* tag, const char* fmt, va_list args);

void PortDumpOpen(BOOL enable, const CString& dir, const CString& name);
void PortDumpWrite(const BYTE* bytes, int count);
void PortDumpClose();

bool PortLogIsEnabled();
bool PortDumpIsEnabled();

// Seam for the clock that names and rotates the files (tests replace it; NULL restores).
typedef DWORD(WINAPI* PortLogTickFn)();
typedef void(WINAPI* PortLogLocalTimeFn)(SYSTEMTIME*);
void PortLogSetClock(PortLogTickFn tick, PortLogLocalTimeFn localTime);
#endif

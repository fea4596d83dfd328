// The pieces of the trace log that need no operating system: the text formatter, the line
// layout and the file names.
#pragma once

#include "FxString.h"

#include <cstdarg>

// Formats text the way the trace log understands its formats: %d, %x, %s and %f; any other
// character after "%" drops both characters and uses no argument; a lone "%" at the end stops
// the text; a null %s writes "(null)".
CString KvtFormatText(const char* format, va_list args);
CString KvtFormatTextF(const char* format, ...);

// One line of the trace file: "- (hh:mm:ss.mmm) text\r\n", with "!ERROR: " before the text for
// any level other than 0.
CString KvtFormatLine(int level, int hour, int minute, int second, int milli, const char* text);

// The hourly trace file and the fatal marker of a device, in folder + "\Log".
CString KvtHourFileName(const char* folder, const char* device, int month, int day, int hour);
CString KvtFatalFileName(const char* folder, const char* device, int month, int day, int hour);

// A device name that can stand in a file name (no path separators, no reserved characters).
bool KvtIsUsableFileName(const char* device);
// A folder given as a full path: "X:\..." or a "\\server\share" path.
bool KvtIsAbsolutePath(const char* folder);
// The names this system's libraries give their log files: the service object's hourly and fatal
// files, the port libraries' text logs and their binary dumps.
bool KvtIsLogFileName(const char* name);

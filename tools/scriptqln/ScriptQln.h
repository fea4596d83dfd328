// The scripted port manager: a library with the port manager's fourteen exports that records
// every call with its arguments and answers from a script. The Service Object loads it by the
// path in `qlnadir`; a test loads the same file to script it and read the record.
#pragma once

#include <windows.h>

// The script, by export name ("OpenPort", "Write", "IsPowerState", ...): a queue of one-shot
// results taken first, then the default. Write's result is the count reported as written
// (never more than asked); CreatePort's is the port id.
typedef void(WINAPI* ScriptResetFn)();
typedef void(WINAPI* ScriptResultFn)(const char* call, int value);
typedef void(WINAPI* ScriptDefaultFn)(const char* call, int value);
// Bytes Read hands out (ReadAvailable reports how many are left) and status frames
// GetASBState delivers, one per call, in order: each for the port of that id only.
typedef void(WINAPI* ScriptReadBytesFn)(int id, const BYTE* data, int length);
typedef void(WINAPI* ScriptStatusFrameFn)(int id, int frame);
// The record: one line per call, "Name(arguments) = result"; the bytes written.
typedef int(WINAPI* ScriptCallCountFn)();
typedef BOOL(WINAPI* ScriptCallFn)(int index, char* text, int size);
// The tick count (GetTickCount) when that call was made.
typedef DWORD(WINAPI* ScriptCallTickFn)(int index);
typedef int(WINAPI* ScriptWrittenFn)(BYTE* data, int size);
// The 19 settings after the port name of the last SetDeviceOption, in record order.
typedef int(WINAPI* ScriptDeviceOptionFn)(DWORD* fields, int count);
// The answer byte to each status request "^cu\r\n" written: call "StatusAnswer" (ScriptResult
// and ScriptDefault; negative: no answer, the default). The milliseconds a Write takes before
// it returns (recorded at its start): call "WriteStall" (default 0); a ClosePort of its port
// ends the stall at once and the Write returns 0, as a cancelled write does. "PowerDuringWrite":
// a Write of more than 5 bytes makes it IsPowerState's default and returns only after two more
// IsPowerState calls (0, the default: no change). "PowerCut": the same change, but the Write
// returns at once and the status thread finds it on its own next poll, as over a real
// connection; until IsPowerState reads 2001 again no status request is answered.

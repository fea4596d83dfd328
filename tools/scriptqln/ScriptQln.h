// The scripted port manager: a library with the port manager's fourteen exports that records
// every call with its arguments and answers from a script. The Service Object loads it by the
// path in `qlnadir`; a test loads the same file to script it and read the record.
#pragma once

#include "PortScript.h"

#include <windows.h>

// The script is kept by port id, one CPortScript each: what one port is told never reaches
// another. SCRIPT_MANAGER holds the results of the calls that name no port (CreatePort,
// LoadChildDll, FreeChildDll); SCRIPT_ANY_PORT the defaults of every port without its own.
enum { SCRIPT_MANAGER = 0, SCRIPT_ANY_PORT = -1 };

// Results by export name ("OpenPort", "Write", "IsPowerState", ...): a queue of one-shot
// results taken first, then the port's default, then the default of all ports. Write's result
// is the count reported as written (never more than asked); CreatePort's is the port id.
typedef void(WINAPI* ScriptResetFn)();
typedef void(WINAPI* ScriptResultFn)(int id, const char* call, int value);
typedef void(WINAPI* ScriptDefaultFn)(int id, const char* call, int value);
// Bytes Read hands out (ReadAvailable reports how many have arrived) and status frames
// GetASBState delivers, one per call, in order: each for the port of that id only.
typedef void(WINAPI* ScriptReadBytesFn)(int id, const BYTE* data, int length);
typedef void(WINAPI* ScriptStatusFrameFn)(int id, int frame);
// The request-th status request written to the port from now on (1: the next) is answered with
// the byte `answer`, delayMs after it was written: a Clear before then does not drop it, and a
// Read waits for it within its time-out.
typedef void(WINAPI* ScriptLateAnswerFn)(int id, int request, int answer, DWORD delayMs);
// Runs proc(context, id, call) at the start of every call of that name on the port, on the
// caller's thread (null proc: no longer).
typedef void(WINAPI* ScriptHookFn)(int id, const char* call, ScriptHookProc proc, void* context);
// The record: one line per call, "Name(arguments) = result"; the bytes written.
typedef int(WINAPI* ScriptCallCountFn)();
typedef BOOL(WINAPI* ScriptCallFn)(int index, char* text, int size);
// The tick count (GetTickCount) when that call was made.
typedef DWORD(WINAPI* ScriptCallTickFn)(int index);
typedef int(WINAPI* ScriptWrittenFn)(BYTE* data, int size);
// The 19 settings after the port name of the last SetDeviceOption, in record order.
typedef int(WINAPI* ScriptDeviceOptionFn)(DWORD* fields, int count);
// The answer byte to each status request "^cu\r\n" written: call "StatusAnswer" (negative: no
// answer, the default). The milliseconds a Write takes before it returns (recorded at its
// start): "WriteStall" (default 0), which a ClosePort of its port (of the write's class, also
// while another class keeps the port open) ends at once, the Write then
// returning 0 as a cancelled write does; "WriteStuck", which a ClosePort does not end.
// "PowerCut": a Write of more than 5 bytes makes that IsPowerState's default for the port and
// returns at once; the status thread finds it on its own next poll, as over a real connection,
// and until IsPowerState reads 2001 again the port answers no status request.

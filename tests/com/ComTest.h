// Helpers of the serial transport tests: the com.dll exports, port settings, a scripted line
// and the port log's lines.
#pragma once

#include "ComLine.h"
#include "DeviceOption.h"
#include "FxString.h"
#include "TestEnv.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

// Settings of a port on a pty: 8N1, flow control none, reads return what is there.
inline DeviceOption ComOption(const std::string& portName, DWORD flowControl = 2)
{
    DeviceOption d = {};
    d.strPortName = CString(portName.c_str()).AddRefHandle();
    d.dwBaudRate = 115200;
    d.dwByteSize = 8;
    d.dwStopBits = 0;
    d.dwParity = 0;
    d.dwFlowControl = flowControl;
    d.dwReadIntervalTimeout = MAXDWORD;
    d.dwWriteTotalTimeoutConstant = 0;
    d.dwInBufSize = 4096;
    d.dwOutBufSize = 4096;
    return d;
}

// The fourteen exports of com.dll, loaded from beside the test program.
struct ComDll
{
    HMODULE module = nullptr;
    int(WINAPI* CreatePort)() = nullptr;
    int(WINAPI* CreatePort4Log)(DWORD, DWORD, char*) = nullptr;
    int(WINAPI* SetDeviceOption)(int, DeviceOption, DWORD) = nullptr;
    int(WINAPI* OpenPort)(int, DWORD) = nullptr;
    void(WINAPI* ClosePort)(int, DWORD) = nullptr;
    int(WINAPI* DeletePort)(int) = nullptr;
    int(WINAPI* Write)(const BYTE*, int, int, DWORD) = nullptr;
    int(WINAPI* Read)(BYTE*, int, DWORD, int, DWORD) = nullptr;
    int(WINAPI* ReadAvailable)(int, DWORD) = nullptr;
    void(WINAPI* Clear)(int, DWORD) = nullptr;
    int(WINAPI* IsPowerState)(int, DWORD) = nullptr;
    int(WINAPI* GetASBState)(int*, int, DWORD) = nullptr;
    int(WINAPI* SetWrite)(int, int, DWORD) = nullptr;
    void*(WINAPI* SetObject)(int) = nullptr;
    void(WINAPI* CancelWrites)(int, DWORD) = nullptr;

    bool Load()
    {
        module = LoadLibraryA((TestBinDir() + "\\com.dll").c_str());
        if (!module)
            return false;
        return Bind(CreatePort, "CreatePort") && Bind(CreatePort4Log, "CreatePort4Log") &&
               Bind(SetDeviceOption, "SetDeviceOption") && Bind(OpenPort, "OpenPort") && Bind(ClosePort, "ClosePort") &&
               Bind(DeletePort, "DeletePort") && Bind(Write, "Write") && Bind(Read, "Read") &&
               Bind(ReadAvailable, "ReadAvailable") && Bind(Clear, "Clear") && Bind(IsPowerState, "IsPowerState") &&
               Bind(GetASBState, "GetASBState") && Bind(SetWrite, "SetWrite") && Bind(SetObject, "SetObject") &&
               Bind(CancelWrites, "CancelWrites");
    }
    ~ComDll()
    {
        if (module)
            FreeLibrary(module);
    }

    // A port with its log (and dump) in folder.
    int CreateLogged(DWORD useBinary, DWORD usePortLog, const std::string& folder)
    {
        return CreatePort4Log(useBinary, usePortLog, CString(folder.c_str()).AddRefHandle());
    }

private:
    template <class F>
    bool Bind(F& f, const char* name)
    {
        f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
        return f != nullptr;
    }
};

// Every line of every text log in <folder>\Log, in file-name order.
inline std::vector<std::string> LogLines(const CTempFolder& folder)
{
    std::vector<std::string> lines;
    for (const std::string& name : folder.List("Log")) {
        if (name.size() < 4 || name.compare(name.size() - 4, 4, ".log") != 0)
            continue;
        for (std::string& l : SplitLines(ReadWholeFile(folder.File("Log\\" + name))))
            lines.push_back(std::move(l));
    }
    return lines;
}

// The text of a line after its time stamp "- (hh:mm:ss.mmm) ".
inline std::string LineText(const std::string& line)
{
    size_t p = line.find(") ");
    return p == std::string::npos ? line : line.substr(p + 2);
}

// How many lines have exactly this text after the time stamp.
inline int CountLines(const std::vector<std::string>& lines, const std::string& text)
{
    int n = 0;
    for (const std::string& l : lines)
        if (LineText(l) == text)
            ++n;
    return n;
}

inline int CountLines(const CTempFolder& folder, const std::string& text) { return CountLines(LogLines(folder), text); }

// The line calls of a port: each passes through to Win32 unless the test scripts it.
class CScriptedLine : public IComLine
{
public:
    // Modem status: -1 the device's answer; otherwise this value (or a failure).
    std::atomic<long> modem{-1};
    std::atomic<bool> modemFails{false};
    // XOFF hold: -1 the device's answer, 0 or 1 scripted; errorFails: ClearCommError fails.
    std::atomic<int> xoffHold{-1};
    std::atomic<bool> errorFails{false};
    // When not 0, a pass sees at most this many received bytes (reads of that size).
    std::atomic<DWORD> inQueCap{0};
    // The driver's output queue as the line reports it: not 0, it holds outQueBytes until the
    // tick outQueEmptyAt (a slow drain; MAXDWORD: never). With outQueDrainFrom set, it drains
    // evenly from outQueBytes at that tick to none at outQueEmptyAt, as a line at a low baud rate
    // does. The first purge of the receive side (the close's) records the queue it met in
    // outQueAtPurge (-1 until then) and in sendPurged whether it cleared the send side too.
    std::atomic<DWORD> outQueEmptyAt{0};
    std::atomic<DWORD> outQueDrainFrom{0};
    std::atomic<DWORD> outQueBytes{0};
    std::atomic<long> outQueAtPurge{-1};
    std::atomic<bool> sendPurged{false};
    DWORD ScriptedOutQue() const
    {
        DWORD until = outQueEmptyAt;
        if (until == 0)
            return 0;
        DWORD now = GetTickCount();
        if (until != MAXDWORD && LONG(until - now) <= 0)
            return 0;
        DWORD from = outQueDrainFrom;
        if (from == 0 || until == MAXDWORD || LONG(now - from) <= 0)
            return outQueBytes;
        // What is left, rounded up: the queue is empty only at outQueEmptyAt.
        ULONGLONG left = until - now, span = until - from;
        return DWORD((ULONGLONG(outQueBytes) * left + span - 1) / span);
    }
    // While set, SetState waits for setStateGate (an open held inside its configuration).
    std::atomic<bool> holdSetState{false};
    HANDLE setStateGate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    // Fail the next n SetState calls.
    std::atomic<int> setStateFailures{0};
    // Character events: -1 the device's own wait; otherwise that many events are reported (one
    // each wait), after which every wait runs to its time-out.
    std::atomic<int> charEvents{-1};
    // The next wait's cancel never completes (the system keeps its block).
    std::atomic<bool> charWaitStuck{false};
    std::atomic<int> charWaits{0}, charTimeouts{0};
    // While set, GetModemStatus waits for the gate (the read thread's first decision waits).
    std::atomic<bool> holdModem{false};
    HANDLE gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);

    // While set, the next close of the device handle waits for the gate before it closes it and
    // names its thread in heldCloseThread (a thread held, or ended, inside the device's close).
    std::atomic<bool> holdClose{false};
    std::atomic<DWORD> heldCloseThread{0};

    std::atomic<int> modemCalls{0}, errorCalls{0}, setStateCalls{0}, txPurges{0}, allPurges{0};
    DCB lastDcb = {};

    ~CScriptedLine()
    {
        CloseHandle(gate);
        CloseHandle(setStateGate);
    }

    BOOL GetModemStatus(HANDLE h, DWORD* status) override
    {
        ++modemCalls;
        if (holdModem)
            WaitForSingleObject(gate, 30000);
        if (modemFails) {
            SetLastError(ERROR_NOT_SUPPORTED);
            return FALSE;
        }
        long m = modem;
        if (m < 0)
            return GetCommModemStatus(h, status);
        *status = DWORD(m);
        return TRUE;
    }
    BOOL ClearError(HANDLE h, DWORD* errors, COMSTAT* stat) override
    {
        ++errorCalls;
        if (errorFails)
            return FALSE;
        BOOL ok = TRUE;
        if (h) {
            ok = ClearCommError(h, errors, stat);
        } else {
            *errors = 0;
            *stat = COMSTAT();
        }
        if (ok) {
            int x = xoffHold;
            if (x >= 0)
                stat->fXoffHold = x;
            DWORD cap = inQueCap;
            if (cap && stat->cbInQue > cap)
                stat->cbInQue = cap;
            if (outQueEmptyAt != 0)
                stat->cbOutQue = ScriptedOutQue();
        }
        return ok;
    }
    BOOL SetState(HANDLE h, DCB* dcb) override
    {
        ++setStateCalls;
        if (holdSetState)
            WaitForSingleObject(setStateGate, 30000);
        lastDcb = *dcb;
        if (setStateFailures > 0) {
            --setStateFailures;
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        return SetCommState(h, dcb);
    }
    ComCharWait WaitCharEvent(HANDLE h, HANDLE terminate, DWORD ms) override
    {
        ++charWaits;
        if (charWaitStuck)
            return COMWAIT_STUCK;
        if (charEvents < 0)
            return Win32ComLine().WaitCharEvent(h, terminate, ms);
        if (charEvents > 0) {
            --charEvents;
            return COMWAIT_CHAR;
        }
        if (WaitForSingleObject(terminate, ms) == WAIT_OBJECT_0)
            return COMWAIT_TERMINATE;
        ++charTimeouts;
        return COMWAIT_TIMEOUT;
    }
    BOOL Purge(HANDLE h, DWORD flags) override
    {
        if (flags == (PURGE_TXABORT | PURGE_TXCLEAR))
            ++txPurges;
        else
            ++allPurges;
        if ((flags & PURGE_RXCLEAR) && outQueAtPurge < 0) {
            sendPurged = (flags & PURGE_TXCLEAR) != 0;
            outQueAtPurge = long(ScriptedOutQue());
        }
        return PurgeComm(h, flags);
    }
    BOOL Close(HANDLE h) override
    {
        if (holdClose.exchange(false)) {
            heldCloseThread = GetCurrentThreadId();
            WaitForSingleObject(gate, 30000);
        }
        return CloseHandle(h);
    }
};

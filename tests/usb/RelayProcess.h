// usbrelay.exe run by a test: the USB printer of the usb transport's tests, relayed to the
// printer simulator.
#pragma once

#include "TestEnv.h"

#include <windows.h>

#include <string>
#include <vector>

// Defined by the test: the relay's path as Windows sees it.
std::string UsbRelayPath();

// usbrelay.exe as a child process: stdin is a pipe whose closing ends it, stdout brings "ready".
class RelayProcess
{
public:
    ~RelayProcess()
    {
        if (!Stop())
            Kill();
    }

    // Starts the relay and waits for its "ready"; false (with the reason in Error()) otherwise.
    bool Start(const std::string& pipe, int port, const std::string& extra = "")
    {
        m_error.clear();
        SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
        HANDLE inRead = nullptr, outWrite = nullptr;
        if (!CreatePipe(&inRead, &m_in, &sa, 0) || !CreatePipe(&m_out, &outWrite, &sa, 0))
            return Fail("CreatePipe");
        // Only the child's ends are inherited.
        SetHandleInformation(m_in, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(m_out, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = inRead;
        si.hStdOutput = outWrite;
        si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        std::string cmd = "\"" + UsbRelayPath() + "\" " + pipe + " " + std::to_string(port);
        if (!extra.empty())
            cmd += " " + extra;
        std::vector<char> line(cmd.begin(), cmd.end());
        line.push_back(0);
        PROCESS_INFORMATION pi = {};
        BOOL ok = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
        CloseHandle(inRead);
        CloseHandle(outWrite);
        if (!ok)
            return Fail("CreateProcess " + cmd);
        CloseHandle(pi.hThread);
        m_process = pi.hProcess;
        // Bounded: a relay that dies or never prints does not hold the test up.
        std::string out;
        bool ready = WaitFor([&] {
            DWORD avail = 0;
            while (PeekNamedPipe(m_out, nullptr, 0, nullptr, &avail, nullptr) && avail > 0) {
                char buf[64];
                DWORD n = 0;
                if (!ReadFile(m_out, buf, sizeof buf, &n, nullptr) || n == 0)
                    break;
                out.append(buf, n);
            }
            return IsReady(out) || WaitForSingleObject(m_process, 0) == WAIT_OBJECT_0;
        }, 60000);
        if (!IsReady(out))
            return Fail(ready ? "the relay ended before it was ready: " + out : "no \"ready\" within 60 s: " + out);
        return true;
    }

    // Closes its stdin and waits for it to end; true when it ended (by itself) in time.
    bool Stop(DWORD* exitCode = nullptr)
    {
        if (m_in) {
            CloseHandle(m_in);
            m_in = nullptr;
        }
        if (!m_process)
            return true;
        if (WaitForSingleObject(m_process, 60000) != WAIT_OBJECT_0)
            return false;
        DWORD code = 0;
        GetExitCodeProcess(m_process, &code);
        if (exitCode)
            *exitCode = code;
        Release();
        return true;
    }

    // Pulls the printer: the process ends at once, with its pipe instances and connections.
    // True when it has ended.
    bool Kill()
    {
        bool ended = true;
        if (m_process) {
            TerminateProcess(m_process, 9);
            ended = WaitForSingleObject(m_process, 60000) == WAIT_OBJECT_0;
        }
        if (m_in) {
            CloseHandle(m_in);
            m_in = nullptr;
        }
        Release();
        return ended;
    }

    bool Running() const { return m_process && WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT; }
    const std::string& Error() const { return m_error; }

private:
    // Its first line is "ready" (CRLF from a console program's text mode, or LF).
    static bool IsReady(const std::string& out)
    {
        size_t nl = out.find('\n');
        return nl != std::string::npos && out.compare(0, nl, nl == 6 ? "ready\r" : "ready") == 0;
    }
    bool Fail(const std::string& what)
    {
        m_error = what + " (error " + std::to_string(GetLastError()) + ")";
        Kill();
        return false;
    }
    void Release()
    {
        if (m_process)
            CloseHandle(m_process);
        if (m_out)
            CloseHandle(m_out);
        m_process = m_out = nullptr;
    }

    HANDLE m_process = nullptr;
    HANDLE m_in = nullptr;
    HANDLE m_out = nullptr;
    std::string m_error;
};


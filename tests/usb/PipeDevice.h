// Test stand-ins for USB printers: a named pipe per plugged-in printer, whose name carries the
// vendor and product ids where an interface path has them ("\\.\pipe\U#Vvvvv&PID_pppp#..."),
// and a scripted interface list that plays the USB sockets.
#pragma once

#include "RegistUsb.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// "\\.\pipe\U#V" is 12 characters, so the ids land at offsets 12 and 21.
inline std::string UsbPipeName(const std::string& vid, const std::string& pid, const std::string& socket)
{
    return "\\\\.\\pipe\\U#V" + vid + "&PID_" + pid + "#" + socket + "_" + std::to_string(GetCurrentProcessId());
}

// A printer on a pipe: accepts any number of clients (the device list opens and closes it on
// every poll), records what is written to it, and sends to every connected client.
class CPipeDevice
{
public:
    explicit CPipeDevice(std::string name, bool reading = true, DWORD bufferSize = 4096)
        : m_name(std::move(name)), m_bufferSize(bufferSize), m_reading(reading)
    {
        m_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        m_readGate = CreateEventA(nullptr, TRUE, reading, nullptr);
        // The instances exist before the constructor returns.
        std::vector<HANDLE> spare;
        for (int i = 0; i < kSpare; ++i)
            spare.push_back(MakeInstance());
        m_listener = std::thread([this, spare] { Listen(spare); });
    }
    ~CPipeDevice() { Unplug(); }

    // Pulls the printer: every client's handle goes dead, the name stops existing.
    void Unplug()
    {
        if (!m_stop)
            return;
        SetEvent(m_stop);
        if (m_listener.joinable())
            m_listener.join();
        for (auto& c : m_conns)
            if (c->thread.joinable())
                c->thread.join();
        m_conns.clear();
        CloseHandle(m_stop);
        CloseHandle(m_readGate);
        m_stop = nullptr;
    }

    void StartReading() { SetEvent(m_readGate); }

    std::string Received()
    {
        std::lock_guard<std::mutex> l(m_lock);
        return m_received;
    }
    int Connections() const { return m_connections; }
    // Clients connected now (a reading printer notices a client that left).
    int Clients() const { return m_connections - m_left; }

    // Sends to every connected client once one has stayed connected for a while (the device
    // list's probes come and go at once); true when at least one took the bytes.
    bool Send(const std::string& bytes)
    {
        std::lock_guard<std::mutex> l(m_sendLock);
        bool any = false;
        std::vector<HANDLE> live;
        for (DWORD start = GetTickCount(); GetTickCount() - start < 10000; Sleep(10)) {
            std::lock_guard<std::mutex> g(m_lock);
            bool settled = false;
            for (auto& c : m_conns)
                settled = settled || (c->alive && GetTickCount() - c->since >= 200);
            if (!settled)
                continue;
            for (auto& c : m_conns)
                if (c->alive && c->pipe)
                    live.push_back(c->pipe);
            break;
        }
        for (HANDLE p : live) {
            OVERLAPPED ov = {};
            ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
            DWORD n = 0;
            BOOL ok = WriteFile(p, bytes.data(), DWORD(bytes.size()), nullptr, &ov);
            // Only a write that started has a result to collect: after an immediate failure (a
            // client that just left) the block may still read as pending and a wait never ends.
            if (ok || GetLastError() == ERROR_IO_PENDING) {
                if (!ok && WaitForSingleObject(ov.hEvent, 2000) != WAIT_OBJECT_0)
                    CancelIoEx(p, &ov);
                ok = GetOverlappedResult(p, &ov, &n, TRUE);
            }
            CloseHandle(ov.hEvent);
            any = any || (ok && n == bytes.size());
        }
        return any;
    }

    const std::string& Name() const { return m_name; }

private:
    static const int kSpare = 4;
    struct Conn
    {
        HANDLE pipe = nullptr;
        std::atomic<bool> alive{true};
        std::atomic<bool> ended{false};  // its thread is past every lock: joining is immediate
        DWORD since = GetTickCount();
        std::thread thread;
    };

    HANDLE MakeInstance()
    {
        return CreateNamedPipeA(m_name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES, m_bufferSize,
                                m_bufferSize, 0, nullptr);
    }

    // Several instances wait at once, so a client arriving right after another one (the device
    // list's probe, then the port's open) never finds the pipe busy.
    void Listen(std::vector<HANDLE> spare)
    {
        HANDLE pipes[kSpare];
        // Not on this stack: a connect that outlives its instance may still complete into it.
        OVERLAPPED* ovs = new OVERLAPPED[kSpare]();
        bool leftPending = false;
        bool connectedNow[kSpare] = {};
        HANDLE waits[kSpare + 1];
        auto arm = [&](int i, HANDLE h) {
            pipes[i] = h;
            ResetEvent(ovs[i].hEvent);
            if (h == INVALID_HANDLE_VALUE)
                return;
            BOOL ok = ConnectNamedPipe(h, &ovs[i]);
            DWORD e = GetLastError();
            if (!ok && e == ERROR_NO_DATA) {
                // A client came and went before the wait began: listen again on this instance.
                DisconnectNamedPipe(h);
                ok = ConnectNamedPipe(h, &ovs[i]);
                e = GetLastError();
            }
            connectedNow[i] = ok || e == ERROR_PIPE_CONNECTED;
            if (connectedNow[i] || e != ERROR_IO_PENDING)
                SetEvent(ovs[i].hEvent);
        };
        for (int i = 0; i < kSpare; ++i) {
            ovs[i].hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
            waits[i] = ovs[i].hEvent;
            arm(i, spare[size_t(i)]);
        }
        waits[kSpare] = m_stop;
        for (;;) {
            DWORD w = WaitForMultipleObjects(kSpare + 1, waits, FALSE, INFINITE);
            if (w == WAIT_OBJECT_0 + kSpare || w == WAIT_FAILED)
                break;
            int i = int(w - WAIT_OBJECT_0);
            HANDLE h = pipes[i];
            DWORD n = 0;
            if (!connectedNow[i] && !GetOverlappedResult(h, &ovs[i], &n, FALSE)) {
                if (GetLastError() == ERROR_IO_INCOMPLETE) {
                    ResetEvent(ovs[i].hEvent);
                    continue;
                }
                CloseHandle(h);  // this instance failed: a fresh one listens in its place
                arm(i, MakeInstance());
                continue;
            }
            ++m_connections;
            auto c = std::make_unique<Conn>();
            c->pipe = h;
            Conn* raw = c.get();
            {
                std::lock_guard<std::mutex> l(m_lock);
                // The device list connects on every poll: ended clients are let go here.
                for (auto it = m_conns.begin(); it != m_conns.end();) {
                    if ((*it)->ended) {
                        (*it)->thread.join();
                        it = m_conns.erase(it);
                    } else {
                        ++it;
                    }
                }
                m_conns.push_back(std::move(c));
            }
            raw->thread = std::thread([this, raw] { Serve(raw); });
            arm(i, MakeInstance());
        }
        for (int i = 0; i < kSpare; ++i) {
            if (pipes[i] != INVALID_HANDLE_VALUE) {
                // Closing the instance ends its pending connect.
                CloseHandle(pipes[i]);
                if (WaitForSingleObject(ovs[i].hEvent, 1000) != WAIT_OBJECT_0) {
                    leftPending = true;
                    continue;
                }
            }
            CloseHandle(ovs[i].hEvent);
        }
        if (!leftPending)
            delete[] ovs;
    }

    void Serve(Conn* c)
    {
        OVERLAPPED ov = {};
        ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        char buf[4096];
        HANDLE gate[2] = {m_readGate, m_stop};
        for (;;) {
            if (WaitForMultipleObjects(2, gate, FALSE, INFINITE) != WAIT_OBJECT_0)
                break;
            if (WaitForSingleObject(m_stop, 0) == WAIT_OBJECT_0)
                break;
            ResetEvent(ov.hEvent);
            DWORD n = 0;
            BOOL ok = ReadFile(c->pipe, buf, sizeof(buf), nullptr, &ov);
            if (!ok && GetLastError() != ERROR_IO_PENDING)
                break;
            HANDLE waits[2] = {ov.hEvent, m_stop};
            if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
                CancelIoEx(c->pipe, &ov);
                GetOverlappedResult(c->pipe, &ov, &n, TRUE);
                break;
            }
            if (!GetOverlappedResult(c->pipe, &ov, &n, FALSE))
                break;
            std::lock_guard<std::mutex> l(m_lock);
            m_received.append(buf, n);
        }
        c->alive = false;
        ++m_left;
        CloseHandle(ov.hEvent);
        // The client went (or the printer is pulled): this instance is done.
        std::lock_guard<std::mutex> l(m_sendLock);
        DisconnectNamedPipe(c->pipe);
        CloseHandle(c->pipe);
        c->pipe = nullptr;
        c->ended = true;
    }

    std::string m_name;
    DWORD m_bufferSize;
    bool m_reading;
    HANDLE m_stop = nullptr;
    HANDLE m_readGate = nullptr;
    std::thread m_listener;
    std::mutex m_lock, m_sendLock;
    std::vector<std::unique_ptr<Conn>> m_conns;
    std::string m_received;
    std::atomic<int> m_connections{0};
    std::atomic<int> m_left{0};
};

// The USB sockets: which interface paths the device list sees, changed while ports run.
class CScriptedUsbSource : public IUsbInterfaceSource
{
public:
    void Plug(const std::string& path)
    {
        std::lock_guard<std::mutex> l(m_lock);
        m_paths.push_back(path);
    }
    void Unplug(const std::string& path)
    {
        std::lock_guard<std::mutex> l(m_lock);
        m_paths.erase(std::remove(m_paths.begin(), m_paths.end(), path), m_paths.end());
    }
    void Set(std::vector<std::string> paths)
    {
        std::lock_guard<std::mutex> l(m_lock);
        m_paths = std::move(paths);
    }
    int Walks() const { return m_walkCount; }

    bool Begin(const GUID& cls) override
    {
        std::lock_guard<std::mutex> l(m_lock);
        m_walks[GetCurrentThreadId()] = m_paths;
        ++m_walkCount;
        return IsEqualGUID(cls, VESK_GUID_DEVINTERFACE_USB_DEVICE) != 0;
    }
    DWORD GetInterfacePath(DWORD index, CString& path) override
    {
        std::lock_guard<std::mutex> l(m_lock);
        const auto& walk = m_walks[GetCurrentThreadId()];
        if (index >= walk.size())
            return ERROR_NO_MORE_ITEMS;
        if (walk[index].empty())
            return ERROR_INVALID_DATA;
        path = walk[index].c_str();
        return ERROR_SUCCESS;
    }
    void End() override
    {
        std::lock_guard<std::mutex> l(m_lock);
        m_walks.erase(GetCurrentThreadId());
    }

private:
    // Each thread walks its own snapshot (the port's check thread and the test run at once).
    // Not thread_local: the port's threads are not the runtime's, and their thread_local
    // destructors may run on storage the runtime has already freed.
    std::mutex m_lock;
    std::vector<std::string> m_paths;
    std::map<DWORD, std::vector<std::string>> m_walks;
    std::atomic<int> m_walkCount{0};
};

// One port's script: its power, the answers and status frames it gives, how its writes stall,
// and the hooks its calls run, kept apart from every other port's. The scripted port manager
// keeps one per port id; a test's own line script can keep one for its line.
//
// Every member takes the object's own lock for a moment and never waits: a caller that must
// wait (a stalled write, a read for an answer still on its way) does so outside, asking again.
#pragma once

#include <windows.h>

#include <cstring>
#include <deque>
#include <iterator>
#include <map>
#include <string>

// Run inside a hooked call, on the caller's thread, before the call does anything: a test can
// note what it sees there, or hold the thread until it lets it go.
typedef void(WINAPI* ScriptHookProc)(void* context, int id, const char* call);

class CPortScript
{
public:
    explicit CPortScript(int id = 0) : m_id(id) { InitializeCriticalSection(&m_cs); }
    ~CPortScript() { DeleteCriticalSection(&m_cs); }
    CPortScript(const CPortScript&) = delete;
    CPortScript& operator=(const CPortScript&) = delete;

    int Id() const { return m_id; }

    // ---- Results by call name: a queue of one-shot results taken first, then this port's
    // default, then the defaults of `others` (what every port does unless told otherwise).
    void Once(const char* call, int value)
    {
        Lock l(this);
        m_once[call].push_back(value);
    }
    void SetDefault(const char* call, int value)
    {
        Lock l(this);
        m_defaults[call] = value;
    }
    int Take(const char* call, int fallback, const CPortScript* others = nullptr)
    {
        {
            Lock l(this);
            auto q = m_once.find(call);
            if (q != m_once.end() && !q->second.empty()) {
                int v = q->second.front();
                q->second.pop_front();
                return v;
            }
            auto d = m_defaults.find(call);
            if (d != m_defaults.end())
                return d->second;
        }
        return others && others != this ? others->DefaultOf(call, fallback) : fallback;
    }
    int DefaultOf(const char* call, int fallback) const
    {
        Lock l(this);
        auto d = m_defaults.find(call);
        return d != m_defaults.end() ? d->second : fallback;
    }

    // ---- Power: what the port's power state reads ("IsPowerState", on line 2001 unless
    // scripted). A cut (see OnWrite) keeps the printer from answering until it reads on line.
    int Power(const CPortScript* others = nullptr)
    {
        int r = Take("IsPowerState", 2001, others);
        Lock l(this);
        ++m_powerReads;
        if (r == 2001)
            m_cut = false;
        return r;
    }
    int PowerReads() const
    {
        Lock l(this);
        return m_powerReads;
    }

    // ---- Bytes the port receives, each due at a tick: a read takes only those due.
    void Arrive(const BYTE* data, int length, DWORD delayMs = 0)
    {
        Lock l(this);
        DWORD due = GetTickCount() + delayMs;
        // Kept in order of arrival: a byte due later goes behind every byte due before it.
        auto at = m_in.end();
        while (at != m_in.begin() && LONG(std::prev(at)->due - due) > 0)
            --at;
        for (int i = 0; i < length; ++i)
            at = std::next(m_in.insert(at, Incoming{data[i], due}));
    }
    int Available() const
    {
        Lock l(this);
        DWORD now = GetTickCount();
        int n = 0;
        for (const Incoming& b : m_in) {
            if (LONG(b.due - now) > 0)
                break;
            ++n;
        }
        return n;
    }
    int TakeBytes(BYTE* buf, int length)
    {
        Lock l(this);
        DWORD now = GetTickCount();
        int n = 0;
        while (buf && n < length && !m_in.empty() && LONG(m_in.front().due - now) <= 0) {
            buf[n++] = m_in.front().b;
            m_in.pop_front();
        }
        return n;
    }
    // Whether bytes are still on their way.
    bool Pending() const
    {
        Lock l(this);
        return !m_in.empty();
    }
    // A clear drops what has arrived; what is still on its way arrives after it.
    void ClearArrived()
    {
        Lock l(this);
        DWORD now = GetTickCount();
        while (!m_in.empty() && LONG(m_in.front().due - now) <= 0)
            m_in.pop_front();
    }

    // ---- Status frames, handed out one per poll in order.
    void AddFrame(int frame)
    {
        Lock l(this);
        m_frames.push_back(frame);
    }
    bool TakeFrame(int* frame)
    {
        Lock l(this);
        if (m_frames.empty())
            return false;
        if (frame)
            *frame = m_frames.front();
        m_frames.pop_front();
        return true;
    }

    // ---- Status requests: the request-th one from now (1: the next) is answered with this
    // byte delayMs after it was written, instead of by "StatusAnswer".
    void LateAnswer(int request, int answer, DWORD delayMs)
    {
        Lock l(this);
        m_late[m_requests + request] = Late{answer, delayMs};
    }

    // ---- Writes. What a write of these bytes does, decided as it starts: the count it reports
    // ("Write", never more than asked), the milliseconds it stalls ("WriteStall": a close of the
    // port ends the stall, as a cancelled write ends; "WriteStuck": a close does not end it), a
    // power change of a write of more than a status request ("PowerCut", found by the next
    // power read), and the answer a whole status request "^cu\r\n" gets.
    struct WriteScript
    {
        int count;
        DWORD stallMs;
        DWORD stuckMs;
    };
    WriteScript OnWrite(const BYTE* buf, DWORD len, const CPortScript* others = nullptr)
    {
        WriteScript w = {};
        int r = Take("Write", int(len), others);
        w.count = r > int(len) ? int(len) : r;
        w.stallMs = DWORD(Take("WriteStall", 0, others));
        w.stuckMs = DWORD(Take("WriteStuck", 0, others));
        if (len > 5) {
            if (int cut = Take("PowerCut", 0, others)) {
                Lock l(this);
                m_defaults["IsPowerState"] = cut;
                m_cut = cut != 2001;
            }
        }
        if (buf && len == 5 && w.count == 5 && std::memcmp(buf, "^cu\r\n", 5) == 0) {
            int answer = -1;
            DWORD delay = 0;
            bool late = false;
            {
                Lock l(this);
                auto it = m_late.find(++m_requests);
                if (it != m_late.end()) {
                    answer = it->second.answer;
                    delay = it->second.delayMs;
                    m_late.erase(it);
                    late = true;
                }
            }
            if (!late)
                answer = Take("StatusAnswer", -1, others);
            // None while the answer is negative, nor while a cut holds the printer off.
            if (answer >= 0 && !Cut()) {
                BYTE b = BYTE(answer);
                Arrive(&b, 1, delay);
            }
        }
        return w;
    }
    bool Cut() const
    {
        Lock l(this);
        return m_cut;
    }

    // ---- Opens and closes by class, as the port manager keeps them. A close ends the stalled
    // writes of its class; the last class's close (or one of a port no class opened) ends them
    // all. A write ends when either count it started with moves.
    void Opened(DWORD devType)
    {
        Lock l(this);
        m_openClasses |= devType;
    }
    void Closed(DWORD devType)
    {
        Lock l(this);
        ++m_classCloses[devType];
        if ((m_openClasses & ~devType) == 0)
            ++m_closes;
        m_openClasses &= ~devType;
    }
    int Closes() const
    {
        Lock l(this);
        return m_closes;
    }
    int ClassCloses(DWORD devType) const
    {
        Lock l(this);
        auto it = m_classCloses.find(devType);
        return it == m_classCloses.end() ? 0 : it->second;
    }

    // ---- Hooks by call name (null: none).
    void SetHook(const char* call, ScriptHookProc proc, void* context)
    {
        Lock l(this);
        if (proc)
            m_hooks[call] = Hook{proc, context};
        else
            m_hooks.erase(call);
    }
    void RunHook(const char* call)
    {
        Hook h = {};
        {
            Lock l(this);
            auto it = m_hooks.find(call);
            if (it == m_hooks.end())
                return;
            h = it->second;
        }
        h.proc(h.context, m_id, call);
    }

private:
    struct Lock
    {
        explicit Lock(const CPortScript* s) : cs(&s->m_cs) { EnterCriticalSection(cs); }
        ~Lock() { LeaveCriticalSection(cs); }
        CRITICAL_SECTION* cs;
    };
    struct Incoming
    {
        BYTE b;
        DWORD due;
    };
    struct Late
    {
        int answer;
        DWORD delayMs;
    };
    struct Hook
    {
        ScriptHookProc proc;
        void* context;
    };

    const int m_id;
    mutable CRITICAL_SECTION m_cs;
    std::map<std::string, std::deque<int>> m_once;
    std::map<std::string, int> m_defaults;
    std::deque<Incoming> m_in;
    std::deque<int> m_frames;
    std::map<int, Late> m_late;  // by status request number
    std::map<std::string, Hook> m_hooks;
    int m_requests = 0;
    int m_powerReads = 0;
    int m_closes = 0;
    std::map<DWORD, int> m_classCloses;
    DWORD m_openClasses = 0;
    bool m_cut = false;
};

// sobench: the Service Object's output path against plain writers of the same bytes.
//
// 1. Queued labels over TCP: labels per second and bytes per second from the first job queued
//    to the printer holding every byte, against a plain socket writer of the same bytes in
//    the same chunks that pauses 50 ms after each chunk as the TCP transport does (the ratio),
//    and the same writer without the pause.
// 2. A synchronous label on a serial pty: PrintNormal and the MarkFeed that sends the label, to
//    their return (the status exchange after the label included), against the same protocol
//    written plainly: status request, answer, the same bytes, status request, answer.
// 3. The delay from a queued label's last byte at the printer to its OutputCompleteEvent at the
//    application, less the transport's pauses after the last chunk and after the status request
//    that follows it.
// 4. The CPU time of the process with an enabled, idle device over 10 s, as the host counts
//    its threads (the process's own count beside it moves in 10 ms ticks).
// 5. ReleaseDevice, and a disable, while a print pass is in a write that never returns (a
//    serial printer that stopped reading): the time each takes to end the pass.
// Every figure of 1-3 is the best of its runs, the median beside it. Run beside a printer
// simulator (tools/sobench/sobench.sh does that). A benchmark, not a test: it asserts nothing.
#include "BenchKit.h"
#include "SoDevice.h"
#include "SoSim.h"

#include <winsock2.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using benchkit::Figures;
using benchkit::Now;
using benchkit::ProcessCpuSeconds;

const char kKey[] = "Software\\OLEforRetail\\ServiceOPOS\\POSPrinter\\LP1";
const int kLabels = 40;
const DWORD kChunk = 512;
const int kRuns = 5;

std::string BuildLabel(Device& dev, int n)
{
    for (int line = 0; line < 8; ++line) {
        char t[64];
        std::snprintf(t, sizeof t, "benchmark label %04d line %d", n, line);
        dev.so->m_builder.AddText(t);
        dev.so->m_builder.AdvanceY(30);
    }
    COPOSData d;
    dev.so->m_builder.BuildLabel(d);
    return std::string(reinterpret_cast<const char*>(d.GetData()), d.GetLength());
}

// The text PrintNormal gets for a label like BuildLabel's: eight lines.
std::string LabelLines(int n)
{
    std::string text;
    for (int line = 0; line < 8; ++line) {
        char t[64];
        std::snprintf(t, sizeof t, "benchmark label %04d line %d\n", n, line);
        text += t;
    }
    return text;
}

// The bytes the label of PrintNormal(text) and MarkFeed would send, built without sending.
std::string PrintNormalLabel(Device& dev, const std::string& text)
{
    dev.so->PrintNormal(2, text.c_str());
    COPOSData d;
    dev.so->m_builder.BuildLabel(d);
    return std::string(reinterpret_cast<const char*>(d.GetData()), d.GetLength());
}

void Enqueue(Device& dev, const std::string& bytes, BOOL async)
{
    COPOSData* d = new COPOSData;
    d->Append(reinterpret_cast<const BYTE*>(bytes.data()), DWORD(bytes.size()));
    CPrintDataList list;
    list.AddTail(d);
    dev.so->P_PrintOrEnqueue(async, list);
}

long Bytes(vesksim::SimClient& sim, int ep)
{
    vesksim::Counts c;
    sim.counts(ep, c);
    return c.bytes;
}

// Seconds for a plain socket to send the same bytes as the queued path, in the same chunks (each
// label's status request before and after it, the label in chunks), pausing after each chunk
// when paced, until the printer holds them all. It waits for no answer.
double PlainSocket(vesksim::SimClient& sim, int port, const std::vector<std::string>& labels, bool paced)
{
    int ep = sim.tcp(&port, 0);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(u_short(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        closesocket(s);
        sim.closeEndpoint(ep);
        return -1;
    }
    long total = 0;
    double t0 = Now();
    auto chunk = [&](const char* p, int n) {
        send(s, p, n, 0);
        total += n;
        if (paced)
            Sleep(50);
    };
    for (const std::string& l : labels) {
        chunk("^cu\r\n", 5);
        for (size_t at = 0; at < l.size(); at += kChunk)
            chunk(l.data() + at, int(std::min<size_t>(kChunk, l.size() - at)));
        chunk("^cu\r\n", 5);
    }
    sim.waitFor(ep, "bytes", total, 120000);
    double t = Now() - t0;
    closesocket(s);
    sim.closeEndpoint(ep);
    return t;
}

// Lets ms pass with the thread asleep until a message comes (the Service Object's events reach
// the application as messages), so that the benchmark's own waiting is not counted as the
// device's CPU.
void IdleFor(DWORD ms)
{
    DWORD start = GetTickCount();
    for (DWORD spent; (spent = GetTickCount() - start) < ms;) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - spent, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

}  // namespace

int main()
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    vesksim::SimClient sim;
    if (!sim.connected()) {
        std::printf("no printer simulator: %s\n", sim.error().c_str());
        return 1;
    }
    std::printf("sobench: %d labels a run, %lu-byte chunks, best of %d runs (median)\n", kLabels,
                (unsigned long)kChunk, kRuns);

    // ---- 1 and 3: queued labels over TCP
    {
        std::vector<double> queued, paced, plain, delay;
        long labelBytes = 0;
        for (int run = 0; run < kRuns; ++run) {
            CSoWorld w;
            UseInstalledPorts(w);
            int port = 0;
            int ep = sim.tcp(&port);
            w.reg.SetDWORD(kKey, "TcpPort", DWORD(port));
            std::vector<std::string> labels;
            {
                Device dev(w, true, "512");
                if (dev.open != 0) {
                    std::printf("open failed: %ld\n", dev.open);
                    return 1;
                }
                for (int i = 0; i < kLabels; ++i)
                    labels.push_back(BuildLabel(dev, i));
                labelBytes = 0;
                for (const std::string& l : labels)
                    labelBytes += long(l.size());
                long before = Bytes(sim, ep);
                double t0 = Now();
                dev.so->AsyncQueueMutex.Lock();
                for (const std::string& l : labels)
                    Enqueue(dev, l, TRUE);
                dev.so->AsyncQueueMutex.Unlock();
                // Every label byte and both status requests of each job.
                long want = before + labelBytes + kLabels * 10;
                while (Bytes(sim, ep) < want && Now() - t0 < 300)
                    dev.co->WaitForEvents(1 << 20, 1);
                queued.push_back(Now() - t0);
                dev.WaitFor("SOOutputComplete", size_t(kLabels), 120000);

                // One more label: its last byte at the printer, then its completion.
                std::string one = BuildLabel(dev, 999);
                size_t done = dev.Completed().size();
                before = Bytes(sim, ep);
                Enqueue(dev, one, TRUE);
                long last = before + long(one.size()) + 5;  // the request before it and the label
                while (Bytes(sim, ep) < last)
                    dev.co->WaitForEvents(1 << 20, 0);
                double atPrinter = Now();
                // Back after each event, so that the completion is seen when it comes (a wait in
                // 50 ms slices would add up to a slice to the figure).
                for (double t = Now(); dev.Completed().size() < done + 1 && Now() - t < 60;)
                    dev.co->WaitForEvents(dev.co->EventCount() + 1, 50);
                // By design the transport pauses after the label's last chunk and after the status
                // request that follows it.
                delay.push_back((Now() - atPrinter) * 1000 - 100);
            }
            sim.closeEndpoint(ep);
            paced.push_back(PlainSocket(sim, 0, labels, true));
            plain.push_back(PlainSocket(sim, 0, labels, false));
        }
        benchkit::Timing q = Figures(queued), pc = Figures(paced), pl = Figures(plain), d = Figures(delay);
        std::printf("queued over TCP   %.2f labels/s  %.0f bytes/s  (%.3f s, median %.3f s)\n", kLabels / q.best,
                    labelBytes / q.best, q.best, q.median);
        std::printf("paced socket      %.2f labels/s  %.0f bytes/s  (%.3f s, median %.3f s)\n", kLabels / pc.best,
                    labelBytes / pc.best, pc.best, pc.median);
        std::printf("unpaced socket    %.2f labels/s  %.0f bytes/s  (%.3f s, median %.3f s)\n", kLabels / pl.best,
                    labelBytes / pl.best, pl.best, pl.median);
        std::printf("ratio queued/paced %.3f (aim at least 0.9)\n", pc.best / q.best);
        std::printf("last byte to OutputCompleteEvent beyond the two 50 ms pauses: %.1f ms (median %.1f ms; aim under 50)\n",
                    d.best, d.median);
    }

    // ---- 2: a synchronous label on a serial pty
    {
        std::vector<double> sync, plain;
        for (int run = 0; run < kRuns; ++run) {
            CSoWorld w;
            UseInstalledPorts(w);
            int com = 0;
            int ep = UseSimulatorSerial(w, sim, kKey);
            std::string label;
            {
                Device dev(w, false, "4096");
                if (dev.open != 0) {
                    std::printf("serial open failed: %ld\n", dev.open);
                    return 1;
                }
                std::string text = LabelLines(run);
                label = PrintNormalLabel(dev, text);
                long want = Bytes(sim, ep) + 10 + long(label.size());
                double t0 = Now();
                long rc = dev.so->PrintNormal(2, text.c_str());
                if (rc == 0)
                    rc = dev.so->MarkFeed(1);
                // The call returns after the answer to the request that follows the label.
                sync.push_back(Now() - t0);
                sim.waitFor(ep, "bytes", want, 60000);
                if (rc != 0)
                    std::printf("synchronous label: PrintNormal and MarkFeed gave %ld\n", rc);
            }
            sim.closeEndpoint(ep);

            // The same bytes and one status round trip, plainly.
            ep = sim.serial(&com);
            HANDLE h = benchkit::OpenPlainCom("\\\\.\\COM" + std::to_string(com));
            long want = Bytes(sim, ep) + 10 + long(label.size());
            double t0 = Now();
            DWORD n = 0;
            auto exchange = [&] {
                WriteFile(h, "^cu\r\n", 5, &n, nullptr);
                BYTE answer = 0;
                for (int i = 0; i < 100 && !(ReadFile(h, &answer, 1, &n, nullptr) && n == 1); ++i) {
                }
            };
            exchange();
            WriteFile(h, label.data(), DWORD(label.size()), &n, nullptr);
            exchange();
            plain.push_back(Now() - t0);
            sim.waitFor(ep, "bytes", want, 60000);
            CloseHandle(h);
            sim.closeEndpoint(ep);
        }
        benchkit::Timing sy = Figures(sync), pl = Figures(plain);
        std::printf("synchronous label on a pty %.1f ms (median %.1f ms); plain status, write, status %.1f ms "
                    "(median %.1f ms); ratio %.2f (aim at most 1.3)\n",
                    sy.best * 1000, sy.median * 1000, pl.best * 1000, pl.median * 1000,
                    sy.best / pl.best);
    }

    // ---- 4: an enabled device idling
    {
        CSoWorld w;
        UseInstalledPorts(w);
        int port = 0;
        int ep = sim.tcp(&port);
        w.reg.SetDWORD(kKey, "TcpPort", DWORD(port));
        Device dev(w, true, "512");
        benchkit::HostCpuSeconds();  // finds the process's host entry before the measurement
        dev.co->WaitForEvents(1 << 20, 500);
        double c0 = ProcessCpuSeconds(), h0 = benchkit::HostCpuSeconds(), t0 = Now();
        IdleFor(10000);
        double cpu = ProcessCpuSeconds() - c0, h1 = benchkit::HostCpuSeconds(), t = Now() - t0;
        double used = h0 >= 0 && h1 >= 0 ? h1 - h0 : cpu;
        std::printf("idle enabled device: %.3f s CPU in %.1f s (%.3f %% of one core; aim under 0.2 %%)\n", used, t,
                    100 * used / t);
        std::printf("  (the process's own count, in ticks of its clock: %.3f s)\n", cpu);
        sim.closeEndpoint(ep);
    }
    // ---- 5: ReleaseDevice and a disable with a pass in a write that never returns
    for (int disable = 0; disable < 2; ++disable) {
        std::vector<double> ended;
        for (int run = 0; run < kRuns; ++run) {
            CSoWorld w;
            UseInstalledPorts(w);
            int ep = UseSimulatorSerial(w, sim, kKey);
            {
                Device dev(w, true, "512");
                if (dev.open != 0) {
                    std::printf("serial open failed: %ld\n", dev.open);
                    return 1;
                }
                // More than the pty holds: the writes stall once the printer stops reading.
                sim.fault(ep, "stopread");
                Enqueue(dev, std::string(256 * 1024, 'x'), TRUE);
                Sleep(1500);
                double t0 = Now();
                if (disable)
                    dev.so->SetPropertyNumber(PIDX_DeviceEnabled, 0);
                else
                    dev.so->ReleaseDevice();
                ended.push_back(Now() - t0);
            }
            sim.fault(ep, "read");
            sim.closeEndpoint(ep);
        }
        benchkit::Timing r = Figures(ended);
        std::printf("%s with a pass in a write that never returns: %.2f s (median %.2f s; aim under 2.5 s)\n",
                    disable ? "disable" : "ReleaseDevice", r.best, r.median);
    }
    WSACleanup();
    return 0;
}

// Client of the printer simulator's control port, for tests on the host and under Wine.
// One command, one answer line (tools/README.md); every call blocks until its answer.
#pragma once

#include "qlks.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vesksim {

struct Counts {
    long bytes = 0, labels = 0, partial = 0, flagged = 0, keepalive = 0, status = 0, init = 0, linefeed = 0;
    long connections = 0, closes = 0, open = 0, pending = 0;
};

// What arrived besides label lines, in order: 'k' keep-alive, 'i' init byte, 's' status request,
// 'f' the line feed before a retried job, 'l' a label ended (label = its index).
struct SimEvent {
    char kind = 0;
    long long timeUs = 0; // since the endpoint was made
    int label = -1;
};

// How the simulator sends bytes: writes of `chunk` bytes (0: all at once), `gapMs` apart,
// the whole `repeat` times, starting after `delayMs`.
struct SendOptions {
    int chunk = 0;
    int gapMs = 0;
    int repeat = 1;
    int delayMs = 0;
};

class SimClient {
public:
    SimClient(); // the address in VESK_SIM
    explicit SimClient(const std::string& address); // "127.0.0.1:<port>"
    ~SimClient();
    SimClient(const SimClient&) = delete;
    SimClient& operator=(const SimClient&) = delete;

    bool connected() const;
    const std::string& error() const { return error_; } // the last failure, for test messages

    // One raw command; returns the answer line, "" when the connection failed.
    std::string request(const std::string& line);

    // Endpoints. serial() links a pty as COM<com> in the Wine prefix; tcp() listens on
    // 127.0.0.1:<port> (0: ephemeral). Both return the endpoint id, or -1.
    int serial(int* com, int wantCom = 0);
    int tcp(int* port, int wantPort = 0);
    bool closeEndpoint(int ep);

    // The one-byte answer to "^cu\r\n", at once or after delayMs; silenceStatus: no answer.
    bool setStatus(int ep, std::uint8_t answer, int delayMs = 0);
    bool silenceStatus(int ep);

    bool send(int ep, const qlks::Bytes& bytes, const SendOptions& how = {});
    // A status frame checked against its kind's byte sets ("asb" or "iasb").
    bool frame(int ep, const std::string& kind, const qlks::Bytes& frame, const SendOptions& how = {});
    bool flood(int ep, long n);
    // Faults: tcp refuse, accept, acceptclose, fin, rst, fin-in-label, rst-in-label (after =
    // label bytes before the cut), stopread, read; serial stopread, read, xoff, xon.
    bool fault(int ep, const std::string& what, long after = 0);

    bool counts(int ep, Counts& out);
    // Waits until a counter (bytes, labels, partial, keepalive, status, init, connections,
    // closes, ...) reaches n; false on the simulator's time-out.
    bool waitFor(int ep, const std::string& counter, long n, int timeoutMs = 30000);
    bool waitLabels(int ep, long n, int timeoutMs = 30000) { return waitFor(ep, "labels", n, timeoutMs); }

    // Every label received so far, complete and partial, parsed here from its bytes.
    std::vector<qlks::Label> labels(int ep);
    qlks::Bytes transcript(int ep, long offset = 0, long length = -1);
    // Each read the simulator made: {time in microseconds since the endpoint was made, bytes}.
    std::vector<std::pair<long long, long>> chunks(int ep);
    std::vector<SimEvent> events(int ep);
    std::vector<long long> keepAliveGapsUs(int ep);
    bool clear(int ep);
    bool quit();

private:
    bool ok(const std::string& answer);
    std::string okRequest(const std::string& line); // the text after "OK", or error
    bool connectTo(const std::string& address);

    std::intptr_t sock_ = -1;
    std::string buffered_;
    std::string error_;
    bool wsa_ = false;
};

} // namespace vesksim

// vesk-sim: a QLKS label printer on pty serial ports and loopback TCP listeners, driven by tests
// through a line protocol on a loopback control port (see tools/README.md).
#pragma once

#include "qlks.h"

#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace vesksim {

long long nowUs(); // monotonic

struct Output {
    long long due; // nowUs() time of the write
    qlks::Bytes bytes;
};

// One byte stream to a driver: an accepted TCP connection, or the pty master of a serial port.
struct Connection {
    int fd = -1;
    qlks::Bytes pending;  // taken for sending, not yet taken by the kernel
    bool dropped = false; // our side closed its sending half (FIN fault): input is thrown away
};

struct Endpoint {
    enum class Kind { Serial, Tcp } kind = Kind::Serial;
    int id = 0;
    long long created = 0;

    int master = -1, slave = -1, com = 0; // serial; the slave stays open so the master never hangs up
    std::string ptsPath, link;

    int listener = -1, port = 0; // tcp; listener -1 while refusing
    bool acceptClose = false;

    std::vector<Connection> conns; // serial: exactly one, on the master
    bool reading = true;

    int statusByte = 0x00; // answer to "^cu\r\n"
    int statusDelayMs = 0;
    bool statusSilent = false;

    enum class Cut { None, Fin, Rst } cut = Cut::None; // armed for the middle of the next label
    std::size_t cutAfter = 1;

    std::deque<Output> outputs; // ordered by due time
    long long injectedUntil = 0;  // due time of the last injected write: injections keep their order

    qlks::StreamParser parser;
    qlks::Bytes received;
    struct Chunk {
        long long time; // microseconds since the endpoint was made
        std::size_t offset, length;
    };
    std::vector<Chunk> chunks;
    long connections = 0, closes = 0;
};

class Simulator {
public:
    explicit Simulator(std::string winePrefix) : winePrefix_(std::move(winePrefix)) {}
    ~Simulator();
    // Opens the control port on 127.0.0.1 (0: ephemeral); returns "127.0.0.1:<port>" or "".
    std::string listen(int port);
    // Runs until QUIT, the stop fd becomes readable or watchFd reaches end of file.
    void run(int stopFd, int watchFd);

private:
    struct Control {
        int fd = -1;
        std::string in, out;
        bool waiting = false; // a WAIT is open: later lines wait for its answer
        int waitEp = 0;
        std::string waitCounter;
        long waitFor = 0;
        long long waitDeadline = 0;
    };

    std::string command(Control& c, const std::string& line);
    std::string createSerial(int wantCom);
    std::string createTcp(int port);
    std::string fault(Endpoint& ep, const std::string& what, long after);
    bool openListener(Endpoint& ep);
    void removeEndpoint(std::size_t index);
    Endpoint* find(int id);
    bool counter(const Endpoint& ep, const std::string& name, long& value) const;
    std::string counts(const Endpoint& ep) const;

    void schedule(Endpoint& ep, qlks::Bytes bytes, long long due);
    void flush(Endpoint& ep);
    void onAccept(Endpoint& ep);
    void onReadable(Endpoint& ep, std::size_t ci);
    void record(Endpoint& ep, const std::uint8_t* data, std::size_t n);
    void cut(Endpoint& ep, std::size_t ci, Endpoint::Cut how);
    void closeConnection(Endpoint& ep, std::size_t ci, bool reset);
    void endStream(Endpoint& ep);
    void checkWaits();
    long long nextDue() const;

    std::string winePrefix_;
    int controlFd_ = -1;
    std::vector<Control> controls_;
    std::vector<std::unique_ptr<Endpoint>> endpoints_;
    int nextId_ = 1;
    bool quit_ = false;
};

} // namespace vesksim

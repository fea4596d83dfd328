// The simulator seen from the host: a pty serial endpoint, TCP endpoints and their faults, and
// the simulator's own lifetime (no COM link may outlive it).
#include "simclient.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

using qlks::Bytes;
using vesksim::SimClient;

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPatience = std::chrono::seconds(20);

std::string env(const char* name) { const char* v = std::getenv(name); return v ? v : ""; }
std::string comLink(int com) { return env("WINEPREFIX") + "/dosdevices/com" + std::to_string(com); }
bool exists(const std::string& path) { struct stat st; return lstat(path.c_str(), &st) == 0; }

Bytes bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

const std::string kLabel = "SW832\r\nST1\r\nSM0,0\r\nSS4\r\nSD10\r\nSO0\r\nSA0\r\nTA0\r\nCS0,0\r\nCUTn\r\n"
                           "T0,0,1,1,1,0,0,N,N,L,'hello'\r\nP1\r\n";

// Reads exactly n bytes within the patience bound (fd non-blocking).
Bytes readExactly(int fd, std::size_t n)
{
    Bytes out;
    const auto end = Clock::now() + kPatience;
    while (out.size() < n && Clock::now() < end) {
        std::uint8_t b[65536];
        ssize_t got = read(fd, b, std::min(sizeof b, n - out.size()));
        if (got > 0) out.insert(out.end(), b, b + got);
        else if (got == 0) break;
        else std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return out;
}

void writeAll(int fd, const Bytes& b)
{
    std::size_t done = 0;
    const auto end = Clock::now() + kPatience;
    while (done < b.size() && Clock::now() < end) {
        ssize_t n = write(fd, b.data() + done, b.size() - done);
        if (n > 0) done += static_cast<std::size_t>(n);
        else std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_EQ(done, b.size());
}

int connectLoopback(int port)
{
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<std::uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        int e = errno;
        close(s);
        errno = e;
        return -1;
    }
    return s;
}

// Opens the pty the way a Windows program does: through its COM link.
class SerialEndpoint : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sim.connected()) << sim.error();
        ep = sim.serial(&com);
        ASSERT_GE(ep, 0) << sim.error();
        ASSERT_GE(com, 20);
        fd = open(comLink(com).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd, 0) << comLink(com);
        termios t{};
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
    }
    void TearDown() override
    {
        if (fd >= 0) close(fd);
        if (ep >= 0) {
            EXPECT_TRUE(sim.closeEndpoint(ep)) << sim.error();
            EXPECT_FALSE(exists(comLink(com))) << "the COM link outlived its endpoint";
        }
    }
    SimClient sim;
    int ep = -1, com = 0, fd = -1;
};

} // namespace

TEST_F(SerialEndpoint, RecordsBytesExactlyAndCountsWhatLiesBetweenLabels)
{
    const Bytes raw = [] {
        Bytes b = {0x00, 0x40, 0x11, 0x13, '\r', '\n'}; // keep-alive, init, then a line of flow-control bytes
        Bytes l = bytes(kLabel);
        b.insert(b.end(), l.begin(), l.end());
        b.push_back(0x00);
        return b;
    }();
    writeAll(fd, raw);
    ASSERT_TRUE(sim.waitFor(ep, "keepalive", 2)) << sim.error();
    EXPECT_EQ(sim.transcript(ep), raw);
    vesksim::Counts c;
    ASSERT_TRUE(sim.counts(ep, c));
    EXPECT_EQ(c.bytes, static_cast<long>(raw.size()));
    EXPECT_EQ(c.init, 1);
    EXPECT_EQ(c.labels, 1);
    EXPECT_EQ(c.flagged, 1) << "the line of 11 13 is no command";
    auto labels = sim.labels(ep);
    ASSERT_EQ(labels.size(), 1u);
    EXPECT_EQ(labels[0].count(qlks::Op::Unknown), 1u);
    ASSERT_TRUE(labels[0].find(qlks::Op::Text));
    EXPECT_EQ(labels[0].find(qlks::Op::Text)->str("text"), "hello");
    EXPECT_EQ(sim.keepAliveGapsUs(ep).size(), 1u);
    EXPECT_EQ(sim.transcript(ep, 2, 2), (Bytes{0x11, 0x13}));

    // Every read is recorded with its time.
    long total = 0;
    long long last = 0;
    for (const auto& [time, length] : sim.chunks(ep)) {
        EXPECT_GE(time, last);
        last = time;
        total += length;
    }
    EXPECT_EQ(total, static_cast<long>(raw.size()));
}

TEST_F(SerialEndpoint, RetryLineFeedAndAStatusRequestInsideALabel)
{
    ASSERT_TRUE(sim.setStatus(ep, 0x00));
    // A label, the retry's line feed, the label again with a status request between two of its lines.
    Bytes raw = bytes(kLabel + "\n" + kLabel.substr(0, 7) + "^cu\r\n" + kLabel.substr(7));
    writeAll(fd, raw);
    ASSERT_TRUE(sim.waitFor(ep, "labels", 2)) << sim.error();
    EXPECT_EQ(readExactly(fd, 1), Bytes{0x00}) << "the request inside the label is answered";
    vesksim::Counts c;
    ASSERT_TRUE(sim.counts(ep, c));
    EXPECT_EQ(c.linefeed, 1);
    EXPECT_EQ(c.status, 1);
    EXPECT_EQ(c.flagged, 1);
    std::string kinds;
    for (const vesksim::SimEvent& e : sim.events(ep)) kinds += e.kind;
    EXPECT_EQ(kinds, "lfsl");
    // The labels fetched from the simulator read as it read them.
    auto labels = sim.labels(ep);
    ASSERT_EQ(labels.size(), 2u);
    EXPECT_EQ(labels[0].flags, 0u) << qlks::describe(labels[0]);
    EXPECT_EQ(labels[1].flags, static_cast<unsigned>(qlks::kInterleaved)) << qlks::describe(labels[1]);
}

TEST_F(SerialEndpoint, StatusAnswerNowLateOrNever)
{
    ASSERT_TRUE(sim.setStatus(ep, 0x80));
    writeAll(fd, Bytes{0x40});        // init: no answer
    writeAll(fd, bytes("^cu\r\n"));
    EXPECT_EQ(readExactly(fd, 1), Bytes{0x80}) << "the first byte back answers the request, not the init byte";

    ASSERT_TRUE(sim.setStatus(ep, 0x04, 300));
    writeAll(fd, bytes("^cu\r\n"));
    EXPECT_EQ(readExactly(fd, 1), Bytes{0x04});

    ASSERT_TRUE(sim.silenceStatus(ep));
    writeAll(fd, bytes("^cu\r\n"));
    ASSERT_TRUE(sim.waitFor(ep, "status", 3)) << sim.error();
    ASSERT_TRUE(sim.send(ep, Bytes{'Z'}));
    EXPECT_EQ(readExactly(fd, 1), Bytes{'Z'}) << "a silent printer sends nothing before the marker";
}

TEST_F(SerialEndpoint, FramesInEveryShapeFloodAndFlowControlBytes)
{
    ASSERT_TRUE(sim.frame(ep, "asb", {0x10, 0x00, 0x00, 0x00}));
    ASSERT_TRUE(sim.frame(ep, "iasb", {0x35, 0x40, 0x40, 0x00}, {1, 20, 1, 0}));
    ASSERT_TRUE(sim.frame(ep, "asb", {0x34, 0x20, 0x0C, 0x0F}, {2, 30, 3, 0}));
    ASSERT_TRUE(sim.send(ep, {'a', 0x14, 0x00, 0x00, 0x0F, 'b'}));
    EXPECT_FALSE(sim.frame(ep, "asb", {0x35, 0x40, 0x40, 0x00})) << "an IASB frame is no ASB frame";
    ASSERT_TRUE(sim.fault(ep, "xoff"));
    ASSERT_TRUE(sim.fault(ep, "xon"));
    Bytes want = {0x10, 0, 0, 0, 0x35, 0x40, 0x40, 0x00};
    for (int i = 0; i < 3; ++i) want.insert(want.end(), {0x34, 0x20, 0x0C, 0x0F});
    want.insert(want.end(), {'a', 0x14, 0x00, 0x00, 0x0F, 'b', 0x13, 0x11});
    EXPECT_EQ(readExactly(fd, want.size()), want);

    ASSERT_TRUE(sim.flood(ep, 100000));
    Bytes flood = readExactly(fd, 100000);
    ASSERT_EQ(flood.size(), 100000u);
    EXPECT_EQ(flood[0], 'a');
    EXPECT_EQ(flood[99999], 'a' + 99999 % 26);
}

TEST_F(SerialEndpoint, StopReadingBlocksTheWriterUntilReadingResumes)
{
    ASSERT_TRUE(sim.fault(ep, "stopread"));
    const Bytes block(4096, 'x');
    long written = 0;
    bool blocked = false;
    for (int i = 0; i < 16384 && !blocked; ++i) { // at most 64 MB
        ssize_t n = write(fd, block.data(), block.size());
        if (n > 0) written += n;
        else blocked = n < 0 && errno == EAGAIN;
    }
    ASSERT_TRUE(blocked) << "the pty never filled";
    ASSERT_TRUE(sim.fault(ep, "read"));
    EXPECT_TRUE(sim.waitFor(ep, "bytes", written)) << sim.error();
}

TEST(TcpEndpoint, LabelsStatusAndTheConnectionFaults)
{
    SimClient sim;
    int port = 0;
    const int ep = sim.tcp(&port);
    ASSERT_GE(ep, 0) << sim.error();

    int s = connectLoopback(port);
    ASSERT_GE(s, 0);
    ASSERT_TRUE(sim.setStatus(ep, 0x40));
    const Bytes request = bytes("^cu\r\n" + kLabel);
    ASSERT_EQ(send(s, request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
    std::uint8_t b = 0;
    ASSERT_EQ(recv(s, &b, 1, 0), 1);
    EXPECT_EQ(b, 0x40);
    ASSERT_TRUE(sim.waitLabels(ep, 1)) << sim.error();

    // FIN in the middle of a label: the client reads end of stream, the label stays partial.
    ASSERT_TRUE(sim.fault(ep, "fin-in-label", 8));
    const Bytes half = bytes(kLabel.substr(0, 20));
    ASSERT_EQ(send(s, half.data(), half.size(), 0), static_cast<ssize_t>(half.size()));
    EXPECT_EQ(recv(s, &b, 1, 0), 0);
    close(s);
    ASSERT_TRUE(sim.waitFor(ep, "closes", 1)) << sim.error();

    // RST in the middle of a label: the client reads a reset.
    s = connectLoopback(port);
    ASSERT_GE(s, 0);
    ASSERT_TRUE(sim.fault(ep, "rst-in-label"));
    ASSERT_EQ(send(s, half.data(), half.size(), 0), static_cast<ssize_t>(half.size()));
    EXPECT_EQ(recv(s, &b, 1, 0), -1);
    EXPECT_EQ(errno, ECONNRESET);
    close(s);

    // Refused, then accepted-and-closed, then accepted again.
    ASSERT_TRUE(sim.fault(ep, "refuse"));
    EXPECT_EQ(connectLoopback(port), -1);
    EXPECT_EQ(errno, ECONNREFUSED);
    ASSERT_TRUE(sim.fault(ep, "acceptclose"));
    s = connectLoopback(port);
    ASSERT_GE(s, 0);
    EXPECT_EQ(recv(s, &b, 1, 0), 0);
    close(s);
    ASSERT_TRUE(sim.fault(ep, "accept"));
    s = connectLoopback(port);
    ASSERT_GE(s, 0);
    ASSERT_TRUE(sim.waitFor(ep, "connections", 4)) << sim.error();

    vesksim::Counts c;
    ASSERT_TRUE(sim.counts(ep, c));
    EXPECT_EQ(c.labels, 1);
    EXPECT_EQ(c.partial, 2);
    EXPECT_EQ(c.closes, 3);
    EXPECT_EQ(c.open, 1);
    auto labels = sim.labels(ep);
    ASSERT_EQ(labels.size(), 3u);
    EXPECT_TRUE(labels[0].complete);
    EXPECT_FALSE(labels[1].complete);
    EXPECT_EQ(labels[1].raw, Bytes(half.begin(), half.begin() + 8)) << "the label bytes before the cut are kept";
    EXPECT_EQ(labels[2].raw.size(), 1u);

    // Stop reading: the sender's buffer fills and its writes would block.
    ASSERT_TRUE(sim.counts(ep, c));
    const long before = c.bytes;
    ASSERT_TRUE(sim.fault(ep, "stopread"));
    fcntl(s, F_SETFL, O_NONBLOCK);
    const Bytes block(65536, 'y');
    long sent = 0;
    bool blocked = false;
    for (int i = 0; i < 4096 && !blocked; ++i) { // at most 256 MB
        ssize_t n = send(s, block.data(), block.size(), MSG_NOSIGNAL);
        if (n > 0) sent += n;
        else blocked = n < 0 && errno == EAGAIN;
    }
    ASSERT_TRUE(blocked);
    ASSERT_TRUE(sim.fault(ep, "read"));
    EXPECT_TRUE(sim.waitFor(ep, "bytes", before + sent)) << sim.error();
    close(s);
    EXPECT_TRUE(sim.waitFor(ep, "closes", 4)) << sim.error();
}

TEST(SimulatorControl, RejectsBadCommandsWithAReason)
{
    SimClient sim;
    EXPECT_EQ(sim.request("PING"), "OK vesk-sim");
    EXPECT_EQ(sim.request("FROB").rfind("ERR ", 0), 0u);
    EXPECT_EQ(sim.request("COUNTS 999").rfind("ERR ", 0), 0u);
    int port = 0;
    int ep = sim.tcp(&port);
    ASSERT_GE(ep, 0);
    EXPECT_EQ(sim.request("SEND " + std::to_string(ep) + " 41").rfind("ERR no connection", 0), 0u);
    EXPECT_EQ(sim.request("SEND " + std::to_string(ep) + " 4").rfind("ERR ", 0), 0u);
    EXPECT_EQ(sim.request("FAULT " + std::to_string(ep) + " xoff").rfind("ERR ", 0), 0u) << "XOFF is serial only";
    EXPECT_EQ(sim.request("WAIT " + std::to_string(ep) + " labels 1 timeout=50"), "ERR timeout labels=0");
    EXPECT_EQ(sim.request("PING"), "OK vesk-sim") << "the control line still works after a timeout";
    EXPECT_FALSE(SimClient("10.0.0.1:80").connected()) << "only loopback";
}

namespace {

// Starts a simulator as a child of this process; its control address comes on its stdout.
pid_t startSim(std::string& address, int* stdinWrite)
{
    int out[2], in[2];
    if (pipe(out) != 0 || pipe(in) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(in[0], 0);
        close(out[0]);
        close(in[1]);
        const std::string bin = env("VESK_TEST_BIN") + "/tools/sim/vesk-sim";
        execl(bin.c_str(), bin.c_str(), "--watch-stdin", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    close(in[0]);
    address.clear();
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') address += c;
    close(out[0]);
    if (stdinWrite) *stdinWrite = in[1];
    else close(in[1]);
    return pid;
}

bool exitsWithin(pid_t pid, int& status)
{
    const auto end = Clock::now() + kPatience;
    while (Clock::now() < end) {
        if (waitpid(pid, &status, WNOHANG) == pid) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return false;
}

bool goneWithin(const std::string& path)
{
    const auto end = Clock::now() + kPatience;
    while (Clock::now() < end) {
        if (!exists(path)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

} // namespace

TEST(SimulatorLifetime, EndsOnQuitAndOnStdinClosingAndRemovesItsLinks)
{
    for (bool byQuit : {true, false}) {
        std::string address;
        int stdinWrite = -1;
        pid_t pid = startSim(address, &stdinWrite);
        ASSERT_GT(pid, 0);
        std::string link;
        {
            SimClient sim(address);
            int com = 0;
            ASSERT_GE(sim.serial(&com), 0) << sim.error();
            link = comLink(com);
            ASSERT_TRUE(exists(link));
            if (byQuit) EXPECT_TRUE(sim.quit()) << sim.error();
        }
        if (!byQuit) close(stdinWrite);
        int status = 0;
        ASSERT_TRUE(exitsWithin(pid, status)) << (byQuit ? "QUIT" : "stdin closed");
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_FALSE(exists(link));
        if (byQuit) close(stdinWrite);
    }
}

TEST(SimulatorLifetime, EndsWithItsParent)
{
    // A middle process starts the simulator, makes an endpoint, tells us the link and dies.
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    pid_t middle = fork();
    if (middle == 0) {
        close(report[0]);
        int keep = -1; // stdin stays open: only the parent's death may end the simulator
        std::string address;
        if (startSim(address, &keep) <= 0) _exit(1);
        SimClient sim(address);
        int com = 0;
        if (sim.serial(&com) < 0) _exit(2);
        std::string link = comLink(com) + "\n";
        if (write(report[1], link.data(), link.size()) < 0) _exit(3);
        _exit(0);
    }
    close(report[1]);
    std::string link;
    char c;
    while (read(report[0], &c, 1) == 1 && c != '\n') link += c;
    close(report[0]);
    int status = 0;
    waitpid(middle, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_FALSE(link.empty());
    EXPECT_TRUE(goneWithin(link)) << link << " outlived the simulator's parent";
}

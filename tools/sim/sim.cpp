#include "sim.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace vesksim {

long long nowUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

namespace {

const char kHex[] = "0123456789abcdef";

std::string toHex(const std::uint8_t* p, std::size_t n)
{
    std::string s;
    s.reserve(n * 2);
    for (std::size_t i = 0; i < n; ++i) {
        s += kHex[p[i] >> 4];
        s += kHex[p[i] & 15];
    }
    return s;
}

bool fromHex(const std::string& s, qlks::Bytes& out)
{
    auto nib = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    if (s.size() % 2) return false;
    out.clear();
    for (std::size_t i = 0; i < s.size(); i += 2) {
        int hi = nib(s[i]), lo = nib(s[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
    }
    return true;
}

bool toLong(const std::string& s, long& v)
{
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    v = std::strtol(s.c_str(), &end, 10);
    return errno == 0 && *end == 0;
}

// Words of a command line; "key=value" words become options.
struct Args {
    std::vector<std::string> words;
    std::map<std::string, std::string> opts;
    bool opt(const std::string& k, long& v, long def) const
    {
        auto it = opts.find(k);
        if (it == opts.end()) {
            v = def;
            return true;
        }
        return toLong(it->second, v);
    }
};

Args split(const std::string& line)
{
    Args a;
    std::istringstream in(line);
    std::string w;
    while (in >> w) {
        auto eq = w.find('=');
        if (eq != std::string::npos && eq > 0)
            a.opts[w.substr(0, eq)] = w.substr(eq + 1);
        else
            a.words.push_back(w);
    }
    return a;
}

bool ioAgain() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR; }

int loopbackListener(int port, int& boundPort)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK); // never any other address
    sa.sin_port = htons(static_cast<std::uint16_t>(port));
    socklen_t len = sizeof sa;
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, 16) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        close(fd);
        return -1;
    }
    boundPort = ntohs(sa.sin_port);
    return fd;
}

std::string err(const std::string& what) { return "ERR " + what; }
std::string sysErr(const std::string& what) { return "ERR " + what + ": " + std::strerror(errno); }

} // namespace

Simulator::~Simulator()
{
    while (!endpoints_.empty()) removeEndpoint(endpoints_.size() - 1);
    for (Control& c : controls_) close(c.fd);
    if (controlFd_ >= 0) close(controlFd_);
}

std::string Simulator::listen(int port)
{
    int bound = 0;
    controlFd_ = loopbackListener(port, bound);
    if (controlFd_ < 0) return "";
    return "127.0.0.1:" + std::to_string(bound);
}

Endpoint* Simulator::find(int id)
{
    for (auto& e : endpoints_)
        if (e->id == id) return e.get();
    return nullptr;
}

std::string Simulator::createSerial(int wantCom)
{
    auto ep = std::make_unique<Endpoint>();
    ep->kind = Endpoint::Kind::Serial;
    ep->master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (ep->master < 0 || grantpt(ep->master) != 0 || unlockpt(ep->master) != 0) {
        std::string e = sysErr("pty");
        if (ep->master >= 0) close(ep->master);
        return e;
    }
    ep->ptsPath = ptsname(ep->master);
    ep->slave = open(ep->ptsPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios t{};
    if (ep->slave < 0 || tcgetattr(ep->slave, &t) != 0) {
        std::string e = sysErr("pty slave");
        close(ep->master);
        if (ep->slave >= 0) close(ep->slave);
        return e;
    }
    cfmakeraw(&t); // no echo, no line editing: every byte passes as it is
    tcsetattr(ep->slave, TCSANOW, &t);
    const std::string dir = winePrefix_ + "/dosdevices/com";
    // The first free number wins: symlink() is atomic, so parallel simulators never share one.
    for (int n = wantCom > 0 ? wantCom : 20; n <= (wantCom > 0 ? wantCom : 256); ++n) {
        std::string link = dir + std::to_string(n);
        if (symlink(ep->ptsPath.c_str(), link.c_str()) == 0) {
            ep->link = link;
            ep->com = n;
            break;
        }
        if (errno != EEXIST) break;
    }
    if (ep->link.empty()) {
        std::string e = winePrefix_.empty() ? err("no Wine prefix") : sysErr("link in " + winePrefix_ + "/dosdevices");
        close(ep->master);
        close(ep->slave);
        return e;
    }
    ep->conns.push_back(Connection{ep->master, {}, false});
    ep->id = nextId_++;
    ep->created = nowUs();
    std::string answer = "OK " + std::to_string(ep->id) + " " + std::to_string(ep->com) + " " + ep->ptsPath;
    endpoints_.push_back(std::move(ep));
    return answer;
}

bool Simulator::openListener(Endpoint& ep)
{
    if (ep.listener >= 0) return true;
    ep.listener = loopbackListener(ep.port, ep.port);
    return ep.listener >= 0;
}

std::string Simulator::createTcp(int port)
{
    auto ep = std::make_unique<Endpoint>();
    ep->kind = Endpoint::Kind::Tcp;
    ep->port = port;
    if (!openListener(*ep)) return sysErr("listen on 127.0.0.1:" + std::to_string(port));
    ep->id = nextId_++;
    ep->created = nowUs();
    std::string answer = "OK " + std::to_string(ep->id) + " " + std::to_string(ep->port);
    endpoints_.push_back(std::move(ep));
    return answer;
}

void Simulator::removeEndpoint(std::size_t index)
{
    Endpoint& ep = *endpoints_[index];
    if (!ep.link.empty()) unlink(ep.link.c_str());
    for (Connection& c : ep.conns)
        if (c.fd >= 0 && c.fd != ep.master) close(c.fd);
    if (ep.master >= 0) close(ep.master);
    if (ep.slave >= 0) close(ep.slave);
    if (ep.listener >= 0) close(ep.listener);
    for (Control& c : controls_)
        if (c.waiting && c.waitEp == ep.id) {
            c.out += "ERR endpoint closed\n";
            c.waiting = false;
        }
    endpoints_.erase(endpoints_.begin() + static_cast<std::ptrdiff_t>(index));
}

bool Simulator::counter(const Endpoint& ep, const std::string& name, long& v) const
{
    const auto& labels = ep.parser.labels();
    if (name == "bytes") v = static_cast<long>(ep.received.size());
    else if (name == "labels") v = std::count_if(labels.begin(), labels.end(), [](const qlks::Label& l) { return l.complete; });
    else if (name == "partial") v = std::count_if(labels.begin(), labels.end(), [](const qlks::Label& l) { return !l.complete; });
    else if (name == "flagged") v = std::count_if(labels.begin(), labels.end(), [](const qlks::Label& l) { return l.flags != 0; });
    else if (name == "keepalive") v = static_cast<long>(ep.parser.count(qlks::Event::KeepAlive));
    else if (name == "status") v = static_cast<long>(ep.parser.count(qlks::Event::StatusRequest));
    else if (name == "init") v = static_cast<long>(ep.parser.count(qlks::Event::Init));
    else if (name == "linefeed") v = static_cast<long>(ep.parser.count(qlks::Event::LineFeed));
    else if (name == "connections") v = ep.connections;
    else if (name == "closes") v = ep.closes;
    else if (name == "open") v = static_cast<long>(ep.kind == Endpoint::Kind::Tcp ? ep.conns.size() : 0);
    else if (name == "pending") v = static_cast<long>(ep.parser.pendingBytes());
    else return false;
    return true;
}

std::string Simulator::counts(const Endpoint& ep) const
{
    std::string s = "OK";
    for (const char* n : {"bytes", "labels", "partial", "flagged", "keepalive", "status", "init", "linefeed",
                          "connections", "closes", "open", "pending"}) {
        long v = 0;
        counter(ep, n, v);
        s += std::string(" ") + n + "=" + std::to_string(v);
    }
    return s;
}

void Simulator::schedule(Endpoint& ep, qlks::Bytes bytes, long long due)
{
    auto at = std::upper_bound(ep.outputs.begin(), ep.outputs.end(), due,
                               [](long long d, const Output& o) { return d < o.due; });
    ep.outputs.insert(at, Output{due, std::move(bytes)});
}

// Due outputs go to the newest live connection, one write each, so gaps between writes hold.
void Simulator::flush(Endpoint& ep)
{
    const long long now = nowUs();
    while (!ep.outputs.empty() && ep.outputs.front().due <= now) {
        Connection* to = nullptr;
        for (Connection& c : ep.conns)
            if (!c.dropped) to = &c;
        if (to) to->pending.insert(to->pending.end(), ep.outputs.front().bytes.begin(), ep.outputs.front().bytes.end());
        ep.outputs.erase(ep.outputs.begin());
        if (to && !to->pending.empty()) {
            ssize_t n = ep.kind == Endpoint::Kind::Tcp ? send(to->fd, to->pending.data(), to->pending.size(), MSG_NOSIGNAL)
                                                       : write(to->fd, to->pending.data(), to->pending.size());
            if (n > 0) to->pending.erase(to->pending.begin(), to->pending.begin() + n);
        }
    }
}

std::string Simulator::fault(Endpoint& ep, const std::string& what, long after)
{
    const bool tcp = ep.kind == Endpoint::Kind::Tcp;
    if (what == "stopread") {
        ep.reading = false;
    } else if (what == "read") {
        ep.reading = true;
    } else if (!tcp && (what == "xoff" || what == "xon")) {
        ep.injectedUntil = std::max(ep.injectedUntil, nowUs());
        schedule(ep, {static_cast<std::uint8_t>(what == "xoff" ? 0x13 : 0x11)}, ep.injectedUntil);
    } else if (tcp && what == "refuse") {
        if (ep.listener >= 0) close(ep.listener);
        ep.listener = -1;
    } else if (tcp && (what == "accept" || what == "acceptclose")) {
        ep.acceptClose = what == "acceptclose";
        if (!openListener(ep)) return sysErr("listen again on port " + std::to_string(ep.port));
    } else if (tcp && (what == "fin" || what == "rst")) {
        for (std::size_t i = ep.conns.size(); i-- > 0;)
            cut(ep, i, what == "fin" ? Endpoint::Cut::Fin : Endpoint::Cut::Rst);
    } else if (tcp && (what == "fin-in-label" || what == "rst-in-label")) {
        ep.cut = what == "fin-in-label" ? Endpoint::Cut::Fin : Endpoint::Cut::Rst;
        ep.cutAfter = after > 0 ? static_cast<std::size_t>(after) : 1;
    } else {
        return err("unknown fault " + what + " for a " + (tcp ? "tcp" : "serial") + " endpoint");
    }
    return "OK";
}

std::string Simulator::command(Control& c, const std::string& line)
{
    Args a = split(line);
    if (a.words.empty()) return err("empty command");
    std::string cmd = a.words[0];
    for (char& ch : cmd) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    long v1 = 0, v2 = 0, v3 = 0, v4 = 0;

    if (cmd == "PING") return "OK vesk-sim";
    if (cmd == "QUIT") {
        quit_ = true;
        return "OK";
    }
    if (cmd == "SERIAL") {
        if (!a.opt("com", v1, 0) || v1 < 0 || v1 > 256) return err("bad com number");
        return createSerial(static_cast<int>(v1));
    }
    if (cmd == "TCP") {
        if (!a.opt("port", v1, 0) || v1 < 0 || v1 > 65535) return err("bad port");
        return createTcp(static_cast<int>(v1));
    }

    // Every other command names an endpoint.
    long id = 0;
    if (a.words.size() < 2 || !toLong(a.words[1], id)) return err("usage: " + cmd + " <endpoint> ...");
    Endpoint* ep = find(static_cast<int>(id));
    if (!ep) return err("no endpoint " + a.words[1]);
    const std::string arg = a.words.size() > 2 ? a.words[2] : "";

    if (cmd == "CLOSE") {
        for (std::size_t i = 0; i < endpoints_.size(); ++i)
            if (endpoints_[i].get() == ep) removeEndpoint(i);
        return "OK";
    }
    if (cmd == "STATUS") {
        if (arg == "silent") {
            ep->statusSilent = true;
            return "OK";
        }
        qlks::Bytes b;
        if (!fromHex(arg, b) || b.size() != 1 || !a.opt("delay", v1, 0) || v1 < 0) return err("usage: STATUS <ep> <hh> [delay=<ms>] | silent");
        ep->statusByte = b[0];
        ep->statusDelayMs = static_cast<int>(v1);
        ep->statusSilent = false;
        return "OK";
    }
    if (cmd == "SEND" || cmd == "FRAME" || cmd == "FLOOD") {
        qlks::Bytes b;
        if (cmd == "FLOOD") {
            long fill = -1;
            if (!toLong(arg, v1) || v1 <= 0 || v1 > (64L << 20) || !a.opt("byte", fill, -1)) return err("usage: FLOOD <ep> <n> [byte=<decimal>]");
            // Lower-case letters by default: no byte of them can start a status frame.
            for (long i = 0; i < v1; ++i) b.push_back(static_cast<std::uint8_t>(fill >= 0 ? fill : 'a' + i % 26));
        } else if (cmd == "SEND") {
            if (!fromHex(arg, b) || b.empty()) return err("usage: SEND <ep> <hex> [chunk=n] [gap=ms] [repeat=n] [delay=ms]");
        } else {
            const std::string hex = a.words.size() > 3 ? a.words[3] : "";
            if ((arg != "asb" && arg != "iasb") || !fromHex(hex, b) || b.size() != 4) return err("usage: FRAME <ep> asb|iasb <8 hex digits> ...");
            if (!(arg == "asb" ? qlks::isAsbFrame(b.data()) : qlks::isIasbFrame(b.data()))) return err("not an " + arg + " frame: " + hex);
        }
        if (!a.opt("chunk", v1, 0) || !a.opt("gap", v2, 0) || !a.opt("repeat", v3, 1) || !a.opt("delay", v4, 0) ||
            v1 < 0 || v2 < 0 || v3 < 1 || v3 > 100000 || v4 < 0)
            return err("bad chunk, gap, repeat or delay");
        bool live = std::any_of(ep->conns.begin(), ep->conns.end(), [](const Connection& k) { return !k.dropped; });
        if (!live) return err("no connection");
        // After what earlier commands injected, so the driver sees the injections in command order.
        long long due = std::max(nowUs(), ep->injectedUntil) + v4 * 1000;
        const std::size_t chunk = v1 > 0 ? static_cast<std::size_t>(v1) : b.size();
        for (long r = 0; r < v3; ++r) {
            for (std::size_t i = 0; i < b.size(); i += chunk) {
                schedule(*ep, qlks::Bytes(b.begin() + static_cast<std::ptrdiff_t>(i),
                                          b.begin() + static_cast<std::ptrdiff_t>(std::min(b.size(), i + chunk))), due);
                ep->injectedUntil = due;
                due += v2 * 1000;
            }
        }
        return "OK";
    }
    if (cmd == "FAULT") {
        if (!a.opt("after", v1, 1)) return err("bad after");
        return fault(*ep, arg, v1);
    }
    if (cmd == "COUNTS") return counts(*ep);
    if (cmd == "WAIT") {
        if (!a.opt("timeout", v2, 30000) || a.words.size() < 4 || !toLong(a.words[3], v1) || !counter(*ep, arg, v3))
            return err("usage: WAIT <ep> <counter> <n> [timeout=ms]");
        c.waiting = true;
        c.waitEp = ep->id;
        c.waitCounter = arg;
        c.waitFor = v1;
        c.waitDeadline = nowUs() + v2 * 1000;
        return ""; // answered by checkWaits
    }
    if (cmd == "LABEL") {
        if (!toLong(arg, v1) || v1 < 0 || static_cast<std::size_t>(v1) >= ep->parser.labels().size()) return err("no label " + arg);
        const qlks::Bytes& raw = ep->parser.labels()[static_cast<std::size_t>(v1)].raw;
        return "OK " + toHex(raw.data(), raw.size());
    }
    if (cmd == "RAW") {
        const std::size_t size = ep->received.size();
        long from = 0, len = static_cast<long>(size);
        if ((a.words.size() > 2 && !toLong(a.words[2], from)) || (a.words.size() > 3 && !toLong(a.words[3], len)) || from < 0 || len < 0)
            return err("usage: RAW <ep> [offset [length]]");
        std::size_t f = std::min(size, static_cast<std::size_t>(from));
        std::size_t n = std::min(size - f, static_cast<std::size_t>(len));
        return "OK " + toHex(ep->received.data() + f, n);
    }
    if (cmd == "EVENTS") {
        std::string s = "OK";
        for (const qlks::Event& e : ep->parser.events()) {
            static const char* const kinds[] = {"k", "i", "s", "l", "f"};
            s += std::string(" ") + kinds[e.kind] + (e.kind == qlks::Event::LabelDone ? std::to_string(e.label) : "") + "@" +
                 std::to_string(e.time);
        }
        return s;
    }
    if (cmd == "CHUNKS") {
        std::string s = "OK";
        for (const Endpoint::Chunk& k : ep->chunks) s += " " + std::to_string(k.time) + ":" + std::to_string(k.length);
        return s;
    }
    if (cmd == "CLEAR") {
        ep->parser = qlks::StreamParser{};
        ep->received.clear();
        ep->chunks.clear();
        ep->connections = ep->closes = 0;
        return "OK";
    }
    return err("unknown command " + cmd);
}

void Simulator::onAccept(Endpoint& ep)
{
    for (;;) {
        int fd = accept4(ep.listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        ++ep.connections;
        if (ep.acceptClose) {
            close(fd);
            ++ep.closes;
            continue;
        }
        endStream(ep); // a label never spans two connections
        ep.conns.push_back(Connection{fd, {}, false});
    }
}

void Simulator::record(Endpoint& ep, const std::uint8_t* data, std::size_t n)
{
    const long long now = nowUs();
    ep.chunks.push_back({now - ep.created, ep.received.size(), n});
    ep.received.insert(ep.received.end(), data, data + n);
    const std::size_t seen = ep.parser.events().size();
    ep.parser.feed(data, n, now - ep.created);
    const auto& events = ep.parser.events();
    for (std::size_t i = seen; i < events.size(); ++i)
        if (events[i].kind == qlks::Event::StatusRequest && !ep.statusSilent)
            schedule(ep, {static_cast<std::uint8_t>(ep.statusByte)}, now + ep.statusDelayMs * 1000LL);
    flush(ep);
}

void Simulator::onReadable(Endpoint& ep, std::size_t ci)
{
    std::uint8_t buf[65536];
    for (int rounds = 0; rounds < 64; ++rounds) {
        Connection& c = ep.conns[ci];
        // While a cut is armed, read byte by byte so that it falls inside the label.
        const std::size_t want = ep.cut != Endpoint::Cut::None && !c.dropped ? 1 : sizeof buf;
        ssize_t n = read(c.fd, buf, want);
        if (n > 0) {
            if (c.dropped) continue;
            record(ep, buf, static_cast<std::size_t>(n));
            if (ep.cut != Endpoint::Cut::None && ep.parser.labelBytes() >= ep.cutAfter) {
                Endpoint::Cut how = ep.cut;
                ep.cut = Endpoint::Cut::None;
                cut(ep, ci, how);
                return;
            }
            continue;
        }
        if (n < 0 && ioAgain()) return;
        if (ep.kind == Endpoint::Kind::Tcp) closeConnection(ep, ci, false); // end of stream or reset by the peer
        return;
    }
}

void Simulator::cut(Endpoint& ep, std::size_t ci, Endpoint::Cut how)
{
    if (how == Endpoint::Cut::Rst) {
        closeConnection(ep, ci, true);
        return;
    }
    Connection& c = ep.conns[ci];
    if (c.dropped) return;
    shutdown(c.fd, SHUT_WR); // FIN now; the rest of the connection ends when the peer closes
    c.dropped = true;
    c.pending.clear();
    endStream(ep);
}

void Simulator::closeConnection(Endpoint& ep, std::size_t ci, bool reset)
{
    Connection& c = ep.conns[ci];
    if (reset) {
        linger l{1, 0}; // close with RST
        setsockopt(c.fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    close(c.fd);
    ++ep.closes;
    ep.conns.erase(ep.conns.begin() + static_cast<std::ptrdiff_t>(ci));
    endStream(ep);
}

// A broken connection leaves its unfinished label as a partial one.
void Simulator::endStream(Endpoint& ep)
{
    if (ep.parser.inLabel() || ep.parser.pendingBytes() > 0) ep.parser.finish();
}

void Simulator::checkWaits()
{
    const long long now = nowUs();
    for (Control& c : controls_) {
        if (!c.waiting) continue;
        Endpoint* ep = find(c.waitEp);
        long v = 0;
        if (ep) counter(*ep, c.waitCounter, v);
        if (!ep) {
            c.out += "ERR endpoint closed\n";
        } else if (v >= c.waitFor) {
            c.out += "OK " + std::to_string(v) + "\n";
        } else if (now >= c.waitDeadline) {
            c.out += "ERR timeout " + c.waitCounter + "=" + std::to_string(v) + "\n";
        } else {
            continue;
        }
        c.waiting = false;
    }
}

long long Simulator::nextDue() const
{
    long long due = nowUs() + 200000; // wake regularly: wait deadlines are checked on wake-up
    for (const auto& e : endpoints_)
        if (!e->outputs.empty()) due = std::min(due, e->outputs.front().due);
    for (const Control& c : controls_)
        if (c.waiting) due = std::min(due, c.waitDeadline);
    return due;
}

void Simulator::run(int stopFd, int watchFd)
{
    while (!quit_) {
        // Gather what to wait for, with the owner of each entry beside it.
        enum class Src { Stop, Watch, ControlListener, Control, Listener, Stream };
        struct Owner { Src src; Endpoint* ep; std::size_t index; };
        std::vector<pollfd> fds;
        std::vector<Owner> owners;
        auto add = [&](int fd, int ev, Owner o) { fds.push_back({fd, static_cast<short>(ev), 0}); owners.push_back(o); };
        add(stopFd, POLLIN, {Src::Stop, nullptr, 0});
        if (watchFd >= 0) add(watchFd, POLLIN, {Src::Watch, nullptr, 0});
        add(controlFd_, POLLIN, {Src::ControlListener, nullptr, 0});
        for (std::size_t i = 0; i < controls_.size(); ++i)
            add(controls_[i].fd, (controls_[i].waiting ? 0 : POLLIN) | (controls_[i].out.empty() ? 0 : POLLOUT), {Src::Control, nullptr, i});
        for (auto& e : endpoints_) {
            if (e->listener >= 0) add(e->listener, POLLIN, {Src::Listener, e.get(), 0});
            for (std::size_t i = 0; i < e->conns.size(); ++i) {
                const Connection& k = e->conns[i];
                add(k.fd, (e->reading || k.dropped ? POLLIN : 0) | (k.pending.empty() ? 0 : POLLOUT), {Src::Stream, e.get(), i});
            }
        }
        long long wait = (nextDue() - nowUs() + 999) / 1000;
        poll(fds.data(), fds.size(), static_cast<int>(std::max(0LL, wait)));

        std::vector<std::size_t> deadControls;
        for (std::size_t i = 0; i < fds.size() && !quit_; ++i) {
            const short re = fds[i].revents;
            if (!re) continue;
            Owner o = owners[i];
            if (o.src == Src::Stop) return;
            if (o.src == Src::Watch) {
                char b[256];
                if (read(watchFd, b, sizeof b) <= 0) return; // the parent's end of stdin went away
            } else if (o.src == Src::ControlListener) {
                int fd = accept4(controlFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd >= 0) controls_.push_back(Control{fd, {}, {}, false, 0, {}, 0, 0});
            } else if (o.src == Src::Control) {
                Control& c = controls_[o.index];
                if (re & POLLOUT) {
                    ssize_t n = send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
                    if (n > 0) c.out.erase(0, static_cast<std::size_t>(n));
                }
                if (re & (POLLIN | POLLHUP | POLLERR)) {
                    char b[4096];
                    ssize_t n = recv(c.fd, b, sizeof b, 0);
                    if (n <= 0 && !(n < 0 && ioAgain())) {
                        deadControls.push_back(o.index);
                        continue;
                    }
                    if (n > 0) c.in.append(b, static_cast<std::size_t>(n));
                }
            } else if (o.src == Src::Listener) {
                onAccept(*o.ep);
            } else if (o.src == Src::Stream) {
                if (o.index >= o.ep->conns.size() || o.ep->conns[o.index].fd != fds[i].fd) continue; // closed meanwhile
                Connection& k = o.ep->conns[o.index];
                if ((re & POLLOUT) && !k.pending.empty()) {
                    ssize_t n = o.ep->kind == Endpoint::Kind::Tcp ? send(k.fd, k.pending.data(), k.pending.size(), MSG_NOSIGNAL)
                                                                 : write(k.fd, k.pending.data(), k.pending.size());
                    if (n > 0) k.pending.erase(k.pending.begin(), k.pending.begin() + n);
                }
                if (re & (POLLIN | POLLHUP | POLLERR)) onReadable(*o.ep, o.index);
            }
            // Later entries of this round may name connections removed above: they are checked by fd.
        }
        for (std::size_t k = deadControls.size(); k-- > 0;) {
            close(controls_[deadControls[k]].fd);
            controls_.erase(controls_.begin() + static_cast<std::ptrdiff_t>(deadControls[k]));
        }
        // Commands, one line at a time; a WAIT holds back the lines behind it.
        for (Control& c : controls_) {
            std::size_t nl;
            while (!c.waiting && !quit_ && (nl = c.in.find('\n')) != std::string::npos) {
                std::string line = c.in.substr(0, nl);
                c.in.erase(0, nl + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                std::string answer = command(c, line);
                if (!c.waiting) c.out += answer + "\n";
            }
            if (c.in.size() > (1 << 20)) c.in.clear(); // no command is that long
        }
        for (auto& e : endpoints_) flush(*e);
        checkWaits();
        for (Control& c : controls_) { // answers go out at once, QUIT's included
            if (c.out.empty()) continue;
            ssize_t n = send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
            if (n > 0) c.out.erase(0, static_cast<std::size_t>(n));
        }
    }
}

} // namespace vesksim

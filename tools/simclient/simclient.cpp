#include "simclient.h"

#include <cstdlib>
#include <cstring>
#include <sstream>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using sock_t = SOCKET;
static void closeSock(std::intptr_t s) { closesocket(static_cast<SOCKET>(s)); }
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
using sock_t = int;
static void closeSock(std::intptr_t s) { close(static_cast<int>(s)); }
#endif

namespace vesksim {

namespace {

std::string hex(const qlks::Bytes& b)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (std::uint8_t c : b) {
        s += digits[c >> 4];
        s += digits[c & 15];
    }
    return s;
}

qlks::Bytes unhex(const std::string& s)
{
    qlks::Bytes out;
    for (std::size_t i = 0; i + 1 < s.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::strtoul(s.substr(i, 2).c_str(), nullptr, 16)));
    return out;
}

std::string options(const SendOptions& o)
{
    return " chunk=" + std::to_string(o.chunk) + " gap=" + std::to_string(o.gapMs) + " repeat=" + std::to_string(o.repeat) +
           " delay=" + std::to_string(o.delayMs);
}

} // namespace

SimClient::SimClient()
{
    const char* a = std::getenv("VESK_SIM");
    if (!a || !*a) {
        error_ = "VESK_SIM is not set (run the test through vesk-sim-run)";
        return;
    }
    connectTo(a);
}

SimClient::SimClient(const std::string& address) { connectTo(address); }

SimClient::~SimClient()
{
    if (sock_ != -1) closeSock(sock_);
#ifdef _WIN32
    if (wsa_) WSACleanup();
#else
    (void)wsa_; // only Winsock needs starting
#endif
}

bool SimClient::connected() const { return sock_ != -1; }

bool SimClient::connectTo(const std::string& address)
{
    const auto colon = address.rfind(':');
    // The simulator only ever listens on loopback; refuse anything else.
    if (colon == std::string::npos || address.substr(0, colon) != "127.0.0.1") {
        error_ = "simulator address must be 127.0.0.1:<port>, not " + address;
        return false;
    }
    const int port = std::atoi(address.c_str() + colon + 1);
#ifdef _WIN32
    WSADATA wd;
    if (WSAStartup(MAKEWORD(2, 2), &wd) != 0) {
        error_ = "WSAStartup failed";
        return false;
    }
    wsa_ = true;
#endif
    sock_t s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<unsigned short>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        error_ = "cannot connect to the simulator at " + address;
        closeSock(static_cast<std::intptr_t>(s));
        return false;
    }
    int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    sock_ = static_cast<std::intptr_t>(s);
    return true;
}

std::string SimClient::request(const std::string& line)
{
    if (sock_ == -1) {
        if (error_.empty()) error_ = "not connected to the simulator";
        return "";
    }
    const std::string out = line + "\n";
    for (std::size_t sent = 0; sent < out.size();) {
        int n = ::send(static_cast<sock_t>(sock_), out.data() + sent, static_cast<int>(out.size() - sent), 0);
        if (n <= 0) {
            error_ = "lost the simulator while sending: " + line;
            return "";
        }
        sent += static_cast<std::size_t>(n);
    }
    std::size_t nl;
    while ((nl = buffered_.find('\n')) == std::string::npos) {
        char b[65536];
        int n = recv(static_cast<sock_t>(sock_), b, sizeof b, 0);
        if (n <= 0) {
            error_ = "lost the simulator while waiting for: " + line;
            return "";
        }
        buffered_.append(b, static_cast<std::size_t>(n));
    }
    std::string answer = buffered_.substr(0, nl);
    buffered_.erase(0, nl + 1);
    return answer;
}

bool SimClient::ok(const std::string& answer)
{
    if (answer.rfind("OK", 0) == 0) return true;
    if (!answer.empty()) error_ = answer;
    return false;
}

std::string SimClient::okRequest(const std::string& line)
{
    std::string a = request(line);
    if (!ok(a)) return {};
    return a.size() > 3 ? a.substr(3) : std::string();
}

int SimClient::serial(int* com, int wantCom)
{
    std::istringstream in(okRequest("SERIAL" + (wantCom > 0 ? " com=" + std::to_string(wantCom) : std::string())));
    int ep = -1, n = 0;
    if (!(in >> ep >> n)) return -1;
    if (com) *com = n;
    return ep;
}

int SimClient::tcp(int* port, int wantPort)
{
    std::istringstream in(okRequest("TCP port=" + std::to_string(wantPort)));
    int ep = -1, p = 0;
    if (!(in >> ep >> p)) return -1;
    if (port) *port = p;
    return ep;
}

bool SimClient::closeEndpoint(int ep) { return ok(request("CLOSE " + std::to_string(ep))); }

bool SimClient::setStatus(int ep, std::uint8_t answer, int delayMs)
{
    return ok(request("STATUS " + std::to_string(ep) + " " + hex({answer}) + " delay=" + std::to_string(delayMs)));
}

bool SimClient::silenceStatus(int ep) { return ok(request("STATUS " + std::to_string(ep) + " silent")); }

bool SimClient::send(int ep, const qlks::Bytes& bytes, const SendOptions& how)
{
    return ok(request("SEND " + std::to_string(ep) + " " + hex(bytes) + options(how)));
}

bool SimClient::frame(int ep, const std::string& kind, const qlks::Bytes& frame, const SendOptions& how)
{
    return ok(request("FRAME " + std::to_string(ep) + " " + kind + " " + hex(frame) + options(how)));
}

bool SimClient::flood(int ep, long n) { return ok(request("FLOOD " + std::to_string(ep) + " " + std::to_string(n))); }

bool SimClient::fault(int ep, const std::string& what, long after)
{
    return ok(request("FAULT " + std::to_string(ep) + " " + what + (after > 0 ? " after=" + std::to_string(after) : std::string())));
}

bool SimClient::counts(int ep, Counts& out)
{
    std::string a = request("COUNTS " + std::to_string(ep));
    if (!ok(a)) return false;
    std::istringstream in(a.substr(2));
    std::string kv;
    while (in >> kv) {
        auto eq = kv.find('=');
        if (eq == std::string::npos) continue;
        const std::string k = kv.substr(0, eq);
        const long v = std::atol(kv.c_str() + eq + 1);
        long* field = k == "bytes" ? &out.bytes : k == "labels" ? &out.labels : k == "partial" ? &out.partial
                    : k == "flagged" ? &out.flagged : k == "keepalive" ? &out.keepalive : k == "status" ? &out.status
                    : k == "init" ? &out.init : k == "linefeed" ? &out.linefeed : k == "connections" ? &out.connections : k == "closes" ? &out.closes
                    : k == "open" ? &out.open : k == "pending" ? &out.pending : nullptr;
        if (field) *field = v;
    }
    return true;
}

bool SimClient::waitFor(int ep, const std::string& counter, long n, int timeoutMs)
{
    return ok(request("WAIT " + std::to_string(ep) + " " + counter + " " + std::to_string(n) + " timeout=" + std::to_string(timeoutMs)));
}

std::vector<qlks::Label> SimClient::labels(int ep)
{
    std::vector<qlks::Label> out;
    Counts c;
    if (!counts(ep, c)) return out;
    for (long i = 0; i < c.labels + c.partial; ++i) {
        std::string a = request("LABEL " + std::to_string(ep) + " " + std::to_string(i));
        if (!ok(a)) break;
        out.push_back(qlks::parseLabel(unhex(a.substr(3))));
    }
    return out;
}

qlks::Bytes SimClient::transcript(int ep, long offset, long length)
{
    std::string cmd = "RAW " + std::to_string(ep) + " " + std::to_string(offset);
    if (length >= 0) cmd += " " + std::to_string(length);
    std::string a = request(cmd);
    if (!ok(a)) return {};
    return a.size() > 3 ? unhex(a.substr(3)) : qlks::Bytes{};
}

std::vector<std::pair<long long, long>> SimClient::chunks(int ep)
{
    std::vector<std::pair<long long, long>> out;
    std::istringstream in(okRequest("CHUNKS " + std::to_string(ep)));
    std::string w;
    while (in >> w) {
        auto colon = w.find(':');
        if (colon != std::string::npos) out.emplace_back(std::atoll(w.c_str()), std::atol(w.c_str() + colon + 1));
    }
    return out;
}

std::vector<SimEvent> SimClient::events(int ep)
{
    std::vector<SimEvent> out;
    std::istringstream in(okRequest("EVENTS " + std::to_string(ep)));
    std::string w;
    while (in >> w) {
        auto at = w.find('@');
        if (at == std::string::npos || at == 0) continue;
        SimEvent e;
        e.kind = w[0];
        if (e.kind == 'l') e.label = std::atoi(w.substr(1, at - 1).c_str());
        e.timeUs = std::atoll(w.c_str() + at + 1);
        out.push_back(e);
    }
    return out;
}

std::vector<long long> SimClient::keepAliveGapsUs(int ep)
{
    std::vector<long long> gaps;
    long long last = -1;
    for (const SimEvent& e : events(ep)) {
        if (e.kind != 'k') continue;
        if (last >= 0) gaps.push_back(e.timeUs - last);
        last = e.timeUs;
    }
    return gaps;
}

bool SimClient::clear(int ep) { return ok(request("CLEAR " + std::to_string(ep))); }

bool SimClient::quit() { return ok(request("QUIT")); }

} // namespace vesksim

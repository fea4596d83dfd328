// A Winsock program on the simulator's TCP endpoint under Wine: labels and status both ways,
// and every connection fault as a Windows client sees it.
#include "simclient.h"

#include <gtest/gtest.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <string>

using qlks::Bytes;
using vesksim::SimClient;

namespace {

Bytes bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Barcode data is sent unescaped and may hold a 0x00.
const char kLabelText[] = "SW832\r\nST1\r\nSM0,0\r\nSS4\r\nSD10\r\nSO0\r\nSA0\r\nTA0\r\nCS0,0\r\nCUTn\r\n"
                          "B1100,40,1,2,5,80,0,14,'12\0x'\r\nP1\r\n";
const std::string kLabel(kLabelText, sizeof kLabelText - 1);

class Winsock : public ::testing::Test {
protected:
    void SetUp() override
    {
        WSADATA wd;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wd), 0);
        ASSERT_TRUE(sim.connected()) << sim.error();
        ep = sim.tcp(&port);
        ASSERT_GE(ep, 0) << sim.error();
    }
    void TearDown() override
    {
        for (SOCKET s : socks) closesocket(s);
        WSACleanup();
    }

    // connect(); returns the socket or INVALID_SOCKET with the error in *error.
    SOCKET open(int* error = nullptr)
    {
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(static_cast<u_short>(port));
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
            if (error) *error = WSAGetLastError();
            closesocket(s);
            return INVALID_SOCKET;
        }
        socks.push_back(s);
        return s;
    }

    void sendAll(SOCKET s, const Bytes& b)
    {
        ASSERT_EQ(send(s, reinterpret_cast<const char*>(b.data()), static_cast<int>(b.size()), 0), static_cast<int>(b.size()))
            << WSAGetLastError();
    }

    Bytes recvExactly(SOCKET s, std::size_t n)
    {
        Bytes out;
        while (out.size() < n) {
            char b[65536];
            int got = recv(s, b, static_cast<int>(std::min(sizeof b, n - out.size())), 0);
            if (got <= 0) break;
            out.insert(out.end(), b, b + got);
        }
        return out;
    }

    // Waits for FD_CLOSE on s; returns its error code (0 for FIN), or -1 when none came.
    int closeEvent(SOCKET s)
    {
        WSAEVENT ev = WSACreateEvent();
        WSAEventSelect(s, ev, FD_CLOSE);
        int result = -1;
        const DWORD start = GetTickCount();
        while (result < 0 && GetTickCount() - start < 20000) {
            if (WaitForSingleObject(ev, 500) != WAIT_OBJECT_0) continue;
            WSANETWORKEVENTS ne{};
            WSAEnumNetworkEvents(s, ev, &ne);
            if (ne.lNetworkEvents & FD_CLOSE) result = ne.iErrorCode[FD_CLOSE_BIT];
        }
        WSAEventSelect(s, nullptr, 0);
        WSACloseEvent(ev);
        return result;
    }

    SimClient sim;
    int ep = -1, port = 0;
    std::vector<SOCKET> socks;
};

} // namespace

TEST_F(Winsock, LabelStatusAnswerFramesAndFlood)
{
    SOCKET s = open();
    ASSERT_NE(s, INVALID_SOCKET);
    ASSERT_TRUE(sim.setStatus(ep, 0x08));
    Bytes out = {0x00, 0x40};
    const Bytes label = bytes(kLabel);
    const Bytes request = bytes("^cu\r\n");
    out.insert(out.end(), request.begin(), request.end());
    out.insert(out.end(), label.begin(), label.end());
    sendAll(s, out);
    EXPECT_EQ(recvExactly(s, 1), Bytes{0x08});
    ASSERT_TRUE(sim.waitLabels(ep, 1)) << sim.error();
    EXPECT_EQ(sim.transcript(ep), out);
    auto labels = sim.labels(ep);
    ASSERT_EQ(labels.size(), 1u);
    EXPECT_EQ(labels[0].raw, label);
    ASSERT_TRUE(labels[0].find(qlks::Op::Barcode));
    EXPECT_EQ(labels[0].find(qlks::Op::Barcode)->str("data"), std::string("12\0x", 4));

    ASSERT_TRUE(sim.frame(ep, "asb", {0x30, 0x20, 0x80, 0x4F}, {1, 20, 2, 0}));
    ASSERT_TRUE(sim.frame(ep, "iasb", {0x35, 0x60, 0x41, 0x00}));
    EXPECT_EQ(recvExactly(s, 12), (Bytes{0x30, 0x20, 0x80, 0x4F, 0x30, 0x20, 0x80, 0x4F, 0x35, 0x60, 0x41, 0x00}));
    ASSERT_TRUE(sim.flood(ep, 300000));
    EXPECT_EQ(recvExactly(s, 300000).size(), 300000u);
}

TEST_F(Winsock, RefusedThenAcceptedAgain)
{
    ASSERT_TRUE(sim.fault(ep, "refuse"));
    int error = 0;
    EXPECT_EQ(open(&error), INVALID_SOCKET);
    EXPECT_EQ(error, WSAECONNREFUSED);
    ASSERT_TRUE(sim.fault(ep, "accept"));
    EXPECT_NE(open(), INVALID_SOCKET);
    EXPECT_TRUE(sim.waitFor(ep, "connections", 1)) << sim.error();
}

TEST_F(Winsock, AcceptThenCloseGivesFdClose)
{
    ASSERT_TRUE(sim.fault(ep, "acceptclose"));
    SOCKET s = open();
    ASSERT_NE(s, INVALID_SOCKET);
    EXPECT_EQ(closeEvent(s), 0);
    vesksim::Counts c;
    ASSERT_TRUE(sim.counts(ep, c));
    EXPECT_EQ(c.connections, 1);
    EXPECT_EQ(c.closes, 1);
}

TEST_F(Winsock, FinAndResetInTheMiddleOfALabel)
{
    const Bytes label = bytes(kLabel);
    ASSERT_TRUE(sim.fault(ep, "fin-in-label", 30));
    SOCKET s = open();
    ASSERT_NE(s, INVALID_SOCKET);
    sendAll(s, label);
    EXPECT_EQ(closeEvent(s), 0) << "a FIN";
    char b = 'x';
    EXPECT_EQ(send(s, &b, 1, 0), 1) << "after a FIN the sending half still works";

    ASSERT_TRUE(sim.fault(ep, "rst-in-label", 30));
    s = open();
    ASSERT_NE(s, INVALID_SOCKET);
    sendAll(s, label);
    // Wine reports FD_CLOSE of a reset with error 0 (Windows: WSAECONNRESET); the next send tells.
    EXPECT_GE(closeEvent(s), 0);
    EXPECT_EQ(send(s, &b, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);

    ASSERT_TRUE(sim.waitFor(ep, "partial", 2)) << sim.error();
    auto labels = sim.labels(ep);
    ASSERT_EQ(labels.size(), 2u);
    EXPECT_EQ(labels[0].raw, Bytes(label.begin(), label.begin() + 30));
    EXPECT_FALSE(labels[1].complete);
}

TEST_F(Winsock, SendBlocksWhileThePrinterStopsReading)
{
    SOCKET s = open();
    ASSERT_NE(s, INVALID_SOCKET);
    ASSERT_TRUE(sim.fault(ep, "stopread"));
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    const Bytes block(65536, 'z');
    long sent = 0;
    int error = 0;
    for (int i = 0; i < 4096 && error == 0; ++i) { // at most 256 MB
        int n = send(s, reinterpret_cast<const char*>(block.data()), static_cast<int>(block.size()), 0);
        if (n > 0) sent += n;
        else error = WSAGetLastError();
    }
    EXPECT_EQ(error, WSAEWOULDBLOCK);
    ASSERT_TRUE(sim.fault(ep, "read"));
    EXPECT_TRUE(sim.waitFor(ep, "bytes", sent)) << sim.error();

    // Closing the socket is seen: no leaked connection.
    closesocket(s);
    socks.clear();
    EXPECT_TRUE(sim.waitFor(ep, "closes", 1)) << sim.error();
    vesksim::Counts c;
    ASSERT_TRUE(sim.counts(ep, c));
    EXPECT_EQ(c.open, 0);
}

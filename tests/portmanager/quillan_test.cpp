// Quillan's port records, routing, argument orders, logs and child libraries, observed through
// recording transports.
#include "QuillanFixture.h"

#include <atomic>
#include <regex>
#include <thread>

namespace {

DeviceOption MakeOption(const CString& port)
{
    DeviceOption dop;
    memset(&dop, 0, sizeof dop);
    dop.strPortName = const_cast<char*>(port.GetString());  // DeviceOptionCopy takes the reference
    DWORD* f = &dop.dwReserved;
    for (int i = 0; i < 19; ++i)
        f[i] = DWORD(100 + i);
    dop.dwBaudRate = 9600;
    dop.dwUsingBT = 0;
    dop.dwBtStackType = 3;
    return dop;
}

// A named event that the recording transport waits for while envVar names it: a transport call
// that takes its time until the test lets it go. Let go and forgotten at the end.
class CTransportHold
{
public:
    CTransportHold(const char* envVar, const char* prefix) : m_env(envVar)
    {
        std::string name = prefix + std::to_string(GetCurrentProcessId());
        m_event = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
        SetEnvironmentVariableA(m_env, name.c_str());
    }
    ~CTransportHold()
    {
        Release();
        SetEnvironmentVariableA(m_env, nullptr);
        if (m_event)
            CloseHandle(m_event);
    }
    CTransportHold(const CTransportHold&) = delete;
    CTransportHold& operator=(const CTransportHold&) = delete;
    bool Made() const { return m_event != nullptr; }
    void Release()
    {
        if (m_event)
            SetEvent(m_event);
    }

private:
    const char* m_env;
    HANDLE m_event = nullptr;
};

const char kFieldsBtForcedTo0[] = "f=100,9600,102,103,104,105,106,107,108,109,110,111,112,0,0,115,116,117,118";
const char kFieldsUnchanged[] = "f=100,9600,102,103,104,105,106,107,108,109,110,111,112,0,3,115,116,117,118";

} // namespace

TEST_F(QuillanTest, TransportIsChosenByPortStringWithIdsFromEachLibrary)
{
    ASSERT_EQ(q.LoadChildDll(), 0);
    CString dev("LBL"), com("COM3");
    int idCom = q.pCreatePort(dev.AddRefHandle(), com.AddRefHandle(), 32);
    EXPECT_EQ(com.GetRefCount(), 2) << "the record keeps one reference";
    int idLpt = q.CreatePort("LBL", "LPT1", 32);
    // A device interface path holding "COM" and "LPT" still goes to usb.
    int idUsb = q.CreatePort("LBL", "\\\\?\\usb#vid_1d90&pid_COM1#LPT#{28d78fad}", 32);
    int idNet = q.CreatePort("LBL", "192.168.1.1", 32);
    EXPECT_EQ(idCom, 10000);
    EXPECT_EQ(idLpt, 20000);
    EXPECT_EQ(idUsb, 30000);
    EXPECT_EQ(idNet, 40000);
    EXPECT_EQ(q.CreatePort("LBL", "", 32), 0);
    EXPECT_EQ(q.CreatePort("LBL", "COM9", 64), 0) << "not a device class";
    EXPECT_EQ(q.CreatePort("LBL", "COM9", 3), 0) << "two class bits";
    EXPECT_EQ(Count("CreatePort"), 4);

    // Every call goes to the library that holds the port, with the port's own id.
    for (int id : {idCom, idLpt, idUsb, idNet})
        EXPECT_EQ(q.Write("^cu\r\n", id, 32), 5);
    EXPECT_EQ(Count("com Write id=10000 dev=32 len=5 data=5e63750d0a"), 1);
    EXPECT_EQ(Count("lpt Write id=20000 dev=32 len=5"), 1);
    EXPECT_EQ(Count("usb Write id=30000 dev=32 len=5"), 1);
    EXPECT_EQ(Count("net Write id=40000 dev=32 len=5"), 1);

    for (int id : {idCom, idLpt, idUsb, idNet})
        EXPECT_EQ(q.RemovePort(32, id), 0);
    EXPECT_EQ(Count("com DeletePort id=10000 -> 1"), 1);
    EXPECT_EQ(Count("lpt DeletePort id=20000 -> 1"), 1);
    EXPECT_EQ(Count("usb DeletePort id=30000 -> 1"), 1);
    EXPECT_EQ(Count("net DeletePort id=40000 -> 1"), 1);
    EXPECT_EQ(dev.GetRefCount(), 1) << "Quillan released both by-value strings";
    EXPECT_EQ(com.GetRefCount(), 1);
}

TEST_F(QuillanTest, ClassesShareOneRecordAndOneOpenTransportPort)
{
    ASSERT_EQ(q.LoadChildDll(), 0);
    SetEnvironmentVariableA("VESK_REC_OPEN", "7");  // the transport's own result, told from Quillan's 1
    int a = q.CreatePort("POS1", "COM4", 1);
    int b = q.CreatePort("LBL1", "COM4", 32);
    ASSERT_NE(a, 0);
    EXPECT_EQ(a, b);
    EXPECT_EQ(Count("com CreatePort"), 1);

    EXPECT_EQ(q.OpenPort(a, 1), 7);
    EXPECT_EQ(q.OpenPort(a, 32), 1);
    EXPECT_EQ(Count("com OpenPort"), 1);

    q.ClosePort(a, 1);
    EXPECT_EQ(Count("com ClosePort"), 0) << "the label printer still holds the port open";
    // Only the closing class's writes in flight are ended; the label printer's go on.
    EXPECT_EQ(Count("com CancelWrites id=10000 dev=1"), 1);
    EXPECT_EQ(Count("com CancelWrites"), 1);
    q.ClosePort(a, 1);  // a class that no longer holds it open changes nothing
    EXPECT_EQ(Count("com ClosePort"), 0);
    EXPECT_EQ(Count("com CancelWrites"), 1);
    EXPECT_EQ(q.Write("x", a, 32), 1);
    q.ClosePort(a, 32);
    EXPECT_EQ(Count("com ClosePort id=10000 dev=32"), 1);
    EXPECT_EQ(Count("com CancelWrites"), 1) << "the last class closes the port itself";
    q.ClosePort(a, 32);
    EXPECT_EQ(Count("com ClosePort"), 1);

    // The same class on the same port string gets a record and a transport port of its own.
    int c = q.CreatePort("LBL2", "COM4", 32);
    EXPECT_EQ(c, 10001);
    EXPECT_EQ(Count("com CreatePort"), 2);

    EXPECT_EQ(q.RemovePort(3, a), -1);
    EXPECT_EQ(q.RemovePort(32, 99999), -1);
    EXPECT_EQ(q.RemovePort(32, a), 1) << "the POS printer's bit remains";
    EXPECT_EQ(Count("DeletePort"), 0);
    EXPECT_EQ(q.RemovePort(1, a), 0);
    EXPECT_EQ(Count("com DeletePort id=10000 -> 1"), 1);
    EXPECT_EQ(q.RemovePort(1, a), -1) << "the record is gone";
    EXPECT_EQ(q.Write("x", a, 1), 0);
    EXPECT_EQ(q.RemovePort(32, c), 0);
    EXPECT_EQ(Count("com DeletePort id=10001 -> 1"), 1);
}

TEST_F(QuillanTest, RemovingTheLastClassOfAnOpenPortClosesItBeforeDeleting)
{
    ASSERT_EQ(q.LoadChildDll(), 0);
    int id = q.CreatePort("LBL1", "LPT2", 32);
    ASSERT_EQ(q.OpenPort(id, 32), 1);
    EXPECT_EQ(q.RemovePort(32, id), 0);
    int close = IndexOf("lpt ClosePort id=20000 dev=32");
    int del = IndexOf("lpt DeletePort id=20000 -> 1");
    ASSERT_GE(close, 0);
    EXPECT_GT(del, close);

    // A class that holds the port open and goes away while another class stays registered
    // stops holding it: the port closes when no class has it open any more.
    int id2 = q.CreatePort("POS1", "LPT3", 1);
    ASSERT_EQ(q.CreatePort("LBL1", "LPT3", 32), id2);
    ASSERT_EQ(q.OpenPort(id2, 32), 1);
    EXPECT_EQ(q.RemovePort(32, id2), 1);
    EXPECT_EQ(Count("lpt ClosePort id=20001 dev=32"), 1);
    EXPECT_EQ(q.RemovePort(1, id2), 0);
    EXPECT_EQ(Count("lpt ClosePort id=20001"), 1) << "closed once only";
}

TEST_F(QuillanTest, DeviceOptionAndArgumentOrdersReachTheTransportIntact)
{
    ASSERT_EQ(q.LoadChildDll(), 0);
    int com = q.CreatePort("LBL1", "COM5", 32);
    int net = q.CreatePort("LBL2", "10.1.2.3", 32);
    CString comName("COM5"), netName("10.1.2.3");

    EXPECT_EQ(q.SetDeviceOption(MakeOption(comName), com, 32), 1);
    EXPECT_EQ(comName.GetRefCount(), 1) << "every by-value reference was released";
    // The caller's own reference, Quillan's and the transport's copy are alive during the call.
    EXPECT_EQ(Count(std::string("com SetDeviceOption id=10000 dev=32 port=COM5 refs=3 ") + kFieldsBtForcedTo0), 1)
        << Calls().back();
    EXPECT_EQ(q.SetDeviceOption(MakeOption(netName), net, 32), 1);
    EXPECT_EQ(Count(std::string("net SetDeviceOption id=40000 dev=32 port=10.1.2.3 refs=3 ") + kFieldsUnchanged), 1)
        << "other ports keep the stack type";
    EXPECT_EQ(q.SetDeviceOption(MakeOption(comName), 99999, 32), 0);
    EXPECT_EQ(comName.GetRefCount(), 1);
    EXPECT_EQ(Count("SetDeviceOption id=99999"), 0);

    BYTE buf[16] = {};
    EXPECT_EQ(q.Read(buf, sizeof buf, 250, com, 32), 6);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 6), "R10000");
    EXPECT_EQ(Count("com Read id=10000 dev=32 len=16 timeout=250"), 1);
    int asb = 0;
    EXPECT_EQ(q.GetASBState(&asb, net, 32), 1);
    EXPECT_EQ(asb, net);
    EXPECT_EQ(q.IsPowerState(com, 1), com);
    EXPECT_EQ(Count("com IsPowerState id=10000 dev=1"), 1);
    EXPECT_EQ(q.ReadAvailable(net, 32), net);
    EXPECT_EQ(q.SetWrite(TRUE, com, 32), 1);
    EXPECT_EQ(Count("com SetWrite id=10000 dev=32 isWrite=1"), 1);
    HANDLE news = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    EXPECT_EQ(q.SetStatusEvent(news, net, 32), 1);
    EXPECT_EQ(q.SetStatusEvent(nullptr, net, 32), 1);
    EXPECT_EQ(Count("net SetStatusEvent id=40000 dev=32 event=1"), 1);
    EXPECT_EQ(Count("net SetStatusEvent id=40000 dev=32 event=0"), 1);
    CloseHandle(news);
    q.Clear(net, 2);
    EXPECT_EQ(Count("net Clear id=40000 dev=2"), 1);

    EXPECT_EQ(q.RemovePort(32, com), 0);
    EXPECT_EQ(q.RemovePort(32, net), 0);
}

TEST_F(QuillanTest, UnknownIdsFailWithTheirErrorLinesAndReachNoTransport)
{
    Device("LBLLOG", 1, 0, 0, 0);
    ASSERT_EQ(q.LoadChildDll(), 0);
    int id = q.CreatePort("LBLLOG", "COM6", 32);
    ASSERT_NE(id, 0);
    const int bad = 77777;
    BYTE buf[8];
    int asb = 0x5A5A;
    CString name("COM6");
    EXPECT_EQ(q.Write("abc", bad, 32), 0);
    EXPECT_EQ(q.Read(buf, sizeof buf, 10, bad, 32), 0);
    q.Clear(bad, 32);
    EXPECT_EQ(q.ReadAvailable(bad, 32), 0);
    EXPECT_EQ(q.IsPowerState(bad, 32), 0);
    EXPECT_EQ(q.GetASBState(&asb, bad, 32), 0);
    EXPECT_EQ(asb, 0x5A5A);
    EXPECT_EQ(q.SetWrite(TRUE, bad, 32), 0);
    EXPECT_EQ(q.SetDeviceOption(MakeOption(name), bad, 32), 0);
    EXPECT_EQ(q.OpenPort(bad, 32), 0);
    q.ClosePort(bad, 32);
    // Status news are optional: an unknown id only says "poll".
    EXPECT_EQ(q.SetStatusEvent(GetCurrentProcess(), bad, 32), 0);
    EXPECT_EQ(Count("77777"), 0);
    EXPECT_EQ(q.RemovePort(32, id), 0);

    std::string log = QlnLog();
    const char* lines[] = {
        "Write<dwId : 77777> : pPortQln is NULL",         "Read<dwId : 77777> : pPortQln is NULL",
        "Clear<dwId : 77777> : pPortQln is NULL",         "ReadAvailable<dwId : 77777> : pPortQln is NULL",
        "IsPowerState<dwId : 77777> : pPortQln is NULL",  "GetASBState<dwId : 77777> : pPortQln is NULL",
        "SetWrite <dwId : 77777>: pPortQln is NULL",      "SetDeviceOption<dwId : 77777> : pPortQln is NULL",
        "OpenPort<dwId : 77777> : pPortQln is NULL",      "ClosePort<dwId : 77777> : pPortQln is NULL",
    };
    const std::regex stamp("- \\(\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d\\) ");
    for (const char* l : lines) {
        size_t at = log.find(std::string("<LABEL> !ERROR: ") + l + "\r\n");
        ASSERT_NE(at, std::string::npos) << l;
        ASSERT_GE(at, 17u);
        EXPECT_TRUE(std::regex_match(log.substr(at - 17, 17), stamp)) << log.substr(at - 17, 40);
        EXPECT_TRUE(at == 17 || log[at - 18] == '\n');
    }
    EXPECT_NE(log.find("<LABEL> +CreatePort <DevName : LBLLOG, strPort : COM6, DevType : 32>\r\n"), std::string::npos);
    EXPECT_NE(log.find("<LABEL> -RemovePort<dwId : 10000> : close port\r\n"), std::string::npos);
}

TEST_F(QuillanTest, LogSettingsDecideQuillansLogAndTheTransportPortsLog)
{
    struct Case
    {
        DWORD log;
        int portLog;
        DWORD binary;
        int encLog;
        const char* transportCall;  // what the transport's port is created with
        bool qlnLog, trace;
    } cases[] = {
        {0, 1, 0, 0, "CreatePort ->", false, false},
        {1, 0, 0, 0, "CreatePort4Log bin=0 log=1 path=", true, false},
        {1, 1, 0, 0, "CreatePort ->", true, true},
        {0, 0, 1, 0, "CreatePort4Log bin=1 log=0 path=", false, false},
        {1, 1, 1, 0, "CreatePort4Log bin=1 log=3 path=", true, true},
        {0, 0, 1, 1, "CreatePort ->", false, false},
        {1, 0, 1, 1, "CreatePort4Log bin=0 log=1 path=", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "Log " << c.log << " PortLog " << c.portLog << " Binary " << c.binary
                                        << " EncLog " << c.encLog);
        TearDown();
        SetUp();
        Device("LBLMATRIX", c.log, c.portLog, c.binary, c.encLog);
        ASSERT_EQ(q.LoadChildDll(), 0);
        int id = q.CreatePort("LBLMATRIX", "COM7", 32);
        ASSERT_EQ(id, 10000);
        EXPECT_EQ(q.OpenPort(id, 32), 1);
        EXPECT_EQ(q.Write("P1\r\n", id, 32), 4);
        q.ClosePort(id, 32);
        EXPECT_EQ(q.RemovePort(32, id), 0);
        EXPECT_EQ(Count(std::string("com ") + c.transportCall), 1) << Calls().front();
        if (std::string(c.transportCall).find("path=") != std::string::npos) {
            EXPECT_EQ(Count(std::string("path=") + m_folder->Path() + " ->"), 1);
        }

        std::string log = QlnLog();
        EXPECT_EQ(!log.empty(), c.qlnLog);
        if (c.qlnLog) {
            std::vector<std::string> names = m_folder->List("Log");
            ASSERT_FALSE(names.empty());
            EXPECT_TRUE(std::regex_match(names[0], std::regex("d_Qln_\\d{6}\\.log"))) << names[0];
            EXPECT_NE(log.find("<LABEL> +OpenPort <dwId : 10000>"), std::string::npos);
            EXPECT_NE(log.find("<LABEL> -ClosePort<dwId : 10000>"), std::string::npos);
            EXPECT_EQ(log.find("<LABEL> +Write <dwId : 10000, length : 4>") != std::string::npos, c.trace);
        }
        EXPECT_EQ(q.FreeChildDll(), 0);
        q.Unload();
        // The destructor's plain line ends the log.
        if (c.qlnLog) {
            EXPECT_NE(QlnLog().find(") - ~CQUILLANApp()\r\n"), std::string::npos);
        }
    }
}

TEST_F(QuillanTest, LoggingKeepsTheSettingsOfTheFirstCreatePort)
{
    Device("LBLFIRST", 1, 0, 0, 0);
    ASSERT_EQ(q.LoadChildDll(), 0);
    int a = q.CreatePort("LBLFIRST", "COM8", 32);
    Device("LBLFIRST", 1, 1, 0, 0);  // trace asked for later: not taken up
    int b = q.CreatePort("LBLFIRST", "COM9", 32);
    EXPECT_EQ(q.Write("x", b, 32), 1);
    EXPECT_EQ(QlnLog().find("+Write"), std::string::npos);
    EXPECT_EQ(q.FreeChildDll(), 2);
    EXPECT_NE(QlnLog().find(") FreeChildDll : but now using communication port\r\n"), std::string::npos)
        << "a plain line, without a class tag";
    EXPECT_EQ(q.RemovePort(32, a), 0);
    EXPECT_EQ(q.RemovePort(32, b), 0);
}

TEST_F(QuillanTest, ChildLibrariesLoadOnceRefuseToFreeWhileRecordsExistAndReload)
{
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, SERVICEINFO, "lptdir");
    ASSERT_EQ(q.LoadChildDll(), 0);
    EXPECT_EQ(q.CreatePort("LBL", "LPT1", 32), 0) << "no parallel library";
    int com = q.CreatePort("LBL", "COM3", 32);
    int usb = q.CreatePort("LBL", "\\\\.\\pipe\\vesk-usb", 32);
    int net = q.CreatePort("LBL", "127.0.0.1", 32);
    EXPECT_EQ(com, 10000);
    EXPECT_EQ(usb, 30000);
    EXPECT_EQ(net, 40000);
    EXPECT_EQ(q.RemovePort(32, usb), 0);

    // The lpt slot failed once and is not retried until FreeChildDll; the others are not reloaded.
    m_reg->SetString(SERVICEINFO, "lptdir", RecDll("lpt").c_str());
    ASSERT_EQ(q.LoadChildDll(), 0);
    EXPECT_EQ(q.CreatePort("LBL", "LPT1", 32), 0);
    EXPECT_EQ(GetModuleHandleA("rec_lpt.dll"), nullptr);

    EXPECT_EQ(q.FreeChildDll(), 2);
    EXPECT_NE(GetModuleHandleA("rec_com.dll"), nullptr);
    EXPECT_NE(GetModuleHandleA("rec_net.dll"), nullptr);
    EXPECT_EQ(q.Write("x", com, 32), 1) << "the libraries stay usable";
    EXPECT_EQ(q.RemovePort(32, com), 0);
    EXPECT_EQ(q.RemovePort(32, net), 0);
    EXPECT_EQ(q.FreeChildDll(), 0);
    // Loaded once by two LoadChildDll calls: one FreeChildDll unloads them.
    EXPECT_EQ(GetModuleHandleA("rec_com.dll"), nullptr);
    EXPECT_EQ(GetModuleHandleA("rec_net.dll"), nullptr);
    EXPECT_EQ(GetModuleHandleA("rec_usb.dll"), nullptr);

    ASSERT_EQ(q.LoadChildDll(), 0);
    for (const char* kind : {"rec_com.dll", "rec_lpt.dll", "rec_usb.dll", "rec_net.dll"})
        EXPECT_NE(GetModuleHandleA(kind), nullptr) << kind;
    int lpt = q.CreatePort("LBL", "LPT1", 32);
    EXPECT_EQ(lpt, 20000);
    EXPECT_EQ(q.CreatePort("LBL", "COM3", 32), 10000) << "a fresh com library";
    EXPECT_EQ(q.RemovePort(32, lpt), 0);
    EXPECT_EQ(q.RemovePort(32, 10000), 0);
}

TEST_F(QuillanTest, ALibraryWithoutSomeExportsFailsThoseCallsCleanly)
{
    m_reg->SetString(SERVICEINFO, "lptdir", RecDll("partial").c_str());
    m_reg->SetString(SERVICEINFO, "usbdir", (TestBinDir() + "\\no-such-library.dll").c_str());
    ASSERT_EQ(q.LoadChildDll(), 0);
    EXPECT_EQ(q.CreatePort("LBL", "\\\\.\\pipe\\x", 32), 0) << "library missing";
    int id = q.CreatePort("LBL", "LPT1", 32);
    ASSERT_EQ(id, 20000);
    BYTE buf[4];
    int asb = 0;
    CString name("LPT1");
    EXPECT_EQ(q.Write("abc", id, 32), 0);
    EXPECT_EQ(q.Read(buf, 4, 10, id, 32), 0);
    EXPECT_EQ(q.ReadAvailable(id, 32), 0);
    EXPECT_EQ(q.IsPowerState(id, 32), 0);
    EXPECT_EQ(q.GetASBState(&asb, id, 32), 0);
    EXPECT_EQ(q.SetWrite(1, id, 32), 0);
    EXPECT_EQ(q.SetStatusEvent(GetCurrentProcess(), id, 32), 0) << "a transport without status news is polled";
    q.Clear(id, 32);
    EXPECT_EQ(q.SetDeviceOption(MakeOption(name), id, 32), 0);
    EXPECT_EQ(name.GetRefCount(), 1);
    EXPECT_EQ(q.OpenPort(id, 32), 0);
    EXPECT_EQ(q.RemovePort(32, id), 0);
    EXPECT_EQ(Count("partial DeletePort id=20000 -> 1"), 1);
}

TEST_F(QuillanTest, PortsComeAndGoWhileAnotherPortIsPolled)
{
    ASSERT_EQ(q.LoadChildDll(), 0);
    // Recording every poll would only slow the race down.
    SetEnvironmentVariableA("VESK_REC_FILE", nullptr);
    int polled = q.CreatePort("LBLPOLL", "LPT1", 32);
    ASSERT_EQ(q.OpenPort(polled, 32), 1);

    std::atomic<bool> stop(false);
    std::atomic<long> polls(0), wrong(0), failed(0);
    std::thread poller([&] {
        while (!stop) {
            int asb = 0;
            if (q.GetASBState(&asb, polled, 32) != 1 || asb != polled)
                ++wrong;
            if (q.IsPowerState(polled, 32) != polled)
                ++wrong;
            ++polls;
        }
    });
    const int rounds = 300;
    CString none("LPT2");
    for (int i = 0; i < rounds; ++i) {
        std::string port = "LPT" + std::to_string(2 + i % 3);
        int a = q.CreatePort("LBLA", port.c_str(), 32);
        int b = q.CreatePort("POSA", port.c_str(), 1);
        if (a == 0 || a == polled || b != a) {
            ++failed;
            continue;
        }
        if (q.SetDeviceOption(MakeOption(none), a, 32) != 1 || q.OpenPort(a, 32) != 1 || q.Write("x", a, 32) != 1 ||
            q.IsPowerState(a, 1) != a)
            ++failed;
        q.ClosePort(a, 32);
        if (q.RemovePort(1, a) != 32 || q.RemovePort(32, a) != 0)
            ++failed;
    }
    // The poller must have run alongside, not only before or after.
    WaitFor([&] { return polls.load() > 100; }, 30000);
    stop = true;
    poller.join();
    EXPECT_EQ(failed.load(), 0);
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_GT(polls.load(), 100);
    q.ClosePort(polled, 32);
    EXPECT_EQ(q.RemovePort(32, polled), 0);
}

TEST_F(QuillanTest, ACallWaitingInOneTransportPortHoldsUpNoOtherPort)
{
    ASSERT_EQ(q.LoadChildDll(), 0);
    int slow = q.CreatePort("LBLR", "LPT1", 32);
    ASSERT_EQ(q.OpenPort(slow, 32), 1);
    CTransportHold hold("VESK_REC_READ_EVENT", "VeskRecRead-");
    ASSERT_TRUE(hold.Made());

    std::string got;
    std::thread reader([&] {
        BYTE buf[8];
        int n = q.Read(buf, sizeof buf, 60000, slow, 32);
        got.assign(reinterpret_cast<char*>(buf), n > 0 ? size_t(n) : 0);
    });
    EXPECT_TRUE(WaitFor([&] { return Count("lpt Read id=20000") == 1; }, 30000));

    // Meanwhile another port comes, works and goes, and the waiting port still answers polls.
    std::atomic<bool> done(false);
    std::atomic<int> failures(0);
    std::thread other([&] {
        int b = q.CreatePort("LBLO", "LPT2", 32);
        int asb = 0;
        if (b != 20001 || q.OpenPort(b, 32) != 1 || q.Write("x", b, 32) != 1 || q.IsPowerState(slow, 32) != slow ||
            q.GetASBState(&asb, slow, 32) != 1)
            ++failures;
        q.ClosePort(b, 32);
        if (q.RemovePort(32, b) != 0)
            ++failures;
        done = true;
    });
    EXPECT_TRUE(WaitFor([&] { return done.load(); }, 30000)) << "held up by the waiting read";
    // A close from another thread reaches the transport while the read still waits there (a
    // write stalled at the printer is ended that way).
    std::thread closer([&] { q.ClosePort(slow, 32); });
    EXPECT_TRUE(WaitFor([&] { return Count("lpt ClosePort id=20000 dev=32") == 1; }, 30000))
        << "the close waited for the read";
    EXPECT_TRUE(got.empty());
    hold.Release();
    reader.join();
    other.join();
    closer.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(got, "R20000");
    EXPECT_EQ(q.RemovePort(32, slow), 0);
}

// An open (a Bluetooth device reset) or a close (a drain at a low baud rate) of a com port can
// hold the port longer than the per-port bound: a ClosePort or RemovePort of the class ends it
// early instead of giving up as busy, and a SetDeviceOption waits for it instead of changing the
// settings under it.
TEST_F(QuillanTest, ACloseOrRemoveEndsAnOpenOrDrainInProgressAndSettingsWaitForIt)
{
    ASSERT_EQ(q.LoadChildDll(), 0);
    int id = q.CreatePort("LBLC", "COM4", 32);
    ASSERT_EQ(id, 10000);
    CString name("COM4");
    const std::string during = "com SetDeviceOption id=10000 during a held open or close";
    {
        CTransportHold hold("VESK_REC_OPEN_EVENT", "VeskRecOpen-");
        ASSERT_TRUE(hold.Made());
        std::atomic<int> opened(-1), optioned(-1);
        std::atomic<bool> closed(false);
        std::thread opener([&] { opened = q.OpenPort(id, 32); });
        bool held = WaitFor([&] { return Count("com OpenPort waits id=10000") == 1; }, 30000);
        std::thread setter([&] { optioned = q.SetDeviceOption(MakeOption(name), id, 32); });
        // Settings that do not wait for the open reach the transport under it (or return) here.
        bool early = WaitFor([&] { return optioned.load() != -1 || Count(during) != 0; }, 2000);
        std::thread closer([&] {
            q.ClosePort(id, 32);
            closed = true;
        });
        bool ended = WaitFor([&] { return opened.load() != -1 && closed.load() && optioned.load() != -1; }, 30000);
        hold.Release();
        opener.join();
        setter.join();
        closer.join();
        EXPECT_TRUE(held);
        EXPECT_FALSE(early) << "the settings did not wait for the open";
        EXPECT_TRUE(ended) << "the close waited for the open";
        EXPECT_EQ(opened.load(), 0);
        EXPECT_EQ(Count("com OpenPort id=10000 ended by a close"), 1);
        EXPECT_EQ(Count(during), 0);
        EXPECT_EQ(optioned.load(), 1);
    }
    ASSERT_EQ(q.OpenPort(id, 32), 1);
    {
        CTransportHold hold("VESK_REC_CLOSE_EVENT", "VeskRecClose-");
        ASSERT_TRUE(hold.Made());
        std::thread closer([&] { q.ClosePort(id, 32); });
        bool held = WaitFor([&] { return Count("com ClosePort waits id=10000") == 1; }, 30000);
        std::atomic<int> removed(-2);
        std::thread remover([&] { removed = q.RemovePort(32, id); });
        bool ended = WaitFor([&] { return removed.load() != -2; }, 30000);
        hold.Release();
        closer.join();
        remover.join();
        EXPECT_TRUE(held);
        EXPECT_TRUE(ended) << "the remove waited for the drain";
        EXPECT_EQ(removed.load(), 0);
        EXPECT_EQ(Count("com ClosePort id=10000 ended by a close"), 1);
        EXPECT_EQ(Count("com DeletePort id=10000 -> 1"), 1);
    }
}

TEST_F(QuillanTest, ATransportSlowToMakeItsPortHoldsUpNoOtherPort)
{
    ASSERT_EQ(q.LoadChildDll(), 0);
    int open = q.CreatePort("LBLC", "COM4", 32);
    ASSERT_EQ(q.OpenPort(open, 32), 1);
    CTransportHold hold("VESK_REC_CREATE_EVENT_usb", "VeskRecCreate-");
    ASSERT_TRUE(hold.Made());

    std::atomic<int> slow(-1);
    std::thread maker([&] { slow = q.CreatePort("LBLU", "\\\\.\\pipe\\vesk-slow", 32); });
    EXPECT_TRUE(WaitFor([&] { return Count("usb CreatePort waits") == 1; }, 30000));

    // While usb is still making its port: the open port works, another class shares it, another
    // library makes, opens and removes a port, the libraries stay loaded, and the port being
    // made counts as in use.
    std::atomic<bool> done(false);
    std::atomic<int> slowWhenDone(0);
    std::vector<std::string> failed;
    std::thread other([&] {
        auto check = [&](bool ok, const char* what) {
            if (!ok)
                failed.push_back(what);
        };
        int asb = 0;
        check(q.Write("x", open, 32) == 1, "Write on the open port");
        check(q.IsPowerState(open, 32) == open, "IsPowerState");
        check(q.GetASBState(&asb, open, 32) == 1 && asb == open, "GetASBState");
        check(q.CreatePort("POSC", "COM4", 1) == open, "a second class shares the open port");
        int net = q.CreatePort("LBLN", "127.0.0.1", 32);
        check(net == 40000, "CreatePort on net");
        check(q.OpenPort(net, 32) == 1, "OpenPort on net");
        q.ClosePort(net, 32);
        check(q.RemovePort(32, net) == 0, "RemovePort on net");
        check(q.LoadChildDll() == 0, "LoadChildDll");
        check(q.FreeChildDll() == 2, "FreeChildDll counts the open port and the one being made");
        slowWhenDone = slow.load();
        done = true;
    });
    EXPECT_TRUE(WaitFor([&] { return done.load(); }, 30000)) << "held up by the port being made";
    hold.Release();
    maker.join();
    other.join();
    EXPECT_EQ(failed, std::vector<std::string>());
    EXPECT_EQ(slowWhenDone.load(), -1) << "the other port's calls ended while usb was still making its port";
    EXPECT_EQ(slow.load(), 30000);
    EXPECT_EQ(q.Write("y", slow, 32), 1);
    EXPECT_EQ(Count("usb Write id=30000 dev=32 len=1"), 1);
    EXPECT_EQ(q.RemovePort(32, slow), 0);
    q.ClosePort(open, 32);
    EXPECT_EQ(q.RemovePort(1, open), 32);
    EXPECT_EQ(q.RemovePort(32, open), 0);
}

TEST_F(QuillanTest, BluetoothPortsAreLookedUpAmongThePortsDevices)
{
    // A "Ports" class device carrying COM7, as a Bluetooth virtual port's would.
    const char* dev = "System\\CurrentControlSet\\Enum\\ROOT\\PORTS\\0000";
    m_reg->SetString(dev, "ClassGUID", "{4D36E978-E325-11CE-BFC1-08002BE10318}");
    m_reg->SetString(dev, "Class", "Ports");
    m_reg->SetString(dev, "HardwareID", "VESK\\BTPORT");
    m_reg->SetString((std::string(dev) + "\\Device Parameters").c_str(), "PortName", "COM7");
    m_reg->SetString("System\\CurrentControlSet\\Control\\Class\\{4D36E978-E325-11CE-BFC1-08002BE10318}", "Class", "Ports");
    Device("LBLBT", 1, 0, 0, 0);
    ASSERT_EQ(q.LoadChildDll(), 0);
    int id = q.CreatePort("LBLBT", "COM7", 32);
    ASSERT_EQ(id, 10000);
    CString name("COM7");
    DeviceOption dop = MakeOption(name);
    dop.dwUsingBT = 1;
    EXPECT_EQ(q.SetDeviceOption(dop, id, 32), 1);
    // The device was found by its port name; its driver is from no known Bluetooth stack.
    EXPECT_NE(QlnLog().find("<LABEL> GetBluetoothStackType<dwId : 10000> : RegQueryValueEx, PortName = COM7, Length = 5\r\n"),
              std::string::npos)
        << QlnLog();
    EXPECT_EQ(Count("f=100,9600,102,103,104,105,106,107,108,109,110,111,112,1,0,115,116,117,118"), 1) << Calls().back();
    EXPECT_EQ(q.RemovePort(32, id), 0);
}

// The caller's thread ended by force inside a routed call (a print thread stopped by a Close):
// the call never gives its share of the record back, and the port's close and removal still
// return at once. The library stays loaded: a call may still be inside it.
struct ForcedCall
{
    QuillanClient* q;
    int id;
    static DWORD WINAPI Read(LPVOID arg)
    {
        ForcedCall* c = static_cast<ForcedCall*>(arg);
        BYTE buf[8];
        c->q->Read(buf, sizeof buf, 60000, c->id, 32);
        return 0;
    }
    static DWORD WINAPI CloseAndRemove(LPVOID arg)
    {
        ForcedCall* c = static_cast<ForcedCall*>(arg);
        c->q->ClosePort(c->id, 32);
        return DWORD(c->q->RemovePort(32, c->id));
    }
};

TEST_F(QuillanTest, ACallEndedByForceLeavesNoLockBehind)
{
    ASSERT_EQ(q.LoadChildDll(), 0);
    int id = q.CreatePort("LBLK", "LPT1", 32);
    ASSERT_EQ(q.OpenPort(id, 32), 1);
    CTransportHold hold("VESK_REC_READ_EVENT", "VeskRecKill-");
    ASSERT_TRUE(hold.Made());
    ForcedCall call = {&q, id};
    HANDLE reader = CreateThread(nullptr, 0, ForcedCall::Read, &call, 0, nullptr);
    ASSERT_TRUE(reader);
    ASSERT_TRUE(WaitFor([&] { return Count("lpt Read id=20000") == 1; }, 30000));
    ASSERT_TRUE(TerminateThread(reader, 1));
    WaitForSingleObject(reader, 30000);
    CloseHandle(reader);

    HANDLE closer = CreateThread(nullptr, 0, ForcedCall::CloseAndRemove, &call, 0, nullptr);
    ASSERT_TRUE(closer);
    // Waiting for the ended call's share, both would wait for ever; the bound only ends the test.
    bool returned = WaitForSingleObject(closer, 30000) == WAIT_OBJECT_0;
    EXPECT_TRUE(returned);
    DWORD removed = MAXDWORD;
    if (returned) {
        GetExitCodeThread(closer, &removed);
        CloseHandle(closer);
    }
    EXPECT_EQ(removed, 0u);
    EXPECT_EQ(Count("lpt ClosePort id=20000 dev=32"), 1);
    EXPECT_EQ(Count("lpt DeletePort id=20000 -> 1"), 1);
    EXPECT_EQ(q.Write("x", id, 32), 0) << "removed";
    if (returned) {
        EXPECT_EQ(q.FreeChildDll(), 1) << "the ended call still counts";
        q.Unload();
        // Nothing runs in it any more: the test lets the kept library go, so the next test
        // loads it fresh.
        if (HMODULE kept = GetModuleHandleA("rec_lpt.dll"))
            FreeLibrary(kept);
    }
}

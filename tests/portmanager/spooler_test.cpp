// Printer queues on the port Quillan opens move to "FILE:" and come back, on the Wine spooler of
// the test prefix. The spooler keeps its printers in HKLM, so the registry override ends before
// any spooler call: these printers live in the test prefix itself (unique names, removed after).
#include "QuillanFixture.h"

#include <winspool.h>

#include <algorithm>

#ifdef DeletePort
#undef DeletePort
#endif

namespace {

const char kDriver[] = "VESK Test Queue Driver";

struct QueueState
{
    bool found = false;
    std::string port;
    DWORD attributes = 0;
};

bool EnsureDriver()
{
    DRIVER_INFO_3A di;
    memset(&di, 0, sizeof di);
    di.cVersion = 3;
    di.pName = const_cast<char*>(kDriver);
    di.pDriverPath = const_cast<char*>("wineps.drv");
    di.pDataFile = const_cast<char*>("wineps.drv");
    di.pConfigFile = const_cast<char*>("wineps.drv");
    if (AddPrinterDriverA(nullptr, 3, reinterpret_cast<BYTE*>(&di)))
        return true;
    return GetLastError() == ERROR_PRINTER_DRIVER_ALREADY_INSTALLED;
}

bool AddQueue(const std::string& name, const char* port, DWORD attributes)
{
    PRINTER_INFO_2A pi;
    memset(&pi, 0, sizeof pi);
    pi.pPrinterName = const_cast<char*>(name.c_str());
    pi.pPortName = const_cast<char*>(port);
    pi.pDriverName = const_cast<char*>(kDriver);
    pi.pPrintProcessor = const_cast<char*>("WinPrint");
    pi.pDatatype = const_cast<char*>("RAW");
    pi.Attributes = attributes;
    HANDLE h = AddPrinterA(nullptr, 2, reinterpret_cast<BYTE*>(&pi));
    if (!h)
        return false;
    ClosePrinter(h);
    return true;
}

void DeleteQueue(const std::string& name)
{
    HANDLE h = nullptr;
    PRINTER_DEFAULTSA d = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (OpenPrinterA(const_cast<char*>(name.c_str()), &h, &d)) {
        DeletePrinter(h);
        ClosePrinter(h);
    }
}

QueueState Queue(const std::string& name)
{
    QueueState s;
    HANDLE h = nullptr;
    if (!OpenPrinterA(const_cast<char*>(name.c_str()), &h, nullptr))
        return s;
    DWORD needed = 0;
    GetPrinterA(h, 2, nullptr, 0, &needed);
    std::vector<BYTE> buf(needed ? needed : 1);
    if (needed && GetPrinterA(h, 2, buf.data(), needed, &needed)) {
        PRINTER_INFO_2A* pi = reinterpret_cast<PRINTER_INFO_2A*>(buf.data());
        s.found = true;
        s.port = pi->pPortName ? pi->pPortName : "";
        s.attributes = pi->Attributes;
    }
    ClosePrinter(h);
    return s;
}

bool FilePortExists()
{
    DWORD needed = 0, returned = 0;
    EnumPortsA(nullptr, 1, nullptr, 0, &needed, &returned);
    std::vector<BYTE> buf(needed ? needed : 1);
    if (!needed || !EnumPortsA(nullptr, 1, buf.data(), needed, &needed, &returned))
        return false;
    PORT_INFO_1A* ports = reinterpret_cast<PORT_INFO_1A*>(buf.data());
    for (DWORD i = 0; i < returned; ++i)
        if (ports[i].pName && strcmp(ports[i].pName, "FILE:") == 0)
            return true;
    return false;
}

bool LocalPortRequest(const wchar_t* command, const wchar_t* port)
{
    HANDLE xcv = nullptr;
    PRINTER_DEFAULTSA d = {nullptr, nullptr, SERVER_ACCESS_ADMINISTER};
    if (!OpenPrinterA(const_cast<char*>(",XcvMonitor Local Port"), &xcv, &d))
        return false;
    DWORD needed = 0, status = 0;
    BOOL ok = XcvDataW(xcv, command, reinterpret_cast<BYTE*>(const_cast<wchar_t*>(port)),
                       DWORD((wcslen(port) + 1) * sizeof(wchar_t)), nullptr, 0, &needed, &status);
    ClosePrinter(xcv);
    return ok && status == 0;
}

const DWORD kAttributes = PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_ENABLE_BIDI | PRINTER_ATTRIBUTE_KEEPPRINTEDJOBS;

} // namespace

class QuillanSpoolerTest : public QuillanTest
{
protected:
    void SetUp() override
    {
        QuillanTest::SetUp();
        const ::testing::TestInfo* t = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string base = "VESK " + std::to_string(GetCurrentProcessId()) + " " + t->name();
        std::replace(base.begin(), base.end(), '/', ' ');  // a parameterised test's name
        m_on3 = base + " on COM3";
        m_on31 = base + " on COM31";
    }

    // Creates the port records with the registry override on, then ends the override so the
    // spooler calls see the prefix's own printers; adds the two queues.
    void StartQueues()
    {
        Device("LBLQ", 1, 0, 0, 0);
        ASSERT_EQ(q.LoadChildDll(), 0);
        m_id = q.CreatePort("LBLQ", "COM3", 32);
        ASSERT_NE(m_id, 0);
        ASSERT_EQ(q.CreatePort("POSQ", "COM3", 1), m_id);
        m_reg.reset();
        ASSERT_TRUE(EnsureDriver()) << GetLastError();
        ASSERT_TRUE(AddQueue(m_on3, "COM3:", kAttributes)) << GetLastError();
        ASSERT_TRUE(AddQueue(m_on31, "COM31:", kAttributes)) << GetLastError();
        m_queues = true;
    }

    void TearDown() override
    {
        if (m_queues) {
            DeleteQueue(m_on3);
            DeleteQueue(m_on31);
            DeleteQueue(m_on3 + " too");
        }
        QuillanTest::TearDown();
    }

    void ExpectOnTheirPorts()
    {
        QueueState s3 = Queue(m_on3), s31 = Queue(m_on31);
        EXPECT_EQ(s3.port, "COM3:");
        EXPECT_EQ(s3.attributes, kAttributes);
        EXPECT_EQ(s31.port, "COM31:");
        EXPECT_EQ(s31.attributes, kAttributes);
    }

    std::string m_on3, m_on31;
    int m_id = 0;
    bool m_queues = false;
};

TEST_F(QuillanSpoolerTest, QueueOnThePortMovesToFileWhileOpenAndComesBack)
{
    StartQueues();
    ASSERT_TRUE(Queue(m_on3).found);
    ExpectOnTheirPorts();

    ASSERT_EQ(q.OpenPort(m_id, 32), 1);
    QueueState s3 = Queue(m_on3);
    EXPECT_EQ(s3.port, "FILE:");
    EXPECT_EQ(s3.attributes, kAttributes & ~DWORD(PRINTER_ATTRIBUTE_ENABLE_BIDI)) << "only the bidirectional bit goes";
    EXPECT_EQ(Queue(m_on31).port, "COM31:") << "COM31: is another port";

    // A second class neither moves again nor restores early.
    EXPECT_EQ(q.OpenPort(m_id, 1), 1);
    q.ClosePort(m_id, 32);
    EXPECT_EQ(Queue(m_on3).port, "FILE:");
    q.ClosePort(m_id, 1);
    ExpectOnTheirPorts();

    // Opening again works the same way (the saved queues were emptied at the close).
    ASSERT_EQ(q.OpenPort(m_id, 32), 1);
    EXPECT_EQ(Queue(m_on3).port, "FILE:");
    q.ClosePort(m_id, 32);
    ExpectOnTheirPorts();

    EXPECT_EQ(q.RemovePort(1, m_id), 32);
    EXPECT_EQ(q.RemovePort(32, m_id), 0);
}

TEST_F(QuillanSpoolerTest, AFailedOpenPutsTheQueuesBackAtOnce)
{
    StartQueues();
    SetEnvironmentVariableA("VESK_REC_OPEN", "0");
    EXPECT_EQ(q.OpenPort(m_id, 32), 0);
    EXPECT_EQ(Count("com OpenPort id=10000 dev=32 -> 0"), 1);
    ExpectOnTheirPorts();
    EXPECT_EQ(q.RemovePort(1, m_id), 32);
    EXPECT_EQ(q.RemovePort(32, m_id), 0);
    EXPECT_EQ(Count("com ClosePort"), 0) << "nothing was open";
}

TEST_F(QuillanSpoolerTest, RemovingAnOpenPortPutsTheQueuesBack)
{
    StartQueues();
    ASSERT_EQ(q.OpenPort(m_id, 32), 1);
    EXPECT_EQ(Queue(m_on3).port, "FILE:");
    EXPECT_EQ(q.RemovePort(1, m_id), 32);
    EXPECT_EQ(Queue(m_on3).port, "FILE:") << "the label printer still has it open";
    EXPECT_EQ(q.RemovePort(32, m_id), 0);
    ExpectOnTheirPorts();
}

TEST_F(QuillanSpoolerTest, AMissingFilePortIsAddedOnceForAllQueues)
{
    StartQueues();
    std::string second = m_on3 + " too";
    ASSERT_TRUE(AddQueue(second, "COM3:", PRINTER_ATTRIBUTE_LOCAL)) << GetLastError();
    if (FilePortExists()) {
        ASSERT_TRUE(LocalPortRequest(L"DeletePort", L"FILE:"));
    }
    ASSERT_FALSE(FilePortExists());

    EXPECT_EQ(q.OpenPort(m_id, 32), 1);
    EXPECT_TRUE(FilePortExists());
    EXPECT_EQ(Queue(m_on3).port, "FILE:");
    EXPECT_EQ(Queue(second).port, "FILE:");
    q.ClosePort(m_id, 32);
    ExpectOnTheirPorts();
    EXPECT_EQ(Queue(second).port, "COM3:");

    std::string log = QlnLog();
    size_t first = log.find("+AddNewWindowsDriverPort <dwId : 10000>");
    EXPECT_NE(first, std::string::npos);
    EXPECT_EQ(log.find("+AddNewWindowsDriverPort <dwId : 10000>", first + 1), std::string::npos) << "added once";
    EXPECT_NE(log.find("'FILE:' port has been added successfully."), std::string::npos);
    EXPECT_EQ(q.RemovePort(1, m_id), 32);
    EXPECT_EQ(q.RemovePort(32, m_id), 0);
}

// A queue the spooler cannot give back when the port closes (here: it is gone for a while) is
// logged, kept, and put back by a later attempt: the next restore of the port or its removal.
// One that never comes back is reported when the port goes.
struct UnrestoredCase
{
    const char* name;
    bool queueComesBack;
    bool reopenBeforeRemove;  // the next attempt is the next close of the port, else its removal
};

class QuillanUnrestoredTest : public QuillanSpoolerTest, public ::testing::WithParamInterface<UnrestoredCase>
{
};

TEST_P(QuillanUnrestoredTest, IsLoggedKeptAndRestoredAtTheNextAttempt)
{
    const UnrestoredCase& c = GetParam();
    StartQueues();
    ASSERT_EQ(q.OpenPort(m_id, 32), 1);
    ASSERT_EQ(Queue(m_on3).port, "FILE:");
    std::string log = QlnLog();
    EXPECT_NE(log.find("printer '" + m_on3 + "' moved from 'COM3:' to 'FILE:'"), std::string::npos) << log;
    EXPECT_EQ(log.find("printer '" + m_on31 + "' moved"), std::string::npos) << "COM31: stays";

    DeleteQueue(m_on3);
    ASSERT_FALSE(Queue(m_on3).found);
    q.ClosePort(m_id, 32);
    log = QlnLog();
    const std::string failedLine = "failed to OpenPrinter '" + m_on3 + "' (";
    size_t failed = log.find(failedLine);
    EXPECT_NE(failed, std::string::npos) << log;
    if (failed != std::string::npos) {
        size_t eol = log.find('\n', failed);
        EXPECT_NE(log.substr(failed, eol - failed).find("kept to restore its ports 'COM3:'"), std::string::npos) << log;
    }
    EXPECT_EQ(log.find("printer '" + m_on3 + "' restored"), std::string::npos);

    // The spooler has it again, as it last knew it: on FILE:.
    if (c.queueComesBack) {
        ASSERT_TRUE(AddQueue(m_on3, "FILE:", kAttributes & ~DWORD(PRINTER_ATTRIBUTE_ENABLE_BIDI))) << GetLastError();
    }
    if (c.reopenBeforeRemove) {
        ASSERT_EQ(q.OpenPort(m_id, 32), 1);
        EXPECT_EQ(Queue(m_on3).port, c.queueComesBack ? "FILE:" : "") << "not restored while the port is open";
        q.ClosePort(m_id, 32);
    }
    EXPECT_EQ(q.RemovePort(1, m_id), 32);
    EXPECT_EQ(q.RemovePort(32, m_id), 0);

    log = QlnLog();
    if (c.queueComesBack) {
        ExpectOnTheirPorts();
        EXPECT_NE(log.find("printer '" + m_on3 + "' restored to 'COM3:'"), std::string::npos) << log;
        EXPECT_EQ(log.find("is left on 'FILE:'"), std::string::npos) << log;
    } else {
        EXPECT_NE(log.find("printer '" + m_on3 + "' is left on 'FILE:', its ports were 'COM3:'"), std::string::npos) << log;
        // Tried at every attempt: the close, the next close when the port was opened again, the removal.
        size_t tries = 0;
        for (size_t at = log.find(failedLine); at != std::string::npos; at = log.find(failedLine, at + 1))
            ++tries;
        EXPECT_EQ(tries, c.reopenBeforeRemove ? 3u : 2u);
    }
    EXPECT_EQ(Queue(m_on31).port, "COM31:");
}

INSTANTIATE_TEST_SUITE_P(Queues, QuillanUnrestoredTest,
                         ::testing::Values(UnrestoredCase{"BackAtTheNextClose", true, true},
                                           UnrestoredCase{"BackAtTheRemoval", true, false},
                                           UnrestoredCase{"NeverBack", false, true},
                                           UnrestoredCase{"NeverBackNotReopened", false, false}),
                         [](const ::testing::TestParamInfo<UnrestoredCase>& i) { return std::string(i.param.name); });

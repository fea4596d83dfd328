// The serial port's rules without a device: the control block for every flow control and CHECK
// combination, the on-line decision table, and the configuration from the install folder.
#include "ComRules.h"
#include "ComTest.h"
#include "PortCom.h"
#include "Registry.h"

namespace {

DeviceOption Option(DWORD flow, DWORD parity = 0)
{
    DeviceOption d = {};
    d.dwBaudRate = 9600;
    d.dwByteSize = 7;
    d.dwStopBits = 2;
    d.dwParity = parity;
    d.dwFlowControl = flow;
    return d;
}

ComConfig Checks(int ctsSw, int dsrSw, int ctsHw = 1, int dsrHw = 1)
{
    ComConfig c;
    c.CHECK_CTS_HW = ctsHw;
    c.CHECK_DSR_HW = dsrHw;
    c.CHECK_CTS_SW = ctsSw;
    c.CHECK_DSR_SW = dsrSw;
    return c;
}

// What a driver might report before the port sets its block: every flag the port changes is
// set the "wrong" way, so a field left alone shows.
DCB DriverDcb()
{
    DCB d = {};
    d.DCBlength = sizeof d;
    d.BaudRate = 115200;
    d.ByteSize = 8;
    d.fBinary = TRUE;
    d.fParity = TRUE;
    d.fDsrSensitivity = TRUE;
    d.fTXContinueOnXoff = TRUE;
    d.fNull = TRUE;
    d.fAbortOnError = TRUE;
    d.fOutxCtsFlow = TRUE;
    d.fOutxDsrFlow = TRUE;
    d.fDtrControl = DTR_CONTROL_HANDSHAKE;
    d.fRtsControl = RTS_CONTROL_HANDSHAKE;
    d.fOutX = TRUE;
    d.fInX = TRUE;
    d.ErrorChar = 0x3F;
    d.EofChar = 0x1A;
    d.EvtChar = 0x0D;
    return d;
}

struct BlockRow
{
    DWORD flow;
    int ctsSw, dsrSw;
    bool ctsFlow, dsrFlow;
    DWORD dtr, rts;
    bool xonxoff;
};

TEST(ComControlBlock, FlowControlAndCheckCombinations)
{
    const BlockRow rows[] = {
        // Hardware handshake: both lines, whatever the software CHECK values say.
        {0, 0, 0, true, true, DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE, false},
        {0, 1, 0, true, true, DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE, false},
        {0, 0, 1, true, true, DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE, false},
        {0, 1, 1, true, true, DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE, false},
        // XON/XOFF: lines only as the CHECK values ask.
        {1, 0, 0, false, false, DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE, true},
        {1, 1, 0, true, false, DTR_CONTROL_DISABLE, RTS_CONTROL_ENABLE, true},
        {1, 0, 1, false, true, DTR_CONTROL_ENABLE, RTS_CONTROL_DISABLE, true},
        {1, 1, 1, true, true, DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE, true},
        // None.
        {2, 0, 0, false, false, DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE, false},
        {2, 1, 0, true, false, DTR_CONTROL_DISABLE, RTS_CONTROL_ENABLE, false},
        {2, 0, 1, false, true, DTR_CONTROL_ENABLE, RTS_CONTROL_DISABLE, false},
        {2, 1, 1, true, true, DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE, false},
        // An unknown value is handled as none.
        {7, 0, 0, false, false, DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE, false},
        {7, 1, 1, true, true, DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE, false},
    };
    for (const BlockRow& r : rows) {
        SCOPED_TRACE("flow " + std::to_string(r.flow) + " CHECK_CTS_SW " + std::to_string(r.ctsSw) + " CHECK_DSR_SW " +
                     std::to_string(r.dsrSw));
        // The hardware CHECK values decide the line state only, never the block.
        for (int hw = 0; hw < 2; ++hw) {
            DCB d = DriverDcb();
            ASSERT_TRUE(ComBuildSerialDcb(d, Option(r.flow), Checks(r.ctsSw, r.dsrSw, hw, hw)));
            EXPECT_EQ(bool(d.fOutxCtsFlow), r.ctsFlow);
            EXPECT_EQ(bool(d.fOutxDsrFlow), r.dsrFlow);
            EXPECT_EQ(DWORD(d.fDtrControl), r.dtr);
            EXPECT_EQ(DWORD(d.fRtsControl), r.rts);
            EXPECT_EQ(bool(d.fOutX), r.xonxoff);
            EXPECT_EQ(bool(d.fInX), r.xonxoff);
            // Always off, left as reported.
            EXPECT_FALSE(d.fDsrSensitivity);
            EXPECT_FALSE(d.fTXContinueOnXoff);
            EXPECT_FALSE(d.fNull);
            EXPECT_TRUE(d.fBinary);
            EXPECT_TRUE(d.fAbortOnError);
            EXPECT_EQ(d.ErrorChar, 0x3F);
            EXPECT_EQ(d.EofChar, 0x1A);
            EXPECT_EQ(d.EvtChar, 0x0D);
            EXPECT_EQ(d.BaudRate, 9600u);
            EXPECT_EQ(d.ByteSize, 7);
            EXPECT_EQ(d.StopBits, 2);
        }
    }
}

TEST(ComControlBlock, XonXoffDefaultsOnlyWhereTheDriverReportsZero)
{
    DCB d = DriverDcb();
    ASSERT_TRUE(ComBuildSerialDcb(d, Option(1), ComConfig()));
    EXPECT_EQ(d.XonChar, 0x11);
    EXPECT_EQ(d.XoffChar, 0x13);
    EXPECT_EQ(d.XonLim, 2048);
    EXPECT_EQ(d.XoffLim, 512);

    DCB own = DriverDcb();
    own.XonChar = 0x01;
    own.XoffChar = 0x02;
    own.XonLim = 10;
    ASSERT_TRUE(ComBuildSerialDcb(own, Option(1), ComConfig()));
    EXPECT_EQ(own.XonChar, 0x01);
    EXPECT_EQ(own.XoffChar, 0x02);
    EXPECT_EQ(own.XonLim, 10);
    EXPECT_EQ(own.XoffLim, 512);

    // Without XON/XOFF the characters stay as reported.
    for (DWORD flow : {0u, 2u}) {
        DCB n = DriverDcb();
        ASSERT_TRUE(ComBuildSerialDcb(n, Option(flow), ComConfig()));
        EXPECT_EQ(n.XonChar, 0);
        EXPECT_EQ(n.XoffChar, 0);
        EXPECT_EQ(n.XonLim, 0);
        EXPECT_EQ(n.XoffLim, 0);
    }
}

TEST(ComControlBlock, ParityCheckingExactlyWhenParityIsSet)
{
    for (DWORD parity = 0; parity <= 4; ++parity) {
        DCB d = DriverDcb();
        d.fParity = parity == 0;  // the opposite of what is expected
        ASSERT_TRUE(ComBuildSerialDcb(d, Option(2, parity), ComConfig()));
        EXPECT_EQ(d.Parity, parity);
        EXPECT_EQ(bool(d.fParity), parity != 0) << "parity " << parity;
    }
}

TEST(ComControlBlock, SettingsThatDoNotFitTheirFieldAreRefused)
{
    DeviceOption bad[3] = {Option(2), Option(2), Option(2)};
    bad[0].dwByteSize = 0x108;  // would become 8
    bad[1].dwParity = 0x100;    // would become "none"
    bad[2].dwStopBits = 0x102;  // would become 2
    for (const DeviceOption& o : bad) {
        DCB d = DriverDcb();
        EXPECT_FALSE(ComBuildSerialDcb(d, o, ComConfig()));
    }
}

// ---- On-line decision ----

struct DecisionRow
{
    DWORD flow;
    ComConfig checks;
    long modem;      // -2: the modem status cannot be read
    int xoffHold;    // -2: the error status cannot be read
    bool online;
};

TEST(ComLineState, DecisionTable)
{
    const long cts = COM_MODEM_CTS, dsr = COM_MODEM_DSR, both = COM_MODEM_CTS | COM_MODEM_DSR;
    const DecisionRow rows[] = {
        // Hardware: the HW CHECK values (default both).
        {0, Checks(0, 0), both, 0, true},
        {0, Checks(0, 0), cts, 0, false},
        {0, Checks(0, 0), dsr, 0, false},
        {0, Checks(0, 0), 0, 0, false},
        {0, Checks(0, 0), -2, 0, false},
        {0, Checks(0, 0, 1, 0), cts, 0, true},
        {0, Checks(0, 0, 0, 1), dsr, 0, true},
        {0, Checks(0, 0, 0, 0), 0, 0, true},
        {0, Checks(0, 0, 0, 0), -2, 0, false},  // an unreadable status is off-line even so
        {0, Checks(1, 1, 1, 1), both, 1, true},  // XOFF and SW checks do not matter
        // XON/XOFF with both SW checks 0: the XOFF hold.
        {1, Checks(0, 0), 0, 0, true},
        {1, Checks(0, 0), both, 1, false},
        {1, Checks(0, 0), both, -2, false},
        // XON/XOFF with a SW check: the lines, the XOFF hold no more.
        {1, Checks(1, 0), cts, 1, true},
        {1, Checks(1, 0), dsr, 0, false},
        {1, Checks(0, 1), dsr, -2, true},
        {1, Checks(1, 1), cts, 0, false},
        {1, Checks(1, 1), both, 0, true},
        // None: always, unless a SW check asks for lines.
        {2, Checks(0, 0), -2, -2, true},
        {2, Checks(0, 0, 1, 1), 0, 1, true},
        {2, Checks(1, 0), 0, 0, false},
        {2, Checks(1, 0), cts, 0, true},
        {2, Checks(0, 1), cts, 0, false},
        {2, Checks(1, 1), both, 0, true},
        {2, Checks(1, 1), -2, 0, false},
    };
    int i = 0;
    for (const DecisionRow& r : rows) {
        SCOPED_TRACE("row " + std::to_string(i++));
        CScriptedLine line;
        line.modemFails = r.modem == -2;
        line.modem = r.modem < 0 ? 0 : r.modem;
        line.errorFails = r.xoffHold == -2;
        line.xoffHold = r.xoffHold < 0 ? 0 : r.xoffHold;
        EXPECT_EQ(bool(ComDecideOnline(line, nullptr, r.flow, r.checks)), r.online);
        // XON/XOFF always reads the error status: that read clears the port's error state.
        if (r.flow == 1) {
            EXPECT_EQ(line.errorCalls, 1);
        }
    }
}

// ---- Configuration ----

class ComConfiguration : public ::testing::Test
{
protected:
    void Install() { reg.SetString(VESK_SERVICEINFO_KEY, "Installdir", folder.Path().c_str()); }
    void SetupInf(const std::string& special) { ASSERT_TRUE(folder.Write("setup.inf", special)); }
    static void ExpectDefaults(const ComConfig& c)
    {
        EXPECT_EQ(c.CONTROLDEVICE, 0);
        EXPECT_EQ(c.CHECK_CTS_HW, 1);
        EXPECT_EQ(c.CHECK_DSR_HW, 1);
        EXPECT_EQ(c.CHECK_CTS_SW, 0);
        EXPECT_EQ(c.CHECK_DSR_SW, 0);
    }

    CTestRegistry reg;
    CTempFolder folder;
};

TEST_F(ComConfiguration, MissingInstallFolderOrFileGivesDefaults)
{
    ExpectDefaults(ComReadConfig());
    // An empty Installdir is no folder either.
    reg.SetString(VESK_SERVICEINFO_KEY, "Installdir", "");
    ExpectDefaults(ComReadConfig());
    // A folder without setup.inf, and one whose setup.inf has no [SPECIAL].
    Install();
    ExpectDefaults(ComReadConfig());
    SetupInf("[Description]\r\nVersion=1\r\n[OTHER]\r\nCHECK_CTS_HW=0\r\n");
    ExpectDefaults(ComReadConfig());
}

TEST_F(ComConfiguration, ValuesPresentAreRead)
{
    Install();
    SetupInf("[SPECIAL]\r\nCONTROLDEVICE=1\r\nCHECK_CTS_HW=0\r\nCHECK_DSR_HW=0\r\nCHECK_CTS_SW=1\r\nCHECK_DSR_SW=3\r\n");
    ComConfig c = ComReadConfig();
    EXPECT_EQ(c.CONTROLDEVICE, 1);
    EXPECT_EQ(c.CHECK_CTS_HW, 0);
    EXPECT_EQ(c.CHECK_DSR_HW, 0);
    EXPECT_EQ(c.CHECK_CTS_SW, 1);
    EXPECT_EQ(c.CHECK_DSR_SW, 3);
    // The port reads it when it is made.
    CPortCom port;
    EXPECT_EQ(port.Config().CONTROLDEVICE, 1);
    EXPECT_EQ(port.Config().CHECK_DSR_SW, 3);
    EXPECT_EQ(port.IsPowerState(), 0);
}

TEST_F(ComConfiguration, SomeValuesMissing)
{
    Install();
    SetupInf("[SPECIAL]\r\nCHECK_DSR_HW=0\r\nCHECK_CTS_SW=1\r\nPortLog=1\r\n");
    ComConfig c = ComReadConfig();
    EXPECT_EQ(c.CONTROLDEVICE, 0);
    EXPECT_EQ(c.CHECK_CTS_HW, 1);
    EXPECT_EQ(c.CHECK_DSR_HW, 0);
    EXPECT_EQ(c.CHECK_CTS_SW, 1);
    EXPECT_EQ(c.CHECK_DSR_SW, 0);
}

TEST_F(ComConfiguration, MalformedValuesAsTheProfileApiReadsThem)
{
    Install();
    // Leading digits count, text without digits is 0, an empty value keeps the default.
    SetupInf("[SPECIAL]\r\nCONTROLDEVICE=yes\r\nCHECK_CTS_HW=\r\nCHECK_DSR_HW=x1\r\nCHECK_CTS_SW=2 ; two\r\n"
             "CHECK_DSR_SW = 1\r\n");
    ComConfig c = ComReadConfig();
    EXPECT_EQ(c.CONTROLDEVICE, 0);
    EXPECT_EQ(c.CHECK_CTS_HW, 1);
    EXPECT_EQ(c.CHECK_DSR_HW, 0);
    EXPECT_EQ(c.CHECK_CTS_SW, 2);
    EXPECT_EQ(c.CHECK_DSR_SW, 1);
}

}  // namespace

// com.dll without a device: ids, calls before an open, a port that is not there, log gates.
#include "ComTest.h"

namespace {

class ComNoDevice : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(com.Load()) << "com.dll beside the test: " << GetLastError();
        reg.WriteServiceInfo(install.Path());
    }

    // A name no COM link of a parallel test can have.
    static std::string MissingPortName() { return "VESKNOPORT" + std::to_string(GetCurrentProcessId()); }

    CTestRegistry reg;
    CTempFolder install;
    CTempFolder logs;
    ComDll com;
};

TEST_F(ComNoDevice, CallsBeforeOpenFailWithTheirLines)
{
    int id = com.CreateLogged(0, 1, logs.Path());
    ASSERT_GE(id, 10000);
    BYTE buf[8] = {1, 2, 3};
    int asb = 0x55;
    EXPECT_EQ(com.Write(buf, 3, id, DEVTYPE_LABEL), 0);
    EXPECT_EQ(com.Read(buf, 8, 0, id, DEVTYPE_LABEL), 0);
    EXPECT_EQ(com.ReadAvailable(id, DEVTYPE_LABEL), 0);
    com.Clear(id, DEVTYPE_LABEL);
    EXPECT_EQ(com.IsPowerState(id, DEVTYPE_LABEL), 0);
    EXPECT_EQ(com.GetASBState(&asb, id, DEVTYPE_LABEL), 0);
    EXPECT_EQ(asb, 0x55);
    EXPECT_EQ(com.SetWrite(1, id, DEVTYPE_LABEL), 0);
    // A close of a port never opened is harmless.
    com.ClosePort(id, DEVTYPE_LABEL);
    EXPECT_EQ(com.Write(buf, 3, id, DEVTYPE_LABEL), 0);
    EXPECT_EQ(com.DeletePort(id), 1);

    std::vector<std::string> lines = LogLines(logs);
    EXPECT_EQ(CountLines(lines, "<LABEL> !ERROR: -Port Write : fail to invalid parameters"), 2);
    EXPECT_EQ(CountLines(lines, "<LABEL> !ERROR: -Port Read : fail to invalid parameters"), 1);
    EXPECT_EQ(CountLines(lines, "<LABEL> !ERROR: -Port SetWrite : m_bOpen is FALSE"), 1);
    EXPECT_EQ(CountLines(lines, "<LABEL> -ClosePort : Success"), 1);
    EXPECT_EQ(CountLines(lines, "~CPortCom"), 1);
    // Trace lines need the trace bit.
    EXPECT_EQ(CountLines(lines, "<LABEL> +Port Write(dwWritten : 3)"), 0);
    EXPECT_EQ(CountLines(lines, "<LABEL> +ClosePort : Port dll"), 0);
}

TEST_F(ComNoDevice, TraceBitAddsTheTraceLines)
{
    int id = com.CreateLogged(0, 3, logs.Path());
    BYTE buf[4] = {};
    int asb = 0;
    EXPECT_EQ(com.Write(buf, 4, id, DEVTYPE_CASHDRAWER), 0);
    EXPECT_EQ(com.SetWrite(7, id, DEVTYPE_LABEL), 0);
    EXPECT_EQ(com.GetASBState(&asb, id, DEVTYPE_LABEL), 0);
    com.ClosePort(id, DEVTYPE_LABEL);
    com.DeletePort(id);
    std::vector<std::string> lines = LogLines(logs);
    EXPECT_EQ(CountLines(lines, "<CASHDRAWER> +Port Write(dwWritten : 4)"), 1);
    EXPECT_EQ(CountLines(lines, "<CASHDRAWER> !ERROR: -Port Write : fail to invalid parameters"), 1);
    EXPECT_EQ(CountLines(lines, "<LABEL> +Port SetWrite(isWrite : 7)"), 1);
    EXPECT_EQ(CountLines(lines, "<LABEL> !ERROR: -GetASBState : ASBInput lengh is less than 4"), 1);
    EXPECT_EQ(CountLines(lines, "<LABEL> +ClosePort : Port dll"), 1);
    EXPECT_EQ(CountLines(lines, "<LABEL> ClosePort : m_TerminateEvent.SetEvent"), 1);
    EXPECT_EQ(CountLines(lines, "<LABEL> ClosePort : set to m_bTerminateThread flag"), 1);
    EXPECT_EQ(CountLines(lines, "<LABEL> ClosePort : call CancelIo"), 1);
    EXPECT_EQ(CountLines(lines, "<LABEL> -ClosePort : Success"), 1);
}

TEST_F(ComNoDevice, NoLogBitsNoLog)
{
    int id = com.CreateLogged(0, 0, logs.Path());
    BYTE b = 0;
    EXPECT_EQ(com.Write(&b, 1, id, DEVTYPE_LABEL), 0);
    com.DeletePort(id);
    EXPECT_TRUE(logs.List("Log").empty());
}

TEST_F(ComNoDevice, PortThatIsNotThereFailsAndCanBeTriedAgain)
{
    int id = com.CreateLogged(0, 1, logs.Path());
    EXPECT_EQ(com.SetDeviceOption(id, ComOption(MissingPortName()), DEVTYPE_LABEL), 1);
    EXPECT_EQ(com.OpenPort(id, DEVTYPE_LABEL), 0);
    EXPECT_EQ(com.IsPowerState(id, DEVTYPE_LABEL), 0);
    BYTE b = 0x41;
    EXPECT_EQ(com.Write(&b, 1, id, DEVTYPE_LABEL), 0);
    // Nothing was left half open: the next attempt goes to the device again.
    EXPECT_EQ(com.OpenPort(id, DEVTYPE_LABEL), 0);
    com.ClosePort(id, DEVTYPE_LABEL);
    com.DeletePort(id);

    std::vector<std::string> lines = LogLines(logs);
    EXPECT_EQ(CountLines(lines, "<LABEL> strPortName : " + MissingPortName()), 2);
    EXPECT_EQ(CountLines(lines, "!ERROR: -OpenPort : port is INVALID_HANDLE_VALUE"), 2);
    EXPECT_EQ(CountLines(lines, "!ERROR: GetLastError() : 2"), 2);
    EXPECT_EQ(CountLines(lines, "Call OpenPortBluetooth in OpenPort"), 2);
    EXPECT_EQ(CountLines(lines, "<LABEL> +OpenPort : Serial dll"), 2);
    EXPECT_EQ(CountLines(lines, "<LABEL> -OpenPort success"), 0);
    EXPECT_EQ(CountLines(lines, "***************** Port Read Thread Start ***********"), 0);
}

TEST_F(ComNoDevice, EmptyPortNameIsRefusedButTheNumbersAreKept)
{
    int id = com.CreatePort();
    DeviceOption d = ComOption("");
    EXPECT_EQ(com.SetDeviceOption(id, d, DEVTYPE_LABEL), 0);
    DeviceOption none = ComOption("x");
    CString::ReleaseHandle(none.strPortName);
    none.strPortName = nullptr;
    EXPECT_EQ(com.SetDeviceOption(id, none, DEVTYPE_LABEL), 0);
    // No name: the open has nothing to open.
    EXPECT_EQ(com.OpenPort(id, DEVTYPE_LABEL), 0);
    com.DeletePort(id);
}

}  // namespace

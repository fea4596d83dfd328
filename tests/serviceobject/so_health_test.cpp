// CheckHealth at every level and every DirectIO command, on the object itself in this process
// over the scripted port manager: what goes on the wire, the codes and CheckHealthText.
#include "LABELPrinter.h"
#include "LabelHealth.h"
#include "OposConst.h"
#include "SoDevice.h"

#include "DialogDriver.h"
#include "qlks.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

const char kKey[] = "Software\\OLEforRetail\\ServiceOPOS\\POSPrinter\\LP1";
const int kCoverOpenFrame = 0x0F000034;

std::string HealthText(CLABELPrinter* so)
{
    BSTR b = so->GetPropertyString(1000001);
    std::string s;
    for (const wchar_t* p = b; p && *p; ++p)
        s += char(*p);
    SysFreeString(b);
    return s;
}

// The external test label of a device named LP1 with a 24 dot gap, on the paper of its key,
// 800 x 600 dots.
std::string TestLabel(const std::string& media, const std::string& end)
{
    std::string s = media == "A" ? "" : "SL600,24," + media + "\r\n";
    return s + "SW800\r\nSOT\r\nSS5\r\nSA7\r\nTA-3\r\n"
               "BD100,100,400,620,B,4\r\nBD200,100,202,620,0\r\nBD300,260,302,620,0\r\nBD200,260,400,262,0\r\n"
               "V130,580,U,40,45,1,N,N,N,3,L,0,'VESK OPOS Driver'\r\n"
               "V230,570,U,40,40,1,N,N,I,3,L,0,'Label Printer'\r\n"
               "V330,540,U,40,40,1,B,N,N,3,L,0,'LP1'\r\n"
               "B2240,240,Q,1,H,4,3,'https://example.com/vesk-opos'\r\n" +
           end + "\r\nP1\r\n";
}

TEST(CheckHealth, InternalChecksTheStateAndWritesTheInitialisationByte)
{
    struct Row
    {
        const char* what;
        int answer;     // the status answer to the check's request (-1: none)
        int initWrite;  // the Write result of the initialisation byte
        long rc, rce;
        const char* text;
        const char* written;
    } rows[] = {
        {"all well", 0, 1, 0, 0, "CheckHealth: Successful", "^cu\r\n\x40"},
        {"cover open", 0x40, 1, 114, 201, "CheckHealth: Failed", "^cu\r\n"},
        {"paper empty", 0x80, 1, 114, 203, "CheckHealth: Failed", "^cu\r\n"},
        {"the byte is not taken", 0, 0, 111, 0, "CheckHealth: Failed", "^cu\r\n"},
        // The printer is asked, not judged by what it said before.
        {"a silent printer", -1, 1, 112, 0, "CheckHealth: Failed", "^cu\r\n"},
    };
    for (const Row& r : rows) {
        CSoWorld w;
        Device dev(w);
        ASSERT_EQ(0, dev.open) << r.what;
        w.port.Result("StatusAnswer", r.answer);
        w.port.Result("Write", 5);
        w.port.Result("Write", r.initWrite);
        dev.written0 = w.port.Written().size();
        EXPECT_EQ(r.rc, dev.so->CheckHealth(1)) << r.what;
        EXPECT_EQ(r.rce, dev.so->ResultCodeExtended) << r.what;
        EXPECT_EQ(r.text, HealthText(dev.so)) << r.what;
        EXPECT_EQ(r.written, dev.Written()) << r.what;
    }
}

TEST(CheckHealth, InternalCheckTimesOutOnAPortLockHeldElsewhere)
{
    CSoWorld w;
    Device dev(w);
    ASSERT_EQ(0, dev.open);
    HANDLE held = CreateEventA(nullptr, TRUE, FALSE, nullptr), done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread holder([&] {
        dev.so->m_pPort->Lock(INFINITE);
        SetEvent(held);
        WaitForSingleObject(done, 60000);
        dev.so->m_pPort->Unlock();
    });
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(held, 60000));
    EXPECT_EQ(112, dev.so->CheckHealth(1));
    EXPECT_EQ("CheckHealth: Failed", HealthText(dev.so));
    SetEvent(done);
    holder.join();
    CloseHandle(held);
    CloseHandle(done);
}

TEST(CheckHealth, OtherLevelsAndStatesLeaveTheTextAlone)
{
    CSoWorld w;
    Device dev(w);
    ASSERT_EQ(0, dev.open);
    std::string before = HealthText(dev.so);
    EXPECT_EQ(106, dev.so->CheckHealth(4));
    EXPECT_EQ(106, dev.so->CheckHealth(0));
    dev.so->SetPropertyNumber(3, 0);
    EXPECT_EQ(105, dev.so->CheckHealth(1));
    dev.so->ReleaseDevice();
    EXPECT_EQ(103, dev.so->CheckHealth(2));
    EXPECT_EQ(before, HealthText(dev.so));
}

TEST(CheckHealth, ExternalPrintsTheTestLabelSynchronously)
{
    struct Row
    {
        const char* media;
        const char* mode;  // OperationMode
        const char* end;
        int answer;        // status answer before the label
        long rc, rce;
        const char* text;
        const char* area;  // a print area the application set first
    } rows[] = {
        {"G", "C", "CUTy", 0, 0, 0, "CheckHealth: Successful", nullptr},
        {"G", "C", "CUTy", 0, 0, 0, "CheckHealth: Successful", "0,0,400,300"},  // still the configured page
        {"A", "R", "RWDy", 0, 0, 0, "CheckHealth: Successful", nullptr},
        {"B", "T", "CUTn", 0, 0, 0, "CheckHealth: Successful", nullptr},
        {"G", "C", "CUTy", 0x40, 114, 201, "CheckHealth: Cover Open (114/201)", nullptr},
        {"G", "C", "CUTy", 0x80, 114, 203, "CheckHealth: Paper Empty (114/203)", nullptr},
    };
    for (const Row& r : rows) {
        CSoWorld w;
        w.reg.SetString(kKey, "OperationMode", r.mode);
        w.reg.SetDWORD(kKey, "PrintSpeed", 5);
        w.reg.SetDWORD(kKey, "OffsetPosition", 7);
        w.reg.SetDWORD(kKey, "TearOffPosition", 103);  // -3
        Device dev(w, false, "4096", r.media);
        ASSERT_EQ(0, dev.open) << r.media;
        if (r.area)
            dev.so->SetPropertyString(1008012, r.area);
        dev.written0 = w.port.Written().size();
        w.port.Result("StatusAnswer", r.answer);
        EXPECT_EQ(r.rc, dev.so->CheckHealth(2)) << r.media << r.mode;
        EXPECT_EQ(r.rce, dev.so->ResultCodeExtended) << r.media << r.mode;
        EXPECT_EQ(r.text, HealthText(dev.so)) << r.media << r.mode;
        if (r.rc != 0) {
            EXPECT_EQ("^cu\r\n", dev.Written());
            continue;
        }
        std::string label = TestLabel(r.media, r.end);
        EXPECT_EQ("^cu\r\n" + label + "^cu\r\n", dev.Written());  // asked again after it
        qlks::Label parsed = qlks::parseLabel(qlks::Bytes(label.begin(), label.end()));
        EXPECT_TRUE(parsed.complete && parsed.testLabel) << qlks::describe(parsed);
        EXPECT_EQ(0u, parsed.flags) << qlks::describe(parsed);
    }
}

TEST(CheckHealth, InteractiveDialogShowsTheStatusLiveAndPrintsOnRequest)
{
    struct Row
    {
        const char* what;
        bool print;
        int answer;        // status answer to the test label's check (or the internal one's)
        int frame;         // status frame sent while the dialog is up (0: none)
        std::string result;  // item 1001 after Print
        long rc, rce;
        const char* text;
        bool disable = false;  // the device is disabled while the dialog is up
    } rows[] = {
        {"printed", true, 0, 0, "Success (0/0)", 0, 0, "CheckHealth: Successful"},
        {"printed on empty paper", true, 0x80, 0, "Paper Empty (114/203)", 114, 203,
         "CheckHealth: Paper Empty (114/203)"},
        // Closed without printing: the internal check asks the printer, which still says so.
        {"closed after the cover opened", false, 0x40, kCoverOpenFrame, "-- Print Result --", 114, 201,
         "CheckHealth: Failed"},
        {"printed after the device was disabled", true, 0, 0, "Disabled (105/0)", 105, 0, "Not Executed", true},
    };
    for (const Row& r : rows) {
        CSoWorld w;
        w.reg.SetString(kKey, "DeviceDesc", "VL420 on the bench");
        w.reg.SetString(kKey, "Description", "VESK OPOS Label Printer Service Object");
        Device dev(w);
        ASSERT_EQ(0, dev.open) << r.what;
        w.port.Result("StatusAnswer", r.answer);
        auto checked = [](int id) { return [id](HWND d) { return IsDlgButtonChecked(d, id) == BST_CHECKED; }; };
        // The application's window that asks: the dialog is modal to it.
        HWND app = CreateWindowExA(0, "STATIC", "application", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                                   nullptr, nullptr, nullptr, nullptr);
        ASSERT_TRUE(app != nullptr);
        SetActiveWindow(app);
        std::string title, info, power, result;
        bool nearEndVisible = true, modalToApp = false;
        CDialogDriver driver;
        driver.Do([&](HWND d) {
            modalToApp = GetWindow(d, GW_OWNER) == app && !IsWindowEnabled(app);
            char t[256] = {};
            GetWindowTextA(d, t, sizeof t);
            title = t;
            info = ControlText(d, 1007);
            power = ControlText(d, 1006);
            nearEndVisible = IsWindowVisible(GetDlgItem(d, 1004)) != FALSE;
            EXPECT_FALSE(checked(1002)(d)) << r.what;
        });
        if (r.frame) {
            driver.Do([&](HWND) { w.port.Frame(r.frame); });
            driver.WaitUntil(checked(1002), "the cover box follows the status");
        }
        if (r.disable)
            driver.Do([&](HWND) { dev.so->SetPropertyNumber(3, 0); });
        if (r.print)
            driver.Click(1000);
        driver.Do([&](HWND d) { result = ControlText(d, 1001); }).Click(IDOK);
        long rc = -1;
        driver.RunAround("Printer Check Health : - Interactive -", [&] { rc = dev.so->CheckHealth(3); });
        EXPECT_TRUE(driver.Failures().empty()) << r.what << ": " << driver.Report();
        EXPECT_TRUE(modalToApp) << r.what;
        EXPECT_TRUE(IsWindowEnabled(app)) << r.what;
        DestroyWindow(app);
        EXPECT_EQ("Printer Check Health : - Interactive -LP1", title);
        EXPECT_EQ("VESK OPOS Label Printer Service Object\n1.13.0\nVL420 on the bench\nLP1", info);
        EXPECT_EQ("Power State: Online", power);
        EXPECT_FALSE(nearEndVisible);
        EXPECT_EQ(r.result, result) << r.what;
        EXPECT_EQ(r.rc, rc) << r.what;
        EXPECT_EQ(r.rce, dev.so->ResultCodeExtended) << r.what;
        EXPECT_EQ(r.text, HealthText(dev.so)) << r.what;
        bool labelWritten = dev.Written().find("B2240,240,Q") != std::string::npos;
        EXPECT_EQ(r.print && r.rc == 0, labelWritten) << r.what;
    }
}

// ---- DirectIO

TEST(DirectIO, EveryCommandWithItsDataAndResult)
{
    enum Before { kAsIs, kNoWrites, kReleased };
    const int kNone = -2;  // no answer scripted (-1: the printer does not answer)
    struct Row
    {
        const char* what;
        long predefine, command, data;
        std::wstring text;
        Before before;
        int answer;
        long rc, dataAfter;
        std::string written, body;
        BOOL coverOpen;
    } rows[] = {
        {"international character set: its low byte", 1, 1, 0x1234, L"", kAsIs, kNone, 0, 0x1234, "", "", FALSE},
        {"raw output, NUL included", 1, 2, 0, std::wstring(L"SW8\0X\r\n", 7), kAsIs, kNone, 0, 0,
         std::string("SW8\0X\r\n", 7), "", FALSE},
        {"raw output the printer does not take", 1, 2, 0, L"SW8\r\n", kNoWrites, kNone, 111, 0, "", "", FALSE},
        {"raw output unclaimed", 1, 2, 0, L"SW8\r\n", kReleased, kNone, 103, 0, "", "", FALSE},
        {"status byte", 1, 3, 7, L"", kAsIs, 0x40, 0, 0x40, "^cu\r\n", "", FALSE},
        {"status byte without an answer", 1, 3, 7, L"", kAsIs, -1, 111, 7, "^cu\r\n", "", FALSE},
        {"status byte unclaimed", 1, 3, 7, L"", kReleased, kNone, 103, 7, "", "", FALSE},
        {"status interpreted", 1, 4, 7, L"", kAsIs, 0x40, 0, 7, "^cu\r\n", "", TRUE},
        {"command 20", 1, 20, 7, L"", kAsIs, kNone, 0, 7, "", "", FALSE},
        {"a box", 1, 100, 0, L"10,10,200,200", kAsIs, kNone, 0, 0, "", "BD10,10,200,200\r\n", FALSE},
        {"a circle", 1, 101, 0, L"100,100,50", kAsIs, kNone, 0, 0, "", "CD100,100,50\r\n", FALSE},
        {"a box text with a line break", 1, 100, 0, L"1,2\r\nP1", kAsIs, kNone, 106, 0, "", "", FALSE},
        {"an unknown command", 1, 5, 7, L"", kAsIs, kNone, 106, 7, "", "", FALSE},
        {"INF numbers: status byte", 0, 53, 7, L"", kAsIs, 0x20, 0, 0x20, "^cu\r\n", "", FALSE},
        {"INF numbers: a predefined number", 0, 3, 7, L"", kAsIs, kNone, 106, 7, "", "", FALSE},
        {"INF numbers: command 0", 0, 0, 7, L"", kAsIs, kNone, 106, 7, "", "", FALSE},
        {"INF numbers: command 20", 0, 20, 7, L"", kAsIs, kNone, 106, 7, "", "", FALSE},
        {"INF numbers: a box still", 0, 100, 0, L"1,1,9,9", kAsIs, kNone, 0, 0, "", "BD1,1,9,9\r\n", FALSE},
    };
    for (const Row& r : rows) {
        CSoWorld w;
        Device dev(w);
        ASSERT_EQ(0, dev.open) << r.what;
        CLabelConfig& c = dev.so->m_config;
        c.DirectIOPredefine = r.predefine;
        c.DirectIOInternationalChar = 51;
        c.DirectIOOutput = 52;
        c.DirectIOCheckStatus = 53;
        c.DirectIOCheckStatusSue = 54;
        if (r.before == kNoWrites)
            w.port.Default("Write", 0);
        if (r.before == kReleased)
            dev.so->ReleaseDevice();
        if (r.answer != kNone)
            w.port.Result("StatusAnswer", r.answer);
        dev.written0 = w.port.Written().size();
        size_t clears = dev.Calls("Clear(").size();
        long data = r.data;
        BSTR text = SysAllocStringLen(r.text.data(), UINT(r.text.size()));
        EXPECT_EQ(r.rc, dev.so->DirectIO(r.command, &data, &text)) << r.what;
        SysFreeString(text);
        EXPECT_EQ(r.dataAfter, data) << r.what;
        EXPECT_EQ(r.written, dev.Written()) << r.what;
        const COPOSData& body = dev.so->m_builder.Body();
        EXPECT_EQ(r.body, std::string(reinterpret_cast<const char*>(body.GetData()), body.GetLength())) << r.what;
        EXPECT_EQ(r.coverOpen, dev.so->CoverOpen) << r.what;
        // A status request first drops whatever the connection had received.
        EXPECT_EQ(clears + (r.written == "^cu\r\n"), dev.Calls("Clear(").size()) << r.what;
        if (r.command == 1) {
            EXPECT_EQ(r.data & 0xFF, dev.so->m_builder.InternationalCharSet()) << r.what;
        }
    }
}

TEST(DirectIO, StatusByteComesBackByReferenceThroughTheControlObject)
{
    CSoWorld w;
    ITestControlObject* co = w.NewControlObject();
    ASSERT_EQ(0, co->Open("LP1"));
    ASSERT_EQ(0, CallI4(co, "ClaimDevice", 1000));
    w.port.Result("StatusAnswer", 0x84);
    long data = 0;
    BSTR text = SysAllocString(L"");
    VARIANT args[3] = {I4(3), {}, {}};
    args[1].vt = VT_BYREF | VT_I4;
    args[1].plVal = &data;
    args[2].vt = VT_BYREF | VT_BSTR;
    args[2].pbstrVal = &text;
    EXPECT_EQ(0, co->Call("DirectIO", 3, args, nullptr));
    EXPECT_EQ(0x84, data);
    SysFreeString(text);
    EXPECT_EQ(0, co->Close());
}

}  // namespace

// The wrappers hosting the test Control Object through the system's atl.dll, by the published
// class ids that the test prefix registers: what each control receives (dispatch id, kind,
// argument and result types), text crossing as BSTR, failing calls, and the POSPrinter control
// driving the real Service Object.
#include "DialogDriver.h"
#include "OposControls.h"
#include "Skin.h"
#include "TestCoControls.h"
#include "TestDialogs.h"
#include "TestEnv.h"

#include "simclient.h"

#include <gtest/gtest.h>

#include <olectl.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {
const char kProgId[] = "VESK.LabelPrinter.ServiceObject.1.13";
const char kClassKey[] = "Software\\OLEforRetail\\ServiceOPOS\\POSPrinter";
const WORD M = DISPATCH_METHOD, G = DISPATCH_PROPERTYGET, P = DISPATCH_PROPERTYPUT;

// The library's script and record, from the same module that COM loaded for the controls.
struct TestCo
{
    HMODULE module = LoadLibraryA(WinPath(TESTCO_DLL).c_str());
    TestCoScriptFn script = Proc<TestCoScriptFn>(module, "TestCoScript");
    TestCoResetFn reset = Proc<TestCoResetFn>(module, "TestCoReset");
    TestCoCallCountFn count = Proc<TestCoCallCountFn>(module, "TestCoCallCount");
    TestCoGetCallFn get = Proc<TestCoGetCallFn>(module, "TestCoGetCall");
    TestCoClassOfFn classOf = Proc<TestCoClassOfFn>(module, "TestCoClassOf");

    bool Ready() const { return script && reset && count && get && classOf; }
    void Answer(int cls, DISPID id, WORD kind, HRESULT hr, VARTYPE vt, long number, const wchar_t* text = nullptr,
                const wchar_t* exception = nullptr)
    {
        TestCoAnswer a = {hr, vt, number, text, exception};
        script(cls, id, kind, &a);
    }
    std::vector<TestCoCall> Calls(const char* member = nullptr) const
    {
        std::vector<TestCoCall> out;
        TestCoCall c;
        for (int i = 0; get(i, &c); ++i)
            if (!member || std::string(c.member) == member)
                out.push_back(c);
        return out;
    }
};

TestCo& Co()
{
    static TestCo co;
    return co;
}

// A dialog of the tests' own template that runs one step with the dialog up, then ends.
class CHostDlg : public CSkinDialog
{
public:
    CHostDlg() : CSkinDialog(IDD_FRAMEWORK_TEST, nullptr, 134, false) {}
};

void WithDialog(const std::function<void(CWnd* dlg)>& step)
{
    CHostDlg dlg;
    CDialogDriver drv;
    drv.Do([&](HWND h) { step(CWnd::FromHandle(h)); }).Click(IDOK);
    EXPECT_EQ(drv.Run(dlg), IDOK) << drv.Report();
}

BOOL Host(CWnd& wrapper, CWnd* parent, UINT id = 1039)
{
    RECT r = {10, 120, 40, 150};
    return wrapper.Create(nullptr, "", WS_CHILD | WS_VISIBLE, r, parent, id);
}

class HostedControl : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Co().Ready()) << "the test Control Object's exports are missing";
        Co().reset();
    }
    void TearDown() override { Co().reset(); }
};
}

TEST_F(HostedControl, EachWrapperHostsItsOwnClass)
{
    struct Row
    {
        const char* name;
        std::function<CWnd*()> make;
        CLSID clsid;
        int cls;
    } rows[] = {
        {"POSPrinter", [] { return new COPOSPOSPrinter; }, COPOSPOSPrinter::clsid, kTestCoPOSPrinter},
        {"CashDrawer", [] { return new COPOSCashDrawer; }, COPOSCashDrawer::clsid, kTestCoCashDrawer},
        {"LineDisplay", [] { return new COPOSLineDisplay; }, COPOSLineDisplay::clsid, kTestCoLineDisplay},
        {"MSR", [] { return new COPOSMSR; }, COPOSMSR::clsid, kTestCoMSR},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Co().reset();
        EXPECT_EQ(Co().classOf(r.clsid), r.cls);
        std::unique_ptr<CWnd> wrapper(r.make());
        BOOL created = FALSE;
        HWND hosted = nullptr;
        WithDialog([&](CWnd* dlg) {
            created = Host(*wrapper, dlg);
            hosted = GetDlgItem(dlg->m_hWnd, 1039);
        });
        EXPECT_TRUE(created) << wrapper->GetControlError().GetString();
        EXPECT_NE(hosted, nullptr);
        // The host made one control of this class, initialised it and gave it a client site.
        std::vector<TestCoCall> calls = Co().Calls();
        ASSERT_FALSE(calls.empty());
        bool initNew = false, site = false;
        for (const TestCoCall& c : calls) {
            EXPECT_EQ(c.cls, r.cls) << c.member;
            EXPECT_EQ(c.object, calls[0].object) << c.member;
            initNew = initNew || std::string(c.member) == "InitNew";
            site = site || (std::string(c.member) == "SetClientSite" && c.hasSite);
        }
        EXPECT_TRUE(initNew);
        EXPECT_TRUE(site);
        // The dialog's end closes the control and takes its site away.
        EXPECT_STREQ(calls.back().member, "SetClientSite");
        EXPECT_FALSE(calls.back().hasSite);
    }
}

TEST_F(HostedControl, EveryCallArrivesWithItsDispatchIdKindAndTypes)
{
    struct Row
    {
        const char* call;
        int cls;
        std::function<long(COPOSPOSPrinter&, COPOSCashDrawer&)> run;
        DISPID id;
        WORD kind;
        std::vector<VARTYPE> types;
        long number;      // the argument as it arrived
        VARTYPE result;   // what the control gives back
        long expected;    // what the wrapper returns (-1: nothing)
    } rows[] = {
        {"Open", kTestCoPOSPrinter, [](COPOSPOSPrinter& p, COPOSCashDrawer&) { return p.Open("LP1"); }, 37, M, {VT_BSTR}, 0, VT_I4, 7037},
        {"Close", kTestCoPOSPrinter, [](COPOSPOSPrinter& p, COPOSCashDrawer&) { return p.Close(); }, 35, M, {}, 0, VT_I4, 7035},
        {"ClaimDevice", kTestCoPOSPrinter, [](COPOSPOSPrinter& p, COPOSCashDrawer&) { return p.ClaimDevice(500); }, 32, M, {VT_I4}, 500, VT_I4, 7032},
        {"ReleaseDevice", kTestCoPOSPrinter, [](COPOSPOSPrinter& p, COPOSCashDrawer&) { return p.ReleaseDevice(); }, 38, M, {}, 0, VT_I4, 7038},
        {"CheckHealth", kTestCoPOSPrinter, [](COPOSPOSPrinter& p, COPOSCashDrawer&) { return p.CheckHealth(3); }, 31, M, {VT_I4}, 3, VT_I4, 7031},
        {"SetDeviceEnabled", kTestCoPOSPrinter, [](COPOSPOSPrinter& p, COPOSCashDrawer&) { p.SetDeviceEnabled(TRUE); return -1L; }, 17, P, {VT_BOOL}, VARIANT_TRUE, VT_EMPTY, -1},
        {"GetDeviceEnabled", kTestCoPOSPrinter, [](COPOSPOSPrinter& p, COPOSCashDrawer&) { return long(p.GetDeviceEnabled()); }, 17, G, {}, 0, VT_BOOL, TRUE},
        {"SetDispatchProperty20", kTestCoPOSPrinter, [](COPOSPOSPrinter& p, COPOSCashDrawer&) { p.SetDispatchProperty20(1); return -1L; }, 20, P, {VT_I4}, 1, VT_EMPTY, -1},
        {"GetErrorText", kTestCoPOSPrinter, [](COPOSPOSPrinter& p, COPOSCashDrawer&) { return long(p.GetErrorText() == "all well"); }, 105, G, {}, 0, VT_BSTR, 1},
        {"SetDispatchProperty106", kTestCoPOSPrinter, [](COPOSPOSPrinter& p, COPOSCashDrawer&) { p.SetDispatchProperty106(TRUE); return -1L; }, 106, P, {VT_BOOL}, VARIANT_TRUE, VT_EMPTY, -1},
        {"drawer Open", kTestCoCashDrawer, [](COPOSPOSPrinter&, COPOSCashDrawer& d) { return d.Open("KPTCDW"); }, 37, M, {VT_BSTR}, 0, VT_I4, 7037},
        {"drawer Close", kTestCoCashDrawer, [](COPOSPOSPrinter&, COPOSCashDrawer& d) { return d.Close(); }, 35, M, {}, 0, VT_I4, 7035},
        {"drawer ClaimDevice", kTestCoCashDrawer, [](COPOSPOSPrinter&, COPOSCashDrawer& d) { return d.ClaimDevice(100); }, 32, M, {VT_I4}, 100, VT_I4, 7032},
        {"drawer ReleaseDevice", kTestCoCashDrawer, [](COPOSPOSPrinter&, COPOSCashDrawer& d) { return d.ReleaseDevice(); }, 38, M, {}, 0, VT_I4, 7038},
        {"drawer CheckHealth", kTestCoCashDrawer, [](COPOSPOSPrinter&, COPOSCashDrawer& d) { return d.CheckHealth(3); }, 31, M, {VT_I4}, 3, VT_I4, 7031},
        {"drawer SetDeviceEnabled", kTestCoCashDrawer, [](COPOSPOSPrinter&, COPOSCashDrawer& d) { d.SetDeviceEnabled(FALSE); return -1L; }, 17, P, {VT_BOOL}, VARIANT_FALSE, VT_EMPTY, -1},
    };
    // Both classes answer from the script: results of the table's types.
    for (int cls : {int(kTestCoPOSPrinter), int(kTestCoCashDrawer)}) {
        for (DISPID id : {31, 32, 35, 37, 38})
            Co().Answer(cls, id, M, S_OK, VT_I4, 7000 + id);
        Co().Answer(cls, 17, P, S_OK, VT_EMPTY, 0);
    }
    Co().Answer(kTestCoPOSPrinter, 17, G, S_OK, VT_BOOL, 1);
    Co().Answer(kTestCoPOSPrinter, 20, P, S_OK, VT_EMPTY, 0);
    Co().Answer(kTestCoPOSPrinter, 106, P, S_OK, VT_EMPTY, 0);
    Co().Answer(kTestCoPOSPrinter, 105, G, S_OK, VT_BSTR, 0, L"all well");

    COPOSPOSPrinter printer;
    COPOSCashDrawer drawer;
    std::vector<long> got;
    std::vector<std::vector<TestCoCall>> seen;
    WithDialog([&](CWnd* dlg) {
        ASSERT_TRUE(Host(printer, dlg, 1039)) << printer.GetControlError().GetString();
        ASSERT_TRUE(Host(drawer, dlg, 1038)) << drawer.GetControlError().GetString();
        for (const Row& r : rows) {
            int before = Co().count();
            got.push_back(r.run(printer, drawer));
            std::vector<TestCoCall> mine;  // what this call alone caused
            TestCoCall c;
            for (int i = before; Co().get(i, &c); ++i)
                mine.push_back(c);
            seen.push_back(mine);
        }
    });
    ASSERT_EQ(got.size(), sizeof rows / sizeof rows[0]);
    for (size_t i = 0; i < got.size(); ++i) {
        const Row& r = rows[i];
        SCOPED_TRACE(r.call);
        ASSERT_EQ(seen[i].size(), 1u) << "one call, nothing else";
        const TestCoCall& c = seen[i][0];
        EXPECT_STREQ(c.member, "Invoke");
        EXPECT_EQ(c.cls, r.cls);
        EXPECT_EQ(c.id, r.id);
        EXPECT_EQ(c.kind, r.kind);
        ASSERT_EQ(c.argc, r.types.size());
        for (size_t a = 0; a < r.types.size(); ++a)
            EXPECT_EQ(c.types[a], r.types[a]);
        if (!r.types.empty() && r.types[0] != VT_BSTR) {
            EXPECT_EQ(c.number, r.number);
        }
        EXPECT_EQ(c.named, r.kind == P ? 1u : 0u);
        if (r.kind == P) {
            EXPECT_EQ(c.namedId, DISPID(DISPID_PROPERTYPUT));
        }
        EXPECT_EQ(c.hr, S_OK);
        EXPECT_EQ(c.resultType, r.result);
        if (r.expected != -1) {
            EXPECT_EQ(got[i], r.expected);
        }
    }
}

TEST_F(HostedControl, RefusesPutsWithoutTheNamedArgumentAndWrongTypes)
{
    struct Row
    {
        const char* name;
        DISPID id;
        WORD kind;
        VARIANT arg;
        bool named;
        HRESULT expected;
    };
    auto I4 = [](long v) { VARIANT x; VariantInit(&x); x.vt = VT_I4; x.lVal = v; return x; };
    auto Bool = [](bool v) { VARIANT x; VariantInit(&x); x.vt = VT_BOOL; x.boolVal = v ? VARIANT_TRUE : VARIANT_FALSE; return x; };
    Row rows[] = {
        {"put without its named argument", 17, P, Bool(true), false, DISP_E_PARAMNOTFOUND},
        {"property 20 put without it", 20, P, I4(1), false, DISP_E_PARAMNOTFOUND},
        {"DeviceEnabled put as a long", 17, P, I4(1), true, DISP_E_TYPEMISMATCH},
        {"property 106 put as a long", 106, P, I4(1), true, DISP_E_TYPEMISMATCH},
        {"ClaimDevice with a boolean", 32, M, Bool(true), false, DISP_E_TYPEMISMATCH},
        {"Open with a number", 37, M, I4(5), false, DISP_E_TYPEMISMATCH},
        {"ErrorText called as a method", 105, M, I4(0), false, DISP_E_MEMBERNOTFOUND},
        {"an id it does not have", 99, M, I4(0), false, DISP_E_MEMBERNOTFOUND},
        {"the control's own put, well formed", 20, P, I4(1), true, S_OK},
    };
    COPOSPOSPrinter printer;
    std::vector<HRESULT> results;
    WithDialog([&](CWnd* dlg) {
        ASSERT_TRUE(Host(printer, dlg)) << printer.GetControlError().GetString();
        IDispatch* d = printer.GetControlDispatch();
        for (Row& r : rows) {
            DISPID named = DISPID_PROPERTYPUT;
            DISPPARAMS dp = {&r.arg, r.named ? &named : nullptr, 1, r.named ? 1u : 0u};
            VARIANT res;
            VariantInit(&res);
            UINT argErr = 99;
            results.push_back(d->Invoke(r.id, IID_NULL, LOCALE_USER_DEFAULT, r.kind, &dp, r.kind == P ? nullptr : &res,
                                        nullptr, &argErr));
            VariantClear(&res);
        }
    });
    ASSERT_EQ(results.size(), sizeof rows / sizeof rows[0]);
    std::vector<TestCoCall> calls = Co().Calls("Invoke");
    ASSERT_EQ(calls.size(), results.size());
    for (size_t i = 0; i < results.size(); ++i) {
        SCOPED_TRACE(rows[i].name);
        EXPECT_EQ(results[i], rows[i].expected);
        EXPECT_EQ(calls[i].hr, rows[i].expected) << "the refusal is in the record too";
    }
}

TEST_F(HostedControl, NonAsciiTextCrossesAsBstrIntact)
{
    ASSERT_EQ(GetACP(), 1252u) << "the texts below are written in code page 1252";
    Co().Answer(kTestCoPOSPrinter, 37, M, S_OK, VT_I4, 0);
    Co().Answer(kTestCoPOSPrinter, 105, G, S_OK, VT_BSTR, 0, L"Fehler: Ger\x00e4t \x201eLP\x00b2\x201c belegt");
    COPOSPOSPrinter printer;
    long opened = -1;
    std::string text;
    WithDialog([&](CWnd* dlg) {
        ASSERT_TRUE(Host(printer, dlg)) << printer.GetControlError().GetString();
        opened = printer.Open("Dr\xfc" "cker \xa7" "1");
        text = printer.GetErrorText().GetString();
    });
    EXPECT_EQ(opened, 0);
    std::vector<TestCoCall> calls = Co().Calls("Invoke");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_TRUE(std::wstring(calls[0].text) == L"Dr\x00fc" L"cker \x00a7" L"1");
    EXPECT_EQ(text, "Fehler: Ger\xe4t \x84LP\xb2\x93 belegt");
}

TEST_F(HostedControl, AFailingInvokeGivesNoServiceAndAReadableText)
{
    struct Row
    {
        const char* name;
        int cls;
        HRESULT hr;
        const wchar_t* exception;
        const char* reasonHas;
    } rows[] = {
        {"a failing HRESULT", kTestCoPOSPrinter, E_FAIL, nullptr, "0x80004005"},
        {"an exception with its text", kTestCoPOSPrinter, S_OK, L"Der Drucker ist weg", "Der Drucker ist weg"},
        {"a drawer call nothing answers", kTestCoCashDrawer, S_OK, nullptr, "0x80004001"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Co().reset();
        if (r.exception || FAILED(r.hr))
            Co().Answer(r.cls, 37, M, r.hr, VT_I4, 0, nullptr, r.exception);
        COPOSPOSPrinter printer;
        COPOSCashDrawer drawer;
        long result = 0;
        std::string why;
        WithDialog([&](CWnd* dlg) {
            COPOSDeviceControl& w = r.cls == kTestCoPOSPrinter ? static_cast<COPOSDeviceControl&>(printer) : drawer;
            ASSERT_TRUE(Host(w, dlg)) << w.GetControlError().GetString();
            result = w.Open("LP1");
            why = r.cls == kTestCoPOSPrinter ? printer.GetErrorText().GetString() : drawer.GetErrorText().GetString();
        });
        EXPECT_EQ(result, kOposNoService);
        EXPECT_NE(why.find("The call 37 of the control failed"), std::string::npos) << why;
        EXPECT_NE(why.find(r.reasonHas), std::string::npos) << why;
    }
}

// ---- The POSPrinter control in front of the real Service Object

class ForwardedControl : public HostedControl
{
protected:
    // A complete network label printer on a simulator TCP endpoint, reached through the build's
    // Quillan and net, with the install folder as the installer leaves it.
    void SetUp() override
    {
        HostedControl::SetUp();
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        ASSERT_TRUE(sim.connected()) << sim.error();
        int port = 0;
        ep = sim.tcp(&port);
        ASSERT_GE(ep, 0) << sim.error();
        reg.SetString((std::string(kClassKey) + "\\LP1").c_str(), nullptr, kProgId);
        reg.SetString(kClassKey, "Shelf", "LP1");  // a logical name
        // The Service Object reads its configuration under the name it is given; the ProgID of
        // a logical name is found only through the alias.
        for (const char* name : {"LP1", "Shelf"}) {
            std::string key = std::string(kClassKey) + "\\" + name;
            reg.SetString(key.c_str(), "Port", "Ethernet");
            reg.SetString(key.c_str(), "TcpIp", "127.0.0.1");
            reg.SetDWORD(key.c_str(), "TcpPort", DWORD(port));
            reg.SetString(key.c_str(), "DeviceName", "VL420");
            reg.SetString(key.c_str(), "inf", folder.File("VL420.inf").c_str());
        }
        const char* source = getenv("VESK_SOURCE");
        ASSERT_NE(source, nullptr);
        std::string infDir = WinPath(std::string(source) + "/inf");
        WIN32_FIND_DATAA fd;
        HANDLE find = FindFirstFileA((infDir + "\\*.inf").c_str(), &fd);
        ASSERT_NE(find, INVALID_HANDLE_VALUE) << infDir;
        do
            CopyFileA((infDir + "\\" + fd.cFileName).c_str(), folder.File(fd.cFileName).c_str(), FALSE);
        while (FindNextFileA(find, &fd));
        FindClose(find);
        const char* info = "Software\\OLEforRetail\\ServiceInfo\\VESK OPOS";
        reg.WriteServiceInfo(folder.Path());
        reg.SetString(info, "qlnadir", WinPath(QUILLAN_DLL).c_str());
        reg.SetString(info, "netdir", WinPath(NET_DLL).c_str());
    }
    void TearDown() override
    {
        HostedControl::TearDown();
        CoUninitialize();
    }
    CTestRegistry reg;
    CTempFolder folder;
    vesksim::SimClient sim;
    int ep = -1;
};

TEST_F(ForwardedControl, OpenByLogicalNameAndCloseReachTheServiceObject)
{
    struct Row
    {
        const char* name;
        const char* device;
        long open;
        const char* text;  // the control's text after Open
    } rows[] = {
        {"a device key name", "LP1", 0, "Open returned 0 (OPOS_SUCCESS)"},
        {"a logical name", "Shelf", 0, "Open returned 0 (OPOS_SUCCESS)"},
        {"no such device", "Nowhere", 109, "Open returned 109 (OPOS_E_NOEXIST)"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        COPOSPOSPrinter printer;
        long open = -1, close = -1, closedAgain = -1, claimClosed = -1;
        std::string text, closeText;
        WithDialog([&](CWnd* dlg) {
            ASSERT_TRUE(Host(printer, dlg)) << printer.GetControlError().GetString();
            open = printer.Open(r.device);
            text = printer.GetErrorText().GetString();
            close = printer.Close();
            closeText = printer.GetErrorText().GetString();
            closedAgain = printer.Close();
            claimClosed = printer.ClaimDevice(100);
        });
        EXPECT_EQ(open, r.open);
        EXPECT_EQ(text, r.text);
        if (r.open == 0) {
            EXPECT_EQ(close, 0) << "the Service Object's Close";
            EXPECT_EQ(closeText, "Close returned 0 (OPOS_SUCCESS)");
        } else {
            EXPECT_EQ(close, 101);
        }
        EXPECT_EQ(closedAgain, 101) << "closed: nothing to forward to";
        EXPECT_EQ(claimClosed, 101);
    }
}

TEST_F(ForwardedControl, CallsOfAnOpenDeviceAreTheServiceObjectsAnswers)
{
    // Whatever the Service Object answers for a device it has not connected, the control hands
    // it on as it came and names it in its text; none is the control's own "closed".
    struct Row
    {
        const char* call;
        std::function<long(COPOSPOSPrinter&)> run;
    } rows[] = {
        {"ClaimDevice", [](COPOSPOSPrinter& p) { return p.ClaimDevice(100); }},
        {"CheckHealth", [](COPOSPOSPrinter& p) { return p.CheckHealth(3); }},
        {"DeviceEnabled", [](COPOSPOSPrinter& p) { p.SetDeviceEnabled(TRUE); return -1L; }},
        {"ReleaseDevice", [](COPOSPOSPrinter& p) { return p.ReleaseDevice(); }},
    };
    COPOSPOSPrinter printer;
    long open = -1;
    std::vector<long> results;
    std::vector<std::string> texts;
    WithDialog([&](CWnd* dlg) {
        ASSERT_TRUE(Host(printer, dlg)) << printer.GetControlError().GetString();
        open = printer.Open("LP1");
        for (const Row& r : rows) {
            results.push_back(r.run(printer));
            texts.push_back(printer.GetErrorText().GetString());
        }
        printer.Close();
    });
    ASSERT_EQ(open, 0);
    ASSERT_EQ(results.size(), sizeof rows / sizeof rows[0]);
    for (size_t i = 0; i < results.size(); ++i) {
        SCOPED_TRACE(rows[i].call);
        std::string prefix = std::string(rows[i].call) + " returned ";
        ASSERT_EQ(texts[i].compare(0, prefix.size(), prefix), 0) << texts[i];
        long named = std::atol(texts[i].c_str() + prefix.size());
        if (results[i] != -1) {
            EXPECT_EQ(results[i], named);
        }
        EXPECT_NE(named, 101) << texts[i];
        EXPECT_TRUE(named == 0 || (named > 101 && named <= 114)) << texts[i];
    }
}

TEST_F(ForwardedControl, TheWholeSequenceRunsOnASimulatorDevice)
{
    COPOSPOSPrinter printer;
    long open = -1, claim = -1, release = -1, close = -1;
    BOOL enabled = FALSE, enabledAfter = TRUE;
    std::string claimText;
    WithDialog([&](CWnd* dlg) {
        ASSERT_TRUE(Host(printer, dlg)) << printer.GetControlError().GetString();
        open = printer.Open("LP1");
        claim = open == 0 ? printer.ClaimDevice(100) : -1;
        claimText = printer.GetErrorText().GetString();
        if (claim == 0) {
            printer.SetDeviceEnabled(TRUE);
            enabled = printer.GetDeviceEnabled();
            printer.SetDeviceEnabled(FALSE);
            enabledAfter = printer.GetDeviceEnabled();
            release = printer.ReleaseDevice();
        }
        close = printer.Close();
    });
    ASSERT_EQ(open, 0) << printer.GetErrorText().GetString();
    EXPECT_EQ(close, 0);
    ASSERT_EQ(claim, 0) << claimText;
    EXPECT_TRUE(enabled);
    EXPECT_FALSE(enabledAfter);
    EXPECT_EQ(release, 0);
    vesksim::Counts counts;
    ASSERT_TRUE(sim.counts(ep, counts));
    EXPECT_GE(counts.connections, 1) << "the Service Object reached the simulator's endpoint";
}

namespace {

// An application's event sink: each event's dispatch id and its numbers in order.
class RecordingSink final : public IDispatch
{
public:
    struct Event
    {
        DISPID id;
        std::vector<long> args;
    };
    std::vector<Event> events;
    long errorAnswer = 0;  // written to ErrorEvent's by-reference response when not 0

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override
    {
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IDispatch)) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override
    {
        *n = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) override
    {
        Event e{id, {}};
        for (UINT i = 0; i < p->cArgs; ++i) {
            const VARIANT& v = p->rgvarg[p->cArgs - 1 - i];
            e.args.push_back(v.vt == VT_I4 ? v.lVal : v.vt == (VT_BYREF | VT_I4) ? *v.plVal : -999);
        }
        events.push_back(e);
        if (id == kEventError && errorAnswer && p->cArgs == 4 && p->rgvarg[0].vt == (VT_BYREF | VT_I4))
            *p->rgvarg[0].plVal = errorAnswer;
        return S_OK;
    }
    ULONG refs = 1;
};

std::string Narrow(const wchar_t* w)
{
    char buf[128] = "";
    WideCharToMultiByte(CP_ACP, 0, w, -1, buf, sizeof buf, nullptr, nullptr);
    return buf;
}

// Calls the control by member name, as an application does.
HRESULT ByName(IDispatch* d, const wchar_t* name, WORD kind, std::vector<VARIANT> args, VARIANT* result)
{
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = d->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr))
        return hr;
    std::vector<VARIANT> rg(args.rbegin(), args.rend());
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS dp = {rg.empty() ? nullptr : rg.data(), kind == P ? &put : nullptr, UINT(rg.size()), kind == P ? 1u : 0u};
    if (result)
        VariantInit(result);
    hr = d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &dp, result, nullptr, nullptr);
    for (VARIANT& v : args)
        VariantClear(&v);
    return hr;
}
VARIANT I4(long n)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = n;
    return v;
}
VARIANT Bool(bool b)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}
VARIANT Str(const wchar_t* s)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(s);
    return v;
}
// A number or BOOL property's value (-999 when the call fails).
long Number(IDispatch* d, const wchar_t* name)
{
    VARIANT r;
    if (FAILED(ByName(d, name, G, {}, &r)))
        return -999;
    long n = r.vt == VT_I4 ? r.lVal : r.vt == VT_BOOL ? (r.boolVal ? 1 : 0) : -998;
    VariantClear(&r);
    return n;
}

} // namespace

// Pumps this thread's messages until done() holds, at most boundMs.
bool PumpUntil(const std::function<bool()>& done, DWORD boundMs)
{
    DWORD start = GetTickCount();
    while (!done() && GetTickCount() - start < boundMs) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    return done();
}

// The POSPrinter control made as an application makes it, by class id, with a recording sink
// advised on its events connection point.
class ApplicationControl : public ForwardedControl
{
protected:
    void SetUp() override
    {
        ForwardedControl::SetUp();
        const CLSID printerClass = {0xCCB90152, 0xB81E, 0x11D2, {0xAB, 0x74, 0x00, 0x40, 0x05, 0x4C, 0x37, 0x19}};
        ASSERT_EQ(CoCreateInstance(printerClass, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                   reinterpret_cast<void**>(&d)),
                  S_OK);
        IConnectionPointContainer* cpc = nullptr;
        ASSERT_EQ(d->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&cpc)), S_OK);
        otherPoint = cpc->FindConnectionPoint(IID_IPropertyNotifySink, &cp);
        HRESULT hr = cpc->FindConnectionPoint(DIID_TestCoPOSPrinterEvents, &cp);
        cpc->Release();
        ASSERT_EQ(hr, S_OK);
        ASSERT_EQ(cp->Advise(&sink, &cookie), S_OK);
    }
    void TearDown() override
    {
        if (cp) {
            cp->Unadvise(cookie);
            cp->Release();
        }
        if (d)
            d->Release();
        ForwardedControl::TearDown();
    }
    // Open, ClaimDevice and DeviceEnabled of the simulator's device; false when one fails.
    bool OpenClaimEnable()
    {
        VARIANT r;
        return ByName(d, L"Open", M, {Str(L"LP1")}, &r) == S_OK && r.lVal == 0 &&
               ByName(d, L"ClaimDevice", M, {I4(1000)}, &r) == S_OK && r.lVal == 0 &&
               ByName(d, L"DeviceEnabled", P, {Bool(true)}, nullptr) == S_OK && Number(d, L"ResultCode") == 0;
    }
    IDispatch* d = nullptr;
    IConnectionPoint* cp = nullptr;
    RecordingSink sink;
    DWORD cookie = 0;
    HRESULT otherPoint = S_OK;
};

TEST_F(ApplicationControl, CallsByNameReachTheServiceObjectAndItsEventsComeThroughTheConnectionPoint)
{
    EXPECT_EQ(otherPoint, CONNECT_E_NOCONNECTION) << "the events interface is the only connection point";
    EXPECT_EQ(Number(d, L"ResultCode"), 101) << "closed";
    ASSERT_TRUE(OpenClaimEnable());
    VARIANT r;

    // Properties by name are the Service Object's, read and written by their indices.
    struct Row
    {
        const wchar_t* name;
        long want;
    } rows[] = {{L"ResultCode", 0}, {L"Claimed", 1}, {L"State", 2}, {L"AsyncMode", 0}};
    for (const Row& row : rows)
        EXPECT_EQ(Number(d, row.name), row.want) << Narrow(row.name);
    ASSERT_EQ(ByName(d, L"AsyncMode", P, {Bool(true)}, nullptr), S_OK);
    EXPECT_EQ(Number(d, L"AsyncMode"), 1) << "set through the Service Object's AsyncMode index";
    EXPECT_EQ(Number(d, L"ServiceObjectVersion") / 1000000, 1);
    ASSERT_EQ(ByName(d, L"ServiceObjectDescription", G, {}, &r), S_OK);
    ASSERT_EQ(r.vt, VT_BSTR);
    VariantClear(&r);

    // A method goes on with the caller's arguments; its answer is the Service Object's, and so
    // is the ResultCode read after it. Arguments of the wrong kind or number never get there.
    ASSERT_EQ(ByName(d, L"PrintNormal", M, {I4(2), Str(L"text\n")}, &r), S_OK);
    ASSERT_EQ(r.vt, VT_I4);
    EXPECT_EQ(Number(d, L"ResultCode"), r.lVal);
    struct Bad
    {
        const wchar_t* name;
        std::vector<VARIANT> args;
        HRESULT hr;
    } bad[] = {
        {L"PrintNormal", {Str(L"2"), Str(L"text")}, DISP_E_TYPEMISMATCH},
        {L"PrintNormal", {I4(2)}, DISP_E_BADPARAMCOUNT},
        {L"PrintBarCode", {I4(2), Str(L"1"), I4(110), I4(50), I4(200), I4(-2), Str(L"-13")}, DISP_E_TYPEMISMATCH},
        {L"MarkFeed", {I4(1), I4(1)}, DISP_E_BADPARAMCOUNT},
    };
    for (Bad& b : bad)
        EXPECT_EQ(ByName(d, b.name, M, b.args, nullptr), b.hr) << Narrow(b.name);

    // Enabling brought the Service Object's StatusUpdate callbacks: each one an event with its
    // value, in the order they came.
    ASSERT_TRUE(PumpUntil([&] { return !sink.events.empty(); }, 30000)) << "no event in 30 s";
    for (const RecordingSink::Event& e : sink.events) {
        EXPECT_EQ(e.id, kEventStatusUpdate);
        ASSERT_EQ(e.args.size(), 1u);
        EXPECT_TRUE(e.args[0] == 11 || e.args[0] == 12 || (e.args[0] >= 24 && e.args[0] <= 26) ||
                    (e.args[0] >= 2001 && e.args[0] <= 2004))
            << e.args[0];
    }

    ASSERT_EQ(ByName(d, L"Close", M, {}, &r), S_OK);
    EXPECT_EQ(r.lVal, 0);
    EXPECT_EQ(Number(d, L"ResultCode"), 101) << "closed again";
    EXPECT_EQ(cp->Unadvise(cookie), S_OK);
    EXPECT_EQ(cp->Unadvise(cookie), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(sink.refs, 1u) << "the sink is released at Unadvise";
    cp->Release();
    cp = nullptr;
}

TEST_F(ApplicationControl, AnErrorEventCarriesItsArgumentsAndTheApplicationsAnswerGoesBack)
{
    sink.errorAnswer = 12;  // clear
    ASSERT_TRUE(sim.setStatus(ep, 0x00));
    ASSERT_TRUE(OpenClaimEnable());
    VARIANT r;
    ASSERT_EQ(ByName(d, L"AsyncMode", P, {Bool(true)}, nullptr), S_OK);

    // Paper out: the queued label's status check fails on the print thread.
    ASSERT_TRUE(sim.setStatus(ep, 0x80));
    ASSERT_EQ(ByName(d, L"PrintNormal", M, {I4(2), Str(L"queued\n")}, &r), S_OK);
    ASSERT_EQ(ByName(d, L"MarkFeed", M, {I4(1)}, &r), S_OK);
    ASSERT_EQ(r.lVal, 0) << "queued";
    auto errors = [&] {
        std::vector<RecordingSink::Event> out;
        for (const RecordingSink::Event& e : sink.events)
            if (e.id == kEventError)
                out.push_back(e);
        return out;
    };
    ASSERT_TRUE(PumpUntil([&] { return !errors().empty(); }, 30000)) << "no ErrorEvent in 30 s";
    RecordingSink::Event e = errors()[0];
    ASSERT_EQ(e.args.size(), 4u) << "ResultCode, ResultCodeExtended, ErrorLocus, ErrorResponse";
    EXPECT_GE(e.args[0], 101);
    EXPECT_LE(e.args[0], 114);
    EXPECT_EQ(e.args[2], 1) << "ErrorLocus output";
    EXPECT_EQ(e.args[3], 11) << "offered as retry";

    // The answer "clear" reached the Service Object: the job is dropped. Paper is back and a
    // second label is queued: it alone arrives (a retried first job would go out before it).
    ASSERT_TRUE(sim.setStatus(ep, 0x00));
    ASSERT_EQ(ByName(d, L"PrintNormal", M, {I4(2), Str(L"second\n")}, &r), S_OK);
    ASSERT_EQ(ByName(d, L"MarkFeed", M, {I4(1)}, &r), S_OK);
    ASSERT_EQ(r.lVal, 0);
    long second = Number(d, L"OutputID");
    auto completed = [&] {
        for (const RecordingSink::Event& ev : sink.events)
            if (ev.id == kEventOutputComplete && ev.args.size() == 1 && ev.args[0] == second)
                return true;
        return false;
    };
    ASSERT_TRUE(PumpUntil(completed, 30000)) << "no OutputCompleteEvent for the second label in 30 s";
    EXPECT_EQ(errors().size(), 1u);
    std::vector<qlks::Label> labels = sim.labels(ep);
    ASSERT_EQ(labels.size(), 1u);
    const qlks::Command* text = labels[0].find(qlks::Op::Text);
    ASSERT_NE(text, nullptr) << qlks::describe(labels[0]);
    EXPECT_EQ(text->str("text"), "second");

    ASSERT_EQ(ByName(d, L"Close", M, {}, &r), S_OK);
}

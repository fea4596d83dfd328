// Open, claim, enable and close through the test Control Object on the scripted port manager:
// result codes and preconditions, the port connection per port name, the port settings handed
// over, status frames and power states reaching the object, events and their delivery, Close in
// every state; each object's own map-mode conversion.
#include "SoTestKit.h"

#include "DialogDriver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kKey[] = "Software\\OLEforRetail\\ServiceOPOS\\POSPrinter\\";

long Print(ITestControlObject* co)
{
    VARIANT v[2] = {I4(2), Str(L"x")};
    long r = co->Call("PrintNormal", 2, v, nullptr);
    VariantClear(&v[1]);
    return r;
}

// OpenService called on the Service Object itself (the Control Object refuses a second Open).
long OpenServiceAgain(ITestControlObject* co)
{
    VARIANT v[3] = {Str(L"POSPrinter"), Str(L"LP1"), I4(0)};
    long r = co->Call("OpenService", 3, v, nullptr);
    VariantClear(&v[0]);
    VariantClear(&v[1]);
    return r;
}

std::vector<long> StatusValues(ITestControlObject* co, int from = 0)
{
    std::vector<long> out;
    TestCoEvent e;
    for (int i = from; co->GetEvent(i, &e); ++i)
        if (std::string(e.name) == "SOStatusUpdate")
            out.push_back(e.args[0]);
    return out;
}

int IndexOf(const std::vector<std::string>& calls, const std::string& text, int from = 0)
{
    for (int i = from; i < int(calls.size()); ++i)
        if (calls[size_t(i)] == text)
            return i;
    return -1;
}

int Count(const std::vector<std::string>& lines, const std::string& text)
{
    return int(std::count(lines.begin(), lines.end(), text));
}

// Pumps this thread's messages (the Control Object's callbacks arrive through them) for a while.
void Pump(DWORD ms, ITestControlObject* co)
{
    co->WaitForEvents(1 << 20, ms);
}

// Dispatches what is in this thread's queue now (a callback posted by then is made).
void PumpQueued()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// How many events the object's event thread has handed over, delivered or dropped as out of date.
int HandedOver(const CSoWorld& w)
{
    int n = 0;
    for (const std::string& l : w.LogLines())
        n += l.find("********* POSPrinter Event ") != std::string::npos;
    return n;
}

// ---- The sequence

TEST(OposSequence, ResultCodesAndPreconditionsTwiceInOneProcess)
{
    for (int round = 0; round < 2; ++round) {
        CSoWorld w(1);
        ITestControlObject* co = w.NewControlObject();
        struct Step
        {
            const char* what;
            long (*run)(ITestControlObject*);
            long want;
        } steps[] = {
            {"open", [](ITestControlObject* c) { return c->Open("LP1"); }, 0},
            {"state idle", [](ITestControlObject* c) { return GetNumber(c, 9); }, 2},
            {"open service on the open object", [](ITestControlObject* c) { return OpenServiceAgain(c); }, 106},
            {"still idle", [](ITestControlObject* c) { return GetNumber(c, 9); }, 2},
            {"enable before claim", [](ITestControlObject* c) { return SetNumber(c, 3, 1); }, 103},
            {"print before claim", [](ITestControlObject* c) { return Print(c); }, 103},
            {"release before claim", [](ITestControlObject* c) { return c->Call("ReleaseDevice", 0, nullptr, nullptr); }, 106},
            {"claim", [](ITestControlObject* c) { return CallI4(c, "ClaimDevice", 1000); }, 0},
            {"claimed", [](ITestControlObject* c) { return GetNumber(c, 1); }, 1},
            {"claim again", [](ITestControlObject* c) { return CallI4(c, "ClaimDevice", 0); }, 0},
            {"print before enable", [](ITestControlObject* c) { return Print(c); }, 105},
            {"enable", [](ITestControlObject* c) { return SetNumber(c, 3, 1); }, 0},
            {"enabled", [](ITestControlObject* c) { return GetNumber(c, 3); }, 1},
            {"enable again", [](ITestControlObject* c) { return SetNumber(c, 3, 1); }, 0},
            {"disable", [](ITestControlObject* c) { return SetNumber(c, 3, 0); }, 0},
            {"disabled", [](ITestControlObject* c) { return GetNumber(c, 3); }, 0},
            {"power unknown when disabled", [](ITestControlObject* c) { return GetNumber(c, 14); }, 2000},
            {"release", [](ITestControlObject* c) { return c->Call("ReleaseDevice", 0, nullptr, nullptr); }, 0},
            {"released", [](ITestControlObject* c) { return GetNumber(c, 1); }, 0},
            {"release again", [](ITestControlObject* c) { return c->Call("Release", 0, nullptr, nullptr); }, 106},
            {"claim after release", [](ITestControlObject* c) { return CallI4(c, "Claim", 500); }, 0},
            {"close while claimed", [](ITestControlObject* c) { return c->Close(); }, 0},
        };
        for (const Step& s : steps)
            EXPECT_EQ(s.want, s.run(co)) << s.what << " in round " << round;

        std::vector<std::string> calls = w.port.Calls();
        int create = IndexOf(calls, "CreatePort(LP1, 127.0.0.1, 32) = 40000");
        ASSERT_GE(create, 0);
        EXPECT_EQ(1u, w.port.Calls("CreatePort").size());  // the refused second open made no port
        EXPECT_GT(create, IndexOf(calls, "LoadChildDll() = 0"));
        // A network port opens once per claim; the initialisation byte comes first.
        EXPECT_EQ(2u, w.port.Calls("OpenPort(40000, 32)").size());
        int open = IndexOf(calls, "OpenPort(40000, 32) = 1");
        ASSERT_GE(open, 0);
        // The status thread may already ask for the power state in between: look at writes only.
        int firstWrite = open;
        while (firstWrite < int(calls.size()) && calls[size_t(firstWrite)].rfind("Write(", 0) != 0)
            ++firstWrite;
        EXPECT_EQ(firstWrite, IndexOf(calls, "Write(1, 40000, 32) = 1", open));
        EXPECT_EQ(2u, w.port.Calls("ClosePort(40000, 32)").size());
        int remove = IndexOf(calls, "RemovePort(32, 40000) = 0");
        ASSERT_GT(remove, IndexOf(calls, "ClosePort(40000, 32)"));
        EXPECT_EQ(remove + 1, IndexOf(calls, "FreeChildDll() = 0", remove));
        std::string written = w.port.Written();
        // claim and its status request, enable's status request, claim and its request
        EXPECT_EQ("@^cu\r\n^cu\r\n@^cu\r\n", written);

        std::vector<std::string> lines = w.LogLines();
        EXPECT_TRUE(Contains(lines, "m_ctlLabelPrinter1.ClaimDevice(1000);"));
        EXPECT_TRUE(Contains(lines, "APS_RegistryLoad ok!!"));
        EXPECT_TRUE(Contains(lines, "APS_INFLoad ok!!"));
        EXPECT_TRUE(Contains(lines, "-OpenService = 0 "));
        EXPECT_TRUE(Contains(lines, "!ERROR: -OpenService : already open"));
        EXPECT_EQ(3, Count(lines, "!ERROR: APS_CheckPreconditions Error!"));  // enable and two prints
        EXPECT_TRUE(Contains(lines, "-ReleaseDevice: Already Claim is FALSE"));
        EXPECT_TRUE(Contains(lines, "Close: Call DeleteState"));
        EXPECT_FALSE(Contains(lines, "call TerminateThread : EventThread"));
        EXPECT_FALSE(Contains(lines, "call TerminateThread : AsyncPrintThread"));
    }
}

// The registered library shows its own dialog: the template comes from its resources.
TEST(OposSequence, InteractiveCheckHealthShowsTheLibrarysDialog)
{
    CSoWorld w;
    ITestControlObject* co = w.NewControlObject();
    ASSERT_EQ(0, co->Open("LP1"));
    ASSERT_EQ(0, CallI4(co, "ClaimDevice", 1000));
    ASSERT_EQ(0, SetNumber(co, 3, 1));
    std::string title;
    CDialogDriver driver;
    driver.Do([&](HWND d) {
              char t[256] = {};
              GetWindowTextA(d, t, sizeof t);
              title = t;
          })
        .Click(IDOK);
    long rc = -1;
    driver.RunAround("Printer Check Health", [&] { rc = CallI4(co, "CheckHealth", 3); });
    EXPECT_TRUE(driver.Failures().empty()) << driver.Report();
    EXPECT_EQ("Printer Check Health : - Interactive -LP1", title);
    EXPECT_EQ(0, rc);  // closed without a test label: the internal check, and all is well
    EXPECT_EQ(0, co->Close());
}

TEST(OposSequence, OpenServiceFailuresGiveTheirCodesAndKeepNothing)
{
    struct Row
    {
        const char* what;
        const char* name;
        const char* value;  // device key string value to change (NULL: none)
        long want;
        const char* line;
    } rows[] = {
        {"no port", "TcpIp", "", 106, "!ERROR: -OpenService : Registry load error!"},
        {"no model file", "inf", "none.inf", 106, "!ERROR: -OpenService : inf load error!"},
        {"no port manager", nullptr, nullptr, 106, "!ERROR: -OpenService : Port Create Error!"},
    };
    std::string key = std::string(kKey) + "LP1";
    for (const Row& r : rows) {
        CSoWorld local(1);
        if (r.name)
            local.reg.SetString(key.c_str(), r.name,
                                std::string(r.name) == "inf" ? local.folder.File(r.value).c_str() : r.value);
        else
            local.reg.SetString("Software\\OLEforRetail\\ServiceInfo\\VESK OPOS", "qlnadir", "C:\\nowhere\\q.dll");
        ITestControlObject* co = local.NewControlObject();
        EXPECT_EQ(r.want, co->Open("LP1")) << r.what;
        EXPECT_EQ(nullptr, co->Service()) << r.what;  // released without Close
        EXPECT_TRUE(Contains(local.LogLines(), r.line)) << r.what;
    }

    // A Control Object without the callbacks: the connection made for it goes again, and the
    // next open of the same port succeeds.
    CSoWorld w(1);
    ITestControlObject* co = w.NewControlObject();
    co->HideCallback("SOStatusUpdate");
    EXPECT_EQ(104, co->Open("LP1"));
    EXPECT_EQ(1u, w.port.Calls("RemovePort(32, 40000)").size());
    co->HideCallback(nullptr);
    EXPECT_EQ(0, co->Open("LP1"));
    EXPECT_EQ(0, co->Close());

    // No Control Object at all.
    IDispatch* so = w.NewServiceObject();
    VARIANT cls = Str(L"POSPrinter"), dev = Str(L"LP1"), none;
    VariantInit(&none);
    none.vt = VT_DISPATCH;
    none.pdispVal = nullptr;
    VARIANT res;
    VariantInit(&res);
    ASSERT_EQ(S_OK, InvokeArgs(so, 5, {cls, dev, none}, &res));
    EXPECT_EQ(104, res.lVal);
    so->Release();
    VariantClear(&cls);
    VariantClear(&dev);
}

TEST(OposSequence, ClaimFailuresReleaseThePort)
{
    CSoWorld w(1);
    ITestControlObject* co = w.NewControlObject();
    ASSERT_EQ(0, co->Open("LP1"));

    w.port.Result("OpenPort", 0);
    EXPECT_EQ(106, CallI4(co, "ClaimDevice", 1000));
    EXPECT_TRUE(Contains(w.LogLines(), "!ERROR: -ClaimDevice: Failed OpenPort"));
    EXPECT_EQ(0, GetNumber(co, 1));

    w.port.Result("Write", 0);  // the initialisation byte does not go out
    EXPECT_EQ(106, CallI4(co, "ClaimDevice", 1000));
    EXPECT_TRUE(Contains(w.LogLines(), "!ERROR: -ClaimDevice: Failed Check_InitializePrinter"));
    EXPECT_EQ(1u, w.port.Calls("ClosePort(40000, 32)").size());
    EXPECT_EQ(0, GetNumber(co, 1));

    // The printer answers the claim's status request with its cover open.
    EXPECT_EQ(0, CallI4(co, "ClaimDevice", 1000));
    EXPECT_EQ(0, co->Call("ReleaseDevice", 0, nullptr, nullptr));
    w.port.Result("StatusAnswer", 0x40);
    EXPECT_EQ(106, CallI4(co, "ClaimDevice", 1000));
    EXPECT_EQ(201, GetNumber(co, 7));
    EXPECT_TRUE(Contains(w.LogLines(), "!ERROR: -ClaimDevice: P_PrintStateToRC Error"));
    EXPECT_EQ(3u, w.port.Calls("ClosePort(40000, 32)").size());
    EXPECT_EQ(0, co->Close());
}

// ---- The port connection

TEST(PortConnection, OnePerPortNameForAllObjectsAndTheLastCloseFreesIt)
{
    CSoWorld w(1);
    w.AddDevice("LP2", "127.0.0.1");  // the same printer under a second name
    w.AddDevice("LP3", "127.0.0.3");
    w.reg.SetDWORD((std::string(kKey) + "LP2").c_str(), "Log", 1);
    ITestControlObject* a = w.NewControlObject();
    ITestControlObject* b = w.NewControlObject();
    ITestControlObject* c = w.NewControlObject();
    ASSERT_EQ(0, a->Open("LP1"));
    EXPECT_EQ(106, b->Open("LP2"));  // the label class holds that port already
    EXPECT_TRUE(Contains(w.LogLines("LP2"), "!ERROR: -OpenService : Port Create Error!"));
    ASSERT_EQ(0, c->Open("LP3"));
    EXPECT_EQ((std::vector<std::string>{"CreatePort(LP1, 127.0.0.1, 32) = 40000", "CreatePort(LP3, 127.0.0.3, 32) = 40001"}),
              w.port.Calls("CreatePort"));
    EXPECT_EQ(2u, w.port.Calls("LoadChildDll").size());  // once per new connection

    EXPECT_EQ(0, a->Close());
    EXPECT_EQ(0, b->Open("LP2"));  // free again
    EXPECT_EQ(0, b->Close());
    EXPECT_EQ(0, c->Close());
    EXPECT_EQ((std::vector<std::string>{"RemovePort(32, 40000) = 0", "RemovePort(32, 40002) = 0", "RemovePort(32, 40001) = 0"}),
              w.port.Calls("RemovePort"));
    EXPECT_EQ(3u, w.port.Calls("FreeChildDll").size());

    // No connection holds the port manager any more: ours was the last reference.
    std::string path = WinPath(SCRIPTQLN_DLL);
    FreeLibrary(w.port.module);
    EXPECT_EQ(nullptr, GetModuleHandleA(path.c_str()));
    w.port.module = LoadLibraryA(path.c_str());
}

TEST(PortConnection, DeviceOptionFieldsHandedToTheManager)
{
    struct Row
    {
        const char* what;
        DWORD usingBT;
        size_t opens, closes;  // in the claim
    } rows[] = {{"wired serial: opened twice", 0, 2, 1}, {"bluetooth serial: once", 1, 1, 0}};
    for (const Row& r : rows) {
        CSoWorld w;
        std::string key = std::string(kKey) + "LP1";
        w.reg.SetString(key.c_str(), "Port", "COM7");
        w.reg.SetString(key.c_str(), "BaudRate", "19200");
        w.reg.SetString(key.c_str(), "BitLength", "7");
        w.reg.SetString(key.c_str(), "Parity", "2");
        w.reg.SetString(key.c_str(), "Stop", "1");
        w.reg.SetString(key.c_str(), "HandShake", "Xon/Xoff");
        w.reg.SetString(key.c_str(), "OutputBuf", "2048");
        w.reg.SetString(key.c_str(), "InputBuf", "1024");
        w.reg.SetDWORD(key.c_str(), "UsingBT", r.usingBT);
        ITestControlObject* co = w.NewControlObject();
        ASSERT_EQ(0, co->Open("LP1"));
        ASSERT_EQ(0, CallI4(co, "ClaimDevice", 1000)) << r.what;
        EXPECT_EQ(r.opens, w.port.Calls("OpenPort(40000, 32) = 1").size()) << r.what;
        EXPECT_EQ(r.closes, w.port.Calls("ClosePort").size()) << r.what;
        // Only the first open hands the settings over.
        EXPECT_EQ(r.opens, w.port.Calls("SetDeviceOption(COM7, 19200, 7, 1, 2, 1, ").size()) << r.what;
        std::vector<DWORD> f = w.port.LastDeviceOption();
        // baud, bits, stop, parity, flow, read interval, multiplier, constant, write multiplier,
        // constant, in, out, bluetooth, stack, wireless, tcp time-out, connect time-out, retries
        std::vector<DWORD> want = {19200, 7, 1, 2, 1, 2, 0, 50, 10, 5000, 1024, 2048, r.usingBT, 0, 0, 500, 1000, 3};
        EXPECT_EQ(want, std::vector<DWORD>(f.begin() + 1, f.end())) << r.what;
        EXPECT_EQ(0, co->Close());
    }
}

TEST(PortConnection, ASettersRefusalDoesNotFailTheConfiguration)
{
    CSoWorld w(1);
    std::string inf = w.folder.Read("VL420.inf");
    size_t at = inf.find("CharacterSet=1252");
    ASSERT_NE(std::string::npos, at);
    inf.replace(at, 17, "CharacterSet=1253");
    w.folder.Write("VL420.inf", inf);
    ITestControlObject* co = w.NewControlObject();
    EXPECT_EQ(0, co->Open("LP1"));
    EXPECT_TRUE(Contains(w.LogLines(), "!ERROR: -DoCharacterSet: < Number : 1253 > is not included in CharacterSetList "));
    EXPECT_EQ(0, GetNumber(co, 6));  // the object's result is the open's, not the setter's
    EXPECT_EQ(0, co->Close());
}

// Two models of different resolutions open at once: each object converts with its own.
TEST(PortConnection, EachObjectKeepsTheMapModeConversionOfItsModel)
{
    CSoWorld w;
    std::string inf = w.folder.Read("VL420.inf");
    for (const char* name : {"DPIHIGH=203", "DPIWIDTH=203"}) {
        size_t at = inf.find(name);
        ASSERT_NE(std::string::npos, at) << name;
        inf.replace(at + std::strlen(name) - 3, 3, "300");
    }
    w.folder.Write("VL300.inf", inf);
    w.AddDevice("LP3", "127.0.0.3");
    w.reg.SetString((std::string(kKey) + "LP3").c_str(), "inf", w.folder.File("VL300.inf").c_str());
    struct Object
    {
        const char* device;
        long dpi;
        ITestControlObject* co;
        long heightDots, widthDots;
    } objects[] = {{"LP1", 203, w.NewControlObject(), 0, 0}, {"LP3", 300, w.NewControlObject(), 0, 0}};
    for (Object& o : objects) {
        ASSERT_EQ(0, o.co->Open(o.device)) << o.device;
        ASSERT_EQ(0, SetNumber(o.co, 8013, 1)) << o.device;  // dots
        o.heightDots = GetNumber(o.co, 8017);
        o.widthDots = GetNumber(o.co, 8020);
        ASSERT_GT(o.heightDots, 0) << o.device;
    }
    // Line height and width in twips, thousandths of an inch, hundredths of a millimetre.
    struct Row
    {
        long mode, perInch;
    } rows[] = {{2, 1440}, {3, 1000}, {4, 2540}, {1, 0}};
    for (const Row& r : rows) {
        for (Object& o : objects)
            EXPECT_EQ(0, SetNumber(o.co, 8013, r.mode)) << o.device;
        for (const Object& o : objects) {
            long height = r.perInch == 0 ? o.heightDots
                          : r.mode == 2 ? o.heightDots * (1440 / o.dpi)  // whole twips per dot
                                        : (o.heightDots * r.perInch + o.dpi / 2) / o.dpi;
            long width = r.perInch == 0 ? o.widthDots : (o.widthDots * r.perInch + o.dpi / 2) / o.dpi;
            EXPECT_EQ(height, GetNumber(o.co, 8017)) << o.device << " in map mode " << r.mode;
            EXPECT_EQ(width, GetNumber(o.co, 8020)) << o.device << " in map mode " << r.mode;
        }
    }
    for (Object& o : objects)
        EXPECT_EQ(0, o.co->Close());
}

// ---- Status and events

// Open, claim and enable a device with power notification; the events of the enable (as many as
// given) are delivered.
ITestControlObject* Enabled(CSoWorld& w, const char* device = "LP1", int events = 3, ITestCoListener* listener = nullptr)
{
    ITestControlObject* co = w.NewControlObject();
    co->SetListener(listener);
    size_t polls = w.port.Calls("IsPowerState").size();
    if (co->Open(device) != 0 || CallI4(co, "ClaimDevice", 1000) != 0)
        return nullptr;
    // The status thread's first power report comes while the device is still disabled.
    EXPECT_TRUE(WaitFor([&] { return w.port.Calls("IsPowerState").size() >= polls + 2; }, 20000));
    EXPECT_EQ(0, SetNumber(co, 13, 1));  // PowerNotify
    EXPECT_EQ(0, SetNumber(co, 3, 1));
    EXPECT_TRUE(co->WaitForEvents(events, 20000));
    return co;
}

TEST(StatusEvents, FramesAndPowerStatesFromThePortReachTheObjectInOrder)
{
    CSoWorld w(1);
    ITestControlObject* co = Enabled(w);
    ASSERT_NE(nullptr, co);
    std::vector<long> first = StatusValues(co);
    std::sort(first.begin(), first.end());
    EXPECT_EQ((std::vector<long>{12, 26, 2001}), first);  // the status asked for at enable

    int base = co->EventCount();
    w.port.Frame(0x0F000034);  // cover open
    ASSERT_TRUE(co->WaitForEvents(base + 2, 20000));
    EXPECT_EQ(1, GetNumber(co, 8003));
    EXPECT_EQ(2003, GetNumber(co, 14));
    w.port.Frame(0x0F0C0014);  // cover closed, paper out
    ASSERT_TRUE(co->WaitForEvents(base + 3, 20000));
    w.port.Frame(0x0F000014);  // all well
    ASSERT_TRUE(co->WaitForEvents(base + 6, 20000));
    EXPECT_EQ((std::vector<long>{11, 2003, 24, 12, 26, 2001}), StatusValues(co, base)) ;
    EXPECT_EQ(0, GetNumber(co, 8003));
    EXPECT_EQ(0, GetNumber(co, 8014));

    // The port's own power state: off line, undecided (not reported), on line.
    base = co->EventCount();
    w.port.Default("IsPowerState", 2003);
    ASSERT_TRUE(co->WaitForEvents(base + 1, 20000));
    EXPECT_EQ(2003, GetNumber(co, 14));
    w.port.Default("IsPowerState", 0);
    EXPECT_TRUE(WaitFor([&] { return !w.port.Calls("IsPowerState(40000, 32) = 0").empty(); }, 20000));
    w.port.Default("IsPowerState", 2001);
    ASSERT_TRUE(co->WaitForEvents(base + 2, 20000));
    EXPECT_EQ((std::vector<long>{2003, 2001}), StatusValues(co, base));

    // Every callback on the thread that opened the service.
    TestCoEvent e;
    for (int i = 0; co->GetEvent(i, &e); ++i) {
        EXPECT_EQ(GetCurrentThreadId(), e.threadId) << i;
        EXPECT_STREQ("SOStatusUpdate", e.name) << i;
    }
    EXPECT_EQ(0, co->Close());
}

TEST(StatusEvents, APrinterSwitchedOffWhileDisabledIsOffLineAtEnable)
{
    CSoWorld w(1);
    ITestControlObject* co = w.NewControlObject();
    ASSERT_EQ(0, co->Open("LP1"));
    ASSERT_EQ(0, CallI4(co, "ClaimDevice", 1000));
    EXPECT_EQ(0, SetNumber(co, 13, 1));  // PowerNotify
    // The port goes off line, the printer answers nothing; the status thread has seen it.
    w.port.Default("StatusAnswer", -1);
    w.port.Default("IsPowerState", 2003);
    ASSERT_TRUE(WaitFor([&] { return w.port.Calls("IsPowerState(40000, 32) = 2003").size() >= 2; }, 20000));
    EXPECT_EQ(0, SetNumber(co, 3, 1));
    EXPECT_EQ(2003, GetNumber(co, 14));
    ASSERT_TRUE(co->WaitForEvents(1, 20000));
    EXPECT_EQ(std::vector<long>{2003}, StatusValues(co));
    EXPECT_EQ(0, co->Close());
}

TEST(StatusEvents, FreezeEventsHoldsThemAndSupersededValuesAreDropped)
{
    CSoWorld w(1);
    ITestControlObject* co = Enabled(w);
    ASSERT_NE(nullptr, co);
    int base = co->EventCount();
    struct Freeze
    {
        long pidx;         // FreezeEvents, or 0 for the Control Object's COFreezeEvents
    } kinds[] = {{4}, {0}};
    long frames[2][2] = {{0x0F000034, 0x0F000014}, {0x0F000034, 0x0F000014}};
    for (int k = 0; k < 2; ++k) {
        if (kinds[k].pidx)
            EXPECT_EQ(0, SetNumber(co, kinds[k].pidx, 1));
        else
            EXPECT_EQ(0, CallI4(co, "COFreezeEvents", 1));
        size_t asb = w.port.Calls("GetASBState(40000, 32) = 1").size();
        int handed = HandedOver(w);
        // Cover open, then closed again, while nothing is delivered.
        for (long f : frames[k])
            w.port.Frame(int(f));
        EXPECT_TRUE(WaitFor([&] { return w.port.Calls("GetASBState(40000, 32) = 1").size() == asb + 2; }, 20000));
        // The four events are queued. An event thread that did not hold them would post the
        // first to this thread: it is given time while this thread pumps, and none may come.
        EXPECT_FALSE(co->WaitForEvents(base + 1, 1500)) << k;
        PumpQueued();
        EXPECT_EQ(base, co->EventCount()) << k;
        EXPECT_EQ(handed, HandedOver(w)) << k;
        if (kinds[k].pidx)
            EXPECT_EQ(0, SetNumber(co, kinds[k].pidx, 0));
        else
            EXPECT_EQ(0, CallI4(co, "COFreezeEvents", 0));
        // 11 and 2003 were replaced by 12 and 2001 before their turn came; all four have had it.
        ASSERT_TRUE(co->WaitForEvents(base + 2, 20000)) << k;
        EXPECT_TRUE(WaitFor([&] {
            PumpQueued();
            return HandedOver(w) >= handed + 4;
        }, 20000)) << k;
        PumpQueued();
        EXPECT_EQ(handed + 4, HandedOver(w)) << k;
        EXPECT_EQ((std::vector<long>{12, 2001}), StatusValues(co, base)) << k;
        base = co->EventCount();
    }
    std::vector<std::string> lines = w.LogLines();
    EXPECT_EQ(4, Count(lines, "********* POSPrinter Event POSPrinter StatusUpdate 11: Not delivered because out-of-date") +
                     Count(lines, "********* POSPrinter Event POSPrinter StatusUpdate 2003: Not delivered because out-of-date"));
    EXPECT_EQ(0, co->Close());
}

TEST(StatusEvents, StatusRequestAnswersAndTheAnswerTimeOut)
{
    {
        CSoWorld w;
        w.port.Result("StatusAnswer", 0);      // all well at the claim,
        w.port.Default("StatusAnswer", 0x40);  // the cover open at enable
        ITestControlObject* co = Enabled(w, "LP1", 2);
        ASSERT_NE(nullptr, co);
        EXPECT_EQ(1, GetNumber(co, 8003));
        EXPECT_EQ((std::vector<long>{11, 2003}), StatusValues(co));  // no paper event while the cover is open
        EXPECT_EQ(0, co->Close());
    }
    CSoWorld w(1);
    w.port.Default("StatusAnswer", -1);  // a printer that never answers
    ITestControlObject* co = w.NewControlObject();
    ASSERT_EQ(0, co->Open("LP1"));
    ASSERT_EQ(0, CallI4(co, "ClaimDevice", 1000));
    DWORD start = GetTickCount();
    EXPECT_EQ(0, SetNumber(co, 3, 1));
    EXPECT_GE(GetTickCount() - start, 4900u);  // it waited the whole answer time-out
    EXPECT_TRUE(Contains(w.LogLines(), "!ERROR: CHK_LabelStatus - timeout"));
    EXPECT_EQ(0, co->Close());
}

TEST(StatusEvents, TwoObjectsOnTwoPortsAtOnce)
{
    CSoWorld w;
    w.AddDevice("LP3", "127.0.0.3");
    ITestControlObject* co[2] = {w.NewControlObject(), w.NewControlObject()};
    ASSERT_EQ(0, co[0]->Open("LP1"));
    ASSERT_EQ(0, co[1]->Open("LP3"));
    // Each object's codes and preconditions while the other holds its own port.
    struct Step
    {
        int who;
        const char* what;
        long (*run)(ITestControlObject*);
        long want;
    } steps[] = {
        {0, "claim", [](ITestControlObject* c) { return CallI4(c, "ClaimDevice", 1000); }, 0},
        {0, "power notify", [](ITestControlObject* c) { return SetNumber(c, 13, 1); }, 0},
        {0, "enable", [](ITestControlObject* c) { return SetNumber(c, 3, 1); }, 0},
        {1, "enable before its claim", [](ITestControlObject* c) { return SetNumber(c, 3, 1); }, 103},
        {1, "print before its claim", [](ITestControlObject* c) { return Print(c); }, 103},
        {1, "release before its claim", [](ITestControlObject* c) { return c->Call("ReleaseDevice", 0, nullptr, nullptr); }, 106},
        {1, "claim", [](ITestControlObject* c) { return CallI4(c, "ClaimDevice", 1000); }, 0},
        {1, "print before enable", [](ITestControlObject* c) { return Print(c); }, 105},
        {1, "power notify", [](ITestControlObject* c) { return SetNumber(c, 13, 1); }, 0},
        {1, "enable", [](ITestControlObject* c) { return SetNumber(c, 3, 1); }, 0},
        {0, "claimed", [](ITestControlObject* c) { return GetNumber(c, 1); }, 1},
        {1, "claimed", [](ITestControlObject* c) { return GetNumber(c, 1); }, 1},
    };
    for (const Step& s : steps)
        EXPECT_EQ(s.want, s.run(co[s.who])) << s.what << " of object " << s.who;
    EXPECT_EQ(1u, w.port.Calls("Write(1, 40000, 32) = 1").size());
    EXPECT_EQ(1u, w.port.Calls("Write(1, 40001, 32) = 1").size());
    // The status requests of the claim and of the enable.
    EXPECT_EQ(2u, w.port.Calls("Write(5, 40000, 32) = 5").size());
    EXPECT_EQ(2u, w.port.Calls("Write(5, 40001, 32) = 5").size());

    // A frame reaches only its own port's device.
    w.port.Frame(0x0F000034, 40001);
    EXPECT_TRUE(WaitFor([&] {
        Pump(20, co[0]);
        return GetNumber(co[1], 8003) == 1;
    }, 20000));
    size_t polls = w.port.Calls("GetASBState(40000, 32)").size();
    EXPECT_TRUE(WaitFor([&] { return w.port.Calls("GetASBState(40000, 32)").size() > polls + 1; }, 20000));
    EXPECT_EQ(0, GetNumber(co[0], 8003));

    // Disable and release one: the other stays as it was, and only the released one's port
    // closes.
    const Step first[] = {
        {0, "disable", [](ITestControlObject* c) { return SetNumber(c, 3, 0); }, 0},
        {0, "disabled", [](ITestControlObject* c) { return GetNumber(c, 3); }, 0},
        {1, "still enabled", [](ITestControlObject* c) { return GetNumber(c, 3); }, 1},
        {0, "release", [](ITestControlObject* c) { return c->Call("ReleaseDevice", 0, nullptr, nullptr); }, 0},
        {0, "released", [](ITestControlObject* c) { return GetNumber(c, 1); }, 0},
        {0, "enable after release", [](ITestControlObject* c) { return SetNumber(c, 3, 1); }, 103},
        {0, "release again", [](ITestControlObject* c) { return c->Call("ReleaseDevice", 0, nullptr, nullptr); }, 106},
        {1, "still claimed", [](ITestControlObject* c) { return GetNumber(c, 1); }, 1},
        {1, "still enabled", [](ITestControlObject* c) { return GetNumber(c, 3); }, 1},
    };
    for (const Step& s : first)
        EXPECT_EQ(s.want, s.run(co[s.who])) << s.what << " of object " << s.who;
    EXPECT_EQ(1u, w.port.Calls("ClosePort(40000, 32)").size());
    EXPECT_EQ(0u, w.port.Calls("ClosePort(40001, 32)").size());
    const Step second[] = {
        {1, "disable", [](ITestControlObject* c) { return SetNumber(c, 3, 0); }, 0},
        {1, "release", [](ITestControlObject* c) { return c->Call("ReleaseDevice", 0, nullptr, nullptr); }, 0},
        {1, "released", [](ITestControlObject* c) { return GetNumber(c, 1); }, 0},
    };
    for (const Step& s : second)
        EXPECT_EQ(s.want, s.run(co[s.who])) << s.what << " of object " << s.who;
    EXPECT_EQ(1u, w.port.Calls("ClosePort(40001, 32)").size());
    EXPECT_EQ(0, co[0]->Close());
    EXPECT_EQ(0, co[1]->Close());
    EXPECT_EQ((std::vector<std::string>{"RemovePort(32, 40000) = 0", "RemovePort(32, 40001) = 0"}),
              w.port.Calls("RemovePort"));
}

// A Control Object whose every callback runs a message loop for a while, as an application's
// handler that shows a message box would: the next event must not come inside it.
struct PumpingHandler : ITestCoListener
{
    void OnServiceEvent(const TestCoEvent&, long*, long*, BSTR*) override
    {
        if (++depth > deepest)
            deepest = depth;
        ++calls;
        for (DWORD start = GetTickCount(); GetTickCount() - start < 150;) {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
        --depth;
    }
    int depth = 0, deepest = 0, calls = 0;
};

TEST(StatusEvents, OneAtATimeEvenWhenACallbackPumpsMessages)
{
    PumpingHandler handler;  // outlives the world's Control Objects
    CSoWorld w;
    // The enable's status, then a frame: several events queued at once each time.
    ITestControlObject* co = Enabled(w, "LP1", 3, &handler);
    ASSERT_NE(nullptr, co);
    w.port.Frame(0x0F000034);  // cover open
    ASSERT_TRUE(co->WaitForEvents(5, 20000));
    // Cover closed: its events come after whatever else was queued.
    w.port.Frame(0x0F000014);
    ASSERT_TRUE(co->WaitForEvents(7, 20000));
    EXPECT_EQ(1, handler.deepest);
    EXPECT_EQ(co->EventCount(), handler.calls);
    EXPECT_EQ((std::vector<long>{11, 2003, 12, 2001}), StatusValues(co, 3));
    co->SetListener(nullptr);
    EXPECT_EQ(0, co->Close());
}

// ---- Close

TEST(CloseAnyTime, ReturnsPromptlyInEveryStateAndFromACallback)
{
    enum Job { NoJob, StalledWrite, AwaitedAnswer, ErrorAwaitingResponse };
    struct Row
    {
        const char* what;
        int claim;  // 0 open only, 1 claimed, 2 enabled (its events not yet delivered), 3 frozen
        Job job;    // a queued label the print thread is busy with when Close comes
    } rows[] = {
        {"open", 0, NoJob},
        {"claimed", 1, NoJob},
        {"enabled, an event in flight", 2, NoJob},
        {"frozen with events", 3, NoJob},
        // Each write of the label takes 1.5 s and takes no byte: five attempts and the final
        // check would hold a clear of the queue for about 12 s.
        {"a queued label in a stalled write", 2, StalledWrite},
        // The printer does not answer: the check and the final check wait 5 s each.
        {"a queued label awaiting its status answer", 2, AwaitedAnswer},
        // Cover open at the check: the ErrorEvent is queued, never delivered, and the print
        // thread waits for its response.
        {"an ErrorEvent awaiting its response", 2, ErrorAwaitingResponse},
    };
    for (const Row& r : rows) {
        CSoWorld w(1);
        ITestControlObject* co = w.NewControlObject();
        ASSERT_EQ(0, co->Open("LP1"));
        if (r.claim >= 1) {
            ASSERT_EQ(0, CallI4(co, "ClaimDevice", 1000));
        }
        if (r.claim >= 2) {
            ASSERT_EQ(0, SetNumber(co, 3, 1));
        }
        if (r.claim == 3) {
            SetNumber(co, 4, 1);
            w.port.Frame(0x0F000034);
            EXPECT_TRUE(WaitFor([&] { return GetNumber(co, 8003) == 1; }, 20000));
        }
        if (r.job != NoJob) {
            ASSERT_EQ(0, SetNumber(co, 8001, 1));  // AsyncMode
            size_t requests = w.port.Calls("Write(5, ").size();
            if (r.job == StalledWrite) {
                w.port.Result("Write", 5);  // the status request before the label goes out
                w.port.Result("WriteStall", 0);
                w.port.Default("Write", 0);
                w.port.Default("WriteStall", 1500);
            } else if (r.job == AwaitedAnswer) {
                w.port.Default("StatusAnswer", -1);
            } else {
                w.port.Result("StatusAnswer", 0x40);
            }
            ASSERT_EQ(0, Print(co)) << r.what;
            ASSERT_EQ(0, CallI4(co, "MarkFeed", 1)) << r.what;
            // The print thread is in its pass: the request is out (and the label's first write).
            auto labelWrites = [&] {
                size_t n = 0;
                for (const std::string& c : w.port.Calls("Write("))
                    n += std::atoi(c.c_str() + 6) > 5;
                return n;
            };
            if (r.job == StalledWrite) {
                EXPECT_TRUE(WaitFor([&] { return labelWrites() > 0; }, 20000)) << r.what;
            } else {
                EXPECT_TRUE(WaitFor([&] { return w.port.Calls("Write(5, ").size() > requests; }, 20000)) << r.what;
            }
            if (r.job == ErrorAwaitingResponse) {
                EXPECT_TRUE(WaitFor([&] { return Contains(w.LogLines(), "*AsyncPrint: Wait for delivery to app's response."); },
                                    20000)) << r.what;
            }
        }
        // A print thread that kept Close waiting is ended by force after the close's own bound,
        // which its trace line says.
        EXPECT_EQ(0, co->Close()) << r.what;
        std::vector<std::string> lines = w.LogLines();
        EXPECT_TRUE(Contains(lines, "End EventThread.")) << r.what;
        EXPECT_FALSE(Contains(lines, "call TerminateThread : EventThread")) << r.what;
        EXPECT_FALSE(Contains(lines, "call TerminateThread : AsyncPrintThread")) << r.what;
        EXPECT_EQ(1u, w.port.Calls("RemovePort").size()) << r.what;
        Pump(50, co);  // a posted event for the gone window is dropped
    }

    // From inside the Control Object's callback.
    CSoWorld w(1);
    ITestControlObject* co = w.NewControlObject();
    ASSERT_EQ(0, co->Open("LP1"));
    ASSERT_EQ(0, CallI4(co, "ClaimDevice", 1000));
    co->CloseInCallback("SOStatusUpdate");
    ASSERT_EQ(0, SetNumber(co, 3, 1));
    EXPECT_TRUE(WaitFor([&] {
        Pump(20, co);
        return co->Service() == nullptr;
    }, 20000));
    EXPECT_EQ(0, co->CloseResult());
    EXPECT_EQ(1, co->EventCount());  // nothing after the close
    std::vector<std::string> lines = w.LogLines();
    EXPECT_TRUE(Contains(lines, "End EventThread."));
    EXPECT_FALSE(Contains(lines, "call TerminateThread : EventThread"));
    EXPECT_TRUE(Contains(lines, "- ~CLABELPrinter"));
    EXPECT_EQ(1u, w.port.Calls("RemovePort").size());
}

} // namespace

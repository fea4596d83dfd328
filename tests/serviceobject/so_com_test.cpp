// Corvane as a COM server driven through the test Control Object: registration, creation by
// ProgID, the dispatch table by name and kind, the results before and after OpenService, and
// the object's and the library's lifetime.
#include "SoTestKit.h"

#include <gtest/gtest.h>
#include <olectl.h>

#include <algorithm>
#include <string>
#include <thread>

namespace {

// The tests need Corvane registered in the prefix; registering it is itself under test.
class RegisteredCorvane : public ::testing::Environment
{
public:
    void SetUp() override { ASSERT_EQ(0, RunRegsvr32(CorvanePath(), false)); }
};
::testing::Environment* const g_registered = ::testing::AddGlobalTestEnvironment(new RegisteredCorvane);

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](char c) { return char(tolower((unsigned char)c)); });
    return s;
}

// ---- Registration

TEST(Registration, Regsvr32RegistersAndUnregistersIn32BitView)
{
    const std::string clsidKey = std::string("CLSID\\") + SO_CLSID_TEXT;
    for (int round = 0; round < 2; ++round) {  // twice: still one registration
        ASSERT_EQ(0, RunRegsvr32(CorvanePath(), false));
        EXPECT_EQ(SO_PROGID, ReadClassesString(SO_PROGID));
        EXPECT_EQ(SO_CLSID_TEXT, ReadClassesString(SO_PROGID "\\CLSID"));
        EXPECT_EQ(SO_PROGID, ReadClassesString(clsidKey));
        EXPECT_EQ(SO_PROGID, ReadClassesString(clsidKey + "\\ProgID"));
        EXPECT_EQ(Lower(CorvanePath()), Lower(ReadClassesString(clsidKey + "\\InprocServer32")));
        EXPECT_EQ("Apartment", ReadClassesString(clsidKey + "\\InprocServer32", "ThreadingModel"));
    }
    ASSERT_EQ(0, RunRegsvr32(CorvanePath(), true));
    EXPECT_FALSE(ClassesKeyExists(SO_PROGID));
    EXPECT_FALSE(ClassesKeyExists(clsidKey));
    EXPECT_EQ(0, RunRegsvr32(CorvanePath(), true));  // nothing left to remove is no failure

    ASSERT_EQ(0, RunRegsvr32(CorvanePath(), false));  // for the tests that follow
    CSoWorld w;
    IDispatch* so = w.NewServiceObject();
    ASSERT_NE(nullptr, so);
    so->Release();
}

TEST(Registration, FailedRegistryWritesAreReported)
{
    HMODULE m = LoadLibraryA(CorvanePath().c_str());
    ASSERT_NE(nullptr, m);
    auto reg = Proc<HRESULT(WINAPI*)()>(m, "DllRegisterServer");
    auto unreg = Proc<HRESULT(WINAPI*)()>(m, "DllUnregisterServer");
    char name[96];
    snprintf(name, sizeof name, "Software\\VeskTests\\classes-%lu", GetCurrentProcessId());
    std::string volatileName = std::string(name) + "-volatile";
    HKEY scratch = nullptr, volatileKey = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &scratch, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, volatileName.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                                             KEY_ALL_ACCESS, nullptr, &volatileKey, nullptr));

    // This process's HKEY_CLASSES_ROOT is a volatile key, under which no lasting key can be
    // made: every write fails.
    ASSERT_EQ(ERROR_SUCCESS, RegOverridePredefKey(HKEY_CLASSES_ROOT, volatileKey));
    EXPECT_EQ(SELFREG_E_CLASS, reg());
    // A writable one: registered there, and removed again.
    ASSERT_EQ(ERROR_SUCCESS, RegOverridePredefKey(HKEY_CLASSES_ROOT, scratch));
    EXPECT_EQ(S_OK, reg());
    EXPECT_EQ("Apartment", ReadClassesString(std::string("CLSID\\") + SO_CLSID_TEXT + "\\InprocServer32", "ThreadingModel"));
    EXPECT_EQ(S_OK, unreg());
    EXPECT_FALSE(ClassesKeyExists(SO_PROGID));
    RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);

    RegCloseKey(volatileKey);
    RegCloseKey(scratch);
    RegDeleteTreeA(HKEY_CURRENT_USER, name);
    RegDeleteKeyA(HKEY_CURRENT_USER, name);
    RegDeleteKeyA(HKEY_CURRENT_USER, volatileName.c_str());
    FreeLibrary(m);
    EXPECT_EQ(SO_PROGID, ReadClassesString(SO_PROGID));  // the prefix's registration untouched
}

// ---- The Control Object's view

TEST(ControlObject, OpensFindsEveryNameAndAcceptsTheVersion)
{
    CSoWorld w;
    ITestControlObject* co = w.NewControlObject();
    ASSERT_NE(nullptr, co);
    ASSERT_EQ(0, co->Open("LP1"));

    std::vector<std::string> asked;
    char text[96];
    for (int i = 0; co->GetLookup(i, text, sizeof text); ++i)
        asked.push_back(text);
    ASSERT_GE(asked.size(), 41u);
    // Its own spelling of the names; the alternative "CloseService" is not there, "Close" is.
    EXPECT_EQ("PageModePrint=38", asked[0]);
    EXPECT_EQ("CloseService=?", asked[1]);
    EXPECT_EQ("Close=6", asked[2]);
    for (size_t i = 3; i < asked.size(); ++i)
        EXPECT_EQ(std::string::npos, asked[i].find("=?")) << asked[i];

    VARIANT idx = I4(8);
    EXPECT_EQ(1013000, co->Call("GetPropertyNumber", 1, &idx, nullptr));
    EXPECT_EQ(0, co->Close());
    EXPECT_EQ(nullptr, co->Service());
}

TEST(ControlObject, LogicalNameLeadsToTheDeviceKey)
{
    CSoWorld w(0, "LP1");
    w.reg.SetString("Software\\OLEforRetail\\ServiceOPOS\\POSPrinter", "Shelf", "LP1");
    // The Service Object reads its configuration under the name it is given; the ProgID is
    // found only through the alias.
    const char* shelf = "Software\\OLEforRetail\\ServiceOPOS\\POSPrinter\\Shelf";
    w.reg.SetString(shelf, "inf", w.folder.File("VL420.inf").c_str());
    w.reg.SetString(shelf, "DeviceName", "Shelf");
    w.reg.SetString(shelf, "Port", "Ethernet");
    w.reg.SetString(shelf, "TcpIp", "127.0.0.2");
    ITestControlObject* co = w.NewControlObject();
    EXPECT_EQ(0, co->Open("Shelf"));
    EXPECT_EQ(0, co->Close());
    EXPECT_EQ(109, co->Open("NoSuchDevice"));
}

TEST(Dispatch, NamesAreFoundInAnyLetterCase)
{
    CSoWorld w;
    IDispatch* so = w.NewServiceObject();
    ASSERT_NE(nullptr, so);
    struct
    {
        const wchar_t* name;
        DISPID id;
    } rows[] = {
        {L"GetPropertyNumber", 1}, {L"openservice", 5},   {L"CLOSE", 6},           {L"ClaimDevice", 7},
        {L"claim", 8},             {L"ReleaseDevice", 9}, {L"Release", 10},        {L"DirectIO", 12},
        {L"cofreezeevents", 13},   {L"printnormal", 23},  {L"PRINTNORMAL", 23},    {L"PageModePrint", 38},
        {L"pageModePrint", 38},    {L"DrawRuledLine", 40}, {L"updatefirmware", 36},
    };
    for (const auto& r : rows) {
        HRESULT hr = E_FAIL;
        EXPECT_EQ(r.id, NameToId(so, r.name, &hr));
        EXPECT_EQ(S_OK, hr);
    }
    HRESULT hr = S_OK;
    EXPECT_EQ(DISPID_UNKNOWN, NameToId(so, L"CloseService", &hr));
    EXPECT_EQ(DISP_E_UNKNOWNNAME, hr);
    so->Release();
}

TEST(Dispatch, UnknownIdsCountsAndKindsGiveComErrors)
{
    CSoWorld w;
    IDispatch* so = w.NewServiceObject();
    ASSERT_NE(nullptr, so);
    VARIANT notANumber = Str(L"abc");
    VARIANT number = Str(L"12");
    struct
    {
        DISPID id;
        std::vector<VARIANT> args;
        HRESULT want;
    } rows[] = {
        {0, {}, DISP_E_MEMBERNOTFOUND},
        {41, {}, DISP_E_MEMBERNOTFOUND},
        {6, {I4(1)}, DISP_E_BADPARAMCOUNT},        // Close takes none
        {23, {I4(2)}, DISP_E_BADPARAMCOUNT},       // PrintNormal takes two
        {7, {notANumber}, DISP_E_TYPEMISMATCH},
        {12, {I4(1), I4(2), I4(3)}, DISP_E_TYPEMISMATCH},  // DirectIO's data must come by reference
        {7, {number}, S_OK},                       // converted to the declared kind
        {15, {I4(1)}, S_OK},
    };
    for (auto& r : rows) {
        VARIANT res;
        VariantInit(&res);
        EXPECT_EQ(r.want, InvokeArgs(so, r.id, r.args, &res)) << r.id;
        VariantClear(&res);
    }
    VariantClear(&notANumber);
    VariantClear(&number);
    so->Release();
}

// Every method through the Control Object with the argument kinds it uses; the device is open
// but not claimed.
TEST(ControlObject, CallsEveryMethodWithItsArgumentKinds)
{
    CSoWorld w;
    ITestControlObject* co = w.NewControlObject();
    ASSERT_EQ(0, co->Open("LP1"));
    w.port.Default("OpenPort", 0);  // the port never opens: no claim

    long data = 7;
    BSTR text = SysAllocString(L"in");
    long compare = 99;
    BSTR stats = SysAllocString(L"");
    auto pi4 = [](long* p) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_BYREF | VT_I4;
        v.plVal = p;
        return v;
    };
    auto pbstr = [](BSTR* p) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_BYREF | VT_BSTR;
        v.pbstrVal = p;
        return v;
    };
    VARIANT s = Str(L"data");
    struct
    {
        const char* name;
        std::vector<VARIANT> args;
        long want;
    } rows[] = {
        {"GetPropertyNumber", {I4(8)}, 1013000},
        {"GetPropertyNumber", {I4(9)}, 2},  // State idle
        {"GetPropertyNumber", {I4(1)}, 0},  // not claimed
        {"OpenService", {s, s}, 106},      // the Control Object puts its own dispatch third
        {"ClaimDevice", {I4(1000)}, 106},  // the port does not open
        {"Claim", {I4(0)}, 106},
        {"ReleaseDevice", {}, 106},
        {"Release", {}, 106},
        {"CheckHealth", {I4(1)}, 103},
        {"DirectIO", {I4(3), pi4(&data), pbstr(&text)}, 103},  // the status byte needs the claim
        {"COFreezeEvents", {I4(1)}, 0},
        {"COFreezeEvents", {I4(0)}, 0},
        {"ClearOutput", {}, 103},
        {"BeginInsertion", {I4(1)}, 106},
        {"BeginRemoval", {I4(1)}, 106},
        {"EndInsertion", {}, 106},
        {"EndRemoval", {}, 106},
        {"CutPaper", {I4(90)}, 103},
        {"PrintBarCode", {I4(2), s, I4(104), I4(50), I4(2), I4(1), I4(11)}, 103},
        {"PrintBitmap", {I4(2), s, I4(1), I4(1)}, 103},
        {"PrintImmediate", {I4(2), s}, 103},
        {"PrintNormal", {I4(2), s}, 103},
        {"PrintTwoNormal", {I4(3), s, s}, 106},
        {"RotatePrint", {I4(2), I4(1)}, 103},
        {"SetBitmap", {I4(1), I4(2), s, I4(1), I4(1)}, 103},
        {"SetLogo", {I4(1), s}, 103},
        {"TransactionPrint", {I4(2), I4(11)}, 103},
        {"ValidateData", {I4(2), s}, 103},
        {"ChangePrintSide", {I4(1)}, 106},
        {"MarkFeed", {I4(1)}, 103},  // it sends a label: claimed and enabled first
        {"ResetStatistics", {s}, 106},
        {"RetrieveStatistics", {pbstr(&stats)}, 106},
        {"UpdateStatistics", {s}, 106},
        {"CompareFirmwareVersion", {s, pi4(&compare)}, 106},
        {"UpdateFirmware", {s}, 106},
        {"ClearPrintArea", {}, 103},
        {"pageModePrint", {I4(1)}, 103},
        {"PrintMemoryBitmap", {I4(2), s, I4(1), I4(1), I4(1)}, 106},
        {"DrawRuledLine", {I4(2), s, I4(1), I4(1), I4(1), I4(1)}, 106},
    };
    for (auto& r : rows) {
        if (std::string(r.name) == "OpenService") {
            // An open object is not opened again.
            VARIANT args[3] = {r.args[0], r.args[1], I4(0)};
            EXPECT_EQ(106, co->Call("OpenService", 3, args, nullptr));
            continue;
        }
        long got = co->Call(r.name, int(r.args.size()), r.args.empty() ? nullptr : r.args.data(), nullptr);
        EXPECT_EQ(S_OK, co->LastInvokeResult()) << r.name;
        EXPECT_EQ(r.want, got) << r.name;
        if (std::string(r.name) != "GetPropertyNumber") {
            VARIANT idx = I4(6);
            EXPECT_EQ(r.want, co->Call("GetPropertyNumber", 1, &idx, nullptr)) << "ResultCode after " << r.name;
        }
    }
    EXPECT_EQ(7, data);  // by-reference arguments reach the object and come back untouched
    EXPECT_EQ(99, compare);

    // The property methods without a result put their outcome in ResultCode.
    VARIANT set[2] = {I4(8002), I4(437)};  // CharacterSet needs a claimed device
    co->Call("SetPropertyNumber", 2, set, nullptr);
    EXPECT_EQ(S_OK, co->LastInvokeResult());
    VARIANT rc = I4(6);
    EXPECT_EQ(103, co->Call("GetPropertyNumber", 1, &rc, nullptr));
    VARIANT str;
    VARIANT sidx = I4(1000001);
    co->Call("GetPropertyString", 1, &sidx, &str);
    EXPECT_EQ(S_OK, co->LastInvokeResult());
    EXPECT_EQ(VT_BSTR, str.vt);
    VariantClear(&str);

    EXPECT_EQ(0, co->Close());
    VariantClear(&s);
    SysFreeString(text);
    SysFreeString(stats);
}

TEST(ControlObject, UnsupportedMethodsReturn106BeforeAndAfterOpen)
{
    CSoWorld w(1);
    const wchar_t* names[] = {L"BeginInsertion", L"BeginRemoval", L"EndInsertion", L"EndRemoval",
                              L"PrintTwoNormal", L"ChangePrintSide", L"ResetStatistics", L"RetrieveStatistics",
                              L"UpdateStatistics", L"CompareFirmwareVersion", L"UpdateFirmware",
                              L"PrintMemoryBitmap", L"DrawRuledLine"};
    // Before OpenService: straight through IDispatch, with arguments of the declared kinds.
    IDispatch* so = w.NewServiceObject();
    ASSERT_NE(nullptr, so);
    long out = 0;
    BSTR buf = SysAllocString(L"");
    for (const wchar_t* n : names) {
        DISPID id = NameToId(so, n);
        std::vector<VARIANT> args;
        std::wstring name = n;
        VARIANT pl;
        VariantInit(&pl);
        pl.vt = VT_BYREF | VT_I4;
        pl.plVal = &out;
        VARIANT pb;
        VariantInit(&pb);
        pb.vt = VT_BYREF | VT_BSTR;
        pb.pbstrVal = &buf;
        if (name == L"RetrieveStatistics")
            args = {pb};
        else if (name == L"CompareFirmwareVersion")
            args = {I4(0), pl};
        else if (name == L"ResetStatistics" || name == L"UpdateStatistics" || name == L"UpdateFirmware")
            args = {I4(0)};
        else if (name == L"PrintTwoNormal")
            args = {I4(3), I4(0), I4(0)};
        else if (name == L"PrintMemoryBitmap")
            args = {I4(2), I4(0), I4(1), I4(1), I4(1)};
        else if (name == L"DrawRuledLine")
            args = {I4(2), I4(0), I4(1), I4(1), I4(1), I4(1)};
        else if (name == L"EndInsertion" || name == L"EndRemoval")
            args = {};
        else
            args = {I4(1)};
        VARIANT res;
        VariantInit(&res);
        ASSERT_EQ(S_OK, InvokeArgs(so, id, args, &res)) << id;
        EXPECT_EQ(VT_I4, res.vt);
        EXPECT_EQ(106, res.lVal);
        VARIANT rc;
        VariantInit(&rc);
        ASSERT_EQ(S_OK, InvokeArgs(so, 1, {I4(6)}, &rc));
        EXPECT_EQ(106, rc.lVal);
    }
    SysFreeString(buf);
    so->Release();
    EXPECT_TRUE(w.LogLines().empty());  // no OpenService: no log

    // After OpenService, through the Control Object; the log is on for this device.
    ITestControlObject* co = w.NewControlObject();
    ASSERT_EQ(0, co->Open("LP1"));
    VARIANT one = I4(1);
    EXPECT_EQ(106, co->Call("ChangePrintSide", 1, &one, nullptr));
    VARIANT pmb[5] = {I4(2), Str(L"x"), I4(3), I4(4), I4(5)};
    EXPECT_EQ(106, co->Call("PrintMemoryBitmap", 5, pmb, nullptr));
    VariantClear(&pmb[1]);
    VARIANT drl[6] = {I4(2), Str(L"1,2"), I4(1), I4(1), I4(1), I4(1)};
    EXPECT_EQ(106, co->Call("DrawRuledLine", 6, drl, nullptr));
    VariantClear(&drl[1]);
    EXPECT_EQ(0, co->Close());

    std::vector<std::string> lines = w.LogLines();
    EXPECT_TRUE(Contains(lines, "m_ctlLabelPrinter1.OpenService(\"LP1\");"));
    EXPECT_TRUE(Contains(lines, "OpenService <DeviceClass=POSPrinter, DeviceName=LP1>"));
    EXPECT_TRUE(Contains(lines, "not supported in ChangePrintSide."));
    EXPECT_TRUE(Contains(lines, "+PrintMemoryBitmap < Station : 2, Type : 3, Width : 4, Alignment : 5 >"));
    EXPECT_TRUE(Contains(lines, "-OpenService = 0 "));
}

// ---- Lifetime

bool Alive(DWORD tid)
{
    std::vector<DWORD> now = ProcessThreads();
    return std::find(now.begin(), now.end(), tid) != now.end();
}

TEST(Lifetime, ReleasingAnOpenObjectClosesItStopsItsThreadsAndFreesIt)
{
    CSoWorld w(1);
    ITestControlObject* co = w.NewControlObject();
    IDispatch* so = w.NewServiceObject();
    ASSERT_NE(nullptr, so);
    IDispatch* coDisp = nullptr;
    ASSERT_EQ(S_OK, co->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&coDisp)));

    std::vector<DWORD> before = ProcessThreads();
    VARIANT cls = Str(L"POSPrinter"), dev = Str(L"LP1");
    VARIANT cod;
    VariantInit(&cod);
    cod.vt = VT_DISPATCH;
    cod.pdispVal = coDisp;
    VARIANT res;
    VariantInit(&res);
    ASSERT_EQ(S_OK, InvokeArgs(so, 5, {cls, dev, cod}, &res));
    ASSERT_EQ(0, res.lVal);
    std::vector<DWORD> after = ProcessThreads();
    std::vector<DWORD> started;
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(started));
    ASSERT_EQ(2u, started.size());  // the event and print threads

    EXPECT_EQ(0u, so->Release());  // no Close: the application forgot it
    for (DWORD tid : started)
        EXPECT_TRUE(WaitFor([tid] { return !Alive(tid); }, 20000)) << tid;

    HMODULE corvane = GetModuleHandleA("Corvane.dll");
    ASSERT_NE(nullptr, corvane);
    auto canUnload = Proc<HRESULT(WINAPI*)()>(corvane, "DllCanUnloadNow");
    EXPECT_EQ(S_OK, canUnload());

    std::vector<std::string> lines = w.LogLines();
    auto at = [&lines](const char* t) { return std::find(lines.begin(), lines.end(), t) - lines.begin(); };
    ASSERT_TRUE(Contains(lines, "+Close"));
    EXPECT_LT(at("+Close"), at("Waiting Destory Thread : EventThread"));
    EXPECT_LT(at("Waiting Destory Thread : AsyncPrintThread"), at("-Close"));
    EXPECT_LT(at("-Close"), at("- ~CLABELPrinter"));
    EXPECT_FALSE(Contains(lines, "call TerminateThread : EventThread"));  // ended by themselves
    EXPECT_FALSE(Contains(lines, "call TerminateThread : AsyncPrintThread"));
    VariantClear(&cls);
    VariantClear(&dev);
    coDisp->Release();
}

TEST(Lifetime, FailedOpenServiceIsReleasedWithoutCloseAndGivesBackTheLogUser)
{
    CSoWorld w(1);
    // An old file of this device in its Log folder goes when the log's last user does.
    ASSERT_TRUE(CreateDirectoryA(w.folder.File("Log").c_str(), nullptr));
    ASSERT_TRUE(w.folder.Write("Log\\LP1_Mon_010101.log", "old"));
    HANDLE h = CreateFileA(w.folder.File("Log\\LP1_Mon_010101.log").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    FILETIME old = {};
    SYSTEMTIME st = {};
    st.wYear = 2001;
    st.wMonth = 1;
    st.wDay = 1;
    SystemTimeToFileTime(&st, &old);
    ASSERT_TRUE(SetFileTime(h, nullptr, &old, &old));
    CloseHandle(h);

    // The failed OpenService gives the log user back itself, before the object is released.
    ITestControlObject* co = w.NewControlObject();
    co->HideCallback("SOError");
    IDispatch* so = w.NewServiceObject();
    ASSERT_NE(nullptr, so);
    IDispatch* coDisp = nullptr;
    ASSERT_EQ(S_OK, co->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&coDisp)));
    VARIANT cls = Str(L"POSPrinter"), dev = Str(L"LP1"), cod, res;
    VariantInit(&cod);
    cod.vt = VT_DISPATCH;
    cod.pdispVal = coDisp;
    VariantInit(&res);
    ASSERT_EQ(S_OK, InvokeArgs(so, 5, {cls, dev, cod}, &res));
    EXPECT_EQ(104, res.lVal);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(w.folder.File("Log\\LP1_Mon_010101.log").c_str()));
    so->Release();
    coDisp->Release();
    VariantClear(&cls);
    VariantClear(&dev);

    // Through a Control Object, which releases the object without Close.
    co = w.NewControlObject();
    co->HideCallback("SOError");
    EXPECT_EQ(104, co->Open("LP1"));
    EXPECT_EQ(nullptr, co->Service());
    std::vector<std::string> lines = w.LogLines();
    EXPECT_TRUE(Contains(lines, "!ERROR: -OpenService : Dispatch Error!"));
    EXPECT_FALSE(Contains(lines, "- ~CLABELPrinter"));  // no longer a user of the log
    EXPECT_FALSE(Contains(lines, "+Close"));
}

TEST(Lifetime, LibraryUnloadsOnlyWhenNoObjectIsAlive)
{
    CSoWorld w;
    IDispatch* a = w.NewServiceObject();
    IDispatch* b = w.NewServiceObject();
    ASSERT_TRUE(a && b);
    HMODULE corvane = GetModuleHandleA("Corvane.dll");
    ASSERT_NE(nullptr, corvane);
    auto canUnload = Proc<HRESULT(WINAPI*)()>(corvane, "DllCanUnloadNow");

    a->Release();
    EXPECT_EQ(S_FALSE, canUnload());
    CoFreeUnusedLibrariesEx(0, 0);
    EXPECT_NE(nullptr, GetModuleHandleA("Corvane.dll"));

    // A factory lock holds the library as an object does.
    IClassFactory* f = nullptr;
    CLSID clsid;
    ASSERT_EQ(S_OK, CLSIDFromProgID(L"" SO_PROGID, &clsid));
    ASSERT_EQ(S_OK, CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&f)));
    ASSERT_EQ(S_OK, f->LockServer(TRUE));
    f->Release();
    b->Release();
    EXPECT_EQ(S_FALSE, canUnload());
    CoFreeUnusedLibrariesEx(0, 0);
    EXPECT_NE(nullptr, GetModuleHandleA("Corvane.dll"));

    ASSERT_EQ(S_OK, CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&f)));
    f->LockServer(FALSE);
    f->Release();
    EXPECT_EQ(S_OK, canUnload());
    CoFreeUnusedLibrariesEx(0, 0);
    EXPECT_EQ(nullptr, GetModuleHandleA("Corvane.dll"));
}

// ---- The test Control Object's callbacks

TEST(ControlObject, CallbacksAreRecordedWithTheirThreadAndAnswered)
{
    CSoWorld w;
    ITestControlObject* co = w.NewControlObject();
    co->SetErrorResponse(12);
    IDispatch* d = nullptr;
    ASSERT_EQ(S_OK, co->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d)));

    // On the application's own thread: at once.
    ASSERT_EQ(S_OK, InvokeArgs(d, NameToId(d, L"SOStatusUpdate"), {I4(24)}, nullptr));
    ASSERT_EQ(1, co->EventCount());

    // From another thread: held until this thread pumps, then fired here; recorded with the
    // thread it came on.
    long answered = 0;
    HRESULT workerHr = E_FAIL;
    DWORD workerId = 0;
    std::thread worker([&] {
        workerId = GetCurrentThreadId();
        long response = 11;
        VARIANT r;
        VariantInit(&r);
        r.vt = VT_BYREF | VT_I4;
        r.plVal = &response;
        workerHr = InvokeArgs(d, NameToId(d, L"SOError"), {I4(111), I4(201), I4(1), r}, nullptr);
        answered = response;
    });
    EXPECT_TRUE(co->WaitForEvents(2, 60000));
    worker.join();
    EXPECT_EQ(S_OK, workerHr);
    EXPECT_EQ(12, answered);  // the scripted response came back by reference

    TestCoEvent e[2];
    ASSERT_TRUE(co->GetEvent(0, &e[0]) && co->GetEvent(1, &e[1]));
    EXPECT_STREQ("SOStatusUpdate", e[0].name);
    EXPECT_EQ(24, e[0].args[0]);
    EXPECT_STREQ("SOError", e[1].name);
    EXPECT_EQ(111, e[1].args[0]);
    EXPECT_EQ(201, e[1].args[1]);
    EXPECT_EQ(1, e[1].args[2]);
    EXPECT_EQ(11, e[1].args[3]);
    EXPECT_EQ(GetCurrentThreadId(), e[0].threadId);
    EXPECT_EQ(GetCurrentThreadId(), e[0].firedOn);
    EXPECT_EQ(workerId, e[1].threadId);
    EXPECT_EQ(GetCurrentThreadId(), e[1].firedOn);
    d->Release();
}

} // namespace

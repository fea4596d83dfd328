// The wrappers' calls as their control receives them: dispatch id, kind, argument and result
// types, the named argument of a property put, text crossing as BSTR in the ANSI code page, and
// a failing Invoke answered with 104 and a readable reason. The control here is a recording
// IDispatch of the test's own, taken by the wrapper as a control made elsewhere.
#include "OposControls.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {
struct Call
{
    DISPID id;
    WORD flags;
    std::vector<VARTYPE> types;  // in the order the wrapper passed them
    std::vector<long> longs;
    std::vector<std::wstring> texts;
    UINT named = 0;
    DISPID namedId = 0;
    bool wantsResult = false;
};

struct Answer
{
    HRESULT hr = S_OK;
    VARTYPE vt = VT_I4;
    long value = 0;
    std::wstring text;
    std::wstring exception;  // DISP_E_EXCEPTION description
};

class RecordingDispatch : public IDispatch
{
public:
    std::vector<Call> calls;
    std::map<DISPID, Answer> answers;
    LONG refs = 1;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (iid == IID_IUnknown || iid == IID_IDispatch) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(InterlockedIncrement(&refs)); }
    ULONG STDMETHODCALLTYPE Release() override { return ULONG(InterlockedDecrement(&refs)); }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override
    {
        *n = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* p, VARIANT* result,
                                     EXCEPINFO* ex, UINT*) override
    {
        Call c;
        c.id = id;
        c.flags = flags;
        c.named = p->cNamedArgs;
        c.namedId = p->cNamedArgs ? p->rgdispidNamedArgs[0] : 0;
        c.wantsResult = result != nullptr;
        for (UINT i = p->cArgs; i-- > 0;) {  // arguments arrive last first
            const VARIANTARG& v = p->rgvarg[i];
            c.types.push_back(v.vt);
            if (v.vt == VT_BSTR)
                c.texts.push_back(std::wstring(v.bstrVal, SysStringLen(v.bstrVal)));
            else if (v.vt == VT_BOOL)
                c.longs.push_back(v.boolVal);
            else
                c.longs.push_back(v.lVal);
        }
        calls.push_back(c);
        Answer a = answers.count(id) ? answers[id] : Answer();
        if (!a.exception.empty()) {
            ex->bstrDescription = SysAllocString(a.exception.c_str());
            return DISP_E_EXCEPTION;
        }
        if (FAILED(a.hr))
            return a.hr;
        if (result) {
            VariantInit(result);
            result->vt = a.vt;
            if (a.vt == VT_BSTR)
                result->bstrVal = SysAllocString(a.text.c_str());
            else if (a.vt == VT_BOOL)
                result->boolVal = a.value ? VARIANT_TRUE : VARIANT_FALSE;
            else
                result->lVal = a.value;
        }
        return S_OK;
    }
};

template <class W> class Wired : public W
{
public:
    explicit Wired(IDispatch* d) { this->AttachControlDispatch(d); }
};
}

TEST(ControlCalls, EachCallReachesTheControlWithItsDispatchIdKindAndTypes)
{
    RecordingDispatch disp;
    disp.answers[17] = {S_OK, VT_BOOL, 1, L"", L""};
    disp.answers[105] = {S_OK, VT_BSTR, 0, L"no error", L""};
    for (DISPID id : {31, 32, 35, 37, 38})
        disp.answers[id] = {S_OK, VT_I4, 1000 + id, L"", L""};
    Wired<COPOSPOSPrinter> printer(&disp);
    Wired<COPOSCashDrawer> drawer(&disp);
    const WORD M = DISPATCH_METHOD, G = DISPATCH_PROPERTYGET, P = DISPATCH_PROPERTYPUT;
    struct Row
    {
        const char* call;
        std::function<long()> run;
        DISPID id;
        WORD flags;
        std::vector<VARTYPE> types;
        std::vector<long> longs;
        long result;  // what the wrapper returns (-1: nothing to compare)
    } rows[] = {
        {"Open", [&] { return printer.Open("LP1"); }, 37, M, {VT_BSTR}, {}, 1037},
        {"Close", [&] { return printer.Close(); }, 35, M, {}, {}, 1035},
        {"ClaimDevice", [&] { return printer.ClaimDevice(500); }, 32, M, {VT_I4}, {500}, 1032},
        {"ReleaseDevice", [&] { return printer.ReleaseDevice(); }, 38, M, {}, {}, 1038},
        {"CheckHealth", [&] { return printer.CheckHealth(3); }, 31, M, {VT_I4}, {3}, 1031},
        {"SetDeviceEnabled", [&] { printer.SetDeviceEnabled(TRUE); return -1L; }, 17, P, {VT_BOOL}, {VARIANT_TRUE}, -1},
        {"SetDeviceEnabled off", [&] { printer.SetDeviceEnabled(FALSE); return -1L; }, 17, P, {VT_BOOL}, {VARIANT_FALSE}, -1},
        {"GetDeviceEnabled", [&] { return long(printer.GetDeviceEnabled()); }, 17, G, {}, {}, TRUE},
        {"SetDispatchProperty20", [&] { printer.SetDispatchProperty20(1); return -1L; }, 20, P, {VT_I4}, {1}, -1},
        {"GetErrorText", [&] { return long(printer.GetErrorText() == "no error"); }, 105, G, {}, {}, 1},
        {"SetDispatchProperty106", [&] { printer.SetDispatchProperty106(TRUE); return -1L; }, 106, P, {VT_BOOL}, {VARIANT_TRUE}, -1},
        {"drawer Open", [&] { return drawer.Open("CD1"); }, 37, M, {VT_BSTR}, {}, 1037},
        {"drawer ClaimDevice", [&] { return drawer.ClaimDevice(100); }, 32, M, {VT_I4}, {100}, 1032},
        {"drawer SetDeviceEnabled", [&] { drawer.SetDeviceEnabled(TRUE); return -1L; }, 17, P, {VT_BOOL}, {VARIANT_TRUE}, -1},
        {"drawer CheckHealth", [&] { return drawer.CheckHealth(3); }, 31, M, {VT_I4}, {3}, 1031},
        {"drawer ReleaseDevice", [&] { return drawer.ReleaseDevice(); }, 38, M, {}, {}, 1038},
        {"drawer Close", [&] { return drawer.Close(); }, 35, M, {}, {}, 1035},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.call);
        disp.calls.clear();
        long got = r.run();
        ASSERT_EQ(disp.calls.size(), 1u);
        const Call& c = disp.calls[0];
        EXPECT_EQ(c.id, r.id);
        EXPECT_EQ(c.flags, r.flags);
        EXPECT_EQ(c.types, r.types);
        EXPECT_EQ(c.longs, r.longs);
        // A put names its value DISPID_PROPERTYPUT and wants no result; the others name nothing.
        EXPECT_EQ(c.named, r.flags == P ? 1u : 0u);
        if (r.flags == P) {
            EXPECT_EQ(c.namedId, DISPID(DISPID_PROPERTYPUT));
        }
        EXPECT_EQ(c.wantsResult, r.flags != P);
        if (r.result != -1) {
            EXPECT_EQ(got, r.result);
        }
    }
}

TEST(ControlCalls, TextCrossesAsBstrInTheAnsiCodePage)
{
    ASSERT_EQ(GetACP(), 1252u) << "the texts below are written in code page 1252";
    RecordingDispatch disp;
    disp.answers[105] = {S_OK, VT_BSTR, 0, L"Fehler: Ger\x00e4t \x201e" L"LP\x00b2\x201c belegt", L""};
    Wired<COPOSPOSPrinter> printer(&disp);
    printer.Open("Dr\xfc" "cker \xa7" "1");
    ASSERT_EQ(disp.calls.size(), 1u);
    ASSERT_EQ(disp.calls[0].texts.size(), 1u);
    EXPECT_TRUE(disp.calls[0].texts[0] == L"Dr\x00fc" L"cker \x00a7" L"1");
    EXPECT_STREQ(printer.GetErrorText(), "Fehler: Ger\xe4t \x84LP\xb2\x93 belegt");
}

TEST(ControlCalls, AFailingInvokeAnswersNoServiceWithAReadableReason)
{
    struct Row
    {
        const char* name;
        Answer answer;
        const char* reasonHas;
    } rows[] = {
        {"unknown dispatch id", {DISP_E_MEMBERNOTFOUND, VT_I4, 0, L"", L""}, "0x80020003"},
        {"wrong argument type", {DISP_E_TYPEMISMATCH, VT_I4, 0, L"", L""}, "0x80020005"},
        {"an exception of the control", {S_OK, VT_I4, 0, L"", L"The device is gone"}, "The device is gone"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        RecordingDispatch disp;
        disp.answers[37] = r.answer;
        disp.answers[105] = {S_OK, VT_BSTR, 0, L"not this one", L""};
        Wired<COPOSPOSPrinter> printer(&disp);
        EXPECT_EQ(printer.Open("LP1"), kOposNoService);
        std::string why = printer.GetErrorText().GetString();
        EXPECT_NE(why.find("The call 37 of the control failed"), std::string::npos) << why;
        EXPECT_NE(why.find(r.reasonHas), std::string::npos) << why;
        // The next call that works clears the reason: the control's own text is shown again.
        disp.answers[37] = {S_OK, VT_I4, 0, L"", L""};
        EXPECT_EQ(printer.Open("LP1"), 0);
        EXPECT_STREQ(printer.GetErrorText(), "not this one");
    }
}

TEST(ControlCalls, AResultOfAnotherTypeIsConvertedOrRefused)
{
    RecordingDispatch disp;
    disp.answers[32] = {S_OK, VT_BSTR, 0, L"106", L""};          // convertible to a long
    disp.answers[35] = {S_OK, VT_BSTR, 0, L"not a number", L""};  // not convertible
    Wired<COPOSPOSPrinter> printer(&disp);
    EXPECT_EQ(printer.ClaimDevice(100), 106);
    EXPECT_EQ(printer.Close(), kOposNoService);
}

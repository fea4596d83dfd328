// CLABELPrinter and the framework's dispatch inside this process: what Invoke hands a method for
// each argument kind, and the operations that share one body.
#include "LABELPrinter.h"
#include "FxOle.h"
#include "TestEnv.h"
#include "Variants.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A command target that reports what its methods received.
class CProbe : public CCmdTarget
{
public:
    long Number(long v)
    {
        lastNumber = v;
        return v;
    }
    long Text(const char* s)
    {
        lastText = s;
        return long(lastText.size());
    }
    long Both(long a, const char* b, long* c, BSTR* d)
    {
        lastNumber = a;
        lastText = b;
        *c += 1;
        SysFreeString(*d);
        *d = SysAllocString(L"out");
        return 0;
    }
    BSTR Name() { return SysAllocString(L"probe"); }
    void Nothing(long) {}
    const FX_DISPMAP* GetDispatchMap() const override;

    long lastNumber = 0;
    std::string lastText;
};

const FX_DISPMAP_ENTRY kProbe[] = {
    FX_DISP_FUNCTION(CProbe, "Number", 1, Number), FX_DISP_FUNCTION(CProbe, "Text", 2, Text),
    FX_DISP_FUNCTION(CProbe, "Both", 3, Both),     FX_DISP_FUNCTION(CProbe, "Name", 4, Name),
    FX_DISP_FUNCTION(CProbe, "Nothing", 5, Nothing),
};
const FX_DISPMAP kProbeMap = {kProbe, 5};
const FX_DISPMAP* CProbe::GetDispatchMap() const { return &kProbeMap; }

HRESULT Invoke1(CCmdTarget& t, DISPID id, VARIANT arg, VARIANT* res, UINT* argErr = nullptr)
{
    DISPPARAMS dp = {&arg, nullptr, 1, 0};
    return t.GetIDispatch(FALSE)->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &dp, res, nullptr, argErr);
}

TEST(DispatchArguments, ByValueArgumentsAreConvertedToTheDeclaredKind)
{
    CProbe p;
    p.ExternalAddRef();
    struct
    {
        VARTYPE vt;
        long i4;
        const wchar_t* text;
        HRESULT want;
        long reached;
    } rows[] = {
        {VT_BOOL, VARIANT_TRUE, nullptr, S_OK, -1},  // COFreezeEvents' TRUE
        {VT_BOOL, VARIANT_FALSE, nullptr, S_OK, 0},
        {VT_I2, 300, nullptr, S_OK, 300},
        {VT_I4, -7, nullptr, S_OK, -7},
        {VT_BSTR, 0, L"42", S_OK, 42},
        {VT_BSTR, 0, L"forty", DISP_E_TYPEMISMATCH, 0},
    };
    for (const auto& r : rows) {
        VARIANT v;
        VariantInit(&v);
        v.vt = r.vt;
        if (r.vt == VT_BOOL)
            v.boolVal = VARIANT_BOOL(r.i4);
        else if (r.vt == VT_I2)
            v.iVal = SHORT(r.i4);
        else if (r.vt == VT_I4)
            v.lVal = r.i4;
        else
            v.bstrVal = SysAllocString(r.text);
        p.lastNumber = 0;
        VARIANT res;
        VariantInit(&res);
        UINT argErr = 99;
        EXPECT_EQ(r.want, Invoke1(p, 1, v, &res, &argErr)) << r.vt;
        EXPECT_EQ(r.reached, p.lastNumber) << r.vt;
        if (r.want == S_OK) {
            EXPECT_EQ(VT_I4, res.vt);
            EXPECT_EQ(r.reached, res.lVal);
        } else {
            EXPECT_EQ(0u, argErr);
        }
        VariantClear(&v);
    }
    VARIANT n;
    VariantInit(&n);
    n.vt = VT_I4;
    n.lVal = 1234;
    VARIANT res;
    VariantInit(&res);
    ASSERT_EQ(S_OK, Invoke1(p, 2, n, &res));  // a number where text is declared
    EXPECT_EQ("1234", p.lastText);
    ASSERT_EQ(S_OK, Invoke1(p, 5, n, &res));
    EXPECT_EQ(VT_EMPTY, res.vt);  // no result
    EXPECT_EQ(S_OK, p.GetIDispatch(FALSE)->Invoke(4, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr));
}

TEST(DispatchArguments, ReversedOrderAndByReferenceArguments)
{
    CProbe p;
    p.ExternalAddRef();
    long counter = 5;
    BSTR s = SysAllocString(L"in");
    VARIANT wrapped;  // a script client's by-reference VARIANT
    VariantInit(&wrapped);
    wrapped.vt = VT_BSTR;
    wrapped.bstrVal = s;
    VARIANT args[4];
    for (VARIANT& a : args)
        VariantInit(&a);
    args[3].vt = VT_I4;  // first argument last
    args[3].lVal = 9;
    args[2].vt = VT_BSTR;
    args[2].bstrVal = SysAllocString(L"label");
    args[1].vt = VT_BYREF | VT_I4;
    args[1].plVal = &counter;
    args[0].vt = VT_BYREF | VT_VARIANT;
    args[0].pvarVal = &wrapped;
    DISPPARAMS dp = {args, nullptr, 4, 0};
    VARIANT res;
    VariantInit(&res);
    ASSERT_EQ(S_OK, p.GetIDispatch(FALSE)->Invoke(3, IID_NULL, 0, DISPATCH_METHOD, &dp, &res, nullptr, nullptr));
    EXPECT_EQ(9, p.lastNumber);
    EXPECT_EQ("label", p.lastText);
    EXPECT_EQ(6, counter);
    EXPECT_STREQ(L"out", wrapped.bstrVal);

    args[1].vt = VT_I4;  // by value where a reference is declared
    UINT argErr = 99;
    EXPECT_EQ(DISP_E_TYPEMISMATCH,
              p.GetIDispatch(FALSE)->Invoke(3, IID_NULL, 0, DISPATCH_METHOD, &dp, &res, nullptr, &argErr));
    EXPECT_EQ(1u, argErr);
    VariantClear(&args[2]);
    VariantClear(&wrapped);
}

// ---- The Service Object's own members

HRESULT Call(CLABELPrinter& so, DISPID id, std::vector<VARIANT> argsInOrder, long* result)
{
    std::vector<VARIANT> rev(argsInOrder.rbegin(), argsInOrder.rend());
    DISPPARAMS dp = {rev.empty() ? nullptr : rev.data(), nullptr, UINT(rev.size()), 0};
    VARIANT res;
    VariantInit(&res);
    HRESULT hr = so.GetIDispatch(FALSE)->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &dp, &res, nullptr, nullptr);
    if (result)
        *result = res.vt == VT_I4 ? res.lVal : -12345;
    VariantClear(&res);
    return hr;
}

TEST(ServiceObject, COFreezeEventsAsBoolReachesTheObject)
{
    CLABELPrinter* so = new CLABELPrinter;
    so->ExternalAddRef();
    long r = -1;
    ASSERT_EQ(S_OK, Call(*so, 13, {Bool(true)}, &r));
    EXPECT_EQ(0, r);
    EXPECT_TRUE(so->m_bCOFreezeEvents);
    ASSERT_EQ(S_OK, Call(*so, 13, {Bool(false)}, &r));
    EXPECT_FALSE(so->m_bCOFreezeEvents);
    so->ExternalRelease();
}

TEST(ServiceObject, ClaimAndReleaseRunTheSameOperationsAsTheirLongNames)
{
    struct
    {
        DISPID claim, release;
    } pairs[] = {{7, 9}, {8, 10}};
    for (const auto& p : pairs) {
        CLABELPrinter* so = new CLABELPrinter;
        so->ExternalAddRef();
        long r = -1;
        ASSERT_EQ(S_OK, Call(*so, p.claim, {I4(100)}, &r));
        EXPECT_EQ(106, r);  // no port connection
        so->m_Claimed = TRUE;
        ASSERT_EQ(S_OK, Call(*so, p.claim, {I4(100)}, &r));
        EXPECT_EQ(0, r);  // claimed already
        ASSERT_EQ(S_OK, Call(*so, p.release, {}, &r));
        EXPECT_EQ(0, r);
        EXPECT_FALSE(so->m_Claimed);
        ASSERT_EQ(S_OK, Call(*so, p.release, {}, &r));
        EXPECT_EQ(106, r);
        so->ExternalRelease();
    }
}

TEST(ServiceObject, RunTimeClassAndInterfaces)
{
    CLABELPrinter* so = new CLABELPrinter;
    so->ExternalAddRef();
    EXPECT_STREQ("CLABELPrinter", so->GetRuntimeClass()->m_lpszClassName);
    EXPECT_TRUE(so->IsKindOf(RUNTIME_CLASS(CCmdTarget)));
    const IID* iids[] = {&IID_IUnknown, &IID_IDispatch, &IID_DLABELPrinter};
    for (const IID* iid : iids) {
        void* p = nullptr;
        ASSERT_EQ(S_OK, so->ExternalQueryInterface(*iid, &p));
        EXPECT_EQ(static_cast<void*>(so->GetIDispatch(FALSE)), p);
        so->ExternalRelease();
    }
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, so->ExternalQueryInterface(IID_IClassFactory, &none));
    EXPECT_EQ(nullptr, none);
    so->ExternalRelease();
}

TEST(ServiceObject, ObjectsHoldTheLibraryLock)
{
    LONG before = AfxOleGetLockCount();
    CLABELPrinter* a = new CLABELPrinter;
    a->ExternalAddRef();
    EXPECT_EQ(before + 1, AfxOleGetLockCount());
    EXPECT_FALSE(AfxOleCanExitApp());
    a->ExternalRelease();
    EXPECT_EQ(before, AfxOleGetLockCount());
}

} // namespace

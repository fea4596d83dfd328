// Automation objects and in-process COM servers: a command target that answers IDispatch from a
// hand-written dispatch table, the class factory with its registration, the library lock, and
// the BSTR helpers of the dispatch boundary.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <olectl.h>

#include <cstddef>
#include <type_traits>
#include <utility>

#include "FxObject.h"
#include "FxString.h"

// ---- Library lock: objects alive, factory references and LockServer calls keep the DLL loaded.
void AfxOleLockApp();
void AfxOleUnlockApp();
LONG AfxOleGetLockCount();
// TRUE when nothing holds the library (DllCanUnloadNow may answer S_OK).
BOOL AfxOleCanExitApp();

// ---- BSTR and GUID helpers. Text is 8-bit in the system code page everywhere but at the
// dispatch boundary.
CString FxBstrToString(BSTR b);
BSTR FxStringToBstr(const char* s);   // never NULL unless out of memory
CString FxGuidText(REFGUID g);         // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case
// The dispatch id of one 8-bit name (converted with codePage), asked as automation clients do.
HRESULT FxGetDispID(IDispatch* disp, const char* name, UINT codePage, LCID lcid, DISPID* id);

// ---- Dispatch table.
// Kinds of the parameters and results of a dispatch method. By-value kinds are converted from
// whatever the caller passes (VariantChangeType); by-reference kinds must come by reference.
enum FxDispKind : unsigned char
{
    FXD_NONE = 0,   // no result
    FXD_I4,         // long by value
    FXD_STR,        // 8-bit text (from a BSTR) by value; the method gets const char*
    FXD_DISPATCH,   // IDispatch* by value
    FXD_PI4,        // long by reference
    FXD_PBSTR,      // BSTR by reference; the method may replace it
    FXD_BSTR,       // result only: a BSTR the caller owns
};

// One converted argument as the method sees it.
struct FxDispArg
{
    long i4 = 0;
    CString str;
    IDispatch* disp = nullptr;
    long* pi4 = nullptr;
    BSTR* pbstr = nullptr;
};

class CCmdTarget;

struct FX_DISPMAP_ENTRY
{
    const char* name;
    DISPID dispid;
    const unsigned char* params;  // zero-terminated list of FxDispKind
    int paramCount;
    unsigned char result;         // FXD_NONE, FXD_I4 or FXD_BSTR
    void (*call)(CCmdTarget* target, FxDispArg* args, VARIANT* result);
};

struct FX_DISPMAP
{
    const FX_DISPMAP_ENTRY* entries;
    int count;
};

template <class T> struct FxParamKind;
template <> struct FxParamKind<long>
{
    static constexpr unsigned char kind = FXD_I4;
    static long Get(FxDispArg& a) { return a.i4; }
};
template <> struct FxParamKind<const char*>
{
    static constexpr unsigned char kind = FXD_STR;
    static const char* Get(FxDispArg& a) { return a.str.GetString(); }
};
// The same text with its whole length: zero bytes inside it included.
template <> struct FxParamKind<const CString&>
{
    static constexpr unsigned char kind = FXD_STR;
    static const CString& Get(FxDispArg& a) { return a.str; }
};
template <> struct FxParamKind<IDispatch*>
{
    static constexpr unsigned char kind = FXD_DISPATCH;
    static IDispatch* Get(FxDispArg& a) { return a.disp; }
};
template <> struct FxParamKind<long*>
{
    static constexpr unsigned char kind = FXD_PI4;
    static long* Get(FxDispArg& a) { return a.pi4; }
};
template <> struct FxParamKind<BSTR*>
{
    static constexpr unsigned char kind = FXD_PBSTR;
    static BSTR* Get(FxDispArg& a) { return a.pbstr; }
};

template <class R> struct FxResultKind;
template <> struct FxResultKind<void>
{
    static constexpr unsigned char kind = FXD_NONE;
};
template <> struct FxResultKind<long>
{
    static constexpr unsigned char kind = FXD_I4;
    static void Set(VARIANT* v, long r)
    {
        if (v) {
            v->vt = VT_I4;
            v->lVal = r;
        }
    }
};
template <> struct FxResultKind<BSTR>
{
    static constexpr unsigned char kind = FXD_BSTR;
    static void Set(VARIANT* v, BSTR r)
    {
        if (v) {
            v->vt = VT_BSTR;
            v->bstrVal = r;
        } else {
            SysFreeString(r);
        }
    }
};

// The table entry of a member function, its parameter kinds taken from its signature.
template <auto M, class Sig = decltype(M)> struct FxDispThunk;
template <auto M, class C, class R, class... A>
struct FxDispThunk<M, R (C::*)(A...)>
{
    static constexpr unsigned char params[sizeof...(A) + 1] = {FxParamKind<A>::kind..., 0};
    static constexpr int count = int(sizeof...(A));
    static constexpr unsigned char result = FxResultKind<R>::kind;

    static void Call(CCmdTarget* t, FxDispArg* args, VARIANT* res)
    {
        Run(static_cast<C*>(t), args, res, std::index_sequence_for<A...>{});
    }

private:
    template <std::size_t... I>
    static void Run(C* c, FxDispArg* args, VARIANT* res, std::index_sequence<I...>)
    {
        (void)args;
        if constexpr (std::is_void_v<R>) {
            (void)res;
            (c->*M)(FxParamKind<A>::Get(args[I])...);
        } else {
            FxResultKind<R>::Set(res, (c->*M)(FxParamKind<A>::Get(args[I])...));
        }
    }
};

#define FX_DISP_FUNCTION(cls, name, id, method)                                                        \
    {                                                                                                  \
        name, id, FxDispThunk<&cls::method>::params, FxDispThunk<&cls::method>::count,                  \
            FxDispThunk<&cls::method>::result, &FxDispThunk<&cls::method>::Call                          \
    }

// ---- Command target: a reference-counted automation object. IDispatch is answered from the
// object's dispatch table: a name is looked up without regard to case, Invoke converts the
// arguments to the table's kinds and calls the method on the caller's thread.
class CCmdTarget : public CObject
{
    DECLARE_DYNAMIC(CCmdTarget)
public:
    CCmdTarget();
    ~CCmdTarget() override;

    // Runs when the last reference goes: deletes the object.
    virtual void OnFinalRelease() { delete this; }
    virtual const FX_DISPMAP* GetDispatchMap() const { return nullptr; }
    // The object's own dispatch interface id, answered by QueryInterface like IDispatch.
    virtual BOOL GetDispatchIID(IID* iid) { return FALSE; }
    virtual UINT GetTypeInfoCount() { return 0; }
    // Further interfaces of a derived class (returned without AddRef; NULL: none).
    virtual void* GetInterfaceHook(REFIID iid) { return nullptr; }

    IDispatch* GetIDispatch(BOOL addRef);
    ULONG ExternalAddRef();
    ULONG ExternalRelease();
    HRESULT ExternalQueryInterface(REFIID iid, void** ppv);

    // Finds a table entry by name (no regard to case) or dispatch id; NULL when none.
    virtual const FX_DISPMAP_ENTRY* FindDispEntry(const wchar_t* name) const;
    const FX_DISPMAP_ENTRY* FindDispEntry(DISPID id) const;

    // IDispatch::Invoke on this object's table.
    HRESULT InvokeHelper(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result, UINT* argErr);

protected:
    volatile LONG m_dwRef = 0;

private:
    struct XDispatch : public IDispatch
    {
        CCmdTarget* owner = nullptr;
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override;
        ULONG STDMETHODCALLTYPE AddRef() override;
        ULONG STDMETHODCALLTYPE Release() override;
        HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
        HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
        HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                                                DISPID* ids) override;
        HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                                         VARIANT* result, EXCEPINFO* excep, UINT* argErr) override;
    } m_xDispatch;
};

// ---- Class factory of one creatable class; every factory of a module is in one list.
class COleObjectFactory : public IClassFactory
{
public:
    typedef CCmdTarget* (*CreateFn)();

    COleObjectFactory(REFCLSID clsid, const CRuntimeClass* runtimeClass, CreateFn create, BOOL multiInstance,
                      LPCSTR progId);
    virtual ~COleObjectFactory();
    COleObjectFactory(const COleObjectFactory&) = delete;
    COleObjectFactory& operator=(const COleObjectFactory&) = delete;

    // Makes the module's factories known to the framework (DllGetClassObject answers only then).
    static BOOL RegisterAll();
    // Writes (or removes) every factory's ProgID and CLSID keys under HKEY_CLASSES_ROOT, with the
    // threading model (when given) on InprocServer32; S_OK or SELFREG_E_CLASS when a registry
    // write or deletion failed.
    static HRESULT UpdateRegistryAll(BOOL bRegister, LPCSTR threadingModel = nullptr);
    static HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** ppv);

    HRESULT UpdateRegistry(BOOL bRegister, LPCSTR threadingModel = nullptr);
    REFCLSID GetClassID() const { return m_clsid; }
    LPCSTR GetProgID() const { return m_progId; }
    const CRuntimeClass* GetRuntimeClass() const { return m_runtimeClass; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** ppv) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

private:
    CLSID m_clsid;
    const CRuntimeClass* m_runtimeClass;
    CreateFn m_create;
    BOOL m_multiInstance;
    LPCSTR m_progId;
    BOOL m_registered = FALSE;
    volatile LONG m_refs = 0;
    COleObjectFactory* m_next;
};

// Registry helpers of the registration: a REG_SZ value (NULL name: the default value) in a key
// that is created when missing; a key with all its subkeys (a missing key is no error).
BOOL FxRegSetString(HKEY root, LPCSTR key, LPCSTR name, LPCSTR value);
BOOL FxRegDeleteTree(HKEY root, LPCSTR key);
#endif

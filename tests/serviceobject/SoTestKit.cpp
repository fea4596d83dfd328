#include "SoTestKit.h"

#include "ScriptQln.h"

#include <tlhelp32.h>

#include <algorithm>

namespace {
HMODULE CoLibrary()
{
    static HMODULE h = LoadLibraryA(WinPath(TESTCO_DLL).c_str());
    return h;
}
}

int RunRegsvr32(const std::string& dll, bool unregister)
{
    std::string cmd = std::string("C:\\windows\\syswow64\\regsvr32.exe /s ") + (unregister ? "/u " : "") + "\"" + dll + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back(0);
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi))
        return -1;
    WaitForSingleObject(pi.hProcess, 120000);
    DWORD code = DWORD(-1);
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return int(code);
}

std::string CorvanePath() { return WinPath(CORVANE_DLL); }

std::string ReadClassesString(const std::string& key, const char* name)
{
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS)
        return std::string();
    char buf[1024];
    DWORD type = 0, size = sizeof buf - 1;
    LONG r = RegQueryValueExA(k, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(k);
    if (r != ERROR_SUCCESS || type != REG_SZ)
        return std::string();
    buf[size] = 0;
    return buf;
}

bool ClassesKeyExists(const std::string& key)
{
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS)
        return false;
    RegCloseKey(k);
    return true;
}

std::vector<DWORD> ProcessThreads()
{
    std::vector<DWORD> ids;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE)
        return ids;
    THREADENTRY32 te = {};
    te.dwSize = sizeof te;
    for (BOOL ok = Thread32First(snap, &te); ok; ok = Thread32Next(snap, &te))
        if (te.th32OwnerProcessID == GetCurrentProcessId())
            ids.push_back(te.th32ThreadID);
    CloseHandle(snap);
    std::sort(ids.begin(), ids.end());
    return ids;
}

// ---- The scripted port manager

CScriptedPort::CScriptedPort() { module = LoadLibraryA(WinPath(SCRIPTQLN_DLL).c_str()); }
CScriptedPort::~CScriptedPort()
{
    if (module)
        FreeLibrary(module);
}

void CScriptedPort::Reset() { Proc<ScriptResetFn>(module, "ScriptReset")(); }
void CScriptedPort::Result(const char* call, int value, int id)
{
    Proc<ScriptResultFn>(module, "ScriptResult")(id, call, value);
}
void CScriptedPort::Default(const char* call, int value, int id)
{
    Proc<ScriptDefaultFn>(module, "ScriptDefault")(id, call, value);
}
void CScriptedPort::Frame(int frame, int id) { Proc<ScriptStatusFrameFn>(module, "ScriptStatusFrame")(id, frame); }
void CScriptedPort::LateAnswer(int request, int answer, DWORD delayMs, int id)
{
    Proc<ScriptLateAnswerFn>(module, "ScriptLateAnswer")(id, request, answer, delayMs);
}
void CScriptedPort::Hook(const char* call, ScriptHookProc proc, void* context, int id)
{
    Proc<ScriptHookFn>(module, "ScriptHook")(id, call, proc, context);
}

std::vector<std::string> CScriptedPort::Calls() const
{
    auto count = Proc<ScriptCallCountFn>(module, "ScriptCallCount");
    auto call = Proc<ScriptCallFn>(module, "ScriptCall");
    std::vector<std::string> out;
    char buf[512];
    for (int i = 0, n = count(); i < n; ++i)
        if (call(i, buf, sizeof buf))
            out.push_back(buf);
    return out;
}

std::vector<std::string> CScriptedPort::Calls(const std::string& prefix) const
{
    std::vector<std::string> out;
    for (const std::string& c : Calls())
        if (c.compare(0, prefix.size(), prefix) == 0)
            out.push_back(c);
    return out;
}

std::string CScriptedPort::Written() const
{
    auto written = Proc<ScriptWrittenFn>(module, "ScriptWritten");
    std::string out(size_t(written(nullptr, 0)), '\0');
    written(reinterpret_cast<BYTE*>(&out[0]), int(out.size()));
    return out;
}

std::vector<DWORD> CScriptedPort::LastDeviceOption() const
{
    std::vector<DWORD> f(19);
    Proc<ScriptDeviceOptionFn>(module, "ScriptDeviceOption")(f.data(), 19);
    return f;
}

// ---- The world

namespace {
void CopyInf(const CTempFolder& folder, const char* name)
{
    folder.Write(name, ReadWholeFile(WinPath(INF_DIR) + "\\" + name));
}
}

CSoWorld::CSoWorld(DWORD log, const char* device)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    for (const char* f : {"VL420.inf", "qlksfont.inf", "setup_label.inf", "preform.inf", "custom.inf"})
        CopyInf(folder, f);
    reg.SetString("Software\\OLEforRetail\\ServiceInfo\\VESK OPOS", "qlnadir", WinPath(SCRIPTQLN_DLL).c_str());
    port.Reset();
    port.Default("StatusAnswer", 0, SCRIPT_ANY_PORT);  // printers that answer "all well"
    AddDevice(device, "127.0.0.1");
    std::string key = std::string("Software\\OLEforRetail\\ServiceOPOS\\POSPrinter\\") + device;
    reg.SetDWORD(key.c_str(), "Log", log);
}

void CSoWorld::AddDevice(const char* device, const char* ip)
{
    std::string key = std::string("Software\\OLEforRetail\\ServiceOPOS\\POSPrinter\\") + device;
    reg.SetString(key.c_str(), nullptr, SO_PROGID);
    reg.SetString(key.c_str(), "inf", folder.File("VL420.inf").c_str());
    reg.SetString(key.c_str(), "DeviceName", device);
    reg.SetString(key.c_str(), "Port", "Ethernet");
    reg.SetString(key.c_str(), "TcpIp", ip);
    reg.SetDWORD(key.c_str(), "TcpPort", 9100);
    reg.SetDWORD(key.c_str(), "Log", 0);
}

CSoWorld::~CSoWorld()
{
    for (ITestControlObject* co : m_cos) {
        co->ReleaseService();
        co->Release();
    }
    CoUninitialize();
}

ITestControlObject* CSoWorld::NewControlObject()
{
    typedef HRESULT(WINAPI * GetClassObjectFn)(REFCLSID, REFIID, void**);
    auto get = Proc<GetClassObjectFn>(CoLibrary(), "DllGetClassObject");
    if (!get)
        return nullptr;
    IClassFactory* f = nullptr;
    if (FAILED(get(CLSID_TestControlObject, IID_IClassFactory, reinterpret_cast<void**>(&f))))
        return nullptr;
    ITestControlObject* co = nullptr;
    f->CreateInstance(nullptr, IID_ITestControlObject, reinterpret_cast<void**>(&co));
    f->Release();
    if (co)
        m_cos.push_back(co);
    return co;
}

IDispatch* CSoWorld::NewServiceObject()
{
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(L"" SO_PROGID, &clsid)))
        return nullptr;
    IDispatch* d = nullptr;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&d))))
        return nullptr;
    return d;
}

std::vector<std::string> CSoWorld::LogLines(const char* device) const
{
    std::vector<std::string> lines;
    std::string prefix = std::string(device) + "_Mon_";
    for (const std::string& name : folder.List("Log")) {
        if (name.compare(0, prefix.size(), prefix) != 0)
            continue;
        // "- (hh:mm:ss.mmm) " is 17 characters
        for (const std::string& l : SplitLines(folder.Read("Log\\" + name)))
            lines.push_back(l.size() >= 17 ? l.substr(17) : l);
    }
    return lines;
}

DISPID NameToId(IDispatch* d, const wchar_t* name, HRESULT* hr)
{
    LPOLESTR n = const_cast<LPOLESTR>(name);
    DISPID id = 12345;
    HRESULT r = d->GetIDsOfNames(IID_NULL, &n, 1, LOCALE_SYSTEM_DEFAULT, &id);
    if (hr)
        *hr = r;
    return id;
}

HRESULT InvokeArgs(IDispatch* d, DISPID id, std::vector<VARIANT> args, VARIANT* result)
{
    std::reverse(args.begin(), args.end());
    DISPPARAMS dp = {args.empty() ? nullptr : args.data(), nullptr, UINT(args.size()), 0};
    VARIANT local;
    VariantInit(&local);
    UINT argErr = 0;
    HRESULT hr = d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &dp, result ? result : &local, nullptr,
                           &argErr);
    VariantClear(&local);
    return hr;
}

bool Contains(const std::vector<std::string>& lines, const std::string& text)
{
    return std::find(lines.begin(), lines.end(), text) != lines.end();
}

long GetNumber(ITestControlObject* co, long pidx)
{
    VARIANT v = I4(pidx);
    return co->Call("GetPropertyNumber", 1, &v, nullptr);
}

long SetNumber(ITestControlObject* co, long pidx, long value)
{
    VARIANT v[2] = {I4(pidx), I4(value)};
    co->Call("SetPropertyNumber", 2, v, nullptr);
    return GetNumber(co, 6);
}

long CallI4(ITestControlObject* co, const char* method, long value)
{
    VARIANT v = I4(value);
    return co->Call(method, 1, &v, nullptr);
}

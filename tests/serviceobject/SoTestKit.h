// What the Service Object's tests share: the registration of Corvane in the prefix, the test
// Control Object, a device key pointing at the Service Object's ProgID, and the device's log.
#pragma once

#include "ScriptQln.h"
#include "TestControlObject.h"
#include "TestEnv.h"
#include "Variants.h"

#include <string>
#include <vector>

#define SO_PROGID "VESK.LabelPrinter.ServiceObject.1.13"
#define SO_CLSID_TEXT "{234F0FBE-04B3-44A5-BD34-7518AFF7B6C8}"

// Runs the prefix's 32-bit regsvr32 on a library; its exit code (-1 when it did not start).
int RunRegsvr32(const std::string& dll, bool unregister);
std::string CorvanePath();  // the library under test, as Windows names it

// A default value or named REG_SZ value under HKEY_CLASSES_ROOT; empty when missing.
std::string ReadClassesString(const std::string& key, const char* name = nullptr);
bool ClassesKeyExists(const std::string& key);

// The threads of this process.
std::vector<DWORD> ProcessThreads();

// The scripted port manager as the Service Object loads it (the same module): its script, by
// port id (the first port made is 40000), and its record of calls.
class CScriptedPort
{
public:
    CScriptedPort();
    ~CScriptedPort();
    void Reset();
    void Result(const char* call, int value, int id = 40000);
    void Default(const char* call, int value, int id = 40000);
    void Frame(int frame, int id = 40000);
    // The request-th status request from now on is answered with `answer`, delayMs late.
    void LateAnswer(int request, int answer, DWORD delayMs, int id = 40000);
    // proc runs at the start of every call of that name on the port (null: no longer).
    void Hook(const char* call, ScriptHookProc proc, void* context, int id = 40000);
    std::vector<std::string> Calls() const;
    // The calls whose text starts with prefix.
    std::vector<std::string> Calls(const std::string& prefix) const;
    std::string Written() const;
    std::vector<DWORD> LastDeviceOption() const;
    HMODULE module = nullptr;
};

// One test's world: an apartment, a scratch HKLM with the device key "LP1" (a network printer on
// the scripted port manager, with the VL420 model file in its INF folder), and fresh test
// Control Objects.
class CSoWorld
{
public:
    explicit CSoWorld(DWORD log = 0, const char* device = "LP1");
    ~CSoWorld();
    // Another device key in the same folder.
    void AddDevice(const char* device, const char* ip);

    ITestControlObject* NewControlObject();  // owned by the world
    // A Service Object made by its ProgID, not opened (the caller releases it).
    IDispatch* NewServiceObject();
    // The device's trace lines (all its hourly files, in order).
    std::vector<std::string> LogLines(const char* device = "LP1") const;

    CTestRegistry reg;
    CTempFolder folder;
    CScriptedPort port;

private:
    std::vector<ITestControlObject*> m_cos;
};

// Calls through a Control Object: a number property; a setter, giving the ResultCode it leaves;
// a method with one I4 argument.
long GetNumber(ITestControlObject* co, long pidx);
long SetNumber(ITestControlObject* co, long pidx, long value);
long CallI4(ITestControlObject* co, const char* method, long value);

// Plain dispatch calls of a Service Object for the tests that go around the Control Object.
DISPID NameToId(IDispatch* d, const wchar_t* name, HRESULT* hr = nullptr);
HRESULT InvokeArgs(IDispatch* d, DISPID id, std::vector<VARIANT> argsInOrder, VARIANT* result);
bool Contains(const std::vector<std::string>& lines, const std::string& text);

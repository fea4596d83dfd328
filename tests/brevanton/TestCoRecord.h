// The test Control Object's script and record as the configuration dialog's tests use them,
// from the module that COM loaded for the hosted control (TESTCO_DLL names it).
#pragma once

#include "TestCoControls.h"
#include "TestEnv.h"

#include <string>
#include <vector>

// The library's script and record, from the module that COM loaded for the control.
struct TestCo
{
    HMODULE module = LoadLibraryA(WinPath(TESTCO_DLL).c_str());
    TestCoScriptFn script = Proc<TestCoScriptFn>(module, "TestCoScript");
    TestCoResetFn reset = Proc<TestCoResetFn>(module, "TestCoReset");
    TestCoGetCallFn get = Proc<TestCoGetCallFn>(module, "TestCoGetCall");

    bool Ready() const { return script && reset && get; }
    void Answer(DISPID id, WORD kind, VARTYPE vt, long number, const wchar_t* text = nullptr)
    {
        TestCoAnswer a = {S_OK, vt, number, text, nullptr};
        script(kTestCoPOSPrinter, id, kind, &a);
    }
    // The dispatch calls of the POSPrinter control as "Name(arg)" in order.
    std::vector<std::string> Calls() const
    {
        std::vector<std::string> out;
        TestCoCall c;
        for (int i = 0; get(i, &c); ++i) {
            if (c.cls != kTestCoPOSPrinter || std::string(c.member) != "Invoke")
                continue;
            std::string name;
            switch (c.id) {
            case 37: name = "Open"; break;
            case 35: name = "Close"; break;
            case 32: name = "ClaimDevice"; break;
            case 38: name = "ReleaseDevice"; break;
            case 31: name = "CheckHealth"; break;
            case 17: name = c.kind == DISPATCH_PROPERTYPUT ? "DeviceEnabled=" : "DeviceEnabled?"; break;
            case 20: name = "Property20="; break;
            case 105: name = "ErrorText?"; break;
            default: name = "#" + std::to_string(c.id); break;
            }
            if (c.id == 37) {
                std::wstring w(c.text);
                name += "(" + std::string(w.begin(), w.end()) + ")";
            } else if (c.argc > 0) {
                name += "(" + std::to_string(c.number) + ")";
            }
            out.push_back(name);
        }
        return out;
    }
};
inline TestCo& Co()
{
    static TestCo co;
    return co;
}


// What the cash drawer tests share: the class INF of the drawers (no Service Object of this set
// serves them, so the install folder has none: the tests write it), receipt printer and drawer
// keys, and the test Control Object's script and record of the CashDrawer class.
#pragma once

#include "BrevantonTestKit.h"
#include "TestCoControls.h"

#include <string>
#include <utility>
#include <vector>

extern const char kDrawerClassKey[];  // Software\OLEforRetail\ServiceOPOS\CashDrawer
extern const char kPosCashInf[];      // a complete poscash.inf [KPTCDW]

// A receipt printer key that a drawer can hang on.
void WriteReceiptPrinterKey(CTestRegistry& reg, const std::string& name);
// A drawer key as the dialog writes it, with its LDN.
void WriteDrawerKey(CTestRegistry& reg, const std::string& name, const char* ldn = "", const char* printer = "KPT300");
// The class key's aliases (value name, data), in name order.
std::vector<std::pair<std::string, std::string>> DrawerAliases();

// The CashDrawer class of the test Control Object: its script and the dispatch calls it received.
struct DrawerCall
{
    DISPID id;
    WORD kind;
    long number;
    std::wstring text;
    bool operator==(const DrawerCall& o) const
    {
        return id == o.id && kind == o.kind && number == o.number && text == o.text;
    }
};
class CDrawerScript
{
public:
    CDrawerScript();
    ~CDrawerScript();
    bool Ready() const { return m_script && m_reset && m_get; }
    // Every method answers result (VT_I4); the DeviceEnabled put answers S_OK.
    void AnswerAll(long result);
    void Answer(DISPID id, long result);
    std::vector<DrawerCall> Calls() const;

private:
    HMODULE m_module;
    TestCoScriptFn m_script;
    TestCoResetFn m_reset;
    TestCoGetCallFn m_get;
};

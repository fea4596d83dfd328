#include "CashTestKit.h"

#include <algorithm>

const char kDrawerClassKey[] = "Software\\OLEforRetail\\ServiceOPOS\\CashDrawer";
const char kPosCashInf[] = "[KPTCDW]\r\nDeviceDesc=VESK Cash Drawer\r\nSOName=VESK.CashDrawer.1\r\n"
                           "Description=Cash drawer on a receipt printer\r\n";

void WriteReceiptPrinterKey(CTestRegistry& reg, const std::string& name)
{
    std::string key = std::string(kPrinterClassKey) + "\\" + name;
    reg.SetString(key.c_str(), "", "VESK.POSPrinter.1");
    reg.SetString(key.c_str(), "DeviceName", name.c_str());
}

void WriteDrawerKey(CTestRegistry& reg, const std::string& name, const char* ldn, const char* printer)
{
    std::string key = std::string(kDrawerClassKey) + "\\" + name;
    reg.SetString(key.c_str(), "", "VESK.CashDrawer.1");
    reg.SetString(key.c_str(), "DeviceName", "KPTCDW");
    reg.SetString(key.c_str(), "LDN", ldn);
    reg.SetString(key.c_str(), "POSPrinter", printer);
    reg.SetString(key.c_str(), "OpenLevel", "1");
    reg.SetString(key.c_str(), "ConnectorPinNo", "1");
    reg.SetString(key.c_str(), "PulseOnTime", "150");
    reg.SetString(key.c_str(), "PulseOffTime", "250");
    if (ldn[0])
        reg.SetString(kDrawerClassKey, ldn, name.c_str());
}

std::vector<std::pair<std::string, std::string>> DrawerAliases()
{
    std::vector<std::pair<std::string, std::string>> out;
    for (const RegValueRow& v : RegValues(kDrawerClassKey))
        out.push_back({v.name, v.data});
    std::sort(out.begin(), out.end());
    return out;
}

CDrawerScript::CDrawerScript()
    : m_module(LoadLibraryA(WinPath(TESTCO_DLL).c_str())),
      m_script(Proc<TestCoScriptFn>(m_module, "TestCoScript")),
      m_reset(Proc<TestCoResetFn>(m_module, "TestCoReset")),
      m_get(Proc<TestCoGetCallFn>(m_module, "TestCoGetCall"))
{
    if (m_reset)
        m_reset();
}

CDrawerScript::~CDrawerScript()
{
    if (m_reset)
        m_reset();
}

void CDrawerScript::Answer(DISPID id, long result)
{
    TestCoAnswer a = {S_OK, VT_I4, result, nullptr, nullptr};
    m_script(kTestCoCashDrawer, id, DISPATCH_METHOD, &a);
}

void CDrawerScript::AnswerAll(long result)
{
    for (DISPID id : {31, 32, 35, 37, 38})
        Answer(id, result);
    TestCoAnswer put = {S_OK, VT_EMPTY, 0, nullptr, nullptr};
    m_script(kTestCoCashDrawer, 17, DISPATCH_PROPERTYPUT, &put);
}

std::vector<DrawerCall> CDrawerScript::Calls() const
{
    std::vector<DrawerCall> out;
    TestCoCall c;
    for (int i = 0; m_get(i, &c); ++i)
        if (c.cls == kTestCoCashDrawer && std::string(c.member) == "Invoke")
            out.push_back({c.id, c.kind, c.number, c.text});
    return out;
}

#include "BrevantonTestKit.h"

#include <gtest/gtest.h>

#include <ole2.h>

#include <algorithm>
#include <cstdlib>

const char kPrinterClassKey[] = "Software\\OLEforRetail\\ServiceOPOS\\POSPrinter";
const char kLabelProgId[] = "VESK.LabelPrinter.ServiceObject.1.13";

namespace {
std::string ShippedInf(const std::string& name)
{
    const char* src = std::getenv("VESK_SOURCE");
    return src ? WinPath(std::string(src) + "/inf/" + name) : std::string();
}

// The text with each line that begins with start replaced by with (dropped when with is empty).
std::string ReplaceLine(const std::string& text, const std::string& start, const std::string& with)
{
    std::string out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        std::string line = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        pos = end == std::string::npos ? text.size() : end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.compare(0, start.size(), start) == 0) {
            if (!with.empty())
                out += with + "\r\n";
        } else {
            out += line + "\r\n";
        }
    }
    return out;
}

std::vector<CNestedDialogWatch*> g_watches;
}

CUiThread::CUiThread()
{
    OleInitialize(nullptr);
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES | ICC_INTERNET_CLASSES};
    InitCommonControlsEx(&icc);
}

CUiThread::~CUiThread() { OleUninitialize(); }

CInstallFolder::CInstallFolder(CTestRegistry& reg, const InstallOptions& o)
{
    reg.WriteServiceInfo(m_folder.Path());
    std::string setup = ReadWholeFile(ShippedInf("setup.inf"));
    EXPECT_FALSE(setup.empty()) << "the shipped setup.inf";
    if (!o.version)
        setup = ReplaceLine(setup, "VersionDescription=", "");
    const std::string find = "FindAvailablePort=" + std::to_string(o.findAvailablePort);
    setup = ReplaceLine(setup, "FindAvailablePort=", find);
    EXPECT_NE(setup.find(find), std::string::npos) << "the shipped setup.inf has FindAvailablePort";
    m_folder.Write("setup.inf", setup);
    if (o.lbprn) {
        if (o.lbprnText) {
            m_folder.Write("lbprn.inf", o.lbprnText);
        } else {
            EXPECT_TRUE(CopyFileA(ShippedInf("lbprn.inf").c_str(), m_folder.File("lbprn.inf").c_str(), FALSE));
        }
    }
    if (o.allInf) {
        std::string infDir = ShippedInf("");
        WIN32_FIND_DATAA fd;
        HANDLE find = FindFirstFileA((infDir + "*.inf").c_str(), &fd);
        EXPECT_NE(find, INVALID_HANDLE_VALUE) << infDir;
        if (find != INVALID_HANDLE_VALUE) {
            do
                CopyFileA((infDir + fd.cFileName).c_str(), m_folder.File(fd.cFileName).c_str(), FALSE);
            while (FindNextFileA(find, &fd));
            FindClose(find);
        }
    }
    if (o.corvane) {
        EXPECT_TRUE(CopyFileA((TestBinDir() + "\\Corvane.dll").c_str(), m_folder.File("Corvane.dll").c_str(), FALSE))
            << "the built Corvane.dll beside the test";
    }
}

bool CopyShippedInf(CTempFolder& folder, const std::string& name)
{
    return CopyFileA(ShippedInf(name).c_str(), folder.File(name).c_str(), FALSE) != FALSE;
}

void WriteDeviceKey(CTestRegistry& reg, const std::string& name, const char* progId, const char* ldn,
                    const char* port, const char* deviceName)
{
    std::string key = std::string(kPrinterClassKey) + "\\" + name;
    if (progId)
        reg.SetString(key.c_str(), "", progId);
    reg.SetString(key.c_str(), "DeviceName", deviceName ? deviceName : name.substr(0, name.find('_')).c_str());
    reg.SetString(key.c_str(), "LDN", ldn);
    reg.SetString(key.c_str(), "Port", port);
}

void AddMachinePorts(CTestRegistry& reg, const std::vector<std::string>& names,
                     const std::map<std::string, std::string>& friendlyNames)
{
    const char guid[] = "{4D36E978-E325-11CE-BFC1-08002BE10318}";
    reg.SetString((std::string("System\\CurrentControlSet\\Control\\Class\\") + guid).c_str(), "Class", "Ports");
    int n = 0;
    for (const std::string& name : names) {
        std::string key = "System\\CurrentControlSet\\Enum\\VESKTEST\\CFG\\" + std::to_string(n++);
        auto friendly = friendlyNames.find(name);
        reg.SetString(key.c_str(), "ClassGUID", guid);
        reg.SetString(key.c_str(), "Class", "Ports");
        reg.SetString(key.c_str(), "FriendlyName",
                      friendly != friendlyNames.end() ? friendly->second.c_str() : ("Test port (" + name + ")").c_str());
        reg.SetString((key + "\\Device Parameters").c_str(), "PortName", name.c_str());
    }
}

int ComboSel(HWND dlg, int id) { return int(SendDlgItemMessageA(dlg, id, CB_GETCURSEL, 0, 0)); }

std::string ComboSelText(HWND dlg, int id)
{
    int i = ComboSel(dlg, id);
    if (i < 0)
        return "<none>";
    char t[256] = {};
    SendDlgItemMessageA(dlg, id, CB_GETLBTEXT, WPARAM(i), LPARAM(t));
    return t;
}

std::vector<std::string> ComboItems(HWND dlg, int id)
{
    std::vector<std::string> out;
    int n = int(SendDlgItemMessageA(dlg, id, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
        char t[256] = {};
        SendDlgItemMessageA(dlg, id, CB_GETLBTEXT, WPARAM(i), LPARAM(t));
        out.push_back(t);
    }
    return out;
}

void ChooseModelAndGoOn(HWND addDevice, int index)
{
    const int modelList = 1046, next = 1047;
    SendDlgItemMessageA(addDevice, modelList, LB_SETCURSEL, WPARAM(index), 0);
    PostMessageA(addDevice, WM_COMMAND, MAKEWPARAM(next, BN_CLICKED), LPARAM(GetDlgItem(addDevice, next)));
}

std::string RegString(const std::string& key, const char* name)
{
    char buf[1024] = {};
    DWORD size = sizeof buf - 1, type = 0;
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS)
        return "<no key>";
    LONG rc = RegQueryValueExA(k, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(k);
    return rc == ERROR_SUCCESS ? std::string(buf) : "<no value>";
}

std::vector<std::string> SubkeyNames(const std::string& key)
{
    std::vector<std::string> names;
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS)
        return names;
    for (DWORD i = 0;; ++i) {
        char name[260] = {};
        DWORD len = sizeof name;
        if (RegEnumKeyExA(k, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.push_back(name);
    }
    RegCloseKey(k);
    return names;
}

std::vector<RegValueRow> RegValues(const std::string& key)
{
    std::vector<RegValueRow> rows;
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS)
        return rows;
    for (DWORD i = 0;; ++i) {
        char name[260] = {}, data[1024] = {};
        DWORD nameLen = sizeof name, dataLen = sizeof data - 1, type = 0;
        if (RegEnumValueA(k, i, name, &nameLen, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataLen) !=
            ERROR_SUCCESS)
            break;
        rows.push_back({name, type, type == REG_SZ ? std::string(data) : std::string()});
    }
    RegCloseKey(k);
    return rows;
}

namespace {
struct NestedSearch
{
    int id;
    const std::vector<HWND>* handled;
    HWND found;
};

BOOL CALLBACK OnNestedWindow(HWND h, LPARAM lp)
{
    NestedSearch* s = reinterpret_cast<NestedSearch*>(lp);
    char cls[32] = {};
    GetClassNameA(h, cls, sizeof cls);
    if (lstrcmpA(cls, "#32770") != 0 || !IsWindowVisible(h) || !GetDlgItem(h, s->id))
        return TRUE;
    if (std::find(s->handled->begin(), s->handled->end(), h) != s->handled->end())
        return TRUE;
    s->found = h;
    return FALSE;
}

TreeItem ItemOf(HWND tree, HTREEITEM item, int depth)
{
    char text[260] = {};
    TVITEMA it = {};
    it.mask = TVIF_TEXT | TVIF_STATE;
    it.hItem = item;
    it.pszText = text;
    it.cchTextMax = sizeof text;
    it.stateMask = TVIS_BOLD;
    SendMessageA(tree, TVM_GETITEMA, 0, LPARAM(&it));
    return {text, depth, (it.state & TVIS_BOLD) != 0};
}

void Walk(HWND tree, HTREEITEM item, int depth, std::vector<TreeItem>& out)
{
    for (; item; item = TreeView_GetNextSibling(tree, item)) {
        out.push_back(ItemOf(tree, item, depth));
        Walk(tree, TreeView_GetChild(tree, item), depth + 1, out);
    }
}
}

std::vector<TreeItem> ReadTree(HWND tree)
{
    std::vector<TreeItem> items;
    Walk(tree, TreeView_GetRoot(tree), 0, items);
    return items;
}

HTREEITEM FindTreeItem(HWND tree, const std::string& text)
{
    std::vector<HTREEITEM> stack = {TreeView_GetRoot(tree)};
    while (!stack.empty()) {
        HTREEITEM item = stack.back();
        stack.pop_back();
        for (; item; item = TreeView_GetNextSibling(tree, item)) {
            if (ItemOf(tree, item, 0).text == text)
                return item;
            if (HTREEITEM child = TreeView_GetChild(tree, item))
                stack.push_back(child);
        }
    }
    return nullptr;
}

std::string TreeText(const std::vector<TreeItem>& items)
{
    std::string s;
    for (const TreeItem& i : items)
        s += std::string(size_t(i.depth) * 2, ' ') + i.text + (i.bold ? " (bold)" : "") + "\n";
    return s;
}

CNestedDialogWatch::CNestedDialogWatch(HWND, int recogniseId, std::function<void(HWND)> act)
    : m_id(recogniseId), m_act(std::move(act))
{
    g_watches.push_back(this);
    m_timer = SetTimer(nullptr, 0, 20, &CNestedDialogWatch::OnTimer);
}

CNestedDialogWatch::~CNestedDialogWatch()
{
    KillTimer(nullptr, m_timer);
    g_watches.erase(std::remove(g_watches.begin(), g_watches.end(), this), g_watches.end());
}

void CALLBACK CNestedDialogWatch::OnTimer(HWND, UINT, UINT_PTR id, DWORD)
{
    for (CNestedDialogWatch* w : g_watches) {
        if (w->m_timer != id)
            continue;
        NestedSearch s = {w->m_id, &w->m_handled, nullptr};
        EnumThreadWindows(GetCurrentThreadId(), OnNestedWindow, reinterpret_cast<LPARAM>(&s));
        if (s.found) {
            w->m_handled.push_back(s.found);
            ++w->m_seen;
            w->m_act(s.found);
        }
        return;
    }
}

void DialogTest::SetUp()
{
    OleInitialize(nullptr);
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);
}

void DialogTest::TearDown() { OleUninitialize(); }

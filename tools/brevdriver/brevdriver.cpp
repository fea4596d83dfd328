// brevdriver: works the installed setup utility Brevanton as a person at the screen would, for
// the main job. It starts the program and acts on its windows only through window messages:
// it finds them by class, title and control ids, posts clicks and the main dialog's keys, sets
// texts, selects list items by index (with the notification the control itself would send) and
// reads texts back. It has no hook into the program. Every wait is bounded: a window that does
// not come fails the run and names the window.
//
//   brevdriver.exe [--wait <seconds>] add <Brevanton.exe> <serial model> <COMn> <ethernet model>
//                  <tcp port> <logical name>
//       Raises the serial port range to COMn, adds a label printer of the first model on COMn
//       (flow control None) and one of the second on Ethernet at 127.0.0.1:<tcp port> with the
//       logical name, runs the interactive CheckHealth on the serial one (Print, then Exit) and
//       leaves. Prints what the windows showed, then "result: range <n>" (the range it found)
//       and one line "result: device <key> <port> <ldn or ->" per device added; "brevdriver: done" last.
//   brevdriver.exe [--wait <seconds>] remove <Brevanton.exe> <serial range> <key>...
//       Removes the devices of those key names (R, then OK), sets the serial port range back
//       and leaves.
//
// Exit code 0 when every step was done, 1 when one failed (the program is then ended), 2 for
// wrong arguments.
#include "CorvaneRes.h"
#include "resource.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

const char kIpAddress[] = "127.0.0.1";
const UINT kAnswerMs = 30000;  // a message sent to the program must be answered within this
const DWORD kPollMs = 50;

struct Failure
{
    std::string what;
};

void Say(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void Say(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    std::vprintf(fmt, ap);
    va_end(ap);
    std::fflush(stdout);
}

[[noreturn]] void Fail(const std::string& what) { throw Failure{what}; }

std::string ClassOf(HWND h)
{
    char cls[64] = {};
    GetClassNameA(h, cls, sizeof cls);
    return cls;
}

// Multi-line texts shown one line each, indented; empty lines left out.
void SayLines(const std::string& text, const char* indent)
{
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        if (line.find_first_not_of(' ') != std::string::npos)
            Say("%s%s\n", indent, line.c_str());
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
}

// A button's caption as it is shown: the accelerator mark "&" is not.
std::string Caption(std::string s)
{
    s.erase(std::remove(s.begin(), s.end(), '&'), s.end());
    return s;
}

std::string Trimmed(const std::string& s)
{
    size_t a = s.find_first_not_of(" \r\n"), b = s.find_last_not_of(" \r\n");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

class Driver
{
public:
    explicit Driver(DWORD waitMs) : m_waitMs(waitMs) {}
    ~Driver()
    {
        if (m_pi.hProcess) {
            if (WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT)
                TerminateProcess(m_pi.hProcess, 99);
            CloseHandle(m_pi.hProcess);
            CloseHandle(m_pi.hThread);
        }
    }

    void Start(const std::string& exe)
    {
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        std::string cmd = "\"" + exe + "\"";
        if (!CreateProcessA(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &m_pi))
            Fail("cannot start " + exe + " (error " + std::to_string(GetLastError()) + ")");
        Say("started %s\n", exe.c_str());
        m_main = WaitFor("the main dialog of Brevanton", [](HWND h) { return Has(h, IDC_DEVICE_TREE); });
        Say("window \"%s\" (the main dialog)\n", Text(m_main).c_str());
        Say("   %s: %s\n", Text(Item(m_main, IDC_DEVICE_LIST_LABEL)).c_str(), DeviceTreeShown().c_str());
    }

    // Exit (X) and the program's end.
    void Leave()
    {
        Key('X');
        if (WaitForSingleObject(m_pi.hProcess, m_waitMs) != WAIT_OBJECT_0)
            Fail("Brevanton did not end after Exit(X)");
        DWORD code = 0;
        GetExitCodeProcess(m_pi.hProcess, &code);
        Say("key X: Brevanton ended (exit code %lu)\n", code);
        if (code != 0)
            Fail("Brevanton ended with exit code " + std::to_string(code));
    }

    // Port Range: the serial range set to `range` when `raise` is false, or raised to it when it
    // is lower. Returns the range the dialog showed.
    int PortRange(int range, bool raise)
    {
        Click(m_main, IDC_PORT_RANGE);
        HWND dlg = WaitFor("the Port Range dialog", [](HWND h) {
            return Has(h, IDC_COM_RANGE) && ClassOf(Item(h, IDC_COM_RANGE_SPIN)) == UPDOWN_CLASSA;
        });
        int shown = std::atoi(Text(Item(dlg, IDC_COM_RANGE)).c_str());
        Say("button Port Range: the Port Range dialog (no title bar)\n");
        Say("   %s %d %s, %s %s %s\n", Text(Item(dlg, IDC_COM_RANGE_LABEL)).c_str(), shown,
            Text(Item(dlg, IDC_COM_RANGE_LIMITS)).c_str(), Text(Item(dlg, IDC_LPT_RANGE_LABEL)).c_str(),
            Text(Item(dlg, IDC_LPT_RANGE)).c_str(), Text(Item(dlg, IDC_LPT_RANGE_LIMITS)).c_str());
        int wanted = raise ? std::max(shown, range) : range;
        SetText(Item(dlg, IDC_COM_RANGE), std::to_string(wanted));
        Say("   %s set to %d; %s\n", Text(Item(dlg, IDC_COM_RANGE_LABEL)).c_str(), wanted,
            Text(Item(dlg, IDOK)).c_str());
        Click(dlg, IDOK);
        WaitGone(dlg, "the Port Range dialog");
        return shown;
    }

    // Add Device, the model, Next; then the configuration dialog, which is returned with the key
    // name it shows.
    HWND AddDevice(const std::string& model, std::string& keyName)
    {
        Key('D');
        HWND dlg = WaitFor("the Add Device dialog", [](HWND h) { return Has(h, IDC_MODEL_LIST); });
        Say("key D: window \"%s\"\n", Text(dlg).c_str());
        HWND category = Item(dlg, IDC_DEVICE_CLASS), list = Item(dlg, IDC_MODEL_LIST);
        std::vector<std::string> categories = Items(category, CB_GETCOUNT, CB_GETLBTEXTLEN, CB_GETLBTEXT);
        Say("   %s: %s\n", Trimmed(Text(Item(dlg, IDC_DEVICE_CLASS_LABEL))).c_str(), Joined(categories).c_str());
        Select(dlg, category, IndexOf(categories, "LabelPrinter", "device category"), CB_SETCURSEL, CBN_SELCHANGE);
        std::vector<std::string> models = Items(list, LB_GETCOUNT, LB_GETTEXTLEN, LB_GETTEXT);
        Say("   %s (LabelPrinter): %s\n", Text(Item(dlg, IDC_MODEL_GROUP)).c_str(), Joined(models).c_str());
        Select(dlg, list, IndexOf(models, model, "model"), LB_SETCURSEL, LBN_SELCHANGE);
        Say("   chose %s; %s\n", model.c_str(), Text(Item(dlg, IDC_NEXT)).c_str());
        Click(dlg, IDC_NEXT);
        HWND cfg = WaitFor("the printer configuration dialog", [](HWND h) { return Has(h, IDC_CFG_IPADDRESS); });
        keyName = Text(Item(cfg, IDC_CFG_KEYNAME));
        Say("window: the printer configuration dialog (no title bar)\n");
        Say("   %s %s\n", Text(Item(cfg, IDC_CFG_KEYNAME_LABEL)).c_str(), keyName.c_str());
        if (keyName.empty())
            Fail("the printer configuration dialog shows no device name");
        return cfg;
    }

    void ConfigureSerial(HWND cfg, int com)
    {
        ClickRadio(cfg, IDC_CFG_SERIAL);
        HWND port = Item(cfg, IDC_CFG_PORT);
        std::vector<std::string> ports = Items(port, CB_GETCOUNT, CB_GETLBTEXTLEN, CB_GETLBTEXT);
        Say("   %s: %s offered\n", Text(Item(cfg, IDC_CFG_PORT_LABEL)).c_str(),
            ports.empty() ? "no port" : (ports.front() + " to " + ports.back()).c_str());
        std::string want = "COM" + std::to_string(com);
        Select(cfg, port, IndexOf(ports, want, "serial port"), CB_SETCURSEL, CBN_SELCHANGE);
        ChooseText(cfg, IDC_CFG_BAUD, "115200", "baud rate");
        ChooseText(cfg, IDC_CFG_FLOW, "None", "flow control");
        Say("   %s %s, %s %s, %s %s\n", Text(Item(cfg, IDC_CFG_PORT_LABEL)).c_str(), Chosen(port).c_str(),
            Text(Item(cfg, IDC_CFG_BAUD_LABEL)).c_str(), Chosen(Item(cfg, IDC_CFG_BAUD)).c_str(),
            Text(Item(cfg, IDC_CFG_FLOW_LABEL)).c_str(), Chosen(Item(cfg, IDC_CFG_FLOW)).c_str());
    }

    void ConfigureEthernet(HWND cfg, int tcpPort)
    {
        ClickRadio(cfg, IDC_CFG_ETHERNET);
        HWND ip = Item(cfg, IDC_CFG_IPADDRESS);
        if (!IsWindowVisible(ip) || !IsWindowVisible(Item(cfg, IDC_CFG_TCPPORT)))
            Fail("Ethernet shows no IP address and TCP port fields");
        // The four fields of the address control, left to right, typed one by one.
        std::vector<HWND> fields;
        for (HWND c = GetWindow(ip, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
            fields.push_back(c);
        if (fields.size() != 4)
            Fail("the IP address control has " + std::to_string(fields.size()) + " fields, not 4");
        std::sort(fields.begin(), fields.end(), [](HWND a, HWND b) {
            RECT ra, rb;
            GetWindowRect(a, &ra);
            GetWindowRect(b, &rb);
            return ra.left < rb.left;
        });
        std::string address = kIpAddress, typed;
        for (size_t i = 0, pos = 0; i < 4; ++i) {
            size_t dot = address.find('.', pos);
            SetText(fields[i], address.substr(pos, dot == std::string::npos ? std::string::npos : dot - pos));
            pos = dot + 1;
        }
        for (HWND f : fields)
            typed += (typed.empty() ? "" : ".") + Text(f);
        SetText(Item(cfg, IDC_CFG_TCPPORT), std::to_string(tcpPort));
        Say("   %s %s, %s %s\n", Text(Item(cfg, IDC_CFG_PORT_LABEL)).c_str(), typed.c_str(),
            Text(Item(cfg, IDC_CFG_BAUD_LABEL)).c_str(), Text(Item(cfg, IDC_CFG_TCPPORT)).c_str());
    }

    void SetLogicalName(HWND cfg, const std::string& ldn)
    {
        SetText(Item(cfg, IDC_CFG_LDN), ldn);
        Say("   %s %s\n", Text(Item(cfg, IDC_CFG_LDN_LABEL)).c_str(), Text(Item(cfg, IDC_CFG_LDN)).c_str());
    }

    // OK, the message it gives answered, the dialog gone and the new device in the list.
    void Confirm(HWND cfg, size_t devicesBefore)
    {
        Say("   %s\n", Caption(Text(Item(cfg, IDOK))).c_str());
        Click(cfg, IDOK);
        AnswerMessage("the message after OK", "Installed Success!", IDOK);
        WaitGone(cfg, "the printer configuration dialog");
        WaitDeviceCount(devicesBefore + 1, "the new device in the device list");
    }

    size_t DeviceCount() { return DeviceItems().size(); }

    // Selects the device whose summary shows `port` as its port (or whose removal question names
    // `key`, with the key given) and returns its summary. Fails when there is none.
    std::string SelectDeviceByPort(const std::string& port)
    {
        for (LPARAM item : DeviceItems()) {
            std::string summary = SelectItem(item);
            if (Trimmed(SummaryValue(summary, "Using Port")) == port)
                return summary;
        }
        Fail("the device list holds no device on " + port);
    }

    // The summary of every listed device, as the user sees it after clicking it.
    void ShowSummaries()
    {
        for (LPARAM item : DeviceItems()) {
            Say("device summary:\n");
            SayLines(SelectItem(item), "   ");
        }
    }

    // CheckHealth (H) on the selected device: Print in the Service Object's interactive dialog,
    // the result shown, then Exit.
    void CheckHealth()
    {
        Key('H');
        HWND dlg = WaitFor("the interactive CheckHealth dialog of the Service Object", [this](HWND h) {
            return Has(h, IDC_CHKPTR_PRINT) && Text(h).rfind("Printer Check Health", 0) == 0;
        });
        Say("key H: window \"%s\"\n", Text(dlg).c_str());
        SayLines(Text(Item(dlg, IDC_CHKPTR_DEVICE_INFO)), "   ");
        Say("   %s\n", Text(Item(dlg, IDC_CHKPTR_POWER_STATE)).c_str());
        std::string before = Text(Item(dlg, IDC_CHKPTR_RESULT));
        Say("   %s\n", Caption(Text(Item(dlg, IDC_CHKPTR_PRINT))).c_str());
        Click(dlg, IDC_CHKPTR_PRINT);
        std::string result;
        DWORD start = GetTickCount();
        for (;;) {
            result = Text(Item(dlg, IDC_CHKPTR_RESULT));
            if (result != before && result != "Test in progress...")
                break;
            if (GetTickCount() - start > m_waitMs)
                Fail("the CheckHealth dialog showed no print result (\"" + result + "\")");
            Alive("the print result of the CheckHealth dialog");
            Sleep(kPollMs);
        }
        Say("   print result: %s\n", result.c_str());
        Say("   %s\n", Caption(Text(Item(dlg, IDOK))).c_str());
        Click(dlg, IDOK);
        WaitGone(dlg, "the interactive CheckHealth dialog");
    }

    // Remove Device (R) on the device that `key` names, then OK: the question names the device,
    // so one that is not it is answered Cancel (the devices of the key's model are tried first).
    // FALSE when no listed device's question names it.
    bool Remove(const std::string& key)
    {
        std::string question = "Are you sure you want to delete all setting information about " + key + "?";
        std::vector<LPARAM> items = DeviceItems();
        std::string model = key.substr(0, key.find('_'));
        std::stable_partition(items.begin(), items.end(), [&](LPARAM item) {
            return Trimmed(SummaryValue(SelectItem(item), "Device Name")) == model;
        });
        for (LPARAM item : items) {
            SelectItem(item);
            Key('R');
            HWND box = WaitFor("the question of Remove Device", IsMessageBox);
            std::string text = Text(Item(box, 0xFFFF));
            bool ours = text == question;
            Say("key R: message \"%s\": \"%s\": %s\n", Text(box).c_str(), text.c_str(), ours ? "OK" : "Cancel");
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(ours ? IDOK : IDCANCEL, BN_CLICKED), 0);
            WaitGone(box, "the question of Remove Device");
            if (ours) {
                WaitDeviceCount(items.size() - 1, "the device list without " + key);
                Say("   %s\n", DeviceTreeShown().c_str());
                return true;
            }
        }
        return false;
    }

    std::string DeviceTreeShown()
    {
        size_t n = DeviceItems().size();
        return "Device > Label Printer, " + std::to_string(n) + (n == 1 ? " device" : " devices");
    }

private:
    static bool Has(HWND h, int id) { return GetDlgItem(h, id) != nullptr; }
    static HWND Item(HWND dlg, int id) { return GetDlgItem(dlg, id); }

    // A message box: a dialog with the text static 0xFFFF (the dialogs of this program number
    // theirs otherwise).
    static bool IsMessageBox(HWND h) { return Has(h, 0xFFFF) && (Has(h, IDOK) || Has(h, IDCANCEL)); }

    LRESULT Send(HWND h, UINT msg, WPARAM wp, LPARAM lp)
    {
        DWORD_PTR r = 0;
        if (!SendMessageTimeoutA(h, msg, wp, lp, SMTO_NORMAL, kAnswerMs, &r))
            Fail("Brevanton did not answer message " + std::to_string(msg) + " to a window of class " + ClassOf(h));
        return LRESULT(r);
    }

    std::string Text(HWND h)
    {
        if (!h)
            return std::string();
        LRESULT n = Send(h, WM_GETTEXTLENGTH, 0, 0);
        std::string s(size_t(n) + 1, '\0');
        n = Send(h, WM_GETTEXT, WPARAM(s.size()), LPARAM(&s[0]));
        s.resize(size_t(n > 0 ? n : 0));
        return s;
    }

    void SetText(HWND h, const std::string& text)
    {
        if (!h || !IsWindowVisible(h) || !IsWindowEnabled(h))
            Fail("a field to type \"" + text + "\" into is not there to type into");
        if (!Send(h, WM_SETTEXT, 0, LPARAM(text.c_str())))
            Fail("typing \"" + text + "\" was refused");
    }

    // A list's item texts, asked for in UTF-16: the ANSI forms of these messages lose all but
    // the first character on their way between processes under Wine.
    std::vector<std::string> Items(HWND list, UINT count, UINT lengthMsg, UINT textMsg)
    {
        std::vector<std::string> items;
        LRESULT n = Send(list, count, 0, 0);
        for (LRESULT i = 0; i < n; ++i) {
            LRESULT len = Send(list, lengthMsg, WPARAM(i), 0);
            std::wstring w(size_t(len > 0 ? len : 0) + 1, L'\0');
            DWORD_PTR got = 0;
            if (!SendMessageTimeoutW(list, textMsg, WPARAM(i), LPARAM(&w[0]), SMTO_NORMAL, kAnswerMs, &got))
                Fail("Brevanton did not answer a list's item text");
            w.resize(LRESULT(got) > 0 ? size_t(got) : 0);
            char buf[512] = {};
            WideCharToMultiByte(CP_ACP, 0, w.c_str(), -1, buf, sizeof buf, nullptr, nullptr);
            items.push_back(buf);
        }
        return items;
    }

    static std::string Joined(const std::vector<std::string>& items)
    {
        std::string s;
        for (const std::string& i : items)
            s += (s.empty() ? "" : ", ") + i;
        return s.empty() ? "(none)" : s;
    }

    static int IndexOf(const std::vector<std::string>& items, const std::string& want, const char* what)
    {
        auto it = std::find(items.begin(), items.end(), want);
        if (it == items.end())
            Fail(std::string("no ") + what + " \"" + want + "\" is offered (" + Joined(items) + ")");
        return int(it - items.begin());
    }

    std::string Chosen(HWND combo)
    {
        LRESULT sel = Send(combo, CB_GETCURSEL, 0, 0);
        if (sel < 0)
            return "(nothing)";
        std::vector<std::string> items = Items(combo, CB_GETCOUNT, CB_GETLBTEXTLEN, CB_GETLBTEXT);
        return size_t(sel) < items.size() ? items[size_t(sel)] : "(nothing)";
    }

    // Selects an item by index and sends the parent the notification the control sends when the
    // user changes its selection.
    void Select(HWND dlg, HWND list, int index, UINT setMsg, WORD notification)
    {
        if (!IsWindowVisible(list) || !IsWindowEnabled(list))
            Fail("a list to choose from is hidden or disabled");
        Send(list, setMsg, WPARAM(index), 0);
        UINT getMsg = setMsg == CB_SETCURSEL ? CB_GETCURSEL : LB_GETCURSEL;
        if (Send(list, getMsg, 0, 0) != index)
            Fail("item " + std::to_string(index) + " of a list could not be selected");
        Send(dlg, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(list), notification), LPARAM(list));
    }

    void ChooseText(HWND dlg, int id, const std::string& text, const char* what)
    {
        HWND combo = Item(dlg, id);
        std::vector<std::string> items = Items(combo, CB_GETCOUNT, CB_GETLBTEXTLEN, CB_GETLBTEXT);
        Select(dlg, combo, IndexOf(items, text, what), CB_SETCURSEL, CBN_SELCHANGE);
    }

    // A click on a push button: its notification, posted, as the button sends it.
    void Click(HWND dlg, int id)
    {
        HWND b = Item(dlg, id);
        if (!b || !IsWindowVisible(b) || !IsWindowEnabled(b))
            Fail("the button \"" + Text(b) + "\" (" + std::to_string(id) + ") is not there to click");
        PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), LPARAM(b));
    }

    // A click on a radio button, which checks it and notifies the dialog; done once the button
    // reads checked (a posted click is handled before the next sent message is answered only
    // when its handling has ended).
    void ClickRadio(HWND dlg, int id)
    {
        HWND b = Item(dlg, id);
        if (!b || !IsWindowVisible(b) || !IsWindowEnabled(b))
            Fail("the choice \"" + Text(b) + "\" is not there to click");
        // A choice already made is left as it is: a click would fill its lists anew.
        if (Send(b, BM_GETCHECK, 0, 0) != BST_CHECKED)
            PostMessageA(b, BM_CLICK, 0, 0);
        DWORD start = GetTickCount();
        while (Send(b, BM_GETCHECK, 0, 0) != BST_CHECKED) {
            if (GetTickCount() - start > m_waitMs)
                Fail("the choice \"" + Text(b) + "\" did not become checked");
            Alive("a click on \"" + Text(b) + "\"");
            Sleep(kPollMs);
        }
        // "Serial (" is closed by a static after the Bluetooth check box.
        std::string caption = Trimmed(Text(b));
        if (!caption.empty() && caption.back() == '(')
            caption = Trimmed(caption.substr(0, caption.size() - 1));
        Say("   %s\n", caption.c_str());
    }

    // A key of the main dialog, as the keyboard posts it to the focused control.
    void Key(char vk)
    {
        HWND tree = Item(m_main, IDC_DEVICE_TREE);
        PostMessageA(tree, WM_KEYDOWN, WPARAM(vk), 1);
        PostMessageA(tree, WM_KEYUP, WPARAM(vk), LPARAM(0xC0000001));
    }

    void Alive(const std::string& waitingFor)
    {
        if (WaitForSingleObject(m_pi.hProcess, 0) != WAIT_OBJECT_0)
            return;
        DWORD code = 0;
        GetExitCodeProcess(m_pi.hProcess, &code);
        Fail("Brevanton ended (exit code " + std::to_string(code) + ") while waiting for " + waitingFor);
    }

    struct TopSearch
    {
        DWORD pid;
        std::vector<HWND> found;
    };
    static BOOL CALLBACK OnTopWindow(HWND h, LPARAM lp)
    {
        TopSearch* s = reinterpret_cast<TopSearch*>(lp);
        DWORD pid = 0;
        GetWindowThreadProcessId(h, &pid);
        if (pid == s->pid && IsWindowVisible(h) && ClassOf(h) == "#32770")
            s->found.push_back(h);
        return TRUE;
    }

    // The program's shown dialogs (message boxes included).
    template <typename Fn> void ForEachTop(Fn fn)
    {
        TopSearch s = {m_pi.dwProcessId, {}};
        EnumWindows(OnTopWindow, LPARAM(&s));
        for (HWND h : s.found)
            fn(h);
    }

    // Waits for a shown dialog of the program that `match` accepts. A message box that comes
    // instead fails the run with its text.
    HWND WaitFor(const std::string& what, std::function<bool(HWND)> match)
    {
        DWORD start = GetTickCount();
        for (;;) {
            HWND found = nullptr, box = nullptr;
            ForEachTop([&](HWND h) {
                if (match(h))
                    found = h;
                else if (IsMessageBox(h))
                    box = h;
            });
            if (found)
                return found;
            if (box)
                Fail(what + " did not appear; Brevanton shows the message \"" + Text(Item(box, 0xFFFF)) + "\"");
            Alive(what);
            if (GetTickCount() - start > m_waitMs)
                Fail(what + " did not appear within " + std::to_string(m_waitMs / 1000) + " s");
            Sleep(kPollMs);
        }
    }

    void WaitGone(HWND h, const std::string& what)
    {
        DWORD start = GetTickCount();
        while (IsWindow(h) && IsWindowVisible(h)) {
            HWND box = nullptr;
            ForEachTop([&](HWND w) {
                if (w != h && IsMessageBox(w))
                    box = w;
            });
            if (box)
                Fail(what + " stayed open; Brevanton shows the message \"" + Text(Item(box, 0xFFFF)) + "\"");
            Alive("the end of " + what);
            if (GetTickCount() - start > m_waitMs)
                Fail(what + " did not close within " + std::to_string(m_waitMs / 1000) + " s");
            Sleep(kPollMs);
        }
    }

    void AnswerMessage(const std::string& what, const std::string& expected, int answer)
    {
        HWND box = WaitFor(what, IsMessageBox);
        std::string title = Text(box), text = Text(Item(box, 0xFFFF));
        Say("message \"%s\": \"%s\": %s\n", title.c_str(), text.c_str(), answer == IDOK ? "OK" : "Cancel");
        if (text != expected)
            Fail(what + " is \"" + text + "\", not \"" + expected + "\"");
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
        WaitGone(box, what);
    }

    // Waits until the device list shows n devices (it is filled anew once a dialog has ended).
    void WaitDeviceCount(size_t n, const std::string& what)
    {
        DWORD start = GetTickCount();
        while (DeviceItems().size() != n) {
            if (GetTickCount() - start > m_waitMs)
                Fail(what + " did not appear within " + std::to_string(m_waitMs / 1000) + " s");
            Alive(what);
            Sleep(kPollMs);
        }
    }

    // The device items of the tree: the children of the category under the root.
    std::vector<LPARAM> DeviceItems()
    {
        HWND tree = Item(m_main, IDC_DEVICE_TREE);
        std::vector<LPARAM> items;
        LPARAM root = Send(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
        LPARAM category = root ? Send(tree, TVM_GETNEXTITEM, TVGN_CHILD, root) : 0;
        if (!category)
            Fail("the device list shows no device category");
        for (LPARAM i = Send(tree, TVM_GETNEXTITEM, TVGN_CHILD, category); i; i = Send(tree, TVM_GETNEXTITEM, TVGN_NEXT, i))
            items.push_back(i);
        return items;
    }

    // Selects a tree item (the tree notifies the dialog) and returns the summary then shown.
    std::string SelectItem(LPARAM item)
    {
        HWND tree = Item(m_main, IDC_DEVICE_TREE);
        if (!Send(tree, TVM_SELECTITEM, TVGN_CARET, item))
            Fail("a device of the list could not be selected");
        return Text(Item(m_main, IDC_DEVICE_SUMMARY));
    }

    // The value under a " <name> : " line of a device summary.
    static std::string SummaryValue(const std::string& summary, const std::string& name)
    {
        size_t at = summary.find(" " + name + " :");
        if (at == std::string::npos)
            return std::string();
        size_t start = summary.find('\n', at);
        if (start == std::string::npos)
            return std::string();
        size_t end = summary.find('\r', start + 1);
        return summary.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
    }

    DWORD m_waitMs;
    PROCESS_INFORMATION m_pi = {};
    HWND m_main = nullptr;
};

int Usage()
{
    std::fprintf(stderr,
                 "usage: brevdriver.exe [--wait <seconds>] add <Brevanton.exe> <serial model> <COMn> <ethernet model> "
                 "<tcp port> <logical name>\n"
                 "       brevdriver.exe [--wait <seconds>] remove <Brevanton.exe> <serial range> <key>...\n");
    return 2;
}

bool Number(const char* s, int& v)
{
    char* end = nullptr;
    long n = std::strtol(s, &end, 10);
    if (!*s || *end || n <= 0 || n > 65535)
        return false;
    v = int(n);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    int waitSeconds = 60;
    if (args.size() >= 2 && args[0] == "--wait") {
        if (!Number(args[1].c_str(), waitSeconds))
            return Usage();
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.size() < 2)
        return Usage();
    Driver d(DWORD(waitSeconds) * 1000);
    try {
        if (args[0] == "add" && args.size() == 7) {
            int com = 0, tcpPort = 0;
            if (args[3].rfind("COM", 0) != 0 || !Number(args[3].c_str() + 3, com) || !Number(args[5].c_str(), tcpPort))
                return Usage();
            const std::string &serialModel = args[2], &ethernetModel = args[4], &ldn = args[6];
            d.Start(args[1]);
            int range = d.PortRange(com, true);
            std::string serialKey, ethernetKey;
            size_t devices = d.DeviceCount();
            HWND cfg = d.AddDevice(serialModel, serialKey);
            d.ConfigureSerial(cfg, com);
            d.Confirm(cfg, devices);
            cfg = d.AddDevice(ethernetModel, ethernetKey);
            d.ConfigureEthernet(cfg, tcpPort);
            d.SetLogicalName(cfg, ldn);
            d.Confirm(cfg, devices + 1);
            d.ShowSummaries();
            Say("selected the device on COM%d\n", com);
            d.SelectDeviceByPort("COM" + std::to_string(com));
            d.CheckHealth();
            d.Leave();
            Say("result: range %d\n", range);
            Say("result: device %s COM%d -\n", serialKey.c_str(), com);
            Say("result: device %s Ethernet %s\n", ethernetKey.c_str(), ldn.c_str());
            Say("brevdriver: done\n");
        } else if (args[0] == "remove" && args.size() >= 4) {
            int range = 0;
            if (!Number(args[2].c_str(), range))
                return Usage();
            d.Start(args[1]);
            for (size_t i = 3; i < args.size(); ++i)
                if (!d.Remove(args[i]))
                    Fail("no listed device is " + args[i]);
            d.PortRange(range, false);
            d.Leave();
            Say("brevdriver: done\n");
        } else {
            return Usage();
        }
    } catch (const Failure& f) {
        Say("brevdriver: FAILED: %s\n", f.what.c_str());
        return 1;
    }
    return 0;
}

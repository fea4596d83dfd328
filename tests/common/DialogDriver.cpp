#include "DialogDriver.h"

#include "FxDialog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

namespace {
CDialogDriver* g_driver = nullptr;  // one driven dialog at a time (its thread's timer)

struct BoxSearch
{
    HWND dialog;
    const std::vector<HWND>* answered;
    HWND found;
};

BOOL CALLBACK OnThreadWindow(HWND h, LPARAM lp)
{
    BoxSearch* s = reinterpret_cast<BoxSearch*>(lp);
    char cls[32] = {};
    GetClassNameA(h, cls, sizeof cls);
    if (h == s->dialog || lstrcmpA(cls, "#32770") != 0 || !IsWindowVisible(h))
        return TRUE;
    // A message box has its text in the static 0xFFFF.
    if (!GetDlgItem(h, 0xFFFF))
        return TRUE;
    if (std::find(s->answered->begin(), s->answered->end(), h) != s->answered->end())
        return TRUE;
    s->found = h;
    return FALSE;
}
}

std::string MessageBoxText(HWND box) { return ControlText(box, 0xFFFF); }

namespace {
// Why a person could not act on control c (empty when they could): nobody types into, selects
// in or presses keys on a control that is disabled or not shown.
std::string Unusable(HWND c, const char* kind, int id)
{
    if (!IsWindowEnabled(c))
        return std::string(kind) + " " + std::to_string(id) + " is disabled";
    if (!IsWindowVisible(c))
        return std::string(kind) + " " + std::to_string(id) + " is hidden";
    return std::string();
}
}

std::string ControlText(HWND dlg, int id)
{
    HWND h = GetDlgItem(dlg, id);
    if (!h)
        return std::string();
    int n = GetWindowTextLengthA(h);
    std::string s(size_t(n + 1), '\0');
    n = GetWindowTextA(h, &s[0], n + 1);
    s.resize(size_t(n > 0 ? n : 0));
    return s;
}

CDialogDriver::CDialogDriver(DWORD watchdogMs) : m_watchdogMs(watchdogMs) {}

CDialogDriver::~CDialogDriver()
{
    if (m_timer)
        KillTimer(nullptr, m_timer);
    if (g_driver == this)
        g_driver = nullptr;
}

CDialogDriver& CDialogDriver::SetText(int id, const std::string& text)
{
    m_steps.push_back({"set text of " + std::to_string(id) + " to \"" + text + "\"", [this, id, text](HWND dlg) {
                           HWND c = GetDlgItem(dlg, id);
                           if (!c) {
                               Fail("no control " + std::to_string(id));
                               return true;
                           }
                           std::string why = Unusable(c, "control", id);
                           if (!why.empty())
                               Fail(why);
                           else
                               SetWindowTextA(c, text.c_str());
                           return true;
                       }});
    return *this;
}

CDialogDriver& CDialogDriver::Select(int id, int index)
{
    m_steps.push_back({"select item " + std::to_string(index) + " of " + std::to_string(id), [this, id, index](HWND dlg) {
                           HWND c = GetDlgItem(dlg, id);
                           char cls[32] = {};
                           if (c)
                               GetClassNameA(c, cls, sizeof cls);
                           bool combo = lstrcmpiA(cls, "ComboBox") == 0;
                           if (!c || (!combo && lstrcmpiA(cls, "ListBox") != 0)) {
                               Fail("no combo or list box " + std::to_string(id));
                               return true;
                           }
                           std::string why = Unusable(c, combo ? "combo" : "list box", id);
                           if (!why.empty()) {
                               Fail(why);
                               return true;
                           }
                           // A person picks only an item that is there (and the list under
                           // Wine would keep the old selection while the change is posted).
                           LRESULT count = SendMessageA(c, combo ? CB_GETCOUNT : LB_GETCOUNT, 0, 0);
                           if (index < 0 || LRESULT(index) >= count) {
                               Fail("item " + std::to_string(index) + " is past the end of " + std::to_string(id) +
                                    " (" + std::to_string(count) + " items)");
                               return true;
                           }
                           SendMessageA(c, combo ? CB_SETCURSEL : LB_SETCURSEL, WPARAM(index), 0);
                           PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, combo ? CBN_SELCHANGE : LBN_SELCHANGE), LPARAM(c));
                           return true;
                       }, false, true});
    return *this;
}

CDialogDriver& CDialogDriver::Click(int id)
{
    m_steps.push_back({"click " + std::to_string(id), [this, id](HWND dlg) {
                           HWND c = GetDlgItem(dlg, id);
                           if (!c) {
                               Fail("no button " + std::to_string(id));
                               return true;
                           }
                           if (!IsWindowEnabled(c) || !IsWindowVisible(c)) {
                               Fail("button " + std::to_string(id) + " is " +
                                    (IsWindowEnabled(c) ? "hidden" : "disabled"));
                               return true;
                           }
                           PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), LPARAM(c));
                           return true;
                       }, false, true});
    return *this;
}

CDialogDriver& CDialogDriver::Key(int id, UINT vk)
{
    m_steps.push_back({"key " + std::to_string(vk) + " to " + std::to_string(id), [this, id, vk](HWND dlg) {
                           HWND c = id ? GetDlgItem(dlg, id) : dlg;
                           if (!c) {
                               Fail("no control " + std::to_string(id));
                               return true;
                           }
                           std::string why = Unusable(c, "control", id);
                           if (!why.empty()) {
                               Fail(why);
                               return true;
                           }
                           UINT scan = MapVirtualKeyA(vk, 0);
                           PostMessageA(c, WM_KEYDOWN, vk, LPARAM(1 | (scan << 16)));
                           PostMessageA(c, WM_KEYUP, vk, LPARAM(1 | (scan << 16) | 0xC0000000u));
                           return true;
                       }, false, true});
    return *this;
}

CDialogDriver& CDialogDriver::AnswerMessageBox(int answer)
{
    Step s;
    s.what = "answer a message box with " + std::to_string(answer);
    s.box = true;
    s.run = [this, answer](HWND) {
        HWND box = FindMessageBox();
        if (!box)
            return false;
        m_boxTexts.push_back(MessageBoxText(box));
        m_answered.push_back(box);
        HWND button = GetDlgItem(box, answer);
        if (!button)
            Fail("the message box \"" + m_boxTexts.back() + "\" has no button " + std::to_string(answer));
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), LPARAM(button));
        return true;
    };
    m_steps.push_back(s);
    return *this;
}

CDialogDriver& CDialogDriver::Do(std::function<void(HWND)> fn)
{
    m_steps.push_back({"check", [fn](HWND dlg) {
                           fn(dlg);
                           return true;
                       }});
    return *this;
}

CDialogDriver& CDialogDriver::WaitUntil(std::function<bool(HWND)> pred, const std::string& what)
{
    m_steps.push_back({"wait until " + what, [pred](HWND dlg) { return pred(dlg); }});
    return *this;
}

namespace {
struct DialogSearch
{
    const std::string* caption;
    HWND found;
};

BOOL CALLBACK OnCaptionedWindow(HWND h, LPARAM lp)
{
    DialogSearch* s = reinterpret_cast<DialogSearch*>(lp);
    char cls[32] = {};
    GetClassNameA(h, cls, sizeof cls);
    if (lstrcmpA(cls, "#32770") != 0 || !IsWindowVisible(h))
        return TRUE;
    char title[256] = {};
    GetWindowTextA(h, title, sizeof title);
    if (std::string(title).compare(0, s->caption->size(), *s->caption) != 0)
        return TRUE;
    s->found = h;
    return FALSE;
}
}

HWND CDialogDriver::Dialog() const
{
    if (m_dlg)
        return m_dlg->m_hWnd;
    if (m_caption.empty())
        return nullptr;
    DialogSearch s = {&m_caption, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), OnCaptionedWindow, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

HWND CDialogDriver::FindMessageBox() const
{
    BoxSearch s = {Dialog(), &m_answered, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), OnThreadWindow, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

void CDialogDriver::Fail(const std::string& why) { m_failures.push_back(why); }

CDialogDriver& CDialogDriver::ExpectFailure(const std::string& text)
{
    m_expected.push_back(text);
    return *this;
}

void CDialogDriver::CheckFailures(size_t firstOfRun)
{
    std::vector<bool> seen(m_expected.size(), false);
    for (size_t i = firstOfRun; i < m_failures.size(); ++i) {
        const std::string& f = m_failures[i];
        bool expected = false;
        for (size_t e = 0; e < m_expected.size(); ++e)
            if (f.compare(0, m_expected[e].size(), m_expected[e]) == 0)
                expected = seen[e] = true;
        if (!expected)
            ADD_FAILURE() << "the dialog driver failed: " << f;
    }
    for (size_t e = 0; e < m_expected.size(); ++e)
        if (!seen[e])
            ADD_FAILURE() << "the dialog driver did not fail as the case expects: \"" << m_expected[e] << "...\"";
    m_expected.clear();
}

namespace {
BOOL CALLBACK OnVisibleDialog(HWND h, LPARAM lp)
{
    char cls[32] = {};
    GetClassNameA(h, cls, sizeof cls);
    if (lstrcmpA(cls, "#32770") == 0 && IsWindowVisible(h))
        reinterpret_cast<std::vector<HWND>*>(lp)->push_back(h);
    return TRUE;
}

int OwnerDepth(HWND h)
{
    int depth = 0;
    for (HWND o = GetWindow(h, GW_OWNER); o && depth < 64; o = GetWindow(o, GW_OWNER))
        ++depth;
    return depth;
}
}

void CDialogDriver::EndByWatchdog(const std::string& why)
{
    Fail("watchdog: " + why);
    m_ended = true;
    EndEveryDialog();
}

void CDialogDriver::EndEveryDialog()
{
    // Every modal loop of the thread has to return before the driven one can: a nested dialog
    // left running would keep the test waiting for ever. The innermost go first.
    std::vector<HWND> dialogs;
    EnumThreadWindows(GetCurrentThreadId(), OnVisibleDialog, reinterpret_cast<LPARAM>(&dialogs));
    std::stable_sort(dialogs.begin(), dialogs.end(), [](HWND a, HWND b) { return OwnerDepth(a) > OwnerDepth(b); });
    std::vector<HWND> ours;  // windows of the loops this module's window layer runs
    for (CDialog* d = CDialog::GetActiveModal(); d; d = d->GetOuterModal())
        if (d->m_hWnd)
            ours.push_back(d->m_hWnd);
    for (HWND h : dialogs) {
        if (std::find(ours.begin(), ours.end(), h) != ours.end())
            continue;
        bool box = GetDlgItem(h, 0xFFFF) != nullptr;
        if (box) {
            if (std::find(m_answered.begin(), m_answered.end(), h) != m_answered.end())
                continue;
            Fail("a message box was open: \"" + MessageBoxText(h) + "\"");
            m_answered.push_back(h);
        }
        // The system's dialog loops (message boxes, DialogBox) end by EndDialog; another
        // module's window layer ends its own dialog on Cancel. A box answers Cancel, as the code
        // that shows it expects one of its buttons.
        ::EndDialog(h, box ? IDCANCEL : kWatchdogEnd);
        PostMessageA(h, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    }
    // This module's loops, innermost first, whatever their OnCancel would do.
    for (CDialog* d = CDialog::GetActiveModal(); d; d = d->GetOuterModal())
        d->EndDialog(kWatchdogEnd);
    if (m_dlg && m_dlg->m_hWnd)
        m_dlg->EndDialog(kWatchdogEnd);
}

void CALLBACK CDialogDriver::OnTimer(HWND, UINT, UINT_PTR, DWORD)
{
    // No exception may leave a timer callback: it runs inside the system's dispatch.
    try {
        if (g_driver)
            g_driver->Tick();
    } catch (...) {
        if (g_driver)
            g_driver->Fail("a step threw an exception");
    }
}

void CDialogDriver::Tick()
{
    if (m_ended) {
        // What the ended dialogs' code opens next is ended as well.
        EndEveryDialog();
        return;
    }
    if (GetTickCount() - m_start > m_watchdogMs) {
        std::string at = m_next < m_steps.size() ? "step " + std::to_string(m_next + 1) + " (" + m_steps[m_next].what + ")"
                                                 : "the dialog did not end after its steps";
        EndByWatchdog(at + " after " + std::to_string(m_watchdogMs) + " ms");
        return;
    }
    ++m_depth;
    while (m_next < m_steps.size() && !m_ended) {
        Step& s = m_steps[m_next];
        HWND dlg = Dialog();
        HWND box = FindMessageBox();
        if (!s.box) {
            // Dialog steps wait for the dialog and for every message box to be gone, the
            // answered ones included.
            bool closing = std::any_of(m_answered.begin(), m_answered.end(),
                                       [](HWND b) { return IsWindow(b) && IsWindowVisible(b); });
            if (box || closing || !dlg || !IsWindowVisible(dlg) || !IsWindowEnabled(dlg))
                break;
        }
        ++m_next;
        if (!s.run(dlg)) {
            --m_next;
            break;
        }
        if (s.box || s.posts)
            break;  // what was posted is processed before the next tick
    }
    --m_depth;
}

INT_PTR CDialogDriver::Run(CDialog& dlg)
{
    size_t firstOfRun = m_failures.size();
    m_dlg = &dlg;
    m_next = 0;
    m_ended = false;
    m_start = GetTickCount();
    g_driver = this;
    m_timer = SetTimer(nullptr, 0, 20, &CDialogDriver::OnTimer);
    INT_PTR r = dlg.DoModal();
    KillTimer(nullptr, m_timer);
    m_timer = 0;
    g_driver = nullptr;
    if (m_next < m_steps.size() && !m_ended)
        Fail("the dialog ended before step " + std::to_string(m_next + 1) + " (" + m_steps[m_next].what + ")");
    m_dlg = nullptr;
    CheckFailures(firstOfRun);
    return r;
}

void CDialogDriver::RunAround(const std::string& captionPrefix, std::function<void()> modalCall)
{
    size_t firstOfRun = m_failures.size();
    m_dlg = nullptr;
    m_caption = captionPrefix;
    m_next = 0;
    m_ended = false;
    m_start = GetTickCount();
    g_driver = this;
    m_timer = SetTimer(nullptr, 0, 20, &CDialogDriver::OnTimer);
    modalCall();
    KillTimer(nullptr, m_timer);
    m_timer = 0;
    g_driver = nullptr;
    if (m_next < m_steps.size() && !m_ended)
        Fail("the dialog ended before step " + std::to_string(m_next + 1) + " (" + m_steps[m_next].what + ")");
    m_caption.clear();
    CheckFailures(firstOfRun);
}

std::string CDialogDriver::Report() const
{
    std::ostringstream o;
    for (const std::string& f : m_failures)
        o << f << "\n";
    for (const std::string& t : m_boxTexts)
        o << "message box: " << t << "\n";
    return o.str();
}

#include "FxWnd.h"

#include "FxApp.h"

#include <map>
#include <memory>

namespace {
const char kBoundProp[] = "VeskFxWnd";

// Temporary objects for windows no object is bound to (GetDlgItem of an unbound control).
// The window layer runs on one thread; the lock keeps a stray second thread safe.
struct TempMap
{
    CRITICAL_SECTION lock;
    std::map<HWND, std::unique_ptr<CWnd>> wnds;
    TempMap() { InitializeCriticalSection(&lock); }
};
TempMap& Temps()
{
    static TempMap* t = new TempMap;  // never destroyed: windows may outlive static destruction
    return *t;
}
}

IMPLEMENT_DYNAMIC(CWnd, CObject)

const FxMsgMap* CWnd::GetThisMessageMap()
{
    static const FxMsgEntry entries[] = {{0, 0, 0, nullptr}};
    static const FxMsgMap map = {nullptr, entries};
    return &map;
}

CWnd::CWnd() {}

CWnd::~CWnd()
{
    ReleaseControl();
    if (m_hWnd && FromHandlePermanent(m_hWnd) == this) {
        if (m_pfnSuper)
            UnsubclassWindow();
        else
            Detach();
    }
}

CWnd* CWnd::FromHandlePermanent(HWND h)
{
    return h ? static_cast<CWnd*>(GetPropA(h, kBoundProp)) : nullptr;
}

CWnd* CWnd::FromHandle(HWND h)
{
    if (!h)
        return nullptr;
    if (CWnd* w = FromHandlePermanent(h))
        return w;
    TempMap& t = Temps();
    EnterCriticalSection(&t.lock);
    std::unique_ptr<CWnd>& slot = t.wnds[h];
    if (!slot)
        slot.reset(new CWnd);
    slot->m_hWnd = h;
    CWnd* w = slot.get();
    LeaveCriticalSection(&t.lock);
    return w;
}

BOOL CWnd::Attach(HWND h)
{
    if (!h || m_hWnd || FromHandlePermanent(h))
        return FALSE;
    if (!SetPropA(h, kBoundProp, this))
        return FALSE;
    m_hWnd = h;
    return TRUE;
}

HWND CWnd::Detach()
{
    HWND h = m_hWnd;
    if (h && FromHandlePermanent(h) == this)
        RemovePropA(h, kBoundProp);
    m_hWnd = nullptr;
    return h;
}

BOOL CWnd::SubclassWindow(HWND h)
{
    if (!Attach(h))
        return FALSE;
    m_pfnSuper = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(h, GWLP_WNDPROC, LONG_PTR(&FxWndProc)));
    if (!m_pfnSuper) {
        Detach();
        return FALSE;
    }
    return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT id, CWnd* parent)
{
    HWND h = parent ? ::GetDlgItem(parent->m_hWnd, int(id)) : nullptr;
    return h && SubclassWindow(h);
}

HWND CWnd::UnsubclassWindow()
{
    if (!m_hWnd)
        return nullptr;
    if (m_pfnSuper)
        SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, LONG_PTR(m_pfnSuper));
    m_pfnSuper = nullptr;
    return Detach();
}

BOOL CWnd::Create(LPCSTR className, LPCSTR windowName, DWORD style, const RECT& r, CWnd* parent, UINT id)
{
    HWND h = CreateWindowExA(0, className, windowName, style, r.left, r.top, r.right - r.left, r.bottom - r.top,
                             parent ? parent->m_hWnd : nullptr, reinterpret_cast<HMENU>(UINT_PTR(id)),
                             AfxGetInstanceHandle(), nullptr);
    if (!h)
        return FALSE;
    if (!SubclassWindow(h)) {
        ::DestroyWindow(h);
        return FALSE;
    }
    return TRUE;
}

BOOL CWnd::DestroyWindow()
{
    if (!m_hWnd)
        return FALSE;
    HWND h = m_hWnd;
    return ::DestroyWindow(h);
}

LRESULT CWnd::DefWindowProc(UINT msg, WPARAM wp, LPARAM lp)
{
    if (m_pfnSuper)
        return CallWindowProcA(m_pfnSuper, m_hWnd, msg, wp, lp);
    return ::DefWindowProcA(m_hWnd, msg, wp, lp);
}

LRESULT CWnd::Default()
{
    const MSG* m = m_pCurrentMsg ? m_pCurrentMsg : &m_lastMsg;
    return DefWindowProc(m->message, m->wParam, m->lParam);
}

LRESULT CWnd::WindowProc(UINT msg, WPARAM wp, LPARAM lp)
{
    LRESULT result = 0;
    if (!OnWndMsg(msg, wp, lp, &result))
        result = DefWindowProc(msg, wp, lp);
    return result;
}

const FxMsgEntry* CWnd::FindEntry(const FxMsgMap* map, UINT msg, UINT code, UINT id)
{
    for (; map; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr)
        for (const FxMsgEntry* e = map->lpEntries; e->nMessage; ++e)
            if (e->nMessage == msg && e->nCode == code && e->nID == id)
                return e;
    return nullptr;
}

CWnd* fxmsg::WndOf(HWND h) { return CWnd::FromHandle(h); }

BOOL CWnd::OnCommand(WPARAM wp, LPARAM lp)
{
    UINT id = LOWORD(wp), code = HIWORD(wp);
    // Menu and accelerator commands (lParam 0) carry code 0 or 1; both match ON_COMMAND entries.
    const FxMsgEntry* e = FindEntry(GetMessageMap(), WM_COMMAND, code, id);
    if (!e && lp == 0 && code == 1)
        e = FindEntry(GetMessageMap(), WM_COMMAND, 0, id);
    if (!e)
        return FALSE;
    e->pfn(this, WM_COMMAND, wp, lp);
    return TRUE;
}

BOOL CWnd::OnNotify(WPARAM, LPARAM lp, LRESULT* result)
{
    const NMHDR* nm = reinterpret_cast<const NMHDR*>(lp);
    if (!nm)
        return FALSE;
    const FxMsgEntry* e = FindEntry(GetMessageMap(), WM_NOTIFY, nm->code, UINT(nm->idFrom));
    if (!e)
        return FALSE;
    *result = e->pfn(this, WM_NOTIFY, 0, lp);
    return TRUE;
}

BOOL CWnd::OnChildNotify(UINT, WPARAM, LPARAM, LRESULT*) { return FALSE; }

BOOL CWnd::OnWndMsg(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result)
{
    switch (msg) {
    case WM_COMMAND:
        if (lp) {
            // A control's notification goes to the control object first (reflection).
            CWnd* child = FromHandlePermanent(reinterpret_cast<HWND>(lp));
            if (child && child != this && child->OnChildNotify(msg, wp, lp, result))
                return TRUE;
        }
        if (OnCommand(wp, lp)) {
            *result = 0;
            return TRUE;
        }
        return FALSE;
    case WM_NOTIFY:
        return OnNotify(wp, lp, result);
    case WM_DRAWITEM: {
        const DRAWITEMSTRUCT* dis = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
        CWnd* child = dis ? FromHandlePermanent(dis->hwndItem) : nullptr;
        if (child && child->OnChildNotify(msg, wp, lp, result)) {
            *result = TRUE;
            return TRUE;
        }
        break;
    }
    default:
        break;
    }
    UINT key = msg;
    if (msg >= WM_CTLCOLORMSGBOX && msg <= WM_CTLCOLORSTATIC)
        key = WM_CTLCOLORSTATIC;
    const FxMsgEntry* e = FindEntry(GetMessageMap(), key, 0, 0);
    if (!e)
        return FALSE;
    *result = e->pfn(this, msg, wp, lp);
    return TRUE;
}

BOOL CWnd::PreTranslateMessage(MSG*) { return FALSE; }

void CWnd::OnPaint() { Default(); }
BOOL CWnd::OnEraseBkgnd(CDC*) { return BOOL(Default()); }
HBRUSH CWnd::OnCtlColor(CDC*, CWnd*, UINT) { return reinterpret_cast<HBRUSH>(Default()); }
LRESULT CWnd::OnNcHitTest(CPoint) { return Default(); }
void CWnd::OnMove(int, int) { Default(); }
HCURSOR CWnd::OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(Default()); }
void CWnd::OnSetFocus(CWnd*) { Default(); }
void CWnd::OnEnable(BOOL) { Default(); }
void CWnd::OnTimer(UINT_PTR) { Default(); }

CWnd* CWnd::GetDlgItem(int id) const { return FromHandle(::GetDlgItem(m_hWnd, id)); }

CWnd* CWnd::GetParent() const { return FromHandle(::GetParent(m_hWnd)); }

CString FxWindowText(HWND h)
{
    CString s;
    int n = ::GetWindowTextLengthA(h);
    if (n > 0) {
        ::GetWindowTextA(h, s.GetBuffer(n + 1), n + 1);
        s.ReleaseBuffer();
    }
    return s;
}

CString CWnd::GetWindowText() const { return FxWindowText(m_hWnd); }

void CWnd::SetFont(CFont* font, BOOL redraw)
{
    ::SendMessageA(m_hWnd, WM_SETFONT, WPARAM(font ? static_cast<HFONT>(*font) : nullptr), redraw);
}

CWnd* CWnd::SetFocus() { return FromHandle(::SetFocus(m_hWnd)); }

int CWnd::MessageBox(const char* text, const char* caption, UINT type)
{
    if (!caption) {
        CWinApp* app = AfxGetApp();
        caption = app && app->m_pszAppName ? app->m_pszAppName : "";
    }
    return ::MessageBoxA(m_hWnd, text, caption, type);
}

int AfxMessageBox(const char* text, UINT type)
{
    CWinApp* app = AfxGetApp();
    const char* caption = app && app->m_pszAppName ? app->m_pszAppName : "";
    return ::MessageBoxA(GetActiveWindow(), text, caption, type);
}

LRESULT CALLBACK FxWndProc(HWND h, UINT msg, WPARAM wp, LPARAM lp)
{
    CWnd* w = CWnd::FromHandlePermanent(h);
    if (!w)
        return ::DefWindowProcA(h, msg, wp, lp);
    MSG cur = {h, msg, wp, lp, 0, {0, 0}};
    const MSG* outer = w->m_pCurrentMsg;
    w->m_pCurrentMsg = &cur;
    w->m_lastMsg = cur;
    LRESULT r = 0;
    try {
        r = w->WindowProc(msg, wp, lp);
    } catch (...) {
        // An exception must not cross the system's frames: the message gets its default answer.
        try {
            r = w->DefWindowProc(msg, wp, lp);
        } catch (...) {
            r = 0;
        }
    }
    w->m_pCurrentMsg = outer;
    if (msg == WM_NCDESTROY && CWnd::FromHandlePermanent(h) == w) {
        WNDPROC super = w->m_pfnSuper;
        w->m_pfnSuper = nullptr;
        if (super)
            SetWindowLongPtrA(h, GWLP_WNDPROC, LONG_PTR(super));
        w->Detach();
        try {
            w->PostNcDestroy();
        } catch (...) {
        }
    }
    return r;
}

BSTR FxAllocBstr(const char* text)
{
    if (!text)
        text = "";
    int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (n <= 0)
        return SysAllocString(L"");
    BSTR b = SysAllocStringLen(nullptr, UINT(n - 1));
    if (b)
        MultiByteToWideChar(CP_ACP, 0, text, -1, b, n);
    return b;
}

CString FxBstrToText(BSTR b)
{
    CString s;
    if (!b)
        return s;
    int len = int(SysStringLen(b));
    if (len == 0)
        return s;
    int n = WideCharToMultiByte(CP_ACP, 0, b, len, nullptr, 0, nullptr, nullptr);
    if (n > 0) {
        WideCharToMultiByte(CP_ACP, 0, b, len, s.GetBuffer(n + 1), n, nullptr, nullptr);
        s.ReleaseBuffer(n);
    }
    return s;
}

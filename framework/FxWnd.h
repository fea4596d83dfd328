// CWnd: a C++ object bound to a window handle, with a message map per class.
//
// Every bound window's messages go through one window procedure: it finds the object, hands the
// message to the class's message map (walking up to the base classes), reflects WM_DRAWITEM to
// the control object, and otherwise calls the window's previous procedure. No C++ exception
// leaves that procedure.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <ole2.h>

#include "FxGdi.h"
#include "FxObject.h"
#include "FxString.h"

class CWnd;

// A message-map entry calls its handler through a small thunk that knows, from the handler's
// type, how to take the message apart; the handler's type is checked where the entry is made.
typedef LRESULT (*FxThunk)(CWnd* wnd, UINT msg, WPARAM wp, LPARAM lp);

struct FxMsgEntry
{
    UINT nMessage;  // 0 ends the table
    UINT nCode;     // notification code (WM_COMMAND, WM_NOTIFY)
    UINT nID;       // control id (WM_COMMAND, WM_NOTIFY); 0 for other messages
    FxThunk pfn;
};

struct FxMsgMap
{
    const FxMsgMap* (*pfnGetBaseMap)();
    const FxMsgEntry* lpEntries;
};

// Handler shapes (B: the class that declares the handler, T: the class of the map).
namespace fxmsg {
CWnd* WndOf(HWND h);
template <class T, class B> LRESULT Call(T* w, void (B::*f)(), UINT, WPARAM, LPARAM) { (w->*f)(); return 0; }
template <class T, class B> LRESULT Call(T* w, HCURSOR (B::*f)(), UINT, WPARAM, LPARAM)
{
    return reinterpret_cast<LRESULT>((w->*f)());
}
template <class T, class B> LRESULT Call(T* w, BOOL (B::*f)(CDC*), UINT, WPARAM wp, LPARAM)
{
    CDC dc;
    dc.Attach(reinterpret_cast<HDC>(wp));
    BOOL r = (w->*f)(&dc);
    dc.Detach();
    return r;
}
template <class T, class B> LRESULT Call(T* w, HBRUSH (B::*f)(CDC*, CWnd*, UINT), UINT msg, WPARAM wp, LPARAM lp)
{
    CDC dc;
    dc.Attach(reinterpret_cast<HDC>(wp));
    HBRUSH r = (w->*f)(&dc, WndOf(reinterpret_cast<HWND>(lp)), msg - WM_CTLCOLORMSGBOX);
    dc.Detach();
    return reinterpret_cast<LRESULT>(r);
}
template <class T, class B> LRESULT Call(T* w, LRESULT (B::*f)(CPoint), UINT, WPARAM, LPARAM lp)
{
    return (w->*f)(CPoint(lp));
}
template <class T, class B> LRESULT Call(T* w, void (B::*f)(int, int), UINT, WPARAM, LPARAM lp)
{
    (w->*f)(short(LOWORD(lp)), short(HIWORD(lp)));
    return 0;
}
template <class T, class B> LRESULT Call(T* w, void (B::*f)(CWnd*), UINT, WPARAM wp, LPARAM)
{
    (w->*f)(WndOf(reinterpret_cast<HWND>(wp)));
    return 0;
}
template <class T, class B> LRESULT Call(T* w, void (B::*f)(BOOL), UINT, WPARAM wp, LPARAM)
{
    (w->*f)(BOOL(wp));
    return 0;
}
template <class T, class B> LRESULT Call(T* w, void (B::*f)(UINT_PTR), UINT, WPARAM wp, LPARAM)
{
    (w->*f)(UINT_PTR(wp));
    return 0;
}
template <class T, class B> LRESULT Call(T* w, void (B::*f)(NMHDR*, LRESULT*), UINT, WPARAM, LPARAM lp)
{
    LRESULT r = 0;
    (w->*f)(reinterpret_cast<NMHDR*>(lp), &r);
    return r;
}
template <class T, class B> LRESULT Call(T* w, LRESULT (B::*f)(WPARAM, LPARAM), UINT, WPARAM wp, LPARAM lp)
{
    return (w->*f)(wp, lp);
}
}

#define DECLARE_MESSAGE_MAP()                        \
public:                                              \
    static const FxMsgMap* GetThisMessageMap();      \
protected:                                           \
    const FxMsgMap* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                  \
    const FxMsgMap* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
    const FxMsgMap* theClass::GetThisMessageMap()                               \
    {                                                                           \
        typedef theClass ThisClass;                                             \
        typedef baseClass TheBaseClass;                                         \
        static const FxMsgEntry entries[] = {

#define END_MESSAGE_MAP()                                                  \
            {0, 0, 0, nullptr}                                             \
        };                                                                 \
        static const FxMsgMap map = {&TheBaseClass::GetThisMessageMap, entries}; \
        return &map;                                                       \
    }

#define FX_THUNK(fn)                                                                    \
    [](CWnd* w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {                              \
        return fxmsg::Call(static_cast<ThisClass*>(w), &ThisClass::fn, m, wp, lp);      \
    }

#define ON_COMMAND(id, fn) {WM_COMMAND, 0, UINT(id), FX_THUNK(fn)},
#define ON_CONTROL(code, id, fn) {WM_COMMAND, UINT(code), UINT(id), FX_THUNK(fn)},
#define ON_BN_CLICKED(id, fn) ON_CONTROL(BN_CLICKED, id, fn)
#define ON_EN_CHANGE(id, fn) ON_CONTROL(EN_CHANGE, id, fn)
#define ON_CBN_SELCHANGE(id, fn) ON_CONTROL(CBN_SELCHANGE, id, fn)
#define ON_LBN_SELCHANGE(id, fn) ON_CONTROL(LBN_SELCHANGE, id, fn)
#define ON_NOTIFY(code, id, fn) {WM_NOTIFY, UINT(code), UINT(id), FX_THUNK(fn)},
#define ON_MESSAGE(msg, fn) {UINT(msg), 0, 0, FX_THUNK(fn)},
#define ON_WM_PAINT() {WM_PAINT, 0, 0, FX_THUNK(OnPaint)},
#define ON_WM_ERASEBKGND() {WM_ERASEBKGND, 0, 0, FX_THUNK(OnEraseBkgnd)},
// One entry stands for every WM_CTLCOLOR message (edit, list box, button, dialog, scroll bar, static).
#define ON_WM_CTLCOLOR() {WM_CTLCOLORSTATIC, 0, 0, FX_THUNK(OnCtlColor)},
#define ON_WM_NCHITTEST() {WM_NCHITTEST, 0, 0, FX_THUNK(OnNcHitTest)},
#define ON_WM_MOVE() {WM_MOVE, 0, 0, FX_THUNK(OnMove)},
#define ON_WM_QUERYDRAGICON() {WM_QUERYDRAGICON, 0, 0, FX_THUNK(OnQueryDragIcon)},
#define ON_WM_SETFOCUS() {WM_SETFOCUS, 0, 0, FX_THUNK(OnSetFocus)},
#define ON_WM_ENABLE() {WM_ENABLE, 0, 0, FX_THUNK(OnEnable)},
#define ON_WM_TIMER() {WM_TIMER, 0, 0, FX_THUNK(OnTimer)},

// Argument types of InvokeHelper, as a NUL-terminated string of these bytes.
#define VTS_I4 "\x03"
#define VTS_BOOL "\x0B"
#define VTS_BSTR "\x08"  // passed as const char* (8-bit text), sent as BSTR
#define VTS_NONE ""

class CWnd : public CObject
{
    DECLARE_DYNAMIC(CWnd)
public:
    CWnd();
    ~CWnd() override;

    // The object bound to a window by this framework, or null.
    static CWnd* FromHandlePermanent(HWND h);
    // The bound object, or a temporary one of this thread (valid until the next call).
    static CWnd* FromHandle(HWND h);

    BOOL Attach(HWND h);        // bind without taking over the window procedure
    HWND Detach();
    BOOL SubclassWindow(HWND h); // bind and route the window's messages through the map
    BOOL SubclassDlgItem(UINT id, CWnd* parent);
    HWND UnsubclassWindow();

    virtual BOOL Create(LPCSTR className, LPCSTR windowName, DWORD style, const RECT& rect, CWnd* parent,
                        UINT id);
    // Hosts the ActiveX control of clsid in a child window through the system's atl.dll. On
    // failure the object stays without a window and GetControlError says why.
    BOOL CreateControl(REFCLSID clsid, LPCSTR windowName, DWORD style, const RECT& rect, CWnd* parent, UINT id);
    BOOL DestroyWindow();

    // Calls the hosted control through IDispatch::Invoke. params lists the argument types
    // (VTS_*), the values follow. vtRet VT_EMPTY: no result; VT_I4 -> long*, VT_BOOL -> BOOL*,
    // VT_BSTR -> CString* (8-bit text in the ANSI code page). A failure is returned, and its
    // text kept for GetControlError; the result is left unchanged then.
    HRESULT InvokeHelper(DISPID id, WORD flags, VARTYPE vtRet, void* pvRet, const char* params, ...);
    IDispatch* GetControlDispatch() const { return m_pDispatch; }
    const CString& GetControlError() const { return m_strControlError; }
    // The HRESULT of the last InvokeHelper (S_OK before the first call).
    HRESULT GetLastInvokeResult() const { return m_hrLastInvoke; }

    virtual LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp);
    virtual BOOL OnWndMsg(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result);
    virtual BOOL OnCommand(WPARAM wp, LPARAM lp);
    virtual BOOL OnNotify(WPARAM wp, LPARAM lp, LRESULT* result);
    // A message the parent reflects to this control (WM_DRAWITEM); TRUE when handled.
    virtual BOOL OnChildNotify(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result);
    virtual BOOL PreTranslateMessage(MSG* msg);
    virtual void PostNcDestroy() {}
    LRESULT Default();
    virtual LRESULT DefWindowProc(UINT msg, WPARAM wp, LPARAM lp);

    // Handlers the message maps name; each does the window's default processing.
    void OnPaint();
    BOOL OnEraseBkgnd(CDC* dc);
    HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor);
    LRESULT OnNcHitTest(CPoint p);
    void OnMove(int x, int y);
    HCURSOR OnQueryDragIcon();
    void OnSetFocus(CWnd* oldWnd);
    void OnEnable(BOOL enable);
    void OnTimer(UINT_PTR id);

    // Thin forms of the window calls.
    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }
    CWnd* GetDlgItem(int id) const;
    CWnd* GetParent() const;
    int GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
    void SetWindowText(const char* text) { ::SetWindowTextA(m_hWnd, text); }
    CString GetWindowText() const;
    void GetWindowText(CString& out) const { out = GetWindowText(); }
    void SetDlgItemText(int id, const char* text) { ::SetDlgItemTextA(m_hWnd, id, text); }
    BOOL ShowWindow(int cmd) { return ::ShowWindow(m_hWnd, cmd); }
    BOOL EnableWindow(BOOL enable = TRUE) { return ::EnableWindow(m_hWnd, enable); }
    BOOL IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
    BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
    BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
    void MoveWindow(int x, int y, int w, int h, BOOL repaint = TRUE) { ::MoveWindow(m_hWnd, x, y, w, h, repaint); }
    BOOL SetWindowPos(HWND after, int x, int y, int cx, int cy, UINT flags)
    {
        return ::SetWindowPos(m_hWnd, after, x, y, cx, cy, flags);
    }
    void GetClientRect(RECT* r) const { ::GetClientRect(m_hWnd, r); }
    void GetWindowRect(RECT* r) const { ::GetWindowRect(m_hWnd, r); }
    void Invalidate(BOOL erase = TRUE) { ::InvalidateRect(m_hWnd, nullptr, erase); }
    void UpdateWindow() { ::UpdateWindow(m_hWnd); }
    void SetFont(CFont* font, BOOL redraw = TRUE);
    HFONT GetFont() const { return reinterpret_cast<HFONT>(::SendMessageA(m_hWnd, WM_GETFONT, 0, 0)); }
    int SetWindowRgn(HRGN rgn, BOOL redraw) { return ::SetWindowRgn(m_hWnd, rgn, redraw); }
    HICON SetIcon(HICON icon, BOOL big)
    {
        return reinterpret_cast<HICON>(::SendMessageA(m_hWnd, WM_SETICON, big ? ICON_BIG : ICON_SMALL, LPARAM(icon)));
    }
    CWnd* SetFocus();
    LRESULT SendMessage(UINT msg, WPARAM wp = 0, LPARAM lp = 0) const { return ::SendMessageA(m_hWnd, msg, wp, lp); }
    BOOL PostMessage(UINT msg, WPARAM wp = 0, LPARAM lp = 0) const { return ::PostMessageA(m_hWnd, msg, wp, lp); }
    int MessageBox(const char* text, const char* caption = nullptr, UINT type = MB_OK);

    HWND m_hWnd = nullptr;

public:
    static const FxMsgMap* GetThisMessageMap();

protected:
    virtual const FxMsgMap* GetMessageMap() const { return GetThisMessageMap(); }
    friend LRESULT CALLBACK FxWndProc(HWND, UINT, WPARAM, LPARAM);
    friend class CDialog;

    static const FxMsgEntry* FindEntry(const FxMsgMap* map, UINT msg, UINT code, UINT id);
    void ReleaseControl();
    // Takes the dispatch interface of a control that was made elsewhere (not hosted here).
    void AttachControlDispatch(IDispatch* disp);

    WNDPROC m_pfnSuper = nullptr;  // the window's procedure before we subclassed it
    const MSG* m_pCurrentMsg = nullptr;
    MSG m_lastMsg = {};
    IUnknown* m_pControl = nullptr;   // the hosted ActiveX control
    IDispatch* m_pDispatch = nullptr;
    CString m_strControlError;
    HRESULT m_hrLastInvoke = S_OK;
};

LRESULT CALLBACK FxWndProc(HWND h, UINT msg, WPARAM wp, LPARAM lp);

// A message box over the active window of this thread, captioned with the application's name.
int AfxMessageBox(const char* text, UINT type = MB_OK);

// A window's text.
CString FxWindowText(HWND h);

// BSTR <-> 8-bit text in the ANSI code page.
BSTR FxAllocBstr(const char* text);
CString FxBstrToText(BSTR b);
#endif

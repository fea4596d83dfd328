#include "FxDdx.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

const char* const kFxRangeMessage = "Enter an integer between %1 and %2.";
const char* const kFxNotNumberMessage = "Please enter a whole number.";

HWND CDataExchange::PrepareCtrl(int id)
{
    HWND h = ::GetDlgItem(m_pDlgWnd->m_hWnd, id);
    m_hWndLastControl = h;
    m_bEditLastControl = false;
    return h;
}

HWND CDataExchange::PrepareEditCtrl(int id)
{
    HWND h = PrepareCtrl(id);
    m_bEditLastControl = true;
    return h;
}

void CDataExchange::Fail()
{
    if (m_bSaveAndValidate && m_hWndLastControl) {
        // The message box has just closed: the dialog's reactivation may still restore the
        // focus it saved, so the focus is also queued behind it.
        ::SetFocus(m_hWndLastControl);
        ::PostMessageA(m_pDlgWnd->m_hWnd, WM_NEXTDLGCTL, WPARAM(m_hWndLastControl), TRUE);
        if (m_bEditLastControl)
            ::SendMessageA(m_hWndLastControl, EM_SETSEL, 0, -1);
    }
    throw FxDataExchangeFailed();
}

void DDX_Control(CDataExchange* dx, int id, CWnd& control)
{
    if (control.m_hWnd)
        return;
    HWND h = dx->PrepareCtrl(id);
    if (h)
        control.SubclassWindow(h);
}

namespace {
void SetTextIfDifferent(HWND h, const char* text)
{
    if (FxWindowText(h) != text)
        ::SetWindowTextA(h, text);
}

CString TextOf(HWND h) { return FxWindowText(h); }

// Decimal integer with optional sign and surrounding blanks; FALSE for anything else.
bool ParseInt(CString text, int& out)
{
    text.Trim();
    const char* p = text;
    if (!*p)
        return false;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(p, &end, 10);
    if (errno || end == p || *end || v < INT_MIN || v > INT_MAX)
        return false;
    out = int(v);
    return true;
}
}

void DDX_Text(CDataExchange* dx, int id, CString& value)
{
    HWND h = dx->PrepareEditCtrl(id);
    if (!h)
        return;
    if (dx->m_bSaveAndValidate)
        value = TextOf(h);
    else
        SetTextIfDifferent(h, value);
}

void DDX_Text(CDataExchange* dx, int id, int& value)
{
    HWND h = dx->PrepareEditCtrl(id);
    if (!h)
        return;
    if (dx->m_bSaveAndValidate) {
        int v = 0;
        if (!ParseInt(TextOf(h), v)) {
            AfxMessageBox(kFxNotNumberMessage, MB_OK | MB_ICONEXCLAMATION);
            dx->Fail();
        }
        value = v;
    } else {
        CString s;
        s.Format("%d", value);
        SetTextIfDifferent(h, s);
    }
}

void DDV_MinMaxInt(CDataExchange* dx, int value, int minValue, int maxValue)
{
    if (!dx->m_bSaveAndValidate || (value >= minValue && value <= maxValue))
        return;
    CString lo, hi, text(kFxRangeMessage);
    lo.Format("%d", minValue);
    hi.Format("%d", maxValue);
    text.Replace("%1", lo);
    text.Replace("%2", hi);
    AfxMessageBox(text, MB_OK | MB_ICONEXCLAMATION);
    dx->Fail();
}

void DDX_Check(CDataExchange* dx, int id, int& value)
{
    HWND h = dx->PrepareCtrl(id);
    if (!h)
        return;
    if (dx->m_bSaveAndValidate)
        value = int(::SendMessageA(h, BM_GETCHECK, 0, 0));
    else
        ::SendMessageA(h, BM_SETCHECK, WPARAM(value), 0);
}

namespace {
bool IsRadio(HWND h)
{
    char cls[16] = {};
    ::GetClassNameA(h, cls, sizeof cls);
    if (lstrcmpiA(cls, "Button") != 0)
        return false;
    LONG type = ::GetWindowLongA(h, GWL_STYLE) & BS_TYPEMASK;
    return type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
}
}

void DDX_Radio(CDataExchange* dx, int id, int& value)
{
    HWND first = dx->PrepareCtrl(id);
    if (!first)
        return;
    if (dx->m_bSaveAndValidate)
        value = -1;
    int index = 0;
    for (HWND h = first; h; h = ::GetWindow(h, GW_HWNDNEXT)) {
        if (h != first && (::GetWindowLongA(h, GWL_STYLE) & WS_GROUP))
            break;
        if (!IsRadio(h))
            continue;
        if (dx->m_bSaveAndValidate) {
            if (::SendMessageA(h, BM_GETCHECK, 0, 0) == BST_CHECKED)
                value = index;
        } else {
            ::SendMessageA(h, BM_SETCHECK, index == value ? BST_CHECKED : BST_UNCHECKED, 0);
        }
        ++index;
    }
}

#include "FxCtrl.h"

IMPLEMENT_DYNAMIC(CButton, CWnd)
IMPLEMENT_DYNAMIC(CEdit, CWnd)
IMPLEMENT_DYNAMIC(CComboBox, CWnd)
IMPLEMENT_DYNAMIC(CListBox, CWnd)
IMPLEMENT_DYNAMIC(CTreeCtrl, CWnd)
IMPLEMENT_DYNAMIC(CSpinButtonCtrl, CWnd)

namespace {
// WM_DRAWITEM that the parent reflects goes to the control's DrawItem.
template <class C> BOOL ReflectDrawItem(C* control, UINT msg, LPARAM lp, LRESULT* result)
{
    if (msg != WM_DRAWITEM)
        return FALSE;
    control->DrawItem(reinterpret_cast<LPDRAWITEMSTRUCT>(lp));
    *result = TRUE;
    return TRUE;
}
}

void CButton::DrawItem(LPDRAWITEMSTRUCT) {}

BOOL CButton::OnChildNotify(UINT msg, WPARAM, LPARAM lp, LRESULT* result)
{
    return ReflectDrawItem(this, msg, lp, result);
}

int CComboBox::SetCurSel(int index)
{
    if (index < 0 || index >= GetCount()) {
        SendMessage(CB_SETCURSEL, WPARAM(-1));
        return CB_ERR;
    }
    return int(SendMessage(CB_SETCURSEL, WPARAM(index)));
}

void CComboBox::GetLBText(int index, CString& out) const
{
    out.Empty();
    int n = int(SendMessage(CB_GETLBTEXTLEN, WPARAM(index)));
    if (n <= 0)
        return;
    n = int(SendMessage(CB_GETLBTEXT, WPARAM(index), LPARAM(out.GetBuffer(n + 1))));
    out.ReleaseBuffer(n > 0 ? n : 0);
}

CString CComboBox::GetLBText(int index) const
{
    CString s;
    GetLBText(index, s);
    return s;
}

int CComboBox::SelectString(int start, const char* text)
{
    int found = int(SendMessage(CB_FINDSTRING, WPARAM(start), LPARAM(text)));
    return found == CB_ERR ? (SetCurSel(-1), CB_ERR) : SetCurSel(found);
}

void CComboBox::DrawItem(LPDRAWITEMSTRUCT) {}

BOOL CComboBox::OnChildNotify(UINT msg, WPARAM, LPARAM lp, LRESULT* result)
{
    return ReflectDrawItem(this, msg, lp, result);
}

int CListBox::SetCurSel(int index)
{
    if (index < 0 || index >= GetCount()) {
        SendMessage(LB_SETCURSEL, WPARAM(-1));
        return LB_ERR;
    }
    return int(SendMessage(LB_SETCURSEL, WPARAM(index)));
}

void CListBox::GetText(int index, CString& out) const
{
    out.Empty();
    int n = int(SendMessage(LB_GETTEXTLEN, WPARAM(index)));
    if (n <= 0)
        return;
    n = int(SendMessage(LB_GETTEXT, WPARAM(index), LPARAM(out.GetBuffer(n + 1))));
    out.ReleaseBuffer(n > 0 ? n : 0);
}

void CListBox::DrawItem(LPDRAWITEMSTRUCT) {}

BOOL CListBox::OnChildNotify(UINT msg, WPARAM, LPARAM lp, LRESULT* result)
{
    return ReflectDrawItem(this, msg, lp, result);
}

HTREEITEM CTreeCtrl::InsertItem(const char* text, int image, int selectedImage, HTREEITEM parent, HTREEITEM after)
{
    TVINSERTSTRUCTA is = {};
    is.hParent = parent;
    is.hInsertAfter = after;
    is.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
    is.item.pszText = const_cast<char*>(text);
    is.item.iImage = image;
    is.item.iSelectedImage = selectedImage;
    return reinterpret_cast<HTREEITEM>(SendMessage(TVM_INSERTITEMA, 0, LPARAM(&is)));
}

CString CTreeCtrl::GetItemText(HTREEITEM item) const
{
    char buf[512] = {};
    TVITEMA it = {};
    it.mask = TVIF_TEXT;
    it.hItem = item;
    it.pszText = buf;
    it.cchTextMax = sizeof buf;
    if (!SendMessage(TVM_GETITEMA, 0, LPARAM(&it)))
        return CString();
    return CString(buf);
}

BOOL CTreeCtrl::SetItemState(HTREEITEM item, UINT state, UINT mask)
{
    TVITEMA it = {};
    it.mask = TVIF_STATE;
    it.hItem = item;
    it.state = state;
    it.stateMask = mask;
    return BOOL(SendMessage(TVM_SETITEMA, 0, LPARAM(&it)));
}

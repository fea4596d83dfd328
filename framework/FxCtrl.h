// Thin control classes: each is a CWnd over a standard control, with that control's messages as
// member functions. Owner-drawn buttons, combo and list boxes get WM_DRAWITEM reflected to
// DrawItem.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <commctrl.h>

#include "FxWnd.h"

class CButton : public CWnd
{
    DECLARE_DYNAMIC(CButton)
public:
    int GetCheck() const { return int(SendMessage(BM_GETCHECK)); }
    void SetCheck(int check) { SendMessage(BM_SETCHECK, WPARAM(check)); }
    UINT GetState() const { return UINT(SendMessage(BM_GETSTATE)); }
    virtual void DrawItem(LPDRAWITEMSTRUCT dis);
    BOOL OnChildNotify(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) override;
};

class CEdit : public CWnd
{
    DECLARE_DYNAMIC(CEdit)
public:
    void SetSel(int start, int end) { SendMessage(EM_SETSEL, WPARAM(start), LPARAM(end)); }
    void SetLimitText(UINT n) { SendMessage(EM_LIMITTEXT, n); }
    void SetReadOnly(BOOL ro = TRUE) { SendMessage(EM_SETREADONLY, WPARAM(ro)); }
};

class CComboBox : public CWnd
{
    DECLARE_DYNAMIC(CComboBox)
public:
    int AddString(const char* text) { return int(SendMessage(CB_ADDSTRING, 0, LPARAM(text))); }
    int InsertString(int index, const char* text) { return int(SendMessage(CB_INSERTSTRING, WPARAM(index), LPARAM(text))); }
    int DeleteString(int index) { return int(SendMessage(CB_DELETESTRING, WPARAM(index))); }
    void ResetContent() { SendMessage(CB_RESETCONTENT); }
    int GetCount() const { return int(SendMessage(CB_GETCOUNT)); }
    int GetCurSel() const { return int(SendMessage(CB_GETCURSEL)); }
    // An index that does not exist clears the selection and returns CB_ERR (as Windows does;
    // Wine would keep the old selection).
    int SetCurSel(int index);
    void GetLBText(int index, CString& out) const;
    CString GetLBText(int index) const;
    int FindStringExact(int start, const char* text) const
    {
        return int(SendMessage(CB_FINDSTRINGEXACT, WPARAM(start), LPARAM(text)));
    }
    int SelectString(int start, const char* text);
    int SetItemData(int index, DWORD_PTR data) { return int(SendMessage(CB_SETITEMDATA, WPARAM(index), LPARAM(data))); }
    DWORD_PTR GetItemData(int index) const { return DWORD_PTR(SendMessage(CB_GETITEMDATA, WPARAM(index))); }
    virtual void DrawItem(LPDRAWITEMSTRUCT dis);
    BOOL OnChildNotify(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) override;
};

class CListBox : public CWnd
{
    DECLARE_DYNAMIC(CListBox)
public:
    int AddString(const char* text) { return int(SendMessage(LB_ADDSTRING, 0, LPARAM(text))); }
    int InsertString(int index, const char* text) { return int(SendMessage(LB_INSERTSTRING, WPARAM(index), LPARAM(text))); }
    int DeleteString(int index) { return int(SendMessage(LB_DELETESTRING, WPARAM(index))); }
    void ResetContent() { SendMessage(LB_RESETCONTENT); }
    int GetCount() const { return int(SendMessage(LB_GETCOUNT)); }
    int GetCurSel() const { return int(SendMessage(LB_GETCURSEL)); }
    int SetCurSel(int index);
    void GetText(int index, CString& out) const;
    int FindStringExact(int start, const char* text) const
    {
        return int(SendMessage(LB_FINDSTRINGEXACT, WPARAM(start), LPARAM(text)));
    }
    virtual void DrawItem(LPDRAWITEMSTRUCT dis);
    BOOL OnChildNotify(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) override;
};

class CTreeCtrl : public CWnd
{
    DECLARE_DYNAMIC(CTreeCtrl)
public:
    HTREEITEM InsertItem(const char* text, int image, int selectedImage, HTREEITEM parent = TVI_ROOT,
                         HTREEITEM after = TVI_LAST);
    BOOL DeleteItem(HTREEITEM item) { return BOOL(SendMessage(TVM_DELETEITEM, 0, LPARAM(item))); }
    BOOL DeleteAllItems() { return DeleteItem(TVI_ROOT); }
    HTREEITEM GetNextItem(HTREEITEM item, UINT code) const
    {
        return reinterpret_cast<HTREEITEM>(SendMessage(TVM_GETNEXTITEM, code, LPARAM(item)));
    }
    HTREEITEM GetRootItem() const { return GetNextItem(nullptr, TVGN_ROOT); }
    HTREEITEM GetChildItem(HTREEITEM item) const { return GetNextItem(item, TVGN_CHILD); }
    HTREEITEM GetNextSiblingItem(HTREEITEM item) const { return GetNextItem(item, TVGN_NEXT); }
    HTREEITEM GetParentItem(HTREEITEM item) const { return GetNextItem(item, TVGN_PARENT); }
    HTREEITEM GetSelectedItem() const { return GetNextItem(nullptr, TVGN_CARET); }
    BOOL SelectItem(HTREEITEM item) { return BOOL(SendMessage(TVM_SELECTITEM, TVGN_CARET, LPARAM(item))); }
    CString GetItemText(HTREEITEM item) const;
    BOOL SetItemState(HTREEITEM item, UINT state, UINT mask);
    BOOL Expand(HTREEITEM item, UINT code) { return BOOL(SendMessage(TVM_EXPAND, code, LPARAM(item))); }
    BOOL EnsureVisible(HTREEITEM item) { return BOOL(SendMessage(TVM_ENSUREVISIBLE, 0, LPARAM(item))); }
    HIMAGELIST SetImageList(HIMAGELIST list, int which = TVSIL_NORMAL)
    {
        return reinterpret_cast<HIMAGELIST>(SendMessage(TVM_SETIMAGELIST, WPARAM(which), LPARAM(list)));
    }
    UINT GetCount() const { return UINT(SendMessage(TVM_GETCOUNT)); }
};

class CSpinButtonCtrl : public CWnd
{
    DECLARE_DYNAMIC(CSpinButtonCtrl)
public:
    void SetRange32(int lower, int upper) { SendMessage(UDM_SETRANGE32, WPARAM(lower), LPARAM(upper)); }
    void GetRange32(int& lower, int& upper) const
    {
        SendMessage(UDM_GETRANGE32, WPARAM(&lower), LPARAM(&upper));
    }
    int SetPos32(int pos) { return int(SendMessage(UDM_SETPOS32, 0, LPARAM(pos))); }
    int GetPos32() const { return int(SendMessage(UDM_GETPOS32)); }
    CWnd* SetBuddy(CWnd* buddy) { return FromHandle(reinterpret_cast<HWND>(SendMessage(UDM_SETBUDDY, WPARAM(buddy->m_hWnd)))); }
    CWnd* GetBuddy() const { return FromHandle(reinterpret_cast<HWND>(SendMessage(UDM_GETBUDDY))); }
};
#endif

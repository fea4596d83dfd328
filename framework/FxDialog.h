// CDialog: a dialog from a template resource, run modally by our own loop so that every message
// reaches the active dialog's PreTranslateMessage before it is dispatched.
#pragma once

#ifdef _WIN32
#include "FxWnd.h"

class CDataExchange;

class CDialog : public CWnd
{
    DECLARE_DYNAMIC(CDialog)
public:
    explicit CDialog(UINT templateId = 0, CWnd* parent = nullptr);
    ~CDialog() override;

    // IDOK, IDCANCEL or the code given to EndDialog; -1 when the dialog cannot be created.
    virtual INT_PTR DoModal();
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange* dx);
    // FALSE when a value failed its check (the message was shown, the focus is on the control).
    BOOL UpdateData(BOOL saveAndValidate = TRUE);
    virtual void OnOK();
    virtual void OnCancel();
    void EndDialog(INT_PTR result);
    BOOL PreTranslateMessage(MSG* msg) override;

    // The dialog whose modal loop runs innermost on this thread, or null.
    static CDialog* GetActiveModal();
    // The dialog whose modal loop runs around this one's, or null.
    CDialog* GetOuterModal() const { return m_pOuterModal; }

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

protected:
    void OnOKCommand() { OnOK(); }
    void OnCancelCommand() { OnCancel(); }
    friend INT_PTR CALLBACK FxDlgProc(HWND, UINT, WPARAM, LPARAM);
    DECLARE_MESSAGE_MAP()

    INT_PTR m_nModalResult = -1;
    bool m_bEnded = false;
    CDialog* m_pOuterModal = nullptr;
};

INT_PTR CALLBACK FxDlgProc(HWND h, UINT msg, WPARAM wp, LPARAM lp);
#endif

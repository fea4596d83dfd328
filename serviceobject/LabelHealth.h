// CChkPtrDlg: the interactive health check. Shows the device and its status live (refreshed
// every 100 ms) and prints the external test label each time Print is pressed.
#pragma once

#include "FxDialog.h"

class CLABELPrinter;

class CChkPtrDlg : public CDialog
{
public:
    // owner: the window the dialog is modal to (may be NULL).
    CChkPtrDlg(CLABELPrinter* printer, CWnd* owner);
    ~CChkPtrDlg() override;

    BOOL OnInitDialog() override;
    void OnPrint();
    void OnTimer(UINT_PTR id);
    void Refresh();

    // Whether the test label was printed, and the codes of the last print.
    BOOL m_bPrinted = FALSE;
    long m_nResultCode = 0;
    long m_nResultCodeExtended = 0;

protected:
    CLABELPrinter* m_pPrinter;
    DECLARE_MESSAGE_MAP()
};

// "Power State: " and the words for an OPOS power state.
CString PowerStateText(long powerState);

// CSelectConnectPrinterDlg: the first step of adding a cash drawer. It lists the receipt
// printers a drawer can hang on; a single click on one chooses it.
#pragma once

#include "FxCtrl.h"
#include "ImageTextButton.h"
#include "Skin.h"

// Whether a drawer can hang on the printer key of this name: the LQT series, and the KPT series
// without its E80 models (case-sensitive).
BOOL IsDrawerHostPrinter(const char* keyName);

class CSelectConnectPrinterDlg : public CSkinDialog
{
public:
    explicit CSelectConnectPrinterDlg(CWnd* parent = nullptr);

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    void OnLbnSelchangePrinterList();
    void LoadCaptions();

    CListBox m_lbPrinter;        // 1037, sorted
    CImageTextButton m_btnCancel;
    CString m_strCancel, m_strTitle;
    CString m_strSelectedPrinter;  // the result, after IDOK

protected:
    DECLARE_MESSAGE_MAP()
};

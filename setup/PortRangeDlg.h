// CPortRangeDlg: edits how many COM and LPT ports the printer configuration offers when ports
// are not enumerated, kept in setup.inf [Description] COMRange and LPTRange.
#pragma once

#include "FxCtrl.h"
#include "ImageTextButton.h"
#include "Skin.h"

class CPortRangeDlg : public CSkinDialog
{
public:
    explicit CPortRangeDlg(CWnd* parent = nullptr);

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    void OnBnClickedOk();
    void OnBnClickedDefault();

    CString m_strSetupInf;
    CImageTextButton m_btnCancel, m_btnOk, m_btnDefault;
    CString m_strSerialLabel, m_strParallelLabel, m_strDefault, m_strSave, m_strCancel;
    CSpinButtonCtrl m_spinParallel;  // 1024
    CSpinButtonCtrl m_spinSerial;    // 1023
    int m_nSerialRange = 0;          // edit 1010, 1 to 50
    int m_nParallelRange = 0;        // edit 1011, 1 to 10

protected:
    void LoadCaptions();
    DECLARE_MESSAGE_MAP()
};

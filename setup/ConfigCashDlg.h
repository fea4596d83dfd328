// CConfigCashDlg: creates or edits a cash drawer's device key under CashDrawer (the printer it
// hangs on, connector pin, open level, pulse times, logical name), and runs Check Health on it
// through the hosted CashDrawer Control Object.
#pragma once

#include "FxCtrl.h"
#include "ImageTextButton.h"
#include "OposControls.h"
#include "Skin.h"

class CConfigCashDlg : public CSkinDialog
{
public:
    explicit CConfigCashDlg(CWnd* parent = nullptr);

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    void OnCancel() override;

    void LoadCaptions();
    void LoadSettings();
    // Writes the device key (and the LDN's alias); FALSE, with nothing written, when
    // poscash.inf [KPTCDW] or setup.inf's Version is missing.
    BOOL SaveSettings();
    // TRUE when the LDN may be saved; otherwise message 66 and FALSE.
    BOOL CheckLdn();
    void OnSettingChanged();
    void OnBnClickedOk();
    void OnBnClickedApply();
    void OnBnClickedCheckHealth();

    int m_bAddMode = 0;     // set by the caller: non-zero to add, 0 to modify
    int m_bFirstSave = 1;   // until a save writes the key: that save chooses the name in add mode
    CString m_strDeviceName;        // 1009, set by the caller
    CString m_strConnectedPrinter;  // 1036, set by the caller when adding
    int m_nPinIndex = -1;           // 1003 "Number 2" = 0, 1004 "Number 5" = 1
    int m_nLevelIndex = -1;         // 1005 "Low(0)" = 0, 1006 "High(1)" = 1
    CString m_strPulseOnTime = "200";   // 1012
    CString m_strPulseOffTime = "200";  // 1013
    CString m_strLdn;                   // 1018
    COPOSCashDrawer m_ctlCashDrawer;    // 1038

    CImageTextButton m_btnOk, m_btnCancel, m_btnCheckHealth, m_btnApply;

protected:
    // Hosts the CashDrawer Control Object in the dialog (at its start).
    virtual BOOL CreateDrawerControl(const RECT& rect);
    CString ClassKey() const;
    CString DeviceKey() const;
    // The first name of KPTCDW, KPTCDW_1, ... that no cash drawer key carries.
    CString FreeDeviceName(const CString& wanted) const;

    // Whether this dialog made the device key (only such a key goes on Cancel of an add).
    BOOL m_bCreatedKey = FALSE;
    // While the dialog fills its controls, their change notifications are not the user's.
    bool m_bFilling = false;
    DECLARE_MESSAGE_MAP()
};

// CSelectDevice: the first step of adding a device. The user picks a category and a model; Next
// makes the model's device key with its default values and hands the class and the key name to
// the main dialog.
#pragma once

#include "FxCtrl.h"
#include "FxDialog.h"

class CSelectDevice : public CDialog
{
public:
    explicit CSelectDevice(CWnd* parent = nullptr);

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    void UpdateDeviceClass();
    void FillModelList();
    void LoadCaptions();
    void OnBnClickedNext();
    void OnCbnSelchangeDeviceClass();

    CString Installdir;
    BOOL m_bLabelSupport = FALSE;        // in
    int m_nClassCode = 0;                // out, with the key name, after IDOK
    CString m_strDeviceKeyName;
    CString m_strNext, m_strCancel, m_strDeviceList, m_strDeviceCategory, m_strTitle;
    CComboBox m_cbDeviceClass;  // 1061
    CListBox m_lbModel;         // 1046

protected:
    DECLARE_MESSAGE_MAP()
};

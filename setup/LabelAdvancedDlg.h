// CLabelAdvancedDlg: the label settings of a label printer device (print mode, media type,
// operation mode, orientation, speed, density, sizes, margins and offsets), offered as the
// model's INF allows. It edits only its members; the printer configuration dialog saves them.
#pragma once

#include "FxCtrl.h"
#include "ImageTextButton.h"
#include "Skin.h"

#include <initializer_list>

class CLabelAdvancedDlg : public CSkinDialog
{
public:
    explicit CLabelAdvancedDlg(CWnd* parent = nullptr);

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    void OnOK() override;
    void OnCancel() override;

    void LoadCapabilities();
    // The numbers a damaged key holds (outside the model's ranges) become their defaults; the
    // configuration dialog applies the same rule when it loads the key.
    static void DamagedAsDefaults(int speedMin, int speedMax, int densityMax, int& speed, int& density, int& hri,
                                  int& cutterPeriod, std::initializer_list<int*> dots);
    void FillCombos();
    // Index of the first item whose code is code ("A" is looked for as "S"), -1 when none.
    static int SelectComboByCode(CComboBox& combo, const CString& code);
    // Code of the selected item; empty when nothing is selected.
    static CString GetComboCode(CComboBox& combo);
    void UpdateControls();
    void OnCbnSelchangeMode();
    void OnBnClickedDefault();
    void LoadDefaults();
    BOOL CollectSettings();

    CString InfPath() const { return m_strInfFolder + "\\" + m_strModelName + ".inf"; }

    // Given by the caller: the model name (DeviceName) and the folder of its INF; the key name
    // and model code are not used here.
    CString m_strModelName, m_strInfFolder, m_strKeyName;
    int m_nModel = 0;

    int m_nLanguageType = 0;
    CString m_strPrintType, m_strPaperType, m_strOperationMode, m_strOrientation;
    int m_nPrintSpeed = 0, m_nDensity = 0, m_nHRISize = 0, m_nPaperWidth = 0, m_nPaperLength = 0, m_nLeftMargin = 0,
        m_nTopMargin = 0, m_nRightToLeft = 0, m_nTearOffPosition = 0, m_nCutterPeriod = 0, m_nOffsetPosition = 0,
        m_nOffsetLength = 0, m_nGapLength = 0, m_nBackFeed = 0, m_nBackFeedStep = 0;

    // Capabilities of the model INF.
    int m_nCapRecPapercut = 0, m_nCapRewinder = 0, m_nCapRibbon = 0, m_nCapMediaSensing = 0, m_nSpeedMin = 0,
        m_nSpeedMax = 6, m_nDensityMax = 20;

    CImageTextButton m_btnSave, m_btnCancel, m_btnDefault;
    CComboBox m_cmbLanguage, m_cmbPrintType, m_cmbPaperType, m_cmbOperationMode, m_cmbOrientation;
    CSpinButtonCtrl m_spinSpeed, m_spinDensity, m_spinHRI, m_spinTearOff, m_spinCutter, m_spinOffset;

protected:
    DECLARE_MESSAGE_MAP()
};

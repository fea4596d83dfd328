// CConfigPrinterAdvDlg: the receipt printer's advanced settings (character set, default font,
// Thai combination, international character set, margins, image processing, feed before cut).
// It edits only its members; the printer configuration dialog saves them with the device.
#pragma once

#include "FxCtrl.h"
#include "ImageTextButton.h"
#include "Skin.h"

class CConfigPrinterAdvDlg : public CSkinDialog
{
public:
    explicit CConfigPrinterAdvDlg(CWnd* parent = nullptr);

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    void FillControls();
    BOOL CollectSettings();
    void UpdateThaiCombination();
    void OnCbnSelchangeCharacterSet();
    void OnBnClickedOk();
    void OnMove(int x, int y);

    // Whether a model offers grayscale images: its capability, or one of the grayscale models.
    static BOOL OffersGrayscale(int capGrayscale, int modelCode);
    // A character set item's code: its text up to the first "(" (the whole text without one).
    static CString CharacterSetCode(const CString& item);

    // Handed over by the caller; the first four and the mobile flag are not used here.
    CString m_strClassKey, m_strKeyName, m_strInstallDir;
    CString m_strDeviceName;
    int m_nModel = 0, m_nCapGrayscale = 0, m_nRecMobile = 0;
    CString m_strCharacterSetList, m_strCharacterSet, m_strRecLineCharsList, m_strDefaultFont;
    int m_nUsingFontC = 0, m_nThai3Pass = 0, m_nInternationalCharSet = 0, m_nLeftMargine = 0, m_nCharSpace = 0;
    int m_nGrayscale = 0, m_nDithering = 0, m_nBrightness = 0, m_nThreshold = 0, m_nRLE = 0, m_nSplitCount = 0,
        m_nTwoColor = 0, m_nFeedCut = 0;

    CImageTextButton m_btnSave, m_btnCancel;
    CComboBox m_cmbCharacterSet, m_cmbFont, m_cmbThai, m_cmbInternational, m_cmbLeftMargin, m_cmbCharSpace,
        m_cmbImage;
    CSpinButtonCtrl m_spinBrightness, m_spinThreshold;

protected:
    CRect m_rcWindow;
    BOOL m_bInitialised = FALSE;
    DECLARE_MESSAGE_MAP()
};

#include "ConfigPrinterAdvDlg.h"

#include "DeviceRules.h"
#include "FxDdx.h"
#include "FxRes.h"
#include "resource.h"

#include <vector>

namespace {
const int kWidth = 595, kHeight = 341;
const int kGrayscaleModels[] = {1024, 1025, 1028, 1029, 1030, 1033, 1034, 1036, 1037, 1038};
const char* const kInternationalSets[] = {"USA",    "France", "Germany", "UK",     "Denmark I", "Sweden",
                                          "Italy",  "Spain",  "Japan",   "Norway", "Denmark II"};
const LANGID kChineseSimplified = 2052;
}

BEGIN_MESSAGE_MAP(CConfigPrinterAdvDlg, CSkinDialog)
    ON_WM_MOVE()
    ON_CBN_SELCHANGE(IDC_RADV_CHARSET, OnCbnSelchangeCharacterSet)
    ON_BN_CLICKED(IDOK, OnBnClickedOk)
END_MESSAGE_MAP()

CConfigPrinterAdvDlg::CConfigPrinterAdvDlg(CWnd* parent) : CSkinDialog(IDD_CONFIG_PRINTER_ADV, parent, IDB_SKIN)
{
    m_transparentIds = {1017, 1019, 1022, 1023, 1024, 1025, 1026, 1027, 1028, 1029, 1030,
                        1032, 1033, 1034, 1035, 1081, 1082, 1083, 1085, 1087, 1089};
    m_footerStyle = FooterStyle::Dialog;
}

BOOL CConfigPrinterAdvDlg::OffersGrayscale(int capGrayscale, int modelCode)
{
    if (capGrayscale != 0)
        return TRUE;
    for (int m : kGrayscaleModels)
        if (m == modelCode)
            return TRUE;
    return FALSE;
}

CString CConfigPrinterAdvDlg::CharacterSetCode(const CString& item)
{
    int paren = item.Find('(');
    return paren > 0 ? item.Left(paren) : item;
}

void CConfigPrinterAdvDlg::DoDataExchange(CDataExchange* dx)
{
    CSkinDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_RADV_CHARSET, m_cmbCharacterSet);
    DDX_Control(dx, IDC_RADV_FONT, m_cmbFont);
    DDX_Control(dx, IDC_RADV_THAI, m_cmbThai);
    DDX_Control(dx, IDC_RADV_INTL, m_cmbInternational);
    DDX_Control(dx, IDC_RADV_MARGIN, m_cmbLeftMargin);
    DDX_Control(dx, IDC_RADV_SPACE, m_cmbCharSpace);
    DDX_Control(dx, IDC_RADV_IMAGE, m_cmbImage);
    DDX_Control(dx, IDC_RADV_BRIGHTNESS_SPIN, m_spinBrightness);
    DDX_Control(dx, IDC_RADV_THRESHOLD_SPIN, m_spinThreshold);
    DDX_Text(dx, IDC_RADV_BRIGHTNESS, m_nBrightness);
    DDX_Text(dx, IDC_RADV_THRESHOLD, m_nThreshold);
    DDX_Text(dx, IDC_RADV_FEEDCUT, m_nFeedCut);
    DDV_MinMaxInt(dx, m_nFeedCut, 0, 9);
}

BOOL CConfigPrinterAdvDlg::OnInitDialog()
{
    CSkinDialog::OnInitDialog();
    CRect r;
    GetWindowRect(&r);
    m_rcWindow = CRect(r.left, r.top - 3, r.left + kWidth, r.top - 3 + kHeight);
    MoveWindow(m_rcWindow.left, m_rcWindow.top, kWidth, kHeight);

    struct
    {
        CImageTextButton& button;
        int id;
        const char* text;
    } buttons[] = {{m_btnSave, IDOK, "Save"}, {m_btnCancel, IDCANCEL, "Close"}};
    for (auto& b : buttons) {
        b.button.SetBitmaps(IDB_OK_BUTTON, IDB_OK_BUTTON_PRESSED, IDB_OK_BUTTON_DISABLED);
        b.button.SetTextColors(0x265800, 0x818181);
        b.button.SetTextFont("Arial", 14);
        b.button.SetText(b.text);
        b.button.SubclassDlgItem(UINT(b.id), this);
    }
    SetDlgItemText(IDC_CFG_KEYNAME, m_strDeviceName);
    UpdateData(FALSE);  // binds the combos and spins
    // The Thai combination's two items belong to the dialog itself.
    if (m_cmbThai.GetCount() == 0) {
        m_cmbThai.AddString("Disable");
        m_cmbThai.AddString("Enable");
    }
    FillControls();

    ChooseUILanguage();
    m_btnSave.SetText(FxLoadString(53));
    m_btnCancel.SetText(FxLoadString(13));
    const struct
    {
        int id;
        UINT text;
    } captions[] = {{1033, 15}, {1034, 16}, {1035, 90}, {1023, 91}, {1024, 92},  {1025, 93},  {1026, 94},
                    {1027, 95}, {1081, 97}, {1082, 98}, {1083, 107}, {1085, 109}, {1087, 110}, {1089, 111}};
    for (const auto& c : captions)
        SetDlgItemText(c.id, FxLoadString(c.text));
    m_strFooter1 = FxLoadString(IDS_FOOTER_1);
    m_strFooter2 = FxLoadString(IDS_FOOTER_2);
    m_bInitialised = TRUE;

    // A Chinese system has its own character set handling: those controls are not offered, and
    // their values pass through unchanged.
    if (GetDefaultLangId() == kChineseSimplified)
        for (int id : {1081, 1069, 1083, 1084, 1085, 1086, 1087, 1088, 1089, 1090})
            ::ShowWindow(::GetDlgItem(m_hWnd, id), SW_HIDE);
    return TRUE;
}

void CConfigPrinterAdvDlg::FillControls()
{
    m_cmbCharacterSet.ResetContent();
    int selected = 0;
    std::vector<CString> sets = SplitFields(m_strCharacterSetList, ',');
    for (size_t i = 0; i < sets.size(); ++i) {
        m_cmbCharacterSet.AddString(sets[i]);
        if (CharacterSetCode(sets[i]) == m_strCharacterSet)
            selected = int(i);
    }
    m_cmbCharacterSet.SetCurSel(selected);

    m_cmbFont.ResetContent();
    const char* letters[] = {"A", "B", "C"};
    std::vector<CString> fonts = SplitFields(m_strRecLineCharsList, ',');
    for (size_t i = 0; i < fonts.size() && i < 3; ++i)
        m_cmbFont.AddString(letters[i]);
    m_cmbFont.AddString("C");
    int font = m_cmbFont.FindStringExact(-1, m_strDefaultFont);
    if (font < 0)
        font = 0;
    if (m_strDefaultFont == "B" && m_nUsingFontC)
        font = 2;
    m_cmbFont.SetCurSel(font);

    m_cmbThai.SetCurSel(m_nThai3Pass);
    m_cmbInternational.ResetContent();
    for (const char* s : kInternationalSets)
        m_cmbInternational.AddString(s);
    m_cmbInternational.SetCurSel(m_nInternationalCharSet);
    m_cmbLeftMargin.ResetContent();
    for (int i = 0; i <= 96; ++i) {
        CString s;
        s.Format("%d", i);
        m_cmbLeftMargin.AddString(s);
    }
    m_cmbLeftMargin.SetCurSel(m_nLeftMargine);
    m_cmbCharSpace.ResetContent();
    for (const char* s : {"0", "1", "2"})
        m_cmbCharSpace.AddString(s);
    m_cmbCharSpace.SetCurSel(m_nCharSpace);
    UpdateThaiCombination();

    m_cmbImage.ResetContent();
    m_cmbImage.AddString("None");
    m_cmbImage.AddString("Mono Dithering");
    if (OffersGrayscale(m_nCapGrayscale, m_nModel))
        m_cmbImage.AddString("Grayscale");
    m_cmbImage.SetCurSel(m_nGrayscale ? 2 : m_nDithering);

    // A damaged stored number opens as its default.
    m_nBrightness = InRangeOr(m_nBrightness, 0, 100, 0);
    m_nThreshold = InRangeOr(m_nThreshold, 0, 255, 127);
    m_spinBrightness.SetRange32(0, 100);
    m_spinBrightness.SetPos32(m_nBrightness);
    m_spinThreshold.SetRange32(0, 255);
    m_spinThreshold.SetPos32(m_nThreshold);
    UpdateData(FALSE);
}

void CConfigPrinterAdvDlg::UpdateThaiCombination()
{
    m_cmbThai.EnableWindow(FALSE);
    int sel = m_cmbCharacterSet.GetCurSel();
    if (sel >= 0 && m_cmbCharacterSet.GetLBText(sel).Find("Thai") > 0)
        m_cmbThai.EnableWindow(TRUE);
}

void CConfigPrinterAdvDlg::OnCbnSelchangeCharacterSet() { UpdateThaiCombination(); }

BOOL CConfigPrinterAdvDlg::CollectSettings()
{
    if (!UpdateData(TRUE))
        return FALSE;
    if (!InRangeOrSaid("Brightness", m_nBrightness, 0, 100) || !InRangeOrSaid("Threshold", m_nThreshold, 0, 255))
        return FALSE;
    switch (m_cmbImage.GetCurSel()) {
    case 0: m_nDithering = 0, m_nGrayscale = 0; break;
    case 1: m_nDithering = 1, m_nGrayscale = 0; break;
    case 2:
        m_nGrayscale = 1, m_nDithering = 0;
        if (m_nRLE == 0)
            m_nRLE = 1;
        if (m_nSplitCount == 0)
            m_nSplitCount = 246;
        break;
    default: break;  // nothing offered matched: both stay
    }
    int sel = m_cmbCharacterSet.GetCurSel();
    if (sel >= 0)
        m_strCharacterSet = CharacterSetCode(m_cmbCharacterSet.GetLBText(sel));
    sel = m_cmbFont.GetCurSel();
    if (sel >= 0) {
        m_strDefaultFont = m_cmbFont.GetLBText(sel);
        if (m_strDefaultFont != "A" && m_strDefaultFont != "B") {
            m_strDefaultFont = "B";
            m_nUsingFontC = 1;
        } else {
            m_nUsingFontC = 0;
        }
    }
    auto index = [](CComboBox& c) { return c.GetCurSel() < 0 ? 0 : c.GetCurSel(); };
    m_nThai3Pass = index(m_cmbThai);
    m_nInternationalCharSet = index(m_cmbInternational);
    m_nLeftMargine = index(m_cmbLeftMargin);
    m_nCharSpace = index(m_cmbCharSpace);
    return TRUE;
}

void CConfigPrinterAdvDlg::OnBnClickedOk()
{
    if (CollectSettings())
        EndDialog(IDOK);
}

void CConfigPrinterAdvDlg::OnMove(int, int)
{
    if (!m_bInitialised)
        return;
    CRect r;
    GetWindowRect(&r);
    if (r.left != m_rcWindow.left || r.top != m_rcWindow.top)
        MoveWindow(m_rcWindow.left, m_rcWindow.top, kWidth, kHeight);
}

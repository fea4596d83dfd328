#include "LabelAdvancedDlg.h"

#include "DeviceRules.h"
#include "FxDdx.h"
#include "resource.h"

#include <vector>

namespace {
const int kWidth = 595, kHeight = 360;
const char kSmartCalibration[] = "Smart Calibration";
// Sizes in dots: the QLKS size fields take four digits.
const int kMaxDots = 9999;
const int kDefaultSpeed = 3, kDefaultDensity = 14, kDefaultHri = 1, kDefaultCutterPeriod = 1;

CString InfString(const char* key, const char* def, const CString& file)
{
    char buf[512] = {};
    GetPrivateProfileStringA("LABEL", key, def, buf, sizeof buf, file);
    return buf;
}

int InfInt(const char* section, const char* key, int def, const CString& file)
{
    return int(GetPrivateProfileIntA(section, key, def, file));
}

// The code of a combo item: its first letter, but "A" for smart calibration.
CString ItemCode(const CString& text) { return text == kSmartCalibration ? CString("A") : text.Left(1); }
}

BEGIN_MESSAGE_MAP(CLabelAdvancedDlg, CSkinDialog)
    ON_CBN_SELCHANGE(IDC_LADV_PAPERTYPE, OnCbnSelchangeMode)
    ON_CBN_SELCHANGE(IDC_LADV_OPMODE, OnCbnSelchangeMode)
    ON_BN_CLICKED(IDC_LADV_DEFAULT, OnBnClickedDefault)
END_MESSAGE_MAP()

CLabelAdvancedDlg::CLabelAdvancedDlg(CWnd* parent) : CSkinDialog(IDD_LABEL_ADVANCED, parent, IDB_SKIN)
{
    m_transparentIds = {1017, 1019, 1022, 1023, 1024, 1025, 1026, 1027, 1028, 1030, 1032,
                        1033, 1034, 1035, 1081, 1082, 1083, 1105, 1106, 1107, 1108};
    for (int id = 1113; id <= 1129; ++id)
        m_transparentIds.push_back(id);
    for (int id = 1143; id <= 1146; ++id)
        m_transparentIds.push_back(id);
    m_footerStyle = FooterStyle::Dialog;
}

void CLabelAdvancedDlg::DoDataExchange(CDataExchange* dx)
{
    CSkinDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_LADV_LANGUAGE, m_cmbLanguage);
    DDX_Control(dx, IDC_LADV_PRINTTYPE, m_cmbPrintType);
    DDX_Control(dx, IDC_LADV_PAPERTYPE, m_cmbPaperType);
    DDX_Control(dx, IDC_LADV_OPMODE, m_cmbOperationMode);
    DDX_Control(dx, IDC_LADV_ORIENTATION, m_cmbOrientation);
    DDX_Control(dx, IDC_LADV_SPEED_SPIN, m_spinSpeed);
    DDX_Control(dx, IDC_LADV_DENSITY_SPIN, m_spinDensity);
    DDX_Control(dx, IDC_LADV_HRI_SPIN, m_spinHRI);
    DDX_Control(dx, IDC_LADV_TEAROFF_SPIN, m_spinTearOff);
    DDX_Control(dx, IDC_LADV_CUTTER_SPIN, m_spinCutter);
    DDX_Control(dx, IDC_LADV_OFFSET_SPIN, m_spinOffset);
    DDX_Text(dx, IDC_LADV_SPEED, m_nPrintSpeed);
    DDX_Text(dx, IDC_LADV_DENSITY, m_nDensity);
    DDX_Text(dx, IDC_LADV_HRI, m_nHRISize);
    DDX_Text(dx, IDC_LADV_CUTTER, m_nCutterPeriod);
    DDX_Text(dx, IDC_LADV_OFFSET, m_nOffsetPosition);
    DDV_MinMaxInt(dx, m_nOffsetPosition, -100, 100);
    DDX_Text(dx, IDC_LADV_TEAROFF, m_nTearOffPosition);
    DDV_MinMaxInt(dx, m_nTearOffPosition, -100, 100);
    DDX_Text(dx, IDC_LADV_TOP, m_nTopMargin);
    DDX_Text(dx, IDC_LADV_WIDTH, m_nPaperWidth);
    DDX_Text(dx, IDC_LADV_LENGTH, m_nPaperLength);
    DDX_Text(dx, IDC_LADV_LEFT, m_nLeftMargin);
    DDX_Check(dx, IDC_LADV_RTL, m_nRightToLeft);
}

BOOL CLabelAdvancedDlg::OnInitDialog()
{
    CSkinDialog::OnInitDialog();
    CRect r;
    GetWindowRect(&r);
    MoveWindow(r.left, r.top + 1, kWidth, kHeight);
    struct
    {
        CImageTextButton& button;
        int id;
        UINT normal, pressed, disabled;
        const char* text;
    } buttons[] = {
        {m_btnSave, IDOK, IDB_SAVE_BUTTON, IDB_SAVE_BUTTON_PRESSED, IDB_SAVE_BUTTON_DISABLED, "SAVE"},
        {m_btnCancel, IDCANCEL, IDB_SAVE_BUTTON, IDB_SAVE_BUTTON_PRESSED, IDB_SAVE_BUTTON_DISABLED, "CANCEL"},
        {m_btnDefault, IDC_LADV_DEFAULT, IDB_ADVANCED_BUTTON, IDB_ADVANCED_BUTTON_PRESSED,
         IDB_ADVANCED_BUTTON_DISABLED, "Default"},
    };
    for (auto& b : buttons) {
        b.button.SetBitmaps(b.normal, b.pressed, b.disabled);
        b.button.SetTextColors(0x265800, 0x818181);
        b.button.SetTextFont("Arial", 14);
        b.button.SetText(b.text);
        b.button.SubclassDlgItem(UINT(b.id), this);
    }
    UpdateData(FALSE);  // binds the combos and spins
    LoadCapabilities();
    FillCombos();
    return TRUE;
}

void CLabelAdvancedDlg::DamagedAsDefaults(int speedMin, int speedMax, int densityMax, int& speed, int& density,
                                          int& hri, int& cutterPeriod, std::initializer_list<int*> dots)
{
    // A damaged stored number opens as its default.
    speed = InRangeOr(speed, speedMin, speedMax, kDefaultSpeed);
    density = InRangeOr(density, 1, densityMax, kDefaultDensity);
    hri = InRangeOr(hri, 1, 4, kDefaultHri);
    cutterPeriod = InRangeOr(cutterPeriod, 1, 10, kDefaultCutterPeriod);
    for (int* d : dots)
        *d = InRangeOr(*d, 0, kMaxDots, 0);
}

void CLabelAdvancedDlg::LoadCapabilities()
{
    CString inf = InfPath();
    m_nCapRecPapercut = InfInt("POSPRINTER", "CapRecPapercut", 0, inf);
    m_nCapRewinder = InfInt("LABEL", "CapRewinder", 0, inf);
    m_nCapRibbon = InfInt("LABEL", "CapRibbon", 0, inf);
    m_nCapMediaSensing = InfInt("LABEL", "CapMediaSensing", 0, inf);
    m_nSpeedMin = InfInt("LABEL", "SpeedMin", 0, inf);
    m_nSpeedMax = InfInt("LABEL", "SpeedMax", 6, inf);
    m_nDensityMax = InfInt("LABEL", "DensityMax", 20, inf);
}

void CLabelAdvancedDlg::FillCombos()
{
    struct
    {
        CComboBox& combo;
        std::vector<const char*> items;
    } combos[] = {
        {m_cmbLanguage, {"QLKS"}},
        {m_cmbPrintType, {"Direct thermal"}},
        {m_cmbPaperType, {"Gap", "Black mark", "Continuous"}},
        {m_cmbOperationMode, {"Tear Off"}},
        {m_cmbOrientation, {"Top to Bottom", "Bottom to Top"}},
    };
    if (m_nCapRibbon)
        combos[1].items.push_back("Thermal transfer");
    if (m_nCapMediaSensing)
        combos[2].items.push_back(kSmartCalibration);
    if (m_nCapRecPapercut)
        combos[3].items.push_back("Cutter");
    if (m_nCapRewinder)
        combos[3].items.push_back("Rewinder");
    for (auto& c : combos) {
        c.combo.ResetContent();
        for (const char* item : c.items)
            c.combo.AddString(item);
    }

    CString range;
    range.Format("(%d - %d)", m_nSpeedMin, m_nSpeedMax);
    SetDlgItemText(IDC_LADV_SPEED_RANGE, range);
    m_spinSpeed.SetRange32(m_nSpeedMin, m_nSpeedMax);
    range.Format("(1 - %d)", m_nDensityMax);
    SetDlgItemText(IDC_LADV_DENSITY_RANGE, range);
    m_spinDensity.SetRange32(1, m_nDensityMax);
    m_spinHRI.SetRange32(1, 4);
    m_spinTearOff.SetRange32(-100, 100);
    m_spinOffset.SetRange32(-100, 100);
    m_spinCutter.SetRange32(1, 10);

    DamagedAsDefaults(m_nSpeedMin, m_nSpeedMax, m_nDensityMax, m_nPrintSpeed, m_nDensity, m_nHRISize,
                      m_nCutterPeriod, {&m_nPaperWidth, &m_nPaperLength, &m_nLeftMargin, &m_nTopMargin});
    m_cmbLanguage.SetCurSel(m_nLanguageType);
    m_cmbPrintType.SetCurSel(SelectComboByCode(m_cmbPrintType, m_strPrintType));
    m_cmbPaperType.SetCurSel(SelectComboByCode(m_cmbPaperType, m_strPaperType));
    m_cmbOperationMode.SetCurSel(SelectComboByCode(m_cmbOperationMode, m_strOperationMode));
    m_cmbOrientation.SetCurSel(SelectComboByCode(m_cmbOrientation, m_strOrientation));
    m_spinSpeed.SetPos32(m_nPrintSpeed);
    m_spinDensity.SetPos32(m_nDensity);
    m_spinHRI.SetPos32(m_nHRISize);
    // Offsets above 100 come in stored form: a negative offset v is kept as 100 - v.
    if (m_nOffsetPosition > 100)
        m_nOffsetPosition = 100 - m_nOffsetPosition;
    if (m_nTearOffPosition > 100)
        m_nTearOffPosition = 100 - m_nTearOffPosition;
    m_spinOffset.SetPos32(m_nOffsetPosition);
    m_spinTearOff.SetPos32(m_nTearOffPosition);
    m_spinCutter.SetPos32(m_nCutterPeriod);
    UpdateControls();
    UpdateData(FALSE);
}

int CLabelAdvancedDlg::SelectComboByCode(CComboBox& combo, const CString& code)
{
    // The whole code: "Tx" is no "T".
    if (code.IsEmpty())
        return -1;
    for (int i = 0; i < combo.GetCount(); ++i)
        if (ItemCode(combo.GetLBText(i)) == code)
            return i;
    return -1;
}

CString CLabelAdvancedDlg::GetComboCode(CComboBox& combo)
{
    int sel = combo.GetCurSel();
    return sel < 0 ? CString() : ItemCode(combo.GetLBText(sel));
}

void CLabelAdvancedDlg::UpdateControls()
{
    int media = m_cmbPaperType.GetCurSel();
    bool smart = media >= 0 && m_cmbPaperType.GetLBText(media) == kSmartCalibration;
    ::EnableWindow(::GetDlgItem(m_hWnd, IDC_LADV_LENGTH), !smart);
    int mode = m_cmbOperationMode.GetCurSel();
    bool cutter = mode >= 0 && m_cmbOperationMode.GetLBText(mode) == "Cutter";
    ::EnableWindow(::GetDlgItem(m_hWnd, IDC_LADV_CUTTER), cutter);
    ::EnableWindow(::GetDlgItem(m_hWnd, IDC_LADV_TEAROFF), TRUE);
}

void CLabelAdvancedDlg::OnCbnSelchangeMode() { UpdateControls(); }

void CLabelAdvancedDlg::OnBnClickedDefault()
{
    LoadDefaults();
    FillCombos();
}

void CLabelAdvancedDlg::LoadDefaults()
{
    CString inf = InfPath();
    m_nLanguageType = InfInt("LABEL", "LanguageType", 0, inf);
    m_strPrintType = InfString("PrintType", "D", inf);
    // Smart calibration only where the model senses its media; "G" (gap) otherwise.
    m_strPaperType = InfString("PaperType", m_nCapMediaSensing ? "A" : "G", inf);
    m_strOperationMode = InfString("OperationMode", "T", inf);
    const struct
    {
        const char* key;
        int def;
        int& setting;
    } numbers[] = {
        {"PaperWidth", 0, m_nPaperWidth},     {"PaperLength", 0, m_nPaperLength},
        {"LeftMargin", 0, m_nLeftMargin},     {"TopMargin", 0, m_nTopMargin},
        {"OffsetLength", 0, m_nOffsetLength}, {"GapLength", 0, m_nGapLength},
        {"BackFeed", 0, m_nBackFeed},         {"BackFeedStep", 0, m_nBackFeedStep},
        {"OffsetPosition", 0, m_nOffsetPosition}, {"TearOffPosition", 0, m_nTearOffPosition},
        {"CutterPeriod", 1, m_nCutterPeriod}, {"PrintSpeed", 3, m_nPrintSpeed},
        {"Density", 14, m_nDensity},          {"HRISize", 1, m_nHRISize},
        {"RightToLeft", 0, m_nRightToLeft},
    };
    for (const auto& n : numbers)
        n.setting = InfInt("LABEL", n.key, n.def, inf);
    m_strOrientation = InfString("Orientation", "B", inf);
}

BOOL CLabelAdvancedDlg::CollectSettings()
{
    if (!UpdateData(TRUE))
        return FALSE;
    // Typed numbers reach the printer as they are: only what it can take is saved.
    const struct
    {
        const char* field;
        int value, min, max;
    } ranges[] = {{"Print Speed", m_nPrintSpeed, m_nSpeedMin, m_nSpeedMax},
                  {"Density", m_nDensity, 1, m_nDensityMax},
                  {"HRI Size", m_nHRISize, 1, 4},
                  {"Cutting Period", m_nCutterPeriod, 1, 10},
                  {"Paper Width", m_nPaperWidth, 0, kMaxDots},
                  {"Paper Length", m_nPaperLength, 0, kMaxDots},
                  {"Left Margin", m_nLeftMargin, 0, kMaxDots},
                  {"Top Margin", m_nTopMargin, 0, kMaxDots}};
    for (const auto& r : ranges)
        if (!InRangeOrSaid(r.field, r.value, r.min, r.max))
            return FALSE;
    // A combo without a selection keeps the setting that came in.
    if (m_cmbLanguage.GetCurSel() >= 0)
        m_nLanguageType = m_cmbLanguage.GetCurSel();
    struct
    {
        CComboBox& combo;
        CString& setting;
    } codes[] = {{m_cmbPrintType, m_strPrintType},
                 {m_cmbPaperType, m_strPaperType},
                 {m_cmbOperationMode, m_strOperationMode},
                 {m_cmbOrientation, m_strOrientation}};
    for (auto& c : codes) {
        CString code = GetComboCode(c.combo);
        if (!code.IsEmpty())
            c.setting = code;
    }
    return TRUE;
}

void CLabelAdvancedDlg::OnOK()
{
    if (CollectSettings())
        EndDialog(IDOK);
}

void CLabelAdvancedDlg::OnCancel() { EndDialog(IDCANCEL); }

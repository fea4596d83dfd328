#include "ConfigCashDlg.h"

#include "DeviceKey.h"
#include "DeviceRules.h"
#include "FxDdx.h"
#include "FxRes.h"
#include "Registry.h"
#include "resource.h"

#include <cstdlib>
#include <vector>

namespace {
const UINT kMsgClaimError = 62, kMsgOpenError = 63, kMsgSaveFailed = 64, kMsgSaved = 65, kMsgLdnRefused = 66;
const long kClaimTimeout = 100, kHealthInteractive = 3;
const char kDrawerSection[] = "KPTCDW";

bool KeyExists(const CString& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}
}

BEGIN_MESSAGE_MAP(CConfigCashDlg, CSkinDialog)
    ON_BN_CLICKED(IDOK, OnBnClickedOk)
    ON_BN_CLICKED(IDC_APPLY, OnBnClickedApply)
    ON_BN_CLICKED(IDC_CHECK_HEALTH_BUTTON, OnBnClickedCheckHealth)
    ON_EN_CHANGE(IDC_PULSE_ON, OnSettingChanged)
    ON_EN_CHANGE(IDC_PULSE_OFF, OnSettingChanged)
    ON_EN_CHANGE(IDC_DRAWER_LDN, OnSettingChanged)
    ON_BN_CLICKED(IDC_PIN_2, OnSettingChanged)
    ON_BN_CLICKED(IDC_PIN_5, OnSettingChanged)
    ON_BN_CLICKED(IDC_LEVEL_LOW, OnSettingChanged)
    ON_BN_CLICKED(IDC_LEVEL_HIGH, OnSettingChanged)
END_MESSAGE_MAP()

CConfigCashDlg::CConfigCashDlg(CWnd* parent) : CSkinDialog(IDD_CONFIG_CASH, parent, IDB_SKIN)
{
    m_transparentIds = {IDC_PIN_2,
                        IDC_PIN_5,
                        IDC_LEVEL_LOW,
                        IDC_LEVEL_HIGH,
                        IDC_DRAWER_GROUP,
                        IDC_DEVICE_INFO_LABEL,
                        IDC_DRAWER_LDN_LABEL,
                        IDC_CONNECTED_PRINTER_LABEL,
                        IDC_PRINTER_NAME_LABEL,
                        IDC_DRAWER_SETTINGS_LABEL,
                        IDC_PULSE_ON_LABEL,
                        IDC_PULSE_OFF_LABEL,
                        IDC_OPEN_PULSE_LABEL};
    m_footerStyle = FooterStyle::Dialog;
}

CString CConfigCashDlg::ClassKey() const { return ClassKeyPath(DEVCLASS_CASHDRAWER); }
CString CConfigCashDlg::DeviceKey() const { return ClassKey() + "\\" + m_strDeviceName; }

void CConfigCashDlg::DoDataExchange(CDataExchange* dx)
{
    CSkinDialog::DoDataExchange(dx);
    DDX_Text(dx, IDC_DRAWER_NAME, m_strDeviceName);
    DDX_Text(dx, IDC_CONNECTED_PRINTER, m_strConnectedPrinter);
    DDX_Radio(dx, IDC_PIN_2, m_nPinIndex);
    DDX_Radio(dx, IDC_LEVEL_LOW, m_nLevelIndex);
    DDX_Text(dx, IDC_PULSE_ON, m_strPulseOnTime);
    DDX_Text(dx, IDC_PULSE_OFF, m_strPulseOffTime);
    DDX_Text(dx, IDC_DRAWER_LDN, m_strLdn);
}

BOOL CConfigCashDlg::CreateDrawerControl(const RECT& rect)
{
    return m_ctlCashDrawer.Create(nullptr, "", WS_CHILD, rect, this, IDC_CASHDRAWER_CONTROL);
}

BOOL CConfigCashDlg::OnInitDialog()
{
    CSkinDialog::OnInitDialog();
    // Without a Control Object the dialog comes up all the same; Check Health then reports the
    // failed Open.
    RECT controlRect = {4, 4, 24, 24};
    CreateDrawerControl(controlRect);
    CRect r;
    GetWindowRect(&r);
    MoveWindow(r.left, r.top + 1, 595, 341);

    struct
    {
        CImageTextButton& button;
        int id;
        UINT normal, pressed, disabled;
    } buttons[] = {
        {m_btnOk, IDOK, IDB_SAVE_BUTTON, IDB_SAVE_BUTTON_PRESSED, IDB_SAVE_BUTTON_DISABLED},
        {m_btnCancel, IDCANCEL, IDB_SAVE_BUTTON, IDB_SAVE_BUTTON_PRESSED, IDB_SAVE_BUTTON_DISABLED},
        {m_btnCheckHealth, IDC_CHECK_HEALTH_BUTTON, IDB_HEALTH_BUTTON, IDB_HEALTH_BUTTON_PRESSED,
         IDB_HEALTH_BUTTON_DISABLED},
        {m_btnApply, IDC_APPLY, IDB_SAVE_BUTTON, IDB_SAVE_BUTTON_PRESSED, IDB_SAVE_BUTTON_DISABLED},
    };
    for (auto& b : buttons) {
        b.button.SetBitmaps(b.normal, b.pressed, b.disabled);
        b.button.SetTextColors(0x265800, 0x818181);
        b.button.SubclassDlgItem(UINT(b.id), this);
    }
    LoadCaptions();

    m_strPulseOnTime = "200";
    m_strPulseOffTime = "200";
    m_nPinIndex = 0;
    m_nLevelIndex = 0;
    if (!m_bAddMode) {
        LoadSettings();
        m_btnApply.EnableWindow(FALSE);
    }
    m_bFilling = true;
    UpdateData(FALSE);
    m_bFilling = false;
    // In add mode this makes the key at once; its result is not reported.
    SaveSettings();
    return TRUE;
}

void CConfigCashDlg::LoadCaptions()
{
    m_btnApply.SetText(FxLoadString(53));
    m_btnOk.SetText(FxLoadString(14));
    m_btnCancel.SetText(FxLoadString(13));
    m_btnCheckHealth.SetText(FxLoadString(8));
    const struct
    {
        int id;
        UINT text;
    } captions[] = {{IDC_DEVICE_INFO_LABEL, 88}, {IDC_DRAWER_LDN_LABEL, 16},       {IDC_CONNECTED_PRINTER_LABEL, 50},
                    {IDC_PRINTER_NAME_LABEL, 89}, {IDC_DRAWER_SETTINGS_LABEL, 42}, {IDC_PIN_2, 46},
                    {IDC_PIN_5, 47},              {IDC_OPEN_PULSE_LABEL, 43},      {IDC_LEVEL_LOW, 48},
                    {IDC_LEVEL_HIGH, 49},         {IDC_PULSE_ON_LABEL, 44},        {IDC_PULSE_OFF_LABEL, 45}};
    for (const auto& c : captions)
        SetDlgItemText(c.id, FxLoadString(c.text));
    m_strFooter1 = FxLoadString(IDS_FOOTER_1);
    m_strFooter2 = FxLoadString(IDS_FOOTER_2);
}

void CConfigCashDlg::LoadSettings()
{
    CRegistry reg;
    CString level, pin;
    // A damaged index opens as the first choice: no radio would be set and "-1" saved.
    if (reg.GetString(DeviceKey(), "OpenLevel", level))
        m_nLevelIndex = InRangeOr(atoi(level), 0, 1, 0);
    if (reg.GetString(DeviceKey(), "ConnectorPinNo", pin))
        m_nPinIndex = InRangeOr(atoi(pin), 0, 1, 0);
    reg.GetString(DeviceKey(), "PulseOnTime", m_strPulseOnTime);
    reg.GetString(DeviceKey(), "PulseOffTime", m_strPulseOffTime);
    reg.GetString(DeviceKey(), "POSPrinter", m_strConnectedPrinter);
    reg.GetString(DeviceKey(), "LDN", m_strLdn);
}

CString CConfigCashDlg::FreeDeviceName(const CString& wanted) const
{
    // The registry does not tell names apart by case: neither does the choice.
    std::vector<CString> names = ListDeviceKeys(ClassKey(), false);
    auto taken = [&](const CString& name) {
        for (const CString& n : names)
            if (lstrcmpiA(n, name) == 0)
                return true;
        return false;
    };
    if (!taken(wanted))
        return wanted;
    for (int i = 1;; ++i) {
        CString probe;
        probe.Format("%s_%d", kDrawerSection, i);
        if (!taken(probe))
            return probe;
    }
}

BOOL CConfigCashDlg::SaveSettings()
{
    UpdateData(TRUE);
    CRegistry reg;
    CString installDir;
    reg.GetString(VESK_SERVICEINFO_KEY, "Installdir", installDir);
    // Without the install folder there is no INF to read: nothing is written.
    if (installDir.IsEmpty())
        return FALSE;
    const CString cashInf = installDir + "\\poscash.inf", setupInf = installDir + "\\setup.inf";
    char deviceDesc[256] = {}, soName[256] = {}, description[256] = {}, version[256] = {};
    GetPrivateProfileStringA(kDrawerSection, "DeviceDesc", "", deviceDesc, 255, cashInf);
    GetPrivateProfileStringA(kDrawerSection, "SOName", "", soName, 255, cashInf);
    GetPrivateProfileStringA(kDrawerSection, "Description", "", description, 255, cashInf);
    GetPrivateProfileStringA("Description", "Version", "", version, 255, setupInf);
    if (!deviceDesc[0] || !soName[0] || !description[0] || !version[0])
        return FALSE;

    // The save that first writes the key in add mode chooses its name, once.
    if (m_bAddMode && m_bFirstSave) {
        m_strDeviceName = FreeDeviceName(m_strDeviceName);
        SetDlgItemText(IDC_DRAWER_NAME, m_strDeviceName);
    }
    m_bFirstSave = 0;
    const CString classKey = ClassKey(), deviceKey = DeviceKey();
    const bool existed = KeyExists(deviceKey);

    // An old alias goes when the LDN changes, and only when it names this key; a refused delete
    // fails the save like any other write.
    CRegistryWrites writes;
    CString storedLdn, aliasTarget;
    if (existed && reg.GetString(deviceKey, "LDN", storedLdn) && !storedLdn.IsEmpty() && storedLdn != m_strLdn &&
        reg.GetString(classKey, storedLdn, aliasTarget) && aliasTarget == m_strDeviceName)
        writes.Delete(classKey, storedLdn);
    if (!m_strLdn.IsEmpty())
        writes.SetString(classKey, m_strLdn, m_strDeviceName);

    CString level, pin;
    level.Format("%d", m_nLevelIndex);
    pin.Format("%d", m_nPinIndex);
    const struct
    {
        const char* name;
        CString data;
    } values[] = {
        {"", soName},
        {"Description", description},
        {"DeviceName", kDrawerSection},
        {"DeviceDesc", deviceDesc},
        {"Version", version},
        {"DeviceClass", "CashDrawer"},
        {"LDN", m_strLdn},
        {"POSPrinter", m_strConnectedPrinter},
        {"OpenLevel", level},
        {"ConnectorPinNo", pin},
        {"PulseOffTime", m_strPulseOffTime},
        {"PulseOnTime", m_strPulseOnTime},
        {"comp", "VESK"},
    };
    for (const auto& v : values)
        writes.SetString(deviceKey, v.name, v.data);
    if (!existed && m_bAddMode && KeyExists(deviceKey))
        m_bCreatedKey = TRUE;
    // A write that did not take is a failed save, not a success.
    return !writes.Failed();
}

BOOL CConfigCashDlg::CheckLdn()
{
    UpdateData(TRUE);
    if (m_strLdn.IsEmpty() || !LogicalNameTaken(ClassKey(), m_strLdn, m_strDeviceName))
        return TRUE;
    CString text;
    text.Format(FxLoadString(kMsgLdnRefused), m_strLdn.GetString());
    AfxMessageBox(text, MB_OK);
    return FALSE;
}

void CConfigCashDlg::OnSettingChanged()
{
    if (!m_bFilling)
        m_btnApply.EnableWindow(TRUE);
}

void CConfigCashDlg::OnBnClickedOk()
{
    if (m_btnApply.IsWindowEnabled()) {
        if (!CheckLdn())
            return;
        AfxMessageBox(FxLoadString(SaveSettings() ? kMsgSaved : kMsgSaveFailed), MB_OK);
    }
    EndDialog(IDOK);
}

void CConfigCashDlg::OnBnClickedApply()
{
    if (!CheckLdn())
        return;
    if (SaveSettings()) {
        // The dialog now edits an existing drawer.
        m_bAddMode = 0;
        AfxMessageBox(FxLoadString(kMsgSaved), MB_OK);
    } else {
        AfxMessageBox(FxLoadString(kMsgSaveFailed), MB_OK);
    }
    m_btnApply.EnableWindow(FALSE);
}

void CConfigCashDlg::OnCancel()
{
    if (m_bAddMode && m_bCreatedKey) {
        const CString classKey = ClassKey();
        CRegistry reg;
        CString ldn, aliasTarget;
        if (reg.GetString(DeviceKey(), "LDN", ldn) && !ldn.IsEmpty() && reg.GetString(classKey, ldn, aliasTarget) &&
            aliasTarget == m_strDeviceName)
            reg.Delete(classKey, ldn);
        DeleteKeyOrValue(DeviceKey(), nullptr, HKEY_LOCAL_MACHINE);
    }
    EndDialog(IDCANCEL);
}

void CConfigCashDlg::OnBnClickedCheckHealth()
{
    if (m_ctlCashDrawer.Open(m_strDeviceName) != 0) {
        AfxMessageBox(FxLoadString(kMsgOpenError), MB_OK);
        m_ctlCashDrawer.Close();
        return;
    }
    if (m_ctlCashDrawer.ClaimDevice(kClaimTimeout) != 0) {
        AfxMessageBox(FxLoadString(kMsgClaimError), MB_OK);
        m_ctlCashDrawer.Close();
        return;
    }
    m_ctlCashDrawer.SetDeviceEnabled(TRUE);
    m_ctlCashDrawer.CheckHealth(kHealthInteractive);
    m_ctlCashDrawer.SetDeviceEnabled(FALSE);
    m_ctlCashDrawer.ReleaseDevice();
    m_ctlCashDrawer.Close();
}

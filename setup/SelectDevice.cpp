#include "SelectDevice.h"

#include "DeviceKey.h"
#include "DeviceRules.h"
#include "FxDdx.h"
#include "FxRes.h"
#include "Registry.h"
#include "resource.h"

#include <cstring>

namespace {
const UINT kMsgSelectModel = 60, kMsgInfLoadFailed = 67;
// Model names longer than this name sections the device keys cannot be made from.
const size_t kMaxModelName = 15;
}

BEGIN_MESSAGE_MAP(CSelectDevice, CDialog)
    ON_BN_CLICKED(IDC_NEXT, OnBnClickedNext)
    ON_CBN_SELCHANGE(IDC_DEVICE_CLASS, OnCbnSelchangeDeviceClass)
END_MESSAGE_MAP()

CSelectDevice::CSelectDevice(CWnd* parent) : CDialog(IDD_SELECT_DEVICE, parent) {}

void CSelectDevice::DoDataExchange(CDataExchange* dx)
{
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_DEVICE_CLASS, m_cbDeviceClass);
    DDX_Control(dx, IDC_MODEL_LIST, m_lbModel);
}

BOOL CSelectDevice::OnInitDialog()
{
    CDialog::OnInitDialog();
    UpdateData(FALSE);
    m_cbDeviceClass.ResetContent();
    if (m_bLabelSupport)
        m_cbDeviceClass.AddString("LabelPrinter");
    CRegistry reg;
    reg.GetString(VESK_SERVICEINFO_KEY, "Installdir", Installdir);
    m_cbDeviceClass.SetCurSel(0);
    UpdateDeviceClass();
    FillModelList();
    LoadCaptions();
    return TRUE;
}

void CSelectDevice::UpdateDeviceClass()
{
    m_nClassCode = 0;
    int sel = m_cbDeviceClass.GetCurSel();
    if (sel < 0)
        return;
    CString text = m_cbDeviceClass.GetLBText(sel);
    const struct
    {
        const char* text;
        int code;
    } classes[] = {{"POSPrinter", DEVCLASS_POSPRINTER}, {"LineDisplay", DEVCLASS_LINEDISPLAY}, {"MSR", DEVCLASS_MSR},
                   {"SmartCardReader", DEVCLASS_SMARTCARD}, {"LabelPrinter", DEVCLASS_LABELPRINTER}};
    for (const auto& c : classes)
        if (text == c.text)
            m_nClassCode = c.code;
}

void CSelectDevice::FillModelList()
{
    m_lbModel.ResetContent();
    const DeviceClassInfo* cls = FindDeviceClass(m_nClassCode);
    if (!cls || m_nClassCode == DEVCLASS_CASHDRAWER)
        return;
    for (const CString& name : ListInfSections(Installdir + "\\" + cls->classInf)) {
        if (size_t(name.GetLength()) > kMaxModelName)
            continue;
        // An item of this very name (in any case) already stands for it; a longer name that
        // merely begins with it is another model.
        if (m_lbModel.SendMessage(LB_FINDSTRINGEXACT, WPARAM(-1), LPARAM(name.GetString())) != LB_ERR)
            continue;
        m_lbModel.AddString(name);
    }
}

void CSelectDevice::LoadCaptions()
{
    m_strNext = FxLoadString(12);
    m_strCancel = FxLoadString(13);
    m_strDeviceList = FxLoadString(51);
    m_strDeviceCategory = FxLoadString(87);
    m_strTitle = FxLoadString(60);
    SetDlgItemText(IDC_NEXT, m_strNext);
    SetDlgItemText(IDCANCEL, m_strCancel);
    SetDlgItemText(IDC_MODEL_GROUP, m_strDeviceList);
    SetDlgItemText(IDC_DEVICE_CLASS_LABEL, m_strDeviceCategory);
    SetWindowText(m_strTitle);
}

void CSelectDevice::OnCbnSelchangeDeviceClass()
{
    UpdateDeviceClass();
    FillModelList();
}

void CSelectDevice::OnBnClickedNext()
{
    int sel = m_lbModel.GetCurSel();
    if (sel < 0) {
        AfxMessageBox(FxLoadString(kMsgSelectModel) + "!", MB_OK);
        return;
    }
    CString model;
    m_lbModel.GetText(sel, model);
    CString keyName;
    if (!CreateDeviceKey(m_nClassCode, model, Installdir, keyName)) {
        // A key name back means the registry refused the key: nothing is left to configure.
        AfxMessageBox(keyName.IsEmpty() ? FxLoadString(kMsgInfLoadFailed)
                                        : RegistryWriteFailedText(ClassKeyPath(m_nClassCode) + "\\" + keyName),
                      MB_OK);
        return;
    }
    m_strDeviceKeyName = keyName;
    CDialog::OnOK();
}

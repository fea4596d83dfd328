#include "BrevantonDlg.h"

#include "ConfigPrinterDlg.h"
#include "ConfigCashDlg.h"
#include "DeviceKey.h"
#include "FxDdx.h"
#include "FxRes.h"
#include "PortRangeDlg.h"
#include "Registry.h"
#include "SelectConnectPrinterDlg.h"
#include "SelectDevice.h"
#include "resource.h"

#include <shellapi.h>

#include <cstring>

namespace {
const UINT kMsgRemoveConfirm = 56, kMsgClaimError = 72, kMsgOpenError = 73, kMsgEnableError = 74;
const long kClaimTimeout = 500, kHealthInteractive = 3;
const int kDialogWidth = 600, kDialogHeight = 368;
const COLORREF kTreeMask = 0x808000;
// Tree images: root, category, device (selected, normal).
const int kImageRoot = 0, kImageCategory = 1, kImageDeviceSelected = 5, kImageDevice = 6;
const char kSummaryFormat[] = "\r\n- %s - \r\n\r\n Device Name : \r\n    %s\r\n LDN : \r\n    %s\r\n Using Port : \r\n    %s\r\n";
const char kDrawerSummaryFormat[] = "\r\n- %s - \r\n\r\n Device Name : \r\n    %s\r\n LDN : \r\n    %s\r\n Connected "
                                    "Printer Name : \r\n    %s\r\n Description : \r\n    %s";

bool FileReadable(const CString& path)
{
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(h);
    return true;
}
}

void ShellOpenWithSystem(const char* verb, const char* path)
{
    ShellExecuteA(nullptr, verb, path, nullptr, nullptr, SW_SHOWNORMAL);
}

BEGIN_MESSAGE_MAP(CBrevantonDlg, CSkinDialog)
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_NOTIFY(TVN_SELCHANGEDA, IDC_DEVICE_TREE, OnTvnSelchangedDeviceTree)
    ON_NOTIFY(TVN_SELCHANGEDW, IDC_DEVICE_TREE, OnTvnSelchangedDeviceTree)
    ON_BN_CLICKED(IDC_ADD_DEVICE, OnBnClickedAddDevice)
    ON_BN_CLICKED(IDC_ADD_CASHDRAWER, OnBnClickedAddCashDrawer)
    ON_BN_CLICKED(IDC_REMOVE_DEVICE, OnBnClickedRemoveDevice)
    ON_BN_CLICKED(IDC_MODIFY_DEVICE, OnBnClickedModifyDevice)
    ON_BN_CLICKED(IDC_CHECKHEALTH, OnBnClickedCheckHealth)
    ON_BN_CLICKED(IDC_PORT_RANGE, OnBnClickedPortRange)
    ON_BN_CLICKED(IDC_UTILITY, OnBnClickedUtility)
    ON_BN_CLICKED(IDC_EXIT, OnBnClickedExit)
END_MESSAGE_MAP()

CBrevantonDlg::CBrevantonDlg(CWnd* parent) : CSkinDialog(IDD_BREVANTON_DIALOG, parent, IDB_MAIN_SKIN, false)
{
    m_transparentIds = {IDC_DEVICE_SUMMARY, IDC_DEVICE_LIST_LABEL};
    m_footerStyle = FooterStyle::Main;
    m_hIcon = static_cast<HICON>(LoadImageA(AfxGetResourceHandle(), MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON, 0, 0,
                                            LR_DEFAULTSIZE | LR_SHARED));
}

CBrevantonDlg::~CBrevantonDlg() {}

void CBrevantonDlg::DoDataExchange(CDataExchange* dx)
{
    CSkinDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_DEVICE_TREE, m_treeDevice);
    DDX_Text(dx, IDC_DEVICE_SUMMARY, m_strSummary);
}

BOOL CBrevantonDlg::CreatePrinterControl(const RECT& rect)
{
    return m_ctlPOSPrinter.Create(nullptr, "", WS_CHILD, rect, this, IDC_POSPRINTER_CONTROL);
}

BOOL CBrevantonDlg::OnInitDialog()
{
    CSkinDialog::OnInitDialog();
    // The Control Object is hosted whether or not the device list comes up; without one the
    // wrapper answers every call with 104 and its reason.
    RECT controlRect = {kDialogWidth - 40, 4, kDialogWidth - 10, 34};
    CreatePrinterControl(controlRect);

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);
    CRect r;
    GetWindowRect(&r);
    MoveWindow(r.left, r.top, kDialogWidth, kDialogHeight);

    struct
    {
        CImageTextButton& button;
        int id;
        COLORREF first;
    } buttons[] = {
        {m_btnAddDevice, IDC_ADD_DEVICE, 0x4F6C96},     {m_btnAddCashDrawer, IDC_ADD_CASHDRAWER, 0x4F6C96},
        {m_btnRemoveDevice, IDC_REMOVE_DEVICE, 0x4F6C96}, {m_btnModifyDevice, IDC_MODIFY_DEVICE, 0x4F6C96},
        {m_btnCheckHealth, IDC_CHECKHEALTH, 0x4F6C96},   {m_btnPortRange, IDC_PORT_RANGE, 0x307B19},
        {m_btnUtility, IDC_UTILITY, 0x307B19},           {m_btnExit, IDC_EXIT, 0x282828},
    };
    for (auto& b : buttons) {
        b.button.SetBitmaps(IDB_MAIN_BUTTON, IDB_MAIN_BUTTON_PRESSED, IDB_MAIN_BUTTON_DISABLED);
        b.button.SetTextPosition(20, 10);
        b.button.SetTextColors(b.first, 0x818181);
        b.button.SubclassDlgItem(UINT(b.id), this);
    }
    m_btnAddCashDrawer.EnableWindow(FALSE);
    UpdateData(FALSE);  // binds the tree before the captions give it its font
    LoadCaptions();

    CRegistry reg;
    reg.GetString(VESK_SERVICEINFO_KEY, "Installdir", Installdir);
    m_bLabelSupport = HasLabelSupport();

    CString setupInf = Installdir + "\\setup.inf";
    char title[256] = {};
    GetPrivateProfileStringA("Description", "VersionDescription", "", title, 255, setupInf);
    if (!title[0])
        return FALSE;
    SetWindowText(title);
    InitDeviceTree();
    RefreshDeviceTree();
    EnableDeviceButtons(0);
    m_nFindAvailablePort = int(GetPrivateProfileIntA("SPECIAL", "FindAvailablePort", 0, setupInf));
    if (m_nFindAvailablePort != 0)
        m_btnPortRange.ShowWindow(SW_HIDE);
    UpdateData(FALSE);
    return TRUE;
}

BOOL CBrevantonDlg::HasLabelSupport()
{
    return FileReadable(Installdir + "\\lbprn.inf") && FileReadable(Installdir + "\\Corvane.dll");
}

void CBrevantonDlg::LoadCaptions()
{
    ChooseUILanguage();
    LOGFONTA lf = {};
    lf.lfHeight = 15;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfOutPrecision = OUT_STROKE_PRECIS;
    lf.lfClipPrecision = CLIP_STROKE_PRECIS;
    lf.lfQuality = DRAFT_QUALITY;
    lf.lfPitchAndFamily = VARIABLE_PITCH | FF_SWISS;
    lstrcpynA(lf.lfFaceName, FxLoadString(IDS_CAPTION_FONT), LF_FACESIZE);
    m_captionFont.DeleteObject();
    m_captionFont.CreateFontIndirect(&lf);
    CImageTextButton* buttons[] = {&m_btnAddDevice,   &m_btnAddCashDrawer, &m_btnRemoveDevice, &m_btnModifyDevice,
                                   &m_btnCheckHealth, &m_btnPortRange,     &m_btnUtility,      &m_btnExit};
    if (m_treeDevice.m_hWnd)
        m_treeDevice.SetFont(&m_captionFont);

    m_strPOSPrinter = FxLoadString(57);
    m_strCashDrawer = FxLoadString(41);
    m_strMSR = FxLoadString(58);
    m_strDisplay = FxLoadString(59);
    m_strSmartCard = FxLoadString(104);
    m_strLabelPrinter = FxLoadString(112);
    // Button captions 2 to 11 in the order of the string table; 4 and 5 have no button here.
    for (int i = 0; i < 10; ++i)
        m_strButtonCaptions[i] = FxLoadString(UINT(2 + i));
    const int captionOf[] = {0, 1, 4, 5, 6, 7, 8, 9};  // index into m_strButtonCaptions per button
    for (int i = 0; i < 8; ++i) {
        if (buttons[i]->m_hWnd)
            buttons[i]->SetFont(&m_captionFont);
        buttons[i]->SetText(m_strButtonCaptions[captionOf[i]]);
        if (buttons[i]->m_hWnd)
            buttons[i]->SetWindowText(m_strButtonCaptions[captionOf[i]]);
    }
    m_strListCaption = FxLoadString(83);
    SetDlgItemText(IDC_DEVICE_LIST_LABEL, m_strListCaption);
    m_strDescription = FxLoadString(99);
    m_strNotUsed = FxLoadString(100);
    m_strReceiptPrinter = FxLoadString(101);
    m_strLabelSeries = FxLoadString(102);
    m_strStandard = FxLoadString(103);
    const CString* categories[] = {&m_strPOSPrinter, &m_strCashDrawer, &m_strMSR,
                                   &m_strDisplay,    &m_strSmartCard,  &m_strLabelPrinter};
    for (int i = 0; i < 6; ++i)
        m_strHeadings[i] = *categories[i] + " " + m_strDescription;
    m_strFooter1 = FxLoadString(IDS_FOOTER_1);
    m_strFooter2 = FxLoadString(IDS_FOOTER_2);
}

void CBrevantonDlg::InitDeviceTree()
{
    m_imageList.DeleteImageList();
    m_imageList.Create(IDB_TREE, 16, 6, kTreeMask);
    m_treeDevice.SetImageList(m_imageList, TVSIL_NORMAL);
    m_hRoot = m_treeDevice.InsertItem("Device", kImageRoot, kImageRoot, TVI_ROOT, TVI_LAST);
    m_treeDevice.Expand(m_hRoot, TVE_EXPAND);
    if (m_bLabelSupport) {
        m_hLabelPrinter = m_treeDevice.InsertItem(m_strLabelPrinter, kImageCategory, kImageCategory, m_hRoot, TVI_LAST);
        m_treeDevice.Expand(m_hLabelPrinter, TVE_EXPAND);
        m_treeDevice.EnsureVisible(m_hLabelPrinter);
    }
}

void CBrevantonDlg::FillDeviceTree(int classCode)
{
    HTREEITEM category = nullptr;
    switch (classCode) {
    case DEVCLASS_POSPRINTER: category = m_hPOSPrinter; break;
    case DEVCLASS_CASHDRAWER: category = m_hCashDrawer; break;
    case DEVCLASS_LINEDISPLAY: category = m_hLineDisplay; break;
    case DEVCLASS_MSR: category = m_hMSR; break;
    case DEVCLASS_SMARTCARD: category = m_hSmartCard; break;
    case DEVCLASS_LABELPRINTER: category = m_hLabelPrinter; break;
    }
    CString classKey = ClassKeyPath(classCode);
    if (!category || classKey.IsEmpty())
        return;
    for (HTREEITEM child = m_treeDevice.GetChildItem(category); child;) {
        HTREEITEM next = m_treeDevice.GetNextSiblingItem(child);
        m_treeDevice.DeleteItem(child);
        child = next;
    }
    bool inserted = false;
    for (const CString& name : ListDeviceKeys(classKey, true)) {
        if (name.IsEmpty() || !IsOwnDevice(name, classCode))
            continue;
        HTREEITEM item = m_treeDevice.InsertItem(name, kImageDevice, kImageDeviceSelected, category, TVI_FIRST);
        m_treeDevice.SetItemState(item, TVIS_BOLD, TVIS_BOLD);
        inserted = true;
    }
    m_treeDevice.Expand(m_hRoot, TVE_EXPAND);
    if (inserted)
        m_treeDevice.Expand(category, TVE_EXPAND);
}

BOOL CBrevantonDlg::IsOwnDevice(const CString& keyName, int classCode)
{
    int underscore = keyName.Find('_');
    CString model = underscore < 0 ? keyName : keyName.Left(underscore);
    // A name that begins with "_" has no model: every section would "begin with" it.
    if (model.IsEmpty())
        return FALSE;
    const DeviceClassInfo* cls = FindDeviceClass(classCode);
    if (!cls || classCode == DEVCLASS_CASHDRAWER)
        return FALSE;
    if (classCode == DEVCLASS_POSPRINTER || classCode == DEVCLASS_LABELPRINTER) {
        CString progId;
        CRegistry reg;
        reg.GetString(ClassKeyPath(DEVCLASS_POSPRINTER) + "\\" + model, "", progId);
        if (!progId.IsEmpty()) {
            if (progId.Find("VESK") < 0)
                return FALSE;
            if (progId.Find(classCode == DEVCLASS_POSPRINTER ? "POSPrinter" : "LabelPrinter") < 0)
                return FALSE;
        }
    }
    for (const CString& name : ListInfSections(Installdir + "\\" + cls->classInf)) {
        // Section names are kept to 15 characters, as the Add Device dialog offers them.
        char section[16] = {};
        lstrcpynA(section, name, sizeof section);
        // The whole model, as registry and INF names ignore case: a model that only begins a
        // section is another maker's.
        if (model.CompareNoCase(section) == 0)
            return TRUE;
    }
    return FALSE;
}

void CBrevantonDlg::RefreshDeviceTree()
{
    // Refilling deletes the selected item, and each deletion would move the selection, and with
    // it the current device, to another key: the selection is not followed while the tree is
    // refilled, and the device the user worked on is selected again afterwards.
    m_bRefilling = TRUE;
    FillDeviceTree(DEVCLASS_POSPRINTER);
    if (m_bLabelSupport)
        FillDeviceTree(DEVCLASS_LABELPRINTER);
    m_bRefilling = FALSE;
    SelectCurrentDevice();
    ShowDeviceSummary(m_strDeviceKeyName);
    if (m_hRoot)
        m_treeDevice.EnsureVisible(m_hRoot);
}

void CBrevantonDlg::SelectCurrentDevice()
{
    if (m_strDeviceKeyName.IsEmpty() || !m_treeDevice.m_hWnd)
        return;
    const struct
    {
        HTREEITEM category;
        int code;
    } categories[] = {{m_hPOSPrinter, DEVCLASS_POSPRINTER}, {m_hLabelPrinter, DEVCLASS_LABELPRINTER}};
    for (const auto& c : categories) {
        if (!c.category || c.code != m_nClassCode)
            continue;
        for (HTREEITEM item = m_treeDevice.GetChildItem(c.category); item; item = m_treeDevice.GetNextSiblingItem(item))
            if (m_treeDevice.GetItemText(item) == m_strDeviceKeyName) {
                // The current device already is this item's: the selection handler enables its
                // buttons and leaves the rest.
                m_treeDevice.SelectItem(item);
                return;
            }
    }
    // Gone from the tree: nothing of it is shown any more.
    m_strDeviceKeyName.Empty();
    m_strDeviceKeyPath.Empty();
    m_nClassCode = 0;
    m_strSummary.Empty();
    SetDlgItemText(IDC_DEVICE_SUMMARY, "");
    if (m_hRoot)
        m_treeDevice.SelectItem(m_hRoot);
    EnableDeviceButtons(0);
}

int CBrevantonDlg::ClassOfCategory(HTREEITEM category) const
{
    if (!category)
        return 0;
    const struct
    {
        HTREEITEM item;
        int code;
    } made[] = {{m_hPOSPrinter, DEVCLASS_POSPRINTER}, {m_hCashDrawer, DEVCLASS_CASHDRAWER},
                {m_hLineDisplay, DEVCLASS_LINEDISPLAY}, {m_hMSR, DEVCLASS_MSR},
                {m_hSmartCard, DEVCLASS_SMARTCARD}, {m_hLabelPrinter, DEVCLASS_LABELPRINTER}};
    for (const auto& m : made)
        if (m.item && m.item == category)
            return m.code;
    return 0;
}

void CBrevantonDlg::OnTvnSelchangedDeviceTree(NMHDR* nm, LRESULT* result)
{
    if (result)
        *result = 0;
    if (m_bRefilling)
        return;
    HTREEITEM item = reinterpret_cast<NMTREEVIEWA*>(nm)->itemNew.hItem;
    if (!item) {
        EnableDeviceButtons(0);
        return;
    }
    CString text = m_treeDevice.GetItemText(item);
    int depth = 0;
    CString category;
    for (HTREEITEM p = m_treeDevice.GetParentItem(item); p; p = m_treeDevice.GetParentItem(p)) {
        if (depth == 0)
            category = m_treeDevice.GetItemText(p);
        ++depth;
    }
    const struct
    {
        const CString& caption;
        int code;
        int heading;
    } classes[] = {{m_strPOSPrinter, DEVCLASS_POSPRINTER, 0}, {m_strDisplay, DEVCLASS_LINEDISPLAY, 3},
                   {m_strMSR, DEVCLASS_MSR, 2},               {m_strSmartCard, DEVCLASS_SMARTCARD, 4},
                   {m_strLabelPrinter, DEVCLASS_LABELPRINTER, 5}, {m_strCashDrawer, DEVCLASS_CASHDRAWER, 1}};
    int classCode = 0;
    for (const auto& c : classes)
        if (!category.IsEmpty() && category == c.caption) {
            classCode = c.code;
            m_strClassKeyPath = ClassKeyPath(c.code);
            m_strSummaryHeading = m_strHeadings[c.heading];
            break;
        }
    if (depth == 2 && classCode && text != m_strDeviceKeyName) {
        m_strDeviceKeyName = text;
        m_strDeviceKeyPath = m_strClassKeyPath + "\\" + text;
        m_nClassCode = classCode;
        ShowDeviceSummary(m_strDeviceKeyName);
    }
    if (classCode == 0 || !IsOwnDevice(text, classCode))
        depth = 0;
    EnableDeviceButtons(depth);
}

void CBrevantonDlg::EnableDeviceButtons(int depth)
{
    BOOL on = depth == 2;
    m_btnRemoveDevice.EnableWindow(on);
    m_btnModifyDevice.EnableWindow(on);
    m_btnCheckHealth.EnableWindow(on);
}

void CBrevantonDlg::ShowDeviceSummary(const CString& keyName)
{
    if (keyName.IsEmpty())
        return;
    CRegistry reg;
    CString deviceName, ldn;
    reg.GetString(m_strDeviceKeyPath, "DeviceName", deviceName);
    reg.GetString(m_strDeviceKeyPath, "LDN", ldn);
    if (ldn.IsEmpty())
        ldn.Format("[%s]", m_strNotUsed.GetString());
    if (m_nClassCode == DEVCLASS_CASHDRAWER) {
        CString printer, description;
        reg.GetString(m_strDeviceKeyPath, "POSPrinter", printer);
        if (!printer.IsEmpty())
            description.Format("%s %s", m_strStandard.GetString(), m_strCashDrawer.GetString());
        m_strSummary.Format(kDrawerSummaryFormat, m_strSummaryHeading.GetString(), deviceName.GetString(),
                            ldn.GetString(), printer.GetString(), description.GetString());
    } else {
        CString port;
        reg.GetString(m_strDeviceKeyPath, "Port", port);
        m_strSummary.Format(kSummaryFormat, m_strSummaryHeading.GetString(), deviceName.GetString(), ldn.GetString(),
                            port.GetString());
    }
    SetDlgItemText(IDC_DEVICE_SUMMARY, m_strSummary);
    RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

BOOL CBrevantonDlg::SelectedDevice(CString& name, int& classCode)
{
    HTREEITEM item = m_treeDevice.m_hWnd ? m_treeDevice.GetSelectedItem() : nullptr;
    if (!item)
        return FALSE;
    classCode = ClassOfCategory(m_treeDevice.GetParentItem(item));
    if (classCode == 0)
        return FALSE;
    name = m_treeDevice.GetItemText(item);
    return IsOwnDevice(name, classCode);
}

BOOL CBrevantonDlg::PreTranslateMessage(MSG* msg)
{
    if (msg->message == WM_KEYDOWN) {
        switch (msg->wParam) {
        case 'C': OnBnClickedAddCashDrawer(); return TRUE;
        case 'D': OnBnClickedAddDevice(); return TRUE;
        case 'H': OnBnClickedCheckHealth(); return TRUE;
        case 'M': OnBnClickedModifyDevice(); return TRUE;
        case 'N': OnBnClickedUtility(); break;  // passed on after the handler ran
        case 'P': OnBnClickedPortRange(); return TRUE;
        case 'R': OnBnClickedRemoveDevice(); return TRUE;
        case 'X': OnBnClickedExit(); return TRUE;
        case VK_ESCAPE:
            // Escape would come back as Cancel and end the program; only Exit and the close do.
            if (msg->hwnd == m_hWnd || ::IsChild(m_hWnd, msg->hwnd))
                return TRUE;
            break;
        }
    }
    return CSkinDialog::PreTranslateMessage(msg);
}

void CBrevantonDlg::OnBnClickedAddDevice()
{
    CSelectDevice dlg(this);
    dlg.m_bLabelSupport = m_bLabelSupport;
    if (dlg.DoModal() != IDOK)
        return;
    m_nAddedClassCode = dlg.m_nClassCode;
    m_strAddedKeyName = dlg.m_strDeviceKeyName;
    // A completed add makes the new device the current one; a cancelled add removed its key.
    if (RunPrinterConfiguration(m_strAddedKeyName, m_nAddedClassCode, TRUE) == IDOK) {
        m_strDeviceKeyName = m_strAddedKeyName;
        m_nClassCode = m_nAddedClassCode;
        m_strClassKeyPath = ClassKeyPath(m_nAddedClassCode);
        m_strDeviceKeyPath = m_strClassKeyPath + "\\" + m_strAddedKeyName;
        m_strSummaryHeading = m_strHeadings[m_nAddedClassCode == DEVCLASS_LABELPRINTER ? 5 : 0];
    }
    RefreshDeviceTree();
}

void CBrevantonDlg::OnBnClickedAddCashDrawer()
{
    CSelectConnectPrinterDlg chooser(this);
    if (chooser.DoModal() != IDOK)
        return;
    CConfigCashDlg dlg(this);
    dlg.m_bAddMode = 1;
    dlg.m_strDeviceName = "KPTCDW";
    dlg.m_strConnectedPrinter = chooser.m_strSelectedPrinter;
    dlg.DoModal();
    RefreshDeviceTree();
}

void CBrevantonDlg::OnBnClickedRemoveDevice()
{
    CString name;
    int classCode = 0;
    if (!SelectedDevice(name, classCode) ||
        (classCode != DEVCLASS_POSPRINTER && classCode != DEVCLASS_LABELPRINTER))
        return;
    CString question;
    question.Format(FxLoadString(kMsgRemoveConfirm), name.GetString());
    if (::MessageBoxA(m_hWnd, question, FxLoadString(6), MB_OKCANCEL) != IDOK)
        return;

    CString classKey = ClassKeyPath(classCode);
    CRegistry reg;
    CString ldn, aliasTarget;
    reg.GetString(classKey + "\\" + name, "LDN", ldn);
    // The alias goes only when it names this device: another device may hold the same name.
    if (!ldn.IsEmpty() && reg.GetString(classKey, ldn, aliasTarget) && aliasTarget == name)
        reg.Delete(classKey, ldn);
    DeleteKeyOrValue(classKey + "\\" + name, nullptr, HKEY_LOCAL_MACHINE);
    // The removed key is no longer the current device: nothing of it is shown again.
    if (m_strDeviceKeyName == name) {
        m_strDeviceKeyName.Empty();
        m_strDeviceKeyPath.Empty();
        m_nClassCode = 0;
    }
    if (m_hRoot)
        m_treeDevice.SelectItem(m_hRoot);
    m_strSummary.Empty();
    SetDlgItemText(IDC_DEVICE_SUMMARY, "");
    RefreshDeviceTree();
    RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void CBrevantonDlg::OnBnClickedModifyDevice()
{
    CString name;
    int classCode = 0;
    // A cash drawer would go to CConfigCashDlg, but no Cash Drawer category is made, so none is
    // ever selected here.
    if (!SelectedDevice(name, classCode) || classCode == DEVCLASS_CASHDRAWER)
        return;
    RunPrinterConfiguration(name, classCode, FALSE);
    RefreshDeviceTree();
}

INT_PTR CBrevantonDlg::RunPrinterConfiguration(const CString& keyName, int classCode, BOOL addMode)
{
    CConfigPrinterDlg dlg(this, m_nFindAvailablePort);
    dlg.m_strKeyName = keyName;
    dlg.m_nClassCode = classCode;
    dlg.m_bAddMode = addMode;
    return dlg.DoModal();
}

void CBrevantonDlg::OnBnClickedCheckHealth()
{
    CString name;
    int classCode = 0;
    if (!SelectedDevice(name, classCode) ||
        (classCode != DEVCLASS_POSPRINTER && classCode != DEVCLASS_LABELPRINTER))
        return;
    auto fail = [&](UINT messageId, const CString& reason = CString()) {
        CString text = FxLoadString(messageId) + " : " + (reason.IsEmpty() ? m_ctlPOSPrinter.GetErrorText() : reason);
        AfxMessageBox(text, MB_OK);
        m_ctlPOSPrinter.Close();
    };
    if (m_ctlPOSPrinter.Open(name) != 0)
        return fail(kMsgOpenError);
    if (m_ctlPOSPrinter.ClaimDevice(kClaimTimeout) != 0)
        return fail(kMsgClaimError);
    m_ctlPOSPrinter.SetDeviceEnabled(TRUE);
    // A failed put is the reason, even when the read-back after it works and merely says FALSE.
    CString enableFailure;
    if (FAILED(m_ctlPOSPrinter.GetLastInvokeResult()))
        enableFailure = m_ctlPOSPrinter.GetErrorText();
    m_ctlPOSPrinter.SetDispatchProperty106(TRUE);
    if (!m_ctlPOSPrinter.GetDeviceEnabled())
        return fail(kMsgEnableError, enableFailure);
    m_ctlPOSPrinter.CheckHealth(kHealthInteractive);
    m_ctlPOSPrinter.SetDeviceEnabled(FALSE);
    m_ctlPOSPrinter.ReleaseDevice();
    m_ctlPOSPrinter.Close();
}

void CBrevantonDlg::OnBnClickedPortRange()
{
    CPortRangeDlg dlg(this);
    dlg.DoModal();
}

void CBrevantonDlg::OnBnClickedUtility()
{
    if (m_shellOpen)
        m_shellOpen("explore", Installdir + "\\Utility");
}

void CBrevantonDlg::OnBnClickedExit() { CSkinDialog::OnOK(); }

void CBrevantonDlg::OnOK()
{
    // Enter comes here as IDOK from any control: it does what the focused button does, or
    // nothing. The program ends only through Exit or the window's close.
    const HWND focus = ::GetFocus();
    const struct
    {
        CImageTextButton& button;
        void (CBrevantonDlg::*handler)();
    } buttons[] = {{m_btnAddDevice, &CBrevantonDlg::OnBnClickedAddDevice},
                   {m_btnAddCashDrawer, &CBrevantonDlg::OnBnClickedAddCashDrawer},
                   {m_btnRemoveDevice, &CBrevantonDlg::OnBnClickedRemoveDevice},
                   {m_btnModifyDevice, &CBrevantonDlg::OnBnClickedModifyDevice},
                   {m_btnCheckHealth, &CBrevantonDlg::OnBnClickedCheckHealth},
                   {m_btnPortRange, &CBrevantonDlg::OnBnClickedPortRange},
                   {m_btnUtility, &CBrevantonDlg::OnBnClickedUtility},
                   {m_btnExit, &CBrevantonDlg::OnBnClickedExit}};
    for (const auto& b : buttons)
        if (focus && b.button.m_hWnd == focus && ::IsWindowEnabled(focus) && ::IsWindowVisible(focus)) {
            (this->*b.handler)();
            return;
        }
}

void PaintMinimisedIcon(CDC& dc, const RECT& client, HICON icon)
{
    const int cx = GetSystemMetrics(SM_CXICON), cy = GetSystemMetrics(SM_CYICON);
    const int x = (client.right - client.left - cx + 1) / 2, y = (client.bottom - client.top - cy + 1) / 2;
    dc.DrawIcon(x, y, icon);
}

void CBrevantonDlg::OnPaint()
{
    if (!IsIconic()) {
        CSkinDialog::OnPaint();
        return;
    }
    CPaintDC dc(m_hWnd);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.m_hDC), 0);
    CRect client;
    GetClientRect(&client);
    PaintMinimisedIcon(dc, client, m_hIcon);
}

HCURSOR CBrevantonDlg::OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(m_hIcon); }

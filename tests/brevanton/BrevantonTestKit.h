// What the setup utility's main-dialog and Add Device tests share: an install folder holding the
// shipped INF files (and the built Corvane.dll for the label support check), the device keys of
// the label printer class, a look at the device tree, and a watch that answers the dialogs the
// main dialog opens over itself.
#pragma once

#include "TestEnv.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

extern const char kPrinterClassKey[];   // Software\OLEforRetail\ServiceOPOS\POSPrinter
extern const char kLabelProgId[];       // this driver set's label printer ProgID

struct InstallOptions
{
    bool lbprn = true;       // lbprn.inf in the folder
    bool corvane = true;     // Corvane.dll in the folder
    bool version = true;     // setup.inf [Description] VersionDescription
    int findAvailablePort = 0;
    const char* lbprnText = nullptr;  // a lbprn.inf of the test's own instead of the shipped one
    bool allInf = false;              // every shipped INF (the model and font files too)
};

// While alive, this thread can host controls: OLE and the common controls (the IP address
// control included) are set up.
class CUiThread
{
public:
    CUiThread();
    ~CUiThread();
    CUiThread(const CUiThread&) = delete;
    CUiThread& operator=(const CUiThread&) = delete;
};

// A temporary install folder with the shipped setup.inf and lbprn.inf, pointed at by the
// ServiceInfo key of reg.
class CInstallFolder
{
public:
    CInstallFolder(CTestRegistry& reg, const InstallOptions& options = InstallOptions());
    const std::string& Path() const { return m_folder.Path(); }
    CTempFolder& Folder() { return m_folder; }

private:
    CTempFolder m_folder;
};

// Copies a file of the source tree's inf/ folder into folder; false when it cannot.
bool CopyShippedInf(CTempFolder& folder, const std::string& name);

// A device key of the label printer class: the default value (ProgID), DeviceName, LDN, Port.
void WriteDeviceKey(CTestRegistry& reg, const std::string& name, const char* progId = kLabelProgId,
                    const char* ldn = "", const char* port = "COM1", const char* deviceName = nullptr);
std::string RegString(const std::string& key, const char* name);
std::vector<std::string> SubkeyNames(const std::string& key);
// The values of a key in the registry's order: name, type, data (text values only).
struct RegValueRow
{
    std::string name;
    DWORD type;
    std::string data;
};
std::vector<RegValueRow> RegValues(const std::string& key);

// "Ports" devices of the machine, written where SetupAPI looks for them; a device's friendly name
// is "Test port (<name>)" unless friendlyNames gives one for its port name.
void AddMachinePorts(CTestRegistry& reg, const std::vector<std::string>& names,
                     const std::map<std::string, std::string>& friendlyNames = {});

// A combo box's selected index, its selected text ("<none>" without a selection) and its items.
int ComboSel(HWND dlg, int id);
std::string ComboSelText(HWND dlg, int id);
std::vector<std::string> ComboItems(HWND dlg, int id);

// What a person does in Add Device: picks the model at index and goes on with Next.
void ChooseModelAndGoOn(HWND addDevice, int index);

// One item of the device tree: depth-first text, its depth, whether it is bold.
struct TreeItem
{
    std::string text;
    int depth;
    bool bold;
    bool operator==(const TreeItem& o) const { return text == o.text && depth == o.depth && bold == o.bold; }
};
std::vector<TreeItem> ReadTree(HWND tree);
// The item whose text is text (first found, depth first), or NULL.
HTREEITEM FindTreeItem(HWND tree, const std::string& text);
std::string TreeText(const std::vector<TreeItem>& items);

// Watches the thread's windows for dialogs opened over the driven one (not message boxes) and
// hands each to its handler once; the handler ends it.
class CNestedDialogWatch
{
public:
    // recognise: a control id the dialog has; act: what is done with it (end it, drive it).
    CNestedDialogWatch(HWND owner, int recogniseId, std::function<void(HWND)> act);
    ~CNestedDialogWatch();
    int Seen() const { return m_seen; }

private:
    static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD);
    UINT_PTR m_timer = 0;
    int m_id;
    std::function<void(HWND)> m_act;
    std::vector<HWND> m_handled;
    int m_seen = 0;
};

// A test of dialogs that host controls: OLE and the common controls are set up for each case.
class DialogTest : public testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;
};

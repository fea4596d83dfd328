// The usb transport library: its application object and the fourteen port exports.
#include "FxApp.h"
#include "PortTable.h"
#include "PortUsb.h"

class CUSBApp : public CWinApp
{
public:
    CUSBApp() : CWinApp(nullptr), m_Ports(30000) {}
    ~CUSBApp() override {}

    CPortTable<CPortUsb> m_Ports;
};

CUSBApp theApp;

VESK_PORT_EXPORTS(theApp.m_Ports)

// The net library: its application object, the table of its ports and the port API exports.
#include "FxApp.h"
#include "PortNet.h"
#include "PortTable.h"

class CEthernetApp : public CWinApp
{
public:
    CEthernetApp() : CWinApp(nullptr), m_Ports(40000) {}
    ~CEthernetApp() override {}

    CPortTable<CPortNet> m_Ports;
};

CEthernetApp theApp;

VESK_PORT_EXPORTS(theApp.m_Ports)

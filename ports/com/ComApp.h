// The com library's application object: the table of its serial ports.
#pragma once

#include "FxApp.h"
#include "PortCom.h"
#include "PortTable.h"

class CComApp : public CWinApp
{
public:
    CComApp();
    ~CComApp() override;
    void Serialize(CArchive&) override {}

    CPortTable<CPortCom> m_Ports;
};

extern CComApp theApp;

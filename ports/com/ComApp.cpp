#include "ComApp.h"

CComApp::CComApp() : CWinApp(nullptr), m_Ports(10000) {}

// Ports are deleted by their owner (DeletePort), not when the library unloads.
CComApp::~CComApp() {}

CComApp theApp;

VESK_PORT_EXPORTS(theApp.m_Ports)

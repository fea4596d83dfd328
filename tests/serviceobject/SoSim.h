// The world's device on the installed port manager and transports, against the printer
// simulator (for test programs built with the simulator's client and the port libraries).
#pragma once

#include "SoTestKit.h"
#include "simclient.h"

// The installed port libraries instead of the scripted one.
inline void UseInstalledPorts(CSoWorld& w)
{
    const char* info = "Software\\OLEforRetail\\ServiceInfo\\VESK OPOS";
    w.reg.WriteServiceInfo(w.folder.Path());
    w.reg.SetString(info, "qlnadir", WinPath(QUILLAN_DLL).c_str());
    w.reg.SetString(info, "comdir", WinPath(COM_DLL).c_str());
    w.reg.SetString(info, "netdir", WinPath(NET_DLL).c_str());
}

// A loopback TCP printer of the simulator as the port of the device key; its endpoint, or -1.
inline int UseSimulatorTcp(CSoWorld& w, vesksim::SimClient& sim, const char* key)
{
    int port = 0;
    int ep = sim.tcp(&port);
    if (ep >= 0)
        w.reg.SetDWORD(key, "TcpPort", DWORD(port));
    return ep;
}

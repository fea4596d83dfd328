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

// A serial printer of the simulator, its pty as the COM port of the device key (8N1 at 115200,
// flow control off: a pty has no modem lines); its endpoint, or -1.
inline int UseSimulatorSerial(CSoWorld& w, vesksim::SimClient& sim, const char* key)
{
    int com = 0;
    int ep = sim.serial(&com);
    if (ep < 0)
        return ep;
    w.reg.SetString(key, "Port", ("COM" + std::to_string(com)).c_str());
    w.reg.SetString(key, "BaudRate", "115200");
    w.reg.SetString(key, "BitLength", "8");
    w.reg.SetString(key, "Parity", "0");
    w.reg.SetString(key, "Stop", "0");
    w.reg.SetString(key, "HandShake", "None");
    return ep;
}

// A logging world on the installed ports with a printer of the simulator, on either transport,
// as the port of its device LP1; the endpoint goes with it.
struct SimPrinter
{
    bool Start(bool serial)
    {
        const char* key = "Software\\OLEforRetail\\ServiceOPOS\\POSPrinter\\LP1";
        if (!sim.connected())
            return false;
        UseInstalledPorts(w);
        ep = serial ? UseSimulatorSerial(w, sim, key) : UseSimulatorTcp(w, sim, key);
        return ep >= 0;
    }
    ~SimPrinter()
    {
        if (ep >= 0)
            sim.closeEndpoint(ep);
    }

    CSoWorld w{1};
    vesksim::SimClient sim;
    int ep = -1;
};

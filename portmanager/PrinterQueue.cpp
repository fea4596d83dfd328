// Printer queue moves: a Windows printer queue on the serial or parallel port that Quillan opens
// would fight the port with the spooler, so it goes to "FILE:" while the port is open.
#include "Quillan.h"

#include <winspool.h>

#include <cstring>

namespace {

const char kFilePort[] = "FILE:";

// A printer's port string is a comma-separated list ("COM3:,LPT1:"). Only an exact port (the
// port name and ":", any case) matches, so a queue on COM31: is not moved for COM3.
bool PrinterUsesPort(const char* portList, const CString& portName)
{
    if (!portList)
        return false;
    CString wanted = portName + ":";
    CString list(portList);
    int start = 0;
    while (start <= list.GetLength()) {
        int comma = list.Find(',', start);
        int end = comma < 0 ? list.GetLength() : comma;
        CString item = list.Mid(start, end - start);
        item.Trim();
        if (!item.IsEmpty() && item.CompareNoCase(wanted) == 0)
            return true;
        if (comma < 0)
            break;
        start = comma + 1;
    }
    return false;
}

SavedPrinter* FindSaved(PortEntry* entry, const char* name)
{
    for (POSITION pos = entry->savedPrinters.GetHeadPosition(); pos;) {
        SavedPrinter* s = static_cast<SavedPrinter*>(entry->savedPrinters.GetNext(pos));
        if (s->strName == name)
            return s;
    }
    return nullptr;
}

// Level 2 of an open printer in a zeroed buffer the caller frees with LocalFree; nullptr when
// the size query or the read fails (err says which).
PRINTER_INFO_2A* ReadPrinterInfo(HANDLE printer, DWORD& err, bool& sizeFailed)
{
    DWORD needed = 0;
    sizeFailed = false;
    if (!GetPrinterA(printer, 2, nullptr, 0, &needed)) {
        err = GetLastError();
        if (err != ERROR_INSUFFICIENT_BUFFER) {
            sizeFailed = true;
            return nullptr;
        }
    }
    if (needed == 0) {
        sizeFailed = true;
        return nullptr;
    }
    BYTE* buf = static_cast<BYTE*>(LocalAlloc(LPTR, needed));
    if (!buf) {
        err = GetLastError();
        return nullptr;
    }
    if (!GetPrinterA(printer, 2, buf, needed, &needed)) {
        err = GetLastError();
        LocalFree(buf);
        return nullptr;
    }
    return reinterpret_cast<PRINTER_INFO_2A*>(buf);
}

void ForgetSaved(PortEntry* entry, SavedPrinter* saved)
{
    if (POSITION at = entry->savedPrinters.Find(saved)) {
        entry->savedPrinters.RemoveAt(at);
        delete saved;
    }
}

// Puts one moved queue back on its ports (and attributes); false, with an error line naming the
// step that failed and the ports the queue should have got, when the printer could not be
// opened, read or set.
bool RestoreOne(const SavedPrinter* saved, int id, DWORD devType)
{
    const char* failed = nullptr;
    DWORD err = 0;
    HANDLE printer = nullptr;
    PRINTER_DEFAULTSA defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (!OpenPrinterA(const_cast<char*>(saved->strName.GetString()), &printer, &defaults)) {
        failed = "OpenPrinter";
        err = GetLastError();
    } else {
        bool sizeFailed = false;
        if (PRINTER_INFO_2A* info = ReadPrinterInfo(printer, err, sizeFailed)) {
            info->pPortName = const_cast<char*>(saved->strOldPort.GetString());
            if (saved->bHasAttributes)
                info->Attributes = saved->dwOldAttributes;
            info->pSecurityDescriptor = nullptr;
            if (!SetPrinterA(printer, 2, reinterpret_cast<BYTE*>(info), 0)) {
                failed = "SetPrinter";
                err = GetLastError();
            }
            LocalFree(info);
        } else {
            failed = "GetPrinter";
        }
        ClosePrinter(printer);
    }
    if (failed) {
        QlnError(devType, "RestoreWindowsDriverPort<dwId : %d> : failed to %s '%s' (%d), kept to restore its ports '%s'", id,
                 failed, saved->strName.GetString(), int(err), saved->strOldPort.GetString());
        return false;
    }
    QlnLine(devType, "RestoreWindowsDriverPort<dwId : %d> : printer '%s' restored to '%s'", id, saved->strName.GetString(),
            saved->strOldPort.GetString());
    return true;
}

} // namespace

void FreeSavedPrinters(PortEntry* entry)
{
    while (!entry->savedPrinters.IsEmpty())
        delete static_cast<SavedPrinter*>(entry->savedPrinters.RemoveHead());
}

BOOL ExistWindowsDriverFilePort(int id, DWORD devType)
{
    QlnLine(devType, "+ExistWindowsDriverFilePort <dwId : %d>", id);
    QlnLine(devType, "ExistWindowsDriverFilePort<dwId : %d> : because it is spooler. If it hang at this point", id);
    QlnLine(devType, "ExistWindowsDriverFilePort<dwId : %d> : cmd -> 'net stop spooler' and 'net start spooler'", id);
    BOOL exists = FALSE;
    DWORD needed = 0, returned = 0;
    EnumPortsA(nullptr, 2, nullptr, 0, &needed, &returned);
    if (needed > 0) {
        BYTE* buf = static_cast<BYTE*>(LocalAlloc(LPTR, needed));
        if (buf && EnumPortsA(nullptr, 2, buf, needed, &needed, &returned)) {
            PORT_INFO_2A* ports = reinterpret_cast<PORT_INFO_2A*>(buf);
            for (DWORD i = 0; i < returned && !exists; ++i)
                exists = ports[i].pPortName && std::strcmp(ports[i].pPortName, kFilePort) == 0;
        }
        if (buf)
            LocalFree(buf);
    }
    QlnLine(devType, "-ExistWindowsDriverFilePort<dwId : %d>:%d", id, int(exists));
    return exists;
}

BOOL AddNewWindowsDriverPort(int id, DWORD devType)
{
    QlnLine(devType, "+AddNewWindowsDriverPort <dwId : %d>", id);
    HANDLE xcv = nullptr;
    PRINTER_DEFAULTSA defaults = {nullptr, nullptr, SERVER_ACCESS_ADMINISTER};
    if (!OpenPrinterA(const_cast<char*>(",XcvMonitor Local Port"), &xcv, &defaults))
        return FALSE;
    static const wchar_t kPort[] = L"FILE:";
    DWORD needed = 0, status = 0;
    BOOL called = XcvDataW(xcv, L"AddPort", reinterpret_cast<BYTE*>(const_cast<wchar_t*>(kPort)), sizeof kPort,
                           nullptr, 0, &needed, &status);
    DWORD err = called ? status : GetLastError();
    // A port that exists already is what we want.
    BOOL ok = called && (status == ERROR_SUCCESS || status == ERROR_ALREADY_EXISTS);
    if (ok)
        QlnLine(devType, "+AddNewWindowsDriverPort<dwId : %d> : 'FILE:' port has been added successfully.", id);
    else
        QlnError(devType, "+AddNewWindowsDriverPort<dwId : %d> :failed with (%d)", id, int(err));
    ClosePrinter(xcv);
    return ok;
}

void MoveWindowsDriverPort(PortEntry* entry, int id, DWORD devType, BOOL bExistFilePort)
{
    QlnLine(devType, "+MoveWindowsDriverPort <dwId : %d, bExistFilePort : %d>", id, int(bExistFilePort));
    if (!entry)
        return;
    QlnLine(devType, "MoveWindowsDriverPort<dwId : %d> : because it is spooler. If it hang at this point", id);
    QlnLine(devType, "MoveWindowsDriverPort<dwId : %d> : cmd -> 'net stop spooler' and 'net start spooler'", id);

    DWORD needed = 0, returned = 0;
    EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &returned);
    BYTE* list = needed ? static_cast<BYTE*>(LocalAlloc(LPTR, needed)) : nullptr;
    if (list && !EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, list, needed, &needed, &returned))
        returned = 0;
    BOOL goOn = TRUE;
    BOOL fileExists = bExistFilePort;
    PRINTER_INFO_2A* printers = reinterpret_cast<PRINTER_INFO_2A*>(list);
    for (DWORD i = 0; list && i < returned; ++i) {
        if (!printers[i].pPrinterName || !PrinterUsesPort(printers[i].pPortName, entry->strPort))
            continue;
        SavedPrinter* saved = FindSaved(entry, printers[i].pPrinterName);
        if (!saved) {
            saved = new SavedPrinter;
            saved->strName = printers[i].pPrinterName;
            entry->savedPrinters.AddTail(saved);
        }
        saved->strOldPort = printers[i].pPortName;
        saved->bHasAttributes = FALSE;

        bool moved = false;
        HANDLE printer = nullptr;
        PRINTER_DEFAULTSA defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
        if (!OpenPrinterA(printers[i].pPrinterName, &printer, &defaults)) {
            QlnError(devType, "MoveWindowsDriverPort<dwId : %d> : failed to OpenPrinter ", id);
            ForgetSaved(entry, saved);
            continue;
        }
        DWORD err = 0;
        bool sizeFailed = false;
        PRINTER_INFO_2A* info = nullptr;
        if (goOn) {
            info = ReadPrinterInfo(printer, err, sizeFailed);
            if (!info) {
                if (sizeFailed) {
                    QlnError(devType, "MoveWindowsDriverPort<dwId : %d> : failed to GetPrinter : ERROR_INSUFFICIENT_BUFFER ", id);
                    QlnError(devType, "MoveWindowsDriverPort<dwId : %d> : failed to LocalAlloc ", id);
                } else {
                    QlnError(devType, "MoveWindowsDriverPort<dwId : %d> : failed to GetPrinter", id);
                }
                goOn = FALSE;
            }
        } else {
            QlnError(devType, "MoveWindowsDriverPort<dwId : %d> : failed to LocalAlloc ", id);
        }
        if (info) {
            saved->dwOldAttributes = info->Attributes;
            saved->bHasAttributes = TRUE;
            if (info->Attributes & PRINTER_ATTRIBUTE_ENABLE_BIDI) {
                QlnLine(devType, "MoveWindowsDriverPort<dwId : %d> : This printer is supported Bidi connection. Bidi is Disable.", id);
                info->Attributes &= ~DWORD(PRINTER_ATTRIBUTE_ENABLE_BIDI);
            }
            if (!fileExists) {
                QlnLine(devType, "MoveWindowsDriverPort<dwId : %d> : add FILE port.", id);
                goOn = AddNewWindowsDriverPort(id, devType);
                fileExists = goOn;  // added once per call
            }
            if (goOn) {
                info->pPortName = const_cast<char*>(kFilePort);
                info->pSecurityDescriptor = nullptr;  // leave the queue's security as it is
                goOn = SetPrinterA(printer, 2, reinterpret_cast<BYTE*>(info), 0);
                DWORD setErr = goOn ? 0 : GetLastError();
                QlnLine(devType, "MoveWindowsDriverPort<dwId : %d> : move to FILE port.", id);
                moved = goOn != FALSE;
                if (moved)
                    QlnLine(devType, "MoveWindowsDriverPort<dwId : %d> : printer '%s' moved from '%s' to 'FILE:'", id,
                            saved->strName.GetString(), saved->strOldPort.GetString());
                if (!goOn)
                    QlnError(devType, "MoveWindowsDriverPort<dwId : %d> : failed to SetPrinter and PortName is 'FILE:' (%d)", id,
                             int(setErr));
            } else {
                QlnError(devType, "MoveWindowsDriverPort<dwId : %d> : failed to SetPrinter and PortName is 'FILE:' (%d)", id,
                         int(GetLastError()));
            }
            LocalFree(info);
        }
        ClosePrinter(printer);
        // A queue that stayed on its port has nothing to be put back.
        if (!moved)
            ForgetSaved(entry, saved);
    }
    if (list)
        LocalFree(list);
    QlnLine(devType, "-MoveWindowsDriverPort<dwId : %d>", id);
}

void RestoreWindowsDriverPort(PortEntry* entry, int id, DWORD devType)
{
    QlnLine(devType, "+RestoreWindowsDriverPort <dwId : %d>", id);
    if (!entry)
        return;
    // Every queue is tried on its own: one unreadable printer must not leave the others on FILE:.
    // A queue that cannot be put back now is kept for the next restore of the port, or for the
    // port's removal, rather than forgotten on FILE:.
    for (POSITION pos = entry->savedPrinters.GetHeadPosition(); pos;) {
        SavedPrinter* saved = static_cast<SavedPrinter*>(entry->savedPrinters.GetNext(pos));
        if (RestoreOne(saved, id, devType))
            ForgetSaved(entry, saved);
    }
    QlnLine(devType, "-RestoreWindowsDriverPort<dwId : %d>", id);
}

void ReportUnrestoredPrinters(PortEntry* entry, int id, DWORD devType)
{
    for (POSITION pos = entry->savedPrinters.GetHeadPosition(); pos;) {
        SavedPrinter* saved = static_cast<SavedPrinter*>(entry->savedPrinters.GetNext(pos));
        QlnError(devType, "RemovePort<dwId : %d> : printer '%s' is left on 'FILE:', its ports were '%s'", id,
                 saved->strName.GetString(), saved->strOldPort.GetString());
    }
    FreeSavedPrinters(entry);
}

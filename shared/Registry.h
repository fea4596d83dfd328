// CRegistry: every registry read and write of the system, under one root key (always
// HKEY_LOCAL_MACHINE). A failed read leaves the caller's value unchanged, so callers set their
// defaults first.
#pragma once

#include "FxString.h"

#include <windows.h>

// One value's type and bytes, for a single read or write.
class RegistryValue
{
public:
    RegistryValue();
    explicit RegistryValue(DWORD v);
    explicit RegistryValue(const char* text);
    ~RegistryValue();
    RegistryValue(const RegistryValue&) = delete;
    RegistryValue& operator=(const RegistryValue&) = delete;

    void SetType(DWORD t) { type = t; }
    BYTE* Allocate(DWORD n);
    void Free();
    void SetDWORD(DWORD v);
    void SetString(const char* text, bool expandable);
    BOOL GetDWORD(DWORD& out) const;
    BOOL GetString(CString& out) const;

    HANDLE heap;
    BYTE* data;
    DWORD size;
    DWORD type;
};

BOOL WriteRegistryValue(const char* keyPath, const char* valueName, const RegistryValue& v, HKEY root);
BOOL DeleteKeyOrValue(const char* keyPath, const char* valueName, HKEY root);
BOOL QueryRegistryValue(const char* keyPath, const char* valueName, RegistryValue& v, HKEY root);

class CRegistry
{
public:
    explicit CRegistry(HKEY root = HKEY_LOCAL_MACHINE) : m_root(root) {}
    virtual ~CRegistry() {}
    virtual int Reserved1(DWORD, DWORD, DWORD, DWORD) { return 0; }
    virtual int Reserved2(DWORD, DWORD) { return 0; }

    BOOL SetValue(const char* keyPath, const char* valueName, const RegistryValue& v);
    BOOL SetDWORD(const char* keyPath, const char* valueName, const DWORD& v);
    BOOL SetString(const char* keyPath, const char* valueName, const char* text);
    BOOL Delete(const char* keyPath, const char* valueName = nullptr);
    BOOL QueryValue(const char* keyPath, const char* valueName, RegistryValue& v);
    BOOL GetDWORD(const char* keyPath, const char* valueName, DWORD& out);
    BOOL GetString(const char* keyPath, const char* valueName, CString& out);

    HKEY Root() const { return m_root; }

private:
    HKEY m_root;
};

// The writes of one save: a write the registry refuses is remembered, so that the save can say
// the key was not written instead of reporting success.
class CRegistryWrites
{
public:
    explicit CRegistryWrites(HKEY root = HKEY_LOCAL_MACHINE) : m_reg(root) {}
    void SetString(const char* keyPath, const char* valueName, const char* text)
    {
        Take(m_reg.SetString(keyPath, valueName, text));
    }
    void SetDWORD(const char* keyPath, const char* valueName, DWORD v) { Take(m_reg.SetDWORD(keyPath, valueName, v)); }
    void Delete(const char* keyPath, const char* valueName) { Take(m_reg.Delete(keyPath, valueName)); }
    bool Failed() const { return m_failed; }

private:
    void Take(BOOL ok) { m_failed = m_failed || !ok; }
    CRegistry m_reg;
    bool m_failed = false;
};

// The ServiceInfo key of this driver set and the device keys below ServiceOPOS.
#define VESK_SERVICEINFO_KEY "Software\\OLEforRetail\\ServiceInfo\\VESK OPOS"
#define VESK_SERVICEOPOS_KEY "Software\\OLEforRetail\\ServiceOPOS"

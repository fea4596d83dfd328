#include "Registry.h"

#include <cstring>

RegistryValue::RegistryValue() : heap(HeapCreate(0, 0, 0)), data(nullptr), size(0), type(0) {}

RegistryValue::RegistryValue(DWORD v) : RegistryValue() { SetDWORD(v); }

RegistryValue::RegistryValue(const char* text) : RegistryValue() { SetString(text, false); }

RegistryValue::~RegistryValue()
{
    Free();
    if (heap)
        HeapDestroy(heap);
}

BYTE* RegistryValue::Allocate(DWORD n)
{
    Free();
    if (!heap)
        return nullptr;
    // One spare NUL past the end: a string value stored without its terminator stays safe to read.
    data = static_cast<BYTE*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, n + 1));
    size = data ? n : 0;
    return data;
}

void RegistryValue::Free()
{
    if (data && heap)
        HeapFree(heap, 0, data);
    data = nullptr;
    size = 0;
}

void RegistryValue::SetDWORD(DWORD v)
{
    if (Allocate(4)) {
        std::memcpy(data, &v, 4);
    }
    type = REG_DWORD;
}

void RegistryValue::SetString(const char* text, bool expandable)
{
    DWORD len = text ? DWORD(std::strlen(text)) : 0;
    if (Allocate(len + 1)) {
        if (len)
            std::memcpy(data, text, len);
        data[len] = 0;
    }
    type = expandable ? REG_EXPAND_SZ : REG_SZ;
}

BOOL RegistryValue::GetDWORD(DWORD& out) const
{
    if ((type != REG_DWORD && type != REG_DWORD_BIG_ENDIAN) || !data || size < 4)
        return FALSE;
    std::memcpy(&out, data, 4);
    return TRUE;
}

BOOL RegistryValue::GetString(CString& out) const
{
    if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_LINK)
        return FALSE;
    if (!data || size == 0) {
        out.Empty();
        return TRUE;
    }
    const char* p = reinterpret_cast<const char*>(data);
    out = CString(p, int(strnlen(p, size)));
    return TRUE;
}

BOOL WriteRegistryValue(const char* keyPath, const char* valueName, const RegistryValue& v, HKEY root)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, keyPath ? keyPath : "", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return FALSE;
    LONG r = RegSetValueExA(key, valueName, 0, v.type, v.data, v.size);
    RegCloseKey(key);
    return r == ERROR_SUCCESS;
}

BOOL QueryRegistryValue(const char* keyPath, const char* valueName, RegistryValue& v, HKEY root)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, keyPath ? keyPath : "", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return FALSE;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, valueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
        RegCloseKey(key);
        return FALSE;
    }
    BYTE* block = v.Allocate(size);
    DWORD got = size;
    if ((!block && size) || RegQueryValueExA(key, valueName, nullptr, &type, block, &got) != ERROR_SUCCESS) {
        RegCloseKey(key);
        v.Free();
        return FALSE;
    }
    v.size = got;
    v.SetType(type);
    RegCloseKey(key);
    return TRUE;
}

BOOL DeleteKeyOrValue(const char* keyPath, const char* valueName, HKEY root)
{
    // A key delete needs a key: an empty path would name the root itself and wipe everything
    // below it.
    if (!valueName && (!keyPath || !*keyPath))
        return FALSE;
    // A value delete needs set-value; a key delete only what removing the key and walking its
    // subkeys need, so a key whose values are refused can still be removed.
    const REGSAM access = valueName ? KEY_SET_VALUE : DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, keyPath ? keyPath : "", 0, access, &key) != ERROR_SUCCESS)
        return FALSE;
    if (valueName) {
        LONG r = RegDeleteValueA(key, valueName);
        RegCloseKey(key);
        return r == ERROR_SUCCESS;
    }
    for (;;) {
        DWORD subkeys = 0, longest = 0;
        if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, &longest, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr) != ERROR_SUCCESS) {
            RegCloseKey(key);
            return FALSE;
        }
        if (subkeys == 0)
            break;
        CString name;
        char* buf = name.GetBuffer(int(longest) + 1);
        LONG r = RegEnumKeyA(key, 0, buf, longest + 1);
        name.ReleaseBuffer();
        if (r != ERROR_SUCCESS || !DeleteKeyOrValue(name, nullptr, key)) {
            RegCloseKey(key);
            return FALSE;
        }
    }
    RegCloseKey(key);
    return RegDeleteKeyA(root, keyPath ? keyPath : "") == ERROR_SUCCESS;
}

BOOL CRegistry::SetValue(const char* keyPath, const char* valueName, const RegistryValue& v)
{
    return WriteRegistryValue(keyPath, valueName, v, m_root);
}

BOOL CRegistry::SetDWORD(const char* keyPath, const char* valueName, const DWORD& v)
{
    RegistryValue holder(v);
    return SetValue(keyPath, valueName, holder);
}

BOOL CRegistry::SetString(const char* keyPath, const char* valueName, const char* text)
{
    RegistryValue holder(text);
    return SetValue(keyPath, valueName, holder);
}

BOOL CRegistry::Delete(const char* keyPath, const char* valueName)
{
    return DeleteKeyOrValue(keyPath, valueName, m_root);
}

BOOL CRegistry::QueryValue(const char* keyPath, const char* valueName, RegistryValue& v)
{
    return QueryRegistryValue(keyPath, valueName, v, m_root);
}

BOOL CRegistry::GetDWORD(const char* keyPath, const char* valueName, DWORD& out)
{
    RegistryValue holder;
    return QueryValue(keyPath, valueName, holder) && holder.GetDWORD(out);
}

BOOL CRegistry::GetString(const char* keyPath, const char* valueName, CString& out)
{
    RegistryValue holder;
    return QueryValue(keyPath, valueName, holder) && holder.GetString(out);
}

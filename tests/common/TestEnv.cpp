#include "TestEnv.h"

#ifdef _WIN32
#include <algorithm>
#include <cstdio>

namespace {
LONG g_counter = 0;

void RemoveTree(const std::string& dir)
{
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string n = fd.cFileName;
            if (n == "." || n == "..")
                continue;
            std::string p = dir + "\\" + n;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(p);
            else {
                SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(p.c_str());
            }
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryA(dir.c_str());
}
}

CTestRegistry::CTestRegistry()
{
    char name[96];
    std::snprintf(name, sizeof name, "Software\\VeskTests\\%lu-%ld", GetCurrentProcessId(),
                  InterlockedIncrement(&g_counter));
    m_path = name;
    RegCreateKeyExA(HKEY_CURRENT_USER, m_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &m_scratch, nullptr);
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, m_scratch);
}

CTestRegistry::~CTestRegistry()
{
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    if (m_scratch)
        RegCloseKey(m_scratch);
    RegDeleteTreeA(HKEY_CURRENT_USER, m_path.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, m_path.c_str());
}

bool CTestRegistry::SetRaw(const char* key, const char* name, DWORD type, const void* data, DWORD size)
{
    HKEY k = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr) != ERROR_SUCCESS)
        return false;
    LONG r = RegSetValueExA(k, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(k);
    return r == ERROR_SUCCESS;
}

bool CTestRegistry::SetString(const char* key, const char* name, const char* value)
{
    return SetRaw(key, name, REG_SZ, value, DWORD(strlen(value) + 1));
}

bool CTestRegistry::SetDWORD(const char* key, const char* name, DWORD value)
{
    return SetRaw(key, name, REG_DWORD, &value, 4);
}

bool CTestRegistry::Exists(const char* key, const char* name)
{
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &k) != ERROR_SUCCESS)
        return false;
    bool ok = !name || RegQueryValueExA(k, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(k);
    return ok;
}

void CTestRegistry::WriteServiceInfo(const std::string& folder)
{
    const char* key = "Software\\OLEforRetail\\ServiceInfo\\VESK OPOS";
    SetString(key, "Installdir", folder.c_str());
}

CTempFolder::CTempFolder()
{
    char tmp[MAX_PATH];
    GetTempPathA(MAX_PATH, tmp);
    char name[MAX_PATH + 64];
    std::snprintf(name, sizeof name, "%svesk-%lu-%ld", tmp, GetCurrentProcessId(), InterlockedIncrement(&g_counter));
    m_path = name;
    if (!m_path.empty() && m_path.back() == '\\')
        m_path.pop_back();
    RemoveTree(m_path);
    CreateDirectoryA(m_path.c_str(), nullptr);
}

CTempFolder::~CTempFolder() { RemoveTree(m_path); }

bool CTempFolder::Write(const std::string& name, const std::string& content) const
{
    HANDLE h = CreateFileA(File(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD w = 0;
    BOOL ok = WriteFile(h, content.data(), DWORD(content.size()), &w, nullptr);
    CloseHandle(h);
    return ok && w == content.size();
}

std::string CTempFolder::Read(const std::string& name) const { return ReadWholeFile(File(name)); }

std::vector<std::string> CTempFolder::List(const std::string& sub) const
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((m_path + "\\" + sub + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                names.push_back(fd.cFileName);
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find("\r\n", at);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

std::string ReadWholeFile(const std::string& path)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return std::string();
    std::string out;
    char buf[65536];
    DWORD n = 0;
    while (ReadFile(h, buf, sizeof buf, &n, nullptr) && n)
        out.append(buf, n);
    CloseHandle(h);
    return out;
}

std::string WinPath(const std::string& unixPath)
{
    std::string p = unixPath;
    for (char& c : p)
        if (c == '/')
            c = '\\';
    return p.size() > 1 && p[1] == ':' ? p : "Z:" + p;
}

std::string TestBinDir()
{
    char p[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, p, MAX_PATH);
    std::string s(p, n);
    size_t slash = s.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : s.substr(0, slash);
}
#endif

// Fixtures every Windows test uses: an isolated HKEY_LOCAL_MACHINE for this process and a
// temporary install folder. Both clean up after themselves.
#pragma once

#ifdef _WIN32
#include <windows.h>

#include <string>
#include <vector>

// While alive, HKEY_LOCAL_MACHINE of this process is a fresh scratch key (children do not see
// it). Code under test reads and writes "HKLM\..." paths as usual.
class CTestRegistry
{
public:
    CTestRegistry();
    ~CTestRegistry();
    CTestRegistry(const CTestRegistry&) = delete;
    CTestRegistry& operator=(const CTestRegistry&) = delete;

    bool SetString(const char* key, const char* name, const char* value);
    bool SetDWORD(const char* key, const char* name, DWORD value);
    bool SetRaw(const char* key, const char* name, DWORD type, const void* data, DWORD size);
    bool Exists(const char* key, const char* name = nullptr);

    // The ServiceInfo values the product's installer writes, pointing at folder.
    void WriteServiceInfo(const std::string& folder);

private:
    HKEY m_scratch = nullptr;
    std::string m_path;
};

// A fresh folder under %TEMP%, removed with everything in it at the end.
class CTempFolder
{
public:
    CTempFolder();
    ~CTempFolder();
    CTempFolder(const CTempFolder&) = delete;
    CTempFolder& operator=(const CTempFolder&) = delete;

    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "\\" + name; }
    bool Write(const std::string& name, const std::string& content) const;
    std::string Read(const std::string& name) const;
    // Names of the files in a subfolder (e.g. "Log"), sorted.
    std::vector<std::string> List(const std::string& sub) const;

private:
    std::string m_path;
};

// The lines of a text whose lines end in "\r\n" (the last one may lack it).
std::vector<std::string> SplitLines(const std::string& text);
// Reads a whole file; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);
// Directory of this test program (where the build puts the DLLs it tests).
std::string TestBinDir();
// "Z:\..." for a path of the build tree as CMake names it.
std::string WinPath(const std::string& unixPath);
// An export of a loaded library as the function type it has (NULL when missing).
template <class F>
F Proc(HMODULE module, const char* name)
{
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
// Polls pred every 10 ms until it holds or timeoutMs passes; returns pred's last value.
template <class P>
bool WaitFor(P pred, DWORD timeoutMs = 10000)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (pred())
            return true;
        if (GetTickCount() - start > timeoutMs)
            return pred();
        Sleep(10);
    }
}
#endif

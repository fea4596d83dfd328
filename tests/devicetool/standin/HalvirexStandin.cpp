// Stand-in for the device enable tool in tests of the serial transport: it changes no device, it
// appends one line per run to "<its own name>-calls.txt" beside itself (Halvirex.exe writes
// Halvirex-calls.txt) and exits with 0:
//
//   tick=<GetTickCount64 ms>\tparent=<parent's image path>\twow64=<1|0|?>\targs=<arg1> <arg2>...\r\n
//
// wow64 tells whether the parent (the command interpreter) runs as a 32-bit process on 64-bit
// Windows; "?" when the parent is gone or cannot be queried.
#include <windows.h>
#include <tlhelp32.h>

#include <string>

namespace {

std::string ParentInfo(std::string& wow64)
{
    wow64 = "?";
    DWORD self = GetCurrentProcessId();
    DWORD parent = 0;
    std::string name = "?";
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap != INVALID_HANDLE_VALUE) {
        PROCESSENTRY32 entry;
        entry.dwSize = sizeof entry;
        for (BOOL ok = Process32First(snap, &entry); ok; ok = Process32Next(snap, &entry))
            if (entry.th32ProcessID == self)
                parent = entry.th32ParentProcessID;
        entry.dwSize = sizeof entry;
        for (BOOL ok = Process32First(snap, &entry); ok && parent; ok = Process32Next(snap, &entry))
            if (entry.th32ProcessID == parent)
                name = entry.szExeFile;
        CloseHandle(snap);
    }
    if (!parent)
        return name;
    HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, parent);
    if (!h)
        return name;
    char path[MAX_PATH];
    DWORD size = MAX_PATH;
    if (QueryFullProcessImageNameA(h, 0, path, &size))
        name.assign(path, size);
    BOOL isWow64 = FALSE;
    if (IsWow64Process(h, &isWow64))
        wow64 = isWow64 ? "1" : "0";
    CloseHandle(h);
    return name;
}

} // namespace

int main(int argc, char** argv)
{
    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string record(self, n);
    size_t dot = record.find_last_of('.');
    size_t slash = record.find_last_of("\\/");
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        record.erase(dot);
    record += "-calls.txt";

    std::string wow64;
    std::string parent = ParentInfo(wow64);
    std::string line = "tick=" + std::to_string(GetTickCount64()) + "\tparent=" + parent + "\twow64=" + wow64 + "\targs=";
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            line += ' ';
        line += argv[i];
    }
    line += "\r\n";

    // Append with one write, so runs that overlap never interleave within a line.
    HANDLE h = CreateFileA(record.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return 2;
    DWORD written = 0;
    BOOL ok = WriteFile(h, line.data(), DWORD(line.size()), &written, nullptr);
    CloseHandle(h);
    return ok && written == line.size() ? 0 : 2;
}

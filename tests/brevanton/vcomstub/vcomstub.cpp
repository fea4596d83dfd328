// Stand-in for the line display's virtual COM driver installer in the configuration dialog's
// tests. It installs nothing: it appends "start <its command line>" to calls.txt beside itself,
// waits until a file named "release" appears there (at most two minutes, so a test that never
// releases it cannot hang the dialog for ever), appends "end" and exits with 0.
#include <windows.h>

#include <string>

namespace {
void Append(const std::string& file, const std::string& line)
{
    HANDLE h = CreateFileA(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return;
    std::string text = line + "\r\n";
    DWORD written = 0;
    WriteFile(h, text.data(), DWORD(text.size()), &written, nullptr);
    CloseHandle(h);
}
}

int main()
{
    char self[MAX_PATH] = {};
    std::string dir(self, GetModuleFileNameA(nullptr, self, MAX_PATH));
    dir = dir.substr(0, dir.find_last_of("\\/") + 1);
    Append(dir + "calls.txt", std::string("start ") + GetCommandLineA());
    const std::string release = dir + "release";
    for (DWORD start = GetTickCount(); GetFileAttributesA(release.c_str()) == INVALID_FILE_ATTRIBUTES;) {
        if (GetTickCount() - start > 120000)
            break;
        Sleep(10);
    }
    Append(dir + "calls.txt", "end");
    return 0;
}

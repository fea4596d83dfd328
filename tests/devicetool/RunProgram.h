// Runs a program to its end with its standard output captured.
#pragma once

#include <windows.h>

#include <string>

struct ProgramRun
{
    bool started = false;
    bool ended = false; // within the time limit
    DWORD exitCode = 0;
    std::string output; // standard output and standard error
};

ProgramRun RunProgram(const std::string& commandLine, DWORD timeoutMs = 60000);

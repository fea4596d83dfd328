// Basic Windows types, so that the portable code also builds natively on the host.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdint>
typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef unsigned int UINT;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef const char* LPCTSTR;
typedef void* LPVOID;
typedef uintptr_t UINT_PTR;
typedef intptr_t INT_PTR;
#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif
#define WINAPI
#endif

// Opaque position in a framework list or map.
struct __POSITION {};
typedef __POSITION* POSITION;

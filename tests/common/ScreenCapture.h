// Screenshots of the test display (under the x11 graphics driver): the screen's pixels as the
// X server shows them, and a PNG writer for the pictures the screenshot cases keep.
#pragma once

#ifdef _WIN32
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct CScreenImage
{
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;  // 0x00RRGGBB, rows from the top

    // The whole screen; empty when it cannot be read.
    static CScreenImage Capture();
    COLORREF At(int x, int y) const;  // RGB(), CLR_INVALID outside
    CScreenImage Crop(const RECT& r) const;
    bool SavePng(const std::string& path) const;
};

// Where the screenshot cases keep their pictures: VESK_SHOTS, else "screenshots" beside the
// test program.
std::string ScreenshotFolder();
#endif

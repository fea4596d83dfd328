#include "ScreenCapture.h"

#include "TestEnv.h"

#include <cstdio>
#include <cstdlib>

CScreenImage CScreenImage::Capture()
{
    CScreenImage img;
    HDC screen = GetDC(nullptr);
    if (!screen)
        return img;
    int w = GetDeviceCaps(screen, HORZRES), h = GetDeviceCaps(screen, VERTRES);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP dib = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (mem && dib && bits) {
        HGDIOBJ old = SelectObject(mem, dib);
        if (BitBlt(mem, 0, 0, w, h, screen, 0, 0, SRCCOPY)) {
            GdiFlush();
            img.width = w;
            img.height = h;
            const uint32_t* p = static_cast<const uint32_t*>(bits);
            img.pixels.assign(p, p + size_t(w) * h);
            for (uint32_t& v : img.pixels)
                v &= 0xFFFFFF;
        }
        SelectObject(mem, old);
    }
    if (dib)
        DeleteObject(dib);
    if (mem)
        DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return img;
}

COLORREF CScreenImage::At(int x, int y) const
{
    if (x < 0 || y < 0 || x >= width || y >= height)
        return CLR_INVALID;
    uint32_t v = pixels[size_t(y) * width + x];
    return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
}

CScreenImage CScreenImage::Crop(const RECT& r) const
{
    CScreenImage c;
    int l = r.left < 0 ? 0 : r.left, t = r.top < 0 ? 0 : r.top;
    int rr = r.right > width ? width : r.right, b = r.bottom > height ? height : r.bottom;
    if (rr <= l || b <= t)
        return c;
    c.width = rr - l;
    c.height = b - t;
    for (int y = t; y < b; ++y)
        for (int x = l; x < rr; ++x)
            c.pixels.push_back(pixels[size_t(y) * width + x]);
    return c;
}

namespace {
uint32_t Crc(const uint8_t* p, size_t n, uint32_t crc = 0)
{
    crc = ~crc;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

void Put32(std::vector<uint8_t>& v, uint32_t x)
{
    for (int s = 24; s >= 0; s -= 8)
        v.push_back(uint8_t(x >> s));
}

void Chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data)
{
    Put32(out, uint32_t(data.size()));
    std::vector<uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    Put32(out, Crc(body.data(), body.size()));
}
}

// Uncompressed (stored) deflate blocks: larger files, but no compressor to carry.
bool CScreenImage::SavePng(const std::string& path) const
{
    if (width <= 0 || height <= 0)
        return false;
    std::vector<uint8_t> raw;
    raw.reserve(size_t(height) * (width * 3 + 1));
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        for (int x = 0; x < width; ++x) {
            uint32_t v = pixels[size_t(y) * width + x];
            raw.push_back(uint8_t(v >> 16));
            raw.push_back(uint8_t(v >> 8));
            raw.push_back(uint8_t(v));
        }
    }
    std::vector<uint8_t> z = {0x78, 0x01};
    for (size_t off = 0; off < raw.size() || off == 0;) {
        size_t n = raw.size() - off > 65535 ? 65535 : raw.size() - off;
        bool last = off + n == raw.size();
        z.push_back(last ? 1 : 0);
        z.push_back(uint8_t(n));
        z.push_back(uint8_t(n >> 8));
        z.push_back(uint8_t(~n));
        z.push_back(uint8_t(~n >> 8));
        z.insert(z.end(), raw.begin() + off, raw.begin() + off + n);
        off += n;
        if (last)
            break;
    }
    uint32_t a = 1, b = 0;
    for (uint8_t c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    Put32(z, (b << 16) | a);

    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> ihdr;
    Put32(ihdr, uint32_t(width));
    Put32(ihdr, uint32_t(height));
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
    Chunk(out, "IHDR", ihdr);
    Chunk(out, "IDAT", z);
    Chunk(out, "IEND", {});
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    return std::fclose(f) == 0 && ok;
}

std::string ScreenshotFolder()
{
    if (const char* s = std::getenv("VESK_SHOTS"))
        return s[0] == '/' ? WinPath(s) : std::string(s);
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string p = path;
    size_t slash = p.find_last_of("\\/");
    std::string dir = (slash == std::string::npos ? std::string(".") : p.substr(0, slash)) + "\\screenshots";
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

#include "LabelImage.h"

#include <ocidl.h>
#include <olectl.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

const int kIllegal = 106;

// The description of 32-bit pixel rows, top row first.
BITMAPINFO TopDown32(int w, int h)
{
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    return bi;
}

// A 32-bit top-down DIB section of w x h, white; NULL on failure.
HBITMAP MakeWhiteDib(HDC dc, int w, int h, void** bits)
{
    BITMAPINFO bi = TopDown32(w, h);
    void* p = nullptr;
    HBITMAP bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &p, nullptr, 0);
    if (!bmp || !p) {
        if (bmp)
            DeleteObject(bmp);
        return nullptr;
    }
    std::memset(p, 0xFF, size_t(w) * size_t(h) * 4);
    if (bits)
        *bits = p;
    return bmp;
}

// Reads n bytes of an open file to p; false when the file gives fewer.
bool ReadAll(HANDLE f, BYTE* p, DWORD n)
{
    while (n > 0) {
        DWORD got = 0;
        if (!ReadFile(f, p, n, &got, nullptr) || got == 0)
            return false;
        p += got;
        n -= got;
    }
    return true;
}

// The whole file in movable global memory (what the picture decoder's stream wants), read there
// directly; NULL when it cannot be read, is empty or is too large.
HGLOBAL ReadFileToGlobal(const CString& fileName, DWORD& length)
{
    length = 0;
    HANDLE f = CreateFileA(fileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return nullptr;
    LARGE_INTEGER size = {};
    HGLOBAL mem = nullptr;
    if (GetFileSizeEx(f, &size) && size.QuadPart > 0 && size.QuadPart < int64_t(COPOSData::kMaxSize))
        mem = GlobalAlloc(GMEM_MOVEABLE, SIZE_T(size.QuadPart));
    if (mem) {
        BYTE* p = static_cast<BYTE*>(GlobalLock(mem));
        bool ok = p && ReadAll(f, p, DWORD(size.QuadPart));
        if (p)
            GlobalUnlock(mem);
        if (ok) {
            length = DWORD(size.QuadPart);
        } else {
            GlobalFree(mem);
            mem = nullptr;
        }
    }
    CloseHandle(f);
    return mem;
}

// The file decoded by the system's picture decoder; NULL when it cannot be read or decoded.
IPicture* DecodeFile(const CString& fileName)
{
    DWORD length = 0;
    HGLOBAL mem = ReadFileToGlobal(fileName, length);
    if (!mem)
        return nullptr;
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(mem, TRUE, &stream)) || !stream) {
        GlobalFree(mem);
        return nullptr;
    }
    IPicture* picture = nullptr;
    HRESULT hr = OleLoadPicture(stream, LONG(length), FALSE, IID_IPicture, reinterpret_cast<void**>(&picture));
    stream->Release();  // frees the memory too
    return SUCCEEDED(hr) ? picture : nullptr;
}

// A decoded picture's own bitmap and sizes.
struct PictureBitmap
{
    HBITMAP bitmap = nullptr;
    int width = 0, height = 0;
    OLE_XSIZE_HIMETRIC hmWidth = 0;
    OLE_YSIZE_HIMETRIC hmHeight = 0;
    bool transparent = false;
};

// Only bitmap pictures are converted: an icon or a metafile has no pixels to sample. False as
// well for a bitmap beyond the size limit.
bool DescribePicture(IPicture* picture, PictureBitmap& pb)
{
    SHORT type = PICTYPE_UNINITIALIZED;
    OLE_HANDLE handle = 0;
    DWORD attributes = 0;
    if (FAILED(picture->get_Type(&type)) || type != PICTYPE_BITMAP || FAILED(picture->get_Handle(&handle)) ||
        !handle || FAILED(picture->get_Width(&pb.hmWidth)) || FAILED(picture->get_Height(&pb.hmHeight)) ||
        FAILED(picture->get_Attributes(&attributes)))
        return false;
    pb.bitmap = reinterpret_cast<HBITMAP>(static_cast<uintptr_t>(handle));
    BITMAP bm = {};
    if (!GetObjectA(pb.bitmap, sizeof bm, &bm) || bm.bmWidth <= 0 || bm.bmHeight == 0)
        return false;
    pb.width = bm.bmWidth;
    pb.height = bm.bmHeight < 0 ? -bm.bmHeight : bm.bmHeight;
    pb.transparent = (attributes & PICTURE_TRANSPARENT) != 0;
    return pb.width <= CKVTImage::MaxDots && pb.height <= CKVTImage::MaxDots;
}

// A copy of the picture rendered on white: rendering (not copying) keeps its transparent parts
// as the white paper underneath. NULL on failure.
HBITMAP RenderOnWhite(IPicture* picture, const PictureBitmap& pb)
{
    HBITMAP result = nullptr;
    HDC screen = GetDC(nullptr);
    HDC dc = screen ? CreateCompatibleDC(screen) : nullptr;
    HBITMAP dib = dc ? MakeWhiteDib(dc, pb.width, pb.height, nullptr) : nullptr;
    if (dib) {
        HGDIOBJ old = SelectObject(dc, dib);
        if (SUCCEEDED(picture->Render(dc, 0, 0, pb.width, pb.height, 0, pb.hmHeight, pb.hmWidth, -pb.hmHeight,
                                      nullptr))) {
            result = dib;
            dib = nullptr;
        }
        SelectObject(dc, old);
        if (dib)
            DeleteObject(dib);
    }
    if (dc)
        DeleteDC(dc);
    if (screen)
        ReleaseDC(nullptr, screen);
    return result;
}

// Whether a bitmap can be selected into a device context to be drawn from (no other context
// holds it).
bool Selectable(HBITMAP bitmap)
{
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc)
        return false;
    HGDIOBJ old = SelectObject(dc, bitmap);
    bool ok = old && old != HGDI_ERROR;
    if (ok)
        SelectObject(dc, old);
    DeleteDC(dc);
    return ok;
}

}  // namespace

CKVTImage::~CKVTImage()
{
    FreeOutput();
    UseBitmap(nullptr, nullptr);
}

void CKVTImage::FreeOutput()
{
    if (m_outDc) {
        if (m_outOld)
            SelectObject(m_outDc, m_outOld);
        DeleteDC(m_outDc);
    }
    if (m_outBitmap)
        DeleteObject(m_outBitmap);
    m_outDc = nullptr;
    m_outBitmap = nullptr;
    m_outOld = nullptr;
    m_outBits = nullptr;
    m_outWidth = m_outHeight = 0;
}

void CKVTImage::UseBitmap(HBITMAP bitmap, IPicture* picture)
{
    if (m_picture)
        m_picture->Release();  // its bitmap goes with it
    else if (m_bitmap)
        DeleteObject(m_bitmap);
    m_bitmap = bitmap;
    m_picture = picture;
    m_width = m_height = 0;
    BITMAP bm = {};
    if (bitmap && GetObjectType(bitmap) == OBJ_BITMAP && GetObjectA(bitmap, sizeof bm, &bm)) {
        m_width = bm.bmWidth;
        m_height = bm.bmHeight < 0 ? -bm.bmHeight : bm.bmHeight;
    }
}

void CKVTImage::AttachBitmap(HBITMAP bitmap)
{
    UseBitmap(bitmap, nullptr);
}

bool CKVTImage::IsPcxName(const CString& fileName)
{
    CString tail = fileName.Right(3);
    return fileName.GetLength() >= 3 && (tail == "pcx" || tail == "PCX");
}

int CKVTImage::LoadImage(const CString& fileName, int& isPicture)
{
    if (IsPcxName(fileName)) {
        isPicture = 0;
        HANDLE f = CreateFileA(fileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (f == INVALID_HANDLE_VALUE)
            return kIllegal;
        CloseHandle(f);
        return 0;
    }
    isPicture = 1;
    IPicture* picture = DecodeFile(fileName);
    if (!picture)
        return kIllegal;
    PictureBitmap pb;
    if (!DescribePicture(picture, pb)) {
        picture->Release();
        return kIllegal;
    }
    if (!pb.transparent && Selectable(pb.bitmap)) {
        // A picture without transparent parts renders as exactly its own pixels: its bitmap is
        // converted from directly, the picture held for it, instead of a rendered copy (a
        // whole label's pixels more to allocate and fill).
        UseBitmap(pb.bitmap, picture);
    } else {
        HBITMAP copy = RenderOnWhite(picture, pb);
        picture->Release();
        if (!copy)
            return kIllegal;
        UseBitmap(copy, nullptr);
    }
    if (m_width <= 0 || m_height <= 0 || m_width > MaxDots || m_height > MaxDots)
        return kIllegal;
    return 0;
}

HBITMAP CKVTImage::LoadImageFile(const CString& fileName)
{
    IPicture* picture = DecodeFile(fileName);
    if (!picture)
        return nullptr;
    PictureBitmap pb;
    HBITMAP result = DescribePicture(picture, pb) ? RenderOnWhite(picture, pb) : nullptr;
    picture->Release();
    return result;
}

int CKVTImage::CalcWidth(int requested, bool threeQuarters, int deviceType, int magnification) const
{
    int64_t w = requested == -11 ? m_width : requested;
    if (magnification <= 0)
        magnification = 100;
    if (magnification != 100)
        w = w * magnification / 100;
    if (threeQuarters)
        w = w * 3 / 4;
    if (deviceType == 1 && w > 200)
        w = 200;
    if (deviceType == 3 && w > 248)
        w = 248;
    if (w > MaxDots)
        w = MaxDots;
    if (w < 0)
        w = 0;
    return int(w);
}

HDC CKVTImage::ConvertImage(int w, int brightness, bool dither, int& outWidth, int& outHeight)
{
    FreeOutput();
    outWidth = outHeight = 0;
    if (!m_bitmap || w <= 0 || w > MaxDots || m_width <= 0 || m_height <= 0 || GetObjectType(m_bitmap) != OBJ_BITMAP)
        return nullptr;
    int64_t h = int64_t(w) * m_height / m_width;
    if (h < 1)
        h = 1;
    if (h > MaxDots)
        return nullptr;

    HDC screen = GetDC(nullptr);
    if (!screen)
        return nullptr;
    HDC src = CreateCompatibleDC(screen);
    m_outDc = CreateCompatibleDC(screen);
    ReleaseDC(nullptr, screen);
    void* bits = nullptr;
    m_outBitmap = m_outDc ? MakeWhiteDib(m_outDc, w, int(h), &bits) : nullptr;
    if (!src || !m_outBitmap) {
        if (src)
            DeleteDC(src);
        FreeOutput();
        return nullptr;
    }
    m_outOld = SelectObject(m_outDc, m_outBitmap);
    HGDIOBJ oldSrc = SelectObject(src, m_bitmap);
    // A picture that cannot be selected (held by another device context, not a bitmap) would be
    // drawn from the context's empty default bitmap: a wrong picture instead of a refusal.
    if (!m_outOld || m_outOld == HGDI_ERROR || !oldSrc || oldSrc == HGDI_ERROR) {
        if (oldSrc && oldSrc != HGDI_ERROR)
            SelectObject(src, oldSrc);
        if (m_outOld == HGDI_ERROR)
            m_outOld = nullptr;
        DeleteDC(src);
        FreeOutput();
        return nullptr;
    }
    SetStretchBltMode(m_outDc, COLORONCOLOR);
    BOOL drawn = StretchBlt(m_outDc, 0, 0, w, int(h), src, 0, 0, m_width, m_height, SRCCOPY);
    SelectObject(src, oldSrc);
    DeleteDC(src);
    if (!drawn) {
        FreeOutput();
        return nullptr;
    }
    GdiFlush();
    // DIB pixels are 0x00RRGGBB; the grey steps treat every channel alike, so the order of the
    // channels does not matter for them.
    GreyPixels(static_cast<uint32_t*>(bits), w, int(h), brightness, dither);
    m_outBits = bits;
    m_outWidth = outWidth = w;
    m_outHeight = outHeight = int(h);
    return m_outDc;
}

bool CKVTImage::PcxSize(const COPOSData& file, int* width, int* height)
{
    // 128 header bytes: manufacturer 10, then version, encoding, bits per pixel and the window
    // as four little-endian 16-bit values.
    const BYTE* p = file.GetData();
    if (file.GetLength() < 128 || p[0] != 0x0A)
        return false;
    auto word = [p](int at) { return int(p[at] | (p[at + 1] << 8)); };
    const int w = word(8) - word(4) + 1, h = word(10) - word(6) + 1;
    if (w <= 0 || h <= 0)
        return false;
    *width = w;
    *height = h;
    return true;
}

int CKVTImage::ReadFileToData(const CString& fileName, COPOSData& target)
{
    HANDLE f = CreateFileA(fileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return kIllegal;
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(f, &size) || size.QuadPart > int64_t(COPOSData::kMaxSize) - 1 ||
        target.Reset(DWORD(size.QuadPart)) != 0) {
        CloseHandle(f);
        return kIllegal;
    }
    // Large pieces: every read is a system call, and picture files run to megabytes.
    std::vector<BYTE> piece(64 * 1024);
    DWORD got = 0;
    int rc = 0;
    for (;;) {
        if (!ReadFile(f, piece.data(), DWORD(piece.size()), &got, nullptr)) {
            rc = kIllegal;
            break;
        }
        if (got == 0)
            break;
        if (target.Append(piece.data(), got) != 0) {
            rc = kIllegal;
            break;
        }
    }
    CloseHandle(f);
    return rc;
}

int CLabelImage::MakeRaster(HDC dc, int w, int h, bool compress, int threshold, COPOSData& target)
{
    if (!dc || w <= 0 || h <= 0 || w > MaxDots || h > MaxDots)
        return kIllegal;
    HBITMAP bmp = static_cast<HBITMAP>(GetCurrentObject(dc, OBJ_BITMAP));
    if (!bmp)
        return kIllegal;
    BITMAP bm = {};
    if (!GetObjectA(bmp, sizeof bm, &bm) || bm.bmWidth <= 0 || bm.bmHeight == 0)
        return kIllegal;
    int bw = bm.bmWidth, bh = bm.bmHeight < 0 ? -bm.bmHeight : bm.bmHeight;
    if (bw > MaxDots || bh > MaxDots)
        return kIllegal;
    // The picture ConvertImage made is read where it lies, without a copy: its rows are known to be
    // 32-bit and top row first (the system does not report that order back reliably).
    if (bmp == m_outBitmap && m_outBits && bw == m_outWidth && bh == m_outHeight) {
        GdiFlush();
        return MakeRasterFromRows(static_cast<const uint32_t*>(m_outBits), bw, bw, bh, w, h, compress, threshold,
                                  target);
    }
    // Whatever the bitmap's depth, its rows are read once as 32-bit pixels, top row first.
    std::vector<uint32_t> px(size_t(bw) * size_t(bh));
    BITMAPINFO bi = TopDown32(bw, bh);
    // GetDIBits wants the bitmap not selected into a device context while it reads it.
    HBITMAP stand = CreateCompatibleBitmap(dc, 1, 1);
    if (!stand)
        return kIllegal;
    SelectObject(dc, stand);
    int lines = GetDIBits(dc, bmp, 0, UINT(bh), px.data(), &bi, DIB_RGB_COLORS);
    SelectObject(dc, bmp);
    DeleteObject(stand);
    if (lines != bh)
        return kIllegal;
    // A pixel outside the bitmap reads as black, as the system's pixel query gives it.
    return MakeRasterFromRows(px.data(), bw, bw, bh, w, h, compress, threshold, target);
}

// Pictures for the printer: a picture file decoded by the system's picture decoder, scaled to
// the label width, made grey (CKVTImage), and sampled into the printer's raster (CLabelImage).
#pragma once

#include "FxString.h"
#include "ImageRaster.h"
#include "OPOSData.h"

#include <windows.h>

struct IPicture;

class CKVTImage
{
public:
    // Pictures larger than this in either direction are refused rather than allocated.
    enum { MaxDots = 16384 };

    CKVTImage() = default;
    virtual ~CKVTImage();
    CKVTImage(const CKVTImage&) = delete;
    CKVTImage& operator=(const CKVTImage&) = delete;

    // 0 or 106. A name ending in "pcx"/"PCX" is only checked for being readable (isPicture 0:
    // the file goes to the printer as it is); any other name is decoded (isPicture 1).
    int LoadImage(const CString& fileName, int& isPicture);
    // A file named as PCX (last three characters "pcx" or "PCX") goes to the printer as it is.
    static bool IsPcxName(const CString& fileName);
    // The decoded picture as a bitmap of its own size, transparent parts white, owned by the
    // caller; NULL when the file cannot be read or is no bitmap picture (an icon, a metafile).
    static HBITMAP LoadImageFile(const CString& fileName);
    // Takes a bitmap the caller made (a memory picture); the object owns it from now on.
    void AttachBitmap(HBITMAP bitmap);

    int BitmapWidth() const { return m_width; }
    int BitmapHeight() const { return m_height; }
    HBITMAP Bitmap() const { return m_bitmap; }

    // The width in dots to print at: -11 is the picture's own width; magnification in percent
    // (0 or less counts as 100); three quarters when asked; limited by the device type.
    int CalcWidth(int requested, bool threeQuarters, int deviceType, int magnification) const;
    // Scales the picture to width w (the height keeps the aspect) and turns it grey. Returns the
    // device context holding the result (owned by the object), or NULL.
    HDC ConvertImage(int w, int brightness, bool dither, int& outWidth, int& outHeight);

    // Reads a whole file into target (reset to the file's length first). 0 or 106.
    static int ReadFileToData(const CString& fileName, COPOSData& target);
    // The picture size a PCX file's header gives (the window from its x and y minimum to its
    // maximum, both included); false when the bytes hold no PCX header.
    static bool PcxSize(const COPOSData& file, int* width, int* height);

protected:
    void FreeOutput();
    // The bitmap to convert from now on; owned by picture (held until the next one) when given,
    // else by the object.
    void UseBitmap(HBITMAP bitmap, IPicture* picture);

    HBITMAP m_bitmap = nullptr;
    IPicture* m_picture = nullptr;  // the decoder's picture whose own bitmap m_bitmap is
    int m_width = 0;
    int m_height = 0;
    HDC m_outDc = nullptr;
    HBITMAP m_outBitmap = nullptr;
    HGDIOBJ m_outOld = nullptr;
    void* m_outBits = nullptr;  // m_outBitmap's pixels: 32-bit, top row first
    int m_outWidth = 0;
    int m_outHeight = 0;
};

class CLabelImage : public CKVTImage
{
public:
    // The raster of the w x h picture in dc (dark where a channel is below threshold).
    int MakeRaster(HDC dc, int w, int h, bool compress, int threshold, COPOSData& target);
};

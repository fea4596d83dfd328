// The printer's 1-bit raster: a 4-byte header (row bytes, rows; little-endian) and the rows, top
// row first, the leftmost pixel in the most significant bit, 1 = dark. Optionally run-length
// compressed. Free of any platform code.
#pragma once

#include "OPOSData.h"

#include <cstddef>
#include <cstdint>
#include <functional>

// Colour of one pixel as 0x00BBGGRR (red in the low byte).
typedef std::function<uint32_t(int x, int y)> PixelReader;

// Runs of 0x00 and 0xFF become the byte and a count (1..255, longer runs split); every other
// byte stands for itself. Appends to out.
int CompressRunLength(const BYTE* in, size_t n, COPOSData& out);

// The raster of a w x h picture: a pixel is dark when any of its channels is below threshold.
// 106 (nothing written) for sizes that the 16-bit header cannot hold or a raster too large.
int MakeRasterFromPixels(const PixelReader& pixel, int w, int h, bool compress, int threshold, COPOSData& target);
// The same from 32-bit pixels in memory: row y starts at top + y * rowStep (negative for rows
// stored bottom-up), bw x bh of them; a pixel outside them reads as black.
int MakeRasterFromRows(const uint32_t* top, ptrdiff_t rowStep, int bw, int bh, int w, int h, bool compress,
                       int threshold, COPOSData& target);

// The greyscale steps: the brightness added to each channel (percent of 255, clamped), the
// grey value (the rounded mean of the channels), and the optional error diffusion to black and
// white. Works in place on 0x00BBGGRR pixels, row by row, width w, h rows.
void GreyPixels(uint32_t* pixels, int w, int h, int brightness, bool dither);



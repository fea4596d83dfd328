// skinpaint OUTDIR: draws the setup utility's bitmaps and icon into OUTDIR (BMP and ICO files).
//
// Everything is drawn with hard edges and a handful of flat colours, so the output is the same
// on every run and the key colour (pure green, where a window is to be cut) appears only in the
// areas to cut: no other colour is near it.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {
struct Rgb
{
    uint8_t r, g, b;
};
bool operator==(Rgb a, Rgb b) { return a.r == b.r && a.g == b.g && a.b == b.b; }

const Rgb kKey = {0, 255, 0};
const Rgb kTreeMask = {0, 128, 128};  // COLORREF 0x808000
const Rgb kNavy = {27, 20, 100};
const Rgb kTitle = {38, 54, 110};
const Rgb kBody = {232, 236, 244};
const Rgb kPanel = {214, 222, 236};
const Rgb kFooter = {246, 246, 250};
const Rgb kRule = {150, 160, 190};
const Rgb kWhite = {255, 255, 255};
const Rgb kBlack = {0, 0, 0};
const Rgb kGrey = {196, 196, 200};
const Rgb kDarkGrey = {120, 120, 128};

struct Image
{
    int w, h;
    std::vector<Rgb> px;
    Image(int aw, int ah, Rgb fill) : w(aw), h(ah), px(size_t(aw) * ah, fill) {}
    void set(int x, int y, Rgb c)
    {
        if (x >= 0 && y >= 0 && x < w && y < h)
            px[size_t(y) * w + x] = c;
    }
    Rgb at(int x, int y) const { return px[size_t(y) * w + x]; }
    void fill(int x0, int y0, int x1, int y1, Rgb c)
    {
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                set(x, y, c);
    }
    void frame(int x0, int y0, int x1, int y1, Rgb c)
    {
        fill(x0, y0, x1, y0 + 1, c);
        fill(x0, y1 - 1, x1, y1, c);
        fill(x0, y0, x0 + 1, y1, c);
        fill(x1 - 1, y0, x1, y1, c);
    }
    // Cuts the corners of the rectangle [0, cw) x [0, ch) to quarter circles of radius r.
    void roundCorners(int cw, int ch, int r, Rgb c)
    {
        for (int y = 0; y < r; ++y)
            for (int x = 0; x < r; ++x) {
                int dx = r - x, dy = r - y;
                if (dx * dx + dy * dy > r * r) {
                    set(x, y, c);
                    set(cw - 1 - x, y, c);
                    set(x, ch - 1 - y, c);
                    set(cw - 1 - x, ch - 1 - y, c);
                }
            }
    }
};

void put16(std::vector<uint8_t>& v, unsigned x)
{
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}
void put32(std::vector<uint8_t>& v, uint32_t x)
{
    put16(v, x & 0xFFFF);
    put16(v, x >> 16);
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& data)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    return std::fclose(f) == 0 && ok;
}

bool writeBmp(const std::string& path, const Image& im)
{
    int row = (im.w * 3 + 3) & ~3;
    std::vector<uint8_t> v;
    v.push_back('B');
    v.push_back('M');
    put32(v, uint32_t(54 + row * im.h));
    put32(v, 0);
    put32(v, 54);
    put32(v, 40);
    put32(v, uint32_t(im.w));
    put32(v, uint32_t(im.h));
    put16(v, 1);
    put16(v, 24);
    put32(v, 0);
    put32(v, uint32_t(row * im.h));
    put32(v, 2835);
    put32(v, 2835);
    put32(v, 0);
    put32(v, 0);
    for (int y = im.h - 1; y >= 0; --y) {
        int n = 0;
        for (int x = 0; x < im.w; ++x, n += 3) {
            Rgb c = im.at(x, y);
            v.push_back(c.b);
            v.push_back(c.g);
            v.push_back(c.r);
        }
        for (; n < row; ++n)
            v.push_back(0);
    }
    return writeFile(path, v);
}

// A 32-bit icon; pixels equal to transparent are left out through the AND mask.
bool writeIco(const std::string& path, const std::vector<Image>& sizes, Rgb transparent)
{
    std::vector<std::vector<uint8_t>> bodies;
    for (const Image& im : sizes) {
        std::vector<uint8_t> b;
        put32(b, 40);
        put32(b, uint32_t(im.w));
        put32(b, uint32_t(im.h * 2));
        put16(b, 1);
        put16(b, 32);
        put32(b, 0);
        put32(b, 0);
        put32(b, 0);
        put32(b, 0);
        put32(b, 0);
        put32(b, 0);
        for (int y = im.h - 1; y >= 0; --y)
            for (int x = 0; x < im.w; ++x) {
                Rgb c = im.at(x, y);
                bool clear = c == transparent;
                b.push_back(clear ? 0 : c.b);
                b.push_back(clear ? 0 : c.g);
                b.push_back(clear ? 0 : c.r);
                b.push_back(clear ? 0 : 255);
            }
        int maskRow = ((im.w + 31) / 32) * 4;
        for (int y = im.h - 1; y >= 0; --y) {
            std::vector<uint8_t> bits(size_t(maskRow), 0);
            for (int x = 0; x < im.w; ++x)
                if (im.at(x, y) == transparent)
                    bits[size_t(x / 8)] |= uint8_t(0x80 >> (x % 8));
            b.insert(b.end(), bits.begin(), bits.end());
        }
        bodies.push_back(b);
    }
    std::vector<uint8_t> v;
    put16(v, 0);
    put16(v, 1);
    put16(v, unsigned(sizes.size()));
    uint32_t offset = uint32_t(6 + 16 * sizes.size());
    for (size_t i = 0; i < sizes.size(); ++i) {
        v.push_back(uint8_t(sizes[i].w));
        v.push_back(uint8_t(sizes[i].h));
        v.push_back(0);
        v.push_back(0);
        put16(v, 1);
        put16(v, 32);
        put32(v, uint32_t(bodies[i].size()));
        put32(v, offset);
        offset += uint32_t(bodies[i].size());
    }
    for (const auto& b : bodies)
        v.insert(v.end(), b.begin(), b.end());
    return writeFile(path, v);
}

// The dialog skins: a title band, a light body with a panel and a footer band. The skinned one
// (134) is cut to the 595 x 341 window with rounded corners.
Image skin(bool cut)
{
    const int W = 600, H = 344, cw = 595, ch = 341;
    Image im(W, H, kBody);
    im.fill(0, 0, W, 36, kTitle);
    im.fill(0, 36, W, 39, kNavy);
    im.fill(16, 56, cw - 16, ch - 60, kPanel);
    im.frame(16, 56, cw - 16, ch - 60, kRule);
    im.fill(0, ch - 44, W, H, kFooter);
    im.fill(0, ch - 45, W, ch - 44, kRule);
    im.frame(0, 0, cut ? cw : W, cut ? ch : H, kNavy);
    if (cut) {
        im.fill(cw, 0, W, H, kKey);
        im.fill(0, ch, W, H, kKey);
        im.roundCorners(cw, ch, 14, kKey);
    }
    return im;
}

// A push button state: flat fill, a one-pixel frame and a lighter top rule.
Image button(int w, int h, Rgb fill, Rgb edge, Rgb top)
{
    Image im(w, h, fill);
    im.fill(1, 1, w - 1, h / 2, top);
    im.frame(0, 0, w, h, edge);
    return im;
}

struct ButtonSet
{
    int normal, pressed, disabled, w, h;
};

// The tree's image strip: seven 16 x 16 images on the mask colour.
Image treeStrip()
{
    Image im(7 * 16, 16, kTreeMask);
    for (int i = 0; i < 7; ++i) {
        int x = i * 16;
        switch (i) {
        case 0:  // computer
            im.fill(x + 2, 2, x + 14, 11, kDarkGrey);
            im.fill(x + 3, 3, x + 13, 10, {90, 140, 220});
            im.fill(x + 5, 12, x + 11, 14, kDarkGrey);
            break;
        case 1:  // folder
        case 2:
            im.fill(x + 1, 4, x + 7, 6, {200, 160, 40});
            im.fill(x + 1, 6, x + 15, 14, {230, 190, 60});
            break;
        case 3:
        case 4:  // page
            im.fill(x + 3, 1, x + 13, 15, kWhite);
            im.frame(x + 3, 1, x + 13, 15, kDarkGrey);
            break;
        default:  // printer (5 selected, 6 normal)
            im.fill(x + 4, 1, x + 12, 6, kWhite);
            im.fill(x + 1, 6, x + 15, 12, i == 5 ? Rgb{40, 80, 190} : kDarkGrey);
            im.fill(x + 4, 11, x + 12, 15, kWhite);
            im.frame(x + 4, 1, x + 12, 15, kBlack);
            break;
        }
    }
    return im;
}

Image icon(int n)
{
    Image im(n, n, kWhite);
    int m = n / 8;
    im.fill(m, 3 * m, n - m, 6 * m, {38, 54, 110});
    im.fill(2 * m, m, n - 2 * m, 3 * m, kGrey);
    im.fill(2 * m, 5 * m, n - 2 * m, n - m / 2, kGrey);
    im.frame(2 * m, 5 * m, n - 2 * m, n - m / 2, kBlack);
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
            if (im.at(x, y) == kWhite && (y < m || y >= n - m / 2 || x < m / 2 || x >= n - m / 2))
                im.set(x, y, {1, 2, 3});
    return im;
}
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: skinpaint OUTDIR\n");
        return 2;
    }
    std::string out = argv[1];
    auto path = [&](int id, const char* ext) { return out + "/" + std::to_string(id) + ext; };
    bool ok = writeBmp(path(133, ".bmp"), skin(false)) && writeBmp(path(134, ".bmp"), skin(true));

    // Three families of buttons: blue (main dialog), green (dialog actions), grey (advanced).
    const Rgb blue = {208, 222, 244}, blueTop = {226, 236, 250}, blueEdge = {60, 90, 150};
    const Rgb green = {214, 236, 208}, greenTop = {232, 246, 228}, greenEdge = {38, 88, 0};
    const Rgb down = {170, 186, 214}, downTop = {182, 198, 224};
    const Rgb off = {226, 226, 228}, offEdge = {160, 160, 164};
    const ButtonSet sets[] = {
        {130, 131, 129, 170, 36},  // main dialog
        {141, 142, 143, 150, 28},  // port range: Save, Cancel, Default
        {154, 153, 155, 130, 28},  // configuration: OK, Cancel
        {157, 156, 158, 110, 28},  // configuration: Advanced
        {163, 160, 164, 150, 28},  // configuration: Check Health
    };
    for (const ButtonSet& s : sets) {
        bool main = s.normal == 130;
        ok = ok && writeBmp(path(s.normal, ".bmp"),
                            button(s.w, s.h, main ? blue : green, main ? blueEdge : greenEdge, main ? blueTop : greenTop));
        ok = ok && writeBmp(path(s.pressed, ".bmp"), button(s.w, s.h, down, main ? blueEdge : greenEdge, downTop));
        ok = ok && writeBmp(path(s.disabled, ".bmp"), button(s.w, s.h, off, offEdge, off));
    }
    ok = ok && writeBmp(path(136, ".bmp"), treeStrip());
    ok = ok && writeIco(path(128, ".ico"), {icon(32), icon(16)}, {1, 2, 3});
    if (!ok) {
        std::fprintf(stderr, "skinpaint: cannot write into %s\n", out.c_str());
        return 1;
    }
    return 0;
}

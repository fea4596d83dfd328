// Fuzz target of the receive filter. The input is a stream of received bytes that is cut into
// blocks of pseudo-random sizes (seeded from the input), with a "read pass without new bytes"
// (Flush) between some of them. Checked against a reference written from the frame rules:
//   - every byte comes out exactly once, in order: data + 4 x frames + pending = input;
//   - the data stream and the frames are exactly what the reference takes, so no frame the
//     filter should have taken ever shows up as data, and no data byte ends in a frame;
//   - without flushes, any cut into blocks gives the same result as one block.
#include "StatusFrame.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Accepted bytes per position, as bit sets (bit b of word b/32).
struct ByteSet
{
    uint32_t w[8];
    bool Has(BYTE b) const { return (w[b >> 5] >> (b & 31)) & 1u; }
};
ByteSet Make(std::initializer_list<int> bytes)
{
    ByteSet s = {};
    for (int b : bytes)
        s.w[b >> 5] |= 1u << (b & 31);
    return s;
}
const ByteSet kAsb[4] = {Make({0x10, 0x14, 0x18, 0x1C, 0x30, 0x34, 0x38, 0x3C, 0x54, 0x58, 0x5C}),
                         Make({0x00, 0x01, 0x02, 0x04, 0x08, 0x20, 0x40, 0x60}),
                         Make({0x00, 0x03, 0x0C, 0x0F, 0x80}), Make({0x00, 0x0F, 0x4F})};
const ByteSet kIasb[4] = {Make({0x35}), Make({0x40, 0x41, 0x42, 0x44, 0x48, 0x4C, 0x60}), Make({0x40, 0x41, 0x42}),
                          Make({0x00})};

// The reference: labels input positions; candidates are lists of positions.
struct Reference
{
    const std::vector<BYTE>& in;
    std::vector<size_t> data, frameBytes, open;  // positions
    int asb = 0, iasb = 0;

    explicit Reference(const std::vector<BYTE>& input) : in(input) {}

    void Drop()
    {
        data.insert(data.end(), open.begin(), open.end());
        open.clear();
        asb = iasb = 0;
    }
    void Take(size_t pos)
    {
        for (;;) {
            BYTE b = in[pos];
            bool a = asb < 4 && kAsb[asb].Has(b);
            bool i = !a && iasb < 4 && kIasb[iasb].Has(b);
            if (!a && !i) {
                if (open.empty()) {
                    data.push_back(pos);
                    return;
                }
                Drop();
                continue;  // the same byte again, as a possible first byte
            }
            (a ? asb : iasb)++;
            open.push_back(pos);
            if ((asb && size_t(asb) != open.size()) || (iasb && size_t(iasb) != open.size()))
                Drop();
            else if (asb == 4 || iasb == 4) {
                frameBytes.insert(frameBytes.end(), open.begin(), open.end());
                open.clear();
                asb = iasb = 0;
            }
            return;
        }
    }
};

struct Sink : IReceiveSink
{
    std::vector<BYTE> data, frames;
    void OnFilterData(const BYTE* b, int n) override
    {
        if (n <= 0)
            abort();
        data.insert(data.end(), b, b + n);
    }
    void OnFilterFrame(const BYTE f[4], bool iasb) override
    {
        if (iasb != (f[0] == 0x35))
            abort();
        frames.insert(frames.end(), f, f + 4);
    }
    void OnFilterTrace(const char* line) override
    {
        if (!line || !*line)
            abort();
    }
    bool FilterTracing() const override { return tracing; }
    bool tracing = false;
};

uint32_t Next(uint32_t& s)
{
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
}

void Check(bool ok)
{
    if (!ok)
        abort();
}

// Runs the filter over the stream cut by seed; flushEvery 0: never flush.
void RunOnce(const std::vector<BYTE>& in, uint32_t seed, unsigned flushEvery, bool tracing)
{
    CReceiveFilter f;
    Sink s;
    s.tracing = tracing;
    Reference ref(in);
    size_t at = 0;
    uint32_t rng = seed | 1u;
    while (at < in.size()) {
        size_t n = 1 + Next(rng) % 9;
        if (n > in.size() - at)
            n = in.size() - at;
        f.Process(in.data() + at, int(n), s);
        for (size_t k = at; k < at + n; ++k)
            ref.Take(k);
        at += n;
        if (flushEvery && Next(rng) % flushEvery == 0) {
            f.Flush(s);
            ref.Drop();
        }
        Check(f.HasCandidate() == !ref.open.empty());
    }
    // Conservation: every byte exactly once.
    Check(s.data.size() + s.frames.size() + ref.open.size() == in.size());
    // Data and frames are the reference's positions, in order.
    Check(s.data.size() == ref.data.size() && s.frames.size() == ref.frameBytes.size());
    for (size_t k = 0; k < ref.data.size(); ++k) {
        Check(s.data[k] == in[ref.data[k]]);
        Check(k == 0 || ref.data[k - 1] < ref.data[k]);
    }
    for (size_t k = 0; k < ref.frameBytes.size(); ++k) {
        Check(s.frames[k] == in[ref.frameBytes[k]]);
        Check(k == 0 || ref.frameBytes[k - 1] < ref.frameBytes[k]);
    }
    // The labels cover every position once.
    std::vector<BYTE> seen(in.size(), 0);
    for (size_t p : ref.data)
        seen[p]++;
    for (size_t p : ref.frameBytes)
        seen[p]++;
    for (size_t p : ref.open)
        seen[p]++;
    for (BYTE c : seen)
        Check(c == 1);
    // A final flush leaves no candidate and everything but frames as data.
    f.Flush(s);
    Check(!f.HasCandidate());
    Check(s.data.size() + s.frames.size() == in.size());
}

void SameAsOneBlock(const std::vector<BYTE>& in, uint32_t seed)
{
    CReceiveFilter whole, cut;
    Sink a, b;
    if (!in.empty())
        whole.Process(in.data(), int(in.size()), a);
    uint32_t rng = seed | 1u;
    for (size_t at = 0; at < in.size();) {
        size_t n = 1 + Next(rng) % 5;
        if (n > in.size() - at)
            n = in.size() - at;
        cut.Process(in.data() + at, int(n), b);
        at += n;
    }
    Check(a.data == b.data && a.frames == b.frames && whole.HasCandidate() == cut.HasCandidate());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    uint32_t seed;
    std::memcpy(&seed, data, 4);
    std::vector<BYTE> in(data + 4, data + size);
    RunOnce(in, seed, 0, false);
    RunOnce(in, seed, 1 + seed % 5, (seed & 0x100) != 0);
    SameAsOneBlock(in, seed);
    return 0;
}

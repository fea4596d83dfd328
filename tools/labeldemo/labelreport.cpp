// labelreport: what the simulated printer received on one endpoint, parsed into labels, and
// checked against what the example application prints.
//
//   labelreport <control address> <endpoint> <title> [batch labels]
//
// With a batch count: exactly one label with text, a barcode, a QR code, a box and a raster
// image, then that many labels with text and a barcode, every one complete and unflagged.
// Without: at least one label, every one complete and unflagged. Exit code 0 when that holds.
#include "qlks.h"
#include "simclient.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string Printable(const qlks::Bytes& raw, size_t limit)
{
    std::string s;
    for (std::uint8_t b : raw) {
        if (b == '\r' || b == '\n')
            continue;
        if (b >= 0x20 && b < 0x7F) {
            s += char(b);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "<%02x>", b);
            s += hex;
        }
        if (s.size() > limit) {
            s.resize(limit);
            s += "...";
            break;
        }
    }
    return s;
}

void Show(const qlks::Command& c)
{
    if (c.op == qlks::Op::Raster || c.op == qlks::Op::RasterRle) {
        long dots = 0;
        for (std::uint8_t b : c.pixels)
            for (int i = 0; i < 8; ++i)
                dots += (b >> i) & 1;
        std::printf("   %-6s image at %ld,%ld: %ld x %ld dots, %ld of them set (%zu bytes sent)\n", qlks::opName(c.op),
                    c.num("x"), c.num("y"), c.num("rowbytes") * 8, c.num("height"), dots, c.raw.size());
        return;
    }
    std::printf("   %-6s %s\n", qlks::opName(c.op), Printable(c.raw, 100).c_str());
}

// The kinds of content a label must hold, with the name a failure gives.
struct Need
{
    const char* what;
    std::vector<qlks::Op> any;
};

bool Holds(const qlks::Label& l, const std::vector<Need>& needs, size_t index)
{
    bool ok = true;
    for (const Need& n : needs) {
        size_t found = 0;
        for (qlks::Op op : n.any)
            found += l.count(op);
        if (!found) {
            std::printf("check: label %zu has no %s\n", index + 1, n.what);
            ok = false;
        }
    }
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: labelreport <control address> <endpoint> <title> [batch labels]\n");
        return 2;
    }
    vesksim::SimClient sim(argv[1]);
    if (!sim.connected()) {
        std::fprintf(stderr, "labelreport: no simulator at %s: %s\n", argv[1], sim.error().c_str());
        return 2;
    }
    int ep = std::atoi(argv[2]);
    bool expect = argc > 4;
    int batch = expect ? std::atoi(argv[4]) : 0;
    vesksim::Counts c;
    if (!sim.counts(ep, c)) {
        std::fprintf(stderr, "labelreport: endpoint %d: %s\n", ep, sim.error().c_str());
        return 2;
    }
    std::printf("== the printer on %s received %ld bytes: %ld labels (%ld partial, %ld flagged), %ld status requests, "
                "%ld initialisation bytes\n",
                argv[3], c.bytes, c.labels, c.partial, c.flagged, c.status, c.init);
    std::vector<qlks::Label> labels = sim.labels(ep);
    bool ok = !labels.empty();
    if (labels.empty())
        std::printf("check: no label arrived\n");
    for (size_t i = 0; i < labels.size(); ++i) {
        const qlks::Label& l = labels[i];
        std::printf("-- label %zu: %s, %zu commands, %zu bytes%s\n", i + 1, l.complete ? "complete" : "PARTIAL",
                    l.commands.size(), l.raw.size(), l.flags ? ", FLAGGED" : "");
        for (const qlks::Command& cmd : l.commands)
            Show(cmd);
        for (const std::string& p : l.problems)
            std::printf("   problem: %s\n", p.c_str());
        if (!l.complete || l.flags) {
            std::printf("check: label %zu is %s\n", i + 1, l.complete ? "flagged" : "not complete");
            ok = false;
        }
    }
    if (expect) {
        using qlks::Op;
        const Need text = {"text", {Op::Text, Op::VectorText}};
        const Need barcode = {"barcode", {Op::Barcode}};
        if (labels.size() != size_t(batch) + 1) {
            std::printf("check: %zu labels, expected %d (one, then a batch of %d)\n", labels.size(), batch + 1, batch);
            ok = false;
        }
        if (!labels.empty())
            ok = Holds(labels[0], {text, barcode, {"QR code", {Op::QrCode}}, {"box", {Op::Box}},
                                   {"raster image", {Op::Raster, Op::RasterRle}}},
                       0) && ok;
        for (size_t i = 1; i < labels.size(); ++i)
            ok = Holds(labels[i], {text, barcode}, i) && ok;
    }
    std::printf("%s\n", ok ? "check: as expected" : "check: FAILED");
    return ok ? 0 : 1;
}

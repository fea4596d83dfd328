// qlnreport: what the simulated printer received on one endpoint, parsed into labels.
//
//   qlnreport <control address> <endpoint> [title]
//
// Exit code 0 when at least one label arrived and every label is complete and unflagged.
#include "qlks.h"
#include "simclient.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string Printable(const qlks::Bytes& raw)
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
    }
    return s;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: qlnreport <control address> <endpoint> [title]\n");
        return 2;
    }
    vesksim::SimClient sim(argv[1]);
    if (!sim.connected()) {
        std::fprintf(stderr, "qlnreport: no simulator at %s: %s\n", argv[1], sim.error().c_str());
        return 2;
    }
    int ep = std::atoi(argv[2]);
    vesksim::Counts c;
    if (!sim.counts(ep, c)) {
        std::fprintf(stderr, "qlnreport: endpoint %d: %s\n", ep, sim.error().c_str());
        return 2;
    }
    std::printf("== the printer on %s received %ld bytes: %ld labels (%ld partial, %ld flagged), %ld status requests\n",
                argc > 3 ? argv[3] : "the endpoint", c.bytes, c.labels, c.partial, c.flagged, c.status);
    std::vector<qlks::Label> labels = sim.labels(ep);
    bool ok = !labels.empty();
    for (size_t i = 0; i < labels.size(); ++i) {
        const qlks::Label& l = labels[i];
        std::printf("-- label %zu: %s, %zu commands, %zu bytes%s\n", i + 1, l.complete ? "complete" : "PARTIAL",
                    l.commands.size(), l.raw.size(), l.flags ? ", FLAGGED" : "");
        for (const qlks::Command& cmd : l.commands)
            std::printf("   %-6s %s\n", qlks::opName(cmd.op), Printable(cmd.raw).c_str());
        for (const std::string& p : l.problems)
            std::printf("   problem: %s\n", p.c_str());
        ok = ok && l.complete && l.flags == 0;
    }
    return ok ? 0 : 1;
}

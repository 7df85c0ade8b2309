// Writes every sample PDU as a text2pcap hex dump (one packet each) and their
// names to stdout/argv[1], for the tshark cross-check (mms_tshark_check.sh).
#include "mms_samples.h"

#include <cstdio>
#include <fstream>

int main(int argc, char** argv) {
    std::ofstream names(argc > 1 ? argv[1] : "/dev/null");
    for (const auto& row : zv::test::pduSamples()) {
        const auto bytes = zv::mms::encode(row.make());
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (i % 16 == 0) std::printf("%s%06zx", i ? "\n" : "", i);
            std::printf(" %02x", bytes[i]);
        }
        std::printf("\n");
        names << row.name << "\n";
    }
    return 0;
}

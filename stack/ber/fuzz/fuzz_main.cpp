// Plain driver for the fuzz entry points (LLVMFuzzerTestOneInput), so that a
// brief fuzz pass runs under ctest with any compiler. libFuzzer builds
// (ZV_FUZZ=ON, clang) link the same entry points without this file.
//
//   <target>_run [--runs N] [--seed S] [--export DIR] SEED_FILE...
// SEED_FILE: lines "name hex" (# comments), e.g. tests/proto/data/reference_mms.txt.
// Each run takes a seed (or nothing), applies a few random mutations aimed at
// BER (length octets, truncation, tag bytes) and feeds the result.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<uint8_t> fromHex(const std::string& s) {
    std::vector<uint8_t> out;
    for (std::size_t i = 0; i + 1 < s.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoi(s.substr(i, 2), nullptr, 16)));
    return out;
}

bool loadSeeds(const char* path, std::vector<std::vector<uint8_t>>& seeds) {
    std::ifstream in(path);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const auto sp = line.find(' ');
        if (sp == std::string::npos) continue;
        seeds.push_back(fromHex(line.substr(sp + 1)));
    }
    return true;
}

void mutate(std::vector<uint8_t>& b, std::mt19937_64& rng) {
    static const uint8_t kInteresting[] = {0x00, 0x01, 0x7f, 0x80, 0x81, 0x82, 0x84, 0x85, 0xff, 0x1f, 0xbf, 0xa0, 0x30};
    auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
    const int count = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < count; ++i) {
        switch (rng() % 7) {
        case 0:
            if (!b.empty()) b[pick(b.size())] ^= static_cast<uint8_t>(1u << (rng() % 8));
            break;
        case 1:
            if (!b.empty()) b[pick(b.size())] = kInteresting[pick(sizeof kInteresting)];
            break;
        case 2: b.insert(b.begin() + static_cast<std::ptrdiff_t>(pick(b.size() + 1)), static_cast<uint8_t>(rng())); break;
        case 3:
            if (!b.empty()) b.erase(b.begin() + static_cast<std::ptrdiff_t>(pick(b.size())));
            break;
        case 4:
            if (!b.empty()) b.resize(pick(b.size()));
            break;
        case 5:
            if (b.size() > 2) {   // duplicate a chunk somewhere else
                const std::size_t from = pick(b.size()), len = 1 + pick(std::min<std::size_t>(32, b.size() - from));
                std::vector<uint8_t> chunk(b.begin() + static_cast<std::ptrdiff_t>(from),
                                           b.begin() + static_cast<std::ptrdiff_t>(from + len));
                b.insert(b.begin() + static_cast<std::ptrdiff_t>(pick(b.size() + 1)), chunk.begin(), chunk.end());
            }
            break;
        default:
            if (!b.empty()) b[pick(b.size())] = static_cast<uint8_t>(rng());
            break;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    unsigned long long runs = 10000, seed = 1;
    const char* exportDir = nullptr;
    std::vector<std::vector<uint8_t>> seeds;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) runs = std::strtoull(argv[++i], nullptr, 10);
        else if (!std::strcmp(argv[i], "--seed") && i + 1 < argc) seed = std::strtoull(argv[++i], nullptr, 10);
        else if (!std::strcmp(argv[i], "--export") && i + 1 < argc) exportDir = argv[++i];
        else if (!loadSeeds(argv[i], seeds)) {
            std::fprintf(stderr, "cannot read seed file %s\n", argv[i]);
            return 2;
        }
    }
    if (exportDir) {   // binary seed files for a libFuzzer corpus directory
        for (std::size_t i = 0; i < seeds.size(); ++i) {
            std::ofstream out(std::string(exportDir) + "/seed" + std::to_string(i), std::ios::binary);
            out.write(reinterpret_cast<const char*>(seeds[i].data()), static_cast<std::streamsize>(seeds[i].size()));
        }
        return 0;
    }
    for (const auto& s : seeds) LLVMFuzzerTestOneInput(s.data(), s.size());
    std::mt19937_64 rng(seed);
    for (unsigned long long r = 0; r < runs; ++r) {
        std::vector<uint8_t> input;
        if (!seeds.empty() && rng() % 8 != 0) {
            input = seeds[rng() % seeds.size()];
        } else {
            input.resize(rng() % 64);
            for (auto& x : input) x = static_cast<uint8_t>(rng());
        }
        mutate(input, rng);
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%llu runs over %zu seeds, seed %llu: no failure\n", runs, seeds.size(), seed);
    return 0;
}

// Plain driver for the fuzz entry, so that a short pass runs under ctest
// with any compiler: seed recordings (files, read whole) mutated the ways
// text and binary records break: digits and separators changed, lines
// dropped or doubled, bytes cut off. Fixed seed, so a failure repeats.
//
//   comtrade_fuzz_run [--runs N] [--seed S] SEED_FILE...
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void mutate(std::string& b, std::mt19937_64& rng) {
    static const char kInteresting[] = {'0', '1', '9', '-', ',', '\n', '\r', '/', ':', '.', 'A', 'D', ' ', '\0', '\x80', '\xFF', '\x1A'};
    auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
    const int count = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < count; ++i) {
        switch (rng() % 8) {
        case 0:
            if (!b.empty()) b[pick(b.size())] ^= static_cast<char>(1u << (rng() % 8));
            break;
        case 1:
            if (!b.empty()) b[pick(b.size())] = kInteresting[pick(sizeof kInteresting)];
            break;
        case 2: b.insert(b.begin() + static_cast<std::ptrdiff_t>(pick(b.size() + 1)), kInteresting[pick(sizeof kInteresting)]); break;
        case 3:
            if (!b.empty()) b.erase(b.begin() + static_cast<std::ptrdiff_t>(pick(b.size())));
            break;
        case 4:
            if (!b.empty()) b.resize(pick(b.size()));
            break;
        case 5: {  // drop or double a line
            const std::size_t at = b.find('\n', pick(b.size() + 1));
            if (at == std::string::npos) break;
            const std::size_t end = b.find('\n', at + 1);
            const std::string line = b.substr(at, end == std::string::npos ? std::string::npos : end - at);
            if (rng() % 2) b.erase(at, line.size());
            else b.insert(at, line);
            break;
        }
        case 6: {  // a long number
            const std::string big[] = {"999999", "4294967295", "9999999999", "1e308", "-2147483648", "65535", "0.000001"};
            b.insert(pick(b.size() + 1), big[pick(sizeof big / sizeof big[0])]);
            break;
        }
        default:
            if (!b.empty()) b[pick(b.size())] = static_cast<char>(rng());
            break;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    unsigned long long runs = 10000, seed = 1;
    std::vector<std::string> seeds;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) runs = std::strtoull(argv[++i], nullptr, 10);
        else if (!std::strcmp(argv[i], "--seed") && i + 1 < argc) seed = std::strtoull(argv[++i], nullptr, 10);
        else {
            std::ifstream in(argv[i], std::ios::binary);
            if (!in) {
                std::fprintf(stderr, "cannot read seed file %s\n", argv[i]);
                return 2;
            }
            seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    }
    if (seeds.empty()) {
        std::fprintf(stderr, "no seed files\n");
        return 2;
    }
    for (const auto& s : seeds) LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    std::mt19937_64 rng(seed);
    for (unsigned long long r = 0; r < runs; ++r) {
        std::string input = seeds[rng() % seeds.size()];
        mutate(input, rng);
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
    }
    std::printf("%llu runs over %zu seeds, seed %llu: no failure\n", runs, seeds.size(), seed);
    return 0;
}

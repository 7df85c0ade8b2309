// The plain driver of every fuzz entry point (LLVMFuzzerTestOneInput), so
// that a brief fuzz pass runs under ctest with any compiler. libFuzzer
// builds (ZV_FUZZ=ON, clang) link the same entry points without this file.
//
//   <target>_run [--runs N] [--seed S] [--noise MAX] [--text] [--hex] [--export DIR] SEED_FILE...
// SEED_FILE: a whole input (a recording), or with --hex lines "name hex"
// (# comments), e.g. tests/proto/data/reference_mms.txt.
// Each run takes a seed, or (one run in eight with --noise, always without
// seeds) up to MAX random octets, applies a few random mutations and feeds
// the result. The mutations aim at BER (length octets, truncation, tag
// bytes, repeated chunks), or with --text at text records (digits and
// separators changed, lines dropped or doubled, long numbers). A fixed seed,
// so a failure repeats.
#include <algorithm>
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

using Bytes = std::vector<uint8_t>;

Bytes fromHex(const std::string& s) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < s.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(s.substr(i, 2), nullptr, 16)));
    return out;
}

bool loadSeeds(const char* path, bool hex, std::vector<Bytes>& seeds) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    if (!hex) {
        seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        return true;
    }
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const auto sp = line.find(' ');
        if (sp == std::string::npos) continue;
        seeds.push_back(fromHex(line.substr(sp + 1)));
    }
    return true;
}

// A few random edits; with `text` aimed at text records, otherwise at BER.
void mutate(Bytes& b, std::mt19937_64& rng, bool text) {
    static const uint8_t kBer[] = {0x00, 0x01, 0x7f, 0x80, 0x81, 0x82, 0x84, 0x85, 0xff, 0x1f, 0xbf, 0xa0, 0x30};
    static const uint8_t kText[] = {'0', '1', '9', '-', ',',  '\n', '\r', '/', ':',
                                    '.', 'A', 'D', ' ', 0x00, 0x80, 0xff, 0x1a};
    const uint8_t* interesting = text ? kText : kBer;
    const std::size_t interestingCount = text ? sizeof kText : sizeof kBer;
    auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
    auto at = [&](std::size_t i) { return b.begin() + static_cast<std::ptrdiff_t>(i); };
    auto lineEnd = [&](std::size_t from) {  // the next '\n' from `from`, or the size
        return static_cast<std::size_t>(std::find(at(std::min(from, b.size())), b.end(), uint8_t('\n')) - b.begin());
    };
    const int count = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < count; ++i) {
        switch (rng() % (text ? 8 : 7)) {
        case 0:
            if (!b.empty()) b[pick(b.size())] ^= static_cast<uint8_t>(1u << (rng() % 8));
            break;
        case 1:
            if (!b.empty()) b[pick(b.size())] = interesting[pick(interestingCount)];
            break;
        case 2:
            b.insert(at(pick(b.size() + 1)), text ? interesting[pick(interestingCount)] : static_cast<uint8_t>(rng()));
            break;
        case 3:
            if (!b.empty()) b.erase(at(pick(b.size())));
            break;
        case 4:
            if (!b.empty()) b.resize(pick(b.size()));
            break;
        case 5:
            if (text) {  // drop or double a line
                const std::size_t from = lineEnd(pick(b.size() + 1));
                if (from == b.size()) break;
                const Bytes line(at(from), at(lineEnd(from + 1)));
                if (rng() % 2)
                    b.erase(at(from), at(from + line.size()));
                else
                    b.insert(at(from), line.begin(), line.end());
            } else if (b.size() > 2) {  // duplicate a chunk somewhere else
                const std::size_t from = pick(b.size()), len = 1 + pick(std::min<std::size_t>(32, b.size() - from));
                const Bytes chunk(at(from), at(from + len));
                b.insert(at(pick(b.size() + 1)), chunk.begin(), chunk.end());
            }
            break;
        case 6:
            if (text) {  // a long number
                static const std::string kBig[] = {"999999",      "4294967295", "9999999999", "1e308",
                                                   "-2147483648", "65535",      "0.000001"};
                const std::string& n = kBig[pick(sizeof kBig / sizeof kBig[0])];
                b.insert(at(pick(b.size() + 1)), n.begin(), n.end());
                break;
            }
            [[fallthrough]];
        default:
            if (!b.empty()) b[pick(b.size())] = static_cast<uint8_t>(rng());
            break;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    unsigned long long runs = 10000, seed = 1, noise = 0;
    bool text = false, hex = false;
    const char* exportDir = nullptr;
    std::vector<Bytes> seeds;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--runs") && i + 1 < argc)
            runs = std::strtoull(argv[++i], nullptr, 10);
        else if (!std::strcmp(argv[i], "--seed") && i + 1 < argc)
            seed = std::strtoull(argv[++i], nullptr, 10);
        else if (!std::strcmp(argv[i], "--noise") && i + 1 < argc)
            noise = std::strtoull(argv[++i], nullptr, 10);
        else if (!std::strcmp(argv[i], "--export") && i + 1 < argc)
            exportDir = argv[++i];
        else if (!std::strcmp(argv[i], "--text"))
            text = true;
        else if (!std::strcmp(argv[i], "--hex"))
            hex = true;
        else if (!loadSeeds(argv[i], hex, seeds)) {
            std::fprintf(stderr, "cannot read seed file %s\n", argv[i]);
            return 2;
        }
    }
    if (seeds.empty() && noise == 0) {
        std::fprintf(stderr, "no seeds and no --noise: nothing to feed\n");
        return 2;
    }
    if (exportDir) {  // binary seed files for a libFuzzer corpus directory
        for (std::size_t i = 0; i < seeds.size(); ++i) {
            std::ofstream out(std::string(exportDir) + "/seed" + std::to_string(i), std::ios::binary);
            out.write(reinterpret_cast<const char*>(seeds[i].data()), static_cast<std::streamsize>(seeds[i].size()));
        }
        return 0;
    }
    for (const auto& s : seeds) LLVMFuzzerTestOneInput(s.data(), s.size());
    std::mt19937_64 rng(seed);
    for (unsigned long long r = 0; r < runs; ++r) {
        Bytes input;
        if (!seeds.empty() && (noise == 0 || rng() % 8 != 0)) {
            input = seeds[rng() % seeds.size()];
        } else {
            input.resize(rng() % (noise + 1));
            for (auto& x : input) x = static_cast<uint8_t>(rng());
        }
        mutate(input, rng, text);
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%llu runs over %zu seeds, seed %llu: no failure\n", runs, seeds.size(), seed);
    return 0;
}

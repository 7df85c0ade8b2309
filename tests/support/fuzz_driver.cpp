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
    for (std::size_t i = 0; i + 1 < s.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoi(s.substr(i, 2), nullptr, 16)));
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

void insert(Bytes& b, std::size_t at, const std::string& s) { b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), s.begin(), s.end()); }

void mutateBer(Bytes& b, std::mt19937_64& rng) {
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
                Bytes chunk(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(from + len));
                b.insert(b.begin() + static_cast<std::ptrdiff_t>(pick(b.size() + 1)), chunk.begin(), chunk.end());
            }
            break;
        default:
            if (!b.empty()) b[pick(b.size())] = static_cast<uint8_t>(rng());
            break;
        }
    }
}

void mutateText(Bytes& b, std::mt19937_64& rng) {
    static const char kInteresting[] = {'0', '1', '9', '-', ',', '\n', '\r', '/', ':', '.', 'A', 'D', ' ', '\0', '\x80', '\xFF', '\x1A'};
    auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
    auto find = [&](std::size_t from) {
        const auto it = std::find(b.begin() + static_cast<std::ptrdiff_t>(std::min(from, b.size())), b.end(), uint8_t('\n'));
        return it == b.end() ? std::string::npos : static_cast<std::size_t>(it - b.begin());
    };
    const int count = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < count; ++i) {
        switch (rng() % 8) {
        case 0:
            if (!b.empty()) b[pick(b.size())] ^= static_cast<uint8_t>(1u << (rng() % 8));
            break;
        case 1:
            if (!b.empty()) b[pick(b.size())] = static_cast<uint8_t>(kInteresting[pick(sizeof kInteresting)]);
            break;
        case 2:
            b.insert(b.begin() + static_cast<std::ptrdiff_t>(pick(b.size() + 1)), static_cast<uint8_t>(kInteresting[pick(sizeof kInteresting)]));
            break;
        case 3:
            if (!b.empty()) b.erase(b.begin() + static_cast<std::ptrdiff_t>(pick(b.size())));
            break;
        case 4:
            if (!b.empty()) b.resize(pick(b.size()));
            break;
        case 5: {   // drop or double a line
            const std::size_t at = find(pick(b.size() + 1));
            if (at == std::string::npos) break;
            const std::size_t end = find(at + 1);
            const Bytes line(b.begin() + static_cast<std::ptrdiff_t>(at),
                             end == std::string::npos ? b.end() : b.begin() + static_cast<std::ptrdiff_t>(end));
            if (rng() % 2) b.erase(b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(at + line.size()));
            else b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), line.begin(), line.end());
            break;
        }
        case 6: {   // a long number
            const std::string big[] = {"999999", "4294967295", "9999999999", "1e308", "-2147483648", "65535", "0.000001"};
            insert(b, pick(b.size() + 1), big[pick(sizeof big / sizeof big[0])]);
            break;
        }
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
        if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) runs = std::strtoull(argv[++i], nullptr, 10);
        else if (!std::strcmp(argv[i], "--seed") && i + 1 < argc) seed = std::strtoull(argv[++i], nullptr, 10);
        else if (!std::strcmp(argv[i], "--noise") && i + 1 < argc) noise = std::strtoull(argv[++i], nullptr, 10);
        else if (!std::strcmp(argv[i], "--export") && i + 1 < argc) exportDir = argv[++i];
        else if (!std::strcmp(argv[i], "--text")) text = true;
        else if (!std::strcmp(argv[i], "--hex")) hex = true;
        else if (!loadSeeds(argv[i], hex, seeds)) {
            std::fprintf(stderr, "cannot read seed file %s\n", argv[i]);
            return 2;
        }
    }
    if (seeds.empty() && noise == 0) {
        std::fprintf(stderr, "no seeds and no --noise: nothing to feed\n");
        return 2;
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
        Bytes input;
        if (!seeds.empty() && (noise == 0 || rng() % 8 != 0)) {
            input = seeds[rng() % seeds.size()];
        } else {
            input.resize(rng() % (noise + 1));
            for (auto& x : input) x = static_cast<uint8_t>(rng());
        }
        if (text) mutateText(input, rng);
        else mutateBer(input, rng);
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%llu runs over %zu seeds, seed %llu: no failure\n", runs, seeds.size(), seed);
    return 0;
}

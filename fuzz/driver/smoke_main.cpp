// A short, deterministic run of one fuzz target without libFuzzer, so that
// every test build (the sanitizer one included) exercises the decoders:
//
//   fuzz_smoke_NAME [SEED_DIR] [ITERATIONS]
//
// Inputs are the seed files of SEED_DIR as they are, then mutations of them
// (bytes flipped, inserted, removed, runs duplicated, cut short) and random
// byte strings, from a fixed random sequence.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

static std::vector<std::string> read_seeds(const char *dir) {
    std::vector<std::string> seeds;
    std::error_code ec;
    if (!dir || !std::filesystem::is_directory(dir, ec)) return seeds;
    for (const auto &e : std::filesystem::directory_iterator(dir, ec)) {
        if (!e.is_regular_file()) continue;
        std::ifstream in(e.path(), std::ios::binary);
        seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return seeds;
}

static std::string mutate(std::string s, std::mt19937_64 &rng) {
    int edits = 1 + (int)(rng() % 8);
    for (int k = 0; k < edits; k++) {
        size_t n = s.size();
        size_t at = n ? rng() % n : 0;
        switch (rng() % 6) {
        case 0: if (n) s[at] = (char)rng(); break;
        case 1: s.insert(s.begin() + (long)at, (char)rng()); break;
        case 2: if (n) s.erase(at, 1 + rng() % 4); break;
        case 3: if (n) s.insert(at, s.substr(at, 1 + rng() % 16)); break;
        case 4: s.resize(at); break;
        default: if (n) s[at] = "{}[]\",=0x.-\\\0"[rng() % 13]; break;
        }
    }
    return s;
}

static void run(const std::string &s) {
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(s.data()), s.size());
}

int main(int argc, char **argv) {
    std::vector<std::string> seeds = read_seeds(argc > 1 ? argv[1] : nullptr);
    long iterations = argc > 2 ? std::atol(argv[2]) : 20000;
    std::mt19937_64 rng(0x6b6f64);
    for (const std::string &s : seeds) run(s);
    for (long i = 0; i < iterations; i++) {
        if (!seeds.empty() && rng() % 4 != 0) {
            run(mutate(seeds[rng() % seeds.size()], rng));
        } else {
            std::string s(rng() % 512, '\0');
            for (char &c : s) c = (char)rng();
            run(s);
        }
    }
    fprintf(stderr, "%zu seeds, %ld inputs: no fault\n", seeds.size(), iterations);
    return 0;
}

// Hashes a file with each SHA-256 block function (the portable one, and the
// SHA extensions where the processor has them) and prints the best MB/s of
// a few runs; the file is read in 64 KiB pieces, as the package check reads it.
#include <chrono>
#include <cstdio>
#include <vector>

#include "setup/sha256.h"

namespace {

constexpr int kRuns = 3;

// Seconds to hash the file, or a negative number when it cannot be read.
double HashSeconds(const char* path, setup::Sha256Engine engine, std::string& hex, double& megabytes) {
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return -1;
    std::vector<char> buffer(64 << 10);
    setup::Sha256 hash(engine);
    const auto start = std::chrono::steady_clock::now();
    std::size_t total = 0;
    for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), file)) > 0; total += n)
        hash.Update(buffer.data(), n);
    hex = setup::ToHex(hash.Final());
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::fclose(file);
    megabytes = total / 1e6;
    return took.count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: sha256_bench FILE\n");
        return 2;
    }
    const struct {
        const char* name;
        setup::Sha256Engine engine;
    } engines[] = {{"portable", setup::Sha256Engine::kPortable}, {"sha-ext", setup::Sha256Engine::kShaExtensions}};
    for (const auto& e : engines) {
        if (e.engine == setup::Sha256Engine::kShaExtensions && !setup::ShaExtensionsAvailable()) {
            std::printf("%-10s (no SHA extensions on this processor)\n", e.name);
            continue;
        }
        std::string hex;
        double megabytes = 0;
        double best = 0;
        for (int run = 0; run < kRuns; ++run) {
            const double seconds = HashSeconds(argv[1], e.engine, hex, megabytes);
            if (seconds < 0) {
                std::perror(argv[1]);
                return 2;
            }
            if (best == 0 || seconds < best) best = seconds;
        }
        std::printf("%-10s %8.0f MB/s  %s\n", e.name, megabytes / best, hex.c_str());
    }
    return 0;
}

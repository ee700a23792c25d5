#include "fuzz/Seeds.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace velm::fuzz {

int writeSeedsIfAsked(const std::vector<Bytes>& seeds) {
    const char* folder = std::getenv("VELM_FUZZ_WRITE_SEEDS");
    if (folder == nullptr) {
        return 0;
    }
    std::filesystem::create_directories(folder);
    for (std::size_t i = 0; i < seeds.size(); ++i) {
        std::ofstream out(std::filesystem::path(folder) / ("seed-" + std::to_string(i)), std::ios::binary);
        out.write(reinterpret_cast<const char*>(seeds[i].data()),
                  static_cast<std::streamsize>(seeds[i].size()));
        if (!out) {
            std::fprintf(stderr, "cannot write seed %zu to %s\n", i, folder);
            std::exit(1);
        }
    }
    std::fprintf(stderr, "wrote %zu seeds to %s\n", seeds.size(), folder);
    std::exit(0);
}

} // namespace velm::fuzz

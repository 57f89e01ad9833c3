// Writes a damaged copy of a data file, the ways a player's copy goes bad:
//   spoil empty  SRC DST   an empty file
//   spoil half   SRC DST   the first half of SRC (an interrupted copy)
//   spoil random SRC DST   as many bytes as SRC, all noise
// The noise comes from a fixed seed mixed with DST's file name, so every run
// damages every file the same way and a failure can be reproduced.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr uint32_t seed = 20261208;

uint32_t name_hash(const std::string& name)
{
    uint32_t h = 2166136261u;  // FNV-1a
    for (unsigned char c : name) h = (h ^ c) * 16777619u;
    return h;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: spoil empty|half|random SRC DST\n");
        return 2;
    }
    const std::string mode = argv[1];
    std::ifstream in(argv[2], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "spoil: cannot read %s\n", argv[2]);
        return 1;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (mode == "empty") {
        bytes.clear();
    } else if (mode == "half") {
        bytes.resize(bytes.size() / 2);
    } else if (mode == "random") {
        std::mt19937 rng(seed ^ name_hash(std::filesystem::path(argv[3]).filename().string()));
        for (char& b : bytes) b = static_cast<char>(rng() & 0xFF);
    } else {
        std::fprintf(stderr, "spoil: unknown mode %s\n", argv[1]);
        return 2;
    }
    std::ofstream out(argv[3], std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "spoil: cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}

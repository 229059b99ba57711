// The replay program of a fuzz target outside libFuzzer: runs the target once on every file
// named on the command line and on every regular file inside the folders named there (in name
// order), so CTest replays the seeds and every crasher kept as a regression file. A failing
// input aborts inside the target; the name printed last is the one that failed.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_support.h"

namespace {

namespace fs = std::filesystem;

bool collect(const fs::path& arg, std::vector<fs::path>& files) {
    std::error_code ec;
    if (fs::is_directory(arg, ec)) {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(arg, ec)) {
            if (entry.is_regular_file()) {
                found.push_back(entry.path());
            }
        }
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
        return !ec;
    }
    if (fs::is_regular_file(arg, ec)) {
        files.push_back(arg);
        return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        if (!collect(argv[i], files)) {
            std::fprintf(stderr, "replay: cannot read %s\n", argv[i]);
            return 1;
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR_OR_FILE...  (no inputs found)\n", argv[0]);
        return 1;
    }
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    double slowest = 0;
    fs::path slowest_file;
    for (const fs::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>()};
        std::fprintf(stderr, "replay: %s\n", file.c_str());
        const auto t0 = Clock::now();
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        if (seconds > slowest) {
            slowest = seconds;
            slowest_file = file;
        }
    }
    const double total = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("replayed %zu inputs in %.2f s (slowest %.3f s: %s)\n", files.size(), total,
                slowest, slowest_file.filename().c_str());
    return 0;
}

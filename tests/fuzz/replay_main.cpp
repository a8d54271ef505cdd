// Runs a fuzz target without libFuzzer, for any compiler: every file of a
// corpus folder as it is, then a fixed number of seeded mutations of each
// named one (not of those libFuzzer merged in under content hashes),
// so the replay also finds regressions near the seeds. Everything is
// deterministic; a failing mutation is named on stderr and can be written
// out with --emit to become a file of its own.
//
//   replay CORPUS_DIR [--mutations N]
//   replay CORPUS_DIR --emit SEED_FILE INDEX OUTPUT

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"

// Under the address sanitizer a finding ends the process without a signal;
// its death callback still names the input.
#if defined(__SANITIZE_ADDRESS__)
#define REPLAY_HAS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define REPLAY_HAS_SANITIZER 1
#endif
#endif
#ifdef REPLAY_HAS_SANITIZER
#include <sanitizer/common_interface_defs.h>
#endif

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr int DEFAULT_MUTATIONS = 300;
constexpr uint8_t INTERESTING[] = {0x00, 0x01, 0x0A, 0x20, 0x3A, 0x3B, 0x7F, 0x80, 0xFF};

// What is running now, for the report when it crashes.
char g_running[512] = "";

void ReportRunning() {
    if (g_running[0] != '\0') std::fprintf(stderr, "replay: failed while running %s\n", g_running);
}

void OnFatalSignal(int signal) {
    ReportRunning();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// One to four edits: bit flips, interesting bytes, insertions, erasures,
// truncation and duplicated stretches, the kinds that break length fields.
Bytes Mutate(Bytes bytes, std::mt19937& random) {
    const int edits = 1 + static_cast<int>(random() % 4);
    for (int i = 0; i < edits; ++i) {
        const std::size_t at = bytes.empty() ? 0 : random() % bytes.size();
        switch (random() % 6) {
            case 0:
                if (!bytes.empty()) bytes[at] ^= static_cast<uint8_t>(1u << (random() % 8));
                break;
            case 1:
                if (!bytes.empty()) bytes[at] = INTERESTING[random() % std::size(INTERESTING)];
                break;
            case 2:
                bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), static_cast<uint8_t>(random()));
                break;
            case 3:
                if (!bytes.empty())
                    bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                bytes.begin() + static_cast<std::ptrdiff_t>(
                                                    std::min(bytes.size(), at + 1 + random() % 8)));
                break;
            case 4:
                bytes.resize(at);
                break;
            default: {
                const std::size_t length = std::min<std::size_t>(bytes.size() - at, 1 + random() % 16);
                const Bytes stretch(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                    bytes.begin() + static_cast<std::ptrdiff_t>(at + length));
                bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), stretch.begin(), stretch.end());
            }
        }
    }
    return bytes;
}

// The random sequence depends only on the seed file's name, so adding a
// seed does not change the mutations of the others.
std::mt19937 RandomFor(const fs::path& seed) {
    const std::string name = seed.filename().string();
    std::seed_seq sequence(name.begin(), name.end());
    return std::mt19937(sequence);
}

void Run(const Bytes& bytes) {
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
}

std::vector<fs::path> CorpusFiles(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

// A file libFuzzer merged in, named by the hash of its content: it already
// is one of the fuzzer's mutations, so it runs as it is. A merged corpus of
// hundreds of such files then still replays in seconds.
bool MergedByFuzzer(const fs::path& file) {
    const std::string name = file.filename().string();
    return name.size() == 40 && name.find_first_not_of("0123456789abcdef") == std::string::npos;
}

int Replay(const fs::path& folder, int mutations) {
    const auto start = std::chrono::steady_clock::now();
    const auto files = CorpusFiles(folder);
    std::size_t mutated = 0;
    for (const fs::path& file : files) {
        const Bytes seed = ReadFile(file);
        std::snprintf(g_running, sizeof g_running, "%s", file.c_str());
        Run(seed);
        if (MergedByFuzzer(file)) continue;
        ++mutated;
        std::mt19937 random = RandomFor(file);
        for (int i = 0; i < mutations; ++i) {
            std::snprintf(g_running, sizeof g_running, "%s mutation %d (write it with --emit %s %d FILE)",
                          file.c_str(), i, file.c_str(), i);
            Run(Mutate(seed, random));
        }
    }
    g_running[0] = '\0';
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    std::printf("replayed %zu inputs and %zu mutations in %lld ms\n", files.size(),
                mutated * static_cast<std::size_t>(mutations), static_cast<long long>(elapsed.count()));
    return files.empty() ? 1 : 0;  // an empty corpus is a broken set-up, not a pass
}

int Emit(const fs::path& seedFile, int index, const fs::path& output) {
    const Bytes seed = ReadFile(seedFile);
    std::mt19937 random = RandomFor(seedFile);
    Bytes mutated = seed;
    for (int i = 0; i <= index; ++i) mutated = Mutate(seed, random);
    std::ofstream(output, std::ios::binary)
        .write(reinterpret_cast<const char*>(mutated.data()), static_cast<std::streamsize>(mutated.size()));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 5 && args[1] == "--emit") return Emit(args[2], std::atoi(args[3].c_str()), args[4]);
    int mutations = DEFAULT_MUTATIONS;
    if (args.size() == 3 && args[1] == "--mutations") mutations = std::atoi(args[2].c_str());
    if (args.size() != 1 && args.size() != 3) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR [--mutations N] | CORPUS_DIR --emit SEED INDEX OUTPUT\n",
                     argv[0]);
        return 2;
    }
    for (int signal : {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL}) std::signal(signal, OnFatalSignal);
#ifdef REPLAY_HAS_SANITIZER
    __sanitizer_set_death_callback(ReportRunning);
#endif
    std::error_code error;
    if (!fs::is_directory(args[0], error)) {
        std::fprintf(stderr, "replay: %s is not a folder\n", args[0].c_str());
        return 2;
    }
    return Replay(args[0], mutations);
}

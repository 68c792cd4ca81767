// Runs a corpus through a harness without libFuzzer, as an ordinary regression test: every file
// named on the command line and every file below every folder named, once each, in name order.
// An input that breaks a property stops the run as it would under libFuzzer, after naming it.
#include <sanitizer/common_interface_defs.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

// The input being run, named when the run dies on it.
char current[4096];

void name_current() {
    static const char kPrefix[] = "replay: failed on ";
    (void)!write(STDERR_FILENO, kPrefix, sizeof kPrefix - 1);
    (void)!write(STDERR_FILENO, current, std::strlen(current));
    (void)!write(STDERR_FILENO, "\n", 1);
}

void on_abort(int) {
    name_current();
    std::signal(SIGABRT, SIG_DFL);
    std::raise(SIGABRT);
}

std::vector<fs::path> inputs(int argc, char** argv) {
    std::vector<fs::path> found;
    for (int i = 1; i < argc; ++i) {
        const fs::path path(argv[i]);
        if (!fs::is_directory(path)) {
            found.push_back(path);
            continue;
        }
        for (const auto& entry : fs::recursive_directory_iterator(path))
            if (entry.is_regular_file()) found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE_OR_FOLDER...\n", argv[0]);
        return 2;
    }
    __sanitizer_set_death_callback(name_current);
    std::signal(SIGABRT, on_abort);
    const std::vector<fs::path> files = inputs(argc, argv);
    for (const fs::path& file : files) {
        std::snprintf(current, sizeof current, "%s", file.c_str());
        std::ifstream in(file, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                      std::istreambuf_iterator<char>());
        if (!in.good() && !in.eof()) {
            std::fprintf(stderr, "replay: cannot read %s\n", file.c_str());
            return 1;
        }
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    // A corpus that went missing must not pass as a clean run.
    if (files.empty()) {
        std::fprintf(stderr, "replay: no inputs found\n");
        return 1;
    }
    std::printf("%s: %zu inputs replayed without a finding\n", fs::path(argv[0]).filename().c_str(),
                files.size());
    return 0;
}

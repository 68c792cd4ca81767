// Every file of a fuzz harness's corpus as a test case: the seeds and the inputs of every finding
// fixed so far go through the harness's entry point as libFuzzer would pass them. A property the
// harness checks stops the process (as under libFuzzer), which fails the case that was running.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
// The harness's corpus, set by the build beside each replay program.
extern const char kCorpusFolder[];

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> corpus_files() {
    std::vector<fs::path> files;
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(kCorpusFolder, error))
        if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

class Corpus : public testing::TestWithParam<fs::path> {};

TEST_P(Corpus, HoldsTheHarnessProperties) {
    std::ifstream in(GetParam(), std::ios::binary);
    ASSERT_TRUE(in) << GetParam();
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    EXPECT_EQ(
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
        0);
}

// Test names allow letters, digits and underscores only.
std::string case_name(const testing::TestParamInfo<fs::path>& info) {
    std::string name = info.param.filename().string();
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return std::to_string(info.index) + "_" + name;
}

INSTANTIATE_TEST_SUITE_P(Inputs, Corpus, testing::ValuesIn(corpus_files()), case_name);

// A corpus that went missing must not pass as a clean run.
TEST(CorpusFolder, HoldsInputs) { EXPECT_GE(corpus_files().size(), 5u) << kCorpusFolder; }

}  // namespace

// Replays a fuzz target's corpus under the normal compiler: every file of the folders (and
// every file) given goes through the target once, in name order, its name said first so that
// the last name on standard error is the input that failed. A property that does not hold
// aborts the run; a folder without a file fails it, so a lost corpus does not pass.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz_support.h"

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> InputsOf(const fs::path& argument) {
    std::vector<fs::path> inputs;
    if (fs::is_directory(argument)) {
        for (const fs::directory_entry& entry : fs::directory_iterator(argument)) {
            if (entry.is_regular_file()) {
                inputs.push_back(entry.path());
            }
        }
        std::sort(inputs.begin(), inputs.end());
    } else if (fs::is_regular_file(argument)) {
        inputs.push_back(argument);
    }
    return inputs;
}

}  // namespace

int main(int argc, char** argv) {
    // What the code under test prints (the usage text, say) is of no use here.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) {
        return 1;
    }
    std::size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        const std::vector<fs::path> inputs = InputsOf(argv[i]);
        if (inputs.empty()) {
            std::fprintf(stderr, "%s: no input to replay\n", argv[i]);
            return 1;
        }
        for (const fs::path& input : inputs) {
            std::fprintf(stderr, "%s\n", input.c_str());
            std::ifstream file(input, std::ios::binary);
            const std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(file)),
                                                 std::istreambuf_iterator<char>());
            LLVMFuzzerTestOneInput(data.data(), data.size());
            ++replayed;
        }
    }
    std::fprintf(stderr, "replayed %zu inputs\n", replayed);
    return replayed > 0 ? 0 : 1;
}

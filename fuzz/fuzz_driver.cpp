// The main of a harness built without libFuzzer: runs LLVMFuzzerTestOneInput
// once over an empty input, then over every file named on the command line
// and every file below every folder named there, each in a heap buffer of its
// exact size so that the sanitizers see a read past its end. A harness that
// crashes on an input ends the run; the name of the input is printed first.
//
//   fuzz_HARNESS FILE_OR_FOLDER...
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

namespace {

bool ReadInput(const fs::path& file, std::vector<uint8_t>* bytes) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

void RunOne(const std::vector<uint8_t>& bytes) {
    // Not the vector's own storage, whose capacity may exceed its size.
    std::unique_ptr<uint8_t[]> copy(new uint8_t[std::max<size_t>(bytes.size(), 1)]);
    std::copy(bytes.begin(), bytes.end(), copy.get());
    LLVMFuzzerTestOneInput(copy.get(), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE_OR_FOLDER...\n", argv[0]);
        return 2;
    }
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const fs::path named = argv[i];
        std::error_code error;
        if (fs::is_directory(named, error)) {
            for (fs::recursive_directory_iterator it(named, error), end; !error && it != end; it.increment(error))
                if (it->is_regular_file()) inputs.push_back(it->path());
        } else if (fs::is_regular_file(named, error)) {
            inputs.push_back(named);
        } else {
            std::fprintf(stderr, "%s: no such file or folder: %s\n", argv[0], argv[i]);
            return 2;
        }
        if (error) {
            std::fprintf(stderr, "%s: cannot list %s: %s\n", argv[0], argv[i], error.message().c_str());
            return 2;
        }
    }
    // A folder that holds nothing is a seed set that was not made.
    if (inputs.empty()) {
        std::fprintf(stderr, "%s: no inputs\n", argv[0]);
        return 2;
    }
    std::sort(inputs.begin(), inputs.end());

    RunOne({});
    std::vector<uint8_t> bytes;
    for (const fs::path& input : inputs) {
        std::fprintf(stderr, "%s\n", input.c_str());
        std::fflush(stderr);
        if (!ReadInput(input, &bytes)) {
            std::fprintf(stderr, "%s: cannot read %s\n", argv[0], input.c_str());
            return 2;
        }
        RunOne(bytes);
    }
    std::printf("%s: %zu inputs ran\n", argv[0], inputs.size());
    return 0;
}

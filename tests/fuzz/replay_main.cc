// Replays fuzz seeds through a fuzz target without libFuzzer: every regular
// file under the given paths is passed to LLVMFuzzerTestOneInput once; a
// path that cannot be opened fails the run, and so does finding no seed.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    int count = 0, failures = 0;
    auto replay = [&](const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            fprintf(stderr, "cannot open %s\n", path.c_str());
            return ++failures;
        }
        std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        return ++count;
    };
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        if (!fs::is_directory(argv[i], error)) replay(argv[i]);
        for (const auto& e : fs::recursive_directory_iterator(argv[i], error))
            if (e.is_regular_file() && e.path().filename().c_str()[0] != '.') replay(e.path());
    }
    printf("replayed %d inputs\n", count);
    return failures == 0 && count > 0 ? 0 : 1;
}

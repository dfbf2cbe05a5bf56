// Replays fuzz seeds through a fuzz target without libFuzzer: every regular
// file under the given paths is passed to LLVMFuzzerTestOneInput once.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int replay_file(const std::string& path) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) {
        fprintf(stderr, "cannot open %s\n", path.c_str());
        return 1;
    }
    std::vector<uint8_t> bytes;
    uint8_t buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    fclose(f);
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return 0;
}

int replay(const std::string& path, int& count) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        fprintf(stderr, "missing seed path %s\n", path.c_str());
        return 1;
    }
    if (!S_ISDIR(st.st_mode)) {
        ++count;
        return replay_file(path);
    }
    DIR* dir = opendir(path.c_str());
    if (!dir) return 1;
    int failures = 0;
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        failures += replay(path + "/" + e->d_name, count);
    }
    closedir(dir);
    return failures;
}

}  // namespace

int main(int argc, char** argv) {
    int count = 0, failures = 0;
    for (int i = 1; i < argc; ++i) failures += replay(argv[i], count);
    printf("replayed %d inputs\n", count);
    return failures == 0 && count > 0 ? 0 : 1;
}

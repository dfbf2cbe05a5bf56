// Arbitrary bytes as a flow file: the loaders keep the complete records and
// cut the rest, the file readers deliver whole records or nothing; none of
// them may read out of bounds or crash.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "base/data_flow_file.h"
#include "base/data_flow_iterator.h"
#include "network/xelo_flow_file.h"

namespace {

const unsigned int MIB = 1048576;

// A fresh directory: each input leaves it empty, and it goes at exit.
const std::string& directory() {
    static char name[] = "/tmp/flowfuzzXXXXXX";
    static const std::string dir = mkdtemp(name) ? name : "/tmp";
    static const int removed = atexit([] { rmdir(name); });
    (void)removed;
    return dir;
}

void write_file(const std::string& path, const uint8_t* data, size_t size) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data), size);
}

void read_back(Base::DataFlow::FileReader& reader) {
    if (!reader.seek(0)) return;
    for (int i = 0; i < 1000; ++i) {
        unsigned short limit = static_cast<unsigned short>(i % 3 == 0 ? 0 : 3000);
        if (reader.read(limit) == nullptr) break;
    }
    reader.seek(7);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& dir = directory();
    std::string path = dir + "/0000000a.flow";

    write_file(path, data, size);
    {
        Base::DataFlow::FileReader reader(10, 0, path.c_str(), 0, nullptr);
        read_back(reader);
        Network::XeloFlow::FileReader xreader(10, 0, path.c_str(), 0, nullptr);
        read_back(xreader);
    }
    {
        Base::DataFlow flow(10, MIB, MIB, nullptr, nullptr, 0, nullptr, false, false);
        Base::DataFlow::Loader loader(&flow, dir.c_str(), nullptr, 0, nullptr);
        while (loader.invoke() == 1) {
        }
        Base::DataFlow::Iterator it(loader.get_flow(), nullptr, nullptr, nullptr);
        while (it.next() != nullptr) {
        }
    }
    write_file(path, data, size);
    {
        Network::XeloFlow flow(10, MIB, MIB, nullptr, nullptr, 0, nullptr, false, false);
        Network::XeloFlow::Loader loader(&flow, dir.c_str(), nullptr, nullptr);
        while (loader.invoke() == 1) {
        }
        Network::XeloFlow::Reader reader(loader.get_flow(), nullptr, nullptr, nullptr);
        while (reader.read() != nullptr) {
        }
    }
    unlink(path.c_str());
    return 0;
}

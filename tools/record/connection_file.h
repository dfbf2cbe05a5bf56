#ifndef XELMD_TOOLS_RECORD_CONNECTION_FILE_H
#define XELMD_TOOLS_RECORD_CONNECTION_FILE_H

#include <map>
#include <string>

namespace Record {

// The file "md.con" that the API reads at Init: a first line with the
// trading day and the data center id, then one line per topic with the count
// of packets already held, from which a topic subscribed to resume from the
// saved position continues. Stateless; any thread.
class ConnectionFile {
  public:
    static std::string path(const std::string& flow_dir);
    // "%8d,%3d\n", then "%5d,%10u\n" per topic in the order given.
    static std::string format(int trading_day, int data_center,
                              const std::map<int, long>& positions);
    // The first line's two numbers, when the file exists and they parse.
    static bool read_head(const std::string& path, int& trading_day, int& data_center);
    // Replaces the file as a whole (temporary file, sync, rename), so a kill
    // leaves either the old or the new text.
    static bool write(const std::string& path, const std::string& text, std::string& error);
};

}  // namespace Record

#endif  // XELMD_TOOLS_RECORD_CONNECTION_FILE_H

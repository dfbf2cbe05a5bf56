#ifndef XELMD_API_CONNECTION_FILE_H
#define XELMD_API_CONNECTION_FILE_H

#include <cstdio>

namespace Api {

// The small text file that lets a restarted client resume its topics: a
// first line "%8d,%3d" (trading day, data center id), then one "%5d,%10u"
// line per topic with the count it reached. Owned by one API object; read at
// Init on the caller's thread, rewritten on the reactor thread.
class ConnectionFile {
  public:
    static const int MAX_TOPICS = 64;
    static const int MAX_LINE = 1024;  // 1023 characters and a zero

    struct Saved {
        unsigned short topic;
        unsigned int count;
    };

    ConnectionFile();
    ~ConnectionFile();
    ConnectionFile(const ConnectionFile&) = delete;
    ConnectionFile& operator=(const ConnectionFile&) = delete;

    // "%s%cmd.con" of the flow path ("." when empty) and '/', at most 255
    // characters; out holds 256 bytes.
    static void make_path(char* out, const char* flow_path);

    // Opens an existing file "r+b" and reads it, or creates it "w+b". On
    // failure prints "ERR! open file failed: [%s]\n" and keeps no file.
    // trading_day (9 bytes) and data_center_id change only when the first
    // line gives both values.
    bool open(const char* path, char* trading_day, int& data_center_id);
    bool is_open() const { return file_ != nullptr; }

    // The saved count of a topic (matched on its low 16 bits), or 0.
    unsigned int get_saved(int topic) const;
    int get_saved_count() const { return saved_count_; }

    // Rewriting: begin, one add_topic per topic with a flow (up to 64), then
    // write, which replaces the file's content and cuts what is left over.
    void begin(const char* trading_day, int data_center_id);
    void add_topic(int topic, unsigned long count);
    bool write();

    long get_length() const { return length_; }

  private:
    void read(char* trading_day, int& data_center_id);

    FILE* file_;
    long length_;
    int text_length_;
    int topic_lines_;
    int saved_count_;
    Saved saved_[MAX_TOPICS];
    // 64 topic lines of 17 characters and the first line of 13 fit.
    char text_[2048];
};

}  // namespace Api

#endif  // XELMD_API_CONNECTION_FILE_H

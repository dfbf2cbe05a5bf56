#ifndef XELMD_BASE_URI_H
#define XELMD_BASE_URI_H

namespace Base {

// Splits "scheme://host:port/path" into its parts; absent parts are null
// (port 0). The parts point into the object, so it is not copyable. One
// thread at a time.
class Uri {
  public:
    static const int MAX_TEXT = 128;

    explicit Uri(const char* text = nullptr);
    Uri(const Uri&) = delete;
    Uri& operator=(const Uri&) = delete;

    // Replaces the previous results; text longer than 127 characters is cut.
    void parse(const char* text);

    const char* get_text() const { return text_; }
    const char* get_scheme() const { return scheme_; }
    const char* get_host() const { return host_; }
    int get_port() const { return port_; }
    const char* get_path() const { return path_; }

  private:
    // Fills host, port and path from the text after "//".
    void parse_authority(char* start);

    char text_[MAX_TEXT];
    char work_[MAX_TEXT];
    char* scheme_;
    char* host_;
    int port_;
    char* path_;
};

}  // namespace Base

#endif  // XELMD_BASE_URI_H

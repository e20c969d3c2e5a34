// Where a readings log goes: a file appended to, or standard output, one whole line at a time.
// Each line is handed to the system in one piece as soon as it is made, so a run cut short by a
// signal leaves whole lines only, and nothing waits in a buffer of ours to be lost.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <sys/types.h>

namespace vardek::readings {

class LogFile {
  public:
    LogFile() = default;
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Opens `path` to append to, made if it is missing. `header` (empty for a log without one)
    // is written first when the file is new or empty; a regular file that has lines already
    // must begin with that header, or without one with a line that begins with `lineStart`,
    // else it is refused untouched: lines of another form under it would read wrong. A last
    // line left without its end (a row cut by a power loss) is ended first, so the next row
    // stands on a line of its own. Returns why the log cannot be written there, naming the
    // file, or an empty string.
    std::string open(const std::string& path, std::string_view header,
                     std::string_view lineStart = {});
    // Standard output, with `header` first, if any.
    std::string openStandardOutput(std::string_view header);

    // One whole line. When the system takes only part of it (a full disk), the file is cut back
    // to where the line began, so it still holds whole lines only. Returns why the line could
    // not be written, naming the file, or an empty string.
    //
    // A file opened by name is first compared with what the name leads to now, as tail -F
    // does: deleted, replaced by another file (renamed over, rotated) or cut shorter than what
    // was written (truncated), it is lost to anyone reading the log, so the name is opened
    // again as open() does, a header first where the file is new or empty, and notice() says
    // what happened. A name that now holds what open() refuses is the line's problem.
    std::string append(std::string_view line);
    // What append found of the file, the last time it did: "soak.csv was deleted: a new log
    // begins there", or an empty string. Cleared by each append.
    const std::string& notice() const { return notice_; }

    // "standard output" or the path given.
    const std::string& name() const { return name_; }

  private:
    std::string problem(const std::string& what, int error) const;
    // How the file written differs from what its name leads to now: "deleted", "replaced",
    // "truncated", or an empty string while it is the same and as long as written.
    std::string lost() const;
    void close();

    int fd_ = -1;
    bool byName_ = false;  // opened by its name, which can come to lead elsewhere
    std::string header_;
    std::string lineStart_;
    std::string notice_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    off_t size_ = 0;        // as far as this log wrote it or found it
    bool owned_ = false;    // opened here, so closed here
    bool regular_ = false;  // a regular file, which can be cut back
    std::string name_;
};

}  // namespace vardek::readings

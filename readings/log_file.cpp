#include "readings/log_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vardek::readings {

namespace {

// Of a refused file's first line, this much is shown.
constexpr std::size_t kShown = 80;

// The file's first line, without its line end, as far as `longest` bytes go; and whether its
// last byte ends a line.
struct FileEnds {
    std::string firstLine;
    bool endsLine = true;
};

bool readEnds(const std::string& path, std::size_t longest, FileEnds& ends, int& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = errno;
        return false;
    }
    std::string head(longest, '\0');
    const ssize_t got = ::pread(fd, head.data(), head.size(), 0);
    char last = '\n';
    struct stat info {};
    const bool read = got >= 0 && ::fstat(fd, &info) == 0 &&
                      (info.st_size == 0 || ::pread(fd, &last, 1, info.st_size - 1) == 1);
    error = errno;
    ::close(fd);
    if (!read) {
        return false;
    }
    head.resize(static_cast<std::size_t>(got));
    head = head.substr(0, head.find('\n'));
    if (head.ends_with('\r')) {
        head.pop_back();
    }
    ends = {head, last == '\n'};
    return true;
}

}  // namespace

LogFile::~LogFile() { close(); }

void LogFile::close() {
    if (owned_ && fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = -1;
    owned_ = false;
}

std::string LogFile::problem(const std::string& what, int error) const {
    return "cannot " + what + " " + name_ + ": " + std::strerror(error);
}

std::string LogFile::open(const std::string& path, std::string_view header,
                          std::string_view lineStart) {
    close();
    name_ = path;
    byName_ = true;
    header_ = header;
    lineStart_ = lineStart;
    fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd_ < 0) {
        return problem("open", errno);
    }
    owned_ = true;
    struct stat info {};
    if (::fstat(fd_, &info) != 0) {
        return problem("open", errno);
    }
    regular_ = S_ISREG(info.st_mode);
    device_ = info.st_dev;
    inode_ = info.st_ino;
    size_ = info.st_size;
    if (!regular_ || info.st_size == 0) {
        return header.empty() ? std::string() : append(header);
    }
    FileEnds ends;
    int error = 0;
    if (!readEnds(path, std::max({header.size(), lineStart.size(), kShown}) + 2, ends, error)) {
        return problem("read the first line of", error);
    }
    std::string_view wanted = header;
    while (wanted.ends_with('\n') || wanted.ends_with('\r')) {
        wanted.remove_suffix(1);
    }
    const bool fits =
        wanted.empty() ? ends.firstLine.starts_with(lineStart) : ends.firstLine == wanted;
    if (!fits) {
        close();
        return name_ + " holds lines that are not a log of these columns: its first line is '" +
               ends.firstLine.substr(0, kShown) + "', where " +
               (wanted.empty() ? "one starting " + std::string(lineStart) : std::string(wanted)) +
               " was expected";
    }
    return ends.endsLine ? std::string() : append("\r\n");
}

std::string LogFile::openStandardOutput(std::string_view header) {
    name_ = "standard output";
    fd_ = STDOUT_FILENO;
    struct stat info {};
    regular_ = ::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode);
    return header.empty() ? std::string() : append(header);
}

std::string LogFile::lost() const {
    struct stat named {};
    if (::stat(name_.c_str(), &named) != 0) {
        return errno == ENOENT ? "deleted" : std::string();
    }
    if (named.st_dev != device_ || named.st_ino != inode_) {
        return "replaced";
    }
    return named.st_size < size_ ? "truncated" : std::string();
}

std::string LogFile::append(std::string_view line) {
    notice_.clear();
    // Only a regular file opened by name can be lost; a lost file is found before its first
    // line, which open() writes itself.
    if (byName_ && (fd_ < 0 || (regular_ && !lost().empty()))) {
        const std::string what = fd_ < 0 ? std::string("not open") : lost();
        if (const std::string problem = open(name_, header_, lineStart_); !problem.empty()) {
            return problem;
        }
        notice_ = name_ + " was " + what + ": a new log begins there";
        if (fd_ >= 0 && what == "not open") {
            notice_ = name_ + " is written again";
        }
    }
    struct stat info {};
    const off_t before = regular_ && ::fstat(fd_, &info) == 0 ? info.st_size : -1;
    std::size_t written = 0;
    while (written < line.size()) {
        const ssize_t n = ::write(fd_, line.data() + written, line.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            if (written > 0 && before >= 0) {
                // A torn line would run into the next one: the file goes back to whole lines.
                [[maybe_unused]] const int cut = ::ftruncate(fd_, before);
            }
            return problem("write to", error);
        }
        written += static_cast<std::size_t>(n);
    }
    size_ = before >= 0 ? before + static_cast<off_t>(written) : size_;
    return {};
}

}  // namespace vardek::readings

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

LogFile::~LogFile() {
    if (owned_ && fd_ >= 0) {
        ::close(fd_);
    }
}

std::string LogFile::problem(const std::string& what, int error) const {
    return "cannot " + what + " " + name_ + ": " + std::strerror(error);
}

std::string LogFile::open(const std::string& path, std::string_view header,
                          std::string_view lineStart) {
    name_ = path;
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

std::string LogFile::append(std::string_view line) {
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
    return {};
}

}  // namespace vardek::readings

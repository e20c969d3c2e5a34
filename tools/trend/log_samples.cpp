#include "tools/trend/log_samples.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "readings/log_format.h"

namespace vardek::trend {

namespace {

// How often a followed log is looked at: a sample a second shows within half of one.
constexpr int kFollowPollMs = 500;
constexpr std::size_t kReadChunk = 1 << 20;

}  // namespace

Sample fromReadings(const readings::Sample& sample) {
    Sample taken;
    taken.timeMs = sample.time.time_since_epoch().count();
    taken.elapsedS = static_cast<double>(sample.elapsed.count()) / 1000.0;
    taken.result = sample.result;
    taken.wrongSize = static_cast<std::uint16_t>(std::min<std::size_t>(sample.replySize, 65535));
    taken.retries = static_cast<std::uint16_t>(std::min(sample.retries, 65535U));
    taken.lateReplies = static_cast<std::uint16_t>(std::min(sample.lateReplies, 65535U));
    taken.rttMs = sample.rttMs ? static_cast<float>(*sample.rttMs) : kNoValue;
    taken.portB = sample.portB ? static_cast<std::int16_t>(*sample.portB) : std::int16_t{-1};
    for (std::size_t pin = 0; pin < taken.analogue.size(); ++pin) {
        taken.analogue[pin] =
            sample.values[pin] ? static_cast<float>(*sample.values[pin]) : kNoValue;
    }
    return taken;
}

readings::Sample toReadings(const Sample& sample) {
    readings::Sample written;
    written.time = readings::UtcTime(std::chrono::milliseconds(sample.timeMs));
    written.elapsed = std::chrono::milliseconds(std::llround(sample.elapsedS * 1000.0));
    written.result = sample.result;
    written.replySize = sample.wrongSize;
    written.retries = sample.retries;
    written.lateReplies = sample.lateReplies;
    if (!std::isnan(sample.rttMs)) {
        written.rttMs = sample.rttMs;
    }
    if (sample.portB >= 0) {
        written.portB = static_cast<std::uint8_t>(sample.portB);
    }
    for (std::size_t pin = 0; pin < sample.analogue.size(); ++pin) {
        if (!std::isnan(sample.analogue[pin])) {
            written.values[pin] = sample.analogue[pin];
        }
    }
    return written;
}

readings::Pins pinsOf(const std::vector<std::size_t>& pins) {
    readings::Pins set;
    for (const std::size_t pin : pins) {
        set.set(pin);
    }
    return set;
}

LogSource::LogSource(QString path, QObject* parent) : QObject(parent), path_(std::move(path)) {
    poll_.setInterval(kFollowPollMs);
    connect(&poll_, &QTimer::timeout, this, &LogSource::readMore);
}

QString LogSource::open() {
    // Not opened blindly: a FIFO would hold the program up, /dev/zero feed it forever.
    host::OpenedFile opened =
        host::openRegularFile(QFile::encodeName(path_).toStdString(), O_RDONLY);
    struct stat status {};
    if (opened.problem.empty() && ::fstat(opened.fd.get(), &status) != 0) {
        opened.problem = std::strerror(errno);
    }
    if (!opened.problem.empty()) {
        refusedKind_ = opened.wrongKind;
        return tr("%1: %2").arg(path_, QString::fromLocal8Bit(opened.problem.c_str()));
    }
    file_ = std::move(opened.fd);
    device_ = status.st_dev;
    inode_ = status.st_ino;
    read_ = 0;
    tail_.clear();
    return {};
}

QString LogSource::read(bool follow) {
    if (QString problem = open(); !problem.isEmpty()) {
        return problem;
    }
    readToEnd();
    if (follow && !reader_.failed()) {
        poll_.start();
    } else {
        // Not followed: a last line without its end is read as it stands.
        take(reader_.finish());
    }
    if (reader_.failed()) {
        poll_.stop();
        return tr("%1 is not a readings log").arg(path_);
    }
    return {};
}

void LogSource::readMore() {
    struct stat status {};
    if (::fstat(file_.get(), &status) == 0 && !stillAsRead()) {
        emit problemFound(status.st_size < read_
                              ? tr("%1 was truncated: read again from its start").arg(path_)
                              : tr("%1 was rewritten: read again from its start").arg(path_));
        restart();
    }
    readToEnd();
    checkName();
}

void LogSource::readToEnd() {
    std::string bytes(kReadChunk, '\0');
    while (true) {
        const ssize_t got = ::pread(file_.get(), bytes.data(), bytes.size(), read_);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        const std::string_view taken(bytes.data(), std::size_t(got));
        read_ += got;
        tail_ = std::string(taken.substr(taken.size() - std::min(taken.size(), kKeptTail)));
        take(reader_.feed(taken));
    }
}

bool LogSource::stillAsRead() const {
    if (tail_.empty()) {
        return true;
    }
    std::string now(tail_.size(), '\0');
    const off_t at = read_ - off_t(tail_.size());
    return ::pread(file_.get(), now.data(), now.size(), at) == ssize_t(now.size()) && now == tail_;
}

void LogSource::restart() {
    shownThroughMs_ = newestMs_;
    read_ = 0;
    tail_.clear();
    reader_ = readings::LogReader();
}

void LogSource::checkName() {
    struct stat named {};
    if (::stat(QFile::encodeName(path_).constData(), &named) != 0) {
        struct stat open {};
        const bool deleted = ::fstat(file_.get(), &open) == 0 && open.st_nlink == 0;
        const QString gone =
            deleted ? tr("%1 was deleted: waiting for a new file at its name").arg(path_)
                    : tr("%1 was moved away: waiting for a new file at its name").arg(path_);
        if (waiting_ != gone) {
            waiting_ = gone;
            emit problemFound(gone);
        }
        return;
    }
    if (named.st_dev == device_ && named.st_ino == inode_) {
        waiting_.clear();
        return;
    }
    // The old file was read to its end above: what its writer put there before the switch is in.
    host::FileDescriptor old = std::move(file_);
    if (const QString problem = open(); !problem.isEmpty()) {
        file_ = std::move(old);
        if (waiting_ != problem) {
            waiting_ = problem;
            emit problemFound(problem);
        }
        return;
    }
    waiting_.clear();
    reader_ = readings::LogReader();
    emit problemFound(tr("%1 was replaced: following the new file").arg(path_));
    readToEnd();
}

void LogSource::take(readings::LogReader::Batch batch) {
    for (const auto& problem : batch.problems) {
        ++problems_;
        if (problems_ > kProblemsTold) {
            continue;
        }
        emit problemFound(tr("%1:%2: %3")
                              .arg(path_)
                              .arg(problem.line)
                              .arg(QString::fromStdString(problem.reason)));
        if (problems_ == kProblemsTold) {
            emit problemFound(
                tr("%1: further lines that cannot be read are passed over unreported").arg(path_));
        }
    }
    if (!batch.samples.empty()) {
        std::vector<Sample> samples;
        samples.reserve(batch.samples.size());
        for (const readings::Sample& sample : batch.samples) {
            Sample taken = fromReadings(sample);
            if (taken.timeMs > shownThroughMs_) {
                newestMs_ = std::max(newestMs_, taken.timeMs);
                samples.push_back(taken);
            }
        }
        if (!samples.empty()) {
            emit samplesRead(samples);
        }
    }
}

QString LogSink::open(const QString& path, const std::vector<std::size_t>& pins) {
    pins_ = pinsOf(pins);
    return QString::fromStdString(file_.open(path.toStdString(), readings::csvHeader(pins_)));
}

QString LogSink::append(const readings::Sample& sample, QString& notice) {
    unwritten_.push_back(sample);
    std::size_t written = 0;
    std::string problem;
    for (; written < unwritten_.size(); ++written) {
        readings::Sample row = unwritten_[written];
        if (written + 1 < unwritten_.size()) {
            // The file did not hold it at its time: a row of that time says so, in place of
            // values that a reader would take for ones logged as they came.
            readings::Sample missed;
            missed.time = row.time;
            missed.elapsed = row.elapsed;
            missed.result = readings::Result::NotWritten;
            row = missed;
        }
        problem = file_.append(readings::csvRow(row, pins_));
        if (!file_.notice().empty()) {
            notice = QString::fromStdString(file_.notice());
        }
        if (!problem.empty()) {
            failed_ = true;
            break;
        }
    }
    unwritten_.erase(unwritten_.begin(), unwritten_.begin() + static_cast<std::ptrdiff_t>(written));
    return QString::fromStdString(problem);
}

}  // namespace vardek::trend

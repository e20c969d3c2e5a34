#include "tools/trend/log_samples.h"

#include <cmath>
#include <utility>

#include "readings/log_format.h"

namespace vardek::trend {

namespace {

// How often a followed log is looked at: a sample a second shows within half of one.
constexpr int kFollowPollMs = 500;
constexpr qint64 kReadChunk = 1 << 20;

}  // namespace

Sample fromReadings(const readings::Sample& sample) {
    Sample taken;
    taken.timeMs = sample.time.time_since_epoch().count();
    taken.elapsedS = static_cast<double>(sample.elapsed.count()) / 1000.0;
    taken.result = sample.result;
    taken.wrongSize = static_cast<std::uint16_t>(std::min<std::size_t>(sample.replySize, 65535));
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

LogSource::LogSource(QString path, QObject* parent)
    : QObject(parent), path_(std::move(path)), file_(path_) {
    poll_.setInterval(kFollowPollMs);
    connect(&poll_, &QTimer::timeout, this, &LogSource::readMore);
}

QString LogSource::read(bool follow) {
    if (!file_.open(QIODevice::ReadOnly)) {
        return tr("%1: %2").arg(path_, file_.errorString());
    }
    if (follow) {
        poll_.start();
    }
    readMore();
    if (reader_.failed()) {
        poll_.stop();
        return tr("%1 is not a readings log").arg(path_);
    }
    return {};
}

void LogSource::readMore() {
    if (file_.size() < file_.pos()) {
        poll_.stop();
        emit problemFound(
            tr("%1 was cut shorter than what had been read: no longer followed").arg(path_));
        return;
    }
    while (true) {
        const QByteArray bytes = file_.read(kReadChunk);
        if (bytes.isEmpty()) {
            break;
        }
        take(reader_.feed(std::string_view(bytes.constData(), std::size_t(bytes.size()))));
    }
    if (!poll_.isActive()) {
        // Not followed: a last line without its end is read as it stands.
        take(reader_.finish());
    }
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
            samples.push_back(fromReadings(sample));
        }
        emit samplesRead(samples);
    }
}

QString LogSink::open(const QString& path, const std::vector<std::size_t>& pins) {
    pins_ = pinsOf(pins);
    return QString::fromStdString(file_.open(path.toStdString(), readings::csvHeader(pins_)));
}

QString LogSink::append(const Sample& sample) {
    return QString::fromStdString(file_.append(readings::csvRow(toReadings(sample), pins_)));
}

}  // namespace vardek::trend

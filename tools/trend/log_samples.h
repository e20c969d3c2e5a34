// vardek-trend's side of the readings logs that `vardek-probe watch` writes: a log file read,
// also while it grows, and the samples taken live appended to one, in the same CSV form.
#pragma once

#include <QFile>
#include <QObject>
#include <QString>
#include <QTimer>

#include <vector>

#include "readings/log_file.h"
#include "readings/log_reader.h"
#include "readings/sample.h"
#include "tools/trend/trace.h"

namespace vardek::trend {

Sample fromReadings(const readings::Sample& sample);
readings::Sample toReadings(const Sample& sample);
// The analogue pins a sample holds values of: those of the log it came from.
readings::Pins pinsOf(const std::vector<std::size_t>& pins);

// Reads a CSV log, and with `follow` keeps reading what is appended to it.
class LogSource final : public QObject {
    Q_OBJECT

  public:
    explicit LogSource(QString path, QObject* parent = nullptr);

    // Reads the file as it stands, and with `follow` then polls it for more, a last line
    // without its end waiting for the rest; a file cut shorter than what was read is a problem.
    // Returns why it cannot be read, naming it, or an empty string; the samples and the
    // problems of single lines come as samplesRead and problemFound.
    QString read(bool follow);
    // The analogue pins whose columns the log has.
    readings::Pins pins() const { return reader_.pins(); }

  signals:
    // The samples of the lines read, in the file's order.
    void samplesRead(const std::vector<vardek::trend::Sample>& samples);
    // A line that cannot be read, or the file cut under the reader.
    void problemFound(const QString& problem);

  private:
    void readMore();
    void take(readings::LogReader::Batch batch);

    // A file of other content fails at every line: the first few say enough.
    static constexpr int kProblemsTold = 10;

    QString path_;
    QFile file_;
    int problems_ = 0;
    readings::LogReader reader_;
    QTimer poll_;
};

// Appends samples to a CSV log as they come.
class LogSink {
  public:
    // Returns why the log cannot be written, naming the file, or an empty string.
    QString open(const QString& path, const std::vector<std::size_t>& pins);
    QString append(const Sample& sample);

  private:
    readings::LogFile file_;
    readings::Pins pins_;
};

}  // namespace vardek::trend

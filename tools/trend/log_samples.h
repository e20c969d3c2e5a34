// vardek-trend's side of the readings logs that `vardek-probe watch` writes: a log file read,
// also while it grows, and the samples taken live appended to one, in the same CSV form.
#pragma once

#include <QFile>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <sys/types.h>

#include "host/regular_file.h"
#include "readings/log_file.h"
#include "readings/log_reader.h"
#include "readings/sample.h"
#include "tools/trend/trace.h"

namespace vardek::trend {

// The chart's form of a sample, from the board client's or a log's, and back for a log's row.
Sample fromReadings(const readings::Sample& sample);
readings::Sample toReadings(const Sample& sample);
// The analogue pins a sample holds values of: those of the log it came from.
readings::Pins pinsOf(const std::vector<std::size_t>& pins);

// Reads a CSV log, and with `follow` keeps reading what is appended to it, as `tail -F` does:
// the file at the name is followed, also when it is rotated, replaced, truncated or deleted.
class LogSource final : public QObject {
    Q_OBJECT

  public:
    explicit LogSource(QString path, QObject* parent = nullptr);

    // Reads the file as it stands, and with `follow` then polls it for more, a last line
    // without its end waiting for the rest. Returns why it cannot be read, naming it, or an
    // empty string; the samples and the problems of single lines come as samplesRead and
    // problemFound. Followed, what becomes of the file is said through problemFound: truncated or
    // rewritten in place, it is read again from its start; moved away or deleted, the rest of it is
    // read and a new file at the name is waited for; replaced, the new file is followed.
    QString read(bool follow);
    // Whether read() refused the path for being no regular file (a FIFO, a device, a directory).
    bool refusedKind() const { return refusedKind_; }
    // The analogue pins whose columns the log has.
    readings::Pins pins() const { return reader_.pins(); }

  signals:
    // The samples of the lines read, in the file's order.
    void samplesRead(const std::vector<vardek::trend::Sample>& samples);
    // A line that cannot be read, or what became of a followed file.
    void problemFound(const QString& problem);

  private:
    // Opens the file at the name; why not, naming it, or an empty string.
    QString open();
    void readMore();
    // Reads what the open file holds past what was read.
    void readToEnd();
    // Whether the bytes read so far are still the file's: a file truncated and written longer
    // again between two looks has the size to pass for the same.
    bool stillAsRead() const;
    // Starts over, at the open file's first byte.
    void restart();
    // Looks at the name: another file there, or none.
    void checkName();
    void take(readings::LogReader::Batch batch);

    // A file of other content fails at every line: the first few say enough.
    static constexpr int kProblemsTold = 10;
    // The last bytes read, compared with the file's at each look.
    static constexpr std::size_t kKeptTail = 256;

    QString path_;
    host::FileDescriptor file_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    off_t read_ = 0;  // bytes of the open file read so far
    std::string tail_;
    bool refusedKind_ = false;
    // Read again from the start, a file still holds the rows already shown: they are not shown
    // twice.
    std::int64_t newestMs_ = std::numeric_limits<std::int64_t>::min();
    std::int64_t shownThroughMs_ = std::numeric_limits<std::int64_t>::min();
    QString waiting_;  // what was said of the name while no file to follow is there
    int problems_ = 0;
    readings::LogReader reader_;
    QTimer poll_;
};

// Appends samples to a CSV log as they come. A sample that the file cannot take (a full disk,
// a name that now holds another program's file) is kept, and once the file takes lines again
// it goes in before the next as a missed row of its own time, `not-written`, so that the log
// shows the hole rather than hiding it.
class LogSink {
  public:
    // Returns why the log cannot be written, naming the file, or an empty string.
    QString open(const QString& path, const std::vector<std::size_t>& pins);
    // Returns why the sample could not be written, or an empty string; `notice` receives what
    // became of the file when it was found lost and begun again.
    QString append(const readings::Sample& sample, QString& notice);
    // Some sample could not be written when it came.
    bool failed() const { return failed_; }

  private:
    readings::LogFile file_;
    readings::Pins pins_;
    std::vector<readings::Sample> unwritten_;
    bool failed_ = false;
};

}  // namespace vardek::trend

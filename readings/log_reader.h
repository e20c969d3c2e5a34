// Reads a CSV readings log as csvHeader and csvRow write it, also while it grows: bytes go in
// as they are read from the file, samples come out for every line completed so far.
//
// Columns are found by their header names, so a log of any set of pins reads, and a column
// this reader does not know is passed over. time_utc, elapsed_s and result are required;
// RB0..RB7 restate port_b and are not read; a log written before retries and late_replies
// were logged reads with none. Quoted fields (RFC 4180) are taken, though the writer never needs
// them, within one line: no field of a log holds a line end, so a quote left open (a stray one,
// a line torn by a power loss) costs its own line and not the rows after it. Both CR LF and LF
// end a line. A line that cannot be read is a problem of its own and the lines after it still
// read; a header that cannot be read is a problem that ends the reading.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "readings/sample.h"

namespace vardek::readings {

class LogReader {
  public:
    struct Problem {
        std::size_t line = 0;  // the line's number, from 1
        std::string reason;
    };
    struct Batch {
        std::vector<Sample> samples;
        std::vector<Problem> problems;
    };

    // The longest line read: beyond it, a line is a problem and its bytes are not kept.
    static constexpr std::size_t kLongestLine = 4096;

    // The next bytes of the file. A last line without its line end waits for the rest.
    Batch feed(std::string_view bytes);
    // The end of the file: a last line without its line end is read as it stands. A log with no
    // header (an empty file, blank lines) or no rows after it is a problem, and failed().
    Batch finish();

    // Once the header is read: the analogue pins whose columns the log has.
    bool hasHeader() const { return !columns_.empty(); }
    const Pins& pins() const { return pins_; }
    // The header could not be read, or finish() found nothing to read: nothing more comes out.
    bool failed() const { return failed_; }

  private:
    void takeLine(std::string_view line, Batch& batch);
    void readHeader(const std::vector<std::string>& names, Batch& batch);

    // What each column holds, by position in the line.
    enum class Column {
        Time,
        Elapsed,
        Result,
        RoundTrip,
        PortB,
        Channel,
        Retries,
        LateReplies,
        Other
    };
    struct ColumnOf {
        std::string name;
        Column kind = Column::Other;
        std::size_t channel = 0;
    };
    std::vector<ColumnOf> columns_;
    Pins pins_;
    bool failed_ = false;
    std::string pending_;  // the line begun and not yet ended
    // The fields of the line being read, kept from line to line for their memory.
    std::vector<std::string_view> fields_;
    std::vector<std::string> unquoted_;
    bool overlong_ = false;  // the pending line passed kLongestLine: its bytes are dropped
    std::size_t line_ = 0;   // line ends so far
    std::size_t rows_ = 0;   // lines after the header, read or not
};

}  // namespace vardek::readings

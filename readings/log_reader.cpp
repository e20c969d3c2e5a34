#include "readings/log_reader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>

namespace vardek::readings {

namespace {

// RFC 4180's fields of one line into `fields`; false when a quote stands where it may not. A
// line without quotes, as every line the writer writes, is split in place; the fields of one
// with quotes are unquoted into `unquoted`, which `fields` then refers to.
bool splitFields(std::string_view line, std::vector<std::string>& unquoted,
                 std::vector<std::string_view>& fields) {
    fields.clear();
    if (line.find('"') == std::string_view::npos) {
        std::size_t start = 0;
        while (true) {
            const std::size_t comma = line.find(',', start);
            if (comma == std::string_view::npos) {
                fields.push_back(line.substr(start));
                return true;
            }
            fields.push_back(line.substr(start, comma - start));
            start = comma + 1;
        }
    }
    unquoted.assign(1, std::string());
    std::size_t i = 0;
    while (i <= line.size()) {
        std::string& field = unquoted.back();
        if (i < line.size() && line[i] == '"') {
            ++i;
            while (true) {
                if (i >= line.size()) {
                    return false;  // no closing quote
                }
                if (line[i] == '"') {
                    if (i + 1 < line.size() && line[i + 1] == '"') {
                        field += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += line[i++];
            }
        } else {
            while (i < line.size() && line[i] != ',') {
                if (line[i] == '"') {
                    return false;  // a quote inside an unquoted field
                }
                field += line[i++];
            }
        }
        if (i == line.size()) {
            break;
        }
        if (line[i] != ',') {
            return false;  // text after a closing quote
        }
        ++i;
        unquoted.emplace_back();
    }
    fields.assign(unquoted.begin(), unquoted.end());
    return true;
}

std::optional<double> number(std::string_view text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

// Longer than any round trip the probe waits for (--timeout's limit on every --retries' try).
constexpr double kLongestRoundTrip = 1e9;

// What the board's converter can give: a 16-bit raw result, or its temperature from 0 to
// 65535 / 1024 × 500 ℃.
bool isReading(const link::Channel& channel, double value) {
    if (channel.reading == link::Reading::Temperature) {
        return value >= 0 && value <= 65535 / 1024.0 * 500;
    }
    return value >= 0 && value <= 65535 && value == std::floor(value);
}

std::optional<unsigned> wholeNumber(std::string_view text, unsigned highest) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || text.empty() ||
        value > highest) {
        return std::nullopt;
    }
    return value;
}

// "2026-12-09 13:20:05.123", as the log is written now, or "2026-12-09T13:20:05.123Z", as it
// was written before and is in JSON: the fraction of 1 to 9 digits or none, taken to the
// millisecond. The column's name says UTC, so a time without the Z is UTC too.
std::optional<UtcTime> parseUtc(std::string_view text) {
    using namespace std::chrono;
    const auto digits = [&](std::size_t at, std::size_t count) -> std::optional<unsigned> {
        if (at + count > text.size()) {
            return std::nullopt;
        }
        const std::string_view part = text.substr(at, count);
        if (!std::ranges::all_of(part, [](char c) { return c >= '0' && c <= '9'; })) {
            return std::nullopt;
        }
        return wholeNumber(part, 9999);
    };
    const auto at = [&](std::size_t i, char c) { return i < text.size() && text[i] == c; };
    const auto y = digits(0, 4), mo = digits(5, 2), d = digits(8, 2), h = digits(11, 2),
               mi = digits(14, 2), s = digits(17, 2);
    if (!y || !mo || !d || !h || !mi || !s || !at(4, '-') || !at(7, '-') ||
        !(at(10, 'T') || at(10, ' ')) || !at(13, ':') || !at(16, ':') || *h > 23 || *mi > 59 ||
        *s > 59) {
        return std::nullopt;
    }
    const year_month_day date{year(int(*y)), month(*mo), day(*d)};
    if (!date.ok()) {
        return std::nullopt;
    }
    std::size_t i = 19;
    unsigned ms = 0;
    if (at(i, '.')) {
        const std::size_t first = ++i;
        unsigned scale = 100;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - first < 9) {
            ms += unsigned(text[i] - '0') * scale;
            scale /= 10;
            ++i;
        }
        if (i == first) {
            return std::nullopt;
        }
    }
    i += at(i, 'Z') ? 1 : 0;
    if (i != text.size()) {
        return std::nullopt;
    }
    return sys_days(date) + hours(*h) + minutes(*mi) + seconds(*s) + milliseconds(ms);
}

std::optional<Result> parseResult(std::string_view text, std::size_t& size) {
    if (text == "ok") {
        return Result::Ok;
    }
    if (text == "no-reply") {
        return Result::NoReply;
    }
    if (text == "late") {
        return Result::Late;
    }
    if (text == "not-sent") {
        return Result::NotSent;
    }
    if (text == "not-written") {
        return Result::NotWritten;
    }
    constexpr std::string_view kWrongSize = "wrong-size:";
    if (text.starts_with(kWrongSize)) {
        if (const auto n = wholeNumber(text.substr(kWrongSize.size()), 65535)) {
            size = *n;
            return Result::WrongSize;
        }
    }
    return std::nullopt;
}

}  // namespace

LogReader::Batch LogReader::feed(std::string_view bytes) {
    Batch batch;
    while (!bytes.empty() && !failed_) {
        const std::size_t end = bytes.find('\n');
        if (end == std::string_view::npos) {
            // A line begun: it waits for the rest, unless it is too long already.
            if (!overlong_ && pending_.size() + bytes.size() > kLongestLine) {
                overlong_ = true;
                pending_.clear();
            } else if (!overlong_) {
                pending_ += bytes;
            }
            break;
        }
        const std::string_view piece = bytes.substr(0, end);
        bytes.remove_prefix(end + 1);
        ++line_;
        if (overlong_ || pending_.size() + piece.size() > kLongestLine) {
            batch.problems.push_back(
                {line_, "longer than " + std::to_string(kLongestLine) + " bytes"});
        } else {
            // Read where it lies unless it began in bytes fed before.
            std::string_view line = piece;
            if (!pending_.empty()) {
                pending_ += piece;
                line = pending_;
            }
            // CR LF ends a line; CRs alone (an old Mac's line ends) make it blank.
            while (line.ends_with('\r')) {
                line.remove_suffix(1);
            }
            takeLine(line, batch);
        }
        pending_.clear();
        overlong_ = false;
    }
    return batch;
}

LogReader::Batch LogReader::finish() {
    Batch batch;
    if (!pending_.empty() || overlong_) {
        // The last line, without its line end, is read as it stands.
        batch = feed("\n");
    }
    if (failed_) {
        return batch;
    }
    // Nothing to chart is no log: an empty file, blank lines only, or a header without rows.
    const std::size_t last = std::max<std::size_t>(line_, 1);
    if (!hasHeader()) {
        batch.problems.push_back({last, "not a readings log: it holds no header"});
        failed_ = true;
    } else if (rows_ == 0) {
        batch.problems.push_back({last, "holds no rows, only the header"});
        failed_ = true;
    }
    return batch;
}

void LogReader::takeLine(std::string_view line, Batch& batch) {
    if (failed_) {
        return;
    }
    // A byte-order mark, as some spreadsheets write, before the header.
    if (!hasHeader() && line.starts_with("\xEF\xBB\xBF")) {
        line.remove_prefix(3);
    }
    if (line.empty()) {
        return;
    }
    if (!splitFields(line, unquoted_, fields_)) {
        batch.problems.push_back({line_, "a quote out of place"});
        failed_ = !hasHeader();
        return;
    }
    if (!hasHeader()) {
        readHeader(std::vector<std::string>(fields_.begin(), fields_.end()), batch);
        return;
    }
    ++rows_;
    if (fields_.size() != columns_.size()) {
        batch.problems.push_back({line_, std::to_string(fields_.size()) +
                                             " fields where the header has " +
                                             std::to_string(columns_.size())});
        return;
    }
    Sample sample;
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        const std::string_view text = fields_[i];
        const ColumnOf& column = columns_[i];
        bool good = true;
        switch (column.kind) {
            case Column::Time:
                if (const auto time = parseUtc(text)) {
                    sample.time = *time;
                } else {
                    good = false;
                }
                break;
            case Column::Elapsed: {
                const auto seconds = number(text);
                good = seconds && *seconds >= 0 && *seconds < 1e12;
                if (good) {
                    sample.elapsed = std::chrono::milliseconds(std::llround(*seconds * 1000));
                }
                break;
            }
            case Column::Result:
                if (const auto result = parseResult(text, sample.replySize)) {
                    sample.result = *result;
                } else {
                    good = false;
                }
                break;
            case Column::RoundTrip:
                if (!text.empty()) {
                    sample.rttMs = number(text);
                    good = sample.rttMs && *sample.rttMs >= 0 && *sample.rttMs < kLongestRoundTrip;
                }
                break;
            case Column::PortB:
                if (!text.empty()) {
                    const auto byte = wholeNumber(text, 255);
                    good = byte.has_value();
                    sample.portB = static_cast<std::uint8_t>(byte.value_or(0));
                }
                break;
            case Column::Channel:
                if (!text.empty()) {
                    const auto value = number(text);
                    good = value && isReading(link::kChannels[column.channel], *value);
                    sample.values[column.channel] = value;
                }
                break;
            case Column::Retries:
            case Column::LateReplies: {
                // A count over the sample's requests: far below this whatever the options.
                const auto count = wholeNumber(text, 1'000'000);
                good = count.has_value();
                (column.kind == Column::Retries ? sample.retries : sample.lateReplies) =
                    count.value_or(0);
                break;
            }
            case Column::Other:
                break;
        }
        if (!good) {
            batch.problems.push_back(
                {line_, column.name + " '" + std::string(text.substr(0, 40)) + "' cannot be read"});
            return;
        }
    }
    batch.samples.push_back(sample);
}

void LogReader::readHeader(const std::vector<std::string>& names, Batch& batch) {
    std::vector<ColumnOf> columns;
    Pins pins;
    for (const std::string& name : names) {
        ColumnOf column{.name = name};
        if (name == "time_utc") {
            column.kind = Column::Time;
        } else if (name == "elapsed_s") {
            column.kind = Column::Elapsed;
        } else if (name == "result") {
            column.kind = Column::Result;
        } else if (name == "rtt_ms") {
            column.kind = Column::RoundTrip;
        } else if (name == "port_b") {
            column.kind = Column::PortB;
        } else if (name == "retries") {
            column.kind = Column::Retries;
        } else if (name == "late_replies") {
            column.kind = Column::LateReplies;
        }
        for (std::size_t i = 0; i < link::kChannels.size(); ++i) {
            if (name == columnName(link::kChannels[i])) {
                column.kind = Column::Channel;
                column.channel = i;
                pins.set(i);
            }
        }
        const bool twice = std::ranges::count(names, name) > 1;
        if (twice && column.kind != Column::Other) {
            batch.problems.push_back({line_, "the column " + name + " is named twice"});
            failed_ = true;
            return;
        }
        columns.push_back(column);
    }
    for (const char* required : {"time_utc", "elapsed_s", "result"}) {
        if (std::ranges::find(names, required) == names.end()) {
            batch.problems.push_back({line_, std::string("not a readings log: no column ") +
                                                 required + " in the header"});
            failed_ = true;
            return;
        }
    }
    columns_ = std::move(columns);
    pins_ = pins;
}

}  // namespace vardek::readings

// The answers a line asks of its store: yield, a Pareto of failing measurements, Cpk and the
// records themselves, each computed by the database's own query and returned as a table that
// prints as text, CSV or JSON Lines.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "results/store.h"

namespace vardek::results {

// Records whose start (UTC) is in [since, until), and whose fields match where given.
struct Filter {
    std::optional<std::int64_t> sinceMs;
    std::optional<std::int64_t> untilMs;
    std::string station;
    std::string operatorName;
    std::string serial;
};

enum class Grouping { None, Station, Operator, Day, Shift };

struct Column {
    enum class Kind {
        Text,
        Count,
        Fraction,  // text shows it as a percentage; CSV and JSON as the fraction
        Number,
    };
    std::string name;
    Kind kind = Kind::Text;
};

// A cell is its text or its number, by its column's kind; none is an empty field (JSON null).
struct Cell {
    std::optional<std::string> text;
    std::optional<double> number;
};

struct Table {
    std::string definition;  // how each figure is defined, in a sentence or two
    std::vector<Column> columns;
    std::vector<std::vector<Cell>> rows;
};

enum class Answer { Yield, Pareto, Cpk, Units };

// Cpk below this is marked: the level process engineers take for a capable process.
inline constexpr double kCapableCpk = 1.33;

// The answer over `store`'s records that `filter` takes, grouped as asked (Units takes no
// grouping). False with `problem` set when the store could not answer.
bool answer(Store& store, Answer asked, const Filter& filter, Grouping grouping, Table& table,
            std::string& problem);

// A table for a person: the definition, then aligned columns.
std::string textTable(const Table& table);
// RFC 4180, CR LF line ends, a header line first.
std::string csvTable(const Table& table);
// One JSON object per row and line.
std::string jsonTable(const Table& table);

// "2026-12-09" or "2026-12-09T06:30[:00]", UTC, as milliseconds since 1970; none otherwise.
std::optional<std::int64_t> parseUtc(const std::string& text);

}  // namespace vardek::results

#include "results/answers.h"

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimeZone>
#include <QVariant>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "readings/log_format.h"

namespace vardek::results {

namespace {

using Kind = Column::Kind;
using readings::jsonString;

// The group a record falls in. Shifts are the day's three eight-hour blocks from midnight, UTC.
QString groupExpression(Grouping grouping) {
    switch (grouping) {
        case Grouping::None:
            return QStringLiteral("''");
        case Grouping::Station:
            return QStringLiteral("u.station");
        case Grouping::Operator:
            return QStringLiteral("u.operator");
        case Grouping::Day:
            return QStringLiteral("substr(u.start_utc, 1, 10)");
        case Grouping::Shift:
            return QStringLiteral(
                "substr(u.start_utc, 1, 10) || ' ' || CASE WHEN substr(u.start_utc, 12, 2) < "
                "'08' THEN '00-08' WHEN substr(u.start_utc, 12, 2) < '16' THEN '08-16' ELSE "
                "'16-24' END");
    }
    return {};
}

const char* groupName(Grouping grouping) {
    switch (grouping) {
        case Grouping::Station:
            return "station";
        case Grouping::Operator:
            return "operator";
        case Grouping::Day:
            return "day";
        case Grouping::Shift:
            return "shift";
        case Grouping::None:
            break;
    }
    return "";
}

// " AND ..." for `filter` over units u, its values appended to `binds` in order.
QString whereClause(const Filter& filter, QVariantList& binds) {
    QString where;
    if (filter.sinceMs) {
        where += QStringLiteral(" AND u.start_ms >= ?");
        binds << qlonglong(*filter.sinceMs);
    }
    if (filter.untilMs) {
        where += QStringLiteral(" AND u.start_ms < ?");
        binds << qlonglong(*filter.untilMs);
    }
    for (const auto& [column, value] : {std::pair{"u.station", &filter.station},
                                        {"u.operator", &filter.operatorName},
                                        {"u.serial", &filter.serial}}) {
        if (!value->empty()) {
            where += QStringLiteral(" AND %1 = ?").arg(QLatin1String(column));
            binds << QString::fromStdString(*value);
        }
    }
    return where;
}

bool run(Store& store, const QString& sql, const QVariantList& binds, QSqlQuery& query,
         std::string& problem) {
    query = QSqlQuery(store.database());
    query.setForwardOnly(true);
    if (!query.prepare(sql)) {
        problem = store.shownLocation() + ": " + query.lastError().text().toStdString();
        return false;
    }
    for (int i = 0; i < binds.size(); ++i) {
        query.bindValue(i, binds[i]);
    }
    if (!query.exec()) {
        problem = store.shownLocation() + ": " + query.lastError().text().toStdString();
        return false;
    }
    return true;
}

Cell textCell(const QVariant& value) {
    return value.isNull() ? Cell{} : Cell{value.toString().toStdString(), {}};
}
Cell numberCell(const QVariant& value) {
    return value.isNull() ? Cell{} : Cell{{}, value.toDouble()};
}
Cell numberCell(double value) { return Cell{{}, value}; }
Cell numberCell(std::optional<double> value) { return Cell{{}, value}; }

// The leading group column, where the answer is grouped.
void addGroup(Grouping grouping, Table& table) {
    if (grouping != Grouping::None) {
        table.columns.insert(table.columns.begin(), {groupName(grouping), Kind::Text});
    }
}

bool yield(Store& store, const Filter& filter, Grouping grouping, Table& table,
           std::string& problem) {
    QVariantList binds;
    const QString sql =
        QStringLiteral(
            "WITH r AS (SELECT %1 AS grp, COALESCE(NULLIF(u.serial, ''), u.record_id) AS unit, "
            "u.outcome, ROW_NUMBER() OVER (PARTITION BY %1, COALESCE(NULLIF(u.serial, ''), "
            "u.record_id) ORDER BY u.start_ms, u.id) AS first_n, ROW_NUMBER() OVER (PARTITION BY "
            "%1, COALESCE(NULLIF(u.serial, ''), u.record_id) ORDER BY u.start_ms DESC, u.id DESC) "
            "AS "
            "last_n FROM units u WHERE 1 = 1%2) "
            "SELECT grp, COUNT(*), SUM(CASE WHEN first_n = 1 THEN 1 ELSE 0 END), "
            "SUM(CASE WHEN first_n = 1 AND outcome <> 'FAIL' THEN 1 ELSE 0 END), "
            "SUM(CASE WHEN last_n = 1 AND outcome <> 'FAIL' THEN 1 ELSE 0 END) "
            "FROM r GROUP BY grp ORDER BY grp")
            .arg(groupExpression(grouping), whereClause(filter, binds));
    QSqlQuery query;
    if (!run(store, sql, binds, query, problem)) {
        return false;
    }
    table.definition =
        "units: serials in the range (a record without a serial is a unit of its own). "
        "first_pass_yield: of each unit's first record in the range, the share that passed "
        "(PASS or MARGINAL). final_yield: of each unit's last record, the share that passed. "
        "retests: records beyond each unit's first.";
    table.columns = {{"records", Kind::Count},    {"units", Kind::Count},
                     {"first_pass", Kind::Count}, {"first_pass_yield", Kind::Fraction},
                     {"final_pass", Kind::Count}, {"final_yield", Kind::Fraction},
                     {"retests", Kind::Count}};
    addGroup(grouping, table);
    while (query.next()) {
        const double records = query.value(1).toDouble();
        const double units = query.value(2).toDouble();
        std::vector<Cell> row;
        if (grouping != Grouping::None) {
            row.push_back(textCell(query.value(0)));
        }
        row.insert(row.end(),
                   {numberCell(records), numberCell(units), numberCell(query.value(3)),
                    numberCell(query.value(3).toDouble() / units), numberCell(query.value(4)),
                    numberCell(query.value(4).toDouble() / units), numberCell(records - units)});
        table.rows.push_back(std::move(row));
    }
    return true;
}

bool pareto(Store& store, const Filter& filter, Grouping grouping, Table& table,
            std::string& problem) {
    QVariantList binds;
    const QString sql =
        QStringLiteral(
            "WITH f AS (SELECT %1 AS grp, m.name AS name, "
            "SUM(CASE WHEN m.outcome = 'FAIL' THEN 1 ELSE 0 END) AS failed, "
            "SUM(CASE WHEN m.outcome = 'MARGINAL' THEN 1 ELSE 0 END) AS marginal "
            "FROM measurements m JOIN units u ON u.id = m.unit_id "
            "WHERE m.outcome IN ('FAIL', 'MARGINAL')%2 GROUP BY 1, 2) "
            "SELECT grp, name, failed, marginal, "
            "CAST(failed AS DOUBLE PRECISION) / NULLIF(SUM(failed) OVER (PARTITION BY grp), 0), "
            "CAST(SUM(failed) OVER (PARTITION BY grp ORDER BY failed DESC, marginal DESC, name "
            "ROWS UNBOUNDED PRECEDING) AS DOUBLE PRECISION) / NULLIF(SUM(failed) OVER "
            "(PARTITION BY grp), 0) "
            "FROM f ORDER BY grp, failed DESC, marginal DESC, name")
            .arg(groupExpression(grouping), whereClause(filter, binds));
    QSqlQuery query;
    if (!run(store, sql, binds, query, problem)) {
        return false;
    }
    table.definition =
        "failed: records whose measurement was outside its limits; marginal: inside its "
        "limits but outside its marginal bounds. share: its failures among all failed "
        "measurements in the range; cumulative: the share of this row and every row above.";
    table.columns = {{"measurement", Kind::Text},
                     {"failed", Kind::Count},
                     {"marginal", Kind::Count},
                     {"share", Kind::Fraction},
                     {"cumulative", Kind::Fraction}};
    addGroup(grouping, table);
    while (query.next()) {
        std::vector<Cell> row;
        if (grouping != Grouping::None) {
            row.push_back(textCell(query.value(0)));
        }
        row.insert(row.end(), {textCell(query.value(1)), numberCell(query.value(2)),
                               numberCell(query.value(3)), numberCell(query.value(4)),
                               numberCell(query.value(5))});
        table.rows.push_back(std::move(row));
    }
    return true;
}

struct CpkRow {
    std::vector<Cell> cells;
    std::string group;
    std::optional<double> cpk;
};

bool cpk(Store& store, const Filter& filter, Grouping grouping, Table& table,
         std::string& problem) {
    QVariantList binds;
    // The sums are taken about a limit (the low one, or the high where there is none), near
    // which the values lie, so the variance does not cancel away in the subtraction; the limit
    // is one of the group's keys, so it is the same for each row of a group. A limit rather
    // than the limits' middle: a million rows take a fifth less time to sum.
    const QString centre = QStringLiteral("(m.value - COALESCE(m.low, m.high))");
    const QString sql =
        QStringLiteral(
            "SELECT %1, m.name, m.unit, m.low, m.high, COUNT(*), AVG(m.value), SUM(%3), "
            "SUM(%3 * %3), SUM(CASE WHEN (m.marginal_low IS NOT NULL AND m.value < "
            "m.marginal_low) OR (m.marginal_high IS NOT NULL AND m.value > m.marginal_high) "
            "THEN 1 ELSE 0 END) "
            "FROM measurements m JOIN units u ON u.id = m.unit_id "
            "WHERE m.value IS NOT NULL AND (m.low IS NOT NULL OR m.high IS NOT NULL)%2 "
            "GROUP BY 2, 3, 4, 5%4")
            .arg(groupExpression(grouping), whereClause(filter, binds), centre,
                 // The group last, and only where there is one: the measurements_limits index
                 // then gives the rows in the order of the groups, and nothing is sorted.
                 grouping == Grouping::None ? QString() : QStringLiteral(", 1"));
    QSqlQuery query;
    if (!run(store, sql, binds, query, problem)) {
        return false;
    }
    table.definition =
        "Per measurement and limits: n values, their mean and sample standard deviation s. "
        "cp = (high - low) / 6s; cpk = the lesser of (high - mean) / 3s and (mean - low) / 3s, "
        "of the limits it has; outside_marginal: the share of values outside the marginal "
        "bounds. Weakest first; cpk below 1.33 is marked.";
    table.columns = {{"measurement", Kind::Text}, {"unit", Kind::Text},
                     {"low", Kind::Number},       {"high", Kind::Number},
                     {"n", Kind::Count},          {"mean", Kind::Number},
                     {"stddev", Kind::Number},    {"cp", Kind::Number},
                     {"cpk", Kind::Number},       {"outside_marginal", Kind::Fraction},
                     {"mark", Kind::Text}};
    addGroup(grouping, table);
    std::vector<CpkRow> rows;
    while (query.next()) {
        const double n = query.value(5).toDouble();
        const double mean = query.value(6).toDouble();
        const double s1 = query.value(7).toDouble();
        const double s2 = query.value(8).toDouble();
        const std::optional<double> low = numberCell(query.value(3)).number;
        const std::optional<double> high = numberCell(query.value(4)).number;
        std::optional<double> s;
        std::optional<double> cp;
        std::optional<double> k;
        if (n >= 2) {
            s = std::sqrt(std::max(0.0, (s2 - s1 * s1 / n) / (n - 1)));
        }
        if (s && *s > 0) {
            if (low && high) {
                cp = (*high - *low) / (6 * *s);
            }
            const double above = high ? (*high - mean) / (3 * *s) : INFINITY;
            const double below = low ? (mean - *low) / (3 * *s) : INFINITY;
            k = std::min(above, below);
        }
        CpkRow row;
        row.group = query.value(0).toString().toStdString();
        row.cpk = k;
        if (grouping != Grouping::None) {
            row.cells.push_back(textCell(query.value(0)));
        }
        const bool weak = k && *k < kCapableCpk;
        row.cells.insert(
            row.cells.end(),
            {textCell(query.value(1)), textCell(query.value(2)), numberCell(query.value(3)),
             numberCell(query.value(4)), numberCell(n), numberCell(mean), numberCell(s),
             numberCell(cp), numberCell(k), numberCell(query.value(9).toDouble() / n),
             weak ? Cell{std::string("below 1.33"), {}} : Cell{}});
        rows.push_back(std::move(row));
    }
    // Weakest first: a spread of none (every value alike) has no Cpk and goes last.
    std::stable_sort(rows.begin(), rows.end(), [](const CpkRow& a, const CpkRow& b) {
        if (a.group != b.group) {
            return a.group < b.group;
        }
        if (a.cpk.has_value() != b.cpk.has_value()) {
            return a.cpk.has_value();
        }
        return a.cpk && *a.cpk < *b.cpk;
    });
    for (CpkRow& row : rows) {
        table.rows.push_back(std::move(row.cells));
    }
    return true;
}

bool units(Store& store, const Filter& filter, Table& table, std::string& problem) {
    QVariantList binds;
    const QString sql =
        QStringLiteral(
            "SELECT u.start_utc, u.serial, u.outcome, u.station, u.operator, u.board, "
            "(SELECT c.name || ': ' || c.reason FROM checks c WHERE c.unit_id = u.id AND "
            "c.result = 'FAIL' ORDER BY c.position LIMIT 1), u.version, u.record_id "
            "FROM units u WHERE 1 = 1%1 ORDER BY u.start_ms, u.id")
            .arg(whereClause(filter, binds));
    QSqlQuery query;
    if (!run(store, sql, binds, query, problem)) {
        return false;
    }
    table.definition =
        "Each record in the range, oldest first; first_failure: the first failed check and "
        "its reason.";
    table.columns = {
        {"start_utc", Kind::Text},     {"serial", Kind::Text},   {"outcome", Kind::Text},
        {"station", Kind::Text},       {"operator", Kind::Text}, {"board", Kind::Text},
        {"first_failure", Kind::Text}, {"version", Kind::Text},  {"record_id", Kind::Text}};
    while (query.next()) {
        std::vector<Cell> row;
        for (int i = 0; i < 9; ++i) {
            const QVariant value = query.value(i);
            // An empty field is one that was not given.
            row.push_back(value.toString().isEmpty() ? Cell{} : textCell(value));
        }
        table.rows.push_back(std::move(row));
    }
    return true;
}

// The shortest text that reads back as `value`, rounded to `digits` significant digits.
std::string shortNumber(double value, int digits) {
    if (std::isinf(value)) {
        return value > 0 ? "inf" : "-inf";
    }
    char text[64];
    const auto done =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, digits);
    std::string result(text, done.ptr);
    // to_chars' general form keeps no trailing zeros already; a rounded "-0" reads as 0.
    return result == "-0" ? "0" : result;
}

std::string shown(const Column& column, const Cell& cell, bool forPerson) {
    if (column.kind == Kind::Text) {
        return cell.text.value_or("");
    }
    if (!cell.number) {
        return "";
    }
    const double value = *cell.number;
    switch (column.kind) {
        case Kind::Count:
            return shortNumber(value, 15);
        case Kind::Fraction:
            if (forPerson) {
                char text[32];
                std::snprintf(text, sizeof text, "%.1f%%", value * 100);
                return text;
            }
            return shortNumber(value, 6);
        case Kind::Number:
        case Kind::Text:
            break;
    }
    return shortNumber(value, forPerson ? 4 : 8);
}

std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return quoted + '"';
}

// Display width in characters, not bytes, for UTF-8 names.
std::size_t width(const std::string& text) {
    return static_cast<std::size_t>(std::ranges::count_if(
        text, [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

}  // namespace

bool answer(Store& store, Answer asked, const Filter& filter, Grouping grouping, Table& table,
            std::string& problem) {
    table = {};
    switch (asked) {
        case Answer::Yield:
            return yield(store, filter, grouping, table, problem);
        case Answer::Pareto:
            return pareto(store, filter, grouping, table, problem);
        case Answer::Cpk:
            return cpk(store, filter, grouping, table, problem);
        case Answer::Units:
            return units(store, filter, table, problem);
    }
    return false;
}

std::string textTable(const Table& table) {
    std::vector<std::vector<std::string>> cells;
    std::vector<std::size_t> widths;
    for (const Column& column : table.columns) {
        widths.push_back(width(column.name));
    }
    for (const auto& row : table.rows) {
        std::vector<std::string> line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line.push_back(shown(table.columns[i], row[i], true));
            if (line.back().empty()) {
                line.back() = "-";
            }
            widths[i] = std::max(widths[i], width(line.back()));
        }
        cells.push_back(std::move(line));
    }
    // The definition in lines of at most 90 characters, as the help text is.
    std::string text;
    std::string line;
    std::size_t start = 0;
    while (start < table.definition.size()) {
        std::size_t end = table.definition.find(' ', start);
        end = end == std::string::npos ? table.definition.size() : end;
        const std::string word = table.definition.substr(start, end - start);
        if (!line.empty() && width(line) + 1 + width(word) > 90) {
            text += line + '\n';
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
        start = end + 1;
    }
    text += line + "\n\n";
    const auto addLine = [&](const std::vector<std::string>& line) {
        std::string out;
        for (std::size_t i = 0; i < line.size(); ++i) {
            const std::string pad(widths[i] - width(line[i]), ' ');
            const bool right = table.columns[i].kind != Kind::Text;
            out += (i == 0 ? "" : "  ") + (right ? pad + line[i] : line[i] + pad);
        }
        while (!out.empty() && out.back() == ' ') {
            out.pop_back();
        }
        text += out + '\n';
    };
    std::vector<std::string> header;
    for (const Column& column : table.columns) {
        header.push_back(column.name);
    }
    addLine(header);
    for (const auto& line : cells) {
        addLine(line);
    }
    if (table.rows.empty()) {
        text += "(no records in the range)\n";
    }
    return text;
}

std::string csvTable(const Table& table) {
    std::string text;
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
        // Two appends, not "," + text: GCC 12 at -O3 takes that for an overlapping copy.
        text += i == 0 ? "" : ",";
        text += csvField(table.columns[i].name);
    }
    text += "\r\n";
    for (const auto& row : table.rows) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            text += i == 0 ? "" : ",";
            text += csvField(shown(table.columns[i], row[i], false));
        }
        text += "\r\n";
    }
    return text;
}

std::string jsonTable(const Table& table) {
    std::string text;
    for (const auto& row : table.rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            const Column& column = table.columns[i];
            const std::string value = shown(column, row[i], false);
            line += i == 0 ? "{" : ",";
            line += jsonString(column.name);
            line += ':';
            // JSON has no infinity: a one-sided limit's missing side is null.
            line += value.empty() || value == "inf" || value == "-inf" ? "null"
                    : column.kind == Kind::Text                        ? jsonString(value)
                                                                       : value;
        }
        text += line + "}\n";
    }
    return text;
}

std::optional<std::int64_t> parseUtc(const std::string& text) {
    const QString given = QString::fromStdString(text);
    const QString date = given.left(10);
    const QDate day = QDate::fromString(date, QStringLiteral("yyyy-MM-dd"));
    if (!day.isValid()) {
        return std::nullopt;
    }
    QTime time(0, 0);
    if (given.size() > 10) {
        const QString rest = given.mid(10);
        time = QTime::fromString(
            rest, rest.size() == 6 ? QStringLiteral("THH:mm") : QStringLiteral("THH:mm:ss"));
        if (!time.isValid()) {
            return std::nullopt;
        }
    }
    return QDateTime(day, time, QTimeZone::utc()).toMSecsSinceEpoch();
}

}  // namespace vardek::results

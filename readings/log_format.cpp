#include "readings/log_format.h"

#include <charconv>
#include <cstdio>
#include <vector>

namespace vardek::readings {

namespace {

// Every number is written the same whatever the locale: to_chars never uses a decimal comma.
// The largest double written out in full, its decimals and sign included, fits.
std::string fixed(double value, int decimals) {
    char text[400];
    const auto end =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals).ptr;
    return {text, end};
}

std::string elapsedText(std::chrono::milliseconds elapsed) {
    const auto ms = elapsed.count();
    std::string fraction = std::to_string(ms % 1000);
    return std::to_string(ms / 1000) + '.' + std::string(3 - fraction.size(), '0') + fraction;
}

// The columns of one sample, named, in order; nothing for a value that did not come. Strings
// are marked so that JSON can quote them; they are our own texts, which hold nothing that
// needs escaping.
struct Field {
    std::string name;
    std::optional<std::string> value;
    bool text = false;
};

std::vector<Field> fields(const Sample* sample, const Pins& pins, bool csv) {
    std::vector<Field> out;
    const auto add = [&out](std::string name, std::optional<std::string> value, bool text) {
        out.push_back({std::move(name), std::move(value), text});
    };
    const Sample empty;
    const Sample& s = sample != nullptr ? *sample : empty;
    add("time_utc", csv ? spreadsheetTime(s.time) : utcText(s.time), true);
    add("elapsed_s", elapsedText(s.elapsed), false);
    add("result", resultText(s), true);
    add("rtt_ms", s.rttMs ? std::optional(fixed(*s.rttMs, 3)) : std::nullopt, false);
    add("port_b", s.portB ? std::optional(std::to_string(*s.portB)) : std::nullopt, false);
    for (int bit = 0; bit < 8; ++bit) {
        add(link::portBPinName(bit),
            s.portB ? std::optional(std::to_string(*s.portB >> bit & 1)) : std::nullopt, false);
    }
    for (std::size_t i = 0; i < link::kChannels.size(); ++i) {
        if (!pins.test(i)) {
            continue;
        }
        const link::Channel& channel = link::kChannels[i];
        const int decimals = channel.reading == link::Reading::Temperature ? 1 : 0;
        add(std::string(columnName(channel)),
            s.values[i] ? std::optional(fixed(*s.values[i], decimals)) : std::nullopt, false);
    }
    add("retries", std::to_string(s.retries), false);
    add("late_replies", std::to_string(s.lateReplies), false);
    return out;
}

}  // namespace

std::string csvHeader(const Pins& pins) {
    std::string line;
    for (const Field& field : fields(nullptr, pins, true)) {
        line += (line.empty() ? "" : ",") + field.name;
    }
    return line + "\r\n";
}

std::string csvRow(const Sample& sample, const Pins& pins) {
    std::string line;
    bool first = true;
    for (const Field& field : fields(&sample, pins, true)) {
        // Two appends, not one sum: GCC 12 at -O3 takes "," + value_or("") for an overlapping copy.
        line += first ? "" : ",";
        line += field.value.value_or("");
        first = false;
    }
    return line + "\r\n";
}

std::string jsonLine(const Sample& sample, const Pins& pins) {
    std::string line;
    for (const Field& field : fields(&sample, pins, false)) {
        line += (line.empty() ? "{\"" : ",\"") + field.name + "\":";
        if (!field.value) {
            line += "null";
        } else if (field.text) {
            line += '"' + *field.value + '"';
        } else {
            line += *field.value;
        }
    }
    return line + "}\n";
}

std::string jsonString(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            quoted += escape;
        } else {
            quoted += c;
        }
    }
    return quoted + '"';
}

}  // namespace vardek::readings

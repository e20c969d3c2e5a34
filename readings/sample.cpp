#include "readings/sample.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>

#include "link/reply_text.h"

namespace vardek::readings {

namespace {

bool sameLetters(std::string_view a, std::string_view b) {
    return std::ranges::equal(
        a, b, [](unsigned char x, unsigned char y) { return std::toupper(x) == std::toupper(y); });
}

}  // namespace

std::optional<Pins> parsePins(std::string_view text) {
    if (sameLetters(text, "all")) {
        return Pins().set();
    }
    Pins pins;
    while (true) {
        const std::size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        const link::Channel* found = link::parseAnaloguePin(item);
        if (found == nullptr) {
            return std::nullopt;
        }
        pins.set(static_cast<std::size_t>(found - link::kChannels.data()));
        if (comma == std::string_view::npos) {
            return pins;
        }
        text.remove_prefix(comma + 1);
    }
}

std::optional<std::chrono::milliseconds> parseDuration(std::string_view text) {
    std::uint64_t number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc{} || end == text.data()) {
        return std::nullopt;
    }
    const std::string_view unit(end, static_cast<std::size_t>(text.data() + text.size() - end));
    constexpr std::array<std::pair<std::string_view, std::uint64_t>, 4> kUnits{
        {{"ms", 1}, {"s", 1000}, {"min", 60'000}, {"h", 3'600'000}}};
    const auto found =
        std::ranges::find(kUnits, unit, &std::pair<std::string_view, std::uint64_t>::first);
    constexpr std::uint64_t kYearMs = 366ULL * 24 * 3'600'000;
    if (found == kUnits.end() || number == 0 || number > kYearMs / found->second) {
        return std::nullopt;
    }
    return std::chrono::milliseconds(number * found->second);
}

double channelValue(const link::Channel& channel, std::uint16_t conversion) {
    if (channel.reading == link::Reading::Temperature) {
        return link::temperatureCelsius(conversion);
    }
    return conversion;
}

std::string resultText(const Sample& sample) {
    switch (sample.result) {
        case Result::Ok:
            return "ok";
        case Result::NoReply:
            return "no-reply";
        case Result::Late:
            return "late";
        case Result::WrongSize:
            return "wrong-size:" + std::to_string(sample.replySize);
        case Result::NotSent:
            return "not-sent";
        case Result::NotWritten:
            return "not-written";
    }
    return {};
}

std::string_view columnName(const link::Channel& channel) {
    return channel.reading == link::Reading::Temperature ? "RA5_degC" : channel.pin;
}

namespace {

std::string timeText(UtcTime time, char between, const char* zone) {
    using namespace std::chrono;
    const auto day = floor<days>(time);
    const year_month_day date{day};
    const hh_mm_ss clock{time - day};
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u%c%02d:%02d:%02d.%03d%s", int(date.year()),
                  unsigned(date.month()), unsigned(date.day()), between, int(clock.hours().count()),
                  int(clock.minutes().count()), int(clock.seconds().count()),
                  int(clock.subseconds().count()), zone);
    return text;
}

}  // namespace

std::string utcText(UtcTime time) { return timeText(time, 'T', "Z"); }

std::string spreadsheetTime(UtcTime time) { return timeText(time, ' ', ""); }

}  // namespace vardek::readings

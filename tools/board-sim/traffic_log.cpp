#include "tools/board-sim/traffic_log.h"

#include <array>
#include <ctime>

#include "link/reply_text.h"

namespace vardek::sim {

std::string timestamp(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto since = time.time_since_epoch();
    const auto seconds = floor<std::chrono::seconds>(since);
    const auto millis = duration_cast<milliseconds>(since - seconds).count();
    const std::time_t whole = seconds.count();
    std::tm utc{};
    gmtime_r(&whole, &utc);
    std::array<char, 40> text{};
    const std::size_t length = std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%S", &utc);
    std::string result(text.data(), length);
    result += '.';
    result += static_cast<char>('0' + millis / 100);
    result += static_cast<char>('0' + millis / 10 % 10);
    result += static_cast<char>('0' + millis % 10);
    result += 'Z';
    return result;
}

std::string datagramText(std::span<const std::uint8_t> bytes) {
    // Appended piece by piece: GCC 12 at -O3 warns (-Wrestrict) on `"[" + std::to_string(n)`.
    std::string text = "[";
    text += std::to_string(bytes.size());
    text += ']';
    if (!bytes.empty()) {
        text += ' ';
        text += link::hexText(bytes, 3, kLoggedBytes);
    }
    return text;
}

}  // namespace vardek::sim

// The pieces of the simulator's traffic log, one line per datagram in or out.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

namespace vardek::sim {

// Longer datagrams are logged by their first bytes and a count of the rest.
inline constexpr std::size_t kLoggedBytes = 16;

// ISO 8601 in UTC with milliseconds: "2025-03-01T09:30:00.250Z".
std::string timestamp(std::chrono::system_clock::time_point time);

// The size in brackets and the bytes as the panel's dump shows them: "[3] 001 006 002".
std::string datagramText(std::span<const std::uint8_t> bytes);

}  // namespace vardek::sim

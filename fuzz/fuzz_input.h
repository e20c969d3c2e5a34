// What the fuzz targets share: reading a fuzzer's input front to back as a little program, and
// stopping at a broken rule with a message that names it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

namespace vardek::fuzz {

// Reads bytes in order; past the end every read gives zeros, so any input is a whole program.
class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size) : bytes_(data, size) {}

    bool done() const { return bytes_.empty(); }

    std::uint8_t byte() {
        if (bytes_.empty()) {
            return 0;
        }
        const std::uint8_t value = bytes_.front();
        bytes_ = bytes_.subspan(1);
        return value;
    }

    // Big-endian, as the seed files are easiest to read in a hex dump.
    std::uint16_t u16() { return static_cast<std::uint16_t>(byte() << 8 | byte()); }
    std::uint32_t u32() { return static_cast<std::uint32_t>(u16()) << 16 | u16(); }

    // Up to `count` bytes, fewer when the input runs out.
    std::vector<std::uint8_t> bytes(std::size_t count) {
        const std::size_t taken = std::min(count, bytes_.size());
        std::vector<std::uint8_t> out(bytes_.begin(), bytes_.begin() + taken);
        bytes_ = bytes_.subspan(taken);
        return out;
    }

  private:
    std::span<const std::uint8_t> bytes_;
};

// A broken rule is a finding: libFuzzer keeps the input that led here.
[[noreturn]] inline void fail(const char* rule, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: broken: %s\n", file, line, rule);
    std::abort();
}

}  // namespace vardek::fuzz

#define FUZZ_REQUIRE(condition) \
    ((condition) ? void(0) : ::vardek::fuzz::fail(#condition, __FILE__, __LINE__))

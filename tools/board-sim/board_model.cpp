#include "tools/board-sim/board_model.h"

#include <algorithm>

namespace vardek::sim {

namespace {

// A board left alone for days catches up in bounded work; past this many steps the readings are
// as mixed as they will get anyway.
constexpr std::int64_t kMaxCatchUpSteps = 10000;

// On each drift step: RA0..RA3 move by -1, 0 or +1; RA5 moves by one with chance 2/32, about
// every 4 s at the default period; each input flips with chance 1/40, about every 10 s.
constexpr unsigned kTemperatureSides = 32;
constexpr unsigned kInputFlipSides = 40;

std::uint16_t clampedStep(std::uint16_t value, int delta, std::uint16_t low, std::uint16_t high) {
    return static_cast<std::uint16_t>(std::clamp(value + delta, int{low}, int{high}));
}

bool isTemperature(std::size_t channel) {
    return link::kChannels[channel].reading == link::Reading::Temperature;
}

}  // namespace

BoardModel::BoardModel(const BoardConfig& config) : config_(config) {
    state_.random.seed(config.seed);
    state_.outputs = config.initialPortB & link::kOutputMask;
    state_.inputs = config.initialPortB & link::kInputMask;
    applyStuckOutputs();
    // Raw inputs start well away from the rails, so the first minutes of drift look like a sensor
    // rather than a stuck pin.
    for (std::size_t channel = 0; channel < state_.readings.size(); ++channel) {
        state_.readings[channel] =
            isTemperature(channel)
                ? static_cast<std::uint16_t>(kTemperatureMin +
                                             roll(kTemperatureMax - kTemperatureMin + 1))
                : static_cast<std::uint16_t>(100 + roll(kRawMax - 199));
    }
}

Outcome BoardModel::handle(std::span<const std::uint8_t> datagram, Millis now) {
    const auto request = link::decodeRequest(datagram);
    if (!request) {
        return {};
    }
    drift(now);
    ++state_.requests;
    switch (request->command) {
        case link::kSetBitCommand:
            state_.outputs |= static_cast<std::uint8_t>(1u << request->argument);
            break;
        case link::kClearBitCommand:
            state_.outputs &= static_cast<std::uint8_t>(~(1u << request->argument));
            break;
        case link::kReadChannelCommand: {
            const auto channel =
                static_cast<std::size_t>(link::findChannel(request->argument)->number);
            state_.lastConversion =
                config_.faults.fixedResults[channel].value_or(state_.readings[channel]);
            break;
        }
        case link::kStatusCommand:
            break;
    }
    applyStuckOutputs();
    if (config_.faults.dropEvery != 0 && state_.requests % config_.faults.dropEvery == 0) {
        return {Disposition::Dropped, request, {}};
    }
    return {Disposition::Answered, request, replyTo(*request)};
}

void BoardModel::setFaults(const Faults& faults) {
    config_.faults = faults;
    applyStuckOutputs();
}

void BoardModel::drift(Millis now) {
    if (config_.driftPeriod <= Millis::zero()) {
        return;
    }
    const std::int64_t target = now / config_.driftPeriod;
    if (target <= state_.driftSteps) {
        return;
    }
    const std::int64_t steps = std::min(target - state_.driftSteps, kMaxCatchUpSteps);
    for (std::int64_t i = 0; i < steps; ++i) {
        driftStep();
    }
    state_.driftSteps = target;
}

void BoardModel::driftStep() {
    for (std::size_t channel = 0; channel < state_.readings.size(); ++channel) {
        auto& reading = state_.readings[channel];
        if (isTemperature(channel)) {
            const unsigned draw = roll(kTemperatureSides);
            const int delta = draw == 0 ? -1 : draw == 1 ? 1 : 0;
            reading = clampedStep(reading, delta, kTemperatureMin, kTemperatureMax);
        } else {
            reading = clampedStep(reading, static_cast<int>(roll(3)) - 1, 0, kRawMax);
        }
    }
    for (const std::uint8_t input : {0x01, 0x02}) {
        if (roll(kInputFlipSides) == 0) {
            state_.inputs ^= input;
        }
    }
}

void BoardModel::applyStuckOutputs() {
    const auto stuck = static_cast<std::uint8_t>(config_.faults.stuckMask & link::kOutputMask);
    state_.outputs =
        static_cast<std::uint8_t>((state_.outputs & ~stuck) | (config_.faults.stuckLevels & stuck));
}

unsigned BoardModel::roll(unsigned sides) { return static_cast<unsigned>(state_.random() % sides); }

Bytes BoardModel::replyTo(const link::DecodedRequest& request) const {
    link::Reply full = link::encodeReply(state_.portB(), state_.lastConversion);
    // The bytes the panel does not interpret tell a person reading a dump what was answered.
    full.bytes[0] = request.command;
    full.bytes[2] = request.argument;
    full.bytes[3] = static_cast<std::uint8_t>(state_.requests);
    Bytes reply(config_.faults.replySize, 0);
    std::copy_n(full.bytes.begin(), std::min(full.bytes.size(), reply.size()), reply.begin());
    return reply;
}

}  // namespace vardek::sim

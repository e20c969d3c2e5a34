#include "tools/trend/live_sampler.h"

#include <stdexcept>
#include <utility>

#include "link/udp_socket.h"

namespace vardek::trend {

namespace {

link::SocketAddress boardAddress(const SamplerConfig& config) {
    const auto address = link::parseIpv4(config.address);
    if (!address) {
        throw std::invalid_argument("\"" + config.address +
                                    "\" is not a dotted-decimal IPv4 address");
    }
    return {*address, config.port};
}

// One try per request, as vardek-trend has no --retries. A stranger's datagrams are dropped
// unseen, as the control window drops them.
board::ExchangeSettings exchangeSettings(const SamplerConfig& config, LiveSampler& sampler) {
    board::ExchangeSettings settings;
    settings.timeoutMs = static_cast<std::uint32_t>(config.timeout.count());
    settings.receiveFailed = [&sampler](const std::string& problem) {
        emit sampler.problemFound(QString::fromLocal8Bit(problem));
    };
    return settings;
}

}  // namespace

LiveSampler::LiveSampler(SamplerConfig config, QObject* parent)
    : QObject(parent),
      config_(std::move(config)),
      exchange_(boardAddress(config_), exchangeSettings(config_, *this), loop_),
      driver_(loop_) {
    connect(&driver_, &desktop::BoardLoopDriver::turned, this, [this] {
        if (sampling_->done()) {
            // The schedule has no end and this loop no stop signals: the sampling ends only by
            // an exception, which is let out rather than leave the chart standing still as if
            // the board had gone silent.
            sampling_->result();
        }
    });
    taken_ = [this](const readings::Sample& sample) {
        if (sample.result == readings::Result::NotSent) {
            emit problemFound(QString::fromLocal8Bit("cannot send to " + exchange_.board().text() +
                                                     ": " + exchange_.notSentReason()));
        }
        emit sampleTaken(sample);
        return true;
    };
}

LiveSampler::~LiveSampler() = default;

void LiveSampler::start() {
    schedule_.emplace(config_.interval, std::nullopt, std::nullopt);
    sampling_.emplace(board::sampleOnSchedule(exchange_, *schedule_, config_.pins, taken_));
    sampling_->start();
    driver_.watch();
}

}  // namespace vardek::trend

// Samples the board live on a socket of its own: the board answers every request to the port it
// came from, so the control window can stay open beside it. The samples are board/'s, as
// `vardek-probe watch` takes them: the status request, then one read per pin asked for, each
// matched by order with the late-reply grace, one sample per slot of the interval.
// Qt's event loop turns the board client's (desktop/board_loop_driver.h), so the samples reach
// the window on its own thread.
#pragma once

#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "board/board_exchange.h"
#include "board/event_loop.h"
#include "board/sampler.h"
#include "desktop/board_loop_driver.h"
#include "link/board_protocol.h"
#include "readings/sample.h"

namespace vardek::trend {

struct SamplerConfig {
    std::string address;  // dotted-decimal IPv4 address of the board
    std::uint16_t port = link::kBoardPort;
    std::chrono::milliseconds interval{1000};
    // How long each request waits for its reply; as long again for a late one.
    std::chrono::milliseconds timeout{500};
    readings::Pins pins;  // read after the status request, in the log's column order
};

class LiveSampler final : public QObject {
    Q_OBJECT

  public:
    // Opens the socket. Throws std::invalid_argument for an address that is not a dotted-decimal
    // IPv4 address, std::system_error when no socket can be opened.
    explicit LiveSampler(SamplerConfig config, QObject* parent = nullptr);
    ~LiveSampler() override;

    // Called once. Sample k is due k intervals after this call, on the monotonic clock, so that a
    // long run does not drift, and is stamped with that time; none is ever skipped. A sample may
    // take its slot, or one timeout where that is longer.
    void start();

    const SamplerConfig& config() const { return config_; }
    std::uint16_t localPort() const { return exchange_.localPort(); }

  signals:
    // Each sample as it is complete, missed ones included.
    void sampleTaken(const vardek::readings::Sample& sample);
    // A request that could not be sent or a datagram that could not be received, with the
    // reason.
    void problemFound(const QString& problem);

  private:
    SamplerConfig config_;
    board::EventLoop loop_;
    board::BoardExchange exchange_;
    std::optional<board::SampleSchedule> schedule_;
    board::SampleTaken taken_;
    // Declared after what it refers to, so that it is destroyed first: the sampling's coroutine
    // frames are let go between two turns, whatever they were waiting for.
    std::optional<board::Task<board::SamplingEnd>> sampling_;
    desktop::BoardLoopDriver driver_;
};

}  // namespace vardek::trend

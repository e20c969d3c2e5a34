// Samples the board live on a socket of its own: the board answers every request to the port it
// came from, so the control window can stay open beside it. The samples are board/'s, as
// `vardek-probe watch` takes them: the status request, then one read per pin asked for, each
// matched by order with the late-reply grace, one sample per slot of the interval.
//
// The board client is a sequence of coroutines on a poll() loop; here Qt's event loop turns it
// rather than a thread of its own: a QSocketNotifier on the exchange's socket and a timer for the
// next deadline call one turn that does not sleep. So the samples reach the window on its own
// thread, one at a time, with nothing shared between threads to guard and no thread to stop.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "board/board_exchange.h"
#include "board/event_loop.h"
#include "board/sampler.h"
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
    // One turn of the board's loop, without sleeping, then the next waits watched.
    void turn();
    void watchWaits();

    SamplerConfig config_;
    board::EventLoop loop_;
    board::BoardExchange exchange_;
    std::optional<board::SampleSchedule> schedule_;
    board::SampleTaken taken_;
    // Declared after what it refers to, so that it is destroyed first: the sampling's coroutine
    // frames are let go between two turns, whatever they were waiting for.
    std::optional<board::Task<board::SamplingEnd>> sampling_;
    QSocketNotifier readable_;
    QTimer deadline_;
};

}  // namespace vardek::trend

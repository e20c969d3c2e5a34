// Samples the board live on a socket of its own: the board answers every request to the port it
// came from, so the control window can stay open beside it. Each sample is one status request,
// then one read per pin asked for, one at a time and matched by order, as the board's replies
// name no request.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/board_protocol.h"
#include "link/datagram_endpoint.h"
#include "tools/trend/trace.h"

namespace vardek::trend {

struct SamplerConfig {
    link::EndpointConfig endpoint;
    std::chrono::milliseconds interval{1000};
    // How long each request waits for its reply.
    std::chrono::milliseconds timeout{500};
    // Indices into link::kChannels, read in this order after the status request.
    std::vector<std::size_t> pins;
};

class LiveSampler final : public QObject {
    Q_OBJECT

  public:
    // Opens the socket; throws as DatagramEndpoint does.
    explicit LiveSampler(SamplerConfig config, QObject* parent = nullptr);
    ~LiveSampler() override;

    // Sample k starts at k intervals after this call, on the monotonic clock, so that a long
    // run does not drift. A sample that overruns its slot is followed at once by the next,
    // which counts as late; none is ever skipped.
    void start();

    const SamplerConfig& config() const { return config_; }
    std::uint16_t localPort() const { return endpoint_->localPort(); }
    std::uint64_t samples() const { return samples_; }
    std::uint64_t late() const { return late_; }

  signals:
    // Each sample as it is complete, missed ones included.
    void sampleTaken(const vardek::trend::Sample& sample);
    // A request that could not be sent, with the reason.
    void sendFailed(const QString& problem);

  private:
    enum class Waiting { Nothing, Reply, LateReply };

    void onSlot();
    // Sends what comes next, once no reply is awaited: the sample's next request, else the next
    // sample when its slot has come.
    void proceed();
    void beginSample();
    void sendStep();
    void onDatagram(int size);
    void onReplyTimeout();
    // The answer to the request of step_: `size` bytes in buffer_, or none.
    static constexpr int kNoReply = -1;
    static constexpr int kNotSent = -2;
    void record(int size);
    void finishSample();
    std::size_t steps() const { return 1 + config_.pins.size(); }

    SamplerConfig config_;
    std::unique_ptr<link::DatagramEndpoint> endpoint_;
    QElapsedTimer clock_;
    QTimer slotTimer_;
    QTimer replyTimer_;
    QElapsedTimer sentAt_;
    std::vector<std::uint8_t> buffer_;

    Waiting waiting_ = Waiting::Nothing;
    bool inSample_ = false;
    bool slotDue_ = false;       // the next sample's slot has come
    bool onTime_ = false;        // and nothing held it up: the sample begins at its slot
    std::uint64_t started_ = 0;  // samples begun; sample k's slot is at k intervals
    std::size_t step_ = 0;       // 0: the status request; 1 and on: the pins' reads
    Sample sample_;
    std::uint64_t samples_ = 0;
    std::uint64_t late_ = 0;
};

}  // namespace vardek::trend

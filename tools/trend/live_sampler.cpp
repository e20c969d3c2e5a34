#include "tools/trend/live_sampler.h"

#include <QDateTime>

#include <exception>
#include <span>
#include <utility>

#include "link/reply_text.h"

namespace vardek::trend {

LiveSampler::LiveSampler(SamplerConfig config, QObject* parent)
    : QObject(parent),
      config_(std::move(config)),
      endpoint_(std::make_unique<link::DatagramEndpoint>(config_.endpoint)),
      buffer_(link::kReceiveCapacity) {
    endpoint_->OnDataReceived = [this](int size, const std::string&, int) { onDatagram(size); };
    slotTimer_.setSingleShot(true);
    slotTimer_.setTimerType(Qt::PreciseTimer);
    connect(&slotTimer_, &QTimer::timeout, this, &LiveSampler::onSlot);
    replyTimer_.setSingleShot(true);
    replyTimer_.setTimerType(Qt::PreciseTimer);
    connect(&replyTimer_, &QTimer::timeout, this, &LiveSampler::onReplyTimeout);
}

LiveSampler::~LiveSampler() = default;

void LiveSampler::start() {
    clock_.start();
    started_ = 0;
    onSlot();
}

void LiveSampler::onSlot() {
    slotDue_ = true;
    onTime_ = waiting_ == Waiting::Nothing && !inSample_;
    proceed();
}

void LiveSampler::proceed() {
    if (waiting_ != Waiting::Nothing) {
        return;
    }
    if (inSample_) {
        if (step_ < steps()) {
            sendStep();
        } else {
            finishSample();
        }
    } else if (slotDue_) {
        slotDue_ = false;
        beginSample();
    }
}

void LiveSampler::beginSample() {
    if (!onTime_) {
        ++late_;
    }
    onTime_ = false;
    ++started_;
    inSample_ = true;
    step_ = 0;
    sample_ = Sample{};
    sample_.result = Sample::Result::Ok;
    sample_.timeMs = QDateTime::currentMSecsSinceEpoch();
    sample_.elapsedS = static_cast<double>(clock_.nsecsElapsed()) / 1e9;
    sendStep();
}

void LiveSampler::sendStep() {
    const link::Request request =
        step_ == 0 ? link::statusRequest()
                   : link::readChannelRequest(link::kChannels[config_.pins[step_ - 1]].selector);
    try {
        endpoint_->SendBuffer(request.buffer, request.count);
    } catch (const std::exception& error) {
        // Nothing went out, so no late reply can follow: the step is missed and the next goes.
        emit sendFailed(QString::fromLocal8Bit(error.what()));
        record(kNotSent);
        proceed();
        return;
    }
    sentAt_.start();
    waiting_ = Waiting::Reply;
    replyTimer_.start(config_.timeout);
}

void LiveSampler::onDatagram(int size) {
    // Taken off the endpoint whatever it answers, so it cannot be read as a later answer.
    int copied = 0;
    endpoint_->ReadBuffer(buffer_, copied);
    switch (waiting_) {
        case Waiting::Nothing:
            // Answers no request of ours: a reply come after its grace, or a second one.
            return;
        case Waiting::LateReply:
            // The late answer to a request that timed out: dropped, and the order is sound again.
            replyTimer_.stop();
            waiting_ = Waiting::Nothing;
            proceed();
            return;
        case Waiting::Reply:
            replyTimer_.stop();
            waiting_ = Waiting::Nothing;
            record(size);
            proceed();
            return;
    }
}

void LiveSampler::onReplyTimeout() {
    if (waiting_ == Waiting::Reply) {
        record(kNoReply);
        // Its reply may still come, and would then be taken as the answer to the next request:
        // wait up to one more timeout for it before sending anything.
        waiting_ = Waiting::LateReply;
        replyTimer_.start(config_.timeout);
        return;
    }
    waiting_ = Waiting::Nothing;
    proceed();
}

void LiveSampler::record(int size) {
    const std::size_t step = step_++;
    std::optional<link::Reply> reply;
    if (size >= 0) {
        reply = link::decodeReply(
            std::span(buffer_).first(std::min(static_cast<std::size_t>(size), buffer_.size())));
    }
    if (!reply && sample_.result == Sample::Result::Ok) {
        // The sample's result is that of the first request that went wrong.
        sample_.result = size == kNotSent   ? Sample::Result::NotSent
                         : size == kNoReply ? Sample::Result::NoReply
                                            : Sample::Result::WrongSize;
        sample_.wrongSize = static_cast<std::uint16_t>(std::clamp(size, 0, 65535));
    }
    if (step == 0) {
        if (reply) {
            sample_.portB = reply->portB();
            sample_.rttMs = static_cast<float>(static_cast<double>(sentAt_.nsecsElapsed()) / 1e6);
        }
    } else if (reply) {
        const link::Channel& channel = link::kChannels[config_.pins[step - 1]];
        sample_.analogue[static_cast<std::size_t>(channel.number)] =
            channel.reading == link::Reading::Temperature
                ? static_cast<float>(link::temperatureCelsius(reply->conversion()))
                : static_cast<float>(reply->conversion());
    }
    if (step_ >= steps()) {
        finishSample();
    }
}

void LiveSampler::finishSample() {
    if (!inSample_) {
        return;
    }
    inSample_ = false;
    ++samples_;
    emit sampleTaken(sample_);
    const qint64 nextSlotMs = static_cast<qint64>(started_) * config_.interval.count();
    const qint64 wait = nextSlotMs - clock_.elapsed();
    if (wait <= 0) {
        slotDue_ = true;
    } else {
        slotTimer_.start(std::chrono::milliseconds(wait));
    }
}

}  // namespace vardek::trend

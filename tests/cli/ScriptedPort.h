#pragma once

#include "SerialPort.h"

#include <QDeadlineTimer>
#include <QList>
#include <QTimer>

#include <memory>

namespace tilu::testing {

// What the line does after one frame was written.
struct TLineStep {
    QByteArray Reply; // arrives ReplyAfterMs after the write; none: silence
    int ReplyAfterMs = 5;
    QByteArray Late; // a second piece, LateAfterMs after the first
    int LateAfterMs = 0;
    TComErrors LineError = 0; // reported together with the reply
    bool Lose = false;        // the device goes away instead of answering
};

inline TLineStep Answer(const QByteArray& reply) {
    TLineStep step;
    step.Reply = reply;
    return step;
}
inline TLineStep InPieces(const QByteArray& first, const QByteArray& late, int lateAfterMs) {
    TLineStep step = Answer(first);
    step.Late = late;
    step.LateAfterMs = lateAfterMs;
    return step;
}
inline TLineStep WithLineError(const QByteArray& reply, TComErrors errors) {
    TLineStep step = Answer(reply);
    step.LineError = errors;
    return step;
}
inline TLineStep DeviceLoss() {
    TLineStep step;
    step.Lose = true;
    return step;
}

// The port's whole history, kept beyond the port's life so that a test reads it after the
// command has closed the port.
struct TLineScript {
    QList<TLineStep> Steps; // one per written frame, in order
    QList<QByteArray> Written;
    QList<QString> Events; // "purge", "write", "close", in order
    bool FailPurge = false;
    bool FailWrite = false;
};

// A port whose far end follows a script: each written frame takes the next step, and its
// bytes and events arrive later from the event loop, as from a real line.
class ScriptedPort final : public ISerialPort {
    Q_OBJECT
public:
    explicit ScriptedPort(std::shared_ptr<TLineScript> script) : script_(std::move(script)) {}
    ~ScriptedPort() override { close(); }

    bool open(const QString& name) override {
        name_ = name;
        open_ = true;
        return true;
    }
    void close() override {
        if (open_) {
            script_->Events.append(QStringLiteral("close"));
        }
        open_ = false;
    }
    bool isOpen() const override { return open_; }
    QString portName() const override { return name_; }
    bool purgeQueues() override {
        script_->Events.append(QStringLiteral("purge"));
        if (script_->FailPurge) {
            return false;
        }
        takeArrived();
        incoming_.clear();
        return true;
    }
    bool writeBytes(const QByteArray& bytes) override {
        script_->Events.append(QStringLiteral("write"));
        if (script_->FailWrite) {
            return false;
        }
        script_->Written.append(bytes);
        if (script_->Steps.isEmpty()) {
            return true;
        }
        const TLineStep step = script_->Steps.takeFirst();
        if (step.Lose) {
            QTimer::singleShot(step.ReplyAfterMs, this, [this] {
                open_ = false;
                Q_EMIT deviceLost(QStringLiteral("the adapter was unplugged"));
            });
            return true;
        }
        if (step.LineError != 0) {
            QTimer::singleShot(step.ReplyAfterMs, this,
                               [this, step] { Q_EMIT lineError(step.LineError); });
        }
        if (!step.Reply.isEmpty()) {
            arriveLater(step.Reply, step.ReplyAfterMs);
        }
        if (!step.Late.isEmpty()) {
            arriveLater(step.Late, step.ReplyAfterMs + step.LateAfterMs);
        }
        return true;
    }
    qint64 waitingByteCount() override {
        takeArrived();
        return incoming_.size();
    }
    QByteArray readBytes(qint64 maxCount) override {
        takeArrived();
        const QByteArray taken = incoming_.left(maxCount);
        incoming_.remove(0, taken.size());
        return taken;
    }
    QString errorText() const override { return QStringLiteral("Input/output error"); }

private:
    struct TArrival {
        QDeadlineTimer At;
        QByteArray Bytes;
    };

    // Bytes reach the receive queue at their time whether or not the event loop runs, as in
    // a driver; the event that announces them needs the loop.
    void arriveLater(const QByteArray& bytes, int afterMs) {
        arrivals_.append({QDeadlineTimer(afterMs, Qt::PreciseTimer), bytes});
        QTimer::singleShot(afterMs, Qt::PreciseTimer, this, [this] {
            if (waitingByteCount() > 0) {
                Q_EMIT rxChar(incoming_.size());
            }
        });
    }
    void takeArrived() {
        while (!arrivals_.isEmpty() && arrivals_.first().At.hasExpired()) {
            incoming_.append(arrivals_.takeFirst().Bytes);
        }
    }

    QList<TArrival> arrivals_;
    std::shared_ptr<TLineScript> script_;
    QString name_;
    bool open_ = false;
    QByteArray incoming_;
};

} // namespace tilu::testing

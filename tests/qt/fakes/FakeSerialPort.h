#pragma once

#include "SerialPort.h"

#include <QList>
#include <QSet>

namespace tilu::testing {

// A serial port in memory: records what is written and purged, and hands the test's bytes
// to the program as if they had arrived on the line.
class FakeSerialPort final : public ISerialPort {
    Q_OBJECT
public:
    QSet<QString> failingPorts; // open() of these fails
    bool failPurge = false;
    bool failWrite = false;
    QString failureText = QStringLiteral("Ошибка порта");
    QList<QByteArray> written;
    int purges = 0;
    int opens = 0;
    int closes = 0;
    QByteArray incoming; // the receive queue

    bool open(const QString& name) override {
        ++opens;
        if (failingPorts.contains(name)) {
            return false;
        }
        name_ = name;
        open_ = true;
        return true;
    }
    void close() override {
        if (open_) {
            ++closes;
        }
        open_ = false;
    }
    bool isOpen() const override { return open_; }
    QString portName() const override { return name_; }
    bool purgeQueues() override {
        if (failPurge) {
            return false;
        }
        ++purges;
        incoming.clear();
        return true;
    }
    bool writeBytes(const QByteArray& bytes) override {
        if (failWrite) {
            return false;
        }
        written.append(bytes);
        return true;
    }
    qint64 waitingByteCount() override { return incoming.size(); }
    QByteArray readBytes(qint64 maxCount) override {
        const QByteArray taken = incoming.left(maxCount);
        incoming.remove(0, taken.size());
        return taken;
    }
    QString errorText() const override { return failureText; }

    // Bytes arrive on the line: they join the receive queue and the event is raised.
    void deliver(const QByteArray& bytes) {
        incoming.append(bytes);
        Q_EMIT rxChar(incoming.size());
    }
    void raiseLineError(TComErrors errors) { Q_EMIT lineError(errors); }

private:
    QString name_;
    bool open_ = false;
};

} // namespace tilu::testing

#pragma once

#include "link/Frames.h"

#include <QByteArray>
#include <QObject>
#include <QString>

namespace tilu {

// The serial port as the program uses it. Opening applies the one set of line settings the
// emulator needs (9600 bit/s, 8N1, no flow control on sending, DTR and RTS raised, writes
// bounded by 60 ms per byte plus 100 ms). Operations that can fail return false and leave
// the port's own error text in errorText().
class ISerialPort : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~ISerialPort() override = default;

    virtual bool open(const QString& portName) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual QString portName() const = 0;

    // Discards every byte waiting in the transmit and receive queues.
    virtual bool purgeQueues() = 0;
    // Returns once the bytes are written or the write timeout ended it.
    virtual bool writeBytes(const QByteArray& bytes) = 0;
    // Bytes waiting in the receive queue, read from the device even while the event loop is
    // blocked.
    virtual qint64 waitingByteCount() = 0;
    virtual QByteArray readBytes(qint64 maxCount) = 0;

    virtual QString errorText() const = 0;

Q_SIGNALS:
    // Characters arrived and at least one byte is waiting. When a line error is seen at the
    // same moment, lineError() is emitted first.
    void rxChar(qint64 waitingCount);
    void lineError(tilu::TComErrors errors);
    // The device went away while open (unplugged adapter). The port is already closed.
    void deviceLost(const QString& reason);
};

} // namespace tilu

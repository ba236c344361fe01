#pragma once

#include "LineErrorCounters.h"
#include "SerialPort.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QSerialPort>
#include <QTimer>

#include <memory>
#include <optional>

namespace tilu {

// The real serial port on QSerialPort.
//
// Events reach the program the way a serial component with its own watcher thread hands them
// over: only from the event loop, never from inside one of this port's own operations, never
// while a handler of an earlier event still runs (its modal boxes included), and within one
// moment the line error before the received characters.
class QtSerialPort final : public ISerialPort {
    Q_OBJECT
public:
    explicit QtSerialPort(QObject* parent = nullptr);
    explicit QtSerialPort(std::unique_ptr<ILineErrorCounters> lineErrorCounters,
                          QObject* parent = nullptr);
    ~QtSerialPort() override;

    // Accepts a system port name (ttyUSB0, COM3) or a device path (/dev/pts/5).
    bool open(const QString& portName) override;
    void close() override;
    bool isOpen() const override;
    QString portName() const override;
    bool purgeQueues() override;
    bool writeBytes(const QByteArray& bytes) override;
    qint64 waitingByteCount() override;
    QByteArray readBytes(qint64 maxCount) override;
    QString errorText() const override;

    static constexpr qint32 kBaudRate = 9600;
    // Qt's own receive buffer; beyond it bytes wait in the driver, so a flood on the line
    // cannot make the program grow.
    static constexpr qint64 kReadBufferSize = 1024;
    static constexpr int kWriteTimeoutPerByteMs = 60;
    static constexpr int kWriteTimeoutConstantMs = 100;
    // After a write the reply may come with a line error and no readable byte; the counters are
    // watched that long, and not at all while the line is idle.
    static constexpr int kLineErrorPollIntervalMs = 20;
    static constexpr int kLineErrorPollWindowMs = 1600;

private:
    void onReadyRead();
    void onErrorOccurred(QSerialPort::SerialPortError error);
    void onLineErrorPoll();

    class Operation;

    void scheduleDelivery();
    void deliver();
    bool anythingPending() const;
    TComErrors takeNewLineErrors();

    qint64 driverInputCount() const;
    qint64 driverOutputCount() const;
    bool waitForDriverOutput(const QDeadlineTimer& deadline);
    void rearmReading();
    bool deviceGone() const;
    void loseDevice();
    void closeQuietly();
    bool failNotOpen();

    QSerialPort port_;
    QString name_;
    QString errorText_;
    std::unique_ptr<ILineErrorCounters> lineErrorCounters_;
    std::optional<TLineErrorCounts> lastLineErrorCounts_;
    QTimer lineErrorPoll_;
    QElapsedTimer lineErrorPollSince_;
    QElapsedTimer transientErrorsSince_;
    int transientErrors_ = 0;

    int busy_ = 0;  // inside one of this port's own operations
    int quiet_ = 0; // opening or closing: the port's complaints are expected
    bool delivering_ = false;
    bool deliveryQueued_ = false;
    bool charsPending_ = false;
    bool checkPending_ = false;
    bool lossPending_ = false;
    QString lossReason_;
};

} // namespace tilu

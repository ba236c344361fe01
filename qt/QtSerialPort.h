#pragma once

#include "SerialPort.h"

#include <QSerialPort>

namespace tilu {

// The real serial port on QSerialPort.
class QtSerialPort final : public ISerialPort {
    Q_OBJECT
public:
    explicit QtSerialPort(QObject* parent = nullptr);
    ~QtSerialPort() override;

    bool open(const QString& portName) override;
    void close() override;
    bool isOpen() const override;
    QString portName() const override;
    bool purgeQueues() override;
    bool writeBytes(const QByteArray& bytes) override;
    qint64 waitingByteCount() override;
    QByteArray readBytes(qint64 maxCount) override;
    QString errorText() const override;

private:
    QSerialPort port_;
    QString errorText_;
};

} // namespace tilu

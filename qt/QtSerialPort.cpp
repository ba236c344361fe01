#include "QtSerialPort.h"

namespace tilu {

QtSerialPort::QtSerialPort(QObject* parent) : ISerialPort(parent) {}
QtSerialPort::~QtSerialPort() {
    close();
}

bool QtSerialPort::open(const QString& portName) {
    port_.setPortName(portName);
    if (!port_.open(QIODevice::ReadWrite)) {
        errorText_ = port_.errorString();
        return false;
    }
    return true;
}

void QtSerialPort::close() {
    if (port_.isOpen()) {
        port_.close();
    }
}

bool QtSerialPort::isOpen() const {
    return port_.isOpen();
}
QString QtSerialPort::portName() const {
    return port_.portName();
}
bool QtSerialPort::purgeQueues() {
    return port_.clear();
}
bool QtSerialPort::writeBytes(const QByteArray& bytes) {
    return port_.write(bytes) == bytes.size();
}
qint64 QtSerialPort::waitingByteCount() {
    return port_.bytesAvailable();
}
QByteArray QtSerialPort::readBytes(qint64 maxCount) {
    return port_.read(maxCount);
}
QString QtSerialPort::errorText() const {
    return errorText_;
}

} // namespace tilu

#pragma once

#include <QStringList>

namespace tilu {

// The system's serial port names as the operator knows them (COM3, ttyUSB0).
class IPortList {
public:
    virtual ~IPortList() = default;
    virtual QStringList portNames() const = 0;
};

// Sorts port names as text, without regard to case, in the user's locale: COM10 before COM2.
QStringList SortedPortNames(QStringList names);

class SystemPortList final : public IPortList {
public:
    // extraPorts: device paths a tester adds (TILU_EXTRA_PORTS), listed with the others.
    explicit SystemPortList(QStringList extraPorts = {});
    QStringList portNames() const override;

    // Paths from a colon-separated TILU_EXTRA_PORTS value; empty entries are ignored.
    static QStringList ExtraPortsFromEnvironment();

private:
    QStringList extraPorts_;
};

} // namespace tilu

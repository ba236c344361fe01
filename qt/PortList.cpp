#include "PortList.h"

#include <QCollator>
#include <QLocale>
#include <QSerialPortInfo>

#include <algorithm>

namespace tilu {

QStringList SortedPortNames(QStringList names) {
    QCollator collator{QLocale::system()};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(false);
    std::stable_sort(names.begin(), names.end(), [&collator](const QString& a, const QString& b) {
        return collator.compare(a, b) < 0;
    });
    return names;
}

SystemPortList::SystemPortList(QStringList extraPorts) : extraPorts_(std::move(extraPorts)) {}

QStringList SystemPortList::portNames() const {
    QStringList names;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : ports) {
        names.append(info.portName());
    }
    for (const QString& extra : extraPorts_) {
        if (!names.contains(extra)) {
            names.append(extra);
        }
    }
    return SortedPortNames(names);
}

QStringList SystemPortList::ExtraPortsFromEnvironment() {
    const QString value = qEnvironmentVariable("TILU_EXTRA_PORTS");
    return value.split(QLatin1Char(':'), Qt::SkipEmptyParts);
}

} // namespace tilu

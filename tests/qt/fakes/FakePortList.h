#pragma once

#include "PortList.h"

namespace tilu::testing {

class FakePortList final : public IPortList {
public:
    QStringList names;
    mutable int reads = 0;
    QStringList portNames() const override {
        ++reads;
        return SortedPortNames(names);
    }
};

} // namespace tilu::testing

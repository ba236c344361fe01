#pragma once

#include <QWidget>

namespace tilu {

// A spin control with horizontal arrows and no edit box of its own.
class TUpDown final : public QWidget {
    Q_OBJECT
public:
    explicit TUpDown(QWidget* parent = nullptr);
};

} // namespace tilu

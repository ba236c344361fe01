#include "widgets/UpDown.h"

#include <QEvent>
#include <QKeyEvent>

#include <algorithm>

namespace tilu {

TUpDown::TUpDown(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    left_ = new QToolButton(this);
    left_->setObjectName(QStringLiteral("leftArrow"));
    left_->setArrowType(Qt::LeftArrow);
    left_->setAutoRepeat(true);
    left_->setFocusPolicy(Qt::NoFocus);
    left_->setAccessibleName(QStringLiteral("Уменьшить"));
    right_ = new QToolButton(this);
    right_->setObjectName(QStringLiteral("rightArrow"));
    right_->setArrowType(Qt::RightArrow);
    right_->setAutoRepeat(true);
    right_->setFocusPolicy(Qt::NoFocus);
    right_->setAccessibleName(QStringLiteral("Увеличить"));
    connect(left_, &QToolButton::clicked, this, &TUpDown::stepDown);
    connect(right_, &QToolButton::clicked, this, &TUpDown::stepUp);
}

void TUpDown::setRange(std::int16_t min, std::int16_t max) {
    min_ = min;
    max_ = std::max(min, max);
    setPosition(position_);
}

void TUpDown::setIncrement(std::int16_t increment) {
    increment_ = std::max<std::int16_t>(1, increment);
}

void TUpDown::setPosition(int position) {
    position_ = static_cast<std::int16_t>(std::clamp<int>(position, min_, max_));
}

void TUpDown::stepDown() {
    step(-increment_);
}

void TUpDown::stepUp() {
    step(increment_);
}

void TUpDown::step(int delta) {
    if (!isEnabled()) {
        return;
    }
    const auto next = static_cast<std::int16_t>(std::clamp<int>(position_ + delta, min_, max_));
    if (next == position_) {
        return;
    }
    position_ = next;
    Q_EMIT clicked();
}

QSize TUpDown::sizeHint() const {
    return {89, 33};
}

void TUpDown::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Down:
        stepDown();
        break;
    case Qt::Key_Right:
    case Qt::Key_Up:
        stepUp();
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

void TUpDown::resizeEvent(QResizeEvent* event) {
    const int half = width() / 2;
    left_->setGeometry(0, 0, half, height());
    right_->setGeometry(half, 0, width() - half, height());
    QWidget::resizeEvent(event);
}

void TUpDown::setAccessibleNames(const QString& name) {
    setAccessibleName(name);
    left_->setAccessibleName(name + QStringLiteral(": уменьшить"));
    right_->setAccessibleName(name + QStringLiteral(": увеличить"));
}

} // namespace tilu

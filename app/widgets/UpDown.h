#pragma once

#include <QToolButton>
#include <QWidget>

#include <cstdint>

namespace tilu {

// A spin control with horizontal arrows and no edit box of its own: the left arrow lowers the
// position by Increment, the right arrow raises it. The position is a signed 16-bit integer that
// always stays within [Min, Max]. clicked() follows every operator step that moved the
// position; a step at a bound moves nothing and raises nothing. A step that would pass a bound
// from a position off the Increment grid stops at the bound.
class TUpDown final : public QWidget {
    Q_OBJECT
public:
    explicit TUpDown(QWidget* parent = nullptr);

    void setRange(std::int16_t min, std::int16_t max);
    void setIncrement(std::int16_t increment);
    // Set by the program: clamped into [Min, Max], raises no clicked().
    void setPosition(int position);

    std::int16_t Min() const { return min_; }
    std::int16_t Max() const { return max_; }
    std::int16_t Increment() const { return increment_; }
    std::int16_t Position() const { return position_; }

    // The operator's steps (arrow clicks and the arrow keys).
    void stepDown();
    void stepUp();

    QToolButton* leftArrow() const { return left_; }
    QToolButton* rightArrow() const { return right_; }

    // Names the control and its two arrows for screen readers and test tools.
    void setAccessibleNames(const QString& name);

    QSize sizeHint() const override;

Q_SIGNALS:
    void clicked();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void step(int delta);

    std::int16_t min_ = 0;
    std::int16_t max_ = 100;
    std::int16_t increment_ = 1;
    std::int16_t position_ = 0;
    QToolButton* left_ = nullptr;
    QToolButton* right_ = nullptr;
};

} // namespace tilu

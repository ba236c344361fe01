#include "widgets/UpDown.h"

namespace tilu {

TUpDown::TUpDown(QWidget* parent) : QWidget(parent) {}

} // namespace tilu

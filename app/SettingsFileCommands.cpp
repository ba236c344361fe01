#include "MainWindow.h"

namespace tilu {

void TForm1::ConnectFileHandlers() {}
void TForm1::Button3Click() {}
void TForm1::Button4Click() {}

} // namespace tilu

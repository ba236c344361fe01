#include "MainWindow.h"
#include "PortSelectionWindow.h"

namespace tilu {

void TForm1::ConnectLinkHandlers() {}
void TForm1::Button1Click() {}
void TForm1::Button2Click() {}
void TForm1::Button6Click() {}
void TForm1::SendFrame() {}
void TForm1::Timer1Timer() {}
void TForm1::RunLinkCommand(std::uint8_t, const QString&) {}

void TForm2::ComPortRxChar(qint64) {}
void TForm2::ComPort1Error(TComErrors) {}
void TForm2::ComPortDeviceLost(const QString&) {}

} // namespace tilu

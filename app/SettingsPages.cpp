#include "MainWindow.h"

#include "OperatorDialogs.h"
#include "widgets/UpDown.h"

namespace tilu {

void TForm1::CreatePages() {
    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setGeometry(48, 22, 401, 611);
    TabSheet1 = new QWidget;
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    TabSheet2 = new QWidget;
    TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
    PageControl1->addTab(TabSheet1, QStringLiteral("Режим OSG"));
    PageControl1->addTab(TabSheet2, QStringLiteral("Режим LAF"));
}

void TForm1::ConnectPageHandlers() {}
void TForm1::ApplySettingsToPages() {}
void TForm1::ResetToFactoryDefaults() {}
void TForm1::UpDown1Click() {}
void TForm1::UpDown2Click() {}
void TForm1::UpDown3Click() {}
void TForm1::UpDown4Click() {}
void TForm1::UpDown5Click() {}
void TForm1::UpDown6Click() {}
void TForm1::UpDown7Click() {}
void TForm1::UpDown8Click() {}
void TForm1::UpDown9Click() {}
void TForm1::UpDown10Click() {}
void TForm1::UpDown11Click() {}
void TForm1::UpDown12Click() {}
void TForm1::UpDown13Click() {}
void TForm1::UpDown14Click() {}
void TForm1::RadioButton1Click() {}
void TForm1::RadioButton2Click() {}
void TForm1::RadioButton3Click() {}
void TForm1::RadioButton4Click() {}
void TForm1::CheckBox1Click() {}
void TForm1::CheckBox2Click() {}
void TForm1::PageControl1Change() {}
void TForm1::Button5Click() {}

} // namespace tilu

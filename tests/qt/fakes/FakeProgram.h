#pragma once

#include "FakeOperatorDialogs.h"
#include "FakePortList.h"
#include "FakeSerialPort.h"
#include "MainWindow.h"
#include "PortSelectionWindow.h"

#include <QTest>

#include <memory>

namespace tilu::testing {

// The program as main() puts it together, with the port, the port list and the operator's
// boxes replaced by fakes. The port selection window is shown; the main window comes later.
struct FakeProgram {
    TProgramState state;
    FakePortList ports;
    FakeSerialPort port;
    FakeOperatorDialogs dialogs;
    std::unique_ptr<TForm2> form2;
    TForm1* form1 = nullptr;

    explicit FakeProgram(QStringList portNames = {}) {
        ports.names = std::move(portNames);
        form2 = std::make_unique<TForm2>(state, ports, port, dialogs);
        form2->show();
    }

    // "ОК" with nothing chosen, then "Выбрать позже": the main window without a port.
    TForm1* openMainWindowWithoutPort() {
        QTest::mouseClick(form2->Button1, Qt::LeftButton);
        QTest::mouseClick(form2->Button2, Qt::LeftButton);
        return takeMainWindow();
    }

    // The port chosen in the list and "ОК".
    TForm1* openMainWindowWithPort(const QString& name) {
        form2->ComComboBox1->setCurrentIndex(form2->ComComboBox1->findText(name));
        QTest::mouseClick(form2->Button1, Qt::LeftButton);
        return takeMainWindow();
    }

    QStringList log() const { return form1->Memo1->toPlainText().split(QLatin1Char('\n')); }

private:
    // With a comma as the decimal separator, so that texts compare with written-out literals.
    TForm1* takeMainWindow() {
        form1 = form2->Form1();
        if (form1 != nullptr) {
            form1->State().DecimalSeparator = ',';
        }
        dialogs.calls.clear();
        return form1;
    }
};

} // namespace tilu::testing

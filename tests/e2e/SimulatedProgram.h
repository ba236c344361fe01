#pragma once

#include "FakeOperatorDialogs.h"
#include "MainWindow.h"
#include "PortList.h"
#include "PortSelectionWindow.h"
#include "QtSerialPort.h"
#include "SimulatorProcess.h"

#include <QTest>
#include <QTextBlock>

#include <memory>

namespace tilu::testing {

// The whole program as main() puts it together, with tilu-sim on a pseudo-terminal as the
// emulator and the operator's boxes answered by the test.
struct SimulatedProgram {
    explicit SimulatedProgram(const QStringList& simulatorSwitches = {})
        : simulator(simulatorSwitches), ports(QStringList{simulator.path()}) {
        form2 = std::make_unique<TForm2>(state, ports, port, dialogs);
        form2->show();
    }
    ~SimulatedProgram() {
        form2.reset();
        simulator.kill();
    }
    SimulatedProgram(const SimulatedProgram&) = delete;
    SimulatedProgram& operator=(const SimulatedProgram&) = delete;

    // Chooses the simulator's terminal and "ОК"; the main window then shows numbers with a
    // comma, so that texts compare with written-out literals.
    bool connect() {
        const int index = form2->ComComboBox1->findText(simulator.path());
        if (simulator.path().isEmpty() || index < 0) {
            return false;
        }
        form2->ComComboBox1->setCurrentIndex(index);
        QTest::mouseClick(form2->Button1, Qt::LeftButton);
        form1 = form2->Form1();
        if (form1 != nullptr) {
            form1->State().DecimalSeparator = ',';
        }
        return state.PortChosen && form1 != nullptr;
    }
    QStringList log() const { return form1->Memo1->toPlainText().split(QLatin1Char('\n')); }
    QStringList logSince(qsizetype lines) const { return log().mid(lines); }
    int logSize() const { return form1->Memo1->document()->blockCount(); }
    QString lastLogLine() const { return form1->Memo1->document()->lastBlock().text(); }

    TProgramState state;
    SimulatorProcess simulator;
    SystemPortList ports;
    QtSerialPort port;
    FakeOperatorDialogs dialogs;
    std::unique_ptr<TForm2> form2;
    TForm1* form1 = nullptr;
};

} // namespace tilu::testing

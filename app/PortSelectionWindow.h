#pragma once

#include "ProgramState.h"
#include "link/Frames.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include <memory>

namespace tilu {

class IOperatorDialogs;
class IPortList;
class ISerialPort;
class TForm1;

// The way from the main window back to port selection.
class IPortSelection {
public:
    virtual ~IPortSelection() = default;
    virtual void ReturnToPortSelection() = 0;
    // Tells the application to end, after the exit question was answered.
    virtual void EndApplication() = 0;
};

// The port selection window: the program's first window. It owns the serial port and the
// main window, which it creates the first time the operator leaves it.
class TForm2 final : public QWidget, public IPortSelection {
    Q_OBJECT
public:
    TForm2(TProgramState& state, IPortList& portList, ISerialPort& comPort,
           IOperatorDialogs& dialogs);
    ~TForm2() override;

    QLabel* Label1 = nullptr;
    QComboBox* ComComboBox1 = nullptr;
    QPushButton* Button1 = nullptr; // "ОК"
    QPushButton* Button2 = nullptr; // "Выбрать позже"

    // Empty until the operator first leaves this window.
    TForm1* Form1() const { return form1_.get(); }
    ISerialPort& ComPort1() { return comPort_; }

    void ReturnToPortSelection() override;
    void EndApplication() override;

    void FormCreate();
    void Button1Click();
    void Button2Click();
    // Returns whether the window may close.
    bool FormCloseQuery();

    // The serial port's two events.
    void ComPortRxChar(qint64 count);
    void ComPort1Error(tilu::TComErrors errors);
    // The device vanished while open.
    void ComPortDeviceLost(const QString& reason);

Q_SIGNALS:
    // The operator confirmed the exit question; the port is closed already.
    void applicationEndRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void FillPortList();
    void CreateMainWindowOnce();
    void ShowMainWindow();

    TProgramState& state_;
    IPortList& portList_;
    ISerialPort& comPort_;
    IOperatorDialogs& dialogs_;
    std::unique_ptr<TForm1> form1_;
};

// Asks "Вы действительно хотите выйти?"; on any answer but No closes the port. Returns whether
// the program ends.
bool ConfirmExit(QWidget* parent, IOperatorDialogs& dialogs, ISerialPort& comPort);

} // namespace tilu

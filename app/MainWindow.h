#pragma once

#include "ProgramState.h"
#include "link/Frames.h"

#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>
#include <QWidget>

#include <array>

namespace tilu {

class IOperatorDialogs;
class IPortSelection;
class ISerialPort;
class TUpDown;

// The main window: the two settings pages, the activity log and the command buttons.
class TForm1 final : public QWidget {
    Q_OBJECT
public:
    TForm1(TProgramState& state, IOperatorDialogs& dialogs, ISerialPort& comPort,
           IPortSelection& portSelection);
    ~TForm1() override;

    // --- Settings pages -------------------------------------------------------------------
    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr; // "Режим OSG"
    QWidget* TabSheet2 = nullptr; // "Режим LAF"
    QGroupBox* RadioGroup1 = nullptr;
    QGroupBox* RadioGroup2 = nullptr;
    QRadioButton* RadioButton1 = nullptr;
    QRadioButton* RadioButton2 = nullptr;
    QRadioButton* RadioButton3 = nullptr;
    QRadioButton* RadioButton4 = nullptr;
    // GroupBox1..GroupBox8, Label1..Label11, Edit1..Edit14, UpDown1..UpDown14 by number;
    // index 0 is unused so that the numbers read as in the form.
    std::array<QGroupBox*, 9> GroupBox{};
    std::array<QLabel*, 12> Label{};
    std::array<QLineEdit*, 15> Edit{};
    std::array<TUpDown*, 15> UpDown{};
    QCheckBox* CheckBox1 = nullptr;
    QCheckBox* CheckBox2 = nullptr;

    // --- Log, panels and buttons ----------------------------------------------------------
    QPlainTextEdit* Memo1 = nullptr; // the activity log
    QFrame* Panel1 = nullptr;
    QFrame* Panel2 = nullptr;
    QLabel* StaticText1 = nullptr;
    QLabel* StaticText2 = nullptr;
    QPushButton* Button1 = nullptr; // "Записать настройки"
    QPushButton* Button2 = nullptr; // "Считать настройки"
    QPushButton* Button3 = nullptr; // "Открыть файл"
    QPushButton* Button4 = nullptr; // "Сохранить файл"
    QPushButton* Button5 = nullptr; // "Сброс настроек"
    QPushButton* Button6 = nullptr; // "Контроль работы", hidden
    QTimer* Timer1 = nullptr;       // the reply watchdog

    // --- Operations -----------------------------------------------------------------------
    void AppendLog(const QString& line);
    void ApplySettingsToPages();
    void ResetToFactoryDefaults();
    // Carries out what a decoder says the operator must see, in its order.
    void PresentReplyOutcome(const TReplyOutcome& outcome);

    // --- Handlers -------------------------------------------------------------------------
    void FormCreate();
    bool FormCloseQuery();

    void UpDown1Click();
    void UpDown2Click();
    void UpDown3Click();
    void UpDown4Click();
    void UpDown5Click();
    void UpDown6Click();
    void UpDown7Click();
    void UpDown8Click();
    void UpDown9Click();
    void UpDown10Click();
    void UpDown11Click();
    void UpDown12Click();
    void UpDown13Click();
    void UpDown14Click();
    void RadioButton1Click();
    void RadioButton2Click();
    void RadioButton3Click();
    void RadioButton4Click();
    void CheckBox1Click();
    void CheckBox2Click();
    void PageControl1Change();
    void Button5Click();

    // Link commands and the watchdog.
    void Button1Click();
    void Button2Click();
    void Button6Click();
    // False when the port failed; the failure has been reported and the command goes no further.
    bool SendFrame();
    void Timer1Timer();

    // File commands.
    void Button3Click();
    void Button4Click();

    TProgramState& State() { return state_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void CreateShell();
    void CreatePages();
    void ConnectPageHandlers();
    void ConnectLinkHandlers();
    void ConnectFileHandlers();
    void SelectPageFromProgram(int index);
    void StepNumericSetting(TEmulatorMode mode, NumericSetting setting, int number);
    void ShowNumericSetting(TEmulatorMode mode, NumericSetting setting, int number);
    void ShowModeSettings(TEmulatorMode mode);
    void EnableDurationRows(TEmulatorMode mode, bool enabled);
    void ReportPortFailure();
    void RunLinkCommand(std::uint8_t command, const QString& logLine);

    TProgramState& state_;
    IOperatorDialogs& dialogs_;
    ISerialPort& comPort_;
    IPortSelection& portSelection_;
    bool selectingPageFromProgram_ = false;
};

} // namespace tilu

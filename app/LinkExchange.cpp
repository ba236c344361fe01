#include "MainWindow.h"
#include "OperatorDialogs.h"
#include "PortSelectionWindow.h"
#include "SerialPort.h"
#include "link/LinkTiming.h"

#include <QThread>

#include <algorithm>
#include <span>

namespace tilu {

namespace {

const QString kNoPortForCommand =
    QStringLiteral("COM-порт не выбран!\n\rНадо выбрать COM-порт для работы с эмулятором");
const QString kEmulatorSilent = QStringLiteral("*** Эмулятор не отвечает !!");
const QString kCheckTheLink = QStringLiteral("*** Проверьте связь с эмулятором !!");

void SleepBlocking(std::chrono::milliseconds duration) {
    QThread::msleep(static_cast<unsigned long>(duration.count()));
}

} // namespace

void TForm1::ConnectLinkHandlers() {
    // A coarse timer may fire up to 5 % early; the emulator is given its full time.
    Timer1->setTimerType(Qt::PreciseTimer);
    Timer1->setInterval(kReplyWatchdogInterval);
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
    connect(Button6, &QPushButton::clicked, this, &TForm1::Button6Click);
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
}

void TForm1::Button1Click() {
    RunLinkCommand(CmdWriteSettings, QStringLiteral("Запись настроек в эмулятор "));
}

void TForm1::Button2Click() {
    RunLinkCommand(CmdReadSettings, QStringLiteral("Чтение настроек из эмулятора "));
}

void TForm1::Button6Click() {
    RunLinkCommand(CmdReadLevels, QStringLiteral("Чтение текущих уровней из эмулятора "));
}

void TForm1::RunLinkCommand(std::uint8_t command, const QString& logLine) {
    if (!state_.PortChosen) {
        dialogs_.beep();
        if (dialogs_.warningYesNo(this, kNoPortForCommand) == YesNoAnswer::Yes) {
            portSelection_.ReturnToPortSelection();
        }
        return;
    }
    BuildCommandFrame(state_.Link, state_.Settings, command);
    if (!SendFrame()) {
        return;
    }
    AppendLog(QString());
    AppendLog(logLine);
}

bool TForm1::SendFrame() {
    state_.AwaitingReply = true;
    if (!comPort_.purgeQueues()) {
        ReportPortFailure();
        return false;
    }
    const auto length = static_cast<qsizetype>(std::clamp<std::int32_t>(
        state_.Link.TxLength, 0, static_cast<std::int32_t>(LinkBufferSize)));
    const QByteArray frame(reinterpret_cast<const char*>(state_.Link.TxBuffer.data()), length);
    if (!comPort_.writeBytes(frame)) {
        ReportPortFailure();
        return false;
    }
    // A watchdog started by an earlier command keeps that command's schedule.
    if (!Timer1->isActive()) {
        Timer1->start();
    }
    return true;
}

void TForm1::ReportPortFailure() {
    // A port that closed itself lost its device; the loss report follows and says it once.
    if (comPort_.isOpen()) {
        dialogs_.portFailure(this, comPort_.errorText());
    }
}

void TForm1::Timer1Timer() {
    Timer1->stop();
    state_.AwaitingReply = false;
    dialogs_.error(this, kEmulatorSilent);
    AppendLog(kEmulatorSilent);
    AppendLog(kCheckTheLink);
}

void TForm2::ComPortRxChar(qint64) {
    if (!state_.AwaitingReply) {
        // Left in the receive queue until the next command purges it.
        return;
    }
    TForm1* form1 = Form1();
    if (form1 != nullptr) {
        form1->Timer1->stop();
    }
    state_.AwaitingReply = false;
    if (form1 == nullptr) {
        return;
    }

    // Blocks on purpose: the rest of the reply arrives meanwhile and is read in one go.
    SleepBlocking(kReplySettleDelay);
    const qint64 waiting = std::max<qint64>(comPort_.waitingByteCount(), 0);
    const qint64 wanted = std::min<qint64>(waiting, static_cast<qint64>(LinkBufferSize));
    const QByteArray received = comPort_.readBytes(wanted);
    if (waiting > wanted) {
        // The buffer holds one reception of at most 256 bytes; the excess is dropped.
        comPort_.purgeQueues();
    }
    StoreReception(state_.Link,
                   std::span(reinterpret_cast<const std::uint8_t*>(received.constData()),
                             static_cast<std::size_t>(received.size())));
    form1->PresentReplyOutcome(JudgeReception(state_.Link, state_.Settings));
}

void TForm2::ComPort1Error(TComErrors errors) {
    state_.AwaitingReply = false;
    const QString text = QString::fromStdString(LineErrorText(errors));
    dialogs_.beep();
    SleepBlocking(kLineErrorBeepGap);
    dialogs_.beep();
    QWidget* parent = Form1() != nullptr ? static_cast<QWidget*>(Form1()) : this;
    dialogs_.information(parent, text);
}

void TForm2::ComPortDeviceLost(const QString& reason) {
    // The adapter may report one loss more than once; the first report closed the way.
    if (!state_.PortChosen) {
        return;
    }
    TForm1* form1 = Form1();
    if (form1 != nullptr) {
        form1->Timer1->stop();
    }
    state_.AwaitingReply = false;
    state_.PortChosen = false;
    if (comPort_.isOpen()) {
        comPort_.close();
    }

    const QString cause = reason.isEmpty() ? QString() : QStringLiteral(": ") + reason;
    if (form1 != nullptr) {
        form1->AppendLog(QString());
        form1->AppendLog(QStringLiteral("***  Связь с COM-портом потеряна") + cause +
                         QStringLiteral("  ***"));
    }
    QWidget* parent = form1 != nullptr ? static_cast<QWidget*>(form1) : this;
    dialogs_.error(parent, QStringLiteral("Связь с COM-портом потеряна") + cause +
                               QStringLiteral("\n\rНадо снова выбрать COM-порт для работы с "
                                              "эмулятором"));
}

} // namespace tilu

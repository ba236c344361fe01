#include "PortSelectionWindow.h"

#include "MainWindow.h"
#include "OperatorDialogs.h"
#include "PortList.h"
#include "SerialPort.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace tilu {

namespace {

const QString kNoPortChosen = QStringLiteral("COM-порт не выбран!");

QFont PixelFont(const QString& family, int pixels, bool bold) {
    QFont font(family);
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

} // namespace

bool ConfirmExit(QWidget* parent, IOperatorDialogs& dialogs, ISerialPort& comPort) {
    const YesNoAnswer answer =
        dialogs.warningYesNo(parent, QStringLiteral("Вы действительно хотите выйти?"));
    if (answer == YesNoAnswer::No) {
        return false;
    }
    comPort.close();
    return true;
}

TForm2::TForm2(TProgramState& state, IPortList& portList, ISerialPort& comPort,
               IOperatorDialogs& dialogs)
    : QWidget(nullptr,
              Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint),
      state_(state), portList_(portList), comPort_(comPort), dialogs_(dialogs) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Конфигуратор эмулятора Тилу"));
    setFixedSize(334, 262);
    setFont(PixelFont(font().family(), 13, true));

    Label1 = new QLabel(QStringLiteral("Выберите COM-порт\r\nдля подключения к эмулятору"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(56, 32, 222, 38);
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setFont(PixelFont(QStringLiteral("Times New Roman"), 16, true));
    // Where the serif font runs wider than the design's, widen the prompt around its centre.
    if (const int wide = Label1->sizeHint().width(); wide > Label1->width()) {
        const int width = std::min(wide, 334 - 8);
        Label1->setGeometry((334 - width) / 2, 32, width,
                            std::max(38, Label1->sizeHint().height()));
    }

    ComComboBox1 = new QComboBox(this);
    ComComboBox1->setObjectName(QStringLiteral("ComComboBox1"));
    ComComboBox1->setAccessibleName(QStringLiteral("COM-порт"));
    ComComboBox1->setGeometry(112, 96, 121, 24);
    ComComboBox1->setEditable(false);
    ComComboBox1->setMaxVisibleItems(8);

    Button1 = new QPushButton(QStringLiteral("ОК"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(112, 152, 121, 25);
    Button1->setDefault(true);

    Button2 = new QPushButton(QStringLiteral("Выбрать позже"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(112, 200, 121, 25);

    setTabOrder(Button1, Button2);
    setTabOrder(Button2, ComComboBox1);

    connect(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm2::Button2Click);
    connect(&comPort_, &ISerialPort::rxChar, this, &TForm2::ComPortRxChar);
    connect(&comPort_, &ISerialPort::lineError, this, &TForm2::ComPort1Error);
    connect(&comPort_, &ISerialPort::deviceLost, this, &TForm2::ComPortDeviceLost);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    FormCreate();
}

TForm2::~TForm2() {
    form1_.reset();
    comPort_.close();
}

void TForm2::FormCreate() {
    state_.PortChosen = false;
    FillPortList();
    Button2->hide();
    state_.AwaitingReply = false;
}

void TForm2::FillPortList() {
    ComComboBox1->clear();
    ComComboBox1->addItems(portList_.portNames());
    ComComboBox1->setCurrentIndex(-1);
}

void TForm2::Button1Click() {
    if (ComComboBox1->currentIndex() < 0) {
        dialogs_.beep();
        dialogs_.information(this, kNoPortChosen);
        Button2->show();
        return;
    }
    if (!comPort_.open(ComComboBox1->currentText())) {
        dialogs_.beep();
        dialogs_.information(this, kNoPortChosen);
        Button2->show();
        return;
    }
    CreateMainWindowOnce();
    ShowMainWindow();
    state_.PortChosen = true;
    hide();
}

void TForm2::Button2Click() {
    CreateMainWindowOnce();
    ShowMainWindow();
    hide();
}

void TForm2::CreateMainWindowOnce() {
    if (!form1_) {
        form1_ = std::make_unique<TForm1>(state_, dialogs_, comPort_, *this);
    }
}

void TForm2::ShowMainWindow() {
    form1_->show();
    form1_->raise();
    form1_->activateWindow();
}

void TForm2::ReturnToPortSelection() {
    if (form1_) {
        form1_->hide();
    }
    show();
    raise();
    activateWindow();
}

void TForm2::EndApplication() {
    Q_EMIT applicationEndRequested();
}

bool TForm2::FormCloseQuery() {
    return ConfirmExit(this, dialogs_, comPort_);
}

void TForm2::closeEvent(QCloseEvent* event) {
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    event->accept();
    EndApplication();
}

} // namespace tilu

#include "MainWindow.h"

#include "OperatorDialogs.h"
#include "PortSelectionWindow.h"
#include "SerialPort.h"

#include <QCloseEvent>
#include <QEvent>
#include <QGuiApplication>
#include <QLocale>
#include <QScreen>
#include <QScrollBar>

#include <algorithm>

namespace tilu {

namespace {

QFont PixelFont(int pixels, bool bold) {
    QFont font;
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

char SystemDecimalSeparator() {
    const QString point = QLocale::system().decimalPoint();
    if (point.size() == 1 && point.at(0).unicode() < 0x80) {
        return static_cast<char>(point.at(0).unicode());
    }
    return '.';
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption, int left,
                        int top) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(left, top, 153, 25);
    button->setFont(PixelFont(13, true));
    return button;
}

QFrame* MakePanel(QWidget* parent, const char* name, const char* headingName,
                  const QString& heading, int top, int headingWidth, QLabel** headingLabel) {
    auto* panel = new QFrame(parent);
    panel->setObjectName(QString::fromLatin1(name));
    panel->setGeometry(472, top, 353, 73);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(2);
    auto* label = new QLabel(heading, panel);
    label->setObjectName(QString::fromLatin1(headingName));
    label->setGeometry(88, 8, headingWidth, 24);
    label->setFont(PixelFont(16, true));
    // Fonts wider than the original design's must not clip the heading.
    label->resize(std::max(headingWidth, label->sizeHint().width()), 24);
    *headingLabel = label;
    return panel;
}

} // namespace

TForm1::TForm1(TProgramState& state, IOperatorDialogs& dialogs, ISerialPort& comPort,
               IPortSelection& portSelection)
    : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                           Qt::CustomizeWindowHint),
      state_(state), dialogs_(dialogs), comPort_(comPort), portSelection_(portSelection) {
    state_.DecimalSeparator = SystemDecimalSeparator();
    CreateShell();
    CreatePages();
    ConnectPageHandlers();
    ConnectLinkHandlers();
    ConnectFileHandlers();
    // The command buttons come first, then the log and the pages, as the operator works.
    setTabOrder(Button1, Button2);
    setTabOrder(Button2, Button3);
    setTabOrder(Button3, Button4);
    setTabOrder(Button4, Memo1);
    setTabOrder(Memo1, PageControl1);
    setTabOrder(PageControl1, Button5);
    setTabOrder(Button5, Button6);
    FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::CreateShell() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Конфигуратор эмулятора Тилу"));
    QFont windowFont = font();
    windowFont.setPixelSize(11);
    setFont(windowFont);
    resize(857, 648);
    setContentsMargins(2, 2, 2, 2);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setAccessibleName(QStringLiteral("Журнал"));
    Memo1->setGeometry(472, 24, 353, 329);
    Memo1->setReadOnly(true);
    // Nothing is ever undone in the log; keeping undo steps would cost memory on every line.
    Memo1->setUndoRedoEnabled(false);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setFont(PixelFont(13, false));
    Memo1->setPlainText(QStringLiteral("Режим OSG"));

    Panel1 = MakePanel(this, "Panel1", "StaticText1", QStringLiteral("Связь с эмулятором"), 384,
                       177, &StaticText1);
    Panel2 = MakePanel(this, "Panel2", "StaticText2", QStringLiteral("Файл с настройками"), 488,
                       180, &StaticText2);

    Button1 = MakeButton(this, "Button1", QStringLiteral("Записать настройки"), 488, 424);
    Button2 = MakeButton(this, "Button2", QStringLiteral("Считать настройки"), 656, 424);
    Button3 = MakeButton(this, "Button3", QStringLiteral("Открыть файл"), 488, 528);
    Button4 = MakeButton(this, "Button4", QStringLiteral("Сохранить файл"), 656, 528);
    Button5 = MakeButton(this, "Button5", QStringLiteral("Сброс настроек"), 488, 600);
    Button5->setToolTip(QStringLiteral("Установка заводских настроек по-умолчанию"));
    Button6 = MakeButton(this, "Button6", QStringLiteral("Контроль работы"), 656, 600);
    Button6->hide();

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setSingleShot(false);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

void TForm1::FormCreate() {
    SelectPageFromProgram(0);
    state_.Settings.Mode = TEmulatorMode::OSG;
    ResetToFactoryDefaults();
    Timer1->stop();
    state_.AwaitingReply = false;
}

void TForm1::SelectPageFromProgram(int index) {
    selectingPageFromProgram_ = true;
    PageControl1->setCurrentIndex(index);
    selectingPageFromProgram_ = false;
}

void TForm1::AppendLog(const QString& line) {
    Memo1->appendPlainText(line);
    Memo1->verticalScrollBar()->setValue(Memo1->verticalScrollBar()->maximum());
    Memo1->horizontalScrollBar()->setValue(0);
}

void TForm1::PresentReplyOutcome(const TReplyOutcome& outcome) {
    if (outcome.ShowSettingsOnPages) {
        ApplySettingsToPages();
    }
    if (outcome.Beep) {
        dialogs_.beep();
    }
    for (const std::string& line : outcome.LogLines) {
        AppendLog(QString::fromStdString(line));
    }
    if (outcome.InfoBox) {
        dialogs_.information(this, QString::fromStdString(*outcome.InfoBox));
    }
}

bool TForm1::FormCloseQuery() {
    return ConfirmExit(this, dialogs_, comPort_);
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    event->accept();
    portSelection_.EndApplication();
}

void TForm1::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LocaleChange) {
        state_.DecimalSeparator = SystemDecimalSeparator();
    }
    QWidget::changeEvent(event);
}

} // namespace tilu

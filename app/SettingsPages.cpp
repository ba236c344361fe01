#include "MainWindow.h"

#include "OperatorDialogs.h"
#include "widgets/UpDown.h"

#include <QStyle>
#include <QStyleOptionFrame>
#include <QTabBar>

#include <algorithm>

namespace tilu {

namespace {

using S = NumericSetting;
using M = TEmulatorMode;

// Which edit box and spin control show a numeric setting on each page.
struct NumericControls {
    S setting;
    int osgNumber; // EditN / UpDownN on the OSG page
    int lafNumber; // EditN / UpDownN on the LAF page
};

// In the order the pages show them, which is the order of ApplySettingsToPages.
constexpr NumericControls kNumericControls[] = {
    {S::RiseRate, 7, 1},           {S::OutputOffset, 2, 3}, {S::ResponseOnset, 8, 4},
    {S::UpperBound, 9, 5},         {S::LowerBound, 10, 6},  {S::PositiveDuration, 11, 13},
    {S::NegativeDuration, 12, 14},
};

int ControlNumber(const NumericControls& controls, M mode) {
    return mode == M::OSG ? controls.osgNumber : controls.lafNumber;
}

QFont PageFont() {
    QFont font;
    font.setPixelSize(13);
    font.setBold(true);
    return font;
}

QString SettingName(S setting) {
    switch (setting) {
    case S::RiseRate:
        return QStringLiteral("Скорость нарастания сигнала");
    case S::OutputOffset:
        return QStringLiteral("Смещение выходных напряжений");
    case S::ResponseOnset:
        return QStringLiteral("Время возникновение отклика");
    case S::UpperBound:
        return QStringLiteral("Верхняя граница");
    case S::LowerBound:
        return QStringLiteral("Нижняя граница");
    case S::PositiveDuration:
        return QStringLiteral("Длительность положительного отклика");
    case S::NegativeDuration:
        break;
    }
    return QStringLiteral("Длительность отрицательного отклика");
}

QGroupBox* MakeGroup(QWidget* page, int number, const QString& caption, int top, int height) {
    auto* group = new QGroupBox(caption, page);
    group->setObjectName(QStringLiteral("GroupBox%1").arg(number));
    group->setGeometry(32, top, 329, height);
    return group;
}

QLabel* MakeLabel(QWidget* parent, std::size_t number, const QString& caption, int top) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(QStringLiteral("Label%1").arg(number));
    label->setGeometry(24, top, 302, 17);
    // Fonts wider than the original design's must not clip the caption.
    label->resize(std::max(label->width(), label->sizeHint().width()), 17);
    return label;
}

// Widens an edit box to the right, into the free space before its spin control, where the
// widest text its setting can show would not fit in this font.
void FitEditToDomain(QLineEdit* edit, S setting, M mode) {
    const StepDomain& domain = DomainOf(setting, mode);
    const QFontMetrics metrics(edit->font());
    int widest = 0;
    for (int position = domain.Min; position <= domain.Max; position += domain.Step) {
        const std::int32_t value =
            ValueFromPosition(setting, mode, static_cast<std::int16_t>(position));
        for (char separator : {'.', ','}) {
            widest = std::max(widest, metrics.horizontalAdvance(QString::fromStdString(
                                          DisplayText(setting, mode, value, separator))));
        }
    }
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.rect = edit->rect();
    option.lineWidth = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit);
    // QLineEdit keeps 2 pixels on either side of its text and 1 for the cursor.
    const QMargins margins = edit->textMargins();
    const QSize text(widest + 2 * 2 + 1 + margins.left() + margins.right(), edit->height());
    const int needed =
        edit->style()->sizeFromContents(QStyle::CT_LineEdit, &option, text, edit).width();
    edit->resize(std::max(edit->width(), needed), edit->height());
}

} // namespace

void TForm1::CreatePages() {
    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setGeometry(48, 22, 401, 611);
    PageControl1->setFont(PageFont());
    PageControl1->tabBar()->setStyleSheet(QStringLiteral("QTabBar::tab { width: 190px; }"));

    for (M mode : {M::OSG, M::LAF}) {
        const bool osg = mode == M::OSG;
        const QString modeName = QString::fromLatin1(ModeName(mode).data(), 3);
        auto* page = new QWidget;
        page->setObjectName(osg ? QStringLiteral("TabSheet1") : QStringLiteral("TabSheet2"));
        page->setFont(PageFont());
        (osg ? TabSheet1 : TabSheet2) = page;
        PageControl1->addTab(page, osg ? QStringLiteral("Режим OSG") : QStringLiteral("Режим LAF"));

        auto* radioGroup = new QGroupBox(QStringLiteral("Задержка сигнала"), page);
        radioGroup->setObjectName(osg ? QStringLiteral("RadioGroup2")
                                      : QStringLiteral("RadioGroup1"));
        radioGroup->setGeometry(32, 8, 329, 57);
        (osg ? RadioGroup2 : RadioGroup1) = radioGroup;
        // The delay pair lies on the page itself, over its frame, so the two exclude each other.
        auto* delayOn = new QRadioButton(QStringLiteral("есть задержка"), page);
        delayOn->setObjectName(osg ? QStringLiteral("RadioButton3")
                                   : QStringLiteral("RadioButton1"));
        delayOn->setGeometry(48, 32, 140, 24);
        auto* delayOff = new QRadioButton(QStringLiteral("нет задержки"), page);
        delayOff->setObjectName(osg ? QStringLiteral("RadioButton4")
                                    : QStringLiteral("RadioButton2"));
        delayOff->setGeometry(200, 32, 140, 24);
        (osg ? RadioButton3 : RadioButton1) = delayOn;
        (osg ? RadioButton4 : RadioButton2) = delayOff;

        QGroupBox* riseGroup =
            MakeGroup(page, osg ? 4 : 1, QStringLiteral("Скорость нарастания сигнала"), 72, 65);
        QGroupBox* offsetGroup =
            MakeGroup(page, osg ? 2 : 3, QStringLiteral("Смещение выходных напряжений"), 136, 57);
        QGroupBox* responseGroup =
            MakeGroup(page, osg ? 5 : 7, QStringLiteral("Отклик сигнала"), 192, 225);
        QGroupBox* multipleGroup =
            MakeGroup(page, osg ? 6 : 8, QStringLiteral("Множественный отклик сигнала"), 424, 145);
        GroupBox[osg ? 4 : 1] = riseGroup;
        GroupBox[osg ? 2 : 3] = offsetGroup;
        GroupBox[osg ? 5 : 7] = responseGroup;
        GroupBox[osg ? 6 : 8] = multipleGroup;

        const std::size_t labelBase = osg ? 7 : 1; // Label7..11 on OSG, Label1..5 on LAF
        Label[labelBase] = MakeLabel(responseGroup, labelBase, SettingName(S::ResponseOnset), 16);
        Label[labelBase + 1] =
            MakeLabel(responseGroup, labelBase + 1, SettingName(S::UpperBound), 88);
        Label[labelBase + 2] =
            MakeLabel(responseGroup, labelBase + 2, SettingName(S::LowerBound), 152);
        Label[labelBase + 3] = MakeLabel(multipleGroup, labelBase + 3,
                                         SettingName(S::PositiveDuration), osg ? 24 : 16);
        Label[labelBase + 4] =
            MakeLabel(multipleGroup, labelBase + 4, SettingName(S::NegativeDuration), 88);

        auto* checkBox = new QCheckBox(page);
        checkBox->setObjectName(osg ? QStringLiteral("CheckBox1") : QStringLiteral("CheckBox2"));
        checkBox->setGeometry(osg ? 8 : 0, 424, 25, 25);
        checkBox->setToolTip(QStringLiteral("Включение Множественного отклика"));
        checkBox->setAccessibleName(modeName + QStringLiteral(": Множественный отклик сигнала"));
        (osg ? CheckBox1 : CheckBox2) = checkBox;

        for (const NumericControls& controls : kNumericControls) {
            QGroupBox* group = nullptr;
            int top = 16;
            switch (controls.setting) {
            case S::RiseRate:
                group = riseGroup;
                break;
            case S::OutputOffset:
                group = offsetGroup;
                break;
            case S::ResponseOnset:
            case S::UpperBound:
            case S::LowerBound:
                group = responseGroup;
                top = controls.setting == S::ResponseOnset ? 40
                      : controls.setting == S::UpperBound  ? 104
                                                           : 168;
                break;
            case S::PositiveDuration:
            case S::NegativeDuration:
                group = multipleGroup;
                top = controls.setting == S::PositiveDuration ? 40 : 104;
                break;
            }
            const int number = ControlNumber(controls, mode);
            const QString name = modeName + QStringLiteral(": ") + SettingName(controls.setting);

            auto* edit = new QLineEdit(group);
            edit->setObjectName(QStringLiteral("Edit%1").arg(number));
            edit->setGeometry(40, top, 97, 33);
            FitEditToDomain(edit, controls.setting, mode);
            edit->setAccessibleName(name);
            // Edit4, Edit5 and Edit6 accept typing, which nothing reads.
            edit->setReadOnly(!(number >= 4 && number <= 6));
            Edit[static_cast<std::size_t>(number)] = edit;

            const StepDomain& domain = DomainOf(controls.setting, mode);
            auto* upDown = new TUpDown(group);
            upDown->setObjectName(QStringLiteral("UpDown%1").arg(number));
            upDown->setGeometry(osg ? 184 : 192, top, 89, 33);
            upDown->setAccessibleNames(name);
            upDown->setRange(domain.Min, domain.Max);
            upDown->setIncrement(domain.Step);
            UpDown[static_cast<std::size_t>(number)] = upDown;
        }

        // The duration rows start disabled, as the check box starts clear.
        for (std::size_t number : {labelBase + 3, labelBase + 4}) {
            Label[number]->setEnabled(false);
        }
        for (S setting : {S::PositiveDuration, S::NegativeDuration}) {
            const int number = ControlNumber(kNumericControls[static_cast<int>(setting)], mode);
            Edit[static_cast<std::size_t>(number)]->setEnabled(false);
            UpDown[static_cast<std::size_t>(number)]->setEnabled(false);
        }
    }
}

void TForm1::ConnectPageHandlers() {
    const std::array<void (TForm1::*)(), 15> upDownHandlers{
        nullptr,
        &TForm1::UpDown1Click,
        &TForm1::UpDown2Click,
        &TForm1::UpDown3Click,
        &TForm1::UpDown4Click,
        &TForm1::UpDown5Click,
        &TForm1::UpDown6Click,
        &TForm1::UpDown7Click,
        &TForm1::UpDown8Click,
        &TForm1::UpDown9Click,
        &TForm1::UpDown10Click,
        &TForm1::UpDown11Click,
        &TForm1::UpDown12Click,
        &TForm1::UpDown13Click,
        &TForm1::UpDown14Click,
    };
    for (std::size_t number = 1; number < upDownHandlers.size(); ++number) {
        connect(UpDown[number], &TUpDown::clicked, this, upDownHandlers[number]);
    }

    const auto onSelected = [this](QRadioButton* button, void (TForm1::*handler)()) {
        connect(button, &QRadioButton::toggled, this, [this, handler](bool selected) {
            if (selected) {
                (this->*handler)();
            }
        });
    };
    onSelected(RadioButton1, &TForm1::RadioButton1Click);
    onSelected(RadioButton2, &TForm1::RadioButton2Click);
    onSelected(RadioButton3, &TForm1::RadioButton3Click);
    onSelected(RadioButton4, &TForm1::RadioButton4Click);

    connect(CheckBox1, &QCheckBox::toggled, this, &TForm1::CheckBox1Click);
    connect(CheckBox2, &QCheckBox::toggled, this, &TForm1::CheckBox2Click);

    connect(PageControl1, &QTabWidget::currentChanged, this, [this] {
        if (!selectingPageFromProgram_) {
            PageControl1Change();
        }
    });
    connect(Button5, &QPushButton::clicked, this, &TForm1::Button5Click);
}

void TForm1::StepNumericSetting(TEmulatorMode mode, NumericSetting setting, int number) {
    const auto index = static_cast<std::size_t>(number);
    std::int32_t& held = HeldValue(state_.Settings.Of(mode), setting);
    held = ValueFromPosition(setting, mode, UpDown[index]->Position());
    Edit[index]->setText(
        QString::fromStdString(DisplayText(setting, mode, held, state_.DecimalSeparator)));
}

void TForm1::ShowNumericSetting(TEmulatorMode mode, NumericSetting setting, int number) {
    const auto index = static_cast<std::size_t>(number);
    const std::int32_t held = HeldValue(state_.Settings.Of(mode), setting);
    // The control takes the held value less the bias, in 16 bits, and clamps it into its range.
    const auto unbiased = static_cast<std::int16_t>(static_cast<std::uint16_t>(
        static_cast<std::uint32_t>(held - DomainOf(setting, mode).Bias)));
    UpDown[index]->setPosition(unbiased);
    Edit[index]->setText(
        QString::fromStdString(DisplayText(setting, mode, held, state_.DecimalSeparator)));
}

void TForm1::UpDown7Click() {
    StepNumericSetting(M::OSG, S::RiseRate, 7);
}
void TForm1::UpDown2Click() {
    StepNumericSetting(M::OSG, S::OutputOffset, 2);
}
void TForm1::UpDown8Click() {
    StepNumericSetting(M::OSG, S::ResponseOnset, 8);
}
void TForm1::UpDown9Click() {
    StepNumericSetting(M::OSG, S::UpperBound, 9);
}
void TForm1::UpDown10Click() {
    StepNumericSetting(M::OSG, S::LowerBound, 10);
}
void TForm1::UpDown11Click() {
    StepNumericSetting(M::OSG, S::PositiveDuration, 11);
}
void TForm1::UpDown12Click() {
    StepNumericSetting(M::OSG, S::NegativeDuration, 12);
}
void TForm1::UpDown1Click() {
    StepNumericSetting(M::LAF, S::RiseRate, 1);
}
void TForm1::UpDown3Click() {
    StepNumericSetting(M::LAF, S::OutputOffset, 3);
}
void TForm1::UpDown4Click() {
    StepNumericSetting(M::LAF, S::ResponseOnset, 4);
}
void TForm1::UpDown5Click() {
    StepNumericSetting(M::LAF, S::UpperBound, 5);
}
void TForm1::UpDown6Click() {
    StepNumericSetting(M::LAF, S::LowerBound, 6);
}
void TForm1::UpDown13Click() {
    StepNumericSetting(M::LAF, S::PositiveDuration, 13);
}
void TForm1::UpDown14Click() {
    StepNumericSetting(M::LAF, S::NegativeDuration, 14);
}

void TForm1::RadioButton3Click() {
    state_.Settings.OsgSettings.SignalDelay = true;
}
void TForm1::RadioButton4Click() {
    state_.Settings.OsgSettings.SignalDelay = false;
}
void TForm1::RadioButton1Click() {
    state_.Settings.LafSettings.SignalDelay = true;
}
void TForm1::RadioButton2Click() {
    state_.Settings.LafSettings.SignalDelay = false;
}

void TForm1::EnableDurationRows(TEmulatorMode mode, bool enabled) {
    const int labelBase = mode == M::OSG ? 7 : 1;
    Label[static_cast<std::size_t>(labelBase + 3)]->setEnabled(enabled);
    Label[static_cast<std::size_t>(labelBase + 4)]->setEnabled(enabled);
    for (S setting : {S::PositiveDuration, S::NegativeDuration}) {
        const auto number = static_cast<std::size_t>(
            ControlNumber(kNumericControls[static_cast<int>(setting)], mode));
        Edit[number]->setEnabled(enabled);
        UpDown[number]->setEnabled(enabled);
    }
}

void TForm1::CheckBox1Click() {
    const bool ticked = CheckBox1->isChecked();
    state_.Settings.OsgSettings.MultipleResponse = ticked;
    EnableDurationRows(M::OSG, ticked);
}

void TForm1::CheckBox2Click() {
    const bool ticked = CheckBox2->isChecked();
    state_.Settings.LafSettings.MultipleResponse = ticked;
    EnableDurationRows(M::LAF, ticked);
}

void TForm1::PageControl1Change() {
    const M mode = PageControl1->currentIndex() == 0 ? M::OSG : M::LAF;
    state_.Settings.Mode = mode;
    const QString text =
        QStringLiteral("Переключение в режим ") + QString::fromLatin1(ModeName(mode).data(), 3);
    AppendLog(QString());
    AppendLog(text);
    dialogs_.information(this, text);
}

void TForm1::ShowModeSettings(TEmulatorMode mode) {
    const TModeSettings& settings = state_.Settings.Of(mode);
    const bool osg = mode == M::OSG;
    QRadioButton* delayButton = settings.SignalDelay ? (osg ? RadioButton3 : RadioButton1)
                                                     : (osg ? RadioButton4 : RadioButton2);
    delayButton->setChecked(true);
    for (const NumericControls& controls : kNumericControls) {
        if (controls.setting == S::PositiveDuration) {
            (osg ? CheckBox1 : CheckBox2)->setChecked(settings.MultipleResponse);
        }
        ShowNumericSetting(mode, controls.setting, ControlNumber(controls, mode));
    }
}

void TForm1::ApplySettingsToPages() {
    const M mode = state_.Settings.Mode;
    SelectPageFromProgram(mode == M::OSG ? 0 : 1);
    ShowModeSettings(mode);
}

void TForm1::ResetToFactoryDefaults() {
    for (M mode : {M::OSG, M::LAF}) {
        state_.Settings.Of(mode) = FactoryDefaults(mode);
        ShowModeSettings(mode);
    }
}

void TForm1::Button5Click() {
    ResetToFactoryDefaults();
    AppendLog(QString());
    AppendLog(QStringLiteral("Сброс настроек по умолчанию"));
}

} // namespace tilu

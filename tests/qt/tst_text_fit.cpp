// Every text of both windows fits its control at the scale factor this test runs under
// (QT_SCALE_FACTOR, registered at 1, 1.5 and 2): labels, buttons, group and tab titles, the
// port names, and every display text each edit box can show.
#include "FakeProgram.h"
#include "widgets/UpDown.h"

#include <QComboBox>
#include <QFontMetricsF>
#include <QStyleOption>
#include <QTest>

#include <memory>

using namespace tilu;
using namespace tilu::testing;

namespace {

struct Rig : FakeProgram {
    Rig()
        : FakeProgram({QStringLiteral("COM10"), QStringLiteral("ttyUSB10"),
                       QStringLiteral("ttyACM10"), QStringLiteral("ttyS31")}) {
        // A failed "ОК" shows "Выбрать позже"; the main window comes from it.
        QTest::mouseClick(form2->Button1, Qt::LeftButton);
    }
    void openMainWindow() {
        QTest::mouseClick(form2->Button2, Qt::LeftButton);
        form1 = form2->Form1();
    }
};

QString Describe(const QWidget* widget, const QString& text, double needed, double room) {
    return QStringLiteral("%1 \"%2\": needs %3, has %4")
        .arg(widget->objectName(), text)
        .arg(needed, 0, 'f', 1)
        .arg(room, 0, 'f', 1);
}

// Where QLineEdit draws its text: the style's contents rectangle less the 2-pixel margin the
// edit keeps on either side.
double LineEditRoom(const QLineEdit* edit) {
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.rect = edit->rect();
    option.lineWidth = edit->hasFrame()
                           ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit)
                           : 0;
    const QRect contents = edit->style()
                               ->subElementRect(QStyle::SE_LineEditContents, &option, edit)
                               .marginsRemoved(edit->textMargins());
    return contents.width() - 2 * 2;
}

// Texts of the shown controls of one window that do not fit.
QStringList ClippedTexts(QWidget* window) {
    QStringList clipped;
    const auto widgets = window->findChildren<QWidget*>();
    for (QWidget* widget : widgets) {
        if (!widget->isVisibleTo(window)) {
            continue;
        }
        const QFontMetricsF metrics(widget->font());
        QStyle* style = widget->style();
        if (auto* label = qobject_cast<QLabel*>(widget); label && !label->text().isEmpty()) {
            const QRectF room = label->contentsRect();
            const QRectF needed =
                metrics.boundingRect(room, static_cast<int>(label->alignment()), label->text());
            if (needed.width() > room.width() || needed.height() > room.height()) {
                clipped << Describe(label, label->text(), needed.width(), room.width()) +
                               QStringLiteral(" (height %1 of %2)")
                                   .arg(needed.height())
                                   .arg(room.height());
            }
        } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = button->text();
            const QRect room =
                style->subElementRect(QStyle::SE_PushButtonContents, &option, button);
            const double needed = metrics.horizontalAdvance(button->text());
            if (needed > room.width() || metrics.height() > room.height()) {
                clipped << Describe(button, button->text(), needed, room.width());
            }
        } else if (auto* choice = qobject_cast<QAbstractButton*>(widget);
                   choice && !choice->text().isEmpty()) {
            QStyleOptionButton option;
            option.initFrom(choice);
            option.text = choice->text();
            const bool radio = qobject_cast<QRadioButton*>(choice) != nullptr;
            const QRect room = style->subElementRect(radio ? QStyle::SE_RadioButtonContents
                                                           : QStyle::SE_CheckBoxContents,
                                                     &option, choice);
            const double needed = metrics.horizontalAdvance(choice->text());
            if (needed > room.width()) {
                clipped << Describe(choice, choice->text(), needed, room.width());
            }
        } else if (auto* group = qobject_cast<QGroupBox*>(widget); group) {
            QStyleOptionGroupBox option;
            option.initFrom(group);
            option.text = group->title();
            option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
            const QRect title = style->subControlRect(QStyle::CC_GroupBox, &option,
                                                      QStyle::SC_GroupBoxLabel, group);
            const double needed = title.left() + metrics.horizontalAdvance(group->title());
            if (needed > group->width()) {
                clipped << Describe(group, group->title(), needed, group->width());
            }
        } else if (auto* tabs = qobject_cast<QTabBar*>(widget)) {
            for (int i = 0; i < tabs->count(); ++i) {
                const double needed = metrics.horizontalAdvance(tabs->tabText(i));
                const double room = tabs->tabRect(i).width() - 2 * 4;
                if (needed > room) {
                    clipped << Describe(tabs, tabs->tabText(i), needed, room);
                }
            }
        } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
            QStyleOptionComboBox option;
            option.initFrom(combo);
            option.editable = combo->isEditable();
            option.frame = combo->hasFrame();
            const QRect room = style->subControlRect(QStyle::CC_ComboBox, &option,
                                                     QStyle::SC_ComboBoxEditField, combo);
            for (int i = 0; i < combo->count(); ++i) {
                const double needed = metrics.horizontalAdvance(combo->itemText(i));
                if (needed > room.width()) {
                    clipped << Describe(combo, combo->itemText(i), needed, room.width());
                }
            }
        }
    }
    return clipped;
}

// Walks every spin control through its whole range as the operator would, and reports the edit
// texts that do not fit.
QStringList ClippedEditTexts(TForm1& form1) {
    QStringList clipped;
    for (std::size_t number = 1; number < form1.Edit.size(); ++number) {
        QLineEdit* edit = form1.Edit[number];
        TUpDown* upDown = form1.UpDown[number];
        if (edit == nullptr || upDown == nullptr) {
            continue;
        }
        const QFontMetricsF metrics(edit->font());
        const double room = LineEditRoom(edit);
        double widest = 0;
        QString widestText;
        const auto note = [&] {
            const double width = metrics.horizontalAdvance(edit->text());
            if (width > widest) {
                widest = width;
                widestText = edit->text();
            }
        };
        upDown->setPosition(upDown->Min() + upDown->Increment());
        upDown->stepDown();
        note();
        const int steps = (upDown->Max() - upDown->Min()) / upDown->Increment() + 2;
        for (int i = 0; i < steps && upDown->Position() < upDown->Max(); ++i) {
            upDown->stepUp();
            note();
        }
        if (widest > room) {
            clipped << Describe(edit, widestText, widest, room);
        }
        if (edit->geometry().right() >= upDown->geometry().left()) {
            clipped << edit->objectName() + QStringLiteral(" runs into its spin control");
        }
    }
    return clipped;
}

} // namespace

class TextFitTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void portWindowTextsFit() {
        Rig rig;
        QVERIFY(rig.form2->Button2->isVisible());
        const QStringList clipped = ClippedTexts(rig.form2.get());
        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(QLatin1Char('\n'))));
    }

    void mainWindowTextsFitOnBothPages_data() {
        QTest::addColumn<int>("page");
        QTest::newRow("OSG page") << 0;
        QTest::newRow("LAF page") << 1;
    }
    void mainWindowTextsFitOnBothPages() {
        QFETCH(int, page);
        Rig rig;
        rig.openMainWindow();
        QVERIFY(rig.form1 != nullptr);
        rig.form1->PageControl1->setCurrentIndex(page);
        const QStringList clipped = ClippedTexts(rig.form1);
        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(QLatin1Char('\n'))));
    }

    void everyEditTextFits() {
        Rig rig;
        rig.openMainWindow();
        QVERIFY(rig.form1 != nullptr);
        rig.form1->State().DecimalSeparator = ',';
        const QStringList clipped = ClippedEditTexts(*rig.form1);
        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(QLatin1Char('\n'))));
    }
};

QTEST_MAIN(TextFitTest)
#include "tst_text_fit.moc"

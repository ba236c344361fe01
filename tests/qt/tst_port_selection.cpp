#include "FakeProgram.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace tilu;
using namespace tilu::testing;

namespace {

struct Rig : FakeProgram {
    explicit Rig(QStringList names = {QStringLiteral("COM3"), QStringLiteral("COM10"),
                                      QStringLiteral("com2"), QStringLiteral("COM1")})
        : FakeProgram(std::move(names)) {}
    void choose(const QString& name) {
        form2->ComComboBox1->setCurrentIndex(form2->ComComboBox1->findText(name));
    }
};

} // namespace

class PortSelectionTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void startsWithSortedListNothingSelectedAndLaterHidden() {
        Rig rig;
        QStringList shown;
        for (int i = 0; i < rig.form2->ComComboBox1->count(); ++i) {
            shown << rig.form2->ComComboBox1->itemText(i);
        }
        QCOMPARE(shown, (QStringList{"COM1", "COM10", "com2", "COM3"}));
        QCOMPARE(rig.form2->ComComboBox1->currentIndex(), -1);
        QVERIFY(!rig.form2->ComComboBox1->isEditable());
        QVERIFY(rig.form2->Button2->isHidden());
        QCOMPARE(rig.form2->windowTitle(), QStringLiteral("Конфигуратор эмулятора Тилу"));
        QCOMPARE(rig.form2->size(), QSize(334, 262));
        QCOMPARE(rig.form2->Button1->text(), QStringLiteral("ОК"));
        QCOMPARE(rig.form2->Button1->geometry(), QRect(112, 152, 121, 25));
        QCOMPARE(rig.form2->ComComboBox1->geometry(), QRect(112, 96, 121, 24));
        QVERIFY(!rig.state.PortChosen);
        QVERIFY(!rig.state.AwaitingReply);
        QVERIFY(rig.form2->Form1() == nullptr);
        QCOMPARE(rig.ports.reads, 1);
    }

    void okWithoutChoiceOrWithFailingPortOffersLater_data() {
        QTest::addColumn<QString>("choice");
        QTest::newRow("nothing selected") << QString();
        QTest::newRow("port held or gone") << QStringLiteral("COM3");
    }
    void okWithoutChoiceOrWithFailingPortOffersLater() {
        QFETCH(QString, choice);
        Rig rig;
        rig.port.failingPorts.insert(QStringLiteral("COM3"));
        if (!choice.isEmpty()) {
            rig.choose(choice);
        }
        QTest::mouseClick(rig.form2->Button1, Qt::LeftButton);
        QCOMPARE(rig.dialogs.calls,
                 (QStringList{"beep", QStringLiteral("information: COM-порт не выбран!")}));
        QVERIFY(rig.form2->Button2->isVisible());
        QVERIFY(rig.form2->isVisible());
        QVERIFY(rig.form2->Form1() == nullptr);
        QVERIFY(!rig.state.PortChosen);
        QVERIFY(!rig.port.isOpen());
    }

    void okOpensPortAndShowsMainWindowForGood() {
        Rig rig;
        rig.choose(QStringLiteral("COM10"));
        QTest::mouseClick(rig.form2->Button1, Qt::LeftButton);
        QVERIFY(rig.dialogs.calls.isEmpty());
        QVERIFY(rig.port.isOpen());
        QCOMPARE(rig.port.portName(), QStringLiteral("COM10"));
        QVERIFY(rig.state.PortChosen);
        QVERIFY(rig.form2->isHidden());
        QVERIFY(rig.form2->Form1() != nullptr);
        QVERIFY(rig.form2->Form1()->isVisible());
    }

    void laterThenBackThenOkKeepsTheOneMainWindow() {
        Rig rig;
        rig.choose(QStringLiteral("COM1"));
        rig.port.failingPorts.insert(QStringLiteral("COM1"));
        QTest::mouseClick(rig.form2->Button1, Qt::LeftButton);
        QTest::mouseClick(rig.form2->Button2, Qt::LeftButton);
        TForm1* form1 = rig.form2->Form1();
        QVERIFY(form1 != nullptr);
        QVERIFY(form1->isVisible());
        QVERIFY(rig.form2->isHidden());
        QVERIFY(!rig.state.PortChosen);
        form1->AppendLog(QStringLiteral("marker"));

        rig.form2->ReturnToPortSelection();
        QVERIFY(form1->isHidden());
        QVERIFY(rig.form2->isVisible());
        QCOMPARE(rig.form2->ComComboBox1->currentText(), QStringLiteral("COM1"));
        QVERIFY(rig.form2->Button2->isVisible());
        QCOMPARE(rig.ports.reads, 1);

        rig.port.failingPorts.clear();
        QTest::mouseClick(rig.form2->Button1, Qt::LeftButton);
        QCOMPARE(rig.form2->Form1(), form1);
        QVERIFY(form1->isVisible());
        QVERIFY(form1->Memo1->toPlainText().endsWith(QStringLiteral("marker")));
        QVERIFY(rig.state.PortChosen);
    }

    void mainWindowAsCreated() {
        Rig rig;
        QTest::mouseClick(rig.form2->Button1, Qt::LeftButton);
        QTest::mouseClick(rig.form2->Button2, Qt::LeftButton);
        TForm1* form1 = rig.form2->Form1();
        QCOMPARE(form1->windowTitle(), QStringLiteral("Конфигуратор эмулятора Тилу"));
        QVERIFY(!(form1->windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(form1->Memo1->toPlainText(), QStringLiteral("Режим OSG"));
        QVERIFY(form1->Memo1->isReadOnly());
        QCOMPARE(form1->Memo1->lineWrapMode(), QPlainTextEdit::NoWrap);
        QVERIFY(form1->Button6->isHidden());
        QVERIFY(!form1->Timer1->isActive());
        QCOMPARE(form1->PageControl1->count(), 2);
        QCOMPARE(form1->PageControl1->tabText(0), QStringLiteral("Режим OSG"));
        QCOMPARE(form1->PageControl1->tabText(1), QStringLiteral("Режим LAF"));
        QCOMPARE(form1->PageControl1->currentIndex(), 0);
        QCOMPARE(form1->Button1->text(), QStringLiteral("Записать настройки"));
        QCOMPARE(form1->Button4->geometry(), QRect(656, 528, 153, 25));
        QCOMPARE(form1->Memo1->geometry(), QRect(472, 24, 353, 329));
    }

    void exitQuestionOnEitherWindow_data() {
        QTest::addColumn<bool>("fromMainWindow");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("ends");
        for (bool fromMain : {false, true}) {
            const char* where = fromMain ? "main" : "port";
            QTest::addRow("%s yes", where) << fromMain << int(YesNoAnswer::Yes) << true;
            QTest::addRow("%s no", where) << fromMain << int(YesNoAnswer::No) << false;
            QTest::addRow("%s closed", where)
                << fromMain << int(YesNoAnswer::ClosedByFrame) << true;
        }
    }
    void exitQuestionOnEitherWindow() {
        QFETCH(bool, fromMainWindow);
        QFETCH(int, answer);
        QFETCH(bool, ends);
        Rig rig;
        QSignalSpy ended(rig.form2.get(), &TForm2::applicationEndRequested);
        QWidget* window = rig.form2.get();
        if (fromMainWindow) {
            rig.choose(QStringLiteral("COM1"));
            QTest::mouseClick(rig.form2->Button1, Qt::LeftButton);
            window = rig.form2->Form1();
        }
        rig.dialogs.yesNoAnswers.push_back(static_cast<YesNoAnswer>(answer));
        window->close();
        QCOMPARE(rig.dialogs.calls.last(),
                 QStringLiteral("warning: Вы действительно хотите выйти?"));
        QCOMPARE(ended.count(), ends ? 1 : 0);
        QCOMPARE(window->isVisible(), !ends);
        QCOMPARE(rig.port.isOpen(), fromMainWindow && !ends);
    }

    // The real box: Enter takes the default Yes, Esc answers No, the frame's close button
    // is told apart from Esc.
    void realQuestionBoxAnswers_data() {
        QTest::addColumn<int>("action");
        QTest::addColumn<int>("expected");
        QTest::newRow("enter") << 0 << int(YesNoAnswer::Yes);
        QTest::newRow("escape") << 1 << int(YesNoAnswer::No);
        QTest::newRow("frame close") << 2 << int(YesNoAnswer::ClosedByFrame);
    }
    void realQuestionBoxAnswers() {
        QFETCH(int, action);
        QFETCH(int, expected);
        QtOperatorDialogs dialogs;
        QString title;
        QTimer::singleShot(50, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box != nullptr);
            title = box->windowTitle();
            if (action == 0) {
                QTest::keyClick(box, Qt::Key_Return);
            } else if (action == 1) {
                QTest::keyClick(box, Qt::Key_Escape);
            } else {
                box->close();
            }
        });
        const YesNoAnswer answer =
            dialogs.warningYesNo(nullptr, QStringLiteral("Вы действительно хотите выйти?"));
        QCOMPARE(int(answer), expected);
        QCOMPARE(title, QStringLiteral("Warning"));
    }

    void realInformationBoxHasApplicationTitle() {
        QtOperatorDialogs dialogs;
        QString title;
        QString text;
        QTimer::singleShot(50, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box != nullptr);
            title = box->windowTitle();
            text = box->text();
            QCOMPARE(box->icon(), QMessageBox::NoIcon);
            box->accept();
        });
        dialogs.information(nullptr, QStringLiteral("COM-порт не выбран!"));
        QCOMPARE(title, QStringLiteral("Тилу"));
        QCOMPARE(text, QStringLiteral("COM-порт не выбран!"));
    }
};

QTEST_MAIN(PortSelectionTest)
#include "tst_port_selection.moc"

#include "FakeProgram.h"
#include "widgets/UpDown.h"

#include <QDir>
#include <QTabBar>
#include <QTest>

using namespace tilu;
using namespace tilu::testing;

namespace {

// The main window as the operator first sees it after "Выбрать позже", with a comma as the
// decimal separator so that texts compare with the literals below.
struct MainWindowRig : FakeProgram {
    MainWindowRig() { openMainWindowWithoutPort(); }
    TUpDown* upDown(int n) const { return form1->UpDown[static_cast<std::size_t>(n)]; }
    QLineEdit* edit(int n) const { return form1->Edit[static_cast<std::size_t>(n)]; }
    QStringList logLines() const { return log(); }
};

QList<QWidget*> DurationControls(TForm1* form1, TEmulatorMode mode) {
    if (mode == TEmulatorMode::OSG) {
        return {form1->Label[10], form1->Label[11],  form1->Edit[11],
                form1->Edit[12],  form1->UpDown[11], form1->UpDown[12]};
    }
    return {form1->Label[4], form1->Label[5],   form1->Edit[13],
            form1->Edit[14], form1->UpDown[13], form1->UpDown[14]};
}

} // namespace

class SettingsPagesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void createdWithFactoryDefaultsOnBothPages() {
        MainWindowRig rig;
        const TEmulatorSettings& s = rig.state.Settings;
        QCOMPARE(s.Mode, TEmulatorMode::OSG);
        QCOMPARE(s.OsgSettings, FactoryDefaults(TEmulatorMode::OSG));
        QCOMPARE(s.LafSettings, FactoryDefaults(TEmulatorMode::LAF));
        QCOMPARE(rig.form1->PageControl1->currentIndex(), 0);
        QVERIFY(rig.form1->RadioButton3->isChecked());
        QVERIFY(rig.form1->RadioButton1->isChecked());
        QCOMPARE(rig.upDown(5)->Position(), -50);
        QCOMPARE(rig.upDown(2)->Position(), 0);
        QCOMPARE(rig.form1->Memo1->toPlainText(), QStringLiteral("Режим OSG"));
        for (auto mode : {TEmulatorMode::OSG, TEmulatorMode::LAF}) {
            for (QWidget* w : DurationControls(rig.form1, mode)) {
                QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
            }
        }
        QVERIFY(rig.edit(4)->isReadOnly() == false);
        QVERIFY(rig.edit(7)->isReadOnly());
        QCOMPARE(rig.form1->CheckBox1->toolTip(),
                 QStringLiteral("Включение Множественного отклика"));
        QCOMPARE(rig.form1->Button5->toolTip(),
                 QStringLiteral("Установка заводских настроек по-умолчанию"));
        QCOMPARE(rig.form1->GroupBox[5]->geometry(), QRect(32, 192, 329, 225));
        QCOMPARE(rig.edit(9)->geometry(), QRect(40, 104, 97, 33));
        QCOMPARE(rig.upDown(9)->geometry(), QRect(184, 104, 89, 33));
        QCOMPARE(rig.upDown(5)->geometry(), QRect(192, 104, 89, 33));
        QCOMPARE(rig.form1->CheckBox2->geometry(), QRect(0, 424, 25, 25));
        QVERIFY(rig.edit(7)->font().bold());
        QCOMPARE(rig.edit(7)->font().pixelSize(), 13);
        QVERIFY(!rig.upDown(7)->accessibleName().isEmpty());
        QVERIFY(!rig.edit(7)->accessibleName().isEmpty());
    }

    void spinStepStoresHeldValueAndShowsText_data() {
        QTest::addColumn<int>("number");
        QTest::addColumn<bool>("right");
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("setting");
        QTest::addColumn<int>("held");
        QTest::addColumn<QString>("text");
        const int osg = int(TEmulatorMode::OSG);
        const int laf = int(TEmulatorMode::LAF);
        using S = NumericSetting;
        QTest::newRow("UpDown7") << 7 << true << osg << int(S::RiseRate) << 7 << "0,1 V / 0,7 Sec";
        QTest::newRow("UpDown2") << 2 << false << osg << int(S::OutputOffset) << 45 << "-0,05 V";
        QTest::newRow("UpDown8") << 8 << true << osg << int(S::ResponseOnset) << 35 << "3,5 Sec";
        QTest::newRow("UpDown9") << 9 << false << osg << int(S::UpperBound) << 8 << "0,8 V";
        QTest::newRow("UpDown10") << 10 << true << osg << int(S::LowerBound) << 2 << "0,2 V";
        QTest::newRow("UpDown11") << 11 << true << osg << int(S::PositiveDuration) << 25
                                  << "2,5 Sec";
        QTest::newRow("UpDown12") << 12 << false << osg << int(S::NegativeDuration) << 4
                                  << "0,4 Sec";
        QTest::newRow("UpDown1") << 1 << false << laf << int(S::RiseRate) << 5 << "0,1 V / 0,5 Sec";
        QTest::newRow("UpDown3") << 3 << true << laf << int(S::OutputOffset) << 55 << "0,05 V";
        QTest::newRow("UpDown4") << 4 << false << laf << int(S::ResponseOnset) << 25 << "2,5 Sec";
        QTest::newRow("UpDown5") << 5 << false << laf << int(S::UpperBound) << 45 << "-0,55 V";
        QTest::newRow("UpDown6") << 6 << true << laf << int(S::LowerBound) << 25 << "0,25 V";
        QTest::newRow("UpDown13") << 13 << false << laf << int(S::PositiveDuration) << 15
                                  << "1,5 Sec";
        QTest::newRow("UpDown14") << 14 << true << laf << int(S::NegativeDuration) << 6
                                  << "0,6 Sec";
    }
    void spinStepStoresHeldValueAndShowsText() {
        QFETCH(int, number);
        QFETCH(bool, right);
        QFETCH(int, mode);
        QFETCH(int, setting);
        QFETCH(int, held);
        QFETCH(QString, text);
        MainWindowRig rig;
        const auto m = static_cast<TEmulatorMode>(mode);
        // Durations step only while multiple response is on.
        (m == TEmulatorMode::OSG ? rig.form1->CheckBox1 : rig.form1->CheckBox2)->setChecked(true);
        rig.form1->PageControl1->setCurrentIndex(mode == int(TEmulatorMode::OSG) ? 0 : 1);
        const TEmulatorSettings before = rig.state.Settings;
        TUpDown* upDown = rig.upDown(number);
        QTest::mouseClick(right ? upDown->rightArrow() : upDown->leftArrow(), Qt::LeftButton);
        QCOMPARE(HeldValue(rig.state.Settings.Of(m), static_cast<NumericSetting>(setting)), held);
        QCOMPARE(rig.edit(number)->text(), text);
        TEmulatorSettings expected = before;
        HeldValue(expected.Of(m), static_cast<NumericSetting>(setting)) = held;
        QCOMPARE(rig.state.Settings.Of(TEmulatorMode::OSG), expected.OsgSettings);
        QCOMPARE(rig.state.Settings.Of(TEmulatorMode::LAF), expected.LafSettings);
    }

    void stepAtBoundRunsNoHandler() {
        MainWindowRig rig;
        rig.edit(9)->setText(QStringLiteral("marker"));
        QTest::mouseClick(rig.upDown(9)->rightArrow(), Qt::LeftButton); // 9 is Max
        QCOMPARE(rig.edit(9)->text(), QStringLiteral("marker"));
        QCOMPARE(rig.state.Settings.OsgSettings.UpperBound, 9);
        QCOMPARE(rig.upDown(9)->Position(), 9);
    }

    void keyboardStepsAndStopsAtBounds() {
        MainWindowRig rig;
        TUpDown* upDown = rig.upDown(5); // LAF upper bound, -50
        rig.form1->PageControl1->setCurrentIndex(1);
        upDown->setFocus();
        for (int i = 0; i < 20; ++i) {
            QTest::keyClick(upDown, Qt::Key_Left);
        }
        QCOMPARE(upDown->Position(), -90);
        QCOMPARE(rig.state.Settings.LafSettings.UpperBound, 10);
        for (int i = 0; i < 20; ++i) {
            QTest::keyClick(upDown, Qt::Key_Right);
        }
        QCOMPARE(upDown->Position(), -15);
        QCOMPARE(rig.state.Settings.LafSettings.UpperBound, 85);
        QCOMPARE(rig.edit(5)->text(), QStringLiteral("-0,15 V"));
    }

    // Off the Increment grid (a position shown from a reply or a file), a step that would pass a
    // bound stops at the bound.
    void offGridStepStopsAtBound() {
        TUpDown upDown;
        upDown.setRange(5, 50);
        upDown.setIncrement(5);
        upDown.setPosition(48);
        int clicks = 0;
        QObject::connect(&upDown, &TUpDown::clicked, &upDown, [&clicks] { ++clicks; });
        upDown.stepUp();
        QCOMPARE(upDown.Position(), 50);
        upDown.stepUp();
        QCOMPARE(upDown.Position(), 50);
        upDown.stepDown();
        QCOMPARE(upDown.Position(), 45);
        QCOMPARE(clicks, 2);
        upDown.setPosition(-1000);
        QCOMPARE(upDown.Position(), 5);
        upDown.setPosition(40000); // beyond 16 bits: still the nearer bound
        QCOMPARE(upDown.Position(), 50);
        QCOMPARE(clicks, 2);
    }

    void radioButtonsFollowOperatorAndProgram() {
        MainWindowRig rig;
        QTest::mouseClick(rig.form1->RadioButton4, Qt::LeftButton);
        QVERIFY(!rig.state.Settings.OsgSettings.SignalDelay);
        QTest::mouseClick(rig.form1->RadioButton3, Qt::LeftButton);
        QVERIFY(rig.state.Settings.OsgSettings.SignalDelay);
        // Clicking the selected button runs no handler: the model keeps what it holds.
        rig.state.Settings.OsgSettings.SignalDelay = false;
        QTest::mouseClick(rig.form1->RadioButton3, Qt::LeftButton);
        QVERIFY(!rig.state.Settings.OsgSettings.SignalDelay);
        // LAF pair, selected by the program.
        rig.state.Settings.Mode = TEmulatorMode::LAF;
        rig.state.Settings.LafSettings.SignalDelay = false;
        rig.form1->ApplySettingsToPages();
        QVERIFY(rig.form1->RadioButton2->isChecked());
        QVERIFY(!rig.form1->RadioButton1->isChecked());
        QVERIFY(!rig.state.Settings.LafSettings.SignalDelay);
        QTest::mouseClick(rig.form1->RadioButton1, Qt::LeftButton);
        QVERIFY(rig.state.Settings.LafSettings.SignalDelay);
    }

    void checkBoxEnablesItsDurationRows() {
        MainWindowRig rig;
        QTest::mouseClick(rig.form1->CheckBox1, Qt::LeftButton);
        QVERIFY(rig.state.Settings.OsgSettings.MultipleResponse);
        for (QWidget* w : DurationControls(rig.form1, TEmulatorMode::OSG)) {
            QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));
        }
        for (QWidget* w : DurationControls(rig.form1, TEmulatorMode::LAF)) {
            QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
        }
        QCOMPARE(rig.edit(11)->text(), QStringLiteral("2 Sec"));
        QTest::mouseClick(rig.form1->CheckBox1, Qt::LeftButton);
        QVERIFY(!rig.state.Settings.OsgSettings.MultipleResponse);
        for (QWidget* w : DurationControls(rig.form1, TEmulatorMode::OSG)) {
            QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
        }
        QCOMPARE(rig.edit(11)->text(), QStringLiteral("2 Sec"));
    }

    void resetOnLafPageWithMultipleResponseTicked() {
        MainWindowRig rig;
        QTest::mouseClick(rig.form1->PageControl1->tabBar(), Qt::LeftButton, {},
                          rig.form1->PageControl1->tabBar()->tabRect(1).center());
        QTest::mouseClick(rig.form1->CheckBox2, Qt::LeftButton);
        QTest::mouseClick(rig.form1->CheckBox1, Qt::LeftButton);
        QTest::mouseClick(rig.upDown(5)->rightArrow(), Qt::LeftButton);
        QTest::mouseClick(rig.upDown(7)->rightArrow(), Qt::LeftButton);
        QTest::mouseClick(rig.form1->RadioButton2, Qt::LeftButton);
        rig.dialogs.calls.clear();
        const QStringList logBefore = rig.logLines();

        QTest::mouseClick(rig.form1->Button5, Qt::LeftButton);

        QCOMPARE(rig.state.Settings.Mode, TEmulatorMode::LAF);
        QCOMPARE(rig.form1->PageControl1->currentIndex(), 1);
        QCOMPARE(rig.state.Settings.OsgSettings, FactoryDefaults(TEmulatorMode::OSG));
        QCOMPARE(rig.state.Settings.LafSettings, FactoryDefaults(TEmulatorMode::LAF));
        QVERIFY(!rig.form1->CheckBox1->isChecked());
        QVERIFY(!rig.form1->CheckBox2->isChecked());
        for (auto mode : {TEmulatorMode::OSG, TEmulatorMode::LAF}) {
            for (QWidget* w : DurationControls(rig.form1, mode)) {
                QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
            }
        }
        QVERIFY(rig.form1->RadioButton1->isChecked());
        QCOMPARE(rig.edit(5)->text(), QStringLiteral("-0,5 V"));
        QCOMPARE(rig.edit(7)->text(), QStringLiteral("0,1 V / 0,6 Sec"));
        QCOMPARE(rig.edit(2)->text(), QStringLiteral("0 V"));
        QCOMPARE(rig.edit(6)->text(), QStringLiteral("0,2 V"));
        QCOMPARE(rig.upDown(5)->Position(), -50);
        const QStringList expectedLog =
            logBefore + QStringList{QString(), QStringLiteral("Сброс настроек по умолчанию")};
        QCOMPARE(rig.logLines(), expectedLog);
        QVERIFY(rig.dialogs.calls.isEmpty());
    }

    void applyShowsHeldValuesOutsideTheirRange() {
        MainWindowRig rig;
        rig.state.Settings.Mode = TEmulatorMode::LAF;
        rig.state.Settings.LafSettings.LowerBound = 200;
        rig.state.Settings.LafSettings.RiseRate = 100;
        rig.state.Settings.LafSettings.OutputOffset = 0;
        rig.state.Settings.LafSettings.MultipleResponse = true;
        const QString osgUpperText = rig.edit(9)->text();
        const QString log = rig.form1->Memo1->toPlainText();
        rig.form1->ApplySettingsToPages();
        QCOMPARE(rig.form1->PageControl1->currentIndex(), 1);
        QCOMPARE(rig.upDown(6)->Position(), 40);
        QCOMPARE(rig.edit(6)->text(), QStringLiteral("2 V"));
        QCOMPARE(rig.upDown(1)->Position(), 50);
        QCOMPARE(rig.edit(1)->text(), QStringLiteral("0,1 V / 5 Sec"));
        QCOMPARE(rig.upDown(3)->Position(), -25);
        QCOMPARE(rig.edit(3)->text(), QStringLiteral("-0,25 V"));
        QCOMPARE(rig.state.Settings.LafSettings.LowerBound, 200);
        QCOMPARE(rig.state.Settings.LafSettings.OutputOffset, 0);
        QVERIFY(rig.form1->CheckBox2->isChecked());
        for (QWidget* w : DurationControls(rig.form1, TEmulatorMode::LAF)) {
            QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));
        }
        QCOMPARE(rig.edit(9)->text(), osgUpperText);
        QCOMPARE(rig.form1->Memo1->toPlainText(), log);
        QVERIFY(rig.dialogs.calls.isEmpty());

        rig.state.Settings.Mode = TEmulatorMode::OSG;
        rig.state.Settings.OsgSettings.UpperBound = 20;
        rig.state.Settings.OsgSettings.ResponseOnset = 65536 + 30;
        rig.form1->ApplySettingsToPages();
        QCOMPARE(rig.form1->PageControl1->currentIndex(), 0);
        QCOMPARE(rig.upDown(9)->Position(), 9);
        QCOMPARE(rig.edit(9)->text(), QStringLiteral("0,9 V"));
        QCOMPARE(rig.upDown(8)->Position(), 30);
        QCOMPARE(rig.edit(8)->text(), QStringLiteral("3 Sec"));
        QCOMPARE(rig.state.Settings.OsgSettings.UpperBound, 20);
        QCOMPARE(rig.form1->Memo1->toPlainText(), log);
    }

    void lafLowerBoundTextComesFromHeldValue() {
        MainWindowRig rig;
        rig.state.Settings.Mode = TEmulatorMode::LAF;
        rig.state.Settings.LafSettings.LowerBound = -5;
        rig.form1->ApplySettingsToPages();
        QCOMPARE(rig.upDown(6)->Position(), 10);
        QCOMPARE(rig.edit(6)->text(), QStringLiteral("42949672,91 V"));
    }

    void operatorTabSwitchLogsAndTellsOnce_data() {
        QTest::addColumn<int>("how");
        QTest::newRow("mouse") << 0;
        QTest::newRow("ctrl+tab") << 1;
        QTest::newRow("arrow on tabs") << 2;
    }
    void operatorTabSwitchLogsAndTellsOnce() {
        QFETCH(int, how);
        MainWindowRig rig;
        rig.form1->activateWindow();
        QTabBar* tabs = rig.form1->PageControl1->tabBar();
        const TEmulatorSettings before = rig.state.Settings;
        if (how == 0) {
            QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
        } else if (how == 1) {
            rig.edit(7)->setFocus();
            QTest::keyClick(rig.edit(7), Qt::Key_Tab, Qt::ControlModifier);
        } else {
            tabs->setFocus();
            QTest::keyClick(tabs, Qt::Key_Right);
        }
        QCOMPARE(rig.form1->PageControl1->currentIndex(), 1);
        QCOMPARE(rig.state.Settings.Mode, TEmulatorMode::LAF);
        QCOMPARE(rig.state.Settings.OsgSettings, before.OsgSettings);
        QCOMPARE(rig.state.Settings.LafSettings, before.LafSettings);
        QCOMPARE(rig.logLines(), (QStringList{QStringLiteral("Режим OSG"), QString(),
                                              QStringLiteral("Переключение в режим LAF")}));
        QCOMPARE(rig.dialogs.calls,
                 QStringList{QStringLiteral("information: Переключение в режим LAF")});
    }

    void modeIsSetBeforeTheBoxOpens() {
        MainWindowRig rig;
        TEmulatorMode seen = TEmulatorMode::OSG;
        QString lastLine;
        rig.dialogs.whileModal = [&] {
            seen = rig.state.Settings.Mode;
            lastLine = rig.logLines().last();
        };
        QTabBar* tabs = rig.form1->PageControl1->tabBar();
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
        QCOMPARE(seen, TEmulatorMode::LAF);
        QCOMPARE(lastLine, QStringLiteral("Переключение в режим LAF"));
    }

    void programPageSelectionRunsNoChangeHandler() {
        MainWindowRig rig;
        rig.state.Settings.Mode = TEmulatorMode::LAF;
        rig.form1->ApplySettingsToPages();
        rig.state.Settings.Mode = TEmulatorMode::OSG;
        rig.form1->ApplySettingsToPages();
        QCOMPARE(rig.form1->Memo1->toPlainText(), QStringLiteral("Режим OSG"));
        QVERIFY(rig.dialogs.calls.isEmpty());
    }

    void typedTextIsNotReadAndTheNextStepReplacesIt() {
        MainWindowRig rig;
        rig.form1->PageControl1->setCurrentIndex(1);
        rig.edit(5)->setFocus();
        rig.edit(5)->selectAll();
        QTest::keyClicks(rig.edit(5), QStringLiteral("123"));
        QCOMPARE(rig.edit(5)->text(), QStringLiteral("123"));
        QCOMPARE(rig.state.Settings.LafSettings.UpperBound, 50);
        QTest::mouseClick(rig.upDown(5)->rightArrow(), Qt::LeftButton);
        QCOMPARE(rig.edit(5)->text(), QStringLiteral("-0,45 V"));
        QCOMPARE(rig.state.Settings.LafSettings.UpperBound, 55);
    }

    void periodSeparatorFollowsTheLocale() {
        MainWindowRig rig;
        rig.form1->State().DecimalSeparator = '.';
        QTest::mouseClick(rig.upDown(7)->rightArrow(), Qt::LeftButton);
        QCOMPARE(rig.edit(7)->text(), QStringLiteral("0,1 V / 0.7 Sec"));
    }

    // Renders the main window for the README when TILU_SCREENSHOT_DIR is set.
    void screenshot() {
        const QString dir = qEnvironmentVariable("TILU_SCREENSHOT_DIR");
        if (dir.isEmpty()) {
            QSKIP("TILU_SCREENSHOT_DIR not set");
        }
        MainWindowRig rig;
        rig.form1->AppendLog(QString());
        rig.form1->AppendLog(QStringLiteral("Запись настроек в эмулятор "));
        rig.form1->AppendLog(QStringLiteral("Запись в эмулятор прошла успешно!"));
        QVERIFY(rig.form1->grab().save(QDir(dir).filePath(QStringLiteral("main-window.png"))));
        rig.form2->ReturnToPortSelection();
        QVERIFY(rig.form2->grab().save(QDir(dir).filePath(QStringLiteral("port-window.png"))));
    }
};

QTEST_MAIN(SettingsPagesTest)
#include "tst_settings_pages.moc"

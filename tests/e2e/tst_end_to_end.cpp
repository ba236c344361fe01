// The configurator's real windows and real serial port against tilu-sim on a pseudo-terminal.
#include "FakeOperatorDialogs.h"
#include "MainWindow.h"
#include "PortList.h"
#include "PortSelectionWindow.h"
#include "QtSerialPort.h"
#include "SimulatedProgram.h"
#include "SimulatorProcess.h"
#include "widgets/UpDown.h"

#include <QRegularExpression>
#include <QTabBar>
#include <QTest>

#include <ctime>
#include <memory>

using namespace tilu;
using namespace tilu::testing;

namespace {

double ProcessCpuMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

} // namespace

class EndToEndTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void writeThenReadBackFollowsTheReplysMode() {
        SimulatedProgram program;
        QVERIFY(program.connect());
        TForm1* form1 = program.form1;

        // LAF page: step the upper bound and tick multiple response, then write.
        QTest::mouseClick(form1->PageControl1->tabBar(), Qt::LeftButton, {},
                          form1->PageControl1->tabBar()->tabRect(1).center());
        QTest::mouseClick(form1->UpDown[5]->leftArrow(), Qt::LeftButton); // -50 -> -55: 45
        QTest::mouseClick(form1->CheckBox2, Qt::LeftButton);
        program.dialogs.calls.clear();
        qsizetype mark = program.log().size();
        QTest::mouseClick(form1->Button1, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(program.logSince(mark),
                                  (QStringList{QString(), "Запись настроек в эмулятор ",
                                               "Запись в эмулятор прошла успешно!"}),
                                  3000);
        QCOMPARE(program.dialogs.calls,
                 (QStringList{"beep", "information: Запись в эмулятор прошла успешно!"}));
        QTRY_VERIFY_WITH_TIMEOUT(program.simulator.output().contains(QStringLiteral(
                                     "CA D3 B9 37 88 06 32 1E 2D 14 88 14 05 00 00 00 00")),
                                 2000);

        // Back to the factory defaults on the OSG page, then read: the reply brings LAF back.
        QTest::mouseClick(form1->Button5, Qt::LeftButton);
        QTest::mouseClick(form1->PageControl1->tabBar(), Qt::LeftButton, {},
                          form1->PageControl1->tabBar()->tabRect(0).center());
        QCOMPARE(program.state.Settings.Mode, TEmulatorMode::OSG);
        program.dialogs.calls.clear();
        mark = program.log().size();
        QTest::mouseClick(form1->Button2, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(program.logSince(mark),
                                  (QStringList{QString(), "Чтение настроек из эмулятора ",
                                               "Данные с эмулятора загружены!"}),
                                  3000);
        QCOMPARE(program.state.Settings.Mode, TEmulatorMode::LAF);
        QCOMPARE(form1->PageControl1->currentIndex(), 1);
        QCOMPARE(program.state.Settings.LafSettings.UpperBound, 45);
        QVERIFY(program.state.Settings.LafSettings.MultipleResponse);
        QCOMPARE(form1->Edit[5]->text(), QStringLiteral("-0,55 V"));
        QVERIFY(form1->CheckBox2->isChecked());
        QVERIFY(form1->UpDown[13]->isEnabled());
        QCOMPARE(program.dialogs.calls,
                 (QStringList{"beep", "information: Данные с эмулятора загружены!"}));
    }

    void levelsThroughTheHiddenButtonsHandler() {
        SimulatedProgram program;
        QVERIFY(program.connect());
        const qsizetype mark = program.log().size();
        program.form1->Button6Click();
        QTRY_COMPARE_WITH_TIMEOUT(program.logSince(mark).size(), 14, 3000);
        const QStringList lines = program.logSince(mark);
        QCOMPARE(lines.at(1), QStringLiteral("Чтение текущих уровней из эмулятора "));
        const QStringList patterns{
            "Канал А",
            "-> Уровень входного сигнала - \\d+ мВ",
            "-> Уровень опорного входа - \\d+ мВ",
            "-> Уровень выходного сигнала - \\d+ мВ",
            "-> Уровень опорного выхода - \\d+ мВ",
            "-> Статус канала А - [0-9A-F]{2}",
            "Канал В",
            "-> Уровень входного сигнала - \\d+ мВ",
            "-> Уровень опорного входа - \\d+ мВ",
            "-> Уровень выходного сигнала - \\d+ мВ",
            "-> Уровень опорного выхода - \\d+ мВ",
            "-> Статус канала В - [0-9A-F]{2}",
        };
        for (int i = 0; i < patterns.size(); ++i) {
            const QRegularExpression pattern(QLatin1Char('^') + patterns.at(i) + QLatin1Char('$'));
            QVERIFY2(pattern.match(lines.at(i + 2)).hasMatch(), qPrintable(lines.at(i + 2)));
        }
        QVERIFY(program.dialogs.calls.isEmpty());
    }

    void faultSwitchOutcomes_data() {
        QTest::addColumn<QStringList>("switches");
        QTest::addColumn<int>("button");
        QTest::addColumn<QStringList>("replyLines");
        QTest::addColumn<QStringList>("boxes");
        const QString silent1 = QStringLiteral("*** Эмулятор не отвечает !!");
        const QString silent2 = QStringLiteral("*** Проверьте связь с эмулятором !!");
        QTest::newRow("silent") << QStringList{"--silent"} << 2 << QStringList{silent1, silent2}
                                << QStringList{"error: " + silent1};
        QTest::newRow("late beyond the watchdog")
            << QStringList{"--delay", "2000"} << 2 << QStringList{silent1, silent2}
            << QStringList{"error: " + silent1};
        QTest::newRow("late within the watchdog")
            << QStringList{"--delay", "300"} << 2 << QStringList{"Данные с эмулятора загружены!"}
            << QStringList{"beep", "information: Данные с эмулятора загружены!"};
        QTest::newRow("bad status on read")
            << QStringList{"--status", "80"} << 2
            << QStringList{"***  Неправильный ответ от эмулятора!"} << QStringList{};
        QTest::newRow("bad status on write")
            << QStringList{"--status", "80"} << 1
            << QStringList{"***  С эмулятора не пришло подтверждения успешной записи  ***"}
            << QStringList{"beep",
                           "information: С эмулятора не пришло подтверждения успешной записи"};
        QTest::newRow("split reply")
            << QStringList{"--split", "200"} << 2
            << QStringList{"***  Не правильное кол-во байт от эмулятора - 9"}
            << QStringList{"beep", "information: Не правильное кол-во байт от эмулятора - 9"};
        QTest::newRow("short reply")
            << QStringList{"--length", "17"} << 2
            << QStringList{"***  Не правильное кол-во байт от эмулятора - 17"}
            << QStringList{"beep", "information: Не правильное кол-во байт от эмулятора - 17"};
        QTest::newRow("long levels reply")
            << QStringList{"--length", "30"} << 6
            << QStringList{"***  Не правильное кол-во байт от эмулятора - 30"}
            << QStringList{"beep", "information: Не правильное кол-во байт от эмулятора - 30"};
        QTest::newRow("garbage")
            << QStringList{"--garbage"} << 2
            << QStringList{"***  Неверный идентификатор из эмулятора  ***",
                           "Прием : (18) ->_AC_3D_BA_81_88_88_6_32_1E_9_1_37_14_5_0_0_0_0"}
            << QStringList{};
    }
    void faultSwitchOutcomes() {
        QFETCH(QStringList, switches);
        QFETCH(int, button);
        QFETCH(QStringList, replyLines);
        QFETCH(QStringList, boxes);
        SimulatedProgram program(switches);
        QVERIFY(program.connect());
        const qsizetype mark = program.log().size();
        QPushButton* buttons[] = {
            nullptr, program.form1->Button1, program.form1->Button2, nullptr, nullptr,
            nullptr, program.form1->Button6};
        if (button == 6) {
            program.form1->Button6Click();
        } else {
            QTest::mouseClick(buttons[button], Qt::LeftButton);
        }
        QTRY_COMPARE_WITH_TIMEOUT(program.logSince(mark + 2), replyLines, 4000);
        QCOMPARE(program.dialogs.calls, boxes);
        // Nothing more arrives later: late or split bytes are left for the next command's purge.
        QTest::qWait(600);
        QCOMPARE(program.logSince(mark + 2), replyLines);
        QVERIFY(!program.state.AwaitingReply);
    }

    void simulatorGoneTakesTheDeviceLossPath() {
        SimulatedProgram program;
        QVERIFY(program.connect());
        const qsizetype mark = program.log().size();
        program.simulator.kill();
        QTRY_VERIFY_WITH_TIMEOUT(!program.state.PortChosen, 3000);
        QVERIFY(!program.port.isOpen());
        QTest::qWait(200);
        const QStringList lines = program.logSince(mark);
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines.at(1).startsWith(QStringLiteral("***")));
        QCOMPARE(program.dialogs.calls.size(), 1);
        QVERIFY(program.dialogs.calls.first().startsWith(QStringLiteral("error: ")));

        const double cpuBefore = ProcessCpuMilliseconds();
        QTest::qWait(1000);
        QVERIFY2(ProcessCpuMilliseconds() - cpuBefore < 50.0, "busy after the device was lost");

        // The next command offers the way back to the port selection window.
        program.dialogs.yesNoAnswers.push_back(YesNoAnswer::Yes);
        QTest::mouseClick(program.form1->Button2, Qt::LeftButton);
        QVERIFY(program.form2->isVisible());
        QVERIFY(program.form1->isHidden());
    }
};

QTEST_MAIN(EndToEndTest)
#include "tst_end_to_end.moc"

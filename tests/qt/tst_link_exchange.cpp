#include "FakeProgram.h"
#include "widgets/UpDown.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace tilu;
using namespace tilu::testing;

namespace {

const QString kWriteLine = QStringLiteral("Запись настроек в эмулятор ");
const QString kReadLine = QStringLiteral("Чтение настроек из эмулятора ");
const QString kLevelsLine = QStringLiteral("Чтение текущих уровней из эмулятора ");
const QString kSilentBox = QStringLiteral("error: *** Эмулятор не отвечает !!");
const QStringList kSilentLines = {QStringLiteral("*** Эмулятор не отвечает !!"),
                                  QStringLiteral("*** Проверьте связь с эмулятором !!")};

QByteArray Hex(const char* text) {
    return QByteArray::fromHex(text);
}

// The port selection window with fakes behind it; by default "ОК" has opened COM1 and the
// main window is shown.
struct Rig : FakeProgram {
    qsizetype logBaseline = 0;

    explicit Rig(bool withPort = true)
        : FakeProgram({QStringLiteral("COM1"), QStringLiteral("COM2")}) {
        if (withPort) {
            openMainWindowWithPort(QStringLiteral("COM1"));
        } else {
            openMainWindowWithoutPort();
        }
        logBaseline = log().size();
    }

    void choosePortAndConfirm() {
        form2->ComComboBox1->setCurrentIndex(form2->ComComboBox1->findText(QStringLiteral("COM1")));
        QTest::mouseClick(form2->Button1, Qt::LeftButton);
    }

    // The lines appended since the rig was set up.
    QStringList newLog() const { return log().mid(logBaseline); }
};

} // namespace

class LinkExchangeTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void commandWritesItsFramePurgedAndLogs_data() {
        QTest::addColumn<int>("button");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("logLine");
        QTest::newRow("write") << 1 << Hex("CAD3B9 88 88 06 32 1E 09 01 37 14 05 00000000")
                               << kWriteLine;
        QTest::newRow("read") << 2 << Hex("CAD3BA") << kReadLine;
        QTest::newRow("levels, hidden button") << 6 << Hex("CAD3BB") << kLevelsLine;
    }
    void commandWritesItsFramePurgedAndLogs() {
        QFETCH(int, button);
        QFETCH(QByteArray, frame);
        QFETCH(QString, logLine);
        Rig rig;
        rig.port.incoming = Hex("0102"); // arrived while nothing was awaited
        QPushButton* pressed = button == 1   ? rig.form1->Button1
                               : button == 2 ? rig.form1->Button2
                                             : rig.form1->Button6;
        pressed->click();
        QCOMPARE(rig.port.purges, 1);
        QVERIFY(rig.port.incoming.isEmpty());
        QCOMPARE(rig.port.written, (QList<QByteArray>{frame}));
        QCOMPARE(rig.newLog(), (QStringList{QString(), logLine}));
        QVERIFY(rig.dialogs.calls.isEmpty());
        QVERIFY(rig.state.AwaitingReply);
        QVERIFY(rig.form1->Timer1->isActive());
    }

    void shortFrameAfterWriteFrameIsThreeBytes() {
        Rig rig;
        rig.form1->Button1->click();
        rig.form1->Button2->click();
        QCOMPARE(rig.port.written.size(), 2);
        QCOMPARE(rig.port.written.at(1), Hex("CAD3BA"));
    }

    void writeReplyTakenWithBeepLogThenBox() {
        Rig rig;
        rig.form1->Button1->click();
        QStringList logWhenBoxShown;
        rig.dialogs.whileModal = [&] { logWhenBoxShown = rig.newLog(); };
        QElapsedTimer handler;
        handler.start();
        rig.port.deliver(Hex("CAD3B981"));
        QVERIFY(handler.elapsed() >= 50);
        QCOMPARE(rig.dialogs.calls,
                 (QStringList{"beep", "information: Запись в эмулятор прошла успешно!"}));
        const QStringList expected = {QString(), kWriteLine,
                                      QStringLiteral("Запись в эмулятор прошла успешно!")};
        QCOMPARE(logWhenBoxShown, expected);
        QCOMPARE(rig.newLog(), expected);
        QVERIFY(!rig.state.AwaitingReply);
        QVERIFY(!rig.form1->Timer1->isActive());
        QCOMPARE(rig.state.Link.RxCount, 4);
        QVERIFY(rig.port.incoming.isEmpty());

        // The watchdog was stopped before anything else and does not report later.
        QTest::qWait(1700);
        QCOMPARE(rig.dialogs.calls.size(), 2);
    }

    void settingsReplyFillsModelAndShowsItsMode() {
        Rig rig;
        const TModeSettings osgBefore = rig.state.Settings.OsgSettings;
        rig.form1->Button2->click();
        rig.port.deliver(Hex("CAD3BA81 37 88 64 32 1E 14 C8 88 28 0A FFFFFFFF"));
        QCOMPARE(rig.dialogs.calls,
                 (QStringList{"beep", "information: Данные с эмулятора загружены!"}));
        QCOMPARE(rig.newLog(), (QStringList{QString(), kReadLine,
                                            QStringLiteral("Данные с эмулятора загружены!")}));
        QCOMPARE(rig.state.Settings.Mode, TEmulatorMode::LAF);
        TModeSettings expected;
        expected.SignalDelay = true;
        expected.RiseRate = 100;
        expected.OutputOffset = 50;
        expected.ResponseOnset = 30;
        expected.UpperBound = 20;
        expected.LowerBound = 200;
        expected.MultipleResponse = true;
        expected.PositiveDuration = 40;
        expected.NegativeDuration = 10;
        QCOMPARE(rig.state.Settings.LafSettings, expected);
        QCOMPARE(rig.state.Settings.OsgSettings, osgBefore);
        QCOMPARE(rig.form1->PageControl1->currentIndex(), 1);
        QCOMPARE(rig.form1->Edit[1]->text(), QStringLiteral("0,1 V / 5 Sec"));
        QCOMPARE(rig.form1->Edit[6]->text(), QStringLiteral("2 V"));
        QCOMPARE(rig.form1->Edit[5]->text(), QStringLiteral("-0,8 V"));
        QVERIFY(rig.form1->CheckBox2->isChecked());
        QVERIFY(rig.form1->UpDown[14]->isEnabled());
        // The held value goes out again as it came.
        rig.form1->Button1->click();
        QCOMPARE(rig.port.written.last(), Hex("CAD3B9 37 88 64 32 1E 14 C8 88 28 0A 00000000"));
    }

    void levelsReplyLogsBothChannels() {
        Rig rig;
        rig.form1->Button6->click();
        rig.port.deliver(Hex("CAD3BB81 01F4 FFFF 0000 1234 9999 05 0007 2710 8000 00FF 9999 AB"));
        QVERIFY(rig.dialogs.calls.isEmpty());
        QCOMPARE(rig.newLog(),
                 (QStringList{QString(), kLevelsLine, QStringLiteral("Канал \u0410"),
                              QStringLiteral("-> Уровень входного сигнала - 500 \u043C\u0412"),
                              QStringLiteral("-> Уровень опорного входа - 65535 \u043C\u0412"),
                              QStringLiteral("-> Уровень выходного сигнала - 0 \u043C\u0412"),
                              QStringLiteral("-> Уровень опорного выхода - 4660 \u043C\u0412"),
                              QStringLiteral("-> Статус канала \u0410 - 05"),
                              QStringLiteral("Канал \u0412"),
                              QStringLiteral("-> Уровень входного сигнала - 7 \u043C\u0412"),
                              QStringLiteral("-> Уровень опорного входа - 10000 \u043C\u0412"),
                              QStringLiteral("-> Уровень выходного сигнала - 32768 \u043C\u0412"),
                              QStringLiteral("-> Уровень опорного выхода - 255 \u043C\u0412"),
                              QStringLiteral("-> Статус канала \u0412 - AB")}));
    }

    void receptionsNoDecoderTakes_data() {
        QTest::addColumn<QByteArray>("reception");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("single byte, first reception")
            << Hex("CA")
            << QStringList{"***  Неверный идентификатор из эмулятора  ***", "Прием : (1) ->_CA"};
        QTest::newRow("unknown command")
            << Hex("CAD305")
            << QStringList{"***  Неправильный ответ из эмулятора  ***", "Прием : (3) ->_CA_D3_5"};
    }
    void receptionsNoDecoderTakes() {
        QFETCH(QByteArray, reception);
        QFETCH(QStringList, lines);
        Rig rig;
        rig.form1->Button2->click();
        rig.port.deliver(reception);
        QCOMPARE(rig.newLog(), QStringList({QString(), kReadLine}) + lines);
        QVERIFY(rig.dialogs.calls.isEmpty());
    }

    void staleSignatureLeadsOneByteToSettingsDecoder() {
        Rig rig;
        rig.form1->Button2->click();
        rig.port.deliver(Hex("CAD3BA81 88 88 06 32 1E 09 01 37 14 05 00000000"));
        rig.form1->Button2->click();
        rig.dialogs.calls.clear();
        rig.port.deliver(Hex("CA"));
        QCOMPARE(rig.dialogs.calls,
                 (QStringList{"beep", "information: Не правильное кол-во байт от эмулятора - 1"}));
        QCOMPARE(rig.newLog().last(),
                 QStringLiteral("***  Не правильное кол-во байт от эмулятора - 1"));
    }

    void moreThan256WaitingStoresFirst256AndDropsTheRest() {
        Rig rig;
        rig.form1->Button2->click();
        rig.port.deliver(QByteArray(300, '\x05'));
        QString dump = QStringLiteral("Прием : (256) ->");
        for (int i = 0; i < 256; ++i) {
            dump += QStringLiteral("_5");
        }
        QCOMPARE(rig.newLog().mid(2),
                 (QStringList{"***  Неверный идентификатор из эмулятора  ***", dump}));
        QCOMPARE(rig.state.Link.RxCount, 256);
        QVERIFY(rig.port.incoming.isEmpty());
    }

    void bytesNotAwaitedStayUnread() {
        Rig rig;
        rig.port.deliver(Hex("CAD3B981"));
        QVERIFY(rig.newLog().isEmpty());
        QVERIFY(rig.dialogs.calls.isEmpty());
        QCOMPARE(rig.port.incoming, Hex("CAD3B981"));

        // A reply split by more than 50 ms: only the first piece is read.
        rig.form1->Button2->click();
        rig.port.deliver(Hex("CAD3BA81 88 88"));
        rig.port.deliver(Hex("06 32 1E 09 01 37 14 05 00000000"));
        QCOMPARE(rig.newLog().mid(2),
                 (QStringList{"***  Не правильное кол-во байт от эмулятора - 6"}));
        QCOMPARE(rig.port.incoming, Hex("06 32 1E 09 01 37 14 05 00000000"));
    }

    void silenceReportedAfterWatchdogInterval() {
        Rig rig;
        QElapsedTimer sinceSend;
        sinceSend.start();
        rig.form1->Button1->click();
        QStringList logWhenBoxShown;
        rig.dialogs.whileModal = [&] { logWhenBoxShown = rig.newLog(); };
        QTRY_VERIFY_WITH_TIMEOUT(rig.dialogs.calls.contains(kSilentBox), 3000);
        QVERIFY2(sinceSend.elapsed() >= 1490, qPrintable(QString::number(sinceSend.elapsed())));
        QCOMPARE(logWhenBoxShown, (QStringList{QString(), kWriteLine}));
        QCOMPARE(rig.newLog(), QStringList({QString(), kWriteLine}) + kSilentLines);
        QVERIFY(!rig.state.AwaitingReply);
        QVERIFY(!rig.form1->Timer1->isActive());

        // Late bytes are left unread.
        rig.port.deliver(Hex("CAD3B981"));
        QCOMPARE(rig.newLog().size(), 4);
        QCOMPARE(rig.port.incoming, Hex("CAD3B981"));
    }

    void secondCommandKeepsTheFirstOnesSchedule() {
        Rig rig;
        QElapsedTimer sinceFirst;
        sinceFirst.start();
        rig.form1->Button1->click();
        QTest::qWait(700);
        rig.form1->Button2->click();
        QCOMPARE(rig.port.purges, 2);
        QTRY_VERIFY_WITH_TIMEOUT(rig.dialogs.calls.contains(kSilentBox), 3000);
        QVERIFY2(sinceFirst.elapsed() < 2100, qPrintable(QString::number(sinceFirst.elapsed())));
        QTest::qWait(1700);
        QCOMPARE(rig.dialogs.calls, (QStringList{kSilentBox}));
        QCOMPARE(rig.newLog(),
                 QStringList({QString(), kWriteLine, QString(), kReadLine}) + kSilentLines);
    }

    // One notification with a line error and characters: the error first, then the
    // characters find no reply awaited; the watchdog still reports, also while the line-error
    // box is open.
    void lineErrorThenCharactersInOneNotification() {
        Rig rig;
        const TEmulatorSettings before = rig.state.Settings;
        rig.form1->Button2->click();
        QElapsedTimer sinceSend;
        sinceSend.start();
        QStringList callsWhileErrorBoxOpen;
        rig.dialogs.whileModal = [&] {
            QTRY_VERIFY_WITH_TIMEOUT(rig.dialogs.calls.contains(kSilentBox), 3000);
            callsWhileErrorBoxOpen = rig.dialogs.calls;
        };
        Q_EMIT rig.port.lineError(static_cast<TComErrors>(ceFrame | ceOverrun));
        const QByteArray reply = Hex("CAD3BA81 37 88 64 32 1E 14 C8 88 28 0A FFFFFFFF");
        rig.port.deliver(reply);

        QVERIFY(sinceSend.elapsed() >= 1490);
        const QString lineErrorBox =
            QStringLiteral("information: Ошибка COM-порта\n\rFraming_Overrun_");
        QCOMPARE(callsWhileErrorBoxOpen, (QStringList{"beep", "beep", lineErrorBox, kSilentBox}));
        QCOMPARE(rig.dialogs.calls, callsWhileErrorBoxOpen);
        QCOMPARE(rig.newLog(), QStringList({QString(), kReadLine}) + kSilentLines);
        QCOMPARE(rig.state.Settings, before);
        QCOMPARE(rig.port.incoming, reply);
        QVERIFY(!rig.state.AwaitingReply);
    }

    void lineErrorBeepsTwiceApartAndKeepsWatchdog() {
        Rig rig;
        rig.form1->Button1->click();
        QElapsedTimer handler;
        handler.start();
        Q_EMIT rig.port.lineError(ceIO);
        QVERIFY(handler.elapsed() >= 100);
        QCOMPARE(
            rig.dialogs.calls,
            (QStringList{"beep", "beep", QStringLiteral("information: Ошибка COM-порта\n\r")}));
        QVERIFY(!rig.state.AwaitingReply);
        QVERIFY(rig.form1->Timer1->isActive());
        QCOMPARE(rig.newLog(), (QStringList{QString(), kWriteLine}));
    }

    void portFailureStopsTheCommand_data() {
        QTest::addColumn<bool>("purgeFails");
        QTest::newRow("purge fails") << true;
        QTest::newRow("write fails") << false;
    }
    void portFailureStopsTheCommand() {
        QFETCH(bool, purgeFails);
        Rig rig;
        rig.port.failPurge = purgeFails;
        rig.port.failWrite = !purgeFails;
        rig.port.failureText = QStringLiteral("Ошибка записи в порт");
        rig.form1->Button1->click();
        QCOMPARE(rig.dialogs.calls, (QStringList{"portFailure: Ошибка записи в порт"}));
        QVERIFY(rig.port.written.isEmpty());
        QVERIFY(rig.newLog().isEmpty());
        QVERIFY(rig.state.AwaitingReply);
        QVERIFY(!rig.form1->Timer1->isActive());

        // The next bytes are taken as a reply.
        rig.dialogs.calls.clear();
        rig.port.deliver(Hex("CAD3B981"));
        QCOMPARE(rig.newLog(), (QStringList{"Запись в эмулятор прошла успешно!"}));
    }

    // A write that fails because the device went away leaves the one report to the loss.
    void writeFailingOnALostDeviceShowsOnlyTheLossReport() {
        Rig rig;
        rig.port.failWrite = true;
        rig.port.close();
        rig.form1->Button1->click();
        QVERIFY(rig.dialogs.calls.isEmpty());
        QVERIFY(rig.newLog().isEmpty());
        Q_EMIT rig.port.deviceLost(QStringLiteral("устройство отключено"));
        QCOMPARE(rig.dialogs.calls.size(), 1);
        QVERIFY(rig.dialogs.calls.first().startsWith(QStringLiteral("error: ")));
        QVERIFY(!rig.state.PortChosen);
    }

    void withoutPortEachCommandOffersPortSelection_data() {
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("answer");
        for (int button : {1, 2, 6}) {
            QTest::addRow("button %d yes", button) << button << int(YesNoAnswer::Yes);
            QTest::addRow("button %d no", button) << button << int(YesNoAnswer::No);
            QTest::addRow("button %d closed", button) << button << int(YesNoAnswer::ClosedByFrame);
        }
    }
    void withoutPortEachCommandOffersPortSelection() {
        QFETCH(int, button);
        QFETCH(int, answer);
        Rig rig(false);
        QVERIFY(!rig.state.PortChosen);
        QVERIFY(rig.form1->isVisible());
        rig.dialogs.yesNoAnswers.push_back(static_cast<YesNoAnswer>(answer));
        QPushButton* pressed = button == 1   ? rig.form1->Button1
                               : button == 2 ? rig.form1->Button2
                                             : rig.form1->Button6;
        pressed->click();
        QCOMPARE(rig.dialogs.calls,
                 (QStringList{"beep", "warning: COM-порт не выбран!\n\rНадо выбрать COM-порт для "
                                      "работы с эмулятором"}));
        const bool back = answer == int(YesNoAnswer::Yes);
        QCOMPARE(rig.form2->isVisible(), back);
        QCOMPARE(rig.form1->isVisible(), !back);
        QVERIFY(rig.port.written.isEmpty());
        QCOMPARE(rig.port.purges, 0);
        QVERIFY(rig.newLog().isEmpty());
        QVERIFY(!rig.state.AwaitingReply);
        QVERIFY(!rig.form1->Timer1->isActive());
    }

    void deviceLossReportedOnceAndPortCanBeChosenAgain() {
        Rig rig;
        rig.form1->Button1->click();
        const QString lossBox = QStringLiteral(
            "error: Связь с COM-портом потеряна: Устройство отключено\n\rНадо снова выбрать "
            "COM-порт для работы с эмулятором");
        // The adapter reports the loss again while the box is still open, and once after.
        rig.dialogs.whileModal = [&] {
            Q_EMIT rig.port.deviceLost(QStringLiteral("Устройство отключено"));
        };
        rig.port.close();
        Q_EMIT rig.port.deviceLost(QStringLiteral("Устройство отключено"));
        Q_EMIT rig.port.deviceLost(QStringLiteral("Устройство отключено"));
        QCOMPARE(rig.dialogs.calls, (QStringList{lossBox}));
        QCOMPARE(rig.newLog(),
                 (QStringList{QString(), kWriteLine, QString(),
                              "***  Связь с COM-портом потеряна: Устройство отключено  ***"}));
        QVERIFY(!rig.state.PortChosen);
        QVERIFY(!rig.state.AwaitingReply);
        QVERIFY(!rig.form1->Timer1->isActive());

        // The next command offers the way back, where "ОК" opens the port again.
        rig.dialogs.calls.clear();
        rig.form1->Button2->click();
        QCOMPARE(rig.dialogs.calls.size(), 2);
        QVERIFY(rig.form2->isVisible());
        QVERIFY(rig.form1->isHidden());
        rig.choosePortAndConfirm();
        QCOMPARE(rig.port.opens, 2);
        QVERIFY(rig.port.isOpen());
        QVERIFY(rig.state.PortChosen);
        QVERIFY(rig.form1->isVisible());
        QCOMPARE(rig.form2->Form1(), rig.form1);
        rig.form1->Button2->click();
        QCOMPARE(rig.port.written.last(), Hex("CAD3BA"));
    }
};

QTEST_MAIN(LinkExchangeTest)
#include "tst_link_exchange.moc"

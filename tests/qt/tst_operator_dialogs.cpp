// The real boxes and dialogs behind the operator-dialog seam, answered as an operator would.
#include "OperatorDialogs.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace tilu;

namespace {

// Runs `answer` on the modal dialog once it is open.
void WhenModal(std::function<void(QWidget*)> answer) {
    QTimer::singleShot(50, [answer = std::move(answer)] {
        QWidget* modal = QApplication::activeModalWidget();
        QVERIFY(modal != nullptr);
        answer(modal);
    });
}

} // namespace

class OperatorDialogsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void errorBoxesHaveTheirCaptionsAndIcon_data() {
        QTest::addColumn<bool>("portFailure");
        QTest::addColumn<QString>("caption");
        QTest::newRow("error box") << false << QStringLiteral("Error");
        QTest::newRow("port failure") << true << QStringLiteral("Тилу");
    }
    void errorBoxesHaveTheirCaptionsAndIcon() {
        QFETCH(bool, portFailure);
        QFETCH(QString, caption);
        QtOperatorDialogs dialogs;
        QString title;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        WhenModal([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            QVERIFY(box != nullptr);
            title = box->windowTitle();
            icon = box->icon();
            QTest::keyClick(box, Qt::Key_Return);
        });
        if (portFailure) {
            dialogs.portFailure(nullptr, QStringLiteral("Нет доступа"));
        } else {
            dialogs.error(nullptr, QStringLiteral("*** Эмулятор не отвечает !!"));
        }
        QCOMPARE(title, caption);
        QCOMPARE(icon, QMessageBox::Critical);
    }

    void inputBoxPresetSelectedAndLimited() {
        QtOperatorDialogs dialogs;
        QString title;
        QString selected;
        int maxLength = 0;
        WhenModal([&](QWidget* modal) {
            auto* dialog = qobject_cast<QInputDialog*>(modal);
            QVERIFY(dialog != nullptr);
            title = dialog->windowTitle();
            auto* edit = dialog->findChild<QLineEdit*>();
            QVERIFY(edit != nullptr);
            selected = edit->selectedText();
            maxLength = edit->maxLength();
            edit->setText(QString(300, QLatin1Char('x')));
            dialog->accept();
        });
        const auto text =
            dialogs.inputText(nullptr, QStringLiteral("Запись настроек"),
                              QStringLiteral("Введите краткое описание этой настройки"),
                              QStringLiteral("Новая настройка"), 255);
        QCOMPARE(title, QStringLiteral("Запись настроек"));
        QCOMPARE(selected, QStringLiteral("Новая настройка"));
        QCOMPARE(maxLength, 255);
        QVERIFY(text.has_value());
        QCOMPARE(text->size(), 255);
    }

    void inputBoxCancelledYieldsNothing() {
        QtOperatorDialogs dialogs;
        WhenModal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
        QVERIFY(!dialogs.inputText(nullptr, QStringLiteral("Запись настроек"), QString(),
                                   QStringLiteral("Новая настройка"), 255));
    }

    void saveDialogAppendsTiluAndStartsInTheFolder() {
        QTemporaryDir folder;
        QtOperatorDialogs dialogs;
        QStringList filters;
        QString directory;
        QString preset;
        WhenModal([&](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            QVERIFY(dialog != nullptr);
            filters = dialog->nameFilters();
            directory = dialog->directory().absolutePath();
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            QVERIFY(name != nullptr);
            preset = name->text();
            name->setText(QStringLiteral("bench"));
            QTest::keyClick(name, Qt::Key_Return);
        });
        const auto path = dialogs.saveFileName(nullptr, folder.path(), QStringLiteral("xxx"));
        QCOMPARE(filters, (QStringList{QStringLiteral("настройки - tilu (*.tilu)"),
                                       QStringLiteral("*.* (*)")}));
        QCOMPARE(directory, QDir(folder.path()).absolutePath());
        QCOMPARE(preset, QStringLiteral("xxx"));
        QVERIFY(path.has_value());
        QCOMPARE(*path, QDir(folder.path()).absoluteFilePath(QStringLiteral("bench.tilu")));
    }

    void openDialogCancelledYieldsNothing() {
        QTemporaryDir folder;
        QtOperatorDialogs dialogs;
        QString preset;
        WhenModal([&](QWidget* modal) {
            auto* name = modal->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            QVERIFY(name != nullptr);
            preset = name->text();
            qobject_cast<QDialog*>(modal)->reject();
        });
        QVERIFY(!dialogs.openFileName(nullptr, folder.path(), QStringLiteral(" xxx ")));
        QCOMPARE(preset, QStringLiteral(" xxx "));
    }
};

QTEST_MAIN(OperatorDialogsTest)
#include "tst_operator_dialogs.moc"

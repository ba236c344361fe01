#include "OperatorDialogs.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

namespace tilu {

namespace {

// A Yes/No box that tells the frame's close button apart from Esc: Qt answers both with the
// escape button, while the exit question must take the close button as Yes.
class YesNoBox final : public QMessageBox {
public:
    using QMessageBox::QMessageBox;
    bool closedByFrame = false;

protected:
    void closeEvent(QCloseEvent* event) override {
        closedByFrame = clickedButton() == nullptr;
        QMessageBox::closeEvent(event);
    }
};

void ShowBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text) {
    QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("OperatorMessageBox"));
    box.exec();
}

} // namespace

void QtOperatorDialogs::beep() {
    QApplication::beep();
}

void QtOperatorDialogs::information(QWidget* parent, const QString& text) {
    ShowBox(parent, QMessageBox::NoIcon, kApplicationTitle, text);
}

YesNoAnswer QtOperatorDialogs::warningYesNo(QWidget* parent, const QString& text) {
    YesNoBox box(QMessageBox::Warning, QStringLiteral("Warning"), text,
                 QMessageBox::Yes | QMessageBox::No, parent);
    box.setObjectName(QStringLiteral("OperatorQuestionBox"));
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    box.exec();
    if (box.closedByFrame) {
        return YesNoAnswer::ClosedByFrame;
    }
    return box.clickedButton() == box.button(QMessageBox::Yes) ? YesNoAnswer::Yes : YesNoAnswer::No;
}

void QtOperatorDialogs::error(QWidget* parent, const QString& text) {
    ShowBox(parent, QMessageBox::Critical, QStringLiteral("Error"), text);
}

void QtOperatorDialogs::portFailure(QWidget* parent, const QString& text) {
    ShowBox(parent, QMessageBox::Critical, kApplicationTitle, text);
}

std::optional<QString> QtOperatorDialogs::inputText(QWidget* parent, const QString& caption,
                                                    const QString& prompt,
                                                    const QString& initialText, int maxLength) {
    QInputDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("OperatorInputBox"));
    dialog.setWindowTitle(caption);
    dialog.setLabelText(prompt);
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setTextValue(initialText);
    if (auto* edit = dialog.findChild<QLineEdit*>()) {
        edit->setMaxLength(maxLength);
        edit->selectAll();
    }
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.textValue();
}

namespace {

std::optional<QString> RunFileDialog(QWidget* parent, QFileDialog::AcceptMode mode,
                                     const QString& initialFolder, const QString& presetName) {
    QFileDialog dialog(parent);
    dialog.setObjectName(mode == QFileDialog::AcceptSave ? QStringLiteral("SaveDialog1")
                                                         : QStringLiteral("OpenDialog1"));
    dialog.setAcceptMode(mode);
    dialog.setDirectory(initialFolder);
    dialog.setNameFilter(kSettingsFileFilter);
    dialog.setNameFilters({QStringLiteral("настройки - tilu (*.tilu)"), QStringLiteral("*.* (*)")});
    dialog.selectNameFilter(QStringLiteral("настройки - tilu (*.tilu)"));
    // Qt's own dialog: the platform's native one may ignore the default suffix and the preset name.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setOption(QFileDialog::ReadOnly, false);
    if (mode == QFileDialog::AcceptSave) {
        dialog.setDefaultSuffix(QStringLiteral("tilu"));
        dialog.setFileMode(QFileDialog::AnyFile);
    } else {
        // A typed name of a file that does not exist is let through; the open then fails.
        dialog.setFileMode(QFileDialog::AnyFile);
    }
    dialog.selectFile(presetName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().constFirst();
}

} // namespace

std::optional<QString> QtOperatorDialogs::openFileName(QWidget* parent,
                                                       const QString& initialFolder,
                                                       const QString& presetName) {
    return RunFileDialog(parent, QFileDialog::AcceptOpen, initialFolder, presetName);
}

std::optional<QString> QtOperatorDialogs::saveFileName(QWidget* parent,
                                                       const QString& initialFolder,
                                                       const QString& presetName) {
    std::optional<QString> path =
        RunFileDialog(parent, QFileDialog::AcceptSave, initialFolder, presetName);
    // A name typed without an extension gets the settings files' one; Qt's dialog does not
    // always add it itself.
    if (path && QFileInfo(*path).completeSuffix().isEmpty() && !QFileInfo(*path).isDir()) {
        *path += QStringLiteral(".tilu");
    }
    return path;
}

} // namespace tilu

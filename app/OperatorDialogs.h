#pragma once

#include <QString>

#include <optional>

class QWidget;

namespace tilu {

enum class YesNoAnswer { Yes, No, ClosedByFrame };

// Every modal question and report the operator sees. The windows reach them only through
// this interface, so tests can answer them.
class IOperatorDialogs {
public:
    virtual ~IOperatorDialogs() = default;

    virtual void beep() = 0;
    // Plain information box: caption "Тилу", no icon, OK.
    virtual void information(QWidget* parent, const QString& text) = 0;
    // Warning box: caption "Warning", Yes (default) and No; Esc answers No.
    virtual YesNoAnswer warningYesNo(QWidget* parent, const QString& text) = 0;
    // Error box: caption "Error", error icon, OK.
    virtual void error(QWidget* parent, const QString& text) = 0;
    // The report of a failure of the serial port: caption "Тилу", error icon, OK.
    virtual void portFailure(QWidget* parent, const QString& text) = 0;
    // Input box; empty when cancelled or closed.
    virtual std::optional<QString> inputText(QWidget* parent, const QString& caption,
                                             const QString& prompt, const QString& initialText,
                                             int maxLength) = 0;
    // File dialogs with the filter "настройки - tilu|*.tilu|*.*|*.*"; empty when cancelled.
    virtual std::optional<QString> openFileName(QWidget* parent, const QString& initialFolder,
                                                const QString& presetName) = 0;
    // Appends ".tilu" to a name typed without an extension; never asks before replacing.
    virtual std::optional<QString> saveFileName(QWidget* parent, const QString& initialFolder,
                                                const QString& presetName) = 0;
};

// The real boxes and dialogs, built on QMessageBox, QInputDialog and QFileDialog.
class QtOperatorDialogs final : public IOperatorDialogs {
public:
    void beep() override;
    void information(QWidget* parent, const QString& text) override;
    YesNoAnswer warningYesNo(QWidget* parent, const QString& text) override;
    void error(QWidget* parent, const QString& text) override;
    void portFailure(QWidget* parent, const QString& text) override;
    std::optional<QString> inputText(QWidget* parent, const QString& caption, const QString& prompt,
                                     const QString& initialText, int maxLength) override;
    std::optional<QString> openFileName(QWidget* parent, const QString& initialFolder,
                                        const QString& presetName) override;
    std::optional<QString> saveFileName(QWidget* parent, const QString& initialFolder,
                                        const QString& presetName) override;
};

inline const QString kApplicationTitle = QStringLiteral("Тилу");
inline const QString kSettingsFileFilter = QStringLiteral("настройки - tilu (*.tilu);;*.* (*)");

} // namespace tilu

#pragma once

#include "OperatorDialogs.h"

#include <QStringList>

#include <deque>
#include <functional>
#include <optional>

namespace tilu::testing {

// Records every box and dialog in order ("beep", "information: ...", "warning: ...",
// "error: ...", "portFailure: ...", "input: ...", "open: folder|preset", "save: folder|preset")
// and answers from scripted queues.
class FakeOperatorDialogs final : public IOperatorDialogs {
public:
    QStringList calls;
    std::deque<YesNoAnswer> yesNoAnswers;            // empty: Yes
    std::deque<std::optional<QString>> inputAnswers; // empty: the initial text (OK)
    std::deque<std::optional<QString>> openAnswers;  // empty: cancelled
    std::deque<std::optional<QString>> saveAnswers;  // empty: cancelled
    // Runs while a modal box is open, as the event loop would serve other events then.
    std::function<void()> whileModal;

    void beep() override { calls.append(QStringLiteral("beep")); }
    void information(QWidget*, const QString& text) override {
        calls.append(QStringLiteral("information: ") + text);
        runModal();
    }
    YesNoAnswer warningYesNo(QWidget*, const QString& text) override {
        calls.append(QStringLiteral("warning: ") + text);
        runModal();
        if (yesNoAnswers.empty()) {
            return YesNoAnswer::Yes;
        }
        const YesNoAnswer answer = yesNoAnswers.front();
        yesNoAnswers.pop_front();
        return answer;
    }
    void error(QWidget*, const QString& text) override {
        calls.append(QStringLiteral("error: ") + text);
        runModal();
    }
    void portFailure(QWidget*, const QString& text) override {
        calls.append(QStringLiteral("portFailure: ") + text);
        runModal();
    }
    std::optional<QString> inputText(QWidget*, const QString& caption, const QString& prompt,
                                     const QString& initialText, int maxLength) override {
        calls.append(
            QStringLiteral("input: %1|%2|%3|%4").arg(caption, prompt, initialText).arg(maxLength));
        runModal();
        if (inputAnswers.empty()) {
            return initialText;
        }
        return take(inputAnswers);
    }
    std::optional<QString> openFileName(QWidget*, const QString& folder,
                                        const QString& preset) override {
        calls.append(QStringLiteral("open: ") + folder + QLatin1Char('|') + preset);
        return take(openAnswers);
    }
    std::optional<QString> saveFileName(QWidget*, const QString& folder,
                                        const QString& preset) override {
        calls.append(QStringLiteral("save: ") + folder + QLatin1Char('|') + preset);
        return take(saveAnswers);
    }

private:
    void runModal() {
        if (whileModal) {
            auto hook = std::move(whileModal);
            whileModal = nullptr;
            hook();
        }
    }
    static std::optional<QString> take(std::deque<std::optional<QString>>& queue) {
        if (queue.empty()) {
            return std::nullopt;
        }
        // Built from the text, not copied: GCC's -O2 flow analysis takes a copied
        // optional<QString> for uninitialised.
        const bool answered = queue.front().has_value();
        const QString text = answered ? *queue.front() : QString();
        queue.pop_front();
        return answered ? std::optional<QString>(text) : std::nullopt;
    }
};

} // namespace tilu::testing

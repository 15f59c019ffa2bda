// Test double of the file-open dialog: answers from a script and records what
// each call offered.  A call with no answer left fails the test and cancels.
// Installed while it lives.
#pragma once

#include "platform/FileDialogs.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <optional>

namespace testing_support {

class ScriptedFileDialog : public platform::FileDialogService {
public:
    // The next call chooses |path|.
    void choose(const QString &path) { answers_.push_back(path); }
    // The next call is cancelled.
    void cancel() { answers_.push_back(std::nullopt); }

    std::optional<QString> getOpenFileName(QWidget *parent, const QString &fileName) override;

    // The file name offered by each call, in order.
    const QStringList &offered() const { return offered_; }
    int calls() const { return int(offered_.size()); }
    bool allAnswersUsed() const { return answers_.empty(); }

private:
    std::deque<std::optional<QString>> answers_;
    QStringList offered_;
    platform::ScopedService<platform::FileDialogService> use_{*this};
};

// A ScriptedFileDialog reached through -> and *, for fixtures that hold one.
class ScopedFileDialog {
public:
    ScriptedFileDialog &operator*() { return dialog_; }
    ScriptedFileDialog *operator->() { return &dialog_; }

private:
    ScriptedFileDialog dialog_;
};

} // namespace testing_support

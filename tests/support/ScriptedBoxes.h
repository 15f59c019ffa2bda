// Test double of the four boxes: records every box shown and answers
// confirmations from a script.
#pragma once

#include "platform/Boxes.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <vector>

namespace testing_support {

struct ShownBox {
    enum Kind { Message, Information, Confirmation, Error } kind;
    QString caption;
    QString text;
    bool operator==(const ShownBox &) const = default;
};

class ScriptedBoxes : public platform::Boxes {
public:
    // Installed while the double lives; whatever was installed before
    // comes back when it goes.
    void ShowMessage(const QString &caption, const QString &text) override;
    void Information(const QString &text) override;
    bool Confirm(const QString &text) override;
    void ShowError(const QString &text) override;

    // The answers the next confirmations give, in order.  A confirmation
    // without a scripted answer fails the test and answers "&Nein".
    void AnswerConfirmations(std::initializer_list<bool> answers);

    const std::vector<ShownBox> &shown() const { return shown_; }
    QStringList texts() const;
    QStringList errors() const;
    void clear() { shown_.clear(); }

private:
    std::vector<ShownBox> shown_;
    std::deque<bool> answers_;
    platform::ScopedService<platform::Boxes> use_{*this};
};

} // namespace testing_support

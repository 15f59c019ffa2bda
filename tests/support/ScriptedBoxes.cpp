#include "support/ScriptedBoxes.h"

#include <gtest/gtest.h>

namespace testing_support {

void ScriptedBoxes::ShowMessage(const QString &caption, const QString &text)
{
    shown_.push_back({ShownBox::Message, caption, text});
}

void ScriptedBoxes::Information(const QString &text)
{
    shown_.push_back({ShownBox::Information, QStringLiteral("Informationen"), text});
}

bool ScriptedBoxes::Confirm(const QString &text)
{
    shown_.push_back({ShownBox::Confirmation, QStringLiteral("Bestätigen"), text});
    if (answers_.empty()) {
        ADD_FAILURE() << "unscripted confirmation: " << text.toStdString();
        return false;
    }
    const bool answer = answers_.front();
    answers_.pop_front();
    return answer;
}

void ScriptedBoxes::ShowError(const QString &text)
{
    shown_.push_back({ShownBox::Error, QString(), text});
}

void ScriptedBoxes::AnswerConfirmations(std::initializer_list<bool> answers)
{
    answers_.insert(answers_.end(), answers.begin(), answers.end());
}

QStringList ScriptedBoxes::texts() const
{
    QStringList out;
    for (const auto &b : shown_)
        out << b.text;
    return out;
}

QStringList ScriptedBoxes::errors() const
{
    QStringList out;
    for (const auto &b : shown_)
        if (b.kind == ShownBox::Error)
            out << b.text;
    return out;
}

} // namespace testing_support

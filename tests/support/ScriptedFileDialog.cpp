#include "support/ScriptedFileDialog.h"

#include <gtest/gtest.h>

namespace testing_support {

std::optional<QString> ScriptedFileDialog::getOpenFileName(QWidget *, const QString &fileName)
{
    offered_.push_back(fileName);
    if (answers_.empty()) {
        ADD_FAILURE() << "file dialog shown without a scripted answer (offered \"" << fileName.toStdString()
                      << "\")";
        return std::nullopt;
    }
    auto answer = answers_.front();
    answers_.pop_front();
    return answer;
}

} // namespace testing_support

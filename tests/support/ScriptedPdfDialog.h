// Test double of the PDF printer's file dialog: answers with a path set by
// the test, or cancels.
#pragma once

#include "platform/Printing.h"

namespace testing_support {

class ScriptedPdfDialog : public platform::PdfFileDialogService {
public:
    std::optional<QString> answer; // nothing: the person cancels
    int asked = 0;
    std::optional<QString> AskPdfFileName(QWidget *) override
    {
        ++asked;
        return answer;
    }
};

} // namespace testing_support

// The one Qt application object of a test process (offscreen platform).
#pragma once

class QApplication;

namespace testing_support {
QApplication &EnsureQtApplication();
} // namespace testing_support

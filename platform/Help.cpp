#include "platform/Help.h"

#include "platform/Boxes.h"
#include "platform/ChmFile.h"
#include "platform/HelpWindow.h"

#include <QApplication>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcHelp, "quillora.help", QtWarningMsg)

QUILLORA_DEFINE_SERVICE(platform::HelpViewer, platform::ChmHelpViewer)

namespace platform {

ChmHelpViewer::~ChmHelpViewer()
{
    // The real viewer is a function-local static: by then the windows may be
    // gone with the application object.
    if (window_ && QCoreApplication::instance())
        delete window_.data();
}

HelpWindow *ChmHelpViewer::Window() const
{
    return static_cast<HelpWindow *>(window_.data());
}

bool ChmHelpViewer::ShowContext(const QString &file, int context)
{
    qCDebug(lcHelp) << "help at context" << context << "of" << file;
    QString error;
    std::shared_ptr<ChmFile> chm = ChmFile::Open(file, &error);
    if (!chm) {
        qCDebug(lcHelp) << "cannot open help file:" << error;
        ShowMessage(QStringLiteral("Die Hilfe-Datei kann nicht angezeigt werden.\r") + file +
                    (error.isEmpty() ? QString() : QStringLiteral("\r") + error));
        return false;
    }
    QString topic = chm->TopicForContext(context);
    if (topic.isEmpty()) {
        qCDebug(lcHelp) << "context" << context << "not mapped; showing the start page";
        topic = chm->DefaultTopic();
    }
    HelpWindow *window = Window();
    if (!window) {
        window = new HelpWindow;
        window_ = window;
        // Gone with the message loop, while the application object exists.
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp,
                         [w = QPointer<QWidget>(window)] { delete w.data(); });
    }
    window->ShowTopic(chm, topic);
    window->show();
    window->raise();
    window->activateWindow();
    return true;
}

void ChmHelpViewer::Quit()
{
    qCDebug(lcHelp) << "help quit";
    if (window_)
        window_->close();
    delete window_.data();
}

} // namespace platform

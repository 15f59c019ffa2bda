// The help window: the pages of a CHM help file with its table of contents,
// back, forward and start page.  Links to other pages of the file stay in
// the window; addresses outside it go to the shell.
#pragma once

#include <QTextBrowser>
#include <QWidget>

#include <memory>

class QSplitter;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace platform {

class ChmFile;

// A text browser whose pages, pictures and style sheets come from a CHM
// file; its addresses are "chm:/<object>".
class ChmBrowser : public QTextBrowser {
    Q_OBJECT
public:
    explicit ChmBrowser(QWidget *parent = nullptr);
    void SetFile(std::shared_ptr<ChmFile> file) { file_ = std::move(file); }
    QVariant loadResource(int type, const QUrl &name) override;

private:
    std::shared_ptr<ChmFile> file_;
};

class HelpWindow : public QWidget {
    Q_OBJECT
public:
    explicit HelpWindow(QWidget *parent = nullptr);
    ~HelpWindow() override;

    // Shows |topic| (an object name of |file|, may carry "#anchor").
    void ShowTopic(std::shared_ptr<ChmFile> file, const QString &topic);

    ChmBrowser *Browser() const { return browser_; }
    QTreeWidget *ContentsTree() const { return contents_; }
    // The object name of the page shown.
    QString CurrentTopic() const;

    static QUrl UrlForTopic(const QString &topic);

private:
    void fillContents();
    void followLink(const QUrl &url);
    void selectCurrentInContents();

    std::shared_ptr<ChmFile> file_;
    QSplitter *splitter_ = nullptr;
    QTreeWidget *contents_ = nullptr;
    ChmBrowser *browser_ = nullptr;
    QToolButton *back_ = nullptr;
    QToolButton *forward_ = nullptr;
    QToolButton *home_ = nullptr;
};

} // namespace platform

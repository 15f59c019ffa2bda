#include "platform/HelpWindow.h"

#include "platform/ChmFile.h"
#include "platform/Shell.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QImage>
#include <QLoggingCategory>
#include <QSplitter>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

Q_DECLARE_LOGGING_CATEGORY(lcHelp)

namespace platform {
namespace {

const QString kScheme = QStringLiteral("chm");
constexpr int kTopicRole = Qt::UserRole + 1;

QString topicOf(const QUrl &url)
{
    return url.path();
}

} // namespace

ChmBrowser::ChmBrowser(QWidget *parent) : QTextBrowser(parent)
{
    setOpenLinks(false);
    setOpenExternalLinks(false);
}

QVariant ChmBrowser::loadResource(int type, const QUrl &name)
{
    if (!file_)
        return {};
    const QUrl url = name.isRelative() ? source().resolved(name) : name;
    if (url.scheme() != kScheme)
        return {};
    const std::optional<QByteArray> bytes = file_->Read(topicOf(url));
    if (!bytes) {
        qCDebug(lcHelp) << "help object missing:" << url;
        if (type == QTextDocument::HtmlResource)
            return QStringLiteral("<html><head><title>Seite fehlt</title></head><body>"
                                  "<h1>Seite fehlt</h1><p>Die Hilfe-Datei enthält die Seite „%1“ nicht.</p>"
                                  "</body></html>")
                .arg(topicOf(url).toHtmlEscaped());
        return {};
    }
    if (type == QTextDocument::ImageResource) {
        QImage image;
        image.loadFromData(*bytes);
        return image;
    }
    if (type == QTextDocument::StyleSheetResource)
        return chm::DecodeText(*bytes);
    return *bytes;
}

HelpWindow::HelpWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QStringLiteral("Hilfe"));
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(860, 620);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    auto *bar = new QHBoxLayout;
    auto makeButton = [this, bar](const QString &text, QStyle::StandardPixmap icon) {
        auto *b = new QToolButton(this);
        b->setText(text);
        b->setIcon(style()->standardIcon(icon));
        b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        b->setAutoRaise(true);
        bar->addWidget(b);
        return b;
    };
    back_ = makeButton(QStringLiteral("Zurück"), QStyle::SP_ArrowBack);
    forward_ = makeButton(QStringLiteral("Vorwärts"), QStyle::SP_ArrowForward);
    home_ = makeButton(QStringLiteral("Startseite"), QStyle::SP_DirHomeIcon);
    back_->setObjectName(QStringLiteral("HelpBack"));
    forward_->setObjectName(QStringLiteral("HelpForward"));
    home_->setObjectName(QStringLiteral("HelpHome"));
    bar->addStretch(1);
    layout->addLayout(bar);

    splitter_ = new QSplitter(this);
    contents_ = new QTreeWidget(splitter_);
    contents_->setObjectName(QStringLiteral("HelpContents"));
    contents_->setHeaderLabel(QStringLiteral("Inhalt"));
    contents_->header()->setVisible(false);
    browser_ = new ChmBrowser(splitter_);
    browser_->setObjectName(QStringLiteral("HelpPage"));
    splitter_->addWidget(contents_);
    splitter_->addWidget(browser_);
    splitter_->setStretchFactor(1, 1);
    splitter_->setSizes({230, 630});
    layout->addWidget(splitter_, 1);

    back_->setEnabled(false);
    forward_->setEnabled(false);
    connect(back_, &QToolButton::clicked, browser_, &QTextBrowser::backward);
    connect(forward_, &QToolButton::clicked, browser_, &QTextBrowser::forward);
    connect(browser_, &QTextBrowser::backwardAvailable, back_, &QWidget::setEnabled);
    connect(browser_, &QTextBrowser::forwardAvailable, forward_, &QWidget::setEnabled);
    connect(home_, &QToolButton::clicked, this, [this] {
        if (file_)
            browser_->setSource(UrlForTopic(file_->DefaultTopic()));
    });
    connect(browser_, &QTextBrowser::anchorClicked, this, &HelpWindow::followLink);
    connect(browser_, &QTextBrowser::sourceChanged, this, [this] {
        const QString base = file_ && !file_->Title().isEmpty() ? file_->Title() : QStringLiteral("Hilfe");
        const QString title = browser_->documentTitle();
        setWindowTitle(title.isEmpty() || title == base ? base : base + QStringLiteral(" – ") + title);
        selectCurrentInContents();
    });
    connect(contents_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem *item) {
        const QString topic = item->data(0, kTopicRole).toString();
        if (!topic.isEmpty() && topic != CurrentTopic())
            browser_->setSource(UrlForTopic(topic));
    });
}

HelpWindow::~HelpWindow() = default;

QUrl HelpWindow::UrlForTopic(const QString &topic)
{
    QUrl url;
    url.setScheme(kScheme);
    const qsizetype hash = topic.indexOf(QLatin1Char('#'));
    url.setPath(hash < 0 ? topic : topic.left(hash));
    if (hash >= 0)
        url.setFragment(topic.mid(hash + 1));
    return url;
}

QString HelpWindow::CurrentTopic() const
{
    return topicOf(browser_->source());
}

void HelpWindow::ShowTopic(std::shared_ptr<ChmFile> file, const QString &topic)
{
    const bool newFile = !file_ || file_->Path() != file->Path();
    file_ = std::move(file);
    browser_->SetFile(file_);
    if (newFile) {
        browser_->clearHistory();
        fillContents();
        if (!file_->Title().isEmpty())
            setWindowTitle(file_->Title());
    }
    const QUrl url = UrlForTopic(topic);
    if (url == browser_->source())
        browser_->reload();
    else
        browser_->setSource(url);
}

void HelpWindow::fillContents()
{
    contents_->clear();
    std::vector<QTreeWidgetItem *> parents;
    for (const auto &entry : file_->Contents()) {
        parents.resize(std::min<size_t>(size_t(entry.depth), parents.size()));
        QTreeWidgetItem *item = parents.empty() ? new QTreeWidgetItem(contents_)
                                                : new QTreeWidgetItem(parents.back());
        item->setText(0, entry.name);
        item->setData(0, kTopicRole, entry.topic);
        parents.push_back(item);
    }
    contents_->expandAll();
}

void HelpWindow::selectCurrentInContents()
{
    const QString current = CurrentTopic();
    for (QTreeWidgetItemIterator it(contents_); *it; ++it) {
        QString topic = (*it)->data(0, kTopicRole).toString();
        topic.truncate(topic.indexOf(QLatin1Char('#')) < 0 ? topic.size() : topic.indexOf(QLatin1Char('#')));
        if (topic.compare(current, Qt::CaseInsensitive) == 0) {
            const QSignalBlocker quiet(contents_);
            contents_->setCurrentItem(*it);
            return;
        }
    }
}

void HelpWindow::followLink(const QUrl &link)
{
    const QUrl url = link.isRelative() ? browser_->source().resolved(link) : link;
    if (url.scheme() == kScheme) {
        browser_->setSource(url);
        return;
    }
    qCDebug(lcHelp) << "help link outside the file:" << url;
    ShellExecute(nullptr, QStringLiteral("open"), url.toString(), QString(), QString(), SW_SHOWNORMAL);
}

} // namespace platform

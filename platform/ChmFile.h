// Reading a compiled HTML help file (CHM) through chmlib: its pages and
// pictures, its title and start page, its table of contents and the map
// from context numbers to topics.
#pragma once

#include <QByteArray>
#include <QString>

#include <map>
#include <memory>
#include <optional>
#include <vector>

struct chmFile;

namespace platform {

class ChmFile {
public:
    // Opens |path|; null with a reason in |error| when it is missing, not a
    // regular file or not a help file chmlib can read.
    static std::shared_ptr<ChmFile> Open(const QString &path, QString *error = nullptr);
    ~ChmFile();
    ChmFile(const ChmFile &) = delete;
    ChmFile &operator=(const ChmFile &) = delete;

    QString Path() const { return path_; }

    // The object at |name| ("/start.htm"; letter case ignored), at most
    // |limit| bytes; nothing when the file holds no such object or it is
    // larger than |limit|.
    std::optional<QByteArray> Read(const QString &name, qint64 limit = 16 << 20) const;
    bool Contains(const QString &name) const;

    QString Title() const { return title_; }
    // The start page, as an object name ("/start.htm").
    QString DefaultTopic() const { return defaultTopic_; }

    // The topic (object name) mapped to |context|: from the map compiled
    // into the file, else from the map written beside it ("<name>.map",
    // lines "100=start.htm"); empty when neither maps it.
    QString TopicForContext(int context) const;

    struct ContentsEntry {
        QString name;
        QString topic; // object name, may carry "#anchor"; empty for a heading
        int depth = 0;
    };
    const std::vector<ContentsEntry> &Contents() const { return contents_; }

    // The object name a stored topic path stands for: help compilers store
    // topics as given to them, also with folders of the machine that built
    // the file; the longest tail of the path that names an object is taken.
    QString ResolveTopic(const QString &stored) const;

private:
    ChmFile() = default;
    void load();

    QString path_;
    struct chmFile *handle_ = nullptr;
    QString title_;
    QString defaultTopic_;
    std::map<quint32, QString> contextMap_;
    std::map<quint32, QString> sideMap_;
    std::vector<ChmFile::ContentsEntry> contents_;
};

// The parsers behind ChmFile, on bytes from the file (damaged input gives
// fewer entries, never a read outside the bytes given).
namespace chm {

// "#SYSTEM": the entries the viewer uses.
struct SystemInfo {
    QString contentsFile;
    QString indexFile;
    QString defaultTopic;
    QString title;
};
SystemInfo ParseSystem(const QByteArray &system);

// "#IVB" (a byte count, then pairs of context number and offset into
// "#STRINGS") and "#STRINGS" (zero-terminated strings): context -> topic
// path as stored.
std::map<quint32, QString> ParseContextMap(const QByteArray &ivb, const QByteArray &strings);

// A map file beside the help file: "<context>=<topic>" per line; "#" starts
// a comment.
std::map<quint32, QString> ParseMapFile(const QByteArray &text);

// A sitemap (".hhc"): the entries with their nesting depth.
std::vector<ChmFile::ContentsEntry> ParseSitemap(const QByteArray &hhc);

// Text stored by a help compiler: UTF-8 when it is valid UTF-8, else
// Windows-1252.
QString DecodeText(const QByteArray &bytes);

} // namespace chm
} // namespace platform

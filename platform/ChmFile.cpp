#include "platform/ChmFile.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QStringDecoder>

#include <chm_lib.h>

#include <cstring>
#include <sys/stat.h>

Q_DECLARE_LOGGING_CATEGORY(lcHelp)

namespace platform {
namespace chm {
namespace {

quint32 readU32(const QByteArray &b, qsizetype at)
{
    quint32 v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | quint8(b[at + i]);
    return v;
}

quint16 readU16(const QByteArray &b, qsizetype at)
{
    return quint16(quint8(b[at]) | (quint8(b[at + 1]) << 8));
}

// A zero-terminated string starting at |at|, ending at the terminator or at
// the end of |b|.
QByteArray cString(const QByteArray &b, qsizetype at, qsizetype end)
{
    end = std::min(end, b.size());
    if (at < 0 || at >= end)
        return {};
    const char *begin = b.constData() + at;
    const void *nul = std::memchr(begin, 0, size_t(end - at));
    return QByteArray(begin, nul ? static_cast<const char *>(nul) - begin : end - at);
}

QString decodeEntities(QString s)
{
    static const QRegularExpression numeric(QStringLiteral("&#(x?)([0-9A-Fa-f]{1,6});"));
    QString out;
    qsizetype last = 0;
    auto it = numeric.globalMatch(s);
    while (it.hasNext()) {
        const auto m = it.next();
        out += QStringView(s).mid(last, m.capturedStart() - last);
        bool ok = false;
        const uint code = m.captured(2).toUInt(&ok, m.captured(1).isEmpty() ? 10 : 16);
        if (ok && code > 0 && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF))
            out += QString::fromUcs4(reinterpret_cast<const char32_t *>(&code), 1);
        last = m.capturedEnd();
    }
    out += QStringView(s).mid(last);
    out.replace(QLatin1String("&quot;"), QLatin1String("\""));
    out.replace(QLatin1String("&lt;"), QLatin1String("<"));
    out.replace(QLatin1String("&gt;"), QLatin1String(">"));
    out.replace(QLatin1String("&amp;"), QLatin1String("&"));
    return out;
}

} // namespace

QString DecodeText(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    if (!utf8.hasError())
        return text;
    QStringDecoder cp1252("windows-1252");
    if (cp1252.isValid())
        return cp1252(bytes);
    return QString::fromLatin1(bytes);
}

SystemInfo ParseSystem(const QByteArray &system)
{
    SystemInfo info;
    // A version number, then records: code, length, data.
    qsizetype at = 4;
    while (at + 4 <= system.size()) {
        const quint16 code = readU16(system, at);
        const quint16 length = readU16(system, at + 2);
        const qsizetype data = at + 4;
        if (length > system.size() - data)
            break;
        const QString value = DecodeText(cString(system, data, data + length));
        switch (code) {
        case 0: info.contentsFile = value; break;
        case 1: info.indexFile = value; break;
        case 2: info.defaultTopic = value; break;
        case 3: info.title = value; break;
        default: break;
        }
        at = data + length;
    }
    return info;
}

std::map<quint32, QString> ParseContextMap(const QByteArray &ivb, const QByteArray &strings)
{
    std::map<quint32, QString> map;
    if (ivb.size() < 4)
        return map;
    const qsizetype declared = qsizetype(readU32(ivb, 0));
    const qsizetype available = std::min<qsizetype>(declared, ivb.size() - 4);
    for (qsizetype at = 4; at + 8 <= 4 + available; at += 8) {
        const quint32 context = readU32(ivb, at);
        const quint32 offset = readU32(ivb, at + 4);
        if (offset >= quint32(strings.size()))
            continue;
        const QString topic = DecodeText(cString(strings, qsizetype(offset), strings.size()));
        if (!topic.isEmpty())
            map.emplace(context, topic);
    }
    return map;
}

std::map<quint32, QString> ParseMapFile(const QByteArray &text)
{
    std::map<quint32, QString> map;
    for (const QByteArray &rawLine : text.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const qsizetype eq = line.indexOf('=');
        if (eq <= 0)
            continue;
        bool ok = false;
        const quint32 context = line.left(eq).trimmed().toUInt(&ok, 0);
        const QString topic = DecodeText(line.mid(eq + 1).trimmed());
        if (ok && !topic.isEmpty())
            map.emplace(context, topic);
    }
    return map;
}

std::vector<ChmFile::ContentsEntry> ParseSitemap(const QByteArray &hhc)
{
    static const QRegularExpression token(
        QStringLiteral("(<\\s*ul\\b[^>]*>)|(<\\s*/\\s*ul\\s*>)|<\\s*object\\b[^>]*>(.*?)<\\s*/\\s*object\\s*>"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression param(QStringLiteral("<\\s*param\\b([^>]*)>"),
                                          QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression attribute(QStringLiteral("(\\w+)\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)'|([^\\s>]+))"));
    constexpr int kMaxDepth = 32;

    std::vector<ChmFile::ContentsEntry> entries;
    const QString text = DecodeText(hhc);
    int depth = 0;
    auto it = token.globalMatch(text);
    while (it.hasNext()) {
        const auto m = it.next();
        if (m.capturedLength(1) > 0) {
            ++depth;
            continue;
        }
        if (m.capturedLength(2) > 0) {
            depth = std::max(0, depth - 1);
            continue;
        }
        ChmFile::ContentsEntry entry;
        auto params = param.globalMatch(m.captured(3));
        while (params.hasNext()) {
            QString name, value;
            auto attrs = attribute.globalMatch(params.next().captured(1));
            while (attrs.hasNext()) {
                const auto a = attrs.next();
                const QString v = a.captured(2) + a.captured(3) + a.captured(4);
                if (a.captured(1).compare(QLatin1String("name"), Qt::CaseInsensitive) == 0)
                    name = v;
                else if (a.captured(1).compare(QLatin1String("value"), Qt::CaseInsensitive) == 0)
                    value = v;
            }
            if (name.compare(QLatin1String("Name"), Qt::CaseInsensitive) == 0 && entry.name.isEmpty())
                entry.name = decodeEntities(value);
            else if (name.compare(QLatin1String("Local"), Qt::CaseInsensitive) == 0 && entry.topic.isEmpty())
                entry.topic = decodeEntities(value);
        }
        if (entry.name.isEmpty())
            continue; // the site's properties, not an entry
        entry.depth = std::clamp(depth - 1, 0, kMaxDepth);
        entries.push_back(std::move(entry));
    }
    return entries;
}

} // namespace chm

namespace {

QString objectName(QString name)
{
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (!name.startsWith(QLatin1Char('/')))
        name.prepend(QLatin1Char('/'));
    return name;
}

} // namespace

std::shared_ptr<ChmFile> ChmFile::Open(const QString &path, QString *error)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return std::shared_ptr<ChmFile>();
    };
    const QByteArray encoded = QFile::encodeName(path);
    struct stat st {};
    if (path.isEmpty() || ::stat(encoded.constData(), &st) != 0)
        return fail(QStringLiteral("Die Datei ist nicht vorhanden."));
    if (!S_ISREG(st.st_mode))
        return fail(QStringLiteral("Das ist keine Datei."));
    struct chmFile *handle = chm_open(encoded.constData());
    if (!handle)
        return fail(QStringLiteral("Die Datei ist keine lesbare Hilfe-Datei."));
    std::shared_ptr<ChmFile> file(new ChmFile);
    file->path_ = path;
    file->handle_ = handle;
    file->load();
    return file;
}

ChmFile::~ChmFile()
{
    if (handle_)
        chm_close(handle_);
}

bool ChmFile::Contains(const QString &name) const
{
    chmUnitInfo ui{};
    return chm_resolve_object(handle_, objectName(name).toUtf8().constData(), &ui) == CHM_RESOLVE_SUCCESS;
}

std::optional<QByteArray> ChmFile::Read(const QString &name, qint64 limit) const
{
    chmUnitInfo ui{};
    if (chm_resolve_object(handle_, objectName(name).toUtf8().constData(), &ui) != CHM_RESOLVE_SUCCESS)
        return std::nullopt;
    if (ui.length > LONGUINT64(limit))
        return std::nullopt;
    QByteArray bytes(qsizetype(ui.length), Qt::Uninitialized);
    if (ui.length == 0)
        return bytes;
    const LONGINT64 got =
        chm_retrieve_object(handle_, &ui, reinterpret_cast<unsigned char *>(bytes.data()), 0, LONGINT64(ui.length));
    if (got != LONGINT64(ui.length))
        return std::nullopt;
    return bytes;
}

QString ChmFile::ResolveTopic(const QString &stored) const
{
    QString path = stored;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    QString anchor;
    if (const qsizetype hash = path.indexOf(QLatin1Char('#')); hash >= 0) {
        anchor = path.mid(hash);
        path.truncate(hash);
    }
    const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QString candidate = QLatin1Char('/') + parts.mid(i).join(QLatin1Char('/'));
        if (Contains(candidate))
            return candidate + anchor;
    }
    return {};
}

QString ChmFile::TopicForContext(int context) const
{
    const auto key = quint32(context);
    if (auto it = contextMap_.find(key); it != contextMap_.end())
        if (QString topic = ResolveTopic(it->second); !topic.isEmpty())
            return topic;
    if (auto it = sideMap_.find(key); it != sideMap_.end())
        return ResolveTopic(it->second);
    return {};
}

void ChmFile::load()
{
    chm::SystemInfo info;
    if (auto system = Read(QStringLiteral("/#SYSTEM")))
        info = chm::ParseSystem(*system);
    title_ = info.title;
    if (!info.defaultTopic.isEmpty())
        defaultTopic_ = ResolveTopic(info.defaultTopic);

    const auto ivb = Read(QStringLiteral("/#IVB"));
    const auto strings = Read(QStringLiteral("/#STRINGS"));
    if (ivb && strings)
        contextMap_ = chm::ParseContextMap(*ivb, *strings);

    const QFileInfo fi(path_);
    const QString mapPath = fi.path() + QLatin1Char('/') + fi.completeBaseName() + QStringLiteral(".map");
    struct stat st {};
    if (::stat(QFile::encodeName(mapPath).constData(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= (1 << 20)) {
        QFile f(mapPath);
        if (f.open(QIODevice::ReadOnly))
            sideMap_ = chm::ParseMapFile(f.read(1 << 20));
    }

    if (!info.contentsFile.isEmpty())
        if (auto hhc = Read(info.contentsFile))
            contents_ = chm::ParseSitemap(*hhc);
    for (auto &entry : contents_)
        if (!entry.topic.isEmpty())
            entry.topic = ResolveTopic(entry.topic);

    if (defaultTopic_.isEmpty())
        for (const auto &entry : contents_)
            if (!entry.topic.isEmpty()) {
                defaultTopic_ = entry.topic;
                break;
            }
    qCDebug(lcHelp) << "help file" << path_ << "title" << title_ << "start" << defaultTopic_ << "contexts"
                    << contextMap_.size() << "+" << sideMap_.size();
}

} // namespace platform

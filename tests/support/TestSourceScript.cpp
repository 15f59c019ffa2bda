#include "support/TestSourceScript.h"

#include "platform/Directories.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sstream>

namespace testsupport {

PageSpec Page(int width, int height, PixelKind kind, Fill fill)
{
    PageSpec p;
    p.width = width;
    p.height = height;
    p.kind = kind;
    p.fill = fill;
    return p;
}

PageSpec SolidPage(int width, int height, PixelKind kind, std::uint8_t v0, std::uint8_t v1, std::uint8_t v2)
{
    PageSpec p = Page(width, height, kind, Fill::Solid);
    p.value = {v0, v1, v2};
    return p;
}

PageSpec CheckerPage(int width, int height, PixelKind kind, int cell)
{
    PageSpec p = Page(width, height, kind, Fill::Checker);
    p.cell = cell;
    return p;
}

std::string ScriptText(const std::vector<ScriptedSource> &sources)
{
    std::ostringstream out;
    for (const ScriptedSource &s : sources) {
        out << "source " << s.name << "\n";
        out << "manufacturer " << s.manufacturer << "\n";
        out << "family " << s.family << "\n";
        if (s.twain2)
            out << "twain2\n";
        for (const PageSpec &p : s.pages) {
            out << "page " << p.width << ' ' << p.height << ' '
                << (p.kind == PixelKind::Rgb ? "rgb" : p.kind == PixelKind::Gray ? "gray" : "bw") << ' ';
            switch (p.fill) {
            case Fill::Gradient:
                out << "gradient";
                break;
            case Fill::Solid:
                out << "solid " << int(p.value[0]);
                if (p.kind == PixelKind::Rgb)
                    out << ' ' << int(p.value[1]) << ' ' << int(p.value[2]);
                break;
            case Fill::Checker:
                out << "checker " << p.cell;
                break;
            }
            out << "\n";
        }
        for (const std::string &line : s.statements)
            out << line << "\n";
        out << "\n";
    }
    return out.str();
}

QImage ExpectedImage(const PageSpec &page, int index)
{
    QImage image(page.width, page.height, QImage::Format_RGB32);
    for (int y = 0; y < page.height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < page.width; ++x) {
            const auto c = testsource::PixelAt(page, index, x, y);
            line[x] = qRgb(c[0], c[1], c[2]);
        }
    }
    return image;
}

QImage AsRgb32(const QImage &image)
{
    return image.convertToFormat(QImage::Format_RGB32);
}

QString TestSourceFile()
{
    return QStringLiteral(QUILLORA_TESTSOURCE_FILE);
}

QString ManagerFile()
{
    return QStringLiteral(QUILLORA_MANAGER_FILE);
}

namespace {
constexpr char kSourcesVariable[] = "QUILLORA_DSM_SOURCES";
constexpr char kScriptVariable[] = "QUILLORA_TESTSOURCE_SCRIPT";

void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(content);
}

QString scriptPathOf(const QString &objectPath)
{
    QString base = objectPath;
    if (base.endsWith(QLatin1String(".ds")))
        base.chop(3);
    return base + QStringLiteral(".script");
}
} // namespace

TestSourceFolder::TestSourceFolder()
{
    hadSources_ = qEnvironmentVariableIsSet(kSourcesVariable);
    previousSources_ = qgetenv(kSourcesVariable);
    hadScript_ = qEnvironmentVariableIsSet(kScriptVariable);
    previousScript_ = qgetenv(kScriptVariable);
    qputenv(kSourcesVariable, QFile::encodeName(dir_.path()));
    qunsetenv(kScriptVariable);
}

TestSourceFolder::~TestSourceFolder()
{
    if (hadSources_)
        qputenv(kSourcesVariable, previousSources_);
    else
        qunsetenv(kSourcesVariable);
    if (hadScript_)
        qputenv(kScriptVariable, previousScript_);
    else
        qunsetenv(kScriptVariable);
}

QString TestSourceFolder::Path() const
{
    return dir_.path() + u'/';
}

QString TestSourceFolder::AddObject(const std::vector<ScriptedSource> &sources, const QString &file,
                                    const QString &subfolder)
{
    const QString folder = subfolder.isEmpty() ? Path() : Path() + subfolder + u'/';
    QDir().mkpath(folder);
    const QString target = folder + file;
    QFile::remove(target);
    QFile::copy(TestSourceFile(), target);
    QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                      QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    writeFile(scriptPathOf(target), QByteArray::fromStdString(ScriptText(sources)));
    return target;
}

void TestSourceFolder::SetScript(const QString &file, const std::vector<ScriptedSource> &sources)
{
    writeFile(scriptPathOf(Path() + file), QByteArray::fromStdString(ScriptText(sources)));
}

QString TestSourceFolder::AddFile(const QString &relative, const QByteArray &content)
{
    writeFile(Path() + relative, content);
    return Path() + relative;
}

ManagerLocation::ManagerLocation()
{
    using platform::DirectoryKind;
    for (DirectoryKind kind : {DirectoryKind::Windows, DirectoryKind::System, DirectoryKind::Current,
                               DirectoryKind::Temp})
        directories_.Set(kind, empty_.path());
    const QString bin = QFileInfo(ManagerFile()).absolutePath();
    directories_.Set(DirectoryKind::Application, bin + QStringLiteral("/quillora"));
    directories_.SetProgramDirectory(bin);
}

ManagerLocation::~ManagerLocation() = default;

} // namespace testsupport

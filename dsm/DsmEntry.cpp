// The exported entry point of TWAIN_32.DLL, the source objects it loads and
// the folders it finds them in.

#include "dsm/Manager.h"
#include "dsm/SourceObject.h"
#include "platform/Modules.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <dlfcn.h>

namespace dsm {

std::shared_ptr<SourceObject> SourceObject::Load(const QString &path)
{
    HMODULE module = LoadLibrary(path);
    if (!module) {
        qCWarning(lcDsm).noquote() << "Source object" << path << "skipped: it cannot be loaded";
        return nullptr;
    }
    auto entry = reinterpret_cast<DSENTRYPROC>(GetProcAddress(module, kSourceEntryName));
    if (!entry) {
        qCWarning(lcDsm).noquote() << "Source object" << path << "skipped: it has no" << kSourceEntryName;
        FreeLibrary(module);
        return nullptr;
    }
    std::shared_ptr<SourceObject> object(new SourceObject);
    object->path_ = path;
    object->module_ = module;
    object->entry_ = entry;
    qCDebug(lcDsm).noquote() << "Source object" << path << "loaded";
    return object;
}

SourceObject::~SourceObject()
{
    if (module_) {
        qCDebug(lcDsm).noquote() << "Source object" << path_ << "unloaded";
        FreeLibrary(static_cast<HMODULE>(module_));
    }
}

TW_UINT16 SourceObject::Call(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) const
{
    const TW_UINT16 rc = entry_(origin, dg, dat, msg, data);
    qCDebug(lcDsm).noquote() << "DS_Entry of" << QFileInfo(path_).fileName() << "DG" << dg << "DAT" << Qt::hex << dat
                             << "MSG" << msg << Qt::dec << "rc" << rc;
    return rc;
}

namespace {

QString withSlash(QString dir)
{
    if (!dir.endsWith(u'/'))
        dir += u'/';
    return dir;
}

// The folder this shared object was loaded from.
QString ownFolder()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&ownFolder), &info) == 0 || !info.dli_fname)
        return QString();
    return withSlash(QFileInfo(QFile::decodeName(info.dli_fname)).absolutePath());
}

bool isSourceFile(const QFileInfo &info)
{
    return info.isFile() && info.fileName().endsWith(QLatin1String(kSourceSuffix));
}

} // namespace

QStringList SourceFolders()
{
    QStringList folders;
    if (qEnvironmentVariableIsSet(kSourceFoldersVariable)) {
        const QByteArray value = qgetenv(kSourceFoldersVariable);
        for (const QByteArray &part : value.split(':')) {
            if (!part.isEmpty())
                folders << withSlash(QFile::decodeName(part));
        }
        return folders;
    }
    const QString own = ownFolder();
    if (!own.isEmpty())
        folders << own + QLatin1String(kOwnSourceFolder) + u'/';
    folders << QString::fromLatin1(kSystemSourceFolder);
    return folders;
}

QStringList SourceFilesIn(const QString &folder)
{
    // Relative paths as bytes, so the order does not depend on the locale.
    std::vector<QByteArray> found;
    QDir dir(folder);
    if (!dir.exists())
        return {};
    const QDir::Filters filters = QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden;
    for (const QFileInfo &entry : dir.entryInfoList(filters, QDir::Unsorted)) {
        if (isSourceFile(entry)) {
            found.push_back(QFile::encodeName(entry.fileName()));
        } else if (entry.isDir()) {
            QDir vendor(entry.filePath());
            for (const QFileInfo &inner : vendor.entryInfoList(QDir::Files | QDir::Hidden, QDir::Unsorted)) {
                if (isSourceFile(inner))
                    found.push_back(QFile::encodeName(entry.fileName() + u'/' + inner.fileName()));
            }
        }
    }
    std::sort(found.begin(), found.end());
    QStringList paths;
    for (const QByteArray &relative : found)
        paths << withSlash(folder) + QFile::decodeName(relative);
    return paths;
}

} // namespace dsm

namespace {
// Unloading the manager drops its state; source objects still in use stay.
struct ShutdownAtUnload {
    ~ShutdownAtUnload() { dsm::Manager::Shutdown(); }
} g_shutdownAtUnload;
} // namespace

extern "C" __attribute__((visibility("default"))) TW_UINT16 DSM_Entry(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest,
                                                                      TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                                                                      TW_MEMREF pData)
{
    return dsm::Manager::Instance().Entry(pOrigin, pDest, DG, DAT, MSG, pData);
}

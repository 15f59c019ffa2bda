// The Data Source Manager behind DSM_Entry: application connections, the
// source list, open sources, TWAIN 2 entry points and notifications.
// See dsm/SourceObject.h for what it expects of source objects.
#pragma once

#include "twain/Twain.h"

#include <QLoggingCategory>
#include <QString>
#include <QStringList>

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>
#include <vector>

Q_DECLARE_LOGGING_CATEGORY(lcDsm)

extern "C" __attribute__((visibility("default"))) TW_UINT16 DSM_Entry(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest,
                                                                      TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                                                                      TW_MEMREF pData);

namespace dsm {

// One loaded source object (a ".ds" file).
class SourceObject {
public:
    // Loads |path| through the platform's module service (which refuses
    // unsafe files); null when it cannot be loaded or has no DS_Entry.
    static std::shared_ptr<SourceObject> Load(const QString &path);
    ~SourceObject();
    SourceObject(const SourceObject &) = delete;
    SourceObject &operator=(const SourceObject &) = delete;

    const QString &Path() const { return path_; }
    TW_UINT16 Call(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) const;

private:
    SourceObject() = default;
    QString path_;
    void *module_ = nullptr;
    DSENTRYPROC entry_ = nullptr;
};

// The source folders in their order (see dsm/SourceObject.h), each with a
// trailing "/".
QStringList SourceFolders();
// The ".ds" files of |folder| and its direct subfolders, in listing order.
QStringList SourceFilesIn(const QString &folder);
// Clears the bytes after the first zero of each text field, so that equal
// identities are equal byte for byte, and makes sure each field ends in one.
void NormalizeIdentity(TW_IDENTITY &identity);

class Manager {
public:
    static Manager &Instance();
    // Drops everything (the manager is being unloaded).
    static void Shutdown();

    TW_UINT16 Entry(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                    TW_MEMREF data);

    // The record DAT_ENTRYPOINT hands out.
    static TW_ENTRYPOINT EntryPoints();

private:
    struct Listed {
        TW_IDENTITY identity;
        std::shared_ptr<SourceObject> object;
    };
    struct Open {
        TW_IDENTITY identity{};
        std::shared_ptr<SourceObject> object;
        DSMENTRYPROC callback = nullptr;
        TW_UINTPTR refCon = 0;
        std::deque<TW_UINT16> notifications;
    };
    struct Connection {
        TW_IDENTITY *identity = nullptr; // the manager's copy, in identities_
        TW_UINT32 id = 0;
        TW_HANDLE parent = nullptr;
        TW_UINT16 condition = TWCC_SUCCESS;
        bool listed = false;
        std::vector<Listed> list;
        std::size_t next = 0;
        std::map<TW_UINT32, std::shared_ptr<Open>> sources;
    };

    TW_UINT16 Fail(pTW_IDENTITY origin, TW_UINT16 condition);
    Connection *Find(TW_UINT32 id);
    TW_UINT16 ToManager(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);
    TW_UINT16 ToSource(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                       TW_MEMREF data);
    TW_UINT16 Notification(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT16 msg);
    TW_UINT16 OpenDsm(pTW_IDENTITY origin, TW_MEMREF data);
    TW_UINT16 CloseDsm(pTW_IDENTITY origin);
    TW_UINT16 Identity(Connection &c, TW_UINT16 msg, TW_MEMREF data);
    TW_UINT16 OpenDs(TW_UINT32 appId, pTW_IDENTITY wanted);
    TW_UINT16 CloseDs(TW_UINT32 appId, pTW_IDENTITY which);
    // Lists the sources for |appId| (callouts made with the lock released).
    void Enumerate(TW_UINT32 appId);
    std::vector<Listed> ListAll();
    std::shared_ptr<SourceObject> ObjectFor(const QString &path);
    TW_UINT32 IdFor(const QString &path, const TW_IDENTITY &identity);
    void UnloadObjectsIfIdle();

    std::mutex mutex_;
    TW_UINT32 nextId_ = 1;
    // Sources get pointers into identities_, so it never moves an entry; the
    // entry of a closed connection is used again by the next one (its
    // sources were all closed before the connection was).
    std::deque<TW_IDENTITY> identities_;
    std::vector<TW_IDENTITY *> freeIdentities_;
    std::map<TW_UINT32, std::unique_ptr<Connection>> connections_;
    std::map<TW_UINT32, TW_UINT16> strayConditions_; // origins without a connection
    using IdKey = std::tuple<QString, QByteArray, QByteArray, QByteArray>;
    std::map<IdKey, TW_UINT32> sourceIds_;
    std::map<QString, std::shared_ptr<SourceObject>> objects_;
    // Files that could not be loaded, with the state they had then: tried
    // again only once they change.
    std::map<QString, QString> refused_;
};

} // namespace dsm

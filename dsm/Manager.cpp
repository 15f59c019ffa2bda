#include "dsm/Manager.h"

#include "dsm/SourceObject.h"
#include "platform/GlobalMemory.h"

#include <QDateTime>
#include <QFileInfo>

#include <algorithm>
#include <cstring>

Q_LOGGING_CATEGORY(lcDsm, "quillora.dsm", QtWarningMsg)

namespace dsm {
namespace {

QByteArray fieldText(const char (&field)[34])
{
    return QByteArray(field, static_cast<qsizetype>(strnlen(field, sizeof field)));
}

bool sameText(const char (&a)[34], const char (&b)[34])
{
    return fieldText(a) == fieldText(b);
}

QString tripletText(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg)
{
    return QStringLiteral("DG %1 DAT %2 MSG %3")
        .arg(dg, 0, 16)
        .arg(dat, 4, 16, QLatin1Char('0'))
        .arg(msg, 4, 16, QLatin1Char('0'));
}

bool isNotification(TW_UINT16 msg)
{
    return msg == MSG_XFERREADY || msg == MSG_CLOSEDSREQ || msg == MSG_CLOSEDSOK || msg == MSG_DEVICEEVENT;
}

// The memory functions of TW_ENTRYPOINT: the platform's global memory, one
// per process, so a block passes between application, manager and source
// whoever allocated it.
TW_HANDLE memAllocate(TW_UINT32 size)
{
    return GlobalAlloc(GHND, size);
}
void memFree(TW_HANDLE handle)
{
    if (handle)
        GlobalFree(handle);
}
TW_MEMREF memLock(TW_HANDLE handle)
{
    return handle ? GlobalLock(handle) : nullptr;
}
void memUnlock(TW_HANDLE handle)
{
    if (handle)
        GlobalUnlock(handle);
}

} // namespace
} // namespace dsm

namespace dsm {

void NormalizeIdentity(TW_IDENTITY &identity)
{
    auto clean = [](char(&field)[34]) {
        const std::size_t n = std::min<std::size_t>(strnlen(field, sizeof field), sizeof field - 1);
        std::memset(field + n, 0, sizeof field - n);
    };
    clean(identity.Version.Info);
    clean(identity.Manufacturer);
    clean(identity.ProductFamily);
    clean(identity.ProductName);
}

TW_ENTRYPOINT Manager::EntryPoints()
{
    TW_ENTRYPOINT e{};
    e.Size = sizeof(TW_ENTRYPOINT);
    e.DSM_Entry = &::DSM_Entry;
    e.DSM_MemAllocate = &memAllocate;
    e.DSM_MemFree = &memFree;
    e.DSM_MemLock = &memLock;
    e.DSM_MemUnlock = &memUnlock;
    return e;
}

namespace {
Manager *g_manager = nullptr;
}

Manager &Manager::Instance()
{
    if (!g_manager)
        g_manager = new Manager;
    return *g_manager;
}

void Manager::Shutdown()
{
    // Source objects still open (an application unloaded the manager
    // without closing them) are left loaded: their code may still run.
    Manager *m = std::exchange(g_manager, nullptr);
    if (!m)
        return;
    bool anyOpen = false;
    for (auto &[id, c] : m->connections_)
        anyOpen = anyOpen || !c->sources.empty();
    if (anyOpen) {
        qCWarning(lcDsm) << "Unloaded while sources are open; their objects stay loaded";
        for (auto &[path, object] : m->objects_)
            new std::shared_ptr<SourceObject>(object); // deliberately kept
    }
    delete m;
}

// Runs |f| with the manager's lock released (calls into sources and
// applications, which may call the manager again).
#define UNLOCKED(expr)                                                                                                \
    [&]() {                                                                                                            \
        mutex_.unlock();                                                                                               \
        struct Relock {                                                                                                \
            std::mutex &m;                                                                                             \
            ~Relock() { m.lock(); }                                                                                    \
        } relock{mutex_};                                                                                              \
        return expr;                                                                                                   \
    }()

TW_UINT16 Manager::Entry(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                         TW_MEMREF data)
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (!origin) {
        qCDebug(lcDsm).noquote() << tripletText(dg, dat, msg) << "without origin: TWRC_FAILURE";
        return TWRC_FAILURE;
    }
    TW_UINT16 rc;
    if (dg == DG_CONTROL && dat == DAT_NULL && dest)
        rc = Notification(origin, dest, msg);
    else if (dest)
        rc = ToSource(origin, dest, dg, dat, msg, data);
    else
        rc = ToManager(origin, dg, dat, msg, data);
    qCDebug(lcDsm).noquote() << "origin" << origin->Id << "dest" << (dest ? qint64(dest->Id) : -1)
                             << tripletText(dg, dat, msg) << "rc" << rc;
    return rc;
}

TW_UINT16 Manager::Fail(pTW_IDENTITY origin, TW_UINT16 condition)
{
    if (Connection *c = Find(origin->Id)) {
        c->condition = condition;
    } else {
        if (strayConditions_.size() > 256)
            strayConditions_.clear();
        strayConditions_[origin->Id] = condition;
    }
    qCDebug(lcDsm) << "condition" << condition << "for" << origin->Id;
    return TWRC_FAILURE;
}

Manager::Connection *Manager::Find(TW_UINT32 id)
{
    const auto it = connections_.find(id);
    return it == connections_.end() ? nullptr : it->second.get();
}

TW_UINT16 Manager::ToManager(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    if (dg != DG_CONTROL)
        return Fail(origin, TWCC_BADPROTOCOL);
    switch (dat) {
    case DAT_PARENT:
        if (msg == MSG_OPENDSM)
            return OpenDsm(origin, data);
        if (msg == MSG_CLOSEDSM)
            return CloseDsm(origin);
        return Fail(origin, TWCC_BADPROTOCOL);
    case DAT_STATUS: {
        if (msg != MSG_GET)
            return Fail(origin, TWCC_BADPROTOCOL);
        if (!data)
            return Fail(origin, TWCC_BADVALUE);
        TW_UINT16 code = TWCC_SUCCESS;
        if (Connection *c = Find(origin->Id)) {
            code = std::exchange(c->condition, TWCC_SUCCESS);
        } else if (auto it = strayConditions_.find(origin->Id); it != strayConditions_.end()) {
            code = it->second;
            strayConditions_.erase(it);
        }
        TW_STATUS status{};
        status.ConditionCode = code;
        std::memcpy(data, &status, sizeof status);
        return TWRC_SUCCESS;
    }
    case DAT_IDENTITY: {
        if (msg != MSG_GETFIRST && msg != MSG_GETNEXT && msg != MSG_GETDEFAULT && msg != MSG_USERSELECT &&
            msg != MSG_OPENDS && msg != MSG_CLOSEDS)
            return Fail(origin, TWCC_BADPROTOCOL);
        Connection *c = Find(origin->Id);
        if (!c)
            return Fail(origin, TWCC_SEQERROR);
        if (!data)
            return Fail(origin, TWCC_BADVALUE);
        if (msg == MSG_OPENDS)
            return OpenDs(c->id, static_cast<pTW_IDENTITY>(data));
        if (msg == MSG_CLOSEDS)
            return CloseDs(c->id, static_cast<pTW_IDENTITY>(data));
        return Identity(*c, msg, data);
    }
    case DAT_ENTRYPOINT: {
        if (msg != MSG_GET)
            return Fail(origin, TWCC_BADPROTOCOL);
        Connection *c = Find(origin->Id);
        if (!c)
            return Fail(origin, TWCC_SEQERROR);
        // Only a TWAIN 2 application knows the record.
        if ((c->identity->SupportedGroups & DF_APP2) == 0)
            return Fail(origin, TWCC_BADPROTOCOL);
        if (!data)
            return Fail(origin, TWCC_BADVALUE);
        TW_UINT32 size = 0;
        std::memcpy(&size, data, sizeof size);
        if (size < sizeof(TW_ENTRYPOINT))
            return Fail(origin, TWCC_BADVALUE);
        const TW_ENTRYPOINT e = EntryPoints();
        std::memcpy(data, &e, sizeof e);
        return TWRC_SUCCESS;
    }
    default:
        return Fail(origin, TWCC_BADPROTOCOL);
    }
}

TW_UINT16 Manager::OpenDsm(pTW_IDENTITY origin, TW_MEMREF data)
{
    if (origin->Id != 0 && Find(origin->Id))
        return Fail(origin, TWCC_SEQERROR); // this identity has the manager open already
    auto c = std::make_unique<Connection>();
    c->id = nextId_++;
    if (freeIdentities_.empty()) {
        identities_.emplace_back();
        c->identity = &identities_.back();
    } else {
        c->identity = freeIdentities_.back();
        freeIdentities_.pop_back();
    }
    *c->identity = *origin;
    c->identity->Id = c->id;
    if (c->identity->SupportedGroups & DF_APP2)
        c->identity->SupportedGroups |= DF_DSM2;
    NormalizeIdentity(*c->identity);
    if (data)
        std::memcpy(&c->parent, data, sizeof c->parent);
    strayConditions_.erase(origin->Id);
    origin->Id = c->id;
    origin->SupportedGroups = c->identity->SupportedGroups;
    qCDebug(lcDsm) << "application" << c->id << fieldText(origin->ProductName) << "opened the manager";
    connections_[c->id] = std::move(c);
    return TWRC_SUCCESS;
}

TW_UINT16 Manager::CloseDsm(pTW_IDENTITY origin)
{
    Connection *c = Find(origin->Id);
    if (!c || !c->sources.empty())
        return Fail(origin, TWCC_SEQERROR);
    freeIdentities_.push_back(c->identity);
    connections_.erase(origin->Id);
    UnloadObjectsIfIdle();
    return TWRC_SUCCESS;
}

void Manager::UnloadObjectsIfIdle()
{
    if (connections_.empty()) {
        // Kept shared pointers (a call still running in a source) keep their
        // object loaded until that call returns.
        objects_.clear();
        refused_.clear();
    }
}

TW_UINT16 Manager::Identity(Connection &c, TW_UINT16 msg, TW_MEMREF data)
{
    const TW_UINT32 appId = c.id;
    if (msg == MSG_GETFIRST || !c.listed) {
        if (msg == MSG_GETNEXT)
            return Fail(c.identity, TWCC_SEQERROR); // no GETFIRST since the manager was opened
        Enumerate(appId);
    }
    Connection *now = Find(appId);
    if (!now)
        return TWRC_FAILURE; // closed meanwhile by a nested call
    if (msg == MSG_GETDEFAULT || msg == MSG_USERSELECT) {
        if (now->list.empty())
            return Fail(now->identity, TWCC_NODS);
        std::memcpy(data, &now->list.front().identity, sizeof(TW_IDENTITY));
        return TWRC_SUCCESS;
    }
    if (msg == MSG_GETFIRST)
        now->next = 0;
    if (now->next >= now->list.size())
        return TWRC_ENDOFLIST;
    std::memcpy(data, &now->list[now->next++].identity, sizeof(TW_IDENTITY));
    return TWRC_SUCCESS;
}

void Manager::Enumerate(TW_UINT32 appId)
{
    std::vector<Listed> list = ListAll();
    if (Connection *c = Find(appId)) {
        c->list = std::move(list);
        c->listed = true;
        c->next = 0;
    }
}

std::vector<Manager::Listed> Manager::ListAll()
{
    std::vector<Listed> all;
    for (const QString &folder : SourceFolders()) {
        for (const QString &path : SourceFilesIn(folder)) {
            std::shared_ptr<SourceObject> object = ObjectFor(path);
            if (!object)
                continue;
            std::vector<TW_IDENTITY> offered;
            TW_IDENTITY identity{};
            TW_UINT16 rc = UNLOCKED(object->Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &identity));
            if (rc != TWRC_SUCCESS && rc != TWRC_ENDOFLIST) {
                identity = TW_IDENTITY{};
                if (UNLOCKED(object->Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GET, &identity)) == TWRC_SUCCESS)
                    offered.push_back(identity);
            } else {
                while (rc == TWRC_SUCCESS && offered.size() < std::size_t(kMaxSourcesPerObject)) {
                    offered.push_back(identity);
                    identity = TW_IDENTITY{};
                    rc = UNLOCKED(object->Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &identity));
                }
            }
            for (TW_IDENTITY &id : offered) {
                NormalizeIdentity(id);
                id.Id = IdFor(path, id);
                all.push_back(Listed{id, object});
            }
            qCDebug(lcDsm) << path << "offers" << offered.size() << "sources";
        }
    }
    return all;
}

std::shared_ptr<SourceObject> Manager::ObjectFor(const QString &path)
{
    const auto it = objects_.find(path);
    if (it != objects_.end())
        return it->second;
    // Size, time and owner of the file (the link's target): a refused file
    // is tried again once it was replaced or mended.
    const QFileInfo info(path);
    const QString state = QStringLiteral("%1 %2 %3 %4")
                              .arg(info.size())
                              .arg(info.lastModified().toMSecsSinceEpoch())
                              .arg(info.ownerId())
                              .arg(int(info.permissions()));
    const auto refused = refused_.find(path);
    if (refused != refused_.end() && refused->second == state)
        return nullptr;
    std::shared_ptr<SourceObject> object = SourceObject::Load(path);
    if (object) {
        objects_[path] = object;
        refused_.erase(path);
    } else {
        refused_[path] = state;
    }
    return object;
}

TW_UINT32 Manager::IdFor(const QString &path, const TW_IDENTITY &identity)
{
    const IdKey key{path, fieldText(identity.Manufacturer), fieldText(identity.ProductFamily),
                    fieldText(identity.ProductName)};
    auto [it, inserted] = sourceIds_.try_emplace(key, 0);
    if (inserted)
        it->second = nextId_++;
    return it->second;
}

TW_UINT16 Manager::OpenDs(TW_UINT32 appId, pTW_IDENTITY wanted)
{
    auto pick = [&](Connection &c) -> const Listed * {
        const bool byDefault = wanted->Id == 0 && wanted->ProductName[0] == 0;
        if (byDefault)
            return c.list.empty() ? nullptr : &c.list.front();
        for (const Listed &l : c.list) {
            if (wanted->Id != 0 && l.identity.Id == wanted->Id)
                return &l;
        }
        for (const Listed &l : c.list) {
            if (!sameText(l.identity.ProductName, wanted->ProductName))
                continue;
            if (wanted->Manufacturer[0] && !sameText(l.identity.Manufacturer, wanted->Manufacturer))
                continue;
            if (wanted->ProductFamily[0] && !sameText(l.identity.ProductFamily, wanted->ProductFamily))
                continue;
            return &l;
        }
        return nullptr;
    };

    Connection *c = Find(appId);
    if (!c->listed)
        Enumerate(appId);
    c = Find(appId);
    if (!c)
        return TWRC_FAILURE;
    const Listed *found = pick(*c);
    if (!found) {
        // A source found since the last listing (a device plugged in).
        Enumerate(appId);
        c = Find(appId);
        if (!c)
            return TWRC_FAILURE;
        found = pick(*c);
    }
    if (!found)
        return Fail(c->identity, TWCC_NODS);
    if (c->sources.count(found->identity.Id))
        return Fail(c->identity, TWCC_SEQERROR); // open already
    // An object learns which of its sources a call is for only from the
    // application's identity: one source per object and application.
    for (const auto &[id, other] : c->sources) {
        if (other->object == found->object)
            return Fail(c->identity, TWCC_MAXCONNECTIONS);
    }

    const TW_IDENTITY listed = found->identity; // the list may be rebuilt during the calls below
    auto open = std::make_shared<Open>();
    open->identity = listed;
    open->object = found->object;
    pTW_IDENTITY app = c->identity;
    if (open->identity.SupportedGroups & DF_DS2) {
        TW_ENTRYPOINT e = EntryPoints();
        UNLOCKED(open->object->Call(app, DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &e));
    }
    // Registered before the call: a source may notify from inside it.
    c->sources[open->identity.Id] = open;
    const TW_UINT16 rc = UNLOCKED(open->object->Call(app, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &open->identity));
    c = Find(appId);
    if (rc != TWRC_SUCCESS) {
        TW_UINT16 condition = TWCC_BUMMER;
        if (rc == TWRC_FAILURE) {
            TW_STATUS status{};
            if (UNLOCKED(open->object->Call(app, DG_CONTROL, DAT_STATUS, MSG_GET, &status)) == TWRC_SUCCESS)
                condition = status.ConditionCode;
        }
        c = Find(appId);
        if (c)
            c->sources.erase(open->identity.Id);
        qCDebug(lcDsm) << "source" << open->identity.Id << "refused to open, rc" << rc << "condition" << condition;
        if (c)
            c->condition = condition;
        return rc == TWRC_FAILURE ? TWRC_FAILURE : rc;
    }
    // The object may have written into the record; the Id and names stay ours.
    open->identity = listed;
    std::memcpy(wanted, &open->identity, sizeof(TW_IDENTITY));
    qCDebug(lcDsm) << "application" << appId << "opened source" << open->identity.Id
                   << fieldText(open->identity.ProductName);
    return TWRC_SUCCESS;
}

TW_UINT16 Manager::CloseDs(TW_UINT32 appId, pTW_IDENTITY which)
{
    Connection *c = Find(appId);
    const auto it = c->sources.find(which->Id);
    if (it == c->sources.end())
        return Fail(c->identity, TWCC_SEQERROR); // not open
    std::shared_ptr<Open> open = it->second;
    pTW_IDENTITY app = c->identity;
    const TW_UINT16 rc = UNLOCKED(open->object->Call(app, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &open->identity));
    if (rc != TWRC_SUCCESS)
        return rc;
    if ((c = Find(appId)))
        c->sources.erase(which->Id);
    return TWRC_SUCCESS;
}

TW_UINT16 Manager::ToSource(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                            TW_MEMREF data)
{
    Connection *c = Find(origin->Id);
    if (!c)
        return Fail(origin, TWCC_SEQERROR);
    const auto it = c->sources.find(dest->Id);
    if (it == c->sources.end())
        return Fail(origin, TWCC_BADDEST);
    std::shared_ptr<Open> open = it->second;

    if (dg == DG_CONTROL && (dat == DAT_CALLBACK || dat == DAT_CALLBACK2)) {
        if (msg != MSG_REGISTER_CALLBACK)
            return Fail(origin, TWCC_BADPROTOCOL);
        if (!data)
            return Fail(origin, TWCC_BADVALUE);
        if (dat == DAT_CALLBACK) {
            TW_CALLBACK cb{};
            std::memcpy(&cb, data, sizeof cb);
            open->callback = reinterpret_cast<DSMENTRYPROC>(cb.CallBackProc);
            open->refCon = cb.RefCon;
        } else {
            TW_CALLBACK2 cb{};
            std::memcpy(&cb, data, sizeof cb);
            open->callback = reinterpret_cast<DSMENTRYPROC>(cb.CallBackProc);
            open->refCon = cb.RefCon;
        }
        // Notifications kept so far go to the new callback.
        while (open->callback && !open->notifications.empty()) {
            const TW_UINT16 note = open->notifications.front();
            open->notifications.pop_front();
            DSMENTRYPROC callback = open->callback;
            pTW_IDENTITY app = c->identity;
            const TW_UINTPTR refCon = open->refCon;
            UNLOCKED(callback(&open->identity, app, DG_CONTROL, DAT_NULL, note, reinterpret_cast<TW_MEMREF>(refCon)));
            if (!Find(origin->Id))
                break;
        }
        return TWRC_SUCCESS;
    }

    if (dg == DG_CONTROL && dat == DAT_EVENT && msg == MSG_PROCESSEVENT && !open->notifications.empty()) {
        if (!data)
            return Fail(origin, TWCC_BADVALUE);
        const TW_UINT16 note = open->notifications.front();
        open->notifications.pop_front();
        TW_EVENT event{};
        std::memcpy(&event, data, sizeof event);
        event.TWMessage = note;
        std::memcpy(data, &event, sizeof event);
        return TWRC_DSEVENT;
    }

    pTW_IDENTITY app = c->identity;
    return UNLOCKED(open->object->Call(app, dg, dat, msg, data));
}

TW_UINT16 Manager::Notification(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT16 msg)
{
    if (!isNotification(msg))
        return Fail(origin, TWCC_BADPROTOCOL);
    Connection *c = Find(dest->Id);
    if (!c)
        return Fail(origin, TWCC_BADDEST); // no such application (or it closed the manager)
    const auto it = c->sources.find(origin->Id);
    if (it == c->sources.end())
        return Fail(origin, TWCC_SEQERROR); // the application does not have this source open
    std::shared_ptr<Open> open = it->second;
    if (!open->callback) {
        // Kept for the application's next DAT_EVENT.
        if (open->notifications.size() < 64)
            open->notifications.push_back(msg);
        return TWRC_SUCCESS;
    }
    DSMENTRYPROC callback = open->callback;
    pTW_IDENTITY app = c->identity;
    const TW_UINTPTR refCon = open->refCon;
    UNLOCKED(callback(&open->identity, app, DG_CONTROL, DAT_NULL, msg, reinterpret_cast<TW_MEMREF>(refCon)));
    return TWRC_SUCCESS;
}

} // namespace dsm

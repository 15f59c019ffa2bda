#include "sources/sane/Registry.h"

#include "sources/sane/Device.h"
#include "sources/sane/Log.h"
#include "sources/sane/Worker.h"

#include "platform/Files.h"

#include <QCoreApplication>

#include <cstring>

namespace sane_source {

namespace {

// How long the first enumeration waits for discovery, counted from its
// start: long enough for local devices (USB) to be found, short enough for
// the program's window to appear at once when backends probe a network.
std::chrono::milliseconds discoveryWait()
{
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("QUILLORA_SANE_DISCOVERY_WAIT_MS", &ok);
    return std::chrono::milliseconds(ok && ms >= 0 ? ms : 500);
}

void copyStr32(char (&dst)[34], const QByteArray &text)
{
    std::memset(dst, 0, sizeof dst);
    const QByteArray cut = platform::CutAtCharacterBoundary(text, kStr32Length);
    std::memcpy(dst, cut.constData(), std::size_t(cut.size()));
}

QByteArray str32(const char (&src)[34]) { return QByteArray(src, int(strnlen(src, sizeof src))); }

} // namespace

Registry &Registry::instance()
{
    static Registry *registry = new Registry;
    return *registry;
}

Registry::Registry() = default;

Registry::~Registry() = default;

void Registry::forget()
{
    for (auto &[id, s] : sessions_)
        s->close();
    sessions_.clear();
    if (discovery_) {
        // Let a discovery still running end first.
        std::unique_lock lock(discovery_->mutex);
        discovery_->done.wait(lock, [this] { return discovery_->phasesDone == 2; });
    }
    discovery_.reset();
    // SANE starts afresh too: backends read their configuration again and
    // forget what was set on their devices.
    Worker::instance().call([] { exitSane(); });
    phasesMerged_ = 0;
    loaded_ = false;
    stored_ = StoredState{};
    devices_.clear();
    cursor_ = 0;
    condition_ = TWCC_SUCCESS;
    haveEntry_ = false;
}

Session *Registry::session(TW_UINT32 appId) const
{
    auto it = sessions_.find(appId);
    return it == sessions_.end() ? nullptr : it->second.get();
}

TW_UINT16 Registry::fail(TW_UINT16 cc)
{
    condition_ = cc;
    return TWRC_FAILURE;
}

void Registry::loadOnce()
{
    if (loaded_)
        return;
    loaded_ = true;
    loadStore(stored_);
    devices_ = stored_.devices;
    for (KnownDevice &d : devices_)
        d.present = false;
    startDiscovery();
}

void Registry::startDiscovery()
{
    auto discovery = std::make_shared<Discovery>();
    discovery_ = discovery;
    discoveryStarted_ = std::chrono::steady_clock::now();
    Worker::instance().setShutdownJob([] { exitSane(); });
    Worker::instance().post([discovery] {
        SANE_Status st = SANE_STATUS_GOOD;
        for (const bool local : {true, false}) {
            std::vector<FoundDevice> found = discoverDevices(local, &st);
            std::lock_guard lock(discovery->mutex);
            (local ? discovery->local : discovery->all) = std::move(found);
            discovery->phasesDone = local ? 1 : 2;
            discovery->done.notify_all();
        }
    });
}

void Registry::takeDiscovery(std::chrono::steady_clock::time_point deadline, bool all)
{
    if (!discovery_ || phasesMerged_ == 2)
        return;
    std::vector<FoundDevice> found;
    int phase = 0;
    {
        std::unique_lock lock(discovery_->mutex);
        const int wanted = all ? 2 : 1;
        discovery_->done.wait_until(lock, deadline, [&] { return discovery_->phasesDone >= wanted; });
        phase = discovery_->phasesDone;
        if (phase <= phasesMerged_)
            return;
        found = phase == 2 ? discovery_->all : discovery_->local;
    }
    phasesMerged_ = phase;
    const std::vector<KnownDevice> before = devices_;
    mergeFoundDevices(devices_, found);
    qCDebug(lcSane) << "discovery" << (phase == 2 ? "(all)" : "(local)") << "found" << found.size()
                    << "devices; listing" << devices_.size();
    bool changed = before.size() != devices_.size();
    for (std::size_t i = 0; !changed && i < before.size(); ++i)
        changed = before[i].saneName != devices_[i].saneName || before[i].vendor != devices_[i].vendor ||
                  before[i].model != devices_[i].model || before[i].type != devices_[i].type;
    if (changed)
        save();
}

void Registry::save()
{
    stored_.devices = devices_;
    for (const auto &[id, s] : sessions_)
        stored_.settings[s->productName()] = s->settings();
    saveStore(stored_);
}

void Registry::fillIdentity(const KnownDevice &d, TW_IDENTITY &id) const
{
    std::memset(&id, 0, sizeof id);
    id.Version.MajorNum = 1;
    id.Version.MinorNum = 0;
    id.Version.Language = TWLG_GER;
    id.Version.Country = 49; // TWCY_GERMANY
    copyStr32(id.Version.Info, QByteArrayLiteral("Quillora SANE 1.0"));
    id.ProtocolMajor = TWON_PROTOCOLMAJOR2;
    id.ProtocolMinor = TWON_PROTOCOLMINOR2;
    id.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_DS2;
    copyStr32(id.Manufacturer, QByteArray::fromStdString(d.vendor).simplified());
    copyStr32(id.ProductFamily, QByteArray::fromStdString(d.type).simplified());
    copyStr32(id.ProductName, d.productName);
}

TW_UINT16 Registry::enumerate(TW_UINT16 msg, TW_IDENTITY *id)
{
    if (!id)
        return fail(TWCC_BADVALUE);
    loadOnce();
    if (msg == MSG_GETFIRST) {
        // The first time a bounded wait for the local search; later the
        // results as they are.
        takeDiscovery(discoveryStarted_ + discoveryWait());
        cursor_ = 0;
    }
    if (cursor_ >= devices_.size())
        return TWRC_ENDOFLIST;
    fillIdentity(devices_[cursor_++], *id);
    condition_ = TWCC_SUCCESS;
    return TWRC_SUCCESS;
}

TW_UINT16 Registry::openSource(const TW_IDENTITY &app, TW_IDENTITY *self)
{
    if (!self)
        return fail(TWCC_BADVALUE);
    loadOnce();
    if (sessions_.count(app.Id))
        return fail(TWCC_MAXCONNECTIONS);
    const QByteArray name = str32(self->ProductName);
    int index = findDevice(devices_, name);
    if (index < 0 || !devices_[std::size_t(index)].present) {
        // Discovery may not have ended yet; the device is opened after it
        // anyway (one thread talks to SANE).
        takeDiscovery(std::chrono::steady_clock::time_point::max(), true);
        index = findDevice(devices_, name);
    }
    if (index < 0)
        return fail(TWCC_NODS);
    const KnownDevice &device = devices_[std::size_t(index)];
    DeviceSettings settings;
    if (auto it = stored_.settings.find(device.productName); it != stored_.settings.end())
        settings = it->second;
    TW_IDENTITY identity = *self;
    fillIdentity(device, identity);
    identity.Id = self->Id;
    auto session = std::make_unique<Session>(app, identity, device, settings, haveEntry_ ? &entry_ : nullptr);
    const TW_UINT16 rc = session->open();
    if (rc != TWRC_SUCCESS)
        return fail(session->condition());
    connect(session.get(), &Session::settingsChanged, this, [this] { save(); });
    *self = identity;
    sessions_[app.Id] = std::move(session);
    condition_ = TWCC_SUCCESS;
    return TWRC_SUCCESS;
}

TW_UINT16 Registry::closeSource(const TW_IDENTITY &app)
{
    auto it = sessions_.find(app.Id);
    if (it == sessions_.end())
        return fail(TWCC_SEQERROR);
    std::unique_ptr<Session> session = std::move(it->second);
    sessions_.erase(it);
    session->close();
    stored_.settings[session->productName()] = session->settings();
    save();
    condition_ = TWCC_SUCCESS;
    return TWRC_SUCCESS;
}

TW_UINT16 Registry::entry(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    if (dg == DG_CONTROL && dat == DAT_IDENTITY) {
        switch (msg) {
        case MSG_GETFIRST:
        case MSG_GETNEXT:
            return enumerate(msg, static_cast<TW_IDENTITY *>(data));
        case MSG_OPENDS: {
            if (!origin)
                return fail(TWCC_BADVALUE);
            const TW_UINT16 rc = openSource(*origin, static_cast<TW_IDENTITY *>(data));
            qCDebug(lcSane) << "DS_Entry MSG_OPENDS:" << rc << "cc" << condition_;
            return rc;
        }
        case MSG_CLOSEDS: {
            if (!origin)
                return fail(TWCC_BADVALUE);
            const TW_UINT16 rc = closeSource(*origin);
            qCDebug(lcSane) << "DS_Entry MSG_CLOSEDS:" << rc;
            return rc;
        }
        default:
            break;
        }
    }
    if (dg == DG_CONTROL && dat == DAT_ENTRYPOINT && msg == MSG_SET) {
        const auto *e = static_cast<const TW_ENTRYPOINT *>(data);
        if (!e || e->Size != sizeof(TW_ENTRYPOINT))
            return fail(TWCC_BADVALUE);
        entry_ = *e;
        haveEntry_ = true;
        condition_ = TWCC_SUCCESS;
        return TWRC_SUCCESS;
    }
    Session *s = origin ? session(origin->Id) : nullptr;
    if (dg == DG_CONTROL && dat == DAT_STATUS && msg == MSG_GET) {
        auto *status = static_cast<TW_STATUS *>(data);
        if (!status)
            return fail(TWCC_BADVALUE);
        status->ConditionCode = s ? s->condition() : condition_;
        status->Reserved = 0;
        if (!s)
            condition_ = TWCC_SUCCESS;
        return TWRC_SUCCESS;
    }
    if (!s)
        return fail(TWCC_SEQERROR);
    return s->dispatch(dg, dat, msg, data);
}

} // namespace sane_source

extern "C" __attribute__((visibility("default"))) TW_UINT16 DS_Entry(pTW_IDENTITY pOrigin, TW_UINT32 DG,
                                                                     TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData)
{
    return sane_source::Registry::instance().entry(pOrigin, DG, DAT, MSG, pData);
}

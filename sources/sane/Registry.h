// The state of this source object: the list of devices it offers as TWAIN
// sources, discovery, and the open sessions.  GUI thread only.
#pragma once

#include "twain/Twain.h"

#include "sources/sane/Devices.h"
#include "sources/sane/Session.h"
#include "sources/sane/Store.h"

#include <QObject>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

namespace sane_source {

class Registry : public QObject {
    Q_OBJECT
public:
    static Registry &instance();
    ~Registry() override;

    TW_UINT16 entry(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);

    // The session an application has open, or null (tests).
    Session *session(TW_UINT32 appId) const;
    // The devices as listed now.
    const std::vector<KnownDevice> &devices() const { return devices_; }

    // Closes every session and forgets the list, the stored file's contents
    // and the discovery, so that the next call starts as in a new run
    // (tests; SANE itself stays initialised).
    void forget();

private:
    Registry();

    void loadOnce();
    void startDiscovery();
    // Merges what discovery has found so far.  Waits at most until
    // |deadline| for the local search (or, with |all|, the whole search).
    void takeDiscovery(std::chrono::steady_clock::time_point deadline, bool all = false);
    void save();
    void fillIdentity(const KnownDevice &d, TW_IDENTITY &id) const;

    TW_UINT16 enumerate(TW_UINT16 msg, TW_IDENTITY *id);
    TW_UINT16 openSource(const TW_IDENTITY &app, TW_IDENTITY *self);
    TW_UINT16 closeSource(const TW_IDENTITY &app);
    TW_UINT16 fail(TW_UINT16 cc);

    // Discovery runs twice on the worker: a local search (USB, SCSI,
    // parallel ports; fast), then the whole one with networks (seconds).
    struct Discovery {
        std::mutex mutex;
        std::condition_variable done;
        int phasesDone = 0; // 0, 1 (local), 2 (all)
        std::vector<FoundDevice> local;
        std::vector<FoundDevice> all;
    };

    bool loaded_ = false;
    StoredState stored_;
    std::vector<KnownDevice> devices_;
    std::shared_ptr<Discovery> discovery_;
    std::chrono::steady_clock::time_point discoveryStarted_;
    int phasesMerged_ = 0;
    std::size_t cursor_ = 0;
    std::map<TW_UINT32, std::unique_ptr<Session>> sessions_;
    TW_UINT16 condition_ = TWCC_SUCCESS;
    TW_ENTRYPOINT entry_{};
    bool haveEntry_ = false;
};

} // namespace sane_source

// A scriptable in-process Data Source Manager.
//
// While a ScriptedDsm exists it is what LoadLibrary of "TWAIN_32.DLL" gives:
// it puts an (empty) file of that name into a temporary folder, points the
// Windows directory kind at that folder, and installs a module service that
// answers any path ending in TWAIN_32.DLL with a module whose ordinal 1 (and
// export "DSM_Entry") is this manager's entry point.  Only one may exist at a
// time.
//
// Every call is recorded in order (origin, destination, triplet, a copy of
// the data sent, for DAT_CAPABILITY also a copy of the container sent) and
// answered from the script:
//   1. a one-shot answer queued for the triplet (ScriptOnce), else
//   2. a standing answer for the triplet (Script), else
//   3. the built-in behaviour described at each member below.
// Each answer may fill the data and may set the condition code that the next
// DG_CONTROL/DAT_STATUS/MSG_GET reports.
#pragma once

#include "support/FixedDirectories.h"
#include "platform/GlobalMemory.h"
#include "platform/Modules.h"
#include "twain/Twain.h"

#include <QString>

#include <memory>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace testsupport {

using Bytes = std::vector<std::uint8_t>;

struct DsmCall {
    bool hasOrigin = false;
    TW_IDENTITY origin{};
    bool hasDest = false;
    TW_IDENTITY dest{};
    TW_UINT32 dg = 0;
    TW_UINT16 dat = 0;
    TW_UINT16 msg = 0;
    bool hasData = false;
    Bytes data;       // the data record as it was sent (before the answer)
    Bytes container;  // DAT_CAPABILITY: the container block sent, if any
    TW_UINT16 rc = 0; // what the manager answered

    // "MSG_OPENDSM", "MSG_OPENDS", "MSG_ENABLEDS" ... for DAT_PARENT,
    // DAT_IDENTITY, DAT_USERINTERFACE and DAT_EVENT; the others carry their
    // data type in front: "CAP/MSG_SET", "STATUS/MSG_GET", "PENDING/MSG_ENDXFER",
    // "NATIVE/MSG_GET", "MEMXFER/MSG_GET", "IMAGEINFO/MSG_GET", ...
    std::string Name() const;
    template <typename T>
    T DataAs() const
    {
        T value{};
        std::memcpy(&value, data.data(), std::min(sizeof(T), data.size()));
        return value;
    }
};

struct DsmAnswer {
    TW_UINT16 rc = TWRC_SUCCESS;
    std::optional<TW_UINT16> condition;    // reported by the next DAT_STATUS
    std::function<void(TW_MEMREF)> fill; // writes the answer into the data
};

// Container blocks a scripted source hands back (built fresh for every call).
Bytes OneValue(TW_UINT16 itemType, const void *item, std::size_t itemSize);
Bytes OneValue16(TW_UINT16 itemType, TW_UINT16 value);
Bytes OneValueFix32(double value);
Bytes Range32(TW_UINT16 itemType, TW_UINT32 min, TW_UINT32 max, TW_UINT32 step, TW_UINT32 def, TW_UINT32 cur);
Bytes Enumeration16(TW_UINT16 itemType, const std::vector<TW_UINT16> &items, TW_UINT32 current, TW_UINT32 def);
Bytes EnumerationRaw(TW_UINT16 itemType, TW_UINT32 numItems, TW_UINT32 current, TW_UINT32 def, const Bytes &list);
Bytes Array16(TW_UINT16 itemType, const std::vector<TW_UINT16> &items);
Bytes ArrayRaw(TW_UINT16 itemType, TW_UINT32 numItems, const Bytes &list);
Bytes Fix32List(const std::vector<double> &values);

class ScriptedDsm {
public:
    ScriptedDsm();
    ~ScriptedDsm();
    ScriptedDsm(const ScriptedDsm &) = delete;
    ScriptedDsm &operator=(const ScriptedDsm &) = delete;

    static ScriptedDsm *Current();
    static DSMENTRYPROC Entry();

    // --- sources (DAT_IDENTITY) -------------------------------------------
    // Listed by MSG_GETFIRST / MSG_GETNEXT in order, ending in
    // TWRC_ENDOFLIST; each gets Id = position + 1 unless one was given.
    TW_IDENTITY &AddSource(const QString &productName);
    std::vector<TW_IDENTITY> sources;
    // MSG_GETDEFAULT answers with sources[defaultSource]; -1: TWRC_FAILURE.
    int defaultSource = -1;

    // --- scripted answers -------------------------------------------------
    void Script(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, DsmAnswer answer);
    void Script(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_UINT16 rc,
                std::optional<TW_UINT16> condition = std::nullopt);
    void ScriptOnce(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, DsmAnswer answer);
    void ScriptOnce(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_UINT16 rc,
                    std::optional<TW_UINT16> condition = std::nullopt);
    void ClearScript();

    // Condition code DAT_STATUS reports (built-in answer).
    TW_UINT16 condition = TWCC_SUCCESS;

    // --- capabilities (DAT_CAPABILITY) --------------------------------------
    // A query (MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT, MSG_RESET) of |cap|
    // answers TWRC_SUCCESS with a fresh global block holding |block| and
    // ConType |conType|.  |msg| 0 answers every query message.  Unscripted
    // capabilities fail with TWCC_CAPUNSUPPORTED; MSG_SET succeeds.
    void ScriptCapability(TW_UINT16 cap, TW_UINT16 conType, Bytes block, TW_UINT16 msg = 0);
    // A query that succeeds but hands over no block at all.
    void ScriptCapabilityNoContainer(TW_UINT16 cap, TW_UINT16 conType);

    // --- transfers ----------------------------------------------------------
    // DG_CONTROL/DAT_PENDINGXFERS: MSG_GET reports |pending|; MSG_ENDXFER
    // lowers it by one (not below 0) and reports it; MSG_RESET sets it to 0.
    int pending = 1;
    // DG_IMAGE/DAT_IMAGEINFO/MSG_GET copies this record (TWRC_FAILURE if unset).
    std::optional<TW_IMAGEINFO> imageInfo;
    // DG_CONTROL/DAT_SETUPMEMXFER/MSG_GET copies this record (TWRC_FAILURE if unset).
    std::optional<TW_SETUPMEMXFER> setupMemXfer;
    // DG_IMAGE/DAT_PALETTE8/MSG_GET copies this record (TWRC_FAILURE if unset).
    std::optional<TW_PALETTE8> palette;
    // DG_CONTROL/DAT_SETUPFILEXFER/MSG_GET copies this record; MSG_SET stores it.
    TW_SETUPFILEXFER setupFileXfer{};
    // DG_IMAGE/DAT_IMAGENATIVEXFER/MSG_GET: each call takes the next image:
    // a packed DIB copied into a fresh global block handed over with
    // TWRC_XFERDONE; an empty queue answers TWRC_FAILURE.
    std::deque<Bytes> nativeImages;
    void QueueNativeImage(Bytes dib) { nativeImages.push_back(std::move(dib)); }
    // DG_IMAGE/DAT_IMAGEMEMXFER/MSG_GET: each call takes the next strip and
    // copies at most Memory.Length bytes of it into the caller's buffer
    // (BytesWritten set accordingly); TWRC_SUCCESS, the last strip of the
    // queue TWRC_XFERDONE; an empty queue answers TWRC_FAILURE.
    std::deque<Bytes> memStrips;
    void QueueStrip(Bytes strip) { memStrips.push_back(std::move(strip)); }
    // DG_IMAGE/DAT_IMAGEFILEXFER/MSG_GET answer.
    TW_UINT16 fileXferRc = TWRC_XFERDONE;
    // DG_CONTROL/DAT_EVENT/MSG_PROCESSEVENT: each call takes the next queued
    // TWMessage and answers TWRC_DSEVENT with it; an empty queue answers
    // TWRC_NOTDSEVENT.
    std::deque<TW_UINT16> events;
    void QueueEvent(TW_UINT16 twMessage) { events.push_back(twMessage); }

    // --- the module the manager lives in -------------------------------------
    bool loadFails = false;     // LoadLibrary gives no module
    bool exportMissing = false; // no DSM_Entry / ordinal 1
    bool freeFails = false;     // FreeLibrary fails
    std::vector<QString> loadedPaths;
    int freeCount = 0;
    QString Directory() const; // the folder holding the stand-in file, with "/"

    // --- what was asked -----------------------------------------------------
    std::vector<DsmCall> calls;
    // Names of the calls in order ("MSG_OPENDSM", ...), and anything tests
    // note in between (events), in one journal.
    std::vector<std::string> journal;
    void Note(const std::string &entry) { journal.push_back(entry); }
    std::vector<std::string> CallNames() const;
    int Count(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg) const;
    int Count(TW_UINT16 msg) const; // by message alone
    const DsmCall *Last(TW_UINT16 msg) const;
    void ClearLog();

private:
    TW_UINT16 Handle(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                     TW_MEMREF pData);
    TW_UINT16 BuiltIn(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF pData);
    friend TW_UINT16 ScriptedDsmEntry(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF);

    using Key = std::tuple<TW_UINT32, TW_UINT16, TW_UINT16>;
    std::map<Key, DsmAnswer> fStanding;
    std::map<Key, std::deque<DsmAnswer>> fOnce;
    struct CapScript {
        TW_UINT16 conType;
        Bytes block;
        bool noContainer;
    };
    std::map<std::pair<TW_UINT16, TW_UINT16>, CapScript> fCaps;
    std::size_t fNextSource = 0;

    class Modules;
    std::unique_ptr<testing_support::FixedDirectories> fDirectories;
    std::unique_ptr<Modules> fModules;
    std::unique_ptr<platform::ScopedService<platform::ModuleService>> fUseModules;
    QTemporaryDir fDir;
};

// Name of a message ("MSG_OPENDS"); hex for unknown ones.
std::string MsgName(TW_UINT16 msg);

// The application side's fields a test wants to look at, identity strings
// read as 8-bit text.
std::string ProductNameOf(const TW_IDENTITY &identity);

} // namespace testsupport

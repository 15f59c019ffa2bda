#include "support/ScriptedDsm.h"

#include "platform/Directories.h"

#include <QFile>

#include <cstdio>
#include <stdexcept>

namespace testsupport {

namespace {

ScriptedDsm *g_current = nullptr;

HMODULE fakeModule()
{
    return reinterpret_cast<HMODULE>(std::uintptr_t(0x7D5E0000));
}

std::size_t dataSize(TW_UINT16 dat)
{
    switch (dat) {
    case DAT_CAPABILITY:
        return sizeof(TW_CAPABILITY);
    case DAT_EVENT:
        return sizeof(TW_EVENT);
    case DAT_IDENTITY:
        return sizeof(TW_IDENTITY);
    case DAT_PARENT:
        return sizeof(HWND);
    case DAT_PENDINGXFERS:
        return sizeof(TW_PENDINGXFERS);
    case DAT_SETUPMEMXFER:
        return sizeof(TW_SETUPMEMXFER);
    case DAT_SETUPFILEXFER:
        return sizeof(TW_SETUPFILEXFER);
    case DAT_STATUS:
        return sizeof(TW_STATUS);
    case DAT_USERINTERFACE:
        return sizeof(TW_USERINTERFACE);
    case DAT_IMAGEINFO:
        return sizeof(TW_IMAGEINFO);
    case DAT_IMAGELAYOUT:
        return sizeof(TW_IMAGELAYOUT);
    case DAT_IMAGEMEMXFER:
        return sizeof(TW_IMAGEMEMXFER);
    case DAT_IMAGENATIVEXFER:
        return sizeof(TW_HANDLE);
    case DAT_PALETTE8:
        return sizeof(TW_PALETTE8);
    default:
        return 0;
    }
}

HGLOBAL blockOf(const Bytes &bytes)
{
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes.size());
    if (!h)
        return nullptr;
    if (!bytes.empty()) {
        void *p = GlobalLock(h);
        std::memcpy(p, bytes.data(), bytes.size());
        GlobalUnlock(h);
    }
    return h;
}

void put16(Bytes &b, std::size_t at, TW_UINT16 v)
{
    std::memcpy(b.data() + at, &v, 2);
}

void put32(Bytes &b, std::size_t at, TW_UINT32 v)
{
    std::memcpy(b.data() + at, &v, 4);
}

} // namespace

extern "C" TW_UINT16 ScriptedDsmEntryC(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 dg, TW_UINT16 dat,
                                       TW_UINT16 msg, TW_MEMREF pData);

TW_UINT16 ScriptedDsmEntry(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                           TW_MEMREF pData)
{
    if (!g_current)
        return TWRC_FAILURE;
    return g_current->Handle(pOrigin, pDest, dg, dat, msg, pData);
}

extern "C" TW_UINT16 ScriptedDsmEntryC(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 dg, TW_UINT16 dat,
                                       TW_UINT16 msg, TW_MEMREF pData)
{
    return ScriptedDsmEntry(pOrigin, pDest, dg, dat, msg, pData);
}

// ---------------------------------------------------------------------------
// Container builders
// ---------------------------------------------------------------------------
Bytes OneValue(TW_UINT16 itemType, const void *item, std::size_t itemSize)
{
    Bytes b(2 + std::max<std::size_t>(itemSize, 4), 0);
    put16(b, 0, itemType);
    if (itemSize)
        std::memcpy(b.data() + 2, item, itemSize);
    return b;
}

Bytes OneValue16(TW_UINT16 itemType, TW_UINT16 value)
{
    return OneValue(itemType, &value, 2);
}

Bytes OneValueFix32(double value)
{
    const auto scaled = static_cast<std::int32_t>(value * 65536.0);
    TW_FIX32 f;
    f.Whole = static_cast<TW_INT16>(scaled >> 16);
    f.Frac = static_cast<TW_UINT16>(scaled & 0xFFFF);
    return OneValue(TWTY_FIX32, &f, 4);
}

Bytes Range32(TW_UINT16 itemType, TW_UINT32 min, TW_UINT32 max, TW_UINT32 step, TW_UINT32 def, TW_UINT32 cur)
{
    Bytes b(sizeof(TW_RANGE), 0);
    put16(b, 0, itemType);
    put32(b, 2, min);
    put32(b, 6, max);
    put32(b, 10, step);
    put32(b, 14, def);
    put32(b, 18, cur);
    return b;
}

Bytes EnumerationRaw(TW_UINT16 itemType, TW_UINT32 numItems, TW_UINT32 current, TW_UINT32 def, const Bytes &list)
{
    Bytes b(14 + list.size(), 0);
    put16(b, 0, itemType);
    put32(b, 2, numItems);
    put32(b, 6, current);
    put32(b, 10, def);
    std::copy(list.begin(), list.end(), b.begin() + 14);
    return b;
}

Bytes Enumeration16(TW_UINT16 itemType, const std::vector<TW_UINT16> &items, TW_UINT32 current, TW_UINT32 def)
{
    Bytes list(items.size() * 2);
    for (std::size_t i = 0; i < items.size(); ++i)
        put16(list, 2 * i, items[i]);
    return EnumerationRaw(itemType, static_cast<TW_UINT32>(items.size()), current, def, list);
}

Bytes ArrayRaw(TW_UINT16 itemType, TW_UINT32 numItems, const Bytes &list)
{
    Bytes b(6 + list.size(), 0);
    put16(b, 0, itemType);
    put32(b, 2, numItems);
    std::copy(list.begin(), list.end(), b.begin() + 6);
    return b;
}

Bytes Array16(TW_UINT16 itemType, const std::vector<TW_UINT16> &items)
{
    Bytes list(items.size() * 2);
    for (std::size_t i = 0; i < items.size(); ++i)
        put16(list, 2 * i, items[i]);
    return ArrayRaw(itemType, static_cast<TW_UINT32>(items.size()), list);
}

Bytes Fix32List(const std::vector<double> &values)
{
    Bytes list(values.size() * 4);
    for (std::size_t i = 0; i < values.size(); ++i) {
        const auto scaled = static_cast<std::int32_t>(values[i] * 65536.0);
        put16(list, 4 * i, static_cast<TW_UINT16>(scaled >> 16));
        put16(list, 4 * i + 2, static_cast<TW_UINT16>(scaled & 0xFFFF));
    }
    return list;
}

// ---------------------------------------------------------------------------
// The module service double
// ---------------------------------------------------------------------------
class ScriptedDsm::Modules final : public platform::ModuleService {
public:
    explicit Modules(ScriptedDsm &dsm) : fDsm(dsm) {}

    HMODULE load(const QString &fileName) override
    {
        fDsm.loadedPaths.push_back(fileName);
        if (!fileName.endsWith(QLatin1String("TWAIN_32.DLL")))
            return platform::Service<platform::ModuleService>::real().load(fileName);
        return fDsm.loadFails ? nullptr : fakeModule();
    }
    FARPROC symbol(HMODULE module, const char *name) override
    {
        if (module != fakeModule())
            return platform::Service<platform::ModuleService>::real().symbol(module, name);
        if (fDsm.exportMissing || std::strcmp(name, "DSM_Entry") != 0)
            return nullptr;
        return reinterpret_cast<FARPROC>(&ScriptedDsmEntryC);
    }
    bool free(HMODULE module) override
    {
        if (module != fakeModule())
            return platform::Service<platform::ModuleService>::real().free(module);
        ++fDsm.freeCount;
        return !fDsm.freeFails;
    }

private:
    ScriptedDsm &fDsm;
};

// ---------------------------------------------------------------------------
// ScriptedDsm
// ---------------------------------------------------------------------------
ScriptedDsm::ScriptedDsm()
{
    if (g_current)
        throw std::logic_error("only one ScriptedDsm at a time");
    g_current = this;
    QFile stand(fDir.filePath(QStringLiteral("TWAIN_32.DLL")));
    if (stand.open(QIODevice::WriteOnly))
        stand.close();
    fDirectories = std::make_unique<testing_support::FixedDirectories>();
    fDirectories->Set(platform::DirectoryKind::Windows, Directory());
    fModules = std::make_unique<Modules>(*this);
    fUseModules = std::make_unique<platform::ScopedService<platform::ModuleService>>(*fModules);
}

ScriptedDsm::~ScriptedDsm()
{
    fUseModules.reset();
    fModules.reset();
    fDirectories.reset();
    g_current = nullptr;
}

ScriptedDsm *ScriptedDsm::Current()
{
    return g_current;
}

DSMENTRYPROC ScriptedDsm::Entry()
{
    return &ScriptedDsmEntryC;
}

QString ScriptedDsm::Directory() const
{
    return fDir.path() + QLatin1Char('/');
}

TW_IDENTITY &ScriptedDsm::AddSource(const QString &productName)
{
    TW_IDENTITY id{};
    id.Id = static_cast<TW_UINT32>(sources.size() + 1);
    id.Version.MajorNum = 1;
    id.ProtocolMajor = TWON_PROTOCOLMAJOR;
    id.ProtocolMinor = TWON_PROTOCOLMINOR;
    id.SupportedGroups = DG_CONTROL | DG_IMAGE;
    const QByteArray name = productName.toUtf8().left(33);
    std::memcpy(id.ProductName, name.constData(), static_cast<std::size_t>(name.size()));
    std::snprintf(id.Manufacturer, sizeof id.Manufacturer, "Scripted");
    sources.push_back(id);
    return sources.back();
}

void ScriptedDsm::Script(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, DsmAnswer answer)
{
    fStanding[{dg, dat, msg}] = std::move(answer);
}

void ScriptedDsm::Script(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_UINT16 rc, std::optional<TW_UINT16> cond)
{
    Script(dg, dat, msg, DsmAnswer{rc, cond, {}});
}

void ScriptedDsm::ScriptOnce(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, DsmAnswer answer)
{
    fOnce[{dg, dat, msg}].push_back(std::move(answer));
}

void ScriptedDsm::ScriptOnce(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_UINT16 rc,
                             std::optional<TW_UINT16> cond)
{
    ScriptOnce(dg, dat, msg, DsmAnswer{rc, cond, {}});
}

void ScriptedDsm::ClearScript()
{
    fStanding.clear();
    fOnce.clear();
    fCaps.clear();
}

void ScriptedDsm::ScriptCapability(TW_UINT16 cap, TW_UINT16 conType, Bytes block, TW_UINT16 msg)
{
    fCaps[{cap, msg}] = CapScript{conType, std::move(block), false};
}

void ScriptedDsm::ScriptCapabilityNoContainer(TW_UINT16 cap, TW_UINT16 conType)
{
    fCaps[{cap, 0}] = CapScript{conType, {}, true};
}

std::vector<std::string> ScriptedDsm::CallNames() const
{
    std::vector<std::string> names;
    for (const auto &c : calls)
        names.push_back(c.Name());
    return names;
}

int ScriptedDsm::Count(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg) const
{
    int n = 0;
    for (const auto &c : calls)
        n += (c.dg == dg && c.dat == dat && c.msg == msg) ? 1 : 0;
    return n;
}

int ScriptedDsm::Count(TW_UINT16 msg) const
{
    int n = 0;
    for (const auto &c : calls)
        n += c.msg == msg ? 1 : 0;
    return n;
}

const DsmCall *ScriptedDsm::Last(TW_UINT16 msg) const
{
    for (auto it = calls.rbegin(); it != calls.rend(); ++it)
        if (it->msg == msg)
            return &*it;
    return nullptr;
}

void ScriptedDsm::ClearLog()
{
    calls.clear();
    journal.clear();
}

TW_UINT16 ScriptedDsm::Handle(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                              TW_MEMREF pData)
{
    DsmCall call;
    if (pOrigin) {
        call.hasOrigin = true;
        call.origin = *pOrigin;
    }
    if (pDest) {
        call.hasDest = true;
        call.dest = *pDest;
    }
    call.dg = dg;
    call.dat = dat;
    call.msg = msg;
    if (pData) {
        call.hasData = true;
        const std::size_t n = dataSize(dat);
        call.data.assign(static_cast<std::uint8_t *>(pData), static_cast<std::uint8_t *>(pData) + n);
        if (dat == DAT_CAPABILITY) {
            const auto *cap = static_cast<TW_CAPABILITY *>(pData);
            if (cap->hContainer) {
                const SIZE_T size = GlobalSize(cap->hContainer);
                if (const void *p = GlobalLock(cap->hContainer)) {
                    call.container.assign(static_cast<const std::uint8_t *>(p),
                                          static_cast<const std::uint8_t *>(p) + size);
                    GlobalUnlock(cap->hContainer);
                }
            }
        }
    }
    journal.push_back(call.Name());

    TW_UINT16 rc;
    const Key key{dg, dat, msg};
    DsmAnswer answer;
    bool scripted = false;
    if (auto it = fOnce.find(key); it != fOnce.end() && !it->second.empty()) {
        answer = std::move(it->second.front());
        it->second.pop_front();
        scripted = true;
    } else if (auto st = fStanding.find(key); st != fStanding.end()) {
        answer = st->second;
        scripted = true;
    }
    if (scripted) {
        if (answer.fill && pData)
            answer.fill(pData);
        if (answer.condition)
            condition = *answer.condition;
        rc = answer.rc;
    } else {
        rc = BuiltIn(dg, dat, msg, pData);
    }
    call.rc = rc;
    calls.push_back(std::move(call));
    return rc;
}

TW_UINT16 ScriptedDsm::BuiltIn(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF pData)
{
    if (dg == DG_CONTROL) {
        switch (dat) {
        case DAT_PARENT:
            return TWRC_SUCCESS;
        case DAT_IDENTITY:
            switch (msg) {
            case MSG_GETFIRST:
                fNextSource = 0;
                [[fallthrough]];
            case MSG_GETNEXT:
                if (fNextSource >= sources.size() || !pData)
                    return TWRC_ENDOFLIST;
                *static_cast<TW_IDENTITY *>(pData) = sources[fNextSource++];
                return TWRC_SUCCESS;
            case MSG_GETDEFAULT:
                if (defaultSource < 0 || static_cast<std::size_t>(defaultSource) >= sources.size() || !pData) {
                    condition = TWCC_NODS;
                    return TWRC_FAILURE;
                }
                *static_cast<TW_IDENTITY *>(pData) = sources[static_cast<std::size_t>(defaultSource)];
                return TWRC_SUCCESS;
            default:
                return TWRC_SUCCESS; // MSG_OPENDS, MSG_CLOSEDS, MSG_USERSELECT
            }
        case DAT_USERINTERFACE:
            return TWRC_SUCCESS;
        case DAT_STATUS:
            if (!pData)
                return TWRC_FAILURE;
            static_cast<TW_STATUS *>(pData)->ConditionCode = condition;
            return TWRC_SUCCESS;
        case DAT_PENDINGXFERS: {
            if (msg == MSG_ENDXFER && pending > 0)
                --pending;
            else if (msg == MSG_RESET)
                pending = 0;
            if (pData)
                static_cast<TW_PENDINGXFERS *>(pData)->Count = static_cast<TW_UINT16>(pending);
            return TWRC_SUCCESS;
        }
        case DAT_SETUPMEMXFER:
            if (!setupMemXfer || !pData)
                return TWRC_FAILURE;
            *static_cast<TW_SETUPMEMXFER *>(pData) = *setupMemXfer;
            return TWRC_SUCCESS;
        case DAT_SETUPFILEXFER:
            if (!pData)
                return TWRC_FAILURE;
            if (msg == MSG_SET)
                setupFileXfer = *static_cast<TW_SETUPFILEXFER *>(pData);
            else
                *static_cast<TW_SETUPFILEXFER *>(pData) = setupFileXfer;
            return TWRC_SUCCESS;
        case DAT_EVENT:
            if (events.empty() || !pData)
                return TWRC_NOTDSEVENT;
            static_cast<TW_EVENT *>(pData)->TWMessage = events.front();
            events.pop_front();
            return TWRC_DSEVENT;
        case DAT_CAPABILITY: {
            auto *cap = static_cast<TW_CAPABILITY *>(pData);
            if (!cap)
                return TWRC_FAILURE;
            if (msg == MSG_SET)
                return TWRC_SUCCESS;
            auto it = fCaps.find({cap->Cap, msg});
            if (it == fCaps.end())
                it = fCaps.find({cap->Cap, TW_UINT16(0)});
            if (it == fCaps.end()) {
                condition = TWCC_CAPUNSUPPORTED;
                return TWRC_FAILURE;
            }
            cap->ConType = it->second.conType;
            cap->hContainer = it->second.noContainer ? nullptr : blockOf(it->second.block);
            return TWRC_SUCCESS;
        }
        default:
            break;
        }
    } else if (dg == DG_IMAGE) {
        switch (dat) {
        case DAT_IMAGEINFO:
            if (!imageInfo || !pData)
                return TWRC_FAILURE;
            *static_cast<TW_IMAGEINFO *>(pData) = *imageInfo;
            return TWRC_SUCCESS;
        case DAT_PALETTE8:
            if (!palette || !pData)
                return TWRC_FAILURE;
            *static_cast<TW_PALETTE8 *>(pData) = *palette;
            return TWRC_SUCCESS;
        case DAT_IMAGELAYOUT:
            return TWRC_SUCCESS;
        case DAT_IMAGENATIVEXFER: {
            if (nativeImages.empty() || !pData)
                return TWRC_FAILURE;
            HGLOBAL h = blockOf(nativeImages.front());
            nativeImages.pop_front();
            *static_cast<TW_HANDLE *>(pData) = h;
            return TWRC_XFERDONE;
        }
        case DAT_IMAGEMEMXFER: {
            if (memStrips.empty() || !pData)
                return TWRC_FAILURE;
            auto *xfer = static_cast<TW_IMAGEMEMXFER *>(pData);
            const Bytes strip = std::move(memStrips.front());
            memStrips.pop_front();
            const std::size_t n = std::min<std::size_t>(strip.size(), xfer->Memory.Length);
            if (n && xfer->Memory.TheMem)
                std::memcpy(xfer->Memory.TheMem, strip.data(), n);
            xfer->BytesWritten = static_cast<TW_UINT32>(n);
            return memStrips.empty() ? TWRC_XFERDONE : TWRC_SUCCESS;
        }
        case DAT_IMAGEFILEXFER:
            return fileXferRc;
        default:
            break;
        }
    }
    condition = TWCC_BADPROTOCOL;
    return TWRC_FAILURE;
}

// ---------------------------------------------------------------------------
// Names
// ---------------------------------------------------------------------------
std::string MsgName(TW_UINT16 msg)
{
    switch (msg) {
    case MSG_NULL: return "MSG_NULL";
    case MSG_GET: return "MSG_GET";
    case MSG_GETCURRENT: return "MSG_GETCURRENT";
    case MSG_GETDEFAULT: return "MSG_GETDEFAULT";
    case MSG_GETFIRST: return "MSG_GETFIRST";
    case MSG_GETNEXT: return "MSG_GETNEXT";
    case MSG_SET: return "MSG_SET";
    case MSG_RESET: return "MSG_RESET";
    case MSG_QUERYSUPPORT: return "MSG_QUERYSUPPORT";
    case MSG_XFERREADY: return "MSG_XFERREADY";
    case MSG_CLOSEDSREQ: return "MSG_CLOSEDSREQ";
    case MSG_CLOSEDSOK: return "MSG_CLOSEDSOK";
    case MSG_DEVICEEVENT: return "MSG_DEVICEEVENT";
    case MSG_OPENDSM: return "MSG_OPENDSM";
    case MSG_CLOSEDSM: return "MSG_CLOSEDSM";
    case MSG_OPENDS: return "MSG_OPENDS";
    case MSG_CLOSEDS: return "MSG_CLOSEDS";
    case MSG_USERSELECT: return "MSG_USERSELECT";
    case MSG_DISABLEDS: return "MSG_DISABLEDS";
    case MSG_ENABLEDS: return "MSG_ENABLEDS";
    case MSG_ENABLEDSUIONLY: return "MSG_ENABLEDSUIONLY";
    case MSG_PROCESSEVENT: return "MSG_PROCESSEVENT";
    case MSG_ENDXFER: return "MSG_ENDXFER";
    default: {
        char buf[16];
        std::snprintf(buf, sizeof buf, "MSG_0x%04x", msg);
        return buf;
    }
    }
}

std::string DsmCall::Name() const
{
    std::string prefix;
    switch (dat) {
    case DAT_STATUS: prefix = "STATUS/"; break;
    case DAT_CAPABILITY: prefix = "CAP/"; break;
    case DAT_PENDINGXFERS: prefix = "PENDING/"; break;
    case DAT_IMAGEINFO: prefix = "IMAGEINFO/"; break;
    case DAT_IMAGELAYOUT: prefix = "IMAGELAYOUT/"; break;
    case DAT_IMAGENATIVEXFER: prefix = "NATIVE/"; break;
    case DAT_IMAGEMEMXFER: prefix = "MEMXFER/"; break;
    case DAT_IMAGEFILEXFER: prefix = "FILEXFER/"; break;
    case DAT_SETUPMEMXFER: prefix = "SETUPMEM/"; break;
    case DAT_SETUPFILEXFER: prefix = "SETUPFILE/"; break;
    case DAT_PALETTE8: prefix = "PALETTE8/"; break;
    default: break;
    }
    return prefix + MsgName(msg);
}

std::string ProductNameOf(const TW_IDENTITY &identity)
{
    return std::string(identity.ProductName, strnlen(identity.ProductName, sizeof identity.ProductName));
}

} // namespace testsupport

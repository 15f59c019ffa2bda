// The scriptable test source: DS_Entry, the source's states 4 to 7, its
// capabilities, transfers, dialog and notifications.  What it offers and how
// it behaves comes from its script (sources/testsource/Script.h).

#include "platform/FileAccess.h"
#include "platform/GlobalMemory.h"
#include "sources/testsource/Images.h"
#include "sources/testsource/Script.h"
#include "twain/Twain.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLoggingCategory>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <dlfcn.h>
#include <map>
#include <memory>
#include <optional>

Q_LOGGING_CATEGORY(lcTestSource, "quillora.source.test", QtWarningMsg)

namespace testsource {
namespace {

constexpr TW_UINT16 ICAP_IMAGEFILEFORMAT = 0x110c;

// --- the script ---------------------------------------------------------

// "<this object's file name without .ds>.script" beside it.
QString scriptBeside()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&scriptBeside), &info) == 0 || !info.dli_fname)
        return QString();
    QString path = QFile::decodeName(info.dli_fname);
    if (path.endsWith(QLatin1String(".ds")))
        path.chop(3);
    return path + QStringLiteral(".script");
}

Script readScript()
{
    QString path = scriptBeside();
    if (path.isEmpty() || !QFileInfo::exists(path))
        path = qEnvironmentVariable("QUILLORA_TESTSOURCE_SCRIPT");
    Script script;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray text = file.read(1 << 20);
        script = ParseScript(text.toStdString());
        for (const std::string &p : script.problems)
            qCWarning(lcTestSource).noquote() << path << QString::fromStdString(p);
    }
    if (script.sources.empty())
        script.sources.push_back(DefaultSource());
    return script;
}

Script &script()
{
    static Script s = readScript();
    return s;
}

void fillIdentity(const SourceSpec &spec, TW_IDENTITY &id)
{
    std::memset(&id, 0, sizeof id);
    id.Version.MajorNum = spec.major;
    id.Version.MinorNum = spec.minor;
    id.Version.Language = TWLG_GER;
    id.Version.Country = TWCY_GERMANY;
    std::strncpy(id.Version.Info, spec.versionInfo.c_str(), 33);
    id.ProtocolMajor = spec.twain2 ? TWON_PROTOCOLMAJOR2 : TWON_PROTOCOLMAJOR;
    id.ProtocolMinor = spec.twain2 ? TWON_PROTOCOLMINOR2 : TWON_PROTOCOLMINOR;
    id.SupportedGroups = DG_CONTROL | DG_IMAGE | (spec.twain2 ? DF_DS2 : 0);
    std::strncpy(id.Manufacturer, spec.manufacturer.c_str(), 33);
    std::strncpy(id.ProductFamily, spec.family.c_str(), 33);
    std::strncpy(id.ProductName, spec.name.c_str(), 33);
}

bool sameField(const char (&a)[34], const std::string &b)
{
    return std::string(a, strnlen(a, sizeof a)) == b;
}

// --- memory ---------------------------------------------------------------

TW_ENTRYPOINT g_entry{};
bool g_haveEntry = false;

TW_HANDLE allocate(bool twain2, std::size_t bytes)
{
    if (twain2 && g_haveEntry && g_entry.DSM_MemAllocate) {
        if (bytes > 0xFFFFFFFFu)
            return nullptr;
        return g_entry.DSM_MemAllocate(TW_UINT32(bytes));
    }
    return GlobalAlloc(GHND, bytes);
}

TW_MEMREF lock(bool twain2, TW_HANDLE h)
{
    if (twain2 && g_haveEntry && g_entry.DSM_MemLock)
        return g_entry.DSM_MemLock(h);
    return GlobalLock(h);
}

void unlock(bool twain2, TW_HANDLE h)
{
    if (twain2 && g_haveEntry && g_entry.DSM_MemUnlock)
        g_entry.DSM_MemUnlock(h);
    else
        GlobalUnlock(h);
}

void release(bool twain2, TW_HANDLE h)
{
    if (twain2 && g_haveEntry && g_entry.DSM_MemFree)
        g_entry.DSM_MemFree(h);
    else
        GlobalFree(h);
}

TW_HANDLE handleWith(bool twain2, const Bytes &bytes)
{
    TW_HANDLE h = allocate(twain2, bytes.size());
    if (!h)
        return nullptr;
    void *p = lock(twain2, h);
    if (!p) {
        release(twain2, h);
        return nullptr;
    }
    if (!bytes.empty())
        std::memcpy(p, bytes.data(), bytes.size());
    unlock(twain2, h);
    return h;
}

// --- one open source ------------------------------------------------------

struct Instance {
    SourceSpec spec;
    TW_IDENTITY *self = nullptr; // the manager's record of this source
    TW_IDENTITY *app = nullptr;  // the manager's record of the application
    int state = 4;
    TW_UINT16 condition = TWCC_SUCCESS;
    std::optional<TW_UINT16> event; // reported by the next MSG_PROCESSEVENT
    int page = 0;                   // index of the page being transferred
    int done = 0;                   // pages transferred in this acquisition
    int memRow = 0;                 // next row of a memory transfer
    std::map<TW_UINT16, CapValue> caps;
    std::map<TW_UINT16, CapValue> defaults;
    TW_SETUPFILEXFER fileSetup{};
    TW_IMAGELAYOUT layout{};
    QPointer<QDialog> dialog;
};

std::map<TW_UINT32, std::unique_ptr<Instance>> g_instances; // by the application's Id
TW_UINT16 g_strayCondition = TWCC_SUCCESS;
std::size_t g_listed = 0;
std::vector<QPointer<QDialog>> g_dialogs;

TW_UINT16 pixelTypeOf(PixelKind k)
{
    return k == PixelKind::Rgb ? TWPT_RGB : k == PixelKind::Gray ? TWPT_GRAY : TWPT_BW;
}

TW_UINT32 fix32(double v)
{
    return TW_UINT32(std::lround(v * 65536.0));
}

void initCaps(Instance &s)
{
    const PageSpec &first = s.spec.pages.front();
    auto set = [&](TW_UINT16 cap, TW_UINT16 type, TW_UINT32 value) { s.defaults[cap] = CapValue{type, value}; };
    set(CAP_XFERCOUNT, TWTY_INT16, 0xFFFF);
    set(ICAP_XFERMECH, TWTY_UINT16, s.spec.native ? TWSX_NATIVE : s.spec.memory ? TWSX_MEMORY : TWSX_FILE);
    set(ICAP_PIXELTYPE, TWTY_UINT16, pixelTypeOf(first.kind));
    set(ICAP_BITDEPTH, TWTY_UINT16, TW_UINT32(BitsPerPixel(first.kind)));
    set(ICAP_UNITS, TWTY_UINT16, TWUN_INCHES);
    set(ICAP_PIXELFLAVOR, TWTY_UINT16, TWPF_CHOCOLATE);
    set(ICAP_XRESOLUTION, TWTY_FIX32, fix32(s.spec.resolution));
    set(ICAP_YRESOLUTION, TWTY_FIX32, fix32(s.spec.resolution));
    set(ICAP_COMPRESSION, TWTY_UINT16, 0);
    set(CAP_UICONTROLLABLE, TWTY_BOOL, 1);
    set(CAP_INDICATORS, TWTY_BOOL, 1);
    set(ICAP_PHYSICALWIDTH, TWTY_FIX32, fix32(first.width / s.spec.resolution));
    set(ICAP_PHYSICALHEIGHT, TWTY_FIX32, fix32(first.height / s.spec.resolution));
    set(ICAP_IMAGEFILEFORMAT, TWTY_UINT16, TWFF_BMP);
    for (const auto &[cap, value] : s.spec.caps)
        s.defaults[cap] = value;
    for (TW_UINT16 cap : s.spec.removedCaps)
        s.defaults.erase(cap);
    s.caps = s.defaults;
}

bool mechanismOffered(const SourceSpec &spec, TW_UINT32 mech)
{
    return (mech == TWSX_NATIVE && spec.native) || (mech == TWSX_MEMORY && spec.memory) ||
           (mech == TWSX_FILE && spec.file);
}

int pagesLeft(const Instance &s)
{
    int left = int(s.spec.pages.size()) - s.page;
    const auto count = s.caps.find(CAP_XFERCOUNT);
    if (count != s.caps.end()) {
        const auto limit = static_cast<TW_INT16>(count->second.value);
        if (limit > 0)
            left = std::min(left, int(limit) - s.done);
    }
    return std::max(left, 0);
}

const PageSpec &currentPage(const Instance &s)
{
    return s.spec.pages[std::size_t(std::min<int>(s.page, int(s.spec.pages.size()) - 1))];
}

void closeDialog(Instance &s)
{
    if (s.dialog) {
        s.dialog->hide();
        // Not deleted at once: this may run inside one of its own handlers.
        s.dialog->deleteLater();
    }
    s.dialog = nullptr;
}

// Tells the application: through the manager for a TWAIN 2 source, through
// the next MSG_PROCESSEVENT for a TWAIN 1.x one.
void notify(TW_UINT32 appId, TW_UINT16 msg)
{
    auto it = g_instances.find(appId);
    if (it == g_instances.end())
        return;
    Instance &s = *it->second;
    if (msg == MSG_XFERREADY)
        s.state = 6;
    if (s.spec.twain2 && g_haveEntry && g_entry.DSM_Entry && s.self && s.app) {
        const TW_UINT16 rc = g_entry.DSM_Entry(s.self, s.app, DG_CONTROL, DAT_NULL, msg, nullptr);
        qCDebug(lcTestSource) << "DAT_NULL" << Qt::hex << msg << "to the manager, rc" << rc;
    } else {
        s.event = msg;
    }
}

// The scan itself: after "Scannen" or at once without a dialog.
void scan(TW_UINT32 appId)
{
    auto it = g_instances.find(appId);
    if (it == g_instances.end())
        return;
    Instance &s = *it->second;
    if (const auto fault = s.spec.FaultAt("SCAN")) {
        if (fault->rc == TWRC_CANCEL)
            notify(appId, MSG_CLOSEDSREQ);
        else if (fault->rc == TWRC_FAILURE)
            s.condition = fault->condition;
        else
            notify(appId, MSG_XFERREADY);
        return;
    }
    notify(appId, MSG_XFERREADY);
}

void showDialog(TW_UINT32 appId, Instance &s)
{
    auto *dialog = new QDialog(nullptr, Qt::Window);
    dialog->setObjectName(QStringLiteral("QuilloraTestSourceDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose, false);
    dialog->setWindowTitle(QString::fromStdString(s.spec.name));
    auto *layout = new QVBoxLayout(dialog);
    const int pages = int(s.spec.pages.size());
    layout->addWidget(new QLabel(pages == 1 ? QStringLiteral("Eine Seite liegt bereit.")
                                            : QStringLiteral("%1 Seiten liegen bereit.").arg(pages),
                                 dialog));
    auto *buttons = new QHBoxLayout;
    auto *scanButton = new QPushButton(QStringLiteral("Scannen"), dialog);
    scanButton->setObjectName(QStringLiteral("scan"));
    scanButton->setDefault(true);
    auto *cancelButton = new QPushButton(QStringLiteral("Abbrechen"), dialog);
    cancelButton->setObjectName(QStringLiteral("cancel"));
    buttons->addWidget(scanButton);
    buttons->addWidget(cancelButton);
    layout->addLayout(buttons);
    QObject::connect(scanButton, &QPushButton::clicked, dialog, [appId, dialog]() {
        dialog->hide();
        scan(appId);
    });
    QObject::connect(cancelButton, &QPushButton::clicked, dialog, [appId, dialog]() {
        dialog->hide();
        notify(appId, MSG_CLOSEDSREQ);
    });
    // Closing the window is "Abbrechen".
    QObject::connect(dialog, &QDialog::rejected, dialog, [appId, dialog]() {
        auto it = g_instances.find(appId);
        if (it != g_instances.end() && it->second->dialog == dialog && it->second->state == 5)
            notify(appId, MSG_CLOSEDSREQ);
    });
    s.dialog = dialog;
    g_dialogs.erase(std::remove(g_dialogs.begin(), g_dialogs.end(), nullptr), g_dialogs.end());
    g_dialogs.emplace_back(dialog);
    dialog->show();
}

// --- capabilities -------------------------------------------------------------

TW_UINT16 fail(Instance &s, TW_UINT16 condition)
{
    s.condition = condition;
    return TWRC_FAILURE;
}

Bytes oneValue(const CapValue &v)
{
    TW_ONEVALUE one{};
    one.ItemType = v.itemType;
    one.Item = v.value;
    Bytes b(sizeof one);
    std::memcpy(b.data(), &one, sizeof one);
    return b;
}

TW_UINT16 capability(Instance &s, TW_UINT16 msg, TW_CAPABILITY *cap)
{
    if (!cap)
        return fail(s, TWCC_BADVALUE);
    const auto it = s.caps.find(cap->Cap);
    if (it == s.caps.end())
        return fail(s, TWCC_CAPUNSUPPORTED);
    const bool twain2 = s.spec.twain2;
    Bytes block;
    TW_UINT16 conType = TWON_ONEVALUE;
    switch (msg) {
    case MSG_GET:
        if (cap->Cap == ICAP_XFERMECH) {
            std::vector<TW_UINT16> mechs;
            for (TW_UINT16 m : {TWSX_NATIVE, TWSX_FILE, TWSX_MEMORY}) {
                if (mechanismOffered(s.spec, m))
                    mechs.push_back(m);
            }
            TW_ENUMERATION head{};
            head.ItemType = TWTY_UINT16;
            head.NumItems = TW_UINT32(mechs.size());
            head.CurrentIndex = 0;
            head.DefaultIndex = 0;
            for (std::size_t i = 0; i < mechs.size(); ++i) {
                if (mechs[i] == it->second.value)
                    head.CurrentIndex = TW_UINT32(i);
                if (mechs[i] == s.defaults[ICAP_XFERMECH].value)
                    head.DefaultIndex = TW_UINT32(i);
            }
            block.resize(offsetof(TW_ENUMERATION, ItemList) + 2 * mechs.size());
            std::memcpy(block.data(), &head, offsetof(TW_ENUMERATION, ItemList));
            std::memcpy(block.data() + offsetof(TW_ENUMERATION, ItemList), mechs.data(), 2 * mechs.size());
            conType = TWON_ENUMERATION;
        } else {
            block = oneValue(it->second);
        }
        break;
    case MSG_GETCURRENT:
        block = oneValue(it->second);
        break;
    case MSG_GETDEFAULT:
        block = oneValue(s.defaults[cap->Cap]);
        break;
    case MSG_RESET:
        if (s.state != 4)
            return fail(s, TWCC_SEQERROR);
        it->second = s.defaults[cap->Cap];
        block = oneValue(it->second);
        break;
    case MSG_QUERYSUPPORT:
        block = oneValue(CapValue{TWTY_INT32, 0x1F});
        break;
    case MSG_SET: {
        if (s.state != 4)
            return fail(s, TWCC_SEQERROR);
        if (cap->ConType != TWON_ONEVALUE || !cap->hContainer)
            return fail(s, TWCC_BADVALUE);
        if (GlobalSize(cap->hContainer) < sizeof(TW_ONEVALUE))
            return fail(s, TWCC_BADVALUE);
        const void *p = lock(twain2, cap->hContainer);
        if (!p)
            return fail(s, TWCC_BADVALUE);
        TW_ONEVALUE one{};
        std::memcpy(&one, p, sizeof one);
        unlock(twain2, cap->hContainer);
        if (one.ItemType != it->second.itemType)
            return fail(s, TWCC_BADVALUE);
        TW_UINT32 value = one.Item;
        if (one.ItemType == TWTY_UINT16 || one.ItemType == TWTY_INT16 || one.ItemType == TWTY_BOOL)
            value &= 0xFFFF;
        if (cap->Cap == ICAP_XFERMECH && !mechanismOffered(s.spec, value))
            return fail(s, TWCC_BADVALUE);
        if (cap->Cap == ICAP_IMAGEFILEFORMAT && value != TWFF_BMP && value != TWFF_TIFF)
            return fail(s, TWCC_BADVALUE);
        it->second.value = value;
        return TWRC_SUCCESS;
    }
    default:
        return fail(s, TWCC_CAPBADOPERATION);
    }
    TW_HANDLE h = handleWith(twain2, block);
    if (!h)
        return fail(s, TWCC_LOWMEMORY);
    cap->ConType = conType;
    cap->hContainer = h;
    return TWRC_SUCCESS;
}

// --- transfers ------------------------------------------------------------------

TW_UINT16 mechanismCheck(Instance &s, TW_UINT16 mech)
{
    if (!mechanismOffered(s.spec, mech))
        return fail(s, TWCC_SEQERROR);
    return TWRC_SUCCESS;
}

TW_UINT16 imageInfo(Instance &s, TW_IMAGEINFO *info)
{
    if (s.state != 6 && s.state != 7)
        return fail(s, TWCC_SEQERROR);
    if (!info)
        return fail(s, TWCC_BADVALUE);
    const PageSpec &p = currentPage(s);
    TW_IMAGEINFO i{};
    const TW_UINT32 res = fix32(s.spec.resolution);
    std::memcpy(&i.XResolution, &res, 4);
    std::memcpy(&i.YResolution, &res, 4);
    i.ImageWidth = p.width;
    i.ImageLength = p.height;
    i.SamplesPerPixel = p.kind == PixelKind::Rgb ? 3 : 1;
    for (int k = 0; k < i.SamplesPerPixel; ++k)
        i.BitsPerSample[k] = p.kind == PixelKind::Bw ? 1 : 8;
    i.BitsPerPixel = TW_INT16(BitsPerPixel(p.kind));
    i.Planar = 0;
    i.PixelType = TW_INT16(pixelTypeOf(p.kind));
    i.Compression = 0;
    std::memcpy(info, &i, sizeof i);
    return TWRC_SUCCESS;
}

TW_UINT16 nativeTransfer(Instance &s, TW_HANDLE *out)
{
    if (s.state != 6)
        return fail(s, TWCC_SEQERROR);
    if (!out)
        return fail(s, TWCC_BADVALUE);
    if (mechanismCheck(s, TWSX_NATIVE) != TWRC_SUCCESS)
        return TWRC_FAILURE;
    const PageSpec &p = currentPage(s);
    const Bytes bytes = s.spec.twain2 ? TiffFile(p, s.page, s.spec.resolution, s.spec.tiffTiles, s.spec.tiffBlock)
                                      : PackedDib(p, s.page, s.spec.resolution);
    if (bytes.empty())
        return fail(s, TWCC_BUMMER);
    TW_HANDLE h = handleWith(s.spec.twain2, bytes);
    if (!h)
        return fail(s, TWCC_LOWMEMORY);
    *out = h;
    s.state = 7;
    return TWRC_XFERDONE;
}

TW_UINT16 memoryTransfer(Instance &s, TW_IMAGEMEMXFER *x)
{
    if (s.state != 6 && s.state != 7)
        return fail(s, TWCC_SEQERROR);
    if (!x)
        return fail(s, TWCC_BADVALUE);
    if (mechanismCheck(s, TWSX_MEMORY) != TWRC_SUCCESS)
        return TWRC_FAILURE;
    if (s.state == 7 && s.memRow == 0)
        return fail(s, TWCC_SEQERROR); // the page is done: MSG_ENDXFER first
    const PageSpec &p = currentPage(s);
    const std::size_t stride = PaddedRowBytes(p);
    TW_MEMORY memory{};
    std::memcpy(&memory, &x->Memory, sizeof memory);
    if (memory.Length < stride || !memory.TheMem)
        return fail(s, TWCC_BADVALUE);
    const bool isHandle = (memory.Flags & TWMF_HANDLE) != 0;
    std::uint8_t *dst = static_cast<std::uint8_t *>(isHandle ? lock(s.spec.twain2, memory.TheMem) : memory.TheMem);
    if (!dst)
        return fail(s, TWCC_BADVALUE);
    const int rows = int(std::min<std::size_t>(memory.Length / stride, std::size_t(p.height - s.memRow)));
    for (int r = 0; r < rows; ++r) {
        std::memset(dst + stride * std::size_t(r), 0, stride);
        WriteRow(p, s.page, s.memRow + r, false, dst + stride * std::size_t(r));
    }
    if (isHandle)
        unlock(s.spec.twain2, memory.TheMem);
    TW_IMAGEMEMXFER result{};
    std::memcpy(&result, x, sizeof result);
    result.Compression = 0;
    result.BytesPerRow = TW_UINT32(stride);
    result.Columns = TW_UINT32(p.width);
    result.Rows = TW_UINT32(rows);
    result.XOffset = 0;
    result.YOffset = TW_UINT32(s.memRow);
    result.BytesWritten = TW_UINT32(stride * std::size_t(rows));
    std::memcpy(x, &result, sizeof result);
    s.memRow += rows;
    s.state = 7;
    if (s.memRow >= p.height) {
        s.memRow = 0;
        return TWRC_XFERDONE;
    }
    return TWRC_SUCCESS;
}

QString defaultFileName()
{
    return QDir::tempPath() + QStringLiteral("/quillora-testsource-%1.bmp").arg(QCoreApplication::applicationPid());
}

TW_UINT16 fileTransfer(Instance &s)
{
    if (s.state != 6)
        return fail(s, TWCC_SEQERROR);
    if (mechanismCheck(s, TWSX_FILE) != TWRC_SUCCESS)
        return TWRC_FAILURE;
    const PageSpec &p = currentPage(s);
    // The name is bytes, as the application gave it.
    const QByteArray name = s.fileSetup.FileName[0]
                                ? QByteArray(s.fileSetup.FileName, qsizetype(strnlen(s.fileSetup.FileName, 255)))
                                : QFile::encodeName(defaultFileName());
    const Bytes bytes = s.fileSetup.Format == TWFF_TIFF
                            ? TiffFile(p, s.page, s.spec.resolution, s.spec.tiffTiles, s.spec.tiffBlock)
                            : BmpFile(p, s.page, s.spec.resolution);
    if (bytes.empty())
        return fail(s, TWCC_BUMMER);
    try {
        platform::AtomicFile file(name);
        file.Write(bytes.data(), bytes.size());
        file.Commit();
    } catch (const platform::FileAccessError &) {
        return fail(s, TWCC_DENIED);
    }
    s.state = 7;
    return TWRC_XFERDONE;
}

TW_UINT16 pending(Instance &s, TW_UINT16 msg, TW_PENDINGXFERS *data)
{
    if (!data)
        return fail(s, TWCC_BADVALUE);
    TW_PENDINGXFERS out{};
    switch (msg) {
    case MSG_GET:
        out.Count = TW_UINT16(s.state >= 5 ? pagesLeft(s) : 0);
        break;
    case MSG_ENDXFER:
        if (s.state == 7 || s.state == 6) {
            if (s.state == 7)
                ++s.done;
            ++s.page;
            s.memRow = 0;
            out.Count = TW_UINT16(pagesLeft(s));
            s.state = out.Count > 0 ? 6 : 5;
        } else if (s.state == 5) {
            out.Count = 0; // after a cancelled transfer
        } else {
            return fail(s, TWCC_SEQERROR);
        }
        break;
    case MSG_RESET:
        if (s.state != 6 && s.state != 5)
            return fail(s, TWCC_SEQERROR);
        s.page = int(s.spec.pages.size());
        s.state = 5;
        out.Count = 0;
        break;
    default:
        return fail(s, TWCC_BADPROTOCOL);
    }
    std::memcpy(data, &out, sizeof out);
    return TWRC_SUCCESS;
}

// --- entry -----------------------------------------------------------------------

const char *stepOf(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg)
{
    if (dg == DG_CONTROL) {
        switch (dat) {
        case DAT_USERINTERFACE:
            return msg == MSG_ENABLEDS ? "ENABLEDS" : msg == MSG_DISABLEDS ? "DISABLEDS" : "USERINTERFACE";
        case DAT_EVENT:
            return "PROCESSEVENT";
        case DAT_CAPABILITY:
            return "CAPABILITY";
        case DAT_SETUPMEMXFER:
            return "SETUPMEMXFER";
        case DAT_SETUPFILEXFER:
            return "SETUPFILEXFER";
        case DAT_PENDINGXFERS:
            return msg == MSG_ENDXFER ? "ENDXFER" : msg == MSG_RESET ? "RESET" : "PENDINGXFERS";
        case DAT_STATUS:
            return "STATUS";
        default:
            return "";
        }
    }
    switch (dat) {
    case DAT_IMAGEINFO:
        return "IMAGEINFO";
    case DAT_IMAGELAYOUT:
        return "IMAGELAYOUT";
    case DAT_IMAGENATIVEXFER:
        return "IMAGENATIVEXFER";
    case DAT_IMAGEMEMXFER:
        return "IMAGEMEMXFER";
    case DAT_IMAGEFILEXFER:
        return "IMAGEFILEXFER";
    default:
        return "";
    }
}

TW_UINT16 identityCall(pTW_IDENTITY origin, TW_UINT16 msg, TW_MEMREF data)
{
    auto *id = static_cast<TW_IDENTITY *>(data);
    if (!id)
        return TWRC_FAILURE;
    Script &sc = script();
    switch (msg) {
    case MSG_GETFIRST:
        sc = readScript();
        g_listed = 0;
        [[fallthrough]];
    case MSG_GETNEXT:
        if (g_listed >= sc.sources.size())
            return TWRC_ENDOFLIST;
        fillIdentity(sc.sources[g_listed++], *id);
        return TWRC_SUCCESS;
    case MSG_GET:
        fillIdentity(sc.sources.front(), *id);
        return TWRC_SUCCESS;
    case MSG_OPENDS: {
        if (!origin)
            return TWRC_FAILURE;
        const SourceSpec *spec = nullptr;
        for (const SourceSpec &s : sc.sources) {
            if (sameField(id->ProductName, s.name) && sameField(id->Manufacturer, s.manufacturer) &&
                sameField(id->ProductFamily, s.family)) {
                spec = &s;
                break;
            }
        }
        if (!spec) {
            g_strayCondition = TWCC_NODS;
            return TWRC_FAILURE;
        }
        if (const auto fault = spec->FaultAt("OPENDS"); fault && fault->rc != TWRC_CHECKSTATUS) {
            g_strayCondition = fault->condition;
            return fault->rc;
        }
        bool busy = g_instances.count(origin->Id) > 0;
        for (const auto &[appId, inst] : g_instances)
            busy = busy || inst->spec.name == spec->name;
        if (busy) {
            g_strayCondition = TWCC_MAXCONNECTIONS;
            return TWRC_FAILURE;
        }
        auto s = std::make_unique<Instance>();
        s->spec = *spec;
        s->self = id;
        s->app = origin;
        initCaps(*s);
        qCDebug(lcTestSource) << "opened" << QString::fromStdString(spec->name) << "for application" << origin->Id;
        g_instances[origin->Id] = std::move(s);
        const auto fault = spec->FaultAt("OPENDS");
        return fault ? TWRC_CHECKSTATUS : TWRC_SUCCESS;
    }
    case MSG_CLOSEDS: {
        if (!origin)
            return TWRC_FAILURE;
        auto it = g_instances.find(origin->Id);
        if (it == g_instances.end()) {
            g_strayCondition = TWCC_SEQERROR;
            return TWRC_FAILURE;
        }
        Instance &s = *it->second;
        if (const auto fault = s.spec.FaultAt("CLOSEDS"))
            return fault->rc == TWRC_FAILURE ? fail(s, fault->condition) : fault->rc;
        if (s.state != 4)
            return fail(s, TWCC_SEQERROR);
        closeDialog(s);
        g_instances.erase(it);
        return TWRC_SUCCESS;
    }
    default:
        return TWRC_FAILURE;
    }
}

TW_UINT16 call(Instance &s, TW_UINT32 appId, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    if (dg == DG_CONTROL) {
        switch (dat) {
        case DAT_STATUS: {
            if (msg != MSG_GET || !data)
                return fail(s, TWCC_BADPROTOCOL);
            TW_STATUS status{};
            status.ConditionCode = std::exchange(s.condition, TWCC_SUCCESS);
            std::memcpy(data, &status, sizeof status);
            return TWRC_SUCCESS;
        }
        case DAT_USERINTERFACE: {
            if (msg == MSG_ENABLEDS) {
                if (s.state != 4)
                    return fail(s, TWCC_SEQERROR);
                if (!data)
                    return fail(s, TWCC_BADVALUE);
                TW_USERINTERFACE ui{};
                std::memcpy(&ui, data, sizeof ui);
                s.state = 5;
                s.page = 0;
                s.done = 0;
                s.memRow = 0;
                s.event.reset();
                // A dialog needs a widget application; without one (a
                // console program) the source scans as without a dialog.
                const bool canShow = qobject_cast<QApplication *>(QCoreApplication::instance()) != nullptr;
                if ((ui.ShowUI == 1 || ui.ShowUI == 0xFFFF) && canShow)
                    showDialog(appId, s);
                else
                    scan(appId); // may notify from inside this call
                return TWRC_SUCCESS;
            }
            if (msg == MSG_DISABLEDS) {
                if (s.state < 5)
                    return fail(s, TWCC_SEQERROR);
                closeDialog(s);
                s.state = 4;
                s.event.reset();
                return TWRC_SUCCESS;
            }
            return fail(s, TWCC_BADPROTOCOL);
        }
        case DAT_EVENT: {
            if (msg != MSG_PROCESSEVENT || !data)
                return fail(s, TWCC_BADPROTOCOL);
            if (s.state < 5 || !s.event)
                return TWRC_NOTDSEVENT;
            TW_EVENT event{};
            std::memcpy(&event, data, sizeof event);
            event.TWMessage = *s.event;
            s.event.reset();
            std::memcpy(data, &event, sizeof event);
            return TWRC_DSEVENT;
        }
        case DAT_CAPABILITY:
            return capability(s, msg, static_cast<TW_CAPABILITY *>(data));
        case DAT_SETUPMEMXFER: {
            if (msg != MSG_GET || !data)
                return fail(s, TWCC_BADPROTOCOL);
            const std::size_t row = PaddedRowBytes(currentPage(s));
            TW_SETUPMEMXFER setup{};
            setup.MinBufSize = TW_UINT32(row);
            setup.MaxBufSize = TW_UINT32(std::max<std::size_t>(row, std::max<TW_UINT32>(s.spec.buffer, 1) * 4));
            setup.Preferred = TW_UINT32(std::max<std::size_t>(row, s.spec.buffer));
            std::memcpy(data, &setup, sizeof setup);
            return TWRC_SUCCESS;
        }
        case DAT_SETUPFILEXFER: {
            if (!data)
                return fail(s, TWCC_BADVALUE);
            if (msg == MSG_GET || msg == MSG_GETDEFAULT) {
                TW_SETUPFILEXFER out = s.fileSetup;
                if (msg == MSG_GETDEFAULT || !out.FileName[0]) {
                    const QByteArray name = QFile::encodeName(defaultFileName()).left(255);
                    std::memset(out.FileName, 0, sizeof out.FileName);
                    std::memcpy(out.FileName, name.constData(), std::size_t(name.size()));
                    if (msg == MSG_GETDEFAULT)
                        out.Format = TWFF_BMP;
                }
                std::memcpy(data, &out, sizeof out);
                return TWRC_SUCCESS;
            }
            if (msg == MSG_SET) {
                if (s.state != 4 && s.state != 5 && s.state != 6)
                    return fail(s, TWCC_SEQERROR);
                TW_SETUPFILEXFER in{};
                std::memcpy(&in, data, sizeof in);
                if (in.Format != TWFF_BMP && in.Format != TWFF_TIFF)
                    return fail(s, TWCC_BADVALUE);
                in.FileName[255] = 0;
                s.fileSetup = in;
                return TWRC_SUCCESS;
            }
            return fail(s, TWCC_BADPROTOCOL);
        }
        case DAT_PENDINGXFERS:
            return pending(s, msg, static_cast<TW_PENDINGXFERS *>(data));
        default:
            return fail(s, TWCC_BADPROTOCOL);
        }
    }
    if (dg == DG_IMAGE) {
        switch (dat) {
        case DAT_IMAGEINFO:
            if (msg != MSG_GET)
                return fail(s, TWCC_BADPROTOCOL);
            return imageInfo(s, static_cast<TW_IMAGEINFO *>(data));
        case DAT_IMAGELAYOUT:
            if (!data)
                return fail(s, TWCC_BADVALUE);
            if (msg == MSG_SET) {
                if (s.state != 4)
                    return fail(s, TWCC_SEQERROR);
                std::memcpy(&s.layout, data, sizeof s.layout);
                return TWRC_SUCCESS;
            }
            if (msg == MSG_GET || msg == MSG_GETCURRENT || msg == MSG_GETDEFAULT || msg == MSG_RESET) {
                std::memcpy(data, &s.layout, sizeof s.layout);
                return TWRC_SUCCESS;
            }
            return fail(s, TWCC_BADPROTOCOL);
        case DAT_IMAGENATIVEXFER:
            if (msg != MSG_GET)
                return fail(s, TWCC_BADPROTOCOL);
            return nativeTransfer(s, static_cast<TW_HANDLE *>(data));
        case DAT_IMAGEMEMXFER:
            if (msg != MSG_GET)
                return fail(s, TWCC_BADPROTOCOL);
            return memoryTransfer(s, static_cast<TW_IMAGEMEMXFER *>(data));
        case DAT_IMAGEFILEXFER:
            if (msg != MSG_GET)
                return fail(s, TWCC_BADPROTOCOL);
            return fileTransfer(s);
        default:
            return fail(s, TWCC_BADPROTOCOL);
        }
    }
    return fail(s, TWCC_BADPROTOCOL);
}

bool isTransferStep(const std::string &step)
{
    return step == "IMAGENATIVEXFER" || step == "IMAGEMEMXFER" || step == "IMAGEFILEXFER";
}

TW_UINT16 entry(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    if (dg == DG_CONTROL && dat == DAT_IDENTITY)
        return identityCall(origin, msg, data);
    if (dg == DG_CONTROL && dat == DAT_ENTRYPOINT) {
        if (msg != MSG_SET || !data)
            return TWRC_FAILURE;
        TW_ENTRYPOINT e{};
        std::memcpy(&e, data, sizeof e);
        if (e.Size < sizeof(TW_ENTRYPOINT))
            return TWRC_FAILURE;
        g_entry = e;
        g_haveEntry = true;
        return TWRC_SUCCESS;
    }
    if (!origin)
        return TWRC_FAILURE;
    auto it = g_instances.find(origin->Id);
    if (it == g_instances.end()) {
        if (dg == DG_CONTROL && dat == DAT_STATUS && msg == MSG_GET && data) {
            TW_STATUS status{};
            status.ConditionCode = std::exchange(g_strayCondition, TWCC_SUCCESS);
            std::memcpy(data, &status, sizeof status);
            return TWRC_SUCCESS;
        }
        g_strayCondition = TWCC_SEQERROR;
        return TWRC_FAILURE;
    }
    const TW_UINT32 appId = origin->Id;
    Instance &s = *it->second;
    const std::string step = stepOf(dg, dat, msg);
    const int page = isTransferStep(step) ? s.page + 1 : 0;
    const std::optional<Fault> fault = step.empty() ? std::nullopt : s.spec.FaultAt(step, page);
    if (fault && fault->rc == TWRC_FAILURE)
        return fail(s, fault->condition);
    if (fault && fault->rc == TWRC_CANCEL) {
        if (isTransferStep(step) && (s.state == 6 || s.state == 7)) {
            // The page is given up, and with it the acquisition.
            s.page = int(s.spec.pages.size());
            s.memRow = 0;
            s.state = 5;
        }
        return TWRC_CANCEL;
    }
    TW_UINT16 rc = call(s, appId, dg, dat, msg, data);
    if (fault && fault->rc == TWRC_CHECKSTATUS && (rc == TWRC_SUCCESS || rc == TWRC_XFERDONE))
        rc = TWRC_CHECKSTATUS;
    return rc;
}

// Dialogs still open when the object is unloaded go with it.
struct DialogsAtUnload {
    ~DialogsAtUnload()
    {
        if (!QCoreApplication::instance())
            return;
        for (QPointer<QDialog> &d : g_dialogs)
            delete d.data();
        g_dialogs.clear();
    }
} g_dialogsAtUnload;

} // namespace
} // namespace testsource

extern "C" __attribute__((visibility("default"))) TW_UINT16 DS_Entry(pTW_IDENTITY pOrigin, TW_UINT32 DG,
                                                                     TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData)
{
    const TW_UINT16 rc = testsource::entry(pOrigin, DG, DAT, MSG, pData);
    qCDebug(lcTestSource) << "DS_Entry origin" << (pOrigin ? qint64(pOrigin->Id) : -1) << "DG" << DG
                                      << "DAT" << Qt::hex << DAT << "MSG" << MSG << Qt::dec << "rc" << rc;
    return rc;
}

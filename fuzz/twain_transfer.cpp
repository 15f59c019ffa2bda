// A hostile data source: every answer of the transfer triplets comes from
// the fuzzer's bytes (image information, buffer sizes, strips and the bytes
// they claim, native DIB headers, colour tables and block sizes, palettes,
// capability containers, file names), and the component must neither read
// nor write outside what it owns, leak, or hang.
#include "support/FixedDirectories.h"
#include "support/ManualTimerService.h"
#include "platform/Bitmaps.h"
#include "platform/Directories.h"
#include "platform/GlobalMemory.h"
#include "platform/Messages.h"
#include "twain/OstraTwainGui.h"

#include <QDir>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

class Input {
public:
    Input(const uint8_t *data, size_t size) : p_(data), end_(data + size) {}
    uint8_t u8() { return p_ < end_ ? *p_++ : 0; }
    uint16_t u16() { return uint16_t(u8() | u8() << 8); }
    uint32_t u32() { return uint32_t(u16()) | uint32_t(u16()) << 16; }
    size_t left() const { return size_t(end_ - p_); }
    void bytes(void *out, size_t n)
    {
        auto *o = static_cast<uint8_t *>(out);
        for (size_t i = 0; i < n; ++i)
            o[i] = u8();
    }

private:
    const uint8_t *p_;
    const uint8_t *end_;
};

Input *g_in = nullptr;
int g_calls = 0;
bool g_eventSent = false;

HGLOBAL blockWith(const std::vector<uint8_t> &bytes, size_t blockSize)
{
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, blockSize);
    if (!h)
        return nullptr;
    auto *p = static_cast<uint8_t *>(GlobalLock(h));
    std::memcpy(p, bytes.data(), std::min(bytes.size(), blockSize));
    GlobalUnlock(h);
    return h;
}

// A packed DIB: a plausible header with fuzzed fields, then fuzzed bytes,
// in a block of fuzzed size.
HGLOBAL nativeDib(Input &in)
{
    static const DWORD kHeaderSizes[] = {12, 40, 52, 56, 108, 124, 0, 13, 200};
    static const WORD kBits[] = {1, 4, 8, 16, 24, 32, 0, 2, 7, 64};
    const uint8_t shape = in.u8();
    const DWORD headerSize = kHeaderSizes[shape % 9];
    // The header first, then the fuzzed bytes after it; the block is made
    // once, at its final size.
    std::array<uint8_t, 201> head{};
    const size_t headLength = std::max<DWORD>(headerSize, 40) + 1;
    static_assert(sizeof head >= 200 + 1, "room for the largest header size");
    std::memcpy(head.data(), &headerSize, 4);
    if (headerSize == 12) {
        BITMAPCOREHEADER c{12, WORD(in.u8() % 64), WORD(in.u8() % 64), 1, kBits[in.u8() % 10]};
        std::memcpy(head.data(), &c, 12);
    } else {
        BITMAPINFOHEADER h{};
        h.biSize = headerSize;
        h.biWidth = (shape & 0x80) ? LONG(in.u32()) : LONG(in.u8() % 64) - 2;
        h.biHeight = (shape & 0x40) ? LONG(in.u32()) : LONG(int8_t(in.u8()) % 64);
        h.biPlanes = 1;
        h.biBitCount = kBits[in.u8() % 10];
        h.biCompression = in.u8() % 5;
        h.biClrUsed = (shape & 0x20) ? in.u32() : in.u8() % 20;
        std::memcpy(head.data(), &h, 40);
    }
    const size_t extra = in.u16() % 8192;
    std::vector<uint8_t> dib(headLength + extra, 0);
    std::memcpy(dib.data(), head.data(), headLength);
    in.bytes(dib.data() + headLength, std::min(extra, in.left()));
    const size_t blockSize = (in.u8() & 1) ? dib.size() : in.u16() % (dib.size() + 64);
    return blockWith(dib, blockSize);
}

HGLOBAL enumeration16(Input &in)
{
    const uint32_t n = in.u8() % 4;
    std::vector<uint8_t> block(14 + 2 * n, 0);
    const uint16_t type = (in.u8() & 7) ? TWTY_UINT16 : in.u8();
    std::memcpy(block.data(), &type, 2);
    std::memcpy(block.data() + 2, &n, 4);
    const uint32_t cur = in.u8() % 6;
    const uint32_t def = in.u8() % 6;
    std::memcpy(block.data() + 6, &cur, 4);
    std::memcpy(block.data() + 10, &def, 4);
    for (uint32_t i = 0; i < n; ++i) {
        const uint16_t v = in.u8() % 8;
        std::memcpy(block.data() + 14 + 2 * i, &v, 2);
    }
    return blockWith(block, block.size());
}

TW_UINT16 hostile(pTW_IDENTITY, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    Input &in = *g_in;
    if (++g_calls > 400)
        return TWRC_FAILURE; // a source that never ends is its own problem; stop feeding it
    if (dg == DG_CONTROL) {
        switch (dat) {
        case DAT_PARENT:
            return TWRC_SUCCESS;
        case DAT_IDENTITY:
            if (msg == MSG_GETFIRST) {
                auto *id = static_cast<TW_IDENTITY *>(data);
                id->Id = 1;
                std::strcpy(id->ProductName, "Hostile");
                return TWRC_SUCCESS;
            }
            if (msg == MSG_GETNEXT)
                return TWRC_ENDOFLIST;
            return TWRC_SUCCESS; // open, close
        case DAT_USERINTERFACE:
            return TWRC_SUCCESS;
        case DAT_EVENT:
            if (!g_eventSent) {
                g_eventSent = true;
                static_cast<TW_EVENT *>(data)->TWMessage = MSG_XFERREADY;
                return TWRC_DSEVENT;
            }
            return TWRC_NOTDSEVENT;
        case DAT_STATUS:
            static_cast<TW_STATUS *>(data)->ConditionCode = in.u8();
            return TWRC_SUCCESS;
        case DAT_PENDINGXFERS:
            static_cast<TW_PENDINGXFERS *>(data)->Count = in.u8() % 3;
            return in.u8() % 8 ? TWRC_SUCCESS : TWRC_FAILURE;
        case DAT_SETUPMEMXFER: {
            auto *s = static_cast<TW_SETUPMEMXFER *>(data);
            const uint8_t kind = in.u8();
            s->Preferred = kind % 16 == 0 ? in.u32() : (kind % 4 == 0 ? 0 : in.u16() % 4096 + 1);
            return kind % 32 == 1 ? TWRC_FAILURE : TWRC_SUCCESS;
        }
        case DAT_SETUPFILEXFER: {
            auto *f = static_cast<TW_SETUPFILEXFER *>(data);
            if (msg == MSG_GET) {
                for (char &c : f->FileName)
                    c = char(in.u8() | 1); // no terminating zero at all
                f->Format = in.u16();
            }
            return TWRC_SUCCESS;
        }
        case DAT_CAPABILITY: {
            auto *cap = static_cast<TW_CAPABILITY *>(data);
            if (in.u8() & 1)
                return TWRC_FAILURE;
            cap->ConType = (in.u8() & 7) ? TWON_ENUMERATION : TWON_ONEVALUE;
            cap->hContainer = enumeration16(in);
            return TWRC_SUCCESS;
        }
        default:
            return TWRC_FAILURE;
        }
    }
    if (dg == DG_IMAGE) {
        switch (dat) {
        case DAT_IMAGENATIVEXFER: {
            const uint8_t rc = in.u8() % 8;
            if (rc == 1)
                return TWRC_FAILURE;
            if (rc == 2)
                return TWRC_CANCEL;
            *static_cast<TW_HANDLE *>(data) = nativeDib(in);
            return TWRC_XFERDONE;
        }
        case DAT_IMAGEINFO: {
            auto *info = static_cast<TW_IMAGEINFO *>(data);
            const uint8_t kind = in.u8();
            info->ImageWidth = kind & 1 ? TW_INT32(in.u32()) : TW_INT32(in.u8() % 48) - 1;
            info->ImageLength = kind & 2 ? TW_INT32(in.u32()) : TW_INT32(in.u8() % 48) - 1;
            static const TW_INT16 kBits[] = {1, 4, 8, 16, 24, 32, 0, -8, 7, 48};
            info->BitsPerPixel = kind & 4 ? TW_INT16(in.u16()) : kBits[in.u8() % 10];
            info->PixelType = TW_INT16(in.u8() % 14);
            info->XResolution.Whole = TW_INT16(in.u16());
            info->XResolution.Frac = in.u16();
            info->YResolution = info->XResolution;
            return in.u8() % 16 ? TWRC_SUCCESS : TWRC_FAILURE;
        }
        case DAT_PALETTE8: {
            auto *p = static_cast<TW_PALETTE8 *>(data);
            p->NumColors = in.u16();
            in.bytes(p->Colors, std::min<size_t>(sizeof p->Colors, in.u16() % 1025));
            return in.u8() & 1 ? TWRC_SUCCESS : TWRC_FAILURE;
        }
        case DAT_IMAGEMEMXFER: {
            auto *x = static_cast<TW_IMAGEMEMXFER *>(data);
            const uint8_t kind = in.u8();
            const uint32_t length = x->Memory.Length; // packed record: read by value
            const uint32_t n = std::min<uint32_t>(length, in.u16());
            if (x->Memory.TheMem)
                in.bytes(x->Memory.TheMem, std::min<size_t>(n, in.left()));
            // The count claimed may be anything, also more than the buffer.
            x->BytesWritten = kind % 8 == 0 ? in.u32() : n;
            switch (kind % 16) {
            case 1:
                return TWRC_FAILURE;
            case 2:
                return TWRC_CANCEL;
            case 3:
            case 4:
            case 5:
                return TWRC_XFERDONE;
            default:
                return in.left() ? TWRC_SUCCESS : TWRC_XFERDONE;
            }
        }
        case DAT_IMAGEFILEXFER:
            return in.u8() % 4 ? TWRC_XFERDONE : TWRC_FAILURE;
        default:
            return TWRC_FAILURE;
        }
    }
    (void)dest;
    return TWRC_FAILURE;
}

class HostileTwain : public TOstraTwain {
public:
    bool Attach()
    {
        fTwainProc = &hostile;
        fLibraryLoaded = true;
        return LoadSourceManager();
    }
};

void setUpOnce()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    // The message timer runs on a clock nobody advances.
    static testing_support::ManualTimerService clock;
    // The rebuild after a transfer looks for the manager's library again; make
    // sure it finds none.
    const QString nowhere = QDir::tempPath() + QStringLiteral("/quillora-fuzz-no-dsm/");
    static testing_support::FixedDirectories dirs;
    for (auto kind : {platform::DirectoryKind::Windows, platform::DirectoryKind::System,
                      platform::DirectoryKind::Current, platform::DirectoryKind::Application,
                      platform::DirectoryKind::Temp})
        dirs.Set(kind, nowhere);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    setUpOnce();
    Input in(data, size);
    g_in = &in;
    g_calls = 0;
    g_eventSent = false;
    const std::size_t bitmapsBefore = platform::LiveBitmapCount();
    const long blocksBefore = platform::GlobalLiveBlocks();
    {
        HostileTwain tw;
        if (!tw.Attach())
            __builtin_trap();
        const uint8_t mode = in.u8() % 3;
        const bool cancel = in.u8() & 1;
        std::vector<uint8_t> sink;
        tw.OnTwainAcquire() = [&](TObject *, std::int32_t, platform::Bitmap *image, bool &c) {
            // Touch every pixel the bitmap claims to have (a hostile source
            // may make very large ones; reading those only costs time).
            BITMAP bm;
            if (!GetObject(image->Handle(), &bm) || std::size_t(bm.bmWidthBytes) * std::size_t(bm.bmHeight) > (8u << 20))
                return;
            if (bm.bmBits) {
                const auto *p = static_cast<const uint8_t *>(bm.bmBits);
                sink.assign(p, p + std::size_t(bm.bmWidthBytes) * std::size_t(bm.bmHeight));
            }
            const QImage img = image->ToImage();
            if (!img.isNull())
                sink.push_back(uint8_t(img.pixel(img.width() - 1, img.height() - 1)));
            c = cancel;
        };
        tw.OnSourceFileTransfer() = [&](TObject *, std::int32_t, TW_STR255 &name, TTwainFormat, bool &) {
            sink.push_back(uint8_t(std::strlen(name)));
        };
        TTwainSource *s = tw.Source(0);
        if (!s)
            __builtin_trap();
        s->SetTransferMode(TTwainTransferMode(mode));
        s->SetLoaded(true);
        s->SetEnabled(true);
        platform::TMessage m{WM_USER, 0, 0, 0};
        tw.WndFunc(m);
    }
    // Every bitmap and every block the transfer made is gone again.
    if (platform::LiveBitmapCount() != bitmapsBefore || platform::GlobalLiveBlocks() != blocksBefore)
        __builtin_trap();
    return 0;
}

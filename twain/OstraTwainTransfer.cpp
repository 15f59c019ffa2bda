// The image-transfer side of TTwainSource and its share of the message
// routing: the transfer loop with the pending-transfers handshake, native,
// memory and file transfers, and ProcessMessage.
//
// Everything a source hands over is treated as untrusted: a native DIB is
// checked against its memory block before a pixel is read, a strip is never
// read beyond the buffer we lent the source, and nothing is written outside
// the bitmap being filled.

#include "platform/Bitmaps.h"
#include "platform/GlobalMemory.h"
#include "twain/NativeTiff.h"
#include "twain/OstraTwain.h"

#include <algorithm>
#include <cstdint>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>


namespace {

DWORD readDword(const void *p)
{
    DWORD v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

WORD readWord(const void *p)
{
    WORD v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Pixels per metre from a resolution in dots per inch or per centimetre,
// truncated; 0 when it does not fit.
LONG pelsPerMeter(Extended perMeter)
{
    if (!std::isfinite(static_cast<double>(perMeter)))
        return 0;
    const Extended t = std::trunc(perMeter);
    if (t > std::numeric_limits<LONG>::max() || t < std::numeric_limits<LONG>::min())
        return 0;
    return static_cast<LONG>(t);
}

// Unlocks and frees a native DIB handle on every way out.
struct NativeHandleGuard {
    HGLOBAL handle;
    ~NativeHandleGuard()
    {
        if (handle) {
            GlobalUnlock(handle);
            GlobalFree(handle);
        }
    }
};

// Largest strip buffer we lend a source.
constexpr TW_UINT32 kMaxStripBuffer = static_cast<TW_UINT32>(platform::kMaxBitmapBytes);

} // namespace

TW_UINT16 DibNumColors(const void *dib)
{
    WORD bitCount;
    if (readDword(dib) == sizeof(BITMAPCOREHEADER)) {
        bitCount = readWord(static_cast<const BYTE *>(dib) + offsetof(BITMAPCOREHEADER, bcBitCount));
    } else {
        const DWORD clrUsed = readDword(static_cast<const BYTE *>(dib) + offsetof(BITMAPINFOHEADER, biClrUsed));
        if (clrUsed != 0)
            return static_cast<TW_UINT16>(clrUsed & 0xFFFF);
        bitCount = readWord(static_cast<const BYTE *>(dib) + offsetof(BITMAPINFOHEADER, biBitCount));
    }
    switch (bitCount) {
    case 1:
        return 2;
    case 4:
        return 16;
    case 8:
        return 256;
    default:
        return 0;
    }
}

TTwainFormat TwainToTTwainFormat(TW_UINT16 Value)
{
    return Value <= TWFF_EXIF ? static_cast<TTwainFormat>(Value) : tfUnknown;
}

void TTwainSource::TransferImages()
{
    bool Cancel = false;
    bool Done = false;
    TW_UINT16 rc = TWRC_FAILURE;
    HGLOBAL hNative = nullptr;
    TW_PENDINGXFERS PendingXfers{};
    TW_SETUPFILEXFER Info{};
    HBITMAP ImageHandle = nullptr;
    TW_INT16 PixelType = 0;
    TCustomOstraTwain *const owner = fOwner;

    do {
        switch (fTransferMode) {
        case ttmNative:
            hNative = nullptr;
            rc = CallSource(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &hNative);
            break;
        case ttmFile:
            if (owner->fOnSourceSetupFileXfer)
                owner->fOnSourceSetupFileXfer(owner, fIndex);
            CallSource(DG_CONTROL, DAT_SETUPFILEXFER, MSG_GET, &Info);
            rc = CallSource(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr);
            break;
        case ttmMemory:
            ImageHandle = nullptr;
            rc = PrepareMemXfer(ImageHandle, PixelType);
            if (rc == TWRC_SUCCESS)
                rc = TransferImageMemory(ImageHandle, PixelType);
            break;
        }

        if (rc == TWRC_XFERDONE) {
            switch (fTransferMode) {
            case ttmNative:
                if (!ReadNative(hNative, Cancel))
                    rc = TWRC_FAILURE; // the DIB was damaged: report it like a failed transfer
                break;
            case ttmFile:
                ReadFile(Info.FileName, Info.Format, Cancel);
                break;
            case ttmMemory:
                ReadMemory(ImageHandle, Cancel);
                break;
            }
        }

        if (rc == TWRC_XFERDONE) {
            // delivered
        } else if (rc == TWRC_CANCEL) {
            Done = true;
            Cancel = true;
            if (owner->fOnAcquireCancel)
                owner->fOnAcquireCancel(owner, fIndex);
        } else {
            if (owner->fOnAcquireError)
                owner->fOnAcquireError(owner, fIndex, rc, GetReturnStatus());
        }

        if (!Done) {
            const TW_UINT16 r = CallSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &PendingXfers);
            Done = r != TWRC_SUCCESS || PendingXfers.Count == 0;
        }
        if (Cancel && !Done) {
            const TW_UINT16 r = CallSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &PendingXfers);
            Done = r == TWRC_SUCCESS;
        }
    } while (!Done);

    // Memory kept for the next page of this acquisition goes back now.
    platform::ReleaseKeptBlocks();
    SetEnabled(false);
    const std::int32_t index = fIndex;
    if (owner->fOnTransferComplete)
        owner->fOnTransferComplete(owner, index, Cancel);
    // Frees every source, this one included: nothing of it is touched after.
    owner->RefreshVirtualWindow();
}

bool TTwainSource::ReadNative(HGLOBAL hNative, bool &Cancel)
{
    NativeHandleGuard guard{hNative};
    const void *dib = hNative ? GlobalLock(hNative) : nullptr;
    if (!dib)
        return false;
    const std::size_t size = GlobalSize(hNative);
    if (IsTiffFile(dib, size)) {
        // A TWAIN 2 source on Linux: a TIFF file instead of a DIB.
        const std::vector<std::uint8_t> converted = TiffToPackedDib(dib, size);
        GlobalUnlock(hNative);
        GlobalFree(hNative);
        guard.handle = nullptr;
        if (converted.empty())
            return false;
        HBITMAP bitmap = CreateBitmapFromPackedDib(converted.data(), converted.size());
        fOwner->DoTwainAcquire(fOwner, fIndex, bitmap, Cancel);
        return true;
    }
    platform::PackedDibLayout layout;
    const platform::DibCheck check = platform::InspectPackedDib(dib, size, &layout);
    if (check == platform::DibCheck::Truncated || check == platform::DibCheck::BadHeader)
        return false;
    // A DIB of a format we cannot convert gives a null bitmap, as a failed
    // conversion does.
    HBITMAP bitmap = check == platform::DibCheck::Ok ? CreateBitmapFromPackedDib(dib, size) : nullptr;
    // Converted once and freed at once: a large page is not held twice while
    // the application works on it.
    GlobalUnlock(hNative);
    GlobalFree(hNative);
    guard.handle = nullptr;
    fOwner->DoTwainAcquire(fOwner, fIndex, bitmap, Cancel);
    return true;
}

TW_UINT16 TTwainSource::PrepareMemXfer(HBITMAP &BitmapHandle, TW_INT16 &PixelType)
{
    TW_IMAGEINFO info{};
    const TW_UINT16 rc = CallSource(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info);
    if (rc != TWRC_SUCCESS)
        return rc;

    const std::int64_t lineLength = ((std::int64_t(info.BitsPerPixel) * info.ImageWidth + 31) / 32) * 4;
    std::int64_t size = 0;
    // An image whose size does not even fit the arithmetic cannot be built.
    const bool sizeOverflows = __builtin_mul_overflow(lineLength, std::int64_t(info.ImageLength), &size) ||
                               size > (std::int64_t(1) << 62) || size < -(std::int64_t(1) << 62);

    TW_SETUPMEMXFER setup{};
    if (CallSource(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup) != TWRC_SUCCESS || setup.Preferred == 0)
        return TWRC_FAILURE; // no buffer size to work with
    // The bitmap is bottom-up with a known number of rows: an image of
    // undefined length (or none at all) cannot be received into it.
    if (sizeOverflows || info.ImageWidth <= 0 || info.ImageLength <= 0)
        return TWRC_FAILURE;
    size = (size / std::int64_t(setup.Preferred) + 1) * std::int64_t(setup.Preferred);

    constexpr std::size_t kInfoBytes = sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, kInfoBytes);
    auto *bmi = static_cast<BITMAPINFO *>(block ? GlobalLock(block) : nullptr);
    if (!bmi) {
        if (block)
            GlobalFree(block);
        return TWRC_FAILURE;
    }
    BITMAPINFOHEADER &h = bmi->bmiHeader;
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = info.ImageWidth;
    h.biHeight = info.ImageLength;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(info.BitsPerPixel);
    h.biCompression = BI_RGB;
    h.biSizeImage = static_cast<DWORD>(size);
    h.biClrImportant = 0;

    const Extended xRes = Fix32ToFloat(info.XResolution);
    const Extended yRes = Fix32ToFloat(info.YResolution);
    TTwainUnit unit = tuUnknown;
    TTwainUnitSet units;
    if (GetICapUnits(unit, units, rcGet) != crSuccess)
        unit = tuUnknown;
    if (unit == tuInches) {
        h.biXPelsPerMeter = pelsPerMeter(xRes / 2.54L * 100);
        h.biYPelsPerMeter = pelsPerMeter(yRes / 2.54L * 100);
    } else if (unit == tuCentimeters) {
        h.biXPelsPerMeter = pelsPerMeter(xRes * 100);
        h.biYPelsPerMeter = pelsPerMeter(yRes * 100);
    }

    RGBQUAD *table = reinterpret_cast<RGBQUAD *>(reinterpret_cast<BYTE *>(bmi) + sizeof(BITMAPINFOHEADER));
    auto grey = [](RGBQUAD &q, BYTE v) { q = RGBQUAD{v, v, v, 0}; };
    auto greyRamp = [&]() {
        h.biClrUsed = 256;
        for (int i = 0; i < 256; ++i)
            grey(table[i], static_cast<BYTE>(i));
    };
    switch (info.PixelType) {
    case TWPT_BW: {
        h.biClrUsed = 2;
        TTwainPixelFlavor flavor = tpfChocolate;
        TTwainPixelFlavorSet flavors;
        if (GetIPixelFlavor(flavor, flavors, rcGet) != crSuccess || flavor > tpfUnknown)
            flavor = tpfChocolate;
        grey(table[0], PixelColor[flavor].Value0);
        grey(table[1], PixelColor[flavor].Value1);
        break;
    }
    case TWPT_GRAY:
        greyRamp();
        break;
    case TWPT_RGB:
        h.biClrUsed = 0;
        break;
    default: {
        TW_PALETTE8 palette{};
        if (CallSource(DG_IMAGE, DAT_PALETTE8, MSG_GET, &palette) != TWRC_SUCCESS) {
            greyRamp();
        } else {
            const int n = std::min<int>(palette.NumColors, 256);
            h.biClrUsed = static_cast<DWORD>(n);
            for (int i = 0; i < n; ++i)
                table[i] = RGBQUAD{palette.Colors[i].Channel3, palette.Colors[i].Channel2,
                                   palette.Colors[i].Channel1, 0};
        }
        break;
    }
    }

    // TransferImageMemory writes every row the source delivers and clears
    // the rest, so the page's memory is not cleared first as well.
    void *bits = nullptr;
    HBITMAP bitmap = platform::CreateUnclearedDIBSection(bmi, &bits);
    GlobalUnlock(block);
    GlobalFree(block);
    if (!bitmap)
        return TWRC_FAILURE; // nothing to write the strips into
    BitmapHandle = bitmap;
    PixelType = info.PixelType;
    return TWRC_SUCCESS;
}

TW_UINT16 TTwainSource::TransferImageMemory(HBITMAP &ImageHandle, TW_INT16 PixelType)
{
    TW_SETUPMEMXFER Setup{};
    TW_UINT16 rc = CallSource(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &Setup);
    if (rc == TWRC_SUCCESS && (Setup.Preferred == 0 || Setup.Preferred > kMaxStripBuffer))
        rc = TWRC_FAILURE;
    if (rc == TWRC_CANCEL)
        rc = TWRC_FAILURE; // no image was started, so nothing was cancelled

    BITMAP bm;
    if (rc == TWRC_SUCCESS && (!GetObject(ImageHandle, &bm) || !bm.bmBits))
        rc = TWRC_FAILURE;

    std::unique_ptr<BYTE[]> buffer;
    if (rc == TWRC_SUCCESS) {
        buffer.reset(new (std::nothrow) BYTE[Setup.Preferred]);
        if (!buffer)
            rc = TWRC_FAILURE;
    }

    try {
        if (rc == TWRC_SUCCESS) {
            auto *const pixels = static_cast<BYTE *>(bm.bmBits);
            const std::size_t lineLength = static_cast<std::size_t>(bm.bmWidthBytes);
            const std::int32_t height = bm.bmHeight;
            const std::size_t rgbPixels = std::min<std::size_t>(std::size_t(bm.bmWidth), lineLength / 3);
            std::int32_t curLine = height - 1;
            std::size_t written = 0; // bytes of the current row
            const bool streaming = lineLength * std::size_t(height) >= platform::StreamingThreshold();

            TW_IMAGEMEMXFER mx;
            std::memset(&mx, 0xFF, sizeof mx);
            do {
                mx.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
                mx.Memory.Length = Setup.Preferred;
                mx.Memory.TheMem = buffer.get();
                mx.BytesWritten = 0;
                rc = CallSource(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &mx);
                if (rc != TWRC_SUCCESS && rc != TWRC_XFERDONE)
                    break;
                // Never read past the buffer we lent, whatever the source claims.
                std::size_t left = std::min<std::size_t>(mx.BytesWritten, Setup.Preferred);
                const BYTE *read = buffer.get();
                // Rows beyond the bitmap's last one are dropped.
                while (left > 0 && curLine >= 0) {
                    BYTE *row = pixels + lineLength * std::size_t(curLine);
                    const std::size_t n = std::min(left, lineLength - written);
                    const bool wholeRow = n == lineLength;
                    if (wholeRow && PixelType == TWPT_RGB) {
                        // A whole row in the strip: reordered while copying.
                        platform::CopySwapRedBlue(row, read, rgbPixels, streaming);
                        platform::CopyPixelBytes(row + 3 * rgbPixels, read + 3 * rgbPixels, lineLength - 3 * rgbPixels, streaming);
                    } else if (wholeRow) {
                        platform::CopyPixelBytes(row, read, lineLength, streaming);
                    } else {
                        std::memcpy(row + written, read, n);
                    }
                    read += n;
                    left -= n;
                    written += n;
                    if (written == lineLength) {
                        if (PixelType == TWPT_RGB && !wholeRow)
                            platform::CopySwapRedBlue(row, row, rgbPixels);
                        --curLine;
                        written = 0;
                        fOwner->DoAcquireProgress(this, fIndex, ImageHandle, height - 1 - curLine, height);
                    }
                }
            } while (rc == TWRC_SUCCESS);
            if (streaming)
                platform::EndStreaming();
            if (rc == TWRC_XFERDONE && curLine >= 0) {
                // The source ended early: what it did not deliver is black,
                // never what the memory held before.
                BYTE *row = pixels + lineLength * std::size_t(curLine);
                std::memset(row + written, 0, lineLength - written);
                std::memset(pixels, 0, lineLength * std::size_t(curLine));
            }
        }
    } catch (...) {
        // A progress handler raised: the half-filled bitmap is ours to free.
        DeleteObject(ImageHandle);
        ImageHandle = nullptr;
        throw;
    }

    buffer.reset();
    if (rc != TWRC_XFERDONE) {
        if (ImageHandle)
            DeleteObject(ImageHandle);
        ImageHandle = nullptr;
    }
    return rc;
}

void TTwainSource::ReadMemory(HBITMAP Image, bool &Cancel)
{
    fOwner->DoTwainAcquire(fOwner, fIndex, Image, Cancel);
}

void TTwainSource::ReadFile(TW_STR255 &Name, TW_UINT16 Format, bool &Cancel)
{
    if (!fOwner->fOnSourceFileTransfer)
        return;
    // The source may have filled all 256 bytes: keep the name terminated.
    Name[sizeof(TW_STR255) - 1] = '\0';
    fOwner->fOnSourceFileTransfer(this, fIndex, Name, TwainToTTwainFormat(Format), Cancel);
}

bool TTwainSource::SetupFileTransfer(const QString &Filename, TTwainFormat Format)
{
    if (!fLoaded)
        return false;
    TW_SETUPFILEXFER r{};
    StrToStr255(Filename.toLocal8Bit(), r.FileName);
    r.Format = FormatToTwain[Format <= tfUnknown ? Format : tfUnknown];
    return CallSource(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &r) == TWRC_SUCCESS;
}

bool TTwainSource::ProcessMessage(const MSG &Msg)
{
    TW_EVENT event{};
    event.pEvent = const_cast<MSG *>(&Msg);
    event.TWMessage = MSG_NULL;
    if (CallSource(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event) != TWRC_DSEVENT)
        return false;
    switch (event.TWMessage) {
    case MSG_XFERREADY:
        TransferImages(); // ends by freeing this source
        break;
    case MSG_CLOSEDSREQ: {
        TCustomOstraTwain *const owner = fOwner;
        const std::int32_t index = fIndex;
        if (owner->fOnAcquireCancel)
            owner->fOnAcquireCancel(owner, index);
        if (owner->fOnTransferComplete)
            owner->fOnTransferComplete(owner, index, true);
        DisableSource();
        owner->RefreshVirtualWindow(); // frees this source
        break;
    }
    default:
        break;
    }
    return true;
}

// Hands the capability readers and typed wrappers containers of any kind,
// item type, item count and index, as a misbehaving source might.
//
// Input: [0] operation, [1] query mode, [2..3] container kind (mostly one of
// the four), [4] return code of the query, [5] condition code, then the
// bytes of the container block the source hands over.
#include "platform/GlobalMemory.h"
#include "twain/OstraTwain.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Script {
    TW_UINT16 conType = TWON_ONEVALUE;
    TW_UINT16 rc = TWRC_SUCCESS;
    TW_UINT16 condition = TWCC_SUCCESS;
    const std::uint8_t *block = nullptr;
    std::size_t blockSize = 0;
};
Script g_script;

extern "C" TW_UINT16 FuzzDsmEntry(pTW_IDENTITY, pTW_IDENTITY pDest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                                  TW_MEMREF pData)
{
    if (dg != DG_CONTROL)
        return TWRC_FAILURE;
    switch (dat) {
    case DAT_PARENT:
        return TWRC_SUCCESS;
    case DAT_IDENTITY:
        if (msg == MSG_GETFIRST && pData) {
            auto *id = static_cast<TW_IDENTITY *>(pData);
            id->Id = 1;
            std::strcpy(id->ProductName, "Fuzz source");
            return TWRC_SUCCESS;
        }
        return msg == MSG_GETNEXT ? TWRC_ENDOFLIST : TWRC_SUCCESS;
    case DAT_STATUS:
        if (pData)
            static_cast<TW_STATUS *>(pData)->ConditionCode = g_script.condition;
        return TWRC_SUCCESS;
    case DAT_CAPABILITY: {
        if (!pDest || !pData || msg == MSG_SET)
            return TWRC_SUCCESS;
        if (g_script.rc != TWRC_SUCCESS)
            return g_script.rc;
        auto *cap = static_cast<TW_CAPABILITY *>(pData);
        HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, g_script.blockSize);
        if (!h)
            return TWRC_FAILURE;
        if (g_script.blockSize) {
            std::memcpy(GlobalLock(h), g_script.block, g_script.blockSize);
            GlobalUnlock(h);
        }
        cap->ConType = g_script.conType;
        cap->hContainer = h;
        return TWRC_SUCCESS;
    }
    default:
        return TWRC_FAILURE;
    }
}

class FuzzTwain : public TCustomOstraTwain {
public:
    FuzzTwain()
    {
        Construct();
        fTwainProc = &FuzzDsmEntry;
        fLibraryLoaded = true;
        SetSourceManagerLoaded(true);
    }
    ~FuzzTwain() override { Destruct(); }
    void MessageTimer_Enable() override {}
    void MessageTimer_Disable() override {}
    std::int32_t CustomSelectSource() override { return -1; }
    HWND CustomGetParentWindow() override { return nullptr; }
    void DoTwainAcquire(TObject *, std::int32_t, HBITMAP, bool &) override {}
    void DoAcquireProgress(TObject *, std::int32_t, HBITMAP, std::int32_t, std::int32_t) override {}
};

TTwainSource *theSource()
{
    static FuzzTwain *twain = [] {
        auto *t = new FuzzTwain;
        if (t->SourceCount() != 1 || !t->Source(0)->LoadSource())
            std::abort();
        return t;
    }();
    return twain->Source(0);
}

void run(TTwainSource *s, std::uint8_t op, TRetrieveCap mode)
{
    TW_UINT16 type = 0;
    QString a, b, c, d, e;
    TGetCapabilityList list;
    std::int32_t cur = 0, def = 0;
    switch (op % 18) {
    case 0:
        s->GetOneValue(0x8000, type, a, mode);
        break;
    case 1:
        s->GetRangeValue(0x8000, type, a, b, c, d, e);
        break;
    case 2:
        s->GetEnumerationValue(0x8000, type, list, cur, def, mode);
        break;
    case 3:
        s->GetArrayValue(0x8000, type, list);
        break;
    case 4: {
        TW_INT16 n = 0;
        s->GetCapXferCount(n, mode);
        break;
    }
    case 5: {
        TTwainUnit u = tuInches;
        TTwainUnitSet set;
        s->GetICapUnits(u, set, mode);
        break;
    }
    case 6: {
        TTwainPixelFlavor f = tpfChocolate;
        TTwainPixelFlavorSet set;
        s->GetIPixelFlavor(f, set, mode);
        break;
    }
    case 7: {
        TTwainPixelType t = tbdBw;
        TTwainPixelTypeSet set;
        s->GetIPixelType(t, set, mode);
        break;
    }
    case 8: {
        TW_UINT16 depth = 0;
        TTwainBitDepth depths;
        s->GetIBitDepth(depth, depths, mode);
        break;
    }
    case 9:
    case 10: {
        Extended r = 0;
        TTwainResolution values;
        if (op % 18 == 9)
            s->GetIXResolution(r, values, mode);
        else
            s->GetIYResolution(r, values, mode);
        break;
    }
    case 11: {
        Extended r = 0;
        s->GetIPhysicalWidth(r, mode);
        break;
    }
    case 12: {
        bool v = false;
        s->GetUIControllable(v);
        s->GetFeederLoaded(v);
        break;
    }
    case 13: {
        // A container handed in by the caller instead of queried.
        HGLOBAL h = nullptr;
        TW_UINT16 con = 0;
        if (s->GetCapabilityRec(0x8000, h, mode, con) == crSuccess)
            s->GetEnumerationValue(0x8000, type, list, cur, def, mode, h);
        break;
    }
    case 14: {
        HGLOBAL h = nullptr;
        TW_UINT16 con = 0;
        if (s->GetCapabilityRec(0x8000, h, mode, con) == crSuccess)
            s->GetArrayValue(0x8000, type, list, h);
        break;
    }
    case 15: {
        HGLOBAL h = nullptr;
        TW_UINT16 con = 0;
        if (s->GetCapabilityRec(0x8000, h, mode, con) == crSuccess)
            s->GetRangeValue(0x8000, type, a, b, c, d, e, h);
        break;
    }
    case 16: {
        HGLOBAL h = nullptr;
        TW_UINT16 con = 0;
        if (s->GetCapabilityRec(0x8000, h, mode, con) == crSuccess)
            s->GetOneValue(0x8000, type, a, mode, h);
        break;
    }
    default: {
        bool v = false;
        s->GetFeederEnabled(v);
        s->GetAutofeed(v);
        break;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 6)
        return 0;
    TTwainSource *source = theSource();
    const std::uint8_t op = data[0];
    const auto mode = static_cast<TRetrieveCap>(data[1] % 4);
    const TW_UINT16 rawCon = static_cast<TW_UINT16>(data[2] | (data[3] << 8));
    g_script.conType = data[3] == 0 ? static_cast<TW_UINT16>(TWON_ARRAY + data[2] % 4) : rawCon;
    g_script.rc = data[4] < 200 ? TWRC_SUCCESS : static_cast<TW_UINT16>(data[4] % 8);
    g_script.condition = data[5] % 24;
    g_script.block = data + 6;
    g_script.blockSize = size - 6;

    const long before = platform::GlobalLiveBlocks();
    run(source, op, mode);
    // Every container received was freed again.
    if (platform::GlobalLiveBlocks() != before)
        std::abort();
    return 0;
}

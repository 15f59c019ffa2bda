// Reading and setting capabilities through the four containers.
#include "TestTwain.h"

#include "platform/GlobalMemory.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <cstring>

using namespace testsupport;

namespace {

TW_UINT16 u16(const Bytes &b, std::size_t at)
{
    TW_UINT16 v;
    std::memcpy(&v, b.data() + at, 2);
    return v;
}

TW_UINT32 u32(const Bytes &b, std::size_t at)
{
    TW_UINT32 v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

class Capabilities : public ::testing::Test {
protected:
    void SetUp() override
    {
        liveBefore = platform::GlobalLiveBlocks();
        dsm.AddSource(QStringLiteral("Scanner"));
        ASSERT_TRUE(twain.Open());
        source = twain.Source(0);
        ASSERT_NE(source, nullptr);
        ASSERT_TRUE(source->LoadSource());
        dsm.ClearLog();
    }
    // After every operation only what the caller owns is still allocated.
    void TearDown() override { EXPECT_EQ(platform::GlobalLiveBlocks(), liveBefore); }

    const DsmCall &lastSet() const
    {
        const DsmCall *call = dsm.Last(MSG_SET);
        EXPECT_NE(call, nullptr);
        return *call;
    }

    long liveBefore = 0;
    ScriptedDsm dsm;
    TestTwain twain;
    TTwainSource *source = nullptr;
};

TEST_F(Capabilities, ConditionCodesBecomeResults)
{
    EXPECT_EQ(source->ResultToCapabilityRec(TWRC_SUCCESS), crSuccess);
    EXPECT_TRUE(dsm.calls.empty());
    const std::pair<TW_UINT16, TCapabilityRet> table[] = {
        {TWCC_LOWMEMORY, crLowMemory},         {TWCC_SEQERROR, crInvalidState},
        {TWCC_CAPUNSUPPORTED, crUnsupported},  {TWCC_CAPBADOPERATION, crBadOperation},
        {TWCC_CAPSEQERROR, crDependencyError}, {TWCC_BADVALUE, crBadOperation},
        {TWCC_SUCCESS, crBadOperation}};
    for (auto [condition, expected] : table) {
        dsm.condition = condition;
        EXPECT_EQ(source->ResultToCapabilityRec(TWRC_FAILURE), expected) << condition;
    }
    EXPECT_EQ(dsm.Count(DG_CONTROL, DAT_STATUS, MSG_GET), 7);
}

TEST_F(Capabilities, SettersSendExactlySizedContainersAndFreeThem)
{
    EXPECT_EQ(source->SetIXResolution(300), crSuccess);
    {
        const DsmCall &set = lastSet();
        const auto cap = set.DataAs<TW_CAPABILITY>();
        EXPECT_EQ(cap.Cap, ICAP_XRESOLUTION);
        EXPECT_EQ(cap.ConType, TWON_ONEVALUE);
        ASSERT_EQ(set.container.size(), 6u);
        EXPECT_EQ(u16(set.container, 0), TWTY_FIX32);
        EXPECT_EQ(u16(set.container, 2), 300);
        EXPECT_EQ(u16(set.container, 4), 0);
    }

    TW_STR255 text;
    std::memset(text, 'z', sizeof text);
    EXPECT_EQ(source->SetOneValue(0x8001, TWTY_STR255, text), crSuccess);
    ASSERT_EQ(lastSet().container.size(), 258u);
    EXPECT_EQ(lastSet().container[257], 'z');

    TW_UINT16 a = 10, b = 20, c = 30;
    EXPECT_EQ(source->SetEnumerationValue(ICAP_BITDEPTH, TWTY_UINT16, 2, {&a, &b, &c}), crSuccess);
    {
        const Bytes &e = lastSet().container;
        ASSERT_EQ(e.size(), 22u);
        EXPECT_EQ(lastSet().DataAs<TW_CAPABILITY>().ConType, TWON_ENUMERATION);
        EXPECT_EQ(u32(e, 2), 3u);
        EXPECT_EQ(u32(e, 6), 2u);
        EXPECT_EQ(u32(e, 10), 0u);
        EXPECT_EQ(u16(e, 14), 10);
        EXPECT_EQ(u16(e, 16), 20);
        EXPECT_EQ(u16(e, 18), 30);
    }
    EXPECT_EQ(source->SetArrayValue(ICAP_BITDEPTH, TWTY_UINT16, {&a, &b, &c}), crSuccess);
    {
        const Bytes &r = lastSet().container;
        ASSERT_EQ(r.size(), 14u);
        EXPECT_EQ(lastSet().DataAs<TW_CAPABILITY>().ConType, TWON_ARRAY);
        EXPECT_EQ(u32(r, 2), 3u);
        EXPECT_EQ(u16(r, 6), 10);
        EXPECT_EQ(u16(r, 8), 20);
        EXPECT_EQ(u16(r, 10), 30);
    }
    EXPECT_EQ(source->SetRangeValue(ICAP_XRESOLUTION, TWTY_UINT32, 1, 2, 3, 4), crSuccess);
    {
        const Bytes &r = lastSet().container;
        ASSERT_EQ(r.size(), 22u);
        EXPECT_EQ(lastSet().DataAs<TW_CAPABILITY>().ConType, TWON_RANGE);
        EXPECT_EQ(u32(r, 2), 1u);
        EXPECT_EQ(u32(r, 6), 2u);
        EXPECT_EQ(u32(r, 10), 3u);
        EXPECT_EQ(u32(r, 14), 0u);
        EXPECT_EQ(u32(r, 18), 4u);
    }
    // An unknown item type copies nothing but still has room for the Item.
    EXPECT_EQ(source->SetOneValue(0x8002, 0x77, &a), crSuccess);
    EXPECT_EQ(lastSet().container, (Bytes{0x77, 0, 0, 0, 0, 0}));
}

TEST_F(Capabilities, TypedSettersSendTheTableValues)
{
    struct Case {
        std::function<TCapabilityRet()> call;
        TW_UINT16 cap;
        TW_UINT16 type;
        TW_UINT16 value;
    };
    const Case cases[] = {
        {[&] { return source->SetCapXferCount(-1); }, CAP_XFERCOUNT, TWTY_UINT16, 0xFFFF},
        {[&] { return source->SetICapUnits(tuPixels); }, ICAP_UNITS, TWTY_UINT16, TWUN_PIXELS},
        {[&] { return source->SetICapUnits(tuUnknown); }, ICAP_UNITS, TWTY_UINT16, TWUN_INCHES},
        {[&] { return source->SetIPixelFlavor(tpfVanilla); }, ICAP_PIXELFLAVOR, TWTY_UINT16, TWPF_VANILLA},
        {[&] { return source->SetIPixelFlavor(tpfUnknown); }, ICAP_PIXELFLAVOR, TWTY_UINT16, TWPF_CHOCOLATE},
        {[&] { return source->SetIPixelType(tbdBgr); }, ICAP_PIXELTYPE, TWTY_UINT16, 12},
        {[&] { return source->SetIBitDepth(24); }, ICAP_BITDEPTH, TWTY_UINT16, 24},
        {[&] { return source->SetOrientation(torLandscape); }, ICAP_ORIENTATION, TWTY_UINT16, TWOR_LANDSCAPE},
        {[&] { return source->SetPaperSize(tpsA4); }, ICAP_SUPPORTEDSIZES, TWTY_UINT16, TWSS_A4LETTER},
        {[&] { return source->SetPaperSize(tpsB5); }, ICAP_SUPPORTEDSIZES, TWTY_UINT16, TWSS_B5LETTER},
        {[&] { return source->SetPaperSize(tpsUSLegal); }, ICAP_SUPPORTEDSIZES, TWTY_UINT16, TWSS_USLEGAL},
        {[&] { return source->SetAutoSize(tasCurrent); }, ICAP_AUTOSIZE, TWTY_UINT16, TWAS_CURRENT},
        {[&] { return source->SetUndefinedImageSize(true); }, ICAP_UNDEFINEDIMAGESIZE, TWTY_BOOL, 0xFFFF},
        {[&] { return source->SetAutoBorderDetection(false); }, ICAP_AUTOMATICBORDERDETECTION, TWTY_BOOL, 0},
        {[&] { return source->SetAutoRotate(true); }, ICAP_AUTOMATICROTATE, TWTY_BOOL, 0xFFFF},
        {[&] { return source->SetAutoDeskew(true); }, ICAP_AUTOMATICDESKEW, TWTY_BOOL, 0xFFFF},
        {[&] { return source->SetIndicators(false); }, CAP_INDICATORS, TWTY_BOOL, 0},
        {[&] { return source->SetFeederEnabled(1); }, CAP_FEEDERENABLED, TWTY_BOOL, 1},
        {[&] { return source->SetAutoFeed(0x1234); }, CAP_AUTOFEED, TWTY_BOOL, 0x1234},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.call(), crSuccess);
        const DsmCall &set = lastSet();
        EXPECT_EQ(set.DataAs<TW_CAPABILITY>().Cap, c.cap);
        ASSERT_EQ(set.container.size(), 6u);
        EXPECT_EQ(u16(set.container, 0), c.type) << c.cap;
        EXPECT_EQ(u16(set.container, 2), c.value) << c.cap;
        EXPECT_EQ(u16(set.container, 4), 0) << c.cap;
    }
}

TEST_F(Capabilities, ARefusedOrAdjustedSetIsNoSuccessAndTheContainerIsFreedAnyway)
{
    dsm.Script(DG_CONTROL, DAT_CAPABILITY, MSG_SET, TWRC_CHECKSTATUS, TWCC_SUCCESS);
    EXPECT_EQ(source->SetIBitDepth(8), crBadOperation);
    dsm.Script(DG_CONTROL, DAT_CAPABILITY, MSG_SET, TWRC_FAILURE, TWCC_CAPSEQERROR);
    EXPECT_EQ(source->SetIXResolution(600), crDependencyError);
    dsm.Script(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, TWRC_FAILURE, TWCC_BADVALUE);
    EXPECT_EQ(source->SetImagelayoutFrame(0, 0, 8.5, 11), crBadOperation);
}

TEST_F(Capabilities, ImageLayoutFrameIsSentInFixedPoint)
{
    EXPECT_EQ(source->SetImagelayoutFrame(0.5, 1, 8.25, -2), crSuccess);
    const DsmCall *call = dsm.Last(MSG_SET);
    ASSERT_NE(call, nullptr);
    EXPECT_EQ(call->dg, DG_IMAGE);
    EXPECT_EQ(call->dat, DAT_IMAGELAYOUT);
    const auto layout = call->DataAs<TW_IMAGELAYOUT>();
    EXPECT_EQ(layout.Frame.Left.Whole, 0);
    EXPECT_EQ(layout.Frame.Left.Frac, 32768);
    EXPECT_EQ(layout.Frame.Top.Whole, 1);
    EXPECT_EQ(layout.Frame.Right.Whole, 8);
    EXPECT_EQ(layout.Frame.Right.Frac, 16384);
    EXPECT_EQ(layout.Frame.Bottom.Whole, -2);
    EXPECT_EQ(layout.DocumentNumber + layout.PageNumber + layout.FrameNumber, 0u);
}

TEST_F(Capabilities, FailedAllocationWritesNothingAndCallsNothing)
{
    platform::SetGlobalAllocFailureHook([](SIZE_T) { return true; });
    TW_UINT16 v = 1;
    EXPECT_EQ(source->SetOneValue(ICAP_UNITS, TWTY_UINT16, &v), crLowMemory);
    EXPECT_EQ(source->SetRangeValue(ICAP_UNITS, TWTY_UINT16, 0, 1, 1, 0), crLowMemory);
    EXPECT_EQ(source->SetEnumerationValue(ICAP_UNITS, TWTY_UINT16, 0, {&v}), crLowMemory);
    EXPECT_EQ(source->SetArrayValue(ICAP_UNITS, TWTY_UINT16, {&v}), crLowMemory);
    EXPECT_EQ(source->SetAutoRotate(true), crLowMemory);
    platform::SetGlobalAllocFailureHook({});
    EXPECT_TRUE(dsm.calls.empty());
}

TEST_F(Capabilities, QueriesUseTheModeMessageAndReadEveryContainerKind)
{
    dsm.ScriptCapability(CAP_XFERCOUNT, TWON_ONEVALUE, OneValue16(TWTY_INT16, 0xFFFF));
    TW_INT16 count = 0;
    EXPECT_EQ(source->GetCapXferCount(count, rcGetDefault), crSuccess);
    EXPECT_EQ(count, -1);
    const auto sent = dsm.Last(MSG_GETDEFAULT)->DataAs<TW_CAPABILITY>();
    EXPECT_EQ(sent.Cap, CAP_XFERCOUNT);
    EXPECT_EQ(sent.ConType, TWON_DONTCARE16);
    EXPECT_EQ(static_cast<TW_HANDLE>(sent.hContainer), nullptr);
    EXPECT_EQ(source->GetCapXferCount(count, rcReset), crSuccess);
    EXPECT_EQ(dsm.Count(DG_CONTROL, DAT_CAPABILITY, MSG_RESET), 1);

    dsm.ScriptCapability(0x9001, TWON_RANGE, Range32(TWTY_INT32, TW_UINT32(-5), 5, 1, 0, 2));
    TW_UINT16 type = 0;
    QString mn, mx, st, df, cu;
    EXPECT_EQ(source->GetRangeValue(0x9001, type, mn, mx, st, df, cu), crSuccess);
    EXPECT_EQ(type, TWTY_INT32);
    EXPECT_EQ(QStringList({mn, mx, st, df, cu}), QStringList({"-5", "5", "1", "0", "2"}));
    EXPECT_EQ(dsm.Count(DG_CONTROL, DAT_CAPABILITY, MSG_GET), 1); // ranges always ask with MSG_GET

    dsm.ScriptCapability(0x9002, TWON_ARRAY, Array16(TWTY_BOOL, {1, 0xFFFF, 0}));
    TGetCapabilityList list;
    EXPECT_EQ(source->GetArrayValue(0x9002, type, list), crSuccess);
    EXPECT_EQ(list, (TGetCapabilityList{"1", "65535", "0"}));

    Bytes strings(2 * 34, 0);
    std::memcpy(strings.data(), "first", 5);
    std::memcpy(strings.data() + 34, "second", 6);
    dsm.ScriptCapability(0x9003, TWON_ENUMERATION, EnumerationRaw(TWTY_STR32, 2, 1, 0, strings));
    std::int32_t current = -7, def = -7;
    EXPECT_EQ(source->GetEnumerationValue(0x9003, type, list, current, def, rcGetCurrent), crSuccess);
    EXPECT_EQ(list, (TGetCapabilityList{"first", "second"}));
    EXPECT_EQ(current, 1);
    EXPECT_EQ(def, 0);
    EXPECT_EQ(dsm.Count(DG_CONTROL, DAT_CAPABILITY, MSG_GETCURRENT), 1);
}

TEST_F(Capabilities, ItemsAsText)
{
    QString s = QStringLiteral("untouched");
    const std::int8_t i8 = -3;
    source->GetItem(s, TWTY_INT8, &i8);
    EXPECT_EQ(s, "-3");
    const TW_UINT32 big = 4000000000u;
    source->GetItem(s, TWTY_UINT32, &big);
    EXPECT_EQ(s, "4000000000");
    const TW_INT32 neg = -70000;
    source->GetItem(s, TWTY_INT32, &neg);
    EXPECT_EQ(s, "-70000");
    const TW_FIX32 fix{-2, 32768};
    source->GetItem(s, TWTY_FIX32, &fix);
    EXPECT_EQ(s, QStringLiteral("-2") + QLocale().decimalPoint() + "50000");
    const TW_FIX32 tiny{0, 1};
    source->GetItem(s, TWTY_FIX32, &tiny);
    EXPECT_EQ(s, QStringLiteral("0") + QLocale().decimalPoint() + "00002");
    // A string that fills its whole field without a zero stops at the field's end.
    char full[34];
    std::memset(full, 'q', sizeof full);
    source->GetItem(s, TWTY_STR32, full);
    EXPECT_EQ(s, QString(34, u'q'));
    s = QStringLiteral("kept");
    const TW_FRAME frame{};
    source->GetItem(s, TWTY_FRAME, &frame);
    source->GetItem(s, 0x55, &frame);
    source->GetItem(s, TWTY_INT8, nullptr);
    EXPECT_EQ(s, "kept");
}

TEST_F(Capabilities, WrongContainerIsRefusedAndFreed)
{
    dsm.ScriptCapability(ICAP_UNITS, TWON_ONEVALUE, OneValue16(TWTY_UINT16, TWUN_INCHES));
    TTwainUnit unit = tuPicas;
    TTwainUnitSet supported{tuTwips};
    EXPECT_EQ(source->GetICapUnits(unit, supported), crInvalidContainer);
    EXPECT_EQ(unit, tuPicas);
    EXPECT_EQ(supported, TTwainUnitSet{tuTwips});

    TW_UINT16 type = 0;
    QString value;
    dsm.ScriptCapability(0x9010, TWON_ENUMERATION, Enumeration16(TWTY_UINT16, {1}, 0, 0));
    EXPECT_EQ(source->GetOneValue(0x9010, type, value), crInvalidContainer);
    TGetCapabilityList list;
    EXPECT_EQ(source->GetArrayValue(0x9010, type, list), crInvalidContainer);
    QString a, b, c, d, e;
    EXPECT_EQ(source->GetRangeValue(0x9010, type, a, b, c, d, e), crInvalidContainer);

    dsm.ScriptCapability(ICAP_XRESOLUTION, TWON_RANGE, Range32(TWTY_FIX32, 0, 0, 0, 0, 0));
    Extended res = 5;
    TTwainResolution values{1};
    EXPECT_EQ(source->GetIXResolution(res, values), crUnsupported);
    EXPECT_EQ(res, 5);
    EXPECT_EQ(values, TTwainResolution{1});

    // A source that claims success but hands over no block.
    dsm.ScriptCapabilityNoContainer(0x9011, TWON_ONEVALUE);
    EXPECT_EQ(source->GetOneValue(0x9011, type, value), crInvalidContainer);
}

TEST_F(Capabilities, UnitsWithAnUnknownMemberAndTheIndexThatPicks)
{
    dsm.ScriptCapability(ICAP_UNITS, TWON_ENUMERATION,
                         Enumeration16(TWTY_UINT16, {TWUN_INCHES, TWUN_CENTIMETERS, 6}, 1, 0));
    TTwainUnit unit = tuPoints;
    TTwainUnitSet supported{tuTwips};
    EXPECT_EQ(source->GetICapUnits(unit, supported), crSuccess);
    EXPECT_EQ(unit, tuCentimeters);
    EXPECT_EQ(supported, (TTwainUnitSet{tuInches, tuCentimeters, tuUnknown, tuTwips}));
    EXPECT_EQ(source->GetICapUnits(unit, supported, rcGetDefault), crSuccess);
    EXPECT_EQ(unit, tuInches);
}

TEST_F(Capabilities, AnIndexOutsideTheListPicksNothing)
{
    dsm.ScriptCapability(ICAP_PIXELTYPE, TWON_ENUMERATION, Enumeration16(TWTY_UINT16, {TWPT_BW, TWPT_RGB}, 2, 0));
    TTwainPixelType type = tbdCmyk;
    TTwainPixelTypeSet supported;
    EXPECT_EQ(source->GetIPixelType(type, supported), crBadOperation);
    EXPECT_EQ(type, tbdCmyk);
    EXPECT_TRUE(supported.Empty());
    EXPECT_EQ(source->GetIPixelType(type, supported, rcGetDefault), crSuccess);
    EXPECT_EQ(type, tbdBw);
    EXPECT_EQ(supported, (TTwainPixelTypeSet{tbdBw, tbdRgb}));

    // The generic reader still hands out the list and both indices.
    TW_UINT16 itemType = 0;
    TGetCapabilityList list;
    std::int32_t current = 0, def = 0;
    EXPECT_EQ(source->GetEnumerationValue(ICAP_PIXELTYPE, itemType, list, current, def), crSuccess);
    EXPECT_EQ(list.size(), 2u);
    EXPECT_EQ(current, 2);

    dsm.ScriptCapability(ICAP_BITDEPTH, TWON_ENUMERATION, Enumeration16(TWTY_UINT16, {}, 0, 0));
    TW_UINT16 depth = 77;
    TTwainBitDepth depths{1, 2};
    EXPECT_EQ(source->GetIBitDepth(depth, depths), crBadOperation);
    EXPECT_EQ(depth, 77);
    EXPECT_EQ(depths, (TTwainBitDepth{1, 2}));

    dsm.ScriptCapability(ICAP_YRESOLUTION, TWON_ENUMERATION,
                         EnumerationRaw(TWTY_FIX32, 2, TW_UINT32(-1), 0, Fix32List({100, 200})));
    Extended res = 9;
    TTwainResolution values;
    EXPECT_EQ(source->GetIYResolution(res, values), crBadOperation);
    EXPECT_EQ(res, 9);
    EXPECT_TRUE(values.empty());
}

TEST_F(Capabilities, BitDepthAndFlavorWrappers)
{
    dsm.ScriptCapability(ICAP_BITDEPTH, TWON_ENUMERATION, Enumeration16(TWTY_UINT16, {1, 8, 24}, 2, 1));
    TW_UINT16 depth = 0;
    TTwainBitDepth depths{99, 98, 97, 96};
    EXPECT_EQ(source->GetIBitDepth(depth, depths), crSuccess);
    EXPECT_EQ(depth, 24);
    EXPECT_EQ(depths, (TTwainBitDepth{1, 8, 24}));
    EXPECT_EQ(source->GetIBitDepth(depth, depths, rcGetDefault), crSuccess);
    EXPECT_EQ(depth, 8);

    dsm.ScriptCapability(ICAP_PIXELFLAVOR, TWON_ENUMERATION, Enumeration16(TWTY_UINT16, {TWPF_VANILLA, 9}, 0, 1));
    TTwainPixelFlavor flavor = tpfChocolate;
    TTwainPixelFlavorSet flavors;
    EXPECT_EQ(source->GetIPixelFlavor(flavor, flavors), crSuccess);
    EXPECT_EQ(flavor, tpfVanilla);
    EXPECT_EQ(flavors, (TTwainPixelFlavorSet{tpfVanilla, tpfUnknown}));

    // A wrapper that gets another item type answers crUnsupported, untouched.
    dsm.ScriptCapability(ICAP_PIXELFLAVOR, TWON_ENUMERATION, Enumeration16(TWTY_INT16, {TWPF_VANILLA}, 0, 0));
    flavor = tpfChocolate;
    EXPECT_EQ(source->GetIPixelFlavor(flavor, flavors), crUnsupported);
    EXPECT_EQ(flavor, tpfChocolate);
}

TEST_F(Capabilities, BooleanGettersAreTrueOnlyForOne)
{
    const std::pair<TW_UINT16, bool> stored[] = {{1, true}, {0xFFFF, false}, {0, false}, {2, false}};
    for (auto [value, expected] : stored) {
        dsm.ScriptCapability(CAP_UICONTROLLABLE, TWON_ONEVALUE, OneValue16(TWTY_BOOL, value));
        bool result = !expected;
        EXPECT_EQ(source->GetUIControllable(result), crSuccess);
        EXPECT_EQ(result, expected) << value;
    }
    dsm.ScriptCapability(CAP_FEEDERLOADED, TWON_ONEVALUE, OneValue16(TWTY_BOOL, 1));
    dsm.ScriptCapability(CAP_FEEDERENABLED, TWON_ONEVALUE, OneValue16(TWTY_BOOL, 1));
    dsm.ScriptCapability(CAP_AUTOFEED, TWON_ONEVALUE, OneValue16(TWTY_UINT16, 1));
    bool loaded = false, enabled = false, autofeed = false;
    EXPECT_EQ(source->GetFeederLoaded(loaded), crSuccess);
    EXPECT_EQ(source->GetFeederEnabled(enabled), crSuccess);
    EXPECT_TRUE(loaded && enabled);
    EXPECT_EQ(source->GetAutofeed(autofeed), crUnsupported);
    EXPECT_FALSE(autofeed);
    dsm.condition = TWCC_SEQERROR;
    dsm.Script(DG_CONTROL, DAT_CAPABILITY, MSG_GET, TWRC_FAILURE);
    EXPECT_EQ(source->GetFeederLoaded(loaded), crInvalidState);
}

TEST_F(Capabilities, ResolutionFromArraysAndEnumerations)
{
    dsm.ScriptCapability(ICAP_XRESOLUTION, TWON_ARRAY, ArrayRaw(TWTY_FIX32, 3, Fix32List({100, 200, 300})));
    Extended res = 7;
    TTwainResolution values;
    EXPECT_EQ(source->GetIXResolution(res, values), crSuccess);
    EXPECT_EQ(values, (TTwainResolution{100, 200, 300}));
    EXPECT_EQ(res, 0);

    dsm.ScriptCapability(ICAP_YRESOLUTION, TWON_ENUMERATION,
                         EnumerationRaw(TWTY_FIX32, 3, 2, 0, Fix32List({75, 150.5, 600})));
    EXPECT_EQ(source->GetIYResolution(res, values), crSuccess);
    EXPECT_EQ(values, (TTwainResolution{75, 150.5, 600}));
    EXPECT_EQ(res, 600);
    EXPECT_EQ(source->GetIYResolution(res, values, rcGetDefault), crSuccess);
    EXPECT_EQ(res, 75);

    dsm.ScriptCapability(ICAP_XRESOLUTION, TWON_ARRAY, Array16(TWTY_UINT16, {300}));
    EXPECT_EQ(source->GetIXResolution(res, values), crUnsupported);
}

TEST_F(Capabilities, PhysicalSizeReadsAOneValueWhateverItIsCalled)
{
    dsm.ScriptCapability(ICAP_PHYSICALWIDTH, TWON_ENUMERATION, OneValueFix32(8.5));
    Extended width = 0;
    EXPECT_EQ(source->GetIPhysicalWidth(width), crSuccess);
    EXPECT_EQ(width, 8.5L);
    dsm.ScriptCapability(ICAP_PHYSICALHEIGHT, TWON_ONEVALUE, OneValue16(TWTY_UINT16, 11));
    Extended height = 3;
    EXPECT_EQ(source->GetIPhysicalHeight(height), crUnsupported);
    EXPECT_EQ(height, 3);
}

TEST_F(Capabilities, NumItemsBeyondTheBlockIsCutToWhatTheBlockHolds)
{
    // Claims a million items, holds two and a half.
    Bytes list{1, 0, 2, 0, 3};
    dsm.ScriptCapability(0x9020, TWON_ENUMERATION, EnumerationRaw(TWTY_UINT16, 1000000, 0, 0, list));
    dsm.ScriptCapability(0x9021, TWON_ARRAY, ArrayRaw(TWTY_UINT16, 0xFFFFFFFF, list));
    TW_UINT16 type = 0;
    TGetCapabilityList items;
    std::int32_t current = 0, def = 0;
    EXPECT_EQ(source->GetEnumerationValue(0x9020, type, items, current, def), crSuccess);
    EXPECT_EQ(items, (TGetCapabilityList{"1", "2"}));
    EXPECT_EQ(source->GetArrayValue(0x9021, type, items), crSuccess);
    EXPECT_EQ(items, (TGetCapabilityList{"1", "2"}));

    dsm.ScriptCapability(ICAP_XRESOLUTION, TWON_ARRAY, ArrayRaw(TWTY_FIX32, 50, Fix32List({100, 200})));
    Extended res = 0;
    TTwainResolution values;
    EXPECT_EQ(source->GetIXResolution(res, values), crSuccess);
    EXPECT_EQ(values, (TTwainResolution{100, 200}));

    // A string item in a one-value block that ends early is read up to the end.
    Bytes shortString{TWTY_STR255, 0, 'a', 'b', 'c'};
    dsm.ScriptCapability(0x9022, TWON_ONEVALUE, shortString);
    QString value;
    EXPECT_EQ(source->GetOneValue(0x9022, type, value), crSuccess);
    EXPECT_EQ(value, "abc");
    // A block too short for its own header is refused.
    dsm.ScriptCapability(0x9023, TWON_RANGE, Bytes(21, 0));
    QString a, b, c, d, e;
    EXPECT_EQ(source->GetRangeValue(0x9023, type, a, b, c, d, e), crInvalidContainer);
    dsm.ScriptCapability(0x9024, TWON_ENUMERATION, Bytes(13, 0));
    EXPECT_EQ(source->GetEnumerationValue(0x9024, type, items, current, def), crInvalidContainer);
}

TEST_F(Capabilities, AGivenContainerIsReadWithoutACallAndFreed)
{
    HGLOBAL handle = nullptr;
    TW_UINT16 container = 0;
    dsm.ScriptCapability(0x9030, TWON_ONEVALUE, OneValue16(TWTY_UINT16, 42));
    EXPECT_EQ(source->GetCapabilityRec(0x9030, handle, rcGet, container), crSuccess);
    EXPECT_EQ(container, TWON_ONEVALUE);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(platform::GlobalLiveBlocks(), liveBefore + 1); // the caller owns it now
    dsm.ClearLog();
    TW_UINT16 type = 0;
    QString value;
    EXPECT_EQ(source->GetOneValue(0x9030, type, value, rcGet, handle), crSuccess);
    EXPECT_EQ(value, "42");
    EXPECT_TRUE(dsm.calls.empty());

    // A failed query leaves the outputs and allocates nothing.
    handle = reinterpret_cast<HGLOBAL>(std::uintptr_t(0x99));
    container = 1234;
    EXPECT_EQ(source->GetCapabilityRec(0x9031, handle, rcGet, container), crUnsupported);
    EXPECT_EQ(handle, reinterpret_cast<HGLOBAL>(std::uintptr_t(0x99)));
    EXPECT_EQ(container, 1234);
}

TEST_F(Capabilities, EveryOperationOnAClosedSourceIsInvalidStateWithoutACall)
{
    source->SetLoaded(false);
    dsm.ClearLog();
    HGLOBAL handle = nullptr;
    TW_UINT16 type = 0, container = 0, depth = 0;
    QString s1, s2, s3, s4, s5;
    TGetCapabilityList list;
    std::int32_t cur = 0, def = 0;
    TW_INT16 count = 0;
    TTwainUnit unit;
    TTwainUnitSet units;
    TTwainPixelFlavor flavor;
    TTwainPixelFlavorSet flavors;
    TTwainPixelType ptype;
    TTwainPixelTypeSet ptypes;
    TTwainBitDepth depths;
    Extended r = 0;
    TTwainResolution rs;
    bool b = false;
    TW_UINT16 v = 0;
    const std::function<TCapabilityRet()> operations[] = {
        [&] { return source->GetCapabilityRec(1, handle, rcGet, container); },
        [&] { return source->SetCapabilityRec(1, TWON_ONEVALUE, nullptr); },
        [&] { return source->GetOneValue(1, type, s1); },
        [&] { return source->GetRangeValue(1, type, s1, s2, s3, s4, s5); },
        [&] { return source->GetEnumerationValue(1, type, list, cur, def); },
        [&] { return source->GetArrayValue(1, type, list); },
        [&] { return source->SetOneValue(1, TWTY_UINT16, &v); },
        [&] { return source->SetRangeValue(1, TWTY_UINT16, 0, 0, 0, 0); },
        [&] { return source->SetEnumerationValue(1, TWTY_UINT16, 0, {&v}); },
        [&] { return source->SetArrayValue(1, TWTY_UINT16, {&v}); },
        [&] { return source->SetCapXferCount(1); },
        [&] { return source->GetCapXferCount(count); },
        [&] { return source->SetICapUnits(tuInches); },
        [&] { return source->GetICapUnits(unit, units); },
        [&] { return source->SetIPixelFlavor(tpfVanilla); },
        [&] { return source->GetIPixelFlavor(flavor, flavors); },
        [&] { return source->SetIPixelType(tbdRgb); },
        [&] { return source->GetIPixelType(ptype, ptypes); },
        [&] { return source->SetIBitDepth(8); },
        [&] { return source->GetIBitDepth(depth, depths); },
        [&] { return source->SetIXResolution(300); },
        [&] { return source->SetIYResolution(300); },
        [&] { return source->GetIXResolution(r, rs); },
        [&] { return source->GetIYResolution(r, rs); },
        [&] { return source->GetIPhysicalWidth(r); },
        [&] { return source->GetIPhysicalHeight(r); },
        [&] { return source->SetOrientation(torPortrait); },
        [&] { return source->SetPaperSize(tpsA5); },
        [&] { return source->SetAutoSize(tasAuto); },
        [&] { return source->SetUndefinedImageSize(true); },
        [&] { return source->SetAutoBorderDetection(true); },
        [&] { return source->SetAutoRotate(true); },
        [&] { return source->SetAutoDeskew(true); },
        [&] { return source->SetIndicators(true); },
        [&] { return source->SetFeederEnabled(1); },
        [&] { return source->SetAutoFeed(1); },
        [&] { return source->GetUIControllable(b); },
        [&] { return source->GetFeederLoaded(b); },
        [&] { return source->GetFeederEnabled(b); },
        [&] { return source->GetAutofeed(b); },
        [&] { return source->GetResolution(ICAP_XRESOLUTION, r, rs, rcGet); },
        [&] { return source->SetImagelayoutFrame(0, 0, 1, 1); },
    };
    int i = 0;
    for (const auto &op : operations)
        EXPECT_EQ(op(), crInvalidState) << "operation " << i++;
    EXPECT_TRUE(dsm.calls.empty());
}

} // namespace

// A component with a scripted Data Source Manager behind it, a manual timer
// clock, a fixed desktop and scripted dialogs.  Events are noted in the
// manager's journal, so call orders can be checked together with them.
#pragma once

#include "support/FakeDesktop.h"
#include "support/ManualTimerService.h"
#include "support/ScriptedModalDialogs.h"
#include "GuiTestApp.h"
#include "platform/Bitmaps.h"
#include "platform/Desktop.h"
#include "platform/GlobalMemory.h"
#include "platform/Messages.h"
#include "platform/ModalDialog.h"
#include "support/ScriptedDsm.h"
#include "twain/OstraTwainGui.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

class TwainFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        TwainGuiTestApp();
        liveBitmaps_ = platform::LiveBitmapCount();
        liveBlocks_ = platform::GlobalLiveBlocks();
    }

    void TearDown() override
    {
        tw.reset();
        dsm.reset();
        EXPECT_EQ(platform::LiveBitmapCount(), liveBitmaps_) << "bitmap handles leaked";
        EXPECT_EQ(platform::GlobalLiveBlocks(), liveBlocks_) << "global blocks leaked";
        EXPECT_EQ(platform::ApplicationHookCount(), 0u);
        platform::SetIsLibrary(false);
    }

    // A manager listing |names|, a component with the manager open, and
    // event handlers that note into the journal.
    void Open(std::vector<QString> names)
    {
        dsm = std::make_unique<testsupport::ScriptedDsm>();
        for (const QString &n : names)
            dsm->AddSource(n);
        tw = std::make_unique<TOstraTwain>();
        ASSERT_TRUE(tw->LoadLibrary());
        tw->SetSourceManagerLoaded(true);
        ASSERT_TRUE(tw->SourceManagerLoaded());
        auto *d = dsm.get();
        tw->OnSourceDisable() = [d](TObject *, std::int32_t i) { d->Note("disabled " + std::to_string(i)); };
        tw->OnAcquireCancel() = [d](TObject *, std::int32_t i) { d->Note("cancel " + std::to_string(i)); };
        tw->OnAcquireError() = [d](TObject *, std::int32_t i, std::int32_t e, std::int32_t a) {
            d->Note("error " + std::to_string(i) + " " + std::to_string(e) + " " + std::to_string(a));
        };
        tw->OnTransferComplete() = [d](TObject *, std::int32_t i, bool c) {
            d->Note("complete " + std::to_string(i) + (c ? " canceled" : ""));
        };
        tw->OnTwainAcquire() = [this](TObject *sender, std::int32_t i, platform::Bitmap *image, bool &cancel) {
            EXPECT_EQ(sender, tw.get());
            dsm->Note("acquire " + std::to_string(i));
            images.push_back(image->ToImage());
            BITMAP bm;
            if (GetObject(image->Handle(), &bm) && bm.bmBits) {
                const auto *p = static_cast<const BYTE *>(bm.bmBits);
                memory.assign(p, p + std::size_t(bm.bmWidthBytes) * bm.bmHeight);
            }
            DIBSECTION ds;
            if (GetObject(image->Handle(), &ds)) {
                header = ds.dsBmih;
                colors.assign(256, RGBQUAD{});
                colors.resize(GetDIBColorTable(image->Handle(), 0, 256, colors.data()));
            }
            cancel = cancelAfter > 0 && int(images.size()) >= cancelAfter;
        };
    }

    // Opens source |i| and enables it with its dialog.
    TTwainSource *Enable(int i, TTwainTransferMode mode = ttmNative)
    {
        TTwainSource *s = tw->Source(i);
        EXPECT_TRUE(s);
        if (!s)
            return nullptr;
        s->SetTransferMode(mode);
        s->SetLoaded(true);
        s->SetEnabled(true);
        EXPECT_TRUE(s->Enabled());
        return s;
    }

    // Lets the source signal |twMessage| on the next window message and sends
    // one through the application window.
    void Signal(TW_UINT16 twMessage)
    {
        dsm->QueueEvent(twMessage);
        dsm->ClearLog();
        SendMessage(tw->VirtualWindow(), WM_USER, 0, 0);
    }

    // The journal from the first MSG_PROCESSEVENT on.
    std::vector<std::string> Journal() const
    {
        auto it = std::find(dsm->journal.begin(), dsm->journal.end(), "MSG_PROCESSEVENT");
        return std::vector<std::string>(it, dsm->journal.end());
    }

    // Journal entries without the status queries and capability reads.
    std::vector<std::string> Flow() const
    {
        std::vector<std::string> out;
        for (const std::string &e : Journal())
            if (e.rfind("STATUS/", 0) != 0 && e.rfind("CAP/", 0) != 0)
                out.push_back(e);
        return out;
    }

    static std::vector<std::string> Rebuild()
    {
        return {"MSG_CLOSEDS", "MSG_CLOSEDSM", "MSG_OPENDSM"};
    }

    // Installed from the fixture's construction to its destruction.
    testing_support::ManualTimerService clock;
    testing_support::FakeDesktop desktop;
    testing_support::ScriptedModalDialogs dialogs;
    std::unique_ptr<testsupport::ScriptedDsm> dsm;
    std::unique_ptr<TOstraTwain> tw;

    std::vector<QImage> images;
    std::vector<BYTE> memory; // pixel memory of the last DIB section delivered
    BITMAPINFOHEADER header{};
    std::vector<RGBQUAD> colors;
    int cancelAfter = 0;

private:
    std::size_t liveBitmaps_ = 0;
    long liveBlocks_ = 0;
};

inline std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> out;
    for (const auto &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A packed DIB with a BITMAPINFOHEADER; |pixels| is the pixel block as stored.
inline testsupport::Bytes PackedDib(int width, int height, int bits, const std::vector<RGBQUAD> &table,
                                    const testsupport::Bytes &pixels, DWORD clrUsed = 0)
{
    testsupport::Bytes dib(40 + table.size() * 4 + pixels.size(), 0);
    BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = WORD(bits);
    h.biClrUsed = clrUsed;
    std::memcpy(dib.data(), &h, 40);
    if (!table.empty())
        std::memcpy(dib.data() + 40, table.data(), table.size() * 4);
    std::memcpy(dib.data() + 40 + table.size() * 4, pixels.data(), pixels.size());
    return dib;
}

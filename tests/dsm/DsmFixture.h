// The real TWAIN_32.DLL, loaded for one test, with a private source folder.
#pragma once

#include "platform/GlobalMemory.h"
#include "platform/Modules.h"
#include "support/QtApp.h"
#include "support/TestSourceScript.h"
#include "twain/Twain.h"

#include <QApplication>
#include <QDialog>
#include <QPushButton>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

// A member of a packed record as a value: the test macros bind references,
// which a packed member cannot take.
template <typename T>
T Copy(T value)
{
    return value;
}

inline TW_IDENTITY AppIdentity(const char *name, TW_UINT32 extraGroups = 0)
{
    TW_IDENTITY id{};
    id.Version.MajorNum = 1;
    id.Version.Language = TWLG_USA;
    id.Version.Country = TWCY_USA;
    std::strncpy(id.Version.Info, "Test", 33);
    id.ProtocolMajor = extraGroups & DF_APP2 ? 2 : 1;
    id.ProtocolMinor = extraGroups & DF_APP2 ? 5 : 9;
    id.SupportedGroups = DG_CONTROL | DG_IMAGE | extraGroups;
    std::strncpy(id.Manufacturer, "Quillora Tests", 33);
    std::strncpy(id.ProductFamily, "Tests", 33);
    std::strncpy(id.ProductName, name, 33);
    return id;
}

inline std::string NameOf(const TW_IDENTITY &id)
{
    return std::string(id.ProductName, strnlen(id.ProductName, sizeof id.ProductName));
}

// The test source's dialog, if one is shown.
inline QDialog *SourceDialog()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->objectName() == QLatin1String("QuilloraTestSourceDialog") && w->isVisible())
            return qobject_cast<QDialog *>(w);
    }
    return nullptr;
}

// Clicks "Scannen" ("scan") or "Abbrechen" ("cancel") in the source's dialog.
inline bool ClickInSourceDialog(const char *button)
{
    QDialog *d = SourceDialog();
    if (!d)
        return false;
    auto *b = d->findChild<QPushButton *>(QString::fromLatin1(button));
    if (!b)
        return false;
    b->click();
    return true;
}

class DsmFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing_support::EnsureQtApplication();
        blocks_ = platform::GlobalLiveBlocks();
        module_ = LoadLibrary(testsupport::ManagerFile());
        ASSERT_NE(module_, nullptr);
        entry_ = reinterpret_cast<DSMENTRYPROC>(GetProcAddress(module_, WORD(1)));
        ASSERT_NE(entry_, nullptr);
    }

    void TearDown() override
    {
        if (module_)
            FreeLibrary(module_);
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(platform::GlobalLiveBlocks(), blocks_) << "global blocks leaked";
    }

    TW_UINT16 Call(TW_IDENTITY &app, TW_IDENTITY *dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void *data)
    {
        return entry_(&app, dest, dg, dat, msg, data);
    }
    TW_UINT16 Open(TW_IDENTITY &app)
    {
        TW_HANDLE parent = nullptr;
        return Call(app, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &parent);
    }
    TW_UINT16 Close(TW_IDENTITY &app)
    {
        TW_HANDLE parent = nullptr;
        return Call(app, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent);
    }
    // The manager's condition for |app| (DAT_STATUS without destination).
    TW_UINT16 Condition(TW_IDENTITY &app)
    {
        TW_STATUS status{};
        status.ConditionCode = 0xEEEE;
        EXPECT_EQ(Call(app, nullptr, DG_CONTROL, DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);
        return status.ConditionCode;
    }
    // Names listed by MSG_GETFIRST / MSG_GETNEXT, with their Ids.
    std::vector<std::pair<std::string, TW_UINT32>> List(TW_IDENTITY &app)
    {
        std::vector<std::pair<std::string, TW_UINT32>> out;
        TW_IDENTITY id{};
        TW_UINT16 rc = Call(app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &id);
        while (rc == TWRC_SUCCESS && out.size() < 100) {
            out.emplace_back(NameOf(id), id.Id);
            rc = Call(app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &id);
        }
        EXPECT_EQ(rc, TWRC_ENDOFLIST);
        return out;
    }
    std::vector<std::string> Names(TW_IDENTITY &app)
    {
        std::vector<std::string> names;
        for (const auto &[name, id] : List(app))
            names.push_back(name);
        return names;
    }
    // Opens the source named |name| for |app|; the identity as opened.
    TW_IDENTITY OpenSource(TW_IDENTITY &app, const char *name, TW_UINT16 expect = TWRC_SUCCESS)
    {
        TW_IDENTITY id{};
        std::strncpy(id.ProductName, name, 33);
        EXPECT_EQ(Call(app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &id), expect) << name;
        return id;
    }

    testsupport::TestSourceFolder folder;
    HMODULE module_ = nullptr;
    DSMENTRYPROC entry_ = nullptr;

private:
    long blocks_ = 0;
};

// The Data Source Manager through its exported DSM_Entry: connections,
// listing, the state checks and the source objects it refuses.

#include "DsmFixture.h"

#include <QDir>
#include <QFile>

#include <functional>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

using testsupport::ScriptedSource;

namespace {

class Manager : public DsmFixture {};

TEST_F(Manager, GivesEachApplicationItsOwnConnectionIdAndCondition)
{
    folder.AddObject({ScriptedSource("Eins")});
    TW_IDENTITY library = AppIdentity("Library");
    TW_IDENTITY direct = AppIdentity("Direct", DF_APP2);
    ASSERT_EQ(Open(library), TWRC_SUCCESS);
    ASSERT_EQ(Open(direct), TWRC_SUCCESS);
    EXPECT_NE(Copy(library.Id), 0u);
    EXPECT_NE(Copy(direct.Id), 0u);
    EXPECT_NE(Copy(library.Id), Copy(direct.Id));
    // DF_DSM2 only for the application that declared DF_APP2.
    EXPECT_EQ(library.SupportedGroups & DF_DSM2, 0u);
    EXPECT_EQ(direct.SupportedGroups & DF_DSM2, DF_DSM2);

    // A failure of one application is not the other's.
    TW_IDENTITY id{};
    EXPECT_EQ(Call(library, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &id), TWRC_FAILURE);
    EXPECT_EQ(Condition(direct), TWCC_SUCCESS);
    EXPECT_EQ(Condition(library), TWCC_SEQERROR);
    EXPECT_EQ(Condition(library), TWCC_SUCCESS) << "reading the condition clears it";

    EXPECT_EQ(Close(library), TWRC_SUCCESS);
    EXPECT_EQ((std::vector<std::string>{"Eins"}), Names(direct));
    EXPECT_EQ(Close(direct), TWRC_SUCCESS);

    // Opened again: a new connection.
    TW_IDENTITY again = AppIdentity("Library");
    ASSERT_EQ(Open(again), TWRC_SUCCESS);
    EXPECT_EQ(Names(again), (std::vector<std::string>{"Eins"}));
    EXPECT_EQ(Close(again), TWRC_SUCCESS);
}

// A program opens the manager for every scan: a connection that was closed
// leaves nothing behind.
TEST_F(Manager, OpeningAndClosingAgainAndAgainKeepsItsMemory)
{
    folder.AddObject({ScriptedSource("Eins")});
    TW_IDENTITY app = AppIdentity("Library");
    auto cycle = [&] {
        ASSERT_EQ(Open(app), TWRC_SUCCESS);
        ASSERT_EQ(Close(app), TWRC_SUCCESS);
    };
    for (int i = 0; i < 100; ++i)
        cycle();
    const std::size_t before = mallinfo2().uordblks;
    for (int i = 0; i < 20000; ++i)
        cycle();
    // Kept per connection, this was 20000 identities (over 3 MB).
    EXPECT_LT(mallinfo2().uordblks, before + 256 * 1024);
}

TEST_F(Manager, ListsSourcesInFolderFileAndObjectOrderWithStableIds)
{
    testsupport::TestSourceFolder second;
    folder.AddObject({ScriptedSource("Zeta"), ScriptedSource("Alpha")}, "b.ds");
    folder.AddObject({ScriptedSource("Mitte")}, "a.ds");
    folder.AddObject({ScriptedSource("Hersteller")}, "c.ds", "vendor");
    second.AddObject({ScriptedSource("Zweiter Ordner")});
    qputenv("QUILLORA_DSM_SOURCES", QFile::encodeName(folder.Path() + u':' + second.Path()));

    TW_IDENTITY app = AppIdentity("App");
    ASSERT_EQ(Open(app), TWRC_SUCCESS);
    const auto first = List(app);
    const std::vector<std::string> expected{"Mitte", "Zeta", "Alpha", "Hersteller", "Zweiter Ordner"};
    ASSERT_EQ(first.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(first[i].first, expected[i]);
    EXPECT_EQ(List(app), first) << "the same order and Ids at every listing";

    TW_IDENTITY def{};
    EXPECT_EQ(Call(app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &def), TWRC_SUCCESS);
    EXPECT_EQ(NameOf(def), "Mitte");
    EXPECT_EQ(Copy(def.Id), first[0].second);

    // Another application sees the same Ids.
    TW_IDENTITY other = AppIdentity("Other");
    ASSERT_EQ(Open(other), TWRC_SUCCESS);
    EXPECT_EQ(List(other), first);
    EXPECT_EQ(Close(other), TWRC_SUCCESS);
    EXPECT_EQ(Close(app), TWRC_SUCCESS);
}

TEST_F(Manager, OpensTheSourceByIdOrNameAndForwardsItsTriplets)
{
    folder.AddObject({ScriptedSource("Erste"), ScriptedSource("Zweite")});
    TW_IDENTITY app = AppIdentity("App");
    ASSERT_EQ(Open(app), TWRC_SUCCESS);
    const auto listed = List(app);
    ASSERT_EQ(listed.size(), 2u);

    // By name: the identity comes back complete, with the manager's Id.
    TW_IDENTITY second = OpenSource(app, "Zweite");
    EXPECT_EQ(Copy(second.Id), listed[1].second);
    EXPECT_EQ(std::string(second.Manufacturer), "Quillora");
    TW_CAPABILITY cap{ICAP_PIXELTYPE, TWON_DONTCARE16, nullptr};
    ASSERT_EQ(Call(app, &second, DG_CONTROL, DAT_CAPABILITY, MSG_GETCURRENT, &cap), TWRC_SUCCESS);
    ASSERT_NE(Copy(cap.hContainer), nullptr);
    const auto *one = static_cast<const TW_ONEVALUE *>(GlobalLock(cap.hContainer));
    EXPECT_EQ(one->Item & 0xFFFF, TWPT_RGB);
    GlobalUnlock(cap.hContainer);
    GlobalFree(cap.hContainer); // allocated by the source, freed here
    // One source per object and application.
    OpenSource(app, "Erste", TWRC_FAILURE);
    EXPECT_EQ(Condition(app), TWCC_MAXCONNECTIONS);
    EXPECT_EQ(Call(app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &second), TWRC_SUCCESS);

    // By Id alone.
    TW_IDENTITY byId{};
    byId.Id = listed[0].second;
    ASSERT_EQ(Call(app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &byId), TWRC_SUCCESS);
    EXPECT_EQ(NameOf(byId), "Erste");
    EXPECT_EQ(Call(app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &byId), TWRC_SUCCESS);
    EXPECT_EQ(Close(app), TWRC_SUCCESS);
}

TEST_F(Manager, ASourceThatRefusesToOpenLeavesItsConditionWithTheManager)
{
    folder.AddObject({ScriptedSource("Stur").With("fail OPENDS TWCC_OPERATIONERROR")});
    TW_IDENTITY app = AppIdentity("App");
    ASSERT_EQ(Open(app), TWRC_SUCCESS);
    OpenSource(app, "Stur", TWRC_FAILURE);
    EXPECT_EQ(Condition(app), TWCC_OPERATIONERROR);
    OpenSource(app, "Niemand", TWRC_FAILURE);
    EXPECT_EQ(Condition(app), TWCC_NODS);
    EXPECT_EQ(Close(app), TWRC_SUCCESS) << "nothing was left open";
}

// --- wrong calls ------------------------------------------------------------------

enum class Start { Closed, Open, SourceOpen };

struct WrongCall {
    const char *what;
    Start start;
    std::function<TW_UINT16(DsmFixture &, TW_IDENTITY &app, TW_IDENTITY &source)> call;
    TW_UINT16 condition;
};

class ManagerWrongCall : public DsmFixture, public ::testing::WithParamInterface<WrongCall> {
public:
    // Makes the protected members of the fixture reachable for the table.
    TW_UINT16 Raw(TW_IDENTITY &app, TW_IDENTITY *dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void *data)
    {
        return Call(app, dest, dg, dat, msg, data);
    }
};

TW_UINT16 raw(DsmFixture &f, TW_IDENTITY &app, TW_IDENTITY *dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
              void *data)
{
    return static_cast<ManagerWrongCall &>(f).Raw(app, dest, dg, dat, msg, data);
}

TEST_P(ManagerWrongCall, FailsWithItsConditionAndChangesNothing)
{
    const WrongCall &c = GetParam();
    folder.AddObject({ScriptedSource("Quelle")});
    TW_IDENTITY app = AppIdentity("App");
    TW_IDENTITY source{};
    if (c.start != Start::Closed) {
        ASSERT_EQ(Open(app), TWRC_SUCCESS);
    }
    if (c.start == Start::SourceOpen)
        source = OpenSource(app, "Quelle");
    const TW_IDENTITY appBefore = app;

    EXPECT_EQ(c.call(*this, app, source), TWRC_FAILURE) << c.what;
    EXPECT_EQ(Condition(app), c.condition) << c.what;
    EXPECT_EQ(std::memcmp(&app, &appBefore, sizeof app), 0) << c.what;

    // Still in the state it was in.
    TW_IDENTITY id{};
    switch (c.start) {
    case Start::Closed:
        EXPECT_EQ(Call(app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &id), TWRC_FAILURE);
        EXPECT_EQ(Condition(app), TWCC_SEQERROR);
        break;
    case Start::Open:
        EXPECT_EQ(Names(app), std::vector<std::string>{"Quelle"});
        EXPECT_EQ(Close(app), TWRC_SUCCESS);
        break;
    case Start::SourceOpen: {
        TW_PENDINGXFERS pending{};
        EXPECT_EQ(Call(app, &source, DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending), TWRC_SUCCESS);
        EXPECT_EQ(Call(app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source), TWRC_SUCCESS);
        EXPECT_EQ(Close(app), TWRC_SUCCESS);
        break;
    }
    }
}

TW_IDENTITY named(const char *name)
{
    TW_IDENTITY id{};
    std::strncpy(id.ProductName, name, 33);
    return id;
}

const WrongCall kWrongCalls[] = {
    {"listing before MSG_OPENDSM", Start::Closed,
     [](DsmFixture &f, TW_IDENTITY &app, TW_IDENTITY &) {
         TW_IDENTITY id{};
         return raw(f, app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &id);
     },
     TWCC_SEQERROR},
    {"MSG_CLOSEDSM while closed", Start::Closed,
     [](DsmFixture &f, TW_IDENTITY &app, TW_IDENTITY &) {
         TW_HANDLE parent = nullptr;
         return raw(f, app, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent);
     },
     TWCC_SEQERROR},
    {"MSG_OPENDS before MSG_OPENDSM", Start::Closed,
     [](DsmFixture &f, TW_IDENTITY &app, TW_IDENTITY &) {
         TW_IDENTITY id = named("Quelle");
         return raw(f, app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &id);
     },
     TWCC_SEQERROR},
    {"MSG_OPENDSM twice", Start::Open,
     [](DsmFixture &f, TW_IDENTITY &app, TW_IDENTITY &) {
         TW_HANDLE parent = nullptr;
         return raw(f, app, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &parent);
     },
     TWCC_SEQERROR},
    {"MSG_GETNEXT before MSG_GETFIRST", Start::Open,
     [](DsmFixture &f, TW_IDENTITY &app, TW_IDENTITY &) {
         TW_IDENTITY id{};
         return raw(f, app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &id);
     },
     TWCC_SEQERROR},
    {"MSG_CLOSEDS of a source not open", Start::Open,
     [](DsmFixture &f, TW_IDENTITY &app, TW_IDENTITY &) {
         TW_IDENTITY id = named("Quelle");
         return raw(f, app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &id);
     },
     TWCC_SEQERROR},
    {"a triplet for a source not open", Start::Open,
     [](DsmFixture &f, TW_IDENTITY &app, TW_IDENTITY &) {
         TW_IDENTITY id{};
         id.Id = 4711;
         TW_PENDINGXFERS pending{};
         return raw(f, app, &id, DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending);
     },
     TWCC_BADDEST},
    {"a triplet the manager does not know", Start::Open,
     [](DsmFixture &f, TW_IDENTITY &app, TW_IDENTITY &) {
         TW_PENDINGXFERS pending{};
         return raw(f, app, nullptr, DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending);
     },
     TWCC_BADPROTOCOL},
    {"DAT_ENTRYPOINT without DF_APP2", Start::Open,
     [](DsmFixture &f, TW_IDENTITY &app, TW_IDENTITY &) {
         TW_ENTRYPOINT e{};
         e.Size = sizeof e;
         return raw(f, app, nullptr, DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &e);
     },
     TWCC_BADPROTOCOL},
    {"MSG_CLOSEDSM with a source open", Start::SourceOpen,
     [](DsmFixture &f, TW_IDENTITY &app, TW_IDENTITY &) {
         TW_HANDLE parent = nullptr;
         return raw(f, app, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent);
     },
     TWCC_SEQERROR},
    {"MSG_OPENDS of a source open already", Start::SourceOpen,
     [](DsmFixture &f, TW_IDENTITY &app, TW_IDENTITY &source) {
         TW_IDENTITY id = source;
         return raw(f, app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &id);
     },
     TWCC_SEQERROR},
    {"a callback for a source not open", Start::SourceOpen,
     [](DsmFixture &f, TW_IDENTITY &app, TW_IDENTITY &) {
         TW_IDENTITY id{};
         id.Id = 4711;
         TW_CALLBACK cb{};
         return raw(f, app, &id, DG_CONTROL, DAT_CALLBACK, MSG_REGISTER_CALLBACK, &cb);
     },
     TWCC_BADDEST},
};

INSTANTIATE_TEST_SUITE_P(States, ManagerWrongCall, ::testing::ValuesIn(kWrongCalls),
                         [](const ::testing::TestParamInfo<WrongCall> &info) {
                             std::string n;
                             for (const char *p = info.param.what; *p; ++p)
                                 n += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return n;
                         });

// --- source objects it refuses -------------------------------------------------------

TEST_F(Manager, SkipsBrokenAndUnsafeSourceObjectsAndListsTheOthers)
{
    folder.AddObject({ScriptedSource("Gut A")}, "a.ds");
    folder.AddFile("b-kein-elf.ds", "this is no shared object");
    ASSERT_TRUE(QFile::copy(QStringLiteral(PROBE_NOENTRY_PATH), folder.Path() + "c-ohne-entry.ds"));
    const QString groupWritable = folder.AddObject({ScriptedSource("Gruppe")}, "d-gruppe.ds");
    ASSERT_EQ(::chmod(QFile::encodeName(groupWritable).constData(), 0775), 0);
    folder.AddObject({ScriptedSource("Offen")}, "e.ds", "offen");
    ASSERT_EQ(::chmod(QFile::encodeName(folder.Path() + "offen").constData(), 0777), 0);
    folder.AddObject({ScriptedSource("Gut Z")}, "z.ds");
    std::vector<std::string> expected{"Gut A", "Gut Z"};
    if (::geteuid() == 0) {
        const QString foreign = folder.AddObject({ScriptedSource("Fremd")}, "f-fremd.ds");
        ASSERT_EQ(::chown(QFile::encodeName(foreign).constData(), 12345, 12345), 0);
    }

    TW_IDENTITY app = AppIdentity("App");
    ASSERT_EQ(Open(app), TWRC_SUCCESS);
    EXPECT_EQ(Names(app), expected);

    // Mended while the manager stays open: listed at the next listing.
    ASSERT_EQ(::chmod(QFile::encodeName(groupWritable).constData(), 0755), 0);
    EXPECT_EQ(Names(app), (std::vector<std::string>{"Gut A", "Gruppe", "Gut Z"}));
    EXPECT_EQ(Close(app), TWRC_SUCCESS);
}

} // namespace

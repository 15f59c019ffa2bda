// The document workflow under failures: documents that cannot be loaded,
// saves killed at random moments.
#include "DocumentHelpers.h"
#include "MainWindowFixture.h"

#include "app/DocumentSave.h"
#include "app/Records.h"
#include "platform/BmpFile.h"
#include "platform/Files.h"
#include "platform/Jpeg.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <cstring>
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <random>

using namespace document_test;

namespace {

class DocumentFaults : public DocumentFolderFixture {};

// A JPEG file whose frame header claims |w| x |h| pixels.
std::vector<std::uint8_t> jpegClaiming(int w, int h)
{
    std::vector<std::uint8_t> b = platform::encodeJpeg(gradient(16, 16), 75);
    for (std::size_t i = 0; i + 9 < b.size(); ++i) {
        if (b[i] == 0xFF && b[i + 1] == 0xC0) {
            b[i + 5] = std::uint8_t(h >> 8);
            b[i + 6] = std::uint8_t(h);
            b[i + 7] = std::uint8_t(w >> 8);
            b[i + 8] = std::uint8_t(w);
            return b;
        }
    }
    ADD_FAILURE() << "no frame header";
    return b;
}

struct Undecodable {
    const char *what;
    std::vector<std::uint8_t> bytes;
    QString error; // as the error box shows it
    friend void PrintTo(const Undecodable &u, std::ostream *os) { *os << u.what; }
};

class FailedOpen : public DocumentFaults, public ::testing::WithParamInterface<Undecodable> {};

} // namespace

// A document that cannot be loaded leaves no picture behind that turning and
// saving could write under its name.
TEST_P(FailedOpen, LeavesNothingToWriteOverTheDocument)
{
    writeBytes(DocumentDir() + "a.jpg", platform::encodeJpeg(gradient(24, 16), 75));
    writeBytes(DocumentDir() + "b.jpg", GetParam().bytes);
    TForm1 &f = Start();
    f.ListBox1->setCurrentRow(rowOf(f.ListBox1, "a.jpg"));
    ASSERT_EQ(f.Image1->Picture().size(), QSize(24, 16));

    f.ListBox1->setCurrentRow(rowOf(f.ListBox1, "b.jpg"));
    EXPECT_EQ(boxes.errors(), QStringList{GetParam().error});
    EXPECT_TRUE(f.SpeedButton5->isEnabled()) << "the rotate glyph keeps its state";
    EXPECT_TRUE(f.Image1->Picture().isNull());

    boxes.AnswerConfirmations({true});
    f.SpeedButton5->click();
    ASSERT_TRUE(f.SpeedButton4->isEnabled());
    f.SpeedButton4->click();
    EXPECT_EQ(fileBytes(DocumentDir() + "b.jpg"), GetParam().bytes);
    EXPECT_EQ(QDir(DocumentDir()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

INSTANTIATE_TEST_SUITE_P(Documents, FailedOpen,
                         ::testing::Values(Undecodable{"damaged",
                                                       {'k', 'e', 'i', 'n', ' ', 'B', 'i', 'l', 'd'},
                                                       "Keine JPEG-Datei: beginnt mit 0x6b 0x65"},
                                           Undecodable{"huge", jpegClaiming(30000, 30000),
                                                       "Das Bild ist zu groß oder leer."}),
                         [](const auto &info) { return std::string(info.param.what); });

// ---- saves killed at random moments ---------------------------------------

namespace {

// Whether |path| holds a whole picture of |size|: it decodes, and a JPEG
// file ends with its end-of-image marker (the decoder accepts a cut file
// with a warning).
bool decodesWhole(const QString &path, QSize size)
{
    try {
        platform::Picture p;
        p.loadFromFile(path);
        if (QSize(p.width(), p.height()) != size)
            return false;
        if (p.kind() == platform::Picture::Kind::Jpeg) {
            const auto &b = p.jpegData();
            return b.size() >= 2 && b[b.size() - 2] == 0xFF && b[b.size() - 1] == 0xD9;
        }
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

const QSize kLoopPicture(640, 480);

// Saves new documents and the settings record into |folder| until killed.
[[noreturn]] void saveUntilKilled(const QString &folder)
{
    try {
        platform::Picture picture;
        picture.setBitmap(gradient(kLoopPicture.width(), kLoopPicture.height()));
        optionen settings{};
        SetShortString(settings.pfad, 255, folder);
        for (unsigned n = 0;; ++n) {
            quillora::writeNewDocument(picture, folder, QStringLiteral("Akte%1").arg(n % 4));
            WriteRecordFile(folder + QStringLiteral("Einstellung.opt"), &settings, sizeof settings);
        }
    } catch (...) {
    }
    ::_exit(1);
}

} // namespace

TEST_F(DocumentFaults, KilledSavesLeaveWholeDocumentsAndNoDebris)
{
    TForm1 &f = Start();
    const unsigned seed = unsigned(std::chrono::steady_clock::now().time_since_epoch().count());
    std::mt19937 random(seed);
    SCOPED_TRACE("seed " + std::to_string(seed));

    // Kills land anywhere in a child's first three saves, however fast the
    // machine (and however slow a fork under the sanitizers) is: a child is
    // timed from its fork to its first whole document first.
    QTemporaryDir scratch;
    const QString scratchDir = scratch.path() + "/";
    const auto started = std::chrono::steady_clock::now();
    const pid_t probe = ::fork();
    ASSERT_GE(probe, 0);
    if (probe == 0)
        saveUntilKilled(scratchDir);
    while (QDir(scratchDir).entryList({QStringLiteral("*.jpg")}, QDir::Files).isEmpty() &&
           std::chrono::steady_clock::now() - started < std::chrono::seconds(60))
        ::usleep(200);
    const auto firstSave =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started).count();
    ::kill(probe, SIGKILL);
    ::waitpid(probe, nullptr, 0);
    std::uniform_int_distribution<long> moment(0, 3 * std::max<long>(firstSave, 1000));

    constexpr int kKills = 60;
    for (int kill = 0; kill < kKills; ++kill) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0)
            saveUntilKilled(DocumentDir());
        ::usleep(useconds_t(moment(random)));
        ASSERT_EQ(::kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child stopped saving by itself";

        f.Dir_Listbox_fuellen(nullptr);
        for (const QString &name : listEntries(f.ListBox1))
            EXPECT_TRUE(decodesWhole(DocumentDir() + name, kLoopPicture)) << "kill " << kill << ": " << name.toStdString();
        for (const QString &name : QDir(DocumentDir()).entryList(QDir::Files | QDir::Hidden))
            EXPECT_FALSE(name.contains(QLatin1String(".quillora-"))) << "kill " << kill << ": " << name.toStdString();
        const QByteArray settings = ReadFile(DocumentDir() + "Einstellung.opt");
        EXPECT_TRUE(settings.isEmpty() || settings.size() == 352) << "kill " << kill;
        if (HasFailure())
            break;
    }
    EXPECT_FALSE(listEntries(f.ListBox1).isEmpty());
}

// ---- names that are not UTF-8 -------------------------------------------

namespace {

void writeNative(const QByteArray &path, const std::vector<std::uint8_t> &bytes)
{
    FILE *f = std::fopen(path.constData(), "wb");
    ASSERT_NE(f, nullptr) << path.constData();
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    std::fclose(f);
}

QSize nativePictureSize(const QByteArray &path)
{
    platform::Picture p;
    p.loadFromFile(path);
    return QSize(p.width(), p.height());
}

} // namespace

// A stored folder and documents named in Latin-1: shown with the
// replacement character, used by their bytes.
TEST_F(DocumentFaults, NamesThatAreNoUtf8AreUsedByTheirBytes)
{
    const QByteArray folder = QFile::encodeName(DocumentDir()) + "Bel\xe4ge/";
    ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
    const QByteArray buero = "B\xfcro.jpg";
    writeNative(folder + buero, platform::encodeJpeg(gradient(24, 16), 75));
    writeNative(folder + "Akte.jpg", platform::encodeJpeg(gradient(8, 8), 75));
    optionen stored{};
    stored.pfad[0] = std::uint8_t(folder.size());
    std::memcpy(stored.pfad + 1, folder.constData(), std::size_t(folder.size()));
    const QByteArray settings(reinterpret_cast<const char *>(&stored), sizeof stored);
    WriteProgramFile("Einstellung.opt", settings);

    TForm1 &f = Start();
    const QString shown = QStringLiteral("B\uFFFDro.jpg");
    ASSERT_EQ(listEntries(f.ListBox1).size(), 2);
    ASSERT_GE(rowOf(f.ListBox1, shown), 0);
    EXPECT_TRUE(f.Label3->text().endsWith(QStringLiteral("Bel\uFFFDge/")));

    // Opened, turned and saved over itself.
    f.ListBox1->setCurrentRow(rowOf(f.ListBox1, shown));
    EXPECT_EQ(f.Image1->Picture().size(), QSize(24, 16));
    f.SpeedButton5->click();
    boxes.AnswerConfirmations({true});
    f.SpeedButton4->click();
    EXPECT_EQ(nativePictureSize(folder + buero), QSize(16, 24));

    // Saved as new under the unedited name: its bytes; once edited: UTF-8.
    f.ListBox1->setCurrentRow(rowOf(f.ListBox1, "Akte.jpg"));
    f.ListBox1->setCurrentRow(rowOf(f.ListBox1, shown));
    ::unlink((folder + buero).constData());
    f.Speichern(nullptr);
    EXPECT_EQ(nativePictureSize(folder + buero), QSize(16, 24));
    f.ListBox1->setCurrentRow(rowOf(f.ListBox1, shown));
    f.Edit1->setFocus();
    f.Edit1->end(false);
    for (int i = 0; i < 4; ++i)
        QTest::keyClick(f.Edit1, Qt::Key_Backspace);
    ASSERT_EQ(f.Edit1->text(), QStringLiteral("B\uFFFDro"));
    f.Speichern(nullptr);
    EXPECT_TRUE(platform::NativeFileExists(folder + QStringLiteral("B\uFFFDro.jpg").toUtf8()));

    // Deleted by its bytes: two entries look alike now, each deletes its own.
    const QList<QListWidgetItem *> alike = f.ListBox1->findItems(shown, Qt::MatchExactly);
    ASSERT_EQ(alike.size(), 2);
    f.ListBox1->setCurrentItem(alike.first());
    boxes.AnswerConfirmations({true});
    f.Button3->click();
    EXPECT_EQ(listEntries(f.ListBox1).size(), 2);
    EXPECT_NE(platform::NativeFileExists(folder + buero),
              platform::NativeFileExists(folder + QStringLiteral("B\uFFFDro.jpg").toUtf8()));
    EXPECT_TRUE(boxes.errors().isEmpty()) << boxes.errors().join('\n').toStdString();
    EXPECT_EQ(ReadProgramFile("Einstellung.opt"), settings) << "the stored folder keeps its bytes";
}

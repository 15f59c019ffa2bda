// Saving the shown picture as a new or an existing document, and turning it.
#include "DocumentHelpers.h"
#include "MainWindowFixture.h"

#include "platform/BmpFile.h"
#include "platform/Jpeg.h"

#include <QDir>

#include <csignal>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace document_test;
using testing_support::ShownBox;

namespace {

const QString kOverwrite = QStringLiteral(
    "          Die Datei ist bereits vorhanden.   \n  möchten Sie die Datei trotzdem speichern\n"
    "   und die vorhandene Datei überschreiben?         \n");

class SaveRotate : public DocumentFolderFixture {
protected:
    std::vector<std::uint16_t> quantTable(const QString &name) const
    {
        const auto b = fileBytes(DocumentDir() + name);
        return platform::jpegQuantTable(b.data(), b.size());
    }
    QStringList files() const
    {
        return QDir(DocumentDir()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
};

} // namespace

TEST_F(SaveRotate, ANewSaveReplacesAtQuality20AndResetsTheName)
{
    writeBytes(DocumentDir() + "Brief.jpg", platform::encodeJpeg(gradient(10, 10), 90));
    TForm1 &f = Start();
    boxes.clear();
    simulateScan(f, "Brief", gradient(60, 40)); // the typed name has no ".jpg"
    boxes.clear();
    f.Button2->click();
    EXPECT_TRUE(boxes.shown().empty()) << "no question";
    EXPECT_EQ(quantTable("Brief.jpg"), platform::jpegDefaultQuantTable(20));
    EXPECT_EQ(files(), QStringList{"Brief.jpg"}) << "no bitmap or temporary file left";
    EXPECT_EQ(listEntries(f.ListBox1), QStringList{"Brief.jpg"});
    EXPECT_EQ(f.Edit1->text(), QString());
    EXPECT_FALSE(f.Button2->isEnabled());
    EXPECT_FALSE(f.Button4->isEnabled());
    EXPECT_FALSE(f.Image1->isHidden());
    EXPECT_EQ(Unit1::datei_m, "Brief.jpg");

    // Only ".jpg" and ".Jpg" are taken off a typed name.
    simulateScan(f, "Akte.JPG", gradient(20, 20));
    f.Button2->click();
    EXPECT_TRUE(QFile::exists(DocumentDir() + "Akte.JPG.jpg"));
    simulateScan(f, "Notiz.Jpg", gradient(20, 20));
    f.Button2->click();
    EXPECT_TRUE(QFile::exists(DocumentDir() + "Notiz.jpg"));
}

TEST_F(SaveRotate, AnExistingNameAsksAndWritesQuality90OnlyOnYes)
{
    writeBytes(DocumentDir() + "Brief.jpg", platform::encodeJpeg(gradient(10, 10), 50));
    const auto before = fileBytes(DocumentDir() + "Brief.jpg");
    TForm1 &f = Start();
    simulateScan(f, "Brief.jpg", gradient(30, 20));
    boxes.clear();

    boxes.AnswerConfirmations({false});
    f.Button2->click();
    EXPECT_EQ(boxes.texts(), QStringList{kOverwrite});
    EXPECT_EQ(fileBytes(DocumentDir() + "Brief.jpg"), before);

    boxes.AnswerConfirmations({true});
    f.Button2->click();
    EXPECT_EQ(quantTable("Brief.jpg"), platform::jpegDefaultQuantTable(90));
    EXPECT_EQ(f.Edit1->text(), "Brief.jpg") << "nothing else changes";
    EXPECT_TRUE(f.Button2->isEnabled());
    EXPECT_EQ(files(), QStringList{"Brief.jpg"});
}

TEST_F(SaveRotate, AnOpenedJpegOverwrittenUnturnedKeepsItsBytes)
{
    writeBytes(DocumentDir() + "Brief.jpg", platform::encodeJpeg(gradient(30, 20), 37));
    const auto before = fileBytes(DocumentDir() + "Brief.jpg");
    TForm1 &f = Start();
    f.ListBox1->setCurrentRow(0);
    boxes.AnswerConfirmations({true});
    f.Button2Click(f.Button2);
    EXPECT_EQ(fileBytes(DocumentDir() + "Brief.jpg"), before);

    // Turned, it is encoded again, H x W, and the glyphs change.
    f.SpeedButton5->click();
    EXPECT_EQ(f.Image1->Picture().size(), QSize(20, 30));
    EXPECT_FALSE(f.Button2->isEnabled());
    EXPECT_TRUE(f.SpeedButton4->isEnabled());
    boxes.AnswerConfirmations({true});
    f.SpeedButton4->click();
    const auto after = fileBytes(DocumentDir() + "Brief.jpg");
    EXPECT_EQ(platform::decodeJpeg(after.data(), after.size()).size(), QSize(20, 30));
    EXPECT_EQ(quantTable("Brief.jpg"), platform::jpegDefaultQuantTable(90));
    EXPECT_FALSE(f.SpeedButton4->isEnabled());
    EXPECT_TRUE(f.SpeedButton5->isEnabled());
    EXPECT_TRUE(f.SpeedButton3->isEnabled());
}

TEST_F(SaveRotate, ATurnedBitmapDocumentIsSavedAsABitmapAndOpensAgain)
{
    writeBytes(DocumentDir() + "Scan.bmp", platform::encodeBmp(gradient(12, 5)));
    TForm1 &f = Start();
    f.ListBox1->setCurrentRow(0);
    f.SpeedButton5->click();
    EXPECT_EQ(f.Image1->Picture().size(), QSize(5, 12));
    boxes.AnswerConfirmations({true});
    f.SpeedButton4->click();
    EXPECT_TRUE(boxes.errors().isEmpty());
    f.ListBox1->clearSelection();
    f.ListBox1->setCurrentRow(-1);
    f.Image1->SetPicture(QImage());
    f.ListBox1->setCurrentRow(0);
    EXPECT_TRUE(boxes.errors().isEmpty()) << boxes.errors().join("|").toStdString();
    EXPECT_EQ(f.Image1->Picture().size(), QSize(5, 12));
}

TEST_F(SaveRotate, NoTurnForANameWithoutExtensionButTheButtonsChange)
{
    TForm1 &f = Start();
    const QImage scan = gradient(30, 20);
    simulateScan(f, "Brief", scan);
    f.SpeedButton4->setEnabled(false);
    f.SpeedButton5->setEnabled(true);
    f.SpeedButton5->click();
    EXPECT_EQ(f.Image1->Picture(), scan);
    EXPECT_FALSE(f.Button2->isEnabled());
    EXPECT_TRUE(f.SpeedButton4->isEnabled());

    // With ".jpg" typed, the scanned bitmap is turned.
    simulateScan(f, "Brief.JPG", scan);
    f.SpeedButton5->click();
    EXPECT_EQ(f.Image1->Picture().size(), QSize(20, 30));
}

TEST_F(SaveRotate, AnEmptyNameWritesNothingAndReportsNothing)
{
    TForm1 &f = Start();
    simulateScan(f, "", gradient(8, 8));
    boxes.clear();
    f.Button2->click();
    EXPECT_TRUE(boxes.shown().empty());
    EXPECT_TRUE(files().isEmpty());
    EXPECT_TRUE(f.Button2->isEnabled());
    EXPECT_EQ(Unit1::datei_m, QString());
}

TEST_F(SaveRotate, AFailedWriteShowsTheErrorAndLosesNothing)
{
    writeBytes(DocumentDir() + "Brief.jpg", platform::encodeJpeg(gradient(10, 10), 50));
    const auto before = fileBytes(DocumentDir() + "Brief.jpg");
    TForm1 &f = Start();

    // A write error part way (as on a full disk), for any user.
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 200;
    setrlimit(RLIMIT_FSIZE, &small);
    simulateScan(f, "Brief.jpg", gradient(64, 64));
    boxes.clear();
    boxes.AnswerConfirmations({true});
    f.Button2->click();
    simulateScan(f, "Neu", gradient(64, 64));
    f.Button2->click();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    ASSERT_EQ(boxes.errors().size(), 2);
    EXPECT_TRUE(boxes.errors()[0].startsWith("Die Datei \"" + DocumentDir() + "Brief.jpg\"")) << boxes.errors()[0].toStdString();
    EXPECT_EQ(fileBytes(DocumentDir() + "Brief.jpg"), before);
    EXPECT_EQ(f.Edit1->text(), "Neu") << "the name field keeps its text";
    EXPECT_FALSE(QFile::exists(DocumentDir() + "Neu.jpg"));
    for (const QString &name : files())
        EXPECT_FALSE(name.endsWith(".tmp")) << name.toStdString();
}

TEST_F(SaveRotate, ASaveIntoAReadOnlyFolderShowsTheErrorAndLosesNothing)
{
    writeBytes(DocumentDir() + "Brief.jpg", platform::encodeJpeg(gradient(10, 10), 50));
    const auto before = fileBytes(DocumentDir() + "Brief.jpg");
    const QByteArray dir = QFile::encodeName(DocumentDir());
    ASSERT_EQ(::chmod(dir.constData(), 0555), 0);
    struct Restore {
        QByteArray d;
        bool mounted = false;
        ~Restore()
        {
            if (mounted)
                ::umount2(d.constData(), MNT_DETACH);
            ::chmod(d.constData(), 0755);
        }
    } restore{dir};
    QString deniedText = QStringLiteral("Zugriff verweigert");
    if (::access(dir.constData(), W_OK) == 0) {
        // This user (root) writes into read-only folders anyway: make the
        // folder read-only for real, with a read-only bind mount in a mount
        // namespace of this thread's own.
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount(dir.constData(), dir.constData(), nullptr, MS_BIND, nullptr) != 0)
            GTEST_SKIP() << "this user may write into read-only folders and cannot mount; "
                            "the failed write test covers the same path";
        restore.mounted = true;
        if (::mount(nullptr, dir.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
            GTEST_SKIP() << "the folder could not be made read-only";
        deniedText = QStringLiteral("schreibgeschützt");
    }

    TForm1 &f = Start();
    simulateScan(f, "Brief.jpg", gradient(20, 20));
    boxes.clear();
    boxes.AnswerConfirmations({true});
    f.Button2->click();
    simulateScan(f, "Neu", gradient(20, 20));
    f.Button2->click();
    ASSERT_EQ(boxes.errors().size(), 2);
    EXPECT_TRUE(boxes.errors()[1].contains(deniedText)) << boxes.errors()[1].toStdString();
    EXPECT_EQ(fileBytes(DocumentDir() + "Brief.jpg"), before);
    EXPECT_EQ(files(), QStringList{"Brief.jpg"});
}

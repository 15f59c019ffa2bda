// The text layer's cache file and the recognition job around it.
#include "preview/TextLayer.h"

#include "support/QtApp.h"
#include "support/ScriptedRecognition.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using platform::RecognizedWord;

const QSize kPicture(1000, 500);

std::vector<RecognizedWord> SomeWords()
{
    return {RecognizedWord{QStringLiteral("Bäckerei"), QRect(10, 20, 300, 40), 91.5f},
            RecognizedWord{QStringLiteral("23,95"), QRect(700, 450, 299, 49), 0.0f},
            RecognizedWord{QStringLiteral("EUR"), QRect(0, 0, 1, 1), 100.0f}};
}

TEST(TextCache, WordsComeBackAsTheyWereWritten)
{
    const auto back = DecodeTextCache(EncodeTextCache(kPicture, SomeWords()), kPicture);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, SomeWords());
    // A page without words is a result too.
    EXPECT_EQ(DecodeTextCache(EncodeTextCache(kPicture, {}), kPicture), std::vector<RecognizedWord>{});
}

struct Damage {
    const char *name;
    QByteArray contents;
};

class DamagedTextCache : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedTextCache, IsIgnored)
{
    EXPECT_FALSE(DecodeTextCache(GetParam().contents, kPicture).has_value());
}

const QByteArray kHead = "Quillora-Texterkennung 1 deu+eng\n1000 500\n";

INSTANTIATE_TEST_SUITE_P(
    Files, DamagedTextCache,
    ::testing::Values(Damage{"Empty", ""}, Damage{"OtherMagic", "Quillora-Texterkennung 2 deu+eng\n1000 500\n"},
                      Damage{"OtherPictureSize", "Quillora-Texterkennung 1 deu+eng\n500 1000\n"},
                      Damage{"CutShort", kHead + "10 20 300 40 915 Bäcker"},
                      Damage{"BoxOutsideThePicture", kHead + "900 20 101 40 915 Wort\n"},
                      Damage{"NegativeBox", kHead + "10 20 -3 40 915 Wort\n"},
                      Damage{"HugeNumber", kHead + "10 20 99999999999 40 915 Wort\n"},
                      Damage{"WidthPastTheEdge", kHead + "999 20 2147483647 40 915 Wort\n"},
                      Damage{"ConfidenceOver100", kHead + "10 20 30 40 1001 Wort\n"},
                      Damage{"NoText", kHead + "10 20 30 40 915 \n"},
                      Damage{"TooFewFields", kHead + "10 20 30 Wort\n"},
                      Damage{"NotANumber", kHead + "10 x 30 40 915 Wort\n"},
                      Damage{"NotUtf8", kHead + "10 20 30 40 915 B\xe4" "ckerei\n"}),
    [](const auto &info) { return std::string(info.param.name); });

class TextJobTest : public ::testing::Test {
protected:
    TextJobTest() { testing_support::EnsureQtApplication(); }
    ~TextJobTest() override { TTextRecognitionJob::WaitForAll(); }

    std::unique_ptr<TTextRecognitionJob> Run(const QByteArray &content = "document")
    {
        auto job = TTextRecognitionJob::Start(picture, content, cache.path());
        EXPECT_TRUE(job->waitForFinished(10000));
        return job;
    }

    QTemporaryDir cache;
    QImage picture{kPicture, QImage::Format_RGB32};
    testing_support::ScriptedRecognition engine;
};

TEST_F(TextJobTest, ASecondJobOnTheSameContentTakesTheCachedWords)
{
    engine.words = SomeWords();
    auto first = Run();
    EXPECT_EQ(first->state(), TTextRecognitionJob::State::Done);
    EXPECT_FALSE(first->fromCache());
    auto second = Run();
    EXPECT_EQ(second->state(), TTextRecognitionJob::State::Done);
    EXPECT_TRUE(second->fromCache());
    EXPECT_EQ(second->words(), SomeWords());
    EXPECT_EQ(engine.calls, 1);
    // Other content, or the same turned, is recognised anew.
    Run("other document");
    picture = QImage(kPicture.transposed(), QImage::Format_RGB32);
    Run();
    EXPECT_EQ(engine.calls, 3);
    EXPECT_EQ(QDir(cache.path()).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

TEST_F(TextJobTest, ADamagedCacheFileIsRecognisedAgainAndReplaced)
{
    engine.words = SomeWords();
    const QString file = TextCacheFile(cache.path(), "document", kPicture);
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(kHead + "10 20 30");
    f.close();
    auto job = Run();
    EXPECT_EQ(engine.calls, 1);
    EXPECT_EQ(job->words(), SomeWords());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(DecodeTextCache(f.readAll(), kPicture), SomeWords());
}

TEST_F(TextJobTest, AFailedRecognitionGivesNoWordsAndIsNotCached)
{
    engine.fail = true;
    auto job = Run();
    EXPECT_EQ(job->state(), TTextRecognitionJob::State::Failed);
    EXPECT_TRUE(job->words().empty());
    EXPECT_TRUE(QDir(cache.path()).isEmpty());
    // Once the engine works, the document is recognised.
    engine.fail = false;
    Run();
    EXPECT_EQ(engine.calls, 2);
}

TEST_F(TextJobTest, ACancelledJobCachesNothing)
{
    engine.hold();
    auto job = TTextRecognitionJob::Start(picture, "document", cache.path());
    job->cancel();
    EXPECT_TRUE(job->waitForFinished(10000));
    EXPECT_EQ(job->state(), TTextRecognitionJob::State::Cancelled);
    EXPECT_TRUE(QDir(cache.path()).isEmpty());
}

} // namespace

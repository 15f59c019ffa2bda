// The text layer of a document: its words, recognised on a worker thread
// while the viewer shows it, kept in a cache folder keyed by the document
// file's content, and drawn as invisible text under the picture of a PDF
// page, so the PDF can be searched and its text selected.
#pragma once

#include "platform/TextRecognition.h"

#include <QByteArray>
#include <QDialog>
#include <QObject>
#include <QRectF>
#include <QSize>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

class QPainter;

// One recognition of a document's picture.  Started on the GUI thread; the
// recognition service is looked up there and runs on a worker thread that
// touches nothing but the job's own state.  Destroying the job cancels a
// recognition that still runs.
class TTextRecognitionJob : public QObject {
    Q_OBJECT
public:
    enum class State { Running, Done, Failed, Cancelled };

    // Starts recognising |picture|.  |content| (the document file's bytes)
    // keys the cache: a result cached for the same content and picture
    // size is taken without recognising again.  |cacheFolder| empty: the
    // default one (TextCacheFolder()).
    static std::unique_ptr<TTextRecognitionJob> Start(QImage picture, QByteArray content,
                                                      QString cacheFolder = QString());
    ~TTextRecognitionJob() override;

    State state() const;
    // The words once Done; empty otherwise.
    std::vector<platform::RecognizedWord> words() const;
    // True when the words came from the cache.
    bool fromCache() const;
    const QByteArray &content() const { return content_; }
    QSize pictureSize() const { return pictureSize_; }

    // Blocks until the job is no longer Running or |msecs| have passed;
    // true when it finished.  For tests and measurements.
    bool waitForFinished(int msecs) const;
    void cancel();
    // Blocks until every recognition started so far has ended (cancelled
    // ones end early).  For tests, before the service they used goes.
    static void WaitForAll();

signals:
    // Emitted on the GUI thread once the job is no longer Running.
    void finished();

private:
    struct Shared;
    TTextRecognitionJob(std::shared_ptr<Shared> shared, QByteArray content, QSize pictureSize);
    std::shared_ptr<Shared> d;
    QByteArray content_;
    QSize pictureSize_;
};

// The folder of cached text layers: $XDG_CACHE_HOME/Quillora, or
// ~/.cache/Quillora without that variable.
QString TextCacheFolder();
// The cache file in |folder| of a document's content shown as a picture of
// |pictureSize| (a turned picture has a file of its own).
QString TextCacheFile(const QString &folder, const QByteArray &content, QSize pictureSize);

// The cache file's contents for the words of a picture of |pictureSize|,
// and back.  Decoding gives nothing for damaged contents, for another
// picture size and for words outside the picture.
QByteArray EncodeTextCache(QSize pictureSize, const std::vector<platform::RecognizedWord> &words);
std::optional<std::vector<platform::RecognizedWord>> DecodeTextCache(const QByteArray &bytes, QSize pictureSize);

// Draws |words| (boxes in pixels of a picture of |pictureSize|) as text with
// a fully transparent pen, each word stretched over its box, for the
// picture lying at |target| of |canvas|.  Invisible everywhere; a PDF keeps
// it as text.
void DrawTextLayer(QPainter &canvas, const std::vector<platform::RecognizedWord> &words, QSize pictureSize,
                   const QRectF &target);

// The small window shown while a PDF waits for the recognition: "Abbrechen"
// rejects it; it accepts itself when |job| finishes.
class TTextRecognitionProgress : public QDialog {
    Q_OBJECT
public:
    TTextRecognitionProgress(const TTextRecognitionJob &job, QWidget *parent);
};

#include "preview/TextLayer.h"

#include "platform/FileAccess.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFontMetricsF>
#include <QLabel>
#include <QLoggingCategory>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QThreadPool>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <mutex>

Q_LOGGING_CATEGORY(lcOcr, "quillora.ocr", QtWarningMsg)

namespace {

using platform::RecognizedWord;

// First line of a cache file; the number changes with its layout.
constexpr char kCacheMagic[] = "Quillora-Texterkennung 1 deu+eng";
// A cache file larger than this is no cache file of ours.
constexpr qint64 kMaxCacheFile = 16 << 20;

// Recognitions run one at a time, on a thread of their own, so that two
// viewers do not hold two engines in memory and the second one finds the
// first one's result in the cache.
QThreadPool &recognitionPool()
{
    static QThreadPool pool;
    static const bool once = [] {
        pool.setMaxThreadCount(1);
        pool.setObjectName(QStringLiteral("Texterkennung"));
        return true;
    }();
    (void)once;
    return pool;
}

std::optional<int> parseInt(QByteArrayView field)
{
    bool ok = false;
    const int v = field.toInt(&ok);
    return ok ? std::optional<int>(v) : std::nullopt;
}

// A confidence of 0 .. 100 in tenths, as the cache file keeps it.
int tenths(float confidence)
{
    return std::isnan(confidence) ? 0 : int(std::lround(std::clamp(confidence, 0.0f, 100.0f) * 10));
}

} // namespace

// ---- the job -----------------------------------------------------------------

struct TTextRecognitionJob::Shared {
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    State state = State::Running;
    std::vector<RecognizedWord> words;
    bool fromCache = false;
    std::atomic<bool> cancel{false};
    TTextRecognitionJob *receiver = nullptr; // cleared when the job goes

    void finish(State s, std::vector<RecognizedWord> w = {}, bool cached = false)
    {
        std::lock_guard lock(mutex);
        state = s;
        words = std::move(w);
        fromCache = cached;
        changed.notify_all();
        if (receiver) {
            TTextRecognitionJob *r = receiver;
            QMetaObject::invokeMethod(r, [r] { emit r->finished(); }, Qt::QueuedConnection);
        }
    }
};

TTextRecognitionJob::TTextRecognitionJob(std::shared_ptr<Shared> shared, QByteArray content, QSize pictureSize)
    : d(std::move(shared)), content_(std::move(content)), pictureSize_(pictureSize)
{
    std::lock_guard lock(d->mutex);
    d->receiver = this;
}

TTextRecognitionJob::~TTextRecognitionJob()
{
    std::lock_guard lock(d->mutex);
    d->receiver = nullptr;
    d->cancel = true;
}

std::unique_ptr<TTextRecognitionJob> TTextRecognitionJob::Start(QImage picture, QByteArray content, QString cacheFolder)
{
    if (cacheFolder.isEmpty())
        cacheFolder = TextCacheFolder();
    auto shared = std::make_shared<Shared>();
    std::unique_ptr<TTextRecognitionJob> job(new TTextRecognitionJob(shared, content, picture.size()));
    // Looked up here: services are installed and replaced on the GUI thread.
    platform::TextRecognitionService &service = platform::Service<platform::TextRecognitionService>::get();

    recognitionPool().start([shared, &service, picture = std::move(picture), content = std::move(content),
                             cacheFolder = std::move(cacheFolder)] {
        if (shared->cancel) {
            shared->finish(State::Cancelled);
            return;
        }
        platform::LowerThreadPriority();
        const QString file = TextCacheFile(cacheFolder, content, picture.size());
        QFile cached(file);
        if (cached.open(QIODevice::ReadOnly) && cached.size() <= kMaxCacheFile) {
            if (auto words = DecodeTextCache(cached.readAll(), picture.size())) {
                qCDebug(lcOcr) << "text layer from the cache:" << words->size() << "words," << file;
                shared->finish(State::Done, std::move(*words), true);
                return;
            }
            qCDebug(lcOcr) << "damaged cache file ignored:" << file;
        }
        cached.close();
        try {
            std::vector<RecognizedWord> words = service.Recognize(picture, &shared->cancel);
            if (shared->cancel) {
                shared->finish(State::Cancelled);
                return;
            }
            try {
                QDir().mkpath(cacheFolder);
                platform::WriteFileAtomically(file, EncodeTextCache(picture.size(), words));
            } catch (const std::exception &e) {
                qCInfo(lcOcr) << "text layer not cached:" << e.what();
            }
            qCDebug(lcOcr) << "recognised" << words.size() << "words";
            shared->finish(State::Done, std::move(words));
        } catch (const std::exception &e) {
            qCInfo(lcOcr) << "no text layer:" << e.what();
            shared->finish(State::Failed);
        } catch (...) {
            qCInfo(lcOcr) << "no text layer: recognition failed";
            shared->finish(State::Failed);
        }
    });
    return job;
}

TTextRecognitionJob::State TTextRecognitionJob::state() const
{
    std::lock_guard lock(d->mutex);
    return d->state;
}

std::vector<RecognizedWord> TTextRecognitionJob::words() const
{
    std::lock_guard lock(d->mutex);
    return d->words;
}

bool TTextRecognitionJob::fromCache() const
{
    std::lock_guard lock(d->mutex);
    return d->fromCache;
}

bool TTextRecognitionJob::waitForFinished(int msecs) const
{
    std::unique_lock lock(d->mutex);
    return d->changed.wait_for(lock, std::chrono::milliseconds(msecs), [&] { return d->state != State::Running; });
}

void TTextRecognitionJob::cancel()
{
    d->cancel = true;
}

void TTextRecognitionJob::WaitForAll()
{
    recognitionPool().waitForDone();
}

// ---- the cache -----------------------------------------------------------------

QString TextCacheFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/Quillora");
}

QString TextCacheFile(const QString &folder, const QByteArray &content, QSize pictureSize)
{
    QCryptographicHash sha(QCryptographicHash::Sha256);
    sha.addData(content);
    sha.addData(QByteArray::number(pictureSize.width()) + 'x' + QByteArray::number(pictureSize.height()));
    const QByteArray hash = sha.result().toHex();
    return folder + QLatin1Char('/') + QString::fromLatin1(hash) + QStringLiteral(".ocr");
}

QByteArray EncodeTextCache(QSize pictureSize, const std::vector<RecognizedWord> &words)
{
    QByteArray out = kCacheMagic;
    out += '\n' + QByteArray::number(pictureSize.width()) + ' ' + QByteArray::number(pictureSize.height()) + '\n';
    for (const RecognizedWord &w : words) {
        QByteArray text = w.text.toUtf8();
        text.replace('\n', ' ');
        if (text.trimmed().isEmpty())
            continue;
        out += QByteArray::number(w.box.x()) + ' ' + QByteArray::number(w.box.y()) + ' ' +
               QByteArray::number(w.box.width()) + ' ' + QByteArray::number(w.box.height()) + ' ' +
               QByteArray::number(tenths(w.confidence)) + ' ' + text + '\n';
    }
    return out;
}

std::optional<std::vector<RecognizedWord>> DecodeTextCache(const QByteArray &bytes, QSize pictureSize)
{
    if (!bytes.endsWith('\n'))
        return std::nullopt;
    const QList<QByteArray> lines = bytes.first(bytes.size() - 1).split('\n');
    if (lines.size() < 2 || lines[0] != kCacheMagic)
        return std::nullopt;
    const QList<QByteArray> size = lines[1].split(' ');
    if (size.size() != 2 || parseInt(size[0]) != pictureSize.width() || parseInt(size[1]) != pictureSize.height())
        return std::nullopt;
    std::vector<RecognizedWord> words;
    words.reserve(std::size_t(lines.size() - 2));
    for (qsizetype i = 2; i < lines.size(); ++i) {
        const QByteArray &line = lines[i];
        std::optional<int> n[5];
        qsizetype at = 0;
        for (auto &field : n) {
            const qsizetype blank = line.indexOf(' ', at);
            if (blank < 0)
                return std::nullopt;
            field = parseInt(QByteArrayView(line).sliced(at, blank - at));
            if (!field)
                return std::nullopt;
            at = blank + 1;
        }
        // Checked before a rectangle is made of them: x + width must not overflow.
        const int x = *n[0], y = *n[1], w = *n[2], h = *n[3];
        if (x < 0 || y < 0 || x >= pictureSize.width() || y >= pictureSize.height() || w <= 0 || h <= 0 ||
            w > pictureSize.width() - x || h > pictureSize.height() - y || *n[4] < 0 || *n[4] > 1000)
            return std::nullopt;
        const QRect box(x, y, w, h);
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = utf8(QByteArrayView(line).sliced(at));
        if (utf8.hasError() || text.trimmed().isEmpty())
            return std::nullopt;
        words.push_back(RecognizedWord{text, box, float(*n[4]) / 10});
    }
    return words;
}

// ---- drawing -----------------------------------------------------------------

void DrawTextLayer(QPainter &canvas, const std::vector<RecognizedWord> &words, QSize pictureSize, const QRectF &target)
{
    if (words.empty() || pictureSize.isEmpty() || target.isEmpty())
        return;
    canvas.save();
    // Measured large and scaled down to each box, so hinting at tiny sizes
    // does not distort the widths.
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(100);
    font.setKerning(false);
    canvas.setFont(font);
    canvas.setPen(QPen(QColor(0, 0, 0, 0)));
    canvas.setBrush(Qt::NoBrush);
    const QFontMetricsF fm(font, canvas.device());
    const double lineHeight = fm.ascent() + fm.descent();
    const QTransform base = canvas.worldTransform();
    const double sx = target.width() / pictureSize.width();
    const double sy = target.height() / pictureSize.height();
    for (const RecognizedWord &w : words) {
        const double advance = fm.horizontalAdvance(w.text);
        if (advance <= 0 || lineHeight <= 0)
            continue;
        const QRectF box(target.left() + w.box.x() * sx, target.top() + w.box.y() * sy, w.box.width() * sx,
                         w.box.height() * sy);
        canvas.setWorldTransform(QTransform::fromScale(box.width() / advance, box.height() / lineHeight) *
                                 QTransform::fromTranslate(box.left(), box.top()) * base);
        canvas.drawText(QPointF(0, fm.ascent()), w.text);
    }
    canvas.restore();
}

// ---- the progress window ---------------------------------------------------------

TTextRecognitionProgress::TTextRecognitionProgress(const TTextRecognitionJob &job, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("TextRecognitionProgress"));
    const QString text = QStringLiteral("Texterkennung läuft …");
    setWindowTitle(text);
    auto *layout = new QVBoxLayout(this);
    auto *label = new QLabel(text, this);
    label->setObjectName(QStringLiteral("Label"));
    auto *bar = new QProgressBar(this);
    bar->setRange(0, 0); // how long it takes is not known
    bar->setTextVisible(false);
    auto *cancel = new QPushButton(QStringLiteral("Abbrechen"), this);
    cancel->setObjectName(QStringLiteral("Abbrechen"));
    layout->addWidget(label);
    layout->addWidget(bar);
    layout->addWidget(cancel, 0, Qt::AlignHCenter);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(&job, &TTextRecognitionJob::finished, this, &QDialog::accept);
    setFixedWidth(280);
}

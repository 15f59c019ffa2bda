// Text recognition: a picture in, the words on it with their boxes and
// confidence out.  The real service runs Tesseract with the German and the
// English language data together.
//
// Unlike the other services, Recognize is called on a worker thread: the
// service object is looked up on the GUI thread and handed to the worker,
// and the implementation keeps no state between calls.
#pragma once

#include "platform/Service.h"

#include <QImage>
#include <QRect>
#include <QString>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <vector>

namespace platform {

struct RecognizedWord {
    QString text;
    QRect box;          // in pixels of the picture, top-left origin
    float confidence{}; // 0 .. 100
    bool operator==(const RecognizedWord &) const = default;
};

// Recognition could not run: no language data, a picture the engine
// refused, or the engine failed.
class TextRecognitionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TextRecognitionService {
public:
    virtual ~TextRecognitionService() = default;
    // The words of |picture| in reading order.  When |cancel| is given and
    // becomes true, recognition stops early and returns what it found so
    // far.  Throws TextRecognitionError.  Safe to call from any thread and
    // from several at once.
    virtual std::vector<RecognizedWord> Recognize(const QImage &picture, const std::atomic<bool> *cancel) = 0;
};

// Tesseract with "deu+eng".  |dataPath| is the folder holding the
// *.traineddata files; empty: Tesseract's default (TESSDATA_PREFIX or the
// folder it was built with).
std::unique_ptr<TextRecognitionService> MakeTesseractRecognition(const QString &dataPath = QString());

// Lowers the calling thread's scheduling priority, so that recognition on a
// worker thread leaves the windows responsive.  Threads it starts inherit
// the lower priority.
void LowerThreadPriority();

} // namespace platform

QUILLORA_DECLARE_SERVICE(platform::TextRecognitionService)

// Test double of text recognition, installed while it lives: counts the
// pictures it is given and answers the scripted words, fails, or passes the
// picture on to another service (the real engine, for instance).  It may
// hold every recognition until the test releases it, to catch a
// recognition that is still running.  Called on the recognition thread;
// the test must let running recognitions end before the double goes.
#pragma once

#include "platform/TextRecognition.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace testing_support {

class ScriptedRecognition : public platform::TextRecognitionService {
public:
    explicit ScriptedRecognition(platform::TextRecognitionService *passOn = nullptr) : passOn_(passOn) {}
    ~ScriptedRecognition() override { release(); }

    std::vector<platform::RecognizedWord> words; // the answer
    bool fail = false;                           // throw TextRecognitionError instead
    std::atomic<int> calls{0};
    std::atomic<int> sawWidth{0}, sawHeight{0}; // size of the last picture

    // Recognitions wait in Recognize until release() (or until cancelled).
    void hold()
    {
        std::lock_guard lock(mutex_);
        held_ = true;
    }
    void release()
    {
        std::lock_guard lock(mutex_);
        held_ = false;
        changed_.notify_all();
    }

    std::vector<platform::RecognizedWord> Recognize(const QImage &picture, const std::atomic<bool> *cancel) override
    {
        ++calls;
        sawWidth = picture.width();
        sawHeight = picture.height();
        {
            std::unique_lock lock(mutex_);
            while (held_ && !(cancel && *cancel))
                changed_.wait_for(lock, std::chrono::milliseconds(10));
        }
        if (fail)
            throw platform::TextRecognitionError("scripted failure");
        if (passOn_)
            return passOn_->Recognize(picture, cancel);
        return words;
    }

private:
    platform::TextRecognitionService *passOn_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = false;
    platform::ScopedService<platform::TextRecognitionService> use_{*this};
};

} // namespace testing_support

#include "sources/sane/Worker.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <chrono>

namespace sane_source {

Worker &Worker::instance()
{
    static Worker worker;
    return worker;
}

Worker::Worker()
{
    thread_ = std::thread([this] { run(); });
    std::lock_guard lock(mutex_);
    threadId_ = thread_.get_id();
}

Worker::~Worker()
{
    {
        std::unique_lock lock(mutex_);
        stopping_ = true;
        wake_.notify_all();
        idle_.wait_for(lock, std::chrono::seconds(1), [this] { return finished_; });
        if (!finished_) {
            // A job that does not end (a backend probing a network that does
            // not answer) must not hold the program's end back.
            lock.unlock();
            thread_.detach();
            return;
        }
    }
    thread_.join();
}

void Worker::post(std::function<void()> job)
{
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
    wake_.notify_one();
}

bool Worker::isWorkerThread() const { return std::this_thread::get_id() == threadId_; }

bool Worker::busy() const
{
    std::lock_guard lock(mutex_);
    return running_ || !jobs_.empty();
}

void Worker::setShutdownJob(std::function<void()> job)
{
    std::lock_guard lock(mutex_);
    shutdown_ = std::move(job);
}

void Worker::run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (stopping_)
            break;
        std::function<void()> job = std::move(jobs_.front());
        jobs_.pop_front();
        running_ = true;
        lock.unlock();
        job();
        job = nullptr;
        lock.lock();
        running_ = false;
    }
    // Jobs still queued at the end are dropped; the last one is SANE's exit.
    std::deque<std::function<void()>> dropped;
    dropped.swap(jobs_);
    std::function<void()> shutdown = std::move(shutdown_);
    lock.unlock();
    dropped.clear();
    if (shutdown)
        shutdown();
    lock.lock();
    finished_ = true;
    idle_.notify_all();
}

void deliver(QObject *context, std::function<void()> f)
{
    if (!context || !QCoreApplication::instance())
        return;
    QMetaObject::invokeMethod(context, std::move(f), Qt::QueuedConnection);
}

} // namespace sane_source

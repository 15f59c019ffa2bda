// The one thread on which this source calls SANE.
//
// SANE is not made for calls from two threads at once, and its calls can
// take long (network probing, a slow device), so every sane_* call of the
// source runs here, one job after the other.  Jobs never touch TWAIN state
// or widgets: what they find goes back to the GUI thread as values (see
// deliver()).
#pragma once

#include <QObject>
#include <QPointer>

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

namespace sane_source {

class Worker {
public:
    // The worker of this source object.
    static Worker &instance();

    Worker();
    // Waits a short while for the current job, then leaves a job that is
    // still running (a network probe at program end) to the process's end.
    ~Worker();
    Worker(const Worker &) = delete;
    Worker &operator=(const Worker &) = delete;

    // Queues |job|.
    void post(std::function<void()> job);

    // Runs |f| on the worker and waits for its result.  Only for short jobs
    // the caller needs at once; never from the worker itself.
    template <class F>
    auto call(F f) -> decltype(f())
    {
        using R = decltype(f());
        auto task = std::make_shared<std::packaged_task<R()>>(std::move(f));
        std::future<R> result = task->get_future();
        post([task] { (*task)(); });
        return result.get();
    }

    // True on the worker thread.
    bool isWorkerThread() const;
    // True while a job runs or waits.
    bool busy() const;

    // Called on the worker after the last job when the worker ends (SANE's
    // sane_exit).
    void setShutdownJob(std::function<void()> job);

private:
    void run();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<std::function<void()>> jobs_;
    std::function<void()> shutdown_;
    bool stopping_ = false;
    bool running_ = false; // a job is running
    bool finished_ = false;
    std::thread thread_;
    std::thread::id threadId_;
};

// Runs |f| on the GUI thread, in the event loop, unless |context| has been
// destroyed by then (then |f| is destroyed without running, on whichever
// thread drops it).  Callable from any thread.
void deliver(QObject *context, std::function<void()> f);

} // namespace sane_source

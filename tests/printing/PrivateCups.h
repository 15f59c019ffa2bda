// A CUPS server of the test's own: its own configuration folder, a port on
// the loopback address, one raw queue whose device is an AppSocket
// "network printer" that this process runs on the loopback address and
// that keeps every job it receives.  The server is stopped (and dies with
// the test process) at the end.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <sys/types.h>

namespace testing_support {

// Accepts connections on 127.0.0.1 and keeps what each one sends.
class SocketPrinter {
public:
    SocketPrinter();
    ~SocketPrinter();
    int port() const { return port_; }
    // Waits up to |seconds| for job |index| (from 0) to be complete.
    bool waitForJob(std::size_t index, int seconds);
    QByteArray job(std::size_t index);
    std::size_t jobCount();

private:
    void run();
    int listenFd_ = -1;
    int port_ = 0;
    int stopPipe_[2] = {-1, -1};
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable received_;
    std::vector<QByteArray> jobs_;
};

class PrivateCups {
public:
    static constexpr const char *kQueue = "Quillora-Testdrucker";

    // Starts the server and the queue and points this process at it
    // (CUPS_SERVER); throws std::runtime_error when that fails.
    PrivateCups();
    ~PrivateCups();

    SocketPrinter &printer() { return printer_; }
    QString serverAddress() const;
    // The server's error log, for failure messages.
    QString errorLog() const;

private:
    void stop();
    QTemporaryDir dir_;
    SocketPrinter printer_;
    int port_ = 0;
    pid_t pid_ = -1;
};

// The server the suite's environment started, shared by its tests; null
// when it could not be started.
PrivateCups *PrivateCupsInstance();

// Runs a program to its end (at most |seconds|); its standard output, or
// nothing when it could not be run or failed.
std::optional<QByteArray> RunTool(const QString &program, const QStringList &args, int seconds = 60);

} // namespace testing_support

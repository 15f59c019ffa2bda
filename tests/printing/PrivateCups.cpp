#include "PrivateCups.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

namespace {

int listenOnLoopback(int &port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(a.sin_port);
    return fd;
}

bool canConnect(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(std::uint16_t(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

void writeText(const QString &path, const QString &text)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(text.toUtf8()) < 0)
        throw std::runtime_error("cannot write " + path.toStdString());
}

} // namespace

std::optional<QByteArray> RunTool(const QString &program, const QStringList &args, int seconds)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.start(program, args);
    if (!p.waitForStarted(10000))
        return std::nullopt;
    if (!p.waitForFinished(seconds * 1000)) {
        p.kill();
        p.waitForFinished(5000);
        return std::nullopt;
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return std::nullopt;
    return p.readAllStandardOutput();
}

// ---- the socket printer ------------------------------------------------------

SocketPrinter::SocketPrinter()
{
    listenFd_ = listenOnLoopback(port_);
    if (listenFd_ < 0 || ::pipe2(stopPipe_, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot listen on the loopback address");
    thread_ = std::thread([this] { run(); });
}

SocketPrinter::~SocketPrinter()
{
    if (stopPipe_[1] >= 0)
        (void)::write(stopPipe_[1], "x", 1);
    if (thread_.joinable())
        thread_.join();
    for (int fd : {listenFd_, stopPipe_[0], stopPipe_[1]})
        if (fd >= 0)
            ::close(fd);
}

void SocketPrinter::run()
{
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        const int c = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0)
            continue;
        QByteArray data;
        char buf[65536];
        for (;;) {
            pollfd in[2] = {{c, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
            if (::poll(in, 2, 60000) <= 0 || in[1].revents)
                break;
            const ssize_t n = ::read(c, buf, sizeof buf);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            data.append(buf, n);
        }
        ::close(c);
        if (data.isEmpty())
            continue; // a probe, no job
        {
            std::lock_guard<std::mutex> lock(mutex_);
            jobs_.push_back(data);
        }
        received_.notify_all();
    }
}

bool SocketPrinter::waitForJob(std::size_t index, int seconds)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return received_.wait_for(lock, std::chrono::seconds(seconds), [&] { return jobs_.size() > index; });
}

QByteArray SocketPrinter::job(std::size_t index)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return index < jobs_.size() ? jobs_[index] : QByteArray();
}

std::size_t SocketPrinter::jobCount()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return jobs_.size();
}

// ---- the server ----------------------------------------------------------------

PrivateCups::PrivateCups()
{
    if (!dir_.isValid())
        throw std::runtime_error("no temporary folder");
    const QString root = dir_.path();
    for (const char *sub : {"spool", "cache", "state", "log", "tmp", "home"})
        if (!QDir().mkpath(root + QLatin1Char('/') + QLatin1String(sub)))
            throw std::runtime_error("cannot make the server's folders");
    // The server drops to its own user for the backend: the folders must
    // be reachable.
    QFile::setPermissions(root, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                    QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);

    const int probe = listenOnLoopback(port_);
    if (probe < 0)
        throw std::runtime_error("no free port on the loopback address");
    ::close(probe);

    writeText(root + QStringLiteral("/cupsd.conf"),
              QStringLiteral("Listen 127.0.0.1:%1\nLogLevel warn\nBrowsing No\nWebInterface No\n"
                             "DefaultAuthType None\nMaxJobs 0\n"
                             "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                             "<Policy default>\n  JobPrivateAccess all\n  JobPrivateValues none\n"
                             "  SubscriptionPrivateAccess all\n  SubscriptionPrivateValues none\n"
                             "  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n")
                  .arg(port_));
    writeText(root + QStringLiteral("/cups-files.conf"),
              QStringLiteral("ServerRoot %1\nRequestRoot %1/spool\nCacheDir %1/cache\nStateDir %1/state\n"
                             "TempDir %1/tmp\nAccessLog %1/log/access_log\nErrorLog %1/log/error_log\n"
                             "PageLog %1/log/page_log\nDataDir /usr/share/cups\nServerBin /usr/lib/cups\n"
                             "FileDevice No\n")
                  .arg(root));

    const QByteArray conf = QFile::encodeName(root + QStringLiteral("/cupsd.conf"));
    const QByteArray files = QFile::encodeName(root + QStringLiteral("/cups-files.conf"));
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0)
        throw std::runtime_error("cannot start cupsd");
    if (pid_ == 0) {
        // The server ends with the test process, however that ends.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(1);
        ::execl("/usr/sbin/cupsd", "cupsd", "-f", "-c", conf.constData(), "-s", files.constData(),
                static_cast<char *>(nullptr));
        ::_exit(127);
    }
    bool up = false;
    for (int i = 0; i < 200 && !up; ++i) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error("cupsd ended at once: " + errorLog().toStdString());
        }
        up = canConnect(port_);
        if (!up)
            ::usleep(50 * 1000);
    }
    if (!up) {
        stop();
        throw std::runtime_error("cupsd did not come up: " + errorLog().toStdString());
    }

    // Everything below, this process's libcups included, talks to it.
    ::setenv("CUPS_SERVER", serverAddress().toLocal8Bit().constData(), 1);
    ::setenv("HOME", QFile::encodeName(root + QStringLiteral("/home")).constData(), 1);
    ::unsetenv("LPDEST");
    ::unsetenv("PRINTER");
    const QString device = QStringLiteral("socket://127.0.0.1:%1").arg(printer_.port());
    if (!RunTool(QStringLiteral("/usr/sbin/lpadmin"),
                 {QStringLiteral("-p"), QString::fromLatin1(kQueue), QStringLiteral("-E"), QStringLiteral("-v"), device,
                  QStringLiteral("-m"), QStringLiteral("raw")}) ||
        !RunTool(QStringLiteral("/usr/sbin/lpadmin"), {QStringLiteral("-d"), QString::fromLatin1(kQueue)})) {
        stop();
        throw std::runtime_error("lpadmin could not set up the queue: " + errorLog().toStdString());
    }
}

PrivateCups::~PrivateCups()
{
    stop();
}

void PrivateCups::stop()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        ::usleep(50 * 1000);
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

QString PrivateCups::serverAddress() const
{
    return QStringLiteral("127.0.0.1:%1").arg(port_);
}

QString PrivateCups::errorLog() const
{
    QFile f(dir_.path() + QStringLiteral("/log/error_log"));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

} // namespace testing_support

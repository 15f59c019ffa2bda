// Test double of the directory service: each directory kind, and the
// program directory, can be pointed at a folder of the test's own; kinds not
// set answer as the service installed before did.  Installed while the
// double lives.
#pragma once

#include "platform/Directories.h"

#include <map>

namespace testing_support {

class FixedDirectories : public platform::DirectoryService {
public:
    void Set(platform::DirectoryKind kind, const QString &path) { dirs_[kind] = path; }
    void Clear(platform::DirectoryKind kind) { dirs_.erase(kind); }
    // Empty: the real program directory again.  A trailing "/" is added.
    void SetProgramDirectory(const QString &dir)
    {
        program_ = dir.isEmpty() || dir.endsWith(QLatin1Char('/')) ? dir : dir + QLatin1Char('/');
    }

    QString Directory(platform::DirectoryKind kind) override
    {
        auto it = dirs_.find(kind);
        return it != dirs_.end() ? it->second : fallback_.Directory(kind);
    }
    QString ProgramDirectory() override { return program_.isEmpty() ? fallback_.ProgramDirectory() : program_; }

private:
    std::map<platform::DirectoryKind, QString> dirs_;
    QString program_;
    platform::DirectoryService &fallback_ = platform::Service<platform::DirectoryService>::get();
    platform::ScopedService<platform::DirectoryService> use_{*this};
};

} // namespace testing_support

#pragma once
// One instance only: an exclusive lock on a file, which the system lets go
// of when the holding process ends, however it ends. Taking it writes
// nothing and waits for no disk.

#include <QString>

#include <memory>

class QLockFile;

namespace vorn {

class InstanceLock
{
public:
    explicit InstanceLock(QString path);
    ~InstanceLock();
    InstanceLock(const InstanceLock &) = delete;
    InstanceLock &operator=(const InstanceLock &) = delete;

    // Takes the lock. False only when another holder has it; when the lock
    // cannot be taken for another reason (no such folder, no permission) the
    // program had better run than end without a word, so that is true too.
    bool acquire();
    bool held() const;

private:
    QString m_path;
#ifdef Q_OS_WIN
    std::unique_ptr<QLockFile> m_file;
#else
    int m_fd = -1;
#endif
};

}  // namespace vorn

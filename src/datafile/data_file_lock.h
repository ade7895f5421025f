#pragma once
// One recorder per data file. Whoever binds a data file for recording (the program's main window,
// meter-record) holds its lock: a file beside it named after it with ".lock" appended, holding the
// process id, host and program name. A second process (or a second binding in the same process)
// is refused with a text that names the holder, before it touches the data file. The lock goes
// when the holder releases it or ends; one left by a killed process is taken over.
#include <QString>
#include <memory>

class QLockFile;

// The lock file of a data file: its path with ".lock" appended.
QString DataFileLockPath(const QString& dataFilePath);

class DataFileLock {
  public:
    DataFileLock();
    ~DataFileLock();
    DataFileLock(DataFileLock&&) noexcept;
    DataFileLock& operator=(DataFileLock&&) noexcept;

    // Takes the lock of the data file at dataFilePath (which need not exist yet) without waiting.
    // False with *error naming the file and the process that holds it, or why the lock file
    // cannot be made. Releases any lock held before.
    bool Acquire(const QString& dataFilePath, QString* error = nullptr);
    void Release();
    bool IsHeld() const;

  private:
    std::unique_ptr<QLockFile> m_lock;
};

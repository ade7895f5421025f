#pragma once
// The recording data file: a SQLite database kept under the program's ".mdb" names, holding the
// table DataRecord with the columns "date", "time", "chan 1", "unit 1", ... "chan N", "unit N"
// for N = 8, 12 or 16 channels. "date" is text YYYY-MM-DD, "time" text HH:MM:SS, readings REAL,
// units text of at most 10 characters.
//
// Used by start-up and the main window (bind, channel count), the create-file dialog (create,
// adopt) and the scan cycle (append). Errors come back as false or -1 with a text that names the
// file; nothing here shows a message. A file that is missing, is not a SQLite database or has no
// DataRecord table is an error and is never modified: probes open it read-only and never create
// a missing file.
#include "datafile/data_file_lock.h"

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTime>
#include <cstdint>
#include <map>
#include <memory>

class QSqlError;
class QSqlQuery;

// True only for an existing file (a folder, a dangling link or an empty path is false).
bool FileExists(const QString& path);

// Columns of tableName (matched without regard to case) in an existing SQLite file; -1 and
// *error naming the file when it is missing, not a SQLite database, or lacks the table.
int16_t CountTableFields(const QString& databasePath, const QString& tableName, QString* error = nullptr);

// Channels of a data file: its DataRecord table holds "date", "time", "chan 1", "unit 1", ...,
// "chan N", "unit N" (N >= 1, names in any case) and nothing else. -1 and *error naming the file
// for any other file, read as CountTableFields reads it. The recorders and the forwarder bind or
// read only such files: a table of other columns would get rows of a date and time only, or none.
int DataFileChannels(const QString& path, QString* error = nullptr);

// "date", "time", "chan 1", "unit 1", ..., "chan N", "unit N".
QStringList DataRecordColumns(int channels);

// Makes a new data file with an empty DataRecord table for 8, 12 or 16 channels. An existing file
// is never touched (false). On failure *error carries the engine's description and no file is
// left behind.
bool CreateDataFile(const QString& path, int channels, QString* error = nullptr);

// One recorded row; chan[i] and unit[i] belong to channel i+1. Columns of channels beyond the row
// stay empty (NULL).
struct DataRow {
    QDate date;
    QTime time;
    QList<double> chan;
    QStringList unit;
};

// How long a write waits for a file that another connection holds, per statement.
constexpr int WriteBusyTimeoutMs = 1000;

// The main window's data binding (Data1). Each instance has its own SQLite connection, opened
// read-write on an existing file only, with every row committed as its own transaction and synced
// (rollback journal, synchronous=FULL): a row is on disk, whole or not at all, when AppendRow
// returns. A bound file is locked for recording (data_file_lock.h) until it is unbound.
class DataFile {
  public:
    DataFile();
    ~DataFile();
    DataFile(const DataFile&) = delete;
    DataFile& operator=(const DataFile&) = delete;

    // Takes the file's lock, then checks the file read-only; only a data file (DataFileChannels)
    // gets bound. A file that another process (or another binding) records into is refused
    // with a text naming the holder, and is not read. On failure nothing changes: an unbound
    // object stays unbound, a bound one keeps its file and its lock.
    bool Bind(const QString& databasePath, QString* error = nullptr);
    void Unbind();
    bool IsBound() const;
    QString DatabaseName() const;
    // Columns of DataRecord minus 2 (twice the channel count); 0 when unbound.
    int16_t FieldCount() const;
    // Rows in DataRecord; -1 and *error when unbound or the engine fails.
    qint64 RowCount(QString* error = nullptr) const;
    // Appends one row as one transaction; false and *error when unbound, the row is malformed
    // (no valid date or time, unit and reading counts differ) or the engine refuses it.
    bool AppendRow(const DataRow& row, QString* error = nullptr);
    // The Qt SQL connection that writes into the bound file (empty when unbound): the event log
    // (event_log.h) appends through it, so an event is as durable as a row.
    QString ConnectionName() const;
    // True once a write into the file (a row, or an event through NoteFailure) failed because the
    // file is damaged ("database disk image is malformed"): unlike a full disk or a lock, that
    // lasts until the file is unbound, and recording into it must stop. DamageText says what failed.
    bool IsDamaged() const;
    const QString& DamageText() const { return m_damageText; }
    // Writers beside AppendRow (the event log) report their engine failures here.
    void NoteFailure(const QSqlError& error, const QString& text);

  private:
    void CloseConnection();

    QString m_connection;
    QString m_path;
    int16_t m_fieldCount = 0;
    bool m_bound = false;
    bool m_damaged = false;
    QString m_damageText;
    DataFileLock m_lock;
    std::map<int, std::unique_ptr<QSqlQuery>> m_inserts; // prepared INSERT by channel count
};

#pragma once
// The rows of a data file as the forwarder reads them: the rows above an id, in id order, as COPY
// lines of the central table readings (one line a channel, with the row's instant from
// RecordedUtc). Every read opens the file read-only for one short statement, so that a recorder
// never waits long for its write lock; the file is never written.
#include "forward/recorded_utc.h"

#include <QByteArray>
#include <QString>
#include <QVariantList>
#include <functional>
#include <optional>

class QSqlQuery;

class LocalRows {
  public:
    LocalRows(const QString& path, const QString& station);

    // Reads the channel count once; false and *error when the file is missing or no data file.
    bool Open(QString* error);

    // When row rowId was recorded, as the server keeps it (empty when unknown); *exists false when
    // the file has no such row.
    bool RecordedAt(qint64 rowId, QByteArray* recordedAt, bool* exists, QString* error);

    // The instant of the row before the next one read, when known.
    void Follow(std::optional<qint64> utc) { m_utc.Follow(utc); }

    bool CountAbove(qint64 rowId, qint64* count, QString* error);

    // Appends the COPY lines of up to `limit` rows with ids above `after` under one short open of
    // the file; *last is the last id read (after, when none), *rows how many.
    bool ReadChunk(qint64 after, int limit, QByteArray* out, qint64* last, int* rows, QString* error);

  private:
    // The COPY lines of one row of the result, one a channel.
    void AppendRow(const QSqlQuery& query, QByteArray& head, QByteArray* out, qint64* last, int* rows);

    static QByteArray Prefix(const QString& station, const QString& fileName);

    static bool Fail(QString* error, const QString& text);

    // One statement under one short open of the file; read() steps through its result.
    bool Select(const QString& sql, const QVariantList& bound, QString* error,
                const std::function<void(QSqlQuery&)>& read);

    QString m_path;
    QByteArray m_prefix;
    RecordedUtc m_utc;
    int m_channels = 0;
    QString m_select;
};

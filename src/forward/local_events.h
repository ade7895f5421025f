#pragma once
// The event log of a data file as the forwarder reads it: the events above an id, in the order
// written, as COPY lines of the central table
//
//   events(station text, data_file text, event_id bigint, utc timestamptz, kind text,
//          channel smallint, value double precision, text text)
//
// Each read opens the file read-only for one statement and never creates the table: a file without
// an event log has no events. A table EventLog that cannot be read as one (another tool changed it)
// is an error that concerns the events only; the rows of the file are still sent.
#include <QByteArray>
#include <QString>

class LocalEvents {
  public:
    LocalEvents(const QString& path, const QString& station, const QString& fileName);

    // Appends the COPY lines of up to `limit` events with ids above `after`; *last is the last id
    // read (after, when none), *count how many. False with *error when the log cannot be read.
    bool ReadAbove(qint64 after, int limit, QByteArray* out, qint64* last, int* count, QString* error) const;

  private:
    QString m_path;
    QByteArray m_prefix;
};

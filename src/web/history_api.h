#pragma once
// The recorder's history, read-only over HTTP: the query windows' query, statistics, report,
// workbook, CSV and event log for a data file of the data folder, and the series the history
// page charts. Every answer is built by the same engine code as meter-query's, so a download is
// the same bytes (the workbook the same cells) as meter-query writes for the same arguments.
//
//   /api/files                               the data files: name, channels, rows, first, last, recording
//   /api/rows?file=&from=&to=[&time=][&channels=]&format=json|csv|txt|xlsx
//   /api/stats?file=&from=&to=[&time=][&channels=]   per channel count, min, max, mean
//   /api/events?file=&from=&to=[&format=json|csv]
//   /api/series?file=[&start=ISO][&end=ISO][&channels=][&points=N]
//   /history, /history.js, /history.css, /vendor/uPlot.iife.min.js, /vendor/uPlot.min.css: the page
//
// `file` is a name in the data folder (default: the file being recorded); from/to are dates as
// meter-query reads them, time hh:mm-hh:mm, channels "1,3,12" (default: all of the file).
// A bad argument is 400, a missing file or a download that matches no record 404, each with one
// line of text that says why.
#include <QByteArray>
#include <QMap>
#include <QString>
#include <functional>

namespace web {

struct HistoryReply {
    unsigned status = 200;
    QByteArray type = "text/plain; charset=utf-8";
    QByteArray body;
    int fd = -1;        // >= 0: the body is this open file (size bytes), which the caller closes
    qint64 size = 0;
    QString fileName;   // a download's name (Content-Disposition: attachment)
    bool retryAfter = false; // a 503 for being busy: "Retry-After: 5"
};

using HistoryArguments = QMap<QByteArray, QByteArray>;

class HistoryApi {
  public:
    // `folder`: the data folder; `recording`: the name of the file being recorded now (may be
    // called from any thread).
    HistoryApi(QString folder, std::function<QString()> recording);

    // The paths answered here.
    static bool Handles(const QByteArray& path);
    // Answers that read a data file whole and go out as a file: at most two at a time.
    static bool IsDownload(const QByteArray& path);
    // The page's files: answered at once, without a data file.
    static bool IsAsset(const QByteArray& path);

    // stop: asked now and then while a query runs; true gives the request up (the client went away).
    HistoryReply Answer(const QByteArray& path, const HistoryArguments& arguments,
                        const std::function<bool()>& stop = {}) const;

  private:
    QString m_folder;
    std::function<QString()> m_recording;
};

} // namespace web

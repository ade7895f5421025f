#pragma once
// The grid's model over a query result: one column per field in result order, headed by the field
// names, cells as QueryResult::display gives them (dates in the short date form the query window
// reads), readings aligned right. Read-only. StatisticsText is the line under the grid.
#include "query/query_result.h"

#include <QAbstractTableModel>

class QueryResultModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    explicit QueryResultModel(QObject* parent = nullptr);

    void setResult(QueryResult result);
    const QueryResult& result() const { return m_result; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  private:
    QueryResult m_result;
    QString m_dateFormat;
};

// "Records 120   chan 1: min 20.1  max 25.3  mean 22.41 (n 120)   chan 3: ..."; readings in the
// report's number form; a channel without any valid reading says so. Records left out of the
// result (SkippedText) are named after the count.
QString StatisticsText(const QueryResult& result);

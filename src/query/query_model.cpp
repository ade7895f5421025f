#include "query/query_model.h"

#include "query/query_statement.h"
#include "query/report_writer.h"

QueryResultModel::QueryResultModel(QObject* parent)
    : QAbstractTableModel(parent), m_dateFormat(ShortDateFormat())
{
}

void QueryResultModel::setResult(QueryResult result)
{
    beginResetModel();
    m_result = std::move(result);
    endResetModel();
}

int QueryResultModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_result.rowCount();
}

int QueryResultModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_result.columnCount();
}

QVariant QueryResultModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    if (role == Qt::DisplayRole)
        return m_result.display(index.row(), index.column(), m_dateFormat);
    if (role == Qt::TextAlignmentRole && m_result.kind(index.column()) == QueryResult::Kind::Reading)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant QueryResultModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return m_result.fieldNames().value(section);
    return section + 1;
}

QString StatisticsText(const QueryResult& result)
{
    QStringList parts{QStringLiteral("Records %1").arg(result.rowCount())};
    if (result.skippedRows() > 0)
        parts << SkippedText(result);
    for (int column = 0; column < result.columnCount(); ++column) {
        if (result.kind(column) != QueryResult::Kind::Reading)
            continue;
        const ColumnStatistics s = Statistics(result, column);
        const QString name = result.fieldNames()[column];
        parts << (s.count == 0
                      ? QStringLiteral("%1: no valid reading").arg(name)
                      : QStringLiteral("%1: min %2  max %3  mean %4 (n %5)")
                            .arg(name, ReportNumber(s.minimum), ReportNumber(s.maximum), ReportNumber(s.mean))
                            .arg(s.count));
    }
    return parts.join(QStringLiteral("   "));
}

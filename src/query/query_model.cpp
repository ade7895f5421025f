#include "query/query_model.h"

#include "query/query_statement.h"
#include "query/report_writer.h"

#include <cmath>

namespace {

// A reading as the statistics line shows it: plain decimals, at least one after the point
// ("25.0", "-0.0004"), exact for a recorded reading.
QString ReadingText(double value)
{
    const QString text = PlainNumber(value);
    return text.contains(QLatin1Char('.')) || text.isEmpty() ? text : text + QStringLiteral(".0");
}

// A mean: three decimals, or five significant digits where three decimals would show too few
// (-0.00041667 rather than 0.0); trailing zeros dropped.
QString MeanText(double value)
{
    if (!std::isfinite(value) || value == 0)
        return ReadingText(value);
    const int magnitude = int(std::floor(std::log10(std::abs(value))));
    const int decimals = std::clamp(4 - magnitude, 3, 17);
    QString text = QString::number(value, 'f', decimals);
    while (text.endsWith(QLatin1Char('0')) && !text.endsWith(QStringLiteral(".0")))
        text.chop(1);
    return text == QStringLiteral("-0.0") ? QStringLiteral("0.0") : text;
}

} // namespace

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
                            .arg(name, ReadingText(s.minimum), ReadingText(s.maximum), MeanText(s.mean))
                            .arg(s.count));
    }
    return parts.join(QStringLiteral("   "));
}

#include "app/result_table.h"

int ResultTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(rows_.size());
}

int ResultTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kResultColumns; }

QVariant ResultTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || size_t(index.row()) >= rows_.size() || index.column() >= kResultColumns) return {};
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole && role != Qt::AccessibleTextRole) return {};
  return QString::fromStdString(rows_[size_t(index.row())][size_t(index.column())]);
}

QVariant ResultTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= headers_.size())
    return QAbstractTableModel::headerData(section, orientation, role);
  return headers_[section];
}

void ResultTableModel::SetHeaders(const QStringList& headers) {
  headers_ = headers;
  emit headerDataChanged(Qt::Horizontal, 0, kResultColumns - 1);
}

void ResultTableModel::Clear() {
  if (rows_.empty()) return;
  beginResetModel();
  rows_.clear();
  endResetModel();
}

void ResultTableModel::Append(std::vector<ResultRow> rows) {
  if (rows.empty()) return;
  beginInsertRows(QModelIndex(), int(rows_.size()), int(rows_.size() + rows.size() - 1));
  for (ResultRow& r : rows) rows_.push_back(std::move(r));
  endInsertRows();
}

void ResultTableModel::Reorder(const std::vector<size_t>& order) {
  beginResetModel();
  std::vector<ResultRow> sorted;
  sorted.reserve(order.size());
  for (size_t i : order) sorted.push_back(std::move(rows_[i]));
  rows_ = std::move(sorted);
  endResetModel();
}

#pragma once
// The result list of the main window as a table model: the rows of the study and worklist searches
// (query/resultrows), appended as they arrive, with the window's column headers.
#include <QAbstractTableModel>
#include <QStringList>
#include <vector>

#include "query/resultrows.h"

class ResultTableModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  using QAbstractTableModel::QAbstractTableModel;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  void SetHeaders(const QStringList& headers);
  const QStringList& Headers() const { return headers_; }
  // No rows.
  void Clear();
  // Rows added at the end, in one step however many.
  void Append(std::vector<ResultRow> rows);
  // The rows put in this order (indices into the present rows).
  void Reorder(const std::vector<size_t>& order);
  const std::vector<ResultRow>& Rows() const { return rows_; }

 private:
  QStringList headers_;
  std::vector<ResultRow> rows_;
};

// CAckRecordModel: the comments viewer's rows, a table model over the
// acknowledgement records it owns: one row per record, nine columns. Cells
// are made when the view asks for them; nothing per cell is stored, so a
// list of 100,000 records costs the records and four bytes a row.
//
// Cells: Timestamp (the UTC time in local time, as local_time.h writes it),
// Area, Target, Variable, Condition, Subcondition, Operator, Comment (on one
// line: OneLine), Result. Headers: the string table's texts, left-aligned,
// the sort column's with "  v" (ascending) or "  ^" (descending) after it.
//
// Sort orders the rows by one column, stably (rows that compare equal keep
// their order): Timestamp by time (times that are not valid are equal to
// each other and come before every valid one), the others by their cell
// text without regard to case. A selection stays on its record.
//
// Threads: main thread only (a Qt model).
#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "acklog/ack_record.h"

class CAckRecordModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column : int {
    kTimestamp,
    kArea,
    kTarget,
    kVariable,
    kCondition,
    kSubcondition,
    kOperator,
    kComment,
    kResult,
    kColumnCount
  };

  explicit CAckRecordModel(QObject* parent = nullptr);

  // Takes the records, in their order, as the rows (the container holds
  // exactly the records afterwards); the header marker stays.
  void SetRecords(std::vector<AckRecord> records);
  void Clear() { SetRecords({}); }

  // The record shown in `row`; null outside the rows.
  const AckRecord* RecordAt(int row) const;
  size_t RecordCount() const { return records_.size(); }

  void Sort(int column, bool ascending);

  // The header text of `column` without a marker.
  static QString HeaderText(int column);
  // The text of a cell.
  static QString CellText(const AckRecord& record, int column);
  // `text` with "\r\n", then "\r", "\n" and tab each replaced by a blank.
  static std::string OneLine(std::string_view text);
  // <0, 0, >0: `a` before, equal to, after `b` without regard to case;
  // `oneLine` compares the texts as OneLine shows them.
  static int CompareNoCase(std::string_view a, std::string_view b, bool oneLine);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 private:
  std::vector<AckRecord> records_;
  std::vector<uint32_t> order_;  // row -> index into records_
  int markerColumn_ = -1;        // none until the first sort
  bool markerAscending_ = true;
};

#include "ui/ack_record_model.h"

#include <algorithm>
#include <numeric>
#include <utility>

#include "ui/local_time.h"
#include "ui/resource_library.h"
#include "ui/string_ids.h"

namespace {

constexpr char kAscendingMarker[] = "  v";
constexpr char kDescendingMarker[] = "  ^";

const std::string& Field(const AckRecord& record, int column) {
  switch (column) {
    case CAckRecordModel::kArea:
      return record.area;
    case CAckRecordModel::kTarget:
      return record.target;
    case CAckRecordModel::kVariable:
      return record.variable;
    case CAckRecordModel::kCondition:
      return record.condition;
    case CAckRecordModel::kSubcondition:
      return record.subcondition;
    case CAckRecordModel::kOperator:
      return record.operatorName;
    case CAckRecordModel::kComment:
      return record.comment;
    default:
      return record.result;
  }
}

int CompareTimes(const CDateTime& a, const CDateTime& b) {
  const bool validA = a.IsValid(), validB = b.IsValid();
  if (!validA || !validB) return int(validA) - int(validB);
  return a.IsBefore(b) ? -1 : (b.IsBefore(a) ? 1 : 0);
}

// Reads a text character by character, as OneLine would show it when
// `oneLine` is set.
class TextCursor {
 public:
  TextCursor(std::string_view text, bool oneLine) : text_(text), oneLine_(oneLine) {}

  bool AtEnd() const { return pos_ >= text_.size(); }
  unsigned char Peek() const {
    const unsigned char c = static_cast<unsigned char>(text_[pos_]);
    return oneLine_ && (c == '\r' || c == '\n' || c == '\t') ? ' ' : c;
  }
  void Next() {
    const bool pair = oneLine_ && text_[pos_] == '\r' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '\n';
    pos_ += pair ? 2 : 1;
  }

 private:
  std::string_view text_;
  bool oneLine_;
  size_t pos_ = 0;
};

unsigned char FoldAscii(unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c; }

bool HasBreaks(std::string_view text) { return text.find_first_of("\r\n\t") != std::string_view::npos; }

// Qt's case-insensitive order of two texts as OneLine shows them (or as
// they are), for the first character beyond ASCII where they differ.
int CompareInQt(std::string_view a, std::string_view b, bool oneLine) {
  const QString p = QString::fromStdString(oneLine ? CAckRecordModel::OneLine(a) : std::string(a));
  const QString q = QString::fromStdString(oneLine ? CAckRecordModel::OneLine(b) : std::string(b));
  return p.compare(q, Qt::CaseInsensitive);
}

// ASCII is folded here; from the first other character where the texts
// differ on, Qt's case folding decides, which agrees with this on ASCII.
int ComparePlain(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(a[i]), d = static_cast<unsigned char>(b[i]);
    if (c == d) continue;
    if (c >= 0x80 || d >= 0x80) return CompareInQt(a, b, false);
    const unsigned char fc = FoldAscii(c), fd = FoldAscii(d);
    if (fc != fd) return fc < fd ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

// The same for texts with line breaks or tabs, read as OneLine shows them.
int CompareShown(std::string_view a, std::string_view b) {
  TextCursor x(a, true), y(b, true);
  for (; !x.AtEnd() && !y.AtEnd(); x.Next(), y.Next()) {
    const unsigned char c = x.Peek(), d = y.Peek();
    if (c == d) continue;
    if (c >= 0x80 || d >= 0x80) return CompareInQt(a, b, true);
    const unsigned char fc = FoldAscii(c), fd = FoldAscii(d);
    if (fc != fd) return fc < fd ? -1 : 1;
  }
  return int(!x.AtEnd()) - int(!y.AtEnd());
}

}  // namespace

CAckRecordModel::CAckRecordModel(QObject* parent) : QAbstractTableModel(parent) {}

void CAckRecordModel::SetRecords(std::vector<AckRecord> records) {
  beginResetModel();
  records_ = std::move(records);
  // A load grows its container by doubling: give the slack back.
  records_.shrink_to_fit();
  order_.resize(records_.size());
  order_.shrink_to_fit();
  std::iota(order_.begin(), order_.end(), 0u);
  endResetModel();
}

const AckRecord* CAckRecordModel::RecordAt(int row) const {
  if (row < 0 || static_cast<size_t>(row) >= order_.size()) return nullptr;
  return &records_[order_[static_cast<size_t>(row)]];
}

void CAckRecordModel::Sort(int column, bool ascending) {
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const QModelIndexList before = persistentIndexList();
  std::vector<uint32_t> recordsBefore;
  recordsBefore.reserve(static_cast<size_t>(before.size()));
  for (const QModelIndex& index : before) recordsBefore.push_back(order_[static_cast<size_t>(index.row())]);

  // Comments are compared as shown; most hold no line break to look for.
  std::vector<bool> breaks;
  if (column == kComment) {
    breaks.resize(records_.size());
    for (size_t i = 0; i < records_.size(); ++i) breaks[i] = HasBreaks(records_[i].comment);
  }
  auto compare = [this, column, &breaks](uint32_t a, uint32_t b) {
    const AckRecord& x = records_[a];
    const AckRecord& y = records_[b];
    if (column == kTimestamp) return CompareTimes(x.ackTime, y.ackTime);
    if (column == kComment && (breaks[a] || breaks[b])) return CompareShown(x.comment, y.comment);
    return ComparePlain(Field(x, column), Field(y, column));
  };
  if (ascending) {
    std::stable_sort(order_.begin(), order_.end(), [&](uint32_t a, uint32_t b) { return compare(a, b) < 0; });
  } else {
    std::stable_sort(order_.begin(), order_.end(), [&](uint32_t a, uint32_t b) { return compare(a, b) > 0; });
  }

  if (!before.isEmpty()) {
    std::vector<uint32_t> rowOf(order_.size());
    for (size_t row = 0; row < order_.size(); ++row) rowOf[order_[row]] = static_cast<uint32_t>(row);
    QModelIndexList after;
    after.reserve(before.size());
    for (qsizetype i = 0; i < before.size(); ++i) {
      after.push_back(index(static_cast<int>(rowOf[recordsBefore[static_cast<size_t>(i)]]), before[i].column()));
    }
    changePersistentIndexList(before, after);
  }
  markerColumn_ = column;
  markerAscending_ = ascending;
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
  emit headerDataChanged(Qt::Horizontal, 0, kColumnCount - 1);
}

QString CAckRecordModel::HeaderText(int column) {
  if (column == kResult) return CResourceLibrary::String(kStringResultColumn);
  return CResourceLibrary::String(kStringTimestampColumn + static_cast<uint32_t>(column));
}

QString CAckRecordModel::CellText(const AckRecord& record, int column) {
  if (column == kTimestamp) return FormatDateTimeText(UtcToLocal(record.ackTime));
  if (column == kComment) return QString::fromStdString(OneLine(record.comment));
  return QString::fromStdString(Field(record, column));
}

std::string CAckRecordModel::OneLine(std::string_view text) {
  std::string line;
  line.reserve(text.size());
  for (TextCursor cursor(text, true); !cursor.AtEnd(); cursor.Next()) line.push_back(static_cast<char>(cursor.Peek()));
  return line;
}

int CAckRecordModel::CompareNoCase(std::string_view a, std::string_view b, bool oneLine) {
  if (oneLine && (HasBreaks(a) || HasBreaks(b))) return CompareShown(a, b);
  return ComparePlain(a, b);
}

int CAckRecordModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(order_.size());
}

int CAckRecordModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QVariant CAckRecordModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole) return {};
  const AckRecord* record = RecordAt(index.row());
  if (!record || index.column() < 0 || index.column() >= kColumnCount) return {};
  return CellText(*record, index.column());
}

QVariant CAckRecordModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) return {};
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
  if (role != Qt::DisplayRole) return {};
  QString text = HeaderText(section);
  if (section == markerColumn_) text += QLatin1String(markerAscending_ ? kAscendingMarker : kDescendingMarker);
  return text;
}

// The viewer's rows: the cells of a record (local time, the comment on one
// line, nine columns), the headers with the sort marker, and the sort by
// each column: stable, texts without regard to case also beyond ASCII,
// times that are not valid first, the selection staying on its record.
#include <gtest/gtest.h>

#include <QItemSelectionModel>
#include <QRandomGenerator>

#include <string>
#include <vector>

#include "ack_log_test_support.h"
#include "ui/ack_record_model.h"

namespace {

using Model = CAckRecordModel;

std::vector<std::string> Column(const Model& model, int column) {
  std::vector<std::string> texts;
  for (int row = 0; row < model.rowCount(); ++row)
    texts.push_back(model.data(model.index(row, column)).toString().toStdString());
  return texts;
}

std::vector<std::string> Tags(const Model& model) {
  std::vector<std::string> tags;
  for (int row = 0; row < model.rowCount(); ++row) tags.push_back(model.RecordAt(row)->operatorName);
  return tags;
}

std::vector<std::string> Headers(const Model& model) {
  std::vector<std::string> headers;
  for (int column = 0; column < model.columnCount(); ++column)
    headers.push_back(model.headerData(column, Qt::Horizontal).toString().toStdString());
  return headers;
}

class RecordModelTest : public AckLogUiTest {};

TEST_F(RecordModelTest, CellsShowTheRecordInLocalTimeWithTheCommentOnOneLine) {
  SetTimeZone("XST-2");
  AckRecord record = MakeRecord("Plant/Tanks", Utc(2024, 5, 1, 23, 4, 5), "7");
  record.comment = "valve\r\nreset\rby\nhand\tok";
  Model model;
  model.SetRecords({record});
  ASSERT_EQ(model.rowCount(), 1);
  ASSERT_EQ(model.columnCount(), 9);
  std::vector<std::string> cells;
  for (int column = 0; column < 9; ++column) cells.push_back(Column(model, column)[0]);
  EXPECT_EQ(cells, (std::vector<std::string>{"2 May 2024 01:04:05", "Plant/Tanks", "N1", "LIC7.AS", "Level", "Hi",
                                             "op-7", "valve reset by hand ok", "Success"}));
  // Message and server are the log's, not the list's.
  for (const std::string& cell : cells) {
    EXPECT_EQ(cell.find("message"), std::string::npos);
    EXPECT_EQ(cell.find("PLANTPC1"), std::string::npos);
  }
  EXPECT_EQ(Headers(model), (std::vector<std::string>{"Timestamp", "Area", "Target", "Variable", "Condition",
                                                      "Subcondition", "Operator", "Comment", "Result"}));
  EXPECT_EQ(
      model.headerData(0, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignHorizontal_Mask,
      Qt::AlignLeft);
  EXPECT_EQ(model.RecordAt(1), nullptr);
  EXPECT_EQ(model.RecordAt(-1), nullptr);

  AckRecord unknown = record;
  unknown.ackTime = CDateTime();
  model.SetRecords({unknown});
  EXPECT_EQ(Column(model, 0)[0], "") << "a record without a readable time";
}

TEST_F(RecordModelTest, OneLineReplacesPairsFirstThenEachBreakAndTab) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"a\r\nb", "a b"},  {"a\n\rb", "a  b"}, {"a\r\r\nb", "a  b"}, {"\t\tx", "  x"}, {"end\r\n", "end "},
      {"plain", "plain"}, {"", ""},           {"\r", " "},
  };
  for (const auto& [text, shown] : cases) EXPECT_EQ(Model::OneLine(text), shown) << testing::PrintToString(text);
}

// Records whose sort field holds `texts`, tagged by their position.
std::vector<AckRecord> WithField(int column, const std::vector<std::string>& texts) {
  std::vector<AckRecord> records;
  for (size_t i = 0; i < texts.size(); ++i) {
    AckRecord r = MakeRecord("A", Utc(2024, 5, 1), std::to_string(i));
    std::string* fields[] = {nullptr,         &r.area,         &r.target,  &r.variable, &r.condition,
                             &r.subcondition, &r.operatorName, &r.comment, &r.result};
    *fields[column] = texts[i];
    records.push_back(r);
  }
  return records;
}

std::vector<std::string> TagsIn(const Model& model) {
  std::vector<std::string> order;
  for (int row = 0; row < model.rowCount(); ++row) {
    const std::string& variable = model.RecordAt(row)->variable;
    order.push_back(variable.substr(3, variable.size() - 6));  // "LIC<n>.AS"
  }
  return order;
}

TEST_F(RecordModelTest, EveryTextColumnSortsWithoutRegardToCaseAndStably) {
  // Equal but for case: "beta", "BETA" and "Beta" keep their order both ways.
  const std::vector<std::string> texts = {"beta", "Alpha", "BETA", "gamma", "alpha2", "Beta"};
  for (int column = Model::kArea; column <= Model::kResult; ++column) {
    if (column == Model::kVariable) continue;  // the tags live there
    SCOPED_TRACE("column " + std::to_string(column));
    Model model;
    model.SetRecords(WithField(column, texts));
    model.Sort(column, true);
    EXPECT_EQ(TagsIn(model), (std::vector<std::string>{"1", "4", "0", "2", "5", "3"}));
    std::vector<std::string> headers = Headers(model);
    EXPECT_EQ(headers[column], Model::HeaderText(column).toStdString() + "  v");
    for (int other = 0; other < 9; ++other) {
      if (other == column) continue;
      EXPECT_EQ(headers[other], Model::HeaderText(other).toStdString());
    }
    model.Sort(column, false);
    EXPECT_EQ(TagsIn(model), (std::vector<std::string>{"3", "0", "2", "5", "4", "1"}));
    EXPECT_EQ(Headers(model)[column], Model::HeaderText(column).toStdString() + "  ^");
  }
}

TEST_F(RecordModelTest, TheVariableColumnSortsToo) {
  Model model;
  model.SetRecords({MakeRecord("A", Utc(2024, 5, 1), "b"), MakeRecord("A", Utc(2024, 5, 1), "C"),
                    MakeRecord("A", Utc(2024, 5, 1), "a")});
  model.Sort(Model::kVariable, true);
  EXPECT_EQ(Column(model, Model::kVariable), (std::vector<std::string>{"LICa.AS", "LICb.AS", "LICC.AS"}));
}

TEST_F(RecordModelTest, TimestampSortsByTimeWithUnreadableTimesFirst) {
  std::vector<AckRecord> records = {
      MakeRecord("A", Utc(2024, 5, 1, 12), "noon"),  MakeRecord("A", CDateTime(), "none"),
      MakeRecord("A", Utc(2023, 12, 31, 23), "old"), MakeRecord("A", Utc(2024, 5, 1, 12), "noon2"),
      MakeRecord("A", Utc(2024, 13, 1), "bad"),      MakeRecord("A", Utc(2024, 5, 1, 11, 59, 59), "before"),
  };
  Model model;
  model.SetRecords(records);
  model.Sort(Model::kTimestamp, true);
  EXPECT_EQ(Tags(model), (std::vector<std::string>{"op-none", "op-bad", "op-old", "op-before", "op-noon", "op-noon2"}));
  model.Sort(Model::kTimestamp, false);
  EXPECT_EQ(Tags(model), (std::vector<std::string>{"op-noon", "op-noon2", "op-before", "op-old", "op-none", "op-bad"}));
  EXPECT_EQ(Headers(model)[0], "Timestamp  ^");
}

TEST_F(RecordModelTest, CaseIsIgnoredBeyondAsciiAndTheCommentComparesAsShown) {
  const std::string ecole = "\xC3\x89" + std::string("cole"), eCOLE = "\xC3\xA9" + std::string("COLE");
  EXPECT_EQ(Model::CompareNoCase(ecole, eCOLE, false), 0);             // École, éCOLE
  EXPECT_GT(Model::CompareNoCase("\xC3\x84pfel", "zebra", false), 0);  // Äpfel after zebra
  EXPECT_LT(Model::CompareNoCase("Zebra", "zebras", false), 0);
  EXPECT_EQ(Model::CompareNoCase("a\r\nB", "A b", true), 0);
  EXPECT_NE(Model::CompareNoCase("a\r\nB", "A b", false), 0);
  EXPECT_LT(Model::CompareNoCase("a\tb", "a!", true), 0) << "a tab is shown, and sorts, as a blank";

  // Against Qt's own comparison of the texts as shown, on random texts.
  const std::vector<std::string> alphabet = {
      "a",  "A",  "b",  "B",    "z",        "_",        " ",        "!",
      "\r", "\n", "\t", "\r\n", "\xC3\xA9", "\xC3\x89", "\xC3\x9F", "\xE2\x82\xAC",
      "1",  "~"};
  QRandomGenerator random(13);
  auto text = [&] {
    std::string t;
    for (int n = int(random.bounded(6)); n > 0; --n) t += alphabet[random.bounded(int(alphabet.size()))];
    return t;
  };
  for (int i = 0; i < 4000; ++i) {
    const std::string a = text(), b = text();
    for (bool oneLine : {false, true}) {
      auto shown = [oneLine](const std::string& s) { return QString::fromStdString(oneLine ? Model::OneLine(s) : s); };
      const int expected = shown(a).compare(shown(b), Qt::CaseInsensitive);
      const int got = Model::CompareNoCase(a, b, oneLine);
      ASSERT_EQ((got > 0) - (got < 0), (expected > 0) - (expected < 0))
          << testing::PrintToString(a) << " vs " << testing::PrintToString(b) << " oneLine " << oneLine;
    }
  }
}

TEST_F(RecordModelTest, TheSelectionStaysOnItsRecordAndANewLoadClearsIt) {
  Model model;
  model.SetRecords(WithField(Model::kArea, {"c", "a", "b"}));
  QItemSelectionModel selection(&model);
  selection.select(model.index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  model.Sort(Model::kArea, true);
  ASSERT_EQ(selection.selectedRows().size(), 1);
  EXPECT_EQ(selection.selectedRows()[0].row(), 2);
  EXPECT_EQ(model.RecordAt(2)->area, "c");
  model.SetRecords(WithField(Model::kArea, {"x"}));
  EXPECT_TRUE(selection.selectedRows().isEmpty());
  EXPECT_EQ(Headers(model)[Model::kArea], "Area  v") << "the marker stays with the sort";
  model.Clear();
  EXPECT_EQ(model.rowCount(), 0);
  EXPECT_EQ(model.RecordCount(), 0u);
}

}  // namespace

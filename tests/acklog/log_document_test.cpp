// The log file format and its files: exact layout, root selection, record
// reading, sharing, damaged files, and that the in-place append writes the
// bytes of the document route; whole-file replacement.
#include <gtest/gtest.h>
#include <sys/inotify.h>

#include <atomic>
#include <thread>

#include "acklog/log_append.h"
#include "acklog/log_document.h"
#include "acklog/log_layout.h"
#include "acklog_test_support.h"
#include "tests/support/debug_capture.h"

namespace {

const std::string kOneRecordFile =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<AlarmFile Version=\"1.0\">\n"
    "<AlarmRecord>\n"
    "    <AckTimeStamp TimeZone=\"UTC\">2024-05-01 13:07:42</AckTimeStamp>\n"
    "    <Area>Area1</Area>\n"
    "    <Target>N1</Target>\n"
    "    <Variable>LIC100.AS</Variable>\n"
    "    <AEServer>PLANTPC1</AEServer>\n"
    "    <Operator>jdoe</Operator>\n"
    "    <Message>LIC100 high</Message>\n"
    "    <AcknowledgeComment>checked &lt;valve&gt; &amp; pump</AcknowledgeComment>\n"
    "    <Condition>Level</Condition>\n"
    "    <SubCondition>Hi</SubCondition>\n"
    "    <Result>Success</Result>\n"
    "</AlarmRecord>\n"
    "</AlarmFile>\n";

AckRecord TheRecord() {
  AckRecord r;
  r.ackTime = CDateTime::FromParts(2024, 5, 1, 13, 7, 42);
  r.area = "Area1";
  r.target = "N1";
  r.variable = "LIC100.AS";
  r.server = "PLANTPC1";
  r.operatorName = "jdoe";
  r.message = "LIC100 high";
  r.comment = "checked <valve> & pump";
  r.condition = "Level";
  r.subcondition = "Hi";
  r.result = "Success";
  return r;
}

void ExpectSameRecord(const AckRecord& a, const AckRecord& b) {
  EXPECT_EQ(a.ackTime, b.ackTime);
  EXPECT_EQ(a.area, b.area);
  EXPECT_EQ(a.target, b.target);
  EXPECT_EQ(a.variable, b.variable);
  EXPECT_EQ(a.operatorName, b.operatorName);
  EXPECT_EQ(a.comment, b.comment);
  EXPECT_EQ(a.message, b.message);
  EXPECT_EQ(a.condition, b.condition);
  EXPECT_EQ(a.subcondition, b.subcondition);
  EXPECT_EQ(a.server, b.server);
  EXPECT_EQ(a.result, b.result);
}

// The document route: open for writing, append, save.
bool AppendThroughDocument(const std::string& path, const AckRecord& record) {
  CLogFile file;
  std::unique_ptr<CLogDocument> doc = OpenLogDocument(path, true, true, file);
  return doc && AppendRecord(*doc, record) && SaveLogDocument(*doc, file);
}

AppendOutcome AppendInPlace(const std::string& path, const AckRecord& record) {
  CLogFile file;
  if (!file.Open(path, true)) return AppendOutcome::kFailed;
  return AppendRecordToLogFile(file, record);
}

std::vector<AckRecord> ReadFile(const std::string& path) {
  CLogFile file;
  std::vector<AckRecord> records;
  std::unique_ptr<CLogDocument> doc = OpenLogDocument(path, false, false, file);
  if (!doc) return records;
  for (const CXmlNode& node : SelectRecords(*doc)) {
    records.emplace_back();
    ReadRecord(node, records.back());
  }
  return records;
}

std::string Serialized(const std::vector<AckRecord>& records) {
  std::unique_ptr<CLogDocument> doc = CLogDocument::CreateEmpty();
  for (const AckRecord& r : records) AppendRecord(*doc, r);
  return doc->Serialize();
}

class LogDocumentTest : public ::testing::Test {
 protected:
  std::string folder_ = TestFolder("log");
  std::string path_ = folder_ + "/AESERVLOG_CACHE_0.xml";
};

TEST_F(LogDocumentTest, NewFileHoldsExactlyDeclarationRootAndOneRecordBothRoutes) {
  ASSERT_TRUE(AppendThroughDocument(path_, TheRecord()));
  EXPECT_EQ(ReadBytes(path_), kOneRecordFile);
  std::string other = folder_ + "/other.xml";
  ASSERT_EQ(AppendInPlace(other, TheRecord()), AppendOutcome::kSaved);
  EXPECT_EQ(ReadBytes(other), kOneRecordFile);
  std::vector<AckRecord> back = ReadFile(path_);
  ASSERT_EQ(back.size(), 1u);
  ExpectSameRecord(back[0], TheRecord());
}

TEST_F(LogDocumentTest, OpenCreatesMissingFoldersForWriting) {
  std::string deep = folder_ + "/a/b/c/AESERVLOG_CACHE_0.xml";
  ASSERT_TRUE(AppendThroughDocument(deep, TheRecord()));
  EXPECT_EQ(ReadFile(deep).size(), 1u);
}

TEST_F(LogDocumentTest, SecondRecordFollowsFirstInSameRoot) {
  AckRecord second = SampleRecord(2);
  ASSERT_TRUE(AppendThroughDocument(path_, TheRecord()));
  ASSERT_TRUE(AppendThroughDocument(path_, second));
  std::string bytes = ReadBytes(path_);
  EXPECT_EQ(bytes, Serialized({TheRecord(), second}));
  EXPECT_EQ(bytes.find("<AlarmFile"), bytes.rfind("<AlarmFile"));
  std::vector<AckRecord> back = ReadFile(path_);
  ASSERT_EQ(back.size(), 2u);
  ExpectSameRecord(back[1], second);
}

TEST_F(LogDocumentTest, RootIsSelectedByNumericVersion) {
  auto withVersion = [&](const std::string& attribute) {
    WriteBytes(path_, "<?xml version=\"1.0\"?><AlarmFile" + attribute +
                          "><AlarmRecord><Area>A</Area></AlarmRecord></AlarmFile>");
    return ReadFile(path_).size();
  };
  EXPECT_EQ(withVersion(" Version=\"1.0\""), 1u);
  EXPECT_EQ(withVersion(" Version=\"1\""), 1u);
  EXPECT_EQ(withVersion(" Version=\"1.00\""), 1u);
  EXPECT_EQ(withVersion(" Version=\"2.0\""), 0u);
  EXPECT_EQ(withVersion(""), 0u);
}

TEST_F(LogDocumentTest, RecordFieldsFoundByNameInAnyOrder) {
  WriteBytes(path_,
             "<AlarmFile Version='1'><AlarmRecord><Result>Err</Result><Area>A</Area>"
             "<AckTimeStamp>2024-05-01</AckTimeStamp><Area>second</Area></AlarmRecord>"
             "<AlarmRecord><AckTimeStamp TimeZone='UTC'>yesterday</AckTimeStamp></AlarmRecord>"
             "</AlarmFile>");
  std::vector<AckRecord> back = ReadFile(path_);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].result, "Err");
  EXPECT_EQ(back[0].area, "A");
  EXPECT_EQ(back[0].ackTime, CDateTime::FromParts(2024, 5, 1));
  EXPECT_EQ(back[0].target, "");
  EXPECT_EQ(back[1].ackTime.GetStatus(), CDateTime::kNull);

  AckRecord kept = SampleRecord(7);
  CLogFile file;
  std::unique_ptr<CLogDocument> doc = OpenLogDocument(path_, false, false, file);
  ReadRecord(SelectRecords(*doc)[1], kept);
  EXPECT_EQ(kept.area, SampleRecord(7).area);
  EXPECT_EQ(kept.ackTime, SampleRecord(7).ackTime);
}

TEST_F(LogDocumentTest, NullAndInvalidTimesWrittenAsEmptyAndInvalidText) {
  AckRecord r = TheRecord();
  r.ackTime = CDateTime();
  ASSERT_TRUE(AppendThroughDocument(path_, r));
  r.ackTime = CDateTime::FromParts(2024, 13, 1);
  ASSERT_TRUE(AppendThroughDocument(path_, r));
  std::string bytes = ReadBytes(path_);
  EXPECT_NE(bytes.find("<AckTimeStamp TimeZone=\"UTC\"/>"), std::string::npos);
  EXPECT_NE(bytes.find(">Invalid DateTime</AckTimeStamp>"), std::string::npos);
}

TEST_F(LogDocumentTest, WritableOpenShutsOutEveryOtherOpen) {
  CLogFile writer, second, reader;
  ASSERT_TRUE(OpenLogDocument(path_, true, false, writer));
  EXPECT_FALSE(OpenLogDocument(path_, true, false, second));
  EXPECT_FALSE(reader.Open(path_, false));
  writer.Close();
  ASSERT_TRUE(AppendThroughDocument(path_, TheRecord()));
  CLogFile r1, r2, w;
  ASSERT_TRUE(r1.Open(path_, false));
  EXPECT_TRUE(r2.Open(path_, false));
  EXPECT_FALSE(w.Open(path_, true));
}

// The events naming `name` that `watch` has collected, as their masks.
std::vector<uint32_t> EventsNaming(int watch, const std::string& name) {
  std::vector<uint32_t> masks;
  alignas(inotify_event) char buffer[8192];
  for (ssize_t n; (n = read(watch, buffer, sizeof buffer)) > 0;) {
    for (char* at = buffer; at < buffer + n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(at);
      if (event->len && name == event->name) masks.push_back(event->mask);
      at += sizeof(inotify_event) + event->len;
    }
  }
  return masks;
}

// Some network file systems refuse to rename over a file that is still
// open: the file is closed first, and its replacement then takes its name.
TEST_F(LogDocumentTest, ReplacedFileIsClosedBeforeTheRename) {
  ASSERT_TRUE(AppendThroughDocument(path_, SampleRecord(1)));
  CLogFile file;
  ASSERT_TRUE(file.Open(path_, true));
  int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(inotify_add_watch(watch, folder_.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO), 0);
  ASSERT_TRUE(file.ReplaceAndClose("new bytes"));
  std::vector<uint32_t> events = EventsNaming(watch, "AESERVLOG_CACHE_0.xml");
  close(watch);
  // The file's own descriptor, the rename, then the replacement's descriptor.
  EXPECT_EQ(events, (std::vector<uint32_t>{IN_CLOSE_WRITE, IN_MOVED_TO, IN_CLOSE_WRITE}));
  EXPECT_EQ(ReadBytes(path_), "new bytes");
}

// A folder that takes new entries but cannot be synced afterwards (as some
// network folders): the rename has put the new content in place, so the
// save has happened; the failed sync is only worth a debugger line.
TEST_F(LogDocumentTest, ReplacementWhoseFolderSyncFailsHasHappened) {
  ASSERT_TRUE(ObeyFolderPermissions());
  ASSERT_TRUE(AppendThroughDocument(path_, SampleRecord(1)));
  CLogFile file;
  ASSERT_TRUE(file.Open(path_, true));
  namespace fs = std::filesystem;
  fs::permissions(folder_, fs::perms::owner_write | fs::perms::owner_exec);  // no listing, no sync
  ScopedDebugCapture debug;
  bool saved = file.ReplaceAndClose("new bytes");
  fs::permissions(folder_, fs::perms::owner_all);
  EXPECT_TRUE(saved);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(ReadBytes(path_), "new bytes");
  EXPECT_TRUE(debug.Contains("Couldn't sync the folder of replaced file: " + path_)) << testing::PrintToString(debug.Lines());
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1) << "no temporary file left";
}

// Between closing the file and renaming over it, the replacement's lock on
// its temporary file stands for the file's own: an open then fails at once,
// as during any other write. A temporary file that a crash left behind
// holds no lock and stops nobody.
TEST_F(LogDocumentTest, OpenWhileAReplacementIsUnderwayFailsAtOnce) {
  ASSERT_TRUE(AppendThroughDocument(path_, SampleRecord(1)));
  CLogFile replacement, writer, reader;
  ASSERT_TRUE(replacement.Open(folder_ + "/.AESERVLOG_CACHE_0.xml.tmp", true));
  EXPECT_FALSE(writer.Open(path_, true));
  EXPECT_FALSE(reader.Open(path_, false));
  replacement.Close();
  EXPECT_TRUE(writer.Open(path_, true));
  writer.Close();
  EXPECT_TRUE(reader.Open(path_, false));
}

// Appends racing whole-file replacements of the same file: every append
// that reported success is in the file at the end.
TEST_F(LogDocumentTest, AppendsRacingReplacementsAreNeverLost) {
  WriteBytes(path_, "start");
  std::atomic<int> replaced{0};
  std::thread replacer([&] {
    while (replaced < 100) {
      CLogFile file;
      std::string bytes;
      if (file.Open(path_, true) && file.ReadAll(bytes) && file.ReplaceAndClose(bytes)) ++replaced;
    }
  });
  size_t appended = 0;
  while (replaced < 100) {
    CLogFile file;
    uint64_t size = 0;
    if (file.Open(path_, true) && file.Size(size) && file.WriteTail(size, "+")) ++appended;
  }
  replacer.join();
  EXPECT_EQ(ReadBytes(path_), "start" + std::string(appended, '+'));
}

TEST_F(LogDocumentTest, EmptyOrMissingFileHasNoDocumentForReaders) {
  CLogFile file;
  EXPECT_FALSE(OpenLogDocument(path_, false, false, file));
  WriteBytes(path_, "");
  EXPECT_FALSE(OpenLogDocument(path_, false, false, file));
  EXPECT_TRUE(OpenLogDocument(path_, true, false, file));
}

TEST_F(LogDocumentTest, UnreadableFileIsRefusedForWritingAndNeverOverwritten) {
  const std::string garbage = "<AlarmFile Version=\"1.0\"><AlarmRecord><Area>x</Ar";
  WriteBytes(path_, garbage);
  ScopedDebugCapture debug;
  CLogFile file;
  EXPECT_FALSE(OpenLogDocument(path_, true, false, file));
  EXPECT_FALSE(file.IsOpen());
  EXPECT_TRUE(debug.Contains("Log file does not parse, left untouched: " + path_));
  EXPECT_EQ(AppendInPlace(path_, TheRecord()), AppendOutcome::kUnusable);
  EXPECT_EQ(ReadBytes(path_), garbage);
}

TEST_F(LogDocumentTest, FileDamagedInsideItsOwnHeadAndTailIsRefusedForAppending) {
  // Found so at the first append of the process.
  std::string head(kLogHead), tail(kLogTail);
  const std::string damaged = head + "<AlarmRecord>\n    <Area>x</Ar\n</AlarmRecord>\n" + tail;
  WriteBytes(path_, damaged);
  EXPECT_EQ(AppendInPlace(path_, TheRecord()), AppendOutcome::kUnusable);
  EXPECT_EQ(ReadBytes(path_), damaged);

  // Damaged by someone else after this process appended to it.
  std::string other = folder_ + "/AESERVLOG_CACHE_1.xml";
  ASSERT_EQ(AppendInPlace(other, TheRecord()), AppendOutcome::kSaved);
  ASSERT_EQ(AppendInPlace(other, TheRecord()), AppendOutcome::kSaved);
  std::string edited = ReadBytes(other);
  edited.erase(edited.find("</Area>"), 2);
  WriteBytes(other, edited);
  EXPECT_EQ(AppendInPlace(other, TheRecord()), AppendOutcome::kUnusable);
  EXPECT_EQ(ReadBytes(other), edited);
}

TEST_F(LogDocumentTest, DocumentWithAnotherRootTakesNoRecords) {
  const std::string foreign = "<?xml version=\"1.0\"?>\n<AlarmFile Version=\"2.0\"/>\n";
  WriteBytes(path_, foreign);
  CLogFile file;
  std::unique_ptr<CLogDocument> doc = OpenLogDocument(path_, true, false, file);
  ASSERT_TRUE(doc);
  EXPECT_FALSE(AcceptsRecords(*doc));
  EXPECT_FALSE(AppendRecord(*doc, TheRecord()));
  file.Close();
  EXPECT_EQ(AppendInPlace(path_, TheRecord()), AppendOutcome::kUnusable);
  EXPECT_EQ(ReadBytes(path_), foreign);
}

TEST_F(LogDocumentTest, TextsXmlCannotHoldBecomeReplacementCharacters) {
  AckRecord r = TheRecord();
  r.comment = std::string("bell\x07 bad\xff utf \xed\xa0\x80 nul") + '\0' + " ok";
  r.operatorName = "\xef\xbf\xbe";
  ASSERT_EQ(AppendInPlace(path_, r), AppendOutcome::kSaved);
  std::vector<AckRecord> back = ReadFile(path_);
  ASSERT_EQ(back.size(), 1u);
  const std::string fffd = "\xef\xbf\xbd";
  EXPECT_EQ(back[0].comment, "bell" + fffd + " bad" + fffd + " utf " + fffd + fffd + fffd + " nul" + fffd + " ok");
  EXPECT_EQ(back[0].operatorName, fffd);
}

TEST_F(LogDocumentTest, OverlongTextIsCutSoTheFileStaysReadable) {
  AckRecord r = TheRecord();
  r.comment = std::string(12'000'000, 'c');
  ASSERT_EQ(AppendInPlace(path_, r), AppendOutcome::kSaved);
  std::vector<AckRecord> back = ReadFile(path_);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].comment, std::string(1 << 20, 'c'));
}

TEST_F(LogDocumentTest, FileWithDocumentTypeIsNotALogFile) {
  const std::string entities =
      "<?xml version=\"1.0\"?>\n<!DOCTYPE AlarmFile [<!ENTITY a \"aaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]>\n"
      "<AlarmFile Version=\"1.0\"><AlarmRecord><Area>&b;</Area></AlarmRecord></AlarmFile>\n";
  WriteBytes(path_, entities);
  EXPECT_TRUE(ReadFile(path_).empty());
  EXPECT_EQ(AppendInPlace(path_, TheRecord()), AppendOutcome::kUnusable);
  EXPECT_EQ(ReadBytes(path_), entities);
}

TEST_F(LogDocumentTest, NonAsciiAndLayoutCharactersSurviveManyAppendCycles) {
  std::vector<AckRecord> written;
  for (int i = 0; i < 30; ++i) {
    AckRecord r = SampleRecord(i);
    r.comment = "Grüße – 温度 😀 \t tab\r\nline " + std::to_string(i) + "  ";
    r.area = "Zone ß/" + std::to_string(i % 4);
    bool inPlace = i % 3 != 0;
    if (inPlace)
      ASSERT_EQ(AppendInPlace(path_, r), AppendOutcome::kSaved);
    else
      ASSERT_TRUE(AppendThroughDocument(path_, r));
    written.push_back(r);
  }
  std::vector<AckRecord> back = ReadFile(path_);
  ASSERT_EQ(back.size(), written.size());
  for (size_t i = 0; i < back.size(); ++i) ExpectSameRecord(back[i], written[i]);
  EXPECT_EQ(ReadBytes(path_), Serialized(written));
}

TEST_F(LogDocumentTest, InPlaceAppendWritesTheDocumentRouteBytesAfterCopiesEmptiedTheFile) {
  std::string a = folder_ + "/a.xml", b = folder_ + "/b.xml";
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 4; ++i) {
      ASSERT_EQ(AppendInPlace(a, SampleRecord(i)), AppendOutcome::kSaved);
      ASSERT_TRUE(AppendThroughDocument(b, SampleRecord(i)));
      ASSERT_EQ(ReadBytes(a), ReadBytes(b));
    }
    // What the copy pass does to a cache file: every record removed.
    for (const std::string& path : {a, b}) {
      CLogFile file;
      std::unique_ptr<CLogDocument> doc = OpenLogDocument(path, true, false, file);
      for (const CXmlNode& node : SelectRecords(*doc)) ASSERT_TRUE(RemoveRecord(node));
      ASSERT_TRUE(SaveLogDocument(*doc, file));
    }
    EXPECT_EQ(ReadBytes(a), std::string(kLogHead) + std::string(kLogTail));
  }
}

// The copy pass's append: several records in one write are the bytes the
// document route gives them; a file cut short goes that route and comes
// back whole; damaged and foreign files are told apart and left untouched.
TEST_F(LogDocumentTest, SeveralRecordsTakeTheRouteTheFileAllows) {
  auto append = [](const std::string& path, const std::vector<AckRecord>& records) {
    CLogFile file;
    if (!file.Open(path, true)) return CLogAppender::Check::kDamaged;
    CLogAppender appender(file);
    CLogAppender::Check check = appender.Prepare();
    if (check == CLogAppender::Check::kReady) {
      EXPECT_TRUE(appender.Append(records));
    }
    EXPECT_FALSE(file.IsOpen());
    return check;
  };
  std::vector<AckRecord> all = {SampleRecord(1), SampleRecord(2), SampleRecord(3), SampleRecord(4)};
  ASSERT_EQ(append(path_, {all[0], all[1]}), CLogAppender::Check::kReady);  // an empty file
  ASSERT_EQ(append(path_, {all[2], all[3]}), CLogAppender::Check::kReady);  // in place
  EXPECT_EQ(ReadBytes(path_), Serialized(all));

  std::string full = ReadBytes(path_);
  WriteBytes(path_, full.substr(0, full.size() - 20));  // the last record cut short
  ASSERT_EQ(append(path_, {SampleRecord(9)}), CLogAppender::Check::kReady);
  EXPECT_EQ(ReadBytes(path_), Serialized({all[0], all[1], all[2], SampleRecord(9)}));

  ScopedDebugCapture debug;
  WriteBytes(path_, "<broken");
  EXPECT_EQ(append(path_, {SampleRecord(9)}), CLogAppender::Check::kDamaged);
  EXPECT_EQ(ReadBytes(path_), "<broken");
  EXPECT_TRUE(debug.Contains("Log file does not parse, left untouched: " + path_));
  WriteBytes(path_, "<?xml version=\"1.0\"?>\n<Other/>\n");
  EXPECT_EQ(append(path_, {SampleRecord(9)}), CLogAppender::Check::kForeign);
  EXPECT_EQ(ReadBytes(path_), "<?xml version=\"1.0\"?>\n<Other/>\n");
}

// A sample of the moments at which a writer may take over a cut-short
// file: every byte near the ends of the write, every 64th in between (each
// write costs a sync; readers are checked at every byte).
bool WriterCheckedAt(size_t j, size_t size) { return j <= 14 || j + 16 > size || j % 64 == 0; }

// Every moment at which a crash can cut the in-place write short: readers
// see the intact records, and the next writer goes on from there.
TEST_F(LogDocumentTest, AppendCutShortAtAnyByteLosesOnlyTheUnfinishedRecord) {
  std::vector<AckRecord> old = {SampleRecord(1), SampleRecord(2)};
  AckRecord added = SampleRecord(3);
  added.comment = std::string(300, 'x');
  std::string before = Serialized(old);
  std::string after = Serialized({old[0], old[1], added});
  size_t at = before.size() - kLogTail.size();
  std::string write = after.substr(at);
  for (size_t j = 0; j <= write.size(); ++j) {
    std::string cut = before.substr(0, at) + write.substr(0, j);
    if (j < kLogTail.size()) cut += before.substr(at + j);
    WriteBytes(path_, cut);
    size_t expected = j >= write.size() - kLogTail.size() ? 3 : 2;
    ASSERT_EQ(ReadFile(path_).size(), expected) << "cut after " << j;
    if (!WriterCheckedAt(j, write.size())) continue;
    ASSERT_EQ(AppendInPlace(path_, SampleRecord(9)), AppendOutcome::kSaved) << "cut after " << j;
    std::vector<AckRecord> back = ReadFile(path_);
    ASSERT_EQ(back.size(), expected + 1) << "cut after " << j;
    ExpectSameRecord(back.back(), SampleRecord(9));
  }
}

TEST_F(LogDocumentTest, CreationCutShortAtAnyByteReadsAsEmptyOrComplete) {
  std::string full = Serialized({TheRecord()});
  for (size_t j = 1; j <= full.size(); ++j) {
    WriteBytes(path_, full.substr(0, j));
    size_t expected = j >= full.size() - kLogTail.size() ? 1 : 0;
    ASSERT_EQ(ReadFile(path_).size(), expected) << "cut after " << j;
    if (!WriterCheckedAt(j, full.size())) continue;
    ASSERT_EQ(AppendInPlace(path_, SampleRecord(9)), AppendOutcome::kSaved) << "cut after " << j;
    ASSERT_EQ(ReadFile(path_).size(), expected + 1) << "cut after " << j;
  }
}

TEST(FindInterruptedWrite, DamageThatNoAppendLeavesIsNotMistakenForOne) {
  size_t keep = 0;
  std::string head(kLogHead);
  EXPECT_FALSE(FindInterruptedWrite("garbage", keep));
  EXPECT_FALSE(FindInterruptedWrite(head + "<AlarmRecord>\n</AlarmRecord>\nxx</AlarmFile>\n", keep));
  EXPECT_FALSE(FindInterruptedWrite(head + "</AlarmFile>\n</AlarmFile>\n", keep));
  EXPECT_FALSE(FindInterruptedWrite(head + "<Other>", keep));
  EXPECT_TRUE(FindInterruptedWrite(head + "<AlarmRecord>\n    <Area>A</Ar", keep));
  EXPECT_EQ(keep, head.size());
}

}  // namespace

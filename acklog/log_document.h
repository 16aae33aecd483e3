// The acknowledgement log's XML document: opening a log file,
// appending, selecting and reading records, saving.
//
// Format: UTF-8 with the declaration; the root "AlarmFile" with Version
// "1.0", selected as "AlarmFile[@Version=1.0]" (a numeric comparison, so
// "1" and "1.00" match too); under it the "AlarmRecord" elements, oldest
// first, each with the children AckTimeStamp (attribute TimeZone="UTC"),
// Area, Target, Variable, AEServer, Operator, Message, AcknowledgeComment,
// Condition, SubCondition, Result, and line-feed/four-space layout text
// (docs/acknowledgement-log.md shows a file).
//
// Threads: a document and its nodes belong to one thread at a time;
// different documents may be used on different threads at once.
// Failures are reported by null or false results, never by exceptions.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "acklog/ack_record.h"
#include "acklog/log_file.h"
#include "platform/xml_document.h"

class CLogDocument {
 public:
  CLogDocument(const CLogDocument&) = delete;
  CLogDocument& operator=(const CLogDocument&) = delete;

  // A new document with the declaration and nothing else; null when memory
  // ran out.
  static std::unique_ptr<CLogDocument> CreateEmpty();
  // Parses UTF-8 text (any declared encoding is ignored); null when it is
  // not well-formed XML or has a document type declaration (log files have
  // none; refusing it keeps entity tricks out), or memory ran out.
  static std::unique_ptr<CLogDocument> Parse(const std::string& text);

  CXmlDocument& Xml() { return xml_; }
  const CXmlDocument& Xml() const { return xml_; }
  // The serialised document: UTF-8, with the declaration.
  std::string Serialize() const { return xml_.Serialize(); }

 private:
  CLogDocument() = default;

  CXmlDocument xml_;
};

// Opens `path` through `file` (see CLogFile for the sharing rules) and
// reads it. `createFolders`: the folders of `path` are created first when
// missing. Returns the parsed document; for a writable open of a new or
// empty file, an empty document (declaration only). Null, with `file`
// closed, when the file cannot be opened (missing, held by someone else),
// is empty without `writable`, or does not parse. A file whose last write
// was cut short by a crash reads as its intact records. A writable open of
// a non-empty file that does not parse is reported on the debugger output
// and the file left untouched. With `writable`, the file stays open and
// locked in `file` until SaveLogDocument or the caller closes it.
std::unique_ptr<CLogDocument> OpenLogDocument(const std::string& path, bool writable,
                                              bool createFolders, CLogFile& file);
// The reading half of OpenLogDocument for a file already open in `file`.
std::unique_ptr<CLogDocument> LoadLogDocument(CLogFile& file);

// True when AppendRecord can add to `doc`: it has the version 1.0 root, or
// no root element yet.
bool AcceptsRecords(const CLogDocument& doc);
// Appends one "AlarmRecord" after the last child of the root, creating the
// root first when there is none. Texts that XML cannot hold (invalid UTF-8,
// control characters other than tab, line feed and carriage return) are
// written as U+FFFD, and a text is cut after 1 MiB (the parser's limit is
// 10 MB). False, and nothing added, when !AcceptsRecords(doc).
bool AppendRecord(CLogDocument& doc, const AckRecord& record);
// Replaces the content of the file open for writing in `file` with the
// serialised document atomically, and closes `file` (CLogFile::
// ReplaceAndClose): true once the new content is in place, false when it
// is not; the file then keeps its old content.
// REQUIRES: file.IsWritable().
bool SaveLogDocument(const CLogDocument& doc, CLogFile& file);

// The "AlarmRecord" children of the version 1.0 root, in document order;
// empty when there are none. The nodes live as long as `doc`.
std::vector<CXmlNode> SelectRecords(const CLogDocument& doc);
// Fills `record` from an "AlarmRecord" node: each field from the first
// child element of its name (a missing one leaves the field as it was),
// the time parsed from AckTimeStamp (left as it was when that fails).
void ReadRecord(const CXmlNode& node, AckRecord& record);
// Removes a record node and the layout line feed after it, and frees them.
// False, and nothing changed, when the node has no parent.
bool RemoveRecord(CXmlNode node);

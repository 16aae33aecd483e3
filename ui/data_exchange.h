// CDataExchange: the window framework's data exchange between a dialog's
// edit controls and its members, with the framework's checks.
//
// An exchange runs in one direction. Loading (saveAndValidate false) writes
// the members into the edits and sets each text edit's character limit.
// Saving reads and checks each edit in call order; the first check that
// fails shows the framework's message (caption the program's name, OK, an
// exclamation icon), puts the focus back on that edit with its text
// selected, leaves that member and every later one untouched, and marks
// the exchange failed. A missing control is passed over.
//
// Threads: main thread only. REQUIRES: the dialog outlives the exchange.
#pragma once

#include <QString>

#include <cstdint>
#include <string>

class CResourceDialog;

class CDataExchange {
 public:
  CDataExchange(CResourceDialog& dialog, bool saveAndValidate);

  bool SaveAndValidate() const { return saveAndValidate_; }
  bool Failed() const { return failed_; }

  // Edit `id` <-> a text of at most `maxChars` characters (UTF-16 units,
  // as the edit counts them). A longer text already held is shown whole
  // on loading and refused on saving.
  void Text(int id, std::string& value, int maxChars);
  // Edit `id` <-> a decimal number in [min, max]; blanks around it are
  // allowed, anything else is refused with the range message.
  void Number(int id, uint32_t& value, uint32_t min, uint32_t max);

  // The framework's messages ("%1", "%2": the limits).
  static constexpr const char* kRangeMessage = "Please enter an integer between %1 and %2.";
  static constexpr const char* kLengthMessage = "Please enter no more than %1 characters.";

 private:
  void Fail(int id, const QString& message);

  CResourceDialog& dialog_;
  bool saveAndValidate_;
  bool failed_ = false;
};

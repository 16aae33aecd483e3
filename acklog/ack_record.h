// AckRecord: one acknowledgement as the log keeps it, with the outcome of
// writing it back to the controller. A plain value; a new record has the
// null time and ten empty texts. Texts are UTF-8.
#pragma once

#include <string>

#include "acklog/date_time.h"

struct AckRecord {
  CDateTime ackTime;         // the condition's last acknowledgement time, UTC
  std::string area;          // the alarm variable's area
  std::string target;        // the alarm variable's node name
  std::string variable;      // the alarm variable's item name
  std::string operatorName;  // who acknowledged (AcknowledgerID)
  std::string comment;       // the acknowledgement comment
  std::string message;       // the condition's message
  std::string condition;     // the condition's name
  std::string subcondition;  // the active subcondition
  std::string server;        // the computer that ran the server
  std::string result;        // the write-back result text
};

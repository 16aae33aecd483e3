// The configuration import: reads the plant's configuration documents from
// the configuration server (RaltoConfigServer) into the alarm variables of
// an OPC DA connection, and keeps the alarm sources in step.
//
// For every producer of the Configuration Summary whose ProducedData
// document carries a configuration time (ConfigTimeSecs, ConfigTimeNSecs)
// other than the one imported last, every O0C/O0D block member becomes or
// refreshes an AlarmVar (".AS" members and ".RS" members of O0C blocks also
// get the four elements "[1]".."[4]"); areas and messages come from the
// block's Area and Message; ".LP" InitValues give priority codes. Then the
// node's sources are built (BuildNodeSources) and what vanished is swept.
// A full import (incremental false) runs on a fresh connection; an
// incremental one on each binding tick, and also puts new variables in
// pendingMap.
//
// Results (HRESULT): S_OK; E_NOINTERFACE the configuration server cannot be
// created; the server's failure HRESULT for a document; E_POINTER the
// summary does not load (window hidden, or no parser code), a ProducedData
// document does not load without a parser code (window visible), or a member
// without a Name (window visible); XmlParseErrorResult(code) a document does
// not parse (window visible); E_FAIL a summary entry without a Name or a
// numeric ProducerId (window visible) or any unexpected exception;
// E_OUTOFMEMORY memory ran out. With the window hidden (g_bInteractive 0) a
// producer whose document does not load is skipped, as are unusable summary
// entries and members; with it visible the message box comes first
// (message_box_sink.h). What was imported before a failure stays, change
// markers included.
//
// REQUIRES: g_ConfigMutex held by the caller (the connection manager's
// lock); the import takes no lock of its own besides those of the source
// builder. Runs on the caller's thread.
#pragma once

#include <string>

#include "alarmconfig/alarm_var_store.h"
#include "alarmconfig/produced_data_blocks.h"
#include "platform/com.h"
#include "platform/xml_node.h"
#include "ralto/config_server.h"

HRESULT ImportConfiguration(CAlarmVarStore& store, bool incremental);

class CConfigImport {
 public:
  CConfigImport(CAlarmVarStore& store, bool incremental);
  HRESULT Run();

 private:
  HRESULT ImportSummary();
  HRESULT ImportProducer(IRaltoConfigServer& server, const std::string& nodeName, uint32_t producerId);
  HRESULT ImportMember(const BlockMember& member, const std::string& nodeName,
                       const CProducedDataBlocks& blocks);
  void ReserveForPlant(const CProducedDataBlocks& blocks);
  void PrepareNewVariable(const std::string& itemId, AlarmVar& variable, bool member);
  void ImportElements(const AlarmVar& record, const std::string& recordId, bool existed);
  void LookUpAreaAndMessages(AlarmVar& variable, const CProducedDataBlocks& blocks);
  static bool AreaFound(const CXmlNode& area, bool rateOfChange);
  void ApplyArea(AlarmVar& variable, const CXmlNode& area, bool rateOfChange);
  bool ApplyMessage(AlarmVar& variable, const CXmlNode& message, bool rateOfChange);

  CAlarmVarStore& store_;
  const bool incremental_;
  // A full import after a source build that found no entries:
  // new members start without a pending initial read.
  bool clearInitialPending_ = false;
  // The summary's producers from the one being imported to the last.
  size_t producersLeft_ = 0;
};

// The fixed event catalogue every OPC AE client sees (categories, vendor
// attributes, conditions, subconditions) and the word tables that name an
// alarm kind's source suffix, condition and subconditions.
//
// Nothing in the plant configuration changes the catalogue: it is a
// compile-time table declared to the toolkit once at start-up.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/com.h"
#include "platform/variant.h"

// The kind code of an alarm definition, as the configuration documents give it.
using AlarmKind = uint16_t;
enum : AlarmKind {
  kAlarmLevel = 0,
  kAlarmFixedDeviation = 1,
  kAlarmPercentDeviation = 2,
  kAlarmRateOfChange = 3,
  kAlarmWord = 4,
  kAlarmBit = 5,
};

struct EventCategoryRow {
  DWORD id;
  const char* description;
  DWORD eventType;
};

struct EventAttributeRow {
  DWORD id;
  const char* description;
  VARTYPE type;
  DWORD categoryId;
};

struct EventConditionRow {
  const char* name;
  DWORD categoryId;
};

struct EventSubconditionRow {
  const char* name;
  const char* qualifiedName;
  const char* condition;
};

// The catalogue's rows. Subcondition rows are addressed by number elsewhere:
// Level 1..5 (0 is Level's "Normal"), RoC 6 and 7 (5 is RoC's "Normal"), Bit 8.
std::span<const EventCategoryRow> EventCategoryTable();
std::span<const EventAttributeRow> EventAttributeTable();
std::span<const EventConditionRow> EventConditionTable();
std::span<const EventSubconditionRow> EventSubconditionTable();

// Declares the catalogue to the toolkit's configuration database: every
// category, then every attribute, condition and subcondition, in table
// order. A row the database refuses (already there) is skipped silently.
// Called once at start-up, before the server callback is handed over.
void InitEventConfiguration();

// Assign the condition word of `kind` ("Level", "RoC", ...) or the
// subcondition word of (`kind`, `state`) ("HiHi", "RoCD", "Bit", ...) to
// `out`; an input outside the tables leaves `out` as it was.
void ConditionTypeName(std::string& out, AlarmKind kind);
void SubconditionTypeName(std::string& out, AlarmKind kind, int32_t state);

// The source-name suffix of `kind` ("A", "ROC", "Bit", ...); empty above 5.
std::string SourceKindSuffix(AlarmKind kind);

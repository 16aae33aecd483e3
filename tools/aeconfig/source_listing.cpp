#include "tools/aeconfig/source_listing.h"

#include "alarmconfig/derived_source.h"
#include "ralto/config_server.h"
#include "toolkit/condition.h"

std::string EscapeField(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
  return out;
}

std::string SourceLine(CDerivedSource& source) {
  std::string condition = "-";
  std::string subconditions = "-";
  if (CAECondition* c = source.GetConditionAt(0)) {
    condition = c->Name();
    subconditions.clear();
    for (int i = 0; i < c->NumberOfSubconditions(); ++i) {
      CAESubcondition* sub = c->GetSubconditionAt(i);
      if (i > 0) subconditions += ',';
      subconditions += sub->Name() + "=" + std::to_string(sub->Severity());
    }
  }
  const AlarmVar* variable = source.Variable();
  std::string area = variable ? variable->area : source.Area();
  std::string message;
  if (variable) message = source.Kind() == kAlarmRateOfChange ? variable->rocMessage : variable->message;
  return EscapeField(source.Name()) + '\t' + EscapeField(condition) + '\t' + EscapeField(area) + '\t' +
         EscapeField(subconditions) + '\t' + EscapeField(message);
}

std::string ResultName(HRESULT result) {
  struct Known {
    HRESULT result;
    const char* name;
  };
  static const Known kKnown[] = {
      {S_OK, "S_OK"},
      {E_NOINTERFACE, "E_NOINTERFACE"},
      {E_POINTER, "E_POINTER"},
      {E_FAIL, "E_FAIL"},
      {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
      {E_ACCESSDENIED, "E_ACCESSDENIED"},
      {E_INVALIDARG, "E_INVALIDARG"},
      {REGDB_E_READREGDB, "REGDB_E_READREGDB"},
      {RALTO_E_NO_CONFIGURATION, "RALTO_E_NO_CONFIGURATION"},
      {RALTO_E_CONFIG_EDITING, "RALTO_E_CONFIG_EDITING"},
      {RALTO_E_UNKNOWN_PRODUCER, "RALTO_E_UNKNOWN_PRODUCER"},
      {RALTO_E_DOCUMENT_NOT_FOUND, "RALTO_E_DOCUMENT_NOT_FOUND"},
      {RALTO_E_READ_FAILED, "RALTO_E_READ_FAILED"},
  };
  for (const Known& k : kKnown)
    if (k.result == result) return k.name;
  uint32_t bits = static_cast<uint32_t>(result);
  if ((bits & 0xFFFF0000u) == 0xC00C0000u) return "XML parser error " + std::to_string(bits & 0xFFFF);
  return {};
}

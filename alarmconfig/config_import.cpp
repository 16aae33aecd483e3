#include "alarmconfig/config_import.h"

#include <algorithm>
#include <iterator>
#include <new>
#include <string_view>
#include <vector>

#include "alarmconfig/alarm_entry_supply.h"
#include "alarmconfig/alarm_sources.h"
#include "alarmconfig/area_path.h"
#include "alarmconfig/message_box_sink.h"
#include "alarmconfig/source_name.h"
#include "alarmconfig/string_ids.h"
#include "platform/class_factory.h"
#include "platform/format_text.h"
#include "platform/resource_strings.h"
#include "platform/variant.h"
#include "platform/xml_document.h"

namespace {

constexpr char kNodeSummaryPath[] =
    "/QQQ:ConfigurationSummary/QQQ:NodeSummary[QQQ:Document[@DocType='ProducedData']]";
constexpr char kProducerPath[] = "/QQQ:ProducedData/QQQ:Producer";

constexpr const char* kElementIndexes[] = {"[1]", "[2]", "[3]", "[4]"};
// How far beyond what a full import has met it reserves on a guess.
constexpr size_t kReserveAheadFactor = 16;

bool WindowVisible() { return g_bInteractive.load() != 0; }

// Only elements and attributes are read: blank text is left out of the trees.
const XmlLoadOptions kReadOnlyElements{.dropBlankText = true};

// An attribute read as a 32-bit unsigned (VARIANT conversion rules).
bool ReadUnsigned(const CXmlNode& node, const char* name, uint32_t& out) {
  std::string text;
  if (!node.GetAttribute(name, text)) return false;
  VARIANT value = VARIANT::Bstr(std::move(text));
  if (FAILED(value.ChangeType(VT_UI4))) return false;
  out = value.ulVal;
  return true;
}

// The integer value of one InitValue part as the controller's tools write
// it: leading blanks, a sign, digits up to the first other character (none:
// 0). Codes run from 0 to 5; any other value is taken as 0.
DWORD PriorityCode(const std::string& part) {
  size_t i = part.find_first_not_of(" \t");
  if (i == std::string::npos) return 0;
  bool negative = part[i] == '-';
  if (part[i] == '-' || part[i] == '+') ++i;
  DWORD value = 0;
  for (; i < part.size() && part[i] >= '0' && part[i] <= '9' && value < 6; ++i) value = value * 10 + (part[i] - '0');
  return negative || value >= 6 ? 0 : value;
}

// An ".LP" member's InitValue: six codes for an O0C block, one for an O0D
// block; any other count leaves the codes as they are.
void ApplyPriorityInitValue(AlarmVar& variable, const std::string& initValue) {
  if (initValue.empty()) return;
  std::vector<std::string> parts;
  for (size_t start = 0;;) {
    size_t comma = initValue.find(',', start);
    parts.push_back(initValue.substr(start, comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  size_t wanted = variable.blockType == "O0C" ? 6 : variable.blockType == "O0D" ? 1 : 0;
  if (wanted == 0 || parts.size() != wanted) return;
  for (size_t i = 0; i < wanted; ++i) variable.priorityCodes[i] = PriorityCode(parts[i]);
}

}  // namespace

HRESULT ImportConfiguration(CAlarmVarStore& store, bool incremental) {
  return CConfigImport(store, incremental).Run();
}

CConfigImport::CConfigImport(CAlarmVarStore& store, bool incremental)
    : store_(store), incremental_(incremental) {}

HRESULT CConfigImport::Run() {
  try {
    CAlarmEntrySupply* supply = g_pAlarmEntrySupply.load();
    clearInitialPending_ = !incremental_ && supply && supply->LastSourceBuildResult() == kSourceBuildNoEntries;
    return ImportSummary();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT CConfigImport::ImportSummary() {
  ComPtr<IRaltoConfigServer> server;
  if (FAILED(CoCreateInstance(CLSID_RaltoConfigServer, nullptr, CLSCTX_ALL, IID_IRaltoConfigServer,
                              server.PutVoid())) ||
      !server)
    return E_NOINTERFACE;

  BSTR text;
  HRESULT hr = server->GetConfigDocument(RALTO_DOC_CONFIGURATION_SUMMARY, RALTO_SUMMARY_ID, 0, 0, &text);
  if (FAILED(hr)) return hr;
  CXmlDocument summary;
  if (!summary.Load(text, kReadOnlyElements)) {
    if (WindowVisible() && summary.ParseErrorCode() != 0) {
      ShowMessageBox(FormatText(LoadResourceString(kStringSummaryParseError), {summary.ParseErrorReason()}),
                     MessageBoxIcon::Exclamation);
      return XmlParseErrorResult(summary.ParseErrorCode());
    }
    return E_POINTER;
  }
  summary.SetSelectionNamespace("QQQ", kRaltoConfigNamespace);

  std::vector<CXmlNode> entries = summary.SelectNodes(kNodeSummaryPath);
  for (size_t i = 0; i < entries.size(); ++i) {
    const CXmlNode& entry = entries[i];
    producersLeft_ = entries.size() - i;
    std::string nodeName;
    uint32_t producerId = 0;
    if (!entry.GetAttribute("Name", nodeName) || !ReadUnsigned(entry, "ProducerId", producerId)) {
      if (!WindowVisible()) continue;
      ShowMessageBox(LoadResourceString(kStringProducerNotFound), MessageBoxIcon::Exclamation);
      return E_FAIL;
    }
    hr = ImportProducer(*server.Get(), nodeName, producerId);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT CConfigImport::ImportProducer(IRaltoConfigServer& server, const std::string& nodeName,
                                      uint32_t producerId) {
  BSTR text;
  HRESULT hr = server.GetConfigDocument(RALTO_DOC_PRODUCED_DATA, static_cast<LONG>(producerId), 0, 0, &text);
  if (FAILED(hr)) return hr;
  CXmlDocument document;
  bool loaded = document.Load(text, kReadOnlyElements);
  BSTR().swap(text);  // the text is not needed beside its document
  if (!loaded) {
    if (!WindowVisible()) return S_OK;
    if (document.ParseErrorCode() != 0) {
      ShowMessageBox(FormatText(LoadResourceString(kStringProducedDataParseError), {document.ParseErrorReason()}),
                     MessageBoxIcon::NoIcon);
      return XmlParseErrorResult(document.ParseErrorCode());
    }
    ShowMessageBox(LoadResourceString(kStringProducedDataNotLoaded), MessageBoxIcon::NoIcon);
    return E_POINTER;
  }
  document.SetSelectionNamespace("QQQ", kRaltoConfigNamespace);

  CXmlNode producer = document.SelectSingleNode(kProducerPath);
  uint32_t secs = 0;
  uint32_t nsecs = 0;
  if (!producer || !ReadUnsigned(producer, "ConfigTimeSecs", secs) ||
      !ReadUnsigned(producer, "ConfigTimeNSecs", nsecs))
    return S_OK;
  auto oldSecs = store_.configTimeSecsMap.find(producerId);
  auto oldNSecs = store_.configTimeNSecsMap.find(producerId);
  if (oldSecs != store_.configTimeSecsMap.end() && oldNSecs != store_.configTimeNSecsMap.end() &&
      oldSecs->second == secs && oldNSecs->second == nsecs)
    return S_OK;  // unchanged since the last import
  store_.configTimeSecsMap[producerId] = secs;
  store_.configTimeNSecsMap[producerId] = nsecs;

  CProducedDataBlocks blocks(document);
  if (!incremental_) ReserveForPlant(blocks);
  for (const BlockMember& member : blocks.Members()) {
    hr = ImportMember(member, nodeName, blocks);
    if (FAILED(hr)) return hr;
  }
  BuildNodeSources(nodeName);
  store_.SweepNodeVariables(nodeName);
  return S_OK;
}

// A fresh connection's store grows from nothing to the whole plant, through
// rehashes that each walk every variable so far. The producers still to come
// are taken to be as large as this one, within a bound for a plant of one
// large producer among small ones.
void CConfigImport::ReserveForPlant(const CProducedDataBlocks& blocks) {
  size_t variables = 0;
  for (const BlockMember& member : blocks.Members()) {
    std::string_view name = member.name;
    bool elements = name.ends_with(".AS") || (name.ends_with(".RS") && member.blockType == "O0C");
    variables += elements ? 1 + std::size(kElementIndexes) : 1;
  }
  size_t met = store_.itemMap.size() + variables;
  store_.ReserveVariables(std::min(store_.itemMap.size() + variables * producersLeft_, met * kReserveAheadFactor));
}

void CConfigImport::PrepareNewVariable(const std::string& itemId, AlarmVar& variable, bool member) {
  if (incremental_ || (member && clearInitialPending_)) variable.initialPending = false;
  if (incremental_) store_.pendingMap[itemId] = &variable;
}

HRESULT CConfigImport::ImportMember(const BlockMember& member, const std::string& nodeName,
                                    const CProducedDataBlocks& blocks) {
  const std::string& name = member.name;
  if (!member.hasName) {
    if (!WindowVisible()) return S_OK;
    ShowMessageBox(LoadResourceString(kStringMemberNotAccessible), MessageBoxIcon::Exclamation);
    return E_POINTER;
  }
  bool added = false;
  auto& [itemId, variable] = store_.FindOrAddVariable(MakeItemId(nodeName, name), nodeName, name, added);
  if (added) {
    PrepareNewVariable(itemId, variable, true);
  } else {
    store_.SetVariableNode(variable, nodeName);
  }
  variable.seenInImport = true;
  // Unchanged texts are left alone: an acknowledgement may be copying them.
  if (variable.itemName != name) variable.itemName = name;
  if (variable.blockType != member.blockType) variable.blockType = member.blockType;

  std::string_view suffix = variable.KindSuffix();
  if (suffix == ".AS") {
    LookUpAreaAndMessages(variable, blocks);
    ImportElements(variable, itemId, !added);
  } else if (suffix == ".RS") {
    LookUpAreaAndMessages(variable, blocks);
    if (variable.blockType == "O0C") ImportElements(variable, itemId, !added);
  } else if (suffix == ".LP") {
    std::string initValue;
    member.element.GetAttribute("InitValue", initValue);
    ApplyPriorityInitValue(variable, initValue);
  }
  return S_OK;
}

void CConfigImport::ImportElements(const AlarmVar& record, const std::string& recordId, bool existed) {
  for (const char* index : kElementIndexes) {
    if (existed) {
      // A record that existed keeps the elements it has; only a new one gets them.
      if (AlarmVar* element = store_.FindVariable(recordId + index)) element->seenInImport = true;
      continue;
    }
    bool added = false;
    auto& [itemId, element] = store_.FindOrAddVariable(recordId + index, record.nodeName, record.itemName + index, added);
    if (added) {
      PrepareNewVariable(itemId, element, false);
      element.blockType = record.blockType;
    }
    element.seenInImport = true;
  }
}

void CConfigImport::LookUpAreaAndMessages(AlarmVar& variable, const CProducedDataBlocks& blocks) {
  bool rateOfChange = variable.KindSuffix() == ".RS";
  std::string block = variable.BlockName();
  // The structure's Area and Message win when either is there; else the
  // embedded block's overwrite them. The area is compared with the stored
  // one only in its final form: comparing the structure's empty area on the
  // way would withdraw (acknowledge, deactivate, remove) the source of every
  // embedded block at each import of its producer, and with it an alarm
  // that is still active in the controller.
  const BlockDescription& structure = blocks.Structure(block);
  bool areaFound = AreaFound(structure.area, rateOfChange);
  bool messageFound = ApplyMessage(variable, structure.message, rateOfChange);
  if (areaFound || messageFound) {
    ApplyArea(variable, structure.area, rateOfChange);
    return;
  }
  const BlockDescription& embedded = blocks.Embedded(block);
  ApplyArea(variable, embedded.area, rateOfChange);
  ApplyMessage(variable, embedded.message, rateOfChange);
}

bool CConfigImport::AreaFound(const CXmlNode& area, bool rateOfChange) {
  return area.HasAttribute("Data") || (rateOfChange && area.HasAttribute("DataROC"));
}

void CConfigImport::ApplyArea(AlarmVar& variable, const CXmlNode& area, bool rateOfChange) {
  std::string data;
  area.GetAttribute("Data", data);
  std::string normalized = NormalizeAreaPath(std::move(data));
  // A digital block's ".RS" member has no source of its own (see the alarm
  // entries); its ".AS" member withdraws the block's bit alarm itself.
  bool hasSource = variable.blockType == "O0C" || (variable.blockType == "O0D" && !rateOfChange);
  if (normalized != variable.area && hasSource) {
    AlarmKind kind = variable.blockType == "O0D" ? kAlarmBit : rateOfChange ? kAlarmRateOfChange : kAlarmLevel;
    WithdrawAreaSource(SourceBaseName(variable), variable.area, kind);
  }
  if (normalized != variable.area) variable.area = std::move(normalized);
}

bool CConfigImport::ApplyMessage(AlarmVar& variable, const CXmlNode& message, bool rateOfChange) {
  bool found = message.GetAttribute("Data", variable.message);
  if (rateOfChange) {
    found = message.GetAttribute("DataROC", variable.rocMessage) || found;
  } else {
    variable.rocMessage.clear();
  }
  return found;
}

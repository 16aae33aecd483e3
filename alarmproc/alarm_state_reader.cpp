#include "alarmproc/alarm_state_reader.h"

#include <cctype>
#include <cstdio>
#include <thread>

#include "alarmconfig/source_name.h"

namespace {

constexpr int kReadAttempts = 4;
constexpr DWORD kMaxItems = 5;  // the state word and its four elements

// Rate-of-change variables end in ".RS"; the kind from the block type.
bool KindOf(const AlarmVar& variable, AlarmKind& kind) {
  if (variable.blockType.find("O0C") != std::string::npos) {
    kind = variable.KindSuffix() == ".RS" ? kAlarmRateOfChange : kAlarmLevel;
    return true;
  }
  // A digital block's alarm is its ".AS" word; its ".RS" member drives nothing.
  if (variable.blockType.find("O0D") != std::string::npos && variable.KindSuffix() != ".RS") {
    kind = kAlarmBit;
    return true;
  }
  return false;
}

const char* StateWordSuffix(AlarmKind kind) { return kind == kAlarmRateOfChange ? ".RS" : ".AS"; }

std::string ElementName(const std::string& stateWord, int index) {
  return stateWord + "[" + std::to_string(index) + "]";
}

int32_t DecodeState(AlarmKind kind, uint32_t word) {
  switch (kind) {
    case kAlarmLevel: {
      static constexpr int32_t kLevel[8] = {0, -2, -1, 1, 2, 0, 0, 0};
      return kLevel[word & 0x7];
    }
    case kAlarmRateOfChange: {
      static constexpr int32_t kRate[4] = {0, -2, 2, 0};
      return kRate[word & 0x3];
    }
    case kAlarmBit: return (word & 0x1) ? 3 : 0;
    default: return 0;
  }
}

// The value of a VT_UI4 variable; 0 for anything else.
uint32_t HeldWord(const AlarmVar* variable) {
  return variable && variable->value.vt == VT_UI4 ? variable->value.ulVal : 0;
}

// Where `token` first occurs in `text`, regardless of case.
size_t FindNoCase(const std::string& text, const std::string& token) {
  if (token.size() > text.size()) return std::string::npos;
  for (size_t at = 0; at + token.size() <= text.size(); ++at) {
    size_t i = 0;
    while (i < token.size() && std::toupper(static_cast<unsigned char>(text[at + i])) ==
                                   std::toupper(static_cast<unsigned char>(token[i])))
      ++i;
    if (i == token.size()) return at;
  }
  return std::string::npos;
}

void ReplaceFirst(std::string& text, const std::string& token, const std::string& by) {
  size_t at = FindNoCase(text, token);
  if (at != std::string::npos) text.replace(at, token.size(), by);
}

}  // namespace

CAlarmStateReader::CAlarmStateReader(IOPCSyncIO* syncIO, CAlarmVarStore& variables, DWORD retrySleepMs,
                                     Pause pause, Unlocked unlocked)
    : syncIO_(syncIO),
      variables_(variables),
      retrySleepMs_(retrySleepMs),
      pause_(std::move(pause)),
      unlocked_(std::move(unlocked)) {
  if (!unlocked_) {
    unlocked_ = [](const std::function<void()>& call) {
      call();
      return true;
    };
  }
  if (!pause_) {
    pause_ = [](DWORD ms) {
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      return true;
    };
  }
}

AlarmVar* CAlarmStateReader::Usable(const std::string& itemId) const {
  AlarmVar* variable = variables_.FindVariable(itemId);
  return variable && variable->serverHandle != 0 ? variable : nullptr;
}

HRESULT CAlarmStateReader::Read(DWORD count, OPCHANDLE* handles, COpcTaskArray<OPCITEMSTATE>& states,
                                COpcTaskArray<HRESULT>& errors, bool* serverFailed) {
  if (!syncIO_) return E_FAIL;
  HRESULT hr = syncIO_->Read(OPC_DS_CACHE, count, handles, states.Put(), errors.Put());
  if (serverFailed) *serverFailed = FAILED(hr);
  if (FAILED(hr)) return hr;
  if (!states || !errors) return E_FAIL;
  for (DWORD i = 0; i < count; ++i) {
    if (FAILED(errors[i])) return errors[i];
  }
  return S_OK;
}

int CAlarmStateReader::ReadAlarmEvent(AlarmVar& variable, AlarmEvent& event, bool& completed,
                                      CAlarmDumpFile* dump) {
  std::string_view suffix = variable.KindSuffix();
  if (suffix != ".AS" && suffix != ".RS") return kReadOk;

  StateArrayRead read;
  for (int attempt = 1; attempt <= kReadAttempts; ++attempt) {
    read = ReadStateArray(variable, dump != nullptr);
    if (read.abandoned) return kReadAbandoned;
    if (read.stale) return kReadStale;
    if (!read.retry) break;
    if (dump) dump->Write(read.diagnostic);
    if (attempt < kReadAttempts && !pause_(retrySleepMs_)) return kReadAbandoned;
  }
  completed = read.completed;
  if (!read.success) return read.serverFailed ? kReadServerFailed : kReadFailed;

  event.kind = read.kind;
  std::string base = MakeItemId(variable.nodeName, variable.BlockName());
  const AlarmVar* stateWord = variables_.FindVariable(base + StateWordSuffix(read.kind));
  bool decoded = stateWord && stateWord->value.vt == VT_UI4;
  if (decoded) {
    uint32_t word = stateWord->value.ulVal;
    event.state = DecodeState(event.kind, word);
    event.acknowledged = (word >> 7) & 0x1;
    event.flags = static_cast<uint8_t>(word >> 8);
  }
  event.baseName = SourceBaseName(variable);
  if (!decoded) return kReadOk;
  BuildAlarmMessage(variable, event);
  return ReadEventTime(base, event.kind, event.activationTime, 0, 1) == kTimeOk ? kReadOk : kReadFailed;
}

CAlarmStateReader::StateArrayRead CAlarmStateReader::ReadStateArray(AlarmVar& variable, bool dumping) {
  StateArrayRead read;
  if (!KindOf(variable, read.kind)) return read;
  std::string base = MakeItemId(variable.nodeName, variable.BlockName());
  std::string stateWord = base + StateWordSuffix(read.kind);

  AlarmVar* items[kMaxItems] = {};
  OPCHANDLE handles[kMaxItems] = {};
  items[0] = Usable(stateWord);
  if (!items[0]) return read;
  DWORD count = 1;
  for (; count < kMaxItems; ++count) {
    items[count] = Usable(ElementName(stateWord, static_cast<int>(count)));
    if (!items[count]) break;
  }
  for (DWORD i = 0; i < count; ++i) handles[i] = items[i]->serverHandle;

  COpcTaskArray<OPCITEMSTATE> states(count);
  COpcTaskArray<HRESULT> errors(count);
  HRESULT hr = E_FAIL;
  bool serverFailed = false;
  if (!unlocked_([&] { hr = Read(count, handles, states, errors, &serverFailed); })) {
    read.abandoned = true;
    return read;
  }
  // The lock may have gone: the items must still be those that were read.
  for (DWORD i = 0; i < count; ++i) {
    AlarmVar* now = Usable(i == 0 ? stateWord : ElementName(stateWord, static_cast<int>(i)));
    if (now != items[i] || now->serverHandle != handles[i]) {
      read.stale = true;
      return read;
    }
  }
  if (hr != S_OK) {
    read.serverFailed = serverFailed;
    return read;
  }

  // An alarm that came and went between two reads leaves the state word
  // normal but its event times changed.
  bool allFour = count == kMaxItems;
  FILETIME heldTime;
  bool wasNormal = items[0]->value.vt == VT_UI4 && (items[0]->value.ulVal & 0xF) == 0;
  bool isNormal = states[0].vDataValue.vt == VT_UI4 && (states[0].vDataValue.ulVal & 0xF) == 0;
  if (wasNormal && isNormal) {
    if (ReadEventTime(base, read.kind, heldTime, allFour ? 2 : 0, allFour ? 4 : 1) != kTimeOk) return read;
    read.completed = true;
  }
  bool heldNoTimes = HeldWord(variables_.FindVariable(ElementName(stateWord, 2))) == 0 &&
                     HeldWord(variables_.FindVariable(ElementName(stateWord, 3))) == 0 &&
                     HeldWord(variables_.FindVariable(ElementName(stateWord, 4))) == 0;

  for (DWORD i = 0; i < count; ++i) {
    items[i]->value = states[i].vDataValue;
    items[i]->timestamp = states[i].ftTimeStamp;
    items[i]->quality = states[i].wQuality;
  }

  read.success = true;
  const FILETIME& wordTime = states[0].ftTimeStamp;
  for (DWORD i = 1; i < count; ++i) {
    const FILETIME& time = states[i].ftTimeStamp;
    if (time == wordTime) continue;
    read.success = false;
    read.retry = true;
    if (dumping) {
      read.diagnostic += stateWord + ", TimeStamp Read was Index= " + std::to_string(i) +
                         ", dwHighDateTime= " + std::to_string(time.dwHighDateTime) +
                         ", dwLowDateTime= " + std::to_string(time.dwLowDateTime) +
                         ", wQuality= " + std::to_string(states[i].wQuality) +
                         ", TimeStamp of Tag was dwHighDateTime= " + std::to_string(wordTime.dwHighDateTime) +
                         ", dwLowDateTime= " + std::to_string(wordTime.dwLowDateTime) + "\r\n";
    }
  }

  if (read.completed && (heldNoTimes || !read.success)) read.completed = false;
  if (read.completed && (count == kMaxItems || count == 2)) {
    FILETIME newTime;
    if (ReadEventTime(base, read.kind, newTime, allFour ? 2 : 0, allFour ? 4 : 1) != kTimeOk ||
        CompareFileTime(newTime, heldTime) <= 0)
      read.completed = false;
  }
  return read;
}

int CAlarmStateReader::ReadEventTime(const std::string& base, AlarmKind kind, FILETIME& out, int a,
                                     int b) const {
  if (kind != kAlarmLevel && kind != kAlarmRateOfChange && kind != kAlarmBit) return kTimeBadKind;
  std::string stateWord = base + StateWordSuffix(kind);
  const AlarmVar* first = variables_.FindVariable(a > 0 ? ElementName(stateWord, a) : stateWord);
  const AlarmVar* second = b >= 1 ? variables_.FindVariable(ElementName(stateWord, b)) : nullptr;
  if (!first || !second || first->value.vt != VT_UI4 || second->value.vt != VT_UI4) return kTimeMissing;

  uint32_t subSecond = b == 3 ? (first->value.ulVal & 0xFFFF) : (first->value.ulVal >> 16);
  auto seconds = static_cast<int32_t>(second->value.ulVal);
  if (seconds == 0 && subSecond == 0) return kTimeOk;
  int64_t ticks = int64_t{seconds} * int64_t{kFileTimeTicksPerSecond} + int64_t{kFileTimeUnixEpoch} +
                  int64_t{subSecond / 100};
  FILETIME local = Uint64ToFileTime(static_cast<uint64_t>(ticks));
  LocalFileTimeToFileTime(&local, &out);
  return kTimeOk;
}

void CAlarmStateReader::BuildAlarmMessage(const AlarmVar& variable, AlarmEvent& event) {
  std::string text = event.kind == kAlarmRateOfChange ? variable.rocMessage : variable.message;

  if (FindNoCase(text, "%VAL") != std::string::npos) {
    VARIANT value;
    if (event.kind == kAlarmBit) {
      if (ReadSiblingValue(variable, "ST", value) == 1 && value.vt == VT_UI2)
        ReplaceFirst(text, "%VAL", (value.uiVal & 0x2) ? "1" : "0");
    } else if (ReadSiblingValue(variable, "PI", value) == 1 && value.vt == VT_R4) {
      char number[64];
      std::snprintf(number, sizeof number, "%10.2f", static_cast<double>(value.fltVal));
      std::string formatted = number;
      formatted.erase(0, formatted.find_first_not_of(' '));
      ReplaceFirst(text, "%VAL", formatted);
    }
  }

  std::string state;
  if (event.kind == kAlarmBit) {
    state = event.state == 3 ? "Alarmed" : "Normal";
  } else {
    SubconditionTypeName(state, event.kind, event.state);
    if (state.empty()) state = "Normal";
  }
  ReplaceFirst(text, "%STATE", state);
  event.message = std::move(text);
}

int CAlarmStateReader::ReadSiblingValue(const AlarmVar& variable, const char* suffix, VARIANT& out) {
  AlarmVar* sibling = Usable(MakeItemId(variable.nodeName, variable.BlockName()) + "." + suffix);
  if (!sibling) return 0;
  OPCHANDLE handle = sibling->serverHandle;
  COpcTaskArray<OPCITEMSTATE> states(1);
  COpcTaskArray<HRESULT> errors(1);
  if (Read(1, &handle, states, errors) != S_OK) return 0;
  out = states[0].vDataValue;
  return 1;
}

// The D-Bus methods of the OPC AE objects with fuzzed arguments, through
// the tables that turn a call's arguments into the OPC AE calls
// (toolkit/dbus/dbus_adaptors.h), on the example plant's alarm sources,
// without a bus. One input is one client's life: it creates an event
// server object, calls methods of it and of the subscriptions and area
// browsers those calls create (filters, name lists, browse patterns,
// acknowledgements...), then goes, and its objects are released as the
// transport releases a vanished client's. Arguments are built to each
// method's input signature as the bus delivers them (strings valid UTF-8
// without NUL), drawn half from the plant's own names and numbers. A call
// that succeeds must reply with exactly the method's output signature; the
// events that reach the client's sinks must travel the wire encoding and
// come back the same.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "alarmconfig/config.h"
#include "alarmconfig/config_import.h"
#include "alarmconfig/tracked_mutex.h"
#include "fuzz/support/fuzz_config_server.h"
#include "fuzz/support/fuzz_sandbox.h"
#include "store_entry_supply.h"
#include "tests/support/event_sink.h"
#include "toolkit/condition.h"
#include "toolkit/dbus/dbus_adaptors.h"
#include "toolkit/dbus/dbus_names.h"
#include "toolkit/dbus/dbus_wire.h"
#include "toolkit/server_interface.h"
#include "toolkit/source.h"
#include "toolkit/source_cache.h"
#include "toolkit/subcondition.h"

// Exported by sdbus-c++ 1.2 without a public declaration (later versions
// declare it in Message.h): a message of no bus, for local data.
namespace sdbus {
PlainMessage createPlainMessage();
}  // namespace sdbus

namespace {

using aedbus::CExported;

// {7C3A5E91-2D4B-4F86-A1C0-93E5B7D2F418}
constexpr CLSID kFuzzClsid{0x7C3A5E91, 0x2D4B, 0x4F86, {0xA1, 0xC0, 0x93, 0xE5, 0xB7, 0xD2, 0xF4, 0x18}};
constexpr char kClient[] = ":1.42";
constexpr size_t kMaxCalls = 32;
constexpr size_t kMaxArray = 12;
// The plant's conditions are active since then, unacknowledged.
constexpr uint64_t kActiveTime = 133'590'000'000'000'000;

[[noreturn]] void Broken(const std::string& what) {
  std::fprintf(stderr, "dbus_calls: %s\n", what.c_str());
  std::abort();
}

// What the plant offers as arguments.
struct Vocabulary {
  std::vector<std::string> texts;
  std::vector<uint32_t> numbers;
  std::vector<uint32_t> cookies;  // of the conditions' current activations
  std::vector<uint64_t> times;
};
Vocabulary g_words;

// The transport's part for one client, without a bus.
class CClientHost final : public aedbus::CAdaptorHost {
 public:
  std::string Export(std::unique_ptr<CExported> object) override {
    std::string path = object->path;
    if (!methods_.count(object->kind)) methods_[object->kind] = aedbus::MethodsOf(object->kind, *this);
    live_.push_back(std::move(object));
    return path;
  }
  std::string NewPath(const char* prefix) override { return prefix + std::to_string(nextId_++); }
  void Retire(const CExported& object) override {
    for (auto it = live_.begin(); it != live_.end(); ++it) {
      if (it->get() != &object) continue;
      retired_.push_back(std::move(*it));
      live_.erase(it);
      return;
    }
    Broken("a release of an object that is not live");
  }
  HRESULT AdviseSink(CExported& object, DWORD* cookie) override {
    if (!object.point) return E_NOINTERFACE;
    return object.point->Advise(static_cast<IOPCEventSink*>(sink_.Get()), cookie);
  }

  // What reached the client's sinks so far.
  std::vector<ONEVENTSTRUCT> Events() { return sink_->Events(); }
  std::vector<std::unique_ptr<CExported>>& Live() { return live_; }
  const std::vector<aedbus::CMethod>& MethodsOf(CExported::Kind kind) { return methods_.at(kind); }
  // What a call released goes after it, as on the bus.
  void ReleaseRetired() {
    for (auto& object : std::exchange(retired_, {})) Release(std::move(object));
  }
  // The client goes: subscriptions and browsers first, event servers last.
  void ReleaseAll() {
    for (bool servers : {false, true}) {
      for (auto it = live_.begin(); it != live_.end();) {
        if (((*it)->kind == CExported::Kind::kEventServer) == servers) {
          retired_.push_back(std::move(*it));
          it = live_.erase(it);
        } else {
          ++it;
        }
      }
      ReleaseRetired();
    }
  }

 private:
  static void Release(std::unique_ptr<CExported> object) {
    if (object->point)
      for (DWORD cookie : object->cookies) object->point->Unadvise(cookie);
  }

  ComPtr<RecordingEventSink> sink_ = RecordingEventSink::Make();
  std::vector<std::unique_ptr<CExported>> live_;
  std::vector<std::unique_ptr<CExported>> retired_;
  std::map<CExported::Kind, std::vector<aedbus::CMethod>> methods_;
  uint64_t nextId_ = 1;
};

// A D-Bus string: valid UTF-8 (no overlong forms, surrogates or
// non-characters) without NUL, as sd-bus accepts it; what is not becomes '?'.
std::string BusString(const std::string& bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size();) {
    unsigned char b = static_cast<unsigned char>(bytes[i]);
    size_t len = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
    char32_t c = len == 1 ? b : len == 2 ? b & 0x1F : len == 3 ? b & 0x0F : b & 0x07;
    bool ok = len != 0 && i + len <= bytes.size();
    for (size_t k = 1; ok && k < len; ++k) {
      unsigned char cb = static_cast<unsigned char>(bytes[i + k]);
      ok = (cb & 0xC0) == 0x80;
      c = (c << 6) | (cb & 0x3F);
    }
    static constexpr char32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
    ok = ok && c != 0 && c >= kShortest[len] && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF) &&
         (c < 0xFDD0 || c > 0xFDEF) && (c & 0xFFFE) != 0xFFFE;
    if (ok) {
      out.append(bytes, i, len);
      i += len;
    } else {
      out += '?';
      ++i;
    }
  }
  return out;
}

template <class T>
const T& Pick(FuzzedDataProvider& in, const std::vector<T>& from) {
  return from[in.ConsumeIntegralInRange<size_t>(0, from.size() - 1)];
}

// The end of the complete type that starts at signature[pos].
size_t TypeEnd(std::string_view signature, size_t pos) {
  if (signature[pos] == 'a') return TypeEnd(signature, pos + 1);
  if (signature[pos] != '(') return pos + 1;
  for (++pos; signature[pos] != ')';) pos = TypeEnd(signature, pos);
  return pos + 1;
}

// One argument of complete type `type`, appended to `msg`.
void WriteArgument(FuzzedDataProvider& in, std::string_view type, sdbus::Message& msg) {
  switch (type[0]) {
    case 'b': msg << in.ConsumeBool(); break;
    case 'u': {
      int from = in.ConsumeIntegralInRange(0, 2);
      msg << (from == 0 ? Pick(in, g_words.numbers) : from == 1 ? Pick(in, g_words.cookies)
                                                                 : in.ConsumeIntegral<uint32_t>());
      break;
    }
    case 'i': msg << (in.ConsumeBool() ? int32_t(Pick(in, g_words.numbers)) : in.ConsumeIntegral<int32_t>()); break;
    case 't': msg << (in.ConsumeBool() ? Pick(in, g_words.times) : in.ConsumeIntegral<uint64_t>()); break;
    case 's': msg << (in.ConsumeBool() ? Pick(in, g_words.texts) : BusString(in.ConsumeRandomLengthString(64))); break;
    case 'a': {
      std::string element(type.substr(1));
      msg.openContainer(element);
      for (size_t n = in.ConsumeIntegralInRange<size_t>(0, kMaxArray); n > 0; --n) WriteArgument(in, element, msg);
      msg.closeContainer();
      break;
    }
    default: Broken("no argument of type " + std::string(type) + " is built");
  }
}

sdbus::PlainMessage Arguments(FuzzedDataProvider& in, std::string_view signature) {
  sdbus::PlainMessage msg = sdbus::createPlainMessage();
  for (size_t pos = 0; pos < signature.size();) {
    size_t end = TypeEnd(signature, pos);
    WriteArgument(in, signature.substr(pos, end - pos), msg);
    pos = end;
  }
  msg.seal();
  msg.rewind(true);
  return msg;
}

bool AtEnd(sdbus::Message& msg) {
  std::string type, contents;
  msg.peekType(type, contents);
  return type.empty() || type[0] == '\0';
}

// Reads one value of complete type `type`; false when the message holds
// something else there.
bool ReadValue(sdbus::Message& msg, std::string_view type) {
  std::string next, contents;
  msg.peekType(next, contents);
  // A peek names a struct 'r', as sd-bus does.
  char expected = type[0] == '(' ? 'r' : type[0];
  if (next.size() != 1 || next[0] != expected) {
    std::fprintf(stderr, "dbus_calls: '%s' where %.*s belongs\n", next.c_str(), int(type.size()), type.data());
    return false;
  }
  switch (type[0]) {
    case 'a': {
      std::string element(type.substr(1));
      if (contents != element || !msg.enterContainer(element)) return false;
      while (!AtEnd(msg))
        if (!ReadValue(msg, element)) return false;
      msg.exitContainer();
      return true;
    }
    case '(': {
      std::string members(type.substr(1, type.size() - 2));
      if (contents != members || !msg.enterStruct(members)) return false;
      for (size_t pos = 0; pos < members.size();) {
        size_t end = TypeEnd(members, pos);
        if (!ReadValue(msg, members.substr(pos, end - pos))) return false;
        pos = end;
      }
      if (!AtEnd(msg)) return false;
      msg.exitStruct();
      return true;
    }
    case 'v': {
      std::string inner = contents;
      if (!msg.enterVariant(inner) || TypeEnd(inner, 0) != inner.size() || !ReadValue(msg, inner)) return false;
      msg.exitVariant();
      return true;
    }
    case 'b': { bool v; msg >> v; break; }
    case 'y': { uint8_t v; msg >> v; break; }
    case 'n': { int16_t v; msg >> v; break; }
    case 'q': { uint16_t v; msg >> v; break; }
    case 'i': { int32_t v; msg >> v; break; }
    case 'u': { uint32_t v; msg >> v; break; }
    case 'x': { int64_t v; msg >> v; break; }
    case 't': { uint64_t v; msg >> v; break; }
    case 'd': { double v; msg >> v; break; }
    case 's': { std::string v; msg >> v; break; }
    case 'o': { sdbus::ObjectPath v; msg >> v; break; }
    default: return false;
  }
  return static_cast<bool>(msg);
}

void CheckReply(const aedbus::CMethod& method, sdbus::PlainMessage& reply) {
  reply.seal();
  reply.rewind(true);
  std::string_view signature = method.outSignature;
  for (size_t pos = 0; pos < signature.size();) {
    size_t end = TypeEnd(signature, pos);
    if (!ReadValue(reply, signature.substr(pos, end - pos)))
      Broken(std::string(method.name) + " replied otherwise than " + method.outSignature);
    pos = end;
  }
  if (!AtEnd(reply)) Broken(std::string(method.name) + " replied more than " + method.outSignature);
}

bool SameEvent(const ONEVENTSTRUCT& a, const ONEVENTSTRUCT& b) {
  if (a.pEventAttributes.size() != b.pEventAttributes.size()) return false;
  for (size_t i = 0; i < a.pEventAttributes.size(); ++i)
    if (a.pEventAttributes[i].vt != b.pEventAttributes[i].vt) return false;
  return a.wChangeMask == b.wChangeMask && a.wNewState == b.wNewState && a.szSource == b.szSource &&
         FileTimeToUint64(a.ftTime) == FileTimeToUint64(b.ftTime) && a.szMessage == b.szMessage &&
         a.dwEventType == b.dwEventType && a.dwEventCategory == b.dwEventCategory && a.dwSeverity == b.dwSeverity &&
         a.szConditionName == b.szConditionName && a.szSubconditionName == b.szSubconditionName &&
         a.wQuality == b.wQuality && (a.bAckRequired != 0) == (b.bAckRequired != 0) &&
         FileTimeToUint64(a.ftActiveTime) == FileTimeToUint64(b.ftActiveTime) && a.dwCookie == b.dwCookie &&
         a.szActorID == b.szActorID;
}

// The events the sinks got, through the encoding of an OnEvent signal and back.
void CheckEventsOnTheWire(const std::vector<ONEVENTSTRUCT>& events) {
  if (events.empty()) return;
  sdbus::PlainMessage msg = sdbus::createPlainMessage();
  aedbus::Write(msg, events.data(), events.size());
  msg.seal();
  msg.rewind(true);
  std::vector<ONEVENTSTRUCT> back;
  if (!aedbus::Read(msg, back) || back.size() != events.size()) Broken("events do not come back off the wire");
  for (size_t i = 0; i < events.size(); ++i)
    if (!SameEvent(events[i], back[i])) Broken("event of " + events[i].szSource + " changed on the wire");
}

// Every condition back to active and unacknowledged, every area and
// source enabled: each input starts from the same plant.
void Enable(const std::string& name, bool isArea) {
  bool enabled = true, effective = true;
  if (g_SourceCache.GetEnabled(name, isArea, enabled, effective) && !enabled)
    g_SourceCache.SetEnabled(name, isArea, true);
}

void ResetPlant() {
  FILETIME active = Uint64ToFileTime(kActiveTime);
  Enable("", true);
  for (const std::string& area : g_SourceCache.AllAreas()) Enable(area, true);
  g_words.cookies.clear();
  for (const CAESourcePtr& source : g_SourceCache.Snapshot()) {
    Enable(source->Name(), false);
    for (int i = 0, n = source->NumberOfConditions(); i < n; ++i) {
      CAECondition* condition = source->GetConditionAt(i);
      if (!condition->Active() || condition->Acked()) {
        condition->Deactivate("", false, nullptr);
        condition->Activate(condition->GetSubconditionAt(0)->Name(), "fuzz plant alarm", true, &active);
      }
      g_words.cookies.push_back(condition->Cookie());
    }
  }
}

void LoadPlant() {
  static ConfigDocuments documents = ReadPlantFolder(AE_EXAMPLE_PLANT_DIR);
  static CTestVarStore store;  // the connection's variables, for the life of the process
  static CStoreEntrySupply supply(store);
  ServeConfigDocuments(&documents);
  HRESULT hr;
  {
    TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
    hr = ImportConfiguration(store, false);
  }
  ServeConfigDocuments(nullptr);
  if (FAILED(hr) || g_SourceCache.NumberOfSources() == 0) Broken("the example plant does not import");
  ResetPlant();
}

void BuildVocabulary() {
  g_words.texts = {"", "*", "?*", "#", "[A-Z]*", "[!T]*", "*_*", "*/*", "Level", "RoC", "Bit", "HiHi", "Hi",
                   "Lo", "LoLo", "RoCU", "RoCD", "Normal", "operator", "checked", "Tank_Farm/*", "*.A", "..",
                   "/", "a/b/../c", std::string(300, 'x')};
  for (const std::string& area : g_SourceCache.AllAreas()) {
    g_words.texts.push_back(area);
    g_words.texts.push_back(area + "/*");
    g_words.texts.push_back(area.substr(area.rfind('/') + 1));
  }
  g_words.numbers = {0,          1,          2,          3,          4,         5,         7,        8,
                     0x10,       0x1F,       100,        500,        900,       1000,      1001,     0x409,
                     0x800,      0xFFFFFFFF, 0x80000000, 0x80004005, 0x80070057};
  for (const EventCategoryRow& row : EventCategoryTable()) g_words.numbers.push_back(row.id);
  for (const EventAttributeRow& row : EventAttributeTable()) g_words.numbers.push_back(row.id);
  g_words.times = {0, kActiveTime, kActiveTime + 1, UINT64_MAX};
  for (const CAESourcePtr& source : g_SourceCache.Snapshot()) {
    g_words.texts.push_back(source->Name());
    g_words.texts.push_back(source->ShortName());
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MakeFuzzSandbox();
  if (g_ServerInterface.Initialize(nullptr, kFuzzClsid, "Veltrocorp", '/', 0) == 0) Broken("no toolkit");
  InitEventConfiguration();
  LoadPlant();
  BuildVocabulary();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  CClientHost client;
  std::string path;
  if (FAILED(aedbus::CreateEventServerObject(kFuzzClsid, kClient, client, &path))) Broken("no event server object");
  for (size_t calls = 0; calls < kMaxCalls && in.remaining_bytes() > 0 && !client.Live().empty(); ++calls) {
    CExported& object = *Pick(in, client.Live());
    const aedbus::CMethod& method = Pick(in, client.MethodsOf(object.kind));
    sdbus::PlainMessage args = Arguments(in, method.inSignature);
    sdbus::PlainMessage reply = sdbus::createPlainMessage();
    HRESULT hr = E_FAIL;
    try {
      hr = method.handler(object, args, reply);
    } catch (const sdbus::Error& e) {
      Broken(std::string(method.name) + " could not read its arguments: " + e.getMessage());
    }
    if (SUCCEEDED(hr)) CheckReply(method, reply);
    client.ReleaseRetired();
  }
  client.ReleaseAll();
  CheckEventsOnTheWire(client.Events());
  ResetPlant();
  return 0;
}

#include "toolkit/dbus/dbus_wire.h"

namespace aedbus {

namespace {

template <class T>
void WriteVariant(sdbus::Message& msg, const char* signature, T value) {
  msg.openVariant(signature);
  msg << value;
  msg.closeVariant();
}

template <class T>
bool ReadVariant(sdbus::Message& msg, const char* signature, T& value) {
  if (!msg.enterVariant(signature)) return false;
  msg >> value;
  bool ok = static_cast<bool>(msg);
  msg.exitVariant();
  return ok;
}

}  // namespace

void Write(sdbus::Message& msg, const VARIANT& value) {
  msg.openStruct("qv");
  msg << static_cast<uint16_t>(value.vt);
  switch (value.vt) {
    case VT_I1: WriteVariant(msg, "n", static_cast<int16_t>(value.cVal)); break;
    case VT_UI1: WriteVariant(msg, "y", static_cast<uint8_t>(value.bVal)); break;
    case VT_I2: WriteVariant(msg, "n", static_cast<int16_t>(value.iVal)); break;
    case VT_UI2: WriteVariant(msg, "q", static_cast<uint16_t>(value.uiVal)); break;
    case VT_I4: case VT_ERROR: WriteVariant(msg, "i", static_cast<int32_t>(value.lVal)); break;
    case VT_UI4: WriteVariant(msg, "u", static_cast<uint32_t>(value.ulVal)); break;
    case VT_R4: WriteVariant(msg, "d", static_cast<double>(value.fltVal)); break;
    case VT_R8: WriteVariant(msg, "d", value.dblVal); break;
    case VT_DATE: WriteVariant(msg, "d", value.date); break;
    case VT_BSTR: WriteVariant(msg, "s", value.bstrVal); break;
    case VT_BOOL: WriteVariant(msg, "b", value.boolVal != VARIANT_FALSE); break;
    default: WriteVariant(msg, "y", uint8_t{0}); break;  // EMPTY, NULL: no value
  }
  msg.closeStruct();
}

void Write(sdbus::Message& msg, const std::vector<VARIANT>& values) {
  msg.openContainer("(qv)");
  for (const VARIANT& v : values) Write(msg, v);
  msg.closeContainer();
}

void Write(sdbus::Message& msg, const ONEVENTSTRUCT& e) {
  msg.openStruct(kEventSignature);
  msg << e.wChangeMask << e.wNewState << e.szSource << FileTimeToUint64(e.ftTime) << e.szMessage
      << e.dwEventType << e.dwEventCategory << e.dwSeverity << e.szConditionName << e.szSubconditionName
      << e.wQuality << e.wReserved << (e.bAckRequired != 0) << FileTimeToUint64(e.ftActiveTime) << e.dwCookie;
  Write(msg, e.pEventAttributes);
  msg << e.szActorID;
  msg.closeStruct();
}

void Write(sdbus::Message& msg, const ONEVENTSTRUCT* events, size_t count) {
  msg.openContainer(kEventArraySignature);
  for (size_t i = 0; i < count; ++i) Write(msg, events[i]);
  msg.closeContainer();
}

bool Read(sdbus::Message& msg, VARIANT& value) {
  if (!msg.enterStruct("qv")) return false;
  uint16_t vt = 0;
  msg >> vt;
  bool ok = static_cast<bool>(msg);
  value = VARIANT();
  switch (vt) {
    case VT_I1: { int16_t v = 0; ok = ok && ReadVariant(msg, "n", v); value.vt = VT_I1; value.cVal = static_cast<int8_t>(v); break; }
    case VT_UI1: { uint8_t v = 0; ok = ok && ReadVariant(msg, "y", v); value.vt = VT_UI1; value.bVal = v; break; }
    case VT_I2: { int16_t v = 0; ok = ok && ReadVariant(msg, "n", v); value = VARIANT::I2(v); break; }
    case VT_UI2: { uint16_t v = 0; ok = ok && ReadVariant(msg, "q", v); value = VARIANT::UI2(v); break; }
    case VT_I4: case VT_ERROR: { int32_t v = 0; ok = ok && ReadVariant(msg, "i", v); value = VARIANT::I4(v); value.vt = vt; break; }
    case VT_UI4: { uint32_t v = 0; ok = ok && ReadVariant(msg, "u", v); value = VARIANT::UI4(v); break; }
    case VT_R4: { double v = 0; ok = ok && ReadVariant(msg, "d", v); value = VARIANT::R4(static_cast<float>(v)); break; }
    case VT_R8: { double v = 0; ok = ok && ReadVariant(msg, "d", v); value = VARIANT::R8(v); break; }
    case VT_DATE: { double v = 0; ok = ok && ReadVariant(msg, "d", v); value = VARIANT::Date(v); break; }
    case VT_BSTR: { std::string v; ok = ok && ReadVariant(msg, "s", v); value = VARIANT::Bstr(std::move(v)); break; }
    case VT_BOOL: { bool v = false; ok = ok && ReadVariant(msg, "b", v); value = VARIANT::Boolean(v); break; }
    default: { uint8_t v = 0; ok = ok && ReadVariant(msg, "y", v); value.vt = vt; break; }
  }
  msg.exitStruct();
  return ok;
}

bool Read(sdbus::Message& msg, std::vector<VARIANT>& values) {
  if (!msg.enterContainer("(qv)")) return false;
  VARIANT v;
  while (Read(msg, v)) values.push_back(std::move(v));
  msg.clearFlags();
  msg.exitContainer();
  return true;
}

bool Read(sdbus::Message& msg, ONEVENTSTRUCT& e) {
  if (!msg.enterStruct(kEventSignature)) return false;
  uint64_t time = 0, activeTime = 0;
  bool ackRequired = false;
  msg >> e.wChangeMask >> e.wNewState >> e.szSource >> time >> e.szMessage >> e.dwEventType >> e.dwEventCategory
      >> e.dwSeverity >> e.szConditionName >> e.szSubconditionName >> e.wQuality >> e.wReserved >> ackRequired
      >> activeTime >> e.dwCookie;
  bool ok = static_cast<bool>(msg) && Read(msg, e.pEventAttributes);
  msg >> e.szActorID;
  ok = ok && static_cast<bool>(msg);
  msg.exitStruct();
  e.ftTime = Uint64ToFileTime(time);
  e.ftActiveTime = Uint64ToFileTime(activeTime);
  e.bAckRequired = ackRequired;
  return ok;
}

bool Read(sdbus::Message& msg, std::vector<ONEVENTSTRUCT>& events) {
  if (!msg.enterContainer(kEventArraySignature)) return false;
  while (true) {
    ONEVENTSTRUCT e;
    if (!Read(msg, e)) break;
    events.push_back(std::move(e));
  }
  msg.clearFlags();
  msg.exitContainer();
  return true;
}

}  // namespace aedbus

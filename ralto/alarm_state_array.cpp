#include "ralto/alarm_state_array.h"

RaltoControllerTime ControllerTimeFromUtc(const FILETIME& utc) {
  FILETIME local;
  if (IsNullFileTime(utc) || !FileTimeToLocalFileTime(&utc, &local)) return {};
  uint64_t ticks = FileTimeToUint64(local);
  if (ticks < kFileTimeUnixEpoch) return {};
  ticks -= kFileTimeUnixEpoch;
  uint64_t subTicks = ticks % kFileTimeTicksPerSecond;
  return {static_cast<uint32_t>(ticks / kFileTimeTicksPerSecond),
          static_cast<uint16_t>(subTicks * 65536 / kFileTimeTicksPerSecond)};
}

FILETIME UtcFromControllerTime(const RaltoControllerTime& time) {
  if (time == RaltoControllerTime{}) return {};
  uint64_t ticks = kFileTimeUnixEpoch + uint64_t(time.seconds) * kFileTimeTicksPerSecond +
                   uint64_t(time.fraction) * kFileTimeTicksPerSecond / 65536;
  FILETIME local = Uint64ToFileTime(ticks), utc;
  if (!LocalFileTimeToFileTime(&local, &utc)) return {};
  return utc;
}

std::array<uint32_t, 5> EncodeAlarmStateArray(const RaltoAlarmRecord& alarm) {
  uint32_t word = (alarm.state & 0x07u) | (alarm.acknowledged ? 0x80u : 0u) |
                  (uint32_t(alarm.flags) << 8) | (uint32_t(alarm.activation.fraction) << 16);
  uint32_t fractions =
      uint32_t(alarm.acknowledgement.fraction) | (uint32_t(alarm.returnToNormal.fraction) << 16);
  return {word, alarm.activation.seconds, fractions, alarm.acknowledgement.seconds,
          alarm.returnToNormal.seconds};
}

"use strict";
// How OPC AE values become OPC UA Alarms and Conditions values: times,
// qualities, condition kinds and their limit states, result codes.
const { StatusCodes } = require("node-opcua-status-code");
const { HR } = require("./ae_bus");

const OPC_CONDITION_ENABLED = 1;
const OPC_CONDITION_ACTIVE = 2;
const OPC_CONDITION_ACKED = 4;
const OPC_CHANGE_ACK_STATE = 2;

const FILETIME_UNIX_EPOCH = 116444736000000000n;
const TICKS_PER_MS = 10000n;

// FILETIME (100 ns ticks since 1601) to a Date; the ticks below the
// millisecond ride along as the Date's picoseconds, which the stack encodes,
// so the client receives the controller's time to the tick. 0 is null.
function fileTimeToDate(ticks) {
  if (!ticks || ticks < FILETIME_UNIX_EPOCH) return null;
  const since = ticks - FILETIME_UNIX_EPOCH;
  const date = new Date(Number(since / TICKS_PER_MS));
  date.picoseconds = Number(since % TICKS_PER_MS) * 100000;
  return date;
}

// The OPC DA quality word of an AE event as an OPC UA StatusCode.
const BAD_QUALITY = {
  0x00: StatusCodes.Bad,
  0x04: StatusCodes.BadConfigurationError,
  0x08: StatusCodes.BadNotConnected,
  0x0c: StatusCodes.BadDeviceFailure,
  0x10: StatusCodes.BadSensorFailure,
  0x14: StatusCodes.BadNoCommunication,
  0x18: StatusCodes.BadNoCommunication,
  0x1c: StatusCodes.BadOutOfService,
  0x20: StatusCodes.BadWaitingForInitialData,
};
const UNCERTAIN_QUALITY = {
  0x40: StatusCodes.Uncertain,
  0x44: StatusCodes.UncertainLastUsableValue,
  0x50: StatusCodes.UncertainSensorNotAccurate,
  0x54: StatusCodes.UncertainEngineeringUnitsExceeded,
  0x58: StatusCodes.UncertainSubNormal,
};

function qualityToStatusCode(quality) {
  const q = quality & 0xfc;
  switch (q & 0xc0) {
    case 0xc0:
      return q === 0xd8 ? StatusCodes.GoodLocalOverride : StatusCodes.Good;
    case 0x40:
      return UNCERTAIN_QUALITY[q] || StatusCodes.Uncertain;
    default:
      return BAD_QUALITY[q] || StatusCodes.Bad;
  }
}

// The standard type for each condition of the server, and the limit state
// that each of its subconditions stands for.
const KINDS = {
  Level: {
    type: "ExclusiveLevelAlarmType",
    limits: { LoLo: "LowLow", Lo: "Low", Hi: "High", HiHi: "HighHigh" },
  },
  RoC: {
    type: "ExclusiveRateOfChangeAlarmType",
    limits: { RoCD: "Low", RoCU: "High" },
  },
};
const OFF_NORMAL = { type: "OffNormalAlarmType", limits: null };

// A condition whose subconditions are all limits of a kind is of that kind;
// every other condition is on or off normal.
function conditionKind(name, subconditions) {
  const kind = KINDS[name];
  if (kind && subconditions.every((s) => s === "Normal" || s === name || kind.limits[s])) return kind;
  return OFF_NORMAL;
}

// The limit state of an active condition (null when inactive or unknown).
function limitState(kind, active, subcondition) {
  if (!kind.limits || !active) return null;
  return kind.limits[subcondition] || null;
}

// What the gateway keeps of an AE condition's state, from an event. The
// actor is the acknowledger only in an acknowledgement's event; other
// events leave it (and the comment) as they were.
function stateOfEvent(e, receiveTime) {
  const acked = !!(e.newState & OPC_CONDITION_ACKED);
  return {
    enabled: !!(e.newState & OPC_CONDITION_ENABLED),
    active: !!(e.newState & OPC_CONDITION_ACTIVE),
    acked,
    subcondition: e.subcondition,
    severity: e.severity,
    message: e.message,
    time: fileTimeToDate(e.time) || receiveTime,
    receiveTime,
    activeTime: e.activeTime,
    cookie: e.cookie,
    quality: qualityToStatusCode(e.quality),
    actor: acked && e.changeMask & OPC_CHANGE_ACK_STATE ? e.actor : undefined,
  };
}

// Part of a state from GetConditionState: no message, cookie or time of
// the last event; those stay as mirrored.
function stateOfCondition(s, receiveTime) {
  const active = !!(s.state & OPC_CONDITION_ACTIVE);
  return {
    enabled: !!(s.state & OPC_CONDITION_ENABLED),
    active,
    acked: !!(s.state & OPC_CONDITION_ACKED),
    subcondition: s.subcondition,
    severity: s.severity,
    // The active time that an acknowledgement names is the subcondition's.
    activeTime: s.subActiveTime,
    quality: qualityToStatusCode(s.quality),
    actor: s.acknowledger,
    comment: s.comment,
    receiveTime,
  };
}

// The UA result of an AckCondition. The gateway refuses a disabled
// condition itself, so the server's E_INVALIDARG is a cookie of an older
// activation, and OPC_E_INVALIDTIME an older active time: either way the
// event acknowledged is no longer the condition's.
function ackResult(hr) {
  if (hr === HR.S_OK) return StatusCodes.Good;
  if (hr === HR.OPC_S_ALREADYACKED) return StatusCodes.BadConditionBranchAlreadyAcked;
  if (hr === HR.OPC_E_INVALIDTIME || hr === HR.E_INVALIDARG) return StatusCodes.BadEventIdUnknown;
  if (hr === HR.UNREACHABLE) return StatusCodes.BadCommunicationError;
  return StatusCodes.BadInternalError;
}

module.exports = {
  fileTimeToDate,
  qualityToStatusCode,
  conditionKind,
  limitState,
  stateOfEvent,
  stateOfCondition,
  ackResult,
  OPC_CONDITION_ACTIVE,
  OPC_CONDITION_ACKED,
  OPC_CONDITION_ENABLED,
};

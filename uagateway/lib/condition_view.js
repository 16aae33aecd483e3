"use strict";
// One condition's state as its events and its variables show it. The stack
// keeps a condition's state in the current branch's map of fields and, on
// every setter, copies the change into the condition's variable and that
// variable's two-state machinery: each copy costs about as much as raising
// the event, and at thousands of events a second that was the gateway's
// whole budget. Here the branch map is the one place the state is written,
// a field only when it changed, and the condition's variables read it
// through bound getters, so a read or a data-change subscription still
// sees the current state and ConditionRefresh replays it unchanged.
// Relies on the stack's ConditionSnapshot keeping its fields in `_map` by
// browse path (pinned version, see package-lock.json).
const { DataType, Variant } = require("node-opcua-variant");
const { StatusCodes } = require("node-opcua-status-code");
const { NodeClass } = require("node-opcua-data-model");
const { NodeId, sameNodeId } = require("node-opcua-nodeid");

const text = (t) => new Variant({ dataType: DataType.LocalizedText, value: { text: t } });
const NULL_VARIANT = new Variant({ dataType: DataType.Null });
const NULL_NODE_ID = new Variant({ dataType: DataType.NodeId, value: NodeId.nullNodeId });
// What a disabled condition's event still shows; every other field reads
// BadConditionDisabled.
const SHOWN_WHEN_DISABLED = new Set(["BranchId", "ConditionClassId", "ConditionClassName", "ConditionName",
  "EnabledState", "EnabledState.EffectiveDisplayName", "EnabledState.Id", "EnabledState.TransitionTime",
  "EnabledState.EffectiveTransitionTime", "EventId", "EventType", "LocalTime", "SourceName", "SourceNode", "Time"]);
const DISABLED = new Variant({ dataType: DataType.StatusCode, value: StatusCodes.BadConditionDisabled });
// The fields written here, with their sub-fields; the rest (names, types,
// limits) are set once on the variables and stay as they are.
const WRITTEN = /^(ActiveState|AckedState|EnabledState|Severity|LastSeverity|Message|Quality|Comment|ClientUserId|Time|ReceiveTime|Retain|EventId)(\.|$)/;

// The stack's event record, finding a filter's field in the condition's
// own table of answers: every event of the condition has the same fields
// at the same nodes, so the stack's answer for a path is kept, and the
// target it names leads straight to the field. Per field and client the
// stack's filter browses the path, asks the source's address space for the
// target's node (its class) and reads the value at the target; among a
// large plant's million nodes that lookup alone cost a tenth of an event.
// The record is what the stack's filter and the monitored items use of it
// (pinned version, see package-lock.json): getEventDataSource() (its
// nodeId, and an address space for findNode and browsePath), _browse and
// _readValue; the fields are not kept as properties.
let ConditionEventData = null;
function conditionEventData(EventData) {
  ConditionEventData ||= class extends EventData {
    constructor(view) {
      super(view.node, view.paths);
      this._view = view;
      this._values = new Array(view.fields.length);
    }

    getEventDataSource() {
      return this._view.source;
    }

    _setField(field, variant) {
      this._values[field.index] = variant;
    }

    _readValue(nodeId) {
      const view = this._view;
      const field = view.targets.get(nodeId) || view.byNodeId.get(nodeId.toString());
      return field ? this._values[field.index] : null;
    }

    _browse(browsePath) {
      const view = this._view;
      if (!sameNodeId(browsePath.startingNode, view.node.nodeId)) return null;
      const key = (browsePath.relativePath.elements || []).map((b) => b.targetName.toString()).join(".");
      let result = view.browsed.get(key);
      if (result === undefined) {
        view.browsed.set(key, (result = super._browse(browsePath)));
        if (result) view.targets.set(result.targets[0].targetId, view.byPath.get(key));
      }
      return result;
    }
  };
  return ConditionEventData;
}

// The objects that hear an event of `source`: the Server object, then the
// source and its notifiers up to the Server, in the order the stack walks
// them. The area tree above a source never changes while it exists.
function notifiersOf(source) {
  const server = source.addressSpace.findNode("Server");
  const seen = new Set([server.nodeId.toString()]);
  const order = [server], queue = [source];
  seen.add(source.nodeId.toString());
  while (queue.length) {
    const node = queue.pop();
    order.push(node);
    for (const type of ["HasNotifier", "HasEventSource"]) {
      for (const up of node.findReferencesAsObject(type, false)) {
        if (!seen.has(up.nodeId.toString())) seen.add(up.nodeId.toString()), queue.push(up);
      }
    }
  }
  return order;
}

class ConditionView {
  constructor(node) {
    this.node = node;
    this.branch = node.currentBranch();
    this.map = this.branch._map;
    this.notifiers = [node, ...notifiersOf(node.conditionOfNode())];
    // An event's fields, and where a client's filter finds each, worked out
    // once: the stack's event record takes them as they are.
    this.EventData = conditionEventData(this.branch.eventData.constructor);
    this.browsed = new Map();
    this.fields = [];
    this.paths = new Map(); // browse path -> NodeId, as the stack's record takes it
    this.byPath = new Map(); // browse path -> field
    this.byNodeId = new Map(); // NodeId string -> field
    this.targets = new Map(); // a kept browse answer's target -> field
    const space = node.addressSpace;
    this.source = { nodeId: node.nodeId, addressSpace: {
      findNode: (id) => {
        const field = this.targets.get(id);
        return field ? field.node : space.findNode(id);
      },
      browsePath: (browsePath) => space.browsePath(browsePath),
    } };
    for (const [key, variable] of this.branch._node_index) {
      if (WRITTEN.test(key)) variable.bindVariable({ get: () => this.map.get(key) || NULL_VARIANT }, true);
      this._addField(key, variable, SHOWN_WHEN_DISABLED.has(key), this.map);
    }
    // A limit alarm's state machine is no part of the branch; its current
    // state rides along, so that a filter finds it here instead of browsing
    // the address space for every event.
    if (node.limitState) this._bindLimitState(node.limitState);
    // The texts of each two-state variable's states, built once.
    this.states = {};
    for (const name of ["ActiveState", "AckedState", "EnabledState"]) {
      const variable = this.branch._node_index.get(name);
      this.states[name] = [text(variable.getFalseState().text || ""), text(variable.getTrueState().text || "")];
    }
  }

  // `from` holds the field's current value, when it is kept here.
  _addField(key, variable, kept, from) {
    const field = { fullBrowsePath: key, node: variable, nodeIdKey: variable.nodeId.toString(), kept, from,
      index: this.fields.length };
    this.fields.push(field);
    this.paths.set(key, variable.nodeId);
    this.byPath.set(key, field);
    this.byNodeId.set(field.nodeIdKey, field);
    return field;
  }

  _addMachine(parent, prefix) {
    for (const child of parent.getAggregates()) {
      if (child.nodeClass !== NodeClass.Variable) continue;
      const key = `${prefix}.${child.browseName.name}`;
      this._addField(key, child, false, this.machine);
      this._addMachine(child, key);
    }
  }

  // The limit state is kept here too and its variables read it: the stack's
  // setState writes each of them with its change notifications, and costs as
  // much as the rest of an event. Its variables are CurrentState and
  // CurrentState.Id; an inactive alarm's CurrentState reads
  // BadStateNotActive (its events carry none) and its Id the null NodeId.
  _bindLimitState(machine) {
    this.machine = new Map();
    this.limitStates = new Map();
    for (const state of machine.getStates()) {
      const name = state.browseName.name;
      this.limitStates.set(name, { node: state, text: text((state.displayName[0] && state.displayName[0].text) || name),
        id: new Variant({ dataType: DataType.NodeId, value: state.nodeId }) });
    }
    this.limitMachine = machine;
    this._addMachine(machine, "LimitState");
    this.setLimitState(null);
    const current = machine.currentState;
    current.bindVariable({ get: () => {
      const shown = this.machine.get("LimitState.CurrentState");
      return shown === NULL_VARIANT ? StatusCodes.BadStateNotActive : shown;
    } }, true);
    current.getPropertyByName("Id").bindVariable({ get: () => this.machine.get("LimitState.CurrentState.Id") }, true);
  }

  // The limit state by its name (HighHigh, High, Low, LowLow), or null.
  setLimitState(name) {
    const state = name === null ? null : this.limitStates.get(name);
    if (name !== null && !state) throw new Error(`no limit state ${name}`);
    this.limitState = name;
    this.limitMachine.currentStateNode = state ? state.node : null;
    this.machine.set("LimitState.CurrentState", state ? state.text : NULL_VARIANT);
    this.machine.set("LimitState.CurrentState.Id", state ? state.id : NULL_NODE_ID);
  }

  get(key) {
    const v = this.map.get(key);
    return v ? v.value : undefined;
  }

  set(key, dataType, value) {
    if (this.map.has(key)) this.map.set(key, new Variant({ dataType, value }));
  }

  // A field with a SourceTimestamp of its own (Quality, Comment, LastSeverity).
  setStamped(key, dataType, value, time) {
    this.set(key, dataType, value);
    this.set(`${key}.SourceTimestamp`, DataType.DateTime, time);
  }

  twoState(name) {
    return !!this.get(`${name}.Id`);
  }

  setTwoState(name, value, transitionTime, effectiveTime = transitionTime) {
    const shown = this.states[name][value ? 1 : 0];
    this.map.set(name, shown);
    this.set(`${name}.Id`, DataType.Boolean, value);
    this.set(`${name}.EffectiveDisplayName`, DataType.LocalizedText, shown.value);
    this.set(`${name}.TransitionTime`, DataType.DateTime, transitionTime);
    this.set(`${name}.EffectiveTransitionTime`, DataType.DateTime, effectiveTime);
  }

  setSeverity(severity, time) {
    const last = this.get("Severity") || 0;
    this.setStamped("LastSeverity", DataType.UInt16, last, this.get("Severity.SourceTimestamp") || time);
    this.set("Severity", DataType.UInt16, severity);
  }

  // Raises the condition's event with a new EventId, as its source would;
  // the EventId.
  raise() {
    const eventId = this.node.addressSpace.generateEventId().value;
    this.set("EventId", DataType.ByteString, eventId);
    const enabled = this.twoState("EnabledState");
    const data = new this.EventData(this);
    for (const f of this.fields) {
      const value = f.from.get(f.fullBrowsePath) || f.node.readValue().value;
      data._setField(f, enabled || f.kept ? value : DISABLED);
    }
    for (const node of this.notifiers) node.emit("event", data);
    return eventId;
  }
}

module.exports = { ConditionView };

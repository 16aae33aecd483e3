"use strict";
// The OPC UA side of the gateway: the OPC AE area tree as folders under
// Objects, each source an object, each condition an instance of the
// standard alarm type that fits it, and the mirror of each condition's AE
// state. States are set as the server's events say; nothing is evaluated
// here. The condition methods are bound to a handler that the gateway gives:
// handler.acknowledge(entry, eventId, comment, userName) and
// handler.setEnabled(entry, enabled) resolve with a StatusCode.
const { NodeId } = require("node-opcua-nodeid");
const { StatusCodes } = require("node-opcua-status-code");
const { DataType } = require("node-opcua-variant");
const { fileTimeToDate, limitState } = require("./ae_mapping");
const { ConditionView } = require("./condition_view");

const NAMESPACE_URI = "urn:aeserver:uagateway";
const SUBSCRIBE_TO_EVENTS = 1;
// Event ids that an operator may still acknowledge per activation: the
// events of the activation since it began, the oldest dropped beyond this.
const EVENT_IDS_KEPT = 32;

const areaId = (q) => `s=Area:${q}`;
const sourceId = (q) => `s=Source:${q}`;
const conditionId = (source, condition) => `s=Condition:${source}|${condition}`;

class AlarmSpace {
  constructor(addressSpace, handler) {
    this.addressSpace = addressSpace;
    this.handler = handler;
    this.ns = addressSpace.registerNamespace(NAMESPACE_URI);
    this.server = addressSpace.rootFolder.objects.server;
    this.areas = new Map(); // qualified area -> node ("" the Server object)
    this.sources = new Map(); // qualified source -> node
    this.conditions = new Map(); // nodeId string -> entry
    this.byName = new Map(); // source + "\n" + condition -> entry
    this.areas.set("", this.server);
    // The limits and the process value live in the controller: the alarms'
    // InputNode is the null NodeId. The stack wants a numeric variable to
    // build a limit alarm; this one is nowhere in the browse tree and never
    // changes, so it evaluates nothing.
    this.input = this.ns.addVariable({ browseName: "ControllerInput", dataType: "Double", nodeId: "s=ControllerInput" });
    this.input.setValueFromSource({ dataType: DataType.Double, value: 0 });
    this.input.setMaxListeners(0);
    this._bindTypeMethods();
  }

  // The folder of a qualified area under its parent (created on demand).
  area(qualified, name, parentQualified) {
    let node = this.areas.get(qualified);
    if (node) return node;
    const parent = this.areas.get(parentQualified);
    node = this.ns.addObject({
      browseName: name,
      nodeId: areaId(qualified),
      typeDefinition: "FolderType",
      organizedBy: parentQualified === "" ? this.addressSpace.rootFolder.objects : parent,
      eventNotifier: SUBSCRIBE_TO_EVENTS,
    });
    parent.addReference({ referenceType: "HasNotifier", nodeId: node });
    this.areas.set(qualified, node);
    return node;
  }

  source(qualified, name, areaQualified) {
    let node = this.sources.get(qualified);
    if (node) return node;
    const area = this.areas.get(areaQualified);
    node = this.ns.addObject({
      browseName: name,
      nodeId: sourceId(qualified),
      organizedBy: areaQualified === "" ? this.addressSpace.rootFolder.objects : area,
      eventSourceOf: area,
      eventNotifier: SUBSCRIBE_TO_EVENTS,
    });
    this.sources.set(qualified, node);
    return node;
  }

  // The condition of a source as an instance of kind.type; its mirror entry.
  condition(sourceQualified, name, kind) {
    const key = sourceQualified + "\n" + name;
    let entry = this.byName.get(key);
    if (entry) return entry;
    const sourceNode = this.sources.get(sourceQualified);
    const options = {
      browseName: name,
      nodeId: conditionId(sourceQualified, name),
      componentOf: sourceNode,
      conditionSource: sourceNode,
      conditionName: name,
      inputNode: this.input,
    };
    let node;
    if (kind.type === "OffNormalAlarmType") {
      node = this.ns.instantiateOffNormalAlarm({ ...options, normalState: null });
    } else {
      // The limit states that the kind's subconditions stand for; the limits
      // themselves are the controller's and unknown here (NaN).
      const limits = {};
      for (const state of Object.values(kind.limits)) limits[state[0].toLowerCase() + state.slice(1) + "Limit"] = NaN;
      node = this.ns.instantiateExclusiveLimitAlarm(kind.type, { ...options, ...limits });
    }
    node.inputNode.setValueFromSource({ dataType: DataType.NodeId, value: NodeId.nullNodeId });
    // SourceName is the OPC AE source name, as AE clients know it.
    node.sourceName.setValueFromSource({ dataType: DataType.String, value: sourceQualified });
    this._bindInstanceMethods(node);
    const view = new ConditionView(node);
    entry = {
      node,
      view,
      kind,
      source: sourceQualified,
      condition: name,
      enabled: true,
      active: false,
      acked: true,
      subcondition: "",
      severity: 0,
      shownSeverity: 0,
      message: "",
      activeTime: 0n,
      cookie: 0,
      quality: StatusCodes.BadWaitingForInitialData,
      actor: "",
      comment: "",
      eventIds: [],
      version: 0,
    };
    view.setStamped("Quality", DataType.StatusCode, entry.quality, new Date());
    view.set("Retain", DataType.Boolean, false);
    this.conditions.set(node.nodeId.toString(), entry);
    this.byName.set(key, entry);
    return entry;
  }

  find(source, condition) {
    return this.byName.get(source + "\n" + condition);
  }

  // Applies an AE state (from an event or GetConditionState: fields not
  // given stay as mirrored) and raises the condition's event when anything
  // a client sees has changed or `always` says so.
  apply(entry, s, always = false) {
    const next = { ...entry };
    for (const [k, v] of Object.entries(s)) if (v !== undefined) next[k] = v;
    const newActivation = next.cookie !== entry.cookie || next.activeTime !== entry.activeTime;
    if (newActivation) {
      // An acknowledgement's comment and acknowledger belong to its activation.
      next.eventIds = [];
      if (s.actor === undefined) next.actor = "";
      if (s.comment === undefined) next.comment = "";
    }
    const changed =
      always || newActivation ||
      ["enabled", "active", "acked", "subcondition", "severity", "message", "actor", "comment"].some((k) => next[k] !== entry[k]) ||
      next.quality.value !== entry.quality.value;
    if (!changed) return false;
    const { node, view } = entry;
    const time = s.time || s.receiveTime || new Date();
    if (next.enabled !== entry.enabled) view.setTwoState("EnabledState", next.enabled, time);
    if (entry.kind.limits) {
      const state = limitState(entry.kind, next.active, next.subcondition);
      if (state !== view.limitState) view.setLimitState(state);
    }
    if (next.active !== view.twoState("ActiveState")) {
      const activeAt = next.active ? (fileTimeToDate(next.activeTime) || time) : time;
      view.setTwoState("ActiveState", next.active, activeAt);
    }
    if (next.acked !== view.twoState("AckedState")) view.setTwoState("AckedState", next.acked, time);
    // A disabled condition's event shows only what the standard keeps.
    const severity = Math.max(1, Math.min(1000, next.severity || 1));
    if (next.enabled && severity !== entry.shownSeverity) view.setSeverity(severity, time), (next.shownSeverity = severity);
    if (next.message !== entry.message) view.set("Message", DataType.LocalizedText, { text: next.message || "" });
    if (next.quality.value !== entry.quality.value) view.setStamped("Quality", DataType.StatusCode, next.quality, time);
    if (next.comment !== entry.comment) view.setStamped("Comment", DataType.LocalizedText, { text: next.comment || "" }, time);
    if (next.actor !== entry.actor) view.set("ClientUserId", DataType.String, next.actor || "");
    if (s.time) view.set("Time", DataType.DateTime, s.time);
    view.set("ReceiveTime", DataType.DateTime, s.receiveTime || new Date());
    // Of interest while active or waiting for its acknowledgement, and
    // enabled: the retain flag is ours.
    view.set("Retain", DataType.Boolean, next.enabled && (next.active || !next.acked));
    Object.assign(entry, next);
    entry.eventIds.push(view.raise());
    if (entry.eventIds.length > EVENT_IDS_KEPT) entry.eventIds.shift();
    return true;
  }

  // Whether eventId names an event of the condition's current activation.
  knowsEvent(entry, eventId) {
    return !!eventId && entry.eventIds.some((id) => id.equals(eventId));
  }

  // Every condition's quality as given (the server has gone), one event each.
  setAllQuality(quality) {
    const receiveTime = new Date();
    for (const entry of this.conditions.values()) this.apply(entry, { quality, receiveTime });
  }

  // Removes what the server no longer has: areas, sources and conditions
  // not among the names kept.
  prune(keepAreas, keepSources) {
    for (const [key, entry] of this.byName) {
      if (keepSources.has(entry.source)) continue;
      this.conditions.delete(entry.node.nodeId.toString());
      this.byName.delete(key);
    }
    for (const [q, node] of this.sources) {
      if (!keepSources.has(q)) this.ns.deleteNode(node), this.sources.delete(q);
    }
    for (const [q, node] of [...this.areas].reverse()) {
      if (q !== "" && !keepAreas.has(q)) this.ns.deleteNode(node), this.areas.delete(q);
    }
  }

  _entryOf(context) {
    return context.object ? this.conditions.get(context.object.nodeId.toString()) : undefined;
  }

  _method(fn) {
    return (inputArguments, context, callback) => {
      const entry = this._entryOf(context);
      if (!entry) return callback(null, { statusCode: StatusCodes.BadNodeIdInvalid });
      Promise.resolve(fn(entry, inputArguments, context)).then(
        (statusCode) => callback(null, { statusCode }),
        () => callback(null, { statusCode: StatusCodes.BadInternalError }),
      );
    };
  }

  _methods() {
    if (!this.bound) {
      this.bound = {
        acknowledge: this._method((entry, args, context) =>
          this.handler.acknowledge(entry, args[0].value, args[1].value ? args[1].value.text || "" : "", context.getUserName())),
        enable: this._method((entry) => this.handler.setEnabled(entry, true)),
        disable: this._method((entry) => this.handler.setEnabled(entry, false)),
        // The server keeps a comment only with an acknowledgement.
        addComment: (args, context, callback) => callback(null, { statusCode: StatusCodes.BadNotSupported }),
      };
    }
    return this.bound;
  }

  // Calls on the types' methods with a condition as the object land here too.
  _bindTypeMethods() {
    const m = this._methods();
    const conditionType = this.addressSpace.findEventType("ConditionType");
    conditionType.enable.bindMethod(m.enable);
    conditionType.disable.bindMethod(m.disable);
    conditionType.addComment.bindMethod(m.addComment);
    this.addressSpace.findEventType("AcknowledgeableConditionType").acknowledge.bindMethod(m.acknowledge);
  }

  _bindInstanceMethods(node) {
    const m = this._methods();
    node.acknowledge.bindMethod(m.acknowledge);
    node.enable.bindMethod(m.enable);
    node.disable.bindMethod(m.disable);
    node.addComment.bindMethod(m.addComment);
  }
}

module.exports = { AlarmSpace, NAMESPACE_URI };

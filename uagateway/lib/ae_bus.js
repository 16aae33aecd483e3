"use strict";
// The OPC AE objects of aeserver on D-Bus, as a client sees them: the server
// class, one event server object, one area browser and one subscription.
// Every call returns a promise; a failing HRESULT rejects with an AeError
// that carries it. Emits "events" (events, refresh, lastRefresh) for the
// subscription's OnEvent signals, "shutdown" (reason) and "owner" (unique
// name, or "" when the server's name has no owner). 64-bit FILETIMEs travel
// as BigInt.
const EventEmitter = require("events");
const dbus = require("@homebridge/dbus-native");

const SERVICE = "Corvane.OPCAEqrxServer._1";
const AE = "org.opcfoundation.AE.";
const HRESULT_ERROR = AE + "Error.HRESULT_";
const SIGNAL = 4;
// A call that has no answer by then counts as a server gone.
const CALL_TIMEOUT_MS = 15000;
// Calls in flight at once: a bus limits the replies a connection awaits.
const IN_FLIGHT = 64;

const OPC_AREA = 1;
const OPC_SOURCE = 2;
const OPCAE_BROWSE_TO = 3;
const OPC_CONDITION_EVENT = 4;

// HRESULTs the gateway tells apart.
const HR = Object.freeze({
  S_OK: 0,
  S_FALSE: 1,
  OPC_S_ALREADYACKED: 0x00040200,
  E_FAIL: 0x80004005 | 0,
  E_INVALIDARG: 0x80070057 | 0,
  E_ACCESSDENIED: 0x80070005 | 0,
  OPC_E_INVALIDTIME: 0xc0040204 | 0,
  // No answer: the bus or the server is gone.
  UNREACHABLE: 0x800706ba | 0,
});

class AeError extends Error {
  constructor(what, hr, detail) {
    super(`${what}: 0x${(hr >>> 0).toString(16).padStart(8, "0")}${detail ? " " + detail : ""}`);
    this.hr = hr;
  }
}

function toBigInt(long) {
  return typeof long === "number" ? BigInt(long) : BigInt(long.toString());
}

// An ONEVENTSTRUCT from its D-Bus struct.
function decodeEvent(e) {
  return {
    changeMask: e[0],
    newState: e[1],
    source: e[2],
    time: toBigInt(e[3]),
    message: e[4],
    eventType: e[5],
    category: e[6],
    severity: e[7],
    condition: e[8],
    subcondition: e[9],
    quality: e[10],
    ackRequired: e[12],
    activeTime: toBigInt(e[13]),
    cookie: e[14],
    actor: e[16],
  };
}

class AeBus extends EventEmitter {
  // options.busAddress: the bus (default: the session bus of the environment).
  constructor(options = {}) {
    super();
    this.options = options;
    this.bus = null;
    this.eventServer = null;
    this.browser = null;
    this.subscription = null;
    this.cookie = 0;
    this.pending = new Set();
    this.waiting = [];
  }

  // Opens the connection to the bus and watches the server's name.
  async open() {
    const bus = dbus.createClient({ busAddress: this.options.busAddress, ReturnLongjs: true });
    this.bus = bus;
    await new Promise((resolve, reject) => {
      bus.connection.once("connect", resolve);
      bus.connection.once("error", reject);
    });
    bus.connection.on("error", (err) => this.emit("busError", err));
    bus.connection.on("end", () => this.emit("busError", new Error("the bus closed the connection")));
    bus.connection.on("message", (m) => this._onMessage(m));
    await this._dbus("AddMatch", "s", [
      `type='signal',sender='org.freedesktop.DBus',member='NameOwnerChanged',arg0='${SERVICE}'`,
    ]);
    await this._dbus("AddMatch", "s", [`type='signal',interface='${AE}IOPCEventSink'`]);
    await this._dbus("AddMatch", "s", [`type='signal',interface='${AE}IOPCShutdown'`]);
  }

  // Ends the connection; calls still waiting fail.
  close() {
    if (this.bus) this.bus.connection.end();
    this.bus = null;
    for (const fail of [...this.pending]) fail();
    for (const go of this.waiting.splice(0)) go();
  }

  async nameHasOwner() {
    const [owned] = await this._dbus("NameHasOwner", "s", [SERVICE]);
    return owned;
  }

  _onMessage(m) {
    if (m.type !== SIGNAL) return;
    if (m.member === "NameOwnerChanged" && m.body && m.body[0] === SERVICE) {
      this.emit("owner", m.body[2]);
    } else if (m.member === "OnEvent" && this.subscription && m.path === this.subscription) {
      this.emit("events", m.body[3].map(decodeEvent), m.body[1], m.body[2]);
    } else if (m.member === "ShutdownRequest" && m.path === this.eventServer) {
      this.emit("shutdown", m.body[0]);
    }
  }

  _dbus(member, signature, body) {
    return this._invoke({
      destination: "org.freedesktop.DBus",
      path: "/org/freedesktop/DBus",
      interface: "org.freedesktop.DBus",
      member,
      signature,
      body,
    }, member);
  }

  async _invoke(msg, what) {
    if (this.pending.size >= IN_FLIGHT) await new Promise((go) => this.waiting.push(go));
    return new Promise((resolve, reject) => {
      if (!this.bus) return reject(new AeError(what, HR.UNREACHABLE, "not connected"));
      const fail = () => settle(() => reject(new AeError(what, HR.UNREACHABLE, "no answer")));
      const timer = setTimeout(fail, CALL_TIMEOUT_MS);
      const settle = (then) => {
        if (!this.pending.delete(fail)) return;
        clearTimeout(timer);
        const next = this.waiting.shift();
        if (next) next();
        then();
      };
      this.pending.add(fail);
      this.bus.invoke(msg, (err, ...out) => settle(() => {
        if (!err) return resolve(out);
        const name = (err && err.name) || "";
        const hr = name.startsWith(HRESULT_ERROR) ? parseInt(name.slice(HRESULT_ERROR.length), 16) | 0 : HR.UNREACHABLE;
        reject(new AeError(what, hr, name.startsWith(HRESULT_ERROR) ? "" : `${name} ${err.message || ""}`.trim()));
      }));
    });
  }

  // A method of an AE object; resolves with its outputs after the HRESULT.
  async call(path, iface, member, signature, body = []) {
    const msg = { destination: SERVICE, path, interface: AE + iface, member };
    if (signature) Object.assign(msg, { signature, body });
    const out = await this._invoke(msg, member);
    const hr = out[0] | 0;
    if (hr < 0) throw new AeError(member, hr);
    return out;
  }

  // The event server object (the first call starts the server by
  // activation when it is registered and not running).
  async createInstance(clientName) {
    const [, path] = await this.call("/Server", "ServerClass", "CreateInstance", "");
    this.eventServer = path;
    this.subscription = null;
    this.browser = null;
    await this.call(path, "IOPCCommon", "SetClientName", "s", [clientName]);
    const [, browser] = await this.call(path, "IOPCEventServer", "CreateAreaBrowser", "");
    this.browser = browser;
    return path;
  }

  server(member, signature, body, iface = "IOPCEventServer") {
    return this.call(this.eventServer, iface, member, signature, body);
  }

  // The areas and the sources (short names) directly in `area` ("" the root).
  async browse(area) {
    await this.call(this.browser, "IOPCEventAreaBrowser", "ChangeBrowsePosition", "us", [OPCAE_BROWSE_TO, area]);
    const [[, areas], [, sources]] = await Promise.all([
      this.call(this.browser, "IOPCEventAreaBrowser", "BrowseOPCAreas", "us", [OPC_AREA, ""]),
      this.call(this.browser, "IOPCEventAreaBrowser", "BrowseOPCAreas", "us", [OPC_SOURCE, ""]),
    ]);
    // Qualified names at this browse position; the calls keep their order.
    const names = await Promise.all([
      ...areas.map((a) => this.call(this.browser, "IOPCEventAreaBrowser", "GetQualifiedAreaName", "s", [a])),
      ...sources.map((s) => this.call(this.browser, "IOPCEventAreaBrowser", "GetQualifiedSourceName", "s", [s])),
    ]);
    const qualified = names.map((n) => n[1]);
    return {
      areas: areas.map((name, i) => ({ name, qualified: qualified[i] })),
      sources: sources.map((name, i) => ({ name, qualified: qualified[areas.length + i] })),
    };
  }

  async sourceConditions(source) {
    const [, names] = await this.server("QuerySourceConditions", "s", [source]);
    return names;
  }

  async subconditionNames(condition) {
    const [, names] = await this.server("QuerySubConditionNames", "s", [condition]);
    return names;
  }

  // The condition's state: enable/active/acked bits, active subcondition,
  // its severity, quality, times, acknowledger and comment.
  async conditionState(source, condition) {
    const o = await this.server("GetConditionState", "ssau", [source, condition, []]);
    return {
      state: o[1], subcondition: o[2], severity: o[4], quality: o[6], lastAckTime: toBigInt(o[7]),
      subActiveTime: toBigInt(o[8]), activeTime: toBigInt(o[9]), inactiveTime: toBigInt(o[10]),
      acknowledger: o[11], comment: o[12],
    };
  }

  // The condition event categories: [{ id, name }].
  async categories() {
    const [, ids, names] = await this.server("QueryEventCategories", "u", [OPC_CONDITION_EVENT]);
    return ids.map((id, i) => ({ id, name: names[i] }));
  }

  // One subscription to every condition event, keep-alive every
  // keepAliveMs, advised. (The categories' attributes are not asked for:
  // an acknowledgement's comment is read with GetConditionState.)
  async subscribe(keepAliveMs) {
    const [, path] = await this.server("CreateEventSubscription", "buuu", [true, 0, 0, 1]);
    this.subscription = path;
    await this.call(path, "IOPCEventSubscriptionMgt", "SetFilter", "uauuuasas", [OPC_CONDITION_EVENT, [], 1, 1000, [], []]);
    if (keepAliveMs) await this.call(path, "IOPCEventSubscriptionMgt2", "SetKeepAlive", "u", [keepAliveMs]);
    const [, cookie] = await this.call(path, "IConnectionPoint", "Advise", "");
    this.cookie = cookie;
  }

  refresh() {
    return this.call(this.subscription, "IOPCEventSubscriptionMgt", "Refresh", "u", [this.cookie]);
  }

  // Resolves with the per-condition HRESULT.
  async ackCondition(acknowledger, comment, source, condition, activeTime, cookie) {
    const [, errors] = await this.server("AckCondition", "ssasasatau", [
      acknowledger, comment, [source], [condition], [activeTime.toString()], [cookie]]);
    return errors.length ? errors[0] | 0 : HR.E_FAIL;
  }

  async setSourceEnabled(source, enabled) {
    const [hr] = await this.server(enabled ? "EnableConditionBySource" : "DisableConditionBySource", "as", [[source]]);
    return hr | 0;
  }

  // The objects go with their owner; released here when the gateway ends.
  async release() {
    for (const path of [this.subscription, this.browser, this.eventServer]) {
      if (path) await this.call(path, "IUnknown", "Release", "").catch(() => {});
    }
    this.subscription = this.browser = this.eventServer = null;
  }
}

module.exports = { AeBus, AeError, HR, SERVICE, decodeEvent };

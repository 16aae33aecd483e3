"use strict";
// The gateway: an OPC UA server whose alarms mirror aeserver's OPC AE
// conditions, kept over D-Bus. It holds no alarm state beyond the mirror and
// rebuilds it after every break: when the server goes, every condition's
// quality turns bad; when it is back, the area tree is browsed again, each
// condition's state read, and a refresh replays the active and
// unacknowledged ones with their messages and cookies.
const path = require("path");
const { OPCUAServer } = require("node-opcua-server");
const { OPCUACertificateManager } = require("node-opcua-certificate-manager");
const { setDefaultCertificateSubject } = require("node-opcua-common");
const { SecurityPolicy, MessageSecurityMode } = require("node-opcua-secure-channel");
const { nodesets } = require("node-opcua-nodesets");
const { StatusCodes } = require("node-opcua-status-code");
const { AeBus, HR } = require("./ae_bus");
const { AlarmSpace } = require("./alarm_space");
const { EventPump } = require("./event_pump");
const mapping = require("./ae_mapping");
const { readUsers, checkPassword } = require("./config");

const CLIENT_NAME = "uagateway";
// Calls in flight at once while the whole plant is read.
const BATCH = 256;

class Gateway {
  constructor(config, log = (line) => console.log(`uagateway: ${line}`)) {
    this.config = config;
    this.log = log;
    this.ae = null;
    this.connected = false;
    this.stopped = false;
    this.kinds = new Map(); // condition name -> kind
    this.pump = new EventPump({
      showLive: (e) => this._showLive(e),
      showRefresh: (e) => this._showRefresh(e),
      refreshDone: () => this.refreshDone && this.refreshDone(),
    });
  }

  async start() {
    const c = this.config;
    const pki = path.join(c.dataDir, "pki");
    const users = readUsers(c.usersFile);
    // The certificate made on the first start names the gateway, not the stack.
    setDefaultCertificateSubject("/O=aeserver");
    const serverCertificateManager = new OPCUACertificateManager({
      rootFolder: pki,
      automaticallyAcceptUnknownCertificate: c.acceptUnknownCertificates,
    });
    const userCertificateManager = new OPCUACertificateManager({
      rootFolder: path.join(c.dataDir, "user-pki"),
      automaticallyAcceptUnknownCertificate: false,
    });
    this.server = new OPCUAServer({
      port: c.port,
      hostname: c.hostname || undefined,
      host: c.listen || undefined,
      nodeset_filename: [nodesets.standard],
      serverCertificateManager,
      userCertificateManager,
      certificateFile: path.join(pki, "own", "certs", "uagateway.pem"),
      privateKeyFile: path.join(pki, "own", "private", "private_key.pem"),
      securityPolicies: c.securityPolicies.map((p) => SecurityPolicy[p]),
      securityModes: [MessageSecurityMode.None, MessageSecurityMode.Sign, MessageSecurityMode.SignAndEncrypt],
      allowAnonymous: c.allowAnonymous,
      userManager: { isValidUser: (name, password) => checkPassword(users, name, password) },
      buildInfo: { productName: "aeserver OPC UA gateway", manufacturerName: "aeserver" },
      serverInfo: {
        applicationUri: `urn:${require("os").hostname()}:aeserver:uagateway`,
        productUri: "urn:aeserver:uagateway",
        applicationName: { text: "aeserver OPC UA gateway", locale: "en" },
      },
    });
    await this.server.initialize();
    const addressSpace = this.server.engine.addressSpace;
    addressSpace.installAlarmsAndConditionsService();
    this.space = new AlarmSpace(addressSpace, this);
    await this.server.start();
    this.endpoint = this.server.getEndpointUrl();
    this.log(`endpoint ${this.endpoint}`);
    this._run();
  }

  async stop() {
    this.stopped = true;
    clearInterval(this.watchdog);
    if (this.wake) this.wake();
    if (this.ae) {
      await this.ae.release().catch(() => {});
      this.ae.close();
    }
    if (this.server) await this.server.shutdown(0);
  }

  // Connects, and connects again after every break, until stopped.
  async _run() {
    while (!this.stopped) {
      try {
        await this._connect();
        await new Promise((resolve) => (this.onLost = resolve));
      } catch (e) {
        if (!this.stopped && !this.quietRetry) this.log(`aeserver not reachable: ${process.env.UAGATEWAY_DEBUG ? e.stack : e.message}`);
        this.quietRetry = true;
      }
      this._disconnect();
      if (this.stopped) break;
      await new Promise((resolve) => {
        this.wake = resolve;
        setTimeout(resolve, this.config.reconnectMs);
      });
    }
  }

  _lost(reason) {
    if (!this.connected) return;
    this.log(`aeserver lost: ${reason}`);
    this.connected = false;
    this.quietRetry = false;
    this.pump.clear();
    this.space.setAllQuality(StatusCodes.BadNoCommunication);
    if (this.refreshDone) this.refreshDone();
    if (this.onLost) this.onLost();
  }

  _disconnect() {
    clearInterval(this.watchdog);
    this.pump.clear();
    if (this.ae) this.ae.close();
    this.ae = null;
    this.connected = false;
  }

  async _connect() {
    const ae = new AeBus({ busAddress: this.config.busAddress });
    this.ae = ae;
    await ae.open();
    ae.on("busError", (e) => this._lost(e.message));
    ae.on("owner", (owner) => owner || this._lost("its bus name has no owner"));
    ae.on("shutdown", (reason) => this._lost(`it shuts down: ${reason}`));
    ae.on("events", (events, refresh, last) => this._onEvents(events, refresh, last));
    if (!this.config.startServer && !(await ae.nameHasOwner())) throw new Error("aeserver is not running");
    await ae.createInstance(CLIENT_NAME);
    await this._readCatalogue();
    const count = await this._browseTree();
    this.lastSeen = Date.now();
    await ae.subscribe(this.config.keepAliveMs);
    this.connected = true;
    this._watch();
    await this._readStates();
    await this._refresh();
    this.log(`connected to aeserver: ${this.space.areas.size - 1} areas, ${this.space.sources.size} sources, ${count} conditions`);
  }

  // A server that sends nothing, not even its keep-alive, is as good as gone.
  _watch() {
    const limit = Math.max(3 * this.config.keepAliveMs, 5000);
    this.watchdog = setInterval(() => {
      if (this.connected && Date.now() - this.lastSeen > limit) this._lost(`no keep-alive for ${limit} ms`);
    }, Math.min(limit, 1000));
  }

  async _readCatalogue() {
    for (const c of await this.ae.categories()) {
      const [, names] = await this.ae.server("QueryConditionNames", "u", [c.id]);
      for (const name of names) {
        if (!this.kinds.has(name)) this.kinds.set(name, mapping.conditionKind(name, await this.ae.subconditionNames(name)));
      }
    }
  }

  // The areas, sources and conditions as the server has them now.
  async _browseTree() {
    const keepAreas = new Set(), keepSources = new Set();
    const pending = [""];
    let count = 0;
    while (pending.length) {
      const area = pending.shift();
      const { areas, sources } = await this.ae.browse(area);
      for (const a of areas) {
        this.space.area(a.qualified, a.name, area);
        keepAreas.add(a.qualified);
        pending.push(a.qualified);
      }
      for (let i = 0; i < sources.length; i += BATCH) {
        const batch = sources.slice(i, i + BATCH);
        const conditions = await Promise.all(batch.map((s) => this.ae.sourceConditions(s.qualified)));
        batch.forEach((s, j) => {
          this.space.source(s.qualified, s.name, area);
          keepSources.add(s.qualified);
          for (const name of conditions[j]) {
            this.space.condition(s.qualified, name, this._kind(name));
            count++;
          }
        });
      }
    }
    this.space.prune(keepAreas, keepSources);
    return count;
  }

  _kind(name) {
    return this.kinds.get(name) || mapping.conditionKind(name, []);
  }

  // Each condition's state; a reply that an event has overtaken is dropped.
  async _readStates() {
    const entries = [...this.space.conditions.values()];
    for (let i = 0; i < entries.length && this.connected; i += BATCH) {
      const batch = entries.slice(i, i + BATCH);
      const asked = this.pump.seq;
      const states = await Promise.all(batch.map((e) => this.ae.conditionState(e.source, e.condition).catch(() => null)));
      const now = new Date();
      batch.forEach((entry, j) => {
        // Any change after the read comes as an event too.
        if (states[j] && entry.version <= asked && !this.pump.has(entry.source, entry.condition)) {
          this.space.apply(entry, mapping.stateOfCondition(states[j], now));
        }
      });
    }
  }

  async _refresh() {
    this.refreshAsked = this.pump.seq;
    const done = new Promise((resolve) => (this.refreshDone = resolve));
    await this.ae.refresh();
    await done;
    this.refreshDone = null;
    if (!this.connected) throw new Error("aeserver went during the refresh");
  }

  _onEvents(events, refresh, last) {
    this.lastSeen = Date.now();
    this.pump.push(events, refresh, last, new Date());
    this._reportSuperseded();
  }

  // An acknowledgement's comment is read from the condition first (the
  // server's events do not carry it).
  async _showLive(e) {
    await this._show(e, async (entry, state) => {
      entry.version = e.seq;
      if (state.actor !== undefined && this.ae) {
        const now = await this.ae.conditionState(e.source, e.condition).catch(() => null);
        if (now) state.comment = now.comment;
      }
      this.space.apply(entry, state, true);
    });
  }

  // A refresh's event, unless a live one of the condition came after the
  // refresh was asked for.
  _showRefresh(e) {
    return this._show(e, (entry, state) => {
      if (entry.version <= this.refreshAsked) this.space.apply(entry, state);
    });
  }

  async _show(e, how) {
    try {
      const entry = this.space.find(e.source, e.condition) || this._newCondition(e);
      await how(entry, mapping.stateOfEvent(e, e.receiveTime));
    } catch (err) {
      this.log(`event of ${e.source} ${e.condition} not shown: ${process.env.UAGATEWAY_DEBUG ? err.stack : err.message}`);
    }
  }

  // Says now and then when events were replaced before they were shown
  // (a storm, or two events of a condition in one batch of the server's).
  _reportSuperseded() {
    const now = Date.now();
    if (this.pump.superseded === (this.reported || 0) || now - (this.reportedAt || 0) < 10000) return;
    this.log(`${this.pump.superseded - (this.reported || 0)} superseded: events replaced by newer ones of their conditions before they were shown`);
    this.reported = this.pump.superseded;
    this.reportedAt = now;
  }

  // A condition that came after the browse (a re-import): its areas and
  // source follow from its qualified name.
  _newCondition(e) {
    const parts = e.source.split("/");
    let area = "";
    for (const name of parts.slice(0, -1)) {
      const qualified = area ? `${area}/${name}` : name;
      this.space.area(qualified, name, area);
      area = qualified;
    }
    this.space.source(e.source, parts[parts.length - 1], area);
    return this.space.condition(e.source, e.condition, this._kind(e.condition));
  }

  // Acknowledge: the operator's user name is the acknowledger; the active
  // time and cookie are those of the activation the event belongs to.
  async acknowledge(entry, eventId, comment, userName) {
    if (!this.connected) return StatusCodes.BadCommunicationError;
    if (!entry.enabled) return StatusCodes.BadConditionDisabled;
    if (!this.space.knowsEvent(entry, eventId)) return StatusCodes.BadEventIdUnknown;
    if (entry.acked) return StatusCodes.BadConditionBranchAlreadyAcked;
    const hr = await this.ae
      .ackCondition(userName || "anonymous", comment, entry.source, entry.condition, entry.activeTime, entry.cookie)
      .catch((e) => e.hr);
    return mapping.ackResult(hr);
  }

  // Enable/Disable: the condition's source, for every client of the server.
  async setEnabled(entry, enabled) {
    if (!this.connected) return StatusCodes.BadCommunicationError;
    if (entry.enabled === enabled) {
      return enabled ? StatusCodes.BadConditionAlreadyEnabled : StatusCodes.BadConditionAlreadyDisabled;
    }
    const hr = await this.ae.setSourceEnabled(entry.source, enabled).catch((e) => e.hr);
    if (hr === HR.S_OK) return StatusCodes.Good;
    if (hr === HR.S_FALSE) return StatusCodes.BadRequestNotAllowed;
    if (hr === HR.UNREACHABLE) return StatusCodes.BadCommunicationError;
    return StatusCodes.BadInternalError;
  }
}

module.exports = { Gateway };

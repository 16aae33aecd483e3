"use strict";
// A plant of the tests' own: a private dbus-daemon whose activation folder
// and registry store are in a fresh temporary folder, aeserver registered
// there and started by hand, the gateway beside it on a free port, and
// OPC UA clients (node-opcua-client) to look at it from the network side.
// AE_BIN_DIR names the build's bin folder.
const { spawn, execFileSync } = require("child_process");
const fs = require("fs");
const net = require("net");
const os = require("os");
const path = require("path");
const {
  OPCUAClient, MessageSecurityMode, SecurityPolicy, UserTokenType, AttributeIds, TimestampsToReturn,
  ClientMonitoredItem, constructEventFilter, ObjectIds, ObjectTypeIds, MethodIds, DataType,
} = require("node-opcua-client");

const BIN = process.env.AE_BIN_DIR || path.resolve(__dirname, "../../../build/default/bin");
const GATEWAY = path.resolve(__dirname, "../../../uagateway/bin/uagateway.js");
// As docs/uagateway.md runs it.
const GATEWAY_HEAP = "--max-semi-space-size=64";
const SERVICE = "Corvane.OPCAEqrxServer._1";
const USER = "operator1";
const PASSWORD = "Feed-Pump 7";

// The fields a test's event filter selects, in this order.
const FIELDS = [
  "EventId", "EventType", "SourceName", "SourceNode", "Time", "ReceiveTime", "Message", "Severity",
  "ConditionName", "ConditionId", "BranchId", "Retain", "Quality", "EnabledState.Id", "ActiveState.Id",
  "AckedState.Id", "LimitState.CurrentState", "Comment", "ClientUserId",
];
const CONDITION_ID = FIELDS.indexOf("ConditionId");

function sleep(ms) {
  return new Promise((resolve) => setTimeout(resolve, ms));
}

// Polls fn until it returns something truthy, or fails after ms.
async function eventually(fn, ms, what) {
  const end = Date.now() + ms;
  for (;;) {
    const value = await fn();
    if (value) return value;
    if (Date.now() > end) throw new Error(`timed out waiting for ${typeof what === "function" ? what() : what}`);
    await sleep(100);
  }
}

function freePort() {
  return new Promise((resolve, reject) => {
    const s = net.createServer();
    s.listen(0, "127.0.0.1", () => {
      const { port } = s.address();
      s.close(() => resolve(port));
    });
    s.on("error", reject);
  });
}

// One received event: field name -> value.
function eventOf(fields) {
  const e = {};
  FIELDS.forEach((name, i) => (e[name] = fields[i] ? fields[i].value : null));
  e.conditionNodeId = e.ConditionId ? e.ConditionId.toString() : "";
  return e;
}

class Plant {
  constructor() {
    this.root = fs.mkdtempSync(path.join(os.tmpdir(), "uagateway-test."));
    const dir = (name, mode) => {
      const d = path.join(this.root, name);
      fs.mkdirSync(d, { recursive: true, mode });
      return d;
    };
    this.runtime = dir("runtime", 0o700);
    this.env = {
      ...process.env,
      AE_REGISTRY_DIR: dir("registry"),
      XDG_DATA_HOME: dir("data"),
      XDG_RUNTIME_DIR: this.runtime,
      TMPDIR: dir("tmp"),
      QT_QPA_PLATFORM: "offscreen",
    };
    this.logDir = path.join(this.root, "AlarmLog");
    this.children = new Set();
    this.clients = [];
  }

  run(program, args, input) {
    return execFileSync(path.join(BIN, program), args, { env: this.env, input, encoding: "utf8" });
  }

  // The bus, the registrations, the plant's settings.
  // plantDir: another plant's documents; updateRateMs: the OPC group's rate.
  async setUp({ randomChanges = 0, ackLog = false, plantDir = "", updateRateMs = 0 } = {}) {
    fs.writeFileSync(path.join(this.runtime, "bus.conf"),
      '<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN" ' +
      '"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">\n' +
      `<busconfig><type>session</type><listen>unix:dir=${this.runtime}</listen>` +
      `<servicedir>${this.env.XDG_DATA_HOME}/dbus-1/services</servicedir>` +
      '<policy context="default"><allow send_destination="*" eavesdrop="true"/>' +
      '<allow eavesdrop="true"/><allow own="*"/></policy></busconfig>\n');
    const out = execFileSync("dbus-daemon", ["--fork", "--print-address=1", "--print-pid=1",
      `--config-file=${this.runtime}/bus.conf`], { env: this.env, encoding: "utf8" }).split("\n");
    this.env.DBUS_SESSION_BUS_ADDRESS = out[0].trim();
    this.busPid = Number(out[1]);
    this.run("regsvr", ["/s", path.join(BIN, "libralto_config.so")]);
    this.run("regsvr", ["/s", path.join(BIN, "libralto_opc.so")]);
    this.run("aeserver", ["-RegServer"]);
    this.setDword("HKLM\\SOFTWARE\\Ralto\\OPC Server", "RandomChangesPerSecond", randomChanges);
    if (plantDir) {
      this.run("aereg", ["add", "HKLM\\SOFTWARE\\Ralto\\Config Server", "/v", "DocumentDirectory", "/t", "REG_SZ",
        "/d", plantDir, "/f"]);
    }
    if (updateRateMs) {
      const item0 = "HKLM\\SOFTWARE\\Quillan\\Veltro QRX OPC AE\\Config Data\\Item0";
      this.run("aereg", ["add", item0, "/v", "ServerName", "/t", "REG_SZ", "/d", "Brixham.RaltoOPC", "/f"]);
      this.setDword(item0, "UpdateRateMS", updateRateMs);
    }
    if (ackLog) {
      const key = "HKLM\\SOFTWARE\\Quillan\\Veltro QRX OPC AE\\Acknowledgment Log";
      this.setDword(key, "EnableACKLogging", 1);
      this.run("aereg", ["add", key, "/v", "Local Path", "/t", "REG_SZ", "/d", this.logDir, "/f"]);
    }
    this.usersFile = path.join(this.root, "users");
    execFileSync(process.execPath, [GATEWAY, "passwd", this.usersFile, USER], { input: PASSWORD + "\n" });
    this.port = await freePort();
    this.endpoint = `opc.tcp://127.0.0.1:${this.port}`;
    return this;
  }

  setDword(key, value, data) {
    this.run("aereg", ["add", key, "/v", value, "/t", "REG_DWORD", "/d", String(data), "/f"]);
  }

  spawn(program, args, options = {}) {
    const child = spawn(program, args, { env: this.env, stdio: ["ignore", "pipe", "pipe"], ...options });
    child.output = "";
    child.stdout.on("data", (d) => (child.output += d));
    child.stderr.on("data", (d) => (child.output += d));
    this.children.add(child);
    child.on("exit", () => this.children.delete(child));
    return child;
  }

  serverRunning() {
    try {
      return execFileSync("dbus-send", ["--session", "--print-reply", "--dest=org.freedesktop.DBus", "/",
        "org.freedesktop.DBus.NameHasOwner", `string:${SERVICE}`], { env: this.env, encoding: "utf8" })
        .includes("boolean true");
    } catch {
      return false;
    }
  }

  // aeserver by hand, once it owns its name.
  async startServer() {
    this.server = this.spawn(path.join(BIN, "aeserver"), []);
    await eventually(() => this.serverRunning(), 60000, "aeserver on the bus");
    return this.server;
  }

  killServer() {
    const server = this.server;
    return new Promise((resolve) => {
      server.once("exit", resolve);
      server.kill("SIGKILL");
    });
  }

  // The gateway, once it is connected to aeserver (the count of its
  // "connected" lines tells a reconnection). UAGATEWAY_NODE_FLAGS gives
  // Node.js flags of its own (--cpu-prof, say) to the gateway only.
  async startGateway(extra = [], ms = 60000) {
    const flags = (process.env.UAGATEWAY_NODE_FLAGS || "").split(" ").filter(Boolean);
    this.gateway = this.spawn(process.execPath, [GATEWAY_HEAP, ...flags, GATEWAY, "--port", String(this.port), "--hostname", "127.0.0.1", "--listen", "127.0.0.1",
      "--data", path.join(this.root, "gateway"), "--users", this.usersFile, "--accept-unknown-certificates",
      "--no-start-server", ...extra]);
    await this.gatewayConnected(1, ms);
    return this.gateway;
  }

  gatewayConnected(times, ms = 60000) {
    const count = () => (this.gateway.output.match(/connected to aeserver/g) || []).length;
    return eventually(() => {
      if (this.gateway.exitCode !== null) throw new Error(`the gateway ended: ${this.gateway.output}`);
      return count() >= times;
    }, ms, () => `the gateway's connection #${times}:\n${this.gateway.output}`);
  }

  // A session as USER (or as given), on the policy and mode given.
  async session({ policy = SecurityPolicy.None, mode = MessageSecurityMode.None, user = USER, password = PASSWORD } = {}) {
    const client = OPCUAClient.create({
      endpointMustExist: false,
      securityMode: mode,
      securityPolicy: policy,
      connectionStrategy: { maxRetry: 2, initialDelay: 200, maxDelay: 500 },
      clientCertificateManager: this.clientCertificates(),
      requestedSessionTimeout: 20000,
    });
    this.clients.push(client);
    await client.connect(this.endpoint);
    const identity = user === null ? { type: UserTokenType.Anonymous } : { type: UserTokenType.UserName, userName: user, password };
    const session = await client.createSession(identity);
    return session;
  }

  clientCertificates() {
    if (!this.clientPki) {
      const { OPCUACertificateManager } = require("node-opcua-certificate-manager");
      this.clientPki = new OPCUACertificateManager({ rootFolder: path.join(this.root, "client-pki"),
        automaticallyAcceptUnknownCertificate: true });
    }
    return this.clientPki;
  }

  // Every event from the Server object into a list, with the FIELDS.
  // Every event of the Server object, or with `whereClause` those it lets
  // through (a ContentFilterElement).
  async subscribeEvents(session, whereClause) {
    const subscription = await session.createSubscription2({
      requestedPublishingInterval: 50, requestedMaxKeepAliveCount: 20, requestedLifetimeCount: 200,
      maxNotificationsPerPublish: 0, publishingEnabled: true, priority: 1,
    });
    const events = [];
    const item = ClientMonitoredItem.create(subscription,
      { nodeId: `ns=0;i=${ObjectIds.Server}`, attributeId: AttributeIds.EventNotifier },
      { samplingInterval: 0, discardOldest: false, queueSize: 100000, filter: constructEventFilter(FIELDS, whereClause) },
      TimestampsToReturn.Both);
    item.on("changed", (fields) => events.push(eventOf(fields)));
    await new Promise((resolve, reject) => {
      item.once("initialized", resolve);
      item.once("err", reject);
    });
    return { subscription, item, events };
  }

  // Acknowledge on the condition itself; resolves with the StatusCode.
  // (AddComment with methodId ConditionType_AddComment.)
  async acknowledge(session, conditionNodeId, eventId, comment, methodId = MethodIds.AcknowledgeableConditionType_Acknowledge) {
    const r = await session.call({ objectId: conditionNodeId, methodId: `ns=0;i=${methodId}`,
      inputArguments: [{ dataType: DataType.ByteString, value: eventId },
        { dataType: DataType.LocalizedText, value: { text: comment } }] });
    return r.statusCode;
  }

  async conditionMethod(session, conditionNodeId, methodId) {
    const r = await session.call({ objectId: conditionNodeId, methodId: `ns=0;i=${methodId}`, inputArguments: [] });
    return r.statusCode;
  }

  // ConditionRefresh (or ConditionRefresh2 with a monitored item) on the
  // ConditionType, as the standard has it called.
  async conditionRefresh(session, subscription, item) {
    const methodId = item ? MethodIds.ConditionType_ConditionRefresh2 : MethodIds.ConditionType_ConditionRefresh;
    const inputArguments = [{ dataType: DataType.UInt32, value: subscription.subscriptionId }];
    if (item) inputArguments.push({ dataType: DataType.UInt32, value: item.monitoredItemId });
    const r = await session.call({ objectId: `ns=0;i=${ObjectTypeIds.ConditionType}`, methodId: `ns=0;i=${methodId}`, inputArguments });
    return r.statusCode;
  }

  ackLog() {
    try {
      return this.run("aelog", ["list", this.logDir]);
    } catch {
      return "";
    }
  }

  async tearDown() {
    if (process.env.UAGATEWAY_DEBUG && this.gateway) process.stderr.write(this.gateway.output);
    for (const client of this.clients) await client.disconnect().catch(() => {});
    // Node.js writes what its flags asked for (a --cpu-prof profile) only
    // when it ends by itself: the gateway is stopped first.
    const gateway = this.gateway;
    if (process.env.UAGATEWAY_NODE_FLAGS && gateway && this.children.has(gateway)) {
      const ended = new Promise((resolve) => gateway.once("exit", resolve));
      gateway.kill("SIGTERM");
      await Promise.race([ended, sleep(10000)]);
    }
    for (const child of this.children) child.kill("SIGKILL");
    if (this.busPid > 0) {
      // The servers that the bus started go with it.
      try {
        const children = fs.readFileSync(`/proc/${this.busPid}/task/${this.busPid}/children`, "utf8").trim();
        for (const pid of children.split(/\s+/).filter(Boolean)) process.kill(Number(pid), "SIGKILL");
      } catch {}
      try {
        process.kill(this.busPid, "SIGTERM");
      } catch {}
    }
    await sleep(100);
    if (!process.env.AE_KEEP_TEST_DIR) fs.rmSync(this.root, { recursive: true, force: true });
  }
}

module.exports = { Plant, FIELDS, CONDITION_ID, USER, PASSWORD, BIN, eventually, sleep };

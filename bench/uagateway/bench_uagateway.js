"use strict";
// The OPC UA gateway under load, on a private bus with aeserver and a
// generated plant (tools/plantgen), quiet until the plant's control on the
// bus moves it, and an OPC UA client subscribed to every event of the
// Server object; one start for every phase:
//   memory      the gateway's start on the plant: time to connected, its
//               resident memory, per condition;
//   throughput  events per second from controller changes to the OPC UA
//               client, the plant making --rate random changes a second
//               (goal >= 5,000/s);
//   latency     at 500 changes/s with a 100 ms group update period, probes
//               raised by hand: to the OPC UA client, to an OPC AE
//               subscriber beside it, and the gateway's own part (the
//               arrival less the event's ReceiveTime) (goal p99 <= the
//               period + 100 ms).
//
//   bench_uagateway [memory|throughput|latency]... [--producers N] [--blocks M] [--seconds S] [--rate R]
// (default: all three, 10 x 1,100 blocks = the 100,000-variable plant, 10 s,
// 20,000 changes/s for throughput).
const { execFileSync } = require("child_process");
const fs = require("fs");
const path = require("path");
const { Plant, BIN, sleep } = require("../../tests/uagateway/support/plant");
const { performance } = require("perf_hooks");
const dbus = require("@homebridge/dbus-native");
const { AeBus } = require("../../uagateway/lib/ae_bus");

const PLANTGEN = path.resolve(__dirname, "../../tools/plantgen/plantgen.py");
const UPDATE_PERIOD_MS = 100;
const EVENTS_GOAL = 5000;
const LATENCY_GOAL_MS = UPDATE_PERIOD_MS + 100;
const TICKS_1601_TO_1970_MS = 11644473600000;
const PROBE_EPOCH_MS = Date.UTC(2020, 0, 1);
const HIHI = 4;
const ALARM_ENABLED = 1;

function options(argv) {
  const o = { phases: [], producers: 10, blocks: 1100, seconds: 10, rate: 20000 };
  for (let i = 0; i < argv.length; ++i) {
    const a = argv[i];
    if (["memory", "throughput", "latency"].includes(a)) o.phases.push(a);
    else if (a.startsWith("--") && i + 1 < argv.length && a.slice(2) in o) o[a.slice(2)] = Number(argv[++i]);
    else throw new Error(`usage: bench_uagateway [memory|throughput|latency]... [--producers N] [--blocks M] [--seconds S] [--rate R]`);
  }
  if (!o.phases.length) o.phases = ["memory", "throughput", "latency"];
  return o;
}

function quantile(sorted, q) {
  return sorted.length ? sorted[Math.min(sorted.length - 1, Math.floor(q * sorted.length))] : NaN;
}

// CPU seconds a process has used (user and system).
function cpuSeconds(pid) {
  const fields = fs.readFileSync(`/proc/${pid}/stat`, "utf8").split(") ")[1].split(" ");
  return (Number(fields[11]) + Number(fields[12])) / 100;
}

function status(pid) {
  const text = fs.readFileSync(`/proc/${pid}/status`, "utf8");
  const kib = (name) => Number((text.match(new RegExp(`${name}:\\s+(\\d+)`)) || [0, 0])[1]);
  return { rss: kib("VmRSS"), hwm: kib("VmHWM") };
}

// The simulated plant's control on the bus (Brixham.RaltoOPC /Control).
function control(plant) {
  const bus = dbus.createClient({ busAddress: plant.env.DBUS_SESSION_BUS_ADDRESS, ReturnLongjs: true });
  const call = (member, signature, body) => new Promise((resolve, reject) => {
    const msg = { destination: "Brixham.RaltoOPC", path: "/Control", interface: "Brixham.RaltoOPC.Control", member };
    if (signature) Object.assign(msg, { signature, body });
    bus.invoke(msg, (err, ...out) => (err ? reject(new Error(`${member}: ${err.name} ${err.message}`)) : resolve(out)));
  });
  return { call, close: () => bus.connection.end() };
}

async function memory(o, plant, startMs) {
  const line = plant.gateway.output.match(/connected to aeserver: (\d+) areas, (\d+) sources, (\d+) conditions/);
  const conditions = Number(line[3]);
  const s = status(plant.gateway.pid);
  console.log(`memory: ${line[1]} areas, ${line[2]} sources, ${conditions} conditions; connected after ${(startMs / 1000).toFixed(1)} s`);
  console.log(`memory: gateway resident ${(s.rss / 1024).toFixed(0)} MiB (peak ${(s.hwm / 1024).toFixed(0)} MiB), ` +
    `${(s.rss / conditions).toFixed(1)} KiB per condition`);
}

async function throughput(o, plant, startMs, { events, plantControl }) {
  await plantControl.call("RunRandomPlant", "uu", [o.rate, 1]);
  await sleep(3000);
  const aeSent = () => Number((plant.run("aeclient", ["status"]).match(/events sent: (\d+)/) || [0, 0])[1]);
  const from = events.length, sentFrom = aeSent(), t0 = Date.now(), cpu0 = cpuSeconds(plant.gateway.pid);
  await sleep(o.seconds * 1000);
  const n = events.length - from, sent = aeSent() - sentFrom, s = (Date.now() - t0) / 1000;
  const cpu = cpuSeconds(plant.gateway.pid) - cpu0;
  await plantControl.call("RunRandomPlant", "uu", [0, 1]);
  const rate = n / s;
  const superseded = (plant.gateway.output.match(/(\d+) superseded/g) || []).reduce((a, t) => a + parseInt(t, 10), 0);
  console.log(`throughput: ${o.rate} random changes/s: ${rate.toFixed(0)} events/s to the OPC UA client ` +
    `(aeserver sent ${(sent / s).toFixed(0)}/s to its clients over D-Bus; ${superseded} superseded in the gateway); ` +
    `goal ${EVENTS_GOAL}/s: ${(rate / EVENTS_GOAL).toFixed(2)}x`);
  // What the machine's load leaves the gateway shows in its CPU share.
  console.log(`throughput: the gateway used ${(100 * cpu / s).toFixed(0)}% of a core, ` +
    `${((1e6 * cpu) / Math.max(1, n)).toFixed(0)} us of CPU per event shown`);
  await sleep(3000);
}

// Probes raise HiHi on one level alarm after another through the plant's
// control, under 500 random changes/s; a probe's activation time (a second
// of 2020 of its own) names its event. Its latency is the event's arrival at
// the OPC UA client, and at an OPC AE subscriber beside it, less the moment
// it was raised. A probe that a random change of the same alarm overwrites
// before the server reads it reaches neither client; the counts say so.
async function latency(o, plant, startMs, { item, plantControl }) {
  const [blocks] = await plantControl.call("ListBlocks", "s", [""]);
  const levels = blocks.flatMap((b) => b[4].filter((a) => a[1] === "level").map((a) => a[0]));
  const raised = new Map(), ua = new Map(), ae = new Map(), gateway = [];
  const probeOf = (ms) => (ms >= PROBE_EPOCH_MS && (ms - PROBE_EPOCH_MS) % 1000 === 0 ? (ms - PROBE_EPOCH_MS) / 1000 : -1);
  item.on("changed", (fields) => {
    const now = performance.now();
    const time = fields[4].value, receive = fields[5].value;
    const n = time instanceof Date ? probeOf(time.getTime()) : -1;
    if (raised.has(n) && !ua.has(n)) {
      ua.set(n, now - raised.get(n));
      gateway.push(Date.now() - receive.getTime());
    }
  });
  const bus = new AeBus({ busAddress: plant.env.DBUS_SESSION_BUS_ADDRESS });
  await bus.open();
  await bus.createInstance("bench_uagateway");
  await bus.subscribe(0);
  bus.on("events", (list, refresh) => {
    const now = performance.now();
    for (const e of list) {
      const n = refresh ? -1 : probeOf(Number(e.time / 10000n) - TICKS_1601_TO_1970_MS);
      if (raised.has(n) && !ae.has(n)) ae.set(n, now - raised.get(n));
    }
  });
  await plantControl.call("RunRandomPlant", "uu", [500, 1]);
  await sleep(2000);
  const end = Date.now() + o.seconds * 1000;
  for (let n = 0; Date.now() < end; ++n) {
    const target = levels[n % levels.length];
    raised.set(n, performance.now());
    await plantControl.call("SetAlarm", "sybyttt", [target, HIHI, false, ALARM_ENABLED,
      String(BigInt(PROBE_EPOCH_MS + TICKS_1601_TO_1970_MS + n * 1000) * 10000n), "0", "0"]);
    for (let waited = 0; waited < 1000 && !ua.has(n); waited += 5) await sleep(5);
    await plantControl.call("Clear", "s", [target]);
    await sleep(2 * UPDATE_PERIOD_MS);
  }
  await plantControl.call("RunRandomPlant", "uu", [0, 1]);
  bus.close();
  const sorted = (m) => [...(m.values ? m.values() : m)].sort((x, y) => x - y);
  const f = (a) => `p50 ${quantile(a, 0.5).toFixed(0)} ms, p99 ${quantile(a, 0.99).toFixed(0)} ms, max ${a.length ? a[a.length - 1].toFixed(0) : "-"} ms`;
  const toUa = sorted(ua), toAe = sorted(ae);
  console.log(`latency: 500 changes/s, update period ${UPDATE_PERIOD_MS} ms, ${raised.size} probes raised, ${ua.size} arrived at the OPC UA client, ${ae.size} at the OPC AE subscriber`);
  console.log(`latency: probe -> OPC UA client: ${f(toUa)}`);
  console.log(`latency: probe -> OPC AE subscriber: ${f(toAe)}`);
  console.log(`latency: the gateway's part (ReceiveTime -> OPC UA client): ${f(sorted(gateway))}`);
  console.log(`latency: goal p99 <= ${LATENCY_GOAL_MS} ms: ${(quantile(toUa, 0.99) / LATENCY_GOAL_MS).toFixed(2)}x`);
}

async function main() {
  const o = options(process.argv.slice(2));
  const dir = fs.mkdtempSync(path.join(require("os").tmpdir(), "bench_uagateway."));
  let plant;
  try {
    const plantDir = path.join(dir, "plant");
    execFileSync("python3", [PLANTGEN, "--producers", String(o.producers), "--blocks", String(o.blocks), plantDir]);
    console.log(`plant: ${o.producers} producers x ${o.blocks} blocks (tools/plantgen), aeserver from ${BIN}`);
    // One quiet plant for every phase; the control moves it.
    plant = await new Plant().setUp({ plantDir, updateRateMs: UPDATE_PERIOD_MS });
    plant.env.TZ = "UTC"; // the controllers' time stamps are their local time
    await plant.startServer();
    const t0 = Date.now();
    await plant.startGateway([], 900000);
    const startMs = Date.now() - t0;
    const session = await plant.session();
    const watch = await plant.subscribeEvents(session);
    watch.plantControl = control(plant);
    await sleep(2000);
    for (const phase of o.phases) await { memory, throughput, latency }[phase](o, plant, startMs, watch);
    watch.plantControl.close();
  } finally {
    if (plant) await plant.tearDown();
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

main().catch((e) => {
  console.error(`bench_uagateway: ${e.stack || e.message}`);
  process.exit(1);
});

"use strict";
// Controller states set one by one with ralto-sim, as an OPC UA client sees
// them: HiHi as an ExclusiveLevelAlarm event with the controller's time and
// message, its acknowledgement written to ".FC" and logged under the
// session's user name, ConditionRefresh replaying the active acknowledged
// alarm, the event of a superseded activation refused, rate-of-change and
// bit alarms as their types, a return to normal.
const test = require("node:test");
const assert = require("node:assert");
const fs = require("fs");
const path = require("path");
const { ObjectTypeIds, makeBrowsePath, ofType } = require("node-opcua-client");
const { Plant, BIN, USER, eventually } = require("./support/plant");

const SIM = path.join(BIN, "ralto-sim");
const LEVEL = { item: "TANKFARM.LIC101.AS", source: "TANKFARM_LIC101.A" };
const RATE = { item: "TANKFARM.LIC101.RS", source: "TANKFARM_LIC101.ROC" };
const BIT = { item: "TANKFARM.LSHH101.AS", source: "TANKFARM_LSHH101.Bit" };

const isType = (e, id) => e.EventType && e.EventType.toString() === `ns=0;i=${id}`;

test("controller states through the gateway", { skip: !fs.existsSync(SIM) && "ralto-sim is not built" }, async (t) => {
  const plant = await new Plant().setUp({ ackLog: true });
  t.after(() => plant.tearDown());
  await plant.startServer();
  await plant.startGateway();
  const session = await plant.session();
  const { subscription, events } = await plant.subscribeEvents(session);
  // As an HMI's alarm list asks: the limit alarms only.
  const { events: limitEvents } = await plant.subscribeEvents(session, ofType(`ns=0;i=${ObjectTypeIds.LimitAlarmType}`));
  const sim = (...args) => plant.run("ralto-sim", args);
  const of = (alarm, pred) => events.find((e) => e.SourceName && e.SourceName.endsWith("/" + alarm.source) && pred(e));
  let hihi, sourceName;

  await t.test("HiHi: an ExclusiveLevelAlarm event with the controller's time and message", async () => {
    sim("set", LEVEL.item, "hihi", "--time", "2026-03-01T10:15:30Z");
    hihi = await eventually(() => of(LEVEL, (e) => e["ActiveState.Id"] === true), 10000, "the HiHi event");
    sourceName = hihi.SourceName;
    assert.strictEqual(hihi.EventType.toString(), `ns=0;i=${ObjectTypeIds.ExclusiveLevelAlarmType}`);
    assert.strictEqual(hihi.Time.toISOString(), "2026-03-01T10:15:30.000Z");
    assert.strictEqual(hihi.ConditionName, "Level");
    assert.strictEqual(hihi["LimitState.CurrentState"].text, "HighHigh");
    assert.strictEqual(hihi["AckedState.Id"], false);
    assert.strictEqual(hihi.Retain, true);
    // The message is the server's, as an OPC AE client reads it.
    const ae = plant.run("aeclient", ["refresh", "--json", "--source", sourceName]);
    const message = JSON.parse(ae.split("\n").find((l) => l.includes('"condition":"Level"'))).message;
    assert.strictEqual(hihi.Message.text, message);
  });

  await t.test("Acknowledge: the word on .FC, the log's record with the user name", async () => {
    assert.strictEqual((await plant.acknowledge(session, hihi.conditionNodeId, hihi.EventId, "level checked")).name, "Good");
    const writes = await eventually(() => {
      const out = sim("fc-writes", "--json");
      return out.includes("TANKFARM.LIC101.FC") && out;
    }, 10000, "the write to .FC");
    assert.match(writes, /TANKFARM\.LIC101\.FC/);
    const acked = await eventually(() => of(LEVEL, (e) => e["AckedState.Id"] === true && e.ClientUserId === USER), 10000,
      "the acknowledgement's event");
    assert.strictEqual(acked.Comment.text, "level checked");
    assert.strictEqual(acked["ActiveState.Id"], true);
    assert.strictEqual(acked.Retain, true, "active, so still of interest");
    await eventually(() => plant.ackLog().includes(`\t${USER}\tlevel checked\tSuccess\t`), 10000, "the log's record");
    // The condition's variables, read rather than received, say the same.
    const paths = ["/ActiveState/Id", "/AckedState/Id", "/Retain", "/ClientUserId", "/Comment", "/AckedState",
      "/LimitState/CurrentState"];
    const found = await session.translateBrowsePath(paths.map((p) => makeBrowsePath(acked.conditionNodeId, p)));
    const values = await session.read(found.map((r) => ({ nodeId: r.targets[0].targetId, attributeId: 13 })));
    assert.deepStrictEqual(values.map((v) => (v.value.value && v.value.value.text !== undefined ? v.value.value.text : v.value.value)),
      [true, true, true, USER, "level checked", "Acknowledged", "HighHigh"]);
  });

  await t.test("ConditionRefresh replays the active, acknowledged alarm", async () => {
    const from = events.length;
    assert.strictEqual((await plant.conditionRefresh(session, subscription)).name, "Good");
    await eventually(() => events.slice(from).some((e) => isType(e, ObjectTypeIds.RefreshEndEventType)), 10000, "RefreshEnd");
    const replay = events.slice(from);
    const level = replay.find((e) => e.SourceName === sourceName);
    assert.ok(level, "the level alarm is replayed");
    assert.strictEqual(level["ActiveState.Id"], true);
    assert.strictEqual(level["AckedState.Id"], true);
    assert.strictEqual(level["LimitState.CurrentState"].text, "HighHigh");
    assert.ok(replay.findIndex((e) => isType(e, ObjectTypeIds.RefreshStartEventType)) < replay.indexOf(level));
  });

  await t.test("the event of a superseded activation is refused, the new one taken", async () => {
    sim("set", LEVEL.item, "hi");
    const hi = await eventually(() => of(LEVEL, (e) => e["LimitState.CurrentState"] && e["LimitState.CurrentState"].text === "High" &&
      e["AckedState.Id"] === false), 10000, "the Hi event");
    assert.strictEqual((await plant.acknowledge(session, hi.conditionNodeId, hihi.EventId, "late")).name, "BadEventIdUnknown");
    assert.strictEqual((await plant.acknowledge(session, hi.conditionNodeId, hi.EventId, "now")).name, "Good");
  });

  await t.test("rate of change and bit alarms, and the return to normal", async () => {
    sim("set", RATE.item, "rocu");
    const rate = await eventually(() => of(RATE, (e) => e["ActiveState.Id"] === true), 10000, "the RoCU event");
    assert.strictEqual(rate.EventType.toString(), `ns=0;i=${ObjectTypeIds.ExclusiveRateOfChangeAlarmType}`);
    assert.strictEqual(rate["LimitState.CurrentState"].text, "High");
    sim("set", BIT.item, "alarm");
    const bit = await eventually(() => of(BIT, (e) => e["ActiveState.Id"] === true), 10000, "the bit alarm's event");
    assert.strictEqual(bit.EventType.toString(), `ns=0;i=${ObjectTypeIds.OffNormalAlarmType}`);
    sim("clear", LEVEL.item);
    const normal = await eventually(() => of(LEVEL, (e) => e["ActiveState.Id"] === false), 10000, "the return to normal");
    // A where clause sees the condition's type: the level and rate alarms
    // pass OfType(LimitAlarmType), the bit alarm (raised before the return
    // to normal) does not.
    await eventually(() => limitEvents.some((e) => e.SourceName === sourceName && e["ActiveState.Id"] === false), 10000,
      "the return to normal, filtered");
    assert.ok(limitEvents.some((e) => e.SourceName === rate.SourceName), "the rate alarm, filtered");
    assert.ok(!limitEvents.some((e) => e.SourceName === bit.SourceName), "no bit alarm through OfType(LimitAlarmType)");
    assert.strictEqual(normal.Retain, false);
    assert.strictEqual(normal["LimitState.CurrentState"], null, "no limit state while inactive");
    const [limit] = await session.translateBrowsePath([makeBrowsePath(normal.conditionNodeId, "/LimitState/CurrentState")]);
    const [current] = await session.read([{ nodeId: limit.targets[0].targetId, attributeId: 13 }]);
    assert.strictEqual(current.statusCode.name, "BadStateNotActive");
  });
});

"use strict";
// The alarm road from an OPC UA client on the random plant: Acknowledge
// reaches the controller and the acknowledgement log with the session's
// user name, refused for a stale or unknown event; ConditionRefresh replays
// every retained condition between RefreshStart and RefreshEnd, an active
// acknowledged one too; Enable/Disable reach the source; a killed aeserver
// turns every quality bad and, once it is back, the conditions return.
const test = require("node:test");
const assert = require("node:assert");
const crypto = require("crypto");
const { MethodIds, ObjectTypeIds, StatusCodes } = require("node-opcua-client");
const { Plant, USER, eventually, sleep } = require("./support/plant");

const isType = (e, id) => e.EventType && e.EventType.toString() === `ns=0;i=${id}`;
const activeUnacked = (e) => e["ActiveState.Id"] === true && e["AckedState.Id"] === false && e.Retain;

test("the alarm road through the gateway", async (t) => {
  const plant = await new Plant().setUp({ randomChanges: 30, ackLog: true });
  t.after(() => plant.tearDown());
  await plant.startServer();
  await plant.startGateway();
  const session = await plant.session();
  const { subscription, item, events } = await plant.subscribeEvents(session);
  let acked;

  await t.test("Acknowledge: the controller's word, the log's record with the user name, the event", async () => {
    // An alarm may move on between its event and the call: then the event is
    // stale and the next unacknowledged one is tried.
    const tried = new Set();
    acked = await eventually(async () => {
      const e = [...events].reverse().find((x) => activeUnacked(x) && !tried.has(x.EventId.toString("hex")));
      if (!e) return null;
      tried.add(e.EventId.toString("hex"));
      const status = await plant.acknowledge(session, e.conditionNodeId, e.EventId, "checked on site");
      if (status.value === StatusCodes.BadEventIdUnknown.value) return null;
      assert.strictEqual(status.name, "Good");
      return e;
    }, 30000, "an acknowledgeable alarm");
    const ackEvent = await eventually(() => events.find((e) => e.conditionNodeId === acked.conditionNodeId &&
      e["AckedState.Id"] === true && e.ClientUserId === USER), 10000, "the acknowledgement's event");
    assert.strictEqual(ackEvent.Comment.text, "checked on site");
    // The server wrote the acknowledgement word to the block's ".FC" and
    // logged the outcome under the session's user name.
    const log = await eventually(() => {
      const text = plant.ackLog();
      return text.includes(`\t${USER}\tchecked on site\t`) && text;
    }, 10000, "the acknowledgement log's record");
    assert.match(log, new RegExp(`\\t${acked.ConditionName}\\t.*\\t${USER}\\tchecked on site\\tSuccess\\t`));
    // While active it stays of interest.
    if (ackEvent["ActiveState.Id"]) assert.strictEqual(ackEvent.Retain, true);

    assert.strictEqual((await plant.acknowledge(session, acked.conditionNodeId, ackEvent.EventId, "again")).name,
      "BadConditionBranchAlreadyAcked");
  });

  await t.test("an event that is not the condition's activation is refused", async () => {
    assert.strictEqual((await plant.acknowledge(session, acked.conditionNodeId, crypto.randomBytes(16), "x")).name,
      "BadEventIdUnknown");
    // An event of an earlier activation of some condition.
    const stale = await eventually(() => events.find((e) => activeUnacked(e) &&
      events.some((later) => later.conditionNodeId === e.conditionNodeId && later !== e && activeUnacked(later) &&
        events.indexOf(later) > events.indexOf(e) && later.Time > e.Time)), 30000, "a condition activated twice");
    assert.strictEqual((await plant.acknowledge(session, stale.conditionNodeId, stale.EventId, "late")).name,
      "BadEventIdUnknown");
  });

  await t.test("ConditionRefresh and ConditionRefresh2 replay the retained conditions", async () => {
    for (const withItem of [false, true]) {
      const from = events.length;
      assert.strictEqual((await plant.conditionRefresh(session, subscription, withItem ? item : null)).name, "Good");
      const end = await eventually(() => events.slice(from).findIndex((e) => isType(e, ObjectTypeIds.RefreshEndEventType)) + 1,
        10000, "RefreshEnd");
      const replay = events.slice(from, from + end);
      const start = replay.findIndex((e) => isType(e, ObjectTypeIds.RefreshStartEventType));
      assert.ok(start >= 0, "RefreshStart before RefreshEnd");
      const conditions = replay.slice(start + 1, -1).filter((e) => e.conditionNodeId && !isType(e, ObjectTypeIds.RefreshStartEventType));
      assert.ok(conditions.length > 0, "some retained conditions");
      assert.ok(conditions.every((e) => e.Retain), "only retained conditions");
    }
  });

  await t.test("Disable and Enable reach the source", async () => {
    const source = acked.SourceName;
    const disabled = await plant.conditionMethod(session, acked.conditionNodeId, MethodIds.ConditionType_Disable);
    assert.strictEqual(disabled.name, "Good");
    // A disabled condition's other fields read BadConditionDisabled; it is
    // not retained.
    await eventually(() => events.find((e) => e.conditionNodeId === acked.conditionNodeId && e["EnabledState.Id"] === false &&
      e.Retain !== true), 10000, "the disabled condition's event");
    assert.match(plant.run("aeclient", ["enable-state", "--source", source]), /disabled/);
    assert.strictEqual((await plant.acknowledge(session, acked.conditionNodeId, acked.EventId, "x")).name, "BadConditionDisabled");
    assert.strictEqual((await plant.conditionMethod(session, acked.conditionNodeId, MethodIds.ConditionType_Disable)).name,
      "BadConditionAlreadyDisabled");
    assert.strictEqual((await plant.conditionMethod(session, acked.conditionNodeId, MethodIds.ConditionType_Enable)).name, "Good");
    await eventually(() => events.find((e) => e.conditionNodeId === acked.conditionNodeId && e["EnabledState.Id"] === true),
      10000, "the enabled condition's event");
    assert.match(plant.run("aeclient", ["enable-state", "--source", source]), /enabled/);
    // The server keeps comments only with acknowledgements.
    assert.strictEqual((await plant.acknowledge(session, acked.conditionNodeId, acked.EventId, "note",
      MethodIds.ConditionType_AddComment)).name, "BadNotSupported");
  });

  await t.test("aeserver killed: quality bad; restarted: the conditions come back", async () => {
    const from = events.length;
    await plant.killServer();
    await eventually(() => events.slice(from).filter((e) => e.Quality && e.Quality.value === StatusCodes.BadNoCommunication.value)
      .length >= 40, 15000, "bad quality on every condition");
    const status = await plant.acknowledge(session, acked.conditionNodeId, acked.EventId, "x");
    assert.strictEqual(status.name, "BadCommunicationError");
    const back = events.length;
    await plant.startServer();
    await plant.gatewayConnected(2);
    await eventually(() => events.slice(back).some((e) => e.Quality && e.Quality.name === "Good" && activeUnacked(e)),
      30000, "active alarms of good quality again");
    await sleep(200);
    const from2 = events.length;
    assert.strictEqual((await plant.conditionRefresh(session, subscription)).name, "Good");
    await eventually(() => events.slice(from2).some((e) => isType(e, ObjectTypeIds.RefreshEndEventType)), 10000, "RefreshEnd");
    const replayed = events.slice(from2).filter((e) => e.conditionNodeId);
    assert.ok(replayed.length > 0 && replayed.every((e) => e.Quality.name === "Good"), "the replay is of good quality");
  });
});

"use strict";
// What an OPC UA client sees of the example plant: the area tree, the
// sources and their alarms of the standard types, the events of the random
// plant with the fields the OPC AE events carry, the security settings.
const test = require("node:test");
const assert = require("node:assert");
const { BrowseDirection, NodeClass, ObjectIds, SecurityPolicy, MessageSecurityMode, StatusCodes } =
  require("node-opcua-client");
const { Plant, eventually } = require("./support/plant");

async function browse(session, nodeId, referenceTypeId = "HierarchicalReferences", direction = BrowseDirection.Forward) {
  const r = await session.browse({ nodeId, referenceTypeId, browseDirection: direction, includeSubtypes: true,
    nodeClassMask: 0, resultMask: 63 });
  return r.references || [];
}

test("the example plant through the gateway", async (t) => {
  const plant = await new Plant().setUp({ randomChanges: 40 });
  t.after(() => plant.tearDown());
  await plant.startServer();
  await plant.startGateway();
  const session = await plant.session();

  await t.test("areas are folders under Objects, notifiers up to the Server object", async () => {
    const objects = await browse(session, "ns=0;i=85");
    const names = objects.map((r) => r.browseName.name);
    for (const area of ["Tank_Farm", "Pump_Station", "Reactor_Area", "Compression", "Utilities"]) {
      assert.ok(names.includes(area), `${area} in ${names}`);
    }
    const notified = await browse(session, `ns=0;i=${ObjectIds.Server}`, "HasNotifier");
    assert.ok(notified.some((r) => r.browseName.name === "Tank_Farm"), "Server HasNotifier Tank_Farm");
    const tankFarm = objects.find((r) => r.browseName.name === "Tank_Farm").nodeId;
    const inside = await browse(session, tankFarm);
    assert.ok(inside.some((r) => r.browseName.name === "T-101"), inside.map((r) => r.browseName.name).join());
    const t101 = inside.find((r) => r.browseName.name === "T-101").nodeId;
    const sources = await browse(session, t101, "HasEventSource");
    assert.ok(sources.length > 0, "T-101 has event sources");
    const eventNotifier = await session.read({ nodeId: t101, attributeId: 12 });
    assert.strictEqual(eventNotifier.value.value & 1, 1, "areas are subscribable");

    // Each source's condition is an instance of the type that fits it.
    const types = new Set();
    for (const source of sources) {
      for (const c of await browse(session, source.nodeId, "HasCondition")) {
        const def = await browse(session, c.nodeId, "HasTypeDefinition");
        types.add(`${c.browseName.name}:${def[0].browseName.name}`);
      }
    }
    assert.ok(types.has("Level:ExclusiveLevelAlarmType"), [...types].join());
    assert.ok([...types].every((t) => /^(Level:ExclusiveLevelAlarmType|RoC:ExclusiveRateOfChangeAlarmType|Bit:OffNormalAlarmType)$/.test(t)),
      [...types].join());
  });

  await t.test("events carry the AE event's fields", async () => {
    const { events } = await plant.subscribeEvents(session);
    const alarm = await eventually(() => events.find((e) => e["ActiveState.Id"] === true &&
      e["AckedState.Id"] === false), 30000, "an active, unacknowledged alarm");
    assert.match(alarm.SourceName, /^[^ ]+\.(A|ROC|Bit)$/);
    assert.ok(alarm.SourceName.includes("/") || !alarm.SourceName.includes(":"), "the AE source name, no namespace prefix");
    assert.ok(alarm.Message.text.length > 0);
    assert.ok(alarm.Severity >= 1 && alarm.Severity <= 1000);
    assert.strictEqual(alarm.Retain, true);
    assert.strictEqual(alarm.Quality.value, StatusCodes.Good.value);
    assert.ok(alarm.Time instanceof Date && alarm.ReceiveTime >= alarm.Time);
    assert.ok(["Level", "RoC", "Bit"].includes(alarm.ConditionName));
  });

  await t.test("no anonymous sessions, no wrong passwords, and the signed and encrypted endpoint", async () => {
    await assert.rejects(plant.session({ user: null }));
    await assert.rejects(plant.session({ password: "wrong" }));
    const secure = await plant.session({ policy: SecurityPolicy.Basic256Sha256, mode: MessageSecurityMode.SignAndEncrypt });
    const status = await secure.read({ nodeId: "ns=0;i=2259", attributeId: 13 });
    assert.strictEqual(status.value.value, 0, "server state running");
  });
});

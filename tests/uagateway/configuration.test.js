"use strict";
// The gateway's settings from the command line, its configuration file and
// its users file: bad ones are refused with a clear message before anything
// starts; passwords are kept only as hashes, readable by the owner alone.
const test = require("node:test");
const assert = require("node:assert");
const { spawnSync } = require("child_process");
const fs = require("fs");
const os = require("os");
const path = require("path");

const GATEWAY = path.resolve(__dirname, "../../uagateway/bin/uagateway.js");

function gateway(args, input) {
  const r = spawnSync(process.execPath, [GATEWAY, ...args], { input, encoding: "utf8", timeout: 20000,
    env: { ...process.env, DBUS_SESSION_BUS_ADDRESS: "unix:path=/nonexistent" } });
  return { rc: r.status, err: r.stderr };
}

test("settings and users", async (t) => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), "uagateway-config."));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  const file = (name, text) => {
    fs.writeFileSync(path.join(dir, name), text);
    return path.join(dir, name);
  };

  await t.test("bad settings are refused before anything starts", () => {
    const cases = [
      [["--config", file("typo.json", '{"prot": 4841}')], /unknown setting "prot"/],
      [["--config", file("broken.json", '{"port": ')], /not JSON/],
      [["--config", path.join(dir, "missing.json")], /cannot read/],
      [["--port", "70000"], /not a TCP port/],
      [["--config", file("policy.json", '{"securityPolicies": ["Basic128Rsa15"]}')], /securityPolicies: Basic128Rsa15/],
      [["--users", file("users", "operator1:plain:secret\n"), "--data", dir], /users:1: expected name:scrypt:salt:hash/],
    ];
    for (const [args, message] of cases) {
      const r = gateway(args);
      assert.strictEqual(r.rc, 1, `${args.join(" ")}: ${r.err}`);
      assert.match(r.err, message);
    }
    assert.strictEqual(gateway(["--bogus"]).rc, 2);
    assert.strictEqual(gateway(["--port"]).rc, 2);
  });

  await t.test("passwd keeps a salted hash per user, the file for its owner only", () => {
    const users = path.join(dir, "pw", "users");
    assert.strictEqual(gateway(["passwd", users, "operator1"], "first secret\n").rc, 0);
    assert.strictEqual(gateway(["passwd", users, "operator2"], "second secret\n").rc, 0);
    const before = fs.readFileSync(users, "utf8");
    assert.strictEqual(gateway(["passwd", users, "operator1"], "new secret\n").rc, 0);
    const after = fs.readFileSync(users, "utf8");
    assert.strictEqual(fs.statSync(users).mode & 0o777, 0o600);
    assert.ok(!after.includes("secret"), "no password in clear");
    const lines = after.trim().split("\n");
    assert.deepStrictEqual(lines.map((l) => l.split(":")[0]), ["operator1", "operator2"]);
    assert.notStrictEqual(before.split("\n")[0], lines[0], "operator1's hash replaced");
    assert.strictEqual(before.split("\n")[1], lines[1], "operator2's kept");
    const { readUsers, checkPassword } = require("../../uagateway/lib/config");
    const table = readUsers(users);
    assert.ok(checkPassword(table, "operator1", "new secret"));
    assert.ok(!checkPassword(table, "operator1", "first secret"));
    assert.ok(!checkPassword(table, "nobody", "new secret"));
    assert.strictEqual(gateway(["passwd", users, "bad:name"], "x\n").rc, 1);
    assert.strictEqual(gateway(["passwd", users, "operator3"], "\n").rc, 1);
  });
});

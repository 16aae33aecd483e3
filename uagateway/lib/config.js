"use strict";
// The gateway's settings: defaults, the JSON configuration file, the
// command line, and the users file (one "name:scrypt:salt:hash" line per
// user, "#" comments; passwords only as scrypt hashes).
const crypto = require("crypto");
const fs = require("fs");
const os = require("os");
const path = require("path");

const DEFAULTS = {
  port: 4841,
  hostname: "", // in the endpoint URL; default: the machine's name
  listen: "", // the address to listen on; default: every interface
  dataDir: "", // the certificates and keys; default below
  usersFile: "", // default: users in dataDir
  allowAnonymous: false,
  securityPolicies: ["None", "Basic256Sha256"],
  // Client certificates not yet in pki/trusted are refused (and kept in
  // pki/rejected, for an engineer to move) unless this is set.
  acceptUnknownCertificates: false,
  // A server that does not answer starts by D-Bus activation when it is
  // registered; false waits for it to come by itself.
  startServer: true,
  reconnectMs: 2000,
  keepAliveMs: 2000,
};

const POLICIES = ["None", "Basic256Sha256"];

function defaultDataDir() {
  const base = process.env.XDG_DATA_HOME || path.join(os.homedir(), ".local", "share");
  return path.join(base, "aeserver", "uagateway");
}

// Settings from the file (if any) and then the command line's options.
function load(file, overrides = {}) {
  const config = { ...DEFAULTS };
  if (file) {
    let text;
    try {
      text = fs.readFileSync(file, "utf8");
    } catch (e) {
      throw new Error(`cannot read ${file}: ${e.message}`);
    }
    let values;
    try {
      values = JSON.parse(text);
    } catch (e) {
      throw new Error(`${file}: not JSON: ${e.message}`);
    }
    for (const key of Object.keys(values)) {
      if (!(key in DEFAULTS)) throw new Error(`${file}: unknown setting "${key}"`);
    }
    Object.assign(config, values);
  }
  Object.assign(config, overrides);
  if (!Number.isInteger(config.port) || config.port < 1 || config.port > 65535) {
    throw new Error(`port ${config.port}: not a TCP port`);
  }
  const policies = [].concat(config.securityPolicies);
  const unknown = policies.filter((p) => !POLICIES.includes(p));
  if (unknown.length || !policies.length) {
    throw new Error(`securityPolicies: ${unknown.join(", ") || "none given"}; known are ${POLICIES.join(", ")}`);
  }
  config.securityPolicies = policies;
  config.dataDir = config.dataDir || defaultDataDir();
  config.usersFile = config.usersFile || path.join(config.dataDir, "users");
  return config;
}

function hashPassword(password, salt = crypto.randomBytes(16)) {
  return `scrypt:${salt.toString("hex")}:${crypto.scryptSync(password, salt, 32).toString("hex")}`;
}

// name -> hash text; a missing file is no users. Bad lines are errors.
function readUsers(file) {
  let text;
  try {
    text = fs.readFileSync(file, "utf8");
  } catch (e) {
    if (e.code === "ENOENT") return new Map();
    throw new Error(`cannot read ${file}: ${e.message}`);
  }
  const users = new Map();
  text.split("\n").forEach((line, i) => {
    line = line.trim();
    if (!line || line.startsWith("#")) return;
    const [name, scheme, salt, hash] = line.split(":");
    if (!name || scheme !== "scrypt" || !/^[0-9a-f]+$/.test(salt || "") || !/^[0-9a-f]{64}$/.test(hash || "")) {
      throw new Error(`${file}:${i + 1}: expected name:scrypt:salt:hash`);
    }
    users.set(name, `${scheme}:${salt}:${hash}`);
  });
  return users;
}

function checkPassword(users, name, password) {
  const stored = users.get(name);
  if (!stored || typeof password !== "string") return false;
  const [, salt, hash] = stored.split(":");
  const given = crypto.scryptSync(password, Buffer.from(salt, "hex"), 32);
  return crypto.timingSafeEqual(given, Buffer.from(hash, "hex"));
}

// Adds or replaces a user's line; the file is readable by its owner only.
function setUser(file, name, password) {
  if (!name || name.includes(":") || /\s/.test(name)) throw new Error(`"${name}": not a user name`);
  if (!password) throw new Error("an empty password is no password");
  const users = readUsers(file);
  users.set(name, hashPassword(password));
  fs.mkdirSync(path.dirname(file), { recursive: true, mode: 0o700 });
  const lines = [...users].map(([n, h]) => `${n}:${h}`);
  fs.writeFileSync(file, lines.join("\n") + "\n", { mode: 0o600 });
  fs.chmodSync(file, 0o600);
}

module.exports = { DEFAULTS, load, readUsers, checkPassword, setUser, hashPassword };

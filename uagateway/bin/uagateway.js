#!/usr/bin/env node
"use strict";
// uagateway: aeserver's alarms for OPC UA clients. docs/uagateway.md is its
// manual. Exit codes: 0 ended by a signal, 1 failure, 2 bad usage.
const { load, setUser } = require("../lib/config");

const USAGE = `usage: uagateway [--config FILE] [--port N] [--hostname NAME] [--listen ADDRESS] [--data DIR] [--users FILE]
                 [--allow-anonymous] [--accept-unknown-certificates] [--no-start-server]
       uagateway passwd USERSFILE NAME      (the password on standard input)
`;

function usage(text) {
  if (text) process.stderr.write(`uagateway: ${text}\n`);
  process.stderr.write(USAGE);
  process.exit(2);
}

function parse(argv) {
  const overrides = {};
  let file = "";
  for (let i = 0; i < argv.length; ++i) {
    const arg = argv[i];
    const value = () => (i + 1 < argv.length ? argv[++i] : usage(`${arg} needs a value`));
    switch (arg) {
      case "--config": file = value(); break;
      case "--port": overrides.port = Number(value()); break;
      case "--hostname": overrides.hostname = value(); break;
      case "--listen": overrides.listen = value(); break;
      case "--data": overrides.dataDir = value(); break;
      case "--users": overrides.usersFile = value(); break;
      case "--allow-anonymous": overrides.allowAnonymous = true; break;
      case "--accept-unknown-certificates": overrides.acceptUnknownCertificates = true; break;
      case "--no-start-server": overrides.startServer = false; break;
      default: usage(`unknown option ${arg}`);
    }
  }
  return { file, overrides };
}

async function passwd(args) {
  if (args.length !== 2) usage();
  let password = "";
  for await (const chunk of process.stdin) password += chunk;
  setUser(args[0], args[1], password.replace(/\r?\n$/, ""));
}

async function main() {
  const argv = process.argv.slice(2);
  if (argv[0] === "passwd") return passwd(argv.slice(1));
  const { file, overrides } = parse(argv);
  const config = load(file, overrides);
  if (!process.execArgv.some((a) => a.startsWith("--max-semi-space-size"))) {
    process.stderr.write("uagateway: started without node --max-semi-space-size=64: alarm storms cost more " +
      "(docs/uagateway.md)\n");
  }
  const { Gateway } = require("../lib/gateway");
  const gateway = new Gateway(config);
  for (const signal of ["SIGINT", "SIGTERM"]) {
    process.once(signal, () => gateway.stop().finally(() => process.exit(0)));
  }
  await gateway.start();
}

main().catch((e) => {
  process.stderr.write(`uagateway: ${e.message}\n`);
  process.exit(1);
});

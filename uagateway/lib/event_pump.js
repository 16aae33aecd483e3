"use strict";
// Shows the server's events on the OPC UA side in slices of work, so that
// the bus is read between them and a reply is never stuck behind an alarm
// storm. While a condition's live event waits to be shown, a newer one of
// the same condition replaces it: the latest state wins (an
// acknowledgement's acknowledger rides along while the condition stays
// acknowledged). A refresh's events are shown after every live event that
// came before them. Each event gets `seq`, its place in arrival order.
const { OPC_CONDITION_ACKED } = require("./ae_mapping");

const SLICE_MS = 20;
const OPC_CHANGE_ACK_STATE = 2;

class EventPump {
  // showLive(e) may return a promise (the pump waits for it);
  // showRefresh(e); refreshDone() after a refresh's last event.
  constructor({ showLive, showRefresh, refreshDone }) {
    Object.assign(this, { showLive, showRefresh, refreshDone });
    this.seq = 0;
    this.pending = new Map(); // source + "\n" + condition -> the latest event
    this.refreshes = []; // { events, last, after }
    this.superseded = 0;
    this.scheduled = false;
    this.busy = false;
  }

  push(events, refresh, last, receiveTime) {
    if (refresh) {
      for (const e of events) e.receiveTime = receiveTime;
      this.refreshes.push({ events, last, after: this.seq });
    } else {
      for (const e of events) {
        e.seq = ++this.seq;
        e.receiveTime = receiveTime;
        const key = e.source + "\n" + e.condition;
        const older = this.pending.get(key);
        if (older) {
          this.pending.delete(key);
          this.superseded++;
          if (older.changeMask & OPC_CHANGE_ACK_STATE && e.newState & OPC_CONDITION_ACKED && !(e.changeMask & OPC_CHANGE_ACK_STATE)) {
            e.changeMask |= OPC_CHANGE_ACK_STATE;
            e.actor = older.actor;
          }
        }
        this.pending.set(key, e);
      }
    }
    this._schedule();
  }

  has(source, condition) {
    return this.pending.has(source + "\n" + condition);
  }

  // Drops what waits (the connection it came on is gone).
  clear() {
    this.pending.clear();
    this.refreshes = [];
  }

  _schedule() {
    if (this.scheduled || this.busy) return;
    this.scheduled = true;
    setImmediate(() => this._run());
  }

  async _run() {
    this.scheduled = false;
    this.busy = true;
    const until = Date.now() + SLICE_MS;
    while (Date.now() < until) {
      const refresh = this.refreshes[0];
      const first = this.pending.values().next().value;
      if (refresh && (!first || first.seq > refresh.after)) {
        this.refreshes.shift();
        for (const e of refresh.events) this.showRefresh(e);
        if (refresh.last) this.refreshDone();
        continue;
      }
      if (!first) break;
      this.pending.delete(first.source + "\n" + first.condition);
      await this.showLive(first);
    }
    this.busy = false;
    if (this.pending.size || this.refreshes.length) this._schedule();
  }
}

module.exports = { EventPump };

// The SBUS sender's deadlines: slot n is due at start + n * period, on the
// clock itself, never "period after the last send", so lateness does not add
// up. A late wake-up skips the slots it missed instead of sending a burst.

// The first slot due after now and after the last slot sent (a timer that
// wakes a little early must not send the same slot twice).
export function nextDeadline(start, period, now, last = -Infinity) {
  const slot = Math.max(Math.floor((now - start) / period) + 1, Math.round((last - start) / period) + 1);
  return start + slot * period;
}

// Interval and lateness figures of the frames sent: the mean interval
// between sends and the latest any send came after its deadline.
export class Cadence {
  constructor() {
    this.first = null;
    this.last = null;
    this.count = 0;
    this.maxLateness = 0;
  }

  record(sent, due) {
    if (this.first === null) this.first = sent;
    this.last = sent;
    this.count++;
    this.maxLateness = Math.max(this.maxLateness, sent - due);
  }

  get meanInterval() {
    return this.count > 1 ? (this.last - this.first) / (this.count - 1) : null;
  }
}

// The SBUS cadence: slot n is due at start + n * period, on the clock
// itself, never "period after the last send", so lateness does not add up. A
// late wake-up skips the slots it missed instead of sending a burst. And the
// figures of the frames sent: mean interval, p99 and largest lateness.

// The first slot due after now and after the last slot sent (a timer that
// wakes a little early must not send the same slot twice).
export function nextDeadline(start, period, now, last = -Infinity) {
  const slot = Math.max(Math.floor((now - start) / period) + 1, Math.round((last - start) / period) + 1);
  return start + slot * period;
}

// Lateness is counted in bins this wide, so a run of hours keeps a fixed
// amount of memory; the largest is kept exactly.
const BIN = 0.05; // ms
const BINS = 4000; // 200 ms; later sends count in the last bin

export class Cadence {
  constructor() {
    this.first = null;
    this.last = null;
    this.count = 0;
    this.maxLateness = 0;
    this.bins = new Uint32Array(BINS);
  }

  record(sent, due) {
    if (this.first === null) this.first = sent;
    this.last = sent;
    this.count++;
    const lateness = Math.max(0, sent - due);
    this.maxLateness = Math.max(this.maxLateness, lateness);
    this.bins[Math.min(BINS - 1, Math.floor(lateness / BIN))]++;
  }

  get meanInterval() {
    return this.count > 1 ? (this.last - this.first) / (this.count - 1) : null;
  }

  // The lateness that 99 % of the sends kept within: the upper edge of the
  // bin that holds the 99th percentile, at most the largest.
  get p99Lateness() {
    if (this.count === 0) return null;
    const wanted = Math.ceil(this.count * 0.99);
    let seen = 0;
    for (let bin = 0; bin < BINS; bin++) {
      seen += this.bins[bin];
      if (seen >= wanted) return Math.min((bin + 1) * BIN, this.maxLateness);
    }
    return this.maxLateness;
  }

  get figures() {
    return { count: this.count, meanInterval: this.meanInterval, p99: this.p99Lateness, largest: this.maxLateness };
  }
}

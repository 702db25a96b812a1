// The panels' decisions, kept apart from the DOM and the ports so that they
// read (and test) as plain functions of bytes and times: frames counted,
// rates, scales, ages and stale values, the request's text, what a
// connection's capture keeps and its file's name.

// The last byte of every port frame: the parser can only finish a frame on
// it, so a chunk cut after each one finishes at most one frame per piece.
export const END_BYTE = 0x5f;

// Feeds a chunk of any size to parser and returns how many upload frames it
// completed. The parser only says whether at least one did, so the chunk is
// cut after every end byte and each piece counts once (a frame found again
// after a resync on stray bytes may share a piece and go uncounted). Cutting
// never changes what the parser decodes.
export function feedCounting(parser, chunk) {
  let frames = 0;
  let start = 0;
  for (let end = chunk.indexOf(END_BYTE); end !== -1; end = chunk.indexOf(END_BYTE, start)) {
    if (parser.feed(chunk.subarray(start, end + 1))) frames++;
    start = end + 1;
  }
  if (start < chunk.length && parser.feed(chunk.subarray(start))) frames++;
  return frames;
}

// The terminal view's scale: the smallest 2^k - 1 (at least 255) not below
// value, so 11-bit values sit on 0..2047 and the scale grows only when a
// larger value shows up.
export function scaleFor(value) {
  let scale = 255;
  while (scale < value) scale = scale * 2 + 1;
  return scale;
}

// How much of a bar a value fills, 0..1, on a scale from scaleFor.
export function barFraction(value, scale) {
  return Math.min(value / (scale + 1), 1);
}

// Counts over a sliding window: add(time, amount), then rate(now) per
// second over the last `window` ms.
export class RateMeter {
  constructor(window = 1000) {
    this.window = window;
    this.events = [];
    this.total = 0;
  }

  add(time, amount = 1) {
    this.events.push([time, amount]);
    this.total += amount;
  }

  rate(now) {
    let drop = 0;
    while (drop < this.events.length && this.events[drop][0] <= now - this.window) {
      this.total -= this.events[drop][1];
      drop++;
    }
    if (drop > 0) this.events.splice(0, drop);
    return (this.total * 1000) / this.window;
  }
}

// "12 ms", "3.4 s" or "never" for the time since the last frame.
export function formatAge(lastFrame, now) {
  if (lastFrame === null) return 'never';
  const age = Math.max(0, now - lastFrame);
  return age < 1000 ? `${Math.round(age)} ms` : `${(age / 1000).toFixed(1)} s`;
}

// Values are stale once nothing fresh has come for this long; values never
// received are not stale, there is nothing to mark.
export const STALE_AFTER = 100; // ms

export function isStale(lastFresh, now) {
  return lastFresh !== null && now - lastFresh >= STALE_AFTER;
}

// "stale since 12:34:56.789 (3.2 s)" (local time of the last fresh record),
// or '' while fresh. Times on the wall clock, ms.
export function staleNote(lastFresh, now) {
  if (!isStale(lastFresh, now)) return '';
  const since = new Date(lastFresh);
  const time = [since.getHours(), since.getMinutes(), since.getSeconds()]
    .map((part) => String(part).padStart(2, '0')).join(':');
  return `stale since ${time}.${String(since.getMilliseconds()).padStart(3, '0')} (${formatAge(lastFresh, now)})`;
}

// The request's two payload bytes from text such as "01,00": two hex bytes,
// separated by a comma or spaces. Returns null when the text is not that.
export function parseRequest(text) {
  const parts = text.trim().split(/[\s,]+/);
  if (parts.length !== 2 || !parts.every((part) => /^(0x)?[0-9a-f]{1,2}$/i.test(part))) return null;
  return parts.map((part) => parseInt(part.replace(/^0x/i, ''), 16));
}

export const CAPTURE_WINDOW = 10 * 60 * 1000; // ms kept of a connection

// Every read and write of one connection, as it happened, for the last
// CAPTURE_WINDOW ms: {time (ms since 1970), outbound, bytes}.
export class Recording {
  #blocks = [];
  #first = 0; // blocks before this one have left the window
  #request = null; // the connection's first write: how the stream began
  #requestLeft = false; // the window has moved past it

  constructor(name, description) {
    this.name = name;
    this.description = description;
  }

  add(time, outbound, bytes) {
    const block = { time, outbound, bytes };
    if (outbound && this.#request === null) this.#request = block;
    this.#blocks.push(block);
    while (this.#blocks[this.#first].time < time - CAPTURE_WINDOW) {
      if (this.#blocks[this.#first] === this.#request) this.#requestLeft = true;
      this.#first++;
    }
    // Dropped blocks are let go in batches, not one shift per read.
    if (this.#first > 1024 && this.#first * 2 > this.#blocks.length) {
      this.#blocks.splice(0, this.#first);
      this.#first = 0;
    }
  }

  // The window's blocks, after the request when the window has left it
  // behind: a long session's capture still says what was asked of the device.
  get blocks() {
    const kept = this.#blocks.slice(this.#first);
    return this.#requestLeft ? [this.#request, ...kept] : kept;
  }

  get size() {
    return this.#blocks.length - this.#first + (this.#requestLeft ? 1 : 0);
  }
}

// zelkolink-2026-12-10-031502.pcapng for a capture saved at that local time.
export function captureFileName(date) {
  const two = (value) => String(value).padStart(2, '0');
  return `zelkolink-${date.getFullYear()}-${two(date.getMonth() + 1)}-${two(date.getDate())}-`
    + `${two(date.getHours())}${two(date.getMinutes())}${two(date.getSeconds())}.pcapng`;
}

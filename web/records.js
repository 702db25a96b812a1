// The panels' decoded records, for the SBUS panel to drive its frames from:
// 'record' events whose detail is {source: 'device' | 'hid', values, carried,
// time}. time is when the bytes were read, on the clock that the SBUS worker
// reads too (a worker's performance.now() counts from its own start, so
// both add their timeOrigin).
export const records = new EventTarget();

export function clock() {
  return performance.timeOrigin + performance.now();
}

export function publish(record) {
  records.dispatchEvent(new CustomEvent('record', { detail: record }));
}

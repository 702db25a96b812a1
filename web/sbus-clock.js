// A worker that wakes the SBUS sender at absolute deadlines. Timers in a
// worker keep their pace when the tab is in the background, where the
// page's own timers are slowed to once a second or less.
import { nextDeadline } from './clock.js';

let timer = null;

function now() {
  return performance.timeOrigin + performance.now();
}

function arm(start, period, last) {
  const due = nextDeadline(start, period, now(), last);
  timer = setTimeout(() => {
    postMessage({ due });
    arm(start, period, due);
  }, Math.max(0, due - now()));
}

onmessage = ({ data }) => {
  clearTimeout(timer);
  timer = null;
  if (data.period) arm(now(), data.period);
};

// Small DOM helpers shared by the panels, and the one animation-frame loop
// that all rendering runs in.
import { barFraction } from './panel-logic.js';

export const $ = (selector) => document.querySelector(selector);

// A grid of value cells: label, the value as decimal text in an element
// with data-<attribute>="k", and a bar. With chart set, each label carries a
// check box that adds the value to the strip chart.
export function buildCells(container, { prefix, count, attribute, chart = false }) {
  const cells = [];
  for (let k = 0; k < count; k++) {
    const cell = document.createElement('div');
    cell.className = 'cell';
    const label = document.createElement('label');
    if (chart) {
      const pick = document.createElement('input');
      pick.type = 'checkbox';
      pick.dataset.chart = `${prefix}${k}`;
      pick.title = 'Show in the chart';
      label.append(pick);
    }
    label.append(`${prefix}${k}`);
    const value = document.createElement('span');
    value.className = 'value';
    value.dataset[attribute] = String(k);
    const bar = document.createElement('span');
    bar.className = 'bar';
    const fill = document.createElement('span');
    bar.append(fill);
    cell.append(label, value, bar);
    container.append(cell);
    cells.push({ cell, value, fill, shown: null, stale: false });
  }
  return cells;
}

// Shows values in cells, touching only the cells whose value changed.
export function showValues(cells, values, scale) {
  cells.forEach((cell, k) => {
    const value = values[k];
    if (value === cell.shown) return;
    cell.shown = value;
    cell.value.textContent = String(value);
    cell.fill.style.width = `${(barFraction(value, scale) * 100).toFixed(2)}%`;
  });
}

// Greys the cells' values, with data-stale on each cell, or clears it.
export function markStale(cells, stale) {
  for (const cell of cells) {
    if (cell.stale === stale) continue;
    cell.stale = stale;
    cell.cell.toggleAttribute('data-stale', stale);
  }
}

export function setText(element, text) {
  if (element.textContent !== text) element.textContent = text;
}

// Every panel renders from here, once per animation frame; the page's
// render rate is counted over the last second and shown in #render-fps.
const renderers = [];
const frameTimes = [];

function frame(now) {
  frameTimes.push(now);
  while (frameTimes[0] <= now - 1000) frameTimes.shift();
  for (const render of renderers) render(now);
  const fps = document.getElementById('render-fps');
  if (fps) setText(fps, String(frameTimes.length));
  requestAnimationFrame(frame);
}

export function onAnimationFrame(render) {
  if (renderers.length === 0) requestAnimationFrame(frame);
  renderers.push(render);
}

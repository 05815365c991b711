// The picture of a forwarder file's frequencies: a frequency axis in MHz, the window each enabled
// radio receives, each enabled channel as a bar as wide as its bandwidth (coloured by its radio),
// the region's band shaded between its edges; for a pending change, the positions before it
// faded and those that move marked. A table beneath holds the same facts, for screen readers and
// keyboards: the drawing is one image with a summary for a label.

import { bandText, frequencyRows, pictureSpan, rowCells } from '/ui/config/plan.js';
import { hzToMhz } from '/ui/config/validate.js';
import { h } from '/ui/lib/dom.js';

const SVG = 'http://www.w3.org/2000/svg';
const WIDTH = 1000;
// The height of one row of the drawing, in pixels: the drawing stretches sideways only.
const ROW = 26;

function s(tag, attrs = {}, ...children) {
  const el = document.createElementNS(SVG, tag);
  for (const [name, value] of Object.entries(attrs)) if (value !== null) el.setAttribute(name, String(value));
  for (const c of children) el.append(c);
  return el;
}

// What the drawing shows, in a sentence or two.
function summary(rows, band, pending) {
  const radios = rows.filter((r) => r.key.startsWith('radio_'));
  const channels = rows.filter((r) => !r.key.startsWith('radio_'));
  const on = (side) => channels.filter((r) => r[side]).map((r) => r[side].frequency);
  const range = (list) => (list.length ? ` from ${hzToMhz(Math.min(...list))} to ${hzToMhz(Math.max(...list))} MHz` : '');
  const radioText = (r) => `${r.name.toLowerCase()} ${r.to ? `receives ${hzToMhz(r.to.low)}–${hzToMhz(r.to.high)} MHz` : 'off'}`;
  const parts = [
    radios.map(radioText).join(', '),
    `${on('to').length} channel${on('to').length === 1 ? '' : 's'}${range(on('to'))}`,
    band ? `the ${band.name} band is ${bandText(band)}` : 'no band known',
  ];
  const text = `${parts.join('; ')}.`;
  if (!pending) return `Frequencies: ${text}`;
  const moved = rows.filter((r) => r.moved).length;
  return `After the change: ${text} The change moves ${moved} of ${rows.length} radios and channels; the table lists them.`;
}

// after, before: frequencies() of the file as it becomes and as it is (before only for a
// pending change); band: { name, min, max } or null.
export function planPicture({ after, before = null, band = null }) {
  const pending = before !== null;
  const rows = frequencyRows(after, before ?? after);
  const span = pictureSpan([after, before], band);
  const figure = h('figure', { class: 'plan-picture' });
  if (!span) {
    figure.append(h('p', { class: 'hint' }, 'No radio or channel is enabled.'));
    return figure;
  }
  const x = (hz) => ((hz - span.min) / (span.max - span.min)) * WIDTH;
  const radioKeys = [...new Set(rows.filter((r) => r.key.startsWith('radio_')).map((r) => r.key))];
  const lanes = [...radioKeys.map((k) => rows.find((r) => r.key === k).name),
    ...(pending ? ['Channels now', 'After applying'] : ['Channels'])];
  const height = lanes.length * ROW;
  const svg = s('svg', {
    viewBox: `0 0 ${WIDTH} ${height}`,
    preserveAspectRatio: 'none',
    role: 'img',
    'aria-label': summary(rows, band, pending),
    class: 'plan-svg',
  });
  // Set through the style object: the page's Content-Security-Policy refuses style attributes.
  svg.style.height = `${height}px`;
  const bar = (low, high, lane, cls, inset = 4) => s('rect', {
    x: x(low).toFixed(1), width: Math.max(2, x(high) - x(low)).toFixed(1),
    y: lane * ROW + inset, height: ROW - 2 * inset, class: cls,
  });
  const vline = (hz, cls, top = 0, bottom = height) => s('line', { x1: x(hz).toFixed(1), x2: x(hz).toFixed(1), y1: top, y2: bottom, class: cls });
  const clamp = (hz) => Math.min(WIDTH, Math.max(0, x(hz)));
  if (band) {
    svg.append(s('rect', { x: clamp(band.min).toFixed(1), width: (clamp(band.max) - clamp(band.min)).toFixed(1), y: 0, height, class: 'band' }));
  }
  for (const t of span.ticks) svg.append(vline(t, 'grid'));
  for (const edge of span.edges) svg.append(vline(edge, 'band-edge'));
  radioKeys.forEach((key, lane) => {
    const row = rows.find((r) => r.key === key);
    const radio = key.slice(6);
    if (pending && row.moved && row.from) svg.append(bar(row.from.low, row.from.high, lane, `window radio-${radio} old`));
    if (row.to) svg.append(bar(row.to.low, row.to.high, lane, `window radio-${radio}${pending && row.moved ? ' new' : ''}`));
    if (row.to) svg.append(vline(row.to.frequency, `centre radio-${radio}`, lane * ROW + 2, lane * ROW + ROW - 2));
  });
  const channelLane = radioKeys.length;
  // The wider channels (a 500 kHz one over four of 125 kHz) go beneath, lighter.
  const widest = (r) => Math.max(r.from?.bandwidth ?? 0, r.to?.bandwidth ?? 0);
  for (const row of rows.filter((r) => !r.key.startsWith('radio_')).sort((a, b) => widest(b) - widest(a))) {
    const drawn = (c, lane, cls) => svg.append(s('g', {},
      s('title', {}, `${row.name}: ${hzToMhz(c.frequency)} MHz`),
      bar(c.frequency - c.bandwidth / 2, c.frequency + c.bandwidth / 2, lane,
        `channel radio-${c.radio}${c.bandwidth > 125_000 ? ' wide' : ''} ${cls}`, 6)));
    if (pending && row.from) drawn(row.from, channelLane, 'old');
    if (row.to) drawn(row.to, channelLane + (pending ? 1 : 0), pending && row.moved ? 'new' : '');
  }

  const axis = h('div', { class: 'plan-axis', 'aria-hidden': 'true' }, span.ticks.map((t) => {
    const tick = h('span', {}, hzToMhz(t));
    tick.style.left = `${((x(t) / WIDTH) * 100).toFixed(2)}%`;
    return tick;
  }));
  const labels = h('div', { class: 'plan-lanes', 'aria-hidden': 'true' }, lanes.map((l) => h('span', {}, l)));
  const swatch = (cls) => s('svg', { viewBox: '0 0 20 10', width: 20, height: 10, 'aria-hidden': 'true' },
    s('rect', { x: 0, y: 0, width: 20, height: 10, class: cls }));
  const legendItem = (cls, text) => h('span', {}, swatch(cls), ` ${text}`);
  const legend = h('p', { class: 'legend' },
    radioKeys.map((k) => legendItem(`channel radio-${k.slice(6)}`, `${rows.find((r) => r.key === k).name} and its channels`)),
    band ? legendItem('band', `${band.name} band, ${bandText(band)}${beyond(band, span)}`) : null,
    pending ? [legendItem('channel old', 'before the change'), legendItem('channel new', 'moved by the change')] : null,
    ' Frequencies in MHz.');
  figure.append(h('div', { class: 'plan-draw' }, labels, h('div', {}, svg, axis)), h('figcaption', {}, legend), rowsTable(rows, pending));
  return figure;
}

// What the legend says of band edges the picture leaves out.
function beyond(band, span) {
  const out = [[band.min, 'lower'], [band.max, 'upper']].filter(([e]) => !span.edges.includes(e));
  if (out.length === 2) return ' (beyond the picture)';
  return out.length ? ` (its ${out[0][1]} edge is beyond the picture)` : '';
}

function rowsTable(rows, pending) {
  const head = ['Radio', 'Frequency (MHz)', 'Bandwidth (kHz)'];
  return h('div', { class: 'table-wrap' }, h('table', { class: 'plan-table' },
    h('caption', { class: 'sr-only' }, pending ? 'Radios and channels, now → after applying' : 'Radios and channels'),
    h('thead', {}, h('tr', {}, h('th', { scope: 'col' }, 'Radio or channel'), head.map((t) => h('th', { scope: 'col' }, t)))),
    h('tbody', {}, rows.map((r) => {
      const cells = rowCells(r);
      return h('tr', { class: pending && r.moved ? 'moved' : null },
        h('th', { scope: 'row' }, r.name),
        h('td', { 'data-label': head[0] }, cells.radio),
        h('td', { 'data-label': head[1] }, cells.frequency),
        h('td', { 'data-label': head[2] }, cells.bandwidth));
    }))));
}

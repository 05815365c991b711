// The link chart of the status page: received packets as bars and the acknowledgement rates as
// lines over the last hour, as inline SVG built element by element.

import { chartPoints, percentText } from '/ui/gateway.js';

const SVG = 'http://www.w3.org/2000/svg';
const WIDTH = 600;
const HEIGHT = 120;
const BAR = 4;
// Room above the top, so a line at 100 % is drawn whole.
const PAD = 4;

function s(tag, attrs = {}, ...children) {
  const el = document.createElementNS(SVG, tag);
  for (const [name, value] of Object.entries(attrs)) el.setAttribute(name, String(value));
  for (const c of children) el.append(c);
  return el;
}

function line(points, key, cls) {
  // A gap where a report has no value: the line restarts after it.
  let d = '';
  let open = false;
  for (const p of points) {
    if (p[key] === null) {
      open = false;
      continue;
    }
    d += `${open ? 'L' : 'M'}${p.x.toFixed(1)} ${p[key].toFixed(1)} `;
    open = true;
  }
  return d ? s('path', { d: d.trim(), class: cls, fill: 'none' }) : null;
}

// The chart, whose label says what it shows for those who cannot see it, and its legend.
export function linkChart(series, now = Date.now()) {
  const { points, maxReceived } = chartPoints(series, now, { width: WIDTH, height: HEIGHT });
  const last = series[series.length - 1];
  const summary = `Over the last hour: ${points.length} reports, at most ${maxReceived} packets received ` +
    `per report; PUSH_DATA acknowledged ${percentText(last?.pushDataAckPercent)} in the latest.`;
  const svg = s('svg', {
    viewBox: `0 ${-PAD} ${WIDTH} ${HEIGHT + PAD}`,
    class: 'chart',
    role: 'img',
    'aria-label': summary,
    preserveAspectRatio: 'none',
  });
  svg.append(s('title', {}, summary));
  for (const share of [0.25, 0.5, 0.75]) {
    const y = (HEIGHT * share).toFixed(1);
    svg.append(s('line', { x1: 0, x2: WIDTH, y1: y, y2: y, class: 'grid' }));
  }
  for (const p of points) {
    if (p.received === null) continue;
    svg.append(s('rect', {
      x: (p.x - BAR / 2).toFixed(1),
      y: p.received.toFixed(1),
      width: BAR,
      height: Math.max(0, HEIGHT - p.received).toFixed(1),
      class: 'bar',
    }));
  }
  for (const [key, cls] of [['pull', 'pull'], ['push', 'push']]) {
    const path = line(points, key, cls);
    if (path) svg.append(path);
  }
  const caption = document.createElement('figcaption');
  caption.append(legend(maxReceived));
  return [svg, caption];
}

function legend(maxReceived) {
  const item = (cls, text) => {
    const swatch = s('svg', { viewBox: '0 0 10 10', width: 10, height: 10, 'aria-hidden': 'true' },
      s('rect', { x: 0, y: 0, width: 10, height: 10, class: cls }));
    const el = document.createElement('span');
    el.append(swatch, ` ${text}`);
    return el;
  };
  const legend = document.createElement('p');
  legend.className = 'legend';
  legend.append(
    item('bar', `packets received (up to ${maxReceived})`),
    item('push', 'PUSH_DATA acknowledged (0–100 %)'),
    item('pull', 'PULL_DATA acknowledged'),
  );
  return legend;
}

// The link chart of the status page: received packets as bars and the acknowledgement rates as
// lines over the last hour, as inline SVG built element by element. Each report is a link to the
// forwarder's log around it, titled with its numbers. Where the reports and ticks go is reckoned
// apart from the drawing, so Node tests it.

import { clockText, localTimeText, percentText } from '/ui/lib/format.js';
import { pullText } from '/ui/lib/gateway.js';
import { reportLogsHref } from '/ui/lib/journal.js';

const SVG = 'http://www.w3.org/2000/svg';
const WIDTH = 600;
const HEIGHT = 120;
const HOUR = 3_600_000;
const BAR = 4;
// Room above the top, so a line at 100 % is drawn whole.
const PAD = 4;

function s(tag, attrs = {}, ...children) {
  const el = document.createElementNS(SVG, tag);
  for (const [name, value] of Object.entries(attrs)) el.setAttribute(name, String(value));
  for (const c of children) el.append(c);
  return el;
}

// Where the chart draws each report: x across the hour that ends at `end` (milliseconds), the
// received packets against the largest count, the acknowledgement rates against 100 %.
export function chartPoints(series, end, { width, height, hour = 3_600_000 }) {
  const start = end - hour;
  const inHour = series.filter((p) => Date.parse(p.time) >= start && Date.parse(p.time) <= end);
  const maxReceived = Math.max(1, ...inHour.map((p) => p.rfReceived ?? 0));
  const x = (iso) => ((Date.parse(iso) - start) / hour) * width;
  const y = (share) => height - share * height;
  return {
    maxReceived,
    points: inHour.map((p) => ({
      x: x(p.time),
      received: p.rfReceived === null ? null : y(p.rfReceived / maxReceived),
      push: p.pushDataAckPercent === null || p.pushDataSent === 0 ? null : y(p.pushDataAckPercent / 100),
      pull: p.pullDataAckPercent === null || p.pullDataSent === 0 ? null : y(p.pullDataAckPercent / 100),
    })),
  };
}

// The local times on the chart's axis: every quarter of an hour of the browser's clock between
// start and end (milliseconds), as [time, "21:15"].
export function chartTicks(start, end) {
  const d = new Date(start);
  d.setSeconds(0, 0);
  for (let i = 0; i < 15 && (d.getTime() < start || d.getMinutes() % 15); i++) d.setMinutes(d.getMinutes() + 1);
  const ticks = [];
  for (let t = d.getTime(); t <= end; t += 900_000) {
    ticks.push([t, clockText(t)]);
  }
  return ticks;
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

// "21:05:30: 12 received, 12 forwarded; PUSH_DATA acknowledged 100 %, PULL_DATA none sent"
const reportText = (r) => `${localTimeText(r.time).slice(11)}: ${r.rfReceived ?? '–'} received, ${r.rfForwarded ?? '–'} ` +
  `forwarded; PUSH_DATA acknowledged ${r.pushDataSent === 0 ? 'none sent' : percentText(r.pushDataAckPercent)}, ` +
  `PULL_DATA ${pullText(r)}`;

// The chart, whose label says what it shows for those who cannot see it, its time axis and its
// legend. intervalSeconds is the forwarder's stat_interval.
export function linkChart(series, now = Date.now(), intervalSeconds = 30) {
  const last = series[series.length - 1];
  // The hour up to now, or up to the newest report when the gateway's clock is ahead.
  const end = Math.max(now, Date.parse(last?.time) || now);
  const { points, maxReceived } = chartPoints(series, end, { width: WIDTH, height: HEIGHT });
  const shown = series.filter((p) => Date.parse(p.time) >= end - HOUR && Date.parse(p.time) <= end);
  const summary = `Over the last hour: ${points.length} reports, at most ${maxReceived} packets received ` +
    `per report; PUSH_DATA acknowledged ${percentText(last?.pushDataAckPercent)} in the latest. ` +
    'Each report opens the log around it.';
  const svg = s('svg', {
    viewBox: `0 ${-PAD} ${WIDTH} ${HEIGHT + PAD}`,
    class: 'chart',
    role: 'group',
    'aria-label': summary,
    preserveAspectRatio: 'none',
  });
  const ticks = chartTicks(end - HOUR, end);
  const xOf = (t) => (((t - (end - HOUR)) / HOUR) * WIDTH).toFixed(1);
  for (const share of [0.25, 0.5, 0.75]) {
    const y = (HEIGHT * share).toFixed(1);
    svg.append(s('line', { x1: 0, x2: WIDTH, y1: y, y2: y, class: 'grid' }));
  }
  for (const [t] of ticks) svg.append(s('line', { x1: xOf(t), x2: xOf(t), y1: 0, y2: HEIGHT, class: 'grid' }));
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
  // Each report's column, from halfway to the one before to halfway to the one after.
  points.forEach((p, i) => {
    const left = i ? (points[i - 1].x + p.x) / 2 : Math.max(0, p.x - BAR);
    const right = i < points.length - 1 ? (p.x + points[i + 1].x) / 2 : Math.min(WIDTH, p.x + BAR);
    const text = reportText(shown[i]);
    svg.append(s('a', { href: reportLogsHref(shown[i].time, intervalSeconds), 'aria-label': text },
      s('title', {}, `${text}. Open the log around it.`),
      s('rect', { x: left.toFixed(1), y: -PAD, width: Math.max(1, right - left).toFixed(1), height: HEIGHT + PAD, class: 'hit' })));
  });
  const axis = document.createElement('div');
  axis.className = 'chart-axis';
  axis.setAttribute('aria-hidden', 'true');
  for (const [t, label] of ticks) {
    const tick = document.createElement('span');
    tick.textContent = label;
    tick.style.left = `${(xOf(t) / WIDTH) * 100}%`;
    axis.append(tick);
  }
  const caption = document.createElement('figcaption');
  caption.append(legend(maxReceived));
  return [svg, axis, caption];
}

function legend(maxReceived) {
  const item = (text, swatch) => {
    const el = document.createElement('span');
    el.append(s('svg', { viewBox: '0 0 20 10', width: 20, height: 10, 'aria-hidden': 'true' }, swatch), ` ${text}`);
    return el;
  };
  const legend = document.createElement('p');
  legend.className = 'legend';
  legend.append(
    item(`packets received (up to ${maxReceived})`, s('rect', { x: 5, y: 0, width: 10, height: 10, class: 'bar' })),
    item('PUSH_DATA acknowledged (0–100 %)', s('line', { x1: 0, x2: 20, y1: 5, y2: 5, class: 'push' })),
    item('PULL_DATA acknowledged (0–100 %, a gap where none was sent)', s('line', { x1: 0, x2: 20, y1: 5, y2: 5, class: 'pull' })),
  );
  return legend;
}

// What the gateway's answers mean to an operator: unit states as badges, the link's health as a
// colour, and numbers, sizes and times as text. No page building here, so it is tested on its own.

// A unit's state as one of a few badges. `tone` picks the colour: ok, warn, bad or muted.
export function unitBadge(unit) {
  if (!unit) return { label: 'not a unit', tone: 'muted' };
  const { loadState, activeState, subState } = unit;
  if (loadState === 'not-found') return { label: 'not installed', tone: 'muted' };
  if (loadState === 'masked') return { label: 'masked', tone: 'muted' };
  if (activeState === 'failed') return { label: 'failed', tone: 'bad' };
  // systemd waits between restarts in "activating (auto-restart)": the program keeps crashing.
  if (activeState === 'activating' || subState === 'auto-restart' || activeState === 'reloading') {
    return { label: 'restarting', tone: 'warn' };
  }
  if (activeState === 'deactivating') return { label: 'stopping', tone: 'warn' };
  if (activeState === 'active') {
    return subState === 'running' || !subState ? { label: 'running', tone: 'ok' } : { label: subState, tone: 'ok' };
  }
  if (activeState === 'inactive') return { label: 'stopped', tone: 'muted' };
  return { label: activeState || 'unknown', tone: 'muted' };
}

export const isRunning = (unit) => unit?.activeState === 'active';
export const startsAtBoot = (unit) => ['enabled', 'enabled-runtime', 'static', 'alias', 'indirect'].includes(unit?.unitFileState);

// The share of PUSH_DATA datagrams the network server acknowledged: green when it answers, amber
// when it loses some, red when it does not answer. Nothing sent: nothing to judge.
export const ACK_GOOD = 90;
export const ACK_POOR = 50;

export function ackTone(percent, sent) {
  if (percent === null || percent === undefined || sent === 0) return 'muted';
  if (percent >= ACK_GOOD) return 'ok';
  if (percent >= ACK_POOR) return 'warn';
  return 'bad';
}

export function percentText(percent) {
  if (percent === null || percent === undefined) return '–';
  return `${Number.isInteger(percent) ? percent : percent.toFixed(percent >= 99.95 || percent < 0.05 ? 0 : 1)} %`;
}

export function bytesText(n) {
  if (n === null || n === undefined) return '–';
  const units = ['bytes', 'KiB', 'MiB', 'GiB', 'TiB'];
  let value = n;
  let i = 0;
  while (value >= 1024 && i < units.length - 1) {
    value /= 1024;
    i += 1;
  }
  return i === 0 ? `${value} bytes` : `${value.toFixed(value < 10 ? 1 : 0)} ${units[i]}`;
}

// "3 d 4 h", "5 h 12 min", "7 min", "45 s".
export function durationText(seconds) {
  if (seconds === null || seconds === undefined || seconds < 0) return '–';
  const s = Math.floor(seconds);
  const d = Math.floor(s / 86400);
  const h = Math.floor((s % 86400) / 3600);
  const m = Math.floor((s % 3600) / 60);
  if (d > 0) return `${d} d ${h} h`;
  if (h > 0) return `${h} h ${m} min`;
  if (m > 0) return `${m} min`;
  return `${s} s`;
}

// "5 min ago" for a time in the past, against `now` (milliseconds).
export function agoText(iso, now = Date.now()) {
  const t = Date.parse(iso);
  if (Number.isNaN(t)) return '';
  const seconds = Math.max(0, (now - t) / 1000);
  return seconds < 5 ? 'just now' : `${durationText(seconds)} ago`;
}

// A time as the operator's browser shows it: "2026-12-09 02:02:03".
export function localTimeText(iso) {
  const t = new Date(iso);
  if (Number.isNaN(t.getTime())) return '–';
  const p = (n) => String(n).padStart(2, '0');
  return `${t.getFullYear()}-${p(t.getMonth() + 1)}-${p(t.getDate())} ${p(t.getHours())}:${p(t.getMinutes())}:${p(t.getSeconds())}`;
}

// One sentence on a unit: "running since 2026-12-09 02:02:03 (5 min ago)".
export function unitSinceText(unit, now = Date.now()) {
  if (!unit) return '';
  const at = isRunning(unit) ? unit.since : unit.stateChangedAt ?? unit.since;
  if (!at) return '';
  return `since ${localTimeText(at)} (${agoText(at, now)})`;
}

// Journal priorities, 0 to 7, and how a line of each is shown.
const PRIORITIES = ['emerg', 'alert', 'crit', 'err', 'warning', 'notice', 'info', 'debug'];
export const priorityName = (p) => (Number.isInteger(p) && p >= 0 && p < 8 ? PRIORITIES[p] : 'info');
export function priorityTone(p) {
  if (!Number.isInteger(p)) return 'info';
  if (p <= 3) return 'bad';
  if (p === 4) return 'warn';
  if (p === 5) return 'notice';
  return p === 7 ? 'debug' : 'info';
}

// A journal entry as a line of the downloaded file.
export const entryText = (e) => `${e.time} ${priorityName(e.priority).padEnd(7)} ${e.message}`;

// Whether an entry matches the filter: every word of it, in any case, in the message.
export function matchesFilter(entry, filter) {
  const words = filter.toLowerCase().split(/\s+/).filter(Boolean);
  if (!words.length) return true;
  const text = entry.message.toLowerCase();
  return words.every((w) => text.includes(w));
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
      pull: p.pullDataAckPercent === null ? null : y(p.pullDataAckPercent / 100),
    })),
  };
}

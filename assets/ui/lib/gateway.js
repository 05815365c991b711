// What the gateway's answers mean to an operator: unit states as badges, the link's health as a
// colour, and numbers, sizes and times as text. No page building here, so it is tested on its own.

import { MAX_LOG_LINES } from '/ui/lib/server-constants.js';

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

// PULL_DATA's acknowledgement: the forwarder prints 0 % for an interval in which it sent none.
export const pullText = (r) => (r.pullDataSent === 0 ? 'none sent' : percentText(r.pullDataAckPercent));

// The verdict's levels as tones, and as a mark beside each check.
export const VERDICT_TONES = { good: 'ok', warning: 'warn', bad: 'bad', unknown: 'muted' };
export const VERDICT_MARKS = { good: '✓', warning: '!', bad: '✗', unknown: '?' };

const pad2 = (n) => String(n).padStart(2, '0');

// The gateway writes the clock times of its sentences in UTC ("since 21:05"): each becomes the
// browser's local time of that reading within the day before `now`.
export function localClockText(text, now = Date.now()) {
  return text.replace(/\b([01]\d|2[0-3]):([0-5]\d)\b/g, (m, hh, mm) => {
    const d = new Date(now);
    let t = Date.UTC(d.getUTCFullYear(), d.getUTCMonth(), d.getUTCDate(), Number(hh), Number(mm));
    // A report may be dated a little ahead of the clock.
    if (t > now + 3_600_000) t -= 86_400_000;
    const l = new Date(t);
    return `${pad2(l.getHours())}:${pad2(l.getMinutes())}`;
  });
}

// The Logs page on the forwarder's log, from and up to ISO times (either may be missing).
export function logsHref({ since, until } = {}) {
  const q = new URLSearchParams({ unit: 'forwarder' });
  if (since) q.set('since', since);
  if (until) q.set('until', until);
  return `/ui/logs?${q}`;
}

// The log around a report: the two intervals before it and the one after it.
export function reportLogsHref(iso, intervalSeconds) {
  const t = Date.parse(iso);
  const at = (ms) => new Date(t + ms).toISOString().replace('.000Z', 'Z');
  return logsHref({ since: at(-2000 * intervalSeconds), until: at(1000 * intervalSeconds) });
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

// Where a phrase is in a text, as gateway/logs looks for it: as a whole, in any case when it has
// no capital letter (A to Z), in exactly its case when it has one. Answers [start, end] of each
// place, none for an empty phrase.
export function phraseSpans(text, phrase) {
  if (!phrase) return [];
  const hay = /[A-Z]/.test(phrase) ? text : text.replace(/[A-Z]+/g, (m) => m.toLowerCase());
  const spans = [];
  for (let at = hay.indexOf(phrase); at >= 0; at = hay.indexOf(phrase, at + phrase.length)) spans.push([at, at + phrase.length]);
  return spans;
}

// Whether an entry holds the phrase (every entry does when there is none).
export const matchesFilter = (entry, phrase) => !phrase || phraseSpans(entry.message, phrase).length > 0;

// The question for the lines before those held (oldest first): the same one up to the oldest
// time shown, with room for the lines of that very millisecond already held, which come again.
export function olderQuery(asked, entries) {
  const until = entries[0].time;
  let held = 0;
  while (held < entries.length && entries[held].time === until) held++;
  return { ...asked, until, lines: Math.min(MAX_LOG_LINES, asked.lines + held) };
}

// A datetime-local field's value for an ISO time, in the browser's zone, and back: whole seconds,
// which gateway/logs reads as all of that second when it ends a range.
export const localInputValue = (iso) => (Number.isNaN(Date.parse(iso)) ? '' : localTimeText(iso).replace(' ', 'T'));
export function isoFromLocalInput(value) {
  const t = new Date(value);
  return value && !Number.isNaN(t.getTime()) ? t.toISOString().replace(/\.\d+Z$/, 'Z') : null;
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
    const l = new Date(t);
    ticks.push([t, `${pad2(l.getHours())}:${pad2(l.getMinutes())}`]);
  }
  return ticks;
}

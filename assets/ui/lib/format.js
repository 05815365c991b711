// Numbers, sizes and times as an operator reads them, times in the browser's own zone. Pure
// functions, tested on their own.

const pad2 = (n) => String(n).padStart(2, '0');

export function percentText(percent) {
  if (percent === null || percent === undefined) return '–';
  return `${Number.isInteger(percent) ? percent : percent.toFixed(percent >= 99.95 || percent < 0.05 ? 0 : 1)} %`;
}

// "21:05" on the browser's clock, for an ISO time or milliseconds.
export function clockText(time) {
  const t = new Date(time);
  return Number.isNaN(t.getTime()) ? '–' : `${pad2(t.getHours())}:${pad2(t.getMinutes())}`;
}

// The gateway writes the clock times of its sentences in UTC ("since 21:05"): each becomes the
// browser's local time of that reading within the day before `now`.
export function localClockText(text, now = Date.now()) {
  return text.replace(/\b([01]\d|2[0-3]):([0-5]\d)\b/g, (m, hh, mm) => {
    const d = new Date(now);
    let t = Date.UTC(d.getUTCFullYear(), d.getUTCMonth(), d.getUTCDate(), Number(hh), Number(mm));
    // A report may be dated a little ahead of the clock.
    if (t > now + 3_600_000) t -= 86_400_000;
    return clockText(t);
  });
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
  return `${t.getFullYear()}-${pad2(t.getMonth() + 1)}-${pad2(t.getDate())} ${clockText(t)}:${pad2(t.getSeconds())}`;
}

// A datetime-local field's value for an ISO time, in the browser's zone, and back: whole seconds,
// which gateway/logs reads as all of that second when it ends a range.
export const localInputValue = (iso) => (Number.isNaN(Date.parse(iso)) ? '' : localTimeText(iso).replace(' ', 'T'));
export function isoFromLocalInput(value) {
  const t = new Date(value);
  return value && !Number.isNaN(t.getTime()) ? t.toISOString().replace(/\.\d+Z$/, 'Z') : null;
}

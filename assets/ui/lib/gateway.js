// What the gateway's answers mean to an operator: unit states as badges, the link's health as a
// colour, the verdict's levels. No page building here, so it is tested on its own.

import { agoText, localTimeText, percentText } from '/ui/lib/format.js';

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

// PULL_DATA's acknowledgement: the forwarder prints 0 % for an interval in which it sent none.
export const pullText = (r) => (r.pullDataSent === 0 ? 'none sent' : percentText(r.pullDataAckPercent));

// The verdict's levels as tones, and as a mark beside each check.
export const VERDICT_TONES = { good: 'ok', warning: 'warn', bad: 'bad', unknown: 'muted' };
export const VERDICT_MARKS = { good: '✓', warning: '!', bad: '✗', unknown: '?' };

// One sentence on a unit: "running since 2026-12-09 02:02:03 (5 min ago)".
export function unitSinceText(unit, now = Date.now()) {
  if (!unit) return '';
  const at = isRunning(unit) ? unit.since : unit.stateChangedAt ?? unit.since;
  if (!at) return '';
  return `since ${localTimeText(at)} (${agoText(at, now)})`;
}

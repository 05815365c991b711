// The status page: is the forwarder running, does the network server answer, and the gateway's
// facts, refreshed every few seconds while the page is in view.

import { readingProblem, sideFileTexts, tailText } from '/ui/config/reading.js';
import * as api from '/ui/lib/api.js';
import { h, sentence, statusLine } from '/ui/lib/dom.js';
import { agoText, bytesText, durationText, localClockText, localTimeText, percentText } from '/ui/lib/format.js';
import {
  VERDICT_MARKS, VERDICT_TONES, ackTone, pullText, startsAtBoot, unitBadge, unitSinceText,
} from '/ui/lib/gateway.js';
import { httpsFacts } from '/ui/lib/https.js';
import { logsHref } from '/ui/lib/journal.js';
import { activityTable } from '/ui/widgets/activity-table.js';
import { linkChart } from '/ui/widgets/chart.js';

export const REFRESH_MS = 5000;
export const RECENT_ROWS = 10;
// How long a refresh may take before the page says it is waiting for the gateway.
export const WAIT_MS = 1000;

const LAYOUT_NAMES = { SX1301_conf: 'SX1301 (SX1301_conf)', SX130x_conf: 'SX1302/SX1303 (SX130x_conf)' };

const badge = ({ label, tone }) => h('span', { class: `badge ${tone}` }, label);
const text = (v) => (v === null || v === undefined || v === '' ? '–' : String(v));

// A definition list of [term, description] rows; rows whose description is null are left out.
function facts(rows) {
  return h('dl', { class: 'facts' }, rows.filter(([, d]) => d !== null && d !== undefined)
    .map(([t, d]) => [h('dt', {}, t), h('dd', {}, d)]));
}

// What the relaydash card says of HTTPS: the certificate's fingerprint, whose it is and until
// when it holds, or why HTTPS is off; nothing until the gateway has said.
function httpsText(tls) {
  if (!tls) return null;
  if (!tls.https) return h('span', {}, 'off: ', tls.why);
  const until = new Date(tls.notAfter * 1000).toISOString().slice(0, 10);
  return h('span', { class: 'https-facts' },
    tls.certificate === 'installed' ? 'on, with the operator\'s certificate' : 'on, with a certificate made by this gateway',
    ` (valid until ${until}), SHA-256 fingerprint `, h('code', { class: 'fingerprint' }, tls.fingerprint));
}

function card(id, title) {
  const body = h('div', { class: 'card-body' });
  const el = h('section', { class: 'card', id, 'aria-labelledby': `${id}-title` }, h('h2', { id: `${id}-title` }, title), body);
  return { el, fill: (...children) => body.replaceChildren(...children.filter((c) => c !== null && c !== undefined)) };
}

function unitState(unit, what) {
  const b = unitBadge(unit);
  return h('p', { class: 'unit-state' }, badge(b), ' ', h('span', {}, unitSinceText(unit)),
    unit?.result && unit.result !== 'success' && b.tone === 'bad' ? h('span', { class: 'hint' }, ` (${what} ended: ${unit.result})`) : null);
}

function forwarderBody(unit) {
  if (!unit) {
    return [h('p', {}, badge(unitBadge(null))),
      h('p', { class: 'hint' }, 'relaydash was started without a forwarder unit name, so it does not know how the forwarder is run.')];
  }
  const b = unitBadge(unit);
  return [
    unitState(unit, 'last run'),
    facts([
      ['Unit', h('code', {}, unit.unit)],
      ['Restarts', text(unit.restarts)],
      ['Main process', unit.mainPid ? `PID ${unit.mainPid}` : 'none'],
      ['Starts at boot', startsAtBoot(unit) ? 'yes' : 'no'],
    ]),
    b.tone === 'bad' || b.tone === 'warn'
      ? h('p', {}, 'The forwarder is not running steadily. ', h('a', { href: '/ui/logs' }, 'Read its log'), ' to see why.')
      : null,
  ];
}

// The one line at the top: how the gateway forwards, in the colour of its level, with the log
// that explains it and the version to restore; the checks it comes from beneath it.
function verdictBody(v, now) {
  if (!v) return [];
  const local = (text) => sentence(localClockText(text, now));
  const links = [
    v.logsFrom ? h('a', { href: logsHref({ since: v.logsFrom }) }, `Read the log from ${localTimeText(v.logsFrom).slice(11, 16)}`) : null,
    v.change ? h('a', { href: `/ui/history?restore=${v.change.version}` }, `Restore version ${v.change.version}`) : null,
  ].filter(Boolean);
  return [
    h('p', { class: `verdict ${VERDICT_TONES[v.level]}`, id: 'verdict' },
      h('span', { class: 'sr-only' }, `${v.level}: `), local(v.text),
      links.length ? h('span', { class: 'verdict-links' }, links.map((a) => [' ', a])) : null),
    h('ul', { class: 'checks' }, v.checks.map((c) => h('li', { class: `check ${VERDICT_TONES[c.level]}`, 'data-check': c.name },
      h('span', { class: 'mark', 'aria-hidden': 'true' }, VERDICT_MARKS[c.level]), h('span', { class: 'sr-only' }, `${c.level}: `),
      local(c.text)))),
  ];
}

function linkBody(link, now, forwarderSteady) {
  if (!link) {
    return [h('p', { class: 'note' }, 'No statistics report from the forwarder in the last hour. It writes one every ' +
      'stat_interval seconds (30 by default) while it runs; a forwarder that is stopped, or whose log cannot be read, has none.')];
  }
  const r = link.latest;
  // A report that is old, or from a forwarder that is not running steadily, is no sign that
  // all is well now: it is never green.
  let tone = ackTone(r.pushDataAckPercent, r.pushDataSent);
  const unsure = link.stale ? `This report is ${agoText(r.time, now).replace(' ago', '')} old, and the forwarder writes one every ` +
    `${link.statIntervalSeconds} s: it tells nothing of the link now.`
    : forwarderSteady ? null : 'The forwarder is not running steadily: this report tells nothing of the link now.';
  let verdict = {
    ok: 'The network server acknowledges what the gateway sends.',
    warn: 'The network server acknowledges only part of what the gateway sends.',
    bad: 'The network server does not answer. Check the server address and ports, and the gateway\'s internet connection.',
    muted: 'Nothing was sent to the network server in the latest report.',
  }[tone];
  if (unsure && tone === 'ok') [tone, verdict] = ['muted', unsure];
  return [
    h('div', { class: `ack ${tone}`, id: 'push-ack' },
      h('span', { class: 'ack-label' }, 'PUSH_DATA acknowledged'),
      h('span', { class: 'ack-value' }, percentText(r.pushDataAckPercent)),
      h('span', { class: 'ack-verdict' }, verdict)),
    h('p', { class: 'hint' }, `Latest report ${localTimeText(r.time)} (${agoText(r.time, now)}).`),
    facts([
      ['Packets received', `${text(r.rfReceived)} (CRC OK ${percentText(r.crcOkPercent)})`],
      ['Packets forwarded', text(r.rfForwarded)],
      ['PUSH_DATA sent', text(r.pushDataSent)],
      ['PULL_DATA acknowledged', pullText(r)],
      ['Downlinks sent', `${text(r.rfSent)}${r.txErrors ? `, ${r.txErrors} TX errors` : ''}`],
      ['Time reference', r.timeReference ? `${r.timeReference}${r.timeReferenceAgeSeconds !== null ? ` (age ${r.timeReferenceAgeSeconds} s)` : ''}` : null],
      ['Position', r.gps ? `${r.gps.latitude.toFixed(5)}, ${r.gps.longitude.toFixed(5)}, ${r.gps.altitude} m (${r.gps.source})` : null],
    ]),
    h('figure', { class: 'chart-box' }, ...linkChart(link.series, now, link.statIntervalSeconds)),
  ];
}

function sshBody(unit) {
  return [
    unitState(unit, 'last run'),
    facts([['Starts at boot', unit ? (startsAtBoot(unit) ? 'yes' : 'no') : '–']]),
    h('p', {}, h('a', { href: '/ui/ssh' }, 'Change SSH access')),
  ];
}

// A card whose source could not be read this time.
const partError = (e) => h('p', { class: 'status error' }, `Could not read this part of the status: ${e.message}`);

function gatewayBody(g, clockError) {
  return [facts([
    ['Host name', h('code', {}, text(g.hostname))],
    ['System', text(g.os)],
    ['Kernel', text(g.kernel)],
    ['Up for', durationText(g.uptimeSeconds)],
    ['Load', g.load ? g.load.map((l) => l.toFixed(2)).join(' · ') : '–'],
    ['Memory', `${bytesText(g.memory.availableBytes)} available of ${bytesText(g.memory.totalBytes)}`],
    ['Storage', g.storage ? `${bytesText(g.storage.freeBytes)} free of ${bytesText(g.storage.totalBytes)} (${g.storage.path})` : '–'],
    ['Clock', clockError ? h('span', { class: 'error' }, `cannot be read: ${clockError.message}`) : null],
  ]),
  h('h3', {}, 'Network'),
  g.interfaces.length
    ? h('ul', { class: 'interfaces' }, g.interfaces.map((i) => h('li', {}, h('strong', {}, i.name), ' ',
      i.addresses.length ? i.addresses.map((a) => [h('code', {}, a), ' ']) : h('span', { class: 'hint' }, 'no address'))))
    : h('p', { class: 'hint' }, 'No interface is up besides the loopback.')];
}

function activityBody(recent) {
  if (recent instanceof Error) return [h('p', { class: 'status error' }, `Could not read the activity: ${recent.message}`)];
  return [
    recent.entries.length
      ? activityTable(recent.entries, `The last ${RECENT_ROWS} recorded actions, newest first`).el
      : h('p', { class: 'hint' }, 'Nothing has been recorded yet.'),
    h('p', {}, h('a', { href: '/ui/activity' }, 'All activity')),
  ];
}

// How the forwarder reads its file, when that is not simply as written: red when it cannot read
// it, amber when it reads it otherwise, a quiet note for text it ignores after the document.
function readingNotes(f) {
  if (!f) return [];
  const r = { refusal: f.refusal ?? null, quirks: f.quirks ?? [], misread: f.misread ?? [], plainError: null };
  const problem = readingProblem(r, 'its configuration file');
  const mend = [' ', h('a', { href: '/ui/raw' }, 'Mend it in the raw view'), '.'];
  return [
    problem ? h('p', r.refusal ? { class: 'status error reading' } : { class: 'notice warn reading' }, `${problem}.`, ...mend) : null,
    f.ignoredTail ? h('p', { class: 'hint reading' }, `${tailText(f)}.`) : null,
  ];
}

// "(from local_conf.json)" beside a fact another file sets.
function setIn(sideFiles, ...paths) {
  const o = (sideFiles?.overrides ?? []).find((x) => paths.includes(x.path));
  return o ? h('span', { class: 'hint' }, ` (from ${o.file})`) : null;
}

function configBody(c) {
  const ports = c.serverPortUp === null && c.serverPortDown === null ? '' : ` (ports ${text(c.serverPortUp)} up, ${text(c.serverPortDown)} down)`;
  const gw = (m) => `gateway_conf.${m}`;
  return [
    // The forwarder's own refusal says the same, and where.
    c.error && !c.forwarder?.refusal ? h('p', { class: 'status error' }, `The configuration file cannot be used: ${c.error}`) : null,
    ...readingNotes(c.forwarder),
    c.sideFiles?.readInstead ? h('p', { class: 'notice warn' }, `${sideFileTexts(c.sideFiles)[0]}.`) : null,
    facts([
      ['Gateway EUI', [h('code', {}, text(c.gatewayId)), setIn(c.sideFiles, gw('gateway_ID'))]],
      ['Network server', [`${text(c.serverAddress)}${ports}`,
        setIn(c.sideFiles, gw('server_address'), gw('serv_port_up'), gw('serv_port_down'))]],
      ['Concentrator', c.layout ? LAYOUT_NAMES[c.layout] ?? c.layout : '–'],
      // "US915 sub-band 2", or "custom" for channels of no regional plan; none without channels.
      ['Frequency plan', c.plan ?? null],
      ['File', c.sizeBytes === null ? '–' : `${bytesText(c.sizeBytes)}, changed ${localTimeText(c.modified)}`],
      ['Comments', c.hasComments ? 'yes: changes made here keep them (one that cannot keep the layout says so)' : 'none'],
    ]),
    h('p', {}, h('a', { href: '/ui/config' }, 'Edit the configuration')),
  ];
}

export function statusView(page, app) {
  const status = statusLine();
  const updated = h('p', { class: 'hint', 'aria-live': 'off' });
  const forwarder = card('forwarder-card', 'Packet forwarder');
  const link = card('link-card', 'Network server link');
  const ssh = card('ssh-card', 'SSH');
  const gateway = card('gateway-card', 'Gateway');
  const config = card('config-card', 'Configuration at a glance');
  const self = card('self-card', 'relaydash');
  const activity = card('activity-card', 'Recent activity');
  const verdict = h('div', { class: 'verdict-box' });
  // Says when what is shown is older than the last refresh: one under way for long, or failed.
  const freshness = h('p', { class: 'freshness', hidden: true });
  const el = h('section', { class: 'view', hidden: true },
    h('h1', { tabindex: '-1' }, page.title),
    h('p', { class: 'intro' }, `What the gateway and its packet forwarder are doing, refreshed every ${REFRESH_MS / 1000} seconds.`),
    status.el,
    freshness,
    verdict,
    h('div', { class: 'status-grid' }, forwarder.el, ssh.el, link.el, config.el, gateway.el, self.el),
    activity.el,
    updated);

  let shown = false;
  let timer = null;
  let loaded = false;
  let shownAsOf = null;

  // What is shown is from before the refresh under way or the one that failed.
  function showOld(...why) {
    if (!loaded) return;
    freshness.replaceChildren(...why, ` Showing the status as of ${localTimeText(new Date(shownAsOf).toISOString()).slice(11)}.`);
    freshness.hidden = false;
    el.classList.add('old');
  }

  // The relaydash card, with HTTPS once the gateway has said (asked once, with the first status).
  let shownSelf = null;
  let tls = null;
  let tlsAsked = false;
  const fillSelf = () => {
    if (!tlsAsked) {
      tlsAsked = true;
      httpsFacts().then((t) => {
        tls = t;
        fillSelf();
      }).catch(() => {
        tlsAsked = false;
      });
    }
    self.fill(facts([['Version', shownSelf.version], ['Running for', durationText(shownSelf.uptimeSeconds)],
      ['HTTPS', httpsText(tls)]]));
  };

  function render(s, recent, asked) {
    const now = Date.now();
    const errors = s.errors ?? {};
    shownAsOf = asked;
    freshness.hidden = true;
    el.classList.remove('old');
    verdict.replaceChildren(...verdictBody(s.verdict, now));
    activity.fill(...activityBody(recent));
    const steady = !['bad', 'warning'].includes(s.verdict?.checks.find((c) => c.name === 'forwarder')?.level);
    // A part whose source failed says so in its card; the others are shown as usual.
    const fill = (target, failed, body) => {
      target.el.classList.toggle('failed', Boolean(failed));
      target.fill(...(failed ? [partError(failed)] : body()));
    };
    fill(forwarder, errors.units, () => forwarderBody(s.units.forwarder));
    fill(link, errors.linkHealth, () => linkBody(s.linkHealth, now, steady));
    fill(ssh, errors.units, () => sshBody(s.units.ssh));
    fill(config, errors.forwarderConfig, () => configBody(s.forwarderConfig));
    fill(gateway, errors.gateway, () => gatewayBody(s.gateway, errors.clock));
    shownSelf = s.relaydash;
    fillSelf();
    updated.textContent = `Updated ${localTimeText(new Date(now).toISOString())}.`;
  }

  async function refresh() {
    clearTimeout(timer);
    timer = null;
    if (!loaded) status.busy('Asking the gateway…');
    const asked = Date.now();
    const waiting = setTimeout(() => showOld(h('span', { class: 'spinner', 'aria-hidden': 'true' }), 'Waiting for the gateway…'), WAIT_MS);
    try {
      // The trail's own failure is shown in its card; the status is what the page is for.
      const [s, recent] = await Promise.all([
        app.fetchStatus(),
        api.call('audit/list', { limit: RECENT_ROWS }).catch((e) => e),
      ]);
      if (!shown || recent.authLost) return;
      render(s, recent, asked);
      loaded = true;
      status.clear();
    } catch (e) {
      if (e.authLost) return;
      status.error(`Could not read the gateway's status: ${e.message}`);
      showOld('The last refresh failed.');
    } finally {
      clearTimeout(waiting);
    }
    schedule();
  }

  // Only while the page is in view: a hidden tab or another page costs the gateway nothing.
  function schedule() {
    clearTimeout(timer);
    timer = shown && !document.hidden ? setTimeout(refresh, REFRESH_MS) : null;
  }
  document.addEventListener('visibilitychange', () => {
    if (!shown) return;
    if (document.hidden) schedule();
    else refresh();
  });

  return {
    el,
    fetchesStatus: true,
    show() {
      shown = true;
      refresh();
    },
    hide() {
      shown = false;
      schedule();
    },
  };
}

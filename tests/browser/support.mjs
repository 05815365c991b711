// Runs build/relaydash on a free local port against a copy of a real forwarder configuration,
// with the stand-ins for systemctl, journalctl and timedatectl of tests/support/fake-systemd
// first on its PATH, and drives Debian's Chromium.
import { spawn } from 'node:child_process';
import {
  appendFileSync, copyFileSync, existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync, symlinkSync, writeFileSync,
} from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { after, before } from 'node:test';
import { chromium } from 'playwright-core';
import { parseConfig } from '../ui/support.mjs';

const BINARY = path.resolve('build/relaydash');
const FAKES = path.resolve('tests/support/fake-systemd');
const SAMPLES = path.resolve('tests/data/forwarder');
const SCREENSHOTS = path.resolve('build/screenshots');
const START_TIMEOUT_MS = 15_000;

export const SX1301 = 'sx1301-eu868-semtech-lora_pkt_fwd-v4.0.1.global_conf.json';
export const SX130X = 'sx1302-sx1250-eu868-semtech-sx1302_hal-v2.1.0.global_conf.json';
export const INITIAL_PASSWORD = 'quilm';

function freePort() {
  return new Promise((resolve, reject) => {
    const s = net.createServer();
    s.once('error', reject);
    s.listen(0, '127.0.0.1', () => {
      const { port } = s.address();
      s.close(() => resolve(port));
    });
  });
}

const pause = (ms) => new Promise((r) => setTimeout(r, ms));

function canConnect(port) {
  return new Promise((resolve) => {
    const socket = net.connect({ host: '127.0.0.1', port });
    socket.once('connect', () => (socket.destroy(), resolve(true)));
    socket.once('error', () => resolve(false));
  });
}

export class Gateway {
  constructor(sample) {
    this.dir = mkdtempSync(path.join(os.tmpdir(), 'relaydash-ui-'));
    this.configPath = path.join(this.dir, 'global_conf.json');
    this.sample = path.join(SAMPLES, sample);
    copyFileSync(this.sample, this.configPath);
    this.bin = path.join(this.dir, 'bin');
    this.state = path.join(this.bin, 'state');
    mkdirSync(this.state, { recursive: true });
    for (const tool of ['systemctl', 'journalctl', 'timedatectl']) symlinkSync(path.join(FAKES, tool), path.join(this.bin, tool));
    // SSH starts off, as on a gateway fresh from the factory; the forwarder runs.
    this.setState('active-ssh', 'inactive');
    this.setState('enabled-ssh', 'disabled');
    this.child = null;
  }

  // env: variables the server gets besides the tests' own.
  static async start(sample, env = {}) {
    const gw = new Gateway(sample);
    gw.env = env;
    try {
      gw.port = await freePort();
      await gw.launch();
    } catch (e) {
      await gw.stop();
      throw e;
    }
    return gw;
  }

  get url() {
    return `http://127.0.0.1:${this.port}`;
  }

  async launch() {
    const args = ['--listen', '127.0.0.1', '--port', String(this.port), '--dataPath', path.join(this.dir, 'db.sqlite3'),
      '--forwarderConfigPath', this.configPath, '--forwarderUnitServiceName', 'packet-forwarder'];
    const child = spawn(BINARY, args, {
      cwd: this.dir,
      env: {
        ...process.env,
        PATH: `${this.bin}:${process.env.PATH}`,
        // No system bus: relaydash would ask the real systemd over D-Bus rather than the stand-ins.
        DBUS_SYSTEM_BUS_ADDRESS: 'unix:path=/nonexistent/relaydash-tests',
        // The stand-in journal is the one that changes: anything new in the state folder is read.
        RELAYDASH_JOURNAL_WATCH: path.join(this.bin, 'state'),
        // The pages are what is tested here: every status call reads the tools afresh.
        RELAYDASH_STATUS_FRESH_MS: '0',
        ...this.env,
      },
      stdio: ['ignore', 'pipe', 'pipe'],
    });
    this.child = child;
    let output = '';
    child.stdout.on('data', (d) => (output += d));
    child.stderr.on('data', (d) => (output += d));
    const exited = new Promise((resolve) => child.once('exit', resolve));
    this.exited = exited;
    const deadline = Date.now() + START_TIMEOUT_MS;
    while (!output.includes('Listening') || !(await canConnect(this.port))) {
      if (child.exitCode !== null || child.signalCode !== null) throw new Error(`relaydash ended at start:\n${output}`);
      if (Date.now() > deadline) throw new Error(`relaydash did not start listening:\n${output}`);
      await pause(50);
    }
  }

  async stop() {
    const child = this.child;
    this.child = null;
    if (child && child.exitCode === null && child.signalCode === null) {
      child.kill('SIGTERM');
      const ended = await Promise.race([this.exited.then(() => true), pause(5000).then(() => false)]);
      if (!ended) {
        child.kill('SIGKILL');
        await this.exited;
      }
    }
  }

  // A new process on the same port and database: its new token key logs every browser out.
  async restart() {
    await this.stop();
    await this.launch();
  }

  async close() {
    await this.stop();
    rmSync(this.dir, { recursive: true, force: true });
  }

  // The configuration, comments and all, as the page reads it.
  config() {
    return parseConfig(this.configText());
  }

  // The file's exact text.
  configText() {
    return readFileSync(this.configPath, 'utf8');
  }

  writeConfig(text) {
    writeFileSync(this.configPath, text);
  }

  // The forwarder crash-loops when its file holds the marker (see the fake systemctl).
  crashOn(marker) {
    this.setState('config-packet-forwarder', this.configPath);
    this.setState('reject-packet-forwarder', marker);
  }

  // The sample, comments and all, as the page reads it.
  originalConfig() {
    return parseConfig(readFileSync(this.sample, 'utf8'));
  }

  // A file of the fake tools' state (see the scripts in tests/support/fake-systemd).
  setState(name, text) {
    writeFileSync(path.join(this.state, name), text);
  }

  // Entries appended to a unit's journal.
  journal(unit, entries) {
    appendFileSync(path.join(this.state, `journal-${unit}.jsonl`), entries.map((e) => `${e}\n`).join(''));
  }

  // Every call of the fake tools, as "systemctl [verb] [unit]".
  calls() {
    const calls = path.join(this.state, 'calls');
    return existsSync(calls) ? readFileSync(calls, 'utf8').split('\n').filter(Boolean) : [];
  }

  // The systemctl commands that change something, as "systemctl VERB UNIT": what the status
  // pages ask (systemctl show) is left out.
  commands() {
    return this.calls()
      .filter((line) => line.startsWith('systemctl ') && !line.startsWith('systemctl [show]'))
      .map((line) => line.replace(/\[([^\]]*)\] ?/g, '$1 ').trim());
  }
}

let journals = 0;

// Journal entries as `journalctl --output=json` prints them.
export class FakeJournal {
  constructor(unit, start = Date.now() * 1000 - 3_000_000_000) {
    this.unit = unit;
    this.time = start;
    this.index = 0;
    // A journal of its own, as journald's sequence number id says: a cursor of one journal is
    // not found in another, however many entries each holds.
    journals += 1;
    this.seqnumId = `8d3f6b0e2a6d4c6fb1e0e0c1a7f0${journals.toString(16).padStart(4, '0')}`;
  }

  cursor(i = this.index) {
    return `s=${this.seqnumId};i=${i.toString(16)};b=5e1c0a5b4f3e4c2a9a8b7c6d5e4f3a2b;m=${(i * 1000).toString(16)};t=${i.toString(16)};x=${(i * 7919).toString(16)}`;
  }

  // An entry `seconds` after the previous one.
  entry(message, { priority = 6, seconds = 0.5 } = {}) {
    this.index += 1;
    this.time += Math.round(seconds * 1e6);
    return JSON.stringify({
      __CURSOR: this.cursor(),
      __REALTIME_TIMESTAMP: String(this.time),
      __MONOTONIC_TIMESTAMP: String(this.index * 1000),
      _BOOT_ID: '5e1c0a5b4f3e4c2a9a8b7c6d5e4f3a2b',
      PRIORITY: String(priority),
      SYSLOG_IDENTIFIER: 'lora_pkt_fwd',
      _SYSTEMD_UNIT: `${this.unit}.service`,
      MESSAGE: message,
    });
  }

  lines(messages, firstAfter = 30) {
    return messages.map((m, i) => this.entry(m, { seconds: i === 0 ? firstAfter : 0.001 }));
  }

  // A statistics report dated when its first line reaches the journal, `firstAfter` seconds
  // after the previous entry; edit(lines) may change its lines first.
  report(received, pushAck, pullAck = '100.00', { firstAfter = 30, edit = (lines) => lines } = {}) {
    const at = (this.time + firstAfter * 1e6) / 1000;
    return this.lines(edit(statisticsReport(received, pushAck, pullAck, at)), firstAfter);
  }
}

// The lines of one statistics report of the packet forwarder, dated `at` (milliseconds).
export function statisticsReport(received, pushAck, pullAck = '100.00', at = Date.parse('2026-12-09T01:02:03Z')) {
  return [
    `##### ${new Date(at).toISOString().slice(0, 19).replace('T', ' ')} GMT #####`,
    '### [UPSTREAM] ###',
    `# RF packets received by concentrator: ${received}`,
    '# CRC_OK: 100.00%, CRC_FAIL: 0.00%, NO_CRC: 0.00%',
    `# RF packets forwarded: ${received} (${received * 23} bytes)`,
    `# PUSH_DATA datagrams sent: ${received + 1} (${received * 150 + 220} bytes)`,
    `# PUSH_DATA acknowledged: ${pushAck}%`,
    '### [DOWNSTREAM] ###',
    `# PULL_DATA sent: 3 (${pullAck}% acknowledged)`,
    '# PULL_RESP(onse) datagrams received: 0 (0 bytes)',
    '# RF packets sent to concentrator: 0 (0 bytes)',
    '# TX errors: 0',
    '### [GPS] ###',
    '# Invalid time reference (age: 1765242123 sec)',
    '##### END #####',
  ];
}

// The browser of the test file that called usesBrowser, and the gateway it started: live
// bindings, set before the file's first test (node --test runs each file in a process of its own).
export let browser;
export let gw;

// Launches the browser before the file's tests and, given a configuration, starts a gateway on it
// too and hands it to started; closes both after the file's last test.
export function usesBrowser(config, started = () => {}) {
  before(async () => {
    browser = await launchBrowser();
    if (config) {
      gw = await Gateway.start(config);
      started(gw);
    }
  });
  after(async () => {
    await browser?.close();
    await gw?.close();
  });
}

export function launchBrowser() {
  return chromium.launch({
    executablePath: '/usr/bin/chromium',
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    timeout: 30_000,
  });
}

export async function newPage(browser, gw, options = {}) {
  const context = await browser.newContext({ baseURL: gw.url, viewport: { width: 1280, height: 900 }, ...options });
  context.setDefaultTimeout(10_000);
  const page = await context.newPage();
  page.errors = [];
  page.on('pageerror', (e) => page.errors.push(e));
  // Whatever the page's Content-Security-Policy refuses is an error of the application.
  page.on('console', (m) => {
    if (m.type() === 'error' && /Content Security Policy/i.test(m.text())) page.errors.push(new Error(m.text()));
  });
  return page;
}

// Signs in; the page that asks for a password of one's own (shown while the factory password is
// in use) is put off, so the test goes on where the operator was going.
export async function signIn(page, password = INITIAL_PASSWORD) {
  await page.getByLabel('Password', { exact: true }).fill(password);
  await page.getByRole('button', { name: 'Sign in' }).click();
  await page.locator('#sign-out').waitFor();
  const later = page.getByRole('button', { name: 'Not now' });
  if (await later.isVisible()) await later.click();
}

// Calls a procedure of the API from the test, as a script would.
export async function rpc(gw, procedure, body) {
  const res = await fetch(`${gw.url}/rpc/v1/${procedure}`, {
    method: 'POST',
    headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify(body),
  });
  return res.json();
}

// The view on screen: every view is in the page, the others hidden.
export const view = (page) => page.locator('main > section.view:visible');

// From the review: applies with a short watch and waits for the outcome; answers its heading.
export async function applyReviewed(page, { settleSeconds = 1 } = {}) {
  const v = view(page);
  await v.getByLabel('Watch the forwarder after the restart (seconds)').fill(String(settleSeconds));
  await v.getByRole('button', { name: 'Apply', exact: true }).click();
  const outcome = v.getByRole('heading', { name: /^Change (applied|rolled back|not applied)$/ });
  await outcome.waitFor({ timeout: 30_000 });
  return outcome.innerText();
}

// Holds the page's next load of the configuration unanswered, as a busy gateway keeps it for a
// while; resolves once the page has asked.
export const holdNextConfigLoad = (page) =>
  new Promise((resolve) => page.route('**/rpc/forwarder-config/text', resolve, { times: 1 }));

// Counts the page's requests whose URL ends with tail. settled() answers how many the page has
// made so far, once each is answered: it has the page make a request of its own, which is seen
// after every request the page made before it.
let marks = 0;
export function countRequests(page, tail) {
  const made = [];
  page.on('request', (r) => r.url().endsWith(tail) && made.push(r));
  return {
    async settled() {
      const mark = `/health/mark-${++marks}`;
      const seen = page.waitForRequest((r) => r.url().endsWith(mark));
      await page.evaluate((url) => fetch(url), mark);
      await seen;
      await Promise.all(made.map((r) => r.response()));
      return made.length;
    },
  };
}

// Waits for the text to appear somewhere in the locator (bounded by the page's default timeout).
export const shows = (locator, text) => locator.filter({ hasText: text }).first().waitFor();

export async function screenshot(page, name, { fullPage = true } = {}) {
  mkdirSync(SCREENSHOTS, { recursive: true });
  await page.screenshot({ path: path.join(SCREENSHOTS, `${name}.png`), fullPage });
}

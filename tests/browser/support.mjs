// Runs build/relaydash on a free local port against a copy of a real forwarder configuration,
// with a stand-in `systemctl` that only records its command lines, and drives Debian's Chromium.
import { spawn } from 'node:child_process';
import { chmodSync, copyFileSync, mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';
import { stripComments } from '../ui/support.mjs';

const BINARY = path.resolve('build/relaydash');
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
    this.logPath = path.join(this.dir, 'systemctl.log');
    this.sample = path.join(SAMPLES, sample);
    copyFileSync(this.sample, this.configPath);
    writeFileSync(this.logPath, '');
    const fake = path.join(this.dir, 'systemctl');
    writeFileSync(fake, `#!/bin/sh\nprintf 'systemctl %s\\n' "$*" >> '${this.logPath}'\nexit 0\n`);
    chmodSync(fake, 0o755);
    this.child = null;
  }

  static async start(sample) {
    const gw = new Gateway(sample);
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
      env: { ...process.env, PATH: `${this.dir}:${process.env.PATH}` },
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

  config() {
    return JSON.parse(readFileSync(this.configPath, 'utf8'));
  }

  // The sample as the forwarder reads it, comments and all.
  originalConfig() {
    return JSON.parse(stripComments(readFileSync(this.sample, 'utf8')));
  }

  commands() {
    return readFileSync(this.logPath, 'utf8').split('\n').filter(Boolean);
  }
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
  return page;
}

export async function signIn(page, password = INITIAL_PASSWORD) {
  await page.getByLabel('Password', { exact: true }).fill(password);
  await page.getByRole('button', { name: 'Sign in' }).click();
  await page.locator('#sign-out').waitFor();
}

// Waits for the text to appear somewhere in the locator (bounded by the page's default timeout).
export const shows = (locator, text) => locator.filter({ hasText: text }).first().waitFor();

export async function screenshot(page, name, { fullPage = true } = {}) {
  mkdirSync(SCREENSHOTS, { recursive: true });
  await page.screenshot({ path: path.join(SCREENSHOTS, `${name}.png`), fullPage });
}

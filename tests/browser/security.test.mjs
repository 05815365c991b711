// What the application does against the usual tricks on a shared network: the factory password
// replaced first, idle sign-out, a warning while sign-in is slowed, no running in a frame, and no
// use of the API from another site's page or under a name that is not the gateway's.
import assert from 'node:assert/strict';
import { existsSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { test } from 'node:test';
import { chromium } from 'playwright-core';
import { Gateway, SX130X, browser, newPage, rpc, screenshot, shows, signIn, usesBrowser } from './support.mjs';

usesBrowser();

// Each test gets a gateway of its own: they change its password and its count of failures.
async function withGateway(run) {
  const gw = await Gateway.start(SX130X);
  try {
    await run(gw);
  } finally {
    await gw.close();
  }
}

test('with the factory password, a page asking for one\'s own comes first and refuses weak ones', () =>
  withGateway(async (gw) => {
    const page = await newPage(browser, gw);
    await page.goto('/ui/logs');
    await page.getByLabel('Password', { exact: true }).fill('quilm');
    await page.getByRole('button', { name: 'Sign in' }).click();
    await page.getByRole('heading', { name: 'Set your own password' }).waitFor();
    assert.equal(new URL(page.url()).pathname, '/ui/new-password');
    assert.equal(await page.locator('#nav').isVisible(), false);
    await screenshot(page, 'new-password');

    const own = page.getByLabel('Your own password', { exact: true });
    const again = page.getByLabel('Your own password again');
    const set = page.getByRole('button', { name: 'Set password' });
    for (const [password, second, message] of [
      ['', '', 'may not be empty'],
      ['relay7', 'relay7', 'at least 8 characters'],
      ['quilm', 'quilm', 'factory password'],
      ['relay-s3cret', 'relay-s3cre7', 'do not match'],
    ]) {
      await own.fill(password);
      await again.fill(second);
      await set.click();
      await shows(page.locator('.field-error'), message);
    }
    // Nothing was sent: the password is still the factory one.
    assert.ok((await rpc(gw, 'login/password', { username: 'admin', password: 'quilm' })).output);

    // Put off: on to where the operator was going, with the banner; not asked again in this sign-in.
    await page.getByRole('button', { name: 'Not now' }).click();
    await page.getByRole('heading', { name: 'Logs' }).waitFor();
    await page.locator('#password-banner').waitFor();
    await page.getByRole('link', { name: 'Status' }).click();
    await page.getByRole('heading', { name: 'Gateway status' }).waitFor();
    await page.goto('/ui/ssh');
    await page.getByRole('heading', { name: 'SSH access' }).waitFor();

    // A new sign-in asks again; a good password is set and the first page follows.
    await page.getByRole('button', { name: 'Sign out' }).click();
    await page.getByLabel('Password', { exact: true }).fill('quilm');
    await page.getByRole('button', { name: 'Sign in' }).click();
    await own.fill('relay-s3cret');
    await again.fill('relay-s3cret');
    await set.click();
    await page.getByRole('heading', { name: 'Gateway status' }).waitFor();
    assert.equal(await page.locator('#password-banner').isVisible(), false);
    assert.equal(
      (await rpc(gw, 'login/password', { username: 'admin', password: 'quilm' })).error?.message, 'Invalid password');
    await page.getByRole('button', { name: 'Sign out' }).click();
    await page.getByLabel('Password', { exact: true }).fill('relay-s3cret');
    await page.getByRole('button', { name: 'Sign in' }).click();
    await page.getByRole('heading', { name: 'Gateway status' }).waitFor();
    assert.deepEqual(page.errors, []);
  }));

test('with a first password made for this gateway, the page asking for one\'s own replaces it', async () => {
  const dir = mkdtempSync(path.join(os.tmpdir(), 'relaydash-first-'));
  const file = path.join(dir, 'initial-password');
  // As the package's unit sets it; relaydash writes the file as it makes the database.
  process.env.RELAYDASH_INITIAL_PASSWORD_FILE = file;
  let gw;
  try {
    gw = await Gateway.start(SX130X);
  } finally {
    delete process.env.RELAYDASH_INITIAL_PASSWORD_FILE;
  }
  try {
    const first = readFileSync(file, 'utf8').trim();
    const page = await newPage(browser, gw);
    await page.goto('/ui/');
    await page.getByLabel('Password', { exact: true }).fill(first);
    await page.getByRole('button', { name: 'Sign in' }).click();
    await page.getByRole('heading', { name: 'Set your own password' }).waitFor();
    await page.getByLabel('Your own password', { exact: true }).fill('relay-s3cret');
    await page.getByLabel('Your own password again').fill('relay-s3cret');
    await page.getByRole('button', { name: 'Set password' }).click();
    await page.getByRole('heading', { name: 'Gateway status' }).waitFor();
    assert.equal(existsSync(file), false);
    assert.equal((await rpc(gw, 'login/password', { username: 'admin', password: first })).error?.message,
      'Invalid password');
    assert.ok((await rpc(gw, 'login/password', { username: 'admin', password: 'relay-s3cret' })).output);
    assert.deepEqual(page.errors, []);
  } finally {
    await gw.close();
    rmSync(dir, { recursive: true, force: true });
  }
});

test('after 30 minutes without activity the tab signs out and says why', () =>
  withGateway(async (gw) => {
    const page = await newPage(browser, gw);
    await page.clock.install();
    await page.goto('/ui/config');
    await signIn(page);
    await page.getByLabel('Network server address').waitFor();

    // Typing keeps the sign-in.
    await page.clock.fastForward('20:00');
    await page.keyboard.press('Tab');
    await page.clock.fastForward('20:00');
    assert.equal(await page.locator('#sign-out').isVisible(), true);

    await page.clock.fastForward('30:00');
    await shows(page.locator('.notice'), 'signed out after 30 minutes without activity');
    assert.equal(new URL(page.url()).pathname, '/ui/login');
    assert.equal(await page.evaluate(() => sessionStorage.getItem('relaydash.auth')), null);
    await screenshot(page, 'signed-out-idle');
    await signIn(page);
    await page.getByLabel('Network server address').waitFor();
    assert.equal(new URL(page.url()).pathname, '/ui/config');
    assert.deepEqual(page.errors, []);
  }));

test('the sign-in page says that sign-in is slowed after repeated failures', () =>
  withGateway(async (gw) => {
    const page = await newPage(browser, gw);
    // The page's clock stands still while it counts: an answer that is late on a busy machine
    // does not look held to it, and the count of failures alone speaks.
    await page.clock.install();
    await page.goto('/ui/');
    await page.clock.pauseAt(Date.now() + 1000);
    const password = page.getByLabel('Password', { exact: true });
    const slowed = page.locator('#sign-in-slowed');
    const attempt = async (text) => {
      await password.fill(text);
      const answered = page.waitForResponse('**/rpc/v1/login/password');
      const start = Date.now();
      await page.getByRole('button', { name: 'Sign in' }).click();
      await answered;
      return Date.now() - start;
    };
    for (let i = 1; i <= 4; i++) {
      await attempt(`guess-${i}`);
      assert.equal(await slowed.isVisible(), false, `after ${i} failures`);
    }
    await attempt('guess-5');
    await shows(slowed, 'Sign-in is slowed down after repeated failures');
    await screenshot(page, 'signin-slowed');
    assert.ok((await attempt('guess-6')) >= 900);
    await shows(page.getByRole('alert'), 'Wrong user name or password.');
    await page.clock.resume();

    // Another tab has counted nothing, but its first answer comes as late as a held one.
    const other = await newPage(browser, gw);
    await other.goto('/ui/');
    await other.getByLabel('Password', { exact: true }).fill('guess-7');
    await other.getByRole('button', { name: 'Sign in' }).click();
    await shows(other.locator('#sign-in-slowed'), 'Sign-in is slowed down');

    // The right password is held too, then signs in; a later sign-in page has nothing to say.
    await signIn(page);
    await page.getByRole('button', { name: 'Sign out' }).click();
    assert.equal(await slowed.isVisible(), false);
    assert.deepEqual(page.errors, []);
    assert.deepEqual(other.errors, []);
  }));

test('inside another page\'s frame the application shows a warning instead of itself', () =>
  withGateway(async (gw) => {
    const page = await newPage(browser, gw);
    await page.setContent(`<iframe src="${gw.url}/ui/ssh" width="900" height="600"></iframe>`);
    const frame = page.frameLocator('iframe');
    await frame.getByRole('heading', { name: 'relaydash does not run inside another page' }).waitFor();
    assert.equal(await frame.getByRole('button').count(), 0);
    assert.equal(await frame.getByRole('link', { name: 'SSH' }).count(), 0);
    assert.equal(await frame.getByRole('link', { name: 'Open relaydash in a new tab' }).count(), 1);
    await screenshot(page, 'framed');

    // On its own the same address is the application, under a policy that allows only its own files.
    await page.goto(`${gw.url}/ui/ssh`);
    await page.getByRole('heading', { name: 'Sign in' }).waitFor();
    const policy = await page.locator('meta[http-equiv="Content-Security-Policy"]').getAttribute('content');
    for (const directive of ["default-src 'none'", "script-src 'self'", "style-src 'self'", "connect-src 'self'"]) {
      assert.ok(policy.includes(directive), directive);
    }
    assert.deepEqual(page.errors, []);
  }));

// The audit trail's actions and outcomes, after a sign-in of the test's own.
async function trail(gw) {
  const { output } = await rpc(gw, 'login/password', { username: 'admin', password: 'quilm' });
  const answer = await rpc(gw, 'audit/list', { auth: output.auth });
  return answer.output.entries.map((e) => `${e.action} ${e.outcome}`);
}

test('a page of another site cannot sign in, not even to count failures', () =>
  withGateway(async (gw) => {
    // Another site, on another loopback address.
    const site = http.createServer((req, res) => res.end('<p>another site</p>'));
    await new Promise((resolve) => site.listen(0, '127.0.0.2', resolve));
    try {
      const page = await newPage(browser, gw);
      await page.goto(`http://127.0.0.2:${site.address().port}/`);
      const statuses = await page.evaluate(async (url) => {
        const sent = [];
        for (const password of ['quilm', ...Array(6).fill('guess')]) {
          // A form's or a no-cors fetch's text/plain body needs no permission to be sent.
          const res = await fetch(`${url}/rpc/v1/login/password`, {
            method: 'POST', mode: 'no-cors', body: JSON.stringify({ username: 'admin', password }),
          });
          sent.push(res.type);
        }
        return sent;
      }, gw.url);
      assert.deepEqual(statuses, Array(7).fill('opaque'));
    } finally {
      site.close();
    }
    // None of them signed in or failed: the operator is not slowed down, the trail holds only the
    // test's own sign-in.
    assert.deepEqual(await trail(gw), ['sign-in success']);
  }));

test('under a name a rebinding attack gives the gateway, the application cannot sign in and says why', () =>
  withGateway(async (gw) => {
    // The attacker's name resolves to the gateway, as its DNS would answer after the rebinding.
    const rebound = await chromium.launch({
      executablePath: '/usr/bin/chromium',
      args: ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run',
        '--host-resolver-rules=MAP rebound.test 127.0.0.1'],
      timeout: 30_000,
    });
    try {
      const page = await newPage(rebound, gw);
      await page.goto(`http://rebound.test:${gw.port}/ui/login`);
      await page.getByLabel('Password', { exact: true }).fill('quilm');
      await page.getByRole('button', { name: 'Sign in' }).click();
      await shows(page.getByRole('alert'), 'does not answer to the name rebound.test');
      await shows(page.getByRole('alert'), 'RELAYDASH_ALLOWED_HOSTS');
      assert.equal(await page.locator('#sign-out').isVisible(), false);
      assert.deepEqual(page.errors, []);
    } finally {
      await rebound.close();
    }
    assert.deepEqual(await trail(gw), ['sign-in success']);
  }));

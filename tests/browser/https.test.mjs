// HTTPS beside plain HTTP on the gateway's one port: a page loaded over plain HTTP from another
// machine points to the encrypted address and shows the certificate's fingerprint to compare;
// over HTTPS, or from the machine itself, nothing of the kind; Status tells the certificate.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';
import { chromium } from 'playwright-core';
import { Gateway, SX130X, newPage, rpc, shows, signIn } from './support.mjs';

// The gateway's name as another machine would use it, mapped to loopback for the browser.
const NAME = 'gateway.test';

test('over plain HTTP from afar a banner points to HTTPS, whose page works and has none', async () => {
  const gw = await Gateway.start(SX130X, { RELAYDASH_ALLOWED_HOSTS: NAME });
  const browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', `--host-resolver-rules=MAP ${NAME} 127.0.0.1`],
    timeout: 30_000,
  });
  try {
    const tls = (await rpc(gw, 'server/tls', {})).output;
    assert.equal(tls.https, true);
    assert.equal(tls.secure, false);
    const written = readFileSync(path.join(gw.dir, 'tls', 'fingerprint'), 'utf8').trim();
    assert.equal(tls.fingerprint, written);
    assert.match(written, /^([0-9A-F]{2}:){31}[0-9A-F]{2}$/);

    const page = await newPage(browser, gw, { ignoreHTTPSErrors: true });
    await page.goto(`http://${NAME}:${gw.port}/ui/login`);
    const banner = page.locator('#https-banner');
    await shows(banner, 'not encrypted');
    assert.equal(await banner.locator('code.fingerprint').textContent(), written);
    assert.equal(await banner.getByRole('link').getAttribute('href'), `https://${NAME}:${gw.port}/ui/login`);

    // The same address over HTTPS: no banner, and the operator signs in.
    await banner.getByRole('link').click();
    await page.waitForURL(`https://${NAME}:${gw.port}/ui/login`);
    await signIn(page);
    assert.equal(await page.locator('#https-banner').count(), 0);
    await page.goto(`https://${NAME}:${gw.port}/ui/status`);
    await shows(page.locator('#self-card'), written);
    await shows(page.locator('#self-card'), 'made by this gateway');
    assert.deepEqual(page.errors, []);

    // Dismissed, the banner stays away for the session.
    await page.goto(`http://${NAME}:${gw.port}/ui/login`);
    await shows(page.locator('#https-banner'), 'not encrypted');
    await page.locator('#https-banner').getByRole('button', { name: 'Dismiss' }).click();
    await page.reload();
    await page.getByLabel('Password', { exact: true }).waitFor();
    assert.equal(await page.locator('#https-banner').count(), 0);
  } finally {
    await browser.close();
    await gw.close();
  }
});

test('from the machine itself, over plain HTTP, no banner and no call for it', async () => {
  const gw = await Gateway.start(SX130X);
  const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: ['--headless', '--no-sandbox'] });
  try {
    const page = await newPage(browser, gw);
    const asked = [];
    page.on('request', (r) => r.url().endsWith('/rpc/server/tls') && asked.push(r.url()));
    await page.goto('/ui/login');
    await page.getByLabel('Password', { exact: true }).waitFor();
    assert.equal(await page.locator('#https-banner').count(), 0);
    assert.deepEqual(asked, []);
  } finally {
    await browser.close();
    await gw.close();
  }
});

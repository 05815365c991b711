// The status page, the first after signing in, and the banner about the factory password.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import {
  FakeJournal, Gateway, SX130X, browser, countRequests, gw, newPage, screenshot, shows, signIn, statisticsReport, usesBrowser,
} from './support.mjs';

const FAILED_FORWARDER = `LoadState=loaded
ActiveState=failed
SubState=failed
Result=exit-code
UnitFileState=enabled
ActiveEnterTimestamp=Tue 2026-12-08 10:11:12 UTC
StateChangeTimestamp=Tue 2026-12-08 10:15:00 UTC
NRestarts=5
MainPID=0
`;

// How often the page in view asks for the status (view-status.js).
const REFRESH_MS = 5000;

usesBrowser(SX130X);

test('a failed forwarder and a network server that does not answer are shown as such', async () => {
  gw.setState('show-packet-forwarder', FAILED_FORWARDER);
  const journal = new FakeJournal('packet-forwarder');
  for (const [received, ack] of [[12, '100.00'], [9, '100.00'], [4, '0.00']]) {
    gw.journal('packet-forwarder', journal.lines(statisticsReport(received, ack, ack), 30));
  }
  const page = await newPage(browser, gw);
  await page.goto('/ui/');
  await signIn(page);
  await page.getByRole('heading', { name: 'Gateway status' }).waitFor();
  assert.equal(new URL(page.url()).pathname, '/ui/status');

  const forwarder = page.locator('#forwarder-card');
  await shows(forwarder.locator('.badge'), 'failed');
  assert.match(await forwarder.locator('.badge').getAttribute('class'), /\bbad\b/);
  await shows(forwarder, 'Restarts5');
  const ack = page.locator('#push-ack');
  await shows(ack, '0 %');
  assert.match(await ack.getAttribute('class'), /\bbad\b/);
  await shows(ack, 'does not answer');
  assert.equal(await page.locator('#link-card svg.chart rect.bar').count(), 3);
  await shows(page.locator('#ssh-card .badge'), 'stopped');
  await shows(page.locator('#config-card'), 'AA555A0000000000');
  await shows(page.locator('#config-card'), 'SX1302/SX1303 (SX130x_conf)');
  await screenshot(page, 'status');

  // The page refreshes by itself: the forwarder is restarted and the server answers again.
  gw.setState('show-packet-forwarder', FAILED_FORWARDER.replace('ActiveState=failed', 'ActiveState=active')
    .replace('SubState=failed', 'SubState=running'));
  gw.journal('packet-forwarder', journal.lines(statisticsReport(7, '100.00'), 30));
  await shows(forwarder.locator('.badge'), 'running');
  await shows(ack, '100 %');
  assert.match(await ack.getAttribute('class'), /\bok\b/);
  assert.deepEqual(page.errors, []);
  // Its refreshes would count in the next test.
  await page.context().close();
});

test('the refresh stops while the tab is hidden and on other pages', async () => {
  const page = await newPage(browser, gw);
  // The page's timers run on a clock the test moves on, so a refresh that is due comes at once.
  await page.clock.install();
  await page.goto('/ui/status');
  await signIn(page);
  await page.locator('#forwarder-card .badge').waitFor();
  const refreshes = countRequests(page, '/gateway/status');
  // How many refreshes come while the page's clock runs on for two refresh intervals.
  const during = async () => {
    const before = await refreshes.settled();
    await page.clock.runFor(2 * REFRESH_MS);
    return (await refreshes.settled()) - before;
  };
  assert.ok((await during()) >= 1, 'a page in view refreshes');

  await page.getByRole('link', { name: 'Logs' }).click();
  await page.getByRole('heading', { name: 'Logs' }).waitFor();
  assert.equal(await during(), 0);

  await page.getByRole('navigation').getByRole('link', { name: 'Status' }).click();
  await page.locator('#forwarder-card .badge').waitFor();
  const setHidden = (hidden) => page.evaluate((h) => {
    Object.defineProperty(document, 'hidden', { value: h, configurable: true });
    document.dispatchEvent(new Event('visibilitychange'));
  }, hidden);
  await setHidden(true);
  assert.equal(await during(), 0);
  // A visible page refreshes at once.
  const refreshed = page.waitForRequest((r) => r.url().endsWith('/gateway/status'));
  await setHidden(false);
  await refreshed;
  assert.deepEqual(page.errors, []);
  await page.context().close();
});

test('the banner about the factory password shows on every page until the password is changed', async () => {
  const page = await newPage(browser, gw);
  await page.goto('/ui/config');
  await signIn(page);
  const banner = page.locator('#password-banner');
  await shows(banner, 'still uses the factory password');
  for (const view of ['Raw JSON', 'SSH', 'Logs', 'Status']) {
    await page.getByRole('navigation').getByRole('link', { name: view }).click();
    assert.equal(await banner.isVisible(), true, view);
  }
  await screenshot(page, 'status-banner', { fullPage: false });
  await banner.getByRole('link').click();
  await page.getByRole('heading', { name: 'Password' }).waitFor();
  await page.getByLabel('Current password').fill('quilm');
  await page.getByLabel('New password', { exact: true }).fill('n3w-password');
  await page.getByLabel('New password again').fill('n3w-password');
  await page.getByRole('button', { name: 'Change password' }).click();
  await shows(page.getByRole('status'), 'The password has been changed');
  await banner.waitFor({ state: 'hidden' });
  await page.getByRole('navigation').getByRole('link', { name: 'Status' }).click();
  await page.locator('#forwarder-card .badge').waitFor();
  assert.equal(await banner.isVisible(), false);
  assert.deepEqual(page.errors, []);
});

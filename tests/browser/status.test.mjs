// The status page, the first after signing in: its verdict, the link chart, the refreshes, and
// the banner about the factory password.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import {
  FakeJournal, INITIAL_PASSWORD, SX130X, browser, countRequests, gw, newPage, rpc, screenshot, shows, signIn, usesBrowser,
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

const RUNNING_FORWARDER = `LoadState=loaded
ActiveState=active
SubState=running
Result=success
UnitFileState=enabled
ActiveEnterTimestamp=Tue 2026-12-08 10:11:12 UTC
StateChangeTimestamp=Tue 2026-12-08 10:11:12 UTC
NRestarts=0
MainPID=1234
`;

// systemd between two restarts of a forwarder that crashes at once.
const CRASH_LOOPING_FORWARDER = `LoadState=loaded
ActiveState=activating
SubState=auto-restart
Result=exit-code
UnitFileState=enabled
ActiveEnterTimestamp=Tue 2026-12-08 10:11:12 UTC
StateChangeTimestamp=Tue 2026-12-08 10:11:12 UTC
NRestarts=54
MainPID=0
`;

// How often the page in view asks for the status, and how long it waits before it says it is
// waiting (view-status.js).
const REFRESH_MS = 5000;
const WAIT_MS = 1000;

// A journal whose next report comes `secondsAgo` before now: the reports are dated by the
// journal's times, and the gateway judges their age by its clock.
const journalFrom = (secondsAgo) => new FakeJournal('packet-forwarder', (Date.now() - secondsAgo * 1000) * 1000);
const newJournal = () => gw.setState('journal-packet-forwarder.jsonl', '');

usesBrowser(SX130X);

test('a failed forwarder and a network server that does not answer are shown as such', async () => {
  gw.setState('show-packet-forwarder', FAILED_FORWARDER);
  const journal = journalFrom(100);
  for (const [received, ack] of [[12, '100.00'], [9, '100.00'], [4, '0.00']]) {
    gw.journal('packet-forwarder', journal.report(received, ack, ack));
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
  // The verdict at the top says the forwarder's failure first, with the log of that moment.
  const verdict = page.locator('#verdict');
  await shows(verdict, 'The forwarder stopped at');
  assert.match(await verdict.getAttribute('class'), /\bbad\b/);
  assert.match(await verdict.getByRole('link', { name: /^Read the log from/ }).getAttribute('href'),
    /^\/ui\/logs\?unit=forwarder&since=2026-12-08T10%3A14%3A30Z$/);
  await screenshot(page, 'status');

  // The page refreshes by itself: the forwarder is restarted and the server answers again.
  gw.setState('show-packet-forwarder', FAILED_FORWARDER.replace('ActiveState=failed', 'ActiveState=active')
    .replace('SubState=failed', 'SubState=running').replace('MainPID=0', 'MainPID=1234'));
  gw.journal('packet-forwarder', journal.report(7, '100.00'));
  await shows(forwarder.locator('.badge'), 'running');
  await shows(ack, '100 %');
  assert.match(await ack.getAttribute('class'), /\bok\b/);
  await shows(verdict, 'Forwarding: 7 packets in the last report, the network server acknowledges');
  assert.deepEqual(page.errors, []);
  // Its refreshes would count in the next test.
  await page.context().close();
});

test('a source that fails marks its own cards and leaves the others as they are', async () => {
  gw.setState('show-packet-forwarder', RUNNING_FORWARDER);
  gw.setState('status-show', '3');
  gw.journal('packet-forwarder', journalFrom(20).report(6, '100.00'));
  const page = await newPage(browser, gw);
  await page.goto('/ui/status');
  await signIn(page);
  const forwarder = page.locator('#forwarder-card');
  await shows(forwarder, 'Could not read this part of the status: systemctl failed with status 3');
  assert.match(await forwarder.getAttribute('class'), /\bfailed\b/);
  await shows(page.locator('#ssh-card'), 'Failed to show unit');
  // What other sources said is shown all the same, the gateway's EUI in the header included.
  await shows(page.locator('#push-ack'), '100 %');
  await shows(page.locator('#config-card'), 'AA555A0000000000');
  await shows(page.locator('#gateway-id'), 'AA555A0000000000');
  await shows(page.locator('#verdict'), 'systemd cannot be asked whether the forwarder runs');
  // systemctl answers again: the cards are whole at the next refresh.
  gw.setState('status-show', '0');
  await shows(forwarder.locator('.badge'), 'running');
  assert.doesNotMatch(await forwarder.getAttribute('class'), /\bfailed\b/);
  assert.deepEqual(page.errors, []);
  await page.context().close();
});

test('a healthy gateway: a green verdict, its checks, and a chart whose reports open the log around them', async () => {
  gw.setState('show-packet-forwarder', RUNNING_FORWARDER);
  newJournal();
  // The newest report is dated ahead of now, so that it is still fresh however slowly this runs.
  const journal = journalFrom(40);
  gw.journal('packet-forwarder', journal.report(12, '100.00'));
  gw.journal('packet-forwarder', journal.report(9, '100.00', '0.00', {
    // keepalive_interval longer than stat_interval: no PULL_DATA in this interval.
    edit: (lines) => lines.map((l) => (l.startsWith('# PULL_DATA sent') ? '# PULL_DATA sent: 0 (0.00% acknowledged)' : l)),
  }));
  const page = await newPage(browser, gw);
  await page.goto('/ui/status');
  await signIn(page);
  const verdict = page.locator('#verdict');
  await shows(verdict, 'Forwarding: 9 packets in the last report, the network server acknowledges');
  assert.match(await verdict.getAttribute('class'), /\bok\b/);
  assert.equal(await verdict.getByRole('link').count(), 0);
  const checks = page.locator('.checks li');
  assert.deepEqual(await checks.evaluateAll((items) => items.map((i) => [i.dataset.check, i.className])),
    [['forwarder', 'check ok'], ['reports', 'check ok'], ['link', 'check ok'], ['clock', 'check ok']]);
  await shows(checks, 'PULL_DATA none sent');
  await shows(checks, 'The system clock is synchronized');
  // The clock is a check now, no longer a row of the gateway's card.
  assert.equal(await page.locator('#gateway-card dt', { hasText: 'Clock' }).count(), 0);
  // No 0 % for PULL_DATA when none was sent.
  await shows(page.locator('#link-card dd'), 'none sent');
  assert.equal(await page.locator('#link-card dd', { hasText: /^0 %$/ }).count(), 0);
  await shows(page.locator('#config-card'), 'yes: changes made here keep them');

  // The chart: PUSH_DATA and PULL_DATA told apart, a time axis, and each report a link.
  const chart = page.locator('#link-card svg.chart');
  assert.equal(await chart.locator('path.push').count(), 1);
  assert.equal(await page.locator('#link-card .legend svg line.pull').count(), 1);
  assert.ok((await page.locator('#link-card .chart-axis span').count()) >= 3);
  const reports = chart.locator('a');
  assert.equal(await reports.count(), 2);
  const newest = reports.last();
  assert.match(await newest.locator('title').textContent(), /: 9 received, 9 forwarded; PUSH_DATA acknowledged 100 %, PULL_DATA none sent\./);
  await screenshot(page, 'status-good');
  await newest.click();
  await page.waitForURL((url) => url.pathname === '/ui/logs');
  const asked = new URL(page.url()).searchParams;
  assert.equal(asked.get('unit'), 'forwarder');
  // Two intervals before the report and one after.
  assert.equal(Date.parse(asked.get('until')) - Date.parse(asked.get('since')), 90_000);
  assert.deepEqual(page.errors, []);
  await page.context().close();
});

test('a report four minutes old is no green verdict', async () => {
  gw.setState('show-packet-forwarder', RUNNING_FORWARDER);
  newJournal();
  gw.journal('packet-forwarder', journalFrom(270).report(12, '100.00'));
  const page = await newPage(browser, gw);
  await page.goto('/ui/status');
  await signIn(page);
  const verdict = page.locator('#verdict');
  await shows(verdict, 'No report from the forwarder since');
  assert.match(await verdict.getAttribute('class'), /\bwarn\b/);
  assert.match(await verdict.innerText(), /\([45] min ago\): the forwarder writes one every 30 s\./);
  await verdict.getByRole('link', { name: /^Read the log from/ }).waitFor();
  // The old report's 100 % is shown, but not in green.
  const ack = page.locator('#push-ack');
  await shows(ack, 'it tells nothing of the link now');
  assert.match(await ack.getAttribute('class'), /\bmuted\b/);
  assert.equal(await page.locator('.checks li.ok', { hasText: 'acknowledge' }).count(), 0);
  assert.deepEqual(page.errors, []);
  await page.context().close();
});

test('a crash loop right after a change: red, naming the change and linking to its restore', async () => {
  gw.setState('show-packet-forwarder', RUNNING_FORWARDER);
  newJournal();
  gw.journal('packet-forwarder', journalFrom(50).report(12, '100.00'));
  // A change through the API keeps the file as it was in the history, and the forwarder then
  // crashes at every start.
  const { output: { auth } } = await rpc(gw, 'login/password', { username: 'admin', password: INITIAL_PASSWORD });
  const patched = await rpc(gw, 'forwarder-config/patch', { auth, input: { gateway_conf: { serv_port_up: 1799 } } });
  assert.deepEqual(patched, { output: {} });
  const { output: { versions: [kept] } } = await rpc(gw, 'forwarder-config/history', { auth });
  gw.setState('show-packet-forwarder', CRASH_LOOPING_FORWARDER);

  const page = await newPage(browser, gw);
  await page.goto('/ui/status');
  await signIn(page);
  const verdict = page.locator('#verdict');
  await shows(verdict, 'The forwarder has been restarting since');
  assert.match(await verdict.getAttribute('class'), /\bbad\b/);
  assert.match(await verdict.innerText(), new RegExp(`\\(54 restarts\\) — the change at \\d\\d:\\d\\d may be the cause: restore version ${kept.version}\\.`));
  await shows(page.locator('#forwarder-card .badge'), 'restarting');
  // The report from before the loop acknowledged all, but that is no green sign now.
  const ack = page.locator('#push-ack');
  await shows(ack, 'The forwarder is not running steadily');
  assert.match(await ack.getAttribute('class'), /\bmuted\b/);
  assert.equal(await page.locator('.checks li[data-check="forwarder"]').getAttribute('class'), 'check bad');
  const restore = verdict.getByRole('link', { name: `Restore version ${kept.version}` });
  assert.equal(await restore.getAttribute('href'), `/ui/history?restore=${kept.version}`);
  assert.match(await verdict.getByRole('link', { name: /^Read the log from/ }).getAttribute('href'), /^\/ui\/logs\?unit=forwarder&since=/);
  await screenshot(page, 'status-crash-loop');
  await restore.click();
  await page.waitForURL((url) => url.pathname === '/ui/history');
  assert.deepEqual(page.errors, []);
  await page.context().close();
  // The gateway as the next tests expect it.
  gw.setState('show-packet-forwarder', RUNNING_FORWARDER);
});

test('a refresh that takes long or fails marks what is shown as older', async () => {
  const page = await newPage(browser, gw);
  await page.clock.install();
  await page.goto('/ui/status');
  await signIn(page);
  await page.locator('#verdict').waitFor();
  const freshness = page.locator('.freshness');
  assert.equal(await freshness.isVisible(), false);
  // The gateway keeps the next status request for a while.
  const held = new Promise((resolve) => page.route('**/gateway/status', (route) => resolve(route), { times: 1 }));
  await page.clock.runFor(REFRESH_MS);
  const route = await held;
  await page.clock.runFor(WAIT_MS + 100);
  await shows(freshness, 'Waiting for the gateway…');
  assert.match(await freshness.innerText(), /Showing the status as of \d\d:\d\d:\d\d\./);
  await route.continue();
  await freshness.waitFor({ state: 'hidden' });
  // It fails: the page says so, and that what it shows is from before.
  await page.route('**/gateway/status', (r) => r.fulfill({ status: 500, contentType: 'application/json',
    body: JSON.stringify({ error: { code: 10001, message: 'systemctl failed with status 1: Failed to connect to bus' } }) }), { times: 1 });
  await page.clock.runFor(REFRESH_MS);
  await shows(freshness, 'The last refresh failed.');
  await shows(page.getByRole('alert'), 'Failed to connect to bus');
  // The next refresh that works makes it current again.
  await page.clock.runFor(REFRESH_MS);
  await freshness.waitFor({ state: 'hidden' });
  assert.deepEqual(page.errors, []);
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
  await page.getByRole('heading', { name: 'Account', level: 1 }).waitFor();
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

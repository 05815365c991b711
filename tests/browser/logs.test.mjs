// The logs page: the last lines of a unit's journal, following new ones, filtering, severity
// colours and the download; time ranges, phrases searched in the whole range and marked, older
// lines on request, and addresses that name a moment.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { test } from 'node:test';
import {
  FakeJournal, SX1301, browser, countRequests, gw, newPage, screenshot, shows, signIn, statisticsReport, usesBrowser,
} from './support.mjs';

// How often the page asks for new lines while it follows (view-logs.js).
const FOLLOW_MS = 2000;

usesBrowser(SX1301);

test('the log follows new lines, the filter narrows them, and pausing keeps them', async () => {
  const journal = new FakeJournal('packet-forwarder');
  gw.journal('packet-forwarder', [
    journal.entry('*** Packet Forwarder ***', { priority: 6 }),
    journal.entry('INFO: concentrator started, packet can now be received', { priority: 6 }),
    journal.entry('WARNING: [up] ignored out-of sync ACK packet', { priority: 4 }),
    journal.entry('ERROR: [down] failed to start concentrator', { priority: 3 }),
  ]);
  const ssh = new FakeJournal('ssh');
  gw.journal('ssh', [ssh.entry('Server listening on 0.0.0.0 port 22.')]);

  const page = await newPage(browser, gw);
  // The page's timers run on a clock the test can move on: a poll that is due comes at once.
  await page.clock.install();
  await page.goto('/ui/logs');
  await signIn(page);
  const polls = countRequests(page, '/gateway/logs');
  const log = page.getByRole('log');
  await shows(log, 'concentrator started');
  assert.equal(await log.locator('.line').count(), 4);
  assert.match(await log.locator('.line', { hasText: 'failed to start' }).getAttribute('class'), /\bbad\b/);
  assert.match(await log.locator('.line', { hasText: 'out-of sync' }).getAttribute('class'), /\bwarn\b/);

  await page.getByRole('button', { name: 'Follow' }).click();
  gw.journal('packet-forwarder', [journal.entry('INFO: [down] PULL_ACK received in 41 ms'), journal.entry('INFO: [up] PUSH_ACK received in 39 ms')]);
  await shows(log, 'PUSH_ACK received');
  assert.equal(await log.locator('.line').count(), 6);

  // Typing narrows what is shown at once.
  await page.getByLabel('Phrase').fill('_ACK');
  await page.waitForFunction(() => document.querySelectorAll('[role=log] .line:not([hidden])').length === 2);
  await shows(page.locator('p.hint'), '2 of 6 lines hold the phrase');
  assert.deepEqual(await log.locator('mark').allInnerTexts(), ['_ACK', '_ACK']);
  await screenshot(page, 'logs');

  // Downloaded: the lines that match, as text.
  const downloading = page.waitForEvent('download');
  await page.getByRole('button', { name: 'Download' }).click();
  const file = readFileSync(await (await downloading).path(), 'utf8');
  assert.match(file, /info {4}INFO: \[down\] PULL_ACK received in 41 ms\n.*PUSH_ACK received in 39 ms\n$/);
  assert.equal(file.split('\n').length, 3);

  await page.getByLabel('Phrase').fill('');
  await page.getByRole('button', { name: 'Pause' }).click();
  gw.journal('packet-forwarder', [journal.entry('INFO: written while paused')]);
  const before = await polls.settled();
  await page.clock.runFor(2 * FOLLOW_MS);
  assert.equal(await polls.settled(), before, 'no poll while paused');
  assert.equal(await log.locator('.line').count(), 6);
  await page.getByRole('button', { name: 'Follow' }).click();
  await shows(log, 'written while paused');

  await page.getByLabel('Service').selectOption('ssh');
  await shows(log, 'Server listening');
  assert.equal(await log.locator('.line').count(), 1);
  assert.deepEqual(page.errors, []);
  await page.context().close();
});

// The texts and times of the lines shown, oldest first.
const shownLines = (page) => page.locator('[role=log] .line:not([hidden])').evaluateAll((lines) =>
  lines.map((l) => ({ time: l.querySelector('time').getAttribute('datetime'), message: l.querySelector('.msg').textContent })));
const lineCount = (page, n) => page.waitForFunction((n) => document.querySelectorAll('[role=log] .line:not([hidden])').length === n, n);

test('ranges, severities and phrases searched in the whole range, marked, with older lines on request', async () => {
  // Forty reports 30 s apart until five minutes ago, the tenth while the network server did not
  // answer, and an error after the last.
  gw.setState('journal-packet-forwarder.jsonl', '');
  const journal = new FakeJournal('packet-forwarder', Date.now() * 1000 - 25 * 60e6 - 10e6);
  const all = [];
  const firstLines = [];
  for (let k = 1; k <= 40; k++) {
    const lines = journal.lines(statisticsReport(k, k === 10 ? '0.00' : '100.00'), 30);
    firstLines.push(JSON.parse(lines[0]));
    all.push(...lines.map((l) => JSON.parse(l).MESSAGE));
    gw.journal('packet-forwarder', lines);
  }
  gw.journal('packet-forwarder', [journal.entry('ERROR: [up] failed to send PUSH_DATA', { priority: 3, seconds: 1 })]);
  all.push('ERROR: [up] failed to send PUSH_DATA');
  const iso = (entry, ms = 0) => new Date(Number(entry.__REALTIME_TIMESTAMP) / 1000 + ms).toISOString();

  const page = await newPage(browser, gw);
  await page.goto('/ui/logs');
  await signIn(page);
  const log = page.getByRole('log');
  await lineCount(page, 200);

  // Older lines join those shown, none twice and none left out.
  await page.getByLabel('Last lines').selectOption('100');
  await lineCount(page, 100);
  await page.getByRole('button', { name: 'Load older' }).click();
  await lineCount(page, 200);
  assert.deepEqual((await shownLines(page)).map((l) => l.message), all.slice(-200));

  // A phrase is looked for in the whole range once asked for, as a whole, and marked.
  const phrase = page.getByLabel('Phrase');
  await phrase.fill('acknowledged: 0.00');
  await phrase.press('Enter');
  await lineCount(page, 1);
  assert.deepEqual((await shownLines(page)).map((l) => l.message), ['# PUSH_DATA acknowledged: 0.00%']);
  assert.deepEqual(await log.locator('mark').allInnerTexts(), ['acknowledged: 0.00']);
  await shows(page.locator('p.hint'), '1 line.');
  // Capitals ask for exactly that case.
  await phrase.fill('ERROR');
  await phrase.press('Enter');
  await shows(log, 'failed to send');
  await lineCount(page, 1);
  await phrase.fill('error');
  await phrase.press('Enter');
  await lineCount(page, 41);
  await screenshot(page, 'logs-phrase');

  // Errors and worse: the one error.
  await phrase.fill('');
  await phrase.press('Enter');
  await page.getByLabel('Severity').selectOption({ label: 'Errors and worse' });
  await lineCount(page, 1);
  await shows(log, 'ERROR: [up] failed to send PUSH_DATA');
  await page.getByLabel('Severity').selectOption({ label: 'All' });

  // The last 15 minutes: the first reports are not in it, the last are.
  await page.getByLabel('Last lines').selectOption('1000');
  await lineCount(page, all.length);
  const asked = Date.now();
  await page.getByLabel('Time').selectOption({ label: 'Last 15 minutes' });
  await page.waitForFunction((n) => document.querySelectorAll('[role=log] .line').length < n, all.length);
  const recent = await shownLines(page);
  assert.ok(recent.length > 16, `${recent.length} lines`);
  assert.ok(recent.every((l) => Date.parse(l.time) >= asked - 15 * 60_000 - 1000), recent[0].time);
  assert.equal(recent.at(-1).message, 'ERROR: [up] failed to send PUSH_DATA');

  // An address that names a moment: the tenth to the twelfth report, their acknowledgements.
  const since = iso(firstLines[9]);
  const until = iso(firstLines[11], 20);
  await page.evaluate((url) => {
    history.pushState(null, '', url);
    dispatchEvent(new PopStateEvent('popstate'));
  }, `/ui/logs?unit=forwarder&since=${since}&until=${until}&match=acknowledged`);
  await lineCount(page, 6);
  assert.deepEqual((await shownLines(page)).map((l) => l.message), [
    '# PUSH_DATA acknowledged: 0.00%', '# PULL_DATA sent: 3 (100.00% acknowledged)',
    '# PUSH_DATA acknowledged: 100.00%', '# PULL_DATA sent: 3 (100.00% acknowledged)',
    '# PUSH_DATA acknowledged: 100.00%', '# PULL_DATA sent: 3 (100.00% acknowledged)',
  ]);
  assert.equal(await log.locator('mark').count(), 6);
  assert.equal(await page.getByLabel('Time').inputValue(), 'from');
  assert.equal(await page.getByLabel('From').inputValue(), await page.evaluate((t) => {
    const d = new Date(t);
    const p = (n) => String(n).padStart(2, '0');
    return `${d.getFullYear()}-${p(d.getMonth() + 1)}-${p(d.getDate())}T${p(d.getHours())}:${p(d.getMinutes())}:${p(d.getSeconds())}`;
  }, since));
  assert.equal(await phrase.inputValue(), 'acknowledged');

  // Following keeps to the phrase.
  await page.getByLabel('Time').selectOption({ label: 'Newest lines' });
  await lineCount(page, 80);
  assert.equal(await page.getByRole('button', { name: 'Load older' }).isVisible(), false);
  await page.getByRole('button', { name: 'Follow' }).click();
  gw.journal('packet-forwarder', journal.lines(statisticsReport(41, '50.00'), 1));
  await lineCount(page, 82);
  assert.deepEqual((await shownLines(page)).slice(-2).map((l) => l.message),
    ['# PUSH_DATA acknowledged: 50.00%', '# PULL_DATA sent: 3 (100.00% acknowledged)']);
  await page.getByRole('button', { name: 'Pause' }).click();
  assert.deepEqual(page.errors, []);
  await page.context().close();
});

test('a journal that cannot be read says why', async () => {
  gw.setState('status-journalctl', '1');
  const page = await newPage(browser, gw);
  await page.goto('/ui/logs');
  await signIn(page);
  await shows(page.getByRole('alert'), 'journalctl failed with status 1: Failed to open journal');
  assert.deepEqual(page.errors, []);
  gw.setState('status-journalctl', '0');
  await page.context().close();
});

// The logs page: the last lines of a unit's journal, following new ones, filtering, severity
// colours and the download.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { test } from 'node:test';
import { FakeJournal, SX1301, browser, countRequests, gw, newPage, screenshot, shows, signIn, usesBrowser } from './support.mjs';

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

  await page.getByLabel('Filter').fill('_ACK');
  await page.waitForFunction(() => document.querySelectorAll('[role=log] .line:not([hidden])').length === 2);
  await shows(page.locator('p.hint'), '2 of 6 lines match the filter.');
  await screenshot(page, 'logs');

  // Downloaded: the lines that match, as text.
  const downloading = page.waitForEvent('download');
  await page.getByRole('button', { name: 'Download' }).click();
  const file = readFileSync(await (await downloading).path(), 'utf8');
  assert.match(file, /info {4}INFO: \[down\] PULL_ACK received in 41 ms\n.*PUSH_ACK received in 39 ms\n$/);
  assert.equal(file.split('\n').length, 3);

  await page.getByLabel('Filter').fill('');
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

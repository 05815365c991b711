// The audit trail in the application: the last ten actions on the Status page, all of them on
// the Activity page, and the gateway's texts shown as text.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { SX1301, browser, gw, newPage, rpc, screenshot, shows, signIn, usesBrowser } from './support.mjs';

usesBrowser(SX1301);

test('the Status page shows the last ten actions and Activity all of them, a page at a time', async () => {
  for (let i = 0; i < 55; i++) assert.ok((await rpc(gw, 'login/password', { username: 'admin', password: 'quilm' })).output);
  // A user name is whatever a client sends: it is shown as text, never as markup.
  const markup = '<img src=x onerror="window.injected=1">';
  await rpc(gw, 'login/password', { username: markup, password: 'x' });

  const page = await newPage(browser, gw);
  await page.goto('/ui/ssh');
  await signIn(page);
  await page.getByRole('button', { name: 'Enable SSH…' }).click();
  await page.getByRole('dialog').getByRole('button', { name: 'Enable SSH' }).click();
  await shows(page.getByRole('status'), 'SSH access is enabled');

  await page.getByRole('link', { name: 'Status' }).click();
  const recent = page.locator('#activity-card');
  await shows(recent, 'Enable SSH');
  const rows = recent.locator('tbody tr');
  assert.equal(await rows.count(), 10);
  assert.deepEqual(await rows.nth(0).locator('td').allTextContents(),
    [await rows.nth(0).locator('time').textContent(), 'Enable SSH', 'done', 'admin', '127.0.0.1']);
  assert.deepEqual((await rows.nth(2).locator('td').allTextContents()).slice(1), ['Sign in', 'failed', markup, '127.0.0.1']);
  assert.equal(await recent.locator('img').count(), 0);
  await screenshot(page, 'status-activity');

  await recent.getByRole('link', { name: 'All activity' }).click();
  await page.getByRole('heading', { name: 'Activity' }).waitFor();
  const view = page.locator('main > section:not([hidden])');
  const all = view.locator('tbody tr');
  await shows(view.locator('table'), 'Enable SSH');
  assert.equal(await all.count(), 50);
  await page.getByRole('button', { name: 'Show older' }).click();
  await page.getByRole('button', { name: 'Show older' }).waitFor({ state: 'hidden' });
  // 55 sign-ins by the script, the refused one, the browser's and SSH.
  assert.equal(await all.count(), 58);
  await screenshot(page, 'activity');
  assert.equal(await page.evaluate(() => window.injected), undefined);
  assert.deepEqual(page.errors, []);
});

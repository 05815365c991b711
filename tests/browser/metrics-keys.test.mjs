// The metrics keys on the Password page: a key made by name and shown once, listed without its
// text, refused by name while one of that name is in use, revoked after a question; on a phone too.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { SX1301, browser, gw, newPage, rpc, screenshot, shows, signIn, usesBrowser, view } from './support.mjs';

usesBrowser(SX1301);

// Whether any field of the page still holds a key's text.
const holdsAKey = (page) => page.evaluate(() => [...document.querySelectorAll('input, textarea')].some((i) => i.value.startsWith('rdm_')));

test('a key is shown once, listed, refused a second time by name, and revoked', async () => {
  const page = await newPage(browser, gw, { permissions: ['clipboard-read', 'clipboard-write'] });
  await page.goto('/ui/password');
  await signIn(page);
  const card = view(page).locator('#metrics-keys');
  await shows(card, 'No keys yet');

  await card.getByLabel('Name of a new key').fill('  prometheus ');
  await card.getByRole('button', { name: 'Create key' }).click();
  const shown = card.getByRole('region', { name: 'New key' });
  await shows(shown, 'it will not be shown again');
  const key = await shown.getByLabel('The new key').inputValue();
  assert.match(key, /^rdm_[A-Za-z0-9_-]{43}$/);
  await shown.getByRole('button', { name: 'Copy' }).click();
  await shows(shown, 'Copied.');
  assert.equal(await page.evaluate(() => navigator.clipboard.readText()), key);
  const rows = card.locator('tbody tr');
  await shows(rows, 'prometheus');
  assert.deepEqual(await rows.first().locator('td').allInnerTexts(), [
    'prometheus', await rows.first().locator('td').nth(1).innerText(), 'never', 'in use', 'Revoke…',
  ]);
  await screenshot(page, 'metrics-key-made');

  await shown.getByRole('button', { name: 'Done' }).click();
  assert.ok(await shown.isHidden());
  assert.equal(await holdsAKey(page), false);

  // The same name while that key is in use: said at the field.
  await card.getByLabel('Name of a new key').fill('prometheus');
  await card.getByRole('button', { name: 'Create key' }).click();
  await shows(card, 'A key in use has this name already');
  assert.ok(await shown.isHidden());

  // After a reload the key is listed and its text is nowhere.
  await page.reload();
  await shows(rows, 'prometheus');
  assert.equal(await holdsAKey(page), false);
  assert.ok(!(await page.content()).includes(key.slice(4)));

  // Revoking asks first; cancelled, nothing changes.
  await rows.first().getByRole('button', { name: 'Revoke…' }).click();
  const dialog = page.getByRole('dialog', { name: 'Revoke this key?' });
  await shows(dialog, 'prometheus');
  await dialog.getByRole('button', { name: 'Cancel' }).click();
  await shows(rows.first(), 'in use');
  await rows.first().getByRole('button', { name: 'Revoke…' }).click();
  await dialog.getByRole('button', { name: 'Revoke key' }).click();
  await shows(card, 'The key "prometheus" is revoked.');
  await shows(rows.first(), 'revoked');
  assert.equal(await rows.first().getByRole('button').count(), 0);

  // The gateway's own account of it: revoked, and both changes in the trail by name.
  const auth = (await rpc(gw, 'login/password', { username: 'admin', password: 'quilm' })).output.auth;
  const { keys } = (await rpc(gw, 'metrics-keys/list', { auth })).output;
  assert.deepEqual(keys.map((k) => [k.name, k.revokedAt !== null]), [['prometheus', true]]);
  await page.goto('/ui/activity');
  await shows(view(page), 'Revoke a metrics key "prometheus"');
  await shows(view(page), 'Create a metrics key "prometheus"');
  assert.deepEqual(page.errors, []);
});

test('on a 390 px phone the keys fit the screen', async () => {
  const page = await newPage(browser, gw, { viewport: { width: 390, height: 844 }, isMobile: true, hasTouch: true });
  await page.goto('/ui/account');
  await signIn(page);
  const card = view(page).locator('#metrics-keys');
  await card.getByLabel('Name of a new key').fill('grafana agent on the long name side');
  await card.getByRole('button', { name: 'Create key' }).click();
  await shows(card.getByRole('region', { name: 'New key' }), 'it will not be shown again');
  await shows(card.locator('tbody tr'), 'grafana agent');
  await card.scrollIntoViewIfNeeded();
  await screenshot(page, 'metrics-keys-phone');
  assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= 390), 'the page scrolls sideways');
  const box = await card.getByLabel('The new key').boundingBox();
  assert.ok(box.x >= 0 && box.x + box.width <= 390, JSON.stringify(box));
  assert.deepEqual(page.errors, []);
});

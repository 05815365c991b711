// SSH access and the password of the account "admin".
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { Gateway, SX130X, browser, gw, newPage, screenshot, shows, signIn, usesBrowser } from './support.mjs';

usesBrowser(SX130X);

test('SSH is enabled and disabled only after a confirmation', async () => {
  const page = await newPage(browser, gw);
  await page.goto('/ui/ssh');
  await signIn(page);
  await page.getByRole('heading', { name: 'SSH access' }).waitFor();
  await shows(page.locator('header'), 'AA555A0000000000');

  const dialog = page.getByRole('dialog');
  await page.getByRole('button', { name: 'Enable SSH…' }).click();
  await dialog.getByRole('button', { name: 'Cancel' }).click();
  await page.getByRole('button', { name: 'Enable SSH…' }).click();
  await page.keyboard.press('Escape');
  await dialog.waitFor({ state: 'hidden' });
  assert.deepEqual(gw.commands(), []);

  await page.getByRole('button', { name: 'Enable SSH…' }).click();
  await shows(dialog, 'Enable SSH access?');
  await screenshot(page, 'ssh-confirm');
  await dialog.getByRole('button', { name: 'Enable SSH' }).click();
  await shows(page.getByRole('status'), 'SSH access is enabled');
  assert.deepEqual(gw.commands(), ['systemctl start ssh', 'systemctl enable ssh']);
  await screenshot(page, 'ssh');

  await page.getByRole('button', { name: 'Disable SSH…' }).click();
  await dialog.getByRole('button', { name: 'Disable SSH' }).click();
  await shows(page.getByRole('status'), 'SSH access is disabled');
  assert.deepEqual(gw.commands().slice(2), ['systemctl stop ssh', 'systemctl disable ssh']);
  assert.deepEqual(page.errors, []);
});

test('the password is checked, changed, and the new one signs in', async () => {
  const page = await newPage(browser, gw);
  await page.goto('/ui/account');
  await signIn(page);
  const current = page.getByLabel('Current password');
  const fresh = page.getByLabel('New password', { exact: true });
  const again = page.getByLabel('New password again');
  const change = page.getByRole('button', { name: 'Change password' });

  await current.fill('quilm');
  await change.click();
  await shows(page.locator('.field-error'), 'The new password may not be empty.');

  await fresh.fill('s3cret-relay');
  await again.fill('s3cret-relai');
  await change.click();
  await shows(page.locator('.field-error'), 'The two new passwords do not match.');
  assert.equal(await again.getAttribute('aria-invalid'), 'true');

  await current.fill('not-it');
  await again.fill('s3cret-relay');
  await change.click();
  await shows(page.locator('.field-error'), 'The current password is wrong.');
  assert.equal(await current.getAttribute('aria-invalid'), 'true');
  await screenshot(page, 'password');

  await current.fill('quilm');
  await change.click();
  await shows(page.getByRole('status'), 'The password has been changed');
  assert.equal(await fresh.inputValue(), '');

  await page.getByRole('button', { name: 'Sign out' }).click();
  await page.getByLabel('Password', { exact: true }).fill('quilm');
  await page.getByRole('button', { name: 'Sign in' }).click();
  await shows(page.getByRole('alert'), 'Wrong user name or password.');
  await signIn(page, 's3cret-relay');
  await page.getByRole('heading', { name: 'Gateway status' }).waitFor();
  assert.deepEqual(page.errors, []);
});

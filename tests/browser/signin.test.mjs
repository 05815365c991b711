// Signing in and out, deep links, and a server restart that invalidates the sign-in.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { SX1301, applyReviewed, browser, gw, newPage, screenshot, shows, signIn, usesBrowser } from './support.mjs';

usesBrowser(SX1301);

test('a deep link asks for the sign-in, shows the server\'s refusals, then lands on the view', async () => {
  const page = await newPage(browser, gw);
  await page.goto('/ui/ssh');
  await page.getByRole('heading', { name: 'Sign in' }).waitFor();
  assert.equal(new URL(page.url()).pathname, '/ui/login');
  assert.equal(await page.getByLabel('User name').inputValue(), 'admin');
  await screenshot(page, 'signin');

  // A wrong password and an unknown user read the same: the page does not tell which accounts exist.
  const password = page.getByLabel('Password', { exact: true });
  const refusals = [];
  for (const [user, typed] of [['admin', 'wrong'], ['root', 'quilm']]) {
    await page.getByLabel('User name').fill(user);
    await password.fill(typed);
    const answered = page.waitForResponse('**/rpc/v1/login/password');
    await page.getByRole('button', { name: 'Sign in' }).click();
    await answered;
    await page.getByRole('alert').waitFor();
    refusals.push(await page.getByRole('alert').innerText());
  }
  assert.deepEqual(refusals, ['Wrong user name or password.', 'Wrong user name or password.']);

  await page.getByLabel('User name').fill('admin');
  await signIn(page);
  await page.getByRole('heading', { name: 'SSH access' }).waitFor();
  assert.equal(new URL(page.url()).pathname, '/ui/ssh');
  await shows(page.locator('header'), 'AA555A0000000000');
  assert.deepEqual(page.errors, []);
});

test('the application loads at any view path and moves between views without reloading', async () => {
  const page = await newPage(browser, gw);
  await page.goto('/ui/config');
  await signIn(page);
  await page.getByLabel('Network server address').waitFor();
  // Views below /ui are served the same page, also with stray slashes.
  await page.goto('/ui//raw/');
  await page.getByRole('heading', { name: 'Raw configuration' }).waitFor();
  assert.equal(new URL(page.url()).pathname, '/ui/raw');
  await page.waitForFunction(() => document.querySelector('textarea')?.value.includes('"gateway_ID": "AA555A0000000000"'));

  await page.evaluate(() => (window.marker = 'kept'));
  await page.getByRole('link', { name: 'Password' }).click();
  await page.getByRole('heading', { name: 'Password' }).waitFor();
  await page.goBack();
  await page.getByRole('heading', { name: 'Raw configuration' }).waitFor();
  assert.equal(await page.evaluate(() => window.marker), 'kept');

  await page.goto('/ui/nowhere');
  await page.getByRole('heading', { name: 'Not found' }).waitFor();
});

test('signing out forgets the sign-in of the tab', async () => {
  const page = await newPage(browser, gw);
  await page.goto('/ui/');
  await signIn(page);
  assert.equal(new URL(page.url()).pathname, '/ui/status');
  await page.getByRole('button', { name: 'Sign out' }).click();
  await shows(page.getByRole('status'), 'You have signed out.');
  await page.goto('/ui/config');
  await page.getByRole('heading', { name: 'Sign in' }).waitFor();
});

test('a server restart sends the operator to sign in and back to the pending change', async () => {
  const page = await newPage(browser, gw);
  await page.goto('/ui/raw');
  await signIn(page);
  const text = page.getByLabel('Configuration file');
  await page.waitForFunction(() => document.querySelector('textarea')?.value.includes('keepalive_interval'));
  await text.fill((await text.inputValue()).replace('"keepalive_interval": 10', '"keepalive_interval": 15'));
  await page.getByRole('button', { name: 'Review changes' }).click();
  await page.getByRole('heading', { name: 'Review changes' }).waitFor();

  await gw.restart();
  await page.getByRole('button', { name: 'Apply', exact: true }).click();
  await shows(page.locator('.notice'), 'Your session has ended');
  await screenshot(page, 'signin-after-restart');
  assert.deepEqual(gw.commands(), []);

  await signIn(page);
  assert.equal(new URL(page.url()).pathname, '/ui/raw');
  assert.equal(await applyReviewed(page), 'Change applied');
  assert.equal(gw.config().gateway_conf.keepalive_interval, 15);
  assert.deepEqual(page.errors, []);
});

// Signing in and out, deep links, a server restart that invalidates the sign-in, and edits not yet
// applied over a sign-out.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { SX1301, applyReviewed, browser, gw, newPage, screenshot, shows, signIn, usesBrowser, view } from './support.mjs';

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
  await page.getByRole('link', { name: 'Account' }).click();
  await page.getByRole('heading', { name: 'Account', level: 1 }).waitFor();
  await page.goBack();
  await page.getByRole('heading', { name: 'Raw configuration' }).waitFor();
  assert.equal(await page.evaluate(() => window.marker), 'kept');
  // The page's old address leads to it.
  await page.goto('/ui/password');
  await page.getByRole('heading', { name: 'Account', level: 1 }).waitFor();
  assert.equal(new URL(page.url()).pathname, '/ui/account');

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

test('the sign-in page shows no navigation, and the keyboard starts on its form', async () => {
  const page = await newPage(browser, gw);
  await page.goto('/ui/config');
  await page.getByRole('heading', { name: 'Sign in' }).waitFor();
  assert.equal(await page.getByRole('navigation', { name: 'Views' }).isVisible(), false);
  assert.equal(await page.evaluate(() => document.activeElement.id), await page.getByLabel('Password', { exact: true }).getAttribute('id'));
  // Round the whole page by Tab: nothing of the navigation takes the focus.
  const seen = [];
  for (let i = 0; i < 20; i++) {
    await page.keyboard.press('Tab');
    seen.push(await page.evaluate(() => `${document.activeElement.closest('#nav') ? 'NAV ' : ''}${document.activeElement.tagName} ` +
      `${document.activeElement.textContent.trim() || document.activeElement.id}`));
  }
  assert.ok(seen.some((s) => s === 'BUTTON Sign in'), seen.join(', '));
  assert.ok(seen.every((s) => !s.startsWith('NAV')), seen.join(', '));
});

test('signing in asks the gateway for its status once for the banner and the status page', async () => {
  const page = await newPage(browser, gw);
  const asked = [];
  page.on('request', (r) => r.url().endsWith('/rpc/gateway/status') && asked.push(r.url()));
  await page.goto('/ui/status');
  await signIn(page);
  // The status page shows what it was answered; its next look is seconds away.
  await shows(view(page), 'Updated');
  assert.equal(asked.length, 1);
  assert.deepEqual(page.errors, []);
});

test('on a phone the navigation scrolls to the current page', async () => {
  const page = await newPage(browser, gw, { viewport: { width: 390, height: 844 }, isMobile: true, hasTouch: true });
  await page.goto('/ui/account');
  await signIn(page);
  await page.getByRole('heading', { name: 'Account' }).waitFor();
  const nav = page.getByRole('navigation', { name: 'Views' });
  const [box, link] = await Promise.all([nav.boundingBox(), nav.getByRole('link', { name: 'Account' }).boundingBox()]);
  assert.ok(link.x >= box.x && link.x + link.width <= box.x + box.width, `${JSON.stringify(link)} in ${JSON.stringify(box)}`);
});

test('signing out with edits not applied asks first; after the sign-out for want of activity they come back', async () => {
  const page = await newPage(browser, gw);
  await page.clock.install();
  await page.goto('/ui/config');
  await signIn(page);
  const keepalive = page.getByLabel('Keep-alive interval (s)');
  await keepalive.fill('21');
  const question = page.getByRole('dialog', { name: 'Sign out and lose your edits?' });
  await page.getByRole('button', { name: 'Sign out' }).click();
  await shows(question, 'Your edits to the forwarder configuration are not applied');
  await question.getByRole('button', { name: 'Stay signed in' }).click();
  await question.waitFor({ state: 'detached' });
  assert.equal(await keepalive.inputValue(), '21');

  // Half an hour without a key press: signed out, the edits kept for the next sign-in.
  await page.clock.fastForward('31:00');
  await shows(page.locator('.notice'), 'without activity');
  await signIn(page);
  assert.equal(new URL(page.url()).pathname, '/ui/config');
  await shows(view(page).locator('.notice'), 'Your edits from before you were signed out are back');
  assert.equal(await keepalive.inputValue(), '21');

  // Signed out by hand, they are gone.
  await page.getByRole('button', { name: 'Sign out' }).click();
  await question.getByRole('button', { name: 'Sign out' }).click();
  await shows(page.getByRole('status'), 'You have signed out.');
  await page.goto('/ui/config');
  await signIn(page);
  await page.locator('.sections input').first().waitFor();
  assert.equal(await keepalive.inputValue(), String(gw.config().gateway_conf.keepalive_interval));
  assert.deepEqual(page.errors, []);
});

test('what an address asks of its view survives the sign-in it leads to', async () => {
  const page = await newPage(browser, gw);
  await page.goto('/ui/history?compare=1,current');
  await page.getByRole('heading', { name: 'Sign in' }).waitFor();
  await signIn(page);
  await page.getByRole('heading', { name: 'Version 1 compared with the current file' }).waitFor();
  assert.equal(new URL(page.url()).pathname + new URL(page.url()).search, '/ui/history?compare=1,current');
  assert.deepEqual(page.errors, []);
});

// What the application does against the usual tricks on a shared network: the factory password
// replaced first, idle sign-out, a warning while sign-in is slowed, and no running in a frame.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { Gateway, SX130X, browser, newPage, rpc, screenshot, shows, signIn, usesBrowser } from './support.mjs';

usesBrowser();

// Each test gets a gateway of its own: they change its password and its count of failures.
async function withGateway(run) {
  const gw = await Gateway.start(SX130X);
  try {
    await run(gw);
  } finally {
    await gw.close();
  }
}

test('with the factory password, a page asking for one\'s own comes first and refuses weak ones', () =>
  withGateway(async (gw) => {
    const page = await newPage(browser, gw);
    await page.goto('/ui/logs');
    await page.getByLabel('Password', { exact: true }).fill('quilm');
    await page.getByRole('button', { name: 'Sign in' }).click();
    await page.getByRole('heading', { name: 'Set your own password' }).waitFor();
    assert.equal(new URL(page.url()).pathname, '/ui/new-password');
    assert.equal(await page.locator('#nav').isVisible(), false);
    await screenshot(page, 'new-password');

    const own = page.getByLabel('Your own password', { exact: true });
    const again = page.getByLabel('Your own password again');
    const set = page.getByRole('button', { name: 'Set password' });
    for (const [password, second, message] of [
      ['', '', 'may not be empty'],
      ['relay7', 'relay7', 'at least 8 characters'],
      ['quilm', 'quilm', 'factory password'],
      ['relay-s3cret', 'relay-s3cre7', 'do not match'],
    ]) {
      await own.fill(password);
      await again.fill(second);
      await set.click();
      await shows(page.locator('.field-error'), message);
    }
    // Nothing was sent: the password is still the factory one.
    assert.ok((await rpc(gw, 'login/password', { username: 'admin', password: 'quilm' })).output);

    // Put off: on to where the operator was going, with the banner; not asked again in this sign-in.
    await page.getByRole('button', { name: 'Not now' }).click();
    await page.getByRole('heading', { name: 'Logs' }).waitFor();
    await page.locator('#password-banner').waitFor();
    await page.getByRole('link', { name: 'Status' }).click();
    await page.getByRole('heading', { name: 'Gateway status' }).waitFor();
    await page.goto('/ui/ssh');
    await page.getByRole('heading', { name: 'SSH access' }).waitFor();

    // A new sign-in asks again; a good password is set and the first page follows.
    await page.getByRole('button', { name: 'Sign out' }).click();
    await page.getByLabel('Password', { exact: true }).fill('quilm');
    await page.getByRole('button', { name: 'Sign in' }).click();
    await own.fill('relay-s3cret');
    await again.fill('relay-s3cret');
    await set.click();
    await page.getByRole('heading', { name: 'Gateway status' }).waitFor();
    assert.equal(await page.locator('#password-banner').isVisible(), false);
    assert.equal(
      (await rpc(gw, 'login/password', { username: 'admin', password: 'quilm' })).error?.message, 'Invalid password');
    await page.getByRole('button', { name: 'Sign out' }).click();
    await page.getByLabel('Password', { exact: true }).fill('relay-s3cret');
    await page.getByRole('button', { name: 'Sign in' }).click();
    await page.getByRole('heading', { name: 'Gateway status' }).waitFor();
    assert.deepEqual(page.errors, []);
  }));

test('after 30 minutes without activity the tab signs out and says why', () =>
  withGateway(async (gw) => {
    const page = await newPage(browser, gw);
    await page.clock.install();
    await page.goto('/ui/config');
    await signIn(page);
    await page.getByLabel('Network server address').waitFor();

    // Typing keeps the sign-in.
    await page.clock.fastForward('20:00');
    await page.keyboard.press('Tab');
    await page.clock.fastForward('20:00');
    assert.equal(await page.locator('#sign-out').isVisible(), true);

    await page.clock.fastForward('30:00');
    await shows(page.locator('.notice'), 'signed out after 30 minutes without activity');
    assert.equal(new URL(page.url()).pathname, '/ui/login');
    assert.equal(await page.evaluate(() => sessionStorage.getItem('relaydash.auth')), null);
    await screenshot(page, 'signed-out-idle');
    await signIn(page);
    await page.getByLabel('Network server address').waitFor();
    assert.equal(new URL(page.url()).pathname, '/ui/config');
    assert.deepEqual(page.errors, []);
  }));

test('the sign-in page says that sign-in is slowed after repeated failures', () =>
  withGateway(async (gw) => {
    const page = await newPage(browser, gw);
    // The page's clock stands still while it counts: an answer that is late on a busy machine
    // does not look held to it, and the count of failures alone speaks.
    await page.clock.install();
    await page.goto('/ui/');
    await page.clock.pauseAt(Date.now() + 1000);
    const password = page.getByLabel('Password', { exact: true });
    const slowed = page.locator('#sign-in-slowed');
    const attempt = async (text) => {
      await password.fill(text);
      const answered = page.waitForResponse('**/rpc/v1/login/password');
      const start = Date.now();
      await page.getByRole('button', { name: 'Sign in' }).click();
      await answered;
      return Date.now() - start;
    };
    for (let i = 1; i <= 4; i++) {
      await attempt(`guess-${i}`);
      assert.equal(await slowed.isVisible(), false, `after ${i} failures`);
    }
    await attempt('guess-5');
    await shows(slowed, 'Sign-in is slowed down after repeated failures');
    await screenshot(page, 'signin-slowed');
    assert.ok((await attempt('guess-6')) >= 900);
    await shows(page.getByRole('alert'), 'Wrong user name or password.');
    await page.clock.resume();

    // Another tab has counted nothing, but its first answer comes as late as a held one.
    const other = await newPage(browser, gw);
    await other.goto('/ui/');
    await other.getByLabel('Password', { exact: true }).fill('guess-7');
    await other.getByRole('button', { name: 'Sign in' }).click();
    await shows(other.locator('#sign-in-slowed'), 'Sign-in is slowed down');

    // The right password is held too, then signs in; a later sign-in page has nothing to say.
    await signIn(page);
    await page.getByRole('button', { name: 'Sign out' }).click();
    assert.equal(await slowed.isVisible(), false);
    assert.deepEqual(page.errors, []);
    assert.deepEqual(other.errors, []);
  }));

test('inside another page\'s frame the application shows a warning instead of itself', () =>
  withGateway(async (gw) => {
    const page = await newPage(browser, gw);
    await page.setContent(`<iframe src="${gw.url}/ui/ssh" width="900" height="600"></iframe>`);
    const frame = page.frameLocator('iframe');
    await frame.getByRole('heading', { name: 'relaydash does not run inside another page' }).waitFor();
    assert.equal(await frame.getByRole('button').count(), 0);
    assert.equal(await frame.getByRole('link', { name: 'SSH' }).count(), 0);
    assert.equal(await frame.getByRole('link', { name: 'Open relaydash in a new tab' }).count(), 1);
    await screenshot(page, 'framed');

    // On its own the same address is the application, under a policy that allows only its own files.
    await page.goto(`${gw.url}/ui/ssh`);
    await page.getByRole('heading', { name: 'Sign in' }).waitFor();
    const policy = await page.locator('meta[http-equiv="Content-Security-Policy"]').getAttribute('content');
    for (const directive of ["default-src 'none'", "script-src 'self'", "style-src 'self'", "connect-src 'self'"]) {
      assert.ok(policy.includes(directive), directive);
    }
    assert.deepEqual(page.errors, []);
  }));

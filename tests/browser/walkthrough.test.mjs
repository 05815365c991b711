// The operator's walk-through: what hurt when the application was driven as an operator would,
// on the configurations of real gateways.
import assert from 'node:assert/strict';
import os from 'node:os';
import { after, before, describe, test } from 'node:test';
import {
  Gateway, SX1301, applyReviewed, browser, holdNextConfigLoad, newPage, screenshot, shows, signIn, usesBrowser, view,
} from './support.mjs';

const KERSING = 'sx1301-eu868-kersing-mp_pkt_fwd-multiserver.global_conf.json';

usesBrowser();

describe('an SX1301 gateway', () => {
  let gw;
  before(async () => {
    gw = await Gateway.start(SX1301);
  });
  after(async () => {
    await gw?.close();
  });

  test('tabbing through the whole form never leaves the focus under the sticky header or bar', async () => {
    const page = await newPage(browser, gw, { viewport: { width: 1280, height: 720 } });
    await page.goto('/ui/config');
    await signIn(page);
    await page.locator('.sections input').first().waitFor();
    await view(page).getByRole('heading', { level: 1 }).focus();
    const seen = [];
    for (let i = 0; i < 400; i++) {
      await page.keyboard.press('Tab');
      const where = await page.evaluate(() => {
        const el = document.activeElement;
        const r = el.getBoundingClientRect();
        const header = document.querySelector('.top').getBoundingClientRect();
        const bar = document.querySelector('.view:not([hidden]) .sticky').getBoundingClientRect();
        const inBars = Boolean(el.closest('.top, .sticky'));
        return {
          name: `${el.tagName} ${el.id || el.textContent.trim().slice(0, 40)}`,
          inForm: Boolean(el.closest('form')),
          covered: !inBars && (r.top < header.bottom || (bar.bottom >= innerHeight - 1 && r.bottom > bar.top)),
          review: el.textContent === 'Review changes',
        };
      });
      seen.push(where.name);
      assert.equal(where.covered, false, `${where.name} is covered`);
      if (where.review) break;
    }
    assert.ok(seen.length > 40 && seen.length < 400, `${seen.length} stops: ${seen}`);
    assert.ok(seen.some((s) => /summary/i.test(s)), 'the read-only members are reached');

    // The table of contents stays in the sticky bar: from the end of the form back to the radios.
    await view(page).getByRole('navigation', { name: 'Sections of the form' }).getByRole('link', { name: 'Radios' }).click();
    assert.ok(await view(page).getByRole('heading', { name: 'Radios' }).evaluate((el) => document.activeElement === el &&
      el.getBoundingClientRect().top >= document.querySelector('.top').getBoundingClientRect().bottom));
    assert.deepEqual(page.errors, []);
  });

  test('a file the forwarder cannot read: the form says why, the raw view goes to the error, and it is mended there', async () => {
    const good = gw.configText();
    gw.writeConfig(good.replace('"lorawan_public": true,', '"lorawan_public": true,,'));
    const page = await newPage(browser, gw);
    await page.goto('/ui/config');
    await signIn(page);
    const alert = view(page).getByRole('alert');
    await shows(alert, 'The packet forwarder cannot read the file on the gateway (line 3, column 32');
    assert.doesNotMatch(await alert.innerText(), /Unspecified error/);
    await shows(page.locator('header'), 'AA555A0000000000');
    // Straight to the raw view in another tab: its header knows the gateway too.
    const other = await newPage(browser, gw);
    await other.goto('/ui/raw');
    await signIn(other);
    await shows(other.locator('header'), 'AA555A0000000000');
    await other.close();
    await alert.getByRole('link', { name: 'Repair it in the raw view' }).click();

    const text = page.getByLabel('Configuration file');
    await page.waitForFunction(() => document.querySelector('main > section.view:not([hidden]) textarea')?.value);
    const gutter = view(page).locator('.gutter');
    assert.match(await gutter.innerText(), /^1\n2\n3\n4\n/);
    await view(page).getByRole('alert').getByRole('button', { name: 'Go to the error' }).click();
    const caret = () => text.evaluate((t) => {
      const before = t.value.slice(0, t.selectionStart).split('\n');
      return [document.activeElement === t, before.length, before.at(-1).length + 1];
    });
    assert.deepEqual(await caret(), [true, 3, 32]);
    // The line is marked beside the error.
    const [mark, box] = await Promise.all([gutter.locator('.mark').boundingBox(), text.boundingBox()]);
    assert.ok(mark.y > box.y && mark.y < box.y + 5 * mark.height, `${mark.y} in ${box.y}`);
    await screenshot(page, 'raw-broken');
    await page.keyboard.press('Backspace');
    assert.equal(await text.inputValue(), good);

    // Tab and Shift-Tab indent the lines of the selection in the file's own step, undo undoes it,
    // and Escape then Tab moves on.
    const lines = good.split('\n');
    await text.evaluate((t, [from, to]) => t.setSelectionRange(from, to), [lines[0].length + 1, lines[0].length + 1 + lines[1].length + 3]);
    await page.keyboard.press('Tab');
    const indented = [lines[0], `    ${lines[1]}`, `    ${lines[2]}`, ...lines.slice(3)].join('\n');
    assert.equal(await text.inputValue(), indented);
    await page.keyboard.press('Shift+Tab');
    assert.equal(await text.inputValue(), good);
    await page.keyboard.press('Control+z');
    assert.equal(await text.inputValue(), indented);
    await page.keyboard.press('Shift+Tab');
    await page.keyboard.press('Escape');
    await page.keyboard.press('Tab');
    assert.notEqual(await page.evaluate(() => document.activeElement.tagName), 'TEXTAREA');

    await page.getByRole('button', { name: 'Review changes' }).click();
    assert.equal(await applyReviewed(page), 'Change applied');
    assert.equal(gw.configText(), good);
    assert.deepEqual(page.errors, []);
  });

  test('after a sign-in and after an apply the focus is on the page, and the outcome is announced', async () => {
    const page = await newPage(browser, gw);
    await page.goto('/ui/config');
    await signIn(page);
    await page.locator('.sections input').first().waitFor();
    const focused = () => page.evaluate(() => `${document.activeElement.tagName} ${document.activeElement.textContent}`);
    assert.equal(await focused(), 'H1 Forwarder configuration');
    // Several gateways in tabs are told apart by their titles.
    assert.equal(await page.title(), `${os.hostname()} AA555A0000000000 · Forwarder configuration · relaydash`);

    await page.getByLabel('Keep-alive interval (s)').fill('12');
    await page.getByRole('button', { name: 'Review changes' }).click();
    await view(page).getByRole('heading', { name: 'Review changes' }).waitFor();
    await page.keyboard.press('Escape');
    await view(page).getByRole('heading', { name: 'Review changes' }).waitFor({ state: 'hidden' });
    assert.equal(await focused(), 'BUTTON Review changes');
    await page.getByRole('button', { name: 'Review changes' }).click();
    assert.equal(await applyReviewed(page), 'Change applied');
    assert.equal(await focused(), 'H2 Change applied');
    await shows(page.locator('#announce'), 'Change applied. The packet forwarder runs with the new configuration.');
    await view(page).getByRole('button', { name: 'Back to the configuration' }).click();
    assert.equal(await focused(), 'H1 Forwarder configuration');
    assert.deepEqual(page.errors, []);
  });

  test('a gateway out of reach is said in whole sentences, each with one full stop', async () => {
    const kept = gw.configText();
    const page = await newPage(browser, gw);
    await page.goto('/ui/config');
    await page.route('**/rpc/**', (route) => route.abort('connectionrefused'));
    await page.getByLabel('Password', { exact: true }).fill('quilm');
    await page.getByRole('button', { name: 'Sign in' }).click();
    const said = [];
    const alert = page.locator('main > section.view:visible [role="alert"]');
    await shows(alert, 'could not be reached');
    said.push(await alert.innerText());

    await page.unroute('**/rpc/**');
    await signIn(page);
    await page.getByLabel('Keep-alive interval (s)').fill('13');
    await page.getByRole('button', { name: 'Review changes' }).click();
    await view(page).getByRole('heading', { name: 'Review changes' }).waitFor();
    await page.route('**/rpc/**', (route) => route.abort('connectionrefused'));
    assert.equal(await applyReviewed(page), 'Change not applied');
    said.push(await view(page).locator('.outcome').innerText());
    await view(page).getByRole('button', { name: 'Back to the configuration' }).click();
    const reload = alert.filter({ hasText: 'Could not load the configuration' });
    await reload.waitFor();
    said.push(await reload.innerText());

    for (const text of said) {
      assert.match(text, /try again\.$/m);
      assert.doesNotMatch(text, /\.\./);
    }
    assert.equal(gw.configText(), kept);
    assert.deepEqual(page.errors, []);
  });

  test('unsaved edits: a reload asks first, and a change made elsewhere keeps them and shows what changed', async () => {
    const page = await newPage(browser, gw);
    await page.goto('/ui/config');
    await signIn(page);
    const keepalive = page.getByLabel('Keep-alive interval (s)');
    await keepalive.fill('20');
    const dialogs = [];
    page.on('dialog', (d) => dialogs.push(d.type()) && d.dismiss());
    // The question comes as an event; the reload it stopped never ends, so it is given up soon.
    const asked = page.waitForEvent('dialog');
    const reloading = page.reload({ timeout: 2000 }).then(() => 'reloaded', () => 'stopped');
    assert.equal((await asked).type(), 'beforeunload');
    assert.equal(await reloading, 'stopped');
    assert.deepEqual(dialogs, ['beforeunload']);
    assert.equal(await keepalive.inputValue(), '20');

    // Someone changes the file meanwhile: another interval, and the keep-alive too.
    gw.writeConfig(gw.configText().replace('"stat_interval": 30', '"stat_interval": 60')
      .replace(/"keepalive_interval": \d+/, '"keepalive_interval": 11'));
    await page.getByRole('navigation').getByRole('link', { name: 'Status' }).click();
    await page.getByRole('navigation').getByRole('link', { name: 'Configuration' }).click();
    const notice = view(page).locator('.notice');
    await shows(notice, 'changed elsewhere while you edited it');
    assert.deepEqual((await notice.locator('tbody tr').allInnerTexts()).map((r) => r.replace(/\s+/g, ' ').trim()), [
      'Keep-alive interval (you changed it too: your value is kept) 12 s 11 s',
      'Statistics interval 30 s 60 s',
    ]);
    assert.equal(await keepalive.inputValue(), '20');
    assert.equal(await page.getByLabel('Statistics interval (s)').inputValue(), '60');
    await screenshot(page, 'config-changed-elsewhere');
    await page.getByRole('button', { name: 'Review changes' }).click();
    await view(page).getByRole('heading', { name: 'Review changes' }).waitFor();
    assert.deepEqual(await view(page).locator('.review tbody tr').allInnerTexts(), ['Keep-alive interval\t11 s\t20 s']);
    assert.equal(await applyReviewed(page), 'Change applied');
    assert.deepEqual([gw.config().gateway_conf.keepalive_interval, gw.config().gateway_conf.stat_interval], [20, 60]);
    // Nothing is left to lose: the page goes without asking, also while the form is still
    // loading the file it applied (its answer is held here, as a busy gateway would keep it).
    const loading = holdNextConfigLoad(page);
    await view(page).getByRole('button', { name: 'Back to the configuration' }).click();
    await loading;
    await page.reload();
    assert.deepEqual(dialogs, ['beforeunload']);
    assert.deepEqual(page.errors, []);
  });

  test('fields and their focus ring stand out 3:1 in light and dark; check boxes are 24 px', async () => {
    for (const colorScheme of ['light', 'dark']) {
      const page = await newPage(browser, gw, { colorScheme });
      await page.goto('/ui/config');
      await signIn(page);
      const field = page.getByLabel('Keep-alive interval (s)');
      await field.focus();
      await page.keyboard.press('Shift+Tab');
      await page.keyboard.press('Tab');
      const [border, ring, card, back] = (await field.evaluate((el) => {
        const s = getComputedStyle(el);
        return [s.borderTopColor, s.outlineColor, getComputedStyle(el.closest('.card')).backgroundColor,
          getComputedStyle(document.documentElement).backgroundColor];
      })).map(rgb);
      assert.ok(contrast(border, card) >= 3, `${colorScheme}: border ${contrast(border, card)}`);
      assert.ok(Math.min(contrast(ring, card), contrast(ring, back)) >= 3, `${colorScheme}: focus ring`);
      const box = await page.getByRole('checkbox').first().boundingBox();
      assert.ok(box.width >= 24 && box.height >= 24, `${box.width}×${box.height}`);
      await page.context().close();
    }
  });
});

describe('a multi-server gateway (mp_pkt_fwd)', () => {
  let gw;
  before(async () => {
    gw = await Gateway.start(KERSING);
  });
  after(async () => {
    await gw?.close();
  });

  test('every server of the list is a row of fields, says whether the forwarder uses it, and the patch names them', async () => {
    const page = await newPage(browser, gw);
    await page.goto('/ui/config');
    await signIn(page);
    const servers = view(page).getByRole('region', { name: 'Network servers' });
    const first = servers.getByRole('group', { name: 'Server 1' });
    assert.equal(await first.getByLabel('Address').inputValue(), 'router.eu.thethings.network');
    assert.deepEqual([await first.getByLabel('Uplink port').inputValue(), await first.getByLabel('Downlink port').inputValue()],
      ['1700', '1700']);
    assert.equal(await first.getByLabel('Enabled').isChecked(), true);
    await shows(first, 'The forwarder sends to this server.');
    await shows(first, 'One more member (read-only)');
    // The single server of the file is the fallback this forwarder does not use.
    await shows(page.locator('.section-gateway'), 'Not used while the file lists servers');
    await servers.scrollIntoViewIfNeeded();
    await screenshot(page, 'config-servers', { fullPage: false });

    await first.getByLabel('Enabled').uncheck();
    await shows(first, 'Not used: switched off.');
    await first.getByLabel('Enabled').check();
    await first.getByLabel('Uplink port').fill('70000');
    await page.getByRole('button', { name: 'Review changes' }).click();
    await shows(first.locator('.field-error'), 'port from 1 to 65535');
    await first.getByLabel('Uplink port').fill('1700');
    await first.getByLabel('Address').fill('eu1.cloud.thethings.network');
    await page.getByRole('button', { name: 'Review changes' }).click();
    await view(page).getByRole('heading', { name: 'Review changes' }).waitFor();
    assert.deepEqual(await view(page).locator('.review tbody tr').allInnerTexts(),
      ['Server 1: network server\trouter.eu.thethings.network\teu1.cloud.thethings.network']);

    const sent = page.waitForRequest('**/rpc/forwarder-config/apply');
    assert.equal(await applyReviewed(page), 'Change applied');
    const entry = { server_address: 'eu1.cloud.thethings.network', serv_port_up: 1700, serv_port_down: 1700, serv_max_stall: 0,
      serv_enabled: true };
    assert.deepEqual(JSON.parse((await sent).postData()).input.patch, { gateway_conf: { servers: [entry] } });
    assert.deepEqual(gw.config().gateway_conf.servers, [entry]);
    assert.equal(gw.config().gateway_conf.server_address, '127.0.0.1');
    assert.deepEqual(page.errors, []);
  });
});

// "rgb(1, 2, 3)" as [1, 2, 3], and the contrast of two colours as WCAG reckons it.
const rgb = (text) => text.match(/[\d.]+/g).slice(0, 3).map(Number);
function contrast(a, b) {
  const luminance = (c) => {
    const [r, g, bl] = c.map((v) => (v / 255 <= 0.04045 ? v / 255 / 12.92 : ((v / 255 + 0.055) / 1.055) ** 2.4));
    return 0.2126 * r + 0.7152 * g + 0.0722 * bl;
  };
  const [hi, lo] = [luminance(a), luminance(b)].sort((x, y) => y - x);
  return (hi + 0.05) / (lo + 0.05);
}

// Frequency plans on the Configuration page: the file's plan and its picture, another plan
// reviewed in MHz and applied, a plan the radios cannot receive refused with the reason; and a
// change outside the band, refused until the operator confirms it.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { Gateway, SX1301, SX130X, applyReviewed, browser, newPage, screenshot, shows, signIn, usesBrowser, view } from './support.mjs';

usesBrowser();

const US915_SUB_BAND_1 = 'sx1301-us902-semtech-lora_pkt_fwd-v4.0.1-basic.global_conf.json';
const RESTART = 'systemctl restart packet-forwarder';

async function openForm(gw, options, path = '/ui/config') {
  const page = await newPage(browser, gw, options);
  await page.goto(path);
  await signIn(page);
  if (path === '/ui/raw') await page.waitForFunction(() => document.querySelector('main > section.view:not([hidden]) textarea')?.value);
  else await page.locator('.sections input').first().waitFor();
  return page;
}

const rowsOf = async (locator) => (await locator.allInnerTexts()).map((r) => r.replace(/\s+/g, ' ').trim());
const planCard = (page) => page.locator('.plan-section');

// The bodies of the page's calls of a procedure, in the order they were sent.
function bodiesOf(page, procedure) {
  const bodies = [];
  page.on('request', (r) => r.url().endsWith(`/rpc/${procedure}`) && bodies.push(JSON.parse(r.postData()).input));
  return bodies;
}

describe('a US915 gateway on sub-band 1', () => {
  let gw;
  before(async () => {
    gw = await Gateway.start(US915_SUB_BAND_1);
  });
  after(async () => {
    await gw?.close();
  });

  test('set to sub-band 2: the review moves the radios and channels in MHz, with the picture and its table; Status names it', async () => {
    const page = await openForm(gw);
    const applies = bodiesOf(page, 'forwarder-config/apply');
    const card = planCard(page);
    await shows(card, 'This file implements US915 sub-band 1.');
    // The file's picture: both radios' windows, nine channels, the band's edges.
    const picture = card.locator('svg[role="img"]');
    assert.equal(await picture.getAttribute('aria-label'), 'Frequencies: radio 0 receives 902.2375–903.1625 MHz, radio 1 receives ' +
      '902.9375–903.8625 MHz; 9 channels from 902.3 to 903.7 MHz; the US915 band is 902–928 MHz.');
    assert.equal(await picture.locator('.channel').count(), 9);
    // 928 MHz is far beyond the channels: the picture stays on them, and the legend says so.
    assert.equal(await picture.locator('.band-edge').count(), 1);
    await shows(card.locator('.legend'), 'US915 band, 902–928 MHz (its upper edge is beyond the picture)');
    assert.deepEqual((await rowsOf(card.locator('.plan-table tbody tr'))).slice(0, 3), [
      'Radio 0 – 902.7 (receives 902.2375–903.1625) 925',
      'Radio 1 – 903.4 (receives 902.9375–903.8625) 925',
      'Channel 0 0 902.3 125',
    ]);

    await screenshot(page, 'plan', { fullPage: false });
    assert.equal(await card.getByLabel('Region').inputValue(), 'US915');
    assert.equal(await card.getByLabel('Sub-band').inputValue(), '1');
    await card.getByLabel('Sub-band').selectOption('2');
    await card.getByRole('button', { name: 'Review this plan' }).click();
    const review = view(page).locator('.review');
    await review.getByRole('heading', { name: 'Review changes' }).waitFor();
    await shows(review, 'The file is set to US915 sub-band 2');
    assert.deepEqual(await rowsOf(review.locator('table.changes tbody tr')), [
      'Radio 0 centre frequency 902.7 MHz 904.3 MHz',
      'Radio 0 transmits from 902 MHz 923 MHz',
      'Radio 1 centre frequency 903.4 MHz 905 MHz',
      'Channel 0 902.3 MHz 903.9 MHz',
      'Channel 1 902.5 MHz 904.1 MHz',
      'Channel 2 902.7 MHz 904.3 MHz',
      'Channel 3 902.9 MHz 904.5 MHz',
      'LoRa standard channel 903 MHz 904.6 MHz',
      'Channel 4 903.1 MHz 904.7 MHz',
      'Channel 5 903.3 MHz 904.9 MHz',
      'Channel 6 903.5 MHz 905.1 MHz',
      'Channel 7 903.7 MHz 905.3 MHz',
    ]);
    // The picture of the change: the positions before it faded, the ones it moves marked.
    const moves = review.locator('svg[role="img"]');
    assert.equal(await moves.getAttribute('aria-label'), 'After the change: radio 0 receives 903.8375–904.7625 MHz, radio 1 receives ' +
      '904.5375–905.4625 MHz; 9 channels from 903.9 to 905.3 MHz; the US915 band is 902–928 MHz. The change moves 11 of 11 ' +
      'radios and channels; the table lists them.');
    assert.equal(await moves.locator('.channel.old').count(), 9);
    assert.equal(await moves.locator('.channel.new').count(), 9);
    assert.equal(await moves.locator('.window.old').count(), 2);
    const table = await rowsOf(review.locator('.plan-table tbody tr.moved'));
    assert.equal(table.length, 11);
    assert.equal(table[0], 'Radio 0 – 902.7 (receives 902.2375–903.1625) → 904.3 (receives 903.8375–904.7625) 925');
    assert.ok(table.includes('Channel 7 1 903.7 → 905.3 125'), table.join('\n'));
    assert.ok(table.includes('LoRa standard channel 0 903 → 904.6 500'), table.join('\n'));
    await screenshot(page, 'plan-review');

    assert.equal(await applyReviewed(page), 'Change applied');
    // The gateway is asked for the plan itself, on the file the review was of.
    assert.deepEqual(applies.map((a) => [a.plan, typeof a.base, 'patch' in a]), [[{ region: 'US915', subBand: 2 }, 'string', false]]);
    const conf = gw.config().SX1301_conf;
    assert.deepEqual([conf.radio_0.freq, conf.radio_1.freq, conf.radio_0.tx_freq_min], [904_300_000, 905_000_000, 923_000_000]);
    assert.deepEqual(gw.commands(), [RESTART]);

    await view(page).getByRole('button', { name: 'Back to the configuration' }).click();
    await shows(card, 'This file implements US915 sub-band 2.');
    await page.getByRole('navigation').getByRole('link', { name: 'Status' }).click();
    const glance = page.locator('#config-card');
    await shows(glance, 'Frequency plan');
    assert.equal(await glance.locator('dt', { hasText: 'Frequency plan' }).locator('+ dd').innerText(), 'US915 sub-band 2');
    assert.deepEqual(page.errors, []);
  });

  test('a plan the radios cannot receive is refused with the reason, and nothing is sent', async () => {
    const page = await openForm(gw);
    const applies = bodiesOf(page, 'forwarder-config/apply');
    const before = gw.configText();
    const card = planCard(page);
    await shows(card, 'This file implements');
    await card.getByLabel('Region').selectOption('CN470');
    await shows(card, 'CN470 sub-band 1 (RP002');
    await card.getByRole('button', { name: 'Review this plan' }).click();
    await shows(card.getByRole('alert'), 'The file cannot be set to CN470 sub-band 1: CN470 sub-band 1 needs 470.3 to 471.7 MHz');
    await shows(card.getByRole('alert'), 'radio_0 is an SX1257, which tunes 862 to 1020 MHz');
    assert.equal(await view(page).locator('.review').isVisible(), false);
    // A region without sub-bands has no such choice.
    await card.getByLabel('Region').selectOption('EU868');
    assert.equal(await card.getByLabel('Sub-band').isVisible(), false);
    assert.deepEqual(applies, []);
    assert.equal(gw.configText(), before);
    assert.deepEqual(page.errors, []);
  });
});

describe('an EU868 gateway', () => {
  let gw;
  before(async () => {
    gw = await Gateway.start(SX1301);
  });
  after(async () => {
    await gw?.close();
  });

  test('a radio moved outside the band is refused with the band named; only the confirmation applies it', async () => {
    const page = await openForm(gw);
    const applies = bodiesOf(page, 'forwarder-config/apply');
    const original = gw.configText();
    await shows(planCard(page), 'This file implements EU868.');
    await page.getByRole('group', { name: 'Radio 0 (SX1257)', exact: true }).getByLabel('Centre frequency (MHz)').fill('959.5');
    await page.getByRole('button', { name: 'Review changes' }).click();
    const review = view(page).locator('.review');
    await review.getByRole('heading', { name: 'Review changes' }).waitFor();
    await shows(review.locator('.plan-picture .legend'), 'EU868 band, 863–870 MHz');
    assert.match(await review.locator('svg[role="img"]').getAttribute('aria-label'), /radio 0 receives 959\.0375–959\.9625 MHz/);

    assert.equal(await applyReviewed(page), 'Change not applied');
    const outcome = view(page).locator('.outcome');
    await shows(outcome, 'SX1301_conf.radio_0.freq is at 959.5 MHz, outside EU868\'s 863–870 MHz');
    await shows(outcome, 'SX1301_conf.chan_multiSF_3 is at 959.1 MHz, outside EU868\'s 863–870 MHz');
    assert.equal(gw.configText(), original);
    assert.deepEqual(gw.commands(), []);
    await screenshot(page, 'out-of-band');

    await view(page).getByRole('button', { name: 'Apply outside the band' }).click();
    await view(page).getByRole('heading', { name: 'Change applied' }).waitFor({ timeout: 30_000 });
    assert.equal(gw.configText(), original.replace('"freq": 867500000', '"freq": 959500000'));
    assert.deepEqual(gw.commands(), [RESTART]);
    // The refused change and its confirmation, the same but for outOfBand; nothing else was sent.
    assert.equal(applies.length, 2);
    assert.equal(applies[0].outOfBand, undefined);
    assert.deepEqual(applies[1], { ...applies[0], outOfBand: true });
    assert.equal(await view(page).getByRole('button', { name: 'Apply outside the band' }).count(), 0);

    // The file is now of no plan: the page says so, with the plan nearest and how it differs.
    await view(page).getByRole('button', { name: 'Back to the configuration' }).click();
    const card = planCard(page);
    await shows(card, 'This file implements no regional plan as it stands (custom). The nearest is EU868');
    assert.ok((await card.locator('.differences li').count()) > 0);
    assert.deepEqual(page.errors, []);
  });

  test('on a phone the plan, its picture and its table fit the width', async () => {
    const page = await openForm(gw, { viewport: { width: 390, height: 844 }, isMobile: true, hasTouch: true });
    const card = planCard(page);
    await card.locator('svg[role="img"]').waitFor();
    await card.scrollIntoViewIfNeeded();
    await screenshot(page, 'plan-phone', { fullPage: false });
    const box = await card.locator('svg[role="img"]').boundingBox();
    assert.ok(box.width > 200 && box.x + box.width <= 390, JSON.stringify(box));
    // The axis labels are readable text, not shrunk with the drawing.
    assert.ok(await card.locator('.plan-axis span').first().evaluate((s) => parseFloat(getComputedStyle(s).fontSize) >= 11));
    assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth));
  });
});

describe('a whole file outside the band', () => {
  let gw;
  before(async () => {
    gw = await Gateway.start(SX130X);
  });
  after(async () => {
    await gw?.close();
  });

  test('the raw view\'s text is refused the same way, and confirmed the same way', async () => {
    const page = await openForm(gw, {}, '/ui/raw');
    const restores = bodiesOf(page, 'forwarder-config/restore');
    const edited = gw.configText().replace('"freq": 868500000', '"freq": 959500000');
    await page.getByLabel('Configuration file').fill(edited);
    await page.getByRole('button', { name: 'Review changes' }).click();
    const review = view(page).locator('.review');
    await shows(review, 'The whole file is replaced');
    // The SX1302's window is ±800 kHz.
    assert.match(await review.locator('svg[role="img"]').getAttribute('aria-label'), /radio 1 receives 958\.7–960\.3 MHz/);
    assert.equal(await applyReviewed(page), 'Change not applied');
    // A whole file of no plan is held to the range its transmitting radio's limits give.
    await shows(view(page).locator('.outcome'), 'SX130x_conf.radio_1.freq is at 959.5 MHz, outside the 863–870 MHz of tx_freq_min');
    assert.notEqual(gw.configText(), edited);
    await view(page).getByRole('button', { name: 'Apply outside the band' }).click();
    await view(page).getByRole('heading', { name: 'Change applied' }).waitFor({ timeout: 30_000 });
    assert.equal(gw.configText(), edited);
    assert.deepEqual(restores.map((r) => r.outOfBand), [undefined, true]);
    assert.deepEqual(page.errors, []);
  });
});

// The values the page shares with the server are written in lib/server-constants.js alone: a
// code or limit written out elsewhere would be left behind when the server changes it.
import assert from 'node:assert/strict';
import { readdirSync, readFileSync } from 'node:fs';
import { test } from 'node:test';
import { loadUi } from './support.mjs';

const constants = await loadUi('lib/server-constants.js');
const ASSETS = new URL('../../assets/ui/', import.meta.url);

test('no other module writes out a code, the request limit or the factory password', () => {
  // The values distinctive enough to be found as they are written: the codes of refusals (20000
  // and up), the request limit, the password.
  const literals = [
    ...Object.values(constants).filter((v) => typeof v === 'number' && v >= 20_000 && v < 30_000),
    constants.MAX_REQUEST_BYTES, `'${constants.FACTORY_PASSWORD}'`,
  ];
  assert.ok(literals.length >= 9, literals.join(' '));
  for (const name of readdirSync(ASSETS, { recursive: true }).filter((n) => n.endsWith('.js'))) {
    if (name === 'lib/server-constants.js') continue;
    // Comments aside: they may tell of a value.
    const code = readFileSync(new URL(name, ASSETS), 'utf8').replace(/^\s*\/\/.*$/gm, '');
    for (const literal of literals) assert.ok(!new RegExp(`(?<![\\w.])${literal}(?![\\w.])`).test(code), `${name} writes ${literal}`);
  }
});

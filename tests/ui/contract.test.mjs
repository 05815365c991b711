// What the page knows of the server comes from lib/contract.js, which the build writes from the
// server's own tables: the page writes out none of those values itself, and calls only the
// procedures the server has.
import assert from 'node:assert/strict';
import { readdirSync, readFileSync } from 'node:fs';
import { test } from 'node:test';
import { loadUi } from './support.mjs';

const contract = await loadUi('lib/contract.js');
const ASSETS = new URL('../../assets/ui/', import.meta.url);
const modules = readdirSync(ASSETS, { recursive: true })
  .filter((n) => n.endsWith('.js'))
  .map((name) => ({ name, code: readFileSync(new URL(name, ASSETS), 'utf8').replace(/^\s*\/\/.*$/gm, '') }));

test('no module writes out a code, the request limit or the factory password', () => {
  // The values distinctive enough to be found as they are written: the codes of refusals the
  // page tells apart, the request limit, the password.
  const literals = [
    ...Object.values(contract).filter((v) => typeof v === 'number' && v >= 20_000 && v < 30_000),
    contract.MAX_REQUEST_BYTES, `'${contract.FACTORY_PASSWORD}'`,
  ];
  assert.ok(literals.length >= 9, literals.join(' '));
  for (const { name, code } of modules) {
    for (const literal of literals) {
      assert.ok(!new RegExp(`(?<![\\w.])${literal}(?![\\w.])`).test(code), `${name} writes ${literal}`);
    }
  }
});

test('every procedure the page calls is one the server has, signed in unless it is the sign-in', () => {
  const called = new Set();
  for (const { code } of modules) {
    for (const [, path] of code.matchAll(/\bcall(?:\(|: )'([a-z-]+\/[a-z-]+)'/g)) called.add(path);
    for (const [, path] of code.matchAll(/'\/rpc\/v1\/([a-z-]+\/[a-z-]+)'/g)) called.add(path);
  }
  assert.ok(called.size >= 12, [...called].join(' '));
  for (const path of called) {
    assert.ok(path in contract.PROCEDURES, `the page calls ${path}, which the server does not have`);
    assert.equal(contract.PROCEDURES[path], path === 'login/password' ? 'open' : 'signed-in', path);
  }
  // Every code the page tells apart is one of the server's catalogue.
  for (const [name, value] of Object.entries(contract)) {
    if (typeof value === 'number' && value >= 20_000 && value < 30_000) assert.ok(String(value) in contract.ERRORS, name);
  }
});

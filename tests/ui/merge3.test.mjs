import assert from 'node:assert/strict';
import { test } from 'node:test';
import { loadUi } from './support.mjs';

const { merge3 } = await loadUi('lib/merge3.js');

const lines = (...l) => l.join('\n');
const BASE = lines('{', '  "gateway_conf": {', '    "gateway_ID": "AA555A0000000000",', '    "server_address": "localhost",',
  '    "serv_port_up": 1700,', '    "serv_port_down": 1700,', '    "keepalive_interval": 10', '  }', '}');
const change = (text, from, to) => {
  assert.ok(text.includes(from), from);
  return text.replace(from, to);
};

test('changes to different lines are both kept; a change made alike on both sides comes once', () => {
  const mine = change(BASE, '"localhost"', '"eu1.example.net"');
  const theirs = change(BASE, '"keepalive_interval": 10', '"keepalive_interval": 30');
  const both = change(mine, '"keepalive_interval": 10', '"keepalive_interval": 30');
  assert.deepEqual(merge3(BASE, mine, theirs), { text: both, conflicts: [] });
  assert.deepEqual(merge3(BASE, theirs, mine), { text: both, conflicts: [] });
  // Only one side changed anything: its text, whichever side it is.
  assert.deepEqual(merge3(BASE, BASE, theirs), { text: theirs, conflicts: [] });
  assert.deepEqual(merge3(BASE, mine, BASE), { text: mine, conflicts: [] });
  assert.deepEqual(merge3(BASE, both, theirs), { text: both, conflicts: [] });
});

test('lines added and removed by either side, at the ends and in the middle, land where they belong', () => {
  const comment = '// edited on the gateway';
  const theirs = `${comment}\n${change(BASE, '    "gateway_ID": "AA555A0000000000",\n', '')}\n`;
  const mine = change(BASE, '    "keepalive_interval": 10', '    "keepalive_interval": 10,\n    "stat_interval": 30');
  const want = `${comment}\n${change(mine, '    "gateway_ID": "AA555A0000000000",\n', '')}\n`;
  assert.deepEqual(merge3(BASE, mine, theirs), { text: want, conflicts: [] });
  assert.deepEqual(merge3('', 'a', ''), { text: 'a', conflicts: [] });
  assert.deepEqual(merge3('a\nb\nc', 'b\nc', 'a\nb\nc\nd'), { text: 'b\nc\nd', conflicts: [] });
});

test('where both changed the same lines otherwise, the operator\'s lines stay as typed and the place is told', () => {
  const mine = change(change(BASE, '"localhost"', '"eu1.example.net"'), '"serv_port_up": 1700', '"serv_port_up": 1680');
  const theirs = change(change(BASE, '"localhost"', '"eu2.example.net"'), '"keepalive_interval": 10', '"keepalive_interval": 30');
  const merged = merge3(BASE, mine, theirs);
  assert.equal(merged.text, change(mine, '"keepalive_interval": 10', '"keepalive_interval": 30'));
  // Neighbouring lines changed on each side are one region: which of them is right is not guessed.
  assert.deepEqual(merged.conflicts, [{
    line: 4,
    mine: ['    "server_address": "eu1.example.net",', '    "serv_port_up": 1680,'],
    theirs: ['    "server_address": "eu2.example.net",', '    "serv_port_up": 1700,'],
    base: ['    "server_address": "localhost",', '    "serv_port_up": 1700,'],
  }]);

  // A line the operator removed that the other side changed; lines both added at the end.
  const removed = change(BASE, '    "keepalive_interval": 10\n', '');
  const changed = change(BASE, '"keepalive_interval": 10', '"keepalive_interval": 30');
  assert.deepEqual(merge3(BASE, removed, changed).conflicts,
    [{ line: 7, mine: [], theirs: ['    "keepalive_interval": 30'], base: ['    "keepalive_interval": 10'] }]);
  assert.deepEqual(merge3('a', 'a\nx', 'a\ny'), { text: 'a\nx', conflicts: [{ line: 2, mine: ['x'], theirs: ['y'], base: [] }] });
});

import assert from 'node:assert/strict';
import { test } from 'node:test';
import { loadUi } from './support.mjs';

const raw = await loadUi('config/raw-editor.js');
const { sentence } = await loadUi('lib/dom.js');
const { offsetAt, placeOf } = await loadUi('lib/jsonc.js');
const { formatPath } = await loadUi('config/patch.js');

test('the indentation step is the file\'s own, and Tab / Shift-Tab move whole lines by it', () => {
  for (const [text, unit] of [
    ['{\n    "a": {\n        "b": 1\n    }\n}', '    '],
    ['{\n  "a": 1\n}', '  '],
    ['{\n\t"a": 1\n}', '\t'],
    ['{"a": 1}', '  '],
  ]) assert.equal(raw.indentUnit(text), unit, JSON.stringify(text));

  assert.equal(raw.indentLines('"a": 1,\n\n"b": 2', '    ', false), '    "a": 1,\n\n    "b": 2');
  // Outdenting takes at most one step, and a line indented less loses what it has.
  assert.equal(raw.indentLines('        "a": 1,\n  "b": 2,\n"c": 3', '    ', true), '    "a": 1,\n"b": 2,\n"c": 3');
  assert.equal(raw.indentLines('\t\t"a": 1', '\t', true), '\t"a": 1');
});

test('a line and column from 1 point into the text, and back', () => {
  const text = '{\n  "a": 1,,\n}';
  assert.equal(offsetAt(text, 2, 10), text.indexOf(',,') + 1);
  assert.equal(offsetAt(text, 1, 1), 0);
  // A column past the end of its line stays on that line.
  assert.equal(offsetAt(text, 1, 99), 1);
  const { line, column } = placeOf(text, text.indexOf(',,'));
  assert.equal(offsetAt(text, line, column), text.indexOf(',,'));
});

test('messages end with exactly one full stop; member paths read as in the file', () => {
  for (const [text, want] of [
    ['Check the connection and try again.', 'Check the connection and try again.'],
    ['Check the connection and try again..', 'Check the connection and try again.'],
    ['Saved', 'Saved.'],
    ['Really?', 'Really?'],
    ['Loading…', 'Loading…'],
    ['It says: ', 'It says:'],
  ]) assert.equal(sentence(text), want, text);
  assert.equal(formatPath(['gateway_conf', 'servers', 0, 'serv_port_up']), 'gateway_conf.servers[0].serv_port_up');
  assert.equal(formatPath([]), '(whole document)');
});

test('a member named by a rule\'s path is found in the text, past comments and texts that look like JSON', () => {
  const text = '{ // "gateway_conf": 0\n  "gateway_conf": {\n    "servers": [{"a": "}]"}, /* {x} */ {"serv_port_up": 0}],\n' +
    '    "stat_interval": 1,\n    "stat_interval": 0\n  }\n}';
  const at = (path) => {
    const o = raw.memberOffset(text, path);
    return [placeOf(text, o).line, text.slice(o, o + 4)];
  };
  assert.deepEqual(at('gateway_conf.servers[1].serv_port_up'), [3, '0}],']);
  assert.deepEqual(at('gateway_conf.servers[1]'), [3, '{"se']);
  // Written twice, the member read is the last.
  assert.deepEqual(at('gateway_conf.stat_interval'), [5, '0\n  ']);
  // A member the text lacks: its nearest parent; the document itself for "".
  assert.deepEqual(at('gateway_conf.radio_0.type'), [2, '{\n  ']);
  assert.deepEqual(at('gateway_conf.servers[4].serv_port_up'), [3, '[{"a']);
  assert.deepEqual(at(''), [1, '{ //']);
});

// The file as the packet forwarder reads it, beside what it shows: what the raw view, the form
// and the status page say about it.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { loadUi } from './support.mjs';

const { fileReading, readText, readingProblem, sideFileTexts, tailText, verdict } = await loadUi('config/reading.js');

const FILE = `{
  "gateway_conf": {
    "gateway_ID": "AA555A0000000000",
    "keepalive_interval": 10, // seconds /* see below
    "stat_interval": 30, /* seconds */
    "push_timeout_ms": 100
  }
}`;

test('a "/*" inside a "//" comment hides members from the forwarder: the text is misread, and those are named', () => {
  const r = readText(FILE);
  assert.equal(verdict(r), 'misread');
  assert.deepEqual(r.misread, ['gateway_conf.stat_interval']);
  assert.equal(r.quirks[0].line, 4);
  assert.equal(r.doc.gateway_conf.stat_interval, undefined);
  const said = readingProblem(r, 'this text');
  assert.match(said, /^The packet forwarder reads this text otherwise than it looks: line 4, column \d+: .+\. It would not read gateway_conf\.stat_interval as written$/);

  // Written plainly, the same comment is no problem.
  const plain = readText(FILE.replace('/* see below', 'see below'));
  assert.equal(verdict(plain), 'reads');
  assert.equal(readingProblem(plain, 'this text'), null);
  assert.equal(plain.doc.gateway_conf.stat_interval, 30);
});

test('text after the document is ignored, not an error; a text the forwarder cannot read says where', () => {
  const tail = readText(`${FILE.replace('/* see below', '')}\n}\n`);
  assert.equal(verdict(tail), 'reads');
  assert.equal(tail.ignoredTail.line, 9);
  assert.equal(tail.doc.gateway_conf.push_timeout_ms, 100);
  assert.equal(tailText(tail), 'The packet forwarder ignores the text after the document (from line 9, column 1)');

  const broken = readText(FILE.replace('"push_timeout_ms": 100', '"push_timeout_ms": 100,,'));
  assert.equal(verdict(broken), 'refused');
  assert.equal(broken.doc, undefined);
  assert.equal(broken.refusal.line, 6);
  assert.match(readingProblem(broken, 'the file on the gateway'), /^The packet forwarder cannot read the file on the gateway \(line 6, column \d+: .+\)$/);
});

test('the gateway\'s verdict on a file it sent counts; the document is read here', () => {
  const note = { line: 2, column: 5, message: 'the forwarder stops here' };
  const refused = fileReading({ text: '{"a": 1}', forwarder: { reads: false, refusal: note, ignoredTail: null, quirks: [], misread: [] } });
  assert.deepEqual([verdict(refused), refused.doc], ['refused', undefined]);
  const misread = fileReading({ text: '{"a": 1}', forwarder: { reads: true, refusal: null, ignoredTail: null, quirks: [note], misread: ['a'] } });
  assert.deepEqual([verdict(misread), misread.doc], ['misread', { a: 1 }]);
  // A gateway that says nothing of it: the reading here decides.
  assert.equal(verdict(fileReading({ text: FILE })), 'misread');
});

test('files beside the configuration: one read instead of it, members set in others', () => {
  assert.deepEqual(sideFileTexts(undefined), []);
  assert.deepEqual(sideFileTexts({ readInstead: null, overrides: [] }), []);
  assert.deepEqual(sideFileTexts({
    readInstead: 'debug_conf.json',
    overrides: [
      { path: 'gateway_conf.gateway_ID', file: 'local_conf.json', value: '0016C001FF10A235' },
      { path: 'gateway_conf.server_address', file: 'local_conf.json', value: 'eu1.example.net' },
    ],
  }), [
    'The packet forwarder reads debug_conf.json beside this file instead of it: what is changed here does not reach ' +
      'the forwarder while debug_conf.json is there',
    'local_conf.json beside this file sets gateway_conf.gateway_ID, gateway_conf.server_address, and the packet ' +
      'forwarder takes those values from it',
  ]);
});

// How the packet forwarder reads a configuration text, beside what the text shows to a plain
// reader of JSON with comments: whether it reads it at all, the text after the document it
// ignores, and the members it reads otherwise than they are written.

import { differingMembers, readAsForwarder } from '/ui/config/forwarder-reader.js';
import { offsetAt, parseConfigText } from '/ui/lib/jsonc.js';

// { doc, refusal, ignoredTail, quirks, misread, plainError }: doc is the forwarder's document
// (undefined when it refuses the text); misread, the members it reads otherwise than shown;
// plainError, why a plain reader cannot read what the forwarder reads (its quirks say why).
export function readText(text) {
  const r = readAsForwarder(text);
  const quirks = r.quirks ?? [];
  const ignoredTail = r.ignoredTail ?? null;
  if (r.refusal) return { doc: undefined, refusal: r.refusal, ignoredTail, quirks, misread: [], plainError: null };
  // The forwarder stops at the end of the document; so does the plain reading it is held against.
  const end = ignoredTail ? offsetAt(text, ignoredTail.line, ignoredTail.column) : text.length;
  const plain = parseConfigText(text.slice(0, end));
  return {
    doc: r.document,
    refusal: null,
    ignoredTail,
    quirks,
    misread: plain.error ? [] : differingMembers(plain.doc, r.document),
    plainError: plain.error ?? null,
  };
}

// The reading of a file as the gateway sent it (forwarder-config/text): the gateway's own verdict
// where it gives one, the document as read here.
export function fileReading(file) {
  const mine = readText(file.text);
  const f = file.forwarder;
  if (!f) return mine;
  const refusal = f.refusal ?? mine.refusal;
  return {
    doc: refusal ? undefined : mine.doc,
    refusal,
    ignoredTail: f.ignoredTail ?? null,
    quirks: f.quirks ?? [],
    misread: f.misread?.length ? f.misread : mine.misread,
    plainError: mine.plainError,
  };
}

// 'refused', 'misread' or 'reads' (an ignored tail aside, as shown).
export const verdict = (r) => (r.refusal ? 'refused' : r.misread.length || r.plainError ? 'misread' : 'reads');

export const noteText = (n) => `line ${n.line}, column ${n.column}: ${n.message}`;

// What is wrong with the forwarder's reading of `what` ("this text"), in a sentence without its
// full stop; null when it reads it as shown.
export function readingProblem(r, what) {
  const v = verdict(r);
  if (v === 'refused') return `The packet forwarder cannot read ${what} (${noteText(r.refusal)})`;
  if (v === 'reads') return null;
  const quirks = r.quirks.length ? `: ${r.quirks.map(noteText).join('; ')}` : '';
  const members = r.misread.length ? `. It would not read ${r.misread.map((m) => m || 'the document').join(', ')} as written`
    : r.plainError ? `. Read as plain JSON it does not parse (${r.plainError.line ? noteText(r.plainError) : r.plainError.message})` : '';
  return `The packet forwarder reads ${what} otherwise than it looks${quirks}${members}`;
}

export const tailText = (r) => `The packet forwarder ignores the text after the document (from line ${r.ignoredTail.line}, ` +
  `column ${r.ignoredTail.column})`;

// Where the operator goes to mend the reading: the refusal, the first quirk, the ignored tail.
export const problemPlace = (r) => r.refusal ?? r.quirks[0] ?? r.ignoredTail ?? null;

// Sentences (without their full stops) on the files beside the configuration that the forwarder
// reads too (forwarder-config/text's "sideFiles"): one it reads instead, members others set.
export function sideFileTexts(sideFiles) {
  const out = [];
  if (sideFiles?.readInstead) {
    out.push(`The packet forwarder reads ${sideFiles.readInstead} beside this file instead of it: what is changed here ` +
      `does not reach the forwarder while ${sideFiles.readInstead} is there`);
  }
  const byFile = new Map();
  for (const o of sideFiles?.overrides ?? []) byFile.set(o.file, [...(byFile.get(o.file) ?? []), o.path]);
  for (const [file, paths] of byFile) {
    out.push(`${file} beside this file sets ${paths.join(', ')}, and the packet forwarder takes ` +
      `${paths.length === 1 ? 'that value' : 'those values'} from it`);
  }
  return out;
}

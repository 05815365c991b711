// Carries the operator's edits of the file's text onto a newer file: a line-based three-way merge
// of the text both started from (base), the operator's (mine) and the gateway's new one (theirs).

import { diffLines } from '/ui/lib/linediff.js';

// For each line of a (from 0), the line of b it is kept as, or -1 where the diff changed it.
function matches(a, b) {
  const out = new Array(a.length).fill(-1);
  for (const d of diffLines(a.join('\n'), b.join('\n'))) if (d.kind === ' ') out[d.a - 1] = d.b - 1;
  return out;
}

const same = (x, y) => x.length === y.length && x.every((line, i) => line === y[i]);

// { text, conflicts }: regions only one side changed are taken from it, a change both made alike
// once. Where both changed the same lines differently nothing is guessed: the operator's lines
// stay as typed, and a conflict { line, mine, theirs, base } says where (line from 1 in text;
// mine, theirs and base are the region's lines on each side).
export function merge3(base, mine, theirs) {
  const o = base.split('\n');
  const a = mine.split('\n');
  const b = theirs.split('\n');
  const inMine = matches(o, a);
  const inTheirs = matches(o, b);
  const out = [];
  const conflicts = [];
  let i = 0;
  let j = 0;
  let k = 0;
  while (i < o.length || j < a.length || k < b.length) {
    if (i < o.length && inMine[i] === j && inTheirs[i] === k) {
      out.push(o[i]);
      i += 1;
      j += 1;
      k += 1;
      continue;
    }
    // The region up to the next line of the base that both kept, or to the end.
    let next = i;
    while (next < o.length && (inMine[next] < 0 || inTheirs[next] < 0)) next += 1;
    const nextJ = next < o.length ? inMine[next] : a.length;
    const nextK = next < o.length ? inTheirs[next] : b.length;
    const was = o.slice(i, next);
    const mineRegion = a.slice(j, nextJ);
    const theirRegion = b.slice(k, nextK);
    if (same(mineRegion, was)) out.push(...theirRegion);
    else if (same(theirRegion, was) || same(mineRegion, theirRegion)) out.push(...mineRegion);
    else {
      conflicts.push({ line: out.length + 1, mine: mineRegion, theirs: theirRegion, base: was });
      out.push(...mineRegion);
    }
    i = next;
    j = nextJ;
    k = nextK;
  }
  return { text: out.join('\n'), conflicts };
}

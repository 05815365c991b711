// A line diff of two texts, for comparing versions of the configuration file: the longest common
// subsequence of their lines, shown as hunks with a few lines of context.

// [{ kind: ' ' | '-' | '+', text, a, b }]: a and b are the line numbers (from 1) in each text.
export function diffLines(oldText, newText) {
  const x = oldText.split('\n');
  const y = newText.split('\n');
  // The common ends are cut off first: most diffs of a configuration file are a few lines.
  let start = 0;
  while (start < x.length && start < y.length && x[start] === y[start]) start += 1;
  let endX = x.length;
  let endY = y.length;
  while (endX > start && endY > start && x[endX - 1] === y[endY - 1]) {
    endX -= 1;
    endY -= 1;
  }
  const n = endX - start;
  const m = endY - start;
  // Past this the table would take too much memory: the middles are shown as replaced whole.
  if (n * m > 4_000_000) {
    return [
      ...x.slice(0, start).map((text, k) => ({ kind: ' ', text, a: k + 1, b: k + 1 })),
      ...x.slice(start, endX).map((text, k) => ({ kind: '-', text, a: start + k + 1, b: null })),
      ...y.slice(start, endY).map((text, k) => ({ kind: '+', text, a: null, b: start + k + 1 })),
      ...x.slice(endX).map((text, k) => ({ kind: ' ', text, a: endX + k + 1, b: endY + k + 1 })),
    ];
  }
  const common = Array.from({ length: n + 1 }, () => new Uint32Array(m + 1));
  for (let i = n - 1; i >= 0; i--) {
    for (let j = m - 1; j >= 0; j--) {
      common[i][j] = x[start + i] === y[start + j] ? common[i + 1][j + 1] + 1 : Math.max(common[i + 1][j], common[i][j + 1]);
    }
  }
  const out = [];
  for (let k = 0; k < start; k++) out.push({ kind: ' ', text: x[k], a: k + 1, b: k + 1 });
  let i = 0;
  let j = 0;
  while (i < n || j < m) {
    if (i < n && j < m && x[start + i] === y[start + j]) {
      out.push({ kind: ' ', text: x[start + i], a: start + i + 1, b: start + j + 1 });
      i += 1;
      j += 1;
    } else if (i < n && (j === m || common[i + 1][j] >= common[i][j + 1])) {
      out.push({ kind: '-', text: x[start + i], a: start + i + 1, b: null });
      i += 1;
    } else {
      out.push({ kind: '+', text: y[start + j], a: null, b: start + j + 1 });
      j += 1;
    }
  }
  for (let k = endX; k < x.length; k++) out.push({ kind: ' ', text: x[k], a: k + 1, b: endY + (k - endX) + 1 });
  return out;
}

// The changed lines with `context` unchanged lines around them, as hunks
// [{ lines: [...] }]; [] when the texts are the same.
export function hunks(diff, context = 3) {
  const keep = new Array(diff.length).fill(false);
  diff.forEach((d, k) => {
    if (d.kind === ' ') return;
    for (let c = Math.max(0, k - context); c <= Math.min(diff.length - 1, k + context); c++) keep[c] = true;
  });
  const out = [];
  let current = null;
  diff.forEach((d, k) => {
    if (!keep[k]) {
      current = null;
      return;
    }
    if (!current) out.push((current = { lines: [] }));
    current.lines.push(d);
  });
  return out;
}

export const countChanges = (diff) => ({
  removed: diff.filter((d) => d.kind === '-').length,
  added: diff.filter((d) => d.kind === '+').length,
});

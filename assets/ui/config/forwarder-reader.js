// A text read exactly as the packet forwarder reads global_conf.json, with the gateway's messages
// (src/gateway/forwarder_reader.cpp): up to a NUL, comments blanked in two passes ("/*" … "*/",
// then "//" … "\n") each flipping an in-text flag on every unescaped '"', then strict JSON.

const isSpace = (c) => /[ \t-\r]/.test(c);
// How many items of the ordered list a come before p.
const below = (a, p, f = (x) => x) => {
  let lo = 0;
  for (let hi = a.length, m; lo < hi; ) f(a[(m = (lo + hi) >> 1)]) < p ? (lo = m + 1) : (hi = m);
  return lo;
};
// The [begin, end, kind] of the ordered spans that holds p.
const spanAt = (l, p) => {
  const s = l[below(l, p + 1, (x) => x[0]) - 1];
  return s && p < s[1] ? s : undefined;
};

// One pass: the text left, comments blanked, quotes flipped on, where it stopped (or -1).
function pass(t, s, e) {
  const out = t.split(''), cm = [], qs = [];
  let str = false, esc = false, stop = -1;
  for (let i = 0; i < t.length && stop < 0; i++) {
    if (t[i] === '\\' && !esc) {
      esc = true;
      continue;
    }
    if (t[i] === '"' && !esc) qs.push(i), (str = !str);
    else if (!str && t.startsWith(s, i)) {
      const j = t.indexOf(e, i + 2), end = j < 0 ? i + 2 : j + e.length;
      out.fill(' ', i, end);
      cm.push([i, end]);
      if (j < 0) stop = i;
      i = end - 1;
    }
    esc = false;
  }
  return { t: out.join(''), cm, qs, stop };
}

// A plain reading's "//" comments (kind 1), "/* */" comments (2) and texts (3).
function plain(t) {
  const sp = [];
  for (let i = 0, end; i < t.length; i = end) {
    const k = t[i] === '"' ? 3 : t.startsWith('//', i) ? 1 : t.startsWith('/*', i) ? 2 : 0;
    end = i + 1;
    if (k === 3) {
      while (end < t.length && t[end] !== '"') end += t[end] === '\\' ? 2 : 1;
      end = Math.min(end + 1, t.length);
    } else if (k) {
      const j = t.indexOf(k === 1 ? '\n' : '*/', i + 2);
      end = j < 0 ? t.length : k === 1 ? j : j + 2;
    }
    if (k) sp.push([i, end, k]);
  }
  return sp;
}

const NUM = /-?(?:infinity|inf|nan(?:\([0-9a-z_]*\))?|0x(?:[0-9a-f]+\.?[0-9a-f]*|\.[0-9a-f]+)(?:p[+-]?\d+)?|(?:\d+\.?\d*|\.\d+)(?:e[+-]?\d+)?)/iy;

// The JSON left: { doc, end, tail }; throws { at, m, seen }.
function parse(t) {
  let p = 0, far = 0;
  const fail = (at, m) => {
    throw { at, m: at < t.length ? m : 'the text ends before the document is complete', seen: Math.max(at, p, far) + 1 };
  };
  const ws = () => {
    while (isSpace(t[p])) p++;
    return t[p];
  };
  const hex4 = (i) => (/^[0-9a-f]{4}$/i.test(t.slice(i, i + 4)) ? parseInt(t.slice(i, i + 4), 16) : -1);
  const string = () => {
    const open = p;
    let close = p + 1, out = '';
    while (close < t.length && t[close] !== '"') close += t[close] === '\\' ? 2 : 1;
    far = Math.max(far, close);
    if (close >= t.length) fail(open, 'the text ends inside a string');
    for (p = open + 1; p < close; ) {
      const e = t[p + 1], at = p, known = '"\\/bfnrt'.indexOf(e);
      if (t[p] !== '\\') out += t[p++];
      else if (known >= 0) (out += '"\\/\b\f\n\r\t'[known]), (p += 2);
      else {
        if (e !== 'u') fail(p, e > ' ' && e < '\x7f' ? `the escape \\${e} is not one the forwarder knows` : 'this escape is not one the forwarder knows');
        const cp = hex4(p + 2), low = t.startsWith('\\u', p + 6) ? hex4(p + 8) : -1;
        if (cp < 0) fail(at, 'the escape \\u needs four hexadecimal digits');
        p += 6;
        out += String.fromCharCode(cp);
        if (cp >= 0xd800 && cp <= 0xdbff) {
          if (low < 0xdc00 || low > 0xdfff) fail(at, 'a \\u escape of a high surrogate must be followed by one of a low surrogate');
          out += String.fromCharCode(low);
          p += 6;
        }
      }
    }
    p = close + 1;
    return out;
  };
  const number = () => {
    NUM.lastIndex = p;
    const s = NUM.exec(t)?.[0], g = s?.replace(/^-/, '');
    if (!s) fail(p, 'a number was expected here');
    const why = (w) => fail(p, `the number ${s.length > 20 ? s.slice(0, 20) + '...' : s} is not one the forwarder reads: ${w}`);
    if (/x/i.test(s)) why('it is hexadecimal');
    if (g.length > 1 && g[0] === '0' && g[1] !== '.') why('it has a leading zero');
    const word = /^[in]/i.test(g), v = word ? (/^i/i.test(g) ? Infinity : NaN) : Math.abs(Number(s));
    // strtod's range error: beyond a double, or below a normal one.
    if (!word && (v === Infinity || (v === 0 ? /[1-9]/.test(s.split(/e/i)[0]) : v < 2.2250738585072014e-308))) why("it is out of a double's range");
    p += s.length;
    return s[0] === '-' ? -v : v;
  };
  const value = (n) => {
    const c = ws();
    if (n > 19) fail(p, 'more than 19 levels of nesting');
    if (c === '{' || c === '[') return container(n, c === '{');
    if (c === '"') return string();
    if (c === '-' || (c >= '0' && c <= '9')) return number();
    for (const [w, v] of [['true', true], ['false', false], ['null', null]]) if (t.startsWith(w, p)) return (p += w.length), v;
    fail(p, 'tfn'.includes(c) ? 'true, false or null was expected here' : 'a value was expected here');
  };
  const container = (n, obj) => {
    const close = obj ? '}' : ']', out = obj ? {} : [];
    p++;
    if (ws() === close) return p++, out;
    for (;;) {
      if (!obj) out.push(value(n + 1));
      else {
        if (ws() !== '"') fail(p, 'a member name in quotes was expected here');
        const at = p, k = string();
        if (ws() !== ':') fail(p, '":" was expected here');
        p++;
        const v = value(n + 1);
        if (Object.hasOwn(out, k)) fail(at, `the member name "${k}" appears twice in the same object`);
        Object.defineProperty(out, k, { value: v, enumerable: true, writable: true, configurable: true });
      }
      const c = ws();
      if (c === close) return p++, out;
      if (c !== ',') fail(p, `"," or "${close}" was expected here`);
      const comma = p++;
      if (ws() === close) fail(comma, `a "," before "${close}" (the forwarder refuses a trailing comma)`);
    }
  };
  const doc = value(0), end = p;
  ws();
  return { doc, end, tail: p };
}

// { document (null when refused), refusal, ignoredTail, quirks }: notes { line, column, message }.
export function readAsForwarder(text) {
  const t = text.split('\0')[0], p1 = pass(t, '/*', '*/'), p2 = pass(p1.t, '//', '\n'), ps = plain(t), passes = [p1, p2], nl = [];
  for (let i = t.indexOf('\n'); i >= 0; i = t.indexOf('\n', i + 1)) nl.push(i);
  const line = (o) => below(nl, o) + 1;
  const note = (o, message) => ({ line: line(o), column: o - (nl[line(o) - 2] ?? -1), message });
  const r = { document: null, refusal: null, ignoredTail: null, quirks: [] };
  let upTo;
  try {
    const { doc, end, tail } = parse(p2.t);
    [r.document, upTo] = [doc, end];
    if (tail < t.length) r.ignoredTail = note(tail, 'the forwarder ignores everything from here on: it is after the end of the document');
  } catch ({ at, m, seen }) {
    upTo = seen;
    r.refusal = note(at, m);
  }
  // Quirks: where the forwarder's comments leave other text than a plain reading's, and why.
  const inside = (o, q) => {
    const s = spanAt(ps, o);
    return ['', q ? ' inside a comment' : ' inside a "//" comment', ' inside a comment', ' inside a text'][s && s[0] !== o ? s[2] : 0];
  };
  const fwd = (k, [b, e]) => {
    const tok = k ? '//' : '/*', how = passes[k].stop === b ? `a comment with no ${k ? 'line end' : '"*/"'} after it: it removes only the "${tok}"` : `the start of a comment, which hides everything up to line ${line(e - 1)}`;
    return [b, `the forwarder reads this "${tok}"${inside(b)} as ${how}`];
  };
  // Per pass, the quotes it flips on that bound no text of the plain reading.
  const stray = passes.map(({ qs }) => qs.filter((q) => {
    const s = spanAt(ps, q);
    return !(s?.[2] === 3 && (q === s[0] || q + 1 === s[1]));
  }));
  // A comment kept: its pass stopped, was "in a text", or was in a comment that took its start.
  const kept = ([b, , kind]) => {
    const sw = spanAt(p1.cm, b) || spanAt(p1.cm, b + 1), k = kind === 2 ? 0 : 1, { stop, cm, qs } = passes[k];
    const q = stray[k][below(stray[k], b) - 1];
    if (kind === 1 && sw) return fwd(0, sw);
    if (stop >= 0 && stop <= b) return fwd(k, spanAt(cm, stop));
    if (below(qs, b) % 2) {
      if (q !== undefined) return [q, `the forwarder reads this "${inside(q, 1)} as the start of a text, so it does not take the comment on line ${line(b)} as a comment`];
    } else if (sw) return fwd(0, sw);
    return [b, 'the forwarder does not take this comment as a comment'];
  };
  const found = new Map();
  for (let i = 0, last; i < Math.min(upTo, t.length) && found.size < 5; i++) {
    const pl = spanAt(ps, i), fb = p2.t[i] !== t[i];
    let k = 0, own = pl;
    if (isSpace(t[i]) || fb === (!!pl && pl[2] !== 3)) continue;
    if (fb) own = spanAt(p1.cm, i) || ((k = 1), spanAt(p2.cm, i));
    if (!own || own === last) continue;
    last = own;
    const [o, m] = fb ? fwd(k, own) : kept(own);
    if (!found.has(o)) found.set(o, m);
  }
  r.quirks = [...found].sort((a, b) => a[0] - b[0]).map(([o, m]) => note(o, m));
  return r;
}

// Paths ("gateway_conf.servers[1]"; "" for the root) where two documents differ, at most limit:
// a's members in a's order, then those only b has.
export function differingMembers(a, b, limit = 10) {
  const out = [], add = (p) => out.length < limit && out.push(p);
  const kind = (v) => (Array.isArray(v) ? 'a' : v !== null && typeof v === 'object' ? 'o' : 'v');
  const walk = (x, y, path) => {
    const kx = kind(x), sub = (k) => (path ? `${path}.${k}` : k);
    if (kx !== kind(y)) add(path);
    else if (kx === 'o') {
      for (const k of Object.keys(x)) Object.hasOwn(y, k) ? walk(x[k], y[k], sub(k)) : add(sub(k));
      for (const k of Object.keys(y)) Object.hasOwn(x, k) || add(sub(k));
    } else if (kx === 'a') {
      for (let i = 0; i < Math.max(x.length, y.length); i++) i < Math.min(x.length, y.length) ? walk(x[i], y[i], `${path}[${i}]`) : add(`${path}[${i}]`);
    } else if (x !== y && (x === x || y === y)) add(path);
  };
  walk(a, b, '');
  return out;
}

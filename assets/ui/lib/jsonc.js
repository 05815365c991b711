// Reads a forwarder configuration file as the gateway does: JSON with "//" and "/* */" comments
// and a "," before a closing bracket. Comments and such commas become blanks of the same length,
// so the positions JSON.parse reports are positions in the file.

export function blankComments(text) {
  const out = [];
  let i = 0;
  let lastComma = -1;
  while (i < text.length) {
    const c = text[i];
    if (c === '"') {
      let j = i + 1;
      while (j < text.length && text[j] !== '"') j += text[j] === '\\' ? 2 : 1;
      out.push(text.slice(i, j + 1));
      i = j + 1;
      lastComma = -1;
    } else if (c === '/' && text[i + 1] === '/') {
      const end = text.indexOf('\n', i);
      const stop = end < 0 ? text.length : end;
      out.push(' '.repeat(stop - i));
      i = stop;
    } else if (c === '/' && text[i + 1] === '*') {
      const end = text.indexOf('*/', i + 2);
      if (end < 0) {
        out.push(text.slice(i));
        break;
      }
      out.push(text.slice(i, end + 2).replace(/[^\n]/g, ' '));
      i = end + 2;
    } else {
      if ((c === '}' || c === ']') && lastComma >= 0) out[lastComma] = ' ';
      // Only a single comma before a bracket is forgiven: ",," stays the mistake it is.
      if (c === ',') lastComma = lastComma === -1 ? out.length : -2;
      else if (!/\s/.test(c)) lastComma = -1;
      out.push(c);
      i += 1;
    }
  }
  return out.join('');
}

// Line (from 1) and column (from 1) of a position in the text.
export function placeOf(text, pos) {
  const before = text.slice(0, pos).split('\n');
  return { pos, line: before.length, column: before[before.length - 1].length + 1 };
}

// The position of a line and column (both from 1); a column past the end of its line stays on it.
export function offsetAt(text, line, column) {
  const lines = text.split('\n');
  return lines.slice(0, line - 1).reduce((n, l) => n + l.length + 1, 0) + Math.min(column - 1, (lines[line - 1] ?? '').length);
}

// { doc } or { error: { message, line, column, pos } } (line and column when the browser says where).
export function parseConfigText(text) {
  try {
    return { doc: JSON.parse(blankComments(text)) };
  } catch (e) {
    const m = /position (\d+)/.exec(e.message);
    const place = m ? placeOf(text, Number(m[1])) : {};
    const reason = e.message.replace(/ in JSON at position.*$/, '').replace(/^JSON\.parse: /, '');
    return { error: { message: reason, ...place } };
  }
}

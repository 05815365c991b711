// Field checks and unit conversions for the configuration form. Pure functions: every check
// takes the text the operator typed and answers { value } with the JSON value to store, or
// { error } with a sentence to show next to the field. Nothing here touches the page, so Node
// can run it directly.

export const GATEWAY_ID_DIGITS = 16;
export const MAX_SERVER_ADDRESS = 63;

// Gateway IDs are pasted from many places: "eui-b827ebfffe123456" from network server consoles,
// "B8:27:EB:FF:FE:12:34:56" or "b8-27-eb-…" from vendor labels. The forwarder wants bare upper-case hex.
export function normaliseGatewayId(text) {
  return String(text)
    .trim()
    .replace(/^eui-/i, '')
    .replace(/[\s:-]/g, '')
    .toUpperCase();
}

export function checkGatewayId(text) {
  const id = normaliseGatewayId(text);
  if (id === '') return { error: 'Enter the gateway ID: 16 hexadecimal digits.' };
  if (!/^[0-9A-F]*$/.test(id)) {
    return { error: 'The gateway ID may only hold hexadecimal digits (0-9, A-F).' };
  }
  if (id.length !== GATEWAY_ID_DIGITS) {
    return { error: `The gateway ID must be 16 hexadecimal digits; this one has ${id.length}.` };
  }
  return { value: id };
}

export function checkServerAddress(text) {
  const address = String(text).trim();
  if (address === '') return { error: 'Enter the network server address (host name or IP address).' };
  if (/\s/.test(address)) return { error: 'The server address may not contain spaces.' };
  if (address.length > MAX_SERVER_ADDRESS) {
    return {
      error: `The server address may be at most ${MAX_SERVER_ADDRESS} characters; this one has ${address.length}.`,
    };
  }
  return { value: address };
}

export function checkInteger(text, { min, max, unit = '' } = {}) {
  const t = String(text).trim();
  if (t === '') return { error: 'Enter a value.' };
  if (!/^[+-]?\d+$/.test(t)) return { error: 'Enter a whole number.' };
  const n = Number(t);
  if ((min !== undefined && n < min) || (max !== undefined && n > max)) {
    const u = unit ? ` ${unit}` : '';
    return { error: `Enter a number from ${min}${u} to ${max}${u}.` };
  }
  return { value: n };
}

export function checkPort(text) {
  const r = checkInteger(text, { min: 1, max: 65535 });
  return r.error ? { error: r.error.replace('a number', 'a port') } : r;
}

// Decimal text to an integer count of a smaller unit, without floating-point rounding:
// parseScaled("868.1", 6) is exactly 868100000 (MHz to Hz). A comma is taken as the decimal
// mark, as many operators type it. Returns null for text that is not a decimal number or that
// is finer than the smaller unit.
export function parseScaled(text, digits) {
  const m = /^([+-]?)(\d*)(?:[.,](\d*))?$/.exec(String(text).trim());
  if (!m || (m[2] === '' && (m[3] ?? '') === '')) return null;
  const fraction = m[3] ?? '';
  if (fraction.replace(/0+$/, '').length > digits) return null;
  const n = Number((m[2] || '0') + fraction.padEnd(digits, '0').slice(0, digits));
  if (!Number.isSafeInteger(n)) return null;
  return m[1] === '-' && n !== 0 ? -n : n;
}

// The inverse of parseScaled, with no trailing zeros: formatScaled(868100000, 6) is "868.1".
export function formatScaled(n, digits) {
  if (!Number.isInteger(n)) return String(n / 10 ** digits);
  const sign = n < 0 ? '-' : '';
  const s = String(Math.abs(n)).padStart(digits + 1, '0');
  const whole = s.slice(0, s.length - digits);
  const fraction = s.slice(s.length - digits).replace(/0+$/, '');
  return sign + whole + (fraction ? '.' + fraction : '');
}

export const hzToMhz = (hz) => formatScaled(hz, 6);
export const mhzToHz = (text) => parseScaled(text, 6);
export const hzToKhz = (hz) => formatScaled(hz, 3);
export const khzToHz = (text) => parseScaled(text, 3);

// Wide enough for every LoRa band (the SX1255 starts at 400 MHz, the SX1257 ends at 1020 MHz),
// narrow enough to catch a value typed in Hz or kHz instead of MHz.
export const RADIO_MIN_HZ = 100_000_000;
export const RADIO_MAX_HZ = 1_100_000_000;

export function checkRadioFrequency(text) {
  const t = String(text).trim();
  if (t === '') return { error: 'Enter the centre frequency in MHz.' };
  const hz = mhzToHz(t);
  if (hz === null) return { error: 'Enter the frequency in MHz, e.g. 867.5 (at most 6 decimals).' };
  if (hz < RADIO_MIN_HZ || hz > RADIO_MAX_HZ) {
    return { error: 'Enter the frequency in MHz, between 100 and 1100 (e.g. 867.5).' };
  }
  return { value: hz };
}

export function checkChannelOffset(text, maxOffsetHz) {
  const t = String(text).trim();
  if (t === '') return { error: 'Enter the offset from the radio frequency in kHz.' };
  const hz = khzToHz(t);
  if (hz === null) return { error: 'Enter the offset in kHz, e.g. -200 (at most 3 decimals).' };
  if (Math.abs(hz) > maxOffsetHz) {
    const k = hzToKhz(maxOffsetHz);
    return { error: `The offset must be between -${k} and ${k} kHz to keep the channel inside its radio's band.` };
  }
  return { value: hz };
}

// A channel's frequency is its radio's centre frequency plus its offset ("if" in the file).
export function channelFrequencyHz(radioHz, offsetHz) {
  if (!Number.isFinite(radioHz) || !Number.isFinite(offsetHz)) return null;
  return radioHz + offsetHz;
}

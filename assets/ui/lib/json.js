// JSON values as the gateway's documents hold them: objects, their equality and their copies.

export const isObject = (v) => v !== null && typeof v === 'object' && !Array.isArray(v);

export function deepEqual(a, b) {
  if (a === b) return true;
  if (Array.isArray(a)) {
    return Array.isArray(b) && a.length === b.length && a.every((v, i) => deepEqual(v, b[i]));
  }
  if (!isObject(a) || !isObject(b)) return false;
  const keys = Object.keys(a);
  return (
    keys.length === Object.keys(b).length &&
    keys.every((k) => Object.hasOwn(b, k) && deepEqual(a[k], b[k]))
  );
}

// Plain assignment would treat a member named "__proto__" as the prototype.
export function put(object, key, value) {
  Object.defineProperty(object, key, { value, enumerable: true, writable: true, configurable: true });
}

export const cloneJson = (v) => (v === undefined ? undefined : JSON.parse(JSON.stringify(v)));

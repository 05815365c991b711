// The smallest patch that turns the gateway's document into the edited one, under the gateway's
// merge rules: objects merge member by member, anything else (arrays included) replaces whole,
// null is stored as null, and no member can ever be removed.

import { byteLength, requestBody } from '/ui/lib/api.js';
import { cloneJson, deepEqual, isObject, put } from '/ui/lib/json.js';
import { MAX_REQUEST_BYTES } from '/ui/lib/contract.js';

// Walks both documents together. Answers the patch (undefined when nothing changed), the list of
// changes as the operator should see them ({ path, before, after }, before undefined for a new
// member) and the paths of members that the edit removed.
export function diffDocuments(before, after) {
  const changes = [];
  const removed = [];
  const walk = (a, b, path) => {
    if (isObject(a) && isObject(b)) {
      const patch = {};
      let changed = false;
      for (const key of Object.keys(a)) {
        if (!Object.hasOwn(b, key)) removed.push([...path, key]);
      }
      for (const key of Object.keys(b)) {
        const sub = Object.hasOwn(a, key)
          ? walk(a[key], b[key], [...path, key])
          : (changes.push({ path: [...path, key], before: undefined, after: b[key] }), b[key]);
        if (sub !== undefined) {
          put(patch, key, cloneJson(sub));
          changed = true;
        }
      }
      return changed ? patch : undefined;
    }
    if (deepEqual(a, b)) return undefined;
    changes.push({ path, before: a, after: b });
    return b;
  };
  const patch = walk(before, after, []);
  return { patch, changes, removed };
}

// "gateway_conf.servers[0].serv_port_up": members joined with ".", array items in brackets.
export function formatPath(path) {
  if (!path.length) return '(whole document)';
  return path.map((k, i) => (typeof k === 'number' ? `[${k}]` : i ? `.${k}` : k)).join('');
}

// Everything the review step needs, or the reason the edit cannot be sent. The size counts the
// exact body that will be posted, token included.
export function planPatch(before, after, auth) {
  if (!isObject(after)) {
    return { error: 'The configuration must stay a JSON object ({ … }).' };
  }
  const { patch, changes, removed } = diffDocuments(before, after);
  if (removed.length) {
    const names = removed.map(formatPath);
    return {
      error:
        `A change cannot remove members, and ${names.length === 1 ? 'this one was' : 'these were'} ` +
        `removed: ${names.join(', ')}. Put ${names.length === 1 ? 'it' : 'them'} back; ` +
        'setting a member to null is the closest a change can come.',
      removed,
    };
  }
  if (patch === undefined) return { error: 'Nothing has changed.', empty: true };
  const bytes = byteLength(requestBody(auth, patch));
  if (bytes > MAX_REQUEST_BYTES) {
    return {
      error:
        `This change is too large to send: ${bytes} bytes, and the gateway accepts at most ` +
        `${MAX_REQUEST_BYTES}. Apply it in smaller steps, a few sections at a time.`,
      tooLarge: true,
      bytes,
      changes,
    };
  }
  return { patch, changes, bytes };
}

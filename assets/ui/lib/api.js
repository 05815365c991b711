// Calls to the gateway. Every call is a POST of a JSON object; the answer holds "output" on
// success or "error" with "code" and "message" on failure, whatever the HTTP status.

import { EXPIRED_TOKEN, INSUFFICIENT_RIGHTS, INVALID_TOKEN, MAX_REQUEST_BYTES } from '/ui/lib/contract.js';

const TOKEN_KEY = 'relaydash.auth';
const USER_KEY = 'relaydash.user';
const PASSWORD_LATER_KEY = 'relaydash.passwordLater';
// What the tab knows about the gateway it manages, for its header and title.
const GATEWAY_KEYS = { id: 'relaydash.gateway', host: 'relaydash.host' };

// Codes for a token the gateway no longer accepts. Tokens are sealed with keys that live only
// as long as the server process, so after a restart every token reads as invalid; so does every
// other session's token after a password change, and any token past its lifetime.
const AUTH_LOST = [INVALID_TOKEN, EXPIRED_TOKEN, INSUFFICIENT_RIGHTS];

// A forwarder restart can hold the gateway for a while; past this we stop waiting.
const CALL_TIMEOUT_MS = 120_000;

export class ApiError extends Error {
  // details: the whole error object of the answer, with what some procedures add beside code
  // and message (the problems found, the journal lines of a rollback).
  constructor(message, { code, status, authLost = false, details = {} } = {}) {
    super(message);
    this.name = 'ApiError';
    this.code = code;
    this.status = status;
    this.authLost = authLost;
    this.details = details;
  }
}

// sessionStorage: the sign-in lasts as long as the browser tab, and other tabs sign in on their own.
export const token = () => sessionStorage.getItem(TOKEN_KEY);
// The user name this tab signed in with.
export const user = () => sessionStorage.getItem(USER_KEY) ?? '';
export const remembered = (what) => sessionStorage.getItem(GATEWAY_KEYS[what]) ?? '';
export const remember = (what, value) => sessionStorage.setItem(GATEWAY_KEYS[what], value);

// Whether the operator put off setting a password of their own for this sign-in.
export const passwordPutOff = () => sessionStorage.getItem(PASSWORD_LATER_KEY) === '1';
export const putOffPassword = () => sessionStorage.setItem(PASSWORD_LATER_KEY, '1');

export function forget() {
  for (const key of [TOKEN_KEY, USER_KEY, PASSWORD_LATER_KEY, ...Object.values(GATEWAY_KEYS)]) sessionStorage.removeItem(key);
}

// The body of a call: the sign-in's token and the procedure's input.
export function requestBody(auth, input) {
  return JSON.stringify({ auth, input });
}

export const byteLength = (text) => new TextEncoder().encode(text).length;

let authLostHandler = () => {};
export function onAuthLost(handler) {
  authLostHandler = handler;
}

async function post(url, body) {
  const abort = new AbortController();
  const timer = setTimeout(() => abort.abort(), CALL_TIMEOUT_MS);
  let res;
  let text;
  try {
    res = await fetch(url, {
      method: 'POST',
      headers: { 'Content-Type': 'application/json' },
      body,
      signal: abort.signal,
      cache: 'no-store',
    });
    text = await res.text();
  } catch {
    throw new ApiError(
      abort.signal.aborted
        ? 'The gateway did not answer within two minutes.'
        : 'The gateway could not be reached. Check the connection and try again.',
    );
  } finally {
    clearTimeout(timer);
  }
  let answer;
  try {
    answer = JSON.parse(text);
  } catch {
    answer = undefined;
  }
  if (answer && typeof answer === 'object' && 'output' in answer) return answer.output;
  const error = answer?.error;
  if (error && typeof error === 'object') {
    const code = error.code;
    throw new ApiError(String(error.message ?? `Error ${code}`), {
      code,
      status: res.status,
      authLost: AUTH_LOST.includes(code),
      details: error,
    });
  }
  if (res.status === 413) {
    throw new ApiError(`The gateway refused the request as too large (it accepts at most ${MAX_REQUEST_BYTES} bytes).`, {
      status: 413,
    });
  }
  throw new ApiError(`The gateway gave an unexpected answer (HTTP ${res.status}).`, { status: res.status });
}

export async function signIn(username, password) {
  const output = await post('/rpc/v1/login/password', JSON.stringify({ username, password }));
  if (!output || typeof output.auth !== 'string') throw new ApiError('The gateway sent no sign-in token.');
  sessionStorage.setItem(TOKEN_KEY, output.auth);
  sessionStorage.setItem(USER_KEY, username);
}

// A call that needs the sign-in. When the gateway no longer accepts the token, the handler set
// with onAuthLost sends the operator back to sign in, and the caller still gets the error.
export async function call(path, input = {}) {
  const auth = token();
  try {
    if (!auth) throw new ApiError('Sign in first.', { authLost: true });
    return await post(`/rpc/${path}`, requestBody(auth, input));
  } catch (e) {
    if (e instanceof ApiError && e.authLost) {
      sessionStorage.removeItem(TOKEN_KEY);
      authLostHandler(e);
    }
    throw e;
  }
}

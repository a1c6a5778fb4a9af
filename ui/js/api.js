// Requests to the web-API host. Every request carries the tab's token as the
// bearer; every failure becomes an ApiError with the code of the answer, so
// that no failed request goes unnoticed.
import { getToken } from './session.js';

export const CONTACTS_API = 'ORVA.ContactAndCalendar.Contacts';
export const COMMON_API = 'ORVA.ContactAndCalendar.Common';

// Page-side failures that have no code of the host or the module.
export const NOT_SIGNED_IN = 'unauthorized';
export const NETWORK_FAILURE = 'network';
export const BAD_ANSWER = 'bad-answer';

export class ApiError extends Error {
  constructor(code, detail, status) {
    super(typeof detail === 'string' ? detail : JSON.stringify(detail));
    this.code = code;
    this.detail = detail;
    this.status = status;
  }
}

// Listeners told when the host refuses the token (to show the sign-in again).
const unauthorizedListeners = [];
export function onUnauthorized(listener) {
  unauthorizedListeners.push(listener);
}

function authHeaders(extra = {}) {
  return { Authorization: `Bearer ${getToken()}`, ...extra };
}

function refuseToken() {
  for (const listener of unauthorizedListeners) listener();
  return new ApiError(NOT_SIGNED_IN, 'Missing or wrong access token', 401);
}

// Turns an envelope into its data or throws its error.
function unwrap(envelope, status) {
  if (envelope && envelope.success === true) return envelope.data;
  if (envelope && envelope.success === false && envelope.error) {
    throw new ApiError(envelope.error.code, envelope.error.detail, status);
  }
  throw new ApiError(BAD_ANSWER, `Unexpected answer (HTTP ${status})`, status);
}

async function readEnvelope(response) {
  if (response.status === 401) throw refuseToken();
  let envelope;
  try {
    envelope = await response.json();
  } catch {
    throw new ApiError(BAD_ANSWER, `Unexpected answer (HTTP ${response.status})`, response.status);
  }
  return unwrap(envelope, response.status);
}

async function send(url, init) {
  try {
    return await fetch(url, { cache: 'no-store', ...init });
  } catch (error) {
    throw new ApiError(NETWORK_FAILURE, String(error.message || error), 0);
  }
}

// One request of the web API; resolves to the answer's data. A signal
// (AbortController) drops a request whose answer is no longer wanted.
export async function callApi(api, method, params = {}, signal = undefined) {
  const response = await send('webapi', {
    method: 'POST',
    headers: authHeaders({ 'Content-Type': 'application/json' }),
    body: JSON.stringify({ api, version: 1, method, params }),
    signal,
  });
  return readEnvelope(response);
}

// A request with one file, as multipart/form-data; the host stores the file
// and hands the method its path. progress.sending(sent, total) follows the
// upload; progress.sent() tells that the server has it all and is working.
export function callWithFile(api, method, params, file, progress = {}) {
  const form = new FormData();
  form.append('api', api);
  form.append('version', '1');
  form.append('method', method);
  form.append('params', JSON.stringify(params));
  form.append('file', file, file.name);
  // XMLHttpRequest, not fetch: only it reports the upload's progress.
  return new Promise((resolve, reject) => {
    const request = new XMLHttpRequest();
    request.open('POST', 'webapi');
    request.setRequestHeader('Authorization', `Bearer ${getToken()}`);
    request.responseType = 'text';
    if (progress.sending) {
      request.upload.addEventListener('progress', (event) => {
        if (event.lengthComputable && event.loaded < event.total) progress.sending(event.loaded, event.total);
      });
    }
    if (progress.sent) request.upload.addEventListener('load', () => progress.sent());
    request.addEventListener('error', () =>
      reject(new ApiError(NETWORK_FAILURE, 'The server could not be reached', 0)));
    request.addEventListener('load', () => {
      if (request.status === 401) {
        reject(refuseToken());
        return;
      }
      try {
        resolve(unwrap(JSON.parse(request.responseText), request.status));
      } catch (error) {
        reject(error instanceof ApiError ? error
          : new ApiError(BAD_ANSWER, `Unexpected answer (HTTP ${request.status})`, request.status));
      }
    });
    request.send(form);
  });
}

// Exports the cards and fetches them as one vCard file: resolves to a Blob.
// The host answers the file itself, or the module's error as an envelope
// (told apart by the content type). which: {id: [ID, ...]} for those cards,
// or {all: true, except: [ID, ...], search_key} for a whole listing, which
// the host reads from the store itself; the browser keeps a large answer on
// disk, not in the page's memory.
export async function exportCards(user, which, signal = undefined) {
  const response = await send('webapi/export', {
    method: 'POST',
    headers: authHeaders({ 'Content-Type': 'application/json' }),
    body: JSON.stringify({ user, ...(Array.isArray(which) ? { id: which } : which) }),
    signal,
  });
  const type = response.headers.get('Content-Type') || '';
  if (response.ok && type.toLowerCase().startsWith('text/vcard')) return response.blob();
  await readEnvelope(response);
  throw new ApiError(BAD_ANSWER, `Unexpected answer (HTTP ${response.status})`, response.status);
}

// One of the appliance's own routes beside the module's (users, calendars,
// client set-up): POST webapi/PATH with a JSON object, the same envelope.
export async function callRoute(path, params = {}) {
  const response = await send(`webapi/${path}`, {
    method: 'POST',
    headers: authHeaders({ 'Content-Type': 'application/json' }),
    body: JSON.stringify(params),
  });
  return readEnvelope(response);
}

// A route that answers a file: resolves to a Blob of the given type, or
// throws the envelope's error.
export async function downloadRoute(path, params, type) {
  const response = await send(`webapi/${path}`, {
    method: 'POST',
    headers: authHeaders({ 'Content-Type': 'application/json' }),
    body: JSON.stringify(params),
  });
  const got = response.headers.get('Content-Type') || '';
  if (response.ok && got.toLowerCase().startsWith(type)) return response.blob();
  await readEnvelope(response);
  throw new ApiError(BAD_ANSWER, `Unexpected answer (HTTP ${response.status})`, response.status);
}
// A route that takes a file (multipart/form-data) beside text fields; the
// same envelope as callRoute.
export async function callRouteWithFile(path, fields, file) {
  const form = new FormData();
  for (const [name, value] of Object.entries(fields)) form.append(name, value);
  form.append('file', file, file.name);
  const response = await send(`webapi/${path}`, { method: 'POST', headers: authHeaders(), body: form });
  return readEnvelope(response);
}

// Writes cards back byte for byte under their own names (the undo of a
// merge): cards is [{id, text}]. Resolves to the answer's data.
export async function restoreCards(user, cards) {
  const response = await send('webapi/restore', {
    method: 'POST',
    headers: authHeaders({ 'Content-Type': 'application/json' }),
    body: JSON.stringify({ user, cards }),
  });
  return readEnvelope(response);
}

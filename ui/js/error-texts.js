// What each error code means, in words for the person at the page. The
// answer's own detail is shown beside it, word for word.
import { NOT_SIGNED_IN, NETWORK_FAILURE, BAD_ANSWER } from './api.js';

const TEXTS = {
  // The host's own refusals.
  100: 'The server could not read the request.',
  101: 'The server does not offer this interface.',
  102: 'The server does not offer this operation.',
  103: 'The server does not offer this version of the interface.',
  104: 'The operation failed inside the server; see the server log.',
  105: 'The operation gave no answer; see the server log.',
  106: 'The request is larger than the server accepts (16 MiB at most).',
  107: 'The server failed inside; see the server log.',
  108: 'The server refused a file that it did not receive itself.',
  109: 'The server refused a user name or card name that is not a plain name.',
  110: 'An exported card could not be found: the user or the card is unknown.',
  111: 'The server could not keep the uploaded file.',
  112: 'The name was refused: it must be a plain name.',
  113: 'That name exists already.',
  114: 'There is no such user or calendar.',
  115: 'The password was refused.',
  116: 'The server\'s users or storage could not be changed; see the server log.',
  117: 'Only calendars can be deleted here, not address books.',
  118: 'That is not in the history: it was never there, or it is older than the changes kept.',
  119: 'It changed since the page showed it (a phone or another page); nothing was overwritten. Look again and retry.',
  120: 'The address book refuses what would be put back.',
  121: 'The book or its history could not be written (is the disk full?); nothing was changed.',
  // The module's answers.
  900: 'A value the operation needs was missing from the request.',
  901: 'A value of the request has the wrong type.',
  1000: 'The server\'s configuration file could not be read.',
  1001: 'The server\'s configuration file could not be written.',
  1002: 'The HTTP port conflicts with another service.',
  1003: 'The HTTPS port conflicts with another service.',
  1004: 'A port could not be written into the firewall\'s service definition.',
  1005: 'The firewall rules could not be reloaded.',
  1006: 'The server\'s own configuration could not be regenerated.',
  1007: 'The contacts and calendar server could not be restarted.',
  1009: 'The address book refused to delete or export a card.',
  1011: 'The address book refused the card.',
  1012: 'The card was changed elsewhere (a phone, another tab or a script) since the page listed it.',
  1013: 'Too many cards in one request.',
  [NOT_SIGNED_IN]: 'The access token was refused: sign in again.',
  [NETWORK_FAILURE]: 'The server could not be reached.',
  [BAD_ANSWER]: 'The server gave an answer the page does not understand.',
};

export function explainCode(code) {
  return TEXTS[code] || 'The request failed.';
}

// One line for a failed request: what it means, its code and the answer's
// own detail.
export function describeError(error) {
  const code = error && error.code !== undefined ? error.code : BAD_ANSWER;
  const detail = error && error.detail !== undefined ? error.detail : String(error);
  const codePart = typeof code === 'number' ? ` (error ${code}: ${detailText(detail)})` : '';
  return `${explainCode(code)}${codePart}`;
}

function detailText(detail) {
  return typeof detail === 'string' ? detail.trim() : JSON.stringify(detail);
}

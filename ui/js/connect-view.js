// The page for connecting a phone or desktop client: the address phones use
// (picked from the appliance's names and addresses, or typed, and
// remembered), a user's CardDAV and CalDAV addresses as the server now
// serves them, the certificate authority phones trust, a QR code of an
// address and an Apple configuration profile (both accounts, no password).
import { callRoute, downloadRoute } from './api.js';
import { describeError } from './error-texts.js';
import { el, clear, showStatus, hideStatus, uniqueId } from './dom.js';
import { loadUsers } from './users-list.js';
import { qrImage } from './qr-image.js';

const PROFILE_TYPE = 'application/x-apple-aspen-config';
const AUTHORITY_TYPE = 'application/x-x509-ca-cert';
const OTHER = '';

// The name the browser reached the appliance by, when it is loopback: a
// phone given it would look for the server on itself.
function loopbackPageHost() {
  const host = window.location.hostname.replace(/^\[|\]$/g, '');
  return host === 'localhost' || host.endsWith('.localhost') || host === '::1' || host.startsWith('127.')
    ? host : '';
}

function saveFile(blob, name) {
  const url = URL.createObjectURL(blob);
  const link = el('a', { href: url, download: name, hidden: true });
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 10000);
}

// A file name of plain characters: the user's name may hold anything.
function fileName(user, host, ending) {
  return `${user}-${host}`.replace(/[\\/:*?"<>|\u0000-\u001f]/g, '_') + ending;
}

export function setUpConnect() {
  const root = document.getElementById('connect-root');
  const status = el('div', { id: 'connect-status', class: 'status', 'aria-live': 'polite', hidden: true });
  const select = el('select', { id: 'connect-user' });
  const hostSelect = el('select', { id: 'connect-host' });
  const hostInput = el('input', { id: 'connect-host-other', type: 'text', hidden: true,
    autocomplete: 'off', spellcheck: false, placeholder: 'name or address' });
  const useHost = el('button', { type: 'button', id: 'connect-host-use' }, 'Use for phones');
  const loopbackNote = el('p', { id: 'connect-loopback', class: 'status status-error', hidden: true });
  const picker = el('div', { class: 'toolbar' },
    el('div', { class: 'field inline' }, el('label', { for: 'connect-user' }, 'For user'), select),
    el('div', { class: 'field inline' }, el('label', { for: 'connect-host' }, 'Address phones use'),
      hostSelect, hostInput, useHost));
  const details = el('div', { id: 'connect-details' });
  root.append(loopbackNote, picker, status, details);

  async function showQr(holder, url) {
    try {
      const code = await callRoute('connection/qr', { text: url });
      clear(holder);
      holder.append(el('figure', { class: 'qr' }, qrImage(code.rows, `QR code of ${url}`),
        el('figcaption', {}, url)));
    } catch (error) {
      showStatus(status, 'error', describeError(error));
    }
  }

  function addressList(title, urls, qrHolder) {
    const id = uniqueId('addr');
    return el('div', { class: 'field' },
      el('h3', { id }, title),
      el('ul', { class: 'addresses', 'aria-labelledby': id }, urls.map((url) => el('li', {},
        el('code', { class: 'address' }, url), ' ',
        el('button', { type: 'button', onclick: () => showQr(qrHolder, url) }, 'QR code')))));
  }

  async function download(route, params, type, name) {
    try {
      saveFile(await downloadRoute(route, params, type), name);
    } catch (error) {
      showStatus(status, 'error', describeError(error));
    }
  }

  // The host choices: the appliance's names and addresses, the remembered
  // one among them (or typed), and "Other" to type one.
  function fillHosts(info) {
    const options = info.hosts.map((choice) => el('option', { value: choice.host },
      choice.host + (choice.in_certificate ? ' (in the certificate)' : '')));
    const known = info.hosts.some((choice) => choice.host === info.host);
    if (!known) options.unshift(el('option', { value: info.host }, `${info.host} (typed)`));
    options.push(el('option', { value: OTHER }, 'Other…'));
    hostSelect.replaceChildren(...options);
    hostSelect.value = info.host;
    hostInput.hidden = true;
  }

  function certificateBlock(info) {
    const cert = info.certificate;
    if (!cert) return null;
    const authority = cert.authority;
    return el('div', { class: 'field', id: 'certificate' },
      el('h3', {}, 'Certificate'),
      authority ? [
        el('p', {}, 'Phones trust the appliance\'s own certificate authority, which can vouch only for '
          + `${authority.permitted.join(', ')}. The profile below installs it; on Android, install the file as a CA certificate. Its SHA-256 fingerprint (compare it with what the phone shows):`),
        el('code', { id: 'authority-fingerprint', class: 'address' }, authority.sha256),
        el('div', { class: 'buttons' }, el('button', { type: 'button', id: 'download-authority',
          onclick: () => download('connection/authority', {}, AUTHORITY_TYPE, 'appliance-ca.crt') },
        'Download certificate authority (.crt, for Android)')),
      ] : null,
      el('p', {}, 'The server\'s certificate, SHA-256 fingerprint:'),
      el('code', { id: 'fingerprint', class: 'address' }, cert.sha256),
      el('p', {}, `Valid until ${cert.not_after}; names: ${cert.names.join(', ') || 'none'}.`
        + (cert.self_signed ? ' Self-signed: the profile below installs it; then trust it in the phone\'s certificate trust settings.' : '')));
  }

  // Only the latest choice is drawn, whichever answer comes last.
  let shownSeq = 0;
  async function show(user, host = '') {
    const seq = ++shownSeq;
    hideStatus(status);
    clear(details);
    if (!user) return;
    let info;
    try {
      info = await callRoute('connection', { user, host });
    } catch (error) {
      if (seq === shownSeq) showStatus(status, 'error', describeError(error));
      return;
    }
    if (seq !== shownSeq) return;
    fillHosts(info);
    clear(details);
    const qrHolder = el('div', { id: 'qr-holder' });
    const notes = [];
    if (!info.ssl) {
      notes.push(el('p', { class: 'status status-error' },
        'SSL is off: passwords and data travel unencrypted. Turn it on in Server settings before using this over a network.'));
    } else {
      if (info.redirect) {
        notes.push(el('p', {}, 'Only the HTTPS addresses work: HTTP is redirected for browsers, and a CardDAV or CalDAV client given an HTTP address is told the HTTPS one instead of being signed in.'));
      }
      if (info.certificate && !info.host_in_certificate) {
        notes.push(el('p', { class: 'status status-error', id: 'connect-not-certified' },
          `${info.host} is not one of the certificate's names: phones will refuse the connection. Choose a name or address marked "in the certificate".`));
      }
    }
    // Parts that do not apply are left out (the DOM would print "null").
    details.append(...[
      ...notes,
      el('p', {}, `Sign in as ${info.user} with their password. Server address for clients that discover the rest:`),
      addressList('Server', info.server, qrHolder),
      addressList('CardDAV (contacts)', info.carddav, qrHolder),
      addressList('CalDAV (calendar)', info.caldav, qrHolder),
      certificateBlock(info),
      el('div', { class: 'buttons' }, el('button', { type: 'button', id: 'download-profile',
        onclick: () => download('connection/profile', { user, host: info.host }, PROFILE_TYPE,
          fileName(user, info.host, '.mobileconfig')) },
      'Download Apple profile (.mobileconfig)')),
      qrHolder].filter(Boolean));
    await showQr(qrHolder, info.carddav[0]);
  }

  async function remember(host) {
    try {
      await callRoute('connection/host', { host });
    } catch (error) {
      showStatus(status, 'error', describeError(error));
      return;
    }
    await show(select.value, host);
  }

  select.addEventListener('change', () => show(select.value));
  hostSelect.addEventListener('change', () => {
    hostInput.hidden = hostSelect.value !== OTHER;
    if (hostSelect.value === OTHER) hostInput.focus();
    else remember(hostSelect.value);
  });
  useHost.addEventListener('click', () => {
    const typed = hostInput.hidden ? hostSelect.value : hostInput.value.trim().replace(/^\[|\]$/g, '');
    if (typed) remember(typed);
  });

  async function load() {
    const loopback = loopbackPageHost();
    loopbackNote.hidden = !loopback;
    loopbackNote.textContent = loopback
      ? `This page was opened through ${loopback}, which on a phone means the phone itself. Phones are given the address chosen below instead.`
      : '';
    let users;
    try {
      users = (await loadUsers()).filter((user) => user.sign_in);
    } catch (error) {
      showStatus(status, 'error', describeError(error));
      return;
    }
    const keep = select.value;
    select.replaceChildren(...users.map((user) => el('option', { value: user.name }, user.name)));
    if (users.length === 0) {
      clear(details);
      showStatus(status, 'info', 'No users yet: add one on the Users page first.');
      return;
    }
    if (users.some((user) => user.name === keep)) select.value = keep;
    await show(select.value);
  }

  return { load };
}

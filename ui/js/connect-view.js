// The page for connecting a phone or desktop client: a user's CardDAV and
// CalDAV addresses as the server now serves them, the certificate's
// fingerprint to compare, a QR code of an address and an Apple
// configuration profile (both accounts, no password) to download.
import { callRoute, downloadRoute } from './api.js';
import { describeError } from './error-texts.js';
import { el, clear, showStatus, hideStatus, uniqueId } from './dom.js';
import { loadUsers } from './users-list.js';
import { qrImage } from './qr-image.js';

const PROFILE_TYPE = 'application/x-apple-aspen-config';

// The name the browser reached the appliance by is the one other devices
// on the same network use too.
function pageHost() {
  return window.location.hostname.replace(/^\[|\]$/g, '');
}

export function setUpConnect() {
  const root = document.getElementById('connect-root');
  const status = el('div', { id: 'connect-status', class: 'status', 'aria-live': 'polite', hidden: true });
  const select = el('select', { id: 'connect-user' });
  const picker = el('div', { class: 'toolbar' },
    el('div', { class: 'field inline' }, el('label', { for: 'connect-user' }, 'For user'), select));
  const details = el('div', { id: 'connect-details' });
  root.append(picker, status, details);

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

  async function downloadProfile(user) {
    try {
      const blob = await downloadRoute('connection/profile', { user, host: pageHost() }, PROFILE_TYPE);
      const url = URL.createObjectURL(blob);
      const link = el('a', { href: url, download: `${user}.mobileconfig`, hidden: true });
      document.body.append(link);
      link.click();
      link.remove();
      setTimeout(() => URL.revokeObjectURL(url), 10000);
    } catch (error) {
      showStatus(status, 'error', describeError(error));
    }
  }

  // Only the latest choice is drawn, whichever answer comes last.
  let shownSeq = 0;
  async function show(user) {
    const seq = ++shownSeq;
    hideStatus(status);
    clear(details);
    if (!user) return;
    let info;
    try {
      info = await callRoute('connection', { user, host: pageHost() });
    } catch (error) {
      if (seq === shownSeq) showStatus(status, 'error', describeError(error));
      return;
    }
    if (seq !== shownSeq) return;
    clear(details);
    const qrHolder = el('div', { id: 'qr-holder' });
    const notes = [];
    if (!info.ssl) {
      notes.push(el('p', { class: 'status status-error' },
        'SSL is off: passwords and data travel unencrypted. Turn it on in Server settings before using this over a network.'));
    } else if (info.redirect) {
      notes.push(el('p', {}, 'Only the HTTPS addresses work: HTTP is redirected, and clients drop the password when they follow a redirect to another port.'));
    }
    const cert = info.certificate;
    const certBlock = cert ? el('div', { class: 'field', id: 'certificate' },
      el('h3', {}, 'Certificate'),
      el('p', {}, 'SHA-256 fingerprint (compare it with what the phone shows):'),
      el('code', { id: 'fingerprint', class: 'address' }, cert.sha256),
      el('p', {}, `Valid until ${cert.not_after}; names: ${cert.names.join(', ')}`
        + (cert.self_signed ? '. Self-signed: the profile below installs it, then trust it in the phone\'s certificate trust settings.' : '.')))
      : null;
    details.append(
      ...notes,
      el('p', {}, `Sign in as ${info.user} with their password. Server address for clients that discover the rest:`),
      addressList('Server', info.server, qrHolder),
      addressList('CardDAV (contacts)', info.carddav, qrHolder),
      addressList('CalDAV (calendar)', info.caldav, qrHolder),
      certBlock,
      el('div', { class: 'buttons' }, el('button', { type: 'button', id: 'download-profile', onclick: () => downloadProfile(user) },
        'Download Apple profile (.mobileconfig)')),
      qrHolder);
    await showQr(qrHolder, info.carddav[0]);
  }

  select.addEventListener('change', () => show(select.value));

  async function load() {
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

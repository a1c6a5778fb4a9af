// The server settings page: filled by "get", saved by "set", with what the
// server answers now.
import { callApi, callRoute, COMMON_API } from './api.js';
import { describeError } from './error-texts.js';
import { el, showStatus, hideStatus } from './dom.js';

const PORT_FIELDS = [
  { key: 'HTTPPort', label: 'HTTP port' },
  { key: 'SSLPort', label: 'HTTPS port' },
];

// The start/stop script's reason in a 1007 detail, after the code's text.
function restartReason(detail) {
  const text = typeof detail === 'string' ? detail : '';
  const at = text.indexOf(': ');
  return at < 0 ? '' : text.slice(at + 2).trim();
}

// What a failed save means, naming the setting at fault. changed tells which
// ports differ from the stored ones (the firewall steps touch only those).
// A failed save changes nothing: what was applied before the failing step is
// put back.
function explainSetError(code, sent, changed, detail) {
  const changedPorts = PORT_FIELDS.filter((f) => changed[f.key]).map((f) => `${f.label} (${sent[f.key]})`);
  const portsText = changedPorts.length ? changedPorts.join(' and ') : 'the ports';
  switch (code) {
    case 900:
      return { text: 'A setting was missing from the request: SSL, the redirect, the HTTP port and the HTTPS port are all needed. Nothing was changed.' };
    case 1000:
      return { text: 'The server\'s configuration file could not be read, so the settings (SSL, redirect, HTTP and HTTPS ports) could not be checked or shown. Check the configuration file on the appliance.' };
    case 1001:
      return { text: 'The settings could not be written into the server\'s configuration file. Nothing was changed.' };
    case 1002:
      return { field: 'HTTPPort', text: `The HTTP port ${sent.HTTPPort} cannot be used: it is reserved by the appliance, used by another service or outside 1–65535. Choose another HTTP port. Nothing was changed.` };
    case 1003:
      return { field: 'SSLPort', text: `The HTTPS port ${sent.SSLPort} cannot be used: it is reserved by the appliance, used by another service or outside 1–65535. Choose another HTTPS port. Nothing was changed.` };
    case 1004:
      return { field: changed.HTTPPort ? 'HTTPPort' : 'SSLPort', text: `The new ${portsText} could not be written into the firewall's service definition. Nothing was changed.` };
    case 1005:
      return { field: changed.HTTPPort ? 'HTTPPort' : 'SSLPort', text: `The firewall could not be reloaded with ${portsText}. Nothing was changed.` };
    case 1006:
      return { text: 'The server\'s own configuration could not be made from these settings. Nothing was changed: the server keeps running with its previous settings.' };
    case 1007: {
      // The reason names the port at fault when one is ("port 8008 is in
      // use by another program (…)").
      const reason = restartReason(detail);
      const port = /\bport (\d+)\b/.exec(reason);
      const field = port ? PORT_FIELDS.find((f) => String(sent[f.key]) === port[1]) : undefined;
      const why = reason ? ` The reason: ${reason}.` : '';
      return { field: field && field.key, text: `The server could not be restarted with these settings. Nothing was changed: it keeps running with its previous settings.${why}` };
    }
    default:
      return { text: 'The settings could not be saved.' };
  }
}

// A whole number, as the module stores ports; null for anything else.
function parsePort(text) {
  const trimmed = text.trim();
  return /^\d{1,5}$/.test(trimmed) ? Number(trimmed) : null;
}

export function setUpSettings() {
  const form = document.getElementById('settings-form');
  const ssl = document.getElementById('EnableSSL');
  const redirect = document.getElementById('RedirectHTTPToHTTPS');
  const status = document.getElementById('settings-status');
  const saveButton = document.getElementById('settings-save');
  const ports = Object.fromEntries(PORT_FIELDS.map((f) => [f.key, document.getElementById(f.key)]));
  let stored = null;

  function markField(key, message) {
    const input = ports[key];
    const note = document.getElementById(`${key}-error`);
    if (message) {
      input.setAttribute('aria-invalid', 'true');
      note.textContent = message;
      note.hidden = false;
    } else {
      input.removeAttribute('aria-invalid');
      note.textContent = '';
      note.hidden = true;
    }
  }

  function clearMarks() {
    for (const f of PORT_FIELDS) markField(f.key, '');
  }

  // Without SSL there is nothing to redirect to: the box is cleared and
  // cannot be ticked.
  function syncRedirect() {
    redirect.disabled = !ssl.checked;
    if (!ssl.checked) redirect.checked = false;
  }
  ssl.addEventListener('change', syncRedirect);

  function fill(settings) {
    stored = settings || {};
    ssl.checked = stored.EnableSSL === true;
    redirect.checked = stored.RedirectHTTPToHTTPS === true;
    syncRedirect();
    for (const f of PORT_FIELDS) {
      const value = stored[f.key];
      ports[f.key].value = value === undefined || value === null ? '' : String(value);
    }
  }

  // The start/stop script's status: each line as it says it, the first
  // (started, stopped or failed) marked by how it went.
  const serverState = document.getElementById('server-state');
  async function checkServer() {
    serverState.replaceChildren(el('li', {}, 'Checking…'));
    try {
      const state = await callRoute('server/status');
      serverState.replaceChildren(...state.lines.map((line, index) => el('li',
        { class: index === 0 && state.state !== 'started' ? 'status-error' : null }, line)));
    } catch (error) {
      serverState.replaceChildren(el('li', { class: 'status-error' }, describeError(error)));
    }
  }
  document.getElementById('server-state-check').addEventListener('click', checkServer);

  async function load() {
    checkServer();
    clearMarks();
    hideStatus(status);
    try {
      const data = await callApi(COMMON_API, 'get');
      fill(data && data.common);
    } catch (error) {
      showStatus(status, 'error', `The settings could not be read: ${describeError(error)}`);
    }
  }

  async function save() {
    clearMarks();
    hideStatus(status);
    const sent = { EnableSSL: ssl.checked, RedirectHTTPToHTTPS: redirect.checked };
    let firstBad = null;
    for (const f of PORT_FIELDS) {
      const port = parsePort(ports[f.key].value);
      if (port === null || port < 1 || port > 65535) {
        markField(f.key, `The ${f.label} must be a whole number from 1 to 65535.`);
        firstBad = firstBad || f.key;
      }
      sent[f.key] = port;
    }
    if (!firstBad && sent.HTTPPort === sent.SSLPort) {
      markField('SSLPort', 'The HTTPS port must differ from the HTTP port.');
      firstBad = 'SSLPort';
    }
    if (firstBad) {
      showStatus(status, 'error', 'Nothing was saved: correct the marked field.');
      ports[firstBad].focus();
      return;
    }
    const changed = {
      HTTPPort: !stored || String(stored.HTTPPort) !== String(sent.HTTPPort),
      SSLPort: !stored || String(stored.SSLPort) !== String(sent.SSLPort),
    };
    saveButton.disabled = true;
    showStatus(status, 'info', 'Saving and restarting the server…');
    try {
      const data = await callApi(COMMON_API, 'set', sent);
      fill(data && data.common);
      showStatus(status, 'ok', 'Saved. The server was restarted with these settings.');
      checkServer();
    } catch (error) {
      const explanation = typeof error.code === 'number' && error.code >= 900
        ? explainSetError(error.code, sent, changed, error.detail) : { text: '' };
      if (explanation.field) {
        markField(explanation.field, explanation.text);
        ports[explanation.field].focus();
      }
      const lines = [explanation.text, describeError(error)].filter(Boolean);
      showStatus(status, 'error', ...lines);
    } finally {
      saveButton.disabled = false;
    }
  }

  form.addEventListener('submit', (event) => {
    event.preventDefault();
    save();
  });
  document.getElementById('settings-reload').addEventListener('click', load);

  return { load };
}

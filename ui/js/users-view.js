// The users page: the server's sign-ins, each with their address book and
// calendars; add a user, change a password, remove a user (their data stays
// unless the administrator asks, after a confirmation naming how much).
import { callRoute } from './api.js';
import { describeError } from './error-texts.js';
import { el, clear, field, showStatus, hideStatus } from './dom.js';
import { ask } from './confirm.js';
import { loadUsers, plural } from './users-list.js';

function dataText(user) {
  return `${plural(user.cards, 'card')}, ${plural(user.calendars, 'calendar')} `
    + `(${plural(user.events, 'entry', 'entries')})`;
}

function signInText(user) {
  if (!user.sign_in) return 'No sign-in: an address book without a user';
  if (user.password_checkable) return 'Password set (bcrypt)';
  return `Password stored as ${user.password}: the server cannot check it, so this user cannot sign in. Set a new password.`;
}

export function setUpUsers() {
  const root = document.getElementById('users-root');
  const status = el('div', { id: 'users-status', class: 'status', 'aria-live': 'polite', hidden: true });
  const nameInput = el('input', { id: 'new-user', autocomplete: 'off', spellcheck: 'false', required: true });
  const passwordInput = el('input', { id: 'new-password', type: 'password', autocomplete: 'new-password', required: true });
  const addForm = el('form', { class: 'card narrow', id: 'add-user-form' },
    el('h3', {}, 'Add a user'),
    field('User name', nameInput, 'At most 64 characters; no "/", ":" or "..", no "#" or "." first, no invisible or line-breaking characters, no blank at either end. Names that differ only in case are one user.').wrap,
    field('Password', passwordInput).wrap,
    el('div', { class: 'buttons' }, el('button', { type: 'submit', class: 'primary' }, 'Add user')));
  const table = el('table', { class: 'cards', id: 'user-table' },
    el('caption', { class: 'visually-hidden' }, 'Users of the server'),
    el('thead', {}, el('tr', {},
      el('th', { scope: 'col' }, 'User'),
      el('th', { scope: 'col' }, 'Sign-in'),
      el('th', { scope: 'col' }, 'Data'),
      el('th', { scope: 'col' }, 'Actions'))),
    el('tbody'));
  const warning = el('div', { id: 'users-warning', class: 'status status-error', hidden: true });
  root.append(status, warning, table, addForm);

  async function setPassword(user) {
    const input = el('input', { id: 'change-password', type: 'password', autocomplete: 'new-password' });
    const ok = await ask({
      title: `New password for ${user.name}`,
      body: [field('New password', input).wrap],
      ok: 'Set password',
    });
    if (!ok) return;
    try {
      await callRoute('users/password', { user: user.name, password: input.value });
      showStatus(status, 'ok', `The password of ${user.name} was changed.`);
    } catch (error) {
      showStatus(status, 'error', describeError(error));
    }
    await load(false);
  }

  async function remove(listed) {
    // The counts named must be those of now, not of the last listing.
    let user = listed;
    try {
      user = (await loadUsers()).find((one) => one.name === listed.name) || listed;
    } catch {
      // the listed counts, then
    }
    const both = el('input', { type: 'checkbox', id: 'remove-data' });
    const hasData = user.cards + user.events + user.calendars > 0;
    const body = [user.sign_in
      ? `${user.name} will no longer be able to sign in. Their ${dataText(user)} stay on the server unless you tick the box.`
      : `${user.name} has no sign-in. Remove their ${dataText(user)}?`];
    if (hasData && user.sign_in) {
      body.push(el('div', { class: 'check' }, both,
        el('label', { for: 'remove-data' }, `Also delete their ${dataText(user)}`)));
    }
    if (!(await ask({ title: `Remove ${user.name}?`, body, ok: 'Remove', danger: true }))) return;
    const deleteData = !user.sign_in || both.checked;
    if (deleteData && hasData) {
      const sure = await ask({
        title: `Delete the data of ${user.name}?`,
        body: [`This deletes ${user.name}'s ${dataText(user)}. This cannot be undone.`],
        ok: `Delete ${plural(user.cards, 'card')} and ${plural(user.events, 'entry', 'entries')}`,
        danger: true,
      });
      if (!sure) return;
    }
    try {
      const done = await callRoute('users/remove', { user: user.name, delete_data: deleteData });
      showStatus(status, 'ok', deleteData
        ? `${user.name} was removed with ${plural(done.deleted_cards, 'card')} and ${plural(done.deleted_events, 'calendar entry', 'calendar entries')}.`
        : `${user.name} was removed; ${plural(done.kept_cards, 'card')} stay on the server.`);
    } catch (error) {
      showStatus(status, 'error', describeError(error));
    }
    await load(false);
  }

  function row(user) {
    const bad = user.sign_in && !user.password_checkable;
    // Names stored before today's rules keep working; the page says what is odd.
    const odd = user.name_warning
      ? el('span', { class: 'hint name-warning' }, `Unusual name: ${user.name_warning}.`) : null;
    return el('tr', { dataset: { user: user.name }, class: bad || odd ? 'warn' : undefined },
      el('th', { scope: 'row' }, user.name, odd ? el('br') : null, odd),
      el('td', {}, signInText(user)),
      el('td', {}, dataText(user)),
      el('td', { class: 'row-actions' },
        user.sign_in ? el('button', { type: 'button', onclick: () => setPassword(user) },
          bad ? 'Set a new password' : 'Change password') : null,
        el('button', { type: 'button', class: 'danger', onclick: () => remove(user) }, 'Remove')));
  }

  async function load(clearStatus = true) {
    if (clearStatus) hideStatus(status);
    let users;
    try {
      users = await loadUsers();
    } catch (error) {
      showStatus(status, 'error', describeError(error));
      return;
    }
    const body = table.tBodies[0];
    clear(body);
    for (const user of users) body.append(row(user));
    if (users.length === 0) body.append(el('tr', {}, el('td', { colspan: 4 }, 'No users yet: add one below.')));
    const unusable = users.filter((user) => user.sign_in && !user.password_checkable);
    const odd = users.filter((user) => user.name_warning);
    warning.hidden = unusable.length + odd.length === 0;
    clear(warning);
    if (odd.length) {
      warning.append(el('p', {}, `${plural(odd.length, 'user name')} would not be accepted today and may look like another or hide a character: `
        + odd.map((user) => `${JSON.stringify(user.name)} (${user.name_warning})`).join(', ') + '. They still sign in; to rename one, add the new name and remove the old.'));
    }
    if (unusable.length) {
      warning.append(el('p', {}, `${plural(unusable.length, 'user')} cannot sign in: the stored password is in a format the server cannot check (`
        + unusable.map((user) => `${user.name}: ${user.password}`).join(', ') + '). Set a new password for each.'));
    }
  }

  addForm.addEventListener('submit', async (event) => {
    event.preventDefault();
    const name = nameInput.value;
    try {
      await callRoute('users/add', { user: name, password: passwordInput.value });
      showStatus(status, 'ok', `${name} was added with an address book and a calendar.`);
      nameInput.value = '';
      passwordInput.value = '';
    } catch (error) {
      showStatus(status, 'error', describeError(error));
    }
    await load(false);
  });

  return { load };
}

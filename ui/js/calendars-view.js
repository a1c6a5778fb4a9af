// The calendars page: each user's calendars and address books with how
// many items they hold; make a calendar, delete one (after a confirmation
// naming how many entries go with it).
import { callRoute } from './api.js';
import { describeError } from './error-texts.js';
import { el, clear, field, showStatus, hideStatus } from './dom.js';
import { ask } from './confirm.js';
import { loadUsers, plural } from './users-list.js';
import { calendarFileButtons } from './calendar-files.js';

const KINDS = { addressbook: 'Address book', calendar: 'Calendar', other: 'Other' };

export function setUpCalendars() {
  const root = document.getElementById('calendars-root');
  const status = el('div', { id: 'calendars-status', class: 'status', 'aria-live': 'polite', hidden: true });
  const list = el('div', { id: 'collection-list' });
  const userSelect = el('select', { id: 'calendar-user' });
  const nameInput = el('input', { id: 'calendar-name', autocomplete: 'off', spellcheck: 'false', required: true });
  const shownInput = el('input', { id: 'calendar-display-name', autocomplete: 'off' });
  const form = el('form', { class: 'card narrow', id: 'create-calendar-form' },
    el('h3', {}, 'New calendar'),
    el('div', { class: 'field' }, el('label', { for: 'calendar-user' }, 'Owner'), userSelect),
    field('Calendar name (in its address)', nameInput).wrap,
    field('Display name', shownInput).wrap,
    el('div', { class: 'buttons' }, el('button', { type: 'submit', class: 'primary' }, 'Create calendar')));
  root.append(status, list, form);

  async function remove(user, collection) {
    const sure = await ask({
      title: `Delete the calendar ${collection.display_name || collection.name}?`,
      body: [`This deletes ${user}'s calendar "${collection.name}" with its ${plural(collection.items, 'entry', 'entries')}. This cannot be undone.`],
      ok: 'Delete calendar',
      danger: true,
    });
    if (!sure) return;
    try {
      await callRoute('calendars/delete', { user, name: collection.name });
      showStatus(status, 'ok', `The calendar ${collection.name} of ${user} was deleted.`);
    } catch (error) {
      showStatus(status, 'error', describeError(error));
    }
    await load(false);
  }

  function userBlock(user) {
    return el('section', { class: 'card', dataset: { user: user.name }, 'aria-label': `Collections of ${user.name}` },
      el('h3', {}, user.name),
      el('table', { class: 'cards' },
        el('thead', {}, el('tr', {},
          el('th', { scope: 'col' }, 'Name'),
          el('th', { scope: 'col' }, 'Kind'),
          el('th', { scope: 'col' }, 'Items'),
          el('th', { scope: 'col' }, 'Actions'))),
        el('tbody', {}, user.collections.map((collection) => el('tr', { dataset: { name: collection.name } },
          el('th', { scope: 'row' }, collection.display_name && collection.display_name !== collection.name
            ? `${collection.display_name} (${collection.name})` : collection.name),
          el('td', {}, KINDS[collection.kind] || collection.kind),
          el('td', {}, String(collection.items)),
          el('td', { class: 'actions' }, collection.kind === 'calendar'
            ? [...calendarFileButtons(user.name, collection, status, () => load(false)),
              el('button', { type: 'button', class: 'danger', onclick: () => remove(user.name, collection) }, 'Delete')]
            : null))))));
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
    clear(list);
    for (const user of users) list.append(userBlock(user));
    if (users.length === 0) list.append(el('p', {}, 'No users yet: add one on the Users page first.'));
    const keep = userSelect.value;
    userSelect.replaceChildren(...users.map((user) => el('option', { value: user.name }, user.name)));
    if (users.some((user) => user.name === keep)) userSelect.value = keep;
  }

  form.addEventListener('submit', async (event) => {
    event.preventDefault();
    const params = { user: userSelect.value, name: nameInput.value };
    if (shownInput.value) params.display_name = shownInput.value;
    try {
      await callRoute('calendars/create', params);
      showStatus(status, 'ok', `The calendar ${params.name} of ${params.user} was created.`);
      nameInput.value = '';
      shownInput.value = '';
    } catch (error) {
      showStatus(status, 'error', describeError(error));
    }
    await load(false);
  });

  return { load };
}

// The history page: for one user's address book or calendar, the deleted
// entries (trash) to restore, the kept changes with "Undo changes" to any
// of their times, one entry's versions to restore, and how long changes are
// kept. Every change made here is kept in turn, so it can be undone too.
import { callRoute } from './api.js';
import { describeError } from './error-texts.js';
import { el, clear, field, showStatus, hideStatus } from './dom.js';
import { ask } from './confirm.js';
import { loadUsers, plural } from './users-list.js';

const when = (ms) => new Date(ms).toLocaleString();

export function setUpHistory() {
  const root = document.getElementById('history-root');
  const status = el('div', { id: 'history-status', class: 'status', 'aria-live': 'polite', hidden: true });
  const userSelect = el('select', { id: 'history-user' });
  const collectionSelect = el('select', { id: 'history-collection' });
  const note = el('p', { id: 'history-note', class: 'hint' });
  const trashBlock = el('section', { id: 'trash', class: 'card', 'aria-label': 'Deleted entries' });
  const changesBlock = el('section', { id: 'changes', class: 'card', 'aria-label': 'Kept changes' });
  const versionsBlock = el('section', { id: 'versions', class: 'card', 'aria-label': 'Versions', hidden: true });
  const daysInput = el('input', { id: 'history-keep-days', type: 'number', min: '1', max: '365', required: true });
  const limitInput = el('input', { id: 'history-size-limit', type: 'number', min: '1', max: '102400', required: true });
  const settingsForm = el('form', { id: 'history-settings', class: 'card narrow' },
    el('h3', {}, 'How long changes are kept'),
    field('Days (1 to 365)', daysInput).wrap,
    field('Size limit of one history (MB)', limitInput,
      'When a history grows past it, its oldest changes are dropped first.').wrap,
    el('div', { class: 'buttons' }, el('button', { type: 'submit' }, 'Save')));
  root.append(
    el('form', { class: 'toolbar', id: 'history-pick' },
      el('div', { class: 'field inline' }, el('label', { for: 'history-user' }, 'User'), userSelect),
      el('div', { class: 'field inline' }, el('label', { for: 'history-collection' }, 'Book or calendar'), collectionSelect)),
    status, note, trashBlock, versionsBlock, changesBlock, settingsForm);

  const where = () => ({ user: userSelect.value, collection: collectionSelect.value });
  const fail = (error) => showStatus(status, 'error', describeError(error));

  // The user's books and calendars as kept, deleted ones too (their trash
  // brings them back whole).
  async function fillCollections() {
    const keep = collectionSelect.value;
    const kept = userSelect.value ? await callRoute('history/collections', { user: userSelect.value }) : [];
    collectionSelect.replaceChildren(...kept.map((c) => el('option', { value: c.name },
      (c.display_name && c.display_name !== c.name ? `${c.display_name} (${c.name})` : c.name) +
      (c.deleted ? ' (deleted)' : ''))));
    if (kept.some((c) => c.name === keep)) collectionSelect.value = keep;
  }

  async function restore(names) {
    try {
      const restored = await callRoute('history/restore', { ...where(), names });
      const moved = restored.filter((r) => r.restored_as !== r.name);
      showStatus(status, 'ok', `${plural(restored.length, 'entry', 'entries')} restored.`,
        ...moved.map((r) => `${r.name} was taken again, so it came back as ${r.restored_as}.`));
    } catch (error) {
      fail(error);
    }
    await show(false);
  }

  function renderTrash(trash) {
    clear(trashBlock);
    trashBlock.append(el('h3', {}, 'Trash'));
    if (trash.items.length === 0) {
      trashBlock.append(el('p', {}, `Nothing deleted in the last ${plural(trash.keep_days, 'day')}.`));
      return;
    }
    trashBlock.append(
      el('p', {}, `Deleted entries are kept for ${plural(trash.keep_days, 'day')}.`),
      el('div', { class: 'buttons' }, el('button', {
        type: 'button', id: 'restore-all', onclick: () => restore(trash.items.map((i) => i.name)),
      }, `Restore all ${trash.items.length}`)),
      el('table', { class: 'cards' },
        el('thead', {}, el('tr', {}, ['Name', 'Deleted', 'By', 'Actions'].map((h) => el('th', { scope: 'col' }, h)))),
        el('tbody', {}, trash.items.map((item) => el('tr', { dataset: { name: item.name } },
          el('th', { scope: 'row' }, item.summary || item.name),
          el('td', {}, when(item.deleted)),
          el('td', {}, item.by),
          el('td', {},
            el('button', { type: 'button', onclick: () => restore([item.name]) }, 'Restore'),
            el('button', { type: 'button', class: 'link', onclick: () => showVersions(item.name) }, 'History')))))));
  }

  async function undoTo(time) {
    let preview;
    try {
      preview = await callRoute('history/undo_preview', { ...where(), time });
    } catch (error) {
      fail(error);
      return;
    }
    const sure = await ask({
      title: `Undo changes made after ${when(time)}?`,
      body: [`This adds back ${plural(preview.add, 'entry', 'entries')}, changes ${plural(preview.change, 'entry', 'entries')} and removes ${plural(preview.remove, 'entry', 'entries')}.`,
        'This is kept as one change of its own, which can be undone in turn.'],
      ok: 'Undo changes',
    });
    if (!sure) return;
    try {
      await callRoute('history/undo', { ...where(), time, token: preview.token });
      showStatus(status, 'ok', `Put back to ${when(time)}.`);
    } catch (error) {
      fail(error);
    }
    await show(false);
  }

  function renderChanges(kept) {
    clear(changesBlock);
    changesBlock.append(el('h3', {}, 'Changes'));
    note.textContent = `Changes are kept since ${when(kept.since)}.` +
      (kept.trimmed ? ' Older changes were dropped to keep this history under its size limit.' : '');
    if (kept.changes.length === 0) {
      changesBlock.append(el('p', {}, 'No changes kept yet.'));
      return;
    }
    changesBlock.append(el('table', { class: 'cards' },
      el('thead', {}, el('tr', {}, ['When', 'By', 'Entries', 'Actions'].map((h) => el('th', { scope: 'col' }, h)))),
      el('tbody', {}, kept.changes.map((change) => el('tr', { dataset: { change: change.change } },
        el('th', { scope: 'row' }, when(change.time)),
        el('td', {}, change.by),
        el('td', {}, String(change.count)),
        el('td', {}, el('button', { type: 'button', onclick: () => undoTo(change.time - 1) }, 'Undo this and later changes')))))));
  }

  async function restoreVersion(name, index, current) {
    try {
      await callRoute('history/restore_version', { ...where(), name, index, current });
      showStatus(status, 'ok', `${name}: the version is now the newest.`);
    } catch (error) {
      fail(error);
    }
    await show(false);
    await showVersions(name);
  }

  async function showVersions(name) {
    let kept;
    try {
      kept = await callRoute('history/versions', { ...where(), name });
    } catch (error) {
      fail(error);
      return;
    }
    clear(versionsBlock);
    versionsBlock.hidden = false;
    versionsBlock.append(el('h3', {}, `Versions of ${name}`),
      el('table', { class: 'cards' },
        el('thead', {}, el('tr', {}, ['When', 'By', 'What changed', 'Actions'].map((h) => el('th', { scope: 'col' }, h)))),
        el('tbody', {}, kept.versions.map((v, index) => el('tr', {},
          el('th', { scope: 'row' }, when(v.time)),
          el('td', {}, v.by),
          el('td', {}, v.deleted ? 'deleted' : (v.changed.join(', ') || 'nothing')),
          el('td', {}, v.deleted || v.version === kept.current ? null
            : el('button', { type: 'button', onclick: () => restoreVersion(name, index, kept.current) }, 'Restore this version')))))));
  }

  async function show(clearStatus = true) {
    if (clearStatus) hideStatus(status);
    versionsBlock.hidden = true;
    if (!userSelect.value || !collectionSelect.value) return;
    try {
      const [trash, kept] = await Promise.all([callRoute('history/trash', where()), callRoute('history/changes', where())]);
      renderTrash(trash);
      renderChanges(kept);
    } catch (error) {
      clear(trashBlock);
      clear(changesBlock);
      fail(error);
    }
  }

  async function load() {
    let users;
    try {
      users = await loadUsers();
      const settings = await callRoute('history/settings', {});
      daysInput.value = settings.keep_days;
      limitInput.value = settings.size_limit_mb;
    } catch (error) {
      fail(error);
      return;
    }
    const keep = userSelect.value;
    userSelect.replaceChildren(...users.map((user) => el('option', { value: user.name }, user.name)));
    if (users.some((user) => user.name === keep)) userSelect.value = keep;
    try {
      await fillCollections();
    } catch (error) {
      fail(error);
      return;
    }
    await show();
  }

  userSelect.addEventListener('change', () => fillCollections().then(() => show(), fail));
  collectionSelect.addEventListener('change', () => show());
  settingsForm.addEventListener('submit', async (event) => {
    event.preventDefault();
    try {
      await callRoute('history/settings', { keep_days: Number(daysInput.value), size_limit_mb: Number(limitInput.value) });
      showStatus(status, 'ok', 'Saved.');
    } catch (error) {
      fail(error);
    }
    await show(false);
  });

  return { load };
}

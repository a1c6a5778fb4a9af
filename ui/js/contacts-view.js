// The contacts page: one user's address book, its search, the card form,
// delete, export and import. The list draws only the rows in view (any book
// size keeps a few hundred elements), and a change redraws only those.
import { callApi, exportCards, CONTACTS_API } from './api.js';
import { describeError } from './error-texts.js';
import { el, clear, showStatus, hideStatus } from './dom.js';
import {
  displayName, organisation, firstData, clone, phoneText, sortText,
} from './record.js';
import { CardForm, fieldKeys, fieldValue, fieldName } from './card-form.js';
import { runImport } from './import-file.js';
import { ask } from './confirm.js';
import { attachUserMenu } from './user-menu.js';
import { setUpDuplicates } from './duplicates-view.js';

const USER_KEY = 'orva.user';
const SORT_KEY = 'orva.sort';
const SEARCH_DELAY_MS = 120;
// Rows drawn beyond the visible ones, above and below.
const OVERSCAN = 12;
// Cards per delete or export request: the module takes 10,000 at most, and
// smaller batches let the page show progress and stop between them.
export const BATCH = 500;
const CHANGED = 1012;

function plural(n) {
  return `${n} ${n === 1 ? 'card' : 'cards'}`;
}

function same(a, b) {
  return JSON.stringify(a) === JSON.stringify(b);
}

// The ids named by a 1012 answer of delete_cards ("…: id, id").
function idsOfChanged(detail) {
  const text = typeof detail === 'string' ? detail : '';
  const at = text.indexOf(':');
  return at < 0 ? [] : text.slice(at + 1).split(',').map((id) => id.trim()).filter(Boolean);
}

export function setUpContacts() {
  const userForm = document.getElementById('user-form');
  const userInput = document.getElementById('user');
  const userMenu = attachUserMenu(userInput);
  const book = document.getElementById('book');
  const search = document.getElementById('search');
  const count = document.getElementById('book-count');
  const status = document.getElementById('contacts-status');
  const tbody = document.querySelector('#card-list tbody');
  const emptyNote = document.getElementById('list-empty');
  const selectAll = document.getElementById('select-all');
  const deleteButton = document.getElementById('delete-cards');
  const exportButton = document.getElementById('export-cards');
  const addButton = document.getElementById('add-card');
  const importInput = document.getElementById('import-file');
  const editorPane = document.getElementById('editor');
  const batchBox = document.getElementById('batch-progress');
  const batchLabel = document.getElementById('batch-label');
  const batchBar = document.getElementById('batch-bar');
  const batchCancel = document.getElementById('batch-cancel');

  const listPane = document.getElementById('list-scroll');
  const table = document.getElementById('card-list');
  const sortSelect = document.getElementById('sort-order');

  const state = {
    user: '',
    all: null,          // the whole book as listed, in order, when known
    cards: [],          // the records shown, in order
    total: null,        // cards in the whole book, when known
    selected: new Set(),
    listSeq: 0,         // drops the answers of superseded searches
    form: null,
    searchTimer: 0,
    order: window.localStorage.getItem(SORT_KEY) === 'family' ? 'family' : 'given',
    rowHeight: 0,
    rows: new Map(),    // id -> {tr, card, box}: the rows drawn now
    drawPending: false,
  };
  sortSelect.value = state.order;

  function showError(error, what) {
    showStatus(status, 'error', `${what}: ${describeError(error)}`);
  }

  function updateButtons() {
    let picked = 0;
    for (const card of state.cards) if (state.selected.has(card.id)) picked += 1;
    const shown = state.cards.length;
    deleteButton.disabled = picked === 0;
    exportButton.disabled = picked === 0;
    deleteButton.textContent = picked > 0 ? `Delete selected (${picked})` : 'Delete selected';
    exportButton.textContent = picked > 0 ? `Export selected (${picked})` : 'Export selected';
    selectAll.checked = picked > 0 && picked === shown;
    selectAll.indeterminate = picked > 0 && picked < shown;
  }

  function updateCount() {
    const key = search.value;
    const shown = state.cards.length;
    if (key === '') {
      count.textContent = `${shown} ${shown === 1 ? 'card' : 'cards'}`;
    } else {
      const of = state.total === null ? '' : ` of ${state.total}`;
      count.textContent = `${shown}${of} ${shown === 1 && !of ? 'card matches' : 'cards match'}`;
    }
  }

  // Orders records by the chosen name order; a text per card, computed once.
  function ordered(cards) {
    const keyed = cards.map((card) => ({ card, key: sortText(card, state.order) }));
    keyed.sort((a, b) => (a.key < b.key ? -1 : a.key > b.key ? 1 : 0));
    return keyed.map((entry) => entry.card);
  }

  function makeRow(card, index) {
    const name = displayName(card);
    const box = el('input', {
      type: 'checkbox', 'aria-label': `Select ${name}`,
      onchange: () => {
        if (box.checked) state.selected.add(card.id);
        else state.selected.delete(card.id);
        updateButtons();
      },
    });
    const open = el('button', { type: 'button', class: 'link', onclick: () => openFormGuarded(card) }, name);
    const tr = el('tr', { dataset: { id: card.id } },
      el('td', { class: 'pick' }, box),
      el('th', { scope: 'row' }, open),
      el('td', { 'data-label': 'Organisation' }, organisation(card)),
      el('td', { 'data-label': 'Phone' }, phoneText(firstData(card, 'tel'))),
      el('td', { 'data-label': 'E-mail' }, firstData(card, 'mail')));
    tr.setAttribute('aria-rowindex', String(index + 2));
    return { tr, card, box };
  }

  function spacer(height) {
    const tr = el('tr', { class: 'spacer', 'aria-hidden': 'true' }, el('td', { colspan: 5 }));
    tr.firstChild.style.height = `${height}px`;
    return tr;
  }

  // Draws the rows in view. A row already drawn for the same record is kept
  // in place (so the focus in it stays); only its marks are brought up to date.
  function drawRows() {
    state.drawPending = false;
    const cards = state.cards;
    const height = state.rowHeight || 40;
    const paneTop = listPane.getBoundingClientRect().top;
    const bodyTop = tbody.getBoundingClientRect().top - paneTop + listPane.scrollTop;
    const viewTop = Math.max(0, listPane.scrollTop - bodyTop);
    const viewHeight = listPane.clientHeight || window.innerHeight;
    const first = Math.max(0, Math.floor(viewTop / height) - OVERSCAN);
    const last = Math.min(cards.length, Math.ceil((viewTop + viewHeight) / height) + OVERSCAN);
    const currentId = state.form ? state.form.cardId : null;

    const kept = new Map();
    const wanted = [];
    for (let i = first; i < last; i += 1) {
      const card = cards[i];
      let row = state.rows.get(card.id);
      if (!row || row.card !== card || kept.has(card.id)) row = makeRow(card, i);
      row.tr.setAttribute('aria-rowindex', String(i + 2));
      row.box.checked = state.selected.has(card.id);
      row.tr.classList.toggle('current', card.id === currentId);
      kept.set(card.id, row);
      wanted.push(row.tr);
    }
    const top = spacer(first * height);
    const bottom = spacer((cards.length - last) * height);
    const nodes = [top, ...wanted, bottom];
    // Old rows go; kept rows stay where they are; new ones go in between.
    const keep = new Set(nodes);
    for (const child of [...tbody.children]) if (!keep.has(child)) child.remove();
    let cursor = tbody.firstChild;
    for (const node of nodes) {
      if (node === cursor) {
        cursor = cursor.nextSibling;
      } else {
        tbody.insertBefore(node, cursor);
      }
    }
    state.rows = kept;
    table.setAttribute('aria-rowcount', String(cards.length + 1));

    if (!state.rowHeight && wanted.length) {
      state.rowHeight = wanted[0].getBoundingClientRect().height || 40;
      if (Math.abs(state.rowHeight - height) > 0.5) drawRows();
    }
  }

  function scheduleDraw() {
    if (state.drawPending) return;
    state.drawPending = true;
    requestAnimationFrame(drawRows);
  }

  function renderList() {
    const visible = new Set(state.cards.map((card) => card.id));
    for (const id of [...state.selected]) if (!visible.has(id)) state.selected.delete(id);
    drawRows();
    emptyNote.hidden = state.cards.length > 0;
    emptyNote.textContent = search.value ? 'No card matches the search.' : 'This address book has no cards yet.';
    updateButtons();
    updateCount();
  }

  async function listCards(key, signal) {
    const data = await callApi(CONTACTS_API, 'list_cards',
      key ? { user: state.user, search_key: key } : { user: state.user }, signal);
    return data && Array.isArray(data.cards) ? data.cards : [];
  }

  // The number of cards of the whole book.
  async function countBook() {
    return (await listCards('')).length;
  }

  // A search's answer in the book's order: by each card's place in the whole
  // listing when it is known, else sorted on its own.
  function inBookOrder(cards) {
    if (!state.all) return ordered(cards);
    if (!state.rank) state.rank = new Map(state.all.map((card, i) => [card.id, i]));
    const known = [];
    const unknown = [];
    for (const card of cards) (state.rank.has(card.id) ? known : unknown).push(card);
    known.sort((a, b) => state.rank.get(a.id) - state.rank.get(b.id));
    return unknown.length ? ordered([...known, ...unknown]) : known;
  }

  function setAll(cards) {
    state.all = ordered(cards);
    state.rank = null;
    state.total = cards.length;
  }

  // Lists the book again with the search as it stands.
  async function refresh() {
    const seq = ++state.listSeq;
    const key = search.value;
    // A search still on its way is no longer wanted: its answer is not read.
    if (state.listing) state.listing.abort();
    const listing = new AbortController();
    state.listing = listing;
    try {
      const cards = await listCards(key, listing.signal);
      if (seq !== state.listSeq) return;
      if (key === '') {
        setAll(cards);
        state.cards = state.all;
      } else {
        state.cards = inBookOrder(cards);
      }
      renderList();
    } catch (error) {
      if (seq === state.listSeq) showError(error, 'The cards could not be listed');
    } finally {
      if (state.listing === listing) state.listing = null;
    }
  }

  async function refreshWithTotal() {
    if (search.value !== '') {
      try {
        setAll(await listCards(''));
      } catch {
        state.total = null;
      }
    }
    await refresh();
  }

  // One card stored anew: its record (with its new version) read back through
  // a search that finds it and few others, and put in its row alone.
  async function refreshCard(id, record) {
    const name = record.name || {};
    const key = [name.family_name, name.given_name, (record.company || {}).org]
      .find((text) => typeof text === 'string' && text.trim().length >= 2);
    let found = null;
    try {
      const known = id ? null : new Set((state.all || []).map((c) => c.id));
      if (key) found = (await listCards(key)).find((c) => (id ? c.id === id : !known.has(c.id)));
    } catch {
      found = null;
    }
    if (!found || !state.all) {
      await refreshWithTotal();
      return;
    }
    const at = state.all.findIndex((c) => c.id === found.id);
    if (at >= 0 && sortText(state.all[at], state.order) === sortText(found, state.order)) {
      state.all[at] = found;
      const shown = state.cards === state.all ? -1 : state.cards.findIndex((c) => c.id === found.id);
      if (shown >= 0) state.cards[shown] = found;
    } else {
      // A new card, or one whose name moved it: its place in the order changes.
      const rest = state.all.filter((c) => c.id !== found.id);
      setAll([...rest, found]);
      if (search.value === '') state.cards = state.all;
      else state.cards = inBookOrder(state.cards.filter((c) => c.id !== found.id).concat(at < 0 ? [] : [found]));
    }
    renderList();
  }

  function closeForm() {
    state.form = null;
    clear(editorPane);
    editorPane.hidden = true;
    book.classList.remove('editing');
    drawRows();
  }

  // True when nothing unsaved would be lost, or the person chose to lose it.
  async function mayLeaveForm() {
    if (!state.form || !state.form.isDirty()) return true;
    const name = state.form.isNew ? 'the new card' : displayName(state.form.original);
    return ask({
      title: 'Discard your changes?',
      body: [`Your changes to ${name} are not saved.`],
      ok: 'Discard changes',
      cancel: 'Keep editing',
      danger: true,
    });
  }

  // The card as stored now, or null when it is gone.
  async function fetchCard(id) {
    const data = await callApi(CONTACTS_API, 'list_cards', { user: state.user });
    const cards = data && Array.isArray(data.cards) ? data.cards : [];
    return cards.find((c) => c.id === id) || null;
  }

  // The card changed elsewhere since it was listed: the person's edits go
  // onto the stored version; a field changed on both sides is shown with
  // both values for the person to choose. Nothing is saved until they do.
  async function mergeChanged(card, form) {
    const mine = form.edits();
    let current;
    try {
      current = await fetchCard(card.id);
    } catch (error) {
      form.showError(`The card was changed elsewhere, and its new version could not be read: ${describeError(error)}`);
      return;
    }
    if (!current) {
      const draft = form.collect();
      for (const key of ['id', 'etag', 'resource_name', 'other']) delete draft[key];
      openForm(null, {
        draft,
        notice: 'This card was deleted elsewhere since the page listed it. Your version is still here: '
          + '"Add card" stores it as a new card.',
      });
      return;
    }
    const draft = clone(current);
    const conflicts = {};
    const changedThere = [];
    for (const key of fieldKeys(current, card)) {
      const base = fieldValue(card, key);
      const theirs = fieldValue(current, key);
      if (!(key in mine)) {
        if (!same(base, theirs)) changedThere.push(fieldName(key));
        continue;
      }
      setField(draft, key, mine[key]);
      if (!same(base, theirs) && !same(theirs, mine[key])) conflicts[key] = theirs;
    }
    const both = Object.keys(conflicts).map(fieldName);
    const parts = ['This card was changed elsewhere since you opened it.'];
    if (changedThere.length) parts.push(`Changed there: ${changedThere.join(', ')}.`);
    parts.push(both.length
      ? `${both.join(', ')} changed on both sides: choose beside each which to keep, then save.`
      : 'Your edits are applied to the new version: check them and save again.');
    replaceCard(current);
    openForm(current, { draft, conflicts, notice: parts.join(' ') });
  }

  function setField(record, key, value) {
    const path = key.split('.');
    let holder = record;
    for (const part of path.slice(0, -1)) {
      if (!holder[part] || typeof holder[part] !== 'object') holder[part] = {};
      holder = holder[part];
    }
    if (value === undefined) delete holder[path[path.length - 1]];
    else holder[path[path.length - 1]] = value;
  }

  // One card's record replaced in the list, as listed again.
  function replaceCard(record) {
    for (const list of [state.all, state.cards]) {
      const at = list ? list.findIndex((c) => c.id === record.id) : -1;
      if (at >= 0) list[at] = record;
    }
    drawRows();
  }

  async function openFormGuarded(card) {
    if (!(await mayLeaveForm())) return;
    openForm(card);
  }

  function openForm(card, extra = {}) {
    hideStatus(status);
    editorPane.hidden = false;
    book.classList.add('editing');
    const returnFocus = document.activeElement;
    state.form = new CardForm(editorPane, {
      record: card,
      ...extra,
      onClose: async () => {
        if (!(await mayLeaveForm())) return;
        closeForm();
        if (returnFocus && returnFocus.isConnected) returnFocus.focus();
        else search.focus();
      },
      onSave: async (record, form) => {
        try {
          await callApi(CONTACTS_API, card ? 'edit_card' : 'add_card', { user: state.user, card: record });
        } catch (error) {
          if (error.code === CHANGED && card) {
            await mergeChanged(card, form);
            return;
          }
          form.showError(`The card was not saved: ${describeError(error)}`);
          return;
        }
        closeForm();
        search.focus();
        if (!card) {
          // A new card's id is known only once it is listed.
          await refreshCard(null, record);
          showStatus(status, 'ok', `Added ${displayName(record)}.`);
          return;
        }
        // The row shows the saved card at once; its new version follows.
        const shown = { ...record, id: card.id };
        delete shown.resource_name;
        replaceCard(shown);
        showStatus(status, 'ok', `Saved ${displayName(record)}.`);
        await refreshCard(card.id, record);
      },
    });
    drawRows();
    state.form.focusFirst();
    const top = editorPane.getBoundingClientRect().top;
    if (top < 0 || top > window.innerHeight - 80) editorPane.scrollIntoView({ block: 'start' });
  }

  function pickedCards() {
    return state.cards.filter((card) => state.selected.has(card.id));
  }

  function confirmDelete(cards) {
    return ask({
      title: 'Delete cards?',
      body: [
        `Delete ${plural(cards.length)} from the address book of ${state.user}? This cannot be undone.`,
        el('ul', {}, cards.slice(0, 10).map((card) => el('li', {}, displayName(card)))),
        cards.length > 10 ? `and ${cards.length - 10} more` : null,
      ].filter(Boolean),
      ok: 'Delete',
      danger: true,
    });
  }

  // A run of batches with its progress bar and a Cancel button that stops it
  // between two batches.
  function startRun(what, total) {
    const run = { cancelled: false };
    batchLabel.textContent = `${what}: 0 of ${total}…`;
    batchBar.max = total;
    batchBar.value = 0;
    batchBox.hidden = false;
    batchCancel.disabled = false;
    batchCancel.onclick = () => {
      run.cancelled = true;
      batchCancel.disabled = true;
      batchLabel.textContent = `${what}: stopping after this batch…`;
    };
    run.progress = (done) => {
      batchBar.value = done;
      if (!run.cancelled) batchLabel.textContent = `${what}: ${done} of ${total}…`;
    };
    run.end = () => {
      batchBox.hidden = true;
      batchCancel.onclick = null;
    };
    return run;
  }

  async function deletePicked() {
    const cards = pickedCards();
    if (cards.length === 0) return;
    if (!(await confirmDelete(cards))) return;
    // Each card goes only if it is still the version listed.
    const versioned = cards.every((card) => typeof card.etag === 'string');
    const deleted = [];
    const changed = [];
    let failure = null;
    const run = startRun('Deleting', cards.length);
    deleteButton.disabled = true;
    for (let at = 0; at < cards.length && !run.cancelled; at += BATCH) {
      const batch = cards.slice(at, at + BATCH);
      const params = { user: state.user, id: batch.map((card) => card.id) };
      if (versioned) params.etag = batch.map((card) => card.etag);
      try {
        await callApi(CONTACTS_API, 'delete_cards', params);
        deleted.push(...batch);
      } catch (error) {
        if (error.code !== CHANGED) {
          failure = error;
          break;
        }
        const kept = new Set(idsOfChanged(error.detail));
        for (const card of batch) (kept.has(card.id) ? changed : deleted).push(card);
      }
      run.progress(Math.min(at + BATCH, cards.length));
    }
    run.end();
    const left = cards.length - deleted.length - changed.length;
    if (state.form && deleted.some((card) => card.id === state.form.cardId)) closeForm();
    for (const card of deleted) state.selected.delete(card.id);
    await refreshWithTotal();
    const lines = deleted.length || !failure ? [`Deleted ${plural(deleted.length)}.`] : [];
    // A card refused for its version is either changed or already gone.
    const there = new Set((state.all || state.cards).map((card) => card.id));
    const gone = changed.filter((card) => !there.has(card.id));
    const kept = changed.filter((card) => there.has(card.id));
    if (gone.length) {
      lines.push(`${plural(gone.length)} had already been deleted elsewhere: ${names(gone)}.`);
    }
    if (kept.length) {
      lines.push(`${plural(kept.length)} changed elsewhere since the page listed ${kept.length === 1 ? 'it' : 'them'} and `
        + `${kept.length === 1 ? 'was' : 'were'} not deleted: ${names(kept)}. `
        + `${kept.length === 1 ? 'It is' : 'They are'} still selected: check and delete again.`);
    }
    if (failure) lines.push(`The delete stopped: ${describeError(failure)}`);
    else if (left > 0) lines.push(`Cancelled: ${plural(left)} not deleted.`);
    showStatus(status, failure || kept.length ? 'error' : 'ok', ...lines);
    search.focus();
  }

  function names(cards) {
    return `${cards.slice(0, 10).map(displayName).join(', ')}${cards.length > 10 ? ', …' : ''}`;
  }

  async function exportPicked() {
    const cards = pickedCards();
    if (cards.length === 0) return;
    const parts = [];
    const run = startRun('Exporting', cards.length);
    exportButton.disabled = true;
    try {
      for (let at = 0; at < cards.length && !run.cancelled; at += BATCH) {
        parts.push(await exportCards(state.user, cards.slice(at, at + BATCH).map((card) => card.id)));
        run.progress(Math.min(at + BATCH, cards.length));
      }
    } catch (error) {
      showError(error, 'The cards were not exported');
      return;
    } finally {
      run.end();
      updateButtons();
    }
    if (run.cancelled) {
      showStatus(status, 'info', 'Export cancelled: no file was saved.');
      return;
    }
    const blob = new Blob(parts, { type: 'text/vcard' });
    const url = URL.createObjectURL(blob);
    const link = el('a', { href: url, download: 'contacts.vcf', hidden: true });
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(url), 10000);
    showStatus(status, 'ok', `Exported ${plural(cards.length)} to contacts.vcf.`);
  }

  async function openBook(user) {
    state.user = user;
    state.selected.clear();
    state.total = null;
    state.all = null;
    state.rank = null;
    state.cards = [];
    search.value = '';
    closeForm();
    hideStatus(status);
    window.sessionStorage.setItem(USER_KEY, user);
    book.hidden = false;
    await refresh();
  }

  userForm.addEventListener('submit', async (event) => {
    event.preventDefault();
    const user = userInput.value.trim();
    if (!user) {
      showStatus(status, 'error', 'Enter the user whose address book to open.');
      book.hidden = false;
      return;
    }
    if (user !== state.user && !(await userMenu.confirm(user))) return;
    if (await mayLeaveForm()) openBook(user);
  });

  // Closing or reloading the tab with unsaved edits: the browser asks.
  window.addEventListener('beforeunload', (event) => {
    if (state.form && state.form.isDirty()) {
      event.preventDefault();
      event.returnValue = '';
    }
  });

  search.addEventListener('input', () => {
    clearTimeout(state.searchTimer);
    // Back to the whole book: shown at once from the listing at hand.
    if (search.value === '' && state.all) {
      state.listSeq += 1;
      if (state.listing) state.listing.abort();
      state.cards = state.all;
      renderList();
      return;
    }
    state.searchTimer = setTimeout(async () => {
      if (search.value !== '' && state.total === null) {
        try {
          setAll(await listCards(''));
        } catch {
          state.total = null;
        }
      }
      refresh();
    }, SEARCH_DELAY_MS);
  });

  selectAll.addEventListener('change', () => {
    for (const card of state.cards) {
      if (selectAll.checked) state.selected.add(card.id);
      else state.selected.delete(card.id);
    }
    drawRows();
    updateButtons();
  });

  sortSelect.addEventListener('change', () => {
    state.order = sortSelect.value === 'family' ? 'family' : 'given';
    window.localStorage.setItem(SORT_KEY, state.order);
    if (state.all) setAll(state.all);
    state.cards = search.value === '' && state.all ? state.all : ordered(state.cards);
    renderList();
  });

  listPane.addEventListener('scroll', scheduleDraw, { passive: true });
  window.addEventListener('resize', () => {
    state.rowHeight = 0;
    scheduleDraw();
  });

  addButton.addEventListener('click', () => openFormGuarded(null));
  deleteButton.addEventListener('click', deletePicked);
  exportButton.addEventListener('click', exportPicked);

  importInput.addEventListener('change', async () => {
    const file = importInput.files && importInput.files[0];
    importInput.value = '';
    if (!file || !state.user) return;
    hideStatus(status);
    await runImport({ user: state.user, file, status, countBook });
    search.value = '';
    await refresh();
  });

  setUpDuplicates({ userForm, status, user: () => state.user, changed: refreshWithTotal });

  return {
    // Asked before another page is shown: false keeps the person here.
    mayLeave: mayLeaveForm,
    // Called each time the page is shown: opens the last book of this tab.
    shown() {
      userMenu.refresh();
      if (state.user) return;
      const last = window.sessionStorage.getItem(USER_KEY);
      if (last) {
        userInput.value = last;
        openBook(last);
      } else {
        userInput.focus();
      }
    },
  };
}

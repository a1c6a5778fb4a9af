// The contacts page: one user's address book, its search, the card form,
// delete, export and import. The list draws only the rows in view (any book
// size keeps a few hundred elements), and a change redraws only those. A
// book of up to WHOLE_BOOK cards is listed whole and ordered by name; a
// larger one (or any, in the stored order) is read in windows as it scrolls.
import { callApi, exportCards, CONTACTS_API } from './api.js';
import { describeError } from './error-texts.js';
import { el, clear, showStatus, hideStatus } from './dom.js';
import {
  displayName, organisation, firstData, clone, phoneText, sortText,
} from './record.js';
import { CardForm, fieldKeys, fieldValue, fieldName } from './card-form.js';
import { runImport } from './import-file.js';
import { exportFormatChoice, saveExport } from './csv-export.js';
import { ask } from './confirm.js';
import { CardWindows, WINDOW, SEARCH_WINDOW } from './card-windows.js';
import { attachUserMenu } from './user-menu.js';
import { setUpDuplicates } from './duplicates-view.js';
import { attachListKeys } from './list-keys.js';

const USER_KEY = 'orva.user';
const SORT_KEY = 'orva.sort';
const SEARCH_DELAY_MS = 120;
// In a book read in windows each search reads the whole book in the module
// (seconds for 100,000 cards): it waits for a pause in the typing.
const WINDOWS_SEARCH_DELAY_MS = 300;
// Rows drawn beyond the visible ones, above and below.
const OVERSCAN = 12;
// Cards per delete request: the module takes 10,000 at most, and smaller
// batches let the page show progress and stop between them. (An export is
// one request: the host streams it.)
export const BATCH = 500;
// The largest book listed whole: ordering by name needs every card, and
// beyond this the page would hold too much of the book.
export const WHOLE_BOOK = 10000;
// Cards per request when the page looks through the book for one card.
const WALK = 2000;
const CHANGED = 1012;

function plural(n) {
  return `${n} ${n === 1 ? 'card' : 'cards'}`;
}

// 'given' or 'family' (by name), or 'stored' (the module's order, in windows).
function orderOf(value) {
  return value === 'family' || value === 'stored' ? value : 'given';
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
  const exportFormat = exportFormatChoice();
  exportButton.after(exportFormat);
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
    cards: [],          // the records shown, in order (listed whole)
    windows: null,      // the listing read in windows (a large book), else null
    mode: null,         // 'whole' or 'windows', once the book's size is known
    total: null,        // cards in the whole book, when known
    selected: new Map(), // id -> record of the cards picked one by one
    allPicked: null,    // windows: every card of the listing but {except}
    listSeq: 0,         // drops the answers of superseded searches
    form: null,
    searchTimer: 0,
    order: orderOf(window.localStorage.getItem(SORT_KEY)),
    rowHeight: 0,
    rows: new Map(),    // id -> {tr, card, box}: the rows drawn now
    drawPending: false,
  };
  sortSelect.value = state.order;
  const orderNote = document.getElementById('order-note');

  function showError(error, what) {
    showStatus(status, 'error', `${what}: ${describeError(error)}`);
  }

  // Rows of the list, and the record of one (null while not fetched).
  function shownCount() {
    return state.windows ? state.windows.total : state.cards.length;
  }

  function shownAt(index) {
    return state.windows ? state.windows.get(index) : state.cards[index];
  }

  function isPicked(card) {
    return state.allPicked ? !state.allPicked.except.has(card.id) : state.selected.has(card.id);
  }

  function pickedCount() {
    if (state.allPicked) return Math.max(0, shownCount() - state.allPicked.except.size);
    if (state.windows) return state.selected.size;
    let picked = 0;
    for (const card of state.cards) if (state.selected.has(card.id)) picked += 1;
    return picked;
  }

  function updateButtons() {
    const picked = pickedCount();
    const shown = shownCount();
    deleteButton.disabled = picked === 0;
    exportButton.disabled = picked === 0;
    deleteButton.textContent = picked > 0 ? `Delete selected (${picked})` : 'Delete selected';
    exportButton.textContent = picked > 0 ? `Export selected (${picked})` : 'Export selected';
    selectAll.checked = picked > 0 && picked === shown;
    selectAll.indeterminate = picked > 0 && picked < shown;
  }

  function updateCount() {
    const key = state.windows ? state.windows.key : search.value;
    const shown = shownCount();
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
        if (state.allPicked) {
          if (box.checked) state.allPicked.except.delete(card.id);
          else state.allPicked.except.add(card.id);
        } else if (box.checked) {
          state.selected.set(card.id, card);
        } else {
          state.selected.delete(card.id);
        }
        updateButtons();
      },
    });
    // A row of a list being replaced (a search on its way) opens nothing.
    const open = el('button', {
      type: 'button', class: 'link', onclick: () => { if (!isStale()) openFormGuarded(card); },
    }, name);
    const tr = el('tr', { dataset: { id: card.id } },
      el('td', { class: 'pick' }, box),
      el('th', { scope: 'row' }, open),
      el('td', { 'data-label': 'Organisation' }, organisation(card)),
      el('td', { 'data-label': 'Phone' }, phoneText(firstData(card, 'tel'))),
      el('td', { 'data-label': 'E-mail' }, firstData(card, 'mail')));
    tr.setAttribute('aria-rowindex', String(index + 2));
    return { tr, card, box };
  }

  // A row whose card is still on its way.
  function placeholder(index) {
    const tr = el('tr', { class: 'placeholder', 'aria-busy': 'true' },
      el('td', { class: 'pick' }), el('th', { scope: 'row' }, 'Loading…'), el('td'), el('td'), el('td'));
    tr.setAttribute('aria-rowindex', String(index + 2));
    return tr;
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
    const rowCount = shownCount();
    const height = state.rowHeight || 40;
    const paneTop = listPane.getBoundingClientRect().top;
    const bodyTop = tbody.getBoundingClientRect().top - paneTop + listPane.scrollTop;
    const viewTop = Math.max(0, listPane.scrollTop - bodyTop);
    const viewHeight = listPane.clientHeight || window.innerHeight;
    const first = Math.max(0, Math.floor(viewTop / height) - OVERSCAN);
    const last = Math.min(rowCount, Math.ceil((viewTop + viewHeight) / height) + OVERSCAN);
    const currentId = state.form ? state.form.cardId : null;

    const kept = new Map();
    const wanted = [];
    for (let i = first; i < last; i += 1) {
      const card = shownAt(i);
      if (!card) {
        wanted.push(placeholder(i));
        continue;
      }
      let row = state.rows.get(card.id);
      if (!row || row.card !== card || kept.has(card.id)) row = makeRow(card, i);
      row.tr.setAttribute('aria-rowindex', String(i + 2));
      row.box.checked = isPicked(card);
      row.tr.classList.toggle('current', card.id === currentId);
      kept.set(card.id, row);
      wanted.push(row.tr);
    }
    const top = spacer(first * height);
    const bottom = spacer((rowCount - last) * height);
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
    table.setAttribute('aria-rowcount', String(rowCount + 1));
    if (state.windows) state.windows.want(first, last);

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

  // The list shown is about to be replaced (a search or a listing on its
  // way): it says so, and its rows cannot be opened until the new one is in.
  function markStale(text) {
    listPane.classList.add('stale');
    table.setAttribute('aria-busy', 'true');
    if (text) count.textContent = text;
  }

  function isStale() {
    return listPane.classList.contains('stale');
  }

  function clearStale() {
    listPane.classList.remove('stale');
    table.removeAttribute('aria-busy');
  }

  // The book's count is known but its cards are on their way: no "empty
  // book" in the meantime.
  function showLoading() {
    markStale(state.total === null ? 'Loading…' : `Loading… (${state.total} in the book)`);
    if (shownCount() > 0) return;
    emptyNote.hidden = false;
    emptyNote.textContent = 'Loading the cards…';
  }

  function renderList() {
    clearStale();
    if (!state.windows) {
      const visible = new Set(state.cards.map((card) => card.id));
      for (const id of [...state.selected.keys()]) if (!visible.has(id)) state.selected.delete(id);
    }
    drawRows();
    emptyNote.hidden = shownCount() > 0;
    emptyNote.textContent = search.value ? 'No card matches the search.' : 'This address book has no cards yet.';
    updateButtons();
    updateCount();
  }

  async function listCards(key, signal) {
    const data = await callApi(CONTACTS_API, 'list_cards',
      key ? { user: state.user, search_key: key } : { user: state.user }, signal);
    return data && Array.isArray(data.cards) ? data.cards : [];
  }

  // One window of the listing (of a search when key is set) and the number
  // of cards it is taken from.
  async function listWindow(key, offset, limit, signal) {
    const params = { user: state.user, offset, limit };
    if (key) params.search_key = key;
    const data = await callApi(CONTACTS_API, 'list_cards', params, signal);
    return {
      cards: data && Array.isArray(data.cards) ? data.cards : [],
      total: data && Number.isInteger(data.total) ? data.total : 0,
    };
  }

  // The number of cards of the whole book (no card is read for it).
  async function countBook() {
    return (await listWindow('', 0, 0)).total;
  }

  // Whole or in windows: by the book's size and the order chosen.
  async function chooseMode(signal) {
    state.total = (await listWindow('', 0, 0, signal)).total;
    const large = state.total > WHOLE_BOOK;
    state.mode = large || state.order === 'stored' ? 'windows' : 'whole';
    for (const option of sortSelect.options) option.disabled = large && option.value !== 'stored';
    sortSelect.value = large ? 'stored' : state.order;
    orderNote.hidden = !large;
  }

  function closeWindows() {
    if (state.windows) state.windows.close();
    state.windows = null;
  }

  // The listing of a key in windows, from its first window.
  async function openWindows(key, signal) {
    const keep = state.windows && state.windows.key === key;
    const first = await listWindow(key, 0, key ? SEARCH_WINDOW : WINDOW, signal);
    if (keep && !signal.aborted) {
      // The same listing again (after a change): the place in it stays.
      state.windows.total = first.total;
      state.windows.reload();
      return;
    }
    closeWindows();
    state.selected.clear();
    state.allPicked = null;
    state.all = null;
    state.rank = null;
    state.cards = [];
    const windows = new CardWindows({
      key,
      first,
      fetchWindow: async (...request) => {
        const answer = await listWindow(...request);
        // A picked card keeps the version listed last (a delete sends it).
        for (const card of answer.cards) if (state.selected.has(card.id)) state.selected.set(card.id, card);
        return answer;
      },
      onChange: (grew) => {
        if (state.windows !== windows) return;
        if (grew) renderList();
        else scheduleDraw();
      },
      onError: (error) => {
        if (state.windows === windows) showError(error, 'The cards could not be listed');
      },
    });
    state.windows = windows;
    listPane.scrollTop = 0;
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
      if (key === '' || !state.mode) await chooseMode(listing.signal);
      if (seq !== state.listSeq) return;
      if (key === '') showLoading();
      if (state.mode === 'windows') {
        await openWindows(key, listing.signal);
        if (seq !== state.listSeq) return;
        renderList();
        return;
      }
      closeWindows();
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
      if (seq === state.listSeq) {
        clearStale();
        updateCount();
        showError(error, 'The cards could not be listed');
      }
    } finally {
      if (state.listing === listing) state.listing = null;
    }
  }

  async function refreshWithTotal() {
    if (state.mode === 'windows') {
      if (search.value !== '') await chooseMode();
    } else if (search.value !== '') {
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
    if (state.windows) {
      // Its new version (or a new card's place) comes with the windows in view.
      await refreshWithTotal();
      return;
    }
    const key = nameKey(record);
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

  // A search key that finds the card and few others, if it has one.
  function nameKey(record) {
    const name = record.name || {};
    return [name.family_name, name.given_name, (record.company || {}).org]
      .find((text) => typeof text === 'string' && text.trim().length >= 2);
  }

  // The card as stored now, or null when it is gone: found by its name, else
  // looked for through the book a window at a time.
  async function fetchCard(card) {
    const key = nameKey(card);
    if (key) {
      const found = (await listCards(key)).find((c) => c.id === card.id);
      if (found) return found;
    }
    for (let offset = 0; ; offset += WALK) {
      const { cards } = await listWindow('', offset, WALK);
      const found = cards.find((c) => c.id === card.id);
      if (found || cards.length < WALK) return found || null;
    }
  }

  // The card changed elsewhere since it was listed: the person's edits go
  // onto the stored version; a field changed on both sides is shown with
  // both values for the person to choose. Nothing is saved until they do.
  async function mergeChanged(card, form) {
    const mine = form.edits();
    let current;
    try {
      current = await fetchCard(card);
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
    if (state.windows) state.windows.replace(record);
    if (state.selected.has(record.id)) state.selected.set(record.id, record);
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
    if (state.windows) return [...state.selected.values()];
    return state.cards.filter((card) => state.selected.has(card.id));
  }

  // The picked cards, a batch at a time: {total, sample, next() -> batch or
  // null at the end, stayed(n): n cards of the last batch are still in the
  // book}. Every card of a large listing is read from the module in windows,
  // so the page never holds them all.
  function pickedBatches(removing) {
    if (!state.allPicked) {
      const cards = pickedCards();
      let at = 0;
      return {
        total: cards.length,
        sample: cards.slice(0, 10),
        async next() {
          if (at >= cards.length) return null;
          at += BATCH;
          return cards.slice(at - BATCH, at);
        },
        stayed() {},
      };
    }
    const { key } = state.windows;
    const except = new Set(state.allPicked.except);
    let offset = 0;
    let ended = false;
    return {
      total: pickedCount(),
      sample: state.windows.held().filter((card) => !except.has(card.id)).slice(0, 10),
      async next() {
        if (ended) return null;
        const { cards } = await listWindow(key, offset, BATCH);
        if (cards.length < BATCH) ended = true;
        const batch = cards.filter((card) => !except.has(card.id));
        // Cards left out keep their places; deleted ones free theirs.
        offset += removing ? cards.length - batch.length : cards.length;
        return batch;
      },
      stayed(n) {
        if (removing) offset += n;
      },
    };
  }

  function confirmDelete(total, sample) {
    return ask({
      title: 'Delete cards?',
      body: [
        `Delete ${plural(total)} from the address book of ${state.user}? This cannot be undone.`,
        el('ul', {}, sample.slice(0, 10).map((card) => el('li', {}, displayName(card)))),
        total > sample.length ? `and ${total - sample.length} more` : null,
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
    const source = pickedBatches(true);
    if (source.total === 0) return;
    if (!(await confirmDelete(source.total, source.sample))) return;
    // Each card goes only if it is still the version listed.
    let deleted = 0;
    const changed = [];
    let failure = null;
    const formId = state.form ? state.form.cardId : null;
    let formGone = false;
    const run = startRun('Deleting', source.total);
    deleteButton.disabled = true;
    let done = 0;
    while (!run.cancelled) {
      let batch;
      try {
        batch = await source.next();
      } catch (error) {
        failure = error;
        break;
      }
      if (!batch) break;
      if (batch.length === 0) continue;
      const params = { user: state.user, id: batch.map((card) => card.id) };
      if (batch.every((card) => typeof card.etag === 'string')) params.etag = batch.map((card) => card.etag);
      let kept = new Set();
      try {
        await callApi(CONTACTS_API, 'delete_cards', params);
      } catch (error) {
        if (error.code !== CHANGED) {
          failure = error;
          break;
        }
        kept = new Set(idsOfChanged(error.detail));
      }
      for (const card of batch) {
        if (kept.has(card.id)) {
          changed.push(card);
        } else {
          deleted += 1;
          state.selected.delete(card.id);
          if (card.id === formId) formGone = true;
        }
      }
      source.stayed(kept.size);
      done += batch.length;
      run.progress(Math.min(done, source.total));
    }
    run.end();
    const left = source.total - deleted - changed.length;
    if (formGone && state.form && state.form.cardId === formId) closeForm();
    if (state.allPicked && !failure && !run.cancelled) {
      // Every card is gone but the refused ones: they stay picked one by one.
      state.allPicked = null;
      for (const card of changed) state.selected.set(card.id, card);
    }
    await refreshWithTotal();
    const lines = deleted || !failure ? [`Deleted ${plural(deleted)}.`] : [];
    // A card refused for its version is either changed or already gone; a
    // large book is not listed whole, so there it is called changed.
    const there = state.windows ? null : new Set((state.all || state.cards).map((card) => card.id));
    const gone = there ? changed.filter((card) => !there.has(card.id)) : [];
    const kept = there ? changed.filter((card) => there.has(card.id)) : changed;
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

  // The picked cards as one download, whatever their number: the host reads
  // them from the store and streams them; Cancel drops the request.
  async function exportPicked() {
    const total = pickedCount();
    if (total === 0) return;
    const which = state.allPicked
      ? { all: true, except: [...state.allPicked.except], ...(state.windows.key ? { search_key: state.windows.key } : {}) }
      : pickedCards().map((card) => card.id);
    const run = startRun('Exporting', total);
    batchBar.removeAttribute('value');
    batchLabel.textContent = `Exporting ${plural(total)}…`;
    const request = new AbortController();
    const cancel = batchCancel.onclick;
    batchCancel.onclick = () => {
      cancel();
      request.abort();
    };
    exportButton.disabled = true;
    let file;
    try {
      file = await exportCards(state.user, which, request.signal);
    } catch (error) {
      if (run.cancelled) showStatus(status, 'info', 'Export cancelled: no file was saved.');
      else showError(error, 'The cards were not exported');
      return;
    } finally {
      run.end();
      updateButtons();
    }
    const saved = await saveExport([file], exportFormat.value);
    if (!saved) {
      showStatus(status, 'info', 'Export cancelled: no file was saved.');
      return;
    }
    showStatus(status, 'ok', `Exported ${plural(total)} to ${saved}.`);
  }

  async function openBook(user) {
    state.user = user;
    state.selected.clear();
    state.allPicked = null;
    closeWindows();
    state.mode = null;
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
    markStale('Searching…');
    // Back to the whole book: shown at once from the listing at hand.
    if (search.value === '' && state.all) {
      state.listSeq += 1;
      if (state.listing) state.listing.abort();
      state.cards = state.all;
      renderList();
      return;
    }
    state.searchTimer = setTimeout(async () => {
      if (search.value !== '' && state.mode === 'whole' && !state.all) {
        try {
          setAll(await listCards(''));
        } catch {
          state.total = null;
        }
      }
      refresh();
    }, state.mode === 'windows' ? WINDOWS_SEARCH_DELAY_MS : SEARCH_DELAY_MS);
  });

  selectAll.addEventListener('change', () => {
    if (state.windows) {
      // Not every card is at hand: "all but these" stands for them.
      state.selected.clear();
      state.allPicked = selectAll.checked ? { except: new Set() } : null;
    } else {
      for (const card of state.cards) {
        if (selectAll.checked) state.selected.set(card.id, card);
        else state.selected.delete(card.id);
      }
    }
    drawRows();
    updateButtons();
  });

  sortSelect.addEventListener('change', () => {
    const before = state.order;
    state.order = orderOf(sortSelect.value);
    window.localStorage.setItem(SORT_KEY, state.order);
    if (state.order === 'stored' || before === 'stored' || state.mode !== 'whole') {
      // Listed whole or in windows: the book is listed anew.
      state.mode = null;
      if (state.user) refresh();
      return;
    }
    if (state.all) setAll(state.all);
    state.cards = search.value === '' && state.all ? state.all : ordered(state.cards);
    renderList();
  });

  listPane.addEventListener('scroll', scheduleDraw, { passive: true });
  window.addEventListener('resize', () => {
    state.rowHeight = 0;
    scheduleDraw();
  });

  attachListKeys({ search, tbody, listPane });

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

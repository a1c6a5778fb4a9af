// The contacts page: one user's address book, its search, the card form,
// delete, export and import.
import { callApi, exportCards, CONTACTS_API } from './api.js';
import { describeError } from './error-texts.js';
import { el, clear, showStatus, hideStatus } from './dom.js';
import { displayName, organisation, firstData } from './record.js';
import { CardForm } from './card-form.js';
import { runImport } from './import-file.js';

const USER_KEY = 'orva.user';
const SEARCH_DELAY_MS = 150;

export function setUpContacts() {
  const userForm = document.getElementById('user-form');
  const userInput = document.getElementById('user');
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
  const confirmDialog = document.getElementById('confirm');
  const confirmBody = document.getElementById('confirm-body');

  const state = {
    user: '',
    cards: [],          // the records shown, as listed
    total: null,        // cards in the whole book, when known
    selected: new Set(),
    listSeq: 0,         // drops the answers of superseded searches
    form: null,
    searchTimer: 0,
  };

  function showError(error, what) {
    showStatus(status, 'error', `${what}: ${describeError(error)}`);
  }

  function updateButtons() {
    const shownIds = state.cards.map((card) => card.id);
    const picked = shownIds.filter((id) => state.selected.has(id)).length;
    deleteButton.disabled = picked === 0;
    exportButton.disabled = picked === 0;
    deleteButton.textContent = picked > 0 ? `Delete selected (${picked})` : 'Delete selected';
    exportButton.textContent = picked > 0 ? `Export selected (${picked})` : 'Export selected';
    selectAll.checked = picked > 0 && picked === shownIds.length;
    selectAll.indeterminate = picked > 0 && picked < shownIds.length;
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

  function renderList() {
    clear(tbody);
    const visible = new Set(state.cards.map((card) => card.id));
    for (const id of [...state.selected]) if (!visible.has(id)) state.selected.delete(id);
    for (const card of state.cards) {
      const name = displayName(card);
      const box = el('input', {
        type: 'checkbox', checked: state.selected.has(card.id), 'aria-label': `Select ${name}`,
        onchange: () => {
          if (box.checked) state.selected.add(card.id);
          else state.selected.delete(card.id);
          updateButtons();
        },
      });
      const open = el('button', { type: 'button', class: 'link', onclick: () => openForm(card) }, name);
      const current = state.form && state.form.cardId === card.id;
      tbody.append(el('tr', { class: current ? 'current' : null, dataset: { id: card.id } },
        el('td', { class: 'pick' }, box),
        el('th', { scope: 'row' }, open),
        el('td', { 'data-label': 'Organisation' }, organisation(card)),
        el('td', { 'data-label': 'Phone' }, firstData(card, 'tel')),
        el('td', { 'data-label': 'E-mail' }, firstData(card, 'mail'))));
    }
    emptyNote.hidden = state.cards.length > 0;
    emptyNote.textContent = search.value ? 'No card matches the search.' : 'This address book has no cards yet.';
    updateButtons();
    updateCount();
  }

  async function listCards(key) {
    const data = await callApi(CONTACTS_API, 'list_cards', key ? { user: state.user, search_key: key } : { user: state.user });
    const cards = data && Array.isArray(data.cards) ? data.cards : [];
    // The store keeps no order a person would look for: show them by name.
    const collator = new Intl.Collator(undefined, { sensitivity: 'base', numeric: true });
    return cards
      .map((card) => ({ card, name: displayName(card) }))
      .sort((a, b) => collator.compare(a.name, b.name))
      .map((entry) => entry.card);
  }

  // The number of cards of the whole book.
  async function countBook() {
    return (await listCards('')).length;
  }

  // Lists the book again with the search as it stands.
  async function refresh() {
    const seq = ++state.listSeq;
    const key = search.value;
    try {
      const cards = await listCards(key);
      if (seq !== state.listSeq) return;
      state.cards = cards;
      if (key === '') state.total = cards.length;
      renderList();
    } catch (error) {
      if (seq === state.listSeq) showError(error, 'The cards could not be listed');
    }
  }

  async function refreshWithTotal() {
    if (search.value !== '') {
      try {
        state.total = await countBook();
      } catch {
        state.total = null;
      }
    }
    await refresh();
  }

  function closeForm() {
    state.form = null;
    clear(editorPane);
    editorPane.hidden = true;
    book.classList.remove('editing');
    for (const row of tbody.querySelectorAll('tr.current')) row.classList.remove('current');
  }

  function openForm(card) {
    hideStatus(status);
    editorPane.hidden = false;
    book.classList.add('editing');
    const returnFocus = document.activeElement;
    state.form = new CardForm(editorPane, {
      record: card,
      onClose: () => {
        closeForm();
        if (returnFocus && returnFocus.isConnected) returnFocus.focus();
        else search.focus();
      },
      onSave: async (record, form) => {
        try {
          await callApi(CONTACTS_API, card ? 'edit_card' : 'add_card', { user: state.user, card: record });
        } catch (error) {
          form.showError(`The card was not saved: ${describeError(error)}`);
          return;
        }
        closeForm();
        await refreshWithTotal();
        showStatus(status, 'ok', card ? `Saved ${displayName(record)}.` : `Added ${displayName(record)}.`);
        search.focus();
      },
    });
    renderList();
    state.form.focusFirst();
    const top = editorPane.getBoundingClientRect().top;
    if (top < 0 || top > window.innerHeight - 80) editorPane.scrollIntoView({ block: 'start' });
  }

  function pickedCards() {
    return state.cards.filter((card) => state.selected.has(card.id));
  }

  function confirmDelete(cards) {
    clear(confirmBody);
    confirmBody.append(
      el('p', {}, `Delete ${cards.length} ${cards.length === 1 ? 'card' : 'cards'} from the address book of ${state.user}? This cannot be undone.`),
      el('ul', {}, cards.slice(0, 10).map((card) => el('li', {}, displayName(card)))),
      cards.length > 10 ? el('p', {}, `and ${cards.length - 10} more`) : null);
    confirmDialog.returnValue = '';
    return new Promise((resolve) => {
      confirmDialog.addEventListener('close', () => resolve(confirmDialog.returnValue === 'ok'), { once: true });
      confirmDialog.showModal();
    });
  }

  async function deletePicked() {
    const cards = pickedCards();
    if (cards.length === 0) return;
    if (!(await confirmDelete(cards))) return;
    let failure = null;
    try {
      await callApi(CONTACTS_API, 'delete_cards', { user: state.user, id: cards.map((card) => card.id) });
    } catch (error) {
      failure = error;
    }
    if (state.form && cards.some((card) => card.id === state.form.cardId)) closeForm();
    for (const card of cards) state.selected.delete(card.id);
    await refreshWithTotal();
    if (failure) showError(failure, 'The cards were not all deleted');
    else showStatus(status, 'ok', `Deleted ${cards.length} ${cards.length === 1 ? 'card' : 'cards'}.`);
    search.focus();
  }

  async function exportPicked() {
    const cards = pickedCards();
    if (cards.length === 0) return;
    let blob;
    try {
      blob = await exportCards(state.user, cards.map((card) => card.id));
    } catch (error) {
      showError(error, 'The cards were not exported');
      return;
    }
    const url = URL.createObjectURL(blob);
    const link = el('a', { href: url, download: 'contacts.vcf', hidden: true });
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(url), 10000);
    showStatus(status, 'ok', `Exported ${cards.length} ${cards.length === 1 ? 'card' : 'cards'} to contacts.vcf.`);
  }

  async function openBook(user) {
    state.user = user;
    state.selected.clear();
    state.total = null;
    search.value = '';
    closeForm();
    hideStatus(status);
    window.sessionStorage.setItem(USER_KEY, user);
    book.hidden = false;
    await refresh();
  }

  userForm.addEventListener('submit', (event) => {
    event.preventDefault();
    const user = userInput.value.trim();
    if (!user) {
      showStatus(status, 'error', 'Enter the user whose address book to open.');
      book.hidden = false;
      return;
    }
    openBook(user);
  });

  search.addEventListener('input', () => {
    clearTimeout(state.searchTimer);
    state.searchTimer = setTimeout(async () => {
      if (search.value !== '' && state.total === null) {
        try {
          state.total = await countBook();
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
    renderList();
  });

  addButton.addEventListener('click', () => openForm(null));
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

  return {
    // Called each time the page is shown: opens the last book of this tab.
    shown() {
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

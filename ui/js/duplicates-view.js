// "Find duplicates": the whole book read in windows, the groups of cards that
// are likely the same person with the reason, and the merge of a group into
// the card the person keeps. The cards' exact bytes are kept first, so that
// a merge can be undone for the rest of the session.
import { callApi, exportCards, restoreCards, CONTACTS_API } from './api.js';
import { describeError } from './error-texts.js';
import { el, clear, showStatus } from './dom.js';
import { displayName, organisation, firstData, phoneText } from './record.js';
import { unescapeText } from './text-escape.js';
import { findDuplicateGroups, mergeRecords, logicalLines } from './duplicates.js';

// Cards per listing request while the whole book is read.
const WINDOW = 2000;
const CHANGED = 1012;

// Merges done in this tab, newest last: {user, name, cards: [{id, text}], undone}.
const merges = [];

function plural(n) {
  return `${n} ${n === 1 ? 'card' : 'cards'}`;
}

// The whole book, read 2,000 cards at a time.
async function readBook(user, progress) {
  const cards = [];
  for (;;) {
    const data = await callApi(CONTACTS_API, 'list_cards', { user, offset: cards.length, limit: WINDOW });
    const got = data && Array.isArray(data.cards) ? data.cards : [];
    cards.push(...got);
    const total = data && Number.isInteger(data.total) ? data.total : cards.length;
    progress(cards.length, total);
    if (got.length === 0 || cards.length >= total) return cards;
  }
}

// The stored card's bytes, as text that gives them back exactly (a card that
// is not UTF-8 cannot be kept so, and is not merged).
async function exactText(user, id) {
  const blob = await exportCards(user, [id]);
  const bytes = await blob.arrayBuffer();
  return { text: new TextDecoder('utf-8', { fatal: true, ignoreBOM: true }).decode(bytes), bytes };
}

// The card's version as the module lists it (first 128 bits of SHA-256, hex),
// where the browser offers the hash (a secure context); null elsewhere.
async function versionOf(bytes) {
  if (!globalThis.crypto || !crypto.subtle) return null;
  const digest = new Uint8Array(await crypto.subtle.digest('SHA-256', bytes));
  return [...digest.slice(0, 16)].map((b) => b.toString(16).padStart(2, '0')).join('');
}

// What a record holds, as lines a person reads.
function summary(record) {
  const rows = [];
  const add = (label, value) => {
    if (value) rows.push(`${label}: ${value}`);
  };
  add('Name', displayName(record));
  add('Organisation', organisation(record));
  add('Title', unescapeText(record.company && record.company.title));
  for (const [key, label] of [['tel', 'Phone'], ['mail', 'E-mail'], ['adr', 'Address'], ['url', 'Web']]) {
    for (const entry of Array.isArray(record[key]) ? record[key] : []) {
      const types = Array.isArray(entry.type) && entry.type.length ? ` (${entry.type.join(', ')})` : '';
      const value = key === 'tel' ? phoneText(entry.data)
        : key === 'adr' ? unescapeText(entry.data).replace(/;+/g, ' ').trim() : entry.data;
      add(label, `${value}${types}`);
    }
  }
  add('Birthday', record.bday);
  add('Note', unescapeText(record.note));
  return rows;
}

function keptLines(record) {
  return logicalLines(record.other).map((line) => line.replace(/\r\n[ \t]/g, ''))
    .filter((line) => !/^(BEGIN|END|VERSION|UID|PRODID|PRODUCTID|REV)[:;]/i.test(line));
}

// options: {userForm, status, user() -> the open book's user, changed() -> Promise}
export function setUpDuplicates({ userForm, status, user, changed }) {
  const button = document.getElementById('find-duplicates');
  const panel = document.getElementById('duplicates');
  let run = 0;
  // The book as the last search read it.
  let found = [];

  function close() {
    run += 1;
    clear(panel);
    panel.hidden = true;
  }

  function header(text) {
    return el('div', { class: 'duplicates-head' },
      el('h3', { id: 'duplicates-title' }, text),
      el('button', { type: 'button', onclick: close }, 'Close'));
  }

  function undoList() {
    const mine = merges.filter((merge) => merge.user === user());
    if (mine.length === 0) return null;
    return el('section', { class: 'merges', 'aria-label': 'Merges this session' },
      el('h4', {}, 'Merges this session'),
      el('ul', {}, mine.map((merge) => el('li', {},
        `${merge.name} (${plural(merge.cards.length)}) `,
        el('button', {
          type: 'button', disabled: merge.undone, onclick: () => undo(merge),
        }, merge.undone ? 'Undone' : `Undo merge of ${merge.name}`)))));
  }

  async function undo(merge) {
    // A second click while the first undo is on its way does nothing.
    if (merge.undone || merge.pending) return;
    merge.pending = true;
    // The merged card goes back only while it is as the merge stored it.
    const cards = merge.cards.map((card) => (card.id === merge.keptId && merge.keptEtag
      ? { ...card, etag: merge.keptEtag } : card));
    try {
      await restoreCards(merge.user, cards);
    } catch (error) {
      merge.pending = false;
      showStatus(status, 'error', error.status === 409
        ? `The merge of ${merge.name} was not undone: the merged card was changed since, and the undo would `
          + 'overwrite that change. Nothing was changed.'
        : `The merge of ${merge.name} was not undone: ${describeError(error)}`);
      return;
    }
    merge.undone = true;
    merge.pending = false;
    showStatus(status, 'ok', `Undone: the ${plural(merge.cards.length)} merged into ${merge.name} are back as they were.`);
    if (!panel.hidden) await find();
    await changed();
  }

  async function find() {
    const seq = ++run;
    const who = user();
    clear(panel);
    panel.hidden = false;
    const label = el('p', { class: 'count', 'aria-live': 'polite' }, 'Reading the address book…');
    panel.append(header('Likely duplicates'), label);
    let cards;
    try {
      cards = await readBook(who, (got, total) => {
        if (seq === run) label.textContent = `Reading the address book: ${got} of ${total} cards…`;
      });
    } catch (error) {
      if (seq === run) label.textContent = `The address book could not be read: ${describeError(error)}`;
      return;
    }
    if (seq !== run) return;
    const groups = findDuplicateGroups(cards);
    found = cards;
    clear(panel);
    panel.append(header(groups.length
      ? `${groups.length} ${groups.length === 1 ? 'group' : 'groups'} of likely duplicates in ${plural(cards.length)}`
      : `No likely duplicates in ${plural(cards.length)}`));
    const list = el('div', { class: 'duplicate-groups' });
    groups.forEach((group, i) => list.append(groupView(group, i, who)));
    panel.append(list);
    const undos = undoList();
    if (undos) panel.append(undos);
  }

  function groupView(group, index, who) {
    const name = `keep-${index}`;
    // A number people share (a switchboard, a family's line) is no reason on
    // its own to merge them: then none is ticked until the person says so.
    const onlyPhone = group.kinds.every((kind) => kind === 'tel');
    const box = el('fieldset', { class: 'duplicate-group' },
      el('legend', {}, `Likely the same person: ${group.reasons.join('; ')}`),
      el('p', { class: 'hint' }, onlyPhone
        ? 'These cards share only a phone number: tick the cards to merge only if they are the same person.'
        : 'Choose the card to keep, and tick the cards to merge into it.'));
    const preview = el('div', { class: 'merge-preview' });
    const body = el('tbody');
    // Each card: keep it, or merge it into the one kept (a number a family
    // shares need not make one person of them all).
    const rows = group.cards.map((card, i) => {
      const keep = el('input', {
        type: 'radio', name, value: card.id, checked: i === 0, 'aria-label': `Keep ${displayName(card)}`,
        onchange: () => clear(preview),
      });
      const include = el('input', {
        type: 'checkbox', checked: !onlyPhone, 'aria-label': `Merge ${displayName(card)}`,
        onchange: () => clear(preview),
      });
      const details = [organisation(card), phoneText(firstData(card, 'tel')), firstData(card, 'mail')]
        .filter(Boolean).join(' · ');
      body.append(el('tr', {}, el('td', {}, keep), el('td', {}, include),
        el('th', { scope: 'row' }, displayName(card)), el('td', { class: 'hint' }, details)));
      return { keep, include };
    });
    box.append(el('table', { class: 'keep-choice' },
      el('thead', {}, el('tr', {},
        el('th', { scope: 'col' }, 'Keep'), el('th', { scope: 'col' }, 'Merge'),
        el('th', { scope: 'col' }, 'Card'), el('th', { scope: 'col' }, 'Details'))),
      body));
    const mergeButton = el('button', {
      type: 'button',
      onclick: () => {
        const keptAt = rows.findIndex((r) => r.keep.checked);
        const kept = group.cards[keptAt];
        const others = group.cards.filter((_, i) => i !== keptAt && rows[i].include.checked);
        clear(preview);
        if (others.length === 0) {
          preview.append(el('p', { class: 'field-error', role: 'alert' },
            'Tick at least one other card to merge into the one kept.'));
          return;
        }
        const [merged, added] = mergeRecords(kept, others);
        const lines = keptLines(merged);
        preview.append(
          el('h4', {}, `The merged card: ${displayName(merged)}`),
          el('ul', {}, summary(merged).map((row) => el('li', {}, row))),
          lines.length ? el('p', {}, `Further lines of the card (${lines.length}):`) : null,
          lines.length ? el('ul', { class: 'kept-lines' }, lines.map((line) => el('li', {}, line))) : null,
          el('h4', {}, added.length ? 'Added from the other cards:' : 'Nothing to add: the other cards hold nothing more.'),
          added.length ? el('ul', {}, added.map((row) => el('li', {}, row))) : null,
          el('p', {}, `Saving stores this card and then deletes ${plural(others.length)}: `
            + `${others.map(displayName).join(', ')}. Until you leave the page, the merge can be undone.`),
          el('div', { class: 'buttons' },
            el('button', {
              type: 'button', class: 'primary',
              onclick: (event) => save(box, event.target, who, kept, others, merged),
            }, 'Save merged card'),
            el('button', { type: 'button', onclick: () => clear(preview) }, 'Cancel')));
      },
    }, 'Merge…');
    box.append(el('div', { class: 'buttons' }, mergeButton), preview);
    return box;
  }

  function problem(box, text) {
    const old = box.querySelector('.merge-problem');
    if (old) old.remove();
    box.append(el('p', { class: 'merge-problem field-error', role: 'alert' }, text));
  }

  async function save(box, saveButton, who, kept, others, merged) {
    saveButton.disabled = true;
    const cards = [kept, ...others];
    // The cards' bytes as they are now: what an undo writes back.
    const copies = [];
    try {
      for (const card of cards) {
        const { text, bytes } = await exactText(who, card.id);
        const version = await versionOf(bytes);
        if (version !== null && typeof card.etag === 'string' && version !== card.etag) {
          problem(box, `${displayName(card)} changed since the search: find duplicates again.`);
          return;
        }
        copies.push({ id: card.id, text });
      }
    } catch (error) {
      problem(box, `Nothing was merged: the cards could not be copied first (${describeError(error)}).`);
      saveButton.disabled = false;
      return;
    }
    const record = { ...merged, resource_name: kept.id };
    if (typeof kept.etag === 'string') record.etag = kept.etag;
    try {
      await callApi(CONTACTS_API, 'edit_card', { user: who, card: record });
    } catch (error) {
      problem(box, error.code === CHANGED
        ? `${displayName(kept)} changed since the search; nothing was merged: find duplicates again.`
        : `Nothing was merged: ${describeError(error)}`);
      return;
    }
    // Only now that the merged card is stored do the others go, each only as listed.
    const merge = {
      user: who, name: displayName(merged), cards: copies, keptId: kept.id, keptEtag: null, undone: false,
    };
    merges.push(merge);
    const params = { user: who, id: others.map((card) => card.id) };
    if (others.every((card) => typeof card.etag === 'string')) params.etag = others.map((card) => card.etag);
    let left = '';
    try {
      await callApi(CONTACTS_API, 'delete_cards', params);
    } catch (error) {
      left = error.code === CHANGED
        ? ` Some of the other cards changed since the search and were kept: ${error.detail}.`
        : ` The other cards could not be deleted: ${describeError(error)}`;
    }
    await find();
    // The merged card's version, as the book read again lists it.
    const stored = found.find((card) => card.id === kept.id);
    if (stored && typeof stored.etag === 'string') merge.keptEtag = stored.etag;
    const undoButton = el('button', { type: 'button', onclick: () => undo(merge) }, 'Undo');
    showStatus(status, left ? 'error' : 'ok',
      el('p', {}, `Merged ${plural(cards.length)} into ${merge.name}.${left} `, undoButton));
    await changed();
  }

  button.addEventListener('click', () => {
    if (user()) find();
  });
  // Another book: its own duplicates are found anew.
  userForm.addEventListener('submit', close);
  return { close };
}

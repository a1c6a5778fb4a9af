// The update candidates of an import (a card of the file that is a changed
// copy of a card in the book): what changed, field by field, and the fields
// the person picks written into the book's card as a versioned edit, so that
// a card changed meanwhile elsewhere is never overwritten.
import { callApi, CONTACTS_API } from './api.js';
import { describeError } from './error-texts.js';
import { el, showStatus } from './dom.js';
import { displayName } from './record.js';
import { unescapeText } from './text-escape.js';

const CHANGED = 1012;

const entries = (list) => (Array.isArray(list) ? list.map((e) => unescapeText(e.data)).join('\n') : '');
const nameOf = (r) => ['prefix', 'given_name', 'additional_name', 'family_name', 'suffix']
  .map((key) => unescapeText((r.name && r.name[key]) || '')).filter(Boolean).join(' ');

// [label, shown text of a record, copy the field from the file's record]
const FIELDS = [
  ['Shown name', (r) => unescapeText((r.name && r.name.formatted_name) || ''),
    (r, f) => { r.name = { ...r.name, formatted_name: (f.name && f.name.formatted_name) || '' }; }],
  ['Name', nameOf, (r, f) => {
    r.name = { ...r.name };
    for (const key of ['prefix', 'given_name', 'additional_name', 'family_name', 'suffix']) {
      r.name[key] = (f.name && f.name[key]) || '';
    }
  }],
  ['Organisation', (r) => unescapeText((r.company && r.company.org) || ''),
    (r, f) => { r.company = { ...r.company, org: (f.company && f.company.org) || '' }; }],
  ['Job title', (r) => unescapeText((r.company && r.company.title) || ''),
    (r, f) => { r.company = { ...r.company, title: (f.company && f.company.title) || '' }; }],
  ['Birthday', (r) => r.bday || '', (r, f) => { r.bday = f.bday || ''; }],
  ['E-mail', (r) => entries(r.mail), (r, f) => { r.mail = f.mail || []; }],
  ['Phone', (r) => entries(r.tel), (r, f) => { r.tel = f.tel || []; }],
  ['Address', (r) => entries(r.adr), (r, f) => { r.adr = f.adr || []; }],
  ['Web address', (r) => entries(r.url), (r, f) => { r.url = f.url || []; }],
  ['Note', (r) => r.note || '', (r, f) => { r.note = f.note || ''; }],
];

function changedFields(book, file) {
  return FIELDS.filter(([, shown]) => shown(book) !== shown(file));
}

// A button for the import's report that opens the review.
export function reviewButton(user, candidates, status, done = async () => {}) {
  const withCards = candidates.filter((c) => c && c.card && typeof c.id === 'string');
  if (withCards.length === 0) return null;
  return el('button', { type: 'button', onclick: () => reviewUpdates(user, withCards, status, done) },
    `Review the ${withCards.length === 1 ? 'update' : `${withCards.length} updates`}…`);
}

export async function reviewUpdates(user, candidates, status, done) {
  let book;
  try {
    const data = await callApi(CONTACTS_API, 'list_cards', { user });
    book = new Map((data.cards || []).map((card) => [card.id, card]));
  } catch (error) {
    showStatus(status, 'error', `The updates cannot be shown: ${describeError(error)}`);
    return;
  }
  const rows = [];
  const sections = [];
  for (const candidate of candidates) {
    const current = book.get(candidate.id);
    if (!current) continue;
    const changes = changedFields(current, candidate.card);
    if (changes.length === 0) continue;
    const boxes = changes.map(([label]) => el('input', { type: 'checkbox', 'aria-label': `Take ${label} from the file` }));
    rows.push({ candidate, current, changes, boxes });
    sections.push(el('section', { class: 'update', dataset: { id: candidate.id } },
      el('h3', {}, displayName(current)),
      el('table', { class: 'cards' },
        el('thead', {}, el('tr', {}, ['', 'Field', 'In the address book', 'In the file']
          .map((h) => el('th', { scope: 'col' }, h)))),
        el('tbody', {}, changes.map(([label, shown], i) => el('tr', {},
          el('td', {}, boxes[i]), el('th', { scope: 'row' }, label),
          el('td', { class: 'pre' }, shown(current)), el('td', { class: 'pre' }, shown(candidate.card))))))));
  }
  if (rows.length === 0) {
    showStatus(status, 'info', 'The cards these updates are for changed or are gone: nothing to review.');
    return;
  }
  const dialog = el('dialog', { id: 'update-review', class: 'wide' },
    el('form', { method: 'dialog' },
      el('h2', {}, 'Updates from the imported file'),
      el('p', {}, 'Tick what the file should change in each card; the rest of the card stays as it is.'),
      sections,
      el('div', { class: 'buttons' },
        el('button', { value: 'cancel' }, 'Cancel'),
        el('button', { value: 'ok', class: 'primary' }, 'Apply the ticked fields'))));
  document.body.append(dialog);
  const apply = await new Promise((resolve) => {
    dialog.addEventListener('close', () => {
      dialog.remove();
      resolve(dialog.returnValue === 'ok');
    }, { once: true });
    dialog.showModal();
  });
  if (!apply) return;
  let applied = 0;
  const changedElsewhere = [];
  const failed = [];
  for (const { candidate, current, changes, boxes } of rows) {
    const picked = changes.filter((_, i) => boxes[i].checked);
    if (picked.length === 0) continue;
    const record = structuredClone(current);
    for (const [, , take] of picked) take(record, candidate.card);
    record.resource_name = current.id;
    try {
      await callApi(CONTACTS_API, 'edit_card', { user, card: record });
      applied += 1;
    } catch (error) {
      (error.code === CHANGED ? changedElsewhere : failed).push(`${displayName(current)}${error.code === CHANGED ? '' : ` (${describeError(error)})`}`);
    }
  }
  const lines = [`${applied} ${applied === 1 ? 'card was' : 'cards were'} updated from the file.`];
  if (changedElsewhere.length) {
    lines.push(`Changed elsewhere meanwhile, so not updated: ${changedElsewhere.join(', ')}. Import the file again to review them anew.`);
  }
  if (failed.length) lines.push(`Not updated: ${failed.join(', ')}.`);
  showStatus(status, changedElsewhere.length || failed.length ? 'error' : 'ok', ...lines);
  await done();
}

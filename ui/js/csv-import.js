// CSV address books on the contacts page: a file whose first line is a row
// of fields goes to the same import as vCard files. Google's and Outlook's
// exports are known by their columns; for any other file the person says
// what each column holds, with the first cards shown as they would be
// stored, before anything is.
import { callWithFile, CONTACTS_API } from './api.js';
import { describeError } from './error-texts.js';
import { el, showStatus } from './dom.js';
import { reviewButton } from './update-review.js';

const SAMPLE_BYTES = 64 * 1024;
// The preview reads the file's start only: enough for its first rows.
const PREVIEW_BYTES = 256 * 1024;
// The detail with which the import asks for the columns (the module's words).
const CHOOSE_COLUMNS = 'choose what each CSV column holds';

export const CSV_TARGETS = [
  ['', '(leave out)'], ['full_name', 'Full name'], ['given_name', 'Given name'],
  ['middle_name', 'Middle name'], ['family_name', 'Family name'], ['prefix', 'Name prefix'],
  ['suffix', 'Name suffix'], ['nickname', 'Nickname'], ['company', 'Company'],
  ['department', 'Department'], ['title', 'Job title'], ['birthday', 'Birthday'],
  ['anniversary', 'Anniversary'], ['note', 'Note'], ['categories', 'Groups (separated by ;)'],
  ['email', 'E-mail'], ['email:home', 'E-mail (home)'], ['email:work', 'E-mail (work)'],
  ['phone', 'Phone'], ['phone:cell', 'Phone (mobile)'], ['phone:home', 'Phone (home)'],
  ['phone:work', 'Phone (work)'], ['phone:fax', 'Fax'], ['url', 'Web address'],
  ['street:home', 'Home street'], ['city:home', 'Home city'], ['region:home', 'Home region'],
  ['postcode:home', 'Home postal code'], ['country:home', 'Home country'],
  ['street:work', 'Work street'], ['city:work', 'Work city'], ['region:work', 'Work region'],
  ['postcode:work', 'Work postal code'], ['country:work', 'Work country'],
  ['address', 'Whole address'],
];

function plural(n, one, many) {
  return `${n} ${n === 1 ? one : many}`;
}

// Whether the file is a CSV file: UTF-16 text, or a first line with a
// separator outside quotes and no vCard in it.
export async function isCsvFile(file) {
  const bytes = new Uint8Array(await file.slice(0, SAMPLE_BYTES).arrayBuffer());
  if (bytes.length >= 2 && ((bytes[0] === 0xff && bytes[1] === 0xfe) || (bytes[0] === 0xfe && bytes[1] === 0xff))) {
    return true;
  }
  const text = new TextDecoder('utf-8').decode(bytes).replace(/^\uFEFF/, '');
  if (/^\s*BEGIN:(VCARD|VCALENDAR)/im.test(text)) return false;
  const first = text.split(/\r\n|\n|\r/).find((line) => line.trim() !== '') || '';
  let quoted = false;
  for (const c of first) {
    if (c === '"') quoted = !quoted;
    else if (!quoted && (c === ',' || c === ';' || c === '\t')) return true;
  }
  return false;
}

function report(user, file, data, status) {
  const lines = [`Imported ${file.name}: ${plural(data.stored || 0, 'card', 'cards')} stored.`];
  if (data.duplicates) lines.push(`${plural(data.duplicates, 'row was', 'rows were')} already in the address book and not stored again.`);
  const updates = Array.isArray(data.update_candidates) ? data.update_candidates.length : 0;
  if (updates) {
    lines.push(`${plural(updates, 'row updates a card', 'rows update cards')} already in the book and ${updates === 1 ? 'was' : 'were'} not stored.`);
    const review = reviewButton(user, data.update_candidates, status);
    if (review) lines.push(review);
  }
  if (data.skipped) lines.push(`The address book refused ${plural(data.skipped, 'card', 'cards')}.`);
  if (data.rows_unreadable) {
    const at = Array.isArray(data.rows_unreadable_lines) ? data.rows_unreadable_lines.join(', ') : '';
    lines.push(`${plural(data.rows_unreadable, 'row', 'rows')} could not be read and ${data.rows_unreadable === 1 ? 'was' : 'were'} left out${at ? ` (lines ${at})` : ''}.`);
  }
  return lines;
}

function cardSummary(card) {
  const name = card.name && (card.name.formatted_name || [card.name.given_name, card.name.family_name].filter(Boolean).join(' '));
  const first = (entries) => (Array.isArray(entries) && entries.length ? entries[0].data : '');
  return [name || '', first(card.mail), first(card.tel), (card.company && card.company.org) || ''];
}

// The mapping step: resolves to the chosen targets, or null when cancelled.
function chooseColumns(user, file, preview) {
  const sample = new File([file.slice(0, PREVIEW_BYTES)], file.name);
  const selects = preview.header.map((name, i) => el('select', { 'aria-label': `Column ${i + 1}: ${name}` },
    CSV_TARGETS.map(([value, label]) => el('option', { value, selected: value === (preview.columns[i] || '') }, label))));
  const cards = el('tbody', {});
  const note = el('p', { class: 'hint', 'aria-live': 'polite' });
  const show = (data) => {
    cards.replaceChildren(...(data.cards || []).map((card) => el('tr', {}, cardSummary(card).map((text) => el('td', {}, text)))));
  };
  const refresh = async () => {
    try {
      show(await callWithFile(CONTACTS_API, 'import_cards', { user, preview: true, csv_columns: selects.map((s) => s.value) }, sample));
      note.textContent = '';
    } catch (error) {
      note.textContent = describeError(error);
    }
  };
  for (const select of selects) select.addEventListener('change', refresh);
  show(preview);
  const dialog = el('dialog', { id: 'csv-columns', class: 'wide' },
    el('form', { method: 'dialog' },
      el('h2', {}, `What do the columns of ${file.name} hold?`),
      el('p', {}, 'The file is a table of contacts, but not one exported by Google or Outlook. Choose what each column holds; nothing is stored before you import.'),
      el('table', { class: 'cards' }, el('tbody', {}, preview.header.map((name, i) => el('tr', {},
        el('th', { scope: 'row' }, name),
        el('td', {}, (preview.rows && preview.rows[0] && preview.rows[0][i]) || ''),
        el('td', {}, selects[i]))))),
      el('h3', {}, 'The first cards as they would be stored'),
      el('table', { class: 'cards', id: 'csv-preview' },
        el('thead', {}, el('tr', {}, ['Name', 'E-mail', 'Phone', 'Company'].map((h) => el('th', { scope: 'col' }, h)))),
        cards),
      note,
      el('div', { class: 'buttons' },
        el('button', { value: 'cancel' }, 'Cancel'),
        el('button', { value: 'ok', class: 'primary' }, 'Import'))));
  document.body.append(dialog);
  return new Promise((resolve) => {
    dialog.addEventListener('close', () => {
      dialog.remove();
      resolve(dialog.returnValue === 'ok' ? selects.map((s) => s.value) : null);
    }, { once: true });
    dialog.showModal();
  });
}

// options: {user, file, status (region)}
export async function runCsvImport({ user, file, status }) {
  const upload = (params) => callWithFile(CONTACTS_API, 'import_cards', { user, ...params }, file);
  showStatus(status, 'info', `Importing ${file.name}…`);
  try {
    showStatus(status, 'ok', ...report(user, file, await upload({}), status));
    return;
  } catch (error) {
    if (!String(error.detail || '').includes(CHOOSE_COLUMNS)) {
      showStatus(status, 'error', `${file.name} was not imported: ${describeError(error)}`);
      return;
    }
  }
  let columns;
  try {
    const sample = new File([file.slice(0, PREVIEW_BYTES)], file.name);
    const preview = await callWithFile(CONTACTS_API, 'import_cards', { user, preview: true }, sample);
    columns = await chooseColumns(user, file, preview);
  } catch (error) {
    showStatus(status, 'error', `${file.name} was not imported: ${describeError(error)}`);
    return;
  }
  if (!columns) {
    showStatus(status, 'info', `${file.name} was not imported: nothing was stored.`);
    return;
  }
  showStatus(status, 'info', `Importing ${file.name}…`);
  try {
    showStatus(status, 'ok', ...report(user, file, await upload({ csv_columns: columns }), status));
  } catch (error) {
    showStatus(status, 'error', `${file.name} was not imported: ${describeError(error)}`);
  }
}

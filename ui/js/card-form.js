// The form of one card. It keeps the record as the module listed it and, on
// save, changes only what the person edited: every member the form does not
// show, or that was left alone, goes back exactly as it came, with the
// version ("etag") it was listed with. After the card changed elsewhere, the
// form shows a draft (the person's edits on the new version) and, beside each
// field changed on both sides, the other value to choose from.
import { el, field, clear, showStatus, hideStatus } from './dom.js';
import { clone, emptyRecord, displayName, joinedName } from './record.js';
import { ADDRESS_PARTS, splitAddress, joinAddress } from './address.js';
import {
  unescapeText, escapeTyped, escapeNote, splitComponents, joinComponents,
} from './text-escape.js';
import {
  otherLines, photoOf, keptFacts, parseBirthday, birthdayValue, TYPE_MENUS, menuIndex,
  looksLikeMail, looksLikeWebAddress,
} from './card-parts.js';
import { phoneText } from './record.js';

// Members of "name" in the order a person reads them; others found in a
// record are shown after these, under their own key.
const NAME_PARTS = [
  ['prefix', 'Name prefix'],
  ['given_name', 'Given name'],
  ['additional_name', 'Additional names'],
  ['family_name', 'Family name'],
  ['suffix', 'Name suffix'],
];
// The name parts a display name follows until the person edits it.
const FOLLOWED = ['given_name', 'additional_name', 'family_name'];
const NAME_PARTS_ALWAYS = new Set(NAME_PARTS.map(([key]) => key));

const ENTRY_KINDS = [
  { key: 'tel', title: 'Phones', one: 'Phone', property: 'TEL', inputType: 'tel' },
  { key: 'mail', title: 'E-mail addresses', one: 'E-mail', property: 'EMAIL', inputType: 'email',
    check: looksLikeMail, warning: 'This does not look like an e-mail address (name@example.org).' },
  { key: 'adr', title: 'Addresses', one: 'Address', property: 'ADR', address: true },
  { key: 'url', title: 'Web addresses', one: 'Web address', property: 'URL', inputType: 'url',
    check: looksLikeWebAddress, warning: 'This does not look like a web address (https://example.org).' },
];
const CUSTOM = 'custom';
const NO_TYPE = 'none';

function isObject(value) {
  return value !== null && typeof value === 'object' && !Array.isArray(value);
}

function textOf(value) {
  return typeof value === 'string' ? value : '';
}

function typesText(entry) {
  return Array.isArray(entry.type) ? entry.type.filter((t) => typeof t === 'string').join(', ') : '';
}

function parseTypes(textValue) {
  return textValue.split(',').map((t) => t.trim()).filter(Boolean);
}

// The label a person gave the entry; an ungrouped property's own name
// ("TEL", "EMAIL", ...) is no label of theirs.
function labelText(entry, property) {
  const label = entry.cust_name;
  return typeof label === 'string' && label !== property ? unescapeText(label) : '';
}

function humanise(key) {
  const words = key.replace(/_/g, ' ');
  return words.charAt(0).toUpperCase() + words.slice(1);
}

// Sets record[path[0]][path[1]]... = value, making the objects on the way.
function setPath(record, path, value) {
  let holder = record;
  for (const key of path.slice(0, -1)) {
    if (!isObject(holder[key])) holder[key] = {};
    holder = holder[key];
  }
  holder[path[path.length - 1]] = value;
}

function getPath(record, path) {
  let value = record;
  for (const key of path) value = isObject(value) ? value[key] : undefined;
  return value;
}

function same(a, b) {
  return JSON.stringify(a) === JSON.stringify(b);
}

// The fields a person edits, each named by its path ("name.given_name",
// "company.org", "tel", ...): the unit of a merge and of a conflict.
export function fieldKeys(...records) {
  const keys = new Set();
  for (const record of records) {
    const name = isObject(record.name) ? record.name : {};
    for (const key of Object.keys(name)) if (typeof name[key] === 'string') keys.add(`name.${key}`);
  }
  for (const key of ['name.given_name', 'name.additional_name', 'name.family_name', 'name.formatted_name',
    'company.org', 'company.title', 'bday', 'note', 'tel', 'mail', 'adr', 'url']) keys.add(key);
  return [...keys];
}

export function fieldValue(record, key) {
  return getPath(record, key.split('.'));
}

// A field's value in words, for a conflict: texts unescaped, entries listed.
function shownValue(key, value) {
  if (value === undefined || value === '' || (Array.isArray(value) && value.length === 0)) return '(empty)';
  if (key === 'company.org') return splitComponents(value).map(unescapeText).filter(Boolean).join(', ');
  if (Array.isArray(value)) {
    return value.map((entry) => (isObject(entry) ? unescapeText(textOf(entry.data)).replace(/;+/g, ' ').trim() : '?'))
      .join('; ');
  }
  return unescapeText(textOf(value));
}

const FIELD_NAMES = {
  'name.formatted_name': 'Display name', 'company.org': 'Organisation', 'company.title': 'Title',
  bday: 'Birthday', note: 'Note', tel: 'Phones', mail: 'E-mail addresses', adr: 'Addresses', url: 'Web addresses',
};

export function fieldName(key) {
  if (FIELD_NAMES[key]) return FIELD_NAMES[key];
  const part = NAME_PARTS.find(([k]) => `name.${k}` === key);
  return part ? part[1] : humanise(key.replace(/^name\./, ''));
}

export class CardForm {
  // options: {record (null for a new card), draft (what the fields show,
  // when not the record), conflicts ({field key: value elsewhere}), notice
  // (a message to show), onSave(record) -> Promise, onClose()}
  constructor(container, options) {
    this.container = container;
    this.isNew = !options.record;
    this.original = this.isNew ? emptyRecord() : clone(options.record);
    this.draft = options.draft ? clone(options.draft) : this.original;
    this.conflicts = { ...(options.conflicts || {}) };
    this.notice = options.notice || null;
    this.onSave = options.onSave;
    this.onClose = options.onClose;
    this.render();
  }

  // The edited fields: {field key: value as it would be sent}.
  edits() {
    const record = this.collect();
    const edits = {};
    for (const key of fieldKeys(record, this.original)) {
      const value = fieldValue(record, key);
      if (!same(value, fieldValue(this.original, key))) edits[key] = value;
    }
    return edits;
  }

  isDirty() {
    return Object.keys(this.edits()).length > 0;
  }

  // Redraws the form on a changed draft, keeping what was typed.
  redraw(draft) {
    this.draft = draft;
    this.render();
  }

  // A conflict settled: the value elsewhere taken, or the person's own kept.
  settle(key, takeTheirs) {
    const draft = this.collect();
    delete draft.resource_name;
    if (takeTheirs) {
      const value = this.conflicts[key];
      const path = key.split('.');
      if (value === undefined) {
        let holder = draft;
        for (const part of path.slice(0, -1)) holder = isObject(holder) ? holder[part] : undefined;
        if (isObject(holder)) delete holder[path[path.length - 1]];
      } else {
        setPath(draft, path, clone(value));
      }
    }
    delete this.conflicts[key];
    this.redraw(draft);
    const next = this.form.querySelector('.conflict button') || this.form.querySelector(`[data-member="${key}"]`);
    if (next) next.focus();
  }

  // Beside a field changed on both sides: the other value and the choice.
  conflictPanel(key) {
    if (!(key in this.conflicts)) return null;
    const name = fieldName(key);
    return el('div', { class: 'conflict', role: 'group', 'aria-label': `${name} changed elsewhere` },
      el('p', {}, el('strong', {}, `${name} was also changed elsewhere. `), 'Choose which to keep.'),
      el('dl', {},
        el('dt', {}, 'Yours (in the form)'), el('dd', { class: 'mine' }, shownValue(key, fieldValue(this.draft, key))),
        el('dt', {}, 'Saved elsewhere'), el('dd', { class: 'theirs' }, shownValue(key, this.conflicts[key]))),
      el('div', { class: 'buttons' },
        el('button', { type: 'button', onclick: () => this.settle(key, false) }, `Keep yours (${name})`),
        el('button', { type: 'button', onclick: () => this.settle(key, true) }, `Take the saved one (${name})`)));
  }

  get cardId() {
    return this.isNew ? null : this.original.id;
  }

  render() {
    clear(this.container);
    this.scalars = [];
    this.lists = {};
    const title = this.isNew ? 'New card' : `Edit card: ${displayName(this.original)}`;
    this.status = el('div', { class: 'status', 'aria-live': 'polite', hidden: true });
    this.noticeNode = el('div', { class: 'status status-info notice', role: 'status', hidden: !this.notice },
      this.notice ? el('p', {}, this.notice) : null);
    this.form = el('form', { class: 'card-form', novalidate: true, 'aria-labelledby': 'card-form-title' },
      el('h3', { id: 'card-form-title' }, title),
      this.noticeNode,
      this.renderName(),
      this.renderCompany(),
      ...ENTRY_KINDS.map((kind) => this.renderEntries(kind)),
      this.renderOthers(),
      this.renderKept(),
      el('div', { class: 'buttons sticky' },
        el('button', { type: 'submit', class: 'primary' }, this.isNew ? 'Add card' : 'Save card'),
        el('button', { type: 'button', onclick: () => this.onClose() }, 'Cancel'),
        this.status));
    this.status.tabIndex = -1;
    this.form.addEventListener('submit', (event) => {
      event.preventDefault();
      this.save();
    });
    this.form.addEventListener('keydown', (event) => {
      if (event.key === 'Escape') {
        event.preventDefault();
        this.onClose();
      }
    });
    this.container.append(this.form);
  }

  // The given name, where people start typing a card (the prefix before it
  // is seldom used).
  focusFirst() {
    const first = this.form.querySelector('[data-member="name.given_name"]') || this.form.querySelector('input, textarea');
    if (first) first.focus();
  }

  // A text input bound to a member at path, shown unescaped; only an edit
  // changes the record, and then to the typed text escaped.
  scalar(path, labelText_, { multiline = false, hint, placeholder, inputType = 'text' } = {}) {
    const initial = unescapeText(getPath(this.original, path));
    const input = multiline
      ? el('textarea', { rows: 3 })
      : el('input', { type: inputType, autocomplete: 'off', placeholder });
    input.value = unescapeText(getPath(this.draft, path));
    input.dataset.member = path.join('.');
    const escape = multiline ? escapeNote : escapeTyped;
    this.scalars.push({ path, input, initial, escape });
    const { wrap } = field(labelText_, input, hint);
    const panel = this.conflictPanel(path.join('.'));
    if (panel) wrap.append(panel);
    return wrap;
  }

  renderName() {
    const name = isObject(this.original.name) ? this.original.name : {};
    const known = NAME_PARTS.filter(([key]) => NAME_PARTS_ALWAYS.has(key) || typeof name[key] === 'string');
    const knownKeys = new Set(NAME_PARTS.map(([key]) => key));
    const extra = Object.keys(name).filter((key) => !knownKeys.has(key) && key !== 'formatted_name'
      && typeof name[key] === 'string');
    const fields = [
      ...known.map(([key, label]) => this.scalar(['name', key], label)),
      this.scalar(['name', 'formatted_name'], 'Display name', { hint: 'As phones and mail programs show the card' }),
      ...extra.map((key) => this.scalar(['name', key], humanise(key))),
    ];
    this.followName();
    return el('fieldset', { class: 'grid' }, el('legend', {}, 'Name'), fields);
  }

  // The display name follows the given, additional and family names while it
  // reads as they do (or is empty), until the person types one of their own.
  followName() {
    const inputOf = (key) => this.scalars.find((s) => s.path[0] === 'name' && s.path[1] === key).input;
    const shown = inputOf('formatted_name');
    const parts = FOLLOWED.map(inputOf);
    const joined = () => joinedName(parts[0].value, parts[1].value, parts[2].value);
    let follows = shown.value === '' || shown.value === joined();
    // Left empty, the card's display name is made from the name parts.
    shown.placeholder = joined();
    for (const part of parts) {
      part.addEventListener('input', () => {
        shown.placeholder = joined();
        if (follows) shown.value = joined();
      });
    }
    shown.addEventListener('input', () => {
      follows = shown.value === '';
    });
  }

  // ORG is units separated by ';': the organisation's name, then its
  // departments. Each unit is a field; an edited one is escaped on its own,
  // the others go back as the card spells them.
  renderCompany() {
    const raw = textOf(getPath(this.original, ['company', 'org']));
    const parts = splitComponents(raw);
    const shown = splitComponents(textOf(getPath(this.draft, ['company', 'org'])));
    while (parts.length < Math.max(2, shown.length)) parts.push('');
    const inputs = parts.map((part, index) => {
      const input = el('input', { type: 'text', autocomplete: 'off' });
      input.value = unescapeText(shown[index] || '');
      input.dataset.member = index === 0 ? 'company.org' : `company.org.${index}`;
      return input;
    });
    this.org = { raw, parts, inputs, initial: parts.map(unescapeText) };
    const labels = ['Organisation', 'Department'];
    return el('fieldset', { class: 'grid' }, el('legend', {}, 'Organisation'),
      this.conflictPanel('company.org'),
      inputs.map((input, index) => field(labels[index] || `Unit ${index + 1}`, input).wrap),
      this.scalar(['company', 'title'], 'Title'));
  }

  // ORG's value as edited, or null when no unit was.
  orgValue() {
    const { parts, inputs, initial } = this.org;
    if (inputs.every((input, index) => input.value === initial[index])) return null;
    const units = inputs.map((input, index) => (input.value === initial[index] ? parts[index] : escapeTyped(input.value)));
    while (units.length > 1 && units[units.length - 1] === '') units.pop();
    return joinComponents(units);
  }

  renderOthers() {
    return el('fieldset', {}, el('legend', {}, 'Birthday and note'),
      this.renderBirthday(),
      this.scalar(['note'], 'Note', { multiline: true }));
  }

  // A date field; a birthday without a year is stored as --MM-DD. A value
  // that is no date the page can read is shown as it is, and kept unless
  // the person replaces it.
  renderBirthday() {
    const raw = getPath(this.draft, ['bday']);
    const shown = parseBirthday(raw);
    const input = el('input', { type: 'date', autocomplete: 'off' });
    input.dataset.member = 'bday';
    const noYear = el('input', { type: 'checkbox' });
    if (shown) {
      input.value = birthdayValue({ ...shown, year: shown.year === null ? 2000 : shown.year });
      noYear.checked = shown.year === null;
    }
    const { wrap } = field('Birthday', input);
    const unread = typeof raw === 'string' && raw.trim() !== '' && !shown;
    const note = el('span', { class: 'hint' }, unread
      ? `The card gives "${unescapeText(raw)}", which is no date: it is kept unless you pick one.`
      : 'Day, month and year; tick "No year" when the year is not known.');
    note.id = `${input.id}-hint`;
    input.setAttribute('aria-describedby', note.id);
    const yearBox = el('label', { class: 'check' }, noYear, 'No year');
    wrap.append(note, yearBox);
    this.birthday = { input, noYear, raw, initial: { value: input.value, noYear: noYear.checked } };
    const panel = this.conflictPanel('bday');
    if (panel) wrap.append(panel);
    return wrap;
  }

  // The birthday to send: undefined when left as it was, null to remove it.
  birthdayEdit() {
    const { input, noYear, initial, raw } = this.birthday;
    if (input.value === initial.value && noYear.checked === initial.noYear) {
      const listed = getPath(this.original, ['bday']);
      if (raw === listed) return undefined;
      return raw === undefined ? null : raw;
    }
    if (input.value === '') return null;
    const picked = parseBirthday(input.value);
    if (!picked) return undefined;
    return birthdayValue(noYear.checked ? { ...picked, year: null } : picked);
  }

  // What the card keeps that the form does not edit: its photo, nickname,
  // groups and every other line, read-only.
  renderKept() {
    const lines = otherLines(this.original.other);
    const photo = photoOf(lines);
    const facts = keptFacts(lines);
    if (!photo && facts.length === 0) return null;
    let photoNode = null;
    if (photo && photo.src) {
      photoNode = el('img', { class: 'photo', src: photo.src, alt: `Photo of ${displayName(this.original)}` });
    } else if (photo) {
      photoNode = el('p', { class: 'hint' }, `The photo is given by an address and not loaded: ${photo.url}`);
    }
    return el('details', { class: 'kept', open: Boolean(photo) },
      el('summary', {}, 'More (kept as the card has it)'),
      photoNode,
      facts.length ? el('dl', {}, facts.map((fact) => [el('dt', {}, fact.label), el('dd', {}, fact.text)])) : null);
  }

  renderEntries(kind) {
    const original = Array.isArray(this.draft[kind.key]) ? this.draft[kind.key] : [];
    const rowsNode = el('div', { class: 'entries' });
    // A draft's own entries count as edited even before anything is typed.
    const list = { kind, rows: [], rowsNode, forced: !same(this.draft[kind.key], this.original[kind.key]) };
    this.lists[kind.key] = list;
    original.forEach((entry) => {
      // Elements the page cannot show are kept in their place untouched.
      if (isObject(entry)) this.addRow(list, entry);
      else list.rows.push({ orig: entry, opaque: true });
    });
    const addButton = el('button', {
      type: 'button', class: 'add',
      onclick: () => {
        const row = this.addRow(list, null);
        row.focusTarget.focus();
      },
    }, `Add ${kind.one.toLowerCase()}`);
    return el('fieldset', { class: `entries-set entries-${kind.key}`, 'data-member': kind.key },
      el('legend', {}, kind.title), this.conflictPanel(kind.key), rowsNode, addButton);
  }

  addRow(list, entry) {
    const { kind } = list;
    const orig = entry ? clone(entry) : null;
    const base = orig || {};
    const number = list.rows.filter((r) => !r.opaque).length + 1;
    const row = { orig, opaque: false, removed: false };
    const rowNode = el('div', { class: 'entry', role: 'group', 'aria-label': `${kind.one} ${number}` });

    if (kind.address) {
      const raw = textOf(base.data);
      row.rawParts = splitAddress(raw);
      row.partInputs = [];
      row.partInitial = [];
      const grid = el('div', { class: 'grid address' });
      for (const part of ADDRESS_PARTS) {
        const shown = unescapeText(row.rawParts[part.index]);
        const input = el('input', { type: 'text', autocomplete: 'off' });
        input.value = shown;
        input.dataset.part = part.key;
        row.partInputs[part.index] = input;
        row.partInitial[part.index] = shown;
        grid.append(field(part.label, input).wrap);
      }
      rowNode.append(grid);
      row.focusTarget = row.partInputs[2];
    } else {
      const input = el('input', { type: kind.inputType, autocomplete: 'off', class: 'data' });
      // A vCard 4.0 phone ("tel:+1-555-0100") shows as its number; a value
      // shows unescaped ("+1 555 0100\,\,12" as typed: "+1 555 0100,,12").
      const rawData = unescapeText(textOf(base.data));
      row.telUri = kind.key === 'tel' && /^tel:/i.test(rawData);
      input.value = kind.key === 'tel' ? phoneText(rawData) : rawData;
      row.dataInput = input;
      row.dataInitial = input.value;
      const dataField = field(kind.one, input);
      if (kind.check) this.warnUnless(input, dataField.wrap, kind.check, kind.warning);
      rowNode.append(dataField.wrap);
      row.focusTarget = input;
    }

    // Types: the usual ones from a menu, any other typed in.
    const types = Array.isArray(base.type) ? base.type.filter((t) => typeof t === 'string') : [];
    const menu = TYPE_MENUS[kind.key];
    const at = types.length ? menuIndex(kind.key, types) : -1;
    row.typeMenu = el('select', { class: 'type-menu' },
      el('option', { value: NO_TYPE }, '(none)'),
      menu.map(([label], index) => el('option', { value: String(index) }, label)),
      el('option', { value: CUSTOM }, 'Custom…'));
    row.typeMenu.value = types.length === 0 ? NO_TYPE : at >= 0 ? String(at) : CUSTOM;
    row.typesInput = el('input', { type: 'text', autocomplete: 'off', class: 'types' });
    row.typesInput.value = row.typeMenu.value === CUSTOM ? typesText(base) : '';
    row.typesInitial = `${row.typeMenu.value}|${row.typesInput.value}`;
    const customField = field('Custom type', row.typesInput, 'Types separated by commas');
    customField.wrap.hidden = row.typeMenu.value !== CUSTOM;
    row.typeMenu.addEventListener('change', () => {
      customField.wrap.hidden = row.typeMenu.value !== CUSTOM;
      if (row.typeMenu.value === CUSTOM) row.typesInput.focus();
    });
    // The writer takes a label from the card's own label line, not from the
    // record, so a label is shown as the card has it and cannot be edited.
    const label = labelText(base, kind.property);
    const labelField = label
      ? field('Label', el('input', { type: 'text', class: 'label', readOnly: true, value: label }),
        'Kept as the card has it').wrap
      : null;

    const remove = el('button', {
      type: 'button', class: 'remove',
      'aria-label': `Remove ${kind.one.toLowerCase()} ${number}`,
      onclick: () => {
        row.removed = true;
        rowNode.remove();
        const next = list.rowsNode.querySelector('input');
        if (next) next.focus();
      },
    }, 'Remove');
    // Other parameters of the line (PREF=1, VALUE=uri, ...) go back as they came.
    const params = Array.isArray(base.params) ? base.params.filter((p) => typeof p === 'string') : [];
    const paramsField = params.length
      ? field('Other parameters', el('input', {
        type: 'text', class: 'params', readOnly: true, value: params.join('; '),
      }), 'Kept as the card has them').wrap
      : null;
    rowNode.append(el('div', { class: 'grid small' },
      field('Type', row.typeMenu).wrap,
      customField.wrap,
      labelField,
      paramsField,
      el('div', { class: 'field end' }, remove)));
    list.rows.push(row);
    list.rowsNode.append(rowNode);
    return row;
  }

  // The entry of a row as it is now: the original entry untouched when
  // nothing of it was edited; null when the row holds no value.
  rowEntry(row, kind) {
    if (row.opaque) return { entry: row.orig, changed: false };
    let changed = row.orig === null;
    const entry = row.orig ? clone(row.orig) : {};

    let data;
    if (kind.address) {
      const parts = row.rawParts.slice();
      let edited = false;
      for (const [index, input] of row.partInputs.entries()) {
        if (!input) continue;
        if (input.value !== row.partInitial[index]) {
          parts[index] = escapeTyped(input.value);
          edited = true;
        }
      }
      data = edited ? joinAddress(parts) : textOf(entry.data);
      if (edited) {
        entry.data = data;
        changed = true;
      }
      if (row.partInputs.every((input) => !input || input.value.trim() === '')) data = '';
    } else {
      data = row.dataInput.value;
      if (data !== row.dataInitial) {
        data = escapeTyped(data.trim());
        if (row.telUri && data !== '') data = `tel:${data}`;
        entry.data = data;
        changed = true;
      }
    }
    if (data.trim() === '') return { entry: null, changed: true };
    if (row.orig === null) entry.data = data;

    if (`${row.typeMenu.value}|${row.typesInput.value}` !== row.typesInitial) {
      const choice = row.typeMenu.value;
      const types = choice === CUSTOM ? parseTypes(row.typesInput.value)
        : choice === NO_TYPE ? [] : [...TYPE_MENUS[kind.key][Number(choice)][1]];
      if (types.length) entry.type = types;
      else delete entry.type;
      changed = true;
    }
    return { entry, changed };
  }

  // The record to send: the listed record with the edits applied.
  collect() {
    const record = clone(this.original);
    for (const { path, input, initial, escape } of this.scalars) {
      if (input.value === initial) continue;
      // A member the card did not have stays absent when left empty.
      if (input.value === '' && getPath(this.original, path) === undefined) continue;
      setPath(record, path, escape(input.value));
    }
    const org = this.orgValue();
    if (org !== null) setPath(record, ['company', 'org'], org);
    const bday = this.birthdayEdit();
    if (bday === null) delete record.bday;
    else if (bday !== undefined) record.bday = bday;
    for (const list of Object.values(this.lists)) {
      let changed = list.forced || list.rows.some((row) => row.removed);
      const entries = [];
      for (const row of list.rows) {
        if (row.removed) continue;
        const { entry, changed: rowChanged } = this.rowEntry(row, list.kind);
        changed = changed || rowChanged;
        if (entry !== null) entries.push(entry);
      }
      if (!changed) continue;
      const key = list.kind.key;
      // "adr" and "url" are absent from a record without them; keep it so.
      if (entries.length === 0 && !(key in this.original) && (key === 'adr' || key === 'url')) continue;
      record[key] = entries;
    }
    if (!this.isNew) record.resource_name = this.original.id;
    return record;
  }

  // A warning beside an input whose value does not look as it should;
  // saving stays possible. Its line is kept while empty, so that nothing
  // moves under the pointer when it appears on leaving the field.
  warnUnless(input, wrap, check, text) {
    const warning = el('span', { class: 'field-warning', id: `${input.id}-warning` });
    wrap.append(warning);
    input.setAttribute('aria-describedby', warning.id);
    const update = () => {
      warning.textContent = input.value.trim() === '' || check(input.value) ? '' : text;
    };
    input.addEventListener('change', update);
    input.addEventListener('blur', update);
    update();
  }

  // Problems that stop a save: [{input, text}], each shown at its field.
  problems(record) {
    const nameParts = isObject(record.name) ? Object.values(record.name) : [];
    const hasName = nameParts.some((part) => typeof part === 'string' && part.trim() !== '')
      || textOf(getPath(record, ['company', 'org'])).trim() !== '';
    const found = [];
    if (!hasName) {
      const given = this.scalars.find((s) => s.path[1] === 'given_name');
      found.push({ input: given.input, text: 'Give the card a name or an organisation.' });
    }
    const bday = this.birthday.input;
    if (bday.validity && bday.validity.badInput) found.push({ input: bday, text: 'This is not a whole date.' });
    return found;
  }

  // Shows each problem beside its field; the first in view, with the focus.
  showProblems(found) {
    for (const node of this.form.querySelectorAll('.field-error.problem')) node.remove();
    for (const input of this.form.querySelectorAll('[aria-invalid="true"]')) input.removeAttribute('aria-invalid');
    for (const { input, text } of found) {
      const message = el('span', { class: 'field-error problem', id: `${input.id}-error` }, text);
      input.closest('.field').append(message);
      input.setAttribute('aria-invalid', 'true');
      const described = (input.getAttribute('aria-describedby') || '').split(' ').filter(Boolean);
      input.setAttribute('aria-describedby', [message.id, ...described].join(' '));
    }
    if (found.length) {
      found[0].input.scrollIntoView({ block: 'center' });
      found[0].input.focus();
    }
  }

  async save() {
    const open = Object.keys(this.conflicts);
    if (open.length) {
      showStatus(this.status, 'error', `Choose which ${fieldName(open[0])} to keep first.`);
      this.form.querySelector('.conflict button').focus();
      return;
    }
    const record = this.collect();
    const problems = this.problems(record);
    this.showProblems(problems);
    if (problems.length) {
      showStatus(this.status, 'error', problems.length === 1 ? 'The card was not saved: see the field marked.'
        : `The card was not saved: see the ${problems.length} fields marked.`);
      return;
    }
    hideStatus(this.status);
    const buttons = this.form.querySelectorAll('button');
    for (const button of buttons) button.disabled = true;
    try {
      await this.onSave(record, this);
    } catch (error) {
      showStatus(this.status, 'error', error.message);
    } finally {
      for (const button of buttons) button.disabled = false;
    }
  }

  // A failed save: the message beside the Save button, in view, focused.
  showError(message) {
    showStatus(this.status, 'error', message);
    this.status.scrollIntoView({ block: 'nearest' });
    this.status.focus();
  }
}


// A calendar's file actions on the calendars page: import an .ics file into
// it (events, tasks and journal entries; what was stored, already there,
// an update or left out is said), and export it whole as one .ics file.
import { callRouteWithFile, downloadRoute } from './api.js';
import { describeError } from './error-texts.js';
import { el, showStatus } from './dom.js';
import { plural } from './users-list.js';
import { saveBlob } from './save-file.js';

function importReport(name, data) {
  const lines = [`Imported into ${name}: ${plural(data.stored || 0, 'item', 'items')} stored.`];
  if (data.merged) lines.push(`${plural(data.merged, 'change of a repeating entry', 'changes of repeating entries')} listed apart in the file joined their entries.`);
  if (data.duplicates) lines.push(`${plural(data.duplicates, 'item was', 'items were')} already in the calendar and not stored again.`);
  const updates = Array.isArray(data.update_candidates) ? data.update_candidates : [];
  if (updates.length) {
    lines.push(`${plural(updates.length, 'item is', 'items are')} a changed copy of an entry already in the calendar and `
      + `${updates.length === 1 ? 'was' : 'were'} not stored: ${updates.slice(0, 10).map((u) => u.uid).join(', ')}`
      + `${updates.length > 10 ? ', …' : ''}.`);
  }
  if (data.skipped) {
    const why = Array.isArray(data.skipped_why) ? data.skipped_why.slice(0, 5) : [];
    lines.push(`${plural(data.skipped, 'entry was', 'entries were')} left out because the calendar server could not load `
      + `${data.skipped === 1 ? 'it' : 'them'}${why.length ? `: ${why.map((w) => `line ${w.line}: ${w.reason}`).join('; ')}` : ''}.`);
  }
  return lines;
}

// The update candidates to tick, and a button that imports the file again
// writing the ticked ones (each only while the calendar's entry is as the
// import found it).
function applyStep(user, collection, file, updates, status, done) {
  const boxes = updates.map((u) => el('input', { type: 'checkbox', value: u.uid, 'aria-label': `Apply ${u.uid}` }));
  const apply = async () => {
    const uids = boxes.filter((box) => box.checked).map((box) => box.value);
    if (uids.length === 0) return;
    try {
      const data = await callRouteWithFile('calendars/import',
        { user, name: collection.name, apply: JSON.stringify(uids) }, file);
      const left = Array.isArray(data.update_candidates) ? data.update_candidates.length : 0;
      showStatus(status, left ? 'error' : 'ok', `${plural(data.updated || 0, 'entry was', 'entries were')} updated from ${file.name}.`,
        ...(left ? [`${plural(left, 'entry', 'entries')} changed meanwhile and ${left === 1 ? 'was' : 'were'} not updated.`] : []));
    } catch (error) {
      showStatus(status, 'error', `Nothing was updated: ${describeError(error)}`);
    }
    await done();
  };
  return el('div', { class: 'updates' },
    el('ul', {}, updates.slice(0, 200).map((u, i) => el('li', {}, el('label', {}, boxes[i], ` ${u.uid}`)))),
    el('button', { type: 'button', onclick: apply }, 'Apply the ticked updates'));
}

// The buttons of one calendar; done() reloads the page's list.
export function calendarFileButtons(user, collection, status, done) {
  const input = el('input', { type: 'file', accept: '.ics,text/calendar', hidden: true });
  input.addEventListener('change', async () => {
    const file = input.files[0];
    input.value = '';
    if (!file) return;
    showStatus(status, 'info', `Importing ${file.name} into ${collection.name}…`);
    try {
      const data = await callRouteWithFile('calendars/import', { user, name: collection.name }, file);
      const updates = Array.isArray(data.update_candidates) ? data.update_candidates : [];
      showStatus(status, data.skipped ? 'error' : 'ok', ...importReport(collection.name, data),
        ...(updates.length ? [applyStep(user, collection, file, updates, status, done)] : []));
    } catch (error) {
      showStatus(status, 'error', `${file.name} was not imported: ${describeError(error)}`);
    }
    await done();
  });
  const exportIt = async () => {
    try {
      saveBlob(await downloadRoute('calendars/export', { user, name: collection.name }, 'text/calendar'),
        `${collection.name}.ics`);
    } catch (error) {
      showStatus(status, 'error', describeError(error));
    }
  };
  return [
    input,
    el('button', { type: 'button', onclick: () => input.click() }, 'Import .ics'),
    el('button', { type: 'button', onclick: exportIt }, 'Export .ics'),
  ];
}

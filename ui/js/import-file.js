// Import of a .vcf file chosen from the computer: the upload, then the
// server's work, with the book's count before and after.
import { callApi, callWithFile, CONTACTS_API } from './api.js';
import { displayName } from './record.js';
import { describeError } from './error-texts.js';
import { showStatus } from './dom.js';
import { isCsvFile, runCsvImport } from './csv-import.js';
import { reviewButton } from './update-review.js';

const POLL_MS = 1000;
// The host takes request bodies up to 16 MiB; the form's own fields need a
// little of that. A larger file is refused here rather than cut off mid-way.
const MAX_FILE_BYTES = 16 * 1024 * 1024 - 64 * 1024;

// The cards the file holds, counted the way the import reads it: lines that
// begin with the marker, in that letter case.
export function countCardsInText(text) {
  let cards = 0;
  for (const line of text.split('\n')) if (line.startsWith('BEGIN:VCARD')) cards += 1;
  return cards;
}

// Why a file is no vCard file, in words, or null when it may be one.
export function notVcardReason(text) {
  if (text.trim() === '') return 'the file is empty';
  const head = text.slice(0, 4096);
  // eslint-disable-next-line no-control-regex
  if (head.includes('\u0000') || (head.match(/[\u0001-\u0008\u000e-\u001f]/g) || []).length > head.length / 20) {
    return 'it is not a text file';
  }
  if (/^\s*BEGIN:VCARD\s*$/im.test(text)) return null;
  const firstLine = text.replace(/^\uFEFF/, '').split(/\r?\n/)[0];
  if ((firstLine.match(/[,;\t]/g) || []).length >= 2) return 'it looks like a table (CSV), not a vCard file';
  return 'no card in it begins with BEGIN:VCARD';
}

function plural(n, one, many) {
  return `${n} ${n === 1 ? one : many}`;
}

// options: {user, file, status (region), countBook() -> Promise<number>}
export async function runImport({ user, file, status, countBook }) {
  const box = document.getElementById('import-progress');
  const bar = document.getElementById('import-bar');
  const label = document.getElementById('import-label');
  const setProgress = (text, value, max) => {
    label.textContent = text;
    if (max > 0) {
      bar.max = max;
      bar.value = Math.min(value, max);
    } else {
      bar.removeAttribute('value');
    }
  };

  if (file.size > MAX_FILE_BYTES) {
    showStatus(status, 'error', `${file.name} was not imported: ${describeError({
      code: 106, detail: `the file has ${file.size} bytes` })}`, 'Split it into smaller files and import each.');
    return;
  }
  let before;
  let inFile = 0;
  try {
    if (await isCsvFile(file)) {
      await runCsvImport({ user, file, status });
      return;
    }
    const text = await file.text();
    const reason = notVcardReason(text);
    if (reason) {
      showStatus(status, 'error', `${file.name} is not a vCard file: ${reason}. Nothing was imported.`,
        'Save the contacts as a vCard file (.vcf) from the program or phone that holds them, and import that file.');
      return;
    }
    inFile = countCardsInText(text);
    before = await countBook();
  } catch (error) {
    showStatus(status, 'error', `The import did not start: ${describeError(error)}`);
    return;
  }

  box.hidden = false;
  setProgress(`Sending ${file.name}…`, 0, 0);
  let serverWorking = false;
  let stored = 0;
  let polling = false;
  // The store takes the cards one by one: the count of the book shows how
  // far the server has got.
  const poll = setInterval(async () => {
    if (!serverWorking || polling) return;
    polling = true;
    try {
      stored = Math.max(stored, (await countBook()) - before);
      if (serverWorking) setProgress(`Importing ${file.name}: ${stored} of ${inFile} cards stored…`, stored, inFile);
    } catch {
      // The final count below reports the outcome.
    } finally {
      polling = false;
    }
  }, POLL_MS);

  let failure = null;
  let result = null;
  try {
    result = await callWithFile(CONTACTS_API, 'import_cards', { user }, file, {
      sending: (sent, total) => {
        setProgress(`Sending ${file.name}: ${Math.round((100 * sent) / total)}%`, sent, total);
      },
      sent: () => {
        serverWorking = true;
        setProgress(`Importing ${file.name}: the server is storing ${plural(inFile, 'card', 'cards')}…`, 0, inFile);
      },
    });
  } catch (error) {
    failure = error;
  } finally {
    serverWorking = false;
    clearInterval(poll);
  }

  let after = null;
  try {
    after = await countBook();
  } catch {
    after = null;
  }
  box.hidden = true;

  const counts = after === null
    ? `The book held ${plural(before, 'card', 'cards')} before; its count now could not be read.`
    : `The book held ${plural(before, 'card', 'cards')} before and holds ${plural(after, 'card', 'cards')} now.`;
  if (failure) {
    showStatus(status, 'error', `The import of ${file.name} failed: ${describeError(failure)}`, counts);
    return;
  }
  const added = after === null ? null : after - before;
  const lines = [`Imported ${file.name}: ${added === null ? '' : `${plural(added, 'card', 'cards')} added. `}${counts}`];
  // Cards already in the book are not stored again: not refused, but said.
  const duplicates = result && Number.isInteger(result.duplicates) ? result.duplicates : 0;
  const candidates = result && Array.isArray(result.update_candidates) ? result.update_candidates : [];
  if (duplicates > 0) {
    lines.push(`${plural(duplicates, 'card was', 'cards were')} already in the address book, word for word, `
      + 'and not stored again.');
  }
  if (candidates.length > 0) {
    lines.push(`${plural(candidates.length, 'card is', 'cards are')} an update of a card already in the book `
      + `(the same card in the file it came from) and ${candidates.length === 1 ? 'was' : 'were'} not stored: `
      + `${await candidateNames(user, candidates)}. Edit ${candidates.length === 1 ? 'it' : 'them'} in the book if needed.`);
    const review = reviewButton(user, candidates, status);
    if (review) lines.push(review);
  }
  const refused = added === null ? 0 : inFile - added - duplicates - candidates.length;
  if (refused > 0) {
    lines.push(`The file holds ${plural(inFile, 'card', 'cards')}; the address book refused ${refused}.`);
  }
  showStatus(status, refused > 0 ? 'error' : 'ok', ...lines);
}

// The update candidates as the book's cards they update, by name (at most
// ten named); their source UIDs when the book cannot be read.
async function candidateNames(user, candidates) {
  const shown = candidates.slice(0, 10);
  let names = shown.map((c) => String(c.uid));
  try {
    const data = await callApi(CONTACTS_API, 'list_cards', { user });
    const byId = new Map((data && Array.isArray(data.cards) ? data.cards : []).map((card) => [card.id, card]));
    names = shown.map((c) => (byId.has(c.id) ? displayName(byId.get(c.id)) : String(c.uid)));
  } catch {
    // The UIDs say which cards of the file these were.
  }
  return `${names.join(', ')}${candidates.length > shown.length ? `, and ${candidates.length - shown.length} more` : ''}`;
}

// Import of a .vcf file chosen from the computer: the upload, then the
// server's work, with the book's count before and after. A file larger than
// the host takes is sent in parts of whole cards, one after the other.
import { callApi, callWithFile, CONTACTS_API } from './api.js';
import { scanCards, partRanges } from './vcard-file-parts.js';
import { displayName } from './record.js';
import { describeError } from './error-texts.js';
import { showStatus } from './dom.js';
import { isCsvFile, runCsvImport } from './csv-import.js';
import { reviewButton } from './update-review.js';

const POLL_MS = 1000;
// Dropped lines named one by one in the message; the rest are counted.
const DROPPED_NAMED = 10;

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

// "about 3 min left" from the time taken so far and the share done.
function estimate(startedMs, done, total) {
  if (done <= 0 || done >= total) return '';
  const left = ((Date.now() - startedMs) / done) * (total - done) / 1000;
  if (left < 60) return `, about ${Math.max(1, Math.round(left))} s left`;
  return `, about ${Math.round(left / 60)} min left`;
}

// The answers of the parts as one: counts added, card numbers of dropped
// lines counted from the file's start.
function addAnswer(sum, answer, cardsBefore) {
  const data = answer && typeof answer === 'object' ? answer : {};
  for (const key of ['stored', 'skipped', 'duplicates', 'dropped_lines']) {
    if (Number.isInteger(data[key])) sum[key] += data[key];
  }
  if (Array.isArray(data.update_candidates)) sum.update_candidates.push(...data.update_candidates);
  if (Array.isArray(data.dropped)) {
    for (const line of data.dropped) sum.dropped.push({ ...line, card: Number(line.card) + cardsBefore });
  }
}

// What the server left out of the cards, and what to do about it.
function droppedText(sum) {
  if (sum.dropped_lines === 0) return [];
  const cards = new Set(sum.dropped.map((line) => line.card));
  const named = sum.dropped.slice(0, DROPPED_NAMED)
    .map((line) => `card ${line.card}: ${line.line} (${line.why})`);
  const more = sum.dropped_lines - named.length;
  return [
    `${plural(sum.dropped_lines, 'line was', 'lines were')} left out of `
      + `${sum.dropped.length < sum.dropped_lines ? 'some' : plural(cards.size, 'card', 'cards')}`
      + ' because the CardDAV server cannot store them as they are; the rest of each card was added:',
    `${named.join('; ')}${more > 0 ? `; and ${more} more` : ''}.`,
    'To keep them, correct those lines in the file (a property name of letters, digits and "-" only, '
      + 'base64 that decodes whole, no control characters) and import that file again, '
      + 'or type what they held into the cards here.',
  ];
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

  let before;
  let inFile = 0;
  let parts;
  let cardsOfPart;
  try {
    if (await isCsvFile(file)) {
      await runCsvImport({ user, file, status });
      return;
    }
    const bytes = new Uint8Array(await file.arrayBuffer());
    const { starts, whole } = scanCards(bytes);
    const reason = starts.length ? null
      : notVcardReason(new TextDecoder().decode(bytes.subarray(0, 65536))) || 'no card in it begins with BEGIN:VCARD';
    if (reason) {
      showStatus(status, 'error', `${file.name} is not a vCard file: ${reason}. Nothing was imported.`,
        'Save the contacts as a vCard file (.vcf) from the program or phone that holds them, and import that file.');
      return;
    }
    inFile = whole;
    parts = partRanges(bytes.length, starts);
    // The cards that begin in each part, for the numbers of its dropped lines.
    cardsOfPart = parts.map(([from, to]) => starts.filter((at) => at >= from && at < to).length);
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
  const started = Date.now();
  let partNote = '';
  // The store takes the cards a batch at a time: the count of the book shows
  // how far the server has got.
  const poll = setInterval(async () => {
    if (!serverWorking || polling) return;
    polling = true;
    try {
      stored = Math.max(stored, (await countBook()) - before);
      if (serverWorking) {
        setProgress(`Importing ${file.name}${partNote}: ${stored} of ${inFile} cards stored`
          + `${parts.length > 1 ? estimate(started, stored, inFile) : ''}…`, stored, inFile);
      }
    } catch {
      // The final count below reports the outcome.
    } finally {
      polling = false;
    }
  }, POLL_MS);

  let failure = null;
  const sum = { stored: 0, skipped: 0, duplicates: 0, dropped_lines: 0, update_candidates: [], dropped: [] };
  let cardsBefore = 0;
  let partsDone = 0;
  try {
    for (const [index, [from, to]] of parts.entries()) {
      partNote = parts.length > 1 ? ` (part ${index + 1} of ${parts.length})` : '';
      const part = parts.length > 1 ? new File([file.slice(from, to)], file.name, { type: file.type }) : file;
      const answer = await callWithFile(CONTACTS_API, 'import_cards', { user }, part, {
        sending: (sent, total) => {
          setProgress(`Sending ${file.name}${partNote}: ${Math.round((100 * sent) / total)}%`, sent, total);
        },
        sent: () => {
          serverWorking = true;
          setProgress(parts.length > 1
            ? `Importing ${file.name}${partNote}: ${stored} of ${inFile} cards stored${estimate(started, stored, inFile)}…`
            : `Importing ${file.name}: the server is storing ${plural(inFile, 'card', 'cards')}…`,
          parts.length > 1 ? stored : 0, inFile);
        },
      });
      addAnswer(sum, answer, cardsBefore);
      cardsBefore += cardsOfPart[index];
      partsDone += 1;
    }
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
    const done = parts.length > 1 && partsDone > 0
      ? `Parts 1 to ${partsDone} of ${parts.length} were imported (${plural(sum.stored, 'card', 'cards')} added); the rest was not. `
      : '';
    showStatus(status, 'error', `The import of ${file.name} failed: ${describeError(failure)}`, `${done}${counts}`);
    return;
  }
  const lines = [`Imported ${file.name}: ${plural(sum.stored, 'card', 'cards')} added. ${counts}`];
  // Cards already in the book are not stored again: not refused, but said.
  const candidates = sum.update_candidates;
  if (sum.duplicates > 0) {
    lines.push(`${plural(sum.duplicates, 'card was', 'cards were')} already in the address book, word for word, `
      + 'and not stored again.');
  }
  if (candidates.length > 0) {
    lines.push(`${plural(candidates.length, 'card is', 'cards are')} an update of a card already in the book `
      + `(the same card in the file it came from) and ${candidates.length === 1 ? 'was' : 'were'} not stored: `
      + `${await candidateNames(user, candidates)}. Edit ${candidates.length === 1 ? 'it' : 'them'} in the book if needed.`);
    const review = reviewButton(user, candidates, status);
    if (review) lines.push(review);
  }
  if (sum.skipped > 0) {
    lines.push(`The file holds ${plural(inFile, 'card', 'cards')}; the address book refused ${sum.skipped}.`);
  }
  const dropped = droppedText(sum);
  lines.push(...dropped);
  showStatus(status, sum.skipped > 0 || dropped.length ? 'error' : 'ok', ...lines);
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

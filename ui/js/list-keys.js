// The card list by keyboard: the down arrow in the search goes to the first
// card, the arrows move from card to card (the list scrolls along) and Enter
// opens the card (its name is a button). Up from the first card goes back to
// the search.

function nameButton(row) {
  return row ? row.querySelector('th button') : null;
}

function rowAt(tbody, index) {
  return tbody.querySelector(`tr[aria-rowindex="${index}"]`);
}

export function attachListKeys({ search, tbody, listPane }) {
  // Moves to the row of a place (aria-rowindex); the rows drawn reach past
  // the view, so the next one is there to be focused before the list redraws.
  function focusRow(index) {
    const button = nameButton(rowAt(tbody, index));
    if (!button) return false;
    button.focus({ preventScroll: true });
    button.closest('tr').scrollIntoView({ block: 'nearest' });
    return true;
  }

  search.addEventListener('keydown', (event) => {
    if (event.key !== 'ArrowDown' || event.altKey || event.ctrlKey || event.metaKey) return;
    listPane.scrollTop = 0;
    if (focusRow(2)) event.preventDefault();
  });

  tbody.addEventListener('keydown', (event) => {
    if (event.altKey || event.ctrlKey || event.metaKey) return;
    const row = event.target.closest('tr[aria-rowindex]');
    if (!row) return;
    const at = Number(row.getAttribute('aria-rowindex'));
    let to = null;
    if (event.key === 'ArrowDown') to = at + 1;
    else if (event.key === 'ArrowUp') to = at - 1;
    if (to === null) return;
    event.preventDefault();
    if (to < 2) {
      search.focus();
      return;
    }
    focusRow(to);
  });
}

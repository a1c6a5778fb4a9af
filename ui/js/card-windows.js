// A listing read in windows: the page holds only the windows near the rows in
// view, fetches the missing ones as the list scrolls and drops far ones, so
// its memory follows the view, not the book. Rows not fetched yet are null.

// Cards per window (one list_cards request) of the book, and of a search:
// a search reads the whole book whatever its window, so its windows are
// larger and fewer.
export const WINDOW = 200;
export const SEARCH_WINDOW = 1000;
// Cards kept on each side of those in view (in whole windows); farther
// windows are dropped.
const KEEP_CARDS = 600;
// A fast scroll fetches only where it stops.
const SETTLE_MS = 40;

export class CardWindows {
  // fetchWindow(key, offset, limit, signal) -> Promise<{cards, total}>;
  // onChange() is told when windows arrive or the total changes; onError(e)
  // when one cannot be fetched. first: the answer for offset 0, when at hand.
  constructor({ key, fetchWindow, onChange, onError, first = null }) {
    this.key = key;
    this.size = key ? SEARCH_WINDOW : WINDOW;
    this.keep = Math.ceil(KEEP_CARDS / this.size);
    // The next window ahead is fetched early where it is cheap (no search).
    this.ahead = !key;
    this.fetchWindow = fetchWindow;
    this.onChange = onChange;
    this.onError = onError;
    this.total = first ? first.total : 0;
    this.pages = new Map();     // window index -> records
    this.stale = new Map();     // shown until their fresh copies arrive
    this.pending = new Map();   // window index -> AbortController
    this.wanted = [0, 0];
    this.timer = 0;
    this.closed = false;
    if (first) this.pages.set(0, first.cards);
  }

  // The record at a place in the listing, or null while it is not fetched.
  get(index) {
    const page = Math.floor(index / this.size);
    const records = this.pages.get(page) || this.stale.get(page);
    return records ? records[index - page * this.size] || null : null;
  }

  // The rows [first, last) are in view: fetches what they lack, soon.
  want(first, last) {
    this.wanted = [first, last];
    if (this.closed || this.timer) return;
    this.timer = setTimeout(() => {
      this.timer = 0;
      this.load();
    }, SETTLE_MS);
  }

  pageRange() {
    const [first, last] = this.wanted;
    const lastPage = Math.max(0, Math.ceil(this.total / this.size) - 1);
    const from = Math.floor(first / this.size);
    const to = Math.min(lastPage, Math.floor(Math.max(first, last - 1) / this.size));
    return [from, to];
  }

  load() {
    if (this.closed) return;
    const [from, to] = this.pageRange();
    // Far windows go, and so do requests for them.
    for (const map of [this.pages, this.stale]) {
      for (const page of [...map.keys()]) if (page < from - this.keep || page > to + this.keep) map.delete(page);
    }
    for (const [page, request] of [...this.pending]) {
      if (page < from - 1 || page > to + 1) {
        request.abort();
        this.pending.delete(page);
      }
    }
    // The windows in view first, then one on each side.
    const lastPage = Math.max(0, Math.ceil(this.total / this.size) - 1);
    const order = [];
    for (let page = from; page <= to; page += 1) order.push(page);
    if (this.ahead && to + 1 <= lastPage) order.push(to + 1);
    if (this.ahead && from - 1 >= 0) order.push(from - 1);
    for (const page of order) {
      if (!this.pages.has(page) && !this.pending.has(page)) this.fetchPage(page);
    }
  }

  async fetchPage(page) {
    const request = new AbortController();
    this.pending.set(page, request);
    try {
      const answer = await this.fetchWindow(this.key, page * this.size, this.size, request.signal);
      if (this.closed || this.pending.get(page) !== request) return;
      this.pending.delete(page);
      this.pages.set(page, answer.cards);
      this.stale.delete(page);
      const grew = answer.total !== this.total;
      this.total = answer.total;
      this.onChange(grew);
      if (grew) this.load();
    } catch (error) {
      if (this.pending.get(page) === request) this.pending.delete(page);
      if (!this.closed && !request.signal.aborted) this.onError(error);
    }
  }

  // The book changed: the windows held are fetched again; until then the
  // old records stay shown.
  reload() {
    for (const [page, records] of this.pages) this.stale.set(page, records);
    this.pages.clear();
    for (const request of this.pending.values()) request.abort();
    this.pending.clear();
    this.load();
  }

  // One record replaced where it is held (a saved card).
  replace(record) {
    for (const map of [this.pages, this.stale]) {
      for (const records of map.values()) {
        const at = records.findIndex((card) => card.id === record.id);
        if (at >= 0) records[at] = record;
      }
    }
  }

  // The records held now (for a card's place and the confirmation's names).
  held() {
    const pages = [...this.pages.keys()].sort((a, b) => a - b);
    return pages.flatMap((page) => this.pages.get(page));
  }

  close() {
    this.closed = true;
    clearTimeout(this.timer);
    for (const request of this.pending.values()) request.abort();
    this.pending.clear();
  }
}

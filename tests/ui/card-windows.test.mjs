// The windows of a listing, in node with a stand-in for the module whose
// answers the test hands back in any order: a reload keeps the rows shown
// until their fresh copies arrive, and an answer to a request the reload
// replaced is never stored.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { CardWindows, WINDOW } from '../../ui/js/card-windows.js';

// A module whose answers wait until the test gives them: asked holds each
// request {offset, limit, answer(version)} in the order made.
function heldModule(total) {
  const asked = [];
  const fetchWindow = (key, offset, limit) => new Promise((resolve) => {
    asked.push({
      offset,
      limit,
      answer: (version) => {
        const cards = [];
        for (let i = offset; i < Math.min(total, offset + limit); i += 1) cards.push({ id: `c${i}`, version });
        resolve({ cards, total });
      },
    });
  });
  return { asked, fetchWindow };
}

const settle = () => new Promise((resolve) => { setTimeout(resolve, 0); });

test('a reload shows the old rows until the new ones arrive, and keeps only the answers it asked for last', async () => {
  const module = heldModule(WINDOW * 3);
  let changes = 0;
  const windows = new CardWindows({
    key: '', fetchWindow: module.fetchWindow, onChange: () => { changes += 1; }, onError: assert.fail,
  });
  windows.total = WINDOW * 3;
  windows.want(0, 20);
  windows.load();
  const first = module.asked.find((request) => request.offset === 0);
  first.answer('old');
  await settle();
  assert.equal(windows.get(5).version, 'old');

  // The book changed: every window is asked for again; until the answers
  // come the rows shown are the old ones, never "Loading…".
  const before = module.asked.length;
  windows.reload();
  assert.equal(windows.get(5).version, 'old');
  const fresh = module.asked.slice(before).find((request) => request.offset === 0);
  assert.ok(fresh, 'the window is asked for again');

  // A second reload replaces that request too; the answers then come back
  // out of order, the newest first.
  const middle = module.asked.length;
  windows.reload();
  const newest = module.asked.slice(middle).find((request) => request.offset === 0);
  newest.answer('newest');
  await settle();
  assert.equal(windows.get(5).version, 'newest');
  fresh.answer('replaced');
  await settle();
  assert.equal(windows.get(5).version, 'newest');
  assert.equal(windows.held().filter((card) => card.version !== 'newest').length, 0);
  assert.ok(changes >= 2);
  windows.close();
});

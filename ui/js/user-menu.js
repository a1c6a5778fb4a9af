// The contacts page's "User" field: offers the server's users, and asks
// before making a new book for a name that has no sign-in (a mistyped name
// would otherwise make a new, empty address book silently).
import { el } from './dom.js';
import { ask } from './confirm.js';
import { loadUsers, knownUsers } from './users-list.js';

export function attachUserMenu(input) {
  const list = el('datalist', { id: 'user-choices' });
  input.after(list);
  input.setAttribute('list', list.id);
  let loaded = false;

  async function refresh() {
    try {
      const users = await loadUsers();
      list.replaceChildren(...users.filter((user) => user.sign_in)
        .map((user) => el('option', { value: user.name })));
      loaded = true;
    } catch {
      // Without the list the field still works, as before.
      loaded = false;
    }
  }

  // True when the book may be opened: asked only when opening it would make
  // a new book for a name without a sign-in.
  async function confirm(name) {
    if (!loaded) await refresh();
    if (!loaded) return true;
    const users = knownUsers();
    if (users.some((user) => user.name === name)) return true;
    const close = users.filter((user) => user.sign_in
      && user.name.toLowerCase().slice(0, 2) === name.toLowerCase().slice(0, 2)).map((user) => user.name);
    const body = [`${name} has no sign-in on the server and no address book yet.`];
    if (close.length) body.push(`Did you mean ${close.join(', ')}?`);
    body.push(`Make a new, empty address book for ${name}? Add a user on the Users page so that they can sign in.`);
    return ask({ title: `Make an address book for ${name}?`, body, ok: 'Make address book' });
  }

  input.addEventListener('focus', refresh);
  return { refresh, confirm };
}

// The server's users as the host lists them, shared by the pages that need
// them (users, calendars, connecting a client, the contacts page's "User"
// field). Each load asks the host again: users change from other tabs too.
import { callRoute } from './api.js';

let last = [];

// Resolves to [{name, sign_in, password, password_checkable, name_warning
// (only for a name that would not be accepted today), cards, calendars,
// events, collections: [{name, kind, display_name, items}]}].
export async function loadUsers() {
  const data = await callRoute('users/list');
  last = Array.isArray(data.users) ? data.users : [];
  return last;
}

// The users of the last load, without asking the host.
export function knownUsers() {
  return last;
}

export function plural(count, one, many = `${one}s`) {
  return `${count} ${count === 1 ? one : many}`;
}

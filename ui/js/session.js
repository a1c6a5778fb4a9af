// The access token of this browser tab. It lives in sessionStorage only, so
// it goes when the tab closes and is never shared with other tabs.

const TOKEN_KEY = 'orva.token';

// Takes a token handed over in the link's fragment (#token=...) and removes
// it from the address bar, so it is neither bookmarked nor kept in history.
// True when the link carried one.
export function takeTokenFromLink() {
  const hash = window.location.hash.replace(/^#/, '');
  if (!hash) return false;
  const params = new URLSearchParams(hash);
  const token = params.get('token');
  if (token === null) return false;
  params.delete('token');
  const rest = params.toString();
  const url = window.location.pathname + window.location.search + (rest ? `#${rest}` : '');
  window.history.replaceState(null, '', url);
  if (!token.trim()) return false;
  setToken(token.trim());
  return true;
}

export function getToken() {
  return window.sessionStorage.getItem(TOKEN_KEY) || '';
}

export function setToken(token) {
  window.sessionStorage.setItem(TOKEN_KEY, token);
}

export function forgetToken() {
  window.sessionStorage.removeItem(TOKEN_KEY);
}

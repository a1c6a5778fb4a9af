// The access token of this browser tab. It lives in sessionStorage only, so
// it goes when the tab closes and is never shared with other tabs.

const TOKEN_KEY = 'orva.token';

// Takes a token handed over in the link's fragment (#token=...) and removes
// it from the address bar, so it is neither bookmarked nor kept in history.
export function takeTokenFromLink() {
  const hash = window.location.hash.replace(/^#/, '');
  if (!hash) return;
  const params = new URLSearchParams(hash);
  const token = params.get('token');
  if (token === null) return;
  params.delete('token');
  const rest = params.toString();
  const url = window.location.pathname + window.location.search + (rest ? `#${rest}` : '');
  window.history.replaceState(null, '', url);
  if (token.trim()) setToken(token.trim());
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

// Starts the page: sign-in, then the contacts and settings pages.
import { takeTokenFromLink, getToken, setToken, forgetToken } from './session.js';
import { callApi, onUnauthorized, COMMON_API, NOT_SIGNED_IN } from './api.js';
import { describeError } from './error-texts.js';
import { showStatus, hideStatus } from './dom.js';
import { setUpContacts } from './contacts-view.js';
import { setUpSettings } from './settings-view.js';
import { setUpUsers } from './users-view.js';
import { setUpCalendars } from './calendars-view.js';
import { setUpConnect } from './connect-view.js';
import { setUpHistory } from './history-view.js';

const views = {
  signin: document.getElementById('signin-view'),
  contacts: document.getElementById('contacts-view'),
  settings: document.getElementById('settings-view'),
  users: document.getElementById('users-view'),
  calendars: document.getElementById('calendars-view'),
  connect: document.getElementById('connect-view'),
  history: document.getElementById('history-view'),
};
// The appliance's own pages, each loaded whenever it is shown.
const appliancePages = {};
const nav = document.getElementById('nav');
const signinStatus = document.getElementById('signin-status');
const tokenInput = document.getElementById('token');

let contacts = null;
let settings = null;

function showView(name) {
  for (const [key, view] of Object.entries(views)) view.hidden = key !== name;
  nav.hidden = name === 'signin';
  for (const tab of nav.querySelectorAll('.tab')) {
    if (tab.dataset.view === name) tab.setAttribute('aria-current', 'page');
    else tab.removeAttribute('aria-current');
  }
  if (name === 'settings') settings.load();
  if (appliancePages[name]) appliancePages[name].load();
  if (name === 'contacts') contacts.shown();
  if (name === 'signin') tokenInput.focus();
}

function showSignIn(message) {
  forgetToken();
  tokenInput.value = '';
  if (message) showStatus(signinStatus, 'error', message);
  else hideStatus(signinStatus);
  showView('signin');
}

// A harmless read that needs the token: tells a good token from a wrong one.
async function checkToken() {
  await callApi(COMMON_API, 'get');
}

async function trySignIn() {
  try {
    await checkToken();
  } catch (error) {
    if (error.code === NOT_SIGNED_IN) {
      showSignIn('The access token was refused. Check it and try again.');
      return;
    }
    // Signed in, but the settings could not be read: the settings page says why.
  }
  hideStatus(signinStatus);
  showView('contacts');
}

document.getElementById('signin-form').addEventListener('submit', (event) => {
  event.preventDefault();
  const token = tokenInput.value.trim();
  if (!token) {
    showStatus(signinStatus, 'error', 'Enter the access token.');
    return;
  }
  setToken(token);
  trySignIn();
});

// Leaving the contacts page with unsaved edits asks first.
async function mayLeaveContacts() {
  return views.contacts.hidden || contacts.mayLeave();
}

for (const tab of nav.querySelectorAll('.tab')) {
  tab.addEventListener('click', async () => {
    if (tab.dataset.view !== 'contacts' && !(await mayLeaveContacts())) return;
    showView(tab.dataset.view);
  });
}
document.getElementById('sign-out').addEventListener('click', async () => {
  if (await mayLeaveContacts()) showSignIn();
});

onUnauthorized(() => {
  if (!views.signin.hidden) return;
  showSignIn(describeError({ code: NOT_SIGNED_IN }));
});

contacts = setUpContacts();
settings = setUpSettings();
Object.assign(appliancePages, { users: setUpUsers(), calendars: setUpCalendars(), connect: setUpConnect() });
appliancePages.history = setUpHistory();

// A sign-in link pasted into this tab while the page is open changes only
// the fragment: the page loads nothing, so it takes the token here.
window.addEventListener('hashchange', () => {
  if (takeTokenFromLink()) trySignIn();
});

takeTokenFromLink();
if (getToken()) trySignIn();
else showSignIn();

// Every page of the application, in one place: its address, its title (its heading, and the
// tab's), its link in the navigation, and what makes it. The shell (app.js) builds the
// navigation, the routes and the pages behind the sign-in from these tables alone.
// make(page, app) answers the page's view: { el, show?, hide?, dirty?, draft?, fetchesStatus? },
// el its section of <main>; the shell adds the page's path and title to it.

import { newPasswordView, passwordView, signInView, sshView } from '/ui/pages/account.js';
import { activityView } from '/ui/pages/activity.js';
import { configView, rawView } from '/ui/pages/config.js';
import { historyView } from '/ui/pages/history.js';
import { logsView } from '/ui/pages/logs.js';
import { statusView } from '/ui/pages/status.js';

// The pages behind the sign-in, in the order of the navigation. The first is home.
export const PAGES = [
  { path: '/ui/status', title: 'Gateway status', link: 'Status', make: statusView },
  { path: '/ui/config', title: 'Forwarder configuration', link: 'Configuration', make: configView },
  { path: '/ui/raw', title: 'Raw configuration', link: 'Raw JSON', make: rawView },
  { path: '/ui/history', title: 'Configuration history', link: 'History', make: historyView },
  { path: '/ui/ssh', title: 'SSH access', link: 'SSH', make: sshView },
  { path: '/ui/logs', title: 'Logs', link: 'Logs', make: logsView },
  { path: '/ui/activity', title: 'Activity', link: 'Activity', make: activityView },
  { path: '/ui/account', title: 'Account', link: 'Account', make: passwordView },
];

// Addresses pages had before, followed to where the page is now, so bookmarks keep working.
export const MOVED = { '/ui/password': '/ui/account' };

// The sign-in, the one page open to all.
export const SIGN_IN = { path: '/ui/login', title: 'Sign in', make: signInView };
// Right after signing in, while the gateway still has the password it came with: a password of
// the operator's own before any other page.
export const NEW_PASSWORD = { path: '/ui/new-password', title: 'Set your own password', make: newPasswordView };

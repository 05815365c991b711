// The first script: the application runs only as a page of its own. Shown inside another site's
// frame it could be overlaid with something that makes the operator click "Disable SSH" without
// knowing it, so there it shows a warning and nothing else.

if (window.top === window.self) {
  import('/ui/app.js');
} else {
  const title = document.createElement('h1');
  title.textContent = 'relaydash does not run inside another page';
  const why = document.createElement('p');
  why.textContent = 'Another page has put this gateway\'s management page in a frame, which could trick you into ' +
    'clicking something you did not mean to. Open the gateway\'s address in a tab of its own to manage it.';
  const open = document.createElement('a');
  open.href = location.href;
  open.target = '_blank';
  open.rel = 'noopener noreferrer';
  open.textContent = 'Open relaydash in a new tab';
  const card = document.createElement('section');
  card.className = 'card framed';
  card.setAttribute('role', 'alert');
  card.append(title, why, open);
  document.body.replaceChildren(card);
}

// The review step of a change to the forwarder's configuration: what will change, what applying
// does, then the change and its progress.

import { OUT_OF_BAND, progressPanel, settleField } from '/ui/config/change.js';
import { formatPath } from '/ui/config/patch.js';
import { h } from '/ui/lib/dom.js';
import { changeTable } from '/ui/widgets/change-table.js';
import { diffView } from '/ui/widgets/diff-view.js';

// onBack: back to editing; onDone(ended, error): the change ended as progressPanel's run says;
// onStale: the gateway refused it, its file having changed.
export function reviewPanel({ onBack, onDone, onStale }) {
  const heading = h('h2', { tabindex: '-1' }, 'Review changes');
  const summary = h('p', {});
  const table = h('div', {});
  // The picture of what the change moves, when it moves any radio or channel.
  const picture = h('div', {});
  const rawRows = h('ul', { class: 'raw-changes' });
  const raw = h('details', { class: 'readonly' }, h('summary', {}, 'Members and values as the file holds them'), rawRows);
  const lines = h('details', { class: 'readonly', open: true }, h('summary', {}, 'Lines that change'));
  const layoutNote = h('li', {});
  const note = h('li', {});
  const settle = settleField();
  const applyBtn = h('button', { type: 'button', class: 'primary' }, 'Apply');
  const backBtn = h('button', { type: 'button' }, 'Back to editing');
  const area = h('fieldset', { class: 'plain' }, settle.wrap, h('div', { class: 'actions' }, applyBtn, backBtn));
  const el = h(
    'section',
    { class: 'card review', hidden: true },
    heading,
    summary,
    table,
    picture,
    raw,
    lines,
    h('ul', { class: 'notes' },
      h('li', {}, h('strong', {}, 'Applying restarts the packet forwarder. '),
        'It forwards no packets until it runs again. The gateway then watches it, and if it stops or is restarted ' +
        'by systemd within the time below, the previous file is put back and the forwarder restarted with it.'),
      h('li', {}, 'The current file is kept in the history first, so it can be restored later.'),
      layoutNote,
      note),
    area,
  );
  // How the change sent last ended, as progress.run answers it.
  let ended = null;
  const progress = progressPanel({
    onClose() {
      progress.hide();
      onDone(ended, progress.error);
    },
  });
  let plan = null;

  backBtn.addEventListener('click', onBack);
  el.addEventListener('keydown', (event) => event.key === 'Escape' && onBack());
  // confirmed: the members that confirm what the gateway refused to do unasked.
  async function send(confirmed = {}) {
    el.hidden = true;
    // A sign-in the gateway no longer knows (it restarted) sends nothing: the review waits for
    // the operator to sign in again and apply.
    ended = await progress.run(() => plan.send({ ...settle.watch(), ...confirmed }), settle.value());
    if (ended === 'auth-lost') el.hidden = false;
    if (ended === 'stale') onStale();
    // Outside the band only when the operator says so, for this change alone.
    if (ended === 'refused' && progress.error?.code === OUT_OF_BAND && !confirmed.outOfBand) {
      progress.offer({
        text: 'If the gateway may use these frequencies (a licence for them, a test in a shielded room), apply the ' +
          'same change outside the band; otherwise go back and mend it.',
        button: 'Apply outside the band',
        onClick: () => send({ outOfBand: true }),
      });
    }
  }
  applyBtn.addEventListener('click', () => {
    if (!settle.refuse()) send();
  });

  return {
    el: h('div', {}, el, progress.el),
    applying: () => !progress.el.hidden,
    open(p) {
      plan = p;
      summary.textContent = p.summary;
      table.replaceChildren(p.rows.length ? changeTable(p.rows) : '');
      picture.replaceChildren(...(p.picture ? [h('h3', {}, 'Radios and channels'), p.picture] : []));
      const rawChanges = p.rows.flatMap((r) => r.raw);
      rawRows.replaceChildren(...rawChanges.map((c) => h('li', {}, h('code', {}, formatPath(c.path)), ': ',
        h('code', {}, c.before === undefined ? '(not set)' : JSON.stringify(c.before)), ' → ',
        h('code', {}, c.removed ? '(removed)' : JSON.stringify(c.after)))));
      raw.hidden = !rawChanges.length;
      lines.replaceChildren(lines.firstChild, ...(p.diff ? [diffView(p.diff)] : []));
      lines.hidden = !p.diff;
      layoutNote.textContent = p.layoutNote;
      note.textContent = p.note ?? '';
      note.hidden = !p.note;
      el.hidden = false;
      heading.focus();
    },
    close() {
      el.hidden = true;
      progress.hide();
    },
  };
}

// The pages of the two editors of the forwarder configuration, the structured form and the file's
// own text: each loads the file, keeps the edits on top of a file changed meanwhile, reviews and
// applies.

import { compareAddress, rejectedOf } from '/ui/config/change.js';
import { formEditor } from '/ui/config/form-editor.js';
import { frequencies, frequencyRows, mergePatch, planOfFile } from '/ui/config/plan.js';
import { bandOfPlan, planSection } from '/ui/config/plan-section.js';
import { rawEditor } from '/ui/config/raw-editor.js';
import { readText } from '/ui/config/reading.js';
import { describeChanges } from '/ui/config/review.js';
import { reviewPanel } from '/ui/config/review-panel.js';
import * as api from '/ui/lib/api.js';
import { ask, h, statusLine, whileBusy } from '/ui/lib/dom.js';
import { BUSY } from '/ui/lib/contract.js';
import { takeDraft } from '/ui/lib/session.js';
import { changeTable } from '/ui/widgets/change-table.js';
import { diffView } from '/ui/widgets/diff-view.js';
import { planPicture } from '/ui/widgets/plan-picture.js';

const KEEPS_LAYOUT = 'The file keeps its comments, order and indentation: only the values that change are rewritten.';

// The picture of what a change moves, from the document as it is to the one it becomes; null
// when it moves no radio or channel.
function movesPicture(before, after, band) {
  const was = frequencies(before);
  const is = frequencies(after);
  return was && is && frequencyRows(is, was).some((r) => r.moved) ? planPicture({ before: was, after: is, band }) : null;
}

// One editor view: loads what the gateway holds, lets the operator edit it, reviews and applies.
// withPlans: the view shows the file's frequency plan and sets the file to another.
function editorView({ page, intro, editor, app, withPlans = false }) {
  const { path, title } = page;
  const heading = h('h1', { tabindex: '-1' }, title);
  const status = statusLine();
  const formStatus = statusLine();
  // What changed on the gateway underneath the operator's edits.
  const changed = h('div', { class: 'notice warn', role: 'status', hidden: true });
  // Why the edits on screen are not the file on the gateway: a change refused or rolled back, a
  // draft kept over a sign-out.
  const kept = h('p', { class: 'notice', role: 'status', hidden: true });
  const showKept = (...content) => {
    kept.replaceChildren(...content);
    kept.hidden = false;
  };
  const reviewBtn = h('button', { type: 'submit', class: 'primary' }, 'Review changes');
  const reloadBtn = h('button', { type: 'button' }, 'Discard and reload');
  const plans = withPlans ? planSection({ onChoose: choosePlan }) : null;
  const area = h('fieldset', { class: 'plain' }, plans?.el, editor.el,
    h('div', { class: 'actions sticky' }, editor.toc, reviewBtn, reloadBtn, formStatus.el));
  const form = h('form', { novalidate: true, 'aria-label': title }, area);
  const same = editor.sameAs;
  let base = null;
  // forwarder-config/plans' answer for the file loaded last: the plans, and which one the file
  // implements, whose band the review's picture shows.
  let plansAnswer = null;
  let loads = 0;
  let shown = false;
  // The edits on screen reached the gateway (applied, or rolled back and kept in its history):
  // leaving loses nothing, while the file is loaded again after the change and until the next edit.
  let sent = false;

  const review = reviewPanel({
    onBack() {
      review.close();
      form.hidden = false;
      reviewBtn.focus();
    },
    // Edits that were not applied stay for the operator to mend or to apply again.
    async onDone(ended, error) {
      sent = ended === 'applied' || ended === 'rolled-back';
      review.close();
      form.hidden = false;
      heading.focus();
      if (ended === 'applied') return load(true);
      const rejected = rejectedOf(error?.details);
      const version = error?.details?.version;
      if (ended === 'rolled-back') {
        showKept('The forwarder did not keep running with your change, so the previous file was put back. Your edits ' +
          'are kept here to mend. ', rejected && version ? h('a', { href: compareAddress(version, rejected) },
          `Compare the refused file (version ${rejected}) with the one put back`) : '');
      } else {
        showKept(error?.code === BUSY
          ? 'Nothing was applied because another change was under way. Your edits are kept: review and apply them once it has finished.'
          : 'Nothing was applied. Your edits are kept: mend them and review them again.');
      }
      await load(false);
    },
    // The gateway wrote nothing: the file is no longer the one the edits were based on.
    async onStale() {
      review.close();
      form.hidden = false;
      if ((await load(false)) === 'same') formStatus.error('The file on the gateway has changed. Discard and reload it.');
    },
  });

  // rows (the form's edits stay on top of the new file) or diff and conflicts (the raw text's
  // edits carried onto the new file, but for lines both changed).
  function showChanged({ rows, diff, conflicts = [] }) {
    const lines = (l) => (l.length ? h('pre', {}, l.join('\n')) : h('p', { class: 'hint' }, '(no lines)'));
    changed.replaceChildren(
      h('p', {}, h('strong', {}, 'The configuration on the gateway was changed elsewhere while you edited it. '),
        rows
          ? 'Your edits are kept on top of the new file; this is what changed underneath:'
          : 'Your edits are carried onto the new file; these are the lines that changed there:'),
      rows ? changeTable(rows, ['Was', 'Is now']) : diffView(diff),
      conflicts.length
        ? h('div', { class: 'conflicts' },
          h('p', {}, h('strong', {}, 'You and the other change both changed ',
            conflicts.length === 1 ? 'these lines. ' : `lines in ${conflicts.length} places. `),
          'Your text stays as you typed it there: mend it so that it keeps what the new file needs.'),
          h('ul', {}, conflicts.map((c) => {
            const last = c.line + Math.max(c.mine.length, 1) - 1;
            const where = last > c.line ? `Lines ${c.line}–${last}` : `Line ${c.line}`;
            return h('li', {}, h('button', { type: 'button', class: 'quiet', onclick: c.show }, `Go to ${where.toLowerCase()}`),
              ` ${where} of your text; the new file has there:`, lines(c.theirs));
          })))
        : '',
      h('p', {}, 'Review your changes again before you apply them, or discard them and reload.'));
    changed.hidden = false;
  }

  // Answers 'same' (the editor still shows what the gateway holds), 'loaded' (it shows the file
  // it holds now), 'changed' (the edits are carried onto the gateway's new file) or false when
  // the file could not be loaded.
  async function load(force, doing = 'Loading the configuration from the gateway…') {
    const mine = ++loads;
    status.busy(doing);
    try {
      const loaded = await whileBusy(area, () => editor.fetch());
      if (mine !== loads) return false;
      const doc = editor.documentOf(loaded);
      if (doc) app.setDocument(doc);
      status.clear();
      if (!force && base !== null && same(loaded, base)) return 'same';
      const keep = base !== null && !force && editor.dirty();
      // Edits kept over a sign-out come back, carried onto the file when it changed since.
      const draft = base === null && takeDraft(path);
      if (keep) showChanged(editor.rebase(base, loaded));
      else if (draft) {
        const old = draft.hash === loaded.hash ? loaded : { text: draft.text, doc: readText(draft.text).doc };
        const rebased = editor.rebase(old, loaded, draft.edits);
        if (old === loaded) changed.hidden = true;
        else showChanged(rebased);
        showKept('Your edits from before you were signed out are back: they are not applied yet.');
      } else {
        editor.load(loaded);
        changed.hidden = true;
        kept.hidden = true;
      }
      // The next change is based on this file, so the gateway accepts it.
      base = loaded;
      sent = false;
      review.close();
      form.hidden = false;
      formStatus.clear();
      askPlans(loaded);
      return keep ? 'changed' : 'loaded';
    } catch (e) {
      if (mine !== loads) return false;
      if (e.authLost) status.clear();
      else if (e.repair) status.error(e.message, ' ', h('a', { href: '/ui/raw' }, 'Repair it in the raw view'));
      else status.error(`Could not load the configuration: ${e.message}`);
      return false;
    }
  }

  // The plans, for the file just loaded; a later load's answer wins.
  async function askPlans(loaded) {
    plansAnswer = null;
    try {
      const answer = await api.call('forwarder-config/plans');
      if (loaded !== base) return;
      plansAnswer = answer;
      plans?.show(answer, loaded.doc);
    } catch (e) {
      if (loaded !== base || e.authLost) return;
      plans?.show({ plans: [], current: null }, loaded.doc);
      plans?.status.error(`Could not ask the gateway for its frequency plans: ${e.message}`);
    }
  }

  // The review of the file on the gateway set to a plan: the patch the gateway makes for it,
  // in the operator's words and as a picture; applying asks the gateway for the same plan.
  async function choosePlan(choice, plan) {
    const said = plans.status;
    said.clear();
    if (base === null) return;
    if (editor.dirty()) {
      return said.error('Your edits in the form are not applied: apply or discard them before setting the file to a plan.');
    }
    if (!['same', 'loaded'].includes(await load(false, 'Checking that the file on the gateway is unchanged…'))) return;
    const file = base;
    let answer;
    try {
      said.busy(`Asking the gateway what ${plan.name} changes…`);
      answer = await whileBusy(plans.area, () => api.call('forwarder-config/plans', { plan: choice }));
    } catch (e) {
      if (e.authLost) said.clear();
      else said.error(`The file cannot be set to ${plan.name}: ${e.message}`);
      return;
    }
    if (file !== base) return said.clear();
    const after = mergePatch(file.doc, answer.patch ?? {});
    const rows = describeChanges(file.doc, after);
    if (!rows.length) return said.ok(`The file already implements ${plan.name}: nothing to change`);
    said.clear();
    const n = rows.reduce((sum, row) => sum + row.raw.length, 0);
    form.hidden = true;
    review.open({
      summary: `The file is set to ${plan.name}: ${n === 1 ? 'one setting changes' : `${n} settings change`}, and nothing else.`,
      rows,
      picture: movesPicture(file.doc, after, bandOfPlan(plan)),
      layoutNote: KEEPS_LAYOUT,
      send: (watch) => api.call('forwarder-config/apply', { plan: choice, ...watch, base: file.hash }),
    });
  }

  async function submit() {
    formStatus.clear();
    if (base === null) return formStatus.error('The configuration has not been loaded yet.');
    const r = editor.collect();
    if (r.invalid) {
      const more = r.elsewhere?.length ? ` Outside the form: ${r.elsewhere.join('; ')}; the raw view changes those.` : '';
      return formStatus.error((r.invalid === 1 ? 'Correct the problem marked above.' : `Correct the ${r.invalid} problems marked above.`) + more);
    }
    const plan = editor.plan(base, r);
    if (plan.error) return formStatus.error(plan.error);
    // The review is of a change to the file on the gateway as it is now: when it changed
    // meanwhile, what changed is shown instead, the edits carried onto it.
    if ((await load(false, 'Checking that the file on the gateway is unchanged…')) !== 'same') return;
    status.clear();
    form.hidden = true;
    review.open({ ...plan, picture: movesPicture(base.doc, r.doc, bandOfPlan(planOfFile(plansAnswer))) });
  }
  form.addEventListener('submit', (event) => {
    event.preventDefault();
    submit();
  });
  editor.onUpload?.(submit);
  form.addEventListener('input', () => {
    sent = false;
  });
  reloadBtn.addEventListener('click', async () => {
    if (editor.dirty() && !(await ask({
      title: 'Discard your edits?',
      text: 'The changes you made here are lost, and the file on the gateway is loaded again.',
      confirm: 'Discard and reload',
      cancel: 'Keep editing',
    }))) return;
    load(true);
  });
  // Back in the tab after a while: the file may have changed meanwhile.
  document.addEventListener('visibilitychange', () => shown && !document.hidden && load(false));

  const el = h('section', { class: 'view', hidden: true }, heading, intro, status.el, kept, changed, form, review.el);
  return {
    el,
    // Edits not yet applied; once a change is under way or done, leaving loses nothing.
    dirty: () => base !== null && !review.applying() && !sent && editor.dirty(),
    // The edits to keep over a sign-out, with the file they were made on; null when there are none.
    draft: () => (base !== null && editor.dirty() ? { hash: base.hash, text: base.text, edits: editor.edits() } : null),
    show() {
      shown = true;
      load(false);
    },
    hide() {
      shown = false;
    },
  };
}

export function configView(page, app) {
  return editorView({
    page,
    intro: h('p', { class: 'intro' }, 'The settings operators usually change. Frequencies are in MHz, channel ' +
      'offsets in kHz from their radio\'s centre frequency.'),
    editor: formEditor(app),
    app,
    withPlans: true,
  });
}

export function rawView(page, app) {
  return editorView({
    page,
    intro: h('p', { class: 'intro' }, 'The whole configuration file, for everything the form does not cover. ' +
      'It is checked as JSON and against the gateway\'s rules before anything is sent.'),
    editor: rawEditor(app),
    app,
  });
}

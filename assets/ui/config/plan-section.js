// The Configuration page's frequency plan: the regional plan the file on the gateway implements
// (or "custom", with the nearest plan and how the file differs from it), the picture of its
// radios and channels, and the choice of another plan, which the page reviews and applies as it
// does the form's edits.

import { frequencies, planOfFile, regionsOf } from '/ui/config/plan.js';
import { h, newId, statusLine } from '/ui/lib/dom.js';
import { planPicture } from '/ui/widgets/plan-picture.js';

// The band a plan's region allows, as the picture names it.
export const bandOfPlan = (plan) => (plan ? { name: plan.region, min: plan.band.min, max: plan.band.max } : null);

function choice(label, onchange) {
  const id = newId('plan');
  const select = h('select', { id, onchange });
  const wrap = h('div', { class: 'field' }, h('label', { for: id }, label), select);
  return { select, wrap };
}

// onChoose({ region, subBand }, plan): the operator asks to review the file set to that plan.
export function planSection({ onChoose }) {
  const headingId = newId('h');
  const said = h('p', { class: 'plan-name' });
  const differences = h('ul', { class: 'differences' });
  const picture = h('div', {});
  const region = choice('Region', () => fillSubBands());
  const subBand = choice('Sub-band', () => describeChoice());
  const about = h('p', { class: 'hint' });
  const reviewBtn = h('button', { type: 'button' }, 'Review this plan');
  const status = statusLine();
  const area = h('fieldset', { class: 'plain' }, h('legend', { class: 'sr-only' }, 'Set the file to a plan'),
    h('div', { class: 'fields plan-choice' }, region.wrap, subBand.wrap), about, h('div', { class: 'actions' }, reviewBtn, status.el));
  const el = h('section', { class: 'card plan-section', 'aria-labelledby': headingId, hidden: true },
    h('h2', { id: headingId, tabindex: '-1' }, 'Frequency plan'), said, differences, area, picture);
  let regions = [];
  let plans = [];

  const chosen = () => {
    const r = region.select.value;
    const n = subBand.wrap.hidden ? null : Number(subBand.select.value);
    return { region: r, subBand: n, plan: plans.find((p) => p.region === r && p.subBand === n) };
  };
  function describeChoice() {
    const { plan } = chosen();
    about.textContent = plan ? `${plan.name} (${plan.clause}): ${plan.note}` : '';
    about.hidden = !plan?.note;
  }
  function fillSubBands(pick) {
    const r = regions.find((x) => x.region === region.select.value);
    subBand.select.replaceChildren(...(r?.subBands ?? []).map((n) => h('option', { value: String(n) }, `Sub-band ${n}`)));
    subBand.wrap.hidden = !r?.subBands.length;
    if (pick !== undefined && pick !== null) subBand.select.value = String(pick);
    describeChoice();
  }
  reviewBtn.addEventListener('click', () => {
    const { region: r, subBand: n, plan } = chosen();
    if (plan) onChoose(n === null ? { region: r } : { region: r, subBand: n }, plan);
  });

  return {
    el,
    area,
    status,
    // answer: forwarder-config/plans' answer for the file on the gateway; doc: that file.
    show(answer, doc) {
      const current = answer.current;
      const fileBand = bandOfPlan(planOfFile(answer));
      plans = answer.plans;
      regions = regionsOf(plans);
      said.replaceChildren(...(!current ? ['The file names no frequencies the page can read.']
        : current.exact ? ['This file implements ', h('strong', {}, current.name), '.']
          : ['This file implements no regional plan as it stands (', h('strong', {}, 'custom'), '). The nearest is ',
            h('strong', {}, current.nearest), current.differences.length ? ', and the file differs from it:' : '.']));
      differences.replaceChildren(...(current?.differences ?? []).map((d) => h('li', {}, d)));
      differences.hidden = !current?.differences?.length;
      const f = frequencies(doc);
      picture.replaceChildren(f ? planPicture({ after: f, band: fileBand }) : '');
      // The choice starts at the file's plan, or its nearest; one the operator made stays.
      const keep = chosen();
      region.select.replaceChildren(...regions.map((x) => h('option', { value: x.region }, x.region)));
      const start = keep.plan ? keep : { region: current?.region ?? regions[0]?.region, subBand: current?.subBand };
      region.select.value = start.region ?? '';
      fillSubBands(start.subBand);
      area.hidden = !plans.length;
      status.clear();
      el.hidden = false;
    },
    hide() {
      el.hidden = true;
    },
  };
}

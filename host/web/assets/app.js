// The Orvane pages in a browser. The host owns the pages: this script draws the state it
// sends (on load, after each request, and pushed at every change through an event stream),
// forwards clicks as requests, and keeps the browser's history in step with the open pages.
'use strict';

const $ = (id) => document.getElementById(id);
let state = null;
let texts = {};
let shownDialog = 0;

async function post(path, body) {
  try {
    const reply = await fetch(path, {
      method: 'POST',
      headers: {'Content-Type': 'application/json'},
      // The answer then brings only what changed since the page this one has.
      body: JSON.stringify({...body, page_version: state ? state.page_version : 0}),
    });
    if (!(reply.headers.get('Content-Type') || '').startsWith('application/json')) return;
    const next = await reply.json();
    if (next.version !== undefined) show(next);
    if (reply.status === 409 && (next.busy || next.dialog)) $('message').textContent = texts.busy;
  } catch (error) {
    $('message').textContent = texts.offline;
  }
}

// A switch moves as soon as it is clicked, as a switch under a finger does; once the host has
// answered (the action done, refused, or waiting in a dialog) every switch shows the state
// again as the host has it.
async function act(kind, id, target) {
  if (target.getAttribute('role') === 'switch')
    target.setAttribute('aria-checked', String(target.getAttribute('aria-checked') !== 'true'));
  await post('/api/act', {depth: state.page.depth, kind, id});
  for (const {row, node} of drawn.values()) {
    const flip = row.kind === 'switch' && node.querySelector('[role=switch]');
    if (flip) flip.setAttribute('aria-checked', String(!!row.on));
  }
}

// Rows whose title or detail holds the filter text (ignoring case), and the groups that hold
// them, as the terminal UI filters.
function visibleRows(rows, filter) {
  if (!filter) return rows;
  const wanted = filter.toLowerCase();
  const shown = [];
  let group = null;
  for (const row of rows) {
    if (row.kind === 'group') {
      group = row;
      continue;
    }
    if (!`${row.title}\n${row.detail}`.toLowerCase().includes(wanted)) continue;
    if (group) shown.push(group);
    group = null;
    shown.push(row);
  }
  return shown;
}

function element(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text) node.textContent = text;
  return node;
}

// One row's element. Clicks reach the rows through one listener on the list (data-kind and
// data-id say what to act on), which keeps drawing thousands of rows cheap.
function rowElement(row) {
  let node;
  if (row.kind === 'link') {
    node = element('a', 'row link');
    node.href = '#';
    node.append(element('span', 'title', row.title));
    if (row.running !== undefined) {
      const word = row.running ? 'running' : 'stopped';
      node.append(element('span', `badge ${word}`, texts[word]));
    }
  } else if (row.kind === 'switch') {
    node = element('div', 'row');
    node.append(element('span', 'title', row.title));
    const flip = element('button', 'switch');
    flip.type = 'button';
    flip.setAttribute('role', 'switch');
    flip.setAttribute('aria-checked', String(!!row.on));
    flip.setAttribute('aria-label', row.title);
    flip.disabled = !row.enabled;
    flip.dataset.kind = row.kind;
    flip.dataset.id = row.id;
    node.append(flip);
  } else if (row.kind === 'button') {
    node = element('button', 'row button', row.title);
    node.type = 'button';
    node.disabled = !row.enabled;
  } else {
    node = element('div', 'row text');
    node.append(element('span', 'title', row.title));
  }
  if (row.kind === 'link' || row.kind === 'button') {
    node.dataset.kind = row.kind;
    node.dataset.id = row.id;
  }
  if (row.detail) node.append(element('span', 'detail', row.detail));
  return node;
}

// The list as flat items, each with a key that stays the same across rebuilds (a group's
// heading, its rows, its footer) and the sort of element it draws. A row keeps its items for as
// long as the host's changes keep the row, so going over a long list again costs little.
const itemsOfRow = new WeakMap();

function itemsOf(row) {
  let made = itemsOfRow.get(row);
  if (!made) {
    made = {item: {key: `${row.kind}:${row.id}`, row, sort: `${row.kind}${row.detail ? '+' : ''}`}};
    if (row.kind === 'group' && row.footer)
      made.footer = {key: `footer:${row.id}`, row, footer: true, sort: 'footer'};
    itemsOfRow.set(row, made);
  }
  return made;
}

function listItems(rows) {
  const items = [];
  let footer = null;
  for (const row of rows) {
    const made = itemsOf(row);
    if (row.kind === 'group') {
      if (footer) items.push(footer);
      footer = made.footer || null;
    }
    items.push(made.item);
  }
  if (footer) items.push(footer);
  if (!rows.length) items.push({key: 'empty', row: {kind: 'empty', id: ''}, empty: true, sort: 'empty'});
  // Rows may share a kind and identity (groups without one); the later ones are told apart by
  // their place among them, so each key stands for one element.
  const seen = new Map();
  items.forEach((item, index) => {
    const count = seen.get(item.key) || 0;
    seen.set(item.key, count + 1);
    if (count) items[index] = {...item, key: `${item.key}\n${count}`};
  });
  return items;
}

function itemElement(item) {
  if (item.empty) return element('p', 'empty', texts.no_match);
  if (item.footer) return element('p', 'footer', item.row.footer);
  if (item.row.kind === 'group') return element('h2', 'group', item.row.title);
  return rowElement(item.row);
}

const sameRow = (a, b) => a.kind === b.kind && a.id === b.id && a.title === b.title &&
    a.detail === b.detail && a.on === b.on && a.running === b.running &&
    a.enabled === b.enabled && a.footer === b.footer;

// The list draws only the items in view and a margin of one window height above and below;
// two spacers stand for the rest. Heights are measured once an item was drawn and estimated
// from items of its sort until then, so a list of thousands costs what a screenful does.
let items = [];           // every item of the page that passes the filter
let drawn = new Map();    // key -> {row, node}: what the list shows now
let heights = new Map();  // key -> height in pixels, as last drawn
const typical = new Map();  // sort of item -> height of the last one drawn
let wantedFocus = null;   // [kind, id] of a focused row that scrolled out of the drawn part

const heightOf = (item) => heights.get(item.key) ?? typical.get(item.sort) ?? 48;

function spacer() {
  const node = element('div', 'spacer');
  node.setAttribute('aria-hidden', 'true');
  return node;
}

function itemTops() {
  const tops = new Float64Array(items.length + 1);
  items.forEach((item, i) => { tops[i + 1] = tops[i] + heightOf(item); });
  return tops;
}

// The range of items that meets the window and its margins, by their estimated tops.
function windowRange(tops) {
  const top = -$('rows').getBoundingClientRect().top;
  const from = top - window.innerHeight;
  const to = top + 2 * window.innerHeight;
  let first = 0;
  while (first < items.length - 1 && tops[first + 1] <= from) ++first;
  let end = first;
  while (end < items.length && tops[end] < to) ++end;
  return [first, Math.max(end, first + 1)];
}

function focusedRow() {
  const active = document.activeElement;
  if (active && $('rows').contains(active) && active.dataset.id !== undefined)
    return [active.dataset.kind, active.dataset.id];
  return null;
}

// Places the drawn items for the current scroll position, reusing the elements of rows that
// did not change, then measures them; a second pass follows when the measures moved the range.
function drawWindow() {
  const list = $('rows');
  if (!list.firstChild) list.append(spacer(), spacer());
  wantedFocus = focusedRow() || wantedFocus;
  for (let pass = 0; pass < 3; ++pass) {
    const tops = itemTops();
    const [first, end] = windowRange(tops);
    const old = drawn;
    drawn = new Map();
    let cursor = list.firstChild.nextSibling;
    for (const item of items.slice(first, end)) {
      const before = old.get(item.key);
      old.delete(item.key);
      const node = before && sameRow(before.row, item.row) ? before.node : itemElement(item);
      if (node === cursor) cursor = cursor.nextSibling;
      else list.insertBefore(node, cursor);
      drawn.set(item.key, {row: item.row, node, sort: item.sort});
    }
    while (cursor !== list.lastChild) {  // everything left here was not placed again
      const next = cursor.nextSibling;
      cursor.remove();
      cursor = next;
    }
    list.firstChild.style.height = `${tops[first]}px`;
    list.lastChild.style.height = `${tops[items.length] - tops[end]}px`;
    let moved = false;
    for (const [key, {node, sort}] of drawn) {
      const height = node.offsetHeight;
      if (heights.get(key) !== height) moved = true;
      heights.set(key, height);
      typical.set(sort, height);
    }
    if (!moved) break;
  }
  restoreFocus();
}

// A focused row that was redrawn, or scrolled out and back, gets the focus back unless the
// focus went elsewhere meanwhile.
function restoreFocus() {
  if (!wantedFocus) return;
  const list = $('rows');
  const active = document.activeElement;
  if (active && active !== document.body && !list.contains(active)) {
    wantedFocus = null;
    return;
  }
  if (list.contains(active)) return;
  const again = [...list.querySelectorAll(`[data-id="${CSS.escape(wantedFocus[1])}"]`)]
      .find((node) => node.dataset.kind === wantedFocus[0]);
  if (again) again.focus({preventScroll: true});
}

// Redraws the rows, keeping the focus on the same row and the scroll position while the page
// stays the same; a new page starts at its top.
function drawRows(samePage) {
  const page = state.page;
  const scroll = window.scrollY;
  if (!samePage) {
    wantedFocus = null;
    heights = new Map();
    window.scrollTo(0, 0);
  }
  items = listItems(visibleRows(page.rows, page.depth === 1 ? $('filter').value : ''));
  drawWindow();
  if (samePage && window.scrollY !== scroll) {
    window.scrollTo(0, scroll);
    drawWindow();
  }
}

function syncHistory(depth) {
  const shown = (history.state && history.state.depth) || 1;
  if (depth > shown) history.pushState({depth}, '', `#${depth}`);
  else if (depth < shown) history.replaceState({depth}, '', depth > 1 ? `#${depth}` : '#');
}

function drawPage(previous) {
  const page = state.page;
  if (page.error) {
    $('message').textContent = page.error;
    return;
  }
  texts = page.texts;
  document.documentElement.lang = page.lang;
  document.title = page.titles[page.titles.length - 1];
  $('crumbs').textContent = page.titles.join(' › ');
  $('back').textContent = texts.back;
  $('back').hidden = page.depth <= 1;
  $('filter').hidden = page.depth > 1;
  $('filter').placeholder = texts.filter;
  $('filter').setAttribute('aria-label', texts.filter);
  const samePage = previous && previous.depth === page.depth &&
      previous.titles.join('\n') === page.titles.join('\n');
  drawRows(samePage);
  showLog(page.log);
  $('message').textContent = page.message;
  $('freshness').textContent = page.freshness;
  syncHistory(page.depth);
}

// The job page's log: the last entries, then those after the cursor, asked for every second
// while the page is open. A new page starts a new round; an older round stops at its next turn.
const kLogPoll = 1000;
const kLogKept = 2000;  // lines the panel keeps; older ones leave as new ones come
let logRound = {label: '', cursor: ''};

function logLine(entry) {
  const node = element('div', `log-line ${entry.stream}`);
  const time = element('time', '', entry.time.slice(0, 23).replace('T', ' '));
  time.dateTime = entry.time;
  node.append(time, element('span', 'stream', entry.stream), element('span', 'text', entry.text));
  return node;
}

function drawLog(log) {
  const lines = $('log-lines');
  const atEnd = lines.scrollTop + lines.clientHeight >= lines.scrollHeight - 4;
  lines.append(...log.entries.map(logLine));
  while (lines.childElementCount > kLogKept) lines.firstElementChild.remove();
  if (atEnd) lines.scrollTop = lines.scrollHeight;
  $('log-note').textContent = log.note || (lines.childElementCount ? '' : texts.log_empty);
}

async function followLog(round) {
  while (logRound === round) {
    try {
      const reply = await fetch(`/api/log?after=${encodeURIComponent(round.cursor)}`);
      const log = await reply.json();
      if (logRound !== round || log.label !== round.label) return;
      if (log.cursor) round.cursor = log.cursor;
      drawLog(log);
    } catch (error) {
      if (logRound === round) $('log-note').textContent = texts.offline;
    }
    await new Promise((resolve) => setTimeout(resolve, kLogPoll));
  }
}

function showLog(log) {
  $('log').hidden = !log;
  if ((log ? log.label : '') === logRound.label) return;
  logRound = {label: log ? log.label : '', cursor: ''};
  $('log-lines').replaceChildren();
  $('log-note').textContent = '';
  if (!log) return;
  $('log-title').textContent = log.title;
  followLog(logRound);
}

function answer(button) {
  post('/api/answer', {dialog: shownDialog, button, text: $('dialog-field').value});
}

function drawDialog(dialog) {
  const box = $('dialog');
  if (!dialog) {
    shownDialog = 0;
    if (box.open) box.close();
    return;
  }
  if (dialog.id === shownDialog) return;
  shownDialog = dialog.id;
  box.dataset.dialog = dialog.id;
  box.setAttribute('role', dialog.role);
  box.setAttribute('aria-labelledby', dialog.header ? 'dialog-header' : 'dialog-message');
  $('dialog-header').textContent = dialog.header;
  $('dialog-message').textContent = dialog.message;
  const hasField = dialog.field !== null;
  $('dialog-label').hidden = $('dialog-field').hidden = !hasField;
  $('dialog-label').textContent = hasField ? dialog.field : '';
  $('dialog-field').value = '';
  const buttons = dialog.buttons.map((title, index) => {
    const button = element('button', '', title);
    button.type = 'button';
    button.addEventListener('click', () => answer(index));
    return button;
  });
  $('dialog-buttons').replaceChildren(...buttons);
  if (!box.open) box.showModal();
  (dialog.focus < 0 ? $('dialog-field') : buttons[dialog.focus]).focus();
}

// The whole state, for a page that cannot follow the changes it was sent.
function reload() {
  fetch('/api/state').then((reply) => reply.json()).then(show, () => {});
}

// The host sends rows as [kind, id, title, detail, flags, footer] (see the host's page model).
const rowOf = ([kind, id, title, detail, flags, footer = '']) => ({
  kind, id, title, detail, footer,
  enabled: !!(flags & 1),
  on: flags & 4 ? !!(flags & 2) : undefined,
  running: flags & 16 ? !!(flags & 8) : undefined,
});

// The rows after one version's steps: n > 0 keeps the next n rows, n < 0 drops them, an array
// inserts its rows; null when the steps do not fit the rows.
function patched(rows, steps) {
  const out = [];
  let at = 0;
  for (const step of steps) {
    if (Array.isArray(step)) {
      for (const row of step) out.push(rowOf(row));
    } else {
      if (at + Math.abs(step) > rows.length) return null;
      if (step > 0) for (const end = at + step; at < end; ++at) out.push(rows[at]);
      else at -= step;
    }
  }
  return at === rows.length ? out : null;
}

// The page of a state from the host: sent whole, as steps from a page version this page has
// (while a request's answer and the event stream race, this page may be some steps ahead of
// where they start), or not at all when it did not change. Undefined when it cannot be had
// from what this page holds.
function pageOf(next) {
  if (next.page === null)
    return state && state.page_version === next.page_version ? state.page : undefined;
  if (next.page) return {...next.page, rows: (next.page.rows || []).map(rowOf)};
  const ahead = state ? state.page_version - next.patch.from : -1;
  if (ahead < 0 || ahead > next.patch.steps.length) return undefined;
  let rows = state.page.rows;
  for (const steps of next.patch.steps.slice(ahead)) {
    rows = patched(rows, steps);
    if (!rows) return undefined;
  }
  return {...next.patch.head, rows};
}

function show(next) {
  if (state && next.version <= state.version) return;
  const page = pageOf(next);
  if (page === undefined) return reload();
  const previous = state;
  state = {...next, page};
  delete state.patch;
  if (!previous || previous.page_version !== next.page_version) drawPage(previous && previous.page);
  drawDialog(next.dialog);
}

$('filter').addEventListener('input', () => drawRows(true));
window.addEventListener('scroll', () => state && drawWindow(), {passive: true});
window.addEventListener('resize', () => state && drawWindow());
// Tab onto the first or last drawn row scrolls it into view, which draws the rows beyond it.
$('rows').addEventListener('focusin', () => drawWindow());
// Tab after the focused row scrolled out of the drawn part goes on from that row, as it would
// in a list drawn whole: the row comes back into view and takes the focus first.
document.addEventListener('keydown', (event) => {
  if (event.key !== 'Tab' || !wantedFocus || document.activeElement !== document.body) return;
  const index = items.findIndex((item) => item.key === wantedFocus.join(':'));
  if (index < 0) return;
  const listTop = $('rows').getBoundingClientRect().top + window.scrollY;
  window.scrollTo(0, listTop + itemTops()[index] - window.innerHeight / 2);
  drawWindow();
});
document.addEventListener('focusin', (event) => {
  if (!$('rows').contains(event.target)) wantedFocus = null;
});
$('rows').addEventListener('click', (event) => {
  const target = event.target.closest('[data-kind]');
  if (!target) return;
  event.preventDefault();
  act(target.dataset.kind, target.dataset.id, target);
});
$('back').addEventListener('click', () => history.back());
$('dialog').addEventListener('cancel', (event) => {
  event.preventDefault();  // Esc answers as the terminal's Esc does; the host closes the box
  answer(-1);
});
$('dialog-field').addEventListener('keydown', (event) => {
  if (event.key === 'Enter') answer(0);
});
window.addEventListener('popstate', (event) => {
  post('/api/back', {depth: (event.state && event.state.depth) || 1});
});
history.replaceState({depth: (history.state && history.state.depth) || 1}, '');

const events = new EventSource('/api/events');
events.addEventListener('message', (event) => {
  // A state already shown (it came with a request's answer) is not parsed again.
  if (!state || Number(event.lastEventId) > state.version) show(JSON.parse(event.data));
});
events.addEventListener('error', () => {
  if (texts.offline) $('message').textContent = texts.offline;
});

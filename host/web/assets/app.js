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
      body: JSON.stringify(body),
    });
    if (!(reply.headers.get('Content-Type') || '').startsWith('application/json')) return;
    const next = await reply.json();
    if (next.version !== undefined) show(next);
    if (reply.status === 409 && (next.busy || next.dialog)) $('message').textContent = texts.busy;
  } catch (error) {
    $('message').textContent = texts.offline;
  }
}

function act(kind, id) {
  post('/api/act', {depth: state.page.depth, kind, id});
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

// The list as flat items, each with a key that stays the same across rebuilds: a group's
// heading, its rows, its footer.
function listItems(rows) {
  const items = [];
  let footer = null;
  for (const row of rows) {
    if (row.kind === 'group') {
      if (footer) items.push(footer);
      items.push({key: `group:${row.id}`, row});
      footer = row.footer ? {key: `footer:${row.id}`, row, footer: true} : null;
    } else {
      items.push({key: `${row.kind}:${row.id}`, row});
    }
  }
  if (footer) items.push(footer);
  if (!rows.length) items.push({key: 'empty', row: {kind: 'empty', id: ''}, empty: true});
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

let drawn = new Map();  // key -> {row, node}: what the list shows now

// Redraws the rows, keeping the focus on the same row and the scroll position while the page
// stays the same. Rows that did not change keep their elements, so a rebuild or a filter
// touches only what differs.
function drawRows(samePage) {
  const page = state.page;
  const list = $('rows');
  const active = document.activeElement;
  const focused = active && active.dataset.id !== undefined && [active.dataset.kind, active.dataset.id];
  const scroll = window.scrollY;
  const old = samePage ? drawn : new Map();
  drawn = new Map();
  let cursor = list.firstChild;
  for (const item of listItems(visibleRows(page.rows, page.depth === 1 ? $('filter').value : ''))) {
    const before = old.get(item.key);
    old.delete(item.key);
    const node = before && sameRow(before.row, item.row) ? before.node : itemElement(item);
    if (node === cursor) cursor = cursor.nextSibling;
    else list.insertBefore(node, cursor);
    drawn.set(item.key, {row: item.row, node});
  }
  while (cursor) {  // everything from here on was not placed again
    const next = cursor.nextSibling;
    cursor.remove();
    cursor = next;
  }
  if (focused && !list.contains(document.activeElement)) {
    const again = [...list.querySelectorAll(`[data-id="${CSS.escape(focused[1])}"]`)]
        .find((node) => node.dataset.kind === focused[0]);
    if (again) again.focus({preventScroll: true});
  }
  window.scrollTo(0, samePage ? scroll : 0);
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
  $('message').textContent = page.message;
  $('freshness').textContent = page.freshness;
  syncHistory(page.depth);
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

function reload() {
  fetch('/api/state').then((reply) => reply.json()).then(show, () => {});
}

function show(next) {
  if (state && next.version <= state.version) return;
  const previous = state;
  if (next.page === null) {  // the host sends a page only when it changed
    if (!previous || previous.page_version !== next.page_version) return reload();
    next.page = previous.page;
  }
  state = next;
  if (!previous || previous.page_version !== next.page_version) drawPage(previous && previous.page);
  drawDialog(next.dialog);
}

$('filter').addEventListener('input', () => drawRows(true));
$('rows').addEventListener('click', (event) => {
  const target = event.target.closest('[data-kind]');
  if (!target) return;
  event.preventDefault();
  act(target.dataset.kind, target.dataset.id);
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

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

// The rows as sections under their groups; `nodes` gets each row's element (a group's
// section) in order.
function rowsElement(rows, nodes) {
  const all = document.createDocumentFragment();
  let section = null;
  let footer = null;
  for (const row of rows) {
    if (row.kind === 'group') {
      section = element('section');
      if (row.title) section.append(element('h2', '', row.title));
      footer = row.footer ? element('p', 'footer', row.footer) : null;
      if (footer) section.append(footer);
      all.append(section);
      nodes.push(section);
      continue;
    }
    const node = rowElement(row);
    nodes.push(node);
    if (!section) all.append(node);
    else section.insertBefore(node, footer);
  }
  if (!rows.length) all.append(element('p', 'empty', texts.no_match));
  return all;
}

const sameRow = (a, b) => a.kind === b.kind && a.id === b.id && a.title === b.title &&
    a.detail === b.detail && a.on === b.on && a.running === b.running &&
    a.enabled === b.enabled && a.footer === b.footer;

let drawn = {rows: [], nodes: []};  // what the list shows now

// Redraws the rows, keeping the focus on the same row and the scroll position while the page
// stays the same. When the same rows come again (a rebuild), only the changed ones are
// replaced.
function drawRows(samePage) {
  const page = state.page;
  const list = $('rows');
  const focused = document.activeElement && document.activeElement.dataset.id !== undefined &&
      [document.activeElement.dataset.kind, document.activeElement.dataset.id];
  const scroll = window.scrollY;
  const rows = visibleRows(page.rows, page.depth === 1 ? $('filter').value : '');
  const old = drawn;
  const sameShape = samePage && rows.length === old.rows.length && rows.length > 0 &&
      rows.every((row, i) => row.kind === old.rows[i].kind && row.id === old.rows[i].id &&
          (row.kind !== 'group' || sameRow(row, old.rows[i])));
  if (sameShape) {
    rows.forEach((row, i) => {
      if (sameRow(row, old.rows[i])) return;
      const node = rowElement(row);
      old.nodes[i].replaceWith(node);
      old.nodes[i] = node;
    });
    drawn = {rows, nodes: old.nodes};
  } else {
    const nodes = [];
    list.replaceChildren(rowsElement(rows, nodes));
    drawn = {rows, nodes};
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

function show(next) {
  if (state && next.version <= state.version) return;
  const previous = state;
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
events.addEventListener('message', (event) => show(JSON.parse(event.data)));
events.addEventListener('error', () => {
  if (texts.offline) $('message').textContent = texts.offline;
});

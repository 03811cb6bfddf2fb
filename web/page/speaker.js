// One speaker's player: what its session reports, and the user's commands to it.

import { $, api, failure, say, eventsUrl, asciiLower, text, tracks, blocks, Pages } from './net.js';

// The speaker's play-state numbers, by the words the desktop's rooms use for them.
const Playing = 3;
function stateText(n) {
  if (n === Playing) return 'Playing';
  if (n === 2) return 'Paused';
  return [0, 1, 8, 10].includes(n) ? 'Stopped' : 'Loading';
}
// A released bar keeps the user's value this long, so the report from before the change
// does not throw it back.
const GraceMs = 1000;
// A row's height in px, border included (app.css: #playlist li).
const RowPx = 45;

// A location's name and host as a row shows them: cut from the raw text, nothing decoded.
// A line that is no URL shows as itself.
export function caption(loc) {
  const scheme = loc.indexOf('://');
  if (scheme <= 0) return [loc, ''];
  const start = scheme + 3;
  let end = loc.length;
  for (const c of '?#') {
    const at = loc.indexOf(c, start);
    if (at >= 0 && at < end) end = at;
  }
  let path = loc.indexOf('/', start);
  if (path < 0 || path > end) path = end;
  let host = loc.slice(start, path);
  host = host.slice(host.lastIndexOf('@') + 1);
  if (host.startsWith('[')) {
    const close = host.indexOf(']');
    host = host.slice(1, close < 0 ? host.length : close);
  } else if (host.includes(':')) {
    host = host.slice(0, host.indexOf(':'));
  }
  const p = loc.slice(path, end);
  return [p.slice(p.lastIndexOf('/') + 1), asciiLower(host)];
}

function number(v) {
  const n = Number(v);
  return Number.isFinite(n) ? Math.min(100, Math.max(0, Math.round(n))) : null;
}

export class Speaker {
  // group: the Group that shows this speaker's rooms.
  constructor(group) {
    this.group = group;
    for (const id of ['speaker-host', 'session-status', 'controls', 'time', 'information',
      'playpause', 'mute', 'playlist', 'select-all', 'list-count', 'remove', 'down', 'up', 'next']) {
      this[id.replace(/-(\w)/g, (_, c) => c.toUpperCase())] = $(id);
    }
    this.stateEl = $('state');
    this.host = '';
    this.es = null;
    this.version = null;
    this.items = []; // locations by row; a row not fetched yet holds none
    this.rows = [];
    this.mark = '';
    this.pages = new Pages((from, count) => this.fetchRows(from, count));
    this.checked = new Set(); // locations, so a checked row stays checked when it moves
    this.state = 0;
    this.drag = null;
    this.bars = {};
    for (const [id, verb] of [['position', 'seek'], ['volume', 'volume']]) this.wireBar(id, verb);

    this.playpause.addEventListener('click', () => this.send({ do: 'playpause' }));
    $('stop').addEventListener('click', () => this.send({ do: 'stop' }));
    $('skip-previous').addEventListener('click', () => this.send({ do: 'skipprevious' }));
    $('skip-next').addEventListener('click', () => this.send({ do: 'skipnext' }));
    this.mute.addEventListener('click', () => this.send({ do: 'mute' }));
    for (const verb of ['remove', 'down', 'up', 'next']) {
      this[verb].addEventListener('click', () => this.edit({ do: verb }));
    }
    this.selectAll.addEventListener('change', () => {
      for (const li of this.rows) li.vxBox.checked = this.selectAll.checked;
      this.checkedChanged();
    });
    const list = this.playlist;
    list.addEventListener('change', (e) => {
      if (e.target.type === 'checkbox') this.checkedChanged();
    });
    list.addEventListener('click', (e) => {
      const b = e.target.closest('button.track');
      if (b && b.parentNode.vxRow !== undefined) {
        this.send({ do: 'play', version: this.version, row: b.parentNode.vxRow });
      }
    });
    this.wireDrag(list);
  }

  // The bar sends on release; while the user holds it, reports do not move it.
  wireBar(id, verb) {
    const bar = { el: $(id), held: false, until: 0, value: 0 };
    this.bars[id] = bar;
    const release = () => {
      if (!bar.held) return;
      bar.held = false;
      bar.until = performance.now() + GraceMs;
      setTimeout(() => this.showBar(bar), GraceMs + 10);
    };
    bar.el.addEventListener('pointerdown', () => { bar.held = true; });
    bar.el.addEventListener('input', () => { bar.held = true; });
    bar.el.addEventListener('pointerup', release);
    bar.el.addEventListener('pointercancel', release);
    bar.el.addEventListener('change', () => {
      bar.held = true;
      release();
      this.send({ do: verb, value: bar.el.valueAsNumber });
    });
  }

  report(bar, v) {
    const n = number(v);
    if (n === null) return;
    bar.value = n;
    this.showBar(bar);
  }

  showBar(bar) {
    if (!bar.held && performance.now() >= bar.until && bar.el.valueAsNumber !== bar.value) {
      bar.el.value = bar.value;
    }
  }

  wireDrag(list) {
    const clear = () => {
      for (const li of list.querySelectorAll('.drop-before, .dragging')) li.classList.remove('drop-before', 'dragging');
    };
    const rowAt = (e) => {
      const li = e.target.closest && e.target.closest('li');
      return li && li.vxRow !== undefined ? li : null;
    };
    list.addEventListener('dragstart', (e) => {
      const li = rowAt(e);
      if (!li) return;
      const rows = li.vxBox.checked ? this.checkedRows() : [li.vxRow];
      this.drag = { rows, version: this.version };
      e.dataTransfer.effectAllowed = 'move';
      e.dataTransfer.setData('text/plain', this.items[li.vxRow] ?? '');
      for (const i of rows) this.rows[i].classList.add('dragging');
    });
    list.addEventListener('dragover', (e) => {
      if (!this.drag) return;
      e.preventDefault();
      e.dataTransfer.dropEffect = 'move';
      const li = rowAt(e);
      if (li && li.classList.contains('drop-before')) return;
      for (const o of list.querySelectorAll('.drop-before')) o.classList.remove('drop-before');
      if (li) li.classList.add('drop-before');
    });
    list.addEventListener('drop', (e) => {
      if (!this.drag) return;
      e.preventDefault();
      const li = rowAt(e);
      const { rows, version } = this.drag;
      this.drag = null;
      clear();
      if (version === this.version) this.send({ do: 'drop', version, rows, target: li ? li.vxRow : -1 });
    });
    list.addEventListener('dragend', () => {
      this.drag = null;
      clear();
    });
  }

  // Shows host's player, connecting unless its watch is already open.
  open(host) {
    if (host === this.host && (this.es || this.opening)) return;
    this.stop();
    this.host = host;
    say(this.speakerHost, host);
    this.status.dataset.status = 'connecting';
    say(this.status, '');
    this.controls.disabled = false;
    this.checked.clear();
    this.group.reset(host);
    this.version = null;
    this.build(0);
    this.onState({ state: 0, muted: false, volume: 0, position: 0, time: '', information: '' });
    this.scrollToMark = true;
    this.failures = 0;
    this.watch();
  }

  stop() {
    if (this.es) this.es.close();
    this.es = null;
    clearTimeout(this.retry);
    this.opening = null;
  }

  // The watch opens by POST; its stream joins it by the token the answer holds. A stream the
  // server ends (each lasts a few minutes) is opened anew the same way, at once when it had
  // opened, else later and later.
  async watch() {
    const opening = {};
    this.opening = opening;
    const { status, data } = await api('watch', { host: this.host });
    if (this.opening !== opening) return;
    this.opening = null;
    if (status === 200 && typeof data.stream === 'string') {
      this.listen(data.stream);
    } else if (status === 0) {
      this.reconnect(false);
    } else {
      this.status.dataset.status = 'ended';
      say(this.status, failure(status, data));
      this.controls.disabled = true;
    }
  }

  reconnect(opened) {
    this.failures = opened ? 0 : this.failures + 1;
    if (!opened) say(this.status, `Reconnecting to ${location.host}...`);
    this.retry = setTimeout(() => this.watch(), opened ? 250 : 500 * 2 ** Math.min(this.failures, 6));
  }

  listen(stream) {
    const es = new EventSource(eventsUrl(stream));
    this.es = es;
    let opened = false;
    const on = (kind, fn) => es.addEventListener(kind, (e) => {
      if (this.es !== es) return;
      let d;
      try {
        d = JSON.parse(e.data);
      } catch {
        return;
      }
      if (d && typeof d === 'object') fn.call(this, d);
    });
    on('session', this.onSession);
    on('list', this.onList);
    on('state', this.onState);
    on('group', (d) => this.group.onGroup(d));
    // A stream opened anew may belong to a new session, whose list versions start over.
    es.onopen = () => {
      if (this.es !== es) return;
      this.version = null;
      opened = true;
    };
    es.onerror = () => {
      if (this.es !== es) return;
      es.close();
      this.es = null;
      this.reconnect(opened);
    };
  }

  get status() { return this.sessionStatus; }

  onSession(d) {
    const status = text(d.status);
    this.status.dataset.status = status;
    say(this.status, text(d.message));
    const over = status === 'ended' || status === 'refused';
    this.controls.disabled = over;
    // No reconnect: "Open" starts a new session.
    if (over) this.stop();
  }

  // The event brings the list's first page; the rest comes by range as rows scroll near.
  onList(d) {
    const count = Number.isInteger(d.count) && d.count >= 0 ? d.count : 0;
    if (d.version !== this.version) {
      this.version = d.version;
      this.build(count);
    }
    this.mark = text(d.mark);
    this.fill(d.from, d.items);
    this.markRows(Number.isInteger(d.markRow) ? d.markRow : -1);
  }

  async fetchRows(from, count) {
    const version = this.version;
    const { status, data } = await api('list', { host: this.host, version, from, count });
    // A stale version needs nothing: the next list event brings the new list.
    if (status !== 200 || version !== this.version) return 0;
    return this.fill(data.from, data.items);
  }

  // Rows from on take items' locations; how many did.
  fill(from, items) {
    if (!Number.isInteger(from) || !Array.isArray(items)) return 0;
    const n = Math.min(items.length, this.rows.length - from);
    for (let k = 0; k < n; k++) {
      const i = from + k;
      // A track of the library comes as [location, "Title - Artist"].
      const item = Array.isArray(items[k]) ? items[k] : [items[k]];
      const loc = text(item[0]);
      const [file, host] = caption(loc);
      const name = text(item[1]) || file;
      const li = this.rows[i];
      const b = li.lastChild;
      li.vxBox.setAttribute('aria-label', name || loc);
      if (this.checked.has(loc)) li.vxBox.checked = true;
      b.firstChild.textContent = name;
      b.lastChild.textContent = host;
      this.items[i] = loc;
      this.showMark(li, this.mark !== '' && loc === this.mark);
    }
    this.pages.filled(from, n);
    if (n > 0) this.available();
    return n;
  }

  // count rows, not fetched yet: each gets its text as its page arrives.
  build(count) {
    const proto = document.createElement('li');
    proto.draggable = true;
    const pick = proto.appendChild(document.createElement('label'));
    pick.className = 'pick';
    pick.appendChild(document.createElement('input')).type = 'checkbox';
    const track = proto.appendChild(document.createElement('button'));
    track.type = 'button';
    track.className = 'track';
    track.append(document.createElement('span'), document.createElement('span'));
    track.firstChild.className = 'name';
    track.lastChild.className = 'from';
    const rows = new Array(count);
    for (let i = 0; i < count; i++) {
      const li = proto.cloneNode(true);
      li.vxRow = i;
      li.vxBox = li.firstChild.firstChild;
      li.vxCurrent = false;
      rows[i] = li;
    }
    this.items = new Array(count);
    this.rows = rows;
    this.drag = null;
    const { frag, blocks: made } = blocks(rows, RowPx);
    this.playlist.replaceChildren(frag);
    this.pages.reset(made, count);
    this.available();
  }

  showMark(li, on) {
    if (on === li.vxCurrent) return;
    li.vxCurrent = on;
    li.classList.toggle('current', on);
    if (on) li.setAttribute('aria-current', 'true');
    else li.removeAttribute('aria-current');
  }

  // first: the first marked row, fetched or not.
  markRows(first) {
    for (let i = 0; i < this.rows.length; i++) {
      if (this.items[i] !== undefined) this.showMark(this.rows[i], this.mark !== '' && this.items[i] === this.mark);
    }
    const li = this.rows[first];
    if (li && this.scrollToMark) {
      this.scrollToMark = false;
      li.scrollIntoView({ block: 'nearest' });
    }
  }

  onState(d) {
    const n = Number.isInteger(d.state) ? d.state : 0;
    this.state = n;
    this.stateEl.dataset.state = String(n);
    say(this.stateEl, stateText(n));
    const playing = n === Playing;
    this.playpause.classList.toggle('playing', playing);
    this.playpause.setAttribute('aria-label', playing ? 'Pause' : 'Play');
    this.mute.setAttribute('aria-pressed', d.muted === true ? 'true' : 'false');
    say(this.time, text(d.time));
    say(this.information, [text(d.information), text(d.album)].filter((s) => s).join(' \u00b7 '));
    this.showCover(text(d.cover));
    this.report(this.bars.position, d.position);
    this.report(this.bars.volume, d.volume);
  }

  // The current track's cover (a hash of the library's covers), or none.
  showCover(hash) {
    const img = $('cover-now');
    if (img.dataset.hash === hash) return;
    img.dataset.hash = hash;
    img.hidden = !hash;
    if (hash) img.src = `/vx-remote/cover/${encodeURIComponent(hash)}-96.jpg`;
    else img.removeAttribute('src');
  }

  checkedRows() {
    const out = [];
    for (let i = 0; i < this.rows.length; i++) if (this.rows[i].vxBox.checked) out.push(i);
    return out;
  }

  checkedChanged() {
    this.checked = new Set(this.checkedRows().map((i) => this.items[i]).filter((l) => l !== undefined));
    this.available();
  }

  // What the edit buttons can do with the checked rows.
  available() {
    const rows = this.checkedRows();
    const n = this.rows.length;
    const none = rows.length === 0;
    this.remove.disabled = none;
    this.next.disabled = none;
    this.up.disabled = none || rows[0] === 0;
    this.down.disabled = none || rows[rows.length - 1] === n - 1;
    this.selectAll.checked = n > 0 && rows.length === n;
    this.selectAll.indeterminate = !none && rows.length < n;
    say(this.listCount, tracks(n) + (none ? '' : `, ${rows.length} selected`));
  }

  edit(body) {
    const rows = this.checkedRows();
    if (rows.length) this.send({ ...body, version: this.version, rows });
  }

  // A stale list (409) needs nothing: the next list event brings the new one.
  async send(body) {
    if (!this.host) return;
    const { status, data } = await api('command', { host: this.host, ...body });
    if (status !== 200 && status !== 409) say(this.status, failure(status, data));
  }
}

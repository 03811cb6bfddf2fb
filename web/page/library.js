// The library: this computer's tracks, a filter, a selection and "Play on".

import { $, api, failure, say, text, tracks, blocks, Pages } from './net.js';

// A row's height in px, border included (app.css: #library li).
const RowPx = 52;
// How long typing pauses before the filter asks.
const FilterMs = 150;

export class Library {
  // target(): the chosen speaker; opened(host): shows host's player once tracks went there.
  constructor(target, opened) {
    this.target = target;
    this.opened = opened;
    this.list = $('library');
    this.note = $('library-note');
    this.count = $('library-count');
    this.filterBox = $('filter');
    this.version = null;
    this.query = '';     // the filter the rows shown answer
    this.total = 0;      // rows in the library
    this.rows = [];      // li per row shown (the rows the filter matches, in order)
    this.selected = new Set(); // library rows
    this.active = -1;    // the shown row the keyboard is on
    this.loading = null;
    this.typing = 0;
    this.pages = new Pages((from, count) => this.fetchRows(from, count));

    this.list.addEventListener('click', (e) => {
      const li = e.target.closest('li');
      if (li && li.vxRow !== undefined) this.toggle(li.vxAt);
    });
    this.list.addEventListener('keydown', (e) => this.key(e));
    this.filterBox.addEventListener('input', () => {
      clearTimeout(this.typing);
      this.typing = setTimeout(() => this.load(), FilterMs);
    });
    $('play-on').addEventListener('click', () => this.play());
  }

  // The first page of what the filter shows; the rest comes by range as it scrolls near.
  load() {
    if (!this.loading) this.loading = this.fetchFirst().finally(() => { this.loading = null; });
    return this.loading;
  }

  async fetchFirst() {
    const query = this.filterBox.value.trim();
    const { status, data } = await api(this.path(query, 0), undefined, 'no-cache');
    if (status !== 200) {
      say(this.note, failure(status, data));
      return;
    }
    this.build(data, query);
    // Typed meanwhile: asked again.
    if (this.filterBox.value.trim() !== query) setTimeout(() => this.load(), 0);
  }

  path(query, from, version) {
    const v = version === undefined ? '' : `&version=${encodeURIComponent(version)}`;
    return `library?from=${from}&filter=${encodeURIComponent(query)}${v}`;
  }

  async fetchRows(from, count) {
    const { version, query } = this;
    const { status, data } = await api(`${this.path(query, from, version)}&count=${count}`,
      undefined, 'no-cache');
    if (version !== this.version || query !== this.query) return 0;
    if (status === 409) this.load();
    return status === 200 ? this.fill(data) : 0;
  }

  build(data, query) {
    const n = Number.isInteger(data.count) && data.count >= 0 ? data.count : 0;
    const proto = document.createElement('li');
    proto.setAttribute('role', 'option');
    proto.setAttribute('aria-selected', 'false');
    proto.append(document.createElement('span'), '');
    proto.firstChild.className = 'name';
    this.rows = new Array(n);
    for (let i = 0; i < n; i++) {
      const li = proto.cloneNode(true);
      li.vxAt = i;
      this.rows[i] = li;
    }
    if (data.version !== this.version) this.selected.clear();
    this.version = data.version;
    this.query = query;
    this.total = Number.isInteger(data.total) ? data.total : n;
    const { frag, blocks: made } = blocks(this.rows, RowPx);
    this.list.replaceChildren(frag);
    this.pages.reset(made, n);
    this.active = -1;
    this.list.removeAttribute('aria-activedescendant');
    this.fill(data);
    this.counted();
  }

  // A page of rows arrived: [name, entry, library row] each; how many it filled.
  fill(data) {
    const from = data.from;
    const tracks = data.tracks;
    if (!Number.isInteger(from) || !Array.isArray(tracks)) return 0;
    const n = Math.min(tracks.length, this.rows.length - from);
    for (let k = 0; k < n; k++) {
      const t = Array.isArray(tracks[k]) ? tracks[k] : [];
      const li = this.rows[from + k];
      li.firstChild.textContent = text(t[0]);
      li.lastChild.data = text(t[1]);
      li.vxRow = Number.isInteger(t[2]) ? t[2] : undefined;
      li.setAttribute('aria-selected', this.selected.has(li.vxRow) ? 'true' : 'false');
    }
    this.pages.filled(from, n);
    return n;
  }

  counted() {
    const shown = this.rows.length;
    let t = shown === this.total ? tracks(shown) : `${shown} of ${tracks(this.total)}`;
    if (this.selected.size) t += `, ${this.selected.size} selected`;
    say(this.count, t);
  }

  // i: a shown row.
  toggle(i) {
    const li = this.rows[i];
    if (!li || li.vxRow === undefined) return;
    const on = !this.selected.has(li.vxRow);
    if (on) this.selected.add(li.vxRow);
    else this.selected.delete(li.vxRow);
    li.setAttribute('aria-selected', on ? 'true' : 'false');
    this.activate(i);
    this.counted();
  }

  activate(i) {
    const old = this.rows[this.active];
    if (old) old.classList.remove('active');
    this.active = i;
    const li = this.rows[i];
    if (!li) return;
    li.id ||= `track-${i}`;
    li.classList.add('active');
    this.list.setAttribute('aria-activedescendant', li.id);
  }

  // Arrows walk the shown rows, Space or Enter selects.
  key(e) {
    const step = { ArrowDown: 1, ArrowUp: -1 }[e.key];
    if (step) {
      e.preventDefault();
      const i = this.active + step;
      if (i >= 0 && i < this.rows.length) {
        this.activate(i);
        this.rows[i].scrollIntoView({ block: 'nearest' });
      }
    } else if ((e.key === ' ' || e.key === 'Enter') && this.rows[this.active]) {
      e.preventDefault();
      this.toggle(this.active);
    }
  }

  async play() {
    const host = this.target();
    if (!host) {
      say(this.note, 'Choose a speaker or type a name or address.');
      return;
    }
    if (!this.rows.length && !this.selected.size) {
      say(this.note, 'No track to play.');
      return;
    }
    // The selected rows; none selected: what the filter shows (the server matches it).
    const rows = [...this.selected].sort((a, b) => a - b);
    const body = { host, version: this.version, rows };
    if (!rows.length && this.query) body.filter = this.query;
    const { status, data } = await api('play', body);
    if (status === 200) {
      say(this.note, text(data.note));
      this.opened(host);
      return;
    }
    say(this.note, failure(status, data));
    if (status === 409) await this.load();
  }
}

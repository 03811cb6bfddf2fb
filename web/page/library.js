// The library: this computer's tracks, a filter, a selection and "Play on".

import { $, api, failure, say, asciiLower, text, tracks, blocks, blockOf, sizeBlock } from './net.js';

// A row's height in px, border included (app.css: #library li).
const RowPx = 52;

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
    this.rows = [];     // li per library row
    this.blocks = [];
    this.blockShown = [];
    this.keys = [];     // what the filter matches: name, line break, entry; lower-cased
    this.hidden = [];   // whether the filter hides the row
    this.selected = new Set();
    this.shown = 0;
    this.active = -1;   // the row the keyboard is on
    this.loading = null;

    this.list.addEventListener('click', (e) => {
      const li = e.target.closest('li');
      if (li && li.vxRow !== undefined) this.toggle(li.vxRow);
    });
    this.list.addEventListener('keydown', (e) => this.key(e));
    this.filterBox.addEventListener('input', () => this.filter());
    $('play-on').addEventListener('click', () => this.play());
  }

  load() {
    if (!this.loading) this.loading = this.fetchTracks().finally(() => { this.loading = null; });
    return this.loading;
  }

  async fetchTracks() {
    const { status, data } = await api('library');
    if (status !== 200) {
      say(this.note, failure(status, data));
      return;
    }
    this.build(Array.isArray(data.tracks) ? data.tracks : [], data.version);
  }

  build(tracks, version) {
    const n = tracks.length;
    const proto = document.createElement('li');
    proto.setAttribute('role', 'option');
    proto.setAttribute('aria-selected', 'false');
    proto.append(document.createElement('span'), '');
    proto.firstChild.className = 'name';
    this.rows = new Array(n);
    this.keys = new Array(n);
    this.hidden = new Array(n).fill(false);
    for (let i = 0; i < n; i++) {
      const t = Array.isArray(tracks[i]) ? tracks[i] : [];
      const name = text(t[0]);
      const entry = text(t[1]);
      const li = proto.cloneNode(true);
      li.firstChild.textContent = name;
      li.lastChild.data = entry;
      li.vxRow = i;
      this.rows[i] = li;
      this.keys[i] = name + '\n' + entry;
    }
    this.lowered = false;
    const { frag, blocks: made } = blocks(this.rows, RowPx);
    this.blocks = made;
    this.blockShown = made.map(() => -1);
    this.list.replaceChildren(frag);
    this.version = version;
    this.selected.clear();
    this.active = -1;
    this.list.removeAttribute('aria-activedescendant');
    this.shown = n;
    this.filter();
    // The filter's keys are ready before anyone types, without delaying the list.
    setTimeout(() => this.lower(), 0);
  }

  // A line break never comes from the filter box, so no match spans name and entry.
  lower() {
    if (this.lowered) return;
    this.lowered = true;
    const { keys } = this;
    for (let i = 0; i < keys.length; i++) keys[i] = asciiLower(keys[i]);
  }

  filter() {
    const q = asciiLower(this.filterBox.value.trim());
    if (q) this.lower();
    const { rows, keys, hidden } = this;
    const perBlock = this.blocks.map(() => 0);
    let shown = 0;
    for (let i = 0; i < rows.length; i++) {
      const hide = q !== '' && !keys[i].includes(q);
      if (hide !== hidden[i]) {
        hidden[i] = hide;
        rows[i].hidden = hide;
      }
      if (!hide) {
        shown++;
        perBlock[blockOf(i)]++;
      }
    }
    perBlock.forEach((n, b) => {
      if (n !== this.blockShown[b]) sizeBlock(this.blocks[b], (this.blockShown[b] = n), RowPx);
    });
    this.shown = shown;
    this.counted();
  }

  counted() {
    const all = this.rows.length;
    let t = this.shown === all ? tracks(all) : `${this.shown} of ${tracks(all)}`;
    if (this.selected.size) t += `, ${this.selected.size} selected`;
    say(this.count, t);
  }

  toggle(i) {
    const li = this.rows[i];
    if (!li) return;
    const on = !this.selected.has(i);
    if (on) this.selected.add(i);
    else this.selected.delete(i);
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
      let i = this.active;
      do i += step; while (i >= 0 && i < this.rows.length && this.hidden[i]);
      if (i >= 0 && i < this.rows.length) {
        this.activate(i);
        this.rows[i].scrollIntoView({ block: 'nearest' });
      }
    } else if ((e.key === ' ' || e.key === 'Enter') && this.rows[this.active]) {
      e.preventDefault();
      this.toggle(this.active);
    }
  }

  // The rows to play: the selected ones; none selected: what the filter shows ([] = all).
  chosen() {
    if (this.selected.size) return [...this.selected].sort((a, b) => a - b);
    if (this.shown === this.rows.length) return [];
    const out = [];
    for (let i = 0; i < this.rows.length; i++) if (!this.hidden[i]) out.push(i);
    return out;
  }

  async play() {
    const host = this.target();
    if (!host) {
      say(this.note, 'Choose a speaker or type a name or address.');
      return;
    }
    if (!this.rows.length || !this.shown && !this.selected.size) {
      say(this.note, 'No track to play.');
      return;
    }
    const { status, data } = await api('play', { host, version: this.version, rows: this.chosen() });
    if (status === 200) {
      say(this.note, text(data.note));
      this.opened(host);
      return;
    }
    say(this.note, failure(status, data));
    if (status === 409) await this.load();
  }
}

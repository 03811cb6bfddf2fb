// The library: this computer's tracks by artist, album or title, a search, a selection and
// "Play on". Tracks are named by id and library version, never by path.

import { $, api, failure, say, text, tracks, PagedList } from './net.js';

// Heights in px, border included (app.css: #library li, .shelf li, .shelf.grid li).
const RowPx = 52;
const TilePx = 168;
const TileMinPx = 112;
// How long typing pauses before the search asks.
const FilterMs = 150;

// Whole seconds as the desktop writes a track's time: mm:ss, h:mm:ss from an hour on;
// nothing for none.
function length(s) {
  if (!Number.isInteger(s) || s <= 0) return '';
  const two = (n) => String(n).padStart(2, '0');
  const h = Math.floor(s / 3600);
  const ms = `${two(Math.floor(s / 60) % 60)}:${two(s % 60)}`;
  return h > 0 ? `${h}:${ms}` : ms;
}

function element(tag, className) {
  const e = document.createElement(tag);
  if (className) e.className = className;
  return e;
}

// The button of a row or tile that offers Play Now, Play Next and Add to Queue.
function moreButton(label) {
  const b = element('button', 'more');
  b.type = 'button';
  b.setAttribute('aria-label', label);
  b.setAttribute('aria-haspopup', 'menu');
  return b;
}

function cover(hash) {
  if (!hash) return element('div', 'cover none');
  const img = element('img', 'cover');
  img.alt = '';
  img.loading = 'lazy';
  img.src = `/vx-remote/cover/${encodeURIComponent(hash)}-96.jpg`;
  return img;
}

export class Library {
  // target(): the chosen speaker; opened(host): shows host's player once tracks went there.
  constructor(target, opened) {
    this.target = target;
    this.opened = opened;
    this.note = $('library-note');
    this.count = $('library-count');
    this.filterBox = $('filter');
    this.crumbs = $('crumbs');
    this.shelfName = 'tracks'; // the tab: artists, albums or tracks
    this.artist = null; // {id, name, version}: the artist whose albums show
    this.album = null; // {id, title, version}: the album whose tracks show
    this.query = '';
    this.selected = new Set(); // ids of this.tracks.version
    this.active = -1;
    this.typing = 0;
    this.loads = 0;
    const stale = () => this.load(true);
    this.tracks = new PagedList($('library'), 'tracks', RowPx, () => this.makeTrack(),
      (li, t) => this.putTrack(li, t), stale);
    this.shelf = new PagedList($('shelf'), 'artists', RowPx, () => element('li'),
      (li, item) => this.putShelf(li, item), stale);

    this.menu = $('play-menu');
    this.chosen = null; // what the menu plays: {ids} of a track or {album, version}
    this.tracks.list.addEventListener('click', (e) => {
      const li = e.target.closest('li');
      if (li && li.vxId !== undefined && e.target.closest('.more')) {
        this.offer(e.target.closest('.more'), { ids: [li.vxId], version: this.tracks.version });
      } else if (li && li.vxId !== undefined) this.toggle(li.vxAt);
    });
    this.menu.addEventListener('click', (e) => {
      const b = e.target.closest('button[data-mode]');
      const chosen = this.chosen;
      this.closeMenu();
      if (b && chosen) this.play(b.dataset.mode, chosen);
    });
    document.addEventListener('pointerdown', (e) => {
      if (!this.menu.hidden && !this.menu.contains(e.target) && !e.target.closest('.more')) this.closeMenu();
    });
    this.menu.addEventListener('keydown', (e) => {
      if (e.key === 'Escape') this.closeMenu();
    });
    this.tracks.list.addEventListener('keydown', (e) => this.key(e));
    this.shelf.list.addEventListener('click', (e) => {
      const li = e.target.closest('li');
      if (li && li.vxId !== undefined && e.target.closest('.more')) {
        this.offer(e.target.closest('.more'), { album: li.vxId, version: this.shelf.version });
      } else if (li && li.vxId !== undefined) this.open(li);
    });
    this.shelf.list.addEventListener('keydown', (e) => {
      if (e.key === 'Enter' && e.target.closest('li') && !e.target.closest('.more')) this.open(e.target.closest('li'));
    });
    this.filterBox.addEventListener('input', () => {
      clearTimeout(this.typing);
      this.typing = setTimeout(() => this.load(), FilterMs);
    });
    for (const name of ['artists', 'albums', 'tracks']) {
      $(`show-${name}`).addEventListener('click', () => {
        this.shelfName = name;
        this.artist = this.album = null;
        this.load();
      });
    }
    $('back').addEventListener('click', () => this.back());
    $('play-on').addEventListener('click', () => this.play($('play-mode').value));
  }

  // What the tab, the artist or album opened and the search show, from the first page on.
  // stale: the library changed under an artist or album opened, whose ids now name others.
  async load(stale = false) {
    const loads = ++this.loads;
    if (stale) this.artist = this.album = null;
    const query = this.filterBox.value.trim();
    const q = `&filter=${encodeURIComponent(query)}`;
    const onTracks = this.album || this.shelfName === 'tracks';
    let answer;
    this.crumbsShown();
    if (onTracks) {
      const path = this.album ? `library?view=album&album=${this.album.id}` : `library?view=tracks${q}`;
      answer = await this.tracks.show(path, this.album?.version);
    } else {
      const albums = this.artist || this.shelfName === 'albums';
      this.shelf.key = albums ? 'albums' : 'artists';
      const path = albums ? `library?view=albums${q}&artist=${this.artist ? this.artist.id : -1}`
        : `library?view=artists${q}`;
      // The list may be hidden yet: its section's width.
      const width = this.shelf.list.parentElement.clientWidth;
      const perLine = albums ? Math.max(1, Math.floor(width / TileMinPx)) : 1;
      this.shelf.list.style.setProperty('--per-line', perLine);
      this.shelf.list.classList.toggle('grid', albums);
      this.shelf.rowPx = albums ? TilePx : RowPx;
      answer = await this.shelf.show(path, this.artist?.version, perLine);
    }
    const { status, data } = answer;
    if (loads !== this.loads) return undefined;
    if (status === 409) return this.load(true);
    if (status !== 200) {
      if (status) say(this.note, failure(status, data));
      return;
    }
    this.tracks.list.hidden = !onTracks;
    this.shelf.list.hidden = onTracks;
    this.query = query;
    if (onTracks) {
      if (this.tracks.version !== this.selectedIn) this.selected.clear();
      this.selectedIn = this.tracks.version;
      this.active = -1;
      this.tracks.list.removeAttribute('aria-activedescendant');
    }
    this.counted();
  }

  crumbsShown() {
    for (const name of ['artists', 'albums', 'tracks']) {
      const tab = $(`show-${name}`);
      if (name === this.shelfName) tab.setAttribute('aria-current', 'page');
      else tab.removeAttribute('aria-current');
    }
    const names = [this.artist?.name, this.album?.title].filter((n) => n !== undefined);
    this.crumbs.hidden = !names.length;
    say($('crumb'), names.map((n) => n || 'Unknown').join(' › '));
  }

  back() {
    if (this.album) this.album = null;
    else this.artist = null;
    this.load();
  }

  // An artist's or album's row was tapped.
  open(li) {
    const version = this.shelf.version;
    if (this.shelf.key === 'albums') this.album = { id: li.vxId, title: li.vxName, version };
    else this.artist = { id: li.vxId, name: li.vxName, version };
    this.load();
  }

  makeTrack() {
    const li = element('li');
    li.setAttribute('role', 'option');
    li.setAttribute('aria-selected', 'false');
    li.append(element('span', 'name'), '', moreButton('Play choices'));
    return li;
  }

  // The menu of play choices at button, for chosen.
  offer(button, chosen) {
    this.chosen = chosen;
    const r = button.getBoundingClientRect();
    this.menu.hidden = false;
    const m = this.menu.getBoundingClientRect();
    this.menu.style.left = `${Math.max(4, Math.min(r.right - m.width, innerWidth - m.width - 4))}px`;
    this.menu.style.top = `${r.bottom + m.height < innerHeight ? r.bottom : Math.max(4, r.top - m.height)}px`;
    this.menu.querySelector('button').focus();
  }

  closeMenu() {
    this.menu.hidden = true;
    this.chosen = null;
  }

  // [id, title, artist, album, seconds, url of an http row]
  putTrack(li, t) {
    li.firstChild.textContent = text(t[1]);
    const about = t[5] !== undefined ? [text(t[5])]
      : [text(t[2]), this.album ? '' : text(t[3]), length(t[4])];
    li.childNodes[1].data = about.filter((s) => s !== '').join(' · ');
    li.vxId = Number.isInteger(t[0]) ? t[0] : undefined;
    li.setAttribute('aria-selected', this.selected.has(li.vxId) ? 'true' : 'false');
  }

  // Artists: [id, name, albums]; albums: [id, title, artist, cover, tracks, year].
  putShelf(li, item) {
    li.vxId = Number.isInteger(item[0]) ? item[0] : undefined;
    li.vxName = text(item[1]);
    li.tabIndex = 0;
    const name = element('span', 'name');
    name.textContent = li.vxName || (this.shelf.key === 'albums' ? 'Unknown album' : 'Unknown artist');
    const sub = element('span', 'sub');
    if (this.shelf.key === 'albums') {
      sub.textContent = [text(item[2]), item[5] > 0 ? text(item[5]) : ''].filter((s) => s).join(' · ');
      li.replaceChildren(cover(text(item[3])), name, sub,
        moreButton(`Play choices for ${li.vxName || 'Unknown album'}`));
    } else {
      sub.textContent = item[2] === 1 ? '1 album' : `${Number(item[2]) || 0} albums`;
      li.replaceChildren(name, sub);
    }
  }

  counted() {
    const list = this.tracks.list.hidden ? this.shelf : this.tracks;
    const shown = list.rows.length;
    let t;
    if (list === this.shelf) {
      const noun = this.shelf.key === 'albums' ? 'album' : 'artist';
      t = `${shown} ${noun}${shown === 1 ? '' : 's'}`;
    } else {
      t = shown === list.total || this.album ? tracks(shown) : `${shown} of ${tracks(list.total)}`;
    }
    if (this.selected.size) t += `, ${this.selected.size} selected`;
    say(this.count, t);
  }

  // i: a shown track.
  toggle(i) {
    const li = this.tracks.rows[i];
    if (!li || li.vxId === undefined) return;
    const on = !this.selected.has(li.vxId);
    if (on) this.selected.add(li.vxId);
    else this.selected.delete(li.vxId);
    li.setAttribute('aria-selected', on ? 'true' : 'false');
    this.activate(i);
    this.counted();
  }

  activate(i) {
    const rows = this.tracks.rows;
    if (rows[this.active]) rows[this.active].classList.remove('active');
    this.active = i;
    const li = rows[i];
    if (!li) return;
    li.id ||= `track-${i}`;
    li.classList.add('active');
    this.tracks.list.setAttribute('aria-activedescendant', li.id);
  }

  // Arrows walk the shown tracks, Space or Enter selects.
  key(e) {
    const step = { ArrowDown: 1, ArrowUp: -1 }[e.key];
    const rows = this.tracks.rows;
    if (step) {
      e.preventDefault();
      const i = this.active + step;
      if (i >= 0 && i < rows.length) {
        this.activate(i);
        rows[i].scrollIntoView({ block: 'nearest' });
      }
    } else if ((e.key === ' ' || e.key === 'Enter') && rows[this.active]) {
      e.preventDefault();
      this.toggle(this.active);
    }
  }

  // The selected tracks; none: the album open, else what the search shows, else everything.
  // mode: "now", "next" or "add"; chosen: a track's or an album's (from the menu) instead.
  async play(mode, chosen) {
    const host = this.target();
    if (!host) {
      say(this.note, 'Choose a speaker or type a name or address.');
      return;
    }
    if (chosen) {
      const answer = await api('play', { host, mode, ...chosen });
      if (answer.status === 200) {
        say(this.note, text(answer.data.note));
        this.opened(host);
      } else {
        say(this.note, failure(answer.status, answer.data));
        if (answer.status === 409) await this.load(true);
      }
      return;
    }
    const onTracks = !this.tracks.list.hidden;
    if (!this.selected.size && (!onTracks || !this.tracks.rows.length)) {
      say(this.note, onTracks ? 'No track to play.' : 'Open an album or choose tracks.');
      return;
    }
    // In the order shown (an album's), then those chosen elsewhere in library order.
    const shown = new Map(this.tracks.rows.map((li, i) => [li.vxId, i]));
    const at = (id) => shown.get(id) ?? this.tracks.rows.length + id;
    const ids = [...this.selected].sort((a, b) => at(a) - at(b));
    const body = { host, mode, version: this.tracks.version, ids };
    // An album listed whole goes by its ids: they outlast tags read meanwhile, an index not.
    const listed = this.tracks.rows.map((li) => li.vxId);
    if (!ids.length && this.album && listed.every(Number.isInteger)) body.ids = listed;
    else if (!ids.length && this.album) body.album = this.album.id;
    else if (!ids.length && this.query) body.filter = this.query;
    const { status, data } = await api('play', body);
    if (status === 200) {
      say(this.note, text(data.note));
      this.opened(host);
      return;
    }
    say(this.note, failure(status, data));
    if (status === 409) await this.load(true);
  }
}

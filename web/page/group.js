// The open speaker's group: its rooms, each room's own volume and mute, adding and leaving.

import { $, api, failure, say, text, asciiLower } from './net.js';

function volume(v) {
  const n = Number(v);
  return Number.isFinite(n) ? Math.min(100, Math.max(0, Math.round(n))) : 0;
}

export class Group {
  // speakers(): the speakers the page knows ({host, label}), to choose a room from; changed(): the group's
  // rooms changed (the speaker list labels its members).
  constructor(speakers, changed) {
    for (const id of ['group', 'group-status', 'room-list', 'add-room', 'room-form', 'room-choice',
      'room-name', 'room-add', 'room-cancel']) {
      this[id.replace(/-(\w)/g, (_, c) => c.toUpperCase())] = $(id);
    }
    this.speakers = speakers;
    this.changed = changed;
    this.host = '';
    this.rooms = [];
    this.addRoom.addEventListener('click', () => this.showForm(true));
    this.roomCancel.addEventListener('click', () => this.showForm(false));
    this.roomAdd.addEventListener('click', () => this.add());
    this.roomName.addEventListener('keydown', (e) => {
      if (e.key === 'Enter') this.add();
    });
  }

  // A new speaker: no group until it tells one (an older speaker never does).
  reset(host) {
    this.host = host;
    this.onGroup({ rooms: [], status: '' });
    this.showForm(false);
  }

  showForm(on) {
    this.roomForm.hidden = !on;
    this.addRoom.hidden = on;
    if (!on) return;
    // The other speakers by name (this computer too): not this room, not a room of the group
    // already, by its name or by the address the rooms know it by.
    const taken = new Set([this.host, ...this.rooms.flatMap((r) => [r.host, r.name])].map(asciiLower));
    const offered = this.speakers().filter((s) => !taken.has(asciiLower(s.host)) && !taken.has(asciiLower(s.address || '')));
    this.roomChoice.replaceChildren(...offered.map((s) => new Option(s.label, s.host)));
    this.roomName.value = '';
    // Clear of the play list's tool bar, which stays at the bottom of the screen.
    this.roomForm.scrollIntoView({ block: 'center' });
    this.roomChoice.focus({ preventScroll: true });
  }

  add() {
    // A typed name or address wins over the list, as it does for "Play on".
    const room = this.roomName.value.trim() || this.roomChoice.value;
    if (!room) return;
    this.showForm(false);
    this.send({ do: 'add', room });
  }

  // The rooms are drawn anew unless they are the same rooms; a bar the user holds keeps
  // the user's value.
  onGroup(d) {
    const rooms = Array.isArray(d.rooms) ? d.rooms.filter((r) => r && typeof r === 'object').map((r) => ({
      host: text(r.host), name: text(r.name) || text(r.host), volume: volume(r.volume),
      muted: r.muted === true, status: text(r.status),
    })) : [];
    this.group.hidden = rooms.length === 0;
    say(this.groupStatus, text(d.status));
    const same = rooms.length === this.rooms.length && rooms.every((r, i) => r.host === this.rooms[i].host);
    this.rooms = rooms;
    // A speaker alone shows no rooms: its own bar and mute are above.
    const shown = rooms.length > 1 ? rooms : [];
    if (!same || this.roomList.children.length !== shown.length) this.build(shown);
    const els = this.roomList.children;
    shown.forEach((r, i) => this.show(els[i], r));
    this.changed(rooms.length > 1 ? rooms : []);
  }

  build(rooms) {
    this.roomList.replaceChildren(...rooms.map((r) => {
      const li = document.createElement('li');
      li.vxHost = r.host;
      const name = li.appendChild(document.createElement('span'));
      name.className = 'room-name';
      const status = li.appendChild(document.createElement('span'));
      status.className = 'room-status';
      const bar = li.appendChild(document.createElement('input'));
      bar.type = 'range';
      bar.min = '0';
      bar.max = '100';
      bar.className = 'room-volume';
      bar.addEventListener('pointerdown', () => { li.vxHeld = true; });
      for (const up of ['pointerup', 'pointercancel']) bar.addEventListener(up, () => { li.vxHeld = false; });
      bar.addEventListener('change', () => {
        li.vxHeld = false;
        this.send({ do: 'volume', room: li.vxHost, value: bar.valueAsNumber });
      });
      const mute = li.appendChild(document.createElement('button'));
      mute.type = 'button';
      mute.className = 'room-mute';
      mute.textContent = 'Mute';
      mute.addEventListener('click', () => this.send({
        do: 'mute', room: li.vxHost, value: mute.getAttribute('aria-pressed') !== 'true',
      }));
      const leave = li.appendChild(document.createElement('button'));
      leave.type = 'button';
      leave.className = 'room-leave';
      leave.textContent = 'Leave Group';
      leave.addEventListener('click', () => this.send({ do: 'leave', room: li.vxHost }));
      return li;
    }));
  }

  show(li, r) {
    const [name, status, bar, mute, leave] = li.children;
    say(name, r.name);
    say(status, r.status);
    bar.setAttribute('aria-label', `Volume of ${r.name}`);
    if (!li.vxHeld && bar.valueAsNumber !== r.volume) bar.value = r.volume;
    mute.setAttribute('aria-pressed', r.muted ? 'true' : 'false');
    mute.setAttribute('aria-label', `Mute ${r.name}`);
    leave.setAttribute('aria-label', `${r.name}: Leave Group`);
  }

  async send(body) {
    if (!this.host) return;
    const { status, data } = await api('group', { host: this.host, ...body });
    if (status !== 200) say(this.groupStatus, failure(status, data));
  }
}

// "Kitchen (group: Kitchen, Hall)" for each option naming a room of rooms (unless its label
// from the computer marks it already).
export function labelMembers(select, rooms) {
  const members = rooms.map((r) => r.name).join(', ');
  const inGroup = new Set(rooms.flatMap((r) => [asciiLower(r.name), asciiLower(r.host)]));
  for (const o of select.options) {
    const base = o.dataset.label || o.value;
    const mark = rooms.length > 1 && inGroup.has(asciiLower(o.value)) && !base.includes(' (group: ');
    const label = mark ? `${base} (group: ${members})` : base;
    if (o.textContent !== label) o.textContent = label;
  }
}

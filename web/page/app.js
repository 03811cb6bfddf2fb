// The phone remote: the speaker to play on, the library view and the player view.

import { $, api, say, text } from './net.js';
import { Library } from './library.js';
import { Speaker } from './speaker.js';
import { Group, labelMembers } from './group.js';

const SpeakersEveryMs = 10000;
const Title = document.title;

const targetBox = $('target');
const nameBox = $('target-name');
// A typed name or address wins over the list while the field holds one.
const target = () => nameBox.value.trim() || targetBox.value;

const views = { library: $('library-view'), speaker: $('speaker-view') };
const tabs = { library: $('show-library'), speaker: $('show-speaker') };
// The speakers the page knows, and the open speaker's group shown in the list.
let members = [];
// Each as {host, label}: the label names it ("Kitchen (192.168.1.20)").
const known = () => Array.from(targetBox.options, (o) => ({ host: o.value, label: o.dataset.label || o.value, address: o.dataset.address }));
// A speaker's own name, else the host as given.
const nameOf = (host) => Array.from(targetBox.options).find((o) => o.value === host)?.dataset.name || host;
const group = new Group(known, (rooms) => {
  members = rooms;
  labelMembers(targetBox, members);
});
const speaker = new Speaker(group);
const library = new Library(target, openSpeaker);

function show(view) {
  for (const k of Object.keys(views)) {
    views[k].hidden = k !== view;
    if (k === view) tabs[k].setAttribute('aria-current', 'page');
    else tabs[k].removeAttribute('aria-current');
  }
  const host = view === 'speaker' ? speaker.host : '';
  document.title = host ? `${nameOf(host)} Player` : Title;
  // The address keeps the open player, so a reload comes back to it.
  history.replaceState(null, '', host ? `#${encodeURIComponent(host)}` : location.pathname);
}

function openSpeaker(host) {
  speaker.open(host);
  say($('speaker-host'), nameOf(host));
  show('speaker');
}

tabs.library.addEventListener('click', () => show('library'));
tabs.speaker.addEventListener('click', () => {
  if (!speaker.host) say(speaker.status, 'Choose a speaker above and open it.');
  show('speaker');
});

function openTarget() {
  const host = target();
  if (host) {
    openSpeaker(host);
  } else {
    say($('library-note'), 'Choose a speaker or type a name or address.');
    show('library');
  }
}
$('open-speaker').addEventListener('click', openTarget);
nameBox.addEventListener('keydown', (e) => {
  if (e.key === 'Enter') openTarget();
});

// The speakers: this computer first, then the computers presence knows.
let speakersAt = 0;
async function speakers() {
  speakersAt = Date.now();
  const { status, data } = await api('speakers');
  if (status !== 200 || !Array.isArray(data.speakers)) return;
  // Older copies send the hosts only.
  const labels = Array.isArray(data.labels) ? data.labels : [];
  const named = Array.isArray(data.names) ? data.names : [];
  const addressed = Array.isArray(data.addresses) ? data.addresses : [];
  const list = data.speakers.map((h, i) => ({ host: text(h), label: text(labels[i]) || text(h), name: text(named[i]),
    address: text(addressed[i]) }))
    .filter((s) => s.host !== '');
  const now = Array.from(targetBox.options, (o) => [o.value, o.dataset.label, o.dataset.name, o.dataset.address]);
  if (list.length === now.length && list.every((s, i) => s.host === now[i][0] && s.label === now[i][1] && s.name === now[i][2] && s.address === now[i][3])) return;
  const keep = targetBox.value;
  targetBox.replaceChildren(...list.map((s) => {
    const o = new Option(s.label, s.host);
    o.dataset.label = s.label;
    o.dataset.name = s.name;
    o.dataset.address = s.address;
    return o;
  }));
  if (list.some((s) => s.host === keep)) targetBox.value = keep;
  labelMembers(targetBox, members);
  if (speaker.host && !views.speaker.hidden) {
    say($('speaker-host'), nameOf(speaker.host));
    document.title = `${nameOf(speaker.host)} Player`;
  }
}
targetBox.addEventListener('focus', () => {
  if (Date.now() - speakersAt > 1000) speakers();
});
setInterval(() => {
  if (!document.hidden) speakers();
}, SpeakersEveryMs);
document.addEventListener('visibilitychange', () => {
  if (!document.hidden && Date.now() - speakersAt > SpeakersEveryMs) speakers();
});

// "#kitchen" in the address only chooses that speaker: any page may link here, so opening it
// takes the user's tap.
function chooseFromAddress() {
  let host = '';
  try {
    host = decodeURIComponent(location.hash.slice(1)).trim();
  } catch {
    // a broken address chooses nothing
  }
  if (!host || host === speaker.host) return;
  nameBox.value = host;
  say($('library-note'), `Tap Open to show ${host}.`);
  $('open-speaker').focus();
}
window.addEventListener('hashchange', chooseFromAddress);

speakers();
library.load();
chooseFromAddress();

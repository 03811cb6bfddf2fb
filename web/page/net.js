// Talking to this computer's web remote, and small helpers every view uses.

export const $ = (id) => document.getElementById(id);

const Api = '/vx-remote/api/';

// GET when body is undefined (cache: the fetch's cache mode), else POST of body as JSON.
// Never throws: a network failure is status 0. data is always an object (what the server
// said, or empty).
export async function api(path, body, cache = 'no-store') {
  const init = body === undefined
    ? { cache }
    : { method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify(body) };
  let res;
  try {
    res = await fetch(Api + path, init);
  } catch {
    return { status: 0, data: {} };
  }
  let data = null;
  try {
    data = await res.json();
  } catch {
    // not JSON: treated as nothing said
  }
  return { status: res.status, data: data && typeof data === 'object' && !Array.isArray(data) ? data : {} };
}

// The text to show for a failed answer.
export function failure(status, data) {
  if (typeof data.error === 'string' && data.error) return data.error;
  return status ? `The remote answered ${status}.` : `No connection to ${location.host}.`;
}

// The event stream of a watch the page opened by POST.
export function eventsUrl(stream) {
  return `${Api}events?stream=${encodeURIComponent(stream)}`;
}

// Text into an element, touching the DOM only on a change (live regions speak on change).
export function say(el, text) {
  if (el.textContent !== text) el.textContent = text;
}

// Lower-cases A to Z only: a match never depends on the browser's locale.
export function asciiLower(s) {
  return /^[\x00-\x7f]*$/.test(s) ? s.toLowerCase() : s.replace(/[A-Z]+/g, (m) => m.toLowerCase());
}

export function tracks(n) {
  return n === 1 ? '1 track' : `${n} tracks`;
}

export function text(v) {
  return typeof v === 'string' ? v : v == null ? '' : String(v);
}

// Rows go into blocks of BlockRows. A block off screen is neither laid out nor painted
// (content-visibility), so ten thousand rows list, filter and rebuild about as fast as a
// screenful; rows have one fixed height (rowPx), so a block's size is known unrendered.
const BlockRows = 100;

export function blocks(rows, rowPx, perLine = 1) {
  const frag = document.createDocumentFragment();
  const out = [];
  for (let i = 0; i < rows.length; i += BlockRows) {
    const block = document.createElement('div');
    block.className = 'block';
    block.setAttribute('role', 'none');
    const part = rows.slice(i, i + BlockRows);
    block.append(...part);
    sizeBlock(block, part.length, rowPx, perLine);
    frag.append(block);
    out.push(block);
  }
  return { frag, blocks: out };
}

// perLine: rows side by side (a grid of tiles rowPx high).
export function sizeBlock(block, shown, rowPx, perLine = 1) {
  block.hidden = shown === 0;
  block.style.containIntrinsicSize = `none ${Math.ceil(shown / perLine) * rowPx}px`;
}

// Rows fetched by range as their block comes near the screen. fetch(from, count) resolves to
// how many rows it filled: fewer than asked is an answer's size bound, so it asks again; none
// is a failure, and the block is asked for again when it next comes near.
export class Pages {
  constructor(fetch) {
    this.fetch = fetch;
    this.generation = 0;
    this.observer = new IntersectionObserver((entries) => {
      for (const e of entries) if (e.isIntersecting) this.want(e.target.vxBlock);
    }, { rootMargin: '1500px 0px' });
    this.reset([], 0);
  }

  reset(made, count) {
    this.observer.disconnect();
    this.generation++;
    this.count = count;
    this.done = made.map(() => false); // per block: filled or asked for
    made.forEach((block, b) => {
      block.vxBlock = b;
      this.observer.observe(block);
    });
  }

  // Rows from on, n of them, arrived.
  filled(from, n) {
    for (let b = Math.ceil(from / BlockRows); b < this.done.length; b++) {
      if (Math.min(this.count, (b + 1) * BlockRows) > from + n) break;
      this.done[b] = true;
    }
  }

  async want(b) {
    if (this.done[b] !== false) return;
    this.done[b] = true;
    const generation = this.generation;
    const end = Math.min(this.count, (b + 1) * BlockRows);
    for (let from = b * BlockRows; from < end && generation === this.generation;) {
      const n = await this.fetch(from, end - from);
      if (generation !== this.generation) return;
      if (!n) {
        this.done[b] = false;
        return;
      }
      from += n;
    }
  }
}

// A list of the library's answers (tracks, artists or albums) shown by range: show(path) asks
// its first page, the rest come as they scroll near. make(): a new row; put(li, item): an
// item into a row. stale(): an answer said the library has changed.
export class PagedList {
  constructor(list, key, rowPx, make, put, stale) {
    Object.assign(this, { list, key, rowPx, make, put, stale });
    this.rows = [];
    this.path = null;
    this.version = null;
    this.total = 0;
    this.perLine = 1;
    this.asked = 0;
    this.pages = new Pages((from, count) => this.fetchRows(from, count));
  }

  // version: the one the path's ids come from (none: the newest). The answer's status; an
  // answer overtaken by a later show is dropped (0).
  async show(path, version, perLine = 1) {
    const asked = ++this.asked;
    const v = version === undefined ? '' : `&version=${encodeURIComponent(version)}`;
    const { status, data } = await api(`${path}&from=0${v}`, undefined, 'no-cache');
    if (asked !== this.asked) return { status: 0, data };
    if (status === 200) this.build(path, data, perLine);
    return { status, data };
  }

  async fetchRows(from, count) {
    const { path, version } = this;
    const { status, data } = await api(
      `${path}&from=${from}&count=${count}&version=${encodeURIComponent(version)}`,
      undefined, 'no-cache');
    if (path !== this.path || version !== this.version) return 0;
    if (status === 409) this.stale();
    return status === 200 ? this.fill(data) : 0;
  }

  build(path, data, perLine) {
    const n = Number.isInteger(data.count) && data.count >= 0 ? data.count : 0;
    this.rows = new Array(n);
    for (let i = 0; i < n; i++) {
      const li = this.make();
      li.vxAt = i;
      this.rows[i] = li;
    }
    Object.assign(this, { path, perLine, version: data.version });
    this.total = Number.isInteger(data.total) ? data.total : n;
    const { frag, blocks: made } = blocks(this.rows, this.rowPx, perLine);
    this.list.replaceChildren(frag);
    this.pages.reset(made, n);
    this.fill(data);
  }

  // A page arrived; how many rows it filled.
  fill(data) {
    const { from } = data;
    const items = data[this.key];
    if (!Number.isInteger(from) || !Array.isArray(items)) return 0;
    const n = Math.max(0, Math.min(items.length, this.rows.length - from));
    for (let k = 0; k < n; k++) this.put(this.rows[from + k], Array.isArray(items[k]) ? items[k] : []);
    this.pages.filled(from, n);
    return n;
  }
}

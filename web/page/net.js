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

export function blocks(rows, rowPx) {
  const frag = document.createDocumentFragment();
  const out = [];
  for (let i = 0; i < rows.length; i += BlockRows) {
    const block = document.createElement('div');
    block.className = 'block';
    block.setAttribute('role', 'none');
    const part = rows.slice(i, i + BlockRows);
    block.append(...part);
    sizeBlock(block, part.length, rowPx);
    frag.append(block);
    out.push(block);
  }
  return { frag, blocks: out };
}

export function sizeBlock(block, shown, rowPx) {
  block.hidden = shown === 0;
  block.style.containIntrinsicSize = `none ${shown * rowPx}px`;
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

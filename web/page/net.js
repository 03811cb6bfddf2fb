// Talking to this computer's web remote, and small helpers every view uses.

export const $ = (id) => document.getElementById(id);

const Api = '/vx-remote/api/';

// GET when body is undefined, else POST of body as JSON. Never throws: a network failure is
// status 0. data is always an object (what the server said, or empty).
export async function api(path, body) {
  const init = body === undefined
    ? { cache: 'no-store' }
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

export function blockOf(row) {
  return Math.floor(row / BlockRows);
}

export function sizeBlock(block, shown, rowPx) {
  block.hidden = shown === 0;
  block.style.containIntrinsicSize = `none ${shown * rowPx}px`;
}

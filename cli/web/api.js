// The server's API. Every picture the page shows comes from here.

// Names this page to the server, which queues a page's frames and drops a
// waiting one when a newer one for the same picture comes.
export const pageId = Math.random().toString(36).slice(2, 10);

// A frame the server could not take now (503): shown as stale, asked again.
export class Busy extends Error {
  constructor(message, seconds) { super(message); this.seconds = seconds; }
}

async function checked(res) {
  if (!res.ok) throw new Error((await res.text()).trim() || res.statusText);
  return res;
}

export const getJSON = async (path) => (await checked(await fetch(path))).json();

export async function fetchFrame(url, view) {
  const res = await fetch(url, { headers: { 'X-Pennaro-View': pageId + '/' + view } });
  if (res.status === 503) throw new Busy(await res.text(), Number(res.headers.get('Retry-After')) || 1);
  await checked(res);
  return res.blob();
}

// The edited drawing replaces the one served; its description (with the
// new revision) comes back.
export async function putDrawing(index, drawing) {
  const res = await fetch('/api/drawing?drawing=' + index, {
    method: 'PUT', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify(drawing),
  });
  return (await checked(res)).json();
}

export async function saveDrawing(index, name) {
  const res = await fetch(`/api/save?drawing=${index}&name=${encodeURIComponent(name)}`, { method: 'POST' });
  return (await checked(res)).json();
}

// Line art through the server's SVG import (its default settings): the
// drawing it makes, in the JSON form. Nothing served changes until the
// page sends it back as an edit.
export async function importSvg(file) {
  const res = await fetch('/api/import.svg?name=' + encodeURIComponent(file.name), {
    method: 'POST', headers: { 'Content-Type': 'image/svg+xml' }, body: file,
  });
  return (await checked(res)).json();
}

// The drawing as served, exported as `pennaro export` writes it: the file,
// the name the server gives it, and what the format could not carry.
export async function fetchExport(format, query) {
  const res = await checked(await fetch(`/api/export.${format === 'svg' ? 'svg' : 'lottie.json'}?${query}`));
  const named = /filename="([^"]+)"/.exec(res.headers.get('Content-Disposition') || '');
  return { blob: await res.blob(), name: named ? named[1] : 'drawing', notes: res.headers.get('X-Pennaro-Notes') || '' };
}

// The drawing in open formats: SVG line art dropped on the page (or chosen)
// becomes the drawing, as an edit that undo takes back; the drawing with
// its edits downloads as SVG of the frame shown or as Lottie.
import { $, state } from './state.js';
import { importSvg, fetchExport } from './api.js';
import { edit, sent } from './edits.js';
import { refitSheet } from './timeline.js';
import { showError, status } from './controls.js';

const isSvg = (file) => file.type === 'image/svg+xml' || /\.svg$/i.test(file.name);

export async function importFile(file) {
  if (!isSvg(file)) { showError(`${file.name}: only SVG line art can be dropped here`); return; }
  let drawing;
  try {
    drawing = await importSvg(file);
  } catch (e) {
    showError(String(e.message || e));
    return;
  }
  showError('');
  state.selection.clear();
  refitSheet();
  edit((d) => {
    for (const key of Object.keys(d)) delete d[key];
    Object.assign(d, drawing);
  });
  status(`${file.name}: ${drawing.strokes.length} strokes imported (Undo takes them back)`);
}

// The settings that change what an export shows, as the frame requests
// name them; the page's frame in the shot's numbers.
function exportQuery() {
  const q = new URLSearchParams({ drawing: String(state.index), frame: String(state.frame) });
  const all = { 'frame-offset': String(state.server.frameOffset), fps: state.server.fps, ...state.a };
  for (const k of ['frame-offset', 'fps', 'size', 'playback-mode', 'playback-speed'])
    if (all[k] !== undefined && all[k] !== '') q.set(k, all[k]);
  return q.toString();
}

async function download(format) {
  const button = $(format === 'svg' ? 'exportSvg' : 'exportLottie');
  button.disabled = true;
  try {
    await sent();  // the server has every edit
    const { blob, name, notes } = await fetchExport(format, exportQuery());
    const a = document.createElement('a');
    a.href = URL.createObjectURL(blob);
    a.download = name;
    document.body.append(a);
    a.click();
    a.remove();
    setTimeout(() => URL.revokeObjectURL(a.href), 60000);
    status(`downloaded ${name}` + (notes ? ` (${notes})` : ''));
  } catch (e) {
    showError(String(e.message || e));
  } finally {
    button.disabled = false;
  }
}

export function wireFormats() {
  $('importButton').onclick = () => $('importSvg').click();
  $('importSvg').onchange = () => {
    const file = $('importSvg').files[0];
    $('importSvg').value = '';
    if (file) importFile(file);
  };
  // A file dropped anywhere on the page; anything else dropped (text,
  // links) is left to the browser.
  const hasFile = (e) => e.dataTransfer && [...e.dataTransfer.types].includes('Files');
  document.addEventListener('dragover', (e) => { if (hasFile(e)) e.preventDefault(); });
  document.addEventListener('drop', (e) => {
    if (!hasFile(e)) return;
    e.preventDefault();
    const file = e.dataTransfer.files[0];
    if (file) importFile(file);
  });
  $('exportSvg').onclick = () => download('svg');
  $('exportLottie').onclick = () => download('lottie');
}

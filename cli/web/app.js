// The page of `pennaro serve`: loads what the server offers, wires the
// modules together and the keyboard. Every frame shown is a PNG the effect
// rendered on the server.
import { $, state, on, fpsValue, playbackSpeed } from './state.js';
import { getJSON } from './api.js';
import { edit, undo, redo, loaded } from './edits.js';
import { requestFrames, applyView, fit, zoomAt, enterCompare } from './viewport.js';
import { setFrame, updateTimeline, togglePlay, drawSheet, placeNow, wireSheet, refitSheet } from './timeline.js';
import { drawMode, penDown, penMove, penUp, penIsDown, clearGuide } from './pen.js';
import { buildControls, showCommand, showError, status, save } from './controls.js';
import { wireFormats } from './formats.js';

function updateButtons() {
  $('undo').disabled = !state.undo.length;
  $('redo').disabled = !state.redo.length;
  $('deleteStroke').disabled = $('earlier').disabled = $('later').disabled = !state.selection.size;
}

async function loadDrawing() {
  state.drawing = await getJSON('/api/drawing.json?drawing=' + state.index);
  loaded();
  state.undo = []; state.redo = []; state.selection.clear();
  state.edited = false; state.saved = null;
  refitSheet();
  updateTimeline();
  drawSheet();
  updateButtons();
}

// Nudges the selected strokes by whole frames, the earliest kept at 0 or later.
function moveSelected(frames) {
  if (!state.selection.size) return;
  edit((d) => {
    const chosen = d.strokes.filter((s) => state.selection.has(s.strokeId));
    const dt = Math.max(frames * playbackSpeed() / fpsValue(), -Math.min(...chosen.map((s) => s.startTime)));
    for (const s of chosen) s.startTime += dt;
  });
}

function deleteSelected() {
  if (!state.selection.size) return;
  const chosen = new Set(state.selection);
  state.selection.clear();
  edit((d) => { d.strokes = d.strokes.filter((s) => !chosen.has(s.strokeId)); });
}

// J, K, L: backwards, stop, forwards.
function shuttle(direction) {
  if (state.playing) togglePlay();
  if (direction) togglePlay(direction);
}

function wireViewport() {
  const vp = $('viewport');
  let drag = null;
  vp.addEventListener('pointerdown', (e) => {
    vp.focus();
    if (penDown(e)) { vp.setPointerCapture(e.pointerId); return; }
    drag = { x: e.clientX - state.panX, y: e.clientY - state.panY };
    vp.setPointerCapture(e.pointerId);
  });
  vp.addEventListener('pointermove', (e) => {
    if (penIsDown()) penMove(e);
    else if (drag) { state.panX = e.clientX - drag.x; state.panY = e.clientY - drag.y; applyView(); }
  });
  const end = () => { if (penIsDown()) penUp(); drag = null; };
  vp.addEventListener('pointerup', end);
  vp.addEventListener('pointercancel', end);
  vp.addEventListener('wheel', (e) => {
    e.preventDefault();
    const r = vp.getBoundingClientRect();
    zoomAt(e.deltaY < 0 ? 1.15 : 1 / 1.15, e.clientX - r.left, e.clientY - r.top);
  }, { passive: false });
  window.addEventListener('resize', () => { if (state.fitted) fit(); });
}

function wireControls() {
  $('scrub').addEventListener('input', () => setFrame(Number($('scrub').value)));
  $('play').onclick = () => togglePlay();
  $('prev').onclick = () => setFrame(state.frame - 1);
  $('next').onclick = () => setFrame(state.frame + 1);
  $('fit').onclick = fit;
  $('helpButton').onclick = () => $('help').showModal();
  $('dopeSheet').addEventListener('pointerup', updateButtons);
  $('quality').onchange = () => { requestFrames(); showCommand(); };
  $('compare').onchange = enterCompare;
  $('wipe').oninput = applyView;
  $('snapshot').onclick = () => {
    state.b = { ...state.a };
    if ($('compare').value === 'off') $('compare').value = 'side';
    status('kept the current settings as B');
    enterCompare();
  };
  $('drawing').onchange = async () => {
    state.index = Number($('drawing').value);
    await loadDrawing();
    setFrame(state.range[0]);
  };
  document.querySelectorAll('input[name=mode]').forEach((r) => r.addEventListener('change', () => {
    $('viewport').classList.toggle('drawing', drawMode());
    if (drawMode()) $('brushPanel').open = true;
  }));
  $('undo').onclick = undo;
  $('redo').onclick = redo;
  $('deleteStroke').onclick = deleteSelected;
  $('earlier').onclick = () => moveSelected(-1);
  $('later').onclick = () => moveSelected(1);
  $('save').onclick = save;
  $('saveName').oninput = showCommand;
  $('downloadJson').onclick = () => {
    const blob = new Blob([JSON.stringify(state.drawing, null, 1)], { type: 'application/json' });
    $('downloadJson').href = URL.createObjectURL(blob);
  };
  $('downloadBin').onclick = () => { $('downloadBin').href = '/api/drawing.bin?drawing=' + state.index; };
}

function wireKeys() {
  const vp = $('viewport');
  document.addEventListener('keydown', (e) => {
    if (e.target.matches('input:not([type=range]):not([type=radio]):not([type=checkbox]), select, textarea')) return;
    const k = e.key, ctrl = e.ctrlKey || e.metaKey;
    if (ctrl && k.toLowerCase() === 'z') (e.shiftKey ? redo : undo)();
    else if (ctrl && k === 'y') redo();
    else if (k === ' ') togglePlay();
    else if (k === 'j' || k === 'k' || k === 'l') shuttle({ j: -1, k: 0, l: 1 }[k]);
    else if (k === '?') $('help').showModal();
    else if (k === 'ArrowLeft') setFrame(state.frame - (e.shiftKey ? 10 : 1));
    else if (k === 'ArrowRight') setFrame(state.frame + (e.shiftKey ? 10 : 1));
    else if (k === 'Home') setFrame(state.range[0]);
    else if (k === 'End') setFrame(state.range[1]);
    else if (k === 'f') fit();
    else if (k === '+' || k === '=') zoomAt(1.25, vp.clientWidth / 2, vp.clientHeight / 2);
    else if (k === '-') zoomAt(0.8, vp.clientWidth / 2, vp.clientHeight / 2);
    else if (k === 'Delete' || k === 'Backspace') deleteSelected();
    else return;
    e.preventDefault();
  });
}

// The guide of a stroke just drawn stays until the frame changes.
on('frame', () => { if (!penIsDown()) clearGuide(); placeNow(); showCommand(); requestFrames(); });
on('settings', () => {
  applyView(); updateTimeline(); drawSheet(); showCommand(); requestFrames(); });
on('drawing', ({ stacking }) => {
  updateTimeline();
  drawSheet();
  updateButtons();
  showCommand();
  if (stacking) status('the stacking changed: strokes now paint in a new order');
  requestFrames();
});
on('sent', () => { updateTimeline(); });
on('error', (text) => showError(text));
on('status', (text) => status(text, 'bad'));

async function start() {
  const [drawings, meta, server] = await Promise.all([getJSON('/api/drawings'), getJSON('/api/params'),
    getJSON('/api/settings')]);
  Object.assign(state.server, server);
  state.drawings = drawings;
  state.params = meta.params;
  state.prefs = meta.prefs;
  drawings.forEach((d, i) => $('drawing').add(new Option(`${d.name} (${d.strokes} strokes)`, i)));
  buildControls();
  wireViewport();
  wireControls();
  wireKeys();
  wireSheet();
  wireFormats();
  await loadDrawing();
  setFrame(state.range[0]);
}

start().catch((e) => showError('the page could not start: ' + e.message));

// Edits of the drawing: each one is kept for undo, rounded to what the
// drawing stores (32-bit floats, starts at 0 or later, the duration the
// last sample's time) and sent to the server once.
import { state, emit } from './state.js';
import { putDrawing } from './api.js';

let sending = Promise.resolve();
// Resolves once the server has the latest edit, so that no frame is asked
// for an older revision.
export const sent = () => sending;

// The order the effect paints strokes in: by start time, then by id.
export const drawOrder = (strokes) =>
  strokes.slice().sort((p, q) => p.startTime - q.startTime || p.strokeId - q.strokeId);
const orderKey = (d) => drawOrder(d.strokes).map((s) => s.strokeId).join(',');

export function roundStroke(s) {
  const f = Math.fround;
  s.startTime = Math.max(0, f(s.startTime));
  let t = 0;
  for (const p of s.points) {
    // Sample times never run backwards.
    t = p[0] = Math.max(t, f(p[0]));
    p[1] = f(p[1]); p[2] = f(p[2]); p[3] = f(p[3]);
  }
  s.duration = s.points.length ? s.points[s.points.length - 1][0] : 0;
  return s;
}

// The drawing as the server last took it: an edit it refuses is taken
// back, so that the page never shows what it could not render or save.
let accepted = null;
export const loaded = () => { accepted = JSON.stringify(state.drawing); };

function send() {
  const index = state.index, body = JSON.stringify(state.drawing);
  sending = sending.then(() => putDrawing(index, JSON.parse(body))).then((described) => {
    state.drawings[index] = described;
    accepted = body;
    emit('sent');
  }).catch((e) => {
    emit('status', 'the edit was refused and taken back: ' + e.message);
    if (state.index !== index || accepted === null) return;
    state.drawing = JSON.parse(accepted);
    state.undo.pop();
    state.redo = [];
    emit('drawing', { stacking: false });
  });
  return sending;
}

function changedDrawing(before) {
  state.edited = true;
  state.saved = null;
  const stacking = before !== orderKey(state.drawing);
  const done = send();
  emit('drawing', { stacking });
  return done;
}

// Applies `change` to the drawing (strokes rounded afterwards).
export function edit(change) {
  const before = orderKey(state.drawing);
  state.undo.push(JSON.stringify(state.drawing));
  state.redo = [];
  change(state.drawing);
  state.drawing.strokes.forEach(roundStroke);
  return changedDrawing(before);
}

function step(from, to) {
  if (!from.length) return;
  const before = orderKey(state.drawing);
  to.push(JSON.stringify(state.drawing));
  state.drawing = JSON.parse(from.pop());
  const ids = new Set(state.drawing.strokes.map((s) => s.strokeId));
  for (const id of [...state.selection]) if (!ids.has(id)) state.selection.delete(id);
  return changedDrawing(before);
}
export const undo = () => step(state.undo, state.redo);
export const redo = () => step(state.redo, state.undo);

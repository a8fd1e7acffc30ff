// Drawing with a pen or mouse. The page never paints a stroke itself:
// while the pen is down (and until the frame changes) a thin guide shows
// the path as drawn, over the frame and never in it; the stroke itself is
// the effect's render once it arrives.
import { $, state, frameTime } from './state.js';
import { edit } from './edits.js';

export const drawMode = () => document.querySelector('input[name=mode]:checked').value === 'draw';
let pen = null;
export const penIsDown = () => pen !== null;

export function brush() {
  const c = $('brushColor').value;
  return {
    red: parseInt(c.slice(1, 3), 16) / 255, green: parseInt(c.slice(3, 5), 16) / 255, blue: parseInt(c.slice(5, 7), 16) / 255,
    opacity: Number($('brushOpacity').value), size: Number($('brushSize').value),
    brushMode: Number($('brushKind').value) + Number($('brushErase').value),
    softness: Number($('brushSoftness').value),
    pressureFlags: ($('pressureSize').checked ? 1 : 0) + ($('pressureOpacity').checked ? 2 : 0),
  };
}

function sample(e) {
  const r = $('frameA').getBoundingClientRect();
  // Fractions of the layer, as the drawing stores positions.
  const x = (e.clientX - r.left) / r.width, y = (e.clientY - r.top) / r.height;
  const pressure = e.pointerType === 'mouse' ? (e.buttons ? 1 : 0) : e.pressure;
  return [Math.max(0, (e.timeStamp - pen.t0) / 1000), x, y, pressure];
}

export function clearGuide() { $('guide').textContent = ''; }

export function penDown(e) {
  if (!drawMode() || !state.drawing || e.button !== 0) return false;
  pen = { t0: e.timeStamp, points: [], frame: state.frame };
  pen.points.push(sample(e));
  const line = document.createElementNS('http://www.w3.org/2000/svg', 'polyline');
  $('guide').setAttribute('viewBox', '0 0 1 1');
  $('guide').setAttribute('preserveAspectRatio', 'none');
  clearGuide();
  $('guide').append(line);
  pen.line = line;
  return true;
}

export function penMove(e) {
  const events = e.getCoalescedEvents ? e.getCoalescedEvents() : [];
  for (const c of (events.length ? events : [e])) pen.points.push(sample(c));
  pen.line.setAttribute('points', pen.points.map((p) => p[1] + ',' + p[2]).join(' '));
}

// The stroke starts at the drawing time of the frame it was drawn on and
// lasts as drawn, or the fixed duration chosen.
export function penUp() {
  const points = pen.points, frame = pen.frame;
  pen = null;
  const fixed = Number($('strokeDuration').value);
  const drawn = points[points.length - 1][0];
  if (fixed > 0 && drawn > 0) for (const p of points) p[0] = p[0] * fixed / drawn;
  return edit((d) => {
    const id = d.strokes.reduce((m, s) => Math.max(m, s.strokeId + 1), 0);
    d.strokes.push({
      strokeId: id, startTime: Math.max(0, frameTime(frame)), duration: 0, brush: brush(),
      drawCount: 0, selected: 0, points,
    });
    state.selection = new Set([id]);
  });
}

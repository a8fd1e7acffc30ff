// The side panel: the effect's parameters, layer and time, preferences,
// the brush, saving, and the command line that renders what is shown.
import { $, state, emit, optionPairs, firstFrame } from './state.js';
import { saveDrawing } from './api.js';

const layerDefaults = () => ({ size: '1920x1080', background: 'transparent', depth: '8', fps: state.server.fps });

// Status messages fade after a while; errors stay in their own line until
// the next frame arrives.
let statusTimer = 0;
export function status(text, kind = 'ok') {
  const s = $('status');
  s.textContent = text;
  s.className = kind;
  clearTimeout(statusTimer);
  if (text) statusTimer = setTimeout(() => s.classList.add('faded'), 4000);
}
export function showError(text) {
  $('error').textContent = text.trim();
  $('error').title = text.trim();
}

function shellQuote(s) { return /^[\w.,\/#:=+-]+$/.test(s) ? s : "'" + s.replace(/'/g, "'\\''") + "'"; }

// The line that renders what frame A shows: the drawing as saved (or what
// to save first), every option that changes the pixels.
export function commandLine() {
  const d = state.drawings[state.index];
  const drawingName = state.saved ? state.saved.json : state.edited ? $('saveName').value + '.json' : d ? d.name : 'DRAWING';
  const parts = ['pennaro render', shellQuote(drawingName), '--frames', String(state.frame)];
  const prefs = {};
  for (const [k, v] of optionPairs(state.a)) {
    if (k.startsWith('pref.')) prefs[k.slice(5)] = Number(v);
    else parts.push('--' + k, shellQuote(v));
  }
  if (state.server.layer) parts.push('--layer', shellQuote(state.server.layer));
  if ($('quality').value !== '1/1') parts.push('--downsample', $('quality').value);
  if (Object.keys(prefs).length) parts.push('--prefs', 'prefs.json');
  return { line: parts.join(' ') + ' -o frame_####.png', prefs };
}

export function showCommand() {
  const { line, prefs } = commandLine();
  let text = line;
  if (Object.keys(prefs).length) text += '\n\nprefs.json:\n' + JSON.stringify(prefs, null, 1);
  $('command').textContent = text;
  const note = $('commandNote');
  if (state.edited) {
    note.textContent = state.server.canSave
      ? `The drawing has unsaved edits: save it as "${$('saveName').value}" first (Save, below).`
      : 'The drawing has unsaved edits: download it as JSON first (the server has no --save-dir).';
    note.className = 'warn';
  } else {
    note.textContent = state.saved ? 'The drawing as saved.' : 'The drawing as the server was started with it.';
    note.className = '';
  }
}

function control(label, input) {
  const l = document.createElement('label');
  l.append(label, input);
  return l;
}

function setOption(name, value, defaultValue) {
  if (value === defaultValue || value === '') delete state.a[name]; else state.a[name] = value;
  emit('settings');
}

export function buildControls() {
  const box = $('params');
  box.textContent = '';
  for (const p of state.params) {
    let input;
    if (p.kind === 'popup') {
      input = document.createElement('select');
      p.choices.forEach((c, i) => {
        if (c.startsWith('(-')) return;
        const o = new Option(c, c);
        if (i + 1 === p.default) o.selected = true;
        input.add(o);
      });
    } else if (p.kind === 'checkbox') {
      input = document.createElement('input');
      input.type = 'checkbox';
      input.checked = p.default;
    } else {
      input = document.createElement('input');
      input.type = 'number';
      input.min = p.min; input.max = p.max; input.step = 'any';
      input.value = p.default;
    }
    const def = p.kind === 'checkbox' ? (p.default ? 'on' : 'off') : p.kind === 'popup' ? p.choices[p.default - 1] : String(p.default);
    input.id = 'param-' + p.option;
    input.addEventListener('change', () =>
      setOption(p.option, input.type === 'checkbox' ? (input.checked ? 'on' : 'off') : input.value, def));
    box.append(control(p.option.replace(/-/g, ' '), input));
  }
  const layer = $('layerControls');
  layer.textContent = '';
  const defaults = layerDefaults();
  const fields = state.server.layer ? ['depth', 'fps'] : ['size', 'background', 'depth', 'fps'];
  for (const name of fields) {
    let input;
    if (name === 'background' || name === 'depth') {
      input = document.createElement('select');
      for (const v of name === 'depth' ? ['8', '16'] : state.server.backgrounds) input.add(new Option(v, v));
    } else {
      input = document.createElement('input');
      input.size = 10;
    }
    input.id = 'layer-' + name;
    input.value = defaults[name];
    input.addEventListener('change', () => setOption(name, input.value, defaults[name]));
    layer.append(control(name, input));
  }
  const prefs = $('prefs');
  prefs.textContent = '';
  for (const p of state.prefs) {
    if (!p.key.startsWith('Onion')) continue;
    const input = document.createElement('input');
    input.type = 'number';
    input.step = p.integer ? '1' : '0.05';
    // Shown as typed: a 32-bit default such as 0.3501 reads 0.350100004... in full.
    const shown = String(Number(p.default.toPrecision(7)));
    input.value = shown;
    input.addEventListener('change', () => setOption('pref.' + p.key, input.value, shown));
    prefs.append(control(p.key.replace('Onion skin - ', ''), input));
  }
  const kinds = $('brushKind');
  kinds.textContent = '';
  for (const k of state.server.brushKinds) kinds.add(new Option(k.name, k.mode));
  kinds.selectedIndex = Math.min(1, kinds.options.length - 1);
  $('brushErase').options[1].value = state.server.eraseMode;
  $('frameText').textContent = 'frame ' + firstFrame();
}

export async function save() {
  try {
    const paths = await saveDrawing(state.index, $('saveName').value);
    state.saved = paths;
    state.edited = false;
    status('saved ' + paths.json + ' and ' + paths.block);
  } catch (e) {
    status(e.message, 'bad');
  }
  showCommand();
}

// The page around the program: loads the show's files (site.json lists them) with a progress
// bar, decodes the music with the browser's own decoder, waits for a click (browsers play sound
// only after one) and starts the program, which draws on the canvas through WebGL 2. It keeps
// the canvas at the picture's aspect and at device pixels, and lends the program the browser's
// image decoder and text drawing.
//
// ?at=SECONDS: the still mode for machines. No click, no sound: the program runs the show on its
// virtual clock to that time and the frame lands in <img id="qm-frame"> as a PNG data URL, with
// <body data-state="done">. Any failure gives data-state="failed" and the text in #qm-error.
// &press=KEY@SECONDS (repeatable) and &fps=N are passed on as the program's flags.
(function () {
  'use strict';

  const $ = (id) => document.getElementById(id);
  const params = new URLSearchParams(location.search);
  const still = params.has('at');
  const canvas = $('qm-canvas');
  const errorLines = [];
  let dialogText = '';
  let over = false;

  function setState(state) { document.body.dataset.state = state; }

  function showOverlay(status) {
    $('qm-overlay').hidden = false;
    $('qm-status').textContent = status;
    $('qm-progress').hidden = true;
    $('qm-start').hidden = true;
  }

  function fail(text) {
    if (over) return;
    over = true;
    showOverlay('');
    $('qm-error').textContent = text;
    setState('failed');
    if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
  }

  // ---- the canvas: the program draws on it through WebGL 2 ----

  if (!document.createElement('canvas').getContext('webgl2')) {
    fail('Quillmere needs WebGL 2, which this browser does not offer.');
    return;
  }

  // The canvas fills the window with the picture's aspect kept, at device pixels; the still
  // mode draws at the picture's own size.
  function fitCanvas() {
    if (still) return;
    const ratio = window.devicePixelRatio || 1;
    const scale = Math.min(innerWidth / 640, innerHeight / 480);
    const cssWidth = Math.floor(640 * scale), cssHeight = Math.floor(480 * scale);
    canvas.style.width = cssWidth + 'px';
    canvas.style.height = cssHeight + 'px';
    canvas.width = Math.max(1, Math.round(cssWidth * ratio));
    canvas.height = Math.max(1, Math.round(cssHeight * ratio));
  }

  window.addEventListener('resize', fitCanvas);
  fitCanvas();

  // ---- frame rate from the music's start: printed on the page's console at the end ----
  const presentTimes = [];
  // Milliseconds from an animation frame's start to the program's next present: its own work.
  const busyTimes = [];
  let frameStart = 0;

  function frameShown(keep) {
    if (!still) {
      const now = performance.now();
      presentTimes.push(now);
      if (frameStart > 0) busyTimes.push(now - frameStart);
    }
    if (keep) {
      $('qm-frame').src = canvas.toDataURL('image/png');
      setState('done');
    }
  }

  function frameStats() {
    if (presentTimes.length < 2) return null;
    const rates = [];
    for (let i = 1; i < presentTimes.length; ++i) {
      const ms = presentTimes[i] - presentTimes[i - 1];
      if (ms > 0) rates.push(1000 / ms);
    }
    rates.sort((a, b) => a - b);
    const busy = busyTimes.slice().sort((a, b) => a - b);
    const seconds = (presentTimes[presentTimes.length - 1] - presentTimes[0]) / 1000;
    return {
      frames: presentTimes.length, seconds: seconds,
      average: (presentTimes.length - 1) / seconds,
      lowest: rates[0], median: rates[rates.length >> 1], highest: rates[rates.length - 1],
      busyMedianMs: busy.length ? busy[busy.length >> 1] : 0,
      busyWorstMs: busy.length ? busy[busy.length - 1] : 0,
    };
  }

  // For a look from outside (the browser's console, a test driver).
  window.quillmere = {
    frameStats: frameStats,
    audio: () => audio && { state: audio.state, playedMs: qm.musicPlayedMs(),
                            music: musicBuffer ? musicBuffer.duration : 0 },
  };

  // ---- the show's files ----

  // The show writes "data//paper1.jpg" and "data\aaa.mp3"; the page keeps "data/paper1.jpg".
  function plainPath(path) {
    return path.replace(/\\/g, '/').replace(/\/+/g, '/').replace(/^(\.\/|\/)+/, '');
  }

  const files = new Map();  // path -> bytes, for the program's file system
  let musicBuffer = null, musicPath = '';
  let audio = null, musicSource = null, musicStart = 0, musicStoppedMs = -1;

  async function fetchAll(list, onBytes) {
    for (const entry of list) {
      let response;
      try {
        response = await fetch(entry.path);
      } catch (e) {
        continue;
      }
      // A missing file is left out: the show itself decides what that means.
      if (!response.ok) continue;
      const reader = response.body.getReader();
      const chunks = [];
      let length = 0;
      for (;;) {
        const { done, value } = await reader.read();
        if (done) break;
        chunks.push(value);
        length += value.length;
        onBytes(value.length);
      }
      const bytes = new Uint8Array(length);
      let at = 0;
      for (const chunk of chunks) { bytes.set(chunk, at); at += chunk.length; }
      files.set(plainPath(entry.path), bytes);
    }
  }

  // A picture through the browser's decoder, without colour management, as plain RGBA.
  async function decodePicture(bytes) {
    try {
      const bitmap = await createImageBitmap(new Blob([bytes]),
                                             { colorSpaceConversion: 'none',
                                               premultiplyAlpha: 'none' });
      const surface = document.createElement('canvas');
      surface.width = bitmap.width;
      surface.height = bitmap.height;
      const context = surface.getContext('2d', { willReadFrequently: true });
      context.drawImage(bitmap, 0, 0);
      const data = context.getImageData(0, 0, bitmap.width, bitmap.height).data;
      qm.lastPicture = { width: bitmap.width, height: bitmap.height,
                         pixels: new Uint8Array(data.buffer) };
      return qm.lastPicture;
    } catch (e) {
      qm.lastError = 'not a readable picture';
      return null;
    }
  }

  async function decodeMusic(path, bytes) {
    // The still mode plays nothing; it needs the music's length only.
    const context = still ? new OfflineAudioContext(2, 1, 44100) : audio;
    if (!context) return;
    try {
      musicBuffer = await context.decodeAudioData(bytes.slice().buffer);
      musicPath = path;
    } catch (e) {
      musicBuffer = null;
    }
  }

  // ---- what the program asks of the page (src/backend/web/browser.cpp) ----

  const cp1252 = new TextDecoder('windows-1252');
  const glyphCanvas = document.createElement('canvas');
  const glyphContext = glyphCanvas.getContext('2d', { willReadFrequently: true });
  // The desktop draws with Liberation Sans (the metrics of Arial); the browser takes the first
  // of these it has.
  const fontFamily = '"Liberation Sans", Arial, Helvetica, sans-serif';

  function setFont(context, emPx, weight) {
    context.font = `${weight >= 600 ? 'bold' : 'normal'} ${emPx}px ${fontFamily}`;
  }

  const qm = {
    lastError: '',
    lastGlyph: null,
    lastPicture: null,
    frameShown: frameShown,
    decodePicture: decodePicture,
    frameStarts() { frameStart = performance.now(); },
    showCursor(shown) { canvas.style.cursor = shown ? 'default' : 'none'; },
    showMessage(caption, text) {
      dialogText = caption ? `${caption}: ${text}` : text;
      $('qm-error').textContent = dialogText;
    },
    finished: finished,
    music(path) { return plainPath(path) === musicPath ? musicBuffer : null; },
    playMusic(path, looping) {
      // The show's clock starts with the music: so does the frame rate's count.
      presentTimes.length = 0;
      busyTimes.length = 0;
      if (!audio || !musicBuffer || plainPath(path) !== musicPath) return false;
      musicSource = audio.createBufferSource();
      musicSource.buffer = musicBuffer;
      musicSource.loop = looping;
      musicSource.connect(audio.destination);
      musicStart = audio.currentTime;
      musicSource.start();
      return true;
    },
    musicPlayedMs() {
      if (musicStoppedMs >= 0) return musicStoppedMs;
      return musicSource ? (audio.currentTime - musicStart) * 1000 : 0;
    },
    fontMetrics(emPx, weight) {
      setFont(glyphContext, emPx, weight);
      const m = glyphContext.measureText('Hg');
      const ascent = m.fontBoundingBoxAscent, descent = m.fontBoundingBoxDescent;
      if (!(ascent + descent > 0)) return null;
      return { ascent: ascent, descent: descent };
    },
    glyph(byte, emPx, weight) {
      // The show's text is 8-bit, code page 1252.
      const text = cp1252.decode(new Uint8Array([byte]));
      setFont(glyphContext, emPx, weight);
      const m = glyphContext.measureText(text);
      // The ink's box, a pixel wider on each side for the antialiased edge.
      const left = -Math.ceil(m.actualBoundingBoxLeft) - 1;
      const right = Math.ceil(m.actualBoundingBoxRight) + 1;
      const top = Math.ceil(m.actualBoundingBoxAscent) + 1;
      const bottom = Math.ceil(m.actualBoundingBoxDescent) + 1;
      const g = { left: left, top: top, width: 0, rows: 0, advance: Math.round(m.width),
                  coverage: new Uint8Array(0) };
      if (text.trim() !== '' && right > left && bottom + top > 0) {
        g.width = right - left;
        g.rows = top + bottom;
        glyphCanvas.width = g.width;
        glyphCanvas.height = g.rows;
        setFont(glyphContext, emPx, weight);
        glyphContext.fillStyle = '#fff';
        glyphContext.textBaseline = 'alphabetic';
        glyphContext.fillText(text, -left, top);
        const data = glyphContext.getImageData(0, 0, g.width, g.rows).data;
        g.coverage = new Uint8Array(g.width * g.rows);
        for (let i = 0; i < g.coverage.length; ++i) g.coverage[i] = data[i * 4 + 3];
      }
      qm.lastGlyph = g;
      return g;
    },
  };

  // The show never stops its music: playback ends with the program, which here is the page's
  // part of the show.
  function stopMusic() {
    if (!musicSource || musicStoppedMs >= 0) return;
    musicStoppedMs = qm.musicPlayedMs();
    musicSource.stop();
  }

  function finished(status) {
    stopMusic();
    if (over) return;
    if (status !== 0) { fail(dialogText || lastErrorLine(status)); return; }
    if (still) return;
    over = true;
    if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
    $('qm-fullscreen').hidden = true;
    const stats = frameStats();
    if (stats) {
      console.log(`quillmere: ${stats.frames} frames in ${stats.seconds.toFixed(1)} s; ` +
                  `${stats.average.toFixed(1)} per second (lowest ${stats.lowest.toFixed(1)}, ` +
                  `median ${stats.median.toFixed(1)}, highest ${stats.highest.toFixed(1)})`);
    }
    showOverlay('The show has ended.');
    setState('ended');
  }

  function lastErrorLine(status) {
    const line = errorLines.length ? errorLines[errorLines.length - 1] : '';
    return line || `The show stopped (status ${status}).`;
  }

  // ---- start ----

  function programArguments() {
    if (!still) return [];
    const args = ['--screenshot', params.get('at'), 'page.png'];
    for (const press of params.getAll('press')) args.push('--press', press);
    if (params.has('fps')) args.push('--fps', params.get('fps'));
    return args;
  }

  function startProgram(wasmBinary) {
    window.Module = {
      qm: qm,
      canvas: canvas,
      wasmBinary: wasmBinary,
      print: (line) => console.log(line),
      printErr: (line) => { errorLines.push(line); console.warn(line); },
      onAbort: (what) => fail(dialogText || `The show stopped: ${what}`),
      // A program that has yielded to the page ends without the runtime's exit: it says so
      // itself (qm.finished); the exit covers the process exit after a start-up failure.
      onExit: finished,
      onRuntimeInitialized: () => {
        const FS = window.Module.FS;
        for (const [path, bytes] of files) {
          const parts = path.split('/');
          let folder = '';
          for (const part of parts.slice(0, -1)) {
            folder += '/' + part;
            try { FS.mkdir(folder); } catch (e) { /* already there */ }
          }
          FS.writeFile('/' + path, bytes);
        }
        // The show's files are where it looks for them: data/ and vid/ in its current folder.
        FS.chdir('/');
        setState('running');
        window.Module.callMain(programArguments());
      },
    };
    const script = document.createElement('script');
    script.src = 'quillmere.js';
    script.onerror = () => fail('The program (quillmere.js) could not be loaded.');
    document.body.appendChild(script);
  }

  async function load() {
    let manifest;
    try {
      const response = await fetch('site.json');
      if (!response.ok) throw new Error(`site.json: ${response.status}`);
      manifest = await response.json();
    } catch (e) {
      fail(`The list of the show's files could not be loaded (${e.message}).`);
      return;
    }
    const total = manifest.files.reduce((sum, f) => sum + f.size, 0) || 1;
    let loaded = 0;
    const bar = $('qm-progress-bar');
    await fetchAll(manifest.files, (n) => {
      loaded += n;
      bar.style.width = `${Math.min(100, (100 * loaded) / total).toFixed(1)}%`;
    });
    const wasm = files.get('quillmere.wasm');
    if (!wasm) {
      fail('The program (quillmere.wasm) could not be loaded.');
      return;
    }
    files.delete('quillmere.wasm');
    $('qm-status').textContent = 'Preparing…';
    if (!still) {
      try { audio = new AudioContext(); } catch (e) { audio = null; }
    }
    for (const [path, bytes] of files) {
      if (/\.mp3$/i.test(path)) await decodeMusic(path, bytes);
    }
    if (still) {
      $('qm-overlay').hidden = true;
      startProgram(wasm);
      return;
    }
    $('qm-status').textContent = audio ? '' : 'This browser has no audio: the show runs silent.';
    $('qm-progress').hidden = true;
    const start = $('qm-start');
    start.hidden = false;
    start.focus();
    start.addEventListener('click', () => {
      // Sound may start only from a gesture: this click.
      if (audio) audio.resume();
      $('qm-overlay').hidden = true;
      $('qm-fullscreen').hidden = false;
      canvas.focus();
      startProgram(wasm);
    }, { once: true });
  }

  $('qm-fullscreen').addEventListener('click', () => {
    const stage = $('qm-stage');
    if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
    else if (stage.requestFullscreen) stage.requestFullscreen().catch(() => {});
  });

  load();
})();

// Opens a page of the web player in Chromium and reports how it ended, driving the browser
// through its DevTools protocol (so nothing depends on virtual time, which runs out while the
// browser decodes pictures and music on its own threads).
//
// usage: node --experimental-websocket scripts/web_page.js URL SECONDS [OPTIONS]
//   --window            a real window (needs a display, e.g. under xvfb-run) instead of headless
//   --click SELECTOR    click there (a real input event, which counts as a gesture) once it shows
//   --watch SECONDS     after the click, let the page run this long, then report
//   --screenshot FILE   a PNG of the window at the end of the watch
//   --size WxH          window size (default 1280x960)
//   --flag FLAG         one more flag for Chromium (repeatable)
//   --key CODE@SECONDS  that many seconds after the click, press and release the key with that
//                       DOM code (Escape, NumLock, F1)
//
// Prints one JSON object: state (body's data-state), error (#qm-error's text), frame (the
// qm-frame image's data URL, if any), stats (the page's frame statistics, if any), audio (the
// audio context's state and the music played), console (its lines). Exit status 0 when the
// page reached a final state (done, failed, ended) or the watch ran out, 1 on a timeout.
'use strict';
const { spawn } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');

const args = process.argv.slice(2);
const url = args[0];
const seconds = Number(args[1] || 60);
const option = (name) => {
  const i = args.indexOf(name);
  return i >= 0 ? args[i + 1] : undefined;
};
const windowed = args.includes('--window');
const clickSelector = option('--click');
const watchSeconds = Number(option('--watch') || 0);
const screenshotPath = option('--screenshot');
const size = (option('--size') || '1280x960').split('x').map(Number);
const keyPress = option('--key');

const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'qm-chromium-'));
const flags = [
  '--no-sandbox', '--no-first-run', '--no-default-browser-check', '--disable-gpu-sandbox',
  '--use-angle=swiftshader', '--enable-unsafe-swiftshader', '--autoplay-policy=user-gesture-required',
  `--user-data-dir=${profile}`, '--remote-debugging-port=0', `--window-size=${size[0]},${size[1]}`,
];
// A window on a virtual X server without a window manager counts as hidden: it must still get
// its animation frames and timers at full rate.
if (windowed) {
  flags.push('--disable-backgrounding-occluded-windows', '--disable-renderer-backgrounding',
             '--disable-background-timer-throttling');
} else {
  flags.push('--headless=new');
}
args.forEach((a, i) => { if (a === '--flag') flags.push(args[i + 1]); });
const browser = spawn('chromium', [...flags, 'about:blank'], { stdio: ['ignore', 'ignore', 'pipe'] });

let finished = false;
function finish(result, status) {
  if (finished) return;
  finished = true;
  process.stdout.write(JSON.stringify(result) + '\n');
  browser.kill('SIGTERM');
  setTimeout(() => {
    fs.rmSync(profile, { recursive: true, force: true });
    process.exit(status);
  }, 500);
}

const deadline = setTimeout(() => finish({ state: 'timeout', error: 'no answer in time' }, 1),
                            (seconds + watchSeconds) * 1000);

let endpoint = '';
browser.stderr.on('data', (chunk) => {
  const found = /DevTools listening on (ws:\/\/\S+)/.exec(chunk.toString());
  if (found && !endpoint) {
    endpoint = found[1];
    drive().catch((e) => finish({ state: 'error', error: String(e) }, 1));
  }
});
browser.on('exit', () => finish({ state: 'error', error: 'chromium ended' }, 1));

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function drive() {
  const port = new URL(endpoint).port;
  const targets = await (await fetch(`http://127.0.0.1:${port}/json/list`)).json();
  const page = targets.find((t) => t.type === 'page');
  const socket = new WebSocket(page.webSocketDebuggerUrl);
  await new Promise((resolve) => socket.addEventListener('open', resolve));
  let nextId = 0;
  const waiting = new Map();
  const consoleLines = [];
  socket.addEventListener('message', (event) => {
    const message = JSON.parse(event.data);
    if (message.id && waiting.has(message.id)) {
      waiting.get(message.id)(message);
      waiting.delete(message.id);
    } else if (message.method === 'Runtime.consoleAPICalled') {
      consoleLines.push(message.params.args.map((a) => a.value).join(' '));
    }
  });
  const send = (method, params = {}) => new Promise((resolve) => {
    const id = ++nextId;
    waiting.set(id, resolve);
    socket.send(JSON.stringify({ id, method, params }));
  });
  const evaluate = async (expression) =>
    (await send('Runtime.evaluate', { expression, returnByValue: true })).result?.result?.value;

  await send('Runtime.enable');
  await send('Page.enable');
  await send('Page.navigate', { url });

  const report = async () => ({
    state: await evaluate('document.body && document.body.dataset.state'),
    error: await evaluate('(document.getElementById("qm-error") || {}).textContent || ""'),
    frame: await evaluate('(document.getElementById("qm-frame") || {}).src || ""'),
    stats: await evaluate('window.quillmere && window.quillmere.frameStats()'),
    audio: await evaluate('window.quillmere && window.quillmere.audio()'),
    console: consoleLines,
  });

  if (clickSelector) {
    for (;;) {
      const box = await evaluate(`(() => { const e = document.querySelector(${JSON.stringify(clickSelector)});
        if (!e || e.hidden) return null; const r = e.getBoundingClientRect();
        return [r.x + r.width / 2, r.y + r.height / 2]; })()`);
      if (box) {
        process.stderr.write(`web page: clicking ${clickSelector} after ${process.uptime().toFixed(1)} s\n`);
        for (const type of ['mousePressed', 'mouseReleased']) {
          await send('Input.dispatchMouseEvent',
                      { type, x: box[0], y: box[1], button: 'left', clickCount: 1 });
        }
        break;
      }
      const state = await evaluate('document.body && document.body.dataset.state');
      if (state === 'failed') return finish(await report(), 0);
      await sleep(200);
    }
  }
  if (keyPress) {
    const [code, at] = keyPress.split('@');
    await sleep(Number(at) * 1000);
    const key = { Escape: ['Escape', 27], NumLock: ['NumLock', 144], F1: ['F1', 112] }[code] ||
                [code, 0];
    for (const type of ['rawKeyDown', 'keyUp']) {
      await send('Input.dispatchKeyEvent',
                 { type, code, key: key[0], windowsVirtualKeyCode: key[1] });
    }
  }
  if (watchSeconds > 0) {
    clearTimeout(deadline);
    await sleep(watchSeconds * 1000);
    if (screenshotPath) {
      const shot = await send('Page.captureScreenshot', { format: 'png' });
      fs.writeFileSync(screenshotPath, Buffer.from(shot.result.data, 'base64'));
    }
    return finish(await report(), 0);
  }
  for (;;) {
    const state = await evaluate('document.body && document.body.dataset.state');
    if (state === 'done' || state === 'failed' || state === 'ended') return finish(await report(), 0);
    await sleep(200);
  }
}

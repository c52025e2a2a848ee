// Opens a page of the web player in Chromium and reports how it ended, driving the browser
// through its DevTools protocol (so nothing depends on virtual time, which runs out while the
// browser decodes pictures and music on its own threads).
//
// usage: node [--experimental-websocket] scripts/web_page.js URL SECONDS [OPTIONS]
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

// The DevTools socket: Node's own WebSocket where it has one (20.10 and later, with
// --experimental-websocket), else this small client of the same shape (text messages only,
// which is all the protocol sends).
class SmallSocket {
  constructor(url) {
    const crypto = require('crypto');
    const http = require('http');
    this.listeners = { open: [], message: [] };
    this.pending = Buffer.alloc(0);
    this.parts = [];
    const request = http.get(url.replace(/^ws:/, 'http:'), {
      headers: { Connection: 'Upgrade', Upgrade: 'websocket', 'Sec-WebSocket-Version': '13',
                 'Sec-WebSocket-Key': crypto.randomBytes(16).toString('base64') },
    });
    request.on('upgrade', (response, socket) => {
      this.socket = socket;
      socket.on('data', (chunk) => this.receive(chunk));
      this.listeners.open.forEach((f) => f());
    });
  }
  addEventListener(type, listener) { this.listeners[type].push(listener); }
  send(text) {
    const payload = Buffer.from(text);
    const n = payload.length;
    const head = n < 126 ? Buffer.from([0x81, 0x80 | n])
      : n < 65536 ? Buffer.from([0x81, 0x80 | 126, n >> 8, n & 255])
      : Buffer.concat([Buffer.from([0x81, 0x80 | 127]), (() => {
          const b = Buffer.alloc(8); b.writeBigUInt64BE(BigInt(n)); return b; })()]);
    // A client masks what it sends; a zero mask leaves the bytes as they are.
    this.socket.write(Buffer.concat([head, Buffer.alloc(4), payload]));
  }
  receive(chunk) {
    this.pending = Buffer.concat([this.pending, chunk]);
    for (;;) {
      if (this.pending.length < 2) return;
      let length = this.pending[1] & 0x7f, at = 2;
      if (length === 126) {
        if (this.pending.length < 4) return;
        length = this.pending.readUInt16BE(2); at = 4;
      } else if (length === 127) {
        if (this.pending.length < 10) return;
        length = Number(this.pending.readBigUInt64BE(2)); at = 10;
      }
      if (this.pending.length < at + length) return;
      const fin = (this.pending[0] & 0x80) !== 0, opcode = this.pending[0] & 0x0f;
      const payload = this.pending.subarray(at, at + length);
      this.pending = this.pending.subarray(at + length);
      if (opcode === 1 || opcode === 0) {
        this.parts.push(Buffer.from(payload));
        if (fin) {
          const data = Buffer.concat(this.parts).toString();
          this.parts = [];
          this.listeners.message.forEach((f) => f({ data }));
        }
      }
    }
  }
}
const Socket = typeof WebSocket === 'function' ? WebSocket : SmallSocket;

async function drive() {
  const port = new URL(endpoint).port;
  const targets = await (await fetch(`http://127.0.0.1:${port}/json/list`)).json();
  const page = targets.find((t) => t.type === 'page');
  const socket = new Socket(page.webSocketDebuggerUrl);
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

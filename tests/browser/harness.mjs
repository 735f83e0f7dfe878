// harness.mjs: the console on a free loopback port with demo data, and headless Chromium.
//
// Everything lives in a temporary root of its own (KEL2CIFS_ROOT): the plug-in directory, its
// configuration and log, the demo state file and the account file. The build directory comes
// from KEL2CIFS_BUILD_DIR (console/kelconsole, libkel2cifs.so, monitoring/cifsmon-demo-gen);
// screenshots go to KEL2CIFS_BROWSER_ARTIFACTS.
import { spawn, execFileSync } from 'node:child_process';
import { once } from 'node:events';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';

export const CHROMIUM = '/usr/bin/chromium';

// The generator's flags: the same flags give the same state file, byte for byte.
export const DEMO_FLAGS = ['--seed', '7', '--now', '1733400000'];
export const XSS_NAME = '<img src=x onerror=alert(1)>.doc';
export const GUEST = { name: 'guest', password: 'Quiet-meadow-83' };
// The console's plug-ins: the three pages' and the second one's (Find Open Files, Sessions).
export const PLUGINS = ['libkel2cifs.so', 'libkel2cifs_admin.so'];

function required(variable) {
  const value = process.env[variable];
  if (!value) {
    throw new Error(`${variable} is not set (the CTest wrapper sets it)`);
  }
  return value;
}

// A temporary directory with every symbolic link of its path resolved: the log page lists
// nothing below a path that holds one.
export function makeTempRoot() {
  return fs.realpathSync(fs.mkdtempSync(path.join(os.tmpdir(), 'kel2cifs-browser-')));
}

// Reads lines from a stream until one matches; rejects when the stream ends first or the time
// runs out.
function waitForLine(stream, pattern, timeoutMs, describe) {
  return new Promise((resolve, reject) => {
    let buffered = '';
    const timer = setTimeout(() => {
      cleanup();
      reject(new Error(`${describe}: no line matching ${pattern} within ${timeoutMs} ms`));
    }, timeoutMs);
    const onData = (chunk) => {
      buffered += chunk;
      const match = buffered.match(pattern);
      if (match) {
        cleanup();
        resolve(match);
      }
    };
    const onEnd = () => {
      cleanup();
      reject(new Error(`${describe}: output ended before a line matching ${pattern}`));
    };
    const cleanup = () => {
      clearTimeout(timer);
      stream.off('data', onData);
      stream.off('end', onEnd);
    };
    stream.setEncoding('utf8');
    stream.on('data', onData);
    stream.on('end', onEnd);
  });
}

// The console with the plug-in over a fresh demo root. start() runs the first start: the console
// creates the account "admin" and prints its password, which is kept in adminPassword.
export class DemoConsole {
  constructor() {
    this.build = path.resolve(required('KEL2CIFS_BUILD_DIR'));
    this.artifacts = path.resolve(required('KEL2CIFS_BROWSER_ARTIFACTS'));
    this.kelconsole = path.join(this.build, 'console', 'kelconsole');
    this.root = makeTempRoot();
    this.plugins = path.join(this.root, 'plugins');
    this.logDirectory = path.join(this.root, 'var/opt/zantio/log');
    this.pluginLog = path.join(this.logDirectory, 'libkel2cifs.log');
    this.stateFile = path.join(this.root, 'var/opt/zantio/cifsmonitoring/demo-state.json');
    this.accounts = path.join(this.root, 'etc/opt/zantio/kelconsole/accounts');
    this.env = {
      ...process.env,
      KEL2CIFS_ROOT: this.root,
      CIFSMONITORING_BACKEND: 'demo',
      CIFSMONITORING_STATE: this.stateFile,
      TZ: 'UTC',
    };
    this.process = null;
    this.url = null;
    this.adminPassword = null;
  }

  prepare() {
    fs.mkdirSync(this.artifacts, { recursive: true });
    for (const directory of [this.plugins, this.logDirectory, path.dirname(this.stateFile),
      path.join(this.root, 'opt/zantio/lib')]) {
      fs.mkdirSync(directory, { recursive: true });
    }
    fs.writeFileSync(path.join(this.root, 'opt/zantio/lib/libkel2cifs.conf'),
      'LOG_LEVEL DEBUG\nLOG_MAXIMUM_FILE_SIZE 4194304\nLOG_TIMESTAMPS YES\n');
    for (const plugin of PLUGINS) {
      fs.copyFileSync(path.join(this.build, plugin), path.join(this.plugins, plugin));
    }
    // The catalogues, so that a German or French browser gets its pages in its language.
    fs.cpSync(path.join(this.build, 'locale-root'), this.root, { recursive: true });
    execFileSync(path.join(this.build, 'monitoring', 'cifsmon-demo-gen'),
      ['--output', this.stateFile, ...DEMO_FLAGS], { env: this.env, stdio: 'pipe' });
  }

  async start() {
    this.prepare();
    const consoleLog = fs.openSync(path.join(this.artifacts, 'kelconsole-stderr.log'), 'w');
    this.process = spawn(this.kelconsole,
      ['--listen=127.0.0.1:0', `--plugins=${this.plugins}`, `--accounts=${this.accounts}`,
        '--threads=4'],
      { env: this.env, cwd: this.root, stdio: ['ignore', 'pipe', consoleLog] });
    fs.closeSync(consoleLog);
    this.exited = once(this.process, 'exit');
    let stdout = '';
    this.process.stdout.on('data', (chunk) => { stdout += chunk; });
    const [, url] = await waitForLine(this.process.stdout,
      /serving (http:\/\/127\.0\.0\.1:\d+)\/ \(2 plug-ins, 5 pages\)/, 30000, 'kelconsole');
    this.url = url;
    const password = stdout.match(/its password \(shown only now\): (\S+)/);
    if (!password) {
      throw new Error(`kelconsole printed no password for the new account:\n${stdout}`);
    }
    this.adminPassword = password[1];
  }

  // Adds or changes an account while the console runs; the console reads the changed file.
  setPassword(name, password, role) {
    execFileSync(this.kelconsole,
      ['passwd', `--accounts=${this.accounts}`, `--role=${role}`, name],
      { env: this.env, input: `${password}\n`, stdio: ['pipe', 'pipe', 'pipe'] });
  }

  at(urlPath) {
    return this.url + urlPath;
  }

  readState() {
    return JSON.parse(fs.readFileSync(this.stateFile, 'utf8'));
  }

  // Stops it as Ctrl-C does; resolves to its exit code (null when a signal ended it).
  async stop() {
    if (this.process === null || this.process.exitCode !== null) {
      return this.process?.exitCode ?? null;
    }
    this.process.kill('SIGINT');
    const timer = setTimeout(() => this.process.kill('SIGKILL'), 20000);
    const [code] = await this.exited;
    clearTimeout(timer);
    return code;
  }

  removeRoot() {
    fs.rmSync(this.root, { recursive: true, force: true });
  }
}

// Headless Chromium in a new, empty profile; no network but loopback is ever asked for.
export async function launchBrowser(userDataDir) {
  const context = await chromium.launchPersistentContext(userDataDir, {
    executablePath: CHROMIUM,
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    viewport: { width: 1280, height: 900 },
    // English pages unless a test asks for another language (the console follows Accept-Language).
    locale: 'en-US',
    timeout: 60000,
  });
  context.setDefaultTimeout(15000);
  context.setDefaultNavigationTimeout(20000);
  return context;
}

// The plug-in's merge sort: the front half takes ceil(n/2) items and a front item goes first
// only when its key is strictly less, so equal keys come out back half first.
export function pluginSort(items, less) {
  if (items.length <= 1) {
    return items.slice();
  }
  const middle = Math.ceil(items.length / 2);
  const front = pluginSort(items.slice(0, middle), less);
  const back = pluginSort(items.slice(middle), less);
  const merged = [];
  let i = 0;
  let j = 0;
  while (i < front.length && j < back.length) {
    if (less(front[i], back[j])) {
      merged.push(front[i++]);
    } else {
      merged.push(back[j++]);
    }
  }
  return merged.concat(front.slice(i), back.slice(j));
}

// Byte-wise (strcmp) order of two texts as UTF-8.
export function bytesLess(a, b) {
  return Buffer.compare(Buffer.from(a, 'utf8'), Buffer.from(b, 'utf8')) < 0;
}

// The open files of one volume in the monitoring library's order: connections as in the state
// file, each connection's files of that volume in array order.
export function openFilesOf(state, volume) {
  const files = [];
  for (const connection of state.connections) {
    for (const entry of connection.openFiles ?? []) {
      if (entry.volume === volume) {
        for (const filePath of entry.paths) {
          files.push({ number: connection.number, user: connection.user, path: filePath });
        }
      }
    }
  }
  return files;
}

// The extension test of the open-file filter "*.EXT": the text after the last "." of the whole
// path, compared byte for byte.
export function matchesExtension(filePath, extension) {
  const dot = filePath.lastIndexOf('.');
  return (dot < 0 ? filePath : filePath.slice(dot + 1)) === extension;
}

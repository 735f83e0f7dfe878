// console.test.mjs: an administrator's session in headless Chromium, against the console with
// the plug-in and demo data: log in, the three pages and their actions, the help pages, a file
// name that is markup, file names that hold the close form's tags, a line break or a byte that
// is not UTF-8, an account without rights. Every page is kept as a screenshot.
import assert from 'node:assert/strict';
import http from 'node:http';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, describe, it } from 'node:test';

import {
  DemoConsole, GUEST, XSS_NAME, bytesLess, launchBrowser, makeTempRoot, matchesExtension,
  openFilesOf, pluginSort,
} from './harness.mjs';

const CLOSE_FILES_PROMPT = 'Closing a file will close the file for all connections.';
const CLOSE_ALL_PROMPT = 'Closes all files opened by this connection.';

const demo = new DemoConsole();
let profile;
let context;
let page;
let shots = 0;
// Every dialog the pages opened, in order; only the confirmations a step expects are accepted.
const dialogs = [];
let expectedConfirm = null;

// Saves the page as NN-name.png; the whole page unless `fullPage` is false.
async function shot(name, { fullPage = true } = {}) {
  shots += 1;
  const file = path.join(demo.artifacts, `${String(shots).padStart(2, '0')}-${name}.png`);
  await page.screenshot({ path: file, fullPage });
}

// Runs `action`, which makes the page open a confirmation starting with `prompt`, and accepts it.
async function withConfirmation(prompt, action) {
  const before = dialogs.length;
  expectedConfirm = prompt;
  try {
    await action();
  } finally {
    expectedConfirm = null;
  }
  const opened = dialogs.slice(before);
  assert.equal(opened.length, 1, `one confirmation expected, got ${JSON.stringify(opened)}`);
  assert.equal(opened[0].type, 'confirm');
  assert.ok(opened[0].message.startsWith(prompt), opened[0].message);
}

// Clicks something that leads to another page and waits until it has loaded.
async function follow(locator) {
  await Promise.all([page.waitForNavigation(), locator.click()]);
}

async function logIn(name, password) {
  await page.goto(demo.at('/'));
  await page.waitForURL(/\/login\b/);
  await page.fill('#kc-name', name);
  await page.fill('#kc-password', password);
  await follow(page.getByRole('button', { name: 'Log in' }));
}

// The rows of the open files table: connection number, user, path, as the browser shows them.
function openFileRows() {
  return page.$$eval('input[type="checkbox"][name="FILENAME"]', (boxes) => boxes.map((box) => {
    const cells = box.closest('tr').querySelectorAll('td');
    return {
      number: Number(cells[1].textContent.trim()),
      user: cells[2].textContent,
      path: cells[3].textContent,
    };
  }));
}

// The connection numbers of the connection list, top to bottom.
function connectionNumbers() {
  return page.$$eval('tr.stripe-light, tr.stripe-dark',
    (rows) => rows.map((row) => Number(row.querySelector('td').textContent.trim())));
}

function filterValue() {
  return page.inputValue('input[name="FILTER"][type="text"]');
}

function selectedVolume() {
  return page.$eval('#volumes', (select) => select.options[select.selectedIndex].text);
}

function allOpenPaths(state) {
  return state.connections.flatMap((connection) =>
    (connection.openFiles ?? []).flatMap((entry) => entry.paths));
}

function connectionOf(state, number) {
  return state.connections.find((connection) => connection.number === number);
}

before(async () => {
  await demo.start();
  demo.setPassword(GUEST.name, GUEST.password, 'none');
  profile = makeTempRoot();
  context = await launchBrowser(profile);
  page = context.pages()[0] ?? await context.newPage();
  page.on('dialog', async (dialog) => {
    dialogs.push({ type: dialog.type(), message: dialog.message() });
    try {
      if (expectedConfirm !== null && dialog.type() === 'confirm' &&
          dialog.message().startsWith(expectedConfirm)) {
        await dialog.accept();
      } else {
        await dialog.dismiss();
      }
    } catch {
      // A navigation closed it first; it is recorded all the same.
    }
  });
});

after(async () => {
  await context?.close();
  if (profile) {
    fs.rmSync(profile, { recursive: true, force: true });
  }
  await demo.stop();
  demo.removeRoot();
});

describe('an administrator in the browser', () => {
  it('logs in with the password the first start printed', async () => {
    await page.goto(demo.at('/cifsofm'));
    await page.waitForURL(/\/login\?next=/);
    await shot('login');
    await page.fill('#kc-name', 'admin');
    await page.fill('#kc-password', demo.adminPassword);
    await follow(page.getByRole('button', { name: 'Log in' }));
    assert.equal(new URL(page.url()).pathname, '/cifsofm');
    assert.equal((await page.textContent('.kc-user')).trim(), 'admin');
    await page.goto(demo.at('/'));
    for (const name of ['Manage Connections', 'View Logs', 'Manage Open Files']) {
      assert.equal(await page.locator('.kc-nav').getByRole('link', { name }).count(), 1, name);
    }
    await shot('home');
  });

  it('filters, sorts, follows a user and comes back on Manage Open Files', async () => {
    const state = demo.readState();
    await follow(page.locator('.kc-nav').getByRole('link', { name: 'Manage Open Files' }));
    assert.equal((await page.textContent('h1')).trim(), 'CIFS Open File Management');
    assert.equal((await openFileRows()).length, 0);
    await shot('ofm-no-volume');

    // The volume selector navigates by itself.
    await Promise.all([page.waitForURL(/\/cifsofm\/DATA$/), page.selectOption('#volumes', 'DATA')]);
    await page.waitForLoadState();
    const all = openFilesOf(state, 'DATA');
    const byNumber = pluginSort(all, (a, b) => a.number < b.number);
    assert.deepEqual(await openFileRows(), byNumber);
    assert.equal(await selectedVolume(), 'DATA');
    await shot('ofm-volume');

    await page.fill('input[name="FILTER"][type="text"]', '*.doc');
    await follow(page.locator('input[type="submit"][value="Apply"]'));
    const docs = all.filter((file) => matchesExtension(file.path, 'doc'));
    assert.ok(docs.length >= 3, 'the demo data has .doc files on DATA');
    assert.ok(docs.length < all.length, 'the filter leaves files out');
    assert.deepEqual(await openFileRows(), pluginSort(docs, (a, b) => a.number < b.number));
    assert.equal(await filterValue(), '*.doc');
    await shot('ofm-filtered');

    await follow(page.locator('a:has(img[alt="Sort By Username"])'));
    assert.equal(new URL(page.url()).pathname, '/cifsofm/UserName/DATA');
    const byUser = pluginSort(docs, (a, b) => bytesLess(a.user, b.user));
    assert.deepEqual(await openFileRows(), byUser);
    assert.equal(await filterValue(), '*.doc');
    assert.equal(await page.locator('img[alt="Sort By Username"][src$="/sorted.png"]').count(), 1);
    await shot('ofm-sorted-by-user');

    const holder = byUser[0];
    await follow(page.locator('input[name="FILENAME"]').first().locator('xpath=ancestor::tr')
      .getByRole('link', { name: holder.user, exact: true }));
    assert.equal(new URL(page.url()).pathname,
      `/cifscons/ConnectionNumber/${holder.number.toString(16).toUpperCase().padStart(8, '0')}`);
    assert.equal((await page.textContent('h1')).trim(), 'CIFS Connection Information');
    assert.equal((await page.textContent('font')).trim(), holder.user);
    await shot('ofm-connection');

    await follow(page.getByRole('link', { name: '[Back to Open File Management]' }));
    assert.equal(new URL(page.url()).pathname, '/cifsofm/UserName/DATA');
    assert.equal(await selectedVolume(), 'DATA');
    assert.equal(await filterValue(), '*.doc');
    assert.deepEqual(await openFileRows(), byUser);
    await shot('ofm-back-from-connection');
  });

  it('closes two selected files on Manage Open Files', async () => {
    const rows = await openFileRows();
    const chosen = [rows[0].path, rows[rows.length - 1].path];
    assert.notEqual(chosen[0], chosen[1]);
    const boxes = page.locator('input[type="checkbox"][name="FILENAME"]');
    await boxes.first().check();
    await boxes.last().check();
    await shot('ofm-two-selected');
    await withConfirmation(CLOSE_FILES_PROMPT, () =>
      follow(page.locator('input[type="submit"][value="Close Files"]')));
    assert.equal(new URL(page.url()).pathname, '/cifsofm/CIFSCloseFiles/DATA');
    const shown = (await openFileRows()).map((row) => row.path);
    assert.ok(shown.length > 0, 'the volume page is shown again');
    for (const closed of chosen) {
      assert.ok(!shown.includes(closed), `${closed} is still listed`);
    }
    const remaining = allOpenPaths(demo.readState());
    for (const closed of chosen) {
      assert.ok(!remaining.includes(closed), `${closed} is still in the state file`);
    }
    await shot('ofm-after-close');
  });

  it('asks again before closing and closes nothing when the confirmation is refused', async () => {
    await page.goto(demo.at('/cifsofm/DATA'));
    const before = allOpenPaths(demo.readState()).length;
    await page.locator('input[type="checkbox"][name="FILENAME"]').first().check();
    const opened = dialogs.length;
    // The click returns once a navigation it started has committed, so none started.
    await page.locator('input[type="submit"][value="Close Files"]').click();
    assert.equal(dialogs.length, opened + 1);
    assert.equal(dialogs[opened].type, 'confirm');
    assert.equal(new URL(page.url()).pathname, '/cifsofm/DATA');
    assert.equal(allOpenPaths(demo.readState()).length, before);
  });

  it('closes exactly the ticked file whatever its name holds', async () => {
    // A CIFS user's names: one that holds the close form's tags around another open file, one
    // with a line break, one that is not UTF-8 (written into the state file as its bytes).
    const dir = '/srv/cifs/DATA/';
    const victim = `${dir}victim.doc`;
    const trap = `${dir}trap.doc</filename><filename>${victim}`;
    const lines = `${dir}two\r\nlines%3C.doc`;
    const state = demo.readState();
    const holder = state.connections.find((c) => (c.openFiles ?? []).some((g) => g.volume === 'DATA'));
    const group = holder.openFiles.find((g) => g.volume === 'DATA');
    group.paths.push(trap, victim, lines, `${dir}bad@BYTE@.doc`);
    const [front, back] = JSON.stringify(state).split('@BYTE@');
    fs.writeFileSync(demo.stateFile,
      Buffer.concat([Buffer.from(front), Buffer.from([0xff]), Buffer.from(back)]));

    // Ticks the row whose path cell shows `shown` and closes it; the paths listed afterwards.
    const closeRow = async (shown) => {
      await page.goto(demo.at('/cifsofm/DATA'));
      const index = (await openFileRows()).findIndex((row) => row.path === shown);
      assert.ok(index >= 0, `${JSON.stringify(shown)} is listed`);
      await page.locator('input[type="checkbox"][name="FILENAME"]').nth(index).check();
      await withConfirmation(CLOSE_FILES_PROMPT, () =>
        follow(page.locator('input[type="submit"][value="Close Files"]')));
      return (await openFileRows()).map((row) => row.path);
    };
    const listed = await closeRow(trap);
    assert.ok(!listed.includes(trap), 'the ticked file is closed');
    assert.ok(listed.includes(victim), 'the file its name mentions stays open');
    assert.ok(allOpenPaths(demo.readState()).includes(victim));
    // The page shows a line break as the document reads it, and the bad byte as U+FFFD.
    await closeRow(`${dir}two\nlines%3C.doc`);
    await closeRow(`${dir}bad\uFFFD.doc`);
    await shot('ofm-closed-odd-names');
    const remaining = fs.readFileSync(demo.stateFile);
    assert.equal(remaining.indexOf(Buffer.from([0xff])), -1, 'the name that is not UTF-8 is closed');
    const paths = allOpenPaths(demo.readState());
    assert.ok(!paths.includes(lines) && !paths.includes(trap) && paths.includes(victim));
    await closeRow(victim);
    assert.ok(!allOpenPaths(demo.readState()).includes(victim));
  });

  it('lists the closes on the Audit Trail, filters them and fits a 390 px wide screen', async () => {
    await page.goto(demo.at('/'));
    await follow(page.locator('.kc-nav').getByRole('link', { name: 'Audit trail' }));
    assert.equal(new URL(page.url()).pathname, '/audit');
    const actions = () => page.locator('table.kc-records tbody tr td:nth-child(4)').allTextContents();
    assert.ok((await actions()).includes('login'));
    await page.getByLabel('Action').fill('/cifsofm/CIFSCloseFiles/DATA');
    await follow(page.getByRole('button', { name: 'Show' }));
    const shown = await actions();
    assert.ok(shown.length >= 1, 'the closes are listed');
    assert.ok(shown.every((action) => action === '/cifsofm/CIFSCloseFiles/DATA'), shown.join());
    assert.equal(await page.getByRole('search').count(), 1);
    assert.equal(await page.getByRole('main').count(), 1);
    for (const label of ['From', 'To', 'Account', 'Action', 'Records a page']) {
      assert.equal(await page.getByLabel(label, { exact: true }).count(), 1, label);
    }
    await page.setViewportSize({ width: 390, height: 844 });
    try {
      const width = await page.evaluate(() => document.documentElement.scrollWidth);
      assert.ok(width <= 390, `the page is ${width} px wide`);
      await shot('audit-390');
    } finally {
      await page.setViewportSize({ width: 1280, height: 900 });
    }
  });

  it('sorts Manage Connections by each column', async () => {
    const state = demo.readState();
    await follow(page.locator('.kc-nav').getByRole('link', { name: 'Manage Connections' }));
    assert.equal((await page.textContent('h1')).trim(), 'CIFS Connections');
    const numbers = (list) => list.map((connection) => connection.number);
    const connections = state.connections;
    assert.deepEqual(await connectionNumbers(),
      numbers(pluginSort(connections, (a, b) => a.number < b.number)));
    await shot('cons-list');

    const columns = [
      ['ConnectionName', 'Name', (a, b) => bytesLess(a.user, b.user)],
      ['FSActivity', 'Reads & Writes (bytes)',
        (a, b) => a.bytesRead + a.bytesWritten < b.bytesRead + b.bytesWritten],
      ['ZupRequest', 'Requests', (a, b) => a.requestCount < b.requestCount],
      ['LoginTime', 'Login Time', (a, b) => a.loginTime < b.loginTime],
      // The plug-in orders this column by user name, not by the type text.
      ['ConnectionType', 'Connection Type', (a, b) => bytesLess(a.user, b.user)],
      ['ConnectionNumber', 'Connection Number', (a, b) => a.number < b.number],
    ];
    for (const [keyword, label, less] of columns) {
      await follow(page.locator(`a:has(img[alt="Sort By ${label}"])`));
      assert.equal(new URL(page.url()).pathname, `/cifscons/${keyword}`);
      assert.equal(await page.locator(`img[alt="Sorted By ${label}"]`).count(), 1, keyword);
      assert.deepEqual(await connectionNumbers(), numbers(pluginSort(connections, less)), keyword);
      await shot(`cons-sorted-${keyword}`);
    }
  });

  it('opens a connection and closes all its files', async () => {
    const state = demo.readState();
    const xssHolder = state.connections.find((connection) =>
      allOpenPaths({ connections: [connection] }).some((p) => p.endsWith(XSS_NAME)));
    const target = state.connections
      .filter((connection) => connection !== xssHolder)
      .reduce((most, connection) =>
        allOpenPaths({ connections: [connection] }).length >
        allOpenPaths({ connections: [most] }).length ? connection : most);
    const paths = allOpenPaths({ connections: [target] });
    assert.ok(paths.length >= 2, 'the chosen connection holds files');

    await follow(page.locator('tr.stripe-light, tr.stripe-dark')
      .filter({ has: page.locator('td:first-child', { hasText: new RegExp(`^\\s*${target.number}\\s*$`) }) })
      .getByRole('link'));
    assert.equal((await page.textContent('h1')).trim(), 'CIFS Connection Information');
    assert.equal((await page.textContent('font')).trim(), target.user);
    const body = await page.textContent('body');
    assert.ok(body.includes(target.address), 'the network address is shown');
    const shownFiles = await page.$$eval('input[type="submit"][value="Close File"]',
      (buttons) => buttons.map((button) => button.closest('tr').querySelectorAll('td')[1].textContent));
    assert.deepEqual(shownFiles.slice().sort(), paths.slice().sort());
    await shot('cons-detail');

    await withConfirmation(CLOSE_ALL_PROMPT, () =>
      follow(page.getByRole('link', { name: 'Close All Files' })));
    await shot('cons-after-close-all');
    const after = connectionOf(demo.readState(), target.number);
    assert.ok(after, 'the connection stays');
    assert.deepEqual(allOpenPaths({ connections: [after] }), []);
    // Only this connection's files went.
    assert.equal(allOpenPaths(demo.readState()).length,
      allOpenPaths(state).length - paths.length);

    await page.goto(demo.at(`/cifscons/ConnectionNumber/${target.number}`));
    assert.equal(await page.locator('input[type="submit"][value="Close File"]').count(), 0);
    await shot('cons-detail-no-files');
  });

  it('opens the plug-in\'s log from View Logs', async () => {
    await follow(page.locator('.kc-nav').getByRole('link', { name: 'View Logs' }));
    assert.equal((await page.textContent('h1')).trim(), 'CIFS System Logs');
    await shot('logs');
    const link = page.getByRole('link', { name: 'libkel2cifs.log', exact: true });
    assert.equal(await link.getAttribute('href'), `${demo.pluginLog}?VIEW`);
    const [response] = await Promise.all([page.waitForNavigation(), link.click()]);
    assert.equal(response.status(), 200);
    assert.match(response.headers()['content-type'], /^text\/plain/);
    const text = await page.textContent('body');
    assert.match(text, /^\[D \d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] URL = \/cifslogs/m);
    await shot('logs-plugin-log', { fullPage: false });  // the log is long

    // Only files of the log directory are shown.
    const outside = await page.goto(demo.at(`${demo.stateFile}?VIEW`));
    assert.equal(outside.status(), 404);
  });

  it('opens each help page through its link', async () => {
    const pages = [
      ['/cifsofm', '/cifsofm/help', 'CIFS Open File Management',
        'Use this page to view open file information for the selected volume.'],
      ['/cifscons', '/cifscons/help', 'CIFS Connections',
        'The CIFS Connections page displays the following information'],
      ['/cifscons/ConnectionNumber/1', '/cifscons/help/_info_', 'CIFS Connection Information',
        'Use this page to view details of a specific CIFS connection.'],
      ['/cifslogs', '/cifslogs/help', 'CIFS System Logs',
        'Use this page to view messages logged by the CIFS server'],
    ];
    for (const [from, help, heading, text] of pages) {
      await page.goto(demo.at(from));
      await follow(page.locator('a.kc-help'));
      assert.equal(new URL(page.url()).pathname, help);
      assert.equal((await page.textContent('h1')).trim(), heading);
      assert.ok((await page.textContent('body')).includes(text), help);
      await shot(`help${help.replaceAll('/', '-')}`);
    }
    await page.goto(demo.at('/cifsofm/help/help'));
    assert.ok((await page.textContent('body')).includes('Open File Information'));
    await shot('help-cifsofm-help-help');
  });

  it('shows the pages in German and in French to a browser that asks for them', async () => {
    const languages = [
      ['de', 'CIFS: Geöffnete Dateien verwalten', 'Geöffnete Dateien verwalten', 'Abmelden'],
      ['fr', 'Gérer les fichiers ouverts CIFS', 'Gérer les fichiers ouverts', 'Se déconnecter'],
    ];
    for (const [language, heading, navigation, logout] of languages) {
      const other = await context.newPage();
      try {
        // The context's own locale is English; this page's requests ask for the language.
        await other.route('**/*', (route) => route.continue({
          headers: { ...route.request().headers(), 'accept-language': `${language},en;q=0.5` },
        }));
        await other.goto(demo.at('/cifsofm'));
        assert.equal(await other.getAttribute('html', 'lang'), language);
        assert.equal((await other.textContent('h1')).trim(), heading);
        assert.ok((await other.title()).startsWith(heading), await other.title());
        await other.getByRole('link', { name: navigation }).waitFor();
        await other.getByRole('button', { name: logout }).waitFor();
        await other.screenshot({ path: path.join(demo.artifacts, `language-${language}.png`) });
      } finally {
        await other.close();
      }
    }
    // The administrator's own page is still English.
    await page.goto(demo.at('/cifsofm'));
    assert.equal(await page.getAttribute('html', 'lang'), 'en');
  });

  it('shows a file named as markup as text and runs nothing', async () => {
    const state = demo.readState();
    const holder = state.connections.find((connection) =>
      allOpenPaths({ connections: [connection] }).some((p) => p.endsWith(`/${XSS_NAME}`)));
    assert.ok(holder, 'the demo data holds the file');
    const entry = holder.openFiles.find((e) => e.paths.some((p) => p.endsWith(`/${XSS_NAME}`)));
    const fullPath = entry.paths.find((p) => p.endsWith(`/${XSS_NAME}`));
    const opened = dialogs.length;

    await page.goto(demo.at(`/cifsofm/${entry.volume}`));
    await page.fill('input[name="FILTER"][type="text"]', '*.doc');
    await follow(page.locator('input[type="submit"][value="Apply"]'));
    const rows = await openFileRows();
    assert.ok(rows.some((row) => row.path === fullPath), 'the name is shown as text');
    assert.equal(await page.locator('img[src="x"]').count(), 0);
    await shot('xss-ofm');

    await page.goto(demo.at(`/cifscons/ConnectionNumber/${holder.number}`));
    assert.ok((await page.textContent('body')).includes(fullPath));
    assert.equal(await page.locator('img[src="x"]').count(), 0);
    await shot('xss-connection');
    // Both pages were waited for up to their load event, which follows every image's error
    // event: an injected handler would have opened its dialog by now.
    assert.deepEqual(dialogs.slice(opened), []);
  });

  it('a link from another site carries no session', async () => {
    // A page on another site ("localhost" is not the site "127.0.0.1") links to the close-all
    // action of a connection that holds files: the SameSite=Strict cookie stays behind.
    const state = demo.readState();
    const victim = state.connections.find((c) => allOpenPaths({ connections: [c] }).length > 0);
    const action = `${demo.url}/cifscons/CIFSCloseFiles/${victim.number}/` +
      `%3Ccloseallfiles%3E${victim.number}%3C/closeallfiles%3E`;
    const foreign = http.createServer((request, response) => {
      response.writeHead(200, { 'Content-Type': 'text/html' });
      response.end(`<!DOCTYPE html><a id="go" href="${action}">win a prize</a>`);
    });
    foreign.listen(0, '127.0.0.1');
    await new Promise((resolve) => foreign.once('listening', resolve));
    try {
      await page.goto(`http://localhost:${foreign.address().port}/`);
      await follow(page.locator('#go'));
      assert.equal(new URL(page.url()).pathname, '/login');
      await shot('cross-site-link');
    } finally {
      foreign.close();
    }
    const after = connectionOf(demo.readState(), victim.number);
    assert.deepEqual(allOpenPaths({ connections: [after] }),
      allOpenPaths({ connections: [victim] }));
  });

  it('an account without rights is refused by every page', async () => {
    await context.clearCookies();
    await logIn(GUEST.name, GUEST.password);
    assert.equal((await page.textContent('.kc-user')).trim(), GUEST.name);
    for (const keyword of ['cifsofm', 'cifscons', 'cifslogs']) {
      await page.goto(demo.at(`/${keyword}`));
      assert.ok((await page.textContent('body')).includes('Unauthorized access denied'), keyword);
      await shot(`guest-${keyword}`);
    }
    // The error page's OK button leads home.
    await follow(page.locator('input[type="submit"][value="OK"]'));
    assert.equal(new URL(page.url()).pathname, '/');
  });

  it('stops cleanly on Ctrl-C', async () => {
    await context.close();
    context = null;
    assert.equal(await demo.stop(), 0);
    const stderr = fs.readFileSync(path.join(demo.artifacts, 'kelconsole-stderr.log'), 'utf8');
    assert.match(stderr, /unloaded .*libkel2cifs\.so/);
  });
});

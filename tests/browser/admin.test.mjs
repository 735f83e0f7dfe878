// admin.test.mjs: the pages beyond the three, in headless Chromium against the console with both
// plug-ins and demo data: finding a file by part of its name across volumes, the close preview
// and its banner, ending a session, the audit trail, auto-refresh keeping a selection, and
// axe-core on every new page (no critical or serious finding), also 390 pixels wide.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';
import { after, before, describe, it } from 'node:test';

import { DemoConsole, launchBrowser, makeTempRoot } from './harness.mjs';

const require = createRequire(import.meta.url);
const AXE_SOURCE = fs.readFileSync(require.resolve('axe-core/axe.min.js'), 'utf8');

const demo = new DemoConsole();
let profile;
let context;
let page;
let shots = 0;

async function shot(name) {
  shots += 1;
  const file = path.join(demo.artifacts, `admin-${String(shots).padStart(2, '0')}-${name}.png`);
  await page.screenshot({ path: file, fullPage: true });
}

async function follow(locator) {
  await Promise.all([page.waitForNavigation(), locator.click()]);
}

// The critical and serious findings of axe-core on the page as it stands.
async function seriousFindings() {
  await page.evaluate(AXE_SOURCE);
  const violations = await page.evaluate(async () => {
    const result = await globalThis.axe.run(document, { resultTypes: ['violations'] });
    return result.violations.map((violation) => ({
      id: violation.id,
      impact: violation.impact,
      nodes: violation.nodes.slice(0, 3).map((node) => node.target.join(' ')),
    }));
  });
  return violations.filter((violation) => ['critical', 'serious'].includes(violation.impact));
}

// axe-core at the desktop width and at 390 pixels, where nothing may widen the page itself
// (wide tables scroll in their own box).
async function checkAccessible(name) {
  for (const width of [1280, 390]) {
    await page.setViewportSize({ width, height: 900 });
    assert.deepEqual(await seriousFindings(), [], `${name} at ${width} px`);
    if (width === 390) {
      const overflow = await page.evaluate(
        () => document.documentElement.scrollWidth - document.documentElement.clientWidth);
      assert.ok(overflow <= 0, `${name} is ${overflow} px wider than a 390 px screen`);
      await shot(`${name}-390`);
    }
  }
  await page.setViewportSize({ width: 1280, height: 900 });
}

// Every open file of the demo state as the Find page lists them: one row per connection and path.
function allOpens(state) {
  return state.connections.flatMap((connection) => (connection.openFiles ?? []).flatMap(
    (group) => group.paths.map((filePath) => ({
      connection: connection.number, volume: group.volume, path: filePath,
    }))));
}

// A part of a file name that stands in opens on more than one volume, in other letter case.
function searchTextAcrossVolumes(state) {
  const volumesByName = new Map();
  for (const open of allOpens(state)) {
    const name = open.path.slice(open.path.lastIndexOf('/') + 1);
    if (name.length >= 6) {
      volumesByName.set(name, (volumesByName.get(name) ?? new Set()).add(open.volume));
    }
  }
  for (const [name, volumes] of volumesByName) {
    if (volumes.size > 1) {
      return name.slice(1, -2).toUpperCase();
    }
  }
  throw new Error('the demo state has no file name on two volumes');
}

function captionTotal(caption) {
  const match = caption.match(/Open files: (\d+) found/);
  assert.ok(match, caption);
  return Number(match[1]);
}

function stillOpen(state, connection, filePath) {
  return allOpens(state).some((open) => open.connection === connection && open.path === filePath);
}

before(async () => {
  await demo.start();
  profile = makeTempRoot();
  context = await launchBrowser(profile);
  page = context.pages()[0] ?? await context.newPage();
  await page.goto(demo.at('/'));
  await page.waitForURL(/\/login\b/);
  await page.fill('#kc-name', 'admin');
  await page.fill('#kc-password', demo.adminPassword);
  await follow(page.getByRole('button', { name: 'Log in' }));
});

after(async () => {
  await context?.close();
  if (profile) {
    fs.rmSync(profile, { recursive: true, force: true });
  }
  await demo.stop();
  demo.removeRoot();
});

describe('the pages beyond the three', () => {
  it('the home page offers Find Open Files, Sessions and the Audit Trail', async () => {
    await page.goto(demo.at('/'));
    for (const href of ['/cifsfind', '/cifssessions', '/audit', '/cifsofm', '/cifscons']) {
      assert.ok(await page.locator(`.kc-card a[href="${href}"]`).count() > 0, href);
    }
  });

  it('finds a file by part of its name across volumes, previews, closes it once', async () => {
    const state = demo.readState();
    const text = searchTextAcrossVolumes(state);
    const expected = allOpens(state).filter(
      (open) => open.path.toLowerCase().includes(text.toLowerCase()));

    await page.goto(demo.at('/cifsfind'));
    await checkAccessible('find');
    await page.fill('#adm-q', text);
    await follow(page.getByRole('button', { name: 'Apply' }));
    assert.equal(captionTotal(await page.textContent('caption')), expected.length);
    const volumes = new Set(await page.$$eval('tbody tr', (rows) =>
      rows.map((row) => row.querySelectorAll('td')[1].textContent)));
    assert.ok(volumes.size > 1, `results on one volume only: ${[...volumes]}`);

    // The first row's file, closed for its connection only.
    const box = page.locator('input[name="close"]').first();
    // The box carries "connection:path", the path percent-encoded.
    const [connectionText, ...rest] = (await box.getAttribute('value')).split(':');
    const target = { connection: Number(connectionText), path: decodeURIComponent(rest.join(':')) };
    await box.check();
    await follow(page.getByRole('button', { name: 'Close selected files' }));
    await checkAccessible('preview');
    const planned = await page.$$eval('tbody tr', (rows) => rows.map((row) => {
      const cells = row.querySelectorAll('td');
      return { path: cells[1].textContent, connection: Number(cells[2].textContent) };
    }));
    assert.deepEqual(planned, [target], 'the preview lists exactly the selected file');
    assert.ok(stillOpen(demo.readState(), target.connection, target.path),
      'a preview closes nothing');

    await follow(page.getByRole('button', { name: /^Confirm/ }));
    await shot('find-closed');
    const banner = await page.textContent('[role="status"]');
    assert.ok(banner.includes(target.path), banner);
    const after = demo.readState();
    assert.ok(!stillOpen(after, target.connection, target.path), 'the file is still open');
    // Other connections keep their opens of the same file.
    const others = expected.filter((open) => open.path === target.path &&
      open.connection !== target.connection);
    for (const other of others) {
      assert.ok(stillOpen(after, other.connection, other.path), 'another connection lost it');
    }

    // Reloading the page with the banner closes nothing again.
    const before = fs.readFileSync(demo.stateFile, 'utf8');
    await page.reload();
    assert.equal(fs.readFileSync(demo.stateFile, 'utf8'), before);
  });

  it('ends a session after a confirmation', async () => {
    await page.goto(demo.at('/cifssessions'));
    await checkAccessible('sessions');
    const number = Number(await page.textContent('tbody tr td'));
    assert.ok(demo.readState().connections.some((c) => c.number === number));
    await follow(page.locator('tbody tr').first().getByRole('button', { name: 'End' }));
    await checkAccessible('end-confirmation');
    assert.ok(demo.readState().connections.some((c) => c.number === number),
      'the confirmation page ended the session already');
    await follow(page.getByRole('button', { name: /^Confirm/ }));
    const banner = await page.textContent('[role="status"]');
    assert.match(banner, new RegExp(`Session ${number} of .* ended`));
    assert.ok(!demo.readState().connections.some((c) => c.number === number));
    await shot('session-ended');
  });

  it('the audit trail shows both actions with the account', async () => {
    await page.goto(demo.at('/audit'));
    await checkAccessible('audit');
    const rows = await page.$$eval('tbody tr', (trs) => trs.map((tr) => tr.textContent));
    assert.ok(rows.some((row) => row.includes('end session') && row.includes('admin')),
      rows.join('\n'));
    assert.ok(rows.some((row) => row.includes('close file') && row.includes('admin')),
      rows.join('\n'));
  });

  it('auto-refresh keeps the filter and the selection, and says when it last updated', async () => {
    await page.goto(demo.at('/cifsfind?q=.doc&size=5'));
    await page.selectOption('#adm-refresh', '10');
    // Choosing an interval acts only when applied.
    assert.match(page.url(), /q=\.doc/);
    assert.doesNotMatch(page.url(), /refresh=10/);
    await follow(page.getByRole('button', { name: 'Apply' }));
    assert.match(page.url(), /refresh=10/);
    const box = page.locator('input[name="close"]').nth(1);
    const value = await box.getAttribute('value');
    await box.check();
    const updated = await page.textContent('#adm-refresh-state');
    await page.waitForNavigation({ timeout: 30000 });
    await page.waitForLoadState('load');
    assert.equal(await page.inputValue('#adm-q'), '.doc');
    assert.ok(await page.locator(`input[name="close"][value="${value}"]`).isChecked(),
      'the selection was lost');
    assert.notEqual(await page.textContent('#adm-refresh-state'), updated);
  });
});

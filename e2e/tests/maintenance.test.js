// The start-up version check and the self-update, with a copy of quil in a
// folder of its own: the old copy swaps its program file and starts the new
// one with the same options, which then passes the check.
import assert from 'node:assert/strict';
import { chmodSync, copyFileSync, existsSync, mkdtempSync, readFileSync, rmSync, statSync, watch } from 'node:fs';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { describe, test } from 'node:test';
import { demoProxyAt } from '../lib/devproxy.js';
import { expectMessage } from '../lib/page_actions.js';
import { childrenOf, endProcess, freePort, pidListeningOn, processGone } from '../lib/processes.js';
import { BUILD, QUIL, callInPage, openPage, screenshot, startQuil } from '../lib/quil.js';
import { browserAndProxy } from '../lib/suite.js';

const suite = browserAndProxy();

const OUTDATED = '您目前使用的用戶端軟體版本過舊, 將為您自動進行軟體更新';
const RESTARTING = '接下來將為您更新及重新啟動用戶端軟體';
const DOWNLOAD_FAILED = '檔案下載失敗, 請稍後再重新嘗試檔案更新';
const CHECK_FAILED = '版本檢核失敗，請檢查您的網路連線狀態\n並在稍後再重新嘗試使用這個軟體';
const UPDATE_FAILED = '新版本軟體無法啟動, 已還原為原來的版本, 請稍後再重新嘗試軟體更新';
// Answers --version as quil does and fails as QUIL_UPDATE_STUB says (tests/support/linux/update_stub.cc).
const UPDATE_STUB = join(BUILD, 'tests', 'quil_update_stub');

// A copy of quil in a folder of its own; the folder's changes are recorded.
function programCopy() {
  const dir = mkdtempSync(join(tmpdir(), 'quil-update-'));
  const program = join(dir, 'quil');
  copyFileSync(QUIL, program);
  chmodSync(program, 0o755);
  const names = new Set();
  const watcher = watch(dir, (event, name) => { if (name) names.add(name); });
  return {
    dir, program, names,
    remove() { watcher.close(); rmSync(dir, { recursive: true, force: true }); },
  };
}

function cmdline(pid) {
  return readFileSync(`/proc/${pid}/cmdline`, 'utf8').split('\0').slice(0, -1);
}

function environ(pid) {
  return readFileSync(`/proc/${pid}/environ`, 'utf8').split('\0');
}

describe('start-up version check', () => {
  test('an outdated copy updates its file and restarts, and the new copy passes', async () => {
    const copy = programCopy();
    const originalInode = statSync(copy.program).ino;
    const port = await freePort();
    let newPid = null;
    await suite.proxy.admin('POST', 'version', { rtnCode: '1' });
    const quil = await startQuil({ command: [copy.program], args: ['--port', String(port)], env: suite.proxy.env });
    try {
      const page = await openPage(suite.browser, quil);
      await page.locator('.message-window').waitFor();
      assert.equal(await page.locator('#screen-start').isVisible(), true, 'the start screen shows meanwhile');
      assert.equal(await page.locator('#screen-overview').isVisible(), false);
      await screenshot(page, 'update-outdated');
      await expectMessage(page, OUTDATED);
      await page.locator('.message-window').waitFor();
      // The next start may go on: from now on the proxy accepts the version.
      await suite.proxy.admin('POST', 'version', { rtnCode: '0' });
      await expectMessage(page, RESTARTING);
      assert.equal((await quil.exited).code, 0, 'the old copy ends');
      await page.getByText('程式已結束').waitFor();

      // The new copy writes its address where the old one did.
      const address = new URL((await quil.nextLine()).trim());
      assert.equal(Number(address.port), port);
      newPid = pidListeningOn(port);
      assert.ok(newPid && newPid !== quil.child.pid);
      assert.deepEqual(cmdline(newPid), [copy.program, '--no-browser', '--port', String(port)]);
      assert.ok(environ(newPid).includes(`QUIL_PROXY_URL=${suite.proxy.env.QUIL_PROXY_URL}`));

      const fresh = await openPage(suite.browser, { url: address.href });
      await fresh.getByText('Version:1.9').waitFor();
      await fresh.locator('#login-name:not([disabled])').waitFor();
      assert.equal(await fresh.locator('#screen-overview').isVisible(), true, 'the new copy passed the check');

      assert.ok(copy.names.has('quil.new'), 'the update was downloaded beside the program');
      assert.ok(copy.names.has('quil.dpc'), 'the old program was retired beside it');
      assert.equal(existsSync(copy.program + '.dpc'), false, 'the new copy deleted the retired file');
      assert.equal(existsSync(copy.program + '.new'), false);
      assert.notEqual(statSync(copy.program).ino, originalInode, 'the program file was swapped');
      assert.ok(readFileSync(copy.program).equals(readFileSync(QUIL)), 'it is the update the proxy served');
      assert.equal(statSync(copy.program).mode & 0o777, 0o755);
    } finally {
      await suite.proxy.admin('POST', 'version', { rtnCode: '0' });
      if (newPid) await endProcess(newPid);
      await quil.stop();
      copy.remove();
    }
  });

  test('quil --demo shows a whole update, and every copy keeps the one demo proxy', async () => {
    const copy = programCopy();
    copyFileSync(join(BUILD, 'devproxy', 'quil-devproxy'), join(copy.dir, 'quil-devproxy'));
    chmodSync(join(copy.dir, 'quil-devproxy'), 0o755);
    const port = await freePort();
    let lastPid = null;
    const quil = await startQuil({ command: [copy.program], args: ['--demo', '--port', String(port)] });
    const [proxyPid] = childrenOf(quil.child.pid);
    try {
      const page = await openPage(suite.browser, quil);
      await page.getByText('Version:1.9').waitFor();
      const demo = demoProxyAt(join(quil.home, '.local', 'state', 'quil', 'demo'));
      // The next check refuses this version once; the page's restart meets it.
      await demo.admin('POST', 'version', { rtnCode: '1', times: 1 });
      await callInPage(page, 'openApp');

      const second = await openPage(suite.browser, { url: (await quil.nextLine()).trim() });
      await expectMessage(second, OUTDATED);
      await expectMessage(second, RESTARTING);
      const third = await openPage(suite.browser, { url: (await quil.nextLine()).trim() });
      // Three starts, two start-up checks and a download: slow on a busy machine.
      await third.locator('#login-name:not([disabled])').waitFor({ timeout: 90000 });
      await screenshot(third, 'update-done');

      lastPid = pidListeningOn(port);
      assert.deepEqual(cmdline(lastPid), [copy.program, '--no-browser', '--demo', '--port', String(port)]);
      assert.equal(processGone(proxyPid), false, 'the first demo proxy still serves');
      assert.ok(environ(lastPid).includes(`QUIL_DEMO_PROXY_PID=${proxyPid}`));
      assert.ok(copy.names.has('quil.dpc'));
      assert.equal(existsSync(copy.program + '.dpc'), false);
      await endProcess(lastPid);
      lastPid = null;
      assert.equal(processGone(proxyPid), true, 'the last copy stops the demo proxy');
    } finally {
      // A failure half-way leaves a restarted copy serving the port.
      lastPid ??= pidListeningOn(port);
      if (lastPid) await endProcess(lastPid);
      await quil.stop();
      if (!processGone(proxyPid)) await endProcess(proxyPid);
      copy.remove();
    }
  });

  test('a new program that ends at once makes way for the old one, which says so', async () => {
    const copy = programCopy();
    const stub = readFileSync(UPDATE_STUB);
    const server = createServer((req, res) => res.end(stub));
    await new Promise((r) => server.listen(0, '127.0.0.1', r));
    const settings = await suite.proxy.admin('GET', 'syscfg');
    await suite.proxy.admin('POST', 'version', { rtnCode: '1' });
    await suite.proxy.admin('POST', 'syscfg', {
      key: 'app.dlUrl', value: `http://127.0.0.1:${server.address().port}/QUILSetup`,
    });
    let restoredPid = null;
    const quil = await startQuil({ command: [copy.program], env: { ...suite.proxy.env, QUIL_UPDATE_STUB: 'exit' } });
    try {
      const page = await openPage(suite.browser, quil);
      await expectMessage(page, OUTDATED);
      await expectMessage(page, RESTARTING);
      assert.equal((await quil.exited).code, 0, 'the old copy ends once the old program is back');

      // The old program again, on the page's port, telling the customer.
      const address = new URL((await quil.nextLine()).trim());
      assert.equal(Number(address.port), quil.port);
      restoredPid = pidListeningOn(quil.port);
      assert.deepEqual(cmdline(restoredPid), [copy.program, '--no-browser', '--port', String(quil.port)]);
      const restored = await openPage(suite.browser, { url: address.href });
      await expectMessage(restored, UPDATE_FAILED);
      await restored.getByText('程式已結束').waitFor();
      assert.ok(readFileSync(copy.program).equals(readFileSync(QUIL)), 'the old program is in place');
      assert.equal(existsSync(copy.program + '.dpc'), false);
      assert.equal(existsSync(copy.program + '.new'), false);
      assert.ok(copy.names.has('quil.dpc'), 'the new program had been swapped in');
    } finally {
      await suite.proxy.admin('POST', 'version', { rtnCode: '0' });
      await suite.proxy.admin('POST', 'syscfg', { key: 'app.dlUrl', value: settings['app.dlUrl'] });
      if (restoredPid && !processGone(restoredPid)) await endProcess(restoredPid);
      await quil.stop();
      server.close();
      copy.remove();
    }
  });

  test('an error page served as the update changes nothing', async () => {
    const copy = programCopy();
    const settings = await suite.proxy.admin('GET', 'syscfg');
    await suite.proxy.admin('POST', 'version', { rtnCode: '1' });
    await suite.proxy.admin('POST', 'syscfg', {
      key: 'app.dlUrl', value: new URL(suite.proxy.baseUrl).origin + '/demo/mailbox',
    });
    const quil = await startQuil({ command: [copy.program], env: suite.proxy.env });
    try {
      const page = await openPage(suite.browser, quil);
      await expectMessage(page, OUTDATED);
      await expectMessage(page, DOWNLOAD_FAILED);
      assert.equal((await quil.exited).code, 0);
      assert.ok(readFileSync(copy.program).equals(readFileSync(QUIL)), 'the program file is as it was');
      assert.equal(existsSync(copy.program + '.new'), false);
      assert.equal(existsSync(copy.program + '.dpc'), false);
    } finally {
      await suite.proxy.admin('POST', 'version', { rtnCode: '0' });
      await suite.proxy.admin('POST', 'syscfg', { key: 'app.dlUrl', value: settings['app.dlUrl'] });
      await quil.stop();
      copy.remove();
    }
  });

  test('a proxy that does not answer ends the program after saying so', async () => {
    const env = { ...suite.proxy.env, QUIL_PROXY_URL: `https://127.0.0.1:${await freePort()}/PELIProxy/proxy/` };
    const quil = await startQuil({ env });
    try {
      const page = await openPage(suite.browser, quil);
      await expectMessage(page, /./);  // the network's own message first
      await expectMessage(page, CHECK_FAILED);
      assert.equal((await quil.exited).code, 0);
    } finally {
      await quil.stop();
    }
  });
});

// quil.exe, the Windows build, under Wine against the demo proxy, in one
// prefix from installation to removal: the setup program installs it for
// the user; the road of one application runs from the installed program
// (the PKCS#12 file it writes opens with openssl; with the store profile
// the certificate is in Wine's "MY" store of the current user, bound to a
// key container); it updates itself in the installed folder; the
// uninstaller removes the installation and leaves the customer's files;
// the setup upgrades an older installation, never under a running QUIL.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { existsSync, mkdtempSync, readFileSync, readdirSync, rmSync, statSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, before, describe, test } from 'node:test';
import { browserAndProxy } from '../lib/suite.js';
import {
  acceptAgreement, answerQuestion, confirmAgreement, expectMessage, loginToAgreement, newCustomer, submitSave,
} from '../lib/page_actions.js';
import { endProcess, pidListeningOn, processGone } from '../lib/processes.js';
import { ROOT, callApi, openPage, screenshot } from '../lib/quil.js';
import { QUIL_EXE, makeWinePrefix, startQuilExe, wineMissing, windowsPath } from '../lib/wine.js';
import {
  EXIT_QUIL_RUNNING, OLDER_QUIL_EXE, SETUP, SHORTCUT_NAME, UNINSTALL_KEY, answerWindow, assertSetupCurrent,
  packageSetup, programIconImages, programSubsystem, programVersion, readRegistryKey, readShellLink,
  runWindowsProgram, setupMissing, startWindowsProgram, userFolders, waitForPrefixIdle,
} from '../lib/windows_install.js';
import { hasXvfb, startXvfb } from '../lib/x_display.js';

const missing = wineMissing();
const noSetup = missing || setupMissing();
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

describe('quil.exe under Wine', { skip: missing || false }, () => {
  // The update the proxy serves is the freshly built quil.exe.
  const suite = browserAndProxy({ args: ['--update-file', QUIL_EXE] });
  let prefix;
  let folders;
  // The installed program once the setup test passed, else the built one.
  let program = QUIL_EXE;
  // What the road left that is the customer's.
  const customerFiles = [];
  // The older build's setup program is made while the other tests run.
  const olderOut = mkdtempSync(join(tmpdir(), 'quil-older-setup-'));
  let olderSetup;
  before(() => {
    if (!noSetup) {
      olderSetup = packageSetup(OLDER_QUIL_EXE, olderOut);
      olderSetup.catch(() => {});  // reported by the test that needs it
    }
    prefix = makeWinePrefix();
    folders = userFolders(prefix);
  });
  after(async () => {
    await olderSetup?.catch(() => {});
    prefix?.stop();
    rmSync(olderOut, { recursive: true, force: true });
  });

  const installedExe = () => `${folders.windowsPrograms}\\quil.exe`;
  const installedFiles = () => (existsSync(folders.programs) ? readdirSync(folders.programs).sort() : []);
  const shortcut = () => join(folders.startMenu, SHORTCUT_NAME);
  const keyFiles = () => {
    const dir = join(folders.profile, 'MERO');
    return existsSync(dir) ? readdirSync(dir).filter((f) => f.endsWith('.p8')).map((f) => join(dir, f)) : [];
  };
  const setup = (file, ...args) => runWindowsProgram(prefix, windowsPath(file), args);
  const uninstall = (...args) => runWindowsProgram(prefix, `${folders.windowsPrograms}\\Uninstall.exe`, args);

  // `ready`: wait until the start-up check has passed.
  async function session({ ready = true } = {}) {
    const quil = await startQuilExe(prefix, suite.proxy.env, { program });
    const page = await openPage(suite.browser, quil);
    if (ready) await page.getByText('Version:1.9').waitFor({ timeout: 60000 });
    return { quil, page };
  }

  test('the setup installs for the current user in silent mode', { skip: noSetup || false }, () => {
    assertSetupCurrent();
    assert.equal(setup(SETUP, '/S'), 0);

    assert.deepEqual(installedFiles(), ['Uninstall.exe', 'quil.exe']);
    const exe = join(folders.programs, 'quil.exe');
    const version = programVersion(exe);
    assert.equal(version.file, '1.9.0.0');
    assert.equal(version.product, '1.9.0.0');
    for (const [name, value] of [['FileDescription', 'QUIL 憑證管理'], ['ProductName', 'QUIL'],
      ['FileVersion', '1.9'], ['ProductVersion', '1.9']])
      assert.ok(version.strings.includes(`${name}\0${value}\0`) || version.strings.includes(`${name}\0\0${value}\0`),
        `the version resource says ${name} ${value}`);
    assert.equal(programSubsystem(exe), 2, 'a GUI program: its Start-menu entry opens no console window');
    const artwork = readFileSync(join(ROOT, 'packaging', 'icons', 'png', '256x256.png'));
    assert.ok(programIconImages(exe).some((image) => image.equals(artwork)), 'the icon is the Linux icons\' artwork');

    const link = readShellLink(shortcut());
    assert.equal(link.target.toLowerCase(), installedExe().toLowerCase());
    assert.equal(link.iconLocation.toLowerCase(), installedExe().toLowerCase());
    assert.equal(link.iconIndex, 0);
    assert.equal(link.workingDir.toLowerCase(), folders.windowsPrograms.toLowerCase());

    const key = readRegistryKey(prefix, UNINSTALL_KEY);
    const uninstaller = `${folders.windowsPrograms}\\Uninstall.exe`;
    const sizeKiB = installedFiles().reduce((sum, f) => sum + Math.ceil(statSync(join(folders.programs, f)).size / 1024), 0);
    assert.ok(Math.abs(key.EstimatedSize - sizeKiB) <= 2, `EstimatedSize ${key.EstimatedSize} KiB, files ${sizeKiB} KiB`);
    delete key.EstimatedSize;
    assert.deepEqual(key, {
      DisplayName: 'QUIL 憑證管理',
      DisplayVersion: '1.9',
      Publisher: 'QUIL developers',
      DisplayIcon: `${installedExe()},0`,
      InstallLocation: folders.windowsPrograms,
      UninstallString: `"${uninstaller}"`,
      QuietUninstallString: `"${uninstaller}" /S`,
      NoModify: 1,
      NoRepair: 1,
      VersionMajor: 1,
      VersionMinor: 9,
    });

    // Wine's own list of installed programs (its Apps & features) finds it.
    const listed = spawnSync('wine', ['uninstaller', '--list'], { env: prefix.env, encoding: 'utf8' });
    assert.match(listed.stdout, /^QUIL\|\|\|QUIL /m);

    const r = spawnSync('wine', [installedExe(), '--version'], { env: prefix.env, encoding: 'utf8' });
    assert.equal(r.status, 0, r.stderr);
    assert.equal(r.stdout.trim(), 'quil 1.9');
    program = installedExe();
  });

  test('the application writes a PKCS#12 file that openssl opens, into folders it makes', async () => {
    await suite.proxy.admin('POST', 'profile', { name: 'pfx' });
    const c = await newCustomer(suite.proxy, { sheetCodes: ['WN12PF'] });
    const { quil, page } = await session();
    try {
      // In the Windows user's profile, where the uninstaller must leave it,
      // in folders that do not exist yet, written as Windows writes paths.
      const file = join(folders.profile, 'new1', 'deeper', `${c.idno}.P12`);
      const keysBefore = keyFiles();
      await loginToAgreement(page, c);
      await acceptAgreement(page);
      // The default the program offers is a Windows path too, and so are the
      // folders its chooser lists.
      const offered = await page.locator('#save-path').inputValue();
      assert.match(offered, /^[A-Za-z]:\\[^/]*$/, offered);
      const listing = await page.evaluate(() => fetch('/api/fs').then((r) => r.json()));
      assert.equal(listing.separator, '\\');
      assert.match(listing.path, /^[A-Za-z]:\\[^/]*$/, listing.path);
      await submitSave(page, `${folders.windowsProfile}\\new1\\deeper\\${c.idno}.P12`, 'pfx12345');
      await expectMessage(page, '憑證儲存完成！');
      await answerQuestion(page, '您要現在將憑證匯入瀏覽器嗎？', false);
      await page.locator('#screen-overview').waitFor();
      await screenshot(page, 'windows-overview-with-certificate');

      const r = spawnSync('openssl', ['pkcs12', '-legacy', '-in', file, '-passin', 'pass:pfx12345', '-nodes'],
        { encoding: 'utf8' });
      assert.equal(r.status, 0, r.stderr);
      assert.match(r.stdout, new RegExp(c.idno));
      assert.match(r.stdout, /BEGIN PRIVATE KEY/);
      const newKeys = keyFiles().filter((f) => !keysBefore.includes(f));
      assert.equal(newKeys.length, 1, 'the request\'s key file is in the key folder');
      for (const f of [file, ...newKeys]) customerFiles.push({ path: f, bytes: readFileSync(f) });
    } finally {
      await quil.stop();
    }
  });

  test('with the store profile the certificate lands in the user\'s MY store with its key', async () => {
    await suite.proxy.admin('POST', 'profile', { name: 'store' });
    const c = await newCustomer(suite.proxy, { sheetCodes: ['WN34ST'] });
    const { quil, page } = await session();
    try {
      // The application installs the certificate itself: the page goes
      // straight to the success, with no save screen.
      await loginToAgreement(page, c);
      await confirmAgreement(page);
      await expectMessage(page, '憑證儲存完成！');
      await answerQuestion(page, '您要現在將憑證匯入瀏覽器嗎？', false);
      await page.locator('#screen-overview').waitFor();
      assert.equal(await page.locator('#screen-save').isVisible(), false);

      // The prefix is new: the one certificate of its MY store is this one.
      const certs = prefix.reg('query', 'HKCU\\Software\\Microsoft\\SystemCertificates\\MY\\Certificates', '/s');
      assert.equal(certs.status, 0, certs.stderr);
      const keys = certs.stdout.split(/\r?\n/).filter((l) => /\\Certificates\\[0-9A-F]{40}$/i.test(l.trim()));
      assert.equal(keys.length, 1, certs.stdout);
      const blobLine = certs.stdout.split(/\r?\n/).find((l) => l.includes('REG_BINARY'));
      const blob = Buffer.from(blobLine.trim().split(/\s+/).pop(), 'hex');
      assert.ok(blob.includes(Buffer.from(c.idno)), 'the certificate is the customer\'s');
      // Its key provider property names a container that Wine's provider keeps.
      const containers = prefix.reg('query', 'HKCU\\Software\\Wine\\Crypto\\RSA');
      assert.equal(containers.status, 0, containers.stderr);
      const named = containers.stdout.split(/\r?\n/).map((l) => l.trim().split('\\').pop())
        .filter((name) => name.length > 8 && blob.includes(Buffer.from(name, 'utf16le')));
      assert.equal(named.length, 1, `one container named in the certificate's properties: ${containers.stdout}`);
    } finally {
      await suite.proxy.admin('POST', 'profile', { name: 'pfx' });
      await quil.stop();
    }
  });

  test('the installed program updates itself in its folder', { skip: noSetup || false }, async () => {
    const exe = join(folders.programs, 'quil.exe');
    assert.ok(!readFileSync(exe).equals(readFileSync(QUIL_EXE)), 'the installed file is not the update yet');
    await suite.proxy.admin('POST', 'version', { rtnCode: '1', times: 1 });
    const { quil, page } = await session({ ready: false });
    let successor = null;
    try {
      await expectMessage(page, '您目前使用的用戶端軟體版本過舊, 將為您自動進行軟體更新');
      await expectMessage(page, '接下來將為您更新及重新啟動用戶端軟體');
      assert.equal((await quil.exited).code, 0, 'the old copy ends');
      // The new copy writes its address where the old one did.
      const address = new URL((await quil.nextLine()).trim());
      successor = { origin: address.origin, token: address.searchParams.get('token'), pid: pidListeningOn(Number(address.port)) };
      const fresh = await openPage(suite.browser, { url: address.href });
      await fresh.getByText('Version:1.9').waitFor({ timeout: 60000 });
      await fresh.locator('#login-name:not([disabled])').waitFor({ timeout: 60000 });
      assert.ok(readFileSync(exe).equals(readFileSync(QUIL_EXE)), 'the installed file is the update');
      // The new copy deletes the retired file once the old one has ended.
      for (const until = Date.now() + 30000; existsSync(exe + '.dpc') && Date.now() < until;) await sleep(200);
      assert.deepEqual(installedFiles(), ['Uninstall.exe', 'quil.exe']);
    } finally {
      await suite.proxy.admin('POST', 'version', { rtnCode: '0' });
      if (successor) {
        await callApi(successor, 'closeApp').catch(() => {});
        for (const until = Date.now() + 10000; successor.pid && !processGone(successor.pid) && Date.now() < until;) await sleep(100);
        if (successor.pid) await endProcess(successor.pid);
      }
      await quil.stop();
    }
  });

  test('the uninstaller removes the installation and leaves the customer\'s files', { skip: noSetup || false }, () => {
    assert.ok(customerFiles.length >= 2, 'the road left a PKCS#12 file and a key file');
    assert.equal(uninstall('/S'), 0);
    waitForPrefixIdle(prefix);

    assert.equal(existsSync(folders.programs), false, 'the program folder is gone');
    assert.equal(existsSync(shortcut()), false, 'the Start-menu entry is gone');
    assert.equal(readRegistryKey(prefix, UNINSTALL_KEY), null, 'the uninstall key is gone');
    for (const { path, bytes } of customerFiles) assert.ok(readFileSync(path).equals(bytes), `${path} is as it was`);
    // The remembered login and the other settings stay in the registry.
    assert.notEqual(readRegistryKey(prefix, 'HKCU\\Software\\MERO\\QUIL\\PELISecuritiesLoginInfo'), null);
  });

  test('the setup upgrades an older installation in place, never under a running QUIL', { skip: noSetup || false }, async () => {
    const older = await olderSetup;
    assert.match(older, /QUIL-1\.8-setup\.exe$/);
    assert.equal(setup(older, '/S'), 0);
    assert.equal(readRegistryKey(prefix, UNINSTALL_KEY).DisplayVersion, '1.8');
    const exe = join(folders.programs, 'quil.exe');
    assert.equal(programVersion(exe).file, '1.8.0.0');
    const before = readFileSync(exe);

    // A running QUIL: the silent setup ends with its code and changes nothing.
    const { quil } = await session();
    try {
      assert.equal(setup(SETUP, '/S'), EXIT_QUIL_RUNNING);
      assert.ok(readFileSync(exe).equals(before), 'the running program was left alone');
      assert.equal(readRegistryKey(prefix, UNINSTALL_KEY).DisplayVersion, '1.8');
      // The uninstaller run in place (_?=) hands back its own code.
      assert.equal(uninstall('/S', `_?=${folders.windowsPrograms}`), EXIT_QUIL_RUNNING);
      assert.deepEqual(installedFiles(), ['Uninstall.exe', 'quil.exe']);
      assert.ok(readFileSync(exe).equals(before), 'the uninstaller left the running program alone');
    } finally {
      await quil.stop();
    }

    assert.equal(setup(SETUP, '/S'), 0);
    assert.deepEqual(installedFiles(), ['Uninstall.exe', 'quil.exe'], 'one program');
    assert.equal(programVersion(exe).file, '1.9.0.0');
    assert.equal(readRegistryKey(prefix, UNINSTALL_KEY).DisplayVersion, '1.9');
    assert.deepEqual(readdirSync(folders.startMenu).filter((f) => f.includes('QUIL')), [SHORTCUT_NAME]);
    for (const { path, bytes } of customerFiles) assert.ok(readFileSync(path).equals(bytes), `${path} is as it was`);
  });

  test('run by hand, the setup asks to close a running QUIL and the uninstaller asks first',
    { skip: noSetup || (!hasXvfb && 'needs Xvfb and xdotool') || false }, async () => {
      // From here Wine's programs draw on a virtual display: the prefix has
      // no program left (the last test closed QUIL), so its desktop process
      // starts anew there.
      waitForPrefixIdle(prefix);
      const x = await startXvfb({ width: 1024, height: 768 });
      prefix.env.DISPLAY = x.display;
      try {
        const exe = join(folders.programs, 'quil.exe');
        const installed = readFileSync(exe);
        const { quil } = await session();
        try {
          const run = startWindowsProgram(prefix, windowsPath(SETUP));
          await answerWindow(x, 'QUIL 憑證管理 安裝', 'Escape', 'windows-setup-asks-to-close-quil');
          assert.equal(await run, 1, 'the setup was cancelled');
          assert.ok(readFileSync(exe).equals(installed), 'the running program was left alone');
        } finally {
          await quil.stop();
        }
        // Its first page says what goes and what stays; cancelled, nothing goes.
        const run = startWindowsProgram(prefix, `${folders.windowsPrograms}\\Uninstall.exe`,
          [`_?=${folders.windowsPrograms}`]);
        await answerWindow(x, 'QUIL 憑證管理 解除安裝', 'Escape', 'windows-uninstaller-first-page');
        assert.equal(await run, 1, 'the uninstaller was cancelled');
        assert.deepEqual(installedFiles(), ['Uninstall.exe', 'quil.exe']);
        assert.notEqual(readRegistryKey(prefix, UNINSTALL_KEY), null);
        waitForPrefixIdle(prefix);
      } finally {
        delete prefix.env.DISPLAY;
        await x.stop();
      }
    });
});

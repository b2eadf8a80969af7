// QUIL's Windows installer under Wine: runs the setup program and the
// uninstaller the way Windows starts them, and reads back what they left
// (program folder, Start-menu shortcut, uninstall key, version resources)
// from the prefix's files.
import { execFile, execFileSync, spawn, spawnSync } from 'node:child_process';
import { closeSync, existsSync, mkdirSync, openSync, readFileSync, readdirSync, rmSync, statSync } from 'node:fs';
import { join } from 'node:path';
import { BUILD, OUT, ROOT } from './quil.js';
import { writeScreenPng } from './x_display.js';
import { QUIL_EXE } from './wine.js';

export const SETUP = join(BUILD, 'windows', 'package', 'QUIL-1.9-setup.exe');
// The same program with a version resource saying 1.8 (a test build).
export const OLDER_QUIL_EXE = join(BUILD, 'windows', 'tests', 'packaging', 'older', 'quil.exe');
export const UNINSTALL_KEY = 'HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QUIL';
export const SHORTCUT_NAME = 'QUIL 憑證管理.lnk';
// A silent setup or uninstall that found QUIL running ends with this code.
export const EXIT_QUIL_RUNNING = 1618;

// What is missing for the installer's tests, or ''.
export function setupMissing() {
  for (const tool of ['wrestool', 'makensis'])
    if (spawnSync(tool, ['--version']).error) return `${tool} is not installed (scripts/install-deps.sh)`;
  if (!existsSync(SETUP)) return `${SETUP} is not built (scripts/windows/package.sh)`;
  if (!existsSync(OLDER_QUIL_EXE)) return `${OLDER_QUIL_EXE} is not built (scripts/windows/build.sh)`;
  return '';
}

// The setup program must have been made from the quil.exe built now.
export function assertSetupCurrent() {
  if (statSync(SETUP).mtimeMs < statSync(QUIL_EXE).mtimeMs)
    throw new Error(`${SETUP} is older than ${QUIL_EXE}: run scripts/windows/package.sh`);
}

// Packs another quil.exe into a setup program in `out` (package.sh --exe);
// resolves to its path.
export function packageSetup(exe, out) {
  return new Promise((resolve, reject) => {
    execFile(join(ROOT, 'scripts', 'windows', 'package.sh'), ['--exe', exe, '--out', out], { timeout: 300000 },
      (error, stdout, stderr) => (error ? reject(new Error(`package.sh: ${error.message} ${stderr}`)) : resolve(stdout.trim())));
  });
}

// The Windows user's folders of the prefix, as Unix paths.
export function userFolders(prefix) {
  const users = join(prefix.env.WINEPREFIX, 'drive_c', 'users');
  const user = readdirSync(users).find((u) => u !== 'Public');
  const profile = join(users, user);
  return {
    user,
    profile,
    windowsProfile: `C:\\users\\${user}`,
    programs: join(profile, 'AppData', 'Local', 'Programs', 'QUIL'),
    windowsPrograms: `C:\\users\\${user}\\AppData\\Local\\Programs\\QUIL`,
    startMenu: join(profile, 'AppData', 'Roaming', 'Microsoft', 'Windows', 'Start Menu', 'Programs'),
  };
}

// Runs a Windows program through cmd's "start /wait", which hands back its
// whole exit code (wine gives a Unix parent only the low 8 bits). The
// output goes into a file, not a pipe: a program the run starts (Wine's
// desktop process) keeps it open for as long as the prefix has programs.
function windowsRun(prefix, program, args) {
  const quote = (s) => (/[\s&()^]/.test(s) ? `"${s}"` : s);
  const line = ['start', '/wait', '""', quote(program.replace(/\//g, '\\')), ...args.map(quote)].join(' ') +
    ' & echo exit=%ERRORLEVEL%';
  const file = join(prefix.env.TMPDIR, `run-${process.pid}-${Date.now()}-${Math.random()}.out`);
  const fd = openSync(file, 'w');
  return {
    command: ['wine', ['cmd', '/c', line], { env: prefix.env, stdio: ['ignore', fd, fd], timeout: 300000 }],
    code() {
      closeSync(fd);
      const output = readFileSync(file, 'utf8');
      rmSync(file, { force: true });
      const m = /exit=(-?\d+)/.exec(output);
      if (!m) throw new Error(`${program} did not run: ${output}`);
      return Number(m[1]);
    },
  };
}

export function runWindowsProgram(prefix, program, args = []) {
  const run = windowsRun(prefix, program, args);
  spawnSync(...run.command);
  return run.code();
}

// The same, while the test goes on (a program that shows a window).
export function startWindowsProgram(prefix, program, args = []) {
  const run = windowsRun(prefix, program, args);
  return new Promise((resolve, reject) => {
    const child = spawn(...run.command);
    child.on('error', reject);
    child.on('exit', () => {
      try { resolve(run.code()); } catch (e) { reject(e); }
    });
  });
}

// Waits for a window whose title begins with `title` on the X display
// (NSIS ends some captions with a space), takes a screenshot into e2e/out
// and presses `key` in it.
export async function answerWindow(display, title, key, screenshotName) {
  const xdotool = (...args) => new Promise((resolve, reject) => {
    execFile('/usr/bin/xdotool', args, { env: { DISPLAY: display.display }, timeout: 120000 },
      (error, stdout) => (error ? reject(error) : resolve(stdout.trim())));
  });
  const [window] = (await xdotool('search', '--sync', '--name', `^${title}`)).split('\n');
  await new Promise((r) => setTimeout(r, 1000));  // drawn
  mkdirSync(OUT, { recursive: true });
  writeScreenPng(display.screen(), join(OUT, `${screenshotName}.png`));
  await xdotool('windowfocus', '--sync', window);
  await xdotool('key', '--window', window, key);
}

// Waits until every program of the prefix has ended (an NSIS uninstaller
// goes on from a copy of itself in %TEMP% after the one started returns).
export function waitForPrefixIdle(prefix) {
  execFileSync('wineserver', ['-w'], { env: prefix.env, stdio: 'ignore', timeout: 120000 });
}

// The values of a registry key (REG_SZ as text, REG_DWORD as numbers), or
// null when it does not exist; read through a UTF-16 export, which keeps
// the Chinese text that reg query's console output loses.
export function readRegistryKey(prefix, key) {
  const file = join(prefix.env.TMPDIR, `export-${process.pid}-${Date.now()}.reg`);
  const r = spawnSync('wine', ['reg', 'export', key, 'Z:' + file, '/y'], { env: prefix.env, encoding: 'utf8' });
  if (r.status !== 0 || !existsSync(file)) return null;
  const text = readFileSync(file).toString('utf16le').replace(/^\uFEFF/, '');
  rmSync(file, { force: true });
  const values = {};
  const unescape = (s) => s.replace(/\\(.)/g, '$1');
  for (const line of text.split(/\r?\n/)) {
    let m = /^"((?:[^"\\]|\\.)*)"="((?:[^"\\]|\\.)*)"$/.exec(line);
    if (m) values[unescape(m[1])] = unescape(m[2]);
    m = /^"((?:[^"\\]|\\.)*)"=dword:([0-9a-f]{8})$/i.exec(line);
    if (m) values[unescape(m[1])] = parseInt(m[2], 16);
  }
  return values;
}

// The file and product version of a program's version resource
// ("1.9.0.0"), read from its VS_FIXEDFILEINFO.
export function programVersion(exe) {
  const raw = execFileSync('wrestool', ['-x', '--raw', '--type=16', exe]);
  const at = raw.indexOf(Buffer.from([0xbd, 0x04, 0xef, 0xfe]));
  if (at < 0) return null;
  const v = (ms, ls) => [ms >>> 16, ms & 0xffff, ls >>> 16, ls & 0xffff].join('.');
  return {
    file: v(raw.readUInt32LE(at + 8), raw.readUInt32LE(at + 12)),
    product: v(raw.readUInt32LE(at + 16), raw.readUInt32LE(at + 20)),
    strings: raw.toString('utf16le'),
  };
}

// The subsystem in a program's PE header: 2 a GUI program, 3 a console one.
export function programSubsystem(exe) {
  const b = readFileSync(exe);
  return b.readUInt16LE(b.readUInt32LE(0x3c) + 0x5c);
}

// The images of a program's icon resources.
export function programIconImages(exe) {
  const list = execFileSync('wrestool', ['-l', '--type=3', exe], { encoding: 'utf8' });
  return [...list.matchAll(/--name=(\d+)/g)].map(([, name]) =>
    execFileSync('wrestool', ['-x', '--raw', '--type=3', `--name=${name}`, exe]));
}

// A shell link (.lnk): its target, working folder, arguments, icon and
// description, from the link's header and string data.
export function readShellLink(file) {
  const b = readFileSync(file);
  if (b.readUInt32LE(0) !== 0x4c) throw new Error(`${file} is not a shell link`);
  const flags = b.readUInt32LE(0x14);
  const link = { iconIndex: b.readInt32LE(0x38), showCommand: b.readUInt32LE(0x3c) };
  let at = 0x4c;
  if (flags & 0x1) at += 2 + b.readUInt16LE(at);  // the target's item list
  if (flags & 0x2) {
    const info = at;
    const localBase = b.readUInt32LE(info + 0x10);
    if (localBase) link.target = b.toString('latin1', info + localBase, b.indexOf(0, info + localBase));
    at += b.readUInt32LE(info);
  }
  const unicode = Boolean(flags & 0x80);
  for (const [bit, name] of [[0x4, 'description'], [0x8, 'relativePath'], [0x10, 'workingDir'],
    [0x20, 'arguments'], [0x40, 'iconLocation']]) {
    if (!(flags & bit)) continue;
    const count = b.readUInt16LE(at);
    const bytes = count * (unicode ? 2 : 1);
    link[name] = b.toString(unicode ? 'utf16le' : 'latin1', at + 2, at + 2 + bytes).replace(/\0+$/, '');
    at += 2 + bytes;
  }
  return link;
}

// quil.exe, the Windows build, under Debian's wine: a 64-bit prefix of its
// own for a test file (so Wine's registry and certificate stores start
// empty), and the way to reach what it wrote.
import { execFileSync, spawnSync } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { BUILD, callApi, startQuil } from './quil.js';

export const QUIL_EXE = join(BUILD, 'windows', 'src', 'quil.exe');

// What is missing for the Windows run, or '' when it can run.
export function wineMissing() {
  if (!existsSync(QUIL_EXE)) return `${QUIL_EXE} is not built (scripts/windows/build.sh)`;
  if (spawnSync('wine', ['--version']).status !== 0) return 'wine is not installed';
  return '';
}

// A Unix path as the Windows program sees it (Wine's Z: drive).
export const windowsPath = (unixPath) => 'Z:' + unixPath;

export function makeWinePrefix() {
  const root = mkdtempSync(join(tmpdir(), 'quil-wine-'));
  mkdirSync(join(root, 'tmp'));
  const env = {
    ...process.env,
    // Wine finds the prefix's server under TMPDIR: every program on this
    // prefix (quil.exe included, whose home has a TMPDIR of its own) gets the
    // same one, or a second server keeps a registry of its own.
    TMPDIR: join(root, 'tmp'),
    WINEPREFIX: join(root, 'prefix'),
    WINEARCH: 'win64',
    WINEDEBUG: '-all',
    // No Mono or Gecko prompts, and no Linux menu entries for the
    // shortcuts an installer makes.
    WINEDLLOVERRIDES: 'mscoree,mshtml,winemenubuilder.exe=',
  };
  execFileSync('wineboot', ['--init'], { env, stdio: 'ignore', timeout: 300000 });
  // wineboot returns while the prefix's set-up still runs; until it ends the
  // crypto providers are not registered and OpenSSL finds no seed
  // ("Insufficient randomness" on the first TLS exchange).
  execFileSync('wineserver', ['-w'], { env, stdio: 'ignore', timeout: 300000 });
  return {
    env,
    // Wine's reg.exe on the prefix's registry.
    reg: (...args) => spawnSync('wine', ['reg', ...args], { env, encoding: 'utf8' }),
    stop() {
      spawnSync('wineserver', ['-k'], { env });
      rmSync(root, { recursive: true, force: true });
    },
  };
}

// Starts quil.exe --no-browser in the prefix with the proxy's variables,
// its file paths turned into Windows ones; `program` is another quil.exe
// (an installed one, by its Windows path). Stopping asks it to close.
export async function startQuilExe(prefix, proxyEnv, { program = QUIL_EXE, args = [] } = {}) {
  const env = { ...prefix.env, ...proxyEnv };
  for (const name of ['QUIL_PROXY_PUBKEY', 'QUIL_PROXY_CA'])
    if (env[name]) env[name] = windowsPath(env[name]);
  const quil = await startQuil({ env, args, command: ['wine', program] });
  const kill = quil.stop;
  quil.stop = async () => {
    // A program stuck in a method answers nothing: the signal ends it then.
    let timer;
    const grace = new Promise((res) => { timer = setTimeout(res, 10000); });
    await Promise.race([callApi(quil, 'closeApp').catch(() => {}), quil.exited, grace]);
    clearTimeout(timer);
    await kill.call(quil);
  };
  return quil;
}

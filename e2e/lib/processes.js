// Finding and ending the processes a test started, always by process id.
import { readFileSync, readdirSync, readlinkSync, rmSync } from 'node:fs';
import { createServer } from 'node:net';

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const pids = () => readdirSync('/proc').filter((d) => /^\d+$/.test(d)).map(Number);

function readStat(pid) {
  try {
    const text = readFileSync(`/proc/${pid}/stat`, 'utf8');
    const [state, ppid] = text.slice(text.lastIndexOf(')') + 2).split(' ');
    return { state, ppid: Number(ppid) };
  } catch {
    return null;
  }
}

// The process listening on the loopback TCP port, or null.
export function pidListeningOn(port) {
  const hexPort = ':' + port.toString(16).toUpperCase().padStart(4, '0');
  const inodes = new Set();
  for (const table of ['/proc/net/tcp', '/proc/net/tcp6']) {
    let lines = [];
    try { lines = readFileSync(table, 'utf8').split('\n').slice(1); } catch { continue; }
    for (const line of lines) {
      const f = line.trim().split(/\s+/);
      if (f.length > 9 && f[1].endsWith(hexPort) && f[3] === '0A') inodes.add(`socket:[${f[9]}]`);
    }
  }
  if (inodes.size === 0) return null;
  for (const pid of pids()) {
    let fds = [];
    try { fds = readdirSync(`/proc/${pid}/fd`); } catch { continue; }
    for (const fd of fds) {
      try {
        if (inodes.has(readlinkSync(`/proc/${pid}/fd/${fd}`))) return pid;
      } catch { /* closed meanwhile */ }
    }
  }
  return null;
}

// A loopback port the system has just given out as free, for a program
// that must be told its port (and keep it across restarts).
export function freePort() {
  return new Promise((resolve, reject) => {
    const server = createServer();
    server.on('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

// Waits until a process listens on the port; resolves to its id or null.
export async function waitForListener(port, timeoutMs = 10000) {
  for (const until = Date.now() + timeoutMs; Date.now() < until; await sleep(100)) {
    const pid = pidListeningOn(port);
    if (pid) return pid;
  }
  return null;
}

export function childrenOf(pid) {
  return pids().filter((p) => readStat(p)?.ppid === pid);
}

// True once the process has ended (a zombie nobody reaps has ended too).
export function processGone(pid) {
  const stat = readStat(pid);
  return !stat || stat.state === 'Z';
}

// Sends SIGTERM to the process and waits until it has ended.
export async function endProcess(pid, timeoutMs = 10000) {
  try {
    process.kill(pid, 'SIGTERM');
  } catch {
    return;
  }
  for (const until = Date.now() + timeoutMs; !processGone(pid); await sleep(50))
    if (Date.now() > until) throw new Error(`process ${pid} did not end`);
}

// Every process below `pid` now (children, their children, ...).
export function descendantsOf(pid) {
  const out = [];
  for (let level = [pid]; level.length;) {
    level = level.flatMap(childrenOf);
    out.push(...level);
  }
  return out;
}

// Waits, at most `timeoutMs`, until all of `pidList` have ended; true if
// they have.
export async function processesGone(pidList, timeoutMs = 10000) {
  for (const until = Date.now() + timeoutMs; ; await sleep(50)) {
    if (pidList.every(processGone)) return true;
    if (Date.now() > until) return false;
  }
}

// Removes a scratch folder of a test or bench. Removing it never fails the
// run: what is still being written (a browser's helper processes write its
// profile for a moment after it has gone) is tried again for a while, and
// what stays is left with a warning.
export async function removeScratch(dir, timeoutMs = 10000) {
  for (const until = Date.now() + timeoutMs; ; await sleep(200)) {
    try {
      rmSync(dir, { recursive: true, force: true });
      return true;
    } catch (e) {
      if (Date.now() > until) {
        process.emitWarning(`scratch folder ${dir} left behind: ${e.code || e.message}`);
        return false;
      }
    }
  }
}

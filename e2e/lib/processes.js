// Finding and ending the processes a test started, always by process id.
import { readFileSync, readdirSync, readlinkSync } from 'node:fs';

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

// The page's reader of reply texts under random mutation of valid replies:
// it returns an object of strings (and the one list of such objects) or
// throws a ReplyError, never anything else; it never runs any of the text
// and never touches a prototype.
//
//   node fuzz/reply_reader_fuzz.mjs [SECONDS] [SEED]
import { ReplyError, readReply } from '../src/pages/www/js/reply_reader.js';

const seconds = Number(process.argv[2] ?? 10);
let seed = Number(process.argv[3] ?? Date.now() % 2147483647);
const startSeed = seed;
const next = (n) => {
  seed = (seed * 48271) % 2147483647;
  return seed % n;
};

const SEEDS = [
  "{'errCode':'0','errMsg':''}",
  "{'errCode':'53705','errMsg':'<53705>用戶端版本資訊不符'}",
  "{'errCode':'0','pfxFilePath':'C:\\\\a\\\\b.P12'}",
  "{'errCode':'0','errMsg':'','serial':'9F','moCerts':[{'cn':'A-M1','serial':'1'},{}]}",
  "{'errCode':'0','rtnMsg':'a,b}{c:d#e','__proto__':'x','constructor':'y'}",
  "{'errCode':'1','errMsg':'','b64Cert':'MIIB','applyId':'0'}",
];
const PIECES = ["'", '\\', '{', '}', '[', ']', ',', ':', "moCerts", '__proto__', 'constructor', 'prototype',
  '});alert(1);({', '\u2028', '\0', '憑', "''", "':'", "','", "'moCerts':[", ' ', '\n', 'x'];

function mutate(text) {
  let s = text;
  for (let k = 1 + next(4); k > 0; --k) {
    const at = next(s.length + 1);
    switch (next(4)) {
      case 0: s = s.slice(0, at) + PIECES[next(PIECES.length)] + s.slice(at); break;
      case 1: s = s.slice(0, at) + s.slice(at + 1 + next(3)); break;
      case 2: s = s.slice(0, at) + String.fromCharCode(next(0x3100)) + s.slice(at + 1); break;
      default: { const other = SEEDS[next(SEEDS.length)]; s = s.slice(0, at) + other.slice(next(other.length)); }
    }
  }
  return s;
}

function checkShape(value, allowList) {
  if (typeof value !== 'object' || value === null || Array.isArray(value)) throw new Error('not an object');
  if (Object.getPrototypeOf(value) !== Object.prototype) throw new Error('prototype changed');
  for (const [k, v] of Object.entries(value)) {
    if (typeof v === 'string') continue;
    if (!(allowList && k === 'moCerts' && Array.isArray(v))) throw new Error(`field ${k} is not text`);
    for (const item of v) checkShape(item, false);
  }
}

// Texts hold calls of alert(): one that ran would leave its mark.
globalThis.alert = () => { globalThis.alerted = true; };
const prototypeKeys = Object.getOwnPropertyNames(Object.prototype).join();
let runs = 0;
let accepted = 0;
const until = Date.now() + seconds * 1000;
while (Date.now() < until) {
  for (let i = 0; i < 1000; ++i) {
    const text = mutate(SEEDS[next(SEEDS.length)]);
    runs += 1;
    try {
      checkShape(readReply(text), true);
      accepted += 1;
    } catch (e) {
      if (!(e instanceof ReplyError)) {
        console.error(`reply_reader_fuzz: seed ${startSeed}: ${e.message} on ${JSON.stringify(text)}`);
        process.exit(1);
      }
    }
    if (globalThis.alerted !== undefined || Object.getOwnPropertyNames(Object.prototype).join() !== prototypeKeys) {
      console.error(`reply_reader_fuzz: seed ${startSeed}: a reply reached the global scope: ${JSON.stringify(text)}`);
      process.exit(1);
    }
  }
}
console.log(`reply_reader_fuzz: ${runs} texts in ${seconds} s (${accepted} read, the rest refused), seed ${startSeed}`);

// The page's text helpers keep the meaning of the regular expressions they
// replace, in time that stays linear (trimming) or bounded by the product of
// the lengths (file filters) for any input.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { filterMatches } from '../../src/pages/www/js/file_filter.js';
import { trim, trimBoth } from '../../src/pages/www/js/page_state.js';

// The expressions as the page once ran them.
const regexTrim = (s) => s.replace(/^\s+|\s+$/, '');
const regexTrimBoth = (s) => s.replace(/^\s+|\s+$/g, '');
function regexFilter(pattern, name) {
  if (pattern === '*.*' || pattern === '*') return true;
  const escaped = pattern.split('*').map((p) => p.replace(/[.+?^${}()|[\]\\]/g, '\\$&'));
  return new RegExp('^' + escaped.join('.*') + '$', 'i').test(name);
}

// A fixed-seed generator, so a failure repeats.
function generator(seed) {
  let x = seed;
  return (n) => {
    x = (x * 1103515245 + 12345) % 2147483648;
    return x % n;
  };
}

function randomText(next, alphabet, max) {
  let s = '';
  for (let n = next(max + 1); n > 0; --n) s += alphabet[next(alphabet.length)];
  return s;
}

test('trimming agrees with the expressions it replaces', () => {
  const next = generator(7);
  const alphabet = [' ', '\t', '\n', '\r', '\v', '\u00a0', '\u3000', '\u2028', '\ufeff', 'a', '字', '-'];
  for (let i = 0; i < 5000; ++i) {
    const s = randomText(next, alphabet, 12);
    assert.equal(trim(s), regexTrim(s), JSON.stringify(s));
    assert.equal(trimBoth(s), regexTrimBoth(s), JSON.stringify(s));
  }
  assert.equal(trim(undefined), '');
  assert.equal(trimBoth(null), '');
});

test('file filters agree with the expressions they replace', async (t) => {
  const next = generator(11);
  const names = ['a', 'A', '.', 'p', 'P', '1', '2', '\n', 'ß', 'ı', 'é', '*'];
  const patterns = ['*.P12', '*.p12', 'A*', '*a*.*1', 'a.b', '*', '*.*', '**', '', 'ß*', '*\n*', '?.p12', 'a+'];
  for (const pattern of patterns) {
    await t.test(JSON.stringify(pattern), () => {
      for (let i = 0; i < 2000; ++i) {
        const name = randomText(next, names, 8);
        assert.equal(filterMatches(pattern, name), regexFilter(pattern, name), JSON.stringify(name));
      }
    });
  }
  assert.equal(filterMatches('*.P12', 'cert.p12'), true);
  assert.equal(filterMatches('*.P12', 'cert.p12.bak'), false);
});

// Inputs on which a backtracking engine takes time exponential in the
// number of stars, or quadratic in the length of a blank run.
test('many stars and long names complete', () => {
  const name = 'a'.repeat(5000);
  assert.equal(filterMatches('*a'.repeat(30) + '*b', name), false);
  assert.equal(filterMatches('*a'.repeat(30) + '*', name), true);
  const blanks = ' '.repeat(1 << 20) + 'x';
  assert.equal(trim('x' + blanks), 'x' + blanks);
  assert.equal(trimBoth(blanks + ' '), 'x');
});

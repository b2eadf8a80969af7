// The file choosers' filters ("*.P12", "*.*"): "*" stands for any run of
// characters within one line, everything else for itself, letters compared
// without regard to case. Time grows with the product of the two lengths,
// whatever the pattern.

const LINE_TERMINATORS = '\n\r\u2028\u2029';

// Letters as a case-insensitive regular expression compares them.
function canonical(ch) {
  const upper = ch.toUpperCase();
  if (upper.length !== 1) return ch;
  if (ch.charCodeAt(0) >= 128 && upper.charCodeAt(0) < 128) return ch;
  return upper;
}

export function filterMatches(pattern, name) {
  if (pattern === '*.*' || pattern === '*') return true;
  // fits[j]: the pattern read so far matches the first j characters of name.
  let fits = Array.from({ length: name.length + 1 }, (_, j) => j === 0);
  for (const ch of pattern.split('')) {
    const next = new Array(name.length + 1).fill(false);
    for (let j = 0; j <= name.length; ++j) {
      if (ch === '*') next[j] = fits[j] || (j > 0 && next[j - 1] && !LINE_TERMINATORS.includes(name[j - 1]));
      else next[j] = j > 0 && fits[j - 1] && canonical(ch) === canonical(name[j - 1]);
    }
    fits = next;
  }
  return fits[name.length];
}

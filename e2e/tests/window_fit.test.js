// The size the page asks its window for: the page whole at its zoom, with
// the browser's frame and bars, never beyond the screen's free area. The
// browser gives whole CSS pixels, so a zoomed size may be a pixel off.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { fittedWindow } from '../../src/pages/www/js/window_fit.js';

const SCREEN = { availWidth: 1366, availHeight: 768, availLeft: 0, availTop: 0 };

test('fittedWindow', async (t) => {
  const cases = [
    ['100 %, the first guess already right',
      { outerWidth: 687, outerHeight: 470, innerWidth: 687, innerHeight: 470, screenX: 0, screenY: 0 },
      { width: 687, height: 470, left: 0, top: 0 }],
    ['100 %, a window manager\'s title bar and the --no-sandbox bar',
      { outerWidth: 687, outerHeight: 470, innerWidth: 687, innerHeight: 379, screenX: 0, screenY: 0 },
      { width: 687, height: 561, left: 0, top: 0 }],
    ['100 %, the old window with a strip right and a band below',
      { outerWidth: 703, outerHeight: 540, innerWidth: 703, innerHeight: 484, screenX: 0, screenY: 0 },
      { width: 687, height: 526, left: 0, top: 0 }],
    ['150 %: grows with the page',
      { outerWidth: 687, outerHeight: 526, innerWidth: 458, innerHeight: 313, screenX: 0, screenY: 0 },
      { width: 1031, height: 761, left: 0, top: 0 }],
    ['200 %: as large as the screen, the rest scrolls',
      { outerWidth: 687, outerHeight: 526, innerWidth: 343, innerHeight: 235, screenX: 0, screenY: 0 },
      { width: 1366, height: 768, left: 0, top: 0 }],
    ['moved back onto the screen when it grows past the edge',
      { outerWidth: 687, outerHeight: 470, innerWidth: 458, innerHeight: 313, screenX: 600, screenY: 400 },
      { width: 1031, height: 705, left: 335, top: 63 }],
    ['a small screen',
      { outerWidth: 687, outerHeight: 470, innerWidth: 687, innerHeight: 470, screenX: 0, screenY: 0,
        availWidth: 640, availHeight: 400 },
      { width: 640, height: 400, left: 0, top: 0 }],
    ['a screen whose free area starts below a panel',
      { outerWidth: 687, outerHeight: 470, innerWidth: 687, innerHeight: 470, screenX: 0, screenY: 0, availTop: 32 },
      { width: 687, height: 470, left: 0, top: 32 }],
    ['no figures yet', { outerWidth: 0, outerHeight: 0, innerWidth: 0, innerHeight: 0, screenX: 0, screenY: 0 }, null],
  ];
  for (const [name, figures, want] of cases)
    await t.test(name, () => {
      const got = fittedWindow({ ...SCREEN, ...figures });
      if (!want) return assert.equal(got, null);
      for (const k of Object.keys(want)) assert.ok(Math.abs(got[k] - want[k]) <= 1, `${k}: ${got[k]}, not ${want[k]}`);
    });
});

// axe-core (the npm package) on the page and every frame of it.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';

const AXE = readFileSync(createRequire(import.meta.url).resolve('axe-core/axe.min.js'), 'utf8');

// The violations axe finds on what the page shows now: [{ id, impact, nodes }].
export async function axeViolations(page) {
  // The page's own policy allows no injected script; evaluation is not one.
  for (const frame of page.frames()) await frame.evaluate(AXE).catch(() => {});
  return page.evaluate(async () => {
    const result = await window.axe.run(document, { resultTypes: ['violations'] });
    return result.violations.map((v) => ({
      id: v.id,
      impact: v.impact,
      nodes: v.nodes.map((n) => `${n.target.join(' > ')}: ${n.failureSummary}`),
    }));
  });
}

// Asserts axe finds nothing on what the page shows, naming the screen.
export async function expectAccessible(page, screen) {
  const violations = await axeViolations(page);
  assert.deepEqual(violations, [], `${screen}: ${JSON.stringify(violations, null, 1)}`);
}

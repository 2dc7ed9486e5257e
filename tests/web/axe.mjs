// The pages held to axe-core, an accessibility checker of its own, in Chromium: its rules run on
// the page as it is shown, and no serious or critical violation may be found. axe is handed to
// the page by the browser's driver (as DevTools would run it), never through the page, whose
// content policy lets no script in but its own.
import assert from 'node:assert/strict';
import { createRequire } from 'node:module';

const { source } = createRequire(import.meta.url)('axe-core');
const IMPACTS = ['serious', 'critical'];

// The serious and critical violations on `page` (puppeteer) now, each as its rule, impact and the
// elements it names.
export async function violations(page) {
    if (!(await page.evaluate(() => typeof window.axe === 'object'))) await page.evaluate(source);
    return page.evaluate(async (impacts) => {
        const found = await window.axe.run(document, { resultTypes: ['violations'] });
        return found.violations
            .filter((v) => impacts.includes(v.impact))
            .map((v) => `${v.id} (${v.impact}): ${v.help}; ${v.nodes.map((n) => `${n.target.join(' ')} ${n.failureSummary ?? ''}`).join(' | ')}`);
    }, IMPACTS);
}

// Fails when axe finds a serious or critical violation on `page`, showing `what`.
export async function accessible(page, what) {
    const found = await violations(page);
    assert.deepEqual(found, [], `axe-core, on ${what}:\n  ${found.join('\n  ')}`);
}

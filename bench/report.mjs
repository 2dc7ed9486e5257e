// The web page's benchmark's figures, written out. Part of bench/web.mjs.
import fs from 'node:fs';
import { CONDITIONS, PHONE } from './conditions.mjs';

function percentile(sorted, p) {
    return sorted[Math.min(sorted.length - 1, Math.ceil((p / 100) * sorted.length) - 1)];
}
const ms = (x) => `${x.toFixed(1)} ms`;
const median = (list) => percentile([...list].sort((a, b) => a - b), 50);
const kb = (x) => `${(x / 1024).toFixed(1)} KB`;

// A load as a ratio to the blank page's, each the median of its loads.
function against(what, ours, blank, target, whose = 'ours') {
    const [a, b] = [median(ours), median(blank)];
    const sorted = [...ours].sort((x, y) => x - y);
    console.log(
        `${what}: median ${ms(a)} = ${(a / b).toFixed(2)} x the blank page (${ms(b)}); ` +
            `${whose} fastest ${ms(sorted[0])}, slowest ${ms(sorted[sorted.length - 1])} of ${ours.length}${target}`,
    );
}

const cpu = (rate) => (rate === 1 ? 'the CPU as it is' : `the CPU slowed ${rate} x`);

export function report({ opt, loads, newBrowser, tabs, spent, keys, taps, stored, files, retaken }) {
    console.log(`Marrowdeep web page in ${opt.chromium}, served from 127.0.0.1 as a usual host (gzip, connections kept open)`);
    for (const condition of CONDITIONS) console.log(`[${condition.name}] ${condition.about}`);
    for (const what of retaken) console.log(`taken again: ${what}`);

    against('[as is] cold load to the first prompt, a new browser each time', newBrowser.ours, newBrowser.blank, '');
    for (const { name } of CONDITIONS) {
        const t = tabs[name];
        against(`[${name}] first visit, a new tab (new context, cache off, no worker): the question shown, taking keys`, t.first, t.blankFirst, '   (target <= 1.3 x)');
        against(`[${name}]   the game ready (its first read)`, t.firstGame, t.blankFirst, '   (as before or better)', 'its');
        against(`[${name}]   the same for the game's code alone, with no page around it`, t.floorFirst, t.blankFirst, '', 'its');
        console.log(`[${name}]   files come before the question: ${Math.min(...t.filesBefore)} to ${Math.max(...t.filesBefore)}   (target <= 6)`);
        against(`[${name}] repeat visit, a new tab, from the service worker's cache: the question shown, taking keys`, t.repeat, t.blankRepeat, '   (target <= 1.2 x)');
        against(`[${name}]   the game ready (its first read)`, t.repeatGame, t.blankRepeat, '   (as before or better)', 'its');
        against(`[${name}]   the same for the game's code alone, kept by a worker as the page is`, t.floorRepeat, t.blankRepeat, '', 'its');
    }
    for (const { name } of CONDITIONS) {
        const { plain, resumed } = stored.times[name];
        const [p, r] = [median(plain), median(resumed)];
        console.log(
            `[${name}] a stored game of ${stored.keys} keys resumed on a repeat visit: the screen left at ${ms(r)}, ` +
                `${ms(r - p)} more than the same visit with no game stored (${ms(p)}), ` +
                `${((r - p) / p).toFixed(2)} x that load, medians of ${loads}   (target <= 1 x)`,
        );
    }
    const [plain, replayedAt] = [median(stored.times['as is'].plain), median(stored.replayed)];
    console.log(
        `[as is] its link opened with pauses off, to the end of the replay at once: ${ms(replayedAt)}, ` +
            `${ms(replayedAt - plain)} more than the visit with no game stored`,
    );
    const run = stored.link.length - stored.link.indexOf('#');
    console.log(`its link: ${stored.link.length} characters, ${run} of them the run   (target < 4 KB)`);
    if (stored.oneOff.run !== null) {
        console.log(
            `the link of generated tour 17, ${stored.oneOff.keys} keys that do not repeat: ` +
                `the run ${stored.oneOff.run} characters   (target < 4 KB)`,
        );
    }

    for (const { condition, repeat, where } of spent) {
        console.log(
            `[${condition.name}] where a ${repeat ? 'repeat' : 'first'} visit spends its time ` +
                `(the median of 3 traced loads, the game ready at ${ms(where.shown)}):`,
        );
        for (const [what, start, end] of where.phases) {
            console.log(`  ${ms(start).padStart(9)} to ${ms(end).padStart(9)}  (${ms(end - start).padStart(8)})  ${what}`);
        }
        console.log(`  styles, layout and paint on the main thread before the name question: ${ms(where.drawing)}`);
    }

    for (const [i, rate] of [1, PHONE.cpu].entries()) {
        const sorted = keys[i];
        console.log(
            `one map key, ${cpu(rate)}: median ${ms(percentile(sorted, 50))}, 95th percentile ${ms(percentile(sorted, 95))} ` +
                `of ${sorted.length} keys   (targets < 8 ms and < 16 ms)`,
        );
        if (!taps[i]) {
            console.log('one tap on a panel key: the page has no touch panel');
            continue;
        }
        const [fromEnd, fromClick] = taps[i];
        console.log(
            `one tap on a panel key, ${cpu(rate)}, from the touch's end: median ${ms(percentile(fromEnd, 50))}, ` +
                `95th percentile ${ms(percentile(fromEnd, 95))} of ${fromEnd.length} taps   (targets < 8 ms and < 16 ms); ` +
                `from the page hearing the tap: median ${ms(percentile(fromClick, 50))}, ` +
                `95th percentile ${ms(percentile(fromClick, 95))}`,
        );
    }

    if (opt.zip) console.log(`the zip: ${fs.statSync(opt.zip).size} bytes`);
    const total = (list) => list.reduce((sum, f) => sum + f.gzipped, 0);
    const needed = files.filter((f) => !f.aside);
    console.log(
        `the page's files gzipped, the icons and licences aside: ${kb(total(needed))} in ${needed.length} files   (target < 100 KB); ` +
            `with them ${kb(total(files))}`,
    );
    for (const f of files) {
        const size = `${String(f.bytes).padStart(7)} bytes, ${kb(f.gzipped).padStart(8)} gzipped`;
        console.log(`  ${f.name.padEnd(22)} ${size}${f.aside ? '   (aside)' : ''}`);
    }
}

// Where a visit of the web page spends its time, read from a performance trace of the load
// (Chromium's own timeline events) and the page's resource timings. Part of bench/web.mjs.

// The trace's categories this needs.
export const CATEGORIES = ['devtools.timeline', 'v8.wasm', 'blink.user_timing'];

// The phases of one load, in ms from its navigation start: [what, start, end] in the order they
// begin. `trace` is the trace's JSON text, `resources` the page's resource timing entries
// ({name, responseEnd}), `shown` when the terminal took the name question.
export function phases(trace, resources, shown) {
    const events = JSON.parse(trace).traceEvents;
    const navigation = events.find(
        (e) => e.name === 'navigationStart' && /^https?:/.test(e.args?.data?.documentLoaderURL ?? ''),
    );
    if (!navigation) throw new Error('the trace has no navigation');
    const main = events.filter((e) => e.pid === navigation.pid && e.tid === navigation.tid && e.ts >= navigation.ts);
    const at = (ts) => (ts - navigation.ts) / 1000;
    const span = (list) =>
        list.length ? [Math.min(...list.map((e) => at(e.ts))), Math.max(...list.map((e) => at(e.ts + (e.dur ?? 0))))] : null;
    const named = (name, test = () => true) => main.filter((e) => e.name === name && test(e));
    const first = (list) => span(list.sort((a, b) => a.ts - b.ts).slice(0, 1));
    const busy = (list) => list.reduce((sum, e) => sum + (e.dur ?? 0) / 1000, 0);
    const fetched = (test) => {
        const ends = resources.filter((r) => test(r.name)).map((r) => r.responseEnd);
        return ends.length ? [0, Math.max(...ends)] : null;
    };

    const wasm = events.filter((e) => e.pid === navigation.pid && e.ts >= navigation.ts && e.cat === 'v8.wasm');
    const compile = span(wasm.filter((e) => /Streaming|BaselineFinished|compile/i.test(e.name)));
    const rows = [
        ['fetching index.html', [0, resources.find((r) => r.name === 'document')?.responseEnd ?? 0]],
        ['fetching the page modules', fetched((name) => /\/[a-z-]+\.js$/.test(name) && !/(xterm|marrowdeep)\.js$/.test(name))],
        ['fetching xterm.js', fetched((name) => name.endsWith('/xterm.js'))],
        ['fetching marrowdeep.wasm', fetched((name) => name.endsWith('/marrowdeep.wasm'))],
        ['evaluating the page modules', span(named('v8.evaluateModule'))],
        ['evaluating xterm.js', span(named('EvaluateScript', (e) => e.args?.data?.url?.endsWith('/xterm.js')))],
        ['evaluating marrowdeep.js', span(named('EvaluateScript', (e) => e.args?.data?.url?.endsWith('/marrowdeep.js')))],
        ['opening the terminal and starting the game', first(named('EventDispatch', (e) => e.args?.data?.type === 'DOMContentLoaded'))],
        ['compiling the game (wasm)', compile],
        ['instantiating the game (wasm)', span(wasm.filter((e) => /Instantiate/.test(e.name)))],
        ['registering the service worker', span(named('FunctionCall', (e) => e.args?.data?.functionName === 'register'))],
    ];
    const result = rows.filter(([, s]) => s).map(([what, [start, end]]) => [what, start, end]);
    // From the game's code ready to run to the name question taken by the terminal.
    const ready = Math.max(...result.filter(([what]) => /compiling|instantiating|starting/.test(what)).map(([, , end]) => end));
    result.push(['the game up to its first write, taken by the terminal', ready, shown]);
    result.sort((a, b) => a[1] - b[1]);
    // Main-thread work of styles, layout and paint before the name question.
    const drawing = busy(main.filter((e) => /^(UpdateLayoutTree|Layout|PrePaint|Paint)$/.test(e.name) && at(e.ts) < shown));
    return { phases: result, drawing };
}

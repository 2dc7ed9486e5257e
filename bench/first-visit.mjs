// Where a visit of the web page spends its time, read from a performance trace of the load
// (Chromium's own timeline events), the page's resource timings and its index.html, whose
// references name the page's scripts and styles whatever they are called. Part of bench/web.mjs.

// The trace's categories this needs.
export const CATEGORIES = ['devtools.timeline', 'v8.wasm', 'blink.user_timing'];

// What index.html asks for: its scripts ({file, module}) in order, and its style sheets.
export function references(html) {
    const attribute = (tag, name) => tag.match(new RegExp(`\\s${name}\\s*=\\s*("([^"]*)"|'([^']*)'|([^\\s>]+))`, 'i'));
    const value = (tag, name) => {
        const found = attribute(tag, name);
        return found ? (found[2] ?? found[3] ?? found[4]) : null;
    };
    const bare = html.replace(/<!--[\s\S]*?-->/g, '');
    const scripts = [];
    for (const [tag] of bare.matchAll(/<script\b[^>]*>/gi)) {
        const file = value(tag, 'src');
        if (file) scripts.push({ file, module: (value(tag, 'type') ?? '').toLowerCase() === 'module' });
    }
    const styles = [];
    for (const [tag] of bare.matchAll(/<link\b[^>]*>/gi)) {
        const rel = (value(tag, 'rel') ?? '').toLowerCase().split(/\s+/);
        if (rel.includes('stylesheet') && value(tag, 'href')) styles.push(value(tag, 'href'));
    }
    return { scripts, styles };
}

// A file's name in a URL, without its folder or query.
const fileOf = (url) => decodeURIComponent(new URL(url, 'http://host/').pathname.split('/').pop());

// Names a group of files: one by its name, more by their number and names.
const listed = (names) => (names.length === 1 ? names[0] : `${names.length} files: ${names.join(', ')}`);

// The phases of one load, in ms from its navigation start: [what, start, end] in the order they
// begin. `trace` is the trace's JSON text, `resources` the page's resource timing entries
// ({name, responseEnd}, the document's named "document"), `shown` when the page showed the name
// question, `html` the page's index.html.
export function phases(trace, resources, shown, html) {
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

    // The page's files by kind, as index.html names them; a script no script tag names is a
    // module another imports.
    const { scripts, styles } = references(html);
    const classic = scripts.filter((s) => !s.module).map((s) => fileOf(s.file));
    const files = resources.filter((r) => r.name !== 'document').map((r) => ({ file: fileOf(r.name), end: r.responseEnd }));
    const kinds = [
        ['the style sheets', (f) => styles.map(fileOf).includes(f)],
        // The game's script, which the page's first script asks for itself.
        ["the game's script", (f) => f === 'marrowdeep.js' && !classic.includes(f)],
        ['the modules', (f) => /\.m?js$/.test(f) && !classic.includes(f) && f !== 'marrowdeep.js'],
        ['the fonts', (f) => /\.(woff2?|ttf|otf)$/.test(f)],
        ["the game's code", (f) => f.endsWith('.wasm')],
    ];
    const fetched = (what, list) => {
        const names = [...new Set(list.map((f) => f.file))];
        return names.length ? [`fetching ${what} (${listed(names)})`, [0, Math.max(...list.map((f) => f.end))]] : null;
    };
    const rows = [['fetching index.html', [0, resources.find((r) => r.name === 'document')?.responseEnd ?? 0]]];
    for (const [what, test] of kinds) rows.push(fetched(what, files.filter((f) => test(f.file))));
    for (const name of classic) {
        rows.push(fetched('a script', files.filter((f) => f.file === name)));
        rows.push([`evaluating ${name}`, span(named('EvaluateScript', (e) => fileOf(e.args?.data?.url ?? '') === name))]);
    }
    const known = (f) => classic.includes(f) || kinds.some(([, test]) => test(f));
    rows.push(fetched('the other files', files.filter((f) => !known(f.file))));
    rows.push(['evaluating the modules', span(named('v8.evaluateModule'))]);
    const loaded = named('EventDispatch', (e) => e.args?.data?.type === 'DOMContentLoaded');
    rows.push(["running the page's start on DOMContentLoaded", first(loaded)]);

    // The game's code compiled up to the name question; later, lazily compiled functions and
    // better tiers go on beside the game.
    const wasm = events.filter((e) => e.pid === navigation.pid && e.ts >= navigation.ts && e.cat === 'v8.wasm' && at(e.ts) < shown);
    rows.push(["compiling the game's code (wasm)", span(wasm.filter((e) => /Streaming|BaselineFinished|compile/i.test(e.name)))]);
    rows.push(["instantiating the game's code (wasm)", span(wasm.filter((e) => /Instantiate/.test(e.name)))]);
    rows.push(['registering the service worker', span(named('FunctionCall', (e) => e.args?.data?.functionName === 'register'))]);
    const result = rows.filter((row) => row?.[1]).map(([what, [start, end]]) => [what, start, end]);
    // From the page's scripts run and the game's code ready to the name question shown.
    const ends = result.filter(([what]) => /^(evaluating|running|compiling|instantiating)/.test(what)).map(([, , end]) => end);
    const ready = Math.max(0, ...ends.filter((end) => end <= shown));
    result.push(['the game up to its first read', ready, shown]);
    result.sort((a, b) => a[1] - b[1] || a[2] - b[2]);
    // Main-thread work of styles, layout and paint before the name question.
    const drawing = busy(main.filter((e) => /^(UpdateLayoutTree|Layout|PrePaint|Paint)$/.test(e.name) && at(e.ts) < shown));
    return { phases: result, drawing };
}

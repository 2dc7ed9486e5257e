// The game's page with its style sheet and first script written into its head: a phone on a slow
// line then has the name question, its look and the script that takes keys in the page's own
// answer, with no second round trip for them (only the font is fetched beside them). The page's
// policy still allows no script or style but its own: each written one is allowed by its SHA-256
// hash alone, added to the policy's script-src and style-src.
//
//   node inline-head.mjs --page PAGE --style page.css --script page.js --output OUT
//
// PAGE holds <link rel="stylesheet" href="page.css"> and <script type="module" src="page.js"></script>
// once each, which are replaced. The build stops on text that would end or open an element early
// in the page (</script, </style, <!--, <script), on a page without its policy, and on a marker
// missing or twice.
import crypto from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';
import { parseArgs } from 'node:util';

export const STYLE_LINK = '<link rel="stylesheet" href="page.css">';
export const SCRIPT_TAG = '<script type="module" src="page.js"></script>';
const POLICY = /(<meta http-equiv="Content-Security-Policy"\s+content=")([^"]*)(")/;

// The policy's source for `text`, written in a page: 'sha256-BASE64'.
export const hashSource = (text) => `'sha256-${crypto.createHash('sha256').update(text, 'utf8').digest('base64')}'`;

// `policy` with `source` added to its `directive`, which must be there.
function allowed(policy, directive, source) {
    const parts = policy.split(';').map((part) => part.trim());
    const at = parts.findIndex((part) => part.split(/\s+/)[0] === directive);
    if (at < 0) throw new Error(`the page's policy has no ${directive}`);
    parts[at] += ` ${source}`;
    return parts.join('; ');
}

// `text` as the content of a <`element`> in the page, or an error when some of it would be read as
// markup.
function content(element, text) {
    for (const danger of [`</${element}`, '<!--', '<script']) {
        if (text.toLowerCase().includes(danger)) throw new Error(`the ${element} holds "${danger}", which the page would read as markup`);
    }
    return text;
}

// The page `html` with `style` and `script` written in and allowed by their hashes.
export function inlineHead(html, style, script) {
    for (const marker of [STYLE_LINK, SCRIPT_TAG]) {
        if (html.split(marker).length !== 2) throw new Error(`the page must hold ${marker} once`);
    }
    const policy = html.match(POLICY);
    if (!policy) throw new Error('the page has no Content-Security-Policy');
    let stated = allowed(policy[2], 'style-src', hashSource(content('style', style)));
    stated = allowed(stated, 'script-src', hashSource(content('script', script)));
    return html
        .replace(POLICY, (_, open, __, close) => open + stated + close)
        .replace(STYLE_LINK, () => `<style>${style}</style>`)
        .replace(SCRIPT_TAG, () => `<script type="module">${script}</script>`);
}

async function main() {
    const { values: opt } = parseArgs({
        options: { page: { type: 'string' }, style: { type: 'string' }, script: { type: 'string' }, output: { type: 'string' } },
    });
    if (!opt.page || !opt.style || !opt.script || !opt.output) {
        throw new Error('usage: inline-head.mjs --page FILE --style FILE --script FILE --output FILE');
    }
    const read = (file) => fs.readFileSync(file, 'utf8');
    try {
        fs.writeFileSync(opt.output, inlineHead(read(opt.page), read(opt.style), read(opt.script)));
    } catch (error) {
        console.error(`${opt.output}: ${error.message}`);
        process.exit(1);
    }
}

if (process.argv[1] && path.resolve(process.argv[1]) === import.meta.filename) await main();

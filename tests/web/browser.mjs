// What the page's tests and its benchmark share: a static web server for the page's folder on
// 127.0.0.1, a watch on everything that would tell a player's browser something went wrong, and
// a wait for the page. The browsers are started in harness.mjs.
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import zlib from 'node:zlib';

const TYPES = {
    '.html': 'text/html; charset=utf-8',
    '.js': 'text/javascript; charset=utf-8',
    '.mjs': 'text/javascript; charset=utf-8',
    '.css': 'text/css; charset=utf-8',
    '.wasm': 'application/wasm',
    '.txt': 'text/plain; charset=utf-8',
    '.json': 'application/json',
    '.png': 'image/png',
    '.svg': 'image/svg+xml',
    '.webmanifest': 'application/manifest+json',
    '.woff2': 'font/woff2',
};

// The kinds of file a host compresses: text and the game's code. Pictures and fonts are
// compressed already.
const COMPRESSIBLE = new Set(['.html', '.js', '.mjs', '.css', '.wasm', '.txt', '.json', '.svg', '.webmanifest']);

// Whether an Accept-Encoding header takes gzip: named with a weight above 0, or not named and a
// "*" with a weight above 0.
export function takesGzip(header) {
    const weights = new Map();
    for (const part of (header ?? '').split(',')) {
        const [name, ...parameters] = part.split(';').map((s) => s.trim().toLowerCase());
        if (!name) continue;
        const q = parameters.find((p) => /^q\s*=/.test(p));
        weights.set(name, q === undefined ? 1 : Number(q.slice(q.indexOf('=') + 1)) || 0);
    }
    return (weights.get('gzip') ?? weights.get('x-gzip') ?? weights.get('*') ?? 0) > 0;
}

// Serves the files of `folder` as a usual static host does: compressible files gzipped for a
// browser that takes gzip (each file compressed once, again only when it changes), every
// response with its length, and connections kept open between requests. Resolves to
// {origin, hold, close}.
//
// hold(name) holds back the answers to requests for the path `name` (as '/marrowdeep.wasm'), as
// a slow network would, in any browser: it answers {arrived, release}, `arrived` a promise that
// resolves once such a request has come, and release() answers those held and every later one.
export function serve(folder) {
    const files = new Map(); // path -> {stamp, bytes, gzipped}
    const holds = new Map(); // path -> {arrive, released}: the paths held back
    const read = (file, stat) => {
        const stamp = `${stat.ino}:${stat.size}:${stat.mtimeMs}:${stat.ctimeMs}`;
        let entry = files.get(file);
        if (entry?.stamp !== stamp) {
            const bytes = fs.readFileSync(file);
            const gzipped = COMPRESSIBLE.has(path.extname(file)) ? zlib.gzipSync(bytes, { level: 9 }) : null;
            entry = { stamp, bytes, gzipped };
            files.set(file, entry);
        }
        return entry;
    };
    const server = http.createServer((request, response) => {
        const empty = (status, headers = {}) => {
            response.writeHead(status, { 'Content-Length': 0, ...headers });
            response.end();
        };
        if (request.method !== 'GET' && request.method !== 'HEAD') return empty(405, { Allow: 'GET, HEAD' });
        let name;
        try {
            name = decodeURIComponent(new URL(request.url, 'http://127.0.0.1').pathname);
        } catch {
            return empty(400);
        }
        const answer = () => {
            const file = path.join(folder, name.endsWith('/') ? `${name}index.html` : name);
            const stat = file.startsWith(folder + path.sep) ? fs.statSync(file, { throwIfNoEntry: false }) : undefined;
            if (!stat?.isFile()) return empty(404);
            const { bytes, gzipped } = read(file, stat);
            const headers = { 'Content-Type': TYPES[path.extname(file)] ?? 'application/octet-stream' };
            let body = bytes;
            if (gzipped) {
                headers.Vary = 'Accept-Encoding';
                if (takesGzip(request.headers['accept-encoding'])) {
                    headers['Content-Encoding'] = 'gzip';
                    body = gzipped;
                }
            }
            headers['Content-Length'] = body.length;
            response.writeHead(200, headers);
            response.end(request.method === 'HEAD' ? undefined : body);
        };
        const held = holds.get(name);
        if (!held) return answer();
        held.arrive();
        held.released.then(answer);
    });
    function hold(name) {
        let arrive;
        let release;
        const arrived = new Promise((resolve) => (arrive = resolve));
        const released = new Promise((resolve) => (release = resolve));
        holds.set(name, { arrive, released });
        return {
            arrived,
            release() {
                holds.delete(name);
                release();
            },
        };
    }
    // A host keeps an idle connection open for a minute, longer than a page's pauses between
    // requests.
    server.keepAliveTimeout = 60000;
    return new Promise((resolve) => {
        server.listen(0, '127.0.0.1', () => {
            resolve({
                origin: `http://127.0.0.1:${server.address().port}`,
                hold,
                close: () =>
                    new Promise((done) => {
                        server.close(done);
                        server.closeAllConnections();
                    }),
            });
        });
    });
}

// The page asks its own origin whether a hall serves it (web/hall/api.js): a static server
// answers 404, which the browser logs, and offline the request fails. That is the page working as
// meant, so that one request, and only it, may fail.
export const HALL_PROBE = '/api/health';

// Collects every error the page shows in the console, every script error, every refused
// request, every request to another origin and every violation of the page's policy.
export async function watch(page, origin) {
    const problems = [];
    const probe = origin + HALL_PROBE;
    await page.evaluateOnNewDocument(() => {
        document.addEventListener('securitypolicyviolation', (e) => {
            console.error(`policy violation: ${e.violatedDirective} ${e.blockedURI}`);
        });
    });
    page.on('console', (message) => {
        if (message.location()?.url === probe) return;
        if (message.type() === 'error' || message.type() === 'warn') problems.push(`console ${message.type()}: ${message.text()}`);
    });
    page.on('pageerror', (error) => problems.push(`page error: ${error.message}`));
    page.on('requestfailed', (request) => request.url() !== probe && problems.push(`failed request: ${request.url()}`));
    page.on('request', (request) => {
        const url = request.url();
        if (!url.startsWith(origin + '/') && !url.startsWith('data:')) problems.push(`request to another origin: ${url}`);
    });
    page.on('response', (response) => {
        if (response.status() >= 400 && response.url() !== probe) problems.push(`HTTP ${response.status()}: ${response.url()}`);
    });
    return problems;
}

// Waits until `test` (a function run in the page, given `args`) answers true, for at most
// `seconds`.
export async function waitInPage(page, test, seconds, what, ...args) {
    try {
        await page.waitForFunction(test, { timeout: seconds * 1000, polling: 20 }, ...args);
    } catch {
        throw new Error(`the page did not get to ${what} within ${seconds} s`);
    }
}

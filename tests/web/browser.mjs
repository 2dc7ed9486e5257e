// What the page's tests and its benchmark share: a static web server for the page's folder on
// 127.0.0.1, headless Chromium driven by puppeteer-core, and a watch on everything that would
// tell a player's browser something went wrong.
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

const TYPES = {
    '.html': 'text/html; charset=utf-8',
    '.js': 'text/javascript; charset=utf-8',
    '.css': 'text/css; charset=utf-8',
    '.wasm': 'application/wasm',
    '.txt': 'text/plain; charset=utf-8',
    '.png': 'image/png',
    '.svg': 'image/svg+xml',
    '.webmanifest': 'application/manifest+json',
};

// Serves the files of `folder`, as any static server would; resolves to {origin, close}.
export function serve(folder) {
    const server = http.createServer((request, response) => {
        const name = decodeURIComponent(new URL(request.url, 'http://127.0.0.1').pathname);
        const file = path.join(folder, name.endsWith('/') ? `${name}index.html` : name);
        if (!file.startsWith(folder + path.sep) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
            response.writeHead(404);
            response.end();
            return;
        }
        response.writeHead(200, { 'Content-Type': TYPES[path.extname(file)] ?? 'application/octet-stream' });
        fs.createReadStream(file).pipe(response);
    });
    return new Promise((resolve) => {
        server.listen(0, '127.0.0.1', () => {
            resolve({
                origin: `http://127.0.0.1:${server.address().port}`,
                close: () => new Promise((done) => server.close(done)),
            });
        });
    });
}

// Headless Chromium with a profile of its own, thrown away with it, and nothing of its own on
// the network. As root it runs without its sandbox, which needs a user namespace.
export async function launch(executablePath) {
    const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'marrowdeep-browser-'));
    const browser = await puppeteer.launch({
        executablePath,
        headless: true,
        userDataDir: profile,
        args: [
            '--no-sandbox',
            '--disable-gpu',
            '--disable-dev-shm-usage',
            '--disable-background-networking',
            '--disable-component-update',
            '--disable-sync',
            '--no-first-run',
            '--no-default-browser-check',
        ],
    });
    return {
        browser,
        close: async () => {
            await browser.close();
            fs.rmSync(profile, { recursive: true, force: true });
        },
    };
}

// Collects every error the page shows in the console, every script error, every refused
// request, every request to another origin and every violation of the page's policy.
export async function watch(page, origin) {
    const problems = [];
    await page.evaluateOnNewDocument(() => {
        document.addEventListener('securitypolicyviolation', (e) => {
            console.error(`policy violation: ${e.violatedDirective} ${e.blockedURI}`);
        });
    });
    page.on('console', (message) => {
        if (message.type() === 'error' || message.type() === 'warn') problems.push(`console ${message.type()}: ${message.text()}`);
    });
    page.on('pageerror', (error) => problems.push(`page error: ${error.message}`));
    page.on('requestfailed', (request) => problems.push(`failed request: ${request.url()}`));
    page.on('request', (request) => {
        const url = request.url();
        if (!url.startsWith(origin + '/') && !url.startsWith('data:')) problems.push(`request to another origin: ${url}`);
    });
    page.on('response', (response) => {
        if (response.status() >= 400) problems.push(`HTTP ${response.status()}: ${response.url()}`);
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

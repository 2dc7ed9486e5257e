// A small WebDriver client over plain HTTP, enough to play the page in WebKitGTK's MiniBrowser:
// WebKitWebDriver started on a free port of 127.0.0.1, MiniBrowser on an X server of its own
// (Xvfb on a free display), one session, and the commands the page's tests use: go to an
// address, run a script (plain or async), press keys, take a picture, end the session.
import { spawn } from 'node:child_process';
import net from 'node:net';

// A port no one listens on now.
function freePort() {
    return new Promise((resolve, reject) => {
        const server = net.createServer();
        server.once('error', reject);
        server.listen(0, '127.0.0.1', () => {
            const { port } = server.address();
            server.close(() => resolve(port));
        });
    });
}

// Xvfb on the first free display; resolves to {display, stop}. Xvfb itself tells the display it
// took, on a descriptor it is given.
function startXvfb() {
    const xvfb = spawn('Xvfb', ['-displayfd', '3', '-screen', '0', '1280x1024x24', '-nolisten', 'tcp'], {
        stdio: ['ignore', 'ignore', 'ignore', 'pipe'],
    });
    return new Promise((resolve, reject) => {
        let said = '';
        xvfb.once('error', reject);
        xvfb.once('exit', (code) => reject(new Error(`Xvfb ended with ${code} before it took a display`)));
        xvfb.stdio[3].on('data', (chunk) => {
            said += chunk.toString();
            if (!said.includes('\n')) return;
            xvfb.removeAllListeners('exit');
            resolve({ display: `:${said.trim()}`, stop: () => stopped(xvfb) });
        });
    });
}

// Ends a child and waits for it to be gone.
function stopped(child) {
    if (child.exitCode !== null || child.signalCode !== null) return Promise.resolve();
    return new Promise((resolve) => {
        child.once('exit', resolve);
        child.kill('SIGTERM');
    });
}

// The keys of the WebDriver keyboard that are not characters.
export const KEY = { Enter: '\uE007', Backspace: '\uE003' };

// Starts Xvfb and WebKitWebDriver and opens a session in MiniBrowser (`browser`), its window
// 1280x800. Answers the session's commands and `close`.
export async function webkitSession({ driver, browser }) {
    const xvfb = await startXvfb();
    const port = await freePort();
    const stderr = [];
    const child = spawn(driver, [`--port=${port}`, '--host=127.0.0.1'], {
        env: { ...process.env, DISPLAY: xvfb.display },
        stdio: ['ignore', 'ignore', 'pipe'],
    });
    child.stderr.on('data', (chunk) => stderr.push(chunk.toString()));
    const base = `http://127.0.0.1:${port}`;
    let session = null;

    async function call(method, path, body) {
        const response = await fetch(`${base}${path}`, {
            method,
            headers: body === undefined ? {} : { 'Content-Type': 'application/json' },
            body: body === undefined ? undefined : JSON.stringify(body),
        });
        const answer = await response.json().catch(() => ({}));
        if (!response.ok) {
            const { error, message } = answer.value ?? {};
            throw new Error(`WebDriver ${method} ${path}: ${response.status} ${error ?? ''} ${message ?? ''}`);
        }
        return answer.value;
    }
    const at = (path) => `/session/${session}${path}`;

    async function close() {
        try {
            if (session) await call('DELETE', at(''));
        } finally {
            session = null;
            await stopped(child);
            await xvfb.stop();
        }
    }

    try {
        // The driver answers once it listens; give it up to 30 s.
        for (let tries = 0; ; ++tries) {
            try {
                await call('GET', '/status');
                break;
            } catch (error) {
                if (tries >= 300 || child.exitCode !== null) throw new Error(`WebKitWebDriver did not start: ${stderr.join('')}`);
                await new Promise((next) => setTimeout(next, 100));
            }
        }
        const options = { binary: browser, args: ['--automation'] };
        const created = await call('POST', '/session', {
            capabilities: { alwaysMatch: { 'webkitgtk:browserOptions': options, pageLoadStrategy: 'normal' } },
        });
        session = created.sessionId;
        await call('POST', at('/timeouts'), { script: 180000, pageLoad: 60000, implicit: 0 });
        await call('POST', at('/window/rect'), { x: 0, y: 0, width: 1280, height: 800 });
    } catch (error) {
        await close();
        throw error;
    }

    return {
        goto: (url) => call('POST', at('/url'), { url }),
        reload: () => call('POST', at('/refresh'), {}),
        // Runs `source`, the body of a function given `args` as `arguments`; answers its value.
        execute: (source, args = []) => call('POST', at('/execute/sync'), { script: source, args }),
        // The same, for a body whose last argument is a function to call with the answer.
        executeAsync: (source, args = []) => call('POST', at('/execute/async'), { script: source, args }),
        // Presses and lets go each key of `text` in turn (KEY for those that are not characters).
        keys: async (text) => {
            const actions = [];
            for (const key of text) actions.push({ type: 'keyDown', value: key }, { type: 'keyUp', value: key });
            await call('POST', at('/actions'), { actions: [{ type: 'key', id: 'keyboard', actions }] });
            await call('DELETE', at('/actions'));
        },
        screenshot: async () => Buffer.from(await call('GET', at('/screenshot')), 'base64'),
        close,
    };
}

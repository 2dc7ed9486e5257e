// The page's server as a usual static host: gzip for a browser that takes it and for the files
// worth it, each response with its length, connections kept open, nothing outside its folder, and
// a path held back until released, as the tests hold back the game's code.
// Run by page_test.mjs; fails through node:assert.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import zlib from 'node:zlib';
import { serve, takesGzip } from './browser.mjs';

// One request on `agent`: {status, headers, body (as sent, not unpacked), reused}.
function get(origin, agent, target, { method = 'GET', encoding } = {}) {
    return new Promise((resolve, reject) => {
        const headers = encoding === undefined ? {} : { 'Accept-Encoding': encoding };
        const request = http.request(`${origin}${target}`, { agent, method, headers }, (response) => {
            const chunks = [];
            response.on('data', (chunk) => chunks.push(chunk));
            response.on('end', () =>
                resolve({
                    status: response.statusCode,
                    headers: response.headers,
                    body: Buffer.concat(chunks),
                    reused: request.reusedSocket,
                }),
            );
        });
        request.on('error', reject);
        request.end();
    });
}

// Which Accept-Encoding headers take gzip, every one told at once.
export function gzipTakers() {
    const table = [
        ['gzip, deflate, br', true],
        ['br;q=1.0, gzip;q=0.8', true],
        ['GZIP', true],
        ['x-gzip', true],
        ['*', true],
        ['gzip;q=0', false],
        ['gzip;q=0.000, *', false],
        ['*;q=0', false],
        ['identity', false],
        ['br, deflate', false],
        ['', false],
        [undefined, false],
    ];
    const told = table.map(([header]) => [header, takesGzip(header)]);
    const wrong = told.filter(([, takes], i) => takes !== table[i][1]).map(([header, takes]) => `${JSON.stringify(header)}: ${takes}`);
    assert.deepEqual(told, table, `whether Accept-Encoding takes gzip, told wrong for ${wrong.join(', ')}`);
}

export async function staticHost() {
    const expect = (what, got, want) => assert.equal(got, want, `${what}: got ${JSON.stringify(got)}, want ${JSON.stringify(want)}`);

    const root = fs.mkdtempSync(path.join(os.tmpdir(), 'marrowdeep-host-'));
    const folder = path.join(root, 'site');
    fs.mkdirSync(path.join(folder, 'sub'), { recursive: true });
    const script = Buffer.from('export const line = "Please insert your name:";\n'.repeat(40));
    fs.writeFileSync(path.join(folder, 'page.js'), script);
    fs.writeFileSync(path.join(folder, 'sub', 'index.html'), '<!DOCTYPE html>\n<title>Sub</title>\n');
    const picture = Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 1, 2, 3]);
    fs.writeFileSync(path.join(folder, 'icon.png'), picture);
    fs.writeFileSync(path.join(root, 'secret.txt'), 'not served');

    const server = await serve(folder);
    const agent = new http.Agent({ keepAlive: true, maxSockets: 1 });
    try {
        const packed = await get(server.origin, agent, '/page.js', { encoding: 'gzip, deflate' });
        expect('a script for gzip: status', packed.status, 200);
        expect('a script for gzip: encoding', packed.headers['content-encoding'], 'gzip');
        expect('a script for gzip: vary', packed.headers.vary, 'Accept-Encoding');
        expect('a script for gzip: type', packed.headers['content-type'], 'text/javascript; charset=utf-8');
        expect('a script for gzip: length', packed.headers['content-length'], String(packed.body.length));
        expect('a script for gzip: smaller', packed.body.length < script.length / 4, true);
        expect('a script for gzip: unpacked', zlib.gunzipSync(packed.body).equals(script), true);
        expect('a script for gzip: the connection kept', packed.headers.connection, 'keep-alive');
        expect('a script for gzip: kept a minute', packed.headers['keep-alive'], 'timeout=60');

        const plain = await get(server.origin, agent, '/page.js');
        expect('a script with no Accept-Encoding: encoding', plain.headers['content-encoding'], undefined);
        expect('a script with no Accept-Encoding: vary', plain.headers.vary, 'Accept-Encoding');
        expect('a script with no Accept-Encoding: bytes', plain.body.equals(script), true);
        expect('a script with no Accept-Encoding: length', plain.headers['content-length'], String(script.length));
        expect('the second request on the same connection', plain.reused, true);

        const refused = await get(server.origin, agent, '/page.js', { encoding: 'gzip;q=0, br' });
        expect('a script with gzip refused', refused.body.equals(script), true);

        const png = await get(server.origin, agent, '/icon.png', { encoding: 'gzip' });
        expect('a picture: encoding', png.headers['content-encoding'], undefined);
        expect('a picture: vary', png.headers.vary, undefined);
        expect('a picture: bytes', png.body.equals(picture), true);
        expect('a picture: length', png.headers['content-length'], String(picture.length));

        const head = await get(server.origin, agent, '/page.js', { method: 'HEAD', encoding: 'gzip' });
        expect('HEAD: length of the gzipped script', head.headers['content-length'], packed.headers['content-length']);
        expect('HEAD: no body', head.body.length, 0);

        const index = await get(server.origin, agent, '/sub/', { encoding: 'gzip' });
        expect('a folder: its index.html', zlib.gunzipSync(index.body).toString(), '<!DOCTYPE html>\n<title>Sub</title>\n');
        expect('a folder: type', index.headers['content-type'], 'text/html; charset=utf-8');

        // A new build rewrites a file with as many bytes: the host must not keep the old one.
        const changed = Buffer.from(script.toString().replace('Please', 'PLEASE'));
        fs.writeFileSync(path.join(folder, 'page.js'), changed);
        const again = await get(server.origin, agent, '/page.js', { encoding: 'gzip' });
        expect('a script rewritten: the new bytes', zlib.gunzipSync(again.body).equals(changed), true);

        // A path held back (as the page's tests hold the game's code back) is answered only once
        // released, while the host answers other paths; then with its bytes, as any other.
        const held = server.hold('/page.js');
        const second = new http.Agent({ keepAlive: true, maxSockets: 1 });
        let answered = false;
        const waiting = get(server.origin, second, '/page.js', { encoding: 'gzip' }).then((answer) => {
            answered = true;
            return answer;
        });
        await held.arrived;
        const meanwhile = await get(server.origin, agent, '/icon.png');
        expect('a path held back: another answered meanwhile', meanwhile.body.equals(picture), true);
        expect('a path held back: not answered before its release', answered, false);
        held.release();
        const late = await waiting;
        second.destroy();
        expect('a path held back: its bytes once released', zlib.gunzipSync(late.body).equals(changed), true);
        expect('a path held back: released for good', (await get(server.origin, agent, '/page.js')).body.equals(changed), true);

        for (const [target, status] of [
            ['/missing.js', 404],
            ['/sub', 404],
            ['/%2e%2e/secret.txt', 404],
            ['/..%2fsecret.txt', 404],
            ['/%E0%A4%A', 400],
        ]) {
            const answer = await get(server.origin, agent, target, { encoding: 'gzip' });
            expect(`${target}: status`, answer.status, status);
            expect(`${target}: length`, answer.headers['content-length'], '0');
        }
        const post = await get(server.origin, agent, '/page.js', { method: 'POST' });
        expect('POST: status', post.status, 405);
    } finally {
        agent.destroy();
        await server.close();
        fs.rmSync(root, { recursive: true, force: true });
    }
}

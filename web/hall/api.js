// The hall: the server that proves runs sent to it by playing them again, keeps them and serves
// boards, on the page's own origin. Every answer comes back as {ok: true, ...} with what the
// hall answered, or {ok: false, status, error} with one sentence to show; nothing here throws.

export const HEALTH = '/api/health';

const UNREACHABLE = 'The hall cannot be reached.';

// Whether the page is served by a hall: the version of the game it proves, or null. A static
// server answers 404 or something that is not the hall's JSON, and then the page is without one.
export async function findHall() {
    try {
        const response = await fetch(HEALTH, { cache: 'no-store', headers: { Accept: 'application/json' } });
        if (!response.ok || !/^application\/json\b/.test(response.headers.get('Content-Type') ?? '')) return null;
        const health = await response.json();
        return health && health.ok === true && typeof health.version === 'string' ? health.version : null;
    } catch {
        return null;
    }
}

async function ask(path, options = {}) {
    let response;
    try {
        response = await fetch(path, { cache: 'no-store', ...options });
    } catch {
        return { ok: false, status: 0, error: UNREACHABLE };
    }
    let body = null;
    try {
        // A seed is a whole number of 64 bits, more than a JavaScript number holds exactly, so
        // seeds are read as their digits. Names are strings, whose quotes come escaped.
        body = JSON.parse((await response.text()).replace(/"seed":(-?[0-9]+)/g, '"seed":"$1"'));
    } catch {
        body = null;
    }
    if (!response.ok) {
        const said = body && typeof body.error === 'string' && body.error ? body.error : `The hall answered ${response.status}.`;
        return { ok: false, status: response.status, error: said };
    }
    if (body === null || typeof body !== 'object') return { ok: false, status: response.status, error: 'The hall answered something it should not.' };
    return { ok: true, status: response.status, body };
}

// Sends a run as its link's text (after #run=): the hall's record of it, new (201) or kept
// before (200). `signed` ({key, signature}, keys/player-key.js), when the page has a key, goes
// in the run's headers.
export function sendRun(text, signed = null) {
    const headers = { 'Content-Type': 'text/plain' };
    if (signed) {
        headers['Marrowdeep-Key'] = signed.key;
        headers['Marrowdeep-Signature'] = signed.signature;
    }
    return ask('/api/runs', { method: 'POST', headers, body: text });
}

// The record of a run the hall keeps, with its link's text as `run`.
export function runOf(id) {
    return ask(`/api/runs/${encodeURIComponent(id)}`);
}

// The board of one seed, or of every seed when `seed` is null.
export function board(seed, limit) {
    const query = new URLSearchParams();
    if (seed !== null) query.set('seed', String(seed));
    if (limit) query.set('limit', String(limit));
    const text = query.toString();
    return ask(`/api/board${text ? `?${text}` : ''}`);
}

// A day's seed and board: {date, seed, ended, runs, practice}; today's, or the day `date`
// (YYYY-MM-DD) of one begun.
export function daily(date = null) {
    return ask(`/api/daily${date ? `?date=${encodeURIComponent(date)}` : ''}`);
}

// The games played live now: {games: [{id, name, seed, keys, watchers, ...}]}.
export function liveGames() {
    return ask('/api/live');
}

// The rows of a board's answer, whether it is a list or holds one as `runs`.
export const rowsOf = (body) => (Array.isArray(body) ? body : Array.isArray(body?.runs) ? body.runs : []);

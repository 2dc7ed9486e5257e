// The page's record of the games played, in the browser's own storage (localStorage) and nowhere
// else: the game being played, written as the game reads each byte, and the last 20 runs that
// ended.
//
// A record is {keys, clock, version, started}: the bytes the game read as a string of one
// character per byte, the clock second it read (null if it read none), the game's version and
// when the game began (ms since 1970). A run of the list adds its name, seed, ending and id.
//
// One tab at a time holds the game: a tab that begins or goes on with a game writes its own mark,
// and a tab that finds another's mark writes nothing more and hears so (`taken`).

const GAME = 'marrowdeep.game';
const RUNS = 'marrowdeep.runs';
const HOLDER = 'marrowdeep.holder';
export const MOST_RUNS = 20;

// The browser's storage, or null where it is refused (storage off, some private windows).
function browserStorage() {
    try {
        const storage = window.localStorage;
        storage.getItem(GAME);
        return storage;
    } catch {
        return null;
    }
}

function validRecord(r) {
    return (
        r !== null &&
        typeof r === 'object' &&
        typeof r.keys === 'string' &&
        (r.clock === null || Number.isSafeInteger(r.clock)) &&
        typeof r.version === 'string' &&
        Number.isFinite(r.started)
    );
}

// `taken()` is called once when another tab takes the game; `refused()` each time the storage
// refuses to keep something.
export function openRecords({ taken, refused }) {
    const storage = browserStorage();
    const me = `${Date.now()}-${Math.random()}`;
    let holding = false;
    let lost = false;

    function read(key) {
        try {
            const value = JSON.parse(storage.getItem(key));
            return value;
        } catch {
            return null;
        }
    }

    function write(key, value) {
        if (!storage) {
            refused();
            return false;
        }
        try {
            storage.setItem(key, JSON.stringify(value));
            return true;
        } catch {
            refused();
            return false;
        }
    }

    function lose() {
        if (lost) return;
        lost = true;
        holding = false;
        taken();
    }

    // Whether this tab still holds the game; a tab that lost it hears so once.
    function stillHolding() {
        if (!holding) return false;
        let holder = null;
        try {
            holder = storage.getItem(HOLDER);
        } catch {
            return true;
        }
        if (holder !== me) lose();
        return holding;
    }

    if (storage) {
        window.addEventListener('storage', (e) => {
            if (e.key === HOLDER && holding && e.newValue !== me) lose();
        });
    }

    return {
        get kept() {
            return storage !== null;
        },
        // The unfinished game stored, or null.
        unfinished() {
            if (!storage) return null;
            const r = read(GAME);
            return validRecord(r) ? r : null;
        },
        // Takes the game for this tab and writes `record` as the game being played.
        hold(record) {
            if (!storage) {
                refused();
                return false;
            }
            lost = false;
            try {
                storage.setItem(HOLDER, me);
            } catch {
                refused();
                return false;
            }
            holding = true;
            return write(GAME, record);
        },
        // Writes the game being played again, with the bytes it has read so far.
        save(record) {
            return stillHolding() && write(GAME, record);
        },
        // Lets the game go without a word, as when the page is left for a replay of a link.
        release() {
            holding = false;
        },
        // The game being played ended: it leaves the store and goes to the top of the runs, unless
        // it read nothing.
        end(run) {
            const mine = stillHolding();
            if (mine) {
                try {
                    storage.removeItem(GAME);
                } catch {
                    refused();
                }
                holding = false;
            }
            if ((mine || !storage) && run.keys.length) this.add(run);
        },
        // A run added at the top of the list, the oldest falling off past MOST_RUNS.
        add(run) {
            const runs = this.runs().filter((r) => r.id !== run.id);
            runs.unshift(run);
            write(RUNS, runs.slice(0, MOST_RUNS));
        },
        runs() {
            if (!storage) return [];
            const runs = read(RUNS);
            return Array.isArray(runs) ? runs.filter(validRecord) : [];
        },
        remove(id) {
            write(
                RUNS,
                this.runs().filter((r) => r.id !== id),
            );
        },
        removeAll() {
            write(RUNS, []);
        },
    };
}

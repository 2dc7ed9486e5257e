// The list of the runs that ended, as the page's storage keeps it (record.js) and its panel
// shows it (runs-panel.js).

import { nameAndSeed } from './run-facts.js';

export function runsList({ records, panel }) {
    function show() {
        panel.showRuns(records.runs());
    }

    // Puts a game that ended into the list, with its name and seed read from its keys.
    function add(record, ending) {
        const { name, seed } = nameAndSeed(record.keys, record.clock);
        const run = { ...record, id: `${record.started}-${Math.random()}`, name, seed, ending };
        delete run.live; // the live game's token is of no use once the game has ended
        records.end(run);
        show();
        return run;
    }

    return {
        show,
        add,
        // A game left unfinished (for a replay, or by another tab) ends, as stopped, before
        // another is recorded in its place.
        endStored() {
            const stored = records.unfinished();
            if (!stored) return;
            records.hold(stored);
            add(stored, 'stopped');
        },
        remove(run) {
            records.remove(run.id);
            show();
        },
        removeAll() {
            if (!window.confirm('Delete every run of the list?')) return;
            records.removeAll();
            show();
        },
    };
}

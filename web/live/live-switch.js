// The "Let others watch" switch: while it is on, a game the player plays on a page served by a
// hall is played live there (live-play.js). It is on unless the player turned it off, which the
// browser remembers for the next visit.

const REMEMBERED = 'marrowdeep.letOthersWatch';

function remembered() {
    try {
        return window.localStorage.getItem(REMEMBERED) !== 'off';
    } catch {
        return true; // a browser that keeps nothing for the page
    }
}

function remember(on) {
    try {
        if (on) window.localStorage.removeItem(REMEMBERED);
        else window.localStorage.setItem(REMEMBERED, 'off');
    } catch {
        // nothing kept: the switch still works for this visit
    }
}

// The switch's label, with its check box; `turn(on)` hears each change.
export function watchSwitch(turn) {
    const label = document.createElement('label');
    label.className = 'let-watch';
    const box = document.createElement('input');
    box.type = 'checkbox';
    box.checked = remembered();
    label.append(box, ' Let others watch');
    box.addEventListener('change', () => {
        remember(box.checked);
        turn(box.checked);
    });
    // A click leaves the focus where it was, so the keyboard's keys still go to the game.
    label.addEventListener('mousedown', (event) => event.preventDefault());
    return {
        label,
        get on() {
            return box.checked;
        },
    };
}

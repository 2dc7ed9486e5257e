// The "screen reader" switch: it turns on and off the reading out of what each key brings to the
// terminal, and the browser remembers it for the next visit. The terminal's text is in the page for
// a screen reader either way.

const REMEMBERED = 'marrowdeep.screenReader';

function remembered() {
    try {
        return window.localStorage.getItem(REMEMBERED) === 'on';
    } catch {
        return false; // a browser that keeps nothing for the page
    }
}

function remember(on) {
    try {
        if (on) window.localStorage.setItem(REMEMBERED, 'on');
        else window.localStorage.removeItem(REMEMBERED);
    } catch {
        // nothing kept: the switch still works for this visit
    }
}

// `box` is the switch's check box; `turn(on)` puts the reading out on or off.
export function readerSwitch(box, turn) {
    box.checked = remembered();
    if (box.checked) turn(true);
    box.addEventListener('change', () => {
        turn(box.checked);
        remember(box.checked);
    });
    // A click leaves the focus where it was, so the keyboard's keys still go to the game.
    (box.labels[0] ?? box).addEventListener('mousedown', (event) => event.preventDefault());
}

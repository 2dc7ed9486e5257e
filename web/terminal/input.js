// The screen's input: the keyboard's keys and the pastes the screen takes while it has the focus,
// as the bytes a terminal sends for them (keys.js), and its scrolling back to the kept rows.

import { keyBytes, pastedBytes } from './keys.js';

// The input of `screen`, the element that scrolls the rows: `send(data)` hands keys on to the
// handler `onData` set, and brings the newest rows back into view.
export function screenInput(screen) {
    let following = true; // the view is on the newest rows

    // The screen's style stacks its rows from the bottom up, so its scroll position counts up from
    // the newest row (0) to the oldest kept row (negative): it stays on the newest rows as they
    // come until scrolled back, with no measuring as it draws.
    screen.addEventListener('scroll', () => {
        following = screen.scrollTop > -2;
    });

    let handler = () => {};
    function send(data) {
        if (!following) screen.scrollTop = 0;
        following = true;
        handler(data);
    }
    screen.addEventListener('keydown', (event) => {
        if (event.isComposing) return;
        // Shift with Page Up or Down scrolls the screen back and forth.
        if (event.shiftKey && (event.key === 'PageUp' || event.key === 'PageDown') && !event.ctrlKey && !event.altKey) {
            screen.scrollBy(0, (event.key === 'PageUp' ? -1 : 1) * screen.clientHeight);
            event.preventDefault();
            return;
        }
        const selected = String(window.getSelection() ?? '');
        const data = keyBytes(event, selected !== '');
        if (data === null) return;
        event.preventDefault();
        send(data);
    });
    screen.addEventListener('paste', (event) => {
        event.preventDefault();
        const text = pastedBytes(event.clipboardData?.getData('text/plain') ?? '');
        if (text) send(text);
    });

    return {
        send,
        onData(h) {
            handler = h;
        },
        // Whether the view is on the newest rows, not scrolled back.
        get following() {
            return following;
        },
        focus: () => screen.focus({ preventScroll: true }),
        // A tap on the screen gives it the focus; this tells a phone that it takes no typing, so
        // its keyboard stays down, and a keyboard's keys still come.
        keepKeyboardDown() {
            screen.setAttribute('inputmode', 'none');
        },
    };
}

// The bytes a key sends, as a terminal sends them: printable keys as themselves, Enter as CR,
// Backspace as DEL, Ctrl with a letter as its control byte, Tab, Escape, and the arrows and the
// other keys of a PC keyboard as their escape sequences. Alt puts an ESC before the key.

const ESC = '\x1b';

// Keys sent as ESC [ and a letter; with a modifier, ESC [ 1 ; m and the letter.
const LETTERED = { ArrowUp: 'A', ArrowDown: 'B', ArrowRight: 'C', ArrowLeft: 'D', Home: 'H', End: 'F' };
// Keys sent as ESC [ number ~; with a modifier, ESC [ number ; m ~.
const NUMBERED = {
    Insert: 2,
    Delete: 3,
    PageUp: 5,
    PageDown: 6,
    F5: 15,
    F6: 17,
    F7: 18,
    F8: 19,
    F9: 20,
    F10: 21,
    F11: 23,
    F12: 24,
};
const FUNCTION = { F1: 'P', F2: 'Q', F3: 'R', F4: 'S' };

// Ctrl with these characters sends the control byte of their place in ASCII.
const CONTROLLED = { '@': 0, ' ': 0, '2': 0, '[': 0x1b, '3': 0x1b, '\\': 0x1c, '4': 0x1c, ']': 0x1d, '5': 0x1d, '^': 0x1e, '6': 0x1e, '_': 0x1f, '-': 0x1f, '7': 0x1f, '/': 0x1f, '8': 0x7f };

// The bytes of the key of `event` (a keydown's key, ctrlKey, altKey, shiftKey, metaKey), or null
// for a key the browser keeps: one with the Command key, the browser's own Ctrl-Shift keys, Ctrl-V
// that pastes, and Ctrl-C while text is selected, which copies it.
export function keyBytes(event, selected = false) {
    const { key, ctrlKey, altKey, shiftKey, metaKey } = event;
    if (metaKey) return null;
    const modifier = 1 + (shiftKey ? 1 : 0) + (altKey ? 2 : 0) + (ctrlKey ? 4 : 0);
    if (key in LETTERED) return modifier > 1 ? `${ESC}[1;${modifier}${LETTERED[key]}` : `${ESC}[${LETTERED[key]}`;
    if (key in NUMBERED) return modifier > 1 ? `${ESC}[${NUMBERED[key]};${modifier}~` : `${ESC}[${NUMBERED[key]}~`;
    if (key in FUNCTION) return modifier > 1 ? `${ESC}[1;${modifier}${FUNCTION[key]}` : `${ESC}O${FUNCTION[key]}`;
    const alt = altKey ? ESC : '';
    switch (key) {
        case 'Enter':
            return alt + '\r';
        case 'Backspace':
            return alt + (ctrlKey ? '\b' : '\x7f');
        case 'Tab':
            return shiftKey ? `${ESC}[Z` : alt + '\t';
        case 'Escape':
            return alt + ESC;
    }
    if (key.length !== 1) return null; // a key of no character: Shift, Ctrl, Caps Lock, ...
    // A character made with AltGr (Ctrl and Alt together on some systems) or with the Mac's
    // Option key is typed as itself.
    if (event.getModifierState?.('AltGraph') || (altKey && key > '~') || (ctrlKey && altKey && !/^[a-z]$/i.test(key))) return key;
    if (ctrlKey) {
        if (shiftKey && /^[a-z]$/i.test(key)) return null;
        if (selected && (key === 'c' || key === 'C')) return null;
        if (key === 'v' || key === 'V') return null; // the browser's paste, which comes as keys
        const lower = key.toLowerCase();
        if (lower >= 'a' && lower <= 'z') return alt + String.fromCharCode(lower.charCodeAt(0) - 0x60);
        if (key in CONTROLLED) return alt + String.fromCharCode(CONTROLLED[key]);
        return null;
    }
    return alt + key;
}

// Pasted text as keys: each line end as the Enter key's CR.
export const pastedBytes = (text) => text.replace(/\r?\n/g, '\r');

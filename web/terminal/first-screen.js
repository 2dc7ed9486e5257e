// The first screen the build wrote into the page (first-screen.mjs): the bytes the game gives the
// screen before its first key read, which the page's rows already show before any script runs.

// The bytes held by the terminal box `element`, or null if the page has none: the attribute's
// text with every \xHH one byte.
export function firstScreenBytes(element) {
    const text = element.dataset.firstScreen;
    if (text === undefined) return null;
    const bytes = [];
    for (let at = 0; at < text.length; ) {
        if (text[at] === '\\' && text[at + 1] === 'x') {
            bytes.push(parseInt(text.slice(at + 2, at + 4), 16));
            at += 4;
        } else {
            bytes.push(text.charCodeAt(at) & 0xff);
            at += 1;
        }
    }
    return Uint8Array.from(bytes);
}

// What the game wrote, kept for the tests and the benchmark: its bytes as one character per byte,
// with "<clear>" for each clear and "<sleep N>" for each pause of N seconds.
//
// The bytes are kept as the game wrote them and made text only when the text is asked for, so a
// game played again silently spends no time on them.

// Bytes as text of one character per byte, in parts, as the argument list of fromCharCode has a
// limit.
function asText(bytes) {
    let text = '';
    for (let i = 0; i < bytes.length; i += 8192) text += String.fromCharCode.apply(null, bytes.subarray(i, i + 8192));
    return text;
}

export function transcript() {
    let pieces = []; // bytes and marks
    return {
        keep(bytes) {
            pieces.push(bytes);
        },
        mark(text) {
            pieces.push(text);
        },
        get text() {
            if (pieces.length === 1 && typeof pieces[0] === 'string') return pieces[0];
            const text = pieces.map((piece) => (typeof piece === 'string' ? piece : asText(piece))).join('');
            pieces = [text];
            return text;
        },
        clear() {
            pieces = [];
        },
    };
}

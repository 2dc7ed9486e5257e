// What the game wrote, kept for the tests and the benchmark: its bytes as one character per byte,
// with "<clear>" for each clear and "<sleep N>" for each pause of N seconds.

export function transcript() {
    let pieces = [];
    return {
        keep(bytes) {
            // In parts, as the argument list of fromCharCode has a limit.
            for (let i = 0; i < bytes.length; i += 8192) {
                pieces.push(String.fromCharCode.apply(null, bytes.subarray(i, i + 8192)));
            }
        },
        mark(text) {
            pieces.push(text);
        },
        get text() {
            if (pieces.length > 1) pieces = [pieces.join('')];
            return pieces.length ? pieces[0] : '';
        },
        clear() {
            pieces = [];
        },
    };
}

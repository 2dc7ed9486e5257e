// The terminal the game is drawn in: the terminal widget (xterm.js, loaded before the page's
// modules run) in the page's terminal box.

export const COLUMNS = 100; // the scroll list's longest line is 99 characters
export const ROWS = 40; // the tallest screen, the scroll list, has 37 rows and its prompt
export const FONT_SIZE = 15;

export function openView(element) {
    const terminal = new Terminal({
        cols: COLUMNS,
        rows: ROWS,
        convertEol: true,
        scrollback: 1000,
        fontFamily: 'monospace',
        fontSize: FONT_SIZE,
    });
    terminal.open(element);
    terminal.focus();

    return {
        write: (data, done) => terminal.write(data, done),
        onData: (handler) => terminal.onData(handler),
        focus: () => terminal.focus(),
    };
}

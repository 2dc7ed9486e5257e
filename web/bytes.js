// Bytes kept as text: a string of one character per byte, each character's code the byte's value.
// The keys a game read are kept this way (in the page's storage, a run's link, a file of keys),
// as is what it wrote, for the transcript.

// String.fromCharCode takes the bytes as its arguments, whose number has a limit: the text is
// made in parts of this many.
const PART = 8192;

// The text of `bytes` (a Uint8Array).
export function textOf(bytes) {
    let text = '';
    for (let i = 0; i < bytes.length; i += PART) text += String.fromCharCode.apply(null, bytes.subarray(i, i + PART));
    return text;
}

// The bytes of `text`, a string of one character per byte.
export const bytesOf = (text) => Uint8Array.from(text, (c) => c.charCodeAt(0));

#!/usr/bin/env python3
"""Lists the functions of the web game that can be on the stack while it waits for a key or a pause.

The web page's game stops in the middle of a function when it reads a key or pauses, and goes on
where it stopped once the page answers. Only the functions that can be under such a wait need the
code that stops and goes on; by default the link gives it to every function that calls through a
pointer as well, which is nearly all of the game. This script reads the call graph of a first link
of the game (its WebAssembly disassembled by wasm-dis, with the functions' names) and writes the
functions that can reach a waiting import, one per line, for the real link to instrument alone.
The waiting imports are the page's calls written with EM_ASYNC_JS, which the link names
__asyncjs__ and the name of the call.

A direct call reaches what it calls. A call through a pointer reaches every function of the
table with the same type, except for the byte streams of stdio: reading and writing share one
type there, and taking every write for a possible read would put everything that prints under a
wait. Each function that calls a stream through a pointer must be named below as reading or as
writing; a function that is neither stops the build, so a new way to read is never missed.

  asyncify-list.py WAT OUTPUT
"""
import re
import sys

# The stdio functions that call a stream's read through a pointer: a key read goes
# getc -> __uflow -> the stream's read (the cookie's) -> the page.
STREAM_READS = {'__uflow', 'cookieread'}
# Those that call a stream's write, seek or close through a pointer: never a read.
STREAM_WRITES = {'__fwritex', '__overflow', '__toread', 'fflush', '__vfprintf_internal', 'close_file',
                 'cookiewrite', 'cookieseek', 'cookieclose', 'sayf(char const*, ...)'}
# The type of a stream's read and write: (stream, bytes, size) -> size.
STREAM_TYPE = (('i32', 'i32', 'i32'), ('i32',))


def reads(function):
    # The runtime's dynCall_ functions call the table for the page's script, which could ask
    # for anything, so they count as reading.
    return function in STREAM_READS or function.startswith('dynCall_')


def unescape(name):
    """wasm-dis writes a name's special characters as \\hh."""
    return re.sub(r'\\([0-9a-f]{2})', lambda m: chr(int(m.group(1), 16)), name)


def signature(text):
    params = tuple(t for group in re.findall(r'\(param((?: \$\S+)?(?: [if](?:32|64))+)\)', text)
                   for t in group.split() if not t.startswith('$'))
    results = tuple(re.findall(r'\(result ([if](?:32|64))\)', text))
    return params, results


def type_signature(name):
    """binaryen names a type by its signature: $i32_i32_=>_i32, $none_=>_none."""
    params, results = name.split('_=>_')
    return (() if params == 'none' else tuple(params.split('_')),
            () if results == 'none' else tuple(results.split('_')))


def main():
    wat, output = sys.argv[1], sys.argv[2]
    imports = set()   # the waiting imports
    types = {}        # function -> signature
    calls = {}        # function -> functions it calls directly
    indirect = {}     # function -> signatures it calls through a pointer
    table = set()
    current = None
    with open(wat, encoding='utf-8') as text:
        for line in text:
            header = re.match(r' \((?:import "[^"]*" "([^"]*)" \()?func \$([^\s)]+)(.*)', line)
            if header:
                name = unescape(header.group(2))
                types[name] = signature(header.group(3))
                if header.group(1) is not None and header.group(1).startswith('__asyncjs__'):
                    imports.add(name)
                current = None if line.startswith(' (import') else name
                if current:
                    calls[current] = set()
                    indirect[current] = set()
                continue
            if line.startswith(' (elem'):
                table.update(unescape(n) for n in re.findall(r'\$(\S+?)(?=[ )]|$)', line.split(')', 1)[1]))
                continue
            if current is None:
                continue
            call = re.search(r"\(call \$([^\s)]+)", line)
            if call:
                calls[current].add(unescape(call.group(1)))
            pointer = re.search(r'\(call_indirect (?:\$\S+ )?\(type \$(\S+)\)', line)
            if pointer:
                indirect[current].add(type_signature(pointer.group(1)))

    if not imports:
        sys.exit(f'asyncify-list: no waiting import in {wat}')
    unsorted = sorted(f for f, sigs in indirect.items()
                      if STREAM_TYPE in sigs and not reads(f) and f not in STREAM_WRITES)
    if unsorted:
        sys.exit('asyncify-list: these call a stdio stream through a pointer but are not named as '
                 'reading or writing in asyncify-list.py: ' + '; '.join(unsorted))

    waiting = set(imports)
    changed = True
    while changed:
        changed = False
        reached = {types[f] for f in waiting & table}
        for f in calls:
            if f in waiting:
                continue
            through_pointer = {s for s in indirect[f] if s != STREAM_TYPE or reads(f)}
            if calls[f] & waiting or through_pointer & reached:
                waiting.add(f)
                changed = True

    instrumented = sorted(waiting - imports)
    if 'main' not in instrumented:
        sys.exit('asyncify-list: main reaches no waiting import')
    # The link's list takes one name a line, and joins them with commas for binaryen, which reads
    # a space written as '.', a comma as '?' and an ampersand as '#'.
    odd = [f for f in instrumented if re.search(r'[.?#]', f)]
    if odd:
        sys.exit('asyncify-list: these names would not match as written: ' + '; '.join(odd))
    # The names are those of the first link, before binaryen's optimizing, which the real link
    # runs before asyncify: a function inlined there is no longer in the code (binaryen warns of
    # it), and the functions binaryen makes by merging alike ones, named byn$..., may hold their
    # calls, so all of those are instrumented too.
    with open(output, 'w', encoding='utf-8') as out:
        out.write(''.join(f.translate(str.maketrans(' ,&', '.?#')) + '\n' for f in instrumented))
        out.write('byn$*\n')


if __name__ == '__main__':
    main()

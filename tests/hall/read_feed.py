"""Reads an Atom feed with Debian's feed parser and prints what it found, as JSON: whether the
parser had to forgive anything (bozo), the feed's kind, id, title and updated, and each entry's
id, title, updated and link."""
import json
import sys

import feedparser

parsed = feedparser.parse(open(sys.argv[1], "rb").read())
print(json.dumps({
    "bozo": bool(parsed.bozo),
    "version": parsed.version,
    "id": parsed.feed.get("id"),
    "title": parsed.feed.get("title"),
    "updated": parsed.feed.get("updated"),
    "entries": [[e.get("id"), e.get("title"), e.get("updated"), e.get("link")] for e in parsed.entries],
}))

#!/usr/bin/env python3
"""Counts the SFTP requests in sftp-server logs written at DEBUG3 (-e -l DEBUG3), one per login.

    sftp_log_count.py VERBS_FILE LOG...

Prints "commands files-sent" on standard output and writes to VERBS_FILE the requests by name,
then the requests that named one of the files sent (the sequence one file cost; a request on
another name, such as a temporary one, is starred).

At DEBUG3 every request has exactly one "request ID: NAME ..." line, whatever else follows it;
"request ID: sent ..." is the reply. Data writes are requests too, but pipelined, standing for
FTP's data connection: they (and reads) are listed apart and not counted as commands. The line after the
request line names its path (open "...", stat name "...", close "...").
"""
import collections
import re
import sys

REQUEST = re.compile(r"debug\d: request (\d+): (\S+)(.*)")
QUOTED = re.compile(r'"([^"]*)"')
DATA = {"read", "write"}
WRITING = re.compile(r"^open \"[^\"]*\" flags [A-Z,]*WRITE")


def requests(path):
    """Yields [name, request text, path line or ""] for each request in one login's log."""
    current = None
    with open(path, errors="replace") as log:
        for line in log:
            line = line.rstrip("\r\n")
            match = REQUEST.match(line)
            if match:
                if match.group(2) == "sent":
                    continue
                if current is not None:
                    yield current
                current = [match.group(2), match.group(3), ""]
                continue
            if line.startswith("debug") or line.startswith("sent "):
                continue
            if current is not None and not current[2]:
                current[2] = line
    if current is not None:
        yield current


def main():
    verbs_file, logs = sys.argv[1], sys.argv[2:]
    counts = collections.Counter()
    sent = 0
    sample = None
    for path in logs:
        for name, text, detail in requests(path):
            counts[name] += 1
            if WRITING.match(detail):
                sent += 1
                quoted = QUOTED.search(detail)
                if sample is None and quoted:
                    sample = quoted.group(1).rsplit("/", 1)[-1]
    # The file sent may be a temporary one renamed into place: the sequence follows the name it
    # ends under, which a temporary name beside it carries as well.
    final = sample
    if sample is not None:
        for path in logs:
            for name, text, detail in requests(path):
                paths = QUOTED.findall(detail)
                if name.endswith("rename") and len(paths) == 2 and paths[0].rsplit("/", 1)[-1] == sample:
                    final = paths[1].rsplit("/", 1)[-1]
    sequence = []
    others = []
    if final is not None:
        for path in logs:
            for name, text, detail in requests(path):
                names = [p.rsplit("/", 1)[-1] for p in QUOTED.findall(text) + QUOTED.findall(detail)]
                if not any(final in n for n in names):
                    continue
                named = names[0]
                if named == final or name.endswith("rename"):
                    sequence.append(name)
                else:
                    sequence.append(name + "*")
                    if named not in others:
                        others.append(named)
    commands = sum(n for name, n in counts.items() if name not in DATA)
    ranked = sorted(((n, name) for name, n in counts.items() if name not in DATA), key=lambda p: (-p[0], p[1]))
    line = ", ".join("%s %d" % (name, n) for n, name in ranked)
    data = ", ".join("%s %d" % (name, counts[name]) for name in sorted(DATA) if counts[name])
    if data:
        line += "; data (not counted): " + data
    with open(verbs_file, "w") as out:
        out.write(line)
        if sample is not None:
            out.write("\n    one file (%s): %s" % (final, " ".join(sequence)))
            if others:
                out.write("  (* on %s)" % ", ".join(others))
    print(commands, sent)


if __name__ == "__main__":
    main()

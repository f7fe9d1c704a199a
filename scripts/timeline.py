#!/usr/bin/env python3
"""Draws what thrum sent to the simulated trackpad as a timeline picture.

    timeline.py LOG SVG STRENGTH [STEP ...]

LOG is the simulation's log of one run of `thrum STRENGTH STEP...` (if it holds
several runs, the last is drawn). SVG is written with one bar per played step
on a time axis in milliseconds: the bar starts when the step was handed to the
first motor, is as long as its tone, as tall as its frequency, and as opaque as
its intensity; dashed lines mark the steps' deadlines. A short summary goes to
standard output. The log carries no waits, so the deadlines come from the step
texts. The tool takes its start instant once start-up is over, so the time axis
starts at the log line before the first creation, the last of start-up: it
comes before the start instant by no more than the reading of the command
line, and no step can be drawn ahead of its deadline.
"""
import ctypes
import locale
import math
import os
import re
import struct
import sys
from xml.sax.saxutils import escape, quoteattr

CLOSING_WAIT_MS = 100
WAIT_CEILING_MS = 5000

CREATE = re.compile(r"^(\d+) createActuation .*description=(.*) -> (actuation@\d+|null)$")
ACTUATE = re.compile(r"^(\d+) actuate (actuation@\d+) motor=\S+ arg3=\S+ intensity=([0-9a-f]{8}) ")
TONE = re.compile(r"Tones=\[\{([^{}\[\]]*)\}\]")


class Fault(Exception):
    pass


# Numbers are read as the tool reads them: whole, with no leading blank, by the
# C library's strtod in the C locale. A pattern of our own drifts from that, in
# which digits count or in what an overflow gives (an infinity, which rejects
# the step).
locale.setlocale(locale.LC_NUMERIC, "C")
_strtod = ctypes.CDLL(None).strtod
_strtod.restype = ctypes.c_double
_strtod.argtypes = (ctypes.c_char_p, ctypes.POINTER(ctypes.c_char_p))


def number(piece):
    text = os.fsencode(piece)
    if not text or text[:1] in b" \t\n\v\f\r":
        return None
    buffer = ctypes.create_string_buffer(text)
    end = ctypes.c_char_p()
    value = _strtod(buffer, ctypes.byref(end))
    read = ctypes.cast(end, ctypes.c_void_p).value - ctypes.addressof(buffer)
    return value if read == len(text) else None


def waits_of(steps):
    """The wait of each step text, read as the tool reads it: pieces between
    colons that are no number are skipped, and four numbers must remain. (A
    colon joined to a combining mark is taken as a separator here.)"""
    waits = []
    for text in steps:
        numbers = [n for n in (number(piece) for piece in text.split(":") if piece) if n is not None]
        if len(numbers) != 4 or not all(0 <= n < math.inf for n in numbers):
            raise Fault(f"{text!r} is not a step")
        waits.append(min(numbers[3], WAIT_CEILING_MS))
    return waits


def without_type(value):
    """A logged number without its "f64:" mark, where it has one."""
    return value[len("f64:"):] if value.startswith("f64:") else value


def tone_of(description):
    """Frequency in hertz and duration in milliseconds of a logged description."""
    match = TONE.search(description)
    if not match:
        raise Fault(f"no single tone in the description {description}")
    fields = dict(entry.split("=", 1) for entry in match.group(1).split(","))
    try:
        khz = float.fromhex(without_type(fields["FrequencykHz"]))
        ms = float.fromhex(without_type(fields["DurationMS"]))
    except (KeyError, ValueError) as fault:
        raise Fault(f"unreadable tone {match.group(1)}") from fault
    return khz * 1000, ms


def read_log(lines):
    """The end of start-up in the last run, and its created actuations in
    order: dicts with the time of creation, the tone, and the time and
    intensity of the first actuate."""
    starts = [i for i, line in enumerate(lines) if re.match(r"^\d+ load ", line)]
    lines = lines[starts[-1]:] if starts else lines
    start_ns = None
    created = []
    by_name = {}
    for index, line in enumerate(lines):
        match = CREATE.match(line)
        if match:
            if start_ns is None:
                start_ns = int(lines[max(index - 1, 0)].split(" ", 1)[0])
            hz, ms = tone_of(match.group(2))
            entry = {"created": int(match.group(1)), "hz": hz, "ms": ms, "name": match.group(3), "played": None}
            created.append(entry)
            if entry["name"] != "null":
                by_name[entry["name"]] = entry
            continue
        match = ACTUATE.match(line)
        if match and match.group(2) in by_name and by_name[match.group(2)]["played"] is None:
            entry = by_name[match.group(2)]
            entry["played"] = int(match.group(1))
            entry["intensity"] = struct.unpack(">f", bytes.fromhex(match.group(3)))[0]
    return start_ns, created


def nice_step(span, count):
    """A round tick spacing that cuts `span` into about `count` parts."""
    raw = span / count
    power = 10.0 ** math.floor(math.log10(raw))
    return next(factor * power for factor in (1, 2, 5, 10) if raw <= factor * power)


def render(title, played, deadlines, end_ms):
    width, height = 960, 360
    left, right, top, bottom = 64, 24, 56, 72
    plot_w, plot_h = width - left - right, height - top - bottom
    span = max([end_ms] + [p["start"] + p["ms"] for p in played] + deadlines) or 1
    max_hz = max([p["hz"] for p in played] + [1])
    hz_tick = nice_step(max_hz, 4)
    hz_top = hz_tick * math.ceil(max_hz / hz_tick)
    x = lambda ms: left + ms / span * plot_w
    y = lambda hz: top + plot_h - hz / hz_top * plot_h
    base = top + plot_h
    out = [
        f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" '
        f'viewBox="0 0 {width} {height}" font-family="sans-serif" font-size="11">',
        f'<rect width="{width}" height="{height}" fill="white"/>',
        f'<text x="{left}" y="20" font-size="13">{escape(title)}</text>',
        f'<text x="{left}" y="38" fill="#555">bar: one tone; height = frequency, opacity = intensity; '
        f'dashed: step deadlines; dotted: end of the closing wait</text>',
    ]
    tick = nice_step(span, 8)
    t = 0.0
    while t <= span + 1e-9:
        out.append(f'<line x1="{x(t):.2f}" y1="{base}" x2="{x(t):.2f}" y2="{base + 5}" stroke="black"/>')
        out.append(f'<text x="{x(t):.2f}" y="{base + 18}" text-anchor="middle">{t:g}</text>')
        t += tick
    out.append(f'<text x="{left + plot_w / 2}" y="{height - 24}" text-anchor="middle">time from the start (ms)</text>')
    f = 0.0
    while f <= hz_top + 1e-9:
        out.append(f'<line x1="{left - 5}" y1="{y(f):.2f}" x2="{left}" y2="{y(f):.2f}" stroke="black"/>')
        out.append(f'<text x="{left - 8}" y="{y(f) + 4:.2f}" text-anchor="end">{f:g}</text>')
        f += hz_tick
    out.append(f'<text x="16" y="{top + plot_h / 2}" text-anchor="middle" '
               f'transform="rotate(-90 16 {top + plot_h / 2})">frequency (Hz)</text>')
    out.append(f'<line x1="{left}" y1="{base}" x2="{left + plot_w}" y2="{base}" stroke="black"/>')
    out.append(f'<line x1="{left}" y1="{top}" x2="{left}" y2="{base}" stroke="black"/>')
    for number, deadline in enumerate(deadlines, 1):
        out.append(f'<line class="deadline" x1="{x(deadline):.2f}" y1="{top}" x2="{x(deadline):.2f}" y2="{base}" '
                   f'stroke="#333" stroke-dasharray="4 3" data-ms="{deadline:g}"/>')
        out.append(f'<text x="{x(deadline) + 2:.2f}" y="{top - 4}" fill="#333">{number}</text>')
    out.append(f'<line class="end" x1="{x(end_ms):.2f}" y1="{top}" x2="{x(end_ms):.2f}" y2="{base}" '
               f'stroke="#333" stroke-dasharray="1 3"/>')
    for number, p in enumerate(played, 1):
        bar_top = min(y(p["hz"]), base - 2)
        tip = (f'step {number}: {p["hz"]:g} Hz, {p["ms"]:g} ms, intensity {p["intensity"]:.3g}, '
               f'started {p["start"]:.3f} ms, {p["late"]:.3f} ms after its deadline')
        out.append(
            f'<rect class="tone" x="{x(p["start"]):.2f}" y="{bar_top:.2f}" '
            f'width="{max(x(p["start"] + p["ms"]) - x(p["start"]), 1):.2f}" height="{base - bar_top:.2f}" '
            f'fill="#c8442e" fill-opacity="{p["intensity"]:.4f}" stroke="#c8442e" '
            f'data-hz="{p["hz"]:g}" data-ms="{p["ms"]:g}" data-intensity="{p["intensity"]:g}" '
            f'data-start-ms="{p["start"]:.6f}"><title>{escape(tip)}</title></rect>')
    out.append("</svg>")
    return "\n".join(out) + "\n"


def main(argv):
    if len(argv) < 4:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    log_path, svg_path, strength, steps = argv[1], argv[2], argv[3], argv[4:]
    try:
        waits = waits_of(steps)
        with open(log_path, encoding="utf-8") as log:
            start_ns, created = read_log(log.read().splitlines())
        if not created:
            raise Fault(f"no actuation was created in {log_path}")
        deadlines = [sum(waits[:k]) for k in range(len(steps))]
        played = []
        for k, entry in enumerate(created):
            if entry["played"] is None:
                continue
            start = (entry["played"] - start_ns) / 1e6
            late = start - deadlines[k] if k < len(deadlines) else 0.0
            played.append(dict(entry, start=start, late=late))
    except (OSError, Fault) as fault:
        print(f"timeline: {fault}", file=sys.stderr)
        return 1
    last_ms = created[len(steps) - 1]["ms"] if len(created) >= len(steps) and steps else 0
    end_ms = sum(waits) + last_ms + CLOSING_WAIT_MS
    title = "thrum " + " ".join([strength] + steps)
    with open(svg_path, "w", encoding="utf-8") as svg:
        svg.write(render(title, played, deadlines, end_ms))

    print(f"steps played: {len(played)} of {len(steps)}")
    if len(played) < len(steps):
        print(f"step {len(played) + 1} was not played: the framework made no actuation for it")
    else:
        print(f"length: {end_ms:g} ms (waits {sum(waits):g} + last tone {last_ms:g} + closing wait {CLOSING_WAIT_MS})")
    if played:
        worst = max(range(len(played)), key=lambda i: played[i]["late"])
        print(f"largest lateness: {played[worst]['late']:.3f} ms (step {worst + 1})")
    print(f"timeline: {svg_path}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

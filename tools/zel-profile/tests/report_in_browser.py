#!/usr/bin/env python3
"""Renders `zel-profile report` pages in headless Chromium and checks what a reader would see.

For the example profile and for a profile whose names try to inject markup, it checks that the page
fetches nothing, that its only scripts are the timeline's data block and its inline hover script,
that the browser's DOM holds the timeline, the group bars, the legends, the utilisation chart and
the balance table, that no script fails, that moving the pointer over a timeline cell shows that
cell's exact figures from the data block, and that a screenshot is not blank: it decodes the PNG and
looks for the step kinds' colours. A missing browser is a failure, not a skip.

Usage: report_in_browser.py TOOL EXAMPLE_PROFILE CHROMIUM [--keep-screenshot PNG]
"""
import html as html_module
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

# The colours of exchange and compute in the timeline and the utilisation chart.
KIND_COLOURS = {"exchange": (0x4E, 0x79, 0xA7), "compute": (0x59, 0xA1, 0x4F)}

HOSTILE = "</title><script>document.title='pwned'</script>\"quote' & <b>bold</b>"


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def chromium(browser, arguments):
    """Runs the browser headless, offline and with a fresh profile; returns (stdout, stderr)."""
    profile_dir = tempfile.mkdtemp(prefix="zel-chromium-")
    try:
        run = subprocess.run(
            [browser, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--no-first-run", "--disable-background-networking", "--disable-component-update",
             "--disable-sync", "--hide-scrollbars", "--user-data-dir=" + profile_dir,
             "--enable-logging=stderr", "--v=0"] + arguments,
            capture_output=True, text=True, timeout=120)
    finally:
        shutil.rmtree(profile_dir, ignore_errors=True)
    if run.returncode != 0:
        fail("chromium exited with %d:\n%s" % (run.returncode, run.stderr))
    return run.stdout, run.stderr


def check_console(stderr, page):
    for line in stderr.splitlines():
        if "CONSOLE" in line or "Uncaught" in line:
            fail("%s: the browser reported a script message: %s" % (page, line))


def png_pixels(path):
    """The pixels of an 8-bit RGB or RGBA PNG, as a list of (r, g, b) rows."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        fail(path + " is not a PNG")
    at, idat = 8, b""
    width = height = channels = 0
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if depth != 8 or colour not in (2, 6) or interlace != 0:
                fail("unexpected PNG layout: depth %d, colour type %d" % (depth, colour))
            channels = 3 if colour == 2 else 4
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        filter_type = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up = previous[i]
            up_left = previous[i - channels] if i >= channels else 0
            if filter_type == 1:
                line[i] = (line[i] + left) & 0xFF
            elif filter_type == 2:
                line[i] = (line[i] + up) & 0xFF
            elif filter_type == 3:
                line[i] = (line[i] + (left + up) // 2) & 0xFF
            elif filter_type == 4:
                p = left + up - up_left
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - up_left)
                predictor = left if pa <= pb and pa <= pc else up if pb <= pc else up_left
                line[i] = (line[i] + predictor) & 0xFF
        rows.append([tuple(line[x * channels:x * channels + 3]) for x in range(width)])
        previous = line
    return rows


FIGURES_OPEN = '<script type="application/json" id="timeline-figures">'


def check_page_text(html, page):
    # Self-contained: nothing loaded from anywhere; the only scripts are the timeline's data block
    # and the inline script after it.
    scripts = re.findall(r"<script[^>]*>", html, re.IGNORECASE)
    if scripts != [FIGURES_OPEN, "<script>"]:
        fail("%s: the page holds the scripts %r" % (page, scripts))
    for pattern in [r"\bsrc\s*=", r"\bhref\s*=", r"url\(", r"@import", r"https?://(?!www\.w3\.org/2000/svg)"]:
        if re.search(pattern, html, re.IGNORECASE):
            fail("%s: the page holds %r" % (page, pattern))


def check_dom(dom, page):
    for element in ['id="summary"', 'id="group-bars"', 'id="timeline"', 'id="legend"',
                    'id="utilisation"', 'id="utilisation-legend"', 'id="balance"', 'id="groups"']:
        if element not in dom:
            fail("%s: the rendered page lacks %s" % (page, element))
    timeline = dom[dom.index('id="timeline"'):dom.index('id="legend"')]
    if timeline.count('<path class="c') < 2:
        fail(page + ": the timeline draws fewer than two categories")
    if 'id="timeline-tip"' not in dom:
        fail(page + ": the hover script did not run")


def figures_of(html):
    start = html.index(FIGURES_OPEN) + len(FIGURES_OPEN)
    return json.loads(html[start:html.index("</script>", start)])


def check_hover(browser, html_path, work):
    """Moves the pointer over the middle of a drawn cell of every row and reads the box it shows."""
    with open(html_path, encoding="utf-8") as f:
        html = f.read()
    figures = figures_of(html)
    n = len(figures["categories"])
    probes, expected = [], []
    for row in figures["rows"]:
        drawn = [b for b in range(figures["bins"]) if any(row["cells"][b * n:b * n + n])]
        if not drawn:
            continue
        b = drawn[len(drawn) // 2]
        # The bin's left edge: the probe moves to the first whole pixel in it (the example's bins
        # are wider than a pixel), as pointer events have whole-pixel coordinates.
        x = figures["left"] + figures["width"] * b * figures["bin_cycles"] / figures["span"]
        probes.append([x, (row["top"] + row["bottom"]) / 20])
        start = b * figures["bin_cycles"]
        stop = min(figures["span"], start + figures["bin_cycles"])
        lines = ["%s, cycles %d\u2013%d" % (row["label"], start, stop)]
        lines += ["%s %d (" % (figures["categories"][c], row["cells"][b * n + c])
                  for c in range(n) if row["cells"][b * n + c]]
        expected.append(lines)
    probe = """<script>
var svg = document.getElementById("timeline"), box = svg.getBoundingClientRect(), tips = [];
var scale = box.width / svg.viewBox.baseVal.width;
%s.forEach(function (p) {
  svg.dispatchEvent(new MouseEvent("mousemove", {clientX: Math.ceil(box.left + p[0] * scale + 0.01),
                                                 clientY: box.top + p[1] * scale}));
  tips.push(document.getElementById("timeline-tip").textContent);
});
document.body.setAttribute("data-tips", JSON.stringify(tips));
</script></body>""" % json.dumps(probes)
    probe_path = os.path.join(work, "probe.html")
    with open(probe_path, "w", encoding="utf-8") as f:
        f.write(html.replace("</body>", probe))
    dom, stderr = chromium(browser, ["--window-size=1200,1400", "--dump-dom",
                                     "file://" + probe_path])
    check_console(stderr, "hover probe")
    found = re.search(r'data-tips="([^"]*)"', dom)
    if not found:
        fail("hover probe: no hover text read back")
    tips = json.loads(html_module.unescape(found.group(1)))
    if len(tips) != len(expected) or not expected:
        fail("hover probe: %d hover texts for %d cells" % (len(tips), len(expected)))
    for tip, lines in zip(tips, expected):
        shown = tip.split("\n")
        if not shown[0].startswith(lines[0]) or any(
                not any(s.startswith(line) for s in shown[1:]) for line in lines[1:]):
            fail("hover probe: the box reads %r, not the cell's figures %r" % (tip, lines))
    return len(tips)


def main():
    arguments = sys.argv[1:]
    keep = None
    if "--keep-screenshot" in arguments:
        at = arguments.index("--keep-screenshot")
        keep = arguments[at + 1]
        del arguments[at:at + 2]
    if len(arguments) != 3:
        fail(__doc__)
    tool, example, browser = arguments
    if shutil.which(browser) is None:
        fail("no browser at %s: the report page cannot be checked (install chromium)" % browser)

    work = tempfile.mkdtemp(prefix="zel-report-test-")
    try:
        hostile_profile = os.path.join(work, "hostile.json")
        with open(hostile_profile, "w") as f:
            json.dump({"version": 1, "clock_hz": 0,
                       "steps": [{"local_index": 0, "phase": 0, "epoch": 0, "operation": HOSTILE,
                                  "kind": "compute", "kernel": HOSTILE,
                                  "metadata": [{"name": "n", "value": HOSTILE}]},
                                 {"local_index": 1, "phase": 1, "epoch": 0, "operation": "x",
                                  "kind": "exchange"}],
                       "tiles": [{"physical_tile": 1,
                                  "samples": [[0, 10, 30], [1, 30, 35], [0, 40, 45]]}]},
                      f)
        pages = {"example": (example, []), "hostile": (hostile_profile, ["--color-by", "group"])}
        for page, (profile, options) in pages.items():
            html_path = os.path.join(work, page + ".html")
            subprocess.run([tool, "report", profile, "-o", html_path] + options, check=True)
            with open(html_path, encoding="utf-8") as f:
                html = f.read()
            check_page_text(html, page)
            dom, stderr = chromium(browser, ["--dump-dom", "file://" + html_path])
            check_console(stderr, page)
            check_dom(dom, page)
            if page == "hostile":
                # The names arrive as text: escaped in the markup, shown whole to the reader.
                if "&lt;/title&gt;&lt;script&gt;" not in dom:
                    fail("hostile: the hostile name is not shown as text")
                if "<b>" in dom:
                    fail("hostile: a name added markup")
                if "clock unknown" not in dom:
                    fail("hostile: a profile without clock rate does not say so")

        hovered = check_hover(browser, os.path.join(work, "example.html"), work)

        shot = os.path.join(work, "example.png")
        _, stderr = chromium(browser, ["--window-size=1200,1400", "--screenshot=" + shot,
                                       "file://" + os.path.join(work, "example.html")])
        check_console(stderr, "example screenshot")
        pixels = png_pixels(shot)
        counts = {}
        for row in pixels:
            for pixel in row:
                counts[pixel] = counts.get(pixel, 0) + 1
        total = sum(counts.values())
        white = counts.get((255, 255, 255), 0)
        if total - white < total // 20:
            fail("the screenshot is almost blank: %d of %d pixels are not white" % (total - white, total))
        if len(counts) < 16:
            fail("the screenshot has only %d colours" % len(counts))
        for kind, colour in KIND_COLOURS.items():
            if counts.get(colour, 0) < 500:
                fail("the screenshot shows little or no %s colour %s" % (kind, colour))
        if keep:
            shutil.copyfile(shot, keep)
        print("report pages render: %d colours, %d%% of pixels drawn, %d cells' hover figures exact"
              % (len(counts), 100 * (total - white) // total, hovered))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()

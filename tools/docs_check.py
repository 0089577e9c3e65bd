#!/usr/bin/env python3
"""Opens the built documentation site in headless Chromium, as a reader's
browser would, and fails when a page has a broken internal link (a page
or an anchor that is not there), an image that does not load, or a
JavaScript error. Saves screenshots of the landing page, one guide page,
one API page and one gallery page.

  docs_check.py HTML_DIR [--screenshots DIR] [--chromium PATH]

The site is served over HTTP from HTML_DIR on a free local port; every
.html file under it is visited, and every link found on a page is followed
to its target. Requests to other hosts (the MathJax script of the theme's
CDN) are not made, and are counted, not judged. Needs playwright (pip)
and Debian's chromium.
"""

import argparse
import functools
import http.server
import os
import sys
import threading
import urllib.parse

from playwright.sync_api import sync_playwright

SCREENSHOTS = {
    "landing.png": "index.html",
    "guide.png": "guide/quality.html",
    "api.png": "_generated/api/mfwindow.analyse.html",
    "gallery.png": "_generated/gallery/ecg_summary.html",
}

# Each image, and whether it has loaded with a size.
IMAGES = """() => Array.from(document.images)
    .filter(i => !i.complete || i.naturalWidth === 0)
    .map(i => i.getAttribute('src'))"""
LINKS = """() => Array.from(document.querySelectorAll('a[href]'))
    .map(a => a.href)"""
IDS = "() => Array.from(document.querySelectorAll('[id]')).map(e => e.id)"


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def serve(folder):
    handler = functools.partial(QuietHandler, directory=folder)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def pages_on_disk(folder):
    for top, dirs, files in os.walk(folder):
        dirs[:] = [d for d in dirs if d not in ("_sources", "_static")]
        for name in files:
            if name.endswith(".html"):
                yield os.path.relpath(os.path.join(top, name),
                                      folder).replace(os.sep, "/")


def check(folder, shots, chromium):
    server = serve(folder)
    base = "http://127.0.0.1:%d/" % server.server_address[1]
    problems, external = [], set()
    anchors = {}  # page URL -> ids on it
    wanted = []   # (page it is on, link URL with a fragment)
    linked_from = {}  # page -> the first page that links to it
    with sync_playwright() as p:
        browser = p.chromium.launch(executable_path=chromium,
                                    args=["--no-sandbox"])
        page = browser.new_page(viewport={"width": 1280, "height": 900})
        errors = []
        page.on("pageerror", lambda e: errors.append("JavaScript: %s" % e))
        page.on("console", lambda m: errors.append("console: %s" % m.text)
                if m.type == "error" and "net::ERR_FAILED" not in m.text
                else None)

        def route(r):
            if r.request.url.startswith(base):
                r.continue_()
            else:
                external.add(urllib.parse.urlsplit(r.request.url).netloc)
                r.abort()
        page.route("**/*", route)

        def response(res):
            if res.url.startswith(base) and res.status >= 400:
                errors.append("HTTP %d: %s" % (res.status, res.url[len(base):]))
        page.on("response", response)

        queue = sorted(pages_on_disk(folder))
        seen = set()
        while queue:
            rel = queue.pop(0)
            if rel in seen:
                continue
            seen.add(rel)
            errors.clear()
            page.goto(base + rel, wait_until="load")
            for src in page.evaluate(IMAGES):
                errors.append("image did not load: %s" % src)
            anchors[rel] = set(page.evaluate(IDS))
            for href in page.evaluate(LINKS):
                if not href.startswith(base):
                    continue
                target, _, fragment = href[len(base):].partition("#")
                target = target or rel
                if target.endswith("/"):
                    target += "index.html"
                if fragment:
                    wanted.append((rel, target, fragment))
                if target.endswith(".html") and target not in seen:
                    linked_from.setdefault(target, rel)
                    queue.append(target)
            where = rel if rel not in linked_from or os.path.isfile(
                os.path.join(folder, rel)) else "%s (linked from %s)" % (
                    rel, linked_from[rel])
            problems += ["%s: %s" % (where, e) for e in errors]
        for name, rel in sorted(shots.items()) if shots else []:
            page.goto(base + rel, wait_until="load")
            page.screenshot(path=name)
        browser.close()
    server.shutdown()
    for rel, target, fragment in wanted:
        ids = anchors.get(target)
        if ids is not None and urllib.parse.unquote(fragment) not in ids:
            problems.append("%s: link to a missing anchor %s#%s"
                            % (rel, target, fragment))
    return len(seen), sorted(set(problems)), sorted(external)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("html")
    parser.add_argument("--screenshots", metavar="DIR")
    parser.add_argument("--chromium", default="/usr/bin/chromium")
    args = parser.parse_args()
    shots = {}
    if args.screenshots:
        os.makedirs(args.screenshots, exist_ok=True)
        shots = {os.path.join(args.screenshots, name): rel
                 for name, rel in SCREENSHOTS.items()}
    for rel in SCREENSHOTS.values():
        if not os.path.isfile(os.path.join(args.html, rel)):
            print("docs_check: no page %s to screenshot" % rel,
                  file=sys.stderr)
            return 1
    count, problems, external = check(args.html, shots, args.chromium)
    for line in problems:
        print("docs_check: " + line, file=sys.stderr)
    print("docs_check: %d pages, %d problems; requests to other hosts not "
          "made: %s" % (count, len(problems), ", ".join(external) or "none"))
    for name in sorted(shots):
        print("docs_check: screenshot " + name)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())

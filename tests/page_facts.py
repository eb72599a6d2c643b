"""The overview page as a real browser sees it: headless chromium, offline, prints the DOM it built and logs
every network request; facts are read from that DOM (see tests/merge_cases/README.md, page.txt)."""

import html.parser, json, os, re, shutil, signal, subprocess, tempfile

CHROMIUM = ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
            "--disable-component-update", "--disable-sync", "--no-first-run", "--disable-quic",
            "--host-resolver-rules=MAP * ~NOTFOUND"]
LOADERS = {"script", "img", "image", "link", "iframe", "frame", "object", "embed", "form", "audio", "video",
           "source", "track", "picture", "base", "use", "foreignobject", "input", "button", "meta"}
VOID = {"meta", "br", "hr", "img", "input", "link", "source", "track", "wbr", "area", "base", "col", "embed"}


def browse(page, *extra):
    """(stdout, the page's own network requests) of chromium with a fresh profile, or None after a minute (a
    script that opened a dialog holds --dump-dom for good)."""
    profile = tempfile.mkdtemp()
    try:
        browser = subprocess.Popen(CHROMIUM + ["--user-data-dir=" + profile, "--log-net-log=%s/net.json" % profile,
                                              *extra, page.as_uri()], stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL, start_new_session=True)
        try:
            out = browser.communicate(timeout=60)[0]
        except subprocess.TimeoutExpired:
            os.killpg(browser.pid, signal.SIGKILL)
            browser.communicate()
            return None
        events = json.load(open(profile + "/net.json"))["events"]
    finally:
        shutil.rmtree(profile, ignore_errors=True)
    # The browser's own traffic has no file:// frame behind it; the page's requests do.
    return out.decode("utf-8"), [e["params"] for e in events
                                 if "file:" in str(e.get("params", {}).get("network_isolation_key", ""))]


class Node:
    def __init__(self, tag, attrs):
        self.tag, self.attrs, self.children = tag, dict(attrs), []

    def walk(self):
        yield self
        for child in self.children:
            if isinstance(child, Node):
                yield from child.walk()

    def text(self):
        return " ".join("".join(c if isinstance(c, str) else " " + c.text() + " " for c in self.children).split())

    def find(self, tag, **attrs):
        return [n for n in self.walk() if n.tag == tag and all(n.attrs.get(k) == v for k, v in attrs.items())]


class Tree(html.parser.HTMLParser):
    def __init__(self, dom):
        super().__init__(convert_charrefs=True)
        self.root = Node("#document", [])
        self.stack = [self.root]
        self.feed(dom)

    def handle_starttag(self, tag, attrs):
        node = Node(tag, attrs)
        self.stack[-1].children.append(node)
        if tag not in VOID:
            self.stack.append(node)

    def handle_endtag(self, tag):
        while len(self.stack) > 1 and self.stack.pop().tag != tag:
            pass

    def handle_data(self, data):
        self.stack[-1].children.append(data)


def cells(row):
    """A row's cells as page.txt gives them: a list item per name, joined by 、."""
    return " | ".join("、".join(li.text() for li in c.find("li")) if c.find("li") else c.text()
                      for c in row.children if isinstance(c, Node) and c.tag in ("td", "th"))


def unsafe(page_bytes, root, requests):
    """What in the page could run, load or send anything, or spoils its form; empty when nothing does."""
    found = ["a request: " + str(r) for r in requests]
    head = page_bytes[:200].decode("utf-8")
    found += [] if '<html lang="zh-Hant">' in head and '<meta charset="utf-8">' in head else ["no zh-Hant or utf-8"]
    # No control character but tab, LF and CR: HTML allows no other (but form feed, which no page needs), and
    # browsers show them differently.
    found += ["a raw control character U+%04X in the source" % ord(c) for c in sorted(set(
        re.findall(r"[\x00-\x08\x0b\x0c\x0e-\x1f\x7f-\x9f]", page_bytes.decode("utf-8", "replace"))))]
    for node in root.walk():
        if node.tag in LOADERS and not (node.tag == "meta" and set(node.attrs) <= {"charset", "name", "content"}):
            found.append("a <%s> element" % node.tag)
        for name, value in node.attrs.items():
            if name.startswith("on") or name in ("src", "srcset", "action", "formaction", "poster", "data",
                                                 "xlink:href", "background", "ping"):
                found.append("attribute %s=%r on <%s>" % (name, value, node.tag))
            elif name == "href" and not (value or "").startswith("#"):
                found.append("href=%r" % value)
            elif name == "xmlns" and value != "http://www.w3.org/2000/svg":
                found.append("xmlns=%r" % value)
        styles = [node.attrs.get("style") or ""] + ([node.text()] if node.tag == "style" else [])
        found += ["style that loads: " + s[:80] for s in styles if re.search(r"url\s*\(|@import|image-set", s, re.I)]
    return found


def check_page(page, facts_file):
    """Failures of the page against page.txt's facts, and against the rules that hold for every page."""
    browsed = browse(page, "--dump-dom")
    if browsed is None:
        return ["the browser had not loaded the page in a minute: a script ran and opened a dialog"]
    dom, requests = browsed
    root = Tree(dom).root
    failures = unsafe(page.read_bytes(), root, requests)
    if facts_file is None or not facts_file.exists():
        return failures
    seen = {
        "counts": [n.text() for n in root.find("p", id="counts")],
        "pc": [cells(r) for t in root.find("table", id="pcs") for r in t.find("tr")[1:]],
        "lanes": [str(len(root.find("g", **{"class": "lane"})))],
        "lane": ["%s first=%d last=%d" % (g.find("text")[0].text(), len(g.find("circle", **{"class": "first"})),
                                          len(g.find("rect", **{"class": "last"})))
                 for g in root.find("g", **{"class": "lane"})],
        "years": [" ".join(t.text() for t in root.find("text", **{"class": "year"}))],
        "since": [t.text() for t in root.find("text") if t.text().startswith("稽核期間起日")],
        "more": [n.text() for n in root.find("p", id="more-lanes")],
        "model": [cells(r) for t in root.find("table", id="models") for r in t.find("tr")[1:]],
        "notmerged": [cells(r) for t in root.find("table", id="not-merged") for r in t.find("tr")[1:]],
    }
    expected, texts = {}, []
    for line in facts_file.read_text("utf-8").splitlines():
        kind, _, value = line.partition(" ")
        if kind == "text":
            texts.append(value)
        elif kind:
            expected.setdefault(kind, []).append(" ".join(value.split()))
    seen = {kind: [" ".join(v.split()) for v in values] for kind, values in seen.items()}
    for kind, values in expected.items():
        if seen.get(kind) != values:
            failures.append("%s: the page has\n  %s\nexpected\n  %s" % (kind, "\n  ".join(seen.get(kind, ["?"])),
                                                                       "\n  ".join(values)))
    strings = [c for n in root.walk() for c in n.children if isinstance(c, str)]
    failures += ["no text node holds %r" % t for t in texts if not any(t in s for s in strings)]
    return failures

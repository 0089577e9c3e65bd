"""The pages of the documentation site that are made from the project's
own sources at each build, so that they cannot drift from them:

- the command-line reference, from what `mfwindow-batch --help` prints
  (the help that the settings table makes; MFWINDOW_BATCH names the
  program, else build/mfwindow-batch);
- the gallery, one page per figure of docs/gallery: the figure's text from
  docs/gallery/README.md, its committed PNG, and the code that draws it,
  taken from docs/gallery/make_gallery.py (the figures are not drawn again
  here: `make gallery-check` checks that they are current).

The pages are written into docs/_generated/ before the sources are read.
"""

import ast
import os
import re
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))
DOCS = os.path.dirname(HERE)
ROOT = os.path.dirname(DOCS)
GENERATED = os.path.join(DOCS, "_generated")
GALLERY = os.path.join(DOCS, "gallery")

# CLI11 prints an option's signature from column 2 and its text from
# column 30, or from column 30 of the next lines when the signature is longer.
TEXT_COLUMN = 30


def batch_program():
    return os.environ.get("MFWINDOW_BATCH",
                          os.path.join(ROOT, "build", "mfwindow-batch"))


def batch_help():
    done = subprocess.run([batch_program(), "--help"], capture_output=True,
                          text=True, timeout=60, check=True)
    return done.stdout


def parse_help(text):
    """The positionals and options of a CLI11 help text, as (signature,
    description) pairs in the order printed (up to the blank line after
    them)."""
    options, inside = [], False
    for line in text.splitlines():
        if line in ("Positionals:", "Options:"):
            inside = True
        elif not line.strip():
            inside = False
        elif inside and line.startswith("  ") and line[2] != " ":
            if line[TEXT_COLUMN - 1] == " " and line[TEXT_COLUMN] != " ":
                options.append([line[:TEXT_COLUMN].strip(),
                                line[TEXT_COLUMN:].strip()])
            else:
                options.append([line.strip(), ""])
        elif inside and options:
            options[-1][1] = (options[-1][1] + " " + line.strip()).strip()
    return [tuple(o) for o in options]


def flags_of(signature):
    """The flags an option line names ("-h,--help" -> ["-h", "--help"])."""
    return re.findall(r"(?<![\w-])(--?[A-Za-z][\w-]*)", signature.split(" ")[0])


def escape(text):
    return text.replace("|", "\\|")


def cli_page():
    text = batch_help()
    options = parse_help(text)
    lines = [
        "# Command-line reference: mfwindow-batch", "",
        "This page is made from `mfwindow-batch --help` each time the site "
        "is built; the help itself is made from the settings table, the "
        "source of the Python keywords too. {doc}`/guide/batch` explains "
        "the input formats, the result files and the exit statuses.", "",
        "| option | meaning |", "|---|---|"]
    for signature, description in options:
        # A | in a table cell, code or not, must be written \|.
        lines.append("| `%s` | %s |" % (escape(signature.replace("`", "")),
                                        escape(description)))
    lines += ["", "## The help as printed", "", "```text", text.rstrip(),
              "```", ""]
    return "\n".join(lines)


def gallery_sections():
    """(image name, alt text, kind heading, text) per figure of the
    gallery's README, in its order."""
    with open(os.path.join(GALLERY, "README.md")) as f:
        readme = f.read()
    figures, heading = [], ""
    current = None
    for line in readme.splitlines():
        image = re.match(r"^!\[(.*)\]\((\w+)\.png\)$", line)
        if line.startswith("## "):
            heading, current = line[3:].strip(), None
        elif image:
            current = [image.group(2), image.group(1), heading, []]
            figures.append(current)
        elif current is not None:
            current[3].append(line)
    return [(name, alt, kind, "\n".join(text).strip())
            for name, alt, kind, text in figures]


def gallery_intro():
    with open(os.path.join(GALLERY, "README.md")) as f:
        readme = f.read()
    first = readme.split("\n## ", 1)[0]
    return first.split("\n", 1)[1].strip()


def figure_code():
    """Per figure name, the statements of make_gallery.figures() that make
    its input and settings and its drawing function."""
    path = os.path.join(GALLERY, "make_gallery.py")
    with open(path) as f:
        source = f.read()
    lines = source.splitlines()
    tree = ast.parse(source)
    body = next(node for node in tree.body
                if isinstance(node, ast.FunctionDef)
                and node.name == "figures").body
    code, start = {}, None
    for node in body:
        if isinstance(node, ast.Expr) and isinstance(node.value, ast.Constant):
            continue  # the docstring
        if start is None:
            start = node.lineno
        if isinstance(node, ast.FunctionDef):
            chunk = lines[start - 1:node.end_lineno]
            indent = min(len(s) - len(s.lstrip()) for s in chunk if s.strip())
            code[node.name] = "\n".join(s[indent:] for s in chunk)
            start = None
    return code


def gallery_pages():
    code = figure_code()
    pages = {}
    index = ["# Gallery", "", gallery_intro().replace(
        "[`make_gallery.py`](make_gallery.py)",
        "{doc}`make_gallery.py <script>`"), "", "```{toctree}",
             ":hidden:", ""]
    cards = []
    for name, alt, kind, text in gallery_sections():
        if name not in code:
            raise RuntimeError("make_gallery.py draws no figure %r" % name)
        title = "%s (%s)" % (alt, kind.split(": ")[-1].strip("`"))
        text = text.replace("](../method.md)", "](../../method.md)")
        pages[name] = "\n".join([
            "# " + title, "", "![%s](../../gallery/%s.png)" % (alt, name), "",
            text, "", "## The code", "",
            "From {doc}`make_gallery.py <script>` (the data loaders and "
            "signal generators are defined there):", "",
            "```python", code[name], "```", ""])
        index.append(name)
        cards += ["## [%s](%s.md)" % (title, name), "",
                  "[![%s](../../gallery/%s.png)](%s.md)" % (alt, name, name),
                  ""]
    index += ["script", "```", ""] + cards
    pages["index"] = "\n".join(index)
    pages["script"] = "\n".join([
        "# The gallery's script", "",
        "`docs/gallery/make_gallery.py`, which `make gallery` runs to draw "
        "every figure and `make gallery-check` to check them:", "",
        "```{literalinclude} ../../gallery/make_gallery.py",
        ":language: python", "```", ""])
    return pages


def write(path, text):
    """Writes only a changed page, so that Sphinx rereads only those."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if os.path.exists(path):
        with open(path) as f:
            if f.read() == text:
                return
    with open(path, "w") as f:
        f.write(text)


def generate(app):
    write(os.path.join(GENERATED, "cli.md"), cli_page())
    for name, text in gallery_pages().items():
        write(os.path.join(GENERATED, "gallery", name + ".md"), text)


def setup(app):
    app.connect("builder-inited", generate)
    return {"parallel_read_safe": True, "parallel_write_safe": True}

#!/usr/bin/python3
"""Writes a section-1 man page from a tool's --help text (read on stdin).

Every ZelkoLink tool lays its help out the same way, and each part maps to
its man page counterpart:

    Usage: TOOL ...              -> SYNOPSIS (one line per usage line)
           TOOL ...
    First paragraph. More prose. -> NAME (its first phrase) and DESCRIPTION
    Options:                     -> a section named by the heading
      --flag ARG   text          -> a tagged paragraph per two-space entry,
                   more text        deeper-indented lines continue it
    Exit status: text            -> a paragraph opening with a short
                                    "Heading: " phrase is a section too

  help_to_man.py --name TOOL --version V --date YYYY-MM-DD < help.txt > TOOL.1
"""

import argparse
import re
import sys

HEADING_ALONE = re.compile(r"^([A-Z][A-Za-z ]{0,30}):$")
HEADING_LEADS = re.compile(r"^([A-Z][a-z]+(?: [a-z]+){0,2}): (.+)$")
ENTRY = re.compile(r"^  (\S.*?)(?: {2,}(\S.*))?$")


def roff(text):
    """Text as roff prints it: backslashes and dashes literal, no request."""
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return "\\&" + text if text.startswith((".", "'")) else text


def paragraphs(lines):
    block = []
    for line in lines:
        if line.strip():
            block.append(line.rstrip())
        elif block:
            yield block
            block = []
    if block:
        yield block


def summary(first_paragraph):
    """The first phrase of the description, for the NAME line."""
    phrase = re.split(r"[,.;:]", " ".join(first_paragraph), maxsplit=1)[0].strip()
    return phrase[:1].lower() + phrase[1:]


class Page:
    def __init__(self):
        self.out = []

    def section(self, title):
        self.out.append(f'.SH "{title.upper()}"')

    def text(self, lines):
        if not lines:
            return
        self.out.append(".PP")
        self.out.extend(roff(line.strip()) for line in lines)

    def entry(self, tag, text):
        self.out += [".TP", f"\\fB{roff(tag)}\\fR"]
        if text:
            self.out.append(roff(text))

    def block(self, lines):
        """Prose lines and two-space entries, in the order they come."""
        prose, in_entry = [], False
        for line in lines:
            indent = len(line) - len(line.lstrip(" "))
            match = ENTRY.match(line) if indent == 2 else None
            if match:
                self.text(prose)
                prose, in_entry = [], True
                self.entry(match.group(1), match.group(2))
            elif indent > 2 and in_entry:
                self.out.append(roff(line.strip()))  # the entry above goes on
            else:
                prose.append(line)
                in_entry = False
        self.text(prose)


def man_page(help_text, name, version, date):
    blocks = list(paragraphs(help_text.splitlines()))
    if not blocks or not blocks[0][0].startswith("Usage: "):
        raise ValueError(f"{name} --help does not start with 'Usage: '")
    usage = [line.strip() for line in blocks[0]]
    usage[0] = usage[0][len("Usage: "):]
    if len(blocks) < 2:
        raise ValueError(f"{name} --help has no description after its usage")

    page = Page()
    page.out += [
        f'.TH "{roff(name.upper())}" 1 "{date}" "ZelkoLink {version}" "User Commands"',
        ".nh", ".ad l", '.SH "NAME"', f"{roff(name)} \\- {roff(summary(blocks[1]))}",
        '.SH "SYNOPSIS"']
    for k, line in enumerate(usage):
        command, _, arguments = line.partition(" ")
        page.out += [".br"] if k else []
        page.out.append(f"\\fB{roff(command)}\\fR {roff(arguments)}".rstrip())
    page.section("Description")
    for block in blocks[1:]:
        alone = HEADING_ALONE.match(block[0])
        leads = HEADING_LEADS.match(block[0])
        if alone:
            page.section(alone.group(1))
            block = block[1:]
        elif leads:
            page.section(leads.group(1))
            block = [leads.group(2)] + block[1:]
        page.block(block)
    return "\n".join(page.out) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--name", required=True, help="the tool's name")
    parser.add_argument("--version", required=True, help="ZelkoLink's version")
    parser.add_argument("--date", required=True, help="the page's date, YYYY-MM-DD")
    arguments = parser.parse_args()
    try:
        sys.stdout.write(man_page(sys.stdin.read(), arguments.name, arguments.version, arguments.date))
    except ValueError as error:
        sys.exit(f"help_to_man.py: {error}")


if __name__ == "__main__":
    main()

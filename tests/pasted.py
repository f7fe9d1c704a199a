"""Lines that a reader pastes at a prompt: which lines of the documents are
such lines, and whether one means the same in interactive zsh with its
defaults (a Mac's login shell), in bash and in sh.

Interactive zsh takes `#` for a word of its own unless interactive_comments is
set, stops at a file name pattern that matches nothing, does not split the
value of $NAME into words, and expands `=word` to a command's path; interactive
zsh and bash expand `!` from the history. Each line is both read against these
rules and run, with every command it names replaced by a stub that records its
arguments, in all three shells as a paste would run it: read from standard
input by an interactive shell.
"""
import os
import re
import shutil
import subprocess
import tempfile

# The code blocks' lines that show syntax, not a command.
SYNOPSIS = {"thrum --check", "thrum strength [step ...]", "hz:ms:level:wait"}
# What a pasted command starts with, for finding commands in running text.
COMMANDS = ("brew ", "python3 ", "scripts/", "xcode-select ", "pbcopy ", "rm ", "export ", "cmake ", "git ",
            "thrum ", "sudo ", "make ", "man ", "echo ", "build/", "cd ", "LD_", "DYLD_", "MTSIM_")


def code_blocks(text):
    """The lines of a Markdown text's indented code blocks, continuation
    lines joined, each with the paragraph of running text before its block."""
    found, paragraph, previous, block = [], "", "", False
    for line in text.replace("\\\n", "").splitlines():
        if line.startswith("    ") and (block or not previous.strip()):
            block = True
            if line.strip():
                found.append((paragraph, line.strip()))
        elif line.strip():
            fresh = block or not previous.strip()
            paragraph = line.strip() if fresh else paragraph + " " + line.strip()
            block = False
        previous = line
    return found


def code_lines(text):
    """The lines of a Markdown text's code blocks, without the synopsis."""
    return [line for _, line in code_blocks(text) if line not in SYNOPSIS]


def inline_commands(text):
    """The commands a text shows inline, in `backticks`."""
    return [span for span in re.findall(r"`([^`\n]+)`", text) if span.startswith(COMMANDS) and not span.endswith("/")]


def manual_lines(text):
    """The command lines of the manual's examples: .Dl lines and the lines of
    literal displays, with their continuations joined."""
    found, literal = [], False
    for line in text.replace("\\e\n", "").splitlines():
        if line.startswith(".Bd -literal"):
            literal = True
        elif line.startswith(".Ed"):
            literal = False
        elif line.startswith(".Dl "):
            found.append(line[len(".Dl "):].replace("\\&", "").strip())
        elif literal and not line.startswith("."):
            found.append(line.replace("\\&", "").strip())
    return [line for line in found if line and line not in SYNOPSIS]


def _characters(line):
    """The line's characters outside single quotes, backslash escapes left
    out, each as (character, whether it is inside double quotes)."""
    parts, i, quote = [], 0, None
    while i < len(line):
        c = line[i]
        if quote == "'":
            if c == "'":
                quote = None
            i += 1
            continue
        if c == "\\" and i + 1 < len(line):
            parts.append(("", quote == '"'))
            i += 2
            continue
        if quote is None and c == "'":
            quote = "'"
        elif c == '"':
            quote = None if quote == '"' else '"'
        else:
            parts.append((c, quote == '"'))
        i += 1
    return parts


def faults(line):
    """Why the line may be read otherwise by interactive zsh with its defaults
    than by bash or sh; empty when it means the same."""
    found = []
    chars = _characters(line)
    text = "".join(c for c, _ in chars)
    # Quoted letters stand as Q: they belong to their word but expand nothing.
    unquoted = "".join(c if not q else "Q" for c, q in chars)
    command = True  # at a word that starts a command, where NAME=value assigns
    for word, after in re.findall(r"([^\s;&|()<>]*)([\s;&|()<>]*)", unquoted):
        assignment = command and re.match(r"^[A-Za-z_][A-Za-z0-9_]*=", word)
        if word.startswith("#"):
            found.append("a word starts with #: a comment in sh and bash, a word at zsh's prompt")
        if word.startswith("="):
            found.append("a word starts with =: zsh puts a command's path there")
        if re.search(r"[*?]|\[[^\]]*\]", re.sub(r"\$[?*#]", "", word)) and word != "[":
            found.append(f"{word!r} is a file name pattern: zsh stops when it matches nothing")
        if re.search(r"\{[^}]*,[^}]*\}", word):
            found.append(f"{word!r} is a brace expansion in zsh and bash, not in sh")
        if re.search(r"[=:]~", word) and not assignment:
            found.append(f"{word!r}: bash expands ~ after = or :, zsh and sh do not")
        if re.search(r"\$[A-Za-z_{(]", word) and not assignment:
            found.append(f"{word!r}: zsh does not split an unquoted expansion into words, bash and sh do")
        if word:
            command = bool(assignment)
        if re.search(r"[;&|(]", after):
            command = True
    if "!" in text:
        found.append("a ! outside single quotes: zsh and bash expand it from the history")
    if re.search(r"&>|<<<|<\(|>\(|\$'", line):
        found.append("a redirection or quote that sh does not have")
    if re.match(r"^echo .*\\", text):
        found.append("echo with a backslash: zsh's echo reads escapes, bash's does not")
    return found


# Records its name and arguments, with the shell's builtins alone: the stubs'
# PATH has the shells' folder, which on a Mac holds few other commands.
STUB = """#!/bin/sh
{ printf '%s' "${0##*/}"; for word in "$@"; do printf ' [%s]' "$word"; done; echo; } >>"$PASTE_LOG"
"""


def run_everywhere(lines):
    """Pastes each line into each shell, with every command the line could
    start replaced by a stub, and returns {line: {shell: what it did}}, where
    what it did is the stubs' record, the shell's output and its status."""
    found = {}
    with tempfile.TemporaryDirectory() as scratch:
        stubs = os.path.join(scratch, "stubs")
        os.makedirs(stubs)
        for line in lines:
            for word in re.findall(r"(?:^|[;&|]\s*|\bsudo\s+|\bxargs\s+(?:-\S+\s+)*)([\w./-]+)", line):
                # A command by name is found on PATH, one by path in the folder.
                path = os.path.join(scratch, "cwd", word) if "/" in word else os.path.join(stubs, word)
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "w") as f:
                    f.write(STUB)
                os.chmod(path, 0o755)
        for line in lines:
            found[line] = {}
            for shell in ("zsh", "bash", "sh"):
                cwd = os.path.join(scratch, "cwd")
                home = os.path.join(scratch, "home")
                for folder in (cwd, home, os.path.join(cwd, "thrum"), os.path.join(cwd, "build")):
                    os.makedirs(folder, exist_ok=True)
                for name in ("mac-report.md", "install_manifest.txt"):
                    open(os.path.join(cwd, "build", name), "a").close()
                log = os.path.join(scratch, "log")
                open(log, "w").close()
                command = {"zsh": ["zsh", "-f", "-i"], "bash": ["bash", "--norc", "--noprofile", "-i"],
                           "sh": ["sh", "-i"]}[shell]
                environment = {"PATH": stubs + os.pathsep + os.path.dirname(shutil.which("sh")),
                               "HOME": home, "PASTE_LOG": log, "PS1": "", "PS2": "", "PROMPT": "", "TERM": "dumb"}
                # A session of its own: given a controlling terminal,
                # interactive zsh reads from it, not the pasted line.
                run = subprocess.run(command, input=line + "\nexit $?\n", cwd=cwd, env=environment,
                                     capture_output=True, text=True, timeout=30, start_new_session=True)
                with open(log) as f:
                    found[line][shell] = (f.read(), run.stdout, run.returncode)
                shutil.rmtree(home)
    return found

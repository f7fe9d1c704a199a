#!/usr/bin/env python3
"""Checks that Python files run on Python 3.8, the oldest Mac's (macOS 12.0
to 12.4 with Xcode 13's command-line tools), which has no packages besides its
standard library.

    check-python.py [PATH ...]   files or folders (by default scripts, bench,
                                 tests, probe and sim of this checkout);
                                 exit 1 on any finding

In a folder it checks every *.py file and every file with a Python #! line.
Each finding is a line "FILE:LINE: what, needs 3.X":
  - grammar newer than 3.8: what ast.parse refuses with feature_version=(3, 8),
    and what it lets through although 3.8's parser would not (relaxed
    decorators, unparenthesised walrus and starred items, parenthesised
    context managers, ...);
  - built-in generics (list[int]) and unions (int | None) evaluated at run
    time: anywhere but in annotations under `from __future__ import
    annotations` or of local variables;
  - the standard library's later additions, from a table below: modules,
    functions, methods and keyword arguments;
  - imports of modules a Mac's Python does not have, outside a try that
    catches ImportError (which is how a file says it does without them).
Code under `if sys.version_info >= (3, X):` may use what 3.X has. A finding
that is no fault (a guarded call, a method of our own that shares a newer
name) is silenced by a comment "# py38: why" on its line, or alone on the line
before. Python 3.12 and later parse f-strings that reuse their quotes inside
(f"{d["k"]}"), which this check cannot see there; an older Python refuses them
as a syntax error.
"""
import ast
import io
import os
import re
import sys
import tokenize
from bisect import bisect_left

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_FOLDERS = ("scripts", "bench", "tests", "probe", "sim")
SILENCED = re.compile(r"#\s*py38:\s*\S")


def table(text):
    """{name: minor version} from lines of "3.X name name ..."."""
    found = {}
    for line in text.splitlines():
        words = line.split("#", 1)[0].split()
        if words:
            found.update((name, int(words[0].split(".")[1])) for name in words[1:])
    return found


def keyword_table(text):
    """{(call, keyword): minor version} from lines of "3.X call ...: keyword ..."."""
    found = {}
    for line in text.splitlines():
        line = line.split("#", 1)[0]
        if line.strip():
            calls, keywords = line.split(":")
            version, *calls = calls.split()
            minor = int(version.split(".")[1])
            found.update(((call, keyword), minor) for call in calls for keyword in keywords.split())
    return found


# Modules, by import of the module or of anything in it.
MODULES = table("""
3.9  zoneinfo graphlib
3.11 tomllib wsgiref.types
3.13 dbm.sqlite3
""")

# "module.name" is found however the file reaches it: `module.name`, the module
# imported under another name, or `from module import name`. "*.name" is an
# attribute of any object (a method of a built-in type or class, whose owner
# the code does not show), so only names that no older object has are listed.
ATTRIBUTES = table("""
3.9  *.removeprefix *.removesuffix *.is_relative_to *.with_stem *.randbytes
3.9  os.waitstatus_to_exitcode os.pidfd_open signal.pidfd_send_signal sys.platlibdir
3.9  math.lcm math.nextafter math.ulp functools.cache random.randbytes ast.unparse
3.9  asyncio.to_thread argparse.BooleanOptionalAction socket.send_fds socket.recv_fds
3.9  importlib.resources.files importlib.resources.as_file types.GenericAlias typing.Annotated
3.10 *.bit_count *.hardlink_to *.assertNoLogs
3.10 itertools.pairwise statistics.correlation statistics.covariance statistics.linear_regression
3.10 os.eventfd os.eventfd_read os.eventfd_write os.splice sys.orig_argv sys.stdlib_module_names
3.10 contextlib.aclosing contextlib.AsyncContextDecorator dataclasses.KW_ONLY inspect.get_annotations
3.10 platform.freedesktop_os_release io.text_encoding threading.gettrace threading.getprofile
3.10 base64.b32hexencode base64.b32hexdecode importlib.metadata.packages_distributions
3.10 types.NoneType types.EllipsisType types.NotImplementedType types.UnionType
3.10 typing.TypeAlias typing.ParamSpec typing.ParamSpecArgs typing.ParamSpecKwargs typing.Concatenate
3.10 typing.TypeGuard typing.is_typeddict
3.11 *.add_note *.enterContext *.enterClassContext *.enterAsyncContext *.get_identifiers
3.11 datetime.UTC contextlib.chdir hashlib.file_digest operator.call math.cbrt math.exp2 re.NOFLAG
3.11 sys.exception sys.set_int_max_str_digits sys.get_int_max_str_digits locale.getencoding
3.11 logging.getLevelNamesMapping os.login_tty inspect.getmembers_static
3.11 asyncio.TaskGroup asyncio.timeout asyncio.timeout_at asyncio.Runner asyncio.Barrier
3.11 enum.StrEnum enum.ReprEnum enum.verify enum.member enum.nonmember enum.global_enum enum.property
3.11 enum.EnumCheck enum.FlagBoundary enum.show_flag_values
3.11 typing.Self typing.LiteralString typing.Never typing.assert_never typing.assert_type
3.11 typing.reveal_type typing.Required typing.NotRequired typing.TypeVarTuple typing.Unpack
3.11 typing.dataclass_transform typing.get_overloads typing.clear_overloads
3.12 *.is_junction *.with_segments
3.12 itertools.batched math.sumprod random.binomialvariate os.path.isjunction os.path.splitroot
3.12 os.setns os.unshare logging.getHandlerByName logging.getHandlerNames calendar.Month calendar.Day
3.12 sys.monitoring sys.activate_stack_trampoline inspect.markcoroutinefunction
3.12 asyncio.eager_task_factory asyncio.create_eager_task_factory typing.override typing.TypeAliasType
3.13 *.full_match *.from_uri
3.13 math.fma copy.replace warnings.deprecated statistics.kde statistics.kde_random base64.z85encode
3.13 base64.z85decode os.process_cpu_count os.posix_openpt os.grantpt os.unlockpt os.ptsname
3.13 glob.translate typing.TypeIs typing.ReadOnly typing.NoDefault typing.get_protocol_members
3.13 typing.is_protocol
""")

# Built-in names, where the file does not import a name of its own for them.
BUILTINS = table("""
3.10 aiter anext EncodingWarning
3.11 ExceptionGroup BaseExceptionGroup
3.13 PythonFinalizationError
""")

# Keywords, by the call that takes them: a dotted call is found as above, a
# bare one by the name it is called by (`subprocess.run(...)` and
# `run(...)` alike).
KEYWORDS = keyword_table("""
3.9  Popen run call check_call check_output: user group extra_groups umask
3.9  ArgumentParser: exit_on_error
3.9  ast.dump: indent
3.9  logging.basicConfig: encoding errors
3.9  hashlib.new hashlib.md5 hashlib.sha1 hashlib.sha256 hashlib.sha512: usedforsecurity
3.9  shutdown: cancel_futures
3.10 zip: strict
3.10 bisect bisect_left bisect_right insort insort_left insort_right: key
3.10 dataclasses.dataclass: slots kw_only match_args
3.10 dataclasses.field: kw_only
3.10 Popen run call check_call check_output: pipesize
3.10 TemporaryDirectory: ignore_cleanup_errors
3.10 write_text: newline
3.10 glob.glob glob.iglob: root_dir dir_fd
3.11 dataclasses.dataclass: weakref_slot
3.11 Popen run call check_call check_output: process_group
3.11 statistics.fmean: weights
3.11 warnings.catch_warnings: action
3.12 TemporaryDirectory: delete
3.12 NamedTemporaryFile: delete_on_close
3.12 shutil.rmtree: onexc
3.12 extract extractall: filter
3.12 glob rglob: case_sensitive
3.13 glob rglob: recurse_symlinks
3.13 add_argument add_parser: deprecated
""")

# Statements that the running Python's tree has, whatever feature_version says.
STATEMENTS = {"Match": ("a match statement", 10), "TryStar": ("except*", 11), "TypeAlias": ("a type statement", 12)}

# What a subscript makes a generic of at run time from 3.9 on.
GENERICS = {"list", "dict", "tuple", "set", "frozenset", "type", "collections.deque", "collections.defaultdict",
            "collections.OrderedDict", "collections.Counter", "collections.ChainMap", "re.Pattern", "re.Match",
            "os.PathLike", "contextlib.AbstractContextManager", "contextlib.AbstractAsyncContextManager"}
TYPES = {"int", "float", "complex", "str", "bytes", "bytearray", "bool", "object"} | GENERICS

# The top-level modules of a Mac's Python 3.8: its standard library less what
# only Windows or Linux builds have.
MAC_STANDARD = set("""
__future__ abc aifc antigravity argparse array ast asynchat asyncio asyncore atexit audioop base64 bdb binascii
binhex bisect builtins bz2 cProfile calendar cgi cgitb chunk cmath cmd code codecs codeop collections colorsys
compileall concurrent configparser contextlib contextvars copy copyreg crypt csv ctypes curses dataclasses datetime
dbm decimal difflib dis distutils doctest dummy_threading email encodings ensurepip enum errno faulthandler fcntl
filecmp fileinput fnmatch formatter fractions ftplib functools gc genericpath getopt getpass gettext glob grp gzip
hashlib heapq hmac html http idlelib imaplib imghdr imp importlib inspect io ipaddress itertools json keyword
lib2to3 linecache locale logging lzma mailbox mailcap marshal math mimetypes mmap modulefinder multiprocessing
netrc nntplib ntpath nturl2path numbers opcode operator optparse os parser pathlib pdb pickle pickletools pipes
pkgutil platform plistlib poplib posix posixpath pprint profile pstats pty pwd py_compile pyclbr pydoc pydoc_data
pyexpat queue quopri random re readline reprlib resource rlcompleter runpy sched secrets select selectors shelve
shlex shutil signal site smtpd smtplib sndhdr socket socketserver sqlite3 sre_compile sre_constants sre_parse ssl
stat statistics string stringprep struct subprocess sunau symbol symtable sys sysconfig syslog tabnanny tarfile
telnetlib tempfile termios textwrap this threading time timeit tkinter token tokenize trace traceback tracemalloc
tty turtle turtledemo types typing unicodedata unittest urllib uu uuid venv warnings wave weakref webbrowser
wsgiref xdrlib xml xmlrpc zipapp zipfile zipimport zlib
""".split())
IMPORT_ERRORS = {"ImportError", "ModuleNotFoundError", "Exception", "BaseException"}


def dotted(node, aliases):
    """"a.b.c" for an attribute chain on a name, the name read through the
    file's imports; None for anything else."""
    parts = []
    while isinstance(node, ast.Attribute):
        parts.append(node.attr)
        node = node.value
    if not isinstance(node, ast.Name):
        return None
    parts.append(aliases.get(node.id, node.id))
    return ".".join(reversed(parts))


def imported_names(tree):
    """Each name the file's imports bind, to what it stands for."""
    aliases = {}
    for node in ast.walk(tree):
        if isinstance(node, ast.Import):
            for alias in node.names:
                if alias.asname:
                    aliases[alias.asname] = alias.name
                else:
                    top = alias.name.split(".")[0]
                    aliases[top] = top
        elif isinstance(node, ast.ImportFrom) and node.module and not node.level:
            for alias in node.names:
                aliases[alias.asname or alias.name] = node.module + "." + alias.name
    return aliases


def catches_import_errors(handlers):
    for handler in handlers:
        caught = handler.type.elts if isinstance(handler.type, ast.Tuple) else [handler.type]
        if handler.type is None or any(isinstance(c, ast.Name) and c.id in IMPORT_ERRORS for c in caught):
            return True
    return False


def version_guard(test):
    """X for `sys.version_info >= (3, X)`, else None."""
    if (isinstance(test, ast.Compare) and len(test.ops) == 1 and isinstance(test.ops[0], ast.GtE)
            and isinstance(test.left, ast.Attribute) and test.left.attr == "version_info"
            and isinstance(test.comparators[0], ast.Tuple) and len(test.comparators[0].elts) >= 2):
        major, minor = (getattr(item, "value", None) for item in test.comparators[0].elts[:2])
        if major == 3 and isinstance(minor, int):
            return minor
    return None


class Source:
    """A file's lines and significant tokens, to tell what the tree does not:
    where parentheses stand."""

    def __init__(self, data):
        tokens = list(tokenize.tokenize(io.BytesIO(data).readline))
        self.lines = data.decode(tokens[0].string).split("\n")
        skipped = {tokenize.COMMENT, tokenize.NL, tokenize.NEWLINE, tokenize.INDENT, tokenize.DEDENT,
                   tokenize.ENCODING, tokenize.ENDMARKER}
        self.tokens = [t for t in tokens if t.type not in skipped]
        self.starts = [t.start for t in self.tokens]
        # A comment on a line of its own speaks for the next line.
        self.silenced = {t.start[0] + (t.line.lstrip().startswith("#")) for t in tokens
                         if t.type == tokenize.COMMENT and SILENCED.match(t.string)}

    def position(self, line, byte_column):
        """The tree counts columns in UTF-8 bytes, the tokens in characters."""
        return line, len(self.lines[line - 1].encode("utf-8")[:byte_column].decode("utf-8", "ignore"))

    def index(self, node):
        """The index of the first token at or after the node's start."""
        return bisect_left(self.starts, self.position(node.lineno, node.col_offset))

    def before(self, node):
        at = self.index(node)
        return self.tokens[at - 1].string if at else ""

    def closing(self, at):
        """The index of the bracket that closes the one at index at."""
        depth = 0
        for k in range(at, len(self.tokens)):
            text = self.tokens[k].string
            depth += (text in "([{") - (text in ")]}") if text and len(text) == 1 else 0
            if depth == 0:
                return k
        return len(self.tokens) - 1

    def parenthesised(self, node):
        """Whether the node's own parentheses enclose it whole."""
        at = self.index(node)
        if at >= len(self.tokens) or self.tokens[at].string != "(":
            return False
        end = self.position(node.end_lineno, node.end_col_offset)
        return self.tokens[self.closing(at)].end == end


def plain_decorator(node):
    """3.8 takes a dotted name, called once at most."""
    if isinstance(node, ast.Call):
        node = node.func
    while isinstance(node, ast.Attribute):
        node = node.value
    return isinstance(node, ast.Name)


def check_tree(tree, source, local_modules):
    """Each (line, what, minor version) the tree needs beyond 3.8; minor
    version None for a module a Mac's Python lacks."""
    findings = []
    aliases = imported_names(tree)
    deferred = any(isinstance(node, ast.ImportFrom) and node.module == "__future__"
                   and any(alias.name == "annotations" for alias in node.names) for node in tree.body)

    def found(node, what, minor, context):
        if minor is None or minor > context["allowed"]:
            findings.append((node.lineno, what, minor))

    def generic(node):
        return isinstance(node, ast.Subscript) and dotted(node.value, aliases) in GENERICS

    def a_type(node):
        return ((isinstance(node, ast.Constant) and node.value is None) or generic(node)
                or dotted(node, aliases) in TYPES)

    def a_dict(node):
        return isinstance(node, (ast.Dict, ast.DictComp)) or (isinstance(node, ast.Call)
                                                              and dotted(node.func, aliases) == "dict")

    def check_import(node, module, context):
        for name in (module, module.split(".")[0]):
            if name in MODULES:
                found(node, f"module {name}", MODULES[name], context)
                return
        top = module.split(".")[0]
        if top not in MAC_STANDARD and top not in local_modules and not context["guarded"]:
            found(node, f"imports {top}, which a Mac's Python lacks, outside a try that catches ImportError",
                  None, context)

    def check(node, context):
        if type(node).__name__ in STATEMENTS:
            found(node, *STATEMENTS[type(node).__name__], context)
        if getattr(node, "type_params", None):
            found(node, "type parameters", 12, context)
        if isinstance(node, (ast.FunctionDef, ast.AsyncFunctionDef, ast.ClassDef)):
            for decorator in node.decorator_list:
                if not plain_decorator(decorator):
                    found(decorator, "a decorator that is not a dotted name or its call", 9, context)
        if isinstance(node, ast.Import):
            for alias in node.names:
                check_import(node, alias.name, context)
        elif isinstance(node, ast.ImportFrom) and node.module and not node.level:
            check_import(node, node.module, context)
            for alias in node.names:
                name = node.module + "." + alias.name
                if name in ATTRIBUTES or name in MODULES:
                    found(node, name, ATTRIBUTES.get(name) or MODULES[name], context)
        elif isinstance(node, ast.Attribute):
            name = dotted(node, aliases)
            for key in (name, "*." + node.attr):
                if key in ATTRIBUTES:
                    found(node, key.replace("*.", "."), ATTRIBUTES[key], context)
                    break
        elif isinstance(node, ast.Name) and isinstance(node.ctx, ast.Load):
            if node.id in BUILTINS and node.id not in aliases:
                found(node, node.id, BUILTINS[node.id], context)
        elif isinstance(node, ast.Call):
            callee = dotted(node.func, aliases)
            last = node.func.attr if isinstance(node.func, ast.Attribute) else getattr(node.func, "id", None)
            for keyword in node.keywords:
                for call in (callee, last):
                    if (call, keyword.arg) in KEYWORDS:
                        # A keyword has no line of its own before 3.9.
                        found(keyword.value, f"{call}({keyword.arg}=)", KEYWORDS[call, keyword.arg], context)
                        break
        elif isinstance(node, ast.Subscript):
            index = node.slice.value if type(node.slice).__name__ == "Index" else node.slice  # 3.8's tree
            if generic(node) and context["annotation"] != "deferred":
                found(node, f"{dotted(node.value, aliases)}[...] at run time", 9, context)
            items = index.elts if isinstance(index, ast.Tuple) else [index]
            if isinstance(index, ast.Tuple) and not source.parenthesised(index) and any(
                    isinstance(item, ast.Starred) for item in items):
                found(node, "a starred item in a subscript", 11, context)
            if any(isinstance(item, ast.NamedExpr) and source.before(item) != "(" for item in items):
                found(node, "an unparenthesised := in a subscript", 10, context)
        elif isinstance(node, (ast.Set, ast.SetComp)):
            items = node.elts if isinstance(node, ast.Set) else [node.elt]
            if any(isinstance(item, ast.NamedExpr) and source.before(item) != "(" for item in items):
                found(node, "an unparenthesised := in a set", 10, context)
        elif isinstance(node, ast.BinOp) and isinstance(node.op, ast.BitOr) and context["annotation"] != "deferred":
            if context["annotation"] == "evaluated" or a_type(node.left) or a_type(node.right):
                found(node, "a | of types at run time", 10, context)
            elif a_dict(node.left) or a_dict(node.right):
                found(node, "a | of dicts", 9, context)
        elif isinstance(node, ast.AugAssign) and isinstance(node.op, ast.BitOr) and a_dict(node.value):
            found(node, "a |= of dicts", 9, context)
        elif isinstance(node, (ast.For, ast.AsyncFor)):
            if (isinstance(node.iter, ast.Tuple) and not source.parenthesised(node.iter)
                    and any(isinstance(item, ast.Starred) for item in node.iter.elts)):
                found(node, "starred items after for ... in", 9, context)
        elif isinstance(node, (ast.With, ast.AsyncWith)):
            at = source.index(node) + (2 if isinstance(node, ast.AsyncWith) else 1)
            if (source.tokens[at].string == "(" and (len(node.items) > 1 or node.items[0].optional_vars)
                    and source.tokens[source.closing(at) + 1].string == ":"):
                found(node, "parenthesised context managers", 9, context)

    def visit(node, context):
        check(node, context)
        if isinstance(node, (ast.FunctionDef, ast.AsyncFunctionDef)):
            annotation = dict(context, annotation="deferred" if deferred else "evaluated")
            arguments = node.args
            for argument in getattr(arguments, "posonlyargs", []) + arguments.args + arguments.kwonlyargs:
                if argument.annotation:
                    visit(argument.annotation, annotation)
            for argument in (arguments.vararg, arguments.kwarg):
                if argument and argument.annotation:
                    if isinstance(argument.annotation, ast.Starred):
                        found(argument.annotation, "a starred annotation", 11, context)
                    visit(argument.annotation, annotation)
            if node.returns:
                visit(node.returns, annotation)
            for child in node.decorator_list + arguments.defaults + [d for d in arguments.kw_defaults if d]:
                visit(child, context)
            for child in node.body:
                visit(child, dict(context, function=True))
            return
        if isinstance(node, ast.ClassDef):
            for child in node.decorator_list + node.bases + node.keywords:
                visit(child, context)
            for child in node.body:
                visit(child, dict(context, function=False))
            return
        if isinstance(node, ast.AnnAssign):
            # Local variables' annotations are never evaluated.
            later = deferred or context["function"]
            visit(node.annotation, dict(context, annotation="deferred" if later else "evaluated"))
            for child in (node.target, node.value):
                if child:
                    visit(child, context)
            return
        if isinstance(node, ast.Try) and catches_import_errors(node.handlers):
            for child in node.body:
                visit(child, dict(context, guarded=True))
            for child in node.handlers + node.orelse + node.finalbody:
                visit(child, context)
            return
        if isinstance(node, ast.If) and version_guard(node.test):
            visit(node.test, context)
            for child in node.body:
                visit(child, dict(context, allowed=max(context["allowed"], version_guard(node.test))))
            for child in node.orelse:
                visit(child, context)
            return
        for child in ast.iter_child_nodes(node):
            visit(child, context)

    visit(tree, {"annotation": None, "function": False, "guarded": False, "allowed": 8})
    return findings


def check_file(path):
    """The finding lines of one file."""
    with open(path, "rb") as f:
        data = f.read()
    try:
        tree = ast.parse(data, path, feature_version=(3, 8))
        source = Source(data)
    except (SyntaxError, ValueError, UnicodeDecodeError, tokenize.TokenError) as fault:
        return [f"{path}:{getattr(fault, 'lineno', None) or 1}: does not parse as Python 3.8: "
                f"{getattr(fault, 'msg', None) or fault}"]
    folder = os.path.dirname(os.path.abspath(path))
    local = {name[:-3] for name in os.listdir(folder) if name.endswith(".py")}
    local |= {name for name in os.listdir(folder) if os.path.isfile(os.path.join(folder, name, "__init__.py"))}
    lines = []
    for line, what, minor in sorted(set(check_tree(tree, source, local)), key=lambda f: (f[0], f[1])):
        if line not in source.silenced:
            lines.append(f"{path}:{line}: {what}" + (f", needs 3.{minor}" if minor else ""))
    return lines


def python_file(path):
    if path.endswith(".py"):
        return True
    try:
        with open(path, "rb") as f:
            first = f.readline(200)
    except OSError:
        return False
    return first.startswith(b"#!") and b"python" in first


def files_under(paths):
    for path in paths:
        if not os.path.isdir(path):
            yield path
            continue
        for folder, folders, names in os.walk(path):
            folders[:] = sorted(d for d in folders if not d.startswith(".") and d != "__pycache__")
            for name in sorted(names):
                if python_file(os.path.join(folder, name)):
                    yield os.path.join(folder, name)


def main(argv):
    if any(arg.startswith("-") for arg in argv[1:]):
        print(__doc__.split("\n\n")[1], file=sys.stderr)
        return 0 if argv[1:] in (["-h"], ["--help"]) else 2
    paths = argv[1:] or [os.path.relpath(path) for path in (os.path.join(ROOT, d) for d in DEFAULT_FOLDERS)
                         if os.path.isdir(path)]
    missing = [path for path in paths if not os.path.exists(path)]
    if missing:
        print("check-python: no such file or folder: " + ", ".join(missing), file=sys.stderr)
        return 2
    checked, findings = 0, []
    for path in files_under(paths):
        checked += 1
        findings += check_file(path)
    for line in findings:
        print(line)
    print(f"check-python: {checked} files, {len(findings)} findings", file=sys.stderr)
    return 1 if findings else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

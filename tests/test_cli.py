#!/usr/bin/env python3
"""The mokavi command end to end: a table of invocations, the interactive
mode through a pseudo-terminal, and the --help text kept in the README.

usage: test_cli.py path/to/mokavi path/to/README.md
"""
import os
import pty
import re
import subprocess
import sys
import tempfile

MOKAVI, README = sys.argv[1], sys.argv[2]

SCRIPT = tempfile.NamedTemporaryFile("w", suffix=".pl", delete=False)
SCRIPT.write('print "script got @ARGV\\n"; "value not printed"\n')
SCRIPT.close()

# name, arguments, stdin, exit status, stdout (exact), stderr (regex)
CASES = [
    ("value", ["-e", "join '-', 1 .. 3"], b"", 0, b"1-2-3\n", r"^$"),
    ("pieces_joined_by_newlines", ["-e", "my $x = 2;", "-e", "$x * 21"], b"", 0, b"42\n", r"^$"),
    ("arguments_after_code", ["-e", "join ',', @ARGV", "a", "-e", "--wide"], b"", 0, b"a,-e,--wide\n", r"^$"),
    ("perl_output_first", ["-e", 'print "first\\n"; "second"'], b"", 0, b"first\nsecond\n", r"^$"),
    ("undef_prints_nothing", ["-e", "undef"], b"", 0, b"", r"^$"),
    ("die", ["-e", "die qq{broken\\n}"], b"", 1, b"", r"^broken\n$"),
    ("syntax_error", ["-e", "1 + ;"], b"", 1, b"", r"^syntax error at "),
    ("warning_is_not_an_error", ["-e", "warn qq{careful\\n}; 1"], b"", 0, b"1\n", r"^careful\n$"),
    ("exit_zero", ["-e", "exit 0"], b"", 0, b"", r"^$"),
    ("exit_nonzero", ["-e", "exit 3"], b"", 1, b"", r"^exit\(3\) called; evaluation abandoned\n$"),
    ("narrow_bytes_pass_through", ["-e", b"length '\xff'"], b"", 0, b"1\n", r"^$"),
    ("wide_converts_ill_formed", ["--wide", "-e", b"length '\xff'"], b"", 0, b"3\n", r"^$"),
    ("wide_round_trip", ["--wide", "-e", "'café ' . '\U0001F600' x 2"], b"", 0,
     "café \U0001F600\U0001F600\n".encode(), r"^$"),
    ("script_file", [SCRIPT.name, "x", "-e"], b"", 0, b"script got x -e\n", r"^$"),
    ("script_on_stdin", ["-", "q"], b'print "stdin @ARGV\\n"; 7', 0, b"stdin q\n", r"^$"),
    ("stdin_by_default", [], b"print 6 * 7", 0, b"42", r"^$"),
    ("script_error", ["-"], b"die 'from stdin'", 1, b"", r"^from stdin at "),
    ("missing_file", ["/nonexistent/script.pl"], b"", 2, b"", r"cannot open '/nonexistent/script.pl'"),
    ("unknown_option", ["--frobnicate"], b"", 2, b"", r"unknown option '--frobnicate'"),
    ("e_without_code", ["-e"], b"", 2, b"", r"-e needs an argument"),
    ("version", ["--version"], b"", 0, None, r"^$"),
    ("help", ["--help"], b"", 0, None, r"^$"),
]


def run(args, stdin):
    return subprocess.run([MOKAVI] + args, input=stdin, capture_output=True)


def interactive(lines):
    """Runs mokavi on a pseudo-terminal, sending each line after a prompt."""
    master, slave = pty.openpty()
    proc = subprocess.Popen([MOKAVI], stdin=slave, stdout=slave, stderr=slave, close_fds=True)
    os.close(slave)
    pending = b""

    def read_until(token):
        nonlocal pending
        while token not in pending:
            data = os.read(master, 4096)
            if not data:
                raise EOFError("mokavi ended before printing " + repr(token))
            pending += data
        end = pending.index(token) + len(token)
        seen, pending = pending[:end], pending[end:]
        return seen

    transcript = b""
    for line in lines:
        transcript += read_until(b"mokavi> ")
        os.write(master, line + b"\n")
    status = proc.wait()
    transcript += pending
    os.set_blocking(master, False)
    try:
        while True:
            data = os.read(master, 4096)
            if not data:
                break
            transcript += data
    except OSError:  # nothing more, or the terminal closed with the process
        pass
    os.close(master)
    return status, transcript.replace(b"\r\n", b"\n")


def main():
    failures = []
    for name, args, stdin, status, stdout, stderr in CASES:
        result = run(args, stdin)
        err = result.stderr.decode("utf-8", "replace")
        if result.returncode != status:
            failures.append(f"{name}: exit {result.returncode}, expected {status}; stderr: {err!r}")
        if stdout is not None and result.stdout != stdout:
            failures.append(f"{name}: stdout {result.stdout!r}, expected {stdout!r}")
        if not re.search(stderr, err):
            failures.append(f"{name}: stderr {err!r} does not match {stderr!r}")

    version = run(["--version"], b"").stdout.decode()
    if not re.fullmatch(r"mokavi 1\.2\.0\.0, embedding Perl 5\.\d+\.\d+\n", version):
        failures.append(f"version: {version!r}")

    help_text = run(["--help"], b"").stdout.decode()
    with open(README, encoding="utf-8") as f:
        if help_text not in f.read():
            failures.append("README.md does not hold the --help text word for word")

    status, transcript = interactive([b"$x = 6", b"$x * 7", b"die qq{oops\\n}", b"undef", b"$x", b"exit"])
    expected = [b"\n6\n", b"\n42\n", b"\noops\n", b"\nundef\n", b"$x\n6\n"]
    if status != 0 or any(piece not in transcript for piece in expected):
        failures.append(f"interactive: exit {status}, transcript {transcript!r}")

    os.unlink(SCRIPT.name)
    for failure in failures:
        print("FAIL", failure)
    print(f"{len(CASES) + 3 - len(failures)} passed, {len(failures)} failed" if failures else "cli: all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

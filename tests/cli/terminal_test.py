"""The real program on a terminal and on pipes: streams, paths from the current folder,
colour and the status line chosen by what the streams are connected to."""
import os
import subprocess
import sys
import tempfile

program = os.path.abspath(sys.argv[1])
failures = []


def check(what, condition, shown):
    if not condition:
        failures.append(f"{what}: {shown!r}")


def on_terminal(args, cwd, env):
    """Runs with standard output and error on one pseudo-terminal; returns all it printed."""
    master, slave = os.openpty()
    process = subprocess.Popen(args, cwd=cwd, env=env, stdout=slave, stderr=slave, stdin=subprocess.DEVNULL)
    os.close(slave)
    data = b""
    while True:
        try:
            chunk = os.read(master, 65536)
        except OSError:  # EIO: the program closed its side
            break
        if not chunk:
            break
        data += chunk
    os.close(master)
    return process.wait(), data.decode()


with tempfile.TemporaryDirectory() as work:
    os.makedirs(f"{work}/src/inc")
    with open(f"{work}/src/inc/menu.inc", "w") as f:
        f.write("<!--#bogus -->")
    for n in range(30):
        with open(f"{work}/src/p{n}.shtml", "w") as f:
            f.write('<!--#include virtual="/inc/menu.inc" -->')
    env = {k: v for k, v in os.environ.items() if k not in ("NO_COLOR", "CLICOLOR_FORCE")}
    env["TERM"] = "xterm"

    # Pipes: per-file lines on standard output, diagnostics on standard error, from here.
    piped = subprocess.run([program, "src", "dst"], cwd=work, env=env, capture_output=True, text=True)
    check("pipe status", piped.returncode == 0, piped.returncode)
    check("progress lines on stdout", piped.stdout.count("Converting ") == 30, piped.stdout)
    check("no diagnostics on stdout", "warning:" not in piped.stdout, piped.stdout)
    check("diagnostics on stderr, path from the current folder",
          piped.stderr.startswith("src/inc/menu.inc:1:1: warning: Unknown SSI command: bogus\nsrc/p"), piped.stderr)
    check("collapsed note", "src/inc/menu.inc:1:1: note: the same warning in 29 other pages\n" in piped.stderr,
          piped.stderr)
    check("no colour on a pipe", "\x1b" not in piped.stdout + piped.stderr, piped.stderr)

    # A terminal: colour, and one status line instead of a line per file.
    code, shown = on_terminal([program, "--full", "src", "dst"], work, env)
    check("terminal status", code == 0, code)
    check("coloured warning", "\x1b[1;35mwarning:\x1b[0m" in shown, shown)
    check("no per-file lines", "Converting " not in shown, shown)
    check("summary", "30 documents converted" in shown, shown)
    check("a handful of lines", shown.count("\n") <= 6, shown)

    code, shown = on_terminal([program, "--full", "src", "dst"], work, dict(env, NO_COLOR="1"))
    check("NO_COLOR", "\x1b[1;35m" not in shown, shown)
    code, shown = on_terminal([program, "--full", "-v", "src", "dst"], work, env)
    check("-v keeps the per-file lines", shown.count("Converting ") == 30, shown)

if failures:
    print("\n".join(failures))
    sys.exit(1)
print("ok")

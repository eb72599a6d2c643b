#!/usr/bin/env python3
"""run_case.py [--unit] EXE CASE WORK: runs EXE on the case folder CASE (its files: README.md) in a fresh copy
of the pristine prefix under WORK, in the run's time zone (tools/run.env) unless its options name another, on a private X server;
--unit runs a test program without one."""

import datetime, glob, os, pathlib, pwd, shutil, socket, subprocess, sys, time, zoneinfo

TOOLS = pathlib.Path(__file__).resolve().parents[1] / "tools"
# The run's time zone and code page, read from the file that the bash scripts source too.
RUN = dict(line.split("=", 1) for line in (TOOLS / "run.env").read_text().splitlines()
           if line and not line.startswith("#"))
CAPTIONS = {0: "報告產生完成", 2: "報告產生失敗"}
UNSEEN = {124: "had not ended by itself in the time allowed", 125: "made a window"}  # the launcher's exit codes
failures = []


def read_options(case):
    return dict(word.split("=", 1) for word in (case / "options").read_text().split()) \
        if (case / "options").exists() else {}


def wine_env(prefix, **more):  # the caller's locale too: Wine's is its own (tools/wine-env.sh)
    return dict({k: v for k, v in os.environ.items() if k != "DISPLAY"}, WINEPREFIX=str(prefix), **more)


def check(ok, message):
    return ok or failures.append(message)


def report_names(start, minutes):  # YYYYMMDDhhmm-user-COMPUTER.txt for `minutes` minutes from `start` on
    user, computer = pwd.getpwuid(os.getuid()).pw_name, socket.gethostname().split(".")[0].upper()[:15]
    return ["%s-%s-%s.txt" % ((start + datetime.timedelta(minutes=m)).strftime("%Y%m%d%H%M"), user, computer)
            for m in range(minutes)]


def desktop_files(desktop):
    return {p.name: p.read_bytes() for p in desktop.iterdir() if p.is_file()}


def xdotool(display, *args):
    return subprocess.run(["xdotool", *args], env=dict(os.environ, DISPLAY=display), capture_output=True,
                          timeout=30).stdout.decode("utf-8", "replace").strip()


def run_with_box(command, env, desktop, work):
    """(exit code, facts of its first window, the box) of the command on a private Xvfb; Return closes the box."""
    xvfb_fd, write_fd = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24", "-nolisten",
                             "tcp"], pass_fds=(write_fd,), stderr=subprocess.DEVNULL)
    os.close(write_fd)
    display = ":" + os.fdopen(xvfb_fd).readline().strip()
    program = subprocess.Popen([TOOLS / "wine-session.sh", *command], env=dict(env, DISPLAY=display), cwd=work)
    try:
        windows, deadline = [], time.monotonic() + 600  # the 32-bit program may run emulated
        while not windows and program.poll() is None and time.monotonic() < deadline:
            time.sleep(0.3)
            windows = xdotool(display, "search", "--onlyvisible", "--name", ".").split()
        if not windows:
            return program.wait(timeout=10), None
        held = subprocess.run(["find", *glob.glob("/proc/[0-9]*/fd"), "-lname", "%s/*" % desktop],
                              capture_output=True, text=True).stdout.split()  # descriptors open on the desktop
        box = dict(caption=xdotool(display, "getwindowname", windows[0]), files=desktop_files(desktop), held=held)
        xdotool(display, "windowfocus", "--sync", windows[0], "key", "Return")
        return program.wait(timeout=60), box
    finally:
        program.terminate()  # which ends the Wine session
        program.wait(timeout=120)
        xvfb.kill()
        xvfb.wait()


def check_run(exe, case, options, env, desktop, work):
    target, codec = options.get("target"), "cp" + options.get("codepage", RUN["RUN_CODEPAGE"])
    start = datetime.datetime.now(zoneinfo.ZoneInfo(env["TZ"])).replace(second=0, microsecond=0)
    for path in [desktop / name for name in report_names(start, 5)] if target else []:
        {"blocked": path.mkdir, "full": lambda: path.symlink_to("/dev/full"),
         "replaced": lambda: path.write_bytes(b"older report\r\n" * 99)}[target]()
    planted = options["plant"].split(",") if "plant" in options else []  # beside the exe, in its current folder
    exe = pathlib.Path(shutil.copy(exe, work)) if planted else exe
    for name in planted:
        shutil.copy(os.environ["VESTIGIA_MARKER"], work / name)
    hidden = options.get("station") == "hidden"  # started by the launcher where services run: must end alone
    qemu = pathlib.Path("/proc/sys/fs/binfmt_misc/qemu-i386")  # which runs the 32-bit exe, a minute a run
    seconds = "300" if qemu.exists() and qemu.read_text().startswith("enabled") else "60"
    command = [os.environ["VESTIGIA_LAUNCHER"], "Z:" + str(exe).replace("/", "\\"), seconds] if hidden else [exe]
    before = desktop_files(desktop)
    code, box = run_with_box(command, env, desktop, work)
    check(not hidden or code not in UNSEEN, "unseen, the program %s" % UNSEEN.get(code))
    check(not list(work.glob("*.loaded")), "planted DLLs were loaded: %s" % [p.name for p in work.glob("*.loaded")])
    after = desktop_files(desktop)
    minutes = int((datetime.datetime.now(start.tzinfo) - start).total_seconds()) // 60 + 1  # of the run
    want = 2 if target in ("blocked", "full") else 0
    check(code == want, "exit code %s, expected %d" % (code, want))
    if hidden:
        check(not box, "a window appeared on the visible desktop")
    elif check(box, "no message box was shown"):
        check(box["caption"] == CAPTIONS[want], "the box's caption is %r" % box["caption"])
        check(box["files"] == after, "the desktop changed after the box was shown")
        check(not box["held"], "the report was still open while the box was up: %s" % box["held"])
    changed = [name for name in after if before.get(name) != after[name]]
    if want or not check(len(changed) == 1, "%d report files were written" % len(changed)):
        return check(not changed, "a report was written: %s" % changed)
    check(changed[0] in report_names(start, minutes), "the report's name is %r" % changed[0])
    check(target != "replaced" or changed[0] in before, "a new file instead of the one of the same name")
    expected = (case / "expected.txt").read_text("utf-8").replace("\n", "\r\n")
    if not check(after[changed[0]] == expected.encode(codec), "the report differs; see %s" % (work / "written.txt")):
        (work / "written.txt").write_text(after[changed[0]].decode(codec, "replace"), "utf-8")


def main(unit, exe, case, work):
    options, prefix = read_options(case), work / "prefix"
    subprocess.run([TOOLS / "wine-prefix.sh", "copy", os.environ["VESTIGIA_PRISTINE"], prefix,
                    *[f for f in [case / "registry.reg"] if f.exists()]], check=True)
    env = wine_env(prefix, TZ=options.get("timezone", RUN["RUN_TIMEZONE"]),
                   VESTIGIA_CODEPAGE=options.get("codepage", RUN["RUN_CODEPAGE"]),
                   VESTIGIA_CASE="Z:" + str(case).replace("/", "\\"))
    if unit:
        code = subprocess.run([TOOLS / "wine-session.sh", exe], env=env, stdin=subprocess.DEVNULL).returncode
        check(code == 0, "%s exited with %d" % (exe.name, code))
    else:
        check_run(exe, case, options, env, prefix / "drive_c" / "users" / "Public" / "Desktop", work)
    print("\n".join(failures) or "%s: passed" % case.name)
    return 1 if failures else 0


if __name__ == "__main__":
    unit = sys.argv[1] == "--unit"
    sys.exit(main(unit, *(pathlib.Path(arg).resolve() for arg in sys.argv[1 + unit:])))

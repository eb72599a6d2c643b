"""Runs the built program under Wine from outside, the way a user starts it, and collects what it leaves.

Each prefix is a fresh copy of the pristine one, with the registry fixture appended to its system.reg
before any Wine server runs for it (key last-write times cannot be set through the API). A run waits for
the prefix's server to end, so nothing outlives a test.

Locations come from the environment (CTest sets them); the defaults lie under build/win64:
VESTIGIA_BUILD, VESTIGIA_EXE, VESTIGIA_REG_TOOL, VESTIGIA_PRISTINE, VESTIGIA_E2E_WORK.
"""

import array
import contextlib
import dataclasses
import datetime
import os
import pathlib
import pwd
import re
import shutil
import signal
import socket
import subprocess
import time
import zoneinfo

REPO = pathlib.Path(__file__).resolve().parents[2]
BUILD = pathlib.Path(os.environ.get("VESTIGIA_BUILD", REPO / "build" / "win64")).resolve()
EXE = pathlib.Path(os.environ.get("VESTIGIA_EXE", BUILD / "vestigia.exe")).resolve()
REG_TOOL = pathlib.Path(os.environ.get("VESTIGIA_REG_TOOL", BUILD / "tests" / "e2e_reg_tool.exe")).resolve()
PRISTINE = pathlib.Path(os.environ.get("VESTIGIA_PRISTINE", BUILD / "wine" / "pristine")).resolve()
WORK = pathlib.Path(os.environ.get("VESTIGIA_E2E_WORK", BUILD / "e2e")).resolve()
WINE_PREFIX_TOOL = REPO / "tools" / "wine-prefix.sh"

CAPTION_DONE = "報告產生完成"
CAPTION_FAILED = "報告產生失敗"

USBSTOR = r"SYSTEM\CurrentControlSet\Enum\USBSTOR"
DISK_GUID = "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}"
CDROM_GUID = "{53f56308-b6bf-11d0-94f2-00a0c91efb8b}"
DISK = "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\" + DISK_GUID
CDROM = "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\" + CDROM_GUID
USB_PREFIX = "##?#USBSTOR#"

HEADER = "本機曾使用過 USB 大量存取裝置記錄:\r\n\r\n"
HEADER2 = "以下為不完整記錄:\r\n\r\n"
DRIVER, NAME, KIND, FIRST, LAST = "驅動程式: ", "裝置名稱: ", "裝置種類: ", "首次使用: ", "最後使用: "

EPOCH_1601 = datetime.datetime(1601, 1, 1, tzinfo=datetime.timezone.utc)
DEFAULT_TIME = datetime.datetime(2020, 1, 1, tzinfo=datetime.timezone.utc)


class HarnessError(Exception):
    """The environment misbehaved (a timeout, a tool that failed): not a verdict on the program."""


def utc(*fields):
    return datetime.datetime(*fields, tzinfo=datetime.timezone.utc)


def _units(text):
    """The UTF-16 code units of `text`, as the registry and the program see it."""
    return array.array("H", text.encode("utf-16-le"))


@dataclasses.dataclass
class Key:
    """One registry key under HKLM. A value is a str (REG_SZ), an int (REG_DWORD) or a (type, bytes) pair."""

    path: str
    time: datetime.datetime = DEFAULT_TIME
    values: dict = dataclasses.field(default_factory=dict)


def device(name, first_used, friendly=None, desc=None, instance="7&1a2b3c4d&0", instance_time=None, more=()):
    """A USBSTOR device-type key with one instance key holding FriendlyName and DeviceDesc (either left
    out when None; no instance key when `instance` is None). `more`: further (instance name, values)."""
    keys = [Key(USBSTOR + "\\" + name, first_used)]
    if instance is not None:
        values = {"FriendlyName": friendly, "DeviceDesc": desc}
        keys.append(Key(USBSTOR + "\\" + name + "\\" + instance, instance_time or first_used,
                        {n: v for n, v in values.items() if v is not None}))
    keys += [Key(USBSTOR + "\\" + name + "\\" + extra, first_used, extra_values) for extra, extra_values in more]
    return keys


def entry_name(device_name, instance="7&1a2b3c4d&0", guid=DISK_GUID):
    return USB_PREFIX + device_name + "#" + instance + "#" + guid


def interface(class_key, name, last_used=None):
    """An interface entry under a class key; with `last_used` it gets its "#" subkey of that time."""
    keys = [Key(class_key + "\\" + name, DEFAULT_TIME, {"DeviceInstance": "USBSTOR\\..."})]
    if last_used is not None:
        keys.append(Key(class_key + "\\" + name + "\\#", last_used, {"SymbolicLink": "\\\\?\\" + name}))
    return keys


def _escape(text, specials):
    """Text as a Wine .reg file spells it: printable ASCII as is, backslash-escaped where special, every
    other UTF-16 unit as \\xNNNN."""
    out = ""
    for unit in _units(text):
        ch = chr(unit)
        if 32 <= unit < 127:
            out += "\\" + ch if ch == "\\" or ch in specials else ch
        else:
            out += "\\x%04x" % unit
    return out


def _value_line(name, value):
    head = "@" if name == "" else '"%s"' % _escape(name, '"')
    if isinstance(value, str):
        return '%s="%s"' % (head, _escape(value, '"'))
    if isinstance(value, int):
        return "%s=dword:%08x" % (head, value)
    kind, data = value
    return "%s=%s:%s" % (head, "hex" if kind == 3 else "hex(%x)" % kind, ",".join("%02x" % b for b in data))


def with_parents(keys):
    """The fixture's keys with the three containers the program reads added where the fixture left them
    out, parents first (a key loaded before its parent would give the parent the child's time)."""
    paths = {k.path.lower() for k in keys}
    extra = [Key(container) for container in (USBSTOR, DISK, CDROM)
             if container.lower() not in paths and any(p.startswith(container.lower() + "\\") for p in paths)]
    return sorted(extra + list(keys), key=lambda k: k.path.count("\\"))


def render_system_reg(keys):
    sections = []
    for key in with_parents(keys):
        delta = key.time - EPOCH_1601
        filetime = (delta.days * 86400 + delta.seconds) * 10**7 + delta.microseconds * 10
        path = "\\\\".join(_escape(part, "[]") for part in key.path.split("\\"))
        lines = ["[%s] %d" % (path, max(0, int(key.time.timestamp()))), "#time=%x" % filetime]
        lines += [_value_line(n, v) for n, v in key.values.items()]
        sections.append("\n".join(lines) + "\n")
    return "\n" + "\n".join(sections)


def _wine_order(name):
    """Wine enumerates subkeys sorted by UTF-16 units folded to lower case (then shorter first)."""
    return [ord(chr(unit).lower()) if len(chr(unit).lower()) == 1 else unit for unit in _units(name)]


def time_text(when, tz):
    return when.astimezone(zoneinfo.ZoneInfo(tz)).strftime("%Y/%m/%d  %H:%M:%S")


def _string_value(values, name):
    """FriendlyName/DeviceDesc as the program reads them: exact name, string data of at most 512 bytes with
    the terminator, cut at the first null unit; anything else reads as empty."""
    if name not in values:
        return ""
    value = values[name]
    if isinstance(value, str):
        data = value.encode("utf-16-le") + b"\0\0"
    elif isinstance(value, int):
        data = value.to_bytes(4, "little")
    else:
        data = value[1]
    if len(data) > 512:
        return ""
    return data[: len(data) // 2 * 2].decode("utf-16-le", "surrogatepass").split("\0", 1)[0]


def expected_report(keys, tz="Asia/Taipei"):
    """The report text (UTF-16 content as a str) the program composes for a registry holding `keys`."""
    by_path = {k.path.lower(): k for k in with_parents(keys)}

    def children(path):
        prefix = path.lower() + "\\"
        names = [k.path[len(prefix):] for p, k in by_path.items() if p.startswith(prefix) and "\\" not in p[len(prefix):]]
        return sorted(names, key=_wine_order)

    devices = []
    for name in children(USBSTOR):
        key = by_path[(USBSTOR + "\\" + name).lower()]
        instances = children(key.path)
        values = by_path[(key.path + "\\" + instances[0]).lower()].values if instances else key.values
        devices.append([name, _string_value(values, "FriendlyName"), _string_value(values, "DeviceDesc"),
                        time_text(key.time, tz), None])
    interfaces = []
    for class_key in (DISK, CDROM):
        for name in children(class_key):
            if name.startswith(USB_PREFIX):
                hash_key = by_path.get((class_key + "\\" + name + "\\#").lower())
                interfaces.append([name[len(USB_PREFIX):].split("#", 1)[0],
                                   time_text(hash_key.time, tz) if hash_key else "", False])
    for dev in devices:
        for rec in interfaces:
            if rec[0] == dev[0]:
                dev[4] = rec
                rec[2] = True
    text = HEADER
    for name, friendly, desc, first, link in devices:
        if link is not None:
            text += f"{DRIVER}{name}\r\n{NAME}{friendly}\r\n{KIND}{desc}\r\n{FIRST}{first}\r\n{LAST}{link[1]}\r\n\r\n"
    text += HEADER2
    for name, friendly, desc, first, link in devices:
        if link is None:
            text += f"{DRIVER}{name}\r\n{NAME}{friendly}\r\n{KIND}{desc}\r\n{FIRST}{first}\r\n\r\n"
    for name, last, matched in interfaces:
        if not matched:
            text += f"{NAME}{name}\r\n{LAST}{last}\r\n\r\n"
    return text


@dataclasses.dataclass
class Report:
    linked: list  # (driver, name, kind, first, last)
    unlinked: list  # (driver, name, kind, first)
    orphans: list  # (name, last)


def _record(*labels):
    """The pattern of one record with these labels, a group per value; values hold no line break."""
    return "".join(re.escape(label) + r"([^\r\n]*)\r\n" for label in labels) + r"\r\n"


_SECTIONS = {"linked": _record(DRIVER, NAME, KIND, FIRST, LAST), "unlinked": _record(DRIVER, NAME, KIND, FIRST),
             "orphans": _record(NAME, LAST)}
_REPORT = re.compile(re.escape(HEADER) + "(?P<linked>(?:%(linked)s)*)" % _SECTIONS + re.escape(HEADER2)
                     + "(?P<unlinked>(?:%(unlinked)s)*)(?P<orphans>(?:%(orphans)s)*)" % _SECTIONS)


def parse_report(text):
    """Splits a report into its records; raises ValueError unless the whole text is well formed, so a
    truncated or interleaved record cannot pass."""
    match = _REPORT.fullmatch(text)
    if not match:
        raise ValueError("not a well-formed report: %r" % text[:200])
    return Report(**{name: re.findall(record, match[name]) for name, record in _SECTIONS.items()})


def computer_name():
    return socket.gethostname().split(".")[0].upper()[:15]


def user_name():
    return pwd.getpwuid(os.getuid()).pw_name


def report_name(moment):
    return "%s-%s-%s.txt" % (moment.strftime("%Y%m%d%H%M"), user_name(), computer_name())


@dataclasses.dataclass
class RunResult:
    exit_code: int = None
    files: dict = None  # every file on the all-users desktop after the run: name -> bytes
    created: list = None  # names of the files that were not there before the run
    started: datetime.datetime = None  # local time (the run's zone) just before the start
    ended: datetime.datetime = None  # local time just after the exit
    seconds: float = None
    box_caption: str = None  # with a display: the caption of the box that was found
    blocked: bool = None  # with a display: the process was still running while the box was up
    files_at_box: dict = None  # with a display: the desktop's files while the box was up


class Prefix:
    """A fresh copy of the pristine prefix with a registry fixture, under WORK/<name>."""

    def __init__(self, name, keys=()):
        if not (PRISTINE / ".complete").exists():
            subprocess.run([WINE_PREFIX_TOOL, "pristine", PRISTINE], check=True, timeout=300)
        self.path = WORK / name
        subprocess.run([WINE_PREFIX_TOOL, "copy", PRISTINE, self.path], check=True, timeout=120)
        if keys:
            with open(self.path / "system.reg", "a", encoding="ascii") as reg:
                reg.write(render_system_reg(keys))
        self.server_held = False

    @property
    def desktop(self):
        return self.path / "drive_c" / "users" / "Public" / "Desktop"

    def desktop_files(self):
        return {p.name: p.read_bytes() for p in sorted(self.desktop.iterdir()) if p.is_file()}

    def env(self, tz="Asia/Taipei", lc_all="zh_TW.UTF-8", display=None):
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "LANG", "LANGUAGE")}
        env.update(WINEDEBUG="-all", WINELOADER="/usr/lib/wine/wine64", WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d",
                   WINEARCH="win64", WINEPREFIX=str(self.path), TZ=tz, LC_ALL=lc_all)
        if display:
            env["DISPLAY"] = display
        return env

    def wineserver(self, option, timeout=30):
        subprocess.run(["wineserver", option], env=self.env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=timeout)

    def stop_server(self, timeout=30):
        """Waits for the prefix's server to end on its own; ends it when it does not within `timeout`."""
        try:
            self.wineserver("-w", timeout=timeout)
        except subprocess.TimeoutExpired:
            self.kill_server()

    def kill_server(self):
        for option in ("-k", "-w"):
            with contextlib.suppress(subprocess.TimeoutExpired):
                self.wineserver(option)

    @contextlib.contextmanager
    def server(self, **env):
        """Keeps one Wine server alive for several runs. Its first process starts Wine's services with their
        output sent nowhere, so that no service holds a pipe of ours."""
        self.wineserver("-p")
        self.server_held = True
        try:
            self.wine(["cmd.exe", "/c", "exit"], timeout=120, **env)
            yield self
        finally:
            self.server_held = False
            self.kill_server()

    def start(self, args, stdout=None, **env):
        return subprocess.Popen(["wine", *map(str, args)], env=self.env(**env), stdin=subprocess.DEVNULL,
                                stdout=stdout or subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)

    @contextlib.contextmanager
    def _ends_on_failure(self, proc, timeout):
        """Any failure inside ends the process group and the server, so nothing outlives a test."""
        try:
            yield
        except BaseException as error:
            _kill_group(proc)
            self.kill_server()
            if isinstance(error, subprocess.TimeoutExpired):
                raise HarnessError("%s did not end within %d s" % (proc.args[1], timeout)) from error
            raise

    def wine(self, args, timeout=60, **env):
        """Runs a Windows program to its end; returns its exit code."""
        proc = self.start(args, **env)
        with self._ends_on_failure(proc, timeout):
            return proc.wait(timeout=timeout)

    def win_path(self, unix_path):
        return "Z:" + str(pathlib.Path(unix_path).resolve()).replace("/", "\\")

    def run(self, tz="Asia/Taipei", lc_all="zh_TW.UTF-8", display=None, screenshot=None, timeout=90):
        """One run of the program. Without `display` the box returns at once. With an X display the box is
        looked for, checked to block the run, photographed into `screenshot` if given, and dismissed with
        Return. Unless server() holds the server, waits for it to end before returning."""
        zone = zoneinfo.ZoneInfo(tz)
        before = set(self.desktop_files())
        result = RunResult(started=datetime.datetime.now(zone))
        clock = time.monotonic()
        proc = self.start([EXE], tz=tz, lc_all=lc_all, display=display)
        with self._ends_on_failure(proc, timeout):
            if display:
                self._handle_box(proc, display, result, screenshot, clock + timeout)
            result.exit_code = proc.wait(timeout=max(1, clock + timeout - time.monotonic()))
        result.seconds = time.monotonic() - clock
        result.ended = datetime.datetime.now(zone)
        if not self.server_held:
            self.stop_server()
        result.files = self.desktop_files()
        result.created = sorted(set(result.files) - before)
        return result

    def _handle_box(self, proc, display, result, screenshot, deadline):
        window = None
        while window is None:
            if proc.poll() is not None:
                raise AssertionError("the run ended (exit %d) without showing a box" % proc.returncode)
            if time.monotonic() > deadline:
                raise HarnessError("no message box appeared")
            for wid, name in _windows(display):
                if name in (CAPTION_DONE, CAPTION_FAILED):
                    window, result.box_caption = wid, name
            time.sleep(0.2)
        time.sleep(0.5)  # let the box finish drawing before the picture is taken
        result.blocked = proc.poll() is None
        result.files_at_box = self.desktop_files()
        if screenshot:
            subprocess.run(["import", "-display", display, "-window", "root", str(screenshot)], check=True, timeout=30)
        subprocess.run(["xdotool", "windowfocus", "--sync", window, "key", "Return"],
                       env=dict(os.environ, DISPLAY=display), check=True, timeout=30,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def _windows(display):
    """(id, caption) of every visible window on the display."""
    env = dict(os.environ, DISPLAY=display)
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "."], env=env, capture_output=True,
                           text=True, timeout=30)
    windows = []
    for wid in found.stdout.split():
        name = subprocess.run(["xdotool", "getwindowname", wid], env=env, capture_output=True, timeout=30)
        windows.append((wid, name.stdout.decode("utf-8", "replace").rstrip("\n")))
    return windows


def _kill_group(proc):
    with contextlib.suppress(ProcessLookupError):
        os.killpg(proc.pid, signal.SIGKILL)
    with contextlib.suppress(subprocess.TimeoutExpired):
        proc.wait(timeout=10)


@contextlib.contextmanager
def xvfb():
    """A private X server on a free display number (chosen by Xvfb itself); yields ":N"."""
    read_end, write_end = os.pipe()
    proc = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                            pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, start_new_session=True)
    os.close(write_end)
    try:
        # Xvfb writes the number once it accepts clients; the pipe closes empty when it fails to start.
        with os.fdopen(read_end) as pipe:
            number = pipe.readline().strip()
        if not number:
            raise HarnessError("Xvfb did not start")
        yield ":" + number
    finally:
        proc.terminate()
        try:
            proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            _kill_group(proc)


def fresh_work_dir(name):
    path = WORK / name
    shutil.rmtree(path, ignore_errors=True)
    path.mkdir(parents=True)
    return path


def tools_ready():
    """Why the e2e tests cannot run here, or None."""
    for path, what in ((EXE, "the program"), (PRISTINE.parent, "the build's wine folder")):
        if not path.exists():
            return "%s is missing at %s" % (what, path)
    return None

#!/usr/bin/env python3
"""Runs the installer twice against the demonstration server, as a user would.

    demo.py --installer PATH --port PORT

Run 1 is a new installation (nothing installed, the server offers 2.0.0 as a .zip); run 2 the
update of the installed 2.0.0 to 2.1.0 (offered as a .pkg). Both end by launching the product.
In run 3 the server offers a 2.2.0 signed by another developer team: the installer, built to
require the maker's team, refuses it and 2.1.0 stays installed.

With DISPLAY set the installer appears on that display and its user answers the boxes. Without
it (or with CORVANTIS_DEMO_HEADLESS=1) it runs under Xvfb: the boxes are answered with xdotool
and screenshots of the download and of every box are saved.

All state lives in one folder, $CORVANTIS_DEMO_STATE (default /tmp/corvantis-demo), made anew on
every invocation: the demo volume, the receipt database, the per-user data folder with the
install log, the server's files, logs and screenshots.
"""
import argparse
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True  # no cache files in the source tree
import demopkg  # noqa: E402

MARKER = ".corvantis-demo"
TITLE = "Corvantis Installer"
LAUNCH_QUESTION = "Installation finished. Would you like to launch Corvantis?"
NOT_SIGNED = ("The downloaded package is not signed by Halvery, so it was not installed.\n\n"
              "Please contact support@halvery.com.")
# Signs run 3's package: a real certificate, but not the maker's.
OTHER_SIGNER = ("Quillon Software", "QLNSOFT042")
REPLACE_QUESTION = re.compile(r"^An older version of Corvantis \(v.*\) is installed already\.")
# Seconds the server takes to send a package: long enough to watch the bar move.
DOWNLOAD_SECONDS = 4.0
RUN_TIMEOUT = 90
INTERACTIVE_TIMEOUT = 900


class DemoError(Exception):
    pass


def say(text=""):
    print(text, flush=True)


class Demo:
    def __init__(self, installer, port, state, headless):
        self.installer = os.path.abspath(installer)
        self.port = port
        self.state = os.path.abspath(state)
        self.headless = headless
        self.volume = os.path.join(self.state, "Volumes", "Demo HD")
        self.www = os.path.join(self.state, "www")
        self.data = os.path.join(self.state, "data")
        self.logs = os.path.join(self.state, "logs")
        self.pids = os.path.join(self.state, "pids")
        self.screenshots = os.path.join(self.state, "screenshots")
        self.app_data = os.path.join(self.data, "Halvery", "Corvantis Installer")
        self.install_log = os.path.join(self.app_data, "install_log.txt")
        self.launches = os.path.join(self.volume, demopkg.LAUNCH_RECORD)
        self.server = None
        self.xvfb = None
        self.wm = None
        self.display = None
        self.shots = []
        self.explained_receipts = False

    # --- state -----------------------------------------------------------------------------

    def kill_leftovers(self):
        """Ends the processes that an earlier invocation left running (by their recorded ids)."""
        expected = [("installer", "corvantis-installer"), ("wm", "jwm"), ("xvfb", "Xvfb"),
                    ("server", "server.py")]
        for name, token in expected:
            path = os.path.join(self.pids, name + ".pid")
            try:
                with open(path) as f:
                    pid = int(f.read().strip())
                with open("/proc/%d/cmdline" % pid, "rb") as f:
                    command = f.read().replace(b"\0", b" ").decode("utf-8", "replace")
            except (OSError, ValueError):
                continue
            if token not in command:
                continue
            say("Ending a leftover %s of an earlier run (pid %d)" % (name, pid))
            if name == "installer":
                stop_group(pid)
            else:
                stop_pid(pid)

    def prepare_state(self):
        if os.path.exists(self.state):
            if not os.path.exists(os.path.join(self.state, MARKER)):
                raise DemoError("%s exists and is not a demonstration state folder; "
                                "remove it or set CORVANTIS_DEMO_STATE" % self.state)
            self.kill_leftovers()
            shutil.rmtree(self.state)
        for folder in (self.volume, self.www, os.path.join(self.www, "downloads"), self.data,
                       self.logs, self.pids, self.screenshots, os.path.join(self.state, "receipts"),
                       os.path.join(self.state, "config"), os.path.join(self.state, "cache")):
            os.makedirs(folder, exist_ok=True)
        os.makedirs(os.path.join(self.state, "runtime"), mode=0o700, exist_ok=True)
        open(os.path.join(self.state, MARKER), "w").close()

    def url(self, name):
        return "http://127.0.0.1:%d/downloads/%s" % (self.port, name)

    def make_packages(self):
        downloads = os.path.join(self.www, "downloads")
        # 2.0.0 is offered as a zip archive holding the package of the same base name.
        package = os.path.join(self.state, "Corvantis-2.0.0.pkg")
        demopkg.make_package(package, "2.0.0")
        with zipfile.ZipFile(os.path.join(downloads, "Corvantis-2.0.0.zip"), "w",
                             zipfile.ZIP_DEFLATED) as archive:
            archive.write(package, "Corvantis-2.0.0.pkg")
        os.remove(package)
        demopkg.make_package(os.path.join(downloads, "Corvantis-2.1.0.pkg"), "2.1.0")
        demopkg.make_package(os.path.join(downloads, "Corvantis-2.2.0.pkg"), "2.2.0",
                             signer=OTHER_SIGNER)

    def offer(self, entries):
        """Makes the server offer the given (version, file name) pairs."""
        answer = [{"mac_installer_version": version,
                   "mac_installer_file": self.url(name),
                   "mac_app_version": version,
                   "mac_app_file": self.url("Corvantis-%s.app.zip" % version),
                   "force_update_mac": False} for version, name in entries]
        with open(os.path.join(self.www, "check-update.json"), "w") as f:
            json.dump(answer, f, indent=2)
            f.write("\n")

    # --- processes -------------------------------------------------------------------------

    def record_pid(self, name, pid):
        with open(os.path.join(self.pids, name + ".pid"), "w") as f:
            f.write("%d\n" % pid)

    def start_server(self):
        if port_answers(self.port):
            raise DemoError("something already listens on 127.0.0.1:%d; stop it or build the demo "
                            "for another port (CORVANTIS_DEMO_PORT=...)" % self.port)
        output = open(os.path.join(self.logs, "server.txt"), "w")
        self.server = subprocess.Popen(
            [sys.executable, "-u", os.path.join(HERE, "server.py"), "--port", str(self.port),
             "--root", self.www, "--seconds", str(DOWNLOAD_SECONDS)],
            stdout=output, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        output.close()
        self.record_pid("server", self.server.pid)
        deadline = time.monotonic() + 10
        while not port_answers(self.port):
            if self.server.poll() is not None or time.monotonic() > deadline:
                raise DemoError("the demo server did not start:\n" + read_text(
                    os.path.join(self.logs, "server.txt")))
            time.sleep(0.05)

    def start_xvfb(self):
        if shutil.which("Xvfb") is None:
            raise DemoError("Xvfb is missing; run scripts/setup.sh")
        reader, writer = os.pipe()
        output = open(os.path.join(self.logs, "xvfb.txt"), "w")
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(writer), "-screen", "0", "800x480x24", "-nolisten", "tcp"],
            pass_fds=(writer,), stdout=output, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        output.close()
        os.close(writer)
        self.record_pid("xvfb", self.xvfb.pid)
        number = b""
        deadline = time.monotonic() + 15
        os.set_blocking(reader, False)
        while not number.endswith(b"\n"):
            if self.xvfb.poll() is not None or time.monotonic() > deadline:
                os.close(reader)
                raise DemoError("Xvfb did not start:\n" + read_text(
                    os.path.join(self.logs, "xvfb.txt")))
            try:
                chunk = os.read(reader, 64)
                if chunk:
                    number += chunk
                    continue
            except BlockingIOError:
                pass
            time.sleep(0.05)
        os.close(reader)
        self.display = ":" + number.decode().strip()
        self.start_wm()
        # The pointer away from every button, so that no hover look shows in the screenshots.
        self.x("xdotool", "mousemove", "799", "479")

    def start_wm(self):
        """A small window manager gives the windows title bars; the demo works without one."""
        if shutil.which("jwm") is None:
            return
        output = open(os.path.join(self.logs, "wm.txt"), "w")
        self.wm = subprocess.Popen(["jwm", "-display", self.display, "-f",
                                    os.path.join(HERE, "jwmrc")],
                                   stdout=output, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        output.close()
        self.record_pid("wm", self.wm.pid)
        deadline = time.monotonic() + 10
        # The desktop number is an EWMH property that only a running window manager sets.
        while self.x("xdotool", "get_desktop")[0] != 0:
            if self.wm.poll() is not None or time.monotonic() > deadline:
                say("    (the window manager did not start; going on without it)")
                if self.wm.poll() is None:
                    stop_process(self.wm)
                self.wm = None
                return
            time.sleep(0.1)

    def stop_all(self):
        for process in (self.wm, self.xvfb, self.server):
            if process is not None and process.poll() is None:
                stop_process(process)
        for name in ("server", "xvfb", "wm", "installer"):
            try:
                os.remove(os.path.join(self.pids, name + ".pid"))
            except OSError:
                pass

    def environment(self):
        env = dict(os.environ)
        env.update({
            "PATH": os.path.join(HERE, "bin") + os.pathsep + env.get("PATH", "/usr/bin:/bin"),
            "XDG_DATA_HOME": self.data,
            "XDG_CONFIG_HOME": os.path.join(self.state, "config"),
            "XDG_CACHE_HOME": os.path.join(self.state, "cache"),
            "CORVANTIS_DEMO_STATE": self.state,
            "CORVANTIS_DEMO_VOLUME": self.volume,
            "QT_QPA_PLATFORM": "xcb",
        })
        if self.headless or not env.get("XDG_RUNTIME_DIR"):
            env["XDG_RUNTIME_DIR"] = os.path.join(self.state, "runtime")
        # Qt wants a UTF-8 locale for file names; the program shows English texts either way.
        env["LC_ALL"] = "C.UTF-8"
        if self.display:
            env["DISPLAY"] = self.display
        return env

    # --- X -------------------------------------------------------------------------------

    def x(self, *arguments, timeout=10):
        env = dict(os.environ, DISPLAY=self.display)
        try:
            result = subprocess.run(list(arguments), env=env, stdout=subprocess.PIPE,
                                    stderr=subprocess.PIPE, timeout=timeout)
        except subprocess.TimeoutExpired:
            return 124, ""
        return result.returncode, result.stdout.decode("utf-8", "replace")

    def visible_boxes(self, pid):
        status, output = self.x("xdotool", "search", "--onlyvisible", "--pid", str(pid),
                                "--name", "^%s$" % re.escape(TITLE))
        return [line for line in output.split() if line.strip()] if status == 0 else []

    def wait_for_box(self, pid, process, seconds=15):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            boxes = self.visible_boxes(pid)
            if boxes:
                return boxes[-1]
            if process.poll() is not None:
                break
            time.sleep(0.1)
        raise DemoError("the box did not appear on the screen")

    def screenshot(self, name):
        path = os.path.join(self.screenshots, name + ".png")
        status, _ = self.x("import", "-window", "root", path, timeout=30)
        if status != 0 or not os.path.exists(path):
            raise DemoError("the screenshot %s could not be taken" % path)
        self.shots.append(path)
        say("    screenshot: %s" % os.path.basename(path))

    def answer(self, window, answer, process):
        """Answers the box in window: YES, NO or CLOSE."""
        for attempt in range(3):
            if self.wm is not None:
                self.x("xdotool", "windowactivate", "--sync", window)
            else:
                self.x("xdotool", "windowfocus", "--sync", window)
            if answer == "YES":
                # NO is the default and has the focus; YES stands left of it.
                self.x("xdotool", "key", "--clearmodifiers", "shift+Tab")
                time.sleep(0.2)
                self.x("xdotool", "key", "--clearmodifiers", "space")
            else:
                self.x("xdotool", "key", "--clearmodifiers", "Escape")
            deadline = time.monotonic() + 5
            while time.monotonic() < deadline:
                if window not in self.visible_boxes(process.pid) or process.poll() is not None:
                    return
                time.sleep(0.1)
            say("    (the box is still open; trying again)")
        raise DemoError("the box could not be answered")

    # --- one run -------------------------------------------------------------------------

    def run(self, number, title, answers, shot_prefix):
        """Runs the installer once; answers maps a box text (or pattern) to YES or NO.

        Returns the list of what went wrong; a box that answers does not know is closed and
        counts as a failure."""
        say()
        say("== Run %d: %s" % (number, title))
        if os.path.exists(self.install_log):
            os.remove(self.install_log)
        output_path = os.path.join(self.logs, "installer-run%d.txt" % number)
        output = open(output_path, "w")
        # A session of its own, so that a hung run can be ended with the programs it started.
        process = subprocess.Popen([self.installer], env=self.environment(), stdout=output,
                                   stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                   start_new_session=True)
        output.close()
        self.record_pid("installer", process.pid)
        say("    installer started (pid %d)%s" % (process.pid, "" if self.headless else
                                                 " on display %s" % self.display))
        failures = []
        shot_number = [0]

        def shot(what):
            shot_number[0] += 1
            self.screenshot("%s-%d-%s" % (shot_prefix, shot_number[0], what))

        download_started = None
        download_shots = [1.2, 2.8] if self.headless else []
        timeout = RUN_TIMEOUT if self.headless else INTERACTIVE_TIMEOUT
        deadline = time.monotonic() + timeout
        handled = 0
        try:
            while process.poll() is None:
                if time.monotonic() > deadline:
                    raise DemoError("the installer did not finish within %d s" % timeout)
                log = read_text(self.install_log)
                if download_started is None:
                    match = re.search(r'Downloading  "(http[^"]*/downloads/[^"]*)"', log)
                    if match:
                        download_started = time.monotonic()
                        say("    download started: %s" % match.group(1))
                if (download_started is not None and download_shots
                        and time.monotonic() - download_started >= download_shots[0]):
                    download_shots.pop(0)
                    shot("downloading")
                boxes = box_texts(log)
                for text in boxes[handled:]:
                    handled += 1
                    reply = reply_for(text, answers)
                    say("    box: \"%s\"" % text.replace("\n", "\\n"))
                    if reply == "CLOSE" and text not in answers:
                        failures.append("unexpected box: %s" % text.replace("\n", " "))
                    if not self.headless:
                        say("      -> please answer %s in the box on your display" % reply)
                        continue
                    window = self.wait_for_box(process.pid, process)
                    time.sleep(0.5)  # let it paint
                    shot("box-" + box_name(text))
                    self.answer(window, reply, process)
                    say("      -> answered %s" % reply)
                time.sleep(0.05)
            status = process.wait(timeout=10)
        except BaseException:
            stop_group(process.pid)
            process.wait(timeout=5)
            raise
        say("    installer exited with status %d" % status)
        if status != 0:
            failures.append("the installer exited with status %d" % status)
        installer_output = read_text(output_path).strip()
        if installer_output:
            say("    installer's console output (the receipt tool's messages end up there):")
            for line in installer_output.splitlines():
                say("      " + line)
            if "No receipt for" in installer_output and not self.explained_receipts:
                self.explained_receipts = True
                say("      (\"No receipt ... found\" is the receipt tool saying that Corvantis is "
                    "not installed on that volume yet: the installer asks every volume.)")
        if os.path.exists(self.install_log):
            # The next run replaces the log; keep this one's.
            shutil.copyfile(self.install_log,
                            os.path.join(self.logs, "install_log-run%d.txt" % number))
        else:
            failures.append("no install log was written")
        return failures

    def wait_for_launch(self, version, seconds=10):
        expected = "Corvantis %s started" % version
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if expected in read_text(self.launches):
                return True
            time.sleep(0.1)
        return False

    def check_refusal(self, failures):
        """Run 3: the refusal box, nothing installed or launched, nothing left behind."""
        if "version: 2.1.0\n" not in read_text(os.path.join(self.state, "receipts",
                                                          demopkg.IDENTIFIER)):
            failures.append("the receipt no longer names version 2.1.0")
        if "Corvantis 2.2.0 started" in read_text(self.launches):
            failures.append("the refused Corvantis 2.2.0 was started")
        if NOT_SIGNED not in box_texts(read_text(os.path.join(self.logs,
                                                              "install_log-run3.txt"))):
            failures.append("the installer did not show the refusal box")
        return self.conclude(failures, "run OK: refused, 2.1.0 still installed")

    def check_run(self, version, failures):
        receipt = read_text(os.path.join(self.state, "receipts", demopkg.IDENTIFIER))
        if "version: %s\n" % version not in receipt:
            failures.append("the receipt does not name version %s" % version)
        if not os.path.isfile(os.path.join(self.volume, demopkg.EXECUTABLE)):
            failures.append("the product is not on the demo volume")
        if self.wait_for_launch(version):
            say("    product: Corvantis %s started" % version)
        else:
            failures.append("Corvantis %s was not started" % version)
        return self.conclude(failures, "run OK")

    def conclude(self, failures, success):
        """Counts leftover downloads as failures, reports all, says whether there were none."""
        left = [name for name in os.listdir(self.app_data) if name != "install_log.txt"] \
            if os.path.isdir(self.app_data) else []
        if left:
            failures.append("downloaded files were left behind: %s" % ", ".join(left))
        for failure in failures:
            say("    FAILED: %s" % failure)
        if not failures:
            say("    " + success)
        return not failures

    # --- the whole demonstration ---------------------------------------------------------

    def main(self):
        self.prepare_state()
        self.make_packages()
        self.start_server()
        say("Demo state folder: %s" % self.state)
        say("Update server:     http://127.0.0.1:%d (log: %s)"
            % (self.port, os.path.join(self.logs, "server.txt")))
        if self.headless:
            self.start_xvfb()
            say("Display:           Xvfb %s (boxes answered by xdotool, screenshots taken)"
                % self.display)
        else:
            self.display = os.environ["DISPLAY"]
            say("Display:           %s (you answer the boxes: YES to each question)" % self.display)

        self.offer([("2.0.0", "Corvantis-2.0.0.zip")])
        failures = self.run(1, "a new installation (nothing installed; offered: 2.0.0 as .zip)",
                               {LAUNCH_QUESTION: "YES"}, "run1")
        ok1 = self.check_run("2.0.0", failures)
        if not ok1:
            say()
            say("Run 2 is skipped: it needs the 2.0.0 that run 1 should have installed.")
            self.report()
            say()
            say("Demonstration FAILED (see above; logs in %s)" % self.logs)
            return 1

        self.offer([("2.0.0", "Corvantis-2.0.0.zip"), ("2.1.0", "Corvantis-2.1.0.pkg")])
        failures = self.run(2, "an update (2.0.0 installed; offered: 2.0.0 as .zip, "
                                  "2.1.0 as .pkg)",
                               {REPLACE_QUESTION: "YES", LAUNCH_QUESTION: "YES"}, "run2")
        ok2 = self.check_run("2.1.0", failures)

        ok3 = False
        if ok2:
            self.offer([("2.1.0", "Corvantis-2.1.0.pkg"), ("2.2.0", "Corvantis-2.2.0.pkg")])
            failures = self.run(3, "a package of another developer team (2.1.0 installed; "
                                   "offered: 2.2.0 as .pkg, signed by %s)" % OTHER_SIGNER[0],
                                {REPLACE_QUESTION: "YES", NOT_SIGNED: "CLOSE"}, "run3")
            ok3 = self.check_refusal(failures)
        else:
            say()
            say("Run 3 is skipped: it needs the 2.1.0 that run 2 should have installed.")

        self.report()
        say()
        if ok2 and ok3:
            say("Demonstration finished: all three runs OK.")
            return 0
        say("Demonstration FAILED (see above; logs in %s)" % self.logs)
        return 1

    def report(self):
        for number in (1, 2, 3):
            path = os.path.join(self.logs, "install_log-run%d.txt" % number)
            if os.path.exists(path):
                say()
                say("== Install log of run %d (%s)" % (number, path))
                say(read_text(path).rstrip("\n"))
        say()
        say("== What the system programs did (%s)" % os.path.join(self.logs, "system.txt"))
        say(read_text(os.path.join(self.logs, "system.txt")).rstrip("\n"))
        say()
        say("== Update server requests (%s)" % os.path.join(self.logs, "server.txt"))
        say(read_text(os.path.join(self.logs, "server.txt")).rstrip("\n"))
        say()
        say("== Product launch records (%s)" % self.launches)
        say(read_text(self.launches).rstrip("\n") or "(none)")
        say()
        if self.shots:
            say("== Screenshots (%d) in %s" % (len(self.shots), self.screenshots))
            for path in self.shots:
                say("    " + os.path.basename(path))
        else:
            say("== No screenshots (the boxes were answered on your display)")


# --- helpers -------------------------------------------------------------------------------

def read_text(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read()
    except OSError:
        return ""


def display_answers(display):
    try:
        return subprocess.run(["xdotool", "getdisplaygeometry"], env=dict(os.environ, DISPLAY=display),
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=10).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False


def port_answers(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.5):
            return True
    except OSError:
        return False


def stop_pid(pid):
    try:
        os.kill(pid, signal.SIGTERM)
    except ProcessLookupError:
        return
    for _ in range(50):
        try:
            os.kill(pid, 0)
        except ProcessLookupError:
            return
        time.sleep(0.1)
    try:
        os.kill(pid, signal.SIGKILL)
    except ProcessLookupError:
        pass


def stop_group(pgid):
    """Ends the process group that a run's installer leads (the installer and its children)."""
    for sig in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.killpg(pgid, sig)
        except ProcessLookupError:
            return
        for _ in range(30):
            try:
                os.killpg(pgid, 0)
            except ProcessLookupError:
                return
            time.sleep(0.1)


def stop_process(process):
    process.terminate()
    try:
        process.wait(timeout=5)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait(timeout=5)


def unescape(text):
    """Undoes the debug stream's escaping of a quoted string."""
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "t": "\t", "r": "\r"}.get(m.group(1), m.group(1)),
                  text)


def box_texts(log):
    """The texts of the boxes the log records, in order."""
    pattern = re.compile(r'Message displayed, title:  "(?:[^"\\]|\\.)*" , text:  "((?:[^"\\]|\\.)*)"')
    return [unescape(match.group(1)) for match in pattern.finditer(log)]


def reply_for(text, answers):
    for key, reply in answers.items():
        if (key.search(text) if hasattr(key, "search") else key == text):
            return reply
    return "CLOSE"


def box_name(text):
    if text == LAUNCH_QUESTION:
        return "launch-question"
    if REPLACE_QUESTION.search(text):
        return "replace-question"
    if text == NOT_SIGNED:
        return "not-signed"
    return "error"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--installer", required=True, help="the built corvantis-installer")
    parser.add_argument("--port", type=int, required=True,
                        help="the port of CORVANTIS_UPDATE_SERVER it was built with")
    options = parser.parse_args()

    state = os.environ.get("CORVANTIS_DEMO_STATE") or "/tmp/corvantis-demo"
    headless = not os.environ.get("DISPLAY") or os.environ.get("CORVANTIS_DEMO_HEADLESS") == "1"
    if not headless and not display_answers(os.environ["DISPLAY"]):
        say("demo: the display %s cannot be opened (X authority?); using Xvfb instead"
            % os.environ["DISPLAY"])
        headless = True
    demo = Demo(options.installer, options.port, state, headless)

    def terminated(signum, frame):
        raise KeyboardInterrupt
    signal.signal(signal.SIGTERM, terminated)
    try:
        return demo.main()
    except DemoError as error:
        say("demo: %s" % error)
        if os.path.exists(demo.install_log):
            say()
            say("== The install log so far (%s)" % demo.install_log)
            say(read_text(demo.install_log).rstrip("\n"))
        say()
        say("Demonstration FAILED (logs in %s)" % demo.logs)
        return 1
    except KeyboardInterrupt:
        say("demo: interrupted")
        return 130
    finally:
        demo.stop_all()


if __name__ == "__main__":
    sys.exit(main())

"""Runs the areafill program (AREAFILL_CLI) for the tests, in a folder of the test's own that is
also its HOME and holds its Preferences folder: to the end without a terminal, started for a
signal, or on a pseudo-terminal for the dialog. Images go in and out as TIFF files (tifffile)."""
import os
import pty
import select
import signal
import subprocess
import time

import tifffile

# tifffile's words for the kinds of image the tests write.
KINDS = {"grey": dict(photometric="minisblack"), "rgb": dict(photometric="rgb"),
         "greya": dict(photometric="minisblack", planarconfig="contig", extrasamples=[2]),
         "rgba": dict(photometric="rgb", extrasamples=[2]),
         "cmyk": dict(photometric="separated"), "lab": dict(photometric="cielab")}


class Program:
    def __init__(self, folder):
        self.folder = folder
        (folder / "home").mkdir(parents=True)
        self.env = {k: v for k, v in os.environ.items() if not k.startswith("AREAFILL_")
                    and k not in ("HOME", "XDG_CONFIG_HOME", "LD_PRELOAD")}
        self.env.update(HOME=str(folder / "home"), XDG_CONFIG_HOME=str(folder / "home/.config"))

    def command(self, args):
        args = [str(a) for a in args]
        return [os.environ["AREAFILL_CLI"], *args, *(["--prefs", "prefs"] * ("--prefs" not in args))]

    def __call__(self, *args, env=None, **how):
        return subprocess.run(self.command(args), cwd=self.folder, env={**self.env, **(env or {})},
                              stdin=subprocess.DEVNULL, capture_output=True, text=True,
                              timeout=240, start_new_session=True, **how)

    def start(self, *args):
        return subprocess.Popen(self.command(args), cwd=self.folder, env=self.env, text=True,
                                stdin=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                start_new_session=True)

    def measured(self, *args):
        """Runs to the end; returns the exit status, stderr and the peak memory in KiB."""
        child = self.start(*args)
        with child.stderr:
            err = child.stderr.read()
        _, status, usage = os.wait4(child.pid, 0)
        child.returncode = os.waitstatus_to_exitcode(status)
        return child.returncode, err, usage.ru_maxrss

    def write(self, name, image, kind="grey"):
        tifffile.imwrite(self.folder / name, image, **KINDS[kind])

    def read(self, name):
        return tifffile.imread(self.folder / name)

    def fill(self, image, mask, *args, kind="rgb"):
        """Fills in.tif with mask.tif; returns stderr and out.tif."""
        self.write("in.tif", image, kind)
        self.write("mask.tif", mask)
        done = self("in.tif", "-o", "out.tif", "--mask", "mask.tif", *args)
        assert done.returncode == 0, done.stderr
        return done.stderr, self.read("out.tif")

    def on_terminal(self, args, cues_and_keys):
        """Runs on a 40x100 terminal, typing each key once the screen shows its cue after the
        previous one (a key may be a function, called then, that returns the key); returns the
        exit status and everything the program wrote there."""
        pid, fd = pty.fork()
        if pid == 0:
            os.chdir(self.folder)
            os.system("stty rows 40 cols 100")
            os.execve(os.environ["AREAFILL_CLI"], self.command(args), {**self.env, "TERM": "xterm"})
        screen, seen, end = "", 0, time.monotonic() + 60
        while time.monotonic() < end:
            if select.select([fd], [], [], 0.02)[0]:
                try:
                    screen += os.read(fd, 4096).decode(errors="replace")
                except OSError:  # the program has ended and closed the terminal
                    break
            at = screen.find(cues_and_keys[0][0], seen) if cues_and_keys else -1
            if at >= 0:
                seen = at + len(cues_and_keys[0][0])
                key = cues_and_keys.pop(0)[1]
                os.write(fd, (key() if callable(key) else key).encode())
        else:
            os.kill(pid, signal.SIGKILL)
        os.close(fd)
        return os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]), screen

"""Runs the `orvit` program: one command at a time, read without blocking,
so that Blender stays responsive and the user can cancel."""

import os
import select
import shutil
import subprocess
import tempfile

from .scene_text import SceneError


def find_program(configured):
    """The `orvit` program: the path the preferences give, else on PATH."""
    if configured:
        if not (os.path.isfile(configured) and os.access(configured, os.X_OK)):
            raise SceneError(f"orvit program '{configured}' is not an executable file "
                             "(the add-on's preferences)")
        return configured
    found = shutil.which('orvit')
    if not found:
        raise SceneError("orvit is not on PATH: give its path in the add-on's preferences")
    return found


# What to do when orvit's OpenColorIO cannot read Blender's colour
# configuration (Blender 5's is newer than OpenColorIO 2.1 reads).
COLOUR_HINT = ("; start Blender with $OCIO naming a colour configuration orvit reads, such as "
               "Debian's Blender's (/usr/share/blender/datafiles/colormanagement/config.ocio)")


def error_line(text):
    """orvit's one-line error ("orvit: ..."), else the first line printed
    (its argument parser's complaint comes first, then a hint)."""
    lines = [line for line in text.splitlines() if line.strip()]
    own = [line for line in lines if line.startswith('orvit: ')]
    line = own[-1] if own else lines[0] if lines else ''
    if 'OpenColorIO configuration' in line and 'cannot be read' in line:
        line += COLOUR_HINT
    return line


class OrvitRun:
    """Runs `orvit` once for each of `commands` (argument lists after the
    program), one after another, stopping at the first that fails.

    `done` counts the lines starting with "frame " that `orvit render`
    prints, one for each frame finished; `error` is the failing command's
    last line on stderr (its one-line message); `last_output` the last line
    the commands printed on stdout.
    """

    def __init__(self, program, commands):
        self.program = program
        self.pending = list(commands)
        self.done = 0
        self.error = None
        self.last_output = ''
        self.cancelled = False
        self.process = None
        self.partial = b''
        self.stderr = None
        self._start_next()

    @property
    def finished(self):
        return self.process is None

    def _start_next(self):
        if self.error or self.cancelled or not self.pending:
            self.process = None
            return
        self.stderr = tempfile.TemporaryFile()
        argv = [self.program] + self.pending.pop(0)
        try:
            self.process = subprocess.Popen(argv, stdin=subprocess.DEVNULL,
                                            stdout=subprocess.PIPE, stderr=self.stderr)
        except OSError as e:
            self.error = f"cannot run '{self.program}': {e.strerror}"
            self.process = None
            return
        os.set_blocking(self.process.stdout.fileno(), False)

    def _read(self):
        while True:
            try:
                chunk = os.read(self.process.stdout.fileno(), 65536)
            except BlockingIOError:
                return
            if not chunk:
                return
            lines = (self.partial + chunk).split(b'\n')
            self.partial = lines.pop()
            for line in lines:
                text = line.decode(errors='replace')
                self.done += text.startswith('frame ')
                if text.strip():
                    self.last_output = text

    def poll(self):
        """Reads what the running command printed and starts the next when it
        has ended; returns True while commands remain."""
        if self.process is None:
            return False
        self._read()
        status = self.process.poll()
        if status is None:
            return True
        self._read()
        self.process.stdout.close()
        if status != 0 and not self.cancelled:
            self.stderr.seek(0)
            message = error_line(self.stderr.read().decode(errors='replace'))
            self.error = message or f"orvit exited with status {status}"
        self.stderr.close()
        self._start_next()
        return self.process is not None

    def wait(self):
        while self.poll():
            select.select([self.process.stdout], [], [], 0.2)
        return self

    def cancel(self):
        """Stops the running command; `orvit render` removes the image it had
        not finished."""
        self.cancelled = True
        if self.process is not None:
            self.process.terminate()
            self.process.wait()
            self.poll()


def run(program, arguments):
    """Runs one `orvit` command to its end; its one-line error is a SceneError."""
    result = OrvitRun(program, [arguments]).wait()
    if result.error:
        raise SceneError(result.error)
    return result.last_output
